#include <cmath>
#include <random>
#include <vector>

#include "cloud/poffset.h"
#include "cloud/princip.h"
#include "foundation/makemat.h"
#include "foundation/vec3.h"
#include "tests/shrinkwrap/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class PrincipalAxesTest : public KernelTest {};

TEST_F(PrincipalAxesTest, PointsOnAPlaneGiveItsNormalAsTheSmallestAxis) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> U(-1.0, 1.0);
  double nrm[3] = {0.3, -0.5, 0.8};
  VecNormalize3(nrm, nrm);
  double e1[3], e2[3];
  PerpVecs(nrm, e1, e2);
  const int n = 500;
  std::vector<float> x(n), y(n), z(n);
  for (int i = 0; i < n; ++i) {
    const double u = 3 * U(rng), v = U(rng);  // longer along e1 than e2
    x[i] = static_cast<float>(1 + u * e1[0] + v * e2[0]);
    y[i] = static_cast<float>(2 + u * e1[1] + v * e2[1]);
    z[i] = static_cast<float>(-1 + u * e1[2] + v * e2[2]);
  }
  double ev[3], axes[3][3];
  ASSERT_EQ(PrincipleComponentAnalysis(x.data(), y.data(), z.data(), n, ev, axes), 0);
  EXPECT_GE(ev[0], ev[1]);
  EXPECT_GE(ev[1], ev[2]);
  EXPECT_NEAR(ev[2], 0.0, 1e-9);
  EXPECT_NEAR(std::fabs(VecDotProd3(axes[2], nrm)), 1.0, 1e-6);
  EXPECT_NEAR(std::fabs(VecDotProd3(axes[0], e1)), 1.0, 1e-2);
  double cr[3];
  VecCrossProd3(axes[0], axes[1], cr);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(cr[k], axes[2][k], 1e-9);  // right-handed

  EXPECT_EQ(PrincipleComponentAnalysis(x.data(), y.data(), z.data(), 1, ev, axes), -2);
  const int failures = RunWithInjectedFailures(20, 1, [&] {
    return PrincipleComponentAnalysis(x.data(), y.data(), z.data(), n, ev, axes);
  });
  EXPECT_GT(failures, 0);
}

TEST_F(PrincipalAxesTest, CentroidAndSecondMoments) {
  // More than ten thousand identical points: exactly that point.
  std::vector<float> x(12345, 0.1f), y(12345, -7.3f), z(12345, 2.5f);
  double c[3];
  ComputeCenterOfMass(x.data(), y.data(), z.data(), 12345, c);
  EXPECT_EQ(c[0], static_cast<double>(0.1f));
  EXPECT_EQ(c[1], static_cast<double>(-7.3f));
  EXPECT_EQ(c[2], 2.5);
  const float px = 1, py = 2, pz = 3;
  double** M = allocate_matrix_ff(3, 3);
  ComputeCorrelationMatrix(&px, &py, &pz, 1, M);
  for (int r = 0; r < 3; ++r)
    for (int k = 0; k < 3; ++k) EXPECT_EQ(M[r][k], (r + 1.0) * (k + 1.0));
  matrix_free_ff(M);
}

}  // namespace
