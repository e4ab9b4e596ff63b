// Offsets measured: exact offsets of circles, arcs and lines lie at the offset distance in the
// input's plane; radii of curvature and the fold test agree with the geometry of a circle;
// parameters per span follow the breaks.
#include <cmath>
#include <random>
#include <vector>

#include "bspline/sfree.h"
#include "curve/crvoffst.h"
#include "curve/mkline3.h"
#include "foundation/solvmat.h"
#include "foundation/vec3.h"
#include "quadric/cpoint.h"
#include "quadric/qarc.h"
#include "quadric/qcircle.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class OffsetTest : public KernelTest {};

std::vector<double> PerSpan(const std::vector<double>& b, int k) {
  double* out = nullptr;
  int n = -1;
  EXPECT_EQ(GetNParValsPerSpan(b.data(), int(b.size()), k, &out, &n), 0);
  std::vector<double> v(out, out + n);
  Free(out);
  return v;
}

TEST_F(OffsetTest, ParametersPerSpanCutEverySpanEvenly) {
  EXPECT_EQ(PerSpan({0, 1}, 5), (std::vector<double>{0, 0.25, 0.5, 0.75, 1}));
  EXPECT_EQ(PerSpan({0, 1}, 1), (std::vector<double>{0, 1}));
  EXPECT_EQ(PerSpan({0, 0, 0, 0, 1, 2, 2, 2, 2}, 3), (std::vector<double>{0, 0.5, 1, 1.5, 2}));
  EXPECT_EQ(PerSpan({3}, 4), (std::vector<double>{3}));
  EXPECT_EQ(PerSpan({0, 2, 1, 3}, 3), (std::vector<double>{0, 1, 1, 2, 3}));  // a falling span adds nothing
  // Random clamped vectors: ascending, every distinct knot present, k - 1 steps per span.
  std::mt19937 rng(4);
  for (int trial = 0; trial < 30; ++trial) {
    const int p = 1 + trial % 4, k = 2 + trial % 5;
    const std::vector<double> b = ClampedKnots(p, p + 2 + trial % 6, -1.0, 2.0, KnotLayout::Random, trial);
    const std::vector<double> v = PerSpan(b, k);
    int distinct = 1;
    for (size_t i = 1; i < b.size(); ++i) distinct += b[i] != b[i - 1];
    EXPECT_EQ(int(v.size()), (distinct - 1) * (k - 1) + 1);
    for (size_t i = 1; i < v.size(); ++i) EXPECT_LT(v[i - 1], v[i]);
  }
  double* out = reinterpret_cast<double*>(&rng);
  int n = 7;
  EXPECT_EQ(GetNParValsPerSpan(nullptr, 3, 3, &out, &n), -2);
  EXPECT_TRUE(out == nullptr && n == 0);
}

// A frame for a random plane: centre, unit normal.
struct Plane {
  double c[3], n[3];
};

double Spread(const Bspline* b, const Plane& pl, double r, double* sweep) {
  double worst = 0.0, prev = 0.0, first[3] = {0, 0, 0};
  *sweep = 0.0;
  for (int i = 0; i <= 200; ++i) {
    double p[3], d[3];
    RefEvalCurve(b, b->umin + (b->umax - b->umin) * i / 200.0, p);
    VecDiff3(p, pl.c, d);
    worst = std::max({worst, std::fabs(VecSize3(d) - r), std::fabs(VecDotProd3(d, pl.n))});
    // Signed angle turned about the normal, summed.
    if (i == 0) {
      for (int k = 0; k < 3; ++k) first[k] = d[k];
    } else {
      double x[3];
      VecCrossProd3(first, d, x);
      const double ang = std::atan2(VecDotProd3(x, pl.n), VecDotProd3(first, d));
      double a = ang < prev - 1.0 ? ang + 2 * M_PI : ang;
      *sweep = std::max(*sweep, a);
      prev = a;
    }
  }
  return worst;
}

TEST_F(OffsetTest, CircleAndArcOffsetsKeepPlaneCentreAndSweep) {
  std::mt19937 rng(9);
  std::uniform_real_distribution<double> U(-2.0, 2.0);
  for (int trial = 0; trial < 16; ++trial) {
    Plane pl{{U(rng), U(rng), U(rng)}, {U(rng), U(rng), U(rng)}};
    VecNormalize3(pl.n, pl.n);
    const double r = 1.0 + std::fabs(U(rng)), d = 0.3 * U(rng);
    const int inward = trial % 2;
    const double want = inward ? r - d : r + d;
    Bspline* circle = MakeCircleWGivenAxis(pl.c, r, pl.n);
    // The arc: a sweep of 40 .. 320 degrees, turned into the plane the same way.
    const double sweepDeg = 40.0 + 280.0 * (trial / 16.0);
    const double origin[3] = {0, 0, 0};
    Bspline* arc = MakeArcZBspline(0.0, sweepDeg, origin, r);
    const double tip[3] = {pl.c[0] + pl.n[0], pl.c[1] + pl.n[1], pl.c[2] + pl.n[2]};
    Xform M, Minv;
    TransformToZAxis(pl.c, tip, M);
    mat_inverse4(M, Minv);
    for (int i = 0; i < NumCtrlU(arc); ++i) vector_xform(&arc->X[0][i], &arc->Y[0][i], &arc->Z[0][i], Minv);
    for (int k = 0; k < 3; ++k) arc->quadric->v[k] = pl.c[k];
    for (int k = 0; k < 3; ++k) arc->quadric->v[3 + k] = 3.0 * pl.n[k];  // any length of normal
    double s0, s1;
    ASSERT_LT(Spread(arc, pl, r, &s0), 1e-12) << trial;

    int collapsed = 7;
    Bspline* oc = CreateCircleOffset(circle, d, inward, &collapsed);
    ASSERT_TRUE(oc);
    EXPECT_EQ(collapsed, 0);
    EXPECT_LT(Spread(oc, pl, want, &s1), 1e-12) << trial;
    Bspline* oa = CreateArcOffset(arc, d, inward, &collapsed);
    ASSERT_TRUE(oa);
    EXPECT_LT(Spread(oa, pl, want, &s1), 1e-12) << trial;
    EXPECT_NEAR(s1, s0, 1e-9) << trial;
    for (int k = 0; k < 3; ++k) {
      EXPECT_NEAR(oa->quadric->v[k], pl.c[k], 1e-15);
      EXPECT_NEAR(oa->quadric->v[3 + k], pl.n[k], 1e-15);
    }
    EXPECT_NEAR(oa->quadric->v[6], want, 1e-15);
    for (Bspline* b : {circle, arc, oc, oa}) FreeBspline(b);
  }
  // Collapsing radii set the flag; an axis of no length gives null without it.
  const double o[3] = {0, 0, 0}, z[3] = {0, 0, 1};
  Bspline* c = MakeCircleWGivenAxis(o, 2.0, z);
  int collapsed = 0;
  EXPECT_EQ(CreateCircleOffset(c, 2.0, 1, &collapsed), nullptr);
  EXPECT_EQ(collapsed, 1);
  Bspline* half = CreateCircleOffset(c, 1.5, 1, &collapsed);
  EXPECT_TRUE(half && collapsed == 0 && half->quadric->v[6] == 0.5);
  FreeBspline(half);
  EXPECT_EQ(CreateArcOffset(c, 1.0, 0, &collapsed), nullptr);  // a circle is no arc
  c->quadric->v[5] = 0.0;
  EXPECT_EQ(CreateCircleOffset(c, 1.0, 0, &collapsed), nullptr);
  EXPECT_EQ(collapsed, 0);
  FreeBspline(c);

  // Memory failures: an offset maker hands back a whole curve or nothing, and leaks nothing.
  Bspline* arc = MakeArcZBspline(20.0, 250.0, o, 3.0);
  const double a[3] = {0, 0, 0}, b[3] = {1, 1, 0};
  Bspline* line = CreateLineBsplineDegree1(a, b);
  for (int which : {0, 1}) {
    const int failures = RunMakerWithInjectedFailures(40, 1, [&](Bspline** out) {
      int flag = 0;
      *out = which ? CreateLineOffset(line, 0.25) : CreateArcOffset(arc, 0.5, 1, &flag);
      EXPECT_TRUE(*out || KernelFailedNow());
      return *out ? 0 : -2;
    });
    EXPECT_TRUE(failures > 0 && failures < 40) << which << " " << failures;
  }
  FreeBspline(line);
  FreeBspline(arc);
}

// A straight line moves across itself by d, exact form included.
TEST_F(OffsetTest, LineOffsetMovesAcross) {
  const double a[3] = {1, 2, 3}, b[3] = {4, 0, 3};
  Bspline* line = CreateLineBsplineDegree1(a, b);
  Bspline* moved = CreateLineOffset(line, 0.5);
  ASSERT_TRUE(moved);
  double dir[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
  for (int i = 0; i < 2; ++i) {
    const double p[3] = {moved->X[0][i], moved->Y[0][i], moved->Z[0][i]};
    const double q[3] = {line->X[0][i], line->Y[0][i], line->Z[0][i]};
    double d[3];
    VecDiff3(p, q, d);
    EXPECT_NEAR(VecSize3(d), 0.5, 1e-12);
    EXPECT_NEAR(VecDotProd3(d, dir), 0.0, 1e-12);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(moved->quadric->v[3 * i + k], p[k]);
  }
  Bspline* again = CreateLineOffset(moved, 1.0);  // a moved line is still a line
  EXPECT_NE(again, nullptr);
  FreeBspline(again);
  FreeBspline(moved);
  Bspline* cubic = MkLine3(a, b, nullptr);
  EXPECT_EQ(CreateLineOffset(cubic, 1.0), nullptr);  // no exact form
  FreeBspline(cubic);
  FreeBspline(line);
}

// On a circle of radius 2 every radius of curvature is 2, the offset direction points away
// from the centre, an offset of -3 (towards the centre) folds at every sample and +3 nowhere.
TEST_F(OffsetTest, RadiiAndFoldsOfACircle) {
  const double o[3] = {1, -1, 0.5};
  double axis[3] = {1, 2, 2};
  VecNormalize3(axis, axis);
  Bspline* c = MakeCircleWGivenAxis(o, 2.0, axis);
  std::vector<double> t;
  for (int i = 0; i < 40; ++i) t.push_back(i / 40.0 + 0.003);
  double* r = nullptr;
  ASSERT_EQ(Curve3RadiusOfCurvatureNpts(c, t.data(), 40, &r), 0);
  for (int i = 0; i < 40; ++i) {
    EXPECT_NEAR(r[i], 2.0, 1e-9) << i;
    double dir[3], p[3], out[3];
    FindCrvOffsetDirection(c, t[i], dir);
    RefEvalCurve(c, t[i], p);
    VecDiff3(p, o, out);
    VecNormalize3(out, out);
    EXPECT_NEAR(VecDotProd3(dir, out), 1.0, 1e-9) << i;
    double s;
    FindOffsetDirectionAndRadiusAtPoint(c, t[i], &s, dir);
    EXPECT_NEAR(s, 0.5, 1e-9) << i;  // a quarter of the radius
  }
  for (double d : {-3.0, 3.0, -1.0}) {
    int* idx = nullptr;
    int n = -1;
    ASSERT_EQ(CheckForSelfIntersectionGivenRadii(c, t.data(), 40, r, d, &idx, &n), 0);
    EXPECT_EQ(n, d == -3.0 ? 40 : 0) << d;
    for (int i = 0; i < n; ++i) EXPECT_EQ(idx[i], i);
    Free(idx);
  }
  Free(r);
  // A straight segment: the capped radius, 1e6 x its size (2), and a direction across it.
  const double a[3] = {0, 0, 0}, b[3] = {2, 0, 0};
  Bspline* line = MkLine3(a, b, nullptr);
  ASSERT_EQ(Curve3RadiusOfCurvatureNpts(line, t.data(), 3, &r), 0);
  EXPECT_NEAR(r[1], 2e6, 1e-3);
  Free(r);
  double dir[3];
  FindCrvOffsetDirection(line, 0.0, dir);
  EXPECT_NEAR(dir[0], 0.0, 1e-12);
  EXPECT_NEAR(VecSize3(dir), 1.0, 1e-12);
  FreeBspline(line);
  Bspline* surface = BuildFunctionPatch([](double, double) { return 0.0; });
  EXPECT_EQ(Curve3RadiusOfCurvatureNpts(surface, t.data(), 3, &r), -2);
  EXPECT_EQ(r, nullptr);
  FreeBspline(surface);

  const int failures = RunWithInjectedFailures(40, 1, [&] {
    double* radii = nullptr;
    int* idx = nullptr;
    int n = 0, collapsed = 0;
    int res = Curve3RadiusOfCurvatureNpts(c, t.data(), 40, &radii);
    if (res == 0) res = CheckForSelfIntersectionGivenRadii(c, t.data(), 40, radii, -3.0, &idx, &n);
    Bspline* oc = res == 0 ? CreateCircleOffset(c, 0.5, 0, &collapsed) : nullptr;
    if (res == 0 && !oc) res = -2;
    EXPECT_TRUE(res == 0 || KernelFailedNow());
    Free(radii);
    Free(idx);
    FreeBspline(oc);
    return res;
  });
  EXPECT_TRUE(failures > 2 && failures < 40) << failures;
  FreeBspline(c);
}

// The circle of radius 2 and a straight segment at sizes 1e-6 .. 1e6, at the origin and moved
// 1e4 x the size away: the same radii, directions, folds and exact offsets relative to the size
// (absolute floors made small circles straight, folded everywhere, or collapsed).
TEST_F(OffsetTest, RadiiDirectionsAndExactOffsetsAtEverySizeAndPlace) {
  double axis[3] = {1, 2, 2};
  VecNormalize3(axis, axis);
  std::vector<double> t;
  for (int i = 0; i < 12; ++i) t.push_back(i / 12.0 + 0.003);
  for (double size : {1e-6, 1e-3, 1.0, 1e3, 1e6})
    for (double away : {0.0, 1e4}) {
      SCOPED_TRACE(::testing::Message() << "size " << size << " away " << away);
      const double o[3] = {size * (1 + away), size * (-1 - 0.6 * away), size * (0.5 + 0.35 * away)};
      Bspline* c = MakeCircleWGivenAxis(o, 2.0 * size, axis);
      ASSERT_NE(c, nullptr);
      double* r = nullptr;
      ASSERT_EQ(Curve3RadiusOfCurvatureNpts(c, t.data(), 12, &r), 0);
      for (int i = 0; i < 12; ++i) {
        EXPECT_NEAR(r[i] / size, 2.0, 1e-9) << i;
        double dir[3], p[3], out[3], s;
        FindCrvOffsetDirection(c, t[i], dir);
        RefEvalCurve(c, t[i], p);
        VecDiff3(p, o, out);
        VecNormalize3(out, out);
        EXPECT_NEAR(VecDotProd3(dir, out), 1.0, 1e-9) << i;
        FindOffsetDirectionAndRadiusAtPoint(c, t[i], &s, dir);
        EXPECT_NEAR(s / size, 0.5, 1e-9) << i;
      }
      for (double d : {-3.0, 3.0}) {
        int* idx = nullptr;
        int n = -1;
        ASSERT_EQ(CheckForSelfIntersectionGivenRadii(c, t.data(), 12, r, d * size, &idx, &n), 0);
        EXPECT_EQ(n, d < 0 ? 12 : 0) << d;
        Free(idx);
      }
      Free(r);
      int collapsed = -1;
      Bspline* inner = CreateCircleOffset(c, 1.5 * size, 1, &collapsed);
      ASSERT_NE(inner, nullptr);
      EXPECT_EQ(collapsed, 0);
      EXPECT_NEAR(inner->quadric->v[6] / size, 0.5, 1e-12);
      FreeBspline(inner);
      EXPECT_EQ(CreateCircleOffset(c, 2.0 * size, 1, &collapsed), nullptr);
      EXPECT_EQ(collapsed, 1);
      FreeBspline(c);
      // A 120-degree arc about o offset outwards by its radius: every point twice as far from o,
      // in the arc's plane.
      double p1[3], towards[3], u[3], w[3];
      PerpVecs(axis, u, w);
      VecNormalize3(u, u);
      VecCrossProd3(axis, u, w);
      for (int k = 0; k < 3; ++k) {
        p1[k] = o[k] + 2 * size * u[k];
        towards[k] = o[k] + 2 * size * (-0.5 * u[k] + std::sqrt(0.75) * w[k]);
      }
      Bspline* arc = CreateQuadricWCenAnd2Points(o, p1, towards, 1);
      ASSERT_NE(arc, nullptr);
      ASSERT_EQ(arc->quadricType, 3);
      Bspline* outer = CreateArcOffset(arc, 2.0 * size, 0, &collapsed);
      ASSERT_NE(outer, nullptr);
      for (int i = 0; i <= 8; ++i) {
        double q[3], off[3];
        RefEvalCurve(outer, outer->umin + i / 8.0 * (outer->umax - outer->umin), q);
        VecDiff3(q, o, off);
        EXPECT_NEAR(VecSize3(off) / size, 4.0, 1e-9) << i;
        EXPECT_NEAR(VecDotProd3(off, axis) / size, 0.0, 1e-9) << i;
      }
      FreeBspline(outer);
      FreeBspline(arc);
      const double a[3] = {o[0], o[1], o[2]}, b[3] = {o[0] + 2 * size, o[1], o[2]};
      Bspline* line = MkLine3(a, b, nullptr);
      ASSERT_EQ(Curve3RadiusOfCurvatureNpts(line, t.data(), 3, &r), 0);
      EXPECT_NEAR(r[1] / size, 2e6, 1e-3);
      Free(r);
      FreeBspline(line);
    }
}

}  // namespace
