// Planarity and centroid of a curve's control points.
#pragma once

#include "bspline/smake.h"

// Principal axes of the 3D curve's control points into axis0..axis2, largest spread first, so
// axis2 is the normal of the best-fit plane. 1 when the smallest eigenvalue (the mean squared
// distance from that plane) is at most tol; 0 when it is larger, for anything but a 3D curve,
// or on failure.
int IsPlanarCurve3(Bspline* crv, double tol, double axis0[3], double axis1[3], double axis2[3]);

// Mean of the control points (weights not applied). 0; -2 for null.
int ComputeCrvBsplineCentroid(Bspline* crv, double p[3]);
