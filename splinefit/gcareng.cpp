#include "splinefit/gcareng.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "bspline/bsvalid.h"
#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "foundation/cloudrec.h"
#include "foundation/coreglob.h"
#include "foundation/makemat.h"
#include "foundation/umalloc.h"
#include "platform/tstubs.h"
#include "splinefit/aspline.h"
#include "splinefit/gspline.h"

namespace {

// The banded factor of one direction in square-root-free form: per coefficient c the diagonal
// d[c], the three off-diagonals U[4 c + 1 .. 4 c + 3] of its unit upper triangular row, and
// its nr transformed right-hand sides R[c nr + r].
struct GivensFactor {
  int n = 0, nr = 0;
  double* d = nullptr;
  double* U = nullptr;
  double* R = nullptr;
  bool Make(int count, int rhs) {
    n = count, nr = rhs;
    d = CallocArray<double>(n);
    U = CallocArray<double>(n, 4);
    R = CallocArray<double>(n, nr);
    return d && U && R && !KernelFailed();
  }
};

// Gentleman's square-root-free Givens update with the observation row x (at coefficients
// f .. f + 3) and right-hand sides y (nr values), running weight 1. Basis values below 1e-5
// are left out, and the update stops once the weight has fallen below 1e-5.
void FoldObservation(GivensFactor& F, int f, double x[4], double* y) {
  double w = 1.0;
  for (int k = 0; k < 4; ++k) {
    if (std::fabs(w) < 1e-5) break;
    const double xk = x[k];
    if (std::fabs(xk) < 1e-5) continue;
    const int c = f + k;
    const double dp = F.d[c] + w * xk * xk;
    if (dp == 0.0) {
      // Nothing to rotate into: the update of this value is skipped.
      DebugMessageFormat("dprime = 0 for ii = %dd\nn", k);
      continue;
    }
    const double cb = F.d[c] / dp, sb = w * xk / dp;
    w *= cb;
    F.d[c] = dp;
    double* r = F.R + static_cast<long>(c) * F.nr;
    for (int j = 0; j < F.nr; ++j) {
      const double old = r[j];
      r[j] = cb * old + sb * y[j];
      y[j] -= xk * old;
    }
    for (int l = k + 1; l < 4; ++l) {
      const double old = F.U[4 * c + l - k];
      F.U[4 * c + l - k] = cb * old + sb * x[l];
      x[l] -= xk * old;
    }
  }
}

// The first coefficient and the basis of each grid value of one direction (increasing
// values): the knot walk decides the span, so a value within 1e-5 of the domain's length of an
// interior knot counts as lying beyond it and its basis is taken in the span after the knot
// (relative, so that a grid of any size is read alike).
struct DirectionWalk {
  const double* knots;
  int m;  // interior knots
  double h;
  bool wrap;
  int f = 0;
  void Basis(double x, int* first, double out[4]) {
    const double nearKnot = 1e-5 * h * (m + 1);
    while (f < m && (knots[4 + f] < x || std::fabs(x - knots[4 + f]) < nearKnot)) ++f;
    const double t = std::clamp((x - knots[3 + f]) / h, 0.0, 1.0);
    if (wrap)
      cmp_wraped_bspl(t, h, 0, out);
    else
      cmp_unwraped_bspl(t, h, 0, out, f + 1, m + 1);
    *first = f;
  }
};

// Back substitution with a unit upper triangular factor (no division) for the right-hand side
// at stride `stride` starting at b[0]: c_j = r_j - sum_l U[j][l] c_{j+l}.
void BackSubstitute(const GivensFactor& F, double* b, long stride) {
  for (int j = F.n - 1; j >= 0; --j) {
    double s = b[j * stride];
    for (int l = 1; l <= 3 && j + l < F.n; ++l) s -= F.U[4 * j + l] * b[(j + l) * stride];
    b[j * stride] = s;
  }
}

}  // namespace

// Method: least squares of the grid heights in the tensor-product basis separates: the u
// factor is built from the columns with all rows' heights as right-hand sides, the v factor
// from the rows with the u-transformed right-hand sides of every u coefficient, and the two
// unit triangular factors are then undone along v and along u.
void find_gcar_coefi(const float* xs, int nx, const float* ys, int ny, const float* z, int mU, int mV,
                     const double* knotsU, const double* knotsV, double* coef, double umax, double vmax,
                     double umin, double vmin, int wrapU) {
  if (!xs || !ys || !z || !knotsU || !knotsV || !coef) {
    SetKernelError(-2);
    return;
  }
  const int nU = mU + 4, nV = mV + 4;
  TrackingScope scope;
  GivensFactor Fu, Fv;
  double* y = MallocArray<double>(std::max(nx, std::max(ny, nU)) + 1);
  if (!y || !Fu.Make(nU, ny) || !Fv.Make(nV, nU)) return;
  double x[4], out[4];
  int f;
  DirectionWalk walkU{knotsU, mU, (umax - umin) / (mU + 1), wrapU == 1};
  for (int i = 0; i < nx; ++i) {
    walkU.Basis(xs[i], &f, out);
    for (int k = 0; k < 4; ++k) x[k] = out[3 - k];
    for (int j = 0; j < ny; ++j) y[j] = z[i + static_cast<long>(j) * nx];
    FoldObservation(Fu, f, x, y);
  }
  DirectionWalk walkV{knotsV, mV, (vmax - vmin) / (mV + 1), false};
  for (int j = 0; j < ny; ++j) {
    walkV.Basis(ys[j], &f, out);
    for (int k = 0; k < 4; ++k) x[k] = out[3 - k];
    for (int c = 0; c < nU; ++c) y[c] = Fu.R[static_cast<long>(c) * ny + j];
    FoldObservation(Fv, f, x, y);
  }
  // Fv.R[c' nU + i]: v coefficient c', u coefficient i. Undo v for every u index, then u.
  for (int i = 0; i < nU; ++i) BackSubstitute(Fv, Fv.R + i, nU);
  for (int j = 0; j < nV; ++j) {
    for (int i = 0; i < nU; ++i) coef[i * nV + j] = Fv.R[static_cast<long>(j) * nU + i];
    BackSubstitute(Fu, coef + j, nV);
  }
}

void gcar_spline_fit(Bspline* srf, Cloud* cloud) {
  if (!srf || !cloud || !cloud->z) {
    SetKernelError(-2);
    return;
  }
  // A record with its net is walked by its knots and written: it must pass the record check.
  if (srf->Z && !RecordsSound({srf})) return;
  srf->fitProps = {0, 0.0, 1.0e6, 0.1};
  if (!srf->Z) {
    assign_gcar_knots(srf, srf->umin, srf->vmin, srf->umax, srf->vmax);
    if (KernelFailed()) return;
  }
  if (srf->degreeU != 3 || srf->degreeV != 3) {
    find_plate_coefi(srf, cloud, nullptr, nullptr, 0, 0);
    return;
  }
  const bool transposed = cloud->grid.colAxis != 0;
  const int perRow = cloud->ptsPerRow, rows = cloud->nscans;
  if (perRow < 1 || rows < 1 || static_cast<long>(perRow) * rows != cloud->npts) {
    SetKernelError(-2);
    return;
  }
  // x along the rows, or across them on a transposed grid.
  const int nx = transposed ? rows : perRow, ny = transposed ? perRow : rows;
  const double sx = transposed ? cloud->grid.rowStep : cloud->grid.colStep;
  const double sy = transposed ? cloud->grid.colStep : cloud->grid.rowStep;
  const int nU = NumCtrlU(srf), nV = NumCtrlV(srf);
  {
    TrackingScope scope;
    float* xs = MallocArray<float>(nx);
    float* ys = MallocArray<float>(ny);
    double* coef = MallocArray<double>(nU, nV);
    float* zt = transposed ? MallocArray<float>(cloud->npts) : cloud->z;
    if (!KernelFailed() && xs && ys && coef && zt) {
      for (int i = 0; i < nx; ++i) xs[i] = static_cast<float>(srf->umin + i * sx);
      for (int j = 0; j < ny; ++j) ys[j] = static_cast<float>(srf->vmin + j * sy);
      if (transposed)
        for (int i = 0; i < nx; ++i)
          for (int j = 0; j < ny; ++j) zt[i + static_cast<long>(j) * nx] = cloud->z[static_cast<long>(i) * perRow + j];
      find_gcar_coefi(xs, nx, ys, ny, zt, srf->interiorU, srf->interiorV, srf->knotsU, srf->knotsV, coef,
                      srf->umax, srf->vmax, srf->umin, srf->vmin, 0);
      if (!KernelFailed())
        for (int j = 0; j < nV; ++j)
          for (int i = 0; i < nU; ++i) srf->Z[j][i] = coef[i * nV + j];
    }
  }
  if (memory_error == 1) {
    FreeAndNull(srf->knotsU);
    FreeAndNull(srf->knotsV);
    for (double*** m : {&srf->X, &srf->Y, &srf->Z})
      if (*m) {
        matrix_free_fh(*m);
        *m = nullptr;
      }
  }
}
