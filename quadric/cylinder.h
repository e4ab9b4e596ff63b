// Least-squares cylinders through point sets: principal-axis starts refined by MINPACK, and exact
// cylinder surfaces bounded by the points' extent along the axis. Fit errors are
// CylinderFitError's mean squared deviations (quadric/qnlfit.h). The fits run the process-wide
// MINPACK state: not re-entrant.
#pragma once

#include "bspline/smake.h"

// The least-squares cylinder of the points' distances from it: the axis point at the foot of the
// axis nearest the points' centroid, unit axis, radius, error (CylinderFitError's mean squared
// deviation of what is returned). Components within 1e-6 of 0 (the point's: of the points'
// size) come out as exact 0 only where that leaves the fit as good to the points' rounding
// (quadric/qnlfit's AxisToModelFrame). The fit runs on a copy of the points moved to their
// centroid and scaled to unit size, so the same points anywhere and at any size give the same
// cylinder in their own units. There each principal axis starts a squared-distance refinement,
// least variance first, until one fits within 1e-6 (mean squared, unit size); the best is
// polished, and from these, best first, the distances' least squares is reached
// (AxialNonllsqrFitMinpack; a start ten times worse than the best, or on a cylinder already
// refined, is left out); the lowest minimum wins. 0; -2 for null arrays, n < 4, coincident or non-finite points, no
// successful start (4 to 6 points leave the solver fewer residuals than parameters, so every
// start fails), no start reaching a least-squares minimum, or memory running out on the way.
int FitCylinder(const float* x, const float* y, const float* z, int n, double axisPoint[3], double axis[3],
                double* radius, double* error);
// The axis of a cylinder of known radius, starts largest variance first, on the same unit-size
// copy as FitCylinder; axis point and components as FitCylinder gives them. 0; -2 for null arrays, n < 6, a negative radius, coincident or non-finite
// points or a failed polish.
int FitCylinderWithGivenRadius(const float* x, const float* y, const float* z, int n, double radius,
                               double axisPoint[3], double axis[3], double* error);
// The fitted cylinder as an exact surface from the lower end of the points along the axis (axis
// point) up to their highest (at least 0.001 of the longest side of the points' box high). Null
// with the error state set on failure.
Bspline* FitCylinderBspline(const float* x, const float* y, const float* z, int n, double* error);
Bspline* FitCylinderBsplineGivenRadius(const float* x, const float* y, const float* z, int n, double radius);
// Normalises axis in place; radius = the root mean square distance of the points from the axis.
// Does nothing for a null array.
void CylinderRadius(const float* x, const float* y, const float* z, int n, const double axisPoint[3],
                    double axis[3], double* radius);
// Smallest and largest (p - axisPoint).a over the points, a the unit of axis. 0; -2 for null x or
// y or n < 1.
int FindCylinderExtent(const float* x, const float* y, const float* z, int n, const double axisPoint[3],
                       const double axis[3], double* minimum, double* maximum);
