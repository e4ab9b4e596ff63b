// Roots of scalar B-spline functions and the crossings of a 3D curve with a plane. A function
// is carried in a curve record: Z holds its coefficients, X the Greville parameters of the
// coefficients and Y zeros, so its graph is a 3D curve that meets the x axis at the roots.
#pragma once

struct Bspline;

// Every distinct parameter where the function f (Z coefficients, rational ones too) vanishes:
// *roots a new array of *count values in increasing order (the caller frees it), or null with
// *count 0 when there is none. A function whose coefficients all share a sign, none of
// magnitude below 1e-6, has no root and allocates nothing. Roots closer than 1e-6 count as one;
// a function that vanishes on a stretch gives roots along it 1e-6 apart or more, at most (control
// points) x degree of the refined function. -2 (nothing allocated): a null record, one that is
// not a sound curve, degree below 1, or memory.
int FindAllBsplFuncRoots(Bspline* f, double** roots, int* count);
// The parameters where the curve meets the plane a x + b y + c z + d = 0, as above. -2 for a
// null record, one that is not a 3D curve, a normal (a, b, c) of zero length, or a failure below.
int Crv3PlaneIntersect(Bspline* curve, double a, double b, double c, double d, double** params,
                       int* count);
// A deep copy (CopyCurveBspline), or null.
Bspline* CopyBsplineFunc(Bspline* f);
// 1 when every Z coefficient has magnitude at least tol and all share one sign (a coefficient of
// magnitude exactly tol counts as negative); 0 otherwise, also for a null record or no Z, and
// (error state -2) for a record whose structure is not sound (bsvalid).
int IsBsplFuncConvexHullSameSign(const Bspline* f, double tol);
// The same test on n values (null: 0; n < 1: 1).
int IsAllValsSameSign(const double* v, int n, double tol);
// X = the Greville parameters of f's coefficients, Y = 0. 0; -2 when the parameters cannot be
// allocated or f is not a curve with coefficients.
int FindBsplFuncInitXYCoefi(Bspline* f);
