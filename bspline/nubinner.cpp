#include "bspline/nubinner.h"

#include <algorithm>

#include "bspline/nubutil.h"
#include "foundation/coreglob.h"
#include "foundation/integral.h"
#include "foundation/makemat.h"
#include "foundation/umalloc.h"

namespace {

void ZeroBand(double** G, int n, int width) {
  for (int i = 0; i < n; ++i)
    for (int k = 0; k < width; ++k) G[i][k] = 0.0;
}

}  // namespace

namespace {

// The quadrature of NewComputeGramMatrixGQ over the knot intervals longer than minLen (and
// longer than 0): a basis taken to vanish on the shorter ones.
int BasisGram(const double* knots, int nKnots, int n, int p, double minLen, double** G) {
  if (!knots || !G || p < 0 || n < 0 || p + n >= nKnots) return -2;
  ZeroBand(G, n, p + 1);

  TrackingScope scope;
  const int ng = p + 1;  // p + 1 points integrate the degree-2p products exactly
  double* x = MallocArray<double>(ng);
  double* w = MallocArray<double>(ng);
  double* N = MallocArray<double>(p + 2);  // N[1..p+1]
  if (!x || !w || !N || KernelFailed()) return -2;
  if (ComputeGaussLegendreCoefi(-1.0, 1.0, ng, x, w) != 0) return -2;

  for (int s = 0; s + 1 < nKnots; ++s) {
    // An empty interval has nothing to integrate.
    if (!(knots[s + 1] > knots[s]) || !(knots[s + 1] - knots[s] > minLen)) continue;
    const double half = (knots[s + 1] - knots[s]) / 2.0;
    const double mid = (knots[s + 1] + knots[s]) / 2.0;
    for (int g = 0; g < ng; ++g) {
      const double t = x[g] * half + mid;
      int span = s;
      EvalPointOnObjInit(t, p, knots, N, &span, nKnots - p - 1, 0);  // hi: the basis count
      const int base = span - p;  // N[a + 1] is the value of basis function base + a
      for (int a = 0; a <= p; ++a) {
        if (N[a + 1] == 0.0 || base + a < 0) continue;
        for (int b = a; b <= p; ++b) {
          // Functions past n are outside the requested basis: their products have no slot.
          if (N[b + 1] == 0.0 || base + b >= n) continue;
          G[base + a][b - a] += N[b + 1] * N[a + 1] * w[g] * half;
        }
      }
    }
  }
  return 0;
}

// relTol times the domain of the degree-q basis (0 for relTol 0, whatever the knots).
double ShortInterval(const double* knots, int nKnots, int q, double relTol) {
  return relTol > 0.0 ? relTol * (knots[nKnots - q - 1] - knots[q]) : 0.0;
}

}  // namespace

int NewComputeGramMatrixGQ(const double* knots, int nKnots, int n, int p, double** G) {
  return BasisGram(knots, nKnots, n, p, 0.0, G);
}

int NBsplineDerivative(const double* knots, int nKnots, int p, int r, const double* c, double* d) {
  if (r >= p + 1) return -2;
  if (!knots || !c || !d || r < 0) return -2;
  const int n = nKnots - p - 1;
  if (n < 1) return -2;
  for (int i = 0; i < nKnots; ++i) d[i] = i < n ? c[i] : 0.0;

  // Level k turns the m coefficients of degree p - k + 1 (the slot at m is 0) into m + 1 of
  // degree p - k: d(i) = (p - k + 1) (c(i) - c(i - 1)) / (t(i + p - k + 1) - t(i)).
  for (int k = 1; k <= r; ++k) {
    const int m = n + k - 1;
    const int degPrev = p + 1 - k;
    double prev = 0.0;  // old coefficient i - 1, before it was overwritten
    for (int i = 0; i <= m; ++i) {
      const double cur = d[i];
      const double denom = knots[i + degPrev] - knots[i];
      // An absolute tolerance: callers work on domains far wider than 1e-6.
      d[i] = denom > 1e-6 || denom < -1e-6 ? (cur - prev) * degPrev / denom : 0.0;
      prev = cur;
    }
    if (m + 1 < nKnots) d[m + 1] = 0.0;
  }
  return 0;
}

int SingleBsplineDerivCoefs(const double* knots, int nKnots, int i, int p, int r, double* D) {
  if (!knots || !D || p < 1 || r < 1) return -2;
  for (int a = 0; a <= r; ++a) D[a] = 0.0;
  if (r > p) return 0;
  const int n = nKnots - p - 1;
  if (i < 0 || i >= n) return -2;

  // N(i, p) lives on the knots from i on: the recursion over the whole vector gives zeros before
  // i and reads no knot beyond i + p + r + 1, so it runs on that piece alone (over the whole
  // vector, the Gram matrices of long curves cost the square of their control counts).
  const int len = std::min(nKnots - i, p + r + 2);
  TrackingScope scope;
  double* c = MallocArray<double>(len - p - 1);
  double* d = MallocArray<double>(len);
  if (!c || !d || KernelFailed()) return -2;
  for (int k = 0; k < len - p - 1; ++k) c[k] = k == 0 ? 1.0 : 0.0;
  if (NBsplineDerivative(knots + i, len, p, r, c, d) != 0) return -2;
  for (int a = 0; a <= r; ++a) D[a] = d[a];
  return 0;
}

int ComputeGramBandGQ(const double* knots, int nKnots, int n, int p, int r, double relTol,
                      double** G) {
  if (!knots || !G || n < 0 || p < 0 || n + p + 1 > nKnots || r < 0 || relTol < 0.0) return -2;
  ZeroBand(G, n, p + 1);
  if (r >= p + 1) return 0;  // the r-th derivative of a degree-p basis vanishes
  if (r == 0) return BasisGram(knots, nKnots, n, p, ShortInterval(knots, nKnots, p, relTol), G);
  if (n == 0) return 0;

  TrackingScope scope;
  const int q = p - r;            // degree of the basis the derivatives are written in
  const int nH = nKnots - q - 1;  // its full size, n + r functions or more
  double** H = allocate_matrix_ff(nH, q + 1);
  double** D = allocate_matrix_ff(n, r + 1);
  if (!H || !D || KernelFailed()) return -2;
  if (BasisGram(knots, nKnots, nH, q, ShortInterval(knots, nKnots, q, relTol), H) != 0) return -2;
  for (int i = 0; i < n; ++i)
    if (SingleBsplineDerivCoefs(knots, nKnots, i, p, r, D[i]) != 0) return -2;

  for (int i = 0; i < n; ++i) {
    for (int k = 0; k <= p && i + k < n; ++k) {
      const int j = i + k;
      double sum = 0.0;
      for (int a = 0; a <= r; ++a) {
        for (int b = 0; b <= r; ++b) {
          const int ia = i + a, jb = j + b;
          const int off = ia > jb ? ia - jb : jb - ia;
          if (off > q) continue;  // outside the band of H: disjoint supports
          sum += D[i][a] * D[j][b] * H[ia < jb ? ia : jb][off];
        }
      }
      G[i][k] = sum;
    }
  }
  return 0;
}

int NewComputeDiffGramMatrixGQ(const double* knots, int nKnots, int n, int p, int r, double** G) {
  return ComputeGramBandGQ(knots, nKnots, n, p, r, 0.0, G);
}
