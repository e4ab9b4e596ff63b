#include <cmath>
#include <vector>

#include "bspline/cclone.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "stitch/vcnobj.h"
#include "tests/shrinkwrap/injected_failures.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class ObjSetCompatibleTest : public KernelTest {};

// Largest distance between an object before and after, compared at corresponding parameters
// (the range of each was mapped linearly onto [0, 1]).
double ShapeChange(const Bspline* before, const Bspline* after) {
  double worst = 0.0;
  for (int i = 0; i <= 40; ++i) {
    const double s = i / 40.0;
    double a[3], b[3];
    if (before->kind == 1) {
      RefEvalCurve(before, before->umin + s * (before->umax - before->umin), a);
      RefEvalCurve(after, after->umin + s * (after->umax - after->umin), b);
      for (int k = 0; k < 3; ++k) worst = std::max(worst, std::fabs(a[k] - b[k]));
    } else {
      for (int j = 0; j <= 10; ++j) {
        const double r = j / 10.0;
        RefEvalSurface(before, before->umin + s * (before->umax - before->umin),
                       before->vmin + r * (before->vmax - before->vmin), a);
        RefEvalSurface(after, after->umin + s * (after->umax - after->umin),
                       after->vmin + r * (after->vmax - after->vmin), b);
        for (int k = 0; k < 3; ++k) worst = std::max(worst, std::fabs(a[k] - b[k]));
      }
    }
  }
  return worst;
}

TEST_F(ObjSetCompatibleTest, ShapesStayAndKnotVectorsBecomeIdentical) {
  // Curves of one degree on different ranges and knots, one with a double knot, and a
  // surface taken in v.
  std::vector<double> k0 = ClampedKnots(3, 7, 2.0, 5.0, KnotLayout::Random, 4);
  std::vector<double> k1 = {0, 0, 0, 0, 0.5, 0.5, 1, 1, 1, 1};
  Bspline* c0 = BuildCurve(3, 3, {0, 0, 0, 1, 2, 0, 2, -1, 1, 3, 0, 0, 4, 1, 1, 5, 0, 2, 6, 1, 0}, k0);
  Bspline* c1 = BuildCurve(3, 3, {0, 1, 0, 1, 1, 1, 2, 3, 0, 3, 1, 2, 4, 0, 1, 5, 2, 2}, k1);
  PatchOptions o;
  o.nv = 6;
  o.vmin = -1.0;
  o.vmax = 3.0;
  o.layout = KnotLayout::Random;
  Bspline* s = BuildFunctionPatch([](double x, double y) { return std::sin(3 * x) * y; }, o);
  Bspline* objs[3] = {c0, c1, s};
  Bspline* before[3];
  for (int i = 0; i < 3; ++i) before[i] = CopyBsplineStruct(objs[i]);
  int dirs[3] = {0, 0, 1};
  MakeObjSetCompatible(objs, dirs, 3, 0);
  ASSERT_FALSE(KernelFailedNow());
  for (int i = 0; i < 3; ++i) EXPECT_LT(ShapeChange(before[i], objs[i]), 1e-10) << i;
  const int nk = NumKnotsU(c0);
  ASSERT_EQ(NumKnotsU(c1), nk);
  ASSERT_EQ(NumKnotsV(s), nk);
  for (int k = 0; k < nk; ++k) {
    EXPECT_EQ(c0->knotsU[k], c1->knotsU[k]);
    EXPECT_EQ(c0->knotsU[k], s->knotsV[k]);
  }
  EXPECT_EQ(c0->umin, 0.0);
  EXPECT_EQ(c0->umax, 1.0);
  EXPECT_EQ(s->vmax, 1.0);
  // The double knot of c1 survives with its multiplicity.
  int at = 0;
  for (int k = 0; k < nk; ++k) at += c0->knotsU[k] == 0.5;
  EXPECT_EQ(at, 2);
  for (Bspline* b : before) FreeBspline(b);

  const int failures = RunWithInjectedFailures(400, 7, [&] {
    Bspline* a = CopyCurveBspline(c0);
    Bspline* b = BuildRandomCurve(9u, 3, 9);
    if (!a || !b) {
      FreeBspline(a);
      FreeBspline(b);
      return -2;
    }
    Bspline* set[2] = {a, b};
    MakeObjSetCompatible(set, nullptr, 2, 0);
    const int r = KernelFailedNow() ? -2 : 0;
    FreeBspline(a);
    FreeBspline(b);
    return r;
  });
  EXPECT_GT(failures, 0);
  for (Bspline* b : objs) FreeBspline(b);
}

}  // namespace
