// A small stand-in host: loads the plug-in library at run time, builds sample surface groups in
// the stand-in scene, drives the four entry points as the host would (init, the dialog's OK,
// one update per pick) and prints the gaps and normal angles of every seam before and after,
// measured without the kernel.
#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "platform/host/sample_groups.h"
#include "platform/saa_control.h"

namespace {

using EntryPoint = int (*)(SAA_CustomContext);

struct Plugin {
  void* handle = nullptr;
  EntryPoint init = nullptr, edit = nullptr, update = nullptr, cleanup = nullptr;
};

struct Options {
  std::string plugin = SEAMWELD_DEFAULT_PLUGIN;
  std::string group = "all";
  float maxGap = 0.05f, maxAngle = 5.0f, healGap = 0.001f, healAngle = 0.5f;
  std::string continuity = "none";
  short report = 1;
};

void Usage() {
  printf(
      "usage: seamweld_demo [options]\n"
      "  --group all|two|grid|tjunction   sample group(s) to heal (all)\n"
      "  --maxgap G --maxangle A           topology tolerances (0.05, 5 degrees)\n"
      "  --healgap G --healangle A         healing targets (0.001, 0.5 degrees)\n"
      "  --continuity position|tangency|curvature|none   outer boundary (none)\n"
      "  --no-report                       do not print the per-side report\n"
      "  --plugin PATH                     plug-in library to load\n");
}

// False when the program should stop: after --help (*exitCode 0) or a bad option (2).
bool Parse(int argc, char** argv, Options* o, int* exitCode) {
  *exitCode = 2;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto next = [&](const char* what) -> const char* {
      if (i + 1 >= argc) {
        fprintf(stderr, "%s needs a value\n", what);
        return nullptr;
      }
      return argv[++i];
    };
    const char* v = nullptr;
    if (a == "--help" || a == "-h") {
      Usage();
      *exitCode = 0;
      return false;
    }
    if (a == "--no-report") { o->report = 0; continue; }
    static const char* const kWithValue[] = {"--group", "--maxgap", "--maxangle", "--healgap",
                                             "--healangle", "--continuity", "--plugin"};
    if (std::find(std::begin(kWithValue), std::end(kWithValue), a) == std::end(kWithValue)) {
      fprintf(stderr, "unknown option %s\n", a.c_str());
      Usage();
      return false;
    }
    if (!(v = next(a.c_str()))) return false;
    if (a == "--group") o->group = v;
    else if (a == "--maxgap") o->maxGap = std::strtof(v, nullptr);
    else if (a == "--maxangle") o->maxAngle = std::strtof(v, nullptr);
    else if (a == "--healgap") o->healGap = std::strtof(v, nullptr);
    else if (a == "--healangle") o->healAngle = std::strtof(v, nullptr);
    else if (a == "--continuity") o->continuity = v;
    else o->plugin = v;
  }
  return true;
}

bool Load(const std::string& path, Plugin* p) {
  p->handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!p->handle) {
    fprintf(stderr, "cannot load %s: %s\n", path.c_str(), dlerror());
    return false;
  }
  p->init = reinterpret_cast<EntryPoint>(dlsym(p->handle, "initSeamWeld"));
  p->edit = reinterpret_cast<EntryPoint>(dlsym(p->handle, "editSeamWeld"));
  p->update = reinterpret_cast<EntryPoint>(dlsym(p->handle, "updateSeamWeld"));
  p->cleanup = reinterpret_cast<EntryPoint>(dlsym(p->handle, "cleanupSeamWeld"));
  if (!p->init || !p->edit || !p->update || !p->cleanup) {
    fprintf(stderr, "%s does not export the four entry points\n", path.c_str());
    return false;
  }
  return true;
}

void SetValues(SAA_CustomContext ctx, const Options& o) {
  SAAStubSetCustomState(ctx, "DUMP", o.report);
  SAAStubSetCustomFloat(ctx, "MAXGAP", o.maxGap);
  SAAStubSetCustomFloat(ctx, "MAXANGLE", o.maxAngle);
  SAAStubSetCustomFloat(ctx, "HEALGAP", o.healGap);
  SAAStubSetCustomFloat(ctx, "HEALANGLE", o.healAngle);
  const char* names[4] = {"POSITION", "TANGENCY", "CURVATURE", "NONE"};
  const char* keys[4] = {"position", "tangency", "curvature", "none"};
  for (int i = 0; i < 4; ++i) {
    short on = o.continuity == keys[i] ? 1 : 0;
    SAAStubSetCustomState(ctx, names[i], on);
    SAAStubSetDialogState(ctx, 22 + i, on);
  }
  SAAStubSetDialogState(ctx, 12, o.report);
  SAAStubSetDialogFloat(ctx, 14, o.maxGap);
  SAAStubSetDialogFloat(ctx, 16, o.maxAngle);
  SAAStubSetDialogFloat(ctx, 18, o.healGap);
  SAAStubSetDialogFloat(ctx, 20, o.healAngle);
}

const char* SideName(int side) {
  static const char* names[5] = {"?", "u-min", "v-min", "u-max", "v-max"};
  return names[side >= 1 && side <= 4 ? side : 0];
}

int RunGroup(const Plugin& plugin, const Options& o, const std::string& which) {
  SAAStubReset();
  SampleGroup g = which == "two"         ? BuildTwoPatchGroup(0.01, 3.0)
                  : which == "grid"      ? BuildGridGroup(0.01)
                                         : BuildTJunctionGroup(0.01);
  SAA_CustomContext ctx = SAAStubCreateContext();
  for (int e : g.elements) SAAStubPick(ctx, e);
  SetValues(ctx, o);

  std::vector<SeamMeasure> before;
  for (const SampleSeam& s : g.seams) before.push_back(MeasureSeam(s));

  printf("==== %s: %zu surfaces, %zu seams\n", g.name.c_str(), g.elements.size(), g.seams.size());
  fflush(stdout);
  int status = plugin.init(ctx);
  if (status == 0) status = plugin.edit(ctx);
  if (status == 0) status = SAAStubPressOK(ctx);  // the dialog's OK rebuilds the topology
  for (size_t k = 0; status == 0 && k < g.elements.size(); ++k) {
    SAAStubSetCurrentResult(ctx, static_cast<int>(k));
    status = plugin.update(ctx);  // the last update heals
  }
  fflush(stdout);
  printf("status %d\n", status);
  printf("%-26s %12s %12s %12s %12s\n", "seam", "gap before", "gap after", "angle before", "angle after");
  for (size_t i = 0; i < g.seams.size(); ++i) {
    const SampleSeam& s = g.seams[i];
    SeamMeasure after = MeasureSeam(s);
    std::string label = SAAStubSurfaceAt(s.elemA).name + " " + SideName(s.sideA) + " / " +
                        SAAStubSurfaceAt(s.elemB).name + " " + SideName(s.sideB);
    printf("%-26s %12.6f %12.6f %12.4f %12.4f\n", label.c_str(), before[i].maxGap, after.maxGap,
           before[i].maxAngle, after.maxAngle);
  }
  int cleanup = plugin.cleanup(ctx);
  printf("\n");
  return status ? status : cleanup;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  int exitCode = 0;
  if (!Parse(argc, argv, &o, &exitCode)) return exitCode;
  Plugin plugin;
  if (!Load(o.plugin, &plugin)) return 1;
  printf("SeamWeld demo: MAXGAP %g, MAXANGLE %g, HEALGAP %g, HEALANGLE %g, outer boundary %s\n\n", o.maxGap,
         o.maxAngle, o.healGap, o.healAngle, o.continuity.c_str());
  std::vector<std::string> groups;
  if (o.group == "all") groups = {"two", "grid", "tjunction"};
  else groups = {o.group};
  int worst = 0;
  for (const std::string& g : groups) {
    if (g != "two" && g != "grid" && g != "tjunction") {
      fprintf(stderr, "unknown group %s\n", g.c_str());
      return 2;
    }
    int s = RunGroup(plugin, o, g);
    if (s && !worst) worst = s;
  }
  return worst ? 1 : 0;
}
