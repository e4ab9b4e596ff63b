// The scattered engine of the cylindrical and spherical fits on canonical clouds (x the angle
// theta in radians, y the height or polar angle, z the radius): a plain height-field fit when
// the angle range is not a full turn, else a fit closed in u made by replicating the data across
// the seam.
#pragma once

struct Bspline;
struct Cloud;

// Spans added on each side of the seam when wrapping; set to 2 degreeU + 1 before every
// wrapped fit and read by the wrapping steps below.
extern int WRAP_SPAN;

// WRAP_SPAN = 2 p + 1; a u domain that is not a full turn (|umin - umax + 2 pi| >= 0.01) gets
// acar_spline_fit; a full turn marks the surface closed in u and fits it wrapped
// (wrap_in_theta_sparse). No result: failures show in the error state.
void acyl_spline_fit(Bspline* srf, Cloud* canon, double tension, double roughness, double sigma);

// The closed fit in u: the data near either end of the angle range are copied one period
// (theta max - theta min of the canonical box) across, the surface gets WRAP_SPAN extra uniform
// spans on each side for the fit, and keeps its middle columns, the first p of which are then
// averaged with the last p. The result has uniform unclamped u knots (knot[p] = umin,
// knot[p + interior + 1] = umax). The surface's domain and interior count and the cloud are
// restored on every exit; on failure the surface's knots and matrices are released.
void wrap_in_theta_sparse(Bspline* srf, Cloud* canon, double tension, double roughness, double sigma);

// Into x3, y3, z3 (room for 3 n points): per canonical point, its copy one period up when it
// lies within WRAP_SPAN spans hu[0] above theta min (not on it), its copy one period down when
// within that of theta max, then the point itself. *count receives the number written.
void make_arrays_acyl(float* x3, float* y3, float* z3, int* count, Bspline* srf, Cloud* canon,
                      const double* hu);
// The wide u knot vector (interior + 2 WRAP_SPAN interior knots, uniform with step h[0] from
// umin - WRAP_SPAN h[0]), clamped v knots on [vmin, vmax] with uniform interior knots, Z of
// nV x (p + 1 + 2 WRAP_SPAN + interior u) and X, Y of nV x nU. On failure (memory, or a record
// that is not a surface with counts in range, BsplineCountsSound, the wide knot count included)
// the record keeps what it had and the error state is set.
void assign_acyl_knots(Bspline* srf, double umin, double vmin, double umax, double vmax, const double h[2]);
// dst (mV + q1 rows, mU + p1 columns) takes columns WRAP_SPAN .. of src in every row.
void copy_back_coefi_acyl(double** dst, double** src, int mU, int mV, int p1, int q1);
// In every row, columns k - 1 and mU + k (k = 1 .. p1 - 1) both receive their mean: the first
// p columns repeat the last p.
void equalize_coeficents_cyl(double** Z, int mU, int mV, int p1, int q1);
