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
// j nu + i of both outputs is the point and the normal Su x Sv at (u[i], v[j]). 0, or -2 when
// the evaluation tables cannot be allocated (nothing written).
int ComputeSurfGridPositionAndNormal(Bspline* srf, const double* u, const double* v, int nu, int nv,
                                     double (*positions)[3], double (*normals)[3]);

// The direction along a boundary of srf at parameter t with the surface on a fixed side of it
// seen along the normal: N x D, D = N x T pointing into the surface, T the chord to the point
// 0.01 of the knot span further on (back when that leaves the range). The boundary is the
// trim curve crv when it is given, else side 1..4 (1 u-min, 2 v-min, 3 u-max, 4 v-max), t then
// running along the side. Two alike-oriented surfaces give opposite vectors along an edge they
// share. Returns out.
double* GetSurfBndryVector(double out[3], Bspline* srf, Bspline* crv, double t, int side);

// 1 when the vector D at the point (u, v) of the trim curve's owner points into the trimmed
// region (or into the domain for a curve in no loop), else 0. Su, Sv and N are the partials and
// the normal there. A D that cannot be mapped to the parameter plane counts as (0, 0). 0 for a
// curve without owner.
int CheckIfVectorGoesIn(Bspline* crv, double u, double v, const double D[3], const double Su[3],
                        const double Sv[3], const double N[3]);

// The first trim loop of the curve's owner that holds the curve; null without one.
TrimList* GetTrimCurveOfTrimBspline(Bspline* crv);
