// Curves on a surface (2D curves in its parameter plane, owner set) that wander out of the
// surface's parameter rectangle are replaced by their portions inside it and by straight pieces
// along the rectangle's edges where they ran outside beside an edge.
#pragma once

#include "bspline/cutcurves.h"  // kMaxBoundaryCrossings: the room of the crossing array

// Fills params with the curve's start parameter, every parameter where it crosses the boundary
// of its owner's parameter rectangle (widened by 1e-6 of its range on each side), and its end
// parameter, ascending (crossings within 1e-6 of the curve's range are one); *count is their
// number. The array holds kMaxBoundaryCrossings values. 0, or -2 when the curve has no
// owner, the sample array cannot be allocated or the crossings do not fit.
int FindBoundaryCrossings(Bspline* curve, double* params, int* count);

// A new straight 2D cubic along boundary edge `edge` (0 u-min, 1 v-max, 2 u-max, 3 v-min) from
// (uA, vA) to (uB, vB); it runs in v on edges 0 and 2 and in u on edges 1 and 3. Null when the
// points lie within 1e-4 in both coordinates or at the same place along the edge, for an
// unknown edge, or on failure. No owner is set.
Bspline* SurfPartEdge2CurveOnSurface(double uA, double vA, double uB, double vB, int edge);

// In the first trim loop of srf that holds oldCurve, its node is freed and the chain
// newHead .. newTail takes its place. Nothing happens when no loop holds it.
void ReplaceCurvesOnSurfaceMultiple(Bspline* oldCurve, BsplineList* newHead,
                                    BsplineList* newTail, Bspline* srf);

// Replaces one 2D curve by its portions (pushed on its owner's curve list and put in its place
// in its trim loop) and frees it; a curve that never leaves the rectangle stays as it is. A curve
// wholly beyond the rectangle is one such portion: beside an edge the piece of that edge between
// its ends, beyond a corner nothing (its loop goes on without it, unless it was the loop's only
// curve). 0, or -2 with the curve, the curve list and the trim loops unchanged.
int BreakCurveOnSurface(Bspline* curve);

// BreakCurveOnSurface on every curve of the surface's curve list; the first failure stops the
// walk and gives -2 (curves already broken stay broken). 0, -2 also for a null surface.
int BreakAllCurvesOnSurface(Bspline* srf);
