#include "bspline/helper.h"

#include <cmath>
#include <vector>

#include "bspline/sfree.h"
#include "foundation/vec3.h"
#include "surface/srfnorm.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class SurfaceNormals : public KernelTest {};

const double kS = std::sqrt(0.5);  // weight of the middle point of an exact 90-degree arc

// An octant of the sphere of radius R as a rational biquadratic surface of revolution: the
// quarter circle from the equator to the pole turned through 90 degrees. One direction runs
// round the axis, the other from the equator (0) to the pole (1), where that whole edge
// collapses to one point. poleInV puts the profile in v (Su vanishes at the pole), otherwise
// in u (Sv vanishes there).
Bspline* SphereOctant(double R, bool poleInV) {
  const double ring[3][2] = {{1, 0}, {1, 1}, {0, 1}};  // unit quarter circle in the xy plane
  const double prof[3][2] = {{R, 0}, {R, R}, {0, R}};  // (radius, z) from equator to pole
  const double w[3] = {1.0, kS, 1.0};
  std::vector<double> pts, wts;
  for (int j = 0; j < 3; ++j)
    for (int i = 0; i < 3; ++i) {
      const int a = poleInV ? i : j;  // ring index
      const int b = poleInV ? j : i;  // profile index
      pts.insert(pts.end(), {prof[b][0] * ring[a][0], prof[b][0] * ring[a][1], prof[b][1]});
      wts.push_back(w[a] * w[b]);
    }
  return BuildSurface(2, 2, 3, 3, pts, {}, {}, wts);
}

void Partials(Bspline* s, double u, double v, double Su[3], double Sv[3]) {
  RefEvalDeriv(s, u, v, 1, 0, Su);
  RefEvalDeriv(s, u, v, 0, 1, Sv);
}

double Cosine(const double a[3], const double b[3]) {
  return VecDotProd3(a, b) / (VecSize3(a) * VecSize3(b));
}

TEST_F(SurfaceNormals, RegularPointsGiveTheCrossProduct) {
  PatchOptions opt;
  opt.rational = true;
  opt.layout = KnotLayout::Random;
  Bspline* s = BuildFunctionPatch([](double x, double y) { return std::sin(3 * x) * y + x * x; }, opt);
  ASSERT_NE(s, nullptr);
  for (double u : {0.0, 0.21, 0.5, 0.93, 1.0})
    for (double v : {0.0, 0.33, 0.71, 1.0}) {
      double Su[3], Sv[3], n[3], ref[3], plane[4], P[3], tu[3], tv[3];
      Partials(s, u, v, Su, Sv);
      ComputeSurfaceNormal(s, u, v, Su, Sv, n);
      VecCrossProd3(Su, Sv, ref);
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(n[k], ref[k], 1e-6 * VecSize3(ref));
      FindTangentPlane(s, u, v, plane, P, tu, tv);
      EXPECT_NEAR(VecDotProd3(plane, P) + plane[3], 0.0, 1e-12);
      EXPECT_NEAR(VecDotProd3(plane, tu), 0.0, 1e-9 * VecSize3(plane) * VecSize3(tu));
      EXPECT_NEAR(VecDotProd3(plane, tv), 0.0, 1e-9 * VecSize3(plane) * VecSize3(tv));
      SurfaceTangentPlane(s, u, v, plane);
      EXPECT_NEAR(VecSize3(plane), 1.0, 1e-12);
      EXPECT_GT(Cosine(plane, ref), 1.0 - 1e-12);
    }
  // The batch of the surface tools evaluates its own partials: the same cross products.
  std::vector<double> us, vs;
  for (double u : {0.0, 0.21, 0.5, 0.93, 1.0})
    for (double v : {0.0, 0.33, 0.71, 1.0}) us.push_back(u), vs.push_back(v);
  std::vector<double> normals(3 * us.size());
  ComputeSurfNormalNPnts(s, us.data(), vs.data(), reinterpret_cast<double(*)[3]>(normals.data()),
                         static_cast<int>(us.size()));
  for (size_t i = 0; i < us.size(); ++i) {
    double Su[3], Sv[3], ref[3];
    Partials(s, us[i], vs[i], Su, Sv);
    VecCrossProd3(Su, Sv, ref);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(normals[3 * i + k], ref[k], 1e-6 * VecSize3(ref)) << i;
  }
  FreeBspline(s);
}

// A small patch over a wide parameter range has short partials (1e-6 of a unit over 1e3 and
// 1e6 of parameter: 1e-9 and 1e-12) that still span its tangent plane: they are no collapsed
// side, and the normal is their cross product.
TEST_F(SurfaceNormals, ShortPartialsOfASmallPatchOverAWideRangeGiveTheCrossProduct) {
  const double size = 1e-6;
  for (double range : {1e3, 1e6}) {
    PatchOptions opt;
    opt.rational = true;
    opt.x1 = opt.y1 = size;
    opt.umax = opt.vmax = range;
    Bspline* s = BuildFunctionPatch(
        [size](double x, double y) { return size * (std::sin(3 * x / size) * y / size + 0.5); }, opt);
    ASSERT_NE(s, nullptr);
    for (double a : {0.0, 0.37, 1.0})
      for (double b : {0.2, 0.9}) {
        double Su[3], Sv[3], n[3], ref[3];
        Partials(s, a * range, b * range, Su, Sv);
        ComputeSurfaceNormal(s, a * range, b * range, Su, Sv, n);
        VecCrossProd3(Su, Sv, ref);
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(n[k], ref[k], 1e-6 * VecSize3(ref)) << range << " " << a << " " << b;
      }
    FreeBspline(s);
  }
}

TEST_F(SurfaceNormals, DegenerateSurfacesKeepAUsableNormal) {
  // At the pole the whole edge is one point: the partial along the edge vanishes. The normal
  // there must still be the pole direction and agree with the normal just inside. With the
  // profile in v, Su x Sv points outwards (+z at the pole); with it in u, inwards.
  for (bool poleInV : {true, false}) {
    Bspline* s = SphereOctant(2.0, poleInV);
    ASSERT_NE(s, nullptr);
    for (double a : {0.0, 0.3, 0.77, 1.0}) {
      const double u = poleInV ? a : 1.0, v = poleInV ? 1.0 : a, ui = poleInV ? a : 0.99, vi = poleInV ? 0.99 : a;
      const double up[3] = {0, 0, poleInV ? 1.0 : -1.0};
      double Su[3], Sv[3], n[3], inside[3];
      Partials(s, u, v, Su, Sv);
      EXPECT_LT(VecSize3(poleInV ? Su : Sv), 1e-9) << "the test shape must be degenerate";
      ComputeSurfaceNormal(s, u, v, Su, Sv, n);
      EXPECT_GT(Cosine(n, up), 0.999) << "poleInV " << poleInV << " at " << a;
      Partials(s, ui, vi, Su, Sv);
      ComputeSurfaceNormal(s, ui, vi, Su, Sv, inside);
      EXPECT_GT(Cosine(n, inside), 0.99);
    }
    if (poleInV) {  // the float form clamps u below the domain to 0
      float rec[8] = {0, 0, 0, 0, 0, 0, -0.5f, 0.25f}, out[3];
      double p[3];
      EXPECT_EQ(GetSurfNorm(s, rec, out), 1);
      RefEvalSurface(s, 0.0, 0.25, p);  // on a sphere the unit normal is the point / R
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(out[k], p[k] / 2.0, 1e-6);
    }
    FreeBspline(s);
  }
  // A surface collapsed to a point falls back to the diagonal.
  std::vector<double> pts;
  for (int k = 0; k < 16; ++k) pts.insert(pts.end(), {1.0, 2.0, 3.0});
  Bspline* s = BuildSurface(3, 3, 4, 4, pts);
  ASSERT_NE(s, nullptr);
  double Su[3], Sv[3], n[3];
  Partials(s, 0.4, 0.6, Su, Sv);
  ComputeSurfaceNormal(s, 0.4, 0.6, Su, Sv, n);
  for (double c : n) EXPECT_NEAR(c, std::sqrt(1.0 / 3.0), 1e-15);
  FreeBspline(s);
}

// Beside the pole of a large sphere octant (1e-14 .. 1e-9 of the range from it) the partial
// round the axis is above the absolute floors yet below 1e-10 of the other: it vanishes against
// it, and the twist stands in, so the normal is the pole's direction at sizes 1e-6 .. 1e6, at the
// origin and moved 1e4 sizes away (where the pole itself has only round-off for that partial).
// (The cross product of the two counted as vanishing and fell back to the diagonal.)
TEST_F(SurfaceNormals, BesideThePoleOfALargeSurfaceTheNormalIsThePolesDirection) {
  for (bool poleInV : {true, false})
    for (double size : {1e-6, 1.0, 1e3, 1e6})
      for (double shift : {0.0, 1e4 * size}) {
        Bspline* s = SphereOctant(size, poleInV);
        ASSERT_NE(s, nullptr);
        for (double** m : {s->X, s->Y, s->Z})
          for (int k = 0; k < NumCtrlU(s) * NumCtrlV(s); ++k) m[0][k] += shift;
        const double up[3] = {0, 0, poleInV ? 1.0 : -1.0};
        for (double off : {0.0, 1e-14, 1e-12, 1e-11, 1e-9})
          for (double a : {0.0, 0.3, 1.0}) {
            const double u = poleInV ? a : 1.0 - off, v = poleInV ? 1.0 - off : a;
            double Su[3], Sv[3], n[3];
            Partials(s, u, v, Su, Sv);
            ComputeSurfaceNormal(s, u, v, Su, Sv, n);
            EXPECT_GT(Cosine(n, up), 0.999) << poleInV << " size " << size << " shift " << shift << " off " << off;
          }
        FreeBspline(s);
      }
}

// A patch whose partials have components of a few millionths of their length (the floors
// clear components below a millionth), and the sphere's pole, at 1e-7..1e6 times their size:
// SurfaceNormalsAtAnySize gives the directions it gives at unit size, the pole's substitute
// normal included. (At 1e-7 the floors of SurfaceNormalsAt, met in absolute units, cleared the
// small components and turned the patch's normals by 5e-6.)
TEST_F(SurfaceNormals, AnySizeGivesTheDirectionsOfUnitSize) {
  auto unitNormals = [](Bspline* s, const std::vector<double>& us, const std::vector<double>& vs) {
    std::vector<double> n(3 * us.size());
    SurfaceNormalsAtAnySize(s, us.data(), vs.data(), reinterpret_cast<double(*)[3]>(n.data()),
                            static_cast<int>(us.size()));
    for (size_t i = 0; i < us.size(); ++i) VecNormalize3(&n[3 * i], &n[3 * i]);
    return n;
  };
  const std::vector<double> us = {0.0, 0.3, 0.5, 1.0, 0.7}, vs = {0.0, 0.9, 1.0, 0.4, 1.0};
  for (int shape = 0; shape < 2; ++shape) {
    auto make = [&](double size) {
      Bspline* s = shape == 0 ? BuildFunctionPatch([](double x, double y) { return 5e-6 * x + 0.3 * y * y; })
                              : SphereOctant(2.0, true);
      for (double** m : {s->X, s->Y, s->Z})
        for (int k = 0; k < NumCtrlU(s) * NumCtrlV(s); ++k) m[0][k] *= size;
      return s;
    };
    Bspline* unit = make(1.0);
    const std::vector<double> want = unitNormals(unit, us, vs);
    FreeBspline(unit);
    for (double size : {1e-7, 1e-3, 1e3, 1e6}) {
      Bspline* s = make(size);
      const std::vector<double> got = unitNormals(s, us, vs);
      for (size_t k = 0; k < got.size(); ++k) EXPECT_NEAR(got[k], want[k], 1e-12) << shape << " at " << size;
      FreeBspline(s);
    }
    if (shape == 1) {  // at the pole (v = 1) the substitute is the pole's direction
      EXPECT_GT(want[3 * 2 + 2], 0.999);
    }
  }
}

TEST_F(SurfaceNormals, RadiiOfCurvatureAndCurveTangents) {
  const double R = 2.0;
  Bspline* sphere = SphereOctant(R, true);
  ASSERT_NE(sphere, nullptr);
  // The outward normal sees the surface bend away: the signed radius is -R.
  for (double u : {0.0, 0.4, 1.0})
    for (double v : {0.0, 0.5, 0.9}) EXPECT_NEAR(SurfaceCurvature(sphere, u, v), -R, 1e-6 * R);
  // At the pole it creeps inside until the partials show up: still close to -R.
  EXPECT_NEAR(SurfaceCurvature(sphere, 0.5, 1.0), -R, 0.01 * R);
  FreeBspline(sphere);

  Bspline* plane = BuildFunctionPatch([](double x, double y) { return 0.3 * x - 0.2 * y; });
  ASSERT_NE(plane, nullptr);
  EXPECT_EQ(SurfaceCurvature(plane, 0.3, 0.6), 1e10);

  Bspline* arc = BuildCurve(2, 3, {R, 0, 0, R, R, 0, 0, R, 0}, {}, {1.0, kS, 1.0});
  ASSERT_NE(arc, nullptr);
  for (double t : {0.0, 0.2, 0.5, 0.9, 1.0}) {
    EXPECT_NEAR(BsplCurveCurvature(arc, t), R, 1e-9 * R);
    double T[3], p[3];
    BsplCurveTangentDir(arc, t, T);
    RefEvalCurve(arc, t, p);
    EXPECT_NEAR(VecSize3(T), 1.0, 1e-12);
    EXPECT_NEAR(VecDotProd3(T, p), 0.0, 1e-9);  // a circle's tangent is perpendicular to the radius
    EXPECT_GT(T[1] * p[0] - T[0] * p[1], 0.0);  // counter-clockwise
  }
  FreeBspline(arc);

  Bspline* line = BuildCurve(3, 3, {0, 0, 0, 1, 1, 0, 2, 2, 0, 3, 3, 0});
  EXPECT_GT(BsplCurveCurvature(line, 0.4), 1e4);  // straight: huge, not a failure
  FreeBspline(line);

  // The sphere and the arc at sizes 1e-6 .. 1e6: the same radii relative to the size (absolute
  // floors cleared every partial of a small sphere and stood in for every small C'').
  for (double size : {1e-6, 1e-3, 1e3, 1e6}) {
    Bspline* small = SphereOctant(R * size, true);
    ASSERT_NE(small, nullptr);
    EXPECT_NEAR(SurfaceCurvature(small, 0.4, 0.5) / size, -R, 1e-6 * R) << size;
    FreeBspline(small);
    Bspline* a = BuildCurve(2, 3, {R * size, 0, 0, R * size, R * size, 0, 0, R * size, 0}, {}, {1.0, kS, 1.0});
    ASSERT_NE(a, nullptr);
    EXPECT_NEAR(BsplCurveCurvature(a, 0.3) / size, R, 1e-9 * R) << size;
    FreeBspline(a);
  }

  // A curve in a surface's parameter plane: the tangent of its image in space.
  Bspline* c = BuildCurveOnSurface(plane, 3, {0.1, 0.2, 0.4, 0.3, 0.6, 0.7, 0.9, 0.8});
  ASSERT_NE(c, nullptr);
  double T[3], uv[3], duv[3], Su[3], Sv[3], ref[3];
  BsplCurveTangentDir(c, 0.35, T);
  RefEvalCurve(c, 0.35, uv);
  RefEvalDeriv(c, 0.35, 0.0, 1, 0, duv);
  Partials(plane, uv[0], uv[1], Su, Sv);
  for (int k = 0; k < 3; ++k) ref[k] = Su[k] * duv[0] + Sv[k] * duv[1];
  EXPECT_GT(Cosine(T, ref), 1.0 - 1e-12);
  FreeBspline(plane);
}

}  // namespace
