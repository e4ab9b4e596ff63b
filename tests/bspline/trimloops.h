// Test helper: hangs a trim loop over given curves on a surface, as the trimming code would.
#pragma once

#include <vector>

#include "bspline/smake.h"
#include "tests/support/builders.h"

// A loop over the curves in this order, appended to the surface's trims.
inline TrimList* AddLoop(Bspline* s, const std::vector<Bspline*>& curves, int hole = 0) {
  TrimList* loop = MallocNullTrimList();
  loop->hole = hole;
  loop->attached = 1;
  BsplineList** tail = &loop->loopCurves;
  for (Bspline* c : curves) {
    *tail = MallocNullBsplineList();
    (*tail)->item = c;
    tail = &(*tail)->next;
  }
  TrimList** at = &s->trims;
  while (*at) at = &(*at)->next;
  *at = loop;
  return loop;
}

// The four straight sides of the box [u0, u1] x [v0, v1] as degree-1 curves on the surface,
// counter-clockwise from (u0, v0) unless clockwise, for AddLoop.
inline std::vector<Bspline*> SquareCurves(Bspline* s, double u0, double v0, double u1, double v1,
                                          bool clockwise = false) {
  const double c[5][2] = {{u0, v0}, {u1, v0}, {u1, v1}, {u0, v1}, {u0, v0}};
  std::vector<Bspline*> sides;
  for (int k = 0; k < 4; ++k) {
    const int a = clockwise ? 4 - k : k, b = clockwise ? 3 - k : k + 1;
    sides.push_back(BuildCurveOnSurface(s, 1, {c[a][0], c[a][1], c[b][0], c[b][1]}));
  }
  return sides;
}
