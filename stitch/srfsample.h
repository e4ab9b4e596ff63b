// Samples of a surface on its distinct knot spans, the cloud that the surface-to-surface
// difference measures one surface by. The documented name is SampleSurfacePlateBspline
// (construct/srfr2nr); the work is here so that the analyses on this floor can use it.
#pragma once

#include "bspline/smake.h"

struct Cloud;

// m samples per distinct u span and n per distinct v span (each span's start and m, or n,
// equal steps), then the last distinct knot: (Lu m + 1) x (Lv n + 1) grid points, u fastest.
// An untrimmed surface gives a scan-ordered cloud, one scan per v row; a trimmed one the
// unordered cloud of the grid points inside its loops. bbox (may be null) receives the box.
// Null for a null or incomplete 3D surface, one that is not sound (bsvalid; error state -2), m
// or n below 1, no point inside the trims, or memory failure.
Cloud* KnotSpanSampleCloud(const Bspline* surface, int m, int n, double* bbox);
