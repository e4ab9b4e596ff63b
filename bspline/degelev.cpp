#include "bspline/degelev.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "bspline/bsvalid.h"
#include "bspline/kinsert.h"
#include "bspline/nubutil.h"
#include "foundation/coreglob.h"
#include "foundation/makemat.h"
#include "foundation/umalloc.h"

namespace {

int DegreeOf(const Bspline* obj, int dir) {
  return obj->kind == 2 && dir != 0 ? obj->degreeV : obj->degreeU;
}

}  // namespace

int AddUniqueKnotsToArray(const double* knots, double* out, int count) {
  if (!knots || !out || count < 1) return 0;
  const double tol = 1e-6 * (knots[count - 1] - knots[0]);
  int o = 0;
  int distinct = 0;
  for (int i = 0; i < count; ++i) {
    out[o++] = knots[i];
    if (i == count - 1 || knots[i + 1] - knots[i] > tol) {
      out[o++] = knots[i];
      ++distinct;
    }
  }
  return distinct;
}

namespace {

// The blending ratios of raised point j depend on the knots alone, so every control line and
// coordinate of an object shares one set. Entry e of a row stands for control index
// i = first + e; a row at de Boor level l is valid for e = l .. p. A applies the arguments
// V[j+1] .. V[j+r] (level r); B is the sum, over each of those arguments left out, of the row
// with the others applied (level r - 1). Level steps are linear, so stepping the sum is the sum
// of the steps. p + 1 <= kMaxSplineDegree: IncrementDegreeOfObject refuses to pass degree 22.
struct RaiseRatios {
  int first;                                             // span - p
  double a[kMaxSplineDegree + 1][kMaxSplineDegree + 1];  // level r of A, r = 1 .. p
  double b[kMaxSplineDegree + 2][kMaxSplineDegree + 1];  // level r - 1 of B, r = 2 .. p + 1
};

void RatiosOfRaisedPoint(const double* U, const double* V, int p, int n, int j, int* span,
                         RaiseRatios* q) {
  FindLowKnotIndex(U, p, V[j], span, n);
  const int s = *span;
  q->first = s - p;
  auto alpha = [&](double x, int level, int e) {
    const int i = s - p + e;
    return (x - U[i]) / (U[i + p + 1 - level] - U[i]);
  };
  for (int r = 1; r <= p + 1; ++r) {
    const double x = V[j + r];
    if (r > 1)
      for (int e = p; e >= r - 1; --e) q->b[r][e] = alpha(x, r - 1, e);
    if (r <= p)
      for (int e = p; e >= r; --e) q->a[r][e] = alpha(x, r, e);
  }
}

double RaisedPoint(const double* line, int p, const RaiseRatios& q) {
  double A[kMaxSplineDegree + 1];
  double B[kMaxSplineDegree + 1];
  for (int e = 0; e <= p; ++e) A[e] = line[q.first + e];
  for (int r = 1; r <= p + 1; ++r) {
    if (r == 1) {
      for (int e = 0; e <= p; ++e) B[e] = A[e];
    } else {
      for (int e = p; e >= r - 1; --e) {
        const double a = q.b[r][e];
        B[e] = (1.0 - a) * B[e - 1] + a * B[e] + A[e];
      }
    }
    if (r <= p) {
      for (int e = p; e >= r; --e) {
        const double a = q.a[r][e];
        A[e] = (1.0 - a) * A[e - 1] + a * A[e];
      }
    }
  }
  return B[p] / (p + 1);
}

// FindCoefiOfDegRaisedNCurves over several coordinate arrays at once.
void RaiseLines(const double* const* src, double* const* dst, int arrays, const double* oldKnots,
                const double* newKnots, int n, int lines, int p, int distinct) {
  const int raised = n + distinct - 1;
  int span = p;
  RaiseRatios q;
  for (int j = 0; j < raised; ++j) {
    RatiosOfRaisedPoint(oldKnots, newKnots, p, n, j, &span, &q);
    for (int k = 0; k < arrays; ++k)
      for (int l = 0; l < lines; ++l)
        dst[k][std::size_t(l) * raised + j] = RaisedPoint(src[k] + std::size_t(l) * n, p, q);
  }
}

// The segment method, for a clamped direction whose knots are either equal or apart by more
// than the tolerance, up to degree kSegmentDegree (its knot-removal steps lose accuracy at high
// degree, where the blossom method is kept). Walking the distinct knots left to right: the
// current span becomes a Bezier segment by inserting its right knot ub up to multiplicity p
// (Boehm; the points this makes for the next segment are carried over), the segment is raised
// with the Bezier coefficients C(p, j) C(1, i - j) / C(p + 1, i), and the left knot ua, inserted
// for the previous segment, is removed again from the points already written and the raised
// segment (exact: it was inserted) before the inner points go out. V is the raised knot vector
// (AddUniqueKnotsToArray); the removal reads the part of it already passed. All lines of all
// coordinates are one point of D values per control index. O(p) work per raised value instead
// of the blossom's O(p^2); the two agree to rounding.
constexpr int kSegmentDegree = 8;

bool SegmentMethodFits(const double* U, int n, int p, double tol) {
  if (p > kSegmentDegree || U[0] != U[p] || U[n] != U[n + p]) return false;
  int mult = 1;
  for (int i = p; i < n; ++i) {
    const double gap = U[i + 1] - U[i];
    if (gap != 0.0 && gap <= tol) return false;
    mult = gap == 0.0 ? mult + 1 : 1;
    if (mult > p) return false;
  }
  return true;
}

// P: n points of D values; Q: the n + distinct - 1 raised points; scratch: (3 p + 3) D doubles.
// DC is D when fixed for the compiler (a curve's three or four coordinates: the point loops
// unrolled and copies made in registers, not by calls), else -1 and Drun holds it.
template <int DC>
void RaiseBySegmentsOf(const double* U, const double* V, int n, int p, const double* P, int Drun,
                       double* Q, double* scratch) {
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

  copy(Q, P);
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
    if (oldr > 1) {
      int lo = kind - 2, hi = kind;
      const double den = ub - ua;
      const double bet = (ub - V[kind - 1]) / den;
      for (int tr = 1; tr < oldr; ++tr, --lo, ++hi) {
        for (int i = lo, j = hi, kj = hi - kind + 1; j - i > tr; ++i, --j, --kj) {
          if (i < written) blend(pt(Q, i), (ub - V[i]) / (ua - V[i]), pt(Q, i - 1));
          if (j >= lbz) {
            const double g = j - tr <= kind - ph + oldr ? (ub - V[j - tr]) / den : bet;
            blend(pt(raised, kj), g, pt(raised, kj + 1));
          }
        }
      }
    }
    if (a != p) kind += ph - oldr;
    for (int j = lbz; j <= rbz; ++j) copy(pt(Q, written++), pt(raised, j));
    if (b < last) {
      for (int j = 0; j < r; ++j) copy(pt(bez, j), pt(carry, j));
      for (int j = r; j <= p; ++j) copy(pt(bez, j), pt(P, b - p + j));
      a = b;
      ++b;
      ua = ub;
    }
  }
}

void RaiseBySegments(const double* U, const double* V, int n, int p, const double* P, int D,
                     double* Q, double* scratch) {
  if (D == 3)
    RaiseBySegmentsOf<3>(U, V, n, p, P, D, Q, scratch);
  else if (D == 4)
    RaiseBySegmentsOf<4>(U, V, n, p, P, D, Q, scratch);
  else
    RaiseBySegmentsOf<-1>(U, V, n, p, P, D, Q, scratch);
}

}  // namespace

double Find1CoefiOf1DegRaisedCurve(const double* line, const double* oldKnots,
                                   const double* newKnots, int order, int n, int j, int* span) {
  RaiseRatios q;
  RatiosOfRaisedPoint(oldKnots, newKnots, order - 1, n, j, span, &q);
  return RaisedPoint(line, order - 1, q);
}

void FindCoefiOfDegRaisedNCurves(const double* src, double* dst, const double* oldKnots,
                                 const double* newKnots, int n, int lines, int order,
                                 int distinct) {
  RaiseLines(&src, &dst, 1, oldKnots, newKnots, n, lines, order - 1, distinct);
}

namespace {

// The segment method straight from the record's matrices and back into new ones: every
// coordinate of every line in one pass (point i holds coordinate k of line l at k lines + l,
// times the weight on a rational record), then the raised points, divided by their weights
// again, go into new arrays that replace the old ones. The arithmetic is the working form's
// (the same products going in, the same quotients coming out). A raised value that is not
// finite (homogeneous coordinates of huge points can overflow) is refused and the record left
// as it was; so is a failed allocation. V holds the new knot vector.
void RaiseInPlaceOfArrays(Bspline* obj, int dir, int p, int n, int distinct, const double* V) {
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
  if (!P || KernelFailed()) return;
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
  RaiseBySegments(U, V, n, p, P, D, Q, scratch);
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
    if (!ok) return;
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
      return;
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
}

}  // namespace

void IncrementDegreeOfObject(int dir, Bspline* obj) {
  if (!BsplineSound(obj)) {
    SetKernelError(-2);
    return;
  }
  dir = obj->kind == 2 && dir != 0 ? 1 : 0;
  const int p = DegreeOf(obj, dir);
  if (p < 1 || p + 1 > kMaxSplineDegree) {
    SetKernelError(-2);
    return;
  }
  const int n = dir ? NumCtrlV(obj) : NumCtrlU(obj);
  const int count = dir ? NumKnotsV(obj) : NumKnotsU(obj);
  const double* U = dir ? obj->knotsV : obj->knotsU;
  // The raised coefficients are blossoms of a clamped line: on open ends they would change
  // the shape. Ends count as clamped under the tolerance of AddUniqueKnotsToArray.
  const double tol = 1e-6 * (U[count - 1] - U[0]);
  for (int i = 1; i <= p; ++i)
    if (U[i] - U[0] > tol || U[count - 1] - U[count - 1 - i] > tol) {
      SetKernelError(-2);
      return;
    }

  TrackingScope scope;  // scratch only; the object's new arrays are made by EndKnotInsertion
  auto* V = MallocArray<double>(2, count);
  if (!V || KernelFailed()) return;
  const int distinct = AddUniqueKnotsToArray(U, V, count);
  const int raised = n + distinct - 1;

  if (SegmentMethodFits(U, n, p, 1e-6 * (U[count - 1] - U[0]))) {
    RaiseInPlaceOfArrays(obj, dir, p, n, distinct, V);
    return;
  }
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

void ElevateDegreeOfObjSet(int target, int* dirs, Bspline** objs, int n) {
  if (!objs) return;
  // Checked for every object before any is raised, so that a refusal leaves the set as it was.
  for (int i = 0; i < n; ++i) {
    const Bspline* obj = objs[i];
    if (!obj) continue;
    const int dir = dirs ? dirs[i] : 0;
    if (DegreeOf(obj, dir) >= target) continue;
    if (target > kMaxSplineDegree || !BsplineSound(obj)) {
      SetKernelError(-2);
      return;
    }
  }
  for (int i = 0; i < n; ++i) {
    Bspline* obj = objs[i];
    if (!obj) continue;
    const int dir = dirs ? dirs[i] : 0;
    while (DegreeOf(obj, dir) < target) {
      const int before = DegreeOf(obj, dir);
      IncrementDegreeOfObject(dir, obj);
      if (KernelFailed() || DegreeOf(obj, dir) == before) return;
    }
  }
}
