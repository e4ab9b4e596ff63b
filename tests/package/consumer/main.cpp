// Builds a cubic Bezier curve with the installed kernel, evaluates it against Bernstein's form and
// loads the installed plug-in; exit status 0 when everything agrees.
#include <dlfcn.h>

#include <cmath>
#include <cstdio>

#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "bspline/smake.h"

int main() {
  const double px[4] = {0, 1, 2, 4}, py[4] = {0, 2, -1, 0}, pz[4] = {1, 0, 3, 2};
  Bspline* c = MallocNullBspline();
  if (!c) return 1;
  c->kind = 1;
  c->dimension = 3;
  c->degreeU = 3;
  if (AllocateBsplineArrays(c) < 0) return 1;
  for (int i = 0; i < 8; ++i) c->knotsU[i] = i < 4 ? 0.0 : 1.0;
  for (int i = 0; i < 4; ++i) {
    c->X[0][i] = px[i];
    c->Y[0][i] = py[i];
    c->Z[0][i] = pz[i];
  }
  c->umin = 0.0;
  c->umax = 1.0;

  int bad = 0;
  for (double t = 0.0; t <= 1.0; t += 0.125) {
    const double s = 1.0 - t, b[4] = {s * s * s, 3 * s * s * t, 3 * s * t * t, t * t * t};
    double ref[3] = {0, 0, 0}, out[3];
    for (int i = 0; i < 4; ++i) {
      ref[0] += b[i] * px[i];
      ref[1] += b[i] * py[i];
      ref[2] += b[i] * pz[i];
    }
    Eval3DPointOnCurve3Array(c, t, 0, out);
    for (int k = 0; k < 3; ++k) bad += !(std::fabs(out[k] - ref[k]) <= 1e-12);
  }
  FreeBspline(c);
  if (bad) {
    fprintf(stderr, "curve evaluation disagrees with the Bernstein form in %d coordinates\n", bad);
    return 1;
  }

  void* plugin = dlopen(SEAMWELD_PLUGIN, RTLD_NOW | RTLD_LOCAL);
  if (!plugin) {
    fprintf(stderr, "cannot load %s: %s\n", SEAMWELD_PLUGIN, dlerror());
    return 1;
  }
  const bool entries = dlsym(plugin, "initSeamWeld") && dlsym(plugin, "editSeamWeld") &&
                       dlsym(plugin, "updateSeamWeld") && dlsym(plugin, "cleanupSeamWeld");
  dlclose(plugin);
  if (!entries) {
    fprintf(stderr, "%s lacks an entry point\n", SEAMWELD_PLUGIN);
    return 1;
  }
  printf("installed kernel and plug-in work\n");
  return 0;
}
