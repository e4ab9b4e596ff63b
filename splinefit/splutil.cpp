#include "splinefit/splutil.h"

#include <cmath>
#include <cstring>

#include "bspline/bsvalid.h"
#include "bspline/ctrlnubs.h"
#include "bspline/measure.h"
#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"

double Dist(const double* a, const double* b, int n) {
  double s = 0.0;
  for (int i = 0; i < n; ++i) s += (a[i] - b[i]) * (a[i] - b[i]);
  return std::sqrt(s);
}

namespace {

// One control line of n points in `dims` coordinates, points at line[c][i].
// Knot removal (the inverse of Boehm's insertion): with K' = K less entry r (u = K[r]), the
// insertion of u into K' gives P(i) = (1 - a) Q(i-1) + a Q(i) for i = r-p .. r-1, where
// 1 - a = (K'[i+p] - u) / (K'[i+p] - K'[i]); solved from the left for Q(r-p) .. Q(r-1), the
// removal is exact when Q(r-1) meets P(r), which the insertion leaves unchanged. On success
// Kout (n + p values) and Q (n - 1 points) hold the shorter line.
bool TryRemove(const double* K, int p, int n, double* const* line, int dims, int r, double tol,
               double* Kout, double* const* Q) {
  if (r <= p || r >= n) return false;
  while (r > p + 1 && K[r - 1] == K[r]) --r;  // the first copy of the run
  const double u = K[r];
  for (int i = 0, k = 0; i < n + p + 1; ++i)
    if (i != r) Kout[k++] = K[i];
  for (int c = 0; c < dims; ++c) {
    for (int i = 0; i < r - p; ++i) Q[c][i] = line[c][i];
    for (int i = r - p; i <= r - 1; ++i) {
      const double den = Kout[i + p] - Kout[i];
      const double alpha = den != 0.0 ? (Kout[i + p] - u) / den : 0.0;
      if (1.0 - alpha == 0.0) {
        Q[c][i] = line[c][i];
        continue;
      }
      Q[c][i] = (line[c][i] - alpha * Q[c][i - 1]) / (1.0 - alpha);
    }
  }
  double a[3] = {}, b[3] = {};
  for (int c = 0; c < dims; ++c) a[c] = Q[c][r - 1], b[c] = line[c][r];
  const double d = Dist(a, b, dims);
  if (!(d <= tol)) return false;
  for (int c = 0; c < dims; ++c)
    for (int k = 0; r + k < n; ++k) Q[c][r - 1 + k] = line[c][r + k];
  return true;
}

int RemoveFromCurve(Bspline* curve, int r, double tol) {
  if (!curve || curve->kind != 1 || curve->rational || !BsplineShapeSound(curve)) return 0;
  const int p = curve->degreeU, n = NumCtrlU(curve), dims = curve->dimension;
  TrackingScope scope;
  double* work = MallocArray<double>(n + p + 1 + 3 * n);
  if (!work || KernelFailed()) return -2;
  double* Q[3] = {work + n + p + 1, work + n + p + 1 + n, work + n + p + 1 + 2 * n};
  double* line[3] = {curve->X[0], curve->Y[0], dims == 3 ? curve->Z[0] : nullptr};
  if (!TryRemove(curve->knotsU, p, n, line, dims, r, tol, work, Q)) return 0;
  std::memcpy(curve->knotsU, work, sizeof(double) * (n + p));
  for (int c = 0; c < dims; ++c) std::memcpy(line[c], Q[c], sizeof(double) * (n - 1));
  curve->interiorU -= 1;
  FreeBsplineProperties(curve);
  return 1;
}

// The interior entries left to right, a removed one replaced by the next.
template <class Remove>
void RemoveEveryKnot(int p, const int* interior, Remove remove) {
  for (int i = p + 1; i < p + 1 + *interior;)
    if (remove(i) != 1) ++i;
}

}  // namespace

int RemoveKnotFromCurve(Bspline* curve, int r, double tol) { return RemoveFromCurve(curve, r, tol); }

int RemoveCurveKnot(Bspline* curve, int r, double tol) {
  return RemoveKnotFromCurve(curve, r, tol) == 1 ? 1 : 0;
}

int RemoveKnot(Bspline* curve, int r, double tol) { return RemoveFromCurve(curve, r, tol); }

int RemoveAllCurveKnots(Bspline* curve, double tol) {
  if (!curve || curve->kind != 1) return 0;
  RemoveEveryKnot(curve->degreeU, &curve->interiorU,
                  [&](int i) { return RemoveCurveKnot(curve, i, tol); });
  return 0;
}

int RemoveSurfKnot(Bspline* surface, int dir, int r, double tol) {
  if (!surface || surface->kind != 2 || surface->rational || !BsplineShapeSound(surface)) return 0;
  const bool inV = dir != 0;
  const int nu = NumCtrlU(surface), nv = NumCtrlV(surface);
  const int p = inV ? surface->degreeV : surface->degreeU, n = inV ? nv : nu;
  const int lines = inV ? nu : nv;
  double* K = inV ? surface->knotsV : surface->knotsU;
  TrackingScope scope;
  // Every line shortened into the work block first: the surface changes only when all pass.
  double* Kout = MallocArray<double>(n + p + 1);
  double* lineBuf = MallocArray<double>(3, n);
  double* out = MallocArray<double>(3, lines, n);
  if (!Kout || !lineBuf || !out || KernelFailed()) return -2;
  double** M[3] = {surface->X, surface->Y, surface->Z};
  for (int l = 0; l < lines; ++l) {
    double* line[3] = {lineBuf, lineBuf + n, lineBuf + 2 * n};
    double* Q[3];
    for (int c = 0; c < 3; ++c) {
      Q[c] = out + (c * lines + l) * n;
      for (int i = 0; i < n; ++i) line[c][i] = inV ? M[c][i][l] : M[c][l][i];
    }
    if (!TryRemove(K, p, n, line, 3, r, tol, Kout, Q)) return 0;
  }
  std::memcpy(K, Kout, sizeof(double) * (n + p));
  for (int c = 0; c < 3; ++c)
    for (int l = 0; l < lines; ++l)
      for (int i = 0; i < n - 1; ++i) {
        const double v = out[(c * lines + l) * n + i];
        (inV ? M[c][i][l] : M[c][l][i]) = v;
      }
  (inV ? surface->interiorV : surface->interiorU) -= 1;
  FreeBsplineProperties(surface);
  return 1;
}

int RemoveAllSurfKnots(Bspline* surface, double tol) {
  if (!surface || surface->kind != 2) return 0;
  RemoveEveryKnot(surface->degreeU, &surface->interiorU,
                  [&](int i) { return RemoveSurfKnot(surface, 0, i, tol); });
  RemoveEveryKnot(surface->degreeV, &surface->interiorV,
                  [&](int i) { return RemoveSurfKnot(surface, 1, i, tol); });
  return 0;
}

void GetMaxCurveDeviation(const Bspline* curve, int i, double d, double* out) {
  if (!out) return;
  *out = 0.0;
  if (!curve || !curve->knotsU) return;
  *out = GrevilleDeviation(curve->knotsU, curve->degreeU, NumCtrlU(curve), i, d);
}

int IsKnotVectorUniform(const Bspline* obj, int dir, double tol) {
  const bool inV = obj->kind == 2 && dir != 0;
  const double* K = inV ? obj->knotsV : obj->knotsU;
  const int p = inV ? obj->degreeV : obj->degreeU;
  const int interior = inV ? obj->interiorV : obj->interiorU;
  if (interior < 1) return 1;
  const double s = K[p + 1] - K[p];
  for (int j = p; j <= p + interior - 1; ++j) {
    const double span = K[j + 1] - K[j];
    if (span < s - tol || span > s + tol) return 0;
  }
  return 1;
}

void BenchBsplEval(const Bspline* surface, const double* u, const double* v, int nu, int nv,
                   const int* requests, double* out, double*** outGrid, int useGeneric) {
  const bool derivs = requests[1] || requests[2];
  static const int kDu[3] = {0, 1, 0}, kDv[3] = {0, 0, 1};
  if (nu == 1 && nv == 1) {
    double r[3][3] = {};
    for (int k = 0; k < 100000; ++k) {
      if (derivs && useGeneric)
        EvalPointOnGeometryM(surface, u[0], v[0], kDu, kDv, 3, 0, r);
      else
        Eval3DPointOnSurfArrayM(surface, u[0], v[0], requests, r);
    }
    if (out) std::memcpy(out, r, sizeof(r));
    return;
  }
  if (!derivs) {
    Eval3DGridOnBsplArray(surface, u, nu, v, nv, out, out + nu * nv, out + 2 * nu * nv);
  } else if (useGeneric && outGrid) {
    EvalGridOnGeometryM(surface, u, v, nu, nv, kDu, kDv, 3, 0, *outGrid);
  }
}
