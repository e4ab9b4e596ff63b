// Pieces of curves and surfaces: every piece is the object itself on its sub-range, the slots
// of a split follow the given values, and the object never changes, also when memory fails.
#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "bspline/bsvalid.h"
#include "bspline/nubs.h"
#include "bspline/nubutil.h"
#include "bspline/sfree.h"
#include "bspline/subobj.h"
#include "stitch/vcnobj.h"
#include "surface/srfsnip.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/placement.h"
#include "tests/surface/recordviews.h"

namespace {

class SplitTest : public KernelTest {};

// The piece is a valid clamped object and reproduces obj on [a, b] of the cut direction
// (running backwards when reversed; it is then reversed for the comparison).
void ExpectPieceOf(const Bspline* obj, Bspline* piece, int dir, double a, double b, bool reversed = false) {
  ASSERT_NE(piece, nullptr);
  EXPECT_EQ(CheckBspline(piece, 1e-12), 0);
  const bool inV = obj->kind == 2 && dir;
  EXPECT_NEAR(inV ? piece->vmin : piece->umin, a, 1e-12);
  EXPECT_NEAR(inV ? piece->vmax : piece->umax, b, 1e-12);
  if (reversed) ReverseObj(piece, dir);
  EXPECT_LT(ShapeDiff(piece, obj), 1e-11 * RefScale(obj)) << a << " " << b;
}

// Random curves (2D and 3D, some rational, one cut on a knot) and rational surfaces cut in u
// and in v.
TEST_F(SplitTest, PiecesReproduceTheObject) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> cut(0.02, 0.98);
  for (unsigned seed = 1; seed <= 18; ++seed) {
    const int degree = 1 + seed % 4, dir = seed % 2;
    PatchOptions o{.layout = KnotLayout::Random, .rational = true, .seed = seed};
    Bspline* obj =
        seed > 16 ? BuildFunctionPatch([](double x, double y) { return std::sin(3 * x) * y; }, o)
                  : BuildRandomCurve(seed, degree, degree + 3 + seed % 5, 2 + dir, seed % 3 == 0);
    const std::vector<double> before = Snapshot(obj);
    std::vector<double> cuts(1 + seed % 3);
    for (double& x : cuts) x = cut(rng);
    if (seed % 4 == 0) cuts.push_back(obj->knotsU[degree + 1]);
    std::sort(cuts.begin(), cuts.end());
    std::vector<Bspline*> pieces(cuts.size() + 1);
    std::vector<double> pars = cuts;
    ASSERT_EQ(SplitObjectToNObjects(obj, int(pars.size()), pars.data(), dir, pieces.data()), 0);
    for (size_t i = 0; i < pieces.size(); ++i)
      ExpectPieceOf(obj, pieces[i], dir, i ? cuts[i - 1] : 0.0, i < cuts.size() ? cuts[i] : 1.0);
    EXPECT_EQ(Snapshot(obj), before);
    FreeBsplineArrayContents(pieces.data(), int(pieces.size()));
    FreeBspline(obj);
  }
}

TEST_F(SplitTest, SlotsFollowTheGivenValues) {
  Bspline* c = BuildRandomCurve(7, 3, 8);
  // A value at the range start cuts nothing, a repeated value leaves its slot empty, and a last
  // value at the range end takes the last piece, which must not be lost.
  const double given[5] = {0.0, 0.3, 0.3, 0.6, 1.0};
  double pars[5] = {0.0, 0.3, 0.3, 0.6, 1.0};
  Bspline* p[6] = {};
  ASSERT_EQ(SplitObjectToNObjects(c, 5, pars, 0, p), 0);
  EXPECT_TRUE(!p[0] && !p[2] && !p[5]);
  for (int i : {1, 3, 4}) ExpectPieceOf(c, p[i], 0, given[i - 1], given[i]);
  FreeBsplineArrayContents(p, 6);
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

// A cubic that nearly jumps (by 5) across four knots 1e-12 apart at 0.3, and one whose first
// interior knots lie 1e-12 .. 3e-12 from the range start: an end asked for within 1e-6 of the
// range beside such a cluster is where the piece starts, on the curve's point there, not the
// cluster's other side (the curve crosses it there). Beside a knot of a smooth curve, a round-off
// away, the end moves onto the knot. At every size and place, rational or not.
TEST_F(SplitTest, ExtractBesideAClusterOfKnotsCutsWhereAsked) {
  const std::vector<double> unit = {0, 0, 0, 1, 0, 0, 2, 0, 0, 3, 0, 0, 3, 5, 0, 4, 5, 0, 5, 5, 0, 6, 5, 0};
  const std::vector<double> inside = {0, 0, 0, 0, 0.3, 0.3 + 1e-12, 0.3 + 2e-12, 0.3 + 3e-12, 1, 1, 1, 1};
  const std::vector<double> atStart = {0, 0, 0, 0, 1e-12, 2e-12, 3e-12, 0.5, 1, 1, 1, 1};
  for (const Place& pl : EveryPlace())
    for (const std::vector<double>& w : {std::vector<double>{}, {1, 0.5, 2, 1, 3, 1, 0.7, 1}}) {
      std::vector<double> pts(unit);
      for (size_t i = 0; i < pts.size(); i += 3) pl.Map(&pts[i], &pts[i]);
      for (const auto& [knots, starts] :
           {std::pair{inside, std::vector<double>{0.3 - 5e-7, 0.3 + 1.5e-12, 0.3 + 5e-7}},
            std::pair{atStart, std::vector<double>{5e-7, 1.5e-12}}}) {
        Bspline* c = BuildCurve(3, 3, pts, knots, w);
        const std::vector<double> before = Snapshot(c);
        for (const double t0 : starts) {
          Bspline* piece = ExtractParamRange(c, 0, t0, 0.9);
          ASSERT_NE(piece, nullptr) << Where(pl) << " " << t0;
          EXPECT_EQ(piece->umin, t0) << Where(pl) << " " << t0;
          double A[3], B[3];
          Eval3DPointOnCurve3Array(c, t0, 0, A);
          Eval3DPointOnCurve3Array(piece, t0, 0, B);
          EXPECT_LT(std::hypot(A[0] - B[0], A[1] - B[1], A[2] - B[2]), 1e-11 * pl.size) << Where(pl) << " " << t0;
          // The cluster itself is closer than CheckBspline's knot tolerance: the record check.
          EXPECT_TRUE(BsplineSound(piece)) << Where(pl) << " " << t0;
          EXPECT_EQ(piece->umax, 0.9);
          EXPECT_LT(ShapeDiff(piece, c), 1e-11 * RefScale(c)) << Where(pl) << " " << t0;
          FreeBspline(piece);
        }
        EXPECT_EQ(Snapshot(c), before);
        FreeBspline(c);
      }
      // The same in v of the surface it sweeps along u (its lines of v nearly jump, not its rows).
      std::vector<double> net;
      for (int j = 0; j < 8; ++j)
        for (int i = 0; i < 2; ++i) {
          double q[3] = {unit[3 * j], unit[3 * j + 1], double(i)};
          pl.Map(q, q);
          net.insert(net.end(), q, q + 3);
        }
      std::vector<double> sw;
      for (double x : w) sw.insert(sw.end(), {x, x});
      Bspline* s = BuildSurface(1, 3, 2, 8, net, {0, 0, 1, 1}, inside, sw);
      for (const double t0 : {0.3 - 5e-7, 0.3 + 1.5e-12}) {
        Bspline* piece = ExtractParamRange(s, 1, t0, 0.9);
        ASSERT_NE(piece, nullptr) << Where(pl) << " " << t0;
        EXPECT_EQ(piece->vmin, t0) << Where(pl) << " " << t0;
        EXPECT_TRUE(BsplineSound(piece)) << Where(pl) << " " << t0;
        EXPECT_LT(ShapeDiff(piece, s), 1e-11 * RefScale(s)) << Where(pl) << " " << t0;
        FreeBspline(piece);
      }
      FreeBspline(s);
      Bspline* smooth = BuildCurve(3, 3, pts, {0, 0, 0, 0, 0.2, 0.4, 0.6, 0.8, 1, 1, 1, 1}, w);
      Bspline* piece = ExtractParamRange(smooth, 0, std::nextafter(0.4, 1.0), 0.9);
      ASSERT_NE(piece, nullptr);
      EXPECT_EQ(piece->umin, 0.4) << Where(pl);
      EXPECT_EQ(piece->interiorU, 2) << Where(pl);
      FreeBspline(piece);
      FreeBspline(smooth);
    }
  // The knots go into a copy on this way too: whatever fails, the curve never keeps any.
  Bspline* c = BuildCurve(3, 3, unit, inside);
  const std::vector<double> before = Snapshot(c);
  const int failures = RunMakerWithInjectedFailures(60, 1, [&](Bspline** out) {
    *out = ExtractParamRange(c, 0, 0.3 + 1.5e-12, 0.9);
    EXPECT_EQ(Snapshot(c), before);
    return *out ? 0 : -2;
  });
  EXPECT_TRUE(failures > 2 && failures < 60) << failures;
  FreeBspline(c);
}

// Curves of degree 1 to 3, rational or not, with three knots 1e-12 apart at 0.3: cut on each
// knot of the cluster, the piece before ends and the piece after starts exactly there, at full
// multiplicity, both on the curve (the other knots of the cluster, closer than the snapping
// tolerance, are no copies of the one cut on: a degree 1 curve crosses a whole leg between them).
TEST_F(SplitTest, ACutOnAKnotOfAClusterEndsBothPiecesThere) {
  const std::vector<double> unit = {0, 0, 0, 1, 0, 0, 2, 1, 0, 3, 5, 0, 4, 5, 1, 5, 4, 0, 6, 5, 0, 7, 3, 0, 8, 3, 2};
  const std::vector<double> w = {1, 0.5, 2, 1, 3, 0.7, 1, 2, 1};
  for (const Place& pl : {Place(1e-6, false), Place(1.0, true), Place(1e6, true)})
    for (int p = 1; p <= 3; ++p)
      for (const bool rational : {false, true}) {
        std::vector<double> pts(unit), knots(p + 1, 0.0);
        for (size_t i = 0; i < pts.size(); i += 3) pl.Map(&pts[i], &pts[i]);
        // Nine control points whatever the degree: 3 - p knots more before the cluster.
        for (int i = p; i < 3; ++i) knots.push_back(0.1 * (i - p + 1));
        for (const double k : {0.3, 0.3 + 1e-12, 0.3 + 2e-12, 0.6, 0.8}) knots.push_back(k);
        knots.insert(knots.end(), p + 1, 1.0);
        Bspline* c = BuildCurve(p, 3, pts, knots, rational ? w : std::vector<double>{});
        ASSERT_NE(c, nullptr);
        const std::vector<double> before = Snapshot(c);
        for (const double t : {0.3, 0.3 + 1e-12, 0.3 + 2e-12}) {
          Bspline* lo = ExtractParamRange(c, 0, 0.0, t);
          Bspline* hi = ExtractParamRange(c, 0, t, 1.0);
          ASSERT_TRUE(lo && hi) << Where(pl) << " " << p << " " << t;
          EXPECT_EQ(lo->umax, t) << Where(pl) << " " << p << " " << t;
          EXPECT_EQ(hi->umin, t) << Where(pl) << " " << p << " " << t;
          const int nl = NumKnotsU(lo);
          for (int i = 0; i <= p; ++i) {
            EXPECT_EQ(lo->knotsU[nl - 1 - i], t) << Where(pl) << " " << p << " " << t;
            EXPECT_EQ(hi->knotsU[i], t) << Where(pl) << " " << p << " " << t;
          }
          double C[3], A[3], B[3];
          Eval3DPointOnCurve3Array(c, t, 0, C);
          Eval3DPointOnCurve3Array(lo, t, 0, A);
          Eval3DPointOnCurve3Array(hi, t, 0, B);
          EXPECT_LT(std::hypot(A[0] - B[0], A[1] - B[1], A[2] - B[2]), 1e-11 * pl.size) << Where(pl) << " " << p << " " << t;
          EXPECT_TRUE(BsplineSound(lo) && BsplineSound(hi)) << Where(pl) << " " << p << " " << t;
          EXPECT_LT(ShapeDiff(lo, c), 1e-11 * RefScale(c)) << Where(pl) << " " << p << " " << t;
          EXPECT_LT(ShapeDiff(hi, c), 1e-11 * RefScale(c)) << Where(pl) << " " << p << " " << t;
          FreeBspline(lo);
          FreeBspline(hi);
        }
        EXPECT_EQ(Snapshot(c), before);
        FreeBspline(c);
      }
}

TEST_F(SplitTest, ExtractBetweenTwoValues) {
  Bspline* c = BuildRandomCurve(3, 3, 9, 3, true);
  const std::vector<double> before = Snapshot(c);
  c->closedU = 3;  // kept only by a piece over the whole range
  // {t0, t1, the piece's range}: backwards, and values beyond the range taken at its ends.
  const double cases[][4] = {{0.2, 0.8, 0.2, 0.8}, {0.8, 0.2, 0.2, 0.8}, {-1.0, 2.0, 0.0, 1.0}};
  for (const auto& k : cases) {
    Bspline* piece = ExtractObjFromObjGivenPar(c, 0, k[0], k[1]);
    ExpectPieceOf(c, piece, 0, k[2], k[3], k[0] > k[1]);
    EXPECT_EQ(piece->closedU, k[2] == 0.0 ? 3 : 0);
    FreeBspline(piece);
  }
  EXPECT_EQ(Snapshot(c), before);
  // The knots are inserted into a copy: whatever fails, c never keeps any.
  const int extractFailures = RunMakerWithInjectedFailures(60, 1, [&](Bspline** out) {
    *out = ExtractObjFromObjGivenPar(c, 0, 0.7, 0.3);
    EXPECT_EQ(Snapshot(c), before);
    return *out ? 0 : -2;
  });
  EXPECT_TRUE(extractFailures > 3 && extractFailures < 60) << extractFailures;
  EXPECT_EQ(ExtractObjFromObjGivenPar(c, 0, 0.5, 0.5 + 5e-7), nullptr);
  EXPECT_EQ(zk_error_status, -9);
  ClearKernelError();
  // Callers that skip a short piece learn it from the return, the error state untouched.
  Bspline* none = c;
  EXPECT_EQ(ExtractParamRangeUnlessShort(c, 0, 0.5, 0.5 + 5e-7, &none), 1);
  EXPECT_EQ(none, nullptr);
  EXPECT_FALSE(KernelFailed());
  FreeBspline(c);

  Bspline* s = BuildFunctionPatch([](double x, double y) { return x * y * y; }, {.rational = true});
  Bspline* sv = ExtractObjFromObjGivenPar(s, 1, 0.9, 0.35);
  ExpectPieceOf(s, sv, 1, 0.35, 0.9, true);
  FreeBspline(sv);

  const std::vector<double> sBefore = Snapshot(s);
  const int failures = RunWithInjectedFailures(160, 1, [&] {
    double pars[2] = {0.25, 0.5};
    Bspline* p[3] = {};
    const int r = SplitObjectToNObjects(s, 2, pars, 1, p);
    EXPECT_EQ(Snapshot(s), sBefore);
    EXPECT_TRUE(r == 0 || (r == -1 && !p[0] && !p[1] && !p[2]));
    FreeBsplineArrayContents(p, 3);
    return r;
  });
  EXPECT_GT(failures, 5);
  EXPECT_LT(failures, 160);
  FreeBspline(s);
}

}  // namespace
