// A scan cloud whose every per-point datum encodes the id of its point, for the tests of the
// steps that thin and reorder clouds: point id = scan * P + place lies at (scan, place, 0).
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cloud/makecld.h"
#include "foundation/umalloc.h"

namespace tagged {

constexpr int kScans = 6, kPlaces = 7, kPoints = kScans * kPlaces;
constexpr int kArrays = 5;  // a type-0 group of four and one single typed array

inline int IdAt(const Cloud* c, int i) { return int(std::lround(c->x[i])) * kPlaces + int(std::lround(c->y[i])); }
// The ids of every triangle's corners, in triangle order.
inline std::vector<std::array<int, 3>> TriangleIds(const Cloud* c) {
  std::vector<std::array<int, 3>> ids;
  for (int t = 0; t < c->ntri; ++t) ids.push_back({IdAt(c, c->tri[t].v[0]), IdAt(c, c->tri[t].v[1]), IdAt(c, c->tri[t].v[2])});
  return ids;
}
inline bool Bit(const uint8_t* bits, int i) { return (bits[i >> 3] >> (i & 7)) & 1; }
inline void SetBitTo(uint8_t* bits, int i, bool on) {
  if (on) bits[i >> 3] |= uint8_t(1u << (i & 7));
  else bits[i >> 3] &= uint8_t(~(1u << (i & 7)));
}
// Built by appending: g++ 12 at -O3 misreads "literal" + std::string as an overlapping copy
// (-Wrestrict).
inline std::string Label(int id) {
  std::string label = "p";
  label += std::to_string(id);
  return label;
}
inline char* strdupMalloc(const std::string& s) {
  char* out = MallocArray<char>(int(s.size()) + 1);
  std::memcpy(out, s.c_str(), s.size() + 1);
  return out;
}

// Triangles between neighbouring scans, all facing +z (so the vertex normals (id, 0, 1) pass the
// 45-degree test and stay as they are).
inline void AddTriangles(Cloud* c) {
  std::vector<CloudTriangle> tris;
  for (int s = 0; s + 1 < kScans; ++s)
    for (int j = 0; j + 1 < kPlaces; j += 2) {
      const int a = s * kPlaces + j;
      for (CloudTriangle t : {CloudTriangle{{a, a + 1, a + kPlaces}, {}}, CloudTriangle{{a + 1, a + kPlaces + 1, a + kPlaces}, {}}}) {
        MakeCldPolyPlane(c, &t);
        if (t.plane[2] < 0) std::swap(t.v[1], t.v[2]), MakeCldPolyPlane(c, &t);
        tris.push_back(t);
      }
    }
  c->ntri = int(tris.size());
  c->tri = MallocArray<CloudTriangle>(c->ntri);
  std::memcpy(c->tri, tris.data(), tris.size() * sizeof(CloudTriangle));
}

inline Cloud* Make() {
  float x[kPoints], y[kPoints], z[kPoints];
  int start[kScans], end[kScans];
  for (int id = 0; id < kPoints; ++id) x[id] = float(id / kPlaces), y[id] = float(id % kPlaces), z[id] = 0;
  for (int s = 0; s < kScans; ++s) start[s] = s * kPlaces, end[s] = start[s] + kPlaces - 1;
  Cloud* c = MakeScanCld(x, y, z, kPoints, start, end, kScans, nullptr);
  const int n = kPoints, bits = CloudBitArrayBytes(n);
  c->nx = MallocArray<float>(n), c->ny = MallocArray<float>(n), c->nz = MallocArray<float>(n);
  for (float*& col : c->colour) col = MallocArray<float>(n);
  c->colourFlag = 1;
  c->reliability = MallocArray<uint8_t>(n);
  c->rowNumber = MallocArray<int16_t>(n);
  c->labels = MallocArray<char*>(n);
  c->labelIsShow = CallocArray<uint8_t>(bits);
  c->isShow = CallocArray<uint8_t>(bits);
  c->farrays.count = kArrays;
  c->farrays.arrays = MallocArray<float*>(kArrays);
  c->farrays.types = MallocArray<int32_t>(kArrays);
  for (int a = 0; a < kArrays; ++a) c->farrays.arrays[a] = MallocArray<float>(n), c->farrays.types[a] = a < 4 ? 0 : 7;
  for (int id = 0; id < n; ++id) {
    c->nx[id] = float(id), c->ny[id] = 0, c->nz[id] = 1;
    for (int k = 0; k < 3; ++k) c->colour[k][id] = float(id) + 0.5f * k;
    c->reliability[id] = uint8_t(id + 1);
    c->rowNumber[id] = int16_t(id);
    c->labels[id] = id % 3 == 0 ? nullptr : strdupMalloc(Label(id));
    SetBitTo(c->labelIsShow, id, id % 2);
    SetBitTo(c->isShow, id, id % 5 == 0);
    for (int a = 0; a < kArrays; ++a) c->farrays.arrays[a][id] = float(10 * id + a);
  }
  AddTriangles(c);
  // Two slices per scan, kinds alternating, each linked to the next.
  auto* s = static_cast<CloudSlice*>(Malloc(sizeof(CloudSlice)));
  *s = CloudSlice{};
  const int m = 2 * kScans;
  s->nslices = m;
  s->scanValue = MallocArray<float>(kScans), s->scanFirstSlice = MallocArray<int32_t>(kScans);
  s->scanSliceCount = MallocArray<int32_t>(kScans);
  s->sliceStart = MallocArray<int32_t>(m), s->sliceEnd = MallocArray<int32_t>(m);
  s->sliceKind = MallocArray<uint8_t>(m), s->sliceFlag = CallocArray<uint8_t>(m), s->sliceNext = MallocArray<int32_t>(m);
  for (int k = 0; k < kScans; ++k) s->scanValue[k] = float(k), s->scanFirstSlice[k] = 2 * k, s->scanSliceCount[k] = 2;
  for (int k = 0; k < m; ++k) {
    s->sliceStart[k] = (k / 2) * kPlaces + (k % 2 ? 3 : 0);
    s->sliceEnd[k] = (k / 2) * kPlaces + (k % 2 ? kPlaces - 1 : 2);
    s->sliceKind[k] = uint8_t(k % 2), s->sliceNext[k] = k + 1 < m ? k + 1 : -1;
  }
  c->slice = s;
  return c;
}

// Every datum of every point encodes that point's id; ids strictly ascend when `ordered`.
inline void ExpectDataWithPoints(const Cloud* c, bool ordered) {
  for (int i = 0; i < c->npts; ++i) {
    const int id = IdAt(c, i);
    SCOPED_TRACE("point " + std::to_string(i) + " id " + std::to_string(id));
    if (ordered && i > 0) { EXPECT_LT(IdAt(c, i - 1), id); }
    if (c->nx) { EXPECT_EQ(c->nx[i], float(id)); }
    for (int k = 0; k < 3; ++k)
      if (c->colour[k]) { EXPECT_EQ(c->colour[k][i], float(id) + 0.5f * k); }
    if (c->reliability) { EXPECT_EQ(c->reliability[i], uint8_t(id + 1)); }
    if (c->rowNumber) { EXPECT_EQ(c->rowNumber[i], id); }
    if (c->labels) { EXPECT_EQ(c->labels[i] ? std::string(c->labels[i]) : "", id % 3 ? Label(id) : ""); }
    if (c->labelIsShow) { EXPECT_EQ(Bit(c->labelIsShow, i), bool(id % 2)); }
    for (int a = 0; a < c->farrays.count; ++a) EXPECT_EQ(c->farrays.arrays[a][i], float(10 * id + a));
  }
  for (int t = 0; t < c->ntri; ++t)
    for (int v : c->tri[t].v) ASSERT_TRUE(v >= 0 && v < c->npts);
}

// Scans (or slices) cover points 0..npts-1 in order, each scan on one scan line of the grid.
inline void ExpectScansCoverPoints(const Cloud* c) {
  if (!c->scanStart) return;
  ASSERT_GE(c->nscans, 1);
  EXPECT_EQ(c->scanStart[0], 0);
  EXPECT_EQ(c->scanEnd[c->nscans - 1], c->npts - 1);
  for (int s = 0; s < c->nscans; ++s) {
    if (s > 0) { EXPECT_EQ(c->scanStart[s], c->scanEnd[s - 1] + 1); }
    for (int i = c->scanStart[s]; i <= c->scanEnd[s]; ++i) EXPECT_EQ(c->x[i], c->x[c->scanStart[s]]);
  }
}

}  // namespace tagged
