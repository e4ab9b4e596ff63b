// Surface normals at parameter points: the cross product of the partials, checked against
// finite differences of an independent evaluator.
#include <cmath>
#include <random>
#include <vector>

#include "bspline/sfree.h"
#include "surface/srfnorm.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class SurfNormalTest : public KernelTest {};

TEST_F(SurfNormalTest, NormalIsTheCrossProductOfTheParameterPartials) {
  std::mt19937 rng(17);
  for (bool rational : {false, true}) {
    PatchOptions o;
    o.layout = KnotLayout::Random;
    o.rational = rational;
    o.umin = -0.5;
    o.umax = 1.5;
    o.vmax = 2.0;
    Bspline* s = BuildFunctionPatch([](double x, double y) { return std::sin(2 * x) * std::cos(y); }, o);
    std::uniform_real_distribution<double> du(-0.45, 1.45), dv(0.05, 1.95);
    const int n = 25;
    std::vector<double> u(n), v(n);
    for (int i = 0; i < n; ++i) u[i] = du(rng), v[i] = dv(rng);
    std::vector<double> normals(3 * n);
    ComputeSurfNormalNPnts(s, u.data(), v.data(), reinterpret_cast<double(*)[3]>(normals.data()), n);
    const double h = 1e-6;
    for (int i = 0; i < n; ++i) {
      double a[3], b[3], c[3], d[3], su[3], sv[3];
      RefEvalSurface(s, u[i] + h, v[i], a);
      RefEvalSurface(s, u[i] - h, v[i], b);
      RefEvalSurface(s, u[i], v[i] + h, c);
      RefEvalSurface(s, u[i], v[i] - h, d);
      for (int k = 0; k < 3; ++k) su[k] = (a[k] - b[k]) / (2 * h), sv[k] = (c[k] - d[k]) / (2 * h);
      const double ref[3] = {su[1] * sv[2] - su[2] * sv[1], su[2] * sv[0] - su[0] * sv[2],
                             su[0] * sv[1] - su[1] * sv[0]};
      const double size = std::sqrt(ref[0] * ref[0] + ref[1] * ref[1] + ref[2] * ref[2]);
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(normals[3 * i + k], ref[k], 1e-6 * size) << i;
    }
    FreeBspline(s);
  }
}

}  // namespace
