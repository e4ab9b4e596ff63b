#include "splinefit/curve.h"

#include "foundation/bandsolve.h"

int solve_linear_eq_curve(double** A, int n, int w, double* bx, double* by, double* bz) {
  double* const rhs[3] = {bx, by, bz};
  return SolveSymBandSystem(A, n, w, rhs, 3);
}
