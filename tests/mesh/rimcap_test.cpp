// Closing open rims: a flat cap with tapered dowel sockets, and a strip with a separate plug
// between two boundary loops.
#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <set>
#include <vector>

#include "foundation/vec3.h"
#include "mesh/trianum.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/meshes.h"

namespace {

double Dot(const double a[3], const double b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

void Point(const Cloud* m, int i, double p[3]) { p[0] = m->x[i], p[1] = m->y[i], p[2] = m->z[i]; }

// The walls of a square tube of side 10 and height 1 (40 vertices round each rim, rim k at z = k
// before the motion), moved so that its axis runs along `axis`; the top rim is vertices 40..79.
Cloud* Tube(const Xform motion) {
  std::vector<std::array<double, 3>> pts;
  for (int k = 0; k < 2; ++k)
    for (int i = 0; i < 40; ++i) {
      const int side = i / 10, s = i % 10;
      const double xy[4][2] = {{double(s), 0}, {10, double(s)}, {10 - double(s), 10}, {0, 10 - double(s)}};
      const double p[3] = {xy[side][0] - 5, xy[side][1] - 5, double(k)};
      double q[3];
      VecTrans3(p, motion, q);
      pts.push_back({q[0], q[1], q[2]});
    }
  std::vector<TestTriangle> tris;
  for (int i = 0; i < 40; ++i) {
    const int j = (i + 1) % 40;
    tris.push_back({i, j, 40 + j});
    tris.push_back({i, 40 + j, 40 + i});
  }
  return MakeTestMesh(pts, tris);
}

class DowelCap : public KernelTest {};

TEST_F(DowelCap, ThreeSocketsInAFlatCapOnATiltedTube) {
  Xform motion, frame;
  const double origin[3] = {0, 0, 0}, tilt[3] = {0.3, -0.4, 0.85}, up[3] = {0, 0, 1};
  TransformToZAxis(origin, tilt, motion);  // a rotation
  double axis[3];
  VecRot3(up, motion, axis);  // the tube's axis in the world
  TransformToZAxis(origin, axis, frame);
  for (const int depthSense : {0, 1}) {
    SCOPED_TRACE(testing::Message() << "depthSense " << depthSense);
    Cloud* m = Tube(motion);
    const int npts = m->npts, ntri = m->ntri;
    auto inFrame = [&](int i, double q[3]) {
      double p[3];
      Point(m, i, p);
      VecTrans3(p, frame, q);
    };
    std::vector<int> rim(40);
    for (int i = 0; i < 40; ++i) rim[i] = 40 + i;
    // Dowel centres on the top rim's plane, given in world coordinates.
    const double sizes[3] = {2.0, 1.0, 0.5}, centres[3][2] = {{-2, -2}, {2.5, 1}, {-1, 3}};
    double positions[9], world[9];
    for (int d = 0; d < 3; ++d) {
      const double p[3] = {centres[d][0], centres[d][1], 1.0};
      VecTrans3(p, motion, world + 3 * d);
    }
    std::copy(world, world + 9, positions);
    const int nd = 3;
    ASSERT_EQ(STLPolygonCap(m, axis[0], axis[1], axis[2], 123.0, 40, rim.data(), &nd, sizes, positions, depthSense,
                            positions), 1);
    // The cap: the rim (40) and three squares (12) bridged (6): 56 triangles; then 10 a dowel.
    ASSERT_EQ(m->npts, npts + 24);
    ASSERT_EQ(m->ntri, ntri + 56 + 30);
    double level[3], capArea = 0.0;
    inFrame(40, level);
    for (int d = 0; d < 3; ++d) {  // positions overwritten with their frame coordinates
      double q[3];
      VecTrans3(world + 3 * d, frame, q);
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(positions[3 * d + k], q[k], 1e-9);
    }
    for (int t = ntri; t < ntri + 56; ++t) {  // flat, in the rim's plane, the rim less the sockets
      double p[3][3], u[3], v[3], n[3];
      for (int k = 0; k < 3; ++k) {
        inFrame(m->tri[t].v[k], p[k]);
        EXPECT_NEAR(p[k][2], level[2], 1e-5);
      }
      VecCrossProd3(VecDiff3(p[1], p[0], u), VecDiff3(p[2], p[0], v), n);
      capArea += n[2] / 2;
    }
    EXPECT_NEAR(capArea, 100 - 4 - 1 - 0.25, 1e-4);
    for (int d = 0; d < 3; ++d) {
      // Top corners s/2 off the centre at the cap level, bottom ones 0.45 s off and s deep along
      // the sense; sides and bottom all facing away from the socket's middle, or all towards it.
      const int* side = m->tri[ntri + 56 + 10 * d].v;  // (t0, t1, b0)
      const int corners[8] = {npts + 4 * d, npts + 4 * d + 1, npts + 4 * d + 2, npts + 4 * d + 3,
                              side[2], side[2] + 1, side[2] + 2, side[2] + 3};
      double mid[3] = {0, 0, 0};
      for (int k = 0; k < 8; ++k) {
        double q[3], p[3];
        inFrame(corners[k], q);
        const double half = (k < 4 ? 0.5 : 0.45) * sizes[d];
        EXPECT_NEAR(std::fabs(q[0] - positions[3 * d]), half, 1e-5);
        EXPECT_NEAR(std::fabs(q[1] - positions[3 * d + 1]), half, 1e-5);
        EXPECT_NEAR(q[2], level[2] + (k < 4 ? 0.0 : (depthSense ? 1 : -1) * sizes[d]), 1e-5);
        Point(m, corners[k], p);
        for (int j = 0; j < 3; ++j) mid[j] += p[j] / 8;
      }
      int outward = 0;
      for (int t = ntri + 56 + 10 * d; t < ntri + 66 + 10 * d; ++t) {
        double p[3], off[3];
        Point(m, m->tri[t].v[0], p);
        const double n[3] = {m->tri[t].plane[0], m->tri[t].plane[1], m->tri[t].plane[2]};
        outward += Dot(n, VecDiff3(p, mid, off)) > 0 ? 1 : -1;
      }
      EXPECT_EQ(std::abs(outward), 10) << "dowel " << d;
    }
    for (int i = npts; i < m->npts; ++i) EXPECT_NE(m->nx[i] + m->ny[i] + m->nz[i], -3.0f) << "normal left to compute";
    FreeCloud(m);
  }
}

TEST_F(DowelCap, AVertexWithThreeListedNeighboursIsRefused) {
  Xform identity;
  Get_imat(identity);
  Cloud* m = Tube(identity);
  std::vector<int> listed(40);
  for (int i = 0; i < 40; ++i) listed[i] = 40 + i;
  listed.push_back(0);  // a bottom vertex: its top neighbour then has three listed neighbours
  const int none = 0;
  EXPECT_EQ(STLPolygonCap(m, 0, 0, 1, 0, 41, listed.data(), &none, nullptr, nullptr, 0, nullptr), 0);
  EXPECT_EQ(m->ntri, 80);
  // Without dowels a rim gets a flat cap of 38 triangles.
  EXPECT_EQ(STLPolygonCap(m, 0, 0, 1, 0, 40, listed.data(), &none, nullptr, nullptr, 0, nullptr), 1);
  EXPECT_EQ(m->ntri, 80 + 38);
  FreeCloud(m);
}

TEST_F(DowelCap, RimsMeetingAtAVertexAreWalkedApart) {
  // Two triangles touching at vertex 2: the walk from vertex 0 reaches 2 with three ways on and
  // must take the one back to 0; the other rim is walked from 2 itself.
  Cloud* m = MakeTestMesh({{0, 0, 0}, {2, 0, 0}, {1, 1, 0}, {2, 2, 0}, {0, 2, 0}}, {{0, 1, 2}, {2, 3, 4}});
  const int listed[5] = {0, 1, 2, 3, 4}, none = 0;
  ASSERT_EQ(STLPolygonCap(m, 0, 0, 1, 0, 5, listed, &none, nullptr, nullptr, 0, nullptr), 1);
  ASSERT_EQ(m->ntri, 4);
  std::set<std::set<int>> caps;
  for (int t = 2; t < 4; ++t) caps.insert(std::set<int>(m->tri[t].v, m->tri[t].v + 3));
  EXPECT_EQ(caps, (std::set<std::set<int>>{{0, 1, 2}, {2, 3, 4}}));
  FreeCloud(m);
}

// ---- Strip and plug ---------------------------------------------------------------------------

// Two octagons of radius 2, one at z = 0 (vertices 0..7) and one above it at z = 1 (8..15), and
// one triangle so that the mesh has a triangle array.
Cloud* TwoOctagons() {
  std::vector<std::array<double, 3>> pts;
  for (int k = 0; k < 2; ++k)
    for (int i = 0; i < 8; ++i) pts.push_back({2 * std::cos(M_PI * i / 4), 2 * std::sin(M_PI * i / 4), double(k)});
  return MakeTestMesh(pts, {{0, 1, 2}});
}

// The octagons' loops, and the plug of one span pair between them.
struct Octagons {
  Cloud* mesh = TwoOctagons();
  int l0[8], l1[8];
  int* loops[2] = {l0, l1};
  int room = 1;
  Octagons() {
    for (int i = 0; i < 8; ++i) l0[i] = i, l1[i] = 8 + i;
  }
  ~Octagons() { FreeCloud(mesh); }
  // Joins positions span[0]..span[1] of loop 0 with span[2]..span[3] of loop 1.
  Cloud* Plug(std::array<int, 4> span, int sizes[2], short* flags = nullptr) {
    int s0[2] = {span[0], span[1]}, s1[2] = {span[2], span[3]};
    int* spans[2] = {s0, s1};
    return CreatePlugForHole(mesh, loops, spans, 1, sizes, &room, flags);
  }
};

class StripAndPlug : public KernelTest {};

TEST_F(StripAndPlug, EqualSpansZigzagAndThePlugClosesBothLoops) {
  Octagons o;
  const Cloud* m = o.mesh;
  int sizes[2] = {8, 8};
  short flags[2] = {7, 7};
  Cloud* plug = o.Plug({0, 7, 0, 7}, sizes, flags);
  ASSERT_NE(plug, nullptr);
  EXPECT_EQ(flags[0], 7);  // never written
  ASSERT_EQ(m->ntri, 1 + 14);  // 2 (8 - 1)
  EXPECT_GE(o.room, m->ntri + 1);
  for (int t = 1; t < m->ntri; ++t) {
    const int* v = m->tri[t].v;
    const int lower = int(v[0] < 8) + int(v[1] < 8) + int(v[2] < 8);
    EXPECT_EQ(lower, t % 2 ? 2 : 1) << "strip triangle " << t << " does not alternate";
  }
  // The plug: both octagons capped (6 + 6) and the strip (14), lifted by 1.5 along z.
  EXPECT_EQ(plug->npts, 16);
  EXPECT_EQ(plug->ntri, 26);
  for (int i = 0; i < plug->npts; ++i) EXPECT_TRUE(std::fabs(plug->z[i] - 1.5f) < 1e-6 || std::fabs(plug->z[i] - 2.5f) < 1e-6);
  // Closed but for the gap between the spans' ends (the loops' closing edges 0-7 and 8-15 and
  // the strip's end edges 0-8 and 7-15): every other edge in exactly two triangles.
  std::map<std::pair<int, int>, int> uses;
  for (int t = 0; t < plug->ntri; ++t)
    for (int k = 0; k < 3; ++k) {
      const int a = plug->tri[t].v[k], b = plug->tri[t].v[(k + 1) % 3];
      ++uses[{std::min(a, b), std::max(a, b)}];
    }
  const std::set<std::pair<int, int>> gap = {{0, 7}, {8, 15}, {0, 8}, {7, 15}};
  for (const auto& [e, n] : uses) EXPECT_EQ(n, gap.count(e) ? 1 : 2) << e.first << "-" << e.second;
  FreeCloud(plug);
}

TEST_F(StripAndPlug, AOneVertexSpanFansAndBadSpansAreRefused) {
  Octagons o;
  const Cloud* m = o.mesh;
  int sizes[2] = {8, 8};
  Cloud* plug = o.Plug({0, 5, 3, 3}, sizes);
  ASSERT_NE(plug, nullptr);
  EXPECT_EQ(sizes[0], 6);  // the last span pair's sizes
  EXPECT_EQ(sizes[1], 1);
  ASSERT_EQ(m->ntri, 1 + 5);
  for (int t = 1; t < m->ntri; ++t) EXPECT_EQ(m->tri[t].v[2], 11) << "fan triangle " << t;
  FreeCloud(plug);
  for (const auto& bad : {std::array<int, 4>{0, 5, 4, 3}, {0, 8, 0, 7}, {-1, 3, 0, 3}}) {
    int badSizes[2] = {8, 8};
    const int before = m->ntri;
    EXPECT_EQ(o.Plug(bad, badSizes), nullptr);
    EXPECT_EQ(m->ntri, before);
    EXPECT_EQ(badSizes[0], 8);
  }
}

// Under refused allocations both leave no scope open and nothing tracked, and a mesh whose
// triangles all name points it has.
TEST_F(StripAndPlug, OutOfMemoryLeavesConsistentMeshes) {
  auto consistent = [](const Cloud* m) {
    for (int t = 0; t < m->ntri; ++t)
      for (int k = 0; k < 3; ++k)
        if (m->tri[t].v[k] < 0 || m->tri[t].v[k] >= m->npts) return false;
    return true;
  };
  int failures = 0;
  for (long skip = 0; skip < 120; skip += 2) {
    ClearKernelError();
    Xform identity;
    Get_imat(identity);
    Cloud* tube = Tube(identity);
    Octagons pair;
    std::vector<int> rim(40);
    for (int i = 0; i < 40; ++i) rim[i] = 40 + i;
    const int nd = 1;
    const double size = 2.0;
    double centre[3] = {0, 0, 1};
    int sizes[2] = {8, 8};
    MallocFailAfter(skip, -1);
    const int capped = STLPolygonCap(tube, 0, 0, 1, 0, 40, rim.data(), &nd, &size, nullptr, 0, centre);
    Cloud* plug = pair.Plug({0, 7, 2, 6}, sizes);
    MallocFailClear();
    EXPECT_EQ(MallocTrackLevel(), 0) << skip;
    EXPECT_EQ(MallocTrackedCount(), 0) << skip;
    EXPECT_TRUE(consistent(tube)) << skip;
    EXPECT_TRUE(consistent(pair.mesh)) << skip;
    if (capped) {
      EXPECT_EQ(tube->ntri, 80 + 44 + 10) << skip;  // the rim and one square bridged: 46 - 2
    }
    failures += !capped + !plug;
    FreeCloud(plug);
    FreeCloud(tube);
  }
  ClearKernelError();
  EXPECT_GT(failures, 10);
}

}  // namespace
