// Refinement beside the textbook: copy + one knot + free of a cubic curve of 16 control points
// against a plain copy with malloc and Boehm's insertion into freshly allocated arrays; copy +
// 1,000 knots + free against the textbook's one-pass refinement of the knot vector; the whole-
// record check on entry timed beside copy + one knot + free (its share); and
// degree elevation 3 -> 4 (curve, and the 12 x 10 bicubic surface in u and in v) against the
// degree-elevation algorithm of the standard NURBS text (Bezier segments by knot insertion,
// each segment elevated, the inserted knots removed again). Both sides copy the input first and
// free the result, so both do the same memory work a caller would. Results are compared
// before timing; counters: ours_ns, ref_ns, ratio = ours / ref.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "bench/compare.h"
#include "bench/shapes.h"
#include "bspline/bsvalid.h"
#include "bspline/degelev.h"
#include "bspline/kinsert.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"

namespace {

// ---- plain records: the kernel's layout, allocated with malloc ------------------------------

double** PlainMatrix(int rows, int cols) {
  auto** m = static_cast<double**>(std::malloc(sizeof(double*) * rows));
  m[0] = static_cast<double*>(std::malloc(sizeof(double) * rows * cols));
  for (int r = 1; r < rows; ++r) m[r] = m[0] + r * cols;
  return m;
}

void PlainMatrixFree(double** m) {
  if (!m) return;
  std::free(m[0]);
  std::free(m);
}

Bspline* PlainCopy(const Bspline* s) {
  auto* d = static_cast<Bspline*>(std::malloc(sizeof(Bspline)));
  *d = *s;
  d->owner = nullptr;
  d->curves = nullptr;
  d->trims = nullptr;
  d->quadric = nullptr;
  const int nu = NumCtrlU(s), nv = s->kind == 2 ? NumCtrlV(s) : 1;
  auto knots = [](const double* k, int n) {
    auto* out = static_cast<double*>(std::malloc(sizeof(double) * n));
    std::memcpy(out, k, sizeof(double) * n);
    return out;
  };
  d->knotsU = knots(s->knotsU, NumKnotsU(s));
  d->knotsV = s->kind == 2 ? knots(s->knotsV, NumKnotsV(s)) : nullptr;
  auto matrix = [nu, nv](double** m) -> double** {
    if (!m) return nullptr;
    double** out = PlainMatrix(nv, nu);
    std::memcpy(out[0], m[0], sizeof(double) * nu * nv);
    return out;
  };
  d->X = matrix(s->X);
  d->Y = matrix(s->Y);
  d->Z = matrix(s->Z);
  d->W = s->rational ? matrix(s->W) : nullptr;
  return d;
}

void PlainFree(Bspline* b) {
  std::free(b->knotsU);
  std::free(b->knotsV);
  for (double** m : {b->X, b->Y, b->Z, b->W}) PlainMatrixFree(m);
  std::free(b);
}

// ---- Boehm: one knot u into a curve (homogeneous when rational) -----------------------------
void PlainInsertKnot(Bspline* c, double u) {
  const int p = c->degreeU, n = NumCtrlU(c);
  const double* U = c->knotsU;
  int k = p;  // U[k] <= u < U[k + 1]
  while (k < n - 1 && U[k + 1] <= u) ++k;
  auto* V = static_cast<double*>(std::malloc(sizeof(double) * (n + p + 2)));
  for (int i = 0; i <= k; ++i) V[i] = U[i];
  V[k + 1] = u;
  for (int i = k + 1; i < n + p + 1; ++i) V[i + 1] = U[i];
  double alpha[32];
  for (int i = k - p + 1; i <= k; ++i) alpha[i - (k - p + 1)] = (u - U[i]) / (U[i + p] - U[i]);
  const double* w = c->rational ? c->W[0] : nullptr;
  double* newW = nullptr;
  if (w) {
    newW = static_cast<double*>(std::malloc(sizeof(double) * (n + 1)));
    for (int i = 0; i <= k - p; ++i) newW[i] = w[i];
    for (int i = k; i < n; ++i) newW[i + 1] = w[i];
    for (int i = k - p + 1; i <= k; ++i) {
      const double a = alpha[i - (k - p + 1)];
      newW[i] = a * w[i] + (1.0 - a) * w[i - 1];
    }
  }
  for (double** m : {c->X, c->Y, c->Z}) {
    const double* P = m[0];
    auto* Q = static_cast<double*>(std::malloc(sizeof(double) * (n + 1)));
    for (int i = 0; i <= k - p; ++i) Q[i] = P[i];
    for (int i = k; i < n; ++i) Q[i + 1] = P[i];
    for (int i = k - p + 1; i <= k; ++i) {
      const double a = alpha[i - (k - p + 1)];
      Q[i] = w ? (a * P[i] * w[i] + (1.0 - a) * P[i - 1] * w[i - 1]) / newW[i]
               : a * P[i] + (1.0 - a) * P[i - 1];
    }
    std::free(m[0]);
    m[0] = Q;
  }
  if (w) {
    std::free(c->W[0]);
    c->W[0] = newW;
  }
  std::free(c->knotsU);
  c->knotsU = V;
  ++c->interiorU;
}

// ---- the textbook degree elevation, points of D doubles ------------------------------------
double Binomial(int n, int k) {
  double b = 1.0;
  for (int i = 1; i <= k; ++i) b = b * (n - k + i) / i;
  return b;
}

// Raises the degree of the n + 1 points Pw (knots U, degree p) by t. Writes Uh and Qw (room for
// the worst case) and returns nh (the new last control index).
int ElevateDegree(int n, int p, const double* U, const double* Pw, int D, int t, double* Uh,
                  double* Qw) {
  const int m = n + p + 1, ph = p + t, ph2 = ph / 2;
  std::vector<double> bezalfs((ph + 1) * (p + 1), 0.0);
  auto bz = [&](int i, int j) -> double& { return bezalfs[i * (p + 1) + j]; };
  std::vector<double> bpts((p + 1) * D), ebpts((ph + 1) * D), next((p + 1) * D);
  std::vector<double> alfs(p + 1);
  bz(0, 0) = bz(ph, p) = 1.0;
  for (int i = 1; i <= ph2; ++i) {
    const double inv = 1.0 / Binomial(ph, i);
    for (int j = std::max(0, i - t); j <= std::min(p, i); ++j)
      bz(i, j) = inv * Binomial(p, j) * Binomial(t, i - j);
  }
  for (int i = ph2 + 1; i <= ph - 1; ++i)
    for (int j = std::max(0, i - t); j <= std::min(p, i); ++j) bz(i, j) = bz(ph - i, p - j);
  auto pt = [D](double* base, int i) { return base + i * D; };
  auto cpt = [D](const double* base, int i) { return base + i * D; };
  // x = a x + (1 - a) y
  auto blend = [D](double* x, double a, const double* y) {
    for (int c = 0; c < D; ++c) x[c] = a * x[c] + (1.0 - a) * y[c];
  };
  int mh = ph, kind = ph + 1, r = -1, a = p, b = p + 1, cind = 1;
  double ua = U[0];
  std::memcpy(Qw, Pw, sizeof(double) * D);
  for (int i = 0; i <= ph; ++i) Uh[i] = ua;
  std::memcpy(bpts.data(), Pw, sizeof(double) * (p + 1) * D);
  while (b < m) {
    const int i0 = b;
    while (b < m && U[b] == U[b + 1]) ++b;
    const int mul = b - i0 + 1;
    mh += mul + t;
    const double ub = U[b];
    const int oldr = r;
    r = p - mul;
    const int lbz = oldr > 0 ? (oldr + 2) / 2 : 1;
    const int rbz = r > 0 ? ph - (r + 1) / 2 : ph;
    if (r > 0) {  // insert ub r times: a Bezier segment
      const double numer = ub - ua;
      for (int k = p; k > mul; --k) alfs[k - mul - 1] = numer / (U[a + k] - ua);
      for (int j = 1; j <= r; ++j) {
        const int save = r - j, s = mul + j;
        for (int k = p; k >= s; --k) blend(pt(bpts.data(), k), alfs[k - s], pt(bpts.data(), k - 1));
        std::memcpy(pt(next.data(), save), pt(bpts.data(), p), sizeof(double) * D);
      }
    }
    for (int i = lbz; i <= ph; ++i) {  // elevate the Bezier segment
      double* e = pt(ebpts.data(), i);
      std::fill(e, e + D, 0.0);
      for (int j = std::max(0, i - t); j <= std::min(p, i); ++j) {
        const double f = bz(i, j);
        const double* q = pt(bpts.data(), j);
        for (int c = 0; c < D; ++c) e[c] += f * q[c];
      }
    }
    if (oldr > 1) {  // remove ua oldr - 1 times
      int first = kind - 2, last = kind;
      const double den = ub - ua;
      const double bet = (ub - Uh[kind - 1]) / den;
      for (int tr = 1; tr < oldr; ++tr) {
        int i = first, j = last, kj = j - kind + 1;
        while (j - i > tr) {
          if (i < cind) {
            const double alf = (ub - Uh[i]) / (ua - Uh[i]);
            blend(pt(Qw, i), alf, cpt(Qw, i - 1));
          }
          if (j >= lbz) {
            const double g = j - tr <= kind - ph + oldr ? (ub - Uh[j - tr]) / den : bet;
            blend(pt(ebpts.data(), kj), g, pt(ebpts.data(), kj + 1));
          }
          ++i;
          --j;
          --kj;
        }
        --first;
        ++last;
      }
    }
    if (a != p)
      for (int i = 0; i < ph - oldr; ++i) Uh[kind++] = ua;
    for (int j = lbz; j <= rbz; ++j) std::memcpy(pt(Qw, cind++), pt(ebpts.data(), j), sizeof(double) * D);
    if (b < m) {
      for (int j = 0; j < r; ++j) std::memcpy(pt(bpts.data(), j), pt(next.data(), j), sizeof(double) * D);
      for (int j = r; j <= p; ++j) std::memcpy(pt(bpts.data(), j), cpt(Pw, b - p + j), sizeof(double) * D);
      a = b;
      ++b;
      ua = ub;
    } else {
      for (int i = 0; i <= ph; ++i) Uh[kind + i] = ub;
    }
  }
  return mh - ph - 1;
}

// Degree + 1 in dir of a plain record: the control lines of that direction are the
// coordinates of one point of D = lines x coords doubles (homogeneous when rational).
void PlainElevate(Bspline* s, int dir) {
  const bool surf = s->kind == 2, inV = surf && dir != 0;
  const int nu = NumCtrlU(s), nv = surf ? NumCtrlV(s) : 1;
  const int p = inV ? s->degreeV : s->degreeU;
  const int n = (inV ? nv : nu) - 1, lines = inV ? nu : nv;
  const double* U = inV ? s->knotsV : s->knotsU;
  const int coords = s->rational ? 4 : 3, D = lines * coords;
  double** mats[4] = {s->X, s->Y, s->Z, s->W};
  auto* Pw = static_cast<double*>(std::malloc(sizeof(double) * (n + 1) * D));
  for (int i = 0; i <= n; ++i)
    for (int l = 0; l < lines; ++l) {
      const int row = inV ? i : l, col = inV ? l : i;
      const double w = s->rational ? s->W[row][col] : 1.0;
      for (int c = 0; c < coords; ++c)
        Pw[i * D + l * coords + c] = c < 3 ? mats[c][row][col] * w : w;
    }
  const int m = n + p + 1;
  const int maxPoints = n + 1 + m;  // each distinct knot adds at most one point
  auto* Qw = static_cast<double*>(std::malloc(sizeof(double) * maxPoints * D));
  auto* Uh = static_cast<double*>(std::malloc(sizeof(double) * (maxPoints + p + 2)));
  const int nh = ElevateDegree(n, p, U, Pw, D, 1, Uh, Qw);
  const int newU = inV ? nu : nh + 1, newV = inV ? nh + 1 : nv;
  for (int c = 0; c < coords; ++c) {
    double** out = PlainMatrix(newV, newU);
    for (int i = 0; i <= nh; ++i)
      for (int l = 0; l < lines; ++l) {
        const double* q = Qw + i * D + l * coords;
        const double v = c < 3 && s->rational ? q[c] / q[3] : q[c];
        if (inV)
          out[i][l] = v;
        else
          out[l][i] = v;
      }
    PlainMatrixFree(mats[c]);
    mats[c] = out;
  }
  s->X = mats[0];
  s->Y = mats[1];
  s->Z = mats[2];
  if (s->rational) s->W = mats[3];
  std::free(Pw);
  std::free(Qw);
  if (inV) {
    std::free(s->knotsV);
    s->knotsV = Uh;
    s->interiorV = nh + 1 - (p + 2);
    s->degreeV = p + 1;
  } else {
    std::free(s->knotsU);
    s->knotsU = Uh;
    s->interiorU = nh + 1 - (p + 2);
    s->degreeU = p + 1;
  }
}

// ---- the textbook's one-pass refinement: the knots X (ascending) into a curve ------------------
// Each coordinate line refined into a fresh array, homogeneous when rational.
int PlainSpan(int n, int p, double u, const double* U) {
  if (u >= U[n + 1]) return n;
  int lo = p, hi = n + 1, mid = (lo + hi) / 2;
  while (u < U[mid] || u >= U[mid + 1]) {
    if (u < U[mid])
      hi = mid;
    else
      lo = mid;
    mid = (lo + hi) / 2;
  }
  return mid;
}

void PlainRefine(Bspline* c, const double* X, int count) {
  const int p = c->degreeU, n = NumCtrlU(c) - 1, m = n + p + 1, r = count - 1;
  const double* U = c->knotsU;
  const int a = PlainSpan(n, p, X[0], U), b = PlainSpan(n, p, X[r], U) + 1;
  auto* Ub = static_cast<double*>(std::malloc(sizeof(double) * (m + r + 2)));
  for (int j = 0; j <= a; ++j) Ub[j] = U[j];
  for (int j = b + p; j <= m; ++j) Ub[j + r + 1] = U[j];
  const int D = c->rational ? 4 : 3;
  double** mats[4] = {c->X, c->Y, c->Z, c->W};
  auto* Pw = static_cast<double*>(std::malloc(sizeof(double) * (n + 1) * D));
  auto* Qw = static_cast<double*>(std::malloc(sizeof(double) * (n + r + 2) * D));
  for (int i = 0; i <= n; ++i) {
    const double w = c->rational ? c->W[0][i] : 1.0;
    for (int d = 0; d < D; ++d) Pw[i * D + d] = d < 3 ? mats[d][0][i] * w : w;
  }
  auto copy = [D](double* to, const double* from) { std::memcpy(to, from, sizeof(double) * D); };
  for (int j = 0; j <= a - p; ++j) copy(Qw + j * D, Pw + j * D);
  for (int j = b - 1; j <= n; ++j) copy(Qw + (j + r + 1) * D, Pw + j * D);
  int i = b + p - 1, k = b + p + r;
  for (int j = r; j >= 0; --j) {
    while (X[j] <= U[i] && i > a) {
      copy(Qw + (k - p - 1) * D, Pw + (i - p - 1) * D);
      Ub[k--] = U[i--];
    }
    copy(Qw + (k - p - 1) * D, Qw + (k - p) * D);
    for (int l = 1; l <= p; ++l) {
      const int ind = k - p + l;
      double alfa = Ub[k + l] - X[j];
      double* q = Qw + (ind - 1) * D;
      if (alfa == 0.0) {
        copy(q, q + D);
      } else {
        alfa /= Ub[k + l] - U[i - p + l];
        for (int d = 0; d < D; ++d) q[d] = alfa * q[d] + (1.0 - alfa) * q[d + D];
      }
    }
    Ub[k--] = X[j];
  }
  const int nq = n + r + 2;
  for (int d = 0; d < D; ++d) {
    auto* out = static_cast<double*>(std::malloc(sizeof(double) * nq));
    for (int q = 0; q < nq; ++q)
      out[q] = d < 3 && c->rational ? Qw[q * D + d] / Qw[q * D + 3] : Qw[q * D + d];
    std::free(mats[d][0]);
    mats[d][0] = out;
  }
  std::free(Pw);
  std::free(Qw);
  std::free(c->knotsU);
  c->knotsU = Ub;
  c->interiorU += count;
}

// Largest difference of knots and coefficients; infinity when the shapes differ.
double Difference(const Bspline* a, const Bspline* b) {
  if (a->degreeU != b->degreeU || a->degreeV != b->degreeV || a->interiorU != b->interiorU ||
      a->interiorV != b->interiorV)
    return INFINITY;
  double d = 0.0;
  for (int i = 0; i < NumKnotsU(a); ++i) d = std::max(d, std::fabs(a->knotsU[i] - b->knotsU[i]));
  if (a->kind == 2)
    for (int i = 0; i < NumKnotsV(a); ++i) d = std::max(d, std::fabs(a->knotsV[i] - b->knotsV[i]));
  const int nu = NumCtrlU(a), nv = a->kind == 2 ? NumCtrlV(a) : 1;
  const double** ma[4] = {const_cast<const double**>(a->X), const_cast<const double**>(a->Y),
                          const_cast<const double**>(a->Z), const_cast<const double**>(a->W)};
  const double** mb[4] = {const_cast<const double**>(b->X), const_cast<const double**>(b->Y),
                          const_cast<const double**>(b->Z), const_cast<const double**>(b->W)};
  for (int c = 0; c < (a->rational ? 4 : 3); ++c)
    for (int j = 0; j < nv; ++j)
      for (int i = 0; i < nu; ++i) d = std::max(d, std::fabs(ma[c][j][i] - mb[c][j][i]));
  return d;
}

bool Agree(benchmark::State& state, double difference) {
  state.counters["max_diff"] = difference;
  if (difference <= 1e-12) return true;
  state.SkipWithError("kernel and reference results differ");
  return false;
}

// Runs the kernel's operation on a copy of proto and the reference on a plain copy and
// compares the results (Agree).
template <class Ours, class Ref>
bool SameResult(benchmark::State& state, Bspline* proto, Ours&& ours, Ref&& ref) {
  Bspline* a = CopyBsplineStruct(proto);
  ours(a);
  Bspline* b = PlainCopy(proto);
  ref(b);
  const double d = Difference(a, b);
  FreeBspline(a);
  PlainFree(b);
  return Agree(state, d);
}

// ---- benchmarks ------------------------------------------------------------------------------

void BM_CopyInsertFreeCubic16(benchmark::State& state) {
  Bspline* proto = bench::Cubic16(state.range(0) != 0);
  constexpr int kValues = 64;
  std::vector<double> values(kValues);
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> U(0.01, 0.99);
  for (double& v : values) v = U(rng);
  double worst = 0.0;
  for (double v : values) {
    Bspline* ours = CopyBsplineStruct(proto);
    double t = v;
    InsertNKnotsToObject(1, 1, 0, ours, 2, &t);
    Bspline* ref = PlainCopy(proto);
    PlainInsertKnot(ref, v);
    worst = std::max(worst, Difference(ours, ref));
    FreeBspline(ours);
    PlainFree(ref);
  }
  if (Agree(state, worst)) {
    int k = 0, j = 0;
    bench::Compare(
        state, kValues,
        [&] {
          Bspline* c = CopyBsplineStruct(proto);
          double t = values[k++ % kValues];
          InsertNKnotsToObject(1, 1, 0, c, 2, &t);
          benchmark::DoNotOptimize(c->X[0][8]);
          FreeBspline(c);
        },
        [&] {
          Bspline* c = PlainCopy(proto);
          PlainInsertKnot(c, values[j++ % kValues]);
          benchmark::DoNotOptimize(c->X[0][8]);
          PlainFree(c);
        });
  }
  FreeBspline(proto);
}
BENCHMARK(BM_CopyInsertFreeCubic16)->Arg(0)->Arg(1)->UseManualTime();

// 1,000 sorted random knots into the cubic of 16 points (copy, insert, free) against the
// textbook's one-pass refinement on a plain copy.
void BM_CopyRefine1000Cubic16(benchmark::State& state) {
  Bspline* proto = bench::Cubic16(state.range(0) != 0);
  // Random values apart from each other and from the knots by more than the kernel's snapping
  // distance, so that both sides insert the same values.
  std::vector<double> values;
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> U(0.01, 0.99);
  auto clear = [&](double v) {
    for (int i = 0; i < NumKnotsU(proto); ++i)
      if (std::fabs(v - proto->knotsU[i]) < 1e-5) return false;
    for (double x : values)
      if (std::fabs(v - x) < 1e-5) return false;
    return true;
  };
  while (values.size() < 1000)
    if (const double v = U(rng); clear(v)) values.push_back(v);
  std::sort(values.begin(), values.end());
  std::vector<double> given = values;
  if (!SameResult(
          state, proto, [&](Bspline* c) { InsertNKnotsToObject(1, 1000, 0, c, 2, given.data()); },
          [&](Bspline* c) { PlainRefine(c, values.data(), 1000); })) {
    FreeBspline(proto);
    return;
  }
  bench::Compare(
      state, 4,
      [&] {
        Bspline* c = CopyBsplineStruct(proto);
        std::copy(values.begin(), values.end(), given.begin());
        InsertNKnotsToObject(1, 1000, 0, c, 2, given.data());
        benchmark::DoNotOptimize(c->X[0][8]);
        FreeBspline(c);
      },
      [&] {
        Bspline* c = PlainCopy(proto);
        PlainRefine(c, values.data(), 1000);
        benchmark::DoNotOptimize(c->X[0][8]);
        PlainFree(c);
      });
  FreeBspline(proto);
}
BENCHMARK(BM_CopyRefine1000Cubic16)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMicrosecond);

// The price of refusing bad records: the whole-record check that the insertion makes on entry
// (BsplineSound), timed alone against copy + one knot + free. Counters: check_ns, total_ns and
// their share.
void BM_RecordCheckCubic16(benchmark::State& state) {
  Bspline* proto = bench::Cubic16(state.range(0) != 0);
  int k = 0;
  bench::Compare(
      state, 64, [&] { benchmark::DoNotOptimize(BsplineSound(proto)); },
      [&] {
        Bspline* c = CopyBsplineStruct(proto);
        double t = 0.1 + 0.8 * ((k++ % 64) / 64.0);
        InsertNKnotsToObject(1, 1, 0, c, 2, &t);
        benchmark::DoNotOptimize(c->X[0][8]);
        FreeBspline(c);
      });
  state.counters["check_ns"] = state.counters["ours_ns"];
  state.counters["total_ns"] = state.counters["ref_ns"];
  state.counters["share"] = state.counters["ratio"];
  for (const char* name : {"ours_ns", "ref_ns", "ratio"}) state.counters.erase(name);
  FreeBspline(proto);
}
BENCHMARK(BM_RecordCheckCubic16)->Arg(0)->Arg(1)->UseManualTime();

// Copy + free alone, against the plain copy.
void BM_CopyFreeCubic16(benchmark::State& state) {
  Bspline* proto = bench::Cubic16(state.range(0) != 0);
  bench::Compare(
      state, 64,
      [&] {
        Bspline* c = CopyBsplineStruct(proto);
        benchmark::DoNotOptimize(c->X[0][8]);
        FreeBspline(c);
      },
      [&] {
        Bspline* c = PlainCopy(proto);
        benchmark::DoNotOptimize(c->X[0][8]);
        PlainFree(c);
      });
  FreeBspline(proto);
}
BENCHMARK(BM_CopyFreeCubic16)->Arg(0)->Arg(1)->UseManualTime();

// Degree 3 -> 4; args: 0 curve, 1 surface in u, 2 surface in v; rational.
void BM_ElevateDegree(benchmark::State& state) {
  const int what = static_cast<int>(state.range(0));
  const bool rational = state.range(1) != 0;
  Bspline* proto = what == 0 ? bench::Cubic16(rational) : bench::Bicubic(rational);
  const int dir = what == 2 ? 1 : 0;
  if (!SameResult(
          state, proto, [&](Bspline* c) { IncrementDegreeOfObject(dir, c); },
          [&](Bspline* c) { PlainElevate(c, dir); })) {
    FreeBspline(proto);
    return;
  }
  bench::Compare(
      state, what == 0 ? 16 : 2,
      [&] {
        Bspline* c = CopyBsplineStruct(proto);
        IncrementDegreeOfObject(dir, c);
        benchmark::DoNotOptimize(c->X[0][3]);
        FreeBspline(c);
      },
      [&] {
        Bspline* c = PlainCopy(proto);
        PlainElevate(c, dir);
        benchmark::DoNotOptimize(c->X[0][3]);
        PlainFree(c);
      });
  FreeBspline(proto);
}
BENCHMARK(BM_ElevateDegree)
    ->ArgsProduct({{0, 1, 2}, {0, 1}})
    ->ArgNames({"obj", "rat"})
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace
