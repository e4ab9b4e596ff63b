// Planar test loops and the checks that a set of triangles tiles a loop exactly.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <random>
#include <utility>
#include <vector>

// A closed loop of labelled planar points; a label may repeat (a bridge to a hole) with the
// same coordinates.
struct Loop2 {
  std::vector<int> idx;
  std::vector<double> x, y;
  int size() const { return static_cast<int>(idx.size()); }
  void Add(int i, double px, double py) {
    idx.push_back(i);
    x.push_back(px);
    y.push_back(py);
  }
  void Add(double px, double py) { Add(size(), px, py); }
  Loop2 Reversed() const {
    Loop2 r = *this;
    std::reverse(r.idx.begin(), r.idx.end());
    std::reverse(r.x.begin(), r.x.end());
    std::reverse(r.y.begin(), r.y.end());
    return r;
  }
  Loop2 Scaled(double s, double dx, double dy) const {
    Loop2 r = *this;
    for (int i = 0; i < size(); ++i) r.x[i] = s * x[i] + dx, r.y[i] = s * y[i] + dy;
    return r;
  }
  double SignedArea() const {
    double a = 0.0;
    for (int i = 0; i < size(); ++i) {
      const int j = (i + 1) % size();
      a += x[i] * y[j] - x[j] * y[i];
    }
    return a / 2;
  }
};

// A comb of `teeth` teeth, counter-clockwise, with collinear runs along its bottom and its left
// side (the leftmost x is shared by several vertices).
inline Loop2 Comb(int teeth) {
  Loop2 c;
  for (int i = 0; i < 2 * teeth; ++i) c.Add(i, 0);
  for (int k = teeth - 1; k >= 0; --k) {
    c.Add(2 * k + 1, 3);
    c.Add(2 * k, 3);
    if (k > 0) c.Add(2 * k, 1), c.Add(2 * k - 1, 1);
  }
  c.Add(0, 2);
  c.Add(0, 1);
  return c;
}

// A band wound `turns` times around the origin, counter-clockwise: out along one arm, back along
// the other.
inline Loop2 Spiral(double turns, int perTurn) {
  Loop2 s;
  const int m = static_cast<int>(turns * perTurn);
  const double k = 1.0 / (2 * M_PI);
  for (int i = 0; i <= m; ++i) {
    const double t = 2 * M_PI * i / perTurn, r = 0.3 + k * t;
    s.Add(r * std::cos(t), r * std::sin(t));
  }
  for (int i = m; i >= 0; --i) {
    const double t = 2 * M_PI * i / perTurn, r = 0.8 + k * t;
    s.Add(r * std::cos(t), r * std::sin(t));
  }
  return s.Reversed();  // the outward arm is the inner side: walked so, the band is clockwise
}

// A star of `spikes` spikes, counter-clockwise; `split` extra collinear points on every edge.
inline Loop2 Star(int spikes, int split, double inner = 0.45) {
  Loop2 s;
  const int n = 2 * spikes;
  auto corner = [&](int i, double p[2]) {
    const double t = 2 * M_PI * i / n + 0.1, r = i % 2 ? inner : 1.0;
    p[0] = r * std::cos(t), p[1] = r * std::sin(t);
  };
  for (int i = 0; i < n; ++i) {
    double a[2], b[2];
    corner(i, a), corner((i + 1) % n, b);
    for (int k = 0; k <= split; ++k) {
      const double w = static_cast<double>(k) / (split + 1);
      s.Add(a[0] + w * (b[0] - a[0]), a[1] + w * (b[1] - a[1]));
    }
  }
  return s;
}

inline double TriangleArea2(const double a[2], const double b[2], const double c[2]) {
  return ((b[0] - a[0]) * (c[1] - a[1]) - (b[1] - a[1]) * (c[0] - a[0])) / 2;
}

// Checks that tri (count triangles of labels) tiles the region bounded by `loop`: n - 2
// triangles; every directed loop edge in a triangle, and the triangles' other edges in pairs of
// opposite directions; every triangle turning the loop's way (or flat) and their areas summing
// to the loop's; `inside` sample points each in exactly one triangle, the others in none.
template <class Inside>
void ExpectTiles(const Loop2& loop, const std::vector<int>& tri, int count, Inside inside, int samples = 400) {
  const int n = loop.size();
  ASSERT_EQ(count, n - 2);
  ASSERT_GE(static_cast<int>(tri.size()), 3 * count);
  std::map<int, std::pair<double, double>> at;
  double lo[2] = {1e300, 1e300}, hi[2] = {-1e300, -1e300};
  for (int i = 0; i < n; ++i) {
    at[loop.idx[i]] = {loop.x[i], loop.y[i]};
    lo[0] = std::min(lo[0], loop.x[i]), hi[0] = std::max(hi[0], loop.x[i]);
    lo[1] = std::min(lo[1], loop.y[i]), hi[1] = std::max(hi[1], loop.y[i]);
  }
  const double size = std::max(hi[0] - lo[0], hi[1] - lo[1]);
  std::map<std::pair<int, int>, int> directed;
  for (int t = 0; t < count; ++t)
    for (int k = 0; k < 3; ++k) {
      ASSERT_TRUE(at.count(tri[3 * t + k])) << "triangle " << t << " names no loop vertex";
      ++directed[{tri[3 * t + k], tri[3 * t + (k + 1) % 3]}];
    }
  for (int i = 0; i < n; ++i) {
    auto e = directed.find({loop.idx[i], loop.idx[(i + 1) % n]});
    ASSERT_TRUE(e != directed.end() && e->second > 0) << "loop edge " << i << " in no triangle";
    --e->second;
  }
  for (const auto& [edge, uses] : directed) {
    const auto back = directed.find({edge.second, edge.first});
    EXPECT_EQ(uses, back == directed.end() ? 0 : back->second)
        << "edge " << edge.first << "-" << edge.second << " is not shared by exactly two triangles";
  }
  const double sign = loop.SignedArea() > 0 ? 1.0 : -1.0;
  double sum = 0.0;
  std::vector<std::array<double, 6>> corners(count);
  for (int t = 0; t < count; ++t) {
    for (int k = 0; k < 3; ++k) {
      corners[t][2 * k] = at[tri[3 * t + k]].first;
      corners[t][2 * k + 1] = at[tri[3 * t + k]].second;
    }
    const double a = TriangleArea2(&corners[t][0], &corners[t][2], &corners[t][4]);
    EXPECT_GE(sign * a, -1e-12 * size * size) << "triangle " << t << " turns against the loop";
    sum += a;
  }
  EXPECT_NEAR(sum, loop.SignedArea(), 1e-10 * size * size);
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> U(0.0, 1.0);
  for (int s = 0; s < samples; ++s) {
    const double p[2] = {lo[0] + U(rng) * (hi[0] - lo[0]), lo[1] + U(rng) * (hi[1] - lo[1])};
    int holders = 0;
    for (int t = 0; t < count; ++t) {
      const double* c = corners[t].data();
      const double a0 = TriangleArea2(c, c + 2, p), a1 = TriangleArea2(c + 2, c + 4, p),
                   a2 = TriangleArea2(c + 4, c, p);
      if ((a0 > 0 && a1 > 0 && a2 > 0) || (a0 < 0 && a1 < 0 && a2 < 0)) ++holders;
    }
    EXPECT_EQ(holders, inside(p[0], p[1]) ? 1 : 0) << "sample (" << p[0] << ", " << p[1] << ")";
  }
}
