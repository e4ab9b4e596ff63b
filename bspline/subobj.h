// Sub-objects in the B-spline core: a piece of a curve or surface between two knot indices or
// two parameters of one direction, a direction reversed in place, and a wrapped (unclamped)
// direction clamped. The kernel's documented names for them (ExtractObjFromObj,
// ExtractObjFromObjGivenPar, ReverseObj, PutWrapedObjToNonWraped) live in the modules that
// document them and call these; their headers give the full contracts.
//
// A direction flag is 0 for u and nonzero for v; a curve always uses its u data.
#pragma once

#include "bspline/smake.h"

// One parameter direction of an object. Knot indices run 0 .. nCtrl + p; the domain is
// [knots[p], knots[nCtrl]].
struct KnotDirection {
  bool inV;
  int p;
  int interior;
  int nCtrl;
  double* knots;
  double lo;
  double hi;
};
// All zero (knots null; error state -2) for a record whose structure is not sound (bsvalid).
KnotDirection DirectionOf(const Bspline* obj, int dir);

// A sound record (bsvalid's BsplineSound) of degrees 1 and above: what the cuts can read.
bool HasPieceableForm(const Bspline* obj);

// Knots lowKnot .. highKnot of dir (both runs at full multiplicity) and the control points
// lowKnot .. highKnot - p - 1; the other direction whole, the owner kept. Null on failure.
Bspline* ExtractKnotRange(Bspline* obj, int dir, int lowKnot, int highKnot);

// The piece between t0 and t1 in dir (t1 < t0: running backwards); obj is never changed. An
// end within 1e-6 of the range of a knot (the nearer of two) or of a range end moves onto it
// where obj moves by no more than round-off of its size in between; elsewhere (beside a cluster
// of knots the object crosses) the piece ends at the value given.
// Null on failure (among them a record that is not sound, bsvalid, of degree 0, or a t0 or t1
// that is not a number); zk_error_status -9 for a piece shorter than 1e-6 of the range.
Bspline* ExtractParamRange(Bspline* obj, int dir, double t0, double t1);

// As ExtractParamRange, for callers that skip a piece too short to keep: 0 with the piece in
// *piece, 1 when it would be shorter than 1e-6 of the range (*piece null, error state left as
// it was), -2 on failure (*piece null, error state set).
int ExtractParamRangeUnlessShort(Bspline* obj, int dir, double t0, double t1, Bspline** piece);

// Reverses the parametrisation in place: a curve as reverseBspline, a surface in one
// direction with t -> (t[0] + t[last]) - t (copies beyond p + 1 that its round-off makes set
// apart again, SpreadOverfullKnotRuns), the curves on it following. A record whose
// structure is not sound (bsvalid's BsplineShapeSound) is left as it is, error state -2.
void ReverseDirection(Bspline* obj, int dir);

// Raises the domain ends of a wrapped direction to full multiplicity and drops the control
// points outside the domain (same shape, same control-point count); with average the first
// and last control point of every line become their mean. 8 converted, 0 already clamped,
// -2 on failure with obj unchanged.
int ClampWrappedDirection(Bspline* obj, int dir, int average);
