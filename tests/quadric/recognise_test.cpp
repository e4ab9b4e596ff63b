// Recognition round trips: primitives built from picks, stripped of their type and exact form,
// are recognised as the same primitive; perturbed ones are not; flags and stops as documented.
#include <cmath>
#include <vector>

#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "bspline/subobj.h"
#include "construct/quadrics.h"
#include "curve/quadrics.h"
#include "foundation/vec3.h"
#include "quadric/cpoint.h"
#include "quadric/quadrics.h"
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
  moved->X[0][3] += 0.04;
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

// Curves of one shape at sizes 1e-6 .. 1e6, at the origin and moved 1e4 x the size away: exact
// circles, quarter arcs and straight cubics are recognised with the same form relative to the
// size; an ellipse, a deep parabola and a bent cubic are recognised as nothing, everywhere.
constexpr double kSizes[] = {1e-6, 1e-3, 1.0, 1e3, 1e6};
constexpr double kFar[3] = {1e4, -6e3, 3.5e3};  // times the size
// A tilted orthonormal frame; row 2 is the normal of the curves' plane.
const double kFrame[3][3] = {{0.36, 0.48, -0.8}, {-0.8, 0.6, 0.0}, {0.48, 0.64, 0.6}};

// The point (u, v) of the curves' plane, in units of size, moved by offset x size.
void InPlane(double u, double v, double size, const double offset[3], double out[3]) {
  for (int k = 0; k < 3; ++k) out[k] = size * (offset[k] + 0.3 * kFrame[2][k] + u * kFrame[0][k] + v * kFrame[1][k]);
}

std::vector<double> Placed(const std::vector<double>& uv, double size, const double offset[3]) {
  std::vector<double> out;
  for (size_t i = 0; i + 1 < uv.size(); i += 2) {
    double p[3];
    InPlane(uv[i], uv[i + 1], size, offset, p);
    out.insert(out.end(), p, p + 3);
  }
  return out;
}

// The nine-point rational quadratic ellipse of semi-axes a, b about (0.2, 0.2).
Bspline* Ellipse(double a, double b, double size, const double offset[3]) {
  const double s = std::sqrt(0.5);
  std::vector<double> uv = {a, 0, a, b, 0, b, -a, b, -a, 0, -a, -b, 0, -b, a, -b, a, 0};
  for (double& t : uv) t += 0.2;
  return BuildCurve(2, 3, Placed(uv, size, offset), {0, 0, 0, .25, .25, .5, .5, .75, .75, 1, 1, 1},
                    {1, s, 1, s, 1, s, 1, s, 1});
}

TEST_F(RecogniseTest, CurvesAreRecognisedAlikeAtEverySizeAndPlace) {
  const double origin[3] = {0, 0, 0};
  for (double size : kSizes)
    for (bool far : {false, true}) {
      SCOPED_TRACE(::testing::Message() << "size " << size << " far " << far);
      const double* offset = far ? kFar : origin;
      BsplineKeeper keep;
      // Form values agree to the samples' single-precision circle fit about their centroid.
      const double tol = 1e-6 * size;
      double centre[3], p[3], q[3];

      Bspline* circle = keep(Ellipse(0.5, 0.5, size, offset));
      ASSERT_EQ(Curve(circle, 0), 1);
      ASSERT_EQ(circle->quadricType, 2);
      const double* v = circle->quadric->v;
      InPlane(0.2, 0.2, size, offset, centre);
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(v[k], centre[k], tol) << k;
      EXPECT_NEAR(std::fabs(Dot(v + 3, kFrame[2])), 1.0, 1e-9);
      EXPECT_NEAR(v[6], 0.5 * size, tol);

      const double s = std::sqrt(0.5);
      Bspline* arc = keep(BuildCurve(2, 3, Placed({0.5, 0, 0.5, 0.5, 0, 0.5}, size, offset), {}, {1, s, 1}));
      ASSERT_EQ(Curve(arc, 0), 1);
      ASSERT_EQ(arc->quadricType, 3);
      v = arc->quadric->v;
      InPlane(0, 0, size, offset, centre);
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(v[k], centre[k], tol) << k;
      EXPECT_NEAR(std::fabs(Dot(v + 3, kFrame[2])), 1.0, 1e-9);
      EXPECT_NEAR(v[6], 0.5 * size, tol);
      EXPECT_NEAR(v[7], 90.0, 1e-6);

      Bspline* line = keep(BuildCurve(3, 3, Placed({0, 0, 0.1, 0.05, 0.25, 0.125, 0.6, 0.3, 1, 0.5}, size, offset)));
      ASSERT_EQ(Curve(line, 0), 1);
      ASSERT_EQ(line->quadricType, 1);
      v = line->quadric->v;
      InPlane(0, 0, size, offset, p);
      InPlane(1, 0.5, size, offset, q);
      // The ends in either order.
      const bool forward = VecDist3(v, p) < VecDist3(v, q);
      EXPECT_LT(VecDist3(v, forward ? p : q), 1e-9 * size);
      EXPECT_LT(VecDist3(v + 3, forward ? q : p), 1e-9 * size);

      // An ellipse 5% out of round, a parabola whose quarter points miss the circle through its
      // three samples by 0.01 of its size, and an S-shaped cubic 0.01 of its length off its chord.
      for (Bspline* other : {keep(Ellipse(0.5, 0.475, size, offset)),
                             keep(BuildCurve(2, 3, Placed({0, 0, 0.5, 0.5, 1, 0}, size, offset))),
                             keep(BuildCurve(3, 3, Placed({0, 0, 0.3, 0.04, 0.7, -0.04, 1, 0}, size, offset)))}) {
        EXPECT_EQ(Curve(other, 0), 0);
        EXPECT_EQ(other->quadric, nullptr);
      }
    }
}

// The least-squares circle of exact samples, and the line through collinear ones, at every size
// and place: no size is too small to be a circle or to keep its ends.
TEST_F(RecogniseTest, CircleAndLineFitsHoldAtEverySizeAndPlace) {
  const double origin[3] = {0, 0, 0};
  for (double size : kSizes)
    for (bool far : {false, true}) {
      SCOPED_TRACE(::testing::Message() << "size " << size << " far " << far);
      const double* offset = far ? kFar : origin;
      std::vector<double> x, y, z;
      for (int i = 0; i < 12; ++i) {
        double p[3];
        const double t = 0.5 * i;
        InPlane(0.2 + 0.5 * std::cos(t), 0.2 + 0.5 * std::sin(t), size, offset, p);
        x.push_back(p[0]), y.push_back(p[1]), z.push_back(p[2]);
      }
      BsplineKeeper keep;
      Bspline* circle = keep(FitCirclePts(x.data(), y.data(), z.data(), 12));
      ASSERT_NE(circle, nullptr);
      ASSERT_EQ(circle->quadricType, 2);
      double centre[3];
      InPlane(0.2, 0.2, size, offset, centre);
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(circle->quadric->v[k], centre[k], 1e-6 * size) << k;
      EXPECT_NEAR(circle->quadric->v[6], 0.5 * size, 1e-6 * size);
      // The curve itself passes through the samples.
      for (int i = 0; i < 12; ++i) {
        const double p[3] = {x[i], y[i], z[i]};
        double d = 0;
        for (int k = 0; k < 3; ++k) d += (p[k] - circle->quadric->v[k]) * (p[k] - circle->quadric->v[k]);
        EXPECT_NEAR(std::sqrt(d), 0.5 * size, 1e-6 * size);
      }
      double lx[3], ly[3], lz[3], start[3], end[3], a[3], b[3];
      for (int i = 0; i < 3; ++i) {
        double p[3];
        InPlane(0.5 * i, 0.25 * i, size, offset, p);
        lx[i] = p[0], ly[i] = p[1], lz[i] = p[2];
      }
      FitALinePts(lx, ly, lz, 3, start, end);
      InPlane(0, 0, size, offset, a);
      InPlane(1, 0.5, size, offset, b);
      const bool forward = VecDist3(start, a) < VecDist3(start, b);
      EXPECT_LT(VecDist3(start, forward ? a : b), 1e-9 * size);
      EXPECT_LT(VecDist3(end, forward ? b : a), 1e-9 * size);
    }
}

// Every control point moved by offset, the form taken off: recognition has to find it again.
Bspline* Moved(Bspline* b, const double offset[3]) {
  FreeQuadricInfo(b);
  for (int j = 0; j < NumCtrlV(b); ++j)
    for (int i = 0; i < NumCtrlU(b); ++i) b->X[j][i] += offset[0], b->Y[j][i] += offset[1], b->Z[j][i] += offset[2];
  return b;
}

constexpr double kEverySize[] = {1e-6, 1e-3, 0.01, 0.1, 1.0, 1e3, 1e6};

// A quarter of a tube (radius 6.5, 80 long) fits a large sphere with a small mean error, but lies
// far off it: it is the cylinder, at every size (80: the tube as it stands), at the origin and
// 1e4 sizes away.
TEST_F(RecogniseTest, QuarterTubeIsItsCylinderNotALargeSphere) {
  for (double size : {1e-6, 1e-3, 0.01, 0.1, 1.0, 80.0, 1e3, 1e6})
    for (double far : {0.0, 1e4}) {
      SCOPED_TRACE(::testing::Message() << "size " << size << " far " << far);
      BsplineKeeper keep;
      const double s = size / 80;  // the tube's length is the size
      const QuadricInfo tube = {{0, 0, 0, 0, 0, 1, 6.5 * s, 0, 80 * s}};
      Bspline* cyl = keep(CreateCylinderBspline(&tube));
      ASSERT_NE(cyl, nullptr);
      const double offset[3] = {far * size, -0.6 * far * size, 0.35 * far * size};
      Bspline* quarter = keep(ExtractParamRange(cyl, 0, cyl->umin, cyl->umin + 0.25 * (cyl->umax - cyl->umin)));
      ASSERT_NE(quarter, nullptr);
      ASSERT_EQ(Surface(Moved(quarter, offset), 0), 1);
      ASSERT_EQ(quarter->quadricType, 22);
      const double* e = quarter->quadric->v;
      EXPECT_NEAR(std::fabs(e[6]), 6.5 * s, 1e-6 * size);
      EXPECT_NEAR(std::fabs(e[5]), 1.0, 1e-12);
      const double onAxis[3] = {offset[0], offset[1], offset[2] + 0.5 * size};
      EXPECT_LT(AxisDist(onAxis, e, e + 3), 1e-6 * size);
    }
}

// Half cones that run into their apex (its boundary there a point, not a circle) are cones,
// with their apex and half angle, at every size, at the origin and 1e4 sizes away.
TEST_F(RecogniseTest, HalfConesReachingTheirApexAreCones) {
  for (double half : {30.0, 60.0})
    for (double size : kEverySize)
      for (double far : {0.0, 1e4}) {
        SCOPED_TRACE(::testing::Message() << "half angle " << half << " size " << size << " far " << far);
        BsplineKeeper keep;
        const QuadricInfo info = {{0.2 * size, 0.1 * size, -0.3 * size, 0, 0.6, 0.8, half * 0.017453292519943295, 0.0,
                                   size}};
        Bspline* cone = keep(CreateConeBspline(&info));
        ASSERT_NE(cone, nullptr);
        Bspline* h = keep(ExtractParamRange(cone, 0, cone->umin, 0.5 * (cone->umin + cone->umax)));
        ASSERT_NE(h, nullptr);
        const double offset[3] = {far * size, -0.6 * far * size, 0.35 * far * size};
        ASSERT_EQ(Surface(Moved(h, offset), 0), 1);
        ASSERT_EQ(h->quadricType, 23);
        const double* e = h->quadric->v;
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(e[k], info.v[k] + offset[k], 1e-6 * size) << k;
        EXPECT_NEAR(Dot(e + 3, info.v + 3), 1.0, 1e-9);
        EXPECT_NEAR(e[6], info.v[6], 1e-7);
      }
}

}  // namespace
