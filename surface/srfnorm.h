// Normals of a surface at given parameters.
#pragma once

#include "bspline/smake.h"

// For each i the normal Su x Sv at (u[i], v[i]), not of unit length, with ComputeSurfaceNormal's
// treatment of vanishing partials, into normals[i].
void ComputeSurfNormalNPnts(Bspline* srf, const double* u, const double* v, double (*normals)[3],
                            int n);
