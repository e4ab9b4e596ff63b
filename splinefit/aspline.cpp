#include "splinefit/aspline.h"

#include "foundation/bandsolve.h"
#include "shrinkwrap/platefit.h"

int solve_linear_eq_h(double** band, int n, int W, double* rhs) {
  double* const rhsList[1] = {rhs};
  return SolveSymBandSystem(band, n, W, rhsList, 1);
}

int FindThinPlateCoefi(Bspline* srf, Cloud* cloud, double* fixVals, int* fixIdx, int nFix) {
  return ThinPlateFitHeights(srf, cloud, fixVals, fixIdx, nFix);
}

int find_plate_coefi(Bspline* srf, Cloud* cloud, double* fixVals, int* fixIdx, int nFix, int) {
  return ThinPlateFitHeights(srf, cloud, fixVals, fixIdx, nFix);
}

int EliminInitValofCoefi(Bspline* srf, Cloud* cloud, int spansU, int spansV, double* pointWeights,
                         double a, double b, double R, double T, double* coef, double* fixVals,
                         int* fixIdx, int nFix) {
  return ThinPlateScatteredSolve(srf, cloud, spansU, spansV, pointWeights, a, b, R, T, coef, fixVals,
                                 fixIdx, nFix);
}

int elimin_init_valof_coefi(Bspline* srf, Cloud* cloud, int spansU, int spansV, double* pointWeights,
                            double a, double b, double R, double T, double* coef, double* fixVals,
                            int* fixIdx, int nFix) {
  return ThinPlateScatteredSolve(srf, cloud, spansU, spansV, pointWeights, a, b, R, T, coef, fixVals,
                                 fixIdx, nFix);
}

int FitGriddedDataThinPlateBspline(Bspline* srf, double* xs, double* ys, double* zs, int nx, int ny,
                                   double a, double b, double* pointWeights, double R, double T,
                                   double* coef, double* fixVals, int* fixIdx, int nFix) {
  return ThinPlateGriddedSolve(srf, xs, ys, zs, nx, ny, a, b, pointWeights, R, T, coef, fixVals, fixIdx,
                               nFix);
}

double** SurfStiffMatrix(Bspline* srf, const double w[5]) { return ThinPlateStiffness(srf, w); }

int ComputeCntrlPntsPanaltyMat(double** P, int nU, int nV, int W, const double* cpWeights) {
  return ControlNetPenaltyBand(P, nU, nV, W, cpWeights);
}

void FindUObs(const float* x, const float* y, const float* z, int n, double* out) {
  HeightRangeOfPoints(x, y, z, n, out);
}
