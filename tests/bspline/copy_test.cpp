// Deep copies of records, curve lists and trim loops: independence from the source, the
// re-linking of copied families, and all-or-nothing behaviour under allocation failure.
#include <algorithm>
#include <set>
#include <vector>

#include "bspline/cclone.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "foundation/umalloc.h"
#include "tests/bspline/trimloops.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class CopyTest : public KernelTest {};

QuadricInfo* Quadric(int n) {
  auto* q = static_cast<QuadricInfo*>(Malloc(sizeof(QuadricInfo)));
  for (int i = 0; i < 9; ++i) q->v[i] = i < n ? i + 0.5 : 0.0;
  return q;
}

// A rational trimmed surface with a cylinder description, four curves (one of them rational)
// and two loops, the second a hole.
Bspline* Family() {
  PatchOptions o;
  o.rational = true;
  Bspline* s = BuildFunctionPatch([](double x, double y) { return x - y * y; }, o);
  s->fitProps = {1, 0.5, 0.25, 0.125};
  s->propsB.flag = 1;
  s->quadricType = 22;
  s->quadric = Quadric(9);
  Bspline* a = BuildCurveOnSurface(s, 1, {0, 0, 1, 0});
  Bspline* b = BuildCurveOnSurface(s, 2, {1, 0, 1.2, 0.5, 1, 1}, {}, {1, 2, 1});
  Bspline* c = BuildCurveOnSurface(s, 1, {1, 1, 0, 0});
  Bspline* h = BuildCurveOnSurface(s, 3, {0.4, 0.4, 0.6, 0.4, 0.6, 0.6, 0.4, 0.4});
  AddLoop(s, {a, b, c}, 0);
  AddLoop(s, {h}, 1);
  return s;
}

// Every pointer a record family owns, the records included.
void Pointers(const Bspline* b, std::set<const void*>& out) {
  out.insert({(const void*)b, b->knotsU, b->knotsV, b->quadric});
  for (double** m : {b->X, b->Y, b->Z, b->W})
    if (m) out.insert({(const void*)m, m[0]});
  for (const BsplineList* n = b->curves; n; n = n->next) out.insert(n), Pointers(n->item, out);
  for (const TrimList* t = b->trims; t; t = t->next) {
    out.insert(t);
    for (const BsplineList* n = t->loopCurves; n; n = n->next) out.insert(n);
  }
  out.erase(nullptr);
}

// The values of a family in walk order; loop curves as positions in the curve list.
std::vector<double> Values(const Bspline* b) {
  std::vector<double> v;
  std::vector<const Bspline*> curves = {b};
  for (const BsplineList* n = b->curves; n; n = n->next) curves.push_back(n->item);
  for (const Bspline* r : curves) {
    const int n = NumCtrlU(r) * (r->kind == 2 ? NumCtrlV(r) : 1);
    v.insert(v.end(),
             {double(r->kind), double(r->dimension), double(r->rational), double(r->degreeU),
              double(r->degreeV), double(r->interiorU), double(r->interiorV), r->umin, r->umax,
              r->vmin, r->vmax, double(r->quadricType), double(r->fitProps.flag),
              r->fitProps.tension, r->fitProps.roughness, r->fitProps.sigma});
    v.insert(v.end(), r->knotsU, r->knotsU + NumKnotsU(r));
    if (r->kind == 2) v.insert(v.end(), r->knotsV, r->knotsV + NumKnotsV(r));
    for (double** m : {r->X, r->Y, r->Z, r->W})
      if (m) v.insert(v.end(), m[0], m[0] + n);
    if (r->quadric) v.insert(v.end(), r->quadric->v, r->quadric->v + 9);
  }
  for (const TrimList* t = b->trims; t; t = t->next) {
    v.push_back(-1000.0 - t->hole - 10 * t->attached);
    for (const BsplineList* n = t->loopCurves; n; n = n->next)
      v.push_back(double(std::find(curves.begin(), curves.end(), n->item) - curves.begin()));
  }
  return v;
}

TEST_F(CopyTest, FamilyCopyIsDeepAndRelinked) {
  Bspline* s = Family();
  const std::vector<double> before = Values(s);
  Bspline* c = CopyBsplineStructAndChildren(s);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(Values(s), before);
  EXPECT_EQ(Values(c), before);  // fitProps, the cylinder block and the loops included
  EXPECT_EQ(c->propsB.flag, 0);
  std::set<const void*> ps, pc;
  Pointers(s, ps);
  Pointers(c, pc);
  for (const void* p : pc) EXPECT_EQ(ps.count(p), 0u) << "copy shares a block with its source";
  // The loops point at the copies, which belong to the copy.
  std::set<const Bspline*> copies;
  for (const BsplineList* n = c->curves; n; n = n->next) {
    copies.insert(n->item);
    EXPECT_EQ(n->item->owner, c);
  }
  for (const TrimList* t = c->trims; t; t = t->next)
    for (const BsplineList* n = t->loopCurves; n; n = n->next) EXPECT_EQ(copies.count(n->item), 1u);
  // One loop relinked on its own gives the copy's loop.
  BsplineList* one = CopyATrimList(s->trims->loopCurves, s->curves, c->curves);
  ASSERT_NE(one, nullptr);
  const BsplineList* m = c->trims->loopCurves;
  for (BsplineList* n = one; n || m; m = m->next) {
    ASSERT_TRUE(n && m);
    EXPECT_EQ(n->item, m->item);
    BsplineList* next = n->next;
    Free(n);
    n = next;
  }
  FreeBspline(c);
  EXPECT_EQ(Values(s), before);
  FreeBspline(s);
}

// A copied curve keeps its owner but joins no list; a surface copy takes no curves, nor an
// exact form that is not its own kind's.
TEST_F(CopyTest, CopiesKeepOwnerAndOnlyTheirKindsExactForm) {
  Bspline* s = Family();
  Bspline* c = CopyBsplineStruct(s->curves->item);
  EXPECT_EQ(c->owner, s);
  FreeBspline(c);
  EXPECT_EQ(GetNumCurvePieces(s->curves), 4);
  s->quadricType = 3;
  Bspline* sc = CopyBsplineStruct(s);
  EXPECT_TRUE(sc->quadricType == 3 && sc->quadric == nullptr && sc->curves == nullptr);
  for (Bspline* b : {sc, s}) FreeBspline(b);
}

TEST_F(CopyTest, EveryFailedAllocationGivesNullAndLeavesSourceAlone) {
  Bspline* s = Family();
  const std::vector<double> before = Values(s);
  const int failures = RunMakerWithInjectedFailures(200, 1, [&](Bspline** out) {
    *out = CopyBsplineStructAndChildren(s);
    EXPECT_EQ(Values(s), before);
    return *out && !KernelFailedNow() ? 0 : -2;
  });
  EXPECT_GT(failures, 20);
  EXPECT_LT(failures, 200);
  FreeBspline(s);
}

// The forms that fill a record the caller made: under every failed allocation the record keeps
// its zero arrays (no half-installed copy) and nothing stays allocated; otherwise it equals the
// source. The record is made before any allocation is refused, as a caller would.
TEST_F(CopyTest, FillingACallersRecordIsAllOrNothing) {
  PatchOptions o;
  o.rational = true;
  Bspline* surface = BuildFunctionPatch([](double x, double y) { return x * y; }, o);
  Bspline* curve = BuildRandomCurve(3, 3, 9, 3, true);
  for (Bspline* src : {curve, surface}) {
    const bool surf = src->kind == 2;
    int copied = 0;
    for (long skip = 0; skip < 40; ++skip) {
      Bspline* dst = surf ? MallocInitSurfaceBspline() : MallocNullBspline();
      ClearKernelError();
      MallocFailAfter(skip, -1);
      const int r =
          surf ? CopyBsplineSurfaceGivenBspline(src, dst) : CopyCurveGivenBspline(src, dst);
      MallocFailClear();
      EXPECT_EQ(MallocTrackLevel(), 0);
      if (r == 0) {
        ++copied;
        EXPECT_EQ(Values(dst), Values(src)) << skip;
      } else {
        EXPECT_TRUE(!dst->knotsU && !dst->knotsV && !dst->X && !dst->Y && !dst->Z && !dst->W)
            << skip;
      }
      FreeBspline(dst);
    }
    EXPECT_TRUE(copied > 0 && copied < 40);  // both outcomes seen
  }
  ClearKernelError();
  for (Bspline* b : {curve, surface}) FreeBspline(b);
}

TEST_F(CopyTest, LoopCurveMissingFromCurveListFailsCleanly) {
  Bspline* s = Family();
  Bspline* stray = BuildCurve(1, 2, {0.1, 0.1, 0.2, 0.2});
  stray->owner = s;
  AddLoop(s, {s->curves->item, stray}, 0);
  EXPECT_EQ(CopyBsplineStructAndChildren(s), nullptr);
  EXPECT_EQ(zk_error_status, -2);
  ClearKernelError();
  FreeBspline(stray);  // dissolves the broken loop
  FreeBspline(s);
}

TEST_F(CopyTest, PolylineSegmentsNeverReadPastTheInput) {
  for (int n = 0; n <= 5; ++n) {
    std::vector<float> x(n), y(n);
    for (int i = 0; i < n; ++i) x[i] = float(i), y[i] = float(10 * i);
    const size_t m = n >= 2 ? 2 * n - 2 : 0;
    std::vector<float> ox(m, -1.0f), oy(m, -1.0f);
    copy_array2polyline(x.data(), y.data(), nullptr, n, ox.data(), oy.data(), nullptr);
    // Segment k runs from point k to point k + 1.
    for (size_t k = 0; 2 * k + 1 < m; ++k) {
      EXPECT_TRUE(ox[2 * k] == float(k) && ox[2 * k + 1] == float(k + 1));
      EXPECT_EQ(oy[2 * k + 1], float(10 * (k + 1)));
    }
  }
}

}  // namespace
