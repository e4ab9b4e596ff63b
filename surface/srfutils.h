// Small queries on a Bspline that the whole kernel uses: the parameter box of the curves on a
// surface and the size of an object's control points, the kernel's scale for tolerances.
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
