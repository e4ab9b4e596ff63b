// Refinement at the seam of a joined object: the rows next to a knot of full multiplicity move
// so that the one-sided derivatives agree, the change of a moved row spreads over a range, and
// the cross-seam derivative of one side is scaled.
#include <cmath>
#include <random>
#include <vector>

#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "stitch/srfstitc.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class SeamRefineTest : public KernelTest {};

constexpr double kSeam = 0.5;
constexpr double kSide = 1e-9;  // one-sided evaluation: just inside each polynomial span

StitchInfo Info(int continuity, int derivativeSide) {
  StitchInfo s{};
  s.continuity = continuity;
  s.derivativeSide = derivativeSide;
  s.derivScale1 = s.derivScale2 = s.vcnWeight = 1.0;
  return s;
}

std::vector<double> RandomValues(unsigned seed, size_t n, double lo, double hi) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> d(lo, hi);
  std::vector<double> v(n);
  for (double& x : v) x = d(gen);
  return v;
}

// Knots of degree p on [0, 1] with the seam at 0.5 of multiplicity p (a joined object) and
// uneven neighbours, so the spans on both sides differ.
std::vector<double> SeamKnots(int p) {
  std::vector<double> k(p + 1, 0.0);
  for (double x : {0.15, 0.32}) k.push_back(x);
  for (int i = 0; i < p; ++i) k.push_back(kSeam);
  for (double x : {0.61, 0.83}) k.push_back(x);
  for (int i = 0; i <= p; ++i) k.push_back(1.0);
  return k;
}

Bspline* SeamCurve(unsigned seed, int p, bool rational, double scale = 1.0) {
  const std::vector<double> knots = SeamKnots(p);
  const size_t n = knots.size() - p - 1;
  std::vector<double> pts = RandomValues(seed, 3 * n, -scale, scale);
  return BuildCurve(p, 3, pts, knots, rational ? RandomValues(seed + 7, n, 0.5, 2.0) : std::vector<double>{});
}

// Largest difference of the derivatives of orders 1..c taken from either side of the seam,
// relative to their size.
double SeamJump(const Bspline* obj, int c, double v = 0.0, bool inU = true) {
  double worst = 0.0;
  for (int o = 1; o <= c; ++o) {
    double L[3], R[3];
    if (inU) {
      RefEvalDeriv(obj, kSeam - kSide, v, o, 0, L);
      RefEvalDeriv(obj, kSeam + kSide, v, o, 0, R);
    } else {
      RefEvalDeriv(obj, v, kSeam - kSide, 0, o, L);
      RefEvalDeriv(obj, v, kSeam + kSide, 0, o, R);
    }
    const double size = std::fmax(std::hypot(L[0], L[1], L[2]), std::hypot(R[0], R[1], R[2]));
    worst = std::fmax(worst, std::hypot(L[0] - R[0], L[1] - R[1], L[2] - R[2]) / size);
  }
  return worst;
}

std::vector<double> Coefs(const Bspline* c) {
  const int n = NumCtrlU(c) * (c->kind == 2 ? NumCtrlV(c) : 1);
  std::vector<double> v;
  for (double** m : {c->X, c->Y, c->Z}) v.insert(v.end(), m[0], m[0] + n);
  if (c->rational) v.insert(v.end(), c->W[0], c->W[0] + n);
  return v;
}

// Tangent and curvature continuity from either side or both, plain and rational: the
// one-sided derivatives agree at the seam, the point on it stays, and a side that is not to
// move keeps its control points. Holds alike at 1e-6 and 1e6.
TEST_F(SeamRefineTest, OneSidedDerivativesAgreeAtTheSeam) {
  BsplineKeeper keep;
  for (double scale : {1e-6, 1.0, 1e6})
    for (bool rational : {false, true})
      for (int c : {1, 2})
        for (int m : {0, 1, 2}) {
          SCOPED_TRACE(testing::Message() << "scale " << scale << " rational " << rational << " c " << c
                                          << " side " << m);
          Bspline* obj = keep(SeamCurve(11 + c + 3 * m, 3, rational, scale));
          ASSERT_NE(obj, nullptr);
          ASSERT_GT(SeamJump(obj, 1), 1e-3);  // a kink to begin with
          const std::vector<double> before = Coefs(obj);
          double P0[3], P1[3];
          RefEvalCurve(obj, kSeam, P0);
          StitchInfo info = Info(c, m);
          RefineObjStitch(obj, kSeam, 0, &info);
          EXPECT_EQ(info.continuity, c);
          EXPECT_LT(SeamJump(obj, c), 1e-6);
          RefEvalCurve(obj, kSeam, P1);
          EXPECT_LT(std::hypot(P1[0] - P0[0], P1[1] - P0[1], P1[2] - P0[2]), 1e-12 * scale);
          // The seam point is control 5 (knots 4..6 hold the seam); side 0 moves only those
          // before it, side 1 only those after.
          const std::vector<double> after = Coefs(obj);
          const int n = NumCtrlU(obj);
          for (size_t i = 0; i < after.size(); ++i) {
            const int idx = static_cast<int>(i) % n;
            const bool stays = (m == 0 && idx >= 5) || (m == 1 && idx <= 5) ||
                               (m == 2 && (idx < 5 - c || idx > 5 + c));
            if (stays) {
              EXPECT_EQ(after[i], before[i]) << "coefficient " << i;
            }
          }
        }
}

// Degree 1 cannot be curvature continuous: the record drops to tangent continuity and the
// object is refined for that; continuity 0 changes nothing; collinear lines of equal parametric
// speed are already tangent continuous and stay where they are.
TEST_F(SeamRefineTest, ContinuityFollowsTheDegree) {
  BsplineKeeper keep;
  Bspline* line = keep(SeamCurve(3, 1, false));
  ASSERT_NE(line, nullptr);
  StitchInfo info = Info(2, 2);
  RefineObjStitch(line, kSeam, 0, &info);
  EXPECT_EQ(info.continuity, 1);
  EXPECT_LT(SeamJump(line, 1), 1e-9);

  Bspline* cubic = keep(SeamCurve(4, 3, true));
  ASSERT_NE(cubic, nullptr);
  const std::vector<double> before = Coefs(cubic);
  info = Info(0, 2);
  RefineObjStitch(cubic, kSeam, 0, &info);
  EXPECT_EQ(Coefs(cubic), before);

  // x = 2 t on uniform spans: the seam needs no change.
  Bspline* straight = keep(BuildCurve(1, 3, {0, 0, 0, 0.5, 0, 0, 1, 0, 0, 1.5, 0, 0, 2, 0, 0},
                                      {0, 0, 0.25, 0.5, 0.75, 1, 1}));
  ASSERT_NE(straight, nullptr);
  const std::vector<double> flat = Coefs(straight);
  info = Info(1, 1);
  RefineObjStitch(straight, kSeam, 0, &info);
  EXPECT_EQ(Coefs(straight), flat);
}

// A surface joined in u (seam along v) or in v: every control line across the seam is
// refined, so the cross derivatives agree all along it.
TEST_F(SeamRefineTest, SurfacesAgreeAcrossTheWholeSeam) {
  BsplineKeeper keep;
  const std::vector<double> seam = SeamKnots(3);
  const std::vector<double> plain = ClampedKnots(2, 4);
  for (int along : {1, 0})
    for (int c : {1, 2}) {
      SCOPED_TRACE(testing::Message() << "along " << along << " c " << c);
      const bool inU = along != 0;
      const int nu = inU ? static_cast<int>(seam.size()) - 4 : 4;
      const int nv = inU ? 4 : static_cast<int>(seam.size()) - 4;
      Bspline* s = keep(BuildSurface(inU ? 3 : 2, inU ? 2 : 3, nu, nv,
                                     RandomValues(20 + c + along, 3 * nu * nv, -1, 1),
                                     inU ? seam : plain, inU ? plain : seam,
                                     RandomValues(30 + c, nu * nv, 0.5, 2.0)));
      ASSERT_NE(s, nullptr);
      StitchInfo info = Info(c, 2);
      RefineObjStitch(s, kSeam, along, &info);
      for (double w : {0.0, 0.3, 0.77, 1.0}) EXPECT_LT(SeamJump(s, c, w, inU), 1e-6) << "at " << w;
    }
}

// A seam knot above the degree leaves no equation to solve: the object stays as it was.
TEST_F(SeamRefineTest, BrokenSeamIsLeftAlone) {
  BsplineKeeper keep;
  std::vector<double> knots = SeamKnots(3);
  knots.insert(knots.begin() + 6, kSeam);  // multiplicity 4
  for (int c : {1, 2})
    for (int m : {0, 1, 2}) {
      Bspline* obj = keep(BuildCurve(3, 3, RandomValues(5, 3 * (knots.size() - 4), -1, 1), knots));
      ASSERT_NE(obj, nullptr);
      const std::vector<double> before = Coefs(obj);
      StitchInfo info = Info(c, m);
      RefineObjStitch(obj, kSeam, 0, &info);
      EXPECT_EQ(Coefs(obj), before) << "c " << c << " side " << m;
    }
}

// Order 1 scales the one-sided cross derivative by the factor and leaves the other side;
// factors 1 and 0, the side before the object's start, and a span interior change nothing; an
// order-2 line whose denominator vanishes stays as it was.
TEST_F(SeamRefineTest, DerivativeScaling) {
  BsplineKeeper keep;
  for (int before : {0, 1})
    for (double factor : {0.25, 3.0}) {
      Bspline* obj = keep(SeamCurve(8, 3, false));
      ASSERT_NE(obj, nullptr);
      double L0[3], R0[3], L1[3], R1[3];
      RefEvalDeriv(obj, kSeam - kSide, 0, 1, 0, L0);
      RefEvalDeriv(obj, kSeam + kSide, 0, 1, 0, R0);
      ScaleObjectDerivative(obj, kSeam, 0, factor, before, 1);
      RefEvalDeriv(obj, kSeam - kSide, 0, 1, 0, L1);
      RefEvalDeriv(obj, kSeam + kSide, 0, 1, 0, R1);
      for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(L1[i], before ? factor * L0[i] : L0[i], 1e-6 * (1 + std::fabs(L0[i])));
        EXPECT_NEAR(R1[i], before ? R0[i] : factor * R0[i], 1e-6 * (1 + std::fabs(R0[i])));
      }
    }

  Bspline* obj = keep(SeamCurve(9, 3, true));
  ASSERT_NE(obj, nullptr);
  const std::vector<double> orig = Coefs(obj);
  for (int order : {1, 2})
    for (int before : {0, 1}) {
      ScaleObjectDerivative(obj, kSeam, 0, 1.0, before, order);
      ScaleObjectDerivative(obj, kSeam, 0, 0.0, before, order);
      ScaleObjectDerivative(obj, 0.4, 0, 2.0, before, order);  // inside a span
      ScaleObjectDerivative(obj, 0.0, 0, 2.0, before, order);  // the start: no rows before it
    }
  EXPECT_EQ(Coefs(obj), orig);

  // Equal spans after the seam (a = b) and x = 0, 1, 0 from the seam point (control 3) on:
  // a (P2 - P1)^2 = b (P1 - P0)^2.
  Bspline* hump = keep(BuildCurve(
      2, 3, {3, 0, 0, 2, 1, 0, 1, 2, 0, 0, 3, 0, 1, 4, 0, 0, 5, 0, 2, 6, 0, 3, 7, 0},
      {0, 0, 0, 0.25, 0.5, 0.5, 0.75, 0.75, 1, 1, 1}));
  ASSERT_NE(hump, nullptr);
  const std::vector<double> humpCoefs = Coefs(hump);
  ScaleObjectDerivative(hump, kSeam, 0, 2.0, 0, 2);
  EXPECT_EQ(Coefs(hump), humpCoefs);
}

// The change of the row at distance `continuity` from the seam spreads back over the range
// and falls to nothing at its far end; no record, cleared flags or a range too short change
// nothing.
TEST_F(SeamRefineTest, SpreadFallsOffOverTheRange) {
  BsplineKeeper keep;
  Bspline* obj = keep(SeamCurve(12, 3, false));
  ASSERT_NE(obj, nullptr);
  StitchInfo info = Info(1, 0);
  const std::vector<double> orig = Coefs(obj);
  double saved[3] = {obj->X[0][4], obj->Y[0][4], obj->Z[0][4]};
  SpreadRecord spread{1, 0, 0, 0, saved};
  ExtendEffectOfStitch(obj, 0, kSeam, &info, nullptr);
  obj->X[0][4] += 1.0;  // the refinement moved the row before the seam
  const std::vector<double> moved = Coefs(obj);
  spread.spread1 = 0;
  ExtendEffectOfStitch(obj, 0, kSeam, &info, &spread);
  spread.spread1 = 1;
  spread.spreadIndex1 = 3;  // next to the moved row: nothing between
  ExtendEffectOfStitch(obj, 0, kSeam, &info, &spread);
  EXPECT_EQ(Coefs(obj), moved);

  spread.spreadIndex1 = 0;
  ExtendEffectOfStitch(obj, 0, kSeam, &info, &spread);
  const int n = NumCtrlU(obj);
  EXPECT_EQ(obj->X[0][0], orig[0]);
  EXPECT_EQ(obj->X[0][4], orig[4] + 1.0);
  double last = 0.0;
  for (int i = 1; i < 4; ++i) {
    const double d = obj->X[0][i] - orig[i];
    EXPECT_GT(d, last);
    EXPECT_LT(d, 1.0);
    last = d;
    EXPECT_EQ(obj->Y[0][i], orig[n + i]);
  }
  for (int i = 5; i < n; ++i) EXPECT_EQ(obj->X[0][i], orig[i]);
}

}  // namespace
