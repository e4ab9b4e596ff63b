// Recognition of surfaces as spheres, cylinders, cones and planes (the recognisers are in
// quadric/quadrics and curve/quadrics; the sampling needs the construction floor).
#pragma once

struct Bspline;

// Request codes: 0 any, 1 cylinder, 2 sphere, 3 cone, 4 plane. A surface already of type 23,
// 21, 22 or 25 is only flagged (request 0 or its own). Otherwise a 20 x 20 grid of its points
// (trims ignored) is tried as sphere, cylinder, cone, plane in that order (request 0) or as the
// named one; a form is kept only when the surface lies within 1e-3 of the diagonal of its
// samples' box of it (checked on a 39 x 39 grid), else the next kind is tried; found[i] is set
// to 1 on success and never cleared. A surface that cannot be sampled
// stays unrecognised. Always 0 (also for n < 1).
// The trials run on a copy of the surface moved to the centre of its control-point box, scaled by
// a power of two to unit size and taken as closed in u, so a surface is recognised alike at
// every size, anywhere in space and whatever its closed flag (an extruded circle, a half
// cylinder); the form found is mapped back to the surface's place and units.
int IdentifySurfQuadric(Bspline** surfaces, int n, int request, int* found);
