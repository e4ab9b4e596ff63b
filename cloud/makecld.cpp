#include "cloud/makecld.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "cloud/cldpoly.h"
#include "foundation/coreglob.h"
#include "foundation/geo2.h"
#include "foundation/geometry.h"
#include "foundation/sort.h"
#include "foundation/vec3.h"
#include "foundation/minmax.h"
#include "foundation/umalloc.h"
#include "platform/tstubs.h"

namespace {

// Box of the points in double, written as {xmin, ymin, zmin, xmax, ymax, zmax}.
void PointsBox(const float* x, const float* y, const float* z, int n, double box[6]) {
  box[0] = box[3] = x[0];
  box[1] = box[4] = y[0];
  box[2] = box[5] = z[0];
  for (int i = 1; i < n; ++i) {
    const double p[3] = {x[i], y[i], z[i]};
    for (int k = 0; k < 3; ++k) {
      if (p[k] < box[k]) box[k] = p[k];
      if (p[k] > box[k + 3]) box[k + 3] = p[k];
    }
  }
}

// Default neighbourhood radius: small clouds are sparse, so they get a wide one.
double CharLengthOfBox(const double box[6], int npts) {
  const double dx = box[3] - box[0];
  const double dy = box[4] - box[1];
  const double dz = box[5] - box[2];
  const double diagonal = std::sqrt(dx * dx + dy * dy + dz * dz);
  return npts < 20 ? 2.0 * diagonal : diagonal * 0.3333333333333333;
}

}  // namespace

Cloud* MallocNullCloud() {
  TrackingScope scope;
  auto* cloud = static_cast<Cloud*>(Malloc(sizeof(Cloud)));
  if (!cloud || KernelFailed()) return nullptr;
  *cloud = Cloud{};
  scope.keep();
  return cloud;
}

namespace {

// A new unordered record over the given arrays (n >= 1), which it owns from now on; the
// arrays' tracking is the caller's business. Null (arrays untouched) on no memory.
Cloud* WrapPoints(float* x, float* y, float* z, int n, double* bbox) {
  Cloud* cloud = MallocNullCloud();
  if (!cloud) return nullptr;
  double box[6];
  PointsBox(x, y, z, n, box);
  if (bbox) {
    for (int k = 0; k < 6; ++k) bbox[k] = box[k];
  }
  cloud->x = x;
  cloud->y = y;
  cloud->z = z;
  cloud->type = 0;
  cloud->npts = n;
  cloud->nptsBuilt = n;
  cloud->strideU = 1;
  cloud->strideV = 1;
  cloud->charLength = CharLengthOfBox(box, n);
  return cloud;
}

// Three new arrays of n floats in the caller's scope; false on no memory.
bool MallocPoints(int n, float** x, float** y, float** z) {
  *x = MallocArray<float>(n);
  *y = MallocArray<float>(n);
  *z = MallocArray<float>(n);
  return *x && *y && *z && !KernelFailed();
}

void Adopt(float* x, float* y, float* z) {
  RemoveMallocFromTrack(x);
  RemoveMallocFromTrack(y);
  RemoveMallocFromTrack(z);
}

}  // namespace

Cloud* MakeCld(const float* x, const float* y, const float* z, int n, double* bbox) {
  if (n < 1 || !x || !y || !z) return nullptr;
  TrackingScope scope;
  float *cx, *cy, *cz;
  if (!MallocPoints(n, &cx, &cy, &cz)) return nullptr;
  for (int i = 0; i < n; ++i) {
    cx[i] = x[i];
    cy[i] = y[i];
    cz[i] = z[i];
  }
  Cloud* cloud = WrapPoints(cx, cy, cz, n, bbox);
  if (!cloud) return nullptr;
  scope.keep();
  return cloud;
}

Cloud* MakeCldNoAlloc(float* x, float* y, float* z, int n, double* bbox) {
  if (n < 1) return nullptr;
  Cloud* cloud = WrapPoints(x, y, z, n, bbox);
  if (cloud) Adopt(x, y, z);
  return cloud;
}

Cloud* InsertNPtsCld(const Cloud* cloud, const float* x, const float* y, const float* z, int m, int k,
                     double* bbox) {
  // k outside 0..npts would copy from before or past the source's arrays.
  if (!cloud || m < 0 || k < 0 || k > cloud->npts || (m > 0 && (!x || !y || !z))) return nullptr;
  const int n = cloud->npts + m;
  if (n < 1) return nullptr;
  TrackingScope scope;
  float *cx, *cy, *cz;
  if (!MallocPoints(n, &cx, &cy, &cz)) return nullptr;
  auto put = [&](int to, const float* sx, const float* sy, const float* sz, int from, int count) {
    for (int i = 0; i < count; ++i) {
      cx[to + i] = sx[from + i];
      cy[to + i] = sy[from + i];
      cz[to + i] = sz[from + i];
    }
  };
  put(0, cloud->x, cloud->y, cloud->z, 0, k);
  put(k, x, y, z, 0, m);
  put(k + m, cloud->x, cloud->y, cloud->z, k, cloud->npts - k);
  Cloud* out = WrapPoints(cx, cy, cz, n, bbox);
  if (!out) return nullptr;
  scope.keep();
  return out;
}

int CopyCloudNormals(Cloud* cloud, const float* nx, const float* ny, const float* nz, int n) {
  if (!cloud || n != cloud->npts || n < 1) return 0;
  TrackingScope scope;
  float *cx, *cy, *cz;
  if (!MallocPoints(n, &cx, &cy, &cz)) return 0;
  for (int i = 0; i < n; ++i) {
    cx[i] = nx[i];
    cy[i] = ny[i];
    cz[i] = nz[i];
  }
  scope.keep();
  Free(cloud->nx);
  Free(cloud->ny);
  Free(cloud->nz);
  cloud->nx = cx;
  cloud->ny = cy;
  cloud->nz = cz;
  return 1;
}

int AllocateIsShowLabels(Cloud* cloud) {
  if (!cloud) return 0;
  if (cloud->labelIsShow) return 1;
  TrackingScope scope;
  auto* bits = CallocArray<uint8_t>(CloudBitArrayBytes(cloud->npts));
  if (!bits || KernelFailed()) return 0;
  scope.keep();
  cloud->labelIsShow = bits;
  return 1;
}

void MakeCloudArbitrary(Cloud* cloud) {
  if (!cloud || cloud->type == 0) return;
  cloud->type = 0;
  cloud->scanOrder = 0;
  cloud->nscans = 0;
  cloud->ptsPerRow = 0;
  FreeAndNull(cloud->scanStart);
  FreeAndNull(cloud->scanEnd);
  FreeAndNull(cloud->rowNumber);
  FreeCloudSlice(cloud);
}

int ResetRowIndex(Cloud* cloud) {
  if (!cloud || !cloud->rowNumber || cloud->npts < 1) return 1;
  int16_t* row = cloud->rowNumber;
  int lo = row[0], hi = row[0];
  for (int i = 1; i < cloud->npts; ++i) {
    if (row[i] < lo) lo = row[i];
    if (row[i] > hi) hi = row[i];
  }
  TrackingScope scope;
  auto* number = CallocArray<int32_t>(hi - lo + 1);
  if (!number || KernelFailed()) return 0;
  for (int i = 0; i < cloud->npts; ++i) number[row[i] - lo] = 1;
  // Occupied row values get consecutive numbers in increasing order of value.
  int next = 0;
  for (int v = 0; v <= hi - lo; ++v) {
    if (number[v]) number[v] = next++;
  }
  for (int i = 0; i < cloud->npts; ++i) row[i] = static_cast<int16_t>(number[row[i] - lo]);
  return 1;
}

// ---- Ordered clouds ----------------------------------------------------------------------

namespace {

bool AxisCode(int a) { return a >= 0 && a <= 2; }

// ncol nrow points, or 0 (out of memory) when the count does not fit an int.
int GridPoints(int ncol, int nrow) {
  const long long n = static_cast<long long>(ncol) * nrow;
  if (n > INT_MAX) {
    SetOutOfMemory();
    return 0;
  }
  return static_cast<int>(n);
}

// Scans j = 0..nrow-1 of ncol points each, in the caller's scope.
bool MallocGridScans(int ncol, int nrow, int32_t** start, int32_t** end) {
  *start = MallocArray<int32_t>(nrow);
  *end = MallocArray<int32_t>(nrow);
  if (!*start || !*end || KernelFailed()) return false;
  for (int j = 0; j < nrow; ++j) {
    (*start)[j] = j * ncol;
    (*end)[j] = (j + 1) * ncol - 1;
  }
  return true;
}

// The fields of an ordered cloud of nrow rows of ncol points, as the grid constructors fill them.
void SetRowOrganisation(Cloud* c, int ncol, int nrow, int32_t* start, int32_t* end, const CloudGrid& grid) {
  c->grid = grid;
  c->nscans = nrow;
  c->ptsPerRow = ncol;
  c->scanOrder = 2;
  c->direction = 2;
  c->scanStart = start;
  c->scanEnd = end;
}

void DropScans(Cloud* c) {
  c->type = 0;
  FreeAndNull(c->scanStart);
  FreeAndNull(c->scanEnd);
}

}  // namespace

Cloud* MakeGridCld(double colOrigin, double rowOrigin, double colStep, double rowStep, int ncol, int nrow,
                   int colAxis, int rowAxis, const float* heights, double* bbox) {
  if (colAxis == rowAxis || !AxisCode(colAxis) || !AxisCode(rowAxis)) return nullptr;
  if (ncol < 1 || nrow < 1 || !heights) return nullptr;
  const int heightAxis = 3 - colAxis - rowAxis;
  const int n = GridPoints(ncol, nrow);
  if (n == 0) return nullptr;
  TrackingScope scope;
  float* p[3];
  int32_t *start, *end;
  if (!MallocPoints(n, &p[0], &p[1], &p[2]) || !MallocGridScans(ncol, nrow, &start, &end)) return nullptr;
  double row = rowOrigin;
  for (int j = 0; j < nrow; ++j, row += rowStep) {
    double col = colOrigin;
    for (int k = 0; k < ncol; ++k, col += colStep) {
      const int i = j * ncol + k;
      p[colAxis][i] = static_cast<float>(col);
      p[rowAxis][i] = static_cast<float>(row);
      p[heightAxis][i] = heights[i];
    }
  }
  Cloud* cloud = WrapPoints(p[0], p[1], p[2], n, nullptr);
  if (!cloud) return nullptr;
  scope.keep();
  // The plan axes' box comes from the parameters, not from the rounded floats.
  double box[6];
  const double colEnd = colOrigin + (ncol - 1) * colStep, rowEnd = rowOrigin + (nrow - 1) * rowStep;
  box[colAxis] = colOrigin < colEnd ? colOrigin : colEnd;
  box[colAxis + 3] = colOrigin < colEnd ? colEnd : colOrigin;
  box[rowAxis] = rowOrigin < rowEnd ? rowOrigin : rowEnd;
  box[rowAxis + 3] = rowOrigin < rowEnd ? rowEnd : rowOrigin;
  GetMinMaxF(heights, n, &box[heightAxis], &box[heightAxis + 3]);
  if (bbox) {
    for (int k = 0; k < 6; ++k) bbox[k] = box[k];
  }
  cloud->charLength = CharLengthOfBox(box, n);
  cloud->zMin = box[2];
  cloud->zMax = box[5];
  cloud->type = 17;
  CloudGrid grid{};
  grid.heightAxis[heightAxis] = 1.0;
  grid.rowOrigin = rowOrigin, grid.colOrigin = colOrigin, grid.rowStep = rowStep, grid.colStep = colStep;
  grid.rowAxis = rowAxis, grid.colAxis = colAxis;
  SetRowOrganisation(cloud, ncol, nrow, start, end, grid);
  if (ncol == 1 || nrow == 1) DropScans(cloud);
  return cloud;
}

Cloud* MakeCylCld(double angleOrigin, double heightOrigin, double angleStep, double heightStep, int ncol,
                  int nrow, int axis, const double centre[3], const float* radii, double* bbox) {
  if (ncol < 1 || nrow < 1 || !AxisCode(axis) || !radii || !centre) return nullptr;
  const int n = GridPoints(ncol, nrow);
  if (n == 0) return nullptr;
  TrackingScope scope;
  float *x, *y, *z;
  int32_t *start, *end;
  if (!MallocPoints(n, &x, &y, &z) || !MallocGridScans(ncol, nrow, &start, &end)) return nullptr;
  double h = heightOrigin;
  for (int j = 0; j < nrow; ++j, h += heightStep) {
    double t = angleOrigin;
    for (int k = 0; k < ncol; ++k, t += angleStep) {
      const int i = j * ncol + k;
      const double r = radii[i];
      double p[3];
      if (axis == 2) {
        p[0] = centre[0] + r * std::cos(t), p[1] = centre[1] + r * std::sin(t), p[2] = h;
      } else if (axis == 1) {
        p[0] = centre[0] + r * std::cos(t), p[1] = h, p[2] = centre[2] + r * std::sin(t);
      } else {
        p[0] = h, p[1] = centre[1] + r * std::sin(t), p[2] = centre[2] + r * std::cos(t);
      }
      x[i] = static_cast<float>(p[0]);
      y[i] = static_cast<float>(p[1]);
      z[i] = static_cast<float>(p[2]);
    }
  }
  Cloud* cloud = WrapPoints(x, y, z, n, bbox);
  if (!cloud) return nullptr;
  scope.keep();
  cloud->type = 13;
  CloudGrid grid{};
  grid.heightAxis[axis] = 1.0;
  grid.rowOrigin = heightOrigin, grid.colOrigin = angleOrigin, grid.rowStep = heightStep, grid.colStep = angleStep;
  grid.rowAxis = axis, grid.colAxis = 0;
  for (int k = 0; k < 3; ++k) grid.cylCentre[k] = centre[k];
  SetRowOrganisation(cloud, ncol, nrow, start, end, grid);
  return cloud;
}

namespace {

// Refused scans: a message for the developer (only with diagnostics on).
void ScanMessage(const char* text) {
  if (ZK666DEBUG) InfoMessageFormat("%s\n", MSGstr(text));
}

// The validation of the scan arrays; the text of the first failure, or null when they hold.
// Every scan must lie in 0..n-1 and start right after the previous one, so that the points
// taken scan after scan are exactly points 0..scanEnd[last].
const char* BadScans(int n, const int* scanStart, const int* scanEnd, int nscans) {
  if (nscans < 1 || !scanStart || !scanEnd) return "No scans given";
  if (scanStart[0] != 0) return "Starts array begins with non zero value";
  if (scanEnd[nscans - 1] >= n) return "Ends array ends with value too large";
  for (int k = 0; k < nscans; ++k) {
    if (scanStart[k] > scanEnd[k]) return "Starts larger than Ends";
  }
  for (int k = 0; k < nscans; ++k) {
    if (scanEnd[k] >= n || (k > 0 && scanStart[k] != scanEnd[k - 1] + 1)) return "Scans overlap or leave gaps";
  }
  return nullptr;
}

double Dist2(const float* x, const float* y, const float* z, int a, int b) {
  const double dx = static_cast<double>(x[a]) - x[b];
  const double dy = static_cast<double>(y[a]) - y[b];
  const double dz = static_cast<double>(z[a]) - z[b];
  return dx * dx + dy * dy + dz * dz;
}

// scanOrder: 2 open scans (the end lies farther from the start than a probe a few points in),
// 1 closed scans (each returns near its start), 3 a mixture.
int ScanOrderOf(const float* x, const float* y, const float* z, const int* scanStart, const int* scanEnd,
                int nscans) {
  int order = 0;
  for (int k = 0; k < nscans; ++k) {
    const int s = scanStart[k], e = scanEnd[k], L = e - s + 1;
    if (L < 4) {
      order = (order == 0 || order == 2) ? 2 : 3;
      continue;
    }
    if (order == 3) continue;
    const int probe = s + (L / 10 < 3 ? L / 10 : 3) + 1;
    const double d1 = Dist2(x, y, z, s, probe), d2 = Dist2(x, y, z, s, e);
    if (order == 0) {
      order = d1 < d2 ? 2 : 1;
    } else if (order == 2 && d2 <= d1) {
      order = 3;
    } else if (order == 1 && d1 < d2) {
      order = 3;
    }
  }
  return order;
}

// direction: 2 when the first pair of scans with two points or more run the same way, 1 when
// they run against each other, 0 when undecided.
int ScanDirectionOf(const float* x, const float* y, const float* z, const int* scanStart, const int* scanEnd,
                    int nscans) {
  for (int k = 0; k + 1 < nscans; ++k) {
    const int s0 = scanStart[k], e0 = scanEnd[k], s1 = scanStart[k + 1], e1 = scanEnd[k + 1];
    if (e0 - s0 < 1 || e1 - s1 < 1) continue;
    const double u[3] = {static_cast<double>(x[s0]) - x[e0], static_cast<double>(y[s0]) - y[e0],
                         static_cast<double>(z[s0]) - z[e0]};
    const double w[3] = {static_cast<double>(x[s1]) - x[e1], static_cast<double>(y[s1]) - y[e1],
                         static_cast<double>(z[s1]) - z[e1]};
    const double dot = u[0] * w[0] + u[1] * w[1] + u[2] * w[2];
    return dot > 0.0 ? 2 : dot < 0.0 ? 1 : 0;
  }
  return 0;
}

Cloud* MakeScanCloud(float* x, float* y, float* z, int n, const int* scanStart, const int* scanEnd,
                     int nscans, double* bbox, int strict, bool adopt) {
  if (n < 1) return nullptr;
  auto unordered = [&]() { return adopt ? MakeCldNoAlloc(x, y, z, n, bbox) : MakeCld(x, y, z, n, bbox); };
  if (nscans < 2 && !strict) return unordered();
  if (const char* bad = BadScans(n, scanStart, scanEnd, nscans)) {
    ScanMessage(bad);
    return strict ? nullptr : unordered();
  }
  const int last = scanEnd[nscans - 1];
  if (last != n - 1) {
    ScanMessage("Ends array ends with value != ndata-1");
    if (!strict && n - last >= 10) return unordered();
    n = last + 1;  // a few trailing points are cut off
  }
  TrackingScope scope;
  auto* start = MallocArray<int32_t>(nscans);
  auto* end = MallocArray<int32_t>(nscans);
  if (!start || !end || KernelFailed()) return nullptr;
  int longest = 0;
  bool singlePair = false;
  for (int k = 0; k < nscans; ++k) {
    start[k] = scanStart[k];
    end[k] = scanEnd[k];
    const int L = end[k] - start[k] + 1;
    if (L > longest) longest = L;
    if (k >= 2 && L == 1 && end[k - 1] == start[k - 1]) singlePair = true;
  }
  Cloud* cloud = adopt ? WrapPoints(x, y, z, n, bbox) : MakeCld(x, y, z, n, bbox);
  if (!cloud) return nullptr;
  scope.keep();
  if (adopt) Adopt(x, y, z);
  cloud->type = 13;
  cloud->nscans = nscans;
  cloud->scanStart = start;
  cloud->scanEnd = end;
  cloud->ptsPerRow = longest;
  cloud->scanOrder = ScanOrderOf(x, y, z, start, end, nscans);
  cloud->direction = ScanDirectionOf(x, y, z, start, end, nscans);
  // Runs of single points are no scans; a lone scan is none either.
  if (!strict && (singlePair || nscans == 1)) DropScans(cloud);
  return cloud;
}

}  // namespace

Cloud* MakeScanCldNew(const float* x, const float* y, const float* z, int n, const int* scanStart,
                      const int* scanEnd, int nscans, double* bbox, int strict) {
  // The copying road never writes the caller's arrays.
  return MakeScanCloud(const_cast<float*>(x), const_cast<float*>(y), const_cast<float*>(z), n, scanStart,
                       scanEnd, nscans, bbox, strict, false);
}

Cloud* MakeScanCld(const float* x, const float* y, const float* z, int n, const int* scanStart,
                   const int* scanEnd, int nscans, double* bbox) {
  return MakeScanCldNew(x, y, z, n, scanStart, scanEnd, nscans, bbox, 0);
}

Cloud* MakeScanCldNoAllocNew(float* x, float* y, float* z, int n, const int* scanStart, const int* scanEnd,
                             int nscans, double* bbox, int strict) {
  return MakeScanCloud(x, y, z, n, scanStart, scanEnd, nscans, bbox, strict, true);
}

Cloud* MakeScanCldNoAlloc(float* x, float* y, float* z, int n, const int* scanStart, const int* scanEnd,
                          int nscans, double* bbox) {
  return MakeScanCldNoAllocNew(x, y, z, n, scanStart, scanEnd, nscans, bbox, 0);
}

float* GetGridArray(const Cloud* cloud) {
  if (!cloud) return nullptr;
  const int r = cloud->grid.rowAxis, c = cloud->grid.colAxis;
  if (r == 0) return c == 2 ? cloud->y : cloud->z;
  if (r == 1) return c == 2 ? cloud->x : cloud->z;
  if (r == 2) return c == 0 ? cloud->y : cloud->x;
  return cloud->z;
}

void FreeCloudPolygons(Cloud* cloud) {
  Free(cloud->tri);
  Free(cloud->isVert);
  cloud->ntri = 0;
  cloud->tri = nullptr;
  cloud->isVert = nullptr;
}

void FreeCloudSlice(Cloud* cloud) {
  CloudSlice* s = cloud->slice;
  if (!s) return;
  Free(s->scanValue);
  Free(s->scanFirstSlice);
  Free(s->scanSliceCount);
  Free(s->sliceStart);
  Free(s->sliceEnd);
  Free(s->sliceKind);
  Free(s->sliceFlag);
  Free(s->sliceNext);
  Free(s);
  cloud->slice = nullptr;
}

void FreeCloudFarrays(Cloud* cloud) {
  CloudFarrays& f = cloud->farrays;
  if (f.count == 0) return;
  if (f.arrays) {
    for (int k = 0; k < f.count; ++k) Free(f.arrays[k]);
  }
  Free(f.arrays);
  Free(f.types);
  f = CloudFarrays{};
}

void FreeCloudLabels(Cloud* cloud) {
  if (cloud->labels) {
    for (int i = 0; i < cloud->npts; ++i) Free(cloud->labels[i]);
  }
  FreeAndNull(cloud->labels);
  FreeAndNull(cloud->labelIsShow);
}

void FreeCloud(Cloud* cloud) {
  if (!cloud) return;
  Free(cloud->x);
  Free(cloud->y);
  Free(cloud->z);
  Free(cloud->nx);
  Free(cloud->ny);
  Free(cloud->nz);
  for (float* c : cloud->colour) Free(c);
  Free(cloud->scanStart);
  Free(cloud->scanEnd);
  Free(cloud->isShow);
  FreeCloudPolygons(cloud);
  Free(cloud->rowNumber);
  Free(cloud->reliability);
  FreeCloudSlice(cloud);
  FreeCloudFarrays(cloud);
  FreeCloudLabels(cloud);
  Free(cloud);
}

// ---- Triangle clouds and vertex normals ------------------------------------------------------

namespace {

void PointOf(const Cloud* c, int i, double p[3]) {
  p[0] = c->x[i];
  p[1] = c->y[i];
  p[2] = c->z[i];
}

void TriangleNormal(const double p0[3], const double p1[3], const double p2[3], double n[3]) {
  const double a[3] = {p2[0] - p0[0], p2[1] - p0[1], p2[2] - p0[2]};
  const double b[3] = {p1[0] - p0[0], p1[1] - p0[1], p1[2] - p0[2]};
  n[0] = a[1] * b[2] - a[2] * b[1];
  n[1] = a[2] * b[0] - a[0] * b[2];
  n[2] = a[0] * b[1] - a[1] * b[0];
  const double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
  if (len < 1e-30) {
    n[0] = n[1] = n[2] = std::sqrt(1.0 / 3.0);
  } else {
    for (int k = 0; k < 3; ++k) n[k] /= len;
  }
}

// The angle in degrees at a corner whose edges have the dot product dot and the length product
// mag. Its sign bit is cleared by hand, not by fabs: knowing the arc cosine's range, the compiler
// drops a fabs, and the NaN angle of an infinite coordinate would then change the normals' bits.
double CornerAngle(double dot, double mag) {
  double angle = AngleFromDotAndSizes(dot, mag);
  uint64_t bits;
  std::memcpy(&bits, &angle, sizeof bits);
  bits &= ~(uint64_t{1} << 63);
  std::memcpy(&angle, &bits, sizeof bits);
  if (angle > 180) angle = 360 - angle;
  return angle;
}

// The terms of a triangle's angles at its first two corners: the dot products of the edges
// leaving them and the products of those edges' lengths. Each length is taken once: |b - a| and
// |a - b| have the same bits.
void CornerTerms(const Cloud* c, const int32_t v[3], double dot[2], double mag[2]) {
  double p[3][3];
  for (int j = 0; j < 3; ++j) PointOf(c, v[j], p[j]);
  double e01[3], e02[3], e12[3], e10[3];
  for (int k = 0; k < 3; ++k) {
    e01[k] = p[1][k] - p[0][k], e02[k] = p[2][k] - p[0][k];
    e12[k] = p[2][k] - p[1][k], e10[k] = p[0][k] - p[1][k];
  }
  const double l01 = std::sqrt(VecDotProd3(e01, e01)), l02 = std::sqrt(VecDotProd3(e02, e02)),
               l12 = std::sqrt(VecDotProd3(e12, e12));
  dot[0] = VecDotProd3(e01, e02), mag[0] = l01 * l02;
  dot[1] = VecDotProd3(e12, e10), mag[1] = l12 * l01;
}

// The angles at the corners of a triangle in their order from its terms, the last as 180 minus
// the other two. A second corner with the first one's index takes the first corner's angle: the
// legacy lookup finds a corner by its index.
void AnglesFromTerms(const int32_t v[3], const double dot[2], const double mag[2], double angles[3]) {
  angles[0] = CornerAngle(dot[0], mag[0]);
  angles[1] = v[1] == v[0] ? angles[0] : CornerAngle(dot[1], mag[1]);
  angles[2] = 180 - angles[0] - angles[1];
}

bool BitSet(const uint8_t* bits, int i) { return (bits[i >> 3] >> (i & 7)) & 1u; }
void SetBit(uint8_t* bits, int i) { bits[i >> 3] |= static_cast<uint8_t>(1u << (i & 7)); }

// Which normals a member of the family recomputes.
enum class NormalSet { All, MinusOne, Zero, FromIndex };

// Adds angle x plane normal of every triangle into the selected vertices it touches (sel null:
// all); marks touched vertices in bits when given. Method: in blocks of triangles, first the
// terms of all their angles, then all the arc cosines, then the sums: taken a triangle at a time,
// each arc cosine waited for the square roots and divisions before it.
void AccumulateNormals(Cloud* c, const uint8_t* sel, uint8_t* bits) {
  constexpr int kBlock = 64;
  int block[kBlock];
  double dot[kBlock][2], mag[kBlock][2], angles[kBlock][3];
  for (int t = 0; t < c->ntri;) {
    int m = 0;
    for (; t < c->ntri && m < kBlock; ++t) {
      const int32_t* v = c->tri[t].v;
      if (sel && !sel[v[0]] && !sel[v[1]] && !sel[v[2]]) continue;
      block[m] = t;
      CornerTerms(c, v, dot[m], mag[m]);
      ++m;
    }
    for (int k = 0; k < m; ++k) AnglesFromTerms(c->tri[block[k]].v, dot[k], mag[k], angles[k]);
    for (int k = 0; k < m; ++k) {
      const CloudTriangle& tr = c->tri[block[k]];
      for (int j = 0; j < 3; ++j) {
        const int v = tr.v[j];
        if (bits) SetBit(bits, v);
        if (sel && !sel[v]) continue;
        c->nx[v] += static_cast<float>(angles[k][j] * tr.plane[0]);
        c->ny[v] += static_cast<float>(angles[k][j] * tr.plane[1]);
        c->nz[v] += static_cast<float>(angles[k][j] * tr.plane[2]);
      }
    }
  }
}

void NormaliseSelected(Cloud* c, const uint8_t* sel) {
  for (int i = 0; i < c->npts; ++i) {
    if (!sel[i]) continue;
    const double len = std::sqrt(double(c->nx[i]) * c->nx[i] + double(c->ny[i]) * c->ny[i] +
                                 double(c->nz[i]) * c->nz[i]);
    const double s = 1.0 / (len > 1e-10 ? len : 1e-10);
    c->nx[i] = static_cast<float>(c->nx[i] * s);
    c->ny[i] = static_cast<float>(c->ny[i] * s);
    c->nz[i] = static_cast<float>(c->nz[i] * s);
  }
}

// Zeroes every (selected) vertex normal lying more than acos(cosLimit) from one of its triangles;
// with turn set, a normal facing away from a triangle is first negated.
void RejectNormals(Cloud* c, double cosLimit, const uint8_t* sel, bool turn) {
  for (int t = 0; t < c->ntri; ++t) {
    const CloudTriangle& tr = c->tri[t];
    for (int v : tr.v) {
      if (sel && !sel[v]) continue;
      if (c->nx[v] == 0 && c->ny[v] == 0 && c->nz[v] == 0) continue;
      double dot = tr.plane[0] * double(c->nx[v]) + tr.plane[1] * double(c->ny[v]) + tr.plane[2] * double(c->nz[v]);
      if (turn && dot < 0) {
        c->nx[v] = -c->nx[v], c->ny[v] = -c->ny[v], c->nz[v] = -c->nz[v];
        dot = -dot;
      }
      if (dot < cosLimit) c->nx[v] = c->ny[v] = c->nz[v] = 0;
    }
  }
}

void FreeNormals(Cloud* c) {
  FreeAndNull(c->nx);
  FreeAndNull(c->ny);
  FreeAndNull(c->nz);
}

// Fresh zeroed normal arrays, and a fresh cleared isVert when bits is set. False (all of them
// absent) on no memory.
bool FreshNormals(Cloud* c, bool bits) {
  FreeNormals(c);
  if (bits) FreeAndNull(c->isVert);
  TrackingScope scope;
  float *nx, *ny, *nz;
  uint8_t* isVert = nullptr;
  if (!CallocArrayUnlessFailed(nx, c->npts) || !CallocArrayUnlessFailed(ny, c->npts) ||
      !CallocArrayUnlessFailed(nz, c->npts) ||
      (bits && !CallocArrayUnlessFailed(isVert, CloudBitArrayBytes(c->npts))))
    return false;
  scope.keep();
  c->nx = nx, c->ny = ny, c->nz = nz;
  if (bits) c->isVert = isVert;
  return true;
}

// A null isVert stands for "every point is a vertex".
void DropFullBits(Cloud* c) {
  for (int i = 0; i < c->npts; ++i)
    if (!BitSet(c->isVert, i)) return;
  FreeAndNull(c->isVert);
}

constexpr double kRejectCos = 0.70710678;  // 45 degrees

int AllNormals(Cloud* c, double cosLimit, bool rebuildBits) {
  if (c->ntri <= 0) return 1;
  if (!MeshCornersNamePoints(c, nullptr)) return 0;
  if (!FreshNormals(c, rebuildBits)) return 0;
  AccumulateNormals(c, nullptr, c->isVert);
  ArraysNormalize3_f(c->nx, c->ny, c->nz, c->npts);
  if (rebuildBits) DropFullBits(c);
  RejectNormals(c, cosLimit, nullptr, false);
  return 1;
}

// The partial members: the selected normals are set to zero, summed again and normalised.
int SomeNormals(Cloud* c, NormalSet which, int from) {
  if (c->ntri <= 0) return 1;
  if (!MeshCornersNamePoints(c, nullptr)) return 0;
  TrackingScope scope;
  uint8_t* sel = nullptr;
  // The normals that are kept come from elsewhere (a file, a sampling): without scratch they
  // stay as they are rather than being thrown away.
  if (!CallocArrayUnlessFailed(sel, c->npts)) return 0;
  for (int i = 0; i < c->npts; ++i) {
    const float a = c->nx[i], b = c->ny[i], d = c->nz[i];
    sel[i] = which == NormalSet::MinusOne ? (a == -1 && b == -1 && d == -1)
             : which == NormalSet::Zero   ? (a == 0 && b == 0 && d == 0)
                                          : i >= from;
    if (sel[i]) c->nx[i] = c->ny[i] = c->nz[i] = 0;
  }
  AccumulateNormals(c, sel, nullptr);
  NormaliseSelected(c, sel);
  if (which == NormalSet::MinusOne) {
    RejectNormals(c, kRejectCos, sel, true);
    return CloudSetIsVerts(c);
  }
  if (which == NormalSet::Zero) {
    if (!CloudSetIsVerts(c)) return 0;
    RejectNormals(c, kRejectCos, nullptr, false);
  }
  return 1;
}

}  // namespace

void FindPolyNormal(const float* verts, const int v[3], double normal[3]) {
  if (!verts) return;
  double p[3][3];
  for (int j = 0; j < 3; ++j)
    for (int k = 0; k < 3; ++k) p[j][k] = verts[3 * v[j] + k];
  TriangleNormal(p[0], p[1], p[2], normal);
}

void MakeCldPolyPlane(const Cloud* cloud, CloudTriangle* tri) {
  double p[3][3], n[3];
  for (int j = 0; j < 3; ++j) PointOf(cloud, tri->v[j], p[j]);
  TriangleNormal(p[0], p[1], p[2], n);
  for (int k = 0; k < 3; ++k) tri->plane[k] = static_cast<float>(n[k]);
  tri->plane[3] = static_cast<float>(-(n[0] * p[0][0] + n[1] * p[0][1] + n[2] * p[0][2]));
}

int FindTriangleAngleAtVert(const Cloud* cloud, int t, int v, double* angle) {
  *angle = 0;
  if (!TriangleNamesPoints(cloud, t)) return 0;
  const int32_t* tv = cloud->tri[t].v;
  int j = 0;
  while (j < 3 && tv[j] != v) ++j;
  if (j == 3) return 0;
  double p[3], a[3], b[3];
  PointOf(cloud, v, p);
  PointOf(cloud, tv[(j + 1) % 3], a);
  PointOf(cloud, tv[(j + 2) % 3], b);
  double e1[3], e2[3];
  for (int k = 0; k < 3; ++k) e1[k] = a[k] - p[k], e2[k] = b[k] - p[k];
  *angle = CornerAngle(VecDotProd3(e1, e2), VecSize3(e1) * VecSize3(e2));
  return 1;
}

int FindTriangleAngles(const Cloud* cloud, int t, double angles[3]) {
  if (!TriangleNamesPoints(cloud, t)) {
    angles[0] = angles[1] = angles[2] = 0.0;
    return 0;
  }
  double dot[2], mag[2];
  CornerTerms(cloud, cloud->tri[t].v, dot, mag);
  AnglesFromTerms(cloud->tri[t].v, dot, mag, angles);
  return 1;
}

double FindCldTriangleArea(const Cloud* cloud, int t) {
  if (!TriangleNamesPoints(cloud, t)) return 0.0;
  double p[3][3];
  for (int j = 0; j < 3; ++j) PointOf(cloud, cloud->tri[t].v[j], p[j]);
  return AreaOfTriangle(p[0], p[1], p[2]);
}

int CloudSetIsVerts(Cloud* cloud) {
  if (!cloud) return 0;
  if (!cloud->tri) return 1;
  if (!MeshCornersNamePoints(cloud, nullptr)) return 0;
  FreeAndNull(cloud->isVert);
  TrackingScope scope;
  uint8_t* bits = nullptr;
  if (!CallocArrayUnlessFailed(bits, CloudBitArrayBytes(cloud->npts))) return 0;
  scope.keep();
  cloud->isVert = bits;
  for (int t = 0; t < cloud->ntri; ++t)
    for (int v : cloud->tri[t].v) SetBit(bits, v);
  DropFullBits(cloud);
  return 1;
}

int CloudSetNormVerts(Cloud* cloud) { return cloud ? AllNormals(cloud, kRejectCos, true) : 0; }

int CloudSetNormsSpec(Cloud* cloud, double angle) {
  if (!cloud) return 0;
  return AllNormals(cloud, std::cos(angle * 0.017444444444444446), false);
}

int CloudSetSomeNormVerts(Cloud* cloud) {
  if (!cloud) return 0;
  if (!cloud->nx || !cloud->ny || !cloud->nz) return CloudSetNormVerts(cloud);
  return SomeNormals(cloud, NormalSet::MinusOne, 0);
}

int CloudResetZeroNormsIsVerts(Cloud* cloud) {
  if (!cloud) return 0;
  if (!cloud->nx || !cloud->ny || !cloud->nz) return CloudSetNormVerts(cloud);
  return SomeNormals(cloud, NormalSet::Zero, 0);
}

int CloudSetOnlyNormVertsAfterIndx(Cloud* cloud, int k) {
  if (!cloud) return 0;
  if (!cloud->nx || !cloud->ny || !cloud->nz) return 1;
  return SomeNormals(cloud, NormalSet::FromIndex, k);
}

int RefreshCloudPolys(Cloud* cloud) {
  if (!cloud) return 0;
  if (!MeshCornersNamePoints(cloud, nullptr)) return 0;
  for (int t = 0; t < cloud->ntri; ++t) MakeCldPolyPlane(cloud, &cloud->tri[t]);
  return CloudSetNormVerts(cloud);
}

int GetVertexNormal(const Cloud* cloud, int i, double normal[3]) {
  normal[0] = normal[1] = normal[2] = 0;
  if (!cloud || i < 0 || i >= cloud->npts) return 0;
  const bool hasNormals = cloud->nx && cloud->ny && cloud->nz;
  if (!hasNormals && cloud->ntri <= 0) return 0;
  if (hasNormals && (std::fabs(cloud->nx[i]) >= 1e-10 || std::fabs(cloud->ny[i]) >= 1e-10 ||
                     std::fabs(cloud->nz[i]) >= 1e-10)) {
    normal[0] = cloud->nx[i], normal[1] = cloud->ny[i], normal[2] = cloud->nz[i];
    return 1;
  }
  if (!MeshCornersNamePoints(cloud, nullptr)) return 0;
  for (int t = 0; t < cloud->ntri; ++t) {
    double angle;
    if (!FindTriangleAngleAtVert(cloud, t, i, &angle)) continue;
    for (int k = 0; k < 3; ++k) normal[k] += angle * cloud->tri[t].plane[k];
  }
  const double len = std::sqrt(normal[0] * normal[0] + normal[1] * normal[1] + normal[2] * normal[2]);
  for (int k = 0; k < 3; ++k) normal[k] /= (len > 1e-10 ? len : 1e-10);
  return 1;
}

namespace {

// The triangle cloud of the vertices in use, tri left for the caller. newIndex[v] is the point of
// vertex v, -1 when not in use.
Cloud* CloudOfUsedVertices(const int* idx, int nidx, const float* verts, const float* norms, int nverts,
                           double* bbox, int* newIndex) {
  for (int v = 0; v < nverts; ++v) newIndex[v] = -1;
  for (int k = 0; k < nidx; ++k)
    if (idx[k] >= 0 && idx[k] < nverts) newIndex[idx[k]] = 0;
  int n = 0;
  for (int v = 0; v < nverts; ++v)
    if (newIndex[v] == 0) newIndex[v] = n++;
  if (n < 1) return nullptr;
  float *x, *y, *z;
  if (!MallocPoints(n, &x, &y, &z)) return nullptr;
  float *nx = nullptr, *ny = nullptr, *nz = nullptr;
  if (norms && !MallocPoints(n, &nx, &ny, &nz)) return nullptr;
  for (int v = 0; v < nverts; ++v) {
    const int i = newIndex[v];
    if (i < 0) continue;
    x[i] = verts[3 * v], y[i] = verts[3 * v + 1], z[i] = verts[3 * v + 2];
    if (norms) nx[i] = norms[3 * v], ny[i] = norms[3 * v + 1], nz[i] = norms[3 * v + 2];
  }
  Cloud* cloud = WrapPoints(x, y, z, n, bbox);
  if (!cloud) return nullptr;
  cloud->nx = nx, cloud->ny = ny, cloud->nz = nz;
  return cloud;
}

Cloud* PolyCloud(int ntri, const int* idx, int nidx, const float* verts, const float* norms, int nverts,
                 double* bbox) {
  if (ntri < 1 || nverts < 1 || nidx < 0) return nullptr;
  // A vertex in use becomes a point only when finite.
  bool sound = idx && verts && 3LL * ntri <= INT_MAX && 3LL * nverts <= INT_MAX;
  for (int i = 0; sound && i < nidx; ++i) {
    const int v = idx[i];
    if (v >= 0 && v < nverts)
      sound = std::isfinite(verts[3L * v]) && std::isfinite(verts[3L * v + 1]) && std::isfinite(verts[3L * v + 2]);
  }
  if (!sound) {
    SetKernelError(-2);
    return nullptr;
  }
  TrackingScope work;
  int* newIndex = MallocArray<int>(nverts);
  if (!newIndex) return nullptr;
  Cloud* cloud;
  {
    TrackingScope record;
    cloud = CloudOfUsedVertices(idx, nidx, verts, norms, nverts, bbox, newIndex);
    if (!cloud || KernelFailed()) return nullptr;
    record.keep();
  }
  TrackingScope triangles;
  auto* tri = MallocArray<CloudTriangle>(ntri);
  if (!tri) return cloud;  // the caller sees the error state and a cloud without triangles
  int kept = 0;
  for (int t = 0; t < ntri; ++t) {
    CloudTriangle tr{};
    bool ok = true;
    for (int j = 0; j < 3; ++j) {
      const int v = idx[3 * t + j];
      ok = ok && v >= 0 && v < nverts && newIndex[v] >= 0;
      tr.v[j] = ok ? newIndex[v] : 0;
    }
    if (!ok || (tr.v[0] == tr.v[1] && tr.v[1] == tr.v[2])) continue;
    MakeCldPolyPlane(cloud, &tr);
    tri[kept++] = tr;
  }
  triangles.keep();
  if (kept == 0) {
    Free(tri);
  } else {
    cloud->tri = tri;
    cloud->ntri = kept;
  }
  return cloud;
}

double LongestEdge(const Cloud* c) {
  double longest = 0;
  for (int t = 0; t < c->ntri; ++t)
    for (int j = 0; j < 3; ++j) {
      double a[3], b[3];
      PointOf(c, c->tri[t].v[j], a);
      PointOf(c, c->tri[t].v[(j + 1) % 3], b);
      longest = std::max(longest, VecDist3(a, b));
    }
  return longest;
}

// Hands back a finished triangle cloud, or frees it when the normals could not be had.
Cloud* WithNormals(Cloud* cloud) {
  if (!cloud) return nullptr;
  if (!CloudSetNormVerts(cloud)) {
    FreeCloud(cloud);
    return nullptr;
  }
  return cloud;
}

}  // namespace

Cloud* MakePolyCld(int ntri, const int* idx, int nidx, const float* verts, int nverts, double* bbox) {
  Cloud* cloud = PolyCloud(ntri, idx, nidx, verts, nullptr, nverts, bbox);
  if (cloud && !KernelFailed()) CloudSetNormVerts(cloud);
  return cloud;
}

Cloud* MakePolyCldWithNorms(int ntri, const int* idx, int nidx, const float* verts, const float* norms,
                            int nverts, double* bbox) {
  Cloud* cloud = PolyCloud(ntri, idx, nidx, verts, norms, nverts, bbox);
  if (!cloud || KernelFailed()) return cloud;
  if (!norms) CloudSetNormVerts(cloud);
  CloudSetSomeNormVerts(cloud);
  return cloud;
}

Cloud* MakePolyCldXYZ(const float* x, const float* y, const float* z, int ntri, double* bbox) {
  if (ntri < 1 || !x || !y || !z) return nullptr;
  const long corners = 3L * ntri;
  if (corners > INT_MAX) return nullptr;
  const int m = static_cast<int>(corners);
  TrackingScope work;
  float *sx, *sy, *sz;
  int* ids = MallocArray<int>(m);
  int* number = MallocArray<int>(m);
  if (!MallocPoints(m, &sx, &sy, &sz) || !ids || !number) return nullptr;
  for (int i = 0; i < m; ++i) sx[i] = x[i], sy[i] = y[i], sz[i] = z[i], ids[i] = i;
  SortXYZIndex_f(sx, sy, sz, ids, m);
  int n = 0;
  for (int i = 0; i < m; ++i) {
    if (i == 0 || sx[i] != sx[n - 1] || sy[i] != sy[n - 1] || sz[i] != sz[n - 1]) {
      sx[n] = sx[i], sy[n] = sy[i], sz[n] = sz[i];
      ++n;
    }
    number[ids[i]] = n - 1;
  }
  Owned<Cloud, FreeCloud> cloud;
  {
    TrackingScope record;
    cloud.reset(MakeCld(sx, sy, sz, n, bbox));
    auto* tri = MallocArray<CloudTriangle>(ntri);
    if (!cloud || !tri || KernelFailed()) return nullptr;
    record.keep();
    cloud->tri = tri;
    cloud->ntri = ntri;
  }
  for (int t = 0; t < ntri; ++t) {
    CloudTriangle& tr = cloud->tri[t];
    for (int j = 0; j < 3; ++j) tr.v[j] = number[3 * t + j];
    MakeCldPolyPlane(cloud.get(), &tr);
  }
  cloud->charLength = std::max(cloud->charLength, 1.5 * LongestEdge(cloud.get()));
  return WithNormals(cloud.release());
}

Cloud* MakeSinglePolyCld(const double p0[3], const double p1[3], const double p2[3], double* bbox) {
  const float x[3] = {float(p0[0]), float(p1[0]), float(p2[0])};
  const float y[3] = {float(p0[1]), float(p1[1]), float(p2[1])};
  const float z[3] = {float(p0[2]), float(p1[2]), float(p2[2])};
  Owned<Cloud, FreeCloud> cloud;
  {
    TrackingScope record;
    cloud.reset(MakeCld(x, y, z, 3, bbox));
    auto* tri = MallocArray<CloudTriangle>(1);
    if (!cloud || !tri || KernelFailed()) return nullptr;
    record.keep();
    cloud->tri = tri;
    cloud->ntri = 1;
  }
  cloud->tri[0].v[0] = 0, cloud->tri[0].v[1] = 1, cloud->tri[0].v[2] = 2;
  MakeCldPolyPlane(cloud.get(), &cloud->tri[0]);
  cloud->charLength = 1.5 * LongestEdge(cloud.get());
  return WithNormals(cloud.release());
}

Cloud* MakePartPolyCld(const Cloud* cloud, const int* list, int m, double* bbox) {
  if (m < 1 || !cloud || !list) return nullptr;
  for (int k = 0; k < m; ++k)
    if (list[k] < 0 || list[k] >= cloud->ntri || !CornersNamePoints(cloud->tri[list[k]].v, cloud->npts)) return nullptr;
  TrackingScope work;
  int* number = MallocArray<int>(cloud->npts);
  if (!number || KernelFailed()) return nullptr;
  for (int i = 0; i < cloud->npts; ++i) number[i] = -1;
  int n = 0;
  for (int k = 0; k < m; ++k)
    for (int v : cloud->tri[list[k]].v)
      if (number[v] < 0) number[v] = n++;
  Owned<Cloud, FreeCloud> part;
  {
    TrackingScope record;
    float *x, *y, *z;
    auto* tri = MallocArray<CloudTriangle>(m);
    if (!MallocPoints(n, &x, &y, &z) || !tri) return nullptr;
    for (int i = 0; i < cloud->npts; ++i) {
      const int j = number[i];
      if (j >= 0) x[j] = cloud->x[i], y[j] = cloud->y[i], z[j] = cloud->z[i];
    }
    part.reset(WrapPoints(x, y, z, n, bbox));
    if (!part || KernelFailed()) return nullptr;
    record.keep();
    part->tri = tri;
    part->ntri = m;
  }
  for (int k = 0; k < m; ++k) {
    part->tri[k] = cloud->tri[list[k]];
    for (int32_t& v : part->tri[k].v) v = number[v];
  }
  part->sourceRef = cloud->sourceRef;
  return WithNormals(part.release());
}

void AddoptPartialCloudPoly(const Cloud* source, const int* map, Cloud* target) {
  if (!source || !map || !target) return;
  if (target->npts < 3 || !MeshCornersNamePoints(source, nullptr)) return;
  auto survives = [&](const CloudTriangle& t) { return map[t.v[0]] >= 0 && map[t.v[1]] >= 0 && map[t.v[2]] >= 0; };
  int kept = 0;
  for (int t = 0; t < source->ntri; ++t) kept += survives(source->tri[t]);
  if (kept == 0) return;
  CloudTriangle* tri;
  {
    TrackingScope record;
    tri = MallocArray<CloudTriangle>(kept);
    if (!tri || KernelFailed()) {
      // Triangles are an extra: the target stays a valid cloud without them.
      record.release();
      ClearKernelError();
      return;
    }
    record.keep();
  }
  FreeCloudPolygons(target);
  int k = 0;
  for (int t = 0; t < source->ntri; ++t) {
    if (!survives(source->tri[t])) continue;
    tri[k] = source->tri[t];
    for (int32_t& v : tri[k].v) v = map[v];
    ++k;
  }
  target->tri = tri;
  target->ntri = kept;
  target->sourceRef = source->sourceRef;
  CloudSetNormVerts(target);
}
