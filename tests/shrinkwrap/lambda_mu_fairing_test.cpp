#include <cmath>
#include <random>
#include <vector>

#include "bspline/sfree.h"
#include "foundation/makemat.h"
#include "shrinkwrap/csmooth.h"
#include "tests/shrinkwrap/injected_failures.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class LambdaMuFairingTest : public KernelTest {};

struct Poly {
  std::vector<double> x, y, z;
  int n() const { return static_cast<int>(x.size()); }
};

Poly NoisyCircle(int n, double radius, double noise, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> U(-noise, noise);
  Poly p;
  for (int i = 0; i < n; ++i) {
    const double a = 2.0 * M_PI * i / n;
    const double r = radius + U(rng);
    p.x.push_back(r * std::cos(a));
    p.y.push_back(r * std::sin(a));
    p.z.push_back(U(rng));
  }
  return p;
}

// Mean radius and radial spread over the points away from the open ends.
void RadiusStats(const Poly& p, double* mean, double* spread) {
  const int lo = p.n() / 8, hi = p.n() - p.n() / 8;
  double s = 0.0, s2 = 0.0;
  for (int i = lo; i < hi; ++i) {
    const double r = std::hypot(p.x[i], p.y[i]);
    s += r;
    s2 += r * r;
  }
  const int m = hi - lo;
  *mean = s / m;
  *spread = std::sqrt(std::max(s2 / m - *mean * *mean, 0.0));
}

TEST_F(LambdaMuFairingTest, NoisyCircleKeepsItsRadiusUnlikeLaplacian) {
  const Poly start = NoisyCircle(200, 1.0, 0.01, 4);
  double r0, noise0;
  RadiusStats(start, &r0, &noise0);

  double lambda = 0.0, mu = 0.0;
  ASSERT_EQ(MaxShrinkFactorlambda(0.1, &lambda), 0);
  lambda *= 0.5;
  ASSERT_EQ(ComputeLambdaGammaFromPassbandFqncy(0.1, lambda, &mu), 0);
  EXPECT_NEAR(1.0 / lambda + 1.0 / mu, 0.1, 1e-12);
  ASSERT_LT(mu, -lambda);

  Poly taubin = start;
  ASSERT_EQ(FairPolylineLambdaGamma(taubin.x.data(), taubin.y.data(), taubin.z.data(), taubin.n(),
                                    nullptr, 0, 1, 0, lambda, mu, 100, 0.0),
            0);
  Poly laplace = start;
  ASSERT_EQ(FairPolylineLambdaGamma(laplace.x.data(), laplace.y.data(), laplace.z.data(),
                                    laplace.n(), nullptr, 0, 1, 0, lambda, 0.0, 200, 0.0),
            0);
  double rT, noiseT, rL, noiseL;
  RadiusStats(taubin, &rT, &noiseT);
  RadiusStats(laplace, &rL, &noiseL);
  // White noise keeps the share that falls inside the pass band (about 0.4 of it here).
  EXPECT_LT(noiseT, 0.5 * noise0);
  EXPECT_LT(noiseL, 0.5 * noise0);
  EXPECT_LT(std::fabs(rT - r0), 0.002);
  EXPECT_LT(rL, r0 - 0.01);
}

TEST_F(LambdaMuFairingTest, OneFullLaplacianStepMovesToNeighbourMidpoints) {
  Poly p{{0, 1, 3, 7}, {0, 2, 0, 1}, {0, 0, 4, 0}};
  const Poly s = p;
  ASSERT_EQ(FairPolylineLambdaGamma(p.x.data(), p.y.data(), p.z.data(), 4, nullptr, 0, 1, 0, 1.0,
                                    0.0, 1, 0.0),
            0);
  EXPECT_DOUBLE_EQ(p.x[0], s.x[1]);  // an end point moves onto its one neighbour
  EXPECT_DOUBLE_EQ(p.y[0], s.y[1]);
  for (int i = 1; i < 3; ++i) {
    EXPECT_DOUBLE_EQ(p.x[i], 0.5 * (s.x[i - 1] + s.x[i + 1]));
    EXPECT_DOUBLE_EQ(p.y[i], 0.5 * (s.y[i - 1] + s.y[i + 1]));
    EXPECT_DOUBLE_EQ(p.z[i], 0.5 * (s.z[i - 1] + s.z[i + 1]));
  }
  EXPECT_DOUBLE_EQ(p.x[3], s.x[2]);

  // Fixed points and a one-point polyline stay.
  Poly q = s;
  const int fixed[4] = {0, 1, 2, 3};
  ASSERT_EQ(FairPolylineLambdaGamma(q.x.data(), q.y.data(), q.z.data(), 4, fixed, 4, 1, 2, 0.5,
                                    -0.53, 5, 0.0),
            0);
  EXPECT_EQ(q.x, s.x);
  EXPECT_EQ(q.z, s.z);
  double one[3] = {1.0, 2.0, 3.0};
  ASSERT_EQ(
      FairPolylineLambdaGamma(&one[0], &one[1], &one[2], 1, nullptr, 0, 1, 0, 0.5, -0.5, 3, 0.0),
      0);
  EXPECT_EQ(one[0], 1.0);
}

TEST_F(LambdaMuFairingTest, WeightTypesAndCoincidentNeighbours) {
  const double p[3] = {0, 0, 0};
  const double nx[3] = {1, 2, 0}, ny[3] = {0, 0, 0}, nz[3] = {0, 0, 0};
  double w[3];
  ASSERT_EQ(GetNeighborSmoothingWeight(p, nx, ny, nz, 2, 2, 0.0, w), 0);
  EXPECT_NEAR(w[0], 2.0 / 3.0, 1e-15);
  EXPECT_NEAR(w[1], 1.0 / 3.0, 1e-15);
  ASSERT_EQ(GetNeighborSmoothingWeight(p, nx, ny, nz, 2, 3, 0.0, w), 0);
  EXPECT_NEAR(w[0], 0.8, 1e-15);
  ASSERT_EQ(GetNeighborSmoothingWeight(p, nx, ny, nz, 2, 1, 1.0, w), 0);
  EXPECT_NEAR(w[0] / w[1], std::exp(1.5), 1e-12);
  ASSERT_EQ(GetNeighborSmoothingWeight(p, nx, ny, nz, 1, 2, 0.0, w), 0);
  EXPECT_EQ(w[0], 1.0);
  // The third neighbour coincides with p: its inverse-distance weight is 0.
  ASSERT_EQ(GetNeighborSmoothingWeight(p, nx, ny, nz, 3, 2, 0.0, w), 0);
  EXPECT_EQ(w[2], 0.0);
  // Every neighbour on top of p: no weight is defined, the point must not move.
  const double zx[2] = {0, 1e-8}, zy[2] = {0, 0}, zz[2] = {0, 0};
  EXPECT_EQ(GetNeighborSmoothingWeight(p, zx, zy, zz, 2, 2, 0.0, w), -2);
  EXPECT_EQ(w[0], 0.0);
  EXPECT_EQ(w[1], 0.0);
  EXPECT_EQ(GetNeighborSmoothingWeight(p, nx, ny, nz, 0, 0, 0.0, w), -2);

  Poly q{{0, 0, 0, 5}, {1, 1, 1, 5}, {2, 2, 2, 5}};
  for (int type = 2; type <= 3; ++type) {
    Poly r = q;
    ASSERT_EQ(FairPolylineLambdaGamma(r.x.data(), r.y.data(), r.z.data(), 4, nullptr, 0, 1, type,
                                      0.5, -0.53, 4, 0.0),
              0);
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(std::isfinite(r.x[i]) && std::isfinite(r.z[i]));
    EXPECT_EQ(r.x[1], 0.0);  // both neighbours coincide with it
  }
  // A Gaussian too narrow for every neighbour: nothing to average, nothing moves.
  Poly g{{0, 10, 20}, {0, 5, 0}, {0, 0, 0}};
  ASSERT_EQ(FairPolylineLambdaGamma(g.x.data(), g.y.data(), g.z.data(), 3, nullptr, 0, 1, 1, 0.5,
                                    -0.53, 2, 1e-6),
            0);
  EXPECT_EQ(g.y[1], 5.0);
  EXPECT_EQ(PolylineLength(q.x.data(), q.y.data(), q.z.data(), 1), 0.0);
  EXPECT_NEAR(PolylineLength(q.x.data(), q.y.data(), q.z.data(), 4), std::sqrt(25 + 16 + 9), 1e-12);
}

TEST_F(LambdaMuFairingTest, PassBandArithmetic) {
  double l0 = 0, l1 = 0;
  ASSERT_EQ(MaxShrinkFactorlambda(0.0, &l0), 0);
  ASSERT_EQ(MaxShrinkFactorlambda(0.001, &l1), 0);
  EXPECT_EQ(l0, l1);
  ASSERT_EQ(MaxShrinkFactorlambda(2.0, &l0), 0);
  ASSERT_EQ(MaxShrinkFactorlambda(1.25, &l1), 0);
  EXPECT_EQ(l0, l1);
  for (double k : {0.05, 0.1, 0.3, 1.0}) {
    double l = 0.0, mu = 0.0;
    ASSERT_EQ(MaxShrinkFactorlambda(k, &l), 0);
    // lambda is the root of (2 - k) l^2 + k l - 1 = 0.
    EXPECT_NEAR((2.0 - k) * l * l + k * l - 1.0, 0.0, 1e-12);
    ASSERT_EQ(ComputeLambdaGammaFromPassbandFqncy(k, 0.5 * l, &mu), 0);
    EXPECT_NEAR(2.0 / l + 1.0 / mu, k, 1e-12);
  }
  double mu = 0.0;
  EXPECT_EQ(ComputeLambdaGammaFromPassbandFqncy(0.5, 2.0, &mu), -2);  // 1/lambda = k
  EXPECT_EQ(mu, -2.0);
  EXPECT_EQ(ComputeLambdaGammaFromPassbandFqncy(0.5, 1e-7, &mu), -2);
}

TEST_F(LambdaMuFairingTest, GridFairingMovesOnlyMovablePoints) {
  const int nr = 5, nc = 6;
  double** X = allocate_matrix_ff(nr, nc);
  double** Y = allocate_matrix_ff(nr, nc);
  double** Z = allocate_matrix_ff(nr, nc);
  int** mask = allocate_matrix_ih(nr, nc);
  for (int i = 0; i < nr; ++i)
    for (int j = 0; j < nc; ++j) {
      X[i][j] = j;
      Y[i][j] = i;
      Z[i][j] = (i == 2 && j == 3) ? 1.0 : 0.0;
      mask[i][j] = (i > 0 && i < nr - 1 && j > 0 && j < nc - 1) ? 1 : 0;
    }
  ASSERT_EQ(FairGridPntsLambdaGamma(X, Y, Z, nr, nc, mask, 1, 0, 0.5, -0.53, 10), 0);
  double maxZ = 0.0;
  for (int i = 0; i < nr; ++i)
    for (int j = 0; j < nc; ++j) {
      maxZ = std::max(maxZ, std::fabs(Z[i][j]));
      if (!mask[i][j]) {
        EXPECT_EQ(X[i][j], j);
        EXPECT_EQ(Z[i][j], 0.0);
      } else {
        // A flat regular grid is a fixed point in x and y.
        EXPECT_NEAR(X[i][j], j, 1e-12);
        EXPECT_NEAR(Y[i][j], i, 1e-12);
      }
    }
  EXPECT_LT(maxZ, 0.5);
  matrix_free_ff(X);
  matrix_free_ff(Y);
  matrix_free_ff(Z);
  matrix_free_ih(mask);
}

TEST_F(LambdaMuFairingTest, AllocationFailuresLeavePointsAndScopesClean) {
  const Poly start = NoisyCircle(20, 1.0, 0.05, 9);
  const int failures = RunWithInjectedFailures(25, 1, [&] {
    Poly p = start;
    const int r = FairPolylineLambdaGamma(p.x.data(), p.y.data(), p.z.data(), p.n(), nullptr, 0, 2,
                                          1, 0.5, -0.53, 3, 0.1);
    if (r != 0) {
      EXPECT_EQ(p.x, start.x);
    }
    return r;
  });
  EXPECT_GT(failures, 0);
}

// ---- curve stretches -------------------------------------------------------------------------

// A cubic with 12 control points on uniform knots 0, 1/9, ..., 1 and a zig-zag in z.
Bspline* ZigZagCurve() {
  std::vector<double> pts;
  for (int i = 0; i < 12; ++i) {
    pts.push_back(i);
    pts.push_back(0.1 * i * i);
    pts.push_back(i % 2 ? 0.3 : -0.3);
  }
  return BuildCurve(3, 3, pts);
}

TEST_F(LambdaMuFairingTest, FreeControlPointsOfAStretch) {
  Bspline* c = ZigZagCurve();
  ASSERT_NE(c, nullptr);
  const double* k = c->knotsU;
  int endFixed[2] = {5, -1};
  int first = -1, last = -1;
  ASSERT_EQ(FindCrvSegmentFreeCntrlPnts(c, k[5], k[9], endFixed, &first, &last), 0);
  EXPECT_EQ(endFixed[0], 2);  // limited to degree - 1
  EXPECT_EQ(first, 5);        // support of N5 starts at knot 5
  EXPECT_EQ(last, 9 - 3 - 1);
  ASSERT_EQ(FindCrvSegmentFreeCntrlPnts(c, 0.0, 1.0, endFixed, &first, &last), 0);
  EXPECT_EQ(first, 3);  // endFixed[0] + 1 points held at the start
  EXPECT_EQ(last, 11);  // the end is free
  endFixed[1] = 0;
  ASSERT_EQ(FindCrvSegmentFreeCntrlPnts(c, -1.0, 2.0, endFixed, &first, &last), 0);
  EXPECT_EQ(last, 10);
  // Not on a knot.
  EXPECT_EQ(FindCrvSegmentFreeCntrlPnts(c, 0.5 * (k[5] + k[6]), 1.0, endFixed, &first, &last), -2);
  int nFree = 0;
  int ends[2] = {0, 0};
  ASSERT_EQ(CheckCrvSegmentFreeCntrlPnts(c, 0.5 * (k[5] + k[6]), k[9], ends, &nFree), 0);
  EXPECT_EQ(nFree, 1);         // the inserted knot shifts the end span by one: points 6..6
  EXPECT_EQ(NumCtrlU(c), 12);  // on a copy only
  FreeBspline(c);
}

double ZigZagEnergy(const Bspline* c, int first, int last) {
  double e = 0.0;
  for (int i = std::max(first, 1); i <= std::min(last, NumCtrlU(c) - 2); ++i) {
    const double d = c->Z[0][i - 1] - 2.0 * c->Z[0][i] + c->Z[0][i + 1];
    e += d * d;
  }
  return e;
}

TEST_F(LambdaMuFairingTest, StretchSmoothingLeavesTheRestOfTheCurve) {
  Bspline* c = ZigZagCurve();
  ASSERT_NE(c, nullptr);
  const double t0 = c->knotsU[5], t1 = c->knotsU[11];
  const double before = ZigZagEnergy(c, 5, 7);
  std::vector<double> z0(c->Z[0], c->Z[0] + 12);
  ASSERT_EQ(NonShrinkSmoothCurveSegment(c, t1, t0, 0.5, -0.53, 5), 0);  // order does not matter
  EXPECT_LT(ZigZagEnergy(c, 5, 7), 0.5 * before);
  for (int i = 0; i < 12; ++i) {
    if (i < 5 || i > 7) {
      EXPECT_EQ(c->Z[0][i], z0[i]) << i;
    }
  }
  // Off a knot, outside the domain, or too few free points.
  EXPECT_EQ(NonShrinkSmoothCurveSegment(c, 0.5 * (t0 + c->knotsU[6]), t1, 0.5, -0.53, 5), -2);
  EXPECT_EQ(NonShrinkSmoothCurveSegment(c, t0, 1.5, 0.5, -0.53, 5), -2);
  EXPECT_EQ(NonShrinkSmoothCurveSegment(c, t0, c->knotsU[9], 0.5, -0.53, 5), -2);
  FreeBspline(c);
}

TEST_F(LambdaMuFairingTest, StagedSmoothingWorksOnACopy) {
  Bspline* c = ZigZagCurve();
  ASSERT_NE(c, nullptr);
  const double t0 = 0.25, t1 = 0.8;  // neither is a knot
  int endFixed[2] = {0, 0};
  Bspline* out = nullptr;
  ASSERT_EQ(SimpleSmoothCrvSegment(c, t0, t1, endFixed, 1, 0.6, &out), 0);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(NumCtrlU(c), 12);
  EXPECT_GT(NumCtrlU(out), 12);
  // Outside the stretch the curve is unchanged: only points whose support lies inside move.
  for (double t : {0.0, 0.1, 0.2, 0.25, 0.8, 0.9, 1.0}) {
    double a[3], b[3];
    RefEvalCurve(c, t, a);
    RefEvalCurve(out, t, b);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(a[k], b[k], 1e-9) << t;
  }
  // Inside it the zig-zag is damped.
  double wiggleIn = 0.0, wiggleOut = 0.0;
  for (int i = 0; i <= 40; ++i) {
    const double t = t0 + (t1 - t0) * i / 40.0;
    double a[3], b[3];
    RefEvalDeriv(c, t, 0.0, 2, 0, a);
    RefEvalDeriv(out, t, 0.0, 2, 0, b);
    wiggleIn += a[2] * a[2];
    wiggleOut += b[2] * b[2];
  }
  EXPECT_LT(wiggleOut, 0.5 * wiggleIn);
  FreeBspline(out);

  // Without knot insertion a stretch with fewer than 4 free points is refused.
  EXPECT_EQ(SimpleSmoothCrvSegment(c, 0.3, 0.45, endFixed, 0, 0.5, &out), -2);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(SimpleSmoothCrvSegment(c, 0.3, 0.3 + 1e-8, endFixed, 1, 0.5, &out), -2);
  FreeBspline(c);
}

TEST_F(LambdaMuFairingTest, StagedSmoothingAllocationFailures) {
  Bspline* c = ZigZagCurve();
  ASSERT_NE(c, nullptr);
  const int failures = RunMakerWithInjectedFailures(400, 7, [&](Bspline** out) {
    int endFixed[2] = {0, 0};
    return SimpleSmoothCrvSegment(c, 0.25, 0.8, endFixed, 1, 0.6, out);
  });
  EXPECT_GT(failures, 0);
  EXPECT_EQ(NumCtrlU(c), 12);
  FreeBspline(c);
}

}  // namespace
