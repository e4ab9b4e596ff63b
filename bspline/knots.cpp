#include "bspline/knots.h"

#include <algorithm>
#include <cmath>

#include "bspline/bsvalid.h"
#include "bspline/nubutil.h"
#include "foundation/coreglob.h"
#include "foundation/mathmat.h"
#include "foundation/umalloc.h"

double NormalizeKnots(double* knots, int n) {
  if (!knots || n < 2) return 0.0;
  const double first = knots[0];
  const double range = knots[n - 1] - first;
  for (int i = 0; i < n; ++i) knots[i] = (knots[i] - first) / range;
  return 1.0 / range;
}

int KnotsOfBNotInA(const double* A, int nA, const double* B, int nB, double** C, int* nC,
                   double* snapA) {
  *C = nullptr;
  *nC = 0;
  // The end runs are read without bounds below: a vector needs two knots and a range, and B a
  // knot, before there is anything to compare (NaN ends fail the range test too).
  if (!A || !B || nA < 2 || nB < 1 || !(A[nA - 1] - A[0] > 0.0)) return 0;
  const double tol = (A[nA - 1] - A[0]) * 1e-6;
  auto equal = [tol](double a, double b) { return (a > b ? a - b : b - a) < tol; };

  // A's first end run is A[0..s]; the span search stays between A's domain ends.
  int s = 0;
  while (s + 1 < nA && equal(A[s + 1], A[0])) ++s;
  int iB = 0;
  while (iB < nB && equal(B[iB], A[0])) ++iB;
  int jB = nB - 1;
  while (jB >= 0 && equal(B[jB], A[nA - 1])) --jB;
  if (jB < 0) return 0;

  const int size = nA > nB ? nA : nB;
  double* out = MallocArray<double>(size);
  *C = out;
  if (!out || KernelFailed()) return -1;

  int count = 0;
  int span = s;
  const int hi = nA - s - 1;
  while (iB <= jB) {
    const double v = B[iB];
    if (FindLowKnotIndex(A, s, v, &span, hi) != 0) {
      out[count++] = v;  // strictly inside a span of A (or at its end)
      ++iB;
      continue;
    }
    // v lies on a knot of A: B adds only the copies beyond A's multiplicity of it, counted
    // within tol above the matching knot of A.
    int mA;
    double window;
    int match;
    if (v - A[span] < tol) {
      match = span;
      mA = FindMultOfValInArray(A, nA, A[span], span, s + 1, 0, tol);
      window = tol - (v - A[span]);
    } else {
      match = span + 1;
      mA = FindMultOfValInArray(A, nA, A[span + 1], span + 1, s + 1, 1, tol);
      window = (A[span + 1] - v) + tol;
    }
    if (snapA) SnapKnotsToValue(snapA, nA, match, v, tol);
    int mB = FindMultOfValInArray(B, nB, v, iB, nB, 1, window);
    if (mB < 1) mB = 1;
    for (int k = mA; k < mB; ++k) out[count++] = B[iB + k];
    iB += mB;
  }
  *nC = count;
  return count;
}

int SnapKnotsToValue(double* knots, int n, int idx, double value, double tol) {
  if (!knots || idx < 0 || idx >= n) return 0;
  auto near = [&](double k) { return (k > value ? k - value : value - k) < tol; };
  int writes = 0;
  // Downwards the first knot is never touched: it is the domain start.
  for (int i = idx; i > 0 && near(knots[i]); --i, ++writes) knots[i] = value;
  for (int i = idx; i < n && near(knots[i]); ++i, ++writes) knots[i] = value;
  return writes;
}

void MergeKnotVectors(const double* A, int nA, const double* B, int nB, double** C, int* nC) {
  if (!C || !nC) return;
  if (nA < 0 || nB < 0 || (nA > 0 && !A) || (nB > 0 && !B)) {
    *C = nullptr;
    SetKernelError(-2);
    return;
  }
  double* out = MallocArray<double>(nA + nB);
  *C = out;
  if (!out || KernelFailed()) return;
  int i = 0, j = 0, k = 0;
  auto near = [](double a, double b) { return a - b < 1e-6 && a - b > -1e-6; };
  // Values that count as equal are written as one value: the copies of a value the two arrays
  // hold a round-off apart would otherwise interleave and leave the merge decreasing. The
  // first copy written stands for them all, so no written value falls below an earlier one.
  auto put = [&](double v) {
    if (k > 0 && near(v, out[k - 1])) v = out[k - 1];
    out[k++] = v;
  };
  // Equal values are matched pair by pair, so each value keeps the larger of its two
  // multiplicities. The tolerance is absolute: callers merge vectors on a common range.
  while (i < nA && j < nB) {
    const double d = A[i] - B[j];
    if (d < 1e-6 && d > -1e-6) {
      put(A[i++]);
      ++j;
    } else if (d < 0.0) {
      put(A[i++]);
    } else {
      put(B[j++]);
    }
  }
  while (i < nA) put(A[i++]);
  while (j < nB) put(B[j++]);
  // The run at the end takes the inputs' last value, so the domain ends where they end.
  if (k > 0) {
    const double end = nA < 1 ? B[nB - 1] : nB < 1 ? A[nA - 1] : std::max(A[nA - 1], B[nB - 1]);
    for (int e = k - 1; e >= 0 && near(out[e], end); --e) out[e] = end;
  }
  *nC = k;
}

double GrevilleAbscissa(const double* knots, int order, int i) {
  if (!knots) {
    SetKernelError(-2);
    return 0.0;
  }
  double sum = 0.0;
  for (int k = i + 1; k <= i + order - 1; ++k) sum += knots[k];
  const double mean = sum / (order - 1);
  return mean < knots[0] ? knots[0] : mean;
}

int DistinctInteriorKnots(const Bspline* obj, int dir, int** mults, double** knots, double tol) {
  *mults = nullptr;
  *knots = nullptr;
  const bool inV = obj->kind == 2 && dir;
  const int degree = inV ? obj->degreeV : obj->degreeU;
  const int interior = inV ? obj->interiorV : obj->interiorU;
  if (interior <= 0) return 0;
  const double range = inV ? obj->vmax - obj->vmin : obj->umax - obj->umin;
  const double absTol = tol * range;

  int* m = MallocArray<int>(interior);
  double* v = MallocArray<double>(interior);
  if (!m || !v || KernelFailed()) {
    Free(m);
    Free(v);
    return -2;
  }
  // The interior knots followed by the end run, so a value at the domain end sees the end
  // knots in its run; they are taken off again below.
  const double* a = (inV ? obj->knotsV : obj->knotsU) + degree + 1;
  const int n = interior + degree + 1;
  int count = 0;
  for (int i = 0; i < interior; ++count) {
    int mult = FindMultOfValInArray(a, n, a[i], i, n, 1, absTol);
    if (mult > degree + 1 && i + mult > interior) mult -= degree + 1;
    if (mult < 1) mult = 1;
    v[count] = a[i];
    m[count] = mult;
    i += mult;
  }
  *mults = m;
  *knots = v;
  return count;
}

void SetDomainFromKnots(Bspline* obj, int dir) {
  if (!obj) return;
  if (!RecordShapesSound({obj})) return;
  if (obj->kind == 2 && dir) {
    obj->vmin = obj->knotsV[obj->degreeV];
    obj->vmax = obj->knotsV[NumCtrlV(obj)];
  } else {
    obj->umin = obj->knotsU[obj->degreeU];
    obj->umax = obj->knotsU[NumCtrlU(obj)];
  }
}

void SpreadOverfullKnotRuns(Bspline* obj, int dir) {
  if (!obj) return;
  if (!RecordShapesSound({obj})) return;
  const bool inV = obj->kind == 2 && dir;
  const int p = inV ? obj->degreeV : obj->degreeU;
  const int count = inV ? NumKnotsV(obj) : NumKnotsU(obj);
  double* k = inV ? obj->knotsV : obj->knotsU;
  for (int i = 1; i < count; ++i)
    if (!(k[i] >= k[i - 1])) return;
  // k[i] not below k[i + p + 1] is a run of p + 2 from i on: k[i] steps below the run, and the
  // copies before it follow on the next steps, so the vector never decreases. The first knot's
  // run is left to the upward pass, which keeps k[0].
  for (int i = count - p - 2; i >= 1; --i)
    if (k[i] >= k[i + p + 1] && k[i] != k[0]) k[i] = std::nextafter(k[i + p + 1], -INFINITY);
  const double last = k[count - 1];
  for (int i = p + 1; i < count; ++i)
    if (k[i] <= k[i - p - 1] && k[i] != last) k[i] = std::nextafter(k[i - p - 1], INFINITY);
}

void GrevilleParams(const double* knots, int n, int degree, double* out) {
  if (!knots || !out || n < 2 || degree < 1) return;
  for (int i = 0; i < n; ++i) {
    double s = 0.0;
    for (int k = 1; k <= degree; ++k) s += knots[i + k];
    out[i] = s / degree;
  }
  // The ends exactly on the domain ends, free of the rounding of the sums.
  out[0] = knots[degree];
  out[n - 1] = knots[n];
}

double* ObjectGrevilleParams(const Bspline* obj, int dir) {
  if (!RecordShapesSound({obj})) return nullptr;
  const bool inV = obj->kind == 2 && dir != 0;
  const int p = inV ? obj->degreeV : obj->degreeU;
  const int n = p + (inV ? obj->interiorV : obj->interiorU) + 1;
  double* out = MallocArray<double>(n);
  if (!out || KernelFailed()) {
    Free(out);
    return nullptr;
  }
  GrevilleParams(inV ? obj->knotsV : obj->knotsU, n, p, out);
  return out;
}

double BoundaryParam(const Bspline* obj, int b) {
  if (!RecordShapesSound({obj})) return 0.0;
  if (obj->kind == 2) {
    switch (b) {
      case 0: return obj->knotsU[obj->degreeU];
      case 1: return obj->knotsV[NumCtrlV(obj)];
      case 2: return obj->knotsU[NumCtrlU(obj)];
      case 3: return obj->knotsV[obj->degreeV];
      default: return 0.0;
    }
  }
  return b == 2 ? obj->knotsU[NumCtrlU(obj)] : obj->knotsU[obj->degreeU];
}

void SamplesPerSpan(const double* values, int m, double* out, int n) {
  if (m > 0 && (!values || !out)) {
    SetKernelError(-2);
    return;
  }
  if (n < 2) n = 2;
  for (int i = 0; i < m; ++i) out[i * (n - 1)] = values[i];
  for (int i = 0; i + 1 < m; ++i) {
    const double a = values[i], b = values[i + 1];
    for (int j = 1; j < n - 1; ++j) out[i * (n - 1) + j] = a + j * (b - a) / (n - 1);
  }
}

void DistinctKnotValues(int n, const double* knots, int* count, double** distinct) {
  *count = 0;
  *distinct = nullptr;
  if (n < 1) return;
  if (!knots) {
    SetKernelError(-2);
    return;
  }
  int c = 1;
  for (int i = 1; i <= n - 2; ++i) c += knots[i - 1] < knots[i];
  double* out = MallocArray<double>(c);
  if (!out || KernelFailed()) return;
  out[0] = knots[0];
  int k = 1;
  for (int i = 1; i <= n - 2; ++i)
    if (knots[i - 1] < knots[i]) out[k++] = knots[i];
  *count = c;
  *distinct = out;
}
