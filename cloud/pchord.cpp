#include "cloud/pchord.h"

#include <cmath>

#include "cloud/makecld.h"
#include "cloud/pcopy.h"
#include "cloud/psample.h"
#include "cloud/psort.h"
#include "cloud/putil.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"

namespace {

void PointOf(const float* x, const float* y, const float* z, int i, double P[3]) {
  P[0] = x[i], P[1] = y[i], P[2] = z[i];
}

double Dist2(const double a[3], const double b[3]) {
  return (a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) + (a[2] - b[2]) * (a[2] - b[2]);
}

// An anchor this close to the last kept point, per axis and relative to the cloud's diagonal, is
// that point again (a scan that doubles back onto itself): 1e-6 keeps the points of any real
// sampling apart at every size.
constexpr double kAnchorMerge = 1e-6;

double CloudDiagonal(const Cloud* cloud) {
  double box[6];
  if (ComputeCloudBbox(cloud, box) != 0) return 0.0;
  return std::sqrt(Dist2(box, box + 3));
}

// Method of the greedy reduction: from the anchor a take the candidate end e (the newest pending
// end, else the span end from a); while the worst point m between a and e deviates too much,
// push m as a pending end and make it the end. Accepting e makes it the next anchor, so every
// dropped point lies within tol of the chord of the anchors around it. pullAtTol: a deviation
// equal to tol2 is pulled back too (the cloud form). The pull-back also stops when the worst
// point is the end itself (no point deviates): with tol 0 on collinear points the cloud form
// would otherwise push the same end for ever. accept(e) is called for every accepted anchor.
template <class EndFn, class DevFn, class AcceptFn>
int GreedyReduce(const float* x, const float* y, const float* z, int n, double tol2, bool pullAtTol,
                 EndFn endSpan, DevFn maxDev, AcceptFn accept) {
  TrackingScope scope;
  int* stack = MallocArray<int>(n);
  if (!stack || KernelFailed()) return -2;
  int top = 0;
  int a = 0;
  double A[3];
  PointOf(x, y, z, 0, A);
  auto tooFar = [&](double d) { return pullAtTol ? d >= tol2 : d > tol2; };
  while (a < n - 1) {
    int e;
    double E[3];
    if (top > 0) {
      e = stack[top - 1];
      if (e <= a) {
        --top;
        continue;
      }
      PointOf(x, y, z, e, E);
    } else {
      endSpan(a, A, &e, E);
    }
    if (e > a + 1) {
      int m;
      double M[3], d;
      maxDev(a, A, e, E, &m, M, &d);
      while (tooFar(d) && e > a + 1 && m != e) {
        stack[top++] = m;
        e = m;
        E[0] = M[0], E[1] = M[1], E[2] = M[2];
        maxDev(a, A, e, E, &m, M, &d);
      }
    }
    if (top > 0 && stack[top - 1] == e) --top;
    a = e;
    A[0] = E[0], A[1] = E[1], A[2] = E[2];
    accept(e);
  }
  return 0;
}

// Flags both ends (n >= 1) and the greedy anchors (n >= 6) in keep.
template <class EndFn>
int ReduceArrays(const float* x, const float* y, const float* z, int n, double tol, EndFn endSpan, int* keep) {
  if (n < 1) return 0;
  if (!x || !y || !z || !keep) return -2;
  for (int i = 0; i < n; ++i) keep[i] = 0;
  keep[0] = keep[n - 1] = 1;
  if (n < 6) return 0;
  auto dev = [&](int a, const double A[3], int e, const double E[3], int* m, double M[3], double* d) {
    FindPointOfMaxDevArrays(x, y, z, a, A, e, E, m, M, d);
  };
  return GreedyReduce(x, y, z, n, tol * tol, false, endSpan, dev, [&](int e) { keep[e] = 1; });
}

// Where a span starting at the anchor ends when its own rules stop it at j: before j, unless
// that is the anchor itself.
int EndBefore(int j, int a) { return j - 1 == a ? j : j - 1; }

// The answer to an anchor or end that is no point: no end (-1), at the anchor's point A.
bool Refused(bool named, const double A[3], int* end, double E[3]) {
  if (named) return false;
  *end = -1;
  E[0] = A[0], E[1] = A[1], E[2] = A[2];
  return true;
}

}  // namespace

void FindPointOfEndSpanArrays(const float* x, const float* y, const float* z, int n, int a,
                              const double A[3], int* end, double E[3], double span2) {
  if (Refused(a >= 0 && a < n && x && y && z, A, end, E)) return;
  int e = n - 1;
  for (int j = a + 1; j < n; ++j) {
    double P[3];
    PointOf(x, y, z, j, P);
    if (Dist2(P, A) > span2) {
      e = EndBefore(j, a);
      break;
    }
  }
  *end = e;
  PointOf(x, y, z, e, E);
}

void FindPointOfEndSpanArraysAng(const float* x, const float* y, const float* z, int n, int a,
                                 const double A[3], int* end, double E[3], double span2, double c2) {
  if (Refused(a >= 0 && a < n && x && y && z, A, end, E)) return;
  int e = n - 1;
  double prev[3] = {0.0, 0.0, 0.0};  // the step before, zero at the first step
  for (int j = a + 1; j < n; ++j) {
    const double d[3] = {x[j] - A[0], y[j] - A[1], z[j] - A[2]};
    if (d[0] * d[0] + d[1] * d[1] + d[2] * d[2] > span2) {
      e = EndBefore(j, a);
      break;
    }
    const double s[3] = {double(x[j]) - x[j - 1], double(y[j]) - y[j - 1], double(z[j]) - z[j - 1]};
    const double ss = s[0] * s[0] + s[1] * s[1] + s[2] * s[2];
    const double pp = prev[0] * prev[0] + prev[1] * prev[1] + prev[2] * prev[2];
    const double sp = s[0] * prev[0] + s[1] * prev[1] + s[2] * prev[2];
    // A turn sharper than the angle at p(j - 1), judged by the squared cosine of the two steps.
    if (pp * ss > 1e-12 * sp * sp && pp * ss * c2 > sp * sp) {
      e = EndBefore(j, a);
      break;
    }
    prev[0] = s[0], prev[1] = s[1], prev[2] = s[2];
  }
  *end = e;
  PointOf(x, y, z, e, E);
}

void FindPointOfMaxDevArrays(const float* x, const float* y, const float* z, int a,
                             const double A[3], int e, const double E[3], int* worst, double W[3],
                             double* dev) {
  *dev = 0.0;
  if (Refused(a >= 0 && e >= 0 && x && y && z, A, worst, W)) return;
  *worst = e;
  const double C[3] = {E[0] - A[0], E[1] - A[1], E[2] - A[2]};
  const double L2 = C[0] * C[0] + C[1] * C[1] + C[2] * C[2];
  for (int j = a + 1; j < e; ++j) {
    double P[3];
    PointOf(x, y, z, j, P);
    double q[3] = {A[0], A[1], A[2]};
    // Only a chord of no length at all is a point: a short chord of a small part is a chord.
    if (L2 > 0.0) {
      double u = ((E[0] - P[0]) * C[0] + (E[1] - P[1]) * C[1] + (E[2] - P[2]) * C[2]) / L2;
      u = u < 0.0 ? 0.0 : (u > 1.0 ? 1.0 : u);
      for (int k = 0; k < 3; ++k) q[k] = u * A[k] + (1.0 - u) * E[k];
    }
    const double d = Dist2(P, q);
    if (d > *dev) *dev = d, *worst = j;
  }
  PointOf(x, y, z, *worst, W);
}

void FindPointOfEndSpan(const Cloud* cloud, int a, const double A[3], int* end, double E[3], double span2) {
  if (Refused(cloud && a >= 0 && a < cloud->npts, A, end, E)) return;
  const float *x = cloud->x, *y = cloud->y, *z = cloud->z;
  int limit = cloud->npts;
  // A span never crosses the end of the anchor's scan.
  if (cloud->type != 0 && cloud->nscans >= 2 && cloud->scanEnd) {
    for (int s = 0; s < cloud->nscans - 1; ++s) {
      if (cloud->scanEnd[s] < a) continue;
      const int stop = cloud->scanEnd[s] + 1 > a + 2 ? cloud->scanEnd[s] + 1 : a + 2;
      if (stop < limit) limit = stop;
      break;
    }
  }
  const double step2 = cloud->charLength * cloud->charLength;
  int e = limit - 1;
  for (int j = a + 1; j < limit; ++j) {
    double P[3], Q[3];
    PointOf(x, y, z, j, P);
    if (Dist2(P, A) > span2) {
      e = EndBefore(j, a);
      break;
    }
    PointOf(x, y, z, j - 1, Q);
    if (Dist2(P, Q) > step2) {
      e = EndBefore(j, a);
      break;
    }
  }
  *end = e;
  PointOf(x, y, z, e, E);
}

void FindPointOfMaxDev(const Cloud* cloud, int a, const double A[3], int e, const double E[3], int* worst,
                       double W[3], double* dev) {
  if (!cloud || e >= cloud->npts || a >= cloud->npts) {
    *dev = 0.0;
    Refused(false, A, worst, W);
    return;
  }
  FindPointOfMaxDevArrays(cloud->x, cloud->y, cloud->z, a, A, e, E, worst, W, dev);
}

int ChordDevOptArrays(const float* x, const float* y, const float* z, int n, double tol, double span,
                      int* keep) {
  const double span2 = span * span;
  return ReduceArrays(x, y, z, n, tol, [&](int a, const double A[3], int* e, double E[3]) {
    FindPointOfEndSpanArrays(x, y, z, n, a, A, e, E, span2);
  }, keep);
}

int ChordDevAngOptArrays(const float* x, const float* y, const float* z, int n, double tol,
                         double span, double angle, int* keep) {
  const double span2 = span * span;
  const double c = std::cos(angle * 0.017453292519943295), c2 = c * c;
  return ReduceArrays(x, y, z, n, tol, [&](int a, const double A[3], int* e, double E[3]) {
    FindPointOfEndSpanArraysAng(x, y, z, n, a, A, e, E, span2, c2);
  }, keep);
}

Cloud* ChordDevOptCloud(const Cloud* cloud, double tol, double span) {
  if (!cloud || cloud->npts < 3) return nullptr;
  const int n = cloud->npts;
  const bool ordered = cloud->type != 0 && cloud->nscans > 0 && cloud->scanStart && cloud->scanEnd;
  TrackingScope scope;
  float* nx = MallocArray<float>(n);
  float* ny = MallocArray<float>(n);
  float* nz = MallocArray<float>(n);
  int* starts = ordered ? MallocArray<int>(cloud->nscans) : nullptr;
  int* ends = ordered ? MallocArray<int>(cloud->nscans) : nullptr;
  if (!nx || !ny || !nz || (ordered && (!starts || !ends)) || KernelFailed()) return nullptr;
  int k = 0, scan = 0, newScans = 0;
  auto append = [&](int i) {
    nx[k] = cloud->x[i], ny[k] = cloud->y[i], nz[k] = cloud->z[i];
    ++k;
  };
  append(0);
  if (ordered) starts[0] = 0;
  const double span2 = span * span;
  const double merge = kAnchorMerge * CloudDiagonal(cloud);
  auto endSpan = [&](int a, const double A[3], int* e, double E[3]) { FindPointOfEndSpan(cloud, a, A, e, E, span2); };
  auto dev = [&](int a, const double A[3], int e, const double E[3], int* m, double M[3], double* d) {
    FindPointOfMaxDev(cloud, a, A, e, E, m, M, d);
  };
  auto accept = [&](int e) {
    const bool scanEnd = ordered && scan < cloud->nscans && e == cloud->scanEnd[scan];
    const bool same = std::fabs(cloud->x[e] - nx[k - 1]) <= merge && std::fabs(cloud->y[e] - ny[k - 1]) <= merge &&
                      std::fabs(cloud->z[e] - nz[k - 1]) <= merge;
    if (!same || scanEnd) append(e);
    if (scanEnd) {
      ends[scan] = k - 1;
      newScans = ++scan;
      if (scan < cloud->nscans) starts[scan] = k;
    }
  };
  if (GreedyReduce(cloud->x, cloud->y, cloud->z, n, tol * tol, true, endSpan, dev, accept) != 0) return nullptr;
  Cloud* out = ordered && newScans > 0 ? MakeScanCld(nx, ny, nz, k, starts, ends, newScans, nullptr)
                                       : MakeCld(nx, ny, nz, k, nullptr);
  if (!out || KernelFailed()) {
    FreeCloud(out);
    return nullptr;
  }
  return out;  // the constructors copy the arrays and hand back an untracked record
}

void DoChordalIndex(const float* x, const float* y, const float* z, int n, const int* lineId, char* mask,
                    double tol, double span) {
  if (n < 1) return;
  TrackingScope scope;
  int* flag = MallocArray<int>(n);
  bool ok = flag && !KernelFailed();
  for (int first = 0; ok && first < n;) {
    int last = first;
    while (last + 1 < n && lineId[last + 1] <= lineId[first]) ++last;
    const int len = last - first + 1;
    ok = ChordDevOptArrays(x + first, y + first, z + first, len, tol, span, flag + first) == 0;
    first = last + 1;
  }
  if (!ok) {
    // Thinning is optional: on any failure nothing is dropped and the caller sees no error.
    ClearKernelError();
    for (int i = 0; i < n; ++i) mask[i] = 1;
    return;
  }
  for (int i = 0; i < n; ++i)
    if (flag[i] == 1) mask[i] = 1;
}

namespace {

// lineId[k] = the index of the scan holding point k (0 everywhere on an unordered cloud).
void ScanIndices(const Cloud* cloud, int* lineId) {
  for (int k = 0; k < cloud->npts; ++k) lineId[k] = 0;
  if (cloud->type == 0 || !cloud->scanStart || !cloud->scanEnd) return;
  for (int s = 0; s < cloud->nscans; ++s)
    for (int k = cloud->scanStart[s]; k <= cloud->scanEnd[s] && k < cloud->npts; ++k)
      if (k >= 0) lineId[k] = s;
}

}  // namespace

int MatrixChordalSample(Cloud* cloud, double tol, double span) {
  if (!cloud || !cloud->rowNumber || cloud->npts < 1) return 0;
  const int n = cloud->npts;
  Owned<Cloud, FreeCloud> copy(CopyCloud(cloud));
  if (!copy || KernelFailed()) return 0;
  FreeCloudPolygons(copy.get());
  TrackingScope scope;
  char* columns = MallocArray<char>(n);
  char* mask = MallocArray<char>(n);
  int* position = MallocArray<int>(n);
  int* lineId = MallocArray<int>(n);
  if (!columns || !mask || !position || !lineId || KernelFailed()) return 0;
  if (!TransposeCloud(copy.get(), position)) return 0;
  ScanIndices(copy.get(), lineId);
  for (int k = 0; k < n; ++k) columns[k] = 0;
  DoChordalIndex(copy->x, copy->y, copy->z, n, lineId, columns, tol, span);
  copy.reset();
  for (int k = 0; k < n; ++k) mask[k] = columns[position[k]];
  ScanIndices(cloud, lineId);
  DoChordalIndex(cloud->x, cloud->y, cloud->z, n, lineId, mask, tol, span);
  return SampleCloudBasedOnArray(cloud, mask) ? 1 : 0;
}

void DoControlledSampling(Cloud* cloud, double tol2, double span2, int* changed) {
  *changed = 0;
  if (!cloud || cloud->npts < 1) return;
  const int n = cloud->npts;
  const bool ordered = cloud->type != 0 && cloud->nscans > 0 && cloud->scanStart && cloud->scanEnd;
  // The pass only ever writes points in their order, each once, so it is a keep mask: the one
  // rule then carries every per-point datum, the triangles and the scans along with the points.
  TrackingScope scope;
  char* keep = CallocArray<char>(n);
  if (!keep || KernelFailed()) return;
  const float *x = cloud->x, *y = cloud->y, *z = cloud->z;
  keep[0] = 1;
  int R = 0, r = 1, scan = 0, kept = 1;
  auto write = [&](int i) {
    if (!keep[i]) keep[i] = 1, ++kept;
  };
  while (r < n - 1) {
    const int e = ordered && scan < cloud->nscans ? cloud->scanEnd[scan] : n;
    if (r >= e) {
      if (r == e) {
        write(r);  // closes the scan
        ++scan;
        r += 2;
        write(r - 1);  // the next scan's first point
        R = r - 1;
      } else {
        ++scan;
        write(r);
        R = r;
        ++r;
      }
      continue;
    }
    const double Q[3] = {x[r], y[r], z[r]}, P[3] = {x[r + 1], y[r + 1], z[r + 1]};
    const double D[3] = {x[R] - P[0], y[R] - P[1], z[R] - P[2]};
    const double E[3] = {x[R] - Q[0], y[R] - Q[1], z[R] - Q[2]};
    const double DxE[3] = {D[1] * E[2] - D[2] * E[1], D[2] * E[0] - D[0] * E[2], D[0] * E[1] - D[1] * E[0]};
    const double dd = D[0] * D[0] + D[1] * D[1] + D[2] * D[2];
    const double cross = DxE[0] * DxE[0] + DxE[1] * DxE[1] + DxE[2] * DxE[2];
    if (!(dd < span2 && cross <= dd * tol2)) write(r);
    write(r + 1);
    R = r + 1;
    r += 2;
  }
  if (r == n - 1) write(r);
  if (kept >= n) return;
  if (SampleCloudBasedOnArray(cloud, keep) && cloud->npts != n) *changed = 1;
}
