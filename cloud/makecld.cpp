#include "cloud/makecld.h"

#include <climits>
#include <cmath>

#include "foundation/coreglob.h"
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
  if (n < 1) return nullptr;
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
  if (!cloud || m < 0 || k < 0 || k > cloud->npts) return nullptr;
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
