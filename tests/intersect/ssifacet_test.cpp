// Surface/surface intersections of coarse faceted nets (degree 1 round, as CAD tessellations
// hand them over): branches bend at every crease the other surface crosses.
#include <array>
#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "bspline/crvlist.h"
#include "bspline/ctrlnubs.h"
#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "foundation/umalloc.h"
#include "intersect/newintr.h"
#include "tests/intersect/shapes.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class FacetIntersections : public KernelTest {};

using P3 = std::array<double, 3>;

// The rows of a rotation by `turn` about (1, 2, 3).
void Turned(double turn, double f[3][3]) {
  const double n = std::sqrt(14.0), k[3] = {1 / n, 2 / n, 3 / n}, c = std::cos(turn), s = std::sin(turn);
  for (int j = 0; j < 3; ++j) {
    const double x[3] = {double(j == 0), double(j == 1), double(j == 2)};
    const double kx = k[j];
    const double cross[3] = {k[1] * x[2] - k[2] * x[1], k[2] * x[0] - k[0] * x[2], k[0] * x[1] - k[1] * x[0]};
    for (int q = 0; q < 3; ++q) f[j][q] = c * x[q] + s * cross[q] + (1 - c) * kx * k[q];
  }
}

// A unit sphere (sphere true) or a cylinder of radius 1 and height 3 of nu facets round, closed
// in u, turned by f and moved by shift, with rows control rows along of degree degV.
Bspline* Faceted(bool sphere, int nu, int rows, int degV, const double f[3][3], const P3& shift, double start) {
  std::vector<double> pts;
  for (int j = 0; j < rows; ++j)
    for (int i = 0; i <= nu; ++i) {
      const double a = 2 * M_PI * (i % nu) / nu + start, s = double(j) / (rows - 1);
      P3 p = {std::cos(a), std::sin(a), -1.5 + 3 * s};
      if (sphere) {
        const double ph = -M_PI / 2 + M_PI * s, r = j == 0 || j == rows - 1 ? 0.0 : std::cos(ph);
        p = {r * std::cos(a), r * std::sin(a), std::sin(ph)};
      }
      for (int q = 0; q < 3; ++q) pts.push_back(p[0] * f[0][q] + p[1] * f[1][q] + p[2] * f[2][q] + shift[q]);
    }
  std::vector<double> ku = {0, 0}, kv(degV + 1, 0.0);
  for (int i = 1; i < nu; ++i) ku.push_back(double(i) / nu);
  ku.insert(ku.end(), {1, 1});
  for (int j = 1; j < rows - degV; ++j) kv.push_back(double(j) / (rows - degV));
  kv.insert(kv.end(), degV + 1, 1.0);
  Bspline* s = BuildSurface(1, degV, nu + 1, rows, pts, ku, kv);
  s->closedU = 1;
  return s;
}

// The branches as points sampled on the first surface.
std::vector<std::vector<P3>> Branches(Bspline* a, Bspline* b, int samples) {
  BsplineList* list = nullptr;
  EXPECT_EQ(CreateSrfSrfIntersectionCurves(a, b, &list), 1);
  std::vector<std::vector<P3>> out;
  for (BsplineList* n = list; n && n->next; n = n->next->next) {
    const Bspline* c = n->item;
    const double lo = c->knotsU[c->degreeU], hi = c->knotsU[NumCtrlU(c)];
    out.emplace_back();
    for (int i = 0; i <= samples; ++i) {
      static const int d0[1] = {0};
      double uv[1][3];
      P3 P;
      EvalPointOnGeometryM(c, lo + (hi - lo) * i / samples, 0, d0, d0, 1, 0, uv);
      Eval3DPointOnSurfCoord(a, uv[0][0], uv[0][1], 0, 0, P.data());
      out.back().push_back(P);
    }
  }
  while (list) {
    BsplineList* next = list->next;
    Free(list);
    list = next;
  }
  return out;
}

double Dist(const P3& p, const P3& q) { return std::hypot(p[0] - q[0], p[1] - q[1], p[2] - q[2]); }

// Distance of X from the chord of samples i, i + 1 of a branch.
double FromChord(const std::vector<P3>& s, size_t i, const P3& X) {
  double ab[3], ax[3];
  for (int q = 0; q < 3; ++q) ab[q] = s[i + 1][q] - s[i][q], ax[q] = X[q] - s[i][q];
  const double l2 = ab[0] * ab[0] + ab[1] * ab[1] + ab[2] * ab[2];
  const double f = l2 > 0 ? std::fmin(1.0, std::fmax(0.0, (ab[0] * ax[0] + ab[1] * ax[1] + ab[2] * ax[2]) / l2)) : 0.0;
  return std::hypot(ax[0] - f * ab[0], ax[1] - f * ab[1], ax[2] - f * ab[2]);
}

// The samples of a branch that lie within tol of a chord of it more than 5 % of its length away
// along it (round a closed branch the shorter way): a stretch traced twice, or out and back.
// length gets the branch's length.
int SamplesOnAnotherStretch(const std::vector<P3>& s, double tol, double* length) {
  std::vector<double> arc(s.size(), 0.0);
  for (size_t i = 1; i < s.size(); ++i) arc[i] = arc[i - 1] + Dist(s[i], s[i - 1]);
  const double L = arc.back();
  *length = L;
  const bool closed = Dist(s.front(), s.back()) < tol;
  int twice = 0;
  for (size_t i = 0; i < s.size(); ++i)
    for (size_t j = 0; j + 1 < s.size(); ++j) {
      double d[2];
      for (int k = 0; k < 2; ++k) {
        d[k] = std::fabs(arc[j + k] - arc[i]);
        if (closed) d[k] = std::fmin(d[k], L - d[k]);
      }
      if (d[0] > 0.05 * L && d[1] > 0.05 * L && FromChord(s, j, s[i]) < tol) {
        ++twice;
        break;
      }
    }
  return twice;
}

// A loop of a faceted sphere (degree 3 along its meridians) round a faceted cylinder's edge
// whose seed falls a round-off beside one of the sphere's creases: the first step only hops
// over the crease, and the march coming back landed on the crease beside that hop. It closes
// there, once round, in either order of the surfaces: no stretch of a branch comes back over
// another of it, and both orders give branches of the same total length.
TEST_F(FacetIntersections, ALoopSeededBesideACreaseIsTracedOnce) {
  double f[3][3], g[3][3];
  Turned(0.7, f);
  Turned(2.1, g);
  BsplineKeeper keep;
  Bspline* sphere = keep(Faceted(true, 7, 8, 3, f, {0, 0, 0}, 0.3));
  Bspline* cylinder = keep(Faceted(false, 6, 6, 1, g, {0.31, -0.2, 0.17}, 0.1));
  double total[2] = {0.0, 0.0};
  for (int first = 0; first < 2; ++first) {
    const auto bs = first ? Branches(cylinder, sphere, 400) : Branches(sphere, cylinder, 400);
    for (const auto& s : bs) {
      double L = 0.0;
      EXPECT_EQ(SamplesOnAnotherStretch(s, 1e-5, &L), 0) << first << " of " << L;
      total[first] += L;
    }
  }
  EXPECT_NEAR(total[0], total[1], 0.01 * total[0]);
}

// A torus net of radii 1 and 0.3 of nu facets round its axis and nv round the tube, the ring's
// first vertex turned by start, degree 1 both ways and closed both ways, placed by at.
Bspline* TorusNet(int nu, int nv, double start, const shapes::Place& at) {
  std::vector<double> pts;
  for (int j = 0; j <= nv; ++j)
    for (int i = 0; i <= nu; ++i) {
      const double a = 2 * M_PI * (i % nu) / nu + start, b = 2 * M_PI * (j % nv) / nv, r = 1 + 0.3 * std::cos(b);
      const double p[3] = {r * std::cos(a), r * std::sin(a), 0.3 * std::sin(b)};
      double q[3];
      at.Map(p, q);
      pts.insert(pts.end(), q, q + 3);
    }
  std::vector<double> ku = {0, 0}, kv = {0, 0};
  for (int i = 1; i < nu; ++i) ku.push_back(double(i) / nu);
  for (int j = 1; j < nv; ++j) kv.push_back(double(j) / nv);
  ku.insert(ku.end(), {1, 1});
  kv.insert(kv.end(), {1, 1});
  Bspline* s = BuildSurface(1, 1, nu + 1, nv + 1, pts, ku, kv);
  s->closedU = s->closedV = 1;
  return s;
}

Bspline* TorusNet(int n, double start, const shapes::Place& at) { return TorusNet(n, n, start, at); }

// A smooth cylinder through a 12 x 12 torus net crosses it near a vertex of the net, where the
// branch passes a crease of each direction a short way apart. From the second crease the step's
// prediction was pulled back onto the stretch just traced, and the first crease between them
// taken for the step's end: the march ran back and forth between the two crossings, or back
// along the branch it came by (a fifth of a branch's length out and back). At every size and in
// either order, no branch runs back over itself and both orders give branches of the same total
// length.
TEST_F(FacetIntersections, ABranchLeavesACreaseIntoTheFaceBeyondIt) {
  const double axis[3] = {-0.09710931777954102, -0.06144261360168457, -0.24752438068389893};
  const double centre[3] = {0.33572130203247075, -0.8562628269195556, -0.03396974802017211};
  const double n = std::hypot(axis[0], axis[1], axis[2]), a[3] = {axis[0] / n, axis[1] / n, axis[2] / n};
  // The seam along the component of x square to the axis.
  const double x[3] = {1 - a[0] * a[0], -a[0] * a[1], -a[0] * a[2]}, l = std::hypot(x[0], x[1], x[2]);
  const double e[3] = {x[0] / l, x[1] / l, x[2] / l};
  for (double size : {1.0, 1e-3}) {
    shapes::Place net, at;
    net.scale = at.scale = size;
    for (int q = 0; q < 3; ++q) at.shift[q] = size * centre[q];
    BsplineKeeper keep;
    Bspline* torus = keep(TorusNet(12, 0.1, net));
    Bspline* cylinder = keep(shapes::Cylinder(a, e, 0.3759982466697693, -2.5, 2.5, at));
    double total[2] = {0.0, 0.0};
    for (int first = 0; first < 2; ++first) {
      const auto bs = first ? Branches(cylinder, torus, 300) : Branches(torus, cylinder, 300);
      for (const auto& b : bs) {
        double L = 0.0;
        EXPECT_EQ(SamplesOnAnotherStretch(b, 1e-5 * size, &L), 0) << size << " " << first << " of " << L / size;
        total[first] += L;
      }
    }
    EXPECT_NEAR(total[0], total[1], 0.01 * total[0]) << size;
  }
}

// No sample of a branch of a torus net and a cylinder (either first) lies on a stretch of it
// more than 5 % of its length away along it, and both orders give the same total length.
void ExpectEachBranchOnce(Bspline* net, Bspline* cylinder, double scale) {
  const double tol = 1e-6 * shapes::PairSize(net, cylinder);
  double total[2] = {0.0, 0.0};
  for (int first = 0; first < 2; ++first) {
    const auto bs = first ? Branches(cylinder, net, 400) : Branches(net, cylinder, 400);
    for (const auto& s : bs) {
      double L = 0.0;
      EXPECT_EQ(SamplesOnAnotherStretch(s, tol, &L), 0) << scale << " " << first << " of " << s.size()
                                                        << " samples, length " << L;
      total[first] += L;
    }
  }
  EXPECT_NEAR(total[0], total[1], 0.01 * total[0]) << scale;
}

// A smooth cylinder (radius 0.55, axis along (0.6, 0, 0.8)) through the hole of a torus net
// crosses the net's tube in small loops over two of its creases. The march round the loop
// seeded a little beside a crease, its first step only hopping onto it, came back within half
// a step of the seed one step short of closing, was taken for circling another branch's loop and
// stopped there; the march back from the seed passed that end in its first step and ran round
// the loop again, 95 % of it traced twice. Each loop comes back once: no sample of a branch lies
// on a stretch of it more than 5 % of its length away along it, and both orders give branches of
// the same total length, at sizes 1 and 1e-6 moved 1e4 sizes out.
TEST_F(FacetIntersections, ALoopSeededBesideACreaseIsNotTakenForAnotherBranch) {
  const double axis[3] = {0.6, 0.0, 0.8}, seam[3] = {-0.8, 0.0, 0.6};
  for (const double scale : {1.0, 1e-6}) {
    shapes::Place at, cp;
    at.scale = cp.scale = scale;
    for (int q = 0; q < 3; ++q) {
      at.shift[q] = scale == 1.0 ? 0.0 : 1e4 * scale * (q + 1);
      // The axis passes 0.58 from the net's vertex (1, 0, 0.3), along seam.
      cp.shift[q] = at.shift[q] + scale * ((q == 2 ? 0.3 : q == 0 ? 1.0 : 0.0) + 0.58 * seam[q]);
    }
    BsplineKeeper keep;
    Bspline* net = keep(TorusNet(4, 0.0, at));
    Bspline* cylinder = keep(shapes::Cylinder(axis, seam, 0.55, -2.0, 2.0, cp));
    ExpectEachBranchOnce(net, cylinder, scale);
  }
}

// A cylinder of radius 0.4 along z through the vertex (-1, 0, 0.3) of a 4 x 4 torus net, its
// seam through the vertex. A march that crossed a crease toward the knot's lower values predicted
// its next step from the face it came over (a point on a knot takes the span after it), the
// refinement pulled the prediction back, and a stretch came back twice. Each branch once, at
// sizes 1 and 1e-6 moved 1e4 sizes out, in either order, with the same total length.
TEST_F(FacetIntersections, AStepFromACreaseIsPredictedOverTheFaceAhead) {
  const double axis[3] = {0.0, 0.0, 1.0}, n[3] = {std::cos(0.3), std::sin(0.3), 0.0};
  const double seam[3] = {-n[0], -n[1], 0.0}, vertex[3] = {-1.0, 0.0, 0.3};
  for (const double scale : {1.0, 1e-6}) {
    shapes::Place at, cp;
    at.scale = cp.scale = scale;
    for (int q = 0; q < 3; ++q) {
      at.shift[q] = scale == 1.0 ? 0.0 : 1e4 * scale * (q + 1);
      cp.shift[q] = at.shift[q] + scale * (vertex[q] + 0.4 * n[q]);
    }
    BsplineKeeper keep;
    Bspline* net = keep(TorusNet(4, 0.0, at));
    Bspline* cylinder = keep(shapes::Cylinder(axis, seam, 0.4, -3.5, 3.5, cp));
    ExpectEachBranchOnce(net, cylinder, scale);
  }
}

// Smooth cylinders through a 12 x 8 torus net that cut small loops lying along a crease of the
// net, a stretch on the face either side of it, the two crossing it at a sharp turn. Every
// pull of a step aimed over the crease came back to the corner a round-off short of the knot,
// where the next step could neither turn nor cross; arriving on the crease from the side after
// its knot, the step was predicted along the face it came over; and a march passing the far
// stretch of its own thin loop, the other way, was taken for going round another branch's loop.
// The loop came back open, short, or run out and back. Every branch here is a closed loop (the
// cylinders run out past the torus): at sizes 1 and 1e-6 moved 1e4 sizes out, in either order,
// each closes and is traced once.
// A smooth cylinder through a 12 x 8 torus net (TorusNet(12, 8, start)): its axis, a point of
// it, its seam's direction (square to the axis) and its radius, at unit size.
struct Cut {
  double axis[3], centre[3], seam[3], radius, start;
};

TEST_F(FacetIntersections, ALoopAlongACreaseClosesOnce) {
  const Cut cuts[2] = {
      {{-0.11350507162083587, -0.86449541136971264, -0.48965731122598388},
       {0.0018048767480040029, -0.50528087362367624, 0.891660604317001},
       {0.99353741686780417, -0.098762876885651538, -0.055940105764296803}, 0.25816608570115396, 0.010610478440115201},
      {{-0.62444348529657034, 0.77982318395777539, -0.044115025021296161},
       {-0.64753347123004468, -0.55410344992921279, -0.62914299450839228},
       {0.78106999281157374, 0.62344669669461428, -0.035268721410078724}, 0.35619646870743638, 0.43057559494072556}};
  for (const Cut& c : cuts)
    for (const double size : {1.0, 1e-6}) {
      shapes::Place net, at;
      net.scale = at.scale = size;
      for (int q = 0; q < 3; ++q) {
        net.shift[q] = size == 1.0 ? 0.0 : 1e4 * size * (q + 1);
        at.shift[q] = net.shift[q] + size * c.centre[q];
      }
      BsplineKeeper keep;
      Bspline* torus = keep(TorusNet(12, 8, c.start, net));
      Bspline* cylinder = keep(shapes::Cylinder(c.axis, c.seam, c.radius, -3.5, 3.5, at));
      const double tol = 1e-6 * shapes::PairSize(torus, cylinder);
      for (int first = 0; first < 2; ++first) {
        const auto bs = first ? Branches(cylinder, torus, 400) : Branches(torus, cylinder, 400);
        EXPECT_FALSE(bs.empty());
        for (const auto& b : bs) {
          double L = 0.0;
          EXPECT_EQ(SamplesOnAnotherStretch(b, tol, &L), 0) << c.radius << " " << size << " " << first;
          EXPECT_LT(Dist(b.front(), b.back()), tol) << c.radius << " " << size << " " << first << " of " << L / size;
        }
      }
    }
}

// Where a loop turns back on a crease, the interval after the corner runs over the face before
// the knot, while the partials on the knot are the face's beyond it: the fit took the branch's
// way over the interval from those, refused every pull into it as running the wrong way, and the
// curves stayed 170 tolerances off the exact cylinder.
TEST_F(FacetIntersections, CurvesOverTheFaceBeforeACreaseCornerStayOnTheCylinder) {
  const double axis[3] = {-0.14421407816113962, 0.81593233639364915, -0.55987205867709955};
  const double centre[3] = {-0.078132169794836046, -0.06332037660348655, -0.072154670617372907};
  const double seam[3] = {0.98954651212569733, 0.11891197461967112, -0.081594378678423563};
  const double radius = 0.405838781942369;
  for (const double size : {1.0, 1e-6}) {
    shapes::Place net, at;
    net.scale = at.scale = size;
    for (int q = 0; q < 3; ++q) {
      net.shift[q] = size == 1.0 ? 0.0 : 1e4 * size * (q + 1);
      at.shift[q] = net.shift[q] + size * centre[q];
    }
    BsplineKeeper keep;
    Bspline* torus = keep(TorusNet(12, 8, 0.07214514776204925, net));
    Bspline* cylinder = keep(shapes::Cylinder(axis, seam, radius, -3.5, 3.5, at));
    const double tol = 1e-6 * shapes::PairSize(torus, cylinder);
    double worst = 0.0;
    for (const auto& b : Branches(torus, cylinder, 400))
      for (const P3& p : b) {
        P3 v;
        for (int q = 0; q < 3; ++q) v[q] = p[q] - at.shift[q];
        const double t = v[0] * axis[0] + v[1] * axis[1] + v[2] * axis[2];
        worst = std::fmax(worst, std::fabs(std::hypot(v[0] - t * axis[0], v[1] - t * axis[1], v[2] - t * axis[2]) -
                                           size * radius));
      }
    EXPECT_LT(worst, tol) << size;
  }
}

// A cylinder along (0.6, 0, 0.8) through the vertex (0, -0.7, 0) on the inner equator of a 4 x 4
// torus net, its seam through the vertex, cuts a lens from the vertex over the two faces either
// side of the equator's crease. The march back, stepping off the crease onto the second face,
// landed within a step of the forward end on the vertex yet short of it and was taken for
// closing there: the lens's arc over that face was cut with a chord and the lens came back out
// and back over the first face (92 % of it twice). Each branch once, for radii 0.2 and 0.4, at
// sizes 1 and 1e-6 moved 1e4 sizes out, in either order, with the same total length.
TEST_F(FacetIntersections, ALensThroughAVertexClosesOverTheFaceBeyondTheCrease) {
  const double axis[3] = {0.6, 0.0, 0.8}, vertex[3] = {0.0, -0.7, 0.0};
  // Square to the axis, 2.3 radians round it from (0.8, 0, -0.6).
  const double c = std::cos(2.3), n[3] = {0.8 * c, std::sin(2.3), -0.6 * c};
  const double seam[3] = {-n[0], -n[1], -n[2]};
  for (const double radius : {0.2, 0.4})
    for (const double scale : {1.0, 1e-6}) {
      shapes::Place at, cp;
      at.scale = cp.scale = scale;
      for (int q = 0; q < 3; ++q) {
        at.shift[q] = scale == 1.0 ? 0.0 : 1e4 * scale * (q + 1);
        cp.shift[q] = at.shift[q] + scale * (vertex[q] + radius * n[q]);
      }
      BsplineKeeper keep;
      Bspline* net = keep(TorusNet(4, 0.0, at));
      Bspline* cylinder = keep(shapes::Cylinder(axis, seam, radius, -3.5, 3.5, cp));
      ExpectEachBranchOnce(net, cylinder, scale);
    }
}

// The cut at size 1e-6, moved 1e4 sizes out: each branch once (ExpectEachBranchOnce).
void ExpectCutOnce(const Cut& c) {
  const double size = 1e-6;
  shapes::Place net, at;
  net.scale = at.scale = size;
  for (int q = 0; q < 3; ++q) {
    net.shift[q] = 1e4 * size * (q + 1) * (q == 1 ? -1 : 1);
    at.shift[q] = net.shift[q] + size * c.centre[q];
  }
  BsplineKeeper keep;
  Bspline* torus = keep(TorusNet(12, 8, c.start, net));
  Bspline* cylinder = keep(shapes::Cylinder(c.axis, c.seam, c.radius, -3.5, 3.5, at));
  ExpectEachBranchOnce(torus, cylinder, size);
}

// The branch bulges over a face between two crossings of one crease, its seed beside the crease.
// The first step, refined over both creases ahead, was ended on the crossing of the near crease
// behind the seed: the march went out and back, and the march back from the seed, refused for
// turning back onto that node, left the stretch beyond it out.
TEST_F(FacetIntersections, AStepEndsOnACreaseAheadOfItsStart) {
  ExpectCutOnce({{-0.48265966342118172, -0.0072413267454464903, 0.875778061207928},
                 {-0.51927126012439462, -0.9421409711380746, -0.29397133092500638},
                 {0.87580799796881936, -0.0039907106783517148, 0.48264316520813816}, 0.14170297637126195,
                 0.24062697204477346});
}

// A loop seeded a round-off beside a crease, its first step a hop onto it, comes back onto the
// crease a little farther from the hop's ends than the hop is long (the branch crosses the crease
// at a shallow angle, so its crossing is loose along it). Not closed there, the march stepped on
// over its first chord and the loop came back with that stretch twice.
TEST_F(FacetIntersections, ALoopComingBackOntoItsCreaseHopCloses) {
  ExpectCutOnce({{-0.14421407816113962, 0.81593233639364915, -0.55987205867709955},
                 {-0.078132169794836046, -0.06332037660348655, -0.072154670617372907},
                 {0.98954651212569733, 0.11891197461967112, -0.081594378678423563}, 0.405838781942369,
                 0.07214514776204925});
}

// The cut at size 1 (at the origin) or 1e-6 (moved 1e4 sizes out, as in ExpectCutOnce): the net
// and the cylinder, placed.
struct PlacedCut {
  shapes::Place net, at;
  PlacedCut(const Cut& c, double size) {
    net.scale = at.scale = size;
    for (int q = 0; q < 3; ++q) {
      net.shift[q] = size == 1.0 ? 0.0 : 1e4 * size * (q + 1) * (q == 1 ? -1 : 1);
      at.shift[q] = net.shift[q] + size * c.centre[q];
    }
  }
};

// A loop seeded a little beside a crease of a 12 x 8 net (not on it), its first step a whole step
// over the face the seed lies on. Coming round, the march landed on the crease a few point
// tolerances beside the seed, behind it in the parameters and bent from the first chord, and was
// not closed there: it stepped on over its first chord, was stopped as going round another
// branch's loop, and the march back from the seed went round the loop again (the torus first:
// the loop twice as long). Both orders give the loop's length (size 1e-6, moved 1e4 sizes out).
TEST_F(FacetIntersections, ALoopLandingOnACreaseBesideItsSeedCloses) {
  const Cut c = {{0.14182261852429306, -0.9670447153199736, -0.21144943472760569},
                 {1.2014702254152883, 0.48017278305470135, -0.33105617728570802},
                 {0.52898546195406648, -0.10651157156201457, 0.84192022553483803}, 0.18320202838433031,
                 3.2799843650128366};
  const PlacedCut pc(c, 1e-6);
  BsplineKeeper keep;
  Bspline* torus = keep(TorusNet(12, 8, c.start, pc.net));
  Bspline* cylinder = keep(shapes::Cylinder(c.axis, c.seam, c.radius, -3.5, 3.5, pc.at));
  double total[2] = {0.0, 0.0};
  for (int first = 0; first < 2; ++first)
    for (const auto& b : first ? Branches(cylinder, torus, 400) : Branches(torus, cylinder, 400))
      for (size_t i = 1; i < b.size(); ++i) total[first] += Dist(b[i], b[i - 1]);
  EXPECT_GT(total[1], 0.0);
  EXPECT_NEAR(total[0], total[1], 1e-3 * total[1]);
}

// The points of the exact cut of a 4 x 4 torus net (TorusNet(4, 0.0, at)) by the cylinder of the
// given radius about the unit axis through C (unit size, before at) that lie farther than 1e-5 of
// at's scale from every branch bs (sampled on either surface), with the count of cut points in
// *cuts. Each facet's cut is known exactly: along lines of a bilinear face the cylinder's
// quadratic is solved. Points beside the face's sides are left out: the branch bends there,
// between two samples.
int CutPointsMissed(const std::vector<std::vector<P3>>& bs, const double axis[3], const P3& C, double radius,
                    const shapes::Place& at, int* cuts) {
  const auto corner = [](int i, int j) {
    const double a = M_PI / 2 * i, b = M_PI / 2 * j, r = 1 + 0.3 * std::cos(b);
    return P3{r * std::cos(a), r * std::sin(a), 0.3 * std::sin(b)};
  };
  int missing = 0;
  *cuts = 0;
  for (int fi = 0; fi < 4; ++fi)
    for (int fj = 0; fj < 4; ++fj)
      for (int dir = 0; dir < 2; ++dir)
        for (int k = 1; k < 20; ++k) {
          // The line of the face at k / 20 across: A + t D, t in [0, 1].
          const double w = k / 20.0;
          const P3 P00 = corner(fi, fj), P10 = corner(fi + 1, fj), P01 = corner(fi, fj + 1),
                   P11 = corner(fi + 1, fj + 1);
          double A[3], W[3], D[3], wa = 0.0, da = 0.0;
          for (int q = 0; q < 3; ++q) {
            const double s = dir ? (1 - w) * P00[q] + w * P01[q] : (1 - w) * P00[q] + w * P10[q];
            const double e = dir ? (1 - w) * P10[q] + w * P11[q] : (1 - w) * P01[q] + w * P11[q];
            A[q] = s, D[q] = e - s, W[q] = s - C[q];
            wa += W[q] * axis[q], da += D[q] * axis[q];
          }
          double qa = 0.0, qb = 0.0, qc = -radius * radius;
          for (int q = 0; q < 3; ++q) {
            const double pw = W[q] - wa * axis[q], pd = D[q] - da * axis[q];
            qa += pd * pd, qb += 2.0 * pw * pd, qc += pw * pw;
          }
          const double disc = qb * qb - 4.0 * qa * qc;
          if (qa < 1e-30 || disc < 0.0) continue;
          for (const double t : {(-qb - std::sqrt(disc)) / (2 * qa), (-qb + std::sqrt(disc)) / (2 * qa)}) {
            if (t < 0.002 || t > 0.998) continue;
            const double X[3] = {A[0] + t * D[0], A[1] + t * D[1], A[2] + t * D[2]};
            P3 Y;
            at.Map(X, Y.data());
            double d = HUGE_VAL;
            for (const auto& b : bs)
              for (size_t i = 0; i + 1 < b.size(); ++i) d = std::fmin(d, FromChord(b, i, Y));
            ++*cuts;
            missing += d > 1e-5 * at.scale;
          }
        }
  return missing;
}

// A cylinder of the given radius about the unit axis through the vertex of a 4 x 4 torus net, its
// seam through the vertex (n, square to the axis, points from the vertex to the axis): every point
// of the exact cut lies on a branch, in either order, at sizes 1 and 1e-6 moved 1e4 sizes out.
// With firstFrom 1 only the cylinder is passed first; with moved, the unit-sized pair is moved
// 1e4 sizes away too.
void ExpectEveryCutPointOnABranch(const double axis[3], const double vertex[3], const double n[3], double radius,
                                  int firstFrom = 0, bool moved = false) {
  const double seam[3] = {-n[0], -n[1], -n[2]};
  for (const double scale : {1.0, 1e-6}) {
    shapes::Place at, cp;
    at.scale = cp.scale = scale;
    P3 C;
    for (int q = 0; q < 3; ++q) {
      at.shift[q] = scale == 1.0 && !moved ? 0.0 : 1e4 * scale * (q + 1);
      C[q] = vertex[q] + radius * n[q];
      cp.shift[q] = at.shift[q] + scale * C[q];
    }
    BsplineKeeper keep;
    Bspline* net = keep(TorusNet(4, 0.0, at));
    Bspline* cylinder = keep(shapes::Cylinder(axis, seam, radius, -3.5, 3.5, cp));
    for (int first = firstFrom; first < 2; ++first) {
      const auto bs = first ? Branches(cylinder, net, 2000) : Branches(net, cylinder, 2000);
      int cuts = 0;
      const int missing = CutPointsMissed(bs, axis, C, radius, at, &cuts);
      EXPECT_GT(cuts, 0);
      EXPECT_EQ(missing, 0) << scale << " " << first << " of " << cuts;
    }
  }
}

// A cylinder (radius 0.2, axis along x) through the vertex (1, 0, -0.3) of a 4 x 4 torus
// net, where the seam of the ring meets the bottom crease, cuts the face beyond the crease in an
// arc from the vertex to the seam; the branch passes the vertex at a wide angle. Every seed on
// that arc marched into the vertex beside the stretch leaving it over the face before the crease,
// traced already, within two chord heights of its last chord, and was dropped as a duplicate:
// the arc went missing in either order.
TEST_F(FacetIntersections, AnArcFromAVertexOverTheFaceBeyondTheCreaseIsTraced) {
  const double axis[3] = {1.0, 0.0, 0.0}, vertex[3] = {1.0, 0.0, -0.3};
  // Square to the axis, 2.3 radians round it from (0, 0, -1).
  const double n[3] = {0.0, std::sin(2.3), -std::cos(2.3)};
  ExpectEveryCutPointOnABranch(axis, vertex, n, 0.2);
}

// A cylinder of radius 0.4 along z through the vertex (-1, 0, -0.3) of a 4 x 4 torus net (and so
// through (-1, 0, 0.3) too) cuts the ring's outer equator, the seam of the net's tube, twice a
// sixth of the radius apart; one branch crosses at each. The arcs from the second crossing
// up and down to the two vertices were marched from their seeds onto the seam beside the end of
// the branch through the first crossing, within two chord heights of it, and dropped as retracing
// that branch: both went missing with the net first.
TEST_F(FacetIntersections, TwoCrossingsOfTheNetsSeamCloseTogetherAreBothTraced) {
  const double axis[3] = {0.0, 0.0, 1.0}, vertex[3] = {-1.0, 0.0, -0.3};
  const double n[3] = {std::cos(0.3), std::sin(0.3), 0.0};
  ExpectEveryCutPointOnABranch(axis, vertex, n, 0.4);
}

// A cylinder of radius 0.4 along x through the vertex (-1, 0, -0.3) of a 4 x 4 torus net, its seam
// along the line through the vertex, runs through (1, 0, -0.3) too, where the ring's seam meets
// the bottom crease: the cylinder's seam and the net's meet there, and the cylinder cuts a lens
// from that vertex over the faces either side of the crease. Every seed of the lens fell on the
// vertex; the march from it and from the far side of both seams at once left the domain at
// once, and the lens went missing (in either order, half of the cut). The branch leaves the
// vertex across one seam only.
TEST_F(FacetIntersections, ALensFromAVertexWhereBothSeamsMeetIsTraced) {
  const double axis[3] = {1.0, 0.0, 0.0}, vertex[3] = {-1.0, 0.0, -0.3};
  // Square to the axis, 0.3 radians round it from (0, 0, -1).
  const double n[3] = {0.0, std::sin(0.3), -std::cos(0.3)};
  ExpectEveryCutPointOnABranch(axis, vertex, n, 0.4);
}

// A cylinder of radius 1 along z through the vertex (0, -0.7, 0) of a 4 x 4 torus net, on the inner
// equator, cuts four arcs from that vertex: up and down over the faces beside it, and a thin lens
// either side of the equator. With the cylinder first, the march from the vertex took one step
// onto the arc down, which arrives at the vertex, and turned back: its trace stops a round-off
// from the vertex. Every seed on the arc down marched up it onto the vertex, that trace's end,
// and was dropped as retracing it: the arc down, a quarter of the cut, went missing.
TEST_F(FacetIntersections, AnArcArrivingAtAVertexWhereAStubEndsIsTraced) {
  const double axis[3] = {0.0, 0.0, 1.0}, vertex[3] = {0.0, -0.7, 0.0};
  const double n[3] = {std::cos(2.3), std::sin(2.3), 0.0};
  ExpectEveryCutPointOnABranch(axis, vertex, n, 1.0, 1, true);
}

// A cylinder (radius 0.2, axis along x) laid on the top crease ring of a 4 x 4 torus net touches
// it only at the convex vertices (1, 0, 0.3) and (-1, 0, 0.3): every face round each lies below
// it, but along the creases the gap grows only quadratically, so the surfaces stay within the
// point tolerance over stretches of the creases about 1e-3 of the size long. These came back as
// branches and spurs 4e-5 to 2e-3 long, differing with the order. In either order, at size 1 and
// 1e-6 moved 1e4 sizes out, the answer is the two vertices, each a branch of one point.
TEST_F(FacetIntersections, ACylinderOnlyTouchingConvexVerticesGivesTheirPoints) {
  const double axis[3] = {1.0, 0.0, 0.0}, down[3] = {0.0, 0.0, -1.0}, centre[3] = {0.0, 0.0, 0.5};
  const P3 vertices[2] = {{1.0, 0.0, 0.3}, {-1.0, 0.0, 0.3}};
  for (const double scale : {1.0, 1e-6}) {
    shapes::Place at, cp;
    at.scale = cp.scale = scale;
    for (int q = 0; q < 3; ++q) {
      at.shift[q] = scale == 1.0 ? 0.0 : 1e4 * scale * (q + 1);
      cp.shift[q] = at.shift[q] + scale * centre[q];
    }
    BsplineKeeper keep;
    Bspline* net = keep(TorusNet(4, 0.0, at));
    Bspline* cylinder = keep(shapes::Cylinder(axis, down, 0.2, -3.5, 3.5, cp));
    for (int first = 0; first < 2; ++first) {
      const auto bs = first ? Branches(cylinder, net, 50) : Branches(net, cylinder, 50);
      ASSERT_EQ(bs.size(), 2u) << scale << " " << first;
      bool met[2] = {false, false};
      for (const auto& b : bs) {
        double d[2] = {0.0, 0.0};
        for (int k = 0; k < 2; ++k) {
          P3 V;
          at.Map(vertices[k].data(), V.data());
          for (const P3& X : b) d[k] = std::fmax(d[k], Dist(X, V));
          met[k] = met[k] || d[k] <= 1e-6 * scale;
        }
        EXPECT_LE(std::fmin(d[0], d[1]), 1e-6 * scale) << scale << " " << first;
      }
      EXPECT_TRUE(met[0] && met[1]) << scale << " " << first;
    }
  }
}

}  // namespace
