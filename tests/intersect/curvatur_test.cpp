// Curvature values against the closed forms of a paraboloid (an exact biquadratic), the three
// grid forms against each other, principal curvatures, partial updates after an edit against a
// full recompute, collapsed edges, bounded stepping on a point surface, and needles.
#include <algorithm>
#include <cmath>
#include <vector>

#include "bspline/ctrlnubs.h"
#include "bspline/sfree.h"
#include "intersect/cntrlpt.h"
#include "intersect/curvatur.h"
#include "foundation/umalloc.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class Curvature : public KernelTest {};

constexpr double kA = 0.7;

// z = a (x^2 + y^2) over [-1, 1]^2, exact: x = 2u - 1, and x^2 has Bernstein coefficients 1, -1, 1.
// Scaled by s about the origin.
Bspline* Paraboloid(BsplineKeeper& keep, double s = 1.0) {
  const double c[3] = {1, -1, 1};
  std::vector<double> pts;
  for (int j = 0; j < 3; ++j)
    for (int i = 0; i < 3; ++i) pts.insert(pts.end(), {s * (i - 1.0), s * (j - 1.0), s * kA * (c[i] + c[j])});
  return keep(BuildSurface(2, 2, 3, 3, pts));
}

struct Exact {
  double K, H;
};
Exact At(double u, double v) {
  const double x = 2 * u - 1, y = 2 * v - 1, g2 = 4 * kA * kA * (x * x + y * y), W = 1 + g2;
  return {4 * kA * kA / (W * W), kA * (2 + g2) / std::pow(W, 1.5)};
}
double Expected(int kind, double u, double v) {
  const Exact e = At(u, v);
  return kind == 7 ? e.K : kind == 8 ? e.H : 2 * e.H;
}

TEST_F(Curvature, GridFormsMatchTheClosedFormAndEachOther) {
  BsplineKeeper keep;
  Bspline* s = Paraboloid(keep);
  const int nu = 7, nv = 5;
  std::vector<double> us(nu), vs(nv), pu, pv;
  for (int i = 0; i < nu; ++i) us[i] = i / double(nu - 1);
  for (int j = 0; j < nv; ++j) vs[j] = j / double(nv - 1);
  for (int j = 0; j < nv; ++j)
    for (int i = 0; i < nu; ++i) {
      pu.push_back(us[i]);
      pv.push_back(vs[j]);
    }
  for (int kind : {7, 8, 9}) {
    std::vector<double> a(nu * nv), b(nu * nv), c(nu * nv);
    ComputeCurvature(s, a.data(), kind, nu, nv);
    ComputeCurvatureGivenArrays(s, b.data(), us.data(), vs.data(), nu, nv, kind);
    ComputeCurvatureNpntsSurf(s, c.data(), pu.data(), pv.data(), nu * nv, kind);
    for (int g = 0; g < nu * nv; ++g) {
      const double e = Expected(kind, pu[g], pv[g]);
      EXPECT_NEAR(a[g], e, 1e-12 * std::max(1.0, e)) << kind << " " << g;
      EXPECT_NEAR(b[g], a[g], 1e-13);
      EXPECT_NEAR(c[g], a[g], 1e-13);
    }
  }
  // The umbilic apex gives a finite kind 9: 4a.
  double apex = -1;
  const double h = 0.5;
  ComputeCurvatureNpntsSurf(s, &apex, &h, &h, 1, 9);
  EXPECT_NEAR(apex, 4 * kA, 1e-12);
  // Other kinds compute nothing.
  double untouched = 42;
  ComputeCurvature(s, &untouched, 5, 1, 1);
  EXPECT_EQ(untouched, 42);
}

TEST_F(Curvature, ValuesScaleWithTheUnitOfLength) {
  BsplineKeeper keep;
  const double us[3] = {0.0, 0.5, 0.8}, vs[3] = {0.2, 0.5, 1.0};
  for (double s : {1e-6, 1e-3, 1e3, 1e6}) {
    Bspline* b = Paraboloid(keep, s);
    for (int kind : {7, 8, 9}) {
      double g[9], p[3];
      ComputeCurvatureGivenArrays(b, g, us, vs, 3, 3, kind);
      ComputeCurvatureNpntsSurf(b, p, us, vs, 3, kind);
      const double back = kind == 7 ? s * s : s;
      for (int k = 0; k < 9; ++k)
        EXPECT_NEAR(g[k] * back, Expected(kind, us[k % 3], vs[k / 3]), 1e-9) << s << " " << kind;
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(p[k] * back, Expected(kind, us[k], vs[k]), 1e-9);
    }
    double pr[18];
    ASSERT_EQ(ComputePrincipCurvaNPnts(b, us, vs, pr, 3, 3), 0);
    for (int k = 0; k < 9; ++k) {
      const Exact e = At(us[k % 3], vs[k / 3]);
      EXPECT_NEAR((pr[2 * k] + pr[2 * k + 1]) * s, 2 * e.H, 1e-6) << s;
    }
  }
}

TEST_F(Curvature, PrincipalCurvaturesSolveTheirQuadratic) {
  BsplineKeeper keep;
  Bspline* s = Paraboloid(keep);
  const double us[4] = {0.0, 0.3, 0.5, 0.85}, vs[3] = {0.1, 0.5, 1.0};
  double out[24];
  ASSERT_EQ(ComputePrincipCurvaNPnts(s, us, vs, out, 4, 3), 0);
  for (int g = 0; g < 12; ++g) {
    const Exact e = At(us[g % 4], vs[g / 4]);
    EXPECT_NEAR(out[2 * g] + out[2 * g + 1], 2 * e.H, 1e-9) << g;
    EXPECT_NEAR(out[2 * g] * out[2 * g + 1], e.K, 1e-9) << g;
    EXPECT_GE(out[2 * g], out[2 * g + 1]);
  }
  // A surface collapsed to one point: every derivative vanishes everywhere; the stepping stops
  // at the middle and the values are 0.
  std::vector<double> pt(27, 0.25);
  Bspline* dot = keep(BuildSurface(2, 2, 3, 3, pt));
  ASSERT_EQ(ComputePrincipCurvaNPnts(dot, us, vs, out, 4, 3), 0);
  for (int k = 0; k < 24; ++k) EXPECT_EQ(out[k], 0.0);
}

TEST_F(Curvature, CollapsedEdgeCornerTakesItsDiagonalNeighbour) {
  BsplineKeeper keep;
  // A bicubic whose first row (v = 0) is one point: Su vanishes along that edge.
  std::vector<double> pts;
  for (int j = 0; j < 4; ++j)
    for (int i = 0; i < 4; ++i) {
      const double r = j / 3.0, a = 1.2 * i / 3.0;
      pts.insert(pts.end(), {r * std::cos(a), r * std::sin(a), 0.5 * r * r + 0.1 * i * r});
    }
  Bspline* s = keep(BuildSurface(3, 3, 4, 4, pts));
  const int nu = 5, nv = 4;
  for (int kind : {7, 8, 9}) {
    std::vector<double> a(nu * nv);
    ComputeCurvature(s, a.data(), kind, nu, nv);
    EXPECT_EQ(a[0], a[nu + 1]) << kind;
    EXPECT_EQ(a[nu - 1], a[2 * nu - 2]) << kind;
    for (int i = 1; i < nu - 1; ++i) EXPECT_EQ(a[i], a[i + nu]) << kind;
    for (double x : a) EXPECT_TRUE(std::isfinite(x));
  }
}

TEST_F(Curvature, InteriorPointWithVanishingPartialReadsNearbyCurvature) {
  BsplineKeeper keep;
  // x = (2u - 1)^3 stops at u = 1/2, so Su = 0 along that whole inner line; the surface is the
  // parabolic cylinder z = a y^2 with y = 2v - 1, whose mean curvature is smooth across it.
  const double xs[4] = {-1, 1, -1, 1}, ys[4] = {-1, -1.0 / 3, 1.0 / 3, 1};
  const double zs[4] = {1, -1.0 / 3, -1.0 / 3, 1};
  std::vector<double> pts;
  for (int j = 0; j < 4; ++j)
    for (int i = 0; i < 4; ++i) pts.insert(pts.end(), {xs[i], ys[j], kA * zs[j]});
  Bspline* s = keep(BuildSurface(3, 3, 4, 4, pts));
  const int nu = 9, nv = 7;
  std::vector<double> a(nu * nv);
  ComputeCurvature(s, a.data(), 8, nu, nv);
  for (int j = 1; j < nv - 1; ++j) {
    const double y = 2.0 * j / (nv - 1) - 1, H = kA / std::pow(1 + 4 * kA * kA * y * y, 1.5);
    EXPECT_NEAR(std::fabs(a[j * nu + 3]), H, 1e-9) << j;  // a regular column beside it
    EXPECT_NEAR(std::fabs(a[j * nu + 4]), H, 0.05 * H) << j;  // the stalled column
  }
}

// Derivative buffer (15 arrays of n entries) at the given parameter pairs.
std::vector<double> Buffer(const Bspline* s, const std::vector<double>& u, const std::vector<double>& v) {
  const int n = static_cast<int>(u.size());
  const int du[5] = {1, 0, 1, 2, 0}, dv[5] = {0, 1, 1, 0, 2};
  std::vector<double> b(15 * n);
  for (int k = 0; k < n; ++k) {
    double r[5][3];
    EvalPointOnGeometryM(s, u[k], v[k], du, dv, 5, 0, r);
    for (int c = 0; c < 15; ++c) b[c * n + k] = r[c / 3][c % 3];
  }
  return b;
}

TEST_F(Curvature, PartialUpdateAfterAnEditEqualsAFullRecomputeWhereTheEditReached) {
  BsplineKeeper keep;
  PatchOptions o;
  o.nu = 8;
  o.nv = 7;
  Bspline* s = keep(BuildFunctionPatch([](double x, double y) { return 0.3 * std::sin(3 * x + 2 * y); }, o));
  const int nu = 21, nv = 17;
  std::vector<double> us(nu), vs(nv);
  for (int i = 0; i < nu; ++i) us[i] = i / double(nu - 1);
  for (int j = 0; j < nv; ++j) vs[j] = j / double(nv - 1);
  std::vector<double> values(nu * nv);
  ComputeCurvatureGivenArrays(s, values.data(), us.data(), vs.data(), nu, nv, 8);
  const std::vector<double> old = values;

  double Nu[26], Nv[26];
  int su = 0, sv = 0, moved[4], count = 0;
  SetupDirectEditing(s, 0.42, 0.55, Nu, Nv, &su, &sv);
  GetNewCntrlPtValsSrf(s, 0.42, 0.55, moved, &count, 0, 0, 0.2, Nu, Nv, su, sv, nullptr);
  ASSERT_EQ(count, 4);
  SurfEditStruct* region = nullptr;
  ASSERT_EQ(SetupEvalPartialGridCntPnt(s, moved, count, us.data(), vs.data(), nu, nv, 0, 0, &region), 0);
  PlotEditStruct rec{};
  rec.gridIdx = region->inside;
  rec.gridCount = region->insideCount;
  rec.uPar = us.data();
  rec.vPar = vs.data();
  rec.uOffset = nu;
  rec.vOffset = nv;
  std::vector<double> pu, pv;
  for (int k = 0; k < rec.gridCount; ++k) {
    pu.push_back(us[rec.gridIdx[k] % nu]);
    pv.push_back(vs[rec.gridIdx[k] / nu]);
  }
  const std::vector<double> buf = Buffer(s, pu, pv);
  ASSERT_EQ(UpdatePartialCurvatureValues(s, &rec, buf.data(), values.data(), 8), 0);
  std::vector<double> full(nu * nv);
  ComputeCurvatureGivenArrays(s, full.data(), us.data(), vs.data(), nu, nv, 8);
  std::vector<char> inside(nu * nv, 0);
  for (int k = 0; k < rec.gridCount; ++k) inside[rec.gridIdx[k]] = 1;
  int changed = 0;
  for (int g = 0; g < nu * nv; ++g) {
    EXPECT_NEAR(values[g], full[g], 1e-12) << g;  // outside the region the surface did not change
    if (!inside[g]) {
      EXPECT_EQ(values[g], old[g]);
    }
    changed += std::fabs(full[g] - old[g]) > 1e-9;
  }
  EXPECT_GT(changed, 0);
  FreeSurfEditStruct(&region);
}

TEST_F(Curvature, NeedlesRunAlongTheNormalScaledByTheValue) {
  BsplineKeeper keep;
  Bspline* s = Paraboloid(keep);
  // Two needle entries; the basis tables hold them after an empty grid run (uOffset 0).
  const double us[2] = {0.5, 0.2}, vs[2] = {0.5, 0.7};
  // The record owns its arrays as the display would, and goes with its own frees.
  PlotEditStruct* r = CallocArray<PlotEditStruct>(1);
  ASSERT_NE(r, nullptr);
  PlotEditStruct& rec = *r;
  rec.needleIdx = MallocArray<int>(2);
  rec.needleIdx[0] = 0;
  rec.needleIdx[1] = 1;
  rec.needleCount = 2;
  rec.needleLimit = 2;
  rec.uPar = MallocArray<double>(2);
  rec.vPar = MallocArray<double>(2);
  std::copy(us, us + 2, rec.uPar);
  std::copy(vs, vs + 2, rec.vPar);
  ASSERT_EQ(Eval3DGridNubVals(s, us, vs, 2, 2, 0, 0, &rec.uBasis, &rec.vBasis, &rec.uSpan, &rec.vSpan), 0);
  const std::vector<double> buf = Buffer(s, {0.5, 0.2}, {0.5, 0.7});
  double values[2] = {0, 0};
  float nx[4], ny[4], nz[4];
  UpdatePartialCurvatureNeedles(s, &rec, 0.5, buf.data(), values, 7, nx, ny, nz);
  for (int k = 0; k < 2; ++k) {
    EXPECT_NEAR(values[k], Expected(7, us[k], vs[k]), 1e-12);
    double P[3];
    RefEvalSurface(s, us[k], vs[k], P);
    const double x = 2 * us[k] - 1, y = 2 * vs[k] - 1;
    double n[3] = {-2 * kA * x, -2 * kA * y, 1};
    const double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + 1);
    EXPECT_NEAR(nx[2 * k], P[0], 1e-6);
    EXPECT_NEAR(nz[2 * k], P[2], 1e-6);
    EXPECT_NEAR(nx[2 * k + 1], P[0] + values[k] * 0.5 * n[0] / len, 1e-6);
    EXPECT_NEAR(ny[2 * k + 1], P[1] + values[k] * 0.5 * n[1] / len, 1e-6);
    EXPECT_NEAR(nz[2 * k + 1], P[2] + values[k] * 0.5 * n[2] / len, 1e-6);
  }
  FreePartialPlotEditStruct(r);  // the per-edit lists go, the tables stay
  EXPECT_EQ(rec.needleIdx, nullptr);
  EXPECT_EQ(rec.needleCount, 0);
  EXPECT_NE(rec.uBasis, nullptr);
  FreePlotEditStruct(&r);
  EXPECT_EQ(r, nullptr);
}

}  // namespace
