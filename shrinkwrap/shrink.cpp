#include "shrinkwrap/shrink.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <utility>

#include "bspline/bsvalid.h"
#include "bspline/helper.h"
#include "bspline/isocurve.h"
#include "bspline/kinsert.h"
#include "bspline/measure.h"
#include "bspline/knots.h"
#include "bspline/nubs.h"
#include "bspline/objjoin.h"
#include "bspline/nubutil.h"
#include "bspline/sfree.h"
#include "bspline/refines2.h"
#include "bspline/srfclone.h"
#include "bspline/srfgrid.h"
#include "cloud/makecld.h"
#include "cloud/pcopy.h"
#include "cloud/pmedian.h"
#include "foundation/coreglob.h"
#include "foundation/sort.h"
#include "foundation/umalloc.h"
#include "platform/tstubs.h"
#include "shrinkwrap/clouddev.h"
#include "shrinkwrap/gridintp.h"
#include "shrinkwrap/platefit.h"
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
  // An array that is the key array itself is sorted with it: swapped a second time it would
  // put the keys back and the exchange would never end.
  double* const carried[4] = {x != keys ? x : nullptr, y != keys ? y : nullptr, z != keys ? z : nullptr,
                              other != keys ? other : nullptr};
  int i = 1;
  while (i < count) {
    const int a = start + (i - 1) * stride, b = start + i * stride;
    if (keys[a] > keys[b]) {
      std::swap(keys[a], keys[b]);
      for (double* c : carried)
        if (c) std::swap(c[a], c[b]);
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
  if (!srf || !RecordsSound({srf})) return -2;
  // Knot counts past an int are refused before anything is inserted.
  if (srf->kind != 2 || !AllFinite({uLo, vLo, uHi, vHi}) ||
      static_cast<long long>(NumKnotsU(srf)) + std::max(nU, 0) > INT_MAX ||
      static_cast<long long>(NumKnotsV(srf)) + std::max(nV, 0) > INT_MAX) {
    SetKernelError(-2);
    return -2;
  }
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
  if (!RecordsSound({srf})) return -2;
  if (!AllFinite({uLo, vLo, uHi, vHi})) {
    SetKernelError(-2);
    return -2;
  }
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

namespace {

// A curve that can give `len` z values.
bool LineCurveFits(const Bspline* c, int len) {
  return c && c->dimension == 3 && c->Z && c->Z[0] && NumCtrlU(c) >= len;
}

}  // namespace

int BoundaryCurvePointsToHold(Bspline* const pos[4], Bspline* const d1[4], Bspline* const d2[4],
                              const int flags[4], double** values, int** indices, int* count,
                              int nU, int nV) {
  if (!values || !indices || !count || !pos || !flags || nU < 1 || nV < 1) return -2;
  *values = nullptr;
  *indices = nullptr;
  *count = 0;
  // Walk of each side through the net: start, step along the side, step inward.
  const int start[4] = {0, (nV - 1) * nU, nU - 1, 0};
  const int along[4] = {nU, 1, nU, 1};
  const int inward[4] = {1, -nU, -1, nU};
  const int len[4] = {nV, nU, nV, nU};
  const int depth[4] = {nU, nV, nU, nV};  // lines across the side, so inward rows stay in the net
  Bspline* const* first = d1 ? d1 : nullptr;
  Bspline* const* second = d2 ? d2 : nullptr;
  for (int i = 0; i < 4; ++i) {
    if (flags[i] <= -1 || !pos[i]) continue;
    // A curve shorter than its line would be read past its end.
    if (!LineCurveFits(pos[i], len[i])) return -2;
    if (first && first[i] && !LineCurveFits(first[i], len[i])) return -2;
    if (first && first[i] && second && second[i] && !LineCurveFits(second[i], len[i])) return -2;
  }
  TrackingScope scope;
  char* marked = CallocArray<char>(nU, nV);
  double* raw = MallocArray<double>(nU, nV);
  int* idx = MallocArray<int>(nU, nV);
  int* at = MallocArray<int>(nU, nV);
  if (!marked || !raw || !idx || !at || KernelFailed()) return -2;
  int n = 0;
  auto take = [&](int index, double value) {
    if (marked[index]) return;  // first side wins
    marked[index] = 1;
    idx[n] = index;
    raw[n] = value;
    at[n] = n;
    ++n;
  };
  for (int i = 0; i < 4; ++i) {
    if (flags[i] <= -1 || !pos[i]) continue;
    for (int k = 0; k < len[i]; ++k) take(start[i] + k * along[i], pos[i]->Z[0][k]);
    const Bspline* r1 = first ? first[i] : nullptr;
    if (!r1 || len[i] <= 2 || depth[i] < 2) continue;
    for (int k = 1; k <= len[i] - 2; ++k)
      take(start[i] + inward[i] + k * along[i], r1->Z[0][k]);
    const Bspline* r2 = second ? second[i] : nullptr;
    if (!r2 || len[i] <= 4 || depth[i] < 3) continue;
    for (int k = 2; k <= len[i] - 3; ++k)
      take(start[i] + 2 * inward[i] + k * along[i], r2->Z[0][k]);
  }
  HeapSort2Int(n, idx, at);
  double* outValues;
  int* outIndices;
  {
    UntrackedScope own;
    outValues = MallocArray<double>(6, nU + nV);
    outIndices = MallocArray<int>(nU, nV);
  }
  if (!outValues || !outIndices || KernelFailed()) {
    if (outValues) Free(outValues);
    if (outIndices) Free(outIndices);
    return -2;
  }
  for (int k = 0; k < n; ++k) {
    outIndices[k] = idx[k];
    outValues[k] = raw[at[k]];
  }
  *values = outValues;
  *indices = outIndices;
  *count = n;
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
  // A grid of more points than an int counts has indices that wrap.
  if (!x || !y || !z || !keys || n < 1 || m < 1 || static_cast<long long>(n) * m > INT_MAX) return;
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

// ---- Surface fits onto clouds ---------------------------------------------------------------

namespace {

// A kept difference leaves the normal by at most 5 degrees: sin^2 and cos^2 of that angle.
constexpr double kSinSqFiveDegrees = 0.007596123;
constexpr double kCosSqFiveDegrees = 0.992403877;
// Search distance of the single-surface difference: every point is looked at.
constexpr double kUnlimitedSearch = 1e6;
// Shorter normals and differences count as none.
constexpr double kTinyLength = 1e-6;



void SetFitWeights(Bspline* s, double tension, double roughness, double sigma) {
  s->fitProps.flag = 1;
  s->fitProps.tension = tension;
  s->fitProps.roughness = roughness;
  s->fitProps.sigma = sigma;
}



bool SurfaceWithNet(const Bspline* s) {
  return IsCompleteSurface3(s) && BsplineShapeSound(s) && NumCtrlU(s) >= 2 && NumCtrlV(s) >= 2;
}

// The surface normal at (u, v) (ComputeSurfaceNormal: never the zero vector) and its length.
double NormalAt(Bspline* srf, double u, double v, double n[3]) {
  double uu = u, vv = v;
  double N[1][3];
  SurfaceNormalsAt(srf, &uu, &vv, N, 1);
  for (int k = 0; k < 3; ++k) n[k] = N[0][k];
  return std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
}

// Control point (column i, row j) on a held row: rows 0..k from each side with count k,
// isoparametric side order.
bool OnHeldRow(const int fixed[4], int i, int j, int nU, int nV) {
  return (fixed[0] >= 0 && i <= fixed[0]) || (fixed[1] >= 0 && j >= nV - 1 - fixed[1]) ||
         (fixed[2] >= 0 && i >= nU - 1 - fixed[2]) || (fixed[3] >= 0 && j <= fixed[3]);
}

// Grid points the rebuild leaves on the surface: counts 0 and 1 hold a side's outer line,
// count 2 its outer two (the copied control rows settle the rest).
int RebuildHeldDepth(int k) { return k < 0 ? 0 : k <= 1 ? 1 : 2; }

bool RebuildHolds(const int fixed[4], int i, int j, int nU, int nV) {
  return i < RebuildHeldDepth(fixed[0]) || j >= nV - RebuildHeldDepth(fixed[1]) ||
         i >= nU - RebuildHeldDepth(fixed[2]) || j < RebuildHeldDepth(fixed[3]);
}




}  // namespace

void DropShrinkWrapForms(Bspline* s) {
  if (!s) return;
  if ((s->quadricType == 21 || s->quadricType == 22 || s->quadricType == 23) && s->quadric) {
    FreeAndNull(s->quadric);
    s->quadricType = 0;
  }
  s->fitProps = BsplineFitProps{};
  s->propsB = BsplinePropsB{};
}

Cloud* MakeNormalDiffCloud(Bspline* srf, Cloud* cloud, double** gx, double** gy, double** gz) {
  if (!SurfaceWithNet(srf) || !cloud || cloud->npts < 1 || !cloud->x || !cloud->y || !cloud->z ||
      !gx || !gy || !gz)
    return nullptr;
  const int n = cloud->npts;
  TrackingScope scope;
  float* u = MallocArray<float>(n);
  float* v = MallocArray<float>(n);
  float* d = MallocArray<float>(n);
  if (!u || !v || !d || KernelFailed()) return nullptr;
  // The estimate is renewed only for a point farther than 1/65 of the diagonal from the one
  // whose estimate is held: neighbouring scan points share a start.
  double lo[3], hi[3];
  for (int k = 0; k < 3; ++k) lo[k] = 1e300, hi[k] = -1e300;
  for (int j = 0; j < NumCtrlV(srf); ++j)
    for (int i = 0; i < NumCtrlU(srf); ++i) {
      const double c[3] = {srf->X[j][i], srf->Y[j][i], srf->Z[j][i]};
      for (int k = 0; k < 3; ++k) lo[k] = std::min(lo[k], c[k]), hi[k] = std::max(hi[k], c[k]);
    }
  const double diag2 = (hi[0] - lo[0]) * (hi[0] - lo[0]) + (hi[1] - lo[1]) * (hi[1] - lo[1]) +
                       (hi[2] - lo[2]) * (hi[2] - lo[2]);
  const double renew2 = diag2 * 0.00023668639;  // (1/65)^2
  DisplayThermoMeter();
  const int step = std::max(1, n / 100);
  double held[3] = {0, 0, 0}, uu = 0, vv = 0;
  bool haveEstimate = false;
  for (int i = 0; i < n; ++i) {
    const double P[3] = {cloud->x[i], cloud->y[i], cloud->z[i]};
    const double dx = P[0] - held[0], dy = P[1] - held[1], dz = P[2] - held[2];
    if (!haveEstimate || dx * dx + dy * dy + dz * dz > renew2) {
      double q[3];
      if (SurfaceGridClosest(srf, P, gx, gy, gz, q, &uu, &vv, 0) != 0 || KernelFailed()) {
        UnDisplayThermoMeter();
        return nullptr;
      }
      for (int k = 0; k < 3; ++k) held[k] = P[k];
      haveEstimate = true;
    }
    double S[3], dist = 0.0, stepSq = 0.0, su = uu, sv = vv;
    FindClosestUVPointGuessDist(srf, P, S, &su, &sv, &dist, &stepSq, 20);
    u[i] = static_cast<float>(su);
    v[i] = static_cast<float>(sv);
    d[i] = static_cast<float>(dist);
    if (i % step == 0) SetThermoMeterValue(static_cast<int>(100.0 * i / n));
  }
  UnDisplayThermoMeter();
  if (KernelFailed()) return nullptr;
  double box[6];
  Cloud* out = MakeCld(u, v, d, n, box);
  if (!out) return nullptr;
  out->zMin = box[2];  // the range of the distances
  out->zMax = box[5];
  return out;
}

int FitWCoefiToCloud(Bspline* wsrf, Cloud* diffCloud, const int fixed[4]) {
  if (!SurfaceWithNet(wsrf) || !diffCloud || !fixed) return -2;
  const int nU = NumCtrlU(wsrf), nV = NumCtrlV(wsrf);
  TrackingScope scope;
  // lines[3 r + side]: control line r counted inward from the side, as a curve.
  OwnedArray<Bspline, FreeBspline> lines = OwnedArray<Bspline, FreeBspline>::Zeroed(12);
  if (!lines) return -2;
  Bspline* pos[4] = {};
  Bspline* d1[4] = {};
  Bspline* d2[4] = {};
  Bspline** rows[3] = {pos, d1, d2};
  int flags[4];
  for (int side = 0; side < 4; ++side) {
    flags[side] = fixed[side];
    const bool column = side == 0 || side == 2;  // u-min and u-max hold columns
    const int across = column ? nU : nV;
    for (int r = 0; r <= std::min(fixed[side], 2) && r < across; ++r) {
      const int line = side == 0 || side == 3 ? r : across - 1 - r;
      Bspline* c = ControlLineCurve(wsrf, line, column);
      if (!c) return -2;
      lines[3 * side + r] = c;
      rows[r][side] = c;
    }
  }
  double* values = nullptr;
  int* indices = nullptr;
  int nFix = 0;
  if (BoundaryCurvePointsToHold(pos, d1, d2, flags, &values, &indices, &nFix, nU, nV) != 0)
    return -2;
  Owned<double, Free> ownValues(values);
  Owned<int, Free> ownIndices(indices);
  for (int k = 0; k < nFix; ++k) values[k] = 0.0;  // held rows keep zero offset
  // The fit's weights are set for a surface of unit size over its parameters: the offsets are
  // fitted divided by the net's size and multiplied back, so the same surface and cloud at any
  // size give the same result in their own units.
  double lo[3], hi[3];
  ControlPointBox(wsrf, lo, hi);
  double size = std::max({hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]});
  if (!(size > 0.0) || !std::isfinite(size)) size = 1.0;
  Owned<Cloud, FreeCloud> unit(CopyCloud(diffCloud));
  if (!unit || KernelFailed()) return -2;
  for (int k = 0; k < unit->npts; ++k) unit->z[k] = static_cast<float>(unit->z[k] / size);
  if (ThinPlateFitHeights(wsrf, unit.get(), values, indices, nFix) != 0 || KernelFailed())
    return -2;
  for (int j = 0; j < nV; ++j)
    for (int i = 0; i < nU; ++i) wsrf->Z[j][i] *= size;
  return 0;
}

Bspline* MakeShrinkWrapSurf(Bspline* srf, Bspline* wsrf, double, double, double,
                            const int fixed[4]) {
  if (!SurfaceWithNet(srf) || !SurfaceWithNet(wsrf) || !fixed) return nullptr;
  const int nU = NumCtrlU(srf), nV = NumCtrlV(srf);
  TrackingScope scope;
  double* uG = ObjectGrevilleParams(srf, 0);
  double* vG = ObjectGrevilleParams(srf, 1);
  double* x = MallocArray<double>(nU, nV);
  double* y = MallocArray<double>(nU, nV);
  double* z = MallocArray<double>(nU, nV);
  if (!uG || !vG || !x || !y || !z || KernelFailed()) return nullptr;
  for (int j = 0; j < nV; ++j)
    for (int i = 0; i < nU; ++i) {
      double P[3];
      Eval3DPointOnSurfArray(srf, uG[i], vG[j], 0, 0, P);
      if (!RebuildHolds(fixed, i, j, nU, nV)) {
        double W[3], N[3];
        Eval3DPointOnSurfArray(wsrf, uG[i], vG[j], 0, 0, W);
        const double len = NormalAt(srf, uG[i], vG[j], N);
        for (int k = 0; k < 3; ++k) P[k] += W[2] / len * N[k];
      }
      x[j * nU + i] = P[0];
      y[j * nU + i] = P[1];
      z[j * nU + i] = P[2];
    }
  if (KernelFailed()) return nullptr;
  // On srf's own knots: the result keeps the parametrisation the offsets were fitted in.
  Bspline* r = GridAtParams(x, y, z, nU, nV, uG, vG, srf->knotsU, srf->knotsV, srf->degreeU,
                            srf->degreeV);
  if (!r) return nullptr;
  for (int side = 0; side < 4; ++side) {
    const bool column = side == 0 || side == 2;
    const int across = column ? nU : nV;
    for (int c = 0; c <= fixed[side] && c < across; ++c) {
      const int line = side == 0 || side == 3 ? c : across - 1 - c;
      CopyControlLineOfSurf(r, srf, column, column, line, line);
    }
  }
  return r;
}

Bspline* ShrinkWrapSurfCoefi(Bspline* srf, double** offsets, const int fixed[4]) {
  if (!SurfaceWithNet(srf) || !offsets || !fixed) return nullptr;
  const int nU = NumCtrlU(srf), nV = NumCtrlV(srf);
  TrackingScope scope;
  double* uG = ObjectGrevilleParams(srf, 0);
  double* vG = ObjectGrevilleParams(srf, 1);
  if (!uG || !vG || KernelFailed()) return nullptr;
  Owned<Bspline, FreeBspline> out(CopyBsplineSurface(srf));
  if (!out) return nullptr;
  for (int j = 0; j < nV; ++j)
    for (int i = 0; i < nU; ++i) {
      if (OnHeldRow(fixed, i, j, nU, nV)) continue;
      double N[3];
      const double len = NormalAt(srf, uG[i], vG[j], N);
      const double s = offsets[j][i] / len;
      out->X[j][i] += s * N[0];
      out->Y[j][i] += s * N[1];
      out->Z[j][i] += s * N[2];
    }
  if (KernelFailed()) return nullptr;
  return out.release();
}


Cloud* MakeNormalDiffCloudNew(Bspline* srf, Cloud* cloud) {
  if (!SurfaceWithNet(srf) || !cloud || cloud->npts < 1 || !cloud->x || !cloud->y || !cloud->z)
    return nullptr;
  const int n = cloud->npts;
  TrackingScope scope;
  float* block = MallocArray<float>(11, n);
  if (!block || KernelFailed()) return nullptr;
  float *px = block, *py = px + n, *pz = py + n, *cx = pz + n, *cy = cx + n, *cz = cy + n;
  float *nx = cz + n, *ny = nx + n, *nz = ny + n, *u = nz + n, *v = u + n;
  int count = 0;
  CloudDiffArrays out;
  out.px = px, out.py = py, out.pz = pz, out.cx = cx, out.cy = cy, out.cz = cz;
  out.nx = nx, out.ny = ny, out.nz = nz, out.u = u, out.v = v;
  if (SurfCloudDeviations(srf, cloud, 1, kUnlimitedSearch, kSinSqFiveDegrees, 0.0, 0, &count,
                          out) == 0 ||
      count < 1 || KernelFailed())
    return nullptr;
  // The signed distance along the unit normal goes where the point's z was.
  for (int k = 0; k < count; ++k)
    pz[k] = (px[k] - cx[k]) * nx[k] + (py[k] - cy[k]) * ny[k] + (pz[k] - cz[k]) * nz[k];
  return MakeCld(u, v, pz, count, nullptr);
}

int MakeSrfsNormalDiffClouds(Cloud* cloud, Bspline** srfs, int nSrfs, double maxDistance,
                             Cloud** clouds) {
  if (!cloud || !srfs || !clouds || nSrfs < 1 || cloud->npts < 1 || !cloud->x || !cloud->y ||
      !cloud->z)
    return -2;
  for (int s = 0; s < nSrfs; ++s) clouds[s] = nullptr;
  for (int s = 0; s < nSrfs; ++s)
    if (!SurfaceWithNet(srfs[s])) return -2;
  const int n = cloud->npts;
  TrackingScope scope;
  float* block = MallocArray<float>(11, n);
  int16_t* which = MallocArray<int16_t>(n);
  int* perSurface = CallocArray<int>(nSrfs);
  auto made = OwnedArray<Cloud, FreeCloud>::Zeroed(nSrfs);
  if (!block || !which || !perSurface || !made || KernelFailed()) return -2;
  float *px = block, *py = px + n, *pz = py + n, *cx = pz + n, *cy = cx + n, *cz = cy + n;
  float *nx = cz + n, *ny = nx + n, *nz = ny + n, *u = nz + n, *v = u + n;
  int count = 0;
  CloudDiffArrays out;
  out.px = px, out.py = py, out.pz = pz, out.cx = cx, out.cy = cy, out.cz = cz;
  out.nx = nx, out.ny = ny, out.nz = nz, out.u = u, out.v = v, out.srfIndex = which;
  if (SurfsCloudDeviations(srfs, nSrfs, nullptr, cloud, 1, maxDistance, 0.0, 0, 0, &count, out) ==
          0 ||
      KernelFailed())
    return -2;
  // Kept: a normal, a surface index, and a difference along the normal within 5 degrees (or
  // none at all). The signed distance replaces pz.
  const double cosLimit = std::sqrt(kCosSqFiveDegrees);
  for (int k = 0; k < count; ++k) {
    const double d[3] = {double(px[k]) - cx[k], double(py[k]) - cy[k], double(pz[k]) - cz[k]};
    const double N[3] = {nx[k], ny[k], nz[k]};
    const double ln = std::sqrt(N[0] * N[0] + N[1] * N[1] + N[2] * N[2]);
    const double ld = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    const double dot = d[0] * N[0] + d[1] * N[1] + d[2] * N[2];
    const bool keep = ln >= kTinyLength && (ld < kTinyLength || std::fabs(dot) >= cosLimit * ln * ld) &&
                      which[k] >= 0 && which[k] < nSrfs;
    if (!keep) {
      which[k] = -1;
      continue;
    }
    pz[k] = static_cast<float>(dot / ln);
    ++perSurface[which[k]];
  }
  for (int s = 0; s < nSrfs; ++s) {
    if (perSurface[s] < 1) continue;
    // Gathered in cloud order into the front of this surface's slice of the free arrays.
    float* su = MallocArray<float>(3, perSurface[s]);
    if (!su || KernelFailed()) return -2;
    float *sv = su + perSurface[s], *sd = sv + perSurface[s];
    int m = 0;
    for (int k = 0; k < count; ++k)
      if (which[k] == s) su[m] = u[k], sv[m] = v[k], sd[m] = pz[k], ++m;
    made[s] = MakeCld(su, sv, sd, m, nullptr);
    if (!made[s]) return -2;
  }
  for (int s = 0; s < nSrfs; ++s) clouds[s] = made[s];
  Free(made.release());
  return 0;
}

int ShrinkWrapFit(Bspline* srf, Cloud* cloud, const int fixed[4], int medianFilter,
                  double roughness, double tension, double sigma, Bspline** result) {
  if (result) *result = nullptr;
  if (!SurfaceWithNet(srf) || !cloud || cloud->npts < 2 || !fixed || !result) return -2;
  // The surface is the fit's working object: trims go, knots for the held rows come in.
  DeleteTrimInfoOfBsplSet(&srf, 1);
  for (int dir = 0; dir < 2; ++dir) {
    const int need = dir ? fixed[1] + fixed[3] + 4 : fixed[0] + fixed[2] + 4;
    const int nCtrl = dir ? NumCtrlV(srf) : NumCtrlU(srf);
    const int interior = dir ? srf->interiorV : srf->interiorU;
    const int add = nCtrl < need ? need - nCtrl : interior == 0 ? 1 : 0;
    if (add > 0) InsertNKnotsToObject(1, add, dir, srf, 1, nullptr);
    if (KernelFailed()) return -2;
  }
  TrackingScope scope;
  Owned<Bspline, FreeBspline> wsrf(CopyBsplineSurface(srf));
  if (!wsrf) return -2;
  {
    Owned<Cloud, FreeCloud> diff(MakeNormalDiffCloudNew(srf, cloud));
    if (!diff) return -2;
    SetFitWeights(wsrf.get(), tension, roughness, sigma);
    if (FitWCoefiToCloud(wsrf.get(), diff.get(), fixed) != 0) return -2;
  }
  if (medianFilter) MedianFilterGriddedArray_d(wsrf->Z, NumCtrlU(wsrf.get()), NumCtrlV(wsrf.get()), 3);
  Bspline* r = MakeShrinkWrapSurf(srf, wsrf.get(), 0.0, 0.0, 0.0, fixed);
  if (!r || KernelFailed()) {
    FreeBspline(r);
    return -2;
  }
  DropShrinkWrapForms(r);
  *result = r;
  return 0;
}

int LocalSrfShrinkWrapFit(Bspline* srf, Cloud* cloud, const double* box, double maxDistance,
                          ShrnkWrapParams params, int nKnotsU, int nKnotsV, Cloud** diffCloud,
                          Bspline** result) {
  if (diffCloud) *diffCloud = nullptr;
  if (result) *result = nullptr;
  nKnotsU = std::max(nKnotsU, 2);
  nKnotsV = std::max(nKnotsV, 2);
  if (!SurfaceWithNet(srf) || CheckBspline(srf, 1e-6) != 0 || !cloud || cloud->npts < 2 ||
      !diffCloud || !result)
    return -2;
  double uLo = box ? box[0] : srf->umin, vLo = box ? box[1] : srf->vmin;
  double uHi = box ? box[2] : srf->umax, vHi = box ? box[3] : srf->vmax;
  TrackingScope scope;
  Owned<Bspline, FreeBspline> work(CopyBsplineSurface(srf));
  if (!work) return -2;
  if (SnapInsertOneKnotToObject(work.get(), 0, &uLo, nullptr) != 0 ||
      SnapInsertOneKnotToObject(work.get(), 0, &uHi, nullptr) != 0 ||
      SnapInsertOneKnotToObject(work.get(), 1, &vLo, nullptr) != 0 ||
      SnapInsertOneKnotToObject(work.get(), 1, &vHi, nullptr) != 0)
    return -2;
  // The free block reads the fit's rows in its own side order (side 1 as v-minimum).
  int fb[4] = {params.fixedRows[0], params.fixedRows[1], params.fixedRows[2], params.fixedRows[3]};
  int nFU = 0, fU = 0, nFV = 0, fV = 0;
  if (GetFreeCntrlPntsInParamBox(work.get(), uLo, vLo, uHi, vHi, fb, &nFU, &fU, &nFV, &fV) != 0)
    return -2;
  if (nFU < nKnotsU || nFV < nKnotsV) {
    Bspline* more = nullptr;
    if (LocalUnfrmInsertSrfKnots(work.get(), uLo, vLo, uHi, vHi, std::max(nKnotsU - nFU, 0),
                                 std::max(nKnotsV - nFV, 0), &more) != 0 || !more)
      return -2;
    work.reset(more);
  }
  maxDistance = std::max(maxDistance, 0.0);
  Cloud* one[1] = {nullptr};
  Bspline* ws[1] = {work.get()};
  if (MakeSrfsNormalDiffClouds(cloud, ws, 1, maxDistance, one) != 0) return -2;
  Owned<Cloud, FreeCloud> diff(one[0]);
  if (diff) SelectDiffCloudInParamBox(diff.get(), uLo, vLo, uHi, vHi);
  if (!diff || diff->npts < 2) {
    Bspline* same = CopyBsplineSurface(srf);
    if (!same) return -2;
    *result = same;
    return 0;
  }
  Owned<Bspline, FreeBspline> wsrf(CopyBsplineSurface(work.get()));
  if (!wsrf) return -2;
  SetFitWeights(wsrf.get(), params.Tension, params.Roughness, params.Sigma);
  if (FitWCoefiToCloud(wsrf.get(), diff.get(), params.fixedRows) != 0) return -2;
  const int nU = NumCtrlU(wsrf.get()), nV = NumCtrlV(wsrf.get());
  if (params.medianFilter) MedianFilterGriddedArray_d(wsrf->Z, nU, nV, 3);
  int fb2[4] = {params.fixedRows[0], params.fixedRows[1], params.fixedRows[2], params.fixedRows[3]};
  if (GetFreeCntrlPntsInParamBox(wsrf.get(), uLo, vLo, uHi, vHi, fb2, &nFU, &fU, &nFV, &fV) != 0)
    return -2;
  auto inBlock = [&](int i, int j) { return i >= fU && i < fU + nFU && j >= fV && j < fV + nFV; };
  for (int j = 0; j < nV; ++j)
    for (int i = 0; i < nU; ++i)
      if (!inBlock(i, j)) wsrf->Z[j][i] = 0.0;
  Bspline* r = MakeShrinkWrapSurf(work.get(), wsrf.get(), 0.0, 0.0, 0.0, params.fixedRows);
  if (!r || KernelFailed()) {
    FreeBspline(r);
    return -2;
  }
  // The rebuild interpolates the whole net, so a move inside the box spreads a little over
  // every control point; the points outside the block are put back, and with them the surface
  // outside the box.
  for (int j = 0; j < nV; ++j)
    for (int i = 0; i < nU; ++i)
      if (!inBlock(i, j)) {
        r->X[j][i] = work->X[j][i];
        r->Y[j][i] = work->Y[j][i];
        r->Z[j][i] = work->Z[j][i];
      }
  DropShrinkWrapForms(r);
  *diffCloud = diff.release();
  *result = r;
  return 0;
}
