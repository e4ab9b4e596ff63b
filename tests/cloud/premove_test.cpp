// Cleaning clouds and point arrays: outliers, reliability, plane cuts, scattered points,
// duplicates, spikes, joins and subtraction.
#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "cloud/makecld.h"
#include "cloud/premove.h"
#include "curve/fitcurve.h"
#include "curve/premove.h"
#include "quadric/premove.h"
#include "quadric/sphere.h"
#include "tests/cloud/tagged_cloud.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class PointArrays : public KernelTest {};
class CloudCleaning : public KernelTest {};

TEST_F(PointArrays, DuplicatesAreComparedWithTheirInputPredecessor) {
  // 1 duplicates 0; 2 is within tol of 1 (dropped) though not of 0; 4 is a plane duplicate
  // only when z is ignored.
  std::vector<double> x = {0, 0.5e-5, 1.2e-5, 1, 1}, y = {0, 0, 0, 2, 2}, z = {0, 0, 0, 3, 4};
  EXPECT_EQ(RemoveDuplicates_d(x.data(), y.data(), z.data(), 5, 1e-5), 3);
  EXPECT_EQ(x[1], 1.0);
  EXPECT_EQ(z[2], 4.0);
  std::vector<double> x2 = {0, 1, 1}, y2 = {0, 2, 2};
  EXPECT_EQ(RemoveDuplicates_d(x2.data(), y2.data(), nullptr, 3, 1e-5), 2);
  EXPECT_EQ(RemoveDuplicates_d(x2.data(), y2.data(), nullptr, 1, 1e-5), 1);
  std::vector<float> fx = {0, 0.5f, 1.0f, 5}, fy(4, 0.0f), fz(4, 0.0f);
  EXPECT_EQ(RemoveDuplicates(fx.data(), fy.data(), fz.data(), 4, 0.6), 2);
  EXPECT_EQ(fx[1], 5.0f);
  // Anywhere in the set: the later of two points closer than tol in x order goes, the kept
  // ones come first in their input order.
  std::vector<float> px = {3, 0, 3.05f, 1, 0.05f}, py(5, 0.0f), pz(5, 0.0f);
  std::vector<int> index(5);
  ASSERT_EQ(RemoveDuplicatePoints(px.data(), py.data(), pz.data(), 5, index.data(), 0.1), 3);
  EXPECT_EQ(std::vector<int>(index.begin(), index.begin() + 3), (std::vector<int>{0, 1, 3}));
  EXPECT_EQ(px[2], 1.0f);
}

TEST_F(PointArrays, ChordParametersRunFromZeroToOne) {
  std::vector<float> x = {0, 3, 3, 3}, y = {0, 4, 4, 8}, z = {0, 0, 0, 0};
  std::vector<double> t(4);
  EXPECT_EQ(normalize_tarray3(x.data(), y.data(), z.data(), 4, t.data()), 9.0);
  EXPECT_EQ(t, (std::vector<double>{0, 5.0 / 9, 5.0 / 9, 1}));
  std::vector<float> same(3, 1.0f);
  std::vector<double> u(3);
  EXPECT_EQ(normalize_tarray3(same.data(), same.data(), same.data(), 3, u.data()), 0.0);
  EXPECT_EQ(u, (std::vector<double>{0, 1e-10, 1e-10}));
}

TEST_F(PointArrays, JoinsMapEveryPointWithinTolAndSubtractionCoversExactly) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> U(0.0f, 10.0f), J(-0.02f, 0.02f);
  const int n1 = 300, n2 = 200;
  const double tol = 0.05;
  std::vector<float> x1(n1), y1(n1), z1(n1), x2(n2), y2(n2), z2(n2);
  for (int i = 0; i < n1; ++i) x1[i] = U(rng), y1[i] = U(rng), z1[i] = U(rng);
  // Half of set 2 sits near set-1 points, half anywhere.
  for (int j = 0; j < n2; ++j) {
    if (j % 2) x2[j] = U(rng), y2[j] = U(rng), z2[j] = U(rng);
    else x2[j] = x1[j] + J(rng), y2[j] = y1[j] + J(rng), z2[j] = z1[j] + J(rng);
  }
  std::vector<float> xo(n1 + n2), yo(n1 + n2), zo(n1 + n2);
  std::vector<int> map(n1 + n2);
  const int m = JoinPointSetsToTol(x1.data(), y1.data(), z1.data(), n1, x2.data(), y2.data(), z2.data(), n2,
                                   xo.data(), yo.data(), zo.data(), map.data(), tol);
  ASSERT_GE(m, n1);
  EXPECT_LE(m, n1 + n2 - n2 / 2);
  auto d2 = [&](float x, float y, float z, int k) {
    return (x - xo[k]) * (x - xo[k]) + (y - yo[k]) * (y - yo[k]) + (z - zo[k]) * (z - zo[k]);
  };
  std::vector<int> hits(m, 0);
  for (int i = 0; i < n1; ++i) {
    ASSERT_LT(map[i], n1);
    EXPECT_EQ(d2(x1[i], y1[i], z1[i], map[i]), 0.0f);
    ++hits[map[i]];
  }
  for (int j = 0; j < n2; ++j) {
    ASSERT_TRUE(map[n1 + j] >= 0 && map[n1 + j] < m);
    EXPECT_LT(d2(x2[j], y2[j], z2[j], map[n1 + j]), tol * tol);
    if (map[n1 + j] >= n1) ++hits[map[n1 + j]];
  }
  EXPECT_EQ(hits, std::vector<int>(m, 1));  // every output is some input's own place
  for (int k = 1; k < n1; ++k) EXPECT_LE(xo[k - 1], xo[k]);
  // An empty first set: the second as it was, identity map.
  std::vector<int> idmap(n2);
  EXPECT_EQ(JoinPointSetsToTol(nullptr, nullptr, nullptr, 0, x2.data(), y2.data(), z2.data(), n2, xo.data(),
                               yo.data(), zo.data(), idmap.data(), tol),
            n2);
  EXPECT_EQ(xo[7], x2[7]);
  EXPECT_EQ(idmap[7], 7);

  // Subtraction: a set minus itself keeps nothing, minus a far set everything; an identity
  // transform acts as none, and a motion that brings B onto A covers A again.
  std::vector<char> keep(n1);
  ASSERT_EQ(SubtractCloudsIndex(x1.data(), y1.data(), z1.data(), x1.data(), y1.data(), z1.data(), n1, n1, nullptr,
                                tol, 0, keep.data()),
            1);
  EXPECT_EQ(keep, std::vector<char>(n1, 0));
  std::vector<float> far(n1, 1e4f), moved(n1);
  for (int i = 0; i < n1; ++i) moved[i] = x1[i] + 7.0f;
  const double identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  ASSERT_EQ(SubtractCloudsIndex(x1.data(), y1.data(), z1.data(), far.data(), y1.data(), z1.data(), n1, n1, identity,
                                tol, 0, keep.data()),
            1);
  EXPECT_EQ(keep, std::vector<char>(n1, 1));
  const double back[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, -7, 0, 0, 1};
  ASSERT_EQ(SubtractCloudsIndex(x1.data(), y1.data(), z1.data(), moved.data(), y1.data(), z1.data(), n1, n1, back,
                                tol, 0, keep.data()),
            1);
  EXPECT_EQ(keep, std::vector<char>(n1, 0));
  // Only the covered half of set 2 goes, checked point by point against brute force.
  std::vector<char> keep2(n2);
  ASSERT_EQ(SubtractCloudsIndex(x2.data(), y2.data(), z2.data(), x1.data(), y1.data(), z1.data(), n2, n1, nullptr,
                                tol, 0, keep2.data()),
            1);
  for (int j = 0; j < n2; ++j) {
    bool covered = false;
    for (int i = 0; i < n1; ++i) {
      const double dx = double(x2[j]) - x1[i], dy = double(y2[j]) - y1[i], dz = double(z2[j]) - z1[i];
      covered = covered || dx * dx + dy * dy + dz * dz < tol * tol;
    }
    EXPECT_EQ(keep2[j], covered ? 0 : 1) << j;
  }
}

// A 20 x 20 patch of the plane z = 0 (spacing 1, noise below 0.01) with four spikes at 2 (ten
// times the tolerance 0.2) far apart, one isolated point and a pair of points off on their own.
Owned<Cloud, FreeCloud> NoisyPatch(std::vector<int>* outliers) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> J(-0.01f, 0.01f);
  std::vector<float> x, y, z;
  for (int r = 0; r < 20; ++r)
    for (int c = 0; c < 20; ++c) {
      const bool spike = (r == 4 || r == 14) && (c == 5 || c == 15);
      if (spike) outliers->push_back(int(x.size()));
      x.push_back(float(c) + J(rng)), y.push_back(float(r) + J(rng)), z.push_back(spike ? 2.0f : J(rng));
    }
  outliers->push_back(int(x.size()));
  x.push_back(100), y.push_back(100), z.push_back(0);
  x.push_back(50), y.push_back(0), z.push_back(30);  // two points with one neighbour each stay
  x.push_back(50.5f), y.push_back(0), z.push_back(30);
  Cloud* c = MakeCld(x.data(), y.data(), z.data(), int(x.size()), nullptr);
  c->reliability = MallocArray<uint8_t>(c->npts);
  for (int i = 0; i < c->npts; ++i) c->reliability[i] = uint8_t(i % 251);
  return Owned<Cloud, FreeCloud>(c);
}

TEST_F(CloudCleaning, OutliersOfAPlanePatchGoAndTheRestKeepTheirData) {
  std::vector<int> outliers;
  auto c = NoisyPatch(&outliers);
  const int n = c->npts;
  std::vector<float> z(c->z, c->z + n);
  // A user break part of the way: nothing changes.
  StubBreakAfterPolls(100);
  EXPECT_EQ(OutlierRemove(c.get(), 3.5, 0.2, 0), 0);
  StubBreakAfterPolls(0);
  EXPECT_EQ(c->npts, n);
  EXPECT_EQ(MallocTrackLevel(), 0);
  ASSERT_EQ(OutlierRemove(c.get(), 3.5, 0.2, 0), 1);
  ASSERT_EQ(c->npts, n - int(outliers.size()));
  // The rest in order with their reliability (i % 251 of their old index).
  for (int i = 0, old = 0; i < c->npts; ++i, ++old) {
    while (std::find(outliers.begin(), outliers.end(), old) != outliers.end()) ++old;
    EXPECT_EQ(c->reliability[i], uint8_t(old % 251));
    EXPECT_EQ(c->z[i], z[old]);
  }
  EXPECT_NE(Messages().find("Remove 3D outlier points"), std::string::npos);
  EXPECT_EQ(StubGetThermometer().outOfRange, 0);
  EXPECT_EQ(StubGetThermometer().open, 0);
}

TEST_F(CloudCleaning, SphereModeDropsPointsOffTheLocalSphere) {
  // 2000 points spread over a sphere of radius 10 (about 30 within 2.5 of each); one pushed out
  // by 1 (tolerance 0.2).
  const int n = 2000;
  std::vector<float> x, y, z;
  for (int i = 0; i < n; ++i) {
    const double h = 1 - 2 * (i + 0.5) / n, r = std::sqrt(1 - h * h), a = i * 2.399963229728653;
    const double s = i == 300 ? 11.0 : 10.0;
    x.push_back(float(s * r * std::cos(a))), y.push_back(float(s * r * std::sin(a))), z.push_back(float(s * h));
  }
  Owned<Cloud, FreeCloud> c(MakeCld(x.data(), y.data(), z.data(), n, nullptr));
  ASSERT_EQ(OutlierRemove(c.get(), 2.5, 0.2, 1), 1);
  ASSERT_EQ(c->npts, n - 1);
  EXPECT_EQ(c->x[300], x[301]);
}

// Every point a neighbour of every other (radius beyond the sphere's diameter), at sizes 1e-3,
// 1 and 1e3: the crowd's sphere still tells the two points pushed off it (inwards and outwards)
// from the 1500 on it.
TEST_F(CloudCleaning, SphereModeInACrowdDropsOnlyThePointsOffTheSphere) {
  const int n = 1500;
  for (double size : {1e-3, 1.0, 1e3}) {
    std::vector<float> x, y, z;
    for (int i = 0; i < n + 2; ++i) {
      const int k = i < n ? i : (i - n) * 700 + 11;
      const double h = 1 - 2 * (k + 0.5) / n, r = std::sqrt(1 - h * h), a = k * 2.399963229728653;
      const double s = size * (i < n ? 10.0 : (i == n ? 11.0 : 9.0));
      x.push_back(float(s * r * std::cos(a))), y.push_back(float(s * r * std::sin(a))), z.push_back(float(s * h));
    }
    Owned<Cloud, FreeCloud> c(MakeCld(x.data(), y.data(), z.data(), n + 2, nullptr));
    ASSERT_EQ(OutlierRemove(c.get(), 25.0 * size, 0.2 * size, 1), 1) << size;
    ASSERT_EQ(c->npts, n) << size;
    for (int i = 0; i < n; ++i) EXPECT_EQ(c->x[i], x[i]) << size << " " << i;
  }
}

// A noisy wavy patch with points lifted off it by 0 to 3 tol: sphere mode keeps exactly the
// points that lie within tol of FitSphere's sphere through their neighbours (found by brute
// force), save those at round-off of the border.
TEST_F(CloudCleaning, SphereModeKeepsWhatTheLeastSquaresSphereOfTheNeighboursKeeps) {
  std::mt19937 rng(21);
  std::uniform_real_distribution<float> J(-0.2f, 0.2f), N(-0.01f, 0.01f), Lift(0.0f, 0.3f);
  const int m = 24;
  const double radius = 3.0, tol = 0.1;
  std::vector<float> x, y, z;
  for (int r = 0; r < m; ++r)
    for (int c = 0; c < m; ++c) {
      const float px = c + J(rng), py = r + J(rng);
      const bool lifted = (r * m + c) % 11 == 0;
      x.push_back(px), y.push_back(py);
      z.push_back(3.0f * std::sin(px / 6.0f) * std::cos(py / 8.0f) + N(rng) + (lifted ? Lift(rng) : 0.0f));
    }
  const int n = m * m;
  std::vector<char> expect(n);
  std::vector<int> border;
  for (int i = 0; i < n; ++i) {
    std::vector<float> nx, ny, nz;
    for (int j = 0; j < n; ++j) {
      const double dx = x[j] - x[i], dy = y[j] - y[i], dz = z[j] - z[i];
      if (j != i && dx * dx + dy * dy + dz * dz <= radius * radius)
        nx.push_back(x[j]), ny.push_back(y[j]), nz.push_back(z[j]);
    }
    double c[3], r, e;
    expect[i] = 1;
    if (nx.empty()) expect[i] = 0;
    if (nx.size() < 4 || FitSphere(nx.data(), ny.data(), nz.data(), int(nx.size()), c, &r, &e) != 0) continue;
    const double d = std::fabs(std::sqrt((x[i] - c[0]) * (x[i] - c[0]) + (y[i] - c[1]) * (y[i] - c[1]) +
                                         (z[i] - c[2]) * (z[i] - c[2])) - r);
    expect[i] = d <= tol;
    if (std::fabs(d - tol) < 1e-5) border.push_back(i);
  }
  int dropped = 0;
  for (int i = 0; i < n; ++i) dropped += !expect[i];
  ASSERT_GT(dropped, 10);  // the lifts reach beyond tol often enough to tell
  Owned<Cloud, FreeCloud> cloud(MakeCld(x.data(), y.data(), z.data(), n, nullptr));
  ASSERT_EQ(OutlierRemove(cloud.get(), radius, tol, 1), 1);
  // The kept points in order: walk the input and match.
  int k = 0;
  for (int i = 0; i < n; ++i) {
    const bool kept = k < cloud->npts && cloud->x[k] == x[i] && cloud->y[k] == y[i] && cloud->z[k] == z[i];
    if (std::find(border.begin(), border.end(), i) == border.end()) {
      EXPECT_EQ(kept, bool(expect[i])) << i;
    }
    k += kept;
  }
  EXPECT_EQ(k, cloud->npts);
}

TEST_F(CloudCleaning, ReliabilityAndPlaneCutsMakeCloudsThatKeepTheirData) {
  Owned<Cloud, FreeCloud> c(tagged::Make());
  int lo = 0, hi = 0;
  ASSERT_EQ(GetMinMaxReliability(c.get(), &lo, &hi), 1);
  EXPECT_EQ(lo, 1);
  EXPECT_EQ(hi, tagged::kPoints);
  ASSERT_EQ(ReliabilitySample(c.get(), 10), 1);
  EXPECT_EQ(c->npts, tagged::kPoints - 9);
  tagged::ExpectDataWithPoints(c.get(), true);
  // Scans run along y at x = scan: the plane x = 3 holds scan 3, which goes to both sides; the
  // same plane scaled cuts the same way.
  for (double k : {1.0, 2.0, 1e-3}) {
    Cloud *above = nullptr, *below = nullptr;
    double boxUp[6], boxDown[6];
    ASSERT_EQ(CutCloudByPlane(c.get(), k, 0, 0, -3 * k, &above, &below, boxUp, boxDown), 1);
    Owned<Cloud, FreeCloud> up(above), down(below);
    ASSERT_TRUE(up && down);
    EXPECT_EQ(boxUp[0], 3.0);
    EXPECT_EQ(boxDown[3], 3.0);
    EXPECT_EQ(up->npts + down->npts, c->npts + tagged::kPlaces);
    tagged::ExpectDataWithPoints(up.get(), true);
    tagged::ExpectDataWithPoints(down.get(), true);
  }
  Cloud *above = nullptr, *below = nullptr;
  // z = 5 above every point, its normal pointing down: every point on the positive side.
  ASSERT_EQ(CutCloudByPlane(c.get(), 0, 0, -1, 5, &above, &below, nullptr, nullptr), 1);
  Owned<Cloud, FreeCloud> all(above), none(below);
  EXPECT_FALSE(none);
  ASSERT_TRUE(all);
  EXPECT_EQ(all->npts, c->npts);
  EXPECT_EQ(CutCloudByPlane(c.get(), 0, 1e-7, 0, 1, &above, &below, nullptr, nullptr), 0);
  EXPECT_FALSE(above || below);
  // Without reliability nothing changes.
  std::vector<float> x = {0, 1, 2};
  Owned<Cloud, FreeCloud> plain(MakeCld(x.data(), x.data(), x.data(), 3, nullptr));
  EXPECT_EQ(ReliabilitySample(plain.get(), 1), 0);
  EXPECT_EQ(GetMinMaxReliability(plain.get(), &lo, &hi), 0);
  EXPECT_EQ(plain->npts, 3);
}

TEST_F(CloudCleaning, ScatteredPointsStandApartFromBothNeighbours) {
  // Gaps 5, 1, 1, 5, 5, 1: point 0 (gap 5 after, none before) goes, point 4 (5 on both sides) goes.
  std::vector<float> x = {0, 5, 6, 7, 12, 17, 18}, y(7, 0.0f), z(7, 0.0f);
  Owned<Cloud, FreeCloud> c(MakeCld(x.data(), y.data(), z.data(), 7, nullptr));
  ASSERT_EQ(RemoveScatteredPoints(c.get(), 5.0), 0);
  EXPECT_EQ(std::vector<float>(c->x, c->x + c->npts), (std::vector<float>{5, 6, 7, 17, 18}));
  ASSERT_EQ(RemoveScatteredPoints(c.get(), 50.0), 0);  // no gap that wide
  EXPECT_EQ(c->npts, 5);
  Owned<Cloud, FreeCloud> two(MakeCld(x.data(), y.data(), z.data(), 2, nullptr));
  EXPECT_EQ(RemoveScatteredPoints(two.get(), 1.0), -2);
  EXPECT_NE(Messages().find("At least 2 points required"), std::string::npos);
  // No mask: the error state is cleared behind the refusal.
  MallocFailAfter(0, -1);
  EXPECT_EQ(RemoveScatteredPoints(c.get(), 5.0), -2);
  MallocFailClear();
  EXPECT_FALSE(KernelFailedNow());
}

// A straight run of 11 points along x with one needle at point 5, as an unordered cloud.
Owned<Cloud, FreeCloud> NeedleRun(double s) {
  std::vector<float> x, y, z;
  for (int i = 0; i <= 10; ++i) x.push_back(float(i * s)), y.push_back(i == 5 ? float(3 * s) : 0.0f), z.push_back(0);
  Cloud* c = MakeCld(x.data(), y.data(), z.data(), 11, nullptr);
  c->charLength = 10 * s;
  return Owned<Cloud, FreeCloud>(c);
}

TEST_F(CloudCleaning, SpikesAreSoughtAlongSlicesWhoseEndsNeverAre) {
  // The tagged cloud's slices run 7..9, 10..13, 14..16: needles at both ends of a slice stay
  // (10 would be a spike of its scan), one inside a slice goes with nothing but itself.
  Owned<Cloud, FreeCloud> c(tagged::Make());
  c->z[10] = c->z[13] = c->z[15] = 5.0f;
  ASSERT_EQ(RemoveSpikesFromClds(c.get(), 0.0, 0, 0), 1);
  ASSERT_EQ(c->npts, tagged::kPoints - 1);
  for (int i = 0; i < c->npts; ++i) EXPECT_NE(tagged::IdAt(c.get(), i), 15);
  tagged::ExpectDataWithPoints(c.get(), true);
}

TEST_F(CloudCleaning, ANeedleIsRemovedMovedOrRefitOntoItsRun) {
  for (double s : {1.0, 1e3}) {
    SCOPED_TRACE(s);
    auto removed = NeedleRun(s);
    ASSERT_EQ(RemoveSpikesFromClds(removed.get(), 0.0, 0, 0), 1);
    ASSERT_EQ(removed->npts, 10);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(removed->y[i], 0.0f);
    auto moved = NeedleRun(s);
    ASSERT_EQ(RemoveSpikesFromClds(moved.get(), 0.0, 1, 1), 1);
    ASSERT_EQ(moved->npts, 11);
    EXPECT_EQ(moved->x[5], float(5 * s));
    EXPECT_EQ(moved->y[5], 0.0f);
    auto refit = NeedleRun(s);
    ASSERT_EQ(RemoveSpikesFromClds(refit.get(), 0.0, 1, 2), 1);
    ASSERT_EQ(refit->npts, 11);
    EXPECT_NEAR(refit->y[5], 0.0, 1e-3 * s);
    EXPECT_NEAR(refit->x[5], 5 * s, 0.1 * s);
    // A cosLimit of 1 finds no spike; -1 makes every bent point one, but the ends never.
    auto none = NeedleRun(s);
    ASSERT_EQ(RemoveSpikesFromClds(none.get(), 1.0, 0, 0), 1);
    EXPECT_EQ(none->npts, 11);
    auto all = NeedleRun(s);
    ASSERT_EQ(RemoveSpikesFromClds(all.get(), -1.0, 0, 0), 1);
    EXPECT_EQ(all->npts, 11 - 3);
  }
}

// Runs attempt on a fresh cloud from make (made before the failures start) with every
// allocation refused after skip = 0, step, 2 step ... successful ones; returns the failed runs.
template <class Make, class Attempt>
int FreshCloudsUnderFailures(long maxSkip, long step, Make make, Attempt attempt) {
  int failures = 0;
  for (long skip = 0; skip < maxSkip; skip += step) {
    ClearKernelError();
    auto c = make();
    MallocFailAfter(skip, -1);
    const int r = attempt(c.get());
    MallocFailClear();
    EXPECT_EQ(MallocTrackLevel(), 0) << skip;
    EXPECT_EQ(MallocTrackedCount(), 0) << skip;
    failures += r != 1;
  }
  ClearKernelError();
  return failures;
}

TEST_F(CloudCleaning, FailedAllocationsChangeNothingAndLeaveNothing) {
  std::vector<int> outliers;
  EXPECT_GT(FreshCloudsUnderFailures(120, 3, [&] { return NoisyPatch(&outliers); }, [&](Cloud* c) {
    const int n = c->npts;
    const int r = OutlierRemove(c, 3.5, 0.2, 0);
    if (r != 1) {
      EXPECT_EQ(c->npts, n);
    }
    return r;
  }), 0);
  EXPECT_GT(FreshCloudsUnderFailures(80, 1, [] { return NeedleRun(1.0); },
                                     [](Cloud* c) { return RemoveSpikesFromClds(c, 0.0, 1, 2); }), 0);
  EXPECT_GT(FreshCloudsUnderFailures(200, 5, [] { return Owned<Cloud, FreeCloud>(tagged::Make()); }, [](Cloud* c) {
    Cloud *above = nullptr, *below = nullptr;
    const int r = CutCloudByPlane(c, 1, 0, 0, -3, &above, &below, nullptr, nullptr);
    FreeCloud(above);
    FreeCloud(below);
    return r;
  }), 0);
}

}  // namespace
