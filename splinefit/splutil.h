// Spline utilities of the conversions: knot removal within a distance tolerance (curves and
// surfaces, in place), the deviation allowed at one control point, a uniformity test of knot
// vectors and a timing bench of surface evaluation.
//
// The removals work on non-rational objects: a rational one is refused (0, unchanged), since
// its weights would not follow the shortened rows. Removal keeps the arrays' allocated sizes
// and rewrites the knot vector, the interior-knot count and the coefficient rows.
#pragma once

#include "bspline/smake.h"

// Euclidean distance of two n-vectors; 0 for a null array.
double Dist(const double* a, const double* b, int n);
// Removes one copy of the interior knot at index r (moved back to the first copy of its run)
// when the control points recomputed from the left meet the unchanged ones on the right within
// tol. 1 removed, 0 not removable (curve unchanged, also for r outside the interior and for a
// rational curve), -2 memory. The curve's own coordinates are compared (x, y; z for a 3D curve).
int RemoveKnotFromCurve(Bspline* curve, int r, double tol);
// 1 when RemoveKnotFromCurve removed the knot, else 0.
int RemoveCurveKnot(Bspline* curve, int r, double tol);
// Visits the interior knots left to right, each once: a removed entry is replaced by the one
// that slides into its place, which is tried next; a run of equal knots is tested at its first
// copy, so once one copy stays every copy stays. Returns 0; -2 (error state set, nothing
// changed) for a record that is not a sound (bsvalid) curve.
int RemoveAllCurveKnots(Bspline* curve, double tol);
// The same removal on x, y and z (3D distance).
int RemoveKnot(Bspline* curve, int r, double tol);
// Removes the knot at index r of direction dir (0 u, 1 v) when every control line of that
// direction allows it: 1 removed, 0 not removable (surface unchanged), -2 memory.
int RemoveSurfKnot(Bspline* surface, int dir, int r, double tol);
// RemoveAllCurveKnots's visit over the u knots, then over the v knots. Returns 0; -2 as there
// for a record that is not a sound surface.
int RemoveAllSurfKnots(Bspline* surface, double tol);

// The deviation d weighted by basis function i of the curve at its edit point (the Greville
// abscissa of control point i): *out = d N_i(g_i). At a clamped end N_i(g_i) is 1. *out is 0 for
// a curve whose structure is not sound (bsvalid; error state -2) or an i it has no point for.
void GetMaxCurveDeviation(const Bspline* curve, int i, double d, double* out);

// 1 when every span of the domain but the last has the length of the first within tol (u, or v
// of a surface with dir nonzero); an object without interior knots is uniform. 0 otherwise, and
// (error state -2) for a record whose structure is not sound (bsvalid).
int IsKnotVectorUniform(const Bspline* obj, int dir, double tol);

// Times the evaluators: requests[0..2] ask for the point, S_u, S_v. One parameter pair: 100000
// evaluations at (u[0], v[0]) (multi-request evaluator, or with derivatives and useGeneric the
// generic one) written to out (3 doubles per request). A grid: without derivatives the points
// into out (three blocks of nu nv doubles); with derivatives and useGeneric the three requests
// into outGrid (nu nv rows of 9 doubles); with derivatives and without useGeneric nothing.
void BenchBsplEval(const Bspline* surface, const double* u, const double* v, int nu, int nv,
                   const int* requests, double* out, double*** outGrid, int useGeneric);

// ---- Piecewise polynomials back to B-splines ----------------------------------------------------
struct PpolyCurve;
struct PpolySurface;

// Bezier matrix of degree n into M ((n + 1) x (n + 1), the caller's): M[i][j] is the
// coefficient of s^i in the Bernstein polynomial B(j, n), so power coefficients a = M b for
// Bezier points b. Lower triangular. Returns 0.
int FindBezierMatrix(int n, double** M);
// Its inverse (lower triangular, by forward substitution) into Minv. 0, or -2 when memory runs
// out.
int FindInvBezierMatrix(int n, double** Minv);
// Bezier points of segment i ((d + 1) rows of dim coordinates, d the segment's degree) from its
// power coefficients and the inverse Bezier matrix of degree d: B = Minv A. 0, or -2 for a
// segment index outside the record.
int FindBezierCoeffs(const PpolyCurve* pp, int i, double** Minv, double** B);
// The (dv + 1) x (du + 1) Bezier nets (row v index, column u index) of the patch of u segment iu
// and v segment iv: B = Minv(dv) A Minv(du)^T per coordinate. 0, or -2 for indices outside the
// record or memory.
int FindBezierSurfCoeffs(const PpolySurface* pp, int iv, int iu, double** MinvU, double** MinvV,
                         double** BX, double** BY, double** BZ);
// Every breakpoint degree + 1 times: (segments + 1)(degree + 1) values per direction. 0.
int FindKnots(const PpolyCurve* pp, double* out);
int FindSurfKnots(const PpolySurface* pp, double* outU, double* outV);
// Degree elevation of a Bezier polygon (rows = points, columns = coordinates): n + 1 points of
// degree n into n + 2 points of degree n + 1 (out distinct from in). Does nothing for a null
// array, n < 0 or dim < 0.
void RaiseBezierCurveDegreeBy1(int n, int dim, double** in, double** out);
// d + 1 points of degree d raised to p + 1 points of degree p (copied when p <= d). 0, or -2
// when memory runs out, for a null array, d < 0 or dim < 0.
int RaiseBezierDegree(int p, int d, int dim, double** in, double** out);
// A (dv + 1) x (du + 1) net per coordinate raised to (pv + 1) x (pu + 1): rows in u first, then
// the columns of that net in v. 0, or -2 when memory runs out, for a null array, du < 0 or
// dv < 0.
int RaiseBezierSurfDegree(int pu, int du, int dim, int pv, int dv, double** inX, double** inY,
                          double** inZ, double** outX, double** outY, double** outZ);
// The B-spline of a piecewise polynomial curve (degree p, every breakpoint of full multiplicity
// at first, then knots removed within tol: RemoveAllCurveKnots for a 2D curve, the maximal
// removal of RemoveKnotsOfObjSet for a 3D one). Null for a null or inconsistent record (a
// segment whose degree is above the record's cannot be placed; breakpoints not increasing) or
// on failure.
Bspline* Ppoly2Bspline(const PpolyCurve* pp, double tol);
// The same for a surface of degrees (degreeU, degreeV), knots removed by RemoveAllSurfKnots.
Bspline* Ppoly2Bsurf(const PpolySurface* pp, double tol);
