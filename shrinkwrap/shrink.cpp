#include "shrinkwrap/shrink.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "bspline/kinsert.h"
#include "bspline/nubutil.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "cloud/makecld.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "shrinkwrap/cshrink.h"

namespace {

// Relative closeness of a parameter to a knot, and the smallest relative interval width.
constexpr double kRelTol = 1e-6;

struct Direction {
  const double* knots;
  int degree;
  int nCtrl;
  double lo, hi;
};

Direction DirectionOf(const Bspline* obj, int dir) {
  if (dir == 1)
    return {obj->knotsV, obj->degreeV, NumCtrlV(obj), obj->knotsV[obj->degreeV],
            obj->knotsV[NumCtrlV(obj)]};
  return {obj->knotsU, obj->degreeU, NumCtrlU(obj), obj->knotsU[obj->degreeU],
          obj->knotsU[NumCtrlU(obj)]};
}

int SpanOf(const Direction& d, double t) {
  int span = d.degree;
  FindLowKnotIndex(d.knots, d.degree, t, &span, d.nCtrl);
  return span;
}

int& InteriorOf(Bspline* obj, int dir) { return dir == 1 ? obj->interiorV : obj->interiorU; }

// Exchange sort that steps back one place after each swap, over count entries spaced by
// stride; `other` (may be null) is a second key array carried along.
void ExchangeSortRun(double* x, double* y, double* z, double* keys, double* other, int start,
                     int count, int stride) {
  int i = 1;
  while (i < count) {
    const int a = start + (i - 1) * stride, b = start + i * stride;
    if (keys[a] > keys[b]) {
      std::swap(keys[a], keys[b]);
      std::swap(x[a], x[b]);
      std::swap(y[a], y[b]);
      std::swap(z[a], z[b]);
      if (other) std::swap(other[a], other[b]);
      if (i > 1) --i;
    } else {
      ++i;
    }
  }
}

// Free end of one direction of a parameter box: the first (or last) control point whose
// support lies in the box.
int BoxFirst(const Direction& d, double lo, int fixedStart) {
  if (std::fabs(lo - d.lo) > kRelTol * (d.hi - d.lo)) return SpanOf(d, lo);
  return fixedStart < 0 ? 0 : fixedStart + 1;
}

int BoxLast(const Direction& d, double hi, int fixedEnd) {
  if (std::fabs(hi - d.hi) > kRelTol * (d.hi - d.lo)) return SpanOf(d, hi) - (d.degree + 1);
  return fixedEnd < 0 ? d.nCtrl - 1 : d.nCtrl - fixedEnd - 2;
}

int NeededKnots(int degree, int nCtrl, int fixedStart, int fixedEnd) {
  int need = std::max(degree - 1, 1);
  if (fixedStart >= 0) need += fixedStart + 1;
  if (fixedEnd >= 0) need += fixedEnd + 1;
  return need > nCtrl ? need - nCtrl : 0;
}

}  // namespace

int SetDefaultShrnkWrapParams(ShrnkWrapParams* params) {
  if (!params) return -2;
  for (int k = 0; k < 4; ++k) params->fixedRows[k] = 0;
  params->medianFilter = 0;
  params->insertKnots = 0;
  params->spare[0] = params->spare[1] = 0;
  params->Tension = Global_Tension;
  params->Roughness = Global_Roughness;
  params->Sigma = Global_Sigma;
  params->spareD = 0.001;
  return 0;
}

int SnapInsertOneKnotToObject(Bspline* obj, int dir, double* t, int* inserted) {
  if (inserted) *inserted = 0;
  if (!obj || !t || (dir != 0 && dir != 1)) return -2;
  if (dir == 1 && obj->kind != 2) return -2;
  const Direction d = DirectionOf(obj, dir);
  const double range = d.hi - d.lo;
  // A collapsed domain leaves no room to place a knot (and no scale for the snap test).
  if (!(range > 0.0) || *t < d.lo || *t > d.hi) return -2;
  const int span = SpanOf(d, *t);
  double value = *t;
  if (std::fabs(value - d.knots[span]) / range < kRelTol) {
    value = d.knots[span];
  } else if (std::fabs(value - d.knots[span + 1]) / range < kRelTol) {
    value = d.knots[span + 1];
  } else {
    const int before = InteriorOf(obj, dir);
    InsertNKnotsToObject(1, 1, dir, obj, 2, &value);
    if (KernelFailed() || InteriorOf(obj, dir) <= before) return -2;
    if (inserted) *inserted = 1;
  }
  *t = value;
  return 0;
}

int FindUniformKnotLocInInterval(const double* knots, int nKnots, int degree, double a, double b,
                                 int n, double** locations, int* count) {
  if (locations) *locations = nullptr;
  if (count) *count = 0;
  if (!knots || !locations || !count || degree < 1 || 2 * degree > nKnots || n < 1) return -2;
  const int nCtrl = nKnots - degree - 1;
  const Direction d{knots, degree, nCtrl, knots[degree], knots[nCtrl]};
  const double tol = kRelTol * (d.hi - d.lo);
  if (!(d.lo <= a && a < b && b <= d.hi) || std::fabs(b - a) < tol) return -2;

  const int sa = SpanOf(d, a), sb = SpanOf(d, b);
  TrackingScope scope;
  // The list holds at most the interval ends, the knots between them and the n midpoints.
  const int capacity = (sb - sa) + 2 + n;
  auto* list = MallocArray<double>(capacity);
  auto* out = MallocArray<double>(n);
  if (KernelFailed() || !list || !out) return -2;
  int len = 0;
  list[len++] = a;
  for (int k = sa + 1; k <= sb; ++k) list[len++] = knots[k];
  if (std::fabs(b - list[len - 1]) >= tol) list[len++] = b;

  for (int m = 0; m < n; ++m) {
    int best = -1;
    double bestLen = 0.0;
    for (int k = 1; k < len; ++k) {
      const double w = list[k] - list[k - 1];
      if (best < 0 || w > bestLen) {
        best = k;
        bestLen = w;
      }
    }
    if (best < 0 || bestLen < tol) return -2;
    const double mid = 0.5 * (list[best - 1] + list[best]);
    for (int k = len; k > best; --k) list[k] = list[k - 1];
    list[best] = mid;
    ++len;
    out[m] = mid;
  }
  Free(list);
  scope.keep();
  *locations = out;
  *count = n;
  return 0;
}

int InsertKnotsUniformlyWithinInterval(Bspline* obj, int dir, double a, double b, int n) {
  if (!obj || (dir != 0 && dir != 1) || (dir == 1 && obj->kind != 2)) return -2;
  if (n < 1) return 0;
  if (b < a) std::swap(a, b);
  if (b - a < 1e-6) return -2;
  double* loc = nullptr;
  int count = 0;
  {
    // a and b become knots of a scratch copy only, so that the spread sees them as breaks.
    TrackingScope scope;
    Bspline* copy = CopyBsplineStruct(obj);
    if (!copy || KernelFailed()) return -2;
    int inserted = 0;
    int status = -2;
    if (SnapInsertOneKnotToObject(copy, dir, &a, &inserted) == 0 &&
        SnapInsertOneKnotToObject(copy, dir, &b, &inserted) == 0) {
      const Direction d = DirectionOf(copy, dir);
      status = FindUniformKnotLocInInterval(d.knots, d.nCtrl + d.degree + 1, d.degree, a, b, n,
                                            &loc, &count);
    }
    FreeBspline(copy);
    if (status != 0) return -2;
  }
  // Into obj itself outside any scope of ours: its new arrays belong with the object. One value
  // per call, because the locations come in order of creation, not ascending.
  int status = 0;
  for (int k = 0; k < count && status == 0; ++k) {
    double value = loc[k];
    InsertNKnotsToObject(1, 1, dir, obj, 2, &value);
    if (KernelFailed()) status = -2;
  }
  Free(loc);
  return status;
}

int LocalUnfrmInsertSrfKnots(Bspline* srf, double uLo, double vLo, double uHi, double vHi, int nU,
                             int nV, Bspline** result) {
  if (!result) return -2;
  *result = nullptr;
  if (!srf || srf->kind != 2) return -2;
  const Direction du = DirectionOf(srf, 0), dv = DirectionOf(srf, 1);
  if (uLo < du.lo || uHi > du.hi || vLo < dv.lo || vHi > dv.hi) return -2;
  if (uHi - uLo < kRelTol * (du.hi - du.lo) || vHi - vLo < kRelTol * (dv.hi - dv.lo)) return -2;
  const int nu = std::max(nU, 0), nv = std::max(nV, 0);
  TrackingScope scope;
  Bspline* copy = CopyBsplineStruct(srf);
  if (!copy || KernelFailed()) return -2;
  const int iu = copy->interiorU, iv = copy->interiorV;
  if (InsertKnotsUniformlyWithinInterval(copy, 0, uLo, uHi, nu) != 0 ||
      InsertKnotsUniformlyWithinInterval(copy, 1, vLo, vHi, nv) != 0 ||
      copy->interiorU != iu + nu || copy->interiorV != iv + nv) {
    FreeBspline(copy);
    return -2;
  }
  scope.keep();
  *result = copy;
  return 0;
}

int ComputeNumSrfShrinkWrapNeededKnots(const Bspline* srf, const int fixed[4], int* nU, int* nV) {
  if (!srf || srf->kind != 2 || !fixed || !nU || !nV) return -2;
  int f[4];
  for (int k = 0; k < 4; ++k) f[k] = fixed[k] < 0 ? -1 : fixed[k];
  *nU = NeededKnots(srf->degreeU, NumCtrlU(srf), f[0], f[2]);
  *nV = NeededKnots(srf->degreeV, NumCtrlV(srf), f[1], f[3]);
  return 0;
}

int InsertSurfShrinkWrapKnots(Bspline* srf, const int fixed[4]) {
  int nU = 0, nV = 0;
  if (ComputeNumSrfShrinkWrapNeededKnots(srf, fixed, &nU, &nV) != 0) return -2;
  if (nU > 0) InsertNKnotsToObject(1, nU, 0, srf, 1, nullptr);
  if (KernelFailed()) return -2;
  if (nV > 0) InsertNKnotsToObject(1, nV, 1, srf, 1, nullptr);
  if (KernelFailed()) return -2;
  return 0;
}

int GetFreeCntrlPntsInParamBox(const Bspline* srf, double uLo, double vLo, double uHi, double vHi,
                               int fixed[4], int* nU, int* firstU, int* nV, int* firstV) {
  if (!srf || srf->kind != 2 || srf->dimension != 3 || !fixed || !nU || !firstU || !nV || !firstV)
    return -2;
  const Direction du = DirectionOf(srf, 0), dv = DirectionOf(srf, 1);
  if (uHi - uLo < kRelTol * (du.hi - du.lo) || vHi - vLo < kRelTol * (dv.hi - dv.lo)) return -2;
  fixed[0] = std::min(fixed[0], srf->degreeU);
  fixed[2] = std::min(fixed[2], srf->degreeU);
  fixed[1] = std::min(fixed[1], srf->degreeV);
  fixed[3] = std::min(fixed[3], srf->degreeV);
  *firstU = BoxFirst(du, uLo, fixed[0]);
  *nU = BoxLast(du, uHi, fixed[2]) - *firstU + 1;
  *firstV = BoxFirst(dv, vLo, fixed[1]);
  *nV = BoxLast(dv, vHi, fixed[3]) - *firstV + 1;
  return 0;
}

int SelectDiffCloudInParamBox(Cloud* cloud, double uLo, double vLo, double uHi, double vHi) {
  if (!cloud) return -2;
  if (!cloud->x || !cloud->y || !cloud->z) return cloud->npts > 0 ? -2 : 0;
  // A difference cloud carries x, y, z and at most normals; those are compacted together.
  const bool normals = cloud->nx && cloud->ny && cloud->nz;
  int kept = 0;
  for (int i = 0; i < cloud->npts; ++i) {
    const float u = cloud->x[i], v = cloud->y[i];
    if (u < uLo || u > uHi || v < vLo || v > vHi) continue;
    cloud->x[kept] = cloud->x[i];
    cloud->y[kept] = cloud->y[i];
    cloud->z[kept] = cloud->z[i];
    if (normals) {
      cloud->nx[kept] = cloud->nx[i];
      cloud->ny[kept] = cloud->ny[i];
      cloud->nz[kept] = cloud->nz[i];
    }
    ++kept;
  }
  cloud->npts = kept;
  cloud->nptsBuilt = kept;
  return 0;
}

int FreeWrapConstraint(LinearConstraint* c) {
  if (!c) return 0;
  double* arrays[] = {c->posPar, c->normPar, c->posSpare, c->normSpare, c->posX,
                      c->posY,   c->posZ,    c->normX,    c->normY,     c->normZ};
  for (double* a : arrays)
    if (a) Free(a);
  Free(c);
  return 0;
}

namespace {

void SortGridRuns(double* x, double* y, double* z, double* keys, double* other, int n, int m,
                  int dir) {
  if (!x || !y || !z || !keys || n < 1 || m < 1) return;
  if (dir == 1) {
    for (int r = 0; r < m; ++r) ExchangeSortRun(x, y, z, keys, other, r * n, n, 1);
  } else {
    for (int c = 0; c < n; ++c) ExchangeSortRun(x, y, z, keys, other, c, m, n);
  }
}

}  // namespace

void Sort3DPointsUsing1DPoints(double* x, double* y, double* z, double* keys, int n, int m,
                               int dir) {
  SortGridRuns(x, y, z, keys, nullptr, n, m, dir);
}

// Each pass carries the other pass's keys along, so the second pass still sorts every point
// by its own v key.
void Sort3DPointsUsing2DPoints(double* x, double* y, double* z, double* uKeys, double* vKeys, int n,
                               int m) {
  if (!uKeys || !vKeys) return;
  SortGridRuns(x, y, z, uKeys, vKeys, n, m, 1);
  SortGridRuns(x, y, z, vKeys, uKeys, n, m, 0);
}
