// Clouds from point arrays, grids, cylinders and scans; the maintenance operations of the record;
// the thermometer guard of long operations.
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "cloud/makecld.h"
#include "cloud/putil.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class CloudMake : public KernelTest {};

struct Points {
  std::vector<float> x, y, z;
  int n() const { return static_cast<int>(x.size()); }
  // Malloc'ed copies for the adopting constructors; false (nothing held) on no memory.
  bool Copies(float** a, float** b, float** c) const {
    const float* src[3] = {x.data(), y.data(), z.data()};
    float** dst[3] = {a, b, c};
    for (int k = 0; k < 3; ++k) {
      *dst[k] = static_cast<float*>(Malloc(static_cast<unsigned>(n()) * sizeof(float)));
      if (*dst[k]) std::memcpy(*dst[k], src[k], static_cast<size_t>(n()) * sizeof(float));
    }
    if (*a && *b && *c) return true;
    Free(*a), Free(*b), Free(*c);
    return false;
  }
};

// Scans of the given lengths, laid along x one after the other at rising y; odd scans run back
// when zigzag is set.
Points ScanPoints(const std::vector<int>& lengths, bool zigzag, int trailing = 0) {
  Points p;
  for (size_t s = 0; s < lengths.size(); ++s) {
    for (int i = 0; i < lengths[s]; ++i) {
      const int along = (zigzag && s % 2) ? lengths[s] - 1 - i : i;
      p.x.push_back(float(along)), p.y.push_back(float(s)), p.z.push_back(0.1f * float(s * i));
    }
  }
  for (int i = 0; i < trailing; ++i) p.x.push_back(-1.0f - i), p.y.push_back(-1.0f), p.z.push_back(0.0f);
  return p;
}

void Ranges(const std::vector<int>& lengths, std::vector<int>* start, std::vector<int>* end) {
  int at = 0;
  for (int L : lengths) start->push_back(at), end->push_back(at + L - 1), at += L;
}

TEST_F(CloudMake, GridsPutHeightsOnTheAxisGetGridArrayNames) {
  const int ncol = 4, nrow = 3;
  std::vector<float> h(ncol * nrow);
  for (int i = 0; i < ncol * nrow; ++i) h[i] = float(i * i % 7) - 2.5f;
  for (int colAxis = 0; colAxis < 3; ++colAxis) {
    for (int rowAxis = 0; rowAxis < 3; ++rowAxis) {
      double box[6];
      Cloud* c = MakeGridCld(1.0, -2.0, 0.5, 0.25, ncol, nrow, colAxis, rowAxis, h.data(), box);
      if (colAxis == rowAxis) {
        EXPECT_EQ(c, nullptr);
        continue;
      }
      ASSERT_NE(c, nullptr);
      float* heights = GetGridArray(c);
      const int ha = 3 - colAxis - rowAxis;
      float* axis[3] = {c->x, c->y, c->z};
      EXPECT_EQ(heights, axis[ha]);
      EXPECT_EQ(c->grid.heightAxis[ha], 1.0);
      EXPECT_TRUE(c->type == 17 && c->nscans == nrow && c->ptsPerRow == ncol && c->npts == ncol * nrow);
      for (int j = 0; j < nrow; ++j) {
        EXPECT_TRUE(c->scanStart[j] == j * ncol && c->scanEnd[j] == j * ncol + ncol - 1);
        for (int k = 0; k < ncol; ++k) {
          const int i = j * ncol + k;
          EXPECT_EQ(heights[i], h[i]);
          EXPECT_EQ(axis[colAxis][i], float(1.0 + 0.5 * k));
          EXPECT_EQ(axis[rowAxis][i], float(-2.0 + 0.25 * j));
        }
      }
      EXPECT_TRUE(box[colAxis] == 1.0 && box[colAxis + 3] == 2.5 && box[rowAxis] == -2.0 && box[rowAxis + 3] == -1.5);
      EXPECT_TRUE(box[ha] == -2.5 && box[ha + 3] == 1.5 && c->zMin == box[2] && c->zMax == box[5]);
      FreeCloud(c);
    }
  }
  // One row is no grid; bad axis codes and empty grids are refused.
  double box[6];
  Cloud* row = MakeGridCld(0, 0, 1, 1, ncol, 1, 0, 1, h.data(), box);
  ASSERT_NE(row, nullptr);
  EXPECT_TRUE(row->type == 0 && !row->scanStart && row->grid.heightAxis[2] == 1.0);
  FreeCloud(row);
  EXPECT_EQ(MakeGridCld(0, 0, 1, 1, ncol, nrow, 0, 3, h.data(), box), nullptr);
  EXPECT_EQ(MakeGridCld(0, 0, 1, 1, 0, nrow, 0, 1, h.data(), box), nullptr);
  EXPECT_EQ(MakeGridCld(0, 0, 1, 1, -4, -3, 0, 1, h.data(), box), nullptr);
  EXPECT_FALSE(KernelFailedNow());
}

TEST_F(CloudMake, CylindersPutEveryPointAtItsRadiusAndHeight) {
  const int ncol = 8, nrow = 3;
  std::vector<float> r(ncol * nrow);
  for (int i = 0; i < ncol * nrow; ++i) r[i] = 1.0f + 0.125f * float(i % 5);
  const double centre[3] = {1, -2, 3};
  for (int axis = 0; axis < 3; ++axis) {
    double box[6];
    Cloud* c = MakeCylCld(0.1, 5.0, 2 * M_PI / ncol, 0.5, ncol, nrow, axis, centre, r.data(), box);
    ASSERT_NE(c, nullptr);
    EXPECT_TRUE(c->type == 13 && c->nscans == nrow && c->grid.rowAxis == axis && c->grid.heightAxis[axis] == 1.0);
    const float* p[3] = {c->x, c->y, c->z};
    for (int i = 0; i < c->npts; ++i) {
      double d2 = 0;
      for (int k = 0; k < 3; ++k)
        if (k != axis) d2 += (p[k][i] - centre[k]) * (p[k][i] - centre[k]);
      EXPECT_NEAR(std::sqrt(d2), r[i], 1e-5);
      EXPECT_NEAR(p[axis][i], 5.0 + 0.5 * (i / ncol), 1e-6);
      for (int k = 0; k < 3; ++k) EXPECT_TRUE(p[k][i] >= box[k] && p[k][i] <= box[k + 3]);
    }
    FreeCloud(c);
  }
  // A single row stays ordered.
  Cloud* ring = MakeCylCld(0, 0, 0.5, 1, ncol, 1, 2, centre, r.data(), nullptr);
  ASSERT_NE(ring, nullptr);
  EXPECT_EQ(ring->type, 13);
  FreeCloud(ring);
  EXPECT_EQ(MakeCylCld(0, 0, 0.5, 1, ncol, nrow, 4, centre, r.data(), nullptr), nullptr);
}

TEST_F(CloudMake, ValidScanPartitionsComeBackAsGiven) {
  std::mt19937 rng(11);
  for (int round = 0; round < 30; ++round) {
    std::vector<int> lengths(2 + rng() % 6);
    for (int& L : lengths) L = 2 + rng() % 9;
    const bool zigzag = round % 2;
    const Points p = ScanPoints(lengths, zigzag);
    std::vector<int> s, e;
    Ranges(lengths, &s, &e);
    const int ns = int(lengths.size());
    for (bool adopt : {false, true}) {
      Cloud* c;
      if (adopt) {
        float *x, *y, *z;
        p.Copies(&x, &y, &z);
        double box[6];
        c = MakeScanCldNoAlloc(x, y, z, p.n(), s.data(), e.data(), ns, box);
        EXPECT_TRUE(c && c->x == x);
      } else {
        c = MakeScanCld(p.x.data(), p.y.data(), p.z.data(), p.n(), s.data(), e.data(), ns, nullptr);
      }
      ASSERT_NE(c, nullptr);
      EXPECT_TRUE(c->type == 13 && c->npts == p.n() && c->nscans == ns);
      EXPECT_TRUE(std::equal(s.begin(), s.end(), c->scanStart) && std::equal(e.begin(), e.end(), c->scanEnd));
      EXPECT_EQ(c->ptsPerRow, *std::max_element(lengths.begin(), lengths.end()));
      EXPECT_EQ(c->direction, zigzag ? 1 : 2);
      EXPECT_EQ(c->scanOrder, 2);  // straight scans are open
      FreeCloud(c);
    }
  }
  // Rings that close on their start are closed scans; one straight scan among them mixes.
  Points rings;
  for (int s = 0; s < 3; ++s)
    for (int i = 0; i < 12; ++i) {
      const double t = 2 * M_PI * i / 12.5;
      rings.x.push_back(float(s == 2 ? i : std::cos(t))), rings.y.push_back(float(s == 2 ? 0 : std::sin(t)));
      rings.z.push_back(float(s));
    }
  const int s3[3] = {0, 12, 24}, e3[3] = {11, 23, 35};
  Cloud* c = MakeScanCld(rings.x.data(), rings.y.data(), rings.z.data(), 24, s3, e3, 2, nullptr);
  EXPECT_EQ(c->scanOrder, 1);
  FreeCloud(c);
  c = MakeScanCld(rings.x.data(), rings.y.data(), rings.z.data(), 36, s3, e3, 3, nullptr);
  EXPECT_EQ(c->scanOrder, 3);
  FreeCloud(c);
}

TEST_F(CloudMake, MalformedScansGiveNullOrTheUnorderedCloud) {
  const Points p = ScanPoints({5, 5, 5, 5}, false, 0);
  struct Case {
    std::vector<int> s, e;
  };
  const std::vector<Case> bad = {
      {{0, 4, 10, 15}, {4, 9, 14, 19}},    // overlap
      {{0, 6, 10, 15}, {4, 9, 14, 19}},    // gap
      {{0, 5, -3, 15}, {4, 9, 14, 19}},    // negative start
      {{0, 5, 10, 15}, {4, 9, 24, 19}},    // an end past n before the last scan
      {{0, 5, 10, 15}, {4, 9, 14, 20}},    // the last end past n
      {{1, 5, 10, 15}, {4, 9, 14, 19}},    // not starting at 0
      {{0, 5, 10, 15}, {4, 9, 8, 19}},     // start after end
      {{0, 10, 5, 15}, {9, 14, 9, 19}}};   // scans out of order
  for (const Case& k : bad) {
    for (int strict : {0, 1}) {
      Cloud* c = MakeScanCldNew(p.x.data(), p.y.data(), p.z.data(), p.n(), k.s.data(), k.e.data(), 4, nullptr, strict);
      if (strict) {
        EXPECT_EQ(c, nullptr);
      } else {
        ASSERT_NE(c, nullptr);
        EXPECT_TRUE(c->type == 0 && c->npts == p.n() && !c->scanStart);
      }
      FreeCloud(c);
      float *x, *y, *z;
      p.Copies(&x, &y, &z);
      double box[6];
      c = MakeScanCldNoAllocNew(x, y, z, p.n(), k.s.data(), k.e.data(), 4, box, strict);
      if (!c) Free(x), Free(y), Free(z);  // null leaves the arrays the caller's
      EXPECT_EQ(c == nullptr, strict == 1);
      FreeCloud(c);
    }
  }
  EXPECT_EQ(Messages(), "");  // diagnostics stay off
  // Trailing points: up to 8 are cut off, 9 or more (n - last end >= 10) make the cloud unordered.
  for (int trailing : {8, 9, 10}) {
    const Points q = ScanPoints({5, 6}, false, trailing);
    const int s[2] = {0, 5}, e[2] = {4, 10};
    float *x, *y, *z;
    q.Copies(&x, &y, &z);
    double box[6];
    Cloud* c = MakeScanCldNoAlloc(x, y, z, q.n(), s, e, 2, box);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->type, trailing < 9 ? 13 : 0);
    EXPECT_EQ(c->npts, trailing < 9 ? 11 : q.n());
    EXPECT_EQ(box[0], trailing < 9 ? 0.0 : -trailing);  // the box covers the points kept
    FreeCloud(c);
  }
  // Runs of single points after the first scan, or one scan, are no scan cloud.
  const Points q = ScanPoints({3, 1, 1, 3}, false);
  const int s[4] = {0, 3, 4, 5}, e[4] = {2, 3, 4, 7};
  Cloud* c = MakeScanCld(q.x.data(), q.y.data(), q.z.data(), q.n(), s, e, 4, nullptr);
  EXPECT_TRUE(c->type == 0 && !c->scanStart && !c->scanEnd);
  FreeCloud(c);
  c = MakeScanCld(q.x.data(), q.y.data(), q.z.data(), q.n(), s, e, 1, nullptr);
  EXPECT_EQ(c->type, 0);
  FreeCloud(c);
  EXPECT_EQ(MakeScanCld(q.x.data(), q.y.data(), q.z.data(), 0, s, e, 4, nullptr), nullptr);
}

TEST_F(CloudMake, RecordMaintenanceKeepsPointsAndOrder) {
  Points p = ScanPoints({20}, false);
  Cloud* c19 = MakeCld(p.x.data(), p.y.data(), p.z.data(), 19, nullptr);
  Cloud* c20 = MakeCld(p.x.data(), p.y.data(), p.z.data(), 20, nullptr);
  const double d19 = 18.0, d20 = 19.0;  // box diagonals: the points lie on the x axis
  EXPECT_NEAR(c19->charLength, 2 * d19, 1e-9);  // small clouds get a wide radius
  EXPECT_NEAR(c20->charLength, d20 / 3, 1e-9);

  // Insertion at the ends and in the middle; positions outside 0..npts are refused.
  const float nx[2] = {100, 101}, ny[2] = {0, 0}, nz[2] = {0, 0};
  for (int k : {0, 7, 20}) {
    Cloud* c = InsertNPtsCld(c20, nx, ny, nz, 2, k, nullptr);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->npts, 22);
    for (int i = 0; i < 22; ++i) {
      const float want = i < k ? p.x[i] : i < k + 2 ? nx[i - k] : p.x[i - 2];
      EXPECT_EQ(c->x[i], want) << k << " " << i;
    }
    FreeCloud(c);
  }
  for (int k : {-1, 21, 1 << 30}) EXPECT_EQ(InsertNPtsCld(c20, nx, ny, nz, 2, k, nullptr), nullptr);
  EXPECT_FALSE(KernelFailedNow());

  // Normals: a wrong count leaves the old ones.
  std::vector<float> n1(20, 1.0f), n2(20, 2.0f);
  ASSERT_EQ(CopyCloudNormals(c20, n1.data(), n1.data(), n1.data(), 20), 1);
  EXPECT_EQ(CopyCloudNormals(c20, n2.data(), n2.data(), n2.data(), 19), 0);
  EXPECT_EQ(c20->nz[19], 1.0f);
  ASSERT_EQ(AllocateIsShowLabels(c20), 1);
  EXPECT_EQ(c20->labelIsShow[2], 0);

  // Row numbers close their gaps and keep their order.
  c20->rowNumber = static_cast<int16_t*>(Malloc(20 * sizeof(int16_t)));
  const int16_t rows[4] = {5, 5, 9, 7};
  for (int i = 0; i < 20; ++i) c20->rowNumber[i] = rows[i % 4];
  ASSERT_EQ(ResetRowIndex(c20), 1);
  const int16_t dense[4] = {0, 0, 2, 1};
  for (int i = 0; i < 20; ++i) EXPECT_EQ(c20->rowNumber[i], dense[i % 4]);

  // An ordered cloud made arbitrary keeps its points in order.
  std::vector<float> h(12, 1.0f);
  Cloud* g = MakeGridCld(0, 0, 1, 1, 4, 3, 0, 1, h.data(), nullptr);
  std::vector<float> gx(g->x, g->x + 12);
  MakeCloudArbitrary(g);
  MakeCloudArbitrary(c19);
  EXPECT_TRUE(g->type == 0 && g->nscans == 0 && !g->scanStart && std::equal(gx.begin(), gx.end(), g->x));
  FreeCloud(g), FreeCloud(c19), FreeCloud(c20);
}

TEST_F(CloudMake, FailuresLeaveNothingAndAdoptedArraysSurviveTheCallersScope) {
  const Points p = ScanPoints({6, 6, 6}, true);
  const int s[3] = {0, 6, 12}, e[3] = {5, 11, 17};
  std::vector<float> h(12, 2.0f);
  const double centre[3] = {0, 0, 0};
  auto made = [](Cloud* c) {
    FreeCloud(c);
    return c ? 0 : -2;
  };
  int fails = RunWithInjectedFailures(40, 1, [&] {
    return made(MakeScanCld(p.x.data(), p.y.data(), p.z.data(), p.n(), s, e, 3, nullptr));
  });
  fails += RunWithInjectedFailures(40, 1, [&] { return made(MakeGridCld(0, 0, 1, 1, 4, 3, 0, 1, h.data(), nullptr)); });
  fails += RunWithInjectedFailures(40, 1, [&] { return made(MakeCylCld(0, 0, 1, 1, 4, 3, 2, centre, h.data(), nullptr)); });
  Cloud* src = MakeCld(p.x.data(), p.y.data(), p.z.data(), p.n(), nullptr);
  fails += RunWithInjectedFailures(40, 1, [&] { return made(InsertNPtsCld(src, h.data(), h.data(), h.data(), 3, 2, nullptr)); });
  fails += RunWithInjectedFailures(40, 1, [&] {
    float *x, *y, *z;
    if (!p.Copies(&x, &y, &z)) return -2;
    double box[6];
    Cloud* c = MakeScanCldNoAlloc(x, y, z, p.n(), s, e, 3, box);
    if (!c) Free(x), Free(y), Free(z);
    return made(c);
  });
  fails += RunWithInjectedFailures(20, 1, [&] {
    const int r = CopyCloudNormals(src, p.x.data(), p.y.data(), p.z.data(), p.n()) ? 0 : -2;
    EXPECT_TRUE(r == 0 ? src->nx[3] == p.x[3] : src->nx == nullptr);
    return r;
  });
  std::vector<int16_t> rows = {4, 9, 9, 2, 4, 7};
  src->rowNumber = static_cast<int16_t*>(Malloc(src->npts * sizeof(int16_t)));
  for (int i = 0; i < src->npts; ++i) src->rowNumber[i] = rows[i % 6];
  const int16_t dense[6] = {1, 3, 3, 0, 1, 2};
  fails += RunWithInjectedFailures(6, 1, [&] {
    const int r = ResetRowIndex(src) ? 0 : -2;  // a failure leaves the numbers as they were
    for (int i = 0; i < src->npts; ++i) EXPECT_EQ(src->rowNumber[i], r == 0 ? dense[i % 6] : rows[i % 6]);
    for (int i = 0; i < src->npts; ++i) src->rowNumber[i] = rows[i % 6];
    return r;
  });
  EXPECT_GT(fails, 6);
  EXPECT_TRUE(src->x[4] == p.x[4] && src->npts == p.n());
  FreeCloud(src);

  // Adopted arrays leave the caller's scope with the cloud (ASan catches a freed array).
  BeginTrackingMallocs();
  float *x, *y, *z;
  p.Copies(&x, &y, &z);
  Cloud* c = MakeCldNoAlloc(x, y, z, p.n(), nullptr);
  FreeTrackedMallocs();
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->x[5], p.x[5]);
  FreeCloud(c);
}

TEST_F(CloudMake, ThermometerEndsClosedWithValuesInRange) {
  auto operation = [](int stopAt) {
    Thermometer t("Sort Cloud");
    for (int i = -5; i < 300; i += 7) {
      t.set(i);
      t.set(i, 200);
      if (i == stopAt) return 0;  // an early way out
    }
    t.finish();
    return 1;
  };
  EXPECT_EQ(operation(100), 0);
  StubThermometer th = StubGetThermometer();
  EXPECT_TRUE(th.open == 0 && th.displays == 1 && th.undisplays == 1 && th.outOfRange == 0 && th.value == 50);
  EXPECT_EQ(operation(1000), 1);
  th = StubGetThermometer();
  EXPECT_TRUE(th.open == 0 && th.undisplays == 2 && th.outOfRange == 0 && th.value == 100);
  EXPECT_NE(Messages().find("Sort Cloud"), std::string::npos);
  SetThermoMeterValue(101);  // the stand-in counts what the guard keeps out
  EXPECT_EQ(StubGetThermometer().outOfRange, 1);
}

}  // namespace
