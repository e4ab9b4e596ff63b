// Isoparametric curves are the surface along the line, exactly and without touching the
// surface; closure flags follow the control points.
#include <cmath>
#include <vector>

#include "bspline/sfree.h"
#include "surface/bnd2crv.h"
#include "surface/startpnt.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"
#include "tests/surface/recordviews.h"

namespace {

class IsoparTest : public KernelTest {};

// Makes the curve at u (dir 1) or v (dir 0) = `given` and checks it against the surface along
// the line at `meant`. False when the curve could not be made.
bool ExpectIsoCurve(Bspline* s, double given, double meant, int dir) {
  Bspline* c = MakeIsoparCurve3(s, dir ? given : 0.3, dir ? 0.9 : given, dir);
  if (!c) return false;
  EXPECT_EQ(c->rational, s->rational);
  EXPECT_EQ(c->umax, dir ? s->vmax : s->umax);
  for (int i = 0; i <= 20; ++i) {
    const double t = c->umin + (c->umax - c->umin) * i / 20.0;
    double p[3], q[3];
    RefEvalCurve(c, t, p);
    RefEvalSurface(s, dir ? meant : t, dir ? t : meant, q);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(p[k], q[k], 1e-11 * RefScale(s)) << meant << " " << t;
  }
  for (int j = 0; dir && meant == s->umin && j < NumCtrlV(s); ++j)  // a side is the boundary column exactly
    EXPECT_EQ(c->Y[0][j], s->Y[j][0]);
  FreeBspline(c);
  return true;
}

TEST_F(IsoparTest, CurvesFollowTheSurfaceOnSidesAndInside) {
  for (bool rational : {false, true}) {
    const PatchOptions o{.degreeV = 2, .nu = 7, .umin = -1.0, .umax = 2.0, .vmin = 0.5, .vmax = 1.5,
                         .layout = KnotLayout::Random, .rational = rational};
    Bspline* s = BuildFunctionPatch([](double x, double y) { return std::cos(2 * x) + x * y; }, o);
    const std::vector<double> before = Snapshot(s);
    // {given, meant, dir}: sides (one a hair inside, one beyond the domain), interior lines, a
    // knot, and values a hair beside a knot, which count as the knot (closer than 1e-6 of the
    // range).
    const double lines[][3] = {{-1.0 + 2e-6, -1.0, 1}, {7.0, 2.0, 1}, {1.37, 1.37, 1},
                               {s->knotsU[4], s->knotsU[4], 1}, {s->knotsU[5] + 1e-6, s->knotsU[5], 1},
                               {1.5, 1.5, 0}, {0.77, 0.77, 0}, {s->knotsV[3] - 5e-7, s->knotsV[3], 0}};
    for (const auto& l : lines) EXPECT_TRUE(ExpectIsoCurve(s, l[0], l[1], int(l[2])));
    const int failures = RunWithInjectedFailures(100, 1, [&] {
      const bool made = ExpectIsoCurve(s, 0.43, 0.43, 1);
      EXPECT_TRUE(made || KernelFailedNow());
      return made ? 0 : -2;
    });
    EXPECT_TRUE(failures > 3 && failures < 100) << failures;
    EXPECT_EQ(Snapshot(s), before);
    FreeBspline(s);
  }
}

}  // namespace
