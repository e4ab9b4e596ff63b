#include "surface/srfdup.h"

#include <algorithm>
#include <cmath>

#include "bspline/crvlist.h"
#include "bspline/nubs.h"
#include "bspline/refines2.h"
#include "bspline/srfgrid.h"
#include "curve/crvutil.h"
#include "foundation/coreglob.h"
#include "foundation/onelink.h"
#include "foundation/umalloc.h"
#include "platform/tstubs.h"
#include "surface/srfpick.h"
#include "surface/srfutils.h"
#include "surface/trimutils.h"

namespace {

constexpr int kOuterPollEvery = 500;  // user-break poll interval of the box pass
constexpr int kTestPollEvery = 200;   // and of the pairwise duplicate tests
constexpr int kLoopSamples = 5;       // chord-length samples per trim loop
constexpr int kSideSamples = 3;       // samples per side of a natural boundary
constexpr int kRefineIterations = 7;

double Dist2(const double a[3], const double b[3]) {
  const double d[3] = {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
  return d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
}

// p projected on b: its foot q and parameters; false when the projection fails or lands farther
// than tol.
bool ProjectsWithin(Bspline* b, const double p[3], double** gx, double** gy, double** gz, double tol,
                    double q[3], double* u, double* v) {
  double d, e;
  if (GetClosestPointOnSurfaceResult(b, p, u, v, q, &d, gx, gy, gz, &e) != 0) return false;
  return std::fabs(d) <= tol;
}

// Appends the (u, v) samples of the arrays to the boundary samples.
void Append(const double* us, const double* vs, int m, double* u, double* v, int* count) {
  for (int k = 0; k < m; ++k) {
    u[*count] = us[k];
    v[*count] = vs[k];
    ++*count;
  }
}

// Boundary samples of a in parameters: its natural boundary, or its first outer loop, then
// every hole. Room for kLoopSamples per loop + 20. -2 when a sampling fails.
int BoundarySamples(Bspline* a, double** u, double** v, int* count) {
  int loops = 0;
  TrimList* outer = nullptr;
  for (TrimList* t = a->trims; t; t = t->next) {
    ++loops;
    if (!t->hole && !outer) outer = t;
  }
  *u = MallocArray<double>(kLoopSamples * loops + 20);
  *v = MallocArray<double>(kLoopSamples * loops + 20);
  if (!*u || !*v) return -2;
  *count = 0;
  double *us = nullptr, *vs = nullptr;
  if (a->trims && outer) {
    if (SampleTrimCurveUniformChordLength(outer, kLoopSamples, &us, &vs) != 0) return -2;
    Append(us, vs, kLoopSamples, *u, *v, count);
  } else {
    int m = 0;
    if (SampleSurfaceBndry(a, kSideSamples, &us, &vs, &m) != 0) return -2;
    Append(us, vs, m, *u, *v, count);
  }
  Free(us);
  Free(vs);
  for (TrimList* t = a->trims; t; t = t->next) {
    if (!t->hole) continue;
    if (SampleTrimCurveUniformChordLength(t, kLoopSamples, &us, &vs) != 0) return -2;
    Append(us, vs, kLoopSamples, *u, *v, count);
    Free(us);
    Free(vs);
  }
  return 0;
}

}  // namespace

int BoxesNest(const double b0[6], const double b1[6], double tol) {
  auto inside = [tol](const double* in, const double* out) {
    for (int k = 0; k < 3; ++k)
      if (in[k] + tol < out[k] || in[k + 3] - tol > out[k + 3]) return false;
    return true;
  };
  return inside(b0, b1) || inside(b1, b0) ? 1 : 0;
}

int ClosestPointInTrim(double u, double v, Bspline* s, double out[3]) {
  double p[3];
  Eval3DPointOnSurfArray(s, u, v, 0, 0, p);
  for (int k = 0; k < 3; ++k) out[k] = p[k];
  if (!s->trims) return 0;
  TrimList* chosen = nullptr;
  for (TrimList* t = s->trims; t && !chosen; t = t->next) {
    if (!t->hole) continue;
    double u0 = 0, u1 = 0, v0 = 0, v1 = 0;
    GetCurveListExtremes(t->loopCurves, &u0, &u1, &v0, &v1);
    if (u >= u0 && u <= u1 && v >= v0 && v <= v1) chosen = t;
  }
  for (TrimList* t = s->trims; t && !chosen; t = t->next)
    if (!t->hole) chosen = t;
  if (!chosen) return 0;
  // Every curve's foot is found; the nearest stands for the trimmed surface's nearest point.
  double best = -1.0;
  for (BsplineList* node = chosen->loopCurves; node; node = node->next) {
    Bspline* c = node->item;
    CurveSampleCache cache;
    double t = c->umin, q[3], distSq, stepSq;
    if (cache.Estimate(c, p, &t) != 0) return -2;
    FindClosestPointCurveOnSurf(c, p, q, c->umin, c->umax, &t, &distSq, &stepSq, kRefineIterations);
    EvalCrvOnSrfArray(s, c, t, 0, q);
    const double d = Dist2(p, q);
    if (best < 0.0 || d < best) {
      best = d;
      for (int k = 0; k < 3; ++k) out[k] = q[k];
    }
  }
  return 0;
}

int SurfaceLiesOnSurface(Bspline* a, Bspline* b, double** gx, double** gy, double** gz, double tol) {
  double ua, va, p[3];
  GetSurfArbitraryParamVal(a, &ua, &va);
  Eval3DPointOnSurfArray(a, ua, va, 0, 0, p);
  if (a->trims && !IsPointInTrim(a, ua, va) && ClosestPointInTrim(ua, va, a, p) != 0) return 0;
  double q[3], ub, vb;
  if (!ProjectsWithin(b, p, gx, gy, gz, tol, q, &ub, &vb)) return 0;
  if (b->trims && !IsPointInTrim(b, ub, vb)) {
    if (ClosestPointInTrim(ub, vb, b, q) != 0 || Dist2(p, q) > tol * tol) return 0;
  }
  TrackingScope scope;
  double *us = nullptr, *vs = nullptr;
  int count = 0;
  if (BoundarySamples(a, &us, &vs, &count) != 0) return 0;
  // b's trim is not consulted for the boundary: a patch may end exactly on b's trim curve.
  for (int k = 0; k < count; ++k) {
    Eval3DPointOnSurfArray(a, us[k], vs[k], 0, 0, p);
    if (!ProjectsWithin(b, p, gx, gy, gz, tol, q, &ub, &vb)) return 0;
  }
  return 1;
}

namespace {

// Moves every node of list `from` to group `to` (labels) and puts it in front of heads[to].
void JoinGroups(OneLink** heads, int* label, int from, int to) {
  OneLink* tail = heads[from];
  for (OneLink* node = heads[from]; node; node = node->next) {
    label[node->value] = to;
    tail = node;
  }
  tail->next = heads[to];
  heads[to] = heads[from];
  heads[from] = nullptr;
}

// The projection grids of a candidate group's members (gx, gy, gz per surface in `cache`), freed
// once the group is tested or the search stops.
void FreeMemberGrids(double** cache, const OneLink* members) {
  for (const OneLink* m = members; m; m = m->next)
    FreeSurfaceGrid(&cache[3 * m->value], &cache[3 * m->value + 1], &cache[3 * m->value + 2]);
}

}  // namespace

// Candidates first: surfaces whose boxes nest are chained into candidate groups (a box pass,
// O(n^2) cheap tests). Then, inside each candidate group only, every pair is tested by
// projection both ways and the output groups of duplicates are joined under the smaller id. The
// projection grids of a group's members live only while that group is tested.
int GroupDuplicateSurfaces(Bspline** surfs, int n, const double (*boxes)[6], OneLink** groups,
                           OneLink* pool, double tol) {
  TrackingScope scope;
  int* candidate = MallocArray<int>(n);
  int* label = MallocArray<int>(n);
  OneLink** candHeads = MallocArray<OneLink*>(n);
  OneLink* candPool = MallocArray<OneLink>(n);
  double** cache = CallocArray<double*>(3 * n);  // gx, gy, gz per surface
  if (!candidate || !label || !candHeads || !candPool || !cache) return 0;
  for (int k = 0; k < n; ++k) {
    candidate[k] = k;
    candPool[k] = {nullptr, k};
    candHeads[k] = &candPool[k];
  }
  for (int i = 0; i < n; ++i) {
    if (i % kOuterPollEvery == 0 && user_break()) return 0;
    for (int j = i + 1; j < n; ++j)
      if (candidate[j] != candidate[i] && BoxesNest(boxes[i], boxes[j], tol))
        JoinGroups(candHeads, candidate, candidate[j], candidate[i]);
  }
  for (int k = 0; k < n; ++k) {
    label[k] = k;
    pool[k] = {nullptr, k};
    groups[k] = &pool[k];
  }
  long tests = 0;
  for (int c = 0; c < n; ++c) {
    const OneLink* members = candHeads[c];
    for (const OneLink* a = members; a; a = a->next) {
      for (const OneLink* b = a->next; b; b = b->next) {
        const int ia = a->value, ib = b->value;
        if (label[ia] == label[ib]) continue;  // already one group
        if (++tests % kTestPollEvery == 0 && user_break()) {
          FreeMemberGrids(cache, members);
          return 0;
        }
        double** cb = &cache[3 * ib];
        double** ca = &cache[3 * ia];
        const int same = SurfaceLiesOnSurface(surfs[ia], surfs[ib], cb, cb + 1, cb + 2, tol) ||
                         SurfaceLiesOnSurface(surfs[ib], surfs[ia], ca, ca + 1, ca + 2, tol);
        if (MemoryErrorSet()) {  // a failed projection for want of memory is not an answer
          FreeMemberGrids(cache, members);
          return 0;
        }
        ClearKernelError();  // any other failed projection counted as "not a duplicate"
        if (!same) continue;
        const int keep = std::min(label[ia], label[ib]), other = std::max(label[ia], label[ib]);
        JoinGroups(groups, label, other, keep);
      }
    }
    FreeMemberGrids(cache, members);
  }
  return 1;
}
