// Curvature values of a surface for curvature displays and analysis: on a uniform grid, on a
// given parameter grid, at parameter pairs, the two principal curvatures on a grid, and the
// partial recomputation of values and needles (short segments along the normal scaled by the
// value) at the points a control-point edit changed.
//
// Kinds: 7 Gaussian, 8 mean, 9 |k1| + |k2|; any other kind computes nothing. Grids are indexed
// j nu + i (u fastest). Values below 1e-10 in magnitude are stored as exactly 0. Every threshold
// is judged on the surface scaled to unit control-point diagonal and the values are brought
// back, so the answers do not depend on the unit of length.
//
// Where the normal degenerates (|Su x Sv| below the single-precision 1e-6), a grid point takes
// the derivatives of a neighbour (corners their diagonal neighbour, edges the next row or
// column inward); an interior grid point and a free point take the derivatives one percent of
// the range inside the domain with the normal of ComputeSurfaceNormal at the point itself.
// Still degenerate gives 0.
#pragma once

#include "bspline/editrec.h"
#include "bspline/smake.h"

// Values on the uniform nu x nv grid over the domain. Nothing is done when the scratch cannot
// be allocated.
void ComputeCurvature(const Bspline* srf, double* out, int kind, int nu, int nv);
// Values on the grid u x v.
void ComputeCurvatureGivenArrays(const Bspline* srf, double* out, const double* u, const double* v,
                                 int nu, int nv, int kind);
// Values at the n pairs (u[k], v[k]).
void ComputeCurvatureNpntsSurf(const Bspline* srf, double* out, const double* u, const double* v,
                               int n, int kind);
// Principal curvatures k1 >= k2 (for a positive 2a) per grid point into out[2k], out[2k + 1].
// A point where Su or Sv vanishes steps by 1e-4 of the range toward the domain middle until
// both are non-zero; one that reaches the middle still degenerate gets 0, 0. Returns 0, -2 when
// the scratch cannot be allocated or for a surface that is not sound (bsvalid) or a parameter
// that is not finite (nothing written), and -2 when a curvature overflows (out then holds what
// was computed).
int ComputePrincipCurvaNPnts(const Bspline* srf, const double* u, const double* v, double* out,
                             int nu, int nv);
// derivs: 15 arrays (x, y, z of Su, Sv, Suv, Suu, Svv) of gridCount + needleCount entries
// each, grid entries first. values[gridIdx[k]] is recomputed from entry k (grid width uOffset,
// height vOffset; the fallback evaluates a neighbour at its uPar, vPar). Returns 0.
int UpdatePartialCurvatureValues(const Bspline* srf, const PlotEditStruct* rec,
                                 const double* derivs, double* values, int kind);
// values[needleIdx[k]] (below needleLimit) from entry gridCount + k, and its needle from the
// surface point (basis rows at table positions uOffset + idx, vOffset + idx) to the point plus
// value * scale along the unit normal: n?[2 idx] the start, n?[2 idx + 1] the end.
void UpdatePartialCurvatureNeedles(const Bspline* srf, const PlotEditStruct* rec, double scale,
                                   const double* derivs, double* values, int kind, float* nx,
                                   float* ny, float* nz);
