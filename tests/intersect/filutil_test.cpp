// Rolling-ball fillets: contact pairs against the exact ball in a right-angled corner at every
// unit of length, the centre equation on curved pairs, curvature radii of a sphere, the radius
// laws, fillet traces (turning nodes, the seam rule, variable-radius limits) and clean failure
// under injected allocation failures.
#include <algorithm>
#include <array>
#include <cmath>
#include <utility>
#include <vector>

#include "bspline/bsvalid.h"
#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "intersect/filutil.h"
#include "intersect/newintr.h"
#include "tests/intersect/shapes.h"
#include "tests/support/builders.h"
#include "tests/support/checks.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class Fillet : public KernelTest {};

// The corner x >= 0, z >= 0 between the floor z = 0 (S1: u = x, v = y, normal +z) and the wall
// x = 0 (S2: u = y, v = z, normal +x), scaled by s; each plane spans [0, w] in its directions.
struct Corner {
  BsplineKeeper keep;
  Bspline* floor;
  Bspline* wall;
  Corner(double s, double w = 1.0) {
    const double O[3] = {0, 0, 0}, ex[3] = {w, 0, 0}, ey[3] = {0, 1, 0}, ez[3] = {0, 0, w};
    floor = keep(shapes::Plane(O, ex, ey, s));
    wall = keep(shapes::Plane(O, ey, ez, s));
  }
};

// A trace along the corner's line at y = 0 .. 1 with n nodes, each of radius r.
IntersectionTrace* LineTrace(int n, double r, double w = 1.0) {
  IntersectionTrace* t = MallocIntersectionTrace();
  for (int i = 0; i < n; ++i) {
    const double y = (i + 0.5) / n, P[3] = {0, y, 0};
    AppendTraceNode(t, P, 0.0, y, y, 0.0)->filletParam = r;
  }
  t->open = 1;
  (void)w;
  return t;
}

void FreeTrace(IntersectionTrace* t) {
  FreeTraceNodes(t);
  Free(t);
}

TEST_F(Fillet, BallInARightAngleAtEveryScale) {
  for (double s : {1e-6, 1e-3, 1.0, 1e3, 1e6}) {
    Corner c(s);
    for (const bool newest : {true, false}) {
      double u1 = 0.0, v1 = 0.4, u2 = 0.4, v2 = 0.0;
      const double r = 0.1 * s;
      const int rc = newest ? NewestRefineToFilletPoint(c.floor, c.wall, r, &u1, &v1, &u2, &v2, 0,
                                                        0.5, 0.5, 0, 1e-7 * s)
                            : NewRefineToFilletPoint(c.floor, c.wall, r, &u1, &v1, &u2, &v2, 0,
                                                     0.5, 0.5, 0, 1e-7 * s);
      ASSERT_EQ(rc, 100) << s << " " << newest;
      // Contacts a radius from the corner line (tangent length r / tan 45), at the guess's y.
      EXPECT_NEAR(u1, 0.1, 1e-6) << s;
      EXPECT_NEAR(v2, 0.1, 1e-6) << s;
      EXPECT_NEAR(v1, 0.4, 1e-6) << s;
      EXPECT_NEAR(u2, 0.4, 1e-6) << s;
    }
    // Flat surfaces have no curvature radius; a sphere's is its radius in every direction.
    double rho1 = 0, rho2 = 0;
    GetRadiusOfCurvatureOfSurfaces(c.floor, c.wall, 0.0, 0.4, 0.4, 0.0, &rho1, &rho2);
    EXPECT_EQ(rho1, 3.37e38);
    EXPECT_EQ(rho2, 3.37e38);
    BsplineKeeper keep;
    Bspline* sphere = keep(shapes::SpherePatch(s));
    const double o[3] = {-0.2, -0.2, 0.2}, px[3] = {1.5, 0, 0}, py[3] = {0, 1.5, 0};
    Bspline* plane = keep(shapes::Plane(o, px, py, s));
    // The point of latitude asin(0.2) on the meridian of longitude 30.
    const double lat = std::asin(0.2), u = 0.5 + 0.5 * std::tan(lat / 2) / std::tan(M_PI / 8);
    double P[3];
    Eval3DPointOnSurfCoord(sphere, u, 0.3, 0, 0, P);
    ASSERT_NEAR(P[2], 0.2 * s, 1e-3 * s);
    GetRadiusOfCurvatureOfSurfaces(sphere, plane, u, 0.3, (P[0] / s + 0.2) / 1.5,
                                   (P[1] / s + 0.2) / 1.5, &rho1, &rho2);
    EXPECT_NEAR(std::fabs(rho1), s, 1e-9 * s);
    EXPECT_EQ(rho2, 3.37e38);
  }
}

TEST_F(Fillet, DegenerateAndClampedContacts) {
  Corner c(1.0);
  // Coincident surfaces: the neighbour gives the direction along the trace, and the contacts
  // move across it (x and the first surface's u stay); a neighbour at the point itself leaves
  // no direction: -2 with the guess untouched.
  double u1 = 0.5, v1 = 0.5, u2 = 0.5, v2 = 0.5;
  NewestRefineToFilletPoint(c.floor, c.floor, 0.1, &u1, &v1, &u2, &v2, 0.6, 0.5, 0.6, 0.5, 1e-7);
  EXPECT_NEAR(u1, 0.5, 1e-12);
  EXPECT_NEAR(u2, 0.5, 1e-12);
  EXPECT_GT(std::fabs(v1 - 0.5), 1e-3);
  u1 = v1 = u2 = v2 = 0.5;
  EXPECT_EQ(NewestRefineToFilletPoint(c.floor, c.floor, 0.1, &u1, &v1, &u2, &v2, 0.5, 0.5, 0.5,
                                      0.5, 1e-7),
            -2);
  EXPECT_EQ(u1, 0.5);
  EXPECT_EQ(v1, 0.5);
  // A ball whose contacts lie beyond the surfaces' edges (0.1 away on planes 0.05 wide): the
  // iterate stays clamped to the edge and the limit gives -2, not 0.
  Corner narrow(1.0, 0.05);
  u1 = 0.0, v1 = 0.4, u2 = 0.4, v2 = 0.0;
  EXPECT_EQ(NewestRefineToFilletPoint(narrow.floor, narrow.wall, 0.1, &u1, &v1, &u2, &v2, 0, 0.5,
                                      0.5, 0, 1e-7),
            -2);
  EXPECT_EQ(u1, 1.0);
}

// On a curved pair (a wave crossing a tilted bowl) every node of their intersection that
// converges is a ball of the radius touching both: centres agree and the contacts are a radius
// from the centre along each normal.
TEST_F(Fillet, ConvergedContactsSatisfyTheCentreEquation) {
  BsplineKeeper keep;
  PatchOptions o;
  o.nu = o.nv = 7;
  Bspline* bowl = keep(BuildFunctionPatch([](double x, double y) { return 0.3 * (x - 0.5) * (x - 0.5) + 0.1 * y; }, o));
  // The wall x = 0.5 + 0.1 sin(2 pi z) (u = y, v = z), facing +x.
  const std::vector<double> g = shapes::Greville(3, 7);
  std::vector<double> pts;
  for (int j = 0; j < 7; ++j)
    for (int i = 0; i < 7; ++i) {
      const double z = -0.5 + g[j];
      pts.insert(pts.end(), {0.5 + 0.05 * std::sin(6.283185307179586 * z), g[i], z});
    }
  Bspline* wall = keep(BuildSurface(3, 3, 7, 7, pts));
  IntersectionTraceList* list = MallocIntersectionTraceList();
  ASSERT_EQ(NewIntersect(bowl, wall, list, 0.01, 1e-6), 0);
  ASSERT_EQ(list->count, 1);
  const double r = 0.05, tol = 1e-7;
  int converged = 0, n = 0;
  for (IntersectionTraceNode* m = list->head->head; m; m = m->next, ++n) {
    const IntersectionTraceNode* nb = m->next ? m->next : m->prev;
    double q[4] = {m->u1, m->v1, m->u2, m->v2};
    if (NewestRefineToFilletPoint(bowl, wall, r, &q[0], &q[1], &q[2], &q[3], nb->u1, nb->v1, nb->u2,
                                  nb->v2, tol) != 100)
      continue;
    ++converged;
    double C[2][3];
    for (int s = 0; s < 2; ++s) {
      Bspline* srf = s ? wall : bowl;
      double P[3], Su[3], Sv[3], N[3];
      Eval3DPointOnSurfCoord(srf, q[2 * s], q[2 * s + 1], 0, 0, P);
      Eval3DPointOnSurfCoord(srf, q[2 * s], q[2 * s + 1], 1, 0, Su);
      Eval3DPointOnSurfCoord(srf, q[2 * s], q[2 * s + 1], 0, 1, Sv);
      VecCrossProd3(Su, Sv, N);
      const double l = VecSize3(N);
      for (int k = 0; k < 3; ++k) C[s][k] = P[k] + r * N[k] / l;
      EXPECT_GE(q[2 * s], 0.0);
      EXPECT_LE(q[2 * s], 1.0);
    }
    EXPECT_LT(VecDist3(C[0], C[1]), tol);
  }
  EXPECT_GT(n, 5);
  EXPECT_GE(converged, n - 2);
  FreeIntersectionTraceList(list);
}

TEST_F(Fillet, RadiusLaws) {
  Corner c(1.0);
  IntersectionTrace* t = LineTrace(101, 0.0);
  // Split mode: r0 to r1 over nodes 0 .. k1 - 1, on to r2 over k1 .. k2 - 1, r2 after.
  for (int mode : {1, 2}) {
    SetRadiusArray(c.floor, t, 0.1, 0.3, 0.05, mode, 1, 40, 70);
    int i = 0;
    for (IntersectionTraceNode* m = t->head; m; m = m->next, ++i) {
      if (i == 39) {
        EXPECT_NEAR(m->filletParam, 0.3, 1e-12);
      } else if (i >= 70) {
        EXPECT_EQ(m->filletParam, 0.05);
      } else if (i == 0) {
        EXPECT_NEAR(m->filletParam, 0.1, 1e-12);  // the first node is at length 0
      }
    }
  }
  // The cubic law has zero slope at both ends, the linear one its mean slope.
  SetRadiusArray(c.floor, t, 0.1, 0.3, 0.0, 2, 0, 0, 0);
  const double h = t->head->next->y - t->head->y, L = t->tail->y - t->head->y;
  const double start = (t->head->next->filletParam - t->head->filletParam) / h;
  const double end = (t->tail->filletParam - t->tail->prev->filletParam) / h;
  EXPECT_NEAR(t->tail->filletParam, 0.3, 1e-12);
  EXPECT_LT(std::fabs(start), 3.0 * h / L * 0.2 / L);
  EXPECT_LT(std::fabs(end), 3.0 * h / L * 0.2 / L);
  SetRadiusArray(c.floor, t, 0.1, 0.3, 0.0, 1, 0, 0, 0);
  EXPECT_NEAR((t->head->next->filletParam - t->head->filletParam) / h, 0.2 / L, 1e-9);
  SetRadiusArray(c.floor, t, 0.07, 0.3, 0.0, 0, 0, 0, 0);
  for (IntersectionTraceNode* m = t->head; m; m = m->next) EXPECT_EQ(m->filletParam, 0.07);
  FreeTrace(t);
}

TEST_F(Fillet, FilletTraces) {
  Corner c(1.0);
  // Every node converges; the contact curves run a radius off the corner.
  IntersectionTrace* in = LineTrace(12, 0.1);
  IntersectionTrace* out = MallocIntersectionTrace();
  ASSERT_EQ(NewFilletTrace(c.floor, c.wall, in, out, 1e-7), 0);
  ASSERT_EQ(out->nodeCount, 12);
  for (IntersectionTraceNode* m = out->head; m; m = m->next) {
    EXPECT_NEAR(m->u1, 0.1, 1e-6);
    EXPECT_NEAR(m->v2, 0.1, 1e-6);
    EXPECT_NEAR(m->v1, m->u2, 1e-6);
  }
  FreeTrace(out);
  // A node after the fourth that steps back along the corner is dropped.
  IntersectionTraceNode* sixth = in->head;
  for (int k = 0; k < 5; ++k) sixth = sixth->next;
  sixth->v1 = sixth->u2 = 0.05;
  out = MallocIntersectionTrace();
  ASSERT_EQ(NewFilletTrace(c.floor, c.wall, in, out, 1e-7), 0);
  EXPECT_EQ(out->nodeCount, 11);
  for (IntersectionTraceNode* m = out->head; m; m = m->next) EXPECT_NE(m->v1, 0.05);
  FreeTrace(out);

  // The second node a millionth behind the first (as a closed trace's own pairs fed back may
  // have it, the closing pair a hair past its neighbour): that step stands for no way along the
  // corner, so the nodes after it, going on, are not taken for steps back and dropped.
  in->head->next->y = in->head->next->v1 = in->head->next->u2 = in->head->y - 1e-6;
  out = MallocIntersectionTrace();
  ASSERT_EQ(NewFilletTrace(c.floor, c.wall, in, out, 1e-9), 0);
  EXPECT_EQ(out->nodeCount, 11);
  FreeTrace(out);

  // Node data rearranged into one run: backward nodes reversed, then the forward ones.
  IntersectionTrace* r = LineTrace(5, 0.1);
  r->directionStart = 3;
  double v[5];
  int i = 0;
  for (IntersectionTraceNode* m = r->head; m; m = m->next) m->filletParam = i++;
  i = 0;
  for (IntersectionTraceNode* m = r->head; m; m = m->next) v[i++] = m->v1;
  RearrangeIntersectList(r);
  const int order[5] = {4, 3, 0, 1, 2};
  i = 0;
  for (IntersectionTraceNode* m = r->head; m; m = m->next, ++i) {
    EXPECT_EQ(m->v1, v[order[i]]);
    EXPECT_EQ(m->y, v[order[i]]);
    EXPECT_EQ(m->filletParam, i);  // radii stay with their links
  }
  FreeTrace(r);

  // The seam rule on a surface closed in u: ends more than half the range apart go to the two
  // ends of the range (which end depends on their order); others meet at their mean.
  c.floor->closedU = 1;
  IntersectionTrace* f = LineTrace(3, 0.1);
  f->head->u1 = 0.95;
  f->tail->u1 = 0.05;
  CloseFilletIfClosed(c.floor, c.wall, f);
  EXPECT_EQ(f->head->u1, 1.0);
  EXPECT_EQ(f->tail->u1, 0.0);
  EXPECT_NEAR(f->head->v1, f->tail->v1, 1e-15);
  EXPECT_NEAR(f->head->v1, 0.5, 1e-12);
  f->head->u1 = 0.02;
  f->tail->u1 = 0.97;
  CloseFilletIfClosed(c.floor, c.wall, f);
  EXPECT_EQ(f->head->u1, 0.0);
  EXPECT_EQ(f->tail->u1, 1.0);
  f->head->u2 = 0.02;  // the wall is not closed: the mean
  f->tail->u2 = 0.97;
  CloseFilletIfClosed(c.floor, c.wall, f);
  EXPECT_NEAR(f->head->u2, 0.495, 1e-15);
  EXPECT_EQ(f->head->u2, f->tail->u2);
  FreeTrace(f);
  FreeTrace(in);
}

// A variable-radius trace limited to its box: with every node admissible nothing is
// extrapolated; with the box starting past the head, the start gets the neighbour outside and a
// point between where the ball first fits.
TEST_F(Fillet, VariableRadiusLimits) {
  Corner c(1.0);
  IntersectionTrace* in = LineTrace(10, 0.1);
  double box[16] = {0, 0, 0, 0, 1, 1, 1, 1, 0, 0, 0, 0, 1, 1, 1, 1};
  IntersectionTrace* out = MallocIntersectionTrace();
  ASSERT_EQ(SnipIntersectionForVarRadius(c.floor, c.wall, in, &out, 0.1, 0.1, box, 1e-7), 0);
  EXPECT_EQ(out->nodeCount, 10);
  EXPECT_EQ(out->head->v1, in->head->v1);
  EXPECT_EQ(out->tail->v1, in->tail->v1);
  FreeTrace(out);
  // v1 (along the corner) from 0.32: nodes at 0.05 .. 0.25 are out.
  box[2] = 0.32;
  out = MallocIntersectionTrace();
  ASSERT_EQ(SnipIntersectionForVarRadius(c.floor, c.wall, in, &out, 0.1, 0.1, box, 1e-7), 0);
  ASSERT_GE(out->nodeCount, 9);
  const IntersectionTraceNode* made = out->head->next;
  EXPECT_LT(out->head->v1, made->v1);
  EXPECT_GE(made->v1, 0.32 - 1e-4);
  EXPECT_LT(made->v1, 0.35);
  EXPECT_NEAR(made->u1, 0.0, 1e-9);  // on the intersection, not yet a contact
  EXPECT_DOUBLE_EQ(made->next->v1, 0.35);
  FreeTrace(out);
  // The wedge narrows from 135 to 90 degrees along the corner (the wall leans back at y = 0),
  // so the tangent length r / tan(half angle) grows along it: with u1 held to [0.09, 0.105]
  // the ball of 0.1 fits only near y = 1 and the ball of 0.217 only near y = 0. The last node
  // for the end radius comes before the first for the start radius: -2, no walk off the trace.
  const double w = std::sqrt(0.5);
  Bspline* wall = BuildSurface(1, 1, 2, 2, {0, 0, 0, 0, 1, 0, -w, 0, w, 0, 1, 1});
  ASSERT_TRUE(wall);
  const double wedge[16] = {0.09, 0, 0, 0, 0.105, 1, 1, 1, 0, 0, 0, 0, 1, 1, 1, 1};
  out = MallocIntersectionTrace();
  EXPECT_EQ(SnipIntersectionForVarRadius(c.floor, wall, in, &out, 0.1, 0.217, wedge, 1e-7), -2);
  EXPECT_EQ(out->nodeCount, 0);
  FreeTrace(out);
  out = MallocIntersectionTrace();  // either radius alone has its stretch
  EXPECT_EQ(SnipIntersectionForVarRadius(c.floor, wall, in, &out, 0.1, 0.1, wedge, 1e-7), 0);
  EXPECT_GT(out->head->v1, 0.5);
  FreeTrace(out);
  out = MallocIntersectionTrace();
  EXPECT_EQ(SnipIntersectionForVarRadius(c.floor, wall, in, &out, 0.217, 0.217, wedge, 1e-7), 0);
  EXPECT_LT(out->tail->v1, 0.5);
  FreeTrace(out);
  FreeBspline(wall);
  // No node admits the ball: -2.
  box[2] = 2.0;
  out = MallocIntersectionTrace();
  EXPECT_EQ(SnipIntersectionForVarRadius(c.floor, c.wall, in, &out, 0.1, 0.1, box, 1e-7), -2);
  FreeTrace(out);
  FreeTrace(in);
}

// A point of the floor moved onto the foot of a wall point, which the floor holds only on the
// corner line; (a, b) may come swapped.
TEST_F(Fillet, ExactPointOnTheOtherSurface) {
  for (double s : {1e-6, 1.0, 1e6}) {
    Corner c(s);
    for (int swap : {1, -1}) {
      double u = 0.3, v = 0.1;
      const double a = swap == -1 ? 0.0 : 0.4, b = swap == -1 ? 0.4 : 0.0;  // y 0.4, z 0
      EXPECT_EQ(RefineToExactPoint(c.floor, c.wall, &u, &v, a, b, 1e-9 * s, swap), 0);
      EXPECT_NEAR(u, 0.0, 1e-9);
      EXPECT_NEAR(v, 0.4, 1e-9);
      // Within the tolerance nothing moves.
      double u0 = 1e-12, v0 = 0.4;
      RefineToExactPoint(c.floor, c.wall, &u0, &v0, a, b, 1e-6 * s, swap);
      EXPECT_EQ(u0, 1e-12);
    }
    double out[3];
    CopyCoord(1 * s, 2, 3, out);
    EXPECT_EQ(out[0], s);
    EXPECT_EQ(out[2], 3.0);
  }
}

TEST_F(Fillet, InjectedFailuresLeaveNothingBehind) {
  Corner c(1.0);
  IntersectionTrace* in = LineTrace(8, 0.1);
  const int failures = RunWithInjectedFailures(60, 1, [&] {
    IntersectionTrace* out = MallocIntersectionTrace();
    if (!out) return 1;
    const int r = NewFilletTrace(c.floor, c.wall, in, out, 1e-7);
    EXPECT_TRUE(r == 0 || r == -2);
    if (r == 0) {
      EXPECT_EQ(out->nodeCount, 8);
    }
    FreeTrace(out);
    return r == 0 ? 0 : 1;
  });
  EXPECT_GT(failures, 5);
  FreeTrace(in);
}

// The parameter of the closed cylinder of shapes::Cylinder at angle a (0 .. 2 pi): quarter k
// spans [k / 4, (k + 1) / 4], and on a rational quadratic arc of 90 degrees tan(phi / 2), phi
// from the arc's middle, is linear in its parameter.
double CylinderParam(double a) {
  const int k = std::min(3, static_cast<int>(a / (M_PI / 2)));
  const double phi = a - (k * M_PI / 2 + M_PI / 4);
  return (k + 0.5 + 0.5 * std::tan(phi / 2) / std::tan(M_PI / 8)) / 4;
}

// The plane z = 0 through a closed rational cylinder of radius 0.5 (sizes s), their circle of
// intersection as 88 nodes that start on the cylinder's seam (or a quarter turn after it) and
// stop a step short of their start, filleted with radius 0.1 s: every node of the fillet trace,
// the first and the closing one too, is a contact pair of the ball, and the trace closes on one
// point.
TEST_F(Fillet, ClosedTraceClosesOnAContactPair) {
  for (double s : {1e-6, 1.0, 1e6})
    for (double start : {0.0, M_PI / 2}) {
      SCOPED_TRACE(::testing::Message() << "size " << s << " start " << start);
      BsplineKeeper keep;
      const double O[3] = {-1, -1, 0}, ex[3] = {2, 0, 0}, ey[3] = {0, 2, 0};
      Bspline* plane = keep(shapes::Plane(O, ex, ey, s));
      Bspline* cylinder = keep(shapes::Cylinder(0.5 * s, -s, s));
      IntersectionTrace* in = MallocIntersectionTrace();
      for (int k = 0; k < 88; ++k) {
        const double a = std::fmod(start + 2 * M_PI * k / 88, 2 * M_PI);
        const double P[3] = {0.5 * s * std::cos(a), 0.5 * s * std::sin(a), 0.0};
        AppendTraceNode(in, P, (P[0] / s + 1) / 2, (P[1] / s + 1) / 2, CylinderParam(a), 0.5)->filletParam = 0.1 * s;
      }
      in->open = 0;
      IntersectionTrace* out = MallocIntersectionTrace();
      ASSERT_EQ(NewFilletTrace(plane, cylinder, in, out, 1e-9 * s), 0);
      ASSERT_EQ(out->nodeCount, 88);
      EXPECT_EQ(out->open, 0);
      int i = 0;
      for (IntersectionTraceNode* m = out->head; m; m = m->next, ++i) {
        // The contact on the plane lies on the circle of radius 0.6 s about the axis, the one on
        // the cylinder 0.1 s above the plane, both in one plane through the axis.
        double P[3], Q[3];
        Eval3DPointOnSurfCoord(plane, m->u1, m->v1, 0, 0, P);
        Eval3DPointOnSurfCoord(cylinder, m->u2, m->v2, 0, 0, Q);
        EXPECT_NEAR(std::hypot(P[0], P[1]), 0.6 * s, 1e-9 * s) << i;
        EXPECT_NEAR(Q[2], 0.1 * s, 1e-9 * s) << i;
        EXPECT_NEAR(std::hypot(P[0] - Q[0], P[1] - Q[1]), 0.1 * s, 1e-9 * s) << i;
        EXPECT_NEAR(std::hypot(m->x - P[0], m->y - P[1], m->z - P[2]), 0.0, 1e-12 * s) << i;
      }
      // One closing point; on the seam of the cylinder at its two ends of the range.
      if (start == 0.0) {
        EXPECT_EQ(std::fmin(out->head->u2, out->tail->u2), 0.0);
        EXPECT_EQ(std::fmax(out->head->u2, out->tail->u2), 1.0);
      }
      for (Bspline* srf : {plane, cylinder}) {
        const bool onPlane = srf == plane;
        double A[3], B[3];
        Eval3DPointOnSurfCoord(srf, onPlane ? out->head->u1 : out->head->u2, onPlane ? out->head->v1 : out->head->v2,
                               0, 0, A);
        Eval3DPointOnSurfCoord(srf, onPlane ? out->tail->u1 : out->tail->u2, onPlane ? out->tail->v1 : out->tail->v2,
                               0, 0, B);
        EXPECT_LT(std::hypot(A[0] - B[0], A[1] - B[1], A[2] - B[2]), 1e-12 * s) << onPlane;
      }
      FreeTrace(out);
      FreeTrace(in);
    }
}

// Cylinders of radius 0.5 about z (u round from x) and 0.3 about x (u round from y), both
// closed, from -1 to 1 along their axes, placed by at; the pair's size is 3 of its units.
struct CrossingCylinders {
  BsplineKeeper keep;
  Bspline* a;
  Bspline* b;
  shapes::Place at;
  explicit CrossingCylinders(double scale) {
    const double kX[3] = {1, 0, 0}, kY[3] = {0, 1, 0}, kZ[3] = {0, 0, 1};
    at.scale = scale;
    for (int q = 0; q < 3; ++q) at.shift[q] = scale == 1.0 ? 0.0 : 3e4 * scale * (q + 1);
    a = keep(shapes::Cylinder(kZ, kX, 0.5, -1, 1, at));
    b = keep(shapes::Cylinder(kX, kY, 0.3, -1, 1, at));
  }
  // Appends the node of their loop at x > 0, x = sqrt(0.25 - y^2), (y, z) = 0.3 (cos t, sin t),
  // with ball radius r (the case's units).
  void Node(IntersectionTrace* t, double angle, double r) const {
    const double u = std::fmod(angle + 4 * M_PI, 2 * M_PI);
    const double y = 0.3 * std::cos(u), z = 0.3 * std::sin(u), x = std::sqrt(0.25 - y * y);
    const double p[3] = {x, y, z};
    double P[3];
    at.Map(p, P);
    AppendTraceNode(t, P, CylinderParam(std::atan2(y, x) + (y < 0 ? 2 * M_PI : 0)), (z + 1) / 2, CylinderParam(u),
                    (x + 1) / 2)->filletParam = r * at.scale;
  }
  // Largest distance of a pair's ball centres (from either contact point, the ball outside both
  // cylinders) from each other and from the radius 0.3 + r about the x axis, in the case's units;
  // the contact points on the z cylinder into contacts.
  double OffBall(const IntersectionTrace* out, double r, std::vector<std::array<double, 3>>* contacts) const {
    double off = 0.0;
    for (const IntersectionTraceNode* m = out->head; m; m = m->next) {
      double P[3], Q[3], p[3], q[3];
      Eval3DPointOnSurfCoord(a, m->u1, m->v1, 0, 0, P);
      Eval3DPointOnSurfCoord(b, m->u2, m->v2, 0, 0, Q);
      at.Unmap(P, p);
      at.Unmap(Q, q);
      const double rp = std::hypot(p[0], p[1]), rq = std::hypot(q[1], q[2]);
      const double C[3] = {p[0] * (1 + r / rp), p[1] * (1 + r / rp), p[2]};
      const double D[3] = {q[0], q[1] * (1 + r / rq), q[2] * (1 + r / rq)};
      off = std::fmax(off, std::hypot(C[0] - D[0], C[1] - D[1], C[2] - D[2]));
      off = std::fmax(off, std::fabs(std::hypot(C[1], C[2]) - 0.3 - r));
      if (contacts) contacts->push_back({p[0], p[1], p[2]});
    }
    return off;
  }
};

// Ball radii 0.001, 0.01 and 0.1 of the size at sizes 1, 1e-3 and 1e6 (moved 1e4 x the size),
// and 0.3 at size 1e-3: (scale, radius in the case's units).
std::vector<std::pair<double, double>> FilletCases() {
  std::vector<std::pair<double, double>> cases;
  for (double scale : {1.0, 1e-3, 1e6})
    for (double r : {0.001, 0.01, 0.1}) cases.push_back({scale, r * 3.0});
  cases.push_back({1e-3, 0.3});
  return cases;
}

// Cylinders of radius 0.5 about z and 0.3 about x (both closed) cross in two loops; the one at
// x > 0, x = sqrt(0.25 - y^2), (y, z) = 0.3 (cos t, sin t), as a marched branch of 73 nodes: its
// seed, 35 nodes forward, then 36 backward from the seed and the closing node on the turn. A
// ball outside both, of radius 0.001, 0.01 and 0.1 of the size (and 0.3 at size 1e-3), at sizes
// 1, 1e-3 and 1e6 moved 1e4 x the size: the fillet trace runs along the branch from its closing
// node round to it, every pair on the ball (its centre r off both cylinders' axes), and the
// contact pair every node refines to is on it.
TEST_F(Fillet, TraceFollowsAMarchedBranchRoundCrossingCylinders) {
  for (const auto& [scale, r] : FilletCases()) {
    SCOPED_TRACE(::testing::Message() << "scale " << scale << " r " << r);
    const CrossingCylinders c(scale);
    const double size = shapes::PairSize(c.a, c.b) / scale;
    IntersectionTrace* in = MallocIntersectionTrace();
    for (int k = 0; k <= 35; ++k) c.Node(in, 0.3 + 2 * M_PI * k / 72, r);
    in->turn = in->tail;
    in->directionStart = in->nodeCount;
    for (int k = -1; k >= -36; --k) c.Node(in, 0.3 + 2 * M_PI * k / 72, r);
    c.Node(in, 0.3 + 2 * M_PI * 35 / 72, r);
    in->open = 0;
    IntersectionTrace* out = MallocIntersectionTrace();
    ASSERT_EQ(NewFilletTrace(c.a, c.b, in, out, 1e-9 * size * scale), 0);
    EXPECT_EQ(out->open, 0);
    std::vector<std::array<double, 3>> contacts;
    EXPECT_LT(c.OffBall(out, r, &contacts), 1e-6 * size);
    // Neighbouring pairs a node's step apart (0.3 x 2 pi / 72 along the loop, the contact loop
    // wider by the ball), not across it.
    double longest = 0.0;
    for (size_t i = 0; i + 1 < contacts.size(); ++i)
      longest = std::fmax(longest, std::hypot(contacts[i + 1][0] - contacts[i][0], contacts[i + 1][1] - contacts[i][1],
                                              contacts[i + 1][2] - contacts[i][2]));
    EXPECT_LT(longest, 0.06 + 0.1 * r);
    int converged = 0;
    double missed = 0.0;
    for (IntersectionTraceNode* m = in->head; m; m = m->next) {
      const IntersectionTraceNode* nb = m->next ? m->next : m->prev;
      double q[4] = {m->u1, m->v1, m->u2, m->v2}, P[3], p[3];
      if (NewestRefineToFilletPoint(c.a, c.b, r * scale, &q[0], &q[1], &q[2], &q[3], nb->u1, nb->v1, nb->u2, nb->v2,
                                    1e-9 * size * scale) != 100)
        continue;
      ++converged;
      Eval3DPointOnSurfCoord(c.a, q[0], q[1], 0, 0, P);
      c.at.Unmap(P, p);
      double best = HUGE_VAL;
      for (const auto& e : contacts) best = std::fmin(best, std::hypot(p[0] - e[0], p[1] - e[1], p[2] - e[2]));
      missed = std::fmax(missed, best);
    }
    EXPECT_GT(converged, 60);
    EXPECT_LT(missed, 1e-6 * size);
    FreeTrace(out);
    FreeTrace(in);
  }
}

// The same loop as 72 nodes in running order from the seam of the z cylinder round to the
// node before it: the fillet trace is closed on a contact pair solved for on the seam. At size
// 1e-3 moved 1e4 x the size the centres carry more round-off than a share of the size, and the
// closing pair must still be found (not left at the mean of the two ends, off the ball).
TEST_F(Fillet, ClosingPairOnTheBallFarFromTheOrigin) {
  for (const auto& [scale, r] : FilletCases()) {
    SCOPED_TRACE(::testing::Message() << "scale " << scale << " r " << r);
    const CrossingCylinders c(scale);
    const double size = shapes::PairSize(c.a, c.b) / scale;
    IntersectionTrace* in = MallocIntersectionTrace();
    for (int k = 0; k < 72; ++k) c.Node(in, M_PI / 2 + 1e-9 + 2 * M_PI * k / 72, r);
    in->open = 0;
    IntersectionTrace* out = MallocIntersectionTrace();
    ASSERT_EQ(NewFilletTrace(c.a, c.b, in, out, 1e-9 * size * scale), 0);
    EXPECT_EQ(out->open, 0);
    EXPECT_LT(c.OffBall(out, r, nullptr), 1e-6 * size);
    // One closing pair: both ends at the same points of both surfaces.
    for (Bspline* srf : {c.a, c.b}) {
      const bool first = srf == c.a;
      double A[3], B[3];
      Eval3DPointOnSurfCoord(srf, first ? out->head->u1 : out->head->u2, first ? out->head->v1 : out->head->v2, 0, 0, A);
      Eval3DPointOnSurfCoord(srf, first ? out->tail->u1 : out->tail->u2, first ? out->tail->v1 : out->tail->v2, 0, 0, B);
      EXPECT_LT(std::hypot(A[0] - B[0], A[1] - B[1], A[2] - B[2]) / scale, 1e-6 * size) << first;
    }
    FreeTrace(out);
    FreeTrace(in);
  }
}

}  // namespace

namespace {

// The fillet tools that replace or cut a record refuse one whose knot array is missing (the
// extension read it, the cut read past it) and a cut at a parameter that is not a number: -2
// or false with the error state, the record in place and as it was.
TEST_F(Fillet, ExtensionAndCutRefuseWhatTheyCannotRead) {
  // Not kept: a successful extension frees the record it replaces.
  Bspline* curve = BuildRandomCurve(5, 3, 6, 3);
  Bspline* object = curve;
  int flags[4] = {7, 7, 7, 7};
  double* knots = curve->knotsU;
  curve->knotsU = nullptr;
  EXPECT_EQ(ExtendObjectsInAllDir(&object, 0.05, flags), -2);
  curve->knotsU = knots;
  EXPECT_EQ(object, curve);
  EXPECT_EQ(flags[0], 7);
  EXPECT_TRUE(KernelFailed());
  ClearKernelError();

  Bspline* first = curve;
  Bspline* second = curve;
  EXPECT_FALSE(SplitCurveAtParam(curve, std::nan(""), 1e-9, &first, &second));
  EXPECT_EQ(first, curve);
  EXPECT_EQ(second, curve);
  EXPECT_TRUE(KernelFailed());
  ClearKernelError();

  // The sound curve is still extended at both ends, into another record.
  EXPECT_EQ(ExtendObjectsInAllDir(&object, 0.05, flags), 0);
  EXPECT_EQ(flags[0] + flags[1], 2);
  EXPECT_TRUE(BsplineSound(object));
  FreeBspline(object);
}

}  // namespace
