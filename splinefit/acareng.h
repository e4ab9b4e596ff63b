// The scattered-data Cartesian engine: a height field z = f(x, y) over the surface's domain
// fitted to any cloud by the thin-plate smoothing fit (splinefit/aspline).
#pragma once

struct Bspline;
struct Cloud;

// Property block A becomes (1, tension, roughness, sigma); a record without Z gets uniform
// knots over its domain (assign_gcar_knots); then the thin-plate fit, unknowns fixIdx held at
// fixVals. Returns nothing: a failure shows in the error state, and the record's knot vectors
// are then released and its references to them cleared.
void acar_spline_fit(Bspline* srf, double* fixVals, int* fixIdx, int nFix, Cloud* cloud, double tension,
                     double roughness, double sigma);
