// Triangles that name no point (a corner negative or past the last point, as scans and exports
// carry them): every tool that reads a mesh's triangles refuses such a mesh before reading one,
// the mesh and the caller's arrays as they were and the error state as its other refusals leave
// it, while the two decimations drop those triangles and go on.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <vector>

#include "cloud/makecld.h"
#include "cloud/pnterr.h"
#include "cloud/premove.h"
#include "cloud/psample.h"
#include "healing/srfbndrc.h"
#include "mesh/cldtrim.h"
#include "mesh/pgr2cld.h"
#include "mesh/pharm.h"
#include "mesh/poffset.h"
#include "mesh/putil.h"
#include "mesh/rpmclose.h"
#include "mesh/trianum.h"
#include "tests/healing/heal_groups.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/meshes.h"

namespace {

class NamedCorners : public KernelTest {};

// Everything of a mesh a refusal must leave alone, compared bit for bit.
std::vector<unsigned char> State(const Cloud* m) {
  std::vector<unsigned char> s;
  auto add = [&s](const void* p, size_t n) {
    const auto* b = static_cast<const unsigned char*>(p);
    s.insert(s.end(), b, b + n);
  };
  add(&m->npts, sizeof m->npts);
  add(&m->ntri, sizeof m->ntri);
  for (const float* a : {m->x, m->y, m->z, m->nx, m->ny, m->nz})
    if (a) add(a, sizeof(float) * m->npts);
  if (m->tri) add(m->tri, sizeof(CloudTriangle) * m->ntri);
  if (m->isVert) add(m->isVert, m->npts / 8 + 1);
  return s;
}

// A 5 x 5 sheet with its middle cell left out, normals set, and a copy of triangle 0 appended
// with corner 2 made `bad`.
Cloud* SheetNaming(int32_t bad) {
  Cloud* m = MakeGridMesh(5, 5, [](int i, int j) { return !(i == 2 && j == 2); });
  if (!m || !CloudSetNormVerts(m) || !ReallocCldPolyList(m, m->ntri + 1)) return m;
  m->tri[m->ntri] = m->tri[0];
  m->tri[m->ntri++].v[2] = bad;
  return m;
}

TEST_F(NamedCorners, EveryTriangleReaderRefusesTheMeshUnchanged) {
  // Tables a caller built on the sound sheet, handed over after the stray triangle came in.
  Cloud* sound = SheetNaming(0);
  ASSERT_NE(sound, nullptr);
  sound->ntri -= 1;
  MeshEdgesAndLoops topo;
  ASSERT_EQ(topo.Build(sound), 0);
  ASSERT_EQ(topo.nloops, 2);
  std::vector<IndexNode*> edgeHeads(sound->npts);
  std::vector<IndexNode> edgeNodes(2 * topo.nedges);
  MakeEdgePointers(sound, topo.edges, topo.nedges, edgeHeads.data(), edgeNodes.data());
  std::vector<int> loop;
  for (IndexNode* e = topo.loops[0]; e; e = e->next) loop.push_back(e->index);
  const int loopCount = int(loop.size());
  loop.resize(loopCount + sound->ntri + 1);
  BsplineKeeper keep;
  Bspline* curve = keep(BuildCurve(2, 3, {0, 0, 0, 2, 0, 0, 4, 1, 0}));
  healtest::Group grp;
  healtest::TwoPatches(
      grp, [](double) { return 0.0; }, false);
  int status = 0;
  Gsrf* graph = MakeGSrfBndrStructCore(grp.data(), grp.size(), 1e-6, 0.05, &status);
  ASSERT_NE(graph, nullptr);

  const auto none = [](void* p) { return p ? (Free(p), 1) : 0; };
  const auto cloud = [](Cloud* c) { return c ? (FreeCloud(c), 1) : 0; };
  int scratch[8] = {0}, *outs[5] = {nullptr}, n = 0, a = 0, b = 0, c = 0;
  double bbox[6], *boxes = nullptr;
  Cloud** pieces = nullptr;
  unsigned char* listed = nullptr;
  const int pick = 0, hole[4] = {12, 13, 17, 18}, cut[2] = {6, 7};
  const double w = 0.3;
  std::vector<int> dropPoint(25, 0), numbers(25, -7);
  dropPoint[24] = 1;
  std::vector<char> keepSome(25, 1);
  keepSome[24] = 0;
  const std::vector<unsigned char> keepAll(25, 1);
  std::vector<float> joined(50);
  std::vector<int> joinMap(50);
  Cloud *pair[2] = {sound, nullptr}, *group[2] = {nullptr, nullptr};
  Cloud* bare = MakeGridMesh(5, 5, [](int, int) { return false; });
  ASSERT_NE(bare, nullptr);
  std::vector<int> same(25);
  for (int i = 0; i < 25; ++i) same[i] = i;
  struct Case {
    const char* name;
    std::function<int(Cloud*)> run;
    int refused;
    bool reportsInErrorState = false;
  };
  const std::vector<Case> cases = {
      {"BuildOffsetPolyCloud", [&](Cloud* m) { return cloud(BuildOffsetPolyCloud(m, 0.1, bbox)); }, 0, true},
      {"CreateOffsetPolyCloud",
       [](Cloud* m) { return CreateOffsetPolyCloud(m, 0.1, 1e-4, 1, nullptr, 0, 0) != nullptr; }, 0, true},
      {"SubdivideCloudEdgesToTol", [](Cloud* m) { return SubdivideCloudEdgesToTol(m, 0.3); }, 0},
      {"SubdividePolysInto3Polys", [](Cloud* m) { return SubdivideCldPolys(m, 0, nullptr, nullptr); }, 0},
      {"SubdividePolysInto4Polys", [](Cloud* m) { return SubdivideCldPolys(m, 1, nullptr, nullptr); }, 0},
      {"DividePolyAtPickedPoint", [&](Cloud* m) { return DividePolyAtPickedPoint(m, &pick, &w, &w, 1); }, 0},
      {"MakeOuterEdgeList",
       [&](Cloud* m) {
         MeshEdgesAndLoops t;
         return t.Build(m) + t.total + (t.loops != nullptr);
       },
       0},
      {"MakeBoundaryLoops",
       [&](Cloud* m) {
         int32_t* e = nullptr;
         IndexNode **heads = nullptr, *nodes = nullptr;
         return MakeBoundaryLoops(m, &e, &heads, &n, &outs[0], &nodes) + n + none(e) + none(heads) + none(nodes);
       },
       0},
      {"CapAllLoops", [](Cloud* m) { return CapAllLoops(m); }, 1, true},
      {"CapModel", [&](Cloud* m) { return CapModel(m, topo.edges, topo.nloops, topo.loops); }, 0},
      {"BeginHoleCaps",
       [&](Cloud* m) {
         TrackingScope s;
         return BeginHoleCaps(m, topo.edges, topo.loops, topo.nloops, 0) != nullptr;
       },
       0},
      {"STLPolygonCap",
       [&](Cloud* m) { return STLPolygonCap(m, 0, 0, 1, 0, 4, hole, nullptr, nullptr, nullptr, 0, nullptr); }, 0},
      {"JoinCldPolys",
       [&](Cloud* m) { return JoinCldPolys(m, 0.01, 0.5, scratch, MallocArray<unsigned char>(topo.nedges), 8); }, 0},
      {"NewJoinCldPolys", [](Cloud* m) { return NewJoinCldPolys(m, 0.1, 0.1, 0.0); }, 0},
      {"RemoveDegenCldPolys", [](Cloud* m) { return RemoveDegenCldPolys(m, 1e-3, nullptr); }, -1},
      {"RemoveMultiEdgePolys", [](Cloud* m) { return RemoveMultiEdgePolys(m, 7, nullptr); }, 0},
      {"RemoveLongCldPolys", [](Cloud* m) { return RemoveLongCldPolys(m, 0.5, nullptr); }, 0},
      {"TrimCloudWithCurve",
       [&](Cloud* m) {
         n = loopCount;
         return TrimCloudWithCurve(m, loop.data(), &n, curve, topo.edges, edgeHeads.data(), nullptr, 0.1) +
                (n != loopCount);
       },
       0},
      {"SepHarmonizedRegionsCore", [&](Cloud* m) { return SepHarmonizedRegionsCore(m, cut, 1); }, 0},
      // The queries of one triangle, asked of the stray one with a map of one entry per point.
      {"FindPolyEdges",
       [&](Cloud* m) {
         int e[6];
         FindPolyEdges(m, m->ntri - 1, e, same.data());
         return e[0] != -1;
       },
       0},
      {"PolyConnected", [&](Cloud* m) { return PolyConnected(m, m->ntri - 1, cut, 1, same.data()); }, 0},
      {"PolyDisconnected",
       [&](Cloud* m) { return PolyDisconnected(m, m->ntri - 1, cut, 1, same.data(), nullptr, 0, nullptr, 0, nullptr); },
       0},
      {"CloseCloudGroup",
       [&](Cloud* m) {
         group[0] = m;
         return CloseCloudGroup(graph, group, 0.02);
       },
       0},
      {"DeleteCldVertsAndPolys", [&](Cloud* m) { return DeleteCldVertsAndPolys(m, dropPoint.data(), nullptr); }, 0},
      {"FindMultCloudPoly", [&](Cloud* m) { return FindMultCloudPoly(m, &outs[0], &listed, nullptr) + none(listed); },
       0},
      {"FindDegenerateCloudPoly",
       [&](Cloud* m) { return FindDegenerateCloudPoly(m, 0.1, &outs[0], &listed, nullptr) + none(listed); }, 0},
      {"FindOverlapCloudPoly", [&](Cloud* m) { return FindOverlapCloudPoly(m, 10, &outs[0], &listed) + none(listed); },
       0},
      {"MakePolyCenterCloud", [&](Cloud* m) { return cloud(MakePolyCenterCloud(m, bbox)); }, 0},
      {"RemoveCldIdenticalPtsWIndices",
       [&](Cloud* m) { return RemoveCldIdenticalPtsWIndices(m, numbers.data()) + (numbers[0] != -7); }, 0},
      {"BreakDistinctClouds", [&](Cloud* m) { return BreakDistinctClouds(m, &pieces, &boxes, &n) + n; }, 0},
      {"AddPolyClds",
       [&](Cloud* m) {
         pair[1] = m;
         return cloud(AddPolyClds(pair, 2, 0));
       },
       0},
      {"FindCloudPolySub",
       [&](Cloud* m) {
         return FindCloudPolySub(m, 0, 2, &a, &outs[0], &outs[1], &b, &outs[2], &outs[3], &c, &outs[4]) + a + b + c;
       },
       0},
      {"MakePartPolyCld", [&](Cloud* m) { return cloud(MakePartPolyCld(m, &(a = m->ntri - 1), 1, bbox)); }, 0},
      {"AddoptPartialCloudPoly", [&](Cloud* m) { return AddoptPartialCloudPoly(m, same.data(), bare), bare->ntri; }, 0},
      {"CloudSetNormVerts", [](Cloud* m) { return CloudSetNormVerts(m); }, 0},
      {"CloudSetSomeNormVerts", [](Cloud* m) { return CloudSetSomeNormVerts(m); }, 0},
      {"CloudResetZeroNormsIsVerts", [](Cloud* m) { return CloudResetZeroNormsIsVerts(m); }, 0},
      {"CloudSetOnlyNormVertsAfterIndx", [](Cloud* m) { return CloudSetOnlyNormVertsAfterIndx(m, 3); }, 0},
      {"CloudSetNormsSpec", [](Cloud* m) { return CloudSetNormsSpec(m, 30); }, 0},
      {"CloudSetIsVerts", [](Cloud* m) { return CloudSetIsVerts(m); }, 0},
      {"RefreshCloudPolys", [](Cloud* m) { return RefreshCloudPolys(m); }, 0},
      {"SampleCloudBasedOnArray", [&](Cloud* m) { return SampleCloudBasedOnArray(m, keepSome.data()); }, 0},
      {"CreateCloudBasedOnArray", [&](Cloud* m) { return cloud(CreateCloudBasedOnArray(m, keepAll.data(), bbox)); }, 0},
      {"JoinCloudSetsToTol",
       [&](Cloud* m) {
         float* o = joined.data();
         return JoinCloudSetsToTol(sound, m, o, o, o, joinMap.data(), 0.1);
       },
       0},
      {"PolycldToCldDiff", [&](Cloud* m) { return PolycldToCldDiff(m, sound, 1.0, nullptr, nullptr, nullptr); }, 0},
  };
  for (int32_t bad : {-1, 25, INT_MIN}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << c.name << " with corner " << bad);
      ClearKernelError();
      Cloud* m = SheetNaming(bad);
      ASSERT_NE(m, nullptr);
      ASSERT_EQ(m->npts, 25);
      const std::vector<unsigned char> before = State(m), soundBefore = State(sound);
      const std::vector<int32_t> edges(topo.edges, topo.edges + 2 * topo.nedges);
      EXPECT_EQ(c.run(m), c.refused);
      // The capper, whose failures show nowhere else, and the offsets (record makers) report the
      // refusal in the error state; the others in their return alone.
      EXPECT_EQ(zk_error_status, c.reportsInErrorState ? -2 : 0);
      EXPECT_FALSE(MemoryErrorSet());
      EXPECT_TRUE(State(m) == before);
      EXPECT_TRUE(State(sound) == soundBefore);
      EXPECT_TRUE(std::equal(edges.begin(), edges.end(), topo.edges));
      EXPECT_EQ(MallocTrackLevel(), 0);
      EXPECT_TRUE(pieces == nullptr && boxes == nullptr && listed == nullptr);
      for (int* o : outs) EXPECT_EQ(o, nullptr);
      FreeCloud(m);
    }
  }
  ClearKernelError();
  FreeGsrfBndr(graph);
  FreeCloud(bare);
  FreeCloud(sound);
}

TEST_F(NamedCorners, TheDecimationsDropThemAndGoOn) {
  for (int32_t bad : {-1, 25, INT_MIN}) {
    SCOPED_TRACE(bad);
    Cloud* a = SheetNaming(bad);
    Cloud* b = SheetNaming(bad);
    ASSERT_TRUE(a && b);
    const int sound = a->ntri - 1;
    EXPECT_EQ(ReduceCloudPolygons(a, 1e-3, 10, nullptr), 1);
    double box[6] = {0, 0, 0, 4, 4, 1}, maxError = 0;
    EXPECT_EQ(ReducePolygonsByCount(b, sound - 4, 1, 1, 1, box, &maxError), 0);
    for (const Cloud* m : {a, b}) {
      EXPECT_EQ(MeshCornersNamePoints(m, nullptr), 1);
      EXPECT_GT(m->ntri, 0);
      EXPECT_LT(m->ntri, sound);
    }
    EXPECT_FALSE(KernelFailed());
    FreeCloud(a);
    FreeCloud(b);
  }
}

}  // namespace
