// Thin-plate reshaping of 3D curves through given points, Gram matrices of a B-spline basis
// and its derivatives by Gauss-Legendre quadrature (dense form), and the snapping of two
// families of curves (a curve network) onto each other at their mutual closest points.
//
// Matrices are dense row-pointer matrices of nCtrl x nCtrl, nCtrl = nKnots - degree - 1.
// Degrees above 4 are refused by the quadrature.
#pragma once

#include "bspline/smake.h"

// Gauss-Legendre nodes (ascending) and weights on [-1, 1]: row r holds the r-point rule in
// entries 1..r, r = 1..5. Rewritten by every ComputeGramMatrixGQ and ComputeDiffGramMatrix.
extern double gqSample[6][6];
extern double gqWeight[6][6];
void InitGaussQuadratureCoefs();

// N(i, order)(t) by the Cox-de Boor recursion; knot differences within tol count as zero.
// 0 with error state -2 for null knots, i < 0 or an order outside 1..kMaxSplineDegree + 1.
double NubValRecursive(const double* knots, int i, int order, double t, double tol);

// G (caller's, nCtrl x nCtrl) receives the integral of N(i) N(j) over the domain, for the
// basis of NubValRecursive (tol 1e-6 of the domain: knot intervals shorter than that carry
// nothing), integrated on the shared basis of bspline/nubinner. 0; -2 for a degree above 4 or
// when memory ran out.
int ComputeGramMatrixGQ(const double* knots, int nKnots, int degree, double** G);
// The same for the r-th derivatives; entries below 1e-6 in magnitude are set to 0. -2 also for
// r > degree or degree - r above 4.
int ComputeDiffGramMatrix(const double* knots, int nKnots, int degree, int r, double** G);

// Coefficients of the r-th derivative of sum c[i] N(i, degree) in the degree - r basis of the
// same knots: out holds nKnots values (the first nKnots - degree - 1 + r meaningful). -2 for
// r > degree.
int NSplineDerivative(const double* knots, int nKnots, int degree, int r, const double* coefs,
                      double* out);
// The r + 1 coefficients of the r-th derivative of N(i, degree) on N(i .. i + r, degree - r).
int SingleSplineDerivative(const double* knots, int nKnots, int i, int degree, int r, double* out);

// The Gram matrices of the curve's second, first and zeroth derivatives, new matrices the
// caller frees (matrix_free_ff). -2 (nothing allocated) on failure.
int ComputeCurveThinPlateWTensionMatrix(const Bspline* curve, int* nCtrl, double*** G2, double*** G1,
                                        double*** G0);

// The control points that m constraint rows of n entries move, ascending in idx (room for n):
// those a row involves, gaps of one closed, an end only for a row that involves that end
// alone; every point when there are more rows than that. -2 when none or too few.
int SelectCntrlPntChanged(double** C, int m, int n, int* idx, int* k);
// K (caller's, order k + m) = [[A(idx, idx), C(:, idx)'], [C(:, idx), 0]]. -2 for k < m,
// k > n or a null array.
int SelectThinPlateConstraintMatrix(double** A, double** C, int n, int m, const int* idx, int k,
                                    double** K);

// Reshapes the 3D curve in place so that it passes through points[k] at params[k] while its
// thin-plate-with-tension energy changes as little as possible. Knots may be added (and a
// degree-1 curve raised to 2). 0, or -2 with the curve as it came (knots, degree and points).
int ReshapeCurve3ToNpnts(Bspline* curve, const double (*points)[3], int n, const double* params,
                         double tension, double roughness, double sigma);
// The knots ReshapeCurve3ToNpnts adds for the parameters, in place (points is not read). 0, or
// -2 with the curve as it came.
int DistributeReshapeCrvKnots(Bspline* curve, const double (*points)[3], const double* params, int n);

// dst takes src's degree, knots, domain and control points; its properties and exact form are
// dropped. 0; -2 for null, for records whose structure is not sound (bsvalid; error state -2),
// for a dst or src that is not a curve or curves of different dimensions (error state -2), or
// when memory ran out (dst unchanged).
int UpdateCurveBsplineCntrlPts(Bspline* dst, Bspline* src);

// Snaps two curve families: mode 0 reshapes every curve of A through the closest points of B,
// mode 1 B through A, mode 2 both through the midpoints. makeCompatible gives each reshaped
// family one knot vector first. *newA and *newB are new arrays of new curves (the inputs never
// change), freed by the caller (FreeBsplineArray). 0 or -2 (outputs untouched).
int SnapTwoCrv3Array(Bspline** curvesA, Bspline** curvesB, int nA, int nB, int mode, double tension,
                     double roughness, double sigma, int makeCompatible, Bspline*** newA,
                     Bspline*** newB);
// A new array of copies of the n curves; -2 when one is not a curve or memory ran out.
int CopyCrvBsplArray(Bspline** curves, int n, Bspline*** copies);
// For every pair (i, j) the closest parameters parA[i][j] on A_i and parB[i][j] on B_j
// (nA x nB matrices) and the two points, in blocks of 3 nA nB doubles: all x, then all y, then
// all z, pair (i, j) at i nB + j. -2 when an intersection fails.
int ComputeCrvNetSnapPoints(Bspline** curvesA, int nA, Bspline** curvesB, int nB, double** parA,
                            double** parB, double* pointsA, double* pointsB);
