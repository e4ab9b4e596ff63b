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
