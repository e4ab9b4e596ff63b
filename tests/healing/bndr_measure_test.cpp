// Edge samples, continuity measures and corner geometry of the boundary structure, checked
// against an independent reference (textbook evaluator, dense sampling, closest points by a
// one-dimensional minimisation of its own) and against the invariants the heal stages rely on.
#include "healing/srfbndr.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

#include "tests/healing/heal_groups.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

using namespace healtest;

namespace {

class BndrMeasure : public KernelTest {};

double KinkWave(double y) { return 1.5 + std::sin(3.14159265358979 * y); }

TEST_F(BndrMeasure, SamplesGapAndAngleAgreeWithAnIndependentReference) {
  for (bool reverse : {false, true}) {
    Group g;
    TwoPatches(g, KinkWave, reverse);
    ASSERT_TRUE(g.Build(0.02, 5.0));
    EdgeInfoStruct* e = g.FirstPaired();
    double refGap = 0, refAngle = 0;
    RefEdgeMeasures(g.srfs[0], e->infoA->side, g.srfs[1], e->infoB->side, &refGap, &refAngle);
    double gap = 0, tA = 0, tB = 0, angle = 0;
    ASSERT_EQ(ComputeMaxBndrEdgeGap(e, &gap, &tA, &tB), 0);
    ASSERT_EQ(BndrEdgeMaxNormalDiff(e, 0.0, &angle), 0);
    // The maxima lie inside the edge where both measures are flat: 100 samples find them.
    EXPECT_NEAR(gap, refGap, 2e-6) << reverse;
    EXPECT_NEAR(angle, refAngle, 2e-3) << reverse;
    EXPECT_EQ(e->maxGap, gap);
    EXPECT_EQ(e->maxAngle, angle);
    // The recorded parameters are a pair of the edge at that distance.
    double p[3], q[3];
    SidePoint(g.srfs[0], e->infoA->side, tA, p);
    SidePoint(g.srfs[1], e->infoB->side, tB, q);
    EXPECT_NEAR(Dist(p, q), gap, 1e-12);
    // The same from the basis tables.
    double gapNub = 0;
    ASSERT_EQ(ComputeMaxBndrEdgeGapNubVals(e, &gapNub, nullptr, nullptr), 0);
    EXPECT_NEAR(gapNub, gap, 1e-12);
    // Group measures: the one paired edge, whatever the resampling mode.
    for (int mode : {0, 1, 2}) {
      double mg = 0, ma = 0;
      ASSERT_EQ(ComputeSrfsGrpContinuity(g.bs, mode, 100, &mg, &ma), 0) << mode;
      EXPECT_NEAR(mg, refGap, 2e-6) << mode;
      EXPECT_NEAR(ma, refAngle, 2e-3) << mode;
    }
    double mg, ma;
    EXPECT_EQ(ComputeSrfsGrpContinuity(g.bs, 3, 100, &mg, &ma), -2);
    // The matched side's samples are the closest points of the driving side's (side A's unless
    // side B drives).
    const int drive = e->bDrives ? 1 : 0;
    const Bspline* S[2] = {g.srfs[0], g.srfs[1]};
    const int side[2] = {e->infoA->side, e->infoB->side};
    const double* at[2] = {e->sampleA, e->sampleB};
    const Bspline* M = S[1 - drive];
    for (int i = 1; i + 1 < e->nSample; ++i) {
      double p[3], q[3], r[3];
      SidePoint(S[drive], side[drive], at[drive][i], p);
      SidePoint(M, side[1 - drive], at[1 - drive][i], q);
      const double tRef = RefClosestParam(M, side[1 - drive], M->vmin, M->vmax, p);
      SidePoint(M, side[1 - drive], tRef, r);
      EXPECT_NEAR(Dist(p, q), Dist(p, r), 1e-9) << i;
    }
    // Matching again for the present driving samples finds the same matches.
    std::vector<double> before(at[1 - drive], at[1 - drive] + e->nSample);
    ASSERT_EQ(ReSampleNewBndryStruct(g.bs), 0);
    ASSERT_EQ(e->nSample, static_cast<int>(before.size()));
    const double* now = drive ? e->sampleA : e->sampleB;
    for (int i = 0; i < e->nSample; ++i) EXPECT_NEAR(now[i], before[i], 1e-9);
  }
}

// The reference's closest point, the yardstick of the healing suites: a point off a long rational
// side on random knots, along any normal to its tangent there, finds that parameter, and a point
// beyond an end along the tangent finds the end; on a domain not at the origin, at every size
// and far from the origin. Inside, the squared distance is flat to round-off over a range that
// grows with the square root of the coordinates' size (1e-9 here, 3e-7 at 1e4 sizes from the
// origin); at an end it rises linearly, and the range grows with their size (1e-16, 1.4e-12).
TEST_F(BndrMeasure, ReferenceClosestPointIsTheFootOfANormal) {
  for (double size : {1e-3, 1.0, 1e3})
    for (double far : {0.0, 1e4}) {
      SCOPED_TRACE(testing::Message() << "size " << size << " far " << far);
      auto at = [&](double v) { return (v + far) * size; };
      Group g;
      const Bspline* s = g.Add(BuildFunctionPatch(
          [&](double x, double y) { return at(Smooth(x / size - far, y / size - far)); },
          {.nu = 5, .nv = 60, .x0 = at(0), .x1 = at(1), .y0 = at(0), .y1 = at(2), .vmin = 2.0, .vmax = 5.0,
           .layout = KnotLayout::Random, .rational = true, .seed = 3}));
      const RefSideScan side(s, 1);  // u-min, running in v
      for (double f : {0.0123, 0.37, 0.5, 0.871})
        for (double turn : {0.0, 1.0, 2.5}) {
          const double t = 2.0 + 3.0 * f;
          double c[3], tan[3], n[3], across[3], P[3];
          SidePoint(s, 1, t, c);
          RefEvalDeriv(s, s->umin, t, 0, 1, tan);
          SideNormal(s, 1, t, n);
          across[0] = tan[1] * n[2] - tan[2] * n[1];
          across[1] = tan[2] * n[0] - tan[0] * n[2];
          across[2] = tan[0] * n[1] - tan[1] * n[0];
          for (int k = 0; k < 3; ++k)
            P[k] = c[k] + 0.02 * size * (std::cos(turn) * n[k] / Len(n) + std::sin(turn) * across[k] / Len(across));
          EXPECT_NEAR(RefClosestParam(side, P), t, far == 0.0 ? 2e-9 : 1e-6) << f << " " << turn;
        }
      for (double end : {2.0, 5.0}) {
        double c[3], tan[3], P[3];
        SidePoint(s, 1, end, c);
        RefEvalDeriv(s, s->umin, end, 0, 1, tan);
        for (int k = 0; k < 3; ++k) P[k] = c[k] + (end == 2.0 ? -0.01 : 0.01) * size * tan[k] / Len(tan);
        EXPECT_NEAR(RefClosestParam(side, P), end, far == 0.0 ? 1e-14 : 1e-11) << end;
      }
    }
}

// A natural side searched before its 3D form exists gets the form made once and kept.
TEST_F(BndrMeasure, ClosestPointSearchKeepsTheCurveFormItMakes) {
  Group g;
  TwoPatches(g, KinkWave, false);
  ASSERT_TRUE(g.Build(0.02, 5.0));
  CrvInfoStruct* c = &g.bs->crvs[4];  // B's u-min side
  ASSERT_EQ(c->side, 1);
  FreeBspline(c->crv3);
  c->crv3 = nullptr;
  const double P[3] = {1.0, 0.37, 0.2};
  double pt[3], t = -1;
  ASSERT_EQ(FindBndrCrvClosestPntSearch(c, P[0], P[1], P[2], 0, nullptr, nullptr, 0.0, 1.0, pt, &t), 0);
  ASSERT_NE(c->crv3, nullptr);
  const Bspline* form = c->crv3;
  EXPECT_NEAR(t, RefClosestParam(g.srfs[1], 1, 0.0, 1.0, P), 1e-7);
  ASSERT_EQ(FindBndrCrvClosestPntSearch(c, P[0], P[1], P[2], 0, nullptr, nullptr, 0.0, 0.3, pt, &t), 0);
  EXPECT_EQ(c->crv3, form);
  EXPECT_LE(t, 0.3);
}

TEST_F(BndrMeasure, FoldedAnglesAndTheVectorHelpers) {
  // Opposite-facing normals 179 degrees apart count as 1 degree, turned to the first's side.
  const double n0[3] = {0, 0, 1}, tiny[3] = {1e-8, 0, 0};
  const double n179[3] = {std::sin(179 * kDeg), 0, std::cos(179 * kDeg)};
  double sum[3] = {0, 0, 0};
  int count = 0;
  ASSERT_EQ(AddOneNormalizedVecToSumVec(n0, n179, sum, &count), 0);
  EXPECT_GT(sum[2], 0.99);
  EXPECT_EQ(AddOneNormalizedVecToSumVec(n0, tiny, sum, &count), -2);
  EXPECT_EQ(count, 1);
  // The source turned to the target's side, whatever its length.
  for (double sgn : {1.0, -1.0}) {
    const double src[3] = {1, 0, -2 * sgn};
    double dst[3] = {0, 0, 5};
    ASSERT_EQ(VecProjectReverse3(src, dst), 0);
    EXPECT_TRUE(dst[0] == -sgn && dst[2] == 2.0);
  }

  // One vanished tangent stays zero, the other is only normalised; a vanished normal leaves
  // everything as it was.
  double qA[3] = {0, 0, 1}, qB[3] = {0, 0, 1}, zA[3] = {0, 0, 0}, zB[3] = {0, 3, 0};
  ASSERT_EQ(FindEdgeCommonTangent(qA, qB, zA, zB), 0);
  EXPECT_EQ(Len(zA), 0.0);
  EXPECT_EQ(zB[1], 1.0);
  double wA[3] = {0, 0, 0}, wB[3] = {0, 0, 1}, uA[3] = {1, 1, 0}, uB[3] = {2, 0, 0};
  ASSERT_EQ(FindEdgeCommonTangent(wA, wB, uA, uB), 0);
  EXPECT_TRUE(uA[1] == 1.0 && uB[0] == 2.0);

  // A seam along x: normals kinked about it give the planes' common line, x itself; normals
  // twisted across it (turned about y) would give a line along y, across the seam, and the
  // sides' own mean direction is kept instead.
  for (bool twist : {false, true}) {
    const double r = 3 * kDeg;
    double nA[3] = {0, 0, 1}, nB[3] = {0, twist ? 0.0 : std::sin(r), std::cos(r)};
    if (twist) nB[0] = std::sin(r);
    double tA[3] = {1, 0.02, 0}, tB[3] = {-1, 0.02, 0};
    ASSERT_EQ(FindEdgeCommonTangent(nA, nB, tA, tB), 0);
    EXPECT_GT(std::fabs(tA[0]), 0.99) << twist;
    EXPECT_GT(std::fabs(tB[0]), 0.99) << twist;
    EXPECT_LT(tA[0] * tB[0], 0.0) << twist;  // each keeps its own side's sense
  }
}

// Every edge end at a corner sits on the corner; paired ends share tangents perpendicular to
// their normals; the averaged samples end on the corners.
void ExpectCornerGeometry(const BndrStruct* bs) {
  for (int c = 0; c < bs->nCorner; ++c) {
    const CornerInfoStruct& ci = bs->corners[c];
    for (int k = 0; k < ci.nEdge; ++k) {
      const EdgeInfoStruct& e = bs->edges[ci.edgeIds[k]];
      for (int end = 0; end < 2; ++end) {
        if ((end ? e.corner1 : e.corner0) != c) continue;
        const int b = e.orient ? BndrSlot(1, end) : BndrSlot(1, 1 - end);
        EXPECT_EQ(Dist(e.pnt[BndrSlot(0, end)], ci.pos), 0.0);
        EXPECT_EQ(Dist(e.pnt[b], ci.pos), 0.0);
        const int i = end ? e.nSample - 1 : 0;
        const double a[3] = {e.avgX[i], e.avgY[i], e.avgZ[i]};
        EXPECT_EQ(Dist(a, ci.pos), 0.0);
        if (!e.paired) continue;
        EXPECT_NEAR(std::fabs(Dot(e.tan[BndrSlot(0, end)], e.tan[b])), 1.0, 1e-9);
        EXPECT_NEAR(Dot(e.tan[b], e.nrm[b]), 0.0, 1e-9);
      }
    }
  }
}

TEST_F(BndrMeasure, CornerGeometryOfAGrid) {
  Group g;
  Grid2x2(g, 0.002, 11);
  ASSERT_TRUE(g.Build(0.02, 5.0));
  BndrStruct* bs = g.bs;
  ASSERT_EQ(SetUpBndrEdgeCornerGeometry(bs), 0);
  ExpectCornerGeometry(bs);
  // Free paired edges aim at the midpoints of their two sides.
  int centre = -1;
  for (int i = 0; i < bs->nEdge; ++i) {
    const EdgeInfoStruct& e = bs->edges[i];
    if (!e.paired) continue;
    ASSERT_EQ(e.continuity, 1);
    for (int k = 1; k + 1 < e.nSample; ++k) {
      double p[3], q[3];
      SidePoint(e.infoA->srf, e.infoA->side, e.sampleA[k], p);
      SidePoint(e.infoB->srf, e.infoB->side, e.sampleB[k], q);
      EXPECT_NEAR(e.avgX[k], 0.5 * (p[0] + q[0]), 1e-12);
      EXPECT_NEAR(e.avgZ[k], 0.5 * (p[2] + q[2]), 1e-12);
    }
  }
  // At the middle corner all four surfaces meet smoothly: one agreed normal for every end.
  for (int c = 0; c < bs->nCorner; ++c)
    if (bs->corners[c].nEdge == 4) centre = c;
  ASSERT_GE(centre, 0);
  const CornerInfoStruct& mid = bs->corners[centre];
  double ref[6];
  int cnt = 0;
  ASSERT_EQ(GetBndrEdgeNormalAtCorner(bs, mid.edgeIds[0], centre, ref, &cnt), 0);
  ASSERT_EQ(cnt, 2);
  auto expectAgreed = [&](int sides, double tol) {
    for (int k = 0; k < mid.nEdge; ++k) {
      double nn[6];
      ASSERT_EQ(GetBndrEdgeNormalAtCorner(bs, mid.edgeIds[k], centre, nn, &cnt), 0);
      for (int s = 0; s < sides; ++s) EXPECT_NEAR(std::fabs(Dot(nn + 3 * s, ref)), 1.0, tol) << k;
    }
  };
  expectAgreed(2, 1e-12);
  // Moving corners keeps every end on its corner.
  ASSERT_EQ(RefineBndrCornerPositions(bs), 0);
  ExpectCornerGeometry(bs);
  // Both averaging variants agree on one normal too.
  ASSERT_EQ(AverageBndrTopoCornerNormals(bs, centre), 0);
  expectAgreed(2, 1e-9);
  ASSERT_EQ(NewAverageBndrTopoCornerNormals(bs, centre), 0);
  EXPECT_EQ(mid.nSrfId, 4);
  expectAgreed(1, 1e-9);
}

// Two coarse flat quintic nets of one span (6 x 6, legs of a fifth of their width) above each
// other and beside them two fine ones (18 x 6, their first rows a few thousandths of that away),
// meeting along a straight seam at a kink of theta below the angle limit; at the middle corner
// all four seams are paired and smooth. The legs there lie in two planes through the seam's line,
// and the plane they lie closest to, each leg's direction weighted by its length, is the principal
// axis of two directions: tilted from the coarse plane by phi with tan 2 phi = w sin 2 theta /
// (W + w cos 2 theta), W and w the coarse and the fine legs across. So the corner's normal leans
// on the coarse nets, which would swing their one-span rows their long legs times any turn, where
// the plain mean of the normals halved the kink. At every size, far from the origin.
TEST_F(BndrMeasure, CornerNormalLeansOnTheLongerLegs) {
  constexpr double kTheta = 3.0 * 3.14159265358979323846 / 180.0, kFine = 0.05;
  const struct {
    double size;
    bool far;
  } kPlaces[] = {{1e-3, true}, {1.0, false}, {1e3, true}};
  for (const auto& [size, far] : kPlaces) {
    SCOPED_TRACE(testing::Message() << "size " << size << (far ? " far" : ""));
    const double shift = far ? 1e4 * size : 0.0;
    auto at = [&](std::vector<double>& pts, double x, double y, double z) {
      const double p[3] = {x, y, z};
      for (int d = 0; d < 3; ++d) pts.push_back((d + 1) * shift + size * p[d]);
    };
    const std::vector<double> kf = ClampedKnots(5, 18);
    Group g;
    std::vector<double> coarse, fine;
    for (const double y0 : {-1.0, 0.0}) {
      coarse.clear();
      fine.clear();
      for (int j = 0; j < 6; ++j) {
        for (int i = 0; i < 6; ++i) at(coarse, -1.0 + i / 5.0, y0 + j / 5.0, 0.0);
        for (int i = 0; i < 18; ++i) {
          double t = 0.0;
          for (int q = 1; q <= 5; ++q) t += kf[i + q] / 5.0;
          at(fine, kFine * t * std::cos(kTheta), y0 + j / 5.0, kFine * t * std::sin(kTheta));
        }
      }
      g.Add(BuildSurface(5, 5, 6, 6, coarse));
      g.Add(BuildSurface(5, 5, 18, 6, fine));
    }
    ASSERT_TRUE(g.Build(1e-3 * size, 5.0));
    ASSERT_EQ(SetUpBndrEdgeCornerGeometry(g.bs), 0);
    int middle = -1;
    for (int c = 0; c < g.bs->nCorner; ++c)
      if (g.bs->corners[c].nEdge == 4) middle = c;
    ASSERT_GE(middle, 0);
    const double W = std::hypot(coarse[15] - coarse[12], coarse[16] - coarse[13], coarse[17] - coarse[14]);
    const double w = std::hypot(fine[3] - fine[0], fine[4] - fine[1], fine[5] - fine[2]);
    const double phi = 0.5 * std::atan2(w * std::sin(2.0 * kTheta), W + w * std::cos(2.0 * kTheta));
    const CornerInfoStruct& mid = g.bs->corners[middle];
    for (int k = 0; k < mid.nEdge; ++k) {
      ASSERT_EQ(g.bs->edges[mid.edgeIds[k]].continuity, 1);
      double nn[6];
      int count = 0;
      ASSERT_EQ(GetBndrEdgeNormalAtCorner(g.bs, mid.edgeIds[k], middle, nn, &count), 0);
      ASSERT_EQ(count, 2);
      for (int side = 0; side < 2; ++side) {
        const double* n = nn + 3 * side;
        // Its angle from the coarse plane's normal (0, 0, 1), turned towards the fine one.
        EXPECT_NEAR(std::atan2(std::hypot(n[0], n[1]), std::fabs(n[2])), phi, 1e-9) << "edge " << k;
        EXPECT_NEAR(n[1], 0.0, 1e-9);
        EXPECT_LT(n[0] * n[2], 0.0);
      }
    }
  }
}

// The smooth joint of two patches with their corners set up, side A's surface fixed or free;
// null when the group does not come out so.
EdgeInfoStruct* SmoothJoint(Group& g, bool fixed) {
  TwoPatches(g, KinkWave, !fixed);
  if (!g.Build(0.02, 5.0)) return nullptr;
  g.bs->srfs[0].fixed = fixed;
  if (SetSkinSrfsFixedCrvs(g.bs) != 0 || SetUpBndrEdgeCornerGeometry(g.bs) != 0) return nullptr;
  EdgeInfoStruct* e = g.FirstPaired();
  return e && e->continuity == 1 ? e : nullptr;
}

// The mean length of the legs from a side's boundary row to the row inside.
double MeanLegAcross(const Bspline* s, int side) {
  const int nu = NumCtrlU(s), nv = NumCtrlV(s);
  const bool alongU = side == 2 || side == 4;
  const int along = alongU ? nu : nv, r0 = side == 1 || side == 2 ? 0 : (alongU ? nv : nu) - 1;
  const int r1 = r0 == 0 ? 1 : r0 - 1;
  double sum = 0.0;
  for (int m = 0; m < along; ++m) {
    const int k0 = alongU ? r0 * nu + m : m * nu + r0, k1 = alongU ? r1 * nu + m : m * nu + r1;
    sum += std::hypot(s->X[0][k1] - s->X[0][k0], s->Y[0][k1] - s->Y[0][k0], s->Z[0][k1] - s->Z[0][k0]);
  }
  return sum / along;
}

// The averaged targets of a seam: where side A is fixed, its own points and normals (its ends
// are the corners); on a free smooth joint the normals divide the two sides' angle theta
// inversely to the legs across their nets (tan phiA = wB sin theta / (wA + wB cos theta), w the
// legs' shares: nearly halves here) and a curve lies half the gap from its targets.
TEST_F(BndrMeasure, AveragedTargetsOfFixedAndFreeJoints) {
  for (bool fixed : {true, false}) {
    Group g;
    EdgeInfoStruct* e = SmoothJoint(g, fixed);
    ASSERT_NE(e, nullptr);
    ExpectCornerGeometry(g.bs);
    ASSERT_EQ(fixed ? EvalAllBndrEdgeAvgSampleNormals(g.bs) : EvalBndrEdgeAvgSampleNormals(e), 0);
    for (int end = 0; fixed && end < 2; ++end) {
      double p[3];
      SidePoint(g.srfs[0], e->infoA->side, e->par[BndrSlot(0, end)], p);
      EXPECT_LT(Dist(p, g.bs->corners[end ? e->corner1 : e->corner0].pos), 1e-15);
    }
    for (int k = 0; k < e->nSample; ++k) {
      double p[3], na[3], nb[3];
      SidePoint(g.srfs[0], e->infoA->side, e->sampleA[k], p);
      SideNormal(g.srfs[0], e->infoA->side, e->sampleA[k], na);
      SideNormal(g.srfs[1], e->infoB->side, e->sampleB[k], nb);
      const double a[3] = {e->avgX[k], e->avgY[k], e->avgZ[k]}, an[3] = {e->avgNx[k], e->avgNy[k], e->avgNz[k]};
      EXPECT_NEAR(Len(an), 1.0, 1e-12);
      const bool inner = k > 0 && k + 1 < e->nSample;  // the ends follow the corner normals
      if (fixed) {
        EXPECT_LT(Dist(p, a), 1e-12) << k;
        EXPECT_NEAR(inner ? Dot(an, na) / Len(na) : 1.0, 1.0, 1e-12) << k;
      } else if (inner) {
        const double legA = MeanLegAcross(g.srfs[0], e->infoA->side), legB = MeanLegAcross(g.srfs[1], e->infoB->side);
        const double wB = legB / (legA + legB), theta = RefFoldedAngle(na, nb) * kDeg;
        const double phiA = std::atan2(wB * std::sin(theta), 1.0 - wB + wB * std::cos(theta)) / kDeg;
        EXPECT_NEAR(RefFoldedAngle(an, na), phiA, 1e-6) << k;
        EXPECT_NEAR(RefFoldedAngle(an, na) + RefFoldedAngle(an, nb), RefFoldedAngle(na, nb), 1e-6) << k;
      }
    }
    if (fixed) continue;
    double d = 0, t = 0, gap = 0;
    ASSERT_EQ(ComputeMaxBndrCrvToEdgeSampleDiff(e->infoA, g.bs->edges, g.bs->nEdge, &d, &t), 0);
    ASSERT_EQ(ComputeMaxBndrEdgeGap(e, &gap, nullptr, nullptr), 0);
    EXPECT_NEAR(d, 0.5 * gap, 1e-12);
  }
}

// The tangential heal's pass reads each side's normal at each sample once for the averaged
// normals and the largest angle: both come out bit for bit as the two measures give them one
// after the other, on a fixed side and on a free smooth joint; with its scratch refused it
// reports the failure and leaves nothing behind.
TEST_F(BndrMeasure, SharedSampleNormalsGiveTheAveragesAndTheAngleOfTheTwoMeasures) {
  for (bool fixed : {true, false}) {
    Group g;
    EdgeInfoStruct* e = SmoothJoint(g, fixed);
    ASSERT_NE(e, nullptr);
    double angle = -1.0;
    ASSERT_EQ(EvalBndrEdgeAvgSampleNormals(e), 0);
    ASSERT_EQ(BndrEdgeMaxNormalDiff(e, 0.0, &angle), 0);
    const int n = e->nSample;
    ASSERT_GT(n, 2);
    const std::vector<double> ax(e->avgNx, e->avgNx + n), ay(e->avgNy, e->avgNy + n), az(e->avgNz, e->avgNz + n);
    e->maxAngle = -1.0;
    int avgStatus = 1;
    double shared = -1.0;
    ASSERT_EQ(EvalBndrEdgeAvgSampleNormalsAndMaxDiff(e, &avgStatus, &shared), 0) << fixed;
    EXPECT_EQ(avgStatus, 0);
    EXPECT_EQ(std::memcmp(&shared, &angle, sizeof angle), 0) << shared << " " << angle;
    EXPECT_EQ(e->maxAngle, angle);
    for (int k = 0; k < n; ++k) {
      EXPECT_EQ(std::memcmp(&e->avgNx[k], &ax[k], sizeof(double)), 0) << k;
      EXPECT_EQ(std::memcmp(&e->avgNy[k], &ay[k], sizeof(double)), 0) << k;
      EXPECT_EQ(std::memcmp(&e->avgNz[k], &az[k], sizeof(double)), 0) << k;
    }
    EXPECT_EQ(EvalBndrEdgeAvgSampleNormalsAndMaxDiff(nullptr, &avgStatus, &shared), -2);
    EXPECT_EQ(EvalBndrEdgeAvgSampleNormalsAndMaxDiff(e, nullptr, &shared), -2);
    const int failed = RunWithInjectedFailures(12, 1, [&] {
      int st = 0;
      double a = 0.0;
      const int r = EvalBndrEdgeAvgSampleNormalsAndMaxDiff(e, &st, &a);
      if (r == 0 && st == 0) {
        EXPECT_EQ(a, angle);
      }
      return r == 0 && st == 0 ? 0 : -2;
    });
    EXPECT_GT(failed, 0);
    EXPECT_LT(failed, 12);
  }
}

TEST_F(BndrMeasure, ASmoothNeighbourHandsItsTangentsToAKinkedOne) {
  Group g;
  TJunction(g);
  ASSERT_TRUE(g.Build(0.01, 5.0));
  ASSERT_EQ(SetUpBndrEdgeCornerGeometry(g.bs), 0);
  const CrvInfoStruct& lng = g.bs->crvs[2];
  ASSERT_EQ(lng.nEdge, 2);
  EdgeInfoStruct* first = &g.bs->edges[lng.edgeIds[0]];
  EdgeInfoStruct* second = &g.bs->edges[lng.edgeIds[1]];
  first->continuity = 1;
  second->continuity = 0;
  const int s1 = first->crvA == 2 ? 0 : 1, s2 = second->crvA == 2 ? 0 : 1;
  const double marker[3] = {0.6, 0.8, 0.0};
  std::copy(marker, marker + 3, first->tan[BndrSlot(s1, 1)]);
  ASSERT_EQ(ModifyBndrCrvG0EdgesEndTangents(g.bs, 2), 0);
  EXPECT_EQ(Dist(second->tan[BndrSlot(s2, 0)], marker), 0.0);
  // The smooth edge itself keeps its own.
  const double other[3] = {0.0, 0.6, 0.8};
  std::copy(other, other + 3, second->tan[BndrSlot(s2, 0)]);
  first->continuity = 0;
  second->continuity = 1;
  ASSERT_EQ(ModifyBndrCrvG0EdgesEndTangents(g.bs, 2), 0);
  EXPECT_EQ(Dist(first->tan[BndrSlot(s1, 1)], other), 0.0);
}

TEST_F(BndrMeasure, InjectedFailuresInResamplingAndCornerSetUp) {
  Group g;
  Grid2x2(g, 0.002, 5);
  ASSERT_TRUE(g.Build(0.02, 5.0));
  long before = MallocRuntimeRequests();
  ASSERT_EQ(SetUpBndrEdgeCornerGeometry(g.bs), 0);
  double mg, ma;
  ASSERT_EQ(ComputeSrfsGrpContinuity(g.bs, 2, 100, &mg, &ma), 0);
  const long used = MallocRuntimeRequests() - before;
  const int failures = RunWithInjectedFailures(used + 5, std::max(1L, used / 80), [&] {
    if (SetUpBndrEdgeCornerGeometry(g.bs) != 0) return -2;
    double a, b;
    return ComputeSrfsGrpContinuity(g.bs, 2, 100, &a, &b);
  });
  EXPECT_GT(failures, 0);
  // The structure stays usable after every failure.
  ASSERT_EQ(ComputeSrfsGrpContinuity(g.bs, 2, 100, &mg, &ma), 0);
  ASSERT_EQ(SetUpBndrEdgeCornerGeometry(g.bs), 0);
  ExpectCornerGeometry(g.bs);
}

// Two planar patches meeting at x = 1 with a dihedral kink of k degrees and no gap: the first
// corner set-up records the crease's start, its angle at both ends and along it the kink
// itself, signed as one fold (both ends alike, the other way for the opposite kink).
TEST_F(BndrMeasure, ACreaseRecordsItsStartingFoldAndItsCornersGoFlatOnlyWhenItRises) {
  double sign[2] = {0, 0};
  for (int way = 0; way < 2; ++way) {
    const double kink = way ? -8.0 : 8.0;
    Group g;
    TwoPatches(
        g, [=](double) { return kink; }, way == 1, [](double) { return 0.0; }, [](double, double) { return 0.0; });
    ASSERT_TRUE(g.Build(0.05, 5.0));
    ASSERT_EQ(SetUpBndrEdgeCornerGeometry(g.bs), 0);
    EdgeInfoStruct* e = g.FirstPaired();
    ASSERT_NE(e, nullptr);
    ASSERT_EQ(e->continuity, 0);
    ASSERT_TRUE(e->startSet);
    EXPECT_NEAR(e->startMaxAngle, 8.0, 1e-6);
    EXPECT_NEAR(std::fabs(e->startEndAngle[0]), 8.0, 1e-6);
    EXPECT_EQ(e->startEndAngle[0], e->startEndAngle[1]);
    sign[way] = e->startEndAngle[0];
    // Nothing rose: no corner goes flat. Two degrees more on side B's plane: both corners of
    // the crease are marked once per call, at most twice.
    EXPECT_EQ(FlattenRisenCreaseCorners(g.bs, 0.5), 0);
    Bspline* b = g.srfs[1];  // x in [1, 2]
    const double lift = std::tan((kink > 0 ? 10.0 : -10.0) * kDeg) - std::tan(kink * kDeg);
    for (int j = 0; j < NumCtrlV(b); ++j)
      for (int i = 0; i < NumCtrlU(b); ++i) b->Z[j][i] += lift * (b->X[j][i] - 1.0);
    FreeBsplineProperties(b);
    EXPECT_EQ(FlattenRisenCreaseCorners(g.bs, 2.1), 0);
    EXPECT_EQ(FlattenRisenCreaseCorners(g.bs, 1.9), 2);
    EXPECT_EQ(g.bs->corners[e->corner0].flat + g.bs->corners[e->corner1].flat, 2);
    EXPECT_EQ(FlattenRisenCreaseCorners(g.bs, 0.5), 2);
    EXPECT_EQ(FlattenRisenCreaseCorners(g.bs, 0.5), 0);
    EXPECT_EQ(g.bs->corners[e->corner0].flat + g.bs->corners[e->corner1].flat, 4);
    // Forgotten, the next set-up records the group as it is now.
    ASSERT_EQ(ForgetBndrEdgeStarts(g.bs), 0);
    EXPECT_FALSE(g.bs->corners[e->corner0].flat || e->startSet);
    ASSERT_EQ(SetUpBndrEdgeCornerGeometry(g.bs), 0);
    EXPECT_NEAR(e->startMaxAngle, 10.0, 1e-6);
  }
  EXPECT_LT(sign[0] * sign[1], 0.0);
}

// Four planes meeting at (1, 1): a crease of 8 degrees along x = 1, crossed there by the smooth
// seam along y = 1. Risen by 2 degrees, the crease has its outer corners marked flat but not the
// one the smooth seam ends at: laid towards one plane there, the crease would turn the smooth
// seam's end tangents off their line and bow the sides held to them.
TEST_F(BndrMeasure, ARisenCreaseLeavesFlatTheCornerWhereASmoothSeamEnds) {
  Group g;
  const double slope = std::tan(8.0 * kDeg);
  for (int j = 0; j < 2; ++j)
    for (int i = 0; i < 2; ++i) {
      PatchOptions o;
      o.x0 = i, o.x1 = i + 1.0, o.y0 = j, o.y1 = j + 1.0;
      g.Add(BuildFunctionPatch([=](double x, double) { return i ? slope * (x - 1.0) : 0.0; }, o));
    }
  ASSERT_TRUE(g.Build(0.05, 5.0));
  ASSERT_EQ(SetUpBndrEdgeCornerGeometry(g.bs), 0);
  std::vector<int> creaseCorners, smoothCorners;
  for (int k = 0; k < g.bs->nEdge; ++k) {
    const EdgeInfoStruct* e = &g.bs->edges[k];
    const bool smooth = e->paired && IsBndrEdgeHealedSmooth(e) == 1;
    if (!e->paired || (!smooth && e->continuity != 0)) continue;
    std::vector<int>& to = smooth ? smoothCorners : creaseCorners;
    to.insert(to.end(), {e->corner0, e->corner1});
  }
  ASSERT_EQ(creaseCorners.size(), 4u);
  ASSERT_EQ(smoothCorners.size(), 4u);
  for (Bspline* b : {g.srfs[1], g.srfs[3]}) {  // the right-hand planes, x in [1, 2]
    const double lift = std::tan(10.0 * kDeg) - slope;
    for (int j = 0; j < NumCtrlV(b); ++j)
      for (int i = 0; i < NumCtrlU(b); ++i) b->Z[j][i] += lift * (b->X[j][i] - 1.0);
    FreeBsplineProperties(b);
  }
  EXPECT_EQ(FlattenRisenCreaseCorners(g.bs, 1.9), 2);
  for (int c : creaseCorners) {
    const bool crossed = std::count(smoothCorners.begin(), smoothCorners.end(), c) > 0;
    EXPECT_EQ(g.bs->corners[c].flat, crossed ? 0 : 1) << "corner " << c;
  }
}

// A crease of 6 degrees along its length whose row of side B at y = 0 kinks it by 10 (a jittered
// corner's spike): its start records 10 degrees at that end but, where its inside begins (the
// sample nearest a tenth of it), the kink blended by that row's basis function, (1 - 4y)^3; at
// the other end 6 degrees at both. Both are signed as the fold, whichever way it turns.
TEST_F(BndrMeasure, ACreaseRecordsItsAngleWhereItsInsideBegins) {
  const auto blended = [](double w) {
    return std::atan(std::tan(6.0 * kDeg) + w * (std::tan(10.0 * kDeg) - std::tan(6.0 * kDeg))) / kDeg;
  };
  for (bool reverse : {false, true})
    for (double way : {1.0, -1.0}) {
      SCOPED_TRACE(testing::Message() << "way " << way << (reverse ? " reversed" : ""));
      Group g;
      TwoPatches(
          g, [=](double y) { return way * (std::fabs(y) < 0.01 ? 10.0 : 6.0); }, reverse,
          [](double) { return 0.0; }, [](double, double) { return 0.0; });
      ASSERT_TRUE(g.Build(0.05, 5.0));
      ASSERT_EQ(SetUpBndrEdgeCornerGeometry(g.bs), 0);
      EdgeInfoStruct* e = g.FirstPaired();
      ASSERT_NE(e, nullptr);
      ASSERT_TRUE(e->startSet);
      EXPECT_EQ(IsBndrEdgeHealedSmooth(e), 0);
      EXPECT_NEAR(std::fabs(e->startEndAngle[0]), 10.0, 1e-6);
      EXPECT_NEAR(std::fabs(e->startEndAngle[1]), 6.0, 1e-6);
      // The sample nearest a tenth lies just past it (10 of 99), where the row weighs 0.212.
      EXPECT_NEAR(std::fabs(e->startInsideAngle[0]), blended(std::pow(1.0 - 4.0 * 10.0 / 99.0, 3.0)), 1e-3);
      EXPECT_NEAR(std::fabs(e->startInsideAngle[1]), 6.0, 1e-6);
      for (int end = 0; end < 2; ++end) EXPECT_GT(e->startInsideAngle[end] * e->startEndAngle[end], 0.0);
    }
}

// Two planes of 258 rows along x = 1, side B turned up by angle(y) degrees, read at 400 samples:
// the seam's edge with its start recorded, or null.
EdgeInfoStruct* DenseCreaseEdge(Group& g, const std::function<double(double)>& angle) {
  g.Add(BuildFunctionPatch([](double, double) { return 0.0; }, {3, 3, 6, 258}));
  PatchOptions b = {3, 3, 6, 258};
  b.x0 = 1.0, b.x1 = 2.0;
  g.Add(BuildFunctionPatch([&](double x, double y) { return std::tan(angle(y) * kDeg) * (x - 1.0); }, b));
  if (!g.Build(0.05, 5.0, -1, 400) || SetUpBndrEdgeCornerGeometry(g.bs) != 0) return nullptr;
  EdgeInfoStruct* e = g.FirstPaired();
  return e && e->startSet ? e : nullptr;
}

// A 20-degree crease between two planes of 258 rows along it, side B's rows kinked by a wave of
// about a degree (four periods between a twentieth and a tenth of the seam): read at 400 samples,
// the corner aims at the middle of the wave there, not at its flattest trough.
TEST_F(BndrMeasure, ADenseCreaseCornerAimsAtTheMiddleOfItsNoise) {
  Group g;
  EdgeInfoStruct* e = DenseCreaseEdge(g, [](double y) { return 20.0 + std::sin(2.0 * 3.14159265358979 * y / 0.0125); });
  ASSERT_NE(e, nullptr);
  for (int end = 0; end < 2; ++end) EXPECT_NEAR(std::fabs(e->startCornerAim[end]), 20.0, 0.25) << end;
}

// The same crease without the wave, its angle steepened over the last 3% of the seam to 20 + `tip`
// degrees at the end y = 1: an end tilted by a degree and a half is aimed back towards the
// middle only as far as keeps it within three quarters of a degree of where it began (aimed at
// the middle, the healed corner ended 1.03-1.08 degrees off its start); a spike of 10 degrees,
// as jittered corner copies leave, is aimed at the middle.
TEST_F(BndrMeasure, ADenseCreaseEndTiltedByNoiseIsAimedWithinADegreeOfItsStart) {
  for (const double tip : {1.5, -1.5, 10.0}) {
    SCOPED_TRACE(testing::Message() << "tip " << tip);
    Group g;
    EdgeInfoStruct* e = DenseCreaseEdge(
        g, [=](double y) { return 20.0 + tip * std::pow(std::max(0.0, 1.0 - (1.0 - y) / 0.03), 2); });
    ASSERT_NE(e, nullptr);
    const int tipEnd = e->sampleA[0] < e->sampleA[e->nSample - 1] ? 1 : 0;
    const double start = std::fabs(e->startEndAngle[tipEnd]), aim = std::fabs(e->startCornerAim[tipEnd]);
    ASSERT_NEAR(start, 20.0 + tip, 0.1);
    EXPECT_NEAR(std::fabs(e->startCornerAim[1 - tipEnd]), 20.0, 1e-3);
    if (std::fabs(tip) < 5.0) {
      EXPECT_NEAR(aim, start, 0.75 + 1e-9);
      EXPECT_LT(std::fabs(aim - 20.0), std::fabs(start - 20.0));
    } else {
      EXPECT_NEAR(aim, 20.0, 0.05);
    }
  }
}

// Two planar patches meeting at x = 1, side B's rows of control points (at Greville y = 0,
// 1/12, 1/4, 1/2, ...) kinked by 1 degree, one row by 10: along the seam B's normal turns by
// atan of the rows' slopes blended by the v basis, so a row at y = 0 kinks the seam beyond the
// 5-degree limit only near its end (2.96 degrees at a tenth of it), the row at y = 1/2 in its
// middle (7.03 degrees). The first is a crease by its classification but healed as smooth; the largest angle
// between a tenth and nine tenths of the seam is the reference's at the edge's own samples.
TEST_F(BndrMeasure, ASeamKinkedOnlyNearItsEndIsHealedAsSmooth) {
  for (bool reverse : {false, true})
    for (double row : {0.0, 0.5, -1.0}) {
      SCOPED_TRACE(testing::Message() << "row " << row << (reverse ? " reversed" : ""));
      Group g;
      TwoPatches(
          g, [=](double y) { return std::fabs(y - row) < 0.01 ? 10.0 : 1.0; }, reverse, [](double) { return 0.0; },
          [](double, double) { return 0.0; });
      ASSERT_TRUE(g.Build(0.05, 5.0));
      EdgeInfoStruct* e = g.FirstPaired();
      ASSERT_NE(e, nullptr);
      double inside = -1.0, ref = 0.0;
      ASSERT_EQ(BndrEdgeInsideNormalDiff(e, &inside), 0);
      const Bspline *A = g.srfs[0], *B = g.srfs[1];
      for (int i = 0; i < e->nSample; ++i) {
        const double f = (e->sampleA[i] - A->vmin) / (A->vmax - A->vmin);
        if (f < 0.1 - 1e-9 || f > 0.9 + 1e-9) continue;
        double na[3], nb[3];
        SideNormal(A, e->infoA->side, e->sampleA[i], na);
        SideNormal(B, e->infoB->side, e->sampleB[i], nb);
        ref = std::max(ref, RefFoldedAngle(na, nb));
      }
      EXPECT_NEAR(inside, ref, 1e-9);
      const bool nearEnd = row == 0.0;
      EXPECT_EQ(e->continuity, row < 0.0 ? 1 : 0);
      EXPECT_EQ(e->smoothInside, nearEnd ? 1 : 0);
      EXPECT_EQ(IsBndrEdgeHealedSmooth(e), row == 0.5 ? 0 : 1);
      // The angle where the kinked row's basis function weighs w (cubic, knots 0, 1/4, 1/2, 3/4, 1):
      // (1 - 4y)^3 at y = 0.1 for the end row (the edge's first sample inside lies just past it),
      // 2/3 at the middle for the middle row.
      const auto blended = [](double w) {
        return std::atan(std::tan(1.0 * kDeg) + w * (std::tan(10.0 * kDeg) - std::tan(1.0 * kDeg))) / kDeg;
      };
      if (nearEnd) {
        EXPECT_LE(inside, blended(0.216) + 1e-9);
        EXPECT_GT(inside, blended(0.216) - 0.1);
      }
      if (row == 0.5) {
        // The peak lies between two of the 100 samples.
        EXPECT_LE(inside, blended(2.0 / 3.0) + 1e-9);
        EXPECT_GT(inside, blended(2.0 / 3.0) - 0.01);
      }
      // Unpaired edges measure 0 and are never smooth; a missing argument is refused.
      for (int k = 0; k < g.bs->nEdge; ++k) {
        EdgeInfoStruct* u = &g.bs->edges[k];
        if (u->paired) continue;
        double a = -1.0;
        EXPECT_EQ(BndrEdgeInsideNormalDiff(u, &a), 0);
        EXPECT_EQ(a, 0.0);
        EXPECT_EQ(IsBndrEdgeHealedSmooth(u), 0);
        // So does the whole-edge measure, which also clears a stale recorded angle.
        a = -1.0;
        u->maxAngle = 45.0;
        EXPECT_EQ(BndrEdgeMaxNormalDiff(u, 0.0, &a), 0);
        EXPECT_EQ(a, 0.0);
        EXPECT_EQ(u->maxAngle, 0.0);
      }
      EXPECT_EQ(BndrEdgeMaxNormalDiff(nullptr, 0.0, &inside), -2);
      EXPECT_EQ(BndrEdgeInsideNormalDiff(e, nullptr), -2);
      EXPECT_EQ(BndrEdgeInsideNormalDiff(nullptr, &inside), -2);
      EXPECT_EQ(IsBndrEdgeHealedSmooth(nullptr), 0);
    }
}

// Four planar patches around (1, 1), each through the corner with its own slope in x: the line
// x = 1 kinks by 7.5 degrees above the corner and 6.5 below, the line y = 1 by 0.5 either side
// (smooth). Closed, the two halves of a grid line fold by one angle at the corner; the set-up
// aims both crease halves at the mean of their starts held to a quarter of a degree above the
// lower one, within a degree of each, and keeps the smooth seams flat there.
TEST_F(BndrMeasure, TheHalvesOfACreasedGridLineShareTheMeanOfTheirStartsAtAVertex) {
  Group g;
  const double slope[2][2] = {{std::tan(3.25 * kDeg), -std::tan(3.25 * kDeg)},   // below: x > 1, x < 1
                              {std::tan(3.75 * kDeg), -std::tan(3.75 * kDeg)}};  // above
  for (int j = 0; j < 2; ++j)
    for (int i = 0; i < 2; ++i) {
      PatchOptions o;
      o.x0 = i, o.x1 = i + 1.0, o.y0 = j, o.y1 = j + 1.0;
      const double m = slope[j][i == 1 ? 0 : 1];
      g.Add(BuildFunctionPatch([=](double x, double) { return m * (x - 1.0); }, o));
    }
  ASSERT_TRUE(g.Build(0.05, 5.0));
  ASSERT_EQ(SetUpBndrEdgeCornerGeometry(g.bs), 0);
  int centre = -1;
  for (int c = 0; c < g.bs->nCorner; ++c)
    if (g.bs->corners[c].nEdge == 4) centre = c;
  ASSERT_GE(centre, 0);
  const CornerInfoStruct& mid = g.bs->corners[centre];
  std::vector<double> crease;
  for (int k = 0; k < mid.nEdge; ++k) {
    const EdgeInfoStruct& e = g.bs->edges[mid.edgeIds[k]];
    double nn[6];
    int cnt = 0;
    ASSERT_EQ(GetBndrEdgeNormalAtCorner(g.bs, mid.edgeIds[k], centre, nn, &cnt), 0);
    ASSERT_EQ(cnt, 2);
    const double angle = RefFoldedAngle(nn, nn + 3);
    const int end = e.corner0 == centre ? 0 : 1;
    if (e.continuity == 0) {
      EXPECT_NEAR(angle, std::fabs(e.startEndAngle[end]), 1.0) << k;
      crease.push_back(angle);
    } else {
      EXPECT_LE(angle, 0.02) << k;
    }
  }
  ASSERT_EQ(crease.size(), 2u);
  EXPECT_NEAR(crease[0], 6.75, 0.1);
  EXPECT_NEAR(crease[1], 6.75, 0.1);
}

// The sides' slopes eight spans in, carried back to the seam, give a crease's angle and nothing on
// a smooth seam, at sizes 1e-6 to 1e6 and 1e4 sizes from the origin: a tube of two half-cylinders
// of 258 points round their arcs, and the same with its lower half sheared along the seams'
// normal so that it leaves them at 30 degrees. Nets of a few spans across a side (the box
// corner's planes, the strip chain's strips) are left to their normals. Noise of 1e-4 on the
// boundary rows turns the tube's seams past the angle limit in their first legs: the heal takes
// them as smooth, while the sheared tube's creases under the same noise stay creases.
TEST_F(BndrMeasure, SlopesAcrossASeamReadCreasesNotTheFirstLegsNoise) {
  // The tube, its lower half sheared by tan 30 degrees (y += z tan 30: the seams at z = 0 stay).
  auto tube = [](double size, double noise, unsigned seed, bool sheared) {
    CadOptions o;
    o.arcCount = 258;
    o.longCount = 4;
    o.noise = noise;
    o.seed = seed;
    o.boundaryRowsOnly = true;
    CadGroup cad = MakeCadGroup(CadShape::Tube, o);
    for (size_t k = 0; sheared && k < cad.patches[1].pts.size(); k += 3)
      cad.patches[1].pts[k + 1] += std::tan(30.0 * kDeg) * cad.patches[1].pts[k + 2];
    for (CadPatch& c : cad.patches)
      for (double& x : c.pts) x *= size;
    return cad;
  };
  for (double size : {1e-6, 1.0, 1e6})
    for (double far : {0.0, 1e4}) {
      SCOPED_TRACE(testing::Message() << "size " << size << " at " << far << " sizes");
      for (bool sheared : {false, true}) {
        CadGroup cad = tube(size, 0.0, 1, sheared);
        for (CadPatch& c : cad.patches)
          for (size_t k = 0; k < c.pts.size(); ++k) c.pts[k] += far * size * (k % 3 == 0 ? 1.0 : k % 3 == 1 ? -0.6 : 0.3);
        Group g;
        AddCadPatches(g, cad);
        ASSERT_TRUE(g.Build(1e-3 * size, 8.0));
        int seams = 0;
        for (int id = 0; id < g.bs->nEdge; ++id) {
          const EdgeInfoStruct* e = &g.bs->edges[id];
          if (!e->paired) continue;
          ++seams;
          double slope = -1.0;
          ASSERT_EQ(BndrEdgeInsideSlopeDiff(e, &slope), 0) << "edge " << id;
          // A half-circle of one cubic is no circle: carried back, its slopes meet within a
          // quarter of a degree of the tangents' angle.
          EXPECT_NEAR(slope, sheared ? 30.0 : 0.0, 0.25) << "sheared " << sheared << " edge " << id;
        }
        EXPECT_EQ(seams, 2);
      }
      for (CadShape shape : {CadShape::BoxCorner, CadShape::StripChain}) {
        Group g;
        AddCadPatches(g, MakeCadGroup(shape));
        ASSERT_TRUE(g.Build(1e-3, 8.0));
        for (int id = 0; id < g.bs->nEdge; ++id) {
          double slope = -1.0;
          if (g.bs->edges[id].paired) {
            EXPECT_EQ(BndrEdgeInsideSlopeDiff(&g.bs->edges[id], &slope), 1);
          }
        }
      }
    }
  for (unsigned seed : {1u, 2u, 3u}) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    for (bool sheared : {false, true}) {
      const CadGroup cad = tube(1.0, 1e-4, seed, sheared);
      Group g;
      AddCadPatches(g, cad);
      ASSERT_TRUE(g.Build(5e-4 * cad.diagonal, 8.0));
      int kinked = 0, creases = 0;
      for (int id = 0; id < g.bs->nEdge; ++id) {
        const EdgeInfoStruct* e = &g.bs->edges[id];
        if (!e->paired) continue;
        kinked += e->continuity == 0;
        creases += IsBndrEdgeHealedSmooth(e) == 0;
      }
      // Some of the tube's seams come past the limit, every one of the sheared tube's does.
      EXPECT_GE(kinked, sheared ? 2 : 1) << "sheared " << sheared;
      EXPECT_EQ(creases, sheared ? 2 : 0) << "sheared " << sheared;
    }
  }
}

}  // namespace
