#include "foundation/vec3.h"

#include <cmath>
#include <random>

#include "foundation/solvmat.h"
#include "tests/support/kernel_fixture.h"

namespace {

class Vec3Test : public KernelTest {};

std::mt19937 rng(12345);
double Uniform(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); }
void RandomPoint(double p[3], double r = 10.0) {
  for (int i = 0; i < 3; ++i) p[i] = Uniform(-r, r);
}

// A random affine transform (last column 0, 0, 0, 1) that is well conditioned.
void RandomAffine(Xform M) {
  Get_imat(M);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) M[4 * r + c] = (r == c ? 2.0 : 0.0) + Uniform(-0.8, 0.8);
  for (int c = 0; c < 3; ++c) M[12 + c] = Uniform(-5, 5);
}

void ExpectNear3(const double a[3], const double b[3], double tol) {
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(a[i], b[i], tol) << "component " << i;
}

TEST_F(Vec3Test, ProductAppliesFirstFactorFirstAndMayAlias) {
  for (int trial = 0; trial < 50; ++trial) {
    Xform A, B, C;
    RandomAffine(A);
    RandomAffine(B);
    Get_catmat(A, B, C);
    double p[3], q[3], r[3];
    RandomPoint(p);
    VecTrans3(p, A, q);
    VecTrans3(q, B, q);  // in place
    VecTrans3(p, C, r);
    ExpectNear3(q, r, 1e-9);
    // Aliased output gives the same product.
    Xform A2;
    Copymat(A, A2);
    Get_catmat(A2, B, A2);
    for (int i = 0; i < 16; ++i) EXPECT_DOUBLE_EQ(A2[i], C[i]);
    // Directions ignore the translation row.
    double v[3], w[3];
    RandomPoint(v);
    VecRot3(v, C, w);
    double pv[3] = {p[0] + v[0], p[1] + v[1], p[2] + v[2]}, tp[3], tpv[3];
    VecTrans3(p, C, tp);
    VecTrans3(pv, C, tpv);
    const double diff[3] = {tpv[0] - tp[0], tpv[1] - tp[1], tpv[2] - tp[2]};
    ExpectNear3(w, diff, 1e-9);
  }
}

TEST_F(Vec3Test, InverseRoundTripsPointsAndArrays) {
  Xform M, Minv, I;
  RandomAffine(M);
  ASSERT_EQ(mat_inverse4(M, Minv), 0);
  Get_catmat(M, Minv, I);
  EXPECT_EQ(not_identity_xform(I), 0);
  double x[5], y[5], z[5], x0[5], y0[5], z0[5];
  for (int i = 0; i < 5; ++i) {
    x[i] = x0[i] = Uniform(-3, 3);
    y[i] = y0[i] = Uniform(-3, 3);
    z[i] = z0[i] = Uniform(-3, 3);
  }
  Transform3DArrays(x, y, z, 5, M);
  Transform3DArrays(x, y, z, 5, Minv);
  for (int i = 0; i < 5; ++i) {
    EXPECT_NEAR(x[i], x0[i], 1e-12);
    EXPECT_NEAR(y[i], y0[i], 1e-12);
    EXPECT_NEAR(z[i], z0[i], 1e-12);
  }
}

TEST_F(Vec3Test, TransformToZAxisTakesSegmentOntoZ) {
  for (int trial = 0; trial < 50; ++trial) {
    double p0[3], p1[3], q[3];
    RandomPoint(p0);
    RandomPoint(p1);
    if (trial == 0) p1[1] = p0[1], p1[2] = p0[2];  // along x: rotation about y only
    Xform M;
    TransformToZAxis(p0, p1, M);
    VecTrans3(p0, M, q);
    const double zero[3] = {0, 0, 0};
    ExpectNear3(q, zero, 1e-12);
    VecTrans3(p1, M, q);
    const double tip[3] = {0, 0, VecDist3(p0, p1)};
    ExpectNear3(q, tip, 1e-9);
  }
  double p[3] = {1, 2, 3};
  Xform M;
  TransformToZAxis(p, p, M);
  EXPECT_EQ(M[12], -1.0);
  EXPECT_EQ(M[13], -2.0);
  EXPECT_EQ(M[14], -3.0);
  EXPECT_EQ(M[0], 1.0);
  EXPECT_EQ(M[5], 1.0);
}

TEST_F(Vec3Test, RotationAboutAxisKeepsAxisAndTurnsCounterClockwise) {
  const double origin[3] = {0, 0, 0}, zdir[3] = {0, 0, 1};
  Xform M;
  EXPECT_EQ(RotationAboutAxisXform(origin, zdir, 90.0, M), 0);
  double p[3] = {1, 0, 0}, q[3];
  VecTrans3(p, M, q);
  const double expect[3] = {0, 1, 0};
  ExpectNear3(q, expect, 1e-12);

  for (int trial = 0; trial < 20; ++trial) {
    double a[3], dir[3], r[3], back[3];
    RandomPoint(a);
    RandomPoint(dir, 1.0);
    RandomPoint(r);
    const double angle = Uniform(-180, 180);
    Xform R, Rback;
    RotationAboutAxisXform(a, dir, angle, R);
    RotationAboutAxisXform(a, dir, -angle, Rback);
    double onAxis[3] = {a[0] + 2 * dir[0], a[1] + 2 * dir[1], a[2] + 2 * dir[2]}, fixed[3];
    VecTrans3(onAxis, R, fixed);
    ExpectNear3(fixed, onAxis, 1e-9);
    VecTrans3(r, R, q);
    VecTrans3(q, Rback, back);
    ExpectNear3(back, r, 1e-9);
    EXPECT_NEAR(VecDist3(q, a), VecDist3(r, a), 1e-9);
  }
}

TEST_F(Vec3Test, FramesAreOrthonormal) {
  for (int trial = 0; trial < 50; ++trial) {
    double d[3], u[3], v[3], w[3];
    RandomPoint(d, 1.0);
    ASSERT_EQ(Vec3To3Vecs(d, u, v, w), 0);
    EXPECT_NEAR(VecSize3(u), 1.0, 1e-12);
    EXPECT_NEAR(VecSize3(v), 1.0, 1e-12);
    EXPECT_NEAR(VecSize3(w), 1.0, 1e-12);
    EXPECT_NEAR(VecDotProd3(u, v), 0.0, 1e-12);
    EXPECT_NEAR(VecDotProd3(u, w), 0.0, 1e-12);
    EXPECT_NEAR(VecDotProd3(v, w), 0.0, 1e-12);
    EXPECT_NEAR(VecDotProd3(u, d), VecSize3(d), 1e-12);
    for (int axis = 0; axis < 3; ++axis) {
      Xform M;
      Get_imat(M);
      ASSERT_EQ(Vec3ToAxisMatrix(d, axis, M), 0);
      double q[3];
      VecRot3(d, M, q);
      EXPECT_NEAR(q[axis], VecSize3(d), 1e-12);
      EXPECT_NEAR(q[(axis + 1) % 3], 0.0, 1e-12);
    }
  }
  // Ties go to z: v = (1, 0, -ux/uz).
  double d[3] = {1, 1, 1}, u[3], v[3], w[3];
  Vec3To3Vecs(d, u, v, w);
  EXPECT_EQ(v[1], 0.0);
  EXPECT_GT(v[0], 0.0);
  const double tiny[3] = {1e-7, 0, 0};
  EXPECT_EQ(Vec3To3Vecs(tiny, u, v, w), -2);
}

TEST_F(Vec3Test, PerpVecsAndItsStandardOutputMessage) {
  const double v[3] = {0, 0, 2};
  double a[3], b[3];
  ASSERT_EQ(PerpVecs(v, a, b), 0);
  const double ea[3] = {1, 0, 0}, eb[3] = {0, 2, 0};
  ExpectNear3(a, ea, 0);
  ExpectNear3(b, eb, 0);
  const double zero[3] = {0, 0, 0};
  double keep[3] = {7, 7, 7};
  testing::internal::CaptureStdout();
  EXPECT_EQ(PerpVecs(zero, a, keep), -2);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "PerpVecs -- Invalid input.");
  EXPECT_EQ(keep[0], 7.0);
}

TEST_F(Vec3Test, NormalisationThresholds) {
  double z[3] = {0, 0, 0}, out[3];
  VecNormalize3(z, out);
  EXPECT_EQ(out[0], 0.0);
  const double tiny[3] = {1e-12, 0, 0};
  VecNormalize3(tiny, out);
  EXPECT_NEAR(out[0], 0.01, 1e-15);
  double r[3] = {1e-7, -2e-6, 0.5};
  VecReduceSmallToZero3(r);
  EXPECT_EQ(r[0], 0.0);
  EXPECT_EQ(r[1], -2e-6);
  double u[3] = {3e-7, 0, 4e-7};
  EXPECT_EQ(UnitDirReduceSmallToZero3(u), -2);
  const double v[3] = {0, 0, 5}, n[3] = {0, 0, 1}, n0[3] = {0, 0, 0};
  EXPECT_EQ(VecPlaneProject3(v, n0, out), -2);
  EXPECT_EQ(VecPlaneProject3(v, n, out), 0);  // parallel: a zero remainder, not a failure
  EXPECT_EQ(out[2], 0.0);
  const double w[3] = {1, 2, 3};
  VecPlaneProject3(w, n, out);
  EXPECT_NEAR(out[2], 0.0, 1e-15);
  EXPECT_NEAR(VecSize3(out), 1.0, 1e-15);
}

TEST_F(Vec3Test, MirrorsAreInvolutionsAndDegenerateAxisStaysFinite) {
  for (int trial = 0; trial < 30; ++trial) {
    double a0[3], a1[3], p[3], q[3], back[3];
    RandomPoint(a0);
    RandomPoint(a1);
    RandomPoint(p);
    VecAxisMirror3(p, a0, a1, q);
    VecAxisMirror3(q, a0, a1, back);
    ExpectNear3(back, p, 1e-9);
    // The midpoint of p and its image lies on the axis, and the chord is perpendicular to it.
    const double mid[3] = {(p[0] + q[0]) / 2, (p[1] + q[1]) / 2, (p[2] + q[2]) / 2};
    double e[3], m[3], chord[3];
    VecDiff3(a1, a0, e);
    VecDiff3(mid, a0, m);
    VecDiff3(q, p, chord);
    double c[3];
    VecCrossProd3(e, m, c);
    EXPECT_NEAR(VecSize3(c), 0.0, 1e-8);
    EXPECT_NEAR(VecDotProd3(chord, e), 0.0, 1e-8);

    PlaneEq plane;
    RandomPoint(plane, 1.0);
    VecNormalize3(plane, plane);
    plane[3] = Uniform(-2, 2);
    VecMirror3(p, plane, q);
    VecMirror3(q, plane, back);
    ExpectNear3(back, p, 1e-9);
  }
  const double a[3] = {1, 2, 3}, p[3] = {2, 2, 3};
  double q[3];
  VecAxisMirror3(p, a, a, q);
  const double expect[3] = {0, 2, 3};
  ExpectNear3(q, expect, 0);
}

TEST_F(Vec3Test, BoxesOfTransformedBoxesContainTheCorners) {
  for (int trial = 0; trial < 20; ++trial) {
    Xform M;
    RandomAffine(M);
    Bbox box = {Uniform(-5, 0), Uniform(-5, 0), Uniform(-5, 0), Uniform(0, 5), Uniform(0, 5), Uniform(0, 5)};
    Bbox out;
    XformBbox(box, M, out);
    double b[6] = {box[0], box[1], box[2], box[3], box[4], box[5]};
    bbox_xform(&b[0], &b[1], &b[2], &b[3], &b[4], &b[5], M);
    // For an affine map the corner box and the interval box agree.
    for (int i = 0; i < 6; ++i) EXPECT_NEAR(out[i], b[i], 1e-9);
  }
  Xform M;
  Get_imat(M);
  M[12] = 5e-5;
  EXPECT_EQ(not_identity_xform(M), 0);
  Bbox box = {1, 2, 3, 4, 5, 6}, out;
  XformBbox(box, M, out);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(out[i], box[i]);
}

TEST_F(Vec3Test, TransformMinMaxBoundsProjectedCorners) {
  const double box[6] = {-1, 2, 0, 3, -2, 1};  // interleaved
  const double dir[3] = {1, 1, 0};
  double out[6];
  Xform M;
  ASSERT_EQ(TransformMinMax(box, dir, out, M), 1);
  double d[3];
  VecNormalize3(dir, d);
  for (int k = 0; k < 8; ++k) {
    const double c[3] = {box[(k & 1) ? 1 : 0], box[(k & 2) ? 3 : 2], box[(k & 4) ? 5 : 4]};
    const double along = VecDotProd3(c, d);
    EXPECT_LE(out[4], along + 1e-12);
    EXPECT_GE(out[5], along - 1e-12);
  }
  const double zero[3] = {0, 0, 0};
  EXPECT_EQ(TransformMinMax(box, zero, out, M), 0);
}

TEST_F(Vec3Test, XformComparisons) {
  Xform A, B;
  Get_imat(A);
  Copymat(A, B);
  B[3] = 9.0;  // last column is not compared
  EXPECT_EQ(IsSameXform(A, B), 1);
  B[12] = 1e-3;
  EXPECT_EQ(IsSameXform(A, B), 0);
  EXPECT_EQ(same_xform(A, B), 0);
  Get_imat(B);
  B[10] = 3.0;  // outside the upper-left 2 x 2
  EXPECT_EQ(IsRotationXform(B), 0);
  B[1] = 0.5;
  EXPECT_EQ(IsRotationXform(B), 1);
  Xform T;
  TransposeMatrx(B, T);
  TransposeMatrx(T, T);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(T[i], B[i]);
  Xform D;
  Get_imat(D);
  D[0] = 2.0;
  D[1] = 1e-12;
  EXPECT_DOUBLE_EQ(ComputeMatrixDeterminant(D), 2.0);
  EXPECT_EQ(D[1], 0.0);
}

TEST_F(Vec3Test, LinInterpolate3HitsTheRequestedCoordinate) {
  const double p0[3] = {0, 0, 0}, p1[3] = {2, 4, 6};
  double out[3] = {9, 9, 9};
  LinInterpolate3(p0, p1, 3.0, 2, out);
  EXPECT_DOUBLE_EQ(out[0], 1.0);
  EXPECT_DOUBLE_EQ(out[1], 2.0);
  EXPECT_EQ(out[2], 3.0);
  double keep[3] = {9, 9, 9};
  LinInterpolate3(p0, p1, 3.0, 3, keep);
  EXPECT_EQ(keep[0], 9.0);
}

}  // namespace
