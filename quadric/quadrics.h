// General quadrics c0 x^2 + c1 y^2 + c2 z^2 + c3 xy + c4 xz + c5 yz + c6 x + c7 y + c8 z + c9 = 0:
// the least-squares fit with the quadratic part normalised, its reduction to principal axes, and
// the exact surfaces and curves made from fitted or given primitives.
//
// Principal-frame form: (l1, l2, l3, 0, 0, 0, linear terms in the rotated frame, c9) with the
// eigenvalues of the quadratic part descending; the rotation's rows are the unit eigenvectors.
// Canonical form: (a1, a2, a3, 0, .., 0, -1) about the centre, or (l1, l2, l3, 0, .., 0) when the
// constant after centring vanishes. Everything returned belongs to the caller (FreeBspline).
#pragma once

#include "bspline/smake.h"
#include "foundation/unitfrm.h"
#include "foundation/vec3.h"

// Fits the quadric minimising the algebraic residuals with c0^2 + c1^2 + c2^2 + (c3^2 + c4^2 +
// c5^2) / 2 = 1; eigenvalue: the residual measure of the chosen solution (the smallest positive
// eigenvalue of the reduced system, in the points' units to the fourth). Solved on the points
// moved to their centroid and scaled to unit size, so the same points anywhere give the same
// quadric to the rounding of their coordinates. 1 on success; 0 when memory ran out or the
// points leave the linear block singular (too few or all on a coordinate plane); coef is then
// untouched.
int QuadricsFit(const float* x, const float* y, const float* z, int n, double coef[10], double* eigenvalue);
// Mean square and largest magnitude of the algebraic residuals (both 0 for no points or a null
// array).
void QuadricsFitError(const double coef[10], const float* x, const float* y, const float* z, int n,
                      double* meanSquare, double* maxAbs);
// rot: a 3 x 3 row-pointer matrix, filled with the eigenvectors as rows.
void QuadricsOrientation(const double coef[10], double** rot, double diag[10]);
// The centre in the coefficients' frame. 0; -2 for a singular quadratic part or exhausted memory.
int QuadricsGeneralCenter(const double coef[10], double centre[3]);
// The centre in the principal frame (0 along an axis without a quadratic term) and the canonical
// form. Always 0.
int QuadricsCenter(const double diag[10], double centre[3], double canon[10]);
// The axis of symmetry: the axis of a vanishing principal coefficient, else the one whose sign
// differs from the other two, else the smallest in magnitude; unit row of rot. 0; -2 (outputs
// untouched) when all three coefficients are below 1e-6 in magnitude.
int QuadricsPrincAxis(const double diag[10], double* const* rot, double axis[3], int* index);

// Exact surfaces (quadric types 21, 22, 23); null on failure.
Bspline* CreateSphereBspline(double cx, double cy, double cz, double r);
// cyl, cone: as CylinderNurbs and ConeNurbs take them; u is rescaled to the control-net speed
// of v.
Bspline* CreateCylinderBspline(const QuadricInfo* cyl);
Bspline* CreateConeBspline(const QuadricInfo* cone);
Bspline* FitSphereBspline(const float* x, const float* y, const float* z, int n);
Bspline* FitSphereBsplineGivenRadius(const float* x, const float* y, const float* z, int n, double r);

// The parabola x^2 = 4 p z in the x-z plane from its vertex up to height h: a quadratic Bezier
// curve on [0, 1] whose height grows with the square of the parameter. Null for p <= 0 or h <= 0.
Bspline* MakeBsplParabolaCrv(double p, double h);

// The paraboloid of MakeBsplParabolaCrv(p, h) revolved about its axis, placed with its axis
// along `axis` (not normalised: heights are multiples of it) and its vertex at base + t0 axis.
// A t0 other than 0 cuts the profile at curve parameter t0 / h, that is at height t0^2 / h above
// the vertex, leaving a hole about the axis; the rim stays at base + h axis. Null for p or h not
// positive, t0 outside [0, h), a null base or axis, a zero axis or a failed step.
Bspline* MakeBsplParabolicSrf(double p, double t0, double h, const double base[3], const double axis[3]);

// The best line through the points: the extent of their projections on the principal axis,
// components below 1e-6 of its length set to 0 (two points are returned as given).
void FitALinePts(const double* x, const double* y, const double* z, int n, double start[3], double end[3]);
// The least-squares circle through 3-D points in their best plane, as an exact closed curve with
// its circle form (type 2). Null for n < 3, coincident or collinear points (within 0.001 of the
// longest side of their box from a line), or a failed fit. The same points scaled or moved give
// the same circle scaled or moved, to the round-off of the inputs. Not re-entrant (the circle
// refinement keeps the points process-wide).
Bspline* FitCirclePts(const double* x, const double* y, const double* z, int n);

// ---- recognition: the recognisers that need only this floor --------------------------------
// (curve/quadrics recognises lines, circles, arcs, cylinders and cones and runs the curve list;
// construct/quadrics runs the surface list.) A recogniser returns 1 and records the primitive's
// type and a new exact form on the object (any form it had is freed first), or 0 and leaves
// the object as it was (no fit, outside the tolerance, exhausted memory). The geometry is never
// changed.
//
// A rational surface closed in u whose points fit a sphere with a mean squared radial error of
// at most 2e-6 x radius: the error is a squared length held against a length, so the test is
// stricter on large spheres than on small ones; callers rely on it as it is.
int GetSphereFromPts(const float* x, const float* y, const float* z, int n, Bspline* surface);
// Any surface whose points lie on their least-squares plane within 0.001 of the box's diagonal
// (squared distances at most 1e-6 x the squared diagonal; the limit itself passes); the form
// holds the plane of the patch PutPlaneToBsplinePatch makes over the box.
int GetPlaneFromPts(const float* x, const float* y, const float* z, int n, const Bbox box, Bspline* surface);
// Stores (x, y, z) in dst; 1.
int CopyDcoord(double dst[3], double x, double y, double z);
// The recognisers' last step: a copy of trial's exact form (type and values) put on obj in place
// of what it had. 1; 0 with obj unchanged when trial has none or memory runs out.
int AttachQuadricOf(Bspline* obj, const Bspline* trial);

// Recognition at unit size: the recognisers' fits and tolerances are set for objects of unit
// size, and their samples may be single precision, so a part far from the origin or of any size
// is recognised on a copy in the unit frame of its control-point box (moved to the box's centre
// and scaled by the power of two at or below its longest side, so that the scaling is exact and
// the longest side lies between 1 and 2). A copy of a curve or surface, without curves and trim
// loops, with *frame; null for a box of no extent or that is not finite, or on failure.
Bspline* UnitSizeCopy(Bspline* obj, UnitFrame* frame);
// The exact form found in a unit frame, taken back to the model's: positions mapped back, lengths
// times the size, directions and angles as they are (types 1, 2, 3, 21, 22, 23, 25; others and
// an object without a form are left alone).
void QuadricFormFromUnitFrame(Bspline* obj, const UnitFrame& frame);
// The object made in a unit frame taken back to the model's: its control points and its exact
// form (QuadricFormFromUnitFrame).
void ObjectFromUnitFrame(Bspline* obj, const UnitFrame& frame);
