// Closing the separately made tessellations of a surface group: seams without cracks, one
// position at a corner of four patches, and the seams that must stay open.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <map>
#include <set>
#include <vector>

#include "bspline/nubs.h"
#include "healing/srfbndrc.h"
#include "mesh/pgr2cld.h"
#include "tests/healing/heal_groups.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/meshes.h"

namespace {

using Key = std::array<float, 3>;

Key KeyOf(const Cloud* m, int i) { return {m->x[i], m->y[i], m->z[i]}; }

// The surface sampled on an nu x nv grid of its domain, two triangles per cell.
Cloud* Tessellate(const Bspline* s, int nu, int nv) {
  std::vector<std::array<double, 3>> pts;
  for (int j = 0; j < nv; ++j)
    for (int i = 0; i < nu; ++i) {
      double p[3];
      const double u = s->umin + (s->umax - s->umin) * i / (nu - 1);
      const double v = s->vmin + (s->vmax - s->vmin) * j / (nv - 1);
      Eval3DPointOnSurfCoord(s, u, v, 0, 0, p);
      pts.push_back({p[0], p[1], p[2]});
    }
  std::vector<TestTriangle> tris;
  for (int j = 0; j + 1 < nv; ++j)
    for (int i = 0; i + 1 < nu; ++i) {
      const int a = i + nu * j;
      tris.push_back({a, a + 1, a + nu + 1});
      tris.push_back({a, a + nu + 1, a + nu});
    }
  return MakeTestMesh(pts, tris);
}

// Boundary edges (used by one triangle) of a mesh as position pairs.
std::vector<std::pair<Key, Key>> OpenEdges(const Cloud* m) {
  std::map<std::pair<int, int>, int> uses;
  for (int t = 0; t < m->ntri; ++t)
    for (int k = 0; k < 3; ++k) {
      const int a = m->tri[t].v[k], b = m->tri[t].v[(k + 1) % 3];
      ++uses[{std::min(a, b), std::max(a, b)}];
    }
  std::vector<std::pair<Key, Key>> out;
  for (const auto& [e, n] : uses)
    if (n == 1) out.push_back({KeyOf(m, e.first), KeyOf(m, e.second)});
  return out;
}

double Gap(const Key& a, const Key& b) { return std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]); }

struct GroupMeshes {
  healtest::Group grp;
  Gsrf* graph = nullptr;
  std::vector<Cloud*> meshes;
  ~GroupMeshes() {
    FreeGsrfBndr(graph);
    for (Cloud* m : meshes) FreeCloud(m);
  }
  bool Build(double gapTol, const std::vector<std::array<int, 2>>& density) {
    int status = 0;
    graph = MakeGSrfBndrStructCore(grp.data(), grp.size(), 1e-6, gapTol, &status);
    if (!graph) return false;
    for (int s = 0; s < grp.size(); ++s) meshes.push_back(Tessellate(grp.srfs[s], density[s][0], density[s][1]));
    return true;
  }
};

class GroupClosing : public KernelTest {};

// Every open edge of one mesh that lies on the other's boundary (within `near`) is matched by an
// open edge of the other with the same two end positions: the seam has no crack left.
void ExpectSeamClosed(const Cloud* a, const Cloud* b, double near) {
  const auto ea = OpenEdges(a), eb = OpenEdges(b);
  std::set<std::pair<Key, Key>> bset;
  for (auto e : eb) {
    bset.insert(e);
    bset.insert({e.second, e.first});
  }
  int onSeam = 0;
  for (const auto& e : ea) {
    double d0 = 1e30, d1 = 1e30;
    for (const auto& f : eb) {
      d0 = std::min({d0, Gap(e.first, f.first), Gap(e.first, f.second)});
      d1 = std::min({d1, Gap(e.second, f.first), Gap(e.second, f.second)});
    }
    if (d0 > near || d1 > near) continue;
    ++onSeam;
    EXPECT_TRUE(bset.count(e)) << e.first[0] << " " << e.first[1] << " - " << e.second[0] << " " << e.second[1];
  }
  EXPECT_GT(onSeam, 0);
}

std::vector<Key> Points(const Cloud* m) {
  std::vector<Key> out;
  for (int i = 0; i < m->npts; ++i) out.push_back(KeyOf(m, i));
  return out;
}

// Both ways round: B's parameter along the seam with A's and against it.
TEST_F(GroupClosing, TwoPatchesAtDifferentDensitiesShareEverySeamVertex) {
  for (bool reverseB : {false, true}) {
    SCOPED_TRACE(reverseB);
    GroupMeshes g;
    // B lies 0.005..0.01 above A's continuation: copies keep their side's positions.
    healtest::TwoPatches(g.grp, [](double) { return 0.0; }, reverseB);
    ASSERT_TRUE(g.Build(0.05, {{{7, 6}}, {{5, 9}}}));
    const int ptsA = g.meshes[0]->npts, ptsB = g.meshes[1]->npts;
    const StubThermometer before = StubGetThermometer();
    ASSERT_EQ(CloseCloudGroup(g.graph, g.meshes.data(), 0.02), 1);
    EXPECT_FALSE(KernelFailed());
    // Interleaved seams: each mesh gains a copy of every interior seam vertex of the other.
    EXPECT_EQ(g.meshes[0]->npts, ptsA + 7);
    EXPECT_EQ(g.meshes[1]->npts, ptsB + 4);
    ExpectSeamClosed(g.meshes[0], g.meshes[1], 1e-3);
    ExpectSeamClosed(g.meshes[1], g.meshes[0], 1e-3);
    // The caller owns the thermometer's display: only its value moves.
    const StubThermometer after = StubGetThermometer();
    EXPECT_EQ(after.displays, before.displays);
    EXPECT_EQ(after.undisplays, before.undisplays);
    EXPECT_EQ(after.value, 90);
    for (Cloud* m : g.meshes) {
      ASSERT_NE(m->nx, nullptr);
      for (int i = 0; i < m->npts; ++i)  // normals recomputed: none left to compute
        EXPECT_NE(m->nx[i], -1.0f) << i;
    }
  }
}

// Facing vertices within the graph tolerance are merged, not copied.
TEST_F(GroupClosing, EqualDensitiesMergeWithoutNewPoints) {
  GroupMeshes g;
  healtest::TwoPatches(g.grp, [](double) { return 0.0; }, false, [](double) { return 0.0; });
  ASSERT_TRUE(g.Build(0.02, {{{6, 8}}, {{4, 8}}}));
  const int ptsA = g.meshes[0]->npts, ptsB = g.meshes[1]->npts;
  ASSERT_EQ(CloseCloudGroup(g.graph, g.meshes.data(), 0.01), 1);
  EXPECT_EQ(g.meshes[0]->npts, ptsA);
  EXPECT_EQ(g.meshes[1]->npts, ptsB);
  ExpectSeamClosed(g.meshes[0], g.meshes[1], 1e-3);
}

// Four patches: all four seams closed and the middle corner at one position in every mesh.
TEST_F(GroupClosing, GridOfFourClosesSeamsAndTheMiddleCorner) {
  GroupMeshes g;
  healtest::Grid2x2(g.grp, 0.002, 3);
  ASSERT_TRUE(g.Build(0.02, {{{5, 7}}, {{8, 4}}, {{6, 5}}, {{4, 6}}}));
  ASSERT_EQ(CloseCloudGroup(g.graph, g.meshes.data(), 0.01), 1);
  for (auto [a, b] : {std::pair{0, 1}, {0, 2}, {1, 3}, {2, 3}}) {
    SCOPED_TRACE(testing::Message() << a << "-" << b);
    ExpectSeamClosed(g.meshes[a], g.meshes[b], 1e-3);
    ExpectSeamClosed(g.meshes[b], g.meshes[a], 1e-3);
  }
  // Near (1, 1) each mesh has exactly one vertex, and all four share its position.
  std::set<Key> centre;
  for (Cloud* m : g.meshes) {
    int n = 0;
    for (int i = 0; i < m->npts; ++i)
      if (std::hypot(m->x[i] - 1.0, m->y[i] - 1.0) < 0.05) ++n, centre.insert(KeyOf(m, i));
    EXPECT_EQ(n, 1);
  }
  EXPECT_EQ(centre.size(), 1u);
}

// A missing tessellation and a seam whose gap is not below tol leave the meshes as they were.
TEST_F(GroupClosing, MissingMeshesAndWideSeamsAreLeftAlone) {
  {
    GroupMeshes g;
    healtest::TwoPatches(g.grp, [](double) { return 0.0; }, false, [](double) { return 0.0; });
    ASSERT_TRUE(g.Build(0.02, {{{7, 6}}, {{5, 9}}}));
    FreeCloud(g.meshes[1]);
    g.meshes[1] = nullptr;
    const auto before = Points(g.meshes[0]);
    const int ntri = g.meshes[0]->ntri;
    ASSERT_EQ(CloseCloudGroup(g.graph, g.meshes.data(), 0.01), 1);
    EXPECT_EQ(Points(g.meshes[0]), before);
    EXPECT_EQ(g.meshes[0]->ntri, ntri);
  }
  {
    // 0.02 apart: paired within the graph's gap tolerance, but the caller's tol of 0.008 is
    // below the gap and below half of it, so neither the seam nor its corners close.
    GroupMeshes g;
    healtest::TwoPatches(g.grp, [](double) { return 0.0; }, false, [](double) { return 0.02; });
    ASSERT_TRUE(g.Build(0.05, {{{7, 6}}, {{5, 9}}}));
    ASSERT_NE(g.graph->nPair, 0);
    const auto a = Points(g.meshes[0]), b = Points(g.meshes[1]);
    ASSERT_EQ(CloseCloudGroup(g.graph, g.meshes.data(), 0.008), 1);
    EXPECT_EQ(Points(g.meshes[0]), a);
    EXPECT_EQ(Points(g.meshes[1]), b);
  }
}

// Refused allocations and a cancel: 0, no scope left open, nothing tracked, meshes still sound
// (every corner names a point).
TEST_F(GroupClosing, FailuresAndCancelReportZeroAndLeakNothing) {
  int failed = 0, succeeded = 0;
  for (long skip = 0; succeeded == 0 && skip < 100000; skip += 1 + skip / 5) {
    GroupMeshes g;
    healtest::TwoPatches(g.grp, [](double) { return 0.0; }, false, [](double) { return 0.0; });
    ASSERT_TRUE(g.Build(0.02, {{{7, 6}}, {{5, 9}}}));
    ClearKernelError();
    MallocFailAfter(skip, -1);
    const int r = CloseCloudGroup(g.graph, g.meshes.data(), 0.01);
    MallocFailClear();
    EXPECT_EQ(MallocTrackLevel(), 0);
    EXPECT_EQ(MallocTrackedCount(), 0);
    if (r == 1) {
      ++succeeded;
      EXPECT_FALSE(KernelFailed());
    } else {
      ++failed;
      EXPECT_TRUE(KernelFailed()) << skip;
    }
    for (Cloud* m : g.meshes)
      for (int t = 0; t < m->ntri; ++t)
        for (int k = 0; k < 3; ++k) ASSERT_LT(m->tri[t].v[k], m->npts);
    ClearKernelError();
  }
  EXPECT_GT(failed, 0);
  EXPECT_GT(succeeded, 0);

  GroupMeshes g;
  healtest::TwoPatches(g.grp, [](double) { return 0.0; }, false, [](double) { return 0.0; });
  ASSERT_TRUE(g.Build(0.02, {{{7, 6}}, {{5, 9}}}));
  StubSetUserBreak(1);
  EXPECT_EQ(CloseCloudGroup(g.graph, g.meshes.data(), 0.01), 0);
  StubSetUserBreak(0);
  EXPECT_EQ(MallocTrackLevel(), 0);
}

// Ranks along a seam: on one line the ranks are the merged order of the two chains, a B vertex
// first where two coincide; chains shorter than two vertices are refused.
TEST_F(GroupClosing, SeamRanksFollowTheMergedOrder) {
  const float xA[] = {0.0f, 0.3f, 0.5f, 0.9f, 1.0f}, xB[] = {0.0f, 0.2f, 0.5f, 0.7f, 1.0f};
  const float zero[5] = {};
  int oA[5], oB[5];
  ASSERT_EQ(MapVertexEyeToPolyline(xA, zero, zero, 5, xB, zero, zero, 5, oA, oB), 1);
  EXPECT_EQ(std::vector<int>(oA, oA + 5), (std::vector<int>{0, 2, 4, 6, 7}));
  EXPECT_EQ(std::vector<int>(oB, oB + 5), (std::vector<int>{0, 1, 3, 5, 7}));
  EXPECT_EQ(MapVertexEyeToPolyline(xA, zero, zero, 1, xB, zero, zero, 5, oA, oB), 0);
}

// A walk once around a closed element whose seam vertex shows up at either end of the parameter
// range: the first visit starts at the travel start, the return closes at the travel end, and the
// vertices between keep their own parameters, so the walk covers the element exactly once.
TEST_F(GroupClosing, SeamParametersOfAClosedElementSpanItOnceInTravelOrder) {
  for (double scale : {1e-3, 1.0, 1e3})
    for (int kind : {0, 1, 2, 3, 4}) {
      GsrfCrv crv{};
      crv.kind = kind;
      GsrfBndrEl el{};
      el.crv = &crv;
      el.t0 = 2 * scale, el.t1 = 5 * scale;
      Gsrf graph{};
      graph.els = &el;
      const bool backward = kind == 1 || kind == 4;
      const double start = backward ? el.t1 : el.t0, end = backward ? el.t0 : el.t1;
      // The seam vertex as found on the first visit: at the far end, up to rounding.
      const double seam = end + (backward ? 1e-8 : -1e-8) * scale;
      std::vector<double> given = {seam, 3 * scale, 4 * scale, 4.5 * scale, start};
      if (backward) std::reverse(given.begin() + 1, given.end() - 1);
      std::vector<double> walk;
      for (size_t i = 0; i < given.size(); ++i)
        walk.push_back(GetModifiedParamValue(&graph, 0, given[i], i == 0, i ? walk.back() : 0.0));
      EXPECT_EQ(walk.front(), start) << kind << " " << scale;
      EXPECT_EQ(walk.back(), end) << kind << " " << scale;
      for (size_t i = 1; i + 1 < walk.size(); ++i) EXPECT_EQ(walk[i], given[i]);
      // A first visit inside the range, clear of the far end, keeps its parameter.
      const double inside = end + (backward ? 1e-3 : -1e-3) * scale;
      EXPECT_EQ(GetModifiedParamValue(&graph, 0, inside, 1, 0.0), inside);
    }
}

}  // namespace
