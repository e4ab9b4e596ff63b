// Start points of closed objects: a closed curve or surface restarts at a requested parameter
// and traces the same points, closed again; exact circles turn about their axis instead.
#include <cmath>
#include <vector>

#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "foundation/coreglob.h"
#include "quadric/qcircle.h"
#include "surface/startpnt.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class StartPoint : public KernelTest {};

double Dist(const double a[3], const double b[3]) {
  return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) +
                   (a[2] - b[2]) * (a[2] - b[2]));
}

// A closed cubic through a bumpy loop of 9 distinct points (the first repeated at the end).
Bspline* ClosedCubic() {
  std::vector<double> pts;
  for (int i = 0; i < 10; ++i) {
    const double a = 2 * M_PI * (i % 9) / 9.0;
    pts.insert(pts.end(), {std::cos(a) * (1 + 0.2 * (i % 3)), std::sin(a), 0.3 * std::sin(2 * a)});
  }
  Bspline* c = BuildCurve(3, 3, pts, ClampedKnots(3, 10, 0.0, 1.0, KnotLayout::Random, 4));
  c->closedU = 3;
  return c;
}

TEST_F(StartPoint, ClosedCurveRestartsAtTheParameterAndTracesTheSamePoints) {
  Bspline* c = ClosedCubic();
  const double t = 0.37;
  Bspline* r = ChangeObjectStartPnt(c, t, 0.0, 0);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->closedU, 3);
  EXPECT_NEAR(r->umin, t, 1e-12);
  EXPECT_NEAR(r->umax, t + 1.0, 1e-12);
  // r(s) = c(s) up to the old end, then c(s - 1): the same points in the same order.
  double worst = 0.0;
  for (int i = 0; i <= 400; ++i) {
    const double s = t + i / 400.0;
    double p[3], q[3];
    RefEvalCurve(r, s, p);
    RefEvalCurve(c, s <= 1.0 ? s : s - 1.0, q);
    worst = std::max(worst, Dist(p, q));
  }
  EXPECT_LT(worst, 1e-9);
  FreeBspline(r);

  // An open curve is refused without touching the error state.
  c->closedU = 0;
  EXPECT_EQ(ChangeObjectStartPnt(c, t, 0.0, 0), nullptr);
  EXPECT_EQ(zk_error_status, 0);
  EXPECT_EQ(memory_error, 0);
  FreeBspline(c);
}

TEST_F(StartPoint, SurfaceClosedInURestartsAtTheParameter) {
  // A bumpy tube: columns round the axis, the last column equal to the first.
  const int nu = 9, nv = 5;
  std::vector<double> pts;
  for (int j = 0; j < nv; ++j)
    for (int i = 0; i < nu; ++i) {
      const double a = 2 * M_PI * (i % (nu - 1)) / (nu - 1);
      const double r = 1 + 0.2 * (i % 2) + 0.1 * j;
      pts.insert(pts.end(), {r * std::cos(a), r * std::sin(a), 0.5 * j});
    }
  Bspline* s = BuildSurface(3, 3, nu, nv, pts);
  s->closedU = 1;
  const double t = 0.3;
  Bspline* r = ChangeObjectStartPnt(s, t, 0.0, 0);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->closedU, 1);
  // Along each line v = const the new surface starts and ends at the old one's point at t, and
  // every point of it lies on the old line (dense polyline of the old line).
  double worst = 0.0, ends = 0.0;
  for (int j = 0; j <= 4; ++j) {
    const double v = j / 4.0;
    std::vector<std::vector<double>> old;
    for (int i = 0; i <= 4000; ++i) {
      double p[3];
      RefEvalSurface(s, i / 4000.0, v, p);
      old.push_back({p[0], p[1], p[2]});
    }
    double at[3], a[3], b[3];
    RefEvalSurface(s, t, v, at);
    RefEvalSurface(r, r->umin, v, a);
    RefEvalSurface(r, r->umax, v, b);
    ends = std::max({ends, Dist(a, at), Dist(b, at)});
    for (int i = 0; i <= 100; ++i) {
      double p[3];
      RefEvalSurface(r, r->umin + i / 100.0 * (r->umax - r->umin), v, p);
      double best = 1e300;
      for (size_t k = 1; k < old.size(); ++k) {
        // Distance to the chord from old[k - 1] to old[k].
        const double* a = old[k - 1].data();
        const double* b = old[k].data();
        double d[3], w[3], dd = 0.0, wd = 0.0;
        for (int c = 0; c < 3; ++c) d[c] = b[c] - a[c], w[c] = p[c] - a[c], dd += d[c] * d[c], wd += w[c] * d[c];
        const double f = dd > 0 ? std::min(1.0, std::max(0.0, wd / dd)) : 0.0;
        double q[3];
        for (int c = 0; c < 3; ++c) q[c] = a[c] + f * d[c];
        best = std::min(best, Dist(p, q));
      }
      worst = std::max(worst, best);
    }
  }
  EXPECT_LT(ends, 1e-9);
  EXPECT_LT(worst, 1e-5);  // the chords' own sag
  FreeBspline(r);
  // Not closed in v: refused.
  EXPECT_EQ(ChangeObjectStartPnt(s, 0.0, 0.5, 1), nullptr);
  FreeBspline(s);
}

TEST_F(StartPoint, CircleTurnsAboutItsAxisWithKnotsAndWeightsKept) {
  const double centre[3] = {1, -2, 0.5}, axis[3] = {0.2, 0.3, 1.0};
  Bspline* c = MakeCircleWGivenAxis(centre, 2.0, axis);
  ASSERT_NE(c, nullptr);
  ASSERT_GE(NumCtrlU(c), 7);
  c->closedU = 3;
  const double t = 0.5 * (c->umin + c->umax) + 0.1 * (c->umax - c->umin);
  double want[3];
  RefEvalCurve(c, t, want);
  Bspline* r = ChangeObjectStartPnt(c, t, 0.0, 0);
  ASSERT_NE(r, nullptr);
  const int n = NumCtrlU(c);
  for (int i = 0; i < NumKnotsU(c); ++i) EXPECT_EQ(r->knotsU[i], c->knotsU[i]);
  for (int i = 0; i < n; ++i) EXPECT_EQ(r->W[0][i], c->W[0][i]);
  double start[3];
  RefEvalCurve(r, r->umin, start);
  EXPECT_LT(Dist(start, want), 1e-9);
  // Still the same circle: every point at the radius from the centre, in the circle's plane.
  double an[3] = {axis[0], axis[1], axis[2]};
  const double m = std::sqrt(an[0] * an[0] + an[1] * an[1] + an[2] * an[2]);
  for (double& x : an) x /= m;
  for (int i = 0; i <= 50; ++i) {
    double p[3];
    RefEvalCurve(r, r->umin + i / 50.0 * (r->umax - r->umin), p);
    const double d[3] = {p[0] - centre[0], p[1] - centre[1], p[2] - centre[2]};
    EXPECT_NEAR(Dist(p, centre), 2.0, 1e-9);
    EXPECT_NEAR(d[0] * an[0] + d[1] * an[1] + d[2] * an[2], 0.0, 1e-9);
  }
  FreeBspline(r);

  // A net too short to hold the four reference points: null, nothing read out of bounds.
  Bspline* shortOne = BuildCurve(2, 3, {2, 0, 0, 2, 2, 0, 0, 2, 0, -2, 2, 0, -2, 0, 0}, {},
                                 {1, 0.7, 1, 0.7, 1});
  shortOne->quadricType = c->quadricType;
  shortOne->quadric = c->quadric;
  c->quadric = nullptr;
  shortOne->closedU = 3;
  EXPECT_EQ(ChangeQuadricsStartPoint(shortOne, 0.5, 0.0, 0), nullptr);
  // A closed curve whose exact form is not a circle has no centre to turn about.
  shortOne->quadricType = 21;
  EXPECT_EQ(ChangeObjectStartPnt(shortOne, 0.5, 0.0, 0), nullptr);
  FreeBspline(shortOne);
  FreeBspline(c);
}

}  // namespace
