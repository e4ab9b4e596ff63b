// Trim loops of a surface: closed chains of 2D curves on its parameter plane that bound the part
// of the surface that exists. A loop's nodes are its own; its curves also stand in the surface's
// curve list, which owns them. Directions are 1 clockwise and 2 counter-clockwise, u to the
// right and v upwards. Point-in-trim tests count crossings of the upward vertical ray with the
// loops sampled as polylines (5 samples per knot span plus each curve's start).
#pragma once

#include "bspline/smake.h"

struct CrvIntrList;

// ---- Loops ----------------------------------------------------------------------------------
// The counter-clockwise loop of the four sides (u-min down, v-min right, u-max up, v-max left),
// hole 0, attached 1, not put in the trim list; its curves are pushed on the surface's curve
// list. Null on failure, the curve list as before.
TrimList* CreateSurfBoundaryAsTrimCurveBspline(Bspline* srf);
// Pushes the loop on the front of the trim list and sets its attached flag; a null loop changes
// nothing. Always 1.
int AddOrderedTrimCurve(Bspline* srf, TrimList* loop);
// With a null loop a new empty one (flags 0) is pushed on the front of the trim list; the curve
// is then appended to the loop unless the loop holds it already. The loop, null on failure.
TrimList* CreateTrimList(Bspline* srf, Bspline* curve, TrimList* loop);
// A straight 2D piece from (p0[0], p0[1]) to (p1[0], p1[1]) inserted in a loop after `node`
// and pushed on the surface's curve list. The first argument is not used. Null on failure,
// nothing changed.
Bspline* AddCurve2CurveList(int unused, const double p0[3], const double p1[3], BsplineList* node,
                            Bspline* srf);
// 1 when the trim list holds an attached loop that is not a hole.
int IsOuterTrim(const Bspline* srf);
// Of the outer loops after the first loop of the trim list, the last loses its attached flag
// and is handed back: 1; none: 0.
int IsPrevOutTrimInvalid(Bspline* srf, TrimList** out);
// 1 when a loop of the curve's owner holds this curve.
int IsTrimPiece(const Bspline* crv);
// 1 and the first loop (from `loops` on) holding this very node; else 0.
int GetTrimCurveOfTrimPiece(const BsplineList* node, TrimList* loops, TrimList** out);
int CountTrimCurves(const Bspline* srf);
// Direction of the loop by its rightmost interior sample (50 per curve): 1 or 2; -2 on an
// allocation failure or a loop without curves. A curve flatter in v than 1e-6 of srf's v range
// (1e-6 without srf) is read as horizontal; where one holds that sample, the sign of the sampled
// loop's area decides (the way it runs at its top sample for a loop of no area).
int FindTrimCurveDirection(Bspline* srf, TrimList* loop);
// Reverses every curve and the order of the loop, so it runs the other way.
void ReverseTrimCurveBsplines(TrimList* loop);
// Turns every hole (hole flag exactly 1) that runs the way of the first non-hole loop; none when
// a direction cannot be found (memory ran out: the error state is set).
void ReverseInnerRelToOuter(Bspline* srf);
// 1 when the 3D gap between successive curves (the last and the first included) exceeds tol.
int IsTrimCurveOpen(TrimList* loop, double tol);
// nu x nv inside flags of the uniform grid over the domain, u fastest.
void SetInOutTrim(Bspline* srf, int* flags, int nu, int nv);
// Frees the loop's nodes and the loop (not the curves).
void FreeUnattachedTrimcurve(TrimList* loop);
void FreeNewTrimcurve(TrimList* loop);

// ---- Point in trim --------------------------------------------------------------------------
// Samples of one curve: 5 (interior knots) + 6.
int TrimCurveSampleCount(const Bspline* crv);
// 1 inside or untrimmed, 0 outside (also when the samples could not be allocated, error set).
int IsPointInTrim(Bspline* srf, double u, double v);
// The same on samples of GetAllTrimArrays; `far` is not used.
int IsPointInTrimArrays(const Bspline* srf, double u, double v, const double* far, double*** us,
                        double*** vs);
// 1 when the upward ray from (u, v) crosses the loop's polyline an odd number of times.
int IsInTrimcurveArrays(const TrimList* loop, int count, double u, double v, const double* far,
                        double** us, double** vs);
int Curve2VertIntersectArraysCount(const Bspline* crv, int count, double u, double v,
                                   const double* us, const double* vs);
// Fills us[l], vs[l] for each loop l with per-curve sample arrays (Malloc, the caller's scope),
// each loop's polyline exactly closed. On failure the error state is set and later entries stay
// null.
void GetAllTrimArrays(const Bspline* srf, double*** us, double*** vs);
// Number of segments of the curve's polyline meeting the segment q0-q1.
int Curve2IntersectCount(const Bspline* crv, int count, const double q0[2], const double q1[2]);
// Number of polyline segments meeting the ray from q0 through q1.
int Curve2IntersectArraysCount(const Bspline* crv, int count, const double q0[2], const double q1[2],
                               const double* us, const double* vs);
// Segment p0-p1 against q0-q1 (OK) or the ray from q0 through q1; each polyline vertex belongs
// to the segment ending there; parallel segments (the sine of their angle below 1e-10) never
// meet.
int IsIntersectPlineOK(double p0u, double p0v, double p1u, double p1v, double q0u, double q0v,
                       double q1u, double q1v);
int IsIntersectPline(double p0u, double p0v, double p1u, double p1v, double q0u, double q0v,
                     double q1u, double q1v);

// ---- Snipping and self-intersection ---------------------------------------------------------
// Cuts each curve of a loop-ordered list back to the stretch between its intersections with
// its two neighbours (the last curve's next is the first); pieces replace the curves in the
// list and are appended to the owner's curve list, the replaced curves appended to *replaced.
// `orient` makes each piece start at the end next to the previous piece; `snapEnds` takes
// curves that do not meet to their nearer ends. 0 (also when `enable` is 0); -2 on failure
// (before any extraction the list is unchanged); -5 when a piece would be of zero length (the
// error state cleared).
int SnipTrimCurvesAtIntersections(BsplineList* list, BsplineList** replaced, int enable, int orient,
                                  int snapEnds);
// Moves a parameter lying closer than 1e-6 of the range to an end (but not at it) to 1.5 times
// that distance from the end (a curve whose structure is not sound, bsvalid, is left alone,
// error state -2). Always 0.
int AdjustSnipParameter(const Bspline* crv, double* t);
// The loop as one closed polyline (degree + 1 samples per span of each curve): 1 no crossing;
// -1 crossing, with the end points of the two crossing edges in u[4], v[4]; -2 on failure or
// when all four of those points are curve ends.
int IsTrimCurveLinearSelfIntersectPoints(TrimList* loop, double u[4], double v[4]);
// 1 when the loop's polyline crosses itself or is empty, 0 when not or memory ran out.
int IsTrimCurveLinearSelfIntersect(TrimList* loop);
// On a surface closed in u (else closed in v; SetObjClosed sets the flags first), puts a seam
// curve of a loop on the other side of the seam when that takes the crossing out of its loop:
// for the loops from `loop` on, each curve at one u (one v) lying on the seam, within 1e-4 of
// the range of umin or umax, is moved to the other end; the first move after which its loop
// no longer crosses itself (IsTrimCurveLinearSelfIntersect) stays and 0 is returned, every
// other move is undone. 0 also for a surface closed in neither direction; 1 when no move
// helped; -2 (curves as they were) when memory ran out.
int ModifyBndryTrimCurveForClosedSurfs(Bspline* srf, TrimList* loop);

// ---- Closing loops --------------------------------------------------------------------------
// The 3D gap tolerance of srf's loops: GlobalTrimGapTol, but at most a tenth of the diagonal of
// srf's control points (the global value's share of a part of unit size), so that the curves of
// a small part's loop are never taken for gaps and dropped. The loop closers below take it.
double TrimGapTolerance(const Bspline* srf);
// Joins or bridges the gaps of the loop (MakeTrimCurveContinuous), then drops pieces shorter
// than tol (RemoveTrimPiecesToTol): the bridges and the dropped curves into the two out lists
// (new nodes, newest first, the caller's); returns the dropped list.
BsplineList* TrimCurveMerge(Bspline* srf, TrimList* loop, BsplineList** inserted,
                            BsplineList** removed, double tol);
// Joins A's end and B's start at their mean (u, v) when their 3D gap on srf is at most tol: 1;
// else 0 with the two ends (clamped into the domain) in endA and startB; 0 with nothing written
// (error state -2) for a record that is not sound (bsvalid).
int IsTwoCurvePiecesMerged(Bspline* srf, Bspline* a, Bspline* b, double endA[3], double startB[3],
                           double tol);
// Bridges every gap wider than tol (the closing one too) by a straight piece: the list of the
// bridges, null when none or on failure (then nothing inserted).
BsplineList* MakeTrimCurveContinuous(Bspline* srf, TrimList* loop, double tol);
// Drops every curve shorter than tol in 3D that does not lie along a side; the next curve
// starts where the dropped one did. The list of the dropped curves.
BsplineList* RemoveTrimPiecesToTol(Bspline* srf, TrimList* loop, double tol);
// 1 when the curve is to be dropped (the next curve's start moved to its start), else 0.
int CheckObjSpanAndBlend(Bspline* srf, Bspline* crv, Bspline* next, double tol);
// Snaps ends closer than tol (but not coinciding) in every loop from `loops` on; the last loop.
TrimList* RemoveSelfIntersectionToTol(Bspline* srf, TrimList* loops, double tol);

// Makes a loop of the curves (snipped first when `snip` is non-zero, tested for self-crossing
// when `selfTest` is set), closes it within TrimGapTolerance and pushes it on the trim list: 0
// with *out. -1 (crossing, edges in cu, cv) or -2 refuse with *out null; a refused loop uses up
// the given list's nodes.
int ConstructTrimCurveList(Bspline* srf, BsplineList* curves, int hole, int selfTest, double cu[4],
                           double cv[4], int snip, int orient, int snapEnds, BsplineList** replaced,
                           TrimList** out);
// The same, closing the loop within gapTol (3D) instead: for curves known to meet end to end,
// whose short pieces are part of the loop, not gaps to drop.
// A loop walked along crossings meets end to end where the walk cut it: it is closed only over
// the round-off of the cuts, this share of its surface's size (ControlPointDiagonal).
inline constexpr double kWalkGapShare = 1e-9;
int ConstructTrimCurveListWithin(Bspline* srf, BsplineList* curves, int hole, int selfTest, double cu[4],
                                 double cv[4], int snip, int orient, int snapEnds, BsplineList** replaced,
                                 TrimList** out, double gapTol);
// Chains loose curves from curves[start] by nearest ends in (u, v), within GlobalTrimGapTol:
// a new list of the chain when it closes back on the start curve, else null. The chain's two
// ends go to endA and endB (the open end when it stops); used[] marks the curves taken. Null
// with the error state -2 and nothing written for start outside 0 .. count - 1 or a curve that
// is missing or not sound (bsvalid).
BsplineList* GetSiblingTrimCurveList(Bspline** curves, int start, int count, double endA[2],
                                     double endB[2], int* used);
// The loops' samples (as GetAllTrimArrays, without the closing replacements) with their surface
// points: per loop l, u[l], v[l], x[l], y[l], z[l] point at the loop's first curve's entry of
// per-curve arrays, each entry at the curve's first sample in flat arrays, and counts[l] at its
// per-curve sample counts; curvesPerLoop[l] and the totals are written. Blocks come from Malloc
// in the caller's scope. 1, or 0 when an allocation failed.
int GetAllTrimXYZArrays(const Bspline* srf, double*** u, double*** v, float*** x, float*** y,
                        float*** z, int* total, int* nCurves, int* nLoops, int* curvesPerLoop,
                        int** counts);

// ---- Sorted crossing lists and box-side curves ----------------------------------------------
// The records and the work behind FindNextSnipParam, FindNextFilParam, MarkFilUsedField and
// CreateBndryCurve (intersect/filutil documents them) and IsPoint2DInList (mesh/trianum), here
// because the trimming walks of this floor use them.

// One crossing of a cutting curve with a trim curve (a node of its own allocation).
struct TArrayNode {
  TArrayNode* next;
  TArrayNode* prev;        // kept by appends only (see the list)
  double param;            // on the cutting curve
  double sortKey;          // orders the list
  double trimParam;        // on the trim curve; -100.0 marks a withdrawn entry
  int kind;                // which cutting curve: 1 the first, 2 the second
  BsplineList* trimCurve;  // the trim curve's node in its loop (identity only)
  int side;                // 1 or 2: whether the trim curve runs into the kept side or out of it
  int used;                // 0 when made
  Bspline* pieceA;         // pieces of the cutting curve attached at this entry; null when made
  Bspline* pieceB;
};
// Caller-owned header: nodes ascending in sortKey. tail and the nodes' prev are kept only by
// appending, not by sorted insertion.
struct TArrayList {
  TArrayNode* head;
  TArrayNode* tail;
  int count;
};
// Frees every node and leaves the header empty.
void FreeTArrayNodes(TArrayList* list);

// Among the nodes from firstNode on that cross trimNode with trimParam - t > -1e-6 of the trim
// curve's parameter range (-1e-6 for a node holding no curve) and a side other than excludedSide,
// the one of least trimParam (the first on ties): 1 and its trimParam, side, param and sortKey; 0
// and nothing written when there is none.
int NextTrimCrossing(const BsplineList* trimNode, const TArrayNode* firstNode, double t,
                     int excludedSide, double* trimParamOut, int* sideOut, double* paramOut,
                     double* sortKeyOut);
// The neighbour of the node whose param is exactly t: its successor (forward; nothing written
// when it is the last or no node has t) or its predecessor (the last node for the head or when
// no node has t): its param, trimParam, trimCurve and sortKey.
void NeighbourCrossing(const TArrayList* list, double t, double* paramOut, double* trimParamOut,
                       BsplineList** trimNodeOut, int forward, double* sortKeyOut);
// Sets used on the first node whose trimParam is exactly t.
void MarkCrossingUsed(TArrayList* list, double t);

// A straight 2D curve on side `edge` (0 u-min, 1 v-max, 2 u-max, 3 v-min) of the surface's
// parameter box, over the whole side (whole nonzero) or over the stretch the two points span in
// the other parameter. Orientation 1 runs edge 0 up in v, 1 up in u, 2 down in v, 3 down in u;
// any other the opposite way. Owned by the surface, at the tail of *list and of its curve list;
// nothing for ends within 1e-4 of the domain's ranges or when a node cannot be allocated.
void MakeBoxSideCurve(Bspline* srf, int edge, int orientation, BsplineList** list, double au,
                      double av, double bu, double bv, int whole);

// 1 when the segment from p to the far point q crosses the closed polygon x, y (n points) an odd
// number of times; a crossing through a vertex counts once, on the edge that ends there. 0 for a
// null array.
int PointInPolygonByFarPoint(double px, double py, double qx, double qy, const double* x,
                             const double* y, int n);

// ---- Surface portions bounded by a chain of curves ------------------------------------------
// A chain is a list of 2D curves of one surface in order; it runs from its first curve's first
// control point to its last curve's last control point. Portion polygons are closed polylines in
// (u, v) tested against a far point outside the parameter box.

// Trims the chain's owner to the portion the pick point (pu, pv) selects. A closed chain (ends
// within GlobalTrimGapTol, at most a tenth of the parameter rectangle's diagonal) becomes a hole
// when the pick lies outside it, else an outer loop; an open chain must run from a side of the
// parameter box to a side (0.001 of the parameter's range), and the box sides that close the picked
// portion are added to it. A surface with trim loops first has the portion cut out of them; a loop
// walked so meets end to end and is closed within kWalkGapShare of the surface's size, its short
// pieces kept. Returns ConstructTrimCurveList's result (0, -1, -2); A closed chain crossing the trim
// loops leaves the old region within it (pick inside) or without it (pick outside; an outer loop
// when the chain crossed the outer loop, else a hole). -2 for a null chain, an open chain whose ends
// are not on the box, a picked side that the chain splits into pieces one loop cannot bound, or on
// failure. The chain's nodes are used up on every return, as ConstructTrimCurveList's: the loop's on
// success, freed on a refusal; the caller frees none of them. Its curves stay the surface's.
int ConstructSurfBndryPortionTrim(BsplineList* chain, float pu, float pv, int hole, int selfTest,
                                  double cu[4], double cv[4], int snip, int orient,
                                  BsplineList** replaced, TrimList** out);

// The portion of a trimmed surface: the chain is cut at its crossings with the trim loops (a
// chain curve along a side of the parameter box lies on the surface's boundary and crosses
// none) and one closed loop is walked along the loops and the chain; *chain becomes that
// loop's curves (the old chain's curves are freed): the region's part inside the polygon (keep
// 0) or outside it (keep 1). Loops no crossing touches are kept or freed by where they lie
// against the polygon (keep 1: those inside are freed; 0: those outside). The walked loops are
// released at the end (their curves freed, or appended to *curveList when given).
// 0 (also when nothing crosses: nothing changed but the loops' fate), -2 for a surface without
// trim loops, a walk that cannot close, a kept side in pieces (a crossing the closed walk never
// reached), or on failure. *chain stays the caller's list on -2
// too (with any bridges put in it, or already the walked loop's curves).
int ConstructTrimmedSurfBndryPortionTrim(Bspline* srf, BsplineList** chain, const double far[2],
                                         const double* polyU, const double* polyV, int keep,
                                         BsplineList** curveList, int nPoly);
// The crossings of one chain curve with every trim curve of srf into the list (intersections
// within tol, classified against the polygon). 0, or -2 when an intersection failed.
int GetCrvIntrList(Bspline* srf, Bspline* chainCurve, TArrayList* list, CrvIntrList** scratch,
                   const double* polyU, const double* polyV, int nPoly, const double far[2],
                   int flag, double tol);
// The hits of one chain curve and one trim curve, sorted by chain parameter, classified and
// inserted in order. 0, or -2 when memory ran out.
int ShoveIntoTArrayList(CrvIntrList* hits, BsplineList* trimNode, Bspline* chainCurve,
                        TArrayList* list, const double* polyU, const double* polyV, int nPoly,
                        const double far[2], int flag, Bspline* srf);
// 1 when the trim curve runs into the polygon just after param (flag set: out of it), else 2
// (also, error state -2, for a curve that is not sound, bsvalid).
int FindIfInOutSurfPortion(Bspline* trimCurve, double param, const double* polyU,
                           const double* polyV, int nPoly, const double far[2], int flag);
// Inserts n sorted crossings of one chain curve (kept in the entries' pieceA) and one trim curve
// in order of sort key, skipping one within 1e-4 of the chain curve's parameter range of an entry
// of the same chain curve and tag.
void ShoveIntoOrderedTArrayList(const double* params, const double* trimParams, const int* kinds,
                                BsplineList* trimNode, Bspline* chainCurve, int n,
                                TArrayList* list, int tag);
// Walks one closed loop of the portion: *loopCurves receives its curves (owned by srf). The
// walked trim loops go to *released (null: not reported). The chain is taken as closed: the
// walk comes round from its last crossing to its first. 0, or -2 when a crossing has no loop,
// or the walk does not come back to its start within one visit of every crossing.
int CreateSurfPortionWithTrim(Bspline* srf, TArrayList* list, BsplineList* chain,
                              BsplineList** loopCurves, TrimList*** released, int* nReleased);
// The chain between the crossings at chain parameters p0 and p1, in that direction, as new
// curves owned by srf appended to *out. A parameter may name several crossings (sides of a
// chain over one parameter range cross at equal parameters): the pair taken is one of
// neighbours along the closed chain, as the walk takes them, first one whose p0 end is marked
// used and p1 end not, then the one whose p0 end lies nearest the end of *out's last curve, then
// the one running the way chain order gives; without such a pair, the first crossings of the
// two parameters in chain order. The first new node, or null when a parameter is not in the
// list or on failure.
BsplineList* FindIfAnyPortionCurve(Bspline* srf, BsplineList* chain, TArrayList* list, double p0,
                                   double p1, BsplineList** out);

// ---- Trim loop search among loose curves ----------------------------------------------------
// Turns a surface carrying loose 2D curves into trimmed surfaces: the curves are cut at their
// meetings, curve ends within GlobalTrimGapTol in (u, v) are linked, every closed cycle of
// curves is found, the cycles holding the pick points (the smallest around each) become outer
// loops, cycles inside them holes (of nested holes the outer one), and picked cycles sharing a
// curve are merged. *nOut surfaces come back in the new array *out (Malloc, the caller's): the
// given surface first, then copies without curves or trims holding the copies of their loops'
// curves. Curves listed in *removed take no part; replaced and dropped curves are appended to
// it (new nodes, the caller's). 0; -2 for a null surface, no usable curve, no cycle, or on
// failure. The trim list the surface had is replaced only once everything else is made, so a
// failure leaves it in place (with its curves cut where others met them).
int FindAllTrimLoops(Bspline* srf, int nPicks, const float* pu, const float* pv, int* nOut,
                     BsplineList** removed, Bspline*** out);
// Cuts the curves of srf not in *removed where they meet (pairs of two trim pieces apart),
// after dropping (freeing) curves that overlap an earlier one, and cuts closed or self-crossing
// curves without meetings at their middle; cut curves are replaced by their pieces. 0 or -2.
int SnipSurfCurvesAtIntersects(Bspline* srf, BsplineList** removed);
// The pieces (n slots, null ones skipped) take the curve's place: owner set, appended to the
// owner's curve list, and in every loop of the owner that holds the curve in its place, in
// order. The curve is appended to *removed and stays listed. 0; -2 for a curve without owner,
// no piece, or when memory ran out (nothing changed).
int ReplaceCurveWSubs(Bspline* curve, int n, Bspline** pieces, BsplineList** removed);
// 1 when the curve is listed in removed.
int IsRemovePiece(const Bspline* curve, const BsplineList* removed);
// 1 when the curve's sampled polyline (degree + 1 samples per span) crosses itself between
// segments that are not neighbours, 0 when not, -2 when memory ran out.
int IsCurveSelfIntersecting(Bspline* curve);
