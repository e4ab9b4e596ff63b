#include "cloud/pcopy.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "cloud/cldpoly.h"
#include "foundation/coreglob.h"
#include "foundation/fmalloc.h"
#include "foundation/minmax.h"
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
    // A slice that does not fit is left out without failing the copy, so the error state it
    // raised is put back as it was.
    const int status = zk_error_status, memory = memory_error;
    copy->slice = DuplicateSlice(cloud->slice, cloud->type == 0 ? 1 : cloud->nscans);
    if (!copy->slice) zk_error_status = status, memory_error = memory;
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
  if (!source || !target) return -2;
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

namespace {

template <typename T>
T* GatherArray(const T* src, const int* from, int k, bool* failed) {
  if (!src || *failed) return nullptr;
  T* out = MallocArray<T>(k);
  if (!out) {
    *failed = true;
    return nullptr;
  }
  for (int j = 0; j < k; ++j) out[j] = src[from[j]];
  return out;
}

uint8_t* GatherBits(const uint8_t* src, const int* from, int k, bool* failed) {
  if (!src || *failed) return nullptr;
  auto* out = CallocArray<uint8_t>(CloudBitArrayBytes(k));
  if (!out) {
    *failed = true;
    return nullptr;
  }
  for (int j = 0; j < k; ++j)
    if ((src[from[j] >> 3] >> (from[j] & 7)) & 1u) out[j >> 3] |= static_cast<uint8_t>(1u << (j & 7));
  return out;
}

// Gathers a group of arrays that live or die together (normals, colours): all or none.
bool GatherGroup(float* const* src, int count, const int* from, int k, float** out) {
  bool failed = false;
  for (int a = 0; a < count; ++a) out[a] = GatherArray(src[a], from, k, &failed);
  if (!failed) return true;
  for (int a = 0; a < count; ++a) FreeAndNull(out[a]);
  return false;
}

}  // namespace

bool GatherCloudPoints(const Cloud* cloud, const int* from, int k, bool withIsShow, bool strict, Cloud* out) {
  // Everything made belongs to out from the start, so no caller's scope may free it.
  TrackingScope scope;
  out->npts = k;
  bool failed = false;
  out->x = GatherArray(cloud->x, from, k, &failed);
  out->y = GatherArray(cloud->y, from, k, &failed);
  out->z = GatherArray(cloud->z, from, k, &failed);
  bool ok = !failed;
  // One datum: in strict mode its failure ends the gathering, otherwise it is only left out.
  auto datum = [&](bool made) {
    if (!made) ok = ok && !strict;
    return made && ok;
  };
  if (ok && cloud->nx && cloud->ny && cloud->nz) {
    float* const normals[3] = {cloud->nx, cloud->ny, cloud->nz};
    float* got[3];
    if (datum(GatherGroup(normals, 3, from, k, got))) out->nx = got[0], out->ny = got[1], out->nz = got[2];
  }
  if (ok && (cloud->colour[0] || cloud->colour[1] || cloud->colour[2])) {
    if (datum(GatherGroup(cloud->colour, 3, from, k, out->colour))) out->colourFlag = cloud->colourFlag;
  }
  bool f = false;
  if (ok && cloud->reliability) datum((out->reliability = GatherArray(cloud->reliability, from, k, &f)));
  f = false;
  if (ok && cloud->rowNumber) datum((out->rowNumber = GatherArray(cloud->rowNumber, from, k, &f)));
  f = false;
  if (ok && cloud->labelIsShow) datum((out->labelIsShow = GatherBits(cloud->labelIsShow, from, k, &f)));
  f = false;
  if (ok && withIsShow && cloud->isShow) datum((out->isShow = GatherBits(cloud->isShow, from, k, &f)));
  if (ok && cloud->labels) {
    char** labels = CallocArray<char*>(k);
    bool made = labels != nullptr;
    for (int j = 0; made && j < k; ++j) {
      const char* l = cloud->labels[from[j]];
      if (l && !(labels[j] = lstrdup(l))) made = false;
    }
    if (!made && labels) {
      for (int j = 0; j < k; ++j) Free(labels[j]);
      FreeAndNull(labels);
    }
    if (datum(made)) out->labels = labels;
  }
  if (ok && cloud->farrays.count > 0) {
    const CloudFarrays& src = cloud->farrays;
    CloudFarrays fa{};
    fa.arrays = CallocArray<float*>(src.count);
    fa.types = MallocArray<int32_t>(src.count);
    bool made = fa.arrays && fa.types && GatherGroup(src.arrays, src.count, from, k, fa.arrays);
    if (made) {
      std::memcpy(fa.types, src.types, sizeof(int32_t) * src.count);
      fa.count = src.count;
      out->farrays = fa;
    } else {
      Free(fa.arrays);
      Free(fa.types);
    }
    datum(made);
  }
  scope.keep();
  return ok;
}

void ReplaceCloudPoints(Cloud* cloud, Cloud* src) {
  if (!cloud || !src) return;
  FreeCloudLabels(cloud);  // counts its strings by the old npts
  FreeCloudFarrays(cloud);
  float** mine[] = {&cloud->x, &cloud->y, &cloud->z, &cloud->nx, &cloud->ny, &cloud->nz,
                    &cloud->colour[0], &cloud->colour[1], &cloud->colour[2]};
  float** theirs[] = {&src->x, &src->y, &src->z, &src->nx, &src->ny, &src->nz,
                      &src->colour[0], &src->colour[1], &src->colour[2]};
  for (int a = 0; a < 9; ++a) {
    Free(*mine[a]);
    *mine[a] = *theirs[a];
    *theirs[a] = nullptr;
  }
  Free(cloud->reliability);
  Free(cloud->rowNumber);
  Free(cloud->isShow);
  cloud->reliability = src->reliability;
  cloud->rowNumber = src->rowNumber;
  cloud->isShow = src->isShow;
  cloud->labels = src->labels;
  cloud->labelIsShow = src->labelIsShow;
  cloud->farrays = src->farrays;
  cloud->colourFlag = src->colourFlag;
  cloud->npts = src->npts;
  src->reliability = nullptr;
  src->rowNumber = nullptr;
  src->isShow = nullptr;
  src->labels = nullptr;
  src->labelIsShow = nullptr;
  src->farrays = CloudFarrays{};
  src->npts = 0;
}

namespace {

// A copy with every point p mapped to (p - centre) s; grid origins along their axes, steps, axis
// point and z range alike. The angles of a cylindrical grid (any grid but a plan grid) stay.
Cloud* MappedCloudCopy(const Cloud* cloud, const double centre[3], double s, bool keepAngles) {
  if (!cloud || cloud->npts < 1 || !cloud->x || !cloud->y || !cloud->z || !(s > 0.0) || !std::isfinite(s))
    return nullptr;
  Cloud* copy = CopyCloud(cloud);
  if (!copy) return nullptr;
  if (KernelFailed()) {
    FreeCloud(copy);
    return nullptr;
  }
  for (int i = 0; i < copy->npts; ++i) {
    copy->x[i] = static_cast<float>((copy->x[i] - centre[0]) * s);
    copy->y[i] = static_cast<float>((copy->y[i] - centre[1]) * s);
    copy->z[i] = static_cast<float>((copy->z[i] - centre[2]) * s);
  }
  // A finite point that the map takes past the float range would make every size measured on
  // the copy meaningless.
  if (!CloudPointsFinite(copy) && CloudPointsFinite(cloud)) {
    FreeCloud(copy);
    return nullptr;
  }
  CloudGrid& g = copy->grid;
  auto along = [&](int axis) { return axis >= 0 && axis < 3 ? centre[axis] : 0.0; };
  g.rowOrigin = (g.rowOrigin - along(g.rowAxis)) * s, g.rowStep *= s;
  if (!keepAngles) g.colOrigin = (g.colOrigin - along(g.colAxis)) * s, g.colStep *= s;
  for (int k = 0; k < 3; ++k) g.cylCentre[k] = (g.cylCentre[k] - centre[k]) * s;
  copy->zMin = (copy->zMin - centre[2]) * s, copy->zMax = (copy->zMax - centre[2]) * s;
  return copy;
}

}  // namespace

Cloud* ScaledCloudCopy(const Cloud* cloud, double s) {
  const double origin[3] = {0.0, 0.0, 0.0};
  return MappedCloudCopy(cloud, origin, s, false);
}

Cloud* UnitFrameCloudCopy(const Cloud* cloud, const UnitFrame& f) {
  return cloud ? MappedCloudCopy(cloud, f.centre, 1.0 / f.size, cloud->type != 17) : nullptr;
}

double BoxFitSize(const double box[6], bool planOnly) {
  double size = std::max(box[3] - box[0], box[4] - box[1]);
  if (!planOnly) size = std::max(size, box[5] - box[2]);
  return size > 0.0 && std::isfinite(size) ? size : 1.0;
}

double CloudFitSize(const Cloud* cloud, bool planOnly) {
  if (!cloud) return 1.0;
  double box[6];
  GetMinMaxF(cloud->x, cloud->npts, &box[0], &box[3]);
  GetMinMaxF(cloud->y, cloud->npts, &box[1], &box[4]);
  box[2] = box[5] = 0.0;
  if (!planOnly) GetMinMaxF(cloud->z, cloud->npts, &box[2], &box[5]);
  return BoxFitSize(box, planOnly);
}
