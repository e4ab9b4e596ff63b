// Boundary structure of a surface group: each edge's samples, the parameters at which its two
// sides run beside each other.
#include "healing/srfbndr.h"

#include <algorithm>
#include <cmath>

#include "bspline/ctrlnubs.h"
#include "bspline/refines2.h"
#include "healing/srfbndr_internal.h"

using namespace srfbndr_internal;

namespace {

// Dense samples of side B per closest-point search, and the count for a curve of one edge.
constexpr int kMaxCorSample = 50;
constexpr int kSingleEdgeCorSample = 200;

// Points per side that tell which of a seam's two sides drives its samples when their counts tie.
constexpr int kLeadPoints = 9;

// Whether side B of a paired edge drives the samples on a tie of the counts: the side whose
// points over its part of the seam make the shorter polyline (the smoother of two noisy sides,
// whose even samples are not spent on the other's wiggles), then the one whose first point comes
// first by coordinates. A property of the two sides' geometry, not of which surface the group
// lists first, so that a group picked in any order is sampled alike.
bool SideBLeads(const EdgeInfoStruct* e) {
  double length[2] = {0.0, 0.0}, first[2][3] = {};
  for (int side = 0; side < 2; ++side) {
    const CrvInfoStruct* c = side ? e->infoB : e->infoA;
    const double t0 = e->par[BndrSlot(side, 0)], t1 = e->par[BndrSlot(side, 1)];
    double last[3] = {0.0, 0.0, 0.0};
    for (int k = 0; k < kLeadPoints; ++k) {
      double P[3];
      if (EvalPntOnBndryCrv(c, t0 + (t1 - t0) * k / (kLeadPoints - 1), P) != 0) return false;
      if (k > 0) length[side] += std::hypot(P[0] - last[0], P[1] - last[1], P[2] - last[2]);
      if (k == 0) std::copy(P, P + 3, first[side]);
      std::copy(P, P + 3, last);
    }
  }
  if (length[1] != length[0]) return length[1] < length[0];
  return std::lexicographical_compare(first[1], first[1] + 3, first[0], first[0] + 3);
}

// A copy of the edge with its two sides exchanged (the same orientation); it shares the edge's
// arrays.
EdgeInfoStruct SidesExchanged(const EdgeInfoStruct* e) {
  EdgeInfoStruct swapped = *e;
  swapped.infoA = e->infoB;
  swapped.infoB = e->infoA;
  swapped.crvA = e->crvB;
  swapped.crvB = e->crvA;
  std::swap(swapped.sampleA, swapped.sampleB);
  for (int end = 0; end < 2; ++end) {
    swapped.par[BndrSlot(0, end)] = e->par[BndrSlot(1, end)];
    swapped.par[BndrSlot(1, end)] = e->par[BndrSlot(0, end)];
  }
  return swapped;
}

// Side B drives: side A is matched to B's ascending sample parameters pb (nb of them; owned,
// installed or freed) on a copy of the edge with the sides exchanged, and the two lists become
// the edge's, side A's ascending.
int MatchSideAToSideB(EdgeInfoStruct* e, double* pb, int nb) {
  // The copy shares the edge's other arrays: they go first, so that the match cannot free them
  // under the edge.
  FreeEdgeSampleArrays(e);
  e->nSample = 0;
  EdgeInfoStruct swapped = SidesExchanged(e);
  swapped.sampleA = pb;
  swapped.sampleB = nullptr;
  swapped.nSample = nb;
  if (ComputeBndrEdgeCorParVals(&swapped) != 0) {
    Free(swapped.sampleA);
    return -2;
  }
  double* a = swapped.sampleB;
  double* b = swapped.sampleA;
  const int m = swapped.nSample;
  if (!e->orient) {
    // Side A's list must ascend; side B's then descends.
    std::reverse(a, a + m);
    std::reverse(b, b + m);
  }
  e->sampleA = a;
  e->sampleB = b;
  e->nSample = m;
  e->bDrives = 1;
  return 0;
}

}  // namespace

// ===== edge samples ================================================================================

int GetBndrCrvUniformSamplesInIntervals(const CrvInfoStruct* crv, double t0, double t1, int n,
                                        double** params, int* count) {
  if (!params || !count) return -2;
  double lo = 0.0, hi = 0.0;
  if (GetBndrCrvParamMinMax(crv, &lo, &hi) != 0) return -2;
  if (n < 3) n = 2;
  t0 = std::clamp(t0, lo, hi);
  t1 = std::clamp(t1, lo, hi);
  if (t1 < t0) std::swap(t0, t1);
  double* p = nullptr;
  UntrackedScope own;
  if (!CallocArrayUnlessFailed(p, n + kRoom)) return -2;
  const double step = (t1 - t0) / (n - 1);
  p[0] = t0;
  for (int i = 1; i < n - 1; ++i) p[i] = t0 + i * step;
  p[n - 1] = t1;
  *params = p;
  *count = n;
  return 0;
}

int EvalSamplePntsOnBndryCrvInterval(const CrvInfoStruct* crv, double t0, double t1, int n,
                                     double** params, double** points, int* count) {
  if (!params || !points || !count) return -2;
  double lo = 0.0, hi = 0.0;
  if (GetBndrCrvParamMinMax(crv, &lo, &hi) != 0) return -2;
  if (n < 2) n = 2;
  t0 = std::clamp(t0, lo, hi);
  t1 = std::clamp(t1, lo, hi);
  const double step = std::fabs(t1 - t0) / (n - 1);
  TrackingScope scope;
  double* p = nullptr;
  double* q = nullptr;
  if (!CallocArrayUnlessFailed(p, n + kRoom) || !CallocArrayUnlessFailed(q, 3 * (n + kRoom))) return -2;
  int m = 0;
  p[m++] = t0;
  if (t1 > t0)
    for (int k = 1; m < n + kRoom - 1 && t0 + k * step < t1; ++k) p[m++] = t0 + k * step;
  p[m++] = t1;
  for (int i = 0; i < m; ++i)
    if (EvalPntOnBndryCrv(crv, p[i], q + 3 * i) != 0) return -2;
  scope.keep();
  *params = p;
  *points = q;
  *count = m;
  return 0;
}

namespace {

// FindBndrCrvClosestPntSearch; *size3 is the control-point diagonal of a natural side's 3D
// form, taken at the first search that needs it (negative until then) and kept for the next
// searches on the same form: reading every control point cost as much as the search itself.
int ClosestPntOnSide(CrvInfoStruct* crv, double* size3, const double P[3], int n, const double* params,
                     const double* points, double lo, double hi, double point[3], double* t) {
  if (!crv || !point || !t) return -2;
  double start = 0.5 * (lo + hi);
  double best = 1.797693e308;
  for (int i = 0; params && points && i < n; ++i) {
    if (params[i] < lo || params[i] > hi) continue;
    const double* q = points + 3 * i;
    const double dx = q[0] - P[0], dy = q[1] - P[1], dz = q[2] - P[2];
    const double d2 = dx * dx + dy * dy + dz * dz;
    if (d2 < best) {
      best = d2;
      start = params[i];
    }
  }
  double tt = start, C[3], distSq = 0.0, stepSq = 0.0;
  if (crv->side == 0) {
    if (!crv->node || !crv->node->item) return -2;
    if (FindClosestPointCurveOnSurf(crv->node->item, P, C, lo, hi, &tt, &distSq, &stepSq, 6) != 0)
      return -2;
  } else {
    // The form is kept on the curve: the next search (and the sample tables) use it too.
    if (!crv->crv3) crv->crv3 = GetBndrCrvCurve3Form(crv);
    if (!crv->crv3) return -2;
    if (*size3 < 0.0) *size3 = ControlPointDiagonal(crv->crv3);
    // A refinement that did not converge may have wandered: the dense sample stands.
    if (FindClosestPointCurve3OfSize(crv->crv3, *size3, P, C, lo, hi, &tt, &distSq, &stepSq, 6) != 0) tt = start;
  }
  tt = std::clamp(tt, lo, hi);
  *t = tt;
  return EvalPntOnBndryCrv(crv, tt, point);
}

}  // namespace

int FindBndrCrvClosestPntSearch(CrvInfoStruct* crv, double x, double y, double z, int n,
                                const double* params, const double* points, double lo, double hi,
                                double point[3], double* t) {
  const double P[3] = {x, y, z};
  double size3 = -1.0;
  return ClosestPntOnSide(crv, &size3, P, n, params, points, lo, hi, point, t);
}

int ComputeBndrEdgeCorParVals(EdgeInfoStruct* e) {
  if (!e || e->nSample < 1 || !e->sampleA) return -2;
  if (!IsPaired(e)) return 0;
  CrvInfoStruct* B = e->infoB;
  double bmin = 0.0, bmax = 0.0;
  if (GetBndrCrvParamMinMax(B, &bmin, &bmax) != 0) return -2;
  const double eps = 1e-6 * std::fabs(bmax - bmin);
  const double lo = std::min(e->par[BndrSlot(1, 0)], e->par[BndrSlot(1, 1)]);
  const double hi = std::max(e->par[BndrSlot(1, 0)], e->par[BndrSlot(1, 1)]);
  const int dense = B->nEdge < 2 ? kSingleEdgeCorSample : kMaxCorSample;

  TrackingScope scope;
  double* dp = nullptr;
  double* dq = nullptr;
  int nd = 0;
  if (EvalSamplePntsOnBndryCrvInterval(B, lo, hi, dense, &dp, &dq, &nd) != 0) return -2;
  const int room = e->nSample + kRoom;
  double* newA = nullptr;
  double* newB = nullptr;
  if (!CallocArrayUnlessFailed(newA, room) || !CallocArrayUnlessFailed(newB, room)) {
    Free(dp);
    Free(dq);
    return -2;
  }
  const bool same = e->orient != 0;
  int m = 0;
  newA[m] = e->par[BndrSlot(0, 0)];
  newB[m++] = same ? lo : hi;
  double prev = newB[0];
  // Side-B matches stay monotone along the edge; a match that would fold back or sit on an
  // end of the remaining interval is dropped.
  const double a0 = std::min(e->par[BndrSlot(0, 0)], e->par[BndrSlot(0, 1)]);
  const double a1 = std::max(e->par[BndrSlot(0, 0)], e->par[BndrSlot(0, 1)]);
  double sizeB = -1.0;  // side B's form does not change along the matches
  for (int i = 0; i < e->nSample && m < room - 1; ++i) {
    // Side A's end parameters are the first and last entries already: matching them again
    // (when the two pieces' ends differ) would repeat a side-A parameter.
    if (!(e->sampleA[i] > a0 && e->sampleA[i] < a1)) continue;
    double PA[3], PB[3], t = 0.0;
    if (EvalPntOnBndryCrv(e->infoA, e->sampleA[i], PA) != 0) continue;
    const double a = same ? prev : lo;
    const double b = same ? hi : prev;
    if (ClosestPntOnSide(B, &sizeB, PA, nd, dp, dq, a, b, PB, &t) != 0) continue;
    t = std::clamp(t, a, b);
    if (t - a < eps || b - t < eps) continue;
    newA[m] = e->sampleA[i];
    newB[m++] = t;
    prev = t;
  }
  newA[m] = e->par[BndrSlot(0, 1)];
  newB[m++] = same ? hi : lo;
  Free(dp);
  Free(dq);
  // A failed evaluation above may have been a failed allocation: then nothing is replaced.
  if (KernelFailed()) return -2;
  scope.keep();
  // Averaged arrays sized for fewer samples would be read past their end.
  if (m > e->nSample) FreeEdgeAvgArrays(e);
  FreeAndNull(e->sampleA);
  FreeAndNull(e->sampleB);
  e->sampleA = newA;
  e->sampleB = newB;
  e->nSample = m;
  return 0;
}

int ComputeBndrEdgeParamSamples(EdgeInfoStruct* e, int uniform, int n) {
  (void)uniform;  // the sampler always works in uniform mode
  if (!e || !e->infoA) return -2;
  // A curve that is one edge gets at least as many samples as its control net can bend.
  auto countFor = [n](const CrvInfoStruct* c, int extra) {
    if (c->nEdge == 1 && c->crv3) return std::max(n, NumCtrlU(c->crv3) * c->crv3->degreeU + extra);
    return n;
  };
  auto install = [e](double* a, double* b, int count) {
    FreeEdgeSampleArrays(e);  // averaged arrays and tables of the old samples are stale
    e->sampleA = a;
    e->sampleB = b;
    e->nSample = count;
    e->bDrives = 0;
  };
  // The sample lists below are owned blocks (outside any scope): every path frees or installs them.
  double* pa = nullptr;
  int na = 0;
  if (GetBndrCrvUniformSamplesInIntervals(e->infoA, e->par[BndrSlot(0, 0)], e->par[BndrSlot(0, 1)],
                                          countFor(e->infoA, IsPaired(e) ? 4 : 1), &pa, &na) != 0)
    return -2;
  if (!IsPaired(e)) {
    install(pa, nullptr, na);
    return 0;
  }
  double* pb = nullptr;
  int nb = 0;
  if (GetBndrCrvUniformSamplesInIntervals(e->infoB, e->par[BndrSlot(1, 0)], e->par[BndrSlot(1, 1)],
                                          countFor(e->infoB, 4), &pb, &nb) != 0) {
    Free(pa);
    return -2;
  }
  if (nb > na || (nb == na && SideBLeads(e))) {
    Free(pa);
    return MatchSideAToSideB(e, pb, nb);
  }
  Free(pb);
  install(pa, nullptr, na);
  if (ComputeBndrEdgeCorParVals(e) != 0) {
    FreeAndNull(e->sampleA);
    e->nSample = 0;
    return -2;
  }
  return 0;
}

int ComputeBndrEdgeParamSamplesAndNubVals(EdgeInfoStruct* e, int uniform, int n) {
  if (!e) return -2;
  if (ComputeBndrEdgeParamSamples(e, uniform, std::max(n, 2)) != 0) return -2;
  if (e->nSample < 1 || !e->infoA) return -2;
  return ComputeBndrEdgeNubVals(e);
}

namespace {

// SampleNewBndryStruct, of the unpaired edges alone when `unpairedOnly`.
int SampleBndryStructEdges(BndrStruct* bs, int n, bool unpairedOnly) {
  if (!bs) return -2;
  const int paired = n < 3 ? 2 : n;
  int single = std::max(n, 2) / 4;
  if (single < 51) single = 50;
  for (int i = 0; i < bs->nEdge; ++i) {
    EdgeInfoStruct* e = &bs->edges[i];
    if (unpairedOnly && e->paired) continue;
    if (ComputeBndrEdgeParamSamplesAndNubVals(e, 1, e->paired ? paired : single) != 0) return -2;
  }
  return 0;
}

}  // namespace

int SampleNewBndryStruct(BndrStruct* bs, int n) { return SampleBndryStructEdges(bs, n, false); }

int SampleNewBndryStructUnpaired(BndrStruct* bs, int n) { return SampleBndryStructEdges(bs, n, true); }

int ReSampleBndrEdgeParams(EdgeInfoStruct* e) {
  if (!e || e->nSample < 1 || !e->sampleA) return -2;
  if (!IsPaired(e)) return 0;
  if (e->bDrives && e->sampleB) {
    // The side that drove keeps its samples; the other is matched to them again, on a copy with
    // the sides exchanged that does not share the edge's averaged arrays (kept as side B's match
    // keeps them).
    const int was = e->nSample;
    if (!e->orient) std::reverse(e->sampleB, e->sampleB + was);
    EdgeInfoStruct swapped = SidesExchanged(e);
    swapped.avgX = swapped.avgY = swapped.avgZ = nullptr;
    swapped.avgNx = swapped.avgNy = swapped.avgNz = nullptr;
    if (ComputeBndrEdgeCorParVals(&swapped) != 0) {
      // The match kept the lists: side B's goes back to its order.
      if (!e->orient) std::reverse(e->sampleB, e->sampleB + was);
      return -2;
    }
    e->sampleA = swapped.sampleB;
    e->sampleB = swapped.sampleA;
    e->nSample = swapped.nSample;
    if (!e->orient) {
      std::reverse(e->sampleA, e->sampleA + e->nSample);
      std::reverse(e->sampleB, e->sampleB + e->nSample);
    }
    if (e->nSample > was) FreeEdgeAvgArrays(e);
    return ComputeBndrEdgeNubVals(e);
  }
  FreeAndNull(e->sampleB);
  if (ComputeBndrEdgeCorParVals(e) != 0) return -2;
  return ComputeBndrEdgeNubVals(e);
}

int ReSampleNewBndryStruct(BndrStruct* bs) {
  if (!bs) return -2;
  for (int i = 0; i < bs->nEdge; ++i)
    if (ReSampleBndrEdgeParams(&bs->edges[i]) != 0) return -2;
  return 0;
}
