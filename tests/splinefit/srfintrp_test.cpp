// Surfaces through point grids: the surface passes through every given point (grids extended
// for the degrees included), its u and v parameters run at the same control-net speed, given
// parameters that no longer fit a grown grid are dropped, and failures leave nothing behind.
#include <cmath>
#include <vector>

#include "bspline/bsvalid.h"
#include "bspline/nubutil.h"
#include "bspline/sfree.h"
#include "splinefit/intrplt.h"
#include "stitch/vcnobj.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class GridInterpolation : public KernelTest {};

struct Grid {
  int nu, nv;
  std::vector<double> x, y, z;
};

// A curved sheet sampled unevenly: rows of different lengths.
Grid Sheet(int nu, int nv) {
  Grid g{nu, nv, {}, {}, {}};
  for (int j = 0; j < nv; ++j) {
    for (int i = 0; i < nu; ++i) {
      const double u = i + 0.2 * std::sin(1.3 * i + j), v = 1.5 * j;
      g.x.push_back(u * (1.0 + 0.1 * j));
      g.y.push_back(v);
      g.z.push_back(0.3 * std::sin(u) * std::cos(0.5 * v));
    }
  }
  return g;
}

double Gap(const Bspline* s, double u, double v, const double P[3]) {
  double q[3];
  RefEvalSurface(s, u, v, q);
  return std::hypot(q[0] - P[0], q[1] - P[1], q[2] - P[2]);
}

// Distance from P to the surface: a coarse grid, then a pattern search that halves its steps.
double DistanceToSurface(const Bspline* s, const double P[3]) {
  double bu = s->umin, bv = s->vmin, best = 1e300;
  for (int a = 0; a <= 30; ++a) {
    for (int b = 0; b <= 30; ++b) {
      const double u = s->umin + (s->umax - s->umin) * a / 30, v = s->vmin + (s->vmax - s->vmin) * b / 30;
      const double d = Gap(s, u, v, P);
      if (d < best) best = d, bu = u, bv = v;
    }
  }
  double hu = (s->umax - s->umin) / 30, hv = (s->vmax - s->vmin) / 30;
  for (int it = 0; it < 200 && (hu > 1e-14 || hv > 1e-14); ++it) {
    bool moved = false;
    for (auto [du, dv] : {std::pair{hu, 0.0}, {-hu, 0.0}, {0.0, hv}, {0.0, -hv}}) {
      const double u = std::clamp(bu + du, s->umin, s->umax), v = std::clamp(bv + dv, s->vmin, s->vmax);
      const double d = Gap(s, u, v, P);
      if (d < best) best = d, bu = u, bv = v, moved = true;
    }
    if (!moved) hu *= 0.5, hv *= 0.5;
  }
  return best;
}

// Control-net length per unit parameter, u over v.
double SpeedRatio(Bspline* s) {
  const double su = GetObjSpanInParDir(s, 0, 0) / (s->umax - s->umin);
  const double sv = GetObjSpanInParDir(s, 1, 0) / (s->vmax - s->vmin);
  return su / sv;
}

TEST_F(GridInterpolation, CubicGridSurfacesPassThroughEveryPoint) {
  for (auto [nu, nv] : {std::pair{4, 4}, {7, 5}, {12, 9}}) {
    Grid g = Sheet(nu, nv);
    const Grid given = g;
    Bspline* s = SurfaceInterpolate(g.x.data(), g.y.data(), g.z.data(), nu, nv, nullptr, nullptr, 3, 3);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(CheckBspline(s, 1e-9), 0);
    EXPECT_EQ(NumCtrlU(s), nu + 2);
    EXPECT_EQ(NumCtrlV(s), nv + 2);
    // Cubic knots are the padded parameters in both directions: the points sit at the knots.
    for (int j = 0; j < nv; ++j)
      for (int i = 0; i < nu; ++i) {
        const int k = j * nu + i;
        const double P[3] = {given.x[k], given.y[k], given.z[k]};
        EXPECT_LT(Gap(s, s->knotsU[3 + i], s->knotsV[3 + j], P), 1e-9) << nu << " " << i << " " << j;
      }
    // The u knots were scaled to v's control-net speed unless within 10 % already.
    EXPECT_NEAR(SpeedRatio(s), 1.0, 0.1 + 1e-9);
    EXPECT_EQ(g.x, given.x);
    FreeBspline(s);
  }
}

TEST_F(GridInterpolation, SmallGridsAreExtendedAndStillPassThroughTheGivenPoints) {
  for (bool anyDegree : {false, true}) {
    for (auto [nu, nv, pu, pv] : {std::tuple{3, 5, 3, 3}, {4, 2, 3, 3}, {2, 2, 3, 3}, {3, 3, 5, 4}}) {
      if (!anyDegree && pu != 3) continue;
      Grid g = Sheet(nu, nv);
      const Grid given = g;
      Bspline* s = anyDegree ? NewSurfaceInterpolate(g.x.data(), g.y.data(), g.z.data(), nu, nv,
                                                     nullptr, nullptr, pu, pv)
                             : SurfaceInterpolate(g.x.data(), g.y.data(), g.z.data(), nu, nv,
                                                  nullptr, nullptr, pu, pv);
      ASSERT_NE(s, nullptr) << nu << " " << nv;
      EXPECT_EQ(CheckBspline(s, 1e-9), 0);
      EXPECT_GE(NumCtrlU(s), pu + 1);
      EXPECT_GE(NumCtrlV(s), pv + 1);
      EXPECT_EQ(g.x, given.x);  // the extension worked on copies
      for (int k = 0; k < nu * nv; ++k) {
        const double P[3] = {given.x[k], given.y[k], given.z[k]};
        EXPECT_LT(DistanceToSurface(s, P), 1e-7) << anyDegree << " " << nu << "x" << nv << " " << k;
      }
      FreeBspline(s);
    }
  }
}

TEST_F(GridInterpolation, AddedRowsSitAtTheSamePlacesInEveryColumn) {
  Grid g = Sheet(4, 2);
  double *x = g.x.data(), *y = g.y.data(), *z = g.z.data();
  int nu = 4, nv = 2;
  TrackingScope scope;
  ASSERT_EQ(AddPointsInGridIfLessThanOrder(&x, &y, &z, &nu, &nv, 3, 3), 0);
  ASSERT_EQ(nv, 4);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(x[i], g.x[i]);
    EXPECT_EQ(x[3 * 4 + i], g.x[4 + i]);
    EXPECT_NEAR(y[4 + i], g.y[i] + (g.y[4 + i] - g.y[i]) / 3.0, 1e-12);
  }
}

TEST_F(GridInterpolation, AnyDegreeSurfacesInterpolateAndDropParametersAGrownGridNoLongerFits) {
  for (auto [pu, pv] : {std::pair{1, 1}, {2, 3}, {4, 2}, {5, 5}}) {
    Grid g = Sheet(8, 7);
    const Grid given = g;
    Bspline* s = NewSurfaceInterpolate(g.x.data(), g.y.data(), g.z.data(), 8, 7, nullptr, nullptr, pu, pv);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(NumCtrlU(s), 8);
    EXPECT_EQ(NumCtrlV(s), 7);
    for (int k = 0; k < 56; k += 5) {
      const double P[3] = {given.x[k], given.y[k], given.z[k]};
      EXPECT_LT(DistanceToSurface(s, P), 1e-7) << pu << pv << " " << k;
    }
    FreeBspline(s);
  }
  // Regression: v parameters for two rows used to reach the skinning after rows were added,
  // which read past them.
  Grid g = Sheet(5, 2);
  std::vector<double> vparams = {0, 0, 0, 0, 1.5, 1.5, 1.5, 1.5};
  Bspline* s = NewSurfaceInterpolate(g.x.data(), g.y.data(), g.z.data(), 5, 2, nullptr,
                                     vparams.data(), 3, 3);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(NumCtrlV(s), 4);
  for (int k = 0; k < 10; ++k) {
    const double P[3] = {g.x[k], g.y[k], g.z[k]};
    EXPECT_LT(DistanceToSurface(s, P), 1e-7);
  }
  FreeBspline(s);
}

TEST_F(GridInterpolation, GivenParametersAndKnotsMakeOneBezierPatch) {
  Bspline* ref = BuildFunctionPatch([](double x, double y) { return x * x - y * x * y; },
                                    PatchOptions{3, 3, 4, 4});
  std::vector<double> t = {0, 1.0 / 3, 2.0 / 3, 1}, k = {0, 0, 0, 0, 1, 1, 1, 1};
  std::vector<double> x(16), y(16), z(16);
  for (int j = 0; j < 4; ++j)
    for (int i = 0; i < 4; ++i) {
      double q[3];
      RefEvalSurface(ref, t[i], t[j], q);
      x[j * 4 + i] = q[0], y[j * 4 + i] = q[1], z[j * 4 + i] = q[2];
    }
  Bspline* s = SurfaceInterpolateShrink(x.data(), y.data(), z.data(), 4, 4, t.data(), t.data(),
                                        k.data(), k.data(), 3, 3);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->interiorU + s->interiorV, 0);
  for (int j = 0; j < 4; ++j)
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(s->Z[j][i], ref->Z[j][i], 1e-10);
  FreeBspline(s);
  FreeBspline(ref);
}

TEST_F(GridInterpolation, FloatFormsAndInjectedFailuresLeaveNothingBehind) {
  const Grid base = Sheet(5, 3);
  std::vector<float> fx(base.x.begin(), base.x.end()), fy(base.y.begin(), base.y.end()),
      fz(base.z.begin(), base.z.end());
  const std::vector<float> before = fx;
  for (int mode = 0; mode < 4; ++mode) {
    RunMakerWithInjectedFailures(600, 5, [&](Bspline** out) {
      Grid g = base;
      switch (mode) {
        case 0: *out = SurfaceInterpolate_f(fx.data(), fy.data(), fz.data(), 5, 3, nullptr, nullptr, 3, 3); break;
        case 1: *out = NewSurfaceInterpolate_f(fx.data(), fy.data(), fz.data(), 5, 3, nullptr, nullptr, 4, 3); break;
        case 2: *out = SurfaceInterpolate(g.x.data(), g.y.data(), g.z.data(), 5, 3, nullptr, nullptr, 3, 3); break;
        default: *out = NewSurfaceInterpolate(g.x.data(), g.y.data(), g.z.data(), 3, 2, nullptr, nullptr, 3, 3); break;
      }
      return *out ? 0 : -2;
    });
  }
  EXPECT_EQ(fx, before);
}

}  // namespace
