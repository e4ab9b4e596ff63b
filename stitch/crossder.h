// Cross-boundary derivative curves of a surface along a curve on it and their control rows: the
// work behind GetIsoDerivOfSurf, GetNonIsoDerivOfSurf, GetNonIsoG1PointsOfSurf,
// ComputeTangentMagnitude, NormalizeBspline, GetScaledDerivCntrl and GetDerivVecMagNearPrefIndx
// (construct/crv2srf documents them), here because the derivative curves and rows of boundary
// loops and blends (stitch/userdef) are made from them.
#pragma once

#include "bspline/smake.h"

// GetIsoDerivOfSurf: along the iso line at iso (dir 0: v = iso, running in u; else u = iso,
// running in v) between t0 and t1, the position (order 0), the first or second cross
// derivative (orders 1, 2; exact from the control net unless order 1 with mode 0, which goes to
// the sampled form), or with g2 and order 2 the G2 reflection curve of the edge. The caller's
// surface is never changed.
Bspline* IsoDerivativeCurve(Bspline* srf, Bspline* ref, double** mag, int magMode, int mode,
                            int samples, double iso, double t0, double t1, int dir, int order,
                            int atMin, int g2, int normalize);
// GetNonIsoDerivOfSurf.
Bspline* NonIsoDerivativeCurve(Bspline* crv, Bspline* ref, double** mag, int wantMag, int magMode,
                               int mode, int samples, int order, const double* knots, int nKnots,
                               int degree);
// GetNonIsoG1PointsOfSurf.
int NonIsoDirections(Bspline* crv, Bspline* ref, double** mag, int wantMag, int magMode, int mode,
                     const double* t, double* x, double* y, double* z, int n);
// ComputeTangentMagnitude.
double TangentMagnitude(const double S[3], const double R[3], const double dir[3], int mode);
// NormalizeBspline.
void NormalizeControlPoints(Bspline* crv);
// GetScaledDerivCntrl.
int ScaledDerivativeRow(Bspline* D, Bspline* P, double targets[6], double scale, int vary);
// GetDerivVecMagNearPrefIndx.
double DerivativeMagnitudeNear(double* x, double* y, double* z, int preferred, int n);
