// Surfaces of revolution: every surface point keeps its profile point's height along the axis and
// distance from it, at any scale; the boundary columns are the profile turned by the start and
// end angles; the 360 rule for the closed flag; arc layout and partial-arc weight; the inputs are
// left bit-identical; the frame tools.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "bspline/nubs.h"
#include "bspline/srfclone.h"
#include "construct/srfrevol.h"
#include "foundation/vec3.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class RevolveTest : public KernelTest {};

constexpr double kPi = 3.141592653589793;

// Height along the unit axis a through p0, distance from it, and the angle about it measured
// from the reference direction e1 towards e2 = a x e1.
struct Cylindrical {
  double h, r, angle;
};

Cylindrical ToAxis(const double p[3], const double p0[3], const double a[3], const double e1[3]) {
  double d[3] = {p[0] - p0[0], p[1] - p0[1], p[2] - p0[2]}, e2[3];
  VecCrossProd3(a, e1, e2);
  const double h = VecDotProd3(d, a);
  for (int k = 0; k < 3; ++k) d[k] -= h * a[k];
  return {h, VecSize3(d), std::atan2(VecDotProd3(d, e2), VecDotProd3(d, e1))};
}

double Turn(double from, double to) {  // counter-clockwise angle from `from` to `to`, in [0, 2 pi)
  double t = std::fmod(to - from, 2 * kPi);
  return t < 0 ? t + 2 * kPi : t;
}

TEST_F(RevolveTest, PointsKeepHeightAndRadiusAndTurnWithinTheSweepAtAnyScale) {
  struct Sweep {
    double start, end, turn;  // turn: the sweep in degrees
  };
  const Sweep sweeps[] = {{0, 360, 360}, {0, 100, 100}, {270, 90, 180}, {30, 30, 360},
                          {-45, 200.5, 245.5}, {10, 55, 45}, {0, 720, 360}};
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (double scale : {1e-6, 1.0, 1e6}) {
    for (int rational = 0; rational < 2; ++rational) {
      BsplineKeeper keep;
      Bspline* profile = keep(BuildRandomCurve(11 + rational, 3, 6, 3, rational));
      for (int i = 0; i < 6; ++i) {
        profile->X[0][i] = (profile->X[0][i] + 3.0) * scale;
        profile->Y[0][i] *= scale;
        profile->Z[0][i] *= scale;
      }
      double p0[3] = {0.3 * scale, -0.2 * scale, 0.1 * scale}, p1[3] = {0.5 * scale, 0.4 * scale, 1.1 * scale};
      const double ax[3] = {p1[0] - p0[0], p1[1] - p0[1], p1[2] - p0[2]};
      double a[3], e1[3], e2[3];
      VecNormalize3(ax, a);
      PerpVecs(a, e1, e2);
      for (const Sweep& sw : sweeps) {
        Bspline* s = keep(RevolveCurveGeometry(profile, p0, p1, sw.start, sw.end));
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->closedU, sw.turn == 360 ? 1 : 0) << sw.start << " " << sw.end;
        for (int trial = 0; trial < 40; ++trial) {
          const double fu = unit(rng), v = profile->umin + unit(rng) * (profile->umax - profile->umin);
          double q[3], c[3];
          Eval3DPointOnSurfArray(s, s->umin + fu * (s->umax - s->umin), v, 0, 0, q);
          Eval3DPointOnCurve3Array(profile, v, 0, c);
          const Cylindrical cq = ToAxis(q, p0, a, e1), cc = ToAxis(c, p0, a, e1);
          EXPECT_NEAR(cq.h, cc.h, 1e-12 * scale);
          EXPECT_NEAR(cq.r, cc.r, 1e-12 * scale);
          // The point lies on the swept part of its circle.
          const double fromStart = Turn(cc.angle + sw.start * kPi / 180, cq.angle);
          EXPECT_TRUE(fromStart <= sw.turn * kPi / 180 + 1e-9 || fromStart > 2 * kPi - 1e-9)
              << sw.start << " " << sw.end << " " << fromStart;
        }
        // The first and last columns are the profile turned by the start and end angles.
        for (int end = 0; end < 2; ++end) {
          const double v = profile->umin + 0.37 * (profile->umax - profile->umin);
          double q[3], c[3];
          Eval3DPointOnSurfArray(s, end ? s->umax : s->umin, v, 0, 0, q);
          Eval3DPointOnCurve3Array(profile, v, 0, c);
          const Cylindrical cq = ToAxis(q, p0, a, e1), cc = ToAxis(c, p0, a, e1);
          const double want = (end ? sw.start + sw.turn : sw.start) * kPi / 180;
          const double off = Turn(cc.angle + want, cq.angle);
          EXPECT_LT(std::fmin(off, 2 * kPi - off), 1e-9) << sw.start << " " << sw.end << " " << end;
        }
      }
    }
  }
}

TEST_F(RevolveTest, ArcLayoutAndTheClosedFlag) {
  BsplineKeeper keep;
  // A straight profile parallel to the z axis at radius 1: both directions have control nets of
  // similar speed, but the knot checks below are on knots normalised to [0, 1] anyway.
  Bspline* profile = keep(BuildCurve(1, 3, {1, 0, 0, 1, 0, 1}));
  double p0[3] = {0, 0, 0}, p1[3] = {0, 0, 1};
  auto normalised = [](const Bspline* s) {
    std::vector<double> k(s->knotsU, s->knotsU + NumKnotsU(s));
    for (double& x : k) x = (x - k.front()) / (k.back() - k.front());
    return k;
  };
  Bspline* full = keep(RevolveCurveGeometry(profile, p0, p1, 0, 360));
  ASSERT_NE(full, nullptr);
  const std::vector<double> fullKnots = {0, 0, 0, .25, .25, .5, .5, .75, .75, 1, 1, 1};
  const std::vector<double> got = normalised(full);
  ASSERT_EQ(got.size(), fullKnots.size());
  for (size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], fullKnots[i], 1e-15);
  EXPECT_EQ(full->closedU, 1);
  EXPECT_EQ(full->degreeU, 2);

  Bspline* part = keep(RevolveCurveGeometry(profile, p0, p1, 0, 100));
  ASSERT_NE(part, nullptr);
  const std::vector<double> partKnots = {0, 0, 0, .9, .9, 1, 1, 1}, gp = normalised(part);
  ASSERT_EQ(gp.size(), partKnots.size());
  for (size_t i = 0; i < gp.size(); ++i) EXPECT_NEAR(gp[i], partKnots[i], 1e-15);
  EXPECT_EQ(part->closedU, 0);
  for (int j = 0; j < 2; ++j) {
    EXPECT_NEAR(part->W[j][1] / part->W[j][0], std::sqrt(0.5), 1e-15);
    EXPECT_NEAR(part->W[j][3] / part->W[j][0], std::cos(5 * kPi / 180), 1e-12);
  }

  // The 360 rule: closed exactly when the angles reduced modulo 360 meet after a whole turn.
  struct Case {
    double start, end;
    int closed, nCtrl;
  };
  for (const Case& c : {Case{10, 10, 1, 9}, Case{-30, 330, 1, 9}, Case{0, 359.99, 0, 9},
                        Case{0, 180.00005, 0, 5}, Case{90, 0, 0, 7}, Case{0, 1000, 1, 9}}) {
    Bspline* s = keep(RevolveCurveGeometry(profile, p0, p1, c.start, c.end));
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->closedU, c.closed) << c.start << " " << c.end;
    EXPECT_EQ(NumCtrlU(s), c.nCtrl) << c.start << " " << c.end;
  }
  // Coincident axis points give the z direction through them.
  Bspline* aboutZ = keep(RevolveCurveGeometry(profile, p0, p0, 0, 90));
  ASSERT_NE(aboutZ, nullptr);
  EXPECT_NEAR(aboutZ->Y[0][2], 1.0, 1e-15);
  // No arc at all: refused rather than a net of one column.
  EXPECT_EQ(RevolveCurveGeometry(profile, p0, p1, 0, 0.00001), nullptr);
  EXPECT_EQ(RevolveCurveGeometry(profile, p0, p1, 0, NAN), nullptr);
}

TEST_F(RevolveTest, InputsStayBitIdenticalAndAxisPointsCollapseTheirRows) {
  BsplineKeeper keep;
  // The second control point lies on the axis through p0 and p1.
  Bspline* profile = keep(BuildCurve(2, 3, {2, 1, 0, 1, 2, 3, 0, 5, 1}));
  double p0[3] = {1, 2, -1}, p1[3] = {1, 2, 7};
  Bspline* before = keep(CopyBsplineStruct(profile));
  const double q0[3] = {p0[0], p0[1], p0[2]}, q1[3] = {p1[0], p1[1], p1[2]};
  Bspline* s = keep(RevolveCurveGeometry(profile, p0, p1, 20, 250));
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(std::memcmp(p0, q0, sizeof q0), 0);
  EXPECT_EQ(std::memcmp(p1, q1, sizeof q1), 0);
  EXPECT_EQ(profile->rational, 0);
  EXPECT_EQ(std::memcmp(profile->X[0], before->X[0], 3 * sizeof(double)), 0);
  EXPECT_EQ(std::memcmp(profile->Y[0], before->Y[0], 3 * sizeof(double)), 0);
  EXPECT_EQ(std::memcmp(profile->Z[0], before->Z[0], 3 * sizeof(double)), 0);
  EXPECT_EQ(std::memcmp(profile->knotsU, before->knotsU, NumKnotsU(before) * sizeof(double)), 0);
  for (int i = 0; i < NumCtrlU(s); ++i) {
    EXPECT_NEAR(s->X[1][i], 1.0, 1e-14);
    EXPECT_NEAR(s->Y[1][i], 2.0, 1e-14);
    EXPECT_NEAR(s->Z[1][i], 3.0, 1e-14);
  }
  EXPECT_NEAR(s->W[1][1], std::sqrt(0.5), 1e-15);
  EXPECT_EQ(s->W[1][2], 1.0);

  EXPECT_GT(RunMakerWithInjectedFailures(60, 1,
                                         [&](Bspline** out) {
                                           *out = RevolveCurveGeometry(profile, p0, p1, 0, 300);
                                           return *out ? 0 : -1;
                                         }),
            0);
}

// The profile in the axis frame is the profile moved rigidly: the axis start at the origin, the
// axis along +z, every control point keeping its height along and distance from the axis; the
// copy is rational with the profile's weights (1 where it had none).
TEST_F(RevolveTest, ProfileInTheAxisFrameKeepsHeightsAndRadii) {
  BsplineKeeper keep;
  double p0[3] = {1, 2, 3}, p1[3] = {3, -1, 9};
  const double axis[3] = {p1[0] - p0[0], p1[1] - p0[1], p1[2] - p0[2]};
  const double len = std::sqrt(axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2]);
  for (bool rational : {false, true}) {
    Bspline* profile = keep(BuildRandomCurve(40, 3, 6, 3, rational));
    Bspline* before = keep(CopyBsplineStruct(profile));
    double M[16];
    Bspline* c = keep(SrfRevolArbitAxCurveGeometry(profile, p0, p1, M));
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(c->rational, 1);
    double o[3], e[3];
    VecTrans3(p0, M, o);
    VecTrans3(p1, M, e);
    EXPECT_LT(std::fabs(o[0]) + std::fabs(o[1]) + std::fabs(o[2]), 1e-14);
    EXPECT_NEAR(e[2], len, 1e-13);
    EXPECT_LT(std::hypot(e[0], e[1]), 1e-13);
    for (int i = 0; i < 6; ++i) {
      const double d[3] = {profile->X[0][i] - p0[0], profile->Y[0][i] - p0[1],
                           profile->Z[0][i] - p0[2]};
      const double h = (d[0] * axis[0] + d[1] * axis[1] + d[2] * axis[2]) / len;
      const double r = std::sqrt(std::max(0.0, d[0] * d[0] + d[1] * d[1] + d[2] * d[2] - h * h));
      const double w = rational ? profile->W[0][i] : 1.0;
      EXPECT_EQ(c->W[0][i], w) << i;
      if (!rational) {
        EXPECT_NEAR(c->Z[0][i], h, 1e-13) << i;
        EXPECT_NEAR(std::hypot(c->X[0][i], c->Y[0][i]), r, 1e-13) << i;
      }
      EXPECT_EQ(profile->X[0][i], before->X[0][i]);
    }
  }
}

TEST_F(RevolveTest, FrameTools) {
  double M[16], x[3] = {1, 0, 0}, p[3];
  RotToPosY(x, M);
  VecTrans3(x, M, p);
  EXPECT_NEAR(p[0], 0.0, 1e-15);
  EXPECT_NEAR(p[1], 1.0, 1e-15);
  double d[3] = {-3, 4, 7}, q[3];
  RotToPosY(d, M);
  VecTrans3(d, M, q);
  EXPECT_NEAR(q[0], 0.0, 1e-15);
  EXPECT_NEAR(q[1], 5.0, 1e-15);
  EXPECT_EQ(q[2], 7.0);
  double up[3] = {0, 0, 1};
  RotToPosY(up, M);
  EXPECT_EQ(not_identity_xform(M), 0);

  // The tangents at a and b of the circle of radius 2 meet at the corner of the square.
  double a[3] = {2, 0, 5}, b[3] = {0, 2, 9}, out[3];
  ASSERT_EQ(FindPtAtIntrscnOf2Tan(2, a, b, out), 0);
  EXPECT_NEAR(out[0], 2.0, 1e-15);
  EXPECT_NEAR(out[1], 2.0, 1e-15);
  EXPECT_EQ(out[2], 5.0);
  double c[3] = {-2, 0, 0};  // opposite points: parallel tangents
  EXPECT_EQ(FindPtAtIntrscnOf2Tan(2, a, c, out), -2);
}

}  // namespace
