// Test helpers: plain views of a record for comparison: its shape data and the curves of its
// curve list and of a trim loop, in list order.
#pragma once

#include <vector>

#include "bspline/smake.h"

// Knot vectors and coefficients, for bitwise comparison before and after a call.
inline std::vector<double> Snapshot(const Bspline* b) {
  std::vector<double> v(b->knotsU, b->knotsU + NumKnotsU(b));
  if (b->kind == 2) v.insert(v.end(), b->knotsV, b->knotsV + NumKnotsV(b));
  const int n = NumCtrlU(b) * (b->kind == 2 ? NumCtrlV(b) : 1);
  for (double** M : {b->X, b->Y, b->Z, b->W})
    if (M) v.insert(v.end(), M[0], M[0] + n);
  return v;
}

inline std::vector<Bspline*> ListItems(const Bspline* s) {
  std::vector<Bspline*> v;
  for (BsplineList* n = s->curves; n; n = n->next) v.push_back(n->item);
  return v;
}

inline std::vector<Bspline*> LoopItems(const TrimList* loop) {
  std::vector<Bspline*> v;
  for (BsplineList* n = loop->loopCurves; n; n = n->next) v.push_back(n->item);
  return v;
}
