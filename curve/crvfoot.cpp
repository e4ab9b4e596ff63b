#include "curve/crvfoot.h"

#include <cmath>
#include <initializer_list>
#include <limits>

#include "bspline/bsvalid.h"
#include "bspline/measure.h"
#include "bspline/nubs.h"
#include "bspline/nubutil.h"
#include "bspline/refines2.h"
#include "curve/crvutil.h"
#include "foundation/umalloc.h"

namespace {

// The nearest point of a curve found so far. Distances that agree within their round-off (a
// point near a centre of curvature, far from the origin, is nearly as far from a stretch of
// the curve) are told apart by the tangential part of P - C, which the refiner drives to zero
// at a foot: the better converged point wins.
struct Foot {
  double size = 0.0;  // the curve's, for the round-off of a distance
  double t = 0.0;
  double distSq = std::numeric_limits<double>::infinity();
  double tangentialSq = std::numeric_limits<double>::infinity();
  double C[3] = {0.0, 0.0, 0.0};
  void Offer(double at, double dSq, const double X[3], double tangSq) {
    if (!std::isfinite(at) || !std::isfinite(dSq)) return;
    const double d = std::sqrt(dSq), bestD = std::sqrt(distSq);
    const double big = std::fmax(std::fabs(X[0]), std::fmax(std::fabs(X[1]), std::fabs(X[2])));
    const double noise = kDistanceRoundOff * (size + big + d);
    if (!(d < bestD - noise) && !(d <= bestD + noise && tangSq < tangentialSq)) return;
    t = at;
    distSq = dSq;
    tangentialSq = tangSq;
    for (int k = 0; k < 3; ++k) C[k] = X[k];
  }
  // Round-off of a distance relative to the lengths it is made of (a curve point sums many
  // products, and P - C adds one more).
  static constexpr double kDistanceRoundOff = 64.0 * std::numeric_limits<double>::epsilon();
};

// The refiner's foot within [lo, hi] from t0. Whatever its status the point it ends on is a
// point of the curve: a foot held on an end of [lo, hi] (the constrained minimum, which it
// reports as not converged) is a candidate like any other.
void RefineWithin(Bspline* c, double size, const double P[3], double lo, double hi, double t0, Foot* best) {
  double t = t0, C[3], dSq = std::numeric_limits<double>::infinity(), step;
  if (c->dimension == 2)
    FindClosestPointCurveOnSurf(c, P, C, lo, hi, &t, &dSq, &step, 7);
  else
    FindClosestPointCurve3OfSize(c, size, P, C, lo, hi, &t, &dSq, &step, 7);
  if (AllFinite({C[0], C[1], C[2]})) best->Offer(t, dSq, C, step);
}

// A piece below this share of the curve's size whose minimum is not yet isolated is refined
// from its middle: only rational pieces, or a piece at round-off, get there.
const double kLeafShare = 1e-3;
// Halvings of one Bezier span at most: 2^-50 of a span is round-off.
const int kMaxDepth = 50;

struct PieceSearch {
  Bspline* curve;
  const double* P;
  double size;
  Foot* best;

  double Dot(const double* a, const double* b) const { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

  // A lower bound of the distance from P to the piece: its control points' hull lies in their
  // box and in the half space beyond the nearest of them along the direction to the chord's
  // middle.
  double LowerBound(const double a[][3], int p) const {
    double gapSq = 0.0;
    for (int q = 0; q < 3; ++q) {
      double lo = a[0][q], hi = a[0][q];
      for (int j = 1; j <= p; ++j) lo = std::fmin(lo, a[j][q]), hi = std::fmax(hi, a[j][q]);
      const double g = std::fmax(0.0, std::fmax(lo - P[q], P[q] - hi));
      gapSq += g * g;
    }
    double u[3];
    for (int q = 0; q < 3; ++q) u[q] = 0.5 * (a[0][q] + a[p][q]) - P[q];
    const double len = std::sqrt(Dot(u, u));
    double slab = 0.0;
    if (len > 0.0) {
      slab = std::numeric_limits<double>::infinity();
      for (int j = 0; j <= p; ++j) {
        const double r[3] = {a[j][0] - P[0], a[j][1] - P[1], a[j][2] - P[2]};
        slab = std::fmin(slab, Dot(r, u) / len);
      }
    }
    return std::fmax(std::sqrt(gapSq), slab);
  }

  // Sign changes of the Bezier coefficients of g(s) = (C(s) - P) . C'(s) over a polynomial
  // piece: the product of the degree p difference C - P and the degree p - 1 hodograph is of
  // degree 2p - 1, its coefficient k the binomially weighted sum over i + j = k. Fewer sign
  // changes than two leave at most one stationary point in the piece (variation diminishing);
  // *first is the sign of the first non-zero coefficient.
  int SignChanges(const double a[][3], int p, int* first) const {
    double binom[2 * kMaxSplineDegree][2 * kMaxSplineDegree];
    for (int n = 0; n < 2 * p; ++n) {
      binom[n][0] = binom[n][n] = 1.0;
      for (int k = 1; k < n; ++k) binom[n][k] = binom[n - 1][k - 1] + binom[n - 1][k];
    }
    int changes = 0, sign = 0;
    *first = 0;
    for (int k = 0; k <= 2 * p - 1; ++k) {
      double g = 0.0;
      for (int i = k - (p - 1) > 0 ? k - (p - 1) : 0; i <= p && i <= k; ++i) {
        const int j = k - i;
        const double r[3] = {a[i][0] - P[0], a[i][1] - P[1], a[i][2] - P[2]};
        const double h[3] = {a[j + 1][0] - a[j][0], a[j + 1][1] - a[j][1], a[j + 1][2] - a[j][2]};
        g += binom[p][i] * binom[p - 1][j] * Dot(r, h);
      }
      const int s = g > 0.0 ? 1 : (g < 0.0 ? -1 : 0);
      if (s == 0) continue;
      if (sign == 0) *first = s;
      else if (s != sign) ++changes;
      sign = s;
    }
    return changes;
  }

  // The piece of span s over [lo, hi] with Bezier points bez over [k0, k1].
  void Search(const double* bez, double k0, double k1, double lo, double hi, int depth) {
    const int p = curve->degreeU;
    double d[kMaxSplineDegree + 1][4], a[kMaxSplineDegree + 1][3];
    BezierSubPiece(bez, p, k0, k1, lo, hi, d);
    for (int j = 0; j <= p; ++j)
      for (int q = 0; q < 3; ++q) a[j][q] = d[j][q] / d[j][3];
    // The piece's ends are points of the curve, its end tangents along the polygon's legs.
    auto offerEnd = [&](int j, double t) {
      const double r[3] = {a[j][0] - P[0], a[j][1] - P[1], a[j][2] - P[2]};
      const int i = j == 0 ? 0 : p - 1;
      const double h[3] = {a[i + 1][0] - a[i][0], a[i + 1][1] - a[i][1], a[i + 1][2] - a[i][2]};
      const double hh = Dot(h, h), rh = Dot(r, h);
      best->Offer(t, Dot(r, r), a[j], hh > 0.0 ? rh * rh / hh : std::numeric_limits<double>::infinity());
    };
    offerEnd(0, lo);
    offerEnd(p, hi);
    if (LowerBound(a, p) >= std::sqrt(best->distSq)) return;
    int first = 0;
    if (!curve->rational) {
      const int changes = SignChanges(a, p, &first);
      // Distance monotone over the piece, or one maximum inside: the nearest point is an end.
      if (changes == 0 || (changes == 1 && first > 0)) return;
      if (changes == 1) {  // one minimum inside
        RefineWithin(curve, size, P, lo, hi, 0.5 * (lo + hi), best);
        return;
      }
    }
    double diagSq = 0.0;
    for (int q = 0; q < 3; ++q) {
      double l = a[0][q], h = a[0][q];
      for (int j = 1; j <= p; ++j) l = std::fmin(l, a[j][q]), h = std::fmax(h, a[j][q]);
      diagSq += (h - l) * (h - l);
    }
    const double mid = 0.5 * (lo + hi);
    if ((curve->rational && diagSq <= kLeafShare * kLeafShare * size * size) || depth >= kMaxDepth ||
        !(mid > lo && mid < hi)) {
      RefineWithin(curve, size, P, lo, hi, mid, best);
      return;
    }
    // The half nearer P first: its answer prunes the other.
    const double r0[3] = {a[0][0] - P[0], a[0][1] - P[1], a[0][2] - P[2]};
    const double rp[3] = {a[p][0] - P[0], a[p][1] - P[1], a[p][2] - P[2]};
    if (Dot(r0, r0) <= Dot(rp, rp)) {
      Search(bez, k0, k1, lo, mid, depth + 1);
      Search(bez, k0, k1, mid, hi, depth + 1);
    } else {
      Search(bez, k0, k1, mid, hi, depth + 1);
      Search(bez, k0, k1, lo, mid, depth + 1);
    }
  }
};

// Method: the global foot on a sound 3D curve whose weights are positive, by branch and bound
// over its Bezier pieces. A piece whose control points' hull lies no nearer to P than the best
// point found cannot hold a nearer one; any other is halved until its distance has at most one
// minimum inside (checked on the derivative's Bezier coefficients) and that minimum is refined
// within the piece. Ends of pieces are candidates of their own, so a foot on an end of the curve
// or across a closed curve's seam is found like any other, and near a centre of curvature every
// local minimum is compared, not the one nearest a start.
void GlobalFootOnCurve3(Bspline* c, const double P[3], Foot* best) {
  const int p = c->degreeU, n = NumCtrlU(c);
  const double* k = c->knotsU;
  PieceSearch search{c, P, best->size, best};
  // The span under the nearest control point first: its foot is usually near the answer and
  // prunes most other spans by their hulls alone.
  int nearest = 0;
  double nearestSq = std::numeric_limits<double>::infinity();
  for (int i = 0; i < n; ++i) {
    const double r[3] = {c->X[0][i] - P[0], c->Y[0][i] - P[1], c->Z[0][i] - P[2]};
    const double dSq = r[0] * r[0] + r[1] * r[1] + r[2] * r[2];
    if (dSq < nearestSq) nearestSq = dSq, nearest = i;
  }
  double greville = 0.0;
  for (int j = 1; j <= p; ++j) greville += k[nearest + j];
  greville /= p > 0 ? p : 1;
  int first = p;
  while (first + 1 < n && !(greville < k[first + 1])) ++first;
  while (first > p && !(k[first] < k[first + 1])) --first;
  double bez[4 * (kMaxSplineDegree + 1)];
  for (int i = p - 1; i < n; ++i) {
    const int s = i < p ? first : i;
    if ((i >= p && s == first) || !(k[s] < k[s + 1])) continue;
    SpanBezierPoints(c, s, bez);
    search.Search(bez, k[s], k[s + 1], k[s], k[s + 1], 0);
  }
}

bool PositiveWeights(const Bspline* c) {
  if (!c->rational || !c->W) return true;
  for (int i = 0; i < NumCtrlU(c); ++i)
    if (!(c->W[0][i] > 0.0)) return false;
  return true;
}

// Samples per knot span for curves the pieces do not cover: as many as the estimator takes and
// no fewer than two per degree.
const int kSamplesPerSpan = 12;

// The global foot on a curve on a surface (or with weights not all positive): every local
// minimum of the distance over dense samples, and the ends, refined between its neighbouring
// samples; the nearest wins.
int SampledFootOnCurve(Bspline* c, const double P[3], Foot* best) {
  TrackingScope scope;
  int m = 0;
  Owned<double, Free> samples(SampleCurvePlateProper(c, kSamplesPerSpan, &m));
  double* ts = samples.get();
  double* xyz = ts ? MallocArray<double>(4, m) : nullptr;
  if (!xyz || KernelFailed() || m < 2) return -2;
  double *x = xyz, *y = x + m, *z = y + m, *d = z + m;
  EvalNpntsOnObj(c, 0, 0, ts, nullptr, m, x, y, z);
  for (int i = 0; i < m; ++i) {
    const double r[3] = {x[i] - P[0], y[i] - P[1], z[i] - P[2]};
    d[i] = r[0] * r[0] + r[1] * r[1] + r[2] * r[2];
  }
  const double size = c->dimension == 2 ? -1.0 : best->size;
  for (int i = 0; i < m; ++i) {
    if ((i > 0 && d[i - 1] < d[i]) || (i + 1 < m && d[i + 1] < d[i])) continue;
    RefineWithin(c, size, P, ts[i > 0 ? i - 1 : 0], ts[i + 1 < m ? i + 1 : m - 1], ts[i], best);
  }
  return 0;
}

}  // namespace

int GlobalClosestOnCurve(Bspline* c, const double P[3], double* t, double C[3]) {
  if (!RecordsSound({c}) || !P || !AllFinite({P[0], P[1], P[2]})) return -2;
  if (c->dimension == 2 && !c->owner) return -2;
  Foot best;
  best.size = ControlPointDiagonal(c->dimension == 2 ? c->owner : c);
  if (c->dimension == 3 && PositiveWeights(c))
    GlobalFootOnCurve3(c, P, &best);
  else if (SampledFootOnCurve(c, P, &best) != 0)
    return -2;
  if (!std::isfinite(best.distSq)) return -2;
  *t = best.t;
  for (int k = 0; k < 3; ++k) C[k] = best.C[k];
  return 0;
}
