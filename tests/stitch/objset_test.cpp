// Elementary operations on object sets: reversal as an involution, boundary end points and
// directions, a set made to run one way, control-polygon spans.
#include <cmath>
#include <random>
#include <vector>

#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "bspline/nubutil.h"
#include "foundation/vec3.h"
#include "stitch/vcnobj.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"
#include "tests/surface/recordviews.h"

namespace {

class ObjSetTest : public KernelTest {};

// Reversing twice in one direction gives back knots, net and the curves on the surface bit for
// bit; reversing once keeps the shape, read backwards.
TEST_F(ObjSetTest, ReversingTwiceRestoresEverything) {
  for (int dir : {0, 1}) {
    for (bool rational : {false, true}) {
      Bspline* s = BuildFunctionPatch([](double x, double y) { return std::cos(3 * x) * y; },
                                      {.nu = 7, .umin = 1.0, .umax = 3.5, .vmin = -2.0, .vmax = 0.25,
                                       .layout = KnotLayout::Random, .rational = rational, .seed = 7u + dir});
      Bspline* c = BuildCurveOnSurface(s, 2, {1.5, -1.5, 2.0, -1.0, 3.0, 0.0, 3.25, 0.125});
      Bspline* before = CopyBsplineStruct(s);
      const std::vector<double> snap = Snapshot(s), curve = Snapshot(c);
      std::vector<double> marked;  // the places the curve marks on the surface
      for (int i = 0; i <= 10; ++i) {
        double uv[3], p[3];
        RefEvalCurve(c, 0.1 * i, uv);
        RefEvalSurface(s, uv[0], uv[1], p);
        marked.insert(marked.end(), p, p + 3);
      }
      ReverseObj(s, dir);
      EXPECT_TRUE(s->umin == 1.0 && s->umax == 3.5 && s->vmin == -2.0 && s->vmax == 0.25);
      for (int i = 0; i <= 10; ++i) {
        const double t = 1.0 + 2.5 * i / 10.0, w = -2.0 + 2.25 * i / 10.0;
        double p[3], q[3], uv[3];
        RefEvalSurface(s, t, w, p);
        RefEvalSurface(before, dir ? t : 4.5 - t, dir ? -1.75 - w : w, q);
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(p[k], q[k], 1e-10 * RefScale(s));
        RefEvalCurve(c, 0.1 * i, uv);  // the curve follows the surface
        RefEvalSurface(s, uv[0], uv[1], p);
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(p[k], marked[3 * i + k], 1e-10 * RefScale(s));
      }
      ReverseObj(s, dir);
      EXPECT_EQ(Snapshot(s), snap);
      EXPECT_EQ(Snapshot(c), curve);
      FreeBspline(before);
      FreeBspline(s);
    }
  }
}

// A boundary's end points are the surface's corners in the documented order; a boundary whose
// ends meet (a direction closed on itself) still has a direction, from its start to the point
// 5% along it.
TEST_F(ObjSetTest, BoundaryEndsAndDirections) {
  Bspline* s = BuildFunctionPatch([](double x, double y) { return x - y * y; },
                                  {.umin = 0.0, .umax = 2.0, .vmin = 1.0, .vmax = 5.0});
  const double corners[4][2][2] = {{{0, 1}, {0, 5}}, {{0, 5}, {2, 5}}, {{2, 1}, {2, 5}}, {{0, 1}, {2, 1}}};
  for (int b = 0; b < 4; ++b) {
    double a[3], e[3], ra[3], re[3], v[3];
    GetObjBndryPnts(s, b, a, e, 0);
    RefEvalSurface(s, corners[b][0][0], corners[b][0][1], ra);
    RefEvalSurface(s, corners[b][1][0], corners[b][1][1], re);
    GetObjBndryVector(s, b, v);
    for (int k = 0; k < 3; ++k) {
      EXPECT_NEAR(a[k], ra[k], 1e-12);
      EXPECT_NEAR(e[k], re[k], 1e-12);
      EXPECT_NEAR(v[k], re[k] - ra[k], 1e-12);
    }
  }
  // Close the patch in v: the last row of control points onto the first.
  const int nu = NumCtrlU(s), nv = NumCtrlV(s);
  for (int i = 0; i < nu; ++i)
    for (double** M : {s->X, s->Y, s->Z}) M[nv - 1][i] = M[0][i];
  double v[3], start[3], five[3];
  GetObjBndryVector(s, 0, v);
  RefEvalSurface(s, 0.0, 1.0, start);
  RefEvalSurface(s, 0.0, 1.2, five);
  EXPECT_GT(VecSize3(v), 1e-3);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(v[k], five[k] - start[k], 1e-12);
  // A 2D curve without owner: its (u, v) with z 0; with one, through the owner.
  Bspline* c = BuildCurve(1, 2, {0.5, 2.0, 1.5, 4.0});
  double a[3], e[3];
  GetObjBndryPnts(c, 2, a, e, 0);
  EXPECT_TRUE(a[0] == 0.5 && a[1] == 2.0 && a[2] == 0.0 && e[0] == 1.5 && e[1] == 4.0 && e[2] == 0.0);
  c->owner = s;
  GetObjBndryPnts(c, 0, a, e, 0);
  double ref[3];
  RefEvalSurface(s, 1.5, 4.0, ref);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(e[k], ref[k], 1e-12);
  FreeBspline(c);
  FreeBspline(s);
}

// Random sets of curves and surfaces, each randomly turned: afterwards every pair of
// neighbouring boundary vectors agrees in sign, the smaller group was turned, and shapes stay.
TEST_F(ObjSetTest, EquatedSetsRunOneWay) {
  std::mt19937 rng(21);
  for (int trial = 0; trial < 40; ++trial) {
    const int n = 2 + trial % 5;
    std::vector<Bspline*> objs;
    std::vector<int> bndry;
    for (int i = 0; i < n; ++i) {
      Bspline* o;
      if (rng() % 2) {
        // Roughly parallel curves along x, offset in y.
        std::vector<double> pts;
        for (int j = 0; j < 5; ++j) pts.insert(pts.end(), {double(j), double(i) + 0.1 * (rng() % 3), 0.1 * j * j});
        o = BuildCurve(3, 3, pts);
        bndry.push_back(0);
      } else {
        // Patches over [0, 4] x [i, i + 1]: boundaries 1 and 3 run along x.
        o = BuildFunctionPatch([](double x, double y) { return 0.1 * x * y; },
                               {.x0 = 0.0, .x1 = 4.0, .y0 = double(i), .y1 = i + 1.0});
        bndry.push_back(rng() % 2 ? 1 : 3);
      }
      if (rng() % 2) ReverseObj(o, 0);
      objs.push_back(o);
    }
    std::vector<double> dots0;
    int against = 0;  // objects running against the first
    double first[3];
    GetObjBndryVector(objs[0], bndry[0], first);
    for (int i = 1; i < n; ++i) {
      double v[3];
      GetObjBndryVector(objs[i], bndry[i], v);
      against += VecDotProd3(first, v) < 0;
    }
    std::vector<Bspline*> copies;
    for (Bspline* o : objs) copies.push_back(CopyBsplineStruct(o));
    const int r = EquateParDirOfObjSet(objs.data(), bndry.data(), n);
    EXPECT_EQ(r, std::min(against, n - against)) << trial;
    double prev[3];
    GetObjBndryVector(objs[0], bndry[0], prev);
    for (int i = 1; i < n; ++i) {
      double v[3];
      GetObjBndryVector(objs[i], bndry[i], v);
      EXPECT_GT(VecDotProd3(prev, v), 0.0) << trial << " " << i;
      for (int k = 0; k < 3; ++k) prev[k] = v[k];
    }
    for (int i = 0; i < n; ++i) {
      // The same shape, parametrised one way or the other.
      double a[3], b[3], c[3];
      RefEvalCurve(objs[i]->kind == 1 ? objs[i] : copies[i], 0.25, a);
      if (objs[i]->kind == 1) {
        RefEvalCurve(copies[i], 0.25, b);
        RefEvalCurve(copies[i], 0.75, c);
        EXPECT_TRUE(VecDist3(a, b) < 1e-12 || VecDist3(a, c) < 1e-12);
      }
      FreeBspline(copies[i]);
      FreeBspline(objs[i]);
    }
  }
}

// The documented ties: two objects against each other turn the second; of three where only the
// first runs against the others, the first turns. Without boundaries the v direction turns.
TEST_F(ObjSetTest, TiesTurnTheObjectsAgainstTheFirst) {
  auto line = [](double x0, double x1) { return BuildCurve(1, 3, {x0, 0, 0, x1, 0, 0}); };
  Bspline* two[2] = {line(0, 1), line(1, 0)};
  EXPECT_EQ(EquateParDirOfObjSet(two, nullptr, 2), 1);
  EXPECT_EQ(two[0]->X[0][0], 0.0);
  EXPECT_EQ(two[1]->X[0][0], 0.0);
  Bspline* three[3] = {line(1, 0), line(0, 1), line(0, 1)};
  EXPECT_EQ(EquateParDirOfObjSet(three, nullptr, 3), 1);
  EXPECT_EQ(three[0]->X[0][0], 0.0);
  EXPECT_EQ(EquateParDirOfObjSet(three, nullptr, 1), 0);
  for (Bspline* b : two) FreeBspline(b);
  for (Bspline* b : three) FreeBspline(b);

  Bspline* s[2] = {BuildFunctionPatch([](double, double) { return 0.0; }),
                   BuildFunctionPatch([](double, double) { return 1.0; })};
  ReverseObj(s[1], 1);
  const std::vector<double> u1(s[1]->X[0], s[1]->X[0] + NumCtrlU(s[1]));
  EXPECT_EQ(EquateParDirOfObjSet(s, nullptr, 2), 1);
  EXPECT_EQ(std::vector<double>(s[1]->X[0], s[1]->X[0] + NumCtrlU(s[1])), u1);  // u untouched
  EXPECT_LT(s[1]->Y[0][0], s[1]->Y[NumCtrlV(s[1]) - 1][0]);                     // v turned back
  for (Bspline* b : s) FreeBspline(b);
}

// Mean control-polygon line length, against the sum written out; lines of zero length give 0.
TEST_F(ObjSetTest, SpanIsTheMeanPolygonLength) {
  Bspline* s = BuildFunctionPatch([](double x, double y) { return x * x + y; }, {.nu = 5, .nv = 4});
  for (int dir : {0, 1}) {
    const int lines = dir ? 5 : 4, pts = dir ? 4 : 5;
    double sum = 0.0;
    for (int l = 0; l < lines; ++l)
      for (int i = 1; i < pts; ++i) {
        const int r0 = dir ? i - 1 : l, c0 = dir ? l : i - 1, r1 = dir ? i : l, c1 = dir ? l : i;
        const double a[3] = {s->X[r0][c0], s->Y[r0][c0], s->Z[r0][c0]}, b[3] = {s->X[r1][c1], s->Y[r1][c1], s->Z[r1][c1]};
        sum += VecDist3(a, b);
      }
    EXPECT_NEAR(GetObjSpanInParDir(s, dir, 0), sum / lines, 1e-12);
  }
  for (int r = 0; r < 4; ++r)
    for (int i = 1; i < 5; ++i) s->X[r][i] = s->X[r][0], s->Y[r][i] = s->Y[r][0], s->Z[r][i] = s->Z[r][0];
  EXPECT_EQ(GetObjSpanInParDir(s, 0, 0), 0.0);
  Bspline* c = BuildCurve(1, 2, {0, 0, 3, 4, 3, 5});
  EXPECT_DOUBLE_EQ(GetObjSpanInParDir(c, 1, 0), 6.0);
  EXPECT_EQ(GetObjSpanInParDir(c, 0, 1), -2.0);  // a curve on no surface has no 3D length
  double col[4];
  CopyVecWOffsetToVec(s->Y[0] + 2, 5, col, 4);
  for (int r = 0; r < 4; ++r) EXPECT_EQ(col[r], s->Y[r][2]);
  FreeBspline(c);
  FreeBspline(s);
}

// ---- Degrees, rationality and parameter speed ---------------------------------------------------

// Control-net length per unit parameter of a direction.
double Speed(Bspline* b, int dir) {
  const double lo = dir ? b->vmin : b->umin, hi = dir ? b->vmax : b->umax;
  return GetObjSpanInParDir(b, dir, 0) / (hi - lo);
}

TEST_F(ObjSetTest, DegreeAndRationalityBecomeTheSetsHighestWithoutChangingShapes) {
  BsplineKeeper keep;
  Bspline* a = keep(BuildRandomCurve(1, 2, 5));
  Bspline* b = keep(BuildRandomCurve(2, 4, 6, 3, true));
  Bspline* s = keep(BuildFunctionPatch([](double x, double y) { return x * y; }, PatchOptions{2, 3, 5, 5}));
  Bspline* ca = keep(CopyBsplineStruct(a));
  Bspline* cs = keep(CopyBsplineStruct(s));
  Bspline* set[3] = {a, b, s};
  int dirs[3] = {0, 0, 0};
  EquateDegOfObjSet(set, dirs, 3);
  EXPECT_EQ(a->degreeU, 4);
  EXPECT_EQ(s->degreeU, 4);
  EXPECT_EQ(s->degreeV, 3);  // only the direction asked for
  EXPECT_LT(ShapeDiff(a, ca), 1e-12);
  EquateRationOfObjSet(set, 3);
  EXPECT_EQ(a->rational + s->rational, 2);
  EXPECT_EQ(s->W[2][3], 1.0);
  EXPECT_LT(ShapeDiff(s, cs), 1e-12);
  // Made rational outright: unit weights everywhere, the shape kept; a rational object keeps
  // its own weights.
  Bspline* p = keep(BuildRandomCurve(4, 3, 6));
  Bspline* cp = keep(CopyBsplineStruct(p));
  const double w = b->W[0][2];
  Bspline* pair[2] = {p, b};
  MakeObjSetRational(pair, 2);
  ASSERT_EQ(p->rational, 1);
  ASSERT_NE(p->W, nullptr);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(p->W[0][i], 1.0) << i;
  EXPECT_LT(ShapeDiff(p, cp), 1e-12);
  EXPECT_EQ(b->W[0][2], w);
  // A set of one is left alone.
  Bspline* lone = keep(BuildRandomCurve(3, 2, 4));
  EquateDegOfObjSet(&lone, nullptr, 1);
  EquateRationOfObjSet(&lone, 1);
  EXPECT_EQ(lone->degreeU, 2);
  EXPECT_EQ(lone->rational, 0);
}

TEST_F(ObjSetTest, ProportionalParametersGiveUTheSpeedOfV) {
  BsplineKeeper keep;
  PatchOptions o;
  o.x1 = 8.0;  // u runs over a control net eight times as long as v's on the same range
  Bspline* s = keep(BuildFunctionPatch([](double x, double y) { return 0.1 * x * y; }, o));
  Bspline* pair[2] = {s, s};
  int dirs[2] = {1, 0};
  Bspline* before = keep(CopyBsplineStruct(s));
  EXPECT_EQ(MakeParOfTwoObjProptnl(pair, dirs, 0, 1), 0);
  EXPECT_NEAR(Speed(s, 0) / Speed(s, 1), 1.0, 1e-12);
  EXPECT_EQ(s->vmax, before->vmax);  // the other direction kept
  // Within 10 % already: nothing to do.
  EXPECT_EQ(MakeParOfTwoObjProptnl(pair, dirs, 0, 1), -1);
  // While a four-surface stitch combines, only shifts happen.
  Bspline* t = keep(CopyBsplineStruct(before));
  Bspline* pair2[2] = {t, t};
  isJustCombine = 1;
  EXPECT_EQ(MakeParOfTwoObjProptnl(pair2, dirs, 0, 1), -1);
  isJustCombine = 0;
  EXPECT_EQ(t->umax, before->umax);
  // A curve joined behind another starts where the first ends.
  Bspline* c0 = keep(BuildRandomCurve(5, 3, 6));
  Bspline* c1 = keep(BuildRandomCurve(6, 3, 6));
  Bspline* cp[2] = {c0, c1};
  EXPECT_EQ(MakeParOfTwoObjProptnl(cp, nullptr, 1, 0), 0);
  EXPECT_EQ(c1->umin, c0->umax);
  EXPECT_NEAR(Speed(c1, 0), Speed(c0, 0), 0.1 * Speed(c0, 0));
  Bspline* same[2] = {c0, c0};
  EXPECT_EQ(MakeParOfTwoObjProptnl(same, nullptr, 0, 0), -1);
}

}  // namespace

namespace {

// Reparametrising the second object of a pair moves its parameters, never its shape: the surface
// at the mapped parameters is the surface before, and the curve listed on it still marks the same
// places (its coordinates follow the knots).
TEST_F(ObjSetTest, ProportionalParametersKeepTheShapeAndTheListedCurves) {
  BsplineKeeper keep;
  Bspline* a = keep(BuildCurve(3, 3, {0, 0, 0, 30, 0, 0, 60, 5, 0, 90, 0, 0}));
  PatchOptions o{.vmin = 2.0, .vmax = 4.0};
  Bspline* b = keep(BuildFunctionPatch([](double x, double y) { return std::sin(x + 2 * y); }, o));
  Bspline* crv = BuildCurveOnSurface(b, 2, {0.2, 2.5, 0.6, 3.0, 0.9, 3.8});
  Bspline* b0 = keep(CopyBsplineStruct(b));
  std::vector<double> marks;
  for (int i = 0; i <= 8; ++i) {
    double uv[3], p[3];
    RefEvalCurve(crv, i / 8.0, uv);
    RefEvalSurface(b, uv[0], uv[1], p);
    marks.insert(marks.end(), p, p + 3);
  }
  Bspline* pair[2] = {a, b};
  int dirs[2] = {0, 1};
  ASSERT_EQ(MakeParOfTwoObjProptnl(pair, dirs, 1, 0), 0);
  EXPECT_EQ(b->vmin, a->umax);  // joined behind the curve
  const double kv = (b->vmax - b->vmin) / (b0->vmax - b0->vmin);
  const double ku = (b->umax - b->umin) / (b0->umax - b0->umin);
  EXPECT_GT(std::fabs(kv - 1.0), 0.1);  // a real scaling, applied to both directions alike
  EXPECT_NEAR(ku, kv, 1e-12 * kv);
  for (int i = 0; i <= 6; ++i)
    for (int j = 0; j <= 6; ++j) {
      const double u = i / 6.0, v = 2.0 + j / 3.0;
      double p[3], q[3];
      RefEvalSurface(b0, u, v, p);
      RefEvalSurface(b, u * ku, b->vmin + (v - b0->vmin) * kv, q);
      EXPECT_NEAR(std::hypot(p[0] - q[0], p[1] - q[1], p[2] - q[2]), 0.0, 1e-12);
    }
  for (int i = 0; i <= 8; ++i) {
    double uv[3], p[3];
    RefEvalCurve(crv, i / 8.0, uv);
    RefEvalSurface(b, uv[0], uv[1], p);
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(p[c], marks[3 * i + c], 1e-12);
  }
}

}  // namespace

namespace {

// The speed matching looks at the shape, not at the units: two curves scaled by any factor and
// moved 1e4 x their size get the knots they get at size 1 (a curve below a fixed length would
// otherwise count as having none and keep its own).
TEST_F(ObjSetTest, ProportionalParametersAreTheSameAtEverySize) {
  const std::vector<double> pa = {0, 0, 0, 1, 0.5, 0, 2, 0, 0.2, 3, 0.4, 0};
  const std::vector<double> pb = {3, 0.4, 0, 5, 1, 0, 7, 0.5, 0.3, 9, 0, 0, 11, 1, 0};
  std::vector<double> want;
  for (double s : {1.0, 1e-8, 1e-3, 1e6}) {
    BsplineKeeper keep;
    auto placed = [s](std::vector<double> p) {
      for (size_t i = 0; i < p.size(); ++i) p[i] = s * p[i] + 1e4 * s * (1 + i % 3);
      return p;
    };
    Bspline* a = keep(BuildCurve(3, 3, placed(pa)));
    Bspline* b = keep(BuildCurve(3, 3, placed(pb)));
    Bspline* pair[2] = {a, b};
    ASSERT_EQ(MakeParOfTwoObjProptnl(pair, nullptr, 1, 0), 0) << s;
    const std::vector<double> knots(b->knotsU, b->knotsU + NumCtrlU(b) + 4);
    if (want.empty()) want = knots;
    for (size_t i = 0; i < knots.size(); ++i) EXPECT_NEAR(knots[i], want[i], 1e-9 * want.back()) << s << " " << i;
  }
}

}  // namespace
