// Normals of clouds (plane fits, polylines, completion) and offsets along them.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "cloud/makecld.h"
#include "cloud/poffset.h"
#include "foundation/cloudrec.h"
#include "foundation/fmalloc.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class CloudNormals : public KernelTest {};

using Owner = Owned<Cloud, FreeCloud>;

Cloud* FromPoints(const std::vector<float>& x, const std::vector<float>& y, const std::vector<float>& z) {
  std::vector<float> a = x, b = y, c = z;
  return MakeCld(a.data(), b.data(), c.data(), int(x.size()), nullptr);
}

// A jittered m x m grid on z = 0 (spacing s), the jitter in x and y a fixed pattern.
Cloud* JitteredPlane(int m, double s, double amp = 0.2) {
  std::vector<float> x, y, z;
  for (int r = 0; r < m; ++r)
    for (int c = 0; c < m; ++c) {
      const double jx = amp * std::sin(7.1 * r + 3.3 * c), jy = amp * std::cos(5.3 * r - 2.9 * c);
      x.push_back(float((c + jx) * s)), y.push_back(float((r + jy) * s)), z.push_back(0.0f);
    }
  return FromPoints(x, y, z);
}

struct Normals {
  std::vector<float> x, y, z;
  explicit Normals(int n) : x(n), y(n), z(n) {}
  int Present() const {
    int k = 0;
    for (size_t i = 0; i < x.size(); ++i) k += x[i] != 0 || y[i] != 0 || z[i] != 0;
    return k;
  }
};

const Xform kId = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
const Xform kTurnedOver = {1, 0, 0, 0, 0, -1, 0, 0, 0, 0, -1, 0, 0, 0, 0, 1};  // half turn about x

TEST_F(CloudNormals, PlaneGivesItsNormalFacingTheViewerAtEveryScale) {
  for (double s : {1e-6, 1.0, 1e6}) {
    Owner cloud(JitteredPlane(20, s));
    const int n = cloud->npts;
    for (const double* xf : {static_cast<const double*>(kId), static_cast<const double*>(nullptr),
                             static_cast<const double*>(kTurnedOver)}) {
      Normals nr(n);
      ASSERT_EQ(ComputeCloud3DNormals(cloud.get(), nr.x.data(), nr.y.data(), nr.z.data(), xf), 1) << s;
      const float want = xf == kTurnedOver ? -1.0f : 1.0f;
      EXPECT_GT(nr.Present(), n * 9 / 10) << s;
      for (int i = 0; i < n; ++i) {
        if (nr.x[i] == 0 && nr.y[i] == 0 && nr.z[i] == 0) continue;
        EXPECT_NEAR(nr.z[i], want, 1e-5) << s << " " << i;
      }
      EXPECT_EQ(StubGetThermometer().open, 0);
    }
  }
}

// A gently waving height field over a randomly jittered m x m grid (spacing s), whose points
// lie at distinct distances from one another, listed in the given order.
Cloud* WavyField(int m, double s, const std::vector<int>& order) {
  std::mt19937 rng(17);
  std::uniform_real_distribution<double> J(-0.3, 0.3);
  std::vector<float> x(m * m), y(m * m), z(m * m);
  for (int k = 0; k < m * m; ++k) {
    const double px = k % m + J(rng), py = k / m + J(rng);
    const int at = order[k];
    x[at] = float(px * s), y[at] = float(py * s), z[at] = float(3 * std::sin(px / 9) * std::cos(py / 11) * s);
  }
  return FromPoints(x, y, z);
}

// Without equal distances the neighbours, the fits and the order of orientation are the points'
// own, whatever their indices: a reordered cloud gets the same normals to the last bit.
TEST_F(CloudNormals, NormalsFollowThePointsWhenTheyAreReordered) {
  const int m = 45, n = m * m;
  std::vector<int> same(n), shuffled(n);
  std::iota(same.begin(), same.end(), 0);
  shuffled = same;
  std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(5));
  for (double s : {1e-6, 1.0, 1e6}) {
    Owner a(WavyField(m, s, same)), b(WavyField(m, s, shuffled));
    Normals na(n), nb(n);
    ASSERT_EQ(ComputeCloud3DNormals(a.get(), na.x.data(), na.y.data(), na.z.data(), kId), 1) << s;
    ASSERT_EQ(ComputeCloud3DNormals(b.get(), nb.x.data(), nb.y.data(), nb.z.data(), kId), 1) << s;
    EXPECT_GT(na.Present(), n * 9 / 10) << s;
    int differ = 0;
    for (int k = 0; k < n; ++k) {
      const int j = shuffled[k];
      differ += na.x[k] != nb.x[j] || na.y[k] != nb.y[j] || na.z[k] != nb.z[j];
    }
    EXPECT_EQ(differ, 0) << s;
  }
}

// An exact grid bent about one axis, where many neighbours lie at equal distances (mirror images
// across a row), gets the same normals to the last bit whether its neighbours are searched
// nearest round first (a finite cloud) or all at once (a cloud with a point not a number, which
// only changes the neighbourhoods by the first corner, where that point's grid cell lies).
TEST_F(CloudNormals, EqualDistancesKeepTheirOrderInEverySearch) {
  for (double s : {1e-6, 1.0, 1e6}) {
    const int m = 40;
    std::vector<float> x, y, z;
    for (int r = 0; r < m; ++r)
      for (int c = 0; c < m; ++c)
        x.push_back(float(c * s)), y.push_back(float(r * s)), z.push_back(float(std::sin(c / 5.0) * s));
    Owner finite(FromPoints(x, y, z));
    x.push_back(NAN), y.push_back(0.0f), z.push_back(0.0f);
    Owner withNaN(FromPoints(x, y, z));
    const int n = m * m;
    Normals a(n), b(n + 1);
    ASSERT_EQ(ComputeCloud3DNormals(finite.get(), a.x.data(), a.y.data(), a.z.data(), kId), 1) << s;
    ASSERT_EQ(ComputeCloud3DNormals(withNaN.get(), b.x.data(), b.y.data(), b.z.data(), kId), 1) << s;
    EXPECT_GT(a.Present(), n * 9 / 10) << s;
    int compared = 0;
    for (int i = 0; i < n; ++i) {
      if (i % m < 8 || i / m < 8) continue;
      ++compared;
      EXPECT_TRUE(a.x[i] == b.x[i] && a.y[i] == b.y[i] && a.z[i] == b.z[i]) << s << " " << i;
    }
    EXPECT_GT(compared, n / 2);
  }
}

// Beyond 96 x 96 points the grid keeps growing with the cloud: a wavy field of 12,100 points
// (110 a side, elongated and thin in z, so that a grid sized to the box alone would be too fine
// for a surface) still gets its normal within 2 degrees at nearly every point, at scales 1e-6
// and 1e6 as at 1, and so does the same field read in shuffled order.
TEST_F(CloudNormals, LargeFieldGetsItsSurfaceNormalsAtEveryScale) {
  const int m = 110, n = m * m;
  std::vector<int> order(n);
  std::iota(order.begin(), order.end(), 0);
  std::shuffle(order.begin(), order.end(), std::mt19937(8));
  for (double s : {1e-6, 1.0, 1e6}) {
    Owner cloud(WavyField(m, s, order));
    Normals nr(n);
    ASSERT_EQ(ComputeCloud3DNormals(cloud.get(), nr.x.data(), nr.y.data(), nr.z.data(), kId), 1) << s;
    int good = 0;
    for (int i = 0; i < n; ++i) {
      // The field's normal: (-dz/dx, -dz/dy, 1) of z = 3 sin(x / 9) cos(y / 11), in its units.
      const double px = cloud->x[i] / s, py = cloud->y[i] / s;
      const double t[3] = {-3.0 / 9 * std::cos(px / 9) * std::cos(py / 11),
                           3.0 / 11 * std::sin(px / 9) * std::sin(py / 11), 1.0};
      const double len = std::sqrt(t[0] * t[0] + t[1] * t[1] + t[2] * t[2]);
      good += (nr.x[i] * t[0] + nr.y[i] * t[1] + nr.z[i] * t[2]) / len > std::cos(2.0 * 3.141592653589793 / 180);
    }
    EXPECT_GT(good, n * 97 / 100) << s;
  }
}

// The cloud's own normals completed from nothing on a field larger than a grid of 96 divisions a
// side serves: every point gets the field's normal within 2 degrees (bar a few at the rim), all
// turned one way, at every scale.
TEST_F(CloudNormals, LargeFieldIsCompletedWithItsSurfaceNormalsAtEveryScale) {
  const int m = 110, n = m * m;
  std::vector<int> order(n);
  std::iota(order.begin(), order.end(), 0);
  std::shuffle(order.begin(), order.end(), std::mt19937(9));
  for (double s : {1e-6, 1.0, 1e6}) {
    Owner cloud(WavyField(m, s, order));
    ASSERT_EQ(AssureCloudNormals(cloud.get()), 1) << s;
    int good = 0, up = 0;
    for (int i = 0; i < n; ++i) {
      const double px = cloud->x[i] / s, py = cloud->y[i] / s;
      const double t[3] = {-3.0 / 9 * std::cos(px / 9) * std::cos(py / 11),
                           3.0 / 11 * std::sin(px / 9) * std::sin(py / 11), 1.0};
      const double len = std::sqrt(t[0] * t[0] + t[1] * t[1] + t[2] * t[2]);
      const double c = (cloud->nx[i] * t[0] + cloud->ny[i] * t[1] + cloud->nz[i] * t[2]) / len;
      good += std::fabs(c) > std::cos(2.0 * 3.141592653589793 / 180);
      up += c > 0;
    }
    EXPECT_GT(good, n * 97 / 100) << s;
    EXPECT_TRUE(up == n || up == 0) << s << " " << up;
  }
}

// A point that is not a number sends its neighbours' searches down the order-keeping road; the
// plane around it still gets its own normal everywhere.
TEST_F(CloudNormals, PointNotANumberLeavesThePlaneNormalsAroundIt) {
  Owner plane(JitteredPlane(20, 1.0));
  std::vector<float> x(plane->x, plane->x + plane->npts), y(plane->y, plane->y + plane->npts), z(plane->npts, 0.0f);
  const int bad = 210;  // inside the plane
  x.insert(x.begin() + bad, NAN), y.insert(y.begin() + bad, 10.0f), z.insert(z.begin() + bad, 0.0f);
  Owner cloud(FromPoints(x, y, z));
  const int n = cloud->npts;
  Normals nr(n);
  ASSERT_EQ(ComputeCloud3DNormals(cloud.get(), nr.x.data(), nr.y.data(), nr.z.data(), kId), 1);
  int present = 0;
  for (int i = 0; i < n; ++i) {
    if (i == bad || (nr.x[i] == 0 && nr.y[i] == 0 && nr.z[i] == 0)) continue;
    ++present;
    EXPECT_NEAR(nr.z[i], 1.0f, 1e-5) << i;
  }
  EXPECT_GT(present, n * 9 / 10);
}

TEST_F(CloudNormals, BreakClosesTheThermometerAndFreesEverything) {
  Owner cloud(JitteredPlane(40, 1.0));
  Normals nr(cloud->npts);
  for (long k : {1, 2, 4, 6}) {
    StubBreakAfterPolls(k);
    EXPECT_EQ(ComputeCloud3DNormals(cloud.get(), nr.x.data(), nr.y.data(), nr.z.data(), kId), 0) << k;
    EXPECT_EQ(StubGetThermometer().open, 0) << k;
    EXPECT_EQ(MallocTrackLevel(), 0);
    EXPECT_EQ(MallocTrackedCount(), 0);
  }
  StubBreakAfterPolls(0);
  // Points on a line span no plane: nothing to seed from.
  Owner line(FromPoints({0, 1, 2, 3, 4, 5}, {0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0}));
  Normals ln(6);
  EXPECT_EQ(ComputeCloud3DNormals(line.get(), ln.x.data(), ln.y.data(), ln.z.data(), kId), 0);
  EXPECT_EQ(ln.Present(), 0);
}

TEST_F(CloudNormals, CompletionKeepsGivenNormalsAndAgreesWithThem) {
  // A tilted plane z = 0.5 x; every third point comes with the downward unit normal.
  Owner cloud(JitteredPlane(12, 1.0));
  const int n = cloud->npts;
  for (int i = 0; i < n; ++i) cloud->z[i] = 0.5f * cloud->x[i];
  const float len = std::sqrt(1.25f);
  cloud->nx = static_cast<float*>(Malloc(n * 4));
  cloud->ny = static_cast<float*>(Malloc(n * 4));
  cloud->nz = static_cast<float*>(Malloc(n * 4));
  for (int i = 0; i < n; ++i) {
    const bool given = i % 3 == 0;
    cloud->nx[i] = given ? 0.5f / len : 0.0f, cloud->ny[i] = 0.0f, cloud->nz[i] = given ? -1.0f / len : 0.0f;
  }
  std::vector<float> before(cloud->nx, cloud->nx + n);
  EXPECT_EQ(AssureCloudNormals(cloud.get()), 1);
  for (int i = 0; i < n; ++i) {
    if (i % 3 == 0) {
      EXPECT_EQ(std::memcmp(&before[i], &cloud->nx[i], 4), 0);
      continue;
    }
    const double dot = (cloud->nx[i] * 0.5 - cloud->nz[i]) / len;
    EXPECT_NEAR(dot, 1.0, 1e-4) << i;
  }
  // All present: nothing changes.
  std::vector<float> done(cloud->nz, cloud->nz + n);
  EXPECT_EQ(AssureCloudNormals(cloud.get()), 1);
  EXPECT_EQ(std::memcmp(done.data(), cloud->nz, 4 * n), 0);
  // None given: made by the cloud, all present, all on one side.
  FreeCloudNormals(cloud.get());
  EXPECT_EQ(AssureCloudNormals(cloud.get()), 1);
  for (int i = 1; i < n; ++i) EXPECT_GT(cloud->nz[i] * cloud->nz[0], 0) << i;
}

TEST_F(CloudNormals, PolylineNormalsStayInItsPlaneOnOneSide) {
  std::vector<float> x, y, z;
  for (int i = 0; i < 12; ++i) x.push_back(float(i)), y.push_back(float(i % 2)), z.push_back(0.0f);
  Owner zig(FromPoints(x, y, z));
  Normals nr(12);
  ComputeCloud2DNormals(zig.get(), nr.x.data(), nr.y.data(), nr.z.data(), kId);
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(nr.z[i], 0.0f) << i;
    EXPECT_GT(nr.y[i] * nr.y[0], 0.0f) << i;
    EXPECT_NEAR(std::hypot(nr.x[i], nr.y[i]), 1.0, 1e-6);
  }
  // A circle in the x-z plane seen from above: every normal points away from the centre.
  x.clear(), y.clear(), z.clear();
  for (int i = 0; i < 24; ++i) {
    const double t = 2 * M_PI * i / 24;
    x.push_back(float(3 * std::cos(t))), y.push_back(0.0f), z.push_back(float(3 * std::sin(t)));
  }
  Owner circle(FromPoints(x, y, z));
  Normals cn(24);
  ComputeCloud2DNormals(circle.get(), cn.x.data(), cn.y.data(), cn.z.data(), nullptr);
  for (int i = 0; i < 24; ++i) EXPECT_NEAR(cn.x[i] * x[i] + cn.z[i] * z[i], 3.0, 0.05) << i;
}

TEST_F(CloudNormals, ScanOfTwoPointsHasNoNormals) {
  Owner scans(FromPoints({0, 1, 0, 1, 2}, {0, 0, 1, 1.2f, 1}, {0, 0, 0, 0, 0}));
  scans->type = 13, scans->nscans = 2;
  scans->scanStart = static_cast<int32_t*>(Malloc(8));
  scans->scanEnd = static_cast<int32_t*>(Malloc(8));
  scans->scanStart[0] = 0, scans->scanEnd[0] = 1, scans->scanStart[1] = 2, scans->scanEnd[1] = 4;
  Normals nr(5);
  nr.x.assign(5, 9.0f);
  ComputeCloud2DNormals(scans.get(), nr.x.data(), nr.y.data(), nr.z.data(), kId);
  for (int i = 0; i < 2; ++i) EXPECT_TRUE(nr.x[i] == 0 && nr.y[i] == 0 && nr.z[i] == 0);
  for (int i = 2; i < 5; ++i) EXPECT_NEAR(std::hypot(nr.x[i], nr.y[i]), 1.0, 1e-6);
}

TEST_F(CloudNormals, OffsetMovesAPlaneAlongItsNormalKeepingEveryPoint) {
  // A regular grid: every neighbourhood has a far-from-parallel pair, so every point is fitted.
  for (double s : {1e-3, 1.0, 1e3}) {
    Owner cloud(JitteredPlane(10, s, 0.0));
    double box[6];
    Owner out(CloudOffset(cloud.get(), 0.5 * s, nullptr, box));
    ASSERT_TRUE(out.get()) << s;
    ASSERT_EQ(out->npts, cloud->npts);
    for (int i = 0; i < out->npts; ++i) {
      EXPECT_EQ(out->x[i], cloud->x[i]);
      EXPECT_NEAR(out->z[i], 0.5 * s, 1e-6 * s);
      EXPECT_EQ(out->nz[i], cloud->nz[i]);
    }
    EXPECT_NEAR(box[2], 0.5 * s, 1e-6 * s);
  }
  Owner two(FromPoints({0, 1}, {0, 0}, {0, 0}));
  EXPECT_EQ(CloudOffset(two.get(), 1.0, nullptr, nullptr), nullptr);
  EXPECT_NE(Messages().find("At least 3 points required"), std::string::npos);
}

TEST_F(CloudNormals, CrossingOffsetSegmentsAreBlanked) {
  // Quarter circle of radius 1, normals to its centre: offsets by 2 all pass through the centre.
  std::vector<float> x, y, z(3, 0.0f);
  for (int i = 0; i < 3; ++i) x.push_back(float(std::cos(M_PI / 4 * i))), y.push_back(float(std::sin(M_PI / 4 * i)));
  Owner arc(FromPoints(x, y, z));
  Normals nr(3);
  for (int i = 0; i < 3; ++i) nr.x[i] = -x[i], nr.y[i] = -y[i];
  EXPECT_EQ(RmOffsetSelfXsec(arc.get(), nr.x.data(), nr.y.data(), nr.z.data(), 2.0), 1);
  EXPECT_EQ(nr.Present(), 0);
  // Offsets by 0.5 stop short of the centre: nothing crosses.
  for (int i = 0; i < 3; ++i) nr.x[i] = -x[i], nr.y[i] = -y[i];
  EXPECT_EQ(RmOffsetSelfXsec(arc.get(), nr.x.data(), nr.y.data(), nr.z.data(), 0.5), 1);
  EXPECT_EQ(nr.Present(), 3);

  // A polyline along an arc of radius 1 in the x-z plane, seen from above: its normals face away
  // from the centre. Outward offsets and inward ones that stop short of the centre keep every
  // normal; inward ones by 2 all cross near the centre, and every point but the ends (which copy
  // their neighbours) loses its normal.
  const int n = 13;
  x.clear(), y.clear(), z.clear();
  for (int i = 0; i < n; ++i) {
    const double t = M_PI / 6 + 2 * M_PI / 3 * i / (n - 1);
    x.push_back(float(std::cos(t))), y.push_back(0.0f), z.push_back(float(std::sin(t)));
  }
  Owner upper(FromPoints(x, y, z));
  Normals plain(n);
  ComputeCloud2DNormals(upper.get(), plain.x.data(), plain.y.data(), plain.z.data(), nullptr);
  for (int i = 0; i < n; ++i) ASSERT_GT(plain.x[i] * x[i] + plain.z[i] * z[i], 0.99f) << i;
  for (double d : {0.5, -0.5, -2.0}) {
    Normals off(n);
    ComputeCloud2DOffsetNormals(upper.get(), off.x.data(), off.y.data(), off.z.data(), d, nullptr);
    for (int i = 0; i < n; ++i) {
      const bool blank = d == -2.0 && i >= 1 && i < n - 2;
      if (blank) {
        EXPECT_TRUE(off.x[i] == 0 && off.y[i] == 0 && off.z[i] == 0) << d << " " << i;
      } else {
        EXPECT_TRUE(off.x[i] == plain.x[i] && off.y[i] == plain.y[i] && off.z[i] == plain.z[i]) << d << " " << i;
      }
    }
  }
}

TEST_F(CloudNormals, OffsetCarriesLabelsAndLeavesBlankedPointsOut) {
  Owner cloud(JitteredPlane(4, 1.0));
  const int n = cloud->npts;
  cloud->nx = static_cast<float*>(Malloc(n * 4));
  cloud->ny = static_cast<float*>(Malloc(n * 4));
  cloud->nz = static_cast<float*>(Malloc(n * 4));
  cloud->labels = static_cast<char**>(Malloc(n * sizeof(char*)));
  for (int i = 0; i < n; ++i) {
    char text[16];
    std::snprintf(text, sizeof text, "p%d", i);
    cloud->labels[i] = lstrdup(text);
    cloud->nx[i] = cloud->ny[i] = 0.0f, cloud->nz[i] = i % 4 == 1 ? 0.0f : 1.0f;
  }
  Owner out(CloudOffset(cloud.get(), 1.0, nullptr, nullptr));
  ASSERT_TRUE(out.get());
  ASSERT_EQ(out->npts, n - n / 4);
  for (int k = 0, i = 0; i < n; ++i) {
    if (i % 4 == 1) continue;
    char text[16];
    std::snprintf(text, sizeof text, "p%d", i);
    EXPECT_EQ(std::string(out->labels[k]), text);
    EXPECT_EQ(out->x[k], cloud->x[i]);
    ++k;
  }
}

TEST_F(CloudNormals, OffsetUnderFailuresLeavesNormalsWholeOrAbsent) {
  Owner cloud(JitteredPlane(8, 1.0));
  const int failed = RunWithInjectedFailures(1200, 23, [&] {
    FreeCloudNormals(cloud.get());
    cloud->ny = static_cast<float*>(Malloc(4 * cloud->npts));  // a partial set to start from
    Cloud* out = CloudOffset(cloud.get(), 0.25, nullptr, nullptr);
    const bool whole = cloud->nx && cloud->ny && cloud->nz, none = !cloud->nx && !cloud->ny && !cloud->nz;
    EXPECT_TRUE(whole || none);
    if (out) {
      EXPECT_TRUE(whole);
    }
    FreeCloud(out);
    return out ? 0 : 1;
  });
  EXPECT_LT(failed, 53);  // the late runs have memory enough to succeed
}

TEST_F(CloudNormals, ProjectionAlongNormalsFindsAMovedCopy) {
  Owner a(JitteredPlane(10, 1.0));
  const int n = a->npts;
  ASSERT_EQ(AssureCloudNormals(a.get()), 1);
  std::vector<float> x(a->x, a->x + n), y(a->y, a->y + n), z(a->z, a->z + n);
  for (int i = 0; i < n; ++i) z[i] += 2.0f * a->nz[i];
  Owner b(FromPoints(x, y, z));
  std::vector<float> dist(n, -1.0f);
  std::vector<int> hits(n, 0);
  EXPECT_EQ(ProjectCloudOnCloudNorms(a.get(), b.get(), 3.0, dist.data(), hits.data()), 1);
  for (int i = 0; i < n; ++i) {
    EXPECT_NEAR(dist[i], 2.0, 1e-5) << i;
    EXPECT_EQ(hits[i], 1) << i;
  }
  // Farther than r: nothing found, distances 0.
  for (int i = 0; i < n; ++i) b->z[i] += 10.0f;
  EXPECT_EQ(ProjectCloudOnCloudNorms(a.get(), b.get(), 3.0, dist.data(), hits.data()), 1);
  for (int i = 0; i < n; ++i) {
    EXPECT_EQ(dist[i], 0.0f);
    EXPECT_EQ(hits[i], 1);
  }
}

}  // namespace
