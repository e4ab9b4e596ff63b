// Snipping a surface along an iso-parameter line: the halves reproduce the surface, curves are
// cut where they cross and handed to their side, splitting keeps cutting until every piece fits;
// trimmed surfaces split into one piece per region, with point-in-trim answers unchanged.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "bspline/bsvalid.h"
#include "bspline/knots.h"
#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "surface/srfsnip.h"
#include "surface/srfutils.h"
#include "surface/trimutils.h"
#include "tests/bspline/trimloops.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"
#include "tests/surface/recordviews.h"

namespace {

class Snip : public KernelTest {};

double Wave(double x, double y) { return 0.3 * std::sin(3 * x) * std::cos(2 * y) + 0.1 * x * y; }

// One side record with its one zeroed node, as callers make them.
struct Sides {
  SnipPiece lowNode{}, highNode{};
  SnipSide lowSide{&lowNode, 1}, highSide{&highNode, 1};
  SnipSide* low = &lowSide;
  SnipSide* high = &highSide;
  std::vector<Bspline*> Pieces(const SnipSide* s) const {
    std::vector<Bspline*> v;
    for (const SnipPiece* n = s->first; n; n = n->next)
      if (n->piece) v.push_back(n->piece);
    return v;
  }
  ~Sides() {
    for (SnipSide* s : {low, high})
      for (SnipPiece* n = s->first; n;) {
        SnipPiece* next = n->next;
        FreeBspline(n->piece);
        if (n != s->first) Free(n);
        n = next;
      }
  }
};

// The piece's point at the original parameters (u, v): its domain maps linearly onto the part
// [u0, u1] x [v0, v1] of the original.
void AtOriginal(const Bspline* piece, double u0, double u1, double v0, double v1, double u, double v,
                double out[3]) {
  const double pu = piece->umin + (u - u0) / (u1 - u0) * (piece->umax - piece->umin);
  const double pv = piece->vmin + (v - v0) / (v1 - v0) * (piece->vmax - piece->vmin);
  RefEvalSurface(piece, pu, pv, out);
}

double Dist(const double a[3], const double b[3]) {
  return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) +
                   (a[2] - b[2]) * (a[2] - b[2]));
}

void CurvePoint3(const Bspline* c, double t, double out[3]) {
  double uv[2];
  Eval2DPointOnCurve2Array(nullptr, c, t, 0, uv);
  RefEvalSurface(c->owner, uv[0], uv[1], out);
}
double CStart(const Bspline* c) { return c->knotsU[c->degreeU]; }
double CEnd(const Bspline* c) { return c->knotsU[c->degreeU + c->interiorU + 1]; }

TEST_F(Snip, HalvesReproduceTheSurfaceAndCurvesAreCutOnTheLine) {
  for (int uCut = 0; uCut < 2; ++uCut) {
    PatchOptions o;
    o.nu = 8, o.nv = 7, o.layout = KnotLayout::Random, o.seed = 5 + uCut;
    Bspline* s = BuildFunctionPatch(Wave, o);
    ASSERT_NE(s, nullptr);
    // A free curve crossing the line once.
    BuildCurveOnSurface(s, 3, {0.1, 0.15, 0.3, 0.35, 0.6, 0.5, 0.9, 0.8});
    const double t = 0.43;
    Sides sd;
    ASSERT_EQ(SnipSurfaceBspline(s, t, uCut, &sd.low, &sd.high), 1);
    Bspline* lo = sd.lowNode.piece;
    Bspline* hi = sd.highNode.piece;
    ASSERT_NE(lo, nullptr);
    ASSERT_NE(hi, nullptr);
    const double lu1 = uCut ? t : 1.0, hv1 = uCut ? 1.0 : t;
    double worst = 0.0;
    for (int i = 0; i <= 12; ++i)
      for (int j = 0; j <= 12; ++j) {
        double a = i / 12.0, b = j / 12.0, p[3], q[3];
        // Low half.
        const double ul = uCut ? a * t : a, vl = uCut ? b : b * t;
        RefEvalSurface(s, ul, vl, p);
        AtOriginal(lo, 0, lu1, 0, uCut ? 1.0 : t, ul, vl, q);
        worst = std::max(worst, Dist(p, q));
        // High half.
        const double uh = uCut ? t + a * (1 - t) : a, vh = uCut ? b : t + b * (1 - t);
        RefEvalSurface(s, uh, vh, p);
        AtOriginal(hi, uCut ? t : 0.0, 1.0, uCut ? 0.0 : hv1, 1.0, uh, vh, q);
        worst = std::max(worst, Dist(p, q));
      }
    EXPECT_LT(worst, 1e-12) << uCut;
    // The crossing curve became one curve on each half, meeting on the cut line.
    ASSERT_EQ(ListItems(lo).size(), 1u);
    ASSERT_EQ(ListItems(hi).size(), 1u);
    Bspline* a = ListItems(lo)[0];
    Bspline* b = ListItems(hi)[0];
    EXPECT_EQ(a->owner, lo);
    EXPECT_EQ(b->owner, hi);
    double pa[3], pb[3], pl[3];
    CurvePoint3(a, CEnd(a), pa);
    CurvePoint3(b, CStart(b), pb);
    EXPECT_LT(Dist(pa, pb), 1e-6);
    // On the line: the low half's far edge at that point.
    double uv[2];
    Eval2DPointOnCurve2Array(nullptr, a, CEnd(a), 0, uv);
    if (uCut) {
      EXPECT_NEAR(uv[0], lo->umax, 1e-6 * (lo->umax - lo->umin));
      RefEvalSurface(lo, lo->umax, uv[1], pl);
    } else {
      EXPECT_NEAR(uv[1], lo->vmax, 1e-6);
      RefEvalSurface(lo, uv[0], lo->vmax, pl);
    }
    EXPECT_LT(Dist(pa, pl), 1e-6);
    FreeBspline(s);
  }
}

TEST_F(Snip, TrimPieceCrossingTwiceLeavesItsMiddleAndAnEdgeOnTheOtherPiece) {
  Bspline* s = BuildFunctionPatch(Wave);
  // Starts and ends right of u = 0.5 and dips left of it in between.
  Bspline* c = BuildCurveOnSurface(s, 1, {0.8, 0.2, 0.2, 0.3, 0.2, 0.7, 0.8, 0.8});
  AddLoop(s, {c});
  Bspline* made[2] = {};
  double t = 0.5;
  ASSERT_EQ(SplitObjectToNObjects(s, 1, &t, 0, made), 0);
  BsplineList *lowList = nullptr, *highList = nullptr;
  ASSERT_EQ(DivideCurveIntoPortions(c, made[0], made[1], 1, &lowList, &highList, 1), 0);
  const auto lows = Items(lowList), highs = Items(highList);
  ASSERT_EQ(lows.size(), 1u);
  ASSERT_EQ(highs.size(), 3u);
  // The middle lies on the low piece from one crossing to the other.
  double m0[2], m1[2];
  Eval2DPointOnCurve2Array(nullptr, lows[0], CStart(lows[0]), 0, m0);
  Eval2DPointOnCurve2Array(nullptr, lows[0], CEnd(lows[0]), 0, m1);
  EXPECT_NEAR(m0[0], 0.5, 1e-6);
  EXPECT_NEAR(m1[0], 0.5, 1e-6);
  // The edge curve on the high piece joins those crossings along u = 0.5, listed only on the side.
  Bspline* edge = highs[1];
  EXPECT_EQ(edge->owner, made[1]);
  EXPECT_EQ(ListItems(made[1]).size(), 2u);
  double e0[2], e1[2];
  Eval2DPointOnCurve2Array(nullptr, edge, CStart(edge), 0, e0);
  Eval2DPointOnCurve2Array(nullptr, edge, CEnd(edge), 0, e1);
  EXPECT_NEAR(e0[0], 0.5, 1e-9);
  EXPECT_NEAR(e1[0], 0.5, 1e-9);
  EXPECT_NEAR(std::min(e0[1], e1[1]), std::min(m0[1], m1[1]), 1e-9);
  EXPECT_NEAR(std::max(e0[1], e1[1]), std::max(m0[1], m1[1]), 1e-9);
  FreeBspline(edge);
  for (BsplineList* l : {lowList, highList})
    while (l) {
      BsplineList* n = l->next;
      Free(l);
      l = n;
    }
  FreeBspline(made[0]);
  FreeBspline(made[1]);
  FreeBspline(s);
}

// Curves that are not trim pieces are cut on the line and each part goes to the piece whose
// box holds it; the bounds test that decides it allows 0.001 of slack across the line.
TEST_F(Snip, LooseCurvesAreCutOnTheLineAndPlacedOnThePiecesHoldingThem) {
  Bspline* s = BuildFunctionPatch(Wave);
  Bspline* across = BuildCurveOnSurface(s, 1, {0.2, 0.3, 0.8, 0.6});
  Bspline* left = BuildCurveOnSurface(s, 1, {0.1, 0.1, 0.4, 0.9});
  EXPECT_EQ(CheckCurveBoundsUV(left, 0.0, 0.5, 0.0, 0.0, 1), 1);
  EXPECT_EQ(CheckCurveBoundsUV(left, 0.1009, 0.3991, 0.0, 0.0, 1), 1);
  EXPECT_EQ(CheckCurveBoundsUV(left, 0.102, 0.5, 0.0, 0.0, 1), 0);
  EXPECT_EQ(CheckCurveBoundsUV(across, 0.0, 0.5, 0.0, 0.0, 1), 0);
  EXPECT_EQ(CheckCurveBoundsUV(across, 0.0, 0.5, 0.3, 0.6, 0), 1);
  EXPECT_EQ(CheckCurveBoundsUV(across, 0.0, 1.0, 0.35, 0.6, 0), 0);

  Bspline* made[2] = {};
  double t = 0.5;
  ASSERT_EQ(SplitObjectToNObjects(s, 1, &t, 0, made), 0);
  Sides sd;
  sd.lowNode.piece = made[0];
  sd.highNode.piece = made[1];
  const size_t lowBefore = ListItems(made[0]).size(), highBefore = ListItems(made[1]).size();
  ASSERT_EQ(PlaceOtherCurvesOnSurfaces(sd.low, sd.high, t, s, 1), 0);
  const auto lows = ListItems(made[0]), highs = ListItems(made[1]);
  ASSERT_EQ(lows.size(), lowBefore + 2);
  ASSERT_EQ(highs.size(), highBefore + 1);
  EXPECT_EQ(ListItems(s).size(), 2u);  // the originals stay where they were
  // Every placed part lies on its piece; the two parts of the crossing curve meet on the line.
  for (Bspline* part : lows) EXPECT_EQ(CheckCurveBoundsUV(part, 0.0, 0.5, 0.0, 1.0, 1), 1);
  Bspline* high = highs.back();
  EXPECT_EQ(CheckCurveBoundsUV(high, 0.5, 1.0, 0.0, 1.0, 1), 1);
  double a[2], b[2];
  Eval2DPointOnCurve2Array(nullptr, high, CStart(high), 0, a);
  Eval2DPointOnCurve2Array(nullptr, high, CEnd(high), 0, b);
  EXPECT_NEAR(std::min(a[0], b[0]), 0.5, 1e-9);
  EXPECT_NEAR(std::min(a[1], b[1]), 0.45, 1e-9);
  EXPECT_NEAR(std::max(a[1], b[1]), 0.6, 1e-12);
  FreeBspline(s);
}

// Loose curves on a patch whose parameter domain is a millionth wide, or far from zero: each
// goes whole to the piece on its side of the cut, or is cut on the line; every curve of a piece
// lies within its domain (the pieces' domains are their own, so the curves are measured there).
TEST_F(Snip, LooseCurvesOnANarrowDomainGoToTheirSide) {
  for (const double lo : {0.0, 1e6})
    for (const double width : {1e-6, 1.0}) {
      SCOPED_TRACE(::testing::Message() << "domain from " << lo << " width " << width);
      PatchOptions o;
      o.umin = o.vmin = lo, o.umax = o.vmax = lo + width;
      Bspline* s = BuildFunctionPatch(Wave, o);
      ASSERT_NE(s, nullptr);
      auto at = [&](std::vector<double> uv) {
        for (double& x : uv) x = lo + x * width;
        return uv;
      };
      BuildCurveOnSurface(s, 1, at({0.6, 0.2, 0.9, 0.8}));  // wholly on the high side
      BuildCurveOnSurface(s, 1, at({0.1, 0.3, 0.4, 0.7}));  // wholly on the low side
      BuildCurveOnSurface(s, 1, at({0.2, 0.5, 0.7, 0.6}));  // across the line
      Sides sd;
      ASSERT_EQ(SnipSurfaceBspline(s, lo + 0.5 * width, 1, &sd.low, &sd.high), 1);
      for (const SnipSide* side : {sd.low, sd.high}) {
        const auto pieces = sd.Pieces(side);
        ASSERT_EQ(pieces.size(), 1u);
        const Bspline* p = pieces[0];
        EXPECT_EQ(ListItems(p).size(), 2u);
        const double su = 1e-6 * (p->umax - p->umin), sv = 1e-6 * (p->vmax - p->vmin);
        for (Bspline* c : ListItems(p)) {
          double u0 = 0, u1 = 0, v0 = 0, v1 = 0;
          GetCurveOnSurfMinMaxSurfParams(c, &u0, &u1, &v0, &v1);
          EXPECT_GE(u0, p->umin - su);
          EXPECT_LE(u1, p->umax + su);
          EXPECT_GE(v0, p->vmin - sv);
          EXPECT_LE(v1, p->vmax + sv);
        }
      }
      FreeBspline(s);
    }
}

// Marking a crossing used gives it its loop and takes it out of the search for a region start;
// of two at one parameter only the first is ever marked.
TEST_F(Snip, MarkedCrossingsNoLongerStartARegion) {
  TrimList loopA{}, loopB{};
  SnipCrossing d{nullptr, nullptr, nullptr, 1, 0.2, 0.4, 0};
  SnipCrossing c{&d, nullptr, nullptr, 1, 0.4, 0.4, 0};
  SnipCrossing b{&c, nullptr, nullptr, 2, 0.6, 0.3, 0};
  SnipCrossing a{&b, nullptr, nullptr, 1, 0.9, 0.1, 0};
  SnipCrossingList list{&a, 4};
  double coord = 0, param = 0;
  BsplineList* node = nullptr;
  ASSERT_EQ(FindNextMaxFromTop(&list, &coord, &param, &node), 1);
  EXPECT_EQ(coord, 0.9);
  MarkIsUsedField(&list, 0.1, &loopA);
  EXPECT_EQ(a.used, 1);
  EXPECT_EQ(a.loop, &loopA);
  ASSERT_EQ(FindNextMaxFromTop(&list, &coord, &param, &node), 1);
  EXPECT_EQ(coord, 0.4);  // the leaving crossing between is no start
  MarkIsUsedField(&list, 0.4, &loopB);
  EXPECT_EQ(c.loop, &loopB);
  EXPECT_EQ(d.used, 0);
  ASSERT_EQ(FindNextMaxFromTop(&list, &coord, &param, &node), 1);
  EXPECT_EQ(coord, 0.2);
  // The first of the parameter is marked again, used or not: the second stays a start.
  MarkIsUsedField(&list, 0.4, &loopB);
  MarkIsUsedField(&list, 0.77, &loopA);  // no crossing there: nothing changes
  EXPECT_EQ(b.used + d.used, 0);
  ASSERT_EQ(FindNextMaxFromTop(&list, &coord, &param, &node), 1);
  EXPECT_EQ(coord, 0.2);
}

TEST_F(Snip, SplittingKeepsCuttingUntilEveryPieceFitsAndTheyTileTheSurface) {
  PatchOptions o;
  o.nu = 30, o.nv = 12, o.layout = KnotLayout::Random, o.seed = 3;
  Bspline* s = BuildFunctionPatch(Wave, o);
  BsplineList* list = nullptr;
  ASSERT_EQ(SplitSurfaceBspline(s, 10, 10, &list, 1), 0);  // the input is freed
  const auto pieces = Items(list);
  ASSERT_GE(pieces.size(), 4u);
  double area = 0.0, worst = 0.0;
  Bspline* ref = BuildFunctionPatch(Wave, o);
  std::mt19937 rng(1);
  std::uniform_real_distribution<double> U(0, 1);
  for (Bspline* p : pieces) {
    EXPECT_LE(NumCtrlU(p), 10);
    EXPECT_LE(NumCtrlV(p), 10);
    // x is u and y is v on this patch: the piece's corners give its part of the domain.
    double a[3], b[3];
    RefEvalSurface(p, p->umin, p->vmin, a);
    RefEvalSurface(p, p->umax, p->vmax, b);
    area += (b[0] - a[0]) * (b[1] - a[1]);
    for (int k = 0; k < 20; ++k) {
      double q[3], r[3];
      RefEvalSurface(p, p->umin + U(rng) * (p->umax - p->umin), p->vmin + U(rng) * (p->vmax - p->vmin), q);
      RefEvalSurface(ref, q[0], q[1], r);
      worst = std::max(worst, Dist(q, r));
    }
  }
  EXPECT_NEAR(area, 1.0, 1e-12);
  EXPECT_LT(worst, 1e-12);
  for (Bspline* p : pieces) {
    EXPECT_EQ(RemoveBsplFromBsplList(p, &list), p);
    FreeBspline(p);
  }
  EXPECT_EQ(list, nullptr);
  FreeBspline(ref);

  // A direction to cut without interior knots offers only its end: -2, nothing made.
  PatchOptions f;
  f.nu = 4, f.nv = 5;
  Bspline* small = BuildFunctionPatch(Wave, f);
  BsplineList* none = nullptr;
  EXPECT_EQ(SplitSurfaceBspline(small, 3, 10, &none, 0), -2);
  EXPECT_EQ(none, nullptr);
  FreeBspline(small);
}

// A loop of straight degree-1 curves through the corners (u, v pairs), closed back to the first:
// one curve per side, or polylines of `spans` sides each (0: the whole loop one curve), as a
// tessellation hands them over.
TrimList* PolygonLoop(Bspline* s, const std::vector<double>& uv, int hole, int spans = 1) {
  std::vector<Bspline*> curves;
  const int n = int(uv.size()) / 2;
  const int step = spans > 0 ? spans : n;
  for (int i = 0; i < n; i += step) {
    std::vector<double> pts;
    for (int j = i; j <= std::min(i + step, n); ++j) pts.insert(pts.end(), {uv[2 * (j % n)], uv[2 * (j % n) + 1]});
    curves.push_back(BuildCurveOnSurface(s, 1, pts));
  }
  return AddLoop(s, curves, hole);
}

// Every loop of every piece is closed, and at random points away from the loops and the line
// the pieces on the point's side hold it exactly when the original does (one piece at most).
void CheckAgainstOriginal(Bspline* original, const Sides& sd, double t, int uCut, unsigned seed) {
  for (const SnipSide* side : {sd.low, sd.high})
    for (Bspline* p : sd.Pieces(side))
      for (TrimList* l = p->trims; l; l = l->next) {
        const auto cs = LoopItems(l);
        ASSERT_FALSE(cs.empty());
        for (size_t i = 0; i < cs.size(); ++i) {
          double e[2], f[2];
          Eval2DPointOnCurve2Array(nullptr, cs[i], CEnd(cs[i]), 0, e);
          const Bspline* nx = cs[(i + 1) % cs.size()];
          Eval2DPointOnCurve2Array(nullptr, nx, CStart(nx), 0, f);
          EXPECT_LT(std::hypot(e[0] - f[0], e[1] - f[1]), 1e-9);
        }
      }
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> U(0.001, 0.999);
  int inside = 0;
  for (int k = 0; k < 400; ++k) {
    const double u = U(rng), v = U(rng);
    const double across = uCut ? u : v;
    if (std::fabs(across - t) < 1e-3) continue;
    const int want = IsPointInTrim(original, u, v);
    int got = 0;
    for (Bspline* p : sd.Pieces(across < t ? sd.low : sd.high)) got += IsPointInTrim(p, u, v);
    EXPECT_EQ(got, want) << u << " " << v;
    inside += want;
  }
  EXPECT_GT(inside, 10);
}

TEST_F(Snip, TrimmedSurfacesSplitIntoOnePiecePerRegion) {
  // A rectangular hole cut through: one piece each side, each with part of the hole's edge.
  {
    Bspline* s = BuildFunctionPatch(Wave);
    PolygonLoop(s, {0, 0, 1, 0, 1, 1, 0, 1}, 0);
    PolygonLoop(s, {0.3, 0.35, 0.3, 0.7, 0.65, 0.7, 0.65, 0.35}, 1);
    Bspline* original = CopyBsplineStructAndChildren(s);
    Sides sd;
    ASSERT_EQ(SnipSurfaceBspline(s, 0.5, 1, &sd.low, &sd.high), 1);
    EXPECT_EQ(sd.Pieces(sd.low).size(), 1u);
    EXPECT_EQ(sd.Pieces(sd.high).size(), 1u);
    CheckAgainstOriginal(original, sd, 0.5, 1, 1);
    FreeBspline(original);
    FreeBspline(s);
  }
  // A U cut across both arms: two pieces on the arms' side, one on the other; a hole wholly
  // on one side goes whole to the piece holding it.
  {
    Bspline* s = BuildFunctionPatch(Wave);
    PolygonLoop(s, {0.1, 0.1, 0.9, 0.1, 0.9, 0.9, 0.7, 0.9, 0.7, 0.4, 0.3, 0.4, 0.3, 0.9, 0.1, 0.9}, 0);
    PolygonLoop(s, {0.35, 0.15, 0.35, 0.3, 0.6, 0.3, 0.6, 0.15}, 1);
    Bspline* original = CopyBsplineStructAndChildren(s);
    Sides sd;
    ASSERT_EQ(SnipSurfaceBspline(s, 0.6, 0, &sd.low, &sd.high), 1);
    EXPECT_EQ(sd.Pieces(sd.low).size(), 1u);
    EXPECT_EQ(sd.Pieces(sd.high).size(), 2u);
    CheckAgainstOriginal(original, sd, 0.6, 0, 2);
    FreeBspline(original);
    FreeBspline(s);
  }
  // A zig-zag edge crossing the line 60 times: one region below the line, one per tooth above.
  // The surface is large enough that the gaps along the line are bridged, not merged.
  {
    PatchOptions big;
    big.x1 = big.y1 = 100.0;
    Bspline* s = BuildFunctionPatch(Wave, big);
    std::vector<double> uv = {0.05, 0.05, 0.95, 0.05, 0.95, 0.95};
    for (int k = 0; k <= 60; ++k) {
      uv.push_back(0.95 - 0.9 * k / 60.0);
      uv.push_back(k % 2 ? 0.8 : 0.9);
    }
    Bspline* edge = BuildCurveOnSurface(s, 1, std::vector<double>(uv.begin() + 4, uv.end()));
    std::vector<Bspline*> curves = {BuildCurveOnSurface(s, 1, {0.05, 0.9, 0.05, 0.05}),
                                    BuildCurveOnSurface(s, 1, {0.05, 0.05, 0.95, 0.05}),
                                    BuildCurveOnSurface(s, 1, {0.95, 0.05, 0.95, 0.95}), edge};
    // Order: bottom, right, zig-zag top (right to left), left.
    AddLoop(s, {curves[1], curves[2], curves[3], curves[0]});
    Bspline* original = CopyBsplineStructAndChildren(s);
    Sides sd;
    ASSERT_EQ(SnipSurfaceBspline(s, 0.85, 0, &sd.low, &sd.high), 1);
    EXPECT_EQ(sd.Pieces(sd.low).size(), 1u);
    EXPECT_EQ(sd.Pieces(sd.high).size(), 31u);
    CheckAgainstOriginal(original, sd, 0.85, 0, 3);
    FreeBspline(original);
    FreeBspline(s);
  }
}

TEST_F(Snip, CraftedCrossingsThatNeverCloseEndTheWalkWithFailure) {
  Bspline* s = BuildFunctionPatch(Wave);
  TrimList* loop = PolygonLoop(s, {0.2, 0.2, 0.8, 0.2, 0.8, 0.8, 0.2, 0.8}, 0);
  BsplineList* c0 = loop->loopCurves;
  // Two crossings at one place along the line: the jump always finds the first of them, so
  // the walk circles without reaching its start.
  SnipCrossing d{nullptr, c0, nullptr, 2, 0.5, 0.5, 0};
  SnipCrossing c{&d, c0, nullptr, 1, 0.5, 0.2, 0};
  SnipCrossing b{&c, c0, nullptr, 1, 0.7, 0.3, 0};
  SnipCrossing a{&b, c0, nullptr, 1, 0.9, 0.1, 0};
  SnipCrossingList list{&a, 4};
  Sides sd;
  sd.lowNode.piece = CopyBsplineStruct(s);
  EXPECT_EQ(DivideTrimCurvesIntoPortions(s, &list, &sd.low, 1), -2);
  // An entering crossing with no way out along its loop.
  SnipCrossing lone{nullptr, c0, nullptr, 1, 0.5, 0.5, 0};
  SnipCrossingList one{&lone, 1};
  EXPECT_EQ(DivideTrimCurvesIntoPortions(s, &one, &sd.low, 1), 0);
  EXPECT_EQ(Items(sd.lowNode.curves).size(), 5u);  // round the whole loop back to the crossing
  for (BsplineList* n = sd.lowNode.curves; n;) {
    BsplineList* next = n->next;
    Free(n);
    n = next;
  }
  FreeBspline(s);
}

TEST_F(Snip, TrimmedPlaneTouchingItsEdgeIsCutAlikeAtEverySizeAndPlace) {
  // A plane patch whose outer loop runs along the domain edge u = 0 for part of its length, cut
  // across the loop: each side keeps one piece whose loop has its own corners, at every size and
  // 1e4 sizes from the origin.
  for (double size : {1e-6, 1.0, 1e6})
    for (double far : {0.0, 1e4}) {
      SCOPED_TRACE(::testing::Message() << "size " << size << " far " << far);
      PatchOptions o;
      o.x0 = far * size, o.x1 = (far + 1) * size, o.y0 = -far * size, o.y1 = (1 - far) * size;
      Bspline* s = BuildFunctionPatch([size](double x, double y) { return 0.5 * x + 0.25 * y + size; }, o);
      ASSERT_NE(s, nullptr);
      PolygonLoop(s, {0, 0.2, 0.7, 0.2, 0.7, 0.8, 0, 0.8}, 0);
      Bspline* original = CopyBsplineStructAndChildren(s);
      Sides sd;
      ASSERT_EQ(SnipSurfaceBspline(s, 0.4, 1, &sd.low, &sd.high), 1);
      for (const SnipSide* side : {sd.low, sd.high}) {
        const auto pieces = sd.Pieces(side);
        ASSERT_EQ(pieces.size(), 1u);
        ASSERT_NE(pieces[0]->trims, nullptr);
        // Four sides each: none collapsed into a point.
        EXPECT_EQ(LoopItems(pieces[0]->trims).size(), 4u);
      }
      CheckAgainstOriginal(original, sd, 0.4, 1, 4);
      FreeBspline(original);
      FreeBspline(s);
    }
}

// The signed area a loop encloses in the parameter plane (counter-clockwise positive), exact for
// loops of straight curves: the shoelace sum over each curve's control points, taken about
// (u0, v0) so that a domain far from the origin keeps its digits.
double LoopArea(const TrimList* loop, double u0 = 0.0, double v0 = 0.0) {
  double twice = 0.0;
  for (const Bspline* c : LoopItems(loop))
    for (int i = 0; i + 1 < NumCtrlU(c); ++i)
      twice += (c->X[0][i] - u0) * (c->Y[0][i + 1] - v0) - (c->X[0][i + 1] - u0) * (c->Y[0][i] - v0);
  return 0.5 * twice;
}

// The trimmed area of a piece: its outer loops less its holes.
double TrimmedArea(const Bspline* piece, double u0 = 0.0, double v0 = 0.0) {
  double area = 0.0;
  for (const TrimList* l = piece->trims; l; l = l->next)
    area += (l->hole ? -1.0 : 1.0) * std::fabs(LoopArea(l, u0, v0));
  return area;
}

TEST_F(Snip, ACutThroughOrTouchingAHolesCornersIsACut) {
  // A plane patch with a diamond hole (corners (0.2, 0.5), (0.5, 0.8), (0.8, 0.5), (0.5, 0.2),
  // area 0.18), cut through two opposite corners (u or v = 0.5), touching one corner (0.2, 0.8)
  // and across the middle of two sides (0.35): each side's pieces hold exactly its part of the
  // trimmed area, at every size and 1e4 sizes from the origin.
  struct Case {
    double t, low, high;
  };
  const Case cases[] = {{0.5, 0.41, 0.41}, {0.2, 0.2, 0.62}, {0.8, 0.62, 0.2}, {0.35, 0.35 - 0.0225, 0.65 - 0.1575}};
  for (double size : {1e-6, 1.0, 1e6})
    for (double far : {0.0, 1e4})
      for (const Case& c : cases)
        for (int uCut : {1, 0}) {
          SCOPED_TRACE(::testing::Message() << "size " << size << " far " << far << " t " << c.t << " u " << uCut);
          PatchOptions o;
          o.x0 = far * size, o.x1 = (far + 1) * size, o.y0 = -far * size, o.y1 = (1 - far) * size;
          Bspline* s = BuildFunctionPatch([size](double x, double y) { return 0.5 * x + 0.25 * y + size; }, o);
          ASSERT_NE(s, nullptr);
          PolygonLoop(s, {0, 0, 1, 0, 1, 1, 0, 1}, 0);
          PolygonLoop(s, {0.2, 0.5, 0.5, 0.8, 0.8, 0.5, 0.5, 0.2}, 1);
          Bspline* original = CopyBsplineStructAndChildren(s);
          Sides sd;
          ASSERT_EQ(SnipSurfaceBspline(s, c.t, uCut, &sd.low, &sd.high), 1);
          double area[2] = {0.0, 0.0};
          for (int side = 0; side < 2; ++side)
            for (Bspline* p : sd.Pieces(side ? sd.high : sd.low)) area[side] += TrimmedArea(p);
          EXPECT_NEAR(area[0], c.low, 1e-9);
          EXPECT_NEAR(area[1], c.high, 1e-9);
          CheckAgainstOriginal(original, sd, c.t, uCut, 5);
          FreeBspline(original);
          FreeBspline(s);
        }
}


// The part of the polygon (u, v pairs) on one side of the line u = t (axis 0) or v = t (axis 1),
// clipped by the half plane (its area is exact for any simple polygon).
std::vector<double> ClipToSide(const std::vector<double>& poly, int axis, double t, bool low) {
  std::vector<double> out;
  const int n = int(poly.size()) / 2;
  auto in = [&](const double* p) { return low ? p[axis] <= t : p[axis] >= t; };
  for (int i = 0; i < n; ++i) {
    const double* a = &poly[2 * i];
    const double* b = &poly[2 * ((i + 1) % n)];
    if (in(a)) out.insert(out.end(), {a[0], a[1]});
    if (in(a) != in(b)) {
      const double f = (t - a[axis]) / (b[axis] - a[axis]);
      out.insert(out.end(), {a[0] + f * (b[0] - a[0]), a[1] + f * (b[1] - a[1])});
    }
  }
  return out;
}

double PolygonArea(const std::vector<double>& p) {
  double twice = 0.0;
  const int n = int(p.size()) / 2;
  for (int i = 0; i < n; ++i) twice += p[2 * i] * p[2 * ((i + 1) % n) + 1] - p[2 * ((i + 1) % n)] * p[2 * i + 1];
  return 0.5 * std::fabs(twice);
}

TEST_F(Snip, LoopsWithCornersOnTheLineOrAtTheFacesCornerAreCutExactly) {
  // Faces whose loops have corners on the cut or at a corner of the face: a diamond touching
  // the four sides, an L with its reflex corner on the line, a square hole with a corner on it, a
  // triangular hole meeting the outer loop at the face's corner (0, 0), chamfered corners, a
  // triangular hole, a rectangular and a diamond hole whose corners and sides the cuts meet, and
  // a hole a tenth of the face across (its sides shorter than the gap tolerance of a face of size
  // 1e-6). Cut at u or v = 0.05 .. 0.8: each side's pieces hold exactly the side's part of the
  // trimmed area (the polygons clipped), at sizes 1e-6, 1 and 1e6, at the origin and 1e4 sizes
  // from it.
  struct Case {
    std::vector<double> outer, hole;
  };
  const Case cases[] = {
      {{0.5, 0, 1, 0.5, 0.5, 1, 0, 0.5}, {}},
      {{0, 0, 1, 0, 1, 0.5, 0.5, 0.5, 0.5, 1, 0, 1}, {}},
      {{0, 0, 1, 0, 1, 1, 0, 1}, {0.5, 0.5, 0.8, 0.5, 0.8, 0.8, 0.5, 0.8}},
      {{0, 0, 1, 0, 1, 1, 0, 1}, {0.0, 0.0, 0.3, 0.1, 0.1, 0.3}},
      {{0.2, 0, 1, 0, 1, 0.8, 0.5, 1, 0, 1, 0, 0.2}, {}},
      {{0, 0, 1, 0, 1, 1, 0, 1}, {0.2, 0.2, 0.7, 0.3, 0.4, 0.75}},
      {{0, 0, 1, 0, 1, 1, 0, 1}, {0.2, 0.3, 0.6, 0.3, 0.6, 0.7, 0.2, 0.7}},
      {{0, 0, 1, 0, 1, 1, 0, 1}, {0.5, 0.2, 0.8, 0.5, 0.5, 0.8, 0.2, 0.5}},
      {{0, 0, 1, 0, 1, 1, 0, 1}, {0.2, 0.2, 0.3, 0.2, 0.3, 0.3, 0.2, 0.3}},
  };
  for (const Case& c : cases)
    for (double t : {0.05, 0.1, 0.2, 0.3, 0.5, 0.8, 0.4, 0.7, 0.75})
      for (int uCut : {1, 0})
        for (double size : {1e-6, 1.0, 1e6})
          for (double far : {0.0, 1e4}) {
            SCOPED_TRACE(::testing::Message() << "case " << (&c - cases) << " t " << t << " u " << uCut << " size " << size
                                              << " far " << far);
            PatchOptions o;
            o.x0 = far * size, o.x1 = (far + 1) * size, o.y0 = -far * size, o.y1 = (1 - far) * size;
            Bspline* s = BuildFunctionPatch([size](double x, double y) { return 0.5 * x + 0.25 * y + size; }, o);
            ASSERT_NE(s, nullptr);
            PolygonLoop(s, c.outer, 0);
            if (!c.hole.empty()) PolygonLoop(s, c.hole, 1);
            const int axis = uCut ? 0 : 1;
            double expected[2];
            for (int side = 0; side < 2; ++side) {
              expected[side] = PolygonArea(ClipToSide(c.outer, axis, t, side == 0));
              if (!c.hole.empty()) expected[side] -= PolygonArea(ClipToSide(c.hole, axis, t, side == 0));
            }
            Sides sd;
            EXPECT_EQ(SnipSurfaceBspline(s, t, uCut, &sd.low, &sd.high), 1);
            for (int side = 0; side < 2; ++side) {
              double area = 0.0;
              for (Bspline* p : sd.Pieces(side ? sd.high : sd.low)) area += TrimmedArea(p);
              EXPECT_NEAR(area, expected[side], 1e-9) << side;
            }
            FreeBspline(s);
          }
}

// The corners (u, v pairs) in the opposite order: the same polygon run the other way round.
std::vector<double> Reversed(const std::vector<double>& p) {
  std::vector<double> r;
  for (int i = int(p.size()) / 2 - 1; i >= 0; --i) r.insert(r.end(), {p[2 * i], p[2 * i + 1]});
  return r;
}

// The square [far, far + 1] x [far, far + 1] times size, as a face's parameter domain.
PatchOptions PlacedSquare(double size, double far) {
  PatchOptions o;
  o.umin = o.vmin = far * size, o.umax = o.vmax = (far + 1) * size;
  return o;
}

// A tilted plane over o's domain: the faces the snips below cut.
Bspline* TiltedPlanePatch(const PatchOptions& o) {
  return BuildFunctionPatch([](double x, double y) { return 0.5 * x + 0.25 * y + 1.0; }, o);
}

// Coordinates in the unit square taken into a square domain of that size from o's corner.
std::vector<double> IntoSquare(std::vector<double> p, const PatchOptions& o, double size) {
  for (double& x : p) x = o.umin + x * size;
  return p;
}

// A plane face with an outer loop and holes given on the unit square, mapped onto the parameter
// domain [u0, u1] x [v0, v1] and cut at the mapped t. `cluster` adds knots to the cut direction
// (shares of its range), each as often as it is listed; the net stays at the uniform knots'
// places, as only the parameter plane is measured. A cut within the tolerance of a knot is made
// at the knot, so the side's part of the trimmed area is taken at the pieces' common edge, which
// lies within 1e-6 of the range of t. Each side's pieces hold exactly that part (in units of the
// domain's area), every piece passes the record check, one with a loop holds some of the face (a
// loop's side along the cut makes no piece of nothing beyond it), every loop lies in its piece's
// domain and its ends on the cut lie on the edge there, and the face is unchanged. The loops are
// polylines of `spans` sides each (PolygonLoop).
void CheckCutAreas(const std::vector<double>& outer, const std::vector<std::vector<double>>& holes,
                   const PatchOptions& o, double t, int uCut, bool clockwise,
                   const std::vector<double>& cluster = {}, int spans = 1) {
  PatchOptions built = o;
  (uCut ? built.nu : built.nv) += int(cluster.size());
  Bspline* s = BuildFunctionPatch([](double x, double y) { return 0.5 * x + 0.25 * y + 1.0; }, built);
  ASSERT_NE(s, nullptr);
  const double du = o.umax - o.umin, dv = o.vmax - o.vmin;
  const double lo = uCut ? o.umin : o.vmin, range = uCut ? du : dv;
  if (!cluster.empty()) {
    const int p = uCut ? o.degreeU : o.degreeV;
    std::vector<double> knots = ClampedKnots(p, uCut ? o.nu : o.nv, lo, lo + range);
    for (double k : cluster) knots.push_back(lo + k * range);
    std::sort(knots.begin(), knots.end());
    double* to = uCut ? s->knotsU : s->knotsV;
    std::copy(knots.begin(), knots.end(), to);
    ASSERT_TRUE(BsplineSound(s));
  }
  auto map = [&](std::vector<double> p) {
    for (size_t i = 0; i < p.size(); i += 2) p[i] = o.umin + p[i] * du, p[i + 1] = o.vmin + p[i + 1] * dv;
    return clockwise ? Reversed(p) : p;
  };
  PolygonLoop(s, map(outer), 0, spans);
  for (const auto& h : holes) PolygonLoop(s, map(Reversed(h)), 1, spans);
  const std::vector<double> before = Snapshot(s);
  const int axis = uCut ? 0 : 1;
  Sides sd;
  ASSERT_EQ(SnipSurfaceBspline(s, lo + t * range, uCut, &sd.low, &sd.high), 1);
  ASSERT_FALSE(sd.Pieces(sd.low).empty());
  const Bspline* first = sd.Pieces(sd.low)[0];
  const double edge = uCut ? first->umax : first->vmax;
  EXPECT_LE(std::fabs(edge - (lo + t * range)), 1e-6 * range);
  const double cut = (edge - lo) / range;
  // The loops' corners across the cut (shares of the range). One within the tolerance of the cut
  // but not on it counts as on it: the area is then right to that shift of the loop.
  std::vector<double> corners;
  for (size_t i = axis; i < outer.size(); i += 2) corners.push_back(outer[i]);
  for (const auto& h : holes)
    for (size_t i = axis; i < h.size(); i += 2) corners.push_back(h[i]);
  double areaTol = 1e-9;
  for (double c : corners)
    if (c != cut && std::fabs(c - cut) <= 1e-6) areaTol = 1e-6;
  auto isCorner = [&](double across) {
    for (double c : corners)
      if (across == lo + c * range) return true;  // as the loop was mapped
    return false;
  };
  double total = 0.0;
  for (int side = 0; side < 2; ++side) {
    double expected = PolygonArea(ClipToSide(outer, axis, cut, side == 0));
    for (const auto& h : holes) expected -= PolygonArea(ClipToSide(h, axis, cut, side == 0));
    double area = 0.0;
    for (Bspline* p : sd.Pieces(side ? sd.high : sd.low)) {
      EXPECT_TRUE(BsplineSound(p));
      EXPECT_EQ(uCut ? (side ? p->umin : p->umax) : (side ? p->vmin : p->vmax), edge);
      // A piece with a loop holds some of the face.
      if (p->trims) {
        EXPECT_GT(TrimmedArea(p, o.umin, o.vmin) / (du * dv), 1e-9) << "side " << side;
      }
      area += TrimmedArea(p, o.umin, o.vmin);
      // Corners of straight loops lie inside the domain, and those the cut made within its
      // tolerance lie on its edge, to the round-off of the coordinates' magnitude.
      const double su = 8e-16 * std::max({std::fabs(p->umin), std::fabs(p->umax), du});
      const double sv = 8e-16 * std::max({std::fabs(p->vmin), std::fabs(p->vmax), dv});
      for (const TrimList* l = p->trims; l; l = l->next)
        for (const Bspline* c : LoopItems(l))
          for (int i = 0; i < NumCtrlU(c); ++i) {
            const double cu = c->X[0][i], cv = c->Y[0][i];
            EXPECT_TRUE(cu >= p->umin - su && cu <= p->umax + su && cv >= p->vmin - sv && cv <= p->vmax + sv)
                << "side " << side << " corner " << cu << " " << cv;
            const double across = uCut ? cu : cv;
            if (std::fabs(across - edge) <= 1e-6 * range && !isCorner(across)) {
              EXPECT_LE(std::fabs(across - edge), uCut ? su : sv) << "side " << side;
            }
          }
    }
    EXPECT_NEAR(area / (du * dv), expected, areaTol) << "side " << side;
    total += area / (du * dv);
  }
  double face = PolygonArea(outer);
  for (const auto& h : holes) face -= PolygonArea(h);
  EXPECT_NEAR(total, face, areaTol);
  EXPECT_EQ(Snapshot(s), before);
  FreeBspline(s);
}

// CheckCutAreas at sizes 1e-6, 1 and 1e6, at the origin and 1e4 sizes away, each loop either
// way round; `label` names the caller's case in a failure.
void CheckCutAreasEverywhere(const std::vector<double>& outer, const std::vector<std::vector<double>>& holes,
                             double t, int uCut, int label) {
  for (double size : {1e-6, 1.0, 1e6})
    for (double far : {0.0, 1e4})
      for (bool clockwise : {false, true}) {
        SCOPED_TRACE(::testing::Message() << "case " << label << " size " << size << " far " << far << " clockwise "
                                          << clockwise);
        CheckCutAreas(outer, holes, PlacedSquare(size, far), t, uCut, clockwise);
      }
}

// A face's outer loop and holes, corners listed as u, v pairs.
struct LoopCase {
  std::vector<double> outer;
  std::vector<std::vector<double>> holes;
};
const std::vector<double> kSquare = {0, 0, 1, 0, 1, 1, 0, 1};
// Three holes a cut at u or v = 0.3 or 0.6 meets one, two or none of.
const std::vector<std::vector<double>> kThreeHoles = {{0.1, 0.1, 0.3, 0.1, 0.3, 0.3, 0.1, 0.3},
                                                      {0.5, 0.5, 0.8, 0.5, 0.7, 0.8},
                                                      {0.4, 0.1, 0.9, 0.1, 0.9, 0.3, 0.4, 0.3}};

TEST_F(Snip, TrimmedFacesOnNarrowOrFarParameterDomainsAreCutAsOnTheUnitSquare) {
  // Three holes of which a cut meets one, two or none, and a square hole cut along its sides,
  // loops given either way round, on domains a millionth wide, flat in one direction, far from
  // the origin and rational: the loops' nearness to the line and to the domain's sides is a
  // share of the domain's ranges.
  const LoopCase cases[] = {
      {kSquare, kThreeHoles},
      {kSquare, {{0.3, 0.3, 0.6, 0.3, 0.6, 0.6, 0.3, 0.6}}},
  };
  struct Domain {
    double u0, u1, v0, v1;
    bool rational;
  };
  const Domain domains[] = {{0, 1e-6, 0, 1e-6, false},
                            {0, 1, 0, 1e-3, false},
                            {-3, 5, 1e-6, 2e-6, false},
                            {1e6, 1e6 + 1, -2, 3, true}};
  for (const LoopCase& c : cases)
    for (const Domain& d : domains)
      for (double t : {0.2, 0.3, 0.6})
        for (int uCut : {1, 0})
          for (bool clockwise : {false, true}) {
            SCOPED_TRACE(::testing::Message() << "case " << (&c - cases) << " domain " << (&d - domains) << " t " << t
                                              << " u " << uCut << " clockwise " << clockwise);
            PatchOptions o;
            o.umin = d.u0, o.umax = d.u1, o.vmin = d.v0, o.vmax = d.v1, o.rational = d.rational;
            CheckCutAreas(c.outer, c.holes, o, t, uCut, clockwise);
          }
}

TEST_F(Snip, ACutThroughWhereAHoleTouchesTheOuterLoopIsACut) {
  // A triangular and a pentagonal hole with one corner on the outer loop's bottom side, and a
  // triangle with its corner on the left side, cut through that corner: two crossings at one
  // place on the line, one of each loop, paired the way the regions run. Then more loops meeting
  // on the line: two holes touching at a corner (an hourglass), holes touching the outer loop at
  // both ends of the line, and a hole touching the outer loop and another hole. At sizes 1e-6, 1
  // and 1e6 and 1e4 sizes from the origin.
  struct Case {
    std::vector<std::vector<double>> holes;
    double t;
    int uCut;
  };
  const Case cases[] = {
      {{{0.5, 0.0, 0.7, 0.3, 0.3, 0.3}}, 0.5, 1},
      {{{0.3, 0.3, 0.5, 0.0, 0.7, 0.3, 0.7, 0.6, 0.3, 0.6}}, 0.5, 1},
      {{{0.0, 0.4, 0.3, 0.2, 0.3, 0.6}}, 0.4, 0},
      {{{0.3, 0.2, 0.7, 0.2, 0.5, 0.5}, {0.5, 0.5, 0.7, 0.8, 0.3, 0.8}}, 0.5, 1},
      {{{0.5, 0.0, 0.6, 0.2, 0.4, 0.2}, {0.5, 1.0, 0.4, 0.8, 0.6, 0.8}}, 0.5, 1},
      {{{0.5, 0.0, 0.6, 0.2, 0.4, 0.2}, {0.5, 0.2, 0.6, 0.4, 0.4, 0.4}}, 0.5, 1},
      {{{0.0, 0.5, 0.2, 0.4, 0.2, 0.6}, {1.0, 0.5, 0.8, 0.6, 0.8, 0.4}}, 0.5, 0}};
  const std::vector<double> square = {0, 0, 1, 0, 1, 1, 0, 1};
  for (const Case& c : cases)
    for (double size : {1e-6, 1.0, 1e6})
      for (double far : {0.0, 1e4})
        for (bool clockwise : {false, true}) {
          SCOPED_TRACE(::testing::Message() << "case " << (&c - cases) << " size " << size << " far " << far
                                            << " clockwise " << clockwise);
          PatchOptions o;
          o.x0 = far * size, o.x1 = (far + 1) * size, o.y0 = -far * size, o.y1 = (1 - far) * size;
          CheckCutAreas(square, c.holes, o, c.t, c.uCut, clockwise);
        }
}

TEST_F(Snip, ACutJustBesideCornersIsACutBesideThem) {
  // Cuts a few ten-thousandths of the range beside loop corners, well past the parameter
  // tolerance: through a diamond hole beside its two corners, beside three corners of a zigzag
  // outer loop at once, and across a square hole's side just beside a corner halfway along it.
  // Each side's pieces hold exactly the side's part of the trimmed area, on the unit square, a
  // domain a millionth wide and a far rational one, loops given either way round.
  struct Case {
    std::vector<double> outer;
    std::vector<std::vector<double>> holes;
    double t;
    int uCut;
  };
  const std::vector<double> square = {0, 0, 1, 0, 1, 1, 0, 1};
  const std::vector<double> diamond = {0.2, 0.5, 0.5, 0.8, 0.8, 0.5, 0.5, 0.2};
  const std::vector<double> zigzag = {0, 0, 1, 0, 1, 1, 0, 1, 0.5, 0.8, 0.7, 0.6, 0.5, 0.4, 0.3, 0.3, 0.5, 0.2};
  const Case cases[] = {{square, {diamond}, 0.5 - 2e-4, 1},
                        {square, {diamond}, 0.5 + 5e-4, 0},
                        {zigzag, {}, 0.5 - 5e-4, 1},
                        {square, {{0.5, 0.2, 0.8, 0.2, 0.8, 0.8, 0.5, 0.8, 0.5, 0.5}}, 0.5 - 5e-4, 0}};
  struct Domain {
    double u0, u1, v0, v1;
    bool rational;
  };
  const Domain domains[] = {{0, 1, 0, 1, false}, {0, 1e-6, 0, 1e-6, false}, {1e6, 1e6 + 1, -2, 3, true}};
  for (const Case& c : cases)
    for (const Domain& d : domains)
      for (bool clockwise : {false, true}) {
        SCOPED_TRACE(::testing::Message() << "case " << (&c - cases) << " domain " << (&d - domains) << " clockwise "
                                          << clockwise);
        PatchOptions o;
        o.umin = d.u0, o.umax = d.u1, o.vmin = d.v0, o.vmax = d.v1, o.rational = d.rational;
        CheckCutAreas(c.outer, c.holes, o, c.t, c.uCut, clockwise);
      }
}

TEST_F(Snip, ACutWithinTheToleranceOfSeveralCornersIsMade) {
  // The zigzag outer loop cut half the parameter tolerance beside its three corners on u = 0.5,
  // on either side of them: the corners count as on the line, and the cut is made as through
  // them. Each side's pieces hold the side's part of the trimmed area to within the shift of the
  // line (5e-7 of the range times the loop's extent), at every size of domain.
  const std::vector<double> zigzag = {0, 0, 1, 0, 1, 1, 0, 1, 0.5, 0.8, 0.7, 0.6, 0.5, 0.4, 0.3, 0.3, 0.5, 0.2};
  for (double shift : {-5e-7, 5e-7})
    for (double size : {1e-6, 1.0, 1e6}) {
      SCOPED_TRACE(::testing::Message() << "shift " << shift << " size " << size);
      PatchOptions o;
      o.umax = o.vmax = size;
      Bspline* s = TiltedPlanePatch(o);
      ASSERT_NE(s, nullptr);
      std::vector<double> outer = zigzag;
      for (double& x : outer) x *= size;
      PolygonLoop(s, outer, 0);
      Sides sd;
      ASSERT_EQ(SnipSurfaceBspline(s, (0.5 + shift) * size, 1, &sd.low, &sd.high), 1);
      for (int side = 0; side < 2; ++side) {
        double area = 0.0;
        for (Bspline* p : sd.Pieces(side ? sd.high : sd.low)) {
          EXPECT_TRUE(BsplineSound(p));
          area += TrimmedArea(p);
        }
        EXPECT_NEAR(area / (size * size), PolygonArea(ClipToSide(zigzag, 0, 0.5 + shift, side == 0)), 1e-6)
            << "side " << side;
      }
      FreeBspline(s);
    }
}

TEST_F(Snip, ACutBesideClusteredKnotsIsMadeAtTheKnotAndThePiecesTileTheFace) {
  // Knots of multiplicity 1 to 3 (the degree) a round-off to nine tenths of the tolerance on
  // either side of the cut, and a cluster of distinct knots around it: the surface is split at
  // the knot and the loops are cut there too. Holes the cut crosses and cuts along holes' sides,
  // on the unit square, a domain a millionth wide and a far rational one, loops either way round.
  const LoopCase cases[] = {
      {kSquare, kThreeHoles},
      {{0.2, 0, 1, 0, 1, 0.8, 0.5, 1, 0, 1, 0, 0.2}, {{0.3, 0.3, 0.6, 0.3, 0.6, 0.6, 0.3, 0.6}}},
  };
  struct Domain {
    double u0, u1, v0, v1;
    bool rational;
  };
  const Domain domains[] = {{0, 1, 0, 1, false}, {0, 1e-6, 0, 1e-6, false}, {1e6, 1e6 + 1, -2, 3, true}};
  std::vector<std::vector<double>> clusters;
  for (double d : {1e-12, -1e-12, 3e-7, -9e-7, 9e-7})
    for (int mult = 1; mult <= 3; ++mult) clusters.push_back(std::vector<double>(mult, d));
  clusters.push_back({-4e-7, 1e-12, 5e-7});
  for (const LoopCase& c : cases)
    for (const Domain& d : domains)
      for (double t : {0.3, 0.6})
        for (const auto& offsets : clusters)
          for (int uCut : {1, 0}) {
            const bool clockwise = (&offsets - clusters.data() + uCut) % 2 == 1;
            SCOPED_TRACE(::testing::Message() << "case " << (&c - cases) << " domain " << (&d - domains) << " t " << t
                                              << " knot " << offsets.front() << " x " << offsets.size() << " u "
                                              << uCut << " clockwise " << clockwise);
            std::vector<double> cluster = offsets;
            for (double& k : cluster) k += t;
            PatchOptions o;
            o.umin = d.u0, o.umax = d.u1, o.vmin = d.v0, o.vmax = d.v1, o.rational = d.rational;
            CheckCutAreas(c.outer, c.holes, o, t, uCut, clockwise, cluster);
          }
}

TEST_F(Snip, ACutWithinTheToleranceOfALoopsSamplePutsTheLoopsEndsOnTheEdge) {
  // Cut nine tenths of the tolerance before u or v = 0.6, where the square outer loop's sides
  // are sampled and the crossings taken: the loops' ends there lie on the pieces' common edge,
  // so the low piece's loop stays in its domain and the pieces tile the face.
  const std::vector<double> square = {0, 0, 1, 0, 1, 1, 0, 1};
  const std::vector<double> hole = {0.4, 0.1, 0.9, 0.1, 0.9, 0.3, 0.4, 0.3};
  for (double width : {1.0, 1e-6})
    for (int uCut : {1, 0}) {
      SCOPED_TRACE(::testing::Message() << "width " << width << " u " << uCut);
      PatchOptions o;
      o.umax = o.vmax = width;
      CheckCutAreas(square, {hole}, o, 0.6 - 9e-7, uCut, false);
    }
}

TEST_F(Snip, TessellatedLoopsAreCutThroughTheirVerticesAndWhereTheyStart) {
  // A 40-gon outer loop and a 24-gon hole, each one closed polyline or polylines of 7 sides, as
  // a coarse tessellation hands them over. Cuts through the vertex where the polylines start and
  // end (passing through it, or touching the loop there), touching the loop at a vertex inside a
  // polyline, through vertices a round-off either side of them, and between vertices. Each
  // side's pieces hold exactly the side's part of the trimmed area, at every size and place.
  auto gon = [](int n, double r) {
    std::vector<double> p;
    for (int k = 0; k < n; ++k) p.insert(p.end(), {0.5 + r * std::cos(2 * M_PI * k / n), 0.5 + r * std::sin(2 * M_PI * k / n)});
    return p;
  };
  const std::vector<double> outer = gon(40, 0.4);
  const std::vector<std::vector<double>> hole = {gon(24, 0.2)};
  struct Cut {
    int vertex, uCut;  // the cut through this vertex of the outer loop
    double shift;
  };
  const Cut cuts[] = {{0, 0, 0.0},  {0, 1, 0.0},  {20, 1, 0.0},    {10, 0, 0.0}, {30, 0, 0.0},
                      {3, 1, 0.0},  {3, 1, 1e-16}, {17, 0, -1e-16}, {5, 1, 0.01}};
  struct Domain {
    double u0, u1, v0, v1;
    bool rational;
  };
  const Domain domains[] = {{0, 1, 0, 1, false}, {0, 1e-6, 0, 1e-6, false}, {1e-2, 1e-2 + 1e-6, -1e-2, -1e-2 + 1e-6, false},
                            {1e6, 1e6 + 1, -2, 3, true}};
  for (const Cut& c : cuts)
    for (int spans : {0, 7})
      for (const Domain& d : domains) {
        const bool clockwise = (&c - cuts + spans) % 2 == 1;
        SCOPED_TRACE(::testing::Message() << "vertex " << c.vertex << " u " << c.uCut << " shift " << c.shift << " spans "
                                          << spans << " domain " << (&d - domains) << " clockwise " << clockwise);
        PatchOptions o;
        o.umin = d.u0, o.umax = d.u1, o.vmin = d.v0, o.vmax = d.v1, o.rational = d.rational;
        const double t = outer[2 * c.vertex + (c.uCut ? 0 : 1)] + c.shift;
        // Run the other way round, the loop still starts at vertex 0.
        std::vector<double> loop(outer.begin() + (clockwise ? 2 : 0), outer.end());
        if (clockwise) loop.insert(loop.end(), outer.begin(), outer.begin() + 2);
        CheckCutAreas(loop, std::fabs(t - 0.5) < 0.15 ? hole : std::vector<std::vector<double>>{}, o, t, c.uCut,
                      clockwise, {}, spans);
      }
}

TEST_F(Snip, SplittingAFaceWhoseLoopsRunAlongKnotLinesTilesItsTrimmedArea) {
  // Loops with vertices on the knots of a 16 x 13 plane patch and sides along its knot lines,
  // where the split cuts: a hexagon, a rectangle and an L, one curve per side or one closed
  // polyline. A piece beside a side on a cut holds nothing of the face, and one wholly inside the
  // loop holds all of it; none holds nothing: the pieces' areas on the plane (a trimmed piece its trimmed part, an
  // untrimmed one all of it) sum to the loop's, on the unit square, a domain a millionth wide and
  // a far one. The patch is the unit square with x linear in u and y in v (Greville); untrimmed
  // pieces are measured by their corners, as splitting them further gives their u the speed of
  // their v.
  // Vertices as indices of the interior knots in u and v.
  const std::vector<std::vector<int>> loops = {{9, 5, 8, 7, 4, 9, 3, 5, 5, 3, 8, 3},
                                               {4, 3, 9, 3, 9, 7, 4, 7},
                                               {2, 2, 10, 2, 10, 5, 6, 5, 6, 8, 2, 8}};
  struct Domain {
    double u0, u1, v0, v1;
  };
  const Domain domains[] = {{0, 1, 0, 1}, {0, 1e-6, 0, 1e-6}, {1e6, 1e6 + 1, -2, 3}};
  for (const auto& at : loops)
    for (const Domain& d : domains)
      for (int spans : {1, 0}) {
        SCOPED_TRACE(::testing::Message() << "loop " << (&at - loops.data()) << " domain " << (&d - domains)
                                          << " spans " << spans);
        PatchOptions o;
        o.nu = 16, o.nv = 13;
        o.umin = d.u0, o.umax = d.u1, o.vmin = d.v0, o.vmax = d.v1;
        Bspline* s = TiltedPlanePatch(o);
        ASSERT_NE(s, nullptr);
        std::vector<double> uv;
        for (size_t i = 0; i < at.size(); i += 2) uv.insert(uv.end(), {s->knotsU[3 + at[i]], s->knotsV[3 + at[i + 1]]});
        PolygonLoop(s, uv, 0, spans);
        const double scale = (d.u1 - d.u0) * (d.v1 - d.v0);  // parameter area of a unit of plane
        const double area = std::fabs(LoopArea(s->trims, d.u0, d.v0)) / scale;
        BsplineList* list = nullptr;
        ASSERT_EQ(SplitSurfaceBspline(s, 5, 5, &list, 0), 0);
        double tiled = 0.0;
        for (Bspline* p : Items(list)) {
          EXPECT_TRUE(BsplineSound(p));
          EXPECT_LE(NumCtrlU(p), 5);
          EXPECT_LE(NumCtrlV(p), 5);
          double a[3], b[3];
          RefEvalSurface(p, p->umin, p->vmin, a);
          RefEvalSurface(p, p->umax, p->vmax, b);
          const double held = p->trims ? TrimmedArea(p, d.u0, d.v0) / scale : (b[0] - a[0]) * (b[1] - a[1]);
          EXPECT_GT(held, 1e-9);  // no piece of nothing
          tiled += held;
          EXPECT_EQ(RemoveBsplFromBsplList(p, &list), p);
          FreeBspline(p);
        }
        EXPECT_NEAR(tiled, area, 1e-9);
        FreeBspline(s);
      }
}

TEST_F(Snip, APiecesLoopsKeepTheirFlagsWhenItIsSnippedAgainBesideThem) {
  // A square face with a square hole, cut beside both loops, and its piece holding them cut
  // beside them again: the piece lists the hole first, and each cut hands both loops over whole.
  // The outer loop stays the outer loop and the hole a hole, so the piece's trimmed area is the
  // face's, at every size and 1e4 sizes from the origin.
  for (double size : {1e-6, 1.0, 1e6})
    for (double far : {0.0, 1e4})
      for (int uCut : {1, 0}) {
        SCOPED_TRACE(::testing::Message() << "size " << size << " far " << far << " u " << uCut);
        PatchOptions o = PlacedSquare(size, far);
        Bspline* s = TiltedPlanePatch(o);
        ASSERT_NE(s, nullptr);
        auto map = [&](std::vector<double> p) { return IntoSquare(std::move(p), o, size); };
        PolygonLoop(s, map({0.2, 0.2, 0.8, 0.2, 0.8, 0.8, 0.2, 0.8}), 0);
        PolygonLoop(s, map({0.4, 0.4, 0.4, 0.6, 0.6, 0.6, 0.6, 0.4}), 1);
        const double face = TrimmedArea(s, o.umin, o.vmin);
        Sides first;
        ASSERT_EQ(SnipSurfaceBspline(s, o.umin + 0.9 * size, uCut, &first.low, &first.high), 1);
        ASSERT_EQ(first.Pieces(first.low).size(), 1u);
        Bspline* piece = first.Pieces(first.low)[0];
        EXPECT_NEAR(TrimmedArea(piece, o.umin, o.vmin) / face, 1.0, 1e-12);
        Sides again;
        ASSERT_EQ(SnipSurfaceBspline(piece, o.umin + 0.1 * size, uCut, &again.low, &again.high), 1);
        ASSERT_EQ(again.Pieces(again.high).size(), 1u);
        const Bspline* held = again.Pieces(again.high)[0];
        int outer = 0;
        for (const TrimList* l = held->trims; l; l = l->next) outer += !l->hole;
        EXPECT_EQ(outer, 1);
        EXPECT_NEAR(TrimmedArea(held, o.umin, o.vmin) / face, 1.0, 1e-12);
        FreeBspline(s);
      }
}

TEST_F(Snip, ACutAcrossAHoleLyingAlongTheOuterLoopOnBothSidesIsACut) {
  // A strip with a hole that runs along its outer loop on both long sides, as the piece of a
  // snip along a hole's side has it, and a triangle with its side along the strip's top and its
  // corner on the bottom: every crossing of the cut shares its place with another. Cut across
  // the hole (and through the triangle's corner), each side's pieces hold exactly the side's
  // part of the trimmed area, at every size and place. A triangle filling the face's corner
  // along two of its sides is cut across in u and v alike. Then the same from a snip's own piece.
  struct Case {
    std::vector<double> hole;
    double t;
    int uCut;
  };
  const std::vector<double> strip = {0, 0, 1, 0, 1, 0.5, 0, 0.5};
  const Case cases[] = {{{0.6, 0, 0.9, 0, 0.9, 0.5, 0.6, 0.5}, 2.0 / 3, 1},
                        {{0.5, 0.0, 0.7, 0.5, 0.3, 0.5}, 0.5, 1},
                        {{0.5, 0.0, 0.7, 0.5, 0.3, 0.5}, 0.4, 1},
                        {{0.0, 0.0, 0.0, 0.3, 0.3, 0.0}, 0.1, 1},
                        {{0.0, 0.0, 0.0, 0.3, 0.3, 0.0}, 0.1, 0}};
  for (const Case& c : cases)
    CheckCutAreasEverywhere(strip, {c.hole}, c.t, c.uCut, int(&c - cases));
  for (double size : {1e-6, 1.0, 1e6})
    for (double far : {0.0, 1e4}) {
      SCOPED_TRACE(::testing::Message() << "size " << size << " far " << far);
      PatchOptions o = PlacedSquare(size, far);
      Bspline* s = TiltedPlanePatch(o);
      ASSERT_NE(s, nullptr);
      auto map = [&](std::vector<double> p) { return IntoSquare(std::move(p), o, size); };
      PolygonLoop(s, map({0, 0, 1, 0, 1, 1, 0, 1}), 0);
      PolygonLoop(s, map({0.6, 0.5, 0.9, 0.5, 0.9, 0, 0.6, 0}), 1);
      Sides first;
      ASSERT_EQ(SnipSurfaceBspline(s, o.vmin + 0.5 * size, 0, &first.low, &first.high), 1);
      ASSERT_EQ(first.Pieces(first.low).size(), 1u);
      Bspline* strip = first.Pieces(first.low)[0];
      Sides again;
      ASSERT_EQ(SnipSurfaceBspline(strip, o.umin + 2.0 / 3 * size, 1, &again.low, &again.high), 1);
      double area[2] = {0.0, 0.0};
      for (int side = 0; side < 2; ++side)
        for (Bspline* p : again.Pieces(side ? again.high : again.low)) area[side] += TrimmedArea(p, o.umin, o.vmin);
      EXPECT_NEAR(area[0] / (size * size), 2.0 / 3 * 0.5 - (2.0 / 3 - 0.6) * 0.5, 1e-9);
      EXPECT_NEAR(area[1] / (size * size), 0.1 * 0.5, 1e-9);
      FreeBspline(s);
    }
}

// The area a loop of curves of any degree encloses in the parameter plane (counter-clockwise
// positive): the integral of (u - u0) dv round it by 4-point Gauss-Legendre on every knot span,
// exact for polynomial curves of degree 4 and below; a rational curve's spans are cut in 64
// parts, which takes a circle's arcs to round-off.
double CurvedLoopArea(const TrimList* loop, double u0) {
  static const double x[4] = {-0.8611363115940526, -0.3399810435848563, 0.3399810435848563, 0.8611363115940526};
  static const double w[4] = {0.3478548451374538, 0.6521451548625461, 0.6521451548625461, 0.3478548451374538};
  double sum = 0.0;
  for (const Bspline* c : LoopItems(loop)) {
    const int parts = c->W ? 64 : 1;
    for (int k = c->degreeU; k <= c->degreeU + c->interiorU; ++k)
      for (int j = 0; j < parts; ++j) {
        const double span = c->knotsU[k + 1] - c->knotsU[k];
        const double a = c->knotsU[k] + span * j / parts, b = c->knotsU[k] + span * (j + 1) / parts;
        for (int g = 0; g < 4 && b > a; ++g) {
          double uv[2], d[2];
          Eval2DPointOnCurve2Array(nullptr, c, 0.5 * (a + b) + 0.5 * (b - a) * x[g], 0, uv);
          Eval2DPointOnCurve2Array(nullptr, c, 0.5 * (a + b) + 0.5 * (b - a) * x[g], 1, d);
          sum += 0.5 * (b - a) * w[g] * (uv[0] - u0) * d[1];
        }
      }
  }
  return sum;
}

// The trimmed area of a face or piece whose loops may be curved: its outer loops less its holes.
double CurvedTrimmedArea(const Bspline* piece, double u0) {
  double area = 0.0;
  for (const TrimList* l = piece->trims; l; l = l->next) area += (l->hole ? -1 : 1) * std::fabs(CurvedLoopArea(l, u0));
  return area;
}

// Each side's pieces hold the side's expected part of the trimmed area (in units of a square of
// that size), to tol.
void ExpectSideAreas(const Sides& sd, double u0, double size, const double expected[2], double tol) {
  for (int side = 0; side < 2; ++side) {
    double area = 0.0;
    for (const Bspline* p : sd.Pieces(side ? sd.high : sd.low)) area += CurvedTrimmedArea(p, u0) / (size * size);
    EXPECT_NEAR(area, expected[side], tol) << "side " << side;
  }
}

TEST_F(Snip, ACubicSideBulgingPastTheLineBetweenTwoSamplesIsCutWhereItCrossesIt) {
  // A triangular hole whose cubic sides bulge outwards, cut just above its top corner: the side
  // ending there rises past the line and comes back within one sample interval, so one crossing
  // is bracketed by samples the curve overshoots (on the interval's first side when the face is
  // given clockwise). Both crossings lie on the line, every piece's loop is closed, and the
  // pieces hold the face's trimmed area, at every size and 1e4 sizes from the origin.
  for (double size : {1e-6, 1.0, 1e6})
    for (double far : {0.0, 1e4})
      for (bool clockwise : {false, true}) {
        SCOPED_TRACE(::testing::Message() << "size " << size << " far " << far << " clockwise " << clockwise);
        PatchOptions o = PlacedSquare(size, far);
        Bspline* s = TiltedPlanePatch(o);
        ASSERT_NE(s, nullptr);
        auto at = [&](double x) { return o.umin + x * size; };
        std::vector<double> square = {at(0), at(0), at(1), at(0), at(1), at(1), at(0), at(1)};
        PolygonLoop(s, clockwise ? Reversed(square) : square, 0);
        // Corners 0.15 from (0.5, 0.5) at 0.3, 2.39 and 4.49 radians, run against the outer loop;
        // each side's inner control points pushed out by a tenth of its length.
        std::vector<Bspline*> sides;
        const double turn = clockwise ? 2 * M_PI / 3 : 4 * M_PI / 3;
        double corner[3][2];
        for (int k = 0; k < 3; ++k) corner[k][0] = 0.5 + 0.15 * std::cos(0.3 + k * turn), corner[k][1] = 0.5 + 0.15 * std::sin(0.3 + k * turn);
        for (int k = 0; k < 3; ++k) {
          const double* a = corner[k];
          const double* b = corner[(k + 1) % 3];
          const double sign = clockwise ? 1.0 : -1.0;  // the outward normal
          const double nu = sign * (b[1] - a[1]), nv = sign * (a[0] - b[0]);
          std::vector<double> uv;
          for (int j = 0; j < 4; ++j) {
            const double f = j / 3.0, push = j == 1 || j == 2 ? 0.1 : 0.0;
            uv.insert(uv.end(), {at(a[0] + f * (b[0] - a[0]) + push * nu), at(a[1] + f * (b[1] - a[1]) + push * nv)});
          }
          sides.push_back(BuildCurveOnSurface(s, 3, uv));
        }
        AddLoop(s, sides, 1);
        const double face = CurvedTrimmedArea(s, o.umin);
        const double t = at(0.60217386608210718);
        Sides sd;
        ASSERT_EQ(SnipSurfaceBspline(s, t, 0, &sd.low, &sd.high), 1);
        double area = 0.0;
        for (const SnipSide* side : {sd.low, sd.high})
          for (Bspline* p : sd.Pieces(side)) {
            EXPECT_TRUE(BsplineSound(p));
            for (const TrimList* l = p->trims; l; l = l->next) {
              area += (l->hole ? -1 : 1) * std::fabs(CurvedLoopArea(l, o.umin));
              const auto cs = LoopItems(l);
              for (size_t i = 0; i < cs.size(); ++i) {
                double e[2], f[2];
                Eval2DPointOnCurve2Array(nullptr, cs[i], CEnd(cs[i]), 0, e);
                Eval2DPointOnCurve2Array(nullptr, cs[(i + 1) % cs.size()], CStart(cs[(i + 1) % cs.size()]), 0, f);
                EXPECT_LE(std::hypot(e[0] - f[0], e[1] - f[1]), 1e-9 * size);
                // An end lies on the line, unless it is a corner of the hole, which lie farther off.
                EXPECT_TRUE(std::fabs(e[1] - t) <= 1e-9 * size || std::fabs(e[1] - t) > 2e-4 * size) << e[1] - t;
              }
            }
          }
        EXPECT_NEAR(area / face, 1.0, 1e-7);
        FreeBspline(s);
      }
}

// A closed loop of cubic sides through the corners (u, v pairs), each side's inner control points
// pushed to its right by `bulge` of its length (towards the middle of a clockwise loop).
TrimList* BulgedLoop(Bspline* s, const std::vector<double>& uv, double bulge, int hole) {
  std::vector<Bspline*> sides;
  const int n = int(uv.size()) / 2;
  for (int k = 0; k < n; ++k) {
    const double* a = &uv[2 * k];
    const double* b = &uv[2 * ((k + 1) % n)];
    std::vector<double> pts;
    for (int j = 0; j < 4; ++j) {
      const double f = j / 3.0, push = j == 1 || j == 2 ? bulge : 0.0;
      pts.insert(pts.end(), {a[0] + f * (b[0] - a[0]) + push * (b[1] - a[1]), a[1] + f * (b[1] - a[1]) - push * (b[0] - a[0])});
    }
    sides.push_back(BuildCurveOnSurface(s, 3, pts));
  }
  return AddLoop(s, sides, hole);
}

TEST_F(Snip, CurvedLoopsAreCutWhereTheyMeetTheLineAndThePiecesTileTheFace) {
  // A hexagon of cubic sides bulging inwards with a triangular hole of such sides, cut in u and
  // in v across both: the curves are cut where they meet the line to round-off, so the pieces'
  // areas (exact integrals of the cubic pieces) sum to the face's to round-off, at every size
  // and 1e4 sizes from the origin, loops either way round.
  auto gon = [](int n, double r, double phase) {
    std::vector<double> p;
    for (int k = 0; k < n; ++k) p.insert(p.end(), {0.5 + r * std::cos(phase - 2 * M_PI * k / n), 0.5 + r * std::sin(phase - 2 * M_PI * k / n)});
    return p;  // clockwise
  };
  for (double size : {1e-6, 1.0, 1e6})
    for (double far : {0.0, 1e4})
      for (bool clockwise : {false, true})
        for (double t : {0.3, 0.47, 0.62})
          for (int uCut : {1, 0}) {
            SCOPED_TRACE(::testing::Message() << "size " << size << " far " << far << " clockwise " << clockwise << " t "
                                              << t << " u " << uCut);
            PatchOptions o = PlacedSquare(size, far);
            Bspline* s = TiltedPlanePatch(o);
            ASSERT_NE(s, nullptr);
            auto map = [&](std::vector<double> p) { return IntoSquare(std::move(p), o, size); };
            // The hole runs against the outer loop; both loops' sides bulge towards their middles.
            const std::vector<double> outer = map(gon(6, 0.4, 0.2)), hole = map(gon(3, 0.15, 0.3));
            BulgedLoop(s, clockwise ? outer : Reversed(outer), clockwise ? 0.08 : -0.08, 0);
            BulgedLoop(s, clockwise ? Reversed(hole) : hole, clockwise ? -0.1 : 0.1, 1);
            const double face = CurvedTrimmedArea(s, o.umin);
            Sides sd;
            ASSERT_EQ(SnipSurfaceBspline(s, o.umin + t * size, uCut, &sd.low, &sd.high), 1);
            double area = 0.0;
            for (const SnipSide* side : {sd.low, sd.high})
              for (Bspline* p : sd.Pieces(side)) area += CurvedTrimmedArea(p, o.umin);
            EXPECT_NEAR(area / face, 1.0, 1e-10);
            FreeBspline(s);
          }
}

// A circle of radius r about (cx, cy) on the unit square, mapped into o's square domain of that
// size: the nine-point circle of rational quadratic arcs turned by `phase`, one curve of four
// arcs or four curves of one, counter-clockwise unless clockwise.
TrimList* RoundLoop(Bspline* s, const PatchOptions& o, double size, double cx, double cy, double r, double phase,
                    bool fourCurves, bool clockwise, int hole) {
  const double cu[9] = {1, 1, 0, -1, -1, -1, 0, 1, 1}, cv[9] = {0, 1, 1, 1, 0, -1, -1, -1, 0};
  std::vector<double> uv, w;
  for (int i = 0; i < 9; ++i) {
    const int k = clockwise ? 8 - i : i;
    const double c = std::cos(phase), sn = std::sin(phase);
    const double x = c * cu[k] - sn * cv[k], y = sn * cu[k] + c * cv[k];
    uv.insert(uv.end(), {cx + r * x, cy + r * y});
    w.push_back(k % 2 ? std::sqrt(0.5) : 1.0);
  }
  uv = IntoSquare(uv, o, size);
  if (!fourCurves)
    return AddLoop(s, {BuildCurveOnSurface(s, 2, uv, {0, 0, 0, .25, .25, .5, .5, .75, .75, 1, 1, 1}, w)}, hole);
  std::vector<Bspline*> arcs;
  for (int q = 0; q < 4; ++q)
    arcs.push_back(BuildCurveOnSurface(s, 2, std::vector<double>(uv.begin() + 4 * q, uv.begin() + 4 * q + 6),
                                       {0, 0, 0, 1, 1, 1}, std::vector<double>(w.begin() + 2 * q, w.begin() + 2 * q + 3)));
  return AddLoop(s, arcs, hole);
}

// The area of the disc of radius r about c (across the cut) on the side of the line x below it.
double DiscBelow(double c, double r, double x) {
  const double d = std::clamp((x - c) / r, -1.0, 1.0);
  return r * r * (std::acos(-d) + d * std::sqrt(1 - d * d));
}

// A circle of radius r about (0.5, 0.5) cut at t (shares of the range) in u or v, on a square
// domain of that size 1e4 sizes from the origin or at it: as a hole in the square face or as a
// disc, turned by `phase`, one curve or four (RoundLoop). The snip succeeds, each
// side's pieces hold exactly the side's part of the trimmed area (circular segments, the cut taken
// at the pieces' common edge), and every loop lies within its piece's domain.
void CheckRoundCut(bool disc, bool fourCurves, double r, double phase, double t, int uCut, double size, double far) {
  SCOPED_TRACE(::testing::Message() << "disc " << disc << " four " << fourCurves << " phase " << phase << " t " << t
                                    << " u " << uCut << " size " << size << " far " << far);
  PatchOptions o = PlacedSquare(size, far);
  Bspline* s = TiltedPlanePatch(o);
  ASSERT_NE(s, nullptr);
  if (!disc) PolygonLoop(s, IntoSquare({0, 0, 1, 0, 1, 1, 0, 1}, o, size), 0);
  RoundLoop(s, o, size, 0.5, 0.5, r, phase, fourCurves, !disc, disc ? 0 : 1);
  const double lo = uCut ? o.umin : o.vmin;
  Sides sd;
  ASSERT_EQ(SnipSurfaceBspline(s, lo + t * size, uCut, &sd.low, &sd.high), 1);
  ASSERT_FALSE(sd.Pieces(sd.low).empty());
  const double edge = uCut ? sd.Pieces(sd.low)[0]->umax : sd.Pieces(sd.low)[0]->vmax;
  const double below = DiscBelow(0.5, r, (edge - lo) / size);
  const double whole = M_PI * r * r;
  const double strip = (edge - lo) / size;  // the low side's share of the square
  const double expected[2] = {disc ? below : strip - below, disc ? whole - below : 1 - strip - (whole - below)};
  for (int side = 0; side < 2; ++side) {
    double area = 0.0;
    for (const Bspline* p : sd.Pieces(side ? sd.high : sd.low)) {
      area += CurvedTrimmedArea(p, o.umin) / (size * size);
      for (const TrimList* l = p->trims; l; l = l->next) {
        const double slack = 1e-9 * size;
        for (const Bspline* c : LoopItems(l))
          for (int k = 0; k <= 16; ++k) {
            double uv[2];
            Eval2DPointOnCurve2Array(nullptr, c, CStart(c) + (CEnd(c) - CStart(c)) * k / 16, 0, uv);
            EXPECT_TRUE(uv[0] >= p->umin - slack && uv[0] <= p->umax + slack && uv[1] >= p->vmin - slack &&
                        uv[1] <= p->vmax + slack)
                << "side " << side << " at " << (uv[0] - o.umin) / size << " " << (uv[1] - o.vmin) / size;
          }
      }
    }
    EXPECT_NEAR(area, expected[side], 1e-10) << "side " << side;
  }
  FreeBspline(s);
}

TEST_F(Snip, ARoundLoopCutNearItsExtremeLosesNoCap) {
  // Circles turned so that their extremes across the cut lie between the samples the cut takes of
  // them, cut 1e-5 and 3e-3 of the range inside an extreme: the line meets the circle twice within
  // one sample interval, and the cap beyond it is a part of the hole or disc of its own.
  for (bool disc : {false, true})
    for (double depth : {1e-5, 3e-3})
      for (double t : {0.25 + depth, 0.75 - depth})
        for (int uCut : {1, 0})
          for (double size : {1e-6, 1.0, 1e6})
            for (double far : {0.0, 1e4}) CheckRoundCut(disc, disc, 0.25, disc ? M_PI / 4 : 0.7, t, uCut, size, far);
}

TEST_F(Snip, ACutARoundOffInsideARoundLoopsExtremeOnAKnotIsMade) {
  // A circle of one curve unturned, its extremes across the cut on its double knots, as a hole and
  // as a disc, cut through an extreme and a round-off either side of it: a loop that dips past the
  // line by a round-off and comes back over less than its parameter tolerance only touches it.
  for (bool disc : {false, true})
    for (double shift : {-1e-12, 0.0, 1e-12})
      for (double extreme : {0.25, 0.75})
        for (int uCut : {1, 0})
          for (double size : {1e-6, 1.0, 1e6})
            for (double far : {0.0, 1e4}) CheckRoundCut(disc, false, 0.25, 0.0, extreme + shift, uCut, size, far);
}

TEST_F(Snip, AHoleSideLeavingAndRegainingTheLineAtItsCornersIsCut) {
  // A square face with a rectangular hole [0.2, 0.8] x [0.3, 0.7] whose bottom side is a cubic
  // v = 0.3 + 3a s(1 - s)(1 - 2s) over u = 0.2 + 0.6 s, cut along v = 0.3: from one corner on the
  // line the side rises past it, crosses it halfway and comes back up to the other corner, so the
  // loop only touches the line at one corner and passes through it at the other, both corners
  // ends of the one curve. The cubic's lobes each enclose 0.05625 a with the line: each side's
  // pieces hold exactly 0.3 - 0.05625 a and 0.46 + 0.05625 a, at every size and place, loops
  // either way round, and transposed (a u cut).
  for (double a : {0.01, 0.1})
    for (int uCut : {0, 1})
      for (bool clockwise : {false, true})
        for (double size : {1e-6, 1.0, 1e6})
          for (double far : {0.0, 1e4}) {
            SCOPED_TRACE(::testing::Message() << "a " << a << " u " << uCut << " clockwise " << clockwise << " size "
                                              << size << " far " << far);
            PatchOptions o = PlacedSquare(size, far);
            Bspline* s = TiltedPlanePatch(o);
            ASSERT_NE(s, nullptr);
            // Each loop's curves as corner lists (u, v pairs on the unit square), run either way.
            auto add = [&](std::vector<std::vector<double>> curves, int hole) {
              if (clockwise) {
                std::reverse(curves.begin(), curves.end());
                for (auto& c : curves) c = Reversed(c);
              }
              std::vector<Bspline*> made;
              for (auto& c : curves) {
                if (uCut)
                  for (size_t i = 0; i < c.size(); i += 2) std::swap(c[i], c[i + 1]);
                made.push_back(BuildCurveOnSurface(s, int(c.size()) / 2 - 1, IntoSquare(c, o, size)));
              }
              AddLoop(s, made, hole);
            };
            add({{0, 0, 1, 0}, {1, 0, 1, 1}, {1, 1, 0, 1}, {0, 1, 0, 0}}, 0);
            add({{0.2, 0.3, 0.4, 0.3 + a, 0.6, 0.3 - a, 0.8, 0.3},
                 {0.8, 0.3, 0.8, 0.7},
                 {0.8, 0.7, 0.2, 0.7},
                 {0.2, 0.7, 0.2, 0.3}},
                1);
            Sides sd;
            ASSERT_EQ(SnipSurfaceBspline(s, (uCut ? o.umin : o.vmin) + 0.3 * size, uCut, &sd.low, &sd.high), 1);
            const double expected[2] = {0.3 - 0.05625 * a, 0.46 + 0.05625 * a};
            ExpectSideAreas(sd, o.umin, size, expected, 1e-10);
            FreeBspline(s);
          }
}

TEST_F(Snip, LoopCurvesOverTinyParameterRangesKeepTheirSidesInThePieces) {
  // A square face with a rectangular hole and a circular one (rational arcs), every loop curve's
  // knots running over a billionth or a trillionth, cut through either hole: the curves' parts are
  // as long in the plane as ever, and each side's pieces hold exactly the side's part of the
  // trimmed area, at every size and place. Given across the cut and along it, swapped for a v cut.
  for (double range : {1e-9, 1e-12})
    for (double t : {0.35, 0.7})
      for (int uCut : {1, 0})
        for (double size : {1e-6, 1.0, 1e6})
          for (double far : {0.0, 1e4}) {
            SCOPED_TRACE(::testing::Message() << "range " << range << " t " << t << " u " << uCut << " size " << size
                                              << " far " << far);
            PatchOptions o = PlacedSquare(size, far);
            Bspline* s = TiltedPlanePatch(o);
            ASSERT_NE(s, nullptr);
            auto place = [&](std::vector<double> p) {
              if (!uCut)
                for (size_t i = 0; i < p.size(); i += 2) std::swap(p[i], p[i + 1]);
              return IntoSquare(p, o, size);
            };
            PolygonLoop(s, place({0, 0, 1, 0, 1, 1, 0, 1}), 0);
            PolygonLoop(s, place({0.2, 0.3, 0.2, 0.6, 0.45, 0.6, 0.45, 0.3}), 1);
            RoundLoop(s, o, size, uCut ? 0.7 : 0.5, uCut ? 0.5 : 0.7, 0.15, 0.4, false, true, 1);
            for (const TrimList* l = s->trims; l; l = l->next)
              for (Bspline* c : LoopItems(l)) {
                for (int i = 0; i < NumKnotsU(c); ++i) c->knotsU[i] *= range;
                SetDomainFromKnots(c, 0);
              }
            Sides sd;
            ASSERT_EQ(SnipSurfaceBspline(s, (uCut ? o.umin : o.vmin) + t * size, uCut, &sd.low, &sd.high), 1);
            const double below = t - 0.3 * std::clamp(t - 0.2, 0.0, 0.25) - DiscBelow(0.7, 0.15, t);
            const double face = 1 - 0.3 * 0.25 - M_PI * 0.15 * 0.15;
            const double expected[2] = {below, face - below};
            ExpectSideAreas(sd, o.umin, size, expected, 1e-9);
            FreeBspline(s);
          }
}

TEST_F(Snip, ASpikeOfNoWidthBeyondTheLineMakesNoPieceOfNothing) {
  // An outer loop whose right side runs up past its top corner and back (a spike of no width),
  // cut through the spike, along the top side at its foot, and (transposed) across the u range:
  // the part of the spike beyond the line encloses nothing, so no piece holds a loop round it.
  // Each side's pieces hold exactly the side's part of the trimmed area, at every size and place.
  const std::vector<double> spiked = {0.1, 0.1, 0.9, 0.1, 0.9, 0.95, 0.9, 0.9, 0.1, 0.9};
  std::vector<double> transposed;
  for (size_t i = 0; i < spiked.size(); i += 2) transposed.insert(transposed.end(), {spiked[i + 1], spiked[i]});
  struct Case {
    const std::vector<double>* outer;
    double t;
    int uCut;
  };
  const Case cases[] = {{&spiked, 0.92, 0}, {&spiked, 0.9, 0}, {&transposed, 0.93, 1}};
  for (const Case& c : cases)
    CheckCutAreasEverywhere(c.uCut ? Reversed(*c.outer) : *c.outer, {}, c.t, c.uCut, int(&c - cases));
}

// Everything a snip or a split may not change on a face it refuses, bit for bit (NaN included):
// its knots and net, its loops (flags, curves and their values) and its curve list.
std::vector<uint64_t> FaceBits(const Bspline* s) {
  std::vector<uint64_t> bits;
  auto add = [&](const std::vector<double>& values) {
    for (double x : values) {
      uint64_t b;
      std::memcpy(&b, &x, sizeof b);
      bits.push_back(b);
    }
  };
  add(Snapshot(s));
  for (const TrimList* l = s->trims; l; l = l->next) {
    bits.insert(bits.end(), {uint64_t(l->hole), uint64_t(l->attached)});
    for (const Bspline* c : LoopItems(l)) {
      bits.push_back(reinterpret_cast<uintptr_t>(c));
      add(Snapshot(c));
    }
  }
  for (const Bspline* c : ListItems(s)) bits.push_back(reinterpret_cast<uintptr_t>(c));
  return bits;
}

TEST_F(Snip, FailuresWhileLoopsAreHandedWholeLeakNothing) {
  // A face with two holes beside the cut, handed whole to the low piece, and one across it:
  // allocations refused from every point on leave no scope open, nothing tracked and nothing
  // leaked (a copy of a loop's curve that its piece's list could not take had no owner), a
  // failure says so through the error state, and the face keeps its loops.
  int failures = 0;
  const long runs = 1500;
  for (long skip = 0; skip < runs; skip += 3) {
    ClearKernelError();
    Bspline* s = BuildFunctionPatch([](double x, double y) { return 0.5 * x + 0.25 * y + 1.0; });
    ASSERT_NE(s, nullptr);
    PolygonLoop(s, {0, 0, 1, 0, 1, 1, 0, 1}, 0);
    PolygonLoop(s, {0.1, 0.1, 0.1, 0.3, 0.3, 0.3, 0.3, 0.1}, 1);
    PolygonLoop(s, {0.1, 0.6, 0.1, 0.8, 0.3, 0.8, 0.3, 0.6}, 1);
    PolygonLoop(s, {0.6, 0.4, 0.6, 0.6, 0.8, 0.6, 0.8, 0.4}, 1);
    const std::vector<uint64_t> before = FaceBits(s);
    int r = 0;
    {
      Sides sd;
      MallocFailAfter(skip, -1);
      r = SnipSurfaceBspline(s, 0.7, 1, &sd.low, &sd.high);
      MallocFailClear();
      EXPECT_EQ(MallocTrackLevel(), 0) << skip;
      EXPECT_EQ(MallocTrackedCount(), 0) << skip;
      if (r != 1) {
        ++failures;
        EXPECT_TRUE(KernelFailedNow()) << skip;
        EXPECT_EQ(FaceBits(s), before) << skip;
        if (sd.lowNode.piece == s) sd.lowNode.piece = nullptr;
      }
    }
    ClearKernelError();
    FreeBspline(s);
  }
  EXPECT_GT(failures, 0);
  EXPECT_LT(failures, int(runs / 3));
}

TEST_F(Snip, LoopsReachingFarOutOfTheDomainOrNotNumbersAreRefusedWithTheFaceUnchanged) {
  // A face with a square hole, with or without its outer loop, one corner of the hole or of the
  // outer loop moved to a coordinate that is not a number, or lies a domain's size and a half
  // outside the domain, or 1e300 away: the snip and the split fail with the error state set and
  // the face as it was (no boundary loop added, no hole turned). A cubic side whose control
  // polygon dips out of the domain by a twentieth of it is read. On domains a millionth and a
  // million wide, 1e4 widths from the origin.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (double size : {1e-6, 1e6})
    for (double far : {0.0, 1e4})
      for (double bad : {1e300, -1e300, nan, HUGE_VAL, 2.5, -1.5})
        for (int axis : {0, 1})
          for (int where : {0, 1, 2}) {  // the hole, the hole without outer loop, the outer loop
            SCOPED_TRACE(::testing::Message() << "size " << size << " far " << far << " bad " << bad << " axis "
                                              << axis << " where " << where);
            PatchOptions o = PlacedSquare(size, far);
            Bspline* s = TiltedPlanePatch(o);
            ASSERT_NE(s, nullptr);
            auto map = [&](std::vector<double> p) { return IntoSquare(std::move(p), o, size); };
            TrimList* outer = where == 1 ? nullptr : PolygonLoop(s, map({0, 0, 1, 0, 1, 1, 0, 1}), 0);
            TrimList* hole = PolygonLoop(s, map({0.3, 0.3, 0.3, 0.6, 0.6, 0.6, 0.6, 0.3}), 1);
            // The corner shared by the loop's second and third sides.
            const auto sides = LoopItems(where == 2 ? outer : hole);
            const double value = std::fabs(bad) < 10 ? o.umin + bad * size : bad;
            (axis ? sides[1]->Y : sides[1]->X)[0][1] = value;
            (axis ? sides[2]->Y : sides[2]->X)[0][0] = value;
            const std::vector<uint64_t> before = FaceBits(s);
            for (int uCut : {0, 1}) {
              ClearKernelError();
              Sides sd;
              EXPECT_EQ(SnipSurfaceBspline(s, o.umin + 0.45 * size, uCut, &sd.low, &sd.high), -2);
              EXPECT_TRUE(KernelFailedNow());
              EXPECT_TRUE(sd.Pieces(sd.low).empty() && sd.Pieces(sd.high).empty());
              EXPECT_EQ(FaceBits(s), before);
            }
            ClearKernelError();
            BsplineList* list = nullptr;
            EXPECT_EQ(SplitSurfaceBspline(s, 3, 3, &list, 0), -2);
            EXPECT_TRUE(KernelFailedNow());
            EXPECT_EQ(list, nullptr);
            EXPECT_EQ(FaceBits(s), before);
            ClearKernelError();
            FreeBspline(s);
          }
  // The same faces with the bottom side a cubic dipping out of the domain and back.
  for (double size : {1e-6, 1e6})
    for (double far : {0.0, 1e4}) {
      PatchOptions o = PlacedSquare(size, far);
      Bspline* s = TiltedPlanePatch(o);
      ASSERT_NE(s, nullptr);
      auto at = [&](double x) { return o.umin + x * size; };
      std::vector<Bspline*> curves = {
          BuildCurveOnSurface(s, 3, {at(0), at(0.2), at(1.0 / 3), at(-0.05), at(2.0 / 3), at(-0.05), at(1), at(0.2)}),
          BuildCurveOnSurface(s, 1, {at(1), at(0.2), at(1), at(1)}), BuildCurveOnSurface(s, 1, {at(1), at(1), at(0), at(1)}),
          BuildCurveOnSurface(s, 1, {at(0), at(1), at(0), at(0.2)})};
      AddLoop(s, curves);
      Sides sd;
      EXPECT_EQ(SnipSurfaceBspline(s, at(0.45), 1, &sd.low, &sd.high), 1) << size << " " << far;
      EXPECT_FALSE(KernelFailedNow());
      FreeBspline(s);
    }
}

TEST_F(Snip, ACurveWhoseKnotsAreARoundOffOutOfOrderFailsWithTheErrorStateSet) {
  // One knot of a loop's polyline, of a curve on an untrimmed face, or of the face itself a
  // round-off below the knot before it: the snip and the split fail and say so through the error
  // state, as every refusal of a record does.
  for (int which : {0, 1, 2}) {  // the loop, the loose curve, the face
    SCOPED_TRACE(which);
    ClearKernelError();
    PatchOptions o;
    o.nu = 8;
    Bspline* s = TiltedPlanePatch(o);
    ASSERT_NE(s, nullptr);
    Bspline* c = BuildCurveOnSurface(s, 1, {0.2, 0.2, 0.8, 0.2, 0.8, 0.8, 0.2, 0.8, 0.2, 0.2});
    if (which == 0) AddLoop(s, {c});
    double* knots = which == 2 ? s->knotsU : c->knotsU;
    const int k = which == 2 ? 5 : 2;
    knots[k] = std::nextafter(knots[k - 1], -1.0);
    Sides sd;
    EXPECT_LT(SnipSurfaceBspline(s, 0.45, 1, &sd.low, &sd.high), 1);
    EXPECT_TRUE(KernelFailedNow());
    if (sd.lowNode.piece == s) sd.lowNode.piece = nullptr;  // a cut that failed hands back the face
    ClearKernelError();
    BsplineList* list = nullptr;
    EXPECT_EQ(SplitSurfaceBspline(s, 3, 3, &list, 0), -2);
    EXPECT_TRUE(KernelFailedNow());
    EXPECT_EQ(list, nullptr);
    ClearKernelError();
    FreeBspline(s);
  }
}

}  // namespace

TEST_F(Snip, AHoleGoesToTheRegionHoldingItNotToOneWhoseBoxHoldsIt) {
  // A square face with a moat-shaped hole round a tongue, cut across the tongue and the moat's
  // arms at v = 0.8: below the line a U-shaped region whose box holds the tongue's region, and a
  // square hole in the tongue crossing no line. The hole goes to the tongue's piece: the pieces
  // hold 0.24 (the U) and 0.16 (the tongue less the hole), at every size and 1e4 sizes from the
  // origin, loops either way round.
  const std::vector<double> moat = {0.1, 0.1, 0.9, 0.1, 0.9, 0.9, 0.7, 0.9, 0.7, 0.3, 0.3, 0.3, 0.3, 0.9, 0.1, 0.9};
  const std::vector<double> inTongue = {0.4, 0.4, 0.6, 0.4, 0.6, 0.6, 0.4, 0.6};
  for (double size : {1e-6, 1.0, 1e6})
    for (double far : {0.0, 1e4})
      for (bool clockwise : {false, true}) {
        SCOPED_TRACE(::testing::Message() << "size " << size << " far " << far << " clockwise " << clockwise);
        PatchOptions o = PlacedSquare(size, far);
        Bspline* s = TiltedPlanePatch(o);
        ASSERT_NE(s, nullptr);
        auto map = [&](const std::vector<double>& p, bool reverse) { return IntoSquare(reverse ? Reversed(p) : p, o, size); };
        PolygonLoop(s, map(kSquare, clockwise), 0);
        PolygonLoop(s, map(moat, !clockwise), 1);
        PolygonLoop(s, map(inTongue, !clockwise), 1);
        Sides sd;
        ASSERT_EQ(SnipSurfaceBspline(s, o.vmin + 0.8 * size, 0, &sd.low, &sd.high), 1);
        std::vector<double> areas;
        for (Bspline* p : sd.Pieces(sd.low)) areas.push_back(TrimmedArea(p, o.umin, o.vmin) / (size * size));
        std::sort(areas.begin(), areas.end());
        ASSERT_EQ(areas.size(), 2u);
        EXPECT_NEAR(areas[0], 0.16, 1e-9);
        EXPECT_NEAR(areas[1], 0.24, 1e-9);
        FreeBspline(s);
      }
}

TEST_F(Snip, ALooseCurvesPartGoesToTheRegionHoldingIt) {
  // The face of the test above cut at v = 0.65, with a loose straight curve up the tongue beside
  // its hole, crossing the line: its part below the line goes to the tongue's piece, whose
  // trimmed area holds it, not to the U's, whose box holds it too.
  const std::vector<double> moat = {0.1, 0.1, 0.9, 0.1, 0.9, 0.9, 0.7, 0.9, 0.7, 0.3, 0.3, 0.3, 0.3, 0.9, 0.1, 0.9};
  for (double size : {1e-6, 1.0, 1e6})
    for (double far : {0.0, 1e4}) {
      SCOPED_TRACE(::testing::Message() << "size " << size << " far " << far);
      PatchOptions o = PlacedSquare(size, far);
      Bspline* s = TiltedPlanePatch(o);
      ASSERT_NE(s, nullptr);
      PolygonLoop(s, IntoSquare(kSquare, o, size), 0);
      PolygonLoop(s, IntoSquare(Reversed(moat), o, size), 1);
      PolygonLoop(s, IntoSquare(Reversed({0.4, 0.4, 0.6, 0.4, 0.6, 0.6, 0.4, 0.6}), o, size), 1);
      BuildCurveOnSurface(s, 1, IntoSquare({0.35, 0.32, 0.35, 0.75}, o, size));
      Sides sd;
      ASSERT_EQ(SnipSurfaceBspline(s, o.vmin + 0.65 * size, 0, &sd.low, &sd.high), 1);
      int placed = 0;
      for (Bspline* p : sd.Pieces(sd.low))
        for (Bspline* c : ListItems(p)) {
          bool inLoop = false;
          for (const TrimList* l = p->trims; l; l = l->next)
            for (const Bspline* e : LoopItems(l)) inLoop = inLoop || e == c;
          if (inLoop) continue;
          double uv[2];
          Eval2DPointOnCurve2Array(nullptr, c, 0.5 * (CStart(c) + CEnd(c)), 0, uv);
          EXPECT_EQ(IsPointInTrim(p, uv[0], uv[1]), 1);
          ++placed;
        }
      EXPECT_EQ(placed, 1);
      FreeBspline(s);
    }
}

TEST_F(Snip, AFaceWhoseDomainReachesPastItsKnotsFailsTheCutUnchanged) {
  // The pieces are cut at the knots while the tolerances come from the domain fields: a face with
  // a square hole whose u or v bound was set to a huge or infinite value made every tolerance
  // swallow the face and reported pieces holding nothing. The cut now fails as for a face that
  // is not sound, the face as it was; with its bounds back the same cut is made.
  for (double size : {1e-6, 1e6})
    for (double bad : {1e300, HUGE_VAL})
      for (int field : {0, 1}) {  // umax, vmin
        SCOPED_TRACE(::testing::Message() << "size " << size << " bad " << bad << " field " << field);
        PatchOptions o = PlacedSquare(size, 1e4);
        Bspline* s = TiltedPlanePatch(o);
        ASSERT_NE(s, nullptr);
        auto map = [&](std::vector<double> p) { return IntoSquare(std::move(p), o, size); };
        PolygonLoop(s, map({0, 0, 1, 0, 1, 1, 0, 1}), 0);
        PolygonLoop(s, map({0.3, 0.3, 0.3, 0.6, 0.6, 0.6, 0.6, 0.3}), 1);
        double& bound = field ? s->vmin : s->umax;
        const double kept = bound;
        bound = field ? -bad : bad;
        const std::vector<uint64_t> before = FaceBits(s);
        for (int uCut : {0, 1}) {
          ClearKernelError();
          Sides sd;
          EXPECT_EQ(SnipSurfaceBspline(s, o.umin + 0.45 * size, uCut, &sd.low, &sd.high), 0);
          EXPECT_TRUE(KernelFailedNow());
          EXPECT_EQ(sd.lowNode.piece, s);
          EXPECT_EQ(sd.highNode.piece, nullptr);
          sd.lowNode.piece = nullptr;
          EXPECT_EQ(FaceBits(s), before);
        }
        ClearKernelError();
        bound = kept;
        Sides sd;
        EXPECT_EQ(SnipSurfaceBspline(s, o.umin + 0.45 * size, 1, &sd.low, &sd.high), 1);
        EXPECT_EQ(sd.Pieces(sd.low).size(), 1u);
        EXPECT_EQ(sd.Pieces(sd.high).size(), 1u);
        FreeBspline(s);
      }
}

TEST_F(Snip, AHoleWhoseSideSpansTwoKnotsApartIsCutOnTheLine) {
  // A five-sided hole as one degree-1 curve whose second side runs between knots 1e-12 apart:
  // no parameter there lands within round-off of the line u = 0.5, and the curve at the nearest
  // one missed it by 2e-5 of the face, so the pieces' loops ended off their common edge and their
  // areas were off by 4e-6 of the face. Every loop end on the line is now where a side of the
  // hole meets it (v = 4/15 and 51/70) or a corner of the face.
  const std::vector<double> hole = {0.2, 0.5, 0.35, 0.75, 0.7, 0.7, 0.6, 0.25, 0.3, 0.3, 0.2, 0.5};
  const std::vector<double> along = {0.0, 4.0 / 15, 51.0 / 70, 1.0};
  for (double size : {1e-6, 1e6})
    for (double far : {0.0, 1e4}) {
      SCOPED_TRACE(::testing::Message() << "size " << size << " far " << far);
      PatchOptions o = PlacedSquare(size, far);
      Bspline* s = TiltedPlanePatch(o);
      ASSERT_NE(s, nullptr);
      PolygonLoop(s, IntoSquare({0, 0, 1, 0, 1, 1, 0, 1}, o, size), 0);
      AddLoop(s, {BuildCurveOnSurface(s, 1, IntoSquare(hole, o, size), {0, 0, 2 - 1e-12, 2, 3, 4, 5, 5})}, 1);
      const double line = o.umin + 0.5 * size;
      Sides sd;
      ASSERT_EQ(SnipSurfaceBspline(s, line, 1, &sd.low, &sd.high), 1);
      int onLine = 0;
      for (const SnipSide* side : {sd.low, sd.high})
        for (Bspline* p : sd.Pieces(side))
          for (const TrimList* l = p->trims; l; l = l->next)
            for (Bspline* c : LoopItems(l))
              for (int i : {0, NumCtrlU(c) - 1}) {
                if (std::fabs(c->X[0][i] - line) > 1e-3 * size) continue;
                ++onLine;
                EXPECT_NEAR(c->X[0][i], line, 1e-9 * size);
                const double v = (c->Y[0][i] - o.vmin) / size;
                double nearest = 1.0;
                for (double a : along) nearest = std::min(nearest, std::fabs(v - a));
                EXPECT_LT(nearest, 1e-9) << "v " << v;
              }
      EXPECT_GT(onLine, 0);
      FreeBspline(s);
    }
}
