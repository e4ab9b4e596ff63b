// All intersections of two curves of one kind (two 3D curves, or two 2D curves on one surface):
// recursive subdivision over Greville intervals, pruned by margin-enlarged boxes (exact: the
// boxes of each interval's Bezier control points), each surviving pair of intervals searched
// through by halving until its pieces can meet at most once, each such pair refined to an exact
// meeting point, duplicates dropped. Also the overlap test of two curves and a curve's length as
// a fine polyline.
#pragma once

#include "bspline/smake.h"

// One intersection: the parameters on the first and on the second curve.
struct CrvIntrNode {
  CrvIntrNode* next;
  CrvIntrNode* prev;
  double t1;
  double t2;
};

// Intersections in rising order of the first curve's parameter. The caller owns the head and
// every node.
struct CrvIntrList {
  int count;
  CrvIntrNode* first;
  CrvIntrNode* last;
};

// Frees every node of the list and leaves it empty (count 0, no nodes); the head stays, to be given
// to CrvIntersect again. Nothing for null.
void ClearCrvIntrList(CrvIntrList* list);
// Frees the list's nodes and its head. Nothing for null.
void FreeCrvIntrList(CrvIntrList* list);

// Every meeting of the two curves, into *list (a new head when *list is null; a given head is
// taken as empty). Each pair of Greville intervals whose boxes meet is halved (both pieces at
// once) until the convex hulls of the pieces' control points are apart, or their tangent cones
// admit at most one meeting, which a refinement from the middle of the pair finds; so every
// transversal crossing is listed, two crossings closer than 1e-3 of the curves' size excepted
// (pieces that small are refined once from their middle). A refinement follows the closest
// pair to the end (touching curves and crossings at any angle down to round-off included) and
// finishes with Newton steps on the crossing. Curves with weights not all positive are refined
// once per pair of Greville intervals. Two meetings count once only when they lie within 1e-3
// of the size of each other in space and the curves stay together between them (the short way
// round a curve whose ends meet, across that point; never by parameter distance, so the answer
// does not depend on the parametrisation); of the two the pair with the smaller gap is kept. The
// two ends of one stretch are two meetings, though a closed curve running along itself ends the
// stretch where it starts. A curve that turns back along the other (a polyline's corner on it,
// or inside a span where its speed vanishes, its control points folded back along the other)
// shares a stretch each way, the turn an end of both. Where the curves coincide (within 1e-11 of
// the size, or of 7e-15 of their largest coordinate where they lie far from the origin, over a length of at least 0.05
// of the size, or of 1e-3 where the stretch ends at both ends where a curve ends or at a knot)
// the two ends of that stretch are listed, and its pairs and the points on it (or within that gap
// of an end) are passed over.
// An end is exact: where a curve ends, at the knot of either curve where they part (pieces
// that coincide over any length coincide over their whole spans), or where one turns back; a listed end is not replaced
// by a point of the stretch beside it. The search runs on copies of the curves moved to
// their centre and scaled to unit size, so that its answers do not depend on the unit of length
// or the placement: a refined pair meets when its gap is below 1e-7 of the larger curve's box
// diagonal (2D curves: in their parameter plane). The list
// always gets one node, unused when the count is 0. 0; 99 when checkOverlap is set and the
// curves overlap (FindIfTwoCurvesOverlap with tol, or a stretch where they coincide, partly
// as it may be; the list untouched and no head made); -2 when memory ran out (intersections
// recorded so far stay listed), and -2 with the list untouched for a curve that is not sound
// (bsvalid) or, with checkOverlap, a tol that is negative or not finite.
int CrvIntersect(Bspline* curve1, Bspline* curve2, CrvIntrList** list, double tol, int checkOverlap);

// 1 when the curves run along each other: samples of the shorter curve lie within 5 tol L of the
// longer and their mean squared distance is below tol L (L the shorter length); curves of
// different dimension count as overlapping. Else 0, also (error state -2) for a record that is
// not sound (bsvalid).
int FindIfTwoCurvesOverlap(Bspline* curve1, Bspline* curve2, double tol);

// Length in model space of the polyline through 5 points per knot span and the end; 0 with the
// error state set for a curve that is not sound (bsvalid) or whose length overflows.
double FindCurve3DLength(Bspline* curve);

// Newton iteration for the crossing of two 2D curves in their parameter plane, from (t1, t2),
// each step halved until the gap falls and clamped to the ranges; maxIter is the least count,
// the iteration goes on while its step shrinks. 0 when the gap ends below 1e-7 of the curves'
// parameter-plane size, -2 otherwise (parallel tangents, no crossing near, maxIter < 1); t1,
// t2 and gapSq (squared) hold the last pair. -2 with the error state set and nothing written for
// a curve that is not sound (bsvalid).
int RefineCurve2IntersectionPoint(Bspline* curve1, Bspline* curve2, double* t1, double* t2,
                                  double* gapSq, int maxIter);
