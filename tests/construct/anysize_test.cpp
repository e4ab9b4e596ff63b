// Constructions and approximations give the same shape at every size and anywhere in space:
// each case is built at unit size, then scaled by 1e-6 .. 1e6 and moved 1e4 sizes from the
// origin, and the answer must be the unit answer mapped the same way; plus the exact answers
// the cases have (tangent planes of the surfaces they meet, rigid profiles, met tolerances).
#include <algorithm>
#include <cctype>
#include <functional>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "cloud/makecld.h"
#include "construct/crv2srf.h"
#include "construct/extend.h"
#include "construct/extrude.h"
#include "construct/quadrics.h"
#include "construct/srfblend.h"
#include "construct/srfloft.h"
#include "construct/srfmerge.h"
#include "construct/srfrevol.h"
#include "construct/srfoffst.h"
#include "construct/srfr2nr.h"
#include "curve/crverr.h"
#include "curve/fittotol.h"
#include "foundation/coreglob.h"
#include "foundation/geometry.h"
#include "foundation/umalloc.h"
#include "quadric/cone.h"
#include "quadric/cylinder.h"
#include "quadric/qarc.h"
#include "quadric/quadrics.h"
#include "quadric/sphere.h"
#include "splinefit/sconvert.h"
#include "stitch/srfcont.h"
#include "stitch/userdef.h"
#include "surface/railsweep.h"
#include "surface/srfutils.h"
#include "tests/intersect/shapes.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/placement.h"
#include "tests/support/point_sets.h"

namespace {

class AnySize : public KernelTest {};

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


// ---- One table over the fitting and construction entries -----------------------------------------

// An entry's answer in the unit coordinates of its placement: points and control points mapped
// back, lengths over the size, directions turned back (one sign: the largest component
// positive), ratios and angles as they are.
struct Answer {
  std::vector<double> values;
  void Point(const Place& pl, const double p[3]) {
    double q[3];
    pl.Unmap(p, q);
    values.insert(values.end(), q, q + 3);
  }
  void Direction(const Place& pl, const double d[3]) {
    double q[3];
    pl.UnmapDirection(d, q);
    const double n = std::hypot(q[0], q[1], q[2]);
    int k = 0;
    for (int i = 1; i < 3; ++i)
      if (std::fabs(q[i]) > std::fabs(q[k])) k = i;
    const double s = q[k] < 0 ? -1.0 / n : 1.0 / n;
    for (double c : q) values.push_back(s * c);
  }
  void Length(const Place& pl, double l) { values.push_back(l / pl.size); }
  void Ratio(double r) { values.push_back(r); }
  void Net(const Place& pl, const Bspline* b) {
    const int nu = NumCtrlU(b), nv = b->kind == 2 ? NumCtrlV(b) : 1;
    for (int j = 0; j < nv; ++j)
      for (int i = 0; i < nu; ++i) {
        const double p[3] = {b->X[j][i], b->Y[j][i], b->Z[j][i]};
        Point(pl, p);
        if (b->rational) Ratio(b->W[j][i]);
      }
  }
};

// Where an entry runs: every place; three (the slow ones: 1e-3 near, 1e-6 and 1e6 far); or
// every size near the origin only (fits whose discrete choices, such as knot counts, follow the
// single-precision rounding of points far away).
enum Places { kEvery, kFew, kNear };

// One entry: its name, where it runs, the largest difference from the unit answer allowed near
// the origin and far from it, and the run: build the case at pl, call the entry, check its exact
// answers and write the answer; false when the entry failed.
struct Entry {
  std::string name;
  Places places;
  double nearTol, farTol;
  std::function<bool(const Place&, Answer*)> run;
};

// Single-precision points (the fits' input) far away are rounded to 6e-4 of the size.
constexpr double kFloatFar = 3e-3;

// Points p(i) of a unit case, mapped and rounded to floats.
template <class F>
PointSet PlacedPoints(const Place& pl, int n, F p) {
  PointSet s;
  for (int i = 0; i < n; ++i) {
    double q[3];
    p(i, q);
    pl.Map(q, q);
    s.add(q);
  }
  return s;
}

// FitCone's apex, axis and half-angle tangent for the points, as the table compares them.
bool ConeAnswer(const Place& pl, const PointSet& p, Answer* out) {
  QuadricInfo q{};
  double err;
  if (FitCone(p.x.data(), p.y.data(), p.z.data(), p.n(), &q, &err) != 0) return false;
  out->Point(pl, q.v);
  out->Direction(pl, q.v + 3);
  out->Ratio(q.v[6]);
  return true;
}

// A 120-degree sector of the cylinder of radius 0.5 about the axis (0.36, 0.48, -0.8) ... one
// unit high.
void CylinderPoint(int i, double q[3]) {
  const double e0[3] = {0.36, 0.48, -0.8}, e1[3] = {-0.8, 0.6, 0.0}, a[3] = {0.48, 0.64, 0.6};
  const double t = 2.1 * (i % 12) / 11, h = 0.1 * (i / 12);
  for (int k = 0; k < 3; ++k) q[k] = 0.3 + h * a[k] + 0.5 * (std::cos(t) * e0[k] + std::sin(t) * e1[k]);
}

// A 10-degree cone, apex at the origin, axis z, heights 0.5 .. 1.5, all the way round.
void ConePoint(int i, double q[3]) {
  const double h = 0.5 + 0.1 * (i / 12), t = 2 * M_PI * (i % 12 + 0.4 * (i / 12)) / 12;
  const double r = h * std::tan(10 * M_PI / 180);
  q[0] = r * std::cos(t), q[1] = r * std::sin(t), q[2] = h;
}

// A cap of the sphere of radius 0.7 about (0.1, -0.2, 0.3).
void SpherePoint(int i, double q[3]) {
  const double th = 0.2 + 0.12 * (i / 10), ph = 2 * M_PI * (i % 10) / 10;
  const double c[3] = {0.1, -0.2, 0.3};
  q[0] = c[0] + 0.7 * std::sin(th) * std::cos(ph), q[1] = c[1] + 0.7 * std::sin(th) * std::sin(ph);
  q[2] = c[2] + 0.7 * std::cos(th);
}

// The two-step fill of the octant hole: the centre, its plane and the patches around it, the
// virtual surfaces; tangent fills meet the sphere.
bool TwoStepFill(const Place& pl, int cont, Answer* out) {
  OctantHole g(pl);
  int sc[3] = {cont, cont, cont}, cc[3] = {1, 1, 1};
  Bspline **pos = nullptr, **cs = nullptr, **vc = nullptr, **vs = nullptr;
  int* flags = nullptr;
  double plane[4];
  double* centre = FillNSidedHoleInit(g.sides, 3, sc, cc, 0.0, 0.0, -1, &pos, &cs, &vc, &vs, plane, &flags);
  if (!centre) return false;
  Bspline** p = FillNSidedHoleWCenter(pos, cs, 3, centre, plane, flags, flags + 3, cc, 0.0, 0.0, 1);
  out->Point(pl, centre);
  out->Direction(pl, plane);
  for (int i = 0; i < 3; ++i) {
    if (vs[i]) out->Net(pl, vs[i]);
    if (vc[i]) FreeBspline(vc[i]);
    if (vs[i]) FreeBspline(vs[i]);
  }
  Free(vc), Free(vs), Free(flags), Free(centre);
  if (!p) return false;  // the failed second step took pos and cs
  FreeBsplineArray(pos, 3);
  FreeBsplineArray(cs, 3);
  for (int i = 0; i < 3; ++i) out->Net(pl, p[i]);
  if (cont) {
    EXPECT_LT(AngleToSphere(p, 3, pl), 0.5);
  }
  FreeBsplineArray(p, 3);
  return true;
}

// A helix of two turns (drawn by 9 or, finer, 17 points) and a planar S-curve, as cubic control
// polygons, lifted by `lift` along z.
enum class PathShape { Helix, FineHelix, SCurve };

Bspline* SweepPath(PathShape shape, double lift = 0.0) {
  std::vector<double> pts;
  const int n = shape == PathShape::FineHelix ? 17 : 9;
  for (int i = 0; i < n; ++i) {
    const double t = i / (n - 1.0);
    if (shape != PathShape::SCurve)
      pts.insert(pts.end(), {std::cos(4 * M_PI * t), std::sin(4 * M_PI * t), 0.8 * t + lift});
    else
      pts.insert(pts.end(), {t, 0.3 * std::sin(2 * M_PI * t), lift});
  }
  return BuildCurve(3, 3, pts);
}

// A square of side 0.1 across the path's start swept along it, turned with the path or carried;
// every row is the square moved rigidly.
bool Sweep(const Place& pl, PathShape shape, bool carried, Answer* out) {
  BsplineKeeper keep;
  Bspline* path = keep(SweepPath(shape));
  double P0[3], T0[3];
  RefEvalCurve(path, path->umin, P0);
  RefEvalDeriv(path, path->umin, 0.0, 1, 0, T0);
  double a[3] = {-T0[1], T0[0], 0}, b[3];
  const double la = std::hypot(a[0], a[1], a[2]);
  for (double& c : a) c /= la;
  const double lt = std::hypot(T0[0], T0[1], T0[2]);
  b[0] = (T0[1] * a[2] - T0[2] * a[1]) / lt, b[1] = (T0[2] * a[0] - T0[0] * a[2]) / lt,
  b[2] = (T0[0] * a[1] - T0[1] * a[0]) / lt;
  std::vector<double> sq;
  const double corners[5][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}, {-1, -1}};
  for (const auto& c : corners)
    for (int k = 0; k < 3; ++k) sq.push_back(P0[k] + 0.05 * (c[0] * a[k] + c[1] * b[k]));
  Bspline* profile = keep(BuildCurve(1, 3, sq));
  pl.Map(path);
  pl.Map(profile);
  Bspline* s = keep(carried ? NewExtrudeWRotation(profile, path, 0) : ExtrudeWRotation(profile, path, 0));
  if (!s) return false;
  // Sides 0.1 and diagonals 0.1 sqrt 2 in every row.
  double worst = 0.0;
  for (int j = 0; j < NumCtrlV(s); ++j)
    for (int i = 0; i < 4; ++i)
      for (int m = i + 1; m < 4; ++m) {
        const double d = std::hypot(s->X[j][i] - s->X[j][m], s->Y[j][i] - s->Y[j][m], s->Z[j][i] - s->Z[j][m]);
        worst = std::max(worst, std::fabs(d / pl.size - (m - i == 2 ? 0.1 * std::sqrt(2.0) : 0.1)));
      }
  EXPECT_LT(worst, 1e-9);
  out->Net(pl, s);
  return true;
}

// The path's shape again 0.3 higher (gen1) and the path itself (gen2) as the generators of a
// two-generator sweep whose path is a bent cubic from gen2's start up to gen1's; row 0 is that
// cubic.
bool TwoGeneratorSweep(const Place& pl, PathShape shape, Answer* out) {
  BsplineKeeper keep;
  Bspline* gen1 = keep(SweepPath(shape, 0.3));
  Bspline* gen2 = keep(SweepPath(shape));
  const double s0[3] = {gen2->X[0][0], gen2->Y[0][0], gen2->Z[0][0]};
  Bspline* path = keep(BuildCurve(3, 3, {s0[0], s0[1], s0[2], s0[0] + 0.05, s0[1] + 0.05, s0[2] + 0.1, s0[0] + 0.05,
                                         s0[1] - 0.05, s0[2] + 0.2, s0[0], s0[1], s0[2] + 0.3}));
  for (Bspline* c : {gen1, gen2, path}) pl.Map(c);
  Bspline* p = keep(CopyBsplineStruct(path));
  Bspline* s = keep(ExtrudeW2Generators(gen1, gen2, path));
  if (!s) return false;
  for (int i = 0; i < NumCtrlU(p); ++i) {
    const double a[3] = {s->X[0][i], s->Y[0][i], s->Z[0][i]}, b[3] = {p->X[0][i], p->Y[0][i], p->Z[0][i]};
    EXPECT_LT(std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]), 1e-12 * pl.size) << i;
  }
  out->Net(pl, s);
  return true;
}

// The cubic approximation of the placed input (taken over) within tol of the size.
bool Approximated(const Place& pl, Bspline* input, double tol, int degreeV, Answer* out) {
  BsplineKeeper keep;
  keep(input);
  GridFitParams prm{};
  prm.boundaryMode = -1;
  Bspline* a = keep(ApproximateBspline(input, tol * pl.size, 3, degreeV, &prm));
  if (!a) return false;
  out->Net(pl, a);
  return true;
}

std::vector<Entry> Entries() {
  std::vector<Entry> e;
  // Hole fills and bridges: the unit answer mapped, to round-off.
  for (int cont : {1, 0}) {
    const std::string how = cont ? " tangent" : " position";
    e.push_back({"FillNSidedHole" + how, kEvery, 1e-9, 1e-6, [cont](const Place& pl, Answer* out) {
                   OctantHole g(pl);
                   Bspline** p = g.Fill(cont);
                   if (!p) return false;
                   if (cont) {
                     EXPECT_LT(AngleToSphere(p, 3, pl), 0.5);
                   }
                   for (int i = 0; i < 3; ++i) out->Net(pl, p[i]);
                   return true;
                 }});
    e.push_back({"FillNSidedHoleInit and FillNSidedHoleWCenter" + how, kEvery, 1e-9, 1e-6,
                 [cont](const Place& pl, Answer* out) { return TwoStepFill(pl, cont, out); }});
  }
  for (bool across : {false, true})
    e.push_back({std::string("FindMergeSurfFrom2Curve2s ") + (across ? "across" : "along"), kEvery, 1e-9, 1e-6,
                 [across](const Place& pl, Answer* out) {
                   BridgeCase g(pl, across);
                   Bspline* b = g.Bridge();
                   if (!b) return false;
                   double gap;
                   EXPECT_LT(g.Angle(b, &gap), 0.5);
                   EXPECT_LT(gap, 1e-3 * pl.size);
                   out->Net(pl, b);
                   return true;
                 }});
  // Sweeps along a helix and an S-curve: the path is refitted within a thousandth of its size, which far away
  // sees the coordinates' rounding. The refit of the finer helix has knots crowded near its start, where the
  // principal normal magnifies the round-off of the placed input (1e-15) to a few 1e-7 of the size; the
  // carried normal does not.
  const std::pair<PathShape, const char*> shapes[3] = {
      {PathShape::Helix, " helix"}, {PathShape::FineHelix, " finer helix"}, {PathShape::SCurve, " S-curve"}};
  for (const auto& [shape, what] : shapes) {
    const double principalTol = shape == PathShape::FineHelix ? 1e-6 : 1e-8;
    for (bool carried : {true, false})
      e.push_back({std::string(carried ? "NewExtrudeWRotation" : "ExtrudeWRotation") + what, kEvery,
                   carried ? 1e-8 : principalTol, 3e-5,
                   [shape, carried](const Place& pl, Answer* out) { return Sweep(pl, shape, carried, out); }});
    // Its inner sweeps take the principal normal.
    if (shape != PathShape::Helix)
      e.push_back({std::string("ExtrudeW2Generators") + what, kEvery, principalTol, 3e-5,
                   [shape](const Place& pl, Answer* out) { return TwoGeneratorSweep(pl, shape, out); }});
  }
  // Fits of single-precision points: the same to the points' rounding.
  e.push_back({"FitCylinder", kEvery, 1e-5, kFloatFar, [](const Place& pl, Answer* out) {
                 const PointSet p = PlacedPoints(pl, 120, CylinderPoint);
                 double P[3], A[3], r, err;
                 if (FitCylinder(p.x.data(), p.y.data(), p.z.data(), p.n(), P, A, &r, &err) != 0) return false;
                 out->Point(pl, P);
                 out->Direction(pl, A);
                 out->Length(pl, r);
                 return true;
               }});
  e.push_back({"FitCone", kEvery, 1e-5, kFloatFar, [](const Place& pl, Answer* out) {
                 return ConeAnswer(pl, PlacedPoints(pl, 132, ConePoint), out);
               }});
  e.push_back({"FitSphere", kEvery, 1e-5, kFloatFar, [](const Place& pl, Answer* out) {
                 const PointSet p = PlacedPoints(pl, 80, SpherePoint);
                 double c[3], r, err;
                 if (FitSphere(p.x.data(), p.y.data(), p.z.data(), p.n(), c, &r, &err) != 0) return false;
                 out->Point(pl, c);
                 out->Length(pl, r);
                 return true;
               }});
  // A 120-degree arc of radius 0.5 about (0.2, -0.1, 0.3) in z = 0.3: centre, normal, radius
  // and sweep.
  e.push_back({"FitArcBspline", kEvery, 1e-5, kFloatFar, [](const Place& pl, Answer* out) {
                 const PointSet p = PlacedPoints(pl, 25, [](int i, double q[3]) {
                   const double t = 0.3 + 2.1 * i / 24;
                   q[0] = 0.2 + 0.5 * std::cos(t), q[1] = -0.1 + 0.5 * std::sin(t), q[2] = 0.3;
                 });
                 int status = 0;
                 Bspline* a = FitArcBspline(p.x.data(), p.y.data(), p.z.data(), p.n(), &status);
                 if (!a) return false;
                 out->Point(pl, a->quadric->v);
                 out->Direction(pl, a->quadric->v + 3);
                 out->Length(pl, a->quadric->v[6]);
                 out->Ratio(a->quadric->v[7] / 360);
                 FreeBspline(a);
                 return true;
               }});
  // A cone half a degree short of flat: its single-precision points far away leave the radial
  // deviations (magnified a hundredfold) to a plane-like cylinder, so near the origin only.
  e.push_back({"FitCone nearly flat", kNear, 1e-5, 0.0, [](const Place& pl, Answer* out) {
                 const PointSet p = PlacedPoints(pl, 96, [](int i, double q[3]) {
                   const double half = 89.5 * M_PI / 180, s = 0.5 + (i / 12) / 7.0;
                   const double t = 2 * M_PI * (i % 12 + 0.41 * (i / 12)) / 12;
                   q[0] = 0.1 + s * std::sin(half) * std::cos(t), q[1] = -0.2 + s * std::sin(half) * std::sin(t);
                   q[2] = 0.3 + s * std::cos(half);
                 });
                 return ConeAnswer(pl, p, out);
               }});
  e.push_back({"PlaneFit", kEvery, 1e-5, kFloatFar, [](const Place& pl, Answer* out) {
                 const PointSet p = PlacedPoints(pl, 30, [](int i, double q[3]) {
                   q[0] = 0.1 * (i % 6), q[1] = 0.1 * (i / 6), q[2] = 0.3 * q[0] - 0.2 * q[1];
                 });
                 double plane[4];
                 if (PlaneFit(p.x.data(), p.y.data(), p.z.data(), p.n(), plane) != 1) return false;
                 out->Direction(pl, plane);
                 return true;
               }});
  // A sphere recognised and offset half way to its centre.
  e.push_back({"IdentifySurfQuadric and OffsetQuadricSurface", kEvery, 1e-8, 1e-6, [](const Place& pl, Answer* out) {
                 BsplineKeeper keep;
                 const double o[3] = {0.3, -0.2, 0.1};
                 double c[3];
                 pl.Map(o, c);
                 Bspline* s = keep(CreateSphereBspline(c[0], c[1], c[2], 0.5 * pl.size));
                 if (!s) return false;
                 FreeQuadricInfo(s);
                 int found = 0;
                 if (IdentifySurfQuadric(&s, 1, 2, &found) != 0 || found != 1) return false;
                 double limit = 0.0;
                 const bool inward = CheckForQuadricSurface(s, 0.0, &limit) == -10 && limit != 100000.0;
                 Bspline* half = keep(OffsetQuadricSurface(s, (inward ? 0.25 : -0.25) * pl.size, &limit));
                 if (!half) return false;
                 // The sphere is made about the axes, not turned with the place: its exact form
                 // is the answer.
                 out->Length(pl, std::fabs(half->quadric->v[0]));
                 out->Point(pl, half->quadric->v + 1);
                 return true;
               }});
  // The general quadric of a cylinder sector: its residual function at fixed unit points,
  // over the size squared (one sign), is the unit one; a sector's quadric magnifies the points'
  // rounding far away a few times more than the surface fits do.
  e.push_back({"QuadricsFit", kEvery, 1e-6, 3 * kFloatFar, [](const Place& pl, Answer* out) {
                 const PointSet p = PlacedPoints(pl, 120, CylinderPoint);
                 double c[10], eig;
                 if (QuadricsFit(p.x.data(), p.y.data(), p.z.data(), p.n(), c, &eig) != 1) return false;
                 std::vector<double> q;
                 for (int k = 0; k < 8; ++k) {
                   const double y[3] = {0.2 + 0.5 * (k & 1), -0.1 + 0.6 * ((k >> 1) & 1), 0.1 + 0.4 * (k >> 2)};
                   double x[3];
                   pl.Map(y, x);
                   q.push_back((c[0] * x[0] * x[0] + c[1] * x[1] * x[1] + c[2] * x[2] * x[2] + c[3] * x[0] * x[1] +
                                c[4] * x[0] * x[2] + c[5] * x[1] * x[2] + c[6] * x[0] + c[7] * x[1] + c[8] * x[2] + c[9]) /
                               (pl.size * pl.size));
                 }
                 const double sign = q[0] < 0 ? -1.0 : 1.0;
                 for (double v : q) out->Ratio(sign * v);
                 return true;
               }});
  // A tolerance fit to 150 exact points of a trefoil, within 1e-3 of the size.
  e.push_back({"FitToToleranceMeasured", kNear, 1e-6, 0.0, [](const Place& pl, Answer* out) {
                 const PointSet p = PlacedPoints(pl, 150, [](int i, double q[3]) {
                   const double t = 2 * M_PI * i / 150;
                   q[0] = 0.2 * (std::sin(t) + 2 * std::sin(2 * t)), q[1] = 0.2 * (std::cos(t) - 2 * std::cos(2 * t));
                   q[2] = -0.2 * std::sin(3 * t);
                 });
                 Cloud* cloud = MakeCld(p.x.data(), p.y.data(), p.z.data(), p.n(), nullptr);
                 if (!cloud) return false;
                 int status = 0;
                 double dev = 0.0;
                 Bspline* c = FitToToleranceMeasured(cloud, nullptr, 1e-3 * pl.size, 0.1 * pl.size, 0, 3, &status, 0, 0,
                                                     &dev, true);
                 FreeCloud(cloud);
                 if (!c) return false;
                 EXPECT_LE(dev, 1e-3 * pl.size);
                 out->Net(pl, c);
                 FreeBspline(c);
                 return true;
               }});
  // Lofts, ruled and extruded surfaces, revolutions, extensions and offsets of placed curves and
  // surfaces.
  e.push_back({"NonFeatureMatchedLoft and FeatureMatchedLoft tangent to a sphere", kEvery, 1e-9, 1e-6, [](const Place& pl, Answer* out) {
                 BsplineKeeper keep;
                 const double I[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
                 Bspline* s = keep(Octant(I));
                 pl.Map(s);
                 // The octant's equator (u = 0), then two quarter circles above and beside it.
                 Bspline* eq = BuildCurveOnSurface(s, 3, {0, 0, 0, 1.0 / 3, 0, 2.0 / 3, 0, 1});
                 Bspline* c[3] = {eq, nullptr, nullptr};
                 for (int k = 1; k < 3; ++k) {
                   std::vector<double> pts;
                   for (int i = 0; i < 4; ++i) {
                     const double a = M_PI / 2 * i / 3;
                     pts.insert(pts.end(), {(1 + 0.3 * k) * std::cos(a), (1 + 0.3 * k) * std::sin(a), -0.4 * k});
                   }
                   c[k] = keep(BuildCurve(3, 3, pts));
                   pl.Map(c[k]);
                 }
                 int ends[2] = {1, 0}, modes[2] = {0, 0};
                 double spans[2] = {1.0, 1.0};
                 Bspline* loft = keep(NonFeatureMatchedLoft(3, c, 0.0, 3, ends, spans, nullptr, 0.0, 0.0, -1, modes, 0, 0));
                 // The same cut at the middle of every curve.
                 double features[3] = {0.5, 0.5, 0.5};
                 Bspline* cut = keep(FeatureMatchedLoft(c, 3, features, 1, 0.0, 3, ends, spans, nullptr, 0.0, 0.0, -1,
                                                        modes));
                 if (!loft || !cut) return false;
                 out->Net(pl, loft);
                 out->Net(pl, cut);
                 return true;
               }});
  e.push_back({"RuledSurface, CreateExtrudeSurface and RevolveCurveGeometry", kEvery, 1e-9, 1e-6,
               [](const Place& pl, Answer* out) {
                 BsplineKeeper keep;
                 Bspline* a = keep(WigglyCubic(pl));
                 Bspline* b = keep(WigglyCubic(pl));
                 const double lift[3] = {0.1, 0.5, 0.2};
                 double d[3];
                 pl.MapDirection(lift, d);
                 for (int i = 0; i < NumCtrlU(b); ++i)
                   b->X[0][i] += pl.size * d[0], b->Y[0][i] += pl.size * d[1], b->Z[0][i] += pl.size * d[2];
                 Bspline* ruled = keep(RuledSurface(a, b));
                 Bspline* ext = keep(CreateExtrudeSurface(a, 0, d, 0.7 * pl.size));
                 const double q0[3] = {0, -0.5, 0}, q1[3] = {1, -0.4, 0.2};
                 double p0[3], p1[3];
                 pl.Map(q0, p0);
                 pl.Map(q1, p1);
                 Bspline* rev = keep(RevolveCurveGeometry(a, p0, p1, 0.0, 120.0));
                 if (!ruled || !ext || !rev) return false;
                 out->Net(pl, ruled);
                 out->Net(pl, ext);
                 out->Net(pl, rev);
                 return true;
               }});
  e.push_back({"ExtendObjectByLengthG2 and CreateOffsetSurfaceBspline", kEvery, 1e-9, 1e-6,
               [](const Place& pl, Answer* out) {
                 BsplineKeeper keep;
                 Bspline* s = keep(QuarterCylinder(pl));
                 Bspline* ext = keep(ExtendObjectByLengthG2(s, 0.3 * pl.size, 0, 1));
                 if (!ext) return false;
                 out->Net(pl, ext);
                 // The offset by 0.2 of a 9 x 5 grid of the quarter cylinder with its normals.
                 std::vector<double> x, y, z, n;
                 for (int j = 0; j < 5; ++j)
                   for (int i = 0; i < 9; ++i) {
                     const double t = M_PI / 2 * i / 8, q[3] = {std::cos(t), std::sin(t), j / 4.0};
                     const double nq[3] = {q[0], q[1], 0.0};
                     double P[3], N[3];
                     pl.Map(q, P);
                     pl.MapDirection(nq, N);
                     x.push_back(P[0]), y.push_back(P[1]), z.push_back(P[2]);
                     n.insert(n.end(), N, N + 3);
                   }
                 Bspline* off = keep(CreateOffsetSurfaceBspline(s, x.data(), y.data(), z.data(), n.data(), 9, 5,
                                                                0.2 * pl.size, 1e-6 * pl.size));
                 if (!off) return false;
                 out->Net(pl, off);
                 return true;
               }});
  // Caps over a loop of four arcs of the unit circle, position only, and over a circle drawn on
  // a bent patch, tangent to it.
  for (int cont : {0, 1})
    e.push_back({cont ? "FillNBoundaryCap tangent" : "FillNBoundaryCap position", kEvery, 1e-9, 1e-6,
                 [cont](const Place& pl, Answer* out) {
                   BsplineKeeper keep;
                   Bspline* srf = keep(BuildFunctionPatch([](double x, double y) { return 0.3 * x * y; }));
                   pl.Map(srf);
                   Bspline* sides[4];
                   for (int i = 0; i < 4; ++i) {
                     // A clockwise quarter of the circle of radius 0.3 about (0.5, 0.5), cubic.
                     const double a = -M_PI / 2 * i, b = -M_PI / 2 * (i + 1);
                     const double k = 4.0 / 3.0 * std::tan((b - a) / 4) * 0.3;
                     const double p[2] = {0.5 + 0.3 * std::cos(a), 0.5 + 0.3 * std::sin(a)};
                     const double q[2] = {0.5 + 0.3 * std::cos(b), 0.5 + 0.3 * std::sin(b)};
                     const std::vector<double> uv = {p[0], p[1], p[0] - k * std::sin(a), p[1] + k * std::cos(a),
                                                     q[0] + k * std::sin(b), q[1] - k * std::cos(b), q[0], q[1]};
                     Bspline* onSrf = BuildCurveOnSurface(srf, 3, uv);
                     if (cont) {
                       sides[i] = onSrf;
                     } else {
                       // The same arc as a 3D curve.
                       std::vector<double> pts;
                       for (int j = 0; j < 4; ++j) {
                         double P[3];
                         RefEvalSurface(srf, uv[2 * j], uv[2 * j + 1], P);
                         pts.insert(pts.end(), P, P + 3);
                       }
                       sides[i] = keep(BuildCurve(3, 3, pts));
                     }
                   }
                   int sc[4] = {cont, cont, cont, cont}, cc[4] = {1, 1, 1, 1};
                   Bspline** cap = FillNBoundaryCap(sides, 4, sc, cc, 0.001 * pl.size, 5.0);
                   if (!cap) return false;
                   out->Net(pl, cap[0]);
                   FreeBsplineArray(cap, 1);
                   return true;
                 }});
  // A profile carried along two paths that hold its ends.
  e.push_back({"ExtrudeW2PathCurves", kEvery, 1e-9, 1e-6, [](const Place& pl, Answer* out) {
                 BsplineKeeper keep;
                 Bspline* profile = keep(BuildCurve(3, 3, {0, 0, 0, 0.3, 0.2, 0.1, 0.6, -0.1, 0.1, 1, 0, 0}));
                 Bspline* p1 = keep(BuildCurve(3, 3, {0, 0, 0, 0.1, 0.4, 0.2, -0.1, 0.8, 0.3, 0, 1.2, 0.5}));
                 Bspline* p2 = keep(BuildCurve(3, 3, {1, 0, 0, 1.2, 0.4, -0.1, 1.4, 0.9, 0.0, 1.5, 1.3, 0.2}));
                 for (Bspline* c : {profile, p1, p2}) pl.Map(c);
                 Bspline* s = keep(ExtrudeW2PathCurves(profile, p1, p2, 1e-6 * pl.size));
                 if (!s) return false;
                 out->Net(pl, s);
                 return true;
               }});
  // A profile whose ends lie a hundred-thousandth of its size apart, swept between two rails that
  // start at its ends and part to twice that: every row is the profile doubled.
  e.push_back({"SweepProfileAlongRails nearly closed", kEvery, 1e-9, 1e-6, [](const Place& pl, Answer* out) {
                 BsplineKeeper keep;
                 Bspline* profile = keep(BuildCurve(3, 3, {0, 0, 0, 0.5, 0.8, 0.1, -0.5, 0.8, 0.1, 1e-5, 0, 0}));
                 Bspline* r1 = keep(BuildCurve(1, 3, {0, 0, 0, -0.5e-5, 0, 1}));
                 Bspline* r2 = keep(BuildCurve(1, 3, {1e-5, 0, 0, 1.5e-5, 0, 1}));
                 for (Bspline* c : {profile, r1, r2}) pl.Map(c);
                 Bspline* s = keep(SweepProfileAlongRails(profile, r1, r2, 1e-7 * pl.size));
                 if (!s) return false;
                 // The top row's ends are 2e-5 apart, its middle twice as far from them as row 0's.
                 const int top = NumCtrlV(s) - 1;
                 double p[3], q[3];
                 const double a[3] = {s->X[top][1], s->Y[top][1], s->Z[top][1]};
                 const double b[3] = {s->X[top][0], s->Y[top][0], s->Z[top][0]};
                 pl.Unmap(a, p);
                 pl.Unmap(b, q);
                 EXPECT_NEAR(std::hypot(p[0] - q[0], p[1] - q[1], p[2] - q[2]), 2 * std::hypot(0.5, 0.8, 0.1),
                             1e-6);
                 out->Net(pl, s);
                 return true;
               }});
  // The direction curve of a cubic boundary between two sides, and the implied-tangent strip of a
  // rational curve (its ends evaluated, far away rounded to the coordinates' digits).
  e.push_back({"GetDirCurve and CreateImpliedTangentBndryCrv", kEvery, 1e-9, 1e-6, [](const Place& pl, Answer* out) {
                 BsplineKeeper keep;
                 Bspline* boundary = keep(BuildCurve(3, 3, {0, 0, 0, 0.7, 0.1, 0.2, 1.3, -0.1, 0.1, 2, 0, 0}));
                 Bspline* sideA = keep(BuildCurve(3, 3, {2, 0, 0, 2.1, 1, 0.1, 2.0, 2, 0.3, 2.2, 3, 0}));
                 Bspline* sideB = keep(BuildCurve(3, 3, {0.1, 3, 0, -0.1, 2, 0.2, 0.1, 0.5, 0.1, 0, 0, 0}));
                 Bspline* arc = keep(BuildCurve(2, 3, {1, 0, 0, 1, 1, 0.3, 0, 1, 0.5}, {}, {1, 0.6, 1}));
                 for (Bspline* c : {boundary, sideA, sideB, arc}) pl.Map(c);
                 Bspline* dir = keep(GetDirCurve(boundary, sideA, sideB));
                 const double t0[3] = {0.1, -0.2, 0.4};
                 double t[3];
                 pl.MapDirection(t0, t);
                 Bspline* side = CreateImpliedTangentBndryCrv(arc, t[0] * pl.size, t[1] * pl.size, t[2] * pl.size);
                 Bspline* strip = side ? keep(side->owner) : nullptr;
                 if (side) FreeBspline(side);
                 if (!dir || !strip) return false;
                 out->Net(pl, dir);
                 out->Net(pl, strip);
                 return true;
               }});
  // Exact offsets of a turned cylinder and cone by a tenth of the size: every point of the offset
  // lies that far from the source (radially from the cylinder's axis; along the cone's normal).
  for (int kind : {0, 1})
    e.push_back({kind ? "OffsetQuadricSurface cone" : "OffsetQuadricSurface cylinder", kEvery, 1e-9, 1e-6,
                 [kind](const Place& pl, Answer* out) {
                   BsplineKeeper keep;
                   const double p0[3] = {0.2, -0.1, 0.3}, a0[3] = {0.36, 0.48, 0.8};
                   double p[3], a[3];
                   pl.Map(p0, p);
                   pl.MapDirection(a0, a);
                   // Axis point (the apex), unit axis, then radius 0.5 and heights 0 .. 1, or a
                   // 20-degree half angle and heights 0.5 .. 1.5.
                   QuadricInfo q{};
                   for (int k = 0; k < 3; ++k) q.v[k] = p[k], q.v[3 + k] = a[k];
                   const double half = 20 * M_PI / 180;
                   if (kind == 0)
                     q.v[6] = 0.5 * pl.size, q.v[7] = 0.0, q.v[8] = pl.size;
                   else
                     q.v[6] = half, q.v[7] = 0.5 * pl.size, q.v[8] = 1.5 * pl.size;
                   Bspline* s = keep(kind ? CreateConeBspline(&q) : CreateCylinderBspline(&q));
                   double limit = 0;
                   Bspline* o = s ? keep(OffsetQuadricSurface(s, 0.1 * pl.size, &limit)) : nullptr;
                   if (!o) return false;
                   double lo = INFINITY, hi = -INFINITY;
                   for (int j = 0; j <= 6; ++j)
                     for (int i = 0; i <= 12; ++i) {
                       double P[3], d[3];
                       RefEvalSurface(o, o->umin + (o->umax - o->umin) * i / 12,
                                      o->vmin + (o->vmax - o->vmin) * j / 6, P);
                       pl.Unmap(P, P);
                       for (int k = 0; k < 3; ++k) d[k] = P[k] - p0[k];
                       const double h = d[0] * a0[0] + d[1] * a0[1] + d[2] * a0[2];
                       const double rho = std::sqrt(std::max(0.0, d[0] * d[0] + d[1] * d[1] + d[2] * d[2] - h * h));
                       const double dist = kind == 0 ? rho - 0.5 : rho * std::cos(half) - h * std::sin(half);
                       lo = std::min(lo, std::fabs(dist)), hi = std::max(hi, std::fabs(dist));
                     }
                   EXPECT_NEAR(lo, 0.1, 1e-9);
                   EXPECT_NEAR(hi, 0.1, 1e-9);
                   out->Ratio(lo);
                   out->Ratio(hi);
                   return true;
                 }});
  // A loft from two quarter circles up to a point (a collapsed last row): the last row is the
  // apex.
  e.push_back({"NonFeatureMatchedLoft to a point", kEvery, 1e-9, 1e-6, [](const Place& pl, Answer* out) {
                 BsplineKeeper keep;
                 Bspline* c[3];
                 for (int k = 0; k < 3; ++k) {
                   std::vector<double> pts;
                   const double r = k == 2 ? 0.0 : 1.0 - 0.4 * k;
                   for (int i = 0; i < 4; ++i) {
                     const double a = M_PI / 2 * i / 3;
                     pts.insert(pts.end(), {r * std::cos(a), r * std::sin(a), 0.5 * k});
                   }
                   c[k] = keep(BuildCurve(3, 3, pts));
                   pl.Map(c[k]);
                 }
                 int ends[2] = {0, 0}, modes[2] = {0, 0};
                 double spans[2] = {1.0, 1.0};
                 Bspline* loft = keep(NonFeatureMatchedLoft(3, c, 1e-4 * pl.size, 3, ends, spans, nullptr,
                                                            1e-4 * pl.size, 1.0, -1, modes, 0, 0));
                 if (!loft) return false;
                 const int top = NumCtrlV(loft) - 1;
                 for (int i = 0; i < NumCtrlU(loft); ++i) {
                   const double P[3] = {loft->X[top][i], loft->Y[top][i], loft->Z[top][i]};
                   double Q[3];
                   pl.Unmap(P, Q);
                   EXPECT_LT(std::hypot(Q[0], Q[1], Q[2] - 1.0), 1e-9) << i;
                 }
                 out->Net(pl, loft);
                 return true;
               }});
  // A fan of four curves from one point (the loft's u = 0 side collapsed), lofted with the set
  // cleaned and with every curve refitted on six uniform control points (single-precision
  // samples: far away the refit sees their rounding).
  e.push_back({"NonFeatureMatchedLoft of a fan, cleaned and refitted", kEvery, 1e-9, 1e-6,
               [](const Place& pl, Answer* out) {
                 BsplineKeeper keep;
                 Bspline* c[4];
                 for (int k = 0; k < 4; ++k) {
                   std::vector<double> pts;
                   for (int i = 0; i < 5; ++i) {
                     const double r = i / 4.0;
                     pts.insert(pts.end(),
                                {r * std::cos(0.4 * k), r * std::sin(0.4 * k), 0.2 * r * r * std::sin(3.0 * k + i)});
                   }
                   c[k] = keep(BuildCurve(3, 3, pts));
                   pl.Map(c[k]);
                 }
                 int ends[2] = {0, 0}, modes[2] = {0, 0};
                 double spans[2] = {1.0, 1.0};
                 for (int cleanMode : {0, 1}) {
                   Bspline* loft = keep(NonFeatureMatchedLoft(4, c, 1e-4 * pl.size, 3, ends, spans, nullptr,
                                                              1e-4 * pl.size, 1.0, -1, modes, cleanMode, 6));
                   if (!loft) return false;
                   out->Net(pl, loft);
                 }
                 return true;
               }});
  // The knots a wiggly cubic gains at its most curved samples: the same everywhere.
  e.push_back({"RefineKnotVector", kEvery, 1e-12, 1e-12, [](const Place& pl, Answer* out) {
                 BsplineKeeper keep;
                 std::vector<double> pts;
                 for (int i = 0; i < 12; ++i)
                   pts.insert(pts.end(), {i / 11.0, 0.2 * std::sin(2.3 * i), 0.1 * std::cos(1.7 * i)});
                 Bspline* c = keep(BuildCurve(3, 3, pts));
                 pl.Map(c);
                 double* knots = nullptr;
                 int count = 0;
                 RefineKnotVector(c, &knots, &count);
                 if (!knots) return false;
                 for (int i = 0; i < count; ++i) out->Ratio(knots[i]);
                 Free(knots);
                 return true;
               }});
  // The samples a curve on a bent patch needs within 1e-4 of the size: the same parameters
  // everywhere (far away the points' rounding must not decide which stay).
  e.push_back({"SamplePosCurveChordalDev", kEvery, 1e-12, 1e-12, [](const Place& pl, Answer* out) {
                 BsplineKeeper keep;
                 Bspline* srf = keep(
                     BuildFunctionPatch([](double x, double y) { return 0.3 * std::sin(3 * x) * std::cos(2 * y); }));
                 pl.Map(srf);
                 Bspline* c = BuildCurveOnSurface(srf, 3, {0.05, 0.1, 0.4, 0.9, 0.7, 0.1, 0.95, 0.8});
                 double* params = nullptr;
                 int count = 0;
                 if (!SamplePosCurveChordalDev(c, 1e-4 * pl.size, &params, &count)) return false;
                 for (int i = 0; i < count; ++i) out->Ratio(params[i]);
                 Free(params);
                 return true;
               }});
  // A quarter of the unit cylinder recognised: its axis, radius and the foot of a point on it,
  // to the single-precision rounding of the samples the recogniser fits.
  e.push_back({"IdentifySurfQuadric cylinder", kEvery, 3e-7, 1e-6, [](const Place& pl, Answer* out) {
                 BsplineKeeper keep;
                 Bspline* s = keep(QuarterCylinder(pl));
                 FreeQuadricInfo(s);
                 int found = 0;
                 if (IdentifySurfQuadric(&s, 1, 1, &found) != 0 || found != 1 || s->quadricType != 22) return false;
                 const double* q = s->quadric->v;
                 const double mid[3] = {0, 0, 0.5};
                 double m[3], foot[3];
                 pl.Map(mid, m);
                 const double h = (m[0] - q[0]) * q[3] + (m[1] - q[1]) * q[4] + (m[2] - q[2]) * q[5];
                 for (int k = 0; k < 3; ++k) foot[k] = q[k] + h * q[3 + k];
                 out->Point(pl, foot);
                 out->Direction(pl, q + 3);
                 out->Length(pl, q[6]);
                 return true;
               }});
  // Skins through placed wiggly curves, the non-rational form of the quarter cylinder, the
  // tensor sweep of a curve along a rational arc and a bridge patch from a curve's end by length.
  const char* more[4] = {"NewCurve3ToSurf", "SurfaceRationalToNonRationalBspline", "TensorNewExtrudeWRotation",
                         "MakeBridgeObject"};
  for (int kind = 0; kind < 4; ++kind)
    e.push_back({more[kind], kEvery, 1e-9, 1e-6, [kind](const Place& pl, Answer* out) {
                   BsplineKeeper keep;
                   Bspline* made = nullptr;
                   if (kind == 0) {
                     Bspline* rows[3];
                     for (int k = 0; k < 3; ++k) {
                       rows[k] = keep(WigglyCubic(Place(1.0, false)));
                       for (int i = 0; i < NumCtrlU(rows[k]); ++i)
                         rows[k]->Y[0][i] += 0.3 * k, rows[k]->Z[0][i] += 0.1 * k * k;
                       pl.Map(rows[k]);
                     }
                     made = NewCurve3ToSurf(3, rows, nullptr, 2);
                   } else if (kind == 1) {
                     made = SurfaceRationalToNonRationalBspline(keep(QuarterCylinder(pl)));
                   } else if (kind == 2) {
                     // A quarter of the unit circle as a rational quadratic.
                     const double w = std::sqrt(0.5);
                     Bspline* arc = keep(BuildCurve(2, 3, {1, 0, 0, 1, 1, 0, 0, 1, 0}, {}, {1, w, 1}));
                     pl.Map(arc);
                     made = TensorNewExtrudeWRotation(keep(WigglyCubic(pl)), arc, 0);
                   } else {
                     made = MakeBridgeObject(keep(WigglyCubic(pl)), nullptr, nullptr, 0.4 * pl.size, 0, 1, 2);
                   }
                   if (!keep(made)) return false;
                   out->Net(pl, made);
                   return true;
                 }});
  // Approximations: about a second each under the sanitizers, at three places.
  e.push_back({"ApproximateBspline curve", kFew, 1e-6, 1e-6,
               [](const Place& pl, Answer* out) { return Approximated(pl, WigglyCubic(pl), 1e-5, 0, out); }});
  e.push_back({"ApproximateBspline rational surface", kFew, 1e-6, 1e-6,
               [](const Place& pl, Answer* out) { return Approximated(pl, QuarterCylinder(pl), 1e-4, 3, out); }});
  return e;
}

class EveryEntry : public KernelTest, public ::testing::WithParamInterface<int> {};

// Each entry run on its case at unit size and at every size and place gives the unit answer
// mapped: no absolute length in any tangent, step, floor or Newton tolerance.
TEST_P(EveryEntry, GivesTheUnitAnswerMappedAtEverySizeAndPlace) {
  const Entry e = Entries()[GetParam()];
  SCOPED_TRACE(e.name);
  Answer unit;
  ASSERT_TRUE(e.run(Place(1.0, false), &unit)) << zk_error_status;
  std::vector<Place> places;
  if (e.places == kFew) places = {Place(1e-3, false), Place(1e-6, true), Place(1e6, true)};
  for (const Place& pl : EveryPlace())
    if (e.places == kEvery || (e.places == kNear && !pl.far)) places.push_back(pl);
  for (const Place& pl : places) {
    SCOPED_TRACE(Where(pl));
    Answer a;
    ASSERT_TRUE(e.run(pl, &a)) << zk_error_status;
    EXPECT_EQ(a.values.size(), unit.values.size());
    if (a.values.size() != unit.values.size()) continue;
    double worst = 0.0;
    for (size_t i = 0; i < a.values.size(); ++i) worst = std::max(worst, std::fabs(a.values[i] - unit.values[i]));
    EXPECT_LE(worst, pl.far ? e.farTol : e.nearTol);
  }
}

INSTANTIATE_TEST_SUITE_P(AnySize, EveryEntry, ::testing::Range(0, static_cast<int>(Entries().size())),
                         [](const ::testing::TestParamInfo<int>& info) {
                           std::string s = Entries()[info.param].name;
                           for (char& c : s)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return s;
                         });


}  // namespace
