// The Gauss-Newton sphere against the MINPACK one: the same least-squares sphere on full spheres,
// caps and noisy near-flat patches, at every scale and far from the origin, with the same
// refusals.
#include <cmath>
#include <random>
#include <vector>

#include "quadric/qnlfit.h"
#include "quadric/sphere.h"
#include "tests/support/kernel_fixture.h"

namespace {

class SphereNewtonTest : public KernelTest {};

struct Cap {
  std::vector<float> x, y, z;
  int n() const { return static_cast<int>(x.size()); }
};

// n points of the sphere of radius r about c within `angle` of its top, radial noise +-noise,
// every length times size and then moved by shift.
Cap CapPoints(double r, double angle, int n, double noise, unsigned seed, double size, double shift) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> U(0.0, 1.0), N(-noise, noise);
  const double c[3] = {0.3, -0.2, 0.1 - r};
  Cap p;
  for (int i = 0; i < n; ++i) {
    const double h = 1.0 - (1.0 - std::cos(angle)) * U(rng), s = std::sqrt(1.0 - h * h), t = 6.283185307179586 * U(rng);
    const double rr = r + N(rng);
    p.x.push_back(float(shift + size * (c[0] + rr * s * std::cos(t))));
    p.y.push_back(float(shift + size * (c[1] + rr * s * std::sin(t))));
    p.z.push_back(float(shift + size * (c[2] + rr * h)));
  }
  return p;
}

double Deviation(const double c[3], double r, double x, double y, double z) {
  return std::sqrt((x - c[0]) * (x - c[0]) + (y - c[1]) * (y - c[1]) + (z - c[2]) * (z - c[2])) - r;
}

// The sum of squares of the Gauss-Newton sphere is that of the MINPACK one to round-off (a
// minimum at least as good, and no better than round-off allows), and every point of the cap
// deviates from both alike: a full sphere, a hemisphere, a 10-degree cap, and a noisy patch of a
// sphere thirty times its width, at sizes 1e-6..1e6 and 1e4 sizes from the origin.
TEST_F(SphereNewtonTest, SameLeastSquaresSphereAsMinpack) {
  struct Case {
    double r, angle, noise;
  } cases[] = {{1.0, 3.14159, 0.01}, {1.0, 1.5708, 0.002}, {1.0, 0.1745, 1e-4}, {30.0, 0.05, 0.003}};
  for (const Case& k : cases)
    for (double size : {1e-6, 1.0, 1e6})
      for (double away : {0.0, 1e4}) {
        const Cap p = CapPoints(k.r, k.angle, 40, k.noise, 7, size, away * size);
        double c1[3], r1, e1, c2[3], r2, e2;
        ASSERT_EQ(FitSphere(p.x.data(), p.y.data(), p.z.data(), p.n(), c1, &r1, &e1), 0);
        // The steps settle on their own, a wrong gradient would leave them to MINPACK, which
        // stores the points it fits process-wide.
        lmXarray = nullptr;
        ASSERT_EQ(FitSphereNewton(p.x.data(), p.y.data(), p.z.data(), p.n(), c2, &r2, &e2), 0);
        EXPECT_EQ(lmXarray, nullptr) << k.r << " " << size << " " << away;
        const double width = size * k.r * std::sin(std::fmin(k.angle, 1.5708));
        // Far from the origin the single-precision points themselves are only good to 1e-7 of
        // their distance from it.
        const double roundOff = (away > 0 ? 1e-7 * away * size : 0.0) + 1e-9 * width;
        EXPECT_LE(e2, e1 * (1 + 1e-6) + roundOff * roundOff) << k.r << " " << size << " " << away;
        EXPECT_GE(e2, e1 * (1 - 1e-6) - roundOff * roundOff) << k.r << " " << size << " " << away;
        double worst = 0.0;
        for (int i = 0; i < p.n(); ++i)
          worst = std::fmax(worst, std::fabs(Deviation(c1, r1, p.x[i], p.y[i], p.z[i]) -
                                             Deviation(c2, r2, p.x[i], p.y[i], p.z[i])));
        EXPECT_LE(worst, 1e-5 * k.noise * size * k.r + 10 * roundOff) << k.r << " " << size << " " << away;
      }
}

// Four points give their sphere exactly, and what FitSphere refuses (too few points, a plane)
// is refused alike.
TEST_F(SphereNewtonTest, ExactAndRefusedAsFitSphere) {
  const float x4[] = {1, -1, 0, 0}, y4[] = {0, 0, 1, 0}, z4[] = {0, 0, 0, 1};
  double c[3], r, e;
  ASSERT_EQ(FitSphereNewton(x4, y4, z4, 4, c, &r, &e), 0);
  EXPECT_NEAR(r, 1.0, 1e-6);
  EXPECT_NEAR(std::hypot(c[0], std::hypot(c[1], c[2])), 0.0, 1e-6);
  EXPECT_EQ(FitSphereNewton(x4, y4, z4, 3, c, &r, &e), -2);
  const float px[] = {0, 1, 0, 1, 0.5f}, py[] = {0, 0, 1, 1, 0.5f}, pz[] = {2, 2, 2, 2, 2};
  EXPECT_EQ(FitSphereNewton(px, py, pz, 5, c, &r, &e), -2);
  EXPECT_EQ(FitSphere(px, py, pz, 5, c, &r, &e), -2);
  EXPECT_FALSE(KernelFailed());
}

}  // namespace
