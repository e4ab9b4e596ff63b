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
// to a surface's parameter box, and (error state -2, nothing moved) surfaces that are not sound
// (bsvalid) 3D surfaces, a null parameter or a number given that is not finite.
#pragma once

#include "intersect/newtrace.h"
#include "curve/crvintr.h"
#include "surface/trimutils.h"  // TArrayList and TArrayNode: the trimming walks of the surface floor use them

struct Bspline;

// The fillet trace and the variable-radius search refine with the bracketed scheme; the
// older one stays for callers that ask for it by name.
// Moves the guess (u1, v1) on S1 and (u2, v2) on S2 onto a contact pair of the ball of radius r
// within tol (distance of the two centres). (nu1, nv1, nu2, nv2): a neighbouring trace node,
// which gives the marching direction where the normals are parallel. Steps are damped by the
// surfaces' curvature against r (ten steps of a tenth on flat ones), then full; every
// parameter keeps a bracket that shrinks when its step changes sign (slowed to a quarter); where
// those steps run out of iterations off the boxes' edges, up to 60 relaxed steps follow (the
// share of the step that would have cancelled the last change of step, at most whole, at
// least a twentieth); where those run out too, Newton on the contact equations with the ball's
// cross-section through the guess's point on S1 finishes from the last iterate, its pair taken
// where the ball rounds that point (the point lies in the wedge from the centre to the
// contacts); where that fails, or the steps were held on a box's edge or met degenerate geometry
// on the way (beside a cone's apex they swing round the axis onto its rim), the ball of that
// point is grown from a thousandth of r at the guess, Newton with that cross-section at each
// radius, and taken on the same terms; every parameter is clamped to its box,
// except in a direction the surface is closed in (closed flag), where it goes on across the
// seam; a contact on the seam itself is given on the guess's side of it. A guess that is a
// contact pair within tol already, its contacts apart, is given back unmoved (100). A guess on
// a pole (a side a surface collapses to a point) starts on the meridian that leaves the pole
// toward the ball's contact, a millionth of the range off the pole; a step past a pole goes on
// through it, onto the meridian straight on, as far as it overshot. -2, the guess unmoved, for
// a radius that is not positive (no ball), and with the error state set for a tol that is not
// positive or spans the surfaces' size (any guess would be within it) or a value not finite.
int NewestRefineToFilletPoint(Bspline* S1, Bspline* S2, double r, double* u1, double* v1,
                              double* u2, double* v2, double nu1, double nv1, double nu2,
                              double nv2, double tol);
// The older scheme: the ball's tangent length ramped up over nine steps, halved steps where a
// parameter's step changes sign, at most 100 iterations; boxes, seams, poles and a guess that
// is a contact pair already as above.
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
// Refines every node of in with its radius (the refiner test1 selects), in running order along the
// branch (a trace marched both ways from its seed, its turn node set: the backward nodes from the
// last, then the seed and the forward nodes), and appends each converged contact pair to out
// (caller-made, empty): parameters, with the point on S1 and the node's radius. out takes in's open
// flag; a closed trace of equal end radii is closed with CloseFilletIfClosed. A pair is taken only
// where its ball fits (no surface bends toward the ball's centre more sharply than the ball) and its
// contact points do not turn back: against their last move, and from the first pair against the
// branch's step between the nodes (a contact point within ten times tol of the last one that moved,
// or within 1e-4 of the branch's step, neither moves nor turns; a node nearer the one before than
// 1e-3 of the branch's step on to the next stands beside it: its step gives the branch no way, and
// its contacts move only beyond that share). A node that itself steps back along the branch is
// passed over when its pair turns; a node that goes on has no ball of its own there (the refiner
// slid along the fillet to the ball of another place), as has a node whose refinement was held on a
// surface's edge and whose ball's cross-section (the plane across n1 x n2 through its centre) passes
// more than a quarter of the branch's larger step beside the node from it. A pair whose ball's
// cross-section passes its node farther than a quarter of that step (or than the shorter step) is
// checked against the node's own ball, whose cross-section runs through the node: where it has none,
// the node has no ball (before the first pair, else the fillet breaks off there); where its own ball
// fits and lies nearer, a pair aside by more than the shorter step is moved onto it. A node that
// the last pair's cross-section passes nearer than the step between them is covered by that pair:
// beside a collapsed side (a cone's apex, which a contact swings round while the centres run on in
// order) its pair does not turn back where its centre lies beyond that cross-section on the side
// the branch runs to. A node that gives no ball (the refiner's limit or degenerate geometry met on
// its way, the ball of another place) takes the ball continued from the
// last pair (before the first pair, from the next node's), its cross-section through the node,
// where that rounds the node's corner, fits and lies nearer the node than the refiner's pair. Where
// a contact point moves more than twice the branch's step, the ball refined halfway between the nodes (or,
// where its cross-section passes the halfway point aside and that point's own ball lies nearer, the
// latter; or the ball whose cross-section runs through the midpoint of the two pairs' centres) must
// lie between the two pairs, else the fillet breaks off there. Before a turn or a break is read, the
// pairs taken are seated anew on the balls continued back from the node's (each one's cross-section
// through its node) where each rounds its node's corner, fits, lies no farther from it and they run
// on unbroken into the node's pair: at a point the spine bends through (a hyperbola's vertex beside
// a cone's apex) two mirror-image balls lie as near a node. A turn or a break against the first
// pair: of the two, the pair farther from its node is the one without a ball. 0 when every node gave
// a pair; -2 when a node gave none (the refiner's limit, a contact beyond a surface's edge,
// degenerate geometry, a ball that does not fit, a ball away from the node, a break in the fillet):
// nodes before the first pair are passed over and after it the trace stops, so out holds one
// unbroken stretch of pairs, open; a message names the first node without a ball and the node the
// trace stopped at (places in in, from 1) and why. -2 (error state set, out keeps what it has) when
// a node cannot be allocated; -2 (error state set, out untouched) when in counts more nodes than its
// list holds.
int NewFilletTrace(Bspline* S1, Bspline* S2, IntersectionTrace* in, IntersectionTrace* out,
                   double tol);
// Makes the first and last node of a closed fillet trace agree on one contact pair: each
// parameter starts from the mean of its two values, except across the seam of a surface closed
// in that direction (ends more than half the range apart), where they go to the two ends of the
// range; the node is then refined onto the contact pair of the first node's radius there,
// holding the seam's parameters (or, off every seam, the parameter whose ends lie farthest
// apart). Where no contact pair is found the means stand. Both nodes' points are set to the
// closing point on S1.
void CloseFilletIfClosed(Bspline* S1, Bspline* S2, IntersectionTrace* fillet);
// Limits a variable-radius trace to the stretch where the fillet exists inside the parameter
// box (16 doubles: u1, u2, v1, v2 minima, then maxima, then the domains): the first node from
// the head where the ball of rStart fits (its pair converges inside the box, and no surface bends
// toward the ball more sharply than it) and the last from the tail where rEnd fits, with the
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
// reversed, then the forward ones); links and radii stay, and the direction-start count becomes
// the node count (one direction: a second call changes nothing). Returns 0.
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
// curve list; nothing is made when its ends lie within 1e-4 of the domain's ranges, and a list
// node that cannot be allocated stops it quietly.
void CreateBndryCurve(Bspline* surface, int edge, int orientation, BsplineList** list, double au,
                      double av, double bu, double bv, int whole);

// ---- Crossing lists of contact curves -----------------------------------------------------------
// A fillet's contact curves cross their surfaces' trim loops; the crossings, ordered along the
// first contact curve, tell where the trimmed region is walked and rebuilt. A list holds at most
// one entry of a kind within 1e-4 of a parameter; kind-2 parameters are carried proportionally
// from [srcLo, srcHi] onto [keyLo, keyHi] for their sort key.

// The crossings of cuttingCurve with every trim curve of surface (loops and curves in order),
// added to *list with their side codes against referenceCurve (side 0 without one). scratch
// may be null (a list of the call's own). 0 (also untrimmed); -2 when an
// intersection or an insertion ran out of memory (a list missing crossings is never passed on
// as complete).
int GetFilletCrvIntrList(Bspline* surface, Bspline* cuttingCurve, TArrayList** list,
                         CrvIntrList* scratch, Bspline* referenceCurve, int kind, double keyLo,
                         double keyHi, double srcLo, double srcHi, int swap, double tol);
// One trim curve's hits, classified (side 0 without a reference curve), sorted by their
// parameter on the cutting curve and inserted. 0, or -2 when memory ran out.
int InsertIntoTArrayList(CrvIntrList* hits, BsplineList* trimNode, Bspline* cuttingCurve,
                         TArrayList** list, Bspline* referenceCurve, int kind, double keyLo,
                         double keyHi, double srcLo, double srcHi, int swap);
// Inserts n entries in order of sort key, equal keys after the ones already there; an entry
// within 1e-4 of one of its kind is skipped. sides may be null (side 0). A node that cannot be
// made stops the insertion with the error state set.
void InsertIntoOrderedTArrayList(const double* params, const double* trimParams, const int* sides,
                                 BsplineList* trimNode, int n, TArrayList** list, int kind,
                                 double keyLo, double keyHi, double srcLo, double srcHi);
// 2 when the trim curve, just after trimParam, runs toward the side of the cutting curve where
// the reference curve's surface point at the matching parameter lies ((v, u) with swap -1);
// else 1. 0 (error state -2) when a curve is not a sound (bsvalid) curve on a 3D surface or a
// parameter is not finite.
int FindIfInOut(Bspline* trimCurve, double trimParam, Bspline* cuttingCurve, double param,
                Bspline* referenceCurve, int swap);
// Appends copies of the entries that are not withdrawn (trimParam -100) to the kind-1 or the
// kind-2 list (caller-made headers); the input stays. No memory stops the copying.
void SeparateTArrayLists(TArrayList* list, TArrayList* kind1List, TArrayList* kind2List);
// 1 when no two consecutive entries have the same side.
int CheckInOuts(TArrayList* list);

// ---- Point in trim with a boundary tolerance --------------------------------------------------
// Smallest distance in space from S(u, v) to the surface's trim curves; 3.37e38 without any.
double FindShortestDistanceFromTrimCurves(Bspline* surface, double u, double v);
// 1 inside the trimmed domain or within 1e-5 of the surface's size of a trim curve (the
// contact curves a fillet trims by lie on them); 1 for an untrimmed surface; else 0.
int IsPointInTrimOrBndry(Bspline* surface, double u, double v);
// The same on the loop samples of GetAllTrimArrays (far: a point outside the parameter box).
int IsPointInTrimOrBndryArrays(Bspline* surface, double u, double v, double*** us, double*** vs,
                               const double* far);

// ---- Fillet boundaries --------------------------------------------------------------------------
// The fillet box (16 doubles): entries 0..7 the admissible ranges on the extended surfaces, u1,
// u2, v1, v2 minima then maxima; 8..15 the unextended domains in the same order. A swap flag
// of -1 means that surface's pair is stored as (v, u). Edges: 0 u-min, 1 v-max, 2 u-max, 3 v-min.

// Extends the object at every side it is open at (curves and u: u-min then u-max; surfaces
// also v-min then v-max) by the larger of minLength and a sixth of its shorter end span; flags
// (u-min, u-max, v-min, v-max) are set where it was. A side that cannot be extended keeps the
// object and clears the error state. *object is replaced (the old one freed). Returns 0; -2
// (error state -2, *object and flags untouched) for an object that is not sound (bsvalid), null
// flags or a minLength that is not finite.
int ExtendObjectsInAllDir(Bspline** object, double minLength, int flags[4]);
// Fills the box: the unextended domains, and on the extended surfaces the domain (closed
// directions), the unextended range centred in the extension (degree 1), else the knots inside
// the added end spans. Nothing written (error state -2) when a record is not a sound (bsvalid)
// 3D surface or box is null.
void SetOrigNewMinMax(Bspline* S1ext, Bspline* S2ext, Bspline* S1, Bspline* S2, int swap1,
                      int swap2, double* box);
// Maps every node's parameters from the extended ranges to the unextended domains and clamps
// them into the surfaces' domains.
void ScaleCurveToOrigSurf(Bspline* S1, Bspline* S2, IntersectionTrace* trace, int swap1, int swap2,
                          const double* box);
// Clamps (u, v) into the surface's domain; with swap -1 a is v and b is u. A record whose
// structure is not sound (bsvalid) or that is no surface is left alone (error state -2).
void PutIfOutToBndry(Bspline* surface, double* u, double* v);
void PutIfOutToOrigSurfBndry(Bspline* surface, double* a, double* b, int swap);
// The fillet trace cut to the box into a new *out: the inside nodes, with the points where it
// enters and leaves the box (an exit point turning back is dropped). 0; 1969 when the inside
// count ends at 0 (no node inside); -2 when memory ran out (*out null).
int SnipCurveToBnd(Bspline* S1, Bspline* S2, IntersectionTrace* fillet, IntersectionTrace** out,
                   const double* box);
// Moves the point onto the box along the segment from the inside anchor a: 1 when moved, 0 when
// it lay inside (1e-4 slack). Bounds in the order u1, v1, u2, v2 (minimum, maximum), the other
// surface's coordinate of the same kind cut at its own bound when it passes it. 0, nothing moved,
// for a null argument.
int ExtrapolatePt(double* u1, double* v1, double* u2, double* v2, double au1, double av1,
                  double au2, double av2, const double* box);
// 100 when the point turns back against the trace at node (on either surface), else 0 (also
// without node or predecessor).
int CheckCrvDir(Bspline* S1, Bspline* S2, double u1, double v1, double u2, double v2,
                IntersectionTraceNode* node);
// Extends each end of an open curve on a surface that does not lie on an edge, by the
// surface's mean control-polygon length per parameter times the range the curve mostly spans;
// *extended 1 and the new (clamped) end points written then; the new curve takes the old one's
// place on the surface's curve list. 0, or -2 when an extension failed (the curve as far as it
// got), and (error state -2, nothing changed) for a curve that is not a sound (bsvalid) curve on
// a 3D surface or a null output.
int ExtendFilletToBndry(Bspline** curve, int* extended, double* startU, double* startV,
                        double* endU, double* endV);
// Trims the surface along the contact pieces (which 1: first surface of the box, else second):
// a closed piece becomes a loop of its own (a hole when the reference point lies on the side of
// its interior), a piece across a closed surface is closed by one side, an open surface is
// closed by the sides away from the reference curve. Mode 1 trims only where the contact ends
// on edges. Returns 0 (also when it decides not to trim).
int TrimOrigSurfaces(Bspline* surface, BsplineList* contact, Bspline* reference, int which,
                     int mode, int swap, const double* box);

// Cuts a curve at t into the parts before and after it, each keeping the owner: within tol of
// its end the curve itself is the first part (no second), within tol of its start the second
// (no first). false when the split failed (nothing made), also (error state -2) for a record
// that is not a sound (bsvalid) curve, a t or tol that is not finite or a null output. Shared
// with the trimmed-surface intersections.
bool SplitCurveAtParam(Bspline* c, double t, double tol, Bspline** first, Bspline** second);

// ---- Fillet surfaces and fillet trim loops ------------------------------------------------------
// t on `from` carried to `to` within the same knot span (contact curves of one trace share their
// knot structure). Nothing written (error state -2) for records that are not sound (bsvalid)
// curves, a `to` with fewer knots than `from`, a t that is not finite or a null out.
void GetFilletParamOtherCurve(Bspline* from, double t, Bspline* to, double* out);
// 1 when the piece's start, end and middle lie in its owner's domain and the middle inside its
// trimmed domain or on its trim curves.
int CheckIfFilletCurveSegmentInBounds(Bspline* piece);
// Cuts both contact curves at the listed crossings and builds a fillet surface between each pair
// of pieces inside both trimmed domains, pushed at the front of *surfaces; the entry keeps the
// pieces (pieceA, pieceB). A and B are consumed. The walk ends where a curve has no part left
// after a cut. 0, or -2 when a cut, copy or surface failed.
int GetFilletSurfaces(Bspline* A, Bspline* B, TArrayList* crossings, int firstFlag, int lastFlag,
                      BsplineList** surfaces);
// The contact pieces (pieceA for which 1, else pieceB) of the entries whose sort key lies between
// a and b, as copies owned by surface in a new list: forward for a < b, reversed and in reverse
// order for b <= a. Each taken piece is freed from its entry. 0, or -2 when a copy failed.
int FindIfAnyFilletCurve(Bspline* surface, TArrayList* pieces, double a, double b,
                         BsplineList** out, int which);
// Walks one new trim loop: along the old loops from crossing to crossing and along the contact
// pieces between them; the walked loops are released. 0 with *loop the new loop's curves (owned
// by the surface); -2 when a loop holding a crossing is missing (also released earlier in the
// walk), no side-1 crossing starts the walk, a walker finds nothing, the walk does not close
// within the list's entries, or a copy or split failed (pieces made stay on the surface).
int CreateFilletsWithTrim(Bspline* surface, TArrayList* crossings, BsplineList** loop,
                          TArrayList* pieces, int which);
