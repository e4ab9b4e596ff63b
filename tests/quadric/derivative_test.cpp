// The analytic Jacobians of every fit residual are the derivatives of that residual: MINPACK's
// chkder_ scores every row near 1, and central differences agree per column, at seeded random
// points and parameters away from the singular configurations (a point on a centre, an axis or
// an apex), at scales 1e-6 to 1e6.
#include <minpack.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <vector>

#include "foundation/vec3.h"
#include "quadric/qcircle.h"
#include "quadric/qnlfit.h"
#include "quadric/sphere.h"
#include "tests/support/kernel_fixture.h"

namespace {

class DerivativeTest : public KernelTest {};

// fvec (iflag 1) or the column-major m x n Jacobian (iflag 2) at x.
using Residual = std::function<void(double* x, double* fvec, double* fjac, int iflag)>;

struct Verdict {
  double worstChkder = 1.0;   // smallest chkder_ score over the rows
  double worstCentral = 0.0;  // largest |central difference - column| / largest |column entry|
};

// typical[j] sets the central-difference step of parameter j (a length or 1 for an angle).
Verdict CheckJacobian(const Residual& f, int m, std::vector<double> x, const std::vector<double>& typical) {
  int n = static_cast<int>(x.size()), ld = m;
  std::vector<double> fvec(m), fvecp(m), fjac(static_cast<size_t>(m) * n), xp(n), err(m);
  Verdict v;
  int mode = 1;
  chkder_(&m, &n, x.data(), fvec.data(), fjac.data(), &ld, xp.data(), fvecp.data(), &mode, err.data());
  f(x.data(), fvec.data(), nullptr, 1);
  f(x.data(), nullptr, fjac.data(), 2);
  f(xp.data(), fvecp.data(), nullptr, 1);
  mode = 2;
  chkder_(&m, &n, x.data(), fvec.data(), fjac.data(), &ld, xp.data(), fvecp.data(), &mode, err.data());
  v.worstChkder = *std::min_element(err.begin(), err.end());

  std::vector<double> up(m), down(m);
  for (int j = 0; j < n; ++j) {
    const double h = 1e-5 * std::max(std::fabs(x[j]), typical[j]);
    std::vector<double> xu = x, xd = x;
    xu[j] += h;
    xd[j] -= h;
    f(xu.data(), up.data(), nullptr, 1);
    f(xd.data(), down.data(), nullptr, 1);
    double scale = 0.0, worst = 0.0;
    for (int i = 0; i < m; ++i) {
      scale = std::max(scale, std::fabs(fjac[i + j * m]));
      worst = std::max(worst, std::fabs((up[i] - down[i]) / (2.0 * h) - fjac[i + j * m]));
    }
    v.worstCentral = std::max(v.worstCentral, worst / scale);
  }
  return v;
}

typedef int (*MinpackCallback)(int*, int*, double*, double*, double*, int*, int*);

Residual FromMinpack(MinpackCallback cb, int m, int n) {
  return [cb, m, n](double* x, double* fvec, double* fjac, int iflag) {
    int mm = m, nn = n, ld = m, flag = iflag;
    cb(&mm, &nn, x, fvec, fjac, &ld, &flag);
  };
}

// A random configuration at `scale`: m points in a box of that size about `at`, a centre (or
// axis point, apex) near it, a random axis, radius and half angle. Points within a tenth of
// the size of the centre or the axis line, or within 0.1 rad of the axis direction, are drawn
// again: there the residuals have kinks or floored divisors. So are points within a tenth of
// the size of the circle, sphere, cylinder or either nappe of the cone: chkder_ weighs the difference error
// against the residual, so a small residual scores a right derivative low.
struct Configuration {
  std::vector<float> x, y, z;
  double centre[3], axis[3], radius, halfAngle;
};

Configuration Draw(std::mt19937& rng, double scale, int m) {
  std::uniform_real_distribution<double> U(-1.0, 1.0);
  Configuration c;
  const double at[3] = {0.5 * scale, -0.3 * scale, 0.2 * scale};
  for (int k = 0; k < 3; ++k) {
    c.centre[k] = at[k] + 0.3 * scale * U(rng);
    c.axis[k] = U(rng);
  }
  c.axis[2] += 1.5;  // away from a collapsed axis
  const double alen = std::sqrt(c.axis[0] * c.axis[0] + c.axis[1] * c.axis[1] + c.axis[2] * c.axis[2]);
  c.radius = scale * (0.5 + 0.5 * (U(rng) + 1.0));
  c.halfAngle = 0.3 + 0.4 * (U(rng) + 1.0);
  while (static_cast<int>(c.x.size()) < m) {
    double p[3], d[3];
    for (int k = 0; k < 3; ++k) {
      p[k] = static_cast<float>(at[k] + scale * U(rng));
      d[k] = p[k] - c.centre[k];
    }
    const double dist = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    const double h = (d[0] * c.axis[0] + d[1] * c.axis[1] + d[2] * c.axis[2]) / alen;
    const double rho = std::sqrt(std::max(dist * dist - h * h, 0.0));
    const double planar = std::sqrt(d[0] * d[0] + d[1] * d[1]);
    if (dist < 0.1 * scale || planar < 0.1 * scale || rho < 0.1 * scale || rho < 0.1 * dist) continue;
    // The circle, sphere, cylinder, cone and the cone's other nappe.
    const double ct = std::cos(c.halfAngle), st = std::sin(c.halfAngle);
    const double surface[5] = {planar - c.radius, dist - c.radius, rho - c.radius, rho * ct - h * st, rho * ct + h * st};
    if (std::any_of(surface, surface + 5, [&](double s) { return std::fabs(s) < 0.1 * scale; })) continue;
    c.x.push_back(static_cast<float>(p[0]));
    c.y.push_back(static_cast<float>(p[1]));
    c.z.push_back(static_cast<float>(p[2]));
  }
  return c;
}

void Expect(const Verdict& v, const char* what, double scale) {
  EXPECT_GT(v.worstChkder, 0.8) << what << " at scale " << scale;
  EXPECT_LT(v.worstCentral, 1e-6) << what << " at scale " << scale;
}

TEST_F(DerivativeTest, MinpackCallbacksAreTheDerivativesOfTheirResiduals) {
  std::mt19937 rng(49);
  const int m = 60;
  for (double scale : {1e-6, 1.0, 1e6}) {
    for (int trial = 0; trial < 4; ++trial) {
      Configuration c = Draw(rng, scale, m);
      lmXarray = c.x.data();
      lmYarray = c.y.data();
      lmZarray = c.z.data();
      lmNdataPnts = m;
      lmRadius = c.radius;
      const double L = scale;
      const std::vector<double> round2 = {c.centre[0], c.centre[1], c.radius};
      const std::vector<double> round3 = {c.centre[0], c.centre[1], c.centre[2], c.radius};
      const std::vector<double> axial = {c.centre[0], c.centre[1], c.centre[2], c.axis[0],
                                         c.axis[1],   c.axis[2],   c.radius};
      std::vector<double> cone = axial;
      cone[6] = c.halfAngle;
      const std::vector<double> lengths = {L, L, L, L}, axialTypical = {L, L, L, 1, 1, 1, L},
                                coneTypical = {L, L, L, 1, 1, 1, 1};

      Expect(CheckJacobian(FromMinpack(CircleChiSqMinPack, m, 3), m, round2, lengths), "circle", scale);
      Expect(CheckJacobian(FromMinpack(CircleWradiusChiSq, m, 2), m, {round2[0], round2[1]}, lengths),
             "circle, given radius", scale);
      Expect(CheckJacobian(FromMinpack(SphereChiSqMinPack, m, 4), m, round3, lengths), "sphere", scale);
      Expect(CheckJacobian(FromMinpack(SphereChiSqWradiusMinPack, m, 3), m, {round3[0], round3[1], round3[2]},
                           lengths),
             "sphere, given radius", scale);
      Expect(CheckJacobian(FromMinpack(CylinderChiSq2Minpack, m, 7), m, axial, axialTypical), "cylinder, squared",
             scale);
      const std::vector<double> six(axial.begin(), axial.begin() + 6);
      Expect(CheckJacobian(FromMinpack(CylinderChiSq2WradiusMinpack, m, 6), m, six, axialTypical),
             "cylinder, squared, given radius", scale);
      Expect(CheckJacobian(FromMinpack(CylinderChiSqWradiusMinpack, m, 6), m, six, axialTypical),
             "cylinder, given radius", scale);
      Expect(CheckJacobian(FromMinpack(ConeChiSqMinpack, m, 7), m, cone, coneTypical), "cone", scale);
      Expect(CheckJacobian(FromMinpack(ConeChiSq2Minpack, m, 7), m, cone, coneTypical), "cone, algebraic", scale);
      // The axial fits about the drawn axis, moved and tilted a little off it: the cylinder, and
      // the cone with its apex near the reference point.
      double unitAxis[3];
      VecNormalize3(c.axis, unitAxis);
      SetAxialReference(c.centre, unitAxis);
      const std::vector<double> movedTypical = {L, L, 1, 1, L, 1};
      Expect(CheckJacobian(FromMinpack(AxialChiSqMinpack, m, 5), m, {0.01 * L, -0.02 * L, 0.03, -0.01, c.radius},
                           movedTypical),
             "axial, cylinder", scale);
      Expect(CheckJacobian(FromMinpack(AxialChiSqMinpack, m, 6), m,
                           {0.01 * L, -0.02 * L, 0.03, -0.01, 1e-3 * L, c.halfAngle}, movedTypical),
             "axial, cone", scale);
    }
  }
}

// The own engine's models hand back one residual and its gradient per point; laid out as
// MINPACK's rows they face the same checks.
TEST_F(DerivativeTest, EngineModelsAreTheDerivativesOfTheirResiduals) {
  std::mt19937 rng(50);
  const int m = 60;
  for (double scale : {1e-6, 1.0, 1e6}) {
    for (int trial = 0; trial < 4; ++trial) {
      Configuration c = Draw(rng, scale, m);
      const Residual sphere = [&](double* a, double* fvec, double* fjac, int iflag) {
        for (int i = 0; i < m; ++i) {
          double r, g[4];
          SphereChiSqr(c.x[i], c.y[i], c.z[i], a, &r, g, 4);
          if (iflag == 1) fvec[i] = r;
          for (int j = 0; iflag == 2 && j < 4; ++j) fjac[i + j * m] = g[j];
        }
      };
      const Residual circle = [&](double* a, double* fvec, double* fjac, int iflag) {
        for (int i = 0; i < m; ++i) {
          double r, g[3];
          CircleChiSq(c.x[i], c.y[i], a, &r, g, 3);
          if (iflag == 1) fvec[i] = r;
          for (int j = 0; iflag == 2 && j < 3; ++j) fjac[i + j * m] = g[j];
        }
      };
      const std::vector<double> lengths = {scale, scale, scale, scale};
      Expect(CheckJacobian(sphere, m, {c.centre[0], c.centre[1], c.centre[2], c.radius}, lengths), "engine sphere",
             scale);
      Expect(CheckJacobian(circle, m, {c.centre[0], c.centre[1], c.radius}, lengths), "engine circle", scale);
    }
  }
}

}  // namespace
