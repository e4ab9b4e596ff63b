#include "splinefit/sconvert.h"

#include <cmath>
#include <cstring>

#include "bspline/bsvalid.h"
#include "bspline/isocurve.h"
#include "bspline/knots.h"
#include "bspline/kremove.h"
#include "bspline/nubutil.h"
#include "bspline/sfree.h"
#include "foundation/coreglob.h"
#include "foundation/mathmat.h"
#include "foundation/sort.h"
#include "foundation/umalloc.h"
#include "splinefit/intrplt.h"

double* GetUniformKnots(int n, int p, double a, double b) {
  if (p < 1 || n < 2 * p + 2) return nullptr;
  double* K = MallocArray<double>(n);
  if (!K || KernelFailed()) return nullptr;
  const double step = (b - a) / (n - 2 * p - 1);
  for (int i = 0; i <= p; ++i) K[i] = a;
  for (int i = p + 1; i <= n - p - 2; ++i) K[i] = K[i - 1] + step;
  for (int i = n - p - 1; i < n; ++i) K[i] = b;
  return K;
}

void FindDistinctKnots(int n, const double* knots, int* count, double** distinct) {
  DistinctKnotValues(n, knots, count, distinct);
}

int SampleCurvePlate(const Bspline* curve, int m, double** params) {
  *params = nullptr;
  if (!curve || m < 1 || !BsplineShapeSound(curve)) return 0;
  TrackingScope scope;
  int* mults = nullptr;
  double* inner = nullptr;
  const int d = DistinctInteriorKnots(curve, 0, &mults, &inner, 0.001);
  if (d < 0 || KernelFailed()) return 0;
  const int p = curve->degreeU;
  const double lo = curve->knotsU[p], hi = curve->knotsU[NumCtrlU(curve)];
  const int total = (d + 1) * m + 1;
  double* out;
  {
    UntrackedScope own;  // the caller's
    out = MallocArray<double>(total);
  }
  if (!out || KernelFailed()) return 0;
  int k = 0;
  for (int s = 0; s <= d; ++s) {
    const double a = s == 0 ? lo : inner[s - 1], b = s == d ? hi : inner[s];
    out[k++] = a;
    for (int j = 1; j < m; ++j) out[k++] = a + j * (b - a) / m;
  }
  out[k++] = hi;
  *params = out;
  return k;
}

int CleanKnotsToSpecMult(double* knots, int n, double tol, int maxMult, double** out) {
  *out = nullptr;
  if (!knots || n < 1) return 0;
  PutCloseValToSameVal(knots, n, 1, tol);
  double* copy = MallocArray<double>(n);
  if (!copy || KernelFailed()) return 0;
  int k = 0;
  for (int s = 0; s < n;) {
    int e = s + 1;
    while (e < n && std::fabs(knots[e] - knots[s]) <= tol) ++e;
    // A run of L values keeps its first maxMult.
    for (int j = s; j < e && j < s + maxMult; ++j) copy[k++] = knots[j];
    s = e;
  }
  *out = copy;
  return k;
}

double* InsertNewKnotsInLargeSpan(double* knots, int n, int p, int* extra) {
  const int want = *extra;
  if (want <= 0) {
    *extra = 0;
    double* copy = MallocArray<double>(n);
    if (!copy || KernelFailed()) return nullptr;
    std::memcpy(copy, knots, sizeof(double) * n);
    return copy;
  }
  const double tol = 1e-6 * (knots[n - 1] - knots[0]);
  int tiny = 0;
  for (int i = p + 1; i <= n - p - 3; ++i) tiny += knots[i + 1] - knots[i] < tol;
  double* cur = MallocArray<double>(n);
  if (!cur || KernelFailed()) return nullptr;
  std::memcpy(cur, knots, sizeof(double) * n);
  int len = n, remaining = want, added = 0;
  while (remaining > 0) {
    const int spans = len - 2 * p - 1 - tiny;
    if (spans < 1) break;  // nothing left to split
    const int batch = std::min(spans, remaining);
    double* next = GetLargestSpanAndInsert(cur, len, p, batch);
    Free(cur);
    if (!next || KernelFailed()) {
      Free(next);
      return nullptr;
    }
    cur = next;
    len += batch;
    remaining -= batch;
    added += batch;
  }
  *extra = added;
  return cur;
}

namespace {

// The ranking of GetCurveKnotsRanking into out (interior values), the curve loaded into info.
void RankKnots(const RemoveInfo* info, int dims, double* out) {
  const int p = info->degree, k = p + 1, interior = info->interior;
  const int n = interior + p + 1;
  const double* U = info->knots;
  const double* rows[4] = {info->x, info->y, info->z, info->w};
  const double* P[4];
  int c = 0;
  for (const double* r : rows)
    if (r) P[c++] = r;
  const double range = U[n] - U[p];
  double temp[4][2 * 24 + 4];
  for (int e = 0; e < interior; ++e) {
    const double u = U[p + 1 + e];
    int r = p;
    FindLowKnotIndex(U, p, u, &r, n);
    const int s = FindMultOfValInArray(U, n + p + 1, u, r, p + 1, 0, 1e-6 * range);
    const int first = r - p, last = r - s;
    int i = first, j = last, ii = 1, jj = last - first + 1;
    for (int a = 0; a < dims; ++a) {
      temp[a][0] = P[a][first - 1];
      temp[a][last - first + 2] = P[a][last + 1];
    }
    while (j - i > 0) {
      const double alfi = (u - U[i]) / (U[i + k] - U[i]);
      const double alfj = (u - U[j]) / (U[j + k] - U[j]);
      for (int a = 0; a < dims; ++a) {
        temp[a][ii] = (P[a][i] - (1.0 - alfi) * temp[a][ii - 1]) / alfi;
        temp[a][jj] = (P[a][j] - alfj * temp[a][jj + 1]) / (1.0 - alfj);
      }
      ++i, ++ii, --j, --jj;
    }
    double B = 0.0;
    for (int a = 0; a < dims; ++a) {
      double dev;
      if (j < i) {
        dev = temp[a][ii - 1] - temp[a][jj + 1];
      } else {
        const double alfi = (u - U[i]) / (U[i + k] - U[i]);
        dev = P[a][i] - (alfi * temp[a][ii + 1] + (1.0 - alfi) * temp[a][ii - 1]);
      }
      B += dev * dev;
    }
    B = std::sqrt(B);
    const int idx = j < i ? r - (p + s + 1) / 2 : r - (p + s) / 2;
    const double g = GrevilleAbscissa(U, k, idx);
    int span = p;
    FindLowKnotIndex(U, p, g, &span, n);
    double N[kMaxSplineDegree + 3] = {};
    ComputeNubVals(U, p, g, span, N);
    const int slot = idx - (span - p) + 1;
    out[e] = B * (slot >= 1 && slot <= p + 1 ? N[slot] : 0.0);
  }
}

}  // namespace

double* GetCurveKnotsRanking(const Bspline* curve) {
  if (!curve || curve->kind != 1 || !BsplineShapeSound(curve) || curve->interiorU < 1 ||
      curve->degreeU < 1 || curve->degreeU > 22)
    return nullptr;
  const int interior = curve->interiorU, p = curve->degreeU;
  double* out = MallocArray<double>(interior);
  if (!out || KernelFailed()) return nullptr;
  TrackingScope scope;
  const int is3D = curve->dimension == 3 ? 1 : 0;
  RemoveInfo* info = AllocateRemoveInfo(interior, interior, p + 1, is3D, curve->rational ? 1 : 0);
  if (!info || KernelFailed() || UpdateRemoveInfo(info, curve, interior, 0, 0) < 0) {
    Free(out);
    return nullptr;
  }
  RankKnots(info, 2 + is3D + (curve->rational ? 1 : 0), out);
  Free(info);
  return out;
}

double* GetReducedInternalKnots(const Bspline* srf, int d, int dir, double tol, int* count) {
  (void)tol;
  *count = 0;
  if (!srf || srf->kind != 2 || d < 1 || !BsplineShapeSound(srf)) return nullptr;
  const bool inV = dir != 0;
  const int p = inV ? srf->degreeV : srf->degreeU, nI = inV ? srf->interiorV : srf->interiorU;
  const int q = inV ? srf->degreeU : srf->degreeV, nJ = inV ? srf->interiorU : srf->interiorV;
  const double* K = inV ? srf->knotsV : srf->knotsU;
  const double* KO = inV ? srf->knotsU : srf->knotsV;
  if (nI == 0) return nullptr;
  int c = ((nI + 1) * p) / d - 1;
  if (srf->rational) c = (4 * c) / 3 + 1;
  if (c < 0) c = 0;
  if (d < p) {
    TrackingScope scope;
    double* ends = MallocArray<double>(nI + 2);
    if (!ends || KernelFailed()) return nullptr;
    for (int i = 0; i < nI + 2; ++i) ends[i] = K[p + i];
    double* distinct = nullptr;
    const double range = K[p + nI + 1] - K[p];
    const int m = CleanKnotsToSpecMult(ends, nI + 2, 1e-6 * range, 1, &distinct);
    if (m < 2 || KernelFailed()) return nullptr;
    int c2 = ((m - 1) * p) / d - 1;
    if (c2 < 0) c2 = 0;
    int extra = std::max(c2 - (m - 2), 0);
    const int len = 2 * (d + 1) + m - 2;
    double* vec = MallocArray<double>(len);
    if (!vec || KernelFailed()) return nullptr;
    for (int i = 0; i <= d; ++i) vec[i] = distinct[0], vec[len - 1 - i] = distinct[m - 1];
    for (int i = 1; i < m - 1; ++i) vec[d + i] = distinct[i];
    double* grown = InsertNewKnotsInLargeSpan(vec, len, d, &extra);
    if (!grown || KernelFailed()) return nullptr;
    const int total = m - 2 + extra;
    double* out;
    {
      UntrackedScope own;
      out = MallocArray<double>(std::max(total, 1));
    }
    if (!out || KernelFailed()) return nullptr;
    std::memcpy(out, grown + d + 1, sizeof(double) * total);
    *count = total;
    return out;
  }
  // Raised (or kept) degree: the knots whose removal changes the surface least go first; the
  // rankings of the iso curves across the direction are averaged per knot.
  TrackingScope scope;
  double* avg = CallocArray<double>(nI);
  int* taken = CallocArray<int>(nI);
  if (!avg || !taken || KernelFailed()) return nullptr;
  for (int j = q; j <= q + nJ + 1; ++j) {
    // An iso curve at the other direction's knot, running in dir.
    Owned<Bspline, FreeBspline> iso(
        IsoCurve3(const_cast<Bspline*>(srf), KO[j], KO[j], inV ? 1 : 0));
    if (!iso || KernelFailed()) return nullptr;
    double* rank = GetCurveKnotsRanking(iso.get());
    if (!rank || KernelFailed()) return nullptr;
    for (int i = 0; i < nI; ++i) avg[i] += rank[i] / (nJ + 2);
    Free(rank);
  }
  // The rational adjustment may ask for more knots than there are: the count is capped.
  if (c > nI) c = nI;
  double* out;
  {
    UntrackedScope own;
    out = MallocArray<double>(std::max(c, 1));
  }
  if (!out || KernelFailed()) return nullptr;
  for (int k = 0; k < c; ++k) {
    int best = -1;
    for (int i = 0; i < nI; ++i)
      if (!taken[i] && (best < 0 || avg[i] > avg[best])) best = i;
    taken[best] = 1;
    out[k] = K[p + 1 + best];
  }
  HeapSort(c, out);
  *count = c;
  return out;
}
