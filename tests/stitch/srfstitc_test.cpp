// Preparing a pair for a stitch: knots across the seam that confine the change to a share of each
// range (the shape never changes), the spread record and its saved control lines, and knots moved
// along the seam to the reference's physical places.
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "bspline/bsvalid.h"
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

// ---- Joining and stitching two objects -------------------------------------------------------

class StitchTwoTest : public KernelTest {};

// Two cubics meeting at (1, 0, 0) with a kink there; the second's parameter speed differs.
Bspline* KinkFirst() {
  return BuildCurve(3, 3, {0, 0, 0, 0.3, 0.1, 0, 0.5, -0.1, 0.1, 0.8, 0.05, 0, 1, 0, 0});
}
Bspline* KinkSecond() {
  return BuildCurve(3, 3, {1, 0, 0, 1.2, 0.5, 0, 1.4, 0.9, 0.2, 1.3, 1.5, 0, 1.1, 2.0, 0.1});
}

std::vector<double> CtrlPoints(const Bspline* c) {
  std::vector<double> v;
  for (int i = 0; i < NumCtrlU(c); ++i) v.insert(v.end(), {c->X[0][i], c->Y[0][i], c->Z[0][i]});
  return v;
}

double Dist(const double* a, const double* b) { return std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]); }

// A function patch over x in [1, 2], y in [0, 1]: it meets one over the unit square at x = 1.
Bspline* RightPatch(double (*f)(double, double)) {
  PatchOptions o;
  o.x0 = 1.0;
  o.x1 = 2.0;
  return BuildFunctionPatch(f, o);
}

int Multiplicity(const Bspline* c, double t) {
  int m = 0;
  for (int i = 0; i < NumKnotsU(c); ++i) m += c->knotsU[i] == t;
  return m;
}

// Orienting a pair: the first object ends at the seam and the second starts there, whatever
// boundaries they met it on; the shapes stay, only their directions turn.
TEST_F(StitchTwoTest, PairsAreOrientedToRunThroughTheSeam) {
  BsplineKeeper keep;
  Bspline* a = keep(BuildRandomCurve(5, 3, 6));
  Bspline* b = keep(BuildRandomCurve(6, 2, 5));
  double a0[3], b1[3], q[3];
  RefEvalCurve(a, a->umin, a0);
  RefEvalCurve(b, b->umax, b1);
  int bndry[2] = {0, 2};
  Bspline* pair[2] = {a, b};
  MakeStartAndEndObj(bndry, pair);
  EXPECT_EQ(bndry[0], 2);
  EXPECT_EQ(bndry[1], 0);
  RefEvalCurve(a, a->umax, q);
  EXPECT_LT(std::hypot(q[0] - a0[0], q[1] - a0[1], q[2] - a0[2]), 1e-12);
  RefEvalCurve(b, b->umin, q);
  EXPECT_LT(std::hypot(q[0] - b1[0], q[1] - b1[1], q[2] - b1[2]), 1e-12);
  // Already oriented: nothing moves.
  Bspline* ca = keep(CopyBsplineStruct(a));
  MakeStartAndEndObj(bndry, pair);
  EXPECT_EQ(std::vector<double>(a->X[0], a->X[0] + 6), std::vector<double>(ca->X[0], ca->X[0] + 6));

  // Surfaces meeting on their v boundaries turn in v: 3 (v start) becomes 1, 1 becomes 3.
  Bspline* s = keep(BuildFunctionPatch([](double x, double y) { return x * x - 0.5 * y * y * y; }));
  Bspline* t = keep(BuildFunctionPatch([](double x, double y) { return std::sin(x + 2 * y); }));
  Bspline* cs = keep(CopyBsplineStruct(s));
  Bspline* ct = keep(CopyBsplineStruct(t));
  int sb[2] = {3, 1};
  Bspline* spair[2] = {s, t};
  MakeStartAndEndObj(sb, spair);
  EXPECT_EQ(sb[0], 1);
  EXPECT_EQ(sb[1], 3);
  for (double u : {0.0, 0.3, 1.0})
    for (double f : {0.0, 0.4, 1.0}) {
      double p[3], r[3];
      RefEvalSurface(s, u, s->vmin + f * (s->vmax - s->vmin), p);
      RefEvalSurface(cs, u, cs->vmax - f * (cs->vmax - cs->vmin), r);
      EXPECT_LT(std::hypot(p[0] - r[0], p[1] - r[1], p[2] - r[2]), 1e-12) << u << " " << f;
      RefEvalSurface(t, u, t->vmin + f * (t->vmax - t->vmin), p);
      RefEvalSurface(ct, u, ct->vmax - f * (ct->vmax - ct->vmin), r);
      EXPECT_LT(std::hypot(p[0] - r[0], p[1] - r[1], p[2] - r[2]), 1e-12) << u << " " << f;
    }
}

// Every continuity and every moving side: the pieces meet, their derivatives up to the
// continuity agree at the seam (each taken from its own piece), and an object spared by both
// side flags keeps its control points.
TEST_F(StitchTwoTest, KinkedCurvesMeetWithTheAskedContinuity) {
  for (int c = 0; c <= 2; ++c) {
    for (int side = 0; side <= 2; ++side) {
      SCOPED_TRACE("continuity " + std::to_string(c) + " side " + std::to_string(side));
      BsplineKeeper keep;
      Bspline* a = keep(KinkFirst());
      Bspline* b = keep(KinkSecond());
      const std::vector<double> ctrlA = CtrlPoints(a), ctrlB = CtrlPoints(b);
      Bspline* objs[3] = {a, b, nullptr};
      int bndry[2] = {2, 0};
      StitchInfo info = Info(c, -1, -1);
      info.derivativeSide = side;
      info.positionSide = side == 2 ? 2 : 1 - side;  // the seam row from the object that stays
      Bspline* out[2] = {nullptr, nullptr};
      ASSERT_EQ(StitchTwoObjects(bndry, objs, nullptr, &info, out), 0);
      keep(out[0]);
      keep(out[1]);
      const double t0 = out[0]->umax, t1 = out[1]->umin;
      EXPECT_EQ(t0, t1);
      for (int k = 0; k <= c; ++k) {
        double l[3], r[3];
        RefEvalDeriv(out[0], t0, 0, k, 0, l);
        RefEvalDeriv(out[1], t1, 0, k, 0, r);
        EXPECT_LT(Dist(l, r), 1e-9 * (1.0 + std::hypot(l[0], l[1], l[2]))) << "order " << k;
      }
      if (c > 0) {  // the kink is really gone: without the stitch the tangents differ
        double l[3], r[3];
        RefEvalDeriv(a, a->umax, 0, 1, 0, l);
        RefEvalDeriv(b, b->umin, 0, 1, 0, r);
        EXPECT_GT(Dist(l, r), 0.1);
      }
      if (side != 2) {
        const Bspline* kept = side == 1 ? out[0] : out[1];
        const std::vector<double>& before = side == 1 ? ctrlA : ctrlB;
        const std::vector<double> after = CtrlPoints(kept);
        ASSERT_EQ(after.size(), before.size());
        for (size_t i = 0; i < before.size(); ++i) EXPECT_NEAR(after[i], before[i], 1e-9);
      }
    }
  }
}

// The joined curve keeps the seam knot degree - continuity times, unless a derivative scale is
// active; continuity 3 on curves is the parametric continuity 1, lowered in the caller's record.
TEST_F(StitchTwoTest, SeamKnotMultiplicityFollowsContinuityAndScale) {
  struct Row {
    int c;
    double scale2;
    int mult;
    int after;
  } rows[] = {{0, 1.0, 3, 0}, {1, 1.0, 2, 1}, {2, 1.0, 1, 2}, {1, 1.5, 3, 1}, {3, 1.0, 2, 1}};
  for (const Row& row : rows) {
    BsplineKeeper keep;
    Bspline* a = keep(KinkFirst());
    Bspline* b = keep(KinkSecond());
    Bspline* objs[3] = {a, b, nullptr};
    int bndry[2] = {2, 0}, dir = -1;
    StitchInfo info = Info(row.c, -1, -1);
    info.derivScale2 = row.scale2;
    double t = -1.0;
    Bspline* j = keep(BlendTwoObjects(bndry, objs, nullptr, &dir, &t, &info));
    ASSERT_NE(j, nullptr);
    EXPECT_EQ(info.continuity, row.after);
    EXPECT_EQ(dir, 0);
    EXPECT_EQ(Multiplicity(j, t), row.mult) << "continuity " << row.c;
    double p[3];
    RefEvalCurve(j, t, p);
    EXPECT_LT(std::hypot(p[0] - 1.0, p[1], p[2]), 1e-12);
    if (row.scale2 != 1.0) {  // the second side's tangent is 1.5 times the first's
      double l[3], r[3];
      RefEvalDeriv(j, t - 1e-12, 0, 1, 0, l);
      RefEvalDeriv(j, t + 1e-12, 0, 1, 0, r);
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(r[k], 1.5 * l[k], 1e-5 * (1.0 + std::fabs(l[k])));
    }
  }
}

// Given by the first's start and the second's end, both are reversed for the join and the result
// is reversed back: it runs from the second's start to the first's end, the seam at the mirrored
// knot. positionSide 2 puts the seam at the average of the two ends, 3 at the given point.
TEST_F(StitchTwoTest, ReversedPairAndSeamRowSources) {
  BsplineKeeper keep;
  Bspline* a = keep(KinkFirst());
  Bspline* b = keep(KinkSecond());
  double aEnd[3], bStart[3];
  RefEvalCurve(a, a->umax, aEnd);
  RefEvalCurve(b, b->umin, bStart);
  a->X[0][0] = 0.1;  // the first's start, now the seam, sits off the second's end
  Bspline* objs[3] = {a, b, nullptr};
  int bndry[2] = {0, 2}, dir = -1;
  StitchInfo info = Info(0, -1, -1);
  double t = -1.0;
  Bspline* j = keep(BlendTwoObjects(bndry, objs, nullptr, &dir, &t, &info));
  ASSERT_NE(j, nullptr);
  double s[3], e[3], m[3];
  RefEvalCurve(j, j->umin, s);
  RefEvalCurve(j, j->umax, e);
  RefEvalCurve(j, t, m);
  EXPECT_LT(Dist(s, bStart), 1e-12);
  EXPECT_LT(Dist(e, aEnd), 1e-12);
  const double avg[3] = {(0.1 + 1.1) / 2, (0.0 + 2.0) / 2, (0.0 + 0.1) / 2};
  EXPECT_LT(Dist(m, avg), 1e-12);
  EXPECT_EQ(Multiplicity(j, t), 3);

  Bspline* c = keep(KinkFirst());
  Bspline* d = keep(KinkSecond());
  Bspline* objs2[3] = {c, d, nullptr};
  int bndry2[2] = {2, 0};
  StitchInfo given = Info(1, -1, -1);
  given.positionSide = 3;
  const double seam[3] = {1.0, 0.2, 0.3};
  Bspline* j2 = keep(BlendTwoObjects(bndry2, objs2, seam, &dir, &t, &given));
  ASSERT_NE(j2, nullptr);
  RefEvalCurve(j2, t, m);
  EXPECT_LT(Dist(m, seam), 1e-12);
}

// positionSide 3 without its row: curves without a seam point, surfaces without a third object.
// Nothing is joined and nothing is changed.
TEST_F(StitchTwoTest, GivenSeamRowMissingFails) {
  BsplineKeeper keep;
  Bspline* a = keep(KinkFirst());
  Bspline* b = keep(KinkSecond());
  const std::vector<double> ctrlA = CtrlPoints(a);
  Bspline* objs[3] = {a, b, nullptr};
  int bndry[2] = {0, 0}, dir = 0;
  StitchInfo info = Info(1, -1, -1);
  info.positionSide = 3;
  double t = 0.0;
  EXPECT_EQ(BlendTwoObjects(bndry, objs, nullptr, &dir, &t, &info), nullptr);
  EXPECT_EQ(CtrlPoints(a), ctrlA);
  EXPECT_EQ(bndry[0], 0);
  ClearKernelError();
  Bspline* out[2] = {nullptr, nullptr};
  EXPECT_EQ(StitchTwoObjects(bndry, objs, nullptr, &info, out), -2);
  EXPECT_EQ(out[0], nullptr);
  ClearKernelError();

  Bspline* s1 = keep(BuildFunctionPatch([](double x, double y) { return x * y; }, {}));
  Bspline* s2 = keep(RightPatch([](double x, double y) { return x * y; }));
  Bspline* surfs[3] = {s1, s2, nullptr};
  int sb[2] = {2, 0};
  EXPECT_EQ(StitchTwoObjects(sb, surfs, nullptr, &info, out), -2);
  EXPECT_EQ(MakeObjFromTwoObj(surfs, nullptr, std::vector<int>{1, 1}.data(), &t, 3), nullptr);
  ClearKernelError();
}

// A pair whose second curve's knots follow on from the first's joins into one curve that is
// each piece over its own domain; a second curve starting at the first's start again would
// join into knots that decrease, and is refused (it was handed back as a success).
TEST_F(StitchTwoTest, JoinedCurvesAreBothPiecesOrNothing) {
  BsplineKeeper keep;
  Bspline* a = keep(KinkFirst());
  Bspline* b = keep(KinkSecond());
  const std::vector<double> bk = {1, 1, 1, 1, 1.5, 2, 2, 2, 2};
  std::vector<double> pts = CtrlPoints(b);
  Bspline* follows = keep(BuildCurve(3, 3, pts, bk));
  ASSERT_NE(follows, nullptr);
  Bspline* pair[2] = {a, follows};
  const int along[2] = {1, 1};
  double seam = 0.0;
  Bspline* j = keep(MakeObjFromTwoObj(pair, nullptr, along, &seam, 0));
  ASSERT_NE(j, nullptr);
  EXPECT_TRUE(BsplineSound(j));
  EXPECT_EQ(seam, 1.0);
  for (int i = 0; i <= 20; ++i) {
    const double t = i / 20.0;
    double pj[3], pa[3], qj[3], qb[3];
    RefEvalCurve(j, t, pj);
    RefEvalCurve(a, t, pa);
    RefEvalCurve(j, 1.0 + t, qj);
    RefEvalCurve(follows, 1.0 + t, qb);
    EXPECT_LT(Dist(pj, pa), 1e-12) << t;
    EXPECT_LT(Dist(qj, qb), 1e-12) << t;
  }
  Bspline* again[2] = {a, b};
  EXPECT_EQ(MakeObjFromTwoObj(again, nullptr, along, &seam, 0), nullptr);
  EXPECT_TRUE(KernelFailed());
}

// Two patches side by side, joined with tangent-plane continuity (3): at seam samples the two
// cross derivatives and the seam tangent are coplanar, and the seam knot keeps full
// multiplicity. The stitched surfaces meet along the seam.
TEST_F(StitchTwoTest, SurfacesJoinedTangentPlaneContinuous) {
  BsplineKeeper keep;
  Bspline* s1 = keep(BuildFunctionPatch([](double x, double y) { return 0.3 * x * y; }, {}));
  Bspline* s2 = keep(RightPatch([](double x, double y) { return 0.2 - 0.4 * x + y * y; }));
  Bspline* objs[3] = {s1, s2, nullptr};
  int bndry[2] = {2, 0}, dir = -1;
  StitchInfo info = Info(3, -1, -1);
  double t = -1.0;
  Bspline* j = keep(BlendTwoObjects(bndry, objs, nullptr, &dir, &t, &info));
  ASSERT_NE(j, nullptr);
  EXPECT_EQ(dir, 1);
  EXPECT_EQ(info.continuity, 1);
  EXPECT_EQ(Multiplicity(j, t), j->degreeU);
  for (int i = 0; i <= 10; ++i) {
    const double v = j->vmin + (j->vmax - j->vmin) * i / 10.0;
    double l[3], r[3], tv[3];
    RefEvalDeriv(j, t + 1e-12, v, 0, 1, tv);
    RefEvalDeriv(j, t - 1e-12, v, 1, 0, l);
    RefEvalDeriv(j, t + 1e-12, v, 1, 0, r);
    const double triple = tv[0] * (l[1] * r[2] - l[2] * r[1]) - tv[1] * (l[0] * r[2] - l[2] * r[0]) +
                          tv[2] * (l[0] * r[1] - l[1] * r[0]);
    const double size = std::hypot(tv[0], tv[1], tv[2]) * std::hypot(l[0], l[1], l[2]) *
                        std::hypot(r[0], r[1], r[2]);
    EXPECT_LT(std::fabs(triple), 1e-5 * size) << "v " << v;
  }

  Bspline* s3 = keep(BuildFunctionPatch([](double x, double y) { return 0.3 * x * y; }, {}));
  Bspline* s4 = keep(RightPatch([](double x, double y) { return 0.2 - 0.4 * x + y * y; }));
  Bspline* pair[3] = {s3, s4, nullptr};
  int b2[2] = {2, 0};
  StitchInfo c1 = Info(1, -1, -1);
  Bspline* out[2] = {nullptr, nullptr};
  ASSERT_EQ(StitchTwoObjects(b2, pair, nullptr, &c1, out), 0);
  keep(out[0]);
  keep(out[1]);
  for (int i = 0; i <= 10; ++i) {
    double p[3], q[3];
    RefEvalSurface(out[0], out[0]->umax, out[0]->vmin + (out[0]->vmax - out[0]->vmin) * i / 10.0, p);
    RefEvalSurface(out[1], out[1]->umin, out[1]->vmin + (out[1]->vmax - out[1]->vmin) * i / 10.0, q);
    EXPECT_LT(Dist(p, q), 1e-9);
  }
}

// Every allocation refused in turn through the join and the split, on curves and surfaces: a
// failure gives null or -2 and leaks nothing.
TEST_F(StitchTwoTest, RefusedAllocationsFailCleanly) {
  const int curveFailures = RunWithInjectedFailures(400, 3, [] {
    Bspline* a = KinkFirst();
    Bspline* b = KinkSecond();
    int r = -2;
    if (a && b) {
      Bspline* objs[3] = {a, b, nullptr};
      int bndry[2] = {0, 2};
      StitchInfo info = Info(2, 0.5, 0.5);
      Bspline* out[2] = {nullptr, nullptr};
      r = StitchTwoObjects(bndry, objs, nullptr, &info, out);
      if (r == 0) {
        FreeBspline(out[0]);
        FreeBspline(out[1]);
      }
    }
    FreeBspline(a);
    FreeBspline(b);
    return r;
  });
  EXPECT_GT(curveFailures, 0);
  const int surfFailures = RunWithInjectedFailures(600, 7, [] {
    Bspline* s1 = BuildFunctionPatch([](double x, double y) { return x * y; }, {});
    Bspline* s2 = RightPatch([](double x, double y) { return x - y; });
    int r = -2;
    if (s1 && s2) {
      Bspline* objs[3] = {s1, s2, nullptr};
      int bndry[2] = {2, 0}, dir = 0;
      StitchInfo info = Info(3, -1, -1);
      double t = 0.0;
      Bspline* j = BlendTwoObjects(bndry, objs, nullptr, &dir, &t, &info);
      r = j ? 0 : -2;
      FreeBspline(j);
    }
    FreeBspline(s1);
    FreeBspline(s2);
    return r;
  });
  EXPECT_GT(surfFailures, 0);
}

// The second surface meets the seam with its v-minimum boundary while the first meets it with its
// u-maximum: the second is read transposed, so the joined net ends with its far row unchanged.
TEST_F(StitchTwoTest, SecondSurfaceAlongTheOtherDirectionIsReadTransposed) {
  BsplineKeeper keep;
  PatchOptions o;
  o.nu = o.nv = 5;
  Bspline* s1 = keep(BuildFunctionPatch([](double x, double y) { return 0.3 * x * y; }, o));
  PatchOptions t = o;
  t.y0 = 1.0;
  t.y1 = 2.0;
  // Built with u along y and v along x, then x and y exchanged: v runs in x from the seam at 1,
  // where both boundaries are the same line, so no knot moves along the seam.
  Bspline* s2 =
      keep(BuildFunctionPatch([](double x, double y) { return 0.3 * x * y + 0.5 * (y - 1) * (y - 1); }, t));
  std::swap(s2->X, s2->Y);
  std::vector<double> far;
  for (int i = 0; i < 5; ++i) far.insert(far.end(), {s2->X[4][i], s2->Y[4][i], s2->Z[4][i]});
  Bspline* objs[3] = {s1, s2, nullptr};
  int bndry[2] = {2, 3}, dir = -1;
  StitchInfo info = Info(1, -1, -1);
  double seam = -1.0;
  Bspline* j = keep(BlendTwoObjects(bndry, objs, nullptr, &dir, &seam, &info));
  ASSERT_NE(j, nullptr);
  ASSERT_EQ(NumCtrlU(j), 8);  // 5 + 5 - 1, one seam knot removed for tangent continuity
  ASSERT_EQ(NumCtrlV(j), 5);
  for (int r = 0; r < 5; ++r) {
    EXPECT_NEAR(j->X[r][7], far[3 * r], 1e-12);
    EXPECT_NEAR(j->Y[r][7], far[3 * r + 1], 1e-12);
    EXPECT_NEAR(j->Z[r][7], far[3 * r + 2], 1e-12);
    double p[3];
    RefEvalSurface(j, seam, j->vmin + (j->vmax - j->vmin) * r / 4.0, p);
    EXPECT_NEAR(p[0], 1.0, 1e-12);
  }
}

}  // namespace
