// Records in and out of the entry points: a record whose structure or values cannot be read is
// refused before anything reads it, a result handed back as a success passes the record check,
// inputs are changed only where a header says so and are left sound then, and no loop driven by
// a parameter, an angle or a key array runs on without end.
#include <climits>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "bspline/bsvalid.h"
#include "bspline/knots.h"
#include "bspline/refines2.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "bspline/subobj.h"
#include "construct/extend.h"
#include "construct/extrude.h"
#include "curve/cintsct.h"
#include "curve/cpoint.h"
#include "curve/crvfoot.h"
#include "curve/crvoffst.h"
#include "curve/mkline3.h"
#include "foundation/umalloc.h"
#include "quadric/qarc.h"
#include "shrinkwrap/shrink.h"
#include "shrinkwrap/smooth.h"
#include "splinefit/intrplt.h"
#include "surface/railsweep.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

using SoundRecords = KernelTest;

// A bicubic sheet of nu x nv control points over the unit square.
Bspline* Sheet(int nu, int nv, bool rational = false) {
  PatchOptions o;
  o.nu = nu, o.nv = nv, o.rational = rational;
  return BuildFunctionPatch([](double x, double y) { return 0.1 * x * y + 0.05 * x * x; }, o);
}

TEST_F(SoundRecords, MergedKnotsARoundOffApartBecomeOneValue) {
  // One vector holds 0.2 once, the other twice a round-off below it, then the same at 0.4.
  const double a[] = {0, 0, 0.2, 0.4, 1, 1};
  const double b[] = {0, 0, 0.19999999999999998, 0.19999999999999998, 0.39999999999999997, 1, 1 - 1e-17};
  double* c = nullptr;
  int n = 0;
  MergeKnotVectors(a, 6, b, 7, &c, &n);
  ASSERT_NE(c, nullptr);
  const std::vector<double> merged(c, c + n);
  Free(c);
  EXPECT_EQ(merged, (std::vector<double>{0, 0, 0.2, 0.2, 0.4, 1, 1}));
}

// A bicubic edge bridged to a quadratic curve: the pair is made compatible in place, and both,
// and the bridge, keep their knots in order (1/5 and its multiples computed two ways).
TEST_F(SoundRecords, BridgeToACurveOfAnotherDegreeKeepsEveryKnotInOrder) {
  int made = 0;
  for (int n = 4; n <= 9; ++n)
    for (int nc = 3; nc <= 9; ++nc)
      for (int edge = 0; edge < 4; ++edge) {
        BsplineKeeper keep;
        Bspline* s = keep(Sheet(n, n));
        std::vector<double> pts;
        for (int i = 0; i < nc; ++i) pts.insert(pts.end(), {1.5 + 0.1 * i, double(i) / (nc - 1), 0.2});
        Bspline* c = keep(BuildCurve(2, 3, pts, ClampedKnots(2, nc, 0.0, 3.0)));
        ClearKernelError();
        Bspline* bridge = keep(MakeBridgeObject(s, c, nullptr, 0.0, 0, edge, 1));
        if (bridge) ++made;
        EXPECT_TRUE(!bridge || BsplineSound(bridge)) << n << " " << nc << " edge " << edge;
        EXPECT_TRUE(BsplineSound(s) && BsplineSound(c)) << n << " " << nc << " edge " << edge;
      }
  EXPECT_GT(made, 100);
}

// Degree-1 profile and paths of different knots and ranges: the sweeps change the paths in
// place, as their headers say, and leave them and the result sound.
TEST_F(SoundRecords, SweepsOfPolylinesLeaveResultAndPathsSound) {
  for (int n1 = 2; n1 <= 7; ++n1)
    for (int n2 = 2; n2 <= 7; ++n2)
      for (int which = 0; which < 3; ++which) {
        BsplineKeeper keep;
        Bspline* profile = keep(BuildCurve(1, 3, {0, 0, 0, 0.5, 0.1, 0, 1, 0, 0}));
        std::vector<double> p1, p2;
        for (int i = 0; i < n1; ++i) p1.insert(p1.end(), {0.05 * std::sin(i), 0.01 * i * i, double(i) / (n1 - 1)});
        for (int i = 0; i < n2; ++i) p2.insert(p2.end(), {1 + 0.05 * std::sin(i), 0.02 * i, double(i) / (n2 - 1)});
        Bspline* a = keep(BuildCurve(1, 3, p1, ClampedKnots(1, n1, 0.0, 1.0 + n1)));
        Bspline* b = keep(BuildCurve(1, 3, p2, ClampedKnots(1, n2, 0.0, 0.7)));
        ClearKernelError();
        Bspline* r = keep(which == 0   ? ExtrudeW2PathCurves(profile, a, b, 1e-3)
                          : which == 1 ? SweepProfileAlongRails(profile, a, b, 1e-3)
                                       : ExtrudeW2Generators(a, b, profile));
        ASSERT_NE(r, nullptr) << n1 << " " << n2 << " " << which;
        EXPECT_TRUE(BsplineSound(r));
        EXPECT_TRUE(BsplineSound(a) && BsplineSound(b) && BsplineSound(profile));
      }
}

TEST_F(SoundRecords, InterpolationRefusesKnotsThatDecrease) {
  std::vector<double> x, y, z;
  const int nu = 4, nv = 6;
  for (int j = 0; j < nv; ++j)
    for (int i = 0; i < nu; ++i) x.push_back(i), y.push_back(j), z.push_back(0.1 * i * j);
  const std::vector<float> fx(x.begin(), x.end()), fy(y.begin(), y.end()), fz(z.begin(), z.end());
  double bad[] = {0, 0, 0, 0, 0.77, 0.11, 0.34, 0.66, 1, 1, 1, 1};
  double good[] = {0, 0, 0, 0, 0.11, 0.34, 0.66, 0.77, 1, 1, 1, 1};
  const std::vector<double> keptX = x;
  EXPECT_EQ(SurfaceInterpolate(x.data(), y.data(), z.data(), nu, nv, nullptr, bad, 3, 3), nullptr);
  EXPECT_TRUE(KernelFailedNow());
  EXPECT_EQ(x, keptX);
  ClearKernelError();
  EXPECT_EQ(SurfaceInterpolate_f(fx.data(), fy.data(), fz.data(), nu, nv, nullptr, bad, 3, 3), nullptr);
  EXPECT_TRUE(KernelFailedNow());
  ClearKernelError();
  Bspline* s = SurfaceInterpolate(x.data(), y.data(), z.data(), nu, nv, nullptr, good, 3, 3);
  ASSERT_NE(s, nullptr);
  EXPECT_TRUE(BsplineSound(s));
  FreeBspline(s);
}

// A rational bicubic (weights 0.5 to 2) extended towards lines beside each edge, near and
// tilted: every extension handed back is sound (the blend onto the bridge took weights below
// zero), and the surface keeps its weights.
TEST_F(SoundRecords, ExtensionsOfARationalSurfaceKeepWeightsPositive) {
  int made = 0;
  for (unsigned seed = 1; seed <= 2; ++seed)
    for (double gap : {0.3, 0.6})
      for (double tilt : {0.0, 0.5, 2.0})
        for (int edge = 0; edge < 4; ++edge)
          for (int cont = 0; cont <= 2; ++cont) {
            BsplineKeeper keep;
            ClearKernelError();
            PatchOptions o;
            o.rational = true, o.seed = seed, o.nu = 4, o.nv = 4;
            Bspline* s = keep(BuildFunctionPatch([](double x, double y) { return 0.3 * x * y + 0.2 * x * x; }, o));
            const bool inV = edge == 1 || edge == 3;
            const double at = edge == 0 || edge == 3 ? -gap : 1 + gap;
            const double a[3] = {inV ? -0.2 : at, inV ? at : -0.2, 0.4 + tilt};
            const double b[3] = {inV ? 1.3 : at + tilt, inV ? at + tilt : 1.3, -0.5};
            Bspline* line = keep(CreateLineBsplineDegree1(a, b));
            ASSERT_NE(line, nullptr);
            Bspline* e = keep(ExtendObject(s, line, nullptr, 0.0, 0, edge, cont, 1.0));
            if (e) ++made;
            EXPECT_TRUE(!e || BsplineSound(e)) << seed << " " << gap << " " << tilt << " edge " << edge << " cont " << cont;
            EXPECT_TRUE(e || KernelFailedNow());
            EXPECT_TRUE(BsplineSound(s));
          }
  EXPECT_GT(made, 50);
}

TEST_F(SoundRecords, FarOrNonFiniteParametersEndAtOnce) {
  BsplineKeeper keep;
  Bspline* c = keep(BuildCurve(3, 3, {0, 0, 0, 1, 0, 0, 2, 0, 0, 3, 0, 0}));  // straight: the search walks
  double dir[3] = {7, 7, 7};
  for (double t : {2.0, 1e6, 1e300, -1e300, kInf, -kInf}) {
    EXPECT_EQ(FindCrvOffsetDirection(c, t, dir), 0) << t;
    EXPECT_TRUE(std::isfinite(dir[0]) && std::isfinite(dir[1]) && std::isfinite(dir[2])) << t;
  }
  const double kept[3] = {dir[0], dir[1], dir[2]};
  EXPECT_EQ(FindCrvOffsetDirection(c, kNaN, dir), -2);
  EXPECT_EQ(dir[0], kept[0]);
  EXPECT_TRUE(KernelFailedNow());
  ClearKernelError();

  const double centre[3] = {1, 2, 3};
  for (double start : {-1e300, -kInf, kNaN}) {
    EXPECT_EQ(MakeArcZBspline(start, 90.0, centre, 1.0), nullptr) << start;
    EXPECT_TRUE(KernelFailedNow()) << start;
    ClearKernelError();
  }
  EXPECT_EQ(MakeArcZBspline(1e300, 90.0, centre, 1.0), nullptr);  // no positive sweep
  Bspline* arc = keep(MakeArcZBspline(-1e5, 30.0, centre, 1.0));  // a sweep of 278 turns
  ASSERT_NE(arc, nullptr);
  EXPECT_TRUE(BsplineSound(arc));
}

TEST_F(SoundRecords, ClosestPointsRefuseRecordsTheyCannotRead) {
  BsplineKeeper keep;
  const double P[3] = {0.3, 0.2, 1.0};
  // A surface whose domain runs backwards.
  Bspline* s = keep(Sheet(4, 4));
  s->umin = 1.0, s->umax = 0.0;
  double S[3], u = 0.5, v = 0.5, dist = 0.0, stepSq = 0.0, n[3];
  EXPECT_EQ(FindClosestUVPointGuessDist(s, P, S, &u, &v, &dist, &stepSq, 10), -2);
  EXPECT_EQ(FindClosestUVPointGuessNorm(s, P, S, &u, &v, &dist, &stepSq, 10, n), -2);
  ClearKernelError();
  // A NaN or infinite coordinate, of a polynomial curve and of a rational one.
  for (bool rational : {false, true})
    for (double bad : {kNaN, kInf}) {
      Bspline* c = keep(BuildRandomCurve(5, 3, 6, 3, rational));
      c->Y[0][2] = bad;
      double t = -7.0, C[3] = {-7, -7, -7};
      EXPECT_EQ(GlobalClosestOnCurve(c, P, &t, C), -2) << rational << " " << bad;
      EXPECT_EQ(t, -7.0);
      ClearKernelError();
    }
}

TEST_F(SoundRecords, GridSortsTakeAKeyArrayThatIsACoordinate) {
  std::vector<double> x = {3, 1, 2, 0, 5, 4}, y = {0, 1, 2, 3, 4, 5}, z = y;
  Sort3DPointsUsing1DPoints(x.data(), y.data(), z.data(), x.data(), 3, 2, 1);
  EXPECT_EQ(x, (std::vector<double>{1, 2, 3, 0, 4, 5}));
  EXPECT_EQ(y, (std::vector<double>{1, 2, 0, 3, 5, 4}));
  std::vector<double> v = {1, 1, 1, 0, 0, 0};
  Sort3DPointsUsing2DPoints(x.data(), y.data(), z.data(), x.data(), v.data(), 3, 2);
  Sort3DPointsUsing2DPoints(x.data(), y.data(), z.data(), v.data(), v.data(), 3, 2);
}

// The structural faults a caller's record may carry, one at a time.
struct Spoilt {
  const char* what;
  bool structural;  // false: a fault of the values, which only the whole-record check sees
  std::function<void(Bspline*)> spoil;
  std::function<void(Bspline*)> mend;
};

std::vector<Spoilt> Spoils() {
  auto knots = std::make_shared<double*>(nullptr);
  auto saved = std::make_shared<int>(0);
  return {
      {"null knots", true, [=](Bspline* b) { *knots = b->knotsU, b->knotsU = nullptr; },
       [=](Bspline* b) { b->knotsU = *knots; }},
      {"degree 23", true, [=](Bspline* b) { *saved = b->degreeU, b->degreeU = 23; }, [=](Bspline* b) { b->degreeU = *saved; }},
      {"count 2^31 - 1", true, [=](Bspline* b) { *saved = b->interiorU, b->interiorU = INT_MAX - b->degreeU - 1; },
       [=](Bspline* b) { b->interiorU = *saved; }},
      {"degree above the count", true, [=](Bspline* b) { *saved = b->interiorU, b->interiorU = -2; },
       [=](Bspline* b) { b->interiorU = *saved; }},
      {"domain backwards", false, [=](Bspline* b) { std::swap(b->umin, b->umax); }, [=](Bspline* b) { std::swap(b->umin, b->umax); }},
  };
}

// Every entry point here reads the record it is given, so each of the faults must be refused
// before it does: no crash, no read out of bounds, no record made.
TEST_F(SoundRecords, EntryPointsRefuseBrokenStructures) {
  // The spoilt record (a curve or a surface, as the entry takes) and a sound curve beside it;
  // true when the call refused.
  using Call = std::function<bool(Bspline* spoilt, Bspline* sound)>;
  struct Entry {
    const char* name;
    bool surface;
    Call call;
  };
  const std::vector<Entry> entries = {
      {"CopyBsplineStructAndChildren", true, [](Bspline* b, Bspline*) { return !CopyBsplineStructAndChildren(b); }},
      {"CopyBsplineStruct", false, [](Bspline* b, Bspline*) { return !CopyBsplineStruct(b); }},
      {"ReverseDirection", true, [](Bspline* b, Bspline*) { return ReverseDirection(b, 1), KernelFailed(); }},
      {"ReverseDirection", false, [](Bspline* b, Bspline*) { return ReverseDirection(b, 0), KernelFailed(); }},
      {"ExtractParamRange", true, [](Bspline* b, Bspline*) { return !ExtractParamRange(b, 0, 0.2, 0.7); }},
      {"ExtractParamRange", false, [](Bspline* b, Bspline*) { return !ExtractParamRange(b, 0, 0.2, 0.7); }},
      {"Intersect2Curve3", false, [](Bspline* b, Bspline* c) {
         double t1 = 0, t2 = 0;
         return Intersect2Curve3(b, c, &t1, &t2) == -2 && Intersect2Curve3(c, b, &t1, &t2) == -2;
       }},
      {"FindPntsOn2CurvesClosest", false, [](Bspline* b, Bspline* c) {
         double p1[3] = {9, 9, 9}, p2[3] = {9, 9, 9};
         return FindPntsOn2CurvesClosest(b, c, p1, p2) == 1 && p1[0] == 9 && p2[0] == 9;
       }},
      {"SimpleSmoothSurface", true, [](Bspline* b, Bspline*) {
         int fixed[4] = {0, 0, 0, 0};
         Bspline* r = nullptr;
         return SimpleSmoothSurface(b, fixed, 0.5, 1, &r) == -2 && !r;
       }},
      {"GlobalClosestOnCurve", false, [](Bspline* b, Bspline*) {
         const double P[3] = {0.2, 0.3, 0.4};
         double t = 0, C[3];
         return GlobalClosestOnCurve(b, P, &t, C) == -2;
       }},
      {"FindCrvOffsetDirection", false, [](Bspline* b, Bspline*) {
         double d[3];
         return FindCrvOffsetDirection(b, 0.5, d) == -2;
       }},
      {"ExtendObject", true, [](Bspline* b, Bspline*) { return !ExtendObject(b, nullptr, nullptr, 0.3, 0, 2, 1, 1.0); }},
      {"ExtendObject", false, [](Bspline* b, Bspline*) { return !ExtendObject(b, nullptr, nullptr, 0.3, 0, 2, 2, 1.0); }},
      {"SweepProfileAlongRails", false, [](Bspline* b, Bspline* c) {
         return !SweepProfileAlongRails(b, c, c, 1e-3) && !SweepProfileAlongRails(c, b, c, 1e-3);
       }},
      {"FindClosestUVPointGuessDist", true, [](Bspline* b, Bspline*) {
         const double P[3] = {0.2, 0.3, 0.4};
         double S[3], u = 0.5, v = 0.5, d, st;
         return FindClosestUVPointGuessDist(b, P, S, &u, &v, &d, &st, 5) == -2;
       }},
  };
  for (const Entry& e : entries)
    for (const Spoilt& s : Spoils()) {
      BsplineKeeper keep;
      ClearKernelError();
      Bspline* b = keep(e.surface ? Sheet(5, 4) : BuildRandomCurve(3, 3, 7));
      Bspline* sound = keep(BuildRandomCurve(4, 2, 5));
      ASSERT_TRUE(b && sound);
      // The copies and the reversal keep the values as they are: they check the structure.
      const std::string name = e.name;
      if (!s.structural && (name.rfind("Copy", 0) == 0 || name == "ReverseDirection")) continue;
      s.spoil(b);
      EXPECT_TRUE(e.call(b, sound)) << e.name << ": " << s.what;
      s.mend(b);
    }
}

}  // namespace
