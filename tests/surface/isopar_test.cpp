// Isoparametric curves are the surface along the line, exactly and without touching the
// surface; closure flags follow the control points.
#include <cmath>
#include <vector>

#include "bspline/sfree.h"
#include "surface/bnd2crv.h"
#include "surface/startpnt.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"
#include "tests/surface/recordviews.h"

namespace {

class IsoparTest : public KernelTest {};

// The curve at fixed u (dir 1) or fixed v (dir 0) against the surface along that line.
void ExpectIsoCurve(const Bspline* s, const Bspline* c, double fixed, int dir) {
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->kind, 1);
  EXPECT_EQ(c->dimension, 3);
  EXPECT_EQ(c->rational, s->rational);
  EXPECT_EQ(c->umin, dir ? s->vmin : s->umin);
  EXPECT_EQ(c->umax, dir ? s->vmax : s->umax);
  const double tol = 1e-11 * RefScale(s);
  for (int i = 0; i <= 20; ++i) {
    const double t = c->umin + (c->umax - c->umin) * i / 20.0;
    double p[3], q[3];
    RefEvalCurve(c, t, p);
    RefEvalSurface(s, dir ? fixed : t, dir ? t : fixed, q);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(p[k], q[k], tol) << "fixed " << fixed << " t " << t;
  }
}

TEST_F(IsoparTest, CurvesFollowTheSurfaceOnSidesAndInside) {
  for (bool rational : {false, true}) {
    PatchOptions o;
    o.layout = KnotLayout::Random;
    o.rational = rational;
    o.degreeU = 3;
    o.degreeV = 2;
    o.nu = 7;
    o.umin = -1.0;
    o.umax = 2.0;
    o.vmin = 0.5;
    o.vmax = 1.5;
    Bspline* s = BuildFunctionPatch([](double x, double y) { return std::cos(2 * x) + x * y; }, o);
    const std::vector<double> before = Snapshot(s);
    // The four sides (one given a hair inside, one beyond the domain), interior lines, a line
    // on a knot, and one a hair beside a knot, which counts as the knot (parameters closer
    // than 1e-6 of the range are equal).
    const double us[][2] = {{-1.0 + 2e-6, -1.0}, {2.0, 2.0}, {7.0, 2.0}, {0.1, 0.1}, {1.37, 1.37},
                            {s->knotsU[4], s->knotsU[4]}, {s->knotsU[5] + 1e-6, s->knotsU[5]}};
    const double vs[][2] = {{0.5, 0.5}, {1.5, 1.5}, {0.77, 0.77}, {s->knotsV[3], s->knotsV[3]},
                            {s->knotsV[3] - 5e-7, s->knotsV[3]}};
    for (const auto& u : us) {
      Bspline* c = MakeIsoparCurve3(s, u[0], 0.9, 1);
      ExpectIsoCurve(s, c, u[1], 1);
      if (u[1] == o.umin) {  // a side is the boundary column exactly
        for (int j = 0; j < NumCtrlV(s); ++j) EXPECT_EQ(c->Y[0][j], s->Y[j][0]);
      }
      FreeBspline(c);
    }
    for (const auto& v : vs) {
      Bspline* c = MakeIsoparCurve3(s, 0.3, v[0], 0);
      ExpectIsoCurve(s, c, v[1], 0);
      FreeBspline(c);
    }
    EXPECT_EQ(Snapshot(s), before);
    FreeBspline(s);
  }
}

// A tube: u runs round (first and last column equal), v along the axis.
Bspline* Tube() {
  std::vector<double> pts;
  const int nu = 7, nv = 4;
  for (int j = 0; j < nv; ++j)
    for (int i = 0; i < nu; ++i) {
      const double a = 2 * M_PI * (i % (nu - 1)) / (nu - 1);
      pts.insert(pts.end(), {std::cos(a), std::sin(a), double(j)});
    }
  return BuildSurface(3, 3, nu, nv, pts);
}

TEST_F(IsoparTest, ClosedFlags) {
  Bspline* s = Tube();
  Bspline* round = MakeIsoparCurve3(s, 0.0, 0.4, 0);  // runs in u, round the tube
  Bspline* along = MakeIsoparCurve3(s, 0.4, 0.0, 1);
  EXPECT_EQ(round->closedU, 3);
  EXPECT_EQ(along->closedU, 0);
  // A 2D curve across the whole u range at one v meets itself in space.
  Bspline* seam = BuildCurveOnSurface(s, 1, {0.0, 0.5, 1.0, 0.5});
  Bspline* open = BuildCurveOnSurface(s, 1, {0.0, 0.5, 0.5, 0.5});
  SetObjClosed(seam);
  SetObjClosed(open);
  EXPECT_EQ(seam->closedU, 3);
  EXPECT_EQ(open->closedU, 0);
  SetObjClosed(s);
  EXPECT_EQ(s->closedU, 1);
  EXPECT_EQ(s->closedV, 0);
  s->Y[2][NumCtrlU(s) - 1] += 1e-3;  // one row no longer closes
  SetObjClosed(s);
  EXPECT_EQ(s->closedU, 0);
  // 3D ends within 1e-6 per coordinate close a curve.
  round->X[0][NumCtrlU(round) - 1] = round->X[0][0] + 5e-7;
  SetObjClosed(round);
  EXPECT_EQ(round->closedU, 3);
  round->X[0][NumCtrlU(round) - 1] = round->X[0][0] + 2e-6;
  SetObjClosed(round);
  EXPECT_EQ(round->closedU, 0);
  for (Bspline* b : {round, along, s}) FreeBspline(b);
}

TEST_F(IsoparTest, AllocationFailuresLeaveTheSurfaceAndNoBlocks) {
  PatchOptions o;
  o.rational = true;
  Bspline* s = BuildFunctionPatch([](double x, double y) { return x * y; }, o);
  const std::vector<double> before = Snapshot(s);
  int failures = 0;
  for (long n = 0;; ++n) {
    ClearKernelError();
    const int tracked = MallocTrackedCount();
    MallocFailAfter(n, -1);
    Bspline* c = MakeIsoparCurve3(s, 0.43, 0.0, 1);
    MallocFailClear();
    EXPECT_EQ(MallocTrackedCount(), tracked);
    EXPECT_EQ(Snapshot(s), before);
    if (c) {
      ExpectIsoCurve(s, c, 0.43, 1);
      FreeBspline(c);
      break;
    }
    ++failures;
    EXPECT_TRUE(KernelFailedNow());
  }
  EXPECT_GT(failures, 3);
  FreeBspline(s);
}

}  // namespace
