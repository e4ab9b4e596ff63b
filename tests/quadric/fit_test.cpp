// Least-squares circles and spheres, the MINPACK drivers and the subsystem's own engine:
// primitives fitted to exact samples come back, noisy fits are local minima of their error, fits
// move with their points, and failures leave the caller's values alone.
#include <cmath>
#include <random>
#include <vector>

#include "foundation/vec3.h"
#include "quadric/cpoint.h"
#include "quadric/mrqmin.h"
#include "quadric/qcircle.h"
#include "quadric/qnlfit.h"
#include "quadric/sphere.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class FitTest : public KernelTest {};

struct Points {
  std::vector<float> x, y, z;
  void add(double px, double py, double pz) {
    x.push_back(static_cast<float>(px));
    y.push_back(static_cast<float>(py));
    z.push_back(static_cast<float>(pz));
  }
  int n() const { return static_cast<int>(x.size()); }
};

// n points of the circle (c, r) in the plane z = 0 over an arc of `sweep` radians, radial noise.
Points CirclePoints(const double c[2], double r, int n, double noise, unsigned seed, double sweep = 6.283185307179586) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> N(-noise, noise);
  Points p;
  for (int i = 0; i < n; ++i) {
    const double t = sweep * i / n, rr = r + N(rng);
    p.add(c[0] + rr * std::cos(t), c[1] + rr * std::sin(t), 0.0);
  }
  return p;
}

// n points of the sphere (c, r) spread by a golden-angle spiral, radial noise.
Points SpherePoints(const double c[3], double r, int n, double noise, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> N(-noise, noise);
  Points p;
  for (int i = 0; i < n; ++i) {
    const double h = -1.0 + (2.0 * i + 1.0) / n, s = std::sqrt(1.0 - h * h), t = 2.399963229728653 * i;
    const double rr = r + N(rng);
    p.add(c[0] + rr * s * std::cos(t), c[1] + rr * s * std::sin(t), c[2] + rr * h);
  }
  return p;
}

// Points on the cone (apex, unit axis a, half angle) or, with halfAngle < 0, the cylinder of
// radius -halfAngle about the line (apex, a); heights 1..3 along the axis.
Points RuledPoints(const double apex[3], const double a[3], double halfAngle, int n) {
  double u[3], v[3];
  PerpVecs(a, u, v);
  Points p;
  for (int i = 0; i < n; ++i) {
    const double h = 1.0 + 2.0 * (i % 7) / 6.0, t = 0.9 * i;
    const double r = halfAngle < 0 ? -halfAngle : h * std::tan(halfAngle);
    double q[3];
    for (int k = 0; k < 3; ++k) q[k] = apex[k] + h * a[k] + r * (std::cos(t) * u[k] + std::sin(t) * v[k]);
    p.add(q[0], q[1], q[2]);
  }
  return p;
}

double CircleError(const Points& p, double cx, double cy, double r) {
  double e, m;
  const double c[2] = {cx, cy};
  circle_fit_error(p.x.data(), p.y.data(), p.n(), c, r, &e, &m);
  return e;
}

double SphereError(const Points& p, const double c[3], double r) {
  double e, m;
  SphereFitError(p.x.data(), p.y.data(), p.z.data(), p.n(), c, r, &e, &m);
  return e;
}

TEST_F(FitTest, NoiselessPrimitivesComeBackFromNearStarts) {
  double err = 1, maxDev = 1;
  const double cc[2] = {1.5, -2.0};
  Points c = CirclePoints(cc, 2.0, 40, 0.0, 1);
  double centre[3] = {1.6, -1.9}, r = 2.2;
  ASSERT_EQ(CircleNonllsqrFitMinpack(c.x.data(), c.y.data(), c.n(), centre, &r, 1e-15, 200, &err, &maxDev), 0);
  EXPECT_NEAR(centre[0], 1.5, 1e-6);
  EXPECT_NEAR(centre[1], -2.0, 1e-6);
  EXPECT_NEAR(r, 2.0, 1e-6);
  EXPECT_LT(maxDev, 1e-6);
  EXPECT_LT(err, 1e-12);

  const double sc[3] = {0.5, 1.0, -1.5};
  Points s = SpherePoints(sc, 3.0, 60, 0.0, 2);
  double sCentre[3] = {0.4, 1.2, -1.4}, sr = 2.7;
  ASSERT_EQ(SphereNonllsqrFitMinpack(s.x.data(), s.y.data(), s.z.data(), s.n(), sCentre, &sr, 1e-15, 200, &err,
                                     &maxDev), 0);
  EXPECT_LT(VecDist3(sCentre, sc), 1e-6);
  EXPECT_NEAR(sr, 3.0, 1e-6);
  EXPECT_LT(maxDev, 1e-6);
  double fixedCentre[3] = {0.3, 1.1, -1.2};
  ASSERT_EQ(SphereNonllsqrFitWradiusMinpack(s.x.data(), s.y.data(), s.z.data(), s.n(), fixedCentre, 3.0, 1e-15,
                                            200, &err, &maxDev), 0);
  EXPECT_LT(VecDist3(fixedCentre, sc), 1e-6);

  double axis[3] = {1, 2, 2};
  VecNormalize3(axis, axis);
  const double base[3] = {1, -1, 0.5};
  Points cyl = RuledPoints(base, axis, -1.5, 70);
  double point[3] = {1.05, -0.95, 0.55}, a[3] = {1.1, 1.9, 2.1}, cr = 1.4;
  ASSERT_EQ(CylinderNonllsqrFitMinpack(cyl.x.data(), cyl.y.data(), cyl.z.data(), cyl.n(), 1e-15, 400, point, a, &cr,
                                       &err, &maxDev), 0);
  EXPECT_NEAR(VecSize3(a), 1.0, 1e-12);
  EXPECT_NEAR(std::fabs(VecDotProd3(a, axis)), 1.0, 1e-9);
  EXPECT_NEAR(std::fabs(cr), 1.5, 1e-5);
  EXPECT_LT(maxDev, 1e-5);
  double wpoint[3] = {1.05, -0.95, 0.55}, wa[3] = {1.1, 1.9, 2.1};
  ASSERT_EQ(CylNonllsqrFitWradiusMinpack(cyl.x.data(), cyl.y.data(), cyl.z.data(), cyl.n(), 1e-15, 400, wpoint, wa,
                                         1.5, &err, &maxDev), 0);
  EXPECT_NEAR(VecSize3(wa), 1.0, 1e-12);
  EXPECT_LT(maxDev, 1e-5);

  const double apex[3] = {0.5, 0.5, -1};
  Points cone = RuledPoints(apex, axis, 0.4, 70);
  double ap[3] = {0.52, 0.47, -0.97}, ca[3] = {0.34, 0.66, 0.66}, angle = 0.42;
  ASSERT_EQ(ConeNonllsqrFitMinpack(cone.x.data(), cone.y.data(), cone.z.data(), cone.n(), 1e-15, 400, ap, ca,
                                   &angle, &err, &maxDev), 0);
  EXPECT_NEAR(VecSize3(ca), 1.0, 1e-12);
  EXPECT_LT(VecDist3(ap, apex), 1e-4);
  EXPECT_NEAR(angle, 0.4, 1e-5);
  EXPECT_LT(maxDev, 1e-5);
}

// Integer points on a sphere, cylinder or cone, mapped by the integer matrix 7 R (R the rotation
// of the quaternion (2, 1, 1, 1)), moved by an integer offset and scaled by a power of two: every
// coordinate is exact in single precision, so the fit has an exact answer.
constexpr int kTurn[3][3] = {{3, -2, 6}, {6, 3, -2}, {-2, 6, 3}};
constexpr double kOffset[3] = {500, -300, 200};

struct ExactSamples {
  Points p;
  double scale;
  void add(int x, int y, int z) {
    const int q[3] = {x, y, z};
    double w[3];
    for (int r = 0; r < 3; ++r)
      w[r] = (kOffset[r] + kTurn[r][0] * q[0] + kTurn[r][1] * q[1] + kTurn[r][2] * q[2]) * scale;
    p.add(w[0], w[1], w[2]);
  }
  double at(int k) const { return kOffset[k] * scale; }
};

// The lattice points (x, y) of the circle of radius r about the origin.
template <class F>
void LatticeCircle(int r, F f) {
  for (int x = -r; x <= r; ++x) {
    const int y = static_cast<int>(std::lround(std::sqrt(static_cast<double>(r * r - x * x))));
    if (x * x + y * y != r * r) continue;
    f(x, y);
    if (y != 0) f(x, -y);
  }
}

TEST_F(FitTest, ExactSamplesGiveTheirPrimitiveAtEveryScale) {
  const double axis[3] = {6.0 / 7, -2.0 / 7, 3.0 / 7};  // the third column of R
  for (double scale : {std::ldexp(1.0, -20), 1.0, std::ldexp(1.0, 20)}) {
    const double tol = 1e-9 * 875.0 * scale;  // of the samples' size
    double err, maxDev;

    ExactSamples sphere{{}, scale};
    for (int x = -9; x <= 9; ++x)
      for (int y = -9; y <= 9; ++y)
        for (int z = -9; z <= 9; ++z)
          if (x * x + y * y + z * z == 81) sphere.add(x, y, z);
    // The fit and its refinement alike, at every scale.
    double centre[3] = {sphere.at(0) + 3 * scale, sphere.at(1) - 2 * scale, sphere.at(2)}, r = 60.0 * scale;
    ASSERT_EQ(SphereNonllsqrFitMinpack(sphere.p.x.data(), sphere.p.y.data(), sphere.p.z.data(), sphere.p.n(), centre,
                                       &r, 1e-15, 100, &err, &maxDev), 0);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(centre[k], sphere.at(k), tol) << scale;
    EXPECT_NEAR(r, 63.0 * scale, tol);
    ASSERT_EQ(FitSphere(sphere.p.x.data(), sphere.p.y.data(), sphere.p.z.data(), sphere.p.n(), centre, &r, &err), 0);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(centre[k], sphere.at(k), tol) << scale;
    EXPECT_NEAR(r, 63.0 * scale, tol);

    ExactSamples cyl{{}, scale};
    for (int h : {-20, -7, 3, 16}) LatticeCircle(25, [&](int x, int y) { cyl.add(x, y, h); });
    double point[3] = {cyl.at(0) + 9 * scale, cyl.at(1) - 6 * scale, cyl.at(2) + 4 * scale};
    double a[3] = {0.8, -0.35, 0.45}, cr = 160.0 * scale;
    ASSERT_EQ(CylinderNonllsqrFitMinpack(cyl.p.x.data(), cyl.p.y.data(), cyl.p.z.data(), cyl.p.n(), 1e-15, 400,
                                         point, a, &cr, &err, &maxDev), 0);
    EXPECT_NEAR(std::fabs(VecDotProd3(a, axis)), 1.0, 1e-9);
    double off[3], across[3];
    for (int k = 0; k < 3; ++k) off[k] = point[k] - cyl.at(k);
    EXPECT_LT(VecSize3(VecCrossProd3(off, axis, across)), tol);  // the fitted axis point lies on the axis
    EXPECT_NEAR(std::fabs(cr), 175.0 * scale, tol);

    // Half angle atan(3/4): height 4 r / 3 on lattice circles whose radius is a multiple of 3.
    ExactSamples cone{{}, scale};
    for (int rr : {15, 39, 51, 75}) LatticeCircle(rr, [&](int x, int y) { cone.add(x, y, 4 * rr / 3); });
    double apex[3] = {cone.at(0) + 20 * scale, cone.at(1) - 15 * scale, cone.at(2) + 10 * scale};
    double ca[3] = {0.83, -0.31, 0.46}, angle = 0.68;
    ASSERT_EQ(ConeNonllsqrFitMinpack(cone.p.x.data(), cone.p.y.data(), cone.p.z.data(), cone.p.n(), 1e-15, 400, apex,
                                     ca, &angle, &err, &maxDev), 0);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(apex[k], cone.at(k), tol) << scale;
    EXPECT_NEAR(std::fabs(VecDotProd3(ca, axis)), 1.0, 1e-9);
    EXPECT_NEAR(angle, std::atan(0.75), 1e-9);
  }
}

// The geometric cone residual's sum of squares at the parameters p (after a fit, whose points
// the callback still reads).
double ConeSumOfSquares(int m, const double p[7]) {
  std::vector<double> f(m);
  int mm = m, n = 7, ld = m, flag = 1;
  double x[7];
  std::copy(p, p + 7, x);
  ConeChiSqMinpack(&mm, &n, x, f.data(), nullptr, &ld, &flag);
  double sum = 0.0;
  for (double v : f) sum += v * v;
  return sum;
}

// On noisy samples the fit stops at the least-squares optimum of its residual: no coordinate
// step lowers the sum of squares (a wrong Jacobian stops the solver short of it).
TEST_F(FitTest, NoisyConeFitIsTheLeastSquaresOptimum) {
  for (double scale : {1e-3, 1.0, 1e3}) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> U(0.0, 1.0), N(-0.01, 0.01);
    double axis[3] = {0.3, -0.5, 0.8};
    VecNormalize3(axis, axis);
    double u[3], v[3];
    PerpVecs(axis, u, v);
    const double apex[3] = {2 * scale, 1 * scale, -1 * scale}, half = 0.5;
    Points p;
    for (int i = 0; i < 300; ++i) {
      const double h = (1.0 + 2.0 * U(rng)) * scale, t = 6.283185307179586 * U(rng);
      const double rr = h * std::tan(half) + N(rng) * scale;
      p.add(apex[0] + h * axis[0] + rr * (std::cos(t) * u[0] + std::sin(t) * v[0]),
            apex[1] + h * axis[1] + rr * (std::cos(t) * u[1] + std::sin(t) * v[1]),
            apex[2] + h * axis[2] + rr * (std::cos(t) * u[2] + std::sin(t) * v[2]));
    }
    double ap[3] = {apex[0] + 0.05 * scale, apex[1] - 0.05 * scale, apex[2]}, ca[3] = {0.35, -0.45, 0.8};
    double angle = 0.45, err, maxDev;
    ASSERT_EQ(ConeNonllsqrFitMinpack(p.x.data(), p.y.data(), p.z.data(), p.n(), 1e-15, 400, ap, ca, &angle, &err,
                                     &maxDev), 0);
    const double fit[7] = {ap[0], ap[1], ap[2], ca[0], ca[1], ca[2], angle};
    const double best = ConeSumOfSquares(p.n(), fit);
    for (int j = 0; j < 7; ++j)
      for (double sign : {-1.0, 1.0}) {
        double q[7];
        std::copy(fit, fit + 7, q);
        q[j] += sign * 1e-5 * (j < 3 ? scale : 1.0);
        EXPECT_GE(ConeSumOfSquares(p.n(), q), best * (1.0 - 1e-12)) << "parameter " << j << " at scale " << scale;
      }
  }
}

TEST_F(FitTest, NoisyFitsAreLocalMinimaAndMoveWithTheirPoints) {
  const double cc[2] = {0.3, 0.7};
  Points c = CirclePoints(cc, 5.0, 200, 0.05, 3);
  double centre[3], r, err;
  ASSERT_EQ(NewFitCircle(c.x.data(), c.y.data(), c.n(), centre, &r, &err), 0);
  EXPECT_NEAR(err, CircleError(c, centre[0], centre[1], r), 1e-6 * err);
  for (int k = 0; k < 3; ++k)
    for (double h : {-1e-4, 1e-4}) {
      double p[3] = {centre[0], centre[1], r};
      p[k] += h;
      EXPECT_GE(CircleError(c, p[0], p[1], p[2]), err);
    }

  const double sc[3] = {1, 2, 3};
  Points s = SpherePoints(sc, 2.0, 80, 0.02, 4);
  double sCentre[3], sr, sErr;
  ASSERT_EQ(FitSphere(s.x.data(), s.y.data(), s.z.data(), s.n(), sCentre, &sr, &sErr), 0);
  EXPECT_NEAR(sErr, SphereError(s, sCentre, sr), 1e-6 * sErr);
  for (int k = 0; k < 4; ++k)
    for (double h : {-1e-4, 1e-4}) {
      double p[4] = {sCentre[0], sCentre[1], sCentre[2], sr};
      p[k] += h;
      EXPECT_GE(SphereError(s, p, p[3]), sErr);
    }

  // The same points rotated and moved to (1000, 1000, 1000): the moved, rotated fit.
  Xform M;
  const double turn[3] = {1, 1, 0};
  RotationAboutAxisXform(sc, turn, 0.7, M);
  for (int k = 12; k < 15; ++k) M[k] += 1000.0;
  Points moved;
  for (int i = 0; i < s.n(); ++i) {
    double p[3] = {s.x[i], s.y[i], s.z[i]}, q[3];
    VecTrans3(p, M, q);
    moved.add(q[0], q[1], q[2]);
  }
  double mCentre[3], mr, mErr, expect[3];
  ASSERT_EQ(FitSphere(moved.x.data(), moved.y.data(), moved.z.data(), moved.n(), mCentre, &mr, &mErr), 0);
  VecTrans3(sCentre, M, expect);
  EXPECT_LT(VecDist3(mCentre, expect), 1e-3);
  EXPECT_NEAR(mr, sr, 1e-3);
  EXPECT_NEAR(mErr, sErr, 0.05 * sErr);

  Points c2;
  for (int i = 0; i < c.n(); ++i) {
    const double a = 0.9, px = c.x[i], py = c.y[i];
    c2.add(1000.0 + px * std::cos(a) - py * std::sin(a), 1000.0 + px * std::sin(a) + py * std::cos(a), 0.0);
  }
  double c2Centre[3], r2, err2;
  ASSERT_EQ(NewFitCircle(c2.x.data(), c2.y.data(), c2.n(), c2Centre, &r2, &err2), 0);
  EXPECT_NEAR(c2Centre[0], 1000.0 + centre[0] * std::cos(0.9) - centre[1] * std::sin(0.9), 1e-3);
  EXPECT_NEAR(c2Centre[1], 1000.0 + centre[0] * std::sin(0.9) + centre[1] * std::cos(0.9), 1e-3);
  EXPECT_NEAR(r2, r, 1e-3);
}

TEST_F(FitTest, RefusedInputLeavesTheStartValues) {
  const double cc[2] = {0, 0};
  Points c = CirclePoints(cc, 1.0, 6, 0.0, 5);
  double centre[2] = {0.1, 0.2}, r = 0.9, err = -7, maxDev = -7;
  EXPECT_EQ(CircleNonllsqrFitMinpack(c.x.data(), c.y.data(), 2, centre, &r, 1e-10, 50, &err, &maxDev), -2);
  EXPECT_EQ(CircleNonllsqrFitMinpack(c.x.data(), nullptr, 6, centre, &r, 1e-10, 50, &err, &maxDev), -2);
  const double axis[3] = {0, 0, 1}, o[3] = {0, 0, 0};
  Points cyl = RuledPoints(o, axis, -1.0, 6);
  double point[3] = {0.1, 0, 0}, a[3] = {0, 0.1, 1}, cr = 1.1, ang = 0.3;
  EXPECT_EQ(CylinderNonllsqrFitMinpack(cyl.x.data(), cyl.y.data(), cyl.z.data(), 6, 1e-10, 50, point, a, &cr, &err,
                                       &maxDev), -2);
  EXPECT_EQ(ConeNonllsqrFitMinpack(cyl.x.data(), cyl.y.data(), cyl.z.data(), 6, 1e-10, 50, point, a, &ang, &err,
                                   &maxDev), -2);
  EXPECT_TRUE(centre[0] == 0.1 && centre[1] == 0.2 && r == 0.9 && point[0] == 0.1 && a[1] == 0.1 && cr == 1.1 &&
              ang == 0.3 && err == -7 && maxDev == -7);
  // A start on a collapsed axis stops the solver rather than dividing by nothing.
  double zero[3] = {0, 0, 0};
  EXPECT_EQ(CylinderNonllsqrFitMinpack(cyl.x.data(), cyl.y.data(), cyl.z.data(), 6, 1e-10, 50, point, zero, &cr,
                                       &err, &maxDev), -2);

  Points few;
  few.add(0, 0, 0);
  few.add(1, 0, 0);
  few.add(0, 1, 0);
  double sc[3], sr, serr;
  EXPECT_EQ(FitSphere(few.x.data(), few.y.data(), few.z.data(), 3, sc, &sr, &serr), -2);
  few.add(1, 1, 0);  // four coplanar points
  EXPECT_EQ(FitSphere(few.x.data(), few.y.data(), few.z.data(), 4, sc, &sr, &serr), -2);
  EXPECT_EQ(FitSphereWithGivenRadius(few.x.data(), few.y.data(), few.z.data(), 4, -1.0, sc, &serr), -2);
  Points line;
  for (int i = 0; i < 5; ++i) line.add(i, 2 * i, 0);
  EXPECT_EQ(NewFitCircle(line.x.data(), line.y.data(), line.n(), sc, &sr, &serr), -2);
  EXPECT_FALSE(KernelFailedNow());  // the failed estimate leaves a clean state
}

TEST_F(FitTest, PointsOnACentreOrAxisGiveFiniteFits) {
  const double sc[3] = {0, 0, 0};
  Points s = SpherePoints(sc, 1.0, 30, 0.0, 6);
  s.add(0, 0, 0);
  lmXarray = s.x.data();
  lmYarray = s.y.data();
  lmZarray = s.z.data();
  lmNdataPnts = s.n();
  int m = s.n(), n = 4, ld = m, flag = 2;
  std::vector<double> fjac(4 * m), fvec(m);
  double x[4] = {0, 0, 0, 1};
  SphereChiSqMinPack(&m, &n, x, fvec.data(), fjac.data(), &ld, &flag);
  EXPECT_TRUE(fjac[m - 1] == 0 && fjac[2 * m - 1] == 0 && fjac[3 * m - 1] == 0 && fjac[4 * m - 1] == -1);
  n = 3;
  lmRadius = 1.0;
  SphereChiSqWradiusMinPack(&m, &n, x, fvec.data(), fjac.data(), &ld, &flag);
  for (int j = 0; j < 3; ++j) EXPECT_TRUE(std::isfinite(fjac[m - 1 + j * m]));

  double centre[3] = {0, 0, 0}, r = 1.0, err, maxDev;
  ASSERT_EQ(SphereNonllsqrFitWradiusMinpack(s.x.data(), s.y.data(), s.z.data(), s.n(), centre, 1.0, 1e-12, 50, &err,
                                            &maxDev), 0);
  EXPECT_TRUE(std::isfinite(centre[0] + centre[1] + centre[2] + err));
  ASSERT_EQ(CircleNonllsqrFitWithRadiusMinpack(s.x.data(), s.y.data(), s.n(), centre, 1.0, 1e-12, 50, &err, &maxDev),
            0);
  EXPECT_TRUE(std::isfinite(centre[0] + centre[1] + err));

  const double axis[3] = {0, 0, 1};
  Points cyl = RuledPoints(sc, axis, -1.0, 30);
  cyl.add(0, 0, 2);
  double point[3] = {0, 0, 0}, a[3] = {0, 0, 1};
  ASSERT_EQ(CylNonllsqrFitWradiusMinpack(cyl.x.data(), cyl.y.data(), cyl.z.data(), cyl.n(), 1e-12, 60, point, a, 1.0,
                                         &err, &maxDev), 0);
  EXPECT_TRUE(std::isfinite(point[0] + point[1] + point[2] + a[0] + a[1] + a[2] + err));
  Points cone = RuledPoints(sc, axis, 0.5, 30);
  cone.add(0, 0, 1);
  double apex[3] = {0, 0, 0}, ca[3] = {0, 0, 1}, angle = 0.5;
  ASSERT_EQ(ConeNonllsqrFitMinpack(cone.x.data(), cone.y.data(), cone.z.data(), cone.n(), 1e-12, 60, apex, ca, &angle,
                                   &err, &maxDev), 0);
  EXPECT_TRUE(std::isfinite(apex[0] + apex[1] + apex[2] + ca[0] + ca[1] + ca[2] + angle + err));
  (void)r;
}

TEST_F(FitTest, DegenerateAxesAndMeasuresStopCleanly) {
  const double o[3] = {0, 0, 0}, z[3] = {0, 0, 1};
  Points cyl = RuledPoints(o, z, -1.0, 10);
  lmXarray = cyl.x.data();
  lmYarray = cyl.y.data();
  lmZarray = cyl.z.data();
  lmNdataPnts = cyl.n();
  int m = cyl.n(), n = 7, ld = m, flag = 1;
  std::vector<double> fvec(m), fjac(7 * m);
  double collapsed[7] = {0, 0, 0, 1e-4, 0, 0, 1};  // |a|^4 = 1e-16
  EXPECT_EQ(CylinderChiSq2Minpack(&m, &n, collapsed, fvec.data(), fjac.data(), &ld, &flag), -2);
  EXPECT_EQ(flag, -1);
  int six = 6;
  flag = 1;
  EXPECT_EQ(ConeChiSq2Minpack(&m, &six, collapsed, fvec.data(), fjac.data(), &ld, &flag), -2);
  EXPECT_EQ(flag, -1);

  double err = -1, maxDev = -1;
  CylinderFitError(nullptr, nullptr, nullptr, 5, o, z, 1.0, &err, &maxDev);
  EXPECT_TRUE(err == 0 && maxDev == 0);
  EXPECT_EQ(ConeFitError(cyl.x.data(), cyl.y.data(), cyl.z.data(), 0, o, z, 1.0, &err, &maxDev), -2);
  EXPECT_TRUE(std::isfinite(err) && std::isfinite(maxDev));
  EXPECT_EQ(SphereFitError(cyl.x.data(), cyl.y.data(), cyl.z.data(), 0, o, 1.0, &err, &maxDev), -2);

  // Four points of a sphere give it exactly, centre components near 0 flushed to 0.
  Points four;
  four.add(2, 0, 1);
  four.add(-2, 0, 1);
  four.add(0, 2, 1);
  four.add(0, 0, 3);
  double centre[3], r;
  ASSERT_EQ(FitSphere(four.x.data(), four.y.data(), four.z.data(), 4, centre, &r, &err), 0);
  EXPECT_TRUE(centre[0] == 0 && centre[1] == 0);
  EXPECT_NEAR(centre[2], 1, 1e-12);
  EXPECT_NEAR(r, 2, 1e-12);
  EXPECT_LT(err, 1e-20);
}

TEST_F(FitTest, EngineAgreesWithMinpackAndStopsCleanly) {
  const double sc[3] = {0.5, -0.5, 1.0};
  Points s = SpherePoints(sc, 2.0, 50, 0.0, 7);
  double centre[3] = {0.6, -0.4, 1.1}, r = 2.2, err, maxDev;
  ASSERT_EQ(SphereNonlinearFit(s.x.data(), s.y.data(), s.z.data(), s.n(), centre, &r, 1e-20, 50, &err, &maxDev), 0);
  EXPECT_LT(VecDist3(centre, sc), 1e-6);
  EXPECT_NEAR(r, 2.0, 1e-6);
  double held[3] = {0.6, -0.4, 1.1};
  ASSERT_EQ(SphereNonlinearFitWithKnownRadius(s.x.data(), s.y.data(), s.z.data(), s.n(), held, 2.0, 1e-20, 50, &err,
                                              &maxDev), 0);
  EXPECT_LT(VecDist3(held, sc), 1e-6);

  const double cc[2] = {-1, 3};
  Points c = CirclePoints(cc, 1.5, 30, 0.0, 8);
  double engine[2] = {-0.9, 3.1}, er = 1.4;
  ASSERT_EQ(CircleNonlinearFit(c.x.data(), c.y.data(), c.n(), engine, &er, 1e-20, 50, &err, &maxDev), 0);
  double mp[3], mr, merr;
  ASSERT_EQ(NewFitCircle(c.x.data(), c.y.data(), c.n(), mp, &mr, &merr), 0);
  EXPECT_NEAR(engine[0], mp[0], 1e-6);
  EXPECT_NEAR(engine[1], mp[1], 1e-6);
  EXPECT_NEAR(er, mr, 1e-6);

  // A repeated index among the fitted ones is refused on the starting call.
  std::vector<double> sig(s.n(), 1.0);
  double a[4] = {0, 0, 0, 1}, chisq, alamda = -0.1, cv[4][4], al[4][4];
  double* covar[4] = {cv[0], cv[1], cv[2], cv[3]};
  double* alpha[4] = {al[0], al[1], al[2], al[3]};
  int lista[4] = {0, 0, 1, 2};
  {
    TrackingScope scope;  // the refused run's arrays go with the caller's scope
    EXPECT_EQ(mrqmin3D(s.x.data(), s.y.data(), s.z.data(), sig.data(), s.n(), a, 4, lista, 3, covar, alpha, &chisq,
                       SphereChiSqr, &alamda), 1);
  }

  // A model that cannot improve (flat residual) drives alamda to 1e25 and leaves a unchanged;
  // the held radius gets zero covariance rows.
  auto flat = [](float, float, float, const double*, double* res, double* dyda, int ma) {
    *res = 1.0;
    for (int k = 0; k < ma; ++k) dyda[k] = 0.0;
  };
  int list2[4] = {0, 1, 2, 3};
  double b[4] = {1, 2, 3, 4};
  double lastAlamda = 0.0;
  const int rc = DriveMrqmin(
      [&](double* l) {
        const int r2 = mrqmin3D(s.x.data(), s.y.data(), s.z.data(), sig.data(), s.n(), b, 4, list2, 3, covar, alpha,
                                &chisq, flat, l);
        if (*l != 0.0) lastAlamda = *l;
        return r2;
      },
      s.n(), 0.0, 100, &chisq);
  EXPECT_EQ(rc, 0);
  EXPECT_GE(lastAlamda, 1e25);
  EXPECT_TRUE(b[0] == 1 && b[1] == 2 && b[2] == 3 && b[3] == 4);
  for (int k = 0; k < 4; ++k) EXPECT_TRUE(covar[3][k] == 0.0 && covar[k][3] == 0.0);
}

TEST_F(FitTest, CollinearityAndCoplanarityUseAnAbsoluteTolerance) {
  for (double e : {0.0015, 0.0002}) {
    const float x[3] = {0, 1, 2}, y[3] = {0, static_cast<float>(e), 0}, z[3] = {0, 0, 0};
    EXPECT_EQ(IsPointsCollinear_f(x, y, z, 3), e < 0.001 ? 1 : 0);
    const double dx[3] = {0, 1, 2}, dy[3] = {0, e, 0}, dz[3] = {0, 0, 0};
    EXPECT_EQ(IsPointsCollinear(dx, dy, dz, 3), e < 0.001 ? 1 : 0);
  }
  const double near[4] = {0, 0.0005, 0.0002, 0.0009};
  EXPECT_EQ(IsPointsCollinear(near, near, near, 4), 1);  // every point within 0.001 of the first
  const float px[5] = {0, 1, 0, 1, 0.5f}, py[5] = {0, 0, 1, 1, 0.5f}, flat[5] = {0, 0, 0, 0, 0.0005f};
  const float bump[5] = {0, 0, 0, 0, 0.5f};
  EXPECT_EQ(IsPointsCoplanar_f(px, py, flat, 5), 1);
  EXPECT_EQ(IsPointsCoplanar_f(px, py, bump, 5), 0);
  EXPECT_EQ(IsPointsCoplanar_f(px, py, bump, 3), 1);
}

TEST_F(FitTest, ExhaustedMemoryFailsCleanly) {
  const double sc[3] = {1, 1, 1};
  Points s = SpherePoints(sc, 1.0, 40, 0.01, 9);
  const double cc[2] = {0, 0};
  Points c = CirclePoints(cc, 1.0, 40, 0.01, 10);
  // A successful sphere writes its error even when only the algebraic start survived.
  RunWithInjectedFailures(60, 1, [&] {
    double centre[3], r, err = NAN;
    const int rc = FitSphere(s.x.data(), s.y.data(), s.z.data(), s.n(), centre, &r, &err);
    if (rc == 0) {
      EXPECT_TRUE(std::isfinite(err));
    }
    return rc;
  });
  RunWithInjectedFailures(40, 1, [&] {
    double centre[3] = {1, 1, 1}, err;
    return FitSphereWithGivenRadius(s.x.data(), s.y.data(), s.z.data(), s.n(), 1.0, centre, &err);
  });
  RunWithInjectedFailures(60, 1, [&] {
    double centre[3], r = -1, err;
    const int rc = NewFitCircle(c.x.data(), c.y.data(), c.n(), centre, &r, &err);
    if (rc == 0) {
      EXPECT_GE(r, 0.0);
    }
    return rc;
  });
  const int engineFailures = RunWithInjectedFailures(40, 1, [&] {
    double centre[3] = {1, 1, 1}, r = 1, err, maxDev;
    const int rc1 = SphereNonlinearFit(s.x.data(), s.y.data(), s.z.data(), s.n(), centre, &r, 1e-12, 10, &err,
                                       &maxDev);
    double cc2[2] = {0, 0}, cr = 1;
    const int rc2 = CircleNonlinearFit(c.x.data(), c.y.data(), c.n(), cc2, &cr, 1e-12, 10, &err, &maxDev);
    return rc1 != 0 || rc2 != 0 ? -2 : 0;
  });
  EXPECT_GT(engineFailures, 0);
  RunWithInjectedFailures(40, 1, [&] {
    double axis[3] = {0, 0, 1}, o[3] = {0, 0, 0}, err, maxDev, r = 1.0;
    Points cyl = RuledPoints(o, axis, -1.0, 20);
    return CylinderNonllsqrFitMinpack(cyl.x.data(), cyl.y.data(), cyl.z.data(), cyl.n(), 1e-10, 50, o, axis, &r, &err,
                                      &maxDev);
  });
}

TEST_F(FitTest, AlgebraicSphereGoesThroughExactSamplesAtEveryScale) {
  for (double scale : {1e-3, 1.0, 1e3}) {
    const double sc[3] = {3 * scale, -2 * scale, 0.5 * scale};
    const double r = 1.5 * scale;
    Points s = SpherePoints(sc, r, 40, 0.0, 3);
    double coef[5], centre[3], radius = -1, err = -1;
    ASSERT_EQ(FitSphereImplicit(s.x.data(), s.y.data(), s.z.data(), s.n(), coef, centre, &radius, &err), 0);
    EXPECT_LT(VecDist3(centre, sc), 1e-5 * scale);
    EXPECT_NEAR(radius, r, 1e-5 * scale);
    EXPECT_LT(err, 1e-5 * scale);
    EXPECT_EQ(coef[4], 1.0);
    // The implicit equation holds at every sample in centroid-centred coordinates.
    double g[3] = {0, 0, 0};
    for (int i = 0; i < s.n(); ++i) g[0] += s.x[i], g[1] += s.y[i], g[2] += s.z[i];
    for (double& gk : g) gk /= s.n();
    for (int i = 0; i < s.n(); ++i) {
      const double p[3] = {s.x[i] - g[0], s.y[i] - g[1], s.z[i] - g[2]};
      const double f = coef[4] * (p[0] * p[0] + p[1] * p[1] + p[2] * p[2]) + coef[1] * p[0] + coef[2] * p[1] +
                       coef[3] * p[2] + coef[0];
      EXPECT_NEAR(f, 0.0, 1e-5 * r * r);
    }
  }
  // Four points on a plane leave the algebraic system singular.
  const float x[4] = {0, 1, 0, 1}, y[4] = {0, 0, 1, 1}, z[4] = {2, 2, 2, 2};
  double coef[5], centre[3], radius, err;
  EXPECT_EQ(FitSphereImplicit(x, y, z, 4, coef, centre, &radius, &err), -2);
  EXPECT_EQ(FitSphereImplicit(nullptr, y, z, 4, coef, centre, &radius, &err), -2);
}

// Solves the m x m system M d = b in place by elimination with partial pivoting.
void SolveSmall(double M[4][4], double b[4], int m, double d[4]) {
  for (int c = 0; c < m; ++c) {
    int piv = c;
    for (int r = c + 1; r < m; ++r)
      if (std::fabs(M[r][c]) > std::fabs(M[piv][c])) piv = r;
    std::swap(M[c], M[piv]);
    std::swap(b[c], b[piv]);
    for (int r = c + 1; r < m; ++r) {
      const double f = M[r][c] / M[c][c];
      for (int k = c; k < m; ++k) M[r][k] -= f * M[c][k];
      b[r] -= f * b[c];
    }
  }
  for (int c = m - 1; c >= 0; --c) {
    double s = b[c];
    for (int k = c + 1; k < m; ++k) s -= M[c][k] * d[k];
    d[c] = s / M[c][c];
  }
}

// For a model linear in its parameters one Gauss-Newton step (a - alpha^-1 beta over the fitted
// parameters) reaches the least-squares optimum: there beta vanishes, and on exact data chisq
// does too. Weights scale every sum by 1 / sig^2.
TEST_F(FitTest, NormalEquationsOfALinearModelReachTheOptimumInOneStep) {
  auto plane = [](float x, float y, float z, const double* a, double* res, double* dyda, int) {
    *res = a[0] + a[1] * x + a[2] * y + a[3] * z;
    dyda[0] = 1, dyda[1] = x, dyda[2] = y, dyda[3] = z;
  };
  auto line = [](float x, float y, const double* a, double* res, double* dyda, int) {
    *res = a[0] + a[1] * x + a[2] * y;
    dyda[0] = 1, dyda[1] = x, dyda[2] = y;
  };
  std::mt19937 rng(4);
  std::uniform_real_distribution<double> u(-2, 2);
  Points p;
  for (int i = 0; i < 30; ++i) {
    const double x = u(rng), y = u(rng);
    p.add(x, y, 0.5 - 1.25 * x + 2.0 * y);  // z = 0.5 - 1.25 x + 2 y
  }
  const double truth3[4] = {0.5, -1.25, 2.0, -1.0};
  const double truth2[3] = {0.5, -1.25, -1.0};  // y = 0.5 - 1.25 x on the line's samples
  std::vector<float> ly(p.n());
  for (int i = 0; i < p.n(); ++i) ly[i] = static_cast<float>(0.5 - 1.25 * p.x[i]);
  for (double sigma : {1.0, 0.5}) {
    std::vector<double> sig(p.n(), sigma);
    double al[4][4], beta[4], chisq, d[4];
    double* alpha[4] = {al[0], al[1], al[2], al[3]};
    // 3-D: the z coefficient held at -1, the others fitted in shuffled order from a wrong start.
    {
      const int lista[4] = {2, 0, 1, 3};
      double a[4] = {3.0, 1.0, -1.0, -1.0};
      ASSERT_EQ(mrqcof(p.x.data(), p.y.data(), p.z.data(), sig.data(), p.n(), a, 4, lista, 3, alpha, beta, &chisq,
                       plane), 0);
      EXPECT_GT(chisq, 1.0);
      for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) EXPECT_EQ(al[i][j], al[j][i]);
      double M[4][4], b[4];
      for (int i = 0; i < 3; ++i) {
        b[i] = beta[i];
        for (int j = 0; j < 3; ++j) M[i][j] = al[i][j];
      }
      SolveSmall(M, b, 3, d);
      for (int i = 0; i < 3; ++i) a[lista[i]] -= d[i];
      for (int k = 0; k < 4; ++k) EXPECT_NEAR(a[k], truth3[k], 1e-5) << sigma << " " << k;
      ASSERT_EQ(mrqcof(p.x.data(), p.y.data(), p.z.data(), sig.data(), p.n(), a, 4, lista, 3, alpha, beta, &chisq,
                       plane), 0);
      EXPECT_LT(chisq, 1e-9);
      for (int i = 0; i < 3; ++i) EXPECT_NEAR(beta[i], 0.0, 1e-5 / (sigma * sigma));
    }
    // 2-D: every parameter but the y coefficient fitted.
    {
      const int lista[3] = {1, 0, 2};
      double a[3] = {-2.0, 0.75, -1.0};
      ASSERT_EQ(mrqcof2D(p.x.data(), ly.data(), sig.data(), p.n(), a, 3, lista, 2, alpha, beta, &chisq, line), 0);
      // Against the sums for the doubled weight: halving sigma multiplies them by four.
      std::vector<double> half(p.n(), sigma / 2);
      double al2[4][4], beta2[2], chisq2;
      double* alpha2[4] = {al2[0], al2[1], al2[2], al2[3]};
      ASSERT_EQ(mrqcof2D(p.x.data(), ly.data(), half.data(), p.n(), a, 3, lista, 2, alpha2, beta2, &chisq2, line), 0);
      EXPECT_NEAR(chisq2, 4 * chisq, 1e-9 * chisq2);
      for (int i = 0; i < 2; ++i) {
        EXPECT_NEAR(beta2[i], 4 * beta[i], 1e-9 * std::fabs(beta2[i]) + 1e-12);
        for (int j = 0; j < 2; ++j) EXPECT_NEAR(al2[i][j], 4 * al[i][j], 1e-9 * std::fabs(al2[i][j]) + 1e-12);
      }
      double M[4][4] = {{al[0][0], al[0][1]}, {al[1][0], al[1][1]}}, b[4] = {beta[0], beta[1]};
      SolveSmall(M, b, 2, d);
      for (int i = 0; i < 2; ++i) a[lista[i]] -= d[i];
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(a[k], truth2[k], 1e-5) << sigma << " " << k;
      ASSERT_EQ(mrqcof2D(p.x.data(), ly.data(), sig.data(), p.n(), a, 3, lista, 2, alpha, beta, &chisq, line), 0);
      EXPECT_LT(chisq, 1e-9);
    }
  }
}

}  // namespace
