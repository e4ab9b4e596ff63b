#include "bspline/degelev.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "bspline/bsvalid.h"
#include "bspline/kinsert.h"
#include "bspline/nubutil.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "foundation/coreglob.h"
#include "foundation/makemat.h"
#include "foundation/umalloc.h"

namespace {

int DegreeOf(const Bspline* obj, int dir) {
  return obj->kind == 2 && dir != 0 ? obj->degreeV : obj->degreeU;
}

// Whether a sound object can be raised by one in dir: a degree from 1 up to one below the
// kernel's limit, and ends clamped. Ends clamped to within 1e-6 of the range count: they are
// raised as their knots stand, the raising matrix holding on any knot vector.
bool RaisableIn(const Bspline* obj, int dir) {
  dir = obj->kind == 2 && dir != 0 ? 1 : 0;
  const int p = DegreeOf(obj, dir);
  if (p < 1 || p + 1 > kMaxSplineDegree) return false;
  const int count = dir ? NumKnotsV(obj) : NumKnotsU(obj);
  const double* U = dir ? obj->knotsV : obj->knotsU;
  const double tol = 1e-6 * (U[count - 1] - U[0]);
  for (int i = 1; i <= p; ++i)
    if (U[i] - U[0] > tol || U[count - 1] - U[count - 1 - i] > tol) return false;
  return true;
}

}  // namespace

int AddUniqueKnotsToArray(const double* knots, double* out, int count) {
  if (!knots || !out || count < 1) return 0;
  int o = 0;
  int distinct = 0;
  for (int i = 0; i < count; ++i) {
    out[o++] = knots[i];
    if (i == count - 1 || knots[i + 1] != knots[i]) {
      out[o++] = knots[i];
      ++distinct;
    }
  }
  return distinct;
}

namespace {

// The raising matrix, row by row: N_i of degree p on U is sum_j a_ij N_j of degree p + 1 on V,
// so raised point j is sum_i a_ij P_i. Every a_ij is a sum of products of ratios in [0, 1]
// and the column sums are 1: each raised point is a convex combination of the old ones, exact
// to the round-off of the coordinates however the knots cluster (the blossom recursion and the
// knot removal of the segment method divide by spans that may be tiny beside their
// neighbours). The row comes from the identity
//   N_i(x) = 1 / (p + 1) sum_{k=0}^{p+1} B_k(x),
// B_k the degree p + 1 B-spline on U[i] .. U[i+p+1] with U[i+k] once more, each B_k refined to
// V by inserting the knots V has there beside its own (Boehm: ratios in [0, 1], the B-spline a
// single coefficient 1 at the start). q = p + 1 throughout; the row's entries cover V indices
// first .. first + count - 1, at most p + 2 of them.
struct RaisingRow {
  int first;
  int count;
  double a[kMaxSplineDegree + 2];
};

// The one knot u (strictly inside the local vector) into the local B-spline expansion: knots
// t[0 .. len - 1], coefficients c[0 .. len - q - 2] of degree q.
void InsertIntoLocal(double* t, int* len, double* c, int q, double u) {
  const int m = *len - q - 1;  // coefficients before
  int l = *len - 2;
  while (l > 0 && t[l] > u) --l;  // last knot at or below u (u lies below t[len - 1])
  for (int j = m; j >= 0; --j) {
    if (j >= l + 1) {
      c[j] = c[j - 1];
    } else if (j > l - q) {
      const double alpha = (u - t[j]) / (t[j + q] - t[j]);
      const double here = j < m ? c[j] : 0.0, before = j > 0 ? c[j - 1] : 0.0;
      c[j] = alpha * here + (1.0 - alpha) * before;
    }
  }
  for (int r = *len; r > l + 1; --r) t[r] = t[r - 1];
  t[l + 1] = u;
  ++*len;
}

// Row i of the raising matrix from the old knots U (of old point i: U[i] .. U[i+p+1]) and the
// raised knots V (nV of them). A row of an empty B-spline is empty.
void RaisingRowOf(const double* U, const double* V, int nV, int p, int i, RaisingRow* row) {
  const int q = p + 1;
  const double lo = U[i], hi = U[i + q];
  row->first = 0;
  row->count = 0;
  if (!(lo < hi)) return;
  int w0 = 1, wl = 1;  // copies of lo and of hi in U[i] .. U[i+q]
  while (U[i + w0] == lo) ++w0;
  while (U[i + q - wl] == hi) ++wl;
  // V holds every copy U has of a value and one more: the last copy of lo and the first of hi.
  const int loEnd = static_cast<int>(std::upper_bound(V, V + nV, lo) - V) - 1;
  const int hiStart = static_cast<int>(std::lower_bound(V, V + nV, hi) - V);
  row->first = loEnd - w0;  // w0 + 1 copies of lo when U[i+k] is lo
  row->count = hiStart + wl - row->first - q;
  // A V that is not U raised leaves the row empty rather than reach outside either.
  if (row->first < 0 || row->count < 1 || row->count > q + 1 || hiStart + wl >= nV) {
    row->first = row->count = 0;
    return;
  }
  for (int e = 0; e < row->count; ++e) row->a[e] = 0.0;
  for (int k = 0; k <= q; ++k) {
    const double extra = U[i + k];
    double t[2 * kMaxSplineDegree + 6];
    double c[kMaxSplineDegree + 3] = {1.0};
    int len = 0;
    for (int r = 0; r <= q; ++r) {
      if (r == k) t[len++] = extra;
      t[len++] = U[i + r];
    }
    const int a = loEnd - (w0 + (extra == lo)) + 1;
    const int b = hiStart + (wl + (extra == hi)) - 1;
    // V[a .. b] holds the local vector; the knots it has beside it go in, left to right.
    for (int v = a, at = 0; v <= b; ++v) {
      if (at < len && t[at] == V[v]) {
        ++at;
        continue;
      }
      InsertIntoLocal(t, &len, c, q, V[v]);
      ++at;
    }
    const int shift = a - row->first;
    for (int e = 0; e + q + 1 < len; ++e) row->a[shift + e] += c[e] / q;
  }
}

// dst (the n + distinct - 1 points of every line of every array, zeroed here) from src (n
// points per line) by the raising matrix.
void RaiseLines(const double* const* src, double* const* dst, int arrays, const double* U,
                const double* V, int n, int lines, int p, int distinct) {
  const int raised = n + distinct - 1;
  const int nV = n + p + 1 + distinct;
  for (int k = 0; k < arrays; ++k)
    std::memset(dst[k], 0, sizeof(double) * std::size_t(raised) * lines);
  RaisingRow row;
  for (int i = 0; i < n; ++i) {
    RaisingRowOf(U, V, nV, p, i, &row);
    for (int k = 0; k < arrays; ++k)
      for (int l = 0; l < lines; ++l) {
        const double x = src[k][std::size_t(l) * n + i];
        double* to = dst[k] + std::size_t(l) * raised + row.first;
        for (int e = 0; e < row.count; ++e) to[e] += row.a[e] * x;
      }
  }
}

// The segment method, for a clamped direction without knots of full multiplicity inside, up
// to degree kSegmentDegree (beyond it the round-off of its removal steps grows past
// kSegmentGrowth even on evenly spread knots). Walking the distinct knots left to right: the current span becomes a Bezier
// segment by inserting its right knot ub up to multiplicity p (Boehm; the points this makes for
// the next segment are carried over), the segment is raised with the Bezier coefficients
// C(p, j) C(1, i - j) / C(p + 1, i), and the left knot ua, inserted for the previous segment,
// is removed again from the points already written and the raised segment (exact in exact
// arithmetic: it was inserted) before the inner points go out. The removal extrapolates by
// ratios of neighbouring spans, so the growth of round-off is carried along and the result
// given up when it grew too far. V is the raised knot vector (AddUniqueKnotsToArray); the
// removal reads the part of it already passed. All lines of all coordinates are one point of D
// values per control index. O(p) work per raised value, against O(p) per value and O(p^3) per
// old point (shared by the lines) of the raising matrix.
constexpr int kSegmentDegree = 6;
// The segment method's points are kept when the round-off of none of them grew beyond this
// many times the inputs' (about 1e-14 of the coordinates at worst); the removal's extrapolation
// grows it where a span is short beside its neighbours, or with the degree (random knots give
// about 5 at degree 3, 75 at 5 and 1300 at 8). Beyond it, the raising matrix.
constexpr double kSegmentGrowth = 128.0;

bool SegmentMethodFits(const double* U, int n, int p) {
  if (p > kSegmentDegree || U[0] != U[p] || U[n] != U[n + p]) return false;
  int mult = 1;
  for (int i = p; i < n; ++i) {
    mult = U[i + 1] == U[i] ? mult + 1 : 1;
    if (mult > p) return false;
  }
  return true;
}

// P: n points of D values; Q: the n + distinct - 1 raised points; scratch: (3 p + 3) D doubles;
// growth: room for the n + distinct - 1 raised points and p + 2 more. Returns the largest
// growth of round-off in a raised point (see kSegmentGrowth).
// DC is D when fixed for the compiler (a curve's three or four coordinates: the point loops
// unrolled and copies made in registers, not by calls), else -1 and Drun holds it.
template <int DC>
double RaiseBySegmentsOf(const double* U, const double* V, int n, int p, const double* P, int Drun,
                         double* Q, double* scratch, double* growth) {
  const int D = DC > 0 ? DC : Drun;
  const int last = n + p;  // index of the last old knot
  const int ph = p + 1;
  double coef[kSegmentDegree + 2][kSegmentDegree + 1] = {};
  for (int i = 0; i <= ph; ++i) {
    if (i >= 1) coef[i][i - 1] = static_cast<double>(i) / ph;
    if (i <= p) coef[i][i] = static_cast<double>(ph - i) / ph;
  }
  double* bez = scratch;                 // p + 1 points of the current segment
  double* raised = bez + (p + 1) * D;    // p + 2 points of the raised segment
  double* carry = raised + (p + 2) * D;  // the next segment's first points
  auto pt = [D](auto* base, int i) { return base + std::size_t(i) * D; };
  auto copy = [D](double* to, const double* from) {
    if (DC > 0)
      for (int c = 0; c < DC; ++c) to[c] = from[c];
    else
      std::memcpy(to, from, sizeof(double) * D);
  };
  auto blend = [D](double* to, double a, const double* from) {  // to = a to + (1 - a) from
    for (int c = 0; c < D; ++c) to[c] = a * to[c] + (1.0 - a) * from[c];
  };
  // Insertion and Bezier raising form convex combinations; only the removal extrapolates. A
  // point's growth bounds its round-off in units of the inputs' (1 for the inputs and for
  // convex combinations of them), carried through each extrapolation.
  double* gRaised = growth;  // per point of the raised segment
  double* gQ = growth + ph + 1;  // per point of Q
  double worst = 1.0;
  auto grow = [](double* to, double a, const double* from) {
    *to = std::fabs(a) * *to + std::fabs(1.0 - a) * *from;
  };

  copy(Q, P);
  gQ[0] = 1.0;
  std::memcpy(bez, P, sizeof(double) * (p + 1) * D);
  int kind = ph + 1;  // raised knots passed so far
  int written = 1;    // points in Q
  int a = p, b = p + 1, r = -1;
  double ua = U[p];
  while (b < last) {
    const int from = b;
    while (b < last && U[b] == U[b + 1]) ++b;
    const int mult = b - from + 1;
    const double ub = U[b];
    const int oldr = r;
    r = p - mult;
    const int lbz = oldr > 0 ? (oldr + 2) / 2 : 1;
    const int rbz = r > 0 ? ph - (r + 1) / 2 : ph;
    if (r > 0) {
      double alpha[kSegmentDegree];
      for (int k = p; k > mult; --k) alpha[k - mult - 1] = (ub - ua) / (U[a + k] - ua);
      for (int j = 1; j <= r; ++j) {
        const int s = mult + j;
        for (int k = p; k >= s; --k) blend(pt(bez, k), alpha[k - s], pt(bez, k - 1));
        copy(pt(carry, r - j), pt(bez, p));
      }
    }
    // Raised point i = C[i][i-1] bez[i-1] + C[i][i] bez[i] (a term outside 0 .. p is absent),
    // summed from zero in that order in one pass over the D values.
    for (int i = lbz; i <= ph; ++i) {
      double* e = pt(raised, i);
      const double* q0 = pt(bez, i - 1);
      const double* q1 = pt(bez, i);
      const double f0 = coef[i][i - 1], f1 = i <= p ? coef[i][i] : 0.0;
      if (i <= p)
        for (int c = 0; c < D; ++c) e[c] = (0.0 + f0 * q0[c]) + f1 * q1[c];
      else
        for (int c = 0; c < D; ++c) e[c] = 0.0 + f0 * q0[c];
    }
    for (int i = 0; i <= ph; ++i) gRaised[i] = 1.0;
    if (oldr > 1) {
      int lo = kind - 2, hi = kind;
      const double den = ub - ua;
      const double bet = (ub - V[kind - 1]) / den;
      for (int tr = 1; tr < oldr; ++tr, --lo, ++hi) {
        for (int i = lo, j = hi, kj = hi - kind + 1; j - i > tr; ++i, --j, --kj) {
          if (i < written) {
            const double f = (ub - V[i]) / (ua - V[i]);
            blend(pt(Q, i), f, pt(Q, i - 1));
            grow(gQ + i, f, gQ + i - 1);
          }
          if (j >= lbz) {
            const double g = j - tr <= kind - ph + oldr ? (ub - V[j - tr]) / den : bet;
            blend(pt(raised, kj), g, pt(raised, kj + 1));
            grow(gRaised + kj, g, gRaised + kj + 1);
          }
        }
      }
    }
    if (a != p) kind += ph - oldr;
    for (int j = lbz; j <= rbz; ++j) {
      gQ[written] = gRaised[j];
      copy(pt(Q, written++), pt(raised, j));
    }
    if (b < last) {
      for (int j = 0; j < r; ++j) copy(pt(bez, j), pt(carry, j));
      for (int j = r; j <= p; ++j) copy(pt(bez, j), pt(P, b - p + j));
      a = b;
      ++b;
      ua = ub;
    }
  }
  for (int i = 0; i < written; ++i) worst = std::fmax(worst, gQ[i]);
  return worst;
}

double RaiseBySegments(const double* U, const double* V, int n, int p, const double* P, int D,
                       double* Q, double* scratch, double* growth) {
  if (D == 3) return RaiseBySegmentsOf<3>(U, V, n, p, P, D, Q, scratch, growth);
  if (D == 4) return RaiseBySegmentsOf<4>(U, V, n, p, P, D, Q, scratch, growth);
  return RaiseBySegmentsOf<-1>(U, V, n, p, P, D, Q, scratch, growth);
}

// The old knot vector of a line the raising may read: sound (bsvalid) for degree order - 1 and
// n points, the raised degree within the kernel's limit. *distinct receives its count of
// distinct values, the length of the raised vector less n + order.
bool RaisingInputsSound(const double* oldKnots, int order, int n, int* distinct) {
  if (order < 1 || order > kMaxSplineDegree || !KnotVectorSound(oldKnots, order - 1, n)) return false;
  *distinct = 1;
  for (int r = 1; r < n + order; ++r) *distinct += oldKnots[r] != oldKnots[r - 1];
  return true;
}

}  // namespace

double Find1CoefiOf1DegRaisedCurve(const double* line, const double* oldKnots,
                                   const double* newKnots, int order, int n, int j, int* span) {
  const int p = order - 1;
  int distinct = 0;
  if (!line || !newKnots || !span || !RaisingInputsSound(oldKnots, order, n, &distinct) || j < 0 ||
      j >= n + distinct - 1) {
    SetKernelError(-2);
    return 0.0;
  }
  const int nV = n + order + distinct;
  FindLowKnotIndex(oldKnots, p, newKnots[j], span, n);
  // Only old points whose support holds that of raised point j weigh in: U[i] <= V[j] and
  // U[i+p+1] > V[j], so i lies within p + 1 below the span of V[j].
  double sum = 0.0;
  RaisingRow row;
  for (int i = std::max(0, *span - p - 1); i <= std::min(n - 1, *span + 1); ++i) {
    RaisingRowOf(oldKnots, newKnots, nV, p, i, &row);
    if (j >= row.first && j < row.first + row.count) sum += row.a[j - row.first] * line[i];
  }
  return sum;
}

void FindCoefiOfDegRaisedNCurves(const double* src, double* dst, const double* oldKnots,
                                 const double* newKnots, int n, int lines, int order,
                                 int distinct) {
  int counted = 0;
  if (!src || !dst || !newKnots || lines < 0 || !RaisingInputsSound(oldKnots, order, n, &counted) ||
      distinct != counted) {
    SetKernelError(-2);
    return;
  }
  RaiseLines(&src, &dst, 1, oldKnots, newKnots, n, lines, order - 1, distinct);
}

namespace {

// The segment method straight from the record's matrices and back into new ones: every
// coordinate of every line in one pass (point i holds coordinate k of line l at k lines + l,
// times the weight on a rational record), then the raised points, divided by their weights
// again, go into new arrays that replace the old ones. The arithmetic is the working form's
// (the same products going in, the same quotients coming out). A raised value that is not
// finite (homogeneous coordinates of huge points can overflow) is refused and the record left
// as it was; so is a failed allocation. V holds the new knot vector. False, with the record
// untouched and no error, when the round-off grew beyond kSegmentGrowth (for a rational record
// times the ratio of its largest to its least weight): the caller raises by the raising matrix
// instead.
bool RaiseInPlaceOfArrays(Bspline* obj, int dir, int p, int n, int distinct, const double* V) {
  const double* U = dir ? obj->knotsV : obj->knotsU;
  const int lines = dir ? NumCtrlU(obj) : (obj->kind == 2 ? NumCtrlV(obj) : 1);
  const int raised = n + distinct - 1;
  const bool rational = obj->rational != 0;
  double** mats[4] = {obj->X, obj->Y, obj->dimension == 3 ? obj->Z : nullptr,
                      rational ? obj->W : nullptr};
  int coords = 0;
  for (double** m : mats) coords += m != nullptr;
  const int D = coords * lines;
  TrackingScope scope;
  auto* P = MallocArray<double>(std::size_t(n + raised + 3 * p + 3), D);
  auto* growth = MallocArray<double>(raised + p + 2);
  if (!P || !growth || KernelFailed()) return true;
  double* Q = P + std::size_t(n) * D;
  double* scratch = Q + std::size_t(raised) * D;
  // Rows are v, columns u; a line in u is a row, a line in v a column. In v the values of one
  // point are rows of the matrices, so both sides are read and written in order.
  for (int k = 0, at = 0; k < 4; ++k) {
    double** m = mats[k];
    if (!m) continue;
    const bool weigh = rational && k < 3;
    if (dir == 0) {
      for (int l = 0; l < lines; ++l, ++at) {
        double* to = P + at;
        const double* from = m[l];
        const double* w = obj->W ? obj->W[l] : nullptr;
        for (int i = 0; i < n; ++i) to[std::size_t(i) * D] = weigh ? from[i] * w[i] : from[i];
      }
    } else {
      for (int i = 0; i < n; ++i) {
        double* to = P + std::size_t(i) * D + at;
        const double* from = m[i];
        const double* w = obj->W ? obj->W[i] : nullptr;
        if (weigh)
          for (int l = 0; l < lines; ++l) to[l] = from[l] * w[l];
        else
          for (int l = 0; l < lines; ++l) to[l] = from[l];
      }
      at += lines;
    }
  }
  // The removal's round-off is that of the largest homogeneous values beside a point, and a
  // rational point is its homogeneous one divided by its own weight: where the weights differ
  // by a factor R, the round-off of a light point's place grows by up to R as well.
  double spread = 1.0;
  if (rational) {
    double least = obj->W[0][0], most = least;
    const int rows = obj->kind == 2 ? NumCtrlV(obj) : 1, cols = NumCtrlU(obj);
    for (int r = 0; r < rows; ++r)
      for (int c = 0; c < cols; ++c) {
        least = std::fmin(least, obj->W[r][c]);
        most = std::fmax(most, obj->W[r][c]);
      }
    spread = most / least;
    if (!(spread <= kSegmentGrowth)) return false;
  }
  if (spread * RaiseBySegments(U, V, n, p, P, D, Q, scratch, growth) > kSegmentGrowth) return false;
  // The new arrays belong to the record, so they must not die with a caller's scope.
  const int rows = dir ? raised : lines, cols = dir ? lines : raised;
  const int nKnots = n + p + 1 + distinct;
  Owned<double, Free> knots;
  Owned<double*, matrix_free_ff> fresh[4];
  {
    UntrackedScope own;
    knots.reset(MallocArray<double>(nKnots));
    bool ok = knots && !KernelFailed();
    for (int k = 0; k < 4 && ok; ++k) {
      if (!mats[k]) continue;
      fresh[k].reset(allocate_matrix_ff(rows, cols));
      ok = fresh[k] && !KernelFailed();
    }
    if (!ok) return true;
  }
  std::memcpy(knots.get(), V, sizeof(double) * nKnots);
  // Cartesian values (homogeneous ones divided by their weight) into the new matrices.
  const double* wq = rational ? Q + std::size_t(coords - 1) * lines : nullptr;
  for (int k = 0, at = 0; k < 4; ++k) {
    double** m = fresh[k].get();
    if (!m) continue;
    const bool divide = rational && k < 3;
    if (dir == 0 && divide) {
      // Point by point, two lines a step in the lanes of a vector: the quotients of a point's
      // lines are consecutive values, and a division of two lanes costs about one of one.
      for (int j = 0; j < raised; ++j) {
        const double* from = Q + std::size_t(j) * D + at;
        const double* w = wq + std::size_t(j) * D;
        int l = 0;
#if defined(__GNUC__)
        typedef double Pair __attribute__((vector_size(16)));
        for (; l + 1 < lines; l += 2) {
          Pair x, y;
          __builtin_memcpy(&x, from + l, sizeof x);
          __builtin_memcpy(&y, w + l, sizeof y);
          const Pair quotient = x / y;
          m[l][j] = quotient[0];
          m[l + 1][j] = quotient[1];
        }
#endif
        for (; l < lines; ++l) m[l][j] = from[l] / w[l];
      }
      at += lines;
    } else if (dir == 0) {
      for (int l = 0; l < lines; ++l, ++at) {
        const double* from = Q + at;
        double* to = m[l];
        for (int j = 0; j < raised; ++j) to[j] = from[std::size_t(j) * D];
      }
    } else {
      for (int j = 0; j < raised; ++j) {
        const double* from = Q + std::size_t(j) * D + at;
        const double* w = divide ? wq + std::size_t(j) * D : nullptr;
        double* to = m[j];
        if (divide)
          for (int l = 0; l < lines; ++l) to[l] = from[l] / w[l];
        else
          for (int l = 0; l < lines; ++l) to[l] = from[l];
      }
      at += lines;
    }
  }
  // Every raised value finite, or the record stays as it was.
  for (const auto& m : fresh)
    if (m && !AllFinite(m[0], rows * cols)) {
      SetKernelError(-2);
      return true;
    }
  double*& oldKnots = dir ? obj->knotsV : obj->knotsU;
  Free(oldKnots);
  oldKnots = knots.release();
  double** Bspline::*fields[4] = {&Bspline::X, &Bspline::Y, &Bspline::Z, &Bspline::W};
  for (int k = 0; k < 4; ++k) {
    if (!fresh[k]) continue;
    if (obj->*fields[k]) matrix_free_ff(obj->*fields[k]);
    obj->*fields[k] = fresh[k].release();
  }
  if (dir) {
    obj->interiorV += distinct - 2;
    obj->degreeV = p + 1;
  } else {
    obj->interiorU += distinct - 2;
    obj->degreeU = p + 1;
  }
  return true;
}

}  // namespace

void IncrementDegreeOfObject(int dir, Bspline* obj) {
  if (!BsplineSound(obj) || !RaisableIn(obj, dir)) {
    SetKernelError(-2);
    return;
  }
  dir = obj->kind == 2 && dir != 0 ? 1 : 0;
  const int p = DegreeOf(obj, dir);
  const int n = dir ? NumCtrlV(obj) : NumCtrlU(obj);
  const int count = dir ? NumKnotsV(obj) : NumKnotsU(obj);
  const double* U = dir ? obj->knotsV : obj->knotsU;

  TrackingScope scope;  // scratch only; the object's new arrays are made by EndKnotInsertion
  auto* V = MallocArray<double>(2, count);
  if (!V || KernelFailed()) return;
  const int distinct = AddUniqueKnotsToArray(U, V, count);
  const int raised = n + distinct - 1;

  if (SegmentMethodFits(U, n, p) && RaiseInPlaceOfArrays(obj, dir, p, n, distinct, V)) return;
  // The knot-insertion working form serves as the homogeneous, line-contiguous copy; room for
  // `distinct` more points per line also leaves room for the one extra knot of the new degree.
  KnotInsertWork* w = nullptr;
  if (!InitKnotInsertionOfSound(obj, dir, distinct, &w)) return;
  const int arrays = w->coords;
  const std::size_t lineBlock = std::size_t(w->lines) * raised;
  auto* out = MallocArray<double>(lineBlock, arrays);
  if (!out || KernelFailed()) {
    Free(w);
    return;
  }
  const double* src[4];
  double* dst[4];
  for (int k = 0, at = 0; k < 4; ++k) {
    if (!w->c[k]) continue;
    src[at] = w->c[k];
    dst[at] = out + at * lineBlock;
    ++at;
  }
  RaiseLines(src, dst, arrays, U, V, n, w->lines, p, distinct);
  for (int k = 0, at = 0; k < 4; ++k)
    if (w->c[k]) std::memcpy(w->c[k], dst[at++], sizeof(double) * lineBlock);
  w->n = raised;
  w->degree = p + 1;
  w->interior += distinct - 2;
  std::memcpy(w->knots, V, sizeof(double) * (count + distinct));
  if (!EndKnotInsertion(obj, dir, w)) return;
  if (dir)
    obj->degreeV = p + 1;
  else
    obj->degreeU = p + 1;
}

namespace {

// Raising an object replaces its degrees, knots and coefficients (when either degree moved):
// swapped with a copy taken before, they give the object back as it was, bit for bit, without
// an allocation that could fail.
void SwapRaisedFields(Bspline* obj, Bspline* before) {
  const bool u = obj->degreeU != before->degreeU;
  const bool v = obj->kind == 2 && obj->degreeV != before->degreeV;
  if (u || v) SwapKnotsAndNet(obj, before);
}

}  // namespace

void ElevateDegreeOfObjSet(int target, int* dirs, Bspline** objs, int n) {
  if (!objs || n < 1) return;
  // Checked for every object before any is raised, so that a refusal leaves the set as it was.
  bool any = false;
  for (int i = 0; i < n; ++i) {
    const Bspline* obj = objs[i];
    if (!obj) continue;
    const int dir = dirs ? dirs[i] : 0;
    if (DegreeOf(obj, dir) >= target) continue;
    if (target > kMaxSplineDegree || !BsplineSound(obj) || !RaisableIn(obj, dir)) {
      SetKernelError(-2);
      return;
    }
    any = true;
  }
  if (!any) return;
  // A copy of each object to raise (once for an object listed twice) is taken first: a step
  // that fails later (memory, an overflow) gives every object raised so far its copy's fields
  // back, so the set is raised whole or not at all. The copies live outside the caller's
  // scope: their arrays may end up in the objects.
  OwnedArray<Bspline, FreeBspline> before = OwnedArray<Bspline, FreeBspline>::Zeroed(n);
  if (!before || KernelFailed()) return;
  for (int i = 0; i < n; ++i) {
    Bspline* obj = objs[i];
    if (!obj || DegreeOf(obj, dirs ? dirs[i] : 0) >= target) continue;
    bool listed = false;
    for (int j = 0; j < i && !listed; ++j) listed = objs[j] == obj && before[j];
    if (listed) continue;
    UntrackedScope own;
    before[i] = CopyBsplineStruct(obj);
    if (!before[i] || KernelFailed()) return;
  }
  for (int i = 0; i < n; ++i) {
    Bspline* obj = objs[i];
    if (!obj) continue;
    const int dir = dirs ? dirs[i] : 0;
    bool failed = false;
    while (!failed && DegreeOf(obj, dir) < target) {
      const int degree = DegreeOf(obj, dir);
      IncrementDegreeOfObject(dir, obj);
      failed = KernelFailed() || DegreeOf(obj, dir) == degree;
    }
    if (!failed) continue;
    for (int j = 0; j < n; ++j)
      if (before[j]) SwapRaisedFields(objs[j], before[j]);
    if (!KernelFailed()) SetKernelError(-2);
    return;
  }
}
