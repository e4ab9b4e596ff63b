// Seeded torture of the topology build and the heal: a two-patch group whose second patch is
// made bad or extreme in generated ways (non-finite or huge coordinates and knots, decreasing
// or over-repeated knots, degrees out of range, negative counts, collapsed nets and corners)
// goes through MakeTopologyZK and, when a topology was built, HealTopologyZK (in half of the
// cases the topology is built from the sound group and the patch is spoilt before the heal,
// which reads the caller's current control points). Each call must
// end in success with every caller surface still finite and well formed, or in -2 with the
// caller's surfaces exactly as they were. Outcome counts are printed.
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "foundation/makemat.h"
#include "healing/gstitch.h"
#include "tests/healing/heal_groups.h"
#include "tests/support/kernel_fixture.h"

namespace {

using namespace healtest;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

const char* const kDefects[] = {"sound",          "nan coord",     "inf coord",        "1e300 coords",
                                "nan knot",       "inf knot",      "decreasing knots", "over-repeated knot",
                                "degree > limit", "negative count", "collapsed net",   "collapsed corner"};
constexpr int kDefectCount = sizeof(kDefects) / sizeof(kDefects[0]);

// Every number of a surface and its counts, compared bit for bit.
std::vector<double> Image(const Bspline* s) {
  std::vector<double> v = {double(s->degreeU), double(s->degreeV), double(s->interiorU),
                           double(s->interiorV), double(s->rational)};
  const int nu = std::max(NumCtrlU(s), 0), nv = std::max(NumCtrlV(s), 0);
  v.insert(v.end(), s->knotsU, s->knotsU + std::max(NumKnotsU(s), 0));
  v.insert(v.end(), s->knotsV, s->knotsV + std::max(NumKnotsV(s), 0));
  for (double** m : {s->X, s->Y, s->Z})
    for (int j = 0; j < nv; ++j) v.insert(v.end(), m[j], m[j] + nu);
  return v;
}

bool SameBits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

// Finite knots that never decrease and finite control points.
bool Sound(const Bspline* s) {
  if (s->degreeU < 1 || s->degreeV < 1 || s->degreeU > 22 || s->degreeV > 22 || s->interiorU < 0 ||
      s->interiorV < 0)
    return false;
  for (int dir = 0; dir < 2; ++dir) {
    const double* k = dir ? s->knotsV : s->knotsU;
    const int K = dir ? NumKnotsV(s) : NumKnotsU(s);
    for (int i = 0; i < K; ++i)
      if (!std::isfinite(k[i]) || (i > 0 && k[i] < k[i - 1])) return false;
  }
  for (double** m : {s->X, s->Y, s->Z})
    for (int j = 0; j < NumCtrlV(s); ++j)
      for (int i = 0; i < NumCtrlU(s); ++i)
        if (!std::isfinite(m[j][i])) return false;
  return true;
}

class HealTorture : public KernelTest {
 protected:
  void TearDown() override {
    CleanupTopology();
    KernelTest::TearDown();
  }
  std::mt19937 rng_;
  int Int(int a, int b) { return std::uniform_int_distribution<int>(a, b)(rng_); }

  // Replaces the patch's degree in one direction by one above the limit with a consistent
  // record: knots and points for that degree, so only the degree itself is wrong.
  void RaiseDegreeBeyondLimit(Bspline* s) {
    const int p = Int(23, 25), nu = p + 1, nv = NumCtrlV(s);
    const std::vector<double> ku = ClampedKnots(p, nu);
    double** X = allocate_matrix_fh(nv, nu);
    double** Y = allocate_matrix_fh(nv, nu);
    double** Z = allocate_matrix_fh(nv, nu);
    auto* knots = MallocArray<double>(ku.size());
    std::copy(ku.begin(), ku.end(), knots);
    const int kv = NumKnotsV(s);
    auto* knotsV = MallocArray<double>(kv);
    std::copy(s->knotsV, s->knotsV + kv, knotsV);
    for (int j = 0; j < nv; ++j)
      for (int i = 0; i < nu; ++i) {
        X[j][i] = 1.0 + double(i) / p;
        Y[j][i] = double(j) / (nv - 1);
        Z[j][i] = 0.1 * std::sin(double(i));
      }
    InstallBsplineArrays(s, knots, knotsV, X, Y, Z, nullptr);
    s->degreeU = p;
    s->interiorU = 0;
  }

  void Corrupt(Bspline* s, int defect) {
    const int nu = NumCtrlU(s), nv = NumCtrlV(s);
    const int dir = Int(0, 1);
    double* k = dir ? s->knotsV : s->knotsU;
    const int p = dir ? s->degreeV : s->degreeU, K = dir ? NumKnotsV(s) : NumKnotsU(s);
    double** coords[3] = {s->X, s->Y, s->Z};
    switch (defect) {
      case 1:
      case 2:
        coords[Int(0, 2)][Int(0, nv - 1)][Int(0, nu - 1)] = defect == 1 ? kNaN : -kInf;
        break;
      case 3:
        for (int j = 0; j < nv; ++j)
          for (int i = 0; i < nu; ++i) coords[Int(0, 2)][j][i] = (i + j) % 2 ? 1e300 : -1e300;
        break;
      case 4:
      case 5:
        k[Int(0, K - 1)] = defect == 4 ? kNaN : kInf;
        break;
      case 6:
        k[Int(1, K - 2)] = k[K - 1] + 0.5;
        break;
      case 7:
        for (int i = p + 1; i < K - p - 1; ++i) k[i] = k[p + 1];
        for (int i = 0; i < K - p - 1; ++i) k[i] = std::min(k[i], k[p + 1]);
        for (int i = 0; i < p + 2 && i < K; ++i) k[i] = k[0];
        break;
      case 8:
        RaiseDegreeBeyondLimit(s);
        break;
      case 9:
        (dir ? s->interiorV : s->interiorU) -= p + 2;
        break;
      case 10:
        for (double** m : coords)
          for (int j = 0; j < nv; ++j)
            for (int i = 0; i < nu; ++i) m[j][i] = m[0][0];
        break;
      case 11:
        // The shared side's row drawn into its first point.
        for (double** m : coords)
          for (int j = 0; j < nv; ++j) m[j][0] = m[0][0];
        break;
      default:
        break;
    }
  }
};

TEST_F(HealTorture, BuildAndHealEndInSoundSurfacesOrCleanFailure) {
  std::array<std::array<int, 2>, 2> counts{};  // [build, heal][success, clean failure]
  int faults = 0;
  auto fault = [&](int seed, int defect, const char* what) {
    ++faults;
    ADD_FAILURE() << "seed " << seed << " (" << kDefects[defect] << "): " << what;
  };
  const int cases = 4 * kDefectCount;
  int** result = allocate_matrix_ih(2, 4);
  ASSERT_NE(result, nullptr);
  for (int seed = 0; seed < cases; ++seed) {
    rng_.seed(0x4ea10000u + seed);
    const int defect = seed % kDefectCount;
    ClearKernelError();
    Group g;
    KinkedPair(g, seed % 2 == 1);
    ASSERT_EQ(g.size(), 2);
    const bool spoilAfterBuild = seed >= 2 * kDefectCount;
    if (!spoilAfterBuild) Corrupt(g.srfs[1], defect);
    std::vector<double> before[2] = {Image(g.srfs[0]), Image(g.srfs[1])};
    const int built = MakeTopologyZK(g.data(), 2, 0.05, 5.0);
    ++counts[0][built == 0 ? 0 : 1];
    if (built != 0 && built != -2) fault(seed, defect, "build status neither 0 nor -2");
    for (int s = 0; s < 2; ++s)
      if (!SameBits(Image(g.srfs[s]), before[s])) fault(seed, defect, "the build changed a surface");
    if (built != 0) continue;
    if (spoilAfterBuild) {
      Corrupt(g.srfs[1], defect);
      before[1] = Image(g.srfs[1]);
    }
    const int fixed[2] = {0, 0};
    ClearKernelError();
    const int healed = HealTopologyZK(g.data(), 2, fixed, -1, 1, 0.001, 0.5, 1, result);
    ++counts[1][healed == 0 ? 0 : 1];
    for (int s = 0; s < 2; ++s) {
      if (healed == 0 && !Sound(g.srfs[s])) fault(seed, defect, "a healed surface is not sound");
      if (healed != 0 && !SameBits(Image(g.srfs[s]), before[s]))
        fault(seed, defect, "a failed heal changed a surface");
    }
    CleanupTopology();
  }
  matrix_free_ih(result);
  std::printf("Topology build and heal under bad and extreme input\n  %-16s %8s %14s\n", "entry point",
              "success", "clean failure");
  std::printf("  %-16s %8d %14d\n  %-16s %8d %14d\n", "MakeTopologyZK", counts[0][0], counts[0][1],
              "HealTopologyZK", counts[1][0], counts[1][1]);
  EXPECT_EQ(faults, 0);
  // The sound groups build and heal.
  EXPECT_GE(counts[1][0], 2);
}

}  // namespace
