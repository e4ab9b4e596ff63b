// Sample surface groups for the stand-in host, and seam measurements taken independently of the
// kernel: the demo host and the plug-in tests use them to build scenes and to judge a heal.
#pragma once

#include <string>
#include <vector>

#include "platform/saa_control.h"

// A seam the group was built with: side sideA of element elemA runs beside side sideB of
// element elemB. Sides are numbered 1 u-min, 2 v-min, 3 u-max, 4 v-max.
struct SampleSeam {
  int elemA, sideA;
  int elemB, sideB;
};

struct SampleGroup {
  std::string name;
  std::vector<int> elements;  // in pick order
  std::vector<SampleSeam> seams;
};

// Two bicubic patches side by side; the second is lifted by `gap` and turned by `kinkDegrees`
// about the seam. With `reverseSecond` the second patch's u direction is reversed.
SampleGroup BuildTwoPatchGroup(double gap, double kinkDegrees, bool reverseSecond = false, int ctrl = 6);
// Four patches in a 2 x 2 grid sampled from one smooth height field; every patch's copy of the
// shared centre corner is moved by its own offset of size about `perturb`.
SampleGroup BuildGridGroup(double perturb, int ctrl = 6);
// One long patch along the bottom against two short patches on top of it, lifted by `gap`.
SampleGroup BuildTJunctionGroup(double gap);

// A 3 x 3 grid over unit cells with degrees 2, 3 and 5 per patch and direction (each degree in
// every direction three times), one to four interior knots at random positions and so different
// control counts per patch; each patch's copy of a shared boundary row is moved by its own
// random offsets within +-jitter. The patch with index `swapped` (0..8, row by row) is held by
// the host with u and v exchanged, the one with index `reversed` with u reversed: the same
// surfaces, parametrised otherwise.
SampleGroup BuildMixedDegreeGroup(unsigned seed, double jitter, int swapped = -1, int reversed = -1);
// An n x n grid of bicubic ctrl x ctrl patches over unit cells, shared rows jittered likewise.
SampleGroup BuildJitteredGrid(int n, int ctrl, double jitter, unsigned seed);
// The same grid with the shared rows jittered by +-jitterZ in z and +-jitterXY in x and y: a
// rough group, whose seams open by the jitter and kink by several degrees (8 x 8 patches, 0.005
// and 0.001: gaps near 0.017, angles up to about 17 degrees). Seeded, so the same seed gives
// the same group.
SampleGroup BuildRoughGrid(int n, int ctrl, double jitterZ, double jitterXY, unsigned seed);
// `valence` bicubic patches around one vertex at the origin (each a kite), shared rows jittered.
SampleGroup BuildStarGroup(int valence, double jitter, unsigned seed, int ctrl = 6);

// The least of f on [a, b] by Brent's method, started from x inside it with fx = f(x): golden
// sections, or the parabola through the three best points where it falls well inside the bracket
// and the steps keep halving, one evaluation a step, until the bracket is down to tol plus
// round-off in x. Seam measures refine the nearest sample of a side with it.
template <class F>
double BrentMinimum(F&& f, double a, double b, double x, double fx, double tol) {
  constexpr double kEps = 2.220446049250313e-16;
  const double golden = 0.3819660112501051;  // (3 - sqrt 5) / 2
  // x the best point so far, w the second best, v the previous w; e the step before last.
  double w = x, v = x, fw = fx, fv = fx, d = 0.0, e = 0.0;
  for (int it = 0; it < 200; ++it) {
    const double xm = 0.5 * (a + b), tol1 = tol + 4.0 * kEps * (x < 0 ? -x : x), tol2 = 2.0 * tol1;
    if ((x > xm ? x - xm : xm - x) <= tol2 - 0.5 * (b - a)) break;
    bool parabola = false;
    if ((e < 0 ? -e : e) > tol1) {
      double r = (x - w) * (fx - fv), q = (x - v) * (fx - fw), p = (x - v) * q - (x - w) * r;
      q = 2.0 * (q - r);
      if (q > 0.0) p = -p;
      q = q < 0 ? -q : q;
      const double before = e, half = 0.5 * q * before;
      if ((p < 0 ? -p : p) < (half < 0 ? -half : half) && p > q * (a - x) && p < q * (b - x)) {
        e = d, d = p / q, parabola = true;
        const double u = x + d;
        if (u - a < tol2 || b - u < tol2) d = xm >= x ? tol1 : -tol1;
      }
    }
    if (!parabola) e = x >= xm ? a - x : b - x, d = golden * e;
    const double u = (d < 0 ? -d : d) >= tol1 ? x + d : x + (d >= 0.0 ? tol1 : -tol1), fu = f(u);
    if (fu <= fx) {
      (u >= x ? a : b) = x;
      v = w, fv = fw, w = x, fw = fx, x = u, fx = fu;
    } else {
      (u < x ? a : b) = u;
      if (fu <= fw || w == x) {
        v = w, fv = fw, w = u, fw = fu;
      } else if (fu <= fv || v == x || v == w) {
        v = u, fv = fu;
      }
    }
  }
  return x;
}

// A surface exactly as the host holds it, evaluated without the kernel.
struct HostSurfaceView {
  int pu, pv, cu, cv;
  std::vector<double> knotsU, knotsV;  // clamped, full length (host vector plus both end knots)
  std::vector<double> pts;             // world-space x, y, z, u fastest
};
HostSurfaceView ViewHostSurface(int element);
void EvalHostSurface(const HostSurfaceView& s, double u, double v, double out[3]);
void HostSurfaceNormal(const HostSurfaceView& s, double u, double v, double n[3]);
// The point at parameter t (0..1, in increasing surface parameter) along side `side`.
void HostSidePoint(const HostSurfaceView& s, int side, double t, double out[3]);

struct SeamMeasure {
  double maxGap;    // largest distance from side A's samples to side B's boundary curve
  double maxAngle;  // largest folded angle between the two surfaces' normals there, degrees
  double gapOnA[3], gapOnB[3];  // where maxGap is: side A's sample and its closest point on side B
  // The angle at every sample of side A, in the order of its parameter (sample i at i / (n - 1)).
  std::vector<double> angles;
};
SeamMeasure MeasureSeam(const SampleSeam& seam, int samples = 200);

// Length of the shortest boundary curve of the group's surfaces (each side sampled densely),
// the measure the plug-in's MAXGAP limit is a quarter of; *element and *side say where it is.
double ShortestBoundaryCurve(const SampleGroup& g, int* element = nullptr, int* side = nullptr);

// Sampled normals of an element ((samples + 1)^2 of them, evenly in its domain) that point
// against the patch's mean normal: a folded patch has some.
int CountFlippedNormals(int element, int samples = 24);

// ---- Groups as CAD systems export them ----------------------------------------------------
// Faces of part models written as B-spline surfaces: planes as bilinear 2 x 2 patches, cylinders
// as cubic nets, long fillet strips, with the exporters' knot values. Built as plain records so
// the host scenes and the kernel's test fixtures share one geometry.

// One exported surface: full clamped knot vectors, control points x, y, z with u fastest.
struct CadPatch {
  std::string name;
  int pu = 1, pv = 1, cu = 2, cv = 2;
  std::vector<double> knotsU, knotsV;
  std::vector<double> pts;
};

enum class CadShape {
  BoxCorner,     // three bilinear planes meeting at a corner, 90-degree creases
  TangentStrip,  // a plane strip 0.22 x 0.011, tangent to a cubic quarter-cylinder, closed by a second plane
  TJunction,     // one long plane side against two shorter coplanar sides and three shorter walls at 90 degrees
  Tube,          // two cubic half-cylinders
  StripChain,    // long cubic strips side by side around a 45-degree crease along their length
};

enum class CadKnots {
  Unit,      // every parameter on [0, 1]
  Exporter,  // domains not starting at 0, an end a tiny non-zero value off 0 (5.8e-16, -5.8e-16, -3.3e-32, 1e-16)
};

struct CadOptions {
  CadKnots knots = CadKnots::Unit;
  double knotScale = 1.0;   // every knot vector scaled by this (after the exporter's values)...
  double knotShift = 0.0;   // ...then shifted by this
  double size = 1.0;        // geometry scaled by this
  double noise = 0.0;       // seeded offsets within +-noise x the group's box diagonal per coordinate
  bool boundaryRowsOnly = false;  // noise on the four boundary rows of each net only
  unsigned seed = 1;
  int longCount = 258;  // control points along a long net (strip chain, tube)
  int arcCount = 4;     // control points around a cylinder's arc
  int strips = 6;       // strips in the chain, half on each side of the crease
};

struct CadGroup {
  std::string name;
  std::vector<CadPatch> patches;
  std::vector<SampleSeam> seams;  // elemA / elemB index `patches`
  double diagonal = 0.0;          // of the clean group's control points
};

CadGroup MakeCadGroup(CadShape shape, const CadOptions& options = {});
// Every shape, for loops over the groups.
inline constexpr CadShape kCadShapes[] = {CadShape::BoxCorner, CadShape::TangentStrip, CadShape::TJunction,
                                          CadShape::Tube, CadShape::StripChain};
// Adds the patches to the stand-in host's scene; the seams then name host elements.
SampleGroup AddCadGroup(const CadGroup& group);
