// Knot removal, the inverse of knot insertion: deletes knots of one direction from a curve, a
// surface or a set of compatible objects and recomputes the coefficients, either for given
// knots (mode 2) or, for a maximal set of knots, while the shape moves by no more than a
// tolerance (modes 3 and 4). Rational objects are edited in homogeneous form; their deviations
// and bounds are moves of the curve, the same whatever the scale of the weights.
#pragma once

#include "bspline/smake.h"

// Working record of maximal knot removal on one control line at a time. One block: Free(info)
// releases the record with every array in it.
struct RemoveInfo {
  int bestSpan;       // first sample span touched by the best candidate (full re-ranking only)
  int bestSpanCount;  // sample spans touched by it
  int degree;         // p of the removal direction
  int interior;       // current interior-knot count of the line (drops with every removal)
  double* x;          // the current control line, interior + order entries each; homogeneous
  double* y;          // (x w, y w, z w) for a rational line
  double* z;          // 3D only
  double* w;          // rational only
  double* knots;      // current knot vector of the line, interior + 2 order entries
  double* sx;         // the modified line at the samples, (interior + 1) samples entries each
  double* sy;
  double* sz;      // 3D only
  int* rerank;     // per candidate: 1 = its cost must be recomputed
  int* firstSpan;  // per candidate: first sample span its removal touches
  int* spanCount;  // per candidate: number of sample spans touched
  int* knotSpan;   // per candidate: last index of its knot in the current knot vector
  int* mult;       // per candidate: current multiplicity of its knot (at most order)
  int chosen;      // candidate being removed
  int remaining;   // candidates not yet removed
  int* slots;      // per candidate: its row of the elimination store
  double* values;  // candidate knot values, ascending
  double* costs;   // candidate removal costs
  // [slot][coordinate x, y, (z), (w)][order + 1]: the control points of the changed range
  // computed by the two-sided elimination of that candidate; sized from the degree.
  double*** store;
  // What the record was made for.
  int capacity;     // candidates
  int maxInterior;  // interior knots the rows and samples have room for
  int order;
  int samples;  // samples per span: order for a polynomial line (see SamplesPerSpan in the .cpp)
  int is3D;
  int rational;
};

// 1 (the maximal removal's setting): after a removal only the candidates near it are
// re-costed; 0: every candidate on every pass.
extern int globalTest;

// A record for `count` candidates on lines of `interior` interior knots and the given order,
// measured at `samples` points of each span (at least order). Null on allocation failure.
RemoveInfo* AllocateRemoveInfo(int count, int interior, int order, int samples, int is3D, int rational);
// Loads control line `line` of obj in direction dir (a curve: its only line) into the record:
// homogeneous rows, knots, degree and interior count; slots 0 .. count - 1, every re-rank flag
// set. The candidate values are the caller's to fill. 0, or -2 when the line does not fit.
int UpdateRemoveInfo(RemoveInfo* info, const Bspline* obj, int count, int line, int dir);

// Knot removal over n objects in direction dir (0 u, 1 v; curves use u):
//  mode 2: removes exactly the given knots (a value given r times loses r copies) from every
//          object; returns nknots. With *dev -1.0 on entry and one knot given, *dev receives
//          the deviation bound of that removal (largest over the control lines).
//  mode 3: removes a maximal subset of the candidates within tol; *dev receives the largest
//          deviation spent. Weights of a rational object stay positive: the last picks are
//          given up where their removal would take one to zero or below.
//  mode 4: as mode 3 without a tolerance: on each line the cheapest candidates go until at
//          most `keep` remain.
// Returns the number of knots removed; 0 when nothing was removed or on failure: an object
// that is not sound (bsvalid) or a candidate knot that is not finite (these two with the error
// state -2), a tolerance that is not finite, a deviation or result that overflowed. A forced
// removal recomputes the weights of a rational object: in mode 2 one that would leave a weight
// at or below zero is refused (error state -2, that object unchanged), in mode 4 the last picks
// are given up as in mode 3. After a removal the property blocks are cleared and any exact form
// other than a plane is dropped.
int RemoveKnotsOfObjSet(Bspline** objs, int n, int dir, int mode, double* knots, int nknots,
                        int keep, double tol, double* dev);
// Mode 2 for one object. A value stands for the knot nearest to it when that lies within 1e-6
// of the range (knots closer than that stay apart). 0, or -2 with the object unchanged: knots
// that are not interior knots of the object, or listed more often than they occur (message
// "Cannot remove knots which are not knots of the object."), a rational object whose removal
// would leave a weight at or below zero (error state -2), or memory.
int RemoveNKnotsOfObj(Bspline* obj, int dir, double* knots, int nknots, double* dev);
// Modes 3 and 4. cands null (or as long as the interior-knot count): every interior knot is a
// candidate, after close knots are merged (PutCloseKnotsToMultKnots at 1e-6 of the range; not
// when that would delete a control line of any object, nor in mode 3 when it would move an
// object by more than tol; what it moves them is spent from tol and counted in *dev, measured
// at samples of every span); a given list is overwritten with the removed knots in ascending
// order. A copy of a knot of multiplicity p + 1 costs at least the jump there. Returns their
// count.
int RemoveAMaximalKnotSetOfObjSet(Bspline** objs, int n, int dir, double* cands, int ncands,
                                  int mode, int keep, double tol, double* dev);
// Removes the knot nearest to t (an end knot only after the user agrees to take the nearest
// interior knot instead); *dev receives the removal's bound. 0, or -2.
int RemoveSpecifiedKnotOfObject(Bspline* obj, double t, int dir, double* dev);
// Merges knots closer than tol: interior knots that become a range end, and copies beyond
// multiplicity p, are deleted with one control line each (coefficients not recomputed).
// Returns the new interior-knot count, -2 on allocation failure.
int PutCloseKnotsToMultKnots(Bspline* obj, int dir, double tol, int* moved, int* deleted);
// In a sorted array, a value closer than tol to its predecessor takes its value; with
// keepEnds the last value stays and the values just below it within tol take it. 1 changed,
// 2 unchanged, 0 for n < 2, -2 with keepEnds when the whole range is below tol.
int PutCloseValToSameVal(double* values, int n, int keepEnds, double tol);
// Removes interior knots of direction dir of a surface strictly inside (lo, hi) (all of them
// when neither lies inside the range), by mode 4 with `keep` when keep >= 1, else by mode 3.
// With a positive angle the tolerance is also held to the deviation the two boundary rows
// allow for that tangent-plane angle. Returns the count removed, 0 when there is no
// candidate, -2 on failure. `reserved` is not read.
int CleanSurfaceToTangentPlaneTol(Bspline* srf, void* reserved, int dir, double lo, double hi,
                                  double tol, double angle, int keep, double* dev);
