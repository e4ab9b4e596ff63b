#include "surface/srfline.h"

#include <algorithm>
#include <cmath>

#include "bspline/ctrlnubs.h"
#include "bspline/knots.h"
#include "bspline/measure.h"
#include "bspline/nubs.h"
#include "bspline/refines.h"
#include "curve/crvutil.h"
#include "curve/trimpoly.h"
#include "foundation/coreglob.h"
#include "foundation/geometry.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "surface/srfutils.h"

namespace {

// The most hits a line pick reports.
constexpr int kMaxLineHits = 20;
// The pick grid: enough triangles to find every sheet of a moderately folded surface.
constexpr int kLineGrid = 25;

double Clamp(double x, double lo, double hi) { return x < lo ? lo : x > hi ? hi : x; }

void SurfacePoint(const Bspline* srf, double u, double v, double P[3]) {
  static const int du[1] = {0}, dv[1] = {0};
  double out[1][3];
  EvalPointOnGeometryM(srf, u, v, du, dv, 1, 0, out);
  for (int c = 0; c < 3; ++c) P[c] = out[0][c];
}

// The parameter values of one direction for GetInitialUVArrays (see there) into a new array.
double* GridValues(const Bspline* srf, int dir, int mode, int a, int* n) {
  const bool inV = dir != 0;
  const double lo = inV ? srf->vmin : srf->umin, hi = inV ? srf->vmax : srf->umax;
  if (mode == 1) {
    double* out = MallocArray<double>(a);
    if (!out) return nullptr;
    for (int i = 0; i < a; ++i) out[i] = a > 1 ? lo + i * (hi - lo) / (a - 1) : lo;
    if (a > 1) out[a - 1] = hi;
    *n = a;
    return out;
  }
  const int p = inV ? srf->degreeV : srf->degreeU, m = inV ? srf->interiorV : srf->interiorU;
  const double* K = inV ? srf->knotsV : srf->knotsU;
  double* out = MallocArray<double>(a * (m + 1) + 1);
  if (!out) return nullptr;
  int k = 0;
  for (int s = 0; s <= m; ++s)
    for (int i = 0; i < a; ++i) out[k++] = K[p + s] + i * (K[p + s + 1] - K[p + s]) / a;
  out[k++] = hi;
  *n = k;
  return out;
}

// Newton on the two components of S(u, v) - P across the line's direction D (the true
// Jacobian, a step halved until the miss falls, clamped to the domain) until the step stops
// shrinking; at round-off of the surface's size it is done. Returns the final miss.
double RefineOntoLine(Bspline* srf, const double D[3], const double P[3], double* u, double* v) {
  static const int du[3] = {0, 1, 0}, dv[3] = {0, 0, 1};
  // Two unit vectors across the line.
  double d[3] = {D[0], D[1], D[2]}, e1[3], e2[3];
  VecNormalize3(d, d);
  const double pick[3] = {std::fabs(d[0]) < 0.6 ? 1.0 : 0.0, std::fabs(d[0]) < 0.6 ? 0.0 : 1.0, 0.0};
  VecNormalize3(VecCrossProd3(d, pick, e1), e1);
  VecCrossProd3(d, e1, e2);
  auto miss = [&](double a, double b, double f[2], double J[2][2]) {
    double S[3][3];
    EvalPointOnGeometryM(srf, a, b, du, dv, 3, 0, S);
    const double r[3] = {S[0][0] - P[0], S[0][1] - P[1], S[0][2] - P[2]};
    f[0] = VecDotProd3(e1, r);
    f[1] = VecDotProd3(e2, r);
    J[0][0] = VecDotProd3(e1, S[1]);
    J[0][1] = VecDotProd3(e1, S[2]);
    J[1][0] = VecDotProd3(e2, S[1]);
    J[1][1] = VecDotProd3(e2, S[2]);
    return std::hypot(f[0], f[1]);
  };
  const double roundOff = 1e-14 * ControlPointDiagonal(srf);
  double f[2], J[2][2];
  double err = miss(*u, *v, f, J), lastStep = kNoValue;
  for (int it = 0; it < 50 && err > roundOff; ++it) {
    const double det = J[0][0] * J[1][1] - J[0][1] * J[1][0];
    if (det == 0.0) break;
    double su = -(J[1][1] * f[0] - J[0][1] * f[1]) / det, sv = -(J[0][0] * f[1] - J[1][0] * f[0]) / det;
    bool moved = false;
    for (int half = 0; half < 30; ++half, su *= 0.5, sv *= 0.5) {
      const double nu = Clamp(*u + su, srf->umin, srf->umax), nv = Clamp(*v + sv, srf->vmin, srf->vmax);
      double g[2], K[2][2];
      const double e = miss(nu, nv, g, K);
      if (e < err) {
        const double step = std::hypot(nu - *u, nv - *v);
        *u = nu;
        *v = nv;
        err = e;
        f[0] = g[0];
        f[1] = g[1];
        std::copy(&K[0][0], &K[0][0] + 4, &J[0][0]);
        moved = step < lastStep || it < 3;
        lastStep = step;
        break;
      }
    }
    if (!moved) break;
  }
  return err;
}

// True when (u, v) lies within 1e-6 in both parameters of one of the n stored results.
bool Stored(const double* us, const double* vs, int n, double u, double v) {
  for (int k = 0; k < n; ++k)
    if (std::fabs(us[k] - u) <= 1e-6 && std::fabs(vs[k] - v) <= 1e-6) return true;
  return false;
}

}  // namespace

int GetInitialUVArrays(Bspline* srf, int mode, int a, int b, double** us, double** vs, int* nu,
                       int* nv) {
  *us = *vs = nullptr;
  if (!srf || srf->kind != 2 || a < 1 || b < 1 || (mode != 0 && mode != 1)) return 0;
  int n[2] = {0, 0};
  double* u = GridValues(srf, 0, mode, a, &n[0]);
  double* v = u ? GridValues(srf, 1, mode, b, &n[1]) : nullptr;
  if (!u || !v || KernelFailed()) {
    Free(u);
    Free(v);
    return 0;
  }
  *us = u;
  *vs = v;
  *nu = n[0];
  *nv = n[1];
  return 1;
}

// Method: the line against the two triangles of every cell of a 25 x 25 grid of surface points
// (barycentric tolerance 0.001, so a line through a shared edge or vertex is seen by both
// sides); a hit's (u, v) is the same combination of the corners' parameters. Kept hits are
// refined to the closest surface point of the triangle hit and then onto the line itself, so
// that they lie on both however coarse the grid; duplicates within 1e-6 are dropped before and
// after refinement.
int FindAllSurfLineIntersections(Bspline* srf, const double dir[3], const double point[3],
                                 double** us, double** vs, int* count) {
  *us = *vs = nullptr;
  *count = 0;
  if (!srf || srf->kind != 2 || srf->dimension != 3 || !dir || !point) return -2;
  TrackingScope scope;
  TrimPolylines trims;
  if (SampleTrimPolylines(srf, 10.0 / 32767.0, &trims) != 0) return -2;
  double *gu = nullptr, *gv = nullptr;
  int nu = 0, nv = 0;
  if (!GetInitialUVArrays(srf, 1, kLineGrid, kLineGrid, &gu, &gv, &nu, &nv)) return -2;
  double* block = MallocArray<double>(nu, nv, 3);
  double** grid = MallocArray<double*>(nu, nv);
  if (!block || !grid || KernelFailed()) return -2;
  for (int k = 0; k < nu * nv; ++k) grid[k] = block + 3 * k;
  static const int du[1] = {0}, dv[1] = {0};
  if (EvalGridOnGeometryM(srf, gu, gv, nu, nv, du, dv, 1, 0, grid) != 0) return -2;

  double ru[kMaxLineHits], rv[kMaxLineHits];
  int found = 0;
  for (int j = 0; j + 1 < nv && found < kMaxLineHits; ++j)
    for (int i = 0; i + 1 < nu && found < kMaxLineHits; ++i)
      for (int tri = 0; tri < 2 && found < kMaxLineHits; ++tri) {
        // Corners (i, j), (i, j + 1), (i + 1, j), then (i + 1, j + 1), (i + 1, j), (i, j + 1).
        const int ci[3] = {tri ? i + 1 : i, tri ? i + 1 : i, tri ? i : i + 1};
        const int cj[3] = {tri ? j + 1 : j, tri ? j : j + 1, tri ? j + 1 : j};
        double hit[3], bary[3];
        if (!IntersectLineTriangleTol(grid[cj[0] * nu + ci[0]], grid[cj[1] * nu + ci[1]],
                                      grid[cj[2] * nu + ci[2]], dir, point, hit, bary, 0.001))
          continue;
        double u = 0.0, v = 0.0;
        for (int c = 0; c < 3; ++c) {
          u += bary[c] * gu[ci[c]];
          v += bary[c] * gv[cj[c]];
        }
        if (!InsideTrimPolylines(&trims, u, v) || Stored(ru, rv, found, u, v)) continue;
        double S[3], distSq = 0.0, stepSq = 0.0;
        FindClosestUVPointGuess(srf, hit, S, &u, &v, &distSq, &stepSq, 7);
        u = Clamp(u, srf->umin, srf->umax);
        v = Clamp(v, srf->vmin, srf->vmax);
        RefineOntoLine(srf, dir, point, &u, &v);
        if (Stored(ru, rv, found, u, v)) continue;
        ru[found] = u;
        rv[found] = v;
        ++found;
      }
  if (found == 0) return 0;
  double *outU, *outV;
  {
    UntrackedScope own;  // the results are the caller's
    outU = MallocArray<double>(found);
    outV = MallocArray<double>(found);
  }
  if (!outU || !outV || KernelFailed()) {
    Free(outU);
    Free(outV);
    return -2;
  }
  std::copy(ru, ru + found, outU);
  std::copy(rv, rv + found, outV);
  *us = outU;
  *vs = outV;
  *count = found;
  return 0;
}

// ---- Iso lines against trim loops ------------------------------------------------------------

TrimList* FindMinMaxofTrimCurve(TrimList* loops, double* loopBoxes, double* curveBoxes) {
  TrimList* last = nullptr;
  int l = 0, c = 0;
  for (TrimList* loop = loops; loop; last = loop, loop = loop->next, ++l) {
    double* box = loopBoxes + 4 * l;
    box[0] = box[2] = kEmptyBoxBound;
    box[1] = box[3] = -kEmptyBoxBound;
    for (BsplineList* n = loop->loopCurves; n; n = n->next, ++c) {
      double* cb = curveBoxes + 4 * c;
      GetCurveOnSurfMinMaxSurfParams(n->item, &cb[0], &cb[1], &cb[2], &cb[3]);
      box[0] = std::min(box[0], cb[0]);
      box[1] = std::max(box[1], cb[1]);
      box[2] = std::min(box[2], cb[2]);
      box[3] = std::max(box[3], cb[3]);
    }
  }
  return last;
}

int CheckTrimCurveBBoxIntersect(const double box[4], double value, int side) {
  const double* pair = side == 0 ? box : side == 3 ? box + 2 : nullptr;
  return pair && pair[0] + 1e-6 < value && value < pair[1] - 1e-6 ? 1 : 0;
}

int IsBoundaryPoint(double value, const double range[2]) {
  return std::fabs(value - range[0]) <= 1e-10 || std::fabs(value - range[1]) <= 1e-10 ? 1 : 0;
}

int CheckCrvCoincidence(const double box[4], double value, int side, double* out, int* count,
                        const Bspline* curve) {
  // The curve's extent across the line: u for the line u = value.
  const double* pair = side == 0 ? box : side == 3 ? box + 2 : nullptr;
  if (!pair || pair[1] - pair[0] >= 1e-10 || std::fabs(pair[0] - value) > 1e-6) return 0;
  out[(*count)++] = curve->knotsU[curve->degreeU];
  out[(*count)++] = curve->knotsU[curve->degreeU + curve->interiorU + 1];
  return 1;
}

namespace {

// The coordinate that runs along the line: v on the line u = value (side 0), else u.
double Along(const IsoHit* h, int side) { return side == 0 ? h->v : h->u; }

IsoHit* NewIsoHit(const Bspline* srf, double u, double v, double t) {
  IsoHit* h = MallocArray<IsoHit>(1);
  if (!h) return nullptr;
  *h = IsoHit{nullptr, nullptr, {0, 0, 0}, u, v, t};
  SurfacePoint(srf, u, v, h->point);
  return h;
}

void LinkBefore(IsoHit** list, IsoHit* at, IsoHit* h) {
  h->next = at;
  h->prev = at->prev;
  if (at->prev) at->prev->next = h;
  else *list = h;
  at->prev = h;
}

void LinkAfter(IsoHit* at, IsoHit* h) {
  h->prev = at;
  h->next = at->next;
  if (at->next) at->next->prev = h;
  at->next = h;
}

}  // namespace

int FindAllTrimBsplIsoIntersects(double value, Bspline* curve, IsoHit** list, int* count, int side,
                                 const double curveBox[4], const double loopBox[4]) {
  if (!curve || !curve->owner || !list || !count || (side != 0 && side != 3)) return 0;
  // Room for every crossing the search can report: one per pair of its samples.
  const int room = std::max(2, 5 * curve->interiorU + 5);
  double* hits = MallocArray<double>(room);
  if (!hits) return 0;
  int n = 0;
  if (!CheckCrvCoincidence(curveBox, value, side, hits, &n, curve)) {
    // A line along the loop box's edge only touches the loop.
    if (IsBoundaryPoint(value, side == 0 ? loopBox : loopBox + 2) ||
        FindCurve2IsoParamIntersections(curve, side == 0 ? 1 : 0, value, hits, &n) != 0) {
      Free(hits);
      return 0;
    }
  }
  for (int k = 0; k < n; ++k) {
    double uv[2];
    Eval2DPointOnCurve2Array(nullptr, curve, hits[k], 0, uv);
    IsoHit* h = NewIsoHit(curve->owner, uv[0], uv[1], hits[k]);
    if (!h) break;
    const double s = Along(h, side);
    IsoHit* at = *list;
    IsoHit* tail = nullptr;
    while (at && Along(at, side) + 1e-6 < s) {
      tail = at;
      at = at->next;
    }
    if (at && std::fabs(Along(at, side) - s) <= 1e-6) {
      Free(h);
      continue;
    }
    if (at) LinkBefore(list, at, h);
    else if (tail) LinkAfter(tail, h);
    else *list = h;
  }
  Free(hits);
  int c = 0;
  for (IsoHit* h = *list; h; h = h->next) ++c;
  *count = c;
  return KernelFailed() ? 0 : 1;
}

int CutIntersectLine(IsoHit** list, TrimList* loop, int side, double value, const double loopBox[4]) {
  if (!list || !*list || !loop || !loop->loopCurves || (side != 0 && side != 3)) return 0;
  const Bspline* srf = loop->loopCurves->item->owner;
  if (!srf) return 0;
  IsoHit* hit = *list;
  const double ends[2][2] = {{side == 0 ? value : srf->umin, side == 0 ? srf->vmin : value},
                             {side == 0 ? value : srf->umax, side == 0 ? srf->vmax : value}};
  bool in[2];
  for (int e = 0; e < 2; ++e)
    in[e] = loopBox[0] <= ends[e][0] && ends[e][0] <= loopBox[1] && loopBox[2] <= ends[e][1] &&
            ends[e][1] <= loopBox[3];
  if (in[0] == in[1]) {
    if (loop->hole) {
      Free(hit);
      *list = nullptr;
      return 0;
    }
    IsoHit* copy = MallocArray<IsoHit>(1);
    if (!copy) return 0;
    *copy = *hit;
    LinkAfter(hit, copy);
    return 2;
  }
  // The end inside the box for an outer loop, outside it for a hole.
  const int e = (in[0] != (loop->hole != 0)) ? 0 : 1;
  IsoHit* end = NewIsoHit(srf, ends[e][0], ends[e][1], 0.0);
  if (!end) return 0;
  if (Along(end, side) <= Along(hit, side)) LinkBefore(list, hit, end);
  else LinkAfter(hit, end);
  return 2;
}

namespace {

// Values over the breaks of one direction: each interval cut into one more equal part than
// there are distinct knots strictly inside it, the last break closing the list.
double* SampleBetweenBreaks(const Bspline* srf, int dir, const double* breaks, int nb, int* n) {
  int* mults = nullptr;
  double* knots = nullptr;
  const int nk = DistinctInteriorKnots(srf, dir, &mults, &knots, 1e-6);
  Free(mults);
  if (nk < 0) return nullptr;
  int total = 1;
  for (int b = 0; b + 1 < nb; ++b) {
    int inside = 0;
    for (int k = 0; k < nk; ++k) inside += knots[k] > breaks[b] && knots[k] < breaks[b + 1];
    total += inside + 1;
  }
  double* out = MallocArray<double>(total);
  if (!out) {
    Free(knots);
    return nullptr;
  }
  int at = 0;
  for (int b = 0; b + 1 < nb; ++b) {
    int parts = 1;
    for (int k = 0; k < nk; ++k) parts += knots[k] > breaks[b] && knots[k] < breaks[b + 1];
    for (int i = 0; i < parts; ++i) out[at++] = breaks[b] + i * (breaks[b + 1] - breaks[b]) / parts;
  }
  out[at++] = breaks[nb - 1];
  Free(knots);
  *n = at;
  return out;
}

// The domain ends with the distinct knots between them (spans below 1e-6 of the range merged).
double* KnotBreaks(const Bspline* srf, int dir, int* nb) {
  int* mults = nullptr;
  double* knots = nullptr;
  const int nk = DistinctInteriorKnots(srf, dir, &mults, &knots, 1e-6);
  Free(mults);
  if (nk < 0) return nullptr;
  double* b = MallocArray<double>(nk + 2);
  if (b) {
    b[0] = dir ? srf->vmin : srf->umin;
    std::copy(knots, knots + nk, b + 1);
    b[nk + 1] = dir ? srf->vmax : srf->umax;
    *nb = nk + 2;
  }
  Free(knots);
  return b;
}

}  // namespace

int GetSampledUVVectors(Bspline* srf, double** us, double** vs, int* nus, int* nvs, int mode,
                        const double* uBreaks, const double* vBreaks, int nu, int nv) {
  *us = *vs = nullptr;
  if (!srf || srf->kind != 2 || (mode != 0 && mode != 1)) return 0;
  if (mode == 1 && (!uBreaks || !vBreaks || nu < 2 || nv < 2)) return 0;
  double* out[2] = {nullptr, nullptr};
  int count[2] = {0, 0};
  for (int dir = 0; dir < 2; ++dir) {
    int nb = dir ? nv : nu;
    double* own = mode == 0 ? KnotBreaks(srf, dir, &nb) : nullptr;
    const double* breaks = mode == 0 ? own : dir ? vBreaks : uBreaks;
    if (breaks) out[dir] = SampleBetweenBreaks(srf, dir, breaks, nb, &count[dir]);
    Free(own);
    if (!out[dir] || KernelFailed()) {
      Free(out[0]);
      Free(out[1]);
      return 0;
    }
  }
  *us = out[0];
  *vs = out[1];
  *nus = count[0];
  *nvs = count[1];
  return 1;
}
