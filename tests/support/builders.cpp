#include "tests/support/builders.h"

#include <algorithm>
#include <cmath>
#include <random>

#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "platform/host/sample_groups.h"

namespace {

// Fills a new record's knot vector and coefficient row from a full knot vector; the record's
// domain fields follow the knots, as every evaluator expects.
void SetDomainFromKnots(Bspline* b) {
  const int nu = NumCtrlU(b);
  b->umin = b->knotsU[b->degreeU];
  b->umax = b->knotsU[nu];
  if (b->kind == 2) {
    const int nv = NumCtrlV(b);
    b->vmin = b->knotsV[b->degreeV];
    b->vmax = b->knotsV[nv];
  }
}

Bspline* NewRecord(int kind, int dimension, bool rational, int degreeU, int nu, int degreeV,
                   int nv) {
  if (degreeU < 1 || nu < degreeU + 1) return nullptr;
  if (kind == 2 && (degreeV < 1 || nv < degreeV + 1)) return nullptr;
  Bspline* b = MallocNullBspline();
  if (!b) return nullptr;
  b->kind = kind;
  b->dimension = dimension;
  b->rational = rational ? 1 : 0;
  b->degreeU = degreeU;
  b->interiorU = nu - degreeU - 1;
  b->degreeV = kind == 2 ? degreeV : 0;
  b->interiorV = kind == 2 ? nv - degreeV - 1 : 0;
  AllocateBsplineArrays(b);
  if (!b->knotsU || !b->X) {
    FreeBspline(b);
    return nullptr;
  }
  return b;
}

// The span of t for the reference: the last non-empty span whose start is <= t, so that the
// domain end belongs to the last span.
// Long nets make a linear scan the measuring tests' hot spot: the last knot in [p, n - 1] not
// above t by bisection, then back over repeated knots to the start of a non-empty span.
int RefSpan(const double* knots, int p, int n, double t) {
  int k = static_cast<int>(std::upper_bound(knots + p + 1, knots + n, t) - knots) - 1;
  while (k > p && !(knots[k] < knots[k + 1])) --k;
  return k;
}

double Clamp(double t, double lo, double hi) { return t < lo ? lo : (t > hi ? hi : t); }

// de Boor's algorithm on `dim` interleaved homogeneous coordinates.
void DeBoor(const double* knots, int p, int span, double t, std::vector<double>& d, int dim) {
  // d holds the p + 1 points P[span - p .. span]; after level r, d[j] (j >= r) is the point
  // P[span - p + j]^(r).
  for (int r = 1; r <= p; ++r) {
    for (int j = p; j >= r; --j) {
      const int i = span - p + j;
      const double den = knots[i + p + 1 - r] - knots[i];
      const double a = den == 0.0 ? 0.0 : (t - knots[i]) / den;
      for (int c = 0; c < dim; ++c)
        d[j * dim + c] = (1.0 - a) * d[(j - 1) * dim + c] + a * d[j * dim + c];
    }
  }
}

double Binom(int n, int k) {
  double r = 1.0;
  for (int i = 1; i <= k; ++i) r = r * (n - k + i) / i;
  return r;
}

}  // namespace

std::vector<double> ClampedKnots(int degree, int nCtrl, double a, double b, KnotLayout layout,
                                 unsigned seed) {
  const int interior = nCtrl - degree - 1;
  std::vector<double> k(degree + 1, a);
  if (interior > 0) {
    std::vector<double> gaps(interior + 1, 1.0);
    if (layout == KnotLayout::Random) {
      std::mt19937 rng(seed);
      std::uniform_real_distribution<double> g(0.5, 1.5);
      for (double& x : gaps) x = g(rng);
    }
    double total = 0.0;
    for (double x : gaps) total += x;
    double acc = 0.0;
    for (int i = 0; i < interior; ++i) {
      acc += gaps[i];
      k.push_back(a + (b - a) * acc / total);
    }
  }
  k.insert(k.end(), degree + 1, b);
  return k;
}

Bspline* BuildCurve(int degree, int dimension, const std::vector<double>& pts,
                    const std::vector<double>& knots, const std::vector<double>& weights) {
  const int n = static_cast<int>(pts.size()) / dimension;
  if (!knots.empty() && static_cast<int>(knots.size()) != n + degree + 1) return nullptr;
  if (!weights.empty() && static_cast<int>(weights.size()) != n) return nullptr;
  Bspline* b = NewRecord(1, dimension, !weights.empty(), degree, n, 0, 1);
  if (!b) return nullptr;
  const std::vector<double> k = knots.empty() ? ClampedKnots(degree, n) : knots;
  std::copy(k.begin(), k.end(), b->knotsU);
  for (int i = 0; i < n; ++i) {
    b->X[0][i] = pts[dimension * i];
    b->Y[0][i] = pts[dimension * i + 1];
    if (dimension == 3) b->Z[0][i] = pts[dimension * i + 2];
    if (b->W) b->W[0][i] = weights[i];
  }
  SetDomainFromKnots(b);
  return b;
}

Bspline* BuildEllipseCurve(double a, double b) {
  const double w = std::sqrt(0.5);
  const double cx[9] = {1, 1, 0, -1, -1, -1, 0, 1, 1}, cy[9] = {0, 1, 1, 1, 0, -1, -1, -1, 0};
  std::vector<double> pts, weights;
  for (int i = 0; i < 9; ++i) {
    pts.insert(pts.end(), {a * cx[i], b * cy[i], 0.0});
    weights.push_back(i % 2 ? w : 1.0);
  }
  return BuildCurve(2, 3, pts, {0, 0, 0, .25, .25, .5, .5, .75, .75, 1, 1, 1}, weights);
}

Bspline* BuildCurveOnSurface(Bspline* surface, int degree, const std::vector<double>& uv,
                             const std::vector<double>& knots, const std::vector<double>& weights) {
  Bspline* c = BuildCurve(degree, 2, uv, knots, weights);
  if (c) PutBsplToSurfCrvList(c, surface);
  return c;
}

Bspline* BuildSurface(int degreeU, int degreeV, int nu, int nv, const std::vector<double>& pts,
                      const std::vector<double>& knotsU, const std::vector<double>& knotsV,
                      const std::vector<double>& weights) {
  if (static_cast<int>(pts.size()) != 3 * nu * nv) return nullptr;
  if (!knotsU.empty() && static_cast<int>(knotsU.size()) != nu + degreeU + 1) return nullptr;
  if (!knotsV.empty() && static_cast<int>(knotsV.size()) != nv + degreeV + 1) return nullptr;
  if (!weights.empty() && static_cast<int>(weights.size()) != nu * nv) return nullptr;
  Bspline* b = NewRecord(2, 3, !weights.empty(), degreeU, nu, degreeV, nv);
  if (!b) return nullptr;
  const std::vector<double> ku = knotsU.empty() ? ClampedKnots(degreeU, nu) : knotsU;
  const std::vector<double> kv = knotsV.empty() ? ClampedKnots(degreeV, nv) : knotsV;
  std::copy(ku.begin(), ku.end(), b->knotsU);
  std::copy(kv.begin(), kv.end(), b->knotsV);
  for (int j = 0; j < nv; ++j)
    for (int i = 0; i < nu; ++i) {
      const int k = j * nu + i;
      b->X[j][i] = pts[3 * k];
      b->Y[j][i] = pts[3 * k + 1];
      b->Z[j][i] = pts[3 * k + 2];
      if (b->W) b->W[j][i] = weights[k];
    }
  SetDomainFromKnots(b);
  return b;
}

Bspline* BuildCadPatch(const CadPatch& c) {
  return BuildSurface(c.pu, c.pv, c.cu, c.cv, c.pts, c.knotsU, c.knotsV);
}

Bspline* BuildTorus(double R, double r, bool flagClosed) {
  const double c[9][2] = {{1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}, {0, -1}, {1, -1}, {1, 0}};
  const double h = std::sqrt(0.5);
  const double w[9] = {1, h, 1, h, 1, h, 1, h, 1};
  const std::vector<double> k = {0, 0, 0, 0.25, 0.25, 0.5, 0.5, 0.75, 0.75, 1, 1, 1};
  std::vector<double> pts, weights;
  for (int j = 0; j < 9; ++j)
    for (int i = 0; i < 9; ++i) {
      const double rho = R + r * c[j][0];
      pts.insert(pts.end(), {rho * c[i][0], rho * c[i][1], r * c[j][1]});
      weights.push_back(w[i] * w[j]);
    }
  Bspline* t = BuildSurface(2, 2, 9, 9, pts, k, k, weights);
  if (t && flagClosed) t->closedU = t->closedV = 1;
  return t;
}

Bspline* BuildFunctionPatch(const std::function<double(double, double)>& f, const PatchOptions& o) {
  const std::vector<double> ku = ClampedKnots(o.degreeU, o.nu, o.umin, o.umax, o.layout, o.seed);
  const std::vector<double> kv =
      ClampedKnots(o.degreeV, o.nv, o.vmin, o.vmax, o.layout, o.seed * 7919u + 13u);
  auto greville = [](const std::vector<double>& k, int p, int i) {
    double s = 0.0;
    for (int r = 1; r <= p; ++r) s += k[i + r];
    return s / p;
  };
  std::vector<double> pts(3 * o.nu * o.nv);
  std::vector<double> w;
  std::mt19937 rng(o.seed);
  std::uniform_real_distribution<double> wd(0.5, 2.0);
  for (int j = 0; j < o.nv; ++j) {
    const double y =
        o.y0 + (greville(kv, o.degreeV, j) - o.vmin) / (o.vmax - o.vmin) * (o.y1 - o.y0);
    for (int i = 0; i < o.nu; ++i) {
      const double x =
          o.x0 + (greville(ku, o.degreeU, i) - o.umin) / (o.umax - o.umin) * (o.x1 - o.x0);
      const int k = j * o.nu + i;
      pts[3 * k] = x;
      pts[3 * k + 1] = y;
      pts[3 * k + 2] = f(x, y);
      if (o.rational) w.push_back(wd(rng));
    }
  }
  return BuildSurface(o.degreeU, o.degreeV, o.nu, o.nv, pts, ku, kv, w);
}

Bspline* BuildRandomCurve(unsigned seed, int degree, int nCtrl, int dimension, bool rational,
                          KnotLayout layout) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> pd(-1.0, 1.0), wd(0.5, 2.0);
  std::vector<double> pts(dimension * nCtrl), w;
  for (double& x : pts) x = pd(rng);
  if (rational)
    for (int i = 0; i < nCtrl; ++i) w.push_back(wd(rng));
  return BuildCurve(degree, dimension, pts,
                    ClampedKnots(degree, nCtrl, 0.0, 1.0, layout, seed + 1u), w);
}

BsplineKeeper::~BsplineKeeper() {
  for (auto it = kept_.rbegin(); it != kept_.rend(); ++it) FreeBspline(*it);
}

namespace {

// Cox-de Boor bottom-up: row q holds N(s, q)(t) for every s, the rows for q = 0 .. p. Row 0 is
// one on t's span only (lo .. hi), so row q vanishes outside lo - q .. hi: only those are computed.
std::vector<std::vector<double>> BasisRows(const double* knots, int nKnots, int p, double t) {
  const int last = nKnots - 1;
  std::vector<std::vector<double>> rows(p + 1, std::vector<double>(nKnots, 0.0));
  int lastSpan = -1, lo = last, hi = -1;
  for (int s = 0; s < last; ++s)
    if (knots[s] < knots[s + 1]) lastSpan = s;
  for (int s = 0; s < last; ++s) {
    if (knots[s] <= t && t < knots[s + 1]) rows[0][s] = 1.0;
    if (s == lastSpan && t == knots[last]) rows[0][s] = 1.0;
    if (rows[0][s] != 0.0) lo = std::min(lo, s), hi = s;
  }
  for (int q = 1; q <= p; ++q)
    for (int s = std::max(0, lo - q); s <= hi && s + q < last; ++s) {
      const double d1 = knots[s + q] - knots[s];
      const double d2 = knots[s + q + 1] - knots[s + 1];
      const double a = d1 == 0.0 ? 0.0 : (t - knots[s]) / d1 * rows[q - 1][s];
      const double b = d2 == 0.0 ? 0.0 : (knots[s + q + 1] - t) / d2 * rows[q - 1][s + 1];
      rows[q][s] = a + b;
    }
  return rows;
}

// k-th derivative of N(i, p) from the rows of one Cox-de Boor table at t.
// The recursion N'(i, q) = q (N(i, q-1) / (k[i+q] - k[i]) - N(i+1, q-1) / (k[i+q+1] - k[i+1]))
// unrolled from degree p - k: V[j] is the current order's value of function i + j.
double BasisDerivFromRows(const std::vector<std::vector<double>>& rows, const double* knots, int nKnots, int i, int p,
                          int k) {
  if (i < 0 || i >= nKnots - 1) return 0.0;
  if (k > p) return 0.0;
  // The recursion is linear in the k + 1 values it starts from: where all vanish (every function
  // but the p + 1 of t's span) so does the derivative, and a long net's table is mostly these.
  bool vanish = true;
  for (int j = 0; j <= k && vanish; ++j) vanish = i + j >= nKnots - 1 || rows[p - k][i + j] == 0.0;
  if (vanish) return 0.0;
  std::vector<double> V(k + 1);
  for (int j = 0; j <= k; ++j) V[j] = i + j < nKnots - 1 ? rows[p - k][i + j] : 0.0;
  for (int m = 1; m <= k; ++m) {
    const int q = p - k + m;
    for (int j = 0; j + m <= k; ++j) {
      const int s = i + j;
      const double d1 = knots[s + q] - knots[s];
      const double d2 = s + q + 1 < nKnots ? knots[s + q + 1] - knots[s + 1] : 0.0;
      double r = 0.0;
      if (d1 != 0.0) r += V[j] / d1;
      if (d2 != 0.0) r -= V[j + 1] / d2;
      V[j] = q * r;
    }
  }
  return V[0];
}

}  // namespace

double RefBasis(const double* knots, int nKnots, int i, int p, double t) {
  if (i < 0 || i >= nKnots - 1) return 0.0;
  return BasisRows(knots, nKnots, p, t)[p][i];
}

double RefBasisDeriv(const double* knots, int nKnots, int i, int p, int k, double t) {
  return BasisDerivFromRows(BasisRows(knots, nKnots, p, t), knots, nKnots, i, p, k);
}

void RefEvalCurve(const Bspline* c, double t, double out[3]) {
  const int p = c->degreeU, n = NumCtrlU(c);
  const double* k = c->knotsU;
  t = Clamp(t, k[p], k[n]);
  const int span = RefSpan(k, p, n, t);
  const int dim = 4;
  std::vector<double> d((p + 1) * dim);
  for (int j = 0; j <= p; ++j) {
    const int i = span - p + j;
    const double w = c->W ? c->W[0][i] : 1.0;
    d[j * dim + 0] = w * c->X[0][i];
    d[j * dim + 1] = w * c->Y[0][i];
    d[j * dim + 2] = c->Z ? w * c->Z[0][i] : 0.0;
    d[j * dim + 3] = w;
  }
  DeBoor(k, p, span, t, d, dim);
  for (int c3 = 0; c3 < 3; ++c3) out[c3] = d[p * dim + c3] / d[p * dim + 3];
}

void RefEvalSurface(const Bspline* s, double u, double v, double out[3]) {
  const int pu = s->degreeU, pv = s->degreeV, nu = NumCtrlU(s), nv = NumCtrlV(s);
  u = Clamp(u, s->knotsU[pu], s->knotsU[nu]);
  v = Clamp(v, s->knotsV[pv], s->knotsV[nv]);
  const int su = RefSpan(s->knotsU, pu, nu, u), sv = RefSpan(s->knotsV, pv, nv, v);
  const int dim = 4;
  // de Boor along u in each of the pv + 1 rows, then along v over the row results.
  std::vector<double> col((pv + 1) * dim), d((pu + 1) * dim);
  for (int r = 0; r <= pv; ++r) {
    const int row = sv - pv + r;
    for (int j = 0; j <= pu; ++j) {
      const int i = su - pu + j;
      const double w = s->W ? s->W[row][i] : 1.0;
      d[j * dim + 0] = w * s->X[row][i];
      d[j * dim + 1] = w * s->Y[row][i];
      d[j * dim + 2] = w * s->Z[row][i];
      d[j * dim + 3] = w;
    }
    DeBoor(s->knotsU, pu, su, u, d, dim);
    for (int c = 0; c < dim; ++c) col[r * dim + c] = d[pu * dim + c];
  }
  DeBoor(s->knotsV, pv, sv, v, col, dim);
  for (int c = 0; c < 3; ++c) out[c] = col[pv * dim + c] / col[pv * dim + 3];
}

void RefEvalDeriv(const Bspline* b, double u, double v, int du, int dv, double out[3]) {
  const bool surf = b->kind == 2;
  const int pu = b->degreeU, nu = NumCtrlU(b), nku = NumKnotsU(b);
  const int pv = surf ? b->degreeV : 0, nv = surf ? NumCtrlV(b) : 1, nkv = surf ? NumKnotsV(b) : 0;
  u = Clamp(u, b->knotsU[pu], b->knotsU[nu]);
  if (surf) v = Clamp(v, b->knotsV[pv], b->knotsV[nv]);
  if (!surf) dv = 0;
  // Homogeneous derivatives A(k, l) (x, y, z, w) for every k <= du, l <= dv.
  const int K = du + 1, L = dv + 1;
  std::vector<double> A(K * L * 4, 0.0);
  // Basis derivatives of every order needed, once per function, from one table per direction
  // (a table per function made the reference the cost of a whole test on long nets).
  std::vector<double> Bu(K * nu), Bv(L * nv, 1.0);
  const auto rowsU = BasisRows(b->knotsU, nku, pu, u);
  for (int k = 0; k < K; ++k)
    for (int i = 0; i < nu; ++i) Bu[k * nu + i] = BasisDerivFromRows(rowsU, b->knotsU, nku, i, pu, k);
  if (surf) {
    const auto rowsV = BasisRows(b->knotsV, nkv, pv, v);
    for (int l = 0; l < L; ++l)
      for (int j = 0; j < nv; ++j) Bv[l * nv + j] = BasisDerivFromRows(rowsV, b->knotsV, nkv, j, pv, l);
  }
  for (int k = 0; k < K; ++k)
    for (int l = 0; l < L; ++l) {
      for (int j = 0; j < nv; ++j) {
        const double bv = Bv[l * nv + j];
        if (bv == 0.0) continue;
        for (int i = 0; i < nu; ++i) {
          const double bu = Bu[k * nu + i];
          if (bu == 0.0) continue;
          const double w = b->W ? b->W[j][i] : 1.0;
          const double f = bu * bv * w;
          double* a = &A[(k * L + l) * 4];
          a[0] += f * b->X[j][i];
          a[1] += f * b->Y[j][i];
          a[2] += b->Z ? f * b->Z[j][i] : 0.0;
          a[3] += f;
        }
      }
    }
  if (!b->W) {
    // Non-rational: the weight is the constant 1, its derivatives vanish exactly.
    for (int c = 0; c < 3; ++c) out[c] = A[(du * L + dv) * 4 + c];
    return;
  }
  // Cartesian derivatives S(k, l) by the quotient rule, lower orders first.
  std::vector<double> S(K * L * 3, 0.0);
  const double w0 = A[3];
  for (int k = 0; k < K; ++k)
    for (int l = 0; l < L; ++l)
      for (int c = 0; c < 3; ++c) {
        double s = A[(k * L + l) * 4 + c];
        for (int i = 0; i <= k; ++i)
          for (int j = 0; j <= l; ++j) {
            if (i == 0 && j == 0) continue;
            s -= Binom(k, i) * Binom(l, j) * A[(i * L + j) * 4 + 3] *
                 S[((k - i) * L + (l - j)) * 3 + c];
          }
        S[(k * L + l) * 3 + c] = s / w0;
      }
  for (int c = 0; c < 3; ++c) out[c] = S[(du * L + dv) * 3 + c];
}

double RefScale(const Bspline* b) {
  const int nu = NumCtrlU(b), nv = b->kind == 2 ? NumCtrlV(b) : 1;
  double m = 1.0;
  for (int j = 0; j < nv; ++j)
    for (int i = 0; i < nu; ++i) {
      m = std::max(m, std::fabs(b->X[j][i]));
      m = std::max(m, std::fabs(b->Y[j][i]));
      if (b->Z) m = std::max(m, std::fabs(b->Z[j][i]));
    }
  return m;
}
