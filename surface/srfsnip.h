// Cutting objects into pieces along one parameter direction, and cutting the curves listed on
// a surface where their tangent turns sharply.
//
// A direction flag is 0 for u and nonzero for v; a curve always uses its u data. Two
// parameters are equal when they differ by less than 1e-6 of the direction's range. Pieces are
// taken by making the cut values knots of full multiplicity (degree + 1) and copying out the
// control points between them, so every piece is an exact part of the object.
#pragma once

#include "bspline/smake.h"

// ---- sub-objects ---------------------------------------------------------------------------
// 1 when t lies strictly more than the tolerance inside the direction's knot range, else 0.
int CheckIfParIsInternal(Bspline* obj, int dir, double t);

// A new int array (Malloc) in *indices of the low knot index of each of the n non-decreasing
// parameters (the span search continues from the previous one). With withEnds the array has
// n + 2 entries: 0 first, the index of the last knot last, the found indices between.
// Returns the direction's degree, or 0 when the allocation failed (error state set).
int GetLowKnotIndexArray(const double* pars, int n, Bspline* obj, int dir, int** indices,
                         int withEnds);

// The object made of knots lowKnot .. highKnot of direction dir (inclusive) and the control
// points lowKnot .. highKnot - degree - 1 of that direction; the other direction is copied
// whole. The caller makes sure both knot runs have full multiplicity. Closed flags, curves,
// trim loops, exact forms and property blocks are not copied; the owner is. Null on failure
// (error state set), also for indices that do not describe a piece of the object.
Bspline* ExtractObjFromObj(Bspline* obj, int dir, int lowKnot, int highKnot);

// The piece of obj between t0 and t1 in dir; t1 < t0 gives the piece running backwards. Values
// outside the range are taken at its ends. With both ends at the range ends the piece keeps the
// direction's closed flag. obj is never changed. Null on failure; a piece shorter than the
// tolerance (also after the ends were moved onto nearby knots, which they are only where the
// object moves by round-off in between: ExtractParamRange) sets zk_error_status to -9.
Bspline* ExtractObjFromObjGivenPar(Bspline* obj, int dir, double t0, double t1);

// Cuts obj at the n non-decreasing parameters into the caller's n + 1 slots. Slot i holds the
// piece that ends at pars[i] (the last slot the piece that ends at the range end); slots of
// values that are not cuts (at a range end, or within the tolerance of the value before) stay
// null, and the piece ending at the range end goes to the slot of the first value lying at
// that end. obj is not changed. 0 (also for n < 1, nothing touched); -1 when memory or the
// knot insertion failed (no piece left); -2 with zk_error_status -2 when no value is internal.
int SplitObjectToNObjects(Bspline* obj, int n, double* pars, int dir, Bspline** pieces);

// ---- tangent breaks --------------------------------------------------------------------------
// The angle between two 3-vectors in degrees, 0 to 180; 0 whenever |a.b| >= |a||b| (parallel,
// exactly opposite, or a zero vector).
double AngleBetweenVectors(const double a[3], const double b[3]);

// The interior knot values (each once, ascending) where the tangent of the curve's 3D image
// turns by at least `angle` degrees: a new array in *breaks (null when none) and its length in
// *count. Only knots that can carry a break are tested: every knot of a polyline, multiple
// knots otherwise. A 2D curve is measured through its owner surface. 0, or -2 for a surface,
// a 2D curve without owner, or memory.
int GetTanDiscontKnots(Bspline* curve, double angle, int* count, double** breaks);

// The curve cut at its tangent breaks: a new array of *nPieces new curves in parameter order,
// or 0 pieces and a null array when there is no break. The curve is not changed. 0 or -2.
int BreakCurveAtTanDiscont(Bspline* curve, double angle, int* nPieces, Bspline*** pieces);

// Puts subs[0 .. n-1] in the place of the curve in the trim loop of its owner that holds it
// (the curve itself is neither freed nor unlisted). 0 also when no loop holds the curve; -2
// for a surface, a curve without owner, a sub that is missing, a surface or owned by another
// surface, or when a list node cannot be allocated (the loop is then untouched).
int ReplaceTrimCurveWithNSubs(Bspline* curve, int n, Bspline** subs);

// Replaces a curve listed on its owner by its pieces between tangent breaks, in the owner's
// curve list and its trim loop, and frees the curve. Either the whole replacement is made or
// nothing changes. 0 or -2.
int ReplaceCrvBsplWithG1ContSubs(Bspline* curve, double angle);
// The same for every curve of the surface's curve list; stops at the first failure (curves
// already replaced stay replaced). 0, or -2 also for a null object or one that is no surface.
int ReplaceSrfCrvBsplWithG1ContSubs(Bspline* surface, double angle);
// The same for every surface among n objects (other objects are skipped). 0 or -2.
int ReplaceGroupSrfCrvBsplWithG1ContSubs(Bspline** objects, int n, double angle);

// Parameters from a to b over a break array of n >= 2 values (a knot vector, its end knots
// repeated): a and b are taken into the array's range and put in ascending order, and the
// per-span samples of GetNParValsPerSpan with k per span (k < 3 counts as 2) that lie strictly
// between them, more than 1e-6 of the range from both, are framed by a and b. With no sample
// between them, k values evenly spaced from a to b (just b when a = b). A new array in
// *samples (the caller frees it) and its length in *count; 0, or -2 (outputs null and 0) for a
// null array, n < 2 or memory.
int GetParSamplesInIntervals(const double* breaks, int n, int k, double a, double b,
                             double** samples, int* count);

// ---- Snipping a surface at an iso-parameter line --------------------------------------------
// The cut is u = t (uCut nonzero) or v = t; the low piece lies on the side of smaller
// parameters. Pieces, their curves and loops, and the side records' further nodes belong to the
// caller after a success (outside every tracking scope).

// One piece on a side of the cut: the surface, the curves that bound its outer loop (trimmed
// snips only; the nodes become the loop's), its outer loop, and the box of those curves.
struct SnipPiece {
  SnipPiece* next;
  Bspline* piece;
  BsplineList* curves;
  TrimList* loop;
  double umin, vmin, umax, vmax;
};

// The pieces on one side; the caller makes it with one zeroed piece node and a count of 1.
struct SnipSide {
  SnipPiece* first;
  int count;
};

// The two halves of srf in the first node of each side, each with the curves of srf that lie on
// it (a curve crossing the cut is cut there); a trimmed surface takes SnipTrimSurfaceBspline.
// A cut within the tolerance of a knot is made at the knot: the halves meet there, and the
// curves and loops are cut there too. A trimmed srf's holes that run the way of its outer loop
// are turned round in place before the cut (the region and the loops' flags the same).
// 1; 0 when the cut failed (t not inside the range, or srf not sound, bsvalid: the low side
// holds srf itself, the high side null); -2 when handing over the curves failed (nothing made is
// left), also, error state -2 and the sides untouched, for a 2D curve on srf that is not sound
// or of degree 0.
int SnipSurfaceBspline(Bspline* srf, double t, int uCut, SnipSide** low, SnipSide** high);
int SnipNoTrimSurfaceBspline(Bspline* srf, double t, int uCut, SnipSide** low, SnipSide** high);

// Hands the curves of srf (the first nCurves of its list) to the two halves, cutting those that
// cross the line; work receives each curve's crossing count (nCurves entries). 0 or -2.
int CheckAndSnipCurvesToSurfs(Bspline* srf, double t, int uCut, Bspline* lowPiece,
                              Bspline* highPiece, int nCurves, int* work);

// Cuts one 2D curve where it crosses the low piece's far edge on the cut line; the portions go
// to the piece of their side (owner, curve list) and to that side's list *lowList / *highList
// (new nodes at the tail, the caller's). For a trim piece, each stretch between two crossings is
// matched by a straight edge curve along the cut line on the other piece, put only in the other
// side's list (owner set, not on the curve list). The curve itself is not changed. 0 or -2.
int DivideCurveIntoPortions(Bspline* curve, Bspline* lowPiece, Bspline* highPiece, int uCut,
                            BsplineList** lowList, BsplineList** highList, int isTrimPiece);

// 1 when the curve's parameter box lies within [umin, umax] (uCut) or [vmin, vmax], 0.001 slack.
int CheckCurveBoundsUV(Bspline* curve, double umin, double umax, double vmin, double vmax, int uCut);
// 1 when x lies strictly between a and b (either order).
int IsBetweenTwoPoints(double a, double b, double x);

// Snips at the knot at or below the middle of the domain in the cut direction (never the range
// start); with trim loops, pieces that received no loop are freed (their node's surface null).
// 1, or -2 with the error state set: srf no surface, not sound (bsvalid) or of degree 0, or the
// snip did not make its pieces.
int SnipSurfaceIntoTwoParts(Bspline* srf, int uCut, SnipSide** low, SnipSide** high);
// Cuts srf into pieces of at most maxU x maxV control points, which end up appended to *list
// (srf's own node is taken off the list and srf freed when freeInput is set). 0 (also when srf
// fits already: list untouched), -2 on failure (error state set; also for a null srf or list,
// or a srf that is no surface). Either way the list covers srf's domain once:
// a first cut that fails, or whose pieces cannot all be listed, leaves the list as it was and
// srf not freed (a trimmed srf keeps the outer loop and hole directions the cut gave it: the
// same region); a later cut that fails leaves its piece listed whole.
int SplitSurfaceBspline(Bspline* srf, int maxU, int maxV, BsplineList** list, int freeInput);
// Unlinks and frees obj's node in *list: obj, or null when it is not listed.
Bspline* RemoveBsplFromBsplList(Bspline* obj, BsplineList** list);
// Drops a trim list that is one outer loop of curves on the domain's sides enclosing the
// domain (its own box); a loop along a side and back, enclosing nothing, stays. 0.
int RemoveOuterBoundaryTrimCurve(Bspline* srf);

// ---- Snipping trimmed surfaces --------------------------------------------------------------
// One crossing of a trim curve with the cut line as one side sees it: flag 1 the curve enters
// the side there, 2 it leaves; coord is the crossing's place along the line (v for a u cut).
struct SnipCrossing {
  SnipCrossing* next;
  BsplineList* curveNode;  // the trim curve's node in its loop
  TrimList* loop;          // written when the crossing is used
  int flag;
  double coord;
  double param;  // on the trim curve
  int used;
};
// Nodes in decreasing coord; a node equal to an existing one goes after it.
struct SnipCrossingList {
  SnipCrossing* first;
  int count;
};

// The trimmed path of SnipSurfaceBspline: every region a side's part of the trimmed area splits
// into becomes a piece of its own with its outer loop (a loop's side along the line, or a spike
// of it no wider than the tolerance, bounds no region beyond it: a piece without a loop holds
// nothing); loops and curves that do not cross the line go whole to the piece whose region
// holds them (where no region holds a sample of them, the first whose box does), a loop keeping
// its hole flag; a loop's end within the tolerance of the cut lies on the pieces' common edge.
// srf gets its boundary as outer loop when it has none, also when the cut fails. 1; 0 when the cut
// failed (as SnipSurfaceBspline; also, error state -2 and srf untouched, for domain fields lying
// outside the range of its knots); -2 with the error state set when the walk failed or never
// closed a region (no piece is left). Refused before anything changes (-2, error state -2, srf
// and the sides untouched): a curve as SnipSurfaceBspline refuses it, and a loop holding a curve
// that is no such sound 2D curve or has a control point farther outside the domain than the
// domain is wide (u) or high (v).
int SnipTrimSurfaceBspline(Bspline* srf, double t, int uCut, SnipSide** low, SnipSide** high);

// The crossings of a 2D curve with the line, in new arrays (Malloc, the caller's scope) of
// curve parameters, coordinates along the line, flags (2 low to high, 1 high to low) and kinds
// (3 inside the curve; at its start the side it runs into, at its end the side it comes from).
// As many crossings as the curve makes are recorded; a curve that comes down onto the line from
// the high side at one place and goes back up there makes none, nor one that dips within the
// tolerance past it and back over less than its parameter tolerance. 0, or -2 when memory ran out.
int FindCurveIntersectionParams(Bspline* curve, int uCut, Bspline* srf, double t, double** params,
                                double** coords, int** flags, int** kinds, int* count);
// The crossing lists of every trim curve of srf; both lists are emptied first. A loop's corner
// on the line is one crossing where the loop passes through it (on the side each curve lies
// on: the curve arriving at it from one side, the one leaving into the other) and none where
// the loop only touches the line there, a loop of one curve closing there alike. Crossings at
// one place along the line (1e-6 of the range) are ordered so that entering and leaving
// alternate along the line. 0 or -2.
int GetInOutListForTrimCurves(Bspline* srf, double t, int uCut, SnipCrossingList* lowList,
                              SnipCrossingList* highList);
// Inserts one curve's n crossings (ascending in coord) into the lists: kinds 1 and 3 into the
// low list with their flag, kinds 2 and 3 into the high list with the flag exchanged. 0 or -2.
int InsertIntoIn_Outlist(BsplineList* curveNode, SnipCrossingList* lowList,
                         SnipCrossingList* highList, const double* coords, const int* flags,
                         const double* params, const int* kinds, int n);
// Walks the side's regions along the trim loops and the line, one piece per region. 0 or -2.
int DivideTrimCurvesIntoPortions(Bspline* srf, SnipCrossingList* crossings, SnipSide** side,
                                 int uCut);
// 1 and the crossing on the curve with the smallest parameter above t, else 0.
int FindNextParam(BsplineList* curveNode, SnipCrossing* firstCrossing, double t, double* param,
                  int* flag, double* coord);
// The neighbour along the line of the crossing at coord (see the walk): of the crossing of
// *curveNode at *param when it is listed there, else of the first at coord.
void FindNextInParam(SnipCrossingList* crossings, double coord, double* coordOut, double* param,
                     BsplineList** curveNode, int leaving);
// 1 and the first unused entering crossing, else 0.
int FindNextMaxFromTop(SnipCrossingList* crossings, double* coord, double* param,
                       BsplineList** curveNode);
// Marks the first crossing of this parameter used and gives it the loop.
void MarkIsUsedField(SnipCrossingList* crossings, double param, TrimList* loop);
// The outer loop of every piece with collected curves.
void MakeOuterTrimOnAllSurfaces(SnipSide* side);
// Copies of the curves of srf that are not trim pieces, cut where they cross the line, to the
// pieces they lie on (of the pieces whose boxes hold a part, the one whose trimmed area holds
// most of its samples). 0 or -2.
int PlaceOtherCurvesOnSurfaces(SnipSide* low, SnipSide* high, double t, Bspline* srf, int uCut);
// Copies of every loop no crossing used, as a loop of the piece whose region holds it: of the
// pieces whose boxes hold it, the one whose trimmed area holds most of its samples. 0, or -2
// when memory ran out.
int PlaceOtherTrimCurves(SnipSide* low, SnipSide* high, SnipCrossingList* lowCrossings,
                         SnipCrossingList* highCrossings, Bspline* srf);
int IsTrimCurveUsedBefore(TrimList* loop, SnipCrossingList* lowCrossings,
                          SnipCrossingList* highCrossings);
// 1 and the piece whose box holds the given box (low side first, 0.001 of the piece's ranges
// slack; then the high side, 1e-6 of them), else 0.
int GetSurfaceForTheCurve(double umin, double umax, double vmin, double vmax, SnipSide* low,
                          SnipSide* high, Bspline** piece, SnipPiece** node);
