// The gridded Cartesian engine: a height field fitted to a regular grid cloud (type 17). A
// bicubic surface is fitted by least squares without smoothing, one direction after the
// other, each observation folded into banded factors as it arrives (square-root-free Givens
// rotations); other degrees go through the thin-plate fit (splinefit/aspline).
#pragma once

struct Bspline;
struct Cloud;

// Property block A becomes (0, 0.0, 1.0e6, 0.1); a record without Z gets uniform knots over
// its domain. The grid runs x along its rows (ptsPerRow points, column step) and y across them
// (nscans rows, row step); with a column axis code other than 0 it is read transposed (x
// across the rows). Returns nothing: a failure (memory, a grid whose counts do not match its
// points, a record with Z that fails the record check: -2) shows in the error state; after a memory failure the record's knot vectors and
// coefficient matrices are released and its references to them cleared.
void gcar_spline_fit(Bspline* srf, Cloud* cloud);

// Bicubic least squares on uniform knots: z holds nx ny heights, x fastest (z[i + j nx]) at
// (xs[i], ys[j]), both increasing; coef receives the (mU + 4)(mV + 4) coefficients v fastest
// (coef[i nV + j]). wrapU 1 takes the periodic basis along u. A grid value within 1e-5 of the
// domain's length of an interior knot counts as lying beyond it. Unknowns no value reaches come
// out 0. A null array is refused with the error state -2, coef untouched.
void find_gcar_coefi(const float* xs, int nx, const float* ys, int ny, const float* z, int mU, int mV,
                     const double* knotsU, const double* knotsV, double* coef, double umax, double vmax,
                     double umin, double vmin, int wrapU);
