// Reversal of a curve's direction: C(s) of the reversed curve is C(umin + umax - s).
#include <vector>

#include "bspline/creverse.h"
#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class ReverseTest : public KernelTest {};

// A point of a 3D curve, or (u, v, 0) of a 2D one, by the kernel's evaluators.
void Point(const Bspline* c, double t, double p[3]) {
  p[2] = 0.0;
  if (c->dimension == 3)
    Eval3DPointOnCurve3Array(c, t, 0, p);
  else
    Eval2DPointOnCurve2Array(nullptr, c, t, 0, p);
}

std::vector<double> Knots(const Bspline* c) { return {c->knotsU, c->knotsU + NumKnotsU(c)}; }

// Random curves of every kind: the reversed curve traces the same points backwards, and a
// second reversal restores the record exactly up to rounding.
TEST_F(ReverseTest, ReversedCurveTracesThePointsBackwards) {
  int seed = 1;
  for (int dim : {2, 3})
    for (bool rational : {false, true})
      for (int degree : {1, 2, 3, 5}) {
        Bspline* c = BuildRandomCurve(seed++, degree, degree + 4, dim, rational);
        // Off [0, 1], so the mirror is about the stored domain and not about 0.
        for (int k = 0; k < NumKnotsU(c); ++k) c->knotsU[k] = 2.0 + 3.0 * c->knotsU[k];
        c->umin = 2.0, c->umax = 5.0;
        std::vector<double> k0 = Knots(c);
        std::vector<double> samples;
        for (int i = 0; i <= 40; ++i) {
          double p[3];
          Point(c, 2.0 + 3.0 * i / 40.0, p);
          samples.insert(samples.end(), p, p + 3);
        }
        reverseBspline(c);
        EXPECT_EQ(c->umin, 2.0);
        EXPECT_EQ(c->umax, 5.0);
        const int K = NumKnotsU(c);
        for (int k = 0; k < K; ++k) EXPECT_EQ(c->knotsU[k], 7.0 - k0[K - 1 - k]);
        for (int i = 0; i <= 40; ++i) {
          double p[3];
          Point(c, 5.0 - 3.0 * i / 40.0, p);
          for (int k = 0; k < 3; ++k) EXPECT_NEAR(p[k], samples[3 * i + k], 1e-12) << degree << " " << i;
        }
        reverseBspline(c);
        for (int k = 0; k < K; ++k) EXPECT_NEAR(c->knotsU[k], k0[k], 1e-15);
        FreeBspline(c);
      }
}

TEST_F(ReverseTest, LineDescriptionFollowsAndDerivedDataStays) {
  Bspline* c = BuildCurve(1, 3, {0, 0, 0, 1, 2, 3});
  c->quadricType = 1;
  c->quadric = static_cast<QuadricInfo*>(Malloc(sizeof(QuadricInfo)));
  for (int i = 0; i < 6; ++i) c->quadric->v[i] = i;
  c->fitProps = {1, 1.0, 2.0, 3.0};
  reverseBspline(c);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(c->quadric->v[i], (i + 3) % 6);
  EXPECT_EQ(c->fitProps.flag, 1);
  FreeBspline(c);

  float a[5] = {1, 2, 3, 4, 5};
  reverse_array(a, 5);
  EXPECT_EQ(std::vector<float>(a, a + 5), (std::vector<float>{5, 4, 3, 2, 1}));
}

}  // namespace
