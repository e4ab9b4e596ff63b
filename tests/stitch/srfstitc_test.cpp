// Preparing a pair for a stitch: knots across the seam that confine the change to a share of each
// range (the shape never changes), the spread record and its saved control lines, and knots moved
// along the seam to the reference's physical places.
#include <cmath>
#include <vector>

#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "foundation/umalloc.h"
#include "stitch/srfstitc.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class StitchPrepTest : public KernelTest {};

StitchInfo Info(int continuity, double f1, double f2) {
  StitchInfo s{};
  s.continuity = continuity;
  s.derivativeSide = 2;
  s.positionSide = 2;
  s.vcnEnds = 3;
  s.rangeFraction1 = f1;
  s.rangeFraction2 = f2;
  s.derivScale1 = s.derivScale2 = s.vcnWeight = 1.0;
  return s;
}

// Largest distance between the two curves at 201 common parameters.
double CurveDiff(const Bspline* a, const Bspline* b) {
  double worst = 0.0;
  for (int i = 0; i <= 200; ++i) {
    double p[3], q[3];
    RefEvalCurve(a, i / 200.0, p);
    RefEvalCurve(b, i / 200.0, q);
    worst = std::fmax(worst, std::hypot(p[0] - q[0], p[1] - q[1], p[2] - q[2]));
  }
  return worst;
}

std::vector<double> Knots(const Bspline* c) {
  return std::vector<double>(c->knotsU, c->knotsU + NumKnotsU(c));
}

Bspline* Cubic(unsigned seed, const std::vector<double>& interior, bool rational = false) {
  Bspline* c = BuildRandomCurve(seed, 3, 4 + static_cast<int>(interior.size()), 3, rational);
  if (!c) return nullptr;  // a refused allocation
  for (size_t i = 0; i < interior.size(); ++i) c->knotsU[4 + i] = interior[i];
  return c;
}

// Continuity c needs c + 1 spans inside the affected range next to the seam: the first object
// gets them at the range start and evenly towards its end, the second evenly from its start up
// to the range end; knots only, so neither shape moves.
TEST_F(StitchPrepTest, RangeKnotsFollowTheContinuityTables) {
  struct Row {
    int c;
    double f1, f2;
    std::vector<double> addA, addB;
  };
  const std::vector<Row> rows = {
      {0, 0.5, 0.25, {0.5}, {0.25}},
      {1, 0.5, 0.5, {0.5, 0.75}, {0.25, 0.5}},
      {2, 0.25, 0.75, {0.75, 0.75 + 0.25 / 3, 0.75 + 0.5 / 3}, {0.25, 0.5, 0.75}},
      {1, -1.0, -1.0, {}, {}},  // the callers' "none"
      {3, 0.5, 0.5, {}, {}},    // no table for other continuities
  };
  for (const Row& r : rows) {
    BsplineKeeper keep;
    Bspline* a = keep(Cubic(1, {}, r.c == 2));
    Bspline* b = keep(Cubic(2, {}));
    Bspline* a0 = keep(CopyBsplineStruct(a));
    Bspline* b0 = keep(CopyBsplineStruct(b));
    Bspline* pair[2] = {a, b};
    const int across[2] = {1, 1};  // curves read u whatever the flag
    const StitchInfo info = Info(r.c, r.f1, r.f2);
    SpreadRecord* spread = reinterpret_cast<SpreadRecord*>(1);
    KnotInsertForRangeAdjust(pair, across, &info, &spread);
    EXPECT_EQ(spread, nullptr) << r.c;
    ASSERT_EQ(a->interiorU, static_cast<int>(r.addA.size())) << r.c;
    ASSERT_EQ(b->interiorU, static_cast<int>(r.addB.size())) << r.c;
    for (size_t i = 0; i < r.addA.size(); ++i) EXPECT_NEAR(a->knotsU[4 + i], r.addA[i], 1e-12);
    for (size_t i = 0; i < r.addB.size(); ++i) EXPECT_NEAR(b->knotsU[4 + i], r.addB[i], 1e-12);
    EXPECT_LT(CurveDiff(a, a0), 1e-12);
    EXPECT_LT(CurveDiff(b, b0), 1e-12);
  }
}

// Knots already inside an affected range make the change a spread: the record marks each side,
// the range ends become knots, and the second side's index counts in the joined vector (the
// first's knots up to its end, before its own spread knot went in).
TEST_F(StitchPrepTest, KnotsInsideTheRangeMakeASpreadRecord) {
  BsplineKeeper keep;
  Bspline* a = keep(Cubic(3, {0.6, 0.8, 0.9}));
  Bspline* b = keep(Cubic(4, {0.1, 0.2, 0.4}));
  Bspline* a0 = keep(CopyBsplineStruct(a));
  Bspline* b0 = keep(CopyBsplineStruct(b));
  Bspline* pair[2] = {a, b};
  const int across[2] = {0, 0};
  const StitchInfo info = Info(1, 0.5, 0.5);
  SpreadRecord* spread = nullptr;
  KnotInsertForRangeAdjust(pair, across, &info, &spread);
  ASSERT_NE(spread, nullptr);
  EXPECT_EQ(spread->spread1, 1);
  EXPECT_EQ(spread->spread2, 1);
  EXPECT_EQ(spread->spreadIndex1, 3);
  EXPECT_EQ(spread->spreadIndex2, 6 + 7 - 1);
  EXPECT_EQ(Knots(a), (std::vector<double>{0, 0, 0, 0, 0.5, 0.6, 0.8, 0.9, 1, 1, 1, 1}));
  EXPECT_EQ(Knots(b), (std::vector<double>{0, 0, 0, 0, 0.1, 0.2, 0.4, 0.5, 1, 1, 1, 1}));
  EXPECT_LT(CurveDiff(a, a0), 1e-12);
  EXPECT_LT(CurveDiff(b, b0), 1e-12);
  Free(spread);

  // The whole object as range: a spread when it has more interior knots than the continuity,
  // starting at the range start, which is a knot already.
  Bspline* c = keep(Cubic(5, {0.3, 0.7}));
  Bspline* d = keep(Cubic(6, {0.5}));
  Bspline* pair2[2] = {c, d};
  const StitchInfo whole = Info(1, 1.0, 1.0);
  KnotInsertForRangeAdjust(pair2, across, &whole, &spread);
  ASSERT_NE(spread, nullptr);
  EXPECT_EQ(spread->spread1, 1);
  EXPECT_EQ(spread->spread2, 0);  // one interior knot is not more than continuity 1
  EXPECT_EQ(spread->spreadIndex1, 3);
  EXPECT_EQ(c->interiorU, 2);
  Free(spread);
}

// The saved lines are the control lines at distance `continuity` from the seam: the first's
// before it, the second's after it, coordinates then weights, one line when they coincide.
TEST_F(StitchPrepTest, SpreadValuesCopyTheLinesAtTheContinuityDistance) {
  BsplineKeeper keep;
  PatchOptions o{.nu = 5, .nv = 4, .rational = true};
  Bspline* a = keep(BuildFunctionPatch([](double x, double y) { return x * y; }, o));
  o.nu = 4;
  o.nv = 5;
  Bspline* b = keep(BuildFunctionPatch([](double x, double y) { return x - y; }, o));
  Bspline* pair[2] = {a, b};
  const int bndry[2] = {2, 3};  // a's u-maximum column, b's v-minimum row: 4 points each
  for (int c : {0, 1, 2}) {
    const StitchInfo info = Info(c, 0.5, 0.5);
    SpreadRecord spread{1, 1, 0, 0, nullptr};
    GetSpreadVals(pair, bndry, &info, &spread);
    ASSERT_NE(spread.spreadRows, nullptr);
    const double* r = spread.spreadRows;
    for (int i = 0; i < 4; ++i) {
      const int col = 4 - c;
      EXPECT_EQ(r[i], a->X[i][col]);
      EXPECT_EQ(r[4 + i], a->Y[i][col]);
      EXPECT_EQ(r[8 + i], a->Z[i][col]);
      EXPECT_EQ(r[12 + i], a->W[i][col]);
      if (c == 0) continue;
      EXPECT_EQ(r[16 + i], b->X[c][i]);
      EXPECT_EQ(r[20 + i], b->Y[c][i]);
      EXPECT_EQ(r[24 + i], b->Z[c][i]);
      EXPECT_EQ(r[28 + i], b->W[c][i]);
    }
    Free(spread.spreadRows);
  }
  // The second side alone goes first in the array.
  const StitchInfo info = Info(1, 0.5, 0.5);
  SpreadRecord second{0, 1, 0, 0, nullptr};
  GetSpreadVals(pair, bndry, &info, &second);
  ASSERT_NE(second.spreadRows, nullptr);
  EXPECT_EQ(second.spreadRows[2], b->X[1][2]);
  Free(second.spreadRows);
  GetSpreadVals(pair, bndry, &info, nullptr);  // no record: nothing to do
}

// Target: x from 1 to 2 over u, y = v^2-like along its u-minimum boundary (rows at the squares
// of the Greville abscissae), so its interior knot sits elsewhere than the reference's y.
Bspline* BentTarget(const std::vector<double>& ys, const std::vector<double>& knotsV, int degV) {
  std::vector<double> pts;
  for (double y : ys)
    for (double x : {1.0, 2.0}) pts.insert(pts.end(), {x, y, 0.1 * x * y});
  return BuildSurface(1, degV, 2, static_cast<int>(ys.size()), pts, {}, knotsV);
}

// After the move the reference's boundary passes, at the target's new knot, through the point the
// target's old knot gave; a move that would stack knots beyond the degree is undone whole.
TEST_F(StitchPrepTest, ReparametrisationMovesKnotsToTheReferencesPlaces) {
  BsplineKeeper keep;
  Bspline* ref = keep(BuildFunctionPatch([](double x, double y) { return 0.1 * x * y; }, {}));
  const std::vector<double> kv = {0, 0, 0, 0, 0.5, 1, 1, 1, 1};
  Bspline* t = keep(BentTarget({0, 1.0 / 36, 0.25, 25.0 / 36, 1}, kv, 3));
  double old[3];
  RefEvalSurface(t, 0.0, 0.5, old);
  ASSERT_GT(std::fabs(old[1] - 0.5), 0.1);  // the target's knot is far from the reference's y
  Bspline* pair[2] = {ref, t};
  const int bndry[2] = {2, 0}, along[2] = {1, 1};
  const StitchInfo info = Info(0, -1, -1);
  ReparametrizeSurf(pair, bndry, along, 1, &info);
  const double moved = t->knotsV[4];
  EXPECT_NEAR(moved, old[1], 1e-6);  // the reference's y is its v
  double there[3];
  RefEvalSurface(ref, 1.0, moved, there);
  EXPECT_NEAR(std::hypot(there[0] - old[0], there[1] - old[1], there[2] - old[2]), 0.0, 1e-6);

  // With positionSide 1 the first object moves instead: the reference stays as it was.
  Bspline* t2 = keep(BentTarget({0, 1.0 / 36, 0.25, 25.0 / 36, 1}, kv, 3));
  Bspline* swapped[2] = {t2, ref};
  const int bndry2[2] = {0, 2};
  StitchInfo second = Info(0, -1, -1);
  second.positionSide = 1;
  const std::vector<double> refKnots(ref->knotsV, ref->knotsV + NumKnotsV(ref));
  ReparametrizeSurf(swapped, bndry2, along, 1, &second);
  EXPECT_NEAR(t2->knotsV[4], old[1], 1e-6);
  EXPECT_EQ(std::vector<double>(ref->knotsV, ref->knotsV + NumKnotsV(ref)), refKnots);

  // Degree 1 with two knots whose boundary points coincide: both would land on one value.
  const std::vector<double> kv1 = {0, 0, 1.0 / 3, 2.0 / 3, 1, 1};
  Bspline* flat = keep(BentTarget({0, 0.5, 0.5, 1}, kv1, 1));
  Bspline* pair3[2] = {ref, flat};
  ReparametrizeSurf(pair3, bndry, along, 1, &info);
  EXPECT_EQ(flat->knotsV[2], 1.0 / 3);
  EXPECT_EQ(flat->knotsV[3], 2.0 / 3);
}

// Every allocation refused in turn: the range adjustment leaves no scope open, and whatever
// record it made is the caller's to free.
TEST_F(StitchPrepTest, RangeAdjustmentSurvivesRefusedAllocations) {
  const int failures = RunWithInjectedFailures(60, 1, [] {
    Bspline* a = Cubic(3, {0.6, 0.8, 0.9});
    Bspline* b = Cubic(4, {0.1, 0.2, 0.4});
    Bspline* pair[2] = {a, b};
    const int across[2] = {0, 0};
    const StitchInfo info = Info(1, 0.5, 0.5);
    SpreadRecord* spread = nullptr;
    if (a && b) KnotInsertForRangeAdjust(pair, across, &info, &spread);
    const int r = KernelFailed() ? -2 : 0;
    if (spread) Free(spread);
    if (a) FreeBspline(a);
    if (b) FreeBspline(b);
    return a && b ? r : -2;
  });
  EXPECT_GT(failures, 0);
}

}  // namespace
