// Sorted crossing lists: the next crossing along a trim curve, the neighbour along the cutting
// curve, marking; straight curves along the sides of a surface's parameter box.
#include <vector>

#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "intersect/filutil.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class CrossList : public KernelTest {};

TEST_F(CrossList, NextCrossingsAlongTrimAndCuttingCurves) {
  BsplineList trimA{nullptr, nullptr}, trimB{nullptr, nullptr};
  // Ascending in sortKey: (param, sortKey, trimParam, kind, trim, side).
  std::vector<TArrayNode> n(5);
  const double p[5] = {0.1, 0.2, 0.3, 0.4, 0.5};
  const double tp[5] = {0.7, 0.5 - 5e-7, 0.5 - 5e-7, 0.9, 0.2};
  const int side[5] = {1, 2, 2, 1, 2};
  BsplineList* trim[5] = {&trimA, &trimA, &trimA, &trimA, &trimB};
  for (int i = 0; i < 5; ++i) {
    n[i] = TArrayNode{i < 4 ? &n[i + 1] : nullptr, nullptr, p[i], p[i], tp[i], 1, trim[i], side[i], 0,
                      nullptr, nullptr};
  }
  TArrayList list{&n[0], nullptr, 5};
  double trimParam = 0, param = 0, key = 0;
  int s = 0;
  // Just below t still counts; of equal trim parameters the first wins; the other curve's and
  // the excluded side's crossings do not.
  ASSERT_EQ(FindNextSnipParam(&trimA, list.head, 0.5, 1, &trimParam, &s, &param, &key), 1);
  EXPECT_EQ(param, 0.2);
  EXPECT_EQ(s, 2);
  ASSERT_EQ(FindNextSnipParam(&trimA, list.head, 0.5, 2, &trimParam, &s, &param, &key), 1);
  EXPECT_EQ(param, 0.1);
  EXPECT_EQ(FindNextSnipParam(&trimA, list.head, 0.95, 2, &trimParam, &s, &param, &key), 0);
  EXPECT_EQ(param, 0.1);  // nothing written

  BsplineList* node = nullptr;
  FindNextFilParam(&list, 0.3, &param, &trimParam, &node, 1, &key);
  EXPECT_EQ(param, 0.4);
  EXPECT_EQ(node, &trimA);
  FindNextFilParam(&list, 0.3, &param, &trimParam, &node, 0, &key);
  EXPECT_EQ(param, 0.2);
  // Backward from the head: the last entry; forward from the last: nothing.
  FindNextFilParam(&list, 0.1, &param, &trimParam, &node, 0, &key);
  EXPECT_EQ(param, 0.5);
  EXPECT_EQ(node, &trimB);
  param = -1;
  FindNextFilParam(&list, 0.5, &param, &trimParam, &node, 1, &key);
  EXPECT_EQ(param, -1);

  MarkFilUsedField(&list, 0.5 - 5e-7);
  EXPECT_EQ(n[1].used, 1);
  EXPECT_EQ(n[2].used, 0);
  TArrayList empty{nullptr, nullptr, 0};
  MarkFilUsedField(&empty, 0.5);
}

TEST_F(CrossList, BoundaryCurvesRunAlongTheBoxSides) {
  PatchOptions o;
  o.umin = 1, o.umax = 3, o.vmin = -1, o.vmax = 2;
  Bspline* s = BuildFunctionPatch([](double, double) { return 0.0; }, o);
  BsplineList* list = nullptr;
  // Whole sides with orientation 1: edge 0 up, 1 right, 2 down, 3 left.
  const double want[4][4] = {{1, -1, 1, 2}, {1, 2, 3, 2}, {3, 2, 3, -1}, {3, -1, 1, -1}};
  for (int e = 0; e < 4; ++e) CreateBndryCurve(s, e, 1, &list, 0, 0, 0, 0, 1);
  // Part of side 2 between the points' v values, the other way round.
  CreateBndryCurve(s, 2, -1, &list, 2.0, 0.5, 2.5, 1.5, 0);
  // Coinciding ends: nothing.
  CreateBndryCurve(s, 3, 1, &list, 2.0, 0.5, 2.00001, 0.7, 0);
  std::vector<Bspline*> made;
  for (BsplineList* n = list; n; n = n->next) made.push_back(n->item);
  ASSERT_EQ(made.size(), 5u);
  for (int e = 0; e < 5; ++e) {
    Bspline* c = made[e];
    EXPECT_EQ(c->owner, s);
    double a[2], b[2];
    Eval2DPointOnCurve2Array(nullptr, c, c->umin, 0, a);
    Eval2DPointOnCurve2Array(nullptr, c, c->umax, 0, b);
    const double* w = e < 4 ? want[e] : nullptr;
    const double part[4] = {3, 0.5, 3, 1.5};
    if (!w) w = part;
    EXPECT_NEAR(a[0], w[0], 1e-12);
    EXPECT_NEAR(a[1], w[1], 1e-12);
    EXPECT_NEAR(b[0], w[2], 1e-12);
    EXPECT_NEAR(b[1], w[3], 1e-12);
  }
  int listed = 0;
  for (BsplineList* n = s->curves; n; n = n->next) ++listed;
  EXPECT_EQ(listed, 5);
  while (list) {
    BsplineList* next = list->next;
    Free(list);
    list = next;
  }
  FreeBspline(s);
}

}  // namespace
