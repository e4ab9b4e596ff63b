#include "splinefit/wrapfit.h"

#include <cstring>

#include "bspline/bsvalid.h"
#include "bspline/knots.h"
#include "bspline/sfree.h"
#include "bspline/subobj.h"
#include "cloud/makecld.h"
#include "curve/fitcurve.h"
#include "foundation/coreglob.h"
#include "foundation/makemat.h"
#include "foundation/umalloc.h"

int PutWrapedObjToNonWraped(Bspline* obj, int dir, int average) {
  return ClampWrappedDirection(obj, dir, average);
}

void MakeWrapedArrays(const Cloud* cloud, float* x, float* y, float* z, int nHead, int nTail,
                      int closed, int* count) {
  const int n = cloud->npts;
  int k = 0;
  auto put = [&](int i) {
    x[k] = cloud->x[i];
    y[k] = cloud->y[i];
    z[k] = cloud->z[i];
    ++k;
  };
  for (int i = n - nTail; i < n; ++i) put(i);
  for (int i = closed ? 1 : 0; i < (closed ? n - 1 : n); ++i) put(i);
  for (int i = 0; i < nHead; ++i) put(i);
  *count = k;
}

int InitClosedCurve(Cloud* cloud, int degree, int ncoef, double** params) {
  // The wrap copies degree + 1 points from each end: fewer points would be read from outside
  // the cloud.
  if (!cloud || !cloud->x || !cloud->y || !cloud->z || degree < 1 || cloud->npts < degree + 1 ||
      (ncoef >= 1 && !params)) {
    SetKernelError(-2);
    return 0;
  }
  TrackingScope scope;
  int n = cloud->npts;
  const float* px = cloud->x;
  const float* py = cloud->y;
  const float* pz = cloud->z;
  auto sq = [](double d) { return d * d; };
  int closed = sq(px[0] - px[n - 1]) + sq(py[0] - py[n - 1]) + sq(pz[0] - pz[n - 1]) < 1e-6;
  float* appended = nullptr;  // the open sequence with its first point repeated
  double* wrapped = nullptr;
  int nHead = degree + 1, nTail = degree + 1;
  if (ncoef >= 1) {
    if (!closed) {
      appended = MallocArray<float>(3, n + 1);
      if (!appended || KernelFailed()) return 0;
      float* a[3] = {appended, appended + n + 1, appended + 2 * (n + 1)};
      const float* src[3] = {px, py, pz};
      for (int c = 0; c < 3; ++c) {
        std::memcpy(a[c], src[c], sizeof(float) * n);
        a[c][n] = src[c][0];
      }
      px = a[0], py = a[1], pz = a[2];
      ++n;
      closed = 1;
    }
    double* t = MallocArray<double>(n);
    wrapped = MallocArray<double>(3, n);
    if (!t || !wrapped || KernelFailed()) return 0;
    normalize_tarray3(px, py, pz, n, t);
    const double w = static_cast<double>(degree) / (ncoef - 1);
    nHead = 0;
    while (nHead < n && t[nHead] <= w) ++nHead;
    nTail = 0;
    while (nTail < n - 1 && t[n - 1 - nTail] >= 1.0 - w) ++nTail;
    int k = 0;
    for (int i = n - nTail; i < n; ++i) wrapped[k++] = t[i] - 1.0;
    for (int i = 1; i <= n - 2; ++i) wrapped[k++] = t[i];
    for (int i = 0; i < nHead; ++i) wrapped[k++] = t[i] + 1.0;
    Free(t);
  }
  float* out = MallocArray<float>(3, 3 * n);
  if (!out || KernelFailed()) return 0;
  Cloud view = *cloud;  // the points to wrap, appended or not
  view.npts = n;
  view.x = const_cast<float*>(px), view.y = const_cast<float*>(py), view.z = const_cast<float*>(pz);
  int count = 0;
  MakeWrapedArrays(&view, out, out + 3 * n, out + 6 * n, nHead, nTail, closed, &count);
  // Three arrays the cloud owns and frees one by one.
  float* nx = MallocArray<float>(count);
  float* ny = MallocArray<float>(count);
  float* nz = MallocArray<float>(count);
  if (!nx || !ny || !nz || KernelFailed()) return 0;
  std::memcpy(nx, out, sizeof(float) * count);
  std::memcpy(ny, out + 3 * n, sizeof(float) * count);
  std::memcpy(nz, out + 6 * n, sizeof(float) * count);
  Free(out);
  Free(appended);
  scope.keep();
  Free(cloud->x);
  Free(cloud->y);
  Free(cloud->z);
  cloud->x = nx, cloud->y = ny, cloud->z = nz;
  cloud->npts = count;
  if (wrapped) *params = wrapped;
  return closed;
}

int EndClosedCurve(Bspline* curve, int nWrap, int closed) {
  if (!curve || curve->kind != 1 || !BsplineShapeSound(curve) || nWrap < 0) return -2;
  const int p = curve->degreeU, N = NumCtrlU(curve);
  const int s = closed == 0 ? nWrap + 1 : nWrap;
  const int c = N - s - nWrap;
  if (c < 1) return c;
  if (c < p + 1) return -2;  // too few control points left for a curve of the degree
  double* K;
  double** rows[4] = {nullptr, nullptr, nullptr, nullptr};
  double** old[4] = {curve->X, curve->Y, curve->dimension == 3 ? curve->Z : nullptr,
                     curve->rational ? curve->W : nullptr};
  {
    TrackingScope scope;
    K = MallocArray<double>(p + c + 1);
    if (!K || KernelFailed()) return -2;
    for (int k = 0; k < 4; ++k) {
      if (!old[k]) continue;
      rows[k] = allocate_matrix_fh(1, c);
      if (!rows[k] || KernelFailed()) return -2;
    }
    scope.keep();  // the new arrays belong to the curve from here on
  }
  const double* k0 = curve->knotsU;
  for (int j = 0; j <= p + c; ++j) K[j] = k0[s + j] - k0[s + p];
  for (int k = 0; k < 4; ++k) {
    if (!rows[k]) continue;
    for (int i = 0; i < c; ++i) rows[k][0][i] = old[k][0][s + i];
    // The last p control points repeat the first p: the period closes on itself.
    if (k < 3) {
      for (int i = 0; i < p && i < c; ++i) {
        const double mean = 0.5 * (rows[k][0][c - p + i] + rows[k][0][i]);
        rows[k][0][c - p + i] = rows[k][0][i] = mean;
      }
    }
  }
  // The cut period is clamped as a record of its own, so that a failure leaves the curve as
  // it was.
  Owned<Bspline, FreeBspline> cut;
  {
    TrackingScope scope;
    cut.reset(MallocNullBspline());
    if (cut && !KernelFailed()) scope.keep();
  }
  if (!cut || KernelFailed()) {
    cut.reset();
    Free(K);
    for (double** r : rows)
      if (r) matrix_free_fh(r);
    if (!KernelFailed()) SetKernelError(-2);
    return -2;
  }
  cut->kind = 1;
  cut->dimension = curve->dimension;
  cut->rational = curve->rational;
  cut->degreeU = p;
  cut->interiorU = c - p - 1;
  cut->closedU = 3;
  InstallBsplineArrays(cut.get(), K, nullptr, rows[0], rows[1], rows[2], rows[3]);
  SetDomainFromKnots(cut.get(), 0);
  const int r = PutWrapedObjToNonWraped(cut.get(), 0, 1);
  if (r < 0) return r;
  InstallBsplineArrays(curve, cut->knotsU, nullptr, cut->X, cut->Y, cut->Z, cut->W);
  cut->knotsU = nullptr, cut->X = cut->Y = cut->Z = cut->W = nullptr;
  curve->interiorU = cut->interiorU;
  curve->closedU = 3;
  SetDomainFromKnots(curve, 0);
  FreeBsplineProperties(curve);
  return r;
}
