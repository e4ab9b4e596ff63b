// N-sided holes and caps: the centre of a regular polygon is its centroid and its plane the
// polygon's, mid curves leave their sides (in the owner's tangent plane) and arrive in the
// centre plane, the index conventions pair the right halves, the centre twists solve their cyclic
// system and the tangent-plane condition holds, the fills give patches meeting at the centre
// (moved between the two steps as asked), the caps pass through their boundary, and refusals and
// failed allocations leave nothing behind.
#include <algorithm>
#include <cmath>
#include <vector>

#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "construct/srfblend.h"
#include "curve/mkline3.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "quadric/cpoint.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class HoleTest : public KernelTest {};

double Dist(const double a[3], const double b[3]) {
  return std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]);
}
void Ctrl(const Bspline* c, int j, double p[3]) {
  p[0] = c->X[0][j], p[1] = c->Y[0][j], p[2] = c->Z[0][j];
}

// The vertices of a regular n-gon of radius r about (cx, cy, cz) in the plane z = cz.
std::vector<double> Polygon(int n, double r, double cx = 0, double cy = 0, double cz = 0) {
  std::vector<double> v;
  for (int k = 0; k < n; ++k) {
    const double a = 2 * M_PI * k / n + 0.3;
    v.insert(v.end(), {cx + r * std::cos(a), cy + r * std::sin(a), cz});
  }
  return v;
}

// Straight 3D sides between consecutive vertices (side i from vertex i to vertex i + 1).
struct LineLoop {
  BsplineKeeper keep;
  std::vector<Bspline*> sides;
  explicit LineLoop(const std::vector<double>& v) {
    const int n = static_cast<int>(v.size() / 3);
    for (int i = 0; i < n; ++i)
      sides.push_back(keep(MkLine3(&v[3 * i], &v[3 * ((i + 1) % n)], nullptr)));
  }
};

TEST_F(HoleTest, CentreOfARegularPolygonIsItsCentroidAtEveryScale) {
  for (int n : {3, 5})
    for (double s : {1e-3, 1.0, 1e6}) {
      const double cx = 3 * s, cy = -2 * s, cz = 7 * s;
      LineLoop loop(Polygon(n, s, cx, cy, cz));
      double centre[3], plane[4];
      GetHoleCenterNew(loop.sides.data(), n, centre, plane);
      ASSERT_FALSE(KernelFailed());
      const double want[3] = {cx, cy, cz};
      EXPECT_LT(Dist(centre, want), 1e-9 * s) << n << " " << s;
      EXPECT_NEAR(std::fabs(plane[2]), 1.0, 1e-9);
      EXPECT_NEAR(plane[0] * cx + plane[1] * cy + plane[2] * cz + plane[3], 0.0, 1e-9 * s);
      EXPECT_EQ(MallocTrackedCount(), 0);
      // Mid curves: from the middle of each side straight to the centre (3D sides), arriving
      // in the centre plane.
      Bspline** mids = MakeMidCurvesNew(loop.sides.data(), n, 0.5, centre, plane);
      ASSERT_NE(mids, nullptr);
      for (int i = 0; i < n; ++i) {
        double P[4][3], M[3];
        for (int j = 0; j < 4; ++j) Ctrl(mids[i], j, P[j]);
        EvalCrvOnSrfArray(nullptr, loop.sides[i], 0.5, 0, M);
        EXPECT_LT(Dist(P[0], M), 1e-12 * s);
        EXPECT_LT(Dist(P[3], centre), 1e-12 * s);
        EXPECT_NEAR(P[2][2], cz, 1e-9 * s);
        // Legs of a third of the distance; the first one straight toward the centre.
        EXPECT_NEAR(Dist(P[0], P[1]), Dist(P[0], centre) / 3, 1e-9 * s);
        for (int k = 0; k < 3; ++k)
          EXPECT_NEAR(P[1][k], P[0][k] + (centre[k] - P[0][k]) / 3, 1e-9 * s);
      }
      FreeBsplineArray(mids, n);
    }
}

TEST_F(HoleTest, MidCurvesLeaveSidesOnSurfacesInTheirTangentPlanes) {
  BsplineKeeper keep;
  Bspline* srf = keep(BuildFunctionPatch([](double x, double y) { return 0.3 * x * x - 0.2 * x * y + 0.1 * y; }));
  // A triangle drawn in the patch's parameter plane: sides on the surface.
  const double uv[3][2] = {{0.2, 0.2}, {0.8, 0.3}, {0.4, 0.8}};
  Bspline* sides[3];
  for (int i = 0; i < 3; ++i) {
    const double* a = uv[i];
    const double* b = uv[(i + 1) % 3];
    sides[i] = BuildCurveOnSurface(srf, 3, {a[0], a[1], (2 * a[0] + b[0]) / 3, (2 * a[1] + b[1]) / 3,
                                            (a[0] + 2 * b[0]) / 3, (a[1] + 2 * b[1]) / 3, b[0], b[1]});
  }
  double centre[3], plane[4];
  GetHoleCenterNew(sides, 3, centre, plane);
  ASSERT_FALSE(KernelFailed());
  Bspline** mids = MakeMidCurvesNew(sides, 3, 0.5, centre, plane);
  ASSERT_NE(mids, nullptr);
  for (int i = 0; i < 3; ++i) {
    double P0[3], P1[3], P2[3], Su[3], Sv[3], uvm[2];
    Ctrl(mids[i], 0, P0);
    Ctrl(mids[i], 1, P1);
    Ctrl(mids[i], 2, P2);
    Eval2DPointOnCurve2Array(nullptr, sides[i], 0.5, 0, uvm);
    RefEvalDeriv(srf, uvm[0], uvm[1], 1, 0, Su);
    RefEvalDeriv(srf, uvm[0], uvm[1], 0, 1, Sv);
    const double N[3] = {Su[1] * Sv[2] - Su[2] * Sv[1], Su[2] * Sv[0] - Su[0] * Sv[2],
                         Su[0] * Sv[1] - Su[1] * Sv[0]};
    double d[3], e[3];
    for (int k = 0; k < 3; ++k) d[k] = P1[k] - P0[k], e[k] = P2[k] - centre[k];
    const double nd = (N[0] * d[0] + N[1] * d[1] + N[2] * d[2]) / (std::hypot(N[0], N[1], N[2]) * std::hypot(d[0], d[1], d[2]));
    EXPECT_NEAR(nd, 0.0, 1e-9) << i;
    EXPECT_NEAR(plane[0] * e[0] + plane[1] * e[1] + plane[2] * e[2], 0.0, 1e-12) << i;
  }
  FreeBsplineArray(mids, 3);
}

TEST_F(HoleTest, ProjectionAndMidCurvesAtKnots) {
  const double p[3] = {1, 2, 3}, plane[4] = {0, 0, 2, -2};  // z = 1, normal not unit
  double q[3];
  GetClosestPntOnPlane(p, plane, q);
  EXPECT_DOUBLE_EQ(q[0], 1);
  EXPECT_DOUBLE_EQ(q[1], 2);
  EXPECT_DOUBLE_EQ(q[2], 1);
  // Sides without interior knots: one mid curve per side end but the last (n - 1); repeated
  // knots give one.
  LineLoop loop(Polygon(3, 1.0));
  double centre[3] = {0, 0, 0}, pl[4] = {0, 0, 1, 0};
  Bspline* out[8] = {};
  EXPECT_EQ(GetAllMidCurves(loop.sides.data(), 3, centre, pl, out), 2);
  for (Bspline*& c : out) FreeBspline(c), c = nullptr;
  BsplineKeeper keep;
  Bspline* knotted = keep(BuildCurve(3, 3, {1, 0, 0, 1, 0.2, 0, 1, 0.4, 0, 1, 0.5, 0, 1, 0.6, 0, 1, 0.8, 0, 1, 1, 0},
                                     {0, 0, 0, 0, 0.5, 0.5, 0.5 + 1e-9, 1, 1, 1, 1}));
  Bspline* one[1] = {knotted};
  const int k = GetAllMidCurves(one, 1, centre, pl, out);
  EXPECT_EQ(k, 1);  // 0.5 (twice), and the end closes the loop
  double P0[3], want[3];
  Ctrl(out[0], 0, P0);
  EvalCrvOnSrfArray(nullptr, knotted, 0.5, 0, want);
  EXPECT_LT(Dist(P0, want), 1e-12);
  for (int i = 0; i < k; ++i) FreeBspline(out[i]);
}

// Curves of given degrees standing for half-sides: which halves the steps pair.
std::vector<Bspline*> Halves(BsplineKeeper& keep, int count, const std::vector<int>& degrees) {
  std::vector<Bspline*> h;
  for (int j = 0; j < count; ++j) {
    const int p = degrees[j];
    std::vector<double> pts;
    for (int i = 0; i <= p; ++i) pts.insert(pts.end(), {double(i), double(j), 0.1 * i * i});
    h.push_back(keep(BuildCurve(p, 3, pts)));
  }
  return h;
}

TEST_F(HoleTest, FacingHalvesAndCornersPairAsTheLoopDemands) {
  for (int n : {3, 5}) {
    BsplineKeeper keep;
    std::vector<int> deg;
    for (int j = 0; j < 2 * n; ++j) deg.push_back(1 + (j * 7) % 5);
    std::vector<Bspline*> pos = Halves(keep, 2 * n, deg);
    std::vector<Bspline*> tan(2 * n, nullptr);
    MakeSideCrvsDegreeCompatible(pos.data(), tan.data(), n);
    ASSERT_FALSE(KernelFailed());
    for (int i = 0; i < n; ++i) {
      const int a = 2 * i + 1, b = (2 * i + 4) % (2 * n);
      EXPECT_EQ(pos[a]->degreeU, std::max(deg[a], deg[b])) << n << " " << i;
      EXPECT_EQ(pos[b]->degreeU, pos[a]->degreeU);
    }
    // Corners: control point 1 of the tangent curves at K_i = (2i + 1, 2i + 2) averaged, the
    // others untouched.
    std::vector<Bspline*> t = Halves(keep, 2 * n, std::vector<int>(2 * n, 3));
    TwistCompatibleAtCornerJoints(t.data(), n);
    for (int i = 0; i < n; ++i) {
      const int a = 2 * i + 1, b = (2 * i + 2) % (2 * n);
      EXPECT_DOUBLE_EQ(t[a]->Y[0][1], 0.5 * (a + b)) << n << " " << i;
      EXPECT_DOUBLE_EQ(t[b]->Y[0][1], t[a]->Y[0][1]);
      EXPECT_DOUBLE_EQ(t[a]->Y[0][0], a);
    }
  }
}

// Mid curves, half-sides and tangent curves of random shape for the centre-twist steps.
struct MidNet {
  BsplineKeeper keep;
  std::vector<Bspline*> mid, side, tan;
  explicit MidNet(int n) {
    for (int i = 0; i < n; ++i) mid.push_back(keep(BuildRandomCurve(40 + i, 3, 4, 3, false)));
    for (int j = 0; j < 2 * n; ++j) {
      side.push_back(keep(BuildRandomCurve(60 + j, 3, 6, 3, false)));
      tan.push_back(keep(BuildRandomCurve(80 + j, 3, 4, 3, false)));
    }
  }
};

TEST_F(HoleTest, CentreTwistsSolveTheirCyclicSystemAndTheTangentPlaneConditionHolds) {
  for (int n : {3, 5}) {
    MidNet net(n);
    std::vector<double> a(n, 0.0), b(n), c(n), d(n, 1.0);
    for (int i = 0; i < n; ++i) b[i] = 0.3 * i - 0.2, c[i] = 0.5 + 0.4 * i;
    c[1] = 0.0;  // a handle on M_1: the other curve does not enter
    GetCenterTwistPoints(net.mid.data(), n, a.data(), b.data(), c.data(), d.data(), net.tan.data());
    ASSERT_FALSE(KernelFailed());
    // The shared twist of each patch, and row r: x_r + c x_(r-1) = rhs of its mid curve.
    auto x = [&](int r, int k) {
      const Bspline* t = net.tan[r == 0 ? 0 : 2 * (n - r)];
      return k == 0 ? t->X[0][2] : (k == 1 ? t->Y[0][2] : t->Z[0][2]);
    };
    for (int r = 0; r < n; ++r) {
      const int m = r == 0 ? 0 : n - r;
      const Bspline* t1 = net.tan[r == 0 ? 2 * n - 1 : 2 * m - 1];
      EXPECT_EQ(t1->X[0][2], x(r, 0));
      const int prev = r == 0 ? n - 1 : r - 1;
      const double cr = r == 0 ? c[0] : c[n - r];
      double P[3][3];
      for (int j = 0; j < 3; ++j) Ctrl(net.mid[m], 3 - j, P[j]);
      for (int k = 0; k < 3; ++k) {
        const double rhs = ((d[m] + c[m] + a[m]) * P[1][k] - a[m] * P[0][k]) / 3 +
                           (b[m] * P[2][k] + (d[m] - b[m] + c[m]) * P[1][k]) * 2 / 3;
        EXPECT_NEAR(x(r, k) + cr * x(prev, k), rhs, 1e-12) << n << " " << r;
      }
    }
    ForceTangnetPlaneCondition(net.mid.data(), n, a.data(), b.data(), c.data(), d.data(),
                               net.tan.data());
    for (int i = 0; i < n; ++i) {
      double P[3][3], Te[3], To[3];
      for (int j = 0; j < 3; ++j) Ctrl(net.mid[i], j, P[j]);
      Ctrl(net.tan[2 * i], 1, Te);
      Ctrl(net.tan[2 * i + 1], 1, To);
      for (int k = 0; k < 3; ++k) {
        const double Q = ((d[i] - b[i] + c[i]) * P[1][k] + b[i] * P[0][k]) / 3 +
                         ((d[i] + c[i] + a[i]) * P[1][k] - a[i] * P[2][k]) * 2 / 3;
        EXPECT_TRUE(std::isfinite(Te[k]) && std::isfinite(To[k]));
        EXPECT_NEAR(Te[k] + c[i] * To[k], Q, 1e-12) << n << " " << i;
      }
    }
  }
}

TEST_F(HoleTest, DesignRatiosOfTangentAndDegenerateHandles) {
  // Three straight mid curves into the origin and halves ending at M_i with handles of lengths
  // 0.2 (first half) and 0.5 (second half) along a common line: c = 0.2 / 0.5. Side 2's halves
  // end in their own end point: no ratio can be read, and 1 stands in.
  BsplineKeeper keep;
  std::vector<Bspline*> mid, half;
  for (int i = 0; i < 3; ++i) {
    const double a = 2 * M_PI * i / 3;
    const double M[3] = {std::cos(a), std::sin(a), 0}, T[3] = {-std::sin(a), std::cos(a), 0};
    const double O[3] = {0, 0, 0};
    mid.push_back(keep(MkLine3(M, O, nullptr)));
    const double h0 = i == 2 ? 0.0 : 0.2, h1 = i == 2 ? 0.0 : 0.5;
    const double E0[3] = {M[0] - h0 * T[0], M[1] - h0 * T[1], 0};
    const double E1[3] = {M[0] + h1 * T[0], M[1] + h1 * T[1], 0};
    const double S0[3] = {M[0] - T[0], M[1] - T[1], 0}, S1[3] = {M[0] + T[0], M[1] + T[1], 0};
    auto halfTo = [&](const double S[3], const double E[3]) {
      return keep(BuildCurve(3, 3, {S[0], S[1], 0, 0.5 * (S[0] + E[0]), 0.5 * (S[1] + E[1]), 0,
                                    E[0], E[1], 0, M[0], M[1], 0}));
    };
    Bspline* first = halfTo(S0, E0);
    Bspline* second = halfTo(S1, E1);
    half.push_back(first);
    half.push_back(second);
  }
  std::vector<double> a(3), b(3), c(3), d(3);
  double* handles = nullptr;
  GetDesignParams(mid.data(), half.data(), 3, a.data(), b.data(), c.data(), d.data(), &handles);
  ASSERT_NE(handles, nullptr);
  EXPECT_NEAR(c[0], 0.4, 1e-12);
  EXPECT_NEAR(c[1], 0.4, 1e-12);
  EXPECT_EQ(c[2], 1.0);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(a[i], 0.0);
    EXPECT_EQ(d[i], 1.0);
    EXPECT_TRUE(std::isfinite(b[i]));
  }
  Free(handles);
}

}  // namespace

namespace {

class HoleFillTest : public KernelTest {};

void SurfPoint(const Bspline* s, double u, double v, double p[3]) { RefEvalSurface(s, u, v, p); }

// Patch i of a fill: its (u min, v max) corner is the centre, its (u max, v min) corner the
// end corner K_i of side i.
void ExpectPatchesMeet(Bspline** patches, int n, const double centre[3], const std::vector<double>& corners,
                       double tol) {
  for (int i = 0; i < n; ++i) {
    const Bspline* s = patches[i];
    ASSERT_NE(s, nullptr);
    double c[3], k[3];
    SurfPoint(s, s->umin, s->vmax, c);
    SurfPoint(s, s->umax, s->vmin, k);
    EXPECT_LT(Dist(c, centre), tol) << i;
    EXPECT_LT(Dist(k, &corners[3 * ((i + 1) % n)]), tol) << i;
  }
}

void FreePatches(Bspline** p, int n) {
  if (p) FreeBsplineArray(p, n);
}

TEST_F(HoleFillTest, ThreeSidedHoleOfLines) {
  const std::vector<double> v = Polygon(3, 1.0);
  for (int centreValue : {0, 1}) {
    LineLoop loop(v);
    int sc[3] = {1, 1, 1};  // 3D sides asking 1 are filled position-only
    int cc[3] = {centreValue, centreValue, centreValue};
    Bspline** p = FillNSidedHole(loop.sides.data(), 3, sc, cc, 0.0, 0.0, -1);
    ASSERT_NE(p, nullptr) << zk_error_status;
    const double centre[3] = {0, 0, 0};
    ExpectPatchesMeet(p, 3, centre, v, 1e-9);
    // Flat loop, flat fill.
    for (int i = 0; i < 3; ++i)
      for (int r = 0; r < NumCtrlV(p[i]); ++r)
        for (int j = 0; j < NumCtrlU(p[i]); ++j) EXPECT_NEAR(p[i]->Z[r][j], 0.0, 1e-9);
    FreePatches(p, 3);
    EXPECT_EQ(MallocTrackedCount(), 0);
  }
  // An implied tangent on a 3D side: its strip lives as long as the curves cut from it.
  LineLoop loop(v);
  int sc[3] = {4, 0, 0}, cc[3] = {0, 0, 0};
  Bspline** p = FillNSidedHole(loop.sides.data(), 3, sc, cc, 0.0, 0.0, -1);
  ASSERT_NE(p, nullptr) << zk_error_status;
  double centre[3];
  RefEvalSurface(p[0], p[0]->umin, p[0]->vmax, centre);
  ExpectPatchesMeet(p, 3, centre, v, 1e-9);
  FreePatches(p, 3);
  EXPECT_EQ(MallocTrackedCount(), 0);
}

TEST_F(HoleFillTest, FiveSidedHoleOnASurfaceMeetsItTangentially) {
  BsplineKeeper keep;
  Bspline* srf = keep(BuildFunctionPatch([](double x, double y) { return 0.2 * x * x + 0.1 * y * y - 0.1 * x * y; }));
  // A pentagon cut into the patch's parameter plane (clockwise), its sides on the patch.
  std::vector<double> uv;
  for (int k = 0; k < 5; ++k) {
    const double a = -2 * M_PI * k / 5;
    uv.insert(uv.end(), {0.5 + 0.3 * std::cos(a), 0.5 + 0.3 * std::sin(a)});
  }
  Bspline* sides[5];
  std::vector<double> corners;
  for (int i = 0; i < 5; ++i) {
    const double* a = &uv[2 * i];
    const double* b = &uv[2 * ((i + 1) % 5)];
    sides[i] = BuildCurveOnSurface(srf, 3, {a[0], a[1], (2 * a[0] + b[0]) / 3, (2 * a[1] + b[1]) / 3,
                                            (a[0] + 2 * b[0]) / 3, (a[1] + 2 * b[1]) / 3, b[0], b[1]});
    double P[3];
    RefEvalSurface(srf, a[0], a[1], P);
    corners.insert(corners.end(), {P[0], P[1], P[2]});
  }
  int sc[5] = {1, 3, 1, 4, 1}, cc[5] = {1, 1, 1, 1, 1};
  Bspline** p = FillNSidedHole(sides, 5, sc, cc, 0.0, 0.0, -1);
  ASSERT_NE(p, nullptr) << zk_error_status;
  double centre[3];
  RefEvalSurface(p[0], p[0]->umin, p[0]->vmax, centre);
  ExpectPatchesMeet(p, 5, centre, corners, 1e-6);
  // Along the second half of side i (the v-minimum edge of patch i) the patch leaves in the
  // surface's tangent plane.
  for (int i = 0; i < 5; ++i) {
    const Bspline* s = p[i];
    for (double f : {0.25, 0.5, 0.75}) {
      const double u = s->umin + (s->umax - s->umin) * f;
      double P[3], Su[3], Sv[3];
      RefEvalSurface(s, u, s->vmin, P);
      RefEvalDeriv(s, u, s->vmin, 1, 0, Su);
      RefEvalDeriv(s, u, s->vmin, 0, 1, Sv);
      const double N[3] = {Su[1] * Sv[2] - Su[2] * Sv[1], Su[2] * Sv[0] - Su[0] * Sv[2],
                           Su[0] * Sv[1] - Su[1] * Sv[0]};
      // The surface's normal at the same point: z = f(x, y) with x, y from the point.
      const double x = P[0], y = P[1];
      const double G[3] = {-(0.4 * x - 0.1 * y), -(0.2 * y - 0.1 * x), 1.0};
      const double c = std::fabs(N[0] * G[0] + N[1] * G[1] + N[2] * G[2]) /
                       (std::hypot(N[0], N[1], N[2]) * std::hypot(G[0], G[1], G[2]));
      EXPECT_GT(c, std::cos(2.0 * M_PI / 180)) << i << " " << f;
    }
  }
  FreePatches(p, 5);
  EXPECT_EQ(MallocTrackedCount(), 0);
}

TEST_F(HoleFillTest, RefusalsAndClampedTolerances) {
  LineLoop tri(Polygon(3, 1.0));
  LineLoop quad(Polygon(4, 1.0));
  int ok[4] = {0, 0, 0, 0};
  EXPECT_EQ(FillNSidedHole(quad.sides.data(), 4, ok, ok, 0.0, 0.0, -1), nullptr);
  int two[3] = {0, 2, 0};
  EXPECT_EQ(FillNSidedHole(tri.sides.data(), 3, two, ok, 0.0, 0.0, -1), nullptr);
  int unequal[3] = {1, 1, 0};
  EXPECT_EQ(FillNSidedHole(tri.sides.data(), 3, ok, unequal, 0.0, 0.0, -1), nullptr);
  EXPECT_FALSE(KernelFailed());
  Bspline** a = FillNSidedHole(tri.sides.data(), 3, ok, ok, -1.0, 120.0, -1);
  Bspline** b = FillNSidedHole(tri.sides.data(), 3, ok, ok, 0.0, 0.0, -1);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(NumCtrlU(a[i]), NumCtrlU(b[i]));
    ASSERT_EQ(NumCtrlV(a[i]), NumCtrlV(b[i]));
    for (int r = 0; r < NumCtrlV(a[i]); ++r)
      for (int j = 0; j < NumCtrlU(a[i]); ++j) EXPECT_EQ(a[i]->X[r][j], b[i]->X[r][j]);
  }
  FreePatches(a, 3);
  FreePatches(b, 3);
}

TEST_F(HoleFillTest, TwoStepFillMeetsAtTheMovedCentre) {
  const std::vector<double> v = Polygon(3, 1.0);
  LineLoop loop(v);
  int sc[3] = {0, 0, 0}, cc[3] = {1, 1, 1};
  Bspline **pos = nullptr, **cs = nullptr, **vc = nullptr, **vs = nullptr;
  int* flags = nullptr;
  double plane[4];
  double* centre = FillNSidedHoleInit(loop.sides.data(), 3, sc, cc, 0.0, 0.0, -1, &pos, &cs, &vc,
                                      &vs, plane, &flags);
  ASSERT_NE(centre, nullptr);
  EXPECT_LT(std::hypot(centre[0], centre[1], centre[2]), 1e-9);
  centre[2] += 0.3;  // a dome
  plane[3] = -plane[2] * centre[2];
  Bspline** p = FillNSidedHoleWCenter(pos, cs, 3, centre, plane, flags, flags + 3, cc, 0.0, 0.0, 1);
  ASSERT_NE(p, nullptr);
  ExpectPatchesMeet(p, 3, centre, v, 1e-9);
  FreePatches(p, 3);
  // An injected failure consumes the inputs, success leaves them to the caller: either way each
  // is freed once.
  int failures = 0;
  for (long skip = 0; skip < 4000; skip += 37) {
    ClearKernelError();
    Bspline** pc = CallocArray<Bspline*>(3);
    Bspline** cc2 = CallocArray<Bspline*>(3);
    for (int i = 0; i < 3; ++i) pc[i] = CopyBsplineStruct(pos[i]), cc2[i] = CopyBsplineStruct(cs[i]);
    MallocFailAfter(skip, -1);
    Bspline** q = FillNSidedHoleWCenter(pc, cc2, 3, centre, plane, flags, flags + 3, cc, 0.0, 0.0, 1);
    MallocFailClear();
    EXPECT_EQ(MallocTrackedCount(), 0);
    if (q) {
      FreePatches(q, 3);
      FreeBsplineArray(pc, 3);
      FreeBsplineArray(cc2, 3);
    } else {
      ++failures;
    }
  }
  ClearKernelError();
  EXPECT_GT(failures, 0);
  FreeBsplineArray(pos, 3);
  FreeBsplineArray(cs, 3);
  for (int i = 0; i < 3; ++i) {
    if (vc[i]) FreeBspline(vc[i]);
    if (vs[i]) FreeBspline(vs[i]);
  }
  Free(vc);
  Free(vs);
  Free(flags);
  Free(centre);
}

// Cubic arcs of the unit circle (radius r) cut at the given angles.
struct CircleLoop {
  BsplineKeeper keep;
  std::vector<Bspline*> sides;
  CircleLoop(const std::vector<double>& cuts, double r) {
    const int n = static_cast<int>(cuts.size());
    for (int i = 0; i < n; ++i) {
      const double a = cuts[i], b = i + 1 < n ? cuts[i + 1] : cuts[0] + 2 * M_PI;
      const double k = 4.0 / 3.0 * std::tan((b - a) / 4) * r;
      sides.push_back(keep(BuildCurve(3, 3, {r * std::cos(a), r * std::sin(a), 0,
                                             r * std::cos(a) - k * std::sin(a), r * std::sin(a) + k * std::cos(a), 0,
                                             r * std::cos(b) + k * std::sin(b), r * std::sin(b) - k * std::cos(b), 0,
                                             r * std::cos(b), r * std::sin(b), 0})));
    }
  }
};

TEST_F(HoleFillTest, CapsOverCirclesPassThroughTheirBoundary) {
  for (int n : {4, 7}) {
    std::vector<double> cuts;
    for (int i = 0; i < n; ++i) cuts.push_back(2 * M_PI * i / n + 0.1 * (i % 2));
    CircleLoop loop(cuts, 2.0);
    std::vector<int> sc(n, 0), cc(n, 1);
    Bspline** cap = FillNBoundaryCap(loop.sides.data(), n, sc.data(), cc.data(), 0.001, 0.0);
    ASSERT_NE(cap, nullptr) << n << " " << zk_error_status;
    const Bspline* s = cap[0];
    // Every side's start (where a radial curve or a mid loft starts) lies on the cap's edge.
    for (int i = 0; i < n; ++i) {
      double want[3], at[3], best = 1e300;
      Ctrl(loop.sides[i], 0, want);
      for (int j = 0; j <= 2000; ++j) {
        SurfPoint(s, s->umin, s->vmin + (s->vmax - s->vmin) * j / 2000.0, at);
        best = std::min(best, Dist(at, want));
      }
      EXPECT_LT(best, 0.01) << n << " " << i;
    }
    FreeBspline(cap[0]);
    Free(cap);
    EXPECT_EQ(MallocTrackedCount(), 0);
  }
}

TEST_F(HoleFillTest, CapBoundaryDivisionAndOpenLoops) {
  // Three equal sides: divisions at their starts, arcs equal to the sides.
  LineLoop tri(Polygon(3, 1.0));
  int div[3];
  double par[3];
  ASSERT_EQ(GetBndryDivisionPoints(tri.sides.data(), 3, div, par), 0);
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(div[k], k);
    EXPECT_EQ(par[k], 0.0);
  }
  Bspline** arcs = GetBndryDivisionCurves(tri.sides.data(), 3, div, par);
  ASSERT_NE(arcs, nullptr);
  for (int k = 0; k < 3; ++k) {
    ASSERT_EQ(NumCtrlU(arcs[k]), NumCtrlU(tri.sides[k]));
    for (int j = 0; j < NumCtrlU(arcs[k]); ++j) EXPECT_EQ(arcs[k]->X[0][j], tri.sides[k]->X[0][j]);
  }
  FreeBsplineArray(arcs, 3);
  // A division within 1 % of a side's end moves to the next side's start; one within 1 % of a
  // start is put there; otherwise it splits the side in proportion to length.
  BsplineKeeper keep;
  auto line = [&](double x0, double y0, double x1, double y1) {
    const double a[3] = {x0, y0, 0}, b[3] = {x1, y1, 0};
    return keep(MkLine3(a, b, nullptr));
  };
  {
    Bspline* s[3] = {line(0, 0, 1.01, 0), line(1.01, 0, 0.5, 0.85), line(0.5, 0.85, 0, 0)};
    ASSERT_EQ(GetBndryDivisionPoints(s, 3, div, par), 0);
  }
  Bspline* s[4] = {line(0, 0, 2, 0), line(2, 0, 2, 1), line(2, 1, 0, 1), line(0, 1, 0, 0)};
  ASSERT_EQ(GetBndryDivisionPoints(s, 4, div, par), 0);
  EXPECT_EQ(div[1], 1);  // L = 6: 2 is the end of side 0
  EXPECT_EQ(par[1], 0.0);
  EXPECT_EQ(div[2], 2);
  EXPECT_NEAR(par[2], 0.5, 1e-9);
  // An open loop: -12.
  Bspline* open[3] = {line(0, 0, 1, 0), line(1, 0, 0.5, 1), line(0.5, 1, 0, 0.2)};
  EXPECT_EQ(GetBndryDivisionPoints(open, 3, div, par), -2);
  EXPECT_EQ(zk_error_status, -12);
  ClearKernelError();
  std::vector<int> zero(3, 0);
  int two[3] = {0, 2, 0};
  EXPECT_EQ(FillNBoundaryCap(tri.sides.data(), 3, two, zero.data(), 0.0, 0.0), nullptr);
  EXPECT_FALSE(KernelFailed());
  EXPECT_EQ(MallocTrackedCount(), 0);
}

TEST_F(HoleFillTest, FailedAllocationsLeaveNothing) {
  LineLoop tri(Polygon(3, 1.0));
  CircleLoop circle({0.0, 2.0, 4.0}, 1.0);
  int sc[3] = {0, 0, 0}, cc[3] = {1, 1, 1};
  int failures = 0;
  for (long skip = 0; skip < 6000; skip += 53) {
    ClearKernelError();
    MallocFailAfter(skip, -1);
    Bspline** p = FillNSidedHole(tri.sides.data(), 3, sc, cc, 0.0, 0.0, -1);
    Bspline** c = FillNBoundaryCap(circle.sides.data(), 3, sc, cc, 0.0, 0.0);
    MallocFailClear();
    EXPECT_EQ(MallocTrackLevel(), 0);
    EXPECT_EQ(MallocTrackedCount(), 0);
    failures += !p + !c;
    FreePatches(p, 3);
    if (c) FreeBsplineArray(c, 1);
  }
  ClearKernelError();
  EXPECT_GT(failures, 0);
}

}  // namespace

namespace {

class CapPartsTest : public KernelTest {};

TEST_F(CapPartsTest, TurnsOfNinetyDegreesSplitTheBoundary) {
  // A polyline turning by 90 degrees at 0.25, by 45 at 0.5 and by 90 again (from the last
  // accepted direction) at 0.75.
  BsplineKeeper keep;
  Bspline* c = keep(BuildCurve(1, 3, {0, 0, 0, 1, 0, 0, 1, 1, 0, 2, 2, 0, 3, 2, 0},
                               {0, 0, 0.25, 0.5, 0.75, 1, 1}));
  double* knots = nullptr;
  int count = 0;
  GetKnotsOutOfTanTol(c, 0, 0.0, 90.0, &knots, &count);
  ASSERT_EQ(count, 1);  // 0.75 is the last interior knot: not examined
  EXPECT_EQ(knots[0], 0.25);
  Free(knots);
  GetKnotsOutOfTanTol(c, 0, 0.0, 45.0, &knots, &count);
  ASSERT_EQ(count, 2);
  EXPECT_EQ(knots[1], 0.5);
  Free(knots);
  // The loop split there: the per-side values follow their pieces.
  Bspline* pos[1] = {c};
  int a[1] = {7}, b[1] = {8}, cv[1] = {9};
  Bspline **np = nullptr, **nc = nullptr;
  int newN = 0, *na = nullptr, *nb = nullptr, *ncv = nullptr;
  GetNewBndryArrays(pos, pos, 1, a, b, cv, &np, &nc, &newN, &na, &nb, &ncv);
  ASSERT_EQ(newN, 2);
  EXPECT_EQ(np[0]->umax, 0.25);
  EXPECT_EQ(na[1], 7);
  EXPECT_EQ(ncv[0], 9);
  FreeBsplineArray(np, 2);
  FreeBsplineArray(nc, 2);
  Free(na), Free(nb), Free(ncv);
  EXPECT_EQ(MallocTrackedCount(), 0);
}

TEST_F(CapPartsTest, CapOnASurfaceAndTheOlderForms) {
  BsplineKeeper keep;
  Bspline* srf = keep(BuildFunctionPatch([](double x, double y) { return 0.1 * x * y; }));
  // A clockwise circle of four arcs drawn in the patch's parameter plane.
  Bspline* sides[4];
  for (int i = 0; i < 4; ++i) {
    const double a = -M_PI / 2 * i, b = -M_PI / 2 * (i + 1), k = 4.0 / 3.0 * std::tan((b - a) / 4) * 0.3;
    auto at = [](double t, double r) { return std::vector<double>{0.5 + r * std::cos(t), 0.5 + r * std::sin(t)}; };
    const std::vector<double> p = at(a, 0.3), q = at(b, 0.3);
    sides[i] = BuildCurveOnSurface(srf, 3, {p[0], p[1], p[0] - k * std::sin(a), p[1] + k * std::cos(a),
                                            q[0] + k * std::sin(b), q[1] - k * std::cos(b), q[0], q[1]});
  }
  int sc[4] = {1, 1, 1, 1}, cc[4] = {1, 1, 1, 1};
  Bspline** cap = FillNBoundaryCap(sides, 4, sc, cc, 0.001, 5.0);
  ASSERT_NE(cap, nullptr) << zk_error_status;
  FreeBsplineArray(cap, 1);
  // The four-sided blend with proportional parameters: its corners are the square's.
  const std::vector<double> sq = {0, 0, 0, 0, 2, 0, 1, 2, 0, 1, 0, 0};
  LineLoop square(sq);
  int orders[4] = {0, 0, 0, 0};
  double scales[4] = {1, 1, 1, 1};
  Bspline* blend = CreateBlendSurface1Proptnl(square.sides.data(), 4, orders, scales, 0.0, 0.0, 1, 0, 0, 0);
  ASSERT_NE(blend, nullptr);
  for (int k = 0; k < 4; ++k) {
    double P[3], best = 1e300;
    for (double u : {blend->umin, blend->umax})
      for (double v : {blend->vmin, blend->vmax}) {
        RefEvalSurface(blend, u, v, P);
        best = std::min(best, Dist(P, &sq[3 * k]));
      }
    EXPECT_LT(best, 1e-9);
  }
  FreeBspline(blend);
  // The older cap: three three-sided fills, nine patches.
  std::vector<LineLoop*> tris;
  Bspline* outer[6];
  Bspline* inner[3];
  for (int k = 0; k < 3; ++k) {
    tris.push_back(new LineLoop(Polygon(3, 1.0, 3.0 * k)));
    outer[2 * k + 1] = tris[k]->sides[0];
    inner[k] = tris[k]->sides[1];
    outer[(2 * k + 2) % 6] = tris[k]->sides[2];
  }
  Bspline** nine = FillCapHole(outer, inner, 0, 0, 0.0, 0.0);
  ASSERT_NE(nine, nullptr);
  for (int j = 0; j < 9; ++j) EXPECT_NE(nine[j], nullptr);
  FreeBsplineArray(nine, 9);
  for (LineLoop* t : tris) delete t;
  EXPECT_EQ(MallocTrackedCount(), 0);
}

}  // namespace

namespace {

// The three quarter circles bounding an octant of the sphere of radius size about offset x size:
// the fill's patches, with their control points taken back to unit size at the origin.
std::vector<double> OctantFill(double size, const double offset[3], int* status) {
  ClearKernelError();  // each case starts clean
  BsplineKeeper keep;
  const double s = std::sqrt(0.5);
  const double unit[6][3] = {{1, 0, 0}, {s, s, 0}, {0, 1, 0}, {0, s, s}, {0, 0, 1}, {s, 0, s}};
  double p[6][3];
  for (int i = 0; i < 6; ++i)
    for (int k = 0; k < 3; ++k) p[i][k] = size * (offset[k] + unit[i][k]);
  Bspline* sides[3];
  for (int i = 0; i < 3; ++i) sides[i] = keep(CreateCircleW3Points(p[2 * i], p[2 * i + 1], p[(2 * i + 2) % 6], 1));
  int sc[3] = {0, 0, 0}, cc[3] = {0, 0, 0};
  Bspline** patches = FillNSidedHole(sides, 3, sc, cc, 0.0, 0.0, -1);
  *status = zk_error_status;
  std::vector<double> out;
  if (!patches) return out;
  for (int i = 0; i < 3; ++i) {
    const Bspline* b = patches[i];
    for (int r = 0; r < NumCtrlV(b); ++r)
      for (int j = 0; j < NumCtrlU(b); ++j)
        out.insert(out.end(),
                   {b->X[r][j] / size - offset[0], b->Y[r][j] / size - offset[1], b->Z[r][j] / size - offset[2]});
  }
  FreePatches(patches, 3);
  return out;
}

TEST_F(HoleFillTest, SphereOctantIsFilledAlikeAtEverySizeAndPlace) {
  const double origin[3] = {0, 0, 0}, far[3] = {1e4, -6e3, 3.5e3};
  int status = 0;
  const std::vector<double> ref = OctantFill(1.0, origin, &status);
  ASSERT_FALSE(ref.empty()) << status;
  for (double size : {1e-6, 1e-3, 1e3, 1e6})
    for (const double* offset : {origin, far}) {
      SCOPED_TRACE(::testing::Message() << "size " << size << " far " << (offset == far));
      const std::vector<double> got = OctantFill(size, offset, &status);
      ASSERT_EQ(got.size(), ref.size()) << status;
      double worst = 0.0;
      for (size_t k = 0; k < ref.size(); ++k) worst = std::max(worst, std::fabs(got[k] - ref[k]));
      // Coordinates 1e4 sizes away carry round-off of 1e-12 of the size.
      EXPECT_LT(worst, offset == far ? 1e-8 : 1e-12);
    }
}

}  // namespace
