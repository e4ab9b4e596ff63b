// Derivative curves of boundary curves: 3D curves give copies and no derivatives; an iso curve
// on a surface, whichever way it runs and on whatever range, gives the unit cross derivative
// on its own range, turned toward its guide; the owner's degree across a curve.
#include <cmath>

#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "foundation/umalloc.h"
#include "stitch/userdef.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class BoundaryDerivatives : public KernelTest {};

TEST_F(BoundaryDerivatives, IsoCurvesGiveUnitCrossDerivativesOnTheirOwnRange) {
  BsplineKeeper keep;
  PatchOptions o;
  o.degreeU = 3, o.degreeV = 2, o.nu = 6, o.nv = 5, o.layout = KnotLayout::Random;
  Bspline* s = keep(BuildFunctionPatch([](double x, double y) { return std::sin(x) * std::cos(y); }, o));
  // u = 0.3 from v = 0.9 down to v = 0.1 on the range [2, 5]; the guide lies toward smaller u.
  Bspline* iso = BuildCurveOnSurface(s, 1, {0.3, 0.9, 0.3, 0.1}, {2, 2, 5, 5});
  Bspline* guide = BuildCurveOnSurface(s, 1, {0.05, 0.9, 0.05, 0.1});
  Bspline* line3 = keep(BuildRandomCurve(3, 3, 5));
  Bspline* curves[2] = {iso, line3};
  Bspline* guides[2] = {guide, nullptr};
  for (const int order : {0, 1, 2}) {
    Bspline** d = CreateDerivativeCurves(curves, guides, nullptr, nullptr, 1, 0.0, -1, order, 2, 1,
                                         nullptr, 0, 3);
    ASSERT_NE(d, nullptr) << order;
    ASSERT_NE(d[0], nullptr);
    EXPECT_EQ(d[0]->umin, 2.0);
    EXPECT_EQ(d[0]->umax, 5.0);
    EXPECT_EQ(d[1] != nullptr, order == 0);
    for (double t = 2.0; t <= 5.0; t += 0.5) {
      double got[3], uv[2], want[3];
      RefEvalCurve(d[0], t, got);
      Eval2DPointOnCurve2Array(nullptr, iso, t, 0, uv);
      if (order == 0) {
        RefEvalSurface(s, uv[0], uv[1], want);
        EXPECT_LT(std::hypot(got[0] - want[0], got[1] - want[1], got[2] - want[2]), 1e-9);
      } else if (order == 1) {
        // -Su, made unit at the control points: along a line of x-linear Su it stays parallel.
        RefEvalDeriv(s, uv[0], uv[1], 1, 0, want);
        const double len = std::hypot(got[0], got[1], got[2]);
        const double dot = got[0] * want[0] + got[1] * want[1] + got[2] * want[2];
        EXPECT_LT(dot, 0.0);
        EXPECT_GT(-dot / (len * std::hypot(want[0], want[1], want[2])), 0.99);
      }
    }
    FreeBspline(d[0]);
    FreeBspline(d[1]);
    Free(d);
  }
  EXPECT_EQ(GetCrossDegreeOfCurveOnSurf(iso), 3);  // runs in v: the u degree across
  Bspline* alongU = BuildCurveOnSurface(s, 1, {0.1, 0.5, 0.8, 0.5});
  EXPECT_EQ(GetCrossDegreeOfCurveOnSurf(alongU), 2);
  EXPECT_EQ(GetCrossDegreeOfCurveOnSurf(line3), -2);
}

TEST_F(BoundaryDerivatives, LoopsAreSnippedAndThreeDCurvesYieldToCurvesOnSurfaces) {
  BsplineKeeper keep;
  PatchOptions o;
  o.x0 = -1.0, o.x1 = 0.0;
  Bspline* s = keep(BuildFunctionPatch([](double x, double y) { return 0.5 * x * y - y; }, o));
  // On the patch: x = 0 from y = 0 up to y = 1 (u = 1); then three 3D lines round the square,
  // the last one ending a little off the loop's start.
  Bspline* onSrf = BuildCurveOnSurface(s, 1, {1, 0, 1, 1});
  auto line = [&](double ax, double ay, double az, double bx, double by, double bz) {
    return keep(BuildCurve(1, 3, {ax, ay, az, bx, by, bz}));
  };
  Bspline* loop[4] = {onSrf, line(0, 1, -1, 1, 1, 0), line(1, 1, 0, 1, 0, 0), line(1, 0, 0, 0.01, 0, 0.02)};
  int iso[4] = {1, -1, -1, -1};
  double *starts = nullptr, *ends = nullptr;
  Bspline** pos = GetAllClockWiseSnippedPosCrvLoop(loop, 4, iso, 0.0, -1, &starts, &ends);
  ASSERT_NE(pos, nullptr);
  for (int i = 0; i < 3; ++i) {
    EXPECT_NEAR(starts[i], loop[i]->umin, 1e-9) << i;
    EXPECT_NEAR(ends[i], loop[i]->umax, 1e-9) << i;
  }
  // The 3D line's end moved onto the curve on the surface, which kept its start (0, 0, 0).
  const Bspline* last = pos[3];
  EXPECT_EQ(last->X[0][NumCtrlU(last) - 1], pos[0]->X[0][0]);
  EXPECT_EQ(last->Z[0][NumCtrlU(last) - 1], pos[0]->Z[0][0]);
  EXPECT_NEAR(pos[0]->X[0][0], 0.0, 1e-12);
  EXPECT_NEAR(pos[0]->Z[0][0], 0.0, 1e-12);
  Bspline** snips = GetAllClockWiseSnippedCrvOnSrf(loop, 4, iso, starts, ends);
  ASSERT_NE(snips, nullptr);
  EXPECT_EQ(snips[0]->owner, s);
  FreeDerivBsplineArrays(snips, nullptr, nullptr, 4);
  FreeDerivBsplineArrays(pos, nullptr, nullptr, 4);
  Free(starts), Free(ends);
  // Flagged iso while its ends differ in both u and v: no running direction, a null entry.
  Bspline* diagonal = BuildCurveOnSurface(s, 1, {0.1, 0.1, 0.9, 0.8});
  Bspline** d = CreateDerivativeCurves(&diagonal, nullptr, nullptr, nullptr, 0, 0.0, -1, 0, 1, 1,
                                       nullptr, 0, 3);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d[0], nullptr);
  FreeDerivBsplineArrays(d, nullptr, nullptr, 1);
}

}  // namespace
