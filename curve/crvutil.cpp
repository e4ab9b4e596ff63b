#include "curve/crvutil.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <initializer_list>
#include <limits>

#include "bspline/bsvalid.h"
#include "bspline/cclone.h"
#include "bspline/creverse.h"
#include "bspline/crvlist.h"
#include "bspline/ctrlnubs.h"
#include "bspline/helper.h"
#include "bspline/isocurve.h"
#include "bspline/knots.h"
#include "bspline/kremove.h"
#include "bspline/measure.h"
#include "bspline/nubs.h"
#include "bspline/nubutil.h"
#include "bspline/objset.h"
#include "bspline/refines2.h"
#include "bspline/sfree.h"
#include "bspline/srfgrid.h"
#include "cloud/makecld.h"
#include "cloud/princip.h"
#include "curve/cintsct.h"
#include "curve/crvclpt.h"
#include "curve/crvfoot.h"
#include "curve/crvoffst.h"
#include "curve/pntintrp.h"
#include "curve/trimpoly.h"
#include "foundation/coreglob.h"
#include "foundation/geo2.h"
#include "foundation/geometry.h"
#include "foundation/mathmat.h"
#include "foundation/solvmat.h"
#include "foundation/sort.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"

double NormalizeKnotArray(double* knots, int n) { return NormalizeKnots(knots, n); }

int PutInCKnotsOfBNotInA(const double* A, int nA, const double* B, int nB, double** C, int* nC) {
  return KnotsOfBNotInA(A, nA, B, nB, C, nC, nullptr);
}

int PutInCKnotsOfBNotInA_changeA(double* A, int nA, const double* B, int nB, double** C, int* nC) {
  return KnotsOfBNotInA(A, nA, B, nB, C, nC, A);
}

int PutAllKnotsWithinTolOfValToVal(double* knots, int n, int idx, double value, double tol) {
  return SnapKnotsToValue(knots, n, idx, value, tol);
}

void UnionKnotArrays(const double* A, int nA, const double* B, int nB, double** C, int* nC) {
  MergeKnotVectors(A, nA, B, nB, C, nC);
}

namespace {

// An array handed back by a callee that closed its scope keeping it: untracked, so freed here.
using KeptArray = Owned<double, Free>;

void Copy3(const double a[3], double b[3]) {
  b[0] = a[0];
  b[1] = a[1];
  b[2] = a[2];
}

}  // namespace

// ---- sampling per knot span ----------------------------------------------------------------
double* SampleCurvePlateProper(Bspline* curve, int n, int* count) {
  if (!RecordsSound({curve}) || curve->kind != 1 || !count) return MadeOrFailed<double>(nullptr);
  // Fewer than two samples per interval would leave the intervals without their ends.
  if (n < 2) n = 2;
  TrackingScope scope;
  const int p = curve->degreeU;
  const double* breaks = curve->knotsU;
  int len = NumKnotsU(curve);
  double* merged = nullptr;
  if (curve->dimension == 2 && curve->owner) {
    int k;
    double *sect, *us, *vs;
    if (GetCurve2DSurfParamSect(curve, &k, &sect, &us, &vs) != 0) return nullptr;
    Free(us);
    Free(vs);
    // The merge takes values within a fixed 1e-6 as one: it runs on the domain mapped onto
    // [0, 1], or the breaks of a curve whose domain is 1e-6 long would all be taken as one.
    // Mapped back, a break the merge matched with a knot is that knot exactly.
    const double* kc = curve->knotsU;
    const double t0 = kc[p], w = kc[len - p - 1] - t0;
    double* unitKnots = MallocArray<double>(len);
    if (!unitKnots || KernelFailed()) {
      Free(sect);
      return nullptr;
    }
    for (int i = 0; i < len; ++i) unitKnots[i] = (kc[i] - t0) / w;
    for (int i = 0; i < k; ++i) sect[i] = (sect[i] - t0) / w;
    const int nKnots = len;
    UnionKnotArrays(unitKnots, nKnots, sect, k, &merged, &len);
    Free(sect);
    Free(unitKnots);
    if (!merged || KernelFailed()) return nullptr;
    for (int i = 0; i < len; ++i) {
      const double t = t0 + merged[i] * w;
      const double* at = std::lower_bound(kc, kc + nKnots, t);
      const double* near = at == kc + nKnots || (at > kc && t - at[-1] < *at - t) ? at - 1 : at;
      merged[i] = std::fabs(*near - t) <= 1e-6 * w ? *near : t;
    }
    breaks = merged;
  }
  const int m = len - 2 * (p + 1);
  const int total = (m + 1) * (n - 1) + 1;
  double* out = MallocArray<double>(total);
  if (!out || KernelFailed()) return nullptr;
  SamplesPerSpan(breaks + p, m + 2, out, n);
  Free(merged);
  scope.keep();
  *count = total;
  return out;
}

void ComputeCrvParamArraysForEval(Bspline* curve, int mode, int n, double* out, int total) {
  if (!RecordsSound({curve}) || !out) return;
  const double lo = curve->umin, hi = curve->umax;
  if (mode == 0) {
    const double step = n > 1 ? (hi - lo) / (n - 1) : 0.0;
    for (int i = 0; i < total; ++i) out[i] = lo + i * step;
  } else if (mode == 1 && total > 0) {
    const double* k = curve->knotsU + curve->degreeU;
    int at = 0;
    for (int j = 0; j <= curve->interiorU; ++j)
      for (int i = 0; i < n && at < total; ++i) out[at++] = k[j] + i * (k[j + 1] - k[j]) / n;
    out[total - 1] = hi;
  }
}

int SampleTrimCurvePlate(Bspline* srf, int n, float** x, float** y, float** z) {
  *x = *y = *z = nullptr;
  int curves = 0;
  for (TrimList* loop = srf->trims; loop; loop = loop->next)
    for (BsplineList* c = loop->loopCurves; c; c = c->next) ++curves;
  if (curves == 0) return 0;
  TrackingScope scope;
  // The per-curve samples come back kept by their maker: freed here on every path.
  auto params = OwnedArray<double, Free>::Zeroed(curves);
  int* counts = MallocArray<int>(curves);
  if (!params || !counts || KernelFailed()) return 0;
  int total = 0, k = 0;
  for (TrimList* loop = srf->trims; loop; loop = loop->next)
    for (BsplineList* c = loop->loopCurves; c; c = c->next, ++k) {
      params[k] = SampleCurvePlateProper(c->item, n > 0 ? n : c->item->degreeU + 1, &counts[k]);
      if (!params[k]) return 0;
      total += counts[k];
    }
  float* fx = MallocArray<float>(total);
  float* fy = MallocArray<float>(total);
  float* fz = MallocArray<float>(total);
  if (!fx || !fy || !fz || KernelFailed()) return 0;
  int at = 0;
  k = 0;
  for (TrimList* loop = srf->trims; loop; loop = loop->next)
    for (BsplineList* c = loop->loopCurves; c; c = c->next, ++k) {
      EvalNpntsOnObj_f(c->item, 0, 0, params[k], nullptr, counts[k], fx + at, fy + at, fz + at);
      at += counts[k];
    }
  params.reset();
  Free(counts);
  scope.keep();
  *x = fx;
  *y = fy;
  *z = fz;
  return total;
}

namespace {

// A sample of a curve on a surface: parameter, (u, v) clamped into the surface, 3D point.
struct SurfSample {
  double t, uv[2], P[3];
};

SurfSample SampleOnSurface(Bspline* srf, Bspline* curve, double t) {
  SurfSample s;
  s.t = t;
  Eval2DPointOnCurve2Array(srf, curve, t, 0, s.uv);
  Eval3DPointOnSurfCoord(srf, s.uv[0], s.uv[1], 0, 0, s.P);
  return s;
}

}  // namespace

int SampleCurveWithAngTol(Bspline* curve, double angTol, float** x, float** y, float** z) {
  Bspline* srf = curve->owner;
  if (!srf) return 0;
  TrackingScope scope;
  int k;
  double *crossings, *us, *vs;
  if (GetCurve2DSurfParamSect(curve, &k, &crossings, &us, &vs) != 0) return 0;
  Free(us);
  Free(vs);
  KeptArray keptCrossings(crossings);
  const double* sect = crossings;
  // Working arrays double whenever one free slot is left, never per sample.
  int cap = 128, count = 0;
  float* fx = MallocArray<float>(cap);
  float* fy = MallocArray<float>(cap);
  float* fz = MallocArray<float>(cap);
  if (!fx || !fy || !fz || KernelFailed()) return 0;
  auto append = [&](const SurfSample& s) {
    fx[count] = float(s.P[0]);
    fy[count] = float(s.P[1]);
    fz[count] = float(s.P[2]);
    if (cap - ++count > 1) return true;
    float* old[3] = {fx, fy, fz};
    fx = MallocArray<float>(2 * cap);
    fy = MallocArray<float>(2 * cap);
    fz = MallocArray<float>(2 * cap);
    if (!fx || !fy || !fz || KernelFailed()) return false;
    float* grown[3] = {fx, fy, fz};
    for (int a = 0; a < 3; ++a) {
      for (int i = 0; i < count; ++i) grown[a][i] = old[a][i];
      Free(old[a]);
    }
    cap *= 2;
    return true;
  };
  const double minStep = 0.001 * sect[k - 1];
  SurfSample accepted = SampleOnSurface(srf, curve, sect[0]);
  if (!append(accepted)) return 0;
  // Pending samples: the top is the next candidate; a bend pushes its interval's midpoint.
  // Each push halves the interval, so a small fixed stack holds every chain that the floating
  // point can still split; a full stack accepts its top.
  constexpr int kStack = 64;
  SurfSample stack[kStack];
  for (int i = 1; i < 4 * k - 3; ++i) {
    const int a = (i - 1) / 4, q = (i - 1) % 4 + 1;
    const double t = q == 4 ? sect[a + 1] : sect[a] + q * (sect[a + 1] - sect[a]) / 4.0;
    int top = 0;
    stack[top++] = SampleOnSurface(srf, curve, t);
    while (top > 0) {
      const SurfSample& T = stack[top - 1];
      double angle = 0.0;
      SurfSample mid;
      if (T.t - accepted.t > minStep) {
        mid = SampleOnSurface(srf, curve, 0.5 * (accepted.t + T.t));
        double c1[3], c2[3];
        for (int c = 0; c < 3; ++c) {
          c1[c] = mid.P[c] - accepted.P[c];
          c2[c] = T.P[c] - mid.P[c];
        }
        angle = FindAngleVectors3(c1, c2);
      }
      if (angle <= angTol || top == kStack) {
        accepted = T;
        --top;
        if (!append(accepted)) return 0;
      } else {
        stack[top++] = mid;
      }
    }
  }
  scope.keep();
  *x = fx;
  *y = fy;
  *z = fz;
  return count;
}

int SampleTrimCurveUniformChordLength(TrimList* loop, int n, double** u, double** v) {
  // The step is the loop's length over n - 1.
  if (!loop || !loop->loopCurves || n < 2) return -2;
  int curves = 0;
  for (BsplineList* c = loop->loopCurves; c; c = c->next, ++curves)
    if (!c->item->owner) return -2;
  constexpr int kFine = 100;
  TrackingScope scope;
  double* len = MallocArray<double>(curves, kFine);
  double* par = MallocArray<double>(curves, kFine);
  double* U = MallocArray<double>(n);
  double* V = MallocArray<double>(n);
  if (!len || !par || !U || !V || KernelFailed()) return -2;
  double running = 0.0, prev[3] = {0.0, 0.0, 0.0};
  int k = 0;
  Bspline* last = nullptr;
  for (BsplineList* c = loop->loopCurves; c; c = c->next) {
    Bspline* crv = last = c->item;
    for (int i = 0; i < kFine; ++i, ++k) {
      double P[3];
      par[k] = crv->umin + i * (crv->umax - crv->umin) / (kFine - 1);
      Eval3DPointOnBsplOnSurfArray(nullptr, crv, par[k], 0, 0, P);
      // No gap is counted between one curve's end and the next curve's start.
      if (i > 0) running += VecDist3(prev, P);
      len[k] = running;
      Copy3(P, prev);
    }
  }
  const double step = running / (n - 1);
  Bspline* first = loop->loopCurves->item;
  U[0] = first->X[0][0];
  V[0] = first->Y[0][0];
  int slot = 1;
  double target = step;
  k = 0;
  for (BsplineList* c = loop->loopCurves; c; c = c->next, k += kFine)
    for (int i = 1; i < kFine && slot < n - 1; ++i) {
      // At most one sample per fine interval.
      if (len[k + i] > target) {
        double uv[2];
        Eval2DPointOnCurve2Array(nullptr, c->item, 0.5 * (par[k + i - 1] + par[k + i]), 0, uv);
        U[slot] = uv[0];
        V[slot] = uv[1];
        ++slot;
        target += step;
      }
    }
  // Fine intervals longer than the step yield fewer samples than slots: the rest take the
  // loop's end, so that no slot is left unset.
  const int endIdx = NumCtrlU(last) - 1;
  for (; slot < n; ++slot) {
    U[slot] = last->X[0][endIdx];
    V[slot] = last->Y[0][endIdx];
  }
  Free(len);
  Free(par);
  scope.keep();
  *u = U;
  *v = V;
  return 0;
}

// ---- closest parameters --------------------------------------------------------------------
namespace {

// The parameters of the estimator's polyline: per-span samples, and for a closed curve denser
// samples in the two end intervals. A new array (count in *m) in the current scope; null on
// failure.
// Samples per span of the estimator's polyline.
int ClosestSamplesPerSpan(const Bspline* curve) {
  int n = 200 / (curve->interiorU + 1) + 1;
  if (n > 2 * curve->degreeU + 2) n = 2 * curve->degreeU + 2;
  if (n <= 4) n = 4;
  return n;
}

double* ClosestSampleParams(Bspline* curve, int closed, int* m) {
  double* s = SampleCurvePlateProper(curve, ClosestSamplesPerSpan(curve), m);
  if (!s || !closed || *m < 3) return s;
  const int c = *m;
  const double first = s[1] - s[0], last = s[c - 1] - s[c - 2];
  const double step = 0.2 * std::fmin(first, last);
  if (std::fabs(step) <= 1e-6 * (curve->umax - curve->umin)) return s;
  const int cap = int(std::fmax(first, last) / step) + c + 10;
  double* dense = MallocArray<double>(cap);
  if (!dense) {
    Free(s);
    return nullptr;
  }
  int k = 0;
  for (int i = 0; i < c; ++i) {
    dense[k++] = s[i];
    if (i == 0 || i == c - 2)
      for (double t = s[i] + step; t < s[i + 1] && k < cap - (c - 1 - i); t += step) dense[k++] = t;
  }
  Free(s);
  *m = k;
  return dense;
}

// The first nearest of the polyline's segments k - 1 .. k, k = first .. last (vertices
// s, px, py, pz), against the best squared distance so far: *best, *t (the parameter at the
// foot, by the vertices' parameters) and closestPoint (may be null) are updated when a segment
// is strictly nearer, so that ties keep the earlier segment.
void NearestPolylineSegment(const double* s, const double* px, const double* py, const double* pz,
                            int first, int last, const double P[3], double* best, double* t,
                            double* closestPoint) {
  double nearest = *best;
  // The nearest vertex bounds the winning segment's distance from above: segments farther than
  // it cannot hold the first minimum, so they are skipped unmeasured.
  double bound = kEmptyBoxBound;
  for (int k = first - 1; k <= last; ++k) {
    const double dx = px[k] - P[0], dy = py[k] - P[1], dz = pz[k] - P[2];
    const double d2 = dx * dx + dy * dy + dz * dz;
    bound = d2 < bound ? d2 : bound;
  }
  for (int k = first; k <= last; ++k) {
    const double a[3] = {px[k - 1], py[k - 1], pz[k - 1]}, b[3] = {px[k], py[k], pz[k]};
    // A division-free lower bound of the segment's squared distance skips the segments that
    // cannot win (with slack for rounding, so the search picks exactly what the segment routine
    // alone would); only the survivors are measured by it.
    const double e[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
    const double pb[3] = {b[0] - P[0], b[1] - P[1], b[2] - P[2]};
    const double den = e[0] * e[0] + e[1] * e[1] + e[2] * e[2];
    const double num = pb[0] * e[0] + pb[1] * e[1] + pb[2] * e[2];
    const double pb2 = pb[0] * pb[0] + pb[1] * pb[1] + pb[2] * pb[2];
    const double cap = nearest < bound ? nearest : bound;
    const double reach = cap + 1e-9 * cap + 1e-12 * pb2;
    bool candidate;
    if (num <= 0.0 || den == 0.0) {
      candidate = pb2 <= reach || den < 3e-20;
    } else if (num >= den) {
      const double pa[3] = {a[0] - P[0], a[1] - P[1], a[2] - P[2]};
      candidate = pa[0] * pa[0] + pa[1] * pa[1] + pa[2] * pa[2] <= reach + 1e-12 * pb2;
    } else {
      candidate = (pb2 - reach) * den <= num * num;
    }
    if (!candidate) continue;
    double foot[3], d2, w;
    LineSegPntMinSqDistParam(P, a, b, foot, &d2, &w);
    if (d2 < nearest) {  // ties keep the earlier segment
      nearest = d2;
      *t = w * s[k - 1] + (1.0 - w) * s[k];
      if (closestPoint) Copy3(foot, closestPoint);
    }
  }
  *best = nearest;
}

// EstimateClosestPntCurve's answer on an open 3D curve without sampling all of it. Span i
// lies in the convex hull, so in the box, of its p + 1 control points (the weights positive),
// and so do its polyline vertices and segments: no segment of span i comes nearer to P than box
// i. The span whose box comes nearest is searched first; only spans whose box comes within the
// distance found there can hold the estimate, and they are sampled at the estimator's
// parameters and searched in order, so the answer is the estimator's. The samples are one
// block, freed on return. 1 done; 0 for a curve this does not cover (closed, not 3D, weights
// not positive, not sound), the estimator's whole polyline then being needed; -2 on failure.
int EstimateFromNearSpans(Bspline* curve, const double P[3], double* t) {
  if (!BsplineSound(curve) || curve->kind != 1 || curve->dimension != 3 || curve->closedU) return 0;
  const int p = curve->degreeU, spans = curve->interiorU + 1, n = ClosestSamplesPerSpan(curve);
  const double *X = curve->X[0], *Y = curve->Y[0], *Z = curve->Z[0], *U = curve->knotsU;
  if (curve->rational)
    for (int i = 0; i < NumCtrlU(curve); ++i)
      if (!(curve->W[0][i] > 0.0)) return 0;
  // Boxes grown by 1e-9 of the control points' extent, for the rounding of evaluated points.
  double lo[3] = {X[0], Y[0], Z[0]}, hi[3] = {X[0], Y[0], Z[0]};
  for (int i = 0; i < NumCtrlU(curve); ++i) {
    const double c[3] = {X[i], Y[i], Z[i]};
    for (int k = 0; k < 3; ++k) lo[k] = std::fmin(lo[k], c[k]), hi[k] = std::fmax(hi[k], c[k]);
  }
  const double grow = 1e-9 * (std::fabs(hi[0] - lo[0]) + std::fabs(hi[1] - lo[1]) + std::fabs(hi[2] - lo[2]));
  // Squared distance from P to box i.
  auto boxGap = [&](int i) {
    double b0[3] = {X[i], Y[i], Z[i]}, b1[3] = {X[i], Y[i], Z[i]};
    for (int j = i + 1; j <= i + p; ++j) {
      const double c[3] = {X[j], Y[j], Z[j]};
      for (int k = 0; k < 3; ++k) b0[k] = std::fmin(b0[k], c[k]), b1[k] = std::fmax(b1[k], c[k]);
    }
    double gap2 = 0.0;
    for (int k = 0; k < 3; ++k) {
      const double gap = std::fmax(0.0, std::fmax(b0[k] - grow - P[k], P[k] - b1[k] - grow));
      gap2 += gap * gap;
    }
    return gap2;
  };
  TrackingScope scope;
  const int most = spans * (n - 1) + 1;
  double* block = MallocArray<double>(4 + spans, most);
  if (!block || KernelFailed()) return -2;
  double *ts = block, *x = ts + most, *y = x + most, *z = y + most, *gaps = z + most;
  int first = 0;
  for (int i = 0; i < spans; ++i) {
    gaps[i] = boxGap(i);
    if (gaps[i] < gaps[first]) first = i;
  }
  // Samples of spans i0 .. i1 - 1 into ts, x, y, z; their count.
  auto sample = [&](int i0, int i1) {
    int count = 0;
    for (int i = i0; i < i1; ++i) {
      const double a = U[p + i], b = U[p + i + 1];
      ts[count++] = a;
      for (int j = 1; j < n - 1; ++j) ts[count++] = a + j * (b - a) / (n - 1);
    }
    ts[count++] = U[p + i1];
    EvalNpntsOnObj(curve, 0, 0, ts, nullptr, count, x, y, z);
    return count;
  };
  double reach = kEmptyBoxBound;
  NearestPolylineSegment(ts, x, y, z, 1, sample(first, first + 1) - 1, P, &reach, t, nullptr);
  if (KernelFailed()) return -2;
  *t = 0.5 * (curve->umin + curve->umax);
  double best = kEmptyBoxBound;
  // Runs of consecutive spans that can hold the estimate, each one polyline.
  for (int i = 0; i < spans;) {
    if (gaps[i] > reach) {
      ++i;
      continue;
    }
    const int i0 = i;
    while (i < spans && gaps[i] <= reach) ++i;
    NearestPolylineSegment(ts, x, y, z, 1, sample(i0, i) - 1, P, &best, t, nullptr);
    if (KernelFailed()) return -2;
  }
  return 1;
}

}  // namespace

int EstimateClosestPntCurve(Bspline* curve, const double P[3], double** params, int* count,
                            double** x, double** y, double** z, double* closestPoint, double* t,
                            int closed) {
  if (!*params) {
    const bool pointsGiven = *x != nullptr;
    TrackingScope scope;
    int m = 0;
    double* s = ClosestSampleParams(curve, closed, &m);
    double *px = *x, *py = *y, *pz = *z;
    if (s && !pointsGiven) {
      px = MallocArray<double>(m);
      py = MallocArray<double>(m);
      pz = MallocArray<double>(m);
    }
    if (!s || !px || !py || !pz || KernelFailed()) {
      Free(s);
      *params = nullptr;
      if (!pointsGiven) *x = *y = *z = nullptr;
      return -2;
    }
    scope.keep();
    if (!pointsGiven) EvalNpntsOnObj(curve, 0, 0, s, nullptr, m, px, py, pz);
    *params = s;
    *count = m;
    *x = px;
    *y = py;
    *z = pz;
  }
  const int m = *count;
  *t = 0.5 * (curve->umin + curve->umax);
  double best = kEmptyBoxBound;
  // A closed curve never matches the two segments at its seam.
  NearestPolylineSegment(*params, *x, *y, *z, closed ? 2 : 1, closed ? m - 2 : m - 1, P, &best, t,
                         closestPoint);
  return 0;
}

namespace {

// How the polygon points of a curve are taken: in 3D (a curve on a surface through its owner),
// or a 2D curve in its parameter plane as (u, v, 0).
enum class PolygonSpace { Model, ParamPlane };

// Points of the curve at the parameters, interleaved, into a new array of the current scope.
double* PolygonPoints(Bspline* curve, const double* t, int n, PolygonSpace space) {
  double* pts = MallocArray<double>(3, n);
  if (!pts) return nullptr;
  for (int i = 0; i < n; ++i) {
    double* q = pts + 3 * i;
    if (space == PolygonSpace::ParamPlane) {
      Eval2DPointOnCurve2Array(nullptr, curve, t[i], 0, q);
      q[2] = 0.0;
    } else {
      q[0] = q[1] = q[2] = 0.0;
      EvalNpntsOnObj(curve, 0, 0, t + i, nullptr, 1, q, q + 1, q + 2);
    }
  }
  return pts;
}

// The one search of the polygon estimators: the closest pair of segments of two polylines
// whose vertices carry the parameters g1, g2; t1, t2 start at the first vertices.
void ClosestSegmentPair(const double* p1, const double* g1, int n1, const double* p2,
                        const double* g2, int n2, double* t1, double* t2) {
  *t1 = g1[0];
  *t2 = g2[0];
  double best = kEmptyBoxBound;
  for (int i = 0; i + 1 < n1; ++i) {
    for (int j = 0; j + 1 < n2; ++j) {
      double d2, a, b;
      // Near-parallel segment pairs report failure and are skipped.
      if (LineSegsMinDistsq(p1 + 3 * i, p1 + 3 * i + 3, p2 + 3 * j, p2 + 3 * j + 3, &d2, &a, &b) != 0)
        continue;
      if (d2 < best) {
        best = d2;
        *t1 = (1.0 - a) * g1[i] + a * g1[i + 1];
        *t2 = (1.0 - b) * g2[j] + b * g2[j + 1];
      }
    }
  }
}

// The estimate over the polylines through the points at the Greville parameters, which follow
// the curves far closer than the control polygons.
int GrevillePolygonEstimate(Bspline* crv1, Bspline* crv2, PolygonSpace space, double* t1, double* t2) {
  if (!RecordsSound({crv1, crv2}) || crv1->kind != 1 || crv2->kind != 1) return -2;
  TrackingScope scope;
  double* g1 = ObjectGrevilleParams(crv1, 0);
  double* g2 = ObjectGrevilleParams(crv2, 0);
  if (!g1 || !g2 || KernelFailed()) return -2;
  const int n1 = NumCtrlU(crv1), n2 = NumCtrlU(crv2);
  double* p1 = PolygonPoints(crv1, g1, n1, space);
  double* p2 = PolygonPoints(crv2, g2, n2, space);
  if (!p1 || !p2 || KernelFailed()) return -2;
  ClosestSegmentPair(p1, g1, n1, p2, g2, n2, t1, t2);
  return 0;
}

}  // namespace

int FindClosestCPT3paramValue(Bspline* crv1, Bspline* crv2, double* t1, double* t2) {
  return GrevillePolygonEstimate(crv1, crv2, PolygonSpace::Model, t1, t2);
}

int FindClosestCPTparamValue(Bspline* crv1, Bspline* crv2, double* t1, double* t2) {
  return GrevillePolygonEstimate(crv1, crv2, PolygonSpace::Model, t1, t2);
}

int FindClosestCPTparamValueCurve2(Bspline* crv1, Bspline* crv2, double* t1, double* t2) {
  return GrevillePolygonEstimate(crv1, crv2, PolygonSpace::ParamPlane, t1, t2);
}

int FindClosestCPTparamValueCurves(Bspline* crv1, Bspline* crv2, double* t1, double* t2) {
  return GrevillePolygonEstimate(crv1, crv2, PolygonSpace::Model, t1, t2);
}

int FindClosestEstParamValueCurveOnSurf(Bspline* crv1, Bspline* crv2, double* t1, double* t2) {
  if (!RecordsSound({crv1, crv2}) || crv1->kind != 1 || crv2->kind != 1) return -2;
  // Dense enough that every sample interval is close to straight on the composed map.
  int srfDegree = 0;
  if (const Bspline* srf = crv1->owner) srfDegree = srf->degreeU > srf->degreeV ? srf->degreeU : srf->degreeV;
  auto perSpan = [srfDegree](const Bspline* c) { return 1 + (c->degreeU > srfDegree ? c->degreeU : srfDegree); };
  TrackingScope scope;
  int n1 = 0, n2 = 0;
  KeptArray s1(SampleCurvePlateProper(crv1, perSpan(crv1), &n1));
  KeptArray s2(SampleCurvePlateProper(crv2, perSpan(crv2), &n2));
  if (!s1 || !s2 || KernelFailed()) return -2;
  double* p1 = PolygonPoints(crv1, s1.get(), n1, PolygonSpace::Model);
  double* p2 = PolygonPoints(crv2, s2.get(), n2, PolygonSpace::Model);
  if (!p1 || !p2 || KernelFailed()) return -2;
  ClosestSegmentPair(p1, s1.get(), n1, p2, s2.get(), n2, t1, t2);
  return 0;
}

CurveSampleCache::~CurveSampleCache() {
  Free(t);
  Free(x);
  Free(y);
  Free(z);
}

int CurveSampleCache::Estimate(Bspline* curve, const double P[3], double* par, double* polylinePoint) {
  return EstimateClosestPntCurve(curve, P, &t, &n, &x, &y, &z, polylinePoint, par, curve->closedU);
}

void ClosestParamsOnCurveOrIso(const double (*points)[3], int count, Bspline* obj, double isoValue,
                               int alongV, double* params, double (*closest)[3], double** cacheX,
                               double** cacheY, double** cacheZ) {
  Owned<Bspline, FreeBspline> iso;
  Bspline* crv = obj;
  if (obj->kind == 2) {
    // One iso curve per call, not per point.
    iso.reset(alongV ? IsoCurve3(obj, isoValue, obj->vmin, 1)
                     : IsoCurve3(obj, obj->umin, isoValue, 0));
    if (!iso) return;
    crv = iso.get();
  }
  const double lo = crv->knotsU[0], hi = crv->knotsU[NumKnotsU(crv) - 1];
  double *t = nullptr, *x = nullptr, *y = nullptr, *z = nullptr;
  if (cacheX && *cacheX) {
    x = *cacheX;
    y = *cacheY;
    z = *cacheZ;
  }
  int n = 0;
  for (int i = 0; i < count; ++i) {
    // C starts at the polyline point, should the refiner refuse the curve.
    double par, C[3], distSq, stepSq;
    if (EstimateClosestPntCurve(crv, points[i], &t, &n, &x, &y, &z, C, &par, crv->closedU) != 0) break;
    if (crv->dimension == 2)
      FindClosestPointCurveOnSurf(crv, points[i], C, lo, hi, &par, &distSq, &stepSq, 12);
    else
      FindClosestPointCurve3(crv, points[i], C, lo, hi, &par, &distSq, &stepSq, 12);
    params[i] = par;
    if (closest)
      for (int k = 0; k < 3; ++k) closest[i][k] = C[k];
  }
  Free(t);
  if (cacheX) {
    *cacheX = x;
    *cacheY = y;
    *cacheZ = z;
  } else {
    Free(x);
    Free(y);
    Free(z);
  }
}

int GetPointParOnCurve3(Bspline* curve, float x, float y, float z, double* t) {
  if (!RecordShapesSound({curve}) || curve->kind != 1) return 0;
  const double P[3] = {x, y, z};
  if (!AllFinite(P, 3)) return 0;
  // A sample estimate may start in the wrong winding of a spiral, or on the wrong side of a
  // centre of curvature, where another stretch is nearly as near: a sound 3D curve is searched
  // for its global minimum instead.
  if (curve && curve->kind == 1 && curve->dimension == 3 && BsplineSound(curve) && AllFinite(P, 3)) {
    double C[3];
    return GlobalClosestOnCurve(curve, P, t, C) == 0 && !KernelFailed() ? 1 : 0;
  }
  const int near = EstimateFromNearSpans(curve, P, t);
  if (near < 0) return 0;
  if (near == 0) {
    CurveSampleCache cache;
    if (cache.Estimate(curve, P, t) != 0) return 0;
  }
  double C[3], distSq, stepSq;
  FindClosestPointCurve3(curve, P, C, curve->umin, curve->umax, t, &distSq, &stepSq, 7);
  return KernelFailed() ? 0 : 1;
}

int GetClosestPointOnCrvToCrvPar(Bspline* crvA, Bspline* crvB, const double xfA[16],
                                 const double xfB[16], double tA, double* tB, double point[3]) {
  double invB[16], C[16];
  if (mat_inverse4(xfB, invB) != 0) return -2;
  Get_catmat(xfA, invB, C);
  double P[3];
  Eval3DPointOnBsplOnSurfArray(nullptr, crvA, tA, 0, 0, P);
  if (not_identity_xform(C)) Vec1Trans3(P, C);
  CurveSampleCache cache;
  double t, foot[3], distSq, stepSq;
  // The foot starts at the polyline point, should the refiner refuse the curve.
  if (cache.Estimate(crvB, P, &t, foot) != 0) return -2;
  // The refiner is chosen by the curve it runs on.
  if (crvB->dimension == 2) {
    FindClosestPointCurveOnSurf(crvB, P, foot, crvB->umin, crvB->umax, &t, &distSq, &stepSq, 7);
    *tB = t;
    Eval2DPointOnCurve2Array(nullptr, crvB, t, 0, point);
    point[2] = 0.0;
  } else if (crvB->dimension == 3) {
    FindClosestPointCurve3(crvB, P, foot, crvB->umin, crvB->umax, &t, &distSq, &stepSq, 7);
    *tB = t;
    if (not_identity_xform(xfB)) Vec1Trans3(foot, xfB);
    Copy3(foot, point);
  }
  return 0;
}

Bspline* GetClosestSurfaceIsoPar(const double P[3], Bspline* srf, int b, int snap,
                                 double frame[16], double inverse[16]) {
  if (!srf || srf->kind != 2) return nullptr;
  // Boundaries 0 and 2 run along v, 1 and 3 along u.
  const int alongV = b == 0 || b == 2;
  // Stays NaN when the search finds no parameter (no iso curve of an incomplete surface): the
  // snapping below must not read an unset value.
  double par = std::numeric_limits<double>::quiet_NaN();
  ClosestParamsOnCurveOrIso(reinterpret_cast<const double(*)[3]>(P), 1, srf, BoundaryParam(srf, b),
                            alongV, &par, nullptr, nullptr, nullptr, nullptr);
  if (KernelFailed() || std::isnan(par)) return nullptr;
  if (snap == 0) {
    int atEnd;
    par = GetClosestKnotPoint(srf, par, alongV, 1, &atEnd);
  } else if (snap == 2) {
    const double lo = alongV ? srf->vmin : srf->umin, hi = alongV ? srf->vmax : srf->umax;
    par = par - lo > hi - par ? hi : lo;
  }
  // Across the surface through the parameter, starting on boundary b.
  Bspline* iso = alongV ? IsoCurve3(srf, srf->umin, par, 0) : IsoCurve3(srf, par, srf->vmin, 1);
  if (!iso) return nullptr;
  if (b == 1 || b == 2) reverseBspline(iso);
  const double P0[3] = {iso->X[0][0], iso->Y[0][0], iso->Z[0][0]};
  double *gx = nullptr, *gy = nullptr, *gz = nullptr, q[3], u, v;
  const int r = SurfaceGridClosest(srf, P0, &gx, &gy, &gz, q, &u, &v, 0);
  Free(gx);
  Free(gy);
  Free(gz);
  if (r != 0) {
    FreeBspline(iso);
    return nullptr;
  }
  double N[1][3];
  SurfaceNormalsAt(srf, &u, &v, N, 1);
  VecNormalize3(N[0], N[0]);
  const double P1[3] = {P0[0] + N[0][0], P0[1] + N[0][1], P0[2] + N[0][2]};
  TransformToZAxis(P0, P1, frame);
  mat_inverse4(frame, inverse);
  return iso;
}

// ---- lengths and arc-length samples ----------------------------------------------------------
namespace {

// The interval of the length operations, clamped into the domain; an interval lying beyond one
// end comes out empty (b == a) rather than reversed.
void LengthInterval(const Bspline* curve, double t1, double t2, double* a, double* b) {
  const double tmin = curve->knotsU[curve->degreeU];
  const double tmax = curve->knotsU[curve->degreeU + curve->interiorU + 1];
  *a = std::fmax(std::fmin(t1, t2), tmin);
  *b = std::fmin(std::fmax(t1, t2), tmax);
  if (*b < *a) *b = *a;
}

bool MeasurableCurve(const Bspline* curve) {
  return curve && curve->kind == 1 && (curve->dimension == 3 || (curve->dimension == 2 && curve->owner));
}

}  // namespace

double GetPartCurveLength(Bspline* curve, double t1, double t2, int n) {
  if (n < 1 || !RecordsSound({curve}) || curve->kind != 1) return -1.0;
  if (curve->dimension == 2 && !curve->owner) return -1.0;
  double a, b;
  LengthInterval(curve, t1, t2, &a, &b);
  if (b == a || !MeasurableCurve(curve)) return 0.0;
  double prev[3], P[3], length = 0.0;
  Eval3DPointOnBsplOnSurfArray(nullptr, curve, a, 0, 0, prev);
  for (int i = 1; i <= n; ++i) {
    Eval3DPointOnBsplOnSurfArray(nullptr, curve, a + i * (b - a) / n, 0, 0, P);
    length += VecDist3(prev, P);
    Copy3(P, prev);
  }
  return length;
}

double GetPartCurveLengthAndParams(Bspline* curve, double t1, double t2, int n, double* x,
                                   double* y, double* z, double* t, double* s) {
  if (n < 1 || !RecordsSound({curve}) || curve->kind != 1) return -1.0;
  if (curve->dimension == 2 && !curve->owner) return -1.0;
  double a, b;
  LengthInterval(curve, t1, t2, &a, &b);
  if (b == a || !MeasurableCurve(curve)) return 0.0;
  double length = 0.0;
  for (int i = 0; i <= n; ++i) {
    t[i] = i == n ? b : a + i * (b - a) / n;
    double P[3];
    Eval3DPointOnBsplOnSurfArray(nullptr, curve, t[i], 0, 0, P);
    if (i > 0) {
      const double prev[3] = {x[i - 1], y[i - 1], z[i - 1]};
      length += VecDist3(prev, P);
    }
    x[i] = P[0];
    y[i] = P[1];
    z[i] = P[2];
    s[i] = length;
  }
  return length;
}

int UnifArcSampleCurve(Bspline* curve, double t1, double t2, double h, int n, int deriv,
                       double** x, double** y, double** z, int* count) {
  if (deriv != 0 && deriv != 1) return 0;
  if (!RecordsSound({curve}) || curve->kind != 1) return 0;
  if (h != 0.0 && !(h > 1e-10)) return 0;
  if (!MeasurableCurve(curve)) return 0;
  if (h == 0.0 && n < 1) return 0;
  *count = 0;
  TrackingScope scope;
  double a, b;
  LengthInterval(curve, t1, t2, &a, &b);
  auto eval = [curve](double t, int d, double out[3]) {
    Eval3DPointOnBsplOnSurfArray(nullptr, curve, t, d, 0, out);
  };
  auto single = [&]() {
    double* ox = MallocArray<double>(1);
    double* oy = MallocArray<double>(1);
    double* oz = MallocArray<double>(1);
    if (!ox || !oy || !oz || KernelFailed()) return 0;
    double P[3];
    eval(a, deriv, P);
    *ox = P[0];
    *oy = P[1];
    *oz = P[2];
    scope.keep();
    *x = ox;
    *y = oy;
    *z = oz;
    *count = 1;
    return 1;
  };
  if (b == a) return single();

  // The fine polyline: points, parameters and running lengths.
  int M = h == 0.0 ? (4 * n + 1 > 1001 ? 4 * n + 1 : 1001) : 1001;
  if (h == 0.0 && n > (INT_MAX - 1) / 4) return 0;
  double *fx = nullptr, *fy = nullptr, *fz = nullptr, *ft = nullptr, *fs = nullptr;
  auto fine = [&]() {
    for (double* f : {fx, fy, fz, ft, fs}) Free(f);
    fx = MallocArray<double>(M);
    fy = MallocArray<double>(M);
    fz = MallocArray<double>(M);
    ft = MallocArray<double>(M);
    fs = MallocArray<double>(M);
    if (!fx || !fy || !fz || !ft || !fs || KernelFailed()) return -1.0;
    return GetPartCurveLengthAndParams(curve, a, b, M - 1, fx, fy, fz, ft, fs);
  };
  double L = fine();
  if (KernelFailed()) return 0;
  if (!(L > 0.0)) {
    for (double* f : {fx, fy, fz, ft, fs}) Free(f);
    return single();
  }
  if (h > 0.0) {
    if (L / h > double(INT_MAX / 8)) {
      SetOutOfMemory();
      return 0;
    }
    n = int(L / h) > 1 ? int(L / h) : 1;
    if (4 * n > M) {
      M = 4 * n + 1;
      L = fine();
      if (KernelFailed()) return 0;
      n = int(L / h) > 1 ? int(L / h) : 1;
    }
    if (std::fabs(L / (n + 1) - h) < std::fabs(L / n - h)) ++n;
  }
  for (int i = 0; i < M; ++i) fs[i] = L - fs[i];  // remaining length to b
  double* ox = MallocArray<double>(n + 1);
  double* oy = MallocArray<double>(n + 1);
  double* oz = MallocArray<double>(n + 1);
  if (!ox || !oy || !oz || KernelFailed()) return 0;
  auto store = [&](int k, double t, const double P[3]) {
    double D[3];
    if (deriv) eval(t, 1, D);
    const double* out = deriv ? D : P;
    ox[k] = out[0];
    oy[k] = out[1];
    oz[k] = out[2];
  };
  auto finePoint = [&](int j, double out[3]) {
    out[0] = fx[j];
    out[1] = fy[j];
    out[2] = fz[j];
  };
  double P[3];
  eval(a, 0, P);
  store(0, a, P);
  const double tol = std::fmin(0.01 * L / n, 1e-10);
  // R: remaining length from the last sample to b; it lies c before fine point jLast.
  double R = L, c = 0.0;
  int j = 0, jLast = 0;
  for (int k = 1; k < n; ++k) {
    const double step = R / (n - k + 1), target = R - step;
    while (j + 2 < M && fs[j + 1] > target) ++j;
    while (j > 0 && fs[j] < target) --j;
    double d = step - (c + fs[jLast] - fs[j]);
    // Never step below the first fine point.
    while (d < 0.0 && j > 0) {
      --j;
      d = step - (c + fs[jLast] - fs[j]);
    }
    const double den = fs[j] - fs[j + 1], slope = den > 0.0 ? (ft[j + 1] - ft[j]) / den : 0.0;
    double t = ft[j] + d * slope, lo = ft[j], hi = ft[j + 1];
    eval(t, 0, P);
    if (!(std::fabs(d) < tol)) {
      double Pj[3];
      finePoint(j, Pj);
      for (int it = 0; it < 6; ++it) {
        const double r = d - VecDist3(P, Pj);
        double tn = t + r * slope;
        if (d > 0.0) {
          lo = t;
          if (tn > hi) tn = 0.5 * (hi + t);
        } else {
          hi = t;
          if (tn < lo) tn = 0.5 * (lo + t);
        }
        t = tn;
        eval(t, 0, P);
      }
    }
    store(k, t, P);
    while (j > 0 && ft[j - 1] > t) --j;
    while (j + 1 < M && ft[j] <= t) ++j;
    double Fj[3];
    finePoint(j, Fj);
    c = VecDist3(P, Fj);
    R = c + fs[j];
    jLast = j;
  }
  eval(b, 0, P);
  store(n, b, P);
  for (double* f : {fx, fy, fz, ft, fs}) Free(f);
  scope.keep();
  *x = ox;
  *y = oy;
  *z = oz;
  *count = n + 1;
  return 1;
}

double CurveOnSurfaceLength(Bspline* crv) {
  if (!RecordsSound({crv})) return -2.0;
  // A curve on no surface has no 3D image to measure.
  if (crv->kind != 1 || (crv->dimension == 2 && !crv->owner)) return -2.0;
  TrackingScope scope;
  int count = 0;
  Owned<double, Free> t(SampleCurvePlateProper(crv, 2, &count));
  double* x = t ? MallocArray<double>(3, count) : nullptr;
  if (!x || KernelFailed()) return -2.0;
  double* y = x + count;
  double* z = y + count;
  EvalNpntsOnObj(crv, 0, 0, t.get(), nullptr, count, x, y, z);
  double length = 0.0;
  for (int i = 1; i < count; ++i) {
    const double a[3] = {x[i - 1], y[i - 1], z[i - 1]}, b[3] = {x[i], y[i], z[i]};
    length += VecDist3(a, b);
  }
  return length;
}

double ControlPolygonSpan(Bspline* obj, int dir, int curveOnSurf3D) {
  if (obj->dimension != 3 && curveOnSurf3D) return CurveOnSurfaceLength(obj);
  return ControlNetSpan(obj, dir);
}

int GetBndryForBndryCrv(const Bspline* crv, const Bspline* srf) {
  if (!crv || !srf || crv->kind != 1 || crv->dimension != 2 || crv->owner != srf) return -1;
  const double tu = 1e-6 * (srf->umax - srf->umin), tv = 1e-6 * (srf->vmax - srf->vmin);
  auto nearU = [&](double u, double at) { return std::fabs(u - at) <= tu; };
  auto nearV = [&](double v, double at) { return std::fabs(v - at) <= tv; };
  const int last = crv->degreeU + crv->interiorU;
  const double* u = crv->X[0];
  const double* v = crv->Y[0];
  for (int i = 0; i <= last; ++i)
    if (!nearU(u[i], srf->umin) && !nearU(u[i], srf->umax) && !nearV(v[i], srf->vmin) &&
        !nearV(v[i], srf->vmax))
      return -1;
  if (std::fabs(u[0] - u[last]) >= std::fabs(v[0] - v[last])) {
    if (nearV(v[0], srf->vmin) && nearV(v[last], srf->vmin)) return 3;
    if (nearV(v[0], srf->vmax) && nearV(v[last], srf->vmax)) return 1;
    return -1;
  }
  if (nearU(u[0], srf->umin) && nearU(u[last], srf->umin)) return 0;
  if (nearU(u[0], srf->umax) && nearU(u[last], srf->umax)) return 2;
  return -1;
}

namespace {

// The node of crv in the first loop of its owner that holds it, with that loop and the node
// before it (null for the loop's first node).
BsplineList* TrimNodeOf(Bspline* crv, TrimList** loop, BsplineList** prev) {
  *loop = crv && crv->owner ? FindTrimCurve(crv, crv->owner) : nullptr;
  *prev = nullptr;
  for (BsplineList* n = *loop ? (*loop)->loopCurves : nullptr; n; *prev = n, n = n->next)
    if (n->item == crv) return n;
  return nullptr;
}

BsplineList* NodeHolding(Bspline* c) {
  UntrackedScope owned;
  BsplineList* n = MallocNullBsplineList();
  if (!n || KernelFailed()) return nullptr;
  n->item = c;
  return n;
}

// One new node holding newCrv in the place of crv's node and, with `withNext`, of the node
// after it (cyclically: a loop of one or two becomes the new node alone). Old nodes are freed.
void ReplaceInLoop(Bspline* crv, Bspline* newCrv, bool withNext) {
  TrimList* loop;
  BsplineList* prev;
  BsplineList* node = TrimNodeOf(crv, &loop, &prev);
  if (!node) return;
  BsplineList* fresh = NodeHolding(newCrv);
  if (!fresh) return;
  fresh->next = node->next;
  if (withNext && node->next) {
    BsplineList* succ = node->next;
    fresh->next = succ->next;
    Free(succ);
  } else if (withNext) {
    BsplineList* first = loop->loopCurves;
    if (first == node || first->next == node) {
      if (first != node) Free(first);
      Free(node);
      loop->loopCurves = fresh;
      return;
    }
    loop->loopCurves = first->next;  // the cyclic successor goes
    Free(first);
  }
  (prev ? prev->next : loop->loopCurves) = fresh;
  Free(node);
}

}  // namespace

int ReplaceCurveWithCurveInTrimList(Bspline* crv, Bspline* newCrv) {
  ReplaceInLoop(crv, newCrv, false);
  return 0;
}

int ReplaceCurvesInTrimList(Bspline* crv, int, Bspline* newCrv) {
  ReplaceInLoop(crv, newCrv, true);
  return 0;
}

int CheckIfPickedCurvesTrimNeighbors(Bspline* c1, Bspline* c2) {
  if (!IsInTrimLoop(c1) && !IsInTrimLoop(c2)) return 1;
  TrimList* loop;
  BsplineList* prev;
  if (!TrimNodeOf(c1, &loop, &prev)) return 0;
  if (FindNextCurveInTrim(c1, nullptr) == c2) return 1;
  if (FindPrevCurveInTrim(c1, nullptr) == c2) {
    ReverseTrimLoop(loop);
    return 1;
  }
  return 0;
}

int SnipCurveAtIntersectionCore(Bspline** curves, int n, Bspline** pieces) {
  if (!curves || n < 2) return 0;
  Bspline* cutter = curves[n - 1];
  int out = 0;
  for (int i = 0; i + 1 < n; ++i) {
    Bspline* c = curves[i];
    const double t0 = c->knotsU[c->degreeU], t1 = c->knotsU[c->degreeU + c->interiorU + 1];
    double t = t0, tk = 0.0;
    Intersect2Curves(c, cutter, &t, &tk);
    if (KernelFailed()) return -2;
    const double tol = 1e-6 * (t1 - t0);
    if (std::fabs(t - t0) <= tol || std::fabs(t - t1) <= tol) return -2;
    Bspline* sub[2] = {nullptr, nullptr};
    SubCurveBspline(c, t0, t, &sub[0]);
    SubCurveBspline(c, t, t1, &sub[1]);
    if (KernelFailed() || !sub[0] || !sub[1]) {
      FreeBspline(sub[0]);
      FreeBspline(sub[1]);
      return -2;
    }
    if (c->dimension == 2 && c->owner)
      for (Bspline* p : sub) PutBsplToSurfCrvList(p, c->owner);
    if (KernelFailed() || ReplaceInTrimLoop(c, 2, sub) != 0) return -2;
    for (Bspline* p : sub) pieces[out++] = p;
  }
  for (int i = 0; i + 1 < n; ++i) FreeBspline(curves[i]);
  return 0;
}

// ---- transforms and conversions ------------------------------------------------------------

int ReparametrizeRationalCurve(Bspline* curve) {
  if (!curve || curve->kind == 2 || !curve->rational || !curve->W) return 0;
  if (!RecordShapesSound({curve})) return -2;
  const int n = NumCtrlU(curve);
  if (n < 2) return 0;
  double* w = curve->W[0];
  for (int i = 0; i < n; ++i)
    if (!(w[i] > 0.0) || !std::isfinite(w[i])) return -2;
  const double c = std::pow(w[0] / w[n - 1], 1.0 / (n - 1));
  double ci = 1.0;
  for (int i = 0; i < n; ++i, ci *= c) w[i] *= ci;
  const double first = w[0];
  for (int i = 0; i < n; ++i) w[i] /= first;
  w[n - 1] = 1.0;  // c^(n-1) w_(n-1) = w_0 up to round-off: the end weight is 1 by design
  return 0;
}

void XformCurve3Bspline(Bspline* curve, const Xform M) {
  if (!curve || curve->dimension != 3 || !curve->X || !curve->Y || !curve->Z) return;
  Transform3DArrays(curve->X[0], curve->Y[0], curve->Z[0], NumCtrlU(curve), M);
  double* q = curve->quadric ? curve->quadric->v : nullptr;
  if (!q) return;
  if (curve->quadricType == 1) {
    Vec1Trans3(q, M);
    Vec1Trans3(q + 3, M);
  } else if (curve->quadricType == 2 || curve->quadricType == 3) {
    Vec1Trans3(q, M);
    Vec1Rot3(q + 3, M);
  }
}

// Scale factors that agree in magnitude to this fraction of it are one uniform scale.
constexpr double kUniformScale = 1e-6;

int ScaleCurveQuadricInfo(Bspline* curve, double sx, double sy, double sz, const Xform F) {
  if (!curve || !curve->quadric || curve->quadricType == 0) return -2;
  const bool inFrame = not_identity_xform(F);
  Xform Finv;
  if (inFrame && mat_inverse4(F, Finv) != 0) return -2;
  const double s[3] = {sx, sy, sz};
  auto scale = [&](double* p) {
    if (inFrame) Vec1Trans3(p, F);
    for (int k = 0; k < 3; ++k) p[k] *= s[k];
    if (inFrame) Vec1Trans3(p, Finv);
  };
  double* q = curve->quadric->v;
  switch (curve->quadricType) {
    case 1:
      scale(q);
      scale(q + 3);
      break;
    case 2:
    case 3:
      // A circle stays a circle only under a uniform scale; a mirror keeps it one too.
      if (std::fabs(std::fabs(sx) - std::fabs(sy)) < kUniformScale * std::fabs(sx) &&
          std::fabs(std::fabs(sy) - std::fabs(sz)) < kUniformScale * std::fabs(sx)) {
        scale(q);
        q[6] *= std::fabs(sx);
      } else {
        FreeBsplineProperties(curve);
        curve->quadricType = 0;
      }
      break;
    default:
      break;
  }
  return 0;
}

namespace {

// The interpolators merge points closer than a fixed distance: points are moved to the first one
// and scaled to unit extent before they are interpolated, and back receives the transform that
// takes the curve back to the caller's units (B-splines follow affine maps exactly).
template <class T>
void ToUnitSize(T* x, T* y, T* z, int n, Xform back) {
  T* c[3] = {x, y, z};
  double o[3] = {double(x[0]), double(y[0]), double(z[0])}, unit = 0.0;
  for (int k = 0; k < 3; ++k) {
    double lo = o[k], hi = o[k];
    for (int i = 0; i < n; ++i) lo = std::min(lo, double(c[k][i])), hi = std::max(hi, double(c[k][i]));
    unit = std::max(unit, hi - lo);
  }
  if (!(unit > 0.0) || !std::isfinite(unit)) unit = 1.0;
  for (int k = 0; k < 3; ++k)
    for (int i = 0; i < n; ++i) c[k][i] = static_cast<T>((c[k][i] - o[k]) / unit);
  Get_imat(back);
  for (int k = 0; k < 3; ++k) {
    back[5 * k] = unit;
    back[12 + k] = o[k];
  }
}

// The part of the surface's 3D iso curve that a 2D curve at one u (kind 1) or one v (kind 2)
// covers, or null when the piece cannot be cut.
Bspline* IsoPieceOfCurve2(Bspline* curve, int kind) {
  Bspline* srf = curve->owner;
  Owned<Bspline, FreeBspline> full(
      IsoCurve3(srf, curve->X[0][0], curve->Y[0][0], kind == 1 ? 1 : 0));
  if (!full || KernelFailed()) return nullptr;
  return ExtractIsoparCurve3(srf, curve, full.get());
}

}  // namespace

Bspline* MakeCurve3BsplineFromCurve2(Bspline* curve, double tol, double angTol) {
  if (!curve || curve->kind != 1 || curve->dimension != 2 || !curve->owner) return nullptr;
  TrackingScope scope;
  const int kind = IsoParameterKind(curve, 0);
  if (kind == 1 || kind == 2) {
    Bspline* piece = IsoPieceOfCurve2(curve, kind);
    if (KernelFailed()) {
      FreeBspline(piece);
      return nullptr;
    }
    if (piece) return piece;
  }
  float *x = nullptr, *y = nullptr, *z = nullptr;
  const int n = SampleCurveWithAngTol(curve, angTol, &x, &y, &z);
  Owned<float, Free> ox(x), oy(y), oz(z);
  if (n < 1 || KernelFailed()) return nullptr;
  Xform back;
  ToUnitSize(x, y, z, n, back);
  Owned<Cloud, FreeCloud> cloud(MakeCld(x, y, z, n, nullptr));
  if (!cloud || KernelFailed()) return nullptr;
  bool closed = curve->closedU && n > 1;
  if (closed && n < 4) return nullptr;
  int wrapped = 0;
  if (closed) {
    wrapped = WrapCloudForClosedFit(cloud.get(), 3, -1, nullptr);
    if (KernelFailed()) return nullptr;
  }
  Cloud* c = cloud.get();
  Owned<Bspline, FreeBspline> result(
      InterpolatePoints_f(c->x, c->y, c->z, c->npts - 1, nullptr, 3, 0));
  if (!result || KernelFailed()) return nullptr;
  if (closed && UnwrapClosedFit(result.get(), 3, wrapped) < 0) return nullptr;
  XformCurve3Bspline(result.get(), back);
  Bspline* one = result.get();
  double dev = 0.0;
  RemoveKnotsOfObjSet(&one, 1, 0, 3, nullptr, 0, 0, tol, &dev);
  if (KernelFailed()) return nullptr;
  return result.release();
}

Bspline* Rational2NonRationalCurve3Bspline(Bspline* curve) {
  if (!RecordsSound({curve}) || curve->kind != 1 || curve->dimension != 3 || curve->owner || curve->curves)
    return nullptr;
  TrackingScope scope;
  int n = 0;
  double* t = SampleCurvePlateProper(curve, curve->degreeU + 1, &n);
  KeptArray keptT(t);
  if (!t || n < 1 || KernelFailed()) return nullptr;
  double* xyz = MallocArray<double>(3, n);
  if (!xyz || KernelFailed()) return nullptr;
  EvalNpntsOnObj(curve, 0, 0, t, t, n, xyz, xyz + n, xyz + 2 * n);
  if (KernelFailed()) return nullptr;
  Xform back;
  ToUnitSize(xyz, xyz + n, xyz + 2 * n, n, back);
  Bspline* cubic = InterpolatePoints(xyz, xyz + n, xyz + 2 * n, n - 1, nullptr, 3, 0);
  if (cubic) XformCurve3Bspline(cubic, back);
  return cubic;
}

double GetTolForCurveOnSurf(Bspline* curve) {
  if (!curve || !curve->owner) return 0.01;
  const int n = NumCtrlU(curve);
  double lo[3] = {kEmptyBoxBound, kEmptyBoxBound, kEmptyBoxBound};
  double hi[3] = {-kEmptyBoxBound, -kEmptyBoxBound, -kEmptyBoxBound};
  for (int i = 0; i < n; ++i) {
    double p[3];
    Eval3DPointOnSurfCoord(curve->owner, curve->X[0][i], curve->Y[0][i], 0, 0, p);
    for (int k = 0; k < 3; ++k) {
      lo[k] = std::min(lo[k], p[k]);
      hi[k] = std::max(hi[k], p[k]);
    }
  }
  const double diag = VecDist3(lo, hi);
  return diag > 0.0 && std::isfinite(diag) ? 0.001 / diag : 0.01;
}

// ---- best-fit planes and principal axes ----------------------------------------------------

namespace {

// Parameters at k per knot span over one direction's whole knot vector (v for a surface with
// dir non-zero): a block kept for the caller (Free), its length in *count. 0 or -2.
int SpanSamples(const Bspline* obj, int dir, int k, double** out, int* count) {
  const bool inV = dir && obj->kind == 2;
  const int p = inV ? obj->degreeV : obj->degreeU, m = inV ? obj->interiorV : obj->interiorU;
  return GetNParValsPerSpan(inV ? obj->knotsV : obj->knotsU, m + 2 * (p + 1), k, out, count);
}

// A curve's point in space: a 3D curve directly, a 2D curve through its owner, else (u, v, 0).
void CurveSpacePoint(Bspline* crv, double t, double P[3]) {
  if (crv->dimension == 3) {
    Eval3DPointOnCurve3Array(crv, t, 0, P);
  } else if (crv->owner) {
    Eval3DPointOnBsplOnSurfArray(crv->owner, crv, t, 0, 0, P);
  } else {
    Eval2DPointOnCurve2Array(nullptr, crv, t, 0, P);
    P[2] = 0.0;
  }
}

// The curve's points at 2 degree + 2 samples per span into three blocks of the caller's scope.
int CurvePlaneSamples(Bspline* crv, double** x, double** y, double** z, int* n) {
  double* t = nullptr;
  if (SpanSamples(crv, 0, 2 * crv->degreeU + 2, &t, n) != 0) return -2;
  Owned<double, Free> params(t);
  *x = MallocArray<double>(*n);
  *y = MallocArray<double>(*n);
  *z = MallocArray<double>(*n);
  if (!*x || !*y || !*z || KernelFailed()) return -2;
  for (int i = 0; i < *n; ++i) {
    double P[3];
    CurveSpacePoint(crv, t[i], P);
    (*x)[i] = P[0];
    (*y)[i] = P[1];
    (*z)[i] = P[2];
  }
  return 0;
}

bool IsCurve3(const Bspline* b) { return BsplineSound(b) && b->kind == 1 && b->dimension == 3; }

}  // namespace

Bspline* SimpleRemoveCurveTorsion(Bspline* curve, double* residual) {
  if (!IsCurve3(curve)) return nullptr;
  TrackingScope scope;
  double *x, *y, *z;
  int n = 0;
  if (CurvePlaneSamples(curve, &x, &y, &z, &n) != 0 || n < 2) return nullptr;
  const double P0[3] = {x[0], y[0], z[0]};
  double dir[3] = {x[n - 1] - x[0], y[n - 1] - y[0], z[n - 1] - z[0]};
  // A closed or nearly closed curve has no chord to speak of; its start tangent lies in its
  // plane all the same. Relative to the curve's size so that tiny curves use their chord too.
  if (curve->closedU || VecSize3(dir) < 1e-6 * ControlPointDiagonal(curve))
    Eval3DPointOnCurve3Array(curve, curve->knotsU[curve->degreeU], 1, dir);
  if (NormalizeVector(dir, 3, 1e-300) != 0) return nullptr;
  PlaneEq plane;
  double res = 0.0;
  if (PlaneFitThroughLine(x, y, z, n, nullptr, P0, dir, plane, &res) != 0) return nullptr;
  if (residual) *residual = res;
  Owned<Bspline, FreeBspline> copy(CopyCurveBspline(curve));
  if (!copy || KernelFailed()) return nullptr;
  const int count = curve->interiorU + curve->degreeU + 1;
  for (int i = 0; i < count; ++i) {
    const double p[3] = {copy->X[0][i], copy->Y[0][i], copy->Z[0][i]};
    double foot[3], dist;
    PlaneMinDist(p, plane[0], plane[1], plane[2], plane[3], foot, &dist);
    copy->X[0][i] = foot[0];
    copy->Y[0][i] = foot[1];
    copy->Z[0][i] = foot[2];
  }
  FreeBsplineProperties(copy.get());
  return copy.release();
}

int BsplCrvBestFitPlane(Bspline* curve, double axes[3][3], double* third, double centroid[3]) {
  if (!axes || !RecordsSound({curve}) || curve->kind != 1) return -2;
  TrackingScope scope;
  double *x, *y, *z;
  int n = 0;
  if (CurvePlaneSamples(curve, &x, &y, &z, &n) != 0) return -2;
  double values[3];
  if (PntSetPrincipleAxis_d(x, y, z, n, axes, values, centroid) != 0) return -2;
  if (third) *third = values[2];
  return 0;
}

namespace {

// Principal axes of a surface's grid samples inside its trims, the third axis turned to the
// side its unit normals point to on average.
int SurfacePrincAxis(Bspline* srf, double axes[3][3], double* third, double centroid[3]) {
  TrackingScope scope;
  double* grid[2] = {nullptr, nullptr};
  int count[2] = {0, 0};
  for (int dir = 0; dir < 2; ++dir) {
    int k = 2 * (dir ? srf->degreeV : srf->degreeU) + 2;
    if (k < 6) k = 5;
    if (SpanSamples(srf, dir, k, &grid[dir], &count[dir]) != 0) return -2;
  }
  Owned<double, Free> us(grid[0]), vs(grid[1]);
  TrimPolylines trims;
  if (SampleTrimPolylines(srf, 1.0 / 32767.0, &trims) != 0) return -2;
  double* x = MallocArray<double>(count[0], count[1]);
  double* y = MallocArray<double>(count[0], count[1]);
  double* z = MallocArray<double>(count[0], count[1]);
  if (!x || !y || !z || KernelFailed()) return -2;
  // Partials shorter than 1e-6 of the box per unit parameter count as vanished.
  const double size = ControlPointDiagonal(srf);
  const double tolU = 1e-6 * size / (srf->umax - srf->umin);
  const double tolV = 1e-6 * size / (srf->vmax - srf->vmin);
  // Unit normals summed in blocks of 1000, each block added to the total when full, so that
  // the sum of a fine grid does not drown its last terms in rounding.
  double total[3] = {0, 0, 0}, block[3] = {0, 0, 0};
  int n = 0, normals = 0, inBlock = 0;
  static const int du[3] = {0, 1, 0}, dv[3] = {0, 0, 1};
  for (int j = 0; j < count[1]; ++j)
    for (int i = 0; i < count[0]; ++i) {
      if (!InsideTrimPolylines(&trims, us[i], vs[j])) continue;
      double D[3][3];
      EvalPointOnGeometryM(srf, us[i], vs[j], du, dv, 3, 0, D);
      x[n] = D[0][0];
      y[n] = D[0][1];
      z[n] = D[0][2];
      ++n;
      if (NormalizeVector(D[1], 3, tolU) != 0 || NormalizeVector(D[2], 3, tolV) != 0) continue;
      double N[3];
      VecCrossProd3(D[1], D[2], N);
      if (NormalizeVector(N, 3, 1e-6) != 0) continue;
      for (int c = 0; c < 3; ++c) block[c] += N[c];
      ++normals;
      if (++inBlock == 1000) {
        for (int c = 0; c < 3; ++c) {
          total[c] += block[c];
          block[c] = 0.0;
        }
        inBlock = 0;
      }
    }
  if (n < 3) return -2;
  double values[3];
  if (PntSetPrincipleAxis_d(x, y, z, n, axes, values, centroid) != 0) return -2;
  if (third) *third = values[2];
  double mean[3];
  for (int c = 0; c < 3; ++c) mean[c] = (total[c] + block[c]) / (normals > 0 ? normals : 1);
  // Turning two axes keeps the frame right-handed.
  if (normals >= 2 && VecSize3(mean) >= 1e-6 && VecDotProd3(mean, axes[2]) < 0.0)
    for (int a = 1; a < 3; ++a)
      for (int c = 0; c < 3; ++c) axes[a][c] = -axes[a][c];
  return 0;
}

}  // namespace

int FindObjectPrincAxis(const double* x, const double* y, const double* z, int n, Bspline* obj,
                        double axes[3][3], double* third, double centroid[3]) {
  if (!axes) return -2;
  if (x && y && z && n >= 3) {
    double values[3];
    if (PntSetPrincipleAxis_d(x, y, z, n, axes, values, centroid) != 0) return -2;
    if (third) *third = values[2];
    return 0;
  }
  if (x || y || z || !obj) return -2;
  if (obj->kind == 1) return BsplCrvBestFitPlane(obj, axes, third, centroid);
  if (obj->kind != 2 || obj->dimension != 3) return -2;
  return SurfacePrincAxis(obj, axes, third, centroid);
}

// ---- iso-parameter crossings and polylines -------------------------------------------------

namespace {

// The coordinate of a 2D curve compared with the line: u for d non-zero, else v.
double IsoCoordinate(const Bspline* crv, int d, double t) {
  double uv[2];
  Eval2DPointOnCurve2Array(nullptr, crv, t, 0, uv);
  return d ? uv[0] : uv[1];
}

// Far more false-position steps than a bracket of one fifth of a knot span ever takes; the cap
// only guards against a coordinate that creeps towards c without reaching it.
constexpr int kMaxFalsePositionSteps = 200;

// The crossing is refined to this fraction of the curve's extent in the compared coordinate
// (its control points'), and stops when a step moves the coordinate by less than
// kIsoStallFraction of it: a trim curve in a parameter domain of 1e-6 is refined as one in a
// domain of 1.
constexpr double kIsoFraction = 1e-7;
constexpr double kIsoStallFraction = 1e-10;

double IsoExtent(const Bspline* crv, int d) {
  const double* a = d ? crv->X[0] : crv->Y[0];
  double lo = a[0], hi = a[0];
  for (int i = 1; i < NumCtrlU(crv); ++i) lo = std::min(lo, a[i]), hi = std::max(hi, a[i]);
  return hi - lo;
}

// Refines the crossing of w = c in the bracket [ta, tb] (values wa, wb on either side).
double RefineIsoCrossing(const Bspline* crv, int d, double c, double ta, double tb, double wa,
                         double wb) {
  const double extent = IsoExtent(crv, d);
  double t = wb != wa ? ta + (c - wa) * (tb - ta) / (wb - wa) : ta;
  double w = IsoCoordinate(crv, d, t);
  for (int step = 0; step < kMaxFalsePositionSteps && std::fabs(c - w) > kIsoFraction * extent; ++step) {
    if ((wa < w && w < c) || (c < w && w < wa)) {
      ta = t;
      wa = w;
    } else {
      tb = t;
      wb = w;
    }
    if (wa == wb) break;
    const double before = w;
    t = ta + (c - wa) * (tb - ta) / (wb - wa);
    w = IsoCoordinate(crv, d, t);
    if (std::fabs(w - before) <= kIsoStallFraction * extent) break;
  }
  return t;
}

int IsoCrossingRoom(const Bspline* crv) { return 5 * crv->interiorU + 5; }

// The visible segments of the iso line over running parameters [t0, t1] (see
// CreateIsoPlineArrays).
int IsoPolyline(Bspline* srf, double c, int d, double t0, double t1, float** x, float** y,
                float** z) {
  *x = *y = *z = nullptr;
  if (!RecordsSound({srf})) return 0;
  // A line off the surface (c outside the fixed direction's domain, or not a number) shows nothing.
  const double lo = d ? srf->umin : srf->vmin, hi = d ? srf->umax : srf->vmax;
  if (!(lo <= c && c <= hi)) return 0;
  TrackingScope scope;
  const int dir = d ? 1 : 0;  // the running direction: v along the line u = c
  int* mults = nullptr;
  double* knots = nullptr;
  const int nk = DistinctInteriorKnots(srf, dir, &mults, &knots, 1e-6);
  if (nk < 0) return 0;
  const int per = (dir ? srf->degreeV : srf->degreeU) + 1;
  double* breaks = MallocArray<double>(nk + 2);
  if (!breaks || KernelFailed()) return 0;
  int nb = 0;
  breaks[nb++] = t0;
  for (int k = 0; k < nk; ++k)
    if (knots[k] > t0 && knots[k] < t1) breaks[nb++] = knots[k];
  breaks[nb++] = t1;

  // Crossings of the line with every trim curve, in running coordinates inside [t0, t1].
  TrimPolylines trims;
  if (SampleTrimPolylines(srf, 1.0 / 32767.0, &trims) != 0) return 0;
  int room = 0;
  for (const TrimList* l = srf->trims; l; l = l->next)
    for (const BsplineList* n = l->loopCurves; n; n = n->next) room += IsoCrossingRoom(n->item);
  double* cross = MallocArray<double>(room + 1);
  double* buf = MallocArray<double>(room + 1);
  if (!cross || !buf || KernelFailed()) return 0;
  int nc = 0;
  for (const TrimList* l = srf->trims; l; l = l->next)
    for (const BsplineList* n = l->loopCurves; n; n = n->next) {
      int found = 0;
      if (FindCurve2IsoParamIntersections(n->item, d, c, buf, &found) != 0) return 0;
      for (int k = 0; k < found; ++k) {
        double uv[2];
        Eval2DPointOnCurve2Array(nullptr, n->item, buf[k], 0, uv);
        const double s = d ? uv[1] : uv[0];
        if (s >= t0 && s <= t1) cross[nc++] = s;
      }
    }
  if (nc > 1) HeapSort(nc, cross);

  // The list of segment ends: t0, every inner sample twice, t1, then every crossing and every
  // midpoint between consecutive crossings twice; sorted, consecutive pairs are the segments.
  const int steps = (nb - 1) * per;
  const int total = 2 * steps + 2 * nc + (nc > 1 ? 2 * (nc - 1) : 0);
  double* list = MallocArray<double>(total);
  if (!list || KernelFailed()) return 0;
  int at = 0;
  list[at++] = t0;
  for (int b = 0; b + 1 < nb; ++b)
    for (int s = (b == 0 ? 1 : 0); s < per; ++s) {
      const double q = breaks[b] + (breaks[b + 1] - breaks[b]) * s / per;
      list[at++] = q;
      list[at++] = q;
    }
  list[at++] = t1;
  for (int k = 0; k < nc; ++k) {
    list[at++] = cross[k];
    list[at++] = cross[k];
    if (k + 1 < nc) {
      list[at++] = 0.5 * (cross[k] + cross[k + 1]);
      list[at++] = 0.5 * (cross[k] + cross[k + 1]);
    }
  }
  HeapSort(total, list);

  Owned<float, Free> fx, fy, fz;
  {
    UntrackedScope own;  // the arrays are the caller's
    fx.reset(MallocArray<float>(total));
    fy.reset(MallocArray<float>(total));
    fz.reset(MallocArray<float>(total));
  }
  if (!fx || !fy || !fz || KernelFailed()) return 0;
  int points = 0;
  auto emit = [&](double s) {
    static const int du[1] = {0}, dv[1] = {0};
    double P[1][3];
    EvalPointOnGeometryM(srf, d ? c : s, d ? s : c, du, dv, 1, 0, P);
    fx[points] = static_cast<float>(P[0][0]);
    fy[points] = static_cast<float>(P[0][1]);
    fz[points] = static_cast<float>(P[0][2]);
    ++points;
  };
  auto inside = [&](double s) { return InsideTrimPolylines(&trims, d ? c : s, d ? s : c) != 0; };
  for (int i = 0; i + 1 < total; i += 2) {
    const double a = list[i], b = list[i + 1];
    // A crossing or midpoint that falls on a sample appears four times: no segment between.
    if (a == b) continue;
    const bool inA = inside(a), inB = inside(b);
    if (inA && inB) {
      emit(a);
      emit(b);
    } else if (inA || inB) {
      // Halve towards the trim: the inside end moves out while the midpoint tests inside.
      double in = inA ? a : b, out = inA ? b : a;
      for (int h = 0; h < 7 && (out - in) * (out - in) > 1e-10; ++h) {
        const double mid = 0.5 * (in + out);
        (inside(mid) ? in : out) = mid;
      }
      // An end that tests inside only by lying on the trim leaves nothing to draw.
      if (in == (inA ? a : b)) continue;
      emit(inA ? a : b);
      emit(in);
    }
  }
  if (points == 0) return 0;
  *x = fx.release();
  *y = fy.release();
  *z = fz.release();
  return points;
}

}  // namespace

int FindCurve2IsoParamIntersections(Bspline* curve, int d, double c, double* out, int* count) {
  if (count) *count = 0;
  if (!out || !count || !RecordsSound({curve}) || curve->kind != 1) return -2;
  const int p = curve->degreeU, m = curve->interiorU;
  const int ns = 5 * m + 6;
  TrackingScope scope;
  double* t = MallocArray<double>(ns);
  double* w = MallocArray<double>(ns);
  if (!t || !w || KernelFailed()) return -2;
  for (int s = 0; s <= m; ++s) {
    const double a = curve->knotsU[p + s], b = curve->knotsU[p + s + 1];
    for (int i = 0; i < 5; ++i) t[5 * s + i] = a + i * (b - a) * 0.2;
  }
  t[ns - 1] = curve->knotsU[p + m + 1];
  for (int i = 0; i < ns; ++i) w[i] = IsoCoordinate(curve, d, t[i]);
  const double onLine = kIsoStallFraction * IsoExtent(curve, d);
  auto side = [&](double v) { return v - c <= onLine ? 1 : 2; };
  int found = 0;
  for (int i = 1; i < ns; ++i)
    if (side(w[i - 1]) != side(w[i]))
      out[found++] = RefineIsoCrossing(curve, d, c, t[i - 1], t[i], w[i - 1], w[i]);
  *count = found;
  return 0;
}

int CreateIsoPlineArrays(Bspline* srf, double c, int d, float** x, float** y, float** z) {
  *x = *y = *z = nullptr;
  if (!srf || srf->kind != 2) return 0;
  return d ? IsoPolyline(srf, c, d, srf->vmin, srf->vmax, x, y, z)
           : IsoPolyline(srf, c, d, srf->umin, srf->umax, x, y, z);
}

int CreateIsoPlineArraysGivenPar(Bspline* srf, double c, int d, double t0, double t1, float** x,
                                 float** y, float** z) {
  *x = *y = *z = nullptr;
  if (!srf || srf->kind != 2) return 0;
  const double lo = d ? srf->vmin : srf->umin, hi = d ? srf->vmax : srf->umax;
  if (!(lo <= t0 && t0 <= t1 && t1 <= hi)) return 0;
  return IsoPolyline(srf, c, d, t0, t1, x, y, z);
}
