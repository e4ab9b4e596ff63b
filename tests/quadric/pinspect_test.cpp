// Form measures on analytic point sets whose tolerance values are known: a helix's straightness
// is its radius, two parallel layers are their distance apart in flatness, a cylinder's coaxiality
// with a parallel line is the lines' distance; and the nearest-point index of one cloud in another
// agrees with brute force, with clean progress and breaks.
#include <cmath>
#include <random>
#include <vector>

#include "foundation/umalloc.h"
#include "platform/tstubs.h"
#include "quadric/pinspect.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class InspectTest : public KernelTest {};

struct Pts {
  std::vector<float> x, y, z;
  Cloud cloud{};
  void add(const double p[3]) {
    x.push_back(static_cast<float>(p[0]));
    y.push_back(static_cast<float>(p[1]));
    z.push_back(static_cast<float>(p[2]));
  }
  Cloud* get() {
    cloud.npts = static_cast<int>(x.size());
    cloud.x = x.data();
    cloud.y = y.data();
    cloud.z = z.data();
    return &cloud;
  }
};

// Rows of an orthonormal frame; row 2 is the feature's direction.
const double kFrame[3][3] = {{0.36, 0.48, -0.8}, {-0.8, 0.6, 0.0}, {0.48, 0.64, 0.6}};
const double kTwoPi = 6.283185307179586;

// Point at local (a, b, c) in kFrame, moved by o, all scaled by s.
void Place(double a, double b, double c, const double o[3], double s, double out[3]) {
  for (int k = 0; k < 3; ++k) out[k] = s * (o[k] + a * kFrame[0][k] + b * kFrame[1][k] + c * kFrame[2][k]);
}

TEST_F(InspectTest, StraightnessOfAHelixIsItsRadius) {
  const double o[3] = {2, -1, 3};
  for (double s : {1e-3, 1.0, 1e3}) {
    SCOPED_TRACE(s);
    Pts p;
    // Eight whole turns of radius 0.5, 40 long, two starts half a turn apart (so the sampled
    // helix has no tilt of its own): the best line is the helix's axis.
    for (int i = 0; i < 8 * 36; ++i)
      for (double phase : {0.0, kTwoPi / 2}) {
        const double t = kTwoPi * i / 36 + phase;
        double q[3];
        Place(0.5 * std::cos(t), 0.5 * std::sin(t), 40.0 * i / (8 * 36), o, s, q);
        p.add(q);
      }
    double centre[2], length = 0;
    Xform frame;
    EXPECT_NEAR(StraightnessRadius(p.get(), centre, frame, &length), 0.5 * s, 2e-3 * s);
    EXPECT_NEAR(length, 40 * s * (8 * 36 - 1) / (8 * 36), 1e-4 * s);
    Pts line;
    for (int i = 0; i < 5; ++i) {
      double q[3];
      Place(0, 0, i, o, s, q);
      line.add(q);
    }
    length = 0;
    EXPECT_EQ(StraightnessRadius(line.get(), centre, frame, &length), 0.0);
    EXPECT_NEAR(length, 4 * s, 1e-5 * s);
  }
}

TEST_F(InspectTest, FlatnessOfTwoParallelLayersIsTheirDistance) {
  const double o[3] = {5, 1, -2}, h = 0.25;
  for (double s : {1e-3, 1.0, 1e3}) {
    Pts p;
    for (int layer = 0; layer < 2; ++layer)
      for (int i = 0; i < 7; ++i)
        for (int j = 0; j < 7; ++j) {
          double q[3];
          Place(i * 3.0, j * 3.0, layer * h, o, s, q);
          p.add(q);
        }
    Xform frame;
    Bbox box;
    const double f = FlatnessDist(p.get(), frame, box);
    EXPECT_NEAR(f, h * s, 1e-5 * s);
    EXPECT_EQ(box[5] - box[2], f);
    // The layers' width lies in the plane's frame: 18 along the diagonal of the in-plane box.
    EXPECT_GE(std::hypot(box[3] - box[0], box[4] - box[1]), 18 * std::sqrt(2.0) * s * (1 - 1e-5));
  }
  Pts two;
  const double a[3] = {0, 0, 0}, b[3] = {1, 0, 0};
  two.add(a);
  two.add(b);
  Xform frame;
  Bbox box;
  EXPECT_EQ(FlatnessDist(two.get(), frame, box), 0.0);
}

// A circle of radius r about local origin o at height 0 of kFrame, radii alternating r +/- w/2.
Pts Ring(const double o[3], double r, double w, int n, double s, double z = 0.0) {
  Pts p;
  for (int i = 0; i < n; ++i) {
    const double t = kTwoPi * i / n, rr = r + (i % 2 ? 0.5 : -0.5) * w;
    double q[3];
    Place(rr * std::cos(t), rr * std::sin(t), z, o, s, q);
    p.add(q);
  }
  return p;
}

TEST_F(InspectTest, RoundnessAndConcentricityOfASection) {
  const double o[3] = {1, 2, 3};
  for (double s : {1e-3, 1.0, 1e3}) {
    SCOPED_TRACE(s);
    Pts p = Ring(o, 2.0, 0.02, 40, s);
    Xform frame;
    double centre[2], inner, outer, level, radius;
    const double w = CircularityDist(p.get(), frame, centre, &inner, &outer, &level);
    // The alternating radii make a zone no wider than their spread.
    EXPECT_GT(w, 0.0);
    EXPECT_LE(w, 0.02 * s * (1 + 1e-4));
    EXPECT_NEAR(outer - inner, w, 1e-12 * s);
    double reference[3];
    Place(0, 0, 0, o, s, reference);
    EXPECT_NEAR(ConcentricityDist2(p.get(), frame, centre, &radius, &level, reference), 0.0, 1e-5 * s);
    EXPECT_NEAR(radius, 2.0 * s, 1e-3 * s);
    Place(0.3, -0.4, 0, o, s, reference);  // 0.5 away in the section's plane
    EXPECT_NEAR(ConcentricityDist2(p.get(), frame, centre, &radius, &level, reference), 0.5 * s, 1e-5 * s);
  }
  Pts three = Ring(o, 1.0, 0.0, 3, 1.0);
  Xform frame;
  double centre[2], inner, outer, level;
  EXPECT_EQ(CircularityDist(three.get(), frame, centre, &inner, &outer, &level), 0.0);
  three.x.pop_back(), three.y.pop_back(), three.z.pop_back();
  EXPECT_EQ(CircularityDist(three.get(), frame, centre, &inner, &outer, &level), -1.0);
}

// A cylinder of radius r along kFrame's row 2 through local origin o, heights 0..len.
Pts Tube(const double o[3], double r, double len, double s) {
  Pts p;
  for (int i = 0; i < 6; ++i)
    for (int j = 0; j < 10; ++j) {
      const double t = kTwoPi * (j + 0.3 * i) / 10;
      double q[3];
      Place(r * std::cos(t), r * std::sin(t), len * i / 5, o, s, q);
      p.add(q);
    }
  return p;
}

TEST_F(InspectTest, CylindricityAndCoaxialityOfATube) {
  const double o[3] = {-1, 4, 2};
  for (double s : {1.0, 1e3}) {
    SCOPED_TRACE(s);
    Pts p = Tube(o, 1.5, 6.0, s);
    Xform frame;
    double centre[2], inner, outer, zMin, zMax, foot[3], radius;
    EXPECT_NEAR(CylindricityDist(p.get(), frame, centre, &inner, &outer, &zMin, &zMax), 0.0, 1e-5 * s);
    EXPECT_NEAR(std::fabs(zMax - zMin), 6.0 * s, 1e-4 * s);
    double linePoint[3];
    const double dir[3] = {kFrame[2][0], kFrame[2][1], kFrame[2][2]};
    Place(0, 0, -7, o, s, linePoint);
    EXPECT_NEAR(CoaxialityDist2(p.get(), frame, foot, &radius, &zMin, &zMax, linePoint, dir), 0.0, 1e-5 * s);
    EXPECT_NEAR(radius, 1.5 * s, 1e-5 * s);
    Place(0.6, 0.8, 3, o, s, linePoint);  // a parallel line 1 away
    EXPECT_NEAR(CoaxialityDist2(p.get(), frame, foot, &radius, &zMin, &zMax, linePoint, dir), s, 1e-5 * s);
  }
  Pts p = Tube(o, 1.0, 2.0, 1.0);
  p.x.resize(9), p.y.resize(9), p.z.resize(9);
  Xform frame;
  double centre[2], inner, outer, zMin, zMax;
  EXPECT_EQ(CylindricityDist(p.get(), frame, centre, &inner, &outer, &zMin, &zMax), -1.0);
}

TEST_F(InspectTest, LocalRadiusOfCurvatureOnASphere) {
  const double c[3] = {3, -2, 1};
  for (double s : {1.0, 1e3}) {
    Pts p;
    for (int i = 1; i < 10; ++i)
      for (int j = 0; j < 12; ++j) {
        const double th = 3.141592653589793 * i / 10, ph = kTwoPi * j / 12;
        const double q[3] = {s * (c[0] + 4 * std::sin(th) * std::cos(ph)), s * (c[1] + 4 * std::sin(th) * std::sin(ph)),
                             s * (c[2] + 4 * std::cos(th))};
        p.add(q);
      }
    double centre[3];
    EXPECT_NEAR(PointRadCurva(p.get(), 40, 3.0 * s, centre), 4 * s, 1e-4 * s);
    EXPECT_NEAR(centre[0], c[0] * s, 1e-3 * s);
    EXPECT_EQ(PointRadCurva(p.get(), 40, 1e-3 * s, centre), -1.0);
    EXPECT_EQ(PointRadCurva(p.get(), -1, 3.0 * s, centre), -1.0);
    EXPECT_EQ(PointRadCurva(p.get(), p.get()->npts, 3.0 * s, centre), -1.0);
  }
  double pt[3];
  const PlaneEq z2 = {0, 0, 1, -2};
  GetArbitPointOnPlane(z2, pt);
  EXPECT_EQ(pt[0], 0.0);
  EXPECT_EQ(pt[2], 2.0);
}

TEST_F(InspectTest, NearestIndexAgreesWithBruteForce) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> U(0.0, 10.0);
  for (int na : {40, 700}) {
    SCOPED_TRACE(na);
    Pts a, b;
    for (int i = 0; i < na; ++i) {
      const double q[3] = {U(rng), U(rng), U(rng) * 0.2};
      a.add(q);
    }
    for (int i = 0; i < 300; ++i) {
      const double q[3] = {U(rng), U(rng), U(rng) * 0.2};
      b.add(q);
    }
    const double r = 0.8;
    Bbox box = {0, 0, 0, 10, 10, 2};
    std::vector<int> index(300, 7);
    int hits = -1;
    StubReset();
    ASSERT_EQ(CloudCloudDiffIndex(a.get(), b.get(), r, index.data(), &hits, box), 0);
    int expectedHits = 0;
    for (int k = 0; k < 300; ++k) {
      int best = -1;
      double bestD2 = r * r;
      for (int i = 0; i < na; ++i) {
        const double dx = a.x[i] - b.x[k], dy = a.y[i] - b.y[k], dz = a.z[i] - b.z[k];
        const double d2 = dx * dx + dy * dy + dz * dz;
        if (d2 < bestD2) bestD2 = d2, best = i;
      }
      EXPECT_EQ(index[k], best) << k;
      expectedHits += best >= 0;
    }
    EXPECT_EQ(hits, expectedHits);
    const StubThermometer t = StubGetThermometer();
    EXPECT_EQ(t.outOfRange, 0);
    EXPECT_EQ(t.open, 0);
    EXPECT_LE(t.value, 100);
  }
  // A point exactly r from its nearest is not within r.
  Pts one, probe;
  const double p0[3] = {0, 0, 0}, p1[3] = {0.5, 0, 0};
  one.add(p0);
  probe.add(p1);
  Bbox box = {0, 0, 0, 1, 1, 1};
  int index = 3, hits = -1;
  ASSERT_EQ(CloudCloudDiffIndex(one.get(), probe.get(), 0.5, &index, &hits, box), 0);
  EXPECT_EQ(index, -1);
  EXPECT_EQ(hits, 0);
}

TEST_F(InspectTest, BreaksAndFailuresLeaveNothing) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> U(0.0, 1.0);
  Pts a, b;
  for (int i = 0; i < 1200; ++i) {
    const double q[3] = {U(rng), U(rng), U(rng)};
    a.add(q);
    b.add(q);
  }
  Bbox box = {0, 0, 0, 1, 1, 1};
  std::vector<int> index(1200);
  int hits;
  StubReset();
  const long before = StubUserBreakPolls();
  StubBreakAfterPolls(1);
  // The grid's own polls come first; whichever poll breaks, the run ends -1 with nothing held.
  const int rc = CloudCloudDiffIndex(a.get(), b.get(), 0.1, index.data(), &hits, box);
  EXPECT_LT(rc, 0);
  EXPECT_GT(StubUserBreakPolls(), before);
  EXPECT_EQ(StubGetThermometer().open, 0);
  EXPECT_EQ(MallocTrackedCount(), 0);
  StubReset();
  RunWithInjectedFailures(60, 1, [&] {
    return CloudCloudDiffIndex(a.get(), b.get(), 0.1, index.data(), &hits, box) == 0 ? 0 : -2;
  });
  const double o[3] = {0, 0, 0};
  Pts ring = Ring(o, 1.0, 0.01, 30, 1.0);
  RunWithInjectedFailures(60, 1, [&] {
    Xform frame;
    double centre[2], inner, outer, level;
    return CircularityDist(ring.get(), frame, centre, &inner, &outer, &level) >= 0.0 ? 0 : -2;
  });
  Pts tube = Tube(o, 1.0, 2.0, 1.0);
  RunWithInjectedFailures(60, 3, [&] {
    Xform frame;
    double centre[2], inner, outer, zMin, zMax;
    return CylindricityDist(tube.get(), frame, centre, &inner, &outer, &zMin, &zMax) >= 0.0 ? 0 : -2;
  });
}

}  // namespace
