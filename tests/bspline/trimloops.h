// Test helper: hangs a trim loop over given curves on a surface, as the trimming code would.
#pragma once

#include <vector>

#include "bspline/smake.h"

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
