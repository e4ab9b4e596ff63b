#include "shrinkwrap/gridintp.h"

#include <algorithm>
#include <cstring>

#include "bspline/bsvalid.h"
#include "bspline/knots.h"
#include "bspline/nubutil.h"
#include "bspline/sfree.h"
#include "curve/pntintrp.h"
#include "foundation/coreglob.h"
#include "foundation/makemat.h"
#include "foundation/umalloc.h"

namespace {

// A new non-rational surface record with its arrays, outside every tracking scope.
Bspline* NewSurfaceRecord(int pu, int interiorU, int pv, int interiorV) {
  TrackingScope scope;
  Owned<Bspline, FreeBspline> s(MallocInitSurfaceBspline());
  if (!s || KernelFailed()) return nullptr;
  s->degreeU = pu;
  s->interiorU = interiorU;
  s->degreeV = pv;
  s->interiorV = interiorV;
  if (AllocateBsplineArrays(s.get()) < 0 || KernelFailed()) return nullptr;
  scope.keep();
  return s.release();
}

// The factored collocation band of count samples at params on knots: A, idx and the width.
// False when the parameters do not fit the knots.
bool FactorBand(const double* knots, const double* params, int count, int p, double*** A,
                int** idx, int* w) {
  *w = InterpBandWidth(p);
  *A = allocate_matrix_ff(count, *w);
  *idx = MallocArray<int>(count);
  if (!*A || !*idx || KernelFailed()) return false;
  CollocationRowsAtParams(knots, params, count - 1, *A, *idx, *w, p);
  const int h = (*w - 1) / 2;
  return FactorBandRows(*A, count - 1, h, h, *idx) == 0;
}

bool InputSound(const double* params, int count, const double* knots, int p) {
  return params && knots && count >= 1 && p >= 1 && p <= kMaxSplineDegree &&
         SortedFiniteArray(params, count) && (count == 1 || KnotVectorSound(knots, p, count));
}

}  // namespace

void CollocationRowsAtParams(const double* knots, const double* params, int m, double** A,
                             int* idx, int w, int p) {
  // p + 1 basis values a row, and a knot vector of at least p + 1 control points (m + 1) for
  // the span search over knots[p .. m + 1].
  if (!knots || !params || !A || !idx || p < 0 || p > kMaxSplineDegree || m < std::max(p, 1) ||
      w < p + 1) {
    SetKernelError(-2);
    return;
  }
  for (int r = 0; r <= m; ++r)
    for (int k = 0; k < w; ++k) A[r][k] = 0.0;
  idx[0] = 0;
  A[0][0] = 1.0;
  int span = p;
  for (int i = 1; i <= m; ++i) {
    FindLowKnotIndex(knots, p, params[i], &span, m + 1);
    idx[i] = span - p;
    if (i == m) break;
    double N[kMaxSplineDegree + 3] = {};
    ComputeNubVals(knots, p, params[i], span, N);
    for (int k = 0; k <= p; ++k) A[i][k] = N[k + 1];
  }
  A[m][p] = 1.0;
}

Bspline* CurveAtParams(double* x, double* y, double* z, const double* params, int count,
                       const double* knots, int p) {
  if (!x || !y || !InputSound(params, count, knots, p)) return nullptr;
  if (count == 1) return PointCurve(x, y, z, p);
  if (count < p + 1) return nullptr;
  TrackingScope scope;
  double** A;
  int* idx;
  int w;
  if (!FactorBand(knots, params, count, p, &A, &idx, &w)) return nullptr;
  Owned<Bspline, FreeBspline> c(MallocCurveBspline(z ? 3 : 2, p, count));
  if (!c) return nullptr;
  std::memcpy(c->knotsU, knots, sizeof(double) * (count + p + 1));
  const double* data[3] = {x, y, z};
  if (!SolveBandCoordinates(A, count - 1, w, idx, data, c.get())) return nullptr;
  SetDomainFromKnots(c.get(), 0);
  return c.release();
}

Bspline* SkinAtParams(int n, Bspline** curves, const double* vparams, const double* vknots,
                      int pv) {
  if (!curves || n < pv + 1 || !InputSound(vparams, n, vknots, pv)) return nullptr;
  const Bspline* f = curves[0];
  for (int i = 0; i < n; ++i) {
    const Bspline* c = curves[i];
    if (!c || c->kind != 1 || c->dimension != 3 || c->rational ||
        c->degreeU != f->degreeU || c->interiorU != f->interiorU)
      return nullptr;
  }
  TrackingScope scope;
  Owned<Bspline, FreeBspline> s(NewSurfaceRecord(f->degreeU, f->interiorU, pv, n - pv - 1));
  if (!s) return nullptr;
  std::memcpy(s->knotsU, f->knotsU, sizeof(double) * NumKnotsU(f));
  std::memcpy(s->knotsV, vknots, sizeof(double) * (n + pv + 1));
  double** A;
  int* idx;
  int w;
  if (!FactorBand(vknots, vparams, n, pv, &A, &idx, &w)) return nullptr;
  double* col = MallocArray<double>(n);
  if (!col || KernelFailed()) return nullptr;
  double** M[3] = {s->X, s->Y, s->Z};
  const int nu = NumCtrlU(f);
  for (int j = 0; j < nu; ++j) {
    for (int k = 0; k < 3; ++k) {
      for (int i = 0; i < n; ++i) {
        double** C[3] = {curves[i]->X, curves[i]->Y, curves[i]->Z};
        col[i] = C[k][0][j];
      }
      if (SolveBandRows(A, n - 1, col, col, w, idx) < 0) return nullptr;
      for (int i = 0; i < n; ++i) M[k][i][j] = col[i];
    }
  }
  return s.release();
}

Bspline* GridAtParams(double* x, double* y, double* z, int nu, int nv, const double* uparams,
                      const double* vparams, const double* uknots, const double* vknots, int pu,
                      int pv) {
  if (!x || !y || !z || nu < 1 || nv < 1) return nullptr;
  TrackingScope scope;
  Bspline** rows = CallocArray<Bspline*>(nv);
  if (!rows || KernelFailed()) return nullptr;
  bool ok = true;
  for (int j = 0; ok && j < nv; ++j) {
    rows[j] = CurveAtParams(x + j * nu, y + j * nu, z + j * nu, uparams, nu, uknots, pu);
    ok = rows[j] && !KernelFailed();
  }
  Bspline* s = ok ? SkinAtParams(nv, rows, vparams, vknots, pv) : nullptr;
  FreeBsplineArrayContents(rows, nv);
  if (!s) return nullptr;
  SetDomainFromKnots(s, 0);
  SetDomainFromKnots(s, 1);
  return s;
}
