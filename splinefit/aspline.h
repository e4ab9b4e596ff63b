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
