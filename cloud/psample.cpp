#include "cloud/psample.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "cloud/cldpoly.h"
#include "cloud/pcopy.h"
#include "foundation/coreglob.h"
#include "foundation/minmax.h"
#include "foundation/sort.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"

namespace {

int CountKept(const char* keep, int n) {
  int k = 0;
  for (int i = 0; i < n; ++i) k += keep[i] != 0;
  return k;
}

// The error state a tolerated sub-step raised is put back as it was before it.
class KeepErrorState {
 public:
  KeepErrorState() : status_(zk_error_status), memory_(memory_error) {}
  void restore() const { zk_error_status = status_, memory_error = memory_; }

 private:
  int status_;
  int memory_;
};

// The kept triangles, renumbered, planes as stored, in their old order: *out (untracked, null
// when none survives) and *count. False, with nothing allocated, on no memory.
bool CompactTriangles(const Cloud* c, const char* keep, int n, CloudTriangle** out, int* count) {
  *out = nullptr;
  *count = 0;
  TrackingScope work;
  int* map = MallocArray<int>(n);
  CloudTriangle* tri;
  {
    TrackingScope record;
    tri = MallocArray<CloudTriangle>(c->ntri);
    if (!map || !tri || KernelFailed()) return false;
    record.keep();
  }
  for (int i = 0, j = 0; i < n; ++i) map[i] = keep[i] ? j++ : -1;
  int kept = 0;
  for (int t = 0; t < c->ntri; ++t) {
    const int32_t* v = c->tri[t].v;
    if (map[v[0]] < 0 || map[v[1]] < 0 || map[v[2]] < 0) continue;
    tri[kept] = c->tri[t];
    for (int32_t& w : tri[kept].v) w = map[w];
    ++kept;
  }
  if (kept == 0) {
    Free(tri);
    return true;
  }
  if (kept < c->ntri) {
    if (CloudTriangle* shrunk = ReallocArray(tri, kept)) tri = shrunk;
  }
  *out = tri;
  *count = kept;
  return true;
}

// Rewrites the scans over the kept points: scans without a kept point go, the others span their
// first to last kept point in the new numbering. False when two kept scans in a row keep one
// point each (the cloud is then no scan cloud).
bool WalkScans(const char* keep, int32_t* start, int32_t* end, int nscans, int* kept, int* longest) {
  int newIndex = 0, out = 0;
  bool previousSingle = false;
  *longest = 0;
  for (int s = 0; s < nscans; ++s) {
    int first = -1, last = -1;
    for (int i = start[s]; i <= end[s]; ++i) {
      if (!keep[i]) continue;
      if (first < 0) first = newIndex;
      last = newIndex++;
    }
    if (first < 0) continue;
    const bool single = first == last;
    if (single && previousSingle) return false;
    previousSingle = single;
    start[out] = first;
    end[out] = last;
    if (last - first + 1 > *longest) *longest = last - first + 1;
    ++out;
  }
  *kept = out;
  return true;
}

// Vertex normals and isVert after the triangles changed. Normals that do not fit cost neither the
// triangles nor the points already sampled: the out-of-memory state stays set for the caller.
void RefreshVertexNormals(Cloud* c) {
  const int ok = c->nx && c->ny && c->nz ? CloudResetZeroNormsIsVerts(c) : CloudSetNormVerts(c);
  if (!ok && !KernelFailed()) SetOutOfMemory();
}

bool ShowBit(uint8_t* bits, int i) {
  bits[i >> 3] |= static_cast<uint8_t>(1u << (i & 7));
  return true;
}

// Shows the first and last point of the run and every su-th between.
void ShowRun(uint8_t* bits, int first, int last, int su) {
  ShowBit(bits, first);
  ShowBit(bits, last);
  for (int i = first + su; i < last; i += su) ShowBit(bits, i);
}

}  // namespace

int UpdateCloudIsShow(Cloud* cloud) {
  if (!cloud) return 0;
  FreeAndNull(cloud->isShow);
  const int su = cloud->strideU, sv = cloud->strideV;
  if ((cloud->type == 0 && su <= 1) || (su <= 1 && sv <= 1) || cloud->npts < 1) return 1;
  uint8_t* bits;
  {
    TrackingScope scope;
    bits = CallocArray<uint8_t>(CloudBitArrayBytes(cloud->npts));
    if (!bits || KernelFailed()) return 0;
    scope.keep();
  }
  cloud->isShow = bits;
  const int step = su < 1 ? 1 : su, rowStep = sv < 1 ? 1 : sv;
  const int n = cloud->npts;
  if (cloud->type == 0 || ((cloud->type != 17) && (!cloud->scanStart || !cloud->scanEnd))) {
    ShowRun(bits, 0, n - 1, step);
    return 1;
  }
  const int rows = cloud->nscans;
  for (int r = 0; r < rows; ++r) {
    if (r % rowStep != 0 && r != rows - 1) continue;
    const int first = cloud->type == 17 ? r * cloud->ptsPerRow : cloud->scanStart[r];
    const int last = cloud->type == 17 ? first + cloud->ptsPerRow - 1 : cloud->scanEnd[r];
    if (first < 0 || last >= n || last < first) continue;
    ShowRun(bits, first, last, step);
  }
  return 1;
}

int SampleCloudBasedOnArray(Cloud* cloud, const char* keep) {
  if (!cloud || !keep || !MeshCornersNamePoints(cloud, nullptr) || !CloudScansNamePoints(cloud)) return 0;
  const int n = cloud->npts, oldScans = cloud->nscans;
  const int k = CountKept(keep, n);
  if (k == 0) {
    // The arrays stay, but label strings would be lost to the free that counts them by npts.
    if (cloud->labels)
      for (int i = 0; i < n; ++i) FreeAndNull(cloud->labels[i]);
    cloud->npts = 0;
    return 1;
  }
  if (k == n) return 1;
  {
    TrackingScope work;
    int* from = MallocArray<int>(k);
    if (!from || KernelFailed()) return 0;
    for (int i = 0, j = 0; i < n; ++i)
      if (keep[i]) from[j++] = i;
    Owned<Cloud, FreeCloud> fresh(MallocNullCloud());
    if (!fresh || !GatherCloudPoints(cloud, from, k, false, true, fresh.get()) || KernelFailed()) return 0;
    ReplaceCloudPoints(cloud, fresh.get());
  }
  cloud->nptsBuilt = k;

  // From here on nothing fails the sampling: the triangles are dropped instead.
  if (cloud->ntri > 0) {
    FreeAndNull(cloud->isVert);
    // Triangles index the old numbering until replaced; the points are already compacted.
    CloudTriangle* tri;
    int count;
    Cloud old = *cloud;
    if (!CompactTriangles(&old, keep, n, &tri, &count)) {
      FreeCloudPolygons(cloud);
      ClearKernelError();
    } else {
      Free(cloud->tri);
      cloud->tri = tri;
      cloud->ntri = count;
    }
  }
  if (cloud->ntri > 0) RefreshVertexNormals(cloud);
  cloud->sampleMark = kNoValue;

  // A failed normals refresh is reported at the end; the scans, slices and display bits still
  // get their own chance at memory.
  const KeepErrorState status;
  ClearKernelError();
  if (cloud->type != 0 && cloud->scanStart && cloud->scanEnd) {
    if (cloud->type == 17) cloud->type = 13;
    int kept, longest;
    if (!WalkScans(keep, cloud->scanStart, cloud->scanEnd, oldScans, &kept, &longest)) {
      FreeAndNull(cloud->scanStart);
      FreeAndNull(cloud->scanEnd);
      cloud->type = 0;
      cloud->nscans = 0;
      cloud->ptsPerRow = 0;
      FreeCloudSlice(cloud);
      UpdateCloudIsShow(cloud);
      status.restore();
      return 1;
    }
    cloud->nscans = kept;
    cloud->ptsPerRow = longest;
  }
  if (cloud->slice) {
    CloudSlice* sampled = SampleCloudSlice(cloud, keep, n, oldScans);
    FreeCloudSlice(cloud);
    cloud->slice = sampled;
  }
  UpdateCloudIsShow(cloud);
  // A slice record or display bits that did not fit are left out, as documented; the points
  // themselves were sampled.
  status.restore();
  return 1;
}

Cloud* CreateCloudBasedOnArray(const Cloud* cloud, const unsigned char* keep, double* box) {
  if (!cloud || !keep) return nullptr;
  const char* mask = reinterpret_cast<const char*>(keep);
  const int n = cloud->npts;
  const int k = CountKept(mask, n);
  if (k == 0) return nullptr;
  TrackingScope work;
  int* from = MallocArray<int>(k);
  if (!from || KernelFailed()) return nullptr;
  for (int i = 0, j = 0; i < n; ++i)
    if (mask[i]) from[j++] = i;
  return CreateCloudBasedOnIndices(cloud, keep, from, k, box);
}

Cloud* CreateCloudBasedOnIndices(const Cloud* cloud, const unsigned char* keep, const int* from, int k,
                                 double* box) {
  if (!cloud || !keep || !from || k < 1 || !MeshCornersNamePoints(cloud, nullptr)) return nullptr;
  const char* mask = reinterpret_cast<const char*>(keep);
  const int n = cloud->npts;
  if (k == n) {
    Owned<Cloud, FreeCloud> copy(CopyCloud(cloud));
    if (!copy || KernelFailed()) return nullptr;
    if (box) GetCloudMinMax(copy.get(), &box[0], &box[1], &box[2], &box[3], &box[4], &box[5]);
    return copy.release();
  }
  TrackingScope work;
  Owned<Cloud, FreeCloud> data(MallocNullCloud());
  if (!data || !GatherCloudPoints(cloud, from, k, false, true, data.get()) || KernelFailed()) return nullptr;

  bool ordered = cloud->type != 0 && cloud->scanStart && cloud->scanEnd;
  int32_t *start = nullptr, *end = nullptr;
  int keptScans = 0, longest = 0;
  if (ordered) {
    start = MallocArray<int32_t>(cloud->nscans);
    end = MallocArray<int32_t>(cloud->nscans);
    if (!start || !end || KernelFailed()) return nullptr;
    std::memcpy(start, cloud->scanStart, sizeof(int32_t) * cloud->nscans);
    std::memcpy(end, cloud->scanEnd, sizeof(int32_t) * cloud->nscans);
    ordered = WalkScans(mask, start, end, cloud->nscans, &keptScans, &longest);
  }
  if (cloud->ntri > 0 && !CompactTriangles(cloud, mask, n, &data->tri, &data->ntri)) return nullptr;
  CloudSlice* slice = nullptr;
  if (cloud->slice && ordered) {
    slice = SampleCloudSlice(cloud, mask, n, cloud->nscans);
    if (!slice) return nullptr;
    data->slice = slice;  // freed with the data on every failure below
  }

  Owned<Cloud, FreeCloud> result(ordered ? MakeScanCldNoAlloc(data->x, data->y, data->z, k, start, end, keptScans, box)
                                         : MakeCldNoAlloc(data->x, data->y, data->z, k, box));
  if (!result || KernelFailed()) return nullptr;
  Cloud* c = result.get();
  c->x = c->y = c->z = nullptr;  // the same arrays as data's, which move in below
  ReplaceCloudPoints(c, data.get());
  c->nptsBuilt = k;
  c->ptsPerRow = c->type == 0 ? 0 : longest;
  c->colourFlag = cloud->colour[0] && cloud->colour[1] && cloud->colour[2] ? cloud->colourFlag : 0;
  c->tri = data->tri;
  c->ntri = data->ntri;
  data->tri = nullptr;
  data->ntri = 0;
  c->strideU = cloud->strideU;
  c->strideV = cloud->strideV;
  if (!UpdateCloudIsShow(c)) return nullptr;
  c->sampleMark = kNoValue;
  // The constructor may still find the kept scans no scan cloud (a single scan): then no slices.
  if (c->type != 0) {
    c->slice = data->slice;
    data->slice = nullptr;
  }
  if (c->ntri > 0) {
    const int ok = c->nx && c->ny && c->nz ? CloudResetZeroNormsIsVerts(c) : CloudSetNormVerts(c);
    if (!ok) return nullptr;
  }
  return result.release();
}

void Sample3Arrays(int n, int step, int /*nsamples*/, char* mask) {
  if (n < 1) return;
  if (step < 1) step = 1;
  std::memset(mask, 0, n);
  for (int i = 0; i < n; i += step) mask[i] = 1;
  mask[n - 1] = 1;
}

void SampleScanArrays(const int* scanStart, const int* scanEnd, int nscans, int pointStep, int scanStep,
                      char* mask) {
  if (nscans < 1) return;
  if (pointStep < 1) pointStep = 1;
  if (scanStep < 1) scanStep = 1;
  std::memset(mask, 0, scanEnd[nscans - 1] + 1);
  auto scan = [&](int s) {
    for (int i = scanStart[s]; i < scanEnd[s]; i += pointStep) mask[i] = 1;
    mask[scanEnd[s]] = 1;
  };
  for (int s = 0; s < nscans - 1; s += scanStep) scan(s);
  scan(nscans - 1);
}

namespace {

// Applies a mask that the builder fills (false: it could not).
template <class Fill>
int SampleWith(Cloud* cloud, Fill fill) {
  if (!cloud || cloud->npts < 1) return 0;
  TrackingScope scope;
  char* mask = MallocArray<char>(cloud->npts);
  if (!mask || KernelFailed() || !fill(mask)) return 0;
  return SampleCloudBasedOnArray(cloud, mask) == 1 ? 1 : 0;
}

}  // namespace

int sample_scattered_cloud(Cloud* cloud, int step) {
  return SampleWith(cloud, [&](char* mask) {
    Sample3Arrays(cloud->npts, step < 1 ? 1 : step, 2, mask);
    return true;
  });
}

int sample_scan_cloud(Cloud* cloud, int pointStep, int scanStep) {
  if (!cloud || !cloud->scanStart || !cloud->scanEnd || cloud->nscans < 1 || !CloudScansNamePoints(cloud)) return 0;
  return SampleWith(cloud, [&](char* mask) {
    SampleScanArrays(cloud->scanStart, cloud->scanEnd, cloud->nscans, pointStep, scanStep, mask);
    return true;
  });
}

int sample_spheres_cloud(Cloud* cloud, double radius) {
  return SampleWith(cloud, [&](char* mask) {
    return DuplicatePointsIndices(cloud->x, cloud->y, cloud->z, cloud->npts, radius, mask) == 1;
  });
}

namespace {

// Kept points binned on y and z with cells at least tol wide, so every kept point strictly
// within tol of a point lies in the 3 x 3 cells around it. Each cell chains its kept points
// newest first, that is in descending x, the order of the walk back over the kept list.
struct KeptBins {
  double ylo, zlo, cell;
  int ny, nz;
  int* head;  // per cell: newest kept entry, -1 for none
  int* link;  // per kept entry: the previous one of its cell
  int CellOf(double y, double z, int* iy, int* iz) const {
    *iy = std::clamp(static_cast<int>((y - ylo) / cell), 0, ny - 1);
    *iz = std::clamp(static_cast<int>((z - zlo) / cell), 0, nz - 1);
    return *iy * nz + *iz;
  }
};

bool MakeKeptBins(const float* y, const float* z, int n, double tol, KeptBins* bins) {
  double ylo = y[0], yhi = y[0], zlo = z[0], zhi = z[0];
  for (int i = 1; i < n; ++i) {
    ylo = std::min<double>(ylo, y[i]), yhi = std::max<double>(yhi, y[i]);
    zlo = std::min<double>(zlo, z[i]), zhi = std::max<double>(zhi, z[i]);
  }
  // A little wider than tol against rounding at cell borders; wider still when the cells
  // would outnumber the points by far.
  double cell = tol * 1.001;
  const double budget = 4.0 * n;
  while ((std::floor((yhi - ylo) / cell) + 1) * (std::floor((zhi - zlo) / cell) + 1) > budget) cell *= 2;
  bins->ylo = ylo, bins->zlo = zlo, bins->cell = cell;
  bins->ny = static_cast<int>(std::floor((yhi - ylo) / cell)) + 1;
  bins->nz = static_cast<int>(std::floor((zhi - zlo) / cell)) + 1;
  bins->head = MallocArray<int>(bins->ny, bins->nz);
  bins->link = MallocArray<int>(n);
  if (!bins->head || !bins->link || KernelFailed()) return false;
  for (int c = 0; c < bins->ny * bins->nz; ++c) bins->head[c] = -1;
  return true;
}

}  // namespace

int DuplicatePointsIndices(float* x, float* y, float* z, int n, double tol, char* mask) {
  for (int i = 0; i < n; ++i) mask[i] = 1;
  // A tolerance of 0 or less drops nothing: the walk back stops at once.
  if (n < 2 || !(tol > 0)) return 1;
  TrackingScope scope;
  float* kx = MallocArray<float>(n);
  float* ky = MallocArray<float>(n);
  float* kz = MallocArray<float>(n);
  int* ids = MallocArray<int>(n);
  KeptBins bins{};
  if (!kx || !ky || !kz || !ids || KernelFailed() || !MakeKeptBins(y, z, n, tol, &bins)) return 0;
  for (int i = 0; i < n; ++i) ids[i] = i;
  SortXYZIndex_f(x, y, z, ids, n);
  const double tol2 = tol * tol;
  int kept = 0;
  for (int i = 0; i < n; ++i) {
    bool duplicate = false;
    int iy, iz;
    const int own = bins.CellOf(y[i], z[i], &iy, &iz);
    // Kept points ascend in x, so each cell's walk back stops at the first one beyond tol in x.
    for (int cy = std::max(iy - 1, 0); cy <= std::min(iy + 1, bins.ny - 1) && !duplicate; ++cy)
      for (int cz = std::max(iz - 1, 0); cz <= std::min(iz + 1, bins.nz - 1) && !duplicate; ++cz)
        for (int j = bins.head[cy * bins.nz + cz]; j >= 0; j = bins.link[j]) {
          const double dx = double(x[i]) - kx[j];
          if (dx > tol) break;
          const double dy = double(y[i]) - ky[j], dz = double(z[i]) - kz[j];
          if (dx * dx + dy * dy + dz * dz < tol2) {
            duplicate = true;
            break;
          }
        }
    if (duplicate) {
      mask[ids[i]] = 0;
      continue;
    }
    kx[kept] = x[i], ky[kept] = y[i], kz[kept] = z[i];
    bins.link[kept] = bins.head[own];
    bins.head[own] = kept++;
  }
  // Sorting the original positions back restores the caller's arrays exactly.
  HeapSortInt3F(n, ids, x, y, z);
  return 1;
}

void SampleGridArray(const int* src, int nrows, int ncols, int colStep, int rowStep, int* dst) {
  if (colStep < 1) colStep = 1;
  if (rowStep < 1) rowStep = 1;
  int k = 0;
  for (int r = 0; r < nrows; r += rowStep)
    for (int c = 0; c < ncols; c += colStep) dst[k++] = src[static_cast<long>(r) * ncols + c];
}

CloudSlice* SampleCloudSlice(const Cloud* cloud, const char* keep, int n, int nscans) {
  const CloudSlice* old = cloud ? cloud->slice : nullptr;
  if (!old) return nullptr;
  const int S = cloud->type == 0 ? 1 : nscans;
  const int m = old->nslices;
  TrackingScope outer;
  int* newIndex = MallocArray<int>(n + 1);
  int* newNumber = MallocArray<int>(m + 1);
  int* firstKept = MallocArray<int>(m + 1);
  int* target = MallocArray<int>(m + 1);
  uint8_t* broken = MallocArray<uint8_t>(m + 1);
  uint8_t* flag = MallocArray<uint8_t>(m + 1);
  int* scanNumber = MallocArray<int>(S + 1);
  if (!newIndex || !newNumber || !firstKept || !target || !broken || !flag || !scanNumber || KernelFailed())
    return nullptr;
  int k = 0;
  for (int i = 0; i < n; ++i) newIndex[i] = k, k += keep[i] != 0;

  // Kept slices (a first kept point), and which of them the mask broke.
  int keptSlices = 0;
  for (int s = 0; s < m; ++s) {
    const int a = old->sliceStart[s], b = old->sliceEnd[s];
    firstKept[s] = -1;
    newNumber[s] = -1;
    broken[s] = 0;
    flag[s] = old->sliceFlag[s];
    int count = 0, run = 0;
    const int longestGap = (b - a) / 4 + 1;
    for (int i = a; i <= b && i < n; ++i) {
      if (keep[i]) {
        if (firstKept[s] < 0) firstKept[s] = i;
        ++count;
        run = 0;
      } else if (firstKept[s] >= 0 && ++run > longestGap) {
        broken[s] = 1;
      }
    }
    if (firstKept[s] < 0) continue;
    newNumber[s] = keptSlices++;
    if (count < 3) broken[s] = 1;
  }
  // Chains skip dropped and broken slices; an odd number skipped flips a kind-1 slice's flag.
  for (int s = 0; s < m; ++s) {
    target[s] = -1;
    int t = old->sliceNext[s], skipped = 0;
    if (t < 0) continue;
    for (int guard = 0; t >= 0 && t < m && (newNumber[t] < 0 || broken[t]) && guard <= m; ++guard) {
      ++skipped;
      t = old->sliceNext[t];
    }
    target[s] = t >= 0 && t < m && newNumber[t] >= 0 && !broken[t] ? t : -1;
    if (skipped % 2 == 1 && old->sliceKind[s] == 1) flag[s] = !flag[s];
  }
  int keptScans = 0;
  for (int sc = 0; sc < S; ++sc) {
    scanNumber[sc] = -1;
    for (int j = 0; j < old->scanSliceCount[sc]; ++j) {
      const int s = old->scanFirstSlice[sc] + j;
      if (s >= 0 && s < m && newNumber[s] >= 0) {
        scanNumber[sc] = keptScans++;
        break;
      }
    }
  }

  TrackingScope inner;
  auto* r = static_cast<CloudSlice*>(Malloc(sizeof(CloudSlice)));
  if (!r || KernelFailed()) return nullptr;
  *r = CloudSlice{};
  const int perScan = cloud->type == 0 ? 1 : keptScans;
  r->scanValue = CallocArray<float>(perScan);
  r->scanFirstSlice = CallocArray<int32_t>(perScan);
  r->scanSliceCount = CallocArray<int32_t>(perScan);
  r->sliceStart = MallocArray<int32_t>(keptSlices);
  r->sliceEnd = MallocArray<int32_t>(keptSlices);
  r->sliceKind = MallocArray<uint8_t>(keptSlices);
  r->sliceFlag = MallocArray<uint8_t>(keptSlices);
  r->sliceNext = MallocArray<int32_t>(keptSlices);
  if (KernelFailed()) return nullptr;
  std::memcpy(r->header, old->header, sizeof r->header);
  r->nslices = keptSlices;
  for (int s = 0; s < m; ++s) {
    const int j = newNumber[s];
    if (j < 0) continue;
    r->sliceStart[j] = newIndex[firstKept[s]];
    r->sliceKind[j] = broken[s] && old->sliceKind[s] == 1 ? 0 : old->sliceKind[s];
    r->sliceFlag[j] = flag[s];
    r->sliceNext[j] = target[s] >= 0 ? newNumber[target[s]] : -1;
  }
  for (int j = 0; j < keptSlices; ++j) r->sliceEnd[j] = j + 1 < keptSlices ? r->sliceStart[j + 1] - 1 : k - 1;
  if (cloud->type == 0) {
    r->scanValue[0] = old->scanValue[0];
    r->scanFirstSlice[0] = 0;
    r->scanSliceCount[0] = keptSlices;
  } else {
    for (int sc = 0; sc < S; ++sc) {
      const int ns = scanNumber[sc];
      if (ns < 0) continue;
      r->scanValue[ns] = old->scanValue[sc];
      r->scanFirstSlice[ns] = -1;
      for (int j = 0; j < old->scanSliceCount[sc]; ++j) {
        const int s = old->scanFirstSlice[sc] + j;
        if (s < 0 || s >= m || newNumber[s] < 0) continue;
        if (r->scanFirstSlice[ns] < 0) r->scanFirstSlice[ns] = newNumber[s];
        ++r->scanSliceCount[ns];
      }
    }
  }
  // Dropped slices re-base the values on the first scan that keeps one: base and every kept
  // scan's value drop by that scan's value, so each value less the base stays put.
  if (keptSlices < m && keptScans > 0 && cloud->type != 0) {
    const float shift = r->scanValue[0];
    double base;
    std::memcpy(&base, &r->header[6], sizeof base);
    base -= shift;
    std::memcpy(&r->header[6], &base, sizeof base);
    for (int ns = 0; ns < keptScans; ++ns) r->scanValue[ns] -= shift;
  }
  inner.keep();
  return r;
}
