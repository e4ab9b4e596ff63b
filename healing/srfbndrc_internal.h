// Internal to healing/: the helpers the sources of the boundary graph (srfbndrc.cpp and its
// srfbndrc_<stage>.cpp) share: sizes and sample points of the graph, the user-break poll and
// the upkeep of the graph's element ranges and matching records.
#pragma once

#include "bspline/measure.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "healing/srfbndrc.h"
#include "platform/tstubs.h"

namespace srfbndrc_internal {

inline constexpr int kBreakPollEvery = 200;  // user-break poll interval of the group scans
// Lengths are judged against the size of the surface they lie on (its control box diagonal),
// so that the graph is the same in any unit; the shares below are the former absolute values
// at unit size. A span whose squared chord is below kFlatChord2 x size^2 has no line to
// deviate from and is given kFlatChordDev x size.
inline constexpr double kFlatChord2 = 1e-10;
inline constexpr double kFlatChordDev = 1e-6;

// The surface's control box diagonal; a curve without a surface counts as unit size.
inline double SizeOf(const GsrfCrv& c) { return c.srf ? ControlPointDiagonal(c.srf) : 1.0; }

// Whether the user asked to stop, polled every kBreakPollEvery-th step of a scan.
inline bool BreakRequested(int i) { return i % kBreakPollEvery == 0 && user_break() != 0; }

// Index of a curve's last sample in the graph's sample arrays.
inline int LastOf(const GsrfCrv& c) { return c.firstSample + c.nSample - 1; }

// World point of the graph's sample k (the samples are kept as offsets from its origin).
inline void SamplePoint(const Gsrf* g, int k, double p[3]) {
  p[0] = g->origin[0] + g->x[k];
  p[1] = g->origin[1] + g->y[k];
  p[2] = g->origin[2] + g->z[k];
}

// A world coordinate on the axis as the sorted sample coordinates hold it.
inline double AxisKey(const Gsrf* g, int axis, double coord) { return coord - g->origin[axis]; }

// Squared distance between two points.
inline double Dist2(const double a[3], const double b[3]) {
  double d[3];
  VecDiff3(a, b, d);
  return VecDotProd3(d, d);
}

// Gives loops and surfaces their element ranges from the curves' (which are in id order).
inline void SpreadElementRanges(Gsrf* g) {
  int run = 0;
  for (int s = 0; s < g->nSrf; ++s) {
    GsrfSrf& sr = g->srfs[s];
    sr.firstEl = run;
    sr.els = g->els ? g->els + run : nullptr;
    sr.nEl = 0;
    for (int l = sr.firstLoop; l < sr.firstLoop + sr.nLoop; ++l) {
      GsrfLoop& lp = g->loops[l];
      lp.firstEl = run;
      lp.els = g->els ? g->els + run : nullptr;
      lp.nEl = 0;
      for (int c = lp.firstCrv; c < lp.firstCrv + lp.nCrv; ++c) lp.nEl += g->crvs[c].nEl;
      run += lp.nEl;
      sr.nEl += lp.nEl;
    }
  }
}

// Frees the corner matching's vertices, members, break lists and pairs.
inline void FreeMatchingRecords(Gsrf* g) {
  FreeAndNull(g->verts);
  FreeAndNull(g->members);
  FreeAndNull(g->breakHeads);
  FreeAndNull(g->breaks);
  FreeAndNull(g->pairs);
  g->nVert = 0;
  g->nPair = 0;
}

}  // namespace srfbndrc_internal
