// Surface-surface intersection: the box grid against brute force, traced branches against exact
// intersections (plane/plane lines, plane/cylinder and sphere/plane circles) at every unit of
// length, the driver's contract and its clean failure under injected allocation failures.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "bspline/ctrlnubs.h"
#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "curve/crvintr.h"
#include "foundation/makemat.h"
#include "intersect/filutil.h"
#include "intersect/newintr.h"
#include "intersect/newtrace.h"
#include "intersect/newtrace_internal.h"
#include "surface/trimutils.h"
#include "tests/intersect/shapes.h"
#include "tests/support/builders.h"
#include "tests/support/checks.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class BoxGrid : public KernelTest {};
class Tracing : public KernelTest {};

std::vector<double> RandomArray(std::mt19937& rng, int n) {
  std::vector<double> p(n);
  p[0] = Uniform(rng, -1, 1);
  for (int i = 1; i < n; ++i) p[i] = p[i - 1] + Uniform(rng, 0.05, 1.0);
  return p;
}

TEST_F(BoxGrid, BoxOfAPointMatchesALinearScan) {
  std::mt19937 rng(7);
  for (int round = 0; round < 50; ++round) {
    const int NU = 3 + round % 6, NV = 2 + round % 5;
    const std::vector<double> us = RandomArray(rng, NU), vs = RandomArray(rng, NV);
    const double tu = 1e-6 * (us.back() - us[0]), tv = 1e-6 * (vs.back() - vs[0]);
    auto scan = [](const std::vector<double>& p, double t) {
      int b = 0;  // below the first value: box 0; at or beyond the last: the last box
      for (int i = 0; i + 1 < int(p.size()); ++i)
        if (t >= p[i]) b = i;
      return b;
    };
    for (int k = 0; k < 40; ++k) {
      const double u = Uniform(rng, us[0] - 0.5, us.back() + 0.5);
      const double v = Uniform(rng, vs[0] - 0.5, vs.back() + 0.5);
      int i = -1, j = -1;
      GetBoxesRange(us.data(), vs.data(), u, v, NU, NV, &i, &j, tu, tv);
      EXPECT_EQ(i, scan(us, u)) << u;
      EXPECT_EQ(j, scan(vs, v)) << v;
      EXPECT_EQ(ChkPtNotInBox(us.data(), vs.data(), i, j, u, v, tu, tv),
                u < us[0] || u > us.back() - tu || v < vs[0] || v > vs.back() - tv ? 1 : 0);
    }
    // A value on an interior line belongs to the upper box; one within tol of the last value
    // to the last box.
    for (int k = 1; k + 1 < NU; ++k) {
      int i = -1, j = -1;
      GetBoxesRange(us.data(), vs.data(), us[k], vs[0], NU, NV, &i, &j, tu, tv);
      EXPECT_EQ(i, k);
      EXPECT_EQ(ChkPtNotInBox(us.data(), vs.data(), k - 1, 0, us[k], vs[0], tu, tv), 1);
      EXPECT_EQ(ChkPtNotInBox(us.data(), vs.data(), k, 0, us[k], vs[0], tu, tv), 0);
    }
    int i = -1, j = -1;
    GetBoxesRange(us.data(), vs.data(), us.back() - 0.5 * tu, vs[0], NU, NV, &i, &j, tu, tv);
    EXPECT_EQ(i, NU - 2);
  }
}

// The marks a step leaves against the box pairs met by a fine walk along it.
TEST_F(BoxGrid, CrossingsAndMarksMatchAFineWalk) {
  std::mt19937 rng(11);
  int checked = 0;
  for (int round = 0; round < 60; ++round) {
    const int NU1 = 6, NV1 = 5, NU2 = 4, NV2 = 7;
    const std::vector<double> us1 = RandomArray(rng, NU1), vs1 = RandomArray(rng, NV1);
    const std::vector<double> us2 = RandomArray(rng, NU2), vs2 = RandomArray(rng, NV2);
    const std::vector<double>* arr[4] = {&us1, &vs1, &us2, &vs2};
    double a[4], b[4], tol[4];
    for (int k = 0; k < 4; ++k) {
      a[k] = Uniform(rng, arr[k]->front(), arr[k]->back());
      b[k] = Uniform(rng, arr[k]->front(), arr[k]->back());
      tol[k] = 1e-6 * (arr[k]->back() - arr[k]->front());
    }
    int box0[4], box1[4];
    GetBoxesRange(us1.data(), vs1.data(), a[0], a[1], NU1, NV1, &box0[0], &box0[1], tol[0], tol[1]);
    GetBoxesRange(us2.data(), vs2.data(), a[2], a[3], NU2, NV2, &box0[2], &box0[3], tol[2], tol[3]);
    GetBoxesRange(us1.data(), vs1.data(), b[0], b[1], NU1, NV1, &box1[0], &box1[1], tol[0], tol[1]);
    GetBoxesRange(us2.data(), vs2.data(), b[2], b[3], NU2, NV2, &box1[2], &box1[3], tol[2], tol[3]);
    std::vector<int> d1(NU1 * NV1), i1(NU1 * NV1), d2(NU2 * NV2), i2(NU2 * NV2);
    std::vector<double> f1(NU1 * NV1), f2(NU2 * NV2);
    int n1 = 0, n2 = 0;
    GetAllBoxesBetweenPoints(us1.data(), vs1.data(), a[0], a[1], b[0], b[1], box0[0], box0[1],
                             box1[0], box1[1], d1.data(), i1.data(), f1.data(), &n1);
    GetAllBoxesBetweenPoints(us2.data(), vs2.data(), a[2], a[3], b[2], b[3], box0[2], box0[3],
                             box1[2], box1[3], d2.data(), i2.data(), f2.data(), &n2);
    EXPECT_EQ(n1, std::abs(box1[0] - box0[0]) + std::abs(box1[1] - box0[1]));
    EXPECT_EQ(n2, std::abs(box1[2] - box0[2]) + std::abs(box1[3] - box0[3]));
    // Events closer than the walk's resolution would make the walk miss a pair.
    std::vector<double> all(f1.begin(), f1.begin() + n1);
    all.insert(all.end(), f2.begin(), f2.begin() + n2);
    std::sort(all.begin(), all.end());
    bool separated = true;
    for (size_t k = 1; k < all.size(); ++k)
      if (all[k] - all[k - 1] < 1e-3) separated = false;
    if (!separated) continue;
    int** marks = allocate_matrix_ii(NU1 * NV1, NU2 * NV2);
    std::memset(marks[0], 0, sizeof(int) * NU1 * NV1 * NU2 * NV2);
    MarkAllBoxesBetweenPoints(i1.data(), d1.data(), i2.data(), d2.data(), f1.data(), f2.data(),
                              box0[0], box0[1], box0[2], box0[3], NU1, NV1, NU2, NV2, n1, n2, marks);
    std::set<std::pair<int, int>> walk, marked;
    const int steps = 20000;
    for (int s = 0; s <= steps; ++s) {
      const double f = double(s) / steps;
      double p[4];
      for (int k = 0; k < 4; ++k) p[k] = a[k] + f * (b[k] - a[k]);
      int bx[4];
      GetBoxesRange(us1.data(), vs1.data(), p[0], p[1], NU1, NV1, &bx[0], &bx[1], tol[0], tol[1]);
      GetBoxesRange(us2.data(), vs2.data(), p[2], p[3], NU2, NV2, &bx[2], &bx[3], tol[2], tol[3]);
      walk.insert({bx[1] * (NU1 - 1) + bx[0], bx[3] * (NU2 - 1) + bx[2]});
    }
    walk.erase({box0[1] * (NU1 - 1) + box0[0], box0[3] * (NU2 - 1) + box0[2]});
    for (int r = 0; r < NU1 * NV1; ++r)
      for (int c = 0; c < NU2 * NV2; ++c)
        if (marks[r][c]) marked.insert({r, c});
    EXPECT_EQ(marked, walk) << round;
    matrix_free_ih(marks);
    ++checked;
  }
  EXPECT_GT(checked, 20);

  // A step through a corner of box lines at one fraction: u first, so the pair between is marked.
  const double us[3] = {0, 1, 2}, vs[3] = {0, 1, 2}, flat[2] = {0, 1};
  int d[4], idx[4], n = 0, dd[4], ii[4], nn = 0;
  double fr[4], ff[4];
  GetAllBoxesBetweenPoints(us, vs, 0.5, 0.5, 1.5, 1.5, 0, 0, 1, 1, d, idx, fr, &n);
  GetAllBoxesBetweenPoints(flat, flat, 0.5, 0.5, 0.5, 0.5, 0, 0, 0, 0, dd, ii, ff, &nn);
  ASSERT_EQ(n, 2);
  EXPECT_EQ(nn, 0);
  EXPECT_EQ(d[0], 1);
  int** marks = allocate_matrix_ii(4, 1);
  std::memset(marks[0], 0, sizeof(int) * 4);
  MarkAllBoxesBetweenPoints(idx, d, ii, dd, fr, ff, 0, 0, 0, 0, 3, 3, 2, 2, n, 0, marks);
  EXPECT_EQ(marks[0][0], 0);  // the start pair
  EXPECT_EQ(marks[1][0], 1);  // u crossed first: box (1, 0)
  EXPECT_EQ(marks[3][0], 1);  // then box (1, 1)
  EXPECT_EQ(marks[2][0], 0);  // never box (0, 1)
  matrix_free_ih(marks);
}

TEST_F(BoxGrid, BoxOverlapMatchesAnExactTestOnRandomBoxes) {
  std::mt19937 rng(3);
  PatchBoxNode* A = MallocPatchBoxNode(0, 0, 2, 2, 0, 1, 0, 1);
  PatchBoxNode* B = MallocPatchBoxNode(0, 0, 2, 2, 0, 1, 0, 1);
  ASSERT_TRUE(A && B);
  A->boxReady = B->boxReady = 1;
  int overlaps = 0, apart = 0;
  for (int round = 0; round < 3000; ++round) {
    for (PatchBoxNode* n : {A, B})
      for (int q = 0; q < 3; ++q) {
        double lo = Uniform(rng, -1, 1), hi = lo + Uniform(rng, 0, 1.5);
        if (round % 7 == q) hi = lo;  // flat on this axis
        n->box[q] = lo;
        n->box[q + 3] = hi;
      }
    if (round % 10 == 5) {  // one inside the other
      PatchBoxNode* inner = round % 20 == 5 ? A : B;
      PatchBoxNode* outer = inner == A ? B : A;
      for (int q = 0; q < 3; ++q) {
        const double w = outer->box[q + 3] - outer->box[q];
        inner->box[q] = outer->box[q] + 0.3 * w;
        inner->box[q + 3] = outer->box[q] + 0.6 * w;
      }
    }
    bool exact = true;
    for (int q = 0; q < 3; ++q)
      if (A->box[q] > B->box[q + 3] || B->box[q] > A->box[q + 3]) exact = false;
    EXPECT_EQ(NewIntersectBoxes(nullptr, nullptr, A, B), exact ? 1 : 0) << round;
    (exact ? overlaps : apart)++;
  }
  EXPECT_GT(overlaps, 300);
  EXPECT_GT(apart, 300);
  FreePatchBoxTree(A);
  FreePatchBoxTree(B);
}

TEST_F(BoxGrid, ArraysAndPatchSplits) {
  BsplineKeeper keep;
  const double O[3] = {0, 0, 0}, e1[3] = {1, 0, 0}, e2[3] = {0, 1, 0};
  Bspline* quintic = keep(shapes::Plane(O, e1, e2, 1.0, 5, 6));
  Bspline* cubic = keep(shapes::Plane(O, e1, e2, 1.0, 3, 5));
  double *u1 = nullptr, *v1 = nullptr, *u2 = nullptr, *v2 = nullptr;
  ASSERT_EQ(SubDivisionArray(quintic, cubic, &u1, &v1, &u2, &v2), 0);
  EXPECT_EQ(BoxArrayCount(quintic, 0), 11);
  EXPECT_EQ(BoxArrayCount(cubic, 1), 5);
  // The quintic's Greville values with their midpoints between.
  const std::vector<double> g = shapes::Greville(5, 6);
  for (int i = 0; i < 11; ++i)
    EXPECT_NEAR(u1[i], i % 2 ? 0.5 * (g[i / 2] + g[i / 2 + 1]) : g[i / 2], 1e-15);
  const std::vector<double> h = shapes::Greville(3, 5);
  for (int i = 0; i < 5; ++i) EXPECT_NEAR(v2[i], h[i], 1e-15);
  for (double* a : {u1, v1, u2, v2}) Free(a);

  // A patch of 3 by 2 values splits in u into two of 2 by 2 sharing the middle value.
  const double us[3] = {0, 0.4, 1}, vs[2] = {0, 1};
  PatchBoxNode* n = MallocPatchBoxNode(0, 0, 3, 2, 0, 1, 0, 1);
  ASSERT_EQ(newCheckSubdivTree(n, us, vs), 0);
  ASSERT_EQ(n->split, 1);
  EXPECT_EQ(n->child[0]->countU, 2);
  EXPECT_EQ(n->child[1]->firstU, 1);
  EXPECT_EQ(n->child[1]->countU, 2);
  EXPECT_EQ(n->child[0]->umax, 0.4);
  EXPECT_EQ(n->child[1]->umin, 0.4);
  ASSERT_EQ(newCheckSubdivTree(n->child[0], us, vs), 0);
  EXPECT_EQ(n->child[0]->split, -1);
  FreePatchBoxTree(n);
}

// ---- Traces ----------------------------------------------------------------------------------

double Dist(const double a[3], const double b[3]) {
  return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) +
                   (a[2] - b[2]) * (a[2] - b[2]));
}

// Every node on both surfaces within tol; forward and backward nodes advance without reversal
// in surface 1's parameters. Returns the node count.
int CheckTrace(Bspline* s1, Bspline* s2, const IntersectionTrace* t, double tol) {
  int n = 0;
  double prevStep[2] = {0, 0};
  for (const IntersectionTraceNode* m = t->head; m; m = m->next, ++n) {
    double P[3] = {m->x, m->y, m->z}, A[3], B[3];
    Eval3DPointOnSurfCoord(s1, m->u1, m->v1, 0, 0, A);
    Eval3DPointOnSurfCoord(s2, m->u2, m->v2, 0, 0, B);
    EXPECT_LT(Dist(P, A), tol) << n;
    EXPECT_LT(Dist(P, B), tol) << n;
    if (!m->prev || (t->open == 0 && !m->next)) continue;
    const IntersectionTraceNode* from = m->prev == t->turn ? t->head : m->prev;
    const double step[2] = {m->u1 - from->u1, m->v1 - from->v1};
    if (m->prev != t->turn && m->prev != t->head) {
      EXPECT_GE(step[0] * prevStep[0] + step[1] * prevStep[1], 0.0) << n;
    }
    prevStep[0] = step[0];
    prevStep[1] = step[1];
  }
  EXPECT_EQ(n, t->nodeCount);
  return n;
}

bool OnEdge(const Bspline* s, double u, double v) {
  return std::fabs(u) < 1e-9 || std::fabs(u - 1) < 1e-9 || std::fabs(v) < 1e-9 ||
         std::fabs(v - 1) < 1e-9 || (s == nullptr);
}

void Scale(Bspline* s, double f, const double shift[3]) {
  double** c[3] = {s->X, s->Y, s->Z};
  for (int q = 0; q < 3; ++q)
    for (int i = 0; i < NumCtrlU(s) * NumCtrlV(s); ++i) c[q][0][i] = f * (c[q][0][i] + shift[q]);
}

// The exact intersections at every unit of length: a plane/plane line crossing a patch edge to
// edge, a plane/cylinder half circle and a sphere/plane arc, each one open branch whose nodes
// lie on the exact curve.
// One trim curve's hits, found in any order, enter the crossing list sorted along the cutting
// curve with their trim parameters and trim node; the second curve's hits sort by their place
// in its own range among the first's.
TEST_F(Tracing, TrimCurveHitsEnterTheCrossingListInOrder) {
  using Hits = std::vector<std::pair<double, double>>;
  auto hitsOf = [](std::vector<CrvIntrNode>& nodes, const Hits& t) {
    nodes.resize(t.size());
    for (size_t i = 0; i < t.size(); ++i)
      nodes[i] = {i + 1 < t.size() ? &nodes[i + 1] : nullptr, i ? &nodes[i - 1] : nullptr,
                  t[i].first, t[i].second};
    return CrvIntrList{int(t.size()), &nodes[0], &nodes.back()};
  };
  TArrayList list{nullptr, nullptr, 0};
  TArrayList* holder = &list;
  BsplineList trimA{}, trimB{};
  std::vector<CrvIntrNode> a, b;
  CrvIntrList hitsA = hitsOf(a, {{0.7, 0.1}, {0.2, 0.9}, {0.45, 0.5}});
  ASSERT_EQ(InsertIntoInterArrayList(&hitsA, &trimA, nullptr, &holder, 1, 0.0, 1.0, 2.0, 4.0), 0);
  // On [2, 4] these sit at 0.1 and 0.6 of the range.
  CrvIntrList hitsB = hitsOf(b, {{3.2, 0.3}, {2.2, 0.4}});
  ASSERT_EQ(InsertIntoInterArrayList(&hitsB, &trimB, nullptr, &holder, 2, 0.0, 1.0, 2.0, 4.0), 0);
  CrvIntrList none{0, nullptr, nullptr};
  EXPECT_EQ(InsertIntoInterArrayList(&none, &trimB, nullptr, &holder, 2, 0.0, 1.0, 2.0, 4.0), 0);
  ASSERT_EQ(list.count, 5);
  const double params[5] = {2.2, 0.2, 0.45, 3.2, 0.7};
  const double trims[5] = {0.4, 0.9, 0.5, 0.3, 0.1};
  const int kinds[5] = {2, 1, 1, 2, 1};
  int i = 0;
  for (const TArrayNode* n = list.head; n && i < 5; n = n->next, ++i) {
    EXPECT_EQ(n->param, params[i]) << i;
    EXPECT_EQ(n->trimParam, trims[i]) << i;
    EXPECT_EQ(n->kind, kinds[i]) << i;
    EXPECT_EQ(n->trimCurve, kinds[i] == 1 ? &trimA : &trimB) << i;
    EXPECT_EQ(n->side, 0) << i;  // no reference curve to tell the side
  }
  FreeTArrayNodes(&list);
}

TEST_F(Tracing, ExactIntersectionsAtEveryScale) {
  const double shift[3] = {3, -2, 1};
  for (int shape = 0; shape < 3; ++shape) {
    int unitNodes = -1;
    for (double s : {1e-6, 1e-3, 1.0, 1e3, 1e6}) {
      BsplineKeeper keep;
      Bspline *a, *b;
      const double O[3] = {-1.5, -1.5, 0.3}, ex[3] = {3, 0, 0}, ey[3] = {0, 3, 0};
      if (shape == 0) {
        const double o2[3] = {0.35, -0.2, -0.5}, f1[3] = {0.4, 1.4, 0}, f2[3] = {0.1, 0, 1};
        const double o1[3] = {0, 0, 0}, g1[3] = {1, 0, 0}, g2[3] = {0, 1, 0};
        a = keep(shapes::Plane(o1, g1, g2));
        b = keep(shapes::Plane(o2, f1, f2));
      } else if (shape == 1) {
        a = keep(shapes::Plane(O, ex, ey));
        b = keep(shapes::HalfCylinder(1.0, -1.0, 1.0));
      } else {
        const double o[3] = {-0.2, -0.2, 0.2}, px[3] = {1.5, 0, 0}, py[3] = {0, 1.5, 0};
        a = keep(shapes::SpherePatch());
        b = keep(shapes::Plane(o, px, py));
      }
      ASSERT_TRUE(a && b);
      Scale(a, s, shift);
      Scale(b, s, shift);
      IntersectionTraceList* list = MallocIntersectionTraceList();
      ASSERT_EQ(NewIntersect(a, b, list, 0.01, 1e-6), 0);
      ASSERT_EQ(list->count, 1) << shape << " " << s;
      const IntersectionTrace* t = list->head;
      const double size = 4.0 * s;
      const int n = CheckTrace(a, b, t, 1e-6 * size);
      EXPECT_GT(n, 4);
      EXPECT_EQ(t->open, 1);
      for (const IntersectionTraceNode* m = t->head; m; m = m->next) {
        const double x = m->x / s - shift[0], y = m->y / s - shift[1], z = m->z / s - shift[2];
        if (shape == 0) {
          EXPECT_NEAR(z, 0.0, 4e-6);
          // On the line (0.4, -0.2) + a (0.4, 1.4) of the plane z = 0.
          EXPECT_NEAR((x - 0.4) * 1.4 - (y + 0.2) * 0.4, 0.0, 1e-5);
        } else if (shape == 1) {
          EXPECT_NEAR(z, 0.3, 4e-6);
          EXPECT_NEAR(std::hypot(x, y), 1.0, 4e-6);
        } else {
          EXPECT_NEAR(z, 0.2, 4e-6);
          EXPECT_NEAR(std::sqrt(x * x + y * y + z * z), 1.0, 4e-6);
        }
      }
      // Both ends of the open branch lie on a domain edge of one of the surfaces.
      for (const IntersectionTraceNode* e : {t->turn, t->tail}) {
        ASSERT_TRUE(e);
        EXPECT_TRUE(OnEdge(a, e->u1, e->v1) || OnEdge(b, e->u2, e->v2)) << shape << " " << s;
      }
      if (unitNodes < 0) unitNodes = n;
      EXPECT_NEAR(n, unitNodes, 2) << "the unit of length changed the trace " << s;
      FreeIntersectionTraceList(list);
    }
  }
}

// A cosine wave crossing a plane twice: two branches, each traced once, the later first in
// the driver's output; its curves lie on the surfaces they were made for.
TEST_F(Tracing, TwoBranchesAreTracedOnceEachAndComeOutLatestFirst) {
  BsplineKeeper keep;
  PatchOptions o;
  o.nu = o.nv = 8;
  Bspline* wave = keep(BuildFunctionPatch([](double x, double) { return 0.2 * std::cos(6.283185307179586 * x); }, o));
  const double O[3] = {0, 0, 0}, ex[3] = {1, 0, 0}, ey[3] = {0, 1, 0};
  Bspline* plane = keep(shapes::Plane(O, ex, ey, 1.0, 3, 5));
  IntersectionTraceList* list = MallocIntersectionTraceList();
  ASSERT_EQ(NewIntersect(wave, plane, list, 0.01, 1e-6), 0);
  ASSERT_EQ(list->count, 2);
  for (const IntersectionTrace* t = list->head; t; t = t->next) {
    CheckTrace(wave, plane, t, 4e-6);
    for (const IntersectionTraceNode* e : {t->turn, t->tail}) EXPECT_TRUE(OnEdge(wave, e->u1, e->v1));
  }
  const double firstU = list->head->head->u1, lastU = list->tail->head->u1;
  EXPECT_GT(std::fabs(firstU - lastU), 0.3);  // two separate branches
  FreeIntersectionTraceList(list);

  // The plane's parameter speed is a fifth below the wave's: both its knot vectors are scaled
  // by the driver, and its curves use the new parameters.
  const std::vector<double> before(plane->knotsV, plane->knotsV + NumKnotsV(plane));
  BsplineList* out = nullptr;
  ASSERT_EQ(CreateSrfSrfIntersectionCurves(wave, plane, &out), 1);
  const double ratio = plane->knotsU[NumCtrlU(plane)];
  EXPECT_GT(std::fabs(ratio - 1.0), 0.1);
  for (int i = 0; i < NumKnotsV(plane); ++i) EXPECT_NEAR(plane->knotsV[i], ratio * before[i], 1e-12);
  ASSERT_EQ(GetNumCurvePieces(out), 4);
  // The later-traced branch first: its first curve starts on the last trace's line (at the end
  // of its backward march, the branch put in one running order; u is constant along the line
  // up to the net's approximation of the cosine).
  EXPECT_NEAR(out->item->X[0][0], lastU, 1e-5);
  EXPECT_NEAR(out->next->next->item->X[0][0], firstU, 1e-5);
  for (BsplineList* n = out; n; n = n->next->next) {
    EXPECT_EQ(n->item->owner, wave);
    EXPECT_EQ(n->next->item->owner, plane);
    // Curve 1 through the wave and curve 2 through the plane give the same points.
    for (double t : {0.0, 0.3, 0.7, 1.0}) {
      double c1[3], c2[3], A[3], B[3];
      static const int d0[1] = {0};
      EvalPointOnGeometryM(n->item, t * n->item->knotsU[NumCtrlU(n->item)], 0, d0, d0, 1, 0,
                           reinterpret_cast<double(*)[3]>(c1));
      EvalPointOnGeometryM(n->next->item, t * n->next->item->knotsU[NumCtrlU(n->next->item)], 0,
                           d0, d0, 1, 0, reinterpret_cast<double(*)[3]>(c2));
      Eval3DPointOnSurfCoord(wave, c1[0], c1[1], 0, 0, A);
      Eval3DPointOnSurfCoord(plane, c2[0], c2[1], 0, 0, B);
      EXPECT_LT(Dist(A, B), 1e-3);
    }
  }
  while (out) {  // the curves go with their surfaces
    BsplineList* next = out->next;
    Free(out);
    out = next;
  }
}

TEST_F(Tracing, DriverContract) {
  BsplineKeeper keep;
  const double O[3] = {0, 0, 0}, ex[3] = {1, 0, 0}, ey[3] = {0, 1, 0};
  // Apart, and overlapping boxes without meeting (parallel tilted planes): null and 1.
  for (double gap : {10.0, 0.05}) {
    const double O2[3] = {0, 0, gap}, tilted[3] = {1, 0, 0.5};
    Bspline* a = keep(shapes::Plane(O, tilted, ey));
    Bspline* b = keep(shapes::Plane(O2, tilted, ey));
    BsplineList* out = nullptr;
    EXPECT_EQ(CreateSrfSrfIntersectionCurves(a, b, &out), 1);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(a->curves, nullptr);
  }
  // A shallow bump touching a plane at one point, the centre of a leaf of both (near enough for
  // the sampled boxes to meet): the seed there dies (-20) as the only trace and comes out as
  // point curves.
  const std::vector<double> g = shapes::Greville(2, 4);
  const double gz[4] = {3e-5, 0, 0, 3e-5};
  std::vector<double> pts;
  for (int j = 0; j < 4; ++j)
    for (int i = 0; i < 4; ++i) {
      pts.push_back(g[i]);
      pts.push_back(g[j]);
      pts.push_back(gz[i] + gz[j]);
    }
  Bspline* bump = keep(BuildSurface(2, 2, 4, 4, pts));
  Bspline* plane = keep(shapes::Plane(O, ex, ey, 1.0, 2, 4));
  BsplineList* out = nullptr;
  ASSERT_EQ(CreateSrfSrfIntersectionCurves(bump, plane, &out), 1);
  ASSERT_EQ(GetNumCurvePieces(out), 2);
  for (const Bspline* c : {out->item, out->next->item})
    for (int i = 0; i < NumCtrlU(c); ++i) {
      EXPECT_EQ(c->X[0][i], 0.5);
      EXPECT_EQ(c->Y[0][i], 0.5);
    }
  Free(out->next);
  Free(out);
}

// Tolerances that are no shares of the size to trace by (NaN, infinite, not positive, a point
// tolerance of the whole size or more) are refused with the error state set, the list left as
// it was, for a plane cutting a cylinder that meets it in a loop.
TEST_F(Tracing, ToleranceSharesThatAreNoTolerancesAreRefused) {
  BsplineKeeper keep;
  const double O[3] = {-1.5, -1.5, 0.3}, ex[3] = {3, 0, 0}, ey[3] = {0, 3, 0};
  Bspline* plane = keep(shapes::Plane(O, ex, ey));
  Bspline* cylinder = keep(shapes::Cylinder(1.0, -1.0, 1.0));
  const double nan = std::nan(""), inf = HUGE_VAL;
  const double bad[][2] = {{nan, 1e-6}, {0.01, nan}, {inf, 1e-6}, {0.01, inf}, {0.0, 1e-6},
                           {0.01, 0.0}, {-0.01, 1e-6}, {0.01, -1e-6}, {0.01, 1.0}, {0.01, 1e300}};
  for (const auto& tol : bad) {
    SetKernelError(0);
    IntersectionTraceList* list = MallocIntersectionTraceList();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(NewIntersect(plane, cylinder, list, tol[0], tol[1]), -2) << tol[0] << " " << tol[1];
    EXPECT_TRUE(KernelFailed()) << tol[0] << " " << tol[1];
    EXPECT_EQ(list->count, 0);
    EXPECT_EQ(list->head->nodeCount, 0);
    FreeIntersectionTraceList(list);
  }
  SetKernelError(0);
}

namespace {

// The plane at height 0.3 across the cylinder of radius 1 about z, 2 high, at a size moved 1e4 x
// the size, intersected at the two tolerances with either surface first: the traces, each node's
// distance from the exact circle (in unit coordinates) and its angle round the axis.
struct PlaneAcrossCylinder {
  int traces = 0, closed = 0;
  double worst = 0.0;
  std::vector<double> angles;
  PlaneAcrossCylinder(double scale, bool cylinderFirst, double tolA, double tolB) {
    const double a[3] = {0, 0, 1}, e[3] = {1, 0, 0}, O[3] = {-1.5, -1.5, 0.3}, ex[3] = {3, 0, 0}, ey[3] = {0, 3, 0};
    shapes::Place at;
    at.scale = scale;
    for (int q = 0; q < 3; ++q) at.shift[q] = 1e4 * scale * (q + 1);
    BsplineKeeper keep;
    Bspline* plane = keep(shapes::Plane(O, ex, ey, at));
    Bspline* cylinder = keep(shapes::Cylinder(a, e, 1.0, -1.0, 1.0, at));
    IntersectionTraceList* list = MallocIntersectionTraceList();
    if (!list) return;
    EXPECT_EQ(cylinderFirst ? NewIntersect(cylinder, plane, list, tolA, tolB) : NewIntersect(plane, cylinder, list, tolA, tolB), 0);
    EXPECT_FALSE(KernelFailed());
    for (IntersectionTrace* t = list->head; t; t = t->next) {
      traces += t->nodeCount > 0;
      closed += t->nodeCount > 0 && !t->open;
      for (IntersectionTraceNode* n = t->head; n; n = n->next) {
        double P[3];
        at.Unmap(&n->x, P);
        worst = std::fmax(worst, std::fmax(std::fabs(P[2] - 0.3), std::fabs(std::hypot(P[0], P[1]) - 1.0)));
        angles.push_back(std::atan2(P[1], P[0]));
      }
    }
    FreeIntersectionTraceList(list);
  }
};

}  // namespace

// A point tolerance no coordinate can resolve (a share of 1e-300) is traced to the coordinates'
// round-off: the plane across the cylinder, at sizes 1e-6, 1 and 1e6, either surface first,
// gives its circle with the error state clear, the nodes on it within 1e-9 of the size and round
// it from end to end (the largest gap between nodes seen from the axis under a quarter turn).
TEST_F(Tracing, APointToleranceBelowRoundOffTracesToTheRoundOff) {
  for (double scale : {1e-6, 1.0, 1e6})
    for (int first : {0, 1}) {
      PlaneAcrossCylinder cut(scale, first, 0.01, 1e-300);
      std::vector<double>& angles = cut.angles;
      ASSERT_FALSE(angles.empty()) << scale << " " << first;
      EXPECT_LT(cut.worst, 1e-9) << scale << " " << first;
      std::sort(angles.begin(), angles.end());
      double gap = angles.front() + 2 * M_PI - angles.back();
      for (size_t i = 1; i < angles.size(); ++i) gap = std::fmax(gap, angles[i] - angles[i - 1]);
      EXPECT_LT(gap, M_PI / 2) << scale << " " << first;
    }
}

// A chord height below the point tolerance (down to a share of 1e-300) traces as the point
// tolerance: the plane across the cylinder, at sizes 1e-6, 1 and 1e6, either surface first,
// gives its circle as one closed trace, the nodes on it within the point tolerance (of the
// pair's size, the diagonal of a 3 x 3 x 2 box).
TEST_F(Tracing, AChordHeightBelowThePointToleranceTracesAsThePointTolerance) {
  for (double scale : {1e-6, 1.0, 1e6})
    for (int first : {0, 1})
      for (double tolA : {1e-9, 1e-300}) {
        const PlaneAcrossCylinder cut(scale, first, tolA, 1e-6);
        EXPECT_EQ(cut.traces, 1) << scale << " " << first << " " << tolA;
        EXPECT_EQ(cut.closed, 1) << scale << " " << first << " " << tolA;
        EXPECT_LT(cut.worst, 1e-6 * std::sqrt(22.0)) << scale << " " << first << " " << tolA;
      }
}

// Points and first partials of a remembered pair (SurfaceJet in a RememberedSurfaceJets scope)
// are the evaluator's to the bit, evaluated or handed back, at parameters one ulp apart, on
// rational and non-rational patches of sizes 1e-6 and 1e6 placed 1e4 sizes from the origin; a
// surface outside the pair, a nested scope and a surface changed after its scope ended as well.
TEST_F(Tracing, RememberedSurfaceJetsAreTheEvaluatorsOwn) {
  BsplineKeeper keep;
  std::mt19937 rng(11);
  static const int du[3] = {0, 1, 0}, dv[3] = {0, 0, 1};
  auto same = [](Bspline* s, double u, double v) {
    double want[3][3], got[3][3];
    if (EvalPointOnGeometryM(s, u, v, du, dv, 3, 0, want) != 0 || SurfaceJet(s, u, v, got) != 0) return false;
    return std::memcmp(want, got, sizeof want) == 0;
  };
  for (double size : {1e-6, 1e6}) {
    Bspline* s[3];
    for (int k = 0; k < 3; ++k) {
      PatchOptions o;
      o.x0 = o.y0 = 1e4 * size, o.x1 = o.y1 = 1e4 * size + size;
      o.rational = k == 1, o.layout = KnotLayout::Random, o.seed = 5 + k;
      s[k] = keep(BuildFunctionPatch([&](double x, double y) { return size * std::sin((x + 2.0 * y) / size); }, o));
    }
    std::vector<std::pair<double, double>> at = {{0.0, 0.0}, {1.0, 1.0}, {0.5, 1.0}};
    for (int n = 0; n < 20; ++n) at.push_back({Uniform(rng, 0, 1), Uniform(rng, 0, 1)});
    RememberedSurfaceJets outer(s[0], s[1]);
    for (int round = 0; round < 2; ++round)  // evaluated, then handed back
      for (auto [u, v] : at)
        for (Bspline* x : s) {
          EXPECT_TRUE(same(x, u, v)) << size << " " << u << " " << v;
          EXPECT_TRUE(same(x, std::nextafter(u, 2.0), v) && same(x, u, std::nextafter(v, 2.0)));
        }
    {
      RememberedSurfaceJets inner(s[0], s[2]);
      EXPECT_TRUE(same(s[2], at[3].first, at[3].second) && same(s[1], at[3].first, at[3].second));
    }
    EXPECT_TRUE(same(s[0], at[4].first, at[4].second) && same(s[0], at[4].first, at[4].second));
  }
  // A surface changed once its scope ended is evaluated anew, within a new scope too.
  Bspline* a = keep(BuildFunctionPatch([](double x, double y) { return x * y; }));
  Bspline* b = keep(BuildFunctionPatch([](double x, double y) { return x - y; }));
  {
    RememberedSurfaceJets jets(a, b);
    EXPECT_TRUE(same(a, 0.5, 0.5));
  }
  a->Z[2][2] += 1.0;
  EXPECT_TRUE(same(a, 0.5, 0.5));
  RememberedSurfaceJets jets(a, b);
  EXPECT_TRUE(same(a, 0.5, 0.5) && same(a, 0.5, 0.5));
}

// The branch through a seed of the caller's choice, traced alone into a new list.
struct OneTrace {
  IntersectionTraceList* list = nullptr;
  double *us1 = nullptr, *vs1 = nullptr, *us2 = nullptr, *vs2 = nullptr;
  int** marks = nullptr;
  int rc = -2;
  // markAll: every box pair starts marked, as if earlier branches had passed them all.
  OneTrace(Bspline* s1, Bspline* s2, double u1, double v1, double u2, double v2,
           bool markAll = false) {
    if (SubDivisionArray(s1, s2, &us1, &vs1, &us2, &vs2) != 0) return;
    const int rows = BoxArrayCount(s1, 0) * BoxArrayCount(s1, 1);
    const int cols = BoxArrayCount(s2, 0) * BoxArrayCount(s2, 1);
    marks = allocate_matrix_ii(rows, cols);
    for (int r = 0; r < rows; ++r)
      for (int c = 0; c < cols; ++c) marks[r][c] = markAll ? 1 : 0;
    list = MallocIntersectionTraceList();
    list->count = 1;
    rc = NewIntersectTrace(s1, s2, u1, v1, u2, v2, us1, vs1, us2, vs2, marks, list, 0.01, 1e-6);
  }
  ~OneTrace() {
    FreeIntersectionTraceList(list);
    if (marks) matrix_free_ih(marks);
    for (double* a : {us1, vs1, us2, vs2}) Free(a);
  }
};

// Paths the tracer mends: surfaces crossing at a very small angle (nearly tangent steps), and a
// backward march into a region where the surfaces coincide (parallel normals: the march
// extrapolates its own last step). Both give finite traces that end on the domain edges.
TEST_F(Tracing, NearlyTangentAndExtrapolatedMarchesTerminate) {
  BsplineKeeper keep;
  const double O[3] = {0, 0, 0}, ex[3] = {1, 0, 0}, ey[3] = {0, 1, 0};
  const double Ot[3] = {0, 0, 1e-4 * -0.5}, et[3] = {0, 1, 1e-4};
  Bspline* plane = keep(shapes::Plane(O, ex, ey));
  Bspline* shallow = keep(shapes::Plane(Ot, ex, et));
  // z = (v - 1/2) H(u) with H zero for u <= 0.4: the surfaces coincide there.
  const std::vector<double> g = shapes::Greville(3, 8);
  std::vector<double> pts;
  for (int j = 0; j < 8; ++j)
    for (int i = 0; i < 8; ++i) {
      pts.push_back(g[i]);
      pts.push_back(g[j]);
      pts.push_back(i >= 5 ? 0.5 * (g[j] - 0.5) : 0.0);
    }
  Bspline* ramp = keep(BuildSurface(3, 3, 8, 8, pts));
  Bspline* pairs[4][2] = {{plane, shallow}, {shallow, plane}, {plane, ramp}, {ramp, plane}};
  for (int pair = 0; pair < 4; ++pair) {
    Bspline* s1 = pairs[pair][0];
    Bspline* s2 = pairs[pair][1];
    const double seedU = pair < 2 ? 0.3 : 0.55;  // the ramp: the first step back lands where they coincide
    OneTrace one(s1, s2, seedU, 0.5, seedU, 0.5);
    ASSERT_EQ(one.rc, 0);
    const IntersectionTraceList* list = one.list;
    const IntersectionTrace* t = list->head;
    CheckTrace(s1, s2, t, pair < 2 ? 1e-5 : 1e-6);
    EXPECT_LT(t->nodeCount, 2000);
    EXPECT_GT(t->nodeCount, 3);
    // Edge to edge, steps never longer than a knot span of the plane.
    EXPECT_TRUE(OnEdge(s1, t->turn->u1, t->turn->v1)) << pair;
    EXPECT_TRUE(OnEdge(s1, t->tail->u1, t->tail->v1)) << pair;
    EXPECT_NEAR(std::fabs(t->turn->u1 - t->tail->u1), 1.0, 1e-9) << pair;
    for (const IntersectionTraceNode* m = t->head->next; m; m = m->next)
      if (m->prev != t->turn) {
        EXPECT_LE(std::fabs(m->u1 - m->prev->u1), 1.0 / 3 + 1e-9) << pair;
      }
  }
}

// Closed branches: a plane across a closed cylinder meets itself at the seam (the backward march
// ends on the forward end, and the closing node repeats the turn node's point); a plane through
// a bowl closes inside both domains (the closing node repeats the seed).
TEST_F(Tracing, ClosedBranches) {
  BsplineKeeper keep;
  const double O[3] = {-1.5, -1.5, 0.3}, ex[3] = {3, 0, 0}, ey[3] = {0, 3, 0};
  Bspline* plane = keep(shapes::Plane(O, ex, ey));
  Bspline* cylinder = keep(shapes::Cylinder(1.0, -1.0, 1.0));
  IntersectionTraceList* list = MallocIntersectionTraceList();
  ASSERT_EQ(NewIntersect(plane, cylinder, list, 0.01, 1e-6), 0);
  ASSERT_EQ(list->count, 1);
  const IntersectionTrace* t = list->head;
  EXPECT_EQ(t->open, 0);
  CheckTrace(plane, cylinder, t, 1e-5);
  for (const IntersectionTraceNode* m = t->head; m; m = m->next) {
    EXPECT_NEAR(m->z, 0.3, 1e-6);
    EXPECT_NEAR(std::hypot(m->x, m->y), 1.0, 1e-6);
  }
  const IntersectionTraceNode* end = t->tail;
  EXPECT_EQ(end->x, t->turn->x);
  EXPECT_EQ(end->y, t->turn->y);
  // The closing node's cylinder parameter sits on the other end of the seam from the turn's.
  EXPECT_NEAR(std::fabs(end->u2 - t->turn->u2), 1.0, 1e-9);
  FreeIntersectionTraceList(list);

  PatchOptions o;
  o.nu = o.nv = 7;
  Bspline* bowl = keep(BuildFunctionPatch([](double x, double y) { return (x - 0.5) * (x - 0.5) + (y - 0.5) * (y - 0.5); }, o));
  const double Ob[3] = {0, 0, 0.1}, bx[3] = {1, 0, 0}, by[3] = {0, 1, 0};
  Bspline* flat = keep(shapes::Plane(Ob, bx, by));
  list = MallocIntersectionTraceList();
  ASSERT_EQ(NewIntersect(bowl, flat, list, 0.01, 1e-6), 0);
  ASSERT_EQ(list->count, 1);
  t = list->head;
  EXPECT_EQ(t->open, 0);
  EXPECT_EQ(t->turn, nullptr);  // closed during the forward march
  CheckTrace(bowl, flat, t, 2e-6);  // tolB of the pair's size (1.5)
  EXPECT_GT(t->nodeCount, 8);
  EXPECT_EQ(t->tail->x, t->head->x);
  EXPECT_EQ(t->tail->u1, t->head->u1);
  FreeIntersectionTraceList(list);
}

// Where one surface's knots crowd, a step of an average knot span crosses many box lines: the
// backward march halves such steps, the forward march does not.
TEST_F(Tracing, BackwardStepsAcrossCrowdedBoxesAreHalved) {
  BsplineKeeper keep;
  // A plane whose u knots crowd between 0.6 and 0.7, crossed by a plane along u.
  std::vector<double> knots = {0, 0, 0, 0, 0.3, 0.6};
  for (int k = 1; k < 10; ++k) knots.push_back(0.6 + 0.01 * k);
  for (double k : {0.7, 0.9, 1.0, 1.0, 1.0, 1.0}) knots.push_back(k);
  const int n = int(knots.size()) - 4;
  std::vector<double> pts;
  for (int j = 0; j < 4; ++j)
    for (int i = 0; i < n; ++i) {
      const double g = (knots[i + 1] + knots[i + 2] + knots[i + 3]) / 3, h = j / 3.0;
      pts.insert(pts.end(), {g, h, 0.0});
    }
  Bspline* crowded = keep(BuildSurface(3, 3, n, 4, pts, knots));
  // Crossed along u from the seed at 0.3: oriented one way the forward march runs across the
  // crowd to u = 1, the other way the backward one does.
  const int NU = BoxArrayCount(crowded, 0);
  for (const double dir : {1.0, -1.0}) {
    const double O[3] = {dir > 0 ? 0.0 : 1.0, 0.5, -0.5}, ex[3] = {dir, 0, 0}, ez[3] = {0, 0.2, 1};
    Bspline* across = keep(shapes::Plane(O, ex, ez));
    const double u2 = dir > 0 ? 0.3 : 0.7;
    OneTrace one(crowded, across, 0.3, 0.6, u2, 0.5);
    ASSERT_EQ(one.rc, 0);
    const IntersectionTrace* t = one.list->head;
    CheckTrace(crowded, across, t, 2e-6);
    ASSERT_TRUE(t->turn);
    auto lines = [&](double a, double b) {  // u lines of the box grid strictly between a and b
      int n = 0;
      for (int i = 0; i < NU; ++i) n += one.us1[i] > std::fmin(a, b) && one.us1[i] < std::fmax(a, b);
      return n;
    };
    int most = 0, inCrowd = 0;
    for (const IntersectionTraceNode* m = t->head->next; m; m = m->next) {
      const IntersectionTraceNode* from = m->prev == t->turn ? t->head : m->prev;
      if (from->u1 < 0.5 && m->u1 < 0.5) continue;  // the march toward u = 0
      most = std::max(most, lines(m->u1, from->u1));
      inCrowd += m->u1 > 0.6 && m->u1 < 0.7;
    }
    EXPECT_EQ(t->turn->u1, dir > 0 ? 1.0 : 0.0);
    if (dir > 0) {
      EXPECT_GE(most, 5);  // forward: the long steps stay
    } else {
      EXPECT_LT(most, 5);  // backward: halved
      EXPECT_GE(inCrowd, 2);
    }
  }
}

// The stop tests of the march on records made in the test: the end of an earlier branch, and a
// tail whose six predecessors lie at one distance from it (circling).
TEST_F(Tracing, TouchAndCirclingTests) {
  BsplineKeeper keep;
  const double O[3] = {0, 0, 0}, ex[3] = {1, 0, 0}, ey[3] = {0, 1, 0};
  Bspline* s = keep(shapes::Plane(O, ex, ey));
  IntersectionTraceList* list = MallocIntersectionTraceList();
  IntersectionTrace* first = list->head;
  const double P[3] = {0, 0, 0};
  AppendTraceNode(first, P, 0.2, 0.3, 0, 0);
  first->turn = AppendTraceNode(first, P, 0.4, 0.5, 0, 0);
  AppendTraceNode(first, P, 0.1, 0.1, 0, 0);
  IntersectionTrace* second = MallocIntersectionTrace();
  first->next = second;
  second->prev = first;
  list->tail = second;
  list->count = 2;
  double u = 0.4 + 5e-7, v = 0.5;
  EXPECT_EQ(ChkCrvTouchAnotherCrv(s, s, list, &u, &v), 1);  // the turn node, not the tail
  u = 0.1;
  v = 0.1;
  EXPECT_EQ(ChkCrvTouchAnotherCrv(s, s, list, &u, &v), 0);
  u = 0.4 + 2e-6;
  v = 0.5;
  EXPECT_EQ(ChkCrvTouchAnotherCrv(s, s, list, &u, &v), 0);

  for (int k = 0; k < 7; ++k) {
    const double a = 0.3 * k, Q[3] = {std::cos(a), std::sin(a), 0};
    AppendTraceNode(second, Q, 0, 0, 0, 0);
  }
  EXPECT_EQ(CheckIfPointsRepeat(second, 1e-6), 0);  // an arc: distances grow
  second->tail->x = second->tail->y = 0.0;           // the centre of the arc
  EXPECT_EQ(CheckIfPointsRepeat(second, 1e-6), 1);
  FreeIntersectionTraceList(list);
}

TEST_F(BoxGrid, PreparedSurfacesAndOrientedBoxes) {
  BsplineKeeper keep;
  // A strip ten times longer than wide gets knots in its long direction, the shape unchanged,
  // until its average spans per control point differ by less than ten times.
  const double O[3] = {0, 0, 0}, ex[3] = {20, 0, 0}, ey[3] = {0, 0.5, 0.2};
  Bspline* strip = keep(shapes::Plane(O, ex, ey, 1.0, 3, 4));
  ASSERT_EQ(ModifyParamSpaceBasedOnSpans(strip), 0);
  const int nu = NumCtrlU(strip);
  EXPECT_GT(nu, 4);
  EXPECT_EQ(NumCtrlV(strip), 4);
  for (double u : {0.0, 0.17, 0.5, 0.93})
    for (double v : {0.0, 0.4, 1.0}) {
      double P[3];
      Eval3DPointOnSurfCoord(strip, u, v, 0, 0, P);
      EXPECT_NEAR(P[0], 20 * u, 1e-12);
      EXPECT_NEAR(P[1], 0.5 * v, 1e-12);
    }
  ASSERT_EQ(ModifyParamSpaceBasedOnSpans(strip), 0);
  EXPECT_EQ(NumCtrlU(strip), nu);  // nothing more to insert
  const double flat[3] = {0, 0, 0};
  Bspline* line = keep(shapes::Plane(O, ex, flat, 1.0, 3, 4));
  EXPECT_EQ(ModifyParamSpaceBasedOnSpans(line), -2);

  // The oriented box of a tilted plane's samples is thin across the plane and holds every
  // sample mapped into its frame; its corners follow the corner order.
  const double tx[3] = {1, 0, 1}, ty[3] = {0, 1, 0.5};
  Bspline* tilted = keep(shapes::Plane(O, tx, ty));
  const int NU = BoxArrayCount(tilted, 0), NV = BoxArrayCount(tilted, 1);
  double *us, *vs, *u2, *v2;
  ASSERT_EQ(SubDivisionArray(tilted, tilted, &us, &vs, &u2, &v2), 0);
  double*** grid = allocate_3dim_matrix_ff(3 * NU - 1, 3 * NV - 1, 3);
  auto sample = [](const double* p, int N, int i) {
    return i == 3 * (N - 1) ? p[N - 1] : p[i / 3] + (i % 3) * (p[i / 3 + 1] - p[i / 3]) / 3.0;
  };
  for (int i = 0; i <= 3 * (NU - 1); ++i)
    for (int j = 0; j <= 3 * (NV - 1); ++j)
      Eval3DPointOnSurfCoord(tilted, sample(us, NU, i), sample(vs, NV, j), 0, 0, grid[i][j]);
  PatchBoxNode* node = MallocPatchBoxNode(0, 0, NU, NV, 0, 1, 0, 1);
  ASSERT_EQ(NewGetBboxExtremes(node, grid), 0);
  EXPECT_LT(node->box[5] - node->box[2], 1e-5);  // thin across the plane
  EXPECT_GT(node->box[3] - node->box[0], 0.5);
  double corners[24], moved[24];
  New1TransformBbox(node->box, corners);
  for (int c = 0; c < 8; ++c) {
    EXPECT_EQ(corners[3 * c], c & 4 ? node->box[3] : node->box[0]);
    EXPECT_EQ(corners[3 * c + 2], c & 1 ? node->box[5] : node->box[2]);
  }
  NewTransformBbox(node->box, node->xform, moved);
  for (int i = 0; i <= 3 * (NU - 1); ++i)
    for (int j = 0; j <= 3 * (NV - 1); ++j) {
      double p[3] = {grid[i][j][0], grid[i][j][1], grid[i][j][2]};
      vector_xform(&p[0], &p[1], &p[2], node->xform);
      for (int q = 0; q < 3; ++q) {
        EXPECT_GE(p[q], node->box[q] - 1e-6);
        EXPECT_LE(p[q], node->box[q + 3] + 1e-6);
      }
    }
  // Mapped corners of the frame's box: still a box of the same diagonal.
  EXPECT_NEAR(Dist(&moved[0], &moved[21]), Dist(&corners[0], &corners[21]), 1e-9);
  // Too few points for a plane: -2 and no error left behind.
  const float fx[2] = {0, 1}, fy[2] = {0, 0}, fz[2] = {0, 0};
  Xform M;
  EXPECT_EQ(FitPlaneAndGetXform(fx, fy, fz, 2, M), -2);
  EXPECT_FALSE(KernelFailedNow());
  double b[6];
  GetBboxMinMax(fx, fy, fz, 2, b);
  EXPECT_EQ(b[3], 1.0);
  EXPECT_EQ(b[0], 0.0);
  EXPECT_EQ(FindMinimumStep(0, us), 0.5 * (us[1] - us[0]));
  FreePatchBoxTree(node);
  matrix_free_3dim_ff(3 * NU - 1, grid);
  for (double* a : {us, vs, u2, v2}) Free(a);
}

// A branch that meets a marked box pair before leaving its seed pair, on a branch already
// traced, is a duplicate: -20 with its nodes freed and the trace left empty, which the
// conversion into curves refuses. Marks alone (a pair of boxes can hold several branches) make
// no duplicate.
TEST_F(Tracing, DuplicateBranchLeavesAnEmptyTrace) {
  BsplineKeeper keep;
  const double o1[3] = {0, 0, 0}, g1[3] = {1, 0, 0}, g2[3] = {0, 1, 0};
  const double o2[3] = {0.35, -0.2, -0.5}, f1[3] = {0.4, 1.4, 0}, f2[3] = {0.1, 0, 1};
  Bspline* a = keep(shapes::Plane(o1, g1, g2));
  Bspline* b = keep(shapes::Plane(o2, f1, f2));
  {
    OneTrace marked(a, b, 0.6, 0.5, 0.5, 0.5, true);
    EXPECT_EQ(marked.rc, 0);
    EXPECT_GT(marked.list->head->nodeCount, 2);
  }
  OneTrace one(a, b, 0.6, 0.5, 0.5, 0.5);
  ASSERT_EQ(one.rc, 0);
  // The same branch again from a seed a little along it, into a second trace of the list.
  IntersectionTrace* t = MallocIntersectionTrace();
  t->prev = one.list->tail;
  one.list->tail->next = t;
  one.list->tail = t;
  one.list->count = 2;
  const double u = one.list->head->head->next->u1, v = one.list->head->head->next->v1;
  const double u2 = one.list->head->head->next->u2, v2 = one.list->head->head->next->v2;
  EXPECT_EQ(NewIntersectTrace(a, b, u, v, u2, v2, one.us1, one.vs1, one.us2, one.vs2, one.marks,
                              one.list, 0.01, 1e-6),
            -20);
  EXPECT_EQ(t->nodeCount, 0);
  EXPECT_EQ(t->head, nullptr);
  EXPECT_EQ(t->tail, nullptr);
  Bspline* pair[2] = {a, b};
  EXPECT_EQ(CreateIntersectionCurves(a, b, t, pair, 1, 1), -2);
  EXPECT_EQ(pair[0], nullptr);
  EXPECT_EQ(a->curves, nullptr);
}

// Seeded pairs of random bicubic graphs over one square at scales 1e-6..1e6, crossing in
// branches that run edge to edge, close, or turn sharply where two branches nearly meet: every
// node of every trace lies on both surfaces within the point tolerance of the pair's size, and
// every march ends (no branch is followed round a loop it jumped to).
TEST_F(Tracing, RandomGraphPairs) {
  int traces = 0;
  for (unsigned seed = 1; seed <= 40; ++seed) {
    std::mt19937 rng(seed);
    const int n1 = 4 + seed % 7, n2 = 4 + (seed / 7) % 7;
    const double s = std::pow(10.0, int(seed % 13) - 6);
    BsplineKeeper keep;
    Bspline* surf[2];
    for (int k = 0; k < 2; ++k) {
      const int n = k ? n2 : n1;
      const std::vector<double> g = shapes::Greville(3, n);
      std::vector<double> pts;
      for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) pts.insert(pts.end(), {s * g[i], s * g[j], s * Uniform(rng, -0.3, 0.3)});
      surf[k] = keep(BuildSurface(3, 3, n, n, pts));
    }
    IntersectionTraceList* list = MallocIntersectionTraceList();
    ASSERT_EQ(NewIntersect(surf[0], surf[1], list, 0.01, 1e-6), 0);
    for (const IntersectionTrace* t = list->head; t; t = t->next) {
      if (t->nodeCount == 0) continue;
      ++traces;
      EXPECT_LT(t->nodeCount, 200) << seed;
      for (const IntersectionTraceNode* m = t->head; m; m = m->next) {
        double A[3], B[3];
        Eval3DPointOnSurfCoord(surf[0], m->u1, m->v1, 0, 0, A);
        Eval3DPointOnSurfCoord(surf[1], m->u2, m->v2, 0, 0, B);
        EXPECT_LT(Dist(A, B), 2e-6 * s) << seed;
      }
    }
    FreeIntersectionTraceList(list);
  }
  EXPECT_GT(traces, 100);
}

TEST_F(Tracing, InjectedFailuresLeaveNothingBehind) {
  BsplineKeeper keep;
  const double o1[3] = {0, 0, 0}, g1[3] = {1, 0, 0}, g2[3] = {0, 1, 0};
  const double o2[3] = {0.35, -0.2, -0.5}, f1[3] = {0.4, 1.4, 0}, f2[3] = {0.1, 0, 1};
  Bspline* a = keep(shapes::Plane(o1, g1, g2));
  Bspline* b = keep(shapes::Plane(o2, f1, f2));
  const int failures = RunWithInjectedFailures(600, 2, [&] {
    BsplineList* out = nullptr;
    const int r = CreateSrfSrfIntersectionCurves(a, b, &out);
    if (r != 1) {
      EXPECT_EQ(out, nullptr);
      EXPECT_EQ(a->curves, nullptr);
      EXPECT_EQ(b->curves, nullptr);
      return 1;
    }
    EXPECT_EQ(GetNumCurvePieces(out), 2);
    while (out) {
      BsplineList* next = out->next;
      FreeBspline(out->item);
      Free(out);
      out = next;
    }
    return 0;
  });
  EXPECT_GT(failures, 10);
}

}  // namespace
