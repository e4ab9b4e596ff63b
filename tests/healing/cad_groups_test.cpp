// Groups as CAD systems export them (bilinear planes, cubic cylinders and long strips with the
// exporters' knot values): the fixtures themselves, then the heal on them.
#include <algorithm>
#include <cmath>
#include <vector>

#include "foundation/makemat.h"
#include "healing/gstitch.h"
#include "tests/healing/heal_groups.h"
#include "tests/support/kernel_fixture.h"

namespace {

using namespace healtest;

// Small nets keep the cases fast; the long ones are measured in bench/heal_bench.
CadOptions Small(CadKnots knots = CadKnots::Unit) {
  CadOptions o;
  o.knots = knots;
  o.longCount = 12;
  o.strips = 4;
  return o;
}

class CadGroups : public KernelTest {};

// Every seam a group was built with is closed before any noise (both sides one curve) and the
// exporter's knot values change the parametrisation only: the same points, the same surface.
TEST_F(CadGroups, CleanSeamsAreClosedUnderEveryKnotStyle) {
  for (CadShape shape : kCadShapes) {
    const CadGroup unit = MakeCadGroup(shape, Small());
    for (const CadOptions& o : {Small(CadKnots::Exporter), [] { CadOptions s = Small(); s.knotScale = 1e3; s.knotShift = -7.5; return s; }()}) {
      const CadGroup other = MakeCadGroup(shape, o);
      ASSERT_EQ(other.patches.size(), unit.patches.size());
      for (size_t k = 0; k < unit.patches.size(); ++k) EXPECT_EQ(other.patches[k].pts, unit.patches[k].pts) << unit.name;
      Group g;
      AddCadPatches(g, other);
      for (const SampleSeam& s : other.seams)
        EXPECT_LT(RefGap(g.srfs[s.elemA], s.sideA, g.srfs[s.elemB], s.sideB), 1e-12 * other.diagonal)
            << other.name << " " << s.elemA << ":" << s.sideA;
    }
  }
}

}  // namespace

namespace {

using namespace healtest;

class ExporterKnots : public KernelTest {
 protected:
  void TearDown() override {
    CleanupTopology();
    KernelTest::TearDown();
  }
};

// Two flat bilinear patches on x = 1, B's u domain ending a round-off away from 0 (or on it):
// the graph's single-precision parameters may round that end outside the domain, which must
// not refuse the group. One seam, no other pair.
TEST_F(ExporterKnots, DomainEndARoundOffFromZeroBuildsTheSameTopology) {
  for (double end : {0.0, 3.3e-32, 1e-16, 5.8e-16, 1e-14, 1e-12, 1e-10}) {
    for (double sign : {1.0, -1.0}) {
      Group g;
      g.Add(BuildSurface(1, 1, 2, 2, {0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0}));
      g.Add(BuildSurface(1, 1, 2, 2, {1, 0, 0, 2, 0, 0, 1, 1, 0, 2, 1, 0}, {-0.2, -0.2, sign * end, sign * end}));
      EXPECT_EQ(MakeTopologyZK(g.data(), 2, 0.01, 5.0), 0) << sign * end;
      ASSERT_TRUE(g.Build(0.01, 5.0)) << sign * end;
      EXPECT_EQ(g.PairedCount(), 1) << sign * end;
      EXPECT_EQ(SetUpBndrEdgeCornerGeometry(g.bs), 0) << sign * end;
    }
  }
}

}  // namespace

namespace {

using namespace healtest;

class CadSeams : public KernelTest {};

// Two sides are a seam only where they run side by side: on every group, clean or lossy, with
// any knot values and at sizes 1e-5 and 1e6, at every MAXGAP from 1e-4 of its size up to a
// quarter of its shortest side (the plug-in's limit), the graph
// pairs exactly the sides the group was built with (a T-junction's long side once per shorter
// side), never sides that meet at a corner or continue each other.
TEST_F(CadSeams, OnlySidesRunningSideBySideArePaired) {
  for (CadShape shape : kCadShapes)
  for (double noise : {0.0, 1e-4, 1e-3})
  for (int knots = 0; knots < 5; ++knots) {
    const CadGroup cad = MakeCadGroup(shape, [noise, knots] {
      CadOptions o;
      o.longCount = 12;
      o.strips = 4;
      o.noise = noise;
      if (knots == 1 || knots >= 3) o.knots = CadKnots::Exporter;
      if (knots == 2) o.knotScale = 1e-3, o.knotShift = 1e3;
      if (knots >= 3) o.size = knots == 3 ? 1e-5 : 1e6;
      return o;
    }());
    int tried = 0;
    for (double share : {1e-4, 1e-3, 1e-2, 3e-2}) {
      if (share < 5.0 * noise) continue;
      Group g;
      AddCadPatches(g, cad);
      const double maxGap = share * cad.diagonal;
      double shortest = HUGE_VAL;
      for (const Bspline* s : g.srfs)
        for (int side = 1; side <= 4; ++side) {
          double p[3], q[3];
          SidePoint(s, side, side % 2 ? s->vmin : s->umin, p);
          SidePoint(s, side, side % 2 ? s->vmax : s->umax, q);
          shortest = std::min(shortest, Dist(p, q));  // sides of these groups are near straight or arcs
        }
      if (maxGap > 0.25 * shortest) continue;
      ASSERT_TRUE(g.Build(maxGap, 5.0)) << cad.name << " " << share << " knots " << knots;
      ++tried;
      std::vector<std::pair<int, int>> built, paired;  // (surface * 4 + side) of A and B, ordered
      for (const SampleSeam& s : cad.seams) {
        const int a = 4 * s.elemA + s.sideA - 1, b = 4 * s.elemB + s.sideB - 1;
        built.push_back({std::min(a, b), std::max(a, b)});
      }
      for (int i = 0; i < g.bs->nEdge; ++i) {
        const EdgeInfoStruct& e = g.bs->edges[i];
        if (!e.paired) continue;
        const int a = 4 * e.infoA->srfInfo->index + e.infoA->side - 1, b = 4 * e.infoB->srfInfo->index + e.infoB->side - 1;
        paired.push_back({std::min(a, b), std::max(a, b)});
      }
      std::sort(built.begin(), built.end());
      std::sort(paired.begin(), paired.end());
      EXPECT_EQ(paired, built) << cad.name << " noise " << noise << " knots " << knots << " at MAXGAP " << share << " of the size";
    }
    EXPECT_GT(tried, 0) << cad.name << " noise " << noise << " knots " << knots;
  }
}

}  // namespace

namespace {

using namespace healtest;

class CadKnotsHeal : public KernelTest {
 protected:
  void TearDown() override {
    CleanupTopology();
    KernelTest::TearDown();
  }
};

// The same lossy export heals to the same control points (to round-off) whatever its knot
// values: on [0, 1], as an exporter wrote them, scaled by 1e-3 and shifted by 1e3, scaled by
// 1e3. Each surface keeps its own knots: the ends exactly, the rest to round-off.
TEST_F(CadKnotsHeal, KnotValuesDoNotChangeTheHeal) {
  for (CadShape shape : kCadShapes) {
    std::vector<std::vector<double>> reference;
    for (int knots = 0; knots < 4; ++knots) {
      CadOptions o;
      o.longCount = 12;
      o.strips = 4;
      o.noise = 1e-4;
      if (knots == 1) o.knots = CadKnots::Exporter;
      if (knots == 2) o.knotScale = 1e-3, o.knotShift = 1e3;
      if (knots == 3) o.knotScale = 1e3, o.knotShift = -7.0;
      const CadGroup cad = MakeCadGroup(shape, o);
      Group g;
      AddCadPatches(g, cad);
      const int n = g.size();
      ASSERT_EQ(MakeTopologyZK(g.data(), n, 5e-4 * cad.diagonal, 5.0), 0) << cad.name << " knots " << knots;
      int** result = allocate_matrix_ih(n, 4);
      std::vector<int> fixed(n, 0);
      const int status = HealTopologyZK(g.data(), n, fixed.data(), -1, 1, 1e-5 * cad.diagonal, 0.5, 1, result);
      matrix_free_ih(result);
      ASSERT_EQ(status, 0) << cad.name << " knots " << knots;
      for (int k = 0; k < n; ++k) {
        const CadPatch& c = cad.patches[k];
        const Bspline* s = g.srfs[k];
        EXPECT_EQ(s->knotsU[0], c.knotsU.front());
        EXPECT_EQ(s->knotsU[NumKnotsU(s) - 1], c.knotsU.back());
        EXPECT_EQ(s->vmax, c.knotsV.back());
        for (int i = 0; i < NumKnotsU(s); ++i)
          EXPECT_NEAR(s->knotsU[i], c.knotsU[i], 1e-14 * (std::fabs(c.knotsU.front()) + std::fabs(c.knotsU.back())));
        const std::vector<double> net = Net(s);
        if (knots == 0) {
          reference.push_back(net);
          continue;
        }
        for (size_t i = 0; i < net.size(); ++i)
          ASSERT_NEAR(net[i], reference[k][i], 1e-12 * cad.diagonal) << cad.name << " knots " << knots;
      }
    }
  }
}

}  // namespace

namespace {

using namespace healtest;

class CadEnds : public KernelTest {};

// End tangents do not depend on the group's size or its knot values: at size 1, at 1e-3 on knots
// scaled by 1e3 and at 1e4 on knots scaled by 1e-3, every seam end of every clean group has
// the same unit tangent (a derivative of 1e-6 was once taken for a vanished one, so small parts
// on long knot ranges lost their corner directions).
TEST_F(CadEnds, EndTangentsAreAlikeAtEverySizeAndKnotScale) {
  for (CadShape shape : kCadShapes) {
    std::vector<double> reference;
    for (int variant = 0; variant < 3; ++variant) {
      CadOptions o;
      o.longCount = 12;
      o.strips = 4;
      o.size = variant == 0 ? 1.0 : variant == 1 ? 1e-3 : 1e4;
      o.knotScale = 1.0 / o.size;
      const CadGroup cad = MakeCadGroup(shape, o);
      Group g;
      AddCadPatches(g, cad);
      ASSERT_TRUE(g.Build(1e-3 * cad.diagonal, 5.0)) << cad.name << " " << o.size;
      ASSERT_EQ(SetUpBndrEdgeCornerGeometry(g.bs), 0) << cad.name << " " << o.size;
      std::vector<double> tangents;
      for (int i = 0; i < g.bs->nEdge; ++i)
        for (int slot = 0; slot < 4; ++slot) {
          const double* t = g.bs->edges[i].tan[slot];
          EXPECT_NEAR(Len(t), 1.0, 1e-12) << cad.name << " " << o.size << " edge " << i << " slot " << slot;
          tangents.insert(tangents.end(), t, t + 3);
        }
      if (variant == 0) {
        reference = tangents;
        continue;
      }
      ASSERT_EQ(tangents.size(), reference.size());
      for (size_t k = 0; k < tangents.size(); ++k) EXPECT_NEAR(tangents[k], reference[k], 1e-9) << cad.name << " " << o.size;
    }
  }
}

}  // namespace
