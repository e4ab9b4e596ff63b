#include <cmath>
#include <random>
#include <vector>

#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "foundation/makemat.h"
#include "shrinkwrap/smooth.h"
#include "tests/shrinkwrap/injected_failures.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class NetSmoothTest : public KernelTest {};

// A gently curved patch whose control points carry noise in z, except `quiet` rows from each
// side.
Bspline* NoisyPatch(unsigned seed, int nu = 9, int nv = 8, int quiet = 1) {
  PatchOptions o;
  o.nu = nu;
  o.nv = nv;
  Bspline* s = BuildFunctionPatch([](double x, double y) { return 0.3 * x * x - 0.2 * y; }, o);
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> U(-0.05, 0.05);
  for (int j = quiet; j + quiet < nv; ++j)
    for (int i = quiet; i + quiet < nu; ++i) s->Z[j][i] += U(rng);
  return s;
}

// Sum of squared second differences of the net along both directions.
double Roughness(const Bspline* s) {
  const int nu = NumCtrlU(s), nv = NumCtrlV(s);
  double r = 0.0;
  for (double** M : {s->X, s->Y, s->Z})
    for (int j = 0; j < nv; ++j)
      for (int i = 0; i < nu; ++i) {
        if (i > 0 && i + 1 < nu) r += std::pow(M[j][i - 1] - 2 * M[j][i] + M[j][i + 1], 2);
        if (j > 0 && j + 1 < nv) r += std::pow(M[j - 1][i] - 2 * M[j][i] + M[j + 1][i], 2);
      }
  return r;
}

TEST_F(NetSmoothTest, HeldRowsStayBitIdenticalAndRoughnessFalls) {
  for (int held : {0, 1, 2}) {
    Bspline* s = NoisyPatch(3u + held, 12, 11, held + 1);
    Bspline* orig = CopyBsplineStruct(s);
    ASSERT_EQ(SmoothSrfCntrlPntsLambdaGamma(s, held, 0.3, -0.31, 20), 0) << held;
    const int nu = NumCtrlU(s), nv = NumCtrlV(s);
    for (int j = 0; j < nv; ++j)
      for (int i = 0; i < nu; ++i) {
        const bool fixed = i <= held || i >= nu - 1 - held || j <= held || j >= nv - 1 - held;
        if (!fixed) continue;
        EXPECT_EQ(s->X[j][i], orig->X[j][i]);
        EXPECT_EQ(s->Y[j][i], orig->Y[j][i]);
        EXPECT_EQ(s->Z[j][i], orig->Z[j][i]);
      }
    EXPECT_LT(Roughness(s), 0.8 * Roughness(orig)) << held;
    FreeBspline(orig);
    FreeBspline(s);
  }
  Bspline* s = NoisyPatch(9u);
  EXPECT_EQ(SmoothSrfCntrlPntsLambdaGamma(s, -1, 0.3, -0.31, 5), -2);
  FreeBspline(s);
  // One column per side held twice needs three columns.
  Bspline* thin = NoisyPatch(9u, 2, 6);
  EXPECT_EQ(SmoothSrfCntrlPntsLambdaGamma(thin, 1, 0.3, -0.31, 5), -2);
  FreeBspline(thin);
}

TEST_F(NetSmoothTest, StagedSmoothingWorksOnACopy) {
  Bspline* s = NoisyPatch(11u);
  Bspline* orig = CopyBsplineStruct(s);
  Bspline* out = nullptr;
  ASSERT_EQ(SimpleSmoothSrfLambdaGamma(s, 0.8, &out), 0);
  EXPECT_LT(Roughness(out), 0.5 * Roughness(s));
  const int nu = NumCtrlU(s), nv = NumCtrlV(s);
  for (int j = 0; j < nv; ++j)
    for (int i = 0; i < nu; ++i) {
      EXPECT_EQ(s->Z[j][i], orig->Z[j][i]);  // the input is untouched
      if (i == 0 || j == 0 || i == nu - 1 || j == nv - 1) {
        EXPECT_EQ(out->Z[j][i], s->Z[j][i]);
      }
    }
  FreeBspline(out);

  // Too few control points: refused without refinement, refined with it.
  Bspline* small = NoisyPatch(12u, 4, 4);
  int fixed[4] = {1, 1, 1, -5};
  int enough = 0, addU = 0, addV = 0;
  ASSERT_EQ(IsEnoughSrfCntrlPntsForSmoothing(small, fixed, &enough, &addU, &addV), 0);
  EXPECT_EQ(fixed[3], -1);
  EXPECT_EQ(enough, 0);
  EXPECT_EQ(addU, 2);  // 4 columns, two held on each side
  EXPECT_EQ(addV, 0);  // the free side leaves two of the four rows
  out = nullptr;
  int counts[4] = {1, 1, 1, 1};
  EXPECT_EQ(SimpleSmoothSurface(small, counts, 0.5, 0, &out), -2);
  ASSERT_EQ(SimpleSmoothSurface(small, counts, 0.5, 1, &out), 0);
  EXPECT_EQ(NumCtrlU(out), 6);
  EXPECT_EQ(NumCtrlV(out), 6);
  FreeBspline(out);

  const int failures = RunMakerWithInjectedFailures(1500, 13, [&](Bspline** r) {
    return SimpleSmoothSrfLambdaGamma(s, 0.3, r);
  });
  EXPECT_GT(failures, 0);
  FreeBspline(small);
  FreeBspline(orig);
  FreeBspline(s);
}

// The control polygon of the iso-curve u = const: sum over the columns of basis value x point.
std::vector<double> IsoPolygonZ(const Bspline* s, double u) {
  const int nu = NumCtrlU(s), nv = NumCtrlV(s), nk = NumKnotsU(s);
  std::vector<double> q(nv, 0.0);
  for (int i = 0; i < nu; ++i) {
    const double b = RefBasis(s->knotsU, nk, i, s->degreeU, u);
    for (int j = 0; j < nv; ++j) q[j] += b * s->Z[j][i];
  }
  return q;
}

double Wiggle(const std::vector<double>& q) {
  double r = 0.0;
  for (size_t j = 1; j + 1 < q.size(); ++j) r += std::pow(q[j - 1] - 2 * q[j] + q[j + 1], 2);
  return r;
}

TEST_F(NetSmoothTest, IsoCurveSmoothingSmoothsTheCurveInEveryLayout) {
  // Degree 1 in u with three columns: at u = 0.25 only the middle column may move, the case
  // that the legacy code left unchanged.
  for (int layout = 0; layout < 2; ++layout) {
    std::vector<double> pts;
    const int nu = layout == 0 ? 3 : 7, nv = 9, pu = layout == 0 ? 1 : 3;
    std::mt19937 rng(17);
    std::uniform_real_distribution<double> U(-0.1, 0.1);
    for (int j = 0; j < nv; ++j)
      for (int i = 0; i < nu; ++i) pts.insert(pts.end(), {double(i), double(j), U(rng)});
    Bspline* s = BuildSurface(pu, 3, nu, nv, pts);
    Bspline* orig = CopyBsplineStruct(s);
    const double u = 0.25;
    const std::vector<double> q0 = IsoPolygonZ(s, u);
    ASSERT_EQ(SimpleSmoothSrfIsoCrvU(s, u, 0.02, 60), 0);
    const std::vector<double> q1 = IsoPolygonZ(s, u);
    EXPECT_LT(Wiggle(q1), 0.5 * Wiggle(q0)) << layout;
    for (int i = 0; i < nu; ++i) {
      EXPECT_EQ(s->Z[0][i], orig->Z[0][i]);  // first and last rows stay
      EXPECT_EQ(s->Z[nv - 1][i], orig->Z[nv - 1][i]);
    }
    for (int j = 0; j < nv; ++j) {
      EXPECT_EQ(s->Z[j][0], orig->Z[j][0]);  // boundary columns stay
      EXPECT_EQ(s->Z[j][nu - 1], orig->Z[j][nu - 1]);
    }
    // At the domain's end nothing moves.
    Bspline* same = nullptr;
    ASSERT_EQ(SimpleSmoothSrfIsoCrv(orig, 1.0, 0.0, 0, 0.02, 60, &same), 0);
    for (int j = 0; j < nv; ++j)
      for (int i = 0; i < nu; ++i) EXPECT_EQ(same->Z[j][i], orig->Z[j][i]);
    FreeBspline(same);
    // The v variant on the transposed surface matches the u variant.
    Bspline* t = GetSrfBsplineTranspose(orig);
    ASSERT_EQ(SimpleSmoothSrfIsoCrvV(t, u, 0.02, 60), 0);
    for (int j = 0; j < nv; ++j)
      for (int i = 0; i < nu; ++i) EXPECT_NEAR(t->Z[i][j], s->Z[j][i], 1e-15);
    FreeBspline(t);
    FreeBspline(orig);
    FreeBspline(s);
  }
}

TEST_F(NetSmoothTest, FlipTwiceRestoresAndSearchesFindTheLastNotAbove) {
  PatchOptions o;
  o.degreeV = 2;
  o.nv = 4;
  o.vmax = 3.0;
  Bspline* s = BuildFunctionPatch([](double x, double y) { return x * y; }, o);
  s->quadricType = 25;
  const QuadricInfo plane = {{1.0, 0.0, 0.0, -2.0}};
  s->quadric = DuplicateQuadricInfo(&plane, 4);
  Bspline* orig = CopyBsplineStruct(s);
  Bspline* uv = BuildCurveOnSurface(s, 1, {0.1, 0.2, 0.7, 2.5});
  ASSERT_EQ(FlipBspline(s), 0);
  EXPECT_EQ(s->degreeU, 2);
  EXPECT_EQ(s->vmax, 1.0);
  EXPECT_EQ(s->umax, 3.0);
  EXPECT_EQ(s->quadric->v[0], -1.0);
  EXPECT_EQ(uv->X[0][0], 0.2);
  double a[3], b[3];
  RefEvalSurface(s, 2.5, 0.7, a);
  RefEvalSurface(orig, 0.7, 2.5, b);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(a[k], b[k], 1e-14);
  ASSERT_EQ(FlipBspline(s), 0);
  EXPECT_EQ(s->quadric->v[0], 1.0);
  EXPECT_EQ(s->quadric->v[3], -2.0);
  for (int j = 0; j < NumCtrlV(s); ++j)
    for (int i = 0; i < NumCtrlU(s); ++i) EXPECT_EQ(s->X[j][i], orig->X[j][i]);
  EXPECT_EQ(uv->X[0][0], 0.1);
  FreeBspline(orig);
  FreeBspline(s);

  const double v[3] = {0, 1, 2};
  EXPECT_EQ(SearchVector(v, 1.5, 3), 1);
  EXPECT_EQ(SearchVector(v, 5.0, 3), 2);
  EXPECT_EQ(SearchVector(v, -1.0, 3), -1);
  EXPECT_EQ(SearchVector(v, 1.0, 3), 1);
  EXPECT_EQ(SearchVector(v, 1.0, 0), -1);
  for (int seed = -2; seed < 5; ++seed)
    for (double x : {-1.0, 0.0, 0.5, 1.0, 1.5, 2.0, 3.0})
      EXPECT_EQ(SearchVectorSeeded(v, x, 3, seed), SearchVector(v, x, 3)) << seed << " " << x;
}

}  // namespace
