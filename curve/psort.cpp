#include "curve/psort.h"

#include <cmath>
#include <cstring>
#include <utility>

#include "bspline/refines2.h"
#include "bspline/sfree.h"
#include "cloud/makecld.h"
#include "cloud/psort.h"
#include "curve/crvutil.h"
#include "curve/pntintrp.h"
#include "foundation/coreglob.h"
#include "foundation/fmalloc.h"
#include "foundation/geo2.h"
#include "foundation/mathmat.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"

void FindBestClosestPt(int count, const float* x, const float* y, const float* z, int i, int j,
                       const double target[3], double out[3]) {
  if (count < 1 || !x || !y || !z || !target || !out) return;
  auto point = [&](int k, double p[3]) {
    k = ((k % count) + count) % count;
    p[0] = x[k], p[1] = y[k], p[2] = z[k];
  };
  double pi[3], pj[3];
  point(i, pi), point(j, pj);
  auto onSegment = [&] {
    double d2, t;
    LineSegPntMinDistSq(target, pi, pj, out, &d2, &t);
  };
  if (count < 4) return onSegment();
  double p0[3], p3[3];
  point(i - 1, p0), point(j + 1, p3);
  const double c0 = VecDist3(p0, pi), c1 = VecDist3(pi, pj), c2 = VecDist3(pj, p3);
  if (c1 < 1e-10) return onSegment();
  const float fx[4] = {float(p0[0]), float(pi[0]), float(pj[0]), float(p3[0])};
  const float fy[4] = {float(p0[1]), float(pi[1]), float(pj[1]), float(p3[1])};
  const float fz[4] = {float(p0[2]), float(pi[2]), float(pj[2]), float(p3[2])};
  Owned<Bspline, FreeBspline> curve(InterpolatePoints_f(fx, fy, fz, 3, nullptr, 3, 0));  // points 0..3
  if (!curve) return onSegment();
  const double u0 = curve->umin, u1 = curve->umax, c = c0 + c1 + c2;
  const double tmin = u0 + c0 / c * (u1 - u0), tmax = u0 + (c0 + c1) / c * (u1 - u0);
  double t;
  {
    CurveSampleCache cache;
    if (cache.Estimate(curve.get(), target, &t) != 0) return onSegment();
  }
  t = std::fmin(std::fmax(t, tmin), tmax);
  double C[3], distSq, stepSq;
  // Not settling still leaves the best point found, which is used.
  FindClosestPointCurve3(curve.get(), target, C, tmin, tmax, &t, &distSq, &stepSq, 10);
  for (int k = 0; k < 3; ++k) out[k] = C[k];
}

namespace {

bool BitAt(const uint8_t* bits, int i) { return (bits[i >> 3] >> (i & 7)) & 1; }
void PutBit(uint8_t* bits, int i, bool on) {
  if (on) bits[i >> 3] |= uint8_t(1u << (i & 7));
  else bits[i >> 3] &= uint8_t(~(1u << (i & 7)));
}

// The arrays of the new cloud, filled point by point.
struct NewScans {
  const Cloud* src;
  float *x, *y, *z;
  float *nx = nullptr, *ny = nullptr, *nz = nullptr;
  char** labels = nullptr;
  uint8_t* labelBits = nullptr;
  int m = 0;

  bool Allocate(int room) {
    x = MallocArray<float>(room), y = MallocArray<float>(room), z = MallocArray<float>(room);
    if (src->nx && src->ny && src->nz)
      nx = MallocArray<float>(room), ny = MallocArray<float>(room), nz = MallocArray<float>(room);
    if (src->labels) labels = CallocArray<char*>(room);
    if (src->labelIsShow) labelBits = CallocArray<uint8_t>(CloudBitArrayBytes(room));
    return x && y && z && (!src->nx || !src->ny || !src->nz || (nx && ny && nz)) && (!src->labels || labels) &&
           (!src->labelIsShow || labelBits) && !KernelFailed();
  }
  // Point k of the source with its normal, label and label bit.
  bool Copy(int k) {
    x[m] = src->x[k], y[m] = src->y[k], z[m] = src->z[k];
    if (nx) nx[m] = src->nx[k], ny[m] = src->ny[k], nz[m] = src->nz[k];
    if (labels && src->labels[k] && !(labels[m] = lstrdup(src->labels[k]))) return false;
    if (labelBits) PutBit(labelBits, m, BitAt(src->labelIsShow, k));
    ++m;
    return !KernelFailed();
  }
  // Shortens the arrays (room entries) to the points made.
  bool Trim(int room) {
    if (m == room) return true;
    for (float** a : {&x, &y, &z, &nx, &ny, &nz})
      if (*a) {
        float* shorter = ReallocArray(*a, m);
        if (!shorter) return false;
        *a = shorter;
      }
    if (labels) {
      char** shorter = ReallocArray(labels, m);
      if (!shorter) return false;
      labels = shorter;
    }
    return !KernelFailed();
  }
  // Reverses the points first..last in place with their data.
  void Reverse(int first, int last) {
    for (; first < last; ++first, --last) {
      std::swap(x[first], x[last]), std::swap(y[first], y[last]), std::swap(z[first], z[last]);
      if (nx) std::swap(nx[first], nx[last]), std::swap(ny[first], ny[last]), std::swap(nz[first], nz[last]);
      if (labels) std::swap(labels[first], labels[last]);
      if (labelBits) {
        const bool a = BitAt(labelBits, first), b = BitAt(labelBits, last);
        PutBit(labelBits, first, b), PutBit(labelBits, last, a);
      }
    }
  }
};

}  // namespace

// Method: per scan, FindClosestSpanToPline gives the place; an inserted point comes from
// FindBestClosestPt, its normal interpolated by distance from the span's ends; the scan is read
// off cyclically from there. A scan's direction is its first point to its third: a scan running
// against the last direction seen has its points after the first reversed.
Cloud* RearrangeCloudStartsByPline(const Cloud* cloud, int npl, const double* plx, const double* ply,
                                   const double* plz) {
  if (!cloud || cloud->npts < 1 || npl < 1 || !plx || !ply || !plz) return nullptr;
  const int n = cloud->npts;
  const bool ordered = cloud->type != 0 && cloud->scanStart && cloud->scanEnd && cloud->nscans > 0;
  const int S = ordered ? cloud->nscans : 1;
  TrackingScope work;
  int* start = MallocArray<int>(S);
  int* end = MallocArray<int>(S);
  int* plIdx = MallocArray<int>(npl);
  float* plKey = MallocArray<float>(npl);
  int longest = 0;
  for (int s = 0; s < S; ++s) {
    const int a = ordered ? cloud->scanStart[s] : 0, b = ordered ? cloud->scanEnd[s] : n - 1;
    if (a < 0 || b >= n || b < a) return nullptr;
    longest = std::max(longest, b - a + 1);
  }
  int* scanIdx = MallocArray<int>(longest);
  float* scanKey = MallocArray<float>(longest);
  if (!start || !end || !plIdx || !plKey || !scanIdx || !scanKey || KernelFailed()) return nullptr;
  TrackingScope made;  // what the new cloud receives
  NewScans out{cloud, nullptr, nullptr, nullptr};
  if (!out.Allocate(n + S)) return nullptr;
  double previous[3] = {0, 0, 0};
  bool havePrevious = false;
  for (int s = 0; s < S; ++s) {
    const int a = ordered ? cloud->scanStart[s] : 0, len = (ordered ? cloud->scanEnd[s] : n - 1) - a + 1;
    start[s] = out.m;
    int i = 0, j = 0;
    double t, target[3];
    if (len == 1 || !FindClosestSpanToPline(len, cloud->x + a, cloud->y + a, cloud->z + a, scanIdx, scanKey, npl,
                                            plx, ply, plz, plIdx, plKey, &i, &j, &t, target)) {
      for (int k = 0; k < len; ++k)
        if (!out.Copy(a + k)) return nullptr;
    } else if (i != j) {
      double q[3];
      FindBestClosestPt(len, cloud->x + a, cloud->y + a, cloud->z + a, i, j, target, q);
      const int m = out.m;
      out.x[m] = float(q[0]), out.y[m] = float(q[1]), out.z[m] = float(q[2]);
      if (out.nx) {
        double pi[3] = {cloud->x[a + i], cloud->y[a + i], cloud->z[a + i]};
        double pj[3] = {cloud->x[a + j], cloud->y[a + j], cloud->z[a + j]};
        const double di = VecDist3(pi, q), dj = VecDist3(pj, q);
        const double w = di + dj > 0 ? di / (dj + di) : 0.0;
        double v[3];
        for (int c = 0; c < 3; ++c) {
          const float* col = c == 0 ? cloud->nx : c == 1 ? cloud->ny : cloud->nz;
          v[c] = col[a + i] * (1 - w) + col[a + j] * w;
        }
        NormalizeVector(v, 3, 1e-6);
        out.nx[m] = float(v[0]), out.ny[m] = float(v[1]), out.nz[m] = float(v[2]);
      }
      if (out.labelBits) PutBit(out.labelBits, m, false);
      ++out.m;
      for (int k = j; k < len; ++k)
        if (!out.Copy(a + k)) return nullptr;
      for (int k = 0; j != 0 && k <= i; ++k)
        if (!out.Copy(a + k)) return nullptr;
    } else {
      for (int k = 0; k < len; ++k)
        if (!out.Copy(a + (i + k) % len)) return nullptr;
    }
    end[s] = out.m - 1;
    // A scan of fewer than three points has no direction and leaves the last one seen.
    if (end[s] - start[s] < 2) continue;
    const int f = start[s], third = f + 2;
    double d[3] = {double(out.x[third]) - out.x[f], double(out.y[third]) - out.y[f], double(out.z[third]) - out.z[f]};
    if (havePrevious && VecDotProd3(d, previous) < 0) {
      for (double& c : d) c = -c;
      out.Reverse(f + 1, end[s]);
    }
    std::memcpy(previous, d, sizeof d);
    havePrevious = true;
  }
  const int m = out.m;
  if (!out.Trim(n + S)) return nullptr;
  Cloud* result = S > 1 ? MakeScanCldNoAlloc(out.x, out.y, out.z, m, start, end, S, nullptr)
                        : MakeCldNoAlloc(out.x, out.y, out.z, m, nullptr);
  if (!result) return nullptr;
  if (cloud->type == 17 && result->type != 0) result->type = 13;
  result->nx = out.nx, result->ny = out.ny, result->nz = out.nz;
  result->labels = out.labels;
  result->labelIsShow = out.labelBits;
  made.keep();
  return result;
}
