#include "splinefit/skin.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "bspline/bsvalid.h"
#include "bspline/cclone.h"
#include "bspline/knots.h"
#include "bspline/measure.h"
#include "bspline/nubutil.h"
#include "bspline/sfree.h"
#include "foundation/coreglob.h"
#include "foundation/makemat.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "splinefit/intrplt.h"

bool SkinnableCurves(Bspline** curves, int n) {
  if (!curves || n < 1) return false;
  const Bspline* f = curves[0];
  for (int i = 0; i < n; ++i) {
    const Bspline* c = curves[i];
    if (!c || c->kind != 1 || c->dimension != 3 || !BsplineShapeSound(c)) return false;
    if (c->degreeU != f->degreeU || c->interiorU != f->interiorU) return false;
  }
  return true;
}

Bspline* NewSkinSurface(const Bspline* first, int vdegree, int interiorV) {
  if (!RecordsSound({first}) || first->kind != 1) return nullptr;
  TrackingScope scope;
  Owned<Bspline, FreeBspline> s(MallocInitSurfaceBspline());
  if (!s || KernelFailed()) return nullptr;
  s->rational = first->rational ? 1 : 0;
  s->degreeU = first->degreeU;
  s->interiorU = first->interiorU;
  s->degreeV = vdegree;
  s->interiorV = interiorV;
  if (!BsplineCountsSound(s.get())) {
    SetKernelError(-2);
    return nullptr;
  }
  if (AllocateBsplineArrays(s.get()) < 0 || KernelFailed()) return nullptr;
  std::memcpy(s->knotsU, first->knotsU, sizeof(double) * NumKnotsU(first));
  // Until the caller fills it the record is a sound one: v knots clamped and uniform on [0, 1],
  // the net at the origin with unit weights.
  const int nKV = NumKnotsV(s.get()), net = NumCtrlU(s.get()) * NumCtrlV(s.get());
  for (int k = 0; k < nKV; ++k)
    s->knotsV[k] = k <= vdegree ? 0.0 : k >= nKV - vdegree - 1 ? 1.0 : double(k - vdegree) / (interiorV + 1);
  for (double** m : {s->X, s->Y, s->Z}) std::fill(m[0], m[0] + net, 0.0);
  if (s->W) std::fill(s->W[0], s->W[0] + net, 1.0);
  SetDomainFromKnots(s.get(), 0);
  SetDomainFromKnots(s.get(), 1);
  scope.keep();
  return s.release();
}

namespace {

// Coefficient j of a curve in coordinate k (0 x, 1 y, 2 z, 3 w), homogeneous for a rational
// skin: the weights are interpolated as a fourth coordinate.
double Coef(const Bspline* c, int k, int j, bool rational) {
  const double w = c->rational ? c->W[0][j] : 1.0;
  if (k == 3) return w;
  double** M[3] = {c->X, c->Y, c->Z};
  return rational ? M[k][0][j] * w : M[k][0][j];
}

// Back from homogeneous form, and a test that the net is made of numbers.
bool FinishSkin(Bspline* s) {
  const int nu = NumCtrlU(s), nv = NumCtrlV(s);
  if (!AllFinite(s->knotsV, NumKnotsV(s))) return false;  // chords that overflowed
  double** M[3] = {s->X, s->Y, s->Z};
  for (int r = 0; r < nv; ++r) {
    for (int j = 0; j < nu; ++j) {
      if (s->rational) {
        const double w = s->W[r][j];
        if (!(w > 0.0) || !std::isfinite(w)) return false;
        for (double** m : M) m[r][j] /= w;
      }
      for (double** m : M)
        if (!std::isfinite(m[r][j])) return false;
    }
  }
  return true;
}

}  // namespace

int SkinParamsAcrossCurves(Bspline** curves, int n, double* out, int k) {
  if (curves[0]->dimension == 2) return 0;
  for (int i = 0; i < k; ++i) out[i] = 0.0;
  const int m = NumCtrlU(curves[0]);
  // Rows whose corresponding control points lie this close, summed over a row and relative to
  // the rows' size, are one row: the parameter step between them would be round-off.
  const double coincident = 1e-5 * ControlPointSetDiagonal(curves, n);
  double s = 0.0;
  for (int i = 0; i + 1 < n; ++i) {
    const Bspline* a = curves[i];
    const Bspline* b = curves[i + 1];
    double d = 0.0;
    for (int j = 0; j < m; ++j) {
      const double p[3] = {a->X[0][j], a->Y[0][j], a->Z[0][j]};
      const double q[3] = {b->X[0][j], b->Y[0][j], b->Z[0][j]};
      d += VecDist3(p, q);
    }
    if (!(d >= coincident) || d == 0.0) {
      SetKernelError(-9);
      return -2;
    }
    s += d / m;
    out[k + i] = s;
  }
  for (int i = n + k - 1; i <= n + 2 * k - 3; ++i) out[i] = s;
  return 0;
}

Bspline* SkinCurveRows(int n, Bspline** curves, double* vknots, int vdegree, int ends[2]) {
  const int e0 = ends ? ends[0] : 0, e1 = ends ? ends[1] : 0;
  if ((e0 || e1) && !vknots) return nullptr;
  if (e0 < 0 || e0 > 2 || e1 < 0 || e1 > 2) return nullptr;
  // The tridiagonal collocation with Bessel ends is the cubic's; degree 1 is the polyline
  // through the curves. Other degrees would leave control rows unsolved or overrun the net.
  if (vdegree != 1 && vdegree != 3) return nullptr;
  if (vdegree == 1 && (e0 == 2 || e1 == 2)) return nullptr;
  if (e0 + e1 + 2 > n || !SkinnableCurves(curves, n)) return nullptr;
  const int interiorV = n - 2 - (e0 != 0) - (e1 != 0);
  const int nCtrlV = interiorV + vdegree + 1;
  const int P = n - e0 - e1;  // data curves
  TrackingScope scope;
  Owned<Bspline, FreeBspline> s(NewSkinSurface(curves[0], vdegree, interiorV));
  if (!s) return nullptr;
  if (vknots) {
    if (!KnotVectorSound(vknots, vdegree, nCtrlV)) return MadeOrFailed<Bspline>(nullptr);
    std::memcpy(s->knotsV, vknots, sizeof(double) * (nCtrlV + vdegree + 1));
  } else if (SkinParamsAcrossCurves(curves, n, s->knotsV, vdegree + 1) < 0) {
    return nullptr;
  }
  SetDomainFromKnots(s.get(), 1);
  SetDomainFromKnots(s.get(), 0);
  // Entry of data curve i: the first, the middle ones after the start's control rows, the last.
  auto dataEntry = [&](int i) { return i == 0 ? 0 : i == P - 1 ? n - 1 : i + e0; };
  const bool rational = s->rational != 0;
  double** M[4] = {s->X, s->Y, s->Z, s->W};
  const int coords = rational ? 4 : 3, nu = NumCtrlU(s.get());
  if (vdegree == 1) {
    for (int i = 0; i < P; ++i)
      for (int k = 0; k < coords; ++k)
        for (int j = 0; j < nu; ++j) M[k][i][j] = Coef(curves[dataEntry(i)], k, j, rational);
  } else {
    const int m = interiorV + 1;
    double* work = MallocArray<double>(7, m + 1);
    if (!work || KernelFailed()) return nullptr;
    double *lower = work, *diag = lower + m + 1, *upper = diag + m + 1, *d = upper + m + 1,
           *l = d + m + 1, *D = l + m + 1, *sol = D + m + 1;
    setup_system(s->knotsV, m, lower, diag, upper, 3, e0, e1);
    LUD_tridiag(lower, diag, upper, d, l, P - 1);
    const int firstSolved = e0 == 2 ? 2 : 1, r = nCtrlV - 1;
    for (int j = 0; j < nu; ++j) {
      for (int k = 0; k < coords; ++k) {
        for (int i = 0; i < P; ++i) D[i] = Coef(curves[dataEntry(i)], k, j, rational);
        double b0 = 0.0, b1 = 0.0;
        if (e0 == 0 || e1 == 0) bessel_ends(D, s->knotsV, P - 1, &b0, &b1);
        double start = b0, end = b1;
        if (e0 >= 1) start = Coef(curves[e0], k, j, rational);
        if (e0 == 2) M[k][1][j] = Coef(curves[1], k, j, rational);
        if (e1 >= 1) end = Coef(curves[n - 1 - e1], k, j, rational);
        if (e1 == 2) M[k][nCtrlV - 2][j] = Coef(curves[n - 2], k, j, rational);
        M[k][0][j] = D[0];
        M[k][r][j] = D[P - 1];
        D[0] = start;
        D[P - 1] = end;
        solve_tridiag(d, l, upper, P - 1, D, sol);
        for (int i = 0; i < P; ++i) M[k][firstSolved + i][j] = sol[i];
      }
    }
  }
  if (!FinishSkin(s.get())) {
    SetKernelError(-2);
    return nullptr;
  }
  return s.release();
}

Bspline** SkinCurvesToOrder(Bspline** curves, int* n, int vdegree) {
  if (!curves || !n || vdegree < 1) return nullptr;
  const int N = *n;
  if (vdegree + 1 <= N) return curves;
  if (N < 2 || !SkinnableCurves(curves, N)) return nullptr;
  TrackingScope scope;
  // Where the new curves go: midpoints of the chord-length spans across the curves, inserted
  // alternately from both ends, as the point adder does for points.
  const int len = N + 2 * vdegree;
  double* pad = MallocArray<double>(len);
  if (!pad || KernelFailed()) return nullptr;
  if (SkinParamsAcrossCurves(curves, N, pad, vdegree + 1) < 0) return nullptr;
  int inserted = vdegree + 1 - N;
  double* refined;
  if (N == 2) {
    // Evenly between two curves, an even count keeping them symmetric (as for two points).
    inserted += inserted & 1;
    refined = MallocArray<double>(len + inserted);
    if (!refined || KernelFailed()) return nullptr;
    const double t0 = pad[vdegree], t1 = pad[vdegree + 1];
    refined[vdegree] = t0;
    for (int i = 1; i <= inserted; ++i) refined[vdegree + i] = t0 + (t1 - t0) * i / (inserted + 1);
    refined[vdegree + inserted + 1] = t1;
  } else {
    refined = GetNewKnotsAfterInsert(pad, len, vdegree, &inserted);
  }
  if (!refined || KernelFailed()) return nullptr;
  const int total = N + inserted;
  const double* t = pad + vdegree;  // the given curves' parameters
  double* tv = MallocArray<double>(inserted);
  int* isGiven = MallocArray<int>(total);
  if (!tv || !isGiven || KernelFailed()) return nullptr;
  int given = 0, added = 0;
  for (int pos = 0; pos < total; ++pos) {
    const double v = refined[vdegree + pos];
    isGiven[pos] = given < N && v == t[given];
    if (isGiven[pos])
      ++given;
    else if (added < inserted)
      tv[added++] = v;
  }
  if (given != N || added != inserted) {
    SetKernelError(-2);
    return nullptr;
  }
  // Each control column across the curves is interpolated at the given curves' parameters
  // (degree 3 from four curves, else one less than the count) and read at the new ones; the
  // added curves have the knots of the first.
  const int q = N >= 4 ? 3 : N - 1, nu = NumCtrlU(curves[0]);
  double* qpad = MallocArray<double>(N + 2 * q);
  double* col = MallocArray<double>(3, N);
  double* at = MallocArray<double>(3, inserted);
  if (!qpad || !col || !at || KernelFailed()) return nullptr;
  // The given curves join the array only at the end: until then its owner frees just the new.
  OwnedArray<Bspline, FreeBspline> result;
  {
    UntrackedScope own;  // the array and the new curves are the caller's
    result = OwnedArray<Bspline, FreeBspline>::Zeroed(total);
  }
  if (!result || KernelFailed()) return nullptr;
  for (int pos = 0; pos < total; ++pos) {
    if (isGiven[pos]) continue;
    UntrackedScope own;
    result[pos] = CopyCurveBspline(curves[0]);
    if (!result[pos] || KernelFailed()) return nullptr;
    FreeBsplineProperties(result[pos]);
  }
  for (int i = 0; i < q; ++i) {
    qpad[i] = t[0];
    qpad[q + N + i] = t[N - 1];
  }
  for (int i = 0; i < N; ++i) qpad[q + i] = t[i];
  for (int j = 0; j < nu; ++j) {
    for (int i = 0; i < N; ++i) {
      col[i] = curves[i]->X[0][j];
      col[N + i] = curves[i]->Y[0][j];
      col[2 * N + i] = curves[i]->Z[0][j];
    }
    Owned<Bspline, FreeBspline> across(NewCurveIntrplt(col, col + N, col + 2 * N, N - 1, qpad, q));
    if (!across || KernelFailed()) return nullptr;
    EvalNpntsOnObj(across.get(), 0, 0, tv, tv, inserted, at, at + inserted, at + 2 * inserted);
    int a = 0;
    for (int pos = 0; pos < total; ++pos) {
      if (isGiven[pos]) continue;
      result[pos]->X[0][j] = at[a];
      result[pos]->Y[0][j] = at[inserted + a];
      result[pos]->Z[0][j] = at[2 * inserted + a];
      if (result[pos]->rational) {
        // Weights linear between the neighbouring given curves: positive whatever the data.
        const double v = tv[a];
        int i = 0;
        while (i + 2 < N && t[i + 1] < v) ++i;
        const double f = (v - t[i]) / (t[i + 1] - t[i]);
        result[pos]->W[0][j] = (1.0 - f) * curves[i]->W[0][j] + f * curves[i + 1]->W[0][j];
      }
      ++a;
    }
  }
  given = 0;
  for (int pos = 0; pos < total; ++pos)
    if (isGiven[pos]) result[pos] = curves[given++];
  *n = total;
  return result.release();
}

Bspline* SkinCurveRowsBanded(int n, Bspline** curves, double* vparams, int vdegree) {
  if (vdegree < 1 || vdegree > kMaxSplineDegree || !SkinnableCurves(curves, n)) return nullptr;
  int N = n;
  Bspline** set = SkinCurvesToOrder(curves, &N, vdegree);
  if (!set) return nullptr;
  Bspline* s = nullptr;
  {
    TrackingScope scope;
    // Given parameters fit the caller's count only.
    const double* given = N == n ? vparams : nullptr;
    const int len = N + 2 * vdegree;
    double* params = MallocArray<double>(len);
    if (params && !KernelFailed()) {
      bool ok = true;
      if (given)
        std::memcpy(params, given, sizeof(double) * len);
      else
        ok = SkinParamsAcrossCurves(set, N, params, vdegree + 1) == 0;
      Owned<Bspline, FreeBspline> srf(ok ? NewSkinSurface(set[0], vdegree, N - vdegree - 1)
                                         : nullptr);
      const int w = std::max(vdegree + 1, 2 * vdegree - 1), h = (w - 1) / 2;
      double** A = srf ? allocate_matrix_ff(N, w) : nullptr;
      int* idx = A ? MallocArray<int>(N) : nullptr;
      double* col = idx ? MallocArray<double>(N) : nullptr;
      if (col && !KernelFailed() && AllFinite(params, len)) {
        double* K = RemoveByAveKnotsForInterpolate(params, N - 1, vdegree);
        if (K && !KernelFailed()) {
          std::memcpy(srf->knotsV, K, sizeof(double) * (N + vdegree + 1));
          SetDomainFromKnots(srf.get(), 1);
          SetDomainFromKnots(srf.get(), 0);
          Newsetup_system(srf->knotsV, params, N - 1, A, idx, w, vdegree);
          ok = LUD_BandMatrix(A, N - 1, h, h, idx) == 0;
          const bool rational = srf->rational != 0;
          double** M[4] = {srf->X, srf->Y, srf->Z, srf->W};
          const int nu = NumCtrlU(srf.get());
          for (int j = 0; ok && j < nu; ++j) {
            for (int k = 0; ok && k < (rational ? 4 : 3); ++k) {
              for (int i = 0; i < N; ++i) col[i] = Coef(set[i], k, j, rational);
              ok = solve_BandMatrix(A, N - 1, col, col, w, idx) == 0;
              for (int i = 0; ok && i < N; ++i) M[k][i][j] = col[i];
            }
          }
          if (ok && !FinishSkin(srf.get())) {
            SetKernelError(-2);
            ok = false;
          }
          if (ok) s = srf.release();
        }
      }
    }
  }
  if (set != curves) {
    for (int i = 0; i < N; ++i) {
      bool theirs = false;
      for (int j = 0; j < n && !theirs; ++j) theirs = set[i] == curves[j];
      if (!theirs) FreeBspline(set[i]);
    }
    Free(set);
  }
  return s;
}
