// Shared test builders: clamped curves and surfaces from control points or from a sampled
// function, random clamped curves, and a textbook reference evaluator (Cox-de Boor basis,
// de Boor's algorithm, the quotient rule for rational derivatives) that is written
// independently of the kernel's evaluators, so tests can compare against it.
//
// Every builder returns a new record made with MallocNullBspline/AllocateBsplineArrays, owned
// by the caller and released with FreeBspline; null when an allocation failed. Builders open
// no tracking scope of their own.
#pragma once

#include <functional>
#include <vector>

#include "bspline/smake.h"

enum class KnotLayout {
  Uniform,  // interior knots evenly spaced
  Random,   // distinct interior knots at random positions (gaps between 0.5 and 1.5 of uniform)
};

// The full clamped knot vector (nCtrl + degree + 1 values) on [a, b]: degree + 1 copies of a,
// the interior knots, degree + 1 copies of b. `seed` is only read for KnotLayout::Random.
std::vector<double> ClampedKnots(int degree, int nCtrl, double a = 0.0, double b = 1.0,
                                 KnotLayout layout = KnotLayout::Uniform, unsigned seed = 1);

// A curve of `dimension` 3 (points x,y,z interleaved) or 2 (u,v interleaved, a curve in a
// surface's parameter plane; put it on a surface with BuildCurveOnSurface). The control-point
// count is pts.size() / dimension. `knots` is the full knot vector (empty: uniform on [0, 1]);
// `weights` one per control point (empty: non-rational).
Bspline* BuildCurve(int degree, int dimension, const std::vector<double>& pts,
                    const std::vector<double>& knots = {}, const std::vector<double>& weights = {});

// The exact ellipse x = a cos t, y = b sin t in the xy plane (nine rational quadratic points,
// four quarter arcs, knots at quarters of [0, 1], the seam at t = 0); a = b = 1 is the unit
// circle. Not flagged closed.
Bspline* BuildEllipseCurve(double a, double b);

// A 2D curve whose owner is `surface`, also pushed on the surface's curve list (so FreeBspline
// of the surface frees it too). (u, v) pairs interleaved in `uv`.
Bspline* BuildCurveOnSurface(Bspline* surface, int degree, const std::vector<double>& uv,
                             const std::vector<double>& knots = {},
                             const std::vector<double>& weights = {});

// A surface of nu x nv control points, pts[3 (j nu + i) + c] for column i (u), row j (v) and
// coordinate c; weights[j nu + i] (empty: non-rational); full knot vectors (empty: uniform on
// [0, 1]).
Bspline* BuildSurface(int degreeU, int degreeV, int nu, int nv, const std::vector<double>& pts,
                      const std::vector<double>& knotsU = {}, const std::vector<double>& knotsV = {},
                      const std::vector<double>& weights = {});

struct CadPatch;
// The surface of an exported patch (platform/host/sample_groups.h), knots and points as written.
Bspline* BuildCadPatch(const CadPatch& patch);

struct PatchOptions {
  int degreeU = 3;
  int degreeV = 3;
  int nu = 6;  // control points in u
  int nv = 5;  // control points in v
  double x0 = 0.0, x1 = 1.0, y0 = 0.0, y1 = 1.0;          // the rectangle in x, y
  double umin = 0.0, umax = 1.0, vmin = 0.0, vmax = 1.0;  // the parameter domain
  KnotLayout layout = KnotLayout::Uniform;
  bool rational = false;  // random weights in [0.5, 2]
  unsigned seed = 1;      // random knots and weights
};

// The patch z = f(x, y) over the rectangle: control point (i, j) sits at the Greville
// abscissae of its knots mapped onto the rectangle, with z = f(x, y) there. For a non-rational
// patch x is then exactly linear in u and y in v (the Greville identity), so a point's x and y
// tell its parameters; z approximates f (it is the variation-diminishing approximation).
Bspline* BuildFunctionPatch(const std::function<double(double, double)>& f,
                            const PatchOptions& options = {});

// A torus of tube radius r about the circle of radius R in z = 0, exact: rational biquadratic,
// the nine-point circle net revolved, u about z and v around the tube, both seams at angle 0;
// flagged closed in u and v unless `flagClosed` is false (as a file reader may leave it).
Bspline* BuildTorus(double R, double r, bool flagClosed = true);

// A random clamped curve on [0, 1]: control points uniform in [-1, 1]^dimension, interior
// knots by `layout`, weights uniform in [0.5, 2] when rational.
Bspline* BuildRandomCurve(unsigned seed, int degree, int nCtrl, int dimension = 3,
                          bool rational = false, KnotLayout layout = KnotLayout::Random);

// Frees the records handed to it, newest first, when it goes out of scope, so that a case
// ending early (a failed ASSERT) leaks nothing. Keep only records that own themselves: a
// curve listed on a surface goes with the surface.
class BsplineKeeper {
 public:
  BsplineKeeper() = default;
  BsplineKeeper(const BsplineKeeper&) = delete;
  BsplineKeeper& operator=(const BsplineKeeper&) = delete;
  ~BsplineKeeper();
  Bspline* operator()(Bspline* b) {
    kept_.push_back(b);
    return b;
  }

 private:
  std::vector<Bspline*> kept_;
};

// ---- Textbook reference ------------------------------------------------------------------
// Cox-de Boor recursion for N(i, p) at t over a knot vector of nKnots values, with 0/0 = 0;
// the last non-empty span is closed on the right so the basis is a partition of unity on the
// whole closed domain.
double RefBasis(const double* knots, int nKnots, int i, int p, double t);
// k-th derivative of N(i, p) by the textbook recursion on the degree (0/0 terms are 0).
double RefBasisDeriv(const double* knots, int nKnots, int i, int p, int k, double t);

// Point of a curve (3 outputs; a 2D curve writes u, v, 0) or surface by de Boor's algorithm,
// rational ones in homogeneous form. Parameters outside the domain are clamped into it.
void RefEvalCurve(const Bspline* curve, double t, double out[3]);
void RefEvalSurface(const Bspline* surface, double u, double v, double out[3]);

// Partial derivative of order du (u or t) and dv (v, surfaces only) of a curve or surface
// from RefBasisDeriv, rational ones by the general quotient (Leibniz) rule. Order 0/0 is the
// point. Any orders.
void RefEvalDeriv(const Bspline* object, double u, double v, int du, int dv, double out[3]);

// Largest absolute coefficient of the object (at least 1): the scale for relative checks.
double RefScale(const Bspline* object);
