// Elementary operations on objects (one Bspline, curve or surface) and object sets. A
// direction flag is 0 for u and nonzero for v; curves always use u.
#pragma once

#include "bspline/smake.h"

// Sets one direction's domain again from its knots: v (vmin, vmax) for a surface with dir
// nonzero, else u. Called after every in-place change of a knot vector.
void ResetBsplineParamInfo(Bspline* obj, int dir);

// The distinct interior knots of one direction (u for curves) with their multiplicities;
// values within tol x the direction's parameter range count as one. Both outputs start null;
// with no interior knots the result is 0 and nothing is allocated. Otherwise two arrays are
// allocated for the caller (who frees both) and the number of distinct values is returned;
// -2, with both outputs null, on allocation failure. Knots equal to the domain end within the
// tolerance do not count the end knots in their multiplicity.
int GetDistinctKnots(Bspline* obj, int dir, int** mults, double** knots, double tol);

// Reverses the parametrisation in place: a curve by reverseBspline; a surface in u (dir 0) or
// v (dir nonzero): coefficients flipped in that direction, every knot t becomes c - t with c
// the sum of the first and last knot, the domain reset, and the u (v) coordinate of every
// curve on the surface mapped to c - value.
void ReverseObj(Bspline* obj, int dir);

// Gives the n objects one identical knot vector in each object's direction (dirs null: u):
// each is cleaned (CleanBsplineKnots at 1e-6) and mapped onto [0, 1] (a surface's curves
// follow; with scaleOther the surface's other direction is scaled by the same factor), the
// vectors are merged keeping the larger multiplicity of every value, every object gets the
// knots it lacks by knot insertion (its shape does not change), and the merged vector is
// copied over each, so the vectors are bit-identical. No result: a failure shows in the error
// state, and objects already changed stay changed.
void MakeObjSetCompatible(Bspline** objs, int* dirs, int n, int scaleOther);
