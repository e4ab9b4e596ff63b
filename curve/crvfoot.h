// The global closest point of a curve to a point: every local minimum of the distance compared,
// an end of the curve (or a point across a closed curve's seam) included.
#pragma once

#include "bspline/smake.h"

// The nearest point C of a sound curve (3D, or on a sound owner surface) to a finite P, and its
// parameter t. A 3D curve with positive weights by branch and bound over its Bezier pieces; other
// curves from every local minimum of dense samples (12 per span), each refined between its
// neighbours. Distances equal within round-off go to the better converged point. 0; -2 when no
// point was found (memory for the samples of the second kind, with the error state set).
int GlobalClosestOnCurve(Bspline* c, const double P[3], double* t, double C[3]);
