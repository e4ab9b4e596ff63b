// docs/host.md quotes every text the plug-in prints: each piece of every string literal of the
// plug-in's source between its format directives (a word or more with a space in it) stands in the
// guide, whitespace and the guide's backticks aside.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

namespace {

std::string Read(const std::string& path) {
  std::ifstream in(path);
  EXPECT_TRUE(in) << path;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string OneSpaced(const std::string& text) { return std::regex_replace(text, std::regex("\\s+"), " "); }

// The string literals of a C++ source, adjacent ones joined as the compiler joins them, escapes
// of quotes undone; comments left out.
std::vector<std::string> Literals(std::string source) {
  source = std::regex_replace(source, std::regex("//[^\n]*"), "");
  std::vector<std::string> out;
  const std::regex literal("\"((?:[^\"\\\\]|\\\\.)*)\"");
  bool joining = false;
  size_t end = 0;
  for (auto it = std::sregex_iterator(source.begin(), source.end(), literal); it != std::sregex_iterator(); ++it) {
    const size_t at = static_cast<size_t>(it->position());
    const bool adjacent = joining && source.find_first_not_of(" \t\n", end) == at;
    std::string text = std::regex_replace((*it)[1].str(), std::regex("\\\\\""), "\"");
    if (adjacent) out.back() += text;
    else out.push_back(text);
    joining = true;
    end = at + static_cast<size_t>(it->length());
  }
  return out;
}

TEST(HostGuide, QuotesEveryTextThePlugInPrints) {
  const std::string root = SEAMWELD_SOURCE_ROOT;
  std::string guide = Read(root + "/docs/host.md");
  guide.erase(std::remove(guide.begin(), guide.end(), '`'), guide.end());
  guide = OneSpaced(guide);
  const std::regex directive("%[-0-9.]*(lld|s|d|g)|\\\\n");
  int pieces = 0;
  for (const std::string& literal : Literals(Read(root + "/healing/plugin/seamweld5.cpp"))) {
    for (auto it = std::sregex_token_iterator(literal.begin(), literal.end(), directive, -1);
         it != std::sregex_token_iterator(); ++it) {
      std::string piece = OneSpaced(it->str());
      piece.erase(0, piece.find_first_not_of(' '));
      piece.erase(piece.find_last_not_of(' ') + 1);
      if (piece.size() < 8 || piece.find(' ') == std::string::npos) continue;
      // SAA2ZK's refusal without a name: no entry point calls it so.
      if (piece == "ERROR : Cannot heal the surface:") continue;
      ++pieces;
      EXPECT_NE(guide.find(piece), std::string::npos) << "docs/host.md does not quote \"" << piece << "\"";
    }
  }
  EXPECT_GT(pieces, 50);
}

}  // namespace
