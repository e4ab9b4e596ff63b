// Curvature, tool-radius and normal grids. An exact paraboloid z = (x^2 + y^2) / 2R has radius R
// at its apex at every scale and its closed-form principal curvatures k = (1/R) / (1 + r^2/R^2)^(1/2)
// and (1/R) / (1 + r^2/R^2)^(3/2) everywhere; a plane has radius 1e6; selections keep what is
// asked for, sorted; updates on a collapsed surface end; needles start on the surface and point
// along its unit normal.
#include <algorithm>
#include <cmath>
#include <vector>

#include "bspline/ctrlnubs.h"
#include "bspline/editrec.h"
#include "bspline/sfree.h"
#include "foundation/umalloc.h"
#include "surface/srfnorm.h"
#include "surface/trimutils.h"
#include "tests/bspline/trimloops.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class RadiusGrids : public KernelTest {};

// The paraboloid over [-s, s]^2 as one biquadratic patch: x and y are linear in u and v, and x^2
// has the Bezier ordinates x0^2, x0 x1, x1^2, so z = (x^2 + y^2) / (2 R s) exactly.
Bspline* Paraboloid(double s, double R, bool rational = false) {
  const double c[3] = {-s, 0.0, s}, sq[3] = {s * s, -s * s, s * s};
  std::vector<double> pts;
  for (int j = 0; j < 3; ++j)
    for (int i = 0; i < 3; ++i) pts.insert(pts.end(), {c[i], c[j], (sq[i] + sq[j]) / (2.0 * R * s)});
  return BuildSurface(2, 2, 3, 3, pts, {}, {}, rational ? std::vector<double>(9, 1.0) : std::vector<double>{});
}

// Closed-form principal curvatures of z = r^2 / (2 Rs) at distance r from the axis.
void ParaboloidCurvatures(double Rs, double r, double* parallel, double* meridian) {
  const double q = 1.0 + (r / Rs) * (r / Rs);
  *parallel = 1.0 / (Rs * std::sqrt(q));
  *meridian = 1.0 / (Rs * q * std::sqrt(q));
}

TEST_F(RadiusGrids, ParaboloidApexAndFlatPatchAtEveryScale) {
  for (double s : {1e-6, 1.0, 1e6}) {
    Bspline* p = Paraboloid(s, 2.0);
    double *u, *v, *r;
    int nu = 0, nv = 0;
    ASSERT_EQ(CalculateRadiusOfCurvatureGrid(p, &u, &v, &r, &nu, &nv), 0);
    ASSERT_EQ(nu, 5);  // degree 2: 4 steps over the one span, then the end
    ASSERT_EQ(nv, 5);
    for (int j = 0; j < nv; ++j)
      for (int i = 0; i < nu; ++i) {
        const int g = j * nu + i;
        EXPECT_EQ(u[g], i / 4.0);
        EXPECT_EQ(v[g], j / 4.0);
        // The larger curvature is the parallel one: radius R s sqrt(1 + r^2 / (R s)^2).
        const double x = s * (2 * u[g] - 1), y = s * (2 * v[g] - 1);
        double kp, km;
        ParaboloidCurvatures(2.0 * s, std::hypot(x, y), &kp, &km);
        // At the umbilic apex the two roots meet, and the square root of the rounding in their
        // discriminant costs about half the digits there.
        EXPECT_NEAR(r[g], 1.0 / kp, 1e-7 * s) << s << " " << g;
      }
    EXPECT_NEAR(r[12], 2.0 * s, 1e-7 * s);  // the apex
    Free(u);
    Free(v);
    Free(r);
    FreeBspline(p);

    PatchOptions o;
    o.x1 = o.y1 = s;
    Bspline* flat = BuildFunctionPatch([&](double x, double y) { return 0.3 * x - 0.2 * y; }, o);
    ASSERT_EQ(CalculateRadiusOfCurvatureGrid(flat, &u, &v, &r, &nu, &nv), 0);
    // 3 spans of 5 steps in u (6 control points), 2 spans in v (5 control points): 16 and 11.
    EXPECT_EQ(nu, 16);
    EXPECT_EQ(nv, 11);
    for (int g = 0; g < nu * nv; ++g) EXPECT_EQ(r[g], 1000000.0);
    Free(u);
    Free(v);
    Free(r);
    FreeBspline(flat);
  }
  EXPECT_EQ(MallocTrackedCount(), 0);
}

TEST_F(RadiusGrids, SelectionKeepsRadiiBelowTheRequestSorted) {
  const std::vector<double> radii = {5, -3, 200000, 0.5, -1, 2, 100000, 99999};
  auto run = [&](double request, int mode) {
    std::vector<double> u(radii.size()), v(radii.size()), r = radii;
    for (size_t i = 0; i < u.size(); ++i) u[i] = v[i] = static_cast<double>(i);
    double *pu = u.data(), *pv = v.data(), *pr = r.data();
    int n = static_cast<int>(r.size());
    EXPECT_EQ(SelectRadiusPointsBasedOnRequest(nullptr, &pu, &pv, &pr, &n, request, mode), 0);
    for (int k = 0; k < n; ++k) {
      EXPECT_EQ(radii[static_cast<size_t>(u[k])], r[k]);  // points travel with their radii
      EXPECT_EQ(v[k], u[k]);
    }
    return std::vector<double>(r.begin(), r.begin() + n);
  };
  EXPECT_EQ(run(0.0, 0), (std::vector<double>{0.5, 2, 5, 99999}));
  EXPECT_EQ(run(3.0, 1), (std::vector<double>{0.5, 2}));
  EXPECT_EQ(run(-5.0, 1), (std::vector<double>{-1, -3}));  // concave ones, by magnitude
  EXPECT_TRUE(run(0.1, 1).empty());
}

TEST_F(RadiusGrids, PointsInsideTheTrimKeepTheirOrder) {
  Bspline* s = BuildFunctionPatch([](double, double) { return 0.0; });
  std::vector<double> u = {0.1, 0.5, 0.9, 0.3, 0.7}, v = {0.1, 0.5, 0.9, 0.8, 0.2}, r = {1, 2, 3, 4, 5};
  EXPECT_EQ(FindPointsInTrim(s, u.data(), v.data(), 5), 5);  // untrimmed: all
  // A hole round the middle and an outer square leaving out the corners (0.1, 0.1), (0.9, 0.9).
  AddLoop(s, SquareCurves(s, 0.15, 0.15, 0.85, 0.85));
  AddLoop(s, SquareCurves(s, 0.4, 0.4, 0.6, 0.6, true), 1);
  EXPECT_EQ(FindPointsAndRadiusInTrim(s, u.data(), v.data(), r.data(), 5), 2);
  EXPECT_EQ(u[0], 0.3);
  EXPECT_EQ(v[1], 0.2);
  EXPECT_EQ(r[0], 4);
  EXPECT_EQ(r[1], 5);
  EXPECT_EQ(FindPointsInTrim(s, u.data(), v.data(), 2), 2);
  FreeBspline(s);
  EXPECT_EQ(MallocTrackedCount(), 0);
}

// The plot record of a 5 x 4 grid of a surface with its listed indices and derivative table.
struct Plot {
  std::vector<double> up{0.0, 0.25, 0.5, 0.75, 1.0}, vp{0.0, 0.3, 0.6, 1.0};
  std::vector<int> idx;
  std::vector<double> table;
  PlotEditStruct rec{};
  Plot(Bspline* s, std::vector<int> listed) : idx(std::move(listed)) {
    rec.gridIdx = idx.data();
    rec.gridCount = static_cast<int>(idx.size());
    rec.uPar = up.data();
    rec.vPar = vp.data();
    rec.uOffset = 5;
    rec.vOffset = 4;
    static const int du[5] = {1, 0, 1, 2, 0}, dv[5] = {0, 1, 1, 0, 2};
    const int T = rec.gridCount;
    table.assign(15 * T, 0.0);
    for (int k = 0; k < T; ++k) {
      double d[5][3];
      EvalPointOnGeometryM(s, up[idx[k] % 5], vp[idx[k] / 5], du, dv, 5, 0, d);
      for (int r = 0; r < 5; ++r)
        for (int c = 0; c < 3; ++c) table[(3 * r + c) * T + k] = d[r][c];
    }
  }
};

TEST_F(RadiusGrids, PartialCurvatureUpdatesFollowTheClosedForm) {
  const double R = 1.5;
  Bspline* p = Paraboloid(1.0, R);
  Plot plot(p, {0, 3, 7, 12, 19});
  std::vector<double> tool(20, -7.0), pairs(40, -7.0);
  ASSERT_EQ(UpdatePartialToolradValues(p, &plot.rec, plot.table.data(), tool.data()), 0);
  ASSERT_EQ(UpdatePartialPrincipCurvaValues(p, &plot.rec, plot.table.data(), pairs.data()), 0);
  for (int g = 0; g < 20; ++g) {
    const bool listed = std::count(plot.idx.begin(), plot.idx.end(), g) > 0;
    if (!listed) {
      EXPECT_EQ(tool[g], -7.0);  // only listed points are written
      EXPECT_EQ(pairs[2 * g], -7.0);
      continue;
    }
    const double x = 2 * plot.up[g % 5] - 1, y = 2 * plot.vp[g / 5] - 1;
    double kp, km;
    ParaboloidCurvatures(R, std::hypot(x, y), &kp, &km);
    EXPECT_NEAR(tool[g], kp, 1e-12) << g;
    EXPECT_NEAR(pairs[2 * g], kp, 1e-12) << g;
    EXPECT_NEAR(pairs[2 * g + 1], km, 1e-12) << g;
  }
  FreeBspline(p);

  // Turned over, the paraboloid's curvatures are negative: no tool radius there.
  Bspline* q = Paraboloid(1.0, -R);
  Plot down(q, {6, 8});
  ASSERT_EQ(UpdatePartialToolradValues(q, &down.rec, down.table.data(), tool.data()), 0);
  EXPECT_EQ(tool[6], 3.37e38);
  EXPECT_EQ(tool[8], 3.37e38);
  FreeBspline(q);

  // Every control point in one place: the partials vanish everywhere, the updates still end.
  Bspline* point = BuildSurface(2, 2, 3, 3, std::vector<double>(27, 0.25));
  Plot none(point, {0, 11, 19});
  ASSERT_EQ(UpdatePartialToolradValues(point, &none.rec, none.table.data(), tool.data()), 0);
  ASSERT_EQ(UpdatePartialPrincipCurvaValues(point, &none.rec, none.table.data(), pairs.data()), 0);
  for (int g : {0, 11, 19}) {
    EXPECT_EQ(tool[g], 3.37e38);
    EXPECT_EQ(pairs[2 * g], 3.37e38);
    EXPECT_EQ(pairs[2 * g + 1], 3.37e38);
  }
  FreeBspline(point);
}

TEST_F(RadiusGrids, NeedlesStartOnTheSurfaceAlongItsUnitNormal) {
  for (bool rational : {false, true}) {
    const double R = 1.5;
    Bspline* p = Paraboloid(1.0, R, rational);
    Plot plot(p, {});
    static const int du[3] = {0, 1, 0}, dv[3] = {0, 0, 1};
    double *ut, *vt;
    int *us, *vs;
    ASSERT_EQ(EvalNubValsOnGridM(p, plot.up.data(), plot.vp.data(), 5, 4, du, dv, 3, &ut, &vt, &us, &vs), 0);
    plot.rec.uBasis = ut;
    plot.rec.vBasis = vt;
    plot.rec.uSpan = us;
    plot.rec.vSpan = vs;
    // On grid points, a hair above one (rounded up to the next), and outside the grid's box.
    const double u[4] = {0.25, 0.5 + 1e-3, 1.0, 1.2}, v[4] = {0.6, 0.0, 0.3 + 1e-9, 0.5};
    const int gi[3] = {1, 3, 4}, gj[3] = {2, 0, 1};
    std::vector<float> x(8, -9.0f), y(8, -9.0f), z(8, -9.0f);
    ASSERT_EQ(UpdatePartialSurfaceNormals(p, &plot.rec, 0.5, x.data(), y.data(), z.data(), u, v, 4), 0);
    for (int k = 0; k < 3; ++k) {
      const double px = 2 * plot.up[gi[k]] - 1, py = 2 * plot.vp[gj[k]] - 1;
      EXPECT_NEAR(x[2 * k], px, 1e-6);
      EXPECT_NEAR(y[2 * k], py, 1e-6);
      EXPECT_NEAR(z[2 * k], (px * px + py * py) / (2 * R), 1e-6);
      // Unit normal of z = r^2 / 2R along Su x Sv (upwards): (-x/R, -y/R, 1) normalised.
      const double n = std::sqrt(px * px / (R * R) + py * py / (R * R) + 1.0);
      EXPECT_NEAR(x[2 * k + 1] - x[2 * k], 0.5 * -px / R / n, 1e-6);
      EXPECT_NEAR(y[2 * k + 1] - y[2 * k], 0.5 * -py / R / n, 1e-6);
      EXPECT_NEAR(z[2 * k + 1] - z[2 * k], 0.5 / n, 1e-6);
    }
    EXPECT_EQ(x[6], -9.0f);  // outside: untouched
    EXPECT_EQ(z[7], -9.0f);
    Free(ut);
    Free(vt);
    Free(us);
    Free(vs);
    FreeBspline(p);
  }
}

TEST_F(RadiusGrids, FailedAllocationsLeaveNothing) {
  Bspline* p = Paraboloid(1.0, 2.0);
  const int failed = RunWithInjectedFailures(40, 1, [&] {
    double *u, *v, *r;
    int nu, nv;
    if (CalculateRadiusOfCurvatureGrid(p, &u, &v, &r, &nu, &nv) != 0) {
      EXPECT_EQ(r, nullptr);
      return -2;
    }
    Free(u);
    Free(v);
    Free(r);
    return 0;
  });
  EXPECT_GT(failed, 0);
  FreeBspline(p);
}

}  // namespace
