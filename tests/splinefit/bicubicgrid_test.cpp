// The helpers of uniform bicubic grids: the one-span Gram matrices against their partition of
// unity and a closed form, grid refinement that interpolates the old spline at every new knot,
// and over-relaxation that solves the 1-4-1 stencil system.
#include <cmath>
#include <random>
#include <vector>

#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "splinefit/aspline.h"
#include "tests/support/kernel_fixture.h"

namespace {

class BicubicGrid : public KernelTest {};

TEST_F(BicubicGrid, OneSpanGramMatricesSumAsThePartitionOfUnitySays) {
  std::vector<double> G(4 * 23, 9.0);
  for (int s = 0; s <= 3; ++s) {
    shift_integral(s, G.data());
    double total = 0;
    for (int i = 0; i < 4; ++i) {
      double row = 0;
      for (int j = 0; j < 4; ++j) {
        row += G[i * 23 + j];
        EXPECT_NEAR(G[i * 23 + j], G[j * 23 + i], 1e-14);
      }
      // The segments sum to 1, their derivatives to 0: row i integrates segment i (or 0).
      if (s > 0) {
        EXPECT_NEAR(row, 0.0, 1e-14) << s;
      }
      total += row;
    }
    EXPECT_NEAR(total, s == 0 ? 1.0 : 0.0, 1e-14) << s;
  }
  shift_integral(0, G.data());
  EXPECT_NEAR(G[0], 1.0 / 252, 1e-15);  // integral of (t^3 / 6)^2
  shift_integral(3, G.data());
  EXPECT_NEAR(G[23 + 1], 9.0, 1e-15);  // (-3)^2
  shift_integral(4, G.data());
  EXPECT_EQ(G[0], 0.0);
}

// The value of a uniform cubic coefficient line at half-span h2 (an integer count of half spans).
double LineValue(const std::vector<double>& c, int h2) {
  const int k = h2 / 2;
  if (h2 % 2 == 0) return (c[k] + 4 * c[k + 1] + c[k + 2]) / 6;
  return (c[k] + 23 * c[k + 1] + 23 * c[k + 2] + c[k + 3]) / 48;
}

TEST_F(BicubicGrid, RefinementInterpolatesTheOldSplineAtEveryNewKnot) {
  const int nx = 8, ny = 6;
  Bspline* s = MallocInitSurfaceBspline();
  s->interiorU = nx / 2 - 1, s->interiorV = ny / 2 - 1;
  ASSERT_GE(AllocateBsplineArrays(s), 0);
  std::mt19937 rng(4);
  std::uniform_real_distribution<double> U(-1, 1);
  std::vector<std::vector<double>> old(ny / 2 + 3, std::vector<double>(nx / 2 + 3));
  for (int j = 0; j < ny / 2 + 3; ++j)
    for (int i = 0; i < nx / 2 + 3; ++i) s->Z[j][i] = old[j][i] = U(rng);
  std::vector<double> work((ny / 2 + 3) * (nx + 3)), tmp(3 * (nx + ny) + 18);
  interpolate_coefi(nx, ny, work.data(), tmp.data(), s);
  ASSERT_FALSE(KernelFailedNow());
  for (int j = 0; j <= ny; ++j)
    for (int i = 0; i <= nx; ++i) {
      // Old: along u on every old row, then along v. New: its knot value.
      std::vector<double> col;
      for (const auto& row : old) col.push_back(LineValue(row, i));
      const double want = LineValue(col, j);
      std::vector<double> ncol;
      for (int b = 0; b < ny + 3; ++b) ncol.push_back((s->Z[b][i] + 4 * s->Z[b][i + 1] + s->Z[b][i + 2]) / 6);
      const double got = (ncol[j] + 4 * ncol[j + 1] + ncol[j + 2]) / 6;
      EXPECT_NEAR(got, want, 1e-12) << i << " " << j;
    }
  FreeBspline(s);
}

TEST_F(BicubicGrid, OverRelaxationSolvesTheStencilSystem) {
  const int n1 = 7, n2 = 5;
  std::mt19937 rng(9);
  std::uniform_real_distribution<double> U(-1, 1);
  std::vector<double> want(n1 * n2), rhs(n1 * n2, 0.0), c(n1 * n2, 0.0);
  for (double& v : want) v = U(rng);
  const double w[3] = {1, 4, 1};
  for (int j = 0; j < n2; ++j)
    for (int i = 0; i < n1; ++i)
      for (int b = -1; b <= 1; ++b)
        for (int a = -1; a <= 1; ++a)
          if (i + a >= 0 && i + a < n1 && j + b >= 0 && j + b < n2)
            rhs[j * n1 + i] += w[a + 1] * w[b + 1] * want[(j + b) * n1 + i + a];
  setup_itera_improve_coefi();
  itera_improve_coefi(n1, n2, c.data(), rhs.data(), 300);
  for (int k = 0; k < n1 * n2; ++k) EXPECT_NEAR(c[k], want[k], 1e-9);
}

}  // namespace
