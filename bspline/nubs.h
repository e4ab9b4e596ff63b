// Points and partial derivatives of 3D curves, 2D curves (in a surface's parameter plane),
// curves on surfaces and surfaces, rational or not: at one parameter, at n evenly spaced
// parameters, or on a grid of given parameters. Derivatives come from derivative control nets
// (differences of the coefficients) summed with the basis of the lowered degree; rational
// derivatives go through the quotient rule (nubutil).
//
// Outputs: a point or derivative is x, y, z (u, v for a 2D curve); a homogeneous result is
// x w, y w, z w, w (u w, v w, w for a 2D curve). Evaluation types are those of GetEvalType.
// Every evaluator clamps its parameters into the object's domain. The evaluated record is
// never modified: derivative nets are built in scratch, never installed in the record.
// Objects of degree above kMaxSplineDegree, or whose structure is broken (BsplineShapeSound),
// are refused: the output is left untouched and zk_error_status is set to -2. So is a result
// that is not finite (non-finite knots, coefficients or parameters, or an overflow): a
// single-parameter evaluator writes only finite values. The 2D-curve forms
// (Eval3DPointOnRCurve2Array, whose out holds three values, and Eval3DNpntsOnRCurve2Array,
// whose third array is the weight) refuse any other object the same way (the n-point forms
// return -2), and so do the surface forms a record that is not a surface.
#pragma once

#include "bspline/smake.h"

// Creates the surface scratch matrices surfDiffArray1..5 on first use (kept, never freed).
// 0, or -2 when they cannot be allocated (error state set by the allocator).
int InitSplineArrays();

// ---- one parameter ---------------------------------------------------------------------------
// Point (du = dv = 0) or partial derivative of orders du in u and dv in v.
void Eval3DPointOnSurfArray(const Bspline* srf, double u, double v, int du, int dv, double out[3]);
// Wrappers writing into out and returning it.
double* Eval3DPointOnSurfCoord(const Bspline* srf, double u, double v, int du, int dv,
                               double out[3]);
double* Eval3DPointOnSurfCoord_f(const Bspline* srf, double u, double v, int du, int dv,
                                 double out[3]);
// The core: homogeneous result for types 0 and 2 (four values), x, y, z for types 1 and 3.
void Eval4DPointOnRSurfArray(const Bspline* srf, double u, double v, int du, int dv, int type,
                             double out[4]);

void Eval3DPointOnCurve3Array(const Bspline* crv, double t, int d, double out[3]);
double* Eval3DPointOnCurve3Coord(const Bspline* crv, double t, int d, double out[3]);
void Eval4DPointOnRCurve3Array(const Bspline* crv, double t, int d, int type, double out[4]);

// (u, v) of a 2D curve; positions are clamped into srf's domain when srf is given.
void Eval2DPointOnCurve2Array(const Bspline* srf, const Bspline* crv, double t, int d,
                              double out[2]);
void Eval3DPointOnRCurve2Array(const Bspline* crv, double t, int d, int type, double out[3]);

// Point (d = 0) or first derivative (d = 1) in space of a curve on a surface: a 2D curve
// through srf (its owner when srf is null), a 3D curve directly. d >= 2 shows
// "Currently Unavailable" and leaves out untouched. `order` is not used.
void Eval3DPointOnBsplOnSurfArray(const Bspline* srf, const Bspline* crv, double t, int d,
                                  int order, double out[3]);
double* Eval3DPointOnBsplOnSurfCoord(const Bspline* srf, const Bspline* crv, double t, int d,
                                     int order, double out[3]);
// As above, and d = 2 by the chain rule; d > 2 leaves out untouched.
void EvalCrvOnSrfArray(const Bspline* srf, const Bspline* crv, double t, int d, double out[3]);
double* EvalCrvOnSrfCoord(const Bspline* srf, const Bspline* crv, double t, int d, double out[3]);

// flags[0..2] ask for the point, S_u and S_v, written to out[0..2]; several requests on a
// non-rational surface share one basis computation.
void Eval3DPointOnSurfArrayM(const Bspline* srf, double u, double v, const int flags[3],
                             double out[3][3]);
void Eval4DPointOnRSurfArrayM(const Bspline* srf, double u, double v, const int flags[3], int type,
                              double out[3][3]);

// ---- n evenly spaced parameters over the domain ------------------------------------------------
// With `segments` set, 2n - 2 values are written: the first point once, every inner point
// twice, the last once (the ends of n - 1 segments). Return 0, or -2 (nothing written) when
// the object is refused: broken structure, knots that are not a knot vector, non-finite
// coefficients (bsvalid). -2 also when a value came out non-finite all the same (an overflow
// of huge coordinates); the outputs then hold what was computed. The 4D forms write homogeneous values (w receives the weight or its
// derivative) for a rational object; w may be null for a non-rational one.
int Eval4DNpntsOnRCurve3Array(const Bspline* crv, int segments, int d, int n, double* x, double* y,
                              double* z, double* w);
int Eval4DNpntsOnRCurve3Array_f(const Bspline* crv, int segments, int d, int n, float* x, float* y,
                                float* z, float* w);
// Cartesian values: rational positions divided by w, rational derivatives by the quotient rule.
int Eval3DNpntsOnCurve3Array_f(const Bspline* crv, int segments, int d, int n, float* x, float* y,
                               float* z);
int Eval3DNpntsOnRCurve2Array(const Bspline* crv, int segments, int d, int n, double* u, double* v,
                              double* w);
int Eval3DNpntsOnRCurve2Array_f(const Bspline* crv, int segments, int d, int n, float* u, float* v,
                                float* w);
// Cartesian (u, v), positions clamped into srf's domain when srf is given.
int Eval2DNpntsOnCurve2Array_f(const Bspline* srf, const Bspline* crv, int segments, int d, int n,
                               float* u, float* v);
// d = 0 points, d = 1 first derivatives in space of a 2D curve on srf; d > 1 shows
// "Currently Unavailable" and returns -2.
int Eval3DNpntsOnBsplOnSurfArray_f(const Bspline* srf, const Bspline* crv, int segments, int d,
                                   int n, float* x, float* y, float* z);

// ---- grids of given parameters ----------------------------------------------------------------
// Outputs hold nv x nu values, u fastest (index j nu + i); a curve reads us only (nv is taken
// as 1). Parameters may come in any order; spans and basis values are computed once per u
// value and once per v value. Return 0, or -2 with nothing written when scratch cannot be
// allocated (error state set) or the object or a parameter is refused (as for n points, and
// non-finite parameters); -2 with the error state set also after an overflow, the outputs
// then holding what was computed.
int Eval3DGridOnBsplArray(const Bspline* obj, const double* us, int nu, const double* vs, int nv,
                          double* x, double* y, double* z);
int Eval3DGridOnBsplArray_f(const Bspline* obj, const double* us, int nu, const double* vs, int nv,
                            float* x, float* y, float* z);
// Homogeneous positions; w is filled with 1 for a non-rational object when given.
int Eval4DGridOnRBsplArray(const Bspline* obj, const double* us, int nu, const double* vs, int nv,
                           double* w, double* x, double* y, double* z);
int Eval4DGridOnRBsplArray_f(const Bspline* obj, const double* us, int nu, const double* vs, int nv,
                             float* w, float* x, float* y, float* z);
// Grid of partial derivatives of a surface through full-size derivative nets: type 1 x, y, z
// of a non-rational surface; type 0 homogeneous derivative (w receives the weight's); types
// 2 and 3 positions as Eval4DGridOnRBsplArray.
int Eval4DGridOnRSurfArray(const Bspline* srf, const double* us, int nu, const double* vs, int nv,
                           int du, int dv, int type, double* w, double* x, double* y, double* z);
