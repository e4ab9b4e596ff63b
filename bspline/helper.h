// Surface normals that stay usable where a partial derivative vanishes, tangent planes, unit
// curve tangents and radii of curvature. These evaluate through the B-spline evaluators, hold
// no state and allocate nothing.
#pragma once

struct Bspline;

// Normal Su x Sv at (u, v) from the caller's first partials, not of unit length. Short partials
// that are more than the round-off of the surface (of a small surface, or over a wide parameter
// range) give their cross product. Where a partial vanishes (a collapsed edge or pole) the
// twist Suv stands in for it and the result is
// oriented like the normal one percent of the range inside the surface; when everything
// vanishes the normal is (1, 1, 1) / sqrt(3). Never the zero vector.
void ComputeSurfaceNormal(Bspline* srf, double u, double v, const double Su[3], const double Sv[3],
                          double n[3]);

// Point P, partials Su, Sv and the plane (n, -n . P) at (u, v), n from ComputeSurfaceNormal
// with components below 1e-10 of its length cleared; n is not unit. Returns 0; -2 (error state set, outputs
// untouched) for a srf that is not a sound (bsvalid) 3D surface.
int FindTangentPlane(Bspline* srf, double u, double v, double plane[4], double P[3], double Su[3],
                     double Sv[3]);

// The tangent plane at (u, v) with a unit normal. Returns 0; -2 as FindTangentPlane.
int SurfaceTangentPlane(Bspline* surface, double u, double v, double plane[4]);

// Unit normal at the parameters stored as floats 6 and 7 of rec (clamped to the knot domain),
// written as floats. Returns 1; 0 (out untouched) for a null rec or a surface that is not a
// sound (bsvalid) 3D surface (error state -2).
int GetSurfNorm(Bspline* surface, const float* rec, float out[3]);

// Unit first derivative of a 3D curve, or of a curve on a surface mapped through its owner.
// Returns out.
double* BsplCurveTangentDir(Bspline* curve, double t, double out[3]);

// Signed radius of the principal curvature of largest magnitude, measured at unit size (the
// control box's diagonal) and brought back, so the same surface at any size gives the same
// radius relative to it; 1e10 where the surface is flat or the parameterisation stays degenerate.
double SurfaceCurvature(Bspline* surface, double u, double v);

// Where Su or Sv (d[0], d[1], each with all components below 1e-10) vanishes, steps (u, v)
// toward the middle of the domain by 1e-4 of the ranges and evaluates Su, Sv, Suv, Suu, Svv
// into d again, at most six times. 1 when both partials show, 0 when still degenerate.
int StepOffDegeneratePartials(Bspline* srf, double* u, double* v, double d[5][3]);

// The principal curvatures from the fundamental forms at a point: d holds Su, Sv, Suv, Suu, Svv
// and n is the unit normal; with A = EG - F^2, b = EN - 2FM + GL and D = b^2 - 4A(LN - M^2)
// (0 when negative), k1 = (b + sqrt D) / 2A and k2 = (b - sqrt D) / 2A, an |A| below 1e-10
// replaced by 1e-10 with A's sign (negative for 0).
void PrincipalCurvatureRoots(const double d[5][3], const double n[3], double* k1, double* k2);

// The larger principal curvature at (u, v), signed against the normal Su x Sv (a sphere with
// outward normals gives -1/R), computed at unit size (the control box's diagonal) and brought
// back, so that its thresholds hold at every scale: derivative components below 1e-6 cleared. Where Su or
// Sv vanishes the point walks toward the domain's middle by 1e-4 of the ranges; a surface
// degenerate all the way to the middle gives 0. (FindCurvatureOfSurface of construct/srfoffst,
// here for the radius grids of the surface floor.) 0 with the error state -2 for a record that is
// not a sound surface (bsvalid) or a parameter that is not a number or infinite.
double LargerPrincipalCurvature(Bspline* srf, double u, double v);
// out[j nu + i] = LargerPrincipalCurvature(srf, u[i], v[j]), one row per v value
// (ComputeMaxCurvaNPnts). Nothing written (error state -2) for a record that is not a sound
// surface, a parameter not finite or an array missing.
void LargerPrincipalCurvatureGrid(Bspline* srf, const double* u, const double* v, double* out,
                                  int nu, int nv);

// Radius of curvature |C'|^3 / |C' x C''|; very large (not a failure) where the curve runs
// straight (C'' below 1e-5 |C'| counts as straight), 0 where C' vanishes.
double BsplCurveCurvature(Bspline* curve, double t);

// ComputeSurfaceNormal at each of the n parameter pairs (u[i], v[i]), from the partials there
// (ComputeSurfNormalNPnts of surface/srfnorm, here for the floors below it).
void SurfaceNormalsAt(Bspline* srf, const double* u, const double* v, double (*normals)[3], int n);
// The same directions in every unit of length: the partials at each point are first scaled, by
// one power of two, to a largest component near 1, where ComputeSurfaceNormal's floors (a
// partial's largest component under 1e-6, components below 1e-6 of it) are those of a surface
// of unit size. The normals' lengths are then those of the scaled partials.
void SurfaceNormalsAtAnySize(Bspline* srf, const double* u, const double* v, double (*normals)[3], int n);
