// Rings of scan points restarted where they meet a seam polyline: the inserted point, the cyclic
// read-off, one running sense for all rings, and what travels with the points.
#include <cmath>
#include <string>
#include <vector>

#include "cloud/makecld.h"
#include "curve/psort.h"
#include "foundation/fmalloc.h"
#include "tests/support/kernel_fixture.h"

namespace {

class ScanStart : public KernelTest {};

constexpr int kRing = 20;
constexpr double kRadius = 5.0;

// Built by appending: g++ 12 at -O3 misreads "literal" + std::string as an overlapping copy
// (-Wrestrict).
std::string Label(int k) {
  std::string label = "p";
  label += std::to_string(k);
  return label;
}

// Point k of a ring at height h, running counter-clockwise (or clockwise when turned).
void RingPoint(int k, double h, bool turned, float* x, float* y, float* z) {
  const double a = 2 * M_PI * (turned ? kRing - k : k) / kRing;
  *x = float(kRadius * std::cos(a)), *y = float(kRadius * std::sin(a)), *z = float(h);
}

// Signed area of a scan's polygon in the x-y plane: the sense it runs.
double Sense(const Cloud* c, int first, int last) {
  double area = 0;
  for (int i = first; i <= last; ++i) {
    const int j = i == last ? first : i + 1;
    area += double(c->x[i]) * c->y[j] - double(c->x[j]) * c->y[i];
  }
  return area;
}

// The seam: a line along z through the ring at the angle of place 7.4.
struct Seam {
  double x[3], y[3], z[3];
  explicit Seam(double place = 7.4, double radius = kRadius) {
    const double a = 2 * M_PI * place / kRing;
    for (int v = 0; v < 3; ++v) x[v] = radius * std::cos(a), y[v] = radius * std::sin(a), z[v] = -1.0 + 1.5 * v;
  }
};

TEST_F(ScanStart, ARingStartsAtTheInsertedPointAndCarriesNormalsAndLabels) {
  float x[kRing], y[kRing], z[kRing];
  for (int k = 0; k < kRing; ++k) RingPoint(k, 0, false, &x[k], &y[k], &z[k]);
  Cloud* ring = MakeCld(x, y, z, kRing, nullptr);  // a scattered cloud counts as one scan
  ring->nx = MallocArray<float>(kRing), ring->ny = MallocArray<float>(kRing), ring->nz = MallocArray<float>(kRing);
  ring->labels = MallocArray<char*>(kRing);
  ring->labelIsShow = CallocArray<uint8_t>(CloudBitArrayBytes(kRing));
  for (int k = 0; k < kRing; ++k) {
    ring->nx[k] = x[k] / float(kRadius), ring->ny[k] = y[k] / float(kRadius), ring->nz[k] = 0;
    ring->labels[k] = lstrdup(Label(k).c_str());
    if (k % 2) ring->labelIsShow[k >> 3] |= uint8_t(1u << (k & 7));
  }
  ring->colour[0] = MallocArray<float>(kRing);  // not carried
  const Seam seam;
  Cloud* out = RearrangeCloudStartsByPline(ring, 3, seam.x, seam.y, seam.z);
  ASSERT_NE(out, nullptr);
  ASSERT_EQ(out->npts, kRing + 1);
  // The inserted point lies on the seam, on the circle through its neighbours.
  EXPECT_NEAR(std::atan2(out->y[0], out->x[0]), 2 * M_PI * 7.4 / kRing, 1e-3);
  EXPECT_NEAR(std::hypot(out->x[0], out->y[0]), kRadius, 2e-3);
  EXPECT_NEAR(std::hypot(out->nx[0], out->ny[0]), 1.0, 1e-6);
  EXPECT_NEAR(std::atan2(out->ny[0], out->nx[0]), std::atan2(out->y[0], out->x[0]), 0.05);
  EXPECT_EQ(out->labels[0], nullptr);
  EXPECT_FALSE(out->labelIsShow[0] & 1);
  // Then points 8 .. 19 and 0 .. 7, each with its own data.
  for (int m = 1; m <= kRing; ++m) {
    const int k = (7 + m) % kRing;
    EXPECT_EQ(out->x[m], x[k]) << m;
    EXPECT_EQ(out->nx[m], ring->nx[k]);
    EXPECT_EQ(std::string(out->labels[m]), Label(k));
    EXPECT_EQ(bool((out->labelIsShow[m >> 3] >> (m & 7)) & 1), bool(k % 2));
  }
  EXPECT_EQ(out->colour[0], nullptr);
  FreeCloud(out);
  // A seam passing outside the ring nearest to point 12 inserts nothing: 12 .. 19, 0 .. 11.
  const Seam atPoint(12.0, 6.0);
  out = RearrangeCloudStartsByPline(ring, 3, atPoint.x, atPoint.y, atPoint.z);
  ASSERT_NE(out, nullptr);
  ASSERT_EQ(out->npts, kRing);
  for (int m = 0; m < kRing; ++m) EXPECT_EQ(out->y[m], y[(12 + m) % kRing]) << m;
  FreeCloud(out);
  FreeCloud(ring);
}

// Rings given in opposite senses come out running one way; a ring of one point and a scan of
// two points (which has no direction) pass through whole.
TEST_F(ScanStart, RingsRunOneWayAndShortScansPassThrough) {
  std::vector<float> x, y, z;
  std::vector<int> start, end;
  auto add = [&](float px, float py, float pz) { x.push_back(px), y.push_back(py), z.push_back(pz); };
  // Rings 0, 1 (turned) and 2 with a one-point and a two-point scan between rings 0 and 1.
  std::vector<int> rings;
  for (int r = 0; r < 3; ++r) {
    rings.push_back(int(start.size()));
    start.push_back(int(x.size()));
    for (int k = 0; k < kRing; ++k) {
      float px, py, pz;
      RingPoint(k, 0.5 * r, r == 1, &px, &py, &pz);
      add(px, py, pz);
    }
    end.push_back(int(x.size()) - 1);
    if (r > 0) continue;
    start.push_back(int(x.size())), add(kRadius, 0, 2), end.push_back(int(x.size()) - 1);
    start.push_back(int(x.size())), add(kRadius, 0.5f, 2.5f), add(kRadius, -0.5f, 2.5f), end.push_back(int(x.size()) - 1);
  }
  const int S = int(start.size()), n = int(x.size());
  Cloud* c = MakeScanCld(x.data(), y.data(), z.data(), n, start.data(), end.data(), S, nullptr);
  ASSERT_EQ(c->nscans, S);
  const Seam seam;
  for (int run = 0; run < 2; ++run) {
    Cloud* out = RearrangeCloudStartsByPline(c, 3, seam.x, seam.y, seam.z);
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(out->nscans, S);
    for (int r : rings) {
      EXPECT_EQ(out->scanEnd[r] - out->scanStart[r] + 1, kRing + 1);
      EXPECT_GT(Sense(out, out->scanStart[r], out->scanEnd[r]), 0) << r;
    }
    EXPECT_EQ(out->scanStart[1], out->scanEnd[1]);
    EXPECT_EQ(out->x[out->scanStart[1]], float(kRadius));
    const int two = out->scanEnd[2] - out->scanStart[2] + 1;
    EXPECT_TRUE(two == 2 || two == 3) << two;
    for (int i = 0; i < out->npts; ++i) ASSERT_TRUE(std::isfinite(out->x[i]) && std::isfinite(out->z[i]));
    FreeCloud(out);
  }
  FreeCloud(c);
}

TEST_F(ScanStart, NoMemoryGivesNullAndLeavesNothing) {
  float x[kRing], y[kRing], z[kRing];
  for (int k = 0; k < kRing; ++k) RingPoint(k, 0, false, &x[k], &y[k], &z[k]);
  Cloud* ring = MakeCld(x, y, z, kRing, nullptr);
  ring->labels = CallocArray<char*>(kRing);
  ring->labels[3] = lstrdup("three");
  const Seam seam;
  int made = 0;
  for (long skip = 0; skip < 120; skip += 3) {
    ClearKernelError();
    MallocFailAfter(skip, -1);
    Cloud* out = RearrangeCloudStartsByPline(ring, 3, seam.x, seam.y, seam.z);
    MallocFailClear();
    EXPECT_EQ(MallocTrackLevel(), 0);
    if (out) {
      ++made;
      EXPECT_EQ(out->npts, kRing + 1);
    }
    FreeCloud(out);
  }
  ClearKernelError();
  EXPECT_GT(made, 0);
  EXPECT_EQ(ring->npts, kRing);
  FreeCloud(ring);
}

}  // namespace
