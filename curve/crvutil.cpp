#include "curve/crvutil.h"

#include "bspline/nubs.h"
#include "bspline/nubutil.h"
#include "foundation/coreglob.h"
#include "foundation/geo2.h"
#include "foundation/mathmat.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "surface/srfutils.h"

double NormalizeKnotArray(double* knots, int n) {
  const double first = knots[0];
  const double range = knots[n - 1] - first;
  for (int i = 0; i < n; ++i) knots[i] = (knots[i] - first) / range;
  return 1.0 / range;
}

namespace {

// The knots A must gain to contain B. With changeA, A's knots that match a knot of B take B's
// exact value (A's multiplicity is counted before that snap); without it A is only read.
int PutInCKnots(double* A, int nA, const double* B, int nB, double** C, int* nC, bool changeA) {
  const double tol = (A[nA - 1] - A[0]) * 1e-6;
  auto equal = [tol](double a, double b) { return (a > b ? a - b : b - a) < tol; };

  // A's first end run is A[0..s]; the span search stays between A's domain ends.
  int s = 0;
  while (s + 1 < nA && equal(A[s + 1], A[0])) ++s;
  int iB = 0;
  while (iB < nB && equal(B[iB], A[0])) ++iB;
  int jB = nB - 1;
  while (jB >= 0 && equal(B[jB], A[nA - 1])) --jB;
  if (jB < 0) {
    *C = nullptr;
    *nC = 0;
    return 0;
  }

  const int size = nA > nB ? nA : nB;
  double* out = static_cast<double*>(Malloc(sizeof(double) * size));
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
    if (changeA) PutAllKnotsWithinTolOfValToVal(A, nA, match, v, tol);
    int mB = FindMultOfValInArray(B, nB, v, iB, nB, 1, window);
    if (mB < 1) mB = 1;
    for (int k = mA; k < mB; ++k) out[count++] = B[iB + k];
    iB += mB;
  }
  *nC = count;
  return count;
}

}  // namespace

int PutInCKnotsOfBNotInA(const double* A, int nA, const double* B, int nB, double** C, int* nC) {
  // Read only: the snap is off, so A is never written.
  return PutInCKnots(const_cast<double*>(A), nA, B, nB, C, nC, false);
}

int PutInCKnotsOfBNotInA_changeA(double* A, int nA, const double* B, int nB, double** C, int* nC) {
  return PutInCKnots(A, nA, B, nB, C, nC, true);
}

int PutAllKnotsWithinTolOfValToVal(double* knots, int n, int idx, double value, double tol) {
  auto near = [&](double k) { return (k > value ? k - value : value - k) < tol; };
  int writes = 0;
  // Downwards the first knot is never touched: it is the domain start.
  for (int i = idx; i > 0 && near(knots[i]); --i, ++writes) knots[i] = value;
  for (int i = idx; i < n && near(knots[i]); ++i, ++writes) knots[i] = value;
  return writes;
}

void UnionKnotArrays(const double* A, int nA, const double* B, int nB, double** C, int* nC) {
  double* out = static_cast<double*>(Malloc(sizeof(double) * (nA + nB)));
  *C = out;
  if (!out || KernelFailed()) return;
  int i = 0, j = 0, k = 0;
  // Equal values are matched pair by pair, so each value keeps the larger of its two
  // multiplicities. The tolerance is absolute: callers merge vectors on a common range.
  while (i < nA && j < nB) {
    const double d = A[i] - B[j];
    if (d < 1e-6 && d > -1e-6) {
      out[k++] = A[i++];
      ++j;
    } else if (d < 0.0) {
      out[k++] = A[i++];
    } else {
      out[k++] = B[j++];
    }
  }
  while (i < nA) out[k++] = A[i++];
  while (j < nB) out[k++] = B[j++];
  *nC = k;
}

int FindClosestCPT3paramValue(Bspline* crv1, Bspline* crv2, double* t1, double* t2) {
  TrackingScope scope;
  double* g1 = FindParamValuesOfCoefi(crv1, 0);
  double* g2 = FindParamValuesOfCoefi(crv2, 0);
  const int n1 = NumCtrlU(crv1), n2 = NumCtrlU(crv2);
  double* p1 = static_cast<double*>(Malloc(sizeof(double) * 3 * (n1 + n2)));
  if (!g1 || !g2 || !p1 || KernelFailed()) return -2;
  double* p2 = p1 + 3 * n1;
  // The polygons run through the curve points at the Greville parameters, which follow the
  // curve far closer than the control polygon.
  for (int i = 0; i < n1; ++i) Eval3DPointOnCurve3Array(crv1, g1[i], 0, p1 + 3 * i);
  for (int j = 0; j < n2; ++j) Eval3DPointOnCurve3Array(crv2, g2[j], 0, p2 + 3 * j);
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
  return 0;
}
