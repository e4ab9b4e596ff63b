// Cylinder, cone and quadric fits at the least squares they report: the same points scaled from
// 2^-20 to 2^20, moved 1e4 sizes and turned give the answer moved alike; noisy arcs and slivers
// land where no small change of the cylinder lowers its error; exact cones of every opening and
// extent give their own cone.
#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "foundation/vec3.h"
#include "quadric/cone.h"
#include "quadric/cylinder.h"
#include "quadric/qnlfit.h"
#include "quadric/quadrics.h"
#include "tests/support/checks.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/point_sets.h"

namespace {

class LeastSquaresFit : public KernelTest {};

constexpr double kDeg = 0.017453292519943295;

double Dot(const double a[3], const double b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

// ---- the same points everywhere --------------------------------------------------------------

// 7 R for an orthonormal R: integer, so turned lattice points stay exact in single precision.
constexpr int kTurn[3][3] = {{3, -2, 6}, {6, 3, -2}, {-2, 6, 3}};

// A similarity q = 2^e (M p + offset) with M = 7 I or 7 R: every image of integer points is exact
// in single precision, so each placement sees exactly the same points.
struct Placement {
  int e;
  bool turned, far;
  double scale() const { return std::ldexp(1.0, e); }
  void point(const double p[3], double q[3]) const {
    // 1e4 times the lattice sets' extent (about 70 after the factor 7).
    const double offset[3] = {far ? 700000.0 : 0.0, far ? -420000.0 : 0.0, far ? 245000.0 : 0.0};
    for (int r = 0; r < 3; ++r) {
      const double m = turned ? kTurn[r][0] * p[0] + kTurn[r][1] * p[1] + kTurn[r][2] * p[2] : 7.0 * p[r];
      q[r] = scale() * (m + offset[r]);
    }
  }
  // A direction: turned only.
  void direction(const double d[3], double q[3]) const {
    for (int r = 0; r < 3; ++r)
      q[r] = turned ? (kTurn[r][0] * d[0] + kTurn[r][1] * d[1] + kTurn[r][2] * d[2]) / 7.0 : d[r];
  }
  // Lengths grow by 7 2^e.
  double size() const { return 7.0 * scale(); }
};

PointSet Placed(const std::vector<std::array<int, 3>>& lattice, const Placement& at) {
  PointSet p;
  for (const auto& l : lattice) {
    const double a[3] = {double(l[0]), double(l[1]), double(l[2])};
    double q[3];
    at.point(a, q);
    p.add(q);
  }
  return p;
}

// Integer points of the circle of radius 5 about the z axis over three quarters of a turn, at
// heights 0..6, with some moved to lattice points off it: a noisy arc with an exact image.
std::vector<std::array<int, 3>> NoisyLatticeArc() {
  const int ring[][2] = {{5, 0}, {4, 3}, {3, 4}, {0, 5}, {-3, 4}, {-4, 3}, {-5, 0}, {-4, -3}, {-3, -4}, {0, -5}};
  const int off[][2] = {{4, 4}, {-2, 5}, {-5, -1}, {1, -5}};
  std::vector<std::array<int, 3>> v;
  for (int z = 0; z <= 6; ++z) {
    for (const auto& r : ring) v.push_back({r[0], r[1], z});
    const auto& o = off[z % 4];
    v.push_back({o[0], o[1], z});
  }
  return v;
}

// Integer points of the cone x^2 + y^2 = (3 z / 4)^2 on three rings (radii 15, 30, 45) over
// three quarters of a turn, with some lattice points off it.
std::vector<std::array<int, 3>> NoisyLatticeCone() {
  const int ring[][2] = {{15, 0}, {12, 9}, {9, 12}, {0, 15}, {-9, 12}, {-12, 9}, {-15, 0}, {-12, -9}, {-9, -12}, {0, -15}};
  std::vector<std::array<int, 3>> v;
  for (int k = 1; k <= 3; ++k)
    for (const auto& r : ring) v.push_back({k * r[0], k * r[1], 20 * k});
  v.push_back({31, 1, 40});
  v.push_back({-1, 44, 60});
  v.push_back({13, 8, 20});
  return v;
}

struct CylinderAnswer {
  double P[3], A[3], r, e;
};

// The answer for the reference points (placement (0, plain, here)) mapped to at, held against the
// fit of at's points: axis point and direction, radius and error relative to the size.
void ExpectMovedCylinder(const CylinderAnswer& ref, const CylinderAnswer& got, const Placement& at, double tol) {
  const double s = at.scale();
  double P[3], A[3];
  // The reference was fitted to 7 p: take it back to p, then place it.
  const double p0[3] = {ref.P[0] / 7.0, ref.P[1] / 7.0, ref.P[2] / 7.0};
  at.point(p0, P);
  at.direction(ref.A, A);
  EXPECT_NEAR(std::fabs(Dot(A, got.A)), 1.0, tol * tol);
  // Both axis points are the foot nearest the points' centroid: the same point.
  for (int k = 0; k < 3; ++k) EXPECT_NEAR((got.P[k] - P[k]) / at.size(), 0.0, tol) << k;
  EXPECT_NEAR(got.r / s, ref.r, tol * ref.r);
  EXPECT_NEAR(got.e / (s * s), ref.e, tol * ref.e);
}

const Placement kReference = {0, false, false};

std::vector<Placement> Placements() {
  std::vector<Placement> v;
  // Powers of two next to 1e-6, 1e-3, 0.01, 0.1, 1, 1e3 and 1e6.
  for (int e : {-20, -10, -7, -3, 0, 10, 20})
    for (bool turned : {false, true})
      for (bool far : {false, true}) v.push_back({e, turned, far});
  return v;
}

TEST_F(LeastSquaresFit, EachFitGivesTheMovedAnswerForTheMovedPoints) {
  const auto arc = NoisyLatticeArc();
  const auto cone = NoisyLatticeCone();
  // The references, fitted at 7 p.
  const PointSet a0 = Placed(arc, kReference), c0 = Placed(cone, kReference);
  CylinderAnswer cyl, given;
  ASSERT_EQ(FitCylinder(a0.x.data(), a0.y.data(), a0.z.data(), a0.n(), cyl.P, cyl.A, &cyl.r, &cyl.e), 0);
  given.r = 35.0;
  ASSERT_EQ(FitCylinderWithGivenRadius(a0.x.data(), a0.y.data(), a0.z.data(), a0.n(), given.r, given.P, given.A,
                                       &given.e),
            0);
  QuadricInfo coneRef;
  double coneError;
  ASSERT_EQ(FitCone(c0.x.data(), c0.y.data(), c0.z.data(), c0.n(), &coneRef, &coneError), 0);
  double quadric[10], lambda;
  ASSERT_EQ(QuadricsFit(a0.x.data(), a0.y.data(), a0.z.data(), a0.n(), quadric, &lambda), 1);
  // The noise is real: none of the answers is exact.
  EXPECT_GT(cyl.e, 1e-4 * cyl.r * cyl.r);
  EXPECT_GT(coneError, 1e-4);
  for (const Placement& at : Placements()) {
    SCOPED_TRACE(::testing::Message() << "2^" << at.e << " turned " << at.turned << " far " << at.far);
    const double s = at.scale();
    // Single-precision copies of the same points differ from one frame to another (the box of
    // turned points is another box) by their rounding, 6e-8, magnified by the fits' conditioning.
    const double tol = 1e-5;
    const PointSet a = Placed(arc, at), c = Placed(cone, at);
    CylinderAnswer got;
    ASSERT_EQ(FitCylinder(a.x.data(), a.y.data(), a.z.data(), a.n(), got.P, got.A, &got.r, &got.e), 0);
    ExpectMovedCylinder(cyl, got, at, tol);
    got.r = given.r * s;
    ASSERT_EQ(FitCylinderWithGivenRadius(a.x.data(), a.y.data(), a.z.data(), a.n(), got.r, got.P, got.A, &got.e), 0);
    ExpectMovedCylinder(given, got, at, tol);
    // The cone: apex, axis, angle, error.
    QuadricInfo info;
    double error;
    ASSERT_EQ(FitCone(c.x.data(), c.y.data(), c.z.data(), c.n(), &info, &error), 0);
    double apex[3], axis[3];
    const double apex0[3] = {coneRef.v[0] / 7.0, coneRef.v[1] / 7.0, coneRef.v[2] / 7.0};
    at.point(apex0, apex);
    at.direction(coneRef.v + 3, axis);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR((info.v[k] - apex[k]) / at.size(), 0.0, 10 * tol) << k;
    EXPECT_NEAR(std::fabs(Dot(info.v + 3, axis)), 1.0, tol * tol);
    EXPECT_NEAR(info.v[6], coneRef.v[6], tol);
    EXPECT_NEAR(error / (s * s), coneError, tol * coneError);
    // The quadric: the same polynomial up to its sign, s^2 times the reference's at the images
    // of the same points (its quadratic part has unit norm in every frame).
    double coef[10];
    ASSERT_EQ(QuadricsFit(a.x.data(), a.y.data(), a.z.data(), a.n(), coef, &lambda), 1);
    const double probes[3][3] = {{0, 0, 0}, {6, -2, 3}, {-4, 7, 1}};
    auto Q = [](const double* c, const double p[3]) {
      return c[0] * p[0] * p[0] + c[1] * p[1] * p[1] + c[2] * p[2] * p[2] + c[3] * p[0] * p[1] + c[4] * p[0] * p[2] +
             c[5] * p[1] * p[2] + c[6] * p[0] + c[7] * p[1] + c[8] * p[2] + c[9];
    };
    double sign = 0.0;
    for (const auto& p : probes) {
      double q0[3], q[3];
      for (int k = 0; k < 3; ++k) q0[k] = 7.0 * p[k];
      at.point(p, q);
      const double want = Q(quadric, q0) * s * s, got2 = Q(coef, q);
      if (sign == 0.0) sign = want * got2 < 0.0 ? -1.0 : 1.0;
      // Relative to the quadric's values across the points (their squared size, 49 x 49).
      EXPECT_NEAR(sign * got2 / (s * s), want / (s * s), 1e-4 * 2401.0);
    }
  }
}

// ---- at the least squares ---------------------------------------------------------------------

// Orthonormal e[0], e[1] completing the unit e[2] along a.
void Frame(const double a[3], double e[3][3]) {
  VecNormalize3(a, e[2]);
  PerpVecs(e[2], e[0], e[1]);
  VecNormalize3(e[0], e[0]);
  VecNormalize3(e[1], e[1]);
}

// Points of the surface of revolution r(h) = r0 + h tan(theta) about the axis through base along
// axis, heights h0..h1, angles 0..sweep, each moved along the surface's normal by a normal draw
// of deviation noise; all times size.
PointSet Axial(const double base[3], const double axis[3], double r0, double theta, double h0, double h1,
               double sweep, int rows, int cols, double noise, unsigned seed, double size = 1.0) {
  double e[3][3];
  Frame(axis, e);
  std::mt19937 rng(seed);
  std::normal_distribution<double> N(0.0, 1.0);
  PointSet p;
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) {
      const double h = h0 + (h1 - h0) * i / (rows - 1), t = sweep * (j + 0.37 * (i % 3)) / cols;
      const double r = r0 + h * std::tan(theta), dn = noise > 0.0 ? noise * N(rng) : 0.0;
      double q[3];
      for (int k = 0; k < 3; ++k) {
        const double radial = std::cos(t) * e[0][k] + std::sin(t) * e[1][k];
        const double normal = std::cos(theta) * radial - std::sin(theta) * e[2][k];
        q[k] = size * (base[k] + h * e[2][k] + r * radial + dn * normal);
      }
      p.add(q);
    }
  return p;
}

// The mean squared radial deviation of the points from the surface r0 + h T about the axis
// through P along the unit A (h from P): the measure the fits report.
double MeanSquare(const PointSet& p, const double P[3], const double A[3], double r0, double T) {
  double sum = 0.0;
  for (int i = 0; i < p.n(); ++i) {
    const double d[3] = {p.x[i] - P[0], p.y[i] - P[1], p.z[i] - P[2]};
    const double h = Dot(d, A), rho = std::sqrt(std::fmax(0.0, Dot(d, d) - h * h));
    const double dev = rho - std::fabs(r0 + h * T);
    sum += dev * dev;
  }
  return sum / p.n();
}

// No small change of the axis' direction or place, the radius or (cone) the slope lowers the
// error by more than the points' rounding allows (1e-7 of their size, squared).
void ExpectMinimum(const PointSet& p, const double P[3], const double A[3], double r0, double T, bool cone) {
  double e[3][3];
  Frame(A, e);
  const double best = MeanSquare(p, P, A, r0, T);
  for (double step : {1e-3, 1e-5})
    for (double sign : {-1.0, 1.0})
      for (int j = 0; j < (cone ? 6 : 5); ++j) {
        double Q[3] = {P[0], P[1], P[2]}, B[3] = {A[0], A[1], A[2]}, r = r0, t = T;
        const double d = sign * step;
        if (j < 2)
          for (int k = 0; k < 3; ++k) Q[k] += d * e[j][k];
        else if (j < 4)
          for (int k = 0; k < 3; ++k) B[k] += d * e[j - 2][k];
        else if (j == 4)
          r += d;
        else
          t += d;
        VecNormalize3(B, B);
        EXPECT_GE(MeanSquare(p, Q, B, r, t), best - 1e-14) << "step " << d << " parameter " << j;
      }
}

// The fitted cylinder: the foot nearest the centroid, the error reported that of what is returned,
// at the least squares and no worse than the truth.
void ExpectLeastSquaresCylinder(const PointSet& p, const double truthP[3], const double truthA[3], double truthR) {
  double P[3], A[3], r, e;
  ASSERT_EQ(FitCylinder(p.x.data(), p.y.data(), p.z.data(), p.n(), P, A, &r, &e), 0);
  double c[3] = {0, 0, 0};
  for (int i = 0; i < p.n(); ++i) c[0] += p.x[i] / p.n(), c[1] += p.y[i] / p.n(), c[2] += p.z[i] / p.n();
  const double t[3] = {c[0] - P[0], c[1] - P[1], c[2] - P[2]};
  // Both to the rounding of the fit's single-precision copy of the points (6e-8 of their size).
  EXPECT_NEAR(Dot(t, A), 0.0, 1e-7);
  EXPECT_NEAR(MeanSquare(p, P, A, r, 0.0), e, 2e-7 * std::sqrt(e) + 1e-14);
  double unit[3];
  VecNormalize3(truthA, unit);
  EXPECT_LE(e, MeanSquare(p, truthP, unit, truthR, 0.0));
  ExpectMinimum(p, P, A, r, 0.0, false);
}

TEST_F(LeastSquaresFit, ThreeQuarterArcKeepsItsAxisByItsPointsAndItsSmallTilt) {
  // An axis 2e-6 off the y-z plane: the fit's tilt is its own, not cut to 0.
  const double base[3] = {0.1, -0.2, 0.3}, axis[3] = {2e-6, 0.6, 0.8};
  for (unsigned seed : {1u, 2u, 3u}) {
    SCOPED_TRACE(seed);
    ExpectLeastSquaresCylinder(Axial(base, axis, 0.4, 0.0, -0.5, 0.5, 270 * kDeg, 15, 30, 1e-5, seed), base, axis,
                               0.4);
  }
}

TEST_F(LeastSquaresFit, TwentyDegreeSliverWithNoiseReachesTheLeastSquares) {
  const double base[3] = {0.1, -0.2, 0.3}, axis[3] = {0.3, 0.6, 0.8};
  for (unsigned seed : {1u, 2u, 3u, 4u, 5u}) {
    SCOPED_TRACE(seed);
    ExpectLeastSquaresCylinder(Axial(base, axis, 0.383, 0.0, -0.5, 0.5, 20 * kDeg, 15, 12, 1e-3, seed), base, axis,
                               0.383);
  }
}

TEST_F(LeastSquaresFit, ExactConesOfEveryOpeningAndExtentGiveTheirCone) {
  struct Case {
    double r0, theta, h0, h1, sweep;
    int rows, cols;
  };
  // Half angle (degrees), radius at the axis point, heights, sweep (degrees): thin and wide, whole
  // turns and narrow sectors, bands short and long.
  const Case cases[] = {{0.5, 5, -0.5, 0.5, 360, 12, 16},   {0.5, 5, -0.1, 0.1, 40, 12, 16},
                        {0.537, 33.93, -0.101, 1.88, 30.9, 12, 11}, {0.817, 41.61, -0.24, 0.178, 200, 10, 14},
                        {0.898, 37.53, -0.516, 0.954, 23.7, 6, 23}, {0.309, 39.63, -0.157, 1.07, 40.4, 10, 13},
                        {0.0, 60, 0.0, 1.0, 180, 8, 12}};
  const double base[3] = {0.3, -0.2, 0.1}, axis[3] = {0.36, 0.48, -0.8};
  for (const Case& k : cases)
    for (double size : {1e-6, 1.0, 1e6}) {
      SCOPED_TRACE(::testing::Message() << "angle " << k.theta << " sweep " << k.sweep << " size " << size);
      const double theta = k.theta * kDeg;
      const PointSet p = Axial(base, axis, k.r0, theta, k.h0, k.h1, k.sweep * kDeg, k.rows, k.cols, 0.0, 1, size);
      QuadricInfo info;
      double e;
      ASSERT_EQ(FitCone(p.x.data(), p.y.data(), p.z.data(), p.n(), &info, &e), 0);
      EXPECT_NEAR(info.v[6], theta, 1e-5);
      EXPECT_LT(std::sqrt(e) / size, 1e-7);
      double u[3];
      VecNormalize3(axis, u);
      EXPECT_NEAR(std::fabs(Dot(info.v + 3, u)), 1.0, 1e-10);
      // The apex: where the radius vanishes; the angle's 1e-5 moves it by r0 / sin^2 of it.
      const double back = k.r0 / std::tan(theta), along = k.r0 / (std::sin(theta) * std::sin(theta));
      for (int c = 0; c < 3; ++c) EXPECT_NEAR(info.v[c] / size, base[c] - back * u[c], 1e-5 * (1 + along)) << c;
    }
}

// Seeded cylinders and cones of every kind (whole turns to 10-degree strips, short bands to long
// ones, exact and noisy): each fit comes out with a radius that is not negative and an error no
// worse than that of the surface the points were drawn from.
TEST_F(LeastSquaresFit, SeededCylindersAndConesFitNoWorseThanTheirTruth) {
  std::mt19937 rng(11);
  auto U = [&rng] { return std::uniform_real_distribution<double>(0.0, 1.0)(rng); };
  for (int trial = 0; trial < 300; ++trial) {
    SCOPED_TRACE(trial);
    const double axis[3] = {U() - 0.5, U() - 0.5, U() - 0.5}, base[3] = {U(), U(), U()};
    const double r0 = 0.05 + U(), h0 = -U(), h1 = 2 * U(), sweep = (10 + 350 * U()) * kDeg;
    const int rows = 3 + int(10 * U()), cols = 4 + int(20 * U());
    const double noise = trial % 3 == 0 ? 0.0 : trial % 3 == 1 ? 1e-5 : 1e-3;
    double u[3];
    VecNormalize3(axis, u);
    const PointSet p = Axial(base, axis, r0, 0.0, h0, h1, sweep, rows, cols, noise, trial);
    double P[3], A[3], r, e;
    ASSERT_EQ(FitCylinder(p.x.data(), p.y.data(), p.z.data(), p.n(), P, A, &r, &e), 0);
    EXPECT_GE(r, 0.0);
    EXPECT_LE(e, MeanSquare(p, base, u, r0, 0.0) * (1 + 1e-6) + 1e-14);
    // A cone through the same draw, its radius positive over the band.
    const double theta = (2 + 40 * U()) * kDeg;
    if (r0 + h0 * std::tan(theta) < 0.02) continue;
    const PointSet c = Axial(base, axis, r0, theta, h0, h1, sweep, rows, cols, noise, trial);
    QuadricInfo info;
    ASSERT_EQ(FitCone(c.x.data(), c.y.data(), c.z.data(), c.n(), &info, &e), 0);
    EXPECT_LE(e, MeanSquare(c, base, u, r0, std::tan(theta)) * (1 + 1e-6) + 1e-14);
  }
}

}  // namespace
