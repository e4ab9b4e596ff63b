// Vectors and 4 x 4 transforms: the array forms against the one-point operations, mirrors as
// involutions that fix their plane or axis, the transform product and transpose identities,
// determinants, the comparisons' tolerances, boxes that bound the transformed corners exactly,
// orthonormal frames built from one direction, rotations about an axis and the map of a segment
// onto the z axis.
#include <algorithm>
#include <cmath>
#include <functional>
#include <random>

#include "foundation/vec3.h"
#include "tests/support/checks.h"
#include "tests/support/kernel_fixture.h"

namespace {

class Vectors : public KernelTest {};

std::mt19937 rng(2024);
double Det3(const double a[3], const double b[3], const double c[3]) {
  double ab[3];
  return VecDotProd3(VecCrossProd3(a, b, ab), c);
}

// Every array form is its one-point operation applied to each point, in double and in float,
// and the pointer forms are the same operation again.
TEST_F(Vectors, ArrayFormsApplyTheOnePointOperation) {
  Xform M;
  RandomAffine(rng, M);
  double n[3], a0[3], a1[3];
  RandomPoint(rng, n, 3.0), RandomPoint(rng, a0, 3.0), RandomPoint(rng, a1, 3.0);
  VecNormalize3(n, n);
  const PlaneEq plane = {n[0], n[1], n[2], Uniform(rng, -1, 1)};
  using One = std::function<void(const double*, double*)>;
  using Arr = std::function<void(double*, double*, double*, int)>;
  using ArrF = std::function<void(float*, float*, float*, int)>;
  struct Case {
    const char* name;
    One one;
    Arr arr;
    ArrF arrF;
  };
  const Case cases[] = {
      {"transform", [&](const double* p, double* q) { VecTrans3(p, M, q); },
       [&](double* x, double* y, double* z, int k) { Transform3DArrays(x, y, z, k, M); },
       [&](float* x, float* y, float* z, int k) { Transform3DArrays_F(x, y, z, k, M); }},
      {"rotate", [&](const double* p, double* q) { VecRot3(p, M, q); },
       [&](double* x, double* y, double* z, int k) { Rot3DArrays(x, y, z, k, M); },
       [&](float* x, float* y, float* z, int k) { Rot3DArrays_F(x, y, z, k, M); }},
      {"mirror", [&](const double* p, double* q) { VecMirror3(p, plane, q); },
       [&](double* x, double* y, double* z, int k) { Mirror3DArrays(x, y, z, k, plane); },
       [&](float* x, float* y, float* z, int k) { Mirror3DArrays_F(x, y, z, k, plane); }},
      {"mirror direction", [&](const double* p, double* q) { DirMirror3(p, plane, q); },
       [&](double* x, double* y, double* z, int k) { MirrorDir3DArrays(x, y, z, k, plane); },
       [&](float* x, float* y, float* z, int k) { MirrorDir3DArrays_F(x, y, z, k, plane); }},
      {"axis mirror", [&](const double* p, double* q) { VecAxisMirror3(p, a0, a1, q); },
       [&](double* x, double* y, double* z, int k) { AxisMirror3Darrays(x, y, z, k, a0, a1); },
       [&](float* x, float* y, float* z, int k) { AxisMirror3Darrays_F(x, y, z, k, a0, a1); }},
      {"normalize", [&](const double* p, double* q) { VecNormalize3(p, q); }, nullptr,
       [&](float* x, float* y, float* z, int k) { ArraysNormalize3_f(x, y, z, k); }},
  };
  for (const Case& c : cases) {
    const int k = 5;
    double x[k], y[k], z[k], expect[k][3];
    float fx[k], fy[k], fz[k];
    for (int i = 0; i < k; ++i) {
      double p[3];
      RandomPoint(rng, p, 3.0);
      fx[i] = static_cast<float>(p[0]), fy[i] = static_cast<float>(p[1]), fz[i] = static_cast<float>(p[2]);
      // The float form starts from the float points.
      x[i] = fx[i], y[i] = fy[i], z[i] = fz[i];
      const double start[3] = {x[i], y[i], z[i]};
      c.one(start, expect[i]);
    }
    if (c.arr) c.arr(x, y, z, k);
    c.arrF(fx, fy, fz, k);
    for (int i = 0; i < k; ++i) {
      const double got[3] = {x[i], y[i], z[i]}, gotF[3] = {fx[i], fy[i], fz[i]};
      if (c.arr) ExpectNear3(got, expect[i], 0.0, c.name);
      ExpectNear3(gotF, expect[i], 1e-5 * (1 + VecSize3(expect[i])), c.name);
    }
  }
  // Pointer and in-place forms.
  double p[3], q[3], r[3];
  RandomPoint(rng, p, 3.0);
  float f[3] = {static_cast<float>(p[0]), static_cast<float>(p[1]), static_cast<float>(p[2])};
  double pd[3];
  CoordToDCoord(f, pd);
  VecTrans3(pd, M, q);
  vector_xform_f(&f[0], &f[1], &f[2], M);
  const double fq[3] = {f[0], f[1], f[2]};
  ExpectNear3(fq, q, 1e-5 * (1 + VecSize3(q)), "vector_xform_f");
  VecTrans3(p, M, q);
  std::copy(p, p + 3, r);
  vector_xform(&r[0], &r[1], &r[2], M);
  ExpectNear3(r, q, 0.0, "vector_xform");
  std::copy(p, p + 3, r);
  ExpectNear3(Vec1Trans3(r, M), q, 0.0, "Vec1Trans3");
  vector_object_to_world_xform(p, r, M);
  ExpectNear3(r, q, 0.0, "object to world");
  vector_object_to_eye_xform(p, r, M);
  ExpectNear3(r, q, 0.0, "object to eye");
  VecRot3(p, M, q);
  std::copy(p, p + 3, r);
  vector_rotate(&r[0], &r[1], &r[2], M);
  ExpectNear3(r, q, 0.0, "vector_rotate");
  std::copy(p, p + 3, r);
  ExpectNear3(Vec1Rot3(r, M), q, 0.0, "Vec1Rot3");
  // A direction maps by the linear part: the difference of two mapped points.
  double e[3], pe[3], te[3];
  RandomPoint(rng, e, 3.0);
  for (int i = 0; i < 3; ++i) pe[i] = p[i] + e[i];
  VecTrans3(pe, M, te), VecTrans3(p, M, q), VecRot3(e, M, r);
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(te[i] - q[i], r[i], 1e-12);
  float back[3];
  DCoordToCoord(q, back);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(back[i], static_cast<float>(q[i]));
}

// A mirror in a plane is an involution that fixes the plane and flips the signed distance;
// a direction mirrors as the difference of two mirrored points; a point on a plane q mirrors
// onto the mirrored plane.
TEST_F(Vectors, MirrorsAreInvolutionsFixingTheirPlane) {
  for (int trial = 0; trial < 20; ++trial) {
    double n[3], m[3], p[3], d[3], q[3], back[3];
    RandomPoint(rng, n, 3.0), RandomPoint(rng, m, 3.0), RandomPoint(rng, p, 3.0), RandomPoint(rng, d, 3.0);
    VecNormalize3(n, n), VecNormalize3(m, m);
    const PlaneEq plane = {n[0], n[1], n[2], Uniform(rng, -1, 1)};
    auto dist = [](const double* pl, const double* x) {
      return pl[0] * x[0] + pl[1] * x[1] + pl[2] * x[2] + pl[3];
    };
    VecMirror3(p, plane, q);
    EXPECT_NEAR(dist(plane, q), -dist(plane, p), 1e-12);
    ExpectNear3(VecMirror3(q, plane, back), p, 1e-12, "involution");
    double onPlane[3];
    for (int i = 0; i < 3; ++i) onPlane[i] = p[i] - dist(plane, p) * n[i];
    ExpectNear3(VecMirror3(onPlane, plane, q), onPlane, 1e-12, "fixed");
    double pd[3], mp[3], mpd[3], md[3];
    for (int i = 0; i < 3; ++i) pd[i] = p[i] + d[i];
    VecMirror3(p, plane, mp), VecMirror3(pd, plane, mpd), DirMirror3(d, plane, md);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(mpd[i] - mp[i], md[i], 1e-12);
    const PlaneEq other = {m[0], m[1], m[2], Uniform(rng, -1, 1)};
    double mirrored[4], x[3];
    PlaneMirror3(other, plane, mirrored);
    for (int i = 0; i < 3; ++i) x[i] = p[i] - dist(other, p) * m[i];  // x on `other`
    EXPECT_NEAR(dist(mirrored, VecMirror3(x, plane, q)), 0.0, 1e-12);
  }
}

TEST_F(Vectors, ProductsTransposesDeterminantsAndComparisons) {
  for (int trial = 0; trial < 20; ++trial) {
    Xform A, B, AB, At, Bt, ABt, BtAt, Att;
    RandomAffine(rng, A), RandomAffine(rng, B);
    Get_catmat(A, B, AB);
    TransposeMatrx(A, At), TransposeMatrx(B, Bt), TransposeMatrx(AB, ABt);
    Get_catmat(Bt, At, BtAt);
    TransposeMatrx(At, Att);
    for (int i = 0; i < 16; ++i) {
      EXPECT_NEAR(ABt[i], BtAt[i], 1e-12);
      EXPECT_EQ(Att[i], A[i]);
    }
    // The determinant of the linear part is multiplicative. It zeroes tiny entries in place,
    // so it gets copies.
    Xform a, b, ab;
    Copymat(A, a), Copymat(B, b), Copymat(AB, ab);
    const double da = ComputeMatrixDeterminant(a), db = ComputeMatrixDeterminant(b);
    EXPECT_NEAR(ComputeMatrixDeterminant(ab), da * db, 1e-9 * (1 + std::fabs(da * db)));
    const double rows[3][3] = {{A[0], A[1], A[2]}, {A[4], A[5], A[6]}, {A[8], A[9], A[10]}};
    EXPECT_NEAR(da, Det3(rows[0], rows[1], rows[2]), 1e-12);
  }
  Xform I, M, big;
  Get_imat(I);
  EXPECT_EQ(not_identity_xform(I), 0);
  Copymat(I, M);
  EXPECT_EQ(ComputeMatrixDeterminant(M), 1.0);
  M[13] += 5e-5;  // within the absolute 1e-4
  EXPECT_TRUE(not_identity_xform(M) == 0 && same_xform(I, M) == 1);
  M[13] += 1e-4;
  EXPECT_TRUE(not_identity_xform(M) == 1 && same_xform(I, M) == 0);
  // IsSameXform is relative to the first matrix's scale and never reads the last column.
  for (int i = 0; i < 16; ++i) big[i] = 1000.0 * I[i];
  big[12] = big[13] = big[14] = 100.0, big[15] = 1.0;
  Copymat(big, M);
  M[0] += 5e-4, M[3] = 9.0, M[14] += 5e-5;
  EXPECT_TRUE(IsSameXform(big, M) == 1 && same_xform(big, M) == 0);
  M[5] += 1e-2;
  EXPECT_EQ(IsSameXform(big, M), 0);
  // Legacy: the "3 x 3" comparison reads the upper-left 2 x 2 only, and so does the rotation
  // test built on it.
  Copymat(I, M);
  M[2] = M[10] = 0.5;
  EXPECT_EQ(IsSameXform3x3(I, M), 1);
  EXPECT_EQ(IsRotationXform(M), 0);
  const double origin[3] = {0, 0, 0}, z[3] = {0, 0, 1};
  RotationAboutAxisXform(origin, z, 30.0, M);
  EXPECT_EQ(IsRotationXform(M), 1);
  float f[16];
  double d[16];
  CopyDoubleToFloatMatrix(M, f);
  CopyFloatToDoubleMatrix(f, d);
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(d[i], M[i], 1e-7);
}

// The box of a transformed box holds the eight transformed corners and each bound is reached
// by one of them; both box forms agree. The oriented range of TransformMinMax is the same
// over the frame (p1, p2, dir).
TEST_F(Vectors, TransformedBoxesBoundTheCornersExactly) {
  for (int trial = 0; trial < 20; ++trial) {
    Xform M;
    RandomAffine(rng, M);
    Bbox box, out;
    for (int i = 0; i < 3; ++i) box[i] = Uniform(rng, -2, 0), box[3 + i] = Uniform(rng, 0.1, 2);
    XformBbox(box, M, out);
    double b[6] = {box[0], box[1], box[2], box[3], box[4], box[5]};
    bbox_xform(&b[0], &b[1], &b[2], &b[3], &b[4], &b[5], M);
    double lo[3] = {1e300, 1e300, 1e300}, hi[3] = {-1e300, -1e300, -1e300};
    for (int k = 0; k < 8; ++k) {
      const double c[3] = {box[(k & 1) ? 3 : 0], box[(k & 2) ? 4 : 1], box[(k & 4) ? 5 : 2]};
      double q[3];
      VecTrans3(c, M, q);
      for (int i = 0; i < 3; ++i) lo[i] = std::min(lo[i], q[i]), hi[i] = std::max(hi[i], q[i]);
    }
    for (int i = 0; i < 3; ++i) {
      EXPECT_NEAR(out[i], lo[i], 1e-12);
      EXPECT_NEAR(out[3 + i], hi[i], 1e-12);
      EXPECT_NEAR(b[i], lo[i], 1e-12);
      EXPECT_NEAR(b[3 + i], hi[i], 1e-12);
    }

    double dir[3], range[6], p1[3], p2[3];
    RandomPoint(rng, dir, 3.0);
    const double inter[6] = {box[0], box[3], box[1], box[4], box[2], box[5]};
    ASSERT_EQ(TransformMinMax(inter, dir, range, M), 1);
    VecNormalize3(dir, dir);
    ASSERT_EQ(PerpVecs(dir, p1, p2), 0);
    EXPECT_NEAR(VecDotProd3(p1, dir), 0.0, 1e-12);
    EXPECT_NEAR(VecDotProd3(p2, dir), 0.0, 1e-12);
    EXPECT_NEAR(VecDotProd3(p1, p2), 0.0, 1e-12);
    const double* frame[3] = {p1, p2, dir};
    for (int i = 0; i < 3; ++i) {
      double mn = 1e300, mx = -1e300;
      for (int k = 0; k < 8; ++k) {
        const double c[3] = {box[(k & 1) ? 3 : 0], box[(k & 2) ? 4 : 1], box[(k & 4) ? 5 : 2]};
        mn = std::min(mn, VecDotProd3(c, frame[i])), mx = std::max(mx, VecDotProd3(c, frame[i]));
      }
      EXPECT_NEAR(range[2 * i], mn, 1e-12);
      EXPECT_NEAR(range[2 * i + 1], mx, 1e-12);
    }
  }
  // The identity gives the box back; a direction too short leaves the empty range.
  Xform I;
  Get_imat(I);
  const Bbox box = {-1, -2, -3, 1, 2, 3};
  Bbox out;
  XformBbox(box, I, out);
  EXPECT_TRUE(std::equal(box, box + 6, out));
  const double none[3] = {0, 0, 1e-4};
  double range[6];
  EXPECT_EQ(TransformMinMax(box, none, range, I), 0);
  EXPECT_TRUE(range[0] > 1e300 && range[1] < -1e300);
}

// From one direction: an orthonormal right-handed frame whose first vector is the direction,
// placed as any chosen column of a rotation matrix.
TEST_F(Vectors, FramesFromOneDirection) {
  const double dirs[][3] = {{0, 0, 2}, {0, -3, 0}, {5, 0, 0}, {1, 1, 1}, {1, -1, 0}, {0.2, 0.1, -3}};
  for (const auto& dir : dirs) {
    double u[3], v[3], w[3], unit[3], c[3];
    ASSERT_EQ(Vec3To3Vecs(dir, u, v, w), 0);
    VecNormalize3(dir, unit);
    ExpectNear3(u, unit, 1e-15, "first vector");
    EXPECT_NEAR(VecSize3(v), 1.0, 1e-12);
    EXPECT_NEAR(VecDotProd3(u, v), 0.0, 1e-12);
    ExpectNear3(VecCrossProd3(u, v, c), w, 1e-12, "right-handed");
    for (int axis = 0; axis < 3; ++axis) {
      Xform M;
      ASSERT_EQ(Vec3ToAxisMatrix(dir, axis, M), 0);
      const double col[3] = {M[axis], M[4 + axis], M[8 + axis]};
      ExpectNear3(col, unit, 1e-15, "axis column");
      const double r0[3] = {M[0], M[1], M[2]}, r1[3] = {M[4], M[5], M[6]}, r2[3] = {M[8], M[9], M[10]};
      EXPECT_NEAR(Det3(r0, r1, r2), 1.0, 1e-12);
      EXPECT_NEAR(VecDotProd3(r0, r1), 0.0, 1e-12);
      EXPECT_TRUE(M[12] == 0.0 && M[15] == 1.0);
    }
    double p1[3], p2[3];
    ASSERT_EQ(PerpVecs(unit, p1, p2), 0);
    EXPECT_NEAR(VecDotProd3(p1, unit), 0.0, 1e-12);
    EXPECT_NEAR(VecDotProd3(p2, unit), 0.0, 1e-12);
  }
  Xform M;
  const double zero[3] = {0, 0, 0};
  EXPECT_EQ(Vec3ToAxisMatrix(zero, 1, M), -2);
}

// Interpolation along one axis stays on the segment's line; projection into a plane gives a
// unit vector orthogonal to the normal and coplanar with the input and the normal; the small
// helpers keep their thresholds.
TEST_F(Vectors, InterpolationProjectionAndThresholds) {
  for (int trial = 0; trial < 20; ++trial) {
    double p0[3], p1[3], q[3], v[3], n[3], r[3], c[3], d[3];
    RandomPoint(rng, p0, 3.0), RandomPoint(rng, p1, 3.0), RandomPoint(rng, v, 3.0), RandomPoint(rng, n, 3.0);
    const int axis = trial % 3;
    const double value = Uniform(rng, -3, 3);
    LinInterpolate3(p0, p1, value, axis, q);
    EXPECT_EQ(q[axis], value);
    VecDiff3(q, p0, d), VecDiff3(p1, p0, c);
    EXPECT_NEAR(VecSize3(VecCrossProd3(d, c, r)), 0.0, 1e-9 * (1 + VecSize3(d)));
    ASSERT_EQ(VecPlaneProject3(v, n, r), 0);
    EXPECT_NEAR(VecSize3(r), 1.0, 1e-12);
    EXPECT_NEAR(VecDotProd3(r, n), 0.0, 1e-12);
    EXPECT_NEAR(Det3(v, n, r), 0.0, 1e-9 * VecSize3(v) * VecSize3(n));
    // The cross-product forms agree.
    double x1[3], x2[3];
    cross_product(v, n, x1), VectorCrossProduct(v, n, x2), VecCrossProd3(v, n, c);
    ExpectNear3(x1, c, 0.0, "cross_product");
    ExpectNear3(x2, c, 0.0, "VectorCrossProduct");
    // The pseudo-normalisation scales by the largest component.
    const double m = VecPseudoNormalize3(v, r);
    EXPECT_EQ(m, std::max({std::fabs(v[0]), std::fabs(v[1]), std::fabs(v[2])}));
    EXPECT_EQ(std::max({std::fabs(r[0]), std::fabs(r[1]), std::fabs(r[2])}), 1.0);
  }
  const double p0[3] = {1, 2, 3}, flat[3] = {4, 2, 7};
  double q[3] = {9, 9, 9};
  LinInterpolate3(p0, flat, 5.0, 1, q);  // no extent along y: the start point
  ExpectNear3(q, p0, 0.0, "degenerate span");
  q[0] = 9.0;
  LinInterpolate3(p0, flat, 5.0, 3, q);  // no such axis: nothing written
  EXPECT_EQ(q[0], 9.0);
  const double zero[3] = {0, 0, 0}, x[3] = {1, 0, 0};
  EXPECT_EQ(VecPlaneProject3(x, zero, q), -2);
  EXPECT_EQ(VecPlaneProject3(zero, x, q), 0);
  EXPECT_EQ(VecSize3(q), 0.0);
  double small[3] = {5e-7, -2.0, 1e-7};
  VecReduceSmallToZero3(small);
  EXPECT_TRUE(small[0] == 0.0 && small[1] == -2.0 && small[2] == 0.0);
  double tiny[3] = {5e-7, 5e-7, 0};
  EXPECT_EQ(UnitDirReduceSmallToZero3(tiny), -2);
  double dir[3] = {3e-7, 4.0, 0};
  EXPECT_EQ(UnitDirReduceSmallToZero3(dir), 0);
  EXPECT_TRUE(dir[0] == 0.0 && dir[1] == 1.0);
  EXPECT_EQ(isZeroVector3d(small, 1.0), 0);
  EXPECT_EQ(isZeroVector3d(tiny, 1e-6), 1);
}

TEST_F(Vectors, AffineMapsRotationsMirrorsAndZAxisTransforms) {
  const double origin[3] = {0, 0, 0}, zdir[3] = {0, 0, 1}, ex[3] = {1, 0, 0}, ey[3] = {0, 1, 0};
  Xform M;
  EXPECT_EQ(RotationAboutAxisXform(origin, zdir, 90.0, M), 0);
  double q[3];
  VecTrans3(ex, M, q);  // counter-clockwise
  ExpectNear3(q, ey, 1e-12);
  for (int trial = 0; trial < 30; ++trial) {
    Xform A, B, C, A2;
    RandomAffine(rng, A);
    RandomAffine(rng, B);
    Get_catmat(A, B, C);  // applies A first
    double a[3], dir[3], r[3], back[3], fixed[3], rr[3];
    RandomPoint(rng, a, 5.0), RandomPoint(rng, dir, 1.0), RandomPoint(rng, r, 5.0);
    VecTrans3(a, A, q);
    VecTrans3(q, B, q);  // in place
    ExpectNear3(q, VecTrans3(a, C, rr), 1e-9);
    Copymat(A, A2);
    Get_catmat(A2, B, A2);  // aliased output
    for (int i = 0; i < 16; ++i) EXPECT_DOUBLE_EQ(A2[i], C[i]);
    const double angle = Uniform(rng, -180, 180);
    Xform R, Rback;
    RotationAboutAxisXform(a, dir, angle, R);
    RotationAboutAxisXform(a, dir, -angle, Rback);
    const double onAxis[3] = {a[0] + 2 * dir[0], a[1] + 2 * dir[1], a[2] + 2 * dir[2]};
    VecTrans3(onAxis, R, fixed);
    ExpectNear3(fixed, onAxis, 1e-9);
    VecTrans3(r, R, q);
    VecTrans3(q, Rback, back);
    ExpectNear3(back, r, 1e-9);
    EXPECT_NEAR(VecDist3(q, a), VecDist3(r, a), 1e-9);
    // Mirroring in the axis is an involution; the midpoint of r and its image lies on the axis
    // and the chord is perpendicular to it.
    double mq[3], mid[3], c[3];
    VecAxisMirror3(r, a, onAxis, mq);
    VecAxisMirror3(mq, a, onAxis, back);
    ExpectNear3(back, r, 1e-9);
    for (int k = 0; k < 3; ++k) mid[k] = (r[k] + mq[k]) / 2 - a[k], c[k] = mq[k] - r[k];
    EXPECT_NEAR(VecDotProd3(c, dir), 0.0, 1e-8);
    EXPECT_NEAR(VecSize3(VecCrossProd3(dir, mid, c)), 0.0, 1e-8);

    // The segment a r goes onto the z axis, a to the origin.
    if (trial == 0) r[1] = a[1], r[2] = a[2];  // along x: rotation about y only
    TransformToZAxis(a, r, M);
    VecTrans3(a, M, q);
    ExpectNear3(q, origin, 1e-12);
    VecTrans3(r, M, q);
    const double tip[3] = {0, 0, VecDist3(a, r)};
    ExpectNear3(q, tip, 1e-9);
  }
  const double p[3] = {1, 2, 3}, tiny[3] = {1e-7, 0, 0};
  TransformToZAxis(p, p, M);  // no direction: the translation alone
  EXPECT_TRUE(M[12] == -1.0 && M[13] == -2.0 && M[14] == -3.0 && M[0] == 1.0 && M[5] == 1.0);
  double u[3], v[3], keep[3] = {7, 7, 7};
  EXPECT_EQ(Vec3To3Vecs(tiny, u, v, keep), -2);
  // Legacy: PerpVecs reports bad input on standard output, not through the host.
  testing::internal::CaptureStdout();
  EXPECT_EQ(PerpVecs(origin, u, keep), -2);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "PerpVecs -- Invalid input.");
  EXPECT_EQ(keep[0], 7.0);
  const double pm[3] = {2, 2, 3}, expect[3] = {0, 2, 3};
  VecAxisMirror3(pm, p, p, q);  // an axis through the one point p
  ExpectNear3(q, expect, 0);
}

}  // namespace
