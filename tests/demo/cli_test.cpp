// The demo host as a user runs it: options it cannot use are refused before anything is
// printed, and the seam table's verdict agrees with the table's own numbers.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct DemoRun {
  int exitCode = -1;
  std::string out, err;
};

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs the demo through the shell; `prefix` runs before it in the same shell (limits).
DemoRun RunDemo(const std::string& args, const std::string& prefix = "") {
  const fs::path base = fs::path(::testing::TempDir()) / ("seamweld_cli_" + std::to_string(getpid()));
  const std::string cmd = prefix + "exec " + std::string(SEAMWELD_DEMO) + " " + args + " >" + base.string() +
                          ".out 2>" + base.string() + ".err";
  const int rc = std::system(("sh -c '" + cmd + "'").c_str());
  DemoRun r;
  r.exitCode = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  r.out = ReadFile(base.string() + ".out");
  r.err = ReadFile(base.string() + ".err");
  fs::remove(base.string() + ".out");
  fs::remove(base.string() + ".err");
  return r;
}

TEST(DemoOptions, EachBadOptionExitsTwoWithItsMessageBeforeAnyOutput) {
  const struct {
    const char* args;
    const char* message;
  } cases[] = {
      {"--healgap abc", "--healgap abc: the value is not a number"},
      {"--healgap 0.001x", "--healgap 0.001x: the value is not a number"},
      {"--healgap \"\"", "the value is not a number"},
      {"--healgap nan", "--healgap nan: the value is not a finite single-precision number"},
      {"--healgap 1e39", "--healgap 1e39: the value is not a finite single-precision number"},
      {"--healgap -0.001", "--healgap -0.001: the value must be above 0"},
      {"--healgap 0", "--healgap 0: the value must be above 0"},
      {"--healgap 1e-50", "--healgap 1e-50: the value must be above 0"},  // 0 as a float
      {"--healangle 0", "--healangle 0: the value must be above 0"},
      {"--maxangle -1", "--maxangle -1: the value must be at least 0"},
      {"--maxangle inf", "--maxangle inf: the value is not a finite single-precision number"},
      {"--maxgap -inf", "--maxgap -inf: the value is not a finite single-precision number"},
      {"--maxgap 1 --group two", "--maxgap 1: the value must not exceed 0.25"},
      {"--group grid --maxgap 0.3", "for group grid, a quarter of its shortest boundary curve"},
      {"--continuity foo", "--continuity foo: unknown continuity"},
      {"--group foo", "--group foo: unknown group"},
      {"--group two --healgap", "--healgap needs a value"},
      {"--frobnicate", "unknown option --frobnicate"},
  };
  for (const auto& c : cases) {
    const DemoRun r = RunDemo(c.args);
    EXPECT_EQ(r.exitCode, 2) << c.args << "\n" << r.err;
    EXPECT_EQ(r.out, "") << c.args;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args << "\n" << r.err;
  }
}

struct SeamRow {
  std::string label;
  std::vector<double> numbers;  // gap before, after, then angles before, after (per column pair)
  std::string targets;
};

struct GroupSection {
  std::string header;
  std::vector<SeamRow> rows;
  std::string verdict;
};

// Splits the demo's output into its group sections: the "====" line, the table rows (lines of
// a label, numbers and a targets text), and the verdict line.
std::vector<GroupSection> Sections(const std::string& out) {
  std::vector<GroupSection> sections;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("==== ", 0) == 0) {
      sections.push_back({line, {}, ""});
      continue;
    }
    if (sections.empty()) continue;
    if (line.rfind("verdict: ", 0) == 0) {
      sections.back().verdict = line;
      continue;
    }
    // A row: "<A> <side> / <B> <side>" then numbers (or "-") then the targets text.
    const size_t slash = line.find(" / ");
    if (slash == std::string::npos || line.size() < 31) continue;
    SeamRow row;
    row.label = line.substr(0, 30);
    std::istringstream words(line.substr(30));
    std::string w;
    while (words >> w) {
      if (w == "-") {
        row.numbers.push_back(-1.0);
        continue;
      }
      char* end = nullptr;
      const double v = std::strtod(w.c_str(), &end);
      if (*end != '\0') {
        row.targets = w;
        std::string rest;
        std::getline(words, rest);
        row.targets += rest;
        break;
      }
      row.numbers.push_back(v);
    }
    sections.back().rows.push_back(row);
  }
  return sections;
}

// The verdict counts exactly the rows whose numbers meet the targets (gap within HEALGAP and,
// for a seam that started at or below MAXANGLE, angle within HEALANGLE; with a held boundary
// the angle away from the held ends), and the table's targets column says the same.
void ExpectVerdictAgreesWithTable(const GroupSection& g, bool held, double healGap, double maxAngle,
                                  double healAngle) {
  int met = 0;
  for (const SeamRow& r : g.rows) {
    ASSERT_EQ(r.numbers.size(), held ? 6u : 4u) << g.header << ": " << r.label;
    const bool crease = held ? std::max(r.numbers[2], r.numbers[4]) > maxAngle : r.numbers[2] > maxAngle;
    const bool ok = r.numbers[1] <= healGap && (crease || r.numbers[3] <= healAngle);
    met += ok;
    EXPECT_EQ(r.targets.rfind("met", 0) == 0, ok) << g.header << ": " << r.label << " " << r.targets;
    EXPECT_EQ(r.targets.find("(crease)") != std::string::npos, crease) << g.header << ": " << r.label;
  }
  const std::string expected = "verdict: " + std::to_string(met) + " of " + std::to_string(g.rows.size()) +
                               (g.rows.size() == 1 ? " seam" : " seams") +
                               " within HEALGAP and, where smooth, HEALANGLE";
  EXPECT_EQ(g.verdict, expected) << g.header;
}

TEST(DemoVerdict, OneVerdictPerGroupAgreesWithItsOwnMeasurement) {
  const DemoRun r = RunDemo("--seams");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::vector<GroupSection> groups = Sections(r.out);
  ASSERT_EQ(groups.size(), 6u) << r.out;
  for (const GroupSection& g : groups) ExpectVerdictAgreesWithTable(g, false, 0.001, 5.0, 0.5);
  // Counted nouns: one seam, several surfaces.
  EXPECT_EQ(groups[0].header, "==== two patches: 2 surfaces, 1 seam");
  EXPECT_EQ(r.out.find("1 seams"), std::string::npos);
  EXPECT_NE(r.out.find("gap (model units)"), std::string::npos);
  EXPECT_NE(r.out.find("normal angle (degrees)"), std::string::npos);
  // The smooth samples heal whole; the rough group is there and healed in part at least.
  for (size_t k = 0; k < 4; ++k) {
    const std::string all = std::to_string(groups[k].rows.size());
    EXPECT_EQ(groups[k].verdict.rfind("verdict: " + all + " of " + all, 0), 0u) << groups[k].verdict;
  }
  EXPECT_EQ(groups[4].header, "==== rough 3x3 grid: 9 surfaces, 12 seams");
  EXPECT_EQ(groups[4].rows.size(), 12u);
  // The exported T-junction (bilinear planes, exporters' knots, noise of 1e-4 of its size) heals
  // whole, its three 90-degree creases closed in position with their angle kept along them.
  EXPECT_EQ(groups[5].header, "==== exported T-junction: 6 surfaces, 8 seams");
  EXPECT_EQ(groups[5].verdict, "verdict: 8 of 8 seams within HEALGAP and, where smooth, HEALANGLE");
  EXPECT_NE(r.out.find("when met): 3 of 3 kept their angle within 1 degree"), std::string::npos) << r.out;
}

// A crease's verdict looks along it: a row says whether its angle stayed within a degree at
// every sample between a tenth and nine tenths of its length, and the creases' line counts the
// rows that say so. A seam beyond MAXANGLE only near an end (a jittered corner's kink) is judged
// by how smooth it is along its length instead, and counted on a line of its own: on the rough
// grid every such seam ends smooth there.
TEST(DemoVerdict, CreasesAreJudgedAlongTheirLength) {
  const DemoRun r = RunDemo("--seams --group rough");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::vector<GroupSection> groups = Sections(r.out);
  ASSERT_EQ(groups.size(), 1u);
  size_t creases = 0, kept = 0, kinks = 0;
  for (const SeamRow& row : groups[0].rows) {
    if (row.targets.find("(crease)") == std::string::npos) continue;
    if (row.targets.find("kinked only near an end") != std::string::npos) {
      ++kinks;
      EXPECT_NE(row.targets.find(", smooth along it ("), std::string::npos) << row.targets;
      continue;
    }
    ++creases;
    const bool keeps = row.targets.find("kept within 1 degree along it") != std::string::npos;
    EXPECT_NE(keeps, row.targets.find("changed by up to") != std::string::npos) << row.targets;
    kept += keeps;
  }
  ASSERT_GT(creases, 0u);
  ASSERT_GT(kinks, 0u);
  EXPECT_NE(r.out.find("when met): " + std::to_string(kept) + " of " + std::to_string(creases) + " kept"),
            std::string::npos)
      << r.out;
  const std::string all = std::to_string(kinks);
  EXPECT_NE(r.out.find("healed as smooth along their length): " + all + " of " + all + " within HEALANGLE"),
            std::string::npos)
      << r.out;
}

// With the outer boundary held the angle columns split: at a seam end on the held boundary the
// angle stays where the held rows put it, while the heal flattens the rest of the seam.
TEST(DemoVerdict, HeldBoundarySplitsTheAngleIntoInsideAndHeldEnds) {
  const DemoRun r = RunDemo("--seams --continuity position --group two --healangle 0.6");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::vector<GroupSection> groups = Sections(r.out);
  ASSERT_EQ(groups.size(), 1u) << r.out;
  EXPECT_NE(r.out.find("at held ends (degrees)"), std::string::npos) << r.out;
  ExpectVerdictAgreesWithTable(groups[0], true, 0.001, 5.0, 0.6);
  ASSERT_EQ(groups[0].rows.size(), 1u);
  const std::vector<double>& n = groups[0].rows[0].numbers;
  EXPECT_NEAR(n[4], 3.0, 0.05);  // the held ends keep their 3 degrees ...
  EXPECT_NEAR(n[5], n[4], 0.05);
  EXPECT_LT(n[3], 0.6);  // ... while inside the seam the kink is healed
  EXPECT_EQ(groups[0].verdict, "verdict: 1 of 1 seam within HEALGAP and, where smooth, HEALANGLE");

  // The four seams around the centre patch of the mixed group have no end on the outer boundary.
  const std::vector<GroupSection> mixed = Sections(RunDemo("--seams --continuity tangency --group mixed").out);
  ASSERT_EQ(mixed.size(), 1u);
  int withoutHeldEnd = 0;
  for (const SeamRow& row : mixed[0].rows) withoutHeldEnd += row.numbers.size() == 6 && row.numbers[4] < 0;
  EXPECT_EQ(withoutHeldEnd, 4);
}

// By default the demo prints a short page: a header, one row per group (seams, how many are within
// the targets before and after, the report's words for them, which count every seam once) and a
// line for each crease whose angle moved or each group's kinked seams, saying why. `--help` prints
// the usage at once.
TEST(DemoSummary, OneRowPerGroupInTheReportsWords) {
  const DemoRun r = RunDemo("");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::istringstream in(r.out);
  std::string line;
  std::vector<std::string> rows, notes;
  while (std::getline(in, line)) {
    if (line.empty() || line.rfind("SeamWeld demo:", 0) == 0 || line.rfind("group ", 0) == 0) continue;
    (line.rfind("  ", 0) == 0 ? notes : rows).push_back(line);
  }
  ASSERT_EQ(rows.size(), 6u) << r.out;
  EXPECT_LT(notes.size(), 10u) << r.out;
  EXPECT_EQ(r.out.find("==== "), std::string::npos);  // no per-seam table ...
  EXPECT_EQ(r.out.find("boundary: "), std::string::npos);  // ... and no per-side report
  for (const std::string& row : rows) {
    std::istringstream words(row.substr(22));
    int seams = -1, before = -1, after = -1;
    words >> seams >> before >> after;
    ASSERT_GT(seams, 0) << row;
    EXPECT_EQ(after, seams) << row;  // every sample group heals whole
    int counted = 0;
    for (const char* w : {"Successful healing", "Healed to positional tolerance, but not tangential tolerance",
                          "Healed to tangential tolerance", "Not healed to both"}) {
      const size_t at = row.find(w);
      if (at == std::string::npos) continue;
      const size_t start = row.rfind(' ', at - 2) + 1;
      counted += std::stoi(row.substr(start, at - start));
    }
    EXPECT_EQ(counted, seams) << row;
  }
  for (const std::string& note : notes)
    EXPECT_TRUE(note.find("only near an end") != std::string::npos || note.find("a crease, closed in position") != std::string::npos)
        << note;
  const DemoRun help = RunDemo("--help");
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.out.rfind("usage: seamweld_demo [options]\n", 0), 0u) << help.out;
  EXPECT_NE(help.out.find("--seams"), std::string::npos);
}

}  // namespace
