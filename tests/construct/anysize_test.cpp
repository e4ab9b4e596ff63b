// Constructions and approximations give the same shape at every size and anywhere in space:
// each case is built at unit size, then scaled by 1e-6 .. 1e6 and moved 1e4 sizes from the
// origin, and the answer must be the unit answer mapped the same way; plus the exact answers
// the cases have (tangent planes of the surfaces they meet, rigid profiles, met tolerances).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "construct/quadrics.h"
#include "construct/srfblend.h"
#include "construct/srfmerge.h"
#include "construct/srfoffst.h"
#include "curve/crverr.h"
#include "foundation/coreglob.h"
#include "quadric/quadrics.h"
#include "splinefit/sconvert.h"
#include "stitch/srfcont.h"
#include "tests/intersect/shapes.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class AnySize : public KernelTest {};

constexpr double kSizes[] = {1e-6, 1e-3, 0.01, 0.1, 1.0, 1e3, 1e6};

// A placement: p -> size R p + shift; far away, R turns about (1, 2, 2) / 3 by 0.7 radians and
// shift lies 1e4 sizes from the origin, near by R is the identity and shift 0.
struct Place {
  double size;
  bool far;
  double R[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  double shift[3] = {0, 0, 0};
  Place(double s, bool farAway) : size(s), far(farAway) {
    if (!far) return;
    const double d[3] = {0.6, -0.48, 0.64}, a[3] = {1.0 / 3, 2.0 / 3, 2.0 / 3};
    const double c = std::cos(0.7), sn = std::sin(0.7);
    for (int i = 0; i < 3; ++i) {
      shift[i] = 1e4 * s * d[i];
      for (int j = 0; j < 3; ++j) R[i][j] = (i == j ? c : 0.0) + (1 - c) * a[i] * a[j];
    }
    R[0][1] -= sn * a[2], R[1][0] += sn * a[2];
    R[0][2] += sn * a[1], R[2][0] -= sn * a[1];
    R[1][2] -= sn * a[0], R[2][1] += sn * a[0];
  }
  void Map(const double p[3], double out[3]) const {
    double q[3];
    for (int k = 0; k < 3; ++k) q[k] = size * (R[k][0] * p[0] + R[k][1] * p[1] + R[k][2] * p[2]) + shift[k];
    for (int k = 0; k < 3; ++k) out[k] = q[k];
  }
  void Map(Bspline* b) const {
    const int nu = NumCtrlU(b), nv = b->kind == 2 ? NumCtrlV(b) : 1;
    for (int j = 0; j < nv; ++j)
      for (int i = 0; i < nu; ++i) {
        double p[3] = {b->X[j][i], b->Y[j][i], b->Z[j][i]};
        Map(p, p);
        b->X[j][i] = p[0], b->Y[j][i] = p[1], b->Z[j][i] = p[2];
      }
  }
  // Back to unit coordinates: a point, or a direction (no shift, no size).
  void Unmap(const double p[3], double out[3]) const {
    const double q[3] = {(p[0] - shift[0]) / size, (p[1] - shift[1]) / size, (p[2] - shift[2]) / size};
    for (int k = 0; k < 3; ++k) out[k] = R[0][k] * q[0] + R[1][k] * q[1] + R[2][k] * q[2];
  }
  void UnmapDirection(const double v[3], double out[3]) const {
    const double q[3] = {v[0], v[1], v[2]};
    for (int k = 0; k < 3; ++k) out[k] = R[0][k] * q[0] + R[1][k] * q[1] + R[2][k] * q[2];
  }
};

// Every size of kSizes, at the origin and turned 1e4 sizes away.
std::vector<Place> EveryPlace() {
  std::vector<Place> all;
  for (double size : kSizes)
    for (bool far : {false, true}) all.emplace_back(size, far);
  return all;
}

::testing::Message Where(const Place& pl) {
  return ::testing::Message() << "size " << pl.size << (pl.far ? " far" : " near");
}

// Largest distance between the control points of b and of ref mapped by pl, over pl's size;
// infinity when the nets differ in shape.
double NetMiss(const Bspline* b, const Bspline* ref, const Place& pl) {
  if (!b || !ref || NumCtrlU(b) != NumCtrlU(ref) || b->kind != ref->kind ||
      (b->kind == 2 && NumCtrlV(b) != NumCtrlV(ref)))
    return INFINITY;
  const int nu = NumCtrlU(b), nv = b->kind == 2 ? NumCtrlV(b) : 1;
  double worst = 0.0;
  for (int j = 0; j < nv; ++j)
    for (int i = 0; i < nu; ++i) {
      const double p[3] = {ref->X[j][i], ref->Y[j][i], ref->Z[j][i]};
      double q[3];
      pl.Map(p, q);
      const double d = std::hypot(b->X[j][i] - q[0], b->Y[j][i] - q[1], b->Z[j][i] - q[2]);
      worst = std::max(worst, d / pl.size);
    }
  return worst;
}

// ---- Bridge between a plane and a cylinder ----------------------------------------------------

struct BridgeCase {
  BsplineKeeper keep;
  Bspline* plane;
  Bspline* cyl;
  Bspline* c1;
  Bspline* c2;
  // Along the cylinder's axis from a vertical plane, or across it (along a circular arc) from a
  // horizontal one: the arc is no cubic, and the bridge's patches are split where they miss it.
  BridgeCase(const Place& pl, bool acrossAxis) {
    const double O[2][3] = {{1.5, 1.2, 0.0}, {2.0, 0.0, 0.0}};
    const double e1[3] = {1.0, 0.0, 0.0}, e2[2][3] = {{0.0, 0.0, 1.0}, {0.0, 1.0, 0.0}};
    plane = keep(shapes::Plane(O[acrossAxis], e1, e2[acrossAxis]));
    cyl = keep(shapes::HalfCylinder(1.0, 0.0, 1.0));
    pl.Map(plane);
    pl.Map(cyl);
    c1 = BuildCurveOnSurface(plane, 3, {0, 0, 0, 1.0 / 3, 0, 2.0 / 3, 0, 1});
    if (acrossAxis)
      c2 = BuildCurveOnSurface(cyl, 3, {0.05, 0.5, 0.05 + 0.25 / 3, 0.5, 0.05 + 0.5 / 3, 0.5, 0.3, 0.5});
    else
      c2 = BuildCurveOnSurface(cyl, 3, {0.25, 0, 0.25, 1.0 / 3, 0.25, 2.0 / 3, 0.25, 1});
  }
  Bspline* Bridge() { return keep(FindMergeSurfFrom2Curve2s(c1, c2, 0, 0, 1, 1, 1.0, 1.0, 0, 0)); }
  // Largest angle, degrees, between the bridge and each surface along its curve.
  double Angle(Bspline* b, double* gap) {
    double worst = 0.0;
    *gap = 0.0;
    for (int side = 0; side < 2; ++side) {
      Bspline* srfs[2] = {b, side == 0 ? plane : cyl};
      Bspline* curves[2] = {nullptr, side == 0 ? c1 : c2};
      int bndry[2] = {side == 0 ? 0 : 2, 0};
      ObjContInfo info{};
      double where[2];
      if (ComputeObjContTrimSurfs2(srfs, curves, bndry, 1, &info, where) != 0) return INFINITY;
      worst = std::max(worst, info.maxAngle);
      *gap = std::max(*gap, info.maxGap);
    }
    return worst;
  }
};

TEST_F(AnySize, BridgeMeetsBothSurfacesAtEverySize) {
  for (bool across : {false, true}) {
    BridgeCase unit(Place(1.0, false), across);
    Bspline* ref = unit.Bridge();
    ASSERT_NE(ref, nullptr);
    for (const Place& pl : EveryPlace()) {
      SCOPED_TRACE(Where(pl) << (across ? " across" : " along"));
      BridgeCase g(pl, across);
      Bspline* b = g.Bridge();
      ASSERT_NE(b, nullptr);
      double gap;
      const double angle = g.Angle(b, &gap);
      EXPECT_LT(angle, 0.5);
      EXPECT_LT(gap, 1e-3 * pl.size);
      EXPECT_LT(NetMiss(b, ref, pl), 1e-6);
    }
  }
}

// The bridge direction at a point of a plane toward a point off it is the unit projection of
// the step into the plane, whatever the plane's size (its Su x Sv goes with the size squared).
TEST_F(AnySize, BridgeDirectionIsTheProjectedStepAtEverySize) {
  const double O[3] = {0, 0, 0}, e1[3] = {1, 0, 0}, e2[3] = {0, 1, 0};
  for (const Place& pl : EveryPlace()) {
    SCOPED_TRACE(Where(pl));
    BsplineKeeper keep;
    Bspline* plane = keep(shapes::Plane(O, e1, e2));
    pl.Map(plane);
    const double uv[2] = {0.3, 0.4}, p0[3] = {0.3, 0.4, 0}, q0[3] = {0.9, 0.1, 0.5};
    double p[3], q[3], S[3][3], D[3], D0[3];
    pl.Map(p0, p);
    pl.Map(q0, q);
    const int want[3] = {0, 1, 1};
    Eval3DPointOnSurfArrayM(plane, uv[0], uv[1], want, S);
    const double T[3] = {S[1][0], S[1][1], S[1][2]};
    for (int perp : {0, 1}) {
      FindBridgeDirection(plane, uv, p, q, S[1], S[2], T, perp, D);
      pl.UnmapDirection(D, D0);
      // The step (0.6, -0.3) in the plane, or with perp the plane's perpendicular to Su, signed
      // toward it: (0, -1).
      const double want0[2][3] = {{0.6 / std::hypot(0.6, 0.3), -0.3 / std::hypot(0.6, 0.3), 0}, {0, -1, 0}};
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(D0[k], want0[perp][k], 1e-9) << perp << " " << k;
    }
  }
}

// ---- Sphere octant filled between its three neighbours ------------------------------------------

// The unit sphere's octant x, y, z >= 0 turned by the rows of R: u from the equator (z = 0) to
// the pole, v around from x to y; exact (rational biquadratic).
Bspline* Octant(const double R[3][3]) {
  const double w = std::sqrt(0.5);
  const double r[3] = {1, 1, 0}, z[3] = {0, 1, 1}, mw[3] = {1, w, 1};
  const double cx[3] = {1, 1, 0}, cy[3] = {0, 1, 1}, cw[3] = {1, w, 1};
  std::vector<double> pts, weights;
  for (int j = 0; j < 3; ++j)
    for (int i = 0; i < 3; ++i) {
      const double p[3] = {r[i] * cx[j], r[i] * cy[j], z[i]};
      for (int k = 0; k < 3; ++k) pts.push_back(R[k][0] * p[0] + R[k][1] * p[1] + R[k][2] * p[2]);
      weights.push_back(mw[i] * cw[j]);
    }
  return BuildSurface(2, 2, 3, 3, pts, {0, 0, 0, 1, 1, 1}, {0, 0, 0, 1, 1, 1}, weights);
}

// The hole of the octant x, y, z >= 0 bounded by the equators of its three neighbours (each
// turned so that the shared quarter circle is its u = 0 edge), in loop order.
struct OctantHole {
  BsplineKeeper keep;
  Bspline* sides[3];
  Bspline** patches = nullptr;
  explicit OctantHole(const Place& pl) {
    // Below (x, y >= 0, z <= 0), beside (x <= 0) and behind (y <= 0).
    const double turns[3][3][3] = {{{0, 1, 0}, {1, 0, 0}, {0, 0, -1}},
                                   {{0, 0, -1}, {0, 1, 0}, {1, 0, 0}},
                                   {{1, 0, 0}, {0, 0, -1}, {0, 1, 0}}};
    // Each side runs along its equator as the loop does: (1,0,0) -> (0,1,0) -> (0,0,1) -> (1,0,0).
    const double runs[3][2] = {{1, 0}, {0, 1}, {1, 0}};
    for (int i = 0; i < 3; ++i) {
      Bspline* s = keep(Octant(turns[i]));
      pl.Map(s);
      const double a = runs[i][0], b = runs[i][1];
      sides[i] = BuildCurveOnSurface(s, 3, {0, a, 0, a + (b - a) / 3, 0, a + 2 * (b - a) / 3, 0, b});
    }
  }
  ~OctantHole() {
    if (patches) FreeBsplineArray(patches, 3);
  }
  Bspline** Fill(int cont) {
    int sc[3] = {cont, cont, cont}, cc[3] = {1, 1, 1};
    patches = FillNSidedHole(sides, 3, sc, cc, 0.0, 0.0, -1);
    return patches;
  }
};

// Largest angle, degrees, between the patches' normals and the unit sphere's, in the unit
// coordinates of pl, at the points of their edges that lie on the hole's quarter circles.
double AngleToSphere(Bspline** p, int n, const Place& pl) {
  double worst = 0.0;
  for (int i = 0; i < n; ++i) {
    const Bspline* s = p[i];
    for (int e = 0; e < 4; ++e)
      for (int k = 1; k < 10; ++k) {
        const double f = k / 10.0;
        const double u = e < 2 ? s->umin + f * (s->umax - s->umin) : (e == 2 ? s->umin : s->umax);
        const double v = e >= 2 ? s->vmin + f * (s->vmax - s->vmin) : (e == 0 ? s->vmin : s->vmax);
        double P[3], Su[3], Sv[3], d[3], N[3];
        RefEvalSurface(s, u, v, P);
        pl.Unmap(P, d);
        const double m = std::min({std::fabs(d[0]), std::fabs(d[1]), std::fabs(d[2])});
        if (std::fabs(std::hypot(d[0], d[1], d[2]) - 1.0) > 1e-6 || m > 1e-6) continue;
        RefEvalDeriv(s, u, v, 1, 0, Su);
        RefEvalDeriv(s, u, v, 0, 1, Sv);
        const double C[3] = {Su[1] * Sv[2] - Su[2] * Sv[1], Su[2] * Sv[0] - Su[0] * Sv[2],
                             Su[0] * Sv[1] - Su[1] * Sv[0]};
        pl.UnmapDirection(C, N);
        const double cs = std::fabs(N[0] * d[0] + N[1] * d[1] + N[2] * d[2]) / std::hypot(N[0], N[1], N[2]);
        worst = std::max(worst, std::acos(std::min(cs, 1.0)) * 180.0 / M_PI);
      }
  }
  return worst;
}

TEST_F(AnySize, OctantFillMeetsTheSphereAtEverySize) {
  for (int cont : {1, 0}) {
    OctantHole unit(Place(1.0, false));
    Bspline** ref = unit.Fill(cont);
    ASSERT_NE(ref, nullptr);
    if (cont) {
      EXPECT_LT(AngleToSphere(ref, 3, Place(1.0, false)), 0.5);
    }
    for (const Place& pl : EveryPlace()) {
      SCOPED_TRACE(Where(pl) << " cont " << cont);
      OctantHole g(pl);
      Bspline** p = g.Fill(cont);
      ASSERT_NE(p, nullptr);
      const double angle = AngleToSphere(p, 3, pl);
      double miss = 0.0;
      for (int i = 0; i < 3; ++i) miss = std::max(miss, NetMiss(p[i], ref[i], pl));
      if (cont) {
        EXPECT_LT(angle, 0.5);
      }
      EXPECT_LT(miss, 1e-6);
    }
  }
}

// ---- Approximation meets its tolerance or says why ---------------------------------------------

// The largest distance, both ways, between two 3D curves (dense samples, closest points).
double CurveDeviation(Bspline* a, Bspline* b) {
  double ab = INFINITY, ba = INFINITY;
  TwoCurve3MaxDiff(a, b, 200, &ab);
  TwoCurve3MaxDiff(b, a, 200, &ba);
  return std::max(ab, ba);
}

// A cubic through 16 control points that swing from side to side, of unit size.
Bspline* WigglyCubic(const Place& pl) {
  std::vector<double> pts;
  for (int i = 0; i < 16; ++i)
    pts.insert(pts.end(), {i / 15.0, 0.1 * std::sin(2.0 * i), 0.05 * std::cos(3.0 * i)});
  Bspline* c = BuildCurve(3, 3, pts);
  pl.Map(c);
  return c;
}

// Each fit takes about a second under the sanitizers: a small everyday size near the origin and
// the extremes turned far away.
TEST_F(AnySize, CurveApproximationMeetsItsToleranceAtEverySize) {
  GridFitParams prm{};
  prm.boundaryMode = -1;
  for (const Place& pl : {Place(1e-3, false), Place(1e-6, true), Place(1e6, true)}) {
    SCOPED_TRACE(Where(pl));
    BsplineKeeper keep;
    Bspline* c = keep(WigglyCubic(pl));
    const double tol = 1e-5 * pl.size;
    Bspline* a = keep(ApproximateBspline(c, tol, 3, 0, &prm));
    if (!a) {
      EXPECT_TRUE(KernelFailedNow());
      ClearKernelError();
      continue;
    }
    const double dev = CurveDeviation(a, c);
    EXPECT_LE(dev, tol);
  }
}

// Largest distance between the two surfaces at the same parameters on a 41 x 41 grid.
double SameParameterDeviation(const Bspline* a, const Bspline* b) {
  double worst = 0.0;
  for (int j = 0; j <= 40; ++j)
    for (int i = 0; i <= 40; ++i) {
      const double u = a->umin + (a->umax - a->umin) * i / 40, v = a->vmin + (a->vmax - a->vmin) * j / 40;
      double p[3], q[3];
      RefEvalSurface(a, u, v, p);
      RefEvalSurface(b, u, v, q);
      worst = std::max(worst, std::hypot(p[0] - q[0], p[1] - q[1], p[2] - q[2]));
    }
  return worst;
}

// Largest distance, over pl's size, of the surface's grid points from the unit cylinder about the
// z axis in the unit coordinates of pl.
double OffCylinder(const Bspline* s, const Place& pl) {
  double worst = 0.0;
  for (int j = 0; j <= 40; ++j)
    for (int i = 0; i <= 40; ++i) {
      double p[3];
      RefEvalSurface(s, s->umin + (s->umax - s->umin) * i / 40, s->vmin + (s->vmax - s->vmin) * j / 40, p);
      pl.Unmap(p, p);
      worst = std::max(worst, std::fabs(std::hypot(p[0], p[1]) - 1.0));
    }
  return worst;
}

// The quarter of the unit cylinder about the z axis, 0 <= z <= 1: rational 2 x 1.
Bspline* QuarterCylinder(const Place& pl) {
  const double w = std::sqrt(0.5);
  std::vector<double> pts;
  for (int j = 0; j < 2; ++j) pts.insert(pts.end(), {1, 0, double(j), 1, 1, double(j), 0, 1, double(j)});
  Bspline* s = BuildSurface(2, 1, 3, 2, pts, {0, 0, 0, 1, 1, 1}, {0, 0, 1, 1}, {1, w, 1, 1, w, 1});
  pl.Map(s);
  return s;
}

TEST_F(AnySize, RationalSurfaceApproximationMeetsItsToleranceOrSaysWhy) {
  GridFitParams prm{};
  prm.boundaryMode = -1;
  for (const Place& pl : EveryPlace()) {
    SCOPED_TRACE(Where(pl));
    BsplineKeeper keep;
    Bspline* s = keep(QuarterCylinder(pl));
    const double tol = 1e-4 * pl.size;
    Bspline* a = keep(ApproximateBspline(s, tol, 3, 3, &prm));
    ASSERT_NE(a, nullptr);
    EXPECT_LE(OffCylinder(a, pl) * pl.size, tol);
    EXPECT_LE(SameParameterDeviation(a, s), tol);
    EXPECT_FALSE(a->rational);
  }
}

// A rational net of 9 x 8 points with weights between 0.3 and 3 (biquadratic, unit size) is met
// within 1e-4; a roof of two planes meeting at a ridge cannot be held by a bicubic within 1e-6 of
// its size: refused, with the error state set and the deviation reached named.
TEST_F(AnySize, SurfaceApproximationMeetsItsToleranceOrNamesTheMiss) {
  GridFitParams prm{};
  prm.boundaryMode = -1;
  {
    BsplineKeeper keep;
    std::vector<double> pts, w;
    for (int j = 0; j < 8; ++j)
      for (int i = 0; i < 9; ++i) {
        pts.insert(pts.end(), {i / 8.0, j / 7.0, 0.2 * std::sin(1.3 * i + 0.7 * j)});
        w.push_back(0.3 + 2.7 * (i + j) / 15.0);
      }
    Bspline* s = keep(BuildSurface(2, 2, 9, 8, pts, {}, {}, w));
    Bspline* a = keep(ApproximateBspline(s, 1e-4, 3, 3, &prm));
    ASSERT_NE(a, nullptr);
    EXPECT_LE(SameParameterDeviation(a, s), 1e-4);
  }
  BsplineKeeper keep;
  const std::vector<double> roof = {0, 0, 0, 0.5, 0, 0.4, 1, 0, 0, 0, 1, 0, 0.5, 1, 0.4, 1, 1, 0};
  Bspline* s = keep(BuildSurface(1, 1, 3, 2, roof, {0, 0, 0.5, 1, 1}, {0, 0, 1, 1}));
  const size_t before = Messages().size();
  EXPECT_EQ(ApproximateBspline(s, 1e-6, 3, 3, &prm), nullptr);
  EXPECT_TRUE(KernelFailedNow());
  EXPECT_NE(Messages().substr(before).find("not reached, the closest fit deviates"), std::string::npos);
  ClearKernelError();
}

// ---- Offsets of recognised quadrics --------------------------------------------------------------

// A sphere recognised from its points (its radius as fitted, within round-off of the true one)
// and offset by exactly the true radius toward its centre collapses at every size: refused with
// the limit, never handed back as a sphere of a few billionths of the size.
TEST_F(AnySize, RecognisedSphereOffsetToItsCentreIsRefused) {
  for (const Place& pl : EveryPlace()) {
    SCOPED_TRACE(Where(pl));
    BsplineKeeper keep;
    const double o[3] = {0.3, -0.2, 0.1};
    double c[3];
    pl.Map(o, c);
    const double R = 0.5 * pl.size;
    Bspline* s = keep(CreateSphereBspline(c[0], c[1], c[2], R));
    ASSERT_NE(s, nullptr);
    FreeQuadricInfo(s);
    int found = 0;
    ASSERT_EQ(IdentifySurfQuadric(&s, 1, 2, &found), 0);
    ASSERT_EQ(found, 1);
    double limit = 0.0;
    const bool inward = CheckForQuadricSurface(s, 0.0, &limit) == -10 && limit != 100000.0;
    const double d = inward ? R : -R;
    EXPECT_EQ(CheckForQuadricSurface(s, d, &limit), -100);
    EXPECT_EQ(keep(OffsetQuadricSurface(s, d, &limit)), nullptr);
    EXPECT_NEAR(limit, d, 1e-6 * R);
    // Half way is a sphere of half the radius.
    Bspline* half = keep(OffsetQuadricSurface(s, 0.5 * d, &limit));
    ASSERT_NE(half, nullptr);
    EXPECT_NEAR(std::fabs(half->quadric->v[0]), 0.5 * R, 1e-6 * R);
  }
}

}  // namespace
