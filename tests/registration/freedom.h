// Test helpers for the feature matchers: constraints of every named mode built around one axis,
// motions drawn from the freedom a constraint allows, and the check that a remaining constraint
// keeps a matched point in place.
#pragma once

#include <cmath>
#include <cstring>
#include <random>

#include "foundation/angle.h"
#include "foundation/vec3.h"
#include "registration/confreg.h"
#include "registration/qternion.h"
#include "registration/stepreg.h"
#include "tests/support/kernel_fixture.h"

namespace freedom {

// The matchers' tests run with the registration angle tolerance at its default.
class MatchTest : public KernelTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    SetRegAngleTol(1.0);
  }
};

// A refusal leaves exactly the copied input.
inline bool SameConstraint(const RegConstraint& a, const RegConstraint& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

inline constexpr int kModes[] = {0, 1, 2, 15, 16, 21, 32, 37, 47, 48, 53, 58, 64, 79};

inline void Unit(double v[3]) {
  double n = VecSize3(v);
  for (int k = 0; k < 3; ++k) v[k] /= n;
}

inline void RandomUnit(std::mt19937& rng, double v[3]) {
  std::normal_distribution<double> g(0.0, 1.0);
  do {
    for (int k = 0; k < 3; ++k) v[k] = g(rng);
  } while (VecSize3(v) < 0.1);
  Unit(v);
}

// A unit vector perpendicular to the unit n.
inline void RandomPerp(std::mt19937& rng, const double n[3], double u[3]) {
  double r[3], c[3];
  do {
    RandomUnit(rng, r);
    VectorCrossProduct(n, r, c);
  } while (VecSize3(c) < 0.2);
  for (int k = 0; k < 3; ++k) u[k] = c[k];
  Unit(u);
}

// Rotation by `radians` about the line through P along the unit a.
inline RegVec AboutLine(const double P[3], const double a[3], double radians) {
  RegVec v = {{std::cos(radians / 2), std::sin(radians / 2) * a[0], std::sin(radians / 2) * a[1],
               std::sin(radians / 2) * a[2]},
              {0, 0, 0}};
  double RP[3];
  VecRotWquaternion(P, &v, RP);
  for (int k = 0; k < 3; ++k) v.t[k] = P[k] - RP[k];
  return v;
}

inline RegVec Shift(const double t[3], double amount) {
  RegVec v = {{1, 0, 0, 0}, {amount * t[0], amount * t[1], amount * t[2]}};
  return v;
}

// b after a.
inline RegVec Then(const RegVec& a, const RegVec& b) {
  RegVec out;
  MultiplyTwoRegVecs(&a, &b, &out);
  return out;
}

inline void Apply(const RegVec& m, const double p[3], double out[3]) {
  RegVec copy = m;
  VecTrans3WithQternion(p, &copy, out);
}

// A constraint of the given mode around the axis through C along the unit d, consistent in all
// its forms: the plane through C normal to d, sliding (the C1T1 modes) along d, translation in
// the plane normal to d for Trans2D.
inline RegConstraint Around(int mode, const double C[3], const double d[3], double scale, const double slide[3]) {
  RegConstraint c;
  SetNullRegConstraint(&c);
  c.kind = mode / 16;
  c.centreFreedom = (mode % 16) / 4;
  c.transFreedom = mode % 4;
  for (int k = 0; k < 3; ++k) {
    c.point[k] = C[k];
    c.axis[k] = d[k];
    c.axisPoint1[k] = C[k];
    c.axisPoint2[k] = C[k] + scale * d[k];
    c.plane[k] = d[k];
    c.transNormal[k] = d[k];
    c.transDir[k] = (mode == 1) ? slide[k] : d[k];
  }
  c.plane[3] = -VecDotProd3(d, C);
  return c;
}

// The axis line a constraint of kind 1..3 describes: through point along the plane's normal for
// the fixed turn-over kind, through the axis points otherwise.
inline void AxisOf(const RegConstraint& c, double P[3], double a[3]) {
  int mode = GetRegConstraintMode(c);
  if (mode == 48 || mode == 58) {
    for (int k = 0; k < 3; ++k) P[k] = c.point[k], a[k] = c.plane[k];
  } else {
    for (int k = 0; k < 3; ++k) P[k] = c.axisPoint1[k], a[k] = c.axisPoint2[k] - c.axisPoint1[k];
  }
  Unit(a);
}

// A motion the constraint allows, `scale` the size of its translations.
inline RegVec Sample(std::mt19937& rng, const RegConstraint& c, double scale) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  RegVec m = {{1, 0, 0, 0}, {0, 0, 0}};
  int mode = GetRegConstraintMode(c);
  double P[3], a[3], r[3];
  if (c.kind >= 1 && c.kind <= 3) AxisOf(c, P, a);
  const double turn = 3.0 * u(rng);
  const bool flip = u(rng) > 0;
  switch (mode) {
    case 0: break;
    case 1: {
      double s[3] = {c.transDir[0], c.transDir[1], c.transDir[2]};
      Unit(s);
      m = Shift(s, scale * u(rng));
      break;
    }
    case 2: {
      double n[3] = {c.transNormal[0], c.transNormal[1], c.transNormal[2]};
      Unit(n);
      RandomPerp(rng, n, r);
      m = Shift(r, scale * u(rng));
      break;
    }
    case 15:
      RandomUnit(rng, r);
      m = Shift(r, scale * u(rng));
      break;
    case 16:
      if (flip) m = AboutLine(P, a, M_PI);
      break;
    case 21: {
      // The half turn about the axis line, and sliding along transDir.
      double s[3] = {c.transDir[0], c.transDir[1], c.transDir[2]};
      if (VecSize3(s) > 0.0) Unit(s);
      if (flip) m = AboutLine(P, a, M_PI);
      m = Then(m, Shift(s, scale * u(rng)));
      break;
    }
    case 32: m = AboutLine(P, a, turn); break;
    case 37: m = Then(AboutLine(P, a, turn), Shift(a, scale * u(rng))); break;
    case 47:
      RandomUnit(rng, r);
      m = Then(AboutLine(P, a, turn), Shift(r, scale * u(rng)));
      break;
    case 48:
    case 53:
    case 58:
      m = AboutLine(P, a, turn);
      if (flip) {
        RandomPerp(rng, a, r);
        m = Then(m, AboutLine(P, r, M_PI));
      }
      if (mode == 53) m = Then(m, Shift(a, scale * u(rng)));
      if (mode == 58) {
        RandomPerp(rng, a, r);
        m = Then(m, Shift(r, scale * u(rng)));
      }
      break;
    case 64:
      RandomUnit(rng, r);
      m = AboutLine(c.point, r, turn);
      break;
    default: {
      std::normal_distribution<double> g(0.0, 1.0);
      m = RegVec{{g(rng), g(rng), g(rng), g(rng)}, {scale * g(rng), scale * g(rng), scale * g(rng)}};
      NormalizeQternion(m.q);
      break;
    }
  }
  return m;
}

// The largest displacement of X under a few motions drawn from the constraint's freedom.
inline double WorstDrift(std::mt19937& rng, const RegConstraint& c, const double X[3], double scale) {
  double worst = 0.0;
  for (int trial = 0; trial < 6; ++trial) {
    double moved[3];
    Apply(Sample(rng, c, scale), X, moved);
    worst = std::fmax(worst, VecDist3(moved, X));
  }
  return worst;
}

}  // namespace freedom
