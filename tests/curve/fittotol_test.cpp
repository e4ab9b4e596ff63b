// Curvature points of ordered clouds and fits to a tolerance: deviations measured here by dense
// projection, held ends, knots only where needed, the interpolant when knots run out, the same
// answer at every scale, clean failure on a user break and the fitting globals left alone.
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "bspline/nubs.h"
#include "bspline/refines2.h"
#include "bspline/sfree.h"
#include "cloud/makecld.h"
#include "curve/crverr.h"
#include "curve/fitcurve.h"
#include "curve/fittotol.h"
#include "foundation/vec3.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class FitToToleranceTest : public KernelTest {};

using CloudOwner = Owned<Cloud, FreeCloud>;

Cloud* CloudOf(const std::vector<double>& xyz, double scale = 1.0) {
  const int n = int(xyz.size() / 3);
  std::vector<float> x(n), y(n), z(n);
  for (int i = 0; i < n; ++i)
    x[i] = float(scale * xyz[3 * i]), y[i] = float(scale * xyz[3 * i + 1]), z[i] = float(scale * xyz[3 * i + 2]);
  return MakeCld(x.data(), y.data(), z.data(), n, nullptr);
}

// A polyline of segments of length h along the turtle path: straight runs and arcs (turn in
// degrees over an arc length), in the plane z = 0.
struct Turtle {
  std::vector<double> pts{0, 0, 0};
  double heading = 0, h;
  explicit Turtle(double step) : h(step) {}
  void Go(double length, double turn = 0) {
    const int steps = int(std::lround(length / h));
    for (int i = 0; i < steps; ++i) {
      heading += turn * M_PI / 180 / steps;
      const size_t k = pts.size();
      pts.insert(pts.end(), {pts[k - 3] + h * std::cos(heading), pts[k - 2] + h * std::sin(heading), 0.0});
    }
  }
  int Count() const { return int(pts.size() / 3); }
};

// The curvature points of the path, split into peaks (in output order) and transitions.
void CurvaturePoints(const Turtle& path, double spacing, std::vector<int>* peaks, std::vector<int>* ends,
                     std::vector<int>* order) {
  CloudOwner c(CloudOf(path.pts));
  std::vector<int> idx(path.Count());
  int k = -1;
  ASSERT_EQ(GetCldMaxCurv(c.get(), idx.data(), &k, spacing), 0);
  std::vector<double> cv(path.Count()), seg(path.Count());
  std::vector<double> D(3 * path.Count());
  double total;
  ASSERT_EQ(GetCloudCurvature(c.get(), cv.data(), spacing, reinterpret_cast<double(*)[3]>(D.data()), seg.data(), &total), 0);
  order->assign(idx.begin(), idx.begin() + k);
  for (int i : *order) (cv[i] >= 0.1 ? peaks : ends)->push_back(i);
}

TEST_F(FitToToleranceTest, CurvaturePointsMarkBendsTheirApexesAndWhereTheyBeginAndEnd) {
  std::vector<int> peaks, ends, order;
  Turtle straight(0.01);
  straight.Go(3);
  CurvaturePoints(straight, 0.4, &peaks, &ends, &order);
  EXPECT_TRUE(order.empty()) << "a straight cloud has no curvature points";
  Turtle two(0.01);
  two.Go(0.01);
  CloudOwner tiny(CloudOf(two.pts));
  int idx[2], k = -1;
  EXPECT_EQ(GetCldMaxCurv(tiny.get(), idx, &k, 0.4), 0);
  EXPECT_EQ(k, 0);
  EXPECT_EQ(GetCldMaxCurv(tiny.get(), idx, &k, 0.0), -2) << "spacing must be positive";

  // One bend: 2 straight, a quarter turn over 0.6, 2 straight.
  Turtle bend(0.01);
  bend.Go(2);
  const int arcFrom = bend.Count();
  bend.Go(0.6, 90);
  const int arcTo = bend.Count();
  bend.Go(2);
  peaks.clear(), ends.clear();
  CurvaturePoints(bend, 0.4, &peaks, &ends, &order);
  ASSERT_FALSE(peaks.empty());
  ASSERT_EQ(ends.size(), 2u);
  EXPECT_TRUE(peaks.front() >= arcFrom && peaks.front() <= arcTo) << peaks.front();
  for (int p : peaks) EXPECT_TRUE(p > std::min(ends[0], ends[1]) && p < std::max(ends[0], ends[1]));
  EXPECT_LT(std::min(ends[0], ends[1]), arcFrom);
  EXPECT_GT(std::max(ends[0], ends[1]), arcTo);
  // Peaks come first, the transition points last.
  EXPECT_EQ(std::vector<int>(order.end() - 2, order.end()), ends);

  // An S: a left turn straight into a right turn gives a run for each, split at the reversal.
  Turtle s(0.01);
  s.Go(2);
  const int leftFrom = s.Count();
  s.Go(0.8, 90);
  const int rightFrom = s.Count();
  s.Go(0.8, -90);
  const int rightTo = s.Count();
  s.Go(2);
  peaks.clear(), ends.clear();
  CurvaturePoints(s, 0.4, &peaks, &ends, &order);
  int left = 0, right = 0;
  for (int p : peaks) (p < rightFrom ? left : right) += 1;
  EXPECT_GE(left, 1);
  EXPECT_GE(right, 1);
  for (int p : peaks) EXPECT_TRUE(p > leftFrom - 30 && p < rightTo + 30) << p;
}

// A smooth space curve with several bends, sampled with noise of a thousandth of its size.
std::vector<double> Bends(int n, unsigned seed, double noise) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> N(0.0, noise);
  std::vector<double> pts;
  for (int i = 0; i < n; ++i) {
    const double s = 4.0 * i / (n - 1);
    pts.insert(pts.end(), {s + N(rng), std::sin(2.5 * s) + N(rng), 0.3 * std::cos(1.7 * s) + N(rng)});
  }
  return pts;
}

// Largest and per-point distances of the points to the curve: nearest of 2000 samples refined.
std::vector<double> Deviations(Bspline* c, const std::vector<double>& pts, double scale = 1.0) {
  const int m = 2000;
  std::vector<double> samples(3 * (m + 1));
  for (int i = 0; i <= m; ++i) Eval3DPointOnCurve3Coord(c, c->umin + (c->umax - c->umin) * i / m, 0, &samples[3 * i]);
  std::vector<double> out;
  for (size_t k = 0; k < pts.size(); k += 3) {
    const double P[3] = {double(float(scale * pts[k])), double(float(scale * pts[k + 1])), double(float(scale * pts[k + 2]))};
    int best = 0;
    for (int i = 1; i <= m; ++i)
      if (VecDist3(P, &samples[3 * i]) < VecDist3(P, &samples[3 * best])) best = i;
    double t = c->umin + (c->umax - c->umin) * best / m, C[3], d2, step;
    FindClosestPointCurve3(c, P, C, c->umin, c->umax, &t, &d2, &step, 20);
    out.push_back(std::min(std::sqrt(d2), VecDist3(P, &samples[3 * best])));
  }
  return out;
}

TEST_F(FitToToleranceTest, FitsMeetTheToleranceWithHeldEndsAtEveryScale) {
  const std::vector<double> pts = Bends(300, 3, 1e-3);
  const double tol = 0.01;
  int nCtrl[3] = {};
  const double scales[3] = {1.0, 1e-6, 1e6};
  for (int s = 0; s < 3; ++s) {
    CloudOwner cloud(CloudOf(pts, scales[s]));
    int status = 7;
    Owned<Bspline, FreeBspline> c(FitToTolerance(cloud.get(), nullptr, tol * scales[s], 0.5 * scales[s], 0, 3, 0, 0, 0, &status, 0, 0));
    ASSERT_TRUE(c) << scales[s];
    EXPECT_EQ(status, 7);
    nCtrl[s] = NumCtrlU(c.get());
    const std::vector<double> d = Deviations(c.get(), pts, scales[s]);
    EXPECT_LE(*std::max_element(d.begin(), d.end()), tol * scales[s] * 1.0001) << scales[s];
    const int last = NumCtrlU(c.get()) - 1;
    EXPECT_EQ(c->X[0][0], cloud->x[0]);
    EXPECT_EQ(c->Z[0][last], cloud->z[299]);
    EXPECT_TRUE(c->umin == 0.0 && c->umax == 1.0);
  }
  EXPECT_LT(nCtrl[0], 60) << "knots only where the tolerance asks for them";
  EXPECT_EQ(nCtrl[1], nCtrl[0]);
  EXPECT_EQ(nCtrl[2], nCtrl[0]);
  EXPECT_NE(Messages().find("Maximum deviation = "), std::string::npos);

  // Mode 2: at least the fraction of the points within the tolerance, with fewer control points.
  CloudOwner cloud(CloudOf(pts));
  Owned<Bspline, FreeBspline> c(FitToTolerance(cloud.get(), nullptr, tol, 0.5, 0, 3, 0, 0, 0, nullptr, 2, 0.8));
  ASSERT_TRUE(c);
  const std::vector<double> d = Deviations(c.get(), pts);
  EXPECT_GE(std::count_if(d.begin(), d.end(), [&](double v) { return v <= tol * 1.0001; }), 240);
  EXPECT_LE(NumCtrlU(c.get()), nCtrl[0]);
}

// Whatever passes run, the curve handed back is the best one measured: the reported deviation
// is the returned curve's own, never worse than the plain fit's; with no passes it is the plain
// fit itself. The corrected parameters keep rising.
TEST_F(FitToToleranceTest, RefitsHandBackTheBestCurveTheyReport) {
  const std::vector<double> pts = Bends(150, 11, 2e-3);
  CloudOwner cloud(CloudOf(pts));
  std::vector<double> t0(150);
  double length;
  GetCloudParameters(cloud.get(), 0, t0.data(), &length);
  double ends[2][3] = {{cloud->x[0], cloud->y[0], cloud->z[0]}, {cloud->x[149], cloud->y[149], cloud->z[149]}};
  int idx[2] = {0, 9};
  Owned<Bspline, FreeBspline> plain(BuildRandomCurve(4, 3, 10));
  std::vector<double> t = t0;
  ASSERT_EQ(FindAllCurveCoefi3(plain.get(), t.data(), cloud->x, cloud->y, cloud->z, 150, ends, idx, 2, 1e6, 0, 0.1), 0);
  double plainSq, wp;
  int wi;
  ASSERT_EQ(FindCurveBsplineCloudMaxDiff(plain.get(), cloud.get(), &wp, &plainSq, &wi), 0);
  struct Case {
    int corrections, weightings;
    double tolSq;
  } cases[] = {{0, 0, -1}, {3, 0, -1}, {0, 5, -1}, {15, 15, 1e-8}, {15, 40, -1}};
  for (const Case& k : cases) {
    Owned<Bspline, FreeBspline> c(BuildRandomCurve(4, 3, 10));
    t = t0;
    double maxSq = 0, worst = 0;
    ASSERT_EQ(RefitCurve3(cloud.get(), c.get(), t.data(), k.corrections, k.tolSq, k.weightings, &maxSq, &worst, 0, 3, 1e6, 0, 0.1), 0);
    double measured;
    ASSERT_EQ(FindCurveBsplineCloudMaxDiff(c.get(), cloud.get(), &wp, &measured, &wi), 0);
    EXPECT_NEAR(maxSq, measured, 1e-12 * measured) << k.corrections << " " << k.weightings;
    EXPECT_LE(maxSq, plainSq * (1 + 1e-12));
    for (int i = 1; i < 150; ++i) EXPECT_LE(t[i - 1], t[i]);
    if (k.corrections == 0 && k.weightings == 0) {
      for (int i = 0; i < 10; ++i) EXPECT_EQ(c->Y[0][i], plain->Y[0][i]);
    }
  }
}

TEST_F(FitToToleranceTest, StraightCloudsNeedNoKnotAndExhaustedKnotsInterpolate) {
  std::vector<double> line;
  for (int i = 0; i < 50; ++i) line.insert(line.end(), {0.1 * i, 0.05 * i, 1.0});
  CloudOwner straight(CloudOf(line));
  Owned<Bspline, FreeBspline> c(FitToTolerance(straight.get(), nullptr, 1e-4, 0.5, 0, 3, 0, 0, 0, nullptr, 0, 0));
  ASSERT_TRUE(c);
  EXPECT_EQ(c->interiorU, 0);

  // Ten noisy points and a tolerance nothing but the interpolant meets.
  const std::vector<double> pts = Bends(10, 5, 0.05);
  CloudOwner cloud(CloudOf(pts));
  Owned<Bspline, FreeBspline> all(FitToTolerance(cloud.get(), nullptr, 1e-9, 0.5, 0, 3, 0, 0, 0, nullptr, 0, 0));
  ASSERT_TRUE(all);
  for (double d : Deviations(all.get(), pts)) EXPECT_LT(d, 1e-5);
  EXPECT_NE(Messages().rfind("Maximum deviation = 0"), std::string::npos);

  // Too few points: the status says which, and nothing is made.
  int status = 0;
  CloudOwner three(CloudOf({0, 0, 0, 1, 0, 0, 1, 1, 0}));
  EXPECT_EQ(FitToTolerance(three.get(), nullptr, 0.1, 0.5, 1, 3, 0, 0, 0, &status, 0, 0), nullptr);
  EXPECT_EQ(status, -1);
  CloudOwner one(CloudOf({0, 0, 0}));
  EXPECT_EQ(FitToTolerance(one.get(), nullptr, 0.1, 0.5, 0, 3, 0, 0, 0, &status, 0, 0), nullptr);
  EXPECT_EQ(status, -2);
  // Coincident points: their interpolant.
  CloudOwner same(CloudOf({1, 2, 3, 1, 2, 3, 1, 2, 3}));
  Owned<Bspline, FreeBspline> dot(FitToTolerance(same.get(), nullptr, 0.1, 0.5, 0, 3, 0, 0, 0, &status, 0, 0));
  ASSERT_TRUE(dot);
  double p[3];
  Eval3DPointOnCurve3Coord(dot.get(), dot->umin, 0, p);
  EXPECT_EQ(p[1], 2.0);
}

TEST_F(FitToToleranceTest, ClosedCloudsGiveClosedCurvesWithinTolerance) {
  std::vector<double> ring;
  for (int i = 0; i < 120; ++i) {
    const double a = 2 * M_PI * i / 120;
    ring.insert(ring.end(), {2 * std::cos(a), std::sin(a), 0.2 * std::sin(3 * a)});
  }
  CloudOwner cloud(CloudOf(ring));
  Owned<Bspline, FreeBspline> c(FitToTolerance(cloud.get(), nullptr, 0.01, 0.5, 1, 3, 0, 0, 0, nullptr, 0, 0));
  ASSERT_TRUE(c);
  const std::vector<double> d = Deviations(c.get(), ring);
  EXPECT_LE(*std::max_element(d.begin(), d.end()), 0.01 * 1.0001);
  double a[3], b[3];
  Eval3DPointOnCurve3Coord(c.get(), c->umin, 0, a);
  Eval3DPointOnCurve3Coord(c.get(), c->umax, 0, b);
  EXPECT_LT(VecDist3(a, b), 1e-6);
}

TEST_F(FitToToleranceTest, BreaksAndFailuresLeaveNothingBehindAndTheGlobalsAsTheyWere) {
  const std::vector<double> pts = Bends(200, 9, 1e-3);
  CloudOwner cloud(CloudOf(pts));
  StubSetUserBreak(1);
  EXPECT_EQ(FitToTolerance(cloud.get(), nullptr, 1e-3, 0.5, 0, 3, 0, 0, 0, nullptr, 0, 0), nullptr);
  StubSetUserBreak(0);
  EXPECT_GT(StubUserBreakPolls(), 0);

  BsplineKeeper keep;
  Bspline* start = keep(BuildRandomCurve(2, 3, 6));
  Cloud* clouds[3] = {CloudOf(pts), CloudOf(Bends(80, 4, 1e-3)), CloudOf({0, 0, 0, 1, 0, 0, 2, 0, 0, 3, 0, 0})};
  Global_Tension = 0.1 + 1e-17, Global_Roughness = 0.7 / 3, Global_Sigma = 1.0 / 7;
  const double saved[3] = {Global_Tension, Global_Roughness, Global_Sigma};
  auto same = [&] {
    return std::memcmp(&saved[0], &Global_Tension, 8) == 0 && std::memcmp(&saved[1], &Global_Roughness, 8) == 0 &&
           std::memcmp(&saved[2], &Global_Sigma, 8) == 0;
  };
  Bspline** out = CurveBasedFitCurvesToTolerance(clouds, 3, start, 0.01);
  ASSERT_NE(out, nullptr);
  EXPECT_TRUE(same());
  // Ordered by curvature points, not as given: every cloud has one curve within the tolerance.
  const std::vector<double> sets[3] = {pts, Bends(80, 4, 1e-3), {0, 0, 0, 1, 0, 0, 2, 0, 0, 3, 0, 0}};
  int matched[3] = {};
  for (int i = 0; i < 3; ++i) {
    ASSERT_NE(out[i], nullptr);
    for (int j = 0; j < 3; ++j) {
      const std::vector<double> d = Deviations(out[i], sets[j]);
      if (sets[j].size() / 3 == size_t(clouds[j]->npts) && *std::max_element(d.begin(), d.end()) <= 0.01 * 1.0001)
        ++matched[j];
    }
  }
  for (int j = 0; j < 3; ++j) EXPECT_GE(matched[j], 1) << j;
  EXPECT_EQ(out[0]->degreeU, 3);
  for (int i = 0; i < 3; ++i) FreeBspline(out[i]);
  Free(out);
  EXPECT_EQ(CurveBasedFitCurvesToTolerance(clouds, 3, nullptr, 0.01), nullptr);
  RunWithInjectedFailures(3000, 97, [&] {
    Bspline** r = CurveBasedFitCurvesToTolerance(clouds, 3, start, 0.01);
    EXPECT_TRUE(same());
    if (!r) return -2;
    for (int i = 0; i < 3; ++i) FreeBspline(r[i]);
    Free(r);
    return 0;
  });
  for (Cloud* c : clouds) FreeCloud(c);
}

}  // namespace

namespace {

// Clouds holding a NaN or an infinity, or huge coordinates: a clean failure or a curve of finite
// numbers, never NaNs handed back as a fit.
TEST_F(FitToToleranceTest, BadCoordinatesFailCleanly) {
  std::mt19937 rng(17);
  const double bad[3] = {std::nan(""), INFINITY, 1e30};
  int made = 0, refused = 0;
  for (int trial = 0; trial < 30; ++trial) {
    std::vector<double> pts = Bends(40 + trial, trial, 1e-3);
    pts[rng() % pts.size()] = bad[trial % 3];
    CloudOwner cloud(CloudOf(pts));
    Owned<Bspline, FreeBspline> c(FitToTolerance(cloud.get(), nullptr, 1e-2, 0.5, trial % 2, 3, 0, 0, 0, nullptr, 0, 0));
    ClearKernelError();
    if (!c) {
      ++refused;
      continue;
    }
    ++made;
    for (int i = 0; i < NumCtrlU(c.get()); ++i)
      EXPECT_TRUE(std::isfinite(c->X[0][i]) && std::isfinite(c->Y[0][i]) && std::isfinite(c->Z[0][i])) << trial;
  }
  EXPECT_EQ(made + refused, 30);
}

}  // namespace

// A fit without a curvature window, or with a tolerance below zero, is refused with the status
// and the error state; a tolerance of zero is the finest the single-precision points carry (1e-6
// of their extent): met at every size with about the same knots and one status message per call.
TEST_F(FitToToleranceTest, RefusalsAndTheFinestToleranceAtEverySize) {
  const std::vector<double> pts = Bends(150, 5, 0.0);
  CloudOwner cloud(CloudOf(pts));
  for (double spacing : {0.0, -1.0, std::nan(""), double(INFINITY)}) {
    int status = 7;
    EXPECT_EQ(FitToTolerance(cloud.get(), nullptr, 1e-3, spacing, 0, 3, 0, 0, 0, &status, 0, 0), nullptr);
    EXPECT_EQ(status, -2) << spacing;
    EXPECT_TRUE(KernelFailedNow()) << spacing;
    ClearKernelError();
  }
  int status = 7;
  EXPECT_EQ(FitToTolerance(cloud.get(), nullptr, -1e-3, 0.5, 0, 3, 0, 0, 0, &status, 0, 0), nullptr);
  EXPECT_EQ(status, -2);
  EXPECT_TRUE(KernelFailedNow());
  ClearKernelError();

  const double extent = 4.0;  // x runs over [0, 4], the largest side of the box
  int nCtrl[5] = {};
  const double scales[5] = {1e-6, 1e-3, 1.0, 1e3, 1e6};
  for (int s = 0; s < 5; ++s) {
    CloudOwner scaled(CloudOf(pts, scales[s]));
    const size_t before = Messages().size();
    Owned<Bspline, FreeBspline> c(FitToTolerance(scaled.get(), nullptr, 0.0, 0.5 * scales[s], 0, 3, 0, 0, 0, &status, 0, 0));
    ASSERT_TRUE(c) << scales[s];
    nCtrl[s] = NumCtrlU(c.get());
    EXPECT_LT(nCtrl[s], 150) << "fewer control points than the interpolant's";
    const std::vector<double> d = Deviations(c.get(), pts, scales[s]);
    EXPECT_LE(*std::max_element(d.begin(), d.end()), 1e-6 * extent * scales[s] * 1.01) << scales[s];
    const std::string shown = Messages().substr(before);
    EXPECT_EQ(shown.find("Control points = "), shown.rfind("Control points = ")) << "one message";
  }
  // At the finest tolerance the points' own rounding, which differs with the size, steers a
  // few knots.
  for (int s = 0; s < 5; ++s) EXPECT_NEAR(nCtrl[s], nCtrl[2], 0.05 * nCtrl[2]) << scales[s];
}

namespace {

// A straight run of points off their line by a normal noise of sigma in every coordinate: a
// tolerance of 1.7 sigma is below what a smooth curve can meet at every point (a quarter of the
// points lie further from the line), and knots only chase single points. The search stops once
// the deviation no longer falls, hands back the best fit (a few control points, close to the
// line) and says why, the same at every size.
TEST_F(FitToToleranceTest, ToleranceBelowTheNoiseStopsWhenTheDeviationNoLongerFalls) {
  const int n = 800;
  const double sigma = 1e-3;
  std::mt19937 rng(3);
  std::normal_distribution<double> N(0.0, sigma);
  std::vector<double> pts;
  for (int i = 0; i < n; ++i) {
    const double s = double(i) / (n - 1);
    pts.insert(pts.end(), {s + N(rng), 0.5 * s + N(rng), 0.2 * s + N(rng)});
  }
  int atUnit = 0;
  for (double scale : {1.0, 1e-6, 1e6}) {
    CloudOwner cloud(CloudOf(pts, scale));
    const size_t before = Messages().size();
    Owned<Bspline, FreeBspline> c(
        FitToTolerance(cloud.get(), nullptr, 1.7 * sigma * scale, 0.1 * scale, 0, 3, 0, 0, 0, nullptr, 0, 0));
    ASSERT_TRUE(c) << scale;
    if (scale == 1.0) atUnit = NumCtrlU(c.get());
    EXPECT_EQ(NumCtrlU(c.get()), atUnit) << scale;
    EXPECT_LT(NumCtrlU(c.get()), 40) << scale;
    const std::string shown = Messages().substr(before);
    EXPECT_NE(shown.find("stopped falling"), std::string::npos) << shown;
    // Within a few sigma of the line everywhere.
    for (int i = 0; i <= 100; ++i) {
      double P[3];
      Eval3DPointOnCurve3Coord(c.get(), c->umin + (c->umax - c->umin) * i / 100, 0, P);
      const double s = (P[0] + 0.5 * P[1] + 0.2 * P[2]) / 1.29;
      EXPECT_LT(std::hypot(P[0] - s, P[1] - 0.5 * s, P[2] - 0.2 * s), 3 * sigma * scale) << scale;
    }
  }
}

}  // namespace

namespace {

// Exact points of an under-resolved smooth curve: the largest deviation may not halve for a
// while as single knots go in, but the points' mean deviation keeps falling, so the search goes
// on to the tolerance and never blames noise the points do not have.
TEST_F(FitToToleranceTest, CleanSpiralIsFittedToItsToleranceWithoutBlamingNoise) {
  const int n = 2000;
  std::vector<double> pts;
  for (int i = 0; i < n; ++i) {
    const double a = 8 * M_PI * i / (n - 1), r = 0.1 + 0.4 * i / (n - 1);
    pts.insert(pts.end(), {r * std::cos(a), r * std::sin(a), 0.0});
  }
  CloudOwner cloud(CloudOf(pts));
  const double tol = 1e-4;  // of the size (1)
  const size_t before = Messages().size();
  int status = 0;
  double dev = -1.0;
  Owned<Bspline, FreeBspline> c(
      FitToToleranceMeasured(cloud.get(), nullptr, tol, 0.1, 0, 3, &status, 0, 0, &dev));
  ASSERT_TRUE(c);
  EXPECT_LE(dev, tol);
  const std::vector<double> d = Deviations(c.get(), pts, 1.0);
  EXPECT_LE(*std::max_element(d.begin(), d.end()), 1.01 * tol);
  EXPECT_EQ(Messages().substr(before).find("stopped falling"), std::string::npos);
}

}  // namespace

namespace {

// A spiral of 600 exact points (four turns, the radius growing from 0.1 to 0.5): a curve with
// few knots skips its inner loops, and the closest points of those loops lie on the curve's
// start, in spans that already hold many knots. Knots go into the span where the worst point is
// fitted, so the deviation falls to the tolerance at an everyday size as at unit size, and no
// noise is blamed.
TEST_F(FitToToleranceTest, CleanSpiralGetsKnotsWhereItsWorstPointIsFitted) {
  const int n = 600;
  std::vector<double> pts;
  for (int i = 0; i < n; ++i) {
    const double a = 8 * M_PI * i / n, r = 0.1 + 0.4 * i / n;
    pts.insert(pts.end(), {r * std::cos(a), r * std::sin(a), 0.0});
  }
  for (double scale : {1e-3, 1.0}) {
    CloudOwner cloud(CloudOf(pts, scale));
    const double tol = 1e-4 * scale;
    const size_t before = Messages().size();
    int status = 0;
    double dev = -1.0;
    Owned<Bspline, FreeBspline> c(
        FitToToleranceMeasured(cloud.get(), nullptr, tol, 0.1 * scale, 0, 3, &status, 0, 0, &dev));
    ASSERT_TRUE(c) << scale;
    EXPECT_LE(dev, tol) << scale;
    const std::vector<double> d = Deviations(c.get(), pts, scale);
    EXPECT_LE(*std::max_element(d.begin(), d.end()), 1.01 * tol) << scale;
    EXPECT_EQ(Messages().substr(before).find("stopped falling"), std::string::npos) << scale;
  }
}

}  // namespace
