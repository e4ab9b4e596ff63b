// All intersections of two curves by subdivision against a dense sign-change count, overlap,
// failure handling; chains of curves cut at their meetings; sub-curves; exact iso pieces.
#include <cmath>
#include <random>
#include <vector>

#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "curve/cintsct.h"
#include "curve/crvintr.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "quadric/qarc.h"
#include "surface/bnd2crv.h"
#include "tests/surface/recordviews.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/placement.h"

namespace {

class CurveIntersectTest : public KernelTest {};

std::vector<CrvIntrNode> Nodes(const CrvIntrList* list) {
  std::vector<CrvIntrNode> v;
  const CrvIntrNode* n = list->first;
  for (int i = 0; i < list->count; ++i, n = n->next) v.push_back(*n);
  return v;
}

// A planar cubic graph over x in [0, 1] (x exactly linear in t) with 16 control points.
std::vector<double> GraphPoints(unsigned seed, int dim) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> Y(0.1, 0.9);
  std::vector<double> pts;
  for (int i = 0; i < 16; ++i) {
    pts.insert(pts.end(), {double(i) / 15.0, Y(rng)});
    if (dim == 3) pts.push_back(0.0);
  }
  return pts;
}

// Lines y = c crossing a graph: as many pairs as a dense sign-change count, each a true meeting,
// no two within 0.01; as 3D curves and as curves on a flat surface.
TEST_F(CurveIntersectTest, AsManyMeetingsAsSignChanges) {
  std::mt19937 rng(17);
  std::uniform_real_distribution<double> C(0.2, 0.8);
  Bspline* flat = BuildFunctionPatch([](double, double) { return 0.0; }, {.x0 = -0.2, .x1 = 1.2, .umin = -0.2, .umax = 1.2});
  int total = 0;
  for (int trial = 0; trial < 12; ++trial) {
    const int dim = trial % 2 ? 2 : 3;
    const std::vector<double> pts = GraphPoints(trial + 1, dim);
    Bspline* graph = dim == 3 ? BuildCurve(3, 3, pts) : BuildCurveOnSurface(flat, 3, pts);
    // A level whose crossings lie more than a Greville interval apart (two crossings within one
    // pair of intervals are the concern of tests/curve/meetings_test.cpp).
    double c = 0.0;
    int changes = 0;
    for (int attempt = 0; attempt < 50; ++attempt) {
      c = C(rng);
      std::vector<double> xs;
      double prev = 0.0;
      for (int i = 0; i <= 5000; ++i) {
        double p[3];
        RefEvalCurve(graph, i / 5000.0, p);
        const double s = p[1] - c;
        if (i > 0 && (s > 0) != (prev > 0)) xs.push_back(p[0]);
        prev = s;
      }
      bool apart = true;
      for (size_t i = 1; i < xs.size(); ++i) apart = apart && xs[i] - xs[i - 1] > 0.1;
      changes = int(xs.size());
      if (apart) break;
    }
    const std::vector<double> lp = dim == 3 ? std::vector<double>{-0.1, c, 0, 1.1, c, 0} : std::vector<double>{-0.1, c, 1.1, c};
    Bspline* line = dim == 3 ? BuildCurve(1, 3, lp) : BuildCurveOnSurface(flat, 1, lp);
    CrvIntrList* list = nullptr;
    ASSERT_EQ(CrvIntersect(graph, line, &list, 0.0, 0), 0);
    EXPECT_EQ(list->count, changes) << "trial " << trial;
    const std::vector<CrvIntrNode> found = Nodes(list);
    for (size_t i = 0; i < found.size(); ++i) {
      double a[3], b[3];
      RefEvalCurve(graph, found[i].t1, a);
      RefEvalCurve(line, found[i].t2, b);
      EXPECT_LT(std::hypot(a[0] - b[0], a[1] - b[1]), 1e-6) << trial;
      for (size_t j = 0; j < i; ++j)
        EXPECT_FALSE(std::fabs(found[i].t1 - found[j].t1) < 0.01 && std::fabs(found[i].t2 - found[j].t2) < 0.01);
    }
    total += changes;
    FreeCrvIntrList(list);
    if (dim == 3) {
      FreeBspline(graph);
      FreeBspline(line);
    }
  }
  EXPECT_GE(total, 12);
  FreeBspline(flat);
}

// A head emptied by ClearCrvIntrList goes back to CrvIntersect and lists the same meetings; the
// sanitizer's leak check holds both release functions to every node.
TEST_F(CurveIntersectTest, AClearedHeadListsTheSameMeetingsAgain) {
  Bspline* wave = BuildCurve(3, 3, GraphPoints(3, 3));
  Bspline* line = BuildCurve(1, 3, {-0.1, 0.5, 0, 1.1, 0.5, 0});
  CrvIntrList* list = nullptr;
  ASSERT_EQ(CrvIntersect(wave, line, &list, 0.0, 0), 0);
  const std::vector<CrvIntrNode> first = Nodes(list);
  ASSERT_GE(first.size(), 1u);
  CrvIntrList* head = list;
  ClearCrvIntrList(list);
  EXPECT_EQ(list->count, 0);
  EXPECT_EQ(list->first, nullptr);
  EXPECT_EQ(list->last, nullptr);
  ASSERT_EQ(CrvIntersect(wave, line, &list, 0.0, 0), 0);
  EXPECT_EQ(list, head);
  const std::vector<CrvIntrNode> again = Nodes(list);
  ASSERT_EQ(again.size(), first.size());
  for (size_t i = 0; i < first.size(); ++i) {
    EXPECT_EQ(again[i].t1, first[i].t1);
    EXPECT_EQ(again[i].t2, first[i].t2);
  }
  FreeCrvIntrList(list);
  ClearCrvIntrList(nullptr);
  FreeCrvIntrList(nullptr);
  FreeBspline(wave);
  FreeBspline(line);
}

TEST_F(CurveIntersectTest, OverlapsMissesAndFailures) {
  Bspline* a = BuildCurve(3, 3, GraphPoints(3, 3));
  Bspline* b = BuildCurve(3, 3, GraphPoints(3, 3));
  CrvIntrList* list = nullptr;
  EXPECT_EQ(CrvIntersect(a, b, &list, 1e-3, 1), 99);
  EXPECT_EQ(list, nullptr);
  EXPECT_EQ(FindIfTwoCurvesOverlap(a, b, 0.0), 0);  // the mean gap must lie strictly below
  Bspline* flat = BuildFunctionPatch([](double, double) { return 0.0; });
  Bspline* c2 = BuildCurveOnSurface(flat, 3, GraphPoints(3, 2));
  EXPECT_EQ(CrvIntersect(a, c2, &list, 1e-3, 1), 99);
  // Two lines that miss: count 0 with one unused node.
  Bspline* l1 = BuildCurve(1, 3, {0, 0, 0, 1, 0, 0});
  Bspline* l2 = BuildCurve(1, 3, {0, 1, 1, 1, 1, 1});
  ASSERT_EQ(CrvIntersect(l1, l2, &list, 0.0, 0), 0);
  EXPECT_EQ(list->count, 0);
  EXPECT_NE(list->first, nullptr);
  FreeCrvIntrList(list);
  list = nullptr;
  // The length of a straight cubic, and of a line.
  EXPECT_NEAR(FindCurve3DLength(l1), 1.0, 1e-12);

  // Under failing memory: -2, and the list holds exactly the nodes it counts (or one spare).
  Bspline* line = BuildCurve(1, 3, {-0.1, 0.5, 0, 1.1, 0.5, 0});
  const int failures = RunWithInjectedFailures(80, 1, [&] {
    CrvIntrList* l = nullptr;
    const int r = CrvIntersect(a, line, &l, 0.0, 0);
    if (l) {
      int nodes = 0;
      for (CrvIntrNode* n = l->first; n; n = n->next) ++nodes;
      EXPECT_EQ(nodes, std::max(l->count, 1));
    }
    FreeCrvIntrList(l);
    return r;
  });
  EXPECT_GT(failures, 0);
  for (Bspline* x : {a, b, flat, l1, l2, line}) FreeBspline(x);
}

// Four overshooting lines closing a square are cut back to its sides, all running forwards;
// the original curves are replaced.
TEST_F(CurveIntersectTest, ClosedChainIsCutToItsSquare) {
  const double e = 0.3;
  Bspline* chain[4] = {BuildCurve(1, 3, {-e, 0, 0, 1 + e, 0, 0}), BuildCurve(1, 3, {1, -e, 0, 1, 1 + e, 0}),
                       BuildCurve(1, 3, {1 + e, 1, 0, -e, 1, 0}), BuildCurve(1, 3, {0, 1 + e, 0, 0, -e, 0})};
  int* dirs = nullptr;
  double *s = nullptr, *t = nullptr;
  ASSERT_EQ(FindAllCurve3Intersections(chain, 4, &dirs, &s, &t), 0);
  const double corners[5][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(dirs[i], 1);
    double a[3], b[3];
    RefEvalCurve(chain[i], chain[i]->umin, a);
    RefEvalCurve(chain[i], chain[i]->umax, b);
    EXPECT_TRUE(std::fabs(a[0] - corners[i][0]) < 1e-9 && std::fabs(a[1] - corners[i][1]) < 1e-9) << i;
    EXPECT_TRUE(std::fabs(b[0] - corners[i + 1][0]) < 1e-9 && std::fabs(b[1] - corners[i + 1][1]) < 1e-9) << i;
  }
  for (void* p : {(void*)dirs, (void*)s, (void*)t}) Free(p);
  // One curve would meet itself.
  EXPECT_EQ(FindAllCurve3Intersections(chain, 1, &dirs, &s, &t), -2);
  for (Bspline* c : chain) FreeBspline(c);
}

// Two half circles closing a chain meet at both ends alike, and the polygon estimate lies as
// near either meeting: each is cut between its two meetings, that is kept whole, running
// forwards from (1, 0) and from (-1, 0), at every size and place.
TEST_F(CurveIntersectTest, TwoArcsOfACircleAreAChainOfTwo) {
  for (const Place& pl : EveryPlace()) {
    const double centre[3] = {0, 0, 0}, from[2][3] = {{1, 0, 0}, {-1, 0, 0}};
    Bspline* chain[2] = {MakeArcZBspline(0, 180, centre, 1.0), MakeArcZBspline(180, 360, centre, 1.0)};
    ASSERT_TRUE(chain[0] && chain[1]);
    for (Bspline* c : chain) pl.Map(c);
    int* dirs = nullptr;
    double *s = nullptr, *t = nullptr;
    ASSERT_EQ(FindAllCurve3Intersections(chain, 2, &dirs, &s, &t), 0) << Where(pl);
    for (int i = 0; i < 2; ++i) {
      EXPECT_EQ(dirs[i], 1) << Where(pl);
      double a[3], b[3], A[3], B[3];
      RefEvalCurve(chain[i], chain[i]->umin, a);
      RefEvalCurve(chain[i], chain[i]->umax, b);
      pl.Map(from[i], A);
      pl.Map(from[1 - i], B);
      EXPECT_LT(VecDist3(a, A), 1e-9 * pl.size) << i << " " << Where(pl);
      EXPECT_LT(VecDist3(b, B), 1e-9 * pl.size) << i << " " << Where(pl);
    }
    for (void* p : {(void*)dirs, (void*)s, (void*)t}) Free(p);
    for (Bspline* c : chain) FreeBspline(c);
  }
}

// Falling parameters give the piece reversed, from t0; the curve itself never changes.
TEST_F(CurveIntersectTest, SubCurvesAndSingleMeetings) {
  Bspline* c = BuildRandomCurve(8, 3, 7);
  const std::vector<double> before = Snapshot(c);
  Bspline* piece = nullptr;
  // A sub-curve taken from 0.7 back to 0.2 of the domain runs c backwards over it.
  auto runsBackOverC = [&](const Bspline* sub) {
    for (int i = 0; i <= 10; ++i) {
      double a[3], b[3];
      RefEvalCurve(sub, sub->umin + (sub->umax - sub->umin) * i / 10, a);
      RefEvalCurve(c, 0.7 - 0.5 * i / 10, b);
      EXPECT_LT(VecDist3(a, b), 1e-9) << i;
    }
  };
  SubCurveBspline(c, 0.7, 0.2, &piece);
  ASSERT_NE(piece, nullptr);
  EXPECT_EQ(Snapshot(c), before);
  runsBackOverC(piece);
  FreeBspline(piece);
  piece = nullptr;
  SubCurveBspline(c, 0.3, 0.3 + 1e-7, &piece);
  EXPECT_EQ(piece, nullptr);
  EXPECT_EQ(zk_error_status, -2);
  ClearKernelError();
  // The same curve over a domain 1e-9 wide: a sub-curve is short by its own share of that.
  Bspline* narrow = CopyBsplineStruct(c);
  Bspline* cut = nullptr;
  for (int i = 0; i < NumKnotsU(narrow); ++i) narrow->knotsU[i] *= 1e-9;
  narrow->umax *= 1e-9;
  SubCurveBspline(narrow, 0.7e-9, 0.2e-9, &cut);
  ASSERT_NE(cut, nullptr);
  runsBackOverC(cut);
  FreeBspline(cut);
  cut = nullptr;
  SubCurveBspline(narrow, 0.3e-9, (0.3 + 1e-7) * 1e-9, &cut);
  EXPECT_EQ(cut, nullptr);
  ClearKernelError();
  FreeBspline(narrow);

  Bspline* flat = BuildFunctionPatch([](double x, double y) { return x + y; });
  Bspline* p = BuildCurveOnSurface(flat, 2, {0.1, 0.1, 0.5, 0.9, 0.9, 0.8});
  Bspline* q = BuildCurveOnSurface(flat, 1, {0.1, 0.7, 0.9, 0.3});
  double t1, t2, a[3], b[3];
  ASSERT_EQ(Intersect2Curve2(p, q, &t1, &t2), 0);
  RefEvalCurve(p, t1, a);
  RefEvalCurve(q, t2, b);
  EXPECT_LT(std::hypot(a[0] - b[0], a[1] - b[1]), 1e-6);
  ASSERT_EQ(Intersect2Curves(p, q, &t1, &t2), 0);
  RefEvalCurve(p, t1, a);
  EXPECT_LT(std::hypot(a[0] - b[0], a[1] - b[1]), 1e-4);
  FreeBspline(c);
  FreeBspline(flat);
}

// A fitted curve running along an iso line gets the exact iso piece, running its way; ends
// 0.002 off give null and a clear error state.
TEST_F(CurveIntersectTest, ExactIsoPieces) {
  Bspline* s = BuildFunctionPatch([](double x, double y) { return 0.2 * x * y; });
  Bspline* iso3 = MakeIsoparCurve3(s, 0.4, 0.0, 1);  // u = 0.4, running in v
  Bspline* iso2 = BuildCurveOnSurface(s, 1, {0.4, 0.0, 0.4, 1.0});
  Bspline* fitted = BuildCurveOnSurface(s, 3, {0.4, 0.8, 0.4001 - 1e-4, 0.6, 0.4, 0.4, 0.4, 0.2});
  for (Bspline* iso : {iso2, iso3}) {
    Bspline* piece = iso == iso2 ? ExtractIsoparCurve2(s, fitted, iso) : ExtractIsoparCurve3(s, fitted, iso);
    ASSERT_NE(piece, nullptr);
    double a[3], b[3];
    Eval3DPointOnBsplOnSurfArray(nullptr, piece, piece->umin, 0, 0, a);
    Eval3DPointOnBsplOnSurfArray(s, fitted, fitted->umin, 0, 0, b);
    EXPECT_LT(VecDist3(a, b), 1e-6);  // runs like the fitted curve, from v = 0.8 down
    FreeBspline(piece);
  }
  Bspline* off = BuildCurveOnSurface(s, 1, {0.402, 0.8, 0.402, 0.2});
  EXPECT_EQ(ExtractIsoparCurve2(s, off, iso2), nullptr);
  Bspline* zero = ExtractIsoparCurve3(s, BuildCurveOnSurface(s, 1, {0.4, 0.8, 0.402, 0.2}), iso3);
  ASSERT_NE(zero, nullptr);
  EXPECT_EQ(zero->X[0][0], zero->X[0][3]);  // a point curve where the end is too far
  EXPECT_FALSE(KernelFailed());
  FreeBspline(zero);
  FreeBspline(iso3);
  FreeBspline(s);
}

// Curves that touch have no crossing for Newton's step to find, and a touching just across a
// circle's seam holds the closest-pair refiner on the domain's end: each single meeting is still
// the touching point. A circle of radius 0.4 touching the unit circle from inside, both in one
// parameter plane, at angles 0.1 .. 6.1; a line tangent to the unit circle in space just before
// and just after its seam.
TEST_F(CurveIntersectTest, SingleMeetingsOfTouchingCurvesAreTheTouchingPoints) {
  Bspline* unit2 = BuildEllipseCurve(1.0, 1.0);
  std::vector<double> net, weights, knots(unit2->knotsU, unit2->knotsU + NumKnotsU(unit2));
  for (int i = 0; i < NumCtrlU(unit2); ++i) {
    net.insert(net.end(), {unit2->X[0][i], unit2->Y[0][i]});
    weights.push_back(unit2->W[0][i]);
  }
  FreeBspline(unit2);
  unit2 = BuildCurve(2, 2, net, knots, weights);
  for (int k = 1; k <= 61; k += 4) {
    const double th = 0.1 * k;
    std::vector<double> small(net);
    for (size_t i = 0; i < small.size(); i += 2) {
      small[i] = 0.4 * small[i] + 0.6 * std::cos(th);
      small[i + 1] = 0.4 * small[i + 1] + 0.6 * std::sin(th);
    }
    Bspline* inner = BuildCurve(2, 2, small, knots, weights);
    double t1 = -1.0, t2 = -1.0, a[3], b[3];
    EXPECT_EQ(Intersect2Curve2(unit2, inner, &t1, &t2), 0) << th;
    RefEvalCurve(unit2, t1, a);
    RefEvalCurve(inner, t2, b);
    // The gap of a touching grows with the square of the distance from it.
    EXPECT_LT(std::hypot(a[0] - std::cos(th), a[1] - std::sin(th)), 1e-3) << th;
    EXPECT_LT(std::hypot(a[0] - b[0], a[1] - b[1]), 1e-7) << th;
    FreeBspline(inner);
  }
  FreeBspline(unit2);
  Bspline* unit3 = BuildEllipseCurve(1.0, 1.0);
  for (double th : {-0.12, 0.12}) {
    const double P[3] = {std::cos(th), std::sin(th), 0.0}, T[3] = {-std::sin(th), std::cos(th), 0.0};
    Bspline* line = BuildCurve(1, 3, {P[0] - 0.7 * T[0], P[1] - 0.7 * T[1], 0.0, P[0] + 0.7 * T[0], P[1] + 0.7 * T[1], 0.0});
    double t1 = -1.0, t2 = -1.0, a[3], b[3];
    EXPECT_EQ(Intersect2Curves(unit3, line, &t1, &t2), 0) << th;
    RefEvalCurve(unit3, t1, a);
    RefEvalCurve(line, t2, b);
    EXPECT_LT(VecDist3(a, P), 1e-3) << th;
    EXPECT_LT(VecDist3(a, b), 1e-7) << th;
    FreeBspline(line);
  }
  FreeBspline(unit3);
}

// A rational quadratic whose weights run from 9 to 1.4e7 all but stands still over long stretches
// of its parameter, so a piece small in space may be long in parameter; a line through two of its
// points, one of them at a knot in such a stretch, crosses it at both, in either order. (The
// crossing at the knot was lost: the refinement from the piece's middle was thrown out of it.)
TEST_F(CurveIntersectTest, LineThroughTwoPointsOfAStallingRationalCurveMeetsItAtBoth) {
  const std::vector<double> knots = {-3, -3, -3, 95687.142434287744, 95687.142436069436, 389462.40163306054,
                                     464247.47302909661, 708576.94190009777, 708576.94190009777, 999997,
                                     999997, 999997};
  const std::vector<double> weights = {10.251444031437625, 773170.21803331783, 122.057515504492,
                                       701502.97327357053, 9.1300052677454158, 115.17506103057043,
                                       13793437.947789332, 242200.59899766935, 30.851044236504983};
  const std::vector<double> pts = {
      0.044506888836622238, 0.035559181123971939, -0.0047704386524856091, -0.0028719233814626932,
      0.04521668329834938, -0.0093496311455965042, -0.037319418042898178, -0.018744660541415215,
      0.033282734453678131, 0.043682608753442764, -0.028844615444540977, -0.039009783416986465,
      -0.042002931237220764, 0.045283809304237366, 0.0089376121759414673, -0.046731751412153244,
      0.014312500134110451, 0.03632131963968277, 0.027181413024663925, -0.036485053598880768,
      -0.023509033024311066, -0.036289997398853302, -0.015313312411308289, -0.020594075322151184,
      0.04461190477013588, 0.049970325082540512, -0.029105942696332932};
  Bspline* curve = BuildCurve(2, 3, pts, knots, weights);
  ASSERT_NE(curve, nullptr);
  double A[3], B[3];
  RefEvalCurve(curve, knots[5], A);
  RefEvalCurve(curve, 950466.34137695481, B);
  std::vector<double> ends;
  for (double f : {-0.1, 1.1})
    for (int k = 0; k < 3; ++k) ends.push_back(A[k] + f * (B[k] - A[k]));
  Bspline* line = BuildCurve(1, 3, ends);
  ASSERT_NE(line, nullptr);
  const double size = VecDist3(A, B);
  for (bool curveFirst : {true, false}) {
    CrvIntrList* list = nullptr;
    ASSERT_EQ(curveFirst ? CrvIntersect(curve, line, &list, 0.0, 0) : CrvIntersect(line, curve, &list, 0.0, 0), 0);
    double missA = INFINITY, missB = INFINITY;
    CrvIntrNode* node = list->first;
    for (int i = 0; i < list->count; ++i, node = node->next) {
      double at[3];
      RefEvalCurve(curve, curveFirst ? node->t1 : node->t2, at);
      missA = std::min(missA, VecDist3(at, A));
      missB = std::min(missB, VecDist3(at, B));
    }
    EXPECT_LT(missA, 1e-7 * size) << curveFirst;
    EXPECT_LT(missB, 1e-7 * size) << curveFirst;
    FreeCrvIntrList(list);
  }
  FreeBspline(line);
  FreeBspline(curve);
}

}  // namespace
