// Capping the holes real CAD and scan meshes have: rims that are not flat, concave (L and cross
// shaped) rims, long thin slots, holes touching at a vertex and rims on a saddle. Every one is
// closed as a simple ear-clipping filler closes it: no open or overused edge left, every edge run
// once each way, no cap triangle crossing the mesh or another, nothing reported.
#include <cmath>
#include <functional>
#include <string>
#include <utility>

#include "mesh/cldtrim.h"
#include "tests/mesh/soundness.h"
#include "tests/support/kernel_fixture.h"

namespace {

class CapHoleKinds : public KernelTest {
 protected:
  void ExpectEveryHoleCapped(Cloud* m);
};

// The box [0, 12]^2 x [0, 6] with the given cells of its top face left out, the inside points of
// that face lifted by bump(x, y) (the box stays closed), and the whole scaled and moved.
Cloud* BumpyTop(const std::function<bool(int, int)>& hole, const std::function<double(double, double)>& bump,
                double scale = 1.0, double shift = 0.0) {
  const int n = 12, h = 6;
  Cloud* m = BoxSurface(n, n, h, [&](int face, int i, int j) { return face != 5 || !hole(i, j); });
  if (!m) return nullptr;
  for (int i = 0; i < m->npts; ++i) {
    const double x = m->x[i], y = m->y[i];
    double z = m->z[i];
    if (z == h && x > 0 && x < n && y > 0 && y < n) z += bump(x, y);
    m->x[i] = float(scale * x + shift), m->y[i] = float(scale * y + shift), m->z[i] = float(scale * z + shift);
  }
  for (int t = 0; t < m->ntri; ++t) MakeCldPolyPlane(m, &m->tri[t]);
  return m;
}

// Caps the mesh and checks what a sound cap of every hole leaves.
void CapHoleKinds::ExpectEveryHoleCapped(Cloud* m) {
  ASSERT_NE(m, nullptr);
  ASSERT_GT(MeshSoundness(m).open, 0);
  const int before = m->ntri;
  const size_t from = Messages().size();
  EXPECT_EQ(CapAllLoops(m), 1);
  const MeshSoundness s(m);
  EXPECT_EQ(s.open, 0);
  EXPECT_EQ(s.overused, 0);
  EXPECT_EQ(s.disagreeing, 0);
  EXPECT_EQ(CrossingPairs(m, before), 0);
  EXPECT_FALSE(KernelFailed());
  EXPECT_EQ(Messages().find("Hole", from), std::string::npos) << Messages().substr(from);
}

double Flat(double, double) { return 0.0; }
double Wavy(double x, double y) { return 0.8 * std::sin(0.9 * x) * std::cos(0.7 * y); }
double Saddle(double x, double y) { return ((x - 6) * (x - 6) - (y - 6) * (y - 6)) / 12.0; }

struct HoleKind {
  const char* name;
  std::function<bool(int, int)> hole;
};

const HoleKind kKinds[] = {
    {"square", [](int i, int j) { return i >= 4 && i <= 7 && j >= 4 && j <= 7; }},
    {"L", [](int i, int j) { return (i >= 2 && i <= 8 && j >= 2 && j <= 3) || (i >= 2 && i <= 3 && j >= 2 && j <= 9); }},
    {"cross", [](int i, int j) { return (i >= 5 && i <= 6 && j >= 1 && j <= 10) || (j >= 5 && j <= 6 && i >= 1 && i <= 10); }},
    {"star", [](int i, int j) {
       const int di = std::abs(2 * i + 1 - 12), dj = std::abs(2 * j + 1 - 12);
       return di + dj <= 6 || (di <= 1 && dj <= 10) || (dj <= 1 && di <= 10) || (di == dj && di <= 7);
     }},
    {"slot", [](int i, int j) { return i == 6 && j >= 1 && j <= 10; }},
    {"touching", [](int i, int j) { return (i == 3 && j == 3) || (i == 4 && j == 4) || (i >= 6 && i <= 7 && j >= 6 && j <= 7) || (i == 8 && j == 8); }},
};

TEST_F(CapHoleKinds, FlatWavyAndSaddleRims) {
  const std::pair<const char*, double (*)(double, double)> bumps[] = {{"flat", Flat}, {"wavy", Wavy}, {"saddle", Saddle}};
  for (const auto& [bumpName, bump] : bumps) {
    for (const HoleKind& k : kKinds) {
      SCOPED_TRACE(testing::Message() << bumpName << " " << k.name);
      Cloud* m = BumpyTop(k.hole, bump);
      ExpectEveryHoleCapped(m);
      FreeCloud(m);
    }
  }
}

// The same caps in their own units at sizes 1e-3 and 1e3, and moved 1e4 sizes from the origin.
TEST_F(CapHoleKinds, SaddleRimsAtEveryScaleAndPlace) {
  for (const HoleKind& k : {kKinds[3], kKinds[5]}) {
    for (double scale : {1e-3, 1e3}) {
      for (double far : {0.0, 1e4}) {
        SCOPED_TRACE(testing::Message() << k.name << " " << scale << " " << far);
        Cloud* m = BumpyTop(k.hole, Saddle, scale, far * 12 * scale);
        ExpectEveryHoleCapped(m);
        FreeCloud(m);
      }
    }
  }
}

}  // namespace
