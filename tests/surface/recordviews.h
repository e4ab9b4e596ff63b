// Test helpers: plain views of a record for comparison: its shape data, the curves of its
// curve list and of a trim loop in list order, and the distance between two shapes.
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

#include "bspline/smake.h"
#include "tests/support/builders.h"

// Knot vectors and coefficients, for bitwise comparison before and after a call.
inline std::vector<double> Snapshot(const Bspline* b) {
  std::vector<double> v(b->knotsU, b->knotsU + NumKnotsU(b));
  if (b->kind == 2) v.insert(v.end(), b->knotsV, b->knotsV + NumKnotsV(b));
  const int n = NumCtrlU(b) * (b->kind == 2 ? NumCtrlV(b) : 1);
  for (double** M : {b->X, b->Y, b->Z, b->W})
    if (M) v.insert(v.end(), M[0], M[0] + n);
  return v;
}

// Frees a list's nodes; the curves stay where they are.
inline void FreeNodeList(BsplineList* n) {
  for (BsplineList* next; n; n = next) {
    next = n->next;
    Free(n);
  }
}

inline std::vector<Bspline*> Items(const BsplineList* n) {
  std::vector<Bspline*> v;
  for (; n; n = n->next) v.push_back(n->item);
  return v;
}
inline std::vector<Bspline*> ListItems(const Bspline* s) { return Items(s->curves); }
inline std::vector<Bspline*> LoopItems(const TrimList* loop) { return Items(loop->loopCurves); }

// Whether the curve list of s and the trim loop hold exactly these curves, in this order.
inline bool ListAndLoopAre(const Bspline* s, const TrimList* loop, const std::vector<Bspline*>& list,
                           const std::vector<Bspline*>& items) {
  return ListItems(s) == list && LoopItems(loop) == items;
}

// Largest coordinate difference between a and b, curves at 41 parameters and surfaces on a
// 41 x 11 grid: at the same parameters of a's domain, or (mapped) at corresponding parameters
// of each one's own domain.
inline double ShapeDiff(const Bspline* a, const Bspline* b, bool mapped = false) {
  double worst = 0.0;
  const bool srf = a->kind == 2;
  for (int i = 0; i <= 40; ++i)
    for (int j = 0; j <= (srf ? 10 : 0); ++j) {
      double p[2][3];
      for (int k = 0; k < 2; ++k) {
        const Bspline* o = k && mapped ? b : a;
        const double u = o->umin + i / 40.0 * (o->umax - o->umin), v = o->vmin + j / 10.0 * (o->vmax - o->vmin);
        srf ? RefEvalSurface(k ? b : a, u, v, p[k]) : RefEvalCurve(k ? b : a, u, p[k]);
      }
      for (int k = 0; k < 3; ++k) worst = std::max(worst, std::fabs(p[0][k] - p[1][k]));
    }
  return worst;
}
