// Least-squares fitting of non-rational 3D curves to ordered points: the penalised fitting
// engine on a given knot vector, the routines every fitting driver shares (empty curves,
// chord-length parameters, uniform knots, projection of the points onto a fit), the fit on a
// given break list with parameter correction, and the smoothing of a closed fit's seam.
//
// Points are three float arrays with one double parameter each. Fit weights always come in the
// order roughness, tension, sigma: roughness divides both smoothing energies, tension shares
// them between the first-derivative energy (tension) and the second-derivative energy
// (1 - tension), and 1 / sigma^2 weighs the data. The energies are scaled by the points' extent
// and the parameter range, so they do not depend on the model's units; sigma does: it is a
// length in model units (the points' noise level), so the same weights smooth a small model
// more than a large one.
//
// Band storage of the normal matrix: N rows of degree + 1 doubles holding the upper band of the
// symmetric matrix, entry (i, j), j >= i, in row i, column j - i.
//
// Failures: -2 (null for the constructors) for bad input or exhausted memory, with the call's
// scratch released; a failed fit leaves the curve's control points as they were.
#pragma once

#include "bspline/smake.h"

struct Cloud;

// ---- Shared routines -------------------------------------------------------------------------

// A zeroed 3D curve of the degree with `interior` interior knots: a knot array of interior +
// 2 (degree + 1) doubles (values unset) and X, Y, Z rows of interior + degree + 1 zeros. Null
// (with nothing left allocated) for a negative count, a degree outside 0..22, or no memory.
Bspline* allocate_curve3(int interior, int degree);

// t[0] = 0 and t[i] = t[i-1] + |p_i - p_(i-1)| (in double), then divided by the total so that
// t[n-1] = 1; every t[i > 0] is 1e-10 when the total is at most 1e-10 (coincident points). With
// n < 2 only t[0] is written and 0 returned; a null array writes nothing and returns 0. Returns
// the total chord length.
double normalize_tarray3(const float* x, const float* y, const float* z, int n, double* t);

// A clamped uniform knot vector for the curve's degree p and interior count m. wrap < 1: step
// 1 / (m + 1) on [0, 1]. wrap >= 1: step 1 / (m - 2 wrap + 1) and domain [-wrap step,
// 1 + wrap step], so that the m - 2 wrap + 1 middle spans cover [0, 1] exactly (the layout of a
// fit to wrapped points). The domain is stored in the curve and returned in tmin, tmax (either
// may be null). Nothing is written when m - 2 wrap + 1 < 1 or the curve has no knot array, nor
// (error state -2) when its structure is not sound (bsvalid).
void assign_uniform_curve_knots3(Bspline* curve, int wrap, double* tmin, double* tmax);

// The control points of the curve (its degree, knots and domain umin..umax as set) fitted to
// points (x, y, z)[i] at parameters t[i]: data terms weighted 1 / sigma^2 (1 for sigma below
// 1e-6), the first- and second-derivative Gram energies weighted from tension and roughness
// and the sizes of the points' box and the domain, and a penalty on the control polygon's legs
// that grows where few points lie (the two end control points are not penalised). The f control
// points fixedIndices[0..f-1] (strictly ascending) are held at fixedValues. -2 for a null or
// unsound curve (not a non-rational 3D curve of degree >= 1 with a sound knot vector), null
// arrays, n < 2, roughness <= 0 or a weight that is not finite, fixed indices out of order or
// range, a system without solution, or no memory.
int FindAllCurveCoefi3(Bspline* curve, double* t, float* x, float* y, float* z, int n,
                       double fixedValues[][3], int* fixedIndices, int f, double roughness,
                       double tension, double sigma);

// Clears columns 0..order-1 of the N x order band P and adds the polygon penalty: for j =
// 1..N-2 with w = weights[j] (1 when weights is null), w (|c_(j-1) - c_j|^2 + |c_j - c_(j+1)|^2)
// as a quadratic form in the control points. -2 for a null matrix, or an order below 2 when
// there are legs to store (N >= 3).
int ComputeCurvePanaltyMat(double** P, int N, double order, double* weights);

// The plain least-squares fit: unit data weights, no energies and no penalty. -2 as
// FindAllCurveCoefi3, and when some control point has no point in its support (singular).
int Curve3LeastSqFit(Bspline* curve, double* t, float* x, float* y, float* z, int n,
                     double fixedValues[][3], int* fixedIndices, int f);

// Moves every t[i] to the parameter of the closest curve point from its current value (5
// refinement steps within the domain) and writes the squared distance to out[i]. -2 for a null
// argument, an unsound or non-3D curve, or n < 0.
int PointCurve3Diff(Bspline* curve, double* t, float* x, float* y, float* z, int n, double* out);

// ---- Given break list, closed seams ------------------------------------------------------------

// A curve of the degree fitted to the cloud's points on the break values breaks[0..nb-1] (the
// domain start, the interior knots and the domain end, mapped to [0, 1]), its end control
// points held at the first and last point, with the current Global_Roughness, Global_Tension
// and Global_Sigma; then five passes that move each point's parameter to its closest point on
// the fit and fit again. closed: the fit runs on a copy of the cloud that ends where it starts
// and each fit gets a curvature-continuous seam (CloseCurve mode 2). t receives the final
// parameters and must hold the closed copy's count (one more than the cloud's when its ends
// differ). Null for a cloud of fewer than 2 points, nb < 2, breaks that are not finite and
// non-decreasing with a positive range or that repeat a value more than degree times, a degree
// outside 1..22, a closed fit of fewer than 4 control points, a failed fit, or no memory.
// The global weights and the closing gap mean what they mean for points of unit size: the fit
// runs on a copy of the points scaled to a box of unit longest side (cloud/pcopy) and is scaled
// back.
Bspline* FitCurveBsplineWithGivenKnots(Cloud* cloud, double* breaks, int nb, double* t,
                                       int degree, int closed);
// The same; correct = 0 returns the first fit without the correction passes.
Bspline* FitCurveBsplineGivenKnots_Host(Cloud* cloud, double* breaks, int nb, double* t,
                                        int degree, int closed, int correct);

// Smooths the seam of a curve whose first and last control points coincide (P_0 = P_(N-1)).
// Mode 0: nothing. Mode 1: P_1 and P_(N-2) each move halfway to where first-derivative
// continuity across the seam would put them. Mode 2: P_1 and P_(N-2) are set so that the first
// and second derivatives agree across the seam (degree 2 and above), all other control points
// held. A 2D curve keeps its z row absent. 0; -2 for a surface, a rational or unsound curve, a
// mode outside 0..2, fewer than 3 control points (mode 1) or 4 (mode 2), or end spans of zero
// length.
int CloseCurve(Bspline* curve, int mode);

// ---- End continuity ------------------------------------------------------------------------
// End conditions cont[e] for the start (e = 0) and the end (e = 1) of a fitted curve:
//   negative  free end;
//   0         the end control point held at the cloud's end point;
//   1, 2, 3   the first 1, 2 or 3 control points from that end held so that the curve meets
//             neighbour[e] in position, tangent or curvature at the neighbour's end nearer to
//             neighbourParam[e] (its end on a tie); without a neighbour, as 0;
//   4         the end control point at the cloud's end point E and the next at E + s_e
//             tangent[e] (tangent[e] taken as given, not normalised).
// s_e = scale[e] length / (3 (m + 1)), length the cloud's chord length (1 for closed clouds), m
// the interior knot count. Neighbours are 3D curves, or curves on surfaces (measured through
// their owner) for conditions 1 and 2.

// Fits one curve per cloud on uniform knots, nCtrl control points (closed: at least degree + 1
// spans, fitted to the wrapped cloud and cut back to a closed curve), joined at its ends as cont
// says (open fits insert the neighbours' end points into a copy of the cloud first). An entry is
// null for a cloud of fewer than 2 points and for a fit that failed (the error state is cleared
// after a fit's own failure, kept after running out of memory). The caller's clouds are not
// changed; cont may come back lowered (see CalculateControlPtsToBeFixed). With showMessages the
// status line reads "Fitting curve i of n ...". Null when the result array or a point insertion
// cannot be made.
Bspline** FitCurveWContinuity(Cloud** clouds, int nClouds, int closed, int nCtrl, int degree,
                              int cont[2], Bspline* neighbour[2], double neighbourParam[2],
                              double scale[2], double tangent[2][3], double roughness,
                              double tension, double sigma, int showMessages);

// Sets uniform knots (wrap as assign_uniform_curve_knots3), holds the control points the end
// conditions ask for, and alternates the penalised fit with moving each t[i] to its closest
// curve point, until the rms distance falls below 1e-6 of the points' extent, rises, or falls by
// less than 0.5% (at most 20 passes, 5 from 1000 points). The curve keeps the last fit and t the
// last projection. -2 for null x, y, z, t or curve, n < 1, or a failed fit or projection.
int Curve3Approximate(float* x, float* y, float* z, double* t, int n, Bspline* curve, int wrap,
                      int cont[2], Bspline* neighbour[2], double scale[2],
                      double neighbourParam[2], double tangent[2][3], double length,
                      double roughness, double tension, double sigma);

// The control points the end conditions hold, ascending by index: *indices and *values (x, y, z
// per point) are new arrays the caller frees with Free, *count their length. A curve of degree
// below 2, or a neighbour of degree below 2, lowers its conditions to at most 2 in the caller's
// cont array; when the two ends would hold more control points than the curve has, knots are
// inserted in its largest spans first. s[e] is s_e, ends[e] the cloud's end points. -2 (outputs
// null and 0) for a null or unsound curve, a neighbour that cannot be evaluated, a vanishing
// neighbour tangent, or no memory.
int CalculateControlPtsToBeFixed(Bspline* curve, double s[2], int cont[2], Bspline* neighbour[2],
                                 double** values, int** indices, int* count,
                                 double neighbourParam[2], double ends[2][3],
                                 double tangent[2][3]);

// A new cloud: the cloud's points with the nearer end point of neighbour[0] put before the first
// and that of neighbour[1] after the last (each when that neighbour is given); cont is not read.
// The cloud is not changed. Null for a null cloud, a neighbour that cannot be evaluated, or no
// memory.
Cloud* InsertContinuityPoints(Cloud* cloud, int cont[2], double neighbourParam[2],
                              Bspline* neighbour[2]);

// The 3D curve of a curve on a surface near one end: its first two spans (atEnd 0) or its last
// two, or the whole curve without interior knots, made 3D through the owner surface. Null for a
// curve without owner, or on failure.
Bspline* Get2SpanCurve3ForCurve2(Bspline* curve2d, int atEnd);
