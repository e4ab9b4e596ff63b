// Recognition of curves as lines, circles and arcs and of surfaces as cylinders and cones: the
// object is sampled, the candidate primitive fitted to the samples, and accepted only when every
// sample lies within a tolerance tied to the object's size; then the object carries the
// primitive's type and exact form (QuadricInfo), any form it had freed first. Geometry is never
// changed. Spheres and planes are recognised in quadric/quadrics, the surface list is run in
// construct/quadrics.
//
// A recogniser returns 1 when recognised, 0 otherwise (no fit, tolerance exceeded, a trial that
// cannot be built, exhausted memory), leaving the object as it was.
#pragma once

#include "bspline/smake.h"

// Request codes: 0 any, 1 line, 2 circle, 3 arc. found[i] is set to 1 for each curve that
// carries (or now carries) a matching form; never cleared. A curve already of type 1, 2 or 3 is
// only flagged (request 0 or its own type). Samples: degree + 1 parameters per knot span; request
// 0 tries line, arc, circle in that order (an arc needs exactly three samples, one span of
// degree 2, so a longer open arc whose samples lie on a circle is recorded as that circle).
// Each curve is recognised on a copy at unit size (quadric/quadrics' UnitSizeCopy) and the form
// taken back, so the same curve of any size, anywhere, is recognised alike (within about 1e-3 of
// its size); a curve of no extent is none of the three.
// 0 when every curve was looked at (also for n < 1); -2, stopping at that curve, for a circle
// request on a curve that is not rational or not closed, an arc request on a curve that is not
// rational, or exhausted memory while copying or sampling. Flags set before stay set.
int IdentifyCurveQuadric(Bspline** curves, int n, int request, int* found);
// A trial through no more points than determine it (two for a line, three for a circle or arc)
// fits them whatever the curve is: the curve's points at a quarter and three quarters of its
// domain must then lie on the trial too.
//
// The best line through the points (FitALinePts), its end points as the form. A line of zero
// length is no line.
int GetLineFromPts(const double* x, const double* y, const double* z, int n, Bspline* curve);
// The least-squares circle through the points in their best plane (FitCirclePts).
int GetCircleFromPts(const double* x, const double* y, const double* z, int n, Bspline* curve);
// The arc from the first through the second to the third point; 0 for any other count.
int GetArcFromPts(const double* x, const double* y, const double* z, int n, Bspline* curve);
// 1 when every point's squared distance from the curve (a start from the sampled polyline, then
// at most 7 refinement steps) is at most 1e-6 x the diagonal of the curve's control-point box; 0
// at the first point beyond; -2 when the start cannot be formed or (error state set) the curve
// is not sound (bsvalid). A squared distance held against
// a length: the test tightens with the curve's size (1e-3 of the diagonal's square root at unit
// size), as the recognisers have always used it; IdentifyCurveQuadric calls them at unit size.
int CheckBsplineTol(const double* x, const double* y, const double* z, int n, Bspline* curve);
// 1 when the iso curves of the surface at v = vmin and v = vmax (degree + 1 samples per span)
// are circles whose unit normals lie along axis (| |axis . n| - 1 | < 1e-6); 0 when not or when
// a circle cannot be fitted (a collapsed boundary); -2 when memory runs out. kind (1 cylinder,
// 3 cone) does not change the test.
int CheckTopBottomCircle(Bspline* surface, int kind, const double axis[3]);
// A rational surface closed in u: the fitted cylinder (FitCylinderBspline) or cone
// (FitConeBspline), accepted when its boundary circles pass CheckTopBottomCircle's test (for a
// cone a boundary may also collapse onto the apex, within 1e-6 of the surface's control-point
// diagonal: a cone that runs into its apex) and its fit error is at most 1e-6 x the diagonal
// of the fitted surface's control-point box; the form is the fitted one's nine values.
int GetCylFromPts(const float* x, const float* y, const float* z, int n, Bspline* surface);
int GetConeFromPts(const float* x, const float* y, const float* z, int n, Bspline* surface);
