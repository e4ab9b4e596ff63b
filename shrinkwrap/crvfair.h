// Fairing of a stretch of a 3D curve by moving control points: a small Gaussian filter over the
// control points of a parameter range, and a variational fairing that minimises a curvature
// functional over a sliding window of control points with the conjugate-gradient minimiser.
// The functional is minimum variation of curvature (MVC: the squared arc-length derivative of
// the curvature vector) or minimum energy (MEC: squared curvature), each against a scaled copy
// of the curve's starting shape, plus a term that keeps control points near their starting
// places. The curve is first moved into a normalised frame (a planar curve into its plane,
// centred and scaled to a box size) so that the functional and its thresholds do not depend on
// position or size.
//
// The variational fairing keeps its state in file statics: call SmoothCurveRegionSetUp, then
// FindCurveSegmentCntrlPnts for the range, then FairBsplineCurve3 (possibly several times) on
// the same curve, then SmoothCurveRegionCleanUp. Not re-entrant.
#pragma once

#include "bspline/smake.h"
#include "foundation/vec3.h"

// ---- Gaussian region smoothing ---------------------------------------------------------------
// Filters count control points from first (half width 1; the run's two ends stay), clears the
// property blocks and drops a circle or arc description. 0; -2 for a bad curve (one that is not
// sound: bsvalid) or run, or when memory runs out (the curve then unchanged, the error state set).
int SmoothCurve(Bspline* curve, int first, int count);
// The control points of [t0, t1]: all of them for exactly the domain, else from the span of t0
// to the span of t1. 0; -2 for a curve that is not sound (bsvalid), a parameter that is not
// finite, or t1 in a span before t0's.
int FindIndxCptsInParRange(Bspline* curve, double t0, double t1, int* first, int* count);
int SmoothCurveRegion(Bspline* curve, double t0, double t1);

// ---- Variational fairing ---------------------------------------------------------------------
// Makes the control points of [t0, t1] movable, inserting knots at t0, t1 and between them as
// needed, and lists them in a new array (*indices, caller frees). The first two and last two
// control points are never listed. -2 for too short a range, a failed insertion, an empty
// list or memory, with the curve as it came (no knot kept).
int FindCurveSegmentCntrlPnts(Bspline* curve, double t0, double t1, int** indices, int* count);
// Takes the curve as the reference of the fairing calls that follow. -2 for a degenerate curve.
int SmoothCurveRegionSetUp(Bspline* curve, double boxSize);
int SmoothCurveRegionCleanUp();
// Fairs the listed control points of the curve given to the set-up, in place. *changed = 1 when
// the faired shape was kept; *change = the largest distance between the curve and its shape at
// set-up. A curve already farther than tolerance from that shape is left alone (0). -2 without
// a matching set-up or on failure (the curve restored).
int FairBsplineCurve3(Bspline* curve, const int* indices, int nIndices, int itmax, double tolerance,
                      double alpha, double acceptFactor, int isMVC, int* changed, double* change,
                      void (*redraw)(Bspline*));

// The functional of the current window in the minimiser's form: the variables are the window's
// x values, then y, then (non-planar curves) z. The check returns 1 to reject a point that
// moves the curve farther than the tolerance from its reference.
int LminCrvMVCFunctional(const double* vars, int n, double* value);
int LminCrvMVCFuncGrad(const double* vars, int n, double* gradient);
int lminCrvMVCStop(const double* vars, int n);

// ---- Sampling ----------------------------------------------------------------------------------
// Every knot interval longer than 1e-6 of the range gives its start and steps of length /
// (nPerSpan - 1) (nPerSpan below 3 counts as 2); the last knot closes the list. New array.
int GetNSamplePerSpan(const double* knots, int nKnots, int nPerSpan, double** samples, int* count);
// n >= 2 equal steps from a to b, both included.
void GetNSampleInterval(double a, double b, int n, double* out);
// The knot intervals touched by the listed control points (i .. i + degree for point i),
// ascending, short ones skipped. New arrays; -2 (error state set) for a curve whose structure is
// not sound (bsvalid).
int SetUpIntegralRange(const Bspline* curve, const int* indices, int n, double** starts,
                       double** ends, int* count);
// 10-point Gauss-Legendre samples and weights over [a, b] split at the knots. -2 for a null
// array, a degree below 0 or nKnots below 2 degree + 2, a or b not finite or outside the
// knots, or b <= a.
int SetupKnotIntegralSample(const double* knots, int nKnots, int degree, double a, double b,
                            double** t, double** w, int* n);
int GetGaussQuadSampleWeight(double a, double b, double** t, double** w, int* n);
// The largest squared distance, at the n >= 1 parameters, between the curve with control points
// (newX, newY, newZ) and the fairing's reference. -2 without a reference.
int MaxCurve3Change(const Bspline* curve, const double* newX, const double* newY,
                    const double* newZ, const double* params, int n, double* max2);
// dK/dt of the curvature vector K = C' x C'' / |C'|^3 at t.
int BsplCurve3DiffCurvature(const Bspline* curve, double t, double out[3]);

// ---- Normalisation -----------------------------------------------------------------------------
void ComputeCenterOfMassD(const double* x, const double* y, const double* z, int n, double centroid[3]);
// Centres the n >= 2 points and scales their largest extent to boxSize. -2 when it is below
// 1e-6.
int NormalizePointSetD(double* x, double* y, double* z, int n, double boxSize, double centroid[3],
                       double* scale);
// (p - centroid) scale, and back.
void TranslateScalePointSet(double* x, double* y, double* z, int n, const double centroid[3], double scale);
void ScaleTranslatePointSet(double* x, double* y, double* z, int n, const double centroid[3], double scale);
void PreNormalizeSmoothingCurve3(Bspline* curve, const Xform xform, const double centroid[3], double scale);
void UnNormalizeSmoothingCurve3(Bspline* curve, const Xform inverse, const double centroid[3], double scale);
