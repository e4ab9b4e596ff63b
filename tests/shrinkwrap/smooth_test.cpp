// Smoothing of surface control nets: held rows stay bit-identical while the net gets smoother,
// staged smoothing works on a copy, and iso-curve smoothing.
#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "foundation/umalloc.h"
#include "shrinkwrap/smooth.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class NetSmoothTest : public KernelTest {};

// A gently curved patch whose control points carry noise in z, except `quiet` rows from each
// side.
Bspline* NoisyPatch(unsigned seed, int nu = 9, int nv = 8, int quiet = 1) {
  Bspline* s = BuildFunctionPatch([](double x, double y) { return 0.3 * x * x - 0.2 * y; }, {.nu = nu, .nv = nv});
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
        EXPECT_TRUE(!fixed || (s->X[j][i] == orig->X[j][i] && s->Y[j][i] == orig->Y[j][i] && s->Z[j][i] == orig->Z[j][i]))
            << held << " " << i << " " << j;
      }
    EXPECT_LT(Roughness(s), 0.8 * Roughness(orig)) << held;
    EXPECT_EQ(SmoothSrfCntrlPntsLambdaGamma(s, -1, 0.3, -0.31, 5), -2);
    for (Bspline* obj : {orig, s}) FreeBspline(obj);
  }
  Bspline* thin = NoisyPatch(9u, 2, 6);  // one column per side held twice needs three
  EXPECT_EQ(SmoothSrfCntrlPntsLambdaGamma(thin, 1, 0.3, -0.31, 5), -2);
  FreeBspline(thin);
}

// The sorted-array searches of the smoothing against the standard library, with repeated
// entries, values outside the array and every seed.
TEST_F(NetSmoothTest, SortedSearchesFindTheLastEntryNotAbove) {
  const double a[6] = {0, 1, 1, 2, 3.5, 3.5};
  for (double x : {-1.0, 0.0, 0.5, 1.0, 3.5, 9.0}) {
    const int ref = int(std::upper_bound(a, a + 6, x) - a) - 1;
    EXPECT_EQ(SearchVector(a, x, 6), ref) << x;
    for (int seed = -1; seed <= 6; ++seed) EXPECT_EQ(SearchVectorSeeded(a, x, 6, seed), ref) << x << " " << seed;
  }
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
      EXPECT_EQ(s->Z[j][i], orig->Z[j][i]);  // the input is untouched; its boundary too
      EXPECT_TRUE((i > 0 && j > 0 && i < nu - 1 && j < nv - 1) || out->Z[j][i] == s->Z[j][i]);
    }
  FreeBspline(out);
  // Too few control points (4 columns, two held on each side; the free side leaves two of the
  // four rows): refused without refinement, refined with it.
  Bspline* small = NoisyPatch(12u, 4, 4);
  int fixed[4] = {1, 1, 1, -5}, enough = 0, addU = 0, addV = 0;
  ASSERT_EQ(IsEnoughSrfCntrlPntsForSmoothing(small, fixed, &enough, &addU, &addV), 0);
  EXPECT_TRUE(fixed[3] == -1 && enough == 0 && addU == 2 && addV == 0);
  int counts[4] = {1, 1, 1, 1};
  EXPECT_EQ(SimpleSmoothSurface(small, counts, 0.5, 0, &out), -2);
  ASSERT_EQ(SimpleSmoothSurface(small, counts, 0.5, 1, &out), 0);
  EXPECT_TRUE(NumCtrlU(out) == 6 && NumCtrlV(out) == 6);
  FreeBspline(out);
  const int failures = RunMakerWithInjectedFailures(1500, 13, [&](Bspline** r) {
    return SimpleSmoothSrfLambdaGamma(s, 0.3, r);
  });
  EXPECT_GT(failures, 0);
  for (Bspline* b : {small, orig, s}) FreeBspline(b);
}

// The control polygon of the iso-curve u = const: sum over the columns of basis value x point,
// and its wiggle, the sum of squared second differences.
double IsoWiggle(const Bspline* s, double u) {
  std::vector<double> q(NumCtrlV(s), 0.0);
  for (int i = 0; i < NumCtrlU(s); ++i)
    for (int j = 0; j < NumCtrlV(s); ++j) q[j] += RefBasis(s->knotsU, NumKnotsU(s), i, s->degreeU, u) * s->Z[j][i];
  double r = 0.0;
  for (size_t j = 1; j + 1 < q.size(); ++j) r += std::pow(q[j - 1] - 2 * q[j] + q[j + 1], 2);
  return r;
}

TEST_F(NetSmoothTest, IsoCurveSmoothingSmoothsTheCurveInEveryLayout) {
  // Degree 1 in u with three columns: at u = 0.25 only the middle column may move, the case
  // that the legacy code left unchanged.
  for (int layout = 0; layout < 2; ++layout) {
    const int nu = layout == 0 ? 3 : 7, nv = 9;
    std::mt19937 rng(17);
    std::uniform_real_distribution<double> U(-0.1, 0.1);
    std::vector<double> pts;
    for (int j = 0; j < nv; ++j)
      for (int i = 0; i < nu; ++i) pts.insert(pts.end(), {double(i), double(j), U(rng)});
    Bspline* s = BuildSurface(layout == 0 ? 1 : 3, 3, nu, nv, pts);
    Bspline* orig = CopyBsplineStruct(s);
    ASSERT_EQ(SimpleSmoothSrfIsoCrvU(s, 0.25, 0.02, 60), 0);
    EXPECT_LT(IsoWiggle(s, 0.25), 0.5 * IsoWiggle(orig, 0.25)) << layout;
    for (int j = 0; j < nv; ++j)  // the first and last rows and columns stay
      for (int i = 0; i < nu; ++i)
        EXPECT_TRUE((i > 0 && j > 0 && i < nu - 1 && j < nv - 1) || s->Z[j][i] == orig->Z[j][i]);
    // At the domain's end nothing moves; the v variant on the transposed surface matches.
    Bspline* same = nullptr;
    ASSERT_EQ(SimpleSmoothSrfIsoCrv(orig, 1.0, 0.0, 0, 0.02, 60, &same), 0);
    Bspline* t = GetSrfBsplineTranspose(orig);
    ASSERT_EQ(SimpleSmoothSrfIsoCrvV(t, 0.25, 0.02, 60), 0);
    for (int j = 0; j < nv; ++j)
      for (int i = 0; i < nu; ++i) {
        EXPECT_EQ(same->Z[j][i], orig->Z[j][i]);
        EXPECT_NEAR(t->Z[i][j], s->Z[j][i], 1e-15);
      }
    for (Bspline* b : {same, t, orig, s}) FreeBspline(b);
  }
}

// Exchanging u and v reverses S_u x S_v. A plane description (n, d), n . x + d = 0 with n along
// the surface normal, must follow on the transposed copy as in place: the net stays on the
// plane and the normal still points to the surface's side.
TEST_F(NetSmoothTest, TransposedPlaneKeepsItsNormalOnTheSurfaceSide) {
  const int nu = 4, nv = 5;
  std::vector<double> pts;
  for (int j = 0; j < nv; ++j)
    for (int i = 0; i < nu; ++i) pts.insert(pts.end(), {double(i), 0.5 * j, 1.0 + 0.3 * i + 0.4 * j});
  Bspline* s = BuildSurface(3, 2, nu, nv, pts);
  const double len = std::sqrt(0.09 + 0.64 + 1.0);  // S_u x S_v along (-0.3, -0.8, 1)
  s->quadricType = 25;
  s->quadric = static_cast<QuadricInfo*>(Malloc(sizeof(QuadricInfo)));
  const double plane[4] = {-0.3 / len, -0.8 / len, 1.0 / len, -1.0 / len};
  for (int k = 0; k < 4; ++k) s->quadric->v[k] = plane[k];

  auto check = [](const Bspline* b, const char* what) {
    ASSERT_TRUE(b->quadricType == 25 && b->quadric) << what;
    const double* q = b->quadric->v;
    for (int j = 0; j < NumCtrlV(b); ++j)
      for (int i = 0; i < NumCtrlU(b); ++i)
        EXPECT_NEAR(q[0] * b->X[j][i] + q[1] * b->Y[j][i] + q[2] * b->Z[j][i] + q[3], 0.0, 1e-12) << what;
    double su[3], sv[3];
    Eval3DPointOnSurfArray(b, 0.3, 0.6, 1, 0, su);
    Eval3DPointOnSurfArray(b, 0.3, 0.6, 0, 1, sv);
    const double n[3] = {su[1] * sv[2] - su[2] * sv[1], su[2] * sv[0] - su[0] * sv[2], su[0] * sv[1] - su[1] * sv[0]};
    EXPECT_GT(n[0] * q[0] + n[1] * q[1] + n[2] * q[2], 0.0) << what;
  };
  check(s, "original");
  Bspline* t = GetSrfBsplineTranspose(s);
  ASSERT_NE(t, nullptr);
  check(t, "transposed copy");
  EXPECT_EQ(s->quadric->v[0], plane[0]);  // the source keeps its own description
  Bspline* back = GetSrfBsplineTranspose(t);
  ASSERT_NE(back, nullptr);
  for (int k = 0; k < 4; ++k) EXPECT_EQ(back->quadric->v[k], plane[k]);
  ASSERT_EQ(FlipBspline(s), 0);
  check(s, "flipped in place");
  for (int k = 0; k < 4; ++k) EXPECT_EQ(s->quadric->v[k], t->quadric->v[k]);
  for (Bspline* b : {back, t, s}) FreeBspline(b);
}

}  // namespace
