// Stitching along part of a boundary: the section is cut out, stitched and (for both surfaces)
// joined back. Patches over x, y rectangles have x linear in u and y in v, so a point's y tells
// where on the partner's boundary it belongs.
#include <cmath>
#include <vector>

#include "bspline/sfree.h"
#include "stitch/srfstitc.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class PartialStitchTest : public KernelTest {};

StitchInfo Info(int continuity, int positionSide) {
  StitchInfo s{};
  s.continuity = continuity;
  s.positionSide = positionSide;
  s.derivativeSide = positionSide == 1 ? 0 : 2;
  s.vcnEnds = 3;
  s.rangeFraction1 = s.rangeFraction2 = -1.0;
  s.derivScale1 = s.derivScale2 = s.vcnWeight = 1.0;
  return s;
}

// They meet along x = 1 (bilinear, so the patches reproduce them exactly) with a kink there.
double F1(double x, double y) { return 0.2 * (x - 1) * y - 0.1 * y; }
double F2(double x, double y) { return 0.3 * (x - 1) - 0.1 * y; }

// The left patch over x in [0, 1], y in [y0, y1]; the right over x in [1, 2], y in [0, 1] with a
// knot line at v = 0.5.
Bspline* Left(double y0, double y1) {
  PatchOptions o;
  o.y0 = y0;
  o.y1 = y1;
  return BuildFunctionPatch(F1, o);
}
Bspline* Right() {
  PatchOptions o;
  o.x0 = 1.0;
  o.x1 = 2.0;
  o.nv = 5;  // uniform cubic in v: one interior knot at 0.5
  return BuildFunctionPatch(F2, o);
}

// Largest distance between s's boundary at u = umax and the partner's boundary u = 0 at the
// same y.
double GapToRight(const Bspline* s, const Bspline* right) {
  double worst = 0.0;
  for (int i = 0; i <= 20; ++i) {
    const double v = s->vmin + (s->vmax - s->vmin) * i / 20.0;
    double p[3], q[3];
    RefEvalSurface(s, s->umax, v, p);
    RefEvalSurface(right, 0.0, p[1], q);
    worst = std::fmax(worst, std::hypot(p[0] - q[0], p[1] - q[1], p[2] - q[2]));
  }
  return worst;
}

// The first surface covers y in [0.25, 0.75] of the second's boundary: stitched onto that
// section (by fractions in either order, or by projection) it takes the second's boundary
// there, and the second is untouched. Fractions 0 and 1 need no cut: the whole boundary.
TEST_F(PartialStitchTest, SectionOfTheSecondsBoundaryIsMet) {
  struct Row {
    int mode;
    double a, b, y0, y1;
  };
  const std::vector<Row> rows = {{2, 0.25, 0.75, 0.25, 0.75},
                                 {2, 0.75, 0.25, 0.25, 0.75},
                                 {2, 0.0, 1.0, 0.0, 1.0},
                                 {1, 0.0, 0.0, 0.25, 0.75},
                                 {1, 0.0, 0.0, 0.0, 1.0},
                                 {2, 0.5 + 1e-8, 1.0, 0.5, 1.0}};  // snapped onto the knot 0.5
  for (const Row& r : rows) {
    SCOPED_TRACE(r.mode * 1000 + r.a * 100 + r.b * 10);
    BsplineKeeper keep;
    Bspline* s1 = keep(Left(r.y0, r.y1));
    Bspline* s2 = keep(Right());
    double before[3];
    RefEvalSurface(s2, 0.3, 0.7, before);
    Bspline* objs[3] = {s1, s2, nullptr};
    int bndry[2] = {2, 0};
    StitchInfo info = Info(0, 1);
    Bspline* out = keep(StitchTwoSurfsPartial(bndry, objs, &info, r.mode, r.a, r.b));
    ASSERT_NE(out, nullptr);
    EXPECT_LT(GapToRight(out, s2), 1e-9);
    double lo[3], hi[3];
    RefEvalSurface(out, out->umax, out->vmin, lo);
    RefEvalSurface(out, out->umax, out->vmax, hi);
    // A projected section end is the estimate on the sampled boundary line.
    const double tol = r.mode == 1 ? 1e-2 : 1e-12;
    EXPECT_NEAR(lo[1], r.y0, tol);
    EXPECT_NEAR(hi[1], r.y1, tol);
    double after[3];
    RefEvalSurface(s2, 0.3, 0.7, after);
    EXPECT_EQ(before[2], after[2]);
    EXPECT_EQ(bndry[0], 2);
    EXPECT_EQ(bndry[1], 0);
  }
  BsplineKeeper keep;
  Bspline* objs[3] = {keep(Left(0, 1)), keep(Right()), nullptr};
  int bndry[2] = {2, 0};
  StitchInfo info = Info(0, 1);
  EXPECT_EQ(StitchTwoSurfsPartial(bndry, objs, &info, 3, 0.0, 1.0), nullptr);
}

// Both surfaces give a section: the two results meet along it, keep their shape away from the
// re-joined cuts, keep their ranges' ends, and the caller's boundary pair is unchanged.
TEST_F(PartialStitchTest, BothSectionsMeetAndTheRestStays) {
  BsplineKeeper keep;
  Bspline* s1 = keep(Left(0.0, 1.0));
  Bspline* s2 = keep(Right());
  Bspline* objs[3] = {s1, s2, nullptr};
  int bndry[2] = {2, 0};
  StitchInfo info = Info(0, 2);
  const double a[2] = {0.25, 0.25}, b[2] = {0.75, 0.75};
  Bspline* out[2] = {nullptr, nullptr};
  ASSERT_EQ(StitchTwoSurfsBothPartial(bndry, objs, &info, a, b, out), 0);
  keep(out[0]);
  keep(out[1]);
  EXPECT_EQ(bndry[0], 2);
  EXPECT_EQ(bndry[1], 0);
  // Distance from points of the first's section to the second's boundary line, taken on a fine
  // polyline of it.
  std::vector<std::vector<double>> line;
  for (int j = 0; j <= 2000; ++j) {
    double q[3];
    RefEvalSurface(out[1], out[1]->umin, out[1]->vmin + (out[1]->vmax - out[1]->vmin) * j / 2000.0, q);
    line.push_back({q[0], q[1], q[2]});
  }
  double worst = 0.0;
  for (int i = 0; i <= 20; ++i) {
    double p[3];
    RefEvalSurface(out[0], out[0]->umax, out[0]->vmin + (0.3 + 0.4 * i / 20.0) * (out[0]->vmax - out[0]->vmin), p);
    double best = 1e300;
    for (size_t j = 0; j + 1 < line.size(); ++j) {
      double d[3], e[3], dd = 0, de = 0;
      for (int k = 0; k < 3; ++k) {
        d[k] = line[j + 1][k] - line[j][k];
        e[k] = p[k] - line[j][k];
        dd += d[k] * d[k];
        de += d[k] * e[k];
      }
      const double w = dd > 0 ? std::fmin(1.0, std::fmax(0.0, de / dd)) : 0.0;
      best = std::fmin(best, std::hypot(e[0] - w * d[0], e[1] - w * d[1], e[2] - w * d[2]));
    }
    worst = std::fmax(worst, best);
  }
  EXPECT_LT(worst, 1e-6);
  // Far from the section (its cuts at y 0.25 and 0.75) the first surface's far edge stays put.
  double p[3], q[3];
  RefEvalSurface(out[0], out[0]->umin, out[0]->vmin, p);
  q[0] = 0.0;
  q[1] = 0.0;
  EXPECT_NEAR(p[0], q[0], 1e-9);
  EXPECT_NEAR(p[1], q[1], 1e-9);
}

// Every allocation refused in turn: -2 with nothing left in out, and nothing leaks.
TEST_F(PartialStitchTest, RefusedAllocationsFailCleanly) {
  const int failures = RunWithInjectedFailures(3000, 11, [] {
    Bspline* s1 = Left(0.0, 1.0);
    Bspline* s2 = Right();
    int r = -2;
    if (s1 && s2) {
      Bspline* objs[3] = {s1, s2, nullptr};
      int bndry[2] = {2, 0};
      StitchInfo info = Info(1, 2);
      const double a[2] = {0.25, 0.0}, b[2] = {0.75, 0.5};
      Bspline* out[2] = {nullptr, nullptr};
      r = StitchTwoSurfsBothPartial(bndry, objs, &info, a, b, out);
      if (r != 0) {
        EXPECT_TRUE(out[0] == nullptr && out[1] == nullptr);
      }
      FreeBspline(out[0]);
      FreeBspline(out[1]);
    }
    FreeBspline(s1);
    FreeBspline(s2);
    return r;
  });
  EXPECT_GT(failures, 0);
}


// On the plane z = 0 a curve running in x: the line starts at the nearest surface point and runs
// across the curve (along y); the frame takes that point to the origin and its inverse undoes
// it. Turning the line a quarter about the normal lays it along the curve; a full turn returns
// every control point.
TEST_F(PartialStitchTest, DirectionAcrossACurveOnASurface) {
  BsplineKeeper keep;
  Bspline* plane = keep(BuildFunctionPatch([](double, double) { return 0.0; }, {}));
  Bspline* crv = BuildCurveOnSurface(plane, 1, {0.2, 0.5, 0.8, 0.5});
  ASSERT_NE(crv, nullptr);
  keep(crv);
  const double point[3] = {0.4, 0.5, 1.0};
  double xform[4][4], inverse[4][4];
  Bspline* line = keep(GetClosestCrvAndDirection(crv, point, xform, inverse));
  ASSERT_NE(line, nullptr);
  double p0[3], p1[3];
  RefEvalCurve(line, 0.0, p0);
  RefEvalCurve(line, 1.0, p1);
  EXPECT_NEAR(p0[0], 0.4, 1e-9);
  EXPECT_NEAR(p0[1], 0.5, 1e-9);
  EXPECT_NEAR(p1[0] - p0[0], 0.0, 1e-12);
  EXPECT_NEAR(p1[2] - p0[2], 0.0, 1e-12);
  EXPECT_GT(std::fabs(p1[1] - p0[1]), 1e-3);
  const std::vector<double> ctrl(line->X[0], line->X[0] + NumCtrlU(line));
  const std::vector<double> ctrlY(line->Y[0], line->Y[0] + NumCtrlU(line));
  RotateCurveByAngle(line, xform, inverse, 90.0);
  RefEvalCurve(line, 1.0, p1);
  EXPECT_NEAR(p1[1] - p0[1], 0.0, 1e-9);  // now along the curve
  EXPECT_GT(std::fabs(p1[0] - p0[0]), 1e-3);
  RotateCurveByAngle(line, xform, inverse, 270.0);
  for (int i = 0; i < NumCtrlU(line); ++i) {
    EXPECT_NEAR(line->X[0][i], ctrl[i], 1e-12);
    EXPECT_NEAR(line->Y[0][i], ctrlY[i], 1e-12);
  }
}

}  // namespace
