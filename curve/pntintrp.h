// Curves through ordered points and closed fits by wrapping: the work behind the documented
// interpolators of splinefit/intrplt (CurveIntrplt, CurveIntrplt_f, NewCurveIntrplt and their
// collocation and band routines) and the wrapping of splinefit/wrapfit (InitClosedCurve,
// MakeWrapedArrays, EndClosedCurve), here so that the curve tools of this floor (conversions,
// projection onto surfaces, fits to a tolerance) interpolate and close curves too. The contracts
// are the ones those headers document; the comments below only name them.
#pragma once

#include "bspline/smake.h"

struct Cloud;

// ---- Curves through points (splinefit/intrplt) ----------------------------------------------
// CurveIntrplt, CurveIntrplt_f, NewCurveIntrplt, IntrpltWithDegree1.
Bspline* InterpolatePoints(double* x, double* y, double* z, int n, double* knots, int degree,
                           int anyDegree);
Bspline* InterpolatePoints_f(const float* x, const float* y, const float* z, int n,
                             double* knots, int degree, int anyDegree);
Bspline* InterpolatePointsAnyDegree(double* x, double* y, double* z, int n, double* params, int p);
Bspline* InterpolateDegree1(double* x, double* y, double* z, int m, double* knots);
// FixDuplicates.
int SeparateDuplicates(double* x, double* y, double* z, int count, double tol);
// NewAssignKnots (AssignKnots is p = 3, AssignKnotsForDegree1 p = 1).
void PaddedChordParams(const double* x, const double* y, const double* z, int m, int p,
                       double* out);
// setup_system, bessel_ends, LUD_tridiag, solve_tridiag.
void TridiagCollocation(const double* knots, int m, double* lower, double* diag, double* upper,
                        int p, int endStart, int endEnd);
void BesselEnds(const double* d, const double* knots, int m, double* first, double* last);
void FactorTridiag(const double* lower, const double* diag, const double* upper, double* d,
                   double* l, int m);
void SolveTridiag(const double* d, const double* l, const double* upper, int m, const double* rhs,
                  double* out);
// Newsetup_system, LUD_BandMatrix, solve_BandMatrix, RemoveByAveKnotsForInterpolate.
void BandCollocation(const double* knots, const double* params, int m, double** A, int* idx, int w,
                     int p);
int FactorBandRows(double** A, int n, int ml, int mu, int* idx);
int SolveBandRows(double** A, int n, const double* b, double* x, int w, const int* idx);
double* AveragedKnotVector(const double* params, int m, int p);
// AddPointsIfLessThanOrder, InsertSymmetricKnots, GetNewKnotsAfterInsert,
// GetLargestSpanAndInsert.
int AddPointsToOrder(double** x, double** y, double** z, int* count, int p);
double* InsertMidpointsSymmetric(const double* knots, int len, int p, int count);
double* InsertParamsSymmetric(const double* params, int len, int p, int* count);
double* InsertInLargestSpans(double* knots, int len, int p, int count);

// Width of the band of a degree-p collocation system: its rows and LU factors fit in it.
int InterpBandWidth(int p);
// A sorted array of finite values (what a given parameter or knot array must be); false for a
// null array with n > 0.
bool SortedFiniteArray(const double* a, int n);
// Solves the factored band for every coordinate row of c from the data columns. False when a
// solve failed (zero pivot or a result that is not finite).
bool SolveBandCoordinates(double** A, int m, int w, const int* idx, const double* const data[3],
                          Bspline* c);

// ---- Closed fits by wrapping (splinefit/wrapfit) --------------------------------------------
// InitClosedCurve, MakeWrapedArrays, EndClosedCurve.
int WrapCloudForClosedFit(Cloud* cloud, int degree, int ncoef, double** params);
void WrapCloudArrays(const Cloud* cloud, float* x, float* y, float* z, int nHead, int nTail,
                     int closed, int* count);
int UnwrapClosedFit(Bspline* curve, int nWrap, int closed);
