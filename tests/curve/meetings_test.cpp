// Meetings of curves against closed forms and invariances: a line through a circle and two
// circles meet where the textbook says; scaled by 1e-6 .. 1e6 and translated, the same curves
// give the same meetings with the same parameters; 3D curves in z = 0 and the same curves in a
// parameter plane give the same meetings; the closest-pair and crossing refiners reach a crossing
// from starts a few percent of the curves' size away. Every transversal crossing is found: a
// graph against a segment crossing it eight times, and random graphs against lines and random
// cubics against graphs, placed in space at scales 1e-6 .. 1e6, against a dense sign-change
// count of the signed vertical distance to the graph.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <random>
#include <vector>

#include "bspline/creverse.h"
#include "bspline/degelev.h"
#include "bspline/nubutil.h"
#include "bspline/refines.h"
#include "bspline/refines2.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "bspline/subobj.h"
#include "curve/cintsct.h"
#include "curve/crvintr.h"
#include "curve/mkline3.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "quadric/qcircle.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class CurveMeetingsTest : public KernelTest {};

struct Meeting {
  double t1, t2;
};

// All meetings CrvIntersect reports, in its order; the list is freed.
std::vector<Meeting> Meetings(Bspline* a, Bspline* b) {
  CrvIntrList* list = nullptr;
  EXPECT_EQ(CrvIntersect(a, b, &list, 0.0, 0), 0);
  std::vector<Meeting> out;
  if (!list) return out;
  CrvIntrNode* n = list->first;
  for (int i = 0; i < list->count; ++i, n = n->next) out.push_back({n->t1, n->t2});
  FreeCrvIntrList(list);
  return out;
}

// The meetings of a and b asked in either order (b first when swapped), t1 on a, in order along a.
std::vector<Meeting> MeetingsAlong(Bspline* a, Bspline* b, bool swapped) {
  std::vector<Meeting> m = swapped ? Meetings(b, a) : Meetings(a, b);
  if (swapped)
    for (Meeting& x : m) std::swap(x.t1, x.t2);
  std::sort(m.begin(), m.end(), [](const Meeting& x, const Meeting& y) { return x.t1 < y.t1; });
  return m;
}

// The curve's control points mapped by p -> scale (p + shift), weights kept.
void Move(Bspline* c, double scale, const double shift[3]) {
  for (int i = 0; i < c->interiorU + c->degreeU + 1; ++i) {
    c->X[0][i] = scale * (c->X[0][i] + shift[0]);
    c->Y[0][i] = scale * (c->Y[0][i] + shift[1]);
    if (c->dimension == 3) c->Z[0][i] = scale * (c->Z[0][i] + shift[2]);
  }
}

// A cubic graph over x in [0, 1] with x exactly t (control points at the Greville abscissae).
std::vector<double> GraphPoints(const std::vector<double>& y, int dim) {
  const int n = int(y.size());
  const std::vector<double> k = ClampedKnots(3, n);
  std::vector<double> pts;
  for (int i = 0; i < n; ++i) {
    pts.insert(pts.end(), {(k[i + 1] + k[i + 2] + k[i + 3]) / 3.0, y[i]});
    if (dim == 3) pts.push_back(0.0);
  }
  return pts;
}

// Crossings of two graphs over [0, 1] by sign changes of their difference on a fine grid; -1
// when one is nearly tangent or two lie within 0.04.
int GraphCrossings(const Bspline* a, const Bspline* b) {
  int count = 0;
  double last = -1.0, prev = 0.0;
  for (int i = 0; i <= 4000; ++i) {
    double p[3], q[3];
    RefEvalCurve(a, i / 4000.0, p);
    RefEvalCurve(b, i / 4000.0, q);
    const double d = p[1] - q[1];
    if (i > 0 && (d > 0.0) != (prev > 0.0)) {
      if (i / 4000.0 - last < 0.04 || std::fabs(d - prev) < 2.5e-5) return -1;
      last = i / 4000.0;
      ++count;
    }
    prev = d;
  }
  return count;
}

double Gap(const Bspline* a, const Bspline* b, const Meeting& m) {
  double p[3], q[3];
  RefEvalCurve(a, m.t1, p);
  RefEvalCurve(b, m.t2, q);
  return std::hypot(p[0] - q[0], p[1] - q[1], p[2] - q[2]);
}

// A line through a circle meets it at the two points the quadratic |A + s (B - A) - c| = r
// gives, at s on the line (whose parameter is proportional to length); two circles meet at the
// points of the radical line. At every scale and shift the parameters are those at unit scale.
TEST_F(CurveMeetingsTest, LinesAndCirclesMeetWhereTheClosedFormsSay) {
  const double centre[3] = {0.3, -0.2, 0.0}, r = 0.8;
  const double A0[3] = {-1.0, -0.9, 0.0}, B0[3] = {1.5, 0.6, 0.0};
  // The line's meetings: |A - c + s (B - A)|^2 = r^2.
  double d[3], e[3];
  for (int k = 0; k < 3; ++k) {
    d[k] = B0[k] - A0[k];
    e[k] = A0[k] - centre[k];
  }
  const double qa = d[0] * d[0] + d[1] * d[1], qb = 2 * (d[0] * e[0] + d[1] * e[1]),
               qc = e[0] * e[0] + e[1] * e[1] - r * r;
  const double s0 = (-qb - std::sqrt(qb * qb - 4 * qa * qc)) / (2 * qa), s1 = (-qb + std::sqrt(qb * qb - 4 * qa * qc)) / (2 * qa);
  // Second circle of radius 0.6 about c2: the meetings lie on the radical line.
  const double c2[3] = {1.0, 0.2, 0.0}, r2 = 0.6;
  const double dc = std::hypot(c2[0] - centre[0], c2[1] - centre[1]);
  const double along = (dc * dc + r * r - r2 * r2) / (2 * dc), off = std::sqrt(r * r - along * along);

  std::vector<Meeting> unitLine, unitCircles;
  for (const double scale : {1.0, 1e-6, 1e-3, 1e3, 1e6}) {
    for (const double shift : {0.0, 7.0}) {
      const double sh[3] = {shift, -2.0 * shift, shift};
      double c[3], A[3], B[3], C2[3];
      for (int k = 0; k < 3; ++k) {
        c[k] = scale * (centre[k] + sh[k]);
        A[k] = scale * (A0[k] + sh[k]);
        B[k] = scale * (B0[k] + sh[k]);
        C2[k] = scale * (c2[k] + sh[k]);
      }
      Bspline* circle = NewCircleBspline(c, scale * r);
      Bspline* other = NewCircleBspline(C2, scale * r2);
      Bspline* line = MkLine3(A, B, nullptr);
      const std::vector<Meeting> ml = Meetings(line, circle), mc = Meetings(circle, other);
      ASSERT_EQ(ml.size(), 2u) << scale << " " << shift;
      ASSERT_EQ(mc.size(), 2u) << scale << " " << shift;
      for (const Meeting& m : ml) {
        EXPECT_TRUE(std::fabs(m.t1 - s0) < 1e-12 || std::fabs(m.t1 - s1) < 1e-12) << m.t1;
        EXPECT_LT(Gap(line, circle, m), 1e-12 * scale);
      }
      for (const Meeting& m : mc) {
        double p[3];
        RefEvalCurve(circle, m.t1, p);
        // Distance along the centre line and off it, in the circle's own frame.
        const double ux = (C2[0] - c[0]) / (scale * dc), uy = (C2[1] - c[1]) / (scale * dc);
        const double x = (p[0] - c[0]) * ux + (p[1] - c[1]) * uy, y = -(p[0] - c[0]) * uy + (p[1] - c[1]) * ux;
        EXPECT_NEAR(x / scale, along, 1e-12);
        EXPECT_NEAR(std::fabs(y) / scale, off, 1e-12);
        EXPECT_LT(Gap(circle, other, m), 1e-12 * scale);
      }
      if (scale == 1.0 && shift == 0.0) {
        unitLine = ml;
        unitCircles = mc;
      }
      for (size_t i = 0; i < 2; ++i) {
        EXPECT_NEAR(ml[i].t1, unitLine[i].t1, 1e-12);
        EXPECT_NEAR(ml[i].t2, unitLine[i].t2, 1e-12);
        EXPECT_NEAR(mc[i].t1, unitCircles[i].t1, 1e-12);
        EXPECT_NEAR(mc[i].t2, unitCircles[i].t2, 1e-12);
      }
      for (Bspline* x : {circle, other, line}) FreeBspline(x);
    }
  }
}

// Two graphs crossing twice within one pair of Greville intervals whose neighbours' exact boxes
// stay apart (a search that stops at one meeting per pair lists 3 of 4 and 5 of 6): every
// crossing listed, in space and in a parameter plane.
TEST_F(CurveMeetingsTest, TwoMeetingsWithinOnePairOfPieces) {
  Bspline* plane = BuildFunctionPatch([](double, double) { return 0.0; });
  const std::vector<double> ys[2][2] = {
      {{0.39189809676742487, 0.55737382282452941, 0.49195151521290253, 0.25784868961277019, 0.57559545415987146,
        0.3065586735087939, 0.71254802689612928, 0.61676123446888265, 0.56703835918515688, 0.55084470526295393,
        0.41133957102618313},
       {0.53106583570376675, 0.49002679595982479, 0.5209841626981665, 0.47842086312403509, 0.50028561170126418,
        0.50802451864344433, 0.52404296459787947, 0.57142202670456632, 0.49267747003490886, 0.50285823815553476}},
      {{0.74529295583310784, 0.29506275701026091, 0.59089951828119514, 0.55177869259861767, 0.2323941732705653,
        0.7428299939119507, 0.56435387299210604, 0.29085379675124579, 0.46490393894631132},
       {0.42429062053577371, 0.54378371379536705, 0.49625545976850943, 0.55546477399576921, 0.51419088842612548,
        0.55352316114546884, 0.50404050105809739, 0.46069696700903706, 0.51432506019545987, 0.54543336645684937,
        0.42527447463902712}}};
  for (const auto& y : ys) {
    BsplineKeeper keep;
    Bspline* a = keep(BuildCurve(3, 3, GraphPoints(y[0], 3)));
    Bspline* b = keep(BuildCurve(3, 3, GraphPoints(y[1], 3)));
    const int k = GraphCrossings(a, b);
    ASSERT_GT(k, 3);
    EXPECT_EQ(int(Meetings(a, b).size()), k);
    EXPECT_EQ(int(Meetings(BuildCurveOnSurface(plane, 3, GraphPoints(y[0], 2)), BuildCurveOnSurface(plane, 3, GraphPoints(y[1], 2))).size()), k);
  }
  FreeBspline(plane);
}

// Seeded pairs of cubic graphs crossing transversally: as many meetings as crossings, each a
// true meeting; the same parameters when scaled and shifted; and the same meetings found for
// the curves in a parameter plane as for the curves in z = 0 in space.
TEST_F(CurveMeetingsTest, RandomPairsAgreeAcrossScalesAndKinds) {
  std::mt19937 rng(47);
  std::uniform_int_distribution<int> N(8, 14);
  std::uniform_real_distribution<double> Wavy(0.2, 0.8), Gentle(0.4, 0.6);
  Bspline* plane = BuildFunctionPatch([](double, double) { return 0.0; },
                                      {.x0 = -1, .x1 = 2, .y0 = -1, .y1 = 2, .umin = -1, .umax = 2, .vmin = -1, .vmax = 2});
  int pairs = 0, crossings = 0;
  while (pairs < 60) {
    std::vector<double> ya(N(rng)), yb(N(rng));
    for (double& y : ya) y = Wavy(rng);
    for (double& y : yb) y = Gentle(rng);
    BsplineKeeper keep;
    Bspline* a = keep(BuildCurve(3, 3, GraphPoints(ya, 3)));
    Bspline* b = keep(BuildCurve(3, 3, GraphPoints(yb, 3)));
    const int k = GraphCrossings(a, b);
    if (k < 1) continue;
    ++pairs;
    crossings += k;
    const std::vector<Meeting> unit = Meetings(a, b);
    ASSERT_EQ(int(unit.size()), k) << pairs;
    for (const Meeting& m : unit) EXPECT_LT(Gap(a, b, m), 1e-12) << pairs;

    const double scale = std::pow(10.0, double(pairs % 13) - 6.0), shift[3] = {0.25, -3.0, 1.5};
    Move(a, scale, shift);
    Move(b, scale, shift);
    const std::vector<Meeting> moved = Meetings(a, b);
    ASSERT_EQ(moved.size(), unit.size()) << scale;
    for (size_t i = 0; i < unit.size(); ++i) {
      EXPECT_NEAR(moved[i].t1, unit[i].t1, 1e-12) << scale;
      EXPECT_NEAR(moved[i].t2, unit[i].t2, 1e-12) << scale;
    }

    Bspline* a2 = BuildCurveOnSurface(plane, 3, GraphPoints(ya, 2));
    Bspline* b2 = BuildCurveOnSurface(plane, 3, GraphPoints(yb, 2));
    // The same meetings; the order found may differ where a refinement wanders to another one.
    std::vector<Meeting> flat = Meetings(a2, b2), sorted = unit;
    ASSERT_EQ(flat.size(), unit.size()) << pairs;
    for (auto* v : {&flat, &sorted}) std::sort(v->begin(), v->end(), [](const Meeting& x, const Meeting& y) { return x.t1 < y.t1; });
    for (size_t i = 0; i < unit.size(); ++i) {
      EXPECT_NEAR(flat[i].t1, sorted[i].t1, 1e-12);
      EXPECT_NEAR(flat[i].t2, sorted[i].t2, 1e-12);
    }
  }
  EXPECT_GT(crossings, 2 * pairs);
  FreeBspline(plane);
}

// Single crossings reached from starts up to 5% of the parameter range away, by the space
// refiner (also through Intersect2Curve3, which makes its own start) and the parameter-plane
// one; both land on the crossing itself, not beside it.
TEST_F(CurveMeetingsTest, RefinersReachACrossingFromPerturbedStarts) {
  std::mt19937 rng(585);
  std::uniform_real_distribution<double> Y(0.1, 0.9), Off(-0.05, 0.05), Scale(-6.0, 6.0);
  int tried = 0;
  while (tried < 80) {
    // A graph and a steep line through a point of it: one crossing at t0 on the graph.
    std::vector<double> ya(10);
    for (double& y : ya) y = Y(rng);
    BsplineKeeper keep;
    Bspline* a = keep(BuildCurve(3, 3, GraphPoints(ya, 3)));
    const double t0 = 0.15 + 0.7 * (Y(rng) - 0.1) / 0.8;
    double P[3];
    RefEvalCurve(a, t0, P);
    const double A[3] = {P[0] - 0.1, P[1] - 0.6, 0.0}, B[3] = {P[0] + 0.1, P[1] + 0.6, 0.0};
    Bspline* line = keep(MkLine3(A, B, nullptr));
    // Only pairs where the line meets the graph once (so the crossing is the closest pair).
    int hits = 0;
    double prev = 0.0;
    for (int i = 0; i <= 2000; ++i) {
      double Q[3];
      RefEvalCurve(line, i / 2000.0, Q);
      double G[3];
      RefEvalCurve(a, std::clamp(Q[0], 0.0, 1.0), G);
      const double dd = Q[1] - G[1];
      if (i > 0 && (dd > 0) != (prev > 0)) ++hits;
      prev = dd;
    }
    if (hits != 1) continue;
    ++tried;
    const double scale = std::pow(10.0, Scale(rng)), shift[3] = {1.0, 2.0, -3.0};
    Move(a, scale, shift);
    Move(line, scale, shift);
    double t1 = t0 + Off(rng), t2 = 0.5 + Off(rng), dsq = -1.0;
    ASSERT_EQ(RefineCurve3sClosestPoint(a, line, &t1, &t2, &dsq, 21), 0);
    EXPECT_NEAR(t1, t0, 1e-12) << tried;
    EXPECT_NEAR(t2, 0.5, 1e-12) << tried;
    EXPECT_LT(std::sqrt(dsq), 1e-13 * scale);
    t1 = t2 = -5.0;
    ASSERT_EQ(Intersect2Curve3(a, line, &t1, &t2), 0);
    EXPECT_NEAR(t1, t0, 1e-12) << tried;
    EXPECT_NEAR(t2, 0.5, 1e-12) << tried;

    // A gently curved owner over a domain holding both curves: the gap is measured on it.
    Bspline* flat = keep(BuildFunctionPatch([](double x, double y) { return 0.2 * x * y; },
                                            {.x0 = -1, .x1 = 2, .y0 = -1, .y1 = 2, .umin = -1, .umax = 2, .vmin = -1, .vmax = 2}));
    Bspline* a2 = BuildCurveOnSurface(flat, 3, GraphPoints(ya, 2));
    Bspline* l2 = BuildCurveOnSurface(flat, 3, {A[0], A[1], (2 * A[0] + B[0]) / 3, (2 * A[1] + B[1]) / 3,
                                                (A[0] + 2 * B[0]) / 3, (A[1] + 2 * B[1]) / 3, B[0], B[1]});
    t1 = t0 + Off(rng);
    t2 = 0.5 + Off(rng);
    ASSERT_EQ(RefineCurve2IntersectionPoint(a2, l2, &t1, &t2, &dsq, 30), 0);
    EXPECT_NEAR(t1, t0, 1e-12) << tried;
    EXPECT_NEAR(t2, 0.5, 1e-12) << tried;
    t1 = t0 + Off(rng);
    t2 = 0.5 + Off(rng);
    ASSERT_EQ(RefineCurve2Intersect(a2, l2, &t1, &t2, &dsq, 10), 0);
    EXPECT_NEAR(t1, t0, 1e-12) << tried;
    EXPECT_NEAR(t2, 0.5, 1e-12) << tried;
  }
}

// A steep line crossing a graph once where the control polygons' nearest points lie elsewhere:
// the refinement from there stops at a gap of 0.019 beside the crossing, and Intersect2Curve3
// still answers with the crossing.
TEST_F(CurveMeetingsTest, ClosestApproachIsTheCrossingWhenTheEstimateLiesAway) {
  BsplineKeeper keep;
  Bspline* graph = keep(BuildCurve(3, 3, GraphPoints({0.56736016943915635, 0.27408268823931198, 0.55748917292253153,
                                                      0.81381001331145997, 0.8940841951248506, 0.107379110862435,
                                                      0.35973275118676185, 0.74521858338200153, 0.82360216821939569,
                                                      0.48088614678969377},
                                                     3)));
  const double A[3] = {0.25242317385095558, 0.73819944637417945, 0.02}, B[3] = {0.49186814821551383, 0.91893711331595473, -0.02};
  Bspline* line = keep(MkLine3(A, B, nullptr));
  double t1 = -1.0, t2 = -1.0;
  ASSERT_EQ(Intersect2Curve3(graph, line, &t1, &t2), 0);
  EXPECT_NEAR(t1, 0.37214566103323471, 1e-12);
  EXPECT_NEAR(t2, 0.5, 1e-12);
}

// Planar points (x, y interleaved) in space: turned by az about z and by ax about x, shifted,
// scaled.
std::vector<double> Place(const std::vector<double>& xy, double az, double ax, const double shift[3],
                          double scale) {
  std::vector<double> out;
  for (size_t i = 0; i + 1 < xy.size(); i += 2) {
    const double x = std::cos(az) * xy[i] - std::sin(az) * xy[i + 1], y = std::sin(az) * xy[i] + std::cos(az) * xy[i + 1];
    out.insert(out.end(), {scale * (x + shift[0]), scale * (std::cos(ax) * y + shift[1]), scale * (std::sin(ax) * y + shift[2])});
  }
  return out;
}

// The crossings of curve a (inside the strip 0 <= x <= 1) with the graph g (x = t), counted as
// the sign changes of a(t)_y - g(a(t)_x) at `samples` + 1 parameters; brackets[i] is the sample before
// the i-th change. False when the count cannot be trusted at that density, or two crossings
// would count once (within 0.01 in a's parameter), or the function comes within `clear` of zero
// away from a change (a near touching).
bool SignChanges(Bspline* a, Bspline* g, int samples, double clear, std::vector<int>* brackets) {
  std::vector<double> t(samples + 1), x(samples + 1), y(samples + 1), z(samples + 1);
  for (int i = 0; i <= samples; ++i) t[i] = double(i) / samples;
  EvalNpntsOnObj(a, 0, 0, t.data(), nullptr, samples + 1, x.data(), y.data(), z.data());
  std::vector<double> gx(samples + 1), gy(samples + 1), gz(samples + 1);
  EvalNpntsOnObj(g, 0, 0, x.data(), nullptr, samples + 1, gx.data(), gy.data(), gz.data());
  std::vector<double> f(samples + 1);
  for (int i = 0; i <= samples; ++i) f[i] = y[i] - gy[i];
  brackets->clear();
  for (int i = 0; i < samples; ++i)
    if ((f[i] > 0.0) != (f[i + 1] > 0.0)) {
      if (!brackets->empty() && i - brackets->back() <= 0.01 * samples + 1) return false;
      brackets->push_back(i);
    }
  for (int i = 0; i <= samples; ++i) {
    bool nearChange = false;
    for (int b : *brackets) nearChange = nearChange || (i >= b - 1 && i <= b + 2);
    if (!nearChange && std::fabs(f[i]) < clear) return false;
  }
  return true;
}

// Builds the pair placed in space and checks the crossings against the brackets: as many, one
// in each bracket, and each a true meeting within 1e-7 of the pair's size. The number of faults.
int CheckPlacedPair(const std::vector<double>& axy, int aDegree, const std::vector<double>& gxy,
                    const double place[6], const std::vector<int>& brackets, int samples) {
  Bspline* a = BuildCurve(aDegree, 3, Place(axy, place[0], place[1], place + 2, place[5]));
  Bspline* g = BuildCurve(3, 3, Place(gxy, place[0], place[1], place + 2, place[5]));
  const std::vector<Meeting> found = Meetings(a, g);  // in rising order of t1
  int faults = found.size() == brackets.size() ? 0 : 1;
  for (size_t i = 0; i < found.size() && !faults; ++i) {
    const double lo = double(brackets[i]) / samples, hi = double(brackets[i] + 1) / samples;
    if (found[i].t1 < lo - 1e-9 || found[i].t1 > hi + 1e-9) ++faults;
    if (Gap(a, g, found[i]) > 1e-7 * 2.0 * place[5]) ++faults;
  }
  FreeBspline(a);
  FreeBspline(g);
  return faults;
}

// The graph of the report: 16 ordinates at x = i / 15 (not the Greville abscissae) against the
// segment y = 0.5, crossed eight times; the last three crossings lie within 0.065 of each other.
TEST_F(CurveMeetingsTest, ReportedGraphMeetsItsSegmentEightTimesAtEveryScale) {
  const double ys[16] = {0.82049716393780525, 0.23815626009315854, 0.78449675607917546, 0.58722847862445116,
                         0.5780449646893383,  0.21317133833022595, 0.27960474155401338, 0.65873619150486407,
                         0.82254282110426247, 0.60637047969452884, 0.10412732004735302, 0.55788519348906085,
                         0.38919707329254472, 0.58330554980475469, 0.4134129563651685,  0.74955820023963859};
  const double expected[8] = {0.0230, 0.0530, 0.2379, 0.4301, 0.6274, 0.8988, 0.9353, 0.9621};
  for (double scale = 1e-6; scale <= 1.01e6; scale *= 100.0) {
    std::vector<double> pts;
    for (int i = 0; i < 16; ++i) pts.insert(pts.end(), {scale * i / 15.0, scale * ys[i], 0.0});
    BsplineKeeper keep;
    Bspline* graph = keep(BuildCurve(3, 3, pts));
    Bspline* line = keep(BuildCurve(1, 3, {-0.1 * scale, 0.5 * scale, 0.0, 1.1 * scale, 0.5 * scale, 0.0}));
    const std::vector<Meeting> found = Meetings(graph, line);  // in rising order of t1
    ASSERT_EQ(found.size(), 8u) << "scale " << scale;
    for (int i = 0; i < 8; ++i) {
      EXPECT_NEAR(found[i].t1, expected[i], 1e-4) << "scale " << scale;
      double p[3];
      RefEvalCurve(graph, found[i].t1, p);
      EXPECT_NEAR(p[1], 0.5 * scale, 1e-9 * scale);
      EXPECT_NEAR(-0.1 + 1.2 * found[i].t2, p[0] / scale, 1e-9);
    }
  }
}

// Random 16-point cubic graphs against slanted segments, and random cubics of 5 to 8 points in
// the unit square against random graphs, each placed in space at scales 1e-6 .. 1e6: the
// crossings are those of the sign-change count (pairs the count cannot resolve are skipped,
// and most are not).
TEST_F(CurveMeetingsTest, EveryCrossingOfRandomPairsIsFound) {
  std::mt19937 rng(56);
  std::uniform_real_distribution<double> U(0.0, 1.0);
  const int samples = 1500;
  const double none[3] = {0.0, 0.0, 0.0};
  int pairs = 0, checked = 0, faults = 0, crossings = 0;
  std::vector<int> brackets;
  for (int trial = 0; trial < 2400; ++trial, ++pairs) {
    const bool lines = trial % 3 == 0;
    std::vector<double> ys(lines ? 16 : 8), axy;
    for (double& y : ys) y = U(rng);
    if (lines) axy = {0.0, 0.2 + 0.6 * U(rng), 1.0, 0.2 + 0.6 * U(rng)};
    for (int i = 0; !lines && i < 2 * (5 + trial % 4); ++i) axy.push_back(0.05 + 0.9 * U(rng));
    const std::vector<double> gxy = GraphPoints(ys, 2);
    const double place[6] = {6.3 * U(rng), 6.3 * U(rng), U(rng), U(rng), U(rng), std::pow(10.0, -6 + 3 * (trial % 5))};
    Bspline* a = BuildCurve(lines ? 1 : 3, 3, Place(axy, 0.0, 0.0, none, 1.0));
    Bspline* g = BuildCurve(3, 3, Place(gxy, 0.0, 0.0, none, 1.0));
    const bool clean = SignChanges(a, g, samples, 1e-3, &brackets);
    FreeBspline(a);
    FreeBspline(g);
    if (!clean) continue;
    ++checked;
    crossings += int(brackets.size());
    const int f = CheckPlacedPair(axy, lines ? 1 : 3, gxy, place, brackets, samples);
    EXPECT_EQ(f, 0) << "trial " << trial << " scale " << place[5] << " crossings " << brackets.size();
    faults += f;
  }
  EXPECT_EQ(faults, 0);
  EXPECT_GT(checked, pairs * 3 / 4);
  EXPECT_GT(crossings, 2 * checked);
}

// A curve against its own copy, overlap not checked: the search ends at once with the two ends
// of the stretch where the curves coincide (here the curves' ends), each a true meeting. A curve
// collapsed to a point on a line ends too (its pieces are not halved), with at most that one
// meeting.
TEST_F(CurveMeetingsTest, CoincidentAndPointCurvesEndWithTrueMeetings) {
  BsplineKeeper keep;
  Bspline* a = keep(BuildRandomCurve(5, 3, 12));
  Bspline* b = keep(BuildRandomCurve(5, 3, 12));
  const std::vector<Meeting> found = Meetings(a, b);
  ASSERT_EQ(found.size(), 2u);
  for (size_t i = 0; i < found.size(); ++i) {
    EXPECT_LT(Gap(a, b, found[i]), 1e-12);
    EXPECT_NEAR(found[i].t1, double(i), 1e-9);
  }
  Bspline* point = keep(BuildCurve(3, 3, {0.3, 0.3, 0.0, 0.3, 0.3, 0.0, 0.3, 0.3, 0.0, 0.3, 0.3, 0.0, 0.3, 0.3, 0.0}));
  Bspline* line = keep(BuildCurve(1, 3, {0.0, 0.0, 0.0, 1.0, 1.0, 0.0}));
  const std::vector<Meeting> once = Meetings(point, line);
  ASSERT_LE(once.size(), 1u);
  for (const Meeting& m : once) EXPECT_NEAR(m.t2, 0.3, 1e-9);
}

// The graph y = sum_j c_j B_j(x) over [0, 1] of a Bezier polynomial given by its power
// coefficients (y = sum_k a_k x^k), control points at x = i / p: x is exactly t.
std::vector<double> PolynomialGraph(const std::vector<double>& a, int dim) {
  const int p = int(a.size()) - 1;
  std::vector<double> pts;
  for (int i = 0; i <= p; ++i) {
    // Bezier ordinate i: sum_k a_k C(i, k) / C(p, k).
    double y = 0.0, cik = 1.0, cpk = 1.0;
    for (int k = 0; k <= i; ++k) {
      y += a[k] * cik / cpk;
      cik = cik * (i - k) / (k + 1);
      cpk = cpk * (p - k) / (k + 1);
    }
    pts.insert(pts.end(), {double(i) / p, y});
    if (dim == 3) pts.push_back(0.0);
  }
  return pts;
}

// The meetings of the polynomial graph (power coefficients y) of degree y.size() - 1 with the
// x axis over [0, 1], both placed by Move.
std::vector<Meeting> MeetingsWithAxis(const std::vector<double>& y, double scale, const double shift[3]) {
  BsplineKeeper keep;
  Bspline* graph = keep(BuildCurve(int(y.size()) - 1, 3, PolynomialGraph(y, 3)));
  Bspline* axis = keep(BuildCurve(1, 3, {0.0, 0.0, 0.0, 1.0, 0.0, 0.0}));
  Move(graph, scale, shift);
  Move(axis, scale, shift);
  return Meetings(graph, axis);
}

// Every placement of a pair: sizes 1e-6, 1 and 1e6, at the origin and 1e4 sizes from it.
template <class F>
void AtEveryPlacement(F check) {
  for (double scale : {1e-6, 1.0, 1e6})
    for (double away : {0.0, 1e4}) {
      const double shift[3] = {0.3 * away, -0.7 * away, 0.2 * away};
      check(scale, shift);
    }
}

// Crossings told apart by distance in space, never by parameter. A graph of 121 control points
// alternating +-1 (60 periods) crosses y = 0 exactly at the middle of each uniform span away
// from the clamped ends (by the antisymmetry of the cubic basis there): all 120 crossings, the
// interior ones at those x to round-off, the same with the knots on [0, 1] and on [0, 100]. A
// parabola e^2 below y = 0 at its vertex crosses it twice 2 e apart: both listed, from 0.002
// apart down to 1e-5 of the size.
TEST_F(CurveMeetingsTest, CrossingsCloseInParameterOrSpaceStayApart) {
  std::vector<double> ys(121);
  for (int i = 0; i < 121; ++i) ys[i] = i % 2 ? -1.0 : 1.0;
  AtEveryPlacement([&](double scale, const double shift[3]) {
    for (double range : {1.0, 100.0}) {
      BsplineKeeper keep;
      Bspline* wave = keep(BuildCurve(3, 3, GraphPoints(ys, 3)));
      for (int i = 0; i < 125; ++i) wave->knotsU[i] *= range;
      wave->umin *= range;
      wave->umax *= range;
      Bspline* axis = keep(BuildCurve(1, 3, {-0.1, 0.0, 0.0, 1.1, 0.0, 0.0}));
      Move(wave, scale, shift);
      Move(axis, scale, shift);
      const std::vector<Meeting> m = Meetings(wave, axis);
      ASSERT_EQ(m.size(), 120u) << scale << " " << shift[0] << " " << range;
      const double span = 1.0 / 118.0;  // 118 uniform spans, those from 3 to 114 interior
      for (const Meeting& x : m) {
        EXPECT_LT(Gap(wave, axis, x), 1e-12 * scale * (1.0 + 1e4 * (shift[0] != 0.0)));
        const double t = x.t1 / range, mid = (std::floor(t / span) + 0.5) * span;
        if (t > 3 * span && t < 115 * span) {
          EXPECT_NEAR(t, mid, 1e-12);
        }
      }
    }
    // (x - 0.5)^2 - e^2 crosses y = 0 at 0.5 -+ e, 2 e apart, the curves parting by e^2 between.
    for (double e : {1e-3, 1e-4, 1e-5, 5e-6}) {
      const std::vector<Meeting> two = MeetingsWithAxis({0.25 - e * e, -1.0, 1.0}, scale, shift);
      ASSERT_EQ(two.size(), 2u) << scale << " " << shift[0] << " " << e;
      // Found to the round-off the crossing's angle 2 e allows.
      const double roundOff = 1e-15 * (1.0 + 1e4 * (shift[0] != 0.0)) / (2 * e) + 1e-12;
      EXPECT_NEAR(two[0].t1, 0.5 - e, roundOff) << scale << " " << shift[0] << " " << e;
      EXPECT_NEAR(two[1].t1, 0.5 + e, roundOff) << scale << " " << shift[0] << " " << e;
    }
  });
}

// A crossing at any angle down to round-off: the cubic y = a (x - 0.37) + 0.3 (x - 0.37)^3 meets
// y = 0 once, at x = 0.37, at an angle a of 1e-3, 1e-6 and 1e-9 radians, found there to the
// round-off the angle allows (1e-15 / a of the size). A parabola touching y = 0 (a tangential
// meeting) is one meeting at its vertex. The same for curves in a parameter plane.
TEST_F(CurveMeetingsTest, SmallAnglesAndTouchingAreMeetings) {
  AtEveryPlacement([&](double scale, const double shift[3]) {
    for (double a : {1e-3, 1e-6, 1e-9}) {
      const double c = 0.37;
      // a (x - c) + 0.3 (x - c)^3 in powers of x.
      const std::vector<Meeting> m = MeetingsWithAxis({-a * c - 0.3 * c * c * c, a + 0.9 * c * c, -0.9 * c, 0.3}, scale, shift);
      ASSERT_EQ(m.size(), 1u) << scale << " " << shift[0] << " " << a;
      const double roundOff = 1e-15 * (1.0 + 1e4 * (shift[0] != 0.0));
      EXPECT_NEAR(m[0].t1, c, roundOff / a + 1e-12) << scale << " " << shift[0] << " " << a;
      EXPECT_NEAR(m[0].t2, c, roundOff / a + 1e-12) << scale << " " << shift[0] << " " << a;
    }
    const std::vector<Meeting> touch = MeetingsWithAxis({0.25, -1.0, 1.0}, scale, shift);
    ASSERT_EQ(touch.size(), 1u) << scale << " " << shift[0];
    // The gap of a touching grows with the square of the distance: 1e-7 of the size within 3e-4.
    EXPECT_NEAR(touch[0].t1, 0.5, 1e-3);
    EXPECT_NEAR(touch[0].t2, 0.5, 1e-3);
  });
  // The same curves in a parameter plane (y mapped to 0.5 + 0.4 y), the meetings measured there.
  Bspline* plane = BuildFunctionPatch([](double, double) { return 0.0; });
  for (double a : {1e-3, 1e-6, 1e-9, 0.0}) {
    const double c = 0.37;
    std::vector<double> g = PolynomialGraph(
        a > 0.0 ? std::vector<double>{-a * c - 0.3 * c * c * c, a + 0.9 * c * c, -0.9 * c, 0.3} : std::vector<double>{0.25, -1.0, 1.0}, 2);
    for (size_t i = 1; i < g.size(); i += 2) g[i] = 0.5 + 0.4 * g[i];
    const std::vector<Meeting> m = Meetings(BuildCurveOnSurface(plane, a > 0.0 ? 3 : 2, g),
                                            BuildCurveOnSurface(plane, 1, {0.0, 0.5, 1.0, 0.5}));
    ASSERT_EQ(m.size(), 1u) << a;
    EXPECT_NEAR(m[0].t1, a > 0.0 ? c : 0.5, a > 0.0 ? 1e-15 / (0.4 * a) + 1e-12 : 1e-3) << a;
  }
  FreeBspline(plane);
}

// Self-similar pairs: a random graph of degree 7 (14 points) or 9 (12 points) and the same
// graph with its ordinates moved by +-d in turn (d 1e-2 .. 1e-4 of its size), so that the two
// differ by the alternating spline and cross at its every root, at small angles: all of them,
// at every size and placement (the roots counted on 20,001 samples of the difference). The
// ordinates are the seeded generator's first, for degree 9 after those of degree 7.
void ExpectSelfSimilarPairsCrossEverywhere(int degree) {
  std::mt19937 rng(9);
  std::uniform_real_distribution<double> Y(0.0, 1.0);
  if (degree == 9)
    for (int i = 0; i < 14; ++i) Y(rng);
  {
    const int n = degree == 7 ? 14 : 12;
    const std::vector<double> k = ClampedKnots(degree, n);
    std::vector<double> ya(n);
    for (double& y : ya) y = Y(rng);
    for (double d : {1e-2, 1e-3, 1e-4}) {
      std::vector<double> pa, pb;
      for (int i = 0; i < n; ++i) {
        double x = 0.0;
        for (int j = 1; j <= degree; ++j) x += k[i + j] / degree;
        pa.insert(pa.end(), {x, ya[i], 0.0});
        pb.insert(pb.end(), {x, ya[i] + (i % 2 ? -d : d), 0.0});
      }
      int roots = 0;
      double prev = 0.0;
      {
        BsplineKeeper keep;
        Bspline* a = keep(BuildCurve(degree, 3, pa));
        Bspline* b = keep(BuildCurve(degree, 3, pb));
        for (int i = 0; i <= 20000; ++i) {
          double p[3], q[3];
          RefEvalCurve(a, i / 20000.0, p);
          RefEvalCurve(b, i / 20000.0, q);
          const double diff = q[1] - p[1];
          roots += i > 0 && (diff > 0.0) != (prev > 0.0);
          prev = diff;
        }
      }
      AtEveryPlacement([&](double scale, const double shift[3]) {
        BsplineKeeper keep;
        Bspline* a = keep(BuildCurve(degree, 3, pa));
        Bspline* b = keep(BuildCurve(degree, 3, pb));
        Move(a, scale, shift);
        Move(b, scale, shift);
        EXPECT_EQ(int(Meetings(a, b).size()), roots) << degree << " " << d << " " << scale << " " << shift[0];
      });
    }
  }
}

TEST_F(CurveMeetingsTest, SelfSimilarDegree7PairsCrossEverywhereTheyDiffer) { ExpectSelfSimilarPairsCrossEverywhere(7); }
TEST_F(CurveMeetingsTest, SelfSimilarDegree9PairsCrossEverywhereTheyDiffer) { ExpectSelfSimilarPairsCrossEverywhere(9); }

// Collinear segments sharing part of their length: with the overlap test on, one overlap (99,
// the caller's list untouched); off, the overlap's two ends (x = 0.4 and 1 on the first,
// 0 and 0.6 / 1.3 of the way along the second). The same with the second segment a cubic.
TEST_F(CurveMeetingsTest, PartialOverlapIsOneOverlap) {
  AtEveryPlacement([&](double scale, const double shift[3]) {
    for (int degree : {1, 3}) {
      BsplineKeeper keep;
      Bspline* a = keep(BuildCurve(1, 3, {0.0, 0.0, 0.0, 1.0, 0.0, 0.0}));
      std::vector<double> pts;
      for (int i = 0; i <= degree; ++i) pts.insert(pts.end(), {0.4 + 1.3 * i / degree, 0.0, 0.0});
      Bspline* b = keep(BuildCurve(degree, 3, pts));
      Move(a, scale, shift);
      Move(b, scale, shift);
      CrvIntrList* list = nullptr;
      EXPECT_EQ(CrvIntersect(a, b, &list, 1e-6, 1), 99) << scale << " " << degree;
      EXPECT_EQ(list, nullptr);
      const std::vector<Meeting> ends = Meetings(a, b);
      ASSERT_EQ(ends.size(), 2u) << scale << " " << shift[0] << " " << degree;
      EXPECT_NEAR(ends[0].t1, 0.4, 1e-9);
      EXPECT_NEAR(ends[0].t2, 0.0, 1e-9);
      EXPECT_NEAR(ends[1].t1, 1.0, 1e-9);
      EXPECT_NEAR(ends[1].t2, 0.6 / 1.3, 1e-9);
    }
  });
}

// Pieces of one cubic that share a stretch, one of them reversed: C[0, 0.7] against C[0.3, 1]
// run backwards meet at the two ends of C[0.3, 0.7] and nowhere else, the ends exact to the
// round-off of the coordinates, at every size and 1e4 and 1e5 sizes from the origin. Seed 7
// has pieces that meet at most once refine onto the stretch, seed 323 a stretch that nearly
// closes on itself.
TEST_F(CurveMeetingsTest, SharedStretchEndsAtEveryPlacement) {
  for (unsigned seed : {3u, 7u, 323u})
    for (double scale : {1e-6, 1.0, 1e6})
      for (double away : {0.0, 1e4, 1e5}) {
        BsplineKeeper keep;
        Bspline* c = keep(BuildRandomCurve(seed, 3, 4 + seed % 9));
        const double shift[3] = {-0.2 * away, 0.5 * away, 0.9 * away};
        Move(c, scale, shift);
        Bspline *a = nullptr, *b = nullptr;
        SubCurveBspline(c, 0.0, 0.7, &a);
        SubCurveBspline(c, 1.0, 0.3, &b);
        ASSERT_TRUE(a && b);
        keep(a);
        keep(b);
        double ends[2][3];
        RefEvalCurve(c, 0.3, ends[0]);
        RefEvalCurve(c, 0.7, ends[1]);
        // The pieces were cut where they lie: their points carry that round-off as data.
        const double tol = 1e-13 * scale + 64 * DBL_EPSILON * away * scale;
        const std::vector<Meeting> found = Meetings(a, b);
        ASSERT_EQ(found.size(), 2u) << seed << " " << scale << " " << away;
        for (int i = 0; i < 2; ++i) {
          double p[3];
          RefEvalCurve(a, found[i].t1, p);
          EXPECT_LT(std::hypot(p[0] - ends[i][0], p[1] - ends[i][1], p[2] - ends[i][2]), tol)
              << seed << " " << scale << " " << away << " " << i;
          EXPECT_LT(Gap(a, b, found[i]), tol);
        }
      }
}

// A closed curve along itself, and along itself reversed, coincides from end to end: the
// stretch's two ends are listed, at the start and at the end of the first curve (the second
// curve's matching ends), though they are one point in space, at every size and placement.
TEST_F(CurveMeetingsTest, ClosedCurveAlongItselfListsBothEndsOfTheStretch) {
  AtEveryPlacement([](double scale, const double shift[3]) {
    BsplineKeeper keep;
    const double centre[3] = {scale * shift[0], scale * shift[1], scale * shift[2]};
    Bspline* circle = keep(NewCircleBspline(centre, scale));
    Bspline* reversed = keep(CopyBsplineStruct(circle));
    reverseBspline(reversed);
    for (Bspline* other : {circle, reversed}) {
      const std::vector<Meeting> found = Meetings(circle, other);
      const double back = other == reversed ? 1.0 : 0.0;  // the second curve's parameter at t1 = 0
      for (const double end : {0.0, 1.0})
        EXPECT_EQ(std::count_if(found.begin(), found.end(),
                                [&](const Meeting& m) { return m.t1 == end && std::fabs(m.t2 - end) == back; }),
                  1)
            << "end " << end << " reversed " << back << " scale " << scale << " shift " << shift[0];
    }
  });
}

// A circle's parameters 0 and 1 are one point, where it starts and ends: a line crossing it
// there, a line touching it there and circles touching it there from outside and from inside
// each meet it once, at that point, at every size and placement.
TEST_F(CurveMeetingsTest, AMeetingWhereAClosedCurveStartsIsListedOnce) {
  AtEveryPlacement([](double scale, const double shift[3]) {
    BsplineKeeper keep;
    auto place = [&](double x, double y, double z, double out[3]) {
      const double p[3] = {x, y, z};
      for (int k = 0; k < 3; ++k) out[k] = scale * (p[k] + shift[k]);
    };
    double centre[3], outside[3], inside[3], a[3], b[3], c[3], d[3], seam[3];
    place(0, 0, 0, centre);
    place(2, 0, 0, outside);
    place(0.5, 0, 0, inside);
    place(1, -1, 0.3, a);
    place(1, 1, -0.3, b);
    place(1, -1, 0, c);
    place(1, 1, 0, d);
    place(1, 0, 0, seam);
    Bspline* circle = keep(NewCircleBspline(centre, scale));
    Bspline* others[4] = {keep(MkLine3(a, b, nullptr)), keep(MkLine3(c, d, nullptr)),
                          keep(NewCircleBspline(outside, scale)), keep(NewCircleBspline(inside, 0.5 * scale))};
    for (int i = 0; i < 4; ++i) {
      const std::vector<Meeting> m = Meetings(circle, others[i]);
      ASSERT_EQ(m.size(), 1u) << "case " << i << " scale " << scale << " shift " << shift[0];
      double p[3];
      RefEvalCurve(circle, m[0].t1, p);
      // A touching is found to the square root of the meeting gap.
      EXPECT_LT(std::hypot(p[0] - seam[0], p[1] - seam[1], p[2] - seam[2]), (i == 0 ? 1e-9 : 1e-3) * scale) << i;
      EXPECT_LT(Gap(circle, others[i], m[0]), 1e-7 * scale) << i;
    }
  });
}

// A polyline whose vertex is repeated stands still there: its tangent vanishes along a whole
// span. A line touching that vertex, or passing it within round-off (1e-13 and 5e-13 of the
// size), meets it once there at every size and placement.
TEST_F(CurveMeetingsTest, ALineTouchingARepeatedVertexMeetsItThere) {
  AtEveryPlacement([](double scale, const double shift[3]) {
    for (const double off : {0.0, 1e-13, 5e-13}) {
      BsplineKeeper keep;
      Bspline* polyline = keep(BuildCurve(1, 3, {0, 0, 0, 0.2, 1, 0, 0.2, 1, 0, 0.4, 0, 0}));
      Bspline* line = keep(BuildCurve(1, 3, {-0.1, 1 + off, 0, 1, 1 + off, 0}));
      Move(polyline, scale, shift);
      Move(line, scale, shift);
      const std::vector<Meeting> m = Meetings(polyline, line);
      ASSERT_EQ(m.size(), 1u) << off << " scale " << scale << " shift " << shift[0];
      // Any parameter of the repeated vertex's span is the vertex.
      EXPECT_GE(m[0].t1, 1.0 / 3 - 1e-9) << off;
      EXPECT_LE(m[0].t1, 2.0 / 3 + 1e-9) << off;
      EXPECT_NEAR(m[0].t2, 0.3 / 1.1, 1e-9) << off;
    }
  });
}

// A cubic whose first and last three control points coincide stalls at its ends: its speed
// vanishes there to third order, so a foot of its end point may lie anywhere along a stretch
// of parameter where the point moves by round-off. Along itself reversed the stretch still ends
// where both curves end, at parameters exactly 0 and 1, inside both domains.
TEST_F(CurveMeetingsTest, StretchEndsWhereBothCurvesStallAtTheirEnds) {
  AtEveryPlacement([](double scale, const double shift[3]) {
    BsplineKeeper keep;
    Bspline* c = keep(BuildCurve(3, 3, {0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 0, 2, 0, 0, 3, 1, 0, 3, 1, 0, 3, 1, 0},
                                 {0, 0, 0, 0, 1e-12, 0.3, 0.6, 1 - 1e-12, 1, 1, 1, 1}));
    Move(c, scale, shift);
    Bspline* reversed = keep(CopyBsplineStruct(c));
    reverseBspline(reversed);
    const std::vector<Meeting> found = Meetings(c, reversed);
    ASSERT_EQ(found.size(), 2u) << scale << " " << shift[0];
    for (const Meeting& m : found) {
      EXPECT_TRUE((m.t1 == 0.0 && m.t2 == 1.0) || (m.t1 == 1.0 && m.t2 == 0.0))
          << m.t1 << " " << m.t2 << " scale " << scale << " shift " << shift[0];
    }
  });
}

// A line and curves running along it for a stretch and then parting at one of their knots: a
// polyline leaving at a corner and coming back, a quadratic leaving tangentially (the gap grows
// as the square of the distance) and a cubic whose second derivative agrees too (as the cube).
// Pieces that coincide over any length coincide over their spans, so each stretch ends exactly
// at the knot where the curves part, not where their gap passes round-off (1e-6 and 1.5e-4 of the
// range beyond it). The same for stretches shorter than 0.05 of the size that end at knots or
// curve ends: two ends, not a row of meetings along them.
TEST_F(CurveMeetingsTest, StretchesEndAtTheKnotWhereTheCurvesPart) {
  struct Along {
    int degree;
    std::vector<double> pts, knots, ends;  // ends: the stretches' ends along the line, x = t
  };
  const std::vector<Along> cases = {
      {1, {0.1, 0, 0, 0.3, 0, 0, 0.45, 0.3, 0, 0.6, 0, 0, 0.8, 0, 0}, {0, 0, 0.25, 0.5, 0.75, 1, 1},
       {0.1, 0.3, 0.6, 0.8}},
      {2, {0.2, 0, 0, 0.4, 0, 0, 0.6, 0, 0, 0.8, 0.3, 0}, {0, 0, 0, 0.5, 1, 1, 1}, {0.2, 0.5}},
      {3, {0.2, 0, 0, 0.3, 0, 0, 0.4, 0, 0, 0.5, 0, 0, 0.7, 0.4, 0}, {0, 0, 0, 0, 0.5, 1, 1, 1, 1},
       {0.2, 0.4}},
      {1, {0.97, 0, 0, 1.5, 0, 0}, {}, {0.97, 1.0}},
      {1, {0.5, 0.5, 0, 0.5, 0, 0, 0.52, 0, 0, 0.52, 0.5, 0}, {}, {0.5, 0.52}},
  };
  AtEveryPlacement([&](double scale, const double shift[3]) {
    for (const Along& c : cases) {
      BsplineKeeper keep;
      Bspline* line = keep(BuildCurve(1, 3, {0, 0, 0, 1, 0, 0}));
      Bspline* other = keep(BuildCurve(c.degree, 3, c.pts, c.knots));
      Move(line, scale, shift);
      Move(other, scale, shift);
      const std::vector<Meeting> m = Meetings(line, other);
      ASSERT_EQ(m.size(), c.ends.size()) << c.degree << " " << scale << " " << shift[0];
      const double tol = 1e-13 + 64 * DBL_EPSILON * std::fabs(shift[0]);
      for (std::size_t i = 0; i < m.size(); ++i) {
        EXPECT_NEAR(m[i].t1, c.ends[i], tol) << c.degree << " " << scale << " " << shift[0];
        EXPECT_LT(Gap(line, other, m[i]), tol * scale);
      }
    }
  });
}

}  // namespace

namespace {

// A polyline (with and without weights) along a piece of itself cut at 0.3 and 0.7, forwards
// and backwards, and along that piece raised to degree 2 (its corners double knots): the
// corners inside the stretch are points of it, not meetings, from whichever side a refinement
// reaches them. Exactly the two ends of the stretch are listed, at every size and placement.
TEST_F(CurveMeetingsTest, APolylineAlongAPieceOfItselfMeetsItAtTheEndsOnly) {
  const std::vector<double> pts = {0, 0, 0, 1, 0.2, 0, 1.5, 1, 0.3, 1.2, 2, 0, 2, 2.4, -0.5, 3, 2, 0, 3.5, 1, 1};
  const std::vector<double> knots = {0, 0, 0.2, 0.35, 0.5, 0.65, 0.8, 1, 1};
  AtEveryPlacement([&](double scale, const double shift[3]) {
    for (const bool rational : {false, true})
      for (const bool backwards : {false, true})
        for (const bool raised : {false, true}) {
          BsplineKeeper keep;
          Bspline* c = keep(BuildCurve(1, 3, pts, knots,
                                       rational ? std::vector<double>{1, 2, 0.5, 1, 1.5, 0.7, 1} : std::vector<double>{}));
          Move(c, scale, shift);
          Bspline* piece = keep(ExtractParamRange(c, 0, backwards ? 0.7 : 0.3, backwards ? 0.3 : 0.7));
          ASSERT_NE(piece, nullptr);
          if (raised) IncrementDegreeOfObject(0, piece);
          const std::vector<Meeting> m = Meetings(c, piece);
          ASSERT_EQ(m.size(), 2u) << scale << " " << shift[0] << " " << rational << backwards << raised;
          for (int i = 0; i < 2; ++i) {
            double p[3], q[3];
            RefEvalCurve(c, m[i].t1, p);
            RefEvalCurve(c, i ? 0.7 : 0.3, q);
            EXPECT_LT(std::hypot(p[0] - q[0], p[1] - q[1], p[2] - q[2]), 1e-12 * scale + 64 * DBL_EPSILON * std::fabs(shift[1]) * scale)
                << scale << " " << shift[0] << " " << rational << backwards << raised << " " << i;
            EXPECT_LT(Gap(c, piece, m[i]), 1e-12 * scale + 64 * DBL_EPSILON * std::fabs(shift[1]) * scale);
          }
        }
  });
}

// A polyline through (0 0 0) (1 .4 .1) (1.5 1 -.2) (1.2 2 .3) (2 2.4 -.5) (3 2 0) (3.5 1 1) at
// knots 0 .15 .45 .6 .85 1 and a vertex doubled at `at` and at + 1e-12 (moved by `off`, a
// round-off; `next` replaces the vertex after the pair when given).
Bspline* DoubledVertexPolyline(double at, const double off[3], const double* next = nullptr) {
  std::vector<double> k = {0, 0, 0.15, 0.45, 0.6, 0.85, 1, 1};
  k.insert(std::upper_bound(k.begin(), k.end(), at), {at, at + 1e-12});
  std::vector<double> pts = {0, 0, 0, 1, 0.4, 0.1, 1.5, 1, -0.2, 1.2, 2, 0.3, 2, 2.4, -0.5, 3, 2, 0, 3.5, 1, 1};
  const int j = int(std::find(k.begin(), k.end(), at) - k.begin()) - 1;  // the vertex at `at`
  pts.insert(pts.begin() + 3 * (j + 1), pts.begin() + 3 * j, pts.begin() + 3 * j + 3);
  for (int q = 0; q < 3; ++q) {
    pts[3 * (j + 1) + q] += off[q];
    if (next) pts[3 * (j + 2) + q] = next[q];
  }
  return BuildCurve(1, 3, pts, k);
}

// The parts C[0, s1] and C[s0, 1] of c (the second run either way), either first, meet at the
// two ends of the stretch they share only, C(s0) and C(s1), to round-off.
void ExpectSharedStretchEnds(Bspline* c, double s0, double s1, double scale, const double shift[3]) {
  for (const bool backwards : {false, true})
    for (const bool swapped : {false, true}) {
      BsplineKeeper keep;
      Bspline *a = nullptr, *b = nullptr;
      SubCurveBspline(c, 0.0, s1, &a);
      SubCurveBspline(c, backwards ? 1.0 : s0, backwards ? s0 : 1.0, &b);
      ASSERT_TRUE(a && b);
      keep(a);
      keep(b);
      Bspline* first = swapped ? b : a;
      Bspline* second = swapped ? a : b;
      const std::vector<Meeting> m = Meetings(first, second);
      ASSERT_EQ(m.size(), 2u) << scale << " " << shift[0] << " " << backwards << swapped;
      const double tol = 1e-13 * scale + 64 * DBL_EPSILON * std::fabs(shift[1]) * scale;
      double ends[2][3];
      RefEvalCurve(c, s0, ends[0]);
      RefEvalCurve(c, s1, ends[1]);
      for (const Meeting& x : m) {
        double p[3];
        RefEvalCurve(first, x.t1, p);
        const double d0 = std::hypot(p[0] - ends[0][0], p[1] - ends[0][1], p[2] - ends[0][2]);
        const double d1 = std::hypot(p[0] - ends[1][0], p[1] - ends[1][1], p[2] - ends[1][2]);
        EXPECT_LT(std::fmin(d0, d1), tol) << scale << " " << shift[0] << " " << backwards << swapped;
        EXPECT_LT(Gap(first, second, x), tol);
      }
      EXPECT_GT(std::fabs(m[0].t1 - m[1].t1), 0.5 * (s1 - s0));
    }
}

// A polyline with a vertex doubled 1e-12 apart at or beside the end of the stretch that its
// parts C[0, 0.7] and C[0.3, 1] share: a walk along the stretch stops a share of the overlap gap
// short of a part's end there (a foot stalls where the curve stands still, or runs the wrong way
// across the corner). The two ends are listed, to round-off, at every size and placement. The
// same where the pair's second vertex lies a round-off back and the polyline turns back there,
// passing the stretch's end again within the overlap gap (3e-12 of the size): that pass is the
// end, not a third meeting.
TEST_F(CurveMeetingsTest, AStretchEndsWhereAPartEndsBesideADoubledVertex) {
  const double none[3] = {0, 0, 0}, back[3] = {-0.8e-12, -0.4e-12, 0.8e-12}, next[3] = {1.2, 2, 0.4};
  for (const bool turns : {false, true})
    for (const double at : {0.3, 0.3 - 1e-12, 0.3 + 2e-12, 0.7 + 1e-12, 0.7 + 3e-12})
      AtEveryPlacement([&](double scale, const double shift[3]) {
        BsplineKeeper keep;
        Bspline* c = keep(turns ? DoubledVertexPolyline(at, back, next) : DoubledVertexPolyline(at, none));
        Move(c, scale, shift);
        SCOPED_TRACE(testing::Message() << "at " << at << " turns " << turns);
        ExpectSharedStretchEnds(c, 0.3, 0.7, scale, shift);
      });
}

// A quadratic with a double knot 1e-12 wide (a corner rounded over a round-off): its part that
// ends half a round-off before the corner ends within the overlap gap of the points past it,
// where the distance from that end has a second minimum 5e-12 of the size away. A foot of the
// end reached from either side of the corner runs into that minimum; the end is listed to
// round-off where the part ends.
TEST_F(CurveMeetingsTest, AStretchEndsWhereAPartEndsJustBeforeARoundedCorner) {
  const std::vector<double> pts = {-0.82, 0.43, 0.65, 0.73, -0.82, 0.84, -0.02, -0.18, 0.61,
                                   0.82, 0.50, -0.91, 0.18, 0.53, -0.07, 0.59, 0.30, 0.13,
                                   -0.01, 0.60, -0.77, 0.20, -0.52, 0.18, 0.39, -0.18, -0.94};
  AtEveryPlacement([&](double scale, const double shift[3]) {
    BsplineKeeper keep;
    Bspline* c = keep(BuildCurve(2, 3, pts, {0, 0, 0, 0.15, 0.45, 0.6, 0.7, 0.7 + 1e-12, 0.85, 1, 1, 1}));
    Move(c, scale, shift);
    ExpectSharedStretchEnds(c, 0.3, 0.7 - 5e-13, scale, shift);
  });
}

// A polyline with a vertex doubled 1e-12 apart inside the stretch its parts share, 0.02 of the
// range from either end: a walk along the stretch passes the pair (the foot on the second curve
// stands still on it), so the stretch is one, not two ending at the pair with its point listed
// between them.
TEST_F(CurveMeetingsTest, AWalkAlongAStretchPassesADoubledVertex) {
  const double none[3] = {0, 0, 0};
  for (const double at : {0.5, 0.5 + 3e-13, 0.507})
    AtEveryPlacement([&](double scale, const double shift[3]) {
      BsplineKeeper keep;
      Bspline* c = keep(DoubledVertexPolyline(at, none));
      Move(c, scale, shift);
      SCOPED_TRACE(testing::Message() << "at " << at);
      ExpectSharedStretchEnds(c, 0.48, 0.52, scale, shift);
    });
}

// A polyline with vertices doubled 1e-12 apart at 0.3 and 0.7.
Bspline* TwoDoubledVerticesPolyline() {
  return BuildCurve(1, 3,
                    {0, 0, 0, 1, 0.4, 0.1, 1.5, 1, -0.2, 1.5, 1, -0.2, 1.2, 2, 0.3, 2, 2.4, -0.5, 3, 2, 0, 3, 2, 0,
                     3.5, 1, 1, 4, 0, 0.5},
                    {0, 0, 0.15, 0.3, 0.3 + 1e-12, 0.45, 0.6, 0.7, 0.7 + 1e-12, 0.85, 1, 1});
}

// Its parts cut half a round-off before each pair: a meeting refined onto the pair at the start,
// a round-off inside the stretch, is found before the stretch and listed; the stretch's end
// listed later, within the overlap gap of it, stands for it.
TEST_F(CurveMeetingsTest, AStretchEndStandsForAMeetingListedBesideIt) {
  AtEveryPlacement([&](double scale, const double shift[3]) {
    BsplineKeeper keep;
    Bspline* c = keep(TwoDoubledVerticesPolyline());
    Move(c, scale, shift);
    ExpectSharedStretchEnds(c, 0.3 - 5e-13, 0.7 - 5e-13, scale, shift);
  });
}

// Its parts cut 1e-10 and 1e-7 before each pair: a refinement onto the pair at the start, inside
// the stretch, finds no stretch there (the walks along the curves stall where the polyline
// stands still) and is listed as a meeting; the stretch found later drops it, a point of it.
TEST_F(CurveMeetingsTest, AMeetingListedOnAStretchFoundLaterIsDropped) {
  AtEveryPlacement([&](double scale, const double shift[3]) {
    for (const double before : {1e-10, 1e-7}) {
      BsplineKeeper keep;
      Bspline* c = keep(TwoDoubledVerticesPolyline());
      Move(c, scale, shift);
      SCOPED_TRACE(testing::Message() << "cut " << before << " before");
      ExpectSharedStretchEnds(c, 0.3 - before, 0.7 - before, scale, shift);
    }
  });
}

}  // namespace

namespace {

// The circle of NewCircleBspline turned about its centre in its plane by phi: the same points,
// its seam phi radians on.
Bspline* CircleWithSeamAt(const double centre[3], double radius, double phi) {
  Bspline* c = NewCircleBspline(centre, radius);
  if (!c) return nullptr;
  for (int i = 0; i < NumCtrlU(c); ++i) {
    const double x = c->X[0][i] - centre[0], y = c->Y[0][i] - centre[1];
    c->X[0][i] = centre[0] + (std::cos(phi) * x - std::sin(phi) * y);
    c->Y[0][i] = centre[1] + (std::sin(phi) * x + std::cos(phi) * y);
  }
  return c;
}

// A circle along the same circle with its seam 0.3 or pi / 2 radians on, running either way,
// either first: they coincide all round, and the stretch is listed by its two ends, the two
// seams, each once, at every size and placement (a walk along the stretch must not step across
// the second curve's seam onto the point it started from).
TEST_F(CurveMeetingsTest, ClosedCurvesWithDifferentSeamsMeetAtTheSeams) {
  AtEveryPlacement([](double scale, const double shift[3]) {
    const double centre[3] = {scale * shift[0], scale * shift[1], scale * shift[2]};
    for (const double phi : {0.3, M_PI / 2})
      for (const bool reversed : {false, true})
        for (const bool swapped : {false, true}) {
          BsplineKeeper keep;
          Bspline* a = keep(NewCircleBspline(centre, scale));
          Bspline* b = keep(CircleWithSeamAt(centre, scale, phi));
          if (reversed) reverseBspline(b);
          Bspline* first = swapped ? b : a;
          Bspline* second = swapped ? a : b;
          const std::vector<Meeting> m = Meetings(first, second);
          ASSERT_EQ(m.size(), 2u) << phi << " " << reversed << swapped << " scale " << scale << " shift " << shift[0];
          const double seams[2][3] = {{centre[0] + scale, centre[1], centre[2]},
                                      {centre[0] + scale * std::cos(phi), centre[1] + scale * std::sin(phi), centre[2]}};
          const double tol = 1e-13 * scale + 64 * DBL_EPSILON * std::fabs(shift[1]) * scale;
          int at[2] = {0, 0};
          for (const Meeting& x : m) {
            double p[3];
            RefEvalCurve(first, x.t1, p);
            for (int i = 0; i < 2; ++i)
              at[i] += std::hypot(p[0] - seams[i][0], p[1] - seams[i][1], p[2] - seams[i][2]) < tol;
            EXPECT_LT(Gap(first, second, x), tol);
          }
          EXPECT_EQ(at[0], 1) << phi << " " << reversed << swapped << " scale " << scale << " shift " << shift[0];
          EXPECT_EQ(at[1], 1) << phi << " " << reversed << swapped << " scale " << scale << " shift " << shift[0];
        }
  });
}

}  // namespace

namespace {

// Polylines in z = 0 sharing edges between corners of both, turned by `angle` about the axis
// (1, 2, 3): a polyline of five edges and one that runs along its second and its fourth edge,
// leaving and coming back at right angles between. The two stretches end exactly at the four
// corners, also where a refinement onto a corner stops a round-off past it on the legs that
// part (the walk along the stretch starts beyond the knot it ends at), at every size and
// placement, the second curve either way and either first.
TEST_F(CurveMeetingsTest, PolylinesSharingEdgesMeetAtTheCorners) {
  const std::vector<double> a = {0, 0, 0, 1, 0, 0, 2, 1, 0, 3, 1, 0, 4, 2, 0, 5, 2, 0};
  const std::vector<double> b = {0, -1, 0, 1, 0, 0, 2, 1, 0, 2.5, 3, 0, 3, 1, 0, 4, 2, 0, 4, 3, 0};
  const double corners[4][3] = {{1, 0, 0}, {2, 1, 0}, {3, 1, 0}, {4, 2, 0}};
  for (const double angle : {0.0, 0.7, 2.1})
    AtEveryPlacement([&](double scale, const double shift[3]) {
      // Rodrigues' rotation about the unit axis k: v cos + (k x v) sin + k (k . v)(1 - cos).
      const double k[3] = {1 / std::sqrt(14.0), 2 / std::sqrt(14.0), 3 / std::sqrt(14.0)};
      auto place = [&](const double* v, double* out) {
        double kv[3];
        VecCrossProd3(k, v, kv);
        const double along = VecDotProd3(k, v) * (1 - std::cos(angle));
        for (int q = 0; q < 3; ++q) out[q] = scale * (v[q] * std::cos(angle) + kv[q] * std::sin(angle) + k[q] * along + shift[q]);
      };
      auto polyline = [&](const std::vector<double>& pts) {
        std::vector<double> placed(pts.size());
        for (std::size_t i = 0; i < pts.size(); i += 3) place(&pts[i], &placed[i]);
        return BuildCurve(1, 3, placed);
      };
      for (const bool reversed : {false, true})
        for (const bool swapped : {false, true}) {
          BsplineKeeper keep;
          Bspline* first = keep(polyline(swapped ? b : a));
          Bspline* second = keep(polyline(swapped ? a : b));
          if (reversed) reverseBspline(second);
          const std::vector<Meeting> m = Meetings(first, second);
          ASSERT_EQ(m.size(), 4u) << angle << " " << reversed << swapped << " scale " << scale << " shift " << shift[0];
          const double tol = 1e-13 * scale + 64 * DBL_EPSILON * std::fabs(shift[1]) * scale;
          for (int i = 0; i < 4; ++i) {
            double p[3], c[3];
            RefEvalCurve(first, m[i].t1, p);
            place(corners[i], c);
            EXPECT_LT(std::hypot(p[0] - c[0], p[1] - c[1], p[2] - c[2]), tol)
                << angle << " " << reversed << swapped << " scale " << scale << " shift " << shift[0] << " corner " << i;
            EXPECT_LT(Gap(first, second, m[i]), tol);
          }
        }
    });
}

}  // namespace

namespace {

// The meetings of an arc of a circle with the circle (the arc first when swapped): its two ends
// only, each once and exact, at the size and shift given.
void ExpectArcMeetsCircleAtItsEnds(Bspline* arc, Bspline* circle, bool swapped, double scale, const double shift[3]) {
  SCOPED_TRACE(::testing::Message() << "scale " << scale << " shift " << shift[0]);
  Bspline* first = swapped ? arc : circle;
  Bspline* second = swapped ? circle : arc;
  const std::vector<Meeting> m = Meetings(first, second);
  ASSERT_EQ(m.size(), 2u);
  double ends[2][3];
  RefEvalCurve(arc, arc->umin, ends[0]);
  RefEvalCurve(arc, arc->umax, ends[1]);
  const double tol = 1e-13 * scale + 64 * DBL_EPSILON * std::fabs(shift[1]) * scale;
  int at[2] = {0, 0};
  for (const Meeting& x : m) {
    double p[3];
    RefEvalCurve(first, x.t1, p);
    for (int i = 0; i < 2; ++i) at[i] += std::hypot(p[0] - ends[i][0], p[1] - ends[i][1], p[2] - ends[i][2]) < tol;
    EXPECT_LT(Gap(first, second, x), tol);
  }
  EXPECT_EQ(at[0], 1);
  EXPECT_EQ(at[1], 1);
}

// The arc [from, to] (as a share of the range, to < from running backward) of the circle of
// radius `scale` about scale x shift with its seam turned by `seam` radians, against that circle
// with its seam where it was: ExpectArcMeetsCircleAtItsEnds.
void ExpectArcOfTurnedCircleMeetsIt(double seam, double from, double to, bool swapped, double scale,
                                    const double shift[3]) {
  const double centre[3] = {scale * shift[0], scale * shift[1], scale * shift[2]};
  BsplineKeeper keep;
  Bspline* circle = keep(NewCircleBspline(centre, scale));
  Bspline* turned = keep(CircleWithSeamAt(centre, scale, seam));
  Bspline* arc = keep(ExtractParamRange(turned, 0, from, to));
  ASSERT_NE(arc, nullptr);
  ExpectArcMeetsCircleAtItsEnds(arc, circle, swapped, scale, shift);
}

// Arcs of a circle from 0.5 radians before its seam, 0.2 and 0.9 of its range long, running
// either way, either first: the stretch they share runs across the circle's seam and is found
// as two, joined there; the arc meets the circle at its two ends only (the seam is a point of
// the stretch), at every size and placement.
TEST_F(CurveMeetingsTest, AnArcAcrossACircleSeamMeetsItAtItsEndsOnly) {
  AtEveryPlacement([](double scale, const double shift[3]) {
    for (const double length : {0.2, 0.9})
      for (const bool reversed : {false, true})
        for (const bool swapped : {false, true}) {
          SCOPED_TRACE(::testing::Message() << length << " " << reversed << swapped);
          ExpectArcOfTurnedCircleMeetsIt(-0.5, reversed ? length : 0.0, reversed ? 0.0 : length, swapped, scale, shift);
        }
  });
}

}  // namespace

namespace {

// Arcs of a circle, 0.2 of its range long, that start 1e-4 .. 1e-9 radians before its seam or
// end as far past it, either first: the part on one side of the seam is too short to be found as
// a stretch, yet the curves run on together across the seam to the arc's end there. The arc
// meets the circle at its two ends only, the short part's end exact, at every size and placement.
TEST_F(CurveMeetingsTest, AnArcJustAcrossACircleSeamMeetsItAtItsEndsOnly) {
  AtEveryPlacement([](double scale, const double shift[3]) {
    for (const double by : {1e-4, 1e-6, 1e-9})
      for (const bool past : {false, true})
        for (const bool swapped : {false, true}) {
          SCOPED_TRACE(::testing::Message() << by << " " << past << swapped);
          ExpectArcOfTurnedCircleMeetsIt(past ? by : -by, past ? 0.8 : 0.0, past ? 1.0 : 0.2, swapped, scale, shift);
        }
  });
}

}  // namespace

namespace {

// A quadratic with three knots 1e-12 apart at 0.3 and at 0.7 (a jump of the curve over each
// cluster) and its parts C[0, 0.7 - d] and C[0.3 - d, 1], d half a round-off: a refinement near
// the start of the stretch they share may stop off it, a few 1e-10 of the size before the second
// part's start (its nearest point there, the curve jumping just past it). The stretch starts
// where that part starts, to round-off, at every size and placement.
TEST_F(CurveMeetingsTest, AStretchStartsWhereAPartStartsBesideAJump) {
  const std::vector<double> pts = {-0.10, 0.35, -0.51, -0.94, 0.39, 0.03, 0.21, -0.44, 0.74, 0.99, 0.56, -0.62,
                                   0.94, 0.79, 0.43, -0.23, 1.00, -0.95, -0.31, 0.43, 0.08, 0.70, 0.53, 0.32,
                                   -0.15, 0.53, -0.43, 0.96, -0.20, -0.09, -0.58, 0.17, -0.87, 0.83, 0.97, -0.69,
                                   -0.12, -0.91, 0.80};
  const std::vector<double> knots = {0, 0, 0, 0.15, 0.3, 0.3 + 1e-12, 0.3 + 2e-12, 0.45, 0.6, 0.7, 0.7 + 1e-12,
                                     0.7 + 2e-12, 0.85, 1, 1, 1};
  AtEveryPlacement([&](double scale, const double shift[3]) {
    BsplineKeeper keep;
    Bspline* c = keep(BuildCurve(2, 3, pts, knots));
    Move(c, scale, shift);
    ExpectSharedStretchEnds(c, 0.3 - 5e-13, 0.7 - 5e-13, scale, shift);
  });
}

}  // namespace

namespace {

// The same in a parameter plane, the circle turned by 0 and 0.7 radians: the refinements of
// the plane stop up to the meeting gap off the curves, beside the short part's end or on that
// part; those stand for the end. Two meetings, the arc's ends, at every size and placement.
TEST_F(CurveMeetingsTest, AnArcJustAcrossACircleSeamInAParameterPlaneMeetsItAtItsEndsOnly) {
  AtEveryPlacement([](double scale, const double shift[3]) {
    const double origin[3] = {0, 0, 0};
    // The unit circle's points turned by `turn`, scaled and moved in the plane.
    auto plane = [&](Bspline* c, double turn) {
      std::vector<double> uv, knots, weights;
      for (int i = 0; i < NumCtrlU(c); ++i) {
        const double x = c->X[0][i], y = c->Y[0][i];
        uv.push_back(scale * (std::cos(turn) * x - std::sin(turn) * y + shift[0]));
        uv.push_back(scale * (std::sin(turn) * x + std::cos(turn) * y + shift[1]));
        weights.push_back(c->W[0][i]);
      }
      knots.assign(c->knotsU, c->knotsU + NumCtrlU(c) + c->degreeU + 1);
      return BuildCurve(c->degreeU, 2, uv, knots, weights);
    };
    for (const double turn : {0.0, 0.7})
      for (const double by : {1e-3, 1e-6})
        for (const bool past : {false, true})
          for (const bool swapped : {false, true}) {
            BsplineKeeper keep;
            Bspline* unit = keep(NewCircleBspline(origin, 1.0));
            Bspline* circle = keep(plane(unit, turn));
            Bspline* turned = keep(plane(unit, turn + (past ? by : -by)));
            Bspline* arc = keep(ExtractParamRange(turned, 0, past ? 0.8 : 0.0, past ? 1.0 : 0.2));
            ASSERT_NE(arc, nullptr);
            SCOPED_TRACE(::testing::Message() << turn << " " << by << " " << past << swapped);
            ExpectArcMeetsCircleAtItsEnds(arc, circle, swapped, scale, shift);
          }
  });
}

// A cubic with a cusp, (t^2, t^3) over [-1, 1], meets the line along its cusp tangent once, at
// the cusp: refinements from either side stop short of it (the gap falls as the cube of the
// distance), and the curve runs back along the line past the cusp, so that the middles of two
// such meetings' parameters lie apart though the curves stay together between them. Both
// orders, at every size and placement.
// A polyline that runs down a leg of another and back up it (its corner on that leg) shares two
// stretches with it, one each way, the second curve's parameter running down and back up: the
// ends of both are listed, the turn once, the same in either order, at every size and placement.
// The same where the polyline runs up past the other's corner and back (at the corner the two
// seem to cross, turning opposite ways), and for a closed zigzag along the leg, whose ends meet
// on it (that point listed once, at either end of the zigzag).
TEST_F(CurveMeetingsTest, APolylineDoublingBackAlongAnotherMeetsItAtEveryTurn) {
  struct Case {
    std::vector<double> pts, knots;
    std::vector<Meeting> turns;  // on the polyline, on the other curve
  };
  const std::vector<Case> cases = {
      {{1, 2, 0, 2, 2, 0, 4, 3, 0, 4, 2, 0, 4, 3, 0, 4.5, 3, 0}, {0, 0, .2, .4, .6, .8, 1, 1}, {{.4, .2}, {.6, .1}, {.8, .2}}},
      {{4, 0, 0, 4, 7, 0, 4, -0.5, 0}, {}, {{1.0 / 14, 0}, {3.0 / 7, .5}, {8.5 / 15, .5}, {.9, 0}}},
      {{4, 3, 0, 4, 2, 0, 4, 3, 0, 4, 2, 0, 4, 3, 0}, {}, {{0, .2}, {.25, .1}, {.5, .2}, {.75, .1}}}};
  AtEveryPlacement([&](double scale, const double shift[3]) {
    for (std::size_t c = 0; c < cases.size(); ++c)
      for (const bool swapped : {false, true}) {
        BsplineKeeper keep;
        Bspline* polyline = keep(BuildCurve(1, 3, cases[c].pts, cases[c].knots));
        Bspline* leg = keep(BuildCurve(1, 3, {4, 1, 0, 4, 6, 0, 6, 4, 0}));
        Move(polyline, scale, shift);
        Move(leg, scale, shift);
        std::vector<Meeting> m = swapped ? Meetings(leg, polyline) : Meetings(polyline, leg);
        for (Meeting& x : m) {
          if (swapped) std::swap(x.t1, x.t2);
          if (c == 2 && x.t1 == 1.0) x.t1 = 0.0;  // the zigzag's ends are one point
        }
        std::sort(m.begin(), m.end(), [](const Meeting& x, const Meeting& y) { return x.t1 < y.t1; });
        const std::vector<Meeting>& want = cases[c].turns;
        ASSERT_EQ(m.size(), want.size()) << c << " " << swapped << " scale " << scale << " shift " << shift[0];
        for (std::size_t i = 0; i < want.size(); ++i) {
          EXPECT_NEAR(m[i].t1, want[i].t1, 1e-9) << c << " " << swapped << " scale " << scale << " shift " << shift[0] << " " << i;
          EXPECT_NEAR(m[i].t2, want[i].t2, 1e-9) << c << " " << swapped << " scale " << scale << " shift " << shift[0] << " " << i;
        }
      }
  });
}

TEST_F(CurveMeetingsTest, ALineAlongACuspMeetsItOnce) {
  AtEveryPlacement([&](double scale, const double shift[3]) {
    BsplineKeeper keep;
    Bspline* cusp = keep(BuildCurve(3, 3, {1, -1, 0, -1.0 / 3, 1, 0, -1.0 / 3, -1, 0, 1, 1, 0}, {-1, -1, -1, -1, 1, 1, 1, 1}));
    Bspline* line = keep(BuildCurve(1, 3, {-0.5, 0.0, 0.0, 1.2, 0.0, 0.0}));
    Move(cusp, scale, shift);
    Move(line, scale, shift);
    for (bool cuspFirst : {true, false}) {
      const std::vector<Meeting> m = cuspFirst ? Meetings(cusp, line) : Meetings(line, cusp);
      ASSERT_EQ(m.size(), 1u) << scale << " " << shift[0] << " " << cuspFirst;
      double p[3], apex[3];
      RefEvalCurve(cusp, cuspFirst ? m[0].t1 : m[0].t2, p);
      RefEvalCurve(cusp, 0.0, apex);
      EXPECT_LT(VecDist3(p, apex), 1e-6 * scale) << scale << " " << shift[0] << " " << cuspFirst;
    }
  });
}

}  // namespace

namespace {

// A polyline that comes onto a leg of another, runs through its corner out along the next leg,
// turns back through the corner and leaves from the first leg again: a walk along the other
// curve finds the polyline's point at the corner on either pass, and a foot on the way back
// is no part of the way out. The meetings are the polyline's three turns on the other curve,
// exact, the corner passed over, in either order at every size and placement.
TEST_F(CurveMeetingsTest, APolylinePassingACornerTwiceMeetsItAtItsTurnsOnly) {
  const std::vector<double> corner = {5, 0, 0, 0, 0, 0, -8, -2, -6};
  const std::vector<double> twice = {4.125, -2, 3, 3.125, 0, 0, 0, 0, 0, -6, -1.5, -4.5, 0, 0, 0, 3.75, 0, 0, 4.75, 1, 0};
  const Meeting turns[3] = {{1.0 / 6, 0.1875}, {0.5, 0.875}, {5.0 / 6, 0.125}};
  AtEveryPlacement([&](double scale, const double shift[3]) {
    for (const bool swapped : {false, true}) {
      BsplineKeeper keep;
      Bspline* polyline = keep(BuildCurve(1, 3, twice));
      Bspline* other = keep(BuildCurve(1, 3, corner));
      Move(polyline, scale, shift);
      Move(other, scale, shift);
      const std::vector<Meeting> m = MeetingsAlong(polyline, other, swapped);
      ASSERT_EQ(m.size(), 3u) << swapped << " scale " << scale << " shift " << shift[0];
      for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(m[i].t1, turns[i].t1, 1e-9) << swapped << " scale " << scale << " shift " << shift[0] << " " << i;
        EXPECT_NEAR(m[i].t2, turns[i].t2, 1e-9) << swapped << " scale " << scale << " shift " << shift[0] << " " << i;
      }
    }
  });
}

}  // namespace

namespace {

// The cubic x = (0, a, b, 1) along dir, against the segment of the line from lo to hi along
// dir, meets it at the cubic's ends and turns (the roots of x'(t)), each once and exact, in
// either order (the line first when swapped) at every size and placement.
void ExpectFoldedCubicMeetsLineAtItsTurns(const double dir[3], double a, double b, double lo, double hi) {
  // x'(t) / 3 = a s^2 + 2 (b - a) s t + (1 - b) t^2 = qa t^2 + qb t + qc.
  const double qa = a - 2 * (b - a) + 1 - b, qb = 2 * (b - 2 * a), qc = a;
  const double root = std::sqrt(qb * qb - 4 * qa * qc);
  const double want[4] = {0.0, (-qb - root) / (2 * qa), (-qb + root) / (2 * qa), 1.0};
  AtEveryPlacement([&](double scale, const double shift[3]) {
    std::vector<double> cubicPts, linePts;
    for (const double xi : {0.0, a, b, 1.0})
      for (int q = 0; q < 3; ++q) cubicPts.push_back(xi * dir[q]);
    for (const double xi : {lo, hi})
      for (int q = 0; q < 3; ++q) linePts.push_back(xi * dir[q]);
    for (const bool swapped : {false, true}) {
      BsplineKeeper keep;
      Bspline* cubic = keep(BuildCurve(3, 3, cubicPts));
      Bspline* line = keep(BuildCurve(1, 3, linePts));
      Move(cubic, scale, shift);
      Move(line, scale, shift);
      const std::vector<Meeting> m = MeetingsAlong(cubic, line, swapped);
      ASSERT_EQ(m.size(), 4u) << a << " " << swapped << " scale " << scale << " shift " << shift[0];
      for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(m[i].t1, want[i], 1e-9)
            << a << " " << swapped << " scale " << scale << " shift " << shift[0] << " " << i;
        EXPECT_LT(Gap(cubic, line, m[i]), 1e-12 * scale + 64 * DBL_EPSILON * std::fabs(shift[1]) * scale);
      }
    }
  });
}

// A cubic on a line whose control points fold back along it, x(t) = 3 s^2 t (a) + 3 s t^2 (b) +
// t^3 along the line (s = 1 - t), turns back twice inside its one span, where x'(t) = 0 (the
// quadratic's roots), and a segment of the line covering it: three stretches, each way in turn,
// listed by the cubic's ends and its two turns, each once and exact, in either order at every
// size and placement.
TEST_F(CurveMeetingsTest, ACubicFoldedBackAlongALineMeetsItAtItsTurns) {
  const double dir[3] = {1, 2, 2};
  for (const double a : {3.0, 4.0}) ExpectFoldedCubicMeetsLineAtItsTurns(dir, a, -2.0 - (a - 3.0), -0.5, 1.5);
}

}  // namespace

namespace {

// A cubic folded back along a line (x(t) as above, turning where x'(t) = 0) against a segment of
// the line covering it, the line asked first: the foot on the cubic sought from the line leaps
// far along it where it nearly stops at a turn (the gap over a vanishing speed), and the gap of
// the foot before that leap is no gap of the one handed back. The meetings are the cubic's ends
// and its turns, in either order at every size and placement.
TEST_F(CurveMeetingsTest, ALineAlongACubicFoldedBackOnItMeetsItAtTheCubicsTurns) {
  struct Case {
    double dir[3], a, b, lo, hi;
  };
  const Case cases[3] = {
      {{0.19758106198933892, 0.66160306967817606, 0.72335544660670081}, 1.4866455651692112, -2.4137344103204463,
       -0.9467376673626966, 1.5},
      {{-0.16025706038322279, 0.56347307945539304, -0.81044170877761745}, 1.2450010062297525, -2.3137339505617449,
       -0.95558260598147782, 1.5},
      {{0.31189366894654225, -0.83996247072411045, 0.44405561256008547}, 1.432073855879644, -2.1379416731932577,
       -0.83594873749755261, 1.5}};
  for (const Case& c : cases) ExpectFoldedCubicMeetsLineAtItsTurns(c.dir, c.a, c.b, c.lo, c.hi);
}

// A polyline with a vertex doubled 1e-12 apart in space at ordinary knot spacing (a whole span
// where it stands still) and a polyline running along it across that vertex, or leaving it
// there: a step of the walk in parameter gives no step in space over the stall, and a foot from
// either side of it stops there. The stretch runs across the stall; where it ends there its end
// is the stall's far side (the stall is one point with it), in either order at every size and
// placement: meetings at the ends of the stretch only, the same parameters both ways.
TEST_F(CurveMeetingsTest, AStretchRunsAcrossAVertexDoubledAtOrdinaryKnotSpacing) {
  // The doubled vertex (1 0 0) and its copy moved 1e-12.
  const double x = 1 + 0.6e-12, y = -0.48e-12, z = 0.64e-12;
  struct Case {
    std::vector<double> along, still;
    Meeting ends[2];  // on `along`, on `still`
  };
  const Case cases[4] = {
      // Along the doubled polyline across its pair (a stall over [0.2, 0.4]), and leaving there.
      {{0.5, 0, 0, 1, 0, 0, 1, 0.5, 0}, {0, 0, 0, 1, 0, 0, x, y, z, 1, 1, 0, 2, 1, 0, 2, 2, 0}, {{0, 0.1}, {1, 0.5}}},
      {{0.5, 0, 0, 1, 0, 0, 1.5, 0, 1}, {0, 0, 0, 1, 0, 0, x, y, z, 1, 1, 0, 2, 1, 0, 2, 2, 0}, {{0, 0.1}, {0.5, 0.4}}},
      // The doubled polyline (a stall over [1/3, 2/3]) leaving the other at its pair.
      {{0, 0, 0, 1, 0, 0, 1, 1, 0, 2, 1, 0}, {0.5, 0, 0, 1, 0, 0, x, y, z, 1.5, 0, 1}, {{1.0 / 6, 0}, {1.0 / 3, 2.0 / 3}}},
      // Random float vertices, the pair a stall over [1/2, 2/3] where a vertex of the other lies:
      // there a step's foot predicted from a vanishing tangent lands on a leg far off.
      {{-0.36609697341918945, 0.46978530287742615, -0.6044577956199646, -0.21683630347251892, 0.1540999710559845,
        -0.34032214339822531, -0.16161096096038818, 0.37043899297714233, -0.59109550714492798, 0.29731196165084839,
        -0.28739291429519653, -0.12508024275302887, 0.45117005705833435, -0.61935758590698242, 0.17743377387523651},
       {0.44064897298812866, -0.99977123737335205, -0.3953348696231842, -0.70648819208145142, -0.81532281637191772,
        -0.62747955322265625, -0.30887854099273682, -0.20646506547927856, 0.077633462846279144, -0.16161096096038818,
        0.37043899297714233, -0.59109550714492798, -0.16161096095986394, 0.37043899297650029, -0.59109550714548742,
        0.75623488426208496, -0.9452248215675354, 0.34093502163887024, -0.16539038717746735, 0.11737965792417526,
        -0.71922612190246582},
       {{0.25, 0.4375}, {0.75, 0.75}}}};
  AtEveryPlacement([&](double scale, const double shift[3]) {
    for (int c = 0; c < 4; ++c)
      for (const bool swapped : {false, true}) {
        BsplineKeeper keep;
        Bspline* along = keep(BuildCurve(1, 3, cases[c].along));
        Bspline* still = keep(BuildCurve(1, 3, cases[c].still));
        Move(along, scale, shift);
        Move(still, scale, shift);
        const std::vector<Meeting> m = MeetingsAlong(along, still, swapped);
        ASSERT_EQ(m.size(), 2u) << c << " " << swapped << " scale " << scale << " shift " << shift[0];
        for (int i = 0; i < 2; ++i) {
          EXPECT_NEAR(m[i].t1, cases[c].ends[i].t1, 1e-9)
              << c << " " << swapped << " scale " << scale << " shift " << shift[0];
          EXPECT_NEAR(m[i].t2, cases[c].ends[i].t2, 1e-9)
              << c << " " << swapped << " scale " << scale << " shift " << shift[0];
        }
      }
  });
}

}  // namespace

namespace {

// Curves whose ends lie a gap below the meeting gap (1e-7 of the size) apart meet there, as a
// refined pair that close does; at 1e-5 of the size they do not. A line starts a gap g above a
// planar cubic's end or a point inside it (the cubic in z = 0, so g is the distance exactly) and
// rises away from it. The search had taken pieces more than 1e-12 of the size apart as holding
// no meeting, and missed these.
TEST_F(CurveMeetingsTest, EndsAGapBelowTheMeetingGapApartMeet) {
  AtEveryPlacement([&](double scale, const double shift[3]) {
    for (double at : {1.0, 0.5})
      for (double gap : {1e-10, 1e-8, 1e-5})
        for (const bool swapped : {false, true}) {
          BsplineKeeper keep;
          Bspline* cubic = keep(BuildCurve(3, 3, GraphPoints({0.0, 0.4, -0.2, 0.3, 0.1}, 3)));
          double P[3];
          RefEvalCurve(cubic, at, P);
          Bspline* line = keep(BuildCurve(1, 3, {P[0], P[1], gap, P[0] + 0.2, P[1] - 0.3, 0.5}));
          Move(cubic, scale, shift);
          Move(line, scale, shift);
          const std::vector<Meeting> m = MeetingsAlong(cubic, line, swapped);
          if (gap > 1e-7) {
            EXPECT_TRUE(m.empty()) << at << " " << gap << " " << swapped << " scale " << scale << " shift " << shift[0];
            continue;
          }
          ASSERT_EQ(m.size(), 1u) << at << " " << gap << " " << swapped << " scale " << scale << " shift " << shift[0];
          EXPECT_NEAR(m[0].t1, at, 1e-6) << gap << " " << swapped << " scale " << scale << " shift " << shift[0];
          EXPECT_NEAR(m[0].t2, 0.0, 1e-6) << gap << " " << swapped << " scale " << scale << " shift " << shift[0];
        }
  });
}

}  // namespace
