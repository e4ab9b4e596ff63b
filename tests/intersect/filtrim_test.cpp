// Fillets and intersections on trimmed surfaces: the ordered crossing lists (spacing, order of
// equal keys, side codes, separation), the fillet box and the clipping of a fillet trace to it,
// the intersection branch cut to the parts inside both trimmed surfaces, the bounded trim-loop
// walk, and clean failure under injected allocation failures.
#include <cmath>
#include <random>
#include <vector>

#include "bspline/cclone.h"
#include "bspline/crvlist.h"
#include "bspline/nubs.h"
#include "bspline/smake.h"
#include "bspline/srfclone.h"
#include "intersect/newintr.h"
#include "bspline/sfree.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "intersect/filutil.h"
#include "intersect/newtrace.h"
#include "surface/trimutils.h"
#include "tests/intersect/shapes.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class FilletTrim : public KernelTest {};

// The unit plane z = 0 (u = x, v = y).
Bspline* Floor(double s = 1.0) {
  const double O[3] = {0, 0, 0}, ex[3] = {1, 0, 0}, ey[3] = {0, 1, 0};
  return shapes::Plane(O, ex, ey, s);
}

// A straight cubic on the surface from (u0, v0) to (u1, v1), parameter [0, 1].
Bspline* Segment(Bspline* s, double u0, double v0, double u1, double v1) {
  std::vector<double> uv;
  for (int i = 0; i < 4; ++i) {
    const double t = i / 3.0;
    uv.push_back(u0 + t * (u1 - u0));
    uv.push_back(v0 + t * (v1 - v0));
  }
  return BuildCurveOnSurface(s, 3, uv);
}

// A counter-clockwise rectangular loop [a, b] x [c, d] on the surface (hole flag as given).
TrimList* Rectangle(Bspline* s, double a, double b, double c, double d, int hole) {
  const double u[5] = {a, b, b, a, a}, v[5] = {c, c, d, d, c};
  TrimList* loop = nullptr;
  for (int i = 0; i < 4; ++i) {
    Bspline* c = Segment(s, u[i], v[i], u[i + 1], v[i + 1]);
    if (!c || !(loop = CreateTrimList(s, c, loop))) return nullptr;
  }
  loop->attached = 1;
  loop->hole = hole;
  return loop;
}

int Count(const BsplineList* l) {
  int n = 0;
  for (; l; l = l->next) ++n;
  return n;
}

double Lo(const Bspline* c) { return c->knotsU[c->degreeU]; }
double Hi(const Bspline* c) { return c->knotsU[NumCtrlU(c)]; }

// Random insertions keep the list ascending in its key, at most one entry of a kind within
// 1e-4, equal keys in insertion order, and a kind-2 parameter sorted by its place in its own
// range; separation copies only the entries not withdrawn, in order, with consistent links.
TEST_F(FilletTrim, OrderedCrossingLists) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int run = 0; run < 20; ++run) {
    TArrayList list{nullptr, nullptr, 0};
    TArrayList* holder = &list;
    std::vector<std::pair<int, double>> tried;
    for (int batch = 0; batch < 8; ++batch) {
      const int kind = 1 + batch % 2;
      double p[4], tp[4];
      int side[4];
      for (int i = 0; i < 4; ++i) {
        // Kind 2 runs over [2, 4]; some values land next to earlier ones.
        const double x = i == 3 && !tried.empty() ? tried[rng() % tried.size()].second / 1.0 : unit(rng);
        p[i] = kind == 2 ? 2.0 + 2.0 * x : x + (i == 3 ? 5e-5 : 0.0);
        tp[i] = unit(rng);
        side[i] = 1 + i % 2;
        tried.push_back({kind, kind == 2 ? (p[i] - 2.0) / 2.0 : p[i]});
      }
      InsertIntoOrderedTArrayList(p, tp, side, nullptr, 4, &holder, kind, 0.0, 1.0, 2.0, 4.0);
    }
    int n = 0;
    for (const TArrayNode* a = list.head; a; a = a->next, ++n) {
      if (a->next) {
        EXPECT_LE(a->sortKey, a->next->sortKey);
      }
      EXPECT_DOUBLE_EQ(a->sortKey, a->kind == 2 ? (a->param - 2.0) / 2.0 : a->param);
      for (const TArrayNode* b = a->next; b; b = b->next)
        if (a->kind == b->kind) {
          EXPECT_GE(std::fabs(a->param - b->param), 1e-4);
        }
    }
    EXPECT_EQ(n, list.count);
    // Every value tried is held by an entry of its kind within 1e-4.
    for (const auto& [kind, key] : tried) {
      bool held = false;
      for (const TArrayNode* a = list.head; a; a = a->next)
        held |= a->kind == kind && std::fabs(a->sortKey - key) * (kind == 2 ? 2.0 : 1.0) < 1e-4 + 1e-12;
      EXPECT_TRUE(held) << kind << " " << key;
    }
    FreeTArrayNodes(&list);
  }

  // Equal keys: the second curve's maximum sorts with the first's, after it; a repeat of the
  // first kind is skipped.
  TArrayList list{nullptr, nullptr, 0};
  TArrayList* holder = &list;
  const double one = 1.0, four = 4.0, half = 0.5, three = 3.0, t = 0.1;
  const int s1 = 1, s2 = 2;
  InsertIntoOrderedTArrayList(&one, &t, &s1, nullptr, 1, &holder, 1, 0.0, 1.0, 2.0, 4.0);
  InsertIntoOrderedTArrayList(&four, &t, &s2, nullptr, 1, &holder, 2, 0.0, 1.0, 2.0, 4.0);
  InsertIntoOrderedTArrayList(&half, &t, &s2, nullptr, 1, &holder, 1, 0.0, 1.0, 2.0, 4.0);
  InsertIntoOrderedTArrayList(&three, &t, &s1, nullptr, 1, &holder, 2, 0.0, 1.0, 2.0, 4.0);
  const double nearHalf = 0.5 + 9e-5;
  InsertIntoOrderedTArrayList(&nearHalf, &t, &s1, nullptr, 1, &holder, 1, 0.0, 1.0, 2.0, 4.0);
  ASSERT_EQ(list.count, 4);
  const double params[4] = {0.5, 3.0, 1.0, 4.0};
  int i = 0;
  for (const TArrayNode* a = list.head; a; a = a->next, ++i) EXPECT_EQ(a->param, params[i]);
  EXPECT_EQ(CheckInOuts(&list), 0);  // sides 2, 1, 1, 2
  list.head->next->next->trimParam = -100.0;  // withdrawn
  TArrayList k1{nullptr, nullptr, 0}, k2{nullptr, nullptr, 0};
  SeparateTArrayLists(&list, &k1, &k2);
  EXPECT_EQ(list.count, 4);
  ASSERT_EQ(k1.count, 1);
  ASSERT_EQ(k2.count, 2);
  EXPECT_EQ(k1.head->param, 0.5);
  EXPECT_EQ(k2.head->param, 3.0);
  EXPECT_EQ(k2.tail->param, 4.0);
  EXPECT_EQ(k2.tail->prev, k2.head);
  EXPECT_EQ(k2.head->prev, nullptr);
  FreeTArrayNodes(&list);
  FreeTArrayNodes(&k1);
  FreeTArrayNodes(&k2);
}

TEST_F(FilletTrim, AlternatingSides) {
  std::vector<TArrayNode> n(3);
  const int a[3] = {1, 2, 1}, b[3] = {1, 2, 2};
  for (int k = 0; k < 2; ++k) {
    for (int i = 0; i < 3; ++i)
      n[i] = TArrayNode{i < 2 ? &n[i + 1] : nullptr, nullptr, 0.1 * i, 0.1 * i, 0.0, 1, nullptr,
                        (k ? b : a)[i], 0, nullptr, nullptr};
    TArrayList list{&n[0], nullptr, 3};
    EXPECT_EQ(CheckInOuts(&list), k ? 0 : 1);
  }
  TArrayList empty{nullptr, nullptr, 0};
  EXPECT_EQ(CheckInOuts(&empty), 1);
}

// A line across a surface trimmed to [0.2, 0.8]^2 crosses the loop at 0.2 and 0.8; the trim
// curves there run down (toward a reference below the line: side 2) and up (side 1). Under
// injected failures a list is either complete or reported as -2, and nothing stays tracked.
TEST_F(FilletTrim, CrossingsOfAContactCurveWithTheTrims) {
  BsplineKeeper keep;
  Bspline* s = keep(Floor());
  Rectangle(s, 0.2, 0.8, 0.2, 0.8, 0);
  Bspline* cut = Segment(s, 0.0, 0.5, 1.0, 0.5);
  Bspline* ref = Segment(s, 0.0, 0.3, 1.0, 0.3);
  auto run = [&](TArrayList* list) {
    TArrayList* holder = list;
    CrvIntrList scratch{0, nullptr, nullptr};
    const int r = GetFilletCrvIntrList(s, cut, &holder, &scratch, ref, 1, 0, 1, 0, 1, 1, 1e-3);
    ClearCrvIntrList(&scratch);
    return r;
  };
  TArrayList list{nullptr, nullptr, 0};
  ASSERT_EQ(run(&list), 0);
  ASSERT_EQ(list.count, 2);
  EXPECT_NEAR(list.head->param, 0.2, 1e-7);
  EXPECT_NEAR(list.head->next->param, 0.8, 1e-7);
  EXPECT_EQ(list.head->side, 2);
  EXPECT_EQ(list.head->next->side, 1);
  EXPECT_EQ(CheckInOuts(&list), 1);
  FreeTArrayNodes(&list);

  const int failed = RunWithInjectedFailures(400, 3, [&] {
    TArrayList l{nullptr, nullptr, 0};
    const int r = run(&l);
    if (r == 0) {
      EXPECT_EQ(l.count, 2);
    }
    FreeTArrayNodes(&l);
    return r;
  });
  EXPECT_GT(failed, 0);
}

// Untrimmed surfaces keep both curves of a branch whole (curve 2 first); a branch leaving the
// trimmed part of surface 1 once keeps the inside part with its partner part of curve 2, at
// every scale; a surface with holes only is bounded by its sides meanwhile and left as it was.
TEST_F(FilletTrim, TrimmedIntersections) {
  for (double scale : {1e-6, 1.0, 1e6}) {
    BsplineKeeper keep;
    Bspline* s1 = keep(Floor(scale));
    // The wall y = 0.5 (u = x, v = z + 0.5).
    const double O[3] = {0, 0.5, -0.5}, ex[3] = {1, 0, 0}, ez[3] = {0, 0, 1};
    Bspline* s2 = keep(shapes::Plane(O, ex, ez, scale));
    // The branch from x = 0.1 to 1; the trim edge u = 0.6 crosses it at t = 5 / 9.
    Bspline* c1 = Segment(s1, 0.1, 0.5, 1, 0.5);
    Bspline* c2 = Segment(s2, 0.1, 0.5, 1, 0.5);
    const double tol = 1e-3 * scale;
    BsplineList* out = nullptr;
    ASSERT_EQ(GetIntersectionsOfTrimmedSurface(s1, s2, c1, c2, &out, tol), 0);
    ASSERT_EQ(Count(out), 2);
    EXPECT_EQ(out->item, c2);
    EXPECT_EQ(out->next->item, c1);
    Free(out->next);
    Free(out);

    Rectangle(s1, 0.0, 0.6, 0.0, 1.0, 0);
    out = nullptr;
    ASSERT_EQ(GetIntersectionsOfTrimmedSurface(s1, s2, c1, c2, &out, tol), 0) << scale;
    ASSERT_EQ(Count(out), 2) << scale;
    const Bspline* p2 = out->item;
    const Bspline* p1 = out->next->item;
    EXPECT_EQ(p2->owner, s2);
    EXPECT_EQ(p1->owner, s1);
    for (const Bspline* p : {p1, p2}) {
      EXPECT_NEAR(Lo(p), 0.0, 1e-9);
      EXPECT_NEAR(Hi(p), 5.0 / 9.0, 1e-7);
      double uv[2];
      Eval2DPointOnCurve2Array(nullptr, p, Hi(p), 0, uv);
      EXPECT_NEAR(uv[0], 0.6, 1e-7);
      EXPECT_NEAR(uv[1], 0.5, 1e-9);
    }
    FreeCurvesAndNodes(out);

    // A hole across the branch on surface 2 only.
    Bspline* d2 = Segment(s2, 0, 0.5, 1, 0.5);
    Bspline* bare = keep(Floor(scale));
    Bspline* e1 = Segment(bare, 0, 0.5, 1, 0.5);
    Rectangle(s2, 0.4, 0.5, 0.3, 0.7, 1);
    out = nullptr;
    ASSERT_EQ(GetIntersectionsOfTrimmedSurface(bare, s2, e1, d2, &out, tol), 0);
    EXPECT_EQ(CountTrimCurves(s2), 1);  // the temporary side loop is gone again
    EXPECT_EQ(Count(s2->trims->loopCurves), 4);
    // Two crossings on surface 2 and an untrimmed partner: the parts before and after the hole.
    ASSERT_EQ(Count(out), 4);
    EXPECT_NEAR(Lo(out->item), 0.5, 1e-7);
    EXPECT_NEAR(Hi(out->item), 1.0, 1e-12);
    EXPECT_NEAR(Hi(out->next->next->item), 0.4, 1e-7);
    FreeCurvesAndNodes(out);
  }
}

TEST_F(FilletTrim, TrimmedIntersectionsUnderInjectedFailures) {
  const int failed = RunWithInjectedFailures(1500, 7, [&] {
    Bspline* s1 = Floor();
    const double O[3] = {0, 0.5, -0.5}, ex[3] = {1, 0, 0}, ez[3] = {0, 0, 1};
    Bspline* s2 = shapes::Plane(O, ex, ez);
    int r = -2;
    if (s1 && s2 && !KernelFailed()) {
      Bspline* c1 = Segment(s1, 0.1, 0.5, 1, 0.5);
      Bspline* c2 = Segment(s2, 0.1, 0.5, 1, 0.5);
      if (c1 && c2 && !KernelFailed()) {
        Rectangle(s1, 0.0, 0.6, 0.0, 1.0, 0);
        BsplineList* out = nullptr;
        if (!KernelFailed()) r = GetIntersectionsOfTrimmedSurface(s1, s2, c1, c2, &out, 1e-3);
        if (r == 0) {
          EXPECT_EQ(Count(out), 2);
        }
        FreeCurvesAndNodes(out);
      }
    }
    FreeBspline(s1);
    FreeBspline(s2);
    return r;
  });
  EXPECT_GT(failed, 0);
}

TEST_F(FilletTrim, DuplicatesDroppedFromParallelArrays) {
  double a1[5] = {0, 0, 1, 2, 3}, b1[5] = {0, 0, 1, 2, 3};
  double a2[5] = {0, 1, 2, 2, 4}, b2[5] = {5, 6, 7, 7, 8};
  ASSERT_EQ(RemoveDuplicatesFromBothArrays(a1, b1, a2, b2, 5, 1e-9), 3);
  const double ea1[3] = {0, 1, 3}, ea2[3] = {0, 2, 4};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(a1[i], ea1[i]);
    EXPECT_EQ(b1[i], ea1[i]);
    EXPECT_EQ(a2[i], ea2[i]);
  }
}

// The fillet box of surfaces extended by one span at each end holds the unextended domains'
// images; a trace running through it is clipped exactly onto its sides, and a trace wholly
// outside gives 1969.
TEST_F(FilletTrim, TraceClippedToTheBox) {
  BsplineKeeper keep;
  Bspline* s = keep(Floor());
  double box[16];
  for (int i = 0; i < 4; ++i) {
    box[i] = 0.1;
    box[i + 4] = 0.9;
    box[i + 8] = 0.0;
    box[i + 12] = 1.0;
  }
  double u1 = 0.5, v1 = 0.5, u2 = 0.5, v2 = 0.5;
  EXPECT_EQ(ExtrapolatePt(&u1, &v1, &u2, &v2, 0.4, 0.4, 0.4, 0.4, box), 0);
  EXPECT_EQ(u1, 0.5);
  // From (0.5, 0.5) toward (1.0, 0.7) on both: cut where u reaches 0.9.
  u1 = u2 = 1.0;
  v1 = v2 = 0.7;
  EXPECT_EQ(ExtrapolatePt(&u1, &v1, &u2, &v2, 0.5, 0.5, 0.5, 0.5, box), 1);
  EXPECT_DOUBLE_EQ(u1, 0.9);
  EXPECT_DOUBLE_EQ(u2, 0.9);
  EXPECT_NEAR(v1, 0.66, 1e-12);
  EXPECT_NEAR(v2, 0.66, 1e-12);

  IntersectionTrace* t = MallocIntersectionTrace();
  for (int i = 0; i <= 10; ++i) {
    const double x = i / 10.0, P[3] = {x, 0.5, 0};
    AppendTraceNode(t, P, x, 0.5, x, 0.5)->filletParam = 0.25;
  }
  t->open = 1;
  IntersectionTrace* out = nullptr;
  ASSERT_EQ(SnipCurveToBnd(s, s, t, &out, box), 0);
  ASSERT_EQ(out->nodeCount, 11);  // 0.1 .. 0.9 and the two points on the box
  EXPECT_DOUBLE_EQ(out->head->u1, 0.1);
  EXPECT_DOUBLE_EQ(out->tail->u2, 0.9);
  EXPECT_EQ(out->tail->filletParam, 0.25);
  EXPECT_EQ(out->open, 1);
  for (IntersectionTraceNode* n = out->head; n; n = n->next) {
    EXPECT_GE(n->u1, 0.1 - 1e-12);
    EXPECT_LE(n->u1, 0.9 + 1e-12);
  }
  // Mapped back to the unextended domain, the clipped ends are its edges.
  ScaleCurveToOrigSurf(s, s, out, 1, 1, box);
  EXPECT_NEAR(out->head->u1, 0.0, 1e-12);
  EXPECT_NEAR(out->tail->u1, 1.0, 1e-12);
  FreeTraceNodes(out);
  Free(out);
  for (IntersectionTraceNode* n = t->head; n; n = n->next) n->v1 = n->v2 = 0.95;
  ASSERT_EQ(SnipCurveToBnd(s, s, t, &out, box), 1969);
  EXPECT_EQ(out->nodeCount, 0);
  FreeTraceNodes(out);
  Free(out);
  FreeTraceNodes(t);
  Free(t);
}

// A walk needs a crossing of side 1 on the loop: a list of side-2 crossings only, or one whose
// neighbour along the contact curve is missing, ends with -2 and leaves the list whole.
TEST_F(FilletTrim, BoundedTrimLoopWalks) {
  BsplineKeeper keep;
  Bspline* s = keep(Floor());
  TrimList* loop = Rectangle(s, 0.2, 0.8, 0.2, 0.8, 0);
  BsplineList* left = loop->loopCurves->next->next->next;  // u = 0.2, running down
  BsplineList* right = loop->loopCurves->next;             // u = 0.8, running up
  std::vector<TArrayNode> n(2);
  n[0] = TArrayNode{&n[1], nullptr, 0.2, 0.2, 0.5, 1, left, 2, 0, nullptr, nullptr};
  n[1] = TArrayNode{nullptr, &n[0], 0.8, 0.8, 0.5, 1, right, 2, 0, nullptr, nullptr};
  TArrayList list{&n[0], &n[1], 2};
  BsplineList* made = nullptr;
  EXPECT_EQ(CreateFilletsWithTrim(s, &list, &made, &list, 1), -2);
  EXPECT_EQ(made, nullptr);
  EXPECT_EQ(CountTrimCurves(s), 1);
}

}  // namespace

namespace {

// The fillet pipeline in its data-flow order on the floor z = 0 (S1: u = x, v = y) and a wall
// through the line x = 0.5 leaning 70 degrees over the floor's far side (S2: u = y, v up the
// wall), both bicubic: extension, the box, intersection, fillet trace, clipping, contact
// curves. A ball of radius r in a 70-degree wedge touches the floor r / tan 35 from the line.
struct Wedge {
  BsplineKeeper keep;
  Bspline* S1;
  Bspline* S2;
  Bspline* A = nullptr;  // contact curves on S1 and S2
  Bspline* B = nullptr;
  Bspline* ref = nullptr;  // the intersection on the extended S1
  Bspline* E1 = nullptr;
  Bspline* E2 = nullptr;
  double box[16];
  static constexpr double r = 0.1;
  explicit Wedge(double trimLo = -1.0, double trimHi = -1.0) {
    const double c = std::cos(70 * M_PI / 180), s = std::sin(70 * M_PI / 180);
    const double O1[3] = {0, 0, 0}, ex[3] = {1, 0, 0}, ey[3] = {0, 1, 0};
    const double O2[3] = {0.5 - 0.5 * c, 0, -0.5 * s}, d[3] = {c, 0, s};
    S1 = keep(shapes::Plane(O1, ex, ey));
    S2 = keep(shapes::Plane(O2, ey, d));
    if (trimLo >= 0) Rectangle(S1, 0.0, 1.0, trimLo, trimHi, 0);
    E1 = CopyBsplineSurface(S1);  // replaced by their extensions, then kept
    E2 = CopyBsplineSurface(S2);
  }
  // The contact curves' ends as withdrawn entries of the crossing list.
  void InsertEnds(TArrayList** holder) {
    const double endsA[2] = {Lo(A), Hi(A)}, endsB[2] = {Lo(B), Hi(B)}, none[2] = {-100, -100};
    InsertIntoOrderedTArrayList(endsA, none, nullptr, nullptr, 2, holder, 1, 0, 0, 0, 0);
    InsertIntoOrderedTArrayList(endsB, none, nullptr, nullptr, 2, holder, 2, Lo(A), Hi(A), Lo(B),
                                Hi(B));
  }
  // 0 when every step ran.
  int Build() {
    int flags[4];
    const int e1 = ExtendObjectsInAllDir(&E1, 0.05, flags);
    const int e2 = ExtendObjectsInAllDir(&E2, 0.05, flags);
    keep(E1);
    keep(E2);
    if (e1 != 0 || e2 != 0) return 1;
    SetOrigNewMinMax(E1, E2, S1, S2, 1, 1, box);
    IntersectionTraceList* list = MallocIntersectionTraceList();
    int rc = NewIntersect(E1, E2, list, 0.001, 1e-7);
    IntersectionTrace* fillet = MallocIntersectionTrace();
    IntersectionTrace* clipped = nullptr;
    Bspline* refPair[2] = {nullptr, nullptr};
    if (rc == 0 && list->count == 1) {
      IntersectionTrace* trace = list->head;
      RearrangeIntersectList(trace);
      CreateIntersectionCurves(E1, E2, trace, refPair, 1, 1);
      ref = refPair[0];
      SetRadiusArray(E1, trace, r, 0, 0, 0, 0, 0, 0);
      rc = NewFilletTrace(E1, E2, trace, fillet, 1e-9);
      if (rc == 0) rc = SnipCurveToBnd(E1, E2, fillet, &clipped, box);
      if (rc == 0) {
        ScaleCurveToOrigSurf(S1, S2, clipped, 1, 1, box);
        Bspline* pair[2] = {nullptr, nullptr};
        rc = CreateIntersectionCurves(S1, S2, clipped, pair, 1, 1);
        A = pair[0];
        B = pair[1];
      }
    } else {
      rc = 2;
    }
    FreeIntersectionTraceList(list);
    FreeTraceNodes(fillet);
    Free(fillet);
    if (clipped) {
      FreeTraceNodes(clipped);
      Free(clipped);
    }
    return rc;
  }
};

// The contact curves lie where the ball touches: on the floor r / tan 35 beyond the line, from
// edge to edge of the unextended floor. Untrimmed: one fillet surface whose edges run along
// both contact curves, and the floor trimmed to the side away from the wall.
TEST_F(FilletTrim, FilletPipelineUntrimmed) {
  Wedge w;
  ASSERT_EQ(w.Build(), 0);
  const double x = 0.5 + Wedge::r / std::tan(35 * M_PI / 180);
  double uv[2], P[3];
  for (int i = 0; i <= 8; ++i) {
    const double t = Lo(w.A) + i / 8.0 * (Hi(w.A) - Lo(w.A));
    Eval3DPointOnBsplOnSurfArray(nullptr, w.A, t, 0, 0, P);
    EXPECT_NEAR(P[0], x, 1e-5) << t;
    EXPECT_NEAR(P[2], 0.0, 1e-12);
  }
  Eval2DPointOnCurve2Array(nullptr, w.A, Lo(w.A), 0, uv);
  const double v0 = uv[1];
  Eval2DPointOnCurve2Array(nullptr, w.A, Hi(w.A), 0, uv);
  EXPECT_NEAR(std::fmin(v0, uv[1]), 0.0, 1e-6);
  EXPECT_NEAR(std::fmax(v0, uv[1]), 1.0, 1e-6);

  // The crossing list of an untrimmed pair holds the curve ends only.
  TArrayList list{nullptr, nullptr, 0};
  TArrayList* holder = &list;
  w.InsertEnds(&holder);
  ASSERT_EQ(list.count, 4);
  BsplineList* surfaces = nullptr;
  ASSERT_EQ(GetFilletSurfaces(w.A, w.B, &list, 1, 1, &surfaces), 0);
  ASSERT_EQ(Count(surfaces), 1);
  TArrayNode* built = nullptr;
  for (TArrayNode* e = list.head; e; e = e->next)
    if (e->pieceA) built = e;
  ASSERT_NE(built, nullptr);
  // Both edges of the fillet across the curves follow the contact curves.
  Bspline* f = surfaces->item;
  for (int k = 0; k <= 4; ++k) {
    const double s = k / 4.0;
    for (int side = 0; side < 2; ++side) {
      Bspline* c = side ? built->pieceB : built->pieceA;
      double C[3], F[3];
      Eval3DPointOnBsplOnSurfArray(nullptr, c, Lo(c) + s * (Hi(c) - Lo(c)), 0, 0, C);
      const double fu = f->knotsU[f->degreeU] + s * (f->knotsU[NumCtrlU(f)] - f->knotsU[f->degreeU]);
      const double fv = side ? f->knotsV[NumCtrlV(f)] : f->knotsV[f->degreeV];
      Eval3DPointOnSurfArray(f, fu, fv, 0, 0, F);
      EXPECT_NEAR(std::hypot(F[0] - C[0], F[1] - C[1], F[2] - C[2]), 0.0, 1e-6) << s << side;
    }
  }
  // The floor is trimmed along its contact piece, keeping the side away from the wall.
  PutBsplToSurfCrvList(built->pieceA, w.S1);
  BsplineList* contact = MallocNullBsplineList();  // becomes the loop's node
  contact->item = built->pieceA;
  built->pieceA = nullptr;
  EXPECT_EQ(TrimOrigSurfaces(w.S1, contact, w.ref, 1, 0, 1, w.box), 0);
  EXPECT_EQ(CountTrimCurves(w.S1), 1);
  EXPECT_EQ(IsPointInTrim(w.S1, 0.9, 0.5), 1);
  EXPECT_EQ(IsPointInTrim(w.S1, 0.3, 0.5), 0);
  FreeBspline(built->pieceB);
  FreeTArrayNodes(&list);
  FreeCurvesAndNodes(surfaces);
}

// Trimmed to 0.2 <= y <= 0.8: the contact curve crosses the floor's loop twice; one fillet
// surface is built on the stretch inside, and the walk makes one closed loop of the old loop's
// stretches and that contact piece.
TEST_F(FilletTrim, FilletPipelineTrimmed) {
  Wedge w(0.2, 0.8);
  ASSERT_EQ(w.Build(), 0);
  TArrayList list{nullptr, nullptr, 0};
  TArrayList* holder = &list;
  CrvIntrList scratch{0, nullptr, nullptr};
  ASSERT_EQ(GetFilletCrvIntrList(w.S1, w.A, &holder, &scratch, w.ref, 1, Lo(w.A), Hi(w.A), Lo(w.B),
                                 Hi(w.B), 1, 1e-6),
            0);
  ClearCrvIntrList(&scratch);
  ASSERT_EQ(list.count, 2);
  EXPECT_EQ(CheckInOuts(&list), 1);
  TArrayList k1{nullptr, nullptr, 0}, k2{nullptr, nullptr, 0};
  SeparateTArrayLists(&list, &k1, &k2);
  w.InsertEnds(&holder);
  ASSERT_EQ(list.count, 6);
  BsplineList* surfaces = nullptr;
  ASSERT_EQ(GetFilletSurfaces(w.A, w.B, &list, 1, 1, &surfaces), 0);
  ASSERT_EQ(Count(surfaces), 1);
  BsplineList* loop = nullptr;
  ASSERT_EQ(CreateFilletsWithTrim(w.S1, &k1, &loop, &list, 1), 0);
  EXPECT_EQ(w.S1->trims, nullptr);  // the walked loop was released
  ASSERT_EQ(Count(loop), 4);
  // Consecutive curves of the new loop meet.
  for (BsplineList* c = loop; c; c = c->next) {
    const Bspline* a = c->item;
    const Bspline* b = c->next ? c->next->item : loop->item;
    double e[2], s[2];
    Eval2DPointOnCurve2Array(nullptr, a, Hi(a), 0, e);
    Eval2DPointOnCurve2Array(nullptr, b, Lo(b), 0, s);
    EXPECT_NEAR(std::hypot(e[0] - s[0], e[1] - s[1]), 0.0, 1e-6);
    EXPECT_EQ(a->owner, w.S1);
  }
  TrimList* made = nullptr;
  ASSERT_EQ(ConstructTrimCurveList(w.S1, loop, 0, 0, nullptr, nullptr, 0, 0, 1, nullptr, &made), 0);
  EXPECT_EQ(CountTrimCurves(w.S1), 1);
  EXPECT_EQ(IsPointInTrim(w.S1, 0.9, 0.5), 1);
  EXPECT_EQ(IsPointInTrim(w.S1, 0.3, 0.5), 0);
  EXPECT_EQ(IsPointInTrim(w.S1, 0.9, 0.1), 0);
  for (TArrayNode* e = list.head; e; e = e->next) {
    EXPECT_EQ(e->pieceA, nullptr);  // taken by the walk
    FreeBspline(e->pieceB);
  }
  FreeTArrayNodes(&list);
  FreeTArrayNodes(&k1);
  FreeTArrayNodes(&k2);
  FreeCurvesAndNodes(surfaces);
}

}  // namespace

namespace {

// Points on a trim curve, or just off it, count as inside; the distance is the exact one.
// Contact curves ending inside the domain are extended; ones running edge to edge are not.
TEST_F(FilletTrim, BoundaryToleranceAndExtendedContacts) {
  for (double scale : {1e-6, 1.0, 1e6}) {
    BsplineKeeper keep;
    Bspline* s = keep(Floor(scale));
    Rectangle(s, 0.2, 0.8, 0.2, 0.8, 0);
    EXPECT_EQ(IsPointInTrimOrBndry(s, 0.5, 0.5), 1);
    EXPECT_EQ(IsPointInTrimOrBndry(s, 0.8 + 1e-6, 0.5), 1) << scale;
    EXPECT_EQ(IsPointInTrimOrBndry(s, 0.81, 0.5), 0);
    EXPECT_NEAR(FindShortestDistanceFromTrimCurves(s, 0.81, 0.5), 0.01 * scale, 1e-9 * scale);
  }
  BsplineKeeper keep;
  Bspline* s = keep(Floor());
  Bspline* across = Segment(s, 0.0, 0.5, 1.0, 0.5);
  int extended = -1;
  double su = 9, sv = 9, eu = 9, ev = 9;
  ASSERT_EQ(ExtendFilletToBndry(&across, &extended, &su, &sv, &eu, &ev), 0);
  EXPECT_EQ(extended, 0);
  EXPECT_EQ(su, 9);
  Bspline* inner = Segment(s, 0.3, 0.5, 0.7, 0.5);
  ASSERT_EQ(ExtendFilletToBndry(&inner, &extended, &su, &sv, &eu, &ev), 0);
  EXPECT_EQ(extended, 1);
  EXPECT_EQ(inner->owner, s);
  EXPECT_LT(su, 0.3 - 1e-3);
  EXPECT_GT(eu, 0.7 + 1e-3);
  EXPECT_NEAR(sv, 0.5, 1e-9);
  EXPECT_NEAR(ev, 0.5, 1e-9);
}

// Fillet surfaces under injected allocation failures: the contact curves are consumed on every
// path, a failure is reported, nothing stays tracked and nothing leaks.
TEST_F(FilletTrim, FilletSurfacesUnderInjectedFailures) {
  Wedge w(0.2, 0.8);
  ASSERT_EQ(w.Build(), 0);
  const int failed = RunWithInjectedFailures(3000, 37, [&] {
    Bspline* a = CopyCurveBspline(w.A);
    Bspline* b = CopyCurveBspline(w.B);
    if (!a || !b) {
      FreeBspline(a);
      FreeBspline(b);
      return -2;
    }
    a->owner = w.S1;
    b->owner = w.S2;
    TArrayList list{nullptr, nullptr, 0};
    TArrayList* holder = &list;
    int r = GetFilletCrvIntrList(w.S1, a, &holder, nullptr, w.ref, 1, Lo(a), Hi(a), Lo(b), Hi(b), 1,
                                 1e-6);
    BsplineList* surfaces = nullptr;
    const int g = GetFilletSurfaces(a, b, &list, 0, 0, &surfaces);
    if (r == 0) r = g;
    if (r == 0) {
      EXPECT_EQ(Count(surfaces), 1);
    }
    for (TArrayNode* e = list.head; e; e = e->next) {
      FreeBspline(e->pieceA);
      FreeBspline(e->pieceB);
    }
    FreeTArrayNodes(&list);
    FreeCurvesAndNodes(surfaces);
    return r;
  });
  EXPECT_GT(failed, 0);
}

}  // namespace
