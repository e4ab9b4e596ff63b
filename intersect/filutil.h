// Rolling-ball fillets along an intersection: a ball of radius r touching S1 at P1 and S2 at P2
// has its centre at P1 + r n1 = P2 + r n2 (unit normals Su x Sv, so the ball lies on the side
// both normals point to; callers orient the surfaces). Contact pairs are refined from points of
// an intersection trace (intersect/newtrace), a radius is set per node (constant or varying
// with arc length), a variable-radius trace is limited to where its fillet exists, and traces
// become pairs of curves on the two surfaces. The walks that trim a surface along such curves
// ask sorted crossing lists for their next crossing and close regions with box-side curves.
//
// A node's fillet parameter (its last double) holds its ball radius.
//
// Result codes of the refiners: 100 converged, 0 the iteration limit was reached (the last
// iterate is kept), -2 degenerate geometry or the limit reached with the last iterate clamped
// to a surface's parameter box.
#pragma once

#include "intersect/newtrace.h"
#include "surface/trimutils.h"  // TArrayList and TArrayNode: the trimming walks of the surface floor use them

struct Bspline;

// The fillet trace and the variable-radius search refine with the bracketed scheme; the
// older one stays for callers that ask for it by name.
// Moves the guess (u1, v1) on S1 and (u2, v2) on S2 onto a contact pair of the ball of radius r
// within tol (distance of the two centres). (nu1, nv1, nu2, nv2): a neighbouring trace node,
// which gives the marching direction where the normals are parallel. Steps are damped by the
// surfaces' curvature against r (ten steps of a tenth on flat ones), then full; every
// parameter keeps a bracket that shrinks when its step changes sign, and is clamped to its box.
int NewestRefineToFilletPoint(Bspline* S1, Bspline* S2, double r, double* u1, double* v1,
                              double* u2, double* v2, double nu1, double nv1, double nu2,
                              double nv2, double tol);
// The older scheme: the ball's tangent length ramped up over nine steps, halved steps where a
// parameter's step changes sign, at most 100 iterations.
int NewRefineToFilletPoint(Bspline* S1, Bspline* S2, double r, double* u1, double* v1, double* u2,
                           double* v2, double nu1, double nv1, double nu2, double nv2, double tol);
// Signed radius of normal curvature of each surface at its point, across the intersection
// (perpendicular to n1 x n2 in the surface's tangent plane); 3.37e38 where the surface is flat
// in that direction (curvature below 1e-6 of the inverse of the surfaces' size). Returns 0.
int GetRadiusOfCurvatureOfSurfaces(Bspline* S1, Bspline* S2, double u1, double v1, double u2,
                                   double v2, double* rho1, double* rho2);
// Moves (u1, v1) to the foot on S1 of the point of S2 at (a, b) ((b, a) when swap is -1) when
// the two points are farther apart than tol. Returns 0.
int RefineToExactPoint(Bspline* S1, Bspline* S2, double* u1, double* v1, double a, double b,
                       double tol, int swap);
void CopyCoord(double x, double y, double z, double* out);

// Sets every node's radius: mode 0 constant r0; 1 linear and 2 cubic with zero end slopes in
// arc length (points recomputed on S1), from r0 to r1 over the whole trace, or with split
// nonzero from r0 to r1 over nodes 0 .. k1 - 1, from there to r2 over k1 .. k2 - 1, and r2 from
// k2 on.
void SetRadiusArray(Bspline* S1, IntersectionTrace* trace, double r0, double r1, double r2,
                    int mode, int split, int k1, int k2);
// Refines every node of in with its radius (the refiner test1 selects) and appends each
// converged contact pair whose contact points do not turn back to out (caller-made, empty):
// parameters, with the point on S1 and the node's radius. out takes in's open flag; a closed trace of equal end radii is closed with
// CloseFilletIfClosed. 0, or -2 when a node cannot be allocated (out keeps what it has).
int NewFilletTrace(Bspline* S1, Bspline* S2, IntersectionTrace* in, IntersectionTrace* out,
                   double tol);
// Makes the first and last node of a closed fillet trace agree: each parameter takes the mean
// of its two values, except across the seam of a surface closed in that direction (ends more
// than half the range apart), where they go to the two ends of the range.
void CloseFilletIfClosed(Bspline* S1, Bspline* S2, IntersectionTrace* fillet);
// Limits a variable-radius trace to the stretch where the fillet exists inside the parameter
// box (16 doubles: u1, u2, v1, v2 minima, then maxima, then the domains): the first node from
// the head where the ball of rStart fits and the last from the tail where rEnd fits, with the
// points found between them and their outer neighbours by ExtrapolateIntersectionPt. *out is
// caller-made and empty. 0, or -2 when no start or end node exists, the last node where rEnd
// fits comes before the first where rStart does (no stretch: the walk from start to end would
// run off the trace), or memory ran out.
int SnipIntersectionForVarRadius(Bspline* S1, Bspline* S2, IntersectionTrace* in,
                                 IntersectionTrace** out, double rStart, double rEnd,
                                 const double* box, double tol);
// Searches ten points of the intersection from the outside node toward the inside one for the
// first where a ball of radius r fits inside the box: 1 with that point in made and the point
// before it in outside, 0 when none of the ten fits.
int ExtrapolateIntersectionPt(Bspline* S1, Bspline* S2, IntersectionTraceNode* outside,
                              IntersectionTraceNode* inside, IntersectionTraceNode* made, double r,
                              const double* box, double tol);
// The trace as a pair of cubic interpolants in the parameter planes of S1 (pair[0]) and S2
// (pair[1]), (v, u) for a surface whose swap is -1; each is put on its surface's curve list. A
// trace of one node gives point curves. 0, or -2 (nothing made) when an interpolation or an
// allocation fails or the trace has no node.
int CreateIntersectionCurves(Bspline* S1, Bspline* S2, IntersectionTrace* trace, Bspline* pair[2],
                             int swap1, int swap2);
// Rewrites the nodes' points and parameters into one continuous order (the backward nodes
// reversed, then the forward ones); links and radii stay. Returns 0.
int RearrangeIntersectList(IntersectionTrace* trace);

// ---- Sorted crossing lists and box-side curves ------------------------------------------------
// Among the entries from firstNode on that cross trimNode at trimParam - t > -1e-6 with a side
// other than excludedSide, the one of least trimParam (the first on ties): 1 with its
// trimParam, side, param and sortKey; 0 with nothing written.
int FindNextSnipParam(BsplineList* trimNode, TArrayNode* firstNode, double t, int excludedSide,
                      double* trimParamOut, int* sideOut, double* paramOut, double* sortKeyOut);

// The neighbour of the entry whose param is exactly t: with forward its successor (nothing
// written when it is the last, or when no entry has t), else its predecessor (the last entry
// for the head, and when no entry has t). Writes its param, trimParam, trim node and sortKey.
void FindNextFilParam(TArrayList* list, double t, double* paramOut, double* trimParamOut,
                      BsplineList** trimNodeOut, int forward, double* sortKeyOut);

// Sets the used flag of the first entry whose trimParam is exactly t; an empty list is left alone.
void MarkFilUsedField(TArrayList* list, double t);

// A straight 2D curve on side `edge` (0 u-min, 1 v-max, 2 u-max, 3 v-min) of the surface's
// parameter box, over the whole side (whole nonzero) or the stretch of it that (au, av) and
// (bu, bv) span in the other parameter. Orientation 1 runs edge 0 and 1 towards larger
// parameters and edges 2 and 3 towards smaller; any other orientation the other way. The curve
// is owned by the surface and appended to *list (started when empty) and to the surface's
// curve list; nothing is made when its ends coincide within 1e-4, and a list node that cannot
// be allocated stops it quietly.
void CreateBndryCurve(Bspline* surface, int edge, int orientation, BsplineList** list, double au,
                      double av, double bu, double bv, int whole);
