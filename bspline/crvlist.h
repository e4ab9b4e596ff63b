// Small operations on a surface's curve list (the 2D curves that lie on it) and on object
// sets' trim information. A list is given by its first node; nodes never own their items.
#pragma once

#include "bspline/smake.h"

// Puts a 2D curve on a surface: sets its owner and, unless it is listed already, pushes a new
// node at the head of the surface's curves. Other curves, or a node that cannot be allocated
// (error state set), leave everything as it was.
void PutBsplToSurfCrvList(Bspline* curve, Bspline* surface);
// As PutBsplToSurfCrvList, the new node at the tail of the list.
void AppendBsplToSurfCrvList(Bspline* curve, Bspline* surface);
// A new node (the caller's current scope) for item at the tail of *list; null on failure.
BsplineList* AppendBsplToList(BsplineList** list, Bspline* item);
int GetNumCurvePieces(const BsplineList* list);
// Splits a list: the first n nodes become a's curves, the rest b's, owners set to match.
// n <= 0 gives everything to b and leaves a alone; a list of n nodes or fewer leaves b with none.
void PutCurveListToTwoBspl(Bspline* a, Bspline* b, BsplineList* list, int n);
// The surface's curves become first followed by second (joined in place), all owned by it.
// The surface's previous list is not freed.
void PutTwoCurveListsToBspl(BsplineList* first, BsplineList* second, Bspline* surface);
// Follows a surface reversed in one direction: each u coefficient (v when inV) becomes c minus
// itself, c = min + max of that direction.
void ReverseCurveListCoefi(BsplineList* list, double c, int inV);
// Each u coefficient (v when inV) becomes value * scale + shift.
void PropotionCurveListCoefi(BsplineList* list, double scale, double shift, int inV);
// Exchanges u and v of every 2D curve of the list.
void FlipCurveList(BsplineList* list);
// Frees the trim loops of n surfaces and clears their trims; the curves stay listed.
void DeleteTrimInfoOfBsplSet(Bspline** set, int n);
// Parameter box of the curves on their surface, clipped to the domain of the first curve's
// owner (no clipping when it has none). A null list leaves the outputs untouched.
void GetCurveListExtremes(BsplineList* list, double* umin, double* umax, double* vmin, double* vmax);

// ---- trim loops (the documented names are in surface/trimutils and surface/srfsnip) ---------
// 1 when a loop of the curve's owner holds this curve (IsTrimPiece).
int IsInTrimLoop(const Bspline* crv);
// Reverses every curve and the order of the loop, so it runs the other way
// (ReverseTrimCurveBsplines).
void ReverseTrimLoop(TrimList* loop);
// Puts subs[0 .. n-1] in the place of the curve in the trim loop of its owner that holds it, as
// ReplaceTrimCurveWithNSubs documents.
int ReplaceInTrimLoop(Bspline* curve, int n, Bspline** subs);
