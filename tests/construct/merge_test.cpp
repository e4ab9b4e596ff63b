// Bridge (merge) and fillet surfaces between curves on surfaces: the Hermite bridge starts and
// ends on the curves in the surfaces' tangent planes, with double interior knots; the curves get
// one knot vector with knots at every knot-line crossing; degenerate bridge directions give
// finite geometry; the front ends' refusals and failures leave nothing behind.
#include <cmath>
#include <vector>

#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "construct/srfmerge.h"
#include "foundation/coreglob.h"
#include "foundation/makemat.h"
#include "stitch/srfcont.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class MergeTest : public KernelTest {};

struct Pair {
  BsplineKeeper keep;
  Bspline* s1;
  Bspline* s2;
  Bspline* c1;
  Bspline* c2;
  explicit Pair(bool flat) {
    PatchOptions o;
    o.layout = KnotLayout::Random;
    s1 = keep(BuildFunctionPatch([flat](double x, double y) { return flat ? 0.0 : 0.3 * x * x + 0.1 * y; }, o));
    o.x0 = 2.0, o.x1 = 3.0, o.seed = 2;
    s2 = keep(BuildFunctionPatch([flat](double x, double y) { return flat ? 0.0 : 0.4 - 0.2 * (x - 2) + 0.05 * y * y; }, o));
    c1 = BuildCurveOnSurface(s1, 3, {1, 0, 1, 0.3, 1, 0.6, 1, 0.8, 1, 1.0});
    c2 = BuildCurveOnSurface(s2, 3, {0, 0, 0, 0.3, 0, 0.6, 0, 0.8, 0, 1.0});
  }
};

TEST_F(MergeTest, HermiteBridgeMeetsBothSurfacesTangentially) {
  for (const bool flat : {true, false}) {
    Pair g(flat);
    Bspline* b = g.keep(CreateMergeSurfaceGivenCurve2s(g.c1, g.c2));
    ASSERT_NE(b, nullptr) << flat;
    EXPECT_EQ(b->degreeU, 3);
    EXPECT_EQ(b->interiorU, 0);
    // Every interior v knot twice.
    for (int i = 4; i < 4 + b->interiorV; i += 2) {
      EXPECT_EQ(b->knotsV[i], b->knotsV[i + 1]);
      if (i + 2 < 4 + b->interiorV) {
        EXPECT_LT(b->knotsV[i + 1], b->knotsV[i + 2]);
      }
    }
    EXPECT_EQ(b->interiorV % 2, 0);
    for (int side = 0; side < 2; ++side) {
      Bspline* srfs[2] = {b, side == 0 ? g.s1 : g.s2};
      Bspline* curves[2] = {nullptr, side == 0 ? g.c1 : g.c2};
      int bndry[2] = {side == 0 ? 0 : 2, 0};
      ObjContInfo info{};
      double where[2];
      ASSERT_EQ(ComputeObjContTrimSurfs2(srfs, curves, bndry, 1, &info, where), 0);
      EXPECT_LT(info.maxGap, 1e-3) << flat << side;
      EXPECT_LT(info.maxAngle, 0.5) << flat << side;
    }
    if (flat) {
      // Facing coplanar surfaces: the plane between them, in one pass without splits (one
      // patch per span of the merge curve left at the head of s1's list).
      const Bspline* m1 = g.s1->curves->item;
      EXPECT_EQ(b->interiorV, 2 * m1->interiorU);
      for (int j = 0; j < NumCtrlV(b); ++j)
        for (int i = 0; i < 4; ++i) EXPECT_NEAR(b->Z[j][i], 0.0, 1e-12);
    }
  }
}

TEST_F(MergeTest, MergeCurvesShareKnotsWithEveryKnotLineCrossing) {
  Pair g(false);
  // A diagonal curve crosses knot lines of s1 in u and v.
  Bspline* d1 = BuildCurveOnSurface(g.s1, 3, {0.1, 0.05, 0.4, 0.3, 0.6, 0.7, 0.9, 0.95}, {2, 2, 2, 2, 7, 7, 7, 7});
  Bspline *m1 = nullptr, *m2 = nullptr;
  GetMergeCurve2s(g.s1, d1, g.s2, g.c2, &m1, &m2);
  ASSERT_NE(m1, nullptr);
  ASSERT_NE(m2, nullptr);
  EXPECT_EQ(g.s1->curves->item, m1);  // at the head of the list
  ASSERT_EQ(NumKnotsU(m1), NumKnotsU(m2));
  for (int i = 0; i < NumKnotsU(m1); ++i) EXPECT_NEAR(m1->knotsU[i], m2->knotsU[i], 1e-12);
  EXPECT_EQ(m1->umin, 0.0);
  EXPECT_EQ(m1->umax, 1.0);
  // Each interior knot line of s1 that m1 crosses is crossed at a knot of m1.
  for (int dir = 0; dir < 2; ++dir) {
    const double* K = dir == 0 ? g.s1->knotsU : g.s1->knotsV;
    const int ni = dir == 0 ? g.s1->interiorU : g.s1->interiorV;
    for (int k = 0; k < ni; ++k) {
      const double line = K[4 + k];
      for (int s = 0; s + 1 < 400; ++s) {
        double a[2], b[2];
        Eval2DPointOnCurve2Array(nullptr, m1, s / 400.0, 0, a);
        Eval2DPointOnCurve2Array(nullptr, m1, (s + 1) / 400.0, 0, b);
        if ((a[dir] - line) * (b[dir] - line) >= 0) continue;
        bool knotHere = false;
        for (int i = 0; i < NumKnotsU(m1); ++i)
          knotHere |= m1->knotsU[i] >= s / 400.0 - 1e-9 && m1->knotsU[i] <= (s + 1) / 400.0 + 1e-9;
        EXPECT_TRUE(knotHere) << dir << " " << line;
      }
    }
  }
}

TEST_F(MergeTest, DirectionsAndMagnitudesStayFinite) {
  // A direction straight away from the other point has no arc: zero, not a division by zero.
  double p[3] = {0, 0, 0}, q[3] = {1, 0, 0};
  double away[3] = {-1, 0, 0}, toward[3] = {1, 0, 0}, across[3] = {0, 1, 0};
  FindBridgeMagnitude(p, q, away, 2.0);
  for (double v : away) EXPECT_EQ(v, 0.0);
  FindBridgeMagnitude(p, q, toward, 2.0);
  EXPECT_DOUBLE_EQ(toward[0], 2.0);
  FindBridgeMagnitude(p, q, across, 1.0);
  EXPECT_DOUBLE_EQ(across[1], 2.0);
  // A backward bridge (both curves' vectors flipped) still gives finite geometry.
  Pair g(false);
  Bspline *m1 = nullptr, *m2 = nullptr;
  GetMergeCurve2s(g.s1, g.c1, g.s2, g.c2, &m1, &m2);
  ASSERT_NE(m1, nullptr);
  Bspline* b = g.keep(FindMergeSurfFrom2Curve2s(m1, m2, 1, 1, -1, 0, 1.0, 1.0, 1, 1));
  ASSERT_NE(b, nullptr);
  for (int j = 0; j < NumCtrlV(b); ++j)
    for (int i = 0; i < NumCtrlU(b); ++i)
      EXPECT_TRUE(std::isfinite(b->X[j][i]) && std::isfinite(b->Y[j][i]) && std::isfinite(b->Z[j][i]));
  ClearKernelError();
}

TEST_F(MergeTest, FrontEndsRefusalsAndFailures) {
  Pair g(false);
  Bspline* out = reinterpret_cast<Bspline*>(1);
  EXPECT_EQ(CreateMergeSurface(g.s1, 2, nullptr, g.s1, 2, nullptr, &out), 0);
  EXPECT_EQ(CreateMergeSurface(g.s1, 0, nullptr, g.s1, 2, nullptr, &out), 1);
  ASSERT_NE(out, nullptr);
  g.keep(out);
  double a[3], b[3];
  RefEvalSurface(out, 0.5, out->vmin, a);
  RefEvalSurface(g.s1, 0.0, 0.5, b);
  EXPECT_LT(std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]), 1e-9);
  // Coincident boundaries: the loft fails, the front end still answers 1 with nothing.
  Bspline* twin = BuildCurveOnSurface(g.s1, 1, {0, 0, 0, 1});
  EXPECT_EQ(CreateMergeSurface(g.s1, 0, twin, g.s1, 0, nullptr, &out), 1);
  EXPECT_EQ(out, nullptr);
  ClearKernelError();
  // The fillet loft leaves both surfaces tangentially.
  Bspline* f = g.keep(FindFilletSurfFrom2Curve2s(g.c1, g.c2, 1, 0, 1, 1, 1.0, 1.0));
  ASSERT_NE(f, nullptr);
  // Fillet curves: a failed interpolation links nothing.
  const double u[4] = {0.1, 0.3, 0.5, 0.7}, v[4] = {0.2, 0.4, 0.4, 0.6};
  const int before1 = [&] { int n = 0; for (BsplineList* l = g.s1->curves; l; l = l->next) ++n; return n; }();
  const int failures = RunWithInjectedFailures(60, 1, [&] {
    Bspline *a1 = nullptr, *a2 = nullptr;
    GetFilletCurve2s(g.s1, u, v, g.s2, u, v, 4, &a1, &a2);
    EXPECT_EQ(a1 == nullptr, a2 == nullptr);
    if (!a1) {
      int n = 0;
      for (BsplineList* l = g.s1->curves; l; l = l->next) ++n;
      EXPECT_EQ(n, before1);
      return -1;
    }
    // Leave the lists as they were for the next run.
    for (Bspline* c : {a1, a2}) {
      Bspline* owner = c->owner;
      BsplineList** l = &owner->curves;
      while ((*l)->item != c) l = &(*l)->next;
      BsplineList* node = *l;
      *l = node->next;
      Free(node);
      FreeBspline(c);
    }
    return 0;
  });
  EXPECT_GT(failures, 0);
}

TEST_F(MergeTest, FailedAllocationsInTheBridgeLeaveNothing) {
  Pair g(false);
  Bspline *m1 = nullptr, *m2 = nullptr;
  GetMergeCurve2s(g.s1, g.c1, g.s2, g.c2, &m1, &m2);
  ASSERT_NE(m1, nullptr);
  const int failures = RunMakerWithInjectedFailures(3000, 13, [&](Bspline** out) {
    *out = FindMergeSurfFrom2Curve2s(m1, m2, 1, 1, 1, 1, 1.0, 1.0, 0, 0);
    return *out && !KernelFailed() ? 0 : -1;
  });
  EXPECT_GT(failures, 0);
}

TEST_F(MergeTest, SmoothingAControlLineKeepsAStraightLine) {
  BsplineKeeper keep;
  std::vector<double> pts;
  for (int i = 0; i < 9; ++i) pts.insert(pts.end(), {double(i), 2.0, 1.0});
  Bspline* c = keep(BuildCurve(3, 3, pts));
  ASSERT_EQ(SmoothControlLine(c, 0, 0, 3), 0);
  for (int i = 0; i < 9; ++i) {
    EXPECT_NEAR(c->Y[0][i], 2.0, 1e-12);
    EXPECT_NEAR(c->Z[0][i], 1.0, 1e-12);
  }
  EXPECT_EQ(SmoothControlLine(c, 1, 0, 3), -2);
  // A kinked row of a surface gets smoother: its largest second difference shrinks.
  PatchOptions o;
  Bspline* s = keep(BuildFunctionPatch([](double, double) { return 0.0; }, o));
  s->Z[2][3] = 1.0;
  ASSERT_EQ(SmoothControlLine(s, 0, 2, 2), 0);
  EXPECT_LT(s->Z[2][3], 1.0);
  EXPECT_GT(s->Z[2][2], 0.0);
}

}  // namespace

namespace {

class HermiteMatrices : public KernelTest {};

// The cubic [t^3 t^2 t 1] H g takes the end values and end slopes of g; the Bezier net of a power
// form starts and ends on it with a third of its end slopes.
TEST_F(HermiteMatrices, EndValuesAndSlopes) {
  double*** H = nullptr;
  double*** B = nullptr;
  FindHermiteFunctions(&H);
  FindBsplineFunctions(&B, 1);
  ASSERT_NE(H, nullptr);
  ASSERT_NE(B, nullptr);
  const double g[4] = {1.5, -2.0, 0.7, 3.0};  // P0, P1, T0, T1
  double c[4] = {};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) c[i] += H[0][i][j] * g[j];
  auto p = [&](double t) { return ((c[0] * t + c[1]) * t + c[2]) * t + c[3]; };
  auto dp = [&](double t) { return (3 * c[0] * t + 2 * c[1]) * t + c[2]; };
  EXPECT_NEAR(p(0), g[0], 1e-13);
  EXPECT_NEAR(p(1), g[1], 1e-13);
  EXPECT_NEAR(dp(0), g[2], 1e-13);
  EXPECT_NEAR(dp(1), g[3], 1e-13);
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) EXPECT_EQ(H[1][j][i], H[0][i][j]);
  double bz[4] = {};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) bz[i] += B[0][i][j] * c[j];
  EXPECT_NEAR(bz[0], p(0), 1e-15);
  EXPECT_NEAR(bz[3], p(1), 1e-15);
  EXPECT_NEAR(3 * (bz[1] - bz[0]), dp(0), 1e-14);
  EXPECT_NEAR(3 * (bz[3] - bz[2]), dp(1), 1e-14);
  matrix_free_3dim_ff(2, H);
  matrix_free_3dim_ff(2, B);
  // The other pair is filled too.
  FindBsplineFunctions(&B, 0);
  ASSERT_NE(B, nullptr);
  EXPECT_EQ(B[0][3][0], 6.0);
  EXPECT_EQ(B[1][0][3], 6.0);
  matrix_free_3dim_ff(2, B);
}

}  // namespace
