// Nonlinear least-squares refinement of circles, spheres, cylinders and cones with MINPACK's
// lmder_ (Levenberg-Marquardt, analytic Jacobian), and the fit measures of those primitives.
//
// Every driver copies the caller's start values into the solver's parameter vector, runs lmder_
// once or in two passes and writes the solution back over the start values. Returns 0, or -2
// for: a null array, m < 2, exhausted memory, MINPACK's improper-input result (info 0, for
// instance fewer points than parameters), or a fitted axis shorter than 1e-10. Every other info,
// the evaluation limit (5) included, counts as success: the callers' budgets rely on it.
//
// A fit error is the mean of the squared deviations (no root); the maximum deviation beside it
// is the largest absolute one.
//
// Not re-entrant: the running fit's points live in the process-wide lm* variables below, which
// the callbacks read (tests set them to drive a callback directly).
#pragma once

struct UnitFrame;

// Single-precision points of unit size about their centroid are rounded to 6e-8: the fits on such
// copies take an rms deviation below this as exact, and lengths within it as equal.
constexpr double kUnitRoundOff = 1e-7;

extern const float* lmXarray;
extern const float* lmYarray;
extern const float* lmZarray;  // sphere, cylinder and cone fits only
extern double lmRadius;        // the fixed radius of the given-radius fits
extern int lmNdataPnts;

// ---- drivers (points are float, every other value double) ----------------------------------
// Circle: centre[2] and radius in/out.
int CircleNonllsqrFitMinpack(const float* x, const float* y, int m, double centre[2], double* radius,
                             double tolerance, int maxfev, double* error, double* maxDeviation);
int CircleNonllsqrFitWithRadiusMinpack(const float* x, const float* y, int m, double centre[2], double radius,
                                       double tolerance, int maxfev, double* error, double* maxDeviation);
// Sphere: centre[3] and radius in/out.
int SphereNonllsqrFitMinpack(const float* x, const float* y, const float* z, int m, double centre[3],
                             double* radius, double tolerance, int maxfev, double* error, double* maxDeviation);
int SphereNonllsqrFitWradiusMinpack(const float* x, const float* y, const float* z, int m, double centre[3],
                                    double radius, double tolerance, int maxfev, double* error,
                                    double* maxDeviation);
// Cylinder: two passes of the squared-distance residual; the axis leaves of unit length.
int CylinderNonllsqrFitMinpack(const float* x, const float* y, const float* z, int m, double tolerance,
                               int maxfev, double axisPoint[3], double axis[3], double* radius, double* error,
                               double* maxDeviation);
// Cylinder of given radius: squared-distance pass (maxfev / 2), then distance pass (maxfev * 3 / 4).
int CylNonllsqrFitWradiusMinpack(const float* x, const float* y, const float* z, int m, double tolerance,
                                 int maxfev, double axisPoint[3], double axis[3], double radius, double* error,
                                 double* maxDeviation);
// Cone: algebraic pass (maxfev), then geometric pass (maxfev / 2); half angle in radians. The
// measures of the second pass stand.
int ConeNonllsqrFitMinpack(const float* x, const float* y, const float* z, int m, double tolerance, int maxfev,
                           double apex[3], double axis[3], double* halfAngle, double* error,
                           double* maxDeviation);
// Cylinder (cone false) or cone as the least squares of the radial deviations
// | rho - |r0 + h tan theta| | (rho a point's distance from the axis, h its height from the axis
// point): the measures of CylinderFitError and ConeFitError. Parametrised at the foot of the
// axis nearest the points' centroid by the axis' tilt and offset there, the radius r0 at that
// foot and the half angle theta, so that a cone as thin as a cylinder stays well conditioned;
// run in rounds re-centred on the answer until it settles, each of at most maxfev evaluations.
// In: axisPoint, axis (any length), radius at axisPoint, halfAngle (cone: signed, negative
// narrowing along axis). Out: the foot nearest the centroid, the unit axis, the radius there,
// the signed half angle (cone), the mean squared and the largest deviation; the radius is not
// negative ((r0, theta) and (-r0, -theta) are one surface). -2 (outputs
// untouched) for a null array, fewer points than parameters (5, cone 6), a zero axis, exhausted
// memory, a result that is not finite, or one whose residuals are not orthogonal to the
// Jacobian (no least-squares minimum reached).
int AxialNonllsqrFitMinpack(const float* x, const float* y, const float* z, int m, bool cone, int maxfev,
                            double axisPoint[3], double axis[3], double* radius, double* halfAngle, double* error,
                            double* maxDeviation);

// ---- callbacks in MINPACK's form -----------------------------------------------------------
// iflag 1 fills fvec[0..m-1], iflag 2 the column-major Jacobian (point i, parameter j at
// fjac[i + j * ldfjac]); other flags do nothing. Distances, the cylinder's radial distance and
// the cone's sin^2 phi are floored at 1e-10 as divisors, so a point on a centre or an axis
// gives finite rows. Return 0; CylinderChiSq2Minpack returns -2 and sets iflag to -1 (stopping
// the solver) when the axis has collapsed (|a|^4 < 1e-10); ConeChiSq2Minpack the same when m
// is not lmNdataPnts, m < 1 or n is not 7.
int CircleChiSqMinPack(int* m, int* n, double* x, double* fvec, double* fjac, int* ldfjac, int* iflag);
int CircleWradiusChiSq(int* m, int* n, double* x, double* fvec, double* fjac, int* ldfjac, int* iflag);
int SphereChiSqMinPack(int* m, int* n, double* x, double* fvec, double* fjac, int* ldfjac, int* iflag);
int SphereChiSqWradiusMinPack(int* m, int* n, double* x, double* fvec, double* fjac, int* ldfjac, int* iflag);
int CylinderChiSq2Minpack(int* m, int* n, double* x, double* fvec, double* fjac, int* ldfjac, int* iflag);
int CylinderChiSq2WradiusMinpack(int* m, int* n, double* x, double* fvec, double* fjac, int* ldfjac, int* iflag);
int CylinderChiSqWradiusMinpack(int* m, int* n, double* x, double* fvec, double* fjac, int* ldfjac, int* iflag);
int ConeChiSqMinpack(int* m, int* n, double* x, double* fvec, double* fjac, int* ldfjac, int* iflag);
// The axial fit's residual rho - |r0 + h tan theta| about the axis of the reference (below) tilted
// by (s, t) and moved by (u, v) across it: x = (u, v, s, t, r0) and, for n = 6, theta.
int AxialChiSqMinpack(int* m, int* n, double* x, double* fvec, double* fjac, int* ldfjac, int* iflag);
// The reference of AxialChiSqMinpack: point, unit axis, and the two unit directions across it.
void SetAxialReference(const double point[3], const double axis[3]);
int ConeChiSq2Minpack(int* m, int* n, double* x, double* fvec, double* fjac, int* ldfjac, int* iflag);

// ---- points in a unit frame ---------------------------------------------------------------
// Single-precision copies of the points in the frame (foundation/unitfrm), allocated in the
// caller's tracking scope: the fits' tolerances are set for unit size, and single precision
// keeps the shape's digits only near the origin. False when memory runs out.
bool PointsInUnitFrame(const float* x, const float* y, const float* z, int n, const UnitFrame& frame, float** ux,
                       float** uy, float** uz);
// An axis fitted to the points ux, uy, uz of frame (point P on it, direction A) back in model
// space: the point (with foot, the foot of the axis nearest the frame's centre), the unit axis,
// and error, the mean squared deviation of the points (unit frame) from the cylinder of radius
// shape or (cone) the cone of slope shape with its apex at the point. Components within 1e-6
// of 0 (the point's: of the frame's size) are made exact when that raises error by no more than
// the square of the points' single-precision rounding (1e-7): an axis along a coordinate
// direction comes out exact, a slightly tilted one keeps its tilt wherever it lies.
void AxisToModelFrame(const UnitFrame& frame, const float* ux, const float* uy, const float* uz, int n, bool cone,
                      double shape, bool foot, const double P[3], const double A[3], double point[3],
                      double axis[3], double* error);
// True when n >= 1 points do not all coincide and every coordinate is finite (false for a null
// array).
bool PointsSpread(const float* x, const float* y, const float* z, int n);

// ---- fit measures --------------------------------------------------------------------------
// Deviation | |p - c| - |r| |, the sum flushed every 1000 points. -2 for a null array or n < 1.
int SphereFitError(const float* x, const float* y, const float* z, int n, const double centre[3], double radius,
                   double* error, double* maxDeviation);
// Deviation | sqrt(| |d|^2 - (d.a)^2 |) - r |, d = p - axisPoint, a assumed unit. Null arrays or
// n < 1 leave both measures 0.
void CylinderFitError(const float* x, const float* y, const float* z, int n, const double axisPoint[3],
                      const double axis[3], double radius, double* error, double* maxDeviation);
// Deviation | sqrt(|d|^2 - h^2) - |h| t |, d = p - apex, h = d.a, a assumed unit, t the tangent of
// the half angle. -2 for a null array or n < 1.
int ConeFitError(const float* x, const float* y, const float* z, int n, const double apex[3], const double axis[3],
                 double tanHalfAngle, double* error, double* maxDeviation);
