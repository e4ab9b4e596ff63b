#include "splinefit/sconvert.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "bspline/bsvalid.h"
#include "bspline/isocurve.h"
#include "bspline/knots.h"
#include "bspline/kremove.h"
#include "bspline/nubutil.h"
#include "bspline/sfree.h"
#include "bspline/ctrlnubs.h"
#include "bspline/helper.h"
#include "bspline/measure.h"
#include "bspline/nubs.h"
#include "bspline/cclone.h"
#include "bspline/srfclone.h"
#include "cloud/makecld.h"
#include "curve/cintrplt.h"
#include "curve/crverr.h"
#include "curve/crvproj.h"
#include "curve/crvutil.h"
#include "curve/fittotol.h"
#include "curve/fitcurve.h"
#include "foundation/bandsolve.h"
#include "foundation/coreglob.h"
#include "foundation/dispmat.h"
#include "foundation/makemat.h"
#include "foundation/mathutil.h"
#include "foundation/mathmat.h"
#include "foundation/sort.h"
#include "foundation/umalloc.h"
#include "foundation/unitfrm.h"
#include "foundation/vec3.h"
#include "platform/tstubs.h"
#include "shrinkwrap/platefit.h"
#include "splinefit/aspline.h"
#include "splinefit/gspline.h"
#include "splinefit/intrplt.h"
#include "stitch/srfcont.h"
#include "surface/trimutils.h"
#include "foundation/cloudrec.h"

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
  if (!knots || !extra || n < 1) return MadeOrFailed<double>(nullptr);
  const int want = *extra;
  // Every vector handed back, the copy as the grown one, lives outside the caller's scopes: the
  // caller frees it (the insertion below hands its results over the same way).
  double* cur;
  {
    UntrackedScope own;
    cur = MallocArray<double>(n);
  }
  if (!cur || KernelFailed()) {
    Free(cur);
    return nullptr;
  }
  std::memcpy(cur, knots, sizeof(double) * n);
  if (want <= 0) {
    *extra = 0;
    return cur;
  }
  // The spans a midpoint can go into: a clamped vector of p + 1 end copies each.
  if (p < 0 || n < 2 * p + 2) {
    Free(cur);
    return MadeOrFailed<double>(nullptr);
  }
  const double tol = 1e-6 * (knots[n - 1] - knots[0]);
  int tiny = 0;
  for (int i = p + 1; i <= n - p - 3; ++i) tiny += knots[i + 1] - knots[i] < tol;
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
  RemoveInfo* info = AllocateRemoveInfo(interior, interior, p + 1, p + 1, is3D, curve->rational ? 1 : 0);
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
    // The grown vector lives outside every scope (the insertion hands its result over).
    Owned<double, Free> grown(InsertNewKnotsInLargeSpan(vec, len, d, &extra));
    if (!grown || KernelFailed()) return nullptr;
    const int total = m - 2 + extra;
    double* out;
    {
      UntrackedScope own;
      out = MallocArray<double>(std::max(total, 1));
    }
    if (!out || KernelFailed()) return nullptr;
    std::memcpy(out, grown.get() + d + 1, sizeof(double) * total);
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

// ---- Least-squares fit of a surface to a sampled grid ---------------------------------------

int solve_linear_eq_h3D(double** M, int N, int W, double* bx, double* by, double* bz) {
  double* const rhs[3] = {bx, by, bz};
  return SolveSymBandSystem(M, N, W, rhs, 3);
}

void FindUObs_d(const double* x, const double* y, const double* z, int n, double* hz) {
  HeightRangeOfPoints(x, y, z, n, hz);
}

namespace {

constexpr int kCurvDu[5] = {1, 0, 1, 2, 0};  // Su, Sv, Suv, Suu, Svv
constexpr int kCurvDv[5] = {0, 1, 1, 0, 2};
// A grid point's normal counts as degenerate below the displays' single-precision 1e-6.
constexpr double kCurvDegenerate = 1e-6f;

// Dot product kept inline: the partial refresh of an edit runs this for thousands of points.
inline double Dot3(const double* a, const double* b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

// Value of the kind with a given unit normal (d: Su, Sv, Suv, Suu, Svv).
inline double CurvatureWithNormal(const double* d, const double n[3], int kind) {
  const double* Su = d;
  const double* Sv = d + 3;
  const double E = Dot3(Su, Su), F = Dot3(Su, Sv), G = Dot3(Sv, Sv);
  const double L = Dot3(n, d + 9), M = Dot3(n, d + 6), N = Dot3(n, d + 12);
  const double a = E * G - F * F, b = L * G + N * E - 2.0 * M * F, c = L * N - M * M;
  double k = 0.0;
  if (kind == 7) {
    k = c / a;
  } else if (kind == 8) {
    k = b / (2.0 * a);
  } else {
    // Rounding can push the discriminant of an umbilic point below 0; it is a square there.
    const double disc = std::sqrt(std::max(0.0, b * b - 4.0 * a * c));
    if (2.0 * a >= 1e-6) k = std::fabs((b + disc) / (2.0 * a)) + std::fabs((b - disc) / (2.0 * a));
  }
  if (!std::isfinite(k)) return 0.0;
  return std::fabs(k) < 1e-10 ? 0.0 : k;
}

}  // namespace

double CurvatureUnitScale(const Bspline* srf) {
  const double size = ControlPointDiagonal(srf);
  return size > 0.0 && std::isfinite(size) ? 1.0 / size : 1.0;
}

bool CurvatureFromPartials(const double* d, int kind, double tol, double unit, double* value) {
  if (!d || !value) return false;
  // The thresholds are for a surface of unit size (partials times unit). Rather than scale the
  // partials, each threshold is carried to the surface's units: |Su x Sv| goes as unit^2, EG - F^2
  // as unit^4, curvature as 1 / length (the Gaussian as its square).
  const double u2 = unit * unit;
  const double n0 = d[1] * d[5] - d[2] * d[4], n1 = d[2] * d[3] - d[0] * d[5],
               n2 = d[0] * d[4] - d[1] * d[3];
  const double len = std::sqrt(n0 * n0 + n1 * n1 + n2 * n2);
  if (!(len * u2 >= tol) || len == 0.0) return false;
  // The forms with the unnormalised normal: L = L' / len, so b = b' / len and c = c' / len^2,
  // and each kind needs one division instead of three (the partial refresh of an edit runs
  // this for thousands of display points).
  const double* Su = d;
  const double* Sv = d + 3;
  const double nr[3] = {n0, n1, n2};
  const double E = Dot3(Su, Su), F = Dot3(Su, Sv), G = Dot3(Sv, Sv);
  const double L = Dot3(nr, d + 9), M = Dot3(nr, d + 6), N = Dot3(nr, d + 12);
  const double a = E * G - F * F, b = L * G + N * E - 2.0 * M * F, c = L * N - M * M;
  double k = 0.0;
  if (kind == 7) {
    k = c / (a * len * len);
  } else if (kind == 8) {
    k = b / (2.0 * a * len);
  } else {
    // Rounding can push the discriminant of an umbilic point below 0; it is a square there.
    const double disc = std::sqrt(std::max(0.0, b * b - 4.0 * a * c));
    if (2.0 * a * u2 * u2 >= 1e-6) {
      const double q = 1.0 / (2.0 * a * len);
      k = std::fabs((b + disc) * q) + std::fabs((b - disc) * q);
    }
  }
  const double back = kind == 7 ? u2 : unit;  // a unit-size value times back is the real one
  *value = !std::isfinite(k) || std::fabs(k) < 1e-10 * back ? 0.0 : k;
  return true;
}

double CurvatureAtFreePoint(const Bspline* srf, double u, double v, int kind, double unit) {
  if (!RecordsSound({srf}) || srf->kind != 2) return 0.0;
  const double ulo = srf->knotsU[srf->degreeU], uhi = srf->knotsU[NumCtrlU(srf)];
  const double vlo = srf->knotsV[srf->degreeV], vhi = srf->knotsV[NumCtrlV(srf)];
  const double su = 0.01 * (uhi - ulo), sv = 0.01 * (vhi - vlo);
  double D[5][3];
  EvalPointOnGeometryM(srf, u + su < uhi ? u + su : u - su, v + sv < vhi ? v + sv : v - sv,
                       kCurvDu, kCurvDv, 5, 0, D);
  for (auto& row : D)
    for (double& c : row) c *= unit;
  double n[3];
  ComputeSurfaceNormal(const_cast<Bspline*>(srf), u, v, D[0], D[1], n);
  const double len = VecSize3(n);
  if (!(len >= 1e-15)) return 0.0;
  for (double& c : n) c /= len;
  return CurvatureWithNormal(&D[0][0], n, kind) * (kind == 7 ? unit * unit : unit);
}

int CurvatureGridNeighbour(int g, int nu, int nv) {
  const int N = nu * nv;
  int h = -1;
  if (g == 0) h = nu + 1;
  else if (g == nu - 1) h = 2 * nu - 2;
  else if (g == N - nu) h = N - 2 * nu + 1;
  else if (g == N - 1) h = N - nu - 2;
  else if (g < nu) h = g + nu;
  else if (g % nu == 0) h = g + 1;
  else if (g % nu == nu - 1) h = g - 1;
  else if (g >= N - nu) h = g - nu;
  return h >= 0 && h < N && h != g ? h : -1;
}

double CurvatureAtGridPoint(const Bspline* srf, const double* d, int g, int nu, int nv, double u,
                            double v, int kind, double retryTol, double unit,
                            CurvatureNeighbourFn neighbour, const void* ctx) {
  double k = 0.0;
  if (CurvatureFromPartials(d, kind, kCurvDegenerate, unit, &k)) return k;
  const int h = CurvatureGridNeighbour(g, nu, nv);
  if (h < 0) return CurvatureAtFreePoint(srf, u, v, kind, unit);
  double Dn[15];
  neighbour(h, Dn, ctx);
  return CurvatureFromPartials(Dn, kind, retryTol, unit, &k) ? k : 0.0;
}

void CurvatureOnGrid(const Bspline* srf, double* out, const double* u, const double* v, int nu,
                     int nv, int kind, int uniform, double retryTol) {
  if (!srf || !out || (!uniform && (!u || !v)) || nu < 1 || nv < 1 || kind < 7 || kind > 9)
    return;
  TrackingScope scope;
  const int N = nu * nv;
  double** D = allocate_matrix_ff(N, 15);
  if (!D || KernelFailed()) return;
  const int r = uniform ? EvalUniformGridOnGeometryM(srf, nu, nv, kCurvDu, kCurvDv, 5, 0, D)
                        : EvalGridOnGeometryM(srf, u, v, nu, nv, kCurvDu, kCurvDv, 5, 0, D);
  if (r != 0) return;
  const double unit = CurvatureUnitScale(srf);
  const double ulo = srf->knotsU[srf->degreeU], uhi = srf->knotsU[NumCtrlU(srf)];
  const double vlo = srf->knotsV[srf->degreeV], vhi = srf->knotsV[NumCtrlV(srf)];
  auto param = [&](const double* ts, int i, int n, double lo, double hi) {
    if (!uniform) return ts[i];
    return n > 1 ? lo + (hi - lo) * i / (n - 1) : lo;
  };
  auto fromGrid = [](int h, double* Dn, const void* ctx) {
    const double* row = static_cast<double* const*>(ctx)[h];
    std::copy(row, row + 15, Dn);
  };
  for (int g = 0; g < N; ++g)
    out[g] = CurvatureAtGridPoint(srf, D[g], g, nu, nv, param(u, g % nu, nu, ulo, uhi),
                                  param(v, g / nu, nv, vlo, vhi), kind, retryTol, unit, fromGrid,
                                  D);
}

void CurvatureOnParameterGrid(const Bspline* srf, double* out, const double* u, const double* v,
                              int nu, int nv, int kind) {
  CurvatureOnGrid(srf, out, u, v, nu, nv, kind, 0, 1e-15);
}

void SetWeightsToDataPoints(const Bspline* srf, const double* u, int nu, const double* v, int nv,
                            double high, double low, double* weights) {
  if (!RecordsSound({srf}) || srf->kind != 2) return;
  const int N = nu * nv;
  TrackingScope scope;
  double* k = CallocArray<double>(N);
  if (!k || KernelFailed()) return;
  CurvatureOnParameterGrid(srf, k, u, v, nu, nv, 9);
  double kmin = kNoValue, kmax = 8.43e-37;
  for (int g = 0; g < N; ++g) {
    kmin = std::min(kmin, k[g]);
    kmax = std::max(kmax, k[g]);
  }
  for (int g = 0; g < N; ++g) {
    double t;
    if (kmax > 1e-6)
      t = std::fabs(k[g] - kmin) < 1e-6 ? 0.0 : std::log(2.0) * (k[g] - kmin) / kmax;
    else
      t = kmin;
    weights[g] = high * t + (1.0 - t) * low;
  }
}

int GetDerivativeArrayOfGridPoints(const Bspline* srf, const double* u, const double* v, int nu,
                                   int nv, int du, int dv, int cross, double* A, double* B,
                                   double* C) {
  const int N = nu * nv;
  TrackingScope scope;
  // The grid evaluator serves orders up to 2 in all; a higher cross derivative is read point by
  // point.
  const bool gridCross = cross && du + dv <= 2;
  const int req = gridCross ? 3 : 2;
  const int rdu[3] = {du, 0, du}, rdv[3] = {0, dv, dv};
  double** D = allocate_matrix_ff(N, 3 * req);
  if (!D || KernelFailed()) return 0;
  if (EvalGridOnGeometryM(srf, u, v, nu, nv, rdu, rdv, req, 0, D) != 0 || KernelFailed()) return 0;
  for (int g = 0; g < N; ++g)
    for (int c = 0; c < 3; ++c) {
      A[c * N + g] = D[g][c];
      B[c * N + g] = D[g][3 + c];
      if (gridCross) C[c * N + g] = D[g][6 + c];
    }
  if (cross && !gridCross)
    for (int j = 0; j < nv; ++j)
      for (int i = 0; i < nu; ++i) {
        double d[3] = {0.0, 0.0, 0.0};
        Eval3DPointOnSurfArray(srf, u[i], v[j], du, dv, d);
        for (int c = 0; c < 3; ++c) C[c * N + j * nu + i] = d[c];
      }
  return KernelFailed() ? 0 : 1;
}

namespace {

// Spans and basis tables (values, first, second derivatives) of a direction at n parameters:
// table[k] holds 3 (p + 1) values, row r of derivative order r.
struct BasisTables {
  int* span = nullptr;
  double* table = nullptr;
};

bool DirectionBasis(const double* knots, int nKnots, int p, const double* t, int n, int orders,
                    BasisTables* out) {
  out->span = MallocArray<int>(n);
  out->table = CallocArray<double>(n, 3 * (p + 1));
  if (!out->span || !out->table || KernelFailed()) return false;
  static const int ord[3] = {0, 1, 2};
  for (int k = 0; k < n; ++k) {
    int span = p;
    if (ComputeNubValDerivativesM(knots, t[k], nKnots, p, ord, orders, &span,
                                  out->table + k * 3 * (p + 1)) != 0)
      return false;
    out->span[k] = span;
  }
  return true;
}

// Adds the products of one sample's basis window to the band and the right-hand sides:
// bu, bv hold the p + 1 and q + 1 factors of the window starting at control point (i0, j0).
void AddWindow(double** M, double* bx, double* by, double* bz, int nCU, const double* bu, int p,
               int i0, const double* bv, int q, int j0, double f, const double pt[3]) {
  for (int b = 0; b <= q; ++b)
    for (int a = 0; a <= p; ++a) {
      const double wab = f * bu[a] * bv[b];
      if (wab == 0.0) continue;
      const int r = (j0 + b) * nCU + i0 + a;
      bx[r] += wab * pt[0];
      by[r] += wab * pt[1];
      bz[r] += wab * pt[2];
      for (int b2 = 0; b2 <= q; ++b2)
        for (int a2 = 0; a2 <= p; ++a2) {
          const int c = (j0 + b2) * nCU + i0 + a2;
          if (c >= r) M[r][c - r] += wab * bu[a2] * bv[b2];
        }
    }
}

double** ZeroBand(int N, int W) {
  double** M = allocate_matrix_ff(N, W);
  if (M && !KernelFailed()) std::memset(M[0], 0, sizeof(double) * static_cast<size_t>(N) * W);
  return M;
}

}  // namespace

int GetDerivativeStiffMatFromBsplineBasis(const Bspline* newSrf, const Bspline* oldSrf,
                                          const double* u, const double* v, int nu, int nv,
                                          const double w[6], double** M, double* rx, double* ry,
                                          double* rz) {
  if (!RecordsSound({newSrf, oldSrf}) || newSrf->kind != 2 || oldSrf->kind != 2) return 0;
  const int N = nu * nv;
  const int p = newSrf->degreeU, q = newSrf->degreeV, nCU = NumCtrlU(newSrf);
  TrackingScope scope;
  double* D[6];
  for (double*& d : D) {
    d = MallocArray<double>(3, N);
    if (!d || KernelFailed()) return 0;
  }
  if (!GetDerivativeArrayOfGridPoints(oldSrf, u, v, nu, nv, 1, 1, 1, D[0], D[1], D[2]) ||
      !GetDerivativeArrayOfGridPoints(oldSrf, u, v, nu, nv, 2, 2, 1, D[3], D[4], D[5]))
    return 0;
  BasisTables bu, bv;
  if (!DirectionBasis(newSrf->knotsU, NumKnotsU(newSrf), p, u, nu, 3, &bu) ||
      !DirectionBasis(newSrf->knotsV, NumKnotsV(newSrf), q, v, nv, 3, &bv))
    return 0;
  // Kind k differentiates du[k] times in u and dv[k] times in v.
  static const int kdu[6] = {1, 0, 1, 2, 0, 2}, kdv[6] = {0, 1, 1, 0, 2, 2};
  for (int j = 0; j < nv; ++j)
    for (int i = 0; i < nu; ++i) {
      const int g = j * nu + i;
      for (int k = 0; k < 6; ++k) {
        if (w[k] == 0.0) continue;
        const double* rowU = bu.table + i * 3 * (p + 1) + kdu[k] * (p + 1);
        const double* rowV = bv.table + j * 3 * (q + 1) + kdv[k] * (q + 1);
        const double pt[3] = {D[k][g], D[k][N + g], D[k][2 * N + g]};
        AddWindow(M, rx, ry, rz, nCU, rowU, p, bu.span[i] - p, rowV, q, bv.span[j] - q, w[k], pt);
      }
    }
  return KernelFailed() ? 0 : 1;
}

int FitSurfaceWithDerivatives(const Bspline* newSrf, const Bspline* oldSrf, const double* u,
                              const double* v, int nu, int nv, double wd, double** M, int N, int W,
                              double* bx, double* by, double* bz) {
  if (!RecordsSound({newSrf, oldSrf}) || newSrf->kind != 2 || oldSrf->kind != 2) return 0;
  // The band holds a row per control point of newSrf and every coupling of two of them.
  const int nCU = NumCtrlU(newSrf);
  if (N != nCU * NumCtrlV(newSrf) || W < newSrf->degreeV * nCU + newSrf->degreeU + 1) {
    SetKernelError(-2);
    return 0;
  }
  TrackingScope scope;
  double** M2 = ZeroBand(N, W);
  double* r[3];
  for (double*& a : r) a = CallocArray<double>(N);
  if (!M2 || !r[0] || !r[1] || !r[2] || KernelFailed()) return 0;
  const double w1 = 0.001 * wd, w2 = 0.01 * wd;
  const double w[6] = {w1, w1, w1, w2, w2, w2};
  if (!GetDerivativeStiffMatFromBsplineBasis(newSrf, oldSrf, u, v, nu, nv, w, M2, r[0], r[1], r[2]))
    return 0;
  for (int i = 0; i < N; ++i) {
    for (int c = 0; c < W; ++c) M[i][c] += M2[i][c];
    bx[i] += r[0][i];
    by[i] += r[1][i];
    bz[i] += r[2][i];
  }
  return 1;
}

Bspline* CreateBsplineBoundaryCurve(const float* x, const float* y, const float* z, int n,
                                    const Bspline* srf, int nCtrl, int p, int dir) {
  TrackingScope scope;
  Owned<Bspline, FreeBspline> c(allocate_curve3(nCtrl - p - 1, p));
  double* t = MallocArray<double>(n);
  if (!c || !t || KernelFailed()) return nullptr;
  const double* K = dir ? srf->knotsV : srf->knotsU;
  const int len = dir ? NumKnotsV(srf) : NumKnotsU(srf);
  const double a = K[0], b = K[len - 1];
  for (int i = 0; i < len; ++i) c->knotsU[i] = (K[i] - a) / (b - a);
  c->umin = c->knotsU[p];
  c->umax = c->knotsU[nCtrl];
  c->fitProps = srf->fitProps;
  normalize_tarray3(x, y, z, n, t);
  const BsplineFitProps& w = srf->fitProps;
  if (FindAllCurveCoefi3(c.get(), t, const_cast<float*>(x), const_cast<float*>(y),
                         const_cast<float*>(z), n, nullptr, nullptr, 0, w.roughness, w.tension,
                         w.sigma) != 0 ||
      KernelFailed())
    return nullptr;
  Free(t);
  scope.keep();
  return c.release();
}

int CreateBoundaryCurves(const Bspline* newSrf, const double* x, const double* y, const double* z,
                         int nu, int nv, Bspline** curves) {
  for (int s = 0; s < 4; ++s) curves[s] = nullptr;
  if (!RecordsSound({newSrf}) || newSrf->kind != 2) return 0;
  OwnedArray<Bspline, FreeBspline> made = OwnedArray<Bspline, FreeBspline>::Zeroed(4);
  if (!made) return 0;
  {
    TrackingScope scope;
    const int most = std::max(nu, nv);
    float* fx = MallocArray<float>(most);
    float* fy = MallocArray<float>(most);
    float* fz = MallocArray<float>(most);
    if (!fx || !fy || !fz || KernelFailed()) return 0;
    for (int s = 0; s < 4; ++s) {
      const bool alongU = s % 2 == 0;  // curves 0 and 2 are rows (u), 1 and 3 columns (v)
      const int n = alongU ? nu : nv;
      for (int k = 0; k < n; ++k) {
        int g;
        if (s == 0) g = k;
        else if (s == 1) g = k * nu;
        else if (s == 2) g = (nv - 1) * nu + k;
        else g = k * nu + nu - 1;
        fx[k] = static_cast<float>(x[g]);
        fy[k] = static_cast<float>(y[g]);
        fz[k] = static_cast<float>(z[g]);
      }
      made[s] = alongU ? CreateBsplineBoundaryCurve(fx, fy, fz, n, newSrf, NumCtrlU(newSrf),
                                                    newSrf->degreeU, 0)
                       : CreateBsplineBoundaryCurve(fx, fy, fz, n, newSrf, NumCtrlV(newSrf),
                                                    newSrf->degreeV, 1);
      if (!made[s]) return 0;
    }
  }
  for (int s = 0; s < 4; ++s) curves[s] = made[s];
  Free(made.release());
  return 1;
}

// Method: the known values move to the right-hand side (b_r -= A_rf x_f for every free r), the
// free unknowns keep their order, and their band is copied into a new band: a free pair keeps
// at most its old distance, so the width never grows; trailing all-zero columns are dropped.
int FixBoundaryDerivativesAndSolve(double** M, int nFixed, int* idx, const double* fx,
                                   const double* fy, const double* fz, int N, int W, double* bx,
                                   double* by, double* bz) {
  if (!M || !bx || !by || !bz || N < 1 || W < 1 || nFixed < 0 ||
      (nFixed > 0 && (!idx || !fx || !fy || !fz)))
    return -2;
  TrackingScope scope;
  int* slot = MallocArray<int>(N);       // free index of each unknown, -1 when fixed
  double* val[3] = {MallocArray<double>(N), MallocArray<double>(N), MallocArray<double>(N)};
  if (!slot || !val[0] || !val[1] || !val[2] || KernelFailed()) return -2;
  for (int i = 0; i < N; ++i) slot[i] = 0;
  for (int k = 0; k < nFixed; ++k) {
    if (idx[k] < 0 || idx[k] >= N) return -2;
    slot[idx[k]] = -1;
    val[0][idx[k]] = fx[k];
    val[1][idx[k]] = fy[k];
    val[2][idx[k]] = fz[k];
  }
  double* b[3] = {bx, by, bz};
  int nFree = 0;
  for (int i = 0; i < N; ++i)
    if (slot[i] == 0) slot[i] = nFree++;
    else slot[i] = -1;
  if (nFree > 0) {
    double** R = ZeroBand(nFree, W);
    double* rb[3] = {MallocArray<double>(nFree), MallocArray<double>(nFree),
                     MallocArray<double>(nFree)};
    if (!R || !rb[0] || !rb[1] || !rb[2] || KernelFailed()) return -2;
    // Known columns go to the reduced right-hand side (entry (r, c) of the symmetric matrix
    // lives at M[min][|c - r|]); the caller's b is written only once the solve succeeded.
    for (int r = 0; r < N; ++r) {
      if (slot[r] < 0) continue;
      for (int d = 0; d < 3; ++d) rb[d][slot[r]] = b[d][r];
      for (int c = std::max(0, r - W + 1); c < std::min(N, r + W); ++c) {
        if (slot[c] >= 0) continue;
        const double a = c >= r ? M[r][c - r] : M[c][r - c];
        for (int d = 0; d < 3; ++d) rb[d][slot[r]] -= a * val[d][c];
      }
      for (int c = r; c < std::min(N, r + W); ++c)
        if (slot[c] >= 0) R[slot[r]][slot[c] - slot[r]] = M[r][c - r];
    }
    int w = W;
    while (w > 1 && !IsLastColZeros_h(R, nFree, w)) --w;
    if (solve_linear_eq_h3D(R, nFree, w, rb[0], rb[1], rb[2]) != 0) return -2;
    for (int r = 0; r < N; ++r)
      for (int d = 0; d < 3; ++d) b[d][r] = slot[r] >= 0 ? rb[d][slot[r]] : val[d][r];
  } else {
    for (int r = 0; r < N; ++r)
      for (int d = 0; d < 3; ++d) b[d][r] = val[d][r];
  }
  return 0;
}

int FitSurfaceByFixingBoundaries(Bspline* newSrf, const double* x, const double* y,
                                 const double* z, int nu, int nv, int f0, int f1, int f2, int f3,
                                 double** M, int N, int W, double* bx, double* by, double* bz) {
  // Only none or one fixed line per side is served: more would need the border curves' next
  // control rows, which nothing provides.
  for (int f : {f0, f1, f2, f3})
    if (f < -1 || f > 0) return 0;
  ++f0;
  ++f1;
  ++f2;
  ++f3;
  Bspline* curves[4];
  if (!CreateBoundaryCurves(newSrf, x, y, z, nu, nv, curves)) return 0;
  OwnedArray<Bspline, FreeBspline> held(CallocArray<Bspline*>(4), 4);
  if (!held) {
    for (Bspline* c : curves) FreeBspline(c);
    return 0;
  }
  for (int s = 0; s < 4; ++s) held[s] = curves[s];
  const int nCU = NumCtrlU(newSrf), nCV = NumCtrlV(newSrf);
  TrackingScope scope;
  int* idx = MallocArray<int>(N);
  double* f[3] = {MallocArray<double>(N), MallocArray<double>(N), MallocArray<double>(N)};
  if (!idx || !f[0] || !f[1] || !f[2] || KernelFailed()) return 0;
  int n = 0;
  auto take = [&](const Bspline* c, int k, int at) {
    idx[n] = at;
    f[0][n] = c->X[0][k];
    f[1][n] = c->Y[0][k];
    f[2][n] = c->Z[0][k];
    ++n;
  };
  for (int j = 0; j < nCV; ++j)
    for (int i = 0; i < nCU; ++i) {
      const int at = j * nCU + i;
      if (j < f0) take(held[0], i, at);
      else if (j >= nCV - f2) take(held[2], i, at);
      else if (i < f1) take(held[1], j, at);
      else if (i >= nCU - f3) take(held[3], j, at);
    }
  return FixBoundaryDerivativesAndSolve(M, n, idx, f[0], f[1], f[2], N, W, bx, by, bz) == 0 ? 1 : 0;
}

// Method: the normal equations of sum_samples f |S(u_i, v_j) - P_ij|^2 (f = 1 / w^2), plus the
// thin-plate energy s0 (membrane) and s1 (bending) scaled to the domain and the samples' height
// span, the control-net penalty and the derivative matching, assembled in the upper band of
// width W = pV nCtrlU + pU + 1 (two control points couple when their supports overlap) and
// solved by L D Lt for the three coordinates.
int FitSurface3DGridData(const Bspline* oldSrf, Bspline* newSrf, const double* u, const double* v,
                         int nu, int nv, const double* x, const double* y, const double* z,
                         double /*tol*/, const GridFitParams* params) {
  if (!newSrf || !params || !u || !v || !x || !y || !z || nu < 1 || nv < 1 ||
      newSrf->kind != 2 || !BsplineShapeSound(newSrf) || !newSrf->Z)
    return 0;
  if ((params->weightByCurvature || params->deriveFit > 0) && !oldSrf) return 0;
  const int p = newSrf->degreeU, q = newSrf->degreeV;
  const int nCU = NumCtrlU(newSrf), nCV = NumCtrlV(newSrf);
  const int N = nCU * nCV, W = q * nCU + p + 1;
  const int nS = nu * nv;
  // The smoothing weights; the derivative matching uses s1 too, with or without smoothing.
  double s0 = 0.0, s1 = 0.0;
  if (params->smooth || params->deriveFit > 0) {
    if (!(params->roughness > 0.0)) return 0;
    const double D = 0.1 * std::max(newSrf->umax - newSrf->umin, newSrf->vmax - newSrf->vmin);
    double hz = 0.0;
    FindUObs_d(x, y, z, nS, &hz);
    const double H = 0.1 * hz, r = D / H, a = newSrf->fitProps.tension;
    s1 = (1.0 - a) / params->roughness * (r * D) * (r * D);
    s0 = a / params->roughness * r * r;
  }
  TrackingScope scope;
  double** M = ZeroBand(N, W);
  double* b[3] = {CallocArray<double>(N), CallocArray<double>(N), CallocArray<double>(N)};
  double* weight = MallocArray<double>(nS);
  if (!M || !b[0] || !b[1] || !b[2] || !weight || KernelFailed()) return 0;
  if (params->smooth) {
    // The stiffness band has one more, all-zero column, which is left out.
    const double w[5] = {s0, s1, s1, 2.0 * s1, s1};
    double** K = SurfStiffMatrix(newSrf, w);
    if (!K || KernelFailed()) return 0;
    for (int r = 0; r < N; ++r)
      for (int c = 0; c < W; ++c) M[r][c] = K[r][c];
  }
  BasisTables bu, bv;
  if (!DirectionBasis(newSrf->knotsU, NumKnotsU(newSrf), p, u, nu, 1, &bu) ||
      !DirectionBasis(newSrf->knotsV, NumKnotsV(newSrf), q, v, nv, 1, &bv))
    return 0;
  for (int g = 0; g < nS; ++g) weight[g] = params->sigma;
  if (params->weightByCurvature) {
    SetWeightsToDataPoints(oldSrf, u, nu, v, nv, params->curvWeightHigh, params->curvWeightLow,
                           weight);
    if (KernelFailed()) return 0;
  }
  for (int j = 0; j < nv; ++j)
    for (int i = 0; i < nu; ++i) {
      const int g = j * nu + i;
      const double w = weight[g];
      const double f = w > 0.0 ? 1.0 / (w * w) : 1.0;
      const double pt[3] = {x[g], y[g], z[g]};
      AddWindow(M, b[0], b[1], b[2], nCU, bu.table + i * 3 * (p + 1), p, bu.span[i] - p,
                bv.table + j * 3 * (q + 1), q, bv.span[j] - q, f, pt);
    }
  if (params->usePenalty) {
    double** P = allocate_matrix_ff(N, W);
    double* cw = MallocArray<double>(N);
    if (!P || !cw || KernelFailed()) return 0;
    for (int k = 0; k < N; ++k) cw[k] = params->penalty;
    if (ComputeCntrlPntsPanaltyMat(P, nCU, nCV, W, cw) != 0) return 0;
    for (int r = 0; r < N; ++r)
      for (int c = 0; c < W; ++c) M[r][c] += P[r][c];
  }
  if (params->deriveFit > 0 &&
      !FitSurfaceWithDerivatives(newSrf, oldSrf, u, v, nu, nv, s1, M, N, W, b[0], b[1], b[2]))
    return 0;
  if (params->boundaryMode < 0) {
    if (solve_linear_eq_h3D(M, N, W, b[0], b[1], b[2]) != 0) return 0;
  } else if (!FitSurfaceByFixingBoundaries(newSrf, x, y, z, nu, nv, 0, 0, 0, 0, M, N, W, b[0], b[1],
                                           b[2])) {
    return 0;
  }
  for (int k = 0; k < N; ++k)
    if (!std::isfinite(b[0][k]) || !std::isfinite(b[1][k]) || !std::isfinite(b[2][k])) return 0;
  for (int j = 0; j < nCV; ++j)
    for (int i = 0; i < nCU; ++i) {
      newSrf->X[j][i] = b[0][j * nCU + i];
      newSrf->Y[j][i] = b[1][j * nCU + i];
      newSrf->Z[j][i] = b[2][j * nCU + i];
    }
  return 1;
}

// ---- Conversion of surfaces to new knot vectors -----------------------------------------------

namespace {

bool IsSoundSurface(const Bspline* s) {
  return s && s->kind == 2 && s->dimension == 3 && BsplineShapeSound(s);
}

// A new surface of the degrees and interior counts on srf's range, end knots set, property
// block A from params; outside every scope (the caller's), or null.
Bspline* NewConvertedSurface(const Bspline* srf, const GridFitParams* params, int p, int q, int nIu,
                             int nIv) {
  if (p < 1 || q < 1 || p > kMaxSplineDegree || q > kMaxSplineDegree || nIu < 0 || nIv < 0)
    return nullptr;
  TrackingScope scope;
  Bspline* s = MallocInitSurfaceBspline();
  if (!s || KernelFailed()) return nullptr;
  s->degreeU = p;
  s->degreeV = q;
  s->interiorU = nIu;
  s->interiorV = nIv;
  s->rational = 0;
  InitFillBsplineStruct(s, srf->umin, srf->vmin, srf->umax, srf->vmax);
  if (KernelFailed() || !s->knotsU || !s->knotsV) {
    FreeBspline(s);
    return nullptr;
  }
  s->umin = srf->umin;
  s->umax = srf->umax;
  s->vmin = srf->vmin;
  s->vmax = srf->vmax;
  s->fitProps = {params->smooth, params->tension, params->roughness, params->sigma};
  scope.keep();
  return s;
}

// Samples srf at su steps per distinct u span and sv per distinct v span of `spans` (within
// 1e-6 of its range), and fits fresh to them. fresh is released on failure.
Bspline* SampleAndFit(const Bspline* srf, Bspline* fresh, const Bspline* spans, int su, int sv,
                      double tol, const GridFitParams* params) {
  Owned<Bspline, FreeBspline> out(fresh);
  TrackingScope scope;
  Bspline* sp = const_cast<Bspline*>(spans);
  const int nuMax = std::max(su, 2) * (sp->interiorU + 1) + 1;
  const int nvMax = std::max(sv, 2) * (sp->interiorV + 1) + 1;
  double* u = MallocArray<double>(nuMax);
  double* v = MallocArray<double>(nvMax);
  if (!u || !v || KernelFailed()) return nullptr;
  const int nu = GetParValsOnIsoPar2(sp, 0, u, nullptr, sp->vmin, su, 1e-6);
  const int nv = GetParValsOnIsoPar2(sp, 1, nullptr, v, sp->umin, sv, 1e-6);
  if (nu < 2 || nv < 2 || nu > nuMax || nv > nvMax || KernelFailed()) return nullptr;
  double* x = MallocArray<double>(nu, nv);
  double* y = MallocArray<double>(nu, nv);
  double* z = MallocArray<double>(nu, nv);
  if (!x || !y || !z || KernelFailed()) return nullptr;
  if (Eval3DGridOnBsplArray(srf, u, nu, v, nv, x, y, z) != 0) return nullptr;
  if (FitSurface3DGridData(srf, out.get(), u, v, nu, nv, x, y, z, tol, params) != 1) return nullptr;
  return out.release();
}

void SetInteriorKnots(double* K, int p, const double* interior, int n) {
  for (int i = 0; i < n; ++i) K[p + 1 + i] = interior[i];
}

}  // namespace

Bspline* ConvertBspline(const Bspline* srf, const GridFitParams* params, int du, int dv, double tol) {
  if (!IsSoundSurface(srf) || !params || du < 1 || dv < 1) return nullptr;
  TrackingScope scope;
  int cu = 0, cv = 0;
  double* ku = GetReducedInternalKnots(srf, du, 0, tol, &cu);
  double* kv = GetReducedInternalKnots(srf, dv, 1, tol, &cv);
  // The reduced arrays were made for the caller (outside this scope): held until the end.
  Owned<double, Free> holdU(ku), holdV(kv);
  if (KernelFailed()) return nullptr;
  Bspline* fresh = NewConvertedSurface(srf, params, du, dv, ku ? cu : 0, kv ? cv : 0);
  if (!fresh) return nullptr;
  if (ku) SetInteriorKnots(fresh->knotsU, du, ku, cu);
  if (kv) SetInteriorKnots(fresh->knotsV, dv, kv, cv);
  // Samples per distinct span of the old surface: denser where the old degree is kept, thinned
  // in proportion when the degree drops.
  auto perSpan = [&](int dir, int pOld, int d, int c) {
    int* mults = nullptr;
    double* inner = nullptr;
    const int k = DistinctInteriorKnots(srf, dir, &mults, &inner, 1e-6);
    if (mults) Free(mults);
    if (inner) Free(inner);
    int s = k <= 0 ? d + 1 : 2 * pOld + 2;
    if (d < pOld) s = ((c + 1) * s) / (std::max(k, 0) + 1) + 1;
    return s;
  };
  const int su = perSpan(0, srf->degreeU, du, cu);
  const int sv = perSpan(1, srf->degreeV, dv, cv);
  if (KernelFailed()) {
    FreeBspline(fresh);
    return nullptr;
  }
  return SampleAndFit(srf, fresh, srf, su, sv, tol, params);
}

Bspline* ConvertBsplineWUniformKnots(const Bspline* srf, const GridFitParams* params, int nU, int nV,
                                     double tol) {
  if (!IsSoundSurface(srf) || !params) return nullptr;
  const int p = srf->degreeU, q = srf->degreeV;
  if (nU < p + 1 || nV < q + 1) return nullptr;
  TrackingScope scope;
  double* ku = GetUniformKnots(nU + p + 1, p, srf->umin, srf->umax);
  double* kv = GetUniformKnots(nV + q + 1, q, srf->vmin, srf->vmax);
  if (!ku || !kv || KernelFailed()) return nullptr;
  Bspline* fresh = NewConvertedSurface(srf, params, p, q, nU - p - 1, nV - q - 1);
  if (!fresh) return nullptr;
  std::memcpy(fresh->knotsU, ku, sizeof(double) * (nU + p + 1));
  std::memcpy(fresh->knotsV, kv, sizeof(double) * (nV + q + 1));
  return SampleAndFit(srf, fresh, fresh, p + 1, q + 1, tol, params);
}

Bspline* ConvertBsplineSurfaceBased(const Bspline* srf, const Bspline* ref,
                                    const GridFitParams* params, double tol) {
  if (!IsSoundSurface(srf) || !IsSoundSurface(ref) || !params) return nullptr;
  const int p = ref->degreeU, q = ref->degreeV;
  Bspline* fresh = NewConvertedSurface(srf, params, p, q, ref->interiorU, ref->interiorV);
  if (!fresh) return nullptr;
  // ref's knots scaled by the ratio of the ranges and moved to start at srf's range start.
  auto rescale = [](const double* K, int len, int deg, double lo, double hi, double* out) {
    const double scale = (hi - lo) / (K[len - deg - 1] - K[deg]);
    for (int i = 0; i < len; ++i) out[i] = lo + (K[i] - K[0]) * scale;
  };
  rescale(ref->knotsU, NumKnotsU(ref), p, srf->umin, srf->umax, fresh->knotsU);
  rescale(ref->knotsV, NumKnotsV(ref), q, srf->vmin, srf->vmax, fresh->knotsV);
  return SampleAndFit(srf, fresh, fresh, p + 1, q + 1, tol, params);
}

namespace {

// The distinct knots with every interval cut into p + 1 equal steps, and the cumulative
// polyline lengths (1000 steps) from the start to each: *N values each. False on failure.
bool FineLengths(Bspline* curve, double** t, double** L, int* N) {
  int m = 0;
  double* d = nullptr;
  DistinctKnotValues(NumKnotsU(curve), curve->knotsU, &m, &d);
  if (!d || m < 2 || KernelFailed()) return false;
  const int p = curve->degreeU;
  *N = 1 + (m - 1) * (p + 1);
  *t = MallocArray<double>(*N);
  *L = MallocArray<double>(*N);
  if (!*t || !*L || KernelFailed()) return false;
  for (int i = 0; i < m - 1; ++i)
    for (int k = 0; k <= p; ++k) (*t)[i * (p + 1) + k] = d[i] + k * (d[i + 1] - d[i]) / (p + 1);
  (*t)[*N - 1] = d[m - 1];
  (*L)[0] = 0.0;
  for (int i = 1; i < *N; ++i) (*L)[i] = GetPartCurveLength(curve, (*t)[0], (*t)[i], 1000);
  Free(d);
  return !KernelFailed();
}

// The curve to measure: the curve itself, or a surface's iso curve along v at u = umin (dir 0)
// or along u at v = vmin (otherwise), made into `made`.
Bspline* MeasuredCurve(const Bspline* obj, int dir, Owned<Bspline, FreeBspline>* made) {
  if (!obj || !BsplineShapeSound(obj)) return nullptr;
  if (obj->kind != 2) return const_cast<Bspline*>(obj);
  Bspline* s = const_cast<Bspline*>(obj);
  made->reset(dir == 0 ? IsoCurve3(s, s->umin, s->vmin, 1) : IsoCurve3(s, s->umin, s->vmin, 0));
  return made->get();
}

}  // namespace

// Method: cumulative lengths at fine parameters bracket each target length; the knot is found
// in its bracket by at most 14 halvings of the parameter interval, measuring the polyline from
// the bracket's start.
double* GetUniformKnotsInRealSpace(const Bspline* curve, double span, int* n) {
  if (!curve || !n || !(span > 0.0) || !BsplineShapeSound(curve) || curve->kind != 1) return nullptr;
  Bspline* c = const_cast<Bspline*>(curve);
  const int p = c->degreeU;
  TrackingScope scope;
  double *t = nullptr, *L = nullptr;
  int N = 0;
  if (!FineLengths(c, &t, &L, &N)) return nullptr;
  const double cap = std::floor(L[N - 1] / span) + 2.0 * p + 3.0;
  if (!(cap < 1e8)) return nullptr;
  const int room = static_cast<int>(cap);
  double* K;
  {
    UntrackedScope own;
    K = MallocArray<double>(room);
  }
  if (!K || KernelFailed()) return nullptr;
  Owned<double, Free> keepK(K);
  int count = 0;
  for (int k = 0; k <= p; ++k) K[count++] = t[0];
  double T = span;
  // The last fine interval is never searched (legacy placement that callers' knot counts match).
  for (int i = 1; i <= N - 2 && count + p + 1 < room; ++i) {
    if (L[i] < T) continue;
    double lo = t[i - 1], hi = t[i], Llo = L[i - 1], Lhi = L[i], ell = Lhi;
    for (int it = 0; it < 14; ++it) {
      const double mid = 0.5 * (lo + hi);
      ell = Llo + GetPartCurveLength(c, lo, mid, 1000);
      if (std::fabs(ell - T) < 1e-6) break;
      if (ell > T) {
        hi = mid;
        Lhi = ell;
      } else {
        lo = mid;
        Llo = ell;
      }
    }
    K[count++] = std::fabs(Llo - ell) < std::fabs(Lhi - ell) ? lo : hi;
    T = (count - p) * span;
  }
  for (int k = 0; k <= p; ++k) K[count++] = t[N - 1];
  if (KernelFailed()) return nullptr;
  for (int i = 1; i < count; ++i) {
    double P[3] = {0.0, 0.0, 0.0};
    Eval3DPointOnBsplOnSurfArray(nullptr, c, K[i], 0, 0, P);
    std::printf("index = %d, %f, %f, %f\n", i, P[0], P[1], P[2]);
    std::printf("Knot value = %f\n", K[i]);
    std::printf("Cumulative length = %f\n", GetPartCurveLength(c, K[0], K[i], 1000));
    std::printf("Part length = %f\n", GetPartCurveLength(c, K[i - 1], K[i], 1000));
  }
  *n = count;
  return keepK.release();
}

int GetNKnotsInRealSpace(const Bspline* obj, double span, int dir) {
  if (!(span > 0.0)) return 0;
  TrackingScope scope;
  Owned<Bspline, FreeBspline> made;
  Bspline* c = MeasuredCurve(obj, dir, &made);
  if (!c || KernelFailed()) return 0;
  double *t = nullptr, *L = nullptr;
  int N = 0;
  if (!FineLengths(c, &t, &L, &N)) return 0;
  const double cap = std::floor(L[N - 1] / span) + 2.0 * c->degreeU + 3.0;
  return cap < 1e8 ? static_cast<int>(cap) : 0;
}

double GetAverageSpanInRealSpace(const Bspline* obj, int dir) {
  TrackingScope scope;
  Owned<Bspline, FreeBspline> made;
  Bspline* c = MeasuredCurve(obj, dir, &made);
  if (!c || KernelFailed()) return 0.0;
  const int p = c->degreeU, nI = c->interiorU;
  double sum = 0.0;
  for (int k = p; k <= p + nI; ++k)
    if (c->knotsU[k + 1] > c->knotsU[k])
      sum += GetPartCurveLength(c, c->knotsU[k], c->knotsU[k + 1], 1000);
  return KernelFailed() ? 0.0 : sum / (nI + 1);
}

Bspline* ConvertBsplineWUniformKnotsInRealSpace(const Bspline* srf, const GridFitParams* params,
                                                double spanU, double spanV, double tol) {
  if (!IsSoundSurface(srf) || !params) return nullptr;
  Bspline* s = const_cast<Bspline*>(srf);
  const int p = srf->degreeU, q = srf->degreeV;
  double *ku = nullptr, *kv = nullptr;
  int nu = 0, nv = 0;
  {
    TrackingScope scope;
    Owned<Bspline, FreeBspline> cu(IsoCurve3(s, s->umin, s->vmin, 0));
    Owned<Bspline, FreeBspline> cv(IsoCurve3(s, s->umin, s->vmin, 1));
    if (!cu || !cv || KernelFailed()) return nullptr;
    ku = GetUniformKnotsInRealSpace(cu.get(), spanU, &nu);
    kv = GetUniformKnotsInRealSpace(cv.get(), spanV, &nv);
  }
  // The two knot arrays are released on every way out.
  Owned<double, Free> holdU(ku), holdV(kv);
  if (!ku || !kv || KernelFailed()) return nullptr;
  Bspline* fresh = NewConvertedSurface(srf, params, p, q, nu - 2 * (p + 1), nv - 2 * (q + 1));
  if (!fresh) return nullptr;
  std::memcpy(fresh->knotsU, ku, sizeof(double) * nu);
  std::memcpy(fresh->knotsV, kv, sizeof(double) * nv);
  return SampleAndFit(srf, fresh, fresh, p + 1, q + 1, tol, params);
}

// ---- Approximation and reparametrisation of curves and trimmed surfaces -----------------------

namespace {

void FreeNodesOnly(BsplineList* list) {
  while (list) {
    BsplineList* next = list->next;
    Free(list);
    list = next;
  }
}

// The closest-point projection of one curve onto srf with knot-span sampling, joined pieces and
// seam treatment; the pieces are listed on srf. Null when nothing was found.
BsplineList* ProjectOne(Bspline* srf, Bspline* curve) {
  return SurfCurveProjectClosestGeometry(srf, curve, 0, 0.01, 1, 0);
}

GridFitParams DefaultGridFit() {
  GridFitParams g{};
  g.boundaryMode = -1;
  return g;
}

// Samples of a curve, samplesPerSpan per span (after the owner's knot-line crossings went into a
// copy) as a cloud: 3D points, or (u, v, 0) for a curve on a surface. Null on failure.
Cloud* CurveSampleCloud(const Bspline* curve, int samplesPerSpan) {
  TrackingScope scope;
  Owned<Bspline, FreeBspline> copy(CopyCurveBspline(const_cast<Bspline*>(curve)));
  if (!copy || KernelFailed()) return nullptr;
  copy->owner = curve->owner;
  Bspline* work = copy.get();
  const bool onSurface = curve->dimension == 2 && curve->owner;
  if (onSurface) {
    MakeCrvOnSrfsPlateProper(&work, 1);
    if (KernelFailed()) return nullptr;
  }
  double* t = nullptr;
  const int n = SampleCurvePlate(work, samplesPerSpan, &t);
  Owned<double, Free> holdT(t);
  if (n < 2 || KernelFailed()) return nullptr;
  float* x = MallocArray<float>(n);
  float* y = MallocArray<float>(n);
  float* z = MallocArray<float>(n);
  if (!x || !y || !z || KernelFailed()) return nullptr;
  for (int i = 0; i < n; ++i) {
    double p[3] = {0.0, 0.0, 0.0};
    if (work->dimension == 2)
      Eval2DPointOnCurve2Array(nullptr, work, t[i], 0, p);
    else
      Eval3DPointOnCurve3Array(work, t[i], 0, p);
    x[i] = static_cast<float>(p[0]);
    y[i] = static_cast<float>(p[1]);
    z[i] = static_cast<float>(p[2]);
  }
  if (KernelFailed()) return nullptr;
  return MakeCld(x, y, z, n, nullptr);
}

// A fitted curve put in the old one's place on its owner: dimension 2, the same owner, the old
// node of the curve list and of the first trim loop holding it now naming the new curve, that
// loop merged again.
bool Reconnect(const Bspline* old, Bspline* fresh) {
  Bspline* owner = old->owner;
  if (fresh->Z) {
    double** z = fresh->Z;
    fresh->Z = nullptr;
    matrix_free_fh(z);
  }
  fresh->dimension = 2;
  fresh->owner = owner;
  for (BsplineList* n = owner->curves; n; n = n->next)
    if (n->item == old) {
      n->item = fresh;
      break;
    }
  for (TrimList* loop = owner->trims; loop; loop = loop->next) {
    bool held = false;
    for (BsplineList* n = loop->loopCurves; n; n = n->next)
      if (n->item == old) {
        n->item = fresh;
        held = true;
        break;
      }
    if (!held) continue;
    BsplineList *inserted = nullptr, *removed = nullptr;
    TrimCurveMerge(owner, loop, &inserted, &removed, TrimGapTolerance(owner));
    FreeNodesOnly(inserted);
    FreeNodesOnly(removed);
    break;
  }
  return !KernelFailed();
}

bool IsCurve(const Bspline* c) {
  return c && c->kind == 1 && (c->dimension == 3 || (c->dimension == 2 && c->owner)) &&
         BsplineShapeSound(c);
}

// Points (about 2,000, spread over the knot spans of the curve measured from, at least 4 in each)
// at which a fit is measured against the curve it replaces, both ways: the fit meets its
// tolerance at the cloud's samples only, and between them it can stray further.
constexpr int kDenseSamples = 2000;
// The densest samples per knot span a fit is made from.
constexpr int kDensestSamplesPerSpan = 64;
// Fits tried with denser samples and a tightened tolerance before the best is taken as it is.
constexpr int kTighteningRounds = 8;

// The largest distance from a's dense points to b.
int DenseOneWayDeviation(Bspline* a, Bspline* b, double* dev) {
  const int spans = std::max(1, a->interiorU + 1);
  const int perSpan = std::max(4, kDenseSamples / spans);
  return TwoCurve3MaxDiff(a, b, perSpan, dev);
}

// The largest distance between two 3D curves measured densely both ways; -1 on failure.
double DenseTwoWayDeviation(Bspline* a, Bspline* b) {
  double ab = 0.0, ba = 0.0;
  if (DenseOneWayDeviation(a, b, &ab) != 0 || DenseOneWayDeviation(b, a, &ba) != 0) return -1.0;
  return std::max(ab, ba);
}

// The fit to tolerance of the curve's samples; a 3D fit is then measured densely against the
// curve and, while it misses, fitted again with the tolerance tightened by the miss. The status
// line shows the returned fit's measured deviation once.
//
// A space curve is sampled, fitted and measured in its control points' unit frame
// (foundation/unitfrm) and the fit mapped back: single-precision samples taken where the curve
// lies, far from the origin, would be rounded by more than the tolerance. A fit still outside the
// tolerance after the last round is refused, with the deviation it reached named.
Bspline* ApproximateCurve(const Bspline* original, double tol, int degree) {
  if (degree < 1 || degree > kMaxSplineDegree) return nullptr;
  const bool space = original->dimension == 3;
  UnitFrame frame = IdentityUnitFrame();
  Owned<Bspline, FreeBspline> unitCurve;
  const Bspline* curve = original;
  if (space) {
    frame = UnitFrameOfPoints(original->X[0], original->Y[0], original->Z[0], NumCtrlU(original), false);
    unitCurve.reset(CopyCurveBspline(const_cast<Bspline*>(original)));
    if (!unitCurve || KernelFailed()) return nullptr;
    PointsToUnitFrame(frame, unitCurve->X[0], unitCurve->Y[0], unitCurve->Z[0], NumCtrlU(original));
    curve = unitCurve.get();
    tol /= frame.size;
  }
  int samplesPerSpan = 2 * curve->degreeU + 2;
  Owned<Cloud, FreeCloud> cloud(CurveSampleCloud(curve, samplesPerSpan));
  if (!cloud) return nullptr;
  double L = 0.0, lo[3], hi[3];
  for (int i = 0; i < cloud->npts; ++i) {
    const double p[3] = {cloud->x[i], cloud->y[i], cloud->z[i]};
    for (int k = 0; k < 3; ++k) {
      lo[k] = i ? std::min(lo[k], p[k]) : p[k];
      hi[k] = i ? std::max(hi[k], p[k]) : p[k];
    }
    if (i)
      L += std::hypot(cloud->x[i] - cloud->x[i - 1], cloud->y[i] - cloud->y[i - 1],
                      cloud->z[i] - cloud->z[i - 1]);
  }
  // The single-precision samples carry about seven digits of the curve's size.
  const double floorTol = 1e-6 * VecDist3(lo, hi);
  if (space && tol < floorTol) tol = floorTol;
  Owned<Bspline, FreeBspline> best;
  double bestDev = 0.0, fitTol = tol;
  const int closed = curve->closedU ? 1 : 0;
  bool interpolant = false;
  for (int round = 0; round < kTighteningRounds; ++round) {
    int status = 0;
    double dev = 0.0;
    // Once the knots ran out the fit of denser samples is their interpolant again: made directly,
    // without the knot search that would insert every knot one by one first.
    Owned<Bspline, FreeBspline> fit(
        interpolant ? InterpCurve3(cloud.get(), closed, degree)
                    : FitToToleranceMeasured(cloud.get(), nullptr, fitTol, 0.1 * L, closed, degree,
                                             &status, 0, 0.8, &dev, true));
    if (!fit || KernelFailed()) return nullptr;
    interpolant = dev == 0.0 && NumCtrlU(fit.get()) >= cloud->npts;
    if (space) {
      dev = DenseTwoWayDeviation(const_cast<Bspline*>(curve), fit.get());
      if (dev < 0.0 || KernelFailed()) return nullptr;
    }
    if (!best || dev < bestDev) {
      best.reset(fit.release());
      bestDev = dev;
    }
    if (!space || bestDev <= tol) break;
    // A miss between the samples: samples twice as dense (the fit meets its tolerance only at
    // them, and the interpolant of too few strays between them) and the tolerance tightened by
    // the miss.
    if (samplesPerSpan < kDensestSamplesPerSpan) {
      samplesPerSpan *= 2;
      cloud.reset(CurveSampleCloud(curve, samplesPerSpan));
      if (!cloud) return nullptr;
    } else if (fitTol <= floorTol || interpolant) {
      break;
    }
    fitTol = std::max(floorTol, fitTol * std::min(0.9, 0.9 * tol / dev));
  }
  if (space) {
    PointsFromUnitFrame(frame, best->X[0], best->Y[0], best->Z[0], NumCtrlU(best.get()));
    bestDev *= frame.size;
    tol *= frame.size;
    if (bestDev > tol) {
      InfoMessageFormat(MSGstr("Curve approximation: tolerance %S not reached, the closest fit deviates %S"),
                        ScribedZKDistanceText(tol), ScribedZKDistanceText(bestDev));
      SetKernelError(-2);
      return nullptr;
    }
  }
  if (curve->dimension == 2 && !Reconnect(curve, best.get())) return nullptr;
  ShowCurveFitStatus(NumCtrlU(best.get()), bestDev);
  return best.release();
}

// The projection passes onto a converted surface; the new surface is released on failure.
Bspline* WithCurvesProjected(const Bspline* old, Bspline* fresh) {
  Owned<Bspline, FreeBspline> out(fresh);
  if (ProjectNonTrimCurvesOnSurfClosest(fresh, old->curves, old->trims) != 0 ||
      ProjectTrimCurvesOnSurfClosest(fresh, old->trims) != 0)
    return nullptr;
  return out.release();
}

// A copy of the surface without curves and trims (the conversions ignore them).
Bspline* BareCopy(const Bspline* srf) {
  return CopyBsplineSurface(const_cast<Bspline*>(srf));
}

// Grid points per knot span of a converted surface at which it is measured against the old one.
constexpr int kSurfaceCheckSamples = 8;
// Refits with the spans that miss halved before the closest fit is taken as it is.
constexpr int kSurfaceRefineRounds = 6;
// A least-squares fit reproduces even a surface it can hold exactly only to its round-off: this
// share of the old control-point box's diagonal is the finest tolerance measured against.
constexpr double kSurfaceRoundOff = 1e-9;

// A direction along which the miss changes by less than this share of its change along the
// other is not split.
constexpr double kOneWayChange = 0.25;

// The grid of the fit's knot spans, kSurfaceCheckSamples steps each, in one direction.
int CheckParameters(const Bspline* fit, int dir, double** out) {
  const int p = dir ? fit->degreeV : fit->degreeU, nI = dir ? fit->interiorV : fit->interiorU;
  const double* K = dir ? fit->knotsV : fit->knotsU;
  const int n = (nI + 1) * kSurfaceCheckSamples + 1;
  double* t = MallocArray<double>(n);
  if (!t) return 0;
  for (int s = 0; s <= nI; ++s)
    for (int k = 0; k < kSurfaceCheckSamples; ++k)
      t[s * kSurfaceCheckSamples + k] = K[p + s] + (K[p + s + 1] - K[p + s]) * k / kSurfaceCheckSamples;
  t[n - 1] = K[p + nI + 1];
  *out = t;
  return n;
}

// The largest distance between old and fit at the same parameters over the grid of the fit's
// spans; the spans of fit (in u, then in v) holding a grid point farther than tol are flagged in
// missU, missV (room for the interior counts + 1). -1 on failure.
double SameParameterMiss(const Bspline* old, const Bspline* fit, double tol, int* missU, int* missV) {
  TrackingScope scope;
  double *u = nullptr, *v = nullptr;
  const int nu = CheckParameters(fit, 0, &u), nv = CheckParameters(fit, 1, &v);
  if (!nu || !nv) return -1.0;
  double* a = MallocArray<double>(3 * nu, nv);
  double* b = MallocArray<double>(3 * nu, nv);
  if (!a || !b) return -1.0;
  const int m = nu * nv;
  if (Eval3DGridOnBsplArray(old, u, nu, v, nv, a, a + m, a + 2 * m) != 0 ||
      Eval3DGridOnBsplArray(fit, u, nu, v, nv, b, b + m, b + 2 * m) != 0)
    return -1.0;
  for (int i = 0; i <= fit->interiorU; ++i) missU[i] = 0;
  for (int j = 0; j <= fit->interiorV; ++j) missV[j] = 0;
  double worst = 0.0;
  for (int j = 0; j < nv; ++j)
    for (int i = 0; i < nu; ++i) {
      const int g = j * nu + i;
      const double d = std::hypot(a[g] - b[g], a[m + g] - b[m + g], a[2 * m + g] - b[2 * m + g]);
      worst = std::max(worst, d);
      if (!(d <= tol)) {
        // A grid point on a knot line belongs to the spans on both sides of it.
        const int su = i / kSurfaceCheckSamples, sv = j / kSurfaceCheckSamples;
        const bool onU = i % kSurfaceCheckSamples == 0, onV = j % kSurfaceCheckSamples == 0;
        if (su <= fit->interiorU) missU[su] = 1;
        if (onU && su > 0) missU[su - 1] = 1;
        if (sv <= fit->interiorV) missV[sv] = 1;
        if (onV && sv > 0) missV[sv - 1] = 1;
      }
    }
  // A miss that hardly changes along one direction is not mended by splitting that direction's
  // spans: only the direction (or both) in which the distance changes the most is split.
  double changeU = 0.0, changeV = 0.0;
  for (int j = 0; j < nv; ++j)
    for (int i = 0; i < nu; ++i) {
      const int g = j * nu + i;
      const double d = std::hypot(a[g] - b[g], a[m + g] - b[m + g], a[2 * m + g] - b[2 * m + g]);
      if (i + 1 < nu) {
        const int h = g + 1;
        changeU = std::max(changeU, std::fabs(d - std::hypot(a[h] - b[h], a[m + h] - b[m + h], a[2 * m + h] - b[2 * m + h])));
      }
      if (j + 1 < nv) {
        const int h = g + nu;
        changeV = std::max(changeV, std::fabs(d - std::hypot(a[h] - b[h], a[m + h] - b[m + h], a[2 * m + h] - b[2 * m + h])));
      }
    }
  if (changeV < kOneWayChange * changeU)
    for (int j = 0; j <= fit->interiorV; ++j) missV[j] = 0;
  if (changeU < kOneWayChange * changeV)
    for (int i = 0; i <= fit->interiorU; ++i) missU[i] = 0;
  return worst;
}

// The interior knots of fit in one direction with the midpoint of every flagged span added.
double* SplitKnots(const Bspline* fit, int dir, const int* miss, int* count) {
  const int p = dir ? fit->degreeV : fit->degreeU, nI = dir ? fit->interiorV : fit->interiorU;
  const double* K = dir ? fit->knotsV : fit->knotsU;
  double* out = MallocArray<double>(2 * nI + 1);
  if (!out) return nullptr;
  int c = 0;
  for (int s = 0; s <= nI; ++s) {
    if (s > 0) out[c++] = K[p + s];
    if (miss[s]) out[c++] = 0.5 * (K[p + s] + K[p + s + 1]);
  }
  *count = c;
  return out;
}

// The fit of srf with fit's degrees and the given interior knots, sampled per new span.
Bspline* RefitWithKnots(const Bspline* srf, const Bspline* fit, const double* ku, int cu,
                        const double* kv, int cv, double tol, const GridFitParams* params) {
  const int du = fit->degreeU, dv = fit->degreeV;
  Bspline* fresh = NewConvertedSurface(srf, params, du, dv, cu, cv);
  if (!fresh) return nullptr;
  SetInteriorKnots(fresh->knotsU, du, ku, cu);
  SetInteriorKnots(fresh->knotsV, dv, kv, cv);
  return SampleAndFit(srf, fresh, fresh, 2 * du + 2, 2 * dv + 2, tol, params);
}

// The conversion, measured against the surface at the same parameters over a grid of its spans;
// while it misses, the spans that miss are halved and the surface fitted again (a rational
// surface, or a degree too low for the old one's spans, has no exact image in the new knots).
// A fit still outside the tolerance after the last round is refused, with the deviation it
// reached named.
Bspline* ApproximateSurface(const Bspline* srf, double tol, int du, int dv,
                            const GridFitParams* params) {
  Owned<Bspline, FreeBspline> copy(BareCopy(srf));
  if (!copy || KernelFailed()) return nullptr;
  Owned<Bspline, FreeBspline> fit(ConvertBspline(copy.get(), params, du, dv, tol));
  if (!fit || KernelFailed()) return nullptr;
  double lo[3], hi[3];
  ControlPointBox(srf, lo, hi);
  const double goal = std::max(tol, kSurfaceRoundOff * VecDist3(lo, hi));
  double dev = 0.0;
  for (int round = 0;; ++round) {
    TrackingScope scope;
    int* missU = MallocArray<int>(fit->interiorU + 1);
    int* missV = MallocArray<int>(fit->interiorV + 1);
    if (!missU || !missV) return nullptr;
    dev = SameParameterMiss(copy.get(), fit.get(), goal, missU, missV);
    if (dev < 0.0 || KernelFailed()) return nullptr;
    if (dev <= goal || round == kSurfaceRefineRounds) break;
    int cu = 0, cv = 0;
    double* ku = SplitKnots(fit.get(), 0, missU, &cu);
    double* kv = SplitKnots(fit.get(), 1, missV, &cv);
    if (!ku || !kv) return nullptr;
    Owned<Bspline, FreeBspline> next(RefitWithKnots(copy.get(), fit.get(), ku, cu, kv, cv, tol, params));
    if (!next || KernelFailed()) return nullptr;
    fit.reset(next.release());
  }
  if (dev > goal) {
    InfoMessageFormat(MSGstr("Surface approximation: tolerance %S not reached, the closest fit deviates %S"),
                      ScribedZKDistanceText(goal), ScribedZKDistanceText(dev));
    SetKernelError(-2);
    return nullptr;
  }
  return WithCurvesProjected(srf, fit.release());
}

// A closed object's seam lines made to coincide: each pair of first and last control points set
// to their mean.
void CloseSeams(Bspline* b) {
  const int nU = NumCtrlU(b), nV = b->kind == 2 ? NumCtrlV(b) : 1;
  double** m[3] = {b->X, b->Y, b->dimension == 3 ? b->Z : nullptr};
  for (double** M : m) {
    if (!M) continue;
    if (b->closedU)
      for (int j = 0; j < nV; ++j) M[j][0] = M[j][nU - 1] = 0.5 * (M[j][0] + M[j][nU - 1]);
    if (b->kind == 2 && b->closedV)
      for (int i = 0; i < nU; ++i) M[0][i] = M[nV - 1][i] = 0.5 * (M[0][i] + M[nV - 1][i]);
  }
}

// The curve branch of the reparametrisation; correct < 0 runs FitCurveBsplineWithGivenKnots,
// otherwise the host's fit with its correction switch.
Bspline* ReparametrizeCurve(const Bspline* curve, const Bspline* ref, int nCtrl, int uniform,
                            double span, int correct) {
  const int p = curve->degreeU;
  TrackingScope scope;
  Owned<Cloud, FreeCloud> cloud(CurveSampleCloud(curve, 2 * p + 2));
  if (!cloud) return nullptr;
  double* knots = nullptr;
  int interior = 0, degree = p;
  Owned<double, Free> heldKnots;
  if (ref) {
    if (!IsCurve(ref)) return nullptr;
    degree = ref->degreeU;
    interior = ref->interiorU;
    knots = ref->knotsU;
  } else if (uniform) {
    knots = GetUniformKnots(nCtrl + p + 1, p, curve->umin, curve->umax);
    interior = nCtrl - p - 1;
  } else {
    int n = 0;
    knots = GetUniformKnotsInRealSpace(curve, span, &n);
    heldKnots.reset(knots);
    interior = n - 2 * p - 2;
  }
  if (!knots || interior < 0 || KernelFailed()) return nullptr;
  const int closed = curve->closedU ? 1 : 0;
  double* work = MallocArray<double>(cloud->npts + 1);
  if (!work || KernelFailed()) return nullptr;
  Bspline* fit = correct < 0
                     ? FitCurveBsplineWithGivenKnots(cloud.get(), knots + degree, interior + 2, work,
                                                     degree, closed)
                     : FitCurveBsplineGivenKnots_Host(cloud.get(), knots + degree, interior + 2,
                                                      work, degree, closed, correct);
  if (!fit) return nullptr;
  Owned<Bspline, FreeBspline> out(fit);
  if (closed) {
    fit->closedU = 1;
    CloseSeams(fit);
  }
  if (KernelFailed() || (curve->dimension == 2 && !Reconnect(curve, fit))) return nullptr;
  return out.release();
}

}  // namespace

int ProjectNonTrimCurvesOnSurfClosest(Bspline* newSrf, const BsplineList* curves,
                                      const TrimList* trims) {
  for (const BsplineList* n = curves; n; n = n->next) {
    bool inLoop = false;
    for (const TrimList* loop = trims; loop && !inLoop; loop = loop->next)
      for (const BsplineList* m = loop->loopCurves; m && !inLoop; m = m->next)
        inLoop = m->item == n->item;
    if (inLoop) continue;
    BsplineList* pieces = ProjectOne(newSrf, n->item);
    if (!pieces) return -2;
    FreeNodesOnly(pieces);  // the curves stay listed on newSrf
    if (KernelFailed()) return -2;
  }
  return 0;
}

int ProjectTrimCurvesOnSurfClosest(Bspline* newSrf, const TrimList* trims) {
  for (const TrimList* loop = trims; loop; loop = loop->next) {
    BsplineList* chain = nullptr;
    BsplineList** tail = &chain;
    for (const BsplineList* n = loop->loopCurves; n; n = n->next) {
      BsplineList* pieces = ProjectOne(newSrf, n->item);
      if (!pieces || KernelFailed()) {
        FreeNodesOnly(pieces);
        FreeNodesOnly(chain);
        return -2;
      }
      *tail = pieces;
      while (*tail) tail = &(*tail)->next;
    }
    if (!chain) continue;
    double cu[4], cv[4];
    TrimList* made = nullptr;
    if (ConstructTrimCurveList(newSrf, chain, loop->hole, 0, cu, cv, 0, 0, 0, nullptr, &made) != 0)
      return -2;
  }
  return 0;
}

int ProjectCurvesAndLoopsOnSurf(const Bspline* source, Bspline* target) {
  if (!source || !target || !source->curves) return 0;
  if (ProjectNonTrimCurvesOnSurfClosest(target, source->curves, source->trims) != 0 ||
      ProjectTrimCurvesOnSurfClosest(target, source->trims) != 0) {
    // Callers learn of the failure only through the error state.
    if (!KernelFailed()) SetKernelError(-2);
    return -2;
  }
  return 0;
}

Bspline* ApproximateBspline(const Bspline* obj, double tol, int du, int dv,
                            const GridFitParams* params) {
  if (!obj) return nullptr;
  if (obj->kind == 1) return IsCurve(obj) ? ApproximateCurve(obj, tol, du) : nullptr;
  if (!IsSoundSurface(obj) || !params) return nullptr;
  return ApproximateSurface(obj, tol, du, dv, params);
}

int ApproximateBsplineSurf(const Bspline* srf, double tol, int du, int dv,
                           const GridFitParams* params, Bspline** out) {
  if (!IsSoundSurface(srf) || !params || !out) return -2;
  if (!srf->rational && du <= srf->degreeU && dv <= srf->degreeV) return -2;
  Bspline* made = ApproximateSurface(srf, tol, du, dv, params);
  if (!made) return -2;
  *out = made;
  return 0;
}

int VDABsplineSurfaceApproximation(const Bspline* srf, int du, int dv, double tol, int m1, int m2,
                                   Bspline** out) {
  if (!IsSoundSurface(srf) || !out) return -2;
  if (!(static_cast<long long>(srf->interiorU) * srf->interiorV > static_cast<long long>(m1) * m2) ||
      du <= srf->degreeU || dv <= srf->degreeV)
    return -2;
  const GridFitParams prm = DefaultGridFit();
  return ApproximateBsplineSurf(srf, tol, du, dv, &prm, out);
}

Bspline* ReparametrizeBspline(const Bspline* obj, const Bspline* ref, double tol, int nU, int nV,
                              const GridFitParams* params, int uniformU, double spanU, int uniformV,
                              double spanV) {
  if (!obj) return nullptr;
  if (obj->kind == 1) {
    if (!IsCurve(obj)) return nullptr;
    return ReparametrizeCurve(obj, ref, nU, uniformU, spanU, -1);
  }
  if (!IsSoundSurface(obj) || !params) return nullptr;
  Bspline* fresh = nullptr;
  {
    Owned<Bspline, FreeBspline> copy(BareCopy(obj));
    if (!copy || KernelFailed()) return nullptr;
    if (ref)
      fresh = ConvertBsplineSurfaceBased(copy.get(), ref, params, tol);
    else if (uniformU && uniformV)
      fresh = ConvertBsplineWUniformKnots(copy.get(), params, nU, nV, tol);
    else
      fresh = ConvertBsplineWUniformKnotsInRealSpace(copy.get(), params, spanU, spanV, tol);
  }
  if (!fresh) return nullptr;
  fresh->closedU = obj->closedU;
  fresh->closedV = obj->closedV;
  CloseSeams(fresh);
  return WithCurvesProjected(obj, fresh);
}

int ReparametrizeSurface(Bspline* srf, const Bspline* ref, double, int nU, int nV, int uniformU,
                         double spanU, int uniformV, double spanV, Bspline** out) {
  if (!IsSoundSurface(srf) || !out) return 0;
  // The lists are detached so the reparametrisation projects nothing, and put back on every exit.
  BsplineList* curves = srf->curves;
  TrimList* trims = srf->trims;
  srf->curves = nullptr;
  srf->trims = nullptr;
  const GridFitParams prm = DefaultGridFit();
  Bspline* fresh = ReparametrizeBspline(srf, ref, 0.01, nU, nV, &prm, uniformU, spanU, uniformV,
                                        spanV);
  srf->curves = curves;
  srf->trims = trims;
  if (!fresh) return 0;
  if (ProjectCurvesAndLoopsOnSurf(srf, fresh) != 0) {
    FreeBspline(fresh);
    return 0;
  }
  *out = fresh;
  return 1;
}

Bspline* ReparametrizeCurveBspline_Host(const Bspline* curve, const Bspline* ref, double, int nCtrl,
                                        int, int uniform, double span, int correct) {
  if (!curve || curve->kind != 1 || !IsCurve(curve)) return nullptr;
  return ReparametrizeCurve(curve, ref, nCtrl, uniform, span, correct ? 1 : 0);
}

int EvalBsplineLength(const Bspline* obj, double out[2]) {
  if (!obj || !out || !BsplineShapeSound(obj)) return -2;
  const bool surf = obj->kind == 2;
  TrackingScope scope;
  const int nU = NumCtrlU(obj), nV = surf ? NumCtrlV(obj) : 1;
  double* gu = ObjectGrevilleParams(obj, 0);
  double* gv = surf ? ObjectGrevilleParams(obj, 1) : nullptr;
  Owned<double, Free> hu(gu), hv(gv);
  double* x = MallocArray<double>(nU, nV);
  double* y = MallocArray<double>(nU, nV);
  double* z = MallocArray<double>(nU, nV);
  if (!gu || (surf && !gv) || !x || !y || !z || KernelFailed()) return -2;
  if (surf) {
    if (Eval3DGridOnBsplArray(obj, gu, nU, gv, nV, x, y, z) != 0) return -2;
  } else {
    for (int i = 0; i < nU; ++i) {
      double p[3] = {0.0, 0.0, 0.0};
      Eval3DPointOnBsplOnSurfArray(obj->owner, obj, gu[i], 0, 0, p);
      x[i] = p[0];
      y[i] = p[1];
      z[i] = p[2];
    }
  }
  if (KernelFailed()) return -2;
  auto leg = [&](int a, int b) { return std::hypot(x[a] - x[b], y[a] - y[b], z[a] - z[b]); };
  double rows = 0.0, cols = 0.0;
  for (int j = 0; j < nV; ++j)
    for (int i = 1; i < nU; ++i) rows += leg(j * nU + i, j * nU + i - 1);
  for (int i = 0; i < nU && surf; ++i)
    for (int j = 1; j < nV; ++j) cols += leg(j * nU + i, (j - 1) * nU + i);
  out[0] = rows / nV;
  out[1] = surf ? cols / nU : 0.0;
  return 0;
}
