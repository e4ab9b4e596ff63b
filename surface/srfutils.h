// Small queries on a Bspline that the whole kernel uses: parameter boxes of objects and of the
// curves on a surface, the size of an object's control points (the kernel's scale for
// tolerances), clean knot vectors, Greville parameters and the knots nearest to a parameter.
#pragma once

#include "bspline/smake.h"

// The box of the 2D curve's (u, v) points sampled at 0, 0.2, .., 0.8 of every knot span and at
// the end of the domain, evaluated without a surface (so without clamping). Returns 0.
int GetCurveOnSurfMinMaxSurfParams(Bspline* curve, double* umin, double* umax, double* vmin,
                                   double* vmax);
// The box of an object's control points (weights not applied). A 2D curve with an owner
// gives the box of its control points mapped onto the owner; without one its (u, v) box with
// z 0. Every bound starts at +/-3.37e38.
void GetCPTValueExtent(Bspline* obj, double* xmin, double* xmax, double* ymin, double* ymax,
                       double* zmin, double* zmax);
// The diagonal length of the GetCPTValueExtent box.
double GetGeometricDiagonalSizeOfObj(Bspline* obj);

// Greville parameters: out[i] = (knots[i+1] + .. + knots[i+degree]) / degree for the n >= 2
// control points, with out[0] = knots[degree] and out[n-1] = knots[n] exactly.
void FindParamValuesOfCoefiFromKnots(const double* knots, int n, int degree, double* out);
// A new array of the Greville parameters of the object's control points in direction dir
// (v for a surface with dir nonzero, else u); the caller frees it. Null on allocation failure.
double* FindParamValuesOfCoefi(Bspline* obj, int dir);

// The parameter box of an object: a curve's domain into umin, umax (v untouched); a surface's
// domain, narrowed to the control-point box of the curves of its outer trim loops (hole flag
// 0) and clamped to the domain. Other objects are left alone. Note the order of the outputs.
void GetParametricExtent(Bspline* obj, double* umin, double* umax, double* vmin, double* vmax);
// The box of a 2D curve's control points (u from X, v from Y), which holds the curve. Note the
// order of the outputs: umin, vmin, umax, vmax. The empty box (+/-kEmptyBoxBound, error state
// -2) for a curve whose structure is not sound (bsvalid).
void GetSrfParExtentOfCrvOnSrf(Bspline* curve, double* umin, double* vmin, double* umax,
                               double* vmax);

// The knot vector of direction dir (v for a surface with dir nonzero, else u) with repeated
// interior knots collapsed (values within factor x the range count as one), into two new
// arrays of as many entries as the vector (the caller frees both): *mult one multiplicity per
// distinct value, *vals the clean vector. Returns its length, or -2 with both null on failure.
int GetCleanKnots(Bspline* obj, int dir, int** mult, double** vals, double factor);
// The clean vector of a clamped knot vector of `total` knots and the given order into the
// caller's arrays (room for total values each): the end values degree + 1 times, every
// interior value once (values within the absolute tol count as one); mult gets one entry per
// distinct value, degree + its count for the first. Returns the clean length; 0 (nothing written)
// for a null array, order < 1 or total < 2 order.
int GetCleanKnotsFromKnots(const double* knots, int total, int order, int* mult, double* vals,
                           double tol);

// The knot nearest to the normalised parameter s (0 .. 1 over the direction's range, v for a
// surface with dir nonzero), among the two that bound its span (the upper on a tie),
// normalised the same way. s itself (error state -2) for a record that is not sound (bsvalid),
// as for FindNextKnot.
double FindNearestKnot(Bspline* obj, int dir, double s);
// The upper bound of s's span when the reference parameter r lies at or below s's parameter,
// else the lower bound, normalised; a trace of the values goes to standard output.
double FindNextKnot(Bspline* obj, int dir, double s, double r);

// flags[k] = 1 for every surface that duplicates (or lies inside, within tol) a surface of lower
// index, 0 for the first of each group and for surfaces without duplicates. 0; -2 on allocation
// failure or a user break (flags then partly written) or a negative n.
int FindRedundantSurfacesCore(Bspline** srfs, int n, int* flags, double tol);

// ---- Boundary samples and small surface utilities -------------------------------------------
// Sides: 0 u-min, 1 v-max, 2 u-max, 3 v-min.
// The domain's boundary counter-clockwise from (umin, vmin), n - 1 equal steps per side and the
// start again at the end: 4n - 3 values in new arrays *u, *v (the caller's), count in *count.
// n = 1 gives the one corner; -2 for n < 1 (nothing allocated) or on failure.
int SampleSurfaceBndry(Bspline* srf, int n, double** u, double** v, int* count);
// Mode 1: nu (nv) uniform values over the domain, the last exactly at the end. Mode 0: per knot
// span its start and pu (pv) - 1 equal divisions, the value at slot nu - 1 (nv - 1) the domain
// end; never more than nu (nv) values. Other modes write nothing.
void ComputeParamArraysForEval(Bspline* srf, int mode, int pu, int pv, double* u, double* v, int nu,
                               int nv);
// The middle of the domain, or of the parameter box of the first non-hole loop when the surface
// has an outer loop. 0.
int GetSurfArbitraryParamVal(Bspline* srf, double* u, double* v);
// The surface points at the midpoints of sides 0 .. 3.
void GetSurfBoundaryMidPoints(Bspline* srf, double p0[3], double p1[3], double p2[3], double p3[3]);
// Length of the side's control polygon (weights ignored); 0.0 for no surface (or one whose
// structure is not sound, bsvalid: error state -2) or another side.
double EstLenSurfEdge(Bspline* srf, int side);
// The curves of the list in reverse order, the nodes where they were.
void ReverseTrimOrder(BsplineList* list);
// 1 when the boundaries sides[0] of pair[0] and sides[1] of pair[1] (0 and 0 without sides) run
// in opposite directions; 0 otherwise or for a missing object.
int CheckBsplDirRelToBspl(Bspline** pair, const int* sides);
// A boundary curve that carries the cross direction -(tx, ty, tz): crv (a 3D curve, not changed)
// swept along the straight lines from its two end points by -(tx, ty, tz) into a strip, and the
// strip's v-minimum side as a new 2D curve on it, which maps onto crv. The strip is the curve's
// owner and not on its curve list: the caller frees the curve, then its owner. Null for a missing
// or non-3D curve and on failure (nothing left behind).
Bspline* CreateImpliedTangentBndryCrv(Bspline* crv, double tx, double ty, double tz);
// Scales the cross-boundary tangent at the v-min side (flag non-zero) or the v-max side by f:
// the second control row moves to boundary row + f (second row - boundary row). A surface whose
// structure is not sound (bsvalid), or of one row, is left as it is.
void ScaleControlPointsInTanDir(Bspline* srf, double f, int flag);
