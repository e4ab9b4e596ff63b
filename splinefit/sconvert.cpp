#include "splinefit/sconvert.h"

#include <cmath>
#include <cstring>

#include "bspline/bsvalid.h"
#include "bspline/isocurve.h"
#include "bspline/knots.h"
#include "bspline/kremove.h"
#include "bspline/nubutil.h"
#include "bspline/sfree.h"
#include "bspline/nubs.h"
#include "foundation/coreglob.h"
#include "foundation/makemat.h"
#include "foundation/mathutil.h"
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

// ---- Piecewise polynomial forms ----------------------------------------------------------------

void FreePpolyCurve(PpolyCurve* pp) {
  if (!pp) return;
  if (pp->segments) {
    for (int i = 0; i < pp->segmentCount; ++i) {
      PpolySegment* s = pp->segments[i];
      if (!s) continue;
      if (s->coefficients) matrix_free_ff(s->coefficients);
      Free(s);
    }
    Free(pp->segments);
  }
  if (pp->breakpoints) Free(pp->breakpoints);
  *pp = PpolyCurve{};
}

void FreePpolySurface(PpolySurface* pp) {
  if (!pp) return;
  if (pp->patches) {
    for (int iu = 0; iu < pp->segmentCountU; ++iu) {
      PpolyPatch** column = pp->patches[iu];
      if (!column) continue;
      for (int iv = 0; iv < pp->segmentCountV; ++iv) {
        PpolyPatch* p = column[iv];
        if (!p) continue;
        if (p->coefficients) matrix_free_3dim_ff(p->countU, p->coefficients);
        Free(p);
      }
      Free(column);
    }
    Free(pp->patches);
  }
  if (pp->breakpointsU) Free(pp->breakpointsU);
  if (pp->breakpointsV) Free(pp->breakpointsV);
  *pp = PpolySurface{};
}

// Method: the segment over [b_i, b_i+1] in s = (t - b_i) / h, h = b_i+1 - b_i, is its Taylor
// polynomial at the span start: coefficient k = h^k D^k(b_i) / k!, the chain rule standing in
// for a knot vector mapped onto [0, 1]. Reading the curve at b_i picks the span to the right of
// the breakpoint, so every segment has its own polynomial. The curve is only read.
int bspline2ppolyCurve(Bspline* curve, PpolyCurve* pp) {
  if (!pp) return -2;
  *pp = PpolyCurve{};
  if (!curve || curve->kind != 1 || !BsplineShapeSound(curve)) return -2;
  const int p = curve->degreeU;
  const int dim = curve->dimension == 2 ? 2 : 3;
  PpolyCurve out{};
  out.degree = p;
  out.dim = dim;
  {
    // Everything hanging from the record is the caller's: no scope of ours frees it.
    UntrackedScope own;
    int L1 = 0;
    DistinctKnotValues(NumKnotsU(curve), curve->knotsU, &L1, &out.breakpoints);
    if (!out.breakpoints || L1 < 2 || KernelFailed()) {
      FreePpolyCurve(&out);
      return -2;
    }
    out.segmentCount = L1 - 1;
    out.segments = CallocArray<PpolySegment*>(out.segmentCount);
    if (!out.segments || KernelFailed()) {
      FreePpolyCurve(&out);
      return -2;
    }
    for (int i = 0; i < out.segmentCount; ++i) {
      PpolySegment* s = CallocArray<PpolySegment>(1);
      if (!s || KernelFailed()) break;
      out.segments[i] = s;
      s->degree = p;
      s->dim = dim;
      s->coefficientCount = p + 1;
      s->coefficients = allocate_matrix_ff(dim, p + 1);
      if (!s->coefficients || KernelFailed()) break;
      const double b = out.breakpoints[i], h = out.breakpoints[i + 1] - b;
      double hk = 1.0;
      for (int k = 0; k <= p; ++k) {
        double d[3] = {0.0, 0.0, 0.0};
        if (dim == 2)
          Eval2DPointOnCurve2Array(curve->owner, curve, b, k, d);
        else
          Eval3DPointOnCurve3Array(curve, b, k, d);
        const double f = hk / GetFactorial(k);
        for (int c = 0; c < dim; ++c) s->coefficients[c][k] = d[c] * f;
        hk *= h;
      }
    }
  }
  if (KernelFailed()) {
    FreePpolyCurve(&out);
    return -2;
  }
  *pp = out;
  return 0;
}

// The surface form: patch (iu, iv) holds h^k g^l D^(k,l)(a_iu, b_iv) / (k! l!) with h and g
// the two span lengths, read from the surface as it is.
int bsurf2ppoly(Bspline* srf, PpolySurface* pp) {
  if (!pp) return -2;
  *pp = PpolySurface{};
  if (!srf || srf->kind != 2 || srf->dimension != 3 || !BsplineShapeSound(srf)) return -2;
  const int p = srf->degreeU, q = srf->degreeV;
  PpolySurface out{};
  out.degreeU = p;
  out.degreeV = q;
  out.dim = 3;
  {
    UntrackedScope own;
    int nu = 0, nv = 0;
    DistinctKnotValues(NumKnotsU(srf), srf->knotsU, &nu, &out.breakpointsU);
    DistinctKnotValues(NumKnotsV(srf), srf->knotsV, &nv, &out.breakpointsV);
    if (!out.breakpointsU || !out.breakpointsV || nu < 2 || nv < 2 || KernelFailed()) {
      FreePpolySurface(&out);
      return -2;
    }
    out.segmentCountU = nu - 1;
    out.segmentCountV = nv - 1;
    out.patches = CallocArray<PpolyPatch**>(out.segmentCountU);
    if (!out.patches || KernelFailed()) {
      FreePpolySurface(&out);
      return -2;
    }
    for (int iu = 0; iu < out.segmentCountU && !KernelFailed(); ++iu) {
      out.patches[iu] = CallocArray<PpolyPatch*>(out.segmentCountV);
      if (!out.patches[iu]) break;
      const double a = out.breakpointsU[iu], h = out.breakpointsU[iu + 1] - a;
      for (int iv = 0; iv < out.segmentCountV; ++iv) {
        PpolyPatch* patch = CallocArray<PpolyPatch>(1);
        if (!patch || KernelFailed()) break;
        out.patches[iu][iv] = patch;
        patch->degreeU = p;
        patch->degreeV = q;
        patch->dim = 3;
        patch->countU = p + 1;
        patch->countV = q + 1;
        patch->coefficients = allocate_3dim_matrix_ff(p + 1, q + 1, 3);
        if (!patch->coefficients || KernelFailed()) break;
        const double b = out.breakpointsV[iv], g = out.breakpointsV[iv + 1] - b;
        for (int k = 0; k <= p; ++k)
          for (int l = 0; l <= q; ++l) {
            double d[3] = {0.0, 0.0, 0.0};
            Eval3DPointOnSurfArray(srf, a, b, k, l, d);
            const double f =
                std::pow(h, k) * std::pow(g, l) / (GetFactorial(k) * GetFactorial(l));
            for (int c = 0; c < 3; ++c) patch->coefficients[k][l][c] = d[c] * f;
          }
      }
    }
  }
  if (KernelFailed()) {
    FreePpolySurface(&out);
    return -2;
  }
  *pp = out;
  return 0;
}
