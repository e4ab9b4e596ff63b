// Knot vectors for approximation and conversion: clamped uniform vectors, distinct values,
// samples span by span, multiplicities capped, knots added in the largest spans, interior knots
// ranked by what their removal would change, and the reduced interior knots of a surface
// direction to be re-approximated with another degree.
//
// Every array returned is a new block (Malloc) the caller releases with Free.
#pragma once

#include "bspline/smake.h"

// Clamped uniform knot vector of n values on [a, b] for degree p. Null for n < 2p + 2 (no room
// for the two clamped ends: nothing to divide the range by), p < 1, or on memory failure.
double* GetUniformKnots(int n, int p, double a, double b);
// The distinct values of the sorted vector (n its full length; only the first n - 1 entries are
// compared, so the last entry of a clamped vector adds nothing) into *distinct, count in *count.
// Failure shows in the error state only.
void FindDistinctKnots(int n, const double* knots, int* count, double** distinct);
// m samples per interval between distinct knots (equal within 0.001 of the range) and the
// domain end: (intervals) m + 1 values into *params. The count, 0 on failure.
int SampleCurvePlate(const Bspline* curve, int m, double** params);
// Close values of knots (within tol) made equal in place (the last one kept), then a copy in
// which no value occurs more than maxMult times into *out. The new length; 0 on failure.
int CleanKnotsToSpecMult(double* knots, int n, double tol, int maxMult, double** out);
// A copy of the clamped vector with up to *extra midpoints added in the largest spans, no span
// getting a second one before every span (longer than 1e-6 of the range) has one; *extra
// receives how many were added (0 with an unchanged copy when *extra <= 0). Either way a new
// array outside every tracking scope, the caller's to free. Null on failure: memory, and (error
// state -2) null knots or extra, n < 1, or, with knots to add, p < 0 or n < 2 p + 2.
double* InsertNewKnotsInLargeSpan(double* knots, int n, int p, int* extra);
// For every interior knot entry the removal error bound of one copy weighted by the basis
// function of the control point it moves at that point's Greville abscissa (interior-knot count
// values, in knot order). Null on failure or for a curve without interior knots.
double* GetCurveKnotsRanking(const Bspline* curve);
// The interior knots for direction dir of a surface to be re-approximated with degree d there;
// *count receives their number (at most the direction's interior-knot count). tol is not used.
// Null with *count 0 when the direction has no interior knots or on failure.
double* GetReducedInternalKnots(const Bspline* srf, int d, int dir, double tol, int* count);

// ---- Piecewise polynomial (power-basis) forms ------------------------------------------------
// One polynomial per distinct knot span, written in the local parameter s = (t - b_i) /
// (b_i+1 - b_i) that runs from 0 to 1 over span i. Coordinate c of segment i is
// sum_k coefficients[c][k] s^k. For a rational curve the pieces are the degree-p Taylor
// polynomials of the rational segment at its start (exact at s = 0 up to order p only).
struct PpolySegment {
  int degree;
  int dim;
  int coefficientCount;   // degree + 1
  double** coefficients;  // dim rows of degree + 1 (allocate_matrix_ff)
};

struct PpolyCurve {
  int degree;        // the common degree: the largest of its segments'
  int segmentCount;  // distinct knot values less one
  int dim;           // 2 for a curve on a surface, else 3
  double* breakpoints;     // segmentCount + 1 ascending values
  PpolySegment** segments;  // segmentCount pointers
};

// Coefficient [k][l][c] of s^k r^l (s local in u, r local in v), coordinate c.
struct PpolyPatch {
  int degreeU;
  int degreeV;
  int dim;  // 3
  int countU;  // degreeU + 1
  int countV;  // degreeV + 1
  double*** coefficients;  // allocate_3dim_matrix_ff(countU, countV, dim)
};

struct PpolySurface {
  int degreeU;  // the common degrees: the largest of its patches'
  int degreeV;
  int segmentCountU;
  int segmentCountV;
  int dim;  // 3
  double* breakpointsU;
  double* breakpointsV;
  PpolyPatch*** patches;  // [u segment][v segment]
};

// The power-basis form of a curve into *pp (its previous contents are not read). The curve is
// read only: it is bit-identical afterwards on every exit. 0; -2 for a null or unsound curve or
// when memory runs out (*pp then holds nothing to free). What hangs from *pp survives every
// tracking scope and is released with FreePpolyCurve.
int bspline2ppolyCurve(Bspline* curve, PpolyCurve* pp);
// The same for a surface, one patch per knot-span rectangle. 0 or -2 as above.
int bsurf2ppoly(Bspline* srf, PpolySurface* pp);
// Release what hangs from the records (the top records are the caller's) and zero them.
void FreePpolyCurve(PpolyCurve* pp);
void FreePpolySurface(PpolySurface* pp);

// ---- Least-squares fit of a surface to a sampled grid ---------------------------------------
// The options of the grid fit; the caller keeps the record.
struct GridFitParams {
  int deriveFit;     // above 0: the old surface's first and second derivatives are matched too
  int boundaryMode;  // below 0: the system as it stands; 0: the boundary ring fixed first
  double roughness;  // divisor of the smoothing weights
  double tension;    // share a of the membrane weight (1 - a scales the others)
  double sigma;      // weight w of every sample: factor 1 / w^2 (1 for w <= 0)
  double curvWeightHigh, curvWeightLow;  // ends of the curvature-driven sample weight
  double penalty;                        // control-point penalty of every control point
  int weightByCurvature, usePenalty, smooth;
};

// The control points of newSrf (its degrees, knots and range set) fitted by weighted least
// squares to the grid x, y, z (point (i, j) at j nu + i, at (u[i], v[j])), with the optional
// thin-plate energy (smooth, weights from newSrf's property block and the options), control-point
// penalty, curvature weights (read from oldSrf), derivative matching (oldSrf's derivatives) and
// the fixed boundary ring. The normal equations are banded (W = pV nCtrlU + pU + 1) and solved
// for x, y and z at once. 1 with newSrf's X, Y, Z filled; 0 on failure: a null argument, a
// non-positive roughness when the smoothing or derivative weights need it, a singular system,
// a boundary curve that could not be fitted, memory. tol is not used.
int FitSurface3DGridData(const Bspline* oldSrf, Bspline* newSrf, const double* u, const double* v,
                         int nu, int nv, const double* x, const double* y, const double* z,
                         double tol, const GridFitParams* params);
// |max z - min z| of the n points, 0.1 when that is below 1e-6.
void FindUObs_d(const double* x, const double* y, const double* z, int n, double* hz);
// Per grid point (j nu + i) the weight high t + (1 - t) low, t = ln 2 (k - kmin) / kmax from
// k = |k1| + |k2| of srf there (t = kmin on a surface flat within 1e-6). Nothing written (error
// state -2) for a record that is not a sound surface (bsvalid).
void SetWeightsToDataPoints(const Bspline* srf, const double* u, int nu, const double* v, int nv,
                            double high, double low, double* weights);
// Adds to the band M (N rows, W columns) and the right-hand sides the matching of oldSrf's
// derivatives: weight 0.001 wd for the first-order kinds (1,0), (0,1), (1,1), 0.01 wd for
// (2,0), (0,2), (2,2). 1, or 0 when memory runs out, and (error state -2) for a record that is
// not a sound (bsvalid) surface or N, W that do not fit newSrf's net (N its control points, W at
// least q nCtrlU + p + 1).
int FitSurfaceWithDerivatives(const Bspline* newSrf, const Bspline* oldSrf, const double* u,
                              const double* v, int nu, int nv, double wd, double** M, int N, int W,
                              double* bx, double* by, double* bz);
// The derivative-matching normal equations into the zeroed band M and vectors rx, ry, rz; w
// holds the six weights in the order of the kinds above (M a row per control point of newSrf).
// 1, or 0 when memory runs out, and (error state -2) for a record that is not a sound (bsvalid)
// surface.
int GetDerivativeStiffMatFromBsplineBasis(const Bspline* newSrf, const Bspline* oldSrf,
                                          const double* u, const double* v, int nu, int nv,
                                          const double w[6], double** M, double* rx, double* ry,
                                          double* rz);
// Partial derivatives (du, 0) into A, (0, dv) into B and, when cross is set, (du, dv) into C,
// each an x block, a y block and a z block of nu nv values (j nu + i). 1, or 0 on failure.
int GetDerivativeArrayOfGridPoints(const Bspline* srf, const double* u, const double* v, int nu,
                                   int nv, int du, int dv, int cross, double* A, double* B,
                                   double* C);
// Fixes the boundary lines (f0 rows at v start, f1 columns at u start, f2 rows at v end, f3
// columns at u end, each count raised by one) at the control points of the four border curves
// and solves. The counts -1 (no line) and 0 (one line) are served; a larger count is refused.
// 1, or 0 on failure.
int FitSurfaceByFixingBoundaries(Bspline* newSrf, const double* x, const double* y,
                                 const double* z, int nu, int nv, int f0, int f1, int f2, int f3,
                                 double** M, int N, int W, double* bx, double* by, double* bz);
// The four border curves of the grid (first row, first column, last row, last column), fitted
// with newSrf's degree and knots in their direction; new records the caller frees. 1 when all
// four were made, else 0 (none kept; error state -2 for a newSrf that is not a sound surface,
// bsvalid).
int CreateBoundaryCurves(const Bspline* newSrf, const double* x, const double* y, const double* z,
                         int nu, int nv, Bspline** curves);
// One border curve of degree p with nCtrl control points: srf's knots of direction dir mapped to
// [0, 1], chord-length parameters, the fit's weights from srf's property block. NULL on failure.
Bspline* CreateBsplineBoundaryCurve(const float* x, const float* y, const float* z, int n,
                                    const Bspline* srf, int nCtrl, int p, int dir);
// Solves the band system with the listed unknowns (ascending indices) held at the given values;
// the full solution into bx, by, bz. 0; -2 (bx, by, bz untouched) for a null array, N or W
// below 1, nFixed below 0, an index outside 0..N-1, a singular reduced system or memory.
int FixBoundaryDerivativesAndSolve(double** M, int nFixed, int* idx, const double* fx,
                                   const double* fy, const double* fz, int N, int W, double* bx,
                                   double* by, double* bz);
// The banded L D Lt solve (SolveSymBandSystem) of three right-hand sides at once. 0, or -2 when
// a pivot is exactly zero.
int solve_linear_eq_h3D(double** M, int N, int W, double* bx, double* by, double* bz);
// Curvature kind 7 (Gaussian), 8 (mean) or 9 (|k1| + |k2|) on the grid u x v into out[j nu + i]
// (ComputeCurvatureGivenArrays of the curvature module, here for the fits). Other kinds write
// nothing; values below 1e-10 are 0. Where |Su x Sv| is below the single-precision 1e-6, a
// border point takes its neighbour's derivatives (CurvatureGridNeighbour) and is retried with
// retryTol (1e-15 here), an interior point takes the free-point value; still degenerate gives 0.
// Every threshold holds for the surface scaled to unit control-point diagonal, and the values
// are brought back to its units, so the answers do not depend on the unit of length.
void CurvatureOnParameterGrid(const Bspline* srf, double* out, const double* u, const double* v,
                              int nu, int nv, int kind);
// The same on the given grid or (uniform nonzero: u, v not read) the uniform nu x nv grid over
// the domain, with the neighbour's retry tolerance. Nothing is done when the scratch cannot be
// allocated.
void CurvatureOnGrid(const Bspline* srf, double* out, const double* u, const double* v, int nu,
                     int nv, int kind, int uniform, double retryTol);
// 1 / the control-point diagonal (1 for a collapsed or non-finite net): the factor that brings a
// surface's partials to unit size.
double CurvatureUnitScale(const Bspline* srf);
// Curvature of the kind from the five partials d = Su, Sv, Suv, Suu, Svv (3 doubles each, in the
// surface's units), judged and computed at unit size (partials times unit) and returned in the
// surface's units; false (value untouched) when the scaled |Su x Sv| is below tol or d is null.
bool CurvatureFromPartials(const double* d, int kind, double tol, double unit, double* value);
// At a free point whose normal degenerates: the partials one percent of the range inside the
// domain, the normal of ComputeSurfaceNormal at (u, v) itself; 0 when that normal vanishes too,
// and (error state -2) for a record that is not a sound surface (bsvalid).
double CurvatureAtFreePoint(const Bspline* srf, double u, double v, int kind, double unit);
// The stand-in of a degenerate grid point: a corner's diagonal neighbour, else the next point
// inward across its edge; -1 for an interior point (or a grid too small for a neighbour).
int CurvatureGridNeighbour(int g, int nu, int nv);
// Fills the 15 partials of grid point h.
using CurvatureNeighbourFn = void (*)(int h, double* d, const void* ctx);
// One grid point g with the fallbacks above; neighbour supplies the neighbour's partials.
double CurvatureAtGridPoint(const Bspline* srf, const double* d, int g, int nu, int nv, double u,
                            double v, int kind, double retryTol, double unit,
                            CurvatureNeighbourFn neighbour, const void* ctx);

// ---- Conversion of surfaces to new knot vectors -----------------------------------------------
// Each samples the old surface (trims ignored: callers pass copies without them) densely per
// span and fits a new non-rational surface of the chosen degrees and knots to the samples with
// FitSurface3DGridData; the new surface has the old one's range and property block A from
// params (flag smooth; tension, roughness, sigma). NULL for a null or unsound argument, counts or
// spans that give no knot vector, or failure (memory, a failed fit); the input is never changed.
// tol is handed to the fit, which does not use it.
//
// Degrees du, dv with a reduced set of the old interior knots (GetReducedInternalKnots).
Bspline* ConvertBspline(const Bspline* srf, const GridFitParams* params, int du, int dv, double tol);
// The old degrees, nU x nV control points on uniform knots.
Bspline* ConvertBsplineWUniformKnots(const Bspline* srf, const GridFitParams* params, int nU, int nV,
                                     double tol);
// The degrees, interior counts and knots of ref, rescaled onto srf's range.
Bspline* ConvertBsplineSurfaceBased(const Bspline* srf, const Bspline* ref,
                                    const GridFitParams* params, double tol);
// The old degrees, knots at arc-length steps spanU along the boundary curve in u at v = vmin and
// spanV along the one in v at u = umin.
Bspline* ConvertBsplineWUniformKnotsInRealSpace(const Bspline* srf, const GridFitParams* params,
                                                double spanU, double spanV, double tol);
// A clamped knot vector of the curve's degree with interior knots at arc lengths span, 2 span,
// ... from its start (at most one per fine step, the fine steps being the distinct knot spans
// cut into degree + 1 parts; the last fine step is not searched). *n receives the length. Writes
// four lines per knot after the first to standard output ("index = ...", "Knot value = ...",
// "Cumulative length = ...", "Part length = ..."). A new block (Free); NULL on failure or for a
// span that is not positive.
double* GetUniformKnotsInRealSpace(const Bspline* curve, double span, int* n);
// The room GetUniformKnotsInRealSpace reserves: floor(L / span) + 2p + 3, L the length of the
// curve (of a surface: its iso curve along v at u = umin when dir is 0, along u at v = vmin
// otherwise). 0 on failure.
int GetNKnotsInRealSpace(const Bspline* obj, double span, int dir);
// Mean arc length of the knot spans of the curve (or of the iso curve chosen as above); 0 on
// failure.
double GetAverageSpanInRealSpace(const Bspline* obj, int dir);

// ---- Approximation and reparametrisation of curves and trimmed surfaces -----------------------
// Curves are sampled (SampleCurvePlate with 2p + 2 per span, after a curve on a surface gained
// its owner's knot-line crossings) and refitted; surfaces are converted without their trims and
// get the old curves and trim loops projected onto the new surface (loops pushed on the front,
// so they come out in reverse order). A curve on a surface is put in the old curve's place in
// its owner's curve list and first trim loop holding it (that loop is merged again); the old
// curve is no longer listed and stays the caller's. The input objects are otherwise unchanged.
//
// A curve of degree du fitted within tol, or a surface of degrees du, dv with its curves and
// trims projected. A 3D curve's tol is at least 1e-6 of the diagonal of its samples' box (they
// hold single-precision coordinates); its fit is measured against the curve both ways at about
// 2,000 points each way and, while it misses, fitted again from samples twice as dense (up to 64
// per span; once the fit is the samples' interpolant, the denser samples' interpolant) with the
// tolerance tightened by the miss (at most eight fits; the closest is kept). The status line
// shows that measured deviation once ("Control points = N, Maximum deviation = D"). A surface's
// conversion is measured against it at the same parameters (8 x 8 points per new knot span) and,
// while it misses, fitted again with the spans that miss halved (in the direction or directions
// along which the miss changes; at most six refits); the tolerance is at least 1e-9 of the
// control-point box's diagonal. NULL for NULL or on failure; a curve or surface still outside its
// tolerance after the last fit is refused (error state -2) with the message "Curve (Surface)
// approximation: tolerance T not reached, the closest fit deviates D".
Bspline* ApproximateBspline(const Bspline* obj, double tol, int du, int dv,
                            const GridFitParams* params);
// 0 with *out the new surface; -2 for NULL, for du and dv not above the degrees of a
// non-rational surface (*out untouched), for a conversion that does not meet tol (as above), or
// on failure.
int ApproximateBsplineSurf(const Bspline* srf, double tol, int du, int dv,
                           const GridFitParams* params, Bspline** out);
// -2 unless the product of the interior-knot counts exceeds m1 m2 and du and dv both exceed the
// degrees; then ApproximateBsplineSurf with the default options (all zero, boundaryMode -1).
int VDABsplineSurfaceApproximation(const Bspline* srf, int du, int dv, double tol, int m1, int m2,
                                   Bspline** out);
// The curves of the list that are in no trim loop, projected onto newSrf (closest points). 0,
// or -2 when a projection found nothing or failed.
int ProjectNonTrimCurvesOnSurfClosest(Bspline* newSrf, const BsplineList* curves,
                                      const TrimList* trims);
// Every loop of the list rebuilt on newSrf from the projections of its curves in loop order,
// with its hole flag, merged within GlobalTrimGapTol and pushed on the front. 0 or -2.
int ProjectTrimCurvesOnSurfClosest(Bspline* newSrf, const TrimList* trims);
// New knots: ref's when given; else uniform knots for nU (nV) control points when uniformU
// (uniformV) is set, arc-length knots at spanU (spanV) when not (a surface takes uniform knots
// only when both flags are set). A curve counts nU, uniformU and spanU only. A closed surface
// or curve keeps its first and last control rows (points) coincident. NULL on failure.
Bspline* ReparametrizeBspline(const Bspline* obj, const Bspline* ref, double tol, int nU, int nV,
                              const GridFitParams* params, int uniformU, double spanU, int uniformV,
                              double spanV);
// The surface reparametrised with the default options and all its curves and loops projected
// onto the new surface (ProjectAllCONSToSurf of the construction floor, here below it); srf's
// lists are detached meanwhile and put back on every exit. 1 with *out, 0 on failure.
int ReparametrizeSurface(Bspline* srf, const Bspline* ref, double ignored, int nU, int nV,
                         int uniformU, double spanU, int uniformV, double spanV, Bspline** out);
// The curve branch of ReparametrizeBspline for the host's curves, the fit's correction passes
// switched by correct. NULL for a surface (nothing else happens) or on failure.
Bspline* ReparametrizeCurveBspline_Host(const Bspline* curve, const Bspline* ref, double ignored,
                                        int nCtrl, int ignoredInt, int uniform, double span,
                                        int correct);
// out[0] the mean length of the images of the u control lines (the grid rows at the Greville
// parameters), out[1] that of the v lines (0 for a curve). 0, or -2 for NULL or when memory runs
// out.
int EvalBsplineLength(const Bspline* obj, double out[2]);
// The source's free curves and its trim loops projected onto the target (ProjectAllCONSToSurf).
// 0, or -2 with the error state set when a projection found nothing; what was added before
// stays on the target.
int ProjectCurvesAndLoopsOnSurf(const Bspline* source, Bspline* target);
