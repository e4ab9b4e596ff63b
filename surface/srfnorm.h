// Normals of a surface at given parameters and on grids, and the boundary vectors that decide
// whether two surfaces sharing an edge are oriented alike. The harmonised orientation of a group
// walks the group's boundary graph and lives beside it (healing/srfnorm).
#pragma once

#include "bspline/smake.h"

// For each i the normal Su x Sv at (u[i], v[i]), not of unit length, with ComputeSurfaceNormal's
// treatment of vanishing partials, into normals[i].
void ComputeSurfNormalNPnts(Bspline* srf, const double* u, const double* v, double (*normals)[3],
                            int n);

struct TrimList;

// Positions and normals on the grid u (nu values) x v (nv values), v outer and u inner: entry
// j nu + i of both outputs is the point and the normal Su x Sv at (u[i], v[j]). 0, or -2 with
// nothing written when the evaluation tables cannot be allocated, for a surface that is not sound
// (bsvalid) or a parameter that is not finite, and when a value overflows.
int ComputeSurfGridPositionAndNormal(Bspline* srf, const double* u, const double* v, int nu, int nv,
                                     double (*positions)[3], double (*normals)[3]);

// The direction along a boundary of srf at parameter t with the surface on a fixed side of it
// seen along the normal: N x D, D = N x T pointing into the surface, T the chord to the point
// 0.01 of the knot span further on (back when that leaves the range). The boundary is the
// trim curve crv when it is given, else side 1..4 (1 u-min, 2 v-min, 3 u-max, 4 v-max), t then
// running along the side. Two alike-oriented surfaces give opposite vectors along an edge they
// share. Returns out, untouched (error state -2) for a record that is not sound (bsvalid).
double* GetSurfBndryVector(double out[3], Bspline* srf, Bspline* crv, double t, int side);

// 1 when the vector D at the point (u, v) of the trim curve's owner points into the trimmed
// region (or into the domain for a curve in no loop), else 0. Su, Sv and N are the partials and
// the normal there (N as ComputeSurfaceNormal gives it); the answer is the same for the surface
// at any size. A D that cannot be mapped to the parameter plane counts as (0, 0). 0 for a curve
// without owner.
int CheckIfVectorGoesIn(Bspline* crv, double u, double v, const double D[3], const double Su[3],
                        const double Sv[3], const double N[3]);

// The first trim loop of the curve's owner that holds the curve; null without one.
TrimList* GetTrimCurveOfTrimBspline(Bspline* crv);

// ---- Curvature, tool-radius and normal grids -----------------------------------------------
// Grids of nu x nv points are stored v outer, u inner (index j nu + i). Radii of curvature are
// 1 / k of the larger principal curvature k (signed against Su x Sv), 1000000.0 where
// |k| <= 1e-10.
struct PlotEditStruct;

// Keeps the points (u[i], v[i]) inside the surface's trims, moved to the front of the arrays in
// their input order; returns their number (all n for an untrimmed surface; 0 with the error
// state set when the loops cannot be sampled).
int FindPointsInTrim(Bspline* srf, double* u, double* v, int n);
// The same, the radius array moved along.
int FindPointsAndRadiusInTrim(Bspline* srf, double* u, double* v, double* radius, int n);
// Radii of curvature on a grid over the clean knots: degree + 2 steps per span (proposals within
// 0.001 of the range above the last kept sample skipped, the domain end closing the list; v
// spans of 0.001 or less propose nothing). New nu x nv grids of u, v and radius for the caller.
// 0; -2 on allocation failure or (error state set) for a surface that is not a sound (bsvalid)
// 3D surface (outputs null).
int CalculateRadiusOfCurvatureGrid(Bspline* srf, double** u, double** v, double** radius, int* nu,
                                   int* nv);
// Keeps the points whose radius is below the request, ascending by radius, at the front of the
// arrays; *n becomes their number. mode 0: 0 <= r < 100000.0; otherwise 0 < r < |request|, with
// the radii negated while selecting when request < 0 (so concave regions are picked by a
// negative request and keep their sign). The surface is not read. 0; -2 on allocation failure.
int SelectRadiusPointsBasedOnRequest(Bspline* srf, double** u, double** v, double** radius, int* n,
                                     double request, int mode);
// The partial updates read from the plot record the grid indices to refresh (gridIdx,
// gridCount), the parameters per grid column and row (uPar, vPar) and the grid width nu
// (uOffset); the table holds the tabulated derivatives as 15 arrays of gridCount doubles (x, y, z
// of Su, Sv, Suv, Suu, Svv), entry k for the k-th listed index. Where Su or Sv vanishes the
// point steps toward the middle of the domain, at most six times.
// values[g] = the larger principal curvature at grid index g, 3.37e38 where it is not positive
// or the point stays degenerate, 1e-6 where it is positive below that. Returns 0.
int UpdatePartialToolradValues(Bspline* srf, const PlotEditStruct* grid, const double* table,
                               double* values);
// values[2 g] = (b + sqrt D) / 2A and values[2 g + 1] = (b - sqrt D) / 2A, both 3.37e38 where the
// point stays degenerate. Returns 0.
int UpdatePartialPrincipCurvaValues(Bspline* srf, const PlotEditStruct* grid, const double* table,
                                    double* values);
// Normal needles at the grid points nearest above the n pairs (u[k], v[k]) that lie in the
// grid's box (uPar and vPar from first to last; nu = uOffset, nv = vOffset): the point from the
// record's basis tables and spans, and the point plus scale x unit normal, into entries 2k and
// 2k + 1 of x, y, z. Pairs outside leave their entries alone. Returns 0.
int UpdatePartialSurfaceNormals(Bspline* srf, const PlotEditStruct* grid, double scale, float* x,
                                float* y, float* z, const double* u, const double* v, int n);
