// Rolling-ball fillet traces on exact quadric and torus pairs, measured against the ball itself: every
// contact pair a trace returns has its ball at distance r from both exact surfaces with both
// contact normals through its centre, at sizes 1e-6, 1 and 1e6 placed far from the origin; a
// node without a ball (beyond an edge, a ball larger than a wall's curvature allows) is named,
// and the trace keeps one unbroken stretch; contacts across a closed surface's seam are reached.
#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "bspline/nubs.h"
#include "foundation/vec3.h"
#include "intersect/filutil.h"
#include "intersect/newintr.h"
#include "tests/intersect/shapes.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

using shapes::Place;

class FilletBall : public KernelTest {};

const double kX[3] = {1, 0, 0}, kY[3] = {0, 1, 0}, kZ[3] = {0, 0, 1};

// Distance of a point (the case's units) from an exact surface of the case.
using Distance = std::function<double(const double p[3])>;

// Two exact surfaces, oriented so that the ball lies where both normals point, with their
// distance functions; the kinds of pair the fillet traces are tried on.
enum Kind {
  kStripAndCylinder,
  kStripInsideACylinder,
  kSphereOverAPlane,
  kSphereUnderAPlane,
  kSphereInACylinder,
  kCrossingCylinders,
  kConeAndPlane,
  kSphereAndCylinder,
  kOpenAcrossASeam,
  kPlaneAndCylinder,
  kInsideACylinder,
  kTorusOverAPlane,
  kTorusUnderAPlane,
  kTubeOverAPlane,
  kTubeUnderAPlane,
  kSphereAndCone,
  kSphereAndConeInsideOut,
  kTiltedPlaneAndBand,
  kSkewCylinders,
  kPlaneThroughThePoles,
  kPlaneAlongTheSeam,
  kSphereInATallCylinder,
  kTorusAndCylinder,
  kSphereInACylinderAlongX,
  kSphereOverALowPlane,
  kSphereBesideAnApex,
  kSmallSphereBesideAnApex,
  kConeUnderASmallSphere
};

// The surface with its u reversed (its normals turned over): the net's columns in the other
// order, for the symmetric knot vectors of the shapes.
Bspline* TurnedOver(Bspline* s) {
  const int nu = NumCtrlU(s), nv = NumCtrlV(s);
  for (int j = 0; j < nv; ++j)
    for (int i = 0; i < nu / 2; ++i) {
      std::swap(s->X[j][i], s->X[j][nu - 1 - i]);
      std::swap(s->Y[j][i], s->Y[j][nu - 1 - i]);
      std::swap(s->Z[j][i], s->Z[j][nu - 1 - i]);
      if (s->rational) std::swap(s->W[j][i], s->W[j][nu - 1 - i]);
    }
  return s;
}

struct Pair {
  BsplineKeeper keep;
  Bspline* S1 = nullptr;
  Bspline* S2 = nullptr;
  Distance d1, d2;
  Place at;
  double size = 1.0;  // the pair's size in its own units
  Pair(Kind kind, const Place& place) : at(place) {
    const double O[3] = {-1, -1, 0}, wide[3] = {-2, -2, 0}, low[3] = {-1, -1, -0.2}, e2x[3] = {2, 0, 0},
                 e2y[3] = {0, 2, 0}, e4x[3] = {4, 0, 0}, e4y[3] = {0, 4, 0};
    const double strip[3] = {-0.4, -1, 0}, stripBack[3] = {-0.4, 1, 0}, e08x[3] = {0.8, 0, 0}, e2yBack[3] = {0, -2, 0};
    const double high[3] = {-2, -2, 0.3}, highBack[3] = {-2, 2, 0.3}, e4yBack[3] = {0, -4, 0};
    switch (kind) {
      case kStripAndCylinder:      // the strip |x| <= 0.4, |y| <= 1 of z = 0 and the cylinder of radius 0.5 about z
      case kStripInsideACylinder:  // the same, facing down, and the cylinder facing in: the ball inside
        S1 = keep(kind == kStripAndCylinder ? shapes::Plane(strip, e08x, e2y, at)
                                            : shapes::Plane(stripBack, e08x, e2yBack, at));
        S2 = keep(kind == kStripAndCylinder ? shapes::Cylinder(kZ, kX, 0.5, -1, 1, at)
                                            : shapes::Cylinder(kZ, kX, 0.5, 1, -1, at));
        d1 = [](const double* p) { return std::fabs(p[2]); };
        d2 = [](const double* p) { return std::fabs(std::hypot(p[0], p[1]) - 0.5); };
        break;
      case kSphereOverAPlane:   // the plane z = 0.3 and the unit sphere, the ball above the plane
      case kSphereUnderAPlane:  // the plane facing down: the ball below it, round the sphere's middle
        S1 = keep(kind == kSphereOverAPlane ? shapes::Plane(high, e4x, e4y, at)
                                            : shapes::Plane(highBack, e4x, e4yBack, at));
        S2 = keep(shapes::Sphere(1.0, at));
        d1 = [](const double* p) { return std::fabs(p[2] - 0.3); };
        d2 = [](const double* p) { return std::fabs(std::hypot(p[0], p[1], p[2]) - 1.0); };
        break;
      case kSphereInACylinder:      // the unit sphere and the cylinder of radius 0.5 about z (|z| <= 1.2), facing in
      case kSphereInATallCylinder:  // the same, |z| <= 2
        S1 = keep(shapes::Sphere(1.0, at));
        S2 = keep(kind == kSphereInACylinder ? shapes::Cylinder(kZ, kX, 0.5, 1.2, -1.2, at)
                                             : shapes::Cylinder(kZ, kX, 0.5, 2, -2, at));
        d1 = [](const double* p) { return std::fabs(std::hypot(p[0], p[1], p[2]) - 1.0); };
        d2 = [](const double* p) { return std::fabs(std::hypot(p[0], p[1]) - 0.5); };
        break;
      case kCrossingCylinders:  // radius 0.5 about z and 0.3 about x: two loops
        S1 = keep(shapes::Cylinder(kZ, kX, 0.5, -1, 1, at));
        S2 = keep(shapes::Cylinder(kX, kY, 0.3, -1, 1, at));
        d1 = [](const double* p) { return std::fabs(std::hypot(p[0], p[1]) - 0.5); };
        d2 = [](const double* p) { return std::fabs(std::hypot(p[1], p[2]) - 0.3); };
        break;
      case kConeAndPlane:  // the plane z = 0 and the cone of half-angle 45 degrees, apex (0, 0, 1)
        S1 = keep(shapes::Plane(wide, e4x, e4y, at));
        S2 = keep(shapes::Cone(kZ, kX, 1.5, 0.2, -0.5, 0.8, at));
        d1 = [](const double* p) { return std::fabs(p[2]); };
        d2 = [](const double* p) { return std::fabs(std::hypot(p[0], p[1]) + p[2] - 1.0) / std::sqrt(2.0); };
        break;
      case kSphereAndCylinder:  // the unit sphere and the cylinder of radius 0.5 about z: two circles
        S1 = keep(shapes::Sphere(1.0, at));
        S2 = keep(shapes::Cylinder(kZ, kX, 0.5, -1.2, 1.2, at));
        d1 = [](const double* p) { return std::fabs(std::hypot(p[0], p[1], p[2]) - 1.0); };
        d2 = [](const double* p) { return std::fabs(std::hypot(p[0], p[1]) - 0.5); };
        break;
      case kOpenAcrossASeam:  // the plane z = -0.2 and the cylinder of radius 0.5 about x (seam at +y)
        S1 = keep(shapes::Plane(low, e2x, e2y, at));
        S2 = keep(shapes::Cylinder(kX, kY, 0.5, -1, 1, at));
        d1 = [](const double* p) { return std::fabs(p[2] + 0.2); };
        d2 = [](const double* p) { return std::fabs(std::hypot(p[1], p[2]) - 0.5); };
        break;
      case kTorusOverAPlane:   // the plane z = 0.1 and the torus of radii 1 and 0.3 about z: two circles
      case kTorusUnderAPlane:  // the plane facing down
      case kTubeOverAPlane:    // the torus facing in: the ball inside its tube, above the plane
      case kTubeUnderAPlane: {  // and below it
        const bool up = kind == kTorusOverAPlane || kind == kTubeOverAPlane;
        const double at01[3] = {-2, -2, 0.1}, at01Back[3] = {-2, 2, 0.1};
        S1 = keep(up ? shapes::Plane(at01, e4x, e4y, at) : shapes::Plane(at01Back, e4x, e4yBack, at));
        S2 = keep(shapes::Torus(kZ, kX, 1.0, 0.3, at));
        if (kind == kTubeOverAPlane || kind == kTubeUnderAPlane) TurnedOver(S2);
        d1 = [](const double* p) { return std::fabs(p[2] - 0.1); };
        d2 = [](const double* p) { return std::fabs(std::hypot(std::hypot(p[0], p[1]) - 1.0, p[2]) - 0.3); };
        break;
      }
      case kSphereAndCone:           // the unit sphere and the cone rho = 1.2 - z, 0 <= z <= 1.1
      case kSphereAndConeInsideOut:  // the cone facing its axis
        S1 = keep(shapes::Sphere(1.0, at));
        S2 = keep(kind == kSphereAndCone ? shapes::Cone(kZ, kX, 1.2, 0.1, 0.0, 1.1, at)
                                         : shapes::Cone(kZ, kX, 0.1, 1.2, 1.1, 0.0, at));
        d1 = [](const double* p) { return std::fabs(std::hypot(p[0], p[1], p[2]) - 1.0); };
        d2 = [](const double* p) { return std::fabs(std::hypot(p[0], p[1]) + p[2] - 1.2) / std::sqrt(2.0); };
        break;
      case kSkewCylinders: {  // radius 0.5 about z and 0.3 about the line y = 0.25, z = 0 along x, facing in: the
                              // ball inside the second, outside the first
        Place off = at;
        off.shift[1] += 0.25 * at.scale;
        S1 = keep(shapes::Cylinder(kZ, kX, 0.5, -1, 1, at));
        S2 = keep(TurnedOver(shapes::Cylinder(kX, kY, 0.3, -1, 1, off)));
        d1 = [](const double* p) { return std::fabs(std::hypot(p[0], p[1]) - 0.5); };
        d2 = [](const double* p) { return std::fabs(std::hypot(p[1] - 0.25, p[2]) - 0.3); };
        break;
      }
      case kTiltedPlaneAndBand: {  // the plane z = x / 2 over |x|, |y| <= 1 and the band |z| <= 0.2 of the cylinder
                                   // of radius 0.5 about z: two arcs from rim to rim
        const double corner[3] = {-1, -1, -0.5}, slope[3] = {2, 0, 1};
        S1 = keep(shapes::Plane(corner, slope, e2y, at));
        S2 = keep(shapes::Cylinder(kZ, kX, 0.5, -0.2, 0.2, at));
        d1 = [](const double* p) { return std::fabs(p[2] - 0.5 * p[0]) / std::sqrt(1.25); };
        d2 = [](const double* p) { return std::fabs(std::hypot(p[0], p[1]) - 0.5); };
        break;
      }
      case kPlaneThroughThePoles: {  // the plane x = 0, facing +x, through both poles of the unit sphere
        const double side[3] = {0, -2, -2}, ey[3] = {0, 4, 0}, ez[3] = {0, 0, 4};
        S1 = keep(shapes::Plane(side, ey, ez, at));
        S2 = keep(shapes::Sphere(1.0, at));
        d1 = [](const double* p) { return std::fabs(p[0]); };
        d2 = [](const double* p) { return std::fabs(std::hypot(p[0], p[1], p[2]) - 1.0); };
        break;
      }
      case kPlaneAlongTheSeam: {  // the plane y = 0 over |x|, |z| <= 2, facing +y, along the unit sphere's seam
        const double corner[3] = {-2, 0, -2}, ex[3] = {4, 0, 0}, ez[3] = {0, 0, 4};
        S1 = keep(shapes::Plane(corner, ez, ex, at));
        S2 = keep(shapes::Sphere(1.0, at));
        d1 = [](const double* p) { return std::fabs(p[1]); };
        d2 = [](const double* p) { return std::fabs(std::hypot(p[0], p[1], p[2]) - 1.0); };
        break;
      }
      case kSphereInACylinderAlongX:  // the unit sphere and the cylinder of radius 0.5 about x (|x| <= 1.2), facing in
        S1 = keep(shapes::Sphere(1.0, at));
        S2 = keep(TurnedOver(shapes::Cylinder(kX, kY, 0.5, -1.2, 1.2, at)));
        d1 = [](const double* p) { return std::fabs(std::hypot(p[0], p[1], p[2]) - 1.0); };
        d2 = [](const double* p) { return std::fabs(std::hypot(p[1], p[2]) - 0.5); };
        break;
      case kSphereOverALowPlane: {  // the plane z = -1.6 facing up under the unit sphere: balls round its pole at -z
        const double under[3] = {-2, -2, -1.6};
        S1 = keep(shapes::Sphere(1.0, at));
        S2 = keep(shapes::Plane(under, e4x, e4y, at));
        d1 = [](const double* p) { return std::fabs(std::hypot(p[0], p[1], p[2]) - 1.0); };
        d2 = [](const double* p) { return std::fabs(p[2] + 1.6); };
        break;
      }
      case kSphereBesideAnApex:         // the sphere of radius 0.5 about (0.5, 0, 0.4) and the cone rho = 1 - z,
      case kSmallSphereBesideAnApex: {  // 0 <= z <= 1; or the sphere of radius 0.2 about (0.15, 0, 0.8)
        const bool small = kind == kSmallSphereBesideAnApex;
        const double R = small ? 0.2 : 0.5, cx = small ? 0.15 : 0.5, cz = small ? 0.8 : 0.4;
        Place off = at;
        off.shift[0] += cx * at.scale, off.shift[2] += cz * at.scale;
        S1 = keep(shapes::Sphere(R, off));
        S2 = keep(shapes::Cone(kZ, kX, 1.0, 0.0, 0.0, 1.0, at));
        d1 = [R, cx, cz](const double* p) { return std::fabs(std::hypot(p[0] - cx, p[1], p[2] - cz) - R); };
        d2 = [](const double* p) { return std::fabs(std::hypot(p[0], p[1]) + p[2] - 1.0) / std::sqrt(2.0); };
        break;
      }
      case kConeUnderASmallSphere: {  // the cone rho = 1 - z, 0 <= z <= 1, and the sphere of radius 0.1
        Place off = at;                // about (0.1, 0, 0.85), beside the apex
        off.shift[0] += 0.1 * at.scale, off.shift[2] += 0.85 * at.scale;
        S1 = keep(shapes::Cone(kZ, kX, 1.0, 0.0, 0.0, 1.0, at));
        S2 = keep(shapes::Sphere(kZ, kX, 0.1, off));
        d1 = [](const double* p) { return std::fabs(std::hypot(p[0], p[1]) + p[2] - 1.0) / std::sqrt(2.0); };
        d2 = [](const double* p) { return std::fabs(std::hypot(p[0] - 0.1, p[1], p[2] - 0.85) - 0.1); };
        break;
      }
      case kTorusAndCylinder:  // the torus of radii 1 and 0.3 about z and the cylinder of radius 0.4 about x
        S1 = keep(shapes::Torus(kZ, kX, 1.0, 0.3, at));
        S2 = keep(shapes::Cylinder(kX, kY, 0.4, -1.5, 1.5, at));
        d1 = [](const double* p) { return std::fabs(std::hypot(std::hypot(p[0], p[1]) - 1.0, p[2]) - 0.3); };
        d2 = [](const double* p) { return std::fabs(std::hypot(p[1], p[2]) - 0.4); };
        break;
      case kPlaneAndCylinder:  // the plane z = 0 over [-1, 1]^2 and the cylinder of radius 0.5 about z
      case kInsideACylinder:   // the same, the ball inside the cylinder
        S1 = keep(shapes::Plane(O, e2x, e2y, at));
        S2 = kind == kInsideACylinder ? keep(shapes::Cylinder(kZ, kX, 0.5, 1, -1, at))
                                      : keep(shapes::Cylinder(kZ, kX, 0.5, -1, 1, at));
        d1 = [](const double* p) { return std::fabs(p[2]); };
        d2 = [](const double* p) { return std::fabs(std::hypot(p[0], p[1]) - 0.5); };
        break;
    }
    size = shapes::PairSize(S1, S2) / at.scale;
  }
  // The tolerance of the refinements: 1e-9 of the size.
  double Tol() const { return 1e-9 * size * at.scale; }
};

// The branches of the pair's intersection at the tolerances every case traces with, owned by the
// caller; null where the intersection fails.
IntersectionTraceList* PairBranches(const Pair& c) {
  IntersectionTraceList* list = MallocIntersectionTraceList();
  if (list && NewIntersect(c.S1, c.S2, list, 0.01, 1e-7) != 0) {
    FreeIntersectionTraceList(list);
    return nullptr;
  }
  return list;
}
using OwnedBranches = Owned<IntersectionTraceList, FreeIntersectionTraceList>;

// Size `size`, at the origin or moved 3e4 sizes from it.
Place SizedPlace(double size, bool moved) {
  Place at;
  at.scale = size;
  for (int q = 0; q < 3; ++q) at.shift[q] = moved ? 3e4 * size * (q + 1) : 0.0;
  return at;
}

// The pair's branches, each ordered head to tail, whose head (or tail) lies, taken back to the
// case's units, where `here` says; they stay in `list`, which the caller frees.
std::vector<IntersectionTrace*> BranchesEndingWhere(IntersectionTraceList* list, const Place& at, bool tail,
                                                    const std::function<bool(const double p[3])>& here) {
  std::vector<IntersectionTrace*> kept;
  for (IntersectionTrace* t = list->head; t; t = t->next) {
    RearrangeIntersectList(t);
    double X[3];
    at.Unmap(tail ? &t->tail->x : &t->head->x, X);
    if (here(X)) kept.push_back(t);
  }
  return kept;
}

// Size 1 at the origin; 1e-6 and 1e6 moved 1e4 sizes from it.
std::vector<Place> Placements() {
  std::vector<Place> places(3);
  places[1].scale = 1e-6;
  places[2].scale = 1e6;
  for (int k = 1; k < 3; ++k)
    for (int q = 0; q < 3; ++q) places[k].shift[q] = 3e4 * places[k].scale * (q + 1);
  return places;
}

// The property: the largest departure, in the case's units, of a trace's pairs from the ball of
// their radius. The centre is the mean of P1 + r n1 and P2 + r n2 (unit normals Su x Sv); each
// contact normal runs through it (the two agree), it lies r from each contact point and r from
// each exact surface (nothing of either surface nearer: the ball fits). 0 for an empty trace.
double OffBall(const Pair& c, const IntersectionTrace* out) {
  double off = 0.0;
  for (const IntersectionTraceNode* m = out->head; m; m = m->next) {
    const double r = m->filletParam / c.at.scale;
    double P[2][3], C[2][3];
    for (int s = 0; s < 2; ++s) {
      Bspline* srf = s ? c.S2 : c.S1;
      const double u = s ? m->u2 : m->u1, v = s ? m->v2 : m->v1;
      double X[3], Su[3], Sv[3], N[3];
      Eval3DPointOnSurfCoord(srf, u, v, 0, 0, X);
      Eval3DPointOnSurfCoord(srf, u, v, 1, 0, Su);
      Eval3DPointOnSurfCoord(srf, u, v, 0, 1, Sv);
      VecCrossProd3(Su, Sv, N);
      const double l = VecSize3(N);
      c.at.Unmap(X, P[s]);
      for (int k = 0; k < 3; ++k) C[s][k] = P[s][k] + r * N[k] / l;
    }
    double centre[3];
    for (int k = 0; k < 3; ++k) centre[k] = 0.5 * (C[0][k] + C[1][k]);
    off = std::fmax(off, VecDist3(C[0], C[1]));
    for (int s = 0; s < 2; ++s) off = std::fmax(off, std::fabs(VecDist3(centre, P[s]) - r));
    off = std::fmax(off, std::fmax(std::fabs(c.d1(centre) - r), std::fabs(c.d2(centre) - r)));
  }
  return off;
}

// The fillet trace of radius r (the case's units) along a branch, into a new trace.
IntersectionTrace* Fillet(const Pair& c, IntersectionTrace* branch, double r, int* rc) {
  SetRadiusArray(c.S1, branch, r * c.at.scale, 0, 0, 0, 0, 0, 0);
  IntersectionTrace* out = MallocIntersectionTrace();
  *rc = NewFilletTrace(c.S1, c.S2, branch, out, c.Tol());
  return out;
}

void FreeTrace(IntersectionTrace* t) {
  FreeTraceNodes(t);
  Free(t);
}

// The fillet of radius r along branch t keeps `kept` of its nodes (rc 0 when all, -2 when
// fewer), every pair on the ball.
void ExpectFillet(const Pair& c, IntersectionTrace* t, double r, int kept) {
  int rc = 0;
  IntersectionTrace* out = Fillet(c, t, r, &rc);
  EXPECT_EQ(rc, kept == t->nodeCount ? 0 : -2);
  EXPECT_EQ(out->nodeCount, kept);
  EXPECT_LT(OffBall(c, out), 1e-6 * c.size);
  FreeTrace(out);
}

// Every branch of the intersection, filleted with a ball that fits all along it: success, a
// pair for every node, every pair on the ball.
TEST_F(FilletBall, EveryPairOnTheBallAtEverySizeAndPlace) {
  const std::vector<std::pair<Kind, std::vector<double>>> cases = {
      {kCrossingCylinders, {0.003, 0.03, 0.3}},
      {kConeAndPlane, {0.05, 0.3}},
      {kSphereAndCylinder, {0.05, 0.3}},
      {kOpenAcrossASeam, {0.05, 0.3}},
  };
  for (const Place& at : Placements())
    for (const auto& [kind, radii] : cases) {
      const Pair c(kind, at);
      const OwnedBranches list(PairBranches(c));
      ASSERT_TRUE(list);
      EXPECT_GE(list->count, kind == kConeAndPlane ? 1 : 2);
      IntersectionTrace* t = list->head;
      for (int b = 0; b < list->count; ++b, t = t->next)
        for (double r : radii) {
          SCOPED_TRACE(::testing::Message() << "kind " << kind << " scale " << at.scale << " branch " << b << " r " << r);
          ExpectFillet(c, t, r, t->nodeCount);
        }
    }
}

// The plane over [-1, 1]^2 round a cylinder of radius 0.5, a ball of 0.6: its contacts on the
// plane lie on the circle of radius 1.1, on the plane only near its corners. The trace reports
// the first node without a ball (beyond the edges) and keeps one stretch of neighbouring
// pairs, open, every one on the ball.
TEST_F(FilletBall, ANodeWithoutABallStopsTheTraceAndSaysWhere) {
  for (const Place& at : Placements()) {
    SCOPED_TRACE(::testing::Message() << "scale " << at.scale);
    const Pair c(kPlaneAndCylinder, at);
    const OwnedBranches list(PairBranches(c));
    ASSERT_TRUE(list);
    ASSERT_EQ(list->count, 1);
    IntersectionTrace* t = list->head;
    double spacing = 0.0;  // between neighbouring nodes, on the circle of radius 0.5
    for (const IntersectionTraceNode* m = t->head; m && m->next; m = m->next) {
      const double A[3] = {m->x, m->y, m->z}, B[3] = {m->next->x, m->next->y, m->next->z};
      spacing = std::fmax(spacing, VecDist3(A, B) / at.scale);
    }
    int rc = 0;
    IntersectionTrace* out = Fillet(c, t, 0.6, &rc);
    EXPECT_EQ(rc, -2);
    EXPECT_FALSE(KernelFailed());
    EXPECT_EQ(out->open, 1);
    EXPECT_GT(out->nodeCount, 0);
    EXPECT_LT(out->nodeCount, t->nodeCount);
    EXPECT_NE(Messages().find("of " + std::to_string(t->nodeCount) + " of the intersection: the ball touches both "
                              "surfaces only beyond their edges"),
              std::string::npos)
        << Messages();
    EXPECT_LT(OffBall(c, out), 1e-6 * c.size);
    // Pairs of neighbouring nodes lie 1.1 / 0.5 of their spacing apart: none skipped between.
    for (const IntersectionTraceNode* m = out->head; m && m->next; m = m->next) {
      double A[3], B[3];
      Eval3DPointOnSurfCoord(c.S1, m->u1, m->v1, 0, 0, A);
      Eval3DPointOnSurfCoord(c.S1, m->next->u1, m->next->v1, 0, 0, B);
      EXPECT_LT(VecDist3(A, B) / at.scale, 1.5 * 2.2 * spacing);
    }
    FreeTrace(out);
  }
}

// Inside a cylinder of radius 0.5 on the plane z = 0: a ball of 0.45 rolls all round; one of
// 0.55 touches the wall and the floor (the centre equations hold) but cuts through the wall
// beside its contact, which curves round more sharply than the ball: no pair, and the reason.
TEST_F(FilletBall, ABallLargerThanTheWallsCurvatureDoesNotFit) {
  for (const Place& at : Placements()) {
    SCOPED_TRACE(::testing::Message() << "scale " << at.scale);
    const Pair c(kInsideACylinder, at);
    const OwnedBranches list(PairBranches(c));
    ASSERT_TRUE(list);
    ASSERT_EQ(list->count, 1);
    int rc = 0;
    IntersectionTrace* out = Fillet(c, list->head, 0.45, &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(out->nodeCount, list->head->nodeCount);
    EXPECT_LT(OffBall(c, out), 1e-6 * c.size);
    FreeTrace(out);
    out = Fillet(c, list->head, 0.55, &rc);
    EXPECT_EQ(rc, -2);
    EXPECT_EQ(out->nodeCount, 0);
    EXPECT_NE(Messages().find("the ball is larger than a surface's curvature allows"), std::string::npos);
    FreeTrace(out);
  }
}

// The plane z = -0.2 meets the cylinder of radius 0.5 about x in two lines; on the one at y > 0
// the ball's contact on the cylinder lies past its seam (u = 0 at +y) from the intersection:
// both refiners go on across the seam to the pair on the ball.
TEST_F(FilletBall, ContactsAcrossASeamAreReached) {
  const Pair c(kOpenAcrossASeam, Place());
  const OwnedBranches list(PairBranches(c));
  ASSERT_TRUE(list);
  int nodes = 0;
  IntersectionTrace* t = list->head;
  for (int b = 0; b < list->count; ++b, t = t->next)
    for (const IntersectionTraceNode* m = t->head; m; m = m->next)
      for (const bool newest : {true, false}) {
        const IntersectionTraceNode* nb = m->next ? m->next : m->prev;
        double q[4] = {m->u1, m->v1, m->u2, m->v2};
        const int rc = newest ? NewestRefineToFilletPoint(c.S1, c.S2, 0.3, &q[0], &q[1], &q[2], &q[3], nb->u1,
                                                          nb->v1, nb->u2, nb->v2, c.Tol())
                              : NewRefineToFilletPoint(c.S1, c.S2, 0.3, &q[0], &q[1], &q[2], &q[3], nb->u1, nb->v1,
                                                       nb->u2, nb->v2, c.Tol());
        EXPECT_EQ(rc, 100) << b << " " << newest;
        IntersectionTrace* pair = MallocIntersectionTrace();
        const double P[3] = {0, 0, 0};
        AppendTraceNode(pair, P, q[0], q[1], q[2], q[3])->filletParam = 0.3;
        EXPECT_LT(OffBall(c, pair), 1e-6 * c.size);
        FreeTrace(pair);
        ++nodes;
      }
  EXPECT_GT(nodes, 10);
}

// A branch marched both ways from its seed along the corner of the floor z = 0 and the wall
// x = 0 (seed y = 0.5, forward to 0.9, then back from the seed to 0.1), put in running order by
// RearrangeIntersectList: a second call leaves it so, and the fillet trace follows all nine
// nodes in that order.
TEST_F(FilletBall, RearrangedTraceIsFilletedInItsRunningOrder) {
  const double O[3] = {0, 0, 0};
  BsplineKeeper keep;
  Bspline* floor = keep(shapes::Plane(O, kX, kY));
  Bspline* wall = keep(shapes::Plane(O, kY, kZ));
  IntersectionTrace* in = MallocIntersectionTrace();
  for (const double y : {0.5, 0.6, 0.7, 0.8, 0.9, 0.4, 0.3, 0.2, 0.1}) {
    const double P[3] = {0, y, 0};
    AppendTraceNode(in, P, 0.0, y, y, 0.0)->filletParam = 0.1;
    if (y == 0.9) in->turn = in->tail, in->directionStart = in->nodeCount;
  }
  in->open = 1;
  for (int call = 0; call < 2; ++call) {
    RearrangeIntersectList(in);
    double y = 0.0;
    for (const IntersectionTraceNode* m = in->head; m; m = m->next) EXPECT_NEAR(m->v1, y += 0.1, 1e-12) << call;
  }
  IntersectionTrace* out = MallocIntersectionTrace();
  EXPECT_EQ(NewFilletTrace(floor, wall, in, out, 1e-9), 0);
  ASSERT_EQ(out->nodeCount, 9);
  double y = 0.0;
  for (const IntersectionTraceNode* m = out->head; m; m = m->next) {
    EXPECT_NEAR(m->v1, y += 0.1, 1e-9);
    EXPECT_NEAR(m->u1, 0.1, 1e-9);  // a radius off the corner on the floor
  }
  FreeTrace(out);
  FreeTrace(in);
}

// A plane z = 0.3 cutting the unit sphere, the ball above the plane or below it (both outside
// the sphere), from 0.01 to twice the sphere's radius, at everyday sizes too: every pair of the
// circle on the ball. And the ball inside a cylinder of radius 0.5 about z standing on the sphere:
// its centre lies at 0.5 - r from the axis and 1 + r from the sphere's centre, so its contact on
// the wall is at height sqrt((1 + r)^2 - (0.5 - r)^2) = sqrt(0.75 + 3 r), on the wall (|z| <= 1.2)
// exactly for r <= 0.23: every node gets its pair just below that, none just above, with the reason.
TEST_F(FilletBall, SphereAgainstAPlaneOrInsideACylinderMeetsTheBallsClosedForm) {
  std::vector<Place> places = Placements();
  places.push_back(places[1]);
  places.back().scale = 0.05;
  const std::vector<std::pair<Kind, std::vector<double>>> cases = {
      {kSphereOverAPlane, {0.01, 0.5, 2.0}},
      {kSphereUnderAPlane, {0.01, 0.3}},
      {kSphereInACylinder, {0.05, 0.229, 0.231}}};
  for (const Place& at : places)
    for (const auto& [kind, radii] : cases) {
      const Pair c(kind, at);
      const OwnedBranches list(PairBranches(c));
      ASSERT_TRUE(list);
      EXPECT_GE(list->count, 1);
      IntersectionTrace* t = list->head;
      for (int b = 0; b < list->count; ++b, t = t->next)
        for (double r : radii) {
          SCOPED_TRACE(::testing::Message() << "kind " << kind << " scale " << at.scale << " branch " << b
                                            << " r " << r);
          const bool fits = kind != kSphereInACylinder || r < 0.23;
          const size_t said = Messages().size();
          ExpectFillet(c, t, r, fits ? t->nodeCount : 0);
          if (!fits) {
            EXPECT_NE(Messages().find("only beyond their edges", said), std::string::npos);
          }
        }
    }
}

// The strip |x| <= 0.4 of the plane z = 0 cuts the cylinder of radius 0.5 about z in two arcs
// that end on the strip's edges. Outside the cylinder the ball's contact on the plane lies at
// 0.5 + r from the axis in the node's direction, on the strip only where that stays within
// |x| <= 0.4: the trace keeps exactly those nodes (an unbroken stretch in the middle) and says
// where it stops; inside (contact at 0.5 - r) every node has its ball.
TEST_F(FilletBall, ABranchEndingOnAnEdgeKeepsTheNodesWhoseBallTouchesTheFaces) {
  for (const Place& at : Placements())
    for (const Kind kind : {kStripAndCylinder, kStripInsideACylinder})
      for (double r : {0.001, 0.05}) {
        const Pair c(kind, at);
        const OwnedBranches list(PairBranches(c));
        ASSERT_TRUE(list);
        EXPECT_EQ(list->count, 2);
        IntersectionTrace* t = list->head;
        for (int b = 0; b < list->count; ++b, t = t->next) {
          SCOPED_TRACE(::testing::Message() << "kind " << kind << " scale " << at.scale << " branch " << b
                                            << " r " << r);
          const double R = kind == kStripAndCylinder ? 0.5 + r : 0.5 - r;
          int onStrip = 0;
          for (const IntersectionTraceNode* m = t->head; m; m = m->next) {
            double p[3] = {m->x, m->y, m->z};
            c.at.Unmap(p, p);
            onStrip += std::fabs(R * p[0] / std::hypot(p[0], p[1])) <= 0.4 ? 1 : 0;
          }
          ASSERT_GT(onStrip, 1);
          const size_t said = Messages().size();
          ExpectFillet(c, t, r, onStrip);
          if (onStrip < t->nodeCount) {
            EXPECT_NE(Messages().find("only beyond their edges", said), std::string::npos);
          }
        }
      }
}

// A torus and a plane, a sphere and a cone, each meeting in two circles, with balls up to the
// largest that fits: every circle keeps a pair at each node exactly where the ball's closed form
// says one exists, and none elsewhere. The plane z = 0.1 cuts the torus (radii 1, 0.3) outside
// which any ball rolls; inside the tube the ball's centre lies 0.3 - r from the core circle and
// 0.1 + r above the plane (0.1 - r below it), so it fits above for r <= 0.1 and below for
// r <= 0.2. Outside the unit sphere and the cone rho = 1.2 - z any ball rolls; with the cone facing
// its axis the centre solves |c| = 1 + r and rho + z = 1.2 - r sqrt 2, and the ball exists where
// its contact on the cone, at height z + r / sqrt 2, lies on it (0 .. 1.1).
TEST_F(FilletBall, TorusAndConePairsHaveTheirBallUpToTheLargestThatFits) {
  auto coneFits = [](double r, bool upper) {
    const double R = 1 + r, k = 1.2 - std::sqrt(2.0) * r;
    const double rho = 0.5 * (k + (upper ? -1 : 1) * std::sqrt(2 * R * R - k * k));
    const double z = k - rho + r / std::sqrt(2.0);
    return z >= 0.0 && z <= 1.1;
  };
  const std::vector<std::pair<Kind, std::vector<double>>> cases = {
      {kTorusOverAPlane, {0.05, 0.5}},     {kTorusUnderAPlane, {0.05}},
      {kTubeOverAPlane, {0.0999, 0.1001}}, {kTubeUnderAPlane, {0.1999, 0.2001}},
      {kSphereAndCone, {0.05, 0.3}},       {kSphereAndConeInsideOut, {0.05, 0.1, 0.15}}};
  for (const Place& at : Placements())
    for (const auto& [kind, radii] : cases) {
      const Pair c(kind, at);
      const OwnedBranches list(PairBranches(c));
      ASSERT_TRUE(list);
      EXPECT_EQ(list->count, 2);
      IntersectionTrace* t = list->head;
      for (int b = 0; b < list->count; ++b, t = t->next) {
        double p[3] = {t->head->x, t->head->y, t->head->z};
        c.at.Unmap(p, p);
        for (double r : radii) {
          SCOPED_TRACE(::testing::Message() << "kind " << kind << " scale " << at.scale << " branch " << b
                                            << " r " << r);
          const bool fits = kind == kTubeOverAPlane           ? r <= 0.1
                            : kind == kTubeUnderAPlane        ? r <= 0.2
                            : kind == kSphereAndConeInsideOut ? coneFits(r, p[2] > 0.6)
                                                              : true;
          ExpectFillet(c, t, r, fits ? t->nodeCount : 0);
        }
      }
    }
}

// A branch with one more node a round-off beside one of its first ones (as a tracer leaves where
// it meets a node again): the two nodes' contact pairs lie within the refinement's noise of each
// other, in either order along the branch, which gives no direction to hold the later pairs to.
// Every node keeps its pair on the ball, to the end of the branch.
TEST_F(FilletBall, ANodeARoundOffBesideAnotherKeepsTheRestOfTheBranch) {
  for (const Place& at : Placements())
    for (const Kind kind : {kCrossingCylinders, kSphereAndCylinder, kTorusOverAPlane}) {
      const Pair c(kind, at);
      const OwnedBranches list(PairBranches(c));
      ASSERT_TRUE(list);
      IntersectionTrace* t = list->head;
      for (int b = 0; b < list->count; ++b, t = t->next) {
        RearrangeIntersectList(t);
        ASSERT_GT(t->nodeCount, 5);
        for (const double share : {1e-15, -1e-15, 1e-12, -1e-12}) {
          SCOPED_TRACE(::testing::Message() << "kind " << kind << " scale " << at.scale << " branch " << b
                                            << " share " << share);
          // After node 2, a node moved that share of the way to node 3.
          IntersectionTrace* in = MallocIntersectionTrace();
          int i = 0;
          for (const IntersectionTraceNode* m = t->head; m; m = m->next, ++i) {
            AppendTraceNode(in, &m->x, m->u1, m->v1, m->u2, m->v2);
            if (i != 2) continue;
            const IntersectionTraceNode* n = m->next;
            AppendTraceNode(in, &m->x, m->u1 + share * (n->u1 - m->u1), m->v1 + share * (n->v1 - m->v1),
                            m->u2 + share * (n->u2 - m->u2), m->v2 + share * (n->v2 - m->v2));
          }
          in->open = 1;
          ExpectFillet(c, in, 0.05, in->nodeCount);
          FreeTrace(in);
        }
      }
    }
}

// The plane z = x / 2 meets the band |z| <= 0.2 of a cylinder of radius 0.5 in arcs from its top
// rim to its bottom one; the arc at y > 0 as nine nodes in running order, angle phi from
// acos 0.8 to pi - acos 0.8 round the axis. A ball above the plane and outside the cylinder has
// its centre at height (0.5 + r) cos(psi) / 2 + r sqrt 1.25 at angle psi, its contact on the wall
// at that height: beyond the top rim at the first node, so no ball there, and the refiner would
// slide from it along the fillet to a ball ahead of the next nodes'. The trace passes that node
// over and names it; its pairs then run forward round the axis, on to the last node.
TEST_F(FilletBall, ABallSlidFromARimIsNotTakenAheadOfTheNextNodes) {
  const double phi0 = std::acos(0.8), phi1 = M_PI - phi0;
  const int n = 9;
  for (const Place& at : Placements())
    for (const double r : {0.05, 0.1}) {
      SCOPED_TRACE(::testing::Message() << "scale " << at.scale << " r " << r);
      const Pair c(kTiltedPlaneAndBand, at);
      IntersectionTrace* in = MallocIntersectionTrace();
      for (int k = 0; k < n; ++k) {
        const double phi = phi0 + (phi1 - phi0) * k / (n - 1);
        const double X[3] = {0.5 * std::cos(phi), 0.5 * std::sin(phi), 0.25 * std::cos(phi)};
        double P[3];
        at.Map(X, P);
        AppendTraceNode(in, P, (X[0] + 1) / 2, (X[1] + 1) / 2, shapes::AngleParam(phi), (X[2] + 0.2) / 0.4);
      }
      in->open = 1;
      const size_t said = Messages().size();
      int rc = 0;
      IntersectionTrace* out = Fillet(c, in, r, &rc);
      EXPECT_EQ(rc, -2);
      EXPECT_NE(Messages().find("No fillet ball at node 1 of 9", said), std::string::npos) << Messages();
      EXPECT_LT(OffBall(c, out), 1e-6 * c.size);
      // Centres round the axis, in order: every pair ahead of the one before.
      std::vector<double> psi;
      for (const IntersectionTraceNode* m = out->head; m; m = m->next) {
        double X[3], Su[3], Sv[3], N[3], p[3];
        Eval3DPointOnSurfCoord(c.S1, m->u1, m->v1, 0, 0, X);
        Eval3DPointOnSurfCoord(c.S1, m->u1, m->v1, 1, 0, Su);
        Eval3DPointOnSurfCoord(c.S1, m->u1, m->v1, 0, 1, Sv);
        VecCrossProd3(Su, Sv, N);
        const double l = VecSize3(N);
        for (int k = 0; k < 3; ++k) X[k] += m->filletParam * N[k] / l;
        at.Unmap(X, p);
        psi.push_back(std::atan2(p[1], p[0]));
      }
      // From the first node whose ball lies at its own angle (its contact below the rim) on to
      // the last node, whose ball lies a little past it.
      int own = 0;
      for (int k = 0; k < n; ++k)
        own += (0.5 + r) * std::cos(phi0 + (phi1 - phi0) * k / (n - 1)) / 2 + r * std::sqrt(1.25) <= 0.2 ? 1 : 0;
      EXPECT_GE(out->nodeCount, own);
      ASSERT_GE(psi.size(), 2u);
      for (size_t k = 1; k < psi.size(); ++k) EXPECT_GT(psi[k], psi[k - 1]) << k;
      EXPECT_GT(psi.back(), phi1 - 0.5 * (phi1 - phi0) / (n - 1));
      FreeTrace(out);
      FreeTrace(in);
    }
}

// The same arc and balls, nodes held to their own balls: a node whose ball would touch the wall
// above the top rim has none, and the refiner, held on the rim, goes on along it to the ball of
// another place (for the node just before the rim, as far as the next node's). Such a node is
// named and passed over like the first, so the trace keeps exactly the nodes whose ball touches
// the band at their own place, in order to the last. A node's place on the fillet is the ball
// whose cross-section, the plane across the centres' curve C(psi) = ((0.5 + r) cos psi,
// (0.5 + r) sin psi, (0.5 + r) cos(psi) / 2 + r sqrt 1.25), runs through the node: every pair's
// plane passes within a twentieth of the nodes' step of its node.
TEST_F(FilletBall, ANodeWhoseBallLiesBeyondARimGetsNoBallSlidAlongIt) {
  const double phi0 = std::acos(0.8), phi1 = M_PI - phi0;
  const int n = 9;
  const double step = (phi1 - phi0) / (n - 1);
  for (const Place& at : Placements())
    for (const double r : {0.05, 0.1}) {
      SCOPED_TRACE(::testing::Message() << "scale " << at.scale << " r " << r);
      const Pair c(kTiltedPlaneAndBand, at);
      IntersectionTrace* in = MallocIntersectionTrace();
      int own = 0;
      for (int k = 0; k < n; ++k) {
        const double phi = phi0 + step * k;
        const double X[3] = {0.5 * std::cos(phi), 0.5 * std::sin(phi), 0.25 * std::cos(phi)};
        double P[3];
        at.Map(X, P);
        AppendTraceNode(in, P, (X[0] + 1) / 2, (X[1] + 1) / 2, shapes::AngleParam(phi), (X[2] + 0.2) / 0.4);
        own += (0.5 + r) * std::cos(phi) / 2 + r * std::sqrt(1.25) <= 0.2 ? 1 : 0;
      }
      in->open = 1;
      int rc = 0;
      IntersectionTrace* out = Fillet(c, in, r, &rc);
      EXPECT_EQ(rc, -2);
      EXPECT_LT(OffBall(c, out), 1e-6 * c.size);
      EXPECT_EQ(out->nodeCount, own);
      int k = n - out->nodeCount;
      for (const IntersectionTraceNode* m = out->head; m; m = m->next, ++k) {
        double X[3], p[3];
        Eval3DPointOnSurfCoord(c.S2, m->u2, m->v2, 0, 0, X);
        at.Unmap(X, p);
        const double psi = std::atan2(p[1], p[0]), phi = phi0 + step * k, R = 0.5 + r;
        const double C[3] = {R * std::cos(psi), R * std::sin(psi), R * std::cos(psi) / 2 + r * std::sqrt(1.25)};
        const double T[3] = {-R * std::sin(psi), R * std::cos(psi), -R * std::sin(psi) / 2};
        const double N[3] = {0.5 * std::cos(phi) - C[0], 0.5 * std::sin(phi) - C[1], 0.25 * std::cos(phi) - C[2]};
        EXPECT_LT(std::fabs(VecDotProd3(N, T)) / VecSize3(T), 0.05 * 0.5 * step) << k;
      }
      FreeTrace(out);
      FreeTrace(in);
    }
}

// Cylinders of radius 0.5 about z and 0.3 about the line y = 0.25, z = 0 along x (kSkewCylinders)
// meet in a loop whose upper arc is x = 0.5 cos(theta), y = 0.5 sin(theta), for theta 0 .. pi:
// n nodes of it in running order from theta `from` to `to`.
IntersectionTrace* UpperArc(const Pair& c, double from, double to, int n) {
  IntersectionTrace* in = MallocIntersectionTrace();
  for (int k = 0; k < n; ++k) {
    const double theta = from + (to - from) * k / (n - 1), y = 0.5 * std::sin(theta);
    const double X[3] = {0.5 * std::cos(theta), y, std::sqrt(0.09 - (y - 0.25) * (y - 0.25))};
    double P[3];
    c.at.Map(X, P);
    AppendTraceNode(in, P, shapes::AngleParam(theta), (X[2] + 1) / 2,
                    1 - shapes::AngleParam(std::atan2(X[2], y - 0.25)), (X[0] + 1) / 2);
  }
  in->open = 1;
  return in;
}

// The least x of a trace's contacts on the first surface, in the case's units.
double LeastX(const Pair& c, const IntersectionTrace* out) {
  double least = HUGE_VAL;
  for (const IntersectionTraceNode* m = out->head; m; m = m->next) {
    double X[3], p[3];
    Eval3DPointOnSurfCoord(c.S1, m->u1, m->v1, 0, 0, X);
    c.at.Unmap(X, p);
    least = std::fmin(least, p[0]);
  }
  return least;
}

// Along those cylinders' upper arc a ball of 0.05 inside the second and outside the first has its
// centre 0.55 from the z axis and 0.25 from the other, so |x| >= sqrt(0.55^2 - 0.5^2) (about
// 0.229): the fillet is two loops, apart, its contacts on the first cylinder at |x| >= 0.229 x
// 0.5 / 0.55 > 0.2. With 16 nodes from theta 0 to pi the trace follows the loop at x > 0 and
// stops where the fillet breaks off, saying so, with no pair of the loop at x < 0.
TEST_F(FilletBall, ATraceStopsWhereTheFilletBreaksOffAndTakesNoPairBeyond) {
  for (const Place& at : Placements()) {
    SCOPED_TRACE(::testing::Message() << "scale " << at.scale);
    const Pair c(kSkewCylinders, at);
    IntersectionTrace* in = UpperArc(c, 0.0, M_PI, 16);
    const size_t said = Messages().size();
    int rc = 0;
    IntersectionTrace* out = Fillet(c, in, 0.05, &rc);
    EXPECT_EQ(rc, -2);
    EXPECT_NE(Messages().find("the fillet breaks off", said), std::string::npos) << Messages();
    EXPECT_LT(OffBall(c, out), 1e-6 * c.size);
    EXPECT_GT(out->nodeCount, 5);
    EXPECT_GT(LeastX(c, out), 0.2);
    FreeTrace(out);
    FreeTrace(in);
  }
}

// The same arc run the other way, from just past its top (theta 1.6, x = -0.015, in the middle
// of the break between the loops) down to theta 0.05, in nine nodes: the first node has no ball
// of its own (the refiner slides to one of the loop at x < 0), the second's lies on the loop at
// x > 0 the arc runs along. That first pair is the one passed over, named, and the fillet
// begins at the second.
TEST_F(FilletBall, ATraceBeginningInABreakBeginsAtTheFirstBallOfItsOwnStretch) {
  for (const Place& at : Placements()) {
    SCOPED_TRACE(::testing::Message() << "scale " << at.scale);
    const Pair c(kSkewCylinders, at);
    IntersectionTrace* in = UpperArc(c, 1.6, 0.05, 9);
    const size_t said = Messages().size();
    int rc = 0;
    IntersectionTrace* out = Fillet(c, in, 0.05, &rc);
    EXPECT_EQ(rc, -2);
    EXPECT_NE(Messages().find("No fillet ball at node 1 of 9", said), std::string::npos) << Messages();
    EXPECT_LT(OffBall(c, out), 1e-6 * c.size);
    EXPECT_EQ(out->nodeCount, 8);
    EXPECT_GT(LeastX(c, out), 0.2);
    FreeTrace(out);
    FreeTrace(in);
  }
}

// The distance, in the case's units, of the point X (the case's units) from the cross-section of
// a pair's ball: the plane through its centre across the spine n1 x n2.
double FromCrossSection(const Pair& c, const IntersectionTraceNode* m, const double X[3]) {
  double P[2][3], N[2][3];
  for (int s = 0; s < 2; ++s) {
    Bspline* srf = s ? c.S2 : c.S1;
    const double u = s ? m->u2 : m->u1, v = s ? m->v2 : m->v1;
    double Q[3], Su[3], Sv[3];
    Eval3DPointOnSurfCoord(srf, u, v, 0, 0, Q);
    Eval3DPointOnSurfCoord(srf, u, v, 1, 0, Su);
    Eval3DPointOnSurfCoord(srf, u, v, 0, 1, Sv);
    VecCrossProd3(Su, Sv, N[s]);
    c.at.Unmap(Q, P[s]);
  }
  double t[3], off = 0.0;
  VecCrossProd3(N[0], N[1], t);
  const double r = m->filletParam / c.at.scale, l0 = VecSize3(N[0]), lt = VecSize3(t);
  for (int k = 0; k < 3; ++k) off += (X[k] - P[0][k] - r * N[0][k] / l0) * t[k] / lt;
  return std::fabs(off);
}

// Along the upper arc of the skew cylinders, nodes in the break between the fillet's two loops
// have no ball of their own: refined from there, the ball slides along the fillet to the end
// of the loop, many of the nodes' steps away. Run into the break from either end of the loop,
// in 16 or 40 nodes, the trace stops there: every pair it keeps, from the first node on, has
// its ball's cross-section within a step of its own node.
TEST_F(FilletBall, NodesInABreakOfTheFilletGetNoBallSlidFromItsEnd) {
  for (const Place& at : Placements())
    for (const int n : {16, 40})
      for (const auto& [from, to] : {std::pair<double, double>{0.0, M_PI}, {0.05, 1.6}}) {
        SCOPED_TRACE(::testing::Message() << "scale " << at.scale << " nodes " << n << " from " << from);
        const Pair c(kSkewCylinders, at);
        IntersectionTrace* in = UpperArc(c, from, to, n);
        int rc = 0;
        IntersectionTrace* out = Fillet(c, in, 0.05, &rc);
        EXPECT_EQ(rc, -2);
        EXPECT_LT(OffBall(c, out), 1e-6 * c.size);
        EXPECT_GT(out->nodeCount, 3);
        const IntersectionTraceNode* node = in->head;
        for (const IntersectionTraceNode* m = out->head; m && node; m = m->next, node = node->next) {
          double X[3], step = 0.0;
          c.at.Unmap(&node->x, X);
          for (const IntersectionTraceNode* o : {node->prev, node->next}) {
            double Y[3];
            if (!o) continue;
            c.at.Unmap(&o->x, Y);
            step = std::fmax(step, VecDist3(X, Y));
          }
          EXPECT_LT(FromCrossSection(c, m, X), step);
        }
        FreeTrace(out);
        FreeTrace(in);
      }
}

// The plane x = 0 cuts the unit sphere in a great circle through both poles, which the
// intersection gives as two halves from pole to pole. At a pole the sphere has no tangent plane
// (every longitude is the same point); the ball of r over the plane and outside the sphere has
// its centre at (r, 0, +-sqrt(1 + 2 r)) there, its contact on the sphere a way down the meridian
// of +x. Every node, the poles too, has its pair on the ball, and the end pairs lie within a
// tenth of the nodes' step of the poles' balls.
TEST_F(FilletBall, ANodeOnAPoleHasItsBall) {
  for (const Place& at : Placements())
    for (const double r : {0.01, 0.05}) {
      const Pair c(kPlaneThroughThePoles, at);
      const OwnedBranches list(PairBranches(c));
      ASSERT_TRUE(list);
      ASSERT_EQ(list->count, 2);
      IntersectionTrace* t = list->head;
      for (int b = 0; b < list->count; ++b, t = t->next) {
        SCOPED_TRACE(::testing::Message() << "scale " << at.scale << " branch " << b << " r " << r);
        RearrangeIntersectList(t);
        double ends[2][3], step = 0.0;
        c.at.Unmap(&t->head->x, ends[0]);
        c.at.Unmap(&t->tail->x, ends[1]);
        for (const double* e : {ends[0], ends[1]}) ASSERT_NEAR(std::fabs(e[2]), 1.0, 1e-6);
        for (const IntersectionTraceNode* m = t->head; m->next; m = m->next)
          step = std::fmax(step, VecDist3(&m->x, &m->next->x) / at.scale);
        ExpectFillet(c, t, r, t->nodeCount);
        int rc = 0;
        IntersectionTrace* out = Fillet(c, t, r, &rc);
        ASSERT_EQ(out->nodeCount, t->nodeCount);
        int e = 0;
        for (const IntersectionTraceNode* m : {out->head, out->tail}) {
          double P[3], p[3];
          Eval3DPointOnSurfCoord(c.S1, m->u1, m->v1, 0, 0, P);
          c.at.Unmap(P, p);
          const double centre[3] = {r, 0.0, std::copysign(std::sqrt(1 + 2 * r), ends[e++][2])};
          EXPECT_LT(std::hypot(p[0] + r - centre[0], p[1] - centre[1], p[2] - centre[2]), 0.1 * step);
        }
        FreeTrace(out);
      }
    }
}

// A trace's own pairs fed back as a branch: every one given back (rc 0), unmoved, the trace open
// or closed as before.
void ExpectFedBackUnmoved(const Pair& c, IntersectionTrace* out) {
  IntersectionTrace* again = MallocIntersectionTrace();
  EXPECT_EQ(NewFilletTrace(c.S1, c.S2, out, again, c.Tol()), 0);
  EXPECT_EQ(again->nodeCount, out->nodeCount);
  EXPECT_EQ(again->open, out->open);
  EXPECT_LT(OffBall(c, again), 1e-6 * c.size);
  for (const IntersectionTraceNode *m = out->head, *n = again->head; m && n; m = m->next, n = n->next) {
    EXPECT_NEAR(n->u1, m->u1, 1e-12);
    EXPECT_NEAR(n->v1, m->v1, 1e-12);
    EXPECT_NEAR(n->u2, m->u2, 1e-12);
    EXPECT_NEAR(n->v2, m->v2, 1e-12);
  }
  FreeTrace(again);
}

// A trace's own pairs fed back as a branch are contact pairs already: each stays where it is
// (the refiners would take a guess for a point of both surfaces and move it along the fillet),
// so the trace gives every one of them back, unmoved. Round the cylinder on the plane (a closed
// branch, its closing pair made by CloseFilletIfClosed) and along the strip's arcs (open, cut
// short where the ball leaves the strip).
TEST_F(FilletBall, ATracesOwnPairsFedBackStayWhereTheyAre) {
  for (const Place& at : Placements())
    for (const auto& [kind, r] : {std::pair<Kind, double>{kPlaneAndCylinder, 0.3}, {kStripAndCylinder, 0.05}}) {
      const Pair c(kind, at);
      const OwnedBranches list(PairBranches(c));
      ASSERT_TRUE(list);
      IntersectionTrace* t = list->head;
      for (int b = 0; b < list->count; ++b, t = t->next) {
        SCOPED_TRACE(::testing::Message() << "kind " << kind << " scale " << at.scale << " branch " << b);
        int rc = 0;
        IntersectionTrace* out = Fillet(c, t, r, &rc);
        ASSERT_GT(out->nodeCount, 2);
        ExpectFedBackUnmoved(c, out);
        FreeTrace(out);
      }
    }
}

// A closed trace's own pairs fed back end on one closing pair, which CloseFilletIfClosed made:
// with both ends on it, it stays where it is (re-solved holding a parameter that does not run
// between the ends, it slid along the fillet by 1e-5 of the range), like every other pair.
TEST_F(FilletBall, AClosedTracesOwnClosingPairFedBackStaysWhereItIs) {
  for (const Place& at : Placements())
    for (const Kind kind : {kSphereInACylinderAlongX, kSphereInACylinder, kCrossingCylinders})
      for (const double share : {0.003, 0.01}) {
        const Pair c(kind, at);
        const double r = share * c.size;
        const OwnedBranches list(PairBranches(c));
        ASSERT_TRUE(list);
        IntersectionTrace* t = list->head;
        for (int b = 0; b < list->count; ++b, t = t->next) {
          if (t->open) continue;
          SCOPED_TRACE(::testing::Message() << "kind " << kind << " scale " << at.scale << " branch " << b << " r " << r);
          int rc = 0;
          IntersectionTrace* out = Fillet(c, t, r, &rc);
          ExpectFedBackUnmoved(c, out);
          FreeTrace(out);
        }
      }
}

// Calls f with the pair and each branch of the torus and the cylinder, rearranged, at every
// placement.
template <class F>
void ForEachTorusAndCylinderBranch(F&& f) {
  for (const Place& at : Placements()) {
    const Pair c(kTorusAndCylinder, at);
    const OwnedBranches list(PairBranches(c));
    ASSERT_TRUE(list);
    IntersectionTrace* t = list->head;
    for (int b = 0; b < list->count; ++b, t = t->next) {
      SCOPED_TRACE(::testing::Message() << "scale " << at.scale << " branch " << b);
      RearrangeIntersectList(t);
      f(c, t);
    }
  }
}

// A ball of a hundredth of the size between the torus and the cylinder fits all along every branch.
// Contacts a little apart along the fillet's spine have tangent lines across it that pass each
// other: the target on the torus, off its tangent plane, was resolved there along a coordinate
// axis that can hide the offset, and the refinement stalled at a centre gap of 1e-5 of the size
// (the traces of five of the six branches stopped short).
TEST_F(FilletBall, ASmallBallBetweenATorusAndACylinderIsFoundAtEveryNode) {
  ForEachTorusAndCylinderBranch(
      [](const Pair& c, IntersectionTrace* t) { ExpectFillet(c, t, 0.01 * c.size, t->nodeCount); });
}

// A ball of 0.03 of the size fits all along every branch too. Where a branch passes the torus's
// inner equator the fillet's spine bends round tightly, and the contact on the cylinder moves
// several times the nodes' step between two nodes, along a contact curve that bends with it:
// the ball between their pairs, its cross-section through the midpoint of their centres, has
// a contact farther than three quarters of that move from one end, and the fillet seemed to
// break there (the two branches past the inner equator stopped after about half their nodes).
// Its centre lies within half the chord of that midpoint: every node gives its pair, on the ball.
TEST_F(FilletBall, ABallRoundATorussInnerEquatorIsJoinedAcrossTheSpinesTightBend) {
  ForEachTorusAndCylinderBranch(
      [](const Pair& c, IntersectionTrace* t) { ExpectFillet(c, t, 0.03 * c.size, t->nodeCount); });
}

// A ball of 0.3 of the size between the torus and the cylinder: where it fits, its contact on the
// cylinder runs several times as fast as the one on the torus. Such a trace's pairs fed back lie
// on no intersection, and the ball halfway between two of them is the one refined from their
// mean (moved onto the intersection first, it was the ball of another place, and the fillet
// seemed to break between them): the trace gives every pair back, unmoved.
TEST_F(FilletBall, FastContactsFedBackAreNotTakenForABreak) {
  int fed = 0;
  ForEachTorusAndCylinderBranch([&fed](const Pair& c, IntersectionTrace* t) {
    int rc = 0;
    IntersectionTrace* out = Fillet(c, t, 0.3 * c.size, &rc);
    if (out->nodeCount > 2) {
      ++fed;
      ExpectFedBackUnmoved(c, out);
    }
    FreeTrace(out);
  });
  EXPECT_GT(fed, 0);
}

// The plane z = 0 and the cylinder of radius 0.5 about z, the ball of 0.3 outside: its contacts
// lie at the same angle psi round the axis, on the wall at height r and on the floor at 0.5 + r
// from the axis. Nodes whose wall normal (cos psi, sin psi, 0) lies within a millionth of the y
// axis, refined by both refiners to 1e-9 of the size: the floor's contact is where the wall's
// says, to that tolerance (a normal with its small component cleared would put it r times that
// component aside).
TEST_F(FilletBall, ContactsWhereANormalLiesWithinAMillionthOfAnAxisAreOnTheBall) {
  const double r = 0.3;
  for (const Place& at : Placements()) {
    SCOPED_TRACE(::testing::Message() << "scale " << at.scale);
    const Pair c(kPlaneAndCylinder, at);
    for (const double aside : {-9e-7, -3e-7, -1e-8, 1e-8, 3e-7, 9e-7})
      for (const bool newest : {true, false}) {
        const double psi = M_PI / 2 + aside, next = psi + 0.05;
        double q[4] = {(0.5 * std::cos(psi) + 1) / 2, (0.5 * std::sin(psi) + 1) / 2, shapes::AngleParam(psi), 0.5};
        const double nb[4] = {(0.5 * std::cos(next) + 1) / 2, (0.5 * std::sin(next) + 1) / 2, shapes::AngleParam(next),
                              0.5};
        const int rc =
            newest ? NewestRefineToFilletPoint(c.S1, c.S2, r * at.scale, &q[0], &q[1], &q[2], &q[3], nb[0], nb[1], nb[2],
                                               nb[3], c.Tol())
                   : NewRefineToFilletPoint(c.S1, c.S2, r * at.scale, &q[0], &q[1], &q[2], &q[3], nb[0], nb[1], nb[2],
                                            nb[3], c.Tol());
        ASSERT_EQ(rc, 100) << aside << " " << newest;
        double P[2][3], p[2][3];
        Eval3DPointOnSurfCoord(c.S1, q[0], q[1], 0, 0, P[0]);
        Eval3DPointOnSurfCoord(c.S2, q[2], q[3], 0, 0, P[1]);
        for (int s = 0; s < 2; ++s) at.Unmap(P[s], p[s]);
        const double wall = std::hypot(p[1][0], p[1][1]), k = (0.5 + r) / wall;
        EXPECT_LT(std::hypot(p[0][0] - k * p[1][0], p[0][1] - k * p[1][1], p[0][2]), 1e-8 * c.size)
            << aside << " " << newest;
        EXPECT_NEAR(p[1][2], r, 1e-8 * c.size) << aside << " " << newest;
      }
  }
}

// A ball of radius 0.499 inside a cylinder of radius 0.5 standing on the unit sphere has its
// centre 0.001 from the axis and 1.499 from the sphere's centre: its contact on the sphere lies
// about 0.001 from a pole, on the node's meridian, which a full step of the refiner overshoots.
// The iterate goes on through the pole (held on it, it had no tangent plane to step from and
// the node no pair): every node of both circles keeps its pair on the ball.
TEST_F(FilletBall, AContactBesideAPoleIsReachedAcrossIt) {
  for (const Place& at : Placements()) {
    const Pair c(kSphereInATallCylinder, at);
    const OwnedBranches list(PairBranches(c));
    ASSERT_TRUE(list);
    ASSERT_EQ(list->count, 2);
    IntersectionTrace* t = list->head;
    for (int b = 0; b < list->count; ++b, t = t->next) {
      SCOPED_TRACE(::testing::Message() << "scale " << at.scale << " branch " << b);
      ExpectFillet(c, t, 0.499, t->nodeCount);
    }
  }
}

// The ball of the unit sphere's point d of the range from its pole at -z (u 0.3) and of the plane
// z = -1.6: its radius r has (1 + r) cos t + r = 1.6 for the polar angle t, its centre is (1 + r)
// times the point, its contact on the plane lies under the centre. The exact contact pair given
// to the refiner as its guess is a pair within tol and stays.
void ExpectExactPairBesideThePoleStays(const Place& at, double d) {
  SCOPED_TRACE(::testing::Message() << "scale " << at.scale << " from the pole " << d);
  const Pair c(kSphereOverALowPlane, at);
  double P[3], p[3];
  Eval3DPointOnSurfCoord(c.S1, 0.3, d, 0, 0, P);
  c.at.Unmap(P, p);
  const double l = VecSize3(p), cosT = -p[2] / l, r = (1.6 - cosT) / (1.0 + cosT);
  const double pair[4] = {0.3, d, ((1.0 + r) * p[0] / l + 2.0) / 4.0, ((1.0 + r) * p[1] / l + 2.0) / 4.0};
  double q[4] = {pair[0], pair[1], pair[2], pair[3]};
  EXPECT_EQ(NewestRefineToFilletPoint(c.S1, c.S2, r * at.scale, &q[0], &q[1], &q[2], &q[3], q[0], q[1], q[2], q[3],
                                      c.Tol()),
            100);
  for (int k = 0; k < 4; ++k) EXPECT_EQ(q[k], pair[k]) << k;
}

// Far from the origin the sphere's short partial along the pole carried the round-off of the
// coordinates: 1e-6 of the range from the pole, 1e4 sizes out, it turned the normal by 7e-6 and
// the ball's centre by 2e-6 of its radius, and the refiner moved the pair without meeting it.
TEST_F(FilletBall, AnExactPairBesideAPoleFarFromTheOriginStays) {
  for (const Place& at : Placements())
    for (const double d : {1e-4, 1e-6}) ExpectExactPairBesideThePoleStays(at, d);
}

// Within a hair (1e-6 of the range) of the pole, the guess was moved a hair off the pole before it
// was seen to be a pair, and the first step, taking the moved guess for a point of both surfaces,
// ran to the corners of the parameter boxes.
TEST_F(FilletBall, AnExactPairWithinAHairOfAPoleStays) {
  for (const Place& at : Placements())
    for (const double d : {1e-7, 1e-8}) ExpectExactPairBesideThePoleStays(at, d);
}

// The sphere's parameters of a point of the unit sphere (poles on z, seam at +x): u round the
// axis, v along the meridian from the pole at -z, each within its quarter arc as AngleParam.
void UnitSphereParams(const double p[3], double* u, double* v) {
  const double lon = std::atan2(p[1], p[0]);
  *u = shapes::AngleParam(lon < 0.0 ? lon + 2 * M_PI : lon);
  *v = shapes::AngleParam(std::acos(std::clamp(-p[2], -1.0, 1.0))) * 2;
}

// The plane y = 0 along the sphere's seam meridian cuts it in the great circle through both
// poles. Nodes of it at angles a from +x toward +z, crowded within `crowd` of the north pole on
// both sides: beside the pole the refiner's ball lies aside from the node's own by up to
// hundreds of such steps, in no order. Every node keeps a ball near its own (the one whose
// cross-section runs through it, centre (sqrt(1 + 2 r) cos a, r, sqrt(1 + 2 r) sin a)), in order
// round the circle. With r 0.3 the contacts on the sphere of the nodes before the crowd lie
// beside the pole, where the refiner's steps, slowed to a quarter once they turned, crawled
// past its iteration limit (the trace stopped at the sixth node). With r 0.05 and nodes
// within 0.01 a contact moves more than twice the nodes' step between neighbours at the pole,
// and the ball refined halfway lies aside as the nodes' do: the halfway point's own ball lies
// between their pairs (the refiner's was taken for a break, and the trace stopped at the pole).
TEST_F(FilletBall, NodesCrowdedBesideAPoleKeepTheirOwnBallsInOrder) {
  const double pole = M_PI / 2;
  for (const Place& at : Placements())
    for (const auto& [r, crowd] : {std::pair{0.01, 1e-3}, {0.01, 1e-6}, {0.3, 1e-4}, {0.05, 1e-2}}) {
      SCOPED_TRACE(::testing::Message() << "scale " << at.scale << " r " << r << " crowd " << crowd);
      const Pair c(kPlaneAlongTheSeam, at);
      std::vector<double> angles;
      for (int k = 0; k < 8; ++k) angles.push_back(0.2 + (pole - 0.2) * k / 8);
      for (int k = -8; k <= 8; ++k) angles.push_back(pole + crowd * k / 8);
      for (int k = 1; k <= 8; ++k) angles.push_back(pole + crowd + (2.9 - pole - crowd) * k / 8);
      IntersectionTrace* in = MallocIntersectionTrace();
      for (const double a : angles) {
        const double X[3] = {std::cos(a), 0.0, std::sin(a)};
        double P[3], u, v;
        at.Map(X, P);
        UnitSphereParams(X, &u, &v);
        AppendTraceNode(in, P, (X[2] + 2) / 4, (X[0] + 2) / 4, u, v);
      }
      in->open = 1;
      int rc = 0;
      IntersectionTrace* out = Fillet(c, in, r, &rc);
      EXPECT_EQ(rc, 0);
      ASSERT_EQ(out->nodeCount, in->nodeCount);
      EXPECT_LT(OffBall(c, out), 1e-6 * c.size);
      // The contacts on the plane, under the centres, in order round the circle and each nearer
      // its node's angle than that node's neighbours are.
      size_t k = 0;
      double before = -M_PI;
      for (const IntersectionTraceNode* m = out->head; m; m = m->next, ++k) {
        double P[3], p[3];
        Eval3DPointOnSurfCoord(c.S1, m->u1, m->v1, 0, 0, P);
        at.Unmap(P, p);
        const double a = std::atan2(p[2], p[0]);
        const double apart = std::fmin(k > 0 ? angles[k] - angles[k - 1] : HUGE_VAL,
                                       k + 1 < angles.size() ? angles[k + 1] - angles[k] : HUGE_VAL);
        EXPECT_GT(a, before) << k;
        EXPECT_LT(std::fabs(a - angles[k]), apart) << k;
        before = a;
      }
      FreeTrace(out);
      FreeTrace(in);
    }
}

// The sphere of radius 0.5 about (0.5, 0, 0.4) and the cone rho = 1 - z (0 <= z <= 1, apex a
// pole of its net) meet in a loop that passes beside the apex, at z = 0.7993 a tenth of a
// radian either side of the sphere's meridian through the axis. A ball of the sphere's radius
// outside both touches the cone 0.02 from the apex, where the cone curves round its axis 27
// times as sharply as the ball: the tangent-line steps circle round that contact and ran out of
// iterations (0), though the ball is there. The refiner gives it, on the ball, its contacts half
// a radius from the node (the balls of other places in the node's cross-section lie a radius
// and more away).
// The sphere of radius 0.5 about kApexSphere and the cone rho = 1 - z (0 <= z <= 1) of the cases
// beside the cone's apex.
const double kApexSphere[3] = {0.5, 0.0, 0.4};

// The point X of the loop of the sphere of radius R about c (c[1] = 0) and that cone at the angle
// a round the axis, on its stretch near the apex, and its parameters q on the sphere and the cone:
// with w = 1 - z, 2 w^2 - 2 b w + k = 0 for b = c0 cos a + 1 - c2, k = c0^2 + (1 - c2)^2 - R^2,
// its smaller root.
void LoopBesideTheApex(double a, double q[4], double X[3], const double c[3] = kApexSphere, double R = 0.5) {
  const double b = c[0] * std::cos(a) + 1.0 - c[2], k = c[0] * c[0] + (1.0 - c[2]) * (1.0 - c[2]) - R * R;
  const double w = 0.5 * (b - std::sqrt(b * b - 2.0 * k));
  X[0] = w * std::cos(a), X[1] = w * std::sin(a), X[2] = 1.0 - w;
  const double p[3] = {(X[0] - c[0]) / R, (X[1] - c[1]) / R, (X[2] - c[2]) / R};
  UnitSphereParams(p, &q[0], &q[1]);
  q[2] = shapes::AngleParam(a + 2 * M_PI * (a < 0.0)), q[3] = 1.0 - w;
}

// The contacts P of the pair q on S (placed at) and the centres P + r n of the ball of radius r
// seen from either, at the unit scene's scale.
void CentresFromContacts(Bspline* const S[2], const Place& at, const double q[4], double r, double C[2][3],
                         double P[2][3]) {
  for (int s = 0; s < 2; ++s) {
    double Q[3], Su[3], Sv[3], N[3];
    Eval3DPointOnSurfCoord(S[s], q[2 * s], q[2 * s + 1], 0, 0, Q);
    Eval3DPointOnSurfCoord(S[s], q[2 * s], q[2 * s + 1], 1, 0, Su);
    Eval3DPointOnSurfCoord(S[s], q[2 * s], q[2 * s + 1], 0, 1, Sv);
    VecCrossProd3(Su, Sv, N);
    at.Unmap(Q, P[s]);
    for (int k = 0; k < 3; ++k) C[s][k] = P[s][k] + r * N[k] / VecSize3(N);
  }
}

TEST_F(FilletBall, ABallTouchingAConeBesideItsApexIsReached) {
  const double r = 0.5, c[3] = {0.5, 0.0, 0.4};
  for (const Place& at : Placements())
    for (const double phi : {-0.1, 0.1}) {
      SCOPED_TRACE(::testing::Message() << "scale " << at.scale << " phi " << phi);
      Place off = at;
      for (int k = 0; k < 3; ++k) off.shift[k] += c[k] * at.scale;
      BsplineKeeper keep;
      Bspline* S[2] = {keep(shapes::Sphere(0.5, off)), keep(shapes::Cone(kZ, kX, 1.0, 0.0, 0.0, 1.0, at))};
      double q[4], nb[4], X[3], Y[3], C[2][3];
      LoopBesideTheApex(phi, q, X);
      LoopBesideTheApex(phi + 0.03, nb, Y);
      ASSERT_EQ(NewestRefineToFilletPoint(S[0], S[1], r * at.scale, &q[0], &q[1], &q[2], &q[3], nb[0], nb[1], nb[2],
                                          nb[3], 3e-9 * at.scale),
                100);
      double P[2][3];
      CentresFromContacts(S, at, q, r, C, P);
      for (int s = 0; s < 2; ++s) EXPECT_LT(VecDist3(P[s], X), r) << s;
      EXPECT_LT(VecDist3(C[0], C[1]), 1e-6);
      EXPECT_NEAR(std::hypot(C[0][0] - c[0], C[0][1], C[0][2] - c[2]), 0.5 + r, 1e-6);
      EXPECT_NEAR((std::hypot(C[0][0], C[0][1]) + C[0][2] - 1.0) / std::sqrt(2.0), r, 1e-6);
    }
}

// The pair q on the sphere of radius R about kApexSphere and the apex cone S (placed at) is one
// of the ball of radius r outside both: the centres P + r n from either contact agree, R + r
// from the sphere's centre and r from the cone.
void ExpectOnTheApexBall(Bspline* const S[2], const Place& at, const double q[4], double r, double R) {
  double C[2][3], P[2][3];
  CentresFromContacts(S, at, q, r, C, P);
  const double* c = kApexSphere;
  EXPECT_LT(VecDist3(C[0], C[1]), 1e-8);
  EXPECT_NEAR(std::hypot(C[0][0] - c[0], C[0][1] - c[1], C[0][2] - c[2]), R + r, 1e-8);
  EXPECT_NEAR((std::hypot(C[0][0], C[0][1]) + C[0][2] - 1.0) / std::sqrt(2.0), r, 1e-8);
}

// Each place's pairs refined at r = 0.9 from eight nodes of the same loop farther round, on the
// ball, to 1e-9 of the unit.
void ExpectApexBallsGrownFromTheNodes(const std::vector<Place>& places) {
  const double r = 0.9, R = 0.5;
  for (const Place& at : places) {
    Place off = at;
    for (int k = 0; k < 3; ++k) off.shift[k] += kApexSphere[k] * at.scale;
    BsplineKeeper keep;
    Bspline* S[2] = {keep(shapes::Sphere(R, off)), keep(shapes::Cone(kZ, kX, 1.0, 0.0, 0.0, 1.0, at))};
    for (const double phi : {-0.9, -0.75, -0.6, -0.45, 0.4, 0.55, 0.7, 0.85}) {
      SCOPED_TRACE(::testing::Message() << "scale " << at.scale << " phi " << phi);
      double q[4], nb[4], X[3], Y[3];
      LoopBesideTheApex(phi, q, X);
      LoopBesideTheApex(phi + 0.03, nb, Y);
      const int rc = NewestRefineToFilletPoint(S[0], S[1], r * at.scale, &q[0], &q[1], &q[2], &q[3], nb[0], nb[1],
                                               nb[2], nb[3], 1e-9 * at.scale);
      ASSERT_EQ(rc, 100);
      ExpectOnTheApexBall(S, at, q, r, R);
    }
  }
}

// A ball of 0.9, 1.8 times the sphere's radius, from nodes of the same loop farther round: its
// contact on the cone lies within a tenth of the apex, a radius and more from the node. The
// tangent-line steps swing round the axis onto the cone's rim or the sphere's pole and were held
// there (-2, "beyond the edges") at about half of these nodes, though the ball is there; grown
// from the node it is given, on the ball.
TEST_F(FilletBall, ABallSeveralTimesTheSpheresRadiusBesideAConesApexIsGrownFromTheNode) {
  ExpectApexBallsGrownFromTheNodes(Placements());
}

// The same at sizes 0.01 and 0.1, at the origin and 9e4 units out: there 64 units in the last
// place of the coordinates, the most a pair's gap is taken to carry, exceed the tolerance of
// 1e-9 of the unit, and a ball Newton finished just inside that bound was refused (-2 at size
// 0.01 out there); Newton goes on while its steps still shrink the gap, and every ball is given.
TEST_F(FilletBall, ApexBallsAtEverydaySizesFarOutAreFinishedBelowTheTolerance) {
  std::vector<Place> places(4);
  for (int k = 0; k < 4; ++k) {
    places[k].scale = k < 2 ? 0.01 : 0.1;
    for (int q = 0; q < 3; ++q) places[k].shift[q] = (k & 1) * 3e4 * places[k].scale * (q + 1);
  }
  ExpectApexBallsGrownFromTheNodes(places);
}

// Nodes of the loop of a sphere (radius R about centre) and the cone of the case c, at angles
// from `from` to `to` round the axis in steps of 0.05, as one branch with fillet radius r (the
// case's units).
IntersectionTrace* BranchBesideTheApex(const Pair& c, double from, double to, double r,
                                       const double centre[3] = kApexSphere, double R = 0.5) {
  IntersectionTrace* in = MallocIntersectionTrace();
  const int n = static_cast<int>(std::lround(std::fabs(to - from) / 0.05));
  for (int i = 0; i <= n; ++i) {
    double q[4], X[3], P[3];
    LoopBesideTheApex(from + (to - from) * i / n, q, X, centre, R);
    c.at.Map(X, P);
    AppendTraceNode(in, P, q[0], q[1], q[2], q[3])->filletParam = r * c.at.scale;
  }
  in->open = 1;
  return in;
}

// The nodes of a branch 0.4 .. 0.95 radians round the axis from the sphere's meridian through it,
// at r = 0.9, all have their ball (its contact on the cone short of the
// apex), though the fillet's spine bends there more tightly than the nodes lie from it, and a
// node's pair refined far along the fillet is one from which Newton misses the node's own ball.
// Grown from the node, that ball is found, and the trace gives every pair, on the ball.
TEST_F(FilletBall, NodesBesideAConesApexKeepTheirBallsWhereTheSpineBendsTightly) {
  for (const Place& at : Placements())
    for (const double side : {-1.0, 1.0}) {
      SCOPED_TRACE(::testing::Message() << "scale " << at.scale << " side " << side);
      const Pair c(kSphereBesideAnApex, at);
      IntersectionTrace* in = BranchBesideTheApex(c, 0.4 * side, 0.95 * side, 0.9);
      ExpectFillet(c, in, 0.9, in->nodeCount);
      FreeTrace(in);
    }
}

// That trace's own pairs fed back: between two of them, where a contact swings round the apex
// several times as far as the other moves, the ball refined from their mean ran off the cone's
// rim, and the fillet seemed to break there (the first or the last pair was lost). The ball whose
// cross-section runs through the midpoint of their centres lies between them: every pair is
// given back, unmoved.
TEST_F(FilletBall, PairsBesideAConesApexFedBackStayWhereTheyAre) {
  for (const Place& at : Placements())
    for (const double side : {-1.0, 1.0}) {
      SCOPED_TRACE(::testing::Message() << "scale " << at.scale << " side " << side);
      const Pair c(kSphereBesideAnApex, at);
      IntersectionTrace* in = BranchBesideTheApex(c, 0.4 * side, 0.95 * side, 0.9);
      int rc = 0;
      IntersectionTrace* out = Fillet(c, in, 0.9, &rc);
      ExpectFedBackUnmoved(c, out);
      FreeTrace(out);
      FreeTrace(in);
    }
}

// The sphere of radius 0.2 about (0.15, 0, 0.8) meets the cone in a loop whose stretch near the
// apex passes within 0.04 of it; a ball of the sphere's radius along 0.3 .. 1.45 radians of it, on
// either side: every node has its ball, but the cross-sections of several balls run through a
// node there; from the refiner's pair, far along the fillet, Newton found another ball no nearer
// the node, the far pair stayed, and the fillet seemed to break after a few nodes. The ball grown
// from the node lies nearer: every node gives its pair, on the ball.
TEST_F(FilletBall, NodesBesideAConesApexTakeTheNearestOfTheBallsThroughThem) {
  const double centre[3] = {0.15, 0.0, 0.8};
  for (const Place& at : Placements())
    for (const double side : {-1.0, 1.0}) {
      SCOPED_TRACE(::testing::Message() << "scale " << at.scale << " side " << side);
      const Pair c(kSmallSphereBesideAnApex, at);
      IntersectionTrace* in = BranchBesideTheApex(c, 1.45 * side, 0.3 * side, 0.2, centre, 0.2);
      ExpectFillet(c, in, 0.2, in->nodeCount);
      FreeTrace(in);
    }
}

// The fillet of radius r (the case's units) along the branch'th branch of the sphere of radius
// 0.2 about (0.15, 0, 0.8) and the cone keeps a pair, on the ball, at all but at most two of its
// nodes.
void ExpectApexBranchKeepsItsNodes(int branch, double r) {
  for (const Place& at : Placements()) {
    SCOPED_TRACE(::testing::Message() << "scale " << at.scale << " branch " << branch << " r " << r);
    const Pair c(kSmallSphereBesideAnApex, at);
    const OwnedBranches list(PairBranches(c));
    ASSERT_TRUE(list);
    ASSERT_GT(list->count, branch);
    IntersectionTrace* t = list->head;
    for (int b = 0; b < branch; ++b) t = t->next;
    RearrangeIntersectList(t);
    int rc = 0;
    IntersectionTrace* out = Fillet(c, t, r, &rc);
    EXPECT_GE(out->nodeCount, t->nodeCount - 2);
    EXPECT_LT(OffBall(c, out), 1e-6 * c.size);
    FreeTrace(out);
  }
}

// The second branch of the sphere of radius 0.2 about (0.15, 0, 0.8) and the cone, round the
// apex on the loop's near stretch and back on its far one, with a ball of 1.8 times the
// sphere's radius: where the branch turns, the refiner's pair was a ball whose cross-section
// passes within a step of the node but whose centre lies twice as far from it as the node's own
// ball's; it was kept, the next pair seemed to leap a gap, and the fillet stopped after 7 or 8
// of the branch's 13 or 14 nodes at sizes 1e-6 and 1e6.
TEST_F(FilletBall, WhereABranchTurnsBesideAConesApexTheNodeKeepsItsOwnBall) { ExpectApexBranchKeepsItsNodes(1, 0.36); }

// The first of those branches with a ball of 1.4 times the sphere's radius: its first two
// nodes, next to the apex, have no ball within the cone (theirs lie beyond the apex), and the
// refiner's pair at the second was the ball of a place several steps along, no farther from the
// node than the nearest ball whose cross-section runs through it: it was kept, the next pairs
// seemed to turn back, and the fillet kept 1 or 2 of the branch's 13 pairs at sizes 1 and 1e6.
// Those two nodes give no pair; every later one does.
TEST_F(FilletBall, ANodeBesideAConesApexDoesNotTakeTheBallOfAPlaceStepsAway) { ExpectApexBranchKeepsItsNodes(0, 0.28); }

// A radius that is not positive rolls no ball and a tolerance spanning the surfaces' size is
// none: the trace gives no pair (the latter with the error state set) and the refiner leaves its
// guess. Before, a negative radius gave every node a pair on no ball at all, and a tolerance of
// 1e300 took every node of a branch, reversed, as a contact pair.
TEST_F(FilletBall, ARadiusOrToleranceThatIsNoneGivesNoPair) {
  for (const Place& at : Placements()) {
    const Pair c(kCrossingCylinders, at);
    const OwnedBranches list(PairBranches(c));
    ASSERT_TRUE(list);
    IntersectionTrace* t = list->head;
    for (const auto& [r, tol] : {std::pair<double, double>{-0.03 * c.size, c.Tol()}, {0.0, c.Tol()},
                                 {0.03 * c.size, c.size * at.scale}, {0.03 * c.size, 1e300}}) {
      SCOPED_TRACE(::testing::Message() << "scale " << at.scale << " r " << r << " tol " << tol);
      SetRadiusArray(c.S1, t, r * at.scale, 0, 0, 0, 0, 0, 0);
      IntersectionTrace* out = MallocIntersectionTrace();
      EXPECT_EQ(NewFilletTrace(c.S1, c.S2, t, out, tol), -2);
      EXPECT_EQ(out->nodeCount, 0);
      EXPECT_EQ(KernelFailed(), tol > c.Tol());
      const IntersectionTraceNode* m = t->head;
      double q[4] = {m->u1, m->v1, m->u2, m->v2};
      EXPECT_EQ(NewestRefineToFilletPoint(c.S1, c.S2, r * at.scale, &q[0], &q[1], &q[2], &q[3], m->next->u1, m->next->v1,
                                          m->next->u2, m->next->v2, tol), -2);
      EXPECT_EQ(q[0], m->u1);
      EXPECT_EQ(q[3], m->v2);
      SetKernelError(0);
      FreeTrace(out);
    }
  }
}

// A branch whose node count runs past its list of nodes is no record to trace by: refused with
// the error state set and nothing paired (the missing nodes were read from unwritten memory).
TEST_F(FilletBall, ABranchCountingMoreNodesThanItHoldsIsRefused) {
  const Place at = Placements()[0];
  const Pair c(kCrossingCylinders, at);
  const OwnedBranches list(PairBranches(c));
  ASSERT_TRUE(list);
  IntersectionTrace* t = list->head;
  SetRadiusArray(c.S1, t, 0.03 * c.size * at.scale, 0, 0, 0, 0, 0, 0);
  t->nodeCount += 7;
  IntersectionTrace* out = MallocIntersectionTrace();
  EXPECT_EQ(NewFilletTrace(c.S1, c.S2, t, out, c.Tol()), -2);
  EXPECT_TRUE(KernelFailed());
  EXPECT_EQ(out->nodeCount, 0);
  t->nodeCount -= 7;
  SetKernelError(0);
  FreeTrace(out);
}

// A small sphere astride the cone's seam beside its apex: the contacts of the balls at the ends
// of the branches lie on the seam, which the contact solver reaches from either side of it.
TEST_F(FilletBall, ABallWhoseContactLiesOnTheSeamIsFound) {
  for (const Place& at : Placements())
    for (int order = 0; order < 2; ++order) {
      SCOPED_TRACE(::testing::Message() << "scale " << at.scale << " order " << order);
      Place off = at;
      off.shift[0] += 0.1 * at.scale, off.shift[2] += 0.85 * at.scale;
      BsplineKeeper keep;
      Bspline* sphere = keep(shapes::Sphere(0.1, off));
      Bspline* cone = keep(shapes::Cone(kZ, kX, 1.0, 0.0, 0.0, 1.0, at));
      Bspline* S1 = order ? cone : sphere;
      Bspline* S2 = order ? sphere : cone;
      const double tol = 1e-9 * shapes::PairSize(S1, S2);
      IntersectionTraceList* list = MallocIntersectionTraceList();
      ASSERT_EQ(NewIntersect(S1, S2, list, 0.01, 1e-7), 0);
      for (IntersectionTrace* t = list->head; t; t = t->next) {
        RearrangeIntersectList(t);
        SetRadiusArray(S1, t, 0.14 * at.scale, 0, 0, 0, 0, 0, 0);
        IntersectionTrace* out = MallocIntersectionTrace();
        EXPECT_EQ(NewFilletTrace(S1, S2, t, out, tol), 0) << Messages();
        EXPECT_EQ(out->nodeCount, t->nodeCount);
        FreeTrace(out);
      }
      FreeIntersectionTraceList(list);
    }
}

// The plane x = 0.1, facing the cone's axis, cuts the cone in a hyperbola whose vertex's ball
// sits on the apex, centred on the axis: its neighbours' balls lie a tenth of the size to either
// side, and so do their mirror images across the plane through the axis, whose cross-sections
// pass the nodes within a step. A trace from the vertex follows the branch to its last ball, and
// so does one toward it: the node beside the vertex keeps the ball on the side the trace came
// from, not its mirror image, which would read as a break in the fillet.
TEST_F(FilletBall, ATraceFromAHyperbolasVertexBesideAnApexFollowsItsBranch) {
  const double o[3] = {0.1, 1.0, -0.2}, e1[3] = {0.0, -2.0, 0.0}, e2[3] = {0.0, 0.0, 1.4};
  const double vertex[3] = {0.1, 0.0, 0.9};
  for (const Place& at : Placements()) {
    SCOPED_TRACE(::testing::Message() << "scale " << at.scale);
    BsplineKeeper keep;
    Bspline* S1 = keep(shapes::Plane(o, e1, e2, at));
    Bspline* S2 = keep(shapes::Cone(kZ, kX, 1.0, 0.0, 0.0, 1.0, at));
    const double tol = 1e-9 * shapes::PairSize(S1, S2);
    IntersectionTraceList* list = MallocIntersectionTraceList();
    ASSERT_EQ(NewIntersect(S1, S2, list, 0.01, 1e-7), 0);
    const auto fromVertex =
        BranchesEndingWhere(list, at, true, [&](const double X[3]) { return VecDist3(X, vertex) < 1e-6; });
    for (IntersectionTrace* t : fromVertex) {
      for (const bool toward : {false, true}) {
        SCOPED_TRACE(toward ? "toward the vertex" : "from the vertex");
        IntersectionTrace* in = MallocIntersectionTrace();
        for (const IntersectionTraceNode* m = toward ? t->head : t->tail; m; m = toward ? m->next : m->prev)
          AppendTraceNode(in, &m->x, m->u1, m->v1, m->u2, m->v2);
        in->open = 1;
        SetRadiusArray(S1, in, 0.1 * at.scale, 0, 0, 0, 0, 0, 0);
        IntersectionTrace* out = MallocIntersectionTrace();
        NewFilletTrace(S1, S2, in, out, tol);
        // The node at the far end, beyond the cone's base, has no ball.
        EXPECT_GE(out->nodeCount, in->nodeCount - 1) << Messages();
        FreeTrace(out);
        FreeTrace(in);
      }
    }
    EXPECT_GE(fromVertex.size(), 1u);
    FreeIntersectionTraceList(list);
  }
}

// A ball of radius 0.9 beside the cone's apex and the sphere of radius 0.5 about (0.5, 0, 0.4):
// at some sizes the refiner is carried along the cone's edge to the ball of another place; the
// node's own ball, grown from the node, is taken there, and the trace keeps the pairs it keeps
// at unit size.
TEST_F(FilletBall, ANodeWhoseRefinerRanAlongAnEdgeKeepsItsOwnBall) {
  std::vector<int> unit;
  for (const double scale : {1.0, 0.01, 0.02, 13.0}) {
    SCOPED_TRACE(::testing::Message() << "scale " << scale);
    Place at, off;
    at.scale = off.scale = scale;
    off.shift[0] = 0.5 * scale, off.shift[2] = 0.4 * scale;
    BsplineKeeper keep;
    Bspline* S1 = keep(shapes::Cone(kZ, kX, 1.0, 0.0, 0.0, 1.0, at));
    Bspline* S2 = keep(shapes::Sphere(0.5, off));
    const double tol = 1e-9 * shapes::PairSize(S1, S2);
    IntersectionTraceList* list = MallocIntersectionTraceList();
    ASSERT_EQ(NewIntersect(S1, S2, list, 0.01, 1e-7), 0);
    std::vector<int> kept;
    for (IntersectionTrace* t = list->head; t; t = t->next) {
      RearrangeIntersectList(t);
      SetRadiusArray(S1, t, 0.9 * scale, 0, 0, 0, 0, 0, 0);
      IntersectionTrace* out = MallocIntersectionTrace();
      NewFilletTrace(S1, S2, t, out, tol);
      kept.push_back(out->nodeCount);
      FreeTrace(out);
    }
    FreeIntersectionTraceList(list);
    if (unit.empty()) unit = kept;
    EXPECT_EQ(kept, unit);
  }
}

// The cylinder of radius 0.2 about the line x = 0.3, y = 0 (along z) cuts the cone in a branch
// from (0.1, 0, 0.9), beside the apex, to (0.5, 0, 0.5), both on the plane y = 0 the two
// surfaces are symmetric about. The ball of 0.36 at the far end has that plane for its
// cross-section, which runs through the first node too, but lies 0.8 from it, beyond the
// cone's tangent plane there: not the node's ball, whose own lies beyond the apex. A trace from
// the apex end keeps the balls of the branch from its third node on, at every size (at 0.01 the
// refiner's steps from the first node end on that far ball).
TEST_F(FilletBall, ATraceBesideAnApexTakesNoBallWhoseCrossSectionOnlyRunsThroughItsNode) {
  for (const double size : {0.01, 0.04, 1e-6, 1e6})
    for (const bool moved : {false, true}) {
      SCOPED_TRACE(::testing::Message() << "size " << size << (moved ? " moved" : ""));
      const Place at = SizedPlace(size, moved);
      Place off = at;
      off.shift[0] += 0.3 * size;
      BsplineKeeper keep;
      Bspline* S1 = keep(shapes::Cone(kZ, kX, 1.0, 0.0, 0.0, 1.0, at));
      Bspline* S2 = keep(shapes::Cylinder(kZ, kX, 0.2, -0.2, 1.2, off));
      IntersectionTraceList* list = MallocIntersectionTraceList();
      ASSERT_EQ(NewIntersect(S1, S2, list, 0.01, 1e-7), 0);
      for (IntersectionTrace* t = list->head; t; t = t->next) {
        RearrangeIntersectList(t);
        double X[3];
        at.Unmap(&t->tail->x, X);
        const double apexEnd[3] = {0.1, 0.0, 0.9};
        if (!(VecDist3(X, apexEnd) < 1e-6)) continue;
        IntersectionTrace* in = MallocIntersectionTrace();
        for (const IntersectionTraceNode* m = t->tail; m; m = m->prev)
          AppendTraceNode(in, &m->x, m->u1, m->v1, m->u2, m->v2);
        in->open = 1;
        SetRadiusArray(S1, in, 0.36 * size, 0, 0, 0, 0, 0, 0);
        IntersectionTrace* out = MallocIntersectionTrace();
        NewFilletTrace(S1, S2, in, out, 1e-9 * shapes::PairSize(S1, S2));
        EXPECT_GE(out->nodeCount, in->nodeCount - 2) << Messages();
        FreeTrace(out);
        FreeTrace(in);
      }
      FreeIntersectionTraceList(list);
    }
}

// The sphere of radius 0.1 about (0.1, 0, 0.85), beside the cone's apex, meets the cone in a loop
// about the plane y = 0 the two are symmetric about; its branch from (0.059, 0, 0.941) on that
// plane has a ball of 0.14 at every node. Off the plane the cross-section of another ball runs
// through the first node too, and where the refiner's steps end there (at 0.01, moved 3e4
// sizes) the pair of the second node turns back against it: the trace begins at the first node
// all the same, with its own ball, on the plane.
TEST_F(FilletBall, ATraceBesideAnApexBeginsWithItsFirstNodesOwnBall) {
  for (const double size : {0.01, 1e-6, 1e6})
    for (const bool moved : {false, true}) {
      SCOPED_TRACE(::testing::Message() << "size " << size << (moved ? " moved" : ""));
      const Place at = SizedPlace(size, moved);
      Place off = at;
      off.shift[0] += 0.1 * size, off.shift[2] += 0.85 * size;
      BsplineKeeper keep;
      Bspline* S1 = keep(shapes::Sphere(kZ, kX, 0.1, off));
      Bspline* S2 = keep(shapes::Cone(kZ, kX, 1.0, 0.0, 0.0, 1.0, at));
      IntersectionTraceList* list = MallocIntersectionTraceList();
      ASSERT_EQ(NewIntersect(S1, S2, list, 0.01, 1e-7), 0);
      const auto fromPlane = BranchesEndingWhere(
          list, at, false, [](const double X[3]) { return std::fabs(X[1]) < 1e-6 && X[0] < 0.08; });
      for (IntersectionTrace* t : fromPlane) {
        SetRadiusArray(S1, t, 0.14 * size, 0, 0, 0, 0, 0, 0);
        IntersectionTrace* out = MallocIntersectionTrace();
        EXPECT_EQ(NewFilletTrace(S1, S2, t, out, 1e-9 * shapes::PairSize(S1, S2)), 0) << Messages();
        EXPECT_EQ(out->nodeCount, t->nodeCount);
        FreeTrace(out);
      }
      EXPECT_GE(fromPlane.size(), 1u);
      FreeIntersectionTraceList(list);
    }
}

// The centre of the ball of radius r (the case's units) at the pair m on S1 (placed at), at the
// unit scene's scale.
void PairCentre(Bspline* S1, const Place& at, const IntersectionTraceNode* m, double r, double C[3]) {
  double P[3], Su[3], Sv[3], N[3];
  Eval3DPointOnSurfCoord(S1, m->u1, m->v1, 0, 0, P);
  Eval3DPointOnSurfCoord(S1, m->u1, m->v1, 1, 0, Su);
  Eval3DPointOnSurfCoord(S1, m->u1, m->v1, 0, 1, Sv);
  VecCrossProd3(Su, Sv, N);
  at.Unmap(P, C);
  for (int k = 0; k < 3; ++k) C[k] += r * N[k] / VecSize3(N);
}

// Copies of the pair's branches with an end at P (the case's units, within near), open, running
// from P (from) or to it; the caller frees them.
std::vector<IntersectionTrace*> BranchesAt(IntersectionTraceList* list, const Place& at, const double P[3], bool from,
                                           double near = 1e-6) {
  std::vector<IntersectionTrace*> kept;
  const auto nearP = [&](const double X[3]) { return VecDist3(X, P) < near; };
  for (IntersectionTrace* t : BranchesEndingWhere(list, at, false, nearP))
    kept.push_back(t);
  const size_t heads = kept.size();
  for (IntersectionTrace* t : BranchesEndingWhere(list, at, true, nearP))
    kept.push_back(t);
  for (size_t k = 0; k < kept.size(); ++k) {
    const bool forward = (k < heads) == from;
    IntersectionTrace* in = MallocIntersectionTrace();
    for (const IntersectionTraceNode* m = forward ? kept[k]->head : kept[k]->tail; m; m = forward ? m->next : m->prev)
      AppendTraceNode(in, &m->x, m->u1, m->v1, m->u2, m->v2);
    in->open = 1;
    kept[k] = in;
  }
  return kept;
}

// The traces of radius 0.1 along both branches from the vertex (0.1, 0, 0.9) of the hyperbola
// where the plane x = 0.1 meets the cone, at each size, at the origin and moved: every node but
// the last has a pair, its centre on the side the branch runs to.
void ExpectTracesFromTheVertexKeepTheirSide(std::initializer_list<double> sizes) {
  const double o[3] = {0.1, 1.0, -0.2}, e1[3] = {0.0, -2.0, 0.0}, e2[3] = {0.0, 0.0, 1.4};
  const double vertex[3] = {0.1, 0.0, 0.9}, r = 0.1;
  for (const double size : sizes)
    for (const bool moved : {false, true}) {
      SCOPED_TRACE(::testing::Message() << "size " << size << (moved ? " moved" : ""));
      const Place at = SizedPlace(size, moved);
      BsplineKeeper keep;
      Bspline* S1 = keep(shapes::Plane(o, e1, e2, at));
      Bspline* S2 = keep(shapes::Cone(kZ, kX, 1.0, 0.0, 0.0, 1.0, at));
      const OwnedBranches list(MallocIntersectionTraceList());
      ASSERT_EQ(NewIntersect(S1, S2, list.get(), 0.01, 1e-7), 0);
      const auto fromVertex = BranchesAt(list.get(), at, vertex, true);
      EXPECT_EQ(fromVertex.size(), 2u);
      for (IntersectionTrace* t : fromVertex) {
        double end[3];
        at.Unmap(&t->tail->x, end);
        SetRadiusArray(S1, t, r * size, 0, 0, 0, 0, 0, 0);
        IntersectionTrace* out = MallocIntersectionTrace();
        NewFilletTrace(S1, S2, t, out, 1e-9 * shapes::PairSize(S1, S2));
        // The node at the far end, beyond the cone's base, has no ball.
        EXPECT_EQ(out->nodeCount, t->nodeCount - 1);
        for (const IntersectionTraceNode* m = out->head; m; m = m->next) {
          double C[3];
          PairCentre(S1, at, m, r, C);
          EXPECT_GT(C[1] * end[1], 0.0);
        }
        FreeTrace(out);
        FreeTrace(t);
      }
    }
}

// The plane x = 0.1 and the cone at sizes 0.04 and 0.1: at the hyperbola's vertex the ball of
// 0.1 parts into two mirror images across y = 0 (none on the plane y = 0, where its centre would
// come within r / sqrt 2 of the axis), and the node next to the vertex has both too. The
// refiner took the side away from the branch for both, and the trace broke off at the third
// node (2 of 9 pairs at size 0.1): the pairs taken are seated anew on the branch's side, and
// every pair with a ball is kept, its centre on the side the branch runs to.
TEST_F(FilletBall, ATraceFromAHyperbolasVertexKeepsTheSideItsBranchRunsTo) {
  ExpectTracesFromTheVertexKeepTheirSide({0.04, 0.1});
}

// The branches of S1 and S2 (placed at) with an end at apexEnd (unplaced; fromApex: leaving it),
// their count in *count, each filleted with a ball of radius ball: rc 0 and every node kept, the
// fillet's trace handed to check.
template <class Check>
void FilletBranchesAt(Bspline* S1, Bspline* S2, const Place& at, const double apexEnd[3], bool fromApex, double ball,
                      size_t* count, Check check) {
  const OwnedBranches list(MallocIntersectionTraceList());
  ASSERT_EQ(NewIntersect(S1, S2, list.get(), 0.01, 1e-7), 0);
  const auto branches = BranchesAt(list.get(), at, apexEnd, fromApex);
  *count = branches.size();
  for (IntersectionTrace* t : branches) {
    SetRadiusArray(S1, t, ball, 0, 0, 0, 0, 0, 0);
    IntersectionTrace* out = MallocIntersectionTrace();
    EXPECT_EQ(NewFilletTrace(S1, S2, t, out, 1e-9 * shapes::PairSize(S1, S2)), 0);
    EXPECT_EQ(out->nodeCount, t->nodeCount);
    check(out);
    FreeTrace(out);
    FreeTrace(t);
  }
}

// The cylinder of radius 0.3 about the line x = 0.45, y = 0 cuts the cone in a branch from
// (0.75, 0, 0.25) to (0.15, 0, 0.85), beside the apex, where the ball of 0.1 parts into two
// mirror images across y = 0 as at a hyperbola's vertex, and grows from the node into neither.
// The refiner took the image across from the branch and the last node was dropped as a break in
// the fillet at several sizes (8 of 9); the image the branch comes to, continued from the pair
// before and as near the node as the refiner's, is taken there.
TEST_F(FilletBall, ATraceEndingBesideAnApexKeepsTheBallItsBranchComesTo) {
  const double r = 0.1;
  for (const double size : {0.01, 0.02, 0.04, 0.1}) {
      SCOPED_TRACE(::testing::Message() << "size " << size);
      const Place at = SizedPlace(size, false);
      Place off = at;
      off.shift[0] += 0.45 * size;
      BsplineKeeper keep;
      Bspline* S1 = keep(shapes::Cylinder(kZ, kX, 0.3, -0.2, 1.2, off));
      Bspline* S2 = keep(shapes::Cone(kZ, kX, 1.0, 0.0, 0.0, 1.0, at));
      const double apexEnd[3] = {0.15, 0.0, 0.85};
      size_t count = 0;
      FilletBranchesAt(S1, S2, at, apexEnd, false, r * size, &count, [](const IntersectionTrace*) {});
      EXPECT_GE(count, 1u);
    }
}

// The cone and the sphere of radius 0.1 about (0.1, 0, 0.85) with a ball of 0.14, along the
// branch whose ends lie on the plane y = 0: the ball of the node at its end on the sphere's far
// side touches the sphere just across its pole, on the meridian half a turn from the node's.
// Newton's steps toward it were clamped on the pole, where no tangent plane resolves the next
// one, and at sizes 1e-6 and 1e6 that node kept no pair (12 of 13); they go on over the pole.
TEST_F(FilletBall, ABallJustAcrossASpheresPoleIsReachedOverThePole) {
  for (const double size : {1.0, 1e-6, 1e6}) {
    SCOPED_TRACE(::testing::Message() << "size " << size);
    const Pair c(kConeUnderASmallSphere, SizedPlace(size, false));
    const OwnedBranches list(PairBranches(c));
    ASSERT_TRUE(list);
    ASSERT_EQ(list->count, 2);
    IntersectionTrace* t = list->head->next;
    RearrangeIntersectList(t);
    int rc = 0;
    IntersectionTrace* out = Fillet(c, t, 0.14, &rc);
    EXPECT_EQ(rc, 0) << Messages();
    EXPECT_EQ(out->nodeCount, t->nodeCount);
    EXPECT_LT(OffBall(c, out), 1e-6 * c.size);
    FreeTrace(out);
  }
}

// The same traces at size 1: the first two pairs of the branch to y < 0 were the mirror images
// on the far side of the vertex, and the contact's move from the second to the third, across
// the break between the images, was under twice the branch's step, so no gap was looked for;
// the trace kept five pairs across a break. The ball continued from the second pair toward the
// third breaks off on the way: the pairs are seated anew on the branch's side.
TEST_F(FilletBall, AContactSwingingAcrossAHyperbolasVertexWithinTwoStepsIsAGap) {
  ExpectTracesFromTheVertexKeepTheirSide({1.0});
}

// The cylinder of radius 0.1 about the line x = 0.15, y = 0 (along z) cuts the cone in a loop
// from (0.25, 0, 0.75) to (0.05, 0, 0.95), beside the apex. The balls of 0.2 of the nodes near
// that end reach over the apex to the cone's far side. Balls of 0.03 to 0.17 at the end node
// would touch the apex itself, so grown from the node the ball becomes the one at the loop's far
// end, whose cross-section runs through the node too. The traces of 0.2 along each branch, to
// the apex end or from it, keep every node, every pair on a ball 0.3 from the cylinder's axis and
// 0.2 outside the cone.
void ExpectApexEndNodesKeepTheirBalls(bool fromApex, std::initializer_list<double> sizes = {0.01, 0.05, 0.1}) {
  const double r = 0.2;
  for (const double size : sizes)
    for (const bool moved : {false, true}) {
      SCOPED_TRACE(::testing::Message() << "size " << size << (moved ? " moved" : ""));
      const Place at = SizedPlace(size, moved);
      Place off = at;
      off.shift[0] += 0.15 * size, off.shift[2] += 0.8 * size;
      BsplineKeeper keep;
      Bspline* S1 = keep(shapes::Cone(kZ, kX, 1.0, 0.0, 0.0, 1.0, at));
      Bspline* S2 = keep(shapes::Cylinder(kZ, kX, 0.1, -1.2, 0.6, off));
      const double apexEnd[3] = {0.05, 0.0, 0.95};
      size_t count = 0;
      FilletBranchesAt(S1, S2, at, apexEnd, fromApex, r * size, &count, [&](const IntersectionTrace* out) {
        for (const IntersectionTraceNode* m = out->head; m; m = m->next) {
          double C[3];
          PairCentre(S1, at, m, r, C);
          EXPECT_NEAR(std::hypot(C[0] - 0.15, C[1]), 0.1 + r, 1e-6);
          EXPECT_NEAR((std::hypot(C[0], C[1]) + C[2] - 1.0) / std::sqrt(2.0), r, 1e-6);
        }
      });
      EXPECT_EQ(count, 2u);
    }
}

// Toward the apex end the last node was dropped as a break in the fillet (10 of 11 pairs): its
// ball is continued from the pair before.
TEST_F(FilletBall, ABallReachingOverAConesApexEndsTheTraceThatComesToIt) { ExpectApexEndNodesKeepTheirBalls(false); }

// From the apex end the first node was passed over as having only the ball of another place
// (10 of 11 pairs): its ball is continued from the next node's.
TEST_F(FilletBall, ABallReachingOverAConesApexBeginsTheTraceThatLeavesIt) { ExpectApexEndNodesKeepTheirBalls(true); }

// At unit size the next node's refiner slides along the fillet to the ball of the loop's far end
// as well; carried back from there to the first node, the ball stays at that end and misses the
// first node's corner, and the first node was given as not converging (9 of 10 pairs).
TEST_F(FilletBall, ABallReachingOverAConesApexBeginsTheTraceThatLeavesItAtUnitSize) {
  ExpectApexEndNodesKeepTheirBalls(true, {1.0});
}

// The unit cone with its apex at (0, 0, 1) and the cylinder of radius 0.2 about the line through A
// (the case's units) along axis, its seam toward across, both at the placement at of the given size.
void ApexConeAndCylinder(BsplineKeeper& keep, const Place& at, double size, const double A[3], const double axis[3],
                         const double across[3], Bspline** cone, Bspline** cylinder) {
  Place off = at;
  for (int q = 0; q < 3; ++q) off.shift[q] += A[q] * size;
  *cone = keep(shapes::Cone(kZ, kX, 1.0, 0.0, 0.0, 1.0, at));
  *cylinder = keep(shapes::Cylinder(axis, across, 0.2, -1.2, 0.6, off));
}

// The cylinder of radius 0.2 about the line through (0.3, 0, 0.8) tilted 0.3 from z toward x cuts
// the cone in a loop whose end (x, 0, 1 - x) beside the apex lies on the plane y = 0 the pair is
// symmetric about. The first node's refiner does not converge there, while the ball continued from
// the next node's has its cross-section through the node and rounds its corner: it was compared
// with the refiner's last iterate, which is no ball, and refused (a pair short). Each branch from
// that end keeps every node, every pair on a ball 0.4 from the cylinder's axis and 0.2 outside the
// cone.
TEST_F(FilletBall, AFirstNodeWhoseRefinerDoesNotConvergeTakesTheBallContinuedFromTheNext) {
  const double r = 0.2, tilt = 0.3, c = std::cos(tilt), s = std::sin(tilt);
  const double axis[3] = {s, 0.0, c}, across[3] = {c, 0.0, -s}, A[3] = {0.3, 0.0, 0.8};
  const double x = (0.3 * c + 0.2 * s - 0.2) / (c + s), end[3] = {x, 0.0, 1.0 - x};
  for (const double size : {0.01, 1.0}) {
    SCOPED_TRACE(::testing::Message() << "size " << size);
    const Place at = SizedPlace(size, false);
    BsplineKeeper keep;
    Bspline *S1, *S2;
    ApexConeAndCylinder(keep, at, size, A, axis, across, &S1, &S2);
    size_t count = 0;
    FilletBranchesAt(S1, S2, at, end, true, r * size, &count, [&](const IntersectionTrace* out) {
      for (const IntersectionTraceNode* m = out->head; m; m = m->next) {
        double C[3], w[3];
        PairCentre(S1, at, m, r, C);
        for (int q = 0; q < 3; ++q) w[q] = C[q] - A[q];
        const double h = w[0] * axis[0] + w[1] * axis[1] + w[2] * axis[2];
        EXPECT_NEAR(std::hypot(w[0] - h * axis[0], w[1] - h * axis[1], w[2] - h * axis[2]), 0.2 + r, 1e-6);
        EXPECT_NEAR((std::hypot(C[0], C[1]) + C[2] - 1.0) / std::sqrt(2.0), r, 1e-6);
      }
    });
    EXPECT_EQ(count, 2u);
  }
}

// The plane x = c (normal -x) and the cone meet in a hyperbola with its vertex V = (c, 0, 1 - c)
// beside the apex. The balls of radius r have their centres on the plane x = c - r and on the
// cone rho + z = 1 + r sqrt 2 offset from it; those whose cross-section runs through V lie where
// the distance from V along that hyperbola is stationary: at rho = (c + r sqrt 2) / 2, the two
// mirror images, or on y = 0. Each branch running to V and from it, filleted with the plane
// first or the cone: every pair on the ball, and the pair at V's end one of V's balls.
void ExpectTheVertexKeepsItsBall(double c, double r, bool coneFirst, std::initializer_list<double> sizes) {
  const double o[3] = {c, 1.0, -0.2}, e1[3] = {0.0, -2.0, 0.0}, e2[3] = {0.0, 0.0, 1.4};
  const double vertex[3] = {c, 0.0, 1.0 - c}, k = c + r * std::sqrt(2.0);
  for (const double size : sizes) {
    SCOPED_TRACE(::testing::Message() << "size " << size);
    const Place at = SizedPlace(size, false);
    BsplineKeeper keep;
    Bspline* plane = keep(shapes::Plane(o, e1, e2, at));
    Bspline* cone = keep(shapes::Cone(kZ, kX, 1.0, 0.0, 0.0, 1.0, at));
    Bspline* S1 = coneFirst ? cone : plane;
    Bspline* S2 = coneFirst ? plane : cone;
    for (const bool fromVertex : {false, true}) {
      const OwnedBranches list(MallocIntersectionTraceList());
      ASSERT_EQ(NewIntersect(S1, S2, list.get(), 0.01, 1e-7), 0);
      const auto branches = BranchesAt(list.get(), at, vertex, fromVertex);
      EXPECT_EQ(branches.size(), 2u);
      for (IntersectionTrace* t : branches) {
        SetRadiusArray(S1, t, r * size, 0, 0, 0, 0, 0, 0);
        IntersectionTrace* out = MallocIntersectionTrace();
        NewFilletTrace(S1, S2, t, out, 1e-9 * shapes::PairSize(S1, S2));
        ASSERT_GT(out->nodeCount, 0);
        for (const IntersectionTraceNode* m = out->head; m; m = m->next) {
          double C[3];
          PairCentre(S1, at, m, r, C);
          EXPECT_NEAR(C[0], c - r, 1e-6);
          EXPECT_NEAR((std::hypot(C[0], C[1]) + C[2] - 1.0) / std::sqrt(2.0), r, 1e-6);
        }
        double C[3];
        PairCentre(S1, at, fromVertex ? out->head : out->tail, r, C);
        EXPECT_TRUE(std::fabs(std::hypot(C[0], C[1]) - 0.5 * k) < 1e-6 || std::fabs(C[1]) < 1e-6)
            << C[0] << " " << C[1] << " " << C[2];
        FreeTrace(out);
        FreeTrace(t);
      }
    }
  }
}

// With the plane x = 0.05 first and a ball of 0.2, the pair of the node before V was taken on the
// ball beyond V (its cross-section within a step of both nodes), and V's own ball then read as
// the contact on the cone turning back, though the centres ran on in order: V kept no pair.
TEST_F(FilletBall, AHyperbolasVertexCoveredByThePairBeforeKeepsItsBall) {
  ExpectTheVertexKeepsItsBall(0.05, 0.2, false, {1.0, 0.01});
}

// With the cone first, the plane x = 0.1 and a ball of 0.2 at sizes 1e-6 and 1e6, V's refiner met
// degenerate geometry there (the balls part into the mirror images), and V kept no pair: the ball
// continued from the neighbouring pair, its cross-section through V, is taken as where the
// refiner gave up after sliding off.
TEST_F(FilletBall, AHyperbolasVertexWhoseRefinerGivesUpTakesTheBallContinuedToIt) {
  ExpectTheVertexKeepsItsBall(0.1, 0.2, true, {1e-6, 1e6});
}

// The cylinder of radius 0.2 about the line x = 0.22, y = 0.03 (along z) cuts the cone in a
// loop whose branches meet on the cone's seam at about (0.022, 0, 0.978), beside the apex. The balls of 0.03
// there have their centres where the spine swings over the apex, and the cross-sections of the
// last two nodes each meet it twice. The pair before the last node was taken at the last node's
// ball next along the spine (its cross-section within a short step of both nodes), growth from
// the last node found the other one beyond, and the last node was dropped as a break in the
// fillet on the branch coming from y > 0 (8 of 9 pairs at every size): the ball continued from
// the pair before, which covers the node, is taken. On each branch to that end every node keeps
// a pair on a ball 0.23 from the cylinder's axis and 0.03 outside the cone.
TEST_F(FilletBall, ATraceToAnEndWhoseCrossSectionMeetsTheSpineTwiceKeepsTheBallNextAlongIt) {
  const double r = 0.03, A[3] = {0.22, 0.03, 0.8}, end[3] = {0.022263, 0.0, 0.977737};
  for (const double size : {1e-6, 0.03, 1.0}) {
    SCOPED_TRACE(::testing::Message() << "size " << size);
    const Place at = SizedPlace(size, false);
    BsplineKeeper keep;
    Bspline *S1, *S2;
    ApexConeAndCylinder(keep, at, size, A, kZ, kX, &S1, &S2);
    const OwnedBranches list(MallocIntersectionTraceList());
    ASSERT_EQ(NewIntersect(S1, S2, list.get(), 0.01, 1e-7), 0);
    const auto branches = BranchesAt(list.get(), at, end, false, 1e-5);
    EXPECT_EQ(branches.size(), 2u);
    for (IntersectionTrace* t : branches) {
      SetRadiusArray(S1, t, r * size, 0, 0, 0, 0, 0, 0);
      IntersectionTrace* out = MallocIntersectionTrace();
      EXPECT_EQ(NewFilletTrace(S1, S2, t, out, 1e-9 * shapes::PairSize(S1, S2)), 0);
      EXPECT_EQ(out->nodeCount, t->nodeCount);
      for (const IntersectionTraceNode* m = out->head; m; m = m->next) {
        double C[3];
        PairCentre(S1, at, m, r, C);
        EXPECT_NEAR(std::hypot(C[0] - A[0], C[1] - A[1]), 0.2 + r, 1e-6);
        EXPECT_NEAR((std::hypot(C[0], C[1]) + C[2] - 1.0) / std::sqrt(2.0), r, 1e-6);
      }
      FreeTrace(out);
      FreeTrace(t);
    }
  }
}

}  // namespace
