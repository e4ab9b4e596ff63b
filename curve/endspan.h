// The end span next to a boundary of a curve or surface: made a single Bezier span, mirrored
// across the boundary, and the curvature-continuity vectors of an edge read from it. The work
// behind PutEndSpanOfObjToBpatch, Reflect3DVector1, Reflect3DVector2 (construct/extend) and
// MakeG2ReflecBspline (construct/crv2srf), documented there; here because the end-continuity
// fits of this floor read the reflected vector of a neighbouring curve's end.
//
// Boundary index edge: 0 u-minimum, 1 v-maximum, 2 u-maximum, 3 v-minimum; for a curve 0 is the
// start and 1 or 2 the end. The direction across an edge is u for edges 0 and 2 and for curves,
// v for edges 1 and 3.
#pragma once

#include "bspline/smake.h"

// The direction across an edge: 1 (v) for surface edges 1 and 3, else 0 (u).
int DirectionAcrossEdge(const Bspline* obj, int edge);
// Whether the edge lies at the minimum of its direction (edges 0 and 3; a curve's start).
bool EdgeAtMinimum(int edge);

// Inserts knots into obj in direction dir (u for curves) until the span next to the edge is a
// single Bezier span: the first interior knot (edges 0, 3) or the last one (other edges) is
// raised to multiplicity degree. Returns the number inserted (0 when there is no interior knot,
// a value <= 0 when none was needed); the error state tells of a failed insertion.
int InsertEndSpanKnots(Bspline* obj, int dir, int edge);

// The end span next to the edge as a new Bezier piece of obj (the other direction whole, obj
// not changed), or obj itself (*owned false) when the direction has no interior knot. Null on
// failure with the error state set.
Bspline* BezierEndSpan(Bspline* obj, int edge, bool* owned);

// o[k] = 2 b[k strideB] - a[k strideA], k < n, into contiguous outputs; z skipped when az is null.
// Does nothing for another null array or a negative stride.
void ReflectPointsThrough(const double* ax, const double* ay, const double* az, const double* bx,
                          const double* by, const double* bz, int strideA, int strideB, int n,
                          double* ox, double* oy, double* oz);
// o[k] = the mirror image of c[k] in the plane through b[k] perpendicular to b[k] - a[k] (c[k]
// itself when |b - a| <= 1e-10); inputs stride apart, outputs contiguous; z skipped when az is
// null (the plane then lies in x, y). Does nothing for another null array or a negative stride.
void MirrorInNormalPlanes(const double* ax, const double* ay, const double* az, const double* bx,
                          const double* by, const double* bz, const double* cx, const double* cy,
                          const double* cz, int stride, int n, double* ox, double* oy,
                          double* oz);

// The vectors from the edge's control points to the third control row of the Bezier end span
// mirrored in the plane through the edge row perpendicular to its first leg: for a surface a new
// non-rational 3D curve along the edge (the along direction's degree, knots and range); for a
// curve null, the one vector written to out (z 0 for a 2D curve). Null, out untouched, with
// the error state -2 when the direction has fewer than three control rows, or on failure. obj
// is never changed.
Bspline* EdgeReflectionCurve(Bspline* obj, int edge, double out[3]);
