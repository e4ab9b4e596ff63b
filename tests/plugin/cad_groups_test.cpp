// Groups as CAD systems export them, through the plug-in: exporters' knot values, clean groups
// that must come back as they were, and the heal of lossy exports judged from the host's side.
#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tests/plugin/plugin_fixture.h"

namespace {

class CadGroupsHeal : public PluginTest {
 protected:
  struct Outcome {
    int init = -1, heal = -1;
    std::string report, messages;
    std::vector<std::vector<double>> vertices;  // after
    double moved = 0.0;                         // the largest control-point move
  };

  // init and one heal with the report on.
  Outcome Run(const SampleGroup& g, HealTargets t) {
    t.report = 1;
    Outcome o;
    std::vector<std::vector<double>> start;
    for (int e : g.elements) start.push_back(Vertices(e));
    SAA_CustomContext ctx = Context(g, t);
    testing::internal::CaptureStderr();
    o.init = initSeamWeld(ctx);
    if (o.init == 0) {
      testing::internal::CaptureStdout();
      o.heal = UpdateAll(ctx, static_cast<int>(g.elements.size()));
      o.report = testing::internal::GetCapturedStdout();
    }
    o.messages = testing::internal::GetCapturedStderr();
    EXPECT_EQ(cleanupSeamWeld(ctx), 0);
    for (size_t k = 0; k < g.elements.size(); ++k) {
      o.vertices.push_back(Vertices(g.elements[k]));
      const std::vector<double>& v = o.vertices.back();
      for (size_t i = 0; i < v.size(); i += 4)
        o.moved = std::max(o.moved, std::hypot(v[i] - start[k][i], v[i + 1] - start[k][i + 1], v[i + 2] - start[k][i + 2]));
    }
    return o;
  }

  // MAXGAP 5 x the damage (1e-3 of the size when clean), HEALGAP 1e-5 of the size, outer
  // boundary free: how a user heals a lossy export.
  static HealTargets Targets(const CadGroup& cad, double noise) {
    HealTargets t;
    t.maxGap = static_cast<float>((noise > 0.0 ? 5.0 * noise : 1e-3) * cad.diagonal);
    t.healGap = static_cast<float>(1e-5 * cad.diagonal);
    return t;
  }

  // The report is true to the seams as measured independently of the kernel: a side gets
  // "Successful healing" or "Healed to positional tolerance..." exactly when the worst of its
  // seams (a T-junction's long side has several) meets the gap target, and the angle target
  // or not; a free side counts as healed. Measures within 5% of a target may go either way
  // (the two measures sample differently). A reason after the text (why the seam may still be
  // open beside where the surfaces began) leaves the text's claim as it is. Returns the number
  // of seams within HEALGAP.
  int ExpectHonestReport(const SampleGroup& g, const HealTargets& t, const std::string& report) {
    const auto codes = ParseReport(report, g);
    EXPECT_EQ(codes.size(), 4 * g.elements.size()) << report;
    std::map<std::pair<int, int>, SeamMeasure> worst;
    int closed = 0;
    for (const SampleSeam& s : g.seams) {
      const SeamMeasure m = MeasureSeam(s, 80);
      closed += m.maxGap <= t.healGap;
      for (auto side : {std::make_pair(s.elemA, s.sideA), std::make_pair(s.elemB, s.sideB)}) {
        SeamMeasure& w = worst[side];
        w.maxGap = std::max(w.maxGap, m.maxGap);
        w.maxAngle = std::max(w.maxAngle, m.maxAngle);
      }
    }
    for (const auto& [side, line] : codes) {
      const std::string text = line.substr(0, line.find("; open because "));
      auto it = worst.find(side);
      if (it == worst.end()) {
        EXPECT_EQ(text, "Successful healing") << "free side " << side.first << ":" << side.second << "\n" << report;
        continue;
      }
      const double gap = it->second.maxGap / t.healGap, angle = it->second.maxAngle / t.healAngle;
      const bool gapEither = std::fabs(gap - 1.0) < 0.05, angleEither = std::fabs(angle - 1.0) < 0.05;
      const bool saysGap = text == "Successful healing" || text == "Healed to positional tolerance, but not tangential tolerance";
      const bool saysAngle = text == "Successful healing" || text.rfind("Healed to tangential tolerance", 0) == 0;
      const std::string where = std::to_string(side.first) + ":" + std::to_string(side.second) + " " + text;
      if (!gapEither) {
        EXPECT_EQ(saysGap, gap <= 1.0) << where << " gap " << it->second.maxGap;
      }
      if (!angleEither && saysGap) {
        EXPECT_EQ(saysAngle, angle <= 1.0) << where << " angle " << it->second.maxAngle;
      }
    }
    return closed;
  }

  static CadOptions Small(double noise = 0.0, CadKnots knots = CadKnots::Unit) {
    CadOptions o;
    o.longCount = 12;
    o.strips = 4;
    o.noise = noise;
    o.knots = knots;
    return o;
  }
};

// The smallest exporter's case: A on [0, 1]^2 and B with u knots (-0.2 -0.2 end end) side by
// side on x = 1, flat and closed. Every end builds and heals (0), and nothing moves.
TEST_F(CadGroupsHeal, DomainEndARoundOffFromZeroHeals) {
  for (double end : {0.0, 1e-16, 5.8e-16, -5.8e-16, 1e-14, 1e-12, 1e-10, -3.3e-32}) {
    SAAStubReset();
    CadPatch a, b;
    a.name = "A", b.name = "B";
    a.knotsU = a.knotsV = b.knotsV = {0, 0, 1, 1};
    b.knotsU = {-0.2, -0.2, end, end};
    a.pts = {0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0};
    b.pts = {1, 0, 0, 2, 0, 0, 1, 1, 0, 2, 1, 0};
    CadGroup cad;
    cad.patches = {a, b};
    cad.seams = {{0, 3, 1, 1}};
    const SampleGroup g = AddCadGroup(cad);
    HealTargets t;
    t.maxGap = 0.01f;
    t.healGap = 1e-5f;
    const Outcome o = Run(g, t);
    EXPECT_EQ(o.init, 0) << end << o.messages;
    EXPECT_EQ(o.heal, 0) << end << o.messages;
    EXPECT_LE(o.moved, 1e-7) << end;
    EXPECT_EQ(Count(o.report, "Successful healing"), 8u) << end << o.report;
  }
}

// A degree the kernel cannot work with is refused by name (95), not by a topology failure.
TEST_F(CadGroupsHeal, DegreeBeyondTheKernelIsRefusedByName) {
  SampleGroup g = BuildTwoPatchGroup(0.01, 3.0);
  SAAStubSurface& s = SAAStubSurfaceAt(g.elements[1]);
  const int p = 23;
  std::vector<double> v;
  for (int j = 0; j < s.countV; ++j)
    for (int i = 0; i <= p; ++i) v.insert(v.end(), {1.0 + double(i) / p, double(j) / (s.countV - 1), 0.0, 1.0});
  s.vertices = v;
  s.degreeU = p;
  s.countU = p + 1;
  s.knotsU.assign(p, 0.0);
  s.knotsU.insert(s.knotsU.end(), p, 1.0);
  const Outcome o = Run(g, {});
  EXPECT_EQ(o.init, kSeamWeldFailure);
  EXPECT_NE(o.messages.find("surface " + s.name + ": degree 23"), std::string::npos) << o.messages;
  EXPECT_EQ(Count(o.messages, "\n"), 1u) << o.messages;
}

}  // namespace

namespace {

// Clean groups come back as they were: status 0, no control point moved beyond HEALGAP, the
// report true to the seams, at every MAXGAP from 1e-4 of the size up to the plug-in's limit (a
// quarter of the shortest boundary curve; for the tangent strip, 0.011 wide, 2.75e-3).
TEST_F(CadGroupsHeal, CleanGroupsComeBackUnchangedAtEveryMaxGap) {
  for (CadShape shape : kCadShapes) {
    SAAStubReset();
    const CadGroup cad = MakeCadGroup(shape, Small());
    const SampleGroup g = AddCadGroup(cad);
    const double limit = 0.25 * ShortestBoundaryCurve(g);
    for (double maxGap : {1e-4 * cad.diagonal, 1e-3 * cad.diagonal, 1e-2 * cad.diagonal, 0.99 * limit}) {
      if (maxGap > limit) continue;
      HealTargets t = Targets(cad, 0.0);
      t.maxGap = static_cast<float>(maxGap);
      const Outcome o = Run(g, t);
      ASSERT_EQ(o.init, 0) << cad.name << o.messages;
      ASSERT_EQ(o.heal, 0) << cad.name << o.messages;
      EXPECT_LE(o.moved, t.healGap) << cad.name << " MAXGAP " << maxGap;
      EXPECT_EQ(ExpectHonestReport(g, t, o.report), static_cast<int>(g.seams.size())) << cad.name;
    }
  }
}

// A clean group whose points single precision cannot hold, read through a deformation matrix or
// none, comes back from the heal exactly as the host gave it: every vertex to the last bit (the
// round trip through single precision moved every point by its rounding, 2.5e-7 at coordinates
// of 4). Sizes 1/3 and 1e3/3, the second moved 1e4 x its size under a matrix that scales by 2.
TEST_F(CadGroupsHeal, CleanGroupsComeBackToTheLastBit) {
  for (bool far : {false, true})
    for (CadShape shape : kCadShapes) {
      SAAStubReset();
      CadOptions opts = Small();
      opts.size = far ? 1e3 / 3.0 : 1.0 / 3.0;
      const CadGroup cad = MakeCadGroup(shape, opts);
      const SampleGroup g = AddCadGroup(cad);
      std::vector<std::vector<double>> start;
      for (int e : g.elements) {
        SAAStubSurface& s = SAAStubSurfaceAt(e);
        if (far) {
          const float m[16] = {2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, 2e4f * 1e3f / 3, -1e4f * 1e3f / 3, 5e3f * 1e3f / 3, 1};
          std::copy(m, m + 16, s.matrix);
        }
        start.push_back(s.vertices);
      }
      HealTargets t = Targets(cad, 0.0);
      const Outcome o = Run(g, t);
      ASSERT_EQ(o.heal, 0) << cad.name << o.messages;
      for (size_t k = 0; k < g.elements.size(); ++k)
        EXPECT_EQ(o.vertices[k], start[k]) << cad.name << " surface " << k << (far ? " far" : "");
    }
}

}  // namespace

namespace {

// Lossy exports (noise of 1e-4 and 1e-3 of the size on every control point, or on the boundary
// rows only; MAXGAP 5 x the noise): whatever closes, the report says what each side reached.
TEST_F(CadGroupsHeal, NoisyGroupsAreReportedAsTheyAre) {
  for (double noise : {1e-4, 1e-3})
    for (bool rows : {false, true})
      for (CadShape shape : kCadShapes) {
        SAAStubReset();
        CadOptions o = Small(noise);
        o.boundaryRowsOnly = rows;
        const CadGroup cad = MakeCadGroup(shape, o);
        const SampleGroup g = AddCadGroup(cad);
        const HealTargets t = Targets(cad, noise);
        const Outcome out = Run(g, t);
        SCOPED_TRACE(cad.name + " noise " + std::to_string(noise) + (rows ? " on boundary rows" : ""));
        ASSERT_EQ(out.heal, 0) << out.messages;
        ExpectHonestReport(g, t, out.report);
      }
}

}  // namespace

namespace {

// The heal's moves against the gaps it closes (outer boundary free, as a user heals a lossy
// export): no surface's control points move more than 3 x the largest gap across its seams as
// they came, however the tangential heal would like to turn it; a seam that came closed moves
// nothing beyond 3 x HEALGAP; and a free side that another surface's corner only touches is not
// bent onto that corner.
class HealMoves : public CadGroupsHeal {
 protected:
  // The largest gap between two sides as measured from either (the measure runs from side A's
  // samples to side B's curve).
  static double GapEitherWay(const SampleSeam& s) {
    return std::max(MeasureSeam(s, 120).maxGap, MeasureSeam({s.elemB, s.sideB, s.elemA, s.sideA}, 120).maxGap);
  }
  // Per element, the largest move of its control points (every fourth value of a host row is the
  // weight), over all of them or over row `row` (v index) only.
  static double Moved(const std::vector<double>& before, const std::vector<double>& after, int cu = 0, int row = -1) {
    double most = 0.0;
    for (size_t i = 0; i < after.size(); i += 4)
      if (row < 0 || static_cast<int>(i / 4) / cu == row)
        most = std::max(most, std::hypot(after[i] - before[i], after[i + 1] - before[i + 1], after[i + 2] - before[i + 2]));
    return most;
  }
  std::vector<std::vector<double>> Start(const SampleGroup& g) {
    std::vector<std::vector<double>> v;
    for (int e : g.elements) v.push_back(Vertices(e));
    return v;
  }
};

// A plane strip tangent to a quarter cylinder of 40 points around, closed by a wall, noise 1e-4 of
// the size on every point, at sizes 1e-3, 1 and 1e3: the seams close and no surface moves beyond
// 3 x the largest gap of its seams (the cylinder's second rows turned onto the planes moved it
// 4.5 to 6 x before).
TEST_F(HealMoves, NoSurfaceMovesBeyondThreeTimesItsGaps) {
  for (double size : {1e-3, 1.0, 1e3})
    for (unsigned seed : {1u, 2u, 3u}) {
      SAAStubReset();
      CadOptions o = Small(1e-4);
      o.arcCount = 40;
      o.seed = seed;
      o.size = size;
      const CadGroup cad = MakeCadGroup(CadShape::TangentStrip, o);
      const SampleGroup g = AddCadGroup(cad);
      std::vector<double> gap(g.elements.size(), 0.0);
      for (const SampleSeam& s : g.seams)
        for (int e : {s.elemA, s.elemB}) gap[e] = std::max(gap[e], GapEitherWay(s));
      const auto start = Start(g);
      const HealTargets t = Targets(cad, 1e-4);
      const Outcome out = Run(g, t);
      ASSERT_EQ(out.heal, 0) << out.messages;
      SCOPED_TRACE(testing::Message() << "size " << size << " seed " << seed);
      for (const SampleSeam& s : g.seams) EXPECT_LE(MeasureSeam(s, 80).maxGap, t.healGap);
      for (size_t k = 0; k < g.elements.size(); ++k)
        EXPECT_LE(Moved(start[k], out.vertices[k]), 3.05 * gap[k]) << "surface " << k;
    }
}

// Two bicubic patches on one shared row, the second turned up by 3 degrees across it (as a lossy
// re-fit leaves neighbours: closed, kinked): nothing is closed, so nothing moves beyond 3 x HEALGAP
// (the tangential heal turned both second rows by 8e-3 to take the kink out), at HEALGAP 1e-3
// and 1e-5 of the seam's length.
TEST_F(HealMoves, ClosedKinkedSeamMovesNothingBeyondItsBound) {
  const double slope = std::tan(3.0 * 3.14159265358979323846 / 180.0);
  for (float healGap : {1e-3f, 1e-5f}) {
    SAAStubReset();
    CadPatch a, b;
    a.name = "flat", b.name = "turned";
    for (CadPatch* p : {&a, &b}) {
      p->pu = p->pv = 3, p->cu = p->cv = 4;
      p->knotsU = p->knotsV = {0, 0, 0, 0, 1, 1, 1, 1};
    }
    for (int j = 0; j < 4; ++j)
      for (int i = 0; i < 4; ++i) {
        a.pts.insert(a.pts.end(), {i / 3.0, j / 3.0, 0.0});
        b.pts.insert(b.pts.end(), {1.0 + i / 3.0, j / 3.0, slope * i / 3.0});
      }
    CadGroup cad;
    cad.name = "closed kink";
    cad.patches = {a, b};
    cad.seams = {{0, 3, 1, 1}};
    const SampleGroup g = AddCadGroup(cad);
    const auto start = Start(g);
    HealTargets t;
    t.healGap = healGap;
    const Outcome out = Run(g, t);
    ASSERT_EQ(out.heal, 0) << out.messages;
    for (size_t k = 0; k < g.elements.size(); ++k)
      EXPECT_LE(Moved(start[k], out.vertices[k]), 3.0 * healGap * (1 + 1e-6) + 1e-7) << "HEALGAP " << healGap;
  }
}

// A cubic strip's free side with a wall standing on it whose corner touches that side only
// (0, 2e-4 and 5e-4 off it, MAXGAP 1e-3): the strip's and the wall's seams with their neighbours
// close, and the free side stays where it was (bent onto the wall's corner, it moved up to 7.6e-4).
TEST_F(HealMoves, FreeSideAnotherCornerOnlyTouchesStays) {
  for (double off : {0.0, 2e-4, 5e-4})
    for (unsigned seed : {1u, 2u}) {
      SAAStubReset();
      CadPatch strip, wall, beside, below;
      strip.name = "strip", wall.name = "wall", beside.name = "beside", below.name = "below";
      strip.pu = strip.pv = 3, strip.cu = 8, strip.cv = 4;
      strip.knotsU = {0, 0, 0, 0, 0.2, 0.4, 0.6, 0.8, 1, 1, 1, 1};
      strip.knotsV = {0, 0, 0, 0, 1, 1, 1, 1};
      // x at the Greville abscissae, y from -0.3 to the free side at y = 0.
      const double gx[8] = {0, 0.2 / 3, 0.6 / 3, 0.4, 0.6, 2.4 / 3, 2.8 / 3, 1};
      for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 8; ++i) strip.pts.insert(strip.pts.end(), {gx[i], -0.3 + 0.1 * j, 0.0});
      for (CadPatch* p : {&wall, &beside, &below}) p->knotsU = p->knotsV = {0, 0, 1, 1};
      wall.pts = {0.63, off, off, 0.63, 0.5, off, 0.63, off, 0.4, 0.63, 0.5, 0.4};
      beside.pts = {0.63, 0.5, off, 1.2, 0.5, off, 0.63, 0.5, 0.4, 1.2, 0.5, 0.4};
      below.pts = {0, -0.6, 0, 1, -0.6, 0, 0, -0.3, 0, 1, -0.3, 0};
      CadGroup cad;
      cad.name = "touching corner";
      cad.patches = {strip, wall, beside, below};
      cad.seams = {{1, 3, 2, 1}, {0, 2, 3, 4}};
      std::mt19937 rng(seed);
      std::uniform_real_distribution<double> noise(-1e-4, 1e-4);
      for (CadPatch& p : cad.patches)
        for (double& x : p.pts) x += noise(rng);
      const SampleGroup g = AddCadGroup(cad);
      const auto start = Start(g);
      HealTargets t;
      t.maxGap = 1e-3f;
      t.healGap = 1e-5f;
      const Outcome out = Run(g, t);
      ASSERT_EQ(out.heal, 0) << out.messages;
      SCOPED_TRACE(testing::Message() << "off " << off << " seed " << seed);
      for (const SampleSeam& s : g.seams) EXPECT_LE(MeasureSeam(s, 80).maxGap, t.healGap);
      EXPECT_LE(Moved(start[0], out.vertices[0], 8, 3), 1e-9);
    }
}

}  // namespace
