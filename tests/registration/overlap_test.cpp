// Registration of a scan against a rigidly moved copy that covers only part of it, with pairs
// beyond a rejection distance left out.
#include <algorithm>
#include <cmath>

#include "registration/icp.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/point_sets.h"

namespace {

constexpr double kPi = 3.141592653589793;

// A closed lumpy surface without symmetry (an ellipsoid with bumps), sampled on a Fibonacci
// spiral of directions, scaled by `size`.
PointSet LumpyScan(int n, double size) {
  PointSet s;
  const double golden = kPi * (3.0 - std::sqrt(5.0));
  for (int i = 0; i < n; ++i) {
    const double z = 1.0 - 2.0 * (i + 0.5) / n, r = std::sqrt(1.0 - z * z), a = golden * i;
    const double d[3] = {r * std::cos(a), r * std::sin(a), z};
    const double f =
        1.0 + 0.25 * std::sin(5.0 * d[0] + 1.0) * std::cos(4.0 * d[1]) + 0.2 * std::sin(6.0 * d[2] + 2.0 * d[0]);
    const double p[3] = {size * f * d[0], size * 0.7 * f * d[1], size * 0.5 * f * d[2]};
    s.add(p);
  }
  return s;
}

// The points with x below the value that keeps `share` of them.
PointSet Cut(const PointSet& s, double share) {
  double lo = 1e300, hi = -1e300;
  for (int i = 0; i < s.n(); ++i) lo = std::min(lo, double(s.x[i])), hi = std::max(hi, double(s.x[i]));
  for (int k = 0; k < 60; ++k) {  // bisection on the cut's position
    const double mid = 0.5 * (lo + hi);
    int kept = 0;
    for (int i = 0; i < s.n(); ++i) kept += s.x[i] < mid;
    (kept < share * s.n() ? lo : hi) = mid;
  }
  PointSet c;
  for (int i = 0; i < s.n(); ++i)
    if (s.x[i] < hi) {
      const double p[3] = {s.x[i], s.y[i], s.z[i]};
      c.add(p);
    }
  return c;
}

RegVec Turn(double degrees, const double axis[3], const double t[3]) {
  const double l = std::sqrt(axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2]);
  const double h = degrees * kPi / 360, s = std::sin(h) / l;
  return RegVec{{std::cos(h), s * axis[0], s * axis[1], s * axis[2]}, {t[0], t[1], t[2]}};
}

// Angle in degrees of the rotation between two motions.
double AngleBetween(const RegVec& a, const RegVec& b) {
  double d = 0, la = 0, lb = 0;
  for (int k = 0; k < 4; ++k) d += a.q[k] * b.q[k], la += a.q[k] * a.q[k], lb += b.q[k] * b.q[k];
  return 2.0 * std::acos(std::min(1.0, std::fabs(d) / std::sqrt(la * lb))) * 180.0 / kPi;
}

struct Clouds {
  Cloud* a;
  Cloud* b;
  ~Clouds() {
    FreeCloud(a);
    FreeCloud(b);
  }
};

Cloud* ToCloud(const PointSet& s) {
  return MakeCld(s.x.data(), s.y.data(), s.z.data(), s.n(), nullptr);
}

using OverlapIcp = KernelTest;

// The moving scan is whole and the target a moved copy cut to 60% (and the other way round):
// with a rejection distance of 0.02 of the diagonal the loop must find the motion, at every size
// of the part, from turns of 5, 10 and 20 degrees. Before, the far pairs of the cut-off part took
// part in the closed form, every step came out worse than the start, and the start was reported
// as the result.
TEST_F(OverlapIcp, PartialCopyIsRegisteredWithRejection) {
  const double axis[3] = {0.4, -0.3, 1.0};
  for (double size : {1e-6, 1.0, 1e6})
    for (double degrees : {5.0, 10.0, 20.0})
      for (int whole = 0; whole < 2; ++whole) {
        SCOPED_TRACE(testing::Message() << "size " << size << ", " << degrees << " degrees, whole " << whole);
        const PointSet scan = LumpyScan(4000, size);
        const double t[3] = {0.05 * size, -0.03 * size, 0.02 * size};
        const RegVec truth = Turn(degrees, axis, t);
        const PointSet cut = Cut(scan, 0.6);
        Clouds c{ToCloud(whole ? scan : cut), ToCloud(MovedBy(whole ? cut : scan, truth))};
        RegParams params;
        SetDefaultRegParams(&params);
        const double diagonal = 2.0 * size * std::sqrt(1.0 + 0.49 + 0.25);
        params.maxDistance = 0.02 * diagonal;
        params.tolerance = 1e-6 * diagonal;
        // The extrapolated step stays off below errors of 1e-6 (an absolute threshold), so the
        // smallest part needs more plain steps than the default 40.
        params.maxIterations = 200;
        RegVec m = {{1, 0, 0, 0}, {0, 0, 0}};
        double error = -1, largest = -1;
        int brk = -1;
        ASSERT_EQ(ICPtwoClouds(c.a, c.b, params, &m, &error, &largest, &brk), 0);
        EXPECT_LT(AngleBetween(m, truth), 0.05);
        double gap = 0;
        for (int k = 0; k < 3; ++k) gap = std::max(gap, std::fabs(m.t[k] - truth.t[k]));
        EXPECT_LT(gap, 1e-3 * diagonal);
      }
}

// With only one or two pairs within reach no motion is fixed: a failure, not the start as a
// result.
TEST_F(OverlapIcp, TooFewPairsInReachIsAFailure) {
  const PointSet scan = LumpyScan(400, 1.0);
  PointSet far = MovedBy(scan, RegVec{{1, 0, 0, 0}, {10, 0, 0}});
  const double touching[3] = {scan.x[7], scan.y[7], scan.z[7]};
  far.add(touching);
  Clouds c{ToCloud(scan), ToCloud(far)};
  RegParams params;
  SetDefaultRegParams(&params);
  params.maxDistance = 0.01;
  RegVec m = {{2, 0, 0, 0}, {0, 0, 0}};
  double error = -1, largest = -1;
  int brk = -1;
  EXPECT_EQ(ICPtwoClouds(c.a, c.b, params, &m, &error, &largest, &brk), -2);
  EXPECT_EQ(m.q[0], 1.0);
  EXPECT_EQ(m.t[0], 0.0);
  EXPECT_EQ(brk, 0);
}

// A point of the moving scan that is not a number pairs with nothing: the others are registered
// as if it were not there, with or without a rejection distance. (It used to enter the closed form
// and turn every step into NaN, so the start came back as the result.)
TEST_F(OverlapIcp, PointThatIsNotANumberIsLeftOut) {
  PointSet scan = LumpyScan(2000, 1.0);
  const double axis[3] = {0.2, 1.0, -0.3}, t[3] = {0.02, 0.01, -0.03};
  const RegVec truth = Turn(4.0, axis, t);
  Clouds c{nullptr, ToCloud(MovedBy(scan, truth))};
  const double nan[3] = {std::nan(""), 0.0, 0.0};
  scan.add(nan);
  c.a = ToCloud(scan);
  for (double reach : {3.37e38, 0.1}) {
    RegParams params;
    SetDefaultRegParams(&params);
    params.maxDistance = reach;
    params.tolerance = 1e-7;
    params.maxIterations = 200;
    RegVec m = {{1, 0, 0, 0}, {0, 0, 0}};
    double error = -1, largest = -1;
    int brk = -1;
    ASSERT_EQ(ICPtwoClouds(c.a, c.b, params, &m, &error, &largest, &brk), 0) << reach;
    EXPECT_LT(AngleBetween(m, truth), 0.01) << reach;
    EXPECT_TRUE(std::isfinite(error)) << reach;
  }
}

}  // namespace
