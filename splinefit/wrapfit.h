// Closed curves fitted by wrapping: a wrapped (unclamped) knot vector turned clamped.
#pragma once

#include "bspline/smake.h"

// Turns direction dir (0 u, 1 v; a curve with dir 1 has nothing to do) of obj from an
// unclamped knot vector into a clamped one over the same domain: the domain ends are raised to
// full multiplicity and the control points outside the domain are dropped, so the shape on the
// domain is unchanged and the control-point count stays. With `average` the first and last
// control point of every control line of the direction are replaced by their mean (weights
// excepted). 8 when converted, 0 when both ends were already clamped, -2 on failure with obj
// unchanged.
int PutWrapedObjToNonWraped(Bspline* obj, int dir, int average);

struct Cloud;

// Wraps the ordered points of the cloud in place for a closed fit: the points near the end are
// copied in front, the points near the start behind. The sequence is closed when its first and
// last points are within 1e-3 of the diagonal of the points' box; its middle copy then skips
// them. ncoef < 1: degree + 1 points at each end, params unused. ncoef >= 1: an open sequence
// first gets its
// first point appended; the wrap covers the parameter fraction degree / (ncoef - 1) at each end
// and *params receives a new array (3 n doubles, the caller frees it) of wrapped chord-length
// parameters rising through the seam. The cloud's x, y, z become new arrays (the old ones are
// freed) and its count the wrapped count. Returns the closed flag; 0 with zk_error_status -2 and
// the cloud untouched for fewer than degree + 1 points (or a degree below 1), 0 on memory
// failure.
int InitClosedCurve(Cloud* cloud, int degree, int ncoef, double** params);
// The wrapped layout of the cloud's points into x, y, z: P(n - nTail)..P(n-1), then P0..P(n-1)
// (closed: P1..P(n-2)), then P0..P(nHead-1); *count receives the wrapped count. Does nothing
// (*count untouched) for a null cloud or array, or nHead or nTail outside 0..n.
void MakeWrapedArrays(const Cloud* cloud, float* x, float* y, float* z, int nHead, int nTail,
                      int closed, int* count);
// Cuts a curve fitted to wrapped data back to one period starting at parameter 0: nWrap control
// points (one more at the start when the data were not closed) go at each end, the last degree
// control points are averaged with the first, the curve is clamped (PutWrapedObjToNonWraped,
// averaging its end points) and closedU becomes 3. Returns 8, -2 on failure (curve unchanged), or
// the remaining control-point count when it is below 1 (curve unchanged).
int EndClosedCurve(Bspline* curve, int nWrap, int closed);
