// Approximation and reparametrisation: the refusals of the surface approximation, a 3D curve
// refitted within the least tolerance, closed surfaces keeping coincident seam rows, projected
// loops coming out in reverse order, a reparametrised surface getting its lists back, curves on
// surfaces taking the old curve's place, and the mean lengths of control lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "bspline/crvlist.h"
#include "bspline/nubs.h"
#include "bspline/refines2.h"
#include "bspline/sfree.h"
#include "foundation/umalloc.h"
#include "quadric/qnurbs.h"
#include "splinefit/sconvert.h"
#include "tests/bspline/trimloops.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class Approximate : public KernelTest {};

GridFitParams Plain() {
  GridFitParams g{};
  g.boundaryMode = -1;
  return g;
}

Bspline* Wave(bool rational = false) {
  PatchOptions o;
  o.nu = 6;
  o.nv = 5;
  o.rational = rational;
  o.x1 = 3.0;
  o.y1 = 2.0;
  return BuildFunctionPatch([](double x, double y) { return 0.3 * std::sin(2 * x) * std::cos(y); }, o);
}

void AddTwoLoops(Bspline* s) {
  auto line = [&](double u0, double v0, double u1, double v1) {
    return BuildCurveOnSurface(s, 1, {u0, v0, u1, v1});
  };
  AddLoop(s, {line(0.1, 0.1, 0.9, 0.1), line(0.9, 0.1, 0.9, 0.9), line(0.9, 0.9, 0.1, 0.9),
              line(0.1, 0.9, 0.1, 0.1)});
  AddLoop(s, {line(0.4, 0.4, 0.6, 0.4), line(0.6, 0.4, 0.5, 0.6), line(0.5, 0.6, 0.4, 0.4)}, 1);
}

TEST_F(Approximate, SurfaceApproximationRefusalsAndLoopsInReverseOrder) {
  BsplineKeeper keep;
  Bspline* s = keep(Wave());
  const GridFitParams prm = Plain();
  Bspline* out = reinterpret_cast<Bspline*>(&keep);  // a marker that must stay untouched
  EXPECT_EQ(ApproximateBsplineSurf(s, 1e-3, 3, 3, &prm, &out), -2);
  EXPECT_EQ(out, reinterpret_cast<Bspline*>(&keep));
  // 2 x 1 interior knots: not above m1 m2 = 2.
  EXPECT_EQ(VDABsplineSurfaceApproximation(s, 4, 4, 1e-3, 1, 2, &out), -2);
  ASSERT_EQ(VDABsplineSurfaceApproximation(s, 4, 4, 1e-3, 1, 1, &out), 0);
  EXPECT_EQ(keep(out)->degreeU, 4);
  Bspline* r = keep(Wave(true));
  AddTwoLoops(r);
  out = nullptr;
  ASSERT_EQ(ApproximateBsplineSurf(r, 1e-3, 3, 3, &prm, &out), 0);
  keep(out);
  EXPECT_EQ(out->rational, 0);
  std::vector<int> holes;
  for (TrimList* t = out->trims; t; t = t->next) {
    holes.push_back(t->hole);
    EXPECT_EQ(t->attached, 1);
  }
  EXPECT_EQ(holes, (std::vector<int>{1, 0}));
  EXPECT_EQ(r->trims->hole, 0);  // the source keeps its own order
}

TEST_F(Approximate, CurveFittedWithinTheLeastTolerance) {
  BsplineKeeper keep;
  Bspline* c = keep(BuildRandomCurve(5, 3, 8));
  const GridFitParams prm = Plain();
  Bspline* a = keep(ApproximateBspline(c, 0.0, 3, 0, &prm));
  ASSERT_NE(a, nullptr);
  // The curve's samples: 8 per knot span.
  std::vector<double> ts;
  for (int k = 3; k < NumKnotsU(c) - 4; ++k)
    for (int m = 0; m < 8; ++m) ts.push_back(c->knotsU[k] + m * (c->knotsU[k + 1] - c->knotsU[k]) / 8);
  ts.push_back(1.0);
  double worst = 0.0;
  std::vector<double> coarse(3 * 2001);
  for (int m = 0; m <= 2000; ++m) RefEvalCurve(a, a->umin + (a->umax - a->umin) * m / 2000.0, &coarse[3 * m]);
  for (double t : ts) {
    double p[3];
    RefEvalCurve(c, t, p);
    // The nearest point of the fit: a coarse search, then Newton on (C(t) - p) . C'(t).
    double bestT = a->umin, best = 1e9;
    for (int m = 0; m <= 2000; ++m) {
      const double tt = a->umin + (a->umax - a->umin) * m / 2000.0;
      const double* q = &coarse[3 * m];
      const double d = std::hypot(p[0] - q[0], p[1] - q[1], p[2] - q[2]);
      if (d < best) {
        best = d;
        bestT = tt;
      }
    }
    for (int it = 0; it < 20; ++it) {
      double q[3], d1[3], d2[3];
      RefEvalCurve(a, bestT, q);
      // The kernel's derivatives only steer the search; the distance is the reference's.
      Eval3DPointOnCurve3Coord(a, bestT, 1, d1);
      Eval3DPointOnCurve3Coord(a, bestT, 2, d2);
      double f = 0.0, df = 0.0;
      for (int k = 0; k < 3; ++k) {
        f += (q[k] - p[k]) * d1[k];
        df += d1[k] * d1[k] + (q[k] - p[k]) * d2[k];
      }
      if (df <= 0.0) break;
      bestT = std::clamp(bestT - f / df, a->umin, a->umax);
    }
    double q[3];
    RefEvalCurve(a, bestT, q);
    best = std::min(best, std::hypot(p[0] - q[0], p[1] - q[1], p[2] - q[2]));
    worst = std::max(worst, best);
  }
  EXPECT_LT(worst, 1e-5);
}

// A cylinder is closed in u: reparametrised on uniform knots its first and last control columns
// coincide.
TEST_F(Approximate, ClosedSurfaceKeepsItsSeam) {
  BsplineKeeper keep;
  Bspline* s = keep(MallocInitSurfaceBspline());
  const QuadricInfo q = {{0, 0, 0, 0, 0, 1, 2.0, 0, 3}};
  ASSERT_EQ(CylinderNurbs(&q, s), 0);
  const GridFitParams prm = Plain();
  Bspline* r = keep(ReparametrizeBspline(s, nullptr, 0.01, 12, 4, &prm, 1, 0.0, 1, 0.0));
  ASSERT_NE(r, nullptr);
  ASSERT_EQ(s->closedU, 1);
  ASSERT_EQ(r->closedU, 1);
    for (int j = 0; j < NumCtrlV(r); ++j) {
      EXPECT_EQ(r->X[j][0], r->X[j][NumCtrlU(r) - 1]);
      EXPECT_EQ(r->Z[j][0], r->Z[j][NumCtrlU(r) - 1]);
    }
}

TEST_F(Approximate, ReparametrisedSurfaceGetsItsListsBack) {
  BsplineKeeper keep;
  Bspline* s = keep(Wave());
  AddTwoLoops(s);
  BuildCurveOnSurface(s, 3, {0.2, 0.3, 0.3, 0.5, 0.5, 0.5, 0.7, 0.6});
  BsplineList* curves = s->curves;
  TrimList* trims = s->trims;
  Bspline* out = nullptr;
  ASSERT_EQ(ReparametrizeSurface(s, nullptr, 0.0, 7, 6, 1, 0.0, 1, 0.0, &out), 1);
  keep(out);
  EXPECT_EQ(s->curves, curves);
  EXPECT_EQ(s->trims, trims);
  int loops = 0;
  for (TrimList* t = out->trims; t; t = t->next) ++loops;
  EXPECT_EQ(loops, 2);
  EXPECT_GE(GetNumCurvePieces(out->curves), 8);
  // Refused for a surface by the host's curve entry, with no scope left open.
  const int level = MallocTrackLevel();
  EXPECT_EQ(ReparametrizeCurveBspline_Host(s, nullptr, 0.0, 6, 0, 1, 0.0, 1), nullptr);
  EXPECT_EQ(MallocTrackLevel(), level);
}

// A curve on a surface reparametrised on uniform knots takes the old one's place in its owner's
// curve list and loop; the old one is the caller's.
TEST_F(Approximate, CurveOnSurfaceTakesTheOldPlace) {
  BsplineKeeper keep;
  Bspline* s = keep(Wave());
  Bspline* c = BuildCurveOnSurface(s, 3, {0.1, 0.2, 0.3, 0.6, 0.6, 0.4, 0.9, 0.8});
  Bspline* r = ReparametrizeCurveBspline_Host(c, nullptr, 0.0, 6, 0, 1, 0.0, 1);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->dimension, 2);
  EXPECT_EQ(r->owner, s);
  bool newListed = false, oldListed = false;
  for (BsplineList* n = s->curves; n; n = n->next) {
    newListed |= n->item == r;
    oldListed |= n->item == c;
  }
  EXPECT_TRUE(newListed);
  EXPECT_FALSE(oldListed);
  EXPECT_EQ(NumCtrlU(r), 6);
  double a[3], b[3];
  RefEvalCurve(c, 0.0, a);
  RefEvalCurve(r, r->umin, b);
  EXPECT_NEAR(a[0], b[0], 1e-6);
  // Knots at equal arc length along the curve (measured in space).
  testing::internal::CaptureStdout();
  const GridFitParams prm = Plain();
  Bspline* arc = ReparametrizeBspline(r, nullptr, 0.0, 0, 0, &prm, 0, 0.25, 0, 0.0);
  testing::internal::GetCapturedStdout();
  ASSERT_NE(arc, nullptr);
  EXPECT_EQ(arc->owner, s);
  EXPECT_GT(arc->interiorU, 0);
  FreeBspline(r);
  FreeBspline(c);
}

TEST_F(Approximate, MeanControlLineLengths) {
  BsplineKeeper keep;
  PatchOptions o;
  o.x1 = 6.0;
  o.y1 = 4.0;
  Bspline* s = keep(BuildFunctionPatch([](double, double) { return 1.0; }, o));
  double out[2];
  ASSERT_EQ(EvalBsplineLength(s, out), 0);
  EXPECT_NEAR(out[0], 6.0, 1e-12);
  EXPECT_NEAR(out[1], 4.0, 1e-12);
  EXPECT_EQ(EvalBsplineLength(nullptr, out), -2);
}

}  // namespace

namespace {

// The largest distance from a's points (2000 steps) to b: nearest of 300 samples of b, refined.
double OneWayDeviation(Bspline* a, Bspline* b) {
  std::vector<double> bs(3 * 301);
  for (int j = 0; j <= 300; ++j) Eval3DPointOnCurve3Coord(b, b->umin + (b->umax - b->umin) * j / 300, 0, &bs[3 * j]);
  double worst = 0.0;
  for (int i = 0; i <= 2000; ++i) {
    double P[3];
    Eval3DPointOnCurve3Coord(a, a->umin + (a->umax - a->umin) * i / 2000, 0, P);
    int best = 0;
    for (int j = 1; j <= 300; ++j)
      if (std::hypot(P[0] - bs[3 * j], P[1] - bs[3 * j + 1], P[2] - bs[3 * j + 2]) <
          std::hypot(P[0] - bs[3 * best], P[1] - bs[3 * best + 1], P[2] - bs[3 * best + 2]))
        best = j;
    double t = b->umin + (b->umax - b->umin) * best / 300, C[3], d2, step;
    FindClosestPointCurve3(b, P, C, b->umin, b->umax, &t, &d2, &step, 30);
    const double coarse = std::hypot(P[0] - bs[3 * best], P[1] - bs[3 * best + 1], P[2] - bs[3 * best + 2]);
    worst = std::max(worst, std::min(coarse, std::sqrt(d2)));
  }
  return worst;
}

// The deviation the fit's single status message shows.
double ShownDeviation(const std::string& messages) {
  const std::string key = "Maximum deviation = ";
  const size_t at = messages.rfind(key);
  return at == std::string::npos ? -1.0 : std::atof(messages.c_str() + at + key.size());
}

}  // namespace

// A space cubic of 16 control points approximated at a thousandth of its size, at every size,
// and at 1e-5 of it at size 1e-3: measured densely both ways the fit is within the tolerance,
// and the one status message of the call shows that deviation (to its four digits).
TEST_F(Approximate, CurveFitsMeetTheirToleranceBetweenSamplesAtEverySize) {
  const GridFitParams prm = Plain();
  struct Case {
    double scale, relTol;
  } cases[] = {{1e-6, 1e-3}, {1e-3, 1e-3}, {1.0, 1e-3}, {1e3, 1e-3}, {1e6, 1e-3}, {1e-3, 1e-5}};
  for (const Case& k : cases) {
    BsplineKeeper keep;
    // Control points on one and a half turns of a helix of radius 1 and pitch 0.6.
    std::vector<double> pts;
    for (int i = 0; i < 16; ++i) {
      const double a = 3 * M_PI * i / 15;
      pts.insert(pts.end(), {k.scale * std::cos(a), k.scale * std::sin(a), k.scale * 0.3 * a / M_PI});
    }
    Bspline* c = keep(BuildCurve(3, 3, pts));
    const double size = k.scale * std::sqrt(4.0 + 4.0 + 0.81);  // about the box diagonal
    const double tol = k.relTol * size;
    const size_t before = Messages().size();
    Bspline* a = keep(ApproximateBspline(c, tol, 3, 0, &prm));
    ASSERT_NE(a, nullptr) << k.scale;
    const double dev = std::max(OneWayDeviation(a, c), OneWayDeviation(c, a));
    EXPECT_LE(dev, tol) << k.scale << " " << k.relTol;
    const std::string shown = Messages().substr(before);
    EXPECT_EQ(shown.find("Control points = "), shown.rfind("Control points = ")) << "one message";
    // The fit's own dense measure takes single-precision samples: good to 1e-7 of the size.
    EXPECT_NEAR(ShownDeviation(shown), dev, 1e-2 * dev + 1e-7 * size) << k.scale << " " << k.relTol;
  }
}

namespace {

// Control points on two turns of a helix of radius 0.5 size rising by the size, at the origin or
// moved by (1e4, -6e3, 3.5e3) x the size.
Bspline* TwoTurnHelix(double size, bool far) {
  std::vector<double> pts;
  const double o[3] = {far ? 1e4 * size : 0.0, far ? -6e3 * size : 0.0, far ? 3.5e3 * size : 0.0};
  for (int i = 0; i < 30; ++i) {
    const double a = 4 * M_PI * i / 29;
    pts.insert(pts.end(), {o[0] + 0.5 * size * std::cos(a), o[1] + 0.5 * size * std::sin(a), o[2] + size * i / 29});
  }
  return BuildCurve(3, 3, pts);
}

}  // namespace

// A two-turn helix approximated at 1e-5 of its size, at sizes 1e-6 and 1e6, at the origin and
// moved 1e4 x its size away: within the tolerance measured densely both ways, with the same
// number of control points everywhere.
TEST_F(Approximate, HelixHoldsItsToleranceFarFromTheOrigin) {
  const GridFitParams prm = Plain();
  int atOrigin = -1;
  for (double size : {1e-6, 1e6})
    for (bool far : {false, true}) {
      BsplineKeeper keep;
      Bspline* c = keep(TwoTurnHelix(size, far));
      const double tol = 1e-5 * size * std::sqrt(2.0);  // the box diagonal is about sqrt 2 x size
      Bspline* a = keep(ApproximateBspline(c, tol, 3, 0, &prm));
      ASSERT_NE(a, nullptr) << size << " " << far;
      const double dev = std::max(OneWayDeviation(a, c), OneWayDeviation(c, a));
      EXPECT_LE(dev, tol) << size << " " << far;
      if (atOrigin < 0) atOrigin = NumCtrlU(a);
      EXPECT_NEAR(NumCtrlU(a), atOrigin, 2) << size << " " << far;
    }
}

// A zigzag of straight pieces cannot be followed by a cubic within 1e-5 of its size at its
// corners: refused with the error state and a message naming the deviation reached, never
// handed back as a fit, at the origin and far from it.
TEST_F(Approximate, UnreachableToleranceIsRefusedWithTheReachableOne) {
  const GridFitParams prm = Plain();
  for (double move : {0.0, 1e4}) {
    BsplineKeeper keep;
    std::vector<double> pts;
    for (int i = 0; i < 5; ++i) pts.insert(pts.end(), {move + 0.25 * i, -move + 0.2 * (i % 2), 0.5 * move});
    Bspline* c = keep(BuildCurve(1, 3, pts));
    const size_t before = Messages().size();
    Bspline* a = keep(ApproximateBspline(c, 1e-5, 3, 0, &prm));
    EXPECT_EQ(a, nullptr) << move;
    EXPECT_TRUE(KernelFailedNow()) << move;
    const std::string shown = Messages().substr(before);
    EXPECT_NE(shown.find("not reached, the closest fit deviates"), std::string::npos) << shown;
    ClearKernelError();
  }
}
