// Orientation and coverage of scattered-cloud normals on thin closed parts beside others.
#include <algorithm>
#include <cmath>
#include <vector>

#include "cloud/makecld.h"
#include "cloud/poffset.h"
#include "foundation/cloudrec.h"
#include "tests/support/kernel_fixture.h"

namespace {

constexpr double kPi = 3.141592653589793;

// Points with the outward direction of the closed surface they were sampled from.
struct Sampled {
  std::vector<float> x, y, z;
  std::vector<double> ox, oy, oz, gap;  // gap: distance to the other part, unscaled
  void add(const double p[3], const double out[3], double scale, double otherGap) {
    x.push_back(float(scale * p[0])), y.push_back(float(scale * p[1])), z.push_back(float(scale * p[2]));
    ox.push_back(out[0]), oy.push_back(out[1]), oz.push_back(out[2]);
    gap.push_back(otherGap);
  }
  int n() const { return int(x.size()); }
};

double Norm(const double v[3]) { return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }

// A capsule of radius r about the segment from a to b beside a sphere about c of radius R.
struct Parts {
  double a[3], b[3], r, c[3], R;
  double ToCapsule(const double p[3]) const {
    double d[3], q[3];
    for (int k = 0; k < 3; ++k) d[k] = b[k] - a[k], q[k] = p[k] - a[k];
    const double dd = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
    const double t = std::clamp((q[0] * d[0] + q[1] * d[1] + q[2] * d[2]) / dd, 0.0, 1.0);
    for (int k = 0; k < 3; ++k) q[k] -= t * d[k];
    return std::fabs(Norm(q) - r);
  }
  double ToSphere(const double p[3]) const {
    const double q[3] = {p[0] - c[0], p[1] - c[1], p[2] - c[2]};
    return std::fabs(Norm(q) - R);
  }
};

// The capsule sampled about every h, with a twist per ring so that no two rings line up.
void Capsule(Sampled& s, const Parts& g, double h, double scale) {
  const double *a = g.a, *b = g.b, r = g.r;
  double d[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
  const double len = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
  for (double& v : d) v /= len;
  // u, w: unit vectors across the axis.
  double u[3] = {-d[1], d[0], 0.0};
  double lu = std::hypot(u[0], u[1]);
  if (lu < 1e-9) u[0] = 1, u[1] = 0, lu = 1;
  for (double& v : u) v /= lu;
  const double w[3] = {d[1] * u[2] - d[2] * u[1], d[2] * u[0] - d[0] * u[2], d[0] * u[1] - d[1] * u[0]};
  const int around = int(std::ceil(2 * kPi * r / h));
  const int rings = int(std::ceil(len / h));
  for (int k = 0; k <= rings; ++k)
    for (int j = 0; j < around; ++j) {
      const double t = len * k / rings, phi = 2 * kPi * (j + 0.37 * k) / around;
      double out[3], p[3];
      for (int c = 0; c < 3; ++c) out[c] = std::cos(phi) * u[c] + std::sin(phi) * w[c];
      for (int c = 0; c < 3; ++c) p[c] = a[c] + t * d[c] + r * out[c];
      s.add(p, out, scale, g.ToSphere(p));
    }
  // Hemispherical ends, on spirals of directions pointing away from the body.
  const int m = int(std::ceil(2 * kPi * r * r / (h * h)));
  for (int end = 0; end < 2; ++end)
    for (int i = 0; i < m; ++i) {
      const double c = (i + 0.5) / m, sn = std::sqrt(1 - c * c), phi = kPi * (3 - std::sqrt(5.0)) * i;
      const double sign = end ? 1.0 : -1.0;
      double out[3], p[3];
      for (int q = 0; q < 3; ++q) out[q] = sign * c * d[q] + sn * (std::cos(phi) * u[q] + std::sin(phi) * w[q]);
      for (int q = 0; q < 3; ++q) p[q] = (end ? b[q] : a[q]) + r * out[q];
      s.add(p, out, scale, g.ToSphere(p));
    }
}

void Sphere(Sampled& s, const Parts& g, double h, double scale) {
  const double *c = g.c, r = g.R;
  const int m = int(std::ceil(4 * kPi * r * r / (h * h)));
  for (int i = 0; i < m; ++i) {
    const double z = 1.0 - 2.0 * (i + 0.5) / m, sn = std::sqrt(1 - z * z), phi = kPi * (3 - std::sqrt(5.0)) * i;
    const double out[3] = {sn * std::cos(phi), sn * std::sin(phi), z};
    const double p[3] = {c[0] + r * out[0], c[1] + r * out[1], c[2] + r * out[2]};
    s.add(p, out, scale, g.ToCapsule(p));
  }
}

const Xform kId = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

using ThinPartNormals = KernelTest;

// A tilted capsule of radius 0.02 passing 0.01 to 0.03 below a sphere of radius 0.15, at three
// sizes. Every normal points out of its part: the highest point faces the viewer and the
// orientation travels from it, so the lower sides of both parts must be turned over from their
// (viewer-facing) fits, the capsule from its own top. Every point gets a normal but where its
// neighbourhood reaches across to the other part (within 0.015 of it), and those are few. Before,
// about 1,800 of 12,362 normals pointed in and 850 points had none.
TEST_F(ThinPartNormals, CapsuleBesideASphereIsOrientedOutwardEverywhere) {
  const Parts g = {{-0.25, -0.04, -0.03}, {0.25, 0.06, 0.05}, 0.02, {0.0, 0.19, 0.0}, 0.15};
  for (double scale : {1e-6, 1.0, 1e6}) {
    Sampled s;
    Capsule(s, g, 0.004, scale);
    Sphere(s, g, 0.006, scale);
    const int n = s.n();
    Owned<Cloud, FreeCloud> cloud(MakeCld(s.x.data(), s.y.data(), s.z.data(), n, nullptr));
    std::vector<float> nx(n), ny(n), nz(n);
    ASSERT_EQ(ComputeCloud3DNormals(cloud.get(), nx.data(), ny.data(), nz.data(), kId), 1);
    int missing = 0, inward = 0, tilted = 0;
    for (int i = 0; i < n; ++i) {
      if (nx[i] == 0 && ny[i] == 0 && nz[i] == 0) {
        ++missing;
        EXPECT_LT(s.gap[i], 0.015) << scale << " " << i;
        continue;
      }
      const double dot = nx[i] * s.ox[i] + ny[i] * s.oy[i] + nz[i] * s.oz[i];
      inward += dot < 0;
      tilted += dot < 0.9 && s.gap[i] > 0.015;  // a plane fit on a smooth part away from the other
    }
    EXPECT_LT(missing, n / 200) << scale;
    EXPECT_EQ(inward, 0) << scale << " of " << n;
    EXPECT_EQ(tilted, 0) << scale << " of " << n;
  }
}

}  // namespace
