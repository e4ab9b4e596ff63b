// Tangent-plane refinement across the seam of a joined surface, and control-line transplants.
#include <cmath>
#include <vector>

#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "stitch/srfstitc.h"
#include "stitch/vcnobj.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class VcnTest : public KernelTest {};

StitchInfo TangentPlaneInfo(int derivativeSide, double weight = 2.0) {
  StitchInfo info{};
  info.continuity = 3;
  info.positionSide = 0;
  info.derivativeSide = derivativeSide;
  info.vcnEnds = 3;
  info.vcnWeight = weight;
  return info;
}

// Quadratic in u with a C0 seam at u = 0.4 (a kink across it), cubic Bezier in v.
Bspline* KinkedSurface(double scale, double shift) {
  const int nu = 5, nv = 4;
  std::vector<double> pts;
  for (int j = 0; j < nv; ++j)
    for (int i = 0; i < nu; ++i) {
      const double z = (i == 2 ? 0.0 : i < 2 ? 0.3 * (2 - i) * (1 + 0.2 * j) : 0.5 * (i - 2)) +
                       0.1 * j * j;
      const double pt[3] = {i * 1.0 + 0.1 * j * i, j * 1.0 + 0.05 * i * i, z};
      for (double c : pt) pts.push_back(c * scale + shift);
    }
  return BuildSurface(2, 3, nu, nv, pts, {0, 0, 0, 0.4, 0.4, 1, 1, 1});
}

// Largest |det(dL, dR, S')| / (|dL| |dR| |S'|) over seam samples, dL and dR the cross-seam
// derivatives a hair either side of t and S' the seam's tangent: 0 when they share a plane.
double NearSeamTripleProduct(const Bspline* s, double t, int along) {
  const double h = 1e-9;
  double worst = 0.0;
  for (int k = 0; k <= 20; ++k) {
    const double a = k / 20.0;
    double dL[3], dR[3], sv[3];
    const int du = along ? 1 : 0, dv = 1 - du;
    RefEvalDeriv(s, along ? t - h : a, along ? a : t - h, du, dv, dL);
    RefEvalDeriv(s, along ? t + h : a, along ? a : t + h, du, dv, dR);
    RefEvalDeriv(s, along ? t + h : a, along ? a : t + h, dv, du, sv);
    const double det = dL[0] * (dR[1] * sv[2] - dR[2] * sv[1]) -
                       dL[1] * (dR[0] * sv[2] - dR[2] * sv[0]) +
                       dL[2] * (dR[0] * sv[1] - dR[1] * sv[0]);
    const double n = std::sqrt((dL[0] * dL[0] + dL[1] * dL[1] + dL[2] * dL[2]) *
                               (dR[0] * dR[0] + dR[1] * dR[1] + dR[2] * dR[2]) *
                               (sv[0] * sv[0] + sv[1] * sv[1] + sv[2] * sv[2]));
    worst = std::max(worst, std::fabs(det) / n);
  }
  return worst;
}

bool ColumnEqual(const Bspline* a, const Bspline* b, int i) {
  for (int j = 0; j < NumCtrlV(a); ++j)
    if (a->X[j][i] != b->X[j][i] || a->Y[j][i] != b->Y[j][i] || a->Z[j][i] != b->Z[j][i])
      return false;
  return true;
}

bool SameKnots(const Bspline* a, const Bspline* b) {
  if (NumKnotsU(a) != NumKnotsU(b) || NumKnotsV(a) != NumKnotsV(b)) return false;
  for (int k = 0; k < NumKnotsU(a); ++k)
    if (a->knotsU[k] != b->knotsU[k]) return false;
  for (int k = 0; k < NumKnotsV(a); ++k)
    if (a->knotsV[k] != b->knotsV[k]) return false;
  return true;
}

// Every side choice makes the kinked seam tangent-plane continuous at every scale and place,
// moves only the rows it names and keeps the knot vectors.
TEST_F(VcnTest, SeamBecomesTangentPlaneContinuousMovingOnlyTheNamedRows) {
  for (double scale : {1e-6, 1.0, 1e6})
    for (int side = 0; side <= 2; ++side) {
      BsplineKeeper keep;
      Bspline* s = keep(KinkedSurface(scale, 3.0 * scale));
      Bspline* before = keep(CopyBsplineStruct(s));
      ASSERT_GT(NearSeamTripleProduct(s, 0.4, 1), 1e-3);
      StitchInfo info = TangentPlaneInfo(side);
      ASSERT_EQ(RefineObjVCn(s, 0.4, 1, &info, nullptr), 0);
      EXPECT_LT(NearSeamTripleProduct(s, 0.4, 1), 1e-7) << scale << " " << side;
      EXPECT_TRUE(SameKnots(s, before));
      EXPECT_TRUE(ColumnEqual(s, before, 0) && ColumnEqual(s, before, 2) && ColumnEqual(s, before, 4));
      EXPECT_EQ(ColumnEqual(s, before, 1), side == 1) << side;
      EXPECT_EQ(ColumnEqual(s, before, 3), side == 0) << side;
    }
}

// With the seam averaged, a corner whose cross polygon bends pulls the seam point next to it
// into its cross plane; the callers' ends value 3 leaves the seam alone.
TEST_F(VcnTest, BentCornerPullsItsSeamNeighbourIntoItsCrossPlane) {
  for (int ends : {0, 1, 2, 3}) {
    BsplineKeeper keep;
    Bspline* s = keep(KinkedSurface(1.0, 0.0));
    Bspline* before = keep(CopyBsplineStruct(s));
    StitchInfo info = TangentPlaneInfo(0);
    info.positionSide = 2;
    info.vcnEnds = ends;
    ASSERT_EQ(RefineObjVCn(s, 0.4, 1, &info, nullptr), 0);
    for (int corner : {0, 3}) {
      const int nb = corner == 0 ? 1 : 2;
      const bool treated = ends == 0 || (corner == 0 ? ends == 1 : ends == 2);
      const double moved = std::fabs(s->Z[nb][2] - before->Z[nb][2]) + std::fabs(s->X[nb][2] - before->X[nb][2]);
      EXPECT_EQ(moved > 0.0, treated) << ends << " " << corner;
      if (!treated) continue;
      // On the plane through the corner's old cross polygon.
      double e1[3], e2[3], d[3];
      const Bspline* b = before;
      const double c[3] = {b->X[corner][2], b->Y[corner][2], b->Z[corner][2]};
      const double m[3] = {b->X[corner][1], b->Y[corner][1], b->Z[corner][1]};
      const double pl[3] = {b->X[corner][3], b->Y[corner][3], b->Z[corner][3]};
      const double q[3] = {s->X[nb][2], s->Y[nb][2], s->Z[nb][2]};
      for (int k = 0; k < 3; ++k) e1[k] = m[k] - c[k], e2[k] = pl[k] - c[k], d[k] = q[k] - c[k];
      const double n[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
                           e1[0] * e2[1] - e1[1] * e2[0]};
      const double dist = (n[0] * d[0] + n[1] * d[1] + n[2] * d[2]) /
                          std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
      EXPECT_LT(std::fabs(dist), 1e-12) << ends << " " << corner;
    }
    EXPECT_LT(NearSeamTripleProduct(s, 0.4, 1), 1e-7);
  }
}

// The weight is taken absolute and clamped to [0.001, 1000].
TEST_F(VcnTest, WeightIsAbsoluteAndClamped) {
  auto refined = [](double weight) {
    Bspline* s = KinkedSurface(1.0, 0.0);
    StitchInfo info = TangentPlaneInfo(0, weight);
    EXPECT_EQ(RefineObjVCn(s, 0.4, 1, &info, nullptr), 0);
    return s;
  };
  BsplineKeeper keep;
  const std::vector<std::pair<double, double>> same = {{-2.0, 2.0}, {0.0, 0.001}, {5000.0, 1000.0}};
  for (auto [w0, w1] : same) {
    Bspline* a = keep(refined(w0));
    Bspline* b = keep(refined(w1));
    EXPECT_TRUE(ColumnEqual(a, b, 1)) << w0;
  }
  EXPECT_FALSE(ColumnEqual(keep(refined(2.0)), keep(refined(1000.0)), 1));
}

// Interior knots both ways, the seam in either direction: the knot vectors come back exactly
// and the lines away from the seam's three stay where they were.
TEST_F(VcnTest, KnotVectorsAreRestoredWithInteriorKnots) {
  const std::vector<double> across = {0, 0, 0, 0.2, 0.5, 0.5, 0.8, 1, 1, 1};  // 7 lines, seam 3
  const std::vector<double> seam = {0, 0, 0, 0, 0.3, 0.6, 1, 1, 1, 1};       // 6 points
  for (int along = 0; along <= 1; ++along) {
    BsplineKeeper keep;
    const int nu = along ? 7 : 6, nv = along ? 6 : 7;
    std::vector<double> pts;
    for (int j = 0; j < nv; ++j)
      for (int i = 0; i < nu; ++i) {
        const int c = along ? i : j, r = along ? j : i;  // across, along the seam
        pts.insert(pts.end(), {double(c), double(r) + 0.1 * c * c, std::fabs(c - 3.0) + 0.2 * r * c});
      }
    Bspline* s = keep(along ? BuildSurface(2, 3, nu, nv, pts, across, seam)
                            : BuildSurface(3, 2, nu, nv, pts, seam, across));
    Bspline* before = keep(CopyBsplineStruct(s));
    EXPECT_GT(NearSeamTripleProduct(s, 0.5, along), 1e-2);
    for (int side = 0; side <= 2; ++side) {
      StitchInfo info = TangentPlaneInfo(side);
      ASSERT_EQ(RefineObjVCn(s, 0.5, along, &info, nullptr), 0);
      EXPECT_TRUE(SameKnots(s, before)) << along;
      EXPECT_LT(NearSeamTripleProduct(s, 0.5, along), 1e-6) << along << " " << side;
      for (int line = 0; line < 7; ++line) {
        double diff = 0.0;
        for (int k = 0; k < 6; ++k) {
          const int r = along ? k : line, c = along ? line : k;
          diff = std::max({diff, std::fabs(s->X[r][c] - before->X[r][c]),
                           std::fabs(s->Y[r][c] - before->Y[r][c]), std::fabs(s->Z[r][c] - before->Z[r][c])});
        }
        // The lines 2 .. 4 hold the seam; the rest never move.
        if (line < 2 || line > 4) {
          EXPECT_EQ(diff, 0.0) << along << " " << line;
        } else if (line == 3) {
          EXPECT_LT(diff, 1e-13);
        }
      }
    }
  }
}

// A degree below 2 across the seam lowers the asked continuity to the degree; continuity 0 and
// curves are left alone.
TEST_F(VcnTest, LowDegreeAndTrivialCases) {
  BsplineKeeper keep;
  std::vector<double> pts;
  for (int j = 0; j < 3; ++j)
    for (int i = 0; i < 3; ++i) pts.insert(pts.end(), {double(i), double(j), i == 1 ? 0.5 : 0.0});
  Bspline* s = keep(BuildSurface(1, 2, 3, 3, pts, {0, 0, 0.5, 1, 1}));
  StitchInfo info = TangentPlaneInfo(0);
  info.continuity = 4;
  EXPECT_EQ(RefineObjVCn(s, 0.5, 1, &info, nullptr), 0);
  EXPECT_EQ(info.continuity, 1);

  Bspline* copy = keep(CopyBsplineStruct(s));
  info.continuity = 0;
  EXPECT_EQ(RefineObjVCn(s, 0.5, 1, &info, nullptr), 0);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(ColumnEqual(s, copy, i));
  info.continuity = 3;
  Bspline* curve = keep(BuildRandomCurve(3u, 3, 6));
  EXPECT_EQ(RefineObjVCn(curve, 0.5, 1, &info, nullptr), -2);
}

// A row of one net becomes a column of a net of another shape: each is addressed with its own
// row length.
TEST_F(VcnTest, ControlLineMovesBetweenNetsOfDifferentShape) {
  BsplineKeeper keep;
  std::vector<double> a, b;
  for (int k = 0; k < 3 * 5; ++k) a.insert(a.end(), {double(k), 0.0, 0.0});
  for (int k = 0; k < 5 * 2; ++k) b.insert(b.end(), {100.0 + k, 1.0, 2.0});
  Bspline* dst = keep(BuildSurface(2, 2, 3, 5, a));  // 3 columns of 5
  Bspline* src = keep(BuildSurface(2, 1, 5, 2, b));  // 2 rows of 5
  SetCntrlLineFromSurf(dst, src, 1, 0, 2, 1);
  for (int j = 0; j < 5; ++j) {
    EXPECT_EQ(dst->X[j][2], 105.0 + j);
    EXPECT_EQ(dst->Z[j][2], 2.0);
    EXPECT_EQ(dst->X[j][1], 3.0 * j + 1);
  }
  SetCntrlLineFromSurf(src, dst, 0, 1, 0, 2);  // and back into the other row
  for (int i = 0; i < 5; ++i) EXPECT_EQ(src->X[0][i], 105.0 + i);
}

// A failure at any allocation reports -2, leaks nothing and leaves the surface as it came: its
// knots and control points, although the work inserts knots into it first.
TEST_F(VcnTest, FailuresReportMinusTwoLeakNothingAndLeaveTheSurface) {
  // Interior knots across the seam, so the spans around it are closed off with inserted knots.
  const std::vector<double> across = {0, 0, 0, 0.2, 0.5, 0.5, 0.8, 1, 1, 1};
  std::vector<double> pts;
  for (int j = 0; j < 4; ++j)
    for (int c = 0; c < 7; ++c) pts.insert(pts.end(), {double(c), j + 0.1 * c * c, std::fabs(c - 3.0) + 0.2 * j * c});
  Bspline* base = BuildSurface(2, 3, 7, 4, pts, across);
  const int failures = RunWithInjectedFailures(600, 3, [&] {
    Bspline* s = CopyBsplineStruct(base);
    if (!s) return -2;
    StitchInfo info = TangentPlaneInfo(2);
    const int r = RefineObjVCn(s, 0.5, 1, &info, nullptr);
    if (r != 0) {
      EXPECT_TRUE(SameKnots(s, base));
      for (int i = 0; i < NumCtrlU(base) && SameKnots(s, base); ++i)
        EXPECT_TRUE(ColumnEqual(s, base, i)) << i;
    }
    FreeBspline(s);
    return r;
  });
  EXPECT_GT(failures, 0);
  FreeBspline(base);
}

}  // namespace
