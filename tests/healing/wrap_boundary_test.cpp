// The positional wrap of a boundary curve onto the averaged samples of its edges: the corner
// constraints it builds, their reduction, and the refit written into the right side of the
// surface's control net, for every side and both edge orientations.
#include <cmath>
#include <utility>
#include <vector>

#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "healing/mshrink.h"
#include "healing/srfbndr.h"
#include "splinefit/fitsplin.h"
#include "tests/healing/heal_groups.h"
#include "tests/support/kernel_fixture.h"

namespace {

using namespace healtest;

// Second patch of a pair: which side of it meets A and in which orientation.
struct Layout {
  int sideA;  // 3: B lies at x in [1, 2]; 4: B lies at y in [1, 2]
  int sideB;
  bool same;  // B's side runs the same way as A's
  double x0, x1, y0, y1;  // B's rectangle, corner by corner: u runs x0 to x1, v y0 to y1
};

// A is [0, 1]^2 in increasing u and v; mirrored rectangles give B's sides 1 to 4 in both
// orientations.
const Layout kLayouts[] = {
    {3, 1, true, 1, 2, 0, 1}, {3, 1, false, 1, 2, 1, 0}, {3, 3, true, 2, 1, 0, 1}, {3, 3, false, 2, 1, 1, 0},
    {4, 2, true, 0, 1, 1, 2}, {4, 2, false, 1, 0, 1, 2}, {4, 4, true, 0, 1, 2, 1}, {4, 4, false, 1, 0, 2, 1},
};

double Hill(double x, double y) { return 0.1 * std::sin(1.7 * x + 0.2) * std::cos(1.1 * y); }

// Bicubic patch of nu x nv points over the rectangle (x0, y0)-(x1, y1), corners in u, v order.
Bspline* Patch(const Fn& f, double x0, double x1, double y0, double y1, int nu = 6, int nv = 5) {
  return BuildFunctionPatch(f, {.nu = nu, .nv = nv, .x0 = x0, .x1 = x1, .y0 = y0, .y1 = y1});
}

void BuildPair(Group& g, const Layout& L, const Fn& fa, const Fn& fb) {
  g.srfs.push_back(Patch(fa, 0, 1, 0, 1));
  g.srfs.push_back(Patch(fb, L.x0, L.x1, L.y0, L.y1));
}

// The natural-side curve of surface s on the given side.
int CurveOf(const BndrStruct* bs, int s, int side) {
  for (int c = 0; c < bs->nCrv; ++c)
    if (bs->crvs[c].srfInfo == &bs->srfs[s] && bs->crvs[c].side == side) return c;
  return -1;
}

ShrnkWrapParams StitchOptions() {
  ShrnkWrapParams o;
  SetDefaultShrnkWrapParams(&o);
  for (int& r : o.fixedRows) r = -1;
  o.Tension = 0.7, o.Roughness = 0.3, o.Sigma = 0.02;
  SmoothnessToRoughness(&o.Roughness);
  return o;
}

// Largest distance between A's side and B's side at matching parameters: both patches map
// their parameters linearly onto x and y, so the seam's points correspond at t or 1 - t.
double SeamGap(const Group& g, const Layout& L) {
  double gap;
  ParamSeamMeasures(g.srfs[0], L.sideA, g.srfs[1], L.sideB, !L.same, &gap, nullptr);
  return gap;
}

// The corner constraints hold on the curve: its positions, and no tangent component along a
// normal entry (relative to the tangent's length).
void ExpectConstraintsHold(const Bspline* c, const LinearConstraint* k) {
  for (int i = 0; i < k->nPos; ++i) {
    double p[3];
    RefEvalCurve(c, k->posPar[i], p);
    const double q[3] = {k->posX[i], k->posY[i], k->posZ[i]};
    EXPECT_LT(Dist(p, q), 1e-9) << i;
  }
  for (int i = 0; i < k->nNorm; ++i) {
    double d[3];
    RefEvalDeriv(c, k->normPar[i], 0.0, 1, 0, d);
    const double n[3] = {k->normX[i], k->normY[i], k->normZ[i]};
    EXPECT_LT(std::fabs(Dot(d, n)) / Len(d), 1e-9) << i;
  }
}

using WrapBoundary = KernelTest;

// Two patches of one plane meeting exactly: the averaged samples are the curve's own points,
// the corners its own ends and tangents, and a straight, evenly parametrised curve is already
// the smoothest one through them; the wrap must not move it. Only the fit's small order-0
// energy (0.001 against sample weights of 1 / Sigma) pulls at it, by about 1e-6 here; the
// corners are exact.
TEST_F(WrapBoundary, WrapOntoItsOwnSamplesDoesNotMoveAndFixedCurvesStay) {
  auto plane = [](double x, double y) { return 0.3 * x - 0.2 * y + 1.0; };
  Group g;
  BuildPair(g, kLayouts[0], plane, plane);
  ASSERT_TRUE(g.Prepare(0.05, 30.0));
  const ShrnkWrapParams opt = StitchOptions();
  for (int s = 0; s < 2; ++s) {
    const int side = s == 0 ? 3 : 1;
    const int c = CurveOf(g.bs, s, side);
    ASSERT_GE(c, 0);
    const std::vector<double> before = Net(g.srfs[s]);
    int reduced = -1;
    ASSERT_EQ(WrapBndrCrv3ToSamplePointNubVals(g.bs, c, &opt, &reduced), 0);
    EXPECT_EQ(reduced, 0);
    const std::vector<double> after = Net(g.srfs[s]);
    for (size_t k = 0; k < before.size(); ++k) EXPECT_NEAR(after[k], before[k], 1e-5) << k;
    const Bspline* W = g.bs->crvs[c].crv3;
    for (double t : {W->umin, W->umax}) {
      double p[3], q[3];
      RefEvalCurve(W, t, p);
      SidePoint(g.srfs[1 - s], s == 0 ? 1 : 3, t, q);
      EXPECT_LT(Dist(p, q), 1e-12);
    }
  }
  // Bad curve indices and fixed curves are left alone.
  int reduced = 0;
  for (BndrStruct* bs : {g.bs, (BndrStruct*)nullptr})
    for (int c : {-1, bs ? bs->nCrv : 0}) EXPECT_EQ(WrapBndrCrv3ToSamplePointNubVals(bs, c, &opt, &reduced), -2);
  const int c = CurveOf(g.bs, 0, 3);
  g.bs->crvs[c].fixed = 1;
  const std::vector<double> before = Net(g.srfs[0]);
  EXPECT_EQ(WrapBndrCrv3ToSamplePointNubVals(g.bs, c, &opt, &reduced), 0);
  EXPECT_EQ(WrapBndrCrv3ToSamplePoints(g.bs, c, 1, 1, &opt, &reduced), 0);
  EXPECT_EQ(Net(g.srfs[0]), before);
}

// Every side of B in both orientations: after the wrap the surface's side is the new curve,
// no control point off that side moved, and the corners hold exactly.
TEST_F(WrapBoundary, RowGoesToTheRightSideAndCornersHold) {
  for (const Layout& L : kLayouts) {
    Group g;
    BuildPair(g, L, Hill, [](double x, double y) { return Hill(x, y) + 0.01 + 0.01 * x * y; });
    ASSERT_TRUE(g.Prepare(0.05, 30.0));
    const EdgeInfoStruct* e = g.FirstPaired();
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->orient != 0, L.same) << L.sideB;
    const ShrnkWrapParams opt = StitchOptions();
    const double gap0 = SeamGap(g, L);
    EXPECT_GT(gap0, 0.01);
    for (int s = 0; s < 2; ++s) {
      const int side = s == 0 ? L.sideA : L.sideB;
      const int c = CurveOf(g.bs, s, side);
      ASSERT_GE(c, 0);
      LinearConstraint* k = AllocateNullLinearConstraint();
      ASSERT_EQ(SetBndrCrvWrapConstraint(g.bs, c, k), 0);
      // One edge: its end, then its start, each with two normal entries.
      EXPECT_TRUE(k->nPos == 2 && k->nNorm == 4);
      const std::vector<double> before = Net(g.srfs[s]);
      int reduced = -1;
      ASSERT_EQ(WrapBndrCrv3ToSamplePointNubVals(g.bs, c, &opt, &reduced), 0) << L.sideB << s;
      const Bspline* W = g.bs->crvs[c].crv3;
      EXPECT_LT(SideVsCurve(g.srfs[s], side, W), 1e-12) << "layout " << L.sideB << L.same;
      const std::vector<double> after = Net(g.srfs[s]);
      int off = 0, moved = 0;
      for (size_t i = 0; i < before.size(); ++i)
        if (before[i] != after[i]) ++(OnSideRow(g.srfs[s], side, static_cast<int>(i)) ? moved : off);
      EXPECT_EQ(off, 0);
      EXPECT_GT(moved, 0);
      ExpectConstraintsHold(W, k);
      FreeWrapConstraint(k);
    }
    EXPECT_LT(SeamGap(g, L), 0.2 * gap0) << L.sideB << L.same;
  }
}

// A curve with a corner inside (a T-junction) on a patch without interior knots: the
// basis-value wrap has to drop that corner, the general wrap with knot insertion keeps all
// three and passes the new knots on to the surface.
TEST_F(WrapBoundary, TooFewKnotsReduceOrInsert) {
  for (int insert = 0; insert < 2; ++insert) {
    Group g;
    g.srfs.push_back(Patch(Hill, 0, 1, 0, 2, 6, 4));
    for (int k = 0; k < 2; ++k)
      g.srfs.push_back(Patch([](double x, double y) { return Hill(x, y) + 0.01 * (1.0 + y); }, 1, 2, k, k + 1, 5, 5));
    ASSERT_TRUE(g.Prepare(0.05, 30.0));
    const int c = CurveOf(g.bs, 0, 3);
    ASSERT_GE(c, 0);
    ASSERT_EQ(g.bs->crvs[c].nEdge, 2);
    LinearConstraint* k = AllocateNullLinearConstraint();
    ASSERT_EQ(SetBndrCrvWrapConstraint(g.bs, c, k), 0);
    EXPECT_EQ(k->nPos, 3);
    const int interiorBefore = g.srfs[0]->interiorV;
    const ShrnkWrapParams opt = StitchOptions();
    int reduced = -1;
    ASSERT_EQ(WrapBndrCrv3ToSamplePoints(g.bs, c, insert, insert, &opt, &reduced), 0);
    Bspline* W = g.bs->crvs[c].crv3;
    EXPECT_LT(SideVsCurve(g.srfs[0], 3, W), 1e-12);
    EXPECT_EQ(reduced, 1 - insert);
    EXPECT_EQ(g.srfs[0]->interiorV > interiorBefore, insert == 1);
    if (!insert) {  // the corners the reduction kept still hold
      ASSERT_EQ(ReduceWrapConstraint(W, k), 0);
      EXPECT_TRUE(k->nPos == 2 && k->nNorm == 4);
    }
    ExpectConstraintsHold(W, k);
    k->nNorm = 3;  // reduction needs two normal entries per position entry
    EXPECT_EQ(ReduceWrapConstraint(W, k), -2);
    FreeWrapConstraint(k);
  }
}

// A quadratic side holds the tangent direction at both of its corners (the direction at an end
// rests on the control point next to it) once it has four control points; with three, the one
// inner point cannot carry both directions, and the reduction keeps the second corner's
// position without its normals, so the side still ends at its corners instead of drifting
// with the samples.
TEST_F(WrapBoundary, QuadraticSideKeepsItsCornersAndWhatTangentsItCan) {
  for (int nv : {6, 3}) {
    SCOPED_TRACE(nv);
    Group g;
    g.srfs.push_back(BuildFunctionPatch(Hill, {.degreeV = 2, .nu = 6, .nv = nv}));
    g.srfs.push_back(Patch([](double x, double y) { return Hill(x, y) + 0.004 + 0.006 * y; }, 1, 2, 0, 1));
    ASSERT_TRUE(g.Prepare(0.05, 30.0));
    const int c = CurveOf(g.bs, 0, 3);
    ASSERT_GE(c, 0);
    LinearConstraint* k = AllocateNullLinearConstraint();
    ASSERT_EQ(SetBndrCrvWrapConstraint(g.bs, c, k), 0);
    ASSERT_EQ(k->nPos, 2);
    ASSERT_EQ(k->nNorm, 4);
    Bspline* before = g.Add(CopyBsplineStruct(g.bs->crvs[c].crv3));
    ASSERT_EQ(ReduceWrapConstraint(before, k), 0);
    EXPECT_EQ(k->nPos, 2);
    EXPECT_EQ(k->nNorm, nv == 6 ? 4 : 2);

    const ShrnkWrapParams opt = StitchOptions();
    int reduced = 0;
    ASSERT_EQ(WrapBndrCrv3ToSamplePointNubVals(g.bs, c, &opt, &reduced), 0);
    EXPECT_EQ(reduced, nv == 6 ? 0 : 1);
    const Bspline* W = g.bs->crvs[c].crv3;
    EXPECT_GT(SideVsCurve(g.srfs[0], 3, before), 1e-4);  // it did move towards B
    EXPECT_LT(SideVsCurve(g.srfs[0], 3, W), 1e-12);
    ExpectConstraintsHold(W, k);
    FreeWrapConstraint(k);
  }
}

TEST_F(WrapBoundary, FailedWrapLeavesSurfaceAndCurveForm) {
  Group g;
  BuildPair(g, kLayouts[3], Hill, [](double x, double y) { return Hill(x, y) + 0.02; });
  ASSERT_TRUE(g.Prepare(0.05, 30.0));
  const ShrnkWrapParams opt = StitchOptions();
  const int c = CurveOf(g.bs, 1, 3);
  ASSERT_GE(c, 0);
  int reduced = 0;
  const int failures = FailUntilSuccess([&] { return WrapBndrCrv3ToSamplePointNubVals(g.bs, c, &opt, &reduced); },
                                        [&] { return std::make_pair(Net(g.srfs[1]), g.bs->crvs[c].crv3); });
  EXPECT_GT(failures, 5);
}

}  // namespace
