// Projection of curves and point sequences onto surfaces: the surface images of the pieces stay
// within the tolerance of the projected samples, iso lines come back exact, stretches beyond an
// edge cut the projection (or are bridged when joined), and joined pieces keep both shapes.
#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "bspline/crvlist.h"
#include "bspline/isocurve.h"
#include "bspline/knots.h"
#include "bspline/nubs.h"
#include "bspline/refines2.h"
#include "bspline/sfree.h"
#include "bspline/srfgrid.h"
#include "cloud/makecld.h"
#include "curve/crvproj.h"
#include "foundation/vec3.h"
#include "quadric/cpoint.h"
#include "quadric/qarc.h"
#include "quadric/quadrics.h"
#include "tests/intersect/shapes.h"
#include "tests/support/builders.h"
#include "tests/support/checks.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/normal_offsets.h"
#include "tests/support/placement.h"

namespace {

class ProjectionTest : public KernelTest {};

std::vector<Bspline*> Items(BsplineList* list) {
  std::vector<Bspline*> out;
  while (list) {
    out.push_back(list->item);
    BsplineList* next = list->next;
    Free(list);
    list = next;
  }
  return out;
}

// The unit size at the origin and the smallest and largest sizes placed far from it.
std::vector<Place> ThreePlaces() { return {Place(1.0, false), Place(1e-6, true), Place(1e6, true)}; }

// The projection of c onto srf, both first put in place pl, to tol relative to the size.
std::vector<Bspline*> ProjectPlaced(const Place& pl, Bspline* srf, Bspline* c, double tol, int separate,
                                    int samples = 0) {
  pl.Map(srf);
  pl.Map(c);
  return Items(SurfCurveProjectClosestGeometry(srf, c, samples, tol * pl.size, 0, separate));
}

// The distance from q to the polyline through pts.
double DistanceToPolyline(const double q[3], const std::vector<std::array<double, 3>>& pts) {
  double best = 1e300;
  for (size_t i = 0; i + 1 < pts.size(); ++i) {
    double d[3], r[3];
    VecDiff3(pts[i + 1].data(), pts[i].data(), d);
    VecDiff3(q, pts[i].data(), r);
    const double dd = VecDotProd3(d, d);
    const double lam = dd > 0.0 ? std::clamp(VecDotProd3(r, d) / dd, 0.0, 1.0) : 0.0;
    for (int k = 0; k < 3; ++k) r[k] -= lam * d[k];
    best = std::min(best, VecSize3(r));
  }
  return best;
}

// Each arc of a projection onto srf sampled at 201 points, each point (unmapped by `unmap` when
// given) handed to visit(q, i); the arcs' summed length measured through those points.
template <class Visit>
double SampleArcs(Bspline* srf, const std::vector<Bspline*>& arcs, const Place* unmap, Visit visit) {
  double length = 0.0;
  for (Bspline* arc : arcs) {
    double prev[3];
    for (int i = 0; i <= 200; ++i) {
      double q[3];
      EvalCrvOnSrfCoord(srf, arc, arc->umin + (arc->umax - arc->umin) * i / 200.0, 0, q);
      if (unmap) unmap->Unmap(q, q);
      visit(q, i);
      if (i) length += VecDist3(q, prev);
      for (int k = 0; k < 3; ++k) prev[k] = q[k];
    }
  }
  return length;
}

// The cone with its apex at the origin and radius 1 at height 1 about z, and the line at height
// -0.3 below the apex (x from -0.8 to 0.8 at y 0.05), whose projection runs up two generators
// into the apex; kept by `keep`.
std::pair<Bspline*, Bspline*> ConeAndLineBelowItsApex(BsplineKeeper& keep) {
  const double apex[3] = {0, 0, 0}, top[3] = {0, 0, 1}, rim[3] = {1, 0, 1};
  return {keep(CreateConeWithCensAnd2Points(apex, top, apex, rim)),
          keep(BuildCurve(1, 3, {-0.8, 0.05, -0.3, 0.8, 0.05, -0.3}))};
}

Bspline* Bumpy(double scale = 1.0) {
  PatchOptions o;
  o.x1 = 2 * scale, o.y1 = 2 * scale;
  return BuildFunctionPatch(
      [scale](double x, double y) { return 0.2 * scale * std::sin(2 * x / scale) * std::cos(1.5 * y / scale); }, o);
}

// Distance from p to the surface image of a curve on srf: nearest of 500 samples refined.
double DistanceToImage(Bspline* c, const double p[3]) {
  double best = 1e300, bt = c->umin;
  for (int i = 0; i <= 500; ++i) {
    const double t = c->umin + (c->umax - c->umin) * i / 500.0;
    double q[3];
    EvalCrvOnSrfCoord(c->owner, c, t, 0, q);
    if (VecDist3(p, q) < best) best = VecDist3(p, q), bt = t;
  }
  double C[3], d2, step;
  FindClosestPointCurveOnSurf(c, p, C, c->umin, c->umax, &bt, &d2, &step, 20);
  return std::min(best, std::sqrt(d2));
}

TEST_F(ProjectionTest, PiecesStayWithinToleranceOfTheProjectedSamplesAtEveryScale) {
  BsplineKeeper keep;
  int knots[3] = {};
  const double scales[3] = {1.0, 1e-6, 1e6};
  for (int k = 0; k < 3; ++k) {
    const double sc = scales[k];
    Bspline* s = keep(Bumpy(sc));
    // A wavy curve floating above the patch, wholly over it: every foot inside the domain.
    std::vector<double> pts = {0.2, 0.3, 1, 0.6, 1.5, 1.2, 1.0, 0.2, 0.8, 1.4, 1.2, 1.1, 1.6, 1.7, 0.9};
    for (double& v : pts) v *= sc;
    Bspline* c = keep(BuildCurve(3, 3, pts, ClampedKnots(3, 5)));
    const double tol = 1e-3 * sc;
    std::vector<Bspline*> pieces = Items(SurfCurveProjectClosestGeometry(s, c, 0, tol, 0, 1));
    ASSERT_EQ(pieces.size(), 1u);
    Bspline* piece = pieces[0];
    knots[k] = piece->interiorU;
    EXPECT_EQ(piece->owner, s);
    EXPECT_EQ(piece->dimension, 2);
    EXPECT_EQ(s->curves->item, piece) << "listed on the surface";
    // The samples: degree + 1 steps in each knot span; each projected by the kernel here too.
    SurfaceGridCache grid;
    for (int span = 0; span < 2; ++span)
      for (int j = 0; j <= 4; ++j) {
        const double t = 0.5 * span + 0.5 * j / 4.0;
        double P[3], q[3], u, v, d, e;
        Eval3DPointOnCurve3Coord(c, t, 0, P);
        ASSERT_EQ(grid.Closest(s, P, &u, &v, q, &d, &e), 0);
        EXPECT_LE(DistanceToImage(piece, q), tol * 1.0001) << t << " at scale " << sc;
      }
  }
  EXPECT_EQ(knots[1], knots[0]);
  EXPECT_EQ(knots[2], knots[0]);
  Bspline* s = keep(Bumpy());
  Bspline* c = keep(BuildCurve(3, 3, {0.2, 0.3, 1, 0.6, 1.5, 1.2, 1.0, 0.2, 0.8, 1.4, 1.2, 1.1, 1.6, 1.7, 0.9},
                               ClampedKnots(3, 5)));
  const double tol = 1e-3;
  // Failures leave no piece and nothing on the surface.
  const int listed = GetNumCurvePieces(s->curves);
  RunWithInjectedFailures(2000, 37, [&] {
    std::vector<Bspline*> got = Items(SurfCurveProjectClosestGeometry(s, c, 0, tol, 0, 1));
    for (Bspline* g : got) FreeBspline(g);
    return got.empty() ? -2 : 0;
  });
  EXPECT_EQ(GetNumCurvePieces(s->curves), listed);
  // A curve with a NaN or an infinite control point projects to nothing.
  for (double bad : {std::nan(""), double(INFINITY)}) {
    Bspline* broken = keep(BuildCurve(3, 3, {0.2, 0.3, 1, 0.6, bad, 1.2, 1.0, 0.2, 0.8, 1.4, 1.2, 1.1}));
    std::vector<Bspline*> none = Items(SurfCurveProjectClosestGeometry(s, broken, 0, tol, 0, 0));
    EXPECT_TRUE(none.empty());
    for (Bspline* g : none) FreeBspline(g);
    ClearKernelError();
  }
  EXPECT_EQ(GetNumCurvePieces(s->curves), listed);
}

TEST_F(ProjectionTest, ALineOverAFlatPatchAtOneUIsTheExactIsoLine) {
  BsplineKeeper keep;
  PatchOptions o;
  o.x1 = 4, o.y1 = 4;
  Bspline* flat = keep(BuildFunctionPatch([](double, double) { return 0.0; }, o));
  // x = 1 is u = 0.25; the line runs from v = 0.1 to v = 0.9, half a unit above the patch.
  Bspline* line = keep(BuildCurve(1, 3, {1, 0.4, 0.5, 1, 3.6, 0.5}));
  std::vector<Bspline*> pieces = Items(SurfCurveProjectClosestGeometry(flat, line, 4, 1e-4, 0, 0));
  ASSERT_EQ(pieces.size(), 1u);
  Bspline* iso = pieces[0];
  EXPECT_EQ(IsoParameterKind(iso, 0), 1);
  for (int i = 0; i < NumCtrlU(iso); ++i) EXPECT_NEAR(iso->X[0][i], 0.25, 1e-9);
  double a[3], b[3];
  EvalCrvOnSrfCoord(flat, iso, iso->umin, 0, a);
  EvalCrvOnSrfCoord(flat, iso, iso->umax, 0, b);
  ExpectNear3(a, std::vector<double>{1, 0.4, 0}.data(), 1e-6, "start");
  ExpectNear3(b, std::vector<double>{1, 3.6, 0}.data(), 1e-6, "end");
}

TEST_F(ProjectionTest, ACurveLeavingOverAnEdgeIsCutOrBridged) {
  BsplineKeeper keep;
  Bspline* s = keep(Bumpy());
  // Along y = 1 it leaves the patch over x = 2 and comes back.
  Bspline* c = keep(BuildCurve(2, 3, {0.5, 0.5, 0.5, 4.5, 1.0, 0.5, 0.5, 1.5, 0.5}));
  std::vector<Bspline*> apart = Items(SurfCurveProjectClosestGeometry(s, c, 0, 1e-3, 0, 1));
  ASSERT_EQ(apart.size(), 2u);
  double end0[3], start1[3];
  EvalCrvOnSrfCoord(s, apart[0], apart[0]->umax, 0, end0);
  EvalCrvOnSrfCoord(s, apart[1], apart[1]->umin, 0, start1);
  // Cut at the edge x = 2 within the bisection's reach (2^-20 of a sample step).
  EXPECT_NEAR(end0[0], 2.0, 1e-4);
  EXPECT_NEAR(start1[0], 2.0, 1e-4);
  std::vector<Bspline*> joined = Items(SurfCurveProjectClosestGeometry(s, c, 0, 1e-3, 0, 0));
  ASSERT_EQ(joined.size(), 1u);
  Bspline* one = joined[0];
  // Continuous through exit and re-entry: it holds both cut pieces' ends.
  EXPECT_LT(DistanceToImage(one, end0), 1e-6);
  EXPECT_LT(DistanceToImage(one, start1), 1e-6);
  EXPECT_EQ(IsChangedBoundary(s, 0.1, 0.9, 0), 0);
}

// A tube closed in u (its first and last control columns meet at angle 0): a curve that starts
// over the seam starts on the side of the seam it then runs to, so the joined projection does
// not jump across the parameter domain.
TEST_F(ProjectionTest, ACurveStartingOnTheSeamStartsOnTheSideItRunsTo) {
  BsplineKeeper keep;
  std::vector<double> pts;
  for (int j = 0; j < 4; ++j)
    for (int i = 0; i < 7; ++i) {
      const double a = (i % 6) * M_PI / 3;
      pts.insert(pts.end(), {std::cos(a), std::sin(a), 2.0 * j / 3});
    }
  Bspline* tube = keep(BuildSurface(3, 3, 7, 4, pts));
  tube->closedU = 1;
  for (double side : {1.0, -1.0}) {
    const double a = side * 0.5;  // about 29 degrees either way
    Bspline* c = keep(BuildCurve(1, 3, {1.5, 0, 0.8, 1.5 * std::cos(a), 1.5 * std::sin(a), 1.2}));
    std::vector<Bspline*> joined = Items(SurfCurveProjectClosestGeometry(tube, c, 6, 1e-3, 0, 0));
    ASSERT_EQ(joined.size(), 1u) << side;
    const Bspline* piece = joined[0];
    const double start = piece->X[0][0];
    EXPECT_NEAR(start, side > 0 ? tube->umin : tube->umax, 1e-6) << side;
    for (int i = 0; i < NumCtrlU(piece); ++i)
      EXPECT_LT(std::fabs(piece->X[0][i] - start), 0.3) << "no jump across the domain";
  }
  EXPECT_EQ(IsChangedBoundary(tube, 0.1, 0.9, 0), 1);
  EXPECT_EQ(IsChangedBoundary(tube, 0.1, 0.4, 0), 0);
}

TEST_F(ProjectionTest, BlendedCurvesKeepBothShapesAcrossAKnotOfFullMultiplicityLessOne) {
  BsplineKeeper keep;
  Bspline* a = keep(BuildCurve(3, 2, {0, 0, 0.1, 0.3, 0.3, 0.2, 0.5, 0.5, 0.6, 0.4}, ClampedKnots(3, 5, 0, 1)));
  Bspline* b = keep(BuildCurve(3, 2, {0.6, 0.4, 0.7, 0.2, 0.8, 0.5, 0.9, 0.9}, ClampedKnots(3, 4, 2, 3)));
  Bspline* ab = keep(Blend2Curve2s(a, b));
  ASSERT_NE(ab, nullptr);
  EXPECT_EQ(NumCtrlU(ab), 5 + 4 - 1);
  EXPECT_EQ(ab->umin, 0.0);
  EXPECT_EQ(ab->umax, 2.0);
  for (int i = 0; i <= 20; ++i) {
    double p[3], q[3];
    RefEvalCurve(ab, i / 20.0, p);
    RefEvalCurve(a, i / 20.0, q);
    ExpectNear3(p, q, 1e-12, "a");
    RefEvalCurve(ab, 1 + i / 20.0, p);
    RefEvalCurve(b, 2 + i / 20.0, q);
    ExpectNear3(p, q, 1e-12, "b");
  }
  Bspline* quad = keep(BuildCurve(2, 2, {0, 0, 1, 1, 2, 0}));
  EXPECT_EQ(Blend2Curve2s(a, quad), nullptr) << "degrees differ";
}

TEST_F(ProjectionTest, PointSequencesBecomeInterpolantsPerRunOverTheSurface) {
  BsplineKeeper keep;
  Bspline* s = keep(Bumpy());
  std::vector<float> x, y, z;
  for (int i = 0; i <= 40; ++i) {
    const double t = i / 40.0;
    x.push_back(float(0.2 + 2.6 * t));  // off the patch beyond x = 2 from t = 0.69 on
    y.push_back(float(1.0 + 0.3 * std::sin(3 * t)));
    z.push_back(0.4f);
  }
  for (int i = 0; i <= 10; ++i) {  // and back over it
    x.push_back(float(1.5 - 0.1 * i));
    y.push_back(1.6f);
    z.push_back(0.3f);
  }
  Owned<Cloud, FreeCloud> cloud(MakeCld(x.data(), y.data(), z.data(), int(x.size()), nullptr));
  std::vector<Bspline*> runs = Items(SurfCloudProjectClosestGeometry(s, cloud.get(), 0, 1));
  ASSERT_EQ(runs.size(), 2u);
  // Each run passes through its points' projections.
  SurfaceGridCache grid;
  for (int i : {0, 10, 20, 45, 50}) {
    const double P[3] = {x[i], y[i], z[i]};
    double q[3], u, v, d, e;
    ASSERT_EQ(grid.Closest(s, P, &u, &v, q, &d, &e), 0);
    EXPECT_LT(std::min(DistanceToImage(runs[0], q), DistanceToImage(runs[1], q)), 1e-6) << i;
  }
  // With the edge flag each run takes its neighbours beyond the edge too, projected onto it.
  std::vector<Bspline*> edged = Items(SurfCloudProjectClosestGeometry(s, cloud.get(), 1, 1));
  ASSERT_EQ(edged.size(), 2u);
  EXPECT_EQ(NumCtrlU(edged[0]), NumCtrlU(runs[0]) + 1);
  EXPECT_EQ(NumCtrlU(edged[1]), NumCtrlU(runs[1]) + 1);
  double end[3];
  EvalCrvOnSrfCoord(s, edged[0], edged[0]->umax, 0, end);
  EXPECT_NEAR(end[0], 2.0, 1e-9);
  std::vector<Bspline*> one = Items(SurfCloudProjectClosestGeometry(s, cloud.get(), 1, 0));
  EXPECT_EQ(one.size(), 1u);
  Owned<Cloud, FreeCloud> empty(MakeCld(x.data(), y.data(), z.data(), 1, nullptr));
  empty->npts = 0;
  EXPECT_TRUE(Items(SurfCloudProjectClosestGeometry(s, empty.get(), 0, 1)).empty());
}

// Point sequences over a unit sphere (seam at +x, poles on z) at three sizes: an arc of points
// at height 0.5 and radius 1.2 across the seam projects onto the circle of latitude z = 0.5 / 1.3
// within the arc's angles, and a meridian of points lying on the seam over the north pole (with
// a point on the pole) onto the great circle y = 0; each curve is split where the short way
// crosses the seam or meets the pole, never run the long way round the domain.
TEST_F(ProjectionTest, PointSequencesAcrossASeamOrOverAPoleStayOnTheirCircle) {
  for (double size : {1e-3, 1.0, 1e3})
    for (int meridian : {0, 1})
      for (int separate : {1, 0}) {
        BsplineKeeper keep;
        Bspline* srf = keep(CreateSphereBspline(0.0, 0.0, 0.0, size));
        ASSERT_TRUE(srf);
        std::vector<float> x, y, z;
        for (int i = 0; i <= 40; ++i) {
          const double a = meridian ? M_PI * (0.1 + 0.02 * i) : -0.5 + 0.025 * i;
          const double p[3] = {1.2 * std::cos(a), meridian ? 0.0 : 1.2 * std::sin(a), meridian ? 1.2 * std::sin(a) : 0.5};
          x.push_back(float(size * p[0])), y.push_back(float(size * p[1])), z.push_back(float(size * p[2]));
        }
        Owned<Cloud, FreeCloud> cloud(MakeCld(x.data(), y.data(), z.data(), int(x.size()), nullptr));
        std::vector<Bspline*> runs = Items(SurfCloudProjectClosestGeometry(srf, cloud.get(), 0, separate));
        ASSERT_FALSE(runs.empty()) << size << " " << meridian << " " << separate;
        for (Bspline* run : runs)
          for (int i = 0; i <= 100; ++i) {
            double q[3];
            EvalCrvOnSrfCoord(srf, run, run->umin + (run->umax - run->umin) * i / 100.0, 0, q);
            for (double& c : q) c /= size;
            if (meridian) {
              EXPECT_LT(std::fabs(q[1]), 1e-6) << size << " " << separate << " " << i;
            } else {
              EXPECT_NEAR(q[2], 0.5 / 1.3, 1e-6) << size << " " << separate << " " << i;
              EXPECT_LE(std::fabs(std::atan2(q[1], q[0])), 0.5 + 1e-6) << size << " " << separate << " " << i;
            }
          }
      }
}

// An 8 x 8 bicubic z = f(x, y) over [0, 2 sc]^2.
Bspline* EightByEight(double sc, const std::function<double(double, double)>& f) {
  PatchOptions o;
  o.nu = o.nv = 8;
  o.x1 = o.y1 = 2 * sc;
  return BuildFunctionPatch(f, o);
}

// A wave curve lifted 0.05 above an 8 x 8 bicubic, tolerance 1e-4 of the size: the piece is
// within the tolerance of the projection at every one of 400 points along the curve, not only at
// its samples, at every size.
TEST_F(ProjectionTest, PiecesStayWithinToleranceBetweenTheirSamplesAtEverySize) {
  for (double sc : {1e-6, 1e-3, 1.0, 1e3, 1e6}) {
    BsplineKeeper keep;
    auto f = [sc](double x, double y) { return 0.25 * sc * std::sin(5 * x / sc) * std::cos(4 * y / sc); };
    Bspline* s = keep(EightByEight(sc, f));
    std::vector<double> pts;
    for (int i = 0; i < 12; ++i) {
      const double x = 0.3 + 1.4 * i / 11, y = 1.0 + 0.5 * std::sin(6 * x);
      pts.insert(pts.end(), {sc * x, sc * y, f(sc * x, sc * y) + 0.05 * sc});
    }
    Bspline* c = keep(BuildCurve(3, 3, pts));
    const double tol = 1e-4 * 2 * std::sqrt(2.0) * sc;
    std::vector<Bspline*> pieces = Items(SurfCurveProjectClosestGeometry(s, c, 0, tol, 0, 1));
    ASSERT_EQ(pieces.size(), 1u) << sc;
    SurfaceGridCache grid;
    double worst = 0.0;
    for (int i = 0; i <= 400; ++i) {
      double P[3], q[3], u, v, d, e;
      Eval3DPointOnCurve3Coord(c, i / 400.0, 0, P);
      ASSERT_EQ(grid.Closest(s, P, &u, &v, q, &d, &e), 0);
      worst = std::max(worst, DistanceToImage(pieces[0], q));
    }
    EXPECT_LE(worst, tol * 1.0001) << "at size " << sc;
  }
}

// A lifted line over a surface that does not vary across x (so the walls over its edges x = 0
// and x = 2 are the planes x = 0 and x = 2) runs past both edges obliquely: the one piece ends at
// the projections of the line's exact crossings of those planes, cut or joined, at every size.
TEST_F(ProjectionTest, ACurveRunningPastBothEdgesIsCutAtTheTrueCrossings) {
  for (double sc : {1e-6, 1e-3, 1.0, 1e3, 1e6}) {
    BsplineKeeper keep;
    Bspline* s = keep(EightByEight(sc, [sc](double, double y) { return 0.3 * sc * std::sin(1.5 * y / sc); }));
    // x = -1 + 4 t, y = 0.2 + 1.6 t: x = 0 at t = 1/4 (y = 0.6), x = 2 at t = 3/4 (y = 1.4).
    Bspline* c = keep(BuildCurve(1, 3, {-sc, 0.2 * sc, 0.6 * sc, 3 * sc, 1.8 * sc, 0.6 * sc}));
    const double tol = 1e-4 * 2 * std::sqrt(2.0) * sc;
    double feet[2][3];
    SurfaceGridCache grid;
    for (int k = 0; k < 2; ++k) {
      const double P[3] = {2.0 * k * sc, (0.6 + 0.8 * k) * sc, 0.6 * sc};
      double u, v, d, e;
      ASSERT_EQ(grid.Closest(s, P, &u, &v, feet[k], &d, &e), 0);
    }
    for (int separate : {1, 0}) {
      std::vector<Bspline*> pieces = Items(SurfCurveProjectClosestGeometry(s, c, 0, tol, 0, separate));
      ASSERT_EQ(pieces.size(), 1u) << sc;
      double ends[2][3];
      EvalCrvOnSrfCoord(s, pieces[0], pieces[0]->umin, 0, ends[0]);
      EvalCrvOnSrfCoord(s, pieces[0], pieces[0]->umax, 0, ends[1]);
      for (int k = 0; k < 2; ++k) EXPECT_LE(VecDist3(ends[k], feet[k]), tol) << sc << " end " << k;
    }
  }
}

// Curves over a closed surface across its u seam (at angle 0), 40 degrees either side: a cubic
// through points at radius 0.55 over a cylinder of radius 0.5 (the true projection at the same
// angle and height on the cylinder), and an arc of radius 1 at height 0.4 over a torus R 1,
// r 0.3 (the true projection on the torus's top circle), both scaled by 1e-6, 1 and 1e6 and
// moved 1e4 sizes away, with the surface flagged closed and not (as a file reader may leave it;
// its seam is where its first and last control columns meet). Either mode splits the projection
// at the seam into two pieces, each within the domain, whose images stay within the angles of
// the curve (no sweep round the far side) and within the tolerance of the true projection, which
// they cover.
TEST_F(ProjectionTest, AProjectionAcrossASeamGoesTheShortWayAndIsSplitThere) {
  for (double scale : {1e-6, 1.0, 1e6})
    for (double away : {0.0, 1e4})
      for (int shape = 0; shape < 2; ++shape)
        for (int separate : {1, 0})
          for (int flagged : {1, 0}) {
          BsplineKeeper keep;
          const double o[3] = {0.3 * away * scale, -0.2 * away * scale, 0.1 * away * scale};
          Bspline* srf;
          Bspline* c;
          double radius, height;  // of the true projection
          if (shape == 0) {
            const double c0[3] = {o[0], o[1], o[2]}, c1[3] = {o[0], o[1], o[2] + scale};
            const double side[3] = {o[0] + 0.5 * scale, o[1], o[2]};
            srf = keep(CreateCylinderWithCensAndPoint(c0, c1, side));
            std::vector<double> pts;
            for (int i = 0; i < 9; ++i) {
              const double a = (-40.0 + 10.0 * i) * M_PI / 180.0;
              pts.insert(pts.end(), {o[0] + 0.55 * scale * std::cos(a), o[1] + 0.55 * scale * std::sin(a),
                                     o[2] + scale * (0.3 + 0.04 * i)});
            }
            c = keep(BuildCurve(3, 3, pts));
            radius = 0.5 * scale;
            height = -1.0;
          } else {
            srf = keep(BuildTorus(scale, 0.3 * scale));
            ScaleAndMove(srf, 1.0, o);
            const double centre[3] = {o[0], o[1], o[2] + 0.4 * scale};
            c = keep(MakeArcZBspline(320.0, 40.0, centre, scale));
            radius = scale;
            height = o[2] + 0.3 * scale;
          }
          ASSERT_TRUE(srf && c);
          if (!flagged) srf->closedU = srf->closedV = 0;
          const double tol = 1e-4 * scale;
          std::vector<Bspline*> pieces = Items(SurfCurveProjectClosestGeometry(srf, c, 8, tol, 0, separate));
          const std::string where = std::to_string(scale) + " " + std::to_string(away) + " " +
                                    std::to_string(shape) + " " + std::to_string(separate) + " " +
                                    std::to_string(flagged);
          ASSERT_EQ(pieces.size(), 2u) << where;
          for (Bspline* piece : pieces) {
            for (int i = 0; i < NumCtrlU(piece); ++i) {
              EXPECT_GE(piece->X[0][i], srf->umin - 1e-9) << where;
              EXPECT_LE(piece->X[0][i], srf->umax + 1e-9) << where;
            }
            for (int i = 0; i <= 50; ++i) {
              double q[3];
              EvalCrvOnSrfCoord(srf, piece, piece->umin + (piece->umax - piece->umin) * i / 50.0, 0, q);
              const double angle = std::atan2(q[1] - o[1], q[0] - o[0]) * 180.0 / M_PI;
              EXPECT_LT(std::fabs(angle), 40.0 + 1e-3) << where << " far side";
            }
          }
          for (int i = 0; i <= 80; ++i) {
            double P[3], Q[3];
            Eval3DPointOnCurve3Coord(c, c->umin + (c->umax - c->umin) * i / 80.0, 0, P);
            const double a = std::atan2(P[1] - o[1], P[0] - o[0]);
            Q[0] = o[0] + radius * std::cos(a);
            Q[1] = o[1] + radius * std::sin(a);
            Q[2] = height < -0.5 ? P[2] : height;
            double best = 1e300;
            for (Bspline* piece : pieces) best = std::min(best, DistanceToImage(piece, Q));
            EXPECT_LT(best, 1.5 * tol) << where << " " << i;
          }
        }
}

// A circle of radius 1.3 about a unit sphere's centre in a plane through its poles projects onto
// the great circle in that plane: over each pole the curve in the parameter plane reaches the
// pole at one u and leaves at another, so the projection is split there (three curves, with
// the pole at a sample or between two), each within tol of the plane, and together the whole
// great circle once. Sphere and circle placed together, turned and far away.
TEST_F(ProjectionTest, AProjectionOverAPoleIsSplitThere) {
  for (const Place& pl : ThreePlaces())
    for (double phase : {0.0, 0.1})
      for (int separate : {1, 0}) {
        BsplineKeeper keep;
        Bspline* srf = keep(CreateSphereBspline(0.0, 0.0, 0.0, 1.0));
        const double h = std::sqrt(0.5);
        std::vector<double> pts, w;
        for (int i = 0; i < 9; ++i) {
          const double a = phase + i * M_PI / 4, r = i % 2 ? 1.3 / h : 1.3;
          pts.insert(pts.end(), {r * std::cos(a), 0.0, r * std::sin(a)});
          w.push_back(i % 2 ? h : 1.0);
        }
        Bspline* c = keep(BuildCurve(2, 3, pts, {0, 0, 0, .25, .25, .5, .5, .75, .75, 1, 1, 1}, w));
        ASSERT_TRUE(srf && c);
        pl.Map(srf);
        pl.Map(c);
        // The poles are the sides v = vmin and v = vmax; the sides across the seam are whole meridians.
        EXPECT_TRUE(SurfaceSideCollapsed(srf, 1, 0) && SurfaceSideCollapsed(srf, 1, 1));
        EXPECT_FALSE(SurfaceSideCollapsed(srf, 0, 0) || SurfaceSideCollapsed(srf, 0, 1));
        const double y[3] = {0.0, 1.0, 0.0}, zero[3] = {0.0, 0.0, 0.0};
        double normal[3], centre[3];
        pl.MapDirection(y, normal);
        pl.Map(zero, centre);
        const double tol = 1e-4 * pl.size;
        std::vector<Bspline*> got = Items(SurfCurveProjectClosestGeometry(srf, c, 0, tol, 0, separate));
        EXPECT_EQ(got.size(), 3u) << Where(pl) << " phase " << phase << " separate " << separate;
        const double length = SampleArcs(srf, got, nullptr, [&](const double q[3], int i) {
          double r[3];
          VecDiff3(q, centre, r);
          EXPECT_LE(std::fabs(VecDotProd3(r, normal)), tol) << Where(pl) << " phase " << phase << " " << i;
        });
        EXPECT_NEAR(length, 2 * M_PI * pl.size, 1e-4 * pl.size) << Where(pl) << " phase " << phase;
      }
}

// A circle in the plane x = 1.5 beside a torus (core radius 1, tube 0.3, both seams at angle 0)
// through (1.5, 0, 0): its projection passes through the corner where both seams meet, and is
// split there without running the long way round either period: every point of the curves lies
// on the torus's feet of the circle's points, and their lengths add up to that projection's.
TEST_F(ProjectionTest, AProjectionThroughTheCornerOfBothSeamsGoesTheShortWay) {
  auto foot = [](const double P[3], double F[3]) {
    const double rho = std::hypot(P[0], P[1]), C[3] = {P[0] / rho, P[1] / rho, 0.0};
    const double d[3] = {P[0] - C[0], P[1] - C[1], P[2]}, len = VecSize3(d);
    for (int k = 0; k < 3; ++k) F[k] = C[k] + 0.3 * d[k] / len;
  };
  const double r = std::sqrt(0.02), h = std::sqrt(0.5);
  std::vector<double> pts, w;
  for (int i = 0; i < 9; ++i) {
    const double a = i * M_PI / 4, ri = i % 2 ? r / h : r;
    pts.insert(pts.end(), {1.5, 0.1 + ri * std::cos(a), 0.1 + ri * std::sin(a)});
    w.push_back(i % 2 ? h : 1.0);
  }
  for (const Place& pl : {Place(1.0, false), Place(1e6, true)})
    for (int separate : {1, 0}) {
      BsplineKeeper keep;
      Bspline* srf = keep(BuildTorus(1.0, 0.3));
      Bspline* c = keep(BuildCurve(2, 3, pts, {0, 0, 0, .25, .25, .5, .5, .75, .75, 1, 1, 1}, w));
      ASSERT_TRUE(srf && c);
      // The exact projection, densely, in unit coordinates.
      std::vector<std::array<double, 3>> feet(2001);
      double exact = 0.0;
      for (int i = 0; i <= 2000; ++i) {
        double P[3];
        RefEvalCurve(c, i / 2000.0, P);
        foot(P, feet[i].data());
        if (i) exact += VecDist3(feet[i].data(), feet[i - 1].data());
      }
      pl.Map(srf);
      pl.Map(c);
      std::vector<Bspline*> got = Items(SurfCurveProjectClosestGeometry(srf, c, 0, 1e-4 * pl.size, 0, separate));
      ASSERT_FALSE(got.empty()) << Where(pl);
      const double length = SampleArcs(srf, got, &pl, [&](const double q[3], int i) {
        double nearest = 1e300;
        for (const auto& f : feet) nearest = std::min(nearest, VecDist3(q, f.data()));
        EXPECT_LT(nearest, 1e-3) << Where(pl) << " separate " << separate << " " << i;
      });
      EXPECT_NEAR(length, exact, 1e-3 * exact) << Where(pl) << " separate " << separate;
    }
}

// An arc off the axis over a torus and tolerances down to round-off: a projection returned is
// within its tolerance of the exact one (the torus's foot of each point, C + r (P - C) / |P - C|
// for C the nearest point of the core circle) everywhere; one the fit cannot bring that close
// is refused (null).
TEST_F(ProjectionTest, AProjectionIsWithinItsToleranceOrRefused) {
  BsplineKeeper keep;
  Bspline* srf = keep(BuildTorus(1.0, 0.3));
  const double centre[3] = {0.05, 0.02, 0.4};
  Bspline* c = keep(MakeArcZBspline(10.0, 80.0, centre, 1.0));
  ASSERT_TRUE(srf && c);
  auto foot = [](const double P[3], double F[3]) {
    const double rho = std::hypot(P[0], P[1]);
    const double C[3] = {P[0] / rho, P[1] / rho, 0.0};
    const double d = VecDist3(P, C);
    for (int k = 0; k < 3; ++k) F[k] = C[k] + 0.3 * (P[k] - C[k]) / d;
  };
  for (double tol : {1e-4, 1e-10, 1e-13}) {
    std::vector<Bspline*> got = Items(SurfCurveProjectClosestGeometry(srf, c, 8, tol, 0, 1));
    if (tol > 1e-13) {
      EXPECT_EQ(got.size(), 1u) << tol;
    }
    double worst = 0;
    for (int i = 0; i <= 400 && !got.empty(); ++i) {
      double P[3], F[3];
      Eval3DPointOnCurve3Coord(c, c->umin + (c->umax - c->umin) * i / 400.0, 0, P);
      foot(P, F);
      double best = 1e300;
      for (Bspline* piece : got) best = std::min(best, DistanceToImage(piece, F));
      worst = std::max(worst, best);
    }
    EXPECT_LE(worst, 1.5 * tol) << tol;
  }
}

// The farthest of the points of the pieces (sampled by SampleArcs, unmapped by pl) from the
// exact projection of the cubic through pts onto the torus R 1, r 0.3 about z (the torus's foot
// of each point, C + r (P - C) / |P - C|), a polyline of 3001 feet whose chords lie within 1e-7
// of it.
double OffTorusProjection(const std::vector<double>& pts, Bspline* srf, const std::vector<Bspline*>& got,
                          const Place& pl) {
  constexpr int kFeet = 3000;
  std::vector<std::array<double, 3>> feet(kFeet + 1);
  BsplineKeeper keep;
  Bspline* c = keep(BuildCurve(3, 3, pts));
  for (int i = 0; i <= kFeet; ++i) {
    double P[3];
    Eval3DPointOnCurve3Coord(c, double(i) / kFeet, 0, P);
    const double rho = std::hypot(P[0], P[1]);
    const double C[3] = {P[0] / rho, P[1] / rho, 0.0};
    const double d = VecDist3(P, C);
    for (int k = 0; k < 3; ++k) feet[i][k] = C[k] + 0.3 * (P[k] - C[k]) / d;
  }
  double worst = 0.0;
  SampleArcs(srf, got, &pl, [&](const double q[3], int) {
    worst = std::max(worst, DistanceToPolyline(q, feet));
  });
  return worst;
}

// A curve over a torus whose parameter domain is [1e6, 1e6 + 1] x [-2e6, -2e6 + 7] (as a file
// reader may leave it), eight samples a span: the samples come unevenly spaced out of the checks
// between them, and the piece through them may pass every foot and still bulge away between them.
// Every point of every piece lies within the tolerance of the exact projection, in either mode,
// small and large, far from the origin.
TEST_F(ProjectionTest, APieceNeverBulgesOffTheProjectionBetweenTheFeetItPasses) {
  const std::vector<double> pts = {1.1921987266896295, -0.39919218179482496, 0.13843203332115775,
                                   1.3425225313516749, -0.37399471119755834, 0.17783832384528969,
                                   1.3207507739486142, -0.4066347328506032,  0.19052883659568534,
                                   1.1177397681713794, -0.4132266808587684,  0.10117923673920602,
                                   1.1453832239933572, -0.34170357042824856, 0.12222469202016116,
                                   1.1690469595267126, -0.36889734428610665, 0.13031416923044545};
  for (int separate : {0, 1}) {
    const Place pl = separate ? Place(1e6, true) : Place(1e-6, true);
    BsplineKeeper keep;
    Bspline* srf = keep(BuildTorus(1.0, 0.3));
    Bspline* c = keep(BuildCurve(3, 3, pts));
    ASSERT_TRUE(srf && c);
    for (int i = 0; i < NumKnotsU(srf); ++i) srf->knotsU[i] = 1e6 + srf->knotsU[i];
    for (int i = 0; i < NumKnotsV(srf); ++i) srf->knotsV[i] = -2e6 + 7.0 * srf->knotsV[i];
    SetDomainFromKnots(srf, 0);
    SetDomainFromKnots(srf, 1);
    const double tol = 1e-4;
    std::vector<Bspline*> got = ProjectPlaced(pl, srf, c, tol, separate, 8);
    ASSERT_FALSE(got.empty()) << pl.size << " " << separate;
    EXPECT_LE(OffTorusProjection(pts, srf, got, pl), tol) << pl.size << " " << separate;
  }
}

// A gentle curve over a torus whose pieces are checked at few points (degree + 1 steps a span):
// the distance from the projection, within the tolerance at every check, may still peak beyond
// it between two of them. No point of any piece lies farther than the tolerance, in either mode,
// at every size and place.
TEST_F(ProjectionTest, APieceDoesNotPeakBeyondTheToleranceBetweenItsChecks) {
  const std::vector<double> pts = {1.2992700548501488, 0.46179392618943543,  0.015306190547410883,
                                   1.2300382008124673, 0.47514114931112844,  0.0005056303833720139,
                                   1.2886793840979871, 0.62680060119869896,  -0.023927134799504462,
                                   1.1142550036969985, 0.64769280562616049,  -0.009614999256319463,
                                   1.1249606542290305, 0.82767656687022018,  -0.046303653922833372};
  for (const Place& pl : ThreePlaces())
    for (int separate : {0, 1}) {
      BsplineKeeper keep;
      Bspline* srf = keep(BuildTorus(1.0, 0.3));
      Bspline* c = keep(BuildCurve(3, 3, pts));
      ASSERT_TRUE(srf && c);
      const double tol = 1e-4;
      std::vector<Bspline*> got = ProjectPlaced(pl, srf, c, tol, separate);
      ASSERT_FALSE(got.empty()) << pl.size << " " << separate;
      EXPECT_LE(OffTorusProjection(pts, srf, got, pl), tol) << pl.size << " " << pl.far << " " << separate;
    }
}
// A line beside a cylinder's seam running off its bottom or top edge: the projection is the
// stretch of the seam line down to (or up to) the edge. The crossing found at that corner of
// the seam and the edge may come back on either side of the seam; the piece keeps the side of
// the samples it joins, so it runs along the seam (every control point on it) and not round the
// cylinder to the other side. At every size and place.
TEST_F(ProjectionTest, ACurveLeavingOverAnEdgeAtTheSeamEndsOnItsOwnSideOfTheSeam) {
  struct Line {
    double radius, z0, z1, end;  // from height z0 to z1 at the radius; the projection ends at `end`
  };
  const Line lines[] = {{0.55, 0.5, -0.5, 0.0}, {0.45, 0.4, 1.6, 1.0}};
  for (const Place& pl : EveryPlace())
    for (const Line& line : lines)
      for (int separate : {1, 0}) {
        SCOPED_TRACE(Where(pl) << " radius " << line.radius << " separate " << separate);
        BsplineKeeper keep;
        const double c0[3] = {0, 0, 0}, c1[3] = {0, 0, 1}, side[3] = {0.5, 0, 0};
        Bspline* srf = keep(CreateCylinderWithCensAndPoint(c0, c1, side));
        Bspline* c = keep(BuildCurve(1, 3, {line.radius, 0, line.z0, line.radius, 0, line.z1}));
        ASSERT_TRUE(srf && c);
        pl.Map(srf);
        pl.Map(c);
        const double tol = 1e-4 * pl.size;
        std::vector<Bspline*> got = Items(SurfCurveProjectClosestGeometry(srf, c, 0, tol, 0, separate));
        ASSERT_EQ(got.size(), 1u);
        Bspline* piece = got[0];
        for (int i = 0; i < NumCtrlU(piece); ++i) {
          EXPECT_TRUE(piece->X[0][i] == piece->X[0][0]) << "off the seam line at " << i;
          EXPECT_GE(piece->Y[0][i], srf->vmin - 1e-9);
          EXPECT_LE(piece->Y[0][i], srf->vmax + 1e-9);
        }
        double worst = 0.0;
        for (int i = 0; i <= 100; ++i) {
          double q[3];
          EvalCrvOnSrfCoord(srf, piece, piece->umin + (piece->umax - piece->umin) * i / 100.0, 0, q);
          pl.Unmap(q, q);
          const double lo = std::min(line.z0, line.end), hi = std::max(line.z0, line.end);
          worst = std::max(worst, std::hypot(std::hypot(q[0] - 0.5, q[1]), std::max({lo - q[2], q[2] - hi, 0.0})));
        }
        EXPECT_LT(worst, 1.5e-4);
        double a[3], b[3];
        EvalCrvOnSrfCoord(srf, piece, piece->umin, 0, a);
        EvalCrvOnSrfCoord(srf, piece, piece->umax, 0, b);
        pl.Unmap(a, a);
        pl.Unmap(b, b);
        EXPECT_NEAR(a[2], line.z0, 1e-4);
        EXPECT_NEAR(b[2], line.end, 1e-4);
      }
}

// A line below the apex of the cone z = sqrt(x^2 + y^2), z <= 1, in the plane y = 0 at height
// -0.3: the feet of its points with |x| <= 0.3 are all the apex, the others lie on the two
// generators in that plane, so the projection is the stretch of each generator from the apex to
// height 0.25 (length 0.25 sqrt 2). Each curve leaves the apex along its own generator (one u),
// so every point of every curve lies on them, and together they have the stretches' length.
TEST_F(ProjectionTest, AProjectionWhoseFeetDwellOnAnApexLeavesItAlongItsGenerator) {
  for (const Place& pl : ThreePlaces())
    for (int separate : {1, 0}) {
      SCOPED_TRACE(Where(pl) << " separate " << separate);
      BsplineKeeper keep;
      const double apex[3] = {0, 0, 0}, top[3] = {0, 0, 1}, onApex[3] = {0, 0, 0}, rim[3] = {1, 0, 1};
      Bspline* srf = keep(CreateConeWithCensAnd2Points(apex, top, onApex, rim));
      Bspline* c = keep(BuildCurve(1, 3, {-0.8, 0, -0.3, 0.8, 0, -0.3}));
      ASSERT_TRUE(srf && c);
      pl.Map(srf);
      pl.Map(c);
      const double tol = 1e-4 * pl.size;
      std::vector<Bspline*> got = Items(SurfCurveProjectClosestGeometry(srf, c, 0, tol, 0, separate));
      ASSERT_FALSE(got.empty());
      double worst = 0.0;
      const double length = SampleArcs(srf, got, &pl, [&](const double q[3], int) {
        // Off the generator x = +-z, y = 0, 0 <= z <= 0.25.
        const double z = std::clamp((std::fabs(q[0]) + q[2]) / 2, 0.0, 0.25);
        worst = std::max(worst, std::hypot(std::fabs(q[0]) - z, q[1], q[2] - z));
      });
      EXPECT_LT(worst, 1.5e-4);
      EXPECT_NEAR(length, 0.5 * std::sqrt(2.0), 1e-3);
    }
}

// The length of a curve on srf, in the unit coordinates of pl.
double UnmappedLength(Bspline* srf, Bspline* arc, const Place& pl) {
  double length = 0.0, prev[3];
  for (int i = 0; i <= 400; ++i) {
    double q[3];
    EvalCrvOnSrfCoord(srf, arc, arc->umin + (arc->umax - arc->umin) * i / 400.0, 0, q);
    pl.Unmap(q, q);
    if (i) length += VecDist3(q, prev);
    for (int k = 0; k < 3; ++k) prev[k] = q[k];
  }
  return length;
}

// A stretch of a curve whose feet all lie on a pole or an apex projects onto that point, and
// gives no curve of its own: a polyline down the axis of a unit sphere through its north pole
// (from (0, 0, 1.2) to (0, 0, 0.5)) between two lines that project onto meridians (at angles 2
// and -2.5, from polar angles atan 0.5 and pi / 4 to the pole) gives just the two meridian
// stretches; points below a cone's apex give just its two generators. The same two curves at
// every size and placement, in either mode.
TEST_F(ProjectionTest, FeetOnAPoleOrAnApexGiveNoCurveOfTheirOwn) {
  for (const Place& pl : {Place(1.0, false), Place(1e-6, true), Place(1e-3, false), Place(1e6, true)})
    for (int separate : {1, 0}) {
      SCOPED_TRACE(Where(pl) << " separate " << separate);
      BsplineKeeper keep;
      Bspline* sphere = keep(CreateSphereBspline(0.0, 0.0, 0.0, 1.0));
      const double a = 2.0, b = -2.5;
      Bspline* c = keep(BuildCurve(1, 3, {0.6 * std::cos(a), 0.6 * std::sin(a), 1.2, 0, 0, 1.2, 0, 0, 0.5,
                                          0.5 * std::cos(b), 0.5 * std::sin(b), 0.5}));
      const double apex[3] = {0, 0, 0}, top[3] = {0, 0, 1}, onApex[3] = {0, 0, 0}, rim[3] = {1, 0, 1};
      Bspline* cone = keep(CreateConeWithCensAnd2Points(apex, top, onApex, rim));
      ASSERT_TRUE(sphere && c && cone);
      pl.Map(sphere);
      pl.Map(c);
      pl.Map(cone);
      std::vector<Bspline*> got = Items(SurfCurveProjectClosestGeometry(sphere, c, 0, 1e-4 * pl.size, 0, separate));
      ASSERT_EQ(got.size(), 2u);
      EXPECT_NEAR(UnmappedLength(sphere, got[0], pl), std::atan(0.5), 1e-4);
      EXPECT_NEAR(UnmappedLength(sphere, got[1], pl), M_PI / 4, 1e-4);
      std::vector<float> x, y, z;
      for (int i = 0; i <= 40; ++i) {
        double p[3] = {0.0, -0.8 + 0.04 * i, -0.3};
        pl.Map(p, p);
        x.push_back(float(p[0])), y.push_back(float(p[1])), z.push_back(float(p[2]));
      }
      Owned<Cloud, FreeCloud> cloud(MakeCld(x.data(), y.data(), z.data(), int(x.size()), nullptr));
      got = Items(SurfCloudProjectClosestGeometry(cone, cloud.get(), 0, separate));
      ASSERT_EQ(got.size(), 2u);
      // Each generator from the apex to height 0.25; the points are floats.
      for (Bspline* arc : got) EXPECT_NEAR(UnmappedLength(cone, arc, pl), 0.25 * std::sqrt(2.0), 1e-3);
    }
}

// A line from a point above the north pole of a unit sphere out over its seam (the meridian at
// angle 0) projects onto that meridian from the pole to polar angle atan(1 / 3): one curve at
// every size and placement, though the value the projection leaves the pole along comes out of
// the closest-point search a few millionths of the range off the seam on either side of it.
TEST_F(ProjectionTest, AProjectionLeavingAPoleAlongTheSeamIsOneCurve) {
  for (const Place& pl : EveryPlace())
    for (int separate : {1, 0}) {
      SCOPED_TRACE(Where(pl) << " separate " << separate);
      BsplineKeeper keep;
      Bspline* sphere = keep(CreateSphereBspline(0.0, 0.0, 0.0, 1.0));
      Bspline* c = keep(BuildCurve(1, 3, {0, 0, 1.5, 0.5, 0, 1.5}));
      ASSERT_TRUE(sphere && c);
      pl.Map(sphere);
      pl.Map(c);
      std::vector<Bspline*> got = Items(SurfCurveProjectClosestGeometry(sphere, c, 0, 1e-4 * pl.size, 0, separate));
      ASSERT_EQ(got.size(), 1u);
      EXPECT_NEAR(UnmappedLength(sphere, got[0], pl), std::atan(1.0 / 3.0), 1e-4);
    }
}

// Arcs lying along one seam of a torus (core radius 1, tube 0.3, both seams at angle 0) across
// the other: a quarter of the circle of radius 1.4 in z = 0 on the outer equator, from -45 to 45
// degrees, and a quarter of the circle of radius 0.45 about (1, 0, 0) in y = 0, from -45 to 45
// degrees up from the equator. Each projects onto its seam, split where it crosses the other
// into two pieces that run along the seam on either side of the domain: every control point
// lies within the domain, on its piece's side to round-off. Flagged closed and not, at every
// size and placement.
TEST_F(ProjectionTest, APieceAlongASeamStaysOnItsSideOfTheDomain) {
  for (const Place& pl : ThreePlaces())
    for (int alongV : {1, 0})
      for (int flagged : {1, 0}) {
        SCOPED_TRACE(Where(pl) << " along the " << (alongV ? "v" : "u") << " seam, flagged " << flagged);
        BsplineKeeper keep;
        Bspline* srf = keep(BuildTorus(1.0, 0.3, flagged != 0));
        std::vector<double> pts, w;
        for (int i = 0; i <= 4; ++i) {
          const double a = -M_PI / 4 + i * M_PI / 8, r = (alongV ? 1.4 : 0.45) / (i % 2 ? std::cos(M_PI / 8) : 1.0);
          if (alongV)
            pts.insert(pts.end(), {r * std::cos(a), r * std::sin(a), 0.0});
          else
            pts.insert(pts.end(), {1.0 + r * std::cos(a), 0.0, r * std::sin(a)});
          w.push_back(i % 2 ? std::cos(M_PI / 8) : 1.0);
        }
        Bspline* c = keep(BuildCurve(2, 3, pts, {0, 0, 0, 0.5, 0.5, 1, 1, 1}, w));
        ASSERT_TRUE(srf && c);
        pl.Map(srf);
        pl.Map(c);
        std::vector<Bspline*> got = Items(SurfCurveProjectClosestGeometry(srf, c, 8, 1e-4 * pl.size, 0, 1));
        ASSERT_EQ(got.size(), 2u);
        for (Bspline* piece : got) {
          double* across = alongV ? piece->Y[0] : piece->X[0];
          double* along = alongV ? piece->X[0] : piece->Y[0];
          const double lo = alongV ? srf->vmin : srf->umin, hi = alongV ? srf->vmax : srf->umax;
          const double side = across[0] - lo < hi - across[0] ? lo : hi;
          for (int i = 0; i < NumCtrlU(piece); ++i) {
            EXPECT_GE(across[i], lo) << i;
            EXPECT_LE(across[i], hi) << i;
            EXPECT_NEAR(across[i], side, 1e-9 * (hi - lo)) << i;
            EXPECT_GE(along[i], alongV ? srf->umin : srf->vmin);
            EXPECT_LE(along[i], alongV ? srf->umax : srf->vmax);
          }
        }
      }
}

// A circle about the axis of a cylinder (radius 0.5, height 1) at radius 0.7, and one about a
// torus's axis (core radius 1, tube 0.3) at radius 1.5 and height 0.1, each starting on the
// seam: the projection goes once round, the circle of radius 0.5 at height 0.5, and that of
// radius 1 + 0.15 / sqrt(0.26) at height 0.03 / sqrt(0.26). A curve from the seam back to it,
// whose ends meet in space: one curve on that circle, as long as it, at every size and place.
TEST_F(ProjectionTest, AProjectionOnceRoundAClosedDirectionIsOneCurve) {
  const double h = std::sqrt(0.5);
  for (const Place& pl : ThreePlaces())
    for (int torus : {0, 1})
      for (int separate : {1, 0}) {
        SCOPED_TRACE(Where(pl) << (torus ? " torus" : " cylinder") << " separate " << separate);
        BsplineKeeper keep;
        const double c0[3] = {0, 0, 0}, c1[3] = {0, 0, 1}, side[3] = {0.5, 0, 0};
        Bspline* srf = keep(torus ? BuildTorus(1.0, 0.3) : CreateCylinderWithCensAndPoint(c0, c1, side));
        const double r = torus ? 1.5 : 0.7, z = torus ? 0.1 : 0.5;
        std::vector<double> pts, w;
        for (int i = 0; i < 9; ++i) {
          const double a = i * M_PI / 4, ri = i % 2 ? r / h : r;
          pts.insert(pts.end(), {ri * std::cos(a), ri * std::sin(a), z});
          w.push_back(i % 2 ? h : 1.0);
        }
        Bspline* c = keep(BuildCurve(2, 3, pts, {0, 0, 0, .25, .25, .5, .5, .75, .75, 1, 1, 1}, w));
        ASSERT_TRUE(srf && c);
        const double tol = 1e-4;
        std::vector<Bspline*> got = ProjectPlaced(pl, srf, c, tol, separate);
        ASSERT_EQ(got.size(), 1u);
        const double radius = torus ? 1.0 + 0.15 / std::sqrt(0.26) : 0.5, height = torus ? 0.03 / std::sqrt(0.26) : 0.5;
        double worst = 0.0;
        const double length = SampleArcs(srf, got, &pl, [&](const double q[3], int) {
          worst = std::max(worst, std::hypot(std::hypot(q[0], q[1]) - radius, q[2] - height));
        });
        EXPECT_LE(worst, tol);
        EXPECT_NEAR(length, 2 * M_PI * radius, 1e-3 * radius);
      }
}

// A line below the apex of the cone z = sqrt(x^2 + y^2), z <= 1, beside the axis (y = 0.05,
// z = -0.3): the feet of its points with x^2 + y^2 <= 0.09 are all the apex, where the closest
// point search leaves the value round the axis as round-off sets it; the others lie at height
// (sqrt(x^2 + y^2) - 0.3) / 2 above the point, round the axis towards it. Each curve reaches the
// apex along the value its own feet come by, so every point of every curve lies within the
// tolerance of those feet, at every size and place, in either mode.
TEST_F(ProjectionTest, AProjectionReachingAnApexBesideItsAxisKeepsToItsFeet) {
  constexpr int kFeet = 1000;
  std::vector<std::array<double, 3>> feet(kFeet + 1);
  for (int i = 0; i <= kFeet; ++i) {
    const double x = -0.8 + 1.6 * i / kFeet, rho = std::hypot(x, 0.05), h = std::max(0.0, (rho - 0.3) / 2);
    feet[i] = {h * x / rho, h * 0.05 / rho, h};
  }
  double length = 0.0;
  for (int i = 0; i < kFeet; ++i) length += VecDist3(feet[i].data(), feet[i + 1].data());
  for (const Place& pl : ThreePlaces())
    for (int separate : {1, 0}) {
      SCOPED_TRACE(Where(pl) << " separate " << separate);
      BsplineKeeper keep;
      const auto [srf, c] = ConeAndLineBelowItsApex(keep);
      ASSERT_TRUE(srf && c);
      const double tol = 1e-4;
      std::vector<Bspline*> got = ProjectPlaced(pl, srf, c, tol, separate);
      ASSERT_EQ(got.size(), 2u);
      double worst = 0.0;
      const double total = SampleArcs(srf, got, &pl, [&](const double q[3], int) {
        worst = std::max(worst, DistanceToPolyline(q, feet));
      });
      EXPECT_LE(worst, tol);
      EXPECT_NEAR(total, length, 1e-2 * length);
    }
}

// The flat triangle with its apex at the origin and its base from (-1, 1, 0) to (1, 1, 0), a
// bilinear patch whose side v = 0 is the apex: a line above the y axis (height 0.3, y from -0.4
// to 0.9) projects onto the stretch of the axis from the apex to y = 0.9, beyond the edge where
// y < 0. The crossing found where the projection comes onto the triangle is the apex, where
// edges meet and u is free: the curve starts there along the u its own feet lie at, so every
// control point lies within the domain, and every point on that stretch, at every size and place.
TEST_F(ProjectionTest, AProjectionComingOnAtAnApexStaysWithinTheDomain) {
  for (const Place& pl : ThreePlaces())
    for (int separate : {1, 0}) {
      SCOPED_TRACE(Where(pl) << " separate " << separate);
      BsplineKeeper keep;
      Bspline* srf = keep(BuildSurface(1, 1, 2, 2, {0, 0, 0, 0, 0, 0, -1, 1, 0, 1, 1, 0}));
      Bspline* c = keep(BuildCurve(1, 3, {0, -0.4, 0.3, 0, 0.9, 0.3}));
      ASSERT_TRUE(srf && c);
      ASSERT_TRUE(SurfaceSideCollapsed(srf, 1, 0));
      const double tol = 1e-4;
      std::vector<Bspline*> got = ProjectPlaced(pl, srf, c, tol, separate);
      ASSERT_EQ(got.size(), 1u);
      for (int i = 0; i < NumCtrlU(got[0]); ++i) {
        EXPECT_GE(got[0]->X[0][i], srf->umin) << i;
        EXPECT_LE(got[0]->X[0][i], srf->umax) << i;
        EXPECT_GE(got[0]->Y[0][i], srf->vmin) << i;
        EXPECT_LE(got[0]->Y[0][i], srf->vmax) << i;
      }
      double worst = 0.0;
      const double length = SampleArcs(srf, got, &pl, [&](const double q[3], int) {
        worst = std::max(worst, std::hypot(q[0], q[2], std::max({-q[1], q[1] - 0.9, 0.0})));
      });
      EXPECT_LE(worst, tol);
      EXPECT_NEAR(length, 0.9, 1e-3);
    }
}

// The flat triangle with its apex at the origin and its base from (-1, 1, 0) to (1, 1, 0), its
// side v = 0 the apex, and a line from below the apex, where its feet are the apex, over the
// edge x = y (beyond it while y < x) onto the triangle at (3 / 14, 3 / 14, 0) and on to (0.5,
// 0.9, 0). The apex is a corner where the edges meet: a point whose foot lies there is past
// them, whatever value of u the search reports, so the projection is only the stretch of the
// line's shadow over the triangle, and no curve bridges the stretch beyond the edge. At every
// size and place, in either mode.
TEST_F(ProjectionTest, APointWhoseFootIsTheApexOfAFanIsPastItsEdges) {
  const double a[2] = {3.0 / 14, 3.0 / 14}, b[2] = {0.5, 0.9};
  for (const Place& pl : ThreePlaces())
    for (int separate : {1, 0}) {
      SCOPED_TRACE(Where(pl) << " separate " << separate);
      BsplineKeeper keep;
      Bspline* srf = keep(BuildSurface(1, 1, 2, 2, {0, 0, 0, 0, 0, 0, -1, 1, 0, 1, 1, 0}));
      Bspline* c = keep(BuildCurve(1, 3, {0, -0.3, 0.2, 0.5, 0.9, -0.2}));
      ASSERT_TRUE(srf && c);
      const double tol = 1e-4;
      std::vector<Bspline*> got = ProjectPlaced(pl, srf, c, tol, separate);
      ASSERT_EQ(got.size(), 1u);
      double worst = 0.0;
      const double length = SampleArcs(srf, got, &pl, [&](const double q[3], int) {
        const double d[2] = {b[0] - a[0], b[1] - a[1]}, r[2] = {q[0] - a[0], q[1] - a[1]};
        const double lam = std::clamp((r[0] * d[0] + r[1] * d[1]) / (d[0] * d[0] + d[1] * d[1]), 0.0, 1.0);
        worst = std::max(worst, std::hypot(r[0] - lam * d[0], r[1] - lam * d[1], q[2]));
      });
      EXPECT_LE(worst, tol);
      EXPECT_NEAR(length, std::hypot(b[0] - a[0], b[1] - a[1]), 1e-3);
    }
}

// The line below the apex of the cone z = sqrt(x^2 + y^2), z <= 1, beside its axis (y = 0.05,
// z = -0.3), projected to 1e-5 of the size: the feet of its middle stretch all lie on the apex,
// so each curve ends where the feet reach it rather than bending there to stand still, which the
// fit could follow only by overshooting the apex out of the domain (or not at all to this
// tolerance). Two curves, every control point within the domain, each from its generator's end
// (height (sqrt(0.6425) - 0.3) / 2) to the apex, at every size and place.
TEST_F(ProjectionTest, AProjectionEndsWhereItsFeetReachAnApex) {
  for (const Place& pl : ThreePlaces()) {
    SCOPED_TRACE(Where(pl));
    BsplineKeeper keep;
    const auto [srf, c] = ConeAndLineBelowItsApex(keep);
    ASSERT_TRUE(srf && c);
    const double tol = 1e-5;
    std::vector<Bspline*> got = ProjectPlaced(pl, srf, c, tol, 1);
    ASSERT_EQ(got.size(), 2u);
    const double h = (std::sqrt(0.6425) - 0.3) / 2;
    for (Bspline* piece : got) {
      for (int i = 0; i < NumCtrlU(piece); ++i) {
        EXPECT_GE(piece->Y[0][i], srf->vmin) << i;
        EXPECT_LE(piece->Y[0][i], srf->vmax) << i;
      }
      double a[3], b[3];
      EvalCrvOnSrfCoord(srf, piece, piece->umin, 0, a);
      EvalCrvOnSrfCoord(srf, piece, piece->umax, 0, b);
      pl.Unmap(a, a);
      pl.Unmap(b, b);
      EXPECT_NEAR(std::max(a[2], b[2]), h, tol);
      EXPECT_LE(std::min(VecSize3(a), VecSize3(b)), tol);
    }
  }
}

// A line at height 1.5 over the north pole of a unit sphere (x from -1 to 1, y = 0) projected to
// 1e-8 of the size: the two meridian stretches from polar angle atan(1 / 1.5) to the pole. The
// fit holds its ends as floats, a float's round-off past the projection's ends, which no check
// between the samples sees; every point of both curves lies within the tolerance of the
// stretches, at every size and place.
TEST_F(ProjectionTest, APieceEndsWhereTheProjectionDoesToAFineTolerance) {
  const double reach = std::atan(1.0 / 1.5);
  for (const Place& pl : ThreePlaces()) {
    SCOPED_TRACE(Where(pl));
    BsplineKeeper keep;
    Bspline* sphere = keep(CreateSphereBspline(0.0, 0.0, 0.0, 1.0));
    Bspline* c = keep(BuildCurve(1, 3, {-1, 0, 1.5, 1, 0, 1.5}));
    ASSERT_TRUE(sphere && c);
    const double tol = 1e-8;
    std::vector<Bspline*> got = ProjectPlaced(pl, sphere, c, tol, 1);
    ASSERT_EQ(got.size(), 2u);
    double worst = 0.0;
    SampleArcs(sphere, got, &pl, [&](const double q[3], int) {
      const double a = std::clamp(std::atan2(q[0], q[2]), -reach, reach);
      worst = std::max(worst, std::hypot(q[0] - std::sin(a), q[1], q[2] - std::cos(a)));
    });
    EXPECT_LE(worst, tol);
  }
}

// A line on the plane tangent at the north pole of a unit sphere, passing the pole 0.01 or 0.1 of
// the radius beside it, projected to 1e-6 of the size: its foot swings half round the axis over a
// short stretch, where a run of three samples needs many more to follow it in (u, v). The one
// curve comes back within the tolerance of the exact projection (the feet P / |P| of its
// points), at every size and place.
TEST_F(ProjectionTest, AProjectionSwingingRoundBesideAPoleIsFollowed) {
  for (double off : {0.01, 0.1})
    for (const Place& pl : ThreePlaces()) {
      SCOPED_TRACE(Where(pl));
      BsplineKeeper keep;
      Bspline* sphere = keep(CreateSphereBspline(0.0, 0.0, 0.0, 1.0));
      Bspline* c = keep(BuildCurve(1, 3, {-0.6, off, 1.0, 0.6, off, 1.0}));
      ASSERT_TRUE(sphere && c);
      std::vector<std::array<double, 3>> feet(3001);
      for (int i = 0; i <= 3000; ++i) {
        const double P[3] = {-0.6 + 1.2 * i / 3000, off, 1.0}, d = VecSize3(P);
        for (int k = 0; k < 3; ++k) feet[i][k] = P[k] / d;
      }
      const double tol = 1e-6;
      std::vector<Bspline*> got = ProjectPlaced(pl, sphere, c, tol, 1);
      ASSERT_EQ(got.size(), 1u) << off;
      double worst = 0.0;
      SampleArcs(sphere, got, &pl, [&](const double q[3], int) { worst = std::max(worst, DistanceToPolyline(q, feet)); });
      EXPECT_LE(worst, tol) << off;
    }
}

// A line at height 1.5 over the north pole of a unit sphere, across the meridians at angles
// atan 0.7 and atan 0.7 + pi, projected to 1e-8 of the size: the two meridian stretches from
// polar angle atan(sqrt(1.49) / 1.5) to the pole, each made the exact iso line. Its u is taken
// at the end away from the pole, where the foot's u is sharp (at the pole it is loose, set by a
// foot near the pole), so every point of both lies within the tolerance of the stretches, at
// every size and place.
TEST_F(ProjectionTest, AnIsoLineFromAPoleRunsAtTheValueOfItsOtherEnd) {
  const double n = std::hypot(1.0, 0.7), e[2] = {1.0 / n, 0.7 / n}, reach = std::atan(n / 1.5);
  for (const Place& pl : ThreePlaces()) {
    SCOPED_TRACE(Where(pl));
    BsplineKeeper keep;
    Bspline* sphere = keep(CreateSphereBspline(0.0, 0.0, 0.0, 1.0));
    Bspline* c = keep(BuildCurve(1, 3, {-1, -0.7, 1.5, 1, 0.7, 1.5}));
    ASSERT_TRUE(sphere && c);
    const double tol = 1e-8;
    std::vector<Bspline*> got = ProjectPlaced(pl, sphere, c, tol, 1);
    ASSERT_EQ(got.size(), 2u);
    double worst = 0.0;
    SampleArcs(sphere, got, &pl, [&](const double q[3], int) {
      const double a = std::clamp(std::atan2(q[0] * e[0] + q[1] * e[1], q[2]), -reach, reach);
      worst = std::max(worst, std::hypot(q[0] - std::sin(a) * e[0], q[1] - std::sin(a) * e[1], q[2] - std::cos(a)));
    });
    EXPECT_LE(worst, tol);
  }
}

// Circles about the middle of a flat unit square at height 0.3, sampled degree + 1 steps a
// quarter: one of radius 0.51 (from 15 degrees) leaves the square across the middle of each side
// for 23 degrees between two samples over it, one of radius 0.62 (from 0 degrees) comes onto it
// about each diagonal for 18 degrees between two samples beyond it. Neither stretch is lost or
// bridged: the pieces, 5 and 4, lie on the circle within the square and are as long as its part
// there, at every size and place.
TEST_F(ProjectionTest, AStretchOnOrOffTheSurfaceBetweenTwoSamplesIsSeen) {
  const double h = std::sqrt(0.5);
  for (const Place& pl : ThreePlaces())
    for (double r : {0.51, 0.62}) {
      SCOPED_TRACE(Where(pl) << " radius " << r);
      BsplineKeeper keep;
      Bspline* srf = keep(BuildFunctionPatch([](double, double) { return 0.0; }));
      const double a0 = r < 0.6 ? M_PI / 12 : 0.0;
      std::vector<double> pts, w;
      for (int i = 0; i < 9; ++i) {
        const double a = a0 + i * M_PI / 4, ri = i % 2 ? r / h : r;
        pts.insert(pts.end(), {0.5 + ri * std::cos(a), 0.5 + ri * std::sin(a), 0.3});
        w.push_back(i % 2 ? h : 1.0);
      }
      Bspline* c = keep(BuildCurve(2, 3, pts, {0, 0, 0, .25, .25, .5, .5, .75, .75, 1, 1, 1}, w));
      ASSERT_TRUE(srf && c);
      const double tol = 1e-4;
      std::vector<Bspline*> got = ProjectPlaced(pl, srf, c, tol, 1);
      EXPECT_EQ(got.size(), r < 0.6 ? 5u : 4u);
      double worst = 0.0;
      const double length = SampleArcs(srf, got, &pl, [&](const double q[3], int) {
        const double out = std::max({-q[0], q[0] - 1.0, -q[1], q[1] - 1.0, 0.0});
        worst = std::max({worst, std::fabs(std::hypot(q[0] - 0.5, q[1] - 0.5) - r), std::fabs(q[2]), out});
      });
      EXPECT_LE(worst, tol);
      const double k = 0.5 / r;
      const double exact = r < 0.6 ? r * (2 * M_PI - 8 * std::acos(k)) : 4 * r * (std::asin(k) - std::acos(k));
      EXPECT_NEAR(length, exact, 1e-3 * exact);
    }
}

// A circle of radius 1.3 about a unit sphere's centre in the plane y = 0 through its poles,
// projected to 1e-8 of the size: the great circle in that plane, split at the poles into three
// exact iso lines, one of them the whole meridian from pole to pole. Both ends of that one lie
// on poles, where a foot's u is loose: its u comes from its middle, so every point of the three
// lies within the tolerance of the plane, at every size and place.
TEST_F(ProjectionTest, AMeridianFromPoleToPoleRunsAtTheValueOfItsMiddle) {
  const double h = std::sqrt(0.5);
  std::vector<double> pts, w;
  for (int i = 0; i < 9; ++i) {
    const double a = i * M_PI / 4, r = i % 2 ? 1.3 / h : 1.3;
    pts.insert(pts.end(), {r * std::cos(a), 0.0, r * std::sin(a)});
    w.push_back(i % 2 ? h : 1.0);
  }
  for (const Place& pl : ThreePlaces()) {
    SCOPED_TRACE(Where(pl));
    BsplineKeeper keep;
    Bspline* srf = keep(CreateSphereBspline(0.0, 0.0, 0.0, 1.0));
    Bspline* c = keep(BuildCurve(2, 3, pts, {0, 0, 0, .25, .25, .5, .5, .75, .75, 1, 1, 1}, w));
    ASSERT_TRUE(srf && c);
    const double tol = 1e-8;
    std::vector<Bspline*> got = ProjectPlaced(pl, srf, c, tol, 1);
    ASSERT_EQ(got.size(), 3u);
    double worst = 0.0;
    SampleArcs(srf, got, &pl, [&](const double q[3], int) {
      worst = std::max({worst, std::fabs(q[1]), std::fabs(VecSize3(q) - 1.0)});
    });
    EXPECT_LE(worst, tol);
  }
}


// Two cubics over a unit sphere's north pole, projected to 1e-6 of the size: one swings round
// beside the pole, 0.013 of the radius from it, through more than half a turn between two
// samples (so the short way between their feet is the wrong way round the seam), the other runs
// across the seam and back between two samples. Every point of the pieces lies within the
// tolerance of the exact projection (the feet P / |P| of the cubic's points), at every size and
// place.
TEST_F(ProjectionTest, FeetCrossingASeamBetweenTwoSamplesAreFollowedAcrossIt) {
  const std::vector<std::vector<double>> cubics = {
      {-0.56521007960120573, -0.21320031910442588, 1.205717903162622, 0.17570801591133789, -0.18609331626216913,
       1.0101418244811842, 0.50168592936593315, 0.52341149022857791, 1.3182418158831228, -0.46539286853460554,
       0.40187899519393222, 1.1849389794727778},
      {0.36063519377180187, -0.18420109824699182, 1.3850426660935926, -0.01166085626094493, -0.20004704507457494,
       1.0654799826841681, 0.42553134226984424, 0.39798831739897977, 1.2355860053291776, 0.4097680286690063,
       -0.44328175981287288, 0.98667377390902355}};
  for (const std::vector<double>& pts : cubics) {
    std::vector<std::array<double, 3>> feet(3001);
    {
      BsplineKeeper keep;
      Bspline* c = keep(BuildCurve(3, 3, pts));
      ASSERT_TRUE(c);
      for (int i = 0; i <= 3000; ++i) {
        double P[3];
        Eval3DPointOnCurve3Coord(c, i / 3000.0, 0, P);
        const double d = VecSize3(P);
        for (int k = 0; k < 3; ++k) feet[i][k] = P[k] / d;
      }
    }
    for (const Place& pl : ThreePlaces()) {
      SCOPED_TRACE(Where(pl) << " cubic " << (&pts - cubics.data()));
      BsplineKeeper keep;
      Bspline* sphere = keep(CreateSphereBspline(0.0, 0.0, 0.0, 1.0));
      Bspline* c = keep(BuildCurve(3, 3, pts));
      ASSERT_TRUE(sphere && c);
      const double tol = 1e-6;
      std::vector<Bspline*> got = ProjectPlaced(pl, sphere, c, tol, 1);
      ASSERT_FALSE(got.empty());
      double worst = 0.0;
      SampleArcs(sphere, got, &pl, [&](const double q[3], int) { worst = std::max(worst, DistanceToPolyline(q, feet)); });
      EXPECT_LE(worst, tol);
    }
  }
}

// The exact projection of the cubic through pts onto the cone with its apex at the origin and
// radius h at height h about z (shapes::Cone(z, x, 0, 1, 0, 1)): the foot of each point is
// s (cos a, sin a, 1) for s = (rho + z) / 2, the apex where s < 0. Distances to it are the nearest
// of its feet every 1e-4 of the cubic's range refined by golden sections, since chords between
// feet cut its turns by more than a tolerance.
class ConeProjection {
 public:
  explicit ConeProjection(const std::vector<double>& pts) : cubic_(keep_(BuildCurve(3, 3, pts))) {
    for (int i = 0; cubic_ && i <= kFeet; ++i) Foot(double(i) / kFeet, feet_[i].data());
  }
  bool ok() const { return cubic_ != nullptr; }
  const double* First() const { return feet_[0].data(); }
  const double* Last() const { return feet_[kFeet].data(); }
  void Foot(double t, double F[3]) const {
    double P[3];
    Eval3DPointOnCurve3Coord(cubic_, t, 0, P);
    const double rho = std::hypot(P[0], P[1]), s = std::max(0.5 * (rho + P[2]), 0.0);
    F[0] = s * P[0] / rho, F[1] = s * P[1] / rho, F[2] = s;
  }
  double Off(const double q[3]) const {
    int near = 0;
    for (int i = 1; i <= kFeet; ++i)
      if (VecDist3(q, feet_[i].data()) < VecDist3(q, feet_[near].data())) near = i;
    double a = std::max(near - 1, 0) / double(kFeet), b = std::min(near + 1, kFeet) / double(kFeet);
    auto off = [&](double t) {
      double F[3];
      Foot(t, F);
      return VecDist3(q, F);
    };
    const double g = 0.5 * (std::sqrt(5.0) - 1.0);
    for (int it = 0; it < 60; ++it) {
      const double x1 = b - g * (b - a), x2 = a + g * (b - a);
      if (off(x1) <= off(x2))
        b = x2;
      else
        a = x1;
    }
    return std::min(off(0.5 * (a + b)), VecDist3(q, feet_[near].data()));
  }

 private:
  static constexpr int kFeet = 10000;
  BsplineKeeper keep_;
  Bspline* cubic_;
  std::vector<std::array<double, 3>> feet_ = std::vector<std::array<double, 3>>(kFeet + 1);
};

// Projects the cubic through pts onto that cone, both placed at every size and place, to 1e-6 of
// the size, each piece on its own: `pieces` curves, every point of them within the tolerance of the
// exact projection and, with ends, the first and last within it of the exact projection's first
// and last foot.
void ExpectProjectedOntoConeWithinTol(const std::vector<double>& pts, size_t pieces, bool ends) {
  const ConeProjection exact(pts);
  ASSERT_TRUE(exact.ok());
  const double z[3] = {0, 0, 1}, x[3] = {1, 0, 0}, tol = 1e-6;
  for (const Place& pl : ThreePlaces()) {
    SCOPED_TRACE(Where(pl));
    BsplineKeeper keep;
    Bspline* cone = keep(shapes::Cone(z, x, 0.0, 1.0, 0.0, 1.0, shapes::Place{}));
    Bspline* c = keep(BuildCurve(3, 3, pts));
    ASSERT_TRUE(cone && c);
    const std::vector<Bspline*> got = ProjectPlaced(pl, cone, c, tol, 1);
    ASSERT_EQ(got.size(), pieces);
    double worst = 0.0;
    SampleArcs(cone, got, &pl, [&](const double q[3], int i) {
      worst = std::max(worst, exact.Off(q));
      if (ends && (i == 0 || i == 200)) {
        EXPECT_LE(VecDist3(q, i ? exact.Last() : exact.First()), tol) << i;
      }
    });
    EXPECT_LE(worst, tol);
  }
}

// A cubic over the cone whose feet climb, turn back down to height 0.26 and up again within a few
// degrees round the axis, projected to 1e-6 of the size: at each turn the chords between the feet
// in the parameter plane bend sharply, and an interpolant on them swings past the turn however
// many samples are added. The one curve comes back, from the exact projection's first foot to its
// last, every point of it within the tolerance of that projection, at every size and place.
TEST_F(ProjectionTest, FeetTurningBackSharplyAreFollowedToTheTolerance) {
  const std::vector<double> pts = {
      0.18360275088035571, 0.90831666077906503, 0.82742450302541304,  0.30491652654504692, 1.1752059714058498,
      1.0261475125387136,  0.038652343224283618, 0.12138637341453466, 0.12452568985663526, 0.10010073190626931,
      0.26378975837648799, 0.30729316595578876, 0.43072141092754462, 0.97207249771844428, 1.280246713102233,
      0.29482836201753515, 0.57824534207785838, 0.71405749679469332};
  ExpectProjectedOntoConeWithinTol(pts, 1, true);
}

// A cubic below the cone's apex whose feet come up a generator to height 0.06, down into the apex,
// dwell there and leave it up another, projected to 1e-6 of the size: where the feet reach the
// apex at a sample and round-off puts a crossing at that sample too, a run of no length of the
// cubic lies between them. It projects the one point and gives no curve, and the projection is
// not refused for it: both curves lie within the tolerance of the exact projection, at every size
// and place.
TEST_F(ProjectionTest, ARunOfNoLengthAtAnApexGivesNoCurve) {
  const std::vector<double> pts = {-0.24221440375522396, 0.006210251016994241,  -0.16492230642896502,
                                   -0.33959281771009692, -0.10610595318241099,  -0.077341483022677182,
                                   0.45560981102510156,  -0.055481794142830311, -0.39607561533353064,
                                   -0.077124789442502964, 0.032501946030314546, -0.23541121420023267,
                                   0.50922407808337145,  -0.13773006944925478,  -0.20836071240135112};
  ExpectProjectedOntoConeWithinTol(pts, 2, false);
}

}  // namespace

// Cubics passing over the north pole of the unit sphere, whose feet speed up beside it so that
// the distances of the feet from a fitted piece rise and fall unevenly (the peak a parabola
// through three of them puts below tol lies beyond it, within a step and about a sample): every
// point of every piece lies within tol of the exact projection, the radial one P / |P|, at every
// size and far from the origin.
TEST_F(ProjectionTest, PiecesOverASpherePoleStayWithinTolOfTheRadialProjection) {
  struct Case {
    double tol;
    std::vector<double> pts;
  };
  const Case cases[] = {
      {5.7830186428435755e-4,
       {-0.91747964809397076, 0.092814259527738446, 1.3161260360095723, -0.46253522615927689, 0.033138436739741317,
        1.5735439761938608, -0.16611247664027834, 0.0015460645832677464, 1.5593838074096222, 0.21329736575527636,
        -0.019493137335413403, 1.2014166821006584, 0.53553537933321427, 0.024834968813021319, 1.5940464506037157,
        0.85998182145979007, 0.047117825290647737, 1.1393816036325446}},
      {8.0035900306325782e-4,
       {-0.84466542747260409, 0.086979136209797622, 1.5680720538384381, -0.57175432181547925, -0.014540429983908925,
        1.2221655728835024, -0.15123330233906465, -0.059001454127037729, 1.1660887408959433, 0.22527264523435436,
        0.029295861785341409, 1.5132647767048517, 0.49626334650781934, 0.14668488226711293, 1.5667264675992905,
        0.8726627533297775, -0.14454902284318802, 1.3298566479134499}}};
  for (const Case& cs : cases)
    for (const Place& pl : ThreePlaces()) {
      SCOPED_TRACE(Where(pl) << " tol " << cs.tol);
      BsplineKeeper keep;
      Bspline* sphere = keep(CreateSphereBspline(0.0, 0.0, 0.0, 1.0));
      Bspline* c = keep(BuildCurve(3, 3, cs.pts));
      Bspline* exact = keep(BuildCurve(3, 3, cs.pts));
      ASSERT_TRUE(sphere && c && exact);
      // The radial projection of `exact`, densely (its chords stray from it by less than 1e-3 of tol).
      std::vector<std::array<double, 3>> projection(2001);
      for (size_t i = 0; i < projection.size(); ++i) {
        double* F = projection[i].data();
        Eval3DPointOnCurve3Coord(exact, double(i) / (projection.size() - 1), 0, F);
        const double r = VecSize3(F);
        for (int k = 0; k < 3; ++k) F[k] /= r;
      }
      std::vector<Bspline*> got = ProjectPlaced(pl, sphere, c, cs.tol, 1);
      ASSERT_FALSE(got.empty());
      double worst = 0.0;
      SampleArcs(sphere, got, &pl,
                 [&](const double q[3], int) { worst = std::max(worst, DistanceToPolyline(q, projection)); });
      EXPECT_LE(worst, cs.tol);
    }
}
