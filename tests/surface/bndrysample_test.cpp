// Boundary samples walk the domain counter-clockwise (positive signed area) with n - 1 points
// per side; parameter arrays per span stay within the caller's sizes; side lengths of control
// polygons; midpoints, a parameter inside, reversal of a curve list.
#include <cmath>
#include <vector>

#include "bspline/sfree.h"
#include "stitch/vcnobj.h"
#include "surface/srfutils.h"
#include "tests/bspline/trimloops.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"
#include "tests/surface/recordviews.h"

namespace {

class BndrySample : public KernelTest {};

TEST_F(BndrySample, WalksCounterClockwiseWithNMinusOnePointsPerSide) {
  PatchOptions o;
  o.umin = 1;
  o.umax = 3;
  o.vmin = 5;
  o.vmax = 9;
  Bspline* s = BuildFunctionPatch([](double x, double y) { return x * y; }, o);
  double *u = nullptr, *v = nullptr;
  int count = 0;
  ASSERT_EQ(SampleSurfaceBndry(s, 2, &u, &v, &count), 0);
  EXPECT_EQ(count, 5);
  EXPECT_EQ(std::vector<double>(u, u + 5), (std::vector<double>{1, 3, 3, 1, 1}));
  EXPECT_EQ(std::vector<double>(v, v + 5), (std::vector<double>{5, 5, 9, 9, 5}));
  Free(u);
  Free(v);
  for (int n : {3, 7}) {
    ASSERT_EQ(SampleSurfaceBndry(s, n, &u, &v, &count), 0);
    ASSERT_EQ(count, 4 * n - 3);
    double area = 0.0;
    int onSide[4] = {};
    for (int i = 0; i + 1 < count; ++i) {
      area += u[i] * v[i + 1] - u[i + 1] * v[i];
      onSide[v[i] == 5 && u[i] < 3 ? 0 : u[i] == 3 && v[i] < 9 ? 1 : v[i] == 9 && u[i] > 1 ? 2 : 3]++;
    }
    EXPECT_NEAR(0.5 * area, 8.0, 1e-12);
    for (int k : onSide) EXPECT_EQ(k, n - 1);
    EXPECT_EQ(u[count - 1], 1.0);
    EXPECT_EQ(v[count - 1], 5.0);
    Free(u);
    Free(v);
  }
  // Mended: n below 1 is refused instead of sizing a negative count; n = 1 is the corner.
  EXPECT_EQ(SampleSurfaceBndry(s, 0, &u, &v, &count), -2);
  EXPECT_EQ(SampleSurfaceBndry(s, -3, &u, &v, &count), -2);
  ASSERT_EQ(SampleSurfaceBndry(s, 1, &u, &v, &count), 0);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(u[0], 1.0);
  EXPECT_EQ(v[0], 5.0);
  Free(u);
  Free(v);
  FreeBspline(s);
}

TEST_F(BndrySample, ParameterArraysStayInTheCallersSizes) {
  PatchOptions o;
  o.umax = 2;
  Bspline* s = BuildFunctionPatch([](double, double) { return 0.0; }, o);  // 3 spans in u, 2 in v
  std::vector<double> u(3), v(3);
  ComputeParamArraysForEval(s, 1, 0, 0, u.data(), v.data(), 3, 3);
  EXPECT_EQ(u, (std::vector<double>{0, 1, 2}));
  EXPECT_EQ(v, (std::vector<double>{0, 0.5, 1}));
  // Mode 0: 2 per span gives 3 * 2 + 1 values in u; an array short of that is filled, not
  // overrun (mended), and ends at the domain end.
  std::vector<double> uf(7, -1), vf(5, -1);
  ComputeParamArraysForEval(s, 0, 2, 2, uf.data(), vf.data(), 7, 5);
  for (int i = 0; i < 6; ++i) EXPECT_NEAR(uf[i], i / 3.0, 1e-12);
  EXPECT_EQ(uf[6], 2.0);
  EXPECT_EQ(vf[4], 1.0);
  EXPECT_NEAR(vf[1], 0.25, 1e-12);
  std::vector<double> shortU(4 + 1, -7), shortV(2 + 1, -7);
  ComputeParamArraysForEval(s, 0, 2, 2, shortU.data(), shortV.data(), 4, 2);
  EXPECT_EQ(shortU[4], -7);  // the guard slot stays
  EXPECT_EQ(shortV[2], -7);
  EXPECT_EQ(shortU[3], 2.0);
  std::vector<double> untouched(3, -7);
  ComputeParamArraysForEval(s, 5, 2, 2, untouched.data(), untouched.data(), 3, 3);
  EXPECT_EQ(untouched, std::vector<double>(3, -7));
  FreeBspline(s);
}

TEST_F(BndrySample, SideLengthsMidpointsAndAnInsidePoint) {
  PatchOptions o;
  o.x1 = 4;
  o.y1 = 2;
  Bspline* s = BuildFunctionPatch([](double, double) { return 0.0; }, o);
  // Collinear control points along each side: the polygon is as long as the side.
  EXPECT_NEAR(EstLenSurfEdge(s, 0), 2.0, 1e-12);
  EXPECT_NEAR(EstLenSurfEdge(s, 1), 4.0, 1e-12);
  EXPECT_NEAR(EstLenSurfEdge(s, 2), 2.0, 1e-12);
  EXPECT_NEAR(EstLenSurfEdge(s, 3), 4.0, 1e-12);
  EXPECT_EQ(EstLenSurfEdge(s, 4), 0.0);  // mended: no side 4 to read past
  EXPECT_EQ(EstLenSurfEdge(s, -1), 0.0);
  double p[4][3];
  GetSurfBoundaryMidPoints(s, p[0], p[1], p[2], p[3]);
  const double expect[4][2] = {{0, 1}, {2, 2}, {4, 1}, {2, 0}};
  for (int k = 0; k < 4; ++k) {
    EXPECT_NEAR(p[k][0], expect[k][0], 1e-12);
    EXPECT_NEAR(p[k][1], expect[k][1], 1e-12);
  }
  double u, v;
  EXPECT_EQ(GetSurfArbitraryParamVal(s, &u, &v), 0);
  EXPECT_EQ(u, 0.5);
  EXPECT_EQ(v, 0.5);
  std::vector<double> box = {0.1, 0.2, 0.3, 0.2, 0.3, 0.6, 0.1, 0.2};
  Bspline* c = BuildCurveOnSurface(s, 1, box);
  AddLoop(s, {c}, 1);  // a hole alone: no outer loop
  GetSurfArbitraryParamVal(s, &u, &v);
  EXPECT_EQ(u, 0.5);
  s->trims->hole = 0;
  GetSurfArbitraryParamVal(s, &u, &v);
  EXPECT_NEAR(u, 0.2, 1e-12);
  EXPECT_NEAR(v, 0.4, 1e-12);
  FreeBspline(s);
}

TEST_F(BndrySample, CurveListReversedInPlace) {
  Bspline* s = BuildFunctionPatch([](double, double) { return 0.0; });
  std::vector<Bspline*> cs;
  for (int k = 0; k < 5; ++k) cs.push_back(BuildCurveOnSurface(s, 1, {0.1 * k, 0.1, 0.1 * k, 0.9}));
  TrimList* loop = AddLoop(s, cs);
  const BsplineList* head = loop->loopCurves;
  ReverseTrimOrder(loop->loopCurves);
  EXPECT_EQ(loop->loopCurves, head);
  EXPECT_EQ(LoopItems(loop), (std::vector<Bspline*>{cs[4], cs[3], cs[2], cs[1], cs[0]}));
  ReverseTrimOrder(nullptr);
  FreeBspline(s);
}

TEST_F(BndrySample, BoundaryDirectionsAndTangentScaling) {
  Bspline* s = BuildFunctionPatch([](double x, double y) { return x + y * y; });
  Bspline* r = BuildFunctionPatch([](double x, double y) { return x + y * y; });
  Bspline* pair[2] = {s, r};
  EXPECT_EQ(CheckBsplDirRelToBspl(pair, nullptr), 0);
  const int opposite[2] = {1, 3};  // v-max and v-min run the same way in u
  EXPECT_EQ(CheckBsplDirRelToBspl(pair, opposite), 0);
  ReverseObj(r, 1);  // side 0 now runs down in v
  EXPECT_EQ(CheckBsplDirRelToBspl(pair, nullptr), 1);
  Bspline* none[2] = {s, nullptr};
  EXPECT_EQ(CheckBsplDirRelToBspl(none, nullptr), 0);
  // Scaling the tangent rows by f then 1 / f gives the surface back; the boundary rows stay.
  const std::vector<double> before = Snapshot(s);
  for (int flag : {0, 1}) {
    ScaleControlPointsInTanDir(s, 2.5, flag);
    const int edge = flag ? 0 : NumCtrlV(s) - 1, next = flag ? 1 : NumCtrlV(s) - 2;
    const size_t zAt = before.size() - NumCtrlU(s) * NumCtrlV(s);  // Z follows X and Y
    for (int i = 0; i < NumCtrlU(s); ++i) {
      EXPECT_EQ(s->Z[edge][i], before[zAt + edge * NumCtrlU(s) + i]);
      EXPECT_NEAR(s->Z[next][i] - s->Z[edge][i],
                  2.5 * (before[zAt + next * NumCtrlU(s) + i] - before[zAt + edge * NumCtrlU(s) + i]), 1e-12);
    }
    ScaleControlPointsInTanDir(s, 1 / 2.5, flag);
    const std::vector<double> after = Snapshot(s);
    for (size_t i = 0; i < before.size(); ++i) EXPECT_NEAR(after[i], before[i], 1e-12);
  }
  FreeBspline(s);
  FreeBspline(r);
}

}  // namespace
