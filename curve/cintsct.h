// The single intersection (or closest approach) of two curves that meet once near their
// polygons: a start pair from the polygon estimate, polished by the closest-pair refiner.
#pragma once

#include "bspline/smake.h"

// t1 on crv1 and t2 on crv2 where the two 3D curves come closest. The refiner's result (0
// converged); -2 when the estimate failed (t1, t2 untouched).
int Intersect2Curve3(Bspline* crv1, Bspline* crv2, double* t1, double* t2);
