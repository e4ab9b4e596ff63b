// General quadric fits and the primitives made from them: fitted quadrics of known surfaces have
// residuals of the noise's order, a unit quadratic part and the primitive's axis; the exact
// curves and surfaces lie on their shapes.
#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "bspline/ctrlnubs.h"
#include "bspline/objset.h"
#include "bspline/sfree.h"
#include "foundation/makemat.h"
#include "foundation/vec3.h"
#include "quadric/quadrics.h"
#include "tests/support/checks.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class QuadricsTest : public KernelTest {};

struct Points {
  std::vector<float> x, y, z;
  std::vector<double> dx, dy, dz;
  void add(const double p[3]) {
    x.push_back(static_cast<float>(p[0]));
    y.push_back(static_cast<float>(p[1]));
    z.push_back(static_cast<float>(p[2]));
    dx.push_back(p[0]);
    dy.push_back(p[1]);
    dz.push_back(p[2]);
  }
  int n() const { return static_cast<int>(x.size()); }
};

// An orthonormal frame whose third axis is the unit of a.
void Frame(const double a[3], double e[3][3]) {
  const double len = VecSize3(a);
  for (int k = 0; k < 3; ++k) e[2][k] = a[k] / len;
  const double t[3] = {std::fabs(e[2][0]) < 0.9 ? 1.0 : 0.0, std::fabs(e[2][0]) < 0.9 ? 0.0 : 1.0, 0.0};
  const double d = t[0] * e[2][0] + t[1] * e[2][1];
  for (int k = 0; k < 3; ++k) e[0][k] = t[k] - d * e[2][k];
  const double l0 = VecSize3(e[0]);
  for (int k = 0; k < 3; ++k) e[0][k] /= l0;
  e[1][0] = e[2][1] * e[0][2] - e[2][2] * e[0][1];
  e[1][1] = e[2][2] * e[0][0] - e[2][0] * e[0][2];
  e[1][2] = e[2][0] * e[0][1] - e[2][1] * e[0][0];
}

// Points of the surface of revolution r(h) about (base, axis), h in [h0, h1], radial noise.
template <class Radius>
Points Revolved(const double base[3], const double axis[3], double h0, double h1, Radius r, double noise,
                unsigned seed, int rows = 20, int cols = 24) {
  double e[3][3];
  Frame(axis, e);
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> N(-noise, noise);
  Points p;
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) {
      const double h = h0 + (h1 - h0) * i / (rows - 1), t = 6.283185307179586 * (j + 0.37 * i) / cols;
      const double rr = r(h) + N(rng);
      double q[3];
      for (int k = 0; k < 3; ++k) q[k] = base[k] + h * e[2][k] + rr * (std::cos(t) * e[0][k] + std::sin(t) * e[1][k]);
      p.add(q);
    }
  return p;
}

double Dot(const double a[3], const double b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

// Fit, residuals, normalisation and the axis found through the principal frame.
void ExpectQuadricOf(const Points& p, const double axis[3], double noiseScale) {
  double c[10], lambda = -1;
  ASSERT_EQ(QuadricsFit(p.x.data(), p.y.data(), p.z.data(), p.n(), c, &lambda), 1);
  EXPECT_NEAR(c[0] * c[0] + c[1] * c[1] + c[2] * c[2] + (c[3] * c[3] + c[4] * c[4] + c[5] * c[5]) / 2, 1.0, 1e-12);
  EXPECT_GE(lambda, 0.0);
  double ms, mx;
  QuadricsFitError(c, p.x.data(), p.y.data(), p.z.data(), p.n(), &ms, &mx);
  EXPECT_LT(std::sqrt(ms), noiseScale);
  EXPECT_LT(mx, 5 * noiseScale);
  Owned<double*, matrix_free_ff> rot(allocate_matrix_ff(3, 3));
  double diag[10], found[3];
  int index = -1;
  QuadricsOrientation(c, rot.get(), diag);
  EXPECT_GE(diag[0], diag[1]);
  EXPECT_GE(diag[1], diag[2]);
  ASSERT_EQ(QuadricsPrincAxis(diag, rot.get(), found, &index), 0);
  EXPECT_NEAR(std::fabs(Dot(found, axis)), VecSize3(axis), 1e-3 * VecSize3(axis));
}

TEST_F(QuadricsTest, FitsRecoverCylinderAndConeAxesWithResidualsOfTheNoise) {
  const double base[3] = {3.0, -2.0, 5.0}, axis[3] = {0.48, 0.6, 0.64};
  for (double noise : {0.0, 1e-4}) {
    SCOPED_TRACE(noise);
    // Residuals scale like noise times the quadric's gradient (2 r times the unit quadratic part).
    const Points cyl = Revolved(base, axis, -2, 2, [](double) { return 1.5; }, noise, 7);
    ExpectQuadricOf(cyl, axis, 4 * noise + 1e-6);
    const Points cone = Revolved(base, axis, 0.5, 3, [](double h) { return 0.7 * h; }, noise, 8);
    ExpectQuadricOf(cone, axis, 4 * noise + 1e-6);
  }
}

TEST_F(QuadricsTest, EllipsoidCentreAndCanonicalFormComeBack) {
  // 4x^2 + y^2 + 9z^2 = 36 moved to (1, 2, -3): semi-axes 3, 6, 2.
  Points p;
  for (int i = 1; i < 12; ++i)
    for (int j = 0; j < 16; ++j) {
      const double th = 3.141592653589793 * i / 12, ph = 6.283185307179586 * j / 16;
      const double q[3] = {1 + 3 * std::sin(th) * std::cos(ph), 2 + 6 * std::sin(th) * std::sin(ph), -3 + 2 * std::cos(th)};
      p.add(q);
    }
  double c[10], lambda, centre[3];
  ASSERT_EQ(QuadricsFit(p.x.data(), p.y.data(), p.z.data(), p.n(), c, &lambda), 1);
  ASSERT_EQ(QuadricsGeneralCenter(c, centre), 0);
  EXPECT_NEAR(centre[0], 1, 1e-5);
  EXPECT_NEAR(centre[1], 2, 1e-5);
  EXPECT_NEAR(centre[2], -3, 1e-5);
  Owned<double*, matrix_free_ff> rot(allocate_matrix_ff(3, 3));
  double diag[10], local[3], canon[10];
  QuadricsOrientation(c, rot.get(), diag);
  ASSERT_EQ(QuadricsCenter(diag, local, canon), 0);
  // Canonical coefficients are 1 / semi-axis^2 (1/4, 1/9, 1/36), in the order of the principal
  // frame, which follows the sign the fit happened to give the quadric.
  std::vector<double> a(canon, canon + 3);
  std::sort(a.begin(), a.end());
  EXPECT_NEAR(a[0], 1.0 / 36, 1e-6);
  EXPECT_NEAR(a[1], 1.0 / 9, 1e-6);
  EXPECT_NEAR(a[2], 0.25, 1e-6);
  EXPECT_EQ(canon[9], -1.0);
  // The principal-frame centre turned back is the world centre.
  for (int k = 0; k < 3; ++k)
    EXPECT_NEAR(rot.get()[0][k] * local[0] + rot.get()[1][k] * local[1] + rot.get()[2][k] * local[2], centre[k], 1e-5);
}

TEST_F(QuadricsTest, DegenerateInputsAreRefused) {
  // A plane of points leaves the linear block singular.
  Points flat;
  for (int i = 0; i < 10; ++i)
    for (int j = 0; j < 10; ++j) {
      const double q[3] = {i * 0.3, j * 0.7 - i * 0.1, 0.0};
      flat.add(q);
    }
  double c[10] = {}, lambda = 0;
  EXPECT_EQ(QuadricsFit(flat.x.data(), flat.y.data(), flat.z.data(), flat.n(), c, &lambda), 0);
  EXPECT_FALSE(KernelFailed());
  double ms = -1, mx = -1;
  QuadricsFitError(c, flat.x.data(), flat.y.data(), flat.z.data(), 0, &ms, &mx);
  EXPECT_EQ(ms, 0.0);
  EXPECT_EQ(mx, 0.0);
  // A cylinder's quadratic part is singular: no centre.
  const double cyl[10] = {1, 1, 0, 0, 0, 0, 0, 0, 0, -1};
  double centre[3] = {7, 7, 7};
  EXPECT_EQ(QuadricsGeneralCenter(cyl, centre), -2);
  EXPECT_EQ(centre[0], 7.0);
}

TEST_F(QuadricsTest, PrincipalAxisChoice) {
  double r0[3] = {1, 0, 0}, r1[3] = {0, 1, 0}, r2[3] = {0, 0, 1};
  double* rot[3] = {r0, r1, r2};
  struct Case { double d0, d1, d2; int k; } cases[] = {{2, 2, -1, 2}, {1, 0, 1, 1}, {3, 1, 2, 1}, {-1, 2, 2, 0},
                                                       {2, -1, 2, 1}, {0, 0, 5, 1}, {4, 4, 4, 0}};
  for (const Case& t : cases) {
    const double diag[10] = {t.d0, t.d1, t.d2};
    double axis[3];
    int k = -1;
    ASSERT_EQ(QuadricsPrincAxis(diag, rot, axis, &k), 0);
    EXPECT_EQ(k, t.k) << t.d0 << " " << t.d1 << " " << t.d2;
    EXPECT_EQ(axis[t.k], 1.0);
  }
  const double tiny[10] = {1e-7, -1e-7, 0};
  double axis[3] = {9, 9, 9};
  int k = 9;
  EXPECT_EQ(QuadricsPrincAxis(tiny, rot, axis, &k), -2);
  EXPECT_EQ(k, 9);
}

TEST_F(QuadricsTest, ParabolaLiesOnItsCurve) {
  EXPECT_EQ(MakeBsplParabolaCrv(0, 1), nullptr);
  EXPECT_EQ(MakeBsplParabolaCrv(1, 0), nullptr);
  for (double scale : {1e-6, 1.0, 1e6}) {
    const double p = 0.8 * scale, h = 2.5 * scale;
    Owned<Bspline, FreeBspline> c(MakeBsplParabolaCrv(p, h));
    ASSERT_TRUE(c);
    const int du[1] = {0}, dv[1] = {0};
    for (int i = 0; i <= 10; ++i) {
      const double t = i / 10.0;
      double pt[1][3];
      ASSERT_EQ(EvalPointOnGeometryM(c.get(), t, 0, du, dv, 1, 0, pt), 0);
      EXPECT_NEAR(pt[0][0] * pt[0][0], 4 * p * pt[0][2], 1e-12 * scale * scale);
      EXPECT_NEAR(pt[0][2], h * t * t, 1e-12 * scale);
      EXPECT_EQ(pt[0][1], 0.0);
    }
  }
  Owned<Bspline, FreeBspline> unit(MakeBsplParabolaCrv(1, 1));
  ASSERT_TRUE(unit);
  EXPECT_DOUBLE_EQ(unit->X[0][1], 1.0);
  EXPECT_DOUBLE_EQ(unit->X[0][2], 2.0);
  EXPECT_DOUBLE_EQ(unit->Z[0][2], 1.0);
}

TEST_F(QuadricsTest, ParaboloidLiesOnItsSurfaceWherePlaced) {
  const double base[3] = {1, -2, 3}, axis[3] = {0, 1.2, 1.6};  // |axis| = 2
  const double p = 0.5, h = 3.0;
  const double unit[3] = {0, 0.6, 0.8};
  for (double t0 : {0.0, 1.2}) {
    SCOPED_TRACE(t0);
    Owned<Bspline, FreeBspline> s(MakeBsplParabolicSrf(p, t0, h, base, axis));
    ASSERT_TRUE(s);
    const double vertex[3] = {base[0] + t0 * axis[0], base[1] + t0 * axis[1], base[2] + t0 * axis[2]};
    double lowest = 1e300, highest = -1e300;
    const int du[1] = {0}, dv[1] = {0};
    for (double u : {0.0, 0.2, 0.55, 0.9})
      for (double v : {0.0, 0.3, 0.7, 1.0}) {
        double pt[1][3];
        ASSERT_EQ(EvalPointOnGeometryM(s.get(), s->umin + u * (s->umax - s->umin), s->vmin + v * (s->vmax - s->vmin),
                                       du, dv, 1, 0, pt), 0);
        const double q[3] = {pt[0][0] - vertex[0], pt[0][1] - vertex[1], pt[0][2] - vertex[2]};
        const double z = Dot(q, unit), rho = LineDistance(pt[0], vertex, unit);
        EXPECT_NEAR(rho * rho, 4 * p * z, 1e-9);
        lowest = std::min(lowest, z);
        highest = std::max(highest, z);
      }
    // The cut lies t0^2 / h above the vertex, the rim at h; the rim sits at base + h axis.
    EXPECT_NEAR(lowest, t0 * t0 / h, 1e-9);
    EXPECT_NEAR(highest, h, 1e-9);
  }
  EXPECT_EQ(MakeBsplParabolicSrf(p, h, h, base, axis), nullptr);
  EXPECT_EQ(MakeBsplParabolicSrf(p, -1, h, base, axis), nullptr);
  EXPECT_EQ(MakeBsplParabolicSrf(0, 0, h, base, axis), nullptr);
  // A cut inside the range reaches the placing step, which reads the base.
  EXPECT_EQ(MakeBsplParabolicSrf(p, 0.5 * h, h, nullptr, axis), nullptr);
}

TEST_F(QuadricsTest, LineThroughPointsSpansTheirProjections) {
  const double a[3] = {1, -2, 0.5}, d[3] = {2, 1, -2};
  std::vector<double> x, y, z;
  for (double t : {0.3, -1.0, 2.0, 0.7, 1.1}) {
    x.push_back(a[0] + t * d[0]);
    y.push_back(a[1] + t * d[1]);
    z.push_back(a[2] + t * d[2]);
  }
  double s[3], e[3];
  FitALinePts(x.data(), y.data(), z.data(), 5, s, e);
  // The ends are the points at t = -1 and t = 2, in one order or the other.
  const double lo[3] = {x[1], y[1], z[1]}, hi[3] = {x[2], y[2], z[2]};
  const bool forward = std::fabs(s[0] - lo[0]) < 1e-9;
  for (int k = 0; k < 3; ++k) {
    EXPECT_NEAR(s[k], forward ? lo[k] : hi[k], 1e-9);
    EXPECT_NEAR(e[k], forward ? hi[k] : lo[k], 1e-9);
  }
  const double tx[2] = {1e-8, 3}, ty[2] = {0, 4}, tz[2] = {0, 5};
  FitALinePts(tx, ty, tz, 2, s, e);
  EXPECT_EQ(s[0], 1e-8);
  EXPECT_EQ(e[2], 5.0);
}

TEST_F(QuadricsTest, CircleThroughPointsLiesInTheirPlane) {
  const double centre[3] = {2, -1, 4}, normal[3] = {1, 2, 2}, r = 1.7;
  double e[3][3];
  Frame(normal, e);
  for (double scale : {1e-3, 1.0, 1e3}) {
    SCOPED_TRACE(scale);
    std::vector<double> x, y, z;
    for (int i = 0; i < 11; ++i) {
      const double t = 0.4 + 0.5 * i;
      x.push_back(scale * (centre[0] + r * (std::cos(t) * e[0][0] + std::sin(t) * e[1][0])));
      y.push_back(scale * (centre[1] + r * (std::cos(t) * e[0][1] + std::sin(t) * e[1][1])));
      z.push_back(scale * (centre[2] + r * (std::cos(t) * e[0][2] + std::sin(t) * e[1][2])));
    }
    Owned<Bspline, FreeBspline> c(FitCirclePts(x.data(), y.data(), z.data(), 11));
    ASSERT_TRUE(c);
    EXPECT_EQ(c->quadricType, 2);
    EXPECT_NEAR(c->quadric->v[6], scale * r, 1e-5 * scale);
    EXPECT_NEAR(std::fabs(Dot(c->quadric->v + 3, e[2])), 1.0, 1e-6);
    const int du[1] = {0}, dv[1] = {0};
    for (int i = 0; i < 8; ++i) {
      double pt[1][3];
      ASSERT_EQ(EvalPointOnGeometryM(c.get(), i / 8.0 + 0.03, 0, du, dv, 1, 0, pt), 0);
      const double q[3] = {pt[0][0] / scale - centre[0], pt[0][1] / scale - centre[1], pt[0][2] / scale - centre[2]};
      EXPECT_NEAR(VecSize3(q), r, 1e-5);
      EXPECT_NEAR(Dot(q, e[2]), 0.0, 1e-5);
    }
  }
  const double lx[4] = {0, 1, 2, 3}, ly[4] = {0, 1, 2, 3}, lz[4] = {1, 1, 1, 1};
  EXPECT_EQ(FitCirclePts(lx, ly, lz, 4), nullptr);
  EXPECT_EQ(FitCirclePts(lx, ly, lz, 2), nullptr);
  EXPECT_FALSE(KernelFailed());
}

TEST_F(QuadricsTest, SphereSurfacesFromFits) {
  const double c[3] = {1, 2, 3}, axis[3] = {0, 0, 1};
  const Points p = Revolved(c, axis, -1.9, 1.9, [](double h) { return std::sqrt(4 - h * h); }, 0.0, 3, 8, 9);
  for (int given = 0; given < 2; ++given) {
    Owned<Bspline, FreeBspline> s(given ? FitSphereBsplineGivenRadius(p.x.data(), p.y.data(), p.z.data(), p.n(), 2.0)
                                        : FitSphereBspline(p.x.data(), p.y.data(), p.z.data(), p.n()));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->quadricType, 21);
    const int du[1] = {0}, dv[1] = {0};
    for (double u : {0.1, 0.45, 0.8})
      for (double v : {0.2, 0.5, 0.9}) {
        const double uu = s->umin + u * (s->umax - s->umin), vv = s->vmin + v * (s->vmax - s->vmin);
        double pt[1][3];
        ASSERT_EQ(EvalPointOnGeometryM(s.get(), uu, vv, du, dv, 1, 0, pt), 0);
        const double q[3] = {pt[0][0] - c[0], pt[0][1] - c[1], pt[0][2] - c[2]};
        EXPECT_NEAR(VecSize3(q), 2.0, 1e-5);
      }
  }
}

TEST_F(QuadricsTest, CylinderAndConeSurfacesHaveEqualParameterSpeeds) {
  const double a[3] = {0.6, 0.0, 0.8};
  for (double scale : {1e-3, 1.0, 1e3}) {
    SCOPED_TRACE(scale);
    const QuadricInfo cyl = {{scale, 2 * scale, -scale, a[0], a[1], a[2], 0.5 * scale, -4 * scale, 6 * scale}};
    const QuadricInfo cone = {{scale, 2 * scale, -scale, a[0], a[1], a[2], 0.4, 1 * scale, 5 * scale}};
    for (int isCone = 0; isCone < 2; ++isCone) {
      Owned<Bspline, FreeBspline> s(isCone ? CreateConeBspline(&cone) : CreateCylinderBspline(&cyl));
      ASSERT_TRUE(s);
      EXPECT_EQ(s->quadricType, isCone ? 23 : 22);
      // Control-net length per unit parameter agrees in u and v (the 10 % band of the matching).
      const double su = ControlNetSpan(s.get(), 0) / (s->umax - s->umin);
      const double sv = ControlNetSpan(s.get(), 1) / (s->vmax - s->vmin);
      EXPECT_NEAR(su / sv, 1.0, 0.1);
      const int du[1] = {0}, dv[1] = {0};
      const double* apex = isCone ? cone.v : cyl.v;
      for (double u : {0.05, 0.3, 0.77})
        for (double v : {0.0, 0.4, 1.0}) {
          double pt[1][3];
          ASSERT_EQ(EvalPointOnGeometryM(s.get(), s->umin + u * (s->umax - s->umin), s->vmin + v * (s->vmax - s->vmin),
                                         du, dv, 1, 0, pt), 0);
          const double q[3] = {pt[0][0] - apex[0], pt[0][1] - apex[1], pt[0][2] - apex[2]};
          const double expected = isCone ? std::fabs(Dot(q, a)) * std::tan(0.4) : 0.5 * scale;
          EXPECT_NEAR(LineDistance(pt[0], apex, a), expected, 1e-9 * scale);
        }
    }
  }
}

TEST_F(QuadricsTest, AllocationFailuresLeaveNothing) {
  const double base[3] = {0, 0, 0}, axis[3] = {0.6, 0, 0.8};
  const Points p = Revolved(base, axis, -1, 1, [](double) { return 1.0; }, 0.0, 5, 6, 8);
  RunWithInjectedFailures(40, 1, [&] {
    double c[10], lambda;
    return QuadricsFit(p.x.data(), p.y.data(), p.z.data(), p.n(), c, &lambda) == 1 ? 0 : -2;
  });
  RunWithInjectedFailures(10, 1, [&] {
    double centre[3];
    const double ell[10] = {1, 2, 3, 0, 0, 0, 1, 1, 1, -1};
    return QuadricsGeneralCenter(ell, centre);
  });
  const double cx[5] = {1, 0, -1, 0, 0.6}, cy[5] = {0, 1, 0, -1, 0.8}, cz[5] = {0, 0, 0, 0, 0};
  EXPECT_GT(RunMakerWithInjectedFailures(60, 1, [&](Bspline** out) {
              *out = FitCirclePts(cx, cy, cz, 5);
              return *out ? 0 : -2;
            }), 0);
  RunMakerWithInjectedFailures(30, 1, [&](Bspline** out) {
    *out = CreateSphereBspline(0, 0, 0, 1);
    return *out ? 0 : -2;
  });
  const QuadricInfo cyl = {{0, 0, 0, 0, 0, 1, 2, 0, 9}};
  RunMakerWithInjectedFailures(30, 1, [&](Bspline** out) {
    *out = CreateCylinderBspline(&cyl);
    return *out ? 0 : -2;
  });
  const double pbase[3] = {0, 0, 1}, paxis[3] = {1, 0, 0};
  RunMakerWithInjectedFailures(60, 1, [&](Bspline** out) {
    *out = MakeBsplParabolicSrf(1, 0.5, 2, pbase, paxis);
    return *out ? 0 : -2;
  });
  RunMakerWithInjectedFailures(20, 1, [&](Bspline** out) {
    *out = MakeBsplParabolaCrv(1, 2);
    return *out ? 0 : -2;
  });
}

}  // namespace
