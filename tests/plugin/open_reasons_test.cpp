// A side left open may carry a reason after its code's text. Long cubic nets under noise of 1e-3
// of their size leave seams open whose sides share one knot vector, so either side could take
// the other's shape: no reason may be claimed for them, and every line keeps its text verbatim.
#include <set>

#include "tests/plugin/plugin_fixture.h"

namespace {

class OpenReasons : public PluginTest {};

TEST_F(OpenReasons, NoisyLongNetsClaimNoCoarseNet) {
  const std::set<std::string> texts = {"Successful healing",
                                       "Not healed to both positional and tangential tolerance",
                                       "Healed to positional tolerance, but not tangential tolerance",
                                       "Healed to tangential tolerance, but not posiional tolerance"};
  for (CadShape shape : {CadShape::Tube, CadShape::StripChain}) {
    SAAStubReset();
    CadOptions o;
    o.noise = 1e-3;
    o.longCount = 40;
    const CadGroup cad = MakeCadGroup(shape, o);
    const SampleGroup g = AddCadGroup(cad);
    HealTargets t;
    t.maxGap = static_cast<float>(5e-3 * cad.diagonal);
    t.healGap = static_cast<float>(1e-5 * cad.diagonal);
    t.report = 1;
    SAA_CustomContext ctx = Context(g, t);
    ASSERT_EQ(initSeamWeld(ctx), 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(UpdateAll(ctx, static_cast<int>(g.elements.size())), 0);
    const std::string report = testing::internal::GetCapturedStdout();
    EXPECT_EQ(cleanupSeamWeld(ctx), 0);
    const auto codes = ParseReport(report, g);
    EXPECT_EQ(codes.size(), 4 * g.elements.size()) << report;
    for (const auto& [side, text] : codes) EXPECT_EQ(texts.count(text), 1u) << cad.name << ": " << text;
  }
}

}  // namespace
