// A small stand-in host: loads the plug-in library at run time, builds sample surface groups in
// the stand-in scene, drives the four entry points as the host would (init, the dialog's OK,
// one update per pick) and prints the gaps and normal angles of every seam before and after,
// measured without the kernel. With --obj it also writes the surfaces before and after as meshes.
#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
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
  std::string objDir;  // empty: no meshes
};

void Usage() {
  printf(
      "usage: seamweld_demo [options]\n"
      "  --group all|two|grid|tjunction|mixed   sample group(s) to heal (all)\n"
      "  --maxgap G --maxangle A           topology tolerances (0.05, 5 degrees)\n"
      "  --healgap G --healangle A         healing targets (0.001, 0.5 degrees)\n"
      "  --continuity position|tangency|curvature|none   outer boundary (none)\n"
      "  --no-report                       do not print the per-side report\n"
      "  --plugin PATH                     plug-in library to load\n"
      "  --obj DIR                         write each surface before and after the heal as an OBJ mesh,\n"
      "                                    DIR/<group>_<surface>_before.obj and _after.obj, and the\n"
      "                                    seams' worst gaps as DIR/<group>_seams_before.obj and _after.obj\n");
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
                                             "--healangle", "--continuity", "--plugin", "--obj"};
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
    else if (a == "--obj") o->objDir = v;
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

// Meshes for any 3D viewer, tessellated with the host's own evaluator rather than the kernel's, so
// they show what the host holds. Sizes are in the scene's units.
constexpr int kObjQuads = 32;  // quads per parameter direction

std::string SeamName(const SampleSeam& s) {
  return SAAStubSurfaceAt(s.elemA).name + "_" + SideName(s.sideA) + "_" + SAAStubSurfaceAt(s.elemB).name + "_" +
         SideName(s.sideB);
}

bool CloseObj(FILE* f, const std::string& path) {
  const bool ok = !ferror(f);
  if (fclose(f) != 0 || !ok) {
    fprintf(stderr, "cannot write %s\n", path.c_str());
    return false;
  }
  return true;
}

FILE* OpenObj(const std::string& path) {
  FILE* f = fopen(path.c_str(), "w");
  if (!f) fprintf(stderr, "cannot write %s\n", path.c_str());
  return f;
}

// The surface on a (kObjQuads + 1)^2 grid of its parameter domain, as quads.
bool WriteSurfaceObj(const std::string& path, int element, const char* state) {
  FILE* f = OpenObj(path);
  if (!f) return false;
  const HostSurfaceView s = ViewHostSurface(element);
  const double u0 = s.knotsU[s.pu], u1 = s.knotsU[s.cu], v0 = s.knotsV[s.pv], v1 = s.knotsV[s.cv];
  const int n = kObjQuads;
  fprintf(f, "# SeamWeld demo: surface %s %s the heal, %d x %d quads on its parameter grid\n",
          SAAStubSurfaceAt(element).name.c_str(), state, n, n);
  fprintf(f, "o %s_%s\n", SAAStubSurfaceAt(element).name.c_str(), state);
  for (int j = 0; j <= n; ++j)
    for (int i = 0; i <= n; ++i) {
      double p[3];
      EvalHostSurface(s, u0 + (u1 - u0) * i / n, v0 + (v1 - v0) * j / n, p);
      fprintf(f, "v %.9g %.9g %.9g\n", p[0], p[1], p[2]);
    }
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) {
      const int a = j * (n + 1) + i + 1;  // OBJ indices start at 1
      fprintf(f, "f %d %d %d %d\n", a, a + 1, a + n + 2, a + n + 1);
    }
  return CloseObj(f, path);
}

// One object per seam at its worst gap: the segment from side A's sample to the closest point of
// side B (a line, as short as the gap) and a small octahedron around side A's sample, so that
// viewers that draw only faces show it too.
bool WriteSeamsObj(const std::string& path, const SampleGroup& g, const std::vector<SeamMeasure>& m,
                   double markerSize, const char* state) {
  FILE* f = OpenObj(path);
  if (!f) return false;
  fprintf(f, "# SeamWeld demo: the worst gap of every seam %s the heal\n", state);
  int base = 0;
  for (size_t k = 0; k < g.seams.size(); ++k) {
    const double* a = m[k].gapOnA;
    const double* b = m[k].gapOnB;
    fprintf(f, "# gap %.9g, angle %.6g degrees\no seam_%s_%s\n", m[k].maxGap, m[k].maxAngle,
            SeamName(g.seams[k]).c_str(), state);
    fprintf(f, "v %.9g %.9g %.9g\nv %.9g %.9g %.9g\n", a[0], a[1], a[2], b[0], b[1], b[2]);
    for (int axis = 0; axis < 3; ++axis)
      for (int sign = -1; sign <= 1; sign += 2) {
        double p[3] = {a[0], a[1], a[2]};
        p[axis] += sign * markerSize;
        fprintf(f, "v %.9g %.9g %.9g\n", p[0], p[1], p[2]);
      }
    fprintf(f, "l %d %d\n", base + 1, base + 2);
    // Octahedron tips: base + 3 + 2 * axis for -, + 1 for +.
    const int x0 = base + 3, x1 = base + 4, y0 = base + 5, y1 = base + 6, z0 = base + 7, z1 = base + 8;
    const int faces[8][3] = {{x1, y1, z1}, {y1, x0, z1}, {x0, y0, z1}, {y0, x1, z1},
                             {y1, x1, z0}, {x0, y1, z0}, {y0, x0, z0}, {x1, y0, z0}};
    for (const auto& t : faces) fprintf(f, "f %d %d %d\n", t[0], t[1], t[2]);
    base += 8;
  }
  return CloseObj(f, path);
}

bool WriteGroupObj(const Options& o, const std::string& which, const SampleGroup& g,
                   const std::vector<SeamMeasure>& m, double markerSize, const char* state) {
  bool ok = true;
  for (int e : g.elements)
    ok &= WriteSurfaceObj(o.objDir + "/" + which + "_" + SAAStubSurfaceAt(e).name + "_" + state + ".obj", e, state);
  return ok & WriteSeamsObj(o.objDir + "/" + which + "_seams_" + state + ".obj", g, m, markerSize, state);
}

// A hundredth of the diagonal of the group's control points' bounding box.
double MarkerSize(const SampleGroup& g) {
  double lo[3] = {1e300, 1e300, 1e300}, hi[3] = {-1e300, -1e300, -1e300};
  for (int e : g.elements) {
    const HostSurfaceView s = ViewHostSurface(e);
    for (size_t k = 0; k < s.pts.size(); ++k) {
      lo[k % 3] = std::min(lo[k % 3], s.pts[k]);
      hi[k % 3] = std::max(hi[k % 3], s.pts[k]);
    }
  }
  double d2 = 0;
  for (int c = 0; c < 3; ++c) d2 += (hi[c] - lo[c]) * (hi[c] - lo[c]);
  return 0.01 * std::sqrt(d2);
}

int RunGroup(const Plugin& plugin, const Options& o, const std::string& which) {
  SAAStubReset();
  SampleGroup g = which == "two"         ? BuildTwoPatchGroup(0.01, 3.0)
                  : which == "grid"      ? BuildGridGroup(0.01)
                  : which == "mixed"     ? BuildMixedDegreeGroup(1, 0.0006)
                                         : BuildTJunctionGroup(0.01);
  SAA_CustomContext ctx = SAAStubCreateContext();
  for (int e : g.elements) SAAStubPick(ctx, e);
  SetValues(ctx, o);

  std::vector<SeamMeasure> before;
  for (const SampleSeam& s : g.seams) before.push_back(MeasureSeam(s));
  const double markerSize = MarkerSize(g);
  bool objOk = o.objDir.empty() || WriteGroupObj(o, which, g, before, markerSize, "before");

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
  std::vector<SeamMeasure> afterAll;
  for (size_t i = 0; i < g.seams.size(); ++i) {
    const SampleSeam& s = g.seams[i];
    const SeamMeasure after = afterAll.emplace_back(MeasureSeam(s));
    std::string label = SAAStubSurfaceAt(s.elemA).name + " " + SideName(s.sideA) + " / " +
                        SAAStubSurfaceAt(s.elemB).name + " " + SideName(s.sideB);
    printf("%-26s %12.6f %12.6f %12.4f %12.4f\n", label.c_str(), before[i].maxGap, after.maxGap,
           before[i].maxAngle, after.maxAngle);
  }
  if (!o.objDir.empty()) {
    objOk = WriteGroupObj(o, which, g, afterAll, markerSize, "after") && objOk;
    printf("meshes: %s/%s_*_before.obj and _after.obj\n", o.objDir.c_str(), which.c_str());
  }
  int cleanup = plugin.cleanup(ctx);
  printf("\n");
  if (status) return status;
  return cleanup ? cleanup : objOk ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  int exitCode = 0;
  if (!Parse(argc, argv, &o, &exitCode)) return exitCode;
  if (!o.objDir.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(o.objDir, ec);
    if (ec) {
      fprintf(stderr, "cannot create %s: %s\n", o.objDir.c_str(), ec.message().c_str());
      return 1;
    }
  }
  Plugin plugin;
  if (!Load(o.plugin, &plugin)) return 1;
  printf("SeamWeld demo: MAXGAP %g, MAXANGLE %g, HEALGAP %g, HEALANGLE %g, outer boundary %s\n\n", o.maxGap,
         o.maxAngle, o.healGap, o.healAngle, o.continuity.c_str());
  std::vector<std::string> groups;
  if (o.group == "all") groups = {"two", "grid", "tjunction", "mixed"};
  else groups = {o.group};
  int worst = 0;
  for (const std::string& g : groups) {
    if (g != "two" && g != "grid" && g != "tjunction" && g != "mixed") {
      fprintf(stderr, "unknown group %s\n", g.c_str());
      return 2;
    }
    int s = RunGroup(plugin, o, g);
    if (s && !worst) worst = s;
  }
  return worst ? 1 : 0;
}
