// Trim loops as polylines for point-in-trim tests: each curve of a loop sampled at the start of
// its domain and 5 points per knot span, each loop's polyline closed exactly, and a point counted
// inside a loop when the upward vertical ray from it crosses the polyline an odd number of times.
// The point-in-trim names of surface/trimutils call these; they sit on the curve floor because
// the curve tools (iso polylines and principal axes of trimmed surfaces) test points too.
#pragma once

#include "bspline/smake.h"

// Samples of one trim curve: 5 (interior knots) + 6; 0 (error state -2) for a record that is not
// a curve of sound structure (bsvalid), which the functions below then leave alone.
int TrimCurvePolylineCount(const Bspline* crv);
// The curve's (u, v) samples into us, vs (TrimCurvePolylineCount entries each); t is scratch of
// the same length and receives the sample parameters.
void SampleTrimCurvePolyline(const Bspline* crv, double* t, double* us, double* vs);
int CountTrimLoops(const Bspline* srf);
// us[l], vs[l] for each loop l: per-curve sample arrays (Malloc, the caller's scope). On failure
// the error state is set and later entries stay null.
void TrimLoopPolylines(const Bspline* srf, double*** us, double*** vs);
// 1 when (u, v) is inside every outer loop and outside every hole of the sampled loops.
int PointInTrimPolylines(const Bspline* srf, double u, double v, double*** us, double*** vs);
// Parity of the upward ray's crossings with one loop's polylines.
int LoopPolylineParity(const TrimList* loop, double u, double v, double** us, double** vs);
// Crossings of the upward ray from (u, v) with one curve's polyline.
int CurvePolylineRayCrossings(const Bspline* crv, double u, double v, const double* us,
                              const double* vs);

// The sampled loops of one surface held for a pass of tests (blocks in the caller's scope), with
// the far point of the ray tests: u = 2 umax - umin + rand() jitter, v = the middle + rand()
// jitter, u drawn first. The far point only keeps the C runtime's random sequence as callers
// expect it: the upward ray needs no second point.
struct TrimPolylines {
  const Bspline* srf;
  int loops;  // 0: untrimmed, every point inside
  double*** us;
  double*** vs;
  double far[2];
};
// 0, or -2 (error state set) when the samples cannot be allocated.
int SampleTrimPolylines(const Bspline* srf, double jitter, TrimPolylines* out);
int InsideTrimPolylines(const TrimPolylines* tp, double u, double v);
