// The surface fits at sizes 1e-6 .. 1e6: samples of known surfaces (a height-field wave, a
// rippled cylinder, a sphere band), exact and noisy, land the same relative distance from the
// true surface at every size, and the cylinder and sphere keep their radius and ripple whatever
// the noise below a hundredth of the size.
#include <cmath>
#include <random>
#include <vector>

#include "bspline/sfree.h"
#include "cloud/makecld.h"
#include "foundation/coreglob.h"
#include "splinefit/cylfit.h"
#include "splinefit/fitsplin.h"
#include "splinefit/sphfit.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class FitScale : public KernelTest {};

constexpr double kSizes[] = {1.0, 1e-6, 1e-3, 1e3, 1e6};  // unit size first: the reference

struct Points {
  std::vector<float> x, y, z;
  void Add(double a, double b, double c) { x.push_back(float(a)), y.push_back(float(b)), z.push_back(float(c)); }
  Cloud* Make() const { return MakeCld(x.data(), y.data(), z.data(), int(x.size()), nullptr); }
};

// Seeded uniform [0, 1) and standard normal draws.
struct Draws {
  std::mt19937 rng;
  std::uniform_real_distribution<double> U{0.0, 1.0};
  std::normal_distribution<double> G{0.0, 1.0};
  explicit Draws(unsigned seed) : rng(seed) {}
  double Uniform() { return U(rng); }
  double Normal() { return G(rng); }
};

// The wave over [0, s]^2, a tenth of the size high.
double Wave(double x, double y, double s) { return 0.1 * s * std::sin(2.0 * M_PI * x / s) * std::cos(M_PI * y / s); }

// Largest |dist(P)| / size over a 31 x 31 grid of the surface's parameters; dist gives a
// surface point's distance from the true surface.
template <class Dist>
double WorstRelative(const Bspline* s, double size, Dist dist) {
  double worst = 0.0;
  for (int a = 0; a <= 30; ++a)
    for (int b = 0; b <= 30; ++b) {
      double P[3];
      RefEvalSurface(s, s->umin + (s->umax - s->umin) * a / 30, s->vmin + (s->vmax - s->vmin) * b / 30, P);
      worst = std::max(worst, std::fabs(dist(P)) / size);
    }
  return worst;
}

// A relative error measured at every size is the one of unit size (float data: 1e-3 of it).
void ExpectSameAsAtUnitSize(double err, double atUnit, double size) {
  EXPECT_NEAR(err, atUnit, 1e-3 * atUnit + 1e-7) << "size " << size;
}

TEST_F(FitScale, HeightFieldsFitTheSameAtEverySize) {
  BsplFitParams params;
  GetDefaultBsplFitParams(&params);
  double scatteredAtUnit = 0.0, griddedAtUnit = 0.0;
  for (double size : kSizes) {
    // Scattered through the front end with the default weights.
    Draws d(7);
    Points P;
    for (int k = 0; k < 900; ++k) {
      const double x = size * d.Uniform(), y = size * d.Uniform();
      P.Add(x, y, Wave(x, y, size));
    }
    Cloud* c = P.Make();
    Bspline* s = NewFitSplineSurfaceGeometry(c, 0, params);
    FreeCloud(c);
    ASSERT_NE(s, nullptr) << size;
    const double err = WorstRelative(s, size, [&](const double* Q) { return Q[2] - Wave(Q[0], Q[1], size); });
    FreeBspline(s);
    if (size == 1.0) scatteredAtUnit = err;
    ExpectSameAsAtUnitSize(err, scatteredAtUnit, size);
    // Gridded least squares (no smoothing): 40 x 40 heights onto 14 x 14; grid values fall
    // within a hundred-thousandth of the size of the knots at every size.
    const int n = 40;
    const double step = size / (n - 1);
    std::vector<float> h(n * n);
    for (int j = 0; j < n; ++j)
      for (int i = 0; i < n; ++i) h[j * n + i] = float(Wave(i * step, j * step, size));
    Cloud* grid = MakeGridCld(0.0, 0.0, step, step, n, n, 0, 1, h.data(), nullptr);
    double box[6];
    Bspline* g = FitCartisianSpline(grid, box, 3, 3, 14, 14, 0, 0.7, 1e3, 1.0);
    FreeCloud(grid);
    ASSERT_NE(g, nullptr) << size;
    EXPECT_EQ(g->fitProps.flag, 0);  // the gridded engine ran
    EXPECT_EQ(g->umax, box[3]);      // the domain is the data's box exactly
    const double gerr = WorstRelative(g, size, [&](const double* Q) { return Q[2] - Wave(Q[0], Q[1], size); });
    FreeBspline(g);
    if (size == 1.0) griddedAtUnit = gerr;
    EXPECT_NEAR(gerr, griddedAtUnit, 0.05 * griddedAtUnit) << size;
  }
  EXPECT_LT(scatteredAtUnit, 1e-2);  // 900 points onto 10 x 10 with the default smoothing
  EXPECT_LT(griddedAtUnit, 2e-5);
}

// Radius 0.5 size (1 + 0.05 cos 3 theta) about z, heights 0 .. size, radial noise: the fit keeps
// the radius and the whole ripple, the same at every size.
TEST_F(FitScale, CylinderKeepsRadiusAndRippleAtEverySizeAndNoise) {
  BsplFitParams params;
  GetDefaultBsplFitParams(&params);
  params.WrapU = 1;
  params.NumCntrlU = 16;
  for (double noise : {0.0, 1e-3, 1e-2}) {
    double atUnit = 0.0;
    for (double size : kSizes) {
      Draws d(11);
      Points P;
      for (int k = 0; k < 1500; ++k) {
        const double t = 2 * M_PI * d.Uniform(), h = size * d.Uniform();
        const double r = 0.5 * size * (1 + 0.05 * std::cos(3 * t)) + noise * size * d.Normal();
        P.Add(r * std::cos(t), r * std::sin(t), h);
      }
      Cloud* c = P.Make();
      // Through the front end, which hands the points to CylFitBsplSrf about z.
      Bspline* s = NewFitSplineSurfaceGeometry(c, 1, params);
      FreeCloud(c);
      ASSERT_NE(s, nullptr) << size << " " << noise;
      double ripple = 0.0, count = 0.0;
      const double err = WorstRelative(s, size, [&](const double* Q) {
        const double t = std::atan2(Q[1], Q[0]), r = std::hypot(Q[0], Q[1]);
        ripple += (r / size - 0.5) * std::cos(3 * t), ++count;
        return r - 0.5 * size * (1 + 0.05 * std::cos(3 * t));
      });
      FreeBspline(s);
      if (size == 1.0) atUnit = err;
      ExpectSameAsAtUnitSize(err, atUnit, size);
      // The ripple's amplitude 0.025 comes back within 5%.
      EXPECT_NEAR(2.0 * ripple / count, 0.025, 0.05 * 0.025) << size << " " << noise;
    }
    EXPECT_LT(atUnit, 1.5e-3 + 0.6 * noise) << noise;
  }
  // A ring at one height spans no surface: refused with the error set, at every size.
  for (double size : kSizes) {
    Points P;
    for (int k = 0; k < 50; ++k) P.Add(0.5 * size * std::cos(0.1 * k), 0.5 * size * std::sin(0.1 * k), 0.2 * size);
    Cloud* c = P.Make();
    EXPECT_EQ(CylFitBsplSrf(c, params, 2), nullptr) << size;
    FreeCloud(c);
    EXPECT_TRUE(KernelFailed()) << size;
    ClearKernelError();
  }
}

// A sphere band of radius 0.5 size, polar angle 20 .. 160 degrees, radial noise from none to a
// hundredth of the size: the fit stays on the sphere, the same at every size.
TEST_F(FitScale, SphereKeepsItsRadiusAtEverySizeAndNoise) {
  BsplFitParams params;
  GetDefaultBsplFitParams(&params);
  params.WrapU = 1;
  for (double noise : {0.0, 1e-6, 1e-4, 1e-2}) {
    double atUnit = 0.0;
    for (double size : kSizes) {
      Draws d(13);
      Points P;
      for (int k = 0; k < 1200; ++k) {
        const double t = 2 * M_PI * d.Uniform(), ph = (20 + 140 * d.Uniform()) * M_PI / 180;
        const double r = 0.5 * size + noise * size * d.Normal();
        P.Add(r * std::sin(ph) * std::cos(t), r * std::sin(ph) * std::sin(t), r * std::cos(ph));
      }
      Cloud* c = P.Make();
      Bspline* s = SphFitBsplSrf(c, params, 0, 0, 0);
      FreeCloud(c);
      ASSERT_NE(s, nullptr) << size << " " << noise;
      const double err =
          WorstRelative(s, size, [&](const double* Q) { return std::sqrt(Q[0] * Q[0] + Q[1] * Q[1] + Q[2] * Q[2]) - 0.5 * size; });
      FreeBspline(s);
      if (size == 1.0) atUnit = err;
      ExpectSameAsAtUnitSize(err, atUnit, size);
    }
    // 10 x 10 control points hold a sphere band within 0.6% of its radius.
    EXPECT_LT(atUnit, 3e-3 + 0.5 * noise) << noise;
  }
}

}  // namespace
