#include "quadric/qarc.h"

#include <cmath>

#include "bspline/sfree.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"

namespace {

constexpr double kDegToRad = 0.017453292519943295;

}  // namespace

// Method: the sweep S is cut into k segments of 90 degrees, the last one shorter (R degrees)
// when S is no multiple of 90. A segment of angle A from direction t is the rational quadratic
// Bezier with end points on the circle and its middle point where the end tangents meet, at
// distance r / cos(A / 2) in direction t + A / 2, with weight cos(A / 2). The arc is built
// from angle 0, then turned by the start angle and moved to the centre.
Bspline* MakeArcZBspline(double startAngle, double endAngle, const double centre[3], double r) {
  double S = endAngle >= startAngle ? endAngle - startAngle : 360.0 - (startAngle - endAngle);
  if (std::fabs(S) < 1e-6) S = 360.0;
  double R;
  if (S <= 90.0) {
    R = S;
  } else {
    R = std::fmod(S, 90.0);
    if (std::fabs(R) < 0.0001) {
      // A remainder this small is rounding: the sweep is whole quarter turns.
      R = 0.0;
      S = 90.0 * std::trunc(S * 0.011111111111111112);
    }
  }
  if (!(S > 0.0)) return nullptr;
  int k = 0;
  for (double rest = S; rest > 0.0; rest -= 90.0) ++k;
  const bool partial = R > 0.0;

  TrackingScope scope;
  Owned<Bspline, FreeBspline> c(MallocNullBspline());
  if (!c || KernelFailed()) return nullptr;
  c->kind = 1;
  c->dimension = 3;
  c->degreeU = 2;
  c->interiorU = 2 * k - 2;
  c->closedU = S == 360.0 ? 2 : 0;
  c->rational = 1;
  if (AllocateBsplineArrays(c.get()) < 0 || KernelFailed()) return nullptr;

  const double a0 = startAngle * kDegToRad;
  double* knots = c->knotsU;
  double *x = c->X[0], *y = c->Y[0], *w = c->W[0];
  knots[0] = knots[1] = knots[2] = a0;
  x[0] = r;
  y[0] = 0.0;
  w[0] = 1.0;
  int n = 1, kn = 3;
  double t = 0.0;
  const int full = partial ? k - 1 : k;
  for (int s = 0; s < full; ++s, t += 90.0) {
    const double mid = (t + 45.0) * kDegToRad, end = (t + 90.0) * kDegToRad;
    x[n] = 1.414213562373095 * r * std::cos(mid);
    y[n] = 1.414213562373095 * r * std::sin(mid);
    w[n++] = 0.7071067811865476;
    x[n] = r * std::cos(end);
    y[n] = r * std::sin(end);
    w[n++] = 1.0;
    knots[kn++] = a0 + (t + 90.0) * kDegToRad;
    knots[kn++] = a0 + (t + 90.0) * kDegToRad;
  }
  if (partial) {
    const double half = std::cos(R * 0.008726646259971648);
    const double mid = (t + R / 2.0) * kDegToRad;
    x[n] = r / half * std::cos(mid);
    y[n] = r / half * std::sin(mid);
    w[n++] = half;
    x[n] = r * std::cos(S * kDegToRad);
    y[n] = r * std::sin(S * kDegToRad);
    w[n++] = 1.0;
    knots[kn++] = a0 + S * kDegToRad;
    knots[kn++] = a0 + S * kDegToRad;
  }
  knots[kn] = knots[kn - 1];  // the last segment end three times
  c->umin = knots[2];
  c->umax = knots[2 * k + 1];

  const double ca = std::cos(a0), sa = std::sin(a0);
  for (int i = 0; i < n; ++i) {
    const double lx = x[i], ly = y[i];
    x[i] = lx * ca - ly * sa + centre[0];
    y[i] = lx * sa + ly * ca + centre[1];
    c->Z[0][i] = centre[2];
  }
  if (S < 90.0) {
    if (c->umax - c->umin < 0.1) {
      // A short arc in radians would give a tiny parameter range: [0, 1] instead.
      knots[0] = knots[1] = knots[2] = 0.0;
      knots[3] = knots[4] = knots[5] = 1.0;
      c->umin = 0.0;
      c->umax = 1.0;
    }
    if (S < 0.001) c->rational = 0;  // the weights stay stored
  }
  const QuadricInfo arc = {{centre[0], centre[1], centre[2], 0.0, 0.0, 1.0, r, S}};
  c->quadric = DuplicateQuadricInfo(&arc, QuadricDoubles(3));
  if (!c->quadric || KernelFailed()) return nullptr;
  c->quadricType = 3;
  scope.keep();
  return c.release();
}
