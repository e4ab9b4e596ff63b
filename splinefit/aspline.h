// Thin-plate smoothing fits of height fields and their banded solver.
//
// Band storage: that of foundation/bandsolve.h (the upper band of a symmetric matrix, row k
// = A[k][k], A[k][k+1], ..., A[k][k+W-1]). Unknowns, band width and fit weights: see
// shrinkwrap/platefit.h, where the fit is implemented for the shrink-wrap fits below this
// floor; the names here are the fitting subsystem's own.
#pragma once

struct Bspline;
struct Cloud;

// SolveSymBandSystem with one right-hand side: rhs (n doubles) becomes x, band becomes its
// factors. Returns 0, or -2 when a pivot is exactly zero.
int solve_linear_eq_h(double** band, int n, int W, double* rhs);

// Fits srf's Z matrix to the cloud taken as a height field over srf's domain, holding unknowns
// fixIdx[0 .. nFix-1] (k = row nU + column, strictly ascending) at fixVals; fixIdx comes back
// as given. Weights from srf's property block A. 0, or -2 with Z untouched and the error state
// set: an unsound surface or one without Z, an empty cloud, fewer than 3 scattered points, bad
// fixed indices, a singular system (an unknown nothing determines), or memory.
int FindThinPlateCoefi(Bspline* srf, Cloud* cloud, double* fixVals, int* fixIdx, int nFix);
// The same; the last argument is not read.
int find_plate_coefi(Bspline* srf, Cloud* cloud, double* fixVals, int* fixIdx, int nFix, int unused);

// The scattered assembly and solve into coef (nU nV values); spansU = interior u + 1, spansV
// likewise. -2: a null surface or cloud, fewer than 3 points, spans that disagree with the
// surface, a singular system, or memory.
int EliminInitValofCoefi(Bspline* srf, Cloud* cloud, int spansU, int spansV, double* pointWeights,
                         double a, double b, double R, double T, double* coef, double* fixVals,
                         int* fixIdx, int nFix);
int elimin_init_valof_coefi(Bspline* srf, Cloud* cloud, int spansU, int spansV, double* pointWeights,
                            double a, double b, double R, double T, double* coef, double* fixVals,
                            int* fixIdx, int nFix);

// The gridded assembly and solve: zs and pointWeights hold nx ny values, row by row (j nx + i).
// -2: a null array or surface, nx < 1 or ny < 1, a singular system, or memory.
int FitGriddedDataThinPlateBspline(Bspline* srf, double* xs, double* ys, double* zs, int nx, int ny,
                                   double a, double b, double* pointWeights, double R, double T,
                                   double* coef, double* fixVals, int* fixIdx, int nFix);

// The smoothing band for the weights (membrane u, membrane v, bending u, mixed, bending v): a
// new N x W matrix, or null for a null surface, a Gram-matrix failure or memory.
double** SurfStiffMatrix(Bspline* srf, const double w[5]);
// P (nU nV rows, W columns) becomes the band of sum_k w_k (c_k - c_k')^2 over the grid
// neighbours k' of every k; null cpWeights weighs every point 1. 0; -2 for a null P or a band
// too narrow for the neighbour at distance nU.
int ComputeCntrlPntsPanaltyMat(double** P, int nU, int nV, int W, const double* cpWeights);
// out = |max z - min z| of the n >= 1 points, 0.1 when that is below 1e-6.
void FindUObs(const float* x, const float* y, const float* z, int n, double* out);

// ---- Uniform cubic basis values -------------------------------------------------------------
// The four cubic basis functions that are non-zero in a span of a uniform knot vector, at the
// local parameter t in [0, 1] of the span; h is the span length and d the derivative order
// 0 .. 3 (any other order counts as 3), taken with respect to the global parameter (order d
// carries 1 / h^d). Reverse order: out[0] belongs to the function that starts in this span,
// out[3] to the one that ends in it.

// Periodic (wrapped) uniform cubic B-spline.
void cmp_wraped_bspl(double t, double h, int d, double out[4]);
// Clamped cubic (four equal knots at each end) on nSpans uniform spans, span counted from 1.
// Spans away from the three at either end take the periodic values.
void cmp_unwraped_bspl(double t, double h, int d, double out[4], int span, int nSpans);
// The same evaluated for every span of any span count; zeros for nSpans < 1 or a span outside
// 1 .. nSpans.
void cmp_multipleknot_bspl(double t, double h, int d, double out[4], int span, int nSpans);

// ---- Helpers of uniform bicubic grids (no caller in the kernel) -----------------------------
// The 4 x 4 Gram matrix of the s-th derivatives (s = 0 .. 3) of the four segments of the uniform
// cubic B-spline on one unit span, t^3 / 6 first, into out[i 23 + j] (rows 23 doubles apart);
// zeros for other s.
void shift_integral(int s, double* out);
// Refines srf's uniform bicubic coefficient grid (Z of ny / 2 + 3 rows by nx / 2 + 3 columns,
// nx and ny even) to ny + 3 by nx + 3 coefficients of twice the spans, replacing Z: the old spline
// sampled at its knots and half-span points, the end samples scaled by 0.8511, the 1-4-1 systems
// solved along u and then along v. work holds (ny / 2 + 3)(nx + 3) doubles, tmp 3 (nx + ny) + 18.
// Knots and interior counts are left to the caller. A record of other degrees or sizes is
// refused (error state -2).
void interpolate_coefi(int nx, int ny, double* work, double* tmp, Bspline* srf);
// Does nothing.
void setup_itera_improve_coefi();
// sweeps successive over-relaxation sweeps (factor 1.5) on the n1 x n2 grid coef (n1 fastest)
// for the tensor 1-4-1 stencil system A coef = rhs: each c becomes c + 1.5 (g - c), g = (its
// right-hand side - the stencil's neighbour terms) / 16.
void itera_improve_coefi(int n1, int n2, double* coef, const double* rhs, int sweeps);
