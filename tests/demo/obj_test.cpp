// The demo host's --obj output: every file a viewer would be handed parses, indexes only vertices
// it has and holds finite coordinates; the seam markers sit at the gaps the demo measured.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct ObjFile {
  std::vector<std::array<double, 3>> vertices;
  int faces = 0, lines = 0, objects = 0;
  std::vector<double> lineLengths;  // of every `l` element, in order
};

// Parses the subset the demo writes (v, f, l, o, comments); any other record or a bad index fails.
ObjFile ParseObj(const fs::path& path) {
  ObjFile obj;
  std::ifstream in(path);
  EXPECT_TRUE(in) << path;
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    std::istringstream s(line);
    std::string tag;
    if (!(s >> tag) || tag[0] == '#') continue;
    const std::string where = path.filename().string() + ":" + std::to_string(number);
    if (tag == "o") {
      std::string name;
      EXPECT_TRUE(s >> name) << where;
      ++obj.objects;
    } else if (tag == "v") {
      std::array<double, 3> p{};
      std::string word;
      for (double& c : p) {
        EXPECT_TRUE(s >> word) << where;
        c = std::strtod(word.c_str(), nullptr);  // reads "nan" and "inf" too, which must not occur
        EXPECT_TRUE(std::isfinite(c)) << where;
      }
      obj.vertices.push_back(p);
    } else if (tag == "f" || tag == "l") {
      std::vector<int> idx;
      for (int i; s >> i;) idx.push_back(i);
      EXPECT_TRUE(s.eof()) << where;
      EXPECT_GE(idx.size(), tag == "f" ? 3u : 2u) << where;
      for (int i : idx) EXPECT_TRUE(i >= 1 && i <= static_cast<int>(obj.vertices.size())) << where;
      if (tag == "f") {
        ++obj.faces;
      } else if (idx.size() == 2 && idx[0] >= 1 && idx[1] >= 1 && idx[0] <= static_cast<int>(obj.vertices.size()) &&
                 idx[1] <= static_cast<int>(obj.vertices.size())) {
        ++obj.lines;
        const auto& a = obj.vertices[idx[0] - 1];
        const auto& b = obj.vertices[idx[1] - 1];
        obj.lineLengths.push_back(std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]));
      }
    } else {
      ADD_FAILURE() << where << ": unexpected record " << tag;
    }
  }
  return obj;
}

class DemoObj : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(::testing::TempDir()) / ("seamweld_obj_" + std::to_string(getpid()));
    fs::remove_all(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // `limits` run first in the same shell.
  int RunDemo(const std::string& args, const std::string& limits = "") {
    const std::string cmd = limits + "exec " + std::string(SEAMWELD_DEMO) + " --obj " + dir_.string() +
                            " " + args + " > " + (dir_.string() + ".log") + " 2>&1";
    const int rc = std::system(("sh -c '" + cmd + "'").c_str());
    std::ifstream log(dir_.string() + ".log");
    log_.assign(std::istreambuf_iterator<char>(log), {});
    fs::remove(dir_.string() + ".log");
    return rc;
  }

  fs::path dir_;
  std::string log_;
};

TEST_F(DemoObj, EverySurfaceAndSeamBeforeAndAfterParsesAndTheMarkersShowTheHeal) {
  ASSERT_EQ(RunDemo("--group all"), 0) << log_;
  // Surfaces per group as the demo builds them; the seams files hold one object per seam.
  const struct {
    const char* group;
    std::vector<std::string> surfaces;
    int seams;
  } groups[] = {{"two", {"patchA", "patchB"}, 1},
                {"grid", {"grid00", "grid01", "grid10", "grid11"}, 4},
                {"tjunction", {"long", "shortL", "shortR"}, 2},
                {"mixed",
                 {"mixed00", "mixed01", "mixed02", "mixed10", "mixed11", "mixed12", "mixed20", "mixed21", "mixed22"},
                 12},
                {"rough", {"g0_0", "g0_1", "g0_2", "g1_0", "g1_1", "g1_2", "g2_0", "g2_1", "g2_2"}, 12},
                {"cad", {"top", "farA", "farB", "wallA", "wallB", "wallC"}, 8}};
  const int quads = 32;
  int files = 0;
  for (const auto& g : groups) {
    for (const std::string& name : g.surfaces) {
      std::vector<std::array<double, 3>> states[2];
      for (int k = 0; k < 2; ++k) {
        const fs::path p = dir_ / (std::string(g.group) + "_" + name + (k ? "_after.obj" : "_before.obj"));
        ASSERT_TRUE(fs::exists(p)) << p;
        const ObjFile obj = ParseObj(p);
        EXPECT_EQ(obj.vertices.size(), static_cast<size_t>((quads + 1) * (quads + 1))) << p;
        EXPECT_EQ(obj.faces, quads * quads) << p;
        EXPECT_EQ(obj.objects, 1) << p;
        states[k] = obj.vertices;
        ++files;
      }
    }
    double worst[2] = {0, 0};
    for (int k = 0; k < 2; ++k) {
      const fs::path p = dir_ / (std::string(g.group) + (k ? "_seams_after.obj" : "_seams_before.obj"));
      ASSERT_TRUE(fs::exists(p)) << p;
      const ObjFile obj = ParseObj(p);
      EXPECT_EQ(obj.objects, g.seams) << p;
      EXPECT_EQ(obj.lines, g.seams) << p;
      EXPECT_EQ(obj.faces, 8 * g.seams) << p;  // an octahedron per seam
      for (double len : obj.lineLengths) worst[k] = std::max(worst[k], len);
      ++files;
    }
    // The gap segments are the measured gaps: about the built-in 0.01 before, the default
    // healing target 0.001 after. The mixed-degree and exported groups start near the target
    // and the rough group has seams the heal cannot close yet; they must not end worse.
    if (std::string(g.group) == "mixed" || std::string(g.group) == "rough" || std::string(g.group) == "cad") {
      EXPECT_LE(worst[1], worst[0] + 1e-5) << g.group;
      continue;
    }
    EXPECT_GT(worst[0], 0.005) << g.group;
    EXPECT_LE(worst[1], 0.001 + 1e-6) << g.group;
  }
  int onDisk = 0;
  for (const auto& e : fs::directory_iterator(dir_)) onDisk += e.path().extension() == ".obj";
  EXPECT_EQ(onDisk, files);
}

TEST_F(DemoObj, AnUnwritableDirectoryFailsTheRun) {
  // A regular file where the directory should be.
  { std::ofstream(dir_.string()) << "x"; }
  EXPECT_NE(RunDemo("--group two"), 0) << log_;
  EXPECT_NE(log_.find("cannot create"), std::string::npos) << log_;
  fs::remove(dir_);
}

// The meshes get the mode the user's umask gives any new file (not mkstemp's private 0600), and
// only DIR itself is made: a DIR whose parent is missing fails the run and makes nothing.
TEST_F(DemoObj, MeshesTakeTheUmaskModeAndOnlyDirIsMade) {
  EXPECT_EQ(RunDemo("--group two", "umask 027; "), 0) << log_;
  const fs::perms mode = fs::status(dir_ / "two_patchA_after.obj").permissions();
  EXPECT_EQ(mode & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  fs::remove_all(dir_);
  const fs::path missing = dir_ / "missing" / "meshes";  // the last --obj stands
  EXPECT_NE(RunDemo("--group two --obj " + missing.string()), 0) << log_;
  EXPECT_NE(log_.find("cannot create " + missing.string()), std::string::npos) << log_;
  EXPECT_FALSE(fs::exists(dir_));
}

// A mesh that cannot be written leaves no file, not even a partial or temporary one, and fails
// the run; the others are written whole. A full disk is a file-size limit (the surface meshes
// exceed it, the small seam files do not); an unwritable path is a directory where a mesh goes.
TEST_F(DemoObj, AFailedWriteLeavesNoPartialFile) {
  for (int full = 1; full >= 0; --full) {
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "two_patchB_after.obj");
    EXPECT_NE(RunDemo("--group two", full ? "trap \"\" XFSZ; ulimit -f 8; " : ""), 0) << log_;
    EXPECT_NE(log_.find("cannot write " + (dir_ / "two_patchB_after.obj").string()), std::string::npos) << log_;
    EXPECT_EQ(fs::exists(dir_ / "two_patchA_before.obj"), !full) << log_;
    int seams = 0;
    for (const auto& e : fs::directory_iterator(dir_)) {
      const std::string name = e.path().filename().string();
      EXPECT_EQ(e.path().extension(), ".obj") << name;  // no temporary left
      if (!e.is_regular_file()) continue;
      const ObjFile obj = ParseObj(e.path());
      const bool seamFile = name.find("_seams_") != std::string::npos;
      seams += seamFile;
      EXPECT_EQ(obj.faces, seamFile ? 8 : 32 * 32) << name;  // none cut short
    }
    EXPECT_EQ(seams, 2);
  }
}

}  // namespace
