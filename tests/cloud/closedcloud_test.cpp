// Closing an ordered cloud: a copy that ends where it starts, every per-point array as long as
// the new count.
#include <cstring>
#include <vector>

#include "cloud/makecld.h"
#include "cloud/putil.h"
#include "foundation/cloudrec.h"
#include "foundation/umalloc.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class ClosedCloudTest : public KernelTest {};

TEST_F(ClosedCloudTest, AppendsTheFirstPointOnlyWhenTheEndsDiffer) {
  for (int n : {7, 8}) {  // 8 + 1 points need a second byte in the bit arrays
    for (double gap : {1e-5, 1e-3}) {
      std::vector<float> x(n), y(n), z(n);
      for (int i = 0; i < n; ++i) x[i] = float(i), y[i] = float(i * i % 5), z[i] = 1.0f;
      x[n - 1] = float(gap), y[n - 1] = 0.0f;  // the last point comes back near the first
      y[0] = 0.0f;
      Owned<Cloud, FreeCloud> cloud(MakeCld(x.data(), y.data(), z.data(), n, nullptr));
      ASSERT_EQ(CopyCloudNormals(cloud.get(), x.data(), y.data(), z.data(), n), 1);
      cloud->isShow = CallocArray<uint8_t>(CloudBitArrayBytes(n));
      cloud->isShow[0] = 1;  // point 0 shown
      cloud->labels = CallocArray<char*>(n);
      cloud->labels[0] = MallocArray<char>(3);
      std::memcpy(cloud->labels[0], "P0", 3);
      Owned<Cloud, FreeCloud> closed(GetClosedCloud(cloud.get()));
      ASSERT_NE(closed.get(), nullptr);
      const int m = gap < 1e-4 ? n : n + 1;
      ASSERT_EQ(closed->npts, m) << gap;
      EXPECT_EQ(cloud->npts, n);  // the source is left alone
      for (int i = 0; i < n; ++i) EXPECT_EQ(closed->x[i], x[i]);
      EXPECT_EQ(closed->x[m - 1], m > n ? x[0] : x[n - 1]);
      EXPECT_EQ(closed->nx[m - 1], closed->x[m - 1]);
      EXPECT_EQ((closed->isShow[(m - 1) >> 3] >> ((m - 1) & 7)) & 1, m > n ? 1 : 0);
      if (m > n) {
        EXPECT_STREQ(closed->labels[n], "P0");  // a copy of its own
        EXPECT_NE(closed->labels[n], closed->labels[0]);
      }
    }
  }
  EXPECT_EQ(GetClosedCloud(nullptr), nullptr);
}

TEST_F(ClosedCloudTest, FailedGrowthLeavesNothingBehind) {
  const float x[3] = {0, 1, 2}, y[3] = {0, 1, 0}, z[3] = {0, 0, 0};
  Owned<Cloud, FreeCloud> cloud(MakeCld(x, y, z, 3, nullptr));
  const int failures = RunWithInjectedFailures(12, 1, [&] {
    Cloud* c = GetClosedCloud(cloud.get());
    if (!c) return -2;
    const bool ok = c->npts == 4;
    FreeCloud(c);
    return ok ? 0 : 1;
  });
  EXPECT_GT(failures, 0);
}

}  // namespace
