#include "splinefit/aspline.h"

#include "foundation/bandsolve.h"

int solve_linear_eq_h(double** band, int n, int W, double* rhs) {
  double* const rhsList[1] = {rhs};
  return SolveSymBandSystem(band, n, W, rhsList, 1);
}
