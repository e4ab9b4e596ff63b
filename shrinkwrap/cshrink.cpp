#include "shrinkwrap/cshrink.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "bspline/bsvalid.h"
#include "bspline/cclone.h"
#include "bspline/ctrlnubs.h"
#include "bspline/degelev.h"
#include "bspline/keepshape.h"
#include "bspline/kinsert.h"
#include "bspline/nubinner.h"
#include "bspline/nubs.h"
#include "bspline/nubutil.h"
#include "bspline/sfree.h"
#include "foundation/bandsolve.h"
#include "foundation/coreglob.h"
#include "foundation/geometry.h"
#include "foundation/makemat.h"
#include "foundation/solvmat.h"
#include "foundation/sort.h"
#include "foundation/umalloc.h"
#include "foundation/unitfrm.h"
#include "foundation/vec3.h"

namespace {

// Below this length a constraint normal has no usable direction.
constexpr double kMinNormalLength = 0.001;
// Shortest extent (in space and in parameter) the thin-plate weights divide by.
constexpr double kMinThinPlateScale = 1e-6;

// The largest extent, over x, y and z, of the curve's control point box.
double ControlExtent(const Bspline* curve) {
  const int nc = NumCtrlU(curve);
  double extent = 0.0;
  double** coords[3] = {curve->X, curve->Y, curve->dimension == 3 ? curve->Z : nullptr};
  for (double** m : coords) {
    if (!m) continue;
    double lo = m[0][0], hi = m[0][0];
    for (int i = 1; i < nc; ++i) {
      lo = std::min(lo, m[0][i]);
      hi = std::max(hi, m[0][i]);
    }
    extent = std::max(extent, hi - lo);
  }
  return extent;
}

// What every entry point here asks of its curve before it reads it.
bool Is3DCurve(const Bspline* c) { return BsplineSound(c) && c->kind == 1 && c->dimension == 3; }

// Fills K (n + m square) with [[A, -C'], [C, 0]]. The sign of the multiplier block makes the
// first n rows read A x + b - C' l = 0, the stationarity condition of the Lagrangian.
void FillKkt(double** K, double** A, int n, double** C, int m) {
  const int size = n + m;
  std::memset(K[0], 0, sizeof(double) * size * size);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) K[i][j] = A[i][j];
  for (int k = 0; k < m; ++k)
    for (int j = 0; j < n; ++j) {
      K[n + k][j] = C[k][j];
      K[j][n + k] = -C[k][j];
    }
}

// One back-substitution for right-hand side (-b, d); the multipliers are dropped.
void SolveKktRhs(double** K, int n, int m, int* pivots, double* rhs, double* b, const double* d) {
  for (int i = 0; i < n; ++i) rhs[i] = -b[i];
  for (int k = 0; k < m; ++k) rhs[n + k] = d[k];
  lubksb_ff(K, n + m, pivots, rhs);
  for (int i = 0; i < n; ++i) b[i] = rhs[i];
}

// Allocates and factorises the KKT matrix in the caller's scope; false on no memory or a
// singular system.
bool FactorKkt(double** A, int n, double** C, int m, double*** K, double** rhs, int** pivots) {
  const int size = n + m;
  *K = allocate_matrix_ff(size, size);
  *rhs = MallocArray<double>(size);
  *pivots = MallocArray<int>(size);
  if (KernelFailed() || !*K || !*rhs || !*pivots) return false;
  FillKkt(*K, A, n, C, m);
  double parity = 1.0;
  return ludcmp_ff(*K, size, *pivots, &parity) == 0;
}

// A fit's functional couples only control points within a degree of each other, so A is
// a narrow band: a dense factorisation of the KKT matrix costs the cube of the control count,
// which made long boundary rows (hundreds of points) take seconds per wrap. Below this count
// the dense road is as quick and is kept.
constexpr int kBandRoadMin = 48;

// The band width W of A (A[i][j] = 0 for |i - j| >= W) when A is symmetric (to round-off of
// its entries) and W is at most a quarter of n; 0 otherwise.
int NarrowSymmetricBand(const double* const* A, int n) {
  if (n < kBandRoadMin) return 0;
  // Rows are read from their ends inwards, in memory order, up to their first entry.
  int w = 1;
  for (int i = 0; i < n; ++i) {
    const double* row = A[i];
    int hi = n - 1, lo = 0;
    while (hi > i && row[hi] == 0.0) --hi;
    while (lo < i && row[lo] == 0.0) ++lo;
    w = std::max({w, hi - i + 1, i - lo + 1});
    if (4 * w > n) return 0;
  }
  for (int i = 0; i < n; ++i)
    for (int j = i + 1; j < std::min(n, i + w); ++j) {
      const double a = A[i][j], b = A[j][i];
      if (std::fabs(a - b) > 1e-12 * (std::fabs(a) + std::fabs(b))) return 0;
    }
  return w;
}

// The KKT system of FactorKkt for nRhs right-hand sides (-b[r], d[r]) through A's band:
// x = A^-1 (C' l - b), the multipliers l from the m x m system (C A^-1 C') l = d + C A^-1 b.
// Every b[r] is replaced by its x. 1 solved, 0 the band road does not apply or does not hold
// (A not a narrow symmetric band, not positive definite, C A^-1 C' singular, or a residual
// that the dense road would beat: the caller then takes that road), -2 no memory.
// `width`: A's band width when the caller knows it, 0 to find it.
int SolveKktBand(const double* const* A, int n, const double* const* C, int m, double* const* b, const double* const* d,
                 int nRhs, int width = 0) {
  const int w = width > 0 ? width : NarrowSymmetricBand(A, n);
  if (w == 0) return 0;
  TrackingScope scope;
  double** band = allocate_matrix_ff(n, w);
  // Columns 0 .. m-1: A^-1 C' (the rows of C); then A^-1 b[r].
  double** cols = allocate_matrix_ff(m + nRhs, n);
  if (KernelFailed() || !band || !cols) return -2;
  for (int i = 0; i < n; ++i)
    for (int k = 0; k < w; ++k) band[i][k] = i + k < n ? A[i][i + k] : 0.0;
  for (int k = 0; k < m; ++k) std::memcpy(cols[k], C[k], sizeof(double) * n);
  for (int r = 0; r < nRhs; ++r) std::memcpy(cols[m + r], b[r], sizeof(double) * n);
  if (SolveSymBandSystem(band, n, w, cols, m + nRhs) != 0) return 0;
  int* pivots = nullptr;
  double** S = nullptr;
  if (m > 0) {
    S = allocate_matrix_ff(m, m);
    pivots = MallocArray<int>(m);
    if (KernelFailed() || !S || !pivots) return -2;
    for (int i = 0; i < m; ++i)
      for (int j = 0; j < m; ++j) {
        double s = 0.0;
        for (int k = 0; k < n; ++k) s += C[i][k] * cols[j][k];
        S[i][j] = s;
      }
    double parity = 1.0;
    if (ludcmp_ff(S, m, pivots, &parity) != 0) return KernelFailed() ? -2 : 0;
  }
  auto* l = MallocArray<double>(m > 0 ? m : 1);
  auto* x = MallocArray<double>(n);
  if (KernelFailed() || !l || !x) return -2;
  for (int r = 0; r < nRhs; ++r) {
    const double* y = cols[m + r];  // A^-1 b
    for (int i = 0; i < m; ++i) {
      double s = d[r][i];
      for (int k = 0; k < n; ++k) s += C[i][k] * y[k];
      l[i] = s;
    }
    if (m > 0) lubksb_ff(S, m, pivots, l);
    for (int k = 0; k < n; ++k) {
      double s = -y[k];
      for (int i = 0; i < m; ++i) s += cols[i][k] * l[i];
      x[k] = s;
    }
    // The band factors have no pivoting: a residual of the stationarity rows far above
    // round-off says A was not safely positive definite.
    double res = 0.0, size = 0.0;
    for (int i = 0; i < n; ++i) {
      double s = b[r][i], mag = std::fabs(b[r][i]);
      for (int j = std::max(0, i - w + 1); j < std::min(n, i + w); ++j) {
        s += A[i][j] * x[j];
        mag += std::fabs(A[i][j] * x[j]);
      }
      for (int k = 0; k < m; ++k) {
        s -= C[k][i] * l[k];
        mag += std::fabs(C[k][i] * l[k]);
      }
      res = std::max(res, std::fabs(s));
      size = std::max(size, mag);
    }
    if (!(res <= 1e-9 * size)) return 0;
    std::memcpy(cols[m + r], x, sizeof(double) * n);
  }
  for (int r = 0; r < nRhs; ++r) std::memcpy(b[r], cols[m + r], sizeof(double) * n);
  return 1;
}

}  // namespace

LinearConstraint* AllocateNullLinearConstraint() {
  TrackingScope scope;
  auto* c = static_cast<LinearConstraint*>(Malloc(sizeof(LinearConstraint)));
  if (!c || KernelFailed()) return nullptr;
  std::memset(c, 0, sizeof *c);
  scope.keep();
  return c;
}

int GetWrapConstraintParVals(const LinearConstraint* c, double** values, int* count) {
  if (values) *values = nullptr;
  if (count) *count = 0;
  if (!c || !values || !count) return -2;
  const int nPos = c->nPos > 0 ? c->nPos : 0;
  const int nNorm = c->nNorm > 0 ? c->nNorm : 0;
  const int total = nPos + nNorm;
  if (total < 1) return 0;
  if ((nPos > 0 && !c->posPar) || (nNorm > 0 && !c->normPar)) return -2;
  TrackingScope scope;
  auto* v = MallocArray<double>(total);
  if (!v || KernelFailed()) return -2;
  for (int i = 0; i < nPos; ++i) v[i] = c->posPar[i];
  for (int i = 0; i < nNorm; ++i) v[nPos + i] = c->normPar[i];
  HeapSort(total, v);
  scope.keep();
  *values = v;
  *count = total;
  return 0;
}

int ComputeReshapeCrv3PointConstraint(const Bspline* curve, double x, double y, double z, double t,
                                      double* row, double* d) {
  if (!Is3DCurve(curve) || !row || !d) return -2;
  const int p = curve->degreeU;
  const int nCtrl = NumCtrlU(curve);
  double P[3];
  Eval3DPointOnCurve3Array(curve, t, 0, P);
  d[0] = x - P[0];
  d[1] = y - P[1];
  d[2] = z - P[2];
  double N[kMaxSplineDegree + 2];
  int span = p;
  EvalPointOnObjInit(t, p, curve->knotsU, N, &span, nCtrl, 0);
  for (int j = 0; j < nCtrl; ++j) row[j] = 0.0;
  // N is indexed from 1: N[a + 1] belongs to control point span - p + a.
  for (int a = 0; a <= p; ++a) row[span - p + a] = N[a + 1];
  return 0;
}

int ComputeReshapeCrv3NormConstraint(const Bspline* curve, const double n[3], double t, double* row,
                                     double* d) {
  if (!Is3DCurve(curve) || !n || !row || !d) return -2;
  // A parameter that is not a number would pick no span of the knots.
  if (!AllFinite({t, n[0], n[1], n[2]})) return -2;
  const double len = VecSize3(n);
  if (len < kMinNormalLength) return -2;
  const double u[3] = {n[0] / len, n[1] / len, n[2] / len};
  const int p = curve->degreeU;
  const int nCtrl = NumCtrlU(curve);
  double D[3];
  Eval3DPointOnCurve3Array(curve, t, 1, D);
  // The derivative as evaluated, not normalised: the row below acts on the raw derivative.
  *d = -(D[0] * u[0] + D[1] * u[1] + D[2] * u[2]);
  for (int j = 0; j < 3 * nCtrl; ++j) row[j] = 0.0;
  // Row k of the table holds the k-th derivatives of N(span - p) .. N(span).
  double table[3 * (kMaxSplineDegree + 1)] = {};
  const int orders[2] = {0, 1};
  int span = p > 1 ? p - 1 : 0;
  if (ComputeNubValDerivativesM(curve->knotsU, t, NumKnotsU(curve), p, orders, 2, &span, table) !=
      0)
    return -2;
  const double* dN = table + (p + 1);
  for (int a = 0; a <= p; ++a) {
    const int c = span - p + a;
    row[c] = u[0] * dN[a];
    row[nCtrl + c] = u[1] * dN[a];
    row[2 * nCtrl + c] = u[2] * dN[a];
  }
  return 0;
}

int SolveLEQP(double** A, double* b, int n, double** C, double* d, int m) {
  if (!A || n < 1) return 0;
  if (!b || m < 0 || (m > 0 && (!C || !d))) return -2;
  const int band = SolveKktBand(A, n, C, m, &b, &d, 1);
  if (band != 0) return band == 1 ? 0 : -2;
  TrackingScope scope;
  double** K = nullptr;
  double* rhs = nullptr;
  int* pivots = nullptr;
  if (!FactorKkt(A, n, C, m, &K, &rhs, &pivots)) return -2;
  SolveKktRhs(K, n, m, pivots, rhs, b, d);
  return 0;
}

int SolveLEQP3(double** A, int n, double* bx, double* by, double* bz, double** C, int m, double* dx,
               double* dy, double* dz) {
  if (!A || n < 1) return 0;
  if (!bx || !by || !bz || m < 0 || (m > 0 && (!C || !dx || !dy || !dz))) return -2;
  double* const b[3] = {bx, by, bz};
  const double* const d[3] = {dx, dy, dz};
  const int band = SolveKktBand(A, n, C, m, b, d, 3);
  if (band != 0) return band == 1 ? 0 : -2;
  TrackingScope scope;
  double** K = nullptr;
  double* rhs = nullptr;
  int* pivots = nullptr;
  if (!FactorKkt(A, n, C, m, &K, &rhs, &pivots)) return -2;
  SolveKktRhs(K, n, m, pivots, rhs, bx, dx);
  SolveKktRhs(K, n, m, pivots, rhs, by, dy);
  SolveKktRhs(K, n, m, pivots, rhs, bz, dz);
  return 0;
}

// ---- Gram matrices kept by knots ------------------------------------------------------------

namespace {

// Knot vectors a cache keeps: the boundary rows of a heal share a handful.
constexpr int kGramCacheEntries = 8;

// One knot vector's Gram matrices in band form: bands[r][i][k] = G_r(i, i + k), nCtrl x
// (degree + 1). Empty: degree -1, no blocks.
struct GramEntry {
  int degree;
  int nKnots;
  double* knots;
  double** bands[3];
};

// G_r of ComputeCrv3DiffGramMatrix in band form (nCtrl x (p + 1)); zero when p <= r.
int DiffGramBand(const Bspline* curve, int r, double** band) {
  const int p = curve->degreeU, nc = NumCtrlU(curve);
  if (p > r) return NewComputeDiffGramMatrixGQ(curve->knotsU, NumKnotsU(curve), nc, p, r, band);
  for (int i = 0; i < nc; ++i)
    for (int k = 0; k <= p; ++k) band[i][k] = 0.0;
  return 0;
}

void ClearGramEntry(GramEntry* e) {
  FreeAndNull(e->knots);
  for (double**& band : e->bands) {
    if (band) matrix_free_ff(band);
    band = nullptr;
  }
  e->degree = -1;
  e->nKnots = 0;
}

}  // namespace

// The entries replace one another in turn once all are taken.
struct Crv3GramCache {
  GramEntry entries[kGramCacheEntries];
  int next;
};

Crv3GramCache* NewCrv3GramCache() {
  UntrackedScope own;
  auto* cache = CallocArray<Crv3GramCache>(1);
  if (!cache || KernelFailed()) return nullptr;
  for (GramEntry& e : cache->entries) e.degree = -1;
  return cache;
}

void FreeCrv3GramCache(Crv3GramCache* cache) {
  if (!cache) return;
  for (GramEntry& e : cache->entries) ClearGramEntry(&e);
  Free(cache);
}

namespace {

// The cache's entry for the curve's degree and knots, made (outside every scope) when it has
// none; null when it could not be made (the caller then computes the matrices itself).
const GramEntry* GramEntryFor(Crv3GramCache* cache, const Bspline* curve) {
  const int p = curve->degreeU, nk = NumKnotsU(curve), nc = NumCtrlU(curve);
  for (const GramEntry& e : cache->entries)
    if (e.degree == p && e.nKnots == nk && std::memcmp(e.knots, curve->knotsU, sizeof(double) * nk) == 0)
      return &e;
  GramEntry* e = &cache->entries[cache->next];
  ClearGramEntry(e);
  UntrackedScope own;
  e->knots = MallocArray<double>(nk);
  for (double**& band : e->bands) band = allocate_matrix_ff(nc, p + 1);
  bool made = !KernelFailed() && e->knots && e->bands[0] && e->bands[1] && e->bands[2];
  for (int r = 0; made && r <= 2; ++r) made = DiffGramBand(curve, r, e->bands[r]) == 0;
  if (!made) {
    ClearGramEntry(e);
    return nullptr;
  }
  std::memcpy(e->knots, curve->knotsU, sizeof(double) * nk);
  e->degree = p;
  e->nKnots = nk;
  cache->next = (cache->next + 1) % kGramCacheEntries;
  return e;
}

}  // namespace

// ---- Curve shrink-wrap ------------------------------------------------------------------------

namespace {

// Ridge added to the diagonal of every functional, per unit of sample weight: keeps A regular
// where no sample and no energy reaches a control point.
constexpr double kRidge = 0.05;

// The functional of a fit: allocated outside every scope by its builder, freed here on every
// path of the fit.
struct Functional {
  Owned<double*, matrix_free_ff> A;
  Owned<double, Free> bx, by, bz;
};

// Matrices and arrays handed out by the constraint-matrix builders, freed on every path.
struct ConstraintMats {
  Owned<double*, matrix_free_ff> posC, normC;
  Owned<double, Free> dx, dy, dz, normD;
  int nPos = 0;
  int nNorm = 0;
};

int ConstraintCount(const LinearConstraint* c) {
  if (!c) return 0;
  return (c->nPos > 0 ? c->nPos : 0) + (c->nNorm > 0 ? c->nNorm : 0);
}

// The constrained and the unconstrained fits weight samples differently (see the header); both
// weight a curve's derivatives alike in every unit of length below unit size.
void ConstrainedWeights(const Bspline* copy, const ShrnkWrapParams* params, double* s,
                        double w[3]) {
  *s = 1.0 / params->Sigma;
  w[0] = std::min(0.001 * *s, 0.001);
  GetCrvThinPlateWeightsBelowUnitSize(copy, params->Tension, params->Roughness, &w[1], &w[2]);
}

void FreeWeights(const Bspline* copy, const ShrnkWrapParams* params, double* s, double w[3]) {
  *s = params->Sigma;
  w[0] = 0.001 * params->Sigma;
  GetCrvThinPlateWeightsBelowUnitSize(copy, params->Tension, params->Roughness, &w[1], &w[2]);
}

void AddDisplacement(Bspline* curve, const double* dx, const double* dy, const double* dz) {
  const int n = NumCtrlU(curve);
  for (int j = 0; j < n; ++j) {
    curve->X[0][j] += dx[j];
    curve->Y[0][j] += dy[j];
    curve->Z[0][j] += dz[j];
  }
}

// Basis values and span of one sample, taken from the caller or evaluated.
struct SampleBasis {
  double** values;  // null: evaluate
  int** spans;
};

// Builds the functional. The basis of sample k comes from `given` when set, else from the span
// search. Everything handed out is allocated outside every scope.
int BuildFunctional(const Bspline* curve, const double* t, const double* x, const double* y,
                    const double* z, const SampleBasis* given, int n, double s, const double w[3],
                    double*** Aout, double** bxOut, double** byOut, double** bzOut,
                    Crv3GramCache* gram) {
  if (!curve || curve->kind != 1 || curve->dimension != 3 || !Aout || !bxOut || !byOut || !bzOut ||
      !w)
    return -2;
  *Aout = nullptr;
  *bxOut = *byOut = *bzOut = nullptr;
  const int p = curve->degreeU;
  const int nc = NumCtrlU(curve);
  const double* X = curve->X[0];
  const double* Y = curve->Y[0];
  const double* Z = curve->Z[0];
  TrackingScope scope;
  double** A = allocate_matrix_ff(nc, nc);
  auto* bx = MallocArray<double>(nc);
  auto* by = MallocArray<double>(nc);
  auto* bz = MallocArray<double>(nc);
  if (KernelFailed() || !A || !bx || !by || !bz) return -2;
  std::memset(A[0], 0, sizeof(double) * nc * nc);
  for (int i = 0; i < nc; ++i) bx[i] = by[i] = bz[i] = 0.0;

  // Energies: d/dD of w int |(C + D)^(r)|^2 is 2 w G (P + D), G in band form from the cache
  // when there is one.
  const GramEntry* cached = gram ? GramEntryFor(gram, curve) : nullptr;
  for (int r = 0; r <= 2; ++r) {
    TrackingScope bandScope;  // a band made here is scratch
    double** G = cached ? cached->bands[r] : allocate_matrix_ff(nc, p + 1);
    if (!G || (!cached && DiffGramBand(curve, r, G) != 0)) continue;
    const double f = 2.0 * w[r];
    // Basis functions more than a degree apart share no span: their Gram entries are zero.
    for (int i = 0; i < nc; ++i)
      for (int j = std::max(0, i - p); j <= std::min(nc - 1, i + p); ++j) {
        const double g = f * (j >= i ? G[i][j - i] : G[j][i - j]);
        A[i][j] += g;
        bx[i] += g * X[j];
        by[i] += g * Y[j];
        bz[i] += g * Z[j];
      }
  }
  // A skipped order must not hide a failed allocation.
  if (KernelFailed()) return -2;

  // Samples: b carries 2 s N_a (C(t_k) - q_k).
  double N[kMaxSplineDegree + 2];
  for (int k = 0; k < n; ++k) {
    if (t[k] < curve->umin || t[k] > curve->umax) continue;
    int span = p;
    const double* Nk;
    if (given) {
      if (!given->values || !given->values[k] || !given->spans || !given->spans[k]) continue;
      span = *given->spans[k];
      Nk = given->values[k];
    } else {
      EvalPointOnObjInit(t[k], p, curve->knotsU, N, &span, nc, 0);
      Nk = N + 1;
    }
    // A span that does not fit the curve would address control points it does not have.
    if (span < p || span > nc - 1) continue;
    const int c0 = span - p;
    for (int a = 0; a <= p; ++a) {
      const double fa = 2.0 * s * Nk[a];
      bx[c0 + a] -= fa * x[k];
      by[c0 + a] -= fa * y[k];
      bz[c0 + a] -= fa * z[k];
      for (int b = 0; b <= p; ++b) {
        const int e = c0 + b;
        const double g = fa * Nk[b];
        A[c0 + a][e] += g;
        bx[c0 + a] += g * X[e];
        by[c0 + a] += g * Y[e];
        bz[c0 + a] += g * Z[e];
      }
    }
  }
  scope.keep();
  for (int i = 0; i < nc; ++i) A[i][i] += 2.0 * kRidge * s;
  *Aout = A;
  *bxOut = bx;
  *byOut = by;
  *bzOut = bz;
  return 0;
}

// The unconstrained minimiser A D = -b, added to the copy. Scratch in the caller's scope.
int SolveFree(Bspline* copy, Functional& f) {
  double** A = f.A.get();
  double *bx = f.bx.get(), *by = f.by.get(), *bz = f.bz.get();
  const int nc = NumCtrlU(copy);
  double* const b[3] = {bx, by, bz};
  const int band = SolveKktBand(A, nc, nullptr, 0, b, nullptr, 3);
  if (band != 0) {
    if (band != 1) return -2;
    AddDisplacement(copy, bx, by, bz);
    return 0;
  }
  auto* pivots = MallocArray<int>(nc);
  if (KernelFailed() || !pivots) return -2;
  for (int i = 0; i < nc; ++i) {
    bx[i] = -bx[i];
    by[i] = -by[i];
    bz[i] = -bz[i];
  }
  double parity = 1.0;
  if (ludcmp_ff(A, nc, pivots, &parity) != 0) return -2;
  lubksb_ff(A, nc, pivots, bx);
  lubksb_ff(A, nc, pivots, by);
  lubksb_ff(A, nc, pivots, bz);
  AddDisplacement(copy, bx, by, bz);
  return 0;
}

// Position rows only: one factorisation shared by x, y and z.
int SolvePositions(Bspline* copy, Functional& f, double** posC, int k, double* dx, double* dy,
                   double* dz) {
  double** A = f.A.get();
  double *bx = f.bx.get(), *by = f.by.get(), *bz = f.bz.get();
  if (SolveLEQP3(A, NumCtrlU(copy), bx, by, bz, posC, k, dx, dy, dz) != 0) return -2;
  AddDisplacement(copy, bx, by, bz);
  return 0;
}

// Normal rows couple the coordinates: the 3 nCtrl block system with A on the diagonal three
// times, three rows per position row ([C, 0, 0], [0, C, 0], [0, 0, C]) and then the normal
// rows. With squareShortcut, a system with as many rows as unknowns is solved from the
// constraints alone. Scratch in the caller's scope.
int SolveCoupled(Bspline* copy, Functional& f, double** posC, int k, const double* dx,
                 const double* dy, const double* dz, double** normC, int k2, const double* normD,
                 bool squareShortcut) {
  const double* const* A = f.A.get();
  const double *bx = f.bx.get(), *by = f.by.get(), *bz = f.bz.get();
  const int nc = NumCtrlU(copy);
  const int n3 = 3 * nc;
  const int m = 3 * k + k2;
  double** A3 = allocate_matrix_ff(n3, n3);
  double** C3 = allocate_matrix_ff(m > 0 ? m : 1, n3);
  auto* b3 = MallocArray<double>(n3);
  auto* d3 = MallocArray<double>(m > 0 ? m : 1);
  if (KernelFailed() || !A3 || !C3 || !b3 || !d3) return -2;
  std::memset(A3[0], 0, sizeof(double) * n3 * n3);
  std::memset(C3[0], 0, sizeof(double) * (m > 0 ? m : 1) * n3);
  for (int c = 0; c < 3; ++c)
    for (int i = 0; i < nc; ++i)
      for (int j = 0; j < nc; ++j) A3[c * nc + i][c * nc + j] = A[i][j];
  for (int i = 0; i < nc; ++i) {
    b3[i] = bx[i];
    b3[nc + i] = by[i];
    b3[2 * nc + i] = bz[i];
  }
  const double* ds[3] = {dx, dy, dz};
  for (int i = 0; i < k; ++i)
    for (int c = 0; c < 3; ++c) {
      for (int j = 0; j < nc; ++j) C3[3 * i + c][c * nc + j] = posC[i][j];
      d3[3 * i + c] = ds[c][i];
    }
  for (int r = 0; r < k2; ++r) {
    for (int j = 0; j < n3; ++j) C3[3 * k + r][j] = normC[r][j];
    d3[3 * k + r] = normD[r];
  }
  // The three copies of A on the diagonal make a band as narrow as A's: found on A, not on
  // the nine times larger block matrix.
  const int width = NarrowSymmetricBand(A, nc);
  int band = 0;
  if (squareShortcut && m == n3) {
    if (SolveLinearSystem_ff(C3, n3, d3, b3) != 0) return -2;
  } else if (width > 0 && (band = SolveKktBand(A3, n3, C3, m, &b3, &d3, 1, width)) != 0) {
    if (band != 1) return -2;
  } else if (SolveLEQP(A3, b3, n3, C3, d3, m) != 0) {
    return -2;
  }
  AddDisplacement(copy, b3, b3 + nc, b3 + 2 * nc);
  return 0;
}

// Runs body(copy) on a copy of the curve (made outside every scope) with the body's scratch in
// a scope of its own; the copy is handed back on success and freed on failure.
template <class Body>
int FitOnCopy(const Bspline* curve, Bspline** result, Body body) {
  Bspline* copy = CopyCurveBspline(const_cast<Bspline*>(curve));
  if (!copy || KernelFailed()) return -2;
  int status;
  {
    TrackingScope scope;
    status = body(copy);
  }
  // A fit of finite samples that overflowed is a failure, not a result.
  if (status == 0 && !BsplineSound(copy)) {
    SetKernelError(-2);
    status = -2;
  }
  if (status != 0) {
    FreeBspline(copy);
    return -2;
  }
  // Derived data no longer matches the moved control points.
  FreeBsplineProperties(copy);
  *result = copy;
  return 0;
}

// Constrained fits weigh an order-0 energy that pulls the curve towards the origin, so they run
// with the copy, the samples and the position targets moved by the centroid of the copy's
// control points, and the copy is moved back: the fit does not depend on where the part lies.
// Moved only, not scaled: the constrained weights keep the sizes they were set for. `fit` gets
// the moved samples and a record whose position targets are the moved ones (its other arrays
// are the caller's).
template <class Fit>
int AboutCentroid(Bspline* copy, int n, const double* x, const double* y, const double* z,
                  const LinearConstraint* constraint, Fit fit) {
  const int nc = NumCtrlU(copy);
  UnitFrame frame = UnitFrameOfPoints(copy->X[0], copy->Y[0], copy->Z[0], nc, false);
  frame.size = 1.0;
  const int m = std::max(n, 1), np = constraint && constraint->nPos > 0 ? constraint->nPos : 1;
  double* q = MallocArray<double>(3, m);
  double* p = MallocArray<double>(3, np);
  if (!q || !p || KernelFailed()) return -2;
  double *qx = q, *qy = q + m, *qz = q + 2 * m;
  if (n > 0) {
    std::memcpy(qx, x, sizeof(double) * n);
    std::memcpy(qy, y, sizeof(double) * n);
    std::memcpy(qz, z, sizeof(double) * n);
    PointsToUnitFrame(frame, qx, qy, qz, n);
  }
  LinearConstraint moved = {};
  if (constraint) moved = *constraint;
  if (constraint && constraint->nPos > 0 && constraint->posX && constraint->posY && constraint->posZ) {
    double *px = p, *py = p + np, *pz = p + 2 * np;
    std::memcpy(px, constraint->posX, sizeof(double) * np);
    std::memcpy(py, constraint->posY, sizeof(double) * np);
    std::memcpy(pz, constraint->posZ, sizeof(double) * np);
    PointsToUnitFrame(frame, px, py, pz, np);
    moved.posX = px, moved.posY = py, moved.posZ = pz;
  }
  PointsToUnitFrame(frame, copy->X[0], copy->Y[0], copy->Z[0], nc);
  const int status = fit(qx, qy, qz, constraint ? &moved : nullptr);
  PointsFromUnitFrame(frame, copy->X[0], copy->Y[0], copy->Z[0], nc);
  return status;
}

// Normal rows of the record in order, keeping those that can be built.
int BuildNormalRows(const Bspline* copy, const LinearConstraint* c, double*** rows, double** d,
                    int* k2) {
  const int nc = NumCtrlU(copy);
  *rows = allocate_matrix_ff(c->nNorm, 3 * nc);
  *d = MallocArray<double>(c->nNorm);
  if (KernelFailed() || !*rows || !*d) return -2;
  *k2 = 0;
  for (int j = 0; j < c->nNorm; ++j) {
    const double n[3] = {c->normX[j], c->normY[j], c->normZ[j]};
    if (ComputeReshapeCrv3NormConstraint(copy, n, c->normPar[j], (*rows)[*k2], &(*d)[*k2]) == 0)
      ++*k2;
  }
  return 0;
}

// Position rows of the record in order.
int BuildPositionRows(const Bspline* copy, const LinearConstraint* c, double*** rows, double** dx,
                      double** dy, double** dz, int* k) {
  const int nc = NumCtrlU(copy);
  *k = 0;
  if (c->nPos < 1) return 0;
  *rows = allocate_matrix_ff(c->nPos, nc);
  *dx = MallocArray<double>(c->nPos);
  *dy = MallocArray<double>(c->nPos);
  *dz = MallocArray<double>(c->nPos);
  if (KernelFailed() || !*rows || !*dx || !*dy || !*dz) return -2;
  for (int i = 0; i < c->nPos; ++i) {
    double d[3];
    if (ComputeReshapeCrv3PointConstraint(copy, c->posX[i], c->posY[i], c->posZ[i], c->posPar[i],
                                          (*rows)[*k], d) != 0)
      continue;
    (*dx)[*k] = d[0];
    (*dy)[*k] = d[1];
    (*dz)[*k] = d[2];
    ++*k;
  }
  return 0;
}

// Position rows and, with normals, the coupled system, built straight from the record in its
// order; *normalRows tells whether normal rows were asked for.
int SolveWithRecordRows(Bspline* copy, Functional& f, const LinearConstraint* c, bool* normalRows) {
  double** posC = nullptr;
  double *dx = nullptr, *dy = nullptr, *dz = nullptr;
  int k = 0;
  if (BuildPositionRows(copy, c, &posC, &dx, &dy, &dz, &k) != 0) return -2;
  *normalRows = c->nNorm > 0;
  if (!*normalRows) return SolvePositions(copy, f, posC, k, dx, dy, dz);
  double** normC = nullptr;
  double* normD = nullptr;
  int k2 = 0;
  if (BuildNormalRows(copy, c, &normC, &normD, &k2) != 0) return -2;
  return SolveCoupled(copy, f, posC, k, dx, dy, dz, normC, k2, normD, false);
}

bool ValidSamples(int n, const double* t, const double* x, const double* y, const double* z) {
  return n <= 0 || (t && x && y && z);
}

// The door of the free and constrained fits: a sound 3D curve (every knot and coefficient finite)
// and finite samples, or the error state set and false.
bool FitInputSound(const Bspline* curve, int n, const double* t, const double* x, const double* y,
                   const double* z) {
  const bool sound = Is3DCurve(curve) && BsplineSound(curve) && ValidSamples(n, t, x, y, z) &&
                     (n <= 0 || (AllFinite(t, n) && AllFinite(x, n) && AllFinite(y, n) && AllFinite(z, n)));
  if (!sound) SetKernelError(-2);
  return sound;
}

}  // namespace

int GetCrvThinPlateWeights(const Bspline* curve, double tension, double roughness, double* w1,
                           double* w2) {
  if (!BsplineSound(curve) || curve->kind != 1 || !w1 || !w2) return -2;
  // Both scales are a tenth of the extents: the weights are per squared extent of the curve.
  const double L = 0.1 * std::max(kMinThinPlateScale, ControlExtent(curve));
  const double R = 0.1 * std::max(kMinThinPlateScale, std::fabs(curve->umax - curve->umin));
  *w1 = tension / roughness * (R / L) * (R / L);
  *w2 = (1.0 - tension) / roughness * (R * R / L) * (R * R / L);
  if (curve->degreeU > 3) {
    *w1 *= 2.0;
    *w2 *= 2.0;
  }
  return 0;
}

// The thin-plate weights are per squared extent of the curve, while the sample and order-0
// terms of a shrink-wrap go with the squared unit of length like the derivative energies: taken
// as they are, a curve a thousandth of a unit long would be smoothed a million times harder than
// the same curve at unit size, and hardly follow its samples (a healed seam stayed open at
// several times its target). A curve shorter than unit extent is weighted as the same curve at
// unit extent, so its fit is the scaled fit; longer curves keep their weights.
int GetCrvThinPlateWeightsBelowUnitSize(const Bspline* curve, double tension, double roughness, double* w1,
                                        double* w2) {
  if (GetCrvThinPlateWeights(curve, tension, roughness, w1, w2) != 0) return -2;
  const double extent = std::clamp(ControlExtent(curve), kMinThinPlateScale, 1.0);
  *w1 *= extent * extent;
  *w2 *= extent * extent;
  return 0;
}

int ComputeCrv3DiffGramMatrix(const Bspline* curve, int r, double*** Gout) {
  if (!Is3DCurve(curve) || !Gout || r < 0) return -2;
  *Gout = nullptr;
  const int p = curve->degreeU;
  const int nc = NumCtrlU(curve);
  TrackingScope scope;
  double** G = allocate_matrix_ff(nc, nc);
  if (KernelFailed() || !G) return -2;
  std::memset(G[0], 0, sizeof(double) * nc * nc);
  double** band = allocate_matrix_ff(nc, p + 1);
  if (KernelFailed() || !band || DiffGramBand(curve, r, band) != 0) return -2;
  for (int i = 0; i < nc; ++i)
    for (int k = 0; k <= p && i + k < nc; ++k) G[i][i + k] = G[i + k][i] = band[i][k];
  matrix_free_ff(band);
  scope.keep();
  *Gout = G;
  return 0;
}

int SetupShrinkWrapCrv3FunctionalMat(const Bspline* curve, const double* t, const double* x,
                                     const double* y, const double* z, int n, double s,
                                     const double w[3], double*** A, double** bx, double** by,
                                     double** bz, Crv3GramCache* gram) {
  if (!ValidSamples(n, t, x, y, z)) return -2;
  return BuildFunctional(curve, t, x, y, z, nullptr, n, s, w, A, bx, by, bz, gram);
}

namespace {

// The unconstrained fit; the basis of the samples from `given` or evaluated. The order-0 energy
// pulls the curve towards the origin and the thin-plate weights are those of unit extent, so the
// fit runs with the copy and the samples in the control points' unit frame (foundation/unitfrm)
// and the copy is mapped back: the same fit relative to the size at any size and place.
int FreeFit(const Bspline* curve, int n, const double* t, const double* x, const double* y,
            const double* z, const SampleBasis* given, const ShrnkWrapParams* params,
            Bspline** result) {
  return FitOnCopy(curve, result, [&](Bspline* copy) {
    const int nc = NumCtrlU(copy);
    const UnitFrame frame = UnitFrameOfPoints(copy->X[0], copy->Y[0], copy->Z[0], nc, false);
    double* q = MallocArray<double>(3, std::max(n, 1));
    if (!q || KernelFailed()) return -2;
    double *qx = q, *qy = q + std::max(n, 1), *qz = qy + std::max(n, 1);
    if (n > 0) {
      std::memcpy(qx, x, sizeof(double) * n);
      std::memcpy(qy, y, sizeof(double) * n);
      std::memcpy(qz, z, sizeof(double) * n);
    }
    PointsToUnitFrame(frame, qx, qy, qz, std::max(n, 0));
    PointsToUnitFrame(frame, copy->X[0], copy->Y[0], copy->Z[0], nc);
    Functional f;
    double s, w[3];
    FreeWeights(copy, params, &s, w);
    if (BuildFunctional(copy, t, qx, qy, qz, given, n, s, w, f.A.receive(), f.bx.receive(),
                        f.by.receive(), f.bz.receive(), nullptr) != 0 ||
        SolveFree(copy, f) != 0)
      return -2;
    PointsFromUnitFrame(frame, copy->X[0], copy->Y[0], copy->Z[0], nc);
    return 0;
  });
}

// The functional of a constrained fit on the copy; the Gram matrices from `gram` when set.
int ConstrainedFunctional(const Bspline* copy, int n, const double* t, const double* x,
                          const double* y, const double* z, const SampleBasis* given,
                          const ShrnkWrapParams* params, Functional& f, Crv3GramCache* gram = nullptr) {
  double s, w[3];
  ConstrainedWeights(copy, params, &s, w);
  return BuildFunctional(copy, t, x, y, z, given, n, s, w, f.A.receive(), f.bx.receive(),
                         f.by.receive(), f.bz.receive(), gram);
}

}  // namespace

int ShrinkWrapCrv3(const Bspline* curve, int n, const double* t, const double* x, const double* y,
                   const double* z, const ShrnkWrapParams* params, Bspline** result) {
  if (!result) return -2;
  *result = nullptr;
  if (!params || !FitInputSound(curve, n, t, x, y, z)) return -2;
  return FreeFit(curve, n, t, x, y, z, nullptr, params, result);
}

int NewConstrainedShrinkWrapCrv3(const Bspline* curve, int n, const double* t, const double* x,
                                 const double* y, const double* z, const ShrnkWrapParams* params,
                                 const LinearConstraint* constraint, int insertKnots,
                                 Bspline** result) {
  if (!result) return -2;
  *result = nullptr;
  if (!params || !FitInputSound(curve, n, t, x, y, z)) return -2;
  if (ConstraintCount(constraint) < 1) return ShrinkWrapCrv3(curve, n, t, x, y, z, params, result);
  return FitOnCopy(curve, result, [&](Bspline* copy) {
    int enough = 0;
    if (IsEnoughCrv3KnotForWrapConstraint(copy, constraint, &enough) != 0) return -2;
    // Knots are placed once; a curve still short of them shows as a singular system.
    if (!enough) {
      if (!insertKnots) return -2;
      double* values = nullptr;
      int count = 0;
      if (GetWrapConstraintParVals(constraint, &values, &count) != 0) return -2;
      const int r = NewInsertReshapeCrv3KnotsDistribute(copy, values, count);
      Free(values);
      if (r != 0) return -2;
    }
    return AboutCentroid(copy, n, x, y, z, constraint,
                         [&](const double* qx, const double* qy, const double* qz, const LinearConstraint* c) {
                           Functional f;
                           if (ConstrainedFunctional(copy, n, t, qx, qy, qz, nullptr, params, f) != 0) return -2;
                           bool normalRows = false;
                           return SolveWithRecordRows(copy, f, c, &normalRows);
                         });
  });
}

int IsEnoughCrv3KnotForWrapConstraint(const Bspline* curve, const LinearConstraint* c,
                                      int* enough) {
  if (!curve || curve->kind != 1 || !c || !enough) return -2;
  *enough = 1;
  if (ConstraintCount(c) < 1) return 0;
  const int p = curve->degreeU;
  const int nc = NumCtrlU(curve);
  const double umin = curve->umin, umax = curve->umax;
  const double tol = std::fabs(umax - umin) * 1e-6;
  TrackingScope scope;
  auto* count = MallocArray<int>(nc);
  if (KernelFailed() || !count) return -2;
  for (int i = 0; i < nc; ++i) count[i] = 0;
  // An interior parameter counts on every control point whose support holds it; parameters
  // beyond the domain count as its ends.
  auto inside = [&](double t) {
    int span = p;
    FindLowKnotIndex(curve->knotsU, p, t, &span, nc);
    for (int j = span - p; j <= span; ++j) ++count[j];
  };
  for (int i = 0; i < c->nPos; ++i) {
    const double t = c->posPar[i];
    if (t <= umin + tol) {
      ++count[0];
    } else if (t >= umax - tol) {
      ++count[nc - 1];
    } else {
      inside(t);
    }
  }
  for (int i = 0; i < c->nNorm; ++i) {
    const double t = c->normPar[i];
    // The tangent at an end is P[1] - P[0] (or P[n-1] - P[n-2]) times a constant: with the end
    // point held by a position entry or free, a direction there is carried by the control point
    // next to the end. Charged to the end point as well, any two directions at the end of a
    // degree-2 curve would count as too many, and such curves could hold no corner tangent.
    if (t <= umin + tol) {
      ++count[1];
    } else if (t >= umax - tol) {
      ++count[nc - 2];
    } else {
      inside(t);
    }
  }
  for (int i = 0; i < nc; ++i)
    if (count[i] > p) *enough = 0;
  // Nor may the constraints outnumber the unknowns: three per position, one per direction.
  if (3 * c->nPos + c->nNorm > 3 * nc) *enough = 0;
  return 0;
}

int InsertWrapConstraintKnotCrv3(Bspline* curve, const LinearConstraint* c) {
  if (!curve || !c) return -2;
  int enough = 0;
  if (IsEnoughCrv3KnotForWrapConstraint(curve, c, &enough) != 0) return -2;
  if (enough) return 0;
  double* values = nullptr;
  int count = 0;
  if (GetWrapConstraintParVals(c, &values, &count) != 0) return -2;
  const int r = NewInsertReshapeCrv3KnotsDistribute(curve, values, count);
  Free(values);
  return r;
}

namespace {

// The work of NewInsertReshapeCrv3KnotsDistribute on a curve of degree >= 1; a failure may leave
// the curve raised or with the knots placed before it.
int DistributeConstraintKnots(Bspline* curve, const double* values, int count) {
  // The curve's new arrays belong with the curve, not with the caller's scope.
  UntrackedScope own;
  if (curve->degreeU == 1) {
    ElevateDegreeOfObjSet(2, nullptr, &curve, 1);
    if (KernelFailed()) return -2;
  }
  if (count < 1) return 0;
  const double umin = curve->umin, umax = curve->umax;
  double* list = nullptr;
  if (!CallocArrayUnlessFailed(list, count + 2)) return -2;
  list[0] = umin;
  for (int i = 0; i < count; ++i) list[i + 1] = values[i];
  list[count + 1] = umax;
  HeapSort(count + 2, list);
  const double tol = (umax - umin) * 1e-6;
  int kept = 1;
  for (int i = 1; i < count + 2; ++i)
    if (!(list[i] - list[i - 1] <= tol)) list[kept++] = list[i];
  if (kept >= 3) {
    for (int i = 0; i < kept; ++i) {
      // Each value gets a knot at or near it; a failed placement leaves the others standing.
      double u = list[i];
      int inserted = 0;
      SnapInsertOneKnotToObject(curve, 0, &u, &inserted);
      if (!inserted) InsertOneKnotInCrv3Clst(curve, list[i], &inserted);
      if (!inserted) InsertOneKnotInCrv3Span(curve, list[i], 1, &inserted);
    }
  } else if (curve->interiorU == 0) {
    InsertNKnotsToObject(1, 1, 0, curve, 0, nullptr);
  }
  Free(list);
  return KernelFailed() ? -2 : 0;
}

}  // namespace

int NewInsertReshapeCrv3KnotsDistribute(Bspline* curve, const double* values, int count) {
  if (!curve || curve->kind != 1 || curve->degreeU < 1) return -2;
  if (count > 0 && !values) return -2;
  // The placements run on the curve itself: a failure after some of them puts back a copy
  // taken first.
  const Owned<Bspline, FreeBspline> saved(CopyCurveBspline(curve));
  if (!saved || KernelFailed()) return -2;
  const int status = DistributeConstraintKnots(curve, values, count);
  if (status != 0) RestoreBsplineShape(curve, saved.get());
  return status;
}

int FindMidKnotInLongInfluenceSpan(const double* knots, int nKnots, int first, int last,
                                   double* u) {
  if (!knots || !u) return -2;
  const int i0 = std::max(first, 0), i1 = std::min(nKnots - 1, last);
  if (i1 < i0 + 1) return -2;
  int best = -1;
  for (int j = i0 + 1; j <= i1; ++j) {
    const double len = knots[j] - knots[j - 1];
    if (len >= 1e-6 && (best < 0 || len > knots[best] - knots[best - 1])) best = j;
  }
  if (best < 0) return -2;
  *u = 0.5 * (knots[best - 1] + knots[best]);
  return 0;
}

int InsertOneKnotInCrv3Span(Bspline* curve, double t, int midFlag, int* inserted) {
  if (inserted) *inserted = 0;
  if (!Is3DCurve(curve) || t < curve->umin || t > curve->umax) return -2;
  if (!midFlag) return SnapInsertOneKnotToObject(curve, 0, &t, inserted);
  const int p = curve->degreeU;
  const int nc = NumCtrlU(curve);
  const double tol = std::fabs(curve->umax - curve->umin) * 1e-6;
  int s = p;
  FindLowKnotIndex(curve->knotsU, p, t, &s, nc);
  double u;
  if (t - curve->umin > tol && curve->umax - t > tol) {
    if (FindMidKnotInLongInfluenceSpan(curve->knotsU, NumKnotsU(curve), s - p, s + 1, &u) != 0)
      return -2;
  } else {
    u = 0.5 * (curve->knotsU[s] + curve->knotsU[s + 1]);
  }
  return SnapInsertOneKnotToObject(curve, 0, &u, inserted);
}

int InsertOneKnotInCrv3Clst(Bspline* curve, double t, int* inserted) {
  if (inserted) *inserted = 0;
  if (!Is3DCurve(curve) || t < curve->umin || t > curve->umax) return -2;
  const int p = curve->degreeU;
  const int nc = NumCtrlU(curve);
  const double tol = std::fabs(curve->umax - curve->umin) * 1e-6;
  int s = p;
  FindLowKnotIndex(curve->knotsU, p, t, &s, nc);
  const double* k = curve->knotsU;
  double u = (t - curve->umin > tol && curve->umax - t > tol) ? 0.5 * (k[s - 1] + k[s])
                                                              : 0.5 * (k[s] + k[s + 1]);
  return SnapInsertOneKnotToObject(curve, 0, &u, inserted);
}

// ---- Shrink-wrap on precomputed basis values ------------------------------------------------

int SetupShrinkWrapCrv3FunctionalMatNubVals(const Bspline* curve, const double* t, const double* x,
                                            const double* y, const double* z, double** basisValues,
                                            int** spans, int n, double s, const double w[3],
                                            double*** A, double** bx, double** by, double** bz) {
  if (!ValidSamples(n, t, x, y, z) || (n > 0 && (!basisValues || !spans))) return -2;
  const SampleBasis given{basisValues, spans};
  return BuildFunctional(curve, t, x, y, z, &given, n, s, w, A, bx, by, bz, nullptr);
}

int ShrinkWrapCrv3NubVals(const Bspline* curve, int n, const double* t, const double* x,
                          const double* y, const double* z, double** basisValues, int** spans,
                          const ShrnkWrapParams* params, Bspline** result) {
  if (!result) return -2;
  *result = nullptr;
  if (!params || (n > 0 && (!basisValues || !spans)) || !FitInputSound(curve, n, t, x, y, z)) return -2;
  const SampleBasis given{basisValues, spans};
  return FreeFit(curve, n, t, x, y, z, &given, params, result);
}

namespace {

// Unit first derivative at t, or the raw one where it vanishes: shorter than 1e-6 of the speed
// a curve of its extent runs at over its parameter range. Against a fixed 1e-6 every tangent of
// a part a millionth of a unit long counted as vanished, and its fits lost their end rows.
void UnitTangent(const Bspline* c, double t, double out[3]) {
  Eval3DPointOnCurve3Array(c, t, 1, out);
  const double range = std::fabs(c->umax - c->umin);
  const double speed = range > 0.0 ? ControlExtent(c) / range : 1.0;
  const double len = VecSize3(out);
  if (len > 1e-6 * speed)
    for (int k = 0; k < 3; ++k) out[k] /= len;
}

bool EndTangentReversed(const Bspline* before, const Bspline* after, double t) {
  double a[3], b[3];
  UnitTangent(before, t, a);
  UnitTangent(after, t, b);
  return VecDotProd3(a, b) < 0.0;
}

// Entry checks shared by the two constrained forms on basis values: 1 when the fit goes on,
// else *status holds the result (a refusal or the unconstrained fit a record asks for).
bool NubValsFitProceeds(const Bspline* curve, int n, const double* t, const double* x,
                        const double* y, const double* z, const ShrnkWrapParams* params,
                        const LinearConstraint* constraint, double** basisValues, int** spans,
                        Bspline** result, int* status) {
  *status = -2;
  if (!result) return false;
  *result = nullptr;
  if (!params || !FitInputSound(curve, n, t, x, y, z)) return false;
  if (!constraint) {
    *status = ShrinkWrapCrv3NubVals(curve, n, t, x, y, z, basisValues, spans, params, result);
    return false;
  }
  // Legacy: an empty record takes the fit that evaluates the basis itself.
  if (ConstraintCount(constraint) < 1) {
    *status = ShrinkWrapCrv3(curve, n, t, x, y, z, params, result);
    return false;
  }
  return n <= 0 || (basisValues && spans);
}

// No knot is inserted on this path: too few knots refuse the fit.
int NubValsFunctional(const Bspline* copy, int n, const double* t, const double* x, const double* y,
                      const double* z, const ShrnkWrapParams* params,
                      const LinearConstraint* constraint, double** basisValues, int** spans,
                      Functional& f, Crv3GramCache* gram = nullptr) {
  int enough = 0;
  if (IsEnoughCrv3KnotForWrapConstraint(copy, constraint, &enough) != 0 || !enough) return -2;
  const SampleBasis given{basisValues, spans};
  return ConstrainedFunctional(copy, n, t, x, y, z, &given, params, f, gram);
}

}  // namespace

int ConstrainedShrinkWrapCrv3NubVals(const Bspline* curve, int n, const double* t, const double* x,
                                     const double* y, const double* z,
                                     const ShrnkWrapParams* params,
                                     const LinearConstraint* constraint, double** basisValues,
                                     int** spans, Bspline** result, Crv3GramCache* gram) {
  int status = -2;
  if (!NubValsFitProceeds(curve, n, t, x, y, z, params, constraint, basisValues, spans, result,
                          &status))
    return status;
  bool normalRows = false;
  if (FitOnCopy(curve, result, [&](Bspline* copy) {
        return AboutCentroid(
            copy, n, x, y, z, constraint,
            [&](const double* qx, const double* qy, const double* qz, const LinearConstraint* c) {
              Functional f;
              if (NubValsFunctional(copy, n, t, qx, qy, qz, params, c, basisValues, spans, f, gram) != 0)
                return -2;
              return SolveWithRecordRows(copy, f, c, &normalRows);
            });
      }) != 0)
    return -2;
  // Normals at the ends can flip an end tangent; the second formulation pins it instead.
  if (normalRows && (EndTangentReversed(curve, *result, curve->umin) ||
                     EndTangentReversed(curve, *result, curve->umax))) {
    FreeBspline(*result);
    *result = nullptr;
    return NewConstrainedShrinkWrapCrv3NubVals(curve, n, t, x, y, z, params, constraint,
                                               basisValues, spans, result);
  }
  return 0;
}

int NewConstrainedShrinkWrapCrv3NubVals(const Bspline* curve, int n, const double* t,
                                        const double* x, const double* y, const double* z,
                                        const ShrnkWrapParams* params,
                                        const LinearConstraint* constraint, double** basisValues,
                                        int** spans, Bspline** result) {
  int status = -2;
  if (!NubValsFitProceeds(curve, n, t, x, y, z, params, constraint, basisValues, spans, result,
                          &status))
    return status;
  return FitOnCopy(curve, result, [&](Bspline* copy) {
    return AboutCentroid(copy, n, x, y, z, constraint,
                         [&](const double* qx, const double* qy, const double* qz, const LinearConstraint* k) {
                           Functional f;
                           if (NubValsFunctional(copy, n, t, qx, qy, qz, params, k, basisValues, spans, f) != 0)
                             return -2;
                           ConstraintMats c;
                           if (ComputeReshapeCrv3ConstraintMat(copy, k, c.posC.receive(), &c.nPos, c.dx.receive(),
                                                               c.dy.receive(), c.dz.receive(), c.normC.receive(),
                                                               &c.nNorm, c.normD.receive()) != 0)
                             return -2;
                           if (c.nNorm < 1)
                             return SolvePositions(copy, f, c.posC.get(), c.nPos, c.dx.get(), c.dy.get(),
                                                   c.dz.get());
                           return SolveCoupled(copy, f, c.posC.get(), c.nPos, c.dx.get(), c.dy.get(), c.dz.get(),
                                               c.normC.get(), c.nNorm, c.normD.get(), true);
                         });
  });
}

int ComputeReshapeCrv3ConstraintMat(const Bspline* curve, const LinearConstraint* c, double*** posC,
                                    int* nPosRows, double** dx, double** dy, double** dz,
                                    double*** normC, int* nNormRows, double** normD) {
  if (!posC || !nPosRows || !dx || !dy || !dz || !normC || !nNormRows || !normD) return -2;
  *posC = *normC = nullptr;
  *dx = *dy = *dz = *normD = nullptr;
  *nPosRows = *nNormRows = 0;
  if (!Is3DCurve(curve)) return -2;
  if (ConstraintCount(c) < 1) return 0;
  // The position rows reach the caller only when the normal rows were made too.
  Owned<double*, matrix_free_ff> pos;
  Owned<double, Free> x, y, z, startTarget, endTarget;
  int posRows = 0;
  if (c->nPos > 0 &&
      ComputeReshapeCrv3PosConstraintMat(curve, c, pos.receive(), &posRows, x.receive(), y.receive(), z.receive(),
                                         startTarget.receive(), endTarget.receive()) != 0)
    return -2;
  if (c->nNorm > 0 && ComputeReshapeCrv3NormConstraintMat(curve, c, startTarget.get(), endTarget.get(), normC,
                                                          nNormRows, normD) != 0)
    return -2;
  *posC = pos.release();
  *nPosRows = posRows;
  *dx = x.release();
  *dy = y.release();
  *dz = z.release();
  return 0;
}

int ComputeReshapeCrv3PosConstraintMat(const Bspline* curve, const LinearConstraint* c,
                                       double*** posC, int* nPosRows, double** dx, double** dy,
                                       double** dz, double** startTarget, double** endTarget) {
  if (!posC || !nPosRows || !dx || !dy || !dz || !startTarget || !endTarget) return -2;
  *posC = nullptr;
  *dx = *dy = *dz = *startTarget = *endTarget = nullptr;
  *nPosRows = 0;
  if (!Is3DCurve(curve)) return -2;
  if (!c || c->nPos < 1) return 0;
  const int nc = NumCtrlU(curve);
  const double umin = curve->umin, umax = curve->umax;
  const double tol = std::fabs(umax - umin) * 1e-6;
  TrackingScope scope;
  double** rows = allocate_matrix_ff(c->nPos, nc);
  auto* ex = MallocArray<double>(c->nPos);
  auto* ey = MallocArray<double>(c->nPos);
  auto* ez = MallocArray<double>(c->nPos);
  if (KernelFailed() || !rows || !ex || !ey || !ez) return -2;
  int startIdx = -1, endIdx = -1;  // the last constraint at an end wins
  int k = 0;
  for (int i = 0; i < c->nPos; ++i) {
    const double t = c->posPar[i];
    if (t < umin || t > umax) continue;
    if (std::fabs(t - umin) <= tol) {
      startIdx = i;
    } else if (std::fabs(t - umax) <= tol) {
      endIdx = i;
    }
    double d[3];
    if (ComputeReshapeCrv3PointConstraint(curve, c->posX[i], c->posY[i], c->posZ[i], t, rows[k],
                                          d) != 0)
      continue;
    ex[k] = d[0];
    ey[k] = d[1];
    ez[k] = d[2];
    ++k;
  }
  if (k == 0) return -2;
  double* targets[2] = {nullptr, nullptr};
  const int idx[2] = {startIdx, endIdx};
  for (int e = 0; e < 2; ++e) {
    if (idx[e] < 0) continue;
    targets[e] = MallocArray<double>(3);
    if (KernelFailed() || !targets[e]) return -2;
    targets[e][0] = c->posX[idx[e]];
    targets[e][1] = c->posY[idx[e]];
    targets[e][2] = c->posZ[idx[e]];
  }
  scope.keep();
  *posC = rows;
  *nPosRows = k;
  *dx = ex;
  *dy = ey;
  *dz = ez;
  *startTarget = targets[0];
  *endTarget = targets[1];
  return 0;
}

int ComputeReshapeCrv3NormConstraintMat(const Bspline* curve, const LinearConstraint* c,
                                        const double* startTarget, const double* endTarget,
                                        double*** normC, int* nNormRows, double** normD) {
  if (!normC || !nNormRows || !normD) return -2;
  *normC = nullptr;
  *normD = nullptr;
  *nNormRows = 0;
  if (!Is3DCurve(curve)) return -2;
  if (!c || c->nNorm < 1) return 0;
  const int nc = NumCtrlU(curve);
  const double umin = curve->umin, umax = curve->umax;
  TrackingScope scope;
  const int capacity = c->nNorm + 6;
  double** rows = allocate_matrix_ff(capacity, 3 * nc);
  auto* rhs = MallocArray<double>(capacity);
  if (KernelFailed() || !rows || !rhs) return -2;

  // At most two unit normals per end, within 1e-6 of it.
  double endNormals[2][2][3];
  int nEnd[2] = {0, 0};
  for (int j = 0; j < c->nNorm; ++j) {
    double n[3] = {c->normX[j], c->normY[j], c->normZ[j]};
    const double len = VecSize3(n);
    if (len < 1e-6) continue;
    for (double& v : n) v /= len;
    const double t = c->normPar[j];
    const int e = std::fabs(t - umin) <= 1e-6 ? 0 : (std::fabs(t - umax) <= 1e-6 ? 1 : -1);
    if (e < 0 || nEnd[e] >= 2) continue;
    for (int q = 0; q < 3; ++q) endNormals[e][nEnd[e]][q] = n[q];
    ++nEnd[e];
  }

  int k = 0;
  bool handled[2] = {false, false};
  const double* targets[2] = {startTarget, endTarget};
  for (int e = 0; e < 2; ++e) {
    // The end rows carry the end's displacement, so an end without a position target is left
    // to ordinary normal rows.
    if (!targets[e] || nEnd[e] < 1) continue;
    const double te = e == 0 ? umin : umax;
    double T[3], Tp[3];
    UnitTangent(curve, te, T);
    if (ProjectVecWrtNormals(T, endNormals[e], nEnd[e], Tp) != 0) continue;
    const double len = VecSize3(Tp);
    if (len <= 1e-6) continue;
    for (double& v : Tp) v /= len;
    handled[e] = true;
    // The neighbour of the end point moves onto the tangent line through the end, shifted by
    // the end point's own displacement.
    double P[3];
    Eval3DPointOnCurve3Array(curve, te, 0, P);
    const int j = e == 0 ? 1 : nc - 2;
    const double Q[3] = {curve->X[0][j], curve->Y[0][j], curve->Z[0][j]};
    const double P2[3] = {P[0] + Tp[0], P[1] + Tp[1], P[2] + Tp[2]};
    double F[3], dist2;
    LinePntMinDistSq(Q, P, P2, F, &dist2);
    for (int q = 0; q < 3; ++q) {
      for (int col = 0; col < 3 * nc; ++col) rows[k][col] = 0.0;
      rows[k][q * nc + j] = 1.0;
      rhs[k] = F[q] + (targets[e][q] - P[q]) - Q[q];
      ++k;
    }
  }

  for (int j = 0; j < c->nNorm; ++j) {
    const double n[3] = {c->normX[j], c->normY[j], c->normZ[j]};
    if (VecSize3(n) < 1e-6) continue;
    const double t = c->normPar[j];
    if ((handled[0] && std::fabs(t - umin) <= 1e-6) || (handled[1] && std::fabs(t - umax) <= 1e-6))
      continue;
    if (ComputeReshapeCrv3NormConstraint(curve, n, t, rows[k], &rhs[k]) == 0) ++k;
  }
  if (k == 0) return -2;
  scope.keep();
  *normC = rows;
  *normD = rhs;
  *nNormRows = k;
  return 0;
}

int ProjectVecWrtNormals(const double v[3], const double (*normals)[3], int count, double out[3]) {
  if (!normals || count < 1 || !v || !out) return -2;
  out[0] = out[1] = out[2] = 0.0;
  const double len = VecSize3(v);
  if (len < 1e-6) return 0;
  const double u[3] = {v[0] / len, v[1] / len, v[2] / len};
  if (count >= 2) {
    double c[3];
    VecCrossProd3(normals[0], normals[1], c);
    const double cl = VecSize3(c);
    if (cl >= 1e-6) {
      const double sign = VecDotProd3(c, u) / cl > 1e-6 ? 1.0 : -1.0;
      for (int q = 0; q < 3; ++q) out[q] = sign * c[q] / cl;
      return 0;
    }
  }
  double pr[3];
  VecPlaneProject3(u, normals[0], pr);
  if (VecSize3(pr) > 1e-6)
    for (int q = 0; q < 3; ++q) out[q] = pr[q];
  return 0;
}
