// Cross-boundary derivative curves and their control rows: exact iso derivatives against the
// reference evaluator's partials on both sides of interior, minimum and maximum iso lines with
// the surface left bit-identical; unit cross directions in the tangent plane, toward the
// reference curve or perpendicular to the curve out of the domain; the arc magnitude; and the
// scaled control rows of the loft and blend constructions.
#include <algorithm>
#include <cmath>
#include <vector>

#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "construct/crv2srf.h"
#include "foundation/coreglob.h"
#include "tests/support/builders.h"
#include "tests/support/checks.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/placement.h"

namespace {

class DerivativeCurves : public KernelTest {};

double Len(const double v[3]) { return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }
double Dot(const double a[3], const double b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

Bspline* Wavy(unsigned seed, bool rational = false) {
  PatchOptions o;
  o.nu = 7, o.nv = 6, o.layout = KnotLayout::Random, o.seed = seed, o.rational = rational;
  return BuildFunctionPatch([](double x, double y) { return 0.4 * std::sin(2 * x + y) + 0.2 * x * y; }, o);
}

bool Identical(const Bspline* a, const Bspline* b) {
  for (int i = 0; i < NumKnotsU(a); ++i)
    if (a->knotsU[i] != b->knotsU[i]) return false;
  for (int i = 0; i < NumKnotsV(a); ++i)
    if (a->knotsV[i] != b->knotsV[i]) return false;
  for (int j = 0; j < NumCtrlV(a); ++j)
    for (int i = 0; i < NumCtrlU(a); ++i)
      if (a->X[j][i] != b->X[j][i] || a->Y[j][i] != b->Y[j][i] || a->Z[j][i] != b->Z[j][i]) return false;
  return true;
}

TEST_F(DerivativeCurves, IsoDerivativesAreTheSurfacePartialsAndLeaveTheSurfaceAlone) {
  BsplineKeeper keep;
  Bspline* s = keep(Wavy(2));
  Bspline* before = keep(CopyBsplineStruct(s));
  for (const int dir : {0, 1})
    for (const double iso : {0.0, 0.37, 1.0})
      for (const int order : {1, 2})
        for (const int atMin : {0, 1}) {
          Bspline* d = keep(GetIsoDerivOfSurf(s, nullptr, nullptr, 0, 0, 1, 0.0, -1, iso, 0.1, 0.9,
                                              dir, order, atMin, 0, 0));
          ASSERT_NE(d, nullptr) << dir << " " << iso << " " << order;
          EXPECT_TRUE(Identical(s, before));
          EXPECT_NEAR(d->umin, 0.1, 1e-12);
          EXPECT_NEAR(d->umax, 0.9, 1e-12);
          for (double t = 0.1; t <= 0.9; t += 0.1) {
            double got[3], want[3];
            RefEvalCurve(d, t, got);
            // dir 0: the line v = iso runs in u and the cross direction is v.
            RefEvalDeriv(s, dir == 0 ? t : iso, dir == 0 ? iso : t, dir == 0 ? 0 : order,
                         dir == 0 ? order : 0, want);
            const double sign = atMin ? -1.0 : 1.0;
            for (int k = 0; k < 3; ++k) EXPECT_NEAR(got[k], sign * want[k], 1e-8 * (1 + Len(want)));
          }
        }
  // Position curve; the G2 edge reflection normalised; refusals.
  Bspline* pos = keep(GetIsoDerivOfSurf(s, nullptr, nullptr, 0, 0, 1, 0, -1, 0.5, 0.0, 1.0, 1, 0, 0, 0, 0));
  ASSERT_NE(pos, nullptr);
  double a[3], b[3];
  RefEvalCurve(pos, 0.3, a);
  RefEvalSurface(s, 0.5, 0.3, b);
  ExpectNear3(a, b, 1e-12);
  Bspline* g2 = keep(GetIsoDerivOfSurf(s, nullptr, nullptr, 0, 0, 1, 0, -1, 0.0, 0.0, 1.0, 0, 2, 1, 1, 1));
  ASSERT_NE(g2, nullptr);
  for (int i = 0; i < NumCtrlU(g2); ++i) {
    const double v[3] = {g2->X[0][i], g2->Y[0][i], g2->Z[0][i]};
    EXPECT_NEAR(Len(v), 1.0, 1e-12);
  }
  Bspline* rat = keep(Wavy(3, true));
  EXPECT_EQ(GetIsoDerivOfSurf(rat, nullptr, nullptr, 0, 0, 1, 0, -1, 0.5, 0, 1, 0, 1, 0, 0, 0), nullptr);
  EXPECT_NE(keep(GetIsoDerivOfSurf(rat, nullptr, nullptr, 0, 0, 1, 0, -1, 0.5, 0, 1, 0, 0, 0, 0, 0)), nullptr);
  PatchOptions lin;
  lin.degreeV = 1, lin.nv = 3;
  Bspline* ruled = keep(BuildFunctionPatch([](double x, double) { return x; }, lin));
  EXPECT_EQ(GetIsoDerivOfSurf(ruled, nullptr, nullptr, 0, 0, 1, 0, -1, 0.0, 0, 1, 0, 2, 0, 0, 0), nullptr);
}

TEST_F(DerivativeCurves, NonIsoDirectionsAreUnitInTheTangentPlane) {
  BsplineKeeper keep;
  Bspline* s = keep(Wavy(4));
  // A diagonal curve, its reference a curve on the same surface to one side of it.
  Bspline* crv = BuildCurveOnSurface(s, 3, {0.1, 0.2, 0.3, 0.35, 0.5, 0.5, 0.7, 0.6});
  Bspline* ref = BuildCurveOnSurface(s, 3, {0.3, 0.05, 0.5, 0.15, 0.75, 0.3, 0.95, 0.4});
  Bspline* edge = BuildCurveOnSurface(s, 1, {0.0, 0.1, 0.0, 0.9});  // on the u-minimum boundary
  const int n = 9;
  std::vector<double> t(n), x(n), y(n), z(n);
  for (int i = 0; i < n; ++i) t[i] = i / double(n - 1);
  for (const int mode : {0, 1}) {
    Bspline* c = mode == 0 ? crv : edge;
    double* mag = nullptr;
    ASSERT_EQ(GetNonIsoG1PointsOfSurf(c, ref, &mag, 1, 1, mode, t.data(), x.data(), y.data(), z.data(), n), 0);
    ASSERT_NE(mag, nullptr);
    for (int i = 0; i < n; ++i) {
      double uv[2], duv[2], S[3], Su[3], Sv[3], R[3];
      Eval2DPointOnCurve2Array(nullptr, c, t[i], 0, uv);
      Eval2DPointOnCurve2Array(nullptr, c, t[i], 1, duv);
      RefEvalSurface(s, uv[0], uv[1], S);
      RefEvalDeriv(s, uv[0], uv[1], 1, 0, Su);
      RefEvalDeriv(s, uv[0], uv[1], 0, 1, Sv);
      double N[3] = {Su[1] * Sv[2] - Su[2] * Sv[1], Su[2] * Sv[0] - Su[0] * Sv[2], Su[0] * Sv[1] - Su[1] * Sv[0]};
      const double D[3] = {x[i], y[i], z[i]};
      EXPECT_NEAR(Len(D), 1.0, 1e-12);
      EXPECT_NEAR(Dot(D, N) / Len(N), 0.0, 1e-9);
      EvalCrvOnSrfArray(nullptr, ref, t[i], 0, R);
      const double W[3] = {R[0] - S[0], R[1] - S[1], R[2] - S[2]};
      EXPECT_GE(mag[i], Len(W) - 1e-12);  // an arc is never shorter than its chord
      if (mode == 0) {
        EXPECT_GT(Dot(D, W), 0.0);
      } else {
        const double T[3] = {Su[0] * duv[0] + Sv[0] * duv[1], Su[1] * duv[0] + Sv[1] * duv[1],
                             Su[2] * duv[0] + Sv[2] * duv[1]};
        EXPECT_NEAR(Dot(D, T) / Len(T), 0.0, 1e-9);
        EXPECT_LT(Dot(D, Su), 0.0);  // out of the domain across the u-minimum edge
      }
    }
    Free(mag);
  }
  // The interpolated direction curve passes through its samples; no second order exists here.
  Bspline* dirs = keep(GetNonIsoDerivOfSurf(crv, ref, nullptr, 0, 0, 0, 0.0, -1, 1, nullptr, 0, 3));
  ASSERT_NE(dirs, nullptr);
  double mid[3];
  RefEvalCurve(dirs, 0.5, mid);
  EXPECT_NEAR(Len(mid), 1.0, 0.02);
  Bspline* posc = keep(GetNonIsoDerivOfSurf(crv, ref, nullptr, 0, 0, 0, 0.0, 4, 0, nullptr, 0, 3));
  ASSERT_NE(posc, nullptr);
  for (double u = 0.0; u <= 1.0; u += 0.125) {
    double p[3], q[3];
    RefEvalCurve(posc, u, p);
    EvalCrvOnSrfArray(nullptr, crv, u, 0, q);
    EXPECT_LT(std::hypot(p[0] - q[0], p[1] - q[1], p[2] - q[2]), 1e-3);
  }
  EXPECT_EQ(GetNonIsoDerivOfSurf(crv, ref, nullptr, 0, 0, 0, 0.0, -1, 2, nullptr, 0, 3), nullptr);
  ClearKernelError();
  // Magnitudes: chord along the direction, twice it across, none straight away or for S = R.
  double S[3] = {0, 0, 0}, R[3] = {2, 0, 0}, along[3] = {1, 0, 0}, across[3] = {0, 1, 0}, away[3] = {-1, 0, 0};
  EXPECT_DOUBLE_EQ(ComputeTangentMagnitude(S, R, along, 1), 2.0);
  EXPECT_DOUBLE_EQ(ComputeTangentMagnitude(S, R, across, 1), 4.0);
  EXPECT_EQ(ComputeTangentMagnitude(S, R, away, 1), 0.0);
  EXPECT_EQ(ComputeTangentMagnitude(S, S, along, 1), 0.0);
  EXPECT_DOUBLE_EQ(ComputeTangentMagnitude(S, R, across, 0), 2.0);
  // A direction curve made of unit control points: each keeps its direction, a vanishing one
  // stays as it was.
  Bspline* unit = keep(BuildCurve(2, 3, {3, 4, 0, 0, 0, 2e-11, -1e-3, 0, 0, 1, 1, 1}));
  NormalizeBspline(unit);
  const double k = 1 / std::sqrt(3.0);
  const double want[4][3] = {{0.6, 0.8, 0}, {0, 0, 2e-11}, {-1, 0, 0}, {k, k, k}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_NEAR(unit->X[0][i], want[i][0], 1e-15) << i;
    EXPECT_NEAR(unit->Y[0][i], want[i][1], 1e-15) << i;
    EXPECT_NEAR(unit->Z[0][i], want[i][2], 1e-15) << i;
  }
}

TEST_F(DerivativeCurves, ScaledControlRows) {
  BsplineKeeper keep;
  for (const int n : {4, 7}) {
    Bspline* P = keep(BuildRandomCurve(11, 3, n));
    Bspline* D0 = keep(BuildRandomCurve(12, 3, n));
    // Zero vectors at the start: the start factor comes from the first usable one.
    D0->X[0][0] = D0->Y[0][0] = D0->Z[0][0] = 0.0;
    for (const int vary : {0, 1}) {
      Bspline* D = keep(CopyBsplineStruct(D0));
      const double l0 = std::hypot(D0->X[0][1], D0->Y[0][1], D0->Z[0][1]);
      const double l1 = std::hypot(D0->X[0][n - 1], D0->Y[0][n - 1], D0->Z[0][n - 1]);
      double targets[6] = {P->X[0][0] + 0.3, P->Y[0][0], P->Z[0][0],
                           P->X[0][n - 1], P->Y[0][n - 1] + 1.2, P->Z[0][n - 1]};
      ASSERT_EQ(GetScaledDerivCntrl(D, P, targets, 2.0, vary), 0);
      const double m0 = 0.3 / l0, m1 = 1.2 / l1, mAvg = 0.5 * (m0 + m1);
      const bool varies = vary && n >= 5;
      // Every row point is P + 2 m D: m the mean throughout, or running from the start's factor
      // through the mean at point n / 2 to the end's.
      auto factor = [&](int i) {
        return (D->X[0][i] - P->X[0][i]) / (2 * D0->X[0][i]);
      };
      EXPECT_NEAR(factor(n - 1), varies ? m1 : mAvg, 1e-9);
      EXPECT_NEAR(factor(n / 2), mAvg, 1e-9);
      for (int i = 1; i < n && !varies; ++i) EXPECT_NEAR(factor(i), mAvg, 1e-9);
      EXPECT_EQ(D->X[0][0], P->X[0][0]);
    }
  }
  Bspline* flat = keep(BuildRandomCurve(13, 3, 5, 2));
  Bspline* P = keep(BuildRandomCurve(14, 3, 5));
  double targets[6] = {};
  EXPECT_EQ(GetScaledDerivCntrl(flat, P, targets, 1.0, 0), -2);
  ClearKernelError();
  double zx[3] = {0, 0, 0};
  EXPECT_EQ(GetDerivVecMagNearPrefIndx(zx, zx, zx, 0, 3), 1e-10);
  // The loft's rows: ends {1, 0}, a span of 0.3 and unit magnitudes move entry 1 to P + 0.1 D.
  Bspline* c[3] = {keep(BuildRandomCurve(15, 3, 5)), keep(BuildRandomCurve(16, 3, 5)),
                   keep(BuildRandomCurve(17, 3, 5))};
  Bspline* d1 = keep(CopyBsplineStruct(c[1]));
  int ends[2] = {1, 0};
  double ones[5] = {1, 1, 1, 1, 1};
  double* mags[2] = {ones, nullptr};
  double spans[2] = {0.3, 0.3};
  ComputeDerivCntrlPts(c, 3, ends, mags, spans);
  for (int i = 0; i < 5; ++i) EXPECT_NEAR(c[1]->Z[0][i], c[0]->Z[0][i] + 0.1 * d1->Z[0][i], 1e-12);
}


// The cross directions of a curve on a surface are unit and turn with the surface, their arc
// magnitudes go with its size, at every size and anywhere in space: the tangent plane's normal
// Su x Sv goes with the square of the size and may not set their floors. Cases: toward the
// reference curve, perpendicular to an inner curve, and perpendicular out of the domain across
// the u-minimum edge (whose side is decided in the parameter plane).
TEST_F(DerivativeCurves, CrossDirectionsAndMagnitudesAreTheSameAtEverySize) {
  const int n = 9;
  std::vector<double> t(n);
  for (int i = 0; i < n; ++i) t[i] = i / double(n - 1);
  std::vector<double> unit[3][4];
  auto run = [&](const Place& pl, int mode, std::vector<double> out[4]) {
    BsplineKeeper keep;
    Bspline* s = keep(Wavy(4));
    pl.Map(s);
    Bspline* crv = mode < 2 ? BuildCurveOnSurface(s, 3, {0.1, 0.2, 0.3, 0.35, 0.5, 0.5, 0.7, 0.6})
                            : BuildCurveOnSurface(s, 1, {0.0, 0.1, 0.0, 0.9});
    Bspline* ref = BuildCurveOnSurface(s, 3, {0.3, 0.05, 0.5, 0.15, 0.75, 0.3, 0.95, 0.4});
    for (int k = 0; k < 4; ++k) out[k].assign(n, 0.0);
    double* mag = nullptr;
    ASSERT_EQ(GetNonIsoG1PointsOfSurf(crv, ref, &mag, 1, 1, std::min(mode, 1), t.data(), out[0].data(),
                                      out[1].data(), out[2].data(), n), 0);
    ASSERT_NE(mag, nullptr);
    for (int i = 0; i < n; ++i) {
      const double D[3] = {out[0][i], out[1][i], out[2][i]};
      double d[3];
      pl.UnmapDirection(D, d);
      for (int k = 0; k < 3; ++k) out[k][i] = d[k];
      out[3][i] = mag[i] / pl.size;
    }
    Free(mag);
  };
  for (int mode : {0, 1, 2}) run(Place(1.0, false), mode, unit[mode]);
  for (const Place& pl : EveryPlace())
    for (int mode : {0, 1, 2}) {
      SCOPED_TRACE(Where(pl) << " mode " << mode);
      std::vector<double> got[4];
      run(pl, mode, got);
      for (int i = 0; i < n; ++i) {
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(got[k][i], unit[mode][k][i], 1e-8) << i;
        EXPECT_NEAR(got[3][i], unit[mode][3][i], 1e-8 * unit[mode][3][i]) << i;
      }
    }
}

// The floors of the magnitude, the normalised direction curve and the usable derivative length
// are shares of the vectors' own lengths: scaled by 1e-6 .. 1e6, each gives its unit answer
// scaled alike, a vector 1e-5 as long as the others included.
TEST_F(DerivativeCurves, MagnitudeAndDirectionFloorsGoWithTheSize) {
  double S0[3] = {0, 0, 0}, R0[3] = {2e-5, 1e-5, 0}, along[3] = {1, 0, 0};
  const double m0 = ComputeTangentMagnitude(S0, R0, along, 1);
  EXPECT_NEAR(m0, 2 * 5e-10 / (std::sqrt(5e-10) + 2e-5), 1e-18);
  for (double size : kPlaceSizes) {
    SCOPED_TRACE(::testing::Message() << "size " << size);
    double S[3], R[3];
    for (int k = 0; k < 3; ++k) S[k] = 3 * size + size * S0[k], R[k] = 3 * size + size * R0[k];
    EXPECT_NEAR(ComputeTangentMagnitude(S, R, along, 1) / size, m0, 1e-9 * m0);
    // Derivative vectors whose first is 1e-5 of the rest: it is the usable one, and it is
    // normalised with them.
    double x[3] = {1e-5 * size, 0, size}, y[3] = {0, 2 * size, 0}, z[3] = {0, 0, size};
    EXPECT_NEAR(GetDerivVecMagNearPrefIndx(x, y, z, 0, 3) / size, 1e-5, 1e-15);
    BsplineKeeper keep;
    Bspline* d = keep(BuildCurve(2, 3, {x[0], y[0], z[0], x[1], y[1], z[1], x[2], y[2], z[2]}));
    NormalizeBspline(d);
    EXPECT_NEAR(d->X[0][0], 1.0, 1e-15);
    EXPECT_NEAR(d->Y[0][1], 1.0, 1e-15);
    EXPECT_NEAR(d->X[0][2], std::sqrt(0.5), 1e-15);
  }
}

}  // namespace
