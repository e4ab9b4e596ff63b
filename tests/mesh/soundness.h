// Counts that tell a sound triangle mesh: open and overused edges, edges whose two triangles run
// them the same way, and triangles that cross others away from the corners they share; and a
// closed box surface with cells left out, the test body for holes.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <map>
#include <utility>
#include <vector>

#include "tests/support/meshes.h"

struct MeshSoundness {
  int open = 0;         // edges of one triangle
  int overused = 0;     // edges of three or more
  int disagreeing = 0;  // edges of two triangles that run them the same way
  explicit MeshSoundness(const Cloud* m) {
    std::map<std::pair<int, int>, std::array<int, 2>> uses;  // per edge: runs low to high, high to low
    for (int t = 0; t < m->ntri; ++t)
      for (int k = 0; k < 3; ++k) {
        const int a = m->tri[t].v[k], b = m->tri[t].v[(k + 1) % 3];
        ++uses[{std::min(a, b), std::max(a, b)}][a < b ? 0 : 1];
      }
    for (const auto& [e, n] : uses) {
      const int total = n[0] + n[1];
      open += total == 1;
      overused += total > 2;
      disagreeing += total == 2 && n[0] != 1;
    }
  }
};

namespace soundness_detail {

using P3 = std::array<double, 3>;

inline P3 Minus(const P3& a, const P3& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
inline double Dot3(const P3& a, const P3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
inline P3 Cross3(const P3& a, const P3& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

// Whether the open segment p-q passes through the inside of triangle t (Moeller-Trumbore, by
// barycentric weights strictly inside with a margin).
inline bool PiercesInside(const P3& p, const P3& q, const std::array<P3, 3>& t) {
  const P3 d = Minus(q, p), e1 = Minus(t[1], t[0]), e2 = Minus(t[2], t[0]);
  const P3 h = Cross3(d, e2);
  const double a = Dot3(e1, h);
  if (std::fabs(a) < 1e-12 * std::sqrt(Dot3(d, d) * Dot3(e1, e1) * Dot3(e2, e2))) return false;
  const P3 s = Minus(p, t[0]);
  const double u = Dot3(s, h) / a;
  const P3 r = Cross3(s, e1);
  const double v = Dot3(d, r) / a, w = Dot3(e2, r) / a;
  const double margin = 1e-7;
  return u > margin && v > margin && u + v < 1 - margin && w > margin && w < 1 - margin;
}

}  // namespace soundness_detail

// Pairs of triangles, one of them among `those` (triangle numbers from `from` on), the other any
// triangle, where an edge of one passes through the inside of the other, corners they share
// excepted (by brute force over all pairs).
inline int CrossingPairs(const Cloud* m, int from) {
  using namespace soundness_detail;
  auto corners = [&](int t) {
    std::array<P3, 3> c;
    for (int k = 0; k < 3; ++k) {
      const int v = m->tri[t].v[k];
      c[k] = {m->x[v], m->y[v], m->z[v]};
    }
    return c;
  };
  // Triangles whose boxes do not meet cannot cross: only the others are tested.
  std::vector<std::array<double, 6>> boxes(m->ntri);
  for (int t = 0; t < m->ntri; ++t) {
    const auto c = corners(t);
    for (int k = 0; k < 3; ++k) {
      boxes[t][k] = std::min({c[0][k], c[1][k], c[2][k]});
      boxes[t][k + 3] = std::max({c[0][k], c[1][k], c[2][k]});
    }
  }
  auto apart = [&](int a, int b) {
    for (int k = 0; k < 3; ++k)
      if (boxes[a][k] > boxes[b][k + 3] || boxes[b][k] > boxes[a][k + 3]) return true;
    return false;
  };
  int pairs = 0;
  for (int a = from; a < m->ntri; ++a)
    for (int b = 0; b < m->ntri; ++b) {
      if ((b >= from && b <= a) || apart(a, b)) continue;
      const auto ta = corners(a), tb = corners(b);
      bool crossed = false;
      for (int side = 0; side < 2 && !crossed; ++side) {
        const auto& edgeOf = side ? tb : ta;
        const auto& body = side ? ta : tb;
        for (int k = 0; k < 3 && !crossed; ++k) crossed = PiercesInside(edgeOf[k], edgeOf[(k + 1) % 3], body);
      }
      pairs += crossed;
    }
  return pairs;
}

// The box with cells left out, some cut in two and its points moved: a box [0, n[0]] x [0, n[1]] x
// [0, n[2]] whose points are moved by move (in cell units; null: not moved), then have z scaled by
// zScale, all times scale and moved by shift along every axis. Unit cells split in two facing
// out; keep(face, i, j) says whether cell (i, j) of a face stays (faces 0..5 are x = 0, x = nx,
// y = 0, y = ny, z = 0, z = nz, their cells indexed along the next two axes in order: x = c: y then
// z; y = c: z then x; z = c: x then y); a cell fine(face, i, j) names (null: none) is cut into two
// half-width ones along its first axis, whose in-between points meet the uncut edges of the cells
// beside it (slits at T-junctions).
struct BoxCells {
  int n[3];
  std::function<bool(int, int, int)> keep;
  std::function<bool(int, int, int)> fine;
  std::function<void(double*)> move;
  double zScale = 1.0;
  double scale = 1.0;
  double shift = 0.0;
};
inline Cloud* BoxSurface(const BoxCells& box) {
  // Points keyed in half units.
  std::map<std::array<int, 3>, int> ids;
  std::vector<std::array<double, 3>> pts;
  auto id = [&](const std::array<int, 3>& c) {
    auto [it, fresh] = ids.emplace(c, int(pts.size()));
    if (fresh) {
      double p[3] = {0.5 * c[0], 0.5 * c[1], 0.5 * c[2]};
      if (box.move) box.move(p);
      pts.push_back({box.scale * p[0] + box.shift, box.scale * p[1] + box.shift, box.scale * box.zScale * p[2] + box.shift});
    }
    return it->second;
  };
  std::vector<TestTriangle> tris;
  for (int face = 0; face < 6; ++face) {
    const int axis = face / 2, u = (axis + 1) % 3, v = (axis + 2) % 3;
    const bool high = face % 2;
    for (int i = 0; i < box.n[u]; ++i)
      for (int j = 0; j < box.n[v]; ++j) {
        if (!box.keep(face, i, j)) continue;
        auto at = [&](int a2, int b2) {
          std::array<int, 3> c;
          c[axis] = high ? 2 * box.n[axis] : 0, c[u] = a2, c[v] = b2;
          return id(c);
        };
        const int pieces = box.fine && box.fine(face, i, j) ? 2 : 1;
        for (int k = 0; k < pieces; ++k) {
          const int a0 = 2 * i + k * 2 / pieces, a1 = 2 * i + (k + 1) * 2 / pieces;
          const int p00 = at(a0, 2 * j), p10 = at(a1, 2 * j), p11 = at(a1, 2 * j + 2), p01 = at(a0, 2 * j + 2);
          // u x v points along +axis: counter-clockwise in (u, v) faces out on the high side.
          if (high) {
            tris.push_back({p00, p10, p11}), tris.push_back({p00, p11, p01});
          } else {
            tris.push_back({p00, p11, p10}), tris.push_back({p00, p01, p11});
          }
        }
      }
  }
  return MakeTestMesh(pts, tris);
}

// The surface of the box [0, nx] x [0, ny] x [0, nz] (times scale), unit cells split in two,
// facing out, with the cells keep(face, i, j) (as BoxCells) only.
inline Cloud* BoxSurface(int nx, int ny, int nz, const std::function<bool(int, int, int)>& keep, double scale = 1.0) {
  BoxCells box{{nx, ny, nz}, keep, nullptr, nullptr};
  box.scale = scale;
  return BoxSurface(box);
}

// The surface of a union of unit cubes (cube (i, j, k) spans [i, i + 1] x [j, j + 1] x
// [k, k + 1], times scale), each outer face cut into s x s cells of two triangles, facing out.
inline Cloud* CubesSurface(const std::vector<std::array<int, 3>>& cubes, int s, double scale = 1.0) {
  std::map<std::array<int, 3>, int> ids;
  std::vector<std::array<double, 3>> pts;
  auto id = [&](const std::array<int, 3>& c) {
    auto [it, fresh] = ids.emplace(c, int(pts.size()));
    if (fresh) pts.push_back({scale * c[0] / s, scale * c[1] / s, scale * c[2] / s});
    return it->second;
  };
  const auto inside = [&](std::array<int, 3> c) { return std::find(cubes.begin(), cubes.end(), c) != cubes.end(); };
  std::vector<TestTriangle> tris;
  for (const auto& c : cubes)
    for (int axis = 0; axis < 3; ++axis)
      for (int dir : {-1, 1}) {
        auto beside = c;
        beside[axis] += dir;
        if (inside(beside)) continue;
        const int u = (axis + 1) % 3, v = (axis + 2) % 3;
        for (int i = 0; i < s; ++i)
          for (int j = 0; j < s; ++j) {
            auto at = [&](int a, int b) {
              std::array<int, 3> p;
              p[axis] = s * (c[axis] + (dir > 0)), p[u] = s * c[u] + a, p[v] = s * c[v] + b;
              return id(p);
            };
            const int p00 = at(i, j), p10 = at(i + 1, j), p11 = at(i + 1, j + 1), p01 = at(i, j + 1);
            if (dir > 0) tris.push_back({p00, p10, p11}), tris.push_back({p00, p11, p01});
            else tris.push_back({p00, p11, p10}), tris.push_back({p00, p01, p11});
          }
      }
  return MakeTestMesh(pts, tris);
}
