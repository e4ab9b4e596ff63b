// Curves on a surface cut at the boundary of the surface's parameter rectangle: the portions
// inside are kept and a portion running outside beside an edge becomes the straight piece of
// that edge. The surface copy of the core needs this, so it is implemented here; the kernel's
// documented names (FindBoundaryCrossings, SurfPartEdge2CurveOnSurface,
// ReplaceCurvesOnSurfaceMultiple, BreakCurveOnSurface, BreakAllCurvesOnSurface in curve/crvbrk)
// call these, and their header gives the full contracts.
#pragma once

#include "bspline/smake.h"

// Room of the crossing array of DomainBoundaryCrossings.
inline constexpr int kMaxBoundaryCrossings = 1024;

// Start parameter, every crossing of the owner's rectangle (widened by 1e-6 of its range on each
// side) and end parameter, ascending, into params (kMaxBoundaryCrossings values). 0, or -2.
int DomainBoundaryCrossings(Bspline* curve, double* params, int* count);

// A straight 2D cubic along edge 0 u-min, 1 v-max, 2 u-max or 3 v-min from (uA, vA) to
// (uB, vB); null when too short (the points within shortest[0] in u and shortest[1] in v, or at
// one place along the edge), for an unknown edge, or on failure.
Bspline* DomainEdgePiece(double uA, double vA, double uB, double vB, int edge,
                         const double shortest[2]);

// The chain newHead .. newTail takes oldCurve's place in the first trim loop of srf holding it.
void SpliceIntoTrimLoop(Bspline* oldCurve, BsplineList* newHead, BsplineList* newTail,
                        Bspline* srf);

// One curve replaced by its portions and freed; 0, or -2 with everything unchanged.
int CutCurveAtDomain(Bspline* curve);

// CutCurveAtDomain on every curve of the surface's list; -2 at the first failure.
int CutCurvesAtDomain(Bspline* srf);
