#include "curve/fittotol.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "bspline/bsvalid.h"
#include "bspline/cclone.h"
#include "bspline/kinsert.h"
#include "bspline/knots.h"
#include "bspline/sfree.h"
#include "cloud/makecld.h"
#include "cloud/putil.h"
#include "curve/cintrplt.h"
#include "curve/crverr.h"
#include "curve/crvutil.h"
#include "curve/fitcurve.h"
#include "foundation/coreglob.h"
#include "foundation/makemat.h"
#include "foundation/sort.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "platform/tstubs.h"

namespace {

// Curvature (turning of the unit chord tangent over a window) from which a point is bent.
constexpr double kBentCurvature = 0.1;

void Point(const Cloud* cloud, int i, double p[3]) {
  p[0] = cloud->x[i], p[1] = cloud->y[i], p[2] = cloud->z[i];
}

// Tolerances below this fraction of the data's extent are raised to it: the clouds hold single
// precision coordinates (7 digits), so a finer tolerance only adds knots until the points are
// interpolated.
constexpr double kFinestRelativeTol = 1e-6;
// The knot search stops when the largest deviation has not fallen below kStallFall of the best
// one while the interior knots grew by as many as the best fit had (at least kStallKnots), and
// the points' mean squared deviation has not fallen below kStallFall^2 of its value at the start
// of that stretch either: on smooth data a cubic's error falls by about 16 when the knots double
// (the largest deviation of an under-resolved curve may wander from place to place meanwhile,
// but the mean falls), while on noise the knots only chase single points and the mean stays at
// the noise.
constexpr double kStallFall = 0.5;
constexpr int kStallKnots = 10;

// The median of the n values (the mean of the two middle ones for an even count); the values
// are reordered.
double Median(double* v, int n) {
  std::nth_element(v, v + n / 2, v + n);
  const double upper = v[n / 2];
  if (n % 2) return upper;
  return 0.5 * (upper + *std::max_element(v, v + n / 2));
}

// The fit of every driver here: the engine with the curve's end control points held at the
// first and last cloud points, closed with a smooth seam when closed. 0 or -2.
int FitHeldEnds(Bspline* curve, const Cloud* cloud, double* t, float* x, float* y, float* z,
                int n, int closed, double roughness, double tension, double sigma) {
  const int N = NumCtrlU(curve);
  double ends[2][3];
  Point(cloud, 0, ends[0]);
  Point(cloud, cloud->npts - 1, ends[1]);
  int idx[2] = {0, N - 1};
  if (FindAllCurveCoefi3(curve, t, x, y, z, n, ends, idx, 2, roughness, tension, sigma) != 0)
    return -2;
  if (closed && CloseCurve(curve, 2) != 0) return -2;
  return KernelFailed() ? -2 : 0;
}

// A curve's control points and knots set aside and put back.
struct SavedCurve {
  double* knots;
  double* rows;  // X, Y, Z rows of N values each
};

bool SaveCurve(const Bspline* c, SavedCurve* s) {
  const int N = NumCtrlU(c), K = NumKnotsU(c);
  if (!s->knots) {
    s->knots = MallocArray<double>(K);
    s->rows = MallocArray<double>(3, N);
    if (!s->knots || !s->rows || KernelFailed()) return false;
  }
  std::memcpy(s->knots, c->knotsU, sizeof(double) * K);
  std::memcpy(s->rows, c->X[0], sizeof(double) * N);
  std::memcpy(s->rows + N, c->Y[0], sizeof(double) * N);
  std::memcpy(s->rows + 2 * N, c->Z[0], sizeof(double) * N);
  return true;
}

void RestoreCurve(Bspline* c, const SavedCurve& s) {
  const int N = NumCtrlU(c);
  std::memcpy(c->knotsU, s.knots, sizeof(double) * NumKnotsU(c));
  std::memcpy(c->X[0], s.rows, sizeof(double) * N);
  std::memcpy(c->Y[0], s.rows + N, sizeof(double) * N);
  std::memcpy(c->Z[0], s.rows + 2 * N, sizeof(double) * N);
}

// Index of the first largest value.
int FirstMax(const double* d, int n) {
  int w = 0;
  for (int i = 1; i < n; ++i)
    if (d[i] > d[w]) w = i;
  return w;
}

// Parameters that projected onto the curve's ends are spread evenly towards their neighbours'
// parameters, so that they keep rising.
void SpreadEndParams(double* u, int n) {
  int k = 1;
  while (k < n && u[k] == 0.0) ++k;
  if (k > 1 && k < n)
    for (int j = 1; j < k; ++j) u[j] = j * u[k] / k;
  int m = n - 2;
  while (m >= 0 && u[m] == 1.0) --m;
  if (m < n - 2 && m >= 0)
    for (int j = m + 1; j <= n - 2; ++j) u[j] = 1.0 - (n - 1 - j) * (1.0 - u[m]) / (n - 1 - m);
}

// The new empty 3D curve of degree p with `interior` knots on [0, 1], kept outside every scope.
Bspline* NewFitCurve(int p, int interior) {
  TrackingScope scope;
  Owned<Bspline, FreeBspline> c(MallocNullBspline());
  if (!c || KernelFailed()) return nullptr;
  c->kind = 1;
  c->dimension = 3;
  c->degreeU = p;
  c->interiorU = interior;
  if (AllocateBsplineArrays(c.get()) < 0 || KernelFailed()) return nullptr;
  for (int i = 0; i <= p; ++i) {
    c->knotsU[i] = 0.0;
    c->knotsU[p + interior + 1 + i] = 1.0;
  }
  c->umin = 0.0;
  c->umax = 1.0;
  scope.keep();
  return c.release();
}

}  // namespace

// ---- curvature points ------------------------------------------------------------------------

// Windows by arc length s: a (behind i) is the nearest point whose arc to i exceeds w, else 0;
// b (ahead) the nearest whose arc from i reaches w, else the last. Tangents are unit chords
// over the window; the turning at i compares the tangents at its window's ends, and its median
// over the window is the curvature.
int GetCloudCurvature(Cloud* cloud, double* c, double spacing, double D[][3], double* seg,
                      double* total) {
  if (!cloud || !c) return -2;
  const int n = cloud->npts;
  if (n < 3) {
    for (int i = 0; i < n; ++i) c[i] = 0.0;
    return 0;
  }
  TrackingScope scope;
  double* s = MallocArray<double>(6, n);
  int* win = MallocArray<int>(2, n);
  if (!s || !win || KernelFailed()) return -2;
  double* T = s + n;       // 3 n: unit tangents
  double* tau = T + 3 * n;  // n
  double* scratch = tau + n;
  int *wa = win, *wb = win + n;
  seg[0] = 0.0;
  s[0] = 0.0;
  for (int i = 1; i < n; ++i) {
    double p[3], q[3];
    Point(cloud, i - 1, p);
    Point(cloud, i, q);
    seg[i] = VecDist3(p, q);
    s[i] = s[i - 1] + seg[i];
  }
  *total = s[n - 1];
  const double w = spacing > 0.0 ? 0.5 * spacing : 0.05 * *total;
  int a = 0, b = 0;
  for (int i = 0; i < n; ++i) {
    while (a + 1 < i && s[i] - s[a + 1] > w) ++a;
    if (b <= i) b = std::min(i + 1, n - 1);
    while (b < n - 1 && s[b] - s[i] < w) ++b;
    wa[i] = a;
    wb[i] = b;
    double p[3], q[3], d[3];
    Point(cloud, a, p);
    Point(cloud, b, q);
    VecNormalize3(VecDiff3(q, p, d), T + 3 * i);
  }
  for (int i = 0; i < n; ++i) {
    const double* Ta = T + 3 * wa[i];
    const double* Tb = T + 3 * wb[i];
    double diff[3], p[3], q[3], chord[3], bin[3], N[3];
    tau[i] = VecSize3(VecDiff3(Tb, Ta, diff));
    Point(cloud, wa[i], p);
    Point(cloud, wb[i], q);
    VecDiff3(q, p, chord);
    VecCrossProd3(Ta, Tb, bin);
    VecNormalize3(VecCrossProd3(chord, bin, N), N);
    const double da = VecDotProd3(Ta, N), db = VecDotProd3(Tb, N);
    if ((da < 0.0 && db > 0.0) || (da > 0.0 && db < 0.0)) {
      const double f = (da > 0.0 ? -1.0 : 1.0) / std::max(tau[i], 1e-10);
      for (int k = 0; k < 3; ++k) D[i][k] = N[k] * f;
    } else {
      D[i][0] = D[i][1] = D[i][2] = 0.0;
    }
  }
  for (int i = 0; i < n; ++i) {
    const int m = wb[i] - wa[i] + 1;
    std::memcpy(scratch, tau + wa[i], sizeof(double) * m);
    c[i] = Median(scratch, m);
  }
  // Near the ends the window is cut short; those points take the first full window's values.
  int e = -1;
  while (e + 1 < n && s[e + 1] < w) ++e;
  int f = n - 1;
  while (f > 0 && s[n - 1] - s[f - 1] < w) --f;
  auto copyFrom = [&](int from, int lo, int hi) {
    const double cv = c[from], dv[3] = {D[from][0], D[from][1], D[from][2]};
    for (int i = lo; i <= hi; ++i) {
      c[i] = cv;
      for (int k = 0; k < 3; ++k) D[i][k] = dv[k];
    }
  };
  if (f <= 1 || e >= n - 1) {
    copyFrom(n / 2, 0, n - 1);
  } else {
    copyFrom(f - 1, f, n - 1);
    copyFrom(e + 1, 0, e);
  }
  return 0;
}

int GetCldMaxCurv(Cloud* cloud, int* indices, int* count, double spacing) {
  *count = 0;
  const int n = cloud ? cloud->npts : 0;
  if (!(spacing > 0.0)) return -2;
  if (n < 3) return 0;
  TrackingScope scope;
  double* c = MallocArray<double>(4, n);
  double(*D)[3] = reinterpret_cast<double(*)[3]>(MallocArray<double>(3, n));
  int* taken = CallocArray<int>(n);
  if (!c || !D || !taken || KernelFailed()) {
    ClearKernelError();
    return -2;
  }
  double *seg = c + n, *key = seg + n, *arc = key + n, total = 0.0;
  if (GetCloudCurvature(cloud, c, spacing, D, seg, &total) != 0) {
    ClearKernelError();
    return -2;
  }
  arc[0] = 0.0;
  for (int i = 1; i < n; ++i) arc[i] = arc[i - 1] + seg[i];
  int k = 0;
  auto take = [&](int i, double value) {
    if (i < 1 || i > n - 2 || taken[i]) return;
    taken[i] = 1;
    indices[k] = i;
    key[k++] = value;
  };
  auto bent = [&](int j) { return c[j] >= kBentCurvature; };
  int prevEnd = -1;  // the last point of the previous run
  int i = 0;
  while (i < n) {
    if (!bent(i)) {
      ++i;
      continue;
    }
    int e = i;
    while (e + 1 < n && bent(e + 1) && VecDotProd3(D[e], D[e + 1]) >= 0.0) ++e;
    // Where the bend begins: the point before the run, unless the run goes on from the last one
    // (the bending direction reversed there).
    if (i >= 1 && i - 1 != prevEnd) take(i - 1, -c[i - 1]);
    const bool atStart = i == 0;
    int start = atStart ? 1 : i;
    while (start <= e) {
      double best = c[start];
      int cand = start, stop = start;
      double acc = 0.0;
      for (int j = start + 1; j <= e; ++j) {
        stop = j;
        if (c[j] > best || (atStart && c[j] == best)) {
          best = c[j];
          cand = j;
          acc = 0.0;
        } else {
          acc += seg[j];
        }
        if (acc >= spacing) break;
      }
      take(cand, c[cand]);
      // The next stretch starts past the peak's slope: no point from the candidate on within
      // spacing behind it curves more.
      int next = stop + 1;
      auto shadowed = [&](int q) {
        for (int r = cand; r < q; ++r)
          if (c[r] > c[q] && arc[q] - arc[r] <= spacing) return true;
        return false;
      };
      while (next <= e && shadowed(next)) ++next;
      start = next;
    }
    // Where the bend ends: the point after the run.
    take(e + 1, e + 1 < n ? -c[e + 1] : 0.0);
    prevEnd = e;
    i = e + 1;
  }
  // Peaks first (decreasing signed curvature), transition points last.
  HeapSort2FloatInt4(k, key, indices);
  std::reverse(indices, indices + k);
  *count = k;
  return 0;
}

// ---- fitting to a tolerance ------------------------------------------------------------------

void GetCloudParameters(Cloud* cloud, int mode, double* t, double* length) {
  if (!cloud || !t || !length || cloud->npts < 1) return;
  const int n = cloud->npts;
  double sum = 0.0, size = 0.0;
  t[0] = 0.0;
  for (int i = 1; i < n; ++i) {
    double p[3], q[3];
    Point(cloud, i - 1, p);
    Point(cloud, i, q);
    const double d = VecDist3(p, q);
    sum += d;
    t[i] = t[i - 1] + (mode ? std::sqrt(d) : d);
  }
  for (int i = 0; i < n; ++i)
    size = std::max({size, std::fabs(double(cloud->x[i])), std::fabs(double(cloud->y[i])),
                     std::fabs(double(cloud->z[i]))});
  *length = sum;
  // Points that coincide to the floats' precision have no length to normalise by.
  if (std::fabs(sum) > 1e-6 * std::max(size, 1e-300) && t[n - 1] > 0.0)
    for (int i = 1; i < n; ++i) t[i] /= t[n - 1];
}

namespace {

int Refit(Cloud* cloud, Bspline* curve, double* t, int nCorrection, double tolSq, int nWeighting,
          double* maxSq, double* worstParam, int closed, double roughness, double tension,
          double sigma) {
  if (!cloud || !curve || !t || cloud->npts < 2) return -2;
  const int n = cloud->npts;
  TrackingScope scope;
  if (curve->rational) {
    matrix_free_fh(curve->W);
    curve->W = nullptr;
    curve->rational = 0;
  }
  double* d = MallocArray<double>(2, n);
  if (!d || KernelFailed()) return -2;
  double* u = d + n;
  SavedCurve saved = {nullptr, nullptr};
  auto fit = [&](double* params, float* x, float* y, float* z, int count) {
    return FitHeldEnds(curve, cloud, params, x, y, z, count, closed, roughness, tension, sigma);
  };
  double best = kEmptyBoxBound, bestParam = 0.0;
  *maxSq = -1.0;
  if (fit(t, cloud->x, cloud->y, cloud->z, n) != 0 || !SaveCurve(curve, &saved)) return -2;
  if (nCorrection == 0) {
    int worst;
    if (FindCurveBsplineCloudMaxDiff(curve, cloud, worstParam, maxSq, &worst) != 0) return -2;
    best = *maxSq;
    bestParam = *worstParam;
  }
  for (int r = 1; r <= nCorrection; ++r) {
    if (RecordCurveBsplineCloudDiff(curve, cloud, d, u) != 0) return -2;
    bool falls = false;
    for (int i = 1; i < n && !falls; ++i) falls = u[i] < u[i - 1];
    if (falls) {
      if (r == 1) {
        const int w = FirstMax(d, n);
        *maxSq = d[w];
        *worstParam = u[w];
      } else {
        *maxSq = best;
        *worstParam = bestParam;
      }
      RestoreCurve(curve, saved);
      break;
    }
    SpreadEndParams(u, n);
    std::memcpy(t, u, sizeof(double) * n);
    const int w = FirstMax(d, n);
    *maxSq = d[w];
    *worstParam = u[w];
    if (*maxSq > best) {
      *maxSq = best;
      *worstParam = bestParam;
      RestoreCurve(curve, saved);
      break;
    }
    best = *maxSq;
    bestParam = *worstParam;
    if (*maxSq < tolSq) break;
    if (!SaveCurve(curve, &saved) || fit(t, cloud->x, cloud->y, cloud->z, n) != 0) return -2;
  }
  if (*maxSq > tolSq) {
    double ms, wp;
    int worst;
    if (FindCurveBsplineCloudMaxDiff(curve, cloud, &wp, &ms, &worst) != 0) return -2;
    if (ms > best) {
      *maxSq = best;
      *worstParam = bestParam;
      RestoreCurve(curve, saved);
    } else {
      *maxSq = ms;
      *worstParam = wp;
      best = ms;
      bestParam = wp;
    }
  }
  if (nWeighting > 0 && (*maxSq > tolSq || tolSq == -1.0)) {
    const int passes = std::min(nWeighting, 10), k = n / 10;
    // The working data: the cloud's points and parameters, then copies of the worst points,
    // the cloud's last point always last. Room for 6 n entries (10 passes add at most 3 n).
    const int cap = 6 * n;
    float* wxyz = MallocArray<float>(3, cap);
    double* wt = MallocArray<double>(cap);
    int* order = MallocArray<int>(n);
    if (!wxyz || !wt || !order || KernelFailed()) return -2;
    float *wx = wxyz, *wy = wx + cap, *wz = wy + cap;
    std::memcpy(wx, cloud->x, sizeof(float) * n);
    std::memcpy(wy, cloud->y, sizeof(float) * n);
    std::memcpy(wz, cloud->z, sizeof(float) * n);
    std::memcpy(wt, t, sizeof(double) * n);
    int wn = n;
    // One measurement more than fits: the last fit is measured too, so that the curve handed
    // back is the best one found and the reported values describe it.
    for (int pass = 0; pass <= passes; ++pass) {
      if (RecordCurveBsplineCloudDiff(curve, cloud, d, u) != 0) return -2;
      for (int i = 0; i < n; ++i) order[i] = i;
      HeapSort2FloatInt4(n, d, order);
      const double ms = d[n - 1];
      if (ms > best) {
        *maxSq = best;
        *worstParam = bestParam;
        RestoreCurve(curve, saved);
        break;
      }
      if (ms < tolSq || pass == passes) {
        *maxSq = ms;
        *worstParam = t[order[n - 1]];
        break;
      }
      if (!SaveCurve(curve, &saved)) return -2;
      best = *maxSq = ms;
      bestParam = *worstParam = t[order[n - 1]];
      for (int j = 1; j <= k && d[n - j] > tolSq; ++j) {
        const int p = order[n - j];
        for (int copy = 0; copy < 3; ++copy) {
          // The last entry moves up one place; the copy goes before it.
          wx[wn] = wx[wn - 1], wy[wn] = wy[wn - 1], wz[wn] = wz[wn - 1], wt[wn] = wt[wn - 1];
          wx[wn - 1] = cloud->x[p], wy[wn - 1] = cloud->y[p], wz[wn - 1] = cloud->z[p];
          wt[wn - 1] = t[p];
          ++wn;
        }
      }
      if (fit(wt, wx, wy, wz, wn) != 0) return -2;
    }
  }
  SetDomainFromKnots(curve, 0);
  return 0;
}

}  // namespace

int RefitCurve3(Cloud* cloud, Bspline* curve, double* t, int nCorrection, double tolSq,
                int nWeighting, double* maxSq, double* worstParam, int closed, int /*degree*/,
                double roughness, double tension, double sigma) {
  const int r = Refit(cloud, curve, t, nCorrection, tolSq, nWeighting, maxSq, worstParam, closed,
                      roughness, tension, sigma);
  if (r == 0) ShowCurveFitStatus(NumCtrlU(curve), std::sqrt(std::max(*maxSq, 0.0)));
  return r;
}

namespace {

// The search of OptimalKnotVect on a cloud of unit size; *maxSq receives the returned curve's
// measure of the check (0 for the interpolant). Steps: start knots (curvature points or the start curve's knots),
// first fit and check, one refit, then one knot per pass at the unused cloud point nearest the
// middle of the worst point's span, refit and check; the interpolant when no knot can be added.
Bspline* SearchKnots(Cloud* cloud, Bspline* startCurve, double spacing, double* t,
                     int nCorrection, int nWeighting, int closed, int degree, double roughness,
                     double tension, double sigma, int mode, double tol, double fraction,
                     bool exactPoints, double* fitMaxSq) {
  const int n = cloud->npts, p = degree;
  TrackingScope scope;
  int* marks = CallocArray<int>(n);
  int* found = MallocArray<int>(n);
  double* saveT = MallocArray<double>(n);
  if (!marks || !found || !saveT || KernelFailed()) return nullptr;
  marks[0] = marks[n - 1] = 1;
  int k = 0;
  if (!startCurve) {
    if (GetCldMaxCurv(cloud, found, &k, spacing) != 0) return nullptr;
  } else {
    k = startCurve->interiorU;
  }
  Owned<Bspline, FreeBspline> curve(NewFitCurve(p, k));
  if (!curve) return nullptr;
  // The interior knots at the parameters of the marked interior points, in point order.
  auto knotsFromMarks = [&]() {
    int j = p + 1;
    for (int i = 1; i < n - 1; ++i)
      if (marks[i]) curve->knotsU[j++] = t[i];
  };
  if (!startCurve) {
    for (int j = 0; j < k; ++j) marks[found[j]] = 1;
    // Sorted by parameter: the points' order, as the parameters rise with it.
    knotsFromMarks();
    HeapSort(k, curve->knotsU + p + 1);
  } else {
    // The start curve's interior knots between clamped ends of its domain: its end knots are as
    // many as its own degree asks for, which need not be the fit's.
    const int q = startCurve->degreeU;
    const double* sk = startCurve->knotsU;
    for (int j = 0; j <= p; ++j) curve->knotsU[j] = sk[q], curve->knotsU[p + k + 1 + j] = sk[q + k + 1];
    std::memcpy(curve->knotsU + p + 1, sk + q + 1, sizeof(double) * k);
    NormalizeKnotArray(curve->knotsU, NumKnotsU(curve.get()));
    SpreadOverfullKnotRuns(curve.get(), 0);
  }
  const double tolSq = tol * tol;
  double worstParam = 0.0, maxSq = 0.0;
  int worstIndex = 0;
  auto fitAndCheck = [&]() {
    if (FitHeldEnds(curve.get(), cloud, t, cloud->x, cloud->y, cloud->z, n, closed, roughness,
                    tension, sigma) != 0)
      return -1;
    const int ok = CheckCurveBsplineCloudMaxDiff(curve.get(), cloud, mode, tol, fraction,
                                                 &worstParam, &maxSq, &worstIndex);
    if (KernelFailed()) return -1;
    return ok;
  };
  int ok = fitAndCheck();
  if (ok < 0) return nullptr;
  std::memcpy(saveT, t, sizeof(double) * n);
  const int m0 = curve->interiorU;
  if (!ok) {
    if (Refit(cloud, curve.get(), t, nCorrection, tolSq, nWeighting, &maxSq, &worstParam, closed,
              roughness, tension, sigma) != 0)
      return nullptr;
    if (m0 < n - 4) {
      std::memcpy(t, saveT, sizeof(double) * n);
      if (!startCurve) knotsFromMarks();
    }
  }
  // The deviation no longer falling: the tolerance lies at or below the noise of the points,
  // and further knots only chase it towards the interpolant. The best fit is kept.
  // The refit's point weighting is not repeated after an insertion, so the plain fits are
  // compared from the first insertion on.
  Owned<Bspline, FreeBspline> bestCurve;
  double bestSq = 0.0;
  int bestKnots = curve->interiorU;
  // The stretch over which the stall is judged: its first knot count and mean squared deviation.
  int windowKnots = bestKnots;
  double windowMeanSq = -1.0;
  double* distSq = MallocArray<double>(n);
  double* closest = MallocArray<double>(n);
  if (!distSq || !closest) return nullptr;
  auto meanSq = [&]() {
    if (RecordCurveBsplineCloudDiff(curve.get(), cloud, distSq, closest) != 0) return -1.0;
    double sum = 0.0;
    for (int i = 0; i < n; ++i) sum += distSq[i];
    return sum / n;
  };
  bool stalled = false, inserted = false;
  // Exact samples that need knots at more than half of them are as well served by their
  // interpolant, which is taken at once.
  const int lastKnots = exactPoints ? std::min(n - 4, n / 2) : n - 4;
  while (!ok) {
    if (curve->interiorU >= lastKnots) break;
    if (!inserted) {
      inserted = true;
    } else if (!bestCurve || maxSq < kStallFall * kStallFall * bestSq) {
      bestSq = maxSq;
      bestKnots = curve->interiorU;
      TrackingScope own;  // the copy is this search's, held and freed by bestCurve
      bestCurve.reset(CopyCurveBspline(curve.get()));
      if (!bestCurve || KernelFailed()) return nullptr;
      own.keep();
      windowKnots = bestKnots;
      windowMeanSq = -1.0;
    } else if (!exactPoints && curve->interiorU - windowKnots > std::max(kStallKnots, windowKnots)) {
      const double mean = meanSq();
      if (mean < 0.0 || KernelFailed()) return nullptr;
      if (windowMeanSq >= 0.0 && !(mean < kStallFall * kStallFall * windowMeanSq)) {
        stalled = true;
        break;
      }
      // The first look at this stretch, or the mean still falling: a new stretch starts here.
      windowKnots = curve->interiorU;
      windowMeanSq = mean;
    }
    if (user_break()) return nullptr;
    // The span of the worst point, by the parameter it is fitted at (its closest point on a curve
    // that skips a loop of the points lies far from it, in spans that already fit); a worst point
    // at the domain start lies in the first span.
    const int last = NumCtrlU(curve.get());
    const double worstAt = worstIndex >= 0 && worstIndex < n ? t[worstIndex] : worstParam;
    int j = p + 1;
    while (j < last && curve->knotsU[j] < worstAt) ++j;
    const double mid = 0.5 * (curve->knotsU[j - 1] + curve->knotsU[j]);
    int i = 0;
    while (i < n - 1 && t[i] < mid) ++i;
    int pick = i > 0 && std::fabs(t[i] - mid) > std::fabs(t[i - 1] - mid) ? i - 1 : i;
    if (marks[pick]) {
      // The nearest unused points on either side; the upper one on a tie.
      int lo = i - 1, hi = i;
      while (lo >= 0 && marks[lo]) --lo;
      while (hi < n && marks[hi]) ++hi;
      if (lo < 0 && hi >= n) break;
      pick = hi < n && (lo < 0 || std::fabs(t[hi] - mid) <= std::fabs(t[lo] - mid)) ? hi : lo;
    }
    marks[pick] = 1;
    double value = t[pick];
    InsertNKnotsToObject(1, 1, 0, curve.get(), 2, &value);
    if (KernelFailed()) return nullptr;
    ok = fitAndCheck();
    if (ok < 0) return nullptr;
  }
  if (stalled) {
    curve.reset(bestCurve.release());
    maxSq = bestSq;
    InfoMessageFormat(MSGstr("The deviation stopped falling at %d control points: the tolerance lies at or below the "
                               "noise of the points"),
                        NumCtrlU(curve.get()));
  } else if (!ok) {
    curve.reset(InterpCurve3(cloud, closed ? 1 : 0, p));
    if (!curve) return nullptr;
    maxSq = 0.0;
  }
  *fitMaxSq = maxSq;
  SetDomainFromKnots(curve.get(), 0);
  return curve.release();
}

}  // namespace

void ShowCurveFitStatus(int nCtrl, double deviation) {
  StatusMessageFormat(MSGstr("Control points = %d, Maximum deviation = %S"), nCtrl,
                      ScribedZKDistanceText(deviation));
}

namespace {

// OptimalKnotVect without its status message; *deviation the square root of the check's measure
// in the caller's units.
//
// The fit's weights hold a length only through sigma (the data weight 1 / sigma^2 against
// energies that do not change with the size), and the interpolators merge points closer than a
// fixed distance: so the search runs on a copy of the cloud moved to its first point and scaled
// to unit extent, which gives every size the answer of unit size, and the curve is mapped back
// (its end control points exactly onto the cloud's end points).
Bspline* KnotSearchAtUnitSize(Cloud* cloud, Bspline* startCurve, double spacing, double* t,
                              int nCorrection, int nWeighting, int closed, int degree,
                              double roughness, double tension, double sigma, int mode,
                              double tol, double fraction, bool exactPoints, double* deviation) {
  if (!cloud || !t || cloud->npts < 2 || !cloud->x || !cloud->y || !cloud->z || degree < 1 ||
      degree > kMaxSplineDegree)
    return nullptr;
  if (startCurve && (startCurve->kind != 1 || !BsplineShapeSound(startCurve))) return nullptr;
  const int n = cloud->npts;
  TrackingScope scope;
  double o[3], lo[3], hi[3];
  Point(cloud, 0, o);
  for (int k = 0; k < 3; ++k) lo[k] = hi[k] = o[k];
  for (int i = 1; i < n; ++i) {
    double q[3];
    Point(cloud, i, q);
    for (int k = 0; k < 3; ++k) lo[k] = std::min(lo[k], q[k]), hi[k] = std::max(hi[k], q[k]);
  }
  double unit = std::max({hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]});
  if (!(unit > 0.0) || !std::isfinite(unit)) unit = 1.0;
  float* f = MallocArray<float>(3, n);
  if (!f || KernelFailed()) return nullptr;
  const float* src[3] = {cloud->x, cloud->y, cloud->z};
  for (int k = 0; k < 3; ++k)
    for (int i = 0; i < n; ++i) f[k * n + i] = static_cast<float>((src[k][i] - o[k]) / unit);
  Owned<Cloud, FreeCloud> copy(MakeCld(f, f + n, f + 2 * n, n, nullptr));
  if (!copy || KernelFailed()) return nullptr;
  double maxSq = 0.0;
  Owned<Bspline, FreeBspline> c(SearchKnots(copy.get(), startCurve, spacing / unit, t, nCorrection,
                                            nWeighting, closed, degree, roughness, tension, sigma,
                                            mode, std::max(tol / unit, kFinestRelativeTol),
                                            fraction, exactPoints, &maxSq));
  if (!c) return nullptr;
  double** rows[3] = {c->X, c->Y, c->Z};
  const int N = NumCtrlU(c.get());
  for (int k = 0; k < 3; ++k) {
    for (int i = 0; i < N; ++i) rows[k][0][i] = rows[k][0][i] * unit + o[k];
    rows[k][0][0] = src[k][0];
    rows[k][0][N - 1] = src[k][n - 1];
  }
  *deviation = unit * std::sqrt(std::max(maxSq, 0.0));
  return c.release();
}

}  // namespace

Bspline* OptimalKnotVect(Cloud* cloud, Bspline* startCurve, double spacing, double* t,
                         int nCorrection, int nWeighting, double /*umin*/, double /*umax*/,
                         int closed, int degree, double roughness, double tension, double sigma,
                         int mode, double tol, double fraction) {
  double deviation = 0.0;
  Bspline* c = KnotSearchAtUnitSize(cloud, startCurve, spacing, t, nCorrection, nWeighting, closed,
                                    degree, roughness, tension, sigma, mode, tol, fraction, false,
                                    &deviation);
  if (c) ShowCurveFitStatus(NumCtrlU(c), deviation);
  return c;
}

Bspline* FitToToleranceMeasured(Cloud* cloud, Bspline* startCurve, double tol, double spacing,
                                int closed, int degree, int* status, int mode, double fraction,
                                double* deviation, bool exactPoints) {
  *deviation = 0.0;
  if (!cloud) return nullptr;
  if (startCurve) {
    closed = startCurve->closedU != 0;
    degree = startCurve->degreeU;
  }
  const int n = cloud->npts;
  if (closed && n < 4) {
    if (status) *status = -1;
    return nullptr;
  }
  if (!closed && n < 2) {
    if (status) *status = -2;
    return nullptr;
  }
  // No curvature window without a spacing, and no tolerance below zero.
  if (!(spacing > 0.0) || !std::isfinite(spacing) || !(tol >= 0.0)) {
    if (status) *status = -2;
    SetKernelError(-2);
    return nullptr;
  }
  TrackingScope scope;
  Owned<Cloud, FreeCloud> closedCopy(closed ? GetClosedCloud(cloud) : nullptr);
  if (closed && (!closedCopy || KernelFailed())) return nullptr;
  Cloud* work = closed ? closedCopy.get() : cloud;
  double* t = MallocArray<double>(work->npts);
  if (!t || KernelFailed()) return nullptr;
  double length = 0.0;
  GetCloudParameters(work, 0, t, &length);
  // The parameters are normalised exactly when the points have a length.
  if (t[work->npts - 1] == 1.0)
    return KnotSearchAtUnitSize(work, startCurve, spacing, t, 15, 15, closed, degree, 1e6, 0.0, 0.1,
                                mode, tol, fraction, exactPoints, deviation);
  return InterpCurve3(cloud, closed ? 1 : 0, degree);
}

Bspline* FitToTolerance(Cloud* cloud, Bspline* startCurve, double tol, double spacing, int closed,
                        int degree, double /*w1*/, double /*w2*/, double /*w3*/, int* status,
                        int mode, double fraction) {
  double deviation = 0.0;
  Bspline* c = FitToToleranceMeasured(cloud, startCurve, tol, spacing, closed, degree, status, mode,
                                      fraction, &deviation);
  if (c) ShowCurveFitStatus(NumCtrlU(c), deviation);
  return c;
}

Bspline** CurveBasedFitCurvesToTolerance(Cloud** clouds, int nClouds, Bspline* startCurve,
                                         double tol) {
  if (!clouds || nClouds < 1 || !startCurve) return nullptr;
  const int closed = startCurve->closedU != 0, degree = startCurve->degreeU;
  TrackingScope scope;
  Bspline** result;
  {
    UntrackedScope own;  // the caller's
    result = CallocArray<Bspline*>(nClouds);
  }
  int* counts = MallocArray<int>(2, nClouds);
  if (!result || !counts || KernelFailed()) {
    Free(result);
    return nullptr;
  }
  int* order = counts + nClouds;
  for (int i = 0; i < nClouds; ++i) {
    order[i] = i;
    counts[i] = 0;
    Cloud* c = clouds[i];
    if (!c || c->npts < 1) continue;
    double* t = MallocArray<double>(c->npts);
    int* found = MallocArray<int>(c->npts);
    if (!t || !found || KernelFailed()) {
      Free(result);
      return nullptr;
    }
    double length = 0.0;
    GetCloudParameters(c, 0, t, &length);
    if (length > 0.0) GetCldMaxCurv(c, found, &counts[i], length);
    Free(t);
    Free(found);
  }
  // The fitting globals are this operation's only while it runs: every return restores them.
  struct {
    double tension = Global_Tension, roughness = Global_Roughness, sigma = Global_Sigma;
  } const saved;
  Global_Tension = 0.0;
  Global_Roughness = 1e6;
  Global_Sigma = 0.1;
  auto restore = [&]() {
    Global_Tension = saved.tension;
    Global_Roughness = saved.roughness;
    Global_Sigma = saved.sigma;
  };
  HeapSort2Int(nClouds, counts, order);
  for (int j = nClouds - 1, k = 1; j >= 0; --j, ++k) {
    StatusMessageFormat(MSGstr("Fitting curve %d of %d ..."), k, nClouds);
    Cloud* c = clouds[order[j]];
    if (!c || c->npts < (closed ? 4 : 2)) continue;
    Owned<Cloud, FreeCloud> closedCopy(closed ? GetClosedCloud(c) : nullptr);
    if (closed && (!closedCopy || KernelFailed())) {
      restore();
      for (int i = 0; i < nClouds; ++i) FreeBspline(result[i]);
      Free(result);
      return nullptr;
    }
    Cloud* work = closed ? closedCopy.get() : c;
    double* t = MallocArray<double>(work->npts);
    if (!t || KernelFailed()) {
      restore();
      for (int i = 0; i < nClouds; ++i) FreeBspline(result[i]);
      Free(result);
      return nullptr;
    }
    double length = 0.0;
    GetCloudParameters(work, 0, t, &length);
    result[j] = OptimalKnotVect(work, startCurve, length, t, 15, 15, 0.0, 1.0, closed, degree,
                                Global_Roughness, Global_Tension, Global_Sigma, 0, tol, 0.8);
    ClearKernelError();  // a cloud that cannot be fitted leaves its entry null
    Free(t);
  }
  restore();
  return result;
}
