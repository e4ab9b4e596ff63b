#include "bspline/degelev.h"

#include <cstddef>
#include <cstring>

#include "bspline/kinsert.h"
#include "bspline/nubutil.h"
#include "foundation/coreglob.h"
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

double Find1CoefiOf1DegRaisedCurve(const double* line, const double* oldKnots,
                                   const double* newKnots, int order, int n, int j, int* span) {
  const int p = order - 1;
  const double* U = oldKnots;
  FindLowKnotIndex(oldKnots, p, newKnots[j], span, n);
  const int s = *span;
  // Entry e of a row stands for control index i = s - p + e; a row at de Boor level l is
  // valid for e = l .. p. A applies the arguments V[j+1] .. V[j+r] (level r); B is the sum,
  // over each of those arguments left out, of the row with the others applied (level r - 1).
  // Level steps are linear, so stepping the sum is the sum of the steps.
  // p + 1 <= kMaxSplineDegree entries each: IncrementDegreeOfObject refuses to pass degree 22.
  double A[kMaxSplineDegree + 1];
  double B[kMaxSplineDegree + 1];
  for (int e = 0; e <= p; ++e) A[e] = line[s - p + e];
  auto alpha = [&](double x, int level, int e) {
    const int i = s - p + e;
    return (x - U[i]) / (U[i + p + 1 - level] - U[i]);
  };
  for (int r = 1; r <= p + 1; ++r) {
    const double x = newKnots[j + r];
    if (r == 1) {
      for (int e = 0; e <= p; ++e) B[e] = A[e];
    } else {
      for (int e = p; e >= r - 1; --e) {
        const double a = alpha(x, r - 1, e);
        B[e] = (1.0 - a) * B[e - 1] + a * B[e] + A[e];
      }
    }
    if (r <= p) {
      for (int e = p; e >= r; --e) {
        const double a = alpha(x, r, e);
        A[e] = (1.0 - a) * A[e - 1] + a * A[e];
      }
    }
  }
  return B[p] / (p + 1);
}

void FindCoefiOfDegRaisedNCurves(const double* src, double* dst, const double* oldKnots,
                                 const double* newKnots, int n, int lines, int order,
                                 int distinct) {
  const int raised = n + distinct - 1;
  for (int l = 0; l < lines; ++l) {
    int span = order - 1;
    const double* line = src + std::size_t(l) * n;
    for (int j = 0; j < raised; ++j)
      dst[std::size_t(l) * raised + j] =
          Find1CoefiOf1DegRaisedCurve(line, oldKnots, newKnots, order, n, j, &span);
  }
}

void IncrementDegreeOfObject(int dir, Bspline* obj) {
  if (!obj || (obj->kind != 1 && obj->kind != 2)) {
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
  if (!U) {
    SetKernelError(-2);
    return;
  }

  TrackingScope scope;  // scratch only; the object's new arrays are made by EndKnotInsertion
  auto* V = MallocArray<double>(2, count);
  if (!V || KernelFailed()) return;
  const int distinct = AddUniqueKnotsToArray(U, V, count);
  const int raised = n + distinct - 1;

  // The knot-insertion working form serves as the homogeneous, line-contiguous copy; room for
  // `distinct` more points per line also leaves room for the one extra knot of the new degree.
  KnotInsertWork* w = nullptr;
  if (!InitKnotInsertion(obj, dir, distinct, &w)) return;
  auto* out = MallocArray<double>(w->lines, raised);
  if (!out || KernelFailed()) {
    Free(w);
    return;
  }
  for (double* c : w->c) {
    if (!c) continue;
    FindCoefiOfDegRaisedNCurves(c, out, U, V, n, w->lines, p + 1, distinct);
    std::memcpy(c, out, sizeof(double) * std::size_t(w->lines) * raised);
  }
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
