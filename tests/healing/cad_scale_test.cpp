// The heal of a damaged group is a matter of shape, not of the unit of length: the same group
// built at a millionth or a million times its size heals to the same control points in its own
// units, down to round-off.
#include <algorithm>
#include <cmath>
#include <vector>

#include "foundation/makemat.h"
#include "healing/gstitch.h"
#include "platform/saa_control.h"
#include "tests/healing/heal_groups.h"
#include "tests/support/kernel_fixture.h"

namespace {

using namespace healtest;

class CadScale : public KernelTest {
 protected:
  void TearDown() override {
    CleanupTopology();
    KernelTest::TearDown();
  }
};

// Targets in units of the group's size (the heal gets them times the size).
struct Targets {
  double maxGap, healGap;
  int continuity;  // -1 outer boundary free, 0 held
};

// Control points of every surface after the plug-in's heal of the patches scaled by `size`
// (MAXANGLE 5, HEALANGLE 0.5), divided by the size; empty when the heal failed.
std::vector<std::vector<double>> HealedInUnits(std::vector<CadPatch> patches, double size, const Targets& t) {
  Group g;
  for (CadPatch& p : patches) {
    for (double& x : p.pts) x *= size;
    g.Add(BuildCadPatch(p));
  }
  const int n = g.size();
  std::vector<std::vector<double>> out;
  if (MakeTopologyZK(g.data(), n, t.maxGap * size, 5.0) != 0) return out;
  int** result = allocate_matrix_ih(n, 4);
  std::vector<int> fixed(n, 0);
  const int status = HealTopologyZK(g.data(), n, fixed.data(), t.continuity, 1, t.healGap * size, 0.5, 1, result);
  matrix_free_ih(result);
  CleanupTopology();
  if (status != 0) return out;
  for (const Bspline* s : g.srfs) {
    std::vector<double> net = Net(s);
    for (double& v : net) v /= size;
    out.push_back(net);
  }
  return out;
}

// The heal at each size matches the heal at unit size to 1e-9 of the size: round-off through
// some fifty stitch iterations, far below any damage. A fit weighted in absolute units, a gap
// target judged tight against an absolute 0.1, or a normal whose partials met an absolute floor
// each left the heals 1e-7 to 6e-6 of the size apart.
void ExpectAlikeAtSizes(const char* name, const std::vector<CadPatch>& patches, const Targets& t,
                        std::initializer_list<double> sizes) {
  const std::vector<std::vector<double>> unit = HealedInUnits(patches, 1.0, t);
  ASSERT_FALSE(unit.empty()) << name;
  for (double size : sizes) {
    const std::vector<std::vector<double>> scaled = HealedInUnits(patches, size, t);
    ASSERT_EQ(scaled.size(), unit.size()) << name << ", size " << size;
    for (size_t k = 0; k < unit.size(); ++k)
      for (size_t i = 0; i < unit[k].size(); ++i)
        ASSERT_NEAR(scaled[k][i], unit[k][i], 1e-9) << name << ", size " << size << " surface " << k << " entry " << i;
  }
}

// The stand-in host's rough grid (copies of shared rows jittered by 0.005 in z, 0.001 in x
// and y) as kernel records.
std::vector<CadPatch> RoughGridPatches(int n, unsigned seed) {
  SAAStubReset();
  const SampleGroup g = BuildRoughGrid(n, 8, 0.005, 0.001, seed);
  std::vector<CadPatch> out;
  for (int e : g.elements) {
    const HostSurfaceView v = ViewHostSurface(e);
    CadPatch p;
    p.pu = v.pu, p.pv = v.pv, p.cu = v.cu, p.cv = v.cv;
    p.knotsU = v.knotsU, p.knotsV = v.knotsV, p.pts = v.pts;
    out.push_back(p);
  }
  SAAStubReset();
  return out;
}

// The tube: a short net under noise of 1e-4 on every control point, and a long one (258 along)
// under noise of 1e-3 on its boundary rows, which the stitch folds and the heal must give back.
// At a millionth of a unit a floor of 1e-12 on the cross product of the partials hid every
// normal from the check that no surface turns over, and the folded tube was written back.
// MAXGAP 5 x the damage, HEALGAP 1e-5 of the size, outer boundary free.
TEST_F(CadScale, TubeHealsAlikeAtEverySize) {
  struct Case {
    int longCount;
    double noise;
    bool rows;
  };
  for (const Case& c : {Case{34, 1e-4, false}, Case{258, 1e-3, true}}) {
    CadOptions o;
    o.longCount = c.longCount;
    o.noise = c.noise;
    o.boundaryRowsOnly = c.rows;
    const CadGroup cad = MakeCadGroup(CadShape::Tube, o);
    const Targets t{5.0 * o.noise * cad.diagonal, 1e-5 * cad.diagonal, -1};
    if (c.longCount > 100)  // the long net at the two ends of the range only
      ExpectAlikeAtSizes("long tube", cad.patches, t, {1e-6, 1e6});
    else
      ExpectAlikeAtSizes("tube", cad.patches, t, {1e-6, 1e-3, 1e3, 1e6});
  }
}

// The strip chain under noise of 1e-3 of its size, whose 45-degree crease the heal solves back
// to its start angle along its length.
TEST_F(CadScale, NoisyStripChainHealsAlikeAtEverySize) {
  CadOptions o;
  o.longCount = 100;
  o.noise = 1e-3;
  const CadGroup cad = MakeCadGroup(CadShape::StripChain, o);
  const Targets t{5.0 * o.noise * cad.diagonal, 1e-5 * cad.diagonal, -1};
  ExpectAlikeAtSizes("noisy strip chain", cad.patches, t, {1e-3, 1e3});
}

// A rough 2 x 2 grid with the plug-in's default targets (MAXGAP 0.05, HEALGAP 0.001 of a grid of
// unit cells), its outer boundary free and held.
TEST_F(CadScale, RoughGridHealsAlikeAtEverySize) {
  const std::vector<CadPatch> patches = RoughGridPatches(2, 1);
  ExpectAlikeAtSizes("free rough grid", patches, {0.05, 0.001, -1}, {1e-6, 1e-3, 1e3, 1e6});
  ExpectAlikeAtSizes("held rough grid", patches, {0.05, 0.001, 0}, {1e-6, 1e6});
}

}  // namespace
