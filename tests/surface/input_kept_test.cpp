// Cutting a surface into pieces that fit a control-point budget, in the caller's list: however
// the cutting ends, the list covers the surface's domain exactly once, so nothing of the
// surface is lost to a failure part way.
#include <cmath>
#include <vector>

#include "bspline/crvlist.h"
#include "bspline/sfree.h"
#include "surface/srfsnip.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"
#include "tests/surface/recordviews.h"

namespace {

class SplitKeepsInput : public KernelTest {};

double Wave(double x, double y) { return 0.3 * std::sin(3 * x) * std::cos(2 * y) + 0.1 * x * y; }

// The surface sits in a list after another one and is split with freeInput set. On the unit
// patch x is u and y is v, so the area of the listed pieces' parameter boxes (the other
// surface aside) must be 1, and each piece must lie on the original surface.
TEST_F(SplitKeepsInput, EveryOutcomeLeavesTheSurfaceCoveredOnce) {
  PatchOptions o;
  o.nu = 14, o.nv = 9, o.layout = KnotLayout::Random, o.seed = 5;
  BsplineKeeper keep;
  Bspline* ref = keep(BuildFunctionPatch(Wave, o));
  Bspline* other = keep(BuildFunctionPatch(Wave, PatchOptions{}));
  int successes = 0;
  const int failures = RunWithInjectedFailures(3000, 7, [&] {
    Bspline* s = BuildFunctionPatch(Wave, o);
    BsplineList* list = nullptr;
    {
      UntrackedScope outside;
      if (!s || !AppendBsplToList(&list, other) || !AppendBsplToList(&list, s)) {
        FreeBspline(s);
        while (list) RemoveBsplFromBsplList(list->item, &list);
        return -2;
      }
    }
    const int r = SplitSurfaceBspline(s, 6, 6, &list, 1);
    successes += r == 0;
    double area = 0.0, worst = 0.0;
    for (Bspline* p : Items(list)) {
      if (p == other) continue;
      if (r == 0) {
        EXPECT_TRUE(NumCtrlU(p) <= 6 && NumCtrlV(p) <= 6);
      }
      double a[3], b[3];
      RefEvalSurface(p, p->umin, p->vmin, a);
      RefEvalSurface(p, p->umax, p->vmax, b);
      area += (b[0] - a[0]) * (b[1] - a[1]);
      for (int k = 0; k <= 4; ++k) {
        double q[3], w[3];
        RefEvalSurface(p, p->umin + 0.25 * k * (p->umax - p->umin), p->vmax - 0.2 * k * (p->vmax - p->vmin), q);
        RefEvalSurface(ref, q[0], q[1], w);
        worst = std::max(worst, std::fabs(q[2] - w[2]));
      }
    }
    EXPECT_NEAR(area, 1.0, 1e-12) << r;
    EXPECT_LT(worst, 1e-12) << r;
    EXPECT_TRUE(list && list->item == other) << r;
    while (list) {
      Bspline* p = list->item;
      RemoveBsplFromBsplList(p, &list);
      if (p != other) FreeBspline(p);
    }
    return r;
  });
  EXPECT_GT(failures, 0);
  EXPECT_GT(successes, 0);
}

}  // namespace
