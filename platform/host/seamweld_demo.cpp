// A small stand-in host: loads the plug-in library at run time, builds sample surface groups in
// the stand-in scene, drives the four entry points as the host would (init, the dialog's OK,
// one update per pick) and prints the gaps and normal angles of every seam before and after,
// measured without the kernel. With --obj it also writes the surfaces before and after as meshes.
#include <dlfcn.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "demo_usage.h"
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
  short report = 0;   // the plug-in's per-side report
  bool seams = false;  // a table of every seam after each group's line
  std::string objDir;  // empty: no meshes
};

// The usage text is platform/host/demo_usage.txt, which scripts/demo prints too, before building.
void Usage(FILE* out) { fputs(kDemoUsage, out); }

const char* const kGroups[] = {"two", "grid", "tjunction", "mixed", "rough", "cad"};
const char* const kContinuities[] = {"position", "tangency", "curvature", "none"};

bool OneOf(const std::string& v, const char* const* names, size_t n) {
  return std::find_if(names, names + n, [&](const char* name) { return v == name; }) != names + n;
}

// A number the plug-in can take: the whole text is read, it is finite and a float holds it, and
// it is above 0 (at least 0 where zeroWorks); a value a float rounds to 0 counts as 0.
bool ParseValue(const std::string& option, const char* text, bool zeroWorks, float* out) {
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text, &end);
  const char* problem = nullptr;
  if (end == text || *end != '\0') problem = "is not a number";
  else if (!std::isfinite(v) || std::fabs(v) > FLT_MAX) problem = "is not a finite single-precision number";
  else if (v < 0.0) problem = zeroWorks ? "must be at least 0" : "must be above 0";
  else if (!zeroWorks && static_cast<float>(v) == 0.0f) problem = "must be above 0";
  if (problem) {
    fprintf(stderr, "%s %s: the value %s\n", option.c_str(), text, problem);
    return false;
  }
  *out = static_cast<float>(v);
  return true;
}

// False when the program should stop: after --help (*exitCode 0) or a bad option (2). Every
// option is checked here, before anything is printed.
bool Parse(int argc, char** argv, Options* o, int* exitCode) {
  *exitCode = 2;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    const char* v = nullptr;
    if (a == "--help" || a == "-h") {
      Usage(stdout);
      *exitCode = 0;
      return false;
    }
    if (a == "--report") { o->report = 1; continue; }
    if (a == "--seams") { o->seams = true; continue; }
    static const char* const kWithValue[] = {"--group", "--maxgap", "--maxangle", "--healgap",
                                             "--healangle", "--continuity", "--plugin", "--obj"};
    if (std::find(std::begin(kWithValue), std::end(kWithValue), a) == std::end(kWithValue)) {
      fprintf(stderr, "unknown option %s\n", a.c_str());
      Usage(stderr);
      return false;
    }
    if (i + 1 >= argc) {
      fprintf(stderr, "%s needs a value\n", a.c_str());
      return false;
    }
    v = argv[++i];
    bool ok = true;
    if (a == "--group") {
      o->group = v;
      ok = o->group == "all" || OneOf(o->group, kGroups, std::size(kGroups));
      if (!ok) fprintf(stderr, "--group %s: unknown group (all, two, grid, tjunction, mixed, rough or cad)\n", v);
    } else if (a == "--continuity") {
      o->continuity = v;
      ok = OneOf(o->continuity, kContinuities, std::size(kContinuities));
      if (!ok) fprintf(stderr, "--continuity %s: unknown continuity (position, tangency, curvature or none)\n", v);
    } else if (a == "--maxgap") ok = ParseValue(a, v, false, &o->maxGap);
    else if (a == "--maxangle") ok = ParseValue(a, v, true, &o->maxAngle);
    else if (a == "--healgap") ok = ParseValue(a, v, false, &o->healGap);
    else if (a == "--healangle") ok = ParseValue(a, v, false, &o->healAngle);
    else if (a == "--obj") o->objDir = v;
    else o->plugin = v;
    if (!ok) return false;
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

// An OBJ file is written under a temporary name beside its place and renamed when complete, so
// that a failed write (a full disk, a path that cannot be written) leaves no partial file.
struct ObjFile {
  FILE* f = nullptr;
  std::string path, temporary;
};

bool OpenObj(const std::string& path, ObjFile* obj) {
  obj->path = path;
  obj->temporary = path + ".XXXXXX";
  const int fd = mkstemp(obj->temporary.data());
  // mkstemp makes the file private (0600); the mesh gets the mode any new file of the user gets.
  const mode_t mask = umask(0);
  umask(mask);
  if (fd >= 0 && (fchmod(fd, 0666 & ~mask) != 0 || !(obj->f = fdopen(fd, "w")))) close(fd);
  if (!obj->f) {
    if (fd >= 0) unlink(obj->temporary.c_str());
    fprintf(stderr, "cannot write %s\n", path.c_str());
    return false;
  }
  return true;
}

bool CloseObj(ObjFile* obj) {
  const bool written = !ferror(obj->f) && fflush(obj->f) == 0;
  const bool closed = fclose(obj->f) == 0;
  obj->f = nullptr;
  if (!written || !closed || rename(obj->temporary.c_str(), obj->path.c_str()) != 0) {
    unlink(obj->temporary.c_str());
    fprintf(stderr, "cannot write %s\n", obj->path.c_str());
    return false;
  }
  return true;
}

// The surface on a (kObjQuads + 1)^2 grid of its parameter domain, as quads.
bool WriteSurfaceObj(const std::string& path, int element, const char* state) {
  ObjFile obj;
  if (!OpenObj(path, &obj)) return false;
  FILE* f = obj.f;
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
  return CloseObj(&obj);
}

// One object per seam at its worst gap: the segment from side A's sample to the closest point of
// side B (a line, as short as the gap) and a small octahedron around side A's sample, so that
// viewers that draw only faces show it too.
bool WriteSeamsObj(const std::string& path, const SampleGroup& g, const std::vector<SeamMeasure>& m,
                   double markerSize, const char* state) {
  ObjFile obj;
  if (!OpenObj(path, &obj)) return false;
  FILE* f = obj.f;
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
  return CloseObj(&obj);
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

SampleGroup BuildGroup(const std::string& which) {
  if (which == "two") return BuildTwoPatchGroup(0.01, 3.0);
  if (which == "grid") return BuildGridGroup(0.01);
  if (which == "mixed") return BuildMixedDegreeGroup(1, 0.0006);
  if (which == "rough") {
    // Shared rows jittered by +-0.005 in z and +-0.001 in x and y: seams open by up to about
    // 0.01 and kinked by several degrees, some beyond MAXANGLE (creases, healed in position).
    SampleGroup g = BuildRoughGrid(3, 8, 0.005, 0.001, 7);
    g.name = "rough 3x3 grid";
    return g;
  }
  if (which == "cad") {
    CadOptions o;
    o.knots = CadKnots::Exporter;
    o.noise = 1e-4;
    SampleGroup g = AddCadGroup(MakeCadGroup(CadShape::TJunction, o));
    g.name = "exported T-junction";
    return g;
  }
  return BuildTJunctionGroup(0.01);
}

std::string Counted(size_t n, const char* word) {
  return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

// Side of an element that meets side `side` at its end t = `end` (0 or 1): sides run in
// increasing parameter, so u-min and u-max end on v-min (t = 0) and v-max (t = 1), v-min and
// v-max on u-min and u-max.
int SideAtEnd(int side, int end) {
  if (side == 1 || side == 3) return end ? 4 : 2;
  return end ? 3 : 1;
}

// A side is on the group's outer boundary when no other surface's boundary passes within
// `reach` of its middle.
bool IsOuterSide(const SampleGroup& g, int element, int side, double reach) {
  double mid[3];
  HostSidePoint(ViewHostSurface(element), side, 0.5, mid);
  constexpr int kSamples = 64;
  for (int e : g.elements) {
    if (e == element) continue;
    const HostSurfaceView s = ViewHostSurface(e);
    for (int sd = 1; sd <= 4; ++sd)
      for (int k = 0; k <= kSamples; ++k) {
        double p[3];
        HostSidePoint(s, sd, double(k) / kSamples, p);
        if (std::hypot(p[0] - mid[0], p[1] - mid[1], p[2] - mid[2]) <= reach) return false;
      }
  }
  return true;
}

// With the outer boundary held, a seam's ends on it are shown apart from the rest: the held
// rows limit what the heal may do there, so their angle need not reach the target, and it is
// not kept either: it changes with the rows beside the held ones. The ends are the first and
// last tenth of the seam at an end that lies on the outer boundary.
constexpr double kHeldEndShare = 0.1;

struct SeamAngles {
  double inside = 0.0;  // largest angle away from held ends
  double ends = -1.0;   // largest angle at held ends, -1 when the seam has none
};

SeamAngles SplitAngles(const SeamMeasure& m, const bool held[2]) {
  SeamAngles a;
  const size_t n = m.angles.size();
  for (size_t i = 0; i < n; ++i) {
    const double t = n > 1 ? double(i) / double(n - 1) : 0.0;
    const bool atEnd = (held[0] && t < kHeldEndShare) || (held[1] && t > 1.0 - kHeldEndShare);
    double& slot = atEnd ? a.ends : a.inside;
    slot = std::max(slot, m.angles[i]);
  }
  return a;
}

// A crease's verdict looks along it, not only at its largest angle (which a jittered corner
// may hold): between a tenth and nine tenths of its length, the largest change of the angle at
// one sample, in degrees.
double ChangeAlongSeam(const SeamMeasure& before, const SeamMeasure& after) {
  const size_t n = std::min(before.angles.size(), after.angles.size());
  double change = 0.0;
  for (size_t i = 0; i < n; ++i) {
    const double t = n > 1 ? double(i) / double(n - 1) : 0.5;
    if (t >= kHeldEndShare && t <= 1.0 - kHeldEndShare)
      change = std::max(change, std::fabs(after.angles[i] - before.angles[i]));
  }
  return change;
}

// A crease keeps its angle when no sample along it moved by more than this (degrees).
constexpr double kCreaseKept = 1.0;

// The largest angle between a tenth and nine tenths of a seam's length, degrees. A seam beyond
// MAXANGLE only nearer its ends (the spike of a jittered corner) is smooth along its length: the
// heal smooths it there rather than keep the spike's kink.
double LargestAngleAlong(const SeamMeasure& m) {
  const size_t n = m.angles.size();
  double largest = 0.0;
  for (size_t i = 0; i < n; ++i) {
    const double t = n > 1 ? double(i) / double(n - 1) : 0.5;
    if (t >= kHeldEndShare && t <= 1.0 - kHeldEndShare) largest = std::max(largest, m.angles[i]);
  }
  return largest;
}

// The seams of a group counted by the words the plug-in's report gives their sides when a heal
// leaves them so: a crease is never within HEALANGLE in the report's sense, so one closed in
// position is "Healed to positional tolerance, but not tangential tolerance" though it met
// every target it has.
struct ReportTally {
  size_t healed = 0, positional = 0, creases = 0, tangential = 0, neither = 0;
  void Add(bool gapOk, bool angleOk, bool crease) {
    if (crease && gapOk) ++creases;
    (gapOk && angleOk && !crease ? healed : gapOk ? positional : angleOk && !crease ? tangential : neither) += 1;
  }
  std::string Text() const {
    std::string t;
    const auto add = [&t](size_t n, const char* words) {
      if (!n) return;
      if (!t.empty()) t += "; ";
      t += std::to_string(n) + " " + words;
    };
    add(healed, "Successful healing");
    add(positional, "Healed to positional tolerance, but not tangential tolerance");
    if (creases == positional && creases) t += " (creases: closed in position only)";
    else if (creases) t += " (" + std::to_string(creases) + " of them creases, closed in position only)";
    add(tangential, "Healed to tangential tolerance, but not posiional tolerance");
    add(neither, "Not healed to both positional and tangential tolerance");
    return t;
  }
};

int RunGroup(const Plugin& plugin, const Options& o, const std::string& which) {
  SAAStubReset();
  SampleGroup g = BuildGroup(which);
  SAA_CustomContext ctx = SAAStubCreateContext();
  for (int e : g.elements) SAAStubPick(ctx, e);
  SetValues(ctx, o);

  std::vector<SeamMeasure> before;
  for (const SampleSeam& s : g.seams) before.push_back(MeasureSeam(s));
  const double markerSize = MarkerSize(g);
  bool objOk = o.objDir.empty() || WriteGroupObj(o, which, g, before, markerSize, "before");
  const bool held = o.continuity != "none";
  // Which ends of each seam lie on the outer boundary, from the group as it starts.
  std::vector<std::array<bool, 2>> heldEnds(g.seams.size(), {false, false});
  if (held)
    for (size_t i = 0; i < g.seams.size(); ++i)
      for (int end = 0; end < 2; ++end)
        heldEnds[i][end] =
            IsOuterSide(g, g.seams[i].elemA, SideAtEnd(g.seams[i].sideA, end), o.maxGap + 2.0 * markerSize);

  if (o.seams || o.report)
    printf("==== %s: %s, %s\n", g.name.c_str(), Counted(g.elements.size(), "surface").c_str(),
           Counted(g.seams.size(), "seam").c_str());
  fflush(stdout);
  int status = plugin.init(ctx);
  if (status == 0) status = plugin.edit(ctx);
  if (status == 0) status = SAAStubPressOK(ctx);  // the dialog's OK rebuilds the topology
  for (size_t k = 0; status == 0 && k < g.elements.size(); ++k) {
    SAAStubSetCurrentResult(ctx, static_cast<int>(k));
    status = plugin.update(ctx);  // the last update heals
  }
  fflush(stdout);
  if (o.seams) {
    printf("status %d\n", status);
    // Gaps in the scene's units, angles between the two sides' normals in degrees, both measured
    // by this program; a seam meets the targets when its gap is within HEALGAP and, unless it
    // started above MAXANGLE (a crease, healed in position only), its angle within HEALANGLE.
    if (held) {
      printf("%-30s %23s %25s %25s\n", "", "gap (model units)", "angle inside (degrees)", "at held ends (degrees)");
      printf("%-30s %11s %11s %12s %12s %12s %12s  %s\n", "seam", "before", "after", "before", "after", "before",
             "after", "targets");
    } else {
      printf("%-30s %23s %25s\n", "", "gap (model units)", "normal angle (degrees)");
      printf("%-30s %11s %11s %12s %12s  %s\n", "seam", "before", "after", "before", "after", "targets");
    }
  }
  std::vector<SeamMeasure> afterAll;
  size_t within = 0, withinBefore = 0, creases = 0, creasesKept = 0, kinks = 0, kinksSmoothed = 0;
  ReportTally tally;
  std::string notes;  // a line for each crease whose angle moved, and why
  double kinkFrom = 0.0, kinkAlong = 0.0;  // largest angle of the kinked seams before, along them after
  for (size_t i = 0; i < g.seams.size(); ++i) {
    const SampleSeam& s = g.seams[i];
    const SeamMeasure after = afterAll.emplace_back(MeasureSeam(s));
    const bool ends[2] = {heldEnds[i][0], heldEnds[i][1]};
    const SeamAngles a0 = SplitAngles(before[i], ends), a1 = SplitAngles(after, ends);
    const bool crease = before[i].maxAngle > o.maxAngle;
    const bool gapOk = after.maxGap <= o.healGap;
    const bool angleOk = crease || (held ? a1.inside : after.maxAngle) <= o.healAngle;
    within += gapOk && angleOk;
    withinBefore += before[i].maxGap <= o.healGap && (crease || (held ? a0.inside : before[i].maxAngle) <= o.healAngle);
    tally.Add(gapOk, angleOk, crease);
    std::string label = SAAStubSurfaceAt(s.elemA).name + " " + SideName(s.sideA) + " / " +
                        SAAStubSurfaceAt(s.elemB).name + " " + SideName(s.sideB);
    std::string verdict = gapOk && angleOk ? "met" : !gapOk && !angleOk ? "gap and angle missed"
                                                  : !gapOk              ? "gap missed"
                                                                        : "angle missed";
    char note[256] = "";
    if (crease && LargestAngleAlong(before[i]) <= o.maxAngle) {
      // Still a crease in the report's words, but kinked only near an end: judged by how smooth
      // the heal left it along its length.
      const double along = LargestAngleAlong(after);
      ++kinks;
      kinksSmoothed += along <= o.healAngle;
      char text[96];
      snprintf(text, sizeof text, " kinked only near an end, %s along it (%.2f degrees)",
               along <= o.healAngle ? "smooth" : "not smooth", along);
      verdict += " (crease)";
      verdict += text;
      kinkFrom = std::max(kinkFrom, before[i].maxAngle);
      kinkAlong = std::max(kinkAlong, along);
    } else if (crease) {
      // In the report's words a crease met is "Healed to positional tolerance, but not tangential
      // tolerance": the heal closes it in position and is to leave its angle as it was.
      const double change = ChangeAlongSeam(before[i], after);
      ++creases;
      creasesKept += change <= kCreaseKept;
      char along[96];
      if (change <= kCreaseKept)
        snprintf(along, sizeof along, " in position only, its angle kept within %g degree along it", kCreaseKept);
      else
        snprintf(along, sizeof along, " in position only, its angle changed by up to %.2f degrees along it", change);
      verdict += " (crease)";
      verdict += along;
      if (change > kCreaseKept)
        snprintf(note, sizeof note,
                 "  %s: a crease, closed in position; its angle changed by up to %.2f degrees along it, "
                 "more than the %g degree it is to keep\n",
                 label.c_str(), change, kCreaseKept);
    }
    notes += note;
    if (!o.seams) continue;
    if (held) {
      char endsText[32] = "           -            -";
      if (a0.ends >= 0.0) snprintf(endsText, sizeof endsText, "%12.4f %12.4f", a0.ends, a1.ends);
      printf("%-30s %11.6f %11.6f %12.4f %12.4f %s  %s\n", label.c_str(), before[i].maxGap, after.maxGap, a0.inside,
             a1.inside, endsText, verdict.c_str());
    } else {
      printf("%-30s %11.6f %11.6f %12.4f %12.4f  %s\n", label.c_str(), before[i].maxGap, after.maxGap,
             before[i].maxAngle, after.maxAngle, verdict.c_str());
    }
  }
  if (o.seams) {
    printf("verdict: %zu of %s within HEALGAP and, where smooth, HEALANGLE\n", within,
           Counted(g.seams.size(), "seam").c_str());
    if (creases)
      printf("creases (in the report \"Healed to positional tolerance, but not tangential tolerance\" when met): %zu "
             "of %zu kept their angle within %g degree from a tenth to nine tenths of their length\n",
             creasesKept, creases, kCreaseKept);
    if (kinks)
      printf("seams beyond MAXANGLE only near an end (a corner's kink, healed as smooth along their length): %zu of "
             "%zu within HEALANGLE from a tenth to nine tenths of their length\n",
             kinksSmoothed, kinks);
  } else {
    const std::string verdict = status ? "status " + std::to_string(status) + ": nothing written" : tally.Text();
    printf("%-22s %5zu %7zu %6zu  %s\n", g.name.c_str(), g.seams.size(), withinBefore, within, verdict.c_str());
    printf("%s", notes.c_str());
    if (kinks)
      printf("  %s beyond MAXANGLE only near an end (a corner's kink, up to %.2f degrees): reported as creases, "
             "healed as the smooth seams they are along their length (%.2f degrees at most there)\n",
             Counted(kinks, "seam").c_str(), kinkFrom, kinkAlong);
  }
  if (!o.objDir.empty()) {
    objOk = WriteGroupObj(o, which, g, afterAll, markerSize, "after") && objOk;
    printf("meshes: %s/%s_*_before.obj and _after.obj\n", o.objDir.c_str(), which.c_str());
  }
  int cleanup = plugin.cleanup(ctx);
  if (o.seams || o.report) printf("\n");
  if (status) return status;
  return cleanup ? cleanup : objOk ? 0 : 1;
}

// The plug-in refuses a MAXGAP above a quarter of a group's shortest boundary curve (its own
// boundaries would pair); the demo says so before it starts.
bool MaxGapFits(const Options& o, const std::vector<std::string>& groups) {
  for (const std::string& which : groups) {
    SAAStubReset();
    const SampleGroup g = BuildGroup(which);
    const double limit = 0.25 * ShortestBoundaryCurve(g);
    SAAStubReset();
    if (o.maxGap > limit) {
      fprintf(stderr,
              "--maxgap %g: the value must not exceed %g for group %s, a quarter of its shortest boundary curve\n",
              o.maxGap, limit, which.c_str());
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  int exitCode = 0;
  if (!Parse(argc, argv, &o, &exitCode)) return exitCode;
  std::vector<std::string> groups;
  if (o.group == "all") groups.assign(std::begin(kGroups), std::end(kGroups));
  else groups = {o.group};
  if (!MaxGapFits(o, groups)) return 2;
  if (!o.objDir.empty()) {
    // DIR itself is made when missing, not its parents: a mistyped path fails instead of growing
    // a tree of directories.
    std::error_code ec;
    std::filesystem::create_directory(o.objDir, ec);
    if (ec) {
      fprintf(stderr, "cannot create %s: %s\n", o.objDir.c_str(), ec.message().c_str());
      return 1;
    }
  }
  Plugin plugin;
  if (!Load(o.plugin, &plugin)) return 1;
  printf("SeamWeld demo: MAXGAP %g, MAXANGLE %g, HEALGAP %g, HEALANGLE %g, outer boundary %s\n\n", o.maxGap,
         o.maxAngle, o.healGap, o.healAngle, o.continuity.c_str());
  if (!o.seams && !o.report)
    printf("%-22s %5s %7s %6s  %s\n", "group", "seams", "before", "after",
           "seams within the targets before and after; the report's words for each seam after");
  int worst = 0;
  for (const std::string& g : groups) {
    int s = RunGroup(plugin, o, g);
    if (s && !worst) worst = s;
  }
  return worst ? 1 : 0;
}
