// Curvature values of a surface at sample points. Built so far: the values on a given
// parameter grid.
#pragma once

#include "bspline/smake.h"

// Kind 7 Gaussian, 8 mean, 9 |k1| + |k2| on the grid u x v into out[j nu + i] (values below
// 1e-10 in magnitude are 0); a point whose normal vanishes takes a neighbouring grid point's
// derivatives, 0 when that fails too. Other kinds write nothing.
void ComputeCurvatureGivenArrays(const Bspline* srf, double* out, const double* u, const double* v,
                                 int nu, int nv, int kind);
