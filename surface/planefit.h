// The plane through a ring of 3D curves, trimmed by them (the plane itself comes from
// curve/planefit; the trim loop needs the surface floor's snipping and closing).
#pragma once

struct Bspline;

// The plane patch through the curves (BsplinePlaneFrom3DLines, which also orders the curves
// head to tail in place) with one outer trim loop: each curve projected onto the patch as a
// curve on it, the loop's curves cut back at their mutual intersections and its gaps closed
// within GlobalTrimGapTol. 0 with the patch in *patch (the caller's); -2 with *patch null when
// the plane cannot be made, a projection fails, the loop crosses itself or memory runs out.
int CreatePlaneBsplineTrimmedToCurves(Bspline** curves, int n, Bspline** patch);
