// Thin-plate smoothing fit of a height field's z coefficients to a cloud, and the parts of its
// symmetric band system. The shrink-wrap fits hold boundary coefficients with it; the surface
// fits of splinefit/ reach it through their documented names (FindThinPlateCoefi and its
// helpers in splinefit/aspline), which call these.
//
// Unknowns: with nU = degreeU + interiorU + 1 columns and nV rows, unknown k = j nU + i is the
// control point of column i (u) and row j (v). Band storage is that of foundation/bandsolve.h
// with N = nU nV rows and W = nU degreeV + degreeU + 2 columns: one more than the couplings
// need, the last column stays zero, so the fixed-unknown elimination can narrow the band.
//
// The fit weights come from the surface's property block A (fitProps): tension T, roughness R,
// sigma (the weight of every point). A point of weight w > 0 enters with factor 1 / w^2, one
// of weight w <= 0 with factor 1. With a = 0.1 and b = 0.1 (height range) / (longer side of
// the domain), the membrane weight is (a / b)^2 T / R on both squared first derivatives and
// the bending weight beta = (a^2 / b)^2 (1 - T) / R on the squared second derivatives in u and
// v, 2 beta on the squared mixed derivative: T = 1 is a pure membrane, T = 0 pure bending.
#pragma once

struct Bspline;
struct Cloud;

// Fits srf's Z matrix to the cloud's (x, y, z) taken as (u, v, height) (FindThinPlateCoefi).
// srf must come with degrees, interior counts, domain, knot vectors and a Z matrix. Unknowns
// fixIdx[0 .. nFix-1] (strictly ascending) are held at fixVals; fixIdx comes back as given.
// A gridded cloud (type 17, row axis code 1, column axis code 0, ptsPerRow x nscans points)
// is assembled per row and column; every other cloud point by point.
// -2 with Z untouched: a record that is not a sound surface with its Z matrix, a cloud with
// no points, fewer than 3 scattered points, bad fixed indices, a singular system (an unknown
// no point reaches and no smoothing couples), or memory.
int ThinPlateFitHeights(Bspline* srf, Cloud* cloud, double* fixVals, int* fixIdx, int nFix);

// The scattered assembly and solve (EliminInitValofCoefi): coef receives the nU nV unknowns.
// spansU = interiorU + 1, spansV likewise. -2 for a null surface or cloud, fewer than 3 points,
// spans that disagree with the surface, a singular system or memory.
int ThinPlateScatteredSolve(Bspline* srf, Cloud* cloud, int spansU, int spansV, double* pointWeights,
                            double a, double b, double R, double T, double* coef, double* fixVals,
                            int* fixIdx, int nFix);

// The gridded assembly and solve (FitGriddedDataThinPlateBspline): zs and pointWeights hold
// nx ny values row by row (j nx + i) at (xs[i], ys[j]). The smoothing term is added only when
// srf's property block flag is 1. -2 for a null array or surface, nx < 1 or ny < 1, a
// singular system or memory.
int ThinPlateGriddedSolve(Bspline* srf, const double* xs, const double* ys, const double* zs, int nx,
                          int ny, double a, double b, const double* pointWeights, double R, double T,
                          double* coef, double* fixVals, int* fixIdx, int nFix);

// The smoothing band (SurfStiffMatrix): sum over the five weights w = (membrane u, membrane
// v, bending u, mixed, bending v) of w times the tensor products of the directions' Gram
// matrices of the basis and its derivatives. A new N x W matrix (allocate_matrix_ff) in the
// caller's scope, or null for a null or unsound surface, a Gram-matrix failure or memory.
double** ThinPlateStiffness(Bspline* srf, const double w[5]);

// The control-net penalty sum_k w_k sum over the grid neighbours k' of k (c_k - c_k')^2, as a
// band (ComputeCntrlPntsPanaltyMat): P (nU nV rows, W columns) is overwritten. Weights below
// 1e-6 in magnitude add nothing; null cpWeights means 1 everywhere. Returns 0.
int ControlNetPenaltyBand(double** P, int nU, int nV, int W, const double* cpWeights);

// |max z - min z| of the n >= 1 points, or 0.1 when that is below 1e-6 so that the smoothing
// weights of a flat cloud stay finite (FindUObs). Writes nothing for a null array or n < 1.
void HeightRangeOfPoints(const float* x, const float* y, const float* z, int n, double* out);
// The same over double points (FindUObs_d).
void HeightRangeOfPoints(const double* x, const double* y, const double* z, int n, double* out);
