// Spline utilities of the conversions: the deviation allowed at one control point of a curve.
#pragma once

#include "bspline/smake.h"

// The deviation d weighted by basis function i of the curve at its edit point (the Greville
// abscissa of control point i): *out = d N_i(g_i). At a clamped end N_i(g_i) is 1.
void GetMaxCurveDeviation(const Bspline* curve, int i, double d, double* out);
