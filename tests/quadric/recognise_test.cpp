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

// Distance of p from the line through a along d (any length).
double AxisDist(const double* p, const double* a, const double* d) {
  const double len = std::sqrt(Dot(d, d));
  const double q[3] = {p[0] - a[0], p[1] - a[1], p[2] - a[2]};
  const double t = Dot(q, d) / len;
  return std::sqrt(std::max(0.0, Dot(q, q) - t * t));
}

void Perturb(Bspline* b, int row, int col, double by) {
  b->X[row][col] += by;
  b->Z[row][col] -= 0.5 * by;
}

// The cone frustum about the axis c0 -> c1 with radii 1.5 and 0.6, both picks on one ruling.
Bspline* PickedCone(const double c0[3], const double c1[3]) {
  double a[3], u[3], w[3];
  for (int k = 0; k < 3; ++k) a[k] = c1[k] - c0[k];
  PerpVecs(a, u, w);
  VecNormalize3(u, u);
  double b0[3], b1[3];
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

TEST_F(RecogniseTest, CurvesBuiltFromPicksAreRecognisedAsTheSamePrimitive) {
  BsplineKeeper keep;
  const double a[3] = {1, -2, 0.5}, b[3] = {4, 2, 1.5}, c[3] = {-1, 3, 2};
  // Line.
  Bspline* line = keep(CreateLineWith2Points(a, b));
  const auto lineForm = Strip(line);
  ASSERT_EQ(Curve(line, 0), 1);
  ASSERT_EQ(line->quadricType, 1);
  for (int k = 0; k < 6; ++k) EXPECT_NEAR(line->quadric->v[k], lineForm[k], 1e-9) << k;
  // Circle: same centre, radius and plane (the normal's sense is the fit's).
  Bspline* circle = keep(CreateCircleW3Points(a, b, c, 0));
  const auto circleForm = Strip(circle);
  ASSERT_EQ(Curve(circle, 0), 1);
  ASSERT_EQ(circle->quadricType, 2);
  const double* q = circle->quadric->v;
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(q[k], circleForm[k], 1e-5) << k;
  EXPECT_NEAR(std::fabs(Dot(q + 3, circleForm.data() + 3)), 1.0, 1e-9);
  EXPECT_NEAR(q[6], circleForm[6], 1e-5);
  // Arc of 60 degrees about c from the direction of a.
  const double p1[3] = {c[0] + 2, c[1], c[2]}, towards[3] = {c[0] + 1, c[1] + std::sqrt(3.0), c[2]};
  Bspline* arc = keep(CreateQuadricWCenAnd2Points(c, p1, towards, 1));
  const auto arcForm = Strip(arc);
  ASSERT_NEAR(arcForm[7], 60.0, 1e-9);
  ASSERT_EQ(Curve(arc, 0), 1);
  ASSERT_EQ(arc->quadricType, 3);
  for (int k = 0; k < 8; ++k) EXPECT_NEAR(arc->quadric->v[k], arcForm[k], 1e-9) << k;
  // A curve with a leftover form block of no type gets the new one in its place (the old one is
  // freed, or the sanitizer reports it).
  Bspline* again = keep(CreateLineWith2Points(b, c));
  again->quadricType = 0;
  ASSERT_EQ(Curve(again, 1), 1);
  EXPECT_EQ(again->quadricType, 1);
}

TEST_F(RecogniseTest, PerturbedCurvesAreNotRecognised) {
  BsplineKeeper keep;
  const double a[3] = {1, -2, 0.5}, b[3] = {4, 2, 1.5}, c[3] = {-1, 3, 2};
  Bspline* circle = keep(CreateCircleW3Points(a, b, c, 0));
  Strip(circle);
  Perturb(circle, 0, 3, 0.02);
  EXPECT_EQ(Curve(circle, 0), 0);
  EXPECT_EQ(circle->quadricType, 0);
  EXPECT_EQ(circle->quadric, nullptr);
  // One span of a parabola: its three samples lie on a circle, yet it is no arc, circle or line.
  Bspline* parabola = keep(BuildCurve(2, 3, {0, 0, 0, 1, 1, 0, 2, 0, 0}));
  EXPECT_EQ(Curve(parabola, 0), 0);
  EXPECT_EQ(parabola->quadricType, 0);
  // A slightly bent line.
  Bspline* bent = keep(BuildCurve(2, 3, {0, 0, 0, 1, 0.05, 0, 2, 0, 0}));
  EXPECT_EQ(Curve(bent, 1), 0);
}

TEST_F(RecogniseTest, FlagsRequestsAndStops) {
  BsplineKeeper keep;
  const double a[3] = {0, 0, 0}, b[3] = {2, 0, 0}, c[3] = {0, 2, 0};
  Bspline* coded = keep(CreateCircleW3Points(a, b, c, 0));  // already a circle
  Bspline* circle = keep(CreateCircleW3Points(a, b, c, 0));
  Strip(circle);
  Bspline* line = keep(CreateLineWith2Points(a, b));
  Strip(line);
  // A coded curve is flagged for its own code, and neither re-examined nor flagged for another.
  int found[3] = {0, 0, 0};
  Bspline* one[1] = {coded};
  EXPECT_EQ(IdentifyCurveQuadric(one, 1, 1, found), 0);
  EXPECT_EQ(found[0], 0);
  EXPECT_EQ(coded->quadricType, 2);
  EXPECT_EQ(IdentifyCurveQuadric(one, 1, 2, found), 0);
  EXPECT_EQ(found[0], 1);
  // A circle request meets an open, non-rational curve: -2 there, the curves after it unread,
  // the flags before it kept.
  Bspline* list[3] = {circle, line, keep(CreateCircleW3Points(a, c, b, 0))};
  Strip(list[2]);
  found[0] = 0;
  EXPECT_EQ(IdentifyCurveQuadric(list, 3, 2, found), -2);
  EXPECT_EQ(found[0], 1);
  EXPECT_EQ(found[2], 0);
  EXPECT_EQ(list[2]->quadricType, 0);
  // An arc request on a non-rational curve stops too; nothing to look at is done at once.
  EXPECT_EQ(IdentifyCurveQuadric(&line, 1, 3, found), -2);
  EXPECT_EQ(IdentifyCurveQuadric(nullptr, 0, 0, nullptr), 0);
  EXPECT_EQ(IdentifySurfQuadric(nullptr, 0, 0, nullptr), 0);
}

TEST_F(RecogniseTest, SurfacesBuiltFromPicksAreRecognisedAsTheSamePrimitive) {
  BsplineKeeper keep;
  const double p1[3] = {1, 0.5, -1}, p2[3] = {3, 1, 0}, p3[3] = {0, 2.5, 1}, p4[3] = {2, 2, 3};
  // Plane: the same plane up to the normal's sense and length.
  Bspline* plane = keep(FitPlaneWith3Points(p1, p2, p3));
  const auto planeForm = Strip(plane);
  ASSERT_EQ(Surface(plane, 0), 1);
  ASSERT_EQ(plane->quadricType, 25);
  const double* e = plane->quadric->v;
  const double s = Dot(e, planeForm.data()) / Dot(planeForm.data(), planeForm.data());
  for (int k = 0; k < 4; ++k) EXPECT_NEAR(e[k], s * planeForm[k], 1e-5) << k;
  // Sphere.
  Bspline* sphere = keep(CreateSphereFrom4Points(p1, p2, p3, p4));
  const auto sphereForm = Strip(sphere);
  ASSERT_EQ(Surface(sphere, 0), 1);
  ASSERT_EQ(sphere->quadricType, 21);
  for (int k = 0; k < 4; ++k) EXPECT_NEAR(sphere->quadric->v[k], sphereForm[k], 1e-5) << k;
  // Cylinder: the same axis line and radius.
  Bspline* cyl = keep(CreateCylinderWithCensAndPoint(p1, p4, p2));
  const auto cylForm = Strip(cyl);
  ASSERT_EQ(Surface(cyl, 0), 1);
  ASSERT_EQ(cyl->quadricType, 22);
  const double* y = cyl->quadric->v;
  EXPECT_LT(AxisDist(p1, y, y + 3), 1e-5);
  EXPECT_LT(AxisDist(p4, y, y + 3), 1e-5);
  EXPECT_NEAR(y[6], cylForm[6], 1e-5);
  // Cone: the same apex, axis and half angle.
  Bspline* cone = keep(PickedCone(p1, p4));
  ASSERT_NE(cone, nullptr);
  const auto coneForm = Strip(cone);
  ASSERT_EQ(Surface(cone, 0), 1);
  ASSERT_EQ(cone->quadricType, 23);
  const double* k = cone->quadric->v;
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(k[i], coneForm[i], 1e-4) << i;
  EXPECT_NEAR(std::fabs(Dot(k + 3, coneForm.data() + 3)), 1.0, 1e-8);
  EXPECT_NEAR(k[6], coneForm[6], 1e-6);
  // A coded surface is flagged only for its own request.
  int found[1] = {0};
  Bspline* one[1] = {cone};
  EXPECT_EQ(IdentifySurfQuadric(one, 1, 1, found), 0);
  EXPECT_EQ(found[0], 0);
  EXPECT_EQ(IdentifySurfQuadric(one, 1, 3, found), 0);
  EXPECT_EQ(found[0], 1);
}

TEST_F(RecogniseTest, PerturbedSurfacesAreNotRecognised) {
  BsplineKeeper keep;
  const double p1[3] = {1, 0.5, -1}, p2[3] = {3, 1, 0}, p3[3] = {0, 2.5, 1}, p4[3] = {2, 2, 3};
  Bspline* made[4] = {keep(FitPlaneWith3Points(p1, p2, p3)), keep(CreateSphereFrom4Points(p1, p2, p3, p4)),
                      keep(CreateCylinderWithCensAndPoint(p1, p4, p2)), keep(PickedCone(p1, p4))};
  for (Bspline* s : made) {
    ASSERT_NE(s, nullptr);
    SCOPED_TRACE(s->quadricType);
    Strip(s);
    Perturb(s, 1, 2, 0.2);
    EXPECT_EQ(Surface(s, 0), 0);
    EXPECT_EQ(s->quadricType, 0);
  }
}

TEST_F(RecogniseTest, CurveOnSurfaceSplitsAtKnotLinesLeavingItAlone) {
  PatchOptions o;
  Bspline* srf = BuildFunctionPatch([](double x, double y) { return x * y; }, o);
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
