// Point sets for the neighbourhood benchmarks (three float arrays, as the kernel takes them) and
// the adaptor through which nanoflann reads the same arrays.
#pragma once

#include <random>
#include <vector>

namespace bench {

struct Points {
  std::vector<float> x, y, z;
  int n() const { return int(x.size()); }
};

inline Points Uniform(int n, unsigned seed) {
  Points p;
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  for (int i = 0; i < n; ++i) p.x.push_back(u(rng)), p.y.push_back(u(rng)), p.z.push_back(u(rng));
  return p;
}

// 50 tight Gaussian clusters of very different spreads in the unit cube.
inline Points Clustered(int n, unsigned seed) {
  Points p;
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  float c[50][4];
  for (auto& k : c) k[0] = u(rng), k[1] = u(rng), k[2] = u(rng), k[3] = 0.001f + 0.05f * u(rng) * u(rng);
  std::normal_distribution<float> g(0.0f, 1.0f);
  for (int i = 0; i < n; ++i) {
    const float* k = c[rng() % 50];
    p.x.push_back(k[0] + k[3] * g(rng)), p.y.push_back(k[1] + k[3] * g(rng)), p.z.push_back(k[2] + k[3] * g(rng));
  }
  return p;
}

// nanoflann's view of the arrays (no box given: it computes its own).
struct PointsAdaptor {
  const Points* p;
  size_t kdtree_get_point_count() const { return p->x.size(); }
  float kdtree_get_pt(size_t i, size_t d) const { return d == 0 ? p->x[i] : (d == 1 ? p->y[i] : p->z[i]); }
  template <class Box>
  bool kdtree_get_bbox(Box&) const {
    return false;
  }
};

}  // namespace bench
