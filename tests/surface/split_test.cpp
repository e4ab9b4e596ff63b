// Pieces of curves and surfaces: every piece is the object itself on its sub-range, the slots
// of a split follow the given values, and the object never changes, also when memory fails.
#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "bspline/nubutil.h"
#include "bspline/sfree.h"
#include "surface/srfsnip.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"
#include "tests/surface/recordviews.h"

namespace {

class SplitTest : public KernelTest {};

// The piece is a valid clamped object and reproduces obj on [a, b] of the cut direction
// (running backwards when reversed).
void ExpectPieceOf(const Bspline* obj, const Bspline* piece, int dir, double a, double b,
                   bool reversed = false) {
  ASSERT_NE(piece, nullptr);
  EXPECT_EQ(CheckBspline(piece, 1e-12), 0);
  const bool inV = obj->kind == 2 && dir;
  EXPECT_NEAR(inV ? piece->vmin : piece->umin, a, 1e-12);
  EXPECT_NEAR(inV ? piece->vmax : piece->umax, b, 1e-12);
  for (int i = 0; i <= 12; ++i) {
    const double t = a + (b - a) * i / 12.0, tObj = reversed ? a + b - t : t;
    for (int j = 0; j <= (obj->kind == 2 ? 4 : 0); ++j) {
      double p[3], q[3];
      if (obj->kind == 2) {
        const double s = j / 4.0;
        RefEvalSurface(obj, inV ? s : tObj, inV ? tObj : s, p);
        RefEvalSurface(piece, inV ? s : t, inV ? t : s, q);
      } else {
        RefEvalCurve(obj, tObj, p);
        RefEvalCurve(piece, t, q);
      }
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(p[k], q[k], 1e-11 * RefScale(obj)) << t;
    }
  }
}

TEST_F(SplitTest, CurvePiecesReproduceTheCurve) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> cut(0.02, 0.98);
  for (unsigned seed = 1; seed <= 16; ++seed) {
    const int degree = 1 + seed % 4;
    Bspline* c = BuildRandomCurve(seed, degree, degree + 3 + seed % 5, 2 + seed % 2, seed % 3 == 0);
    const std::vector<double> before = Snapshot(c);
    std::vector<double> cuts(1 + seed % 3);
    for (double& x : cuts) x = cut(rng);
    if (seed % 4 == 0) cuts.push_back(c->knotsU[degree + 1]);  // a cut on an existing knot
    std::sort(cuts.begin(), cuts.end());
    std::vector<Bspline*> pieces(cuts.size() + 1);
    std::vector<double> pars = cuts;
    ASSERT_EQ(SplitObjectToNObjects(c, int(pars.size()), pars.data(), 0, pieces.data()), 0);
    for (size_t i = 0; i < pieces.size(); ++i)
      ExpectPieceOf(c, pieces[i], 0, i == 0 ? 0.0 : cuts[i - 1], i == cuts.size() ? 1.0 : cuts[i]);
    EXPECT_EQ(Snapshot(c), before);
    for (Bspline* p : pieces) FreeBspline(p);
    FreeBspline(c);
  }
}

TEST_F(SplitTest, RationalSurfacePiecesInBothDirections) {
  for (int dir = 0; dir < 2; ++dir) {
    PatchOptions o;
    o.layout = KnotLayout::Random;
    o.rational = true;
    o.seed = 3 + dir;
    Bspline* s = BuildFunctionPatch([](double x, double y) { return std::sin(3 * x) * y; }, o);
    const std::vector<double> before = Snapshot(s);
    double pars[2] = {0.3, 0.65};
    Bspline* pieces[3];
    ASSERT_EQ(SplitObjectToNObjects(s, 2, pars, dir, pieces), 0);
    ExpectPieceOf(s, pieces[0], dir, 0.0, 0.3);
    ExpectPieceOf(s, pieces[1], dir, 0.3, 0.65);
    ExpectPieceOf(s, pieces[2], dir, 0.65, 1.0);
    EXPECT_EQ(Snapshot(s), before);
    for (Bspline* p : pieces) FreeBspline(p);
    FreeBspline(s);
  }
}

TEST_F(SplitTest, SlotsFollowTheGivenValues) {
  Bspline* c = BuildRandomCurve(7, 3, 8);
  Bspline* p[4] = {};
  double a[2] = {0.0, 0.5};  // a value at the range start cuts nothing
  ASSERT_EQ(SplitObjectToNObjects(c, 2, a, 0, p), 0);
  EXPECT_EQ(p[0], nullptr);
  ExpectPieceOf(c, p[1], 0, 0.0, 0.5);
  ExpectPieceOf(c, p[2], 0, 0.5, 1.0);
  FreeBsplineArrayContents(p, 3);

  double b[3] = {0.3, 0.3, 0.6};  // a repeated value leaves its slot empty
  ASSERT_EQ(SplitObjectToNObjects(c, 3, b, 0, p), 0);
  EXPECT_EQ(p[1], nullptr);
  ExpectPieceOf(c, p[2], 0, 0.3, 0.6);
  ExpectPieceOf(c, p[3], 0, 0.6, 1.0);
  FreeBsplineArrayContents(p, 4);

  // A last value at the range end: the last piece is not lost but fills that value's slot.
  double d[2] = {0.5, 1.0};
  ASSERT_EQ(SplitObjectToNObjects(c, 2, d, 0, p), 0);
  ExpectPieceOf(c, p[1], 0, 0.5, 1.0);
  EXPECT_EQ(p[2], nullptr);
  FreeBsplineArrayContents(p, 3);

  // Two values within the tolerance on either side of a knot make one cut on the knot.
  const double knot = c->knotsU[5];
  double e[2] = {knot - 4e-7, knot + 4e-7};
  ASSERT_EQ(SplitObjectToNObjects(c, 2, e, 0, p), 0);
  ExpectPieceOf(c, p[0], 0, 0.0, knot);
  EXPECT_EQ(p[0]->umax, knot);
  ExpectPieceOf(c, p[1] ? p[1] : p[2], 0, knot, 1.0);
  EXPECT_TRUE(!p[1] || !p[2]);
  FreeBsplineArrayContents(p, 3);

  double f[2] = {0.0, 1.0};
  EXPECT_EQ(SplitObjectToNObjects(c, 2, f, 0, p), -2);
  EXPECT_EQ(zk_error_status, -2);
  ClearKernelError();
  FreeBspline(c);
}

TEST_F(SplitTest, ExtractBetweenTwoValues) {
  Bspline* c = BuildRandomCurve(3, 3, 9, 3, true);
  const std::vector<double> before = Snapshot(c);
  Bspline* fwd = ExtractObjFromObjGivenPar(c, 0, 0.2, 0.8);
  ExpectPieceOf(c, fwd, 0, 0.2, 0.8);
  Bspline* back = ExtractObjFromObjGivenPar(c, 0, 0.8, 0.2);
  ExpectPieceOf(c, back, 0, 0.2, 0.8, true);
  // Values beyond the range are taken at its ends; the whole range keeps the closed flag.
  c->closedU = 3;
  Bspline* whole = ExtractObjFromObjGivenPar(c, 0, -1.0, 2.0);
  ExpectPieceOf(c, whole, 0, 0.0, 1.0);
  EXPECT_EQ(whole->closedU, 3);
  EXPECT_EQ(Snapshot(c), before);
  EXPECT_EQ(ExtractObjFromObjGivenPar(c, 0, 0.5, 0.5 + 5e-7), nullptr);
  EXPECT_EQ(zk_error_status, -9);
  ClearKernelError();
  for (Bspline* b : {fwd, back, whole, c}) FreeBspline(b);

  PatchOptions o;
  o.rational = true;
  Bspline* s = BuildFunctionPatch([](double x, double y) { return x * y * y; }, o);
  Bspline* sv = ExtractObjFromObjGivenPar(s, 1, 0.9, 0.35);
  ExpectPieceOf(s, sv, 1, 0.35, 0.9, true);
  FreeBspline(sv);
  FreeBspline(s);
}

TEST_F(SplitTest, AllocationFailuresLeaveTheObjectAndNoBlocks) {
  PatchOptions o;
  o.rational = true;
  Bspline* s = BuildFunctionPatch([](double x, double y) { return x - y; }, o);
  const std::vector<double> before = Snapshot(s);
  int failures = 0;
  for (long n = 0;; ++n) {
    ClearKernelError();
    const int tracked = MallocTrackedCount();
    double pars[2] = {0.25, 0.5};
    Bspline* p[3] = {};
    MallocFailAfter(n, -1);
    const int r = SplitObjectToNObjects(s, 2, pars, 1, p);
    MallocFailClear();
    EXPECT_EQ(MallocTrackedCount(), tracked);
    EXPECT_EQ(Snapshot(s), before);
    if (r == 0) {
      FreeBsplineArrayContents(p, 3);
      break;
    }
    ++failures;
    EXPECT_EQ(r, -1);
    for (Bspline* b : p) EXPECT_EQ(b, nullptr);
  }
  EXPECT_GT(failures, 5);
  FreeBspline(s);
}

}  // namespace
