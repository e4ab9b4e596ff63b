#include "curve/crvutil.h"

#include "bspline/nubutil.h"
#include "foundation/coreglob.h"
#include "foundation/mathmat.h"
#include "foundation/umalloc.h"

double NormalizeKnotArray(double* knots, int n) {
  const double first = knots[0];
  const double range = knots[n - 1] - first;
  for (int i = 0; i < n; ++i) knots[i] = (knots[i] - first) / range;
  return 1.0 / range;
}

int PutInCKnotsOfBNotInA(const double* A, int nA, const double* B, int nB, double** C, int* nC) {
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
    if (v - A[span] < tol) {
      mA = FindMultOfValInArray(A, nA, A[span], span, s + 1, 0, tol);
      window = tol - (v - A[span]);
    } else {
      mA = FindMultOfValInArray(A, nA, A[span + 1], span + 1, s + 1, 1, tol);
      window = (A[span + 1] - v) + tol;
    }
    int mB = FindMultOfValInArray(B, nB, v, iB, nB, 1, window);
    if (mB < 1) mB = 1;
    for (int k = mA; k < mB; ++k) out[count++] = B[iB + k];
    iB += mB;
  }
  *nC = count;
  return count;
}
