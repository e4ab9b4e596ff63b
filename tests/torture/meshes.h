// Meshes and snapshots for the bad-input tests: an open tube (a pipe's wall), a closed
// octahedron, and an image of a cloud's points and triangles compared bit for bit.
#pragma once

#include <cmath>
#include <cstring>
#include <vector>

#include "cloud/makecld.h"
#include "tests/support/meshes.h"

// A tube of radius r and length len along z: around x along vertices, open at both ends.
inline Cloud* MakeTubeMesh(int around, int along, double r, double len) {
  std::vector<std::array<double, 3>> pts;
  std::vector<TestTriangle> tris;
  for (int j = 0; j < along; ++j)
    for (int i = 0; i < around; ++i) {
      const double a = 2.0 * M_PI * i / around;
      pts.push_back({r * std::cos(a), r * std::sin(a), len * j / (along - 1)});
    }
  for (int j = 0; j + 1 < along; ++j)
    for (int i = 0; i < around; ++i) {
      const int a = j * around + i, b = j * around + (i + 1) % around;
      tris.push_back({a, b, b + around});
      tris.push_back({a, b + around, a + around});
    }
  return MakeTestMesh(pts, tris);
}

// The closed octahedron of radius r about c, facing out.
inline Cloud* MakeOctahedronMesh(double r, const double c[3]) {
  std::vector<std::array<double, 3>> pts = {{c[0] + r, c[1], c[2]}, {c[0], c[1] + r, c[2]}, {c[0] - r, c[1], c[2]},
                                            {c[0], c[1] - r, c[2]}, {c[0], c[1], c[2] + r}, {c[0], c[1], c[2] - r}};
  std::vector<TestTriangle> tris;
  for (int i = 0; i < 4; ++i) {
    tris.push_back({i, (i + 1) % 4, 4});
    tris.push_back({(i + 1) % 4, i, 5});
  }
  return MakeTestMesh(pts, tris);
}

// The points, normals and triangles of a cloud, for "unchanged" checks (NaN equal to itself).
struct MeshImage {
  std::vector<float> values;
  std::vector<int> ints;
  explicit MeshImage(const Cloud* c) {
    ints = {c->npts, c->ntri, c->nx != nullptr};
    for (const float* a : {c->x, c->y, c->z, c->nx, c->ny, c->nz})
      if (a) values.insert(values.end(), a, a + c->npts);
    for (int t = 0; t < c->ntri && c->tri; ++t) ints.insert(ints.end(), c->tri[t].v, c->tri[t].v + 3);
  }
  bool operator==(const MeshImage& o) const {
    return ints == o.ints && values.size() == o.values.size() &&
           std::memcmp(values.data(), o.values.data(), values.size() * sizeof(float)) == 0;
  }
};
