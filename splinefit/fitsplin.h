// Options of the surface fits of point clouds, their defaults and validity rule, and the
// conversion between the user-facing smoothness (0..1, larger is smoother) and the roughness
// weight that the thin-plate solvers divide their smoothing term by.
#pragma once

#include <cstdint>

// Passed by value; the field order is part of the interface.
struct BsplFitParams {
  int32_t DegreeU;
  int32_t DegreeV;
  int32_t NumCntrlU;  // interior knots in u = NumCntrlU - DegreeU - 1
  int32_t NumCntrlV;
  int32_t WrapU;  // 1: cylindrical/spherical fits take u over the full turn
  int32_t WrapV;  // 1: the cylindrical fit takes v over the full turn
  int32_t Reserved1;
  int32_t Reserved2;
  int32_t Reserved3;
  int32_t ScatteredOnly;  // 1: the Cartesian fit uses the scattered engine even on a grid
  double Tension;         // share of the membrane energy; bending gets 1 - Tension
  double Roughness;       // divides the smoothing term: larger follows the data closer
  double Sigma;           // weight of every data point
  double Reserved4;
};

// Writes the defaults (Reserved1 and Reserved3 are left as they were); -2 for null.
int GetDefaultBsplFitParams(BsplFitParams* p);
// 1 when both degrees are at least 1 and each direction has at least degree + 1 control points.
int CheckSrfBsplFitParams(BsplFitParams p);
// In place: smoothness s becomes roughness e^(10 (1 - s)). No range check.
void SmoothnessToRoughness(double* value);
// In place: roughness r becomes smoothness (10 - ln r) / 10; returns its argument.
double* RoughnessToSmoothness(double* value);

// ---- Surfaces fitted to clouds ----------------------------------------------------------------
// Types: 0 Cartesian height field z = f(x, y); 1 cylindrical about z through the origin; 2
// spherical about the origin. The cloud is never changed; a new surface is the caller's, or null.
// Every entry refuses (null, error state -2) a null cloud, a point that is not finite, a negative
// type, a degree below 1 or above 22, fewer control points than degree + 1 and more control points
// (numU x numV) than the cloud has points; fits that fail give null with the error state set.
// The front ends copy the points into an unordered cloud, so they never select the gridded
// engine, and end by giving u the control-net parameter speed of v.
// Sizes: every fit runs on a copy of the points scaled to unit size (cloud/pcopy) and scales
// its surface back, so the same points at any size give the same surface in their own units;
// the default weights (tension 0.7, the roughness of smoothness 0.3, sigma 1) and the engines'
// thresholds keep the meaning they have for data of unit size.
struct Bspline;
struct Cloud;


Bspline* NewFitSplineSurfaceGeometry(const Cloud* cloud, int type, BsplFitParams params);
// The older entry: every type but 0 is the cylindrical fit (its type 2 included).
Bspline* FitSplineSurfaceGeometry(const Cloud* cloud, int type, int degU, int degV, int numCntrlU, int numCntrlV,
                                  int scatteredOnly, double tension, double roughness, double sigma);
// FitSplineSurfaceGeometry with scatteredOnly 1, tension 0.7, the roughness of smoothness 0.3
// and sigma 1; also refuses types above 2 and degrees above 22.
Bspline* SimpleFitSplineSurface(const Cloud* cloud, int degU, int degV, int numCntrlU, int numCntrlV, int type);
// The same two fits after turning the cloud so that its least-squares plane is the xy plane (a
// plane within about 25 degrees of a coordinate plane is taken as it); the surface is turned
// back, so its u and v run along that plane. Any failure on the way (no plane, a failed fit of
// the turned copy) gives the plain fit of the cloud, except running out of memory (null).
Bspline* SimpleFitSplineSurfaceZAlignFree(const Cloud* cloud, int degU, int degV, int numCntrlU, int numCntrlV,
                                          int type);
Bspline* FitSplineSurfaceZAlignFree(const Cloud* cloud, int degU, int degV, int numCntrlU, int numCntrlV, int type,
                                    int scatteredOnly, double tension, double roughness, double sigma);
// A height field over the cloud's x, y box (box, six doubles, receives the x, y, z box). The
// gridded engine runs when scatteredOnly is not 1 and the cloud is a grid (type 17) in the plan
// (no axis code 2) with at least interior + degree + 1 points per row and rows; otherwise the
// scattered engine. X and Y are the control points' parameters. Also null for fewer than 3
// points; a plan grid's x, y box is the grid's own (its origins and steps, which both engines
// read), not its points' rounded to single precision. Both engines run in the points' unit frame
// (foundation/unitfrm: centroid, plan box of unit longer side), so the fit is the same relative
// to the size at any size and position.
Bspline* FitCartisianSpline(Cloud* cloud, double* box, int degU, int degV, int numCntrlU, int numCntrlV,
                            int scatteredOnly, double tension, double roughness, double sigma);
// The canonical surface (theta, h or phi, r) sampled on a uniform grid of its control-net size,
// turned into x, y, z (mode 1 cylindrical with the canonical cloud's axis point, 2 spherical) and
// interpolated by a Cartesian surface of its degrees. Null for a bad mode or record (error state
// -2 for one that is not sound, bsvalid), or memory.
Bspline* ConvertNonCarSplineToCarSpline(Bspline* canonSrf, Cloud* canon, int mode);

