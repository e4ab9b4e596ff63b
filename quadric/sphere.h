// Least-squares spheres through point sets: an algebraic start refined by MINPACK or by
// Gauss-Newton steps, and an older refinement by the subsystem's own engine. Fit errors are
// SphereFitError's (quadric/qnlfit.h).
#pragma once

// Centre and radius. Four points give their sphere exactly. 0; -2 for null arrays, n < 4,
// coplanar points (RMS distance from their best plane below 0.001 of their RMS distance from
// their centroid), four points without a sphere, or a failed algebraic start. A failed
// refinement leaves the algebraic sphere with its error. Centre components within 1e-6 of the
// radius from 0 come out as 0. The same points scaled or moved give the same sphere scaled or
// moved, to the round-off of the inputs.
int FitSphere(const float* x, const float* y, const float* z, int n, double centre[3], double* radius,
              double* error);
// FitSphere with the same checks, start and result codes, refined by damped Gauss-Newton steps
// with the analytic Jacobian on 4 x 4 normal equations instead of MINPACK, the sphere held by
// its foot, normal and curvature (well posed however flat the cap); MINPACK finishes only a fit
// those steps do not settle in 30. The same least-squares sphere to round-off at a small part
// of the cost, for callers that fit one per point of a cloud.
int FitSphereNewton(const float* x, const float* y, const float* z, int n, double centre[3], double* radius,
                    double* error);
// The centre of a sphere of known radius, refined from the centroid. 0; -2 for null arrays,
// n < 3, a negative radius, exhausted memory or a failed refinement.
int FitSphereWithGivenRadius(const float* x, const float* y, const float* z, int n, double radius,
                             double centre[3], double* error);
// Algebraic fit x^2 + y^2 + z^2 + c1 x + c2 y + c3 z + c0 = 0 on centroid-centred points:
// coefficients (c0, c1, c2, c3, 1). 0; -2 for null arrays, a singular system, exhausted memory
// or an imaginary radius (radius 0 then).
int FitSphereImplicit(const float* x, const float* y, const float* z, int n, double coefficients[5],
                      double centre[3], double* radius, double* error);
// Refinement by the engine with the model SphereChiSqr (all four parameters, or the centre with
// the radius held), the caller's tolerance and accepted-step limit. 0; -2 for null arrays or
// exhausted memory.
int SphereNonlinearFit(const float* x, const float* y, const float* z, int n, double centre[3], double* radius,
                       double tolerance, int maxIterations, double* error, double* maxDeviation);
int SphereNonlinearFitWithKnownRadius(const float* x, const float* y, const float* z, int n, double centre[3],
                                      double radius, double tolerance, int maxIterations, double* error,
                                      double* maxDeviation);
// |p - c| - a[3] and its gradient, a = centre x, y, z, radius; nothing written for a null array.
void SphereChiSqr(float x, float y, float z, const double* a, double* residual, double* dyda, int ma);
