#include "bspline/kremove.h"
#include "bspline/kremove_internal.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "bspline/bsvalid.h"
#include "bspline/kinsert.h"
#include "bspline/knots.h"
#include "bspline/measure.h"
#include "bspline/nubutil.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "foundation/coreglob.h"
#include "foundation/makemat.h"
#include "foundation/mathmat.h"
#include "foundation/sort.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "platform/tstubs.h"

int globalTest = 0;

namespace {
constexpr double kRelKnotTol = 1e-6;  // knots closer than this part of the range are equal
// A pass t of the elimination fills temp up to index p - s + 2 t + 2 <= 2 p + 1.
constexpr int kTempSize = 2 * kMaxSplineDegree + 3;
constexpr int kPlaneQuadric = 25;

// The length of a vector of n <= 4 entries, scaled by its largest entry: the squares of
// coordinates near 1e300 (or 1e-300) would overflow (underflow) where the length does not.
double Length(const double* v, int n) {
  double big = 0.0;
  for (int e = 0; e < n; ++e) big = std::fmax(big, std::fabs(v[e]));
  if (!(big > 0.0) || !std::isfinite(big)) return big;
  double sum = 0.0;
  for (int e = 0; e < n; ++e) sum += (v[e] / big) * (v[e] / big);
  return big * std::sqrt(sum);
}

int EffectiveDir(const Bspline* obj, int dir) { return obj->kind == 2 && dir != 0 ? 1 : 0; }
int DegreeIn(const Bspline* obj, int dir) { return dir ? obj->degreeV : obj->degreeU; }
int InteriorIn(const Bspline* obj, int dir) { return dir ? obj->interiorV : obj->interiorU; }
int CtrlIn(const Bspline* obj, int dir) { return dir ? NumCtrlV(obj) : NumCtrlU(obj); }
double* KnotsIn(const Bspline* obj, int dir) { return dir ? obj->knotsV : obj->knotsU; }

// ---- The two-sided elimination ------------------------------------------------------------
// Removing one copy of the knot u (last index k, multiplicity s) from a line P of degree p
// solves P[i] = a_i Q[i] + (1 - a_i) Q[i-1] for the new points Q from the left (i = first ..)
// and from the right (j = last ..) until the sweeps meet: first = k - p, last = k - s. In pass
// t of a repeated removal the indices have widened by t on each side.

// One pass on one coordinate row; temp[i - (first - 1)] receives the swept points. Returns the
// final i and sets *jEnd to the final j.
int EliminationSweep(const double* P, const double* U, double u, int first, int last, int t,
                     int ord, double* temp, int* jEnd) {
  const int off = first - 1;
  temp[0] = P[off];
  temp[last + 1 - off] = P[last + 1];
  int i = first;
  int j = last;
  while (j - i > t) {
    const double ai = (u - U[i]) / (U[i + ord + t] - U[i]);
    const double aj = (u - U[j - t]) / (U[j + ord] - U[j - t]);
    temp[i - off] = (P[i] - (1.0 - ai) * temp[i - off - 1]) / ai;
    temp[j - off] = (P[j] - aj * temp[j - off + 1]) / (1.0 - aj);
    ++i;
    --j;
  }
  *jEnd = j;
  return i;
}

// The mismatch where the sweeps meet: two solutions of one point when they crossed, else the
// point P[i] against what the neighbouring solutions rebuild of it.
double SweepMismatch(const double* P, const double* U, double u, int i, int j, int t, int ord,
                     int off, const double* temp) {
  if (j - i < t) return temp[i - off - 1] - temp[j - off + 1];
  const double ai = (u - U[i]) / (U[i + ord + t] - U[i]);
  return P[i] - (ai * temp[i - off + t + 1] + (1.0 - ai) * temp[i - off - 1]);
}

// Weight of the mismatch in the change of the curve, which is mismatch x factor x N_m(t) with
// m = (first + last) / 2 the point dropped: when both sweeps solved point m (they crossed),
// keeping the right-hand solution moves the rebuilt P[m] by a_m times the mismatch; when they
// met at P[m] it moves by the mismatch itself.
double MismatchFactor(const double* U, double u, int i, int j, int m, int ord) {
  if (j < i) return (u - U[m]) / (U[m + ord] - U[m]);
  return 1.0;
}

// Move of a rational line at one parameter when its homogeneous point m changes by -delta (delta
// is a mismatch: the old point less the new, in the rows as the line holds them: x w, y w,
// (z w), w last) times the basis value b = N_m(t). With C = A / W the line's point there, the
// point becomes (A - b delta_A) / (W - b delta_w), a move of b |delta_A - C delta_w| /
// (W - b delta_w): the weights' scale cancels, so the same curve with all weights multiplied by
// one factor costs the same. Infinite when the new weight is not positive.
double RationalChange(const double* delta, int coords, const double C[3], double W, double b) {
  const double dw = delta[coords - 1];
  const double newW = W - b * dw;
  if (!(newW > 0.0)) return kNoValue;
  double d[3] = {0.0, 0.0, 0.0};
  for (int e = 0; e + 1 < coords; ++e) d[e] = delta[e] - C[e] * dw;
  return std::fabs(b) * Length(d, coords - 1) / newW;
}

// The homogeneous sum of rows at t over the basis values N[1 .. p + 1] of `span`: C = A / W
// and W, the weight row being the last.
double LinePointAndWeight(const double* const* rows, int coords, int p, int span, const double* N,
                          double C[3]) {
  double sum[4] = {0.0, 0.0, 0.0, 0.0};
  for (int e = 0; e <= p; ++e)
    for (int c = 0; c < coords; ++c) sum[c] += N[e + 1] * rows[c][span - p + e];
  const double W = sum[coords - 1];
  C[0] = C[1] = C[2] = 0.0;
  for (int c = 0; c + 1 < coords; ++c) C[c] = sum[c] / W;
  return W;
}

struct Rows {
  double* c[4];
  int coords;
};

// RationalChange where the basis of point i is 1: at a break (p + 1 equal knots) the left
// piece ends at that point, which the removal moves by all of -delta (onto the right piece's
// first point).
double RationalChangeAtPoint(const Rows& line, int i, const double* delta) {
  const double W = line.c[line.coords - 1][i];
  double C[3] = {0.0, 0.0, 0.0};
  for (int c = 0; c + 1 < line.coords; ++c) C[c] = line.c[c][i] / W;
  return RationalChange(delta, line.coords, C, W, 1.0);
}

// Samples per span of N_m's support at which a rational removal's move is measured, both ends
// included: the move is b |delta_A - C delta_w| / (W - b delta_w), and C runs along the line, so
// it can vanish at one parameter (a circle's joint loses its point on the circle nowhere else)
// while the arc beside it moves by a share of the size.
constexpr int kRationalBoundSteps = 8;

// The bound of a removal that moves point m of the line (as it was before) by -delta times N_m
// (delta per row, as the line holds them): for a polynomial line the deviation at m's Greville
// point, where |delta| N_m peaks; for a rational one the largest move at samples of every span
// of N_m's support, the Greville point among them.
double RemovalBound(const Rows& line, bool rational, const double* U, int n, int p, int s, int m,
                    const double* delta) {
  const double size = Length(delta, line.coords);
  // A copy of a break (s = p + 1) joins the two pieces: the dropped point is the end of the
  // left piece, where its basis function is 1 from the left but the span search reads the
  // 0 from the right. The curve's end there moves by the whole jump.
  if (s > p) return rational ? RationalChangeAtPoint(line, m, delta) : size;
  if (!rational) return GrevilleDeviation(U, p, n, m, size);
  auto moveAt = [&](double t) {
    int span = p;
    FindLowKnotIndex(U, p, t, &span, n);
    double N[kMaxSplineDegree + 2];
    ComputeNubVals(U, p, t, span, N);
    const int e = m - (span - p) + 1;
    double C[3];
    const double W = LinePointAndWeight(line.c, line.coords, p, span, N, C);
    const double b = e >= 1 && e <= p + 1 ? N[e] : 0.0;
    return RationalChange(delta, line.coords, C, W, b);
  };
  double bound = moveAt(GrevilleAbscissa(U, p + 1, m));
  const int lo = std::max(m, p), hi = std::min(m + p + 1, n);
  for (int k = lo; k < hi; ++k)
    for (int j = 0; j <= kRationalBoundSteps && U[k] < U[k + 1]; ++j)
      bound = std::max(bound, moveAt(U[k] + (U[k + 1] - U[k]) * j / kRationalBoundSteps));
  return bound;
}

// Where the sweeps of one copy's removal (s <= p) meet: the point m they leave out, the left
// sweep solving Q[i] for first <= i < m, dividing by a_i, the right one Q[j - 1] for m < j <=
// last, dividing by 1 - a_j, each step taken on the side whose divisor is the larger. The
// textbook meets in the middle, which beside a cluster of knots divides by a share of the
// cluster's width (1e-12 and less) and spreads the round-off of a point across the curve; a
// divisor of at least one half on one side or the other keeps it at round-off.
int MeetingPoint(const double* U, double u, int first, int last, int ord) {
  auto alpha = [&](int i) { return (u - U[i]) / (U[i + ord] - U[i]); };
  int m = first;
  for (int j = last; m < j;) {
    if (alpha(m) >= 1.0 - alpha(j)) ++m;
    else --j;
  }
  return m;
}

// The sweeps of one row P meeting at m (MeetingPoint): q[i - (first - 1)] receives Q[i] from
// the left for i < m and Q[j - 1] from the right at index j > m, the ends of the run as they
// are. Returns the mismatch at m: P[m] less what its new neighbours rebuild of it, so that the
// new curve is the old one less the mismatch times N_m.
double OneSidedSweeps(const double* P, const double* U, double u, int first, int last, int m,
                      int ord, double* q) {
  auto alpha = [&](int i) { return (u - U[i]) / (U[i + ord] - U[i]); };
  const int off = first - 1;
  q[0] = P[off];
  q[last + 1 - off] = P[last + 1];
  for (int i = first; i < m; ++i) {
    const double a = alpha(i);
    q[i - off] = (P[i] - (1.0 - a) * q[i - off - 1]) / a;
  }
  for (int j = last; j > m; --j) {
    const double a = alpha(j);
    q[j - off] = (P[j] - a * q[j - off + 1]) / (1.0 - a);
  }
  const double a = alpha(m);
  return P[m] - (a * q[m - off + 1] + (1.0 - a) * q[m - off - 1]);
}

// One copy of the knot u (last index k, multiplicity s <= p) removed from one control line of
// n points by the sweeps meeting at MeetingPoint; the line keeps n - 1 points.
void RemoveAKnotOnceFromCurve(const Rows& line, bool rational, const double* U, int n, int p,
                              double u, int k, int s, double* bound) {
  const int ord = p + 1, first = k - p, last = k - s;
  const int m = MeetingPoint(U, u, first, last, ord);
  double temp[4][kTempSize], delta[4];
  const int off = first - 1;
  for (int c = 0; c < line.coords; ++c)
    delta[c] = OneSidedSweeps(line.c[c], U, u, first, last, m, ord, temp[c]);
  if (bound) *bound = std::max(*bound, RemovalBound(line, rational, U, n, p, s, m, delta));
  for (int c = 0; c < line.coords; ++c) {
    double* P = line.c[c];
    for (int i = first; i <= last; ++i)
      if (i != m) P[i] = temp[c][i - off];
    for (int i = m + 1; i < n; ++i) P[i - 1] = P[i];
  }
}

// Removes r copies of the knot u (last index k, multiplicity s) from one control line of n
// points, every coordinate alike, without a tolerance test; the line keeps n - r points. The
// knot vector is the caller's to shorten. When `bound` is given, the bound of the first pass
// raises it. One copy of a knot below full multiplicity goes by RemoveAKnotOnceFromCurve, the
// change the maximal removal measures for it (GetRemoveBsplineInfo).
void RemoveAKnotNTimesFromCurve(const Rows& line, bool rational, const double* U, int n, int p,
                                double u, int k, int s, int r, double* bound) {
  if (r == 1 && s <= p) {
    RemoveAKnotOnceFromCurve(line, rational, U, n, p, u, k, s, bound);
    return;
  }
  const int ord = p + 1;
  const int fout = (2 * k - s - p) / 2;  // the point the first pass drops
  int first = k - p;
  int last = k - s;
  double temp[4][kTempSize];
  for (int t = 0; t < r; ++t) {
    const int off = first - 1;
    int iEnd = first;
    int jEnd = last;
    for (int c = 0; c < line.coords; ++c)
      iEnd = EliminationSweep(line.c[c], U, u, first, last, t, ord, temp[c], &jEnd);
    if (t == 0 && bound) {
      const double factor = MismatchFactor(U, u, iEnd, jEnd, fout, ord);
      double delta[4];
      for (int c = 0; c < line.coords; ++c)
        delta[c] = factor * SweepMismatch(line.c[c], U, u, iEnd, jEnd, 0, ord, off, temp[c]);
      *bound = std::max(*bound, RemovalBound(line, rational, U, n, p, s, fout, delta));
    }
    for (int i = first, j = last; j - i > t; ++i, --j) {
      for (int c = 0; c < line.coords; ++c) {
        line.c[c][i] = temp[c][i - off];
        line.c[c][j] = temp[c][j - off];
      }
    }
    --first;
    ++last;
  }
  // Close the gap: the passes left r surplus points around fout, alternately on either side.
  int j = fout;
  int i = j;
  for (int kk = 1; kk < r; ++kk) {
    if (kk % 2 == 1)
      ++i;
    else
      --j;
  }
  for (int kk = i + 1; kk < n; ++kk, ++j)
    for (int c = 0; c < line.coords; ++c) line.c[c][j] = line.c[c][kk];
}

// Last index of the knot t stands for: the knot nearest to t (the lower one on a tie), when it
// lies within tol of t; -1 when none does. Knots closer together than tol stay apart: a
// cluster of short spans is a run of knots, each its own. U has hi + p + 1 entries.
int LastIndexOfKnot(const double* U, int p, int hi, double t, double tol) {
  int s = p;
  FindLowKnotIndex(U, p, t, &s, hi);
  const bool upper = s + 1 <= hi && U[s + 1] - t < std::fabs(t - U[s]);
  const double knot = upper ? U[s + 1] : U[s];
  if (!(std::fabs(knot - t) <= tol)) return -1;
  if (!upper) return s;
  return s + FindMultOfValInArray(U, hi + p + 1, knot, s + 1, p + 1, 1, 0.0);
}

// Copies of the knot whose last index is k: equal values only.
int KnotMultiplicity(const double* U, int p, int k) {
  return FindMultOfValInArray(U, k + 1, U[k], k, p + 1, 0, 0.0);
}

Rows RowsOfWork(KnotInsertWork* w, int line) {
  Rows rows{};
  for (double* c : w->c)
    if (c) rows.c[rows.coords++] = c + std::size_t(line) * w->n;
  return rows;
}

// ---- Maximal removal on one line ----------------------------------------------------------

Rows RowsOfInfo(RemoveInfo* info) {
  Rows rows{};
  for (double* c : {info->x, info->y, info->z, info->w})
    if (c) rows.c[rows.coords++] = c;
  return rows;
}

int CurrentCtrl(const RemoveInfo* info) { return info->interior + info->degree + 1; }

// Parameters of the samples: `samples` values per span of the starting knot vector evenly
// spaced, both span ends included, so that a removal's change is seen wherever its basis
// function lives.
void ComputePntsPerSpanParVals1D(const double* knots, int p, int interior, int samples,
                                 double** params) {
  for (int i = 0; i <= interior; ++i) {
    const double a = knots[p + i];
    const double b = knots[p + i + 1];
    for (int j = 0; j < samples; ++j) params[i][j] = a + j * (b - a) / std::max(samples - 1, 1);
  }
}

// Most steps into which SamplesPerSpan divides a span's p steps for spread weights.
constexpr double kMostWeightSteps = 32.0;

// Samples per span at which the maximal removal measures its changes. A polynomial line's
// change is its basis function times a constant, smooth over a span: p + 1 samples see it. A
// rational line's change is divided by its weight function, which turns from a heavy point's
// to a light one's over about 1 / R^(1/p) of a span when the weights spread by R (weights
// 1e-4 .. 1e4 had a quintic's change peak between its samples at 26 times what they saw): each
// of the p steps is cut into the whole part of R^(1/p) (at most kMostWeightSteps), so every
// sample of the polynomial's stays one, and weights within 2^p of each other keep those alone.
int SamplesPerSpan(Bspline* const* objs, int n, int p) {
  double lo = kNoValue, hi = 0.0;
  for (int i = 0; i < n; ++i) {
    const Bspline* o = objs[i];
    if (!o->rational) continue;
    const int cols = NumCtrlU(o), rows = o->kind == 2 ? NumCtrlV(o) : 1;
    for (int r = 0; r < rows; ++r)
      for (int c = 0; c < cols; ++c) lo = std::min(lo, o->W[r][c]), hi = std::max(hi, o->W[r][c]);
  }
  const double steps = hi > 0.0 && lo > 0.0 ? std::floor(std::pow(hi / lo, 1.0 / p)) : 1.0;
  return p * static_cast<int>(std::clamp(steps, 1.0, kMostWeightSteps)) + 1;
}

// The current line at t, divided by w when rational; *span carries the search upward.
void EvalLine(const RemoveInfo* info, double t, int* span, double out[3]) {
  const int p = info->degree;
  const int n = CurrentCtrl(info);
  if (t < info->knots[*span]) *span = p;
  FindLowKnotIndex(info->knots, p, t, span, n);
  double N[kMaxSplineDegree + 2];
  ComputeNubVals(info->knots, p, t, *span, N);
  double sum[4] = {0.0, 0.0, 0.0, 0.0};
  const double* rows[4] = {info->x, info->y, info->z, info->w};
  for (int e = 0; e <= p; ++e) {
    const int idx = *span - p + e;
    for (int c = 0; c < 4; ++c)
      if (rows[c]) sum[c] += N[e + 1] * rows[c][idx];
  }
  const double w = info->w ? sum[3] : 1.0;
  for (int c = 0; c < 3; ++c) out[c] = sum[c] / w;
}

// Evaluates the line at the samples of `count` spans from `first` into the record and, unless
// `start` is set, the deviation layer; with `start` the line is the reference (layers 0 - 2)
// and every deviation is 0.
void EvalSamples(RemoveInfo* info, double*** samples, int first, int count, bool start) {
  const int perSpan = info->samples;
  int span = info->degree;
  for (int i = first; i < first + count; ++i) {
    for (int j = 0; j < perSpan; ++j) {
      double pt[3];
      EvalLine(info, samples[3][i][j], &span, pt);
      const std::size_t at = std::size_t(i) * perSpan + j;
      info->sx[at] = pt[0];
      info->sy[at] = pt[1];
      if (info->sz) info->sz[at] = pt[2];
      if (start) {
        samples[0][i][j] = pt[0];
        samples[1][i][j] = pt[1];
        samples[2][i][j] = info->sz ? pt[2] : 0.0;
        samples[4][i][j] = 0.0;
      } else {
        const double d[3] = {pt[0] - samples[0][i][j], pt[1] - samples[1][i][j],
                             info->sz ? pt[2] - samples[2][i][j] : 0.0};
        samples[4][i][j] = Length(d, 3);
      }
    }
  }
}

void MakeDeviationInfo(RemoveInfo* info, double*** samples, int spans) {
  EvalSamples(info, samples, 0, spans, true);
}

void UpdateDeviationInfo(RemoveInfo* info, double*** samples, int first, int count) {
  EvalSamples(info, samples, first, count, false);
}

// Runs the elimination of candidate c on the current rows into its store slot. Returns the
// size of the mismatch times its factor, and that mismatch per row in delta (when given; point
// m changes by -delta); *m receives the point whose basis carries it. A copy below full
// multiplicity goes as RemoveAKnotOnceFromCurve takes it (the sweeps meeting where each divides
// by the larger share), so that a knot just inserted inside a cluster costs round-off and the
// replay makes the very change measured; a copy of a break by the textbook's single pass.
double GetRemoveBsplineInfo(RemoveInfo* info, int c, int* m, double delta[4] = nullptr) {
  const int p = info->degree;
  const int ord = p + 1;
  const int k = info->knotSpan[c];
  const int s = info->mult[c];
  const double u = info->values[c];
  const double* U = info->knots;
  const int first = k - p;
  const int last = k - s;
  const int off = first - 1;
  const Rows rows = RowsOfInfo(info);
  double** slot = info->store[info->slots[c]];
  double mismatch[4] = {0.0, 0.0, 0.0, 0.0};
  if (s <= p) {
    const int meet = MeetingPoint(U, u, first, last, ord);
    for (int e = 0; e < rows.coords; ++e) {
      double temp[kTempSize];
      mismatch[e] = OneSidedSweeps(rows.c[e], U, u, first, last, meet, ord, temp);
      // New points first .. last - 1: left solutions below the meeting, right ones from it on.
      for (int q = first; q < last; ++q)
        slot[e][q - first] = q < meet ? temp[q - off] : temp[q + 1 - off];
    }
    *m = meet;
    if (delta)
      for (int e = 0; e < 4; ++e) delta[e] = mismatch[e];
    return Length(mismatch, rows.coords);
  }
  const int fout = (first + last) / 2;
  int iEnd = first;
  int jEnd = last;
  for (int e = 0; e < rows.coords; ++e) {
    double temp[kTempSize];
    iEnd = EliminationSweep(rows.c[e], U, u, first, last, 0, ord, temp, &jEnd);
    mismatch[e] = SweepMismatch(rows.c[e], U, u, iEnd, jEnd, 0, ord, off, temp);
    // New points first .. last - 1: left solutions below fout, right solutions from it on.
    for (int q = first; q < last; ++q)
      slot[e][q - first] = q < fout ? temp[q - off] : temp[q + 1 - off];
  }
  *m = fout;
  const double factor = MismatchFactor(U, u, iEnd, jEnd, fout, ord);
  if (delta)
    for (int e = 0; e < 4; ++e) delta[e] = factor * mismatch[e];
  return Length(mismatch, rows.coords) * factor;
}

// Cost of candidate c: the largest deviation its removal would leave at the samples its
// change reaches, e(t) = deviation(t) + size x N_m(t) (a rational line: the move RationalChange
// gives for delta); stops as soon as e exceeds tol.
void UpdateWorstKnotInfo(RemoveInfo* info, double*** samples, int spans, int c, double size,
                         const double delta[4], int m, double tol, double knotTol) {
  const int p = info->degree;
  const int perSpan = info->samples;
  const int n = CurrentCtrl(info);
  const double lo = info->knots[m];
  const double hi = info->knots[m + p + 1];
  // The starting spans inside the support [lo, hi] of N_m: the current knots are a subset of
  // the starting ones, so every starting span lies wholly inside or outside it.
  int first = 0;
  while (first < spans && samples[3][first][0] < lo - knotTol) ++first;
  int count = 0;
  while (first + count < spans && samples[3][first + count][perSpan - 1] <= hi + knotTol) ++count;
  info->firstSpan[c] = first;
  info->spanCount[c] = count;
  // A copy of a break (multiplicity p + 1) joins the pieces: the end of the left piece moves by
  // the whole jump, where the basis of the dropped point is 1 from the left, but the samples
  // read the curve from the right there and would see nothing.
  Rows rows{};  // a rational line's rows; none for a polynomial one
  if (info->w) rows = RowsOfInfo(info);
  double cost = 0.0;
  if (info->mult[c] > p) cost = rows.coords > 0 ? RationalChangeAtPoint(rows, m, delta) : size;
  int span = p;
  double N[kMaxSplineDegree + 2];
  for (int i = first; i < first + count && cost <= tol; ++i) {
    for (int j = 0; j < perSpan; ++j) {
      const double t = samples[3][i][j];
      if (t < info->knots[span]) span = p;
      FindLowKnotIndex(info->knots, p, t, &span, n);
      ComputeNubVals(info->knots, p, t, span, N);
      const int e = m - (span - p) + 1;
      const double basis = e >= 1 && e <= p + 1 ? N[e] : 0.0;
      double change = size * basis;
      if (rows.coords > 0) {
        double C[3];
        const double W = LinePointAndWeight(rows.c, rows.coords, p, span, N, C);
        change = RationalChange(delta, rows.coords, C, W, basis);
      }
      const double dev = samples[4][i][j] + change;
      cost = std::max(cost, dev);
      if (cost > tol) break;
    }
  }
  info->costs[c] = cost;
}

// Re-costs the flagged candidates (all of them without incremental re-ranking) and returns
// the cheapest, the first in knot order on ties.
int GetWorstKnotOfObj(RemoveInfo* info, double*** samples, int spans, double tol, double knotTol) {
  int best = -1;
  for (int c = 0; c < info->remaining; ++c) {
    if (info->rerank[c] || !globalTest) {
      int m = 0;
      double delta[4];
      const double size = GetRemoveBsplineInfo(info, c, &m, delta);
      UpdateWorstKnotInfo(info, samples, spans, c, size, delta, m, tol, knotTol);
      info->rerank[c] = 0;
    }
    if (best < 0 || info->costs[c] < info->costs[best]) best = c;
  }
  if (!globalTest && best >= 0) {
    info->bestSpan = info->firstSpan[best];
    info->bestSpanCount = info->spanCount[best];
  }
  return best;
}

// Applies the stored elimination of the chosen candidate and deletes one copy of its knot.
void RemoveWorstKnotOfObj(RemoveInfo* info) {
  const int c = info->chosen;
  const int p = info->degree;
  const int k = info->knotSpan[c];
  const int first = k - p;
  const int last = k - info->mult[c];
  const int n = CurrentCtrl(info);
  const Rows rows = RowsOfInfo(info);
  double** slot = info->store[info->slots[c]];
  for (int e = 0; e < rows.coords; ++e) {
    double* P = rows.c[e];
    for (int q = first; q < last; ++q) P[q] = slot[e][q - first];
    for (int q = last; q + 1 < n; ++q) P[q] = P[q + 1];
  }
  const int nKnots = n + p + 1;
  for (int q = k; q + 1 < nKnots; ++q) info->knots[q] = info->knots[q + 1];
  --info->interior;
}

// Flags the candidates whose knots lie within p + 1 knot positions of the removed one; by
// value, so whole groups of equal knots are taken together.
void GetReRankArrayIndices(RemoveInfo* info, double lo, double hi) {
  for (int c = 0; c < info->remaining; ++c)
    if (info->values[c] >= lo && info->values[c] <= hi) info->rerank[c] = 1;
}

// Drops candidate c from the per-candidate arrays.
void CloseCandidateGap(RemoveInfo* info, int c) {
  for (int q = c; q + 1 < info->remaining; ++q) {
    info->rerank[q] = info->rerank[q + 1];
    info->firstSpan[q] = info->firstSpan[q + 1];
    info->spanCount[q] = info->spanCount[q + 1];
    info->knotSpan[q] = info->knotSpan[q + 1];
    info->mult[q] = info->mult[q + 1];
    info->slots[q] = info->slots[q + 1];
    info->values[q] = info->values[q + 1];
    info->costs[q] = info->costs[q + 1];
  }
  --info->remaining;
}

// Each candidate's span (the last index of its knot) and multiplicity; its value snapped to
// the knot. -1 when a candidate is not an interior knot of the line.
int InitCandidateSpans(RemoveInfo* info, double knotTol) {
  const int p = info->degree;
  const int n = CurrentCtrl(info);
  for (int c = 0; c < info->remaining; ++c) {
    const int k = LastIndexOfKnot(info->knots, p, n, info->values[c], knotTol);
    if (k <= p || k >= n) return -1;
    info->values[c] = info->knots[k];
    info->knotSpan[c] = k;
    info->mult[c] = KnotMultiplicity(info->knots, p, k);
  }
  return 0;
}

// After one copy of `value` went: the candidates sharing it lose a multiplicity, and every
// knot index from it on moves down by one.
void ShiftCandidatesAfterRemoval(RemoveInfo* info, int from, double value) {
  for (int c = from; c < info->remaining; ++c) {
    if (info->values[c] == value) --info->mult[c];
    if (info->values[c] >= value) --info->knotSpan[c];
  }
}

// Removes the cheapest candidates from the loaded line while the cost stays within tol (mode
// 4: until at most `keep` remain). The removed values go to `removed` in the order of removal;
// returns their count, -1 when a candidate is not a knot of the line. *lineDev receives the largest
// cost spent.
int ComputeMaximalKnotSetToRemove(RemoveInfo* info, double*** samples, int spans, int mode,
                                  int keep, double tol, double* removed, double* lineDev) {
  if (mode == 4) tol = kNoValue;
  *lineDev = 0.0;
  const int p = info->degree;
  const int order = p + 1;
  double knotTol = kRelKnotTol * (info->knots[CurrentCtrl(info)] - info->knots[p]);
  if (InitCandidateSpans(info, knotTol) != 0) return -1;
  int count = 0;
  while (info->remaining > 0) {
    if (mode == 4 && info->remaining <= keep) break;
    const int best = GetWorstKnotOfObj(info, samples, spans, tol, knotTol);
    if (info->costs[best] > tol) break;
    info->chosen = best;
    const double value = info->values[best];
    const int k = info->knotSpan[best];
    const int nKnots = CurrentCtrl(info) + order;
    const double lo = info->knots[std::max(k - p - 1, 0)];
    const double hi = info->knots[std::min(k + p + 1, nKnots - 1)];
    const int firstSpan = info->firstSpan[best];
    const int spanCount = info->spanCount[best];
    // Every removal's cost already holds the deviation spent before it at its samples; the
    // line's deviation is the largest of them.
    *lineDev = std::max(*lineDev, info->costs[best]);
    removed[count++] = value;
    RemoveWorstKnotOfObj(info);
    CloseCandidateGap(info, best);
    ShiftCandidatesAfterRemoval(info, 0, value);
    GetReRankArrayIndices(info, lo, hi);
    UpdateDeviationInfo(info, samples, firstSpan, spanCount);
  }
  return count;
}

// Removes `count` knots from the loaded line one at a time in the given order and returns the
// largest deviation it leaves at the samples; -1 when one of them is not a knot of the line or
// a deviation is not finite.
double ReplayRemovalOrder(RemoveInfo* info, double*** samples, int spans, const double* order,
                          int count) {
  const double knotTol = kRelKnotTol * (info->knots[CurrentCtrl(info)] - info->knots[info->degree]);
  std::memcpy(info->values, order, sizeof(double) * count);
  info->remaining = count;
  if (InitCandidateSpans(info, knotTol) != 0) return -1.0;
  for (int c = 0; c < count; ++c) {
    int m = 0;
    info->chosen = c;
    GetRemoveBsplineInfo(info, c, &m);
    RemoveWorstKnotOfObj(info);
    ShiftCandidatesAfterRemoval(info, c + 1, info->values[c]);
  }
  UpdateDeviationInfo(info, samples, 0, spans);
  double largest = 0.0;
  for (int i = 0; i < spans; ++i)
    for (int j = 0; j < info->samples; ++j) {
      // Deviations of huge coordinates can overflow: no measure, no removal.
      if (!std::isfinite(samples[4][i][j])) return -1.0;
      largest = std::max(largest, samples[4][i][j]);
    }
  return largest;
}

// Over merged knots a[0 .. interior + 1] (the range ends around the interior knots): interior
// knots now at a range end, and copies beyond multiplicity p, are marked to go (drop[i] for
// interior knot i, 1-based). Returns their count.
int MarkMergeDrops(const double* a, int interior, int p, int* drop) {
  int drops = 0;
  int run = 0;
  for (int i = 1; i <= interior; ++i) {
    run = a[i] == a[i - 1] ? run + 1 : 1;
    drop[i] = a[i] == a[0] || a[i] == a[interior + 1] || run > p;
    drops += drop[i];
  }
  return drops;
}

// The range ends of U around its interior knots as a[0 .. interior + 1], allocated in the
// caller's scope, with knots closer than tol merged and the ends kept (PutCloseValToSameVal):
// 1 when any merged, 0 when none did, -2 on allocation failure.
int MergeCloseKnots(const double* U, int p, int n, int interior, double tol, double** a) {
  *a = MallocArray<double>(interior + 2);
  if (!*a || KernelFailed()) return -2;
  (*a)[0] = U[p];
  std::memcpy(*a + 1, U + p + 1, sizeof(double) * interior);
  (*a)[interior + 1] = U[n];
  return PutCloseValToSameVal(*a, interior + 2, 1, tol) == 1 ? 1 : 0;
}

// Whether merging the knots of obj closer than tol (PutCloseKnotsToMultKnots) would delete a
// control line, which moves the curve by as much as the line stands out, uncounted by any
// bound; -2 on allocation failure.
int MergeWouldDropLines(const Bspline* obj, int dir, double tol) {
  dir = EffectiveDir(obj, dir);
  const int p = DegreeIn(obj, dir);
  const int interior = InteriorIn(obj, dir);
  if (interior < 1) return 0;
  TrackingScope scope;
  double* a = nullptr;
  const int merged = MergeCloseKnots(KnotsIn(obj, dir), p, CtrlIn(obj, dir), interior, tol, &a);
  if (merged != 1) return merged;
  auto* drop = MallocArray<int>(interior + 2);
  if (!drop || KernelFailed()) return -2;
  return MarkMergeDrops(a, interior, p, drop) > 0 ? 1 : 0;
}

// Samples per span at which MergeMove compares the object before and after the merge.
constexpr int kMergeSamplesPerSpan = 16;

// How far giving direction dir of obj the knot vector V (as long as its own, every knot moved a
// little) moves the object: the largest distance between each control line's curve over its
// own knots and over V (a rational line's points divided by their weights), at samples of every
// span of either vector, inside which both curves are polynomials (rational functions) of degree
// p. A surface's points are convex combinations of its lines' points across them.
double KnotChangeMove(const Bspline* obj, int dir, const double* V) {
  const int p = DegreeIn(obj, dir), n = CtrlIn(obj, dir);
  const double* U = KnotsIn(obj, dir);
  const bool surf = obj->kind == 2;
  const int lines = !surf ? 1 : dir ? NumCtrlU(obj) : NumCtrlV(obj);
  // Point k of line l: rows of the net are v, columns u.
  auto at = [&](double** M, int l, int k) { return !surf ? M[0][k] : dir ? M[k][l] : M[l][k]; };
  double move = 0.0;
  for (const double* spans : {U, V}) {
    int su = p, sv = p;
    for (int s = p; s < n; ++s) {
      if (!(spans[s + 1] > spans[s])) continue;
      for (int j = 0; j <= kMergeSamplesPerSpan; ++j) {
        const double t = spans[s] + (spans[s + 1] - spans[s]) * j / kMergeSamplesPerSpan;
        FindLowKnotIndex(U, p, t, &su, n);
        FindLowKnotIndex(V, p, t, &sv, n);
        double Nu[kMaxSplineDegree + 2], Nv[kMaxSplineDegree + 2];
        ComputeNubVals(U, p, t, su, Nu);
        ComputeNubVals(V, p, t, sv, Nv);
        for (int l = 0; l < lines; ++l) {
          double A[2][3] = {}, W[2] = {0.0, 0.0};
          for (int side = 0; side < 2; ++side) {
            const int span = side ? sv : su;
            const double* N = side ? Nv : Nu;
            for (int e = 0; e <= p; ++e) {
              const int k = span - p + e;
              const double w = obj->rational ? at(obj->W, l, k) : 1.0;
              A[side][0] += N[e + 1] * w * at(obj->X, l, k);
              A[side][1] += N[e + 1] * w * at(obj->Y, l, k);
              if (obj->dimension == 3) A[side][2] += N[e + 1] * w * at(obj->Z, l, k);
              W[side] += N[e + 1] * w;
            }
          }
          double gap[3];
          for (int c = 0; c < 3; ++c) gap[c] = A[0][c] / W[0] - A[1][c] / W[1];
          move = std::fmax(move, std::hypot(gap[0], gap[1], gap[2]));
        }
      }
    }
  }
  return std::isfinite(move) ? move : kNoValue;
}

// How far merging the knots of obj closer than tol (when it deletes no control line) moves the
// object (KnotChangeMove to the merged vector). -1 on allocation failure.
double MergeMove(const Bspline* obj, int dir, double tol) {
  dir = EffectiveDir(obj, dir);
  const int p = DegreeIn(obj, dir), n = CtrlIn(obj, dir), interior = InteriorIn(obj, dir);
  if (interior < 1) return 0.0;
  const double* U = KnotsIn(obj, dir);
  TrackingScope scope;
  double* a = nullptr;
  const int merged = MergeCloseKnots(U, p, n, interior, tol, &a);
  if (merged != 1) return merged == -2 ? -1.0 : 0.0;
  auto* V = MallocArray<double>(n + p + 1);
  if (!V || KernelFailed()) return -1.0;
  std::memcpy(V, U, sizeof(double) * (n + p + 1));
  std::memcpy(V + p + 1, a + 1, sizeof(double) * interior);
  return KnotChangeMove(obj, dir, V);
}

// ---- Object-level helpers ------------------------------------------------------------------

// Drops derived data after knots were removed; an exact form other than a plane no longer
// describes the object.
void ClearDerivedData(Bspline* obj) {
  if (obj->fitProps.flag || obj->propsB.flag) FreeBsplineProperties(obj);
  if (obj->quadricType != 0 && obj->quadricType != kPlaneQuadric) {
    FreeQuadricInfo(obj);  // frees the block too: only resetting the type would leak it
    obj->quadricType = 0;
    obj->quadric = nullptr;
  }
}

void NotAKnotMessage() {
  DebugMessageFormat("%s", MSGstr("Cannot remove knots which are not knots of the object."));
}

// 1 when every value of `list` (sorted) stands for an interior knot of U (LastIndexOfKnot:
// the range ends are not interior) and no knot is listed more often than it occurs; the values
// then take their knots' values. 0 otherwise.
int ListedKnotsPresent(const double* U, int p, int n, double* list, int count, double tol) {
  for (int i = 0; i < count;) {
    const int k = LastIndexOfKnot(U, p, n, list[i], tol);
    if (k <= p || k >= n) return 0;
    int listed = 0;
    for (; i < count && LastIndexOfKnot(U, p, n, list[i], tol) == k; ++i, ++listed) list[i] = U[k];
    if (listed > KnotMultiplicity(U, p, k)) return 0;
  }
  return 1;
}

Bspline* MakeLineCurve(Bspline* srf, int dir, int index) {
  Bspline* c = MallocNullBspline();
  if (!c || KernelFailed()) return nullptr;
  c->kind = 1;
  c->dimension = 3;
  c->rational = srf->rational;
  c->degreeU = DegreeIn(srf, dir);
  c->interiorU = InteriorIn(srf, dir);
  if (AllocateBsplineArrays(c) != 0 || KernelFailed()) {
    Free(c);
    return nullptr;
  }
  const int n = CtrlIn(srf, dir);
  std::memcpy(c->knotsU, KnotsIn(srf, dir), sizeof(double) * NumKnotsU(c));
  c->umin = c->knotsU[c->degreeU];
  c->umax = c->knotsU[n];
  for (int i = 0; i < n; ++i) {
    const int row = dir ? i : index;
    const int col = dir ? index : i;
    c->X[0][i] = srf->X[row][col];
    c->Y[0][i] = srf->Y[row][col];
    c->Z[0][i] = srf->Z[row][col];
    if (c->rational) c->W[0][i] = srf->W[row][col];
  }
  return c;
}

// Removes the listed knots from obj in one working form, so that a failure leaves it as it was.
// Ascending, one copy at a time (the knot vector shortened in between: the passes that take r
// copies at once divide by the shares of a cluster's width as the middle meeting does); with
// `inOrder` in the list's order, which is how the maximal removal measured them.
int RemoveListedKnots(Bspline* obj, int dir, const double* knots, int nknots, bool inOrder,
                      double* dev) {
  if (!BsplineSound(obj) || !knots || nknots < 1 || !AllFinite(knots, nknots)) {
    SetKernelError(-2);
    return -2;
  }
  dir = EffectiveDir(obj, dir);
  const int p = DegreeIn(obj, dir);
  const int n = CtrlIn(obj, dir);
  const double* U = KnotsIn(obj, dir);
  if (!U || p < 1 || p > kMaxSplineDegree) {
    SetKernelError(-2);
    return -2;
  }
  const double tol = kRelKnotTol * (U[n] - U[p]);

  TrackingScope scope;
  auto* list = MallocArray<double>(nknots);
  if (!list || KernelFailed()) return -2;
  std::memcpy(list, knots, sizeof(double) * nknots);
  HeapSort(nknots, list);
  // End knots cannot go (the elimination would run off the line), nor knots the object lacks.
  if (!ListedKnotsPresent(U, p, n, list, nknots, tol)) {
    NotAKnotMessage();
    SetKernelError(-2);
    return -2;
  }

  KnotInsertWork* w = nullptr;
  if (!InitKnotInsertionOfSound(obj, dir, 0, &w)) return -2;
  const bool wantBound = dev && *dev == -1.0 && nknots == 1;
  double bound = 0.0;
  for (int g = 0; g < nknots;) {
    const int r = 1;
    double* V = w->knots;
    const int m = w->n;
    const int k = LastIndexOfKnot(V, p, m, inOrder ? knots[g] : list[g], tol);
    if (k <= p || k >= m) {  // cannot happen after the check above; never eliminate off the line
      Free(w);
      SetKernelError(-2);
      return -2;
    }
    const int s = KnotMultiplicity(V, p, k);
    for (int l = 0; l < w->lines; ++l) {
      const Rows line = RowsOfWork(w, l);
      RemoveAKnotNTimesFromCurve(line, obj->rational != 0, V, m, p, V[k], k, s, r,
                                 wantBound ? &bound : nullptr);
      // The line now has m - r points; lines stay contiguous at the new length.
      for (int c = 0; c < line.coords; ++c) {
        double* base = line.c[c] - std::size_t(l) * m;
        std::memmove(base + std::size_t(l) * (m - r), line.c[c], sizeof(double) * (m - r));
      }
    }
    for (int q = k + 1; q < m + p + 1; ++q) V[q - r] = V[q];
    w->n -= r;
    w->interior -= r;
    g += r;
  }
  if (wantBound && !std::isfinite(bound)) {  // overflowed: the removal cannot be measured
    Free(w);
    SetKernelError(-2);
    return -2;
  }
  if (!EndKnotInsertion(obj, dir, w)) return -2;
  if (wantBound) *dev = bound;
  return 0;
}

}  // namespace

// ---- Record -----------------------------------------------------------------------------------

RemoveInfo* AllocateRemoveInfo(int count, int interior, int order, int samples, int is3D, int rational) {
  if (count < 0 || interior < 0 || order < 2 || order > kMaxSplineDegree + 1 || samples < order)
    return nullptr;
  const int coords = 2 + (is3D ? 1 : 0) + (rational ? 1 : 0);
  const std::int64_t n = std::int64_t(interior) + order;
  const std::int64_t nKnots = std::int64_t(interior) + 2 * order;
  const std::int64_t nSamples = (std::int64_t(interior) + 1) * samples;
  const std::int64_t width = order + 1;
  const std::int64_t header = (sizeof(RemoveInfo) + 7) / 8;
  const std::int64_t pointers = count + std::int64_t(count) * coords;
  const std::int64_t doubles = n * coords + nKnots + nSamples * (is3D ? 3 : 2) +
                               2 * std::int64_t(count) + std::int64_t(count) * coords * width;
  const std::int64_t ints = 6 * std::int64_t(count);
  const std::int64_t bytes = 8 * (header + pointers + doubles) + 4 * ints;
  auto* block = MallocArray<unsigned char>(bytes);
  if (!block || KernelFailed()) {
    Free(block);
    return nullptr;
  }
  std::memset(block, 0, static_cast<std::size_t>(bytes));
  auto* info = reinterpret_cast<RemoveInfo*>(block);
  auto** ptrs = reinterpret_cast<void**>(block + 8 * header);
  auto* d = reinterpret_cast<double*>(ptrs + pointers);
  auto take = [&d](std::int64_t k) {
    double* at = d;
    d += k;
    return at;
  };
  info->x = take(n);
  info->y = take(n);
  if (is3D) info->z = take(n);
  if (rational) info->w = take(n);
  info->knots = take(nKnots);
  info->sx = take(nSamples);
  info->sy = take(nSamples);
  if (is3D) info->sz = take(nSamples);
  info->values = take(count);
  info->costs = take(count);
  info->store = reinterpret_cast<double***>(ptrs);
  auto** rowPtrs = reinterpret_cast<double**>(ptrs + count);
  for (int c = 0; c < count; ++c) {
    info->store[c] = rowPtrs + std::size_t(c) * coords;
    for (int e = 0; e < coords; ++e) info->store[c][e] = take(width);
  }
  auto* ip = reinterpret_cast<int*>(d);
  int* intArrays[6];
  for (int k = 0; k < 6; ++k) intArrays[k] = ip + std::size_t(k) * count;
  info->rerank = intArrays[0];
  info->firstSpan = intArrays[1];
  info->spanCount = intArrays[2];
  info->knotSpan = intArrays[3];
  info->mult = intArrays[4];
  info->slots = intArrays[5];
  info->degree = order - 1;
  info->interior = interior;
  info->chosen = -1;
  info->capacity = count;
  info->maxInterior = interior;
  info->order = order;
  info->samples = samples;
  info->is3D = is3D ? 1 : 0;
  info->rational = rational ? 1 : 0;
  return info;
}

int UpdateRemoveInfo(RemoveInfo* info, const Bspline* obj, int count, int line, int dir) {
  if (!info || !obj || count < 0 || count > info->capacity) return -2;
  dir = EffectiveDir(obj, dir);
  const int p = DegreeIn(obj, dir);
  const int interior = InteriorIn(obj, dir);
  const int lines = dir ? NumCtrlU(obj) : NumCtrlV(obj);
  if (p + 1 != info->order || interior > info->maxInterior || line < 0 || line >= lines ||
      !KnotsIn(obj, dir))
    return -2;
  const int n = p + interior + 1;
  info->degree = p;
  info->interior = interior;
  std::memcpy(info->knots, KnotsIn(obj, dir), sizeof(double) * (n + p + 1));
  double** mats[4] = {obj->X, obj->Y, obj->Z, obj->W};
  double* rows[4] = {info->x, info->y, info->z, info->w};
  for (int i = 0; i < n; ++i) {
    const int row = dir ? i : line;
    const int col = dir ? line : i;
    const double w = obj->rational && obj->W ? obj->W[row][col] : 1.0;
    for (int c = 0; c < 3; ++c)
      if (rows[c]) rows[c][i] = mats[c] ? mats[c][row][col] * w : 0.0;
    if (rows[3]) rows[3][i] = w;
  }
  for (int c = 0; c < count; ++c) {
    info->slots[c] = c;
    info->rerank[c] = 1;
  }
  info->remaining = count;
  info->chosen = -1;
  return 0;
}

// ---- Given knots --------------------------------------------------------------------------

int RemoveNKnotsOfObj(Bspline* obj, int dir, double* knots, int nknots, double* dev) {
  // Forced, a removal recomputes a rational object's weights and can take one to zero or below,
  // which no record may hold: it is tried on a copy first and refused then.
  if (obj && obj->rational && BsplineSound(obj)) {
    Bspline* trial = CopyBsplineStruct(obj);
    if (!trial) return -2;
    const int tried = RemoveListedKnots(trial, dir, knots, nknots, false, nullptr);
    const bool sound = tried == 0 && BsplineSound(trial);
    FreeBspline(trial);
    if (tried != 0) return tried;
    if (!sound) {
      SetKernelError(-2);
      return -2;
    }
  }
  return RemoveListedKnots(obj, dir, knots, nknots, false, dev);
}

// ---- Maximal set ----------------------------------------------------------------------------

int RemoveAMaximalKnotSetOfObjSet(Bspline** objs, int n, int dir, double* cands, int ncands,
                                  int mode, int keep, double tol, double* dev) {
  if (!objs || n < 1 || !(tol > 0.0) || !std::isfinite(tol) || (mode != 3 && mode != 4)) return 0;
  // Bad numbers are a failure, not "nothing to remove": the caller must not go on with them.
  bool sound = !cands || ncands <= 0 || AllFinite(cands, ncands);
  for (int i = 0; i < n && sound; ++i) sound = BsplineSound(objs[i]);
  if (!sound) {
    SetKernelError(-2);
    return 0;
  }
  Bspline* lead = objs[0];
  const int d = EffectiveDir(lead, dir);
  const int p = DegreeIn(lead, d);
  if (p < 1 || p > kMaxSplineDegree || !KnotsIn(lead, d)) return 0;

  TrackingScope scope;
  const bool allKnots = !cands || ncands == InteriorIn(lead, d);
  double mergeMove = 0.0;  // what merging close knots moved the objects
  if (allKnots) {
    const double* U = KnotsIn(lead, d);
    const double mergeTol = kRelKnotTol * (U[CtrlIn(lead, d)] - U[p]);
    // A merge that would delete a control line is left out for every object: the lines stay
    // in step, and the knots of a cluster are candidates each, removed only within tol.
    bool merge = true;
    for (int i = 0; i < n && merge; ++i) {
      const int drops = MergeWouldDropLines(objs[i], dir, mergeTol);
      if (drops < 0) return 0;
      merge = drops == 0;
    }
    // Moving knots moves the objects too (across a cluster, by up to the size of the control
    // lines there): under a tolerance the move is spent from it, and a merge that would move
    // an object by more is left out.
    for (int i = 0; i < n && merge && mode == 3; ++i) {
      const double move = MergeMove(objs[i], dir, mergeTol);
      if (move < 0.0) return 0;
      mergeMove = std::max(mergeMove, move);
      merge = mergeMove <= tol;
    }
    if (!merge) mergeMove = 0.0;
    for (int i = 0; i < n && merge; ++i) {
      int moved = 0;
      int deleted = 0;
      if (PutCloseKnotsToMultKnots(objs[i], dir, mergeTol, &moved, &deleted) < 0) return 0;
    }
  }
  tol -= mergeMove;
  const int interior = InteriorIn(lead, d);
  const int ctrl = CtrlIn(lead, d);
  const double* U = KnotsIn(lead, d);
  if (interior == 0) return 0;
  const int count = allKnots ? interior : ncands;
  if (count < 1) return 0;
  auto* list = MallocArray<double>(count);
  auto* removed = MallocArray<double>(count);
  if (!list || !removed || KernelFailed()) return 0;
  std::memcpy(list, allKnots ? U + p + 1 : cands, sizeof(double) * count);
  HeapSort(count, list);
  const double knotTol = kRelKnotTol * (U[ctrl] - U[p]);
  if (!ListedKnotsPresent(U, p, ctrl, list, count, knotTol)) {
    NotAKnotMessage();
    return 0;
  }
  // The lines: every control line across the direction of every object (a curve's one line).
  // All must share the lead's degree and interior count in that direction.
  bool is3D = false;
  bool rational = false;
  for (int i = 0; i < n; ++i) {
    const int di = EffectiveDir(objs[i], dir);
    if (DegreeIn(objs[i], di) != p || InteriorIn(objs[i], di) != interior) return 0;
    is3D = is3D || objs[i]->dimension == 3;
    rational = rational || objs[i]->rational;
  }
  // Object i's lines are numbered from firstLine[i]; every object is held to tol, not the
  // first alone: the knots go from all of them.
  auto* firstLine = MallocArray<int>(n + 1);
  if (!firstLine || KernelFailed()) return 0;
  firstLine[0] = 0;
  for (int i = 0; i < n; ++i) {
    const Bspline* o = objs[i];
    const long long more = o->kind == 2 ? (EffectiveDir(o, dir) ? NumCtrlU(o) : NumCtrlV(o)) : 1;
    if (firstLine[i] + more > INT_MAX) return 0;
    firstLine[i + 1] = firstLine[i] + static_cast<int>(more);
  }
  const int lines = firstLine[n];

  const int perSpan = SamplesPerSpan(objs, n, p);
  double*** samples = allocate_3dim_matrix_ff(5, interior + 1, perSpan);
  RemoveInfo* info = AllocateRemoveInfo(count, interior, p + 1, perSpan, is3D, rational);
  auto* order = MallocArray<double>(count);
  if (!samples || !info || !order || KernelFailed()) return 0;
  ComputePntsPerSpanParVals1D(U, p, interior, perSpan, samples[3]);
  globalTest = 1;
  const int spans = interior + 1;
  auto load = [&](int l, int size) {
    int i = 0;
    while (firstLine[i + 1] <= l) ++i;
    return UpdateRemoveInfo(info, objs[i], size, l - firstLine[i], dir) == 0;
  };
  // Shrinks the candidate list on line l to what that line can lose; `order` keeps the order
  // in which it lost them, `list` the same values ascending for the next line.
  int left = count;
  auto shrinkOn = [&](int l) {
    if (!load(l, left)) return false;
    std::memcpy(info->values, list, sizeof(double) * left);
    MakeDeviationInfo(info, samples, spans);
    double lineDev = 0.0;
    const int kept =
        ComputeMaximalKnotSetToRemove(info, samples, spans, mode, keep, tol, removed, &lineDev);
    if (kept < 0) return false;
    left = kept;
    std::memcpy(order, removed, sizeof(double) * left);
    std::memcpy(list, removed, sizeof(double) * left);
    HeapSort(left, list);
    return true;
  };
  for (int l = 0; l < lines && left > 0; ++l)
    if (!shrinkOn(l)) return 0;

  // A line's verdict holds for the order in which that line removed the knots; removing the
  // final set in another order, or removing only part of what an earlier line accepted, can
  // move it further. So the last order is replayed on every line and kept only when every line
  // stays within tol; a line that does not takes its own pick from the set (at least one knot
  // fewer), and the check starts again.
  double largest = 0.0;
  while (left > 0) {
    bool accepted = true;
    largest = 0.0;
    for (int l = 0; l < lines; ++l) {
      if (!load(l, left)) return 0;
      MakeDeviationInfo(info, samples, spans);
      const double spent = ReplayRemovalOrder(info, samples, spans, order, left);
      if (spent < 0.0) return 0;
      if (mode == 4 || spent <= tol) {
        largest = std::max(largest, spent);
        continue;
      }
      accepted = false;
      const int before = left;
      if (!shrinkOn(l)) return 0;
      if (left == before) {  // its own order suits this line but not another: drop its last pick
        --left;
        std::memcpy(list, order, sizeof(double) * left);
        HeapSort(left, list);
      }
      break;
    }
    if (accepted) break;
  }
  // Within tol, or forced, a removal can still take a control weight of a rational object to zero
  // or below, which no record may hold: picks go from the last until a trial copy of each such
  // object stays sound.
  while (rational && left > 0) {
    bool sound = true;
    for (int i = 0; i < n && sound; ++i) {
      if (!objs[i]->rational) continue;
      Bspline* trial = CopyBsplineStruct(objs[i]);
      if (!trial) return 0;
      sound = RemoveListedKnots(trial, dir, order, left, true, nullptr) == 0 && BsplineSound(trial);
      FreeBspline(trial);
      if (KernelFailed()) return 0;
    }
    if (sound) break;
    --left;
    std::memcpy(list, order, sizeof(double) * left);
    HeapSort(left, list);
  }
  if (dev) *dev = largest + mergeMove;
  if (left == 0) return 0;
  for (int i = 0; i < n; ++i)
    if (RemoveListedKnots(objs[i], dir, order, left, true, nullptr) != 0) return 0;
  if (cands) std::memcpy(cands, list, sizeof(double) * left);
  return left;
}

int RemoveKnotsOfObjSet(Bspline** objs, int n, int dir, int mode, double* knots, int nknots,
                        int keep, double tol, double* dev) {
  if (!objs || n < 1) return 0;
  int removed = 0;
  if (mode == 2) {
    if (nknots < 1) return 0;
    const bool wantBound = dev && *dev == -1.0 && nknots == 1;
    double largest = 0.0;
    for (int i = 0; i < n; ++i) {
      double bound = wantBound ? -1.0 : 0.0;
      if (RemoveNKnotsOfObj(objs[i], dir, knots, nknots, wantBound ? &bound : nullptr) != 0)
        return 0;
      largest = std::max(largest, bound);
    }
    if (wantBound) *dev = largest;
    removed = nknots;
  } else if (mode == 3 || mode == 4) {
    removed = RemoveAMaximalKnotSetOfObjSet(objs, n, dir, knots, nknots, mode, keep, tol, dev);
  }
  if (removed > 0)
    for (int i = 0; i < n; ++i) ClearDerivedData(objs[i]);
  return removed;
}

int RemoveSpecifiedKnotOfObject(Bspline* obj, double t, int dir, double* dev) {
  if (!BsplineSound(obj) || !std::isfinite(t)) {
    SetKernelError(-2);
    return -2;
  }
  dir = EffectiveDir(obj, dir);
  const int p = DegreeIn(obj, dir);
  const int n = CtrlIn(obj, dir);
  const double* U = KnotsIn(obj, dir);
  if (!U || InteriorIn(obj, dir) < 1) {
    SetKernelError(-2);
    return -2;
  }
  int s = p;
  FindLowKnotIndex(U, p, t, &s, n);
  double value = t - U[s] <= U[s + 1] - t ? U[s] : U[s + 1];
  const bool atStart = value == U[p];
  const bool atEnd = value == U[n];
  if (atStart || atEnd) {
    if (!YesNoPrompt(MSGstr("Cannot remove end knots.\nRemove closest internal knot?"),
                     MSGstr("ABORT")))
      return -2;
    value = atStart ? U[p + 1] : U[n - 1];
  }
  double bound = -1.0;
  Bspline* set[1] = {obj};
  if (RemoveKnotsOfObjSet(set, 1, dir, 2, &value, 1, 0, 0.0, &bound) != 1) return -2;
  if (dev) *dev = bound;
  return 0;
}

// ---- Close knots --------------------------------------------------------------------------

int PutCloseValToSameVal(double* values, int n, int keepEnds, double tol) {
  if (!values || n < 2) return 0;
  if (keepEnds && values[n - 1] - values[0] < tol) return -2;
  bool changed = false;
  auto take = [&changed](double& v, double from) {
    if (v != from) {
      v = from;
      changed = true;
    }
  };
  const int lastForward = keepEnds ? n - 2 : n - 1;
  for (int i = 1; i <= lastForward; ++i)
    if (std::fabs(values[i] - values[i - 1]) < tol) take(values[i], values[i - 1]);
  if (keepEnds) {
    for (int i = n - 2; i >= 1; --i) {
      if (std::fabs(values[i + 1] - values[i]) >= tol) break;
      take(values[i], values[n - 1]);
    }
  } else if (values[n - 1] - values[0] < tol) {
    return 1;  // the whole range collapsed onto the first value
  }
  return changed ? 1 : 2;
}

int KnotMergeMove(const Bspline* obj, int dir, double tol, double* move) {
  if (!move || !RecordsSound({obj})) {
    if (!KernelFailed()) SetKernelError(-2);
    return -2;
  }
  *move = 0.0;
  const int drops = MergeWouldDropLines(obj, dir, tol);
  if (drops != 0) return drops < 0 ? -2 : 1;
  *move = MergeMove(obj, dir, tol);
  return *move < 0.0 ? -2 : 0;
}

int KnotVectorChangeMove(const Bspline* obj, int dir, const double* knots, double* move) {
  if (!move || !knots || !RecordsSound({obj})) {
    if (!KernelFailed()) SetKernelError(-2);
    return -2;
  }
  dir = EffectiveDir(obj, dir);
  const int p = DegreeIn(obj, dir), n = CtrlIn(obj, dir);
  if (!KnotVectorSound(knots, p, n)) {
    SetKernelError(-2);
    return -2;
  }
  *move = KnotChangeMove(obj, dir, knots);
  return 0;
}

int PutCloseKnotsToMultKnots(Bspline* obj, int dir, double tol, int* moved, int* deleted) {
  if (moved) *moved = 0;
  if (deleted) *deleted = 0;
  if (!BsplineSound(obj)) return -2;
  dir = EffectiveDir(obj, dir);
  const int p = DegreeIn(obj, dir);
  const int n = CtrlIn(obj, dir);
  const int interior = InteriorIn(obj, dir);
  double* U = KnotsIn(obj, dir);
  if (!U || interior < 1) return interior;

  TrackingScope scope;
  double* a = nullptr;
  const int merged = MergeCloseKnots(U, p, n, interior, tol, &a);
  if (merged != 1) return merged == -2 ? -2 : interior;
  auto* drop = MallocArray<int>(interior + 2);
  if (!drop || KernelFailed()) return -2;
  if (moved) *moved = 1;

  const int drops = MarkMergeDrops(a, interior, p, drop);
  if (drops == 0) {
    std::memcpy(U + p + 1, a + 1, sizeof(double) * interior);
    return interior;
  }
  KnotInsertWork* w = nullptr;
  if (!InitKnotInsertionOfSound(obj, dir, 0, &w)) return -2;
  // Interior knot i (1-based) is knot index p + i; its control line is index i. Lines are
  // compacted in order, so each moves down over ground already read.
  const int newN = n - drops;
  for (int k = 0; k < 4; ++k) {
    double* c = w->c[k];
    if (!c) continue;
    for (int l = 0; l < w->lines; ++l) {
      const double* src = c + std::size_t(l) * n;
      double* dst = c + std::size_t(l) * newN;
      int o = 0;
      for (int i = 0; i < n; ++i)
        if (i < 1 || i > interior || !drop[i]) dst[o++] = src[i];
    }
  }
  double* V = w->knots;
  int o = p + 1;
  for (int i = 1; i <= interior; ++i)
    if (!drop[i]) V[o++] = a[i];
  for (int e = 0; e <= p; ++e) V[o++] = a[interior + 1];
  w->n = newN;
  w->interior = interior - drops;
  if (!EndKnotInsertion(obj, dir, w)) return -2;
  if (deleted) *deleted = 1;
  return interior - drops;
}

// ---- Surface cleaning ---------------------------------------------------------------------

int CleanSurfaceToTangentPlaneTol(Bspline* srf, void* /*reserved*/, int dir, double lo, double hi,
                                  double tol, double angle, int keep, double* dev) {
  if (!BsplineSound(srf) || srf->kind != 2) return -2;
  dir = dir ? 1 : 0;
  const int p = DegreeIn(srf, dir);
  const int n = CtrlIn(srf, dir);
  const double* U = KnotsIn(srf, dir);
  if (!U || p < 1) return -2;
  const int lines = dir ? NumCtrlU(srf) : NumCtrlV(srf);

  TrackingScope scope;
  if (lines >= 2 && angle > 0.0) {
    Bspline* rows[4] = {MakeLineCurve(srf, dir, 0), MakeLineCurve(srf, dir, 1),
                        MakeLineCurve(srf, dir, lines - 1), MakeLineCurve(srf, dir, lines - 2)};
    if (KernelFailed()) {
      for (Bspline* r : rows) FreeBspline(r);  // their arrays are not in this scope
      return -2;
    }
    const double first = BoundaryDeviation(rows[0], rows[1], angle);
    const double last = BoundaryDeviation(rows[2], rows[3], angle);
    for (Bspline* r : rows) FreeBspline(r);
    // The boundary allowances bound the tolerance: knots go only where the surface stays
    // within what the tangent-plane angle allows next to its boundaries.
    tol = std::min({tol, first, last});
  }
  const double range = U[n] - U[p];
  const double rtol = kRelKnotTol * range;
  const bool loInside = lo > U[p] && lo < U[n];
  const bool hiInside = hi > U[p] && hi < U[n];
  double* cands = nullptr;
  int ncands = 0;
  const int interior = InteriorIn(srf, dir);
  if (loInside || hiInside) {
    cands = MallocArray<double>(std::max(interior, 1));
    if (!cands || KernelFailed()) return -2;
    for (int i = p + 1; i < n; ++i)
      if (U[i] > lo + rtol && U[i] < hi - rtol) cands[ncands++] = U[i];
    if (ncands == 0) return 0;
  }
  Bspline* set[1] = {srf};
  const int removed =
      RemoveKnotsOfObjSet(set, 1, dir, keep >= 1 ? 4 : 3, cands, ncands, keep, tol, dev);
  if (KernelFailed()) return -2;
  return removed;
}
