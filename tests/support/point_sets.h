// Point sets as three float arrays, as the registration operations take them, and a copy moved
// by a rigid motion (for recovering known motions).
#pragma once

#include <vector>

#include "registration/stepreg.h"

struct PointSet {
  std::vector<float> x, y, z;
  void add(const double p[3]) {
    x.push_back(float(p[0]));
    y.push_back(float(p[1]));
    z.push_back(float(p[2]));
  }
  int n() const { return int(x.size()); }
};

inline PointSet MovedBy(const PointSet& a, const RegVec& v) {
  PointSet b = a;
  for (int i = 0; i < a.n(); ++i) {
    const double p[3] = {a.x[i], a.y[i], a.z[i]};
    double m[3];
    VecQterTrans3(p, &v, m);
    b.x[i] = float(m[0]), b.y[i] = float(m[1]), b.z[i] = float(m[2]);
  }
  return b;
}
