// Parameter boxes of curves on a surface and the control-point size of objects.
#include <algorithm>
#include <cmath>
#include <vector>

#include "bspline/crvlist.h"
#include "bspline/sfree.h"
#include "surface/srfutils.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class ExtentTest : public KernelTest {};

// The box of the curve's points at the documented samples, from the reference evaluator.
void RefBox(const Bspline* c, double box[4]) {
  box[0] = box[2] = 1e300;
  box[1] = box[3] = -1e300;
  std::vector<double> ts;
  const double* k = c->knotsU;
  for (int s = c->degreeU; s <= c->degreeU + c->interiorU; ++s)
    for (int j = 0; j < 5; ++j) ts.push_back(k[s] + 0.2 * j * (k[s + 1] - k[s]));
  ts.push_back(k[NumCtrlU(c)]);
  for (double t : ts) {
    double p[3];
    RefEvalCurve(c, t, p);
    box[0] = std::min(box[0], p[0]), box[1] = std::max(box[1], p[0]);
    box[2] = std::min(box[2], p[1]), box[3] = std::max(box[3], p[1]);
  }
}

TEST_F(ExtentTest, CurveBoxIsTheBoxOfItsSamples) {
  for (unsigned seed = 1; seed <= 12; ++seed) {
    Bspline* c = BuildRandomCurve(seed, 1 + seed % 4, 6 + seed % 3, 2, seed % 2 == 0);
    double box[4], ref[4];
    EXPECT_EQ(GetCurveOnSurfMinMaxSurfParams(c, &box[0], &box[1], &box[2], &box[3]), 0);
    RefBox(c, ref);
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(box[i], ref[i], 1e-12) << seed;
    FreeBspline(c);
  }
}

TEST_F(ExtentTest, ListBoxIsClippedToTheOwnerDomain) {
  Bspline* s = BuildFunctionPatch([](double x, double y) { return x + y; });
  BuildCurveOnSurface(s, 1, {-0.5, 0.25, 0.5, 0.5});
  BuildCurveOnSurface(s, 1, {0.2, 0.1, 0.75, 0.3});
  double u0 = 7, u1 = 7, v0 = 7, v1 = 7;
  GetCurveListExtremes(s->curves, &u0, &u1, &v0, &v1);
  EXPECT_EQ(u0, 0.0);  // raised to the domain
  EXPECT_DOUBLE_EQ(u1, 0.75);
  EXPECT_DOUBLE_EQ(v0, 0.1);
  EXPECT_DOUBLE_EQ(v1, 0.5);

  // Curves without an owner: the unclipped box, and no crash.
  Bspline* loose = BuildCurve(1, 2, {-2, 0, 3, 1});
  BsplineList node{nullptr, loose};
  GetCurveListExtremes(&node, &u0, &u1, &v0, &v1);
  EXPECT_DOUBLE_EQ(u0, -2.0);
  EXPECT_DOUBLE_EQ(u1, 3.0);
  GetCurveListExtremes(nullptr, &u0, &u1, &v0, &v1);
  EXPECT_DOUBLE_EQ(u0, -2.0);
  FreeBspline(loose);
  FreeBspline(s);
}

TEST_F(ExtentTest, DiagonalOfControlPoints) {
  Bspline* c3 = BuildCurve(2, 3, {0, 0, 0, 1, 5, 2, 3, 4, 6});
  EXPECT_DOUBLE_EQ(GetGeometricDiagonalSizeOfObj(c3), std::sqrt(9.0 + 25.0 + 36.0));
  Bspline* c2 = BuildCurve(1, 2, {0.25, 0.5, 1.0, 0.0});
  double x0, x1, y0, y1, z0, z1;
  GetCPTValueExtent(c2, &x0, &x1, &y0, &y1, &z0, &z1);
  EXPECT_TRUE(x0 == 0.25 && x1 == 1.0 && y0 == 0.0 && y1 == 0.5 && z0 == 0.0 && z1 == 0.0);

  // On a surface the control points are read as parameters and mapped onto it.
  Bspline* s = BuildFunctionPatch([](double x, double y) { return x * x - y; });
  PutBsplToSurfCrvList(c2, s);
  GetCPTValueExtent(c2, &x0, &x1, &y0, &y1, &z0, &z1);
  double p[3], q[3];
  RefEvalSurface(s, 0.25, 0.5, p);
  RefEvalSurface(s, 1.0, 0.0, q);
  EXPECT_NEAR(x0, std::min(p[0], q[0]), 1e-12);
  EXPECT_NEAR(z1, std::max(p[2], q[2]), 1e-12);
  FreeBspline(s);  // frees c2 with it
  FreeBspline(c3);
}

}  // namespace
