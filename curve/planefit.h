// The plane through a set of 3D curves as a plane patch (quadric/planefit makes the patch; its
// curve sampling needs the curve floor).
#pragma once

struct Bspline;

// Orders the curves head to tail in place (OrderCurves), samples each with degree + 1
// parameters per knot span and returns the least-squares plane of all samples as a plane patch
// over their box. Null for no curves, a null entry or one that is not sound (bsvalid; error
// state -2), samples that fit no plane (fewer than
// three, or all on one line) or exhausted memory.
Bspline* BsplinePlaneFrom3DLines(Bspline** curves, int n);
