// Sizes and bounds of objects that the B-spline core needs for its tolerances: the parameter
// box of a curve on a surface, the box and diagonal of an object's control points, and the
// deviation allowed next to a boundary when knots are removed. The kernel's documented names
// (GetCurveOnSurfMinMaxSurfParams, GetCPTValueExtent, GetGeometricDiagonalSizeOfObj,
// GetShortestCntrlPair, GetMaxCurveDeviation, GetBndryDeviation) live in the modules that
// document them and call these.
#pragma once

#include "bspline/smake.h"

// Box of the 2D curve's (u, v) points at 0, 0.2, .., 0.8 of every knot span and at the domain
// end, evaluated without a surface (so without clamping). A curve whose structure is not sound
// (bsvalid) leaves the outputs untouched, error state -2.
void CurveOnSurfParamBox(const Bspline* curve, double* umin, double* umax, double* vmin,
                         double* vmax);

// Box of the control points (weights not applied); a 2D curve with an owner gives the box of
// its control points mapped onto the owner, without one its (u, v) box with z 0. Empty bounds
// are +/-kEmptyBoxBound: also the box of a record whose structure is not sound (bsvalid; error
// state -2).
void ControlPointBox(const Bspline* obj, double lo[3], double hi[3]);
// The diagonal length of that box: the kernel's scale for tolerances; 0 for an empty box.
double ControlPointDiagonal(const Bspline* obj);
// The diagonal of the box of the control points of all n objects (null entries skipped; 0 when
// there are none): the scale of a set of curves, such as the rows of a skin.
double ControlPointSetDiagonal(Bspline* const* objs, int n);

// d N_i(g_i): the deviation d weighted by basis function i of degree p over the knots of n
// control points, at i's Greville abscissa g_i. 0 for a degree outside 1..kMaxSplineDegree
// or i outside 0..n-1.
double GrevilleDeviation(const double* knots, int p, int n, int i, double d);

// The corresponding control-point pair of two 3D curves of equal control-point count with the
// smallest distance (ties: the later index). 0, or -2 when the curves do not correspond.
int ShortestCtrlPair(const Bspline* a, const Bspline* b, int* index, double* dist);

// Deviation allowed next to the boundary curve bnd for a tangent-plane angle in degrees:
//   tan(angle) x (shortest corresponding control-point distance to next) / 2,
// weighted by next's basis function at that control point's Greville abscissa. 0 for angle 0
// and for curves that do not correspond.
double BoundaryDeviation(const Bspline* bnd, const Bspline* next, double angle);
