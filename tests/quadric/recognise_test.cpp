// Recognition round trips: primitives built from picks, stripped of their type and exact form,
// are recognised as the same primitive; perturbed ones are not; flags and stops as documented.
#include <cmath>
#include <vector>

#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "construct/quadrics.h"
#include "curve/quadrics.h"
#include "foundation/vec3.h"
#include "quadric/cpoint.h"
#include "surface/quadrics.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class RecogniseTest : public KernelTest {};

// Takes the form off, keeping a copy of its values.
std::vector<double> Strip(Bspline* b) {
  std::vector<double> v(b->quadric->v, b->quadric->v + QuadricDoubles(b->quadricType));
  FreeQuadricInfo(b);
  return v;
}

double Dot(const double* a, const double* b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

// Distance of p from the line through a along the unit d.
double AxisDist(const double* p, const double* a, const double* d) {
  const double q[3] = {p[0] - a[0], p[1] - a[1], p[2] - a[2]}, t = Dot(q, d);
  return std::sqrt(std::max(0.0, Dot(q, q) - t * t));
}

// The cone frustum about the axis c0 -> c1 with radii 1.5 and 0.6, both picks on one ruling.
Bspline* PickedCone(const double c0[3], const double c1[3]) {
  double a[3], u[3], w[3], b0[3], b1[3];
  for (int k = 0; k < 3; ++k) a[k] = c1[k] - c0[k];
  PerpVecs(a, u, w);
  VecNormalize3(u, u);
  for (int k = 0; k < 3; ++k) b0[k] = c0[k] + 1.5 * u[k], b1[k] = c1[k] + 0.6 * u[k];
  return CreateConeWithCensAnd2Points(c0, c1, b0, b1);
}

int Curve(Bspline* c, int request) {
  int found = 0;
  EXPECT_EQ(IdentifyCurveQuadric(&c, 1, request, &found), 0);
  return found;
}

int Surface(Bspline* s, int request) {
  int found = 0;
  EXPECT_EQ(IdentifySurfQuadric(&s, 1, request, &found), 0);
  return found;
}

TEST_F(RecogniseTest, CurvesBuiltFromPicksAreRecognisedPerturbedOnesAreNot) {
  BsplineKeeper keep;
  const double a[3] = {1, -2, 0.5}, b[3] = {4, 2, 1.5}, c[3] = {-1, 3, 2};
  // Line and 60 degree arc about c: the same forms.
  const double p1[3] = {c[0] + 2, c[1], c[2]}, towards[3] = {c[0] + 1, c[1] + std::sqrt(3.0), c[2]};
  for (Bspline* made : {keep(CreateLineWith2Points(a, b)), keep(CreateQuadricWCenAnd2Points(c, p1, towards, 1))}) {
    const int type = made->quadricType;
    const auto form = Strip(made);
    ASSERT_EQ(Curve(made, 0), 1);
    ASSERT_EQ(made->quadricType, type);
    for (size_t k = 0; k < form.size(); ++k) EXPECT_NEAR(made->quadric->v[k], form[k], 1e-9) << k;
  }
  // Circle: the same centre, radius and plane (the normal's sense is the fit's).
  Bspline* circle = keep(CreateCircleW3Points(a, b, c, 0));
  const auto form = Strip(circle);
  ASSERT_EQ(Curve(circle, 0), 1);
  ASSERT_EQ(circle->quadricType, 2);
  const double* q = circle->quadric->v;
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(q[k], form[k], 1e-5) << k;
  EXPECT_NEAR(std::fabs(Dot(q + 3, form.data() + 3)), 1.0, 1e-9);
  EXPECT_NEAR(q[6], form[6], 1e-5);
  // A leftover form block of no type is replaced (freed, or the sanitizer reports it).
  Bspline* again = keep(CreateLineWith2Points(b, c));
  again->quadricType = 0;
  ASSERT_EQ(Curve(again, 1), 1);
  EXPECT_EQ(again->quadricType, 1);
  // A moved control point and one span of a parabola (its three samples lie on a circle) are no
  // circle, arc or line; a bent line is no line.
  Bspline* moved = keep(CreateCircleW3Points(a, b, c, 0));
  Strip(moved);
  moved->X[0][3] += 0.02;
  for (Bspline* other : {moved, keep(BuildCurve(2, 3, {0, 0, 0, 1, 1, 0, 2, 0, 0}))}) {
    EXPECT_EQ(Curve(other, 0), 0);
    EXPECT_EQ(other->quadric, nullptr);
  }
  EXPECT_EQ(Curve(keep(BuildCurve(2, 3, {0, 0, 0, 1, 0.05, 0, 2, 0, 0})), 1), 0);
}

TEST_F(RecogniseTest, FlagsRequestsAndStops) {
  BsplineKeeper keep;
  const double a[3] = {0, 0, 0}, b[3] = {2, 0, 0}, c[3] = {0, 2, 0};
  // A coded curve is flagged for its own code, and neither re-examined nor flagged for another.
  Bspline* coded = keep(CreateCircleW3Points(a, b, c, 0));
  EXPECT_EQ(Curve(coded, 1), 0);
  EXPECT_EQ(Curve(coded, 2), 1);
  // A circle request meets an open, non-rational curve: -2 there, the curve after it unread, the
  // flag before it kept. An arc request on a non-rational curve stops too.
  Bspline* list[3] = {keep(CreateCircleW3Points(a, b, c, 0)), keep(CreateLineWith2Points(a, b)),
                      keep(CreateCircleW3Points(a, c, b, 0))};
  for (Bspline* l : list) Strip(l);
  int found[3] = {0, 0, 0};
  EXPECT_EQ(IdentifyCurveQuadric(list, 3, 2, found), -2);
  EXPECT_EQ(found[0], 1);
  EXPECT_EQ(list[2]->quadricType, 0);
  EXPECT_EQ(IdentifyCurveQuadric(list + 1, 1, 3, found), -2);
  EXPECT_EQ(IdentifyCurveQuadric(nullptr, 0, 0, nullptr), 0);
  EXPECT_EQ(IdentifySurfQuadric(nullptr, 0, 0, nullptr), 0);
}

TEST_F(RecogniseTest, SurfacesBuiltFromPicksAreRecognisedPerturbedOnesAreNot) {
  const double p1[3] = {1, 0.5, -1}, p2[3] = {3, 1, 0}, p3[3] = {0, 2.5, 1}, p4[3] = {2, 2, 3};
  for (int perturbed : {0, 1}) {
    BsplineKeeper keep;
    Bspline* made[4] = {keep(FitPlaneWith3Points(p1, p2, p3)), keep(CreateSphereFrom4Points(p1, p2, p3, p4)),
                        keep(CreateCylinderWithCensAndPoint(p1, p4, p2)), keep(PickedCone(p1, p4))};
    for (Bspline* s : made) {
      ASSERT_NE(s, nullptr);
      const int type = s->quadricType;
      SCOPED_TRACE(::testing::Message() << "type " << type << " perturbed " << perturbed);
      const auto form = Strip(s);
      if (perturbed) {
        s->X[1][2] += 0.2;
        s->Z[1][2] -= 0.1;
        EXPECT_EQ(Surface(s, 0), 0);
        EXPECT_EQ(s->quadricType, 0);
        continue;
      }
      ASSERT_EQ(Surface(s, 0), 1);
      ASSERT_EQ(s->quadricType, type);
      const double* e = s->quadric->v;
      if (type == 25) {  // the same plane up to the normal's sense and length
        const double f = Dot(e, form.data()) / Dot(form.data(), form.data());
        for (int k = 0; k < 4; ++k) EXPECT_NEAR(e[k], f * form[k], 1e-5) << k;
      } else if (type == 21) {
        for (int k = 0; k < 4; ++k) EXPECT_NEAR(e[k], form[k], 1e-5) << k;
      } else if (type == 22) {  // the same axis line and radius
        EXPECT_LT(AxisDist(p1, e, e + 3), 1e-5);
        EXPECT_LT(AxisDist(p4, e, e + 3), 1e-5);
        EXPECT_NEAR(e[6], form[6], 1e-5);
      } else {  // the same apex, axis and half angle
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(e[k], form[k], 1e-4) << k;
        EXPECT_NEAR(std::fabs(Dot(e + 3, form.data() + 3)), 1.0, 1e-8);
        EXPECT_NEAR(e[6], form[6], 1e-6);
        // Coded now: flagged only for its own request.
        EXPECT_EQ(Surface(s, 1), 0);
        EXPECT_EQ(Surface(s, 3), 1);
      }
    }
  }
}

TEST_F(RecogniseTest, CurveOnSurfaceSplitsAtKnotLinesLeavingItAlone) {
  Bspline* srf = BuildFunctionPatch([](double x, double y) { return x * y; });
  ASSERT_NE(srf, nullptr);
  Bspline* c = BuildCurveOnSurface(srf, 2, {0.05, 0.1, 0.5, 0.9, 0.95, 0.2});
  ASSERT_NE(c, nullptr);
  const std::vector<double> before(c->X[0], c->X[0] + NumCtrlU(c));
  EXPECT_EQ(MyFunc(c), 1);
  for (int i = 0; i < NumCtrlU(c); ++i) EXPECT_EQ(c->X[0][i], before[i]);
  EXPECT_FALSE(KernelFailedNow());
  FreeBspline(srf);
}

}  // namespace
