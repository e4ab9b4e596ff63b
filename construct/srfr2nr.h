// Rational surfaces replaced by non-rational ones, and the surface samplers behind it. Built so
// far: the samples on the distinct knot spans.
#pragma once

#include "bspline/smake.h"

struct Cloud;

// m samples per distinct u span and n per distinct v span, the last distinct knot added in each
// direction, evaluated on the grid (u fastest): an untrimmed surface gives a scan-ordered cloud,
// one scan per v row; a trimmed surface the unordered cloud of the grid points inside its
// loops. bbox (may be null) receives the cloud's box. The caller frees the cloud (FreeCloud).
// Null for a null or incomplete 3D surface, m or n below 1, no sample inside the trims, or
// memory failure.
Cloud* SampleSurfacePlateBspline(const Bspline* surface, int m, int n, double* bbox);
