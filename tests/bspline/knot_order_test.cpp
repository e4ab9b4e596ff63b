// Knot vectors that are not knot vectors (decreasing, not a number, too short) are refused where
// records enter and by every entry point that checks the whole record once per call, with the
// outputs and the record left as they were.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "bspline/bsvalid.h"
#include "bspline/ctrlnubs.h"
#include "bspline/degelev.h"
#include "bspline/kinsert.h"
#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "splinefit/intrplt.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class KnotOrder : public KernelTest {};

// A cubic with 5 control points: 9 knots, the decreasing one of the review among them.
const std::vector<double> kGood = {0, 0, 0, 0, 0.5, 1, 1, 1, 1};
const std::vector<std::vector<double>> kBad = {
    {0, 0, 0, 0, 2, 1, 1, 1, 1},              // decreasing inside
    {0, 0, 0, 0, std::nan(""), 1, 1, 1, 1},   // not a number
    {0, 0, 0, 0, 0.5, 0.5, 0.5, 0.5, 0.5},    // the domain's end repeated: a span of no length
};
const std::vector<double> kPts = {0, 0, 0, 1, 2, 0, 2, -1, 1, 3, 0, 2, 4, 1, 0};

// The knots bit for bit (a NaN knot compares equal to itself here).
std::vector<uint64_t> Knots(const Bspline* b) {
  std::vector<uint64_t> bits(b->interiorU + 8);
  std::memcpy(bits.data(), b->knotsU, bits.size() * sizeof(double));
  return bits;
}

TEST_F(KnotOrder, WholeRecordEntryPointsRefuseAndLeaveEverythingAsItWas) {
  for (size_t k = 0; k <= kBad.size(); ++k) {
    // Case kBad.size() is a knot vector too short for its degree: interior count -1.
    const bool tooShort = k == kBad.size();
    Bspline* c = BuildCurve(3, 3, kPts, tooShort ? kGood : kBad[k]);
    if (tooShort) c->interiorU = -1;
    const std::vector<uint64_t> before = Knots(c);

    // Curve evaluator over many points.
    double x[4] = {7, 7, 7, 7}, y[4] = {7, 7, 7, 7}, z[4] = {7, 7, 7, 7};
    EXPECT_EQ(Eval4DNpntsOnRCurve3Array(c, 0, 0, 4, x, y, z, nullptr), -2) << k;
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(x[i] == 7 && y[i] == 7 && z[i] == 7) << k;
    ClearKernelError();

    // Knot insertion and degree elevation: the error state set, the record untouched.
    double t = 0.25;
    InsertNKnotsToObject(1, 1, 0, c, 2, &t);
    EXPECT_TRUE(KernelFailed()) << k;
    ClearKernelError();
    IncrementDegreeOfObject(0, c);
    EXPECT_TRUE(KernelFailed()) << k;
    ClearKernelError();
    EXPECT_EQ(c->degreeU, 3);
    EXPECT_EQ(Knots(c), before);
    c->interiorU = 1;
    FreeBspline(c);

    // Grid evaluator of a surface with the bad vector in v.
    if (tooShort) continue;
    std::vector<double> net;
    for (int j = 0; j < 5; ++j)
      for (int i = 0; i < 4; ++i) net.insert(net.end(), {double(i), double(j), double(i * j % 3)});
    Bspline* s = BuildSurface(3, 3, 4, 5, net, ClampedKnots(3, 4), kBad[k]);
    const double us[2] = {0.2, 0.7}, vs[2] = {0.1, 0.9};
    double gx[4] = {7, 7, 7, 7}, gy[4] = {7, 7, 7, 7}, gz[4] = {7, 7, 7, 7};
    EXPECT_EQ(Eval3DGridOnBsplArray(s, us, 2, vs, 2, gx, gy, gz), -2) << k;
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(gx[i] == 7 && gy[i] == 7 && gz[i] == 7) << k;
    ClearKernelError();
    FreeBspline(s);
  }
}

TEST_F(KnotOrder, InterpolationRefusesGivenKnotsThatAreNotKnots) {
  // Four points through a cubic with given knots (m + 7 = 10 values for m = 3).
  for (const std::vector<double>& bad : {std::vector<double>{0, 0, 0, 0, 0.6, 0.3, 1, 1, 1, 1},
                                         std::vector<double>{0, 0, 0, 0, 0.3, std::nan(""), 1, 1, 1, 1}}) {
    double x[4] = {0, 1, 2, 3}, y[4] = {0, 1, 0, 1}, z[4] = {0, 0, 1, 1};
    std::vector<double> knots = bad;
    EXPECT_EQ(CurveIntrplt(x, y, z, 3, knots.data(), 3, 0), nullptr);
    EXPECT_EQ(x[3], 3.0);
    ClearKernelError();
  }
  // A record too short for its degree is never allocated.
  EXPECT_EQ(MallocCurveBspline(3, 3, 3), nullptr);
  EXPECT_TRUE(KernelFailed());
  ClearKernelError();
}

// The single-point evaluators check the knots each point's span reads: a decreasing or NaN knot
// there refuses the point (error set, output untouched) on every path: curves and their
// derivatives, the bicubic and the general surface, rational too, points, derivatives and
// derivative requests.
TEST_F(KnotOrder, SinglePointEvaluatorsRefuseASpanOfUnsortedKnots) {
  std::vector<double> net, weights;
  for (int j = 0; j < 5; ++j)
    for (int i = 0; i < 4; ++i) {
      net.insert(net.end(), {double(i), double(j), double(i * j % 3)});
      weights.push_back(1.0 + 0.1 * ((i + j) % 2));
    }
  auto refused = [](auto evaluate) {
    double out[3] = {7, 7, 7};
    evaluate(out);
    const bool untouched = out[0] == 7 && out[1] == 7 && out[2] == 7;
    const bool failed = KernelFailed();
    ClearKernelError();
    return untouched && failed;
  };
  for (size_t k = 0; k < 2; ++k) {  // the decreasing and the NaN vector
    Bspline* c = BuildCurve(3, 3, kPts, kBad[k]);
    for (double t : {0.0, 0.3, 1.0})
      for (int d = 0; d <= 2; ++d)
        EXPECT_TRUE(refused([&](double* out) { Eval3DPointOnCurve3Array(c, t, d, out); })) << k << " " << t;
    FreeBspline(c);
    for (bool rational : {false, true}) {
      Bspline* s = BuildSurface(3, 3, 4, 5, net, ClampedKnots(3, 4), kBad[k], rational ? weights : std::vector<double>{});
      for (int du = 0; du <= 1; ++du)
        for (int dv = 0; dv <= 1; ++dv)
          EXPECT_TRUE(refused([&](double* out) { Eval3DPointOnSurfArray(s, 0.4, 0.6, du, dv, out); }))
              << k << rational << du << dv;
      // The derivative-request form refuses with -2 and writes nothing.
      const int du[2] = {1, 1}, dv[2] = {0, 1};
      double req[2][3] = {{7, 7, 7}, {7, 7, 7}};
      EXPECT_EQ(EvalPointOnGeometryM(s, 0.4, 0.6, du, dv, 2, 0, req), -2) << k << rational;
      for (const auto& r : req) EXPECT_TRUE(r[0] == 7 && r[1] == 7 && r[2] == 7) << k << rational;
      FreeBspline(s);
    }
  }
  // The same net with sorted knots evaluates as before.
  Bspline* s = BuildSurface(3, 3, 4, 5, net, ClampedKnots(3, 4), kGood);
  double out[3];
  Eval3DPointOnSurfArray(s, 0.4, 0.6, 0, 0, out);
  EXPECT_FALSE(KernelFailed());
  FreeBspline(s);
}

// The knot check at every position: a value that is not finite anywhere (ends and inside), a
// knot below its predecessor anywhere, or p + 2 copies of an inside value makes the vector
// unsound, at every degree; the sound vectors, scaled and moved, stay sound.
TEST(KnotVectorCheck, EveryFaultAtEveryPositionIsFound) {
  const double notFinite[] = {std::nan(""), INFINITY, -INFINITY};
  for (int p = 1; p <= 4; ++p) {
    for (double scale : {1e-6, 1.0, 1e6}) {
      const int nCtrl = p + 4;
      std::vector<double> good;  // clamped, three interior knots, one of them double
      for (int i = 0; i <= p; ++i) good.push_back(0.0);
      for (double k : {0.25, 0.5, 0.5}) good.push_back(k);
      for (int i = 0; i <= p; ++i) good.push_back(1.0);
      ASSERT_EQ(static_cast<int>(good.size()), nCtrl + p + 1);
      for (double& k : good) k = 3.0 + scale * k;
      EXPECT_TRUE(KnotVectorSound(good.data(), p, nCtrl)) << p << ' ' << scale;
      for (std::size_t at = 0; at < good.size(); ++at) {
        for (double bad : notFinite) {
          std::vector<double> k = good;
          k[at] = bad;
          EXPECT_FALSE(KnotVectorSound(k.data(), p, nCtrl)) << p << ' ' << at << ' ' << bad;
        }
        if (at > 0 && good[at] > good[at - 1]) {  // a step down just before a rise
          std::vector<double> k = good;
          k[at - 1] = good[at] + 0.5 * scale;
          EXPECT_FALSE(KnotVectorSound(k.data(), p, nCtrl)) << p << ' ' << at;
        }
      }
      // p + 1 copies of an inside value are allowed (the curve may break there); p + 2 are not.
      for (int copies : {p + 1, p + 2}) {
        std::vector<double> k(p + 1, 3.0);
        k.insert(k.end(), copies, 3.0 + 0.5 * scale);
        k.insert(k.end(), p + 1, 3.0 + scale);
        const int n = static_cast<int>(k.size()) - p - 1;
        EXPECT_EQ(KnotVectorSound(k.data(), p, n), copies == p + 1) << p << ' ' << scale;
      }
    }
  }
}

}  // namespace
