// Refinement at the seam of a joined object: one-sided derivatives agree after it, a moved
// row's change spreads over a range, and one side's cross derivative is scaled.
#include <cmath>
#include <random>
#include <vector>

#include "stitch/srfstitc.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class SeamRefineTest : public KernelTest {};

constexpr double kSeam = 0.5, kSide = 1e-9;  // one-sided: just inside each polynomial span

std::vector<double> Random(unsigned seed, size_t n, double lo, double hi) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> d(lo, hi);
  std::vector<double> v(n);
  for (double& x : v) x = d(gen);
  return v;
}

// Degree p on [0, 1], the seam at 0.5 with multiplicity p (control p + 2) and uneven spans.
std::vector<double> SeamKnots(int p, int extra = 0) {
  std::vector<double> k(p + 1, 0.0);
  k.insert(k.end(), {0.15, 0.32});
  k.insert(k.end(), p + extra, kSeam);
  k.insert(k.end(), {0.61, 0.83});
  k.insert(k.end(), p + 1, 1.0);
  return k;
}

Bspline* SeamCurve(unsigned seed, int p, bool rational, double scale = 1.0, int extra = 0) {
  const std::vector<double> k = SeamKnots(p, extra);
  const size_t n = k.size() - p - 1;
  return BuildCurve(p, 3, Random(seed, 3 * n, -scale, scale), k,
                    rational ? Random(seed + 7, n, 0.5, 2.0) : std::vector<double>{});
}

// Largest relative jump of the derivatives of orders 1..c across the seam (u: in u at v = w).
double SeamJump(const Bspline* obj, int c, double w = 0.0, bool inU = true) {
  double worst = 0.0;
  for (int o = 1; o <= c; ++o) {
    double L[3], R[3];
    RefEvalDeriv(obj, inU ? kSeam - kSide : w, inU ? w : kSeam - kSide, inU ? o : 0, inU ? 0 : o,
                 L);
    RefEvalDeriv(obj, inU ? kSeam + kSide : w, inU ? w : kSeam + kSide, inU ? o : 0, inU ? 0 : o,
                 R);
    const double size = std::fmax(std::hypot(L[0], L[1], L[2]), std::hypot(R[0], R[1], R[2]));
    worst = std::fmax(worst, std::hypot(L[0] - R[0], L[1] - R[1], L[2] - R[2]) / size);
  }
  return worst;
}

std::vector<double> Coefs(const Bspline* c) {
  const int n = NumCtrlU(c) * (c->kind == 2 ? NumCtrlV(c) : 1);
  std::vector<double> v;
  for (double** m : {c->X, c->Y, c->Z, c->W})
    if (m != c->W || c->rational) v.insert(v.end(), m[0], m[0] + n);
  return v;
}

StitchInfo Info(int c, int side) {
  StitchInfo s{};
  s.continuity = c, s.derivativeSide = side;
  return s;
}

// Curves plain and rational at 1e-6..1e6, and surfaces joined in u or v: after the refinement
// the one-sided derivatives agree on the whole seam, and the side that is not to move keeps
// every bit of its control points.
TEST_F(SeamRefineTest, OneSidedDerivativesAgreeAtTheSeam) {
  BsplineKeeper keep;
  for (double scale : {1e-6, 1.0, 1e6})
    for (int c : {1, 2})
      for (int m : {0, 1, 2}) {
        const bool rational = m != 1;
        SCOPED_TRACE(testing::Message() << "scale " << scale << " c " << c << " side " << m);
        Bspline* obj = keep(SeamCurve(11 + c + 3 * m, 3, rational, scale));
        ASSERT_NE(obj, nullptr);
        ASSERT_GT(SeamJump(obj, 1), 1e-3);
        const std::vector<double> before = Coefs(obj);
        StitchInfo info = Info(c, m);
        RefineObjStitch(obj, kSeam, 0, &info);
        EXPECT_LT(SeamJump(obj, c), 1e-6);
        const std::vector<double> after = Coefs(obj);
        for (size_t i = 0; i < after.size(); ++i) {
          const int d = static_cast<int>(i % NumCtrlU(obj)) - 5;  // from the seam point
          if (m == 2 ? d == 0 || std::abs(d) > 1 : m == 0 ? d >= 0 : d <= 0) {
            EXPECT_EQ(after[i], before[i]) << i;
          }
        }
      }
  const std::vector<double> seam = SeamKnots(3), plain = ClampedKnots(2, 4);
  const int n = static_cast<int>(seam.size()) - 4;
  for (int along : {1, 0})
    for (int c : {1, 2}) {
      const bool inU = along != 0;
      Bspline* s = keep(BuildSurface(inU ? 3 : 2, inU ? 2 : 3, inU ? n : 4, inU ? 4 : n,
                                     Random(20 + c + along, 12 * n, -1, 1), inU ? seam : plain,
                                     inU ? plain : seam, Random(30 + c, 4 * n, 0.5, 2.0)));
      ASSERT_NE(s, nullptr);
      StitchInfo info = Info(c, 2);
      RefineObjStitch(s, kSeam, along, &info);
      for (double w : {0.0, 0.3, 1.0}) EXPECT_LT(SeamJump(s, c, w, inU), 1e-6) << along << c << w;
    }
}

// Degree 1 asked for curvature gets tangent continuity, and the record says so; continuity 0
// and a seam knot above the degree (a zero span divides) change nothing, nor does a line whose
// moved weight would vanish.
TEST_F(SeamRefineTest, ContinuityFollowsTheDegree) {
  BsplineKeeper keep;
  Bspline* line = keep(SeamCurve(3, 1, false));
  ASSERT_NE(line, nullptr);
  StitchInfo info = Info(2, 2);
  RefineObjStitch(line, kSeam, 0, &info);
  EXPECT_EQ(info.continuity, 1);
  EXPECT_LT(SeamJump(line, 1), 1e-9);

  Bspline* broken = keep(SeamCurve(4, 3, true, 1.0, 1));
  ASSERT_NE(broken, nullptr);
  const std::vector<double> before = Coefs(broken);
  for (int c : {0, 1, 2})
    for (int m : {0, 1, 2}) {
      info = Info(c, m);
      RefineObjStitch(broken, kSeam, 0, &info);
    }
  EXPECT_EQ(Coefs(broken), before);

  // Equal spans and weights 2, 1 up to the seam: the tangent condition wants weight 0 after it.
  Bspline* pole = keep(BuildCurve(1, 3, Random(6, 15, -1, 1), {0, 0, 0.25, 0.5, 0.75, 1, 1},
                                  {1, 2, 1, 1, 1}));
  ASSERT_NE(pole, nullptr);
  const std::vector<double> poleCoefs = Coefs(pole);
  info = Info(1, 1);
  RefineObjStitch(pole, kSeam, 0, &info);
  EXPECT_EQ(Coefs(pole), poleCoefs);
}

// Order 1 scales one side's derivative by the factor and leaves the other; factors 1 and 0, a
// span interior and the side before the start change nothing, nor does an order-2 line whose
// denominator a (P2 - P1)^2 - b (P1 - P0)^2 vanishes (equal spans, x = 0, 1, 0 from control 3).
TEST_F(SeamRefineTest, DerivativeScaling) {
  BsplineKeeper keep;
  for (int before : {0, 1}) {
    Bspline* obj = keep(SeamCurve(8, 3, false));
    ASSERT_NE(obj, nullptr);
    double L0[3], R0[3], L1[3], R1[3];
    RefEvalDeriv(obj, kSeam - kSide, 0, 1, 0, L0);
    RefEvalDeriv(obj, kSeam + kSide, 0, 1, 0, R0);
    ScaleObjectDerivative(obj, kSeam, 0, 3.0, before, 1);
    RefEvalDeriv(obj, kSeam - kSide, 0, 1, 0, L1);
    RefEvalDeriv(obj, kSeam + kSide, 0, 1, 0, R1);
    for (int i = 0; i < 3; ++i) {
      EXPECT_NEAR(L1[i], (before ? 3 : 1) * L0[i], 1e-6 * (1 + std::fabs(L0[i])));
      EXPECT_NEAR(R1[i], (before ? 1 : 3) * R0[i], 1e-6 * (1 + std::fabs(R0[i])));
    }
  }
  Bspline* obj = keep(SeamCurve(9, 3, true));
  Bspline* hump = keep(
      BuildCurve(2, 3, {3, 0, 0, 2, 1, 0, 1, 2, 0, 0, 3, 0, 1, 4, 0, 0, 5, 0, 2, 6, 0, 3, 7, 0},
                 {0, 0, 0, 0.25, 0.5, 0.5, 0.75, 0.75, 1, 1, 1}));
  ASSERT_TRUE(obj && hump);
  const std::vector<double> orig = Coefs(obj), humpCoefs = Coefs(hump);
  for (int order : {1, 2})
    for (int before : {0, 1})
      for (auto [t, f] : {std::pair{kSeam, 1.0}, {kSeam, 0.0}, {0.4, 2.0}, {0.0, 2.0}})
        ScaleObjectDerivative(obj, t, 0, f, before, order);
  EXPECT_EQ(Coefs(obj), orig);
  ScaleObjectDerivative(hump, kSeam, 0, 2.0, 0, 2);
  EXPECT_EQ(Coefs(hump), humpCoefs);
}

// Scaling the second derivative is a matter of shape alone: the same curve made 0.01 .. 1e6 times
// as large and moved 1e4 sizes away is scaled into the same curve made as large and moved.
TEST_F(SeamRefineTest, SecondDerivativeScalingIsFreeOfSizeAndPlace) {
  BsplineKeeper keep;
  Bspline* unit = keep(SeamCurve(8, 3, false));
  ASSERT_NE(unit, nullptr);
  const std::vector<double> orig = Coefs(unit);
  ScaleObjectDerivative(unit, kSeam, 0, 2.0, 0, 2);
  const std::vector<double> scaled = Coefs(unit);
  ASSERT_NE(scaled, orig);
  for (double size : {1e-6, 0.01, 0.1, 1e6})
    for (double far : {0.0, 1e4}) {
      SCOPED_TRACE(testing::Message() << "size " << size << " far " << far);
      Bspline* obj = keep(SeamCurve(8, 3, false));
      ASSERT_NE(obj, nullptr);
      for (double** m : {obj->X, obj->Y, obj->Z})
        for (int i = 0; i < NumCtrlU(obj); ++i) m[0][i] = (m[0][i] + far) * size;
      ScaleObjectDerivative(obj, kSeam, 0, 2.0, 0, 2);
      const std::vector<double> got = Coefs(obj);
      for (size_t i = 0; i < got.size(); ++i)
        EXPECT_NEAR(got[i] / size - far, scaled[i], 1e-9 * (1.0 + far)) << "coefficient " << i;
    }
}

// The moved row's change falls off along the range to nothing at its far end; cleared flags
// or a range without a row inside change nothing.
TEST_F(SeamRefineTest, SpreadFallsOffOverTheRange) {
  BsplineKeeper keep;
  Bspline* obj = keep(SeamCurve(12, 3, false));
  ASSERT_NE(obj, nullptr);
  const std::vector<double> orig = Coefs(obj);
  double saved[3] = {obj->X[0][4], obj->Y[0][4], obj->Z[0][4]};
  obj->X[0][4] += 1.0;  // the refinement moved the row before the seam
  const std::vector<double> moved = Coefs(obj);
  const StitchInfo info = Info(1, 0);
  SpreadRecord spread{0, 0, 0, 0, saved};
  ExtendEffectOfStitch(obj, 0, kSeam, &info, &spread);
  spread = {1, 0, 3, 0, saved};
  ExtendEffectOfStitch(obj, 0, kSeam, &info, &spread);
  EXPECT_EQ(Coefs(obj), moved);
  spread.spreadIndex1 = 0;
  ExtendEffectOfStitch(obj, 0, kSeam, &info, &spread);
  for (int i = 1; i < 4; ++i) {
    EXPECT_GT(obj->X[0][i] - orig[i], obj->X[0][i - 1] - orig[i - 1]);
    EXPECT_LT(obj->X[0][i] - orig[i], 1.0);
  }
  EXPECT_EQ(obj->X[0][0], orig[0]);
  const int n = NumCtrlU(obj);
  EXPECT_EQ(std::vector<double>(obj->Y[0], obj->Y[0] + n),
            std::vector<double>(moved.begin() + n, moved.begin() + 2 * n));
}

}  // namespace
