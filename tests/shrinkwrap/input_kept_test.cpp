// Operations that refine or reshape the caller's curve in place: when one fails part way (an
// allocation refused after a growing number of successes) the curve is left exactly as it
// came, knots, degree and control points, and a successful run still does its work.
#include <functional>
#include <vector>

#include "bspline/cclone.h"
#include "bspline/sfree.h"
#include "foundation/umalloc.h"
#include "shrinkwrap/crvfair.h"
#include "shrinkwrap/crvnet.h"
#include "shrinkwrap/cshrink.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"
#include "tests/surface/recordviews.h"

namespace {

class InputKeptTest : public KernelTest {};

// Runs op on a fresh copy of model once without and then under injected failures. The clean
// run must succeed and change the curve's layout (else there is nothing to put back); every
// failed run must leave its copy bit for bit as the model. Returns the failed runs.
int FailuresKeepCurve(Bspline* model, long maxSkip, long step, const std::function<int(Bspline*)>& op) {
  const std::vector<double> before = Snapshot(model);
  Bspline* clean = CopyCurveBspline(model);
  EXPECT_EQ(op(clean), 0);
  EXPECT_NE(Snapshot(clean), before);
  FreeBspline(clean);
  return RunWithInjectedFailures(maxSkip, step, [&] {
    Bspline* c = CopyCurveBspline(model);
    if (!c) return -2;
    const int r = op(c);
    if (r != 0) {
      EXPECT_EQ(c->degreeU, model->degreeU);
      EXPECT_EQ(Snapshot(c), before);
    }
    FreeBspline(c);
    return r;
  });
}

// Knots that make a range's control points movable, for a curve with too few of them and for
// one that has enough only after its range ends become knots.
TEST_F(InputKeptTest, MovablePointsOfARangeFailWithoutTheirKnots) {
  for (int nCtrl : {5, 9}) {
    BsplineKeeper keep;
    Bspline* model = keep(BuildRandomCurve(7u + nCtrl, 3, nCtrl));
    const int failures = FailuresKeepCurve(model, 400, 1, [](Bspline* c) {
      int* idx = nullptr;
      int n = 0;
      const int r = FindCurveSegmentCntrlPnts(c, 0.31, 0.77, &idx, &n);
      Free(idx);
      return r;
    });
    EXPECT_GT(failures, 0) << nCtrl;
  }
}

// The reshape's knot distribution and the reshape itself, on a degree-1 curve (raised to 2 first)
// and a cubic; the targets include an end, whose control point the reshape sets directly.
TEST_F(InputKeptTest, ReshapeAndItsKnotsFailWithoutChangingTheCurve) {
  const std::vector<double> ts = {0.0, 0.21, 0.24, 0.27, 0.55, 0.58, 0.83};
  for (int p : {1, 3}) {
    BsplineKeeper keep;
    Bspline* model = keep(BuildRandomCurve(30u + p, p, 6));
    std::vector<double> pts;
    for (double t : ts) {
      double q[3];
      RefEvalCurve(model, t, q);
      pts.insert(pts.end(), {q[0] + 0.1, q[1] - 0.05, q[2] + 0.2});
    }
    const auto* targets = reinterpret_cast<const double(*)[3]>(pts.data());
    const int n = static_cast<int>(ts.size());
    EXPECT_GT(FailuresKeepCurve(model, 200, 1, [&](Bspline* c) {
                return DistributeReshapeCrvKnots(c, targets, ts.data(), n);
              }), 0) << p;
    EXPECT_GT(FailuresKeepCurve(model, 3000, 7, [&](Bspline* c) {
                return ReshapeCurve3ToNpnts(c, targets, n, ts.data(), 0.7, 0.3, 0.01);
              }), 0) << p;
  }
}

// Constraint knots, one placement at a time, each of which may fail after the ones before it.
TEST_F(InputKeptTest, ConstraintKnotPlacementFailsWithoutItsKnots) {
  const double values[5] = {0.12, 0.3, 0.47, 0.66, 0.9};
  for (int p : {1, 2, 3}) {
    BsplineKeeper keep;
    Bspline* model = keep(BuildRandomCurve(50u + p, p, 5));
    EXPECT_GT(FailuresKeepCurve(model, 300, 1, [&](Bspline* c) {
                return NewInsertReshapeCrv3KnotsDistribute(c, values, 5);
              }), 0) << p;
  }
}

}  // namespace
