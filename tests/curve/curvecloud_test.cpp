// Curve-to-cloud difference: points set at known distances across known curves, some placed by
// transforms, are matched with the nearest curve in its own frame at every scale; the cut-off,
// ties, an empty cloud and a user break.
#include <cmath>
#include <random>
#include <vector>

#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "cloud/makecld.h"
#include "curve/crverr.h"
#include "foundation/cloudrec.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "platform/tstubs.h"
#include "tests/support/builders.h"
#include "tests/support/checks.h"
#include "tests/support/kernel_fixture.h"

namespace {

class CurveCloudTest : public KernelTest {};

struct Result {
  std::vector<float> px, py, pz, cx, cy, cz, tx, ty, tz, t, d;
  std::vector<int> index, curve;
  int count = -1;
  explicit Result(size_t n)
      : px(n), py(n), pz(n), cx(n), cy(n), cz(n), tx(n), ty(n), tz(n), t(n), d(n), index(n), curve(n) {}
  int Run(Bspline** c, int n, const Xform* xf, Cloud* cloud, double maxDist) {
    return CurveToCloudDifference(c, n, xf, cloud, maxDist, &count, px.data(), py.data(), pz.data(),
                                  index.data(), cx.data(), cy.data(), cz.data(), curve.data(),
                                  tx.data(), ty.data(), tz.data(), t.data(), d.data());
  }
};

TEST_F(CurveCloudTest, NearestCurveInItsOwnFrameAtEveryScale) {
  for (double s : {1e-6, 1.0, 1e6}) {
    // A gently bent planar cubic in z = 0, and its copy placed by a quarter turn about x and a
    // shift: points across each, at distance h in the plane's normal direction (along z).
    Bspline* c = BuildCurve(3, 3, {0, 0, 0, s, 0.3 * s, 0, 2 * s, -0.2 * s, 0, 3 * s, 0.1 * s, 0});
    Bspline* curves[2] = {c, c};
    Xform xf[2];
    Get_imat(xf[0]);
    Get_imat(xf[1]);
    xf[1][5] = 0, xf[1][6] = 1, xf[1][9] = -1, xf[1][10] = 0;
    xf[1][13] = 5 * s;
    std::mt19937 rng(4);
    std::vector<float> x, y, z;
    std::vector<double> ts, hs;
    for (int i = 0; i < 40; ++i) {
      const double t = Uniform(rng, 0.05, 0.95), h = Uniform(rng, -0.1, 0.1) * s;
      double p[3];
      Eval3DPointOnCurve3Array(c, t, 0, p);
      p[2] += h;
      if (i % 2) VecTrans3(p, xf[1], p);
      x.push_back(float(p[0])), y.push_back(float(p[1])), z.push_back(float(p[2]));
      ts.push_back(t), hs.push_back(h);
    }
    Cloud* cloud = MakeCld(x.data(), y.data(), z.data(), 40, nullptr);
    Result r(40);
    ASSERT_EQ(r.Run(curves, 2, xf, cloud, s), 1) << s;
    ASSERT_EQ(r.count, 40);
    for (int k = 0; k < 40; ++k) {
      const int i = r.index[k];
      EXPECT_EQ(r.curve[k], i % 2) << s << " " << i;
      EXPECT_NEAR(r.d[k], std::fabs(hs[i]), 1e-5 * s);
      EXPECT_NEAR(r.t[k], ts[i], 1e-5);
      double want[3], tan[3];
      Eval3DPointOnCurve3Array(c, ts[i], 0, want);
      const double closest[3] = {r.cx[k], r.cy[k], r.cz[k]};
      ExpectNear3(closest, want, 1e-5 * s);
      want[2] += hs[i];  // the point as the matched copy's own frame sees it
      const double p[3] = {r.px[k], r.py[k], r.pz[k]};
      ExpectNear3(p, want, 1e-5 * s);
      Eval3DPointOnCurve3Array(c, ts[i], 1, tan);
      const double len = VecSize3(tan), got[3] = {r.tx[k], r.ty[k], r.tz[k]};
      for (double& a : tan) a /= len;
      ExpectNear3(got, tan, 1e-5);
    }
    // A cut-off below the largest distance drops the points beyond it.
    ASSERT_EQ(r.Run(curves, 2, xf, cloud, 0.05 * s), 1);
    int within = 0;
    for (double h : hs) within += std::fabs(h) <= 0.05 * s;
    EXPECT_NEAR(r.count, within, 1);
    FreeCloud(cloud);
    FreeBspline(c);
  }
}

TEST_F(CurveCloudTest, CutOffTiesCurvesOnSurfacesAndBreaks) {
  Bspline* line = BuildCurve(1, 3, {0, 0, 0, 1, 0, 0});
  const float x[2] = {0.5f, 0.25f}, y[2] = {0, 0}, z[2] = {0.5f, 0};
  Cloud* cloud = MakeCld(x, y, z, 2, nullptr);
  Bspline* twice[2] = {line, line};
  Result r(2);
  // Exactly at the cut-off is kept; equal distances report the earlier curve.
  ASSERT_EQ(r.Run(twice, 2, nullptr, cloud, 0.5), 1);
  EXPECT_EQ(r.count, 2);
  EXPECT_EQ(r.curve[0], 0);
  EXPECT_EQ(r.d[0], 0.5f);
  ASSERT_EQ(r.Run(twice, 2, nullptr, cloud, 0.4999), 1);
  EXPECT_EQ(r.count, 1);
  EXPECT_EQ(r.index[0], 1);
  // A curve on a surface is measured in space through its surface.
  Bspline* patch = BuildFunctionPatch([](double px, double py) { return 0.2 * px * py; });
  Bspline* onSurface = BuildCurveOnSurface(patch, 1, {0.1, 0.5, 0.9, 0.5});
  double q[3];
  Eval3DPointOnBsplOnSurfArray(nullptr, onSurface, 0.5, 0, 0, q);
  const float qx = float(q[0]), qy = float(q[1]), qz = float(q[2] + 0.01);
  Cloud* one = MakeCld(&qx, &qy, &qz, 1, nullptr);
  Bspline* list[1] = {onSurface};
  Result s(1);
  ASSERT_EQ(s.Run(list, 1, nullptr, one, 1.0), 1);
  // The curve is the straight line z = 0.1 x there: the lift of 0.01 leans from its normal.
  EXPECT_NEAR(s.d[0], 0.01 / std::sqrt(1.01), 1e-7);
  EXPECT_NEAR(s.t[0], 0.5 + 0.01 * 0.1 / 1.01 / 0.8, 1e-6);
  // An empty cloud: thermometer shown and closed, nothing kept.
  Cloud* empty = MallocNullCloud();
  EXPECT_EQ(r.Run(twice, 2, nullptr, empty, 1.0), 0);
  EXPECT_EQ(r.count, 0);
  EXPECT_EQ(StubGetThermometer().open, 0);
  // A user break: 0, thermometer closed, the scope freed.
  StubBreakAfterPolls(2);
  EXPECT_EQ(r.Run(twice, 2, nullptr, cloud, 1.0), 0);
  EXPECT_EQ(StubGetThermometer().open, 0);
  EXPECT_EQ(MallocTrackedCount(), 0);
  StubReset();
  // A surface is no curve to measure against.
  Bspline* wrong[1] = {patch};
  EXPECT_EQ(r.Run(wrong, 1, nullptr, cloud, 1.0), 0);
  FreeCloud(empty);
  FreeCloud(one);
  FreeCloud(cloud);
  FreeBspline(patch);
  FreeBspline(line);
}

}  // namespace
