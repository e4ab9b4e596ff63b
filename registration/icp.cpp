#include "registration/icp.h"

#include <algorithm>
#include <cmath>

#include "cloud/poffset.h"
#include "cloud/princip.h"
#include "foundation/algebra.h"
#include "foundation/eigen.h"
#include "foundation/coreglob.h"
#include "foundation/makemat.h"
#include "foundation/minmax.h"
#include "foundation/sort.h"
#include "foundation/umalloc.h"
#include "platform/tstubs.h"
#include "registration/concpsr.h"
#include "registration/cpsr.h"
#include "registration/icploop.h"
#include "registration/register.h"
#include "registration/stepreg.h"

namespace {

RegVec Row(double* const* table, int i) {
  const double* r = table[i];
  return RegVec{{r[0], r[1], r[2], r[3]}, {r[4], r[5], r[6]}};
}

void SetRow(double** table, int i, const RegVec& v) {
  for (int k = 0; k < 4; ++k) table[i][k] = v.q[k];
  for (int k = 0; k < 3; ++k) table[i][4 + k] = v.t[k];
}

bool TreeReady(const KDTree* tree) {
  return tree && tree->coords && tree->coords[0] && tree->coords[1] && tree->coords[2];
}

// Leaves grow with the target so that a query touches about the same number of nodes.
int LeafSize(int n) {
  if (n < 1000) return 1;
  if (n <= 5000) return 5;
  if (n <= 20000) return 10;
  if (n <= 50000) return 20;
  if (n <= 1000000) return 40;
  return 100;
}

void ShiftErrors(double h[4], double e) {
  h[3] = h[2];
  h[2] = h[1];
  h[1] = h[0];
  h[0] = e;
}

using OwnedFloats = Owned<float, Free>;

// Iterations run on from a result to see whether its motion has stopped changing, and how far
// (a part of the rejection distance) they may move it: a settled loop's nearest points no longer
// change, and it stands still.
constexpr int kSettleIterations = 5;
constexpr double kSettled = 1e-3;
// The least share of the pairs' strongest hold a direction of motion must have to count as held.
constexpr double kLeastHold = 1e-3;
using OwnedTable = Owned<double*, matrix_free_ff>;

// The target's size (its box diagonal): the errors the searches weigh to decide on a coarse pass,
// a start or a retry are lengths, and the same registration scaled or moved must decide alike.
double TargetSize(const KDTree* tree) {
  double d2 = 0.0;
  for (int k = 0; k < 3; ++k) {
    double lo = 0.0, hi = 0.0;
    GetMinMaxF(tree->coords[k], tree->n, &lo, &hi);
    d2 += (hi - lo) * (hi - lo);
  }
  return std::sqrt(d2);
}

}  // namespace

int SetDefaultRegParams(RegParams* p) {
  if (!p) return -2;
  *p = RegParams{nullptr, 100, 0, nullptr, 0, 0, 40, kEmptyBoxBound, kEmptyBoxBound, 0.001, 0.0005};
  return 0;
}

int registr_transform_matrix(const RegVec* motion, double m[4][4]) {
  RegVec v = *motion;
  // The rotation lives on the stack: showing or applying a motion cannot run out of memory.
  double R[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  double* rows[3] = {R[0], R[1], R[2]};
  const int r = quaternion_rotation_matrix(v.q, rows) == 0 ? 0 : -2;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) m[i][j] = r == 0 ? R[j][i] : (i == j ? 1.0 : 0.0);
    m[i][3] = 0.0;
    m[3][i] = motion->t[i];
  }
  m[3][3] = 1.0;
  return r;
}

int TransformPntSet(const float* x, const float* y, const float* z, int n, const RegVec* motion, float* ox,
                    float* oy, float* oz) {
  if (!x || !y || !z || !motion || !ox || !oy || !oz) return -2;
  if (n < 1) return 0;
  for (double v : motion->q)
    if (!std::isfinite(v)) return -2;
  for (double v : motion->t)
    if (!std::isfinite(v)) return -2;
  double m[4][4];
  registr_transform_matrix(motion, m);
  bool overflow = false;
  for (int i = 0; i < n; ++i) {
    const double p[3] = {x[i], y[i], z[i]};
    for (int k = 0; k < 3; ++k) {
      const double v = p[0] * m[0][k] + p[1] * m[1][k] + p[2] * m[2][k] + m[3][k];
      const float f = static_cast<float>(v);
      // A point that is not a number moves to one (the callers skip it); a finite one must stay finite.
      overflow = overflow || (!std::isfinite(f) && std::isfinite(p[0] + p[1] + p[2]));
      (k == 0 ? ox : (k == 1 ? oy : oz))[i] = f;
    }
  }
  return overflow ? -2 : 0;
}

namespace {

// The pairs of one nearest-point search, split by maxDistance: the pairs within it packed to the
// front (`near` of them), the others packed to the back, so that the closed form can take the
// near ones alone. a holds the unmoved points of A, q their nearest target points (3 n floats
// each, x then y then z).
struct Pairs {
  float* a;
  float* q;
  int near;
  int placed;  // pairs at a distance that is a number, near or not
};

// A moved by the motion paired with its nearest target points: the error and largest distance of
// the pairs within maxDistance, their count (pairs non-null) and (its arrays non-null) every pair,
// far ones included. The moved point is queried in double. -2 (outputs untouched, pairs written)
// when no pair is within maxDistance.
int PairAndMeasure(const float* x, const float* y, const float* z, int n, const RegVec* motion, KDTree* tree,
                   double maxDistance, Pairs* pairs, double* error, double* largest) {
  double m[4][4];
  registr_transform_matrix(motion, m);
  const double limit = maxDistance * maxDistance;
  const float *tx = tree->coords[0], *ty = tree->coords[1], *tz = tree->coords[2];
  double total = 0.0, block = 0.0, far = -kEmptyBoxBound;
  int count = 0, blockCount = 0, back = n - 1, farPlaced = 0;
  const auto keep = [&](int slot, int i, float qx, float qy, float qz) {
    float *a = pairs->a, *q = pairs->q;
    a[slot] = x[i], a[n + slot] = y[i], a[2 * n + slot] = z[i];
    q[slot] = qx, q[n + slot] = qy, q[2 * n + slot] = qz;
  };
  for (int i = 0; i < n; ++i) {
    const double p[3] = {x[i], y[i], z[i]};
    double v[3];
    for (int k = 0; k < 3; ++k) v[k] = p[0] * m[0][k] + p[1] * m[1][k] + p[2] * m[2][k] + m[3][k];
    int j = -1;
    SearchKDTreeNearest(tree, v, &j);
    const double d2 = j < 0 ? NAN : tree->bestDist;
    if (!(d2 <= limit)) {
      farPlaced += d2 == d2;
      // A point the search could not place (not finite) pairs with itself: it moves nothing.
      if (pairs && pairs->a) j < 0 ? keep(back--, i, x[i], y[i], z[i]) : keep(back--, i, tx[j], ty[j], tz[j]);
      continue;
    }
    if (pairs && pairs->a) keep(count, i, tx[j], ty[j], tz[j]);
    block += d2;
    ++count;
    if (++blockCount > 1000) {
      total += block;
      block = 0.0;
      blockCount = 0;
    }
    far = std::max(far, d2);
  }
  if (pairs) pairs->near = count, pairs->placed = count + farPlaced;
  if (count < 1) return -2;
  *error = std::sqrt((total + block) / count);
  *largest = std::sqrt(far);
  return 0;
}

// The measure of progress under rejection: the mean over all pairs of the squared distance,
// each far pair counted at maxDistance (a truncated least-squares cost, which a step on the near
// pairs lowers however pairs come and go), as a length. The RMS of the near pairs alone rises as
// pairs come within reach while the motion improves, and would stall the loop far from the
// answer. Without far pairs (or without near ones) it is the RMS error itself. Points that are
// not numbers are no pairs at all: placed counts the others.
double Progress(double rms, int near, int placed, double maxDistance) {
  if (near <= 0 || near >= placed) return rms;
  return std::sqrt((rms * rms * near + maxDistance * maxDistance * (placed - near)) / placed);
}

// Progress of a motion over all of A; kEmptyBoxBound when no pair is within maxDistance.
double MotionProgress(const float* x, const float* y, const float* z, int n, const RegVec* motion, KDTree* tree,
                      double maxDistance) {
  Pairs count = {nullptr, nullptr, 0, 0};
  double e, m;
  if (PairAndMeasure(x, y, z, n, motion, tree, maxDistance, &count, &e, &m) != 0) return kEmptyBoxBound;
  return Progress(e, count.near, count.placed, maxDistance);
}

}  // namespace

int PntSetRegError(const float* x, const float* y, const float* z, int n, const RegVec* motion, KDTree* tree,
                   double maxDistance, double* error, double* largest) {
  if (!x || !y || !z || !motion || !TreeReady(tree) || !error || !largest) return -2;
  return PairAndMeasure(x, y, z, n, motion, tree, maxDistance, nullptr, error, largest);
}

int SimpleSampleCloud(Cloud* cloud, int target, float** x, float** y, float** z, int* count) {
  if (!cloud || !x || !y || !z || !count) return -2;
  const int n = cloud->npts;
  TrackingScope scope;
  float* sx = MallocArray<float>(n);
  float* sy = MallocArray<float>(n);
  float* sz = MallocArray<float>(n);
  if (!sx || !sy || !sz || KernelFailed()) return -2;
  const int step = (target >= 1 && n > target) ? std::max(n / target, 1) : 1;
  int m = 0;
  for (int i = 0; i < n; i += step, ++m) {
    sx[m] = cloud->x[i];
    sy[m] = cloud->y[i];
    sz[m] = cloud->z[i];
  }
  scope.keep();
  *x = sx;
  *y = sy;
  *z = sz;
  *count = m;
  return 0;
}

int pntset_covariance_matrix(const float* x, const float* y, const float* z, int n, double** M) {
  double centroid[3];
  if (n < 1 || PntsetCovMatrix(x, y, z, n, centroid, M) != 0)
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) M[i][j] = 0.0;
  return 0;
}

int Insert_registr_table(double** table, int rows, const RegVec* motion) {
  for (int r = rows - 1; r > 0; --r)
    for (int k = 0; k < 7; ++k) table[r][k] = table[r - 1][k];
  SetRow(table, 0, *motion);
  return 0;
}

int Func3ValExtrapolate(const double x[3], const double e[3], double smax, double* step) {
  *step = 0.0;
  if (std::fabs(e[0]) < 1e-6 || std::fabs(x[1]) < 1e-6) return 0;
  // Least-squares line through the three errors; its zero is one candidate step.
  double slope = (e[1] - e[0]) / x[1], intercept = e[0];
  double sx = 0, sxx = 0, sxe = 0, se = 0;
  for (int i = 0; i < 3; ++i) sx += x[i], sxx += x[i] * x[i], sxe += x[i] * e[i], se += e[i];
  double s1, s2;
  if (SolveLin2(sxx, sx, sxe, sx, 3.0, se, &s1, &s2) == 0) slope = s1, intercept = s2;
  const double L = std::fabs(slope) >= 1e-6 ? -intercept / slope : smax;
  // The parabola through all three; its vertex is the other. A refused system has no vertex.
  double A = 0.0, B = 0.0;
  if (SolveLin2(x[1] * x[1], x[1], e[1] - e[0], x[2] * x[2], x[2], e[2] - e[0], &s1, &s2) == 0) A = s1, B = s2;
  const double P = std::fabs(A) >= 1e-6 ? -0.5 * B / A : smax;
  if (P > 0.0 && P < smax && P < L)
    *step = P;
  else if (L > 0.0 && L < smax && L < P)
    *step = L;
  else if (P < 0.0 && L < smax)
    *step = L;
  else if (L > smax && P > smax)
    *step = smax;
  else if (L < 0.0 && P < 0.0)
    *step = smax;
  else
    *step = 0.5 * smax;
  return 0;
}

int UpdateICPRegistration(double** table, const double h[4], double c, double factor, RegVec* out, int* done) {
  *done = 0;
  double d1[7], d2[7], d3[7], o[7];
  double n1 = 0, n2 = 0, n3 = 0, d12 = 0, d23 = 0;
  for (int k = 0; k < 7; ++k) {
    d1[k] = table[0][k] - table[1][k];
    d2[k] = table[1][k] - table[2][k];
    d3[k] = table[2][k] - table[3][k];
    o[k] = table[0][k];
    n1 += d1[k] * d1[k], n2 += d2[k] * d2[k], n3 += d3[k] * d3[k];
    d12 += d1[k] * d2[k], d23 += d2[k] * d3[k];
  }
  *out = RegVec{{o[0], o[1], o[2], o[3]}, {o[4], o[5], o[6]}};
  if (n1 < 1e-6 || n2 < 1e-6 || n3 < 1e-6) return -2;
  const double l1 = std::sqrt(n1), l2 = std::sqrt(n2), l3 = std::sqrt(n3);
  const double cos1 = d12 / (l1 * l2), cos2 = d23 / (l2 * l3);
  if (std::fabs(cos1) < c || cos2 < c) return -2;
  const double x[3] = {0.0, -l1, -l1 - l2};
  double s;
  Func3ValExtrapolate(x, h, l1 * factor, &s);
  s = std::min(s, 20.0 * l1);
  for (int k = 0; k < 7; ++k) o[k] += s * d1[k] / l1;
  *out = RegVec{{o[0], o[1], o[2], o[3]}, {o[4], o[5], o[6]}};
  *done = 1;
  NormalizeQternion(out->q);
  return 0;
}

namespace {

int FreeSolve(const float* x, const float* y, const float* z, int n, const float* qx, const float* qy,
              const float* qz, const void*, RegVec* motion, double* residual) {
  const double s = register_point_sets(x, y, z, n, qx, qy, qz, motion);
  if (s < 0.0) return -2;
  *residual = s;
  return 0;
}

}  // namespace

ICPStep FreeICPStep() { return ICPStep{FreeSolve, nullptr, CurrentRegistrationMode() == 0 ? 1 : 0, 0}; }

namespace {

// Null, or a rotation about a point with every translation free.
bool IsFreeConstraint(const RegConstraint* c) { return !c || (c->kind == 4 && c->transFreedom == 3); }

int ConstrainedSolve(const float* x, const float* y, const float* z, int n, const float* qx, const float* qy,
                     const float* qz, const void* context, RegVec* motion, double* residual) {
  return ConstrainedRegCorPntSet(x, y, z, n, qx, qy, qz, static_cast<const RegConstraint*>(context), motion,
                                 residual);
}

}  // namespace

ICPStep ConstrainedICPStep(const RegConstraint* c, int simple) {
  return ICPStep{ConstrainedSolve, c, IsFreeConstraint(c) ? 1 : 0, simple};
}

// Method: pair A moved by the current motion with its nearest target points, solve the step's
// closed form of the unmoved A onto them, keep every improvement in the table (newest in row 0)
// and, once more than four were made, try the extrapolated step along the table's run. Only the
// documented tests end the loop: tolerance, relative tolerance, no change, iteration limit, four
// stalls (three in the simple loop), a user break, a step that refuses its pairs, or (but for the
// simple loop) a start without any pair in reach. A
// refused or worse extrapolation is simply not taken: the plain step stands. (It used to share the
// one status word with the start's evaluation, so the first refusal, often in the sixth
// iteration, stopped the loop a few percent of the part's size short of its tolerance.)
// The pairs found while evaluating the start or an accepted extrapolated motion serve the next
// iteration, so those searches are not repeated.
int RunICPLoop(const float* x, const float* y, const float* z, int n, const RegParams& params, KDTree* tree,
               const ICPStep& step, RegVec* motion, double* error, double* largest, int* brk,
               ICPLoopReport* report) {
  if (brk) *brk = 0;
  if (!x || !y || !z || !motion || !error || !largest || !brk || !step.solve || n < 1 || !TreeReady(tree) ||
      tree->n < 1)
    return -2;
  TrackingScope scope;
  const bool simple = step.simple == 1;
  const int stallLimit = simple ? 3 : 4;
  double** table = allocate_matrix_ff(4, 7);
  Pairs pairs = {MallocArray<float>(3, n), MallocArray<float>(3, n), 0, 0};
  if (!table || !pairs.a || !pairs.q || KernelFailed()) return -2;

  RegVec start = *motion;
  if (NormalizeQternion(start.q) != 0) return -2;
  *motion = start;
  RegVec cur = start;
  // The table holds translations and the extrapolation sees errors in units of the target's size:
  // its steps mix turns and shifts, and must weigh them alike at every size.
  const double size = TargetSize(tree);
  const double unit = size > 0.0 ? size : 1.0;
  const auto toTable = [unit](RegVec v) {
    for (double& t : v.t) t /= unit;
    return v;
  };
  const auto fromTable = [unit](RegVec v) {
    for (double& t : v.t) t *= unit;
    return v;
  };
  for (int r = 0; r < 4; ++r) SetRow(table, r, toTable(cur));
  double factor = 10.0;
  int improvements = 0, stalls = 0, slow = 0, iterations = 0;
  double e0 = kEmptyBoxBound, m0 = kEmptyBoxBound;
  const bool reach = PairAndMeasure(x, y, z, n, &cur, tree, params.maxDistance, &pairs, &e0, &m0) == 0;
  if (reach) *error = e0, *largest = m0;
  bool paired = true;  // pairs hold A and its nearest target points under cur
  // e and the table's errors h measure progress (the RMS error itself unless pairs lie beyond
  // maxDistance); rms is the error of the newest motion, rmsBest that of the table's row 0.
  const double p0 = Progress(e0, pairs.near, pairs.placed, params.maxDistance);
  double e = p0, h[4] = {p0, p0, p0, p0}, rms = e0, rmsBest = e0;
  ICPStop stop;

  for (;;) {
    const double prev = e;
    bool improved = false;
    double ignored, far;
    if (!paired) PairAndMeasure(x, y, z, n, &cur, tree, params.maxDistance, &pairs, &ignored, &far);
    // The closed form takes the pairs within maxDistance only: far pairs (points of A outside the
    // overlap) would drag the motion towards the target's cut edge, and their residual would hide
    // every gain of the near ones from the stopping tests. One or two near pairs fix no motion.
    // Without any near pair every pair takes part, as the loop always did.
    if (pairs.near > 0 && pairs.near < 3) {
      stop = ICPStop::TooFewPairs;
      break;
    }
    const int used = pairs.near > 0 ? pairs.near : n;
    const float *a = pairs.a, *q = pairs.q;
    RegVec solved = cur;
    double s = -1.0;
    const int refused = step.solve(a, a + n, a + 2 * n, used, q, q + n, q + 2 * n, step.context, &solved, &s);
    // A start without pairs ends the loop after this first solve (callers rely on the pass: it
    // leaves lastXform behind), its motion discarded like a refused one.
    if ((!reach && !simple) || refused != 0 || s < 0.0) {
      stop = reach || simple ? ICPStop::Refused : ICPStop::NoPairs;
      break;
    }
    cur = solved;
    paired = false;
    rms = std::sqrt(s);
    e = Progress(rms, used, pairs.placed, params.maxDistance);
    if (e < h[0]) {
      ShiftErrors(h, e);
      const RegVec row = toTable(cur);
      Insert_registr_table(table, 4, &row);
      rmsBest = rms;
      ++improvements;
      improved = true;
    }
    RegVec trial;
    int done = 0;
    const double hs[4] = {h[0] / unit, h[1] / unit, h[2] / unit, h[3] / unit};
    if (improvements > 4 && improved && step.extrapolate == 1 && !simple &&
        UpdateICPRegistration(table, hs, 0.925, factor, &trial, &done) == 0 && done == 1) {
      trial = fromTable(trial);
      double te = kEmptyBoxBound, tm = kEmptyBoxBound;
      if (PairAndMeasure(x, y, z, n, &trial, tree, params.maxDistance, &pairs, &te, &tm) == 0 &&
          Progress(te, pairs.near, pairs.placed, params.maxDistance) < e) {
        cur = trial;
        paired = true;
        rms = te;
        rmsBest = te;
        e = Progress(te, pairs.near, pairs.placed, params.maxDistance);
        ShiftErrors(h, e);
        const RegVec row = toTable(trial);
        Insert_registr_table(table, 4, &row);
        ++improvements;
        factor = std::min(2.0 * factor, 20.0);
      } else {
        factor = std::max(factor / 4.0, 0.1);
      }
    }
    if (user_break()) {
      *brk = 1;
      stop = ICPStop::Break;
      break;
    }
    ++iterations;
    stalls = e < prev ? 0 : stalls + 1;
    if (stalls == 0 && params.animate == 1 && rms < params.bestError) {
      double m[4][4];
      const RegVec shown = simple ? cur : fromTable(Row(table, 0));
      registr_transform_matrix(&shown, m);
      RegAnimation(m);
    }
    if (std::fabs(prev - e) < 1e-22 * unit || e < 1e-22 * unit) {
      stop = ICPStop::NoChange;
      break;
    }
    slow = (prev > 0.001 * unit && std::fabs(prev - e) / prev < params.relTolerance) ? slow + 1 : 0;
    if (slow > 2) {
      stop = ICPStop::RelTolerance;
      break;
    }
    if (rms <= params.tolerance) {
      stop = ICPStop::Tolerance;
      break;
    }
    if (iterations >= params.maxIterations || stalls >= stallLimit) {
      stop = iterations >= params.maxIterations ? ICPStop::IterationLimit : ICPStop::Stalled;
      break;
    }
  }
  double handed = e0;
  if (simple) {
    if (e < p0) {
      *motion = cur;
      double le, lm;
      if (PairAndMeasure(x, y, z, n, &cur, tree, params.maxDistance, nullptr, &le, &lm) == 0)
        *error = le, *largest = lm;
      handed = *error;
    }
  } else if (improvements > 0) {
    *motion = fromTable(Row(table, 0));
    *error = rmsBest;
    handed = rmsBest;
  }
  if (report) {
    const bool met = stop == ICPStop::Tolerance || stop == ICPStop::RelTolerance || stop == ICPStop::NoChange;
    *report = ICPLoopReport{iterations, handed, stop, met ? 1 : 0};
  }
  return 0;
}

int ICPPntSet(const float* x, const float* y, const float* z, int n, RegParams params, KDTree* tree,
              RegVec* motion, double* error, double* largest, int* brk) {
  return RunICPLoop(x, y, z, n, params, tree, FreeICPStep(), motion, error, largest, brk, nullptr);
}

namespace {

// Method of both searches over start motions: every start refined on a sample of A (coarse
// stage), the most promising on all of A (fine stage: half the starts when more than four, at
// most ten, five above 20,000 points, never more than the table has; starts within 0.01 of the
// best or with a coarse error above 40 times the best are skipped), and a short final pass from
// the best. The loops run on `work`, which the stages change as they go: a copy of the caller's
// record for the free search, the caller's own for the constrained one (whose loops are
// CICPPntSet and whose starts respect the constraint).
int SearchOverStarts(const float* x, const float* y, const float* z, int n, RegParams& work, bool constrained,
                     KDTree* tree, RegVec* motion, double* error, double* largest, int* brk) {
  RegVec best = *motion;
  if (NormalizeQternion(best.q) != 0) return -2;
  double e0 = kEmptyBoxBound, m0 = kEmptyBoxBound;
  PntSetRegError(x, y, z, n, &best, tree, work.maxDistance, &e0, &m0);
  double bestError = e0, bestLargest = m0;
  if (constrained) work.bestError = e0;
  const auto loop = [&](const float* lx, const float* ly, const float* lz, int ln, RegVec* r, double* e,
                        double* m, int* b) {
    return constrained ? CICPPntSet(lx, ly, lz, ln, &work, tree, r, e, m, b)
                       : ICPPntSet(lx, ly, lz, ln, work, tree, r, e, m, b);
  };

  TrackingScope scope;
  OwnedTable starts;
  int count = 0;
  const float *tx = tree->coords[0], *ty = tree->coords[1], *tz = tree->coords[2];
  if (constrained) {
    if (GetConstrainedInitQternion(x, y, z, n, tx, ty, tz, tree->n, work.constraint, starts.receive(), &count) !=
        0)
      return -2;
  } else if (work.startPoses && work.startCount >= 1) {
    starts.reset(allocate_matrix_ff(work.startCount, 7));
    if (!starts || KernelFailed()) return -2;
    for (int i = 0; i < work.startCount; ++i) SetRow(starts.get(), i, Row(work.startPoses, i));
    count = work.startCount;
  } else if (GetInitialQuaternion(x, y, z, n, tx, ty, tz, tree->n, starts.receive(), &count) != 0) {
    return -2;
  }
  double* keys = MallocArray<double>(count);
  int* order = MallocArray<int>(count);
  Owned<Cloud, FreeCloud> cloud(MakeCld(x, y, z, n, nullptr));
  if (!keys || !order || !cloud || KernelFailed()) return -2;
  OwnedFloats sx, sy, sz;
  int sn = 0;
  if (SimpleSampleCloud(cloud.get(), work.sampleCount, sx.receive(), sy.receive(), sz.receive(), &sn) != 0)
    return -2;
  cloud.reset();
  for (int i = 0; i < count; ++i) keys[i] = kEmptyBoxBound;

  // Coarse stage: every start refined on the sample, in place.
  const int maxIterations = work.maxIterations;
  work.maxIterations = n < 20000 ? 20 : 10;
  double cbest = kEmptyBoxBound;
  int broke = 0;
  for (int i = 0; i < count; ++i) {
    keys[i] = kEmptyBoxBound;
    work.bestError = cbest;
    RegVec r = Row(starts.get(), i);
    double e = kEmptyBoxBound, m = kEmptyBoxBound;
    const int rc = loop(sx.get(), sy.get(), sz.get(), sn, &r, &e, &m, &broke);
    if (KernelFailed()) return -2;
    SetRow(starts.get(), i, r);
    if (broke) break;
    if (rc == 0) {
      keys[i] = e;
      cbest = std::min(cbest, e);
      if (e < 0.1 * work.tolerance) break;
    }
  }
  if (broke) {
    *brk = 1;
    *motion = best;
    *error = bestError;
    *largest = bestLargest;
    return 0;
  }

  // Fine stage: the most promising starts on all of A.
  HeapSortWithIndexing(count, keys, order);
  int m = count;
  if (m > 4) m /= 2;
  m = std::min(m, 10);
  if (n > 20000) m = 5;
  m = std::min(m, count);  // a short table (a retry's four rows, a translation's two) has no fifth start
  work.bestError = kEmptyBoxBound;
  work.maxIterations = maxIterations / 2;
  const double size = TargetSize(tree);
  for (int k = 0; k < m; ++k) {
    const int j = order[k];
    RegVec r = Row(starts.get(), j);
    if (k > 0) {
      RegVec a = best, b = r;
      if (QternionDiff(&a, &b) < 0.01 || (keys[j] > 0.1 * size && keys[j] > 40.0 * bestError)) continue;
    }
    double e = kEmptyBoxBound, lm = kEmptyBoxBound;
    loop(x, y, z, n, &r, &e, &lm, &broke);
    if (KernelFailed()) return -2;
    if (e < bestError) {
      best = r;
      bestError = e;
      bestLargest = lm;
      work.bestError = e;
    }
    if (broke) {
      *brk = 1;
      break;
    }
    if (bestError < work.tolerance) break;
  }

  work.maxIterations = *brk ? 2 : 5;
  int lastBreak = 0;
  loop(x, y, z, n, &best, &bestError, &bestLargest, &lastBreak);
  if (KernelFailed()) return -2;
  if (lastBreak) *brk = 1;
  *motion = best;
  *error = bestError;
  *largest = bestLargest;
  return 0;
}

}  // namespace

int ICPtwoPntSetsGlobalSearch(const float* x, const float* y, const float* z, int n, RegParams params,
                              KDTree* tree, RegVec* motion, double* error, double* largest, int* brk) {
  if (brk) *brk = 0;
  if (!x || !y || !z || !motion || !error || !largest || !brk || n < 3 || !TreeReady(tree)) return -2;
  return SearchOverStarts(x, y, z, n, params, false, tree, motion, error, largest, brk);
}

int NewICPPntSet(const float* x, const float* y, const float* z, int n, RegParams params, KDTree* tree,
                 RegVec* motion, double* error, double* largest, int* brk) {
  // A start without any pair in reach has no error of its own to report.
  if (error) *error = kEmptyBoxBound;
  if (largest) *largest = kEmptyBoxBound;
  return RunICPLoop(x, y, z, n, params, tree, ConstrainedICPStep(params.constraint, 0), motion, error, largest,
                    brk, nullptr);
}

int CICPPntSet(const float* x, const float* y, const float* z, int n, RegParams* params, KDTree* tree,
               RegVec* motion, double* error, double* largest, int* brk) {
  if (brk) *brk = 0;
  if (!x || !y || !z || !params || !motion || !error || !largest || !brk || n < 1 || !TreeReady(tree) ||
      tree->n < 1)
    return -2;
  if (IsFreeConstraint(params->constraint)) return ICPPntSet(x, y, z, n, *params, tree, motion, error, largest, brk);
  const RegConstraint c = *params->constraint;
  *error = *largest = kEmptyBoxBound;
  ICPLoopReport report;
  if (RunICPLoop(x, y, z, n, *params, tree, ConstrainedICPStep(&c, 1), motion, error, largest, brk, &report) != 0)
    return -2;
  // A constraint the solver does not serve refuses the very first pairs: nothing was registered,
  // and the searches must not take the start for a result.
  return (report.stop == ICPStop::Refused || report.stop == ICPStop::TooFewPairs) && report.iterations == 0 ? -2 : 0;
}

int CICPPntSetsGlobalSearch(const float* x, const float* y, const float* z, int n, RegParams* params,
                            KDTree* tree, RegVec* motion, double* error, double* largest, int* brk) {
  if (brk) *brk = 0;
  if (!x || !y || !z || !params || !motion || !error || !largest || !brk || n < 3 || !TreeReady(tree)) return -2;
  if (IsFreeConstraint(params->constraint))
    return ICPtwoPntSetsGlobalSearch(x, y, z, n, *params, tree, motion, error, largest, brk);
  return SearchOverStarts(x, y, z, n, *params, true, tree, motion, error, largest, brk);
}

namespace {

// The tree over the target with leaves grown to its size, and the display switched by the
// caller's flag: the start of every registration of two clouds. Null when memory ran out.
KDTree* StartTwoClouds(const Cloud* B, int animate) {
  KDTree* tree = Create3DTree(B->x, B->y, B->z, B->npts, LeafSize(B->npts));
  if (!tree || KernelFailed()) {
    FreeKDTree(tree);
    return nullptr;
  }
  if (animate == 1)
    EnableRegAnimation();
  else
    DisableRegAnimation();
  return tree;
}

}  // namespace

namespace {

// Whether the result of a registration under rejection is fixed by its near pairs: 1 yes, 0 no,
// -1 when memory runs out. Two tests, both at the motion handed back:
// - it has stopped changing: a few more plain iterations (no tolerance to end them) move A's
//   box corners by no more than kSettled of the rejection distance; an error that changes
//   little can hide a motion still sliding along a flat-ish surface;
// - the near pairs hold all six degrees of freedom: the point-to-plane information of the pairs
//   (rows (q - c) x n / r and n per pair, n the target's normal from a plane fit over its
//   neighbours, c the pairs' centroid and r their RMS radius, so that turns and shifts weigh as
//   lengths) has its least eigenvalue above kLeastHold of its largest; a motion along a
//   direction they hardly hold (sliding on a plane, turning about its normal) is a guess.
int WellDetermined(const Cloud* A, Cloud* B, KDTree* tree, const RegParams& params, const RegVec& result) {
  TrackingScope scope;
  RegParams more = params;
  more.maxIterations = kSettleIterations;
  more.tolerance = 0.0;
  more.relTolerance = 0.0;
  more.animate = 0;
  RegVec next = result;
  double e = kEmptyBoxBound, m = kEmptyBoxBound;
  int broke = 0;
  if (RunICPLoop(A->x, A->y, A->z, A->npts, more, tree, FreeICPStep(), &next, &e, &m, &broke, nullptr) != 0)
    return KernelFailed() ? -1 : 0;
  double lo[3], hi[3];
  for (int k = 0; k < 3; ++k) lo[k] = HUGE_VAL, hi[k] = -HUGE_VAL;
  for (int i = 0; i < A->npts; ++i) {
    const double p[3] = {A->x[i], A->y[i], A->z[i]};
    for (int k = 0; k < 3; ++k)
      if (std::isfinite(p[k])) lo[k] = std::min(lo[k], p[k]), hi[k] = std::max(hi[k], p[k]);
  }
  double drift = 0.0;
  for (int c = 0; c < 8; ++c) {
    const double p[3] = {c & 1 ? hi[0] : lo[0], c & 2 ? hi[1] : lo[1], c & 4 ? hi[2] : lo[2]};
    double a[3], b[3];
    VecQterTrans3(p, &result, a);
    VecQterTrans3(p, &next, b);
    drift = std::max(drift, VecDist3(a, b));
  }
  if (!(drift <= kSettled * params.maxDistance)) return 0;

  float* nx = MallocArray<float>(B->npts);
  float* ny = MallocArray<float>(B->npts);
  float* nz = MallocArray<float>(B->npts);
  if (!nx || !ny || !nz) return -1;
  if (!ComputeCloud3DNormals(B, nx, ny, nz, nullptr)) {
    if (MemoryErrorSet()) return -1;
    ClearKernelError();
    return 0;  // no plane fits: nothing says what holds the motion
  }
  double mat[4][4];
  registr_transform_matrix(&result, mat);
  const double limit = params.maxDistance * params.maxDistance;
  // Three passes over the near pairs: their centroid, their radius, the information.
  double centre[3] = {0, 0, 0}, radius = 0.0, H[6][6] = {};
  int near = 0;
  for (int pass = 0; pass < 3; ++pass) {
    if (pass == 1 && near > 0)
      for (double& c : centre) c /= near;
    if (pass == 2 && near > 0) radius = std::sqrt(radius / near);
    for (int i = 0; i < A->npts; ++i) {
      const double p[3] = {A->x[i], A->y[i], A->z[i]};
      double v[3];
      for (int k = 0; k < 3; ++k) v[k] = p[0] * mat[0][k] + p[1] * mat[1][k] + p[2] * mat[2][k] + mat[3][k];
      int j = -1;
      SearchKDTreeNearest(tree, v, &j);
      if (j < 0 || !(tree->bestDist <= limit)) continue;
      const double q[3] = {B->x[j], B->y[j], B->z[j]}, n[3] = {nx[j], ny[j], nz[j]};
      if (pass == 0) {
        for (int k = 0; k < 3; ++k) centre[k] += q[k];
        ++near;
      } else if (pass == 1) {
        const double d[3] = {q[0] - centre[0], q[1] - centre[1], q[2] - centre[2]};
        radius += VecDotProd3(d, d);
      } else if (VecDotProd3(n, n) > 0.0) {
        const double d[3] = {(q[0] - centre[0]) / radius, (q[1] - centre[1]) / radius, (q[2] - centre[2]) / radius};
        double row[6];
        VecCrossProd3(d, n, row);
        for (int k = 0; k < 3; ++k) row[3 + k] = n[k];
        for (int r = 0; r < 6; ++r)
          for (int c = 0; c < 6; ++c) H[r][c] += row[r] * row[c];
      }
    }
  }
  if (near < 6 || !(radius > 0.0)) return 0;
  double** a = allocate_matrix_ff(6, 6);
  double d[6];
  if (!a) return -1;
  for (int r = 0; r < 6; ++r)
    for (int c = 0; c < 6; ++c) a[r][c] = H[r][c];
  const int solved = eigensystem(a, 6, d);
  matrix_free_ff(a);
  if (solved != 0) return -1;
  return d[5] > kLeastHold * d[0] ? 1 : 0;
}

}  // namespace

int ICPtwoClouds(Cloud* A, Cloud* B, RegParams params, RegVec* motion, double* error, double* largest, int* brk) {
  if (brk) *brk = 0;
  if (!A || !B || !motion || !error || !largest || !brk || A->npts < 3 || B->npts < 3) return -2;
  TrackingScope scope;
  Owned<KDTree, FreeKDTree> tree(StartTwoClouds(B, params.animate));
  if (!tree) return -2;

  RegVec best = *motion;
  if (NormalizeQternion(best.q) != 0) return -2;
  *motion = best;
  double e = kEmptyBoxBound, m = kEmptyBoxBound;
  if (PntSetRegError(A->x, A->y, A->z, A->npts, &best, tree.get(), params.maxDistance, &e, &m) != 0) return -2;
  const double startError = e, startLargest = m;
  const double size = TargetSize(tree.get());
  double bestError = e, bestLargest = m;
  params.bestError = e;
  // Under rejection the RMS of the near pairs cannot rank two motions (a worse one may keep fewer,
  // closer pairs): their progress over all of A does. Without rejection the errors rank them.
  const bool rejecting = params.maxDistance < kEmptyBoxBound;
  double bestProgress = rejecting ? MotionProgress(A->x, A->y, A->z, A->npts, &best, tree.get(), params.maxDistance)
                                  : bestError;
  bool moved = false;
  const auto better = [&](const RegVec& candidate, double candidateError) {
    const double p = rejecting
                         ? MotionProgress(A->x, A->y, A->z, A->npts, &candidate, tree.get(), params.maxDistance)
                         : candidateError;
    if (!(p < bestProgress)) return false;
    bestProgress = p;
    moved = true;
    return true;
  };

  int broke = 0;
  if (params.globalSearch == 1) {
    RegVec copy = best;
    double ge = kEmptyBoxBound, gm = kEmptyBoxBound;
    if (ICPtwoPntSetsGlobalSearch(A->x, A->y, A->z, A->npts, params, tree.get(), &copy, &ge, &gm, &broke) != 0)
      return -2;
    if (better(copy, ge)) best = copy, bestError = ge, bestLargest = gm, params.bestError = ge;
  } else if (bestError > 0.1 * size && bestError > 20.0 * params.tolerance) {
    // Coarse pass on a sample, started with the centroids brought together.
    double ca[3], cb[3];
    ComputeCenterOfMassCoord(A->x, A->y, A->z, A->npts, ca);
    ComputeCenterOfMassCoord(B->x, B->y, B->z, B->npts, cb);
    OwnedFloats sx, sy, sz;
    int sn = 0;
    if (SimpleSampleCloud(A, params.sampleCount, sx.receive(), sy.receive(), sz.receive(), &sn) == 0) {
      RegVec copy = best;
      for (int k = 0; k < 3; ++k) copy.t[k] += cb[k] - ca[k];
      RegParams coarse = params;
      coarse.maxIterations = 3;
      coarse.animate = 0;
      double ce = kEmptyBoxBound, cm = kEmptyBoxBound;
      ICPPntSet(sx.get(), sy.get(), sz.get(), sn, coarse, tree.get(), &copy, &ce, &cm, &broke);
      if (PntSetRegError(A->x, A->y, A->z, A->npts, &copy, tree.get(), params.maxDistance, &ce, &cm) == 0 &&
          better(copy, ce))
        best = copy, bestError = ce, bestLargest = cm, params.bestError = ce;
    }
  }
  if (KernelFailed()) return -2;
  NormalizeQternion(best.q);
  if (broke) {
    *brk = 1;
    *motion = best;
    *error = startError;
    *largest = startLargest;
    return 0;
  }

  // Main pass. Ended at once by too few pairs within maxDistance, it registered nothing, and
  // the start is no result to report as one.
  RegVec copy = best;
  double me = kEmptyBoxBound, mm = kEmptyBoxBound;
  ICPLoopReport report;
  RunICPLoop(A->x, A->y, A->z, A->npts, params, tree.get(), FreeICPStep(), &copy, &me, &mm, &broke, &report);
  if (KernelFailed()) return -2;
  if (report.stop == ICPStop::TooFewPairs && report.iterations == 0 && !moved) return -2;
  if (better(copy, me)) best = copy, bestError = me, bestLargest = mm, params.bestError = me;

  // A result just above the tolerance is often a shallow local minimum: retry from motions turned
  // one degree further about tilted axes.
  if (!broke && params.tolerance < bestError && bestError < 4.0 * params.tolerance && bestError > 0.001 * size) {
    RegVec seed = best;
    OwnedTable restarts;
    int nr = 0;
    if (GetPerturbedQuaternion(&seed, 0.017453292519943295, restarts.receive(), &nr) == 0) {
      RegParams retry = params;
      retry.startCount = nr;
      retry.startPoses = restarts.get();
      retry.maxIterations = 5;
      retry.animate = 0;
      RegVec r = best;
      double re = kEmptyBoxBound, rm = kEmptyBoxBound;
      ICPtwoPntSetsGlobalSearch(A->x, A->y, A->z, A->npts, retry, tree.get(), &r, &re, &rm, &broke);
      if (!broke) {
        retry.animate = params.animate;
        re = rm = kEmptyBoxBound;
        ICPPntSet(A->x, A->y, A->z, A->npts, retry, tree.get(), &r, &re, &rm, &broke);
        if (better(r, re)) best = r, bestError = re, bestLargest = rm;
      }
    }
    if (KernelFailed()) return -2;
  }
  if (broke) *brk = 1;
  // The loops hand back the largest distance of the motion they started from; the caller is
  // promised the result's (it used to see a start's, 0.07 on a unit part registered to 2e-8).
  double resultError, resultLargest;
  if (PntSetRegError(A->x, A->y, A->z, A->npts, &best, tree.get(), params.maxDistance, &resultError,
                     &resultLargest) == 0)
    bestLargest = resultLargest;
  *motion = best;
  *error = bestError;
  *largest = bestLargest;
  if (!rejecting || broke) return 0;
  const int determined = WellDetermined(A, B, tree.get(), params, best);
  if (determined < 0) return -2;
  return determined ? 0 : 1;
}

int CICPtwoClouds(Cloud* A, Cloud* B, RegParams* params, RegVec* motion, double* error, double* largest,
                  int* brk) {
  if (brk) *brk = 0;
  if (!A || !B || !params || !motion || !error || !largest || !brk) return -2;
  if (!params->constraint) return ICPtwoClouds(A, B, *params, motion, error, largest, brk);
  if (A->npts < 3 || B->npts < 3) return -2;
  TrackingScope scope;
  Owned<KDTree, FreeKDTree> tree(StartTwoClouds(B, params->animate));
  if (!tree) return -2;

  RegVec best = *motion;
  if (NormalizeQternion(best.q) != 0) return -2;
  *motion = best;
  double e = kEmptyBoxBound, m = kEmptyBoxBound;
  if (PntSetRegError(A->x, A->y, A->z, A->npts, &best, tree.get(), params->maxDistance, &e, &m) != 0) return -2;
  *error = e;
  *largest = m;
  double bestError = e, bestLargest = m;
  params->bestError = e;

  // A search over start motions, or a short coarse pass on a sample when the start is far off
  // (from the motion as it is: a centroid shift could leave the constraint).
  const int maxIterations = params->maxIterations;
  int broke = 0;
  if (params->globalSearch == 1) {
    RegVec copy = best;
    double ge = kEmptyBoxBound, gm = kEmptyBoxBound;
    if (CICPPntSetsGlobalSearch(A->x, A->y, A->z, A->npts, params, tree.get(), &copy, &ge, &gm, &broke) != 0)
      return -2;
    if (ge < bestError) best = copy, bestError = ge, bestLargest = gm;
  } else if (bestError > 0.1 * TargetSize(tree.get()) && bestError > 20.0 * params->tolerance) {
    OwnedFloats sx, sy, sz;
    int sn = 0;
    if (SimpleSampleCloud(A, params->sampleCount, sx.receive(), sy.receive(), sz.receive(), &sn) == 0) {
      RegVec copy = best;
      const int animate = params->animate;
      params->maxIterations = 3;
      params->animate = 0;
      double ce = kEmptyBoxBound, cm = kEmptyBoxBound;
      CICPPntSet(sx.get(), sy.get(), sz.get(), sn, params, tree.get(), &copy, &ce, &cm, &broke);
      params->animate = animate;
      if (PntSetRegError(A->x, A->y, A->z, A->npts, &copy, tree.get(), params->maxDistance, &ce, &cm) == 0 &&
          ce < bestError)
        best = copy, bestError = ce, bestLargest = cm, params->bestError = ce;
    }
  }
  if (KernelFailed()) return -2;
  NormalizeQternion(best.q);
  if (broke) {
    *brk = 1;
    *motion = best;
    return 0;
  }

  // Main pass. A constraint its solver refuses is reported, and so is a break here.
  params->maxIterations = maxIterations;
  RegVec copy = best;
  double me = kEmptyBoxBound, mm = kEmptyBoxBound;
  if (CICPPntSet(A->x, A->y, A->z, A->npts, params, tree.get(), &copy, &me, &mm, &broke) != 0 || KernelFailed())
    return -2;
  if (me < bestError) best = copy, bestError = me, bestLargest = mm, params->bestError = me;
  if (broke) *brk = 1;
  *motion = best;
  *error = bestError;
  *largest = bestLargest;
  return 0;
}
