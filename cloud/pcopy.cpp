#include "cloud/pcopy.h"

#include <cstring>

#include "foundation/coreglob.h"
#include "foundation/umalloc.h"

namespace {

// A fresh copy of count elements. Null without failure when there is nothing to copy; on no
// memory null with *failed set.
template <typename T>
T* Duplicate(const T* src, int count, bool* failed) {
  if (!src || count <= 0) return nullptr;
  const size_t bytes = static_cast<size_t>(count) * sizeof(T);
  auto* copy = MallocArray<T>(count);
  if (!copy) {
    *failed = true;
    return nullptr;
  }
  std::memcpy(copy, src, bytes);
  return copy;
}

char* DuplicateString(const char* s, bool* failed) {
  if (!s) return nullptr;
  return Duplicate(s, static_cast<int>(std::strlen(s)) + 1, failed);
}

// Three optional per-point arrays copied together: all that the source has, or none.
bool DuplicateTriple(float* const src[3], int n, float* out[3]) {
  bool failed = false;
  float* copy[3];
  for (int k = 0; k < 3; ++k) copy[k] = Duplicate(src[k], n, &failed);
  if (failed) {
    for (float* c : copy) Free(c);
    return false;
  }
  for (int k = 0; k < 3; ++k) out[k] = copy[k];
  return true;
}

// The slice's per-scan arrays are as long as its scan values: one per scan on an ordered
// cloud, a single entry on an unordered one.
CloudSlice* DuplicateSlice(const CloudSlice* src, int perScan) {
  auto* s = static_cast<CloudSlice*>(Malloc(sizeof(CloudSlice)));
  if (!s) return nullptr;
  *s = CloudSlice{};
  std::memcpy(s->header, src->header, sizeof s->header);
  s->nslices = src->nslices;
  const int m = src->nslices;
  bool failed = false;
  s->scanValue = Duplicate(src->scanValue, perScan, &failed);
  s->scanFirstSlice = Duplicate(src->scanFirstSlice, perScan, &failed);
  s->scanSliceCount = Duplicate(src->scanSliceCount, perScan, &failed);
  s->sliceStart = Duplicate(src->sliceStart, m, &failed);
  s->sliceEnd = Duplicate(src->sliceEnd, m, &failed);
  s->sliceKind = Duplicate(src->sliceKind, m, &failed);
  s->sliceFlag = Duplicate(src->sliceFlag, m, &failed);
  s->sliceNext = Duplicate(src->sliceNext, m, &failed);
  if (failed) {
    Cloud holder{};
    holder.slice = s;
    FreeCloudSlice(&holder);
    return nullptr;
  }
  return s;
}

bool DuplicateFarrays(const CloudFarrays& src, int npts, CloudFarrays* out) {
  bool failed = false;
  CloudFarrays f{};
  f.arrays = MallocArray<float*>(src.count);
  if (!f.arrays) return false;
  f.count = src.count;
  for (int k = 0; k < f.count; ++k) f.arrays[k] = Duplicate(src.arrays[k], npts, &failed);
  f.types = Duplicate(src.types, src.count, &failed);
  if (failed) {
    Cloud holder{};
    holder.farrays = f;
    FreeCloudFarrays(&holder);
    return false;
  }
  *out = f;
  return true;
}

// Step two of a copy: the optional per-point data, in a fixed order. A part that does not fit
// ends the copy there (the caller keeps the partial record); only a slice is simply skipped.
void CopyOptionalParts(const Cloud* cloud, Cloud* copy) {
  const int n = cloud->npts;
  bool failed = false;
  const int bitBytes = CloudBitArrayBytes(n);
  copy->isShow = Duplicate(cloud->isShow, bitBytes, &failed);
  if (failed) return;
  copy->labelIsShow = Duplicate(cloud->labelIsShow, bitBytes, &failed);
  if (failed) return;
  float* normals[3] = {cloud->nx, cloud->ny, cloud->nz};
  float* newNormals[3] = {nullptr, nullptr, nullptr};
  if (!DuplicateTriple(normals, n, newNormals)) return;
  copy->nx = newNormals[0];
  copy->ny = newNormals[1];
  copy->nz = newNormals[2];
  copy->rowNumber = Duplicate(cloud->rowNumber, n, &failed);
  if (failed) return;
  copy->reliability = Duplicate(cloud->reliability, n, &failed);
  if (failed) return;
  if (cloud->colour[0] || cloud->colour[1] || cloud->colour[2]) {
    if (!DuplicateTriple(cloud->colour, n, copy->colour)) return;
    copy->colourFlag = cloud->colourFlag;
  }
  if (cloud->slice && cloud->slice->nslices >= 1) {
    copy->slice = DuplicateSlice(cloud->slice, cloud->type == 0 ? 1 : cloud->nscans);
  }
  if (cloud->farrays.count > 0 && !DuplicateFarrays(cloud->farrays, n, &copy->farrays)) return;
  if (cloud->labels) CopyCloudLabels(cloud->labels, n, &copy->labels, nullptr, 0);
}

}  // namespace

int CopyCloudLabels(char* const* labels, int n, char*** out, const int* idx, int m) {
  *out = nullptr;
  if (!labels) return 1;
  const int count = idx ? m : n;
  if (count <= 0) return 1;
  TrackingScope scope;
  auto* copy = MallocArray<char*>(count);
  if (!copy) return 0;
  bool failed = false;
  for (int k = 0; k < count && !failed; ++k) {
    copy[k] = DuplicateString(labels[idx ? idx[k] : k], &failed);
  }
  if (failed) return 0;  // the scope frees the strings made so far
  scope.keep();
  *out = copy;
  return 1;
}

int CloneCloudPolygons(const Cloud* source, Cloud* target) {
  if (source->ntri <= 0 || !source->tri) {
    FreeCloudPolygons(target);
    return 0;
  }
  TrackingScope scope;
  bool failed = false;
  CloudTriangle* tri = Duplicate(source->tri, source->ntri, &failed);
  uint8_t* isVert = Duplicate(source->isVert, CloudBitArrayBytes(source->npts), &failed);
  if (failed) return -2;
  scope.keep();
  // The target's own mesh, if it had one, would otherwise be lost.
  FreeCloudPolygons(target);
  target->ntri = source->ntri;
  target->tri = tri;
  target->isVert = isVert;
  return 0;
}

Cloud* CopyCloud(const Cloud* cloud) {
  if (!cloud) return nullptr;
  TrackingScope scope;
  Cloud* copy = MallocNullCloud();
  if (!copy) return nullptr;
  *copy = *cloud;
  // Nothing the source owns may be shared: every owned reference starts absent and is filled
  // with a fresh copy below, so a failure part-way leaves a record FreeCloud can release.
  copy->x = copy->y = copy->z = nullptr;
  copy->nx = copy->ny = copy->nz = nullptr;
  copy->scanStart = copy->scanEnd = nullptr;
  copy->tri = nullptr;
  copy->ntri = 0;
  copy->isVert = nullptr;
  copy->isShow = nullptr;
  copy->reliability = nullptr;
  copy->rowNumber = nullptr;
  copy->colourFlag = 0;
  copy->colour[0] = copy->colour[1] = copy->colour[2] = nullptr;
  copy->slice = nullptr;
  copy->farrays = CloudFarrays{};
  copy->labels = nullptr;
  copy->labelIsShow = nullptr;

  const int n = cloud->npts;
  bool failed = false;
  copy->x = Duplicate(cloud->x, n, &failed);
  copy->y = Duplicate(cloud->y, n, &failed);
  copy->z = Duplicate(cloud->z, n, &failed);
  if (cloud->scanStart && cloud->scanEnd) {
    copy->scanStart = Duplicate(cloud->scanStart, cloud->nscans, &failed);
    copy->scanEnd = Duplicate(cloud->scanEnd, cloud->nscans, &failed);
  }
  if (failed || CloneCloudPolygons(cloud, copy) != 0) {
    FreeCloud(copy);
    return nullptr;
  }

  // From here on a failure ends the copy but hands back what was made (error state set).
  CopyOptionalParts(cloud, copy);
  scope.keep();
  return copy;
}
