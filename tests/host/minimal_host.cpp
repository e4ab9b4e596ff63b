// A minimal host: loads the plug-in, puts two bicubic patches with a gap of 0.01 between them in
// the scene, picks both, heals them and prints how far the shared side's points moved.
#include <dlfcn.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "platform/saa_control.h"

using EntryPoint = int (*)(SAA_CustomContext);

// A flat 4 x 4 bicubic patch over [x0, x0 + 1] x [0, 1] at height z. The host's knot vectors
// are the clamped ones less their outermost knot at each end: count + degree - 1 values.
static int AddPatch(const char* name, double x0, double z) {
  SAAStubSurface s;
  s.name = name;
  s.degreeU = s.degreeV = 3;
  s.countU = s.countV = 4;
  s.knotsU = {0, 0, 0, 1, 1, 1};
  s.knotsV = {0, 0, 0, 1, 1, 1};
  for (int j = 0; j < 4; ++j)      // rows are v
    for (int i = 0; i < 4; ++i) {  // u fastest
      const double vertex[4] = {x0 + i / 3.0, j / 3.0, z, 1.0};  // x, y, z, weight (always 1)
      s.vertices.insert(s.vertices.end(), vertex, vertex + 4);
    }
  return SAAStubAddSurface(s);
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: minimal_host PATH/libseamweld5.so\n");
    return 2;
  }
  void* plugin = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (!plugin) {
    fprintf(stderr, "%s\n", dlerror());
    return 1;
  }
  const auto entry = [plugin](const char* name) { return reinterpret_cast<EntryPoint>(dlsym(plugin, name)); };
  EntryPoint init = entry("initSeamWeld"), update = entry("updateSeamWeld"), cleanup = entry("cleanupSeamWeld");
  if (!init || !update || !cleanup) return 1;

  // The right patch's left side lies 0.01 above the left patch's right side.
  const int left = AddPatch("left", 0.0, 0.0), right = AddPatch("right", 1.0, 0.01);
  SAA_CustomContext ctx = SAAStubCreateContext();
  SAAStubPick(ctx, left);
  SAAStubPick(ctx, right);
  SAAStubSetCustomState(ctx, "DUMP", 1);        // print the per-side report
  SAAStubSetCustomFloat(ctx, "MAXGAP", 0.05f);  // sides this close are a seam
  SAAStubSetCustomFloat(ctx, "MAXANGLE", 5.0f);
  SAAStubSetCustomFloat(ctx, "HEALGAP", 0.001f);  // heal until the gap is below this
  SAAStubSetCustomFloat(ctx, "HEALANGLE", 0.5f);
  SAAStubSetCustomState(ctx, "NONE", 1);  // the group's outer boundary may move

  int status = init(ctx);  // reads picks and values, builds the seams
  // One update per pick; the last one heals and writes the control points back.
  for (int k = 0; status == 0 && k < 2; ++k) {
    SAAStubSetCurrentResult(ctx, k);
    status = update(ctx);
  }
  const int done = cleanup(ctx);
  if (status != 0 || done != 0) {
    fprintf(stderr, "the heal failed with status %d\n", status ? status : done);
    return 1;
  }
  // The shared side: the left patch's last column against the right patch's first.
  const std::vector<double>& a = SAAStubSurfaceAt(left).vertices;
  const std::vector<double>& b = SAAStubSurfaceAt(right).vertices;
  double gap = 0.0;
  for (int j = 0; j < 4; ++j) gap = std::fmax(gap, std::fabs(a[4 * (4 * j + 3) + 2] - b[4 * (4 * j) + 2]));
  printf("largest gap along the shared side after the heal: %.3g\n", gap);
  return gap <= 0.001 ? 0 : 1;
}
