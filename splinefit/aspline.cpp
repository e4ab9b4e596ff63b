#include "splinefit/aspline.h"

#include <algorithm>
#include <cmath>

#include "bspline/nubutil.h"
#include "bspline/smake.h"
#include "foundation/coreglob.h"
#include "foundation/makemat.h"
#include "foundation/umalloc.h"
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

// ---- Uniform cubic basis values ---------------------------------------------------------------

namespace {

// Derivative order d of the basis on spans of length h carries 1 / h^d; orders outside 0..3
// are taken as 3.
int BasisOrder(int d) { return d >= 0 && d <= 3 ? d : 3; }

// The clamped cubic on nSpans unit spans (knots 0 four times, 1 .. nSpans - 1, nSpans four
// times) by the kernel's basis recurrence, in the reverse order of the evaluators here.
void ClampedUniformCubic(double t, double h, int d, double out[4], int span, int nSpans) {
  if (nSpans < 1 || span < 1 || span > nSpans) {
    for (int k = 0; k < 4; ++k) out[k] = 0.0;
    return;
  }
  double knots[8];
  // Only the knots span - 1 .. span + 6 (relative) are read: three on either side of the span.
  const int s = 3;  // the span's index in this window
  for (int k = 0; k < 8; ++k) {
    const int g = span - 1 + k - s;  // global knot value before clamping
    knots[k] = std::clamp(g, 0, nSpans);
  }
  double row[4];
  ComputeNubDerivs(knots, 3, (span - 1) + t, s, BasisOrder(d), row);
  const double scale = std::pow(h, -BasisOrder(d));
  for (int k = 0; k < 4; ++k) out[k] = row[3 - k] * scale;
}

}  // namespace

void cmp_wraped_bspl(double t, double h, int d, double out[4]) {
  const double s = 1.0 - t;
  switch (BasisOrder(d)) {
    case 0:
      out[0] = t * t * t / 6.0;
      out[1] = (3.0 * (t + t * t - t * t * t) + 1.0) / 6.0;
      out[2] = (3.0 * (t * t * t - 2.0 * t * t) + 4.0) / 6.0;
      out[3] = s * s * s / 6.0;
      break;
    case 1: {
      const double f = 0.5 / h;
      out[0] = f * t * t;
      out[1] = f * (1.0 + 2.0 * t - 3.0 * t * t);
      out[2] = f * (3.0 * t * t - 4.0 * t);
      out[3] = -f * s * s;
      break;
    }
    case 2: {
      const double f = 1.0 / (h * h);
      out[0] = f * t;
      out[1] = f * (1.0 - 3.0 * t);
      out[2] = f * (3.0 * t - 2.0);
      out[3] = f * s;
      break;
    }
    default: {
      const double f = 1.0 / (h * h * h);
      out[0] = f;
      out[1] = -3.0 * f;
      out[2] = 3.0 * f;
      out[3] = -f;
      break;
    }
  }
}

void cmp_unwraped_bspl(double t, double h, int d, double out[4], int span, int nSpans) {
  // Away from the three end spans on either side the clamped basis is the periodic one.
  if (nSpans >= 7 && span >= 4 && span <= nSpans - 3) {
    cmp_wraped_bspl(t, h, d, out);
    return;
  }
  cmp_multipleknot_bspl(t, h, d, out, span, nSpans);
}

void cmp_multipleknot_bspl(double t, double h, int d, double out[4], int span, int nSpans) {
  ClampedUniformCubic(t, h, d, out, span, nSpans);
}

// ---- Helpers of the uniform bicubic grids (no caller in the kernel) ---------------------------

namespace {

// Six times the four segments of the uniform cubic B-spline on one unit span (coefficients of
// t^0 .. t^3), and their derivatives scaled to integers: 2 P', P'', P'''. The Gram sums divide
// by the squares of those factors: 36, 4, 1, 1.
constexpr int kSegments[4][4][4] = {
    {{0, 0, 0, 1}, {1, 3, 3, -3}, {4, 0, -6, 3}, {1, -3, 3, -1}},
    {{0, 0, 1, 0}, {1, 2, -3, 0}, {0, -4, 3, 0}, {-1, 2, -1, 0}},
    {{0, 1, 0, 0}, {1, -3, 0, 0}, {-2, 3, 0, 0}, {1, -1, 0, 0}},
    {{1, 0, 0, 0}, {-3, 0, 0, 0}, {3, 0, 0, 0}, {-1, 0, 0, 0}},
};
constexpr double kSegmentDivisor[4] = {36.0, 4.0, 1.0, 1.0};

// The 1-4-1 system of cubic interpolation at the knots on one line of m values (stride apart):
// diagonal 4, off-diagonals 1, right-hand side 6 s, truncated at both ends; solved in place.
void SolveOneFourOne(double* s, int m, long stride, double* tmp) {
  double prev = 0.0;
  for (int k = 0; k < m; ++k) {
    const double diag = 4.0 - prev;
    tmp[k] = 1.0 / diag;
    s[k * stride] = (6.0 * s[k * stride] - (k > 0 ? s[(k - 1) * stride] : 0.0)) / diag;
    prev = tmp[k];
  }
  for (int k = m - 2; k >= 0; --k) s[k * stride] -= tmp[k] * s[(k + 1) * stride];
}

// One line of a uniform cubic coefficient grid refined to twice its spans: the old spline
// sampled at its knots and half-span points (first and last samples scaled by 0.8511, the
// legacy end correction), the 1-4-1 system solved for the inner coefficients, and the two end
// coefficients chosen so that the end samples are interpolated.
void RefineLine(const double* c, int spans, double* out, double* tmp) {
  const int m = 2 * spans + 1;
  double* s = out + 1;
  for (int k = 0; k <= spans; ++k) s[2 * k] = (c[k] + 4 * c[k + 1] + c[k + 2]) / 6;
  for (int k = 0; k < spans; ++k) s[2 * k + 1] = (c[k] + 23 * c[k + 1] + 23 * c[k + 2] + c[k + 3]) / 48;
  const double first = s[0], last = s[m - 1];
  s[0] *= 0.8511;
  s[m - 1] *= 0.8511;
  SolveOneFourOne(s, m, 1, tmp);
  out[0] = 6 * first - 4 * s[0] - (m > 1 ? s[1] : 0.0);
  out[m + 1] = 6 * last - 4 * s[m - 1] - (m > 1 ? s[m - 2] : 0.0);
}

}  // namespace

void shift_integral(int s, double* out) {
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) {
      double sum = 0.0;
      if (s >= 0 && s <= 3)
        for (int k = 0; k < 4; ++k)
          for (int l = 0; l < 4; ++l) sum += kSegments[s][i][k] * kSegments[s][j][l] / double(k + l + 1);
      out[i * 23 + j] = s >= 0 && s <= 3 ? sum / kSegmentDivisor[s] : 0.0;
    }
  }
}

void interpolate_coefi(int nx, int ny, double* work, double* tmp, Bspline* srf) {
  if (!srf || !srf->Z || !work || !tmp || nx < 2 || ny < 2 || nx % 2 || ny % 2 || srf->degreeU != 3 ||
      srf->degreeV != 3 || NumCtrlU(srf) != nx / 2 + 3 || NumCtrlV(srf) != ny / 2 + 3) {
    SetKernelError(-2);
    return;
  }
  const int oldV = ny / 2 + 3, newU = nx + 3, newV = ny + 3;
  double** Z;
  {
    UntrackedScope own;  // the record's
    Z = allocate_matrix_fh(newV, newU);
  }
  if (!Z || KernelFailed()) return;
  // Along u, row by row, into work (oldV rows of newU values); then along v, column by column.
  for (int j = 0; j < oldV; ++j) RefineLine(srf->Z[j], nx / 2, work + static_cast<long>(j) * newU, tmp);
  double* col = tmp + newV + newU;
  double* line = col + oldV;
  for (int i = 0; i < newU; ++i) {
    for (int j = 0; j < oldV; ++j) col[j] = work[static_cast<long>(j) * newU + i];
    RefineLine(col, ny / 2, line, tmp);
    for (int j = 0; j < newV; ++j) Z[j][i] = line[j];
  }
  matrix_free_fh(srf->Z);
  srf->Z = Z;
}

void setup_itera_improve_coefi() {}

void itera_improve_coefi(int n1, int n2, double* coef, const double* rhs, int sweeps) {
  if (!coef || !rhs || n1 < 1 || n2 < 1) return;
  static constexpr double w[3] = {1.0, 4.0, 1.0};
  for (int it = 0; it < sweeps; ++it) {
    for (int j = 0; j < n2; ++j) {
      for (int i = 0; i < n1; ++i) {
        double off = 0.0;
        for (int b = -1; b <= 1; ++b)
          for (int a = -1; a <= 1; ++a) {
            if ((a == 0 && b == 0) || i + a < 0 || i + a >= n1 || j + b < 0 || j + b >= n2) continue;
            off += w[a + 1] * w[b + 1] * coef[(j + b) * n1 + i + a];
          }
        double& c = coef[j * n1 + i];
        const double g = (rhs[j * n1 + i] - off) / 16.0;
        c += 1.5 * (g - c);
      }
    }
  }
}
