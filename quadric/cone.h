// Least-squares cones through point sets: starts from the general quadric fit and from the
// principal axes with apex guesses beyond both ends of the points, refined by MINPACK, and the
// exact cone surface of a fit. A cone's QuadricInfo: apex, unit axis, half angle (radians), start
// and end heights (signed distances from the apex along the axis). The slope of a cone is the
// tangent of its half angle; fit errors are ConeFitError's mean squared deviations
// (quadric/qnlfit.h). The fits run the process-wide MINPACK state: not re-entrant.
#pragma once

#include "bspline/smake.h"

// The least-squares cone of the points' radial deviations (ConeFitError), with its heights
// spanning the points and the half angle folded into 0..pi/2. The apex starts and the quadric
// start find a first cone; from it and (unless it fits the points to their rounding) from the
// points' cylinder (FitCylinder) the axial fit (AxialNonllsqrFitMinpack, parametrised at the
// points, so a cone as thin as a cylinder keeps its apex far off) reaches the least squares; the
// lowest minimum wins. Apex and axis
// components within 1e-6 of 0 (the apex's: of the points' size) come out as exact 0 only where
// that leaves the fit as good to the points' rounding. The fit runs on a copy of the points
// moved to their centroid and scaled to unit size, so a cone of any size anywhere is fitted
// alike. 0; -2 for null arrays or info, n < 10, coincident or non-finite points, no successful
// principal-axis start (the quadric start alone does not count), no start reaching a
// least-squares minimum, or the error state set on the way (memory ran out during a start;
// info untouched).
int FitCone(const float* x, const float* y, const float* z, int n, QuadricInfo* info, double* error);
// The fitted cone as an exact surface; null with the error state set for n < 4 and whenever
// FitCone fails (so also for 4 to 9 points).
Bspline* FitConeBspline(const float* x, const float* y, const float* z, int n, double* error);
// A cone from the general quadric fit: its centre as apex and the best of the principal
// directions as axis. 0; -2 when the quadric fit, its centre or axis fails, or no direction gives
// a finite error.
int EstimateCone(const float* x, const float* y, const float* z, int n, double apex[3], double axis[3],
                 double* slope, double* error, double* maxDeviation);
// Apex (the quadric's centre), the 3 x 3 orientation (rows: principal directions) and axis of a
// quadric's coefficients. 0; -2 for a singular quadratic part or no axis.
int ConeParamsFromQuadrics(const double coef[10], double** orientation, double axis[3], double apex[3]);
// The slope as the tangent of the root mean square angle between the points and the axis line
// (axis of unit length); points within 1e-3 of the points' size (the longest side of their box)
// of the apex's height are left out. 0; -2 for n < 1 or no point left.
int ConeSlopeGivenCenterAndAxis(const float* x, const float* y, const float* z, int n, const double apex[3],
                                const double axis[3], double* slope);
// Two apex guesses on the axis through point, factor times beyond the lowest and highest point
// (the range taken to include point). 0; -2 for null arrays or output, n < 3 or an axis shorter
// than 1e-6.
int GuessConeCenter(const float* x, const float* y, const float* z, int n, const double axis[3],
                    const double point[3], double factor, double guesses[6]);
// Normalises the info's axis and sets its heights to the points' smallest and largest.
void FindConeSize(const float* x, const float* y, const float* z, int n, QuadricInfo* info);
