// Extension of curves and surfaces across a boundary: the extrapolated end span continues the
// old polynomial exactly, bridge patches continue the boundary's tangent, the joined extension is
// tangent continuous and keeps the old shape, a start extension runs like the input, a curve on
// a surface is cut back onto the surface's boundary, and every path fails cleanly.
#include <cmath>
#include <vector>

#include "bspline/kinsert.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "construct/crv2srf.h"
#include "construct/extend.h"
#include "foundation/coreglob.h"
#include "tests/support/builders.h"
#include "tests/support/checks.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class ExtendTest : public KernelTest {};

double Dist(const double a[3], const double b[3]) {
  return std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]);
}

// Same knots and coefficients, bit for bit.
bool SameRecord(const Bspline* a, const Bspline* b) {
  if (NumKnotsU(a) != NumKnotsU(b) || NumCtrlU(a) != NumCtrlU(b) || a->kind != b->kind) return false;
  for (int i = 0; i < NumKnotsU(a); ++i)
    if (a->knotsU[i] != b->knotsU[i]) return false;
  const int rows = a->kind == 2 ? NumCtrlV(a) : 1;
  if (a->kind == 2) {
    if (NumKnotsV(a) != NumKnotsV(b)) return false;
    for (int i = 0; i < NumKnotsV(a); ++i)
      if (a->knotsV[i] != b->knotsV[i]) return false;
  }
  for (int r = 0; r < rows; ++r)
    for (int i = 0; i < NumCtrlU(a); ++i)
      if (a->X[r][i] != b->X[r][i] || a->Y[r][i] != b->Y[r][i] ||
          (a->dimension == 3 && a->Z[r][i] != b->Z[r][i]))
        return false;
  return true;
}

Bspline* Wavy(int pu, int pv, int nu, int nv, bool rational = false, unsigned seed = 1) {
  PatchOptions o;
  o.degreeU = pu, o.degreeV = pv, o.nu = nu, o.nv = nv;
  o.layout = KnotLayout::Random, o.rational = rational, o.seed = seed;
  return BuildFunctionPatch([](double x, double y) { return 0.3 * std::sin(3 * x) * std::cos(2 * y); }, o);
}

TEST_F(ExtendTest, ExtrapolatedEndSpanContinuesTheOldPolynomial) {
  BsplineKeeper keep;
  for (const bool rational : {false, true})
    for (const int degree : {1, 2, 3, 5})
      for (const int edge : {0, 2}) {
        Bspline* c = keep(BuildRandomCurve(7 + degree, degree, degree + 4, 3, rational));
        Bspline* before = keep(CopyBsplineStruct(c));
        // Extrapolated weights can reach zero: rational ends are extended by less.
        Bspline* e = keep(ExtendObjectByLengthG2(c, rational ? 0.05 : 0.4, 0, edge));
        ASSERT_NE(e, nullptr) << degree;
        EXPECT_TRUE(SameRecord(c, before));
        // Inside the old range the curve is the old one; for degree <= 3 the join knot is gone.
        for (double t = 0.0; t <= 1.0; t += 0.0625) {
          double a[3], b[3];
          RefEvalCurve(c, t, a);
          RefEvalCurve(e, t, b);
          EXPECT_LT(Dist(a, b), 1e-9) << degree << " " << t;
        }
        EXPECT_EQ(e->interiorU, c->interiorU + (degree <= 3 ? 0 : degree + 1 - 4)) << degree;
        EXPECT_EQ(edge == 0 ? e->umax : e->umin, edge == 0 ? 1.0 : 0.0);
        EXPECT_GT(edge == 0 ? -e->umin : e->umax - 1.0, 0.0);
        if (degree <= 3 && !rational) {
          // The continuation is the last span's own polynomial: evaluate it past its end.
          double far[3], cont[3];
          const double t = edge == 0 ? e->umin : e->umax;
          RefEvalCurve(e, t, far);
          // The old end span's polynomial at t, by de Boor on the old control points.
          Bspline* span = keep(CopyBsplineStruct(c));
          span->umin = -10, span->umax = 10;  // the reference clamps to the domain: widen it
          const int p = degree, n = NumCtrlU(c);
          std::vector<double> pts[3];
          const int first = edge == 0 ? 0 : n - p - 1;
          for (int i = 0; i <= p; ++i) {
            pts[0].push_back(c->X[0][first + i]);
            pts[1].push_back(c->Y[0][first + i]);
            pts[2].push_back(c->Z[0][first + i]);
          }
          const double* k = c->knotsU + first;
          // de Boor on the local knot vector of that span.
          std::vector<double> X(pts[0]), Y(pts[1]), Z(pts[2]);
          for (int r = 1; r <= p; ++r)
            for (int j = p; j >= r; --j) {
              const double den = k[j + p + 1 - r] - k[j];
              const double al = (t - k[j]) / den;
              X[j] = (1 - al) * X[j - 1] + al * X[j];
              Y[j] = (1 - al) * Y[j - 1] + al * Y[j];
              Z[j] = (1 - al) * Z[j - 1] + al * Z[j];
            }
          cont[0] = X[p], cont[1] = Y[p], cont[2] = Z[p];
          EXPECT_LT(Dist(far, cont), 1e-9) << degree << " edge " << edge;
        }
        if (degree == 5) {
          // Beyond the third new point the control polygon runs straight on.
          const int n = NumCtrlU(e);
          const int i = edge == 0 ? 0 : n - 3;
          const double d1[3] = {e->X[0][i + 1] - e->X[0][i], e->Y[0][i + 1] - e->Y[0][i],
                                e->Z[0][i + 1] - e->Z[0][i]};
          const double d2[3] = {e->X[0][i + 2] - e->X[0][i + 1], e->Y[0][i + 2] - e->Y[0][i + 1],
                                e->Z[0][i + 2] - e->Z[0][i + 1]};
          ExpectNear3(d1, d2, 1e-9, "straight tail");
        }
      }
}

TEST_F(ExtendTest, SurfaceExtrapolationAcrossEveryEdgeKeepsTheSurface) {
  BsplineKeeper keep;
  Bspline* s = keep(Wavy(3, 2, 7, 5));
  Bspline* before = keep(CopyBsplineStruct(s));
  for (int edge = 0; edge < 4; ++edge) {
    Bspline* e = keep(ExtendObject(s, nullptr, nullptr, 0.25, 0, edge, 2, 1.0));
    ASSERT_NE(e, nullptr) << edge;
    EXPECT_TRUE(SameRecord(s, before)) << edge;
    for (double u = 0; u <= 1.0; u += 0.125)
      for (double v = 0; v <= 1.0; v += 0.125) {
        double a[3], b[3];
        RefEvalSurface(s, u, v, a);
        RefEvalSurface(e, u, v, b);
        EXPECT_LT(Dist(a, b), 1e-9) << edge;
      }
    // The far edge lies about the length away (the parameter speed of the whole net).
    const bool inV = edge == 1 || edge == 3;
    EXPECT_EQ((inV ? e->interiorV - s->interiorV : e->interiorU - s->interiorU), 0);
  }
}

TEST_F(ExtendTest, ByLengthBridgeContinuesAStraightLegWithTheRequestedLength) {
  BsplineKeeper keep;
  // A cubic whose last leg runs along x: the patch lies on that line, equally spaced.
  Bspline* c = keep(BuildCurve(3, 3, {0, 0, 0, 1, 1, 0, 2, 0, 0, 3, 0, 0, 4, 0, 0}));
  for (const double scale : {1e-6, 1.0, 1e6}) {
    Bspline* s = keep(CopyBsplineStruct(c));
    for (int i = 0; i < NumCtrlU(s); ++i) s->X[0][i] *= scale, s->Y[0][i] *= scale;
    Bspline* patch = nullptr;
    const double length = 0.7 * scale;
    // The shortest bridge is relative to the part: small parts extend as large ones do.
    ASSERT_EQ(MakeBPatchOfCnToObj(s, 2, length, 0, 1, &patch), 1) << scale;
    keep(patch);
    for (int i = 0; i <= 3; ++i) {
      EXPECT_NEAR(patch->X[0][i], 4 * scale + i * length / 3, 1e-12 * scale);
      EXPECT_EQ(patch->Y[0][i], 0.0);
    }
  }
  // A surface edge with uniform lines: every line across ends with the length.
  Bspline* s = keep(Wavy(3, 3, 6, 5));
  for (const int uniform : {0, 1}) {
    Bspline* patch = nullptr;
    ASSERT_EQ(MakeBPatchOfCnToObj(s, 1, 0.3, uniform, 1, &patch), 1);
    keep(patch);
    const int n = NumCtrlU(patch);
    double shortest = 1e300, longest = 0;
    for (int k = 0; k < n; ++k) {
      double len = 0;
      for (int r = 1; r <= 3; ++r) {
        const double a[3] = {patch->X[r - 1][k], patch->Y[r - 1][k], patch->Z[r - 1][k]};
        const double b[3] = {patch->X[r][k], patch->Y[r][k], patch->Z[r][k]};
        len += Dist(a, b);
      }
      shortest = std::min(shortest, len), longest = std::max(longest, len);
    }
    EXPECT_NEAR(shortest, 0.3, 1e-12);
    if (uniform) {
      EXPECT_NEAR(longest, 0.3, 1e-12);
    }
  }
}

// First cross derivatives on both sides of the join, by one-sided differences.
TEST_F(ExtendTest, JoinedExtensionIsTangentContinuousAndKeepsTheShape) {
  BsplineKeeper keep;
  for (const int edge : {0, 1, 2, 3})
    for (const int cont : {0, 1}) {
      Bspline* s = keep(Wavy(3, 3, 6, 5, false, 3));
      Bspline* orig = keep(CopyBsplineStruct(s));
      Bspline* e = keep(ExtendObject(s, nullptr, nullptr, 0.2, 0, edge, cont, 1.0));
      ASSERT_NE(e, nullptr) << edge;
      const bool inV = edge == 1 || edge == 3;
      const bool atMin = edge == 0 || edge == 3;
      // The old part sits at the end of the result's range after a start extension.
      const double shift = atMin ? (inV ? e->vmax - orig->vmax : e->umax - orig->umax) : 0.0;
      EXPECT_EQ(inV ? e->vmin : e->umin, 0.0);
      for (double a = 0.0; a <= 1.0; a += 0.25)
        for (double b = 0.0; b <= 1.0; b += 0.25) {
          double p[3], q[3];
          RefEvalSurface(orig, a, b, p);
          RefEvalSurface(e, inV ? a : a + shift, inV ? b + shift : b, q);
          EXPECT_LT(Dist(p, q), 1e-9) << edge << " " << cont;
        }
      if (cont == 0) continue;
      const double join = atMin ? shift : 1.0, h = 1e-6;
      for (double a = 0.1; a < 1.0; a += 0.2) {
        double m[3], p0[3], pl[3], pr[3];
        auto at = [&](double t, double out[3]) {
          RefEvalSurface(e, inV ? a : t, inV ? t : a, out);
        };
        at(join, p0);
        at(join - h, pl);
        at(join + h, pr);
        for (int k = 0; k < 3; ++k) m[k] = (p0[k] - pl[k]) / h - (pr[k] - p0[k]) / h;
        EXPECT_LT(std::hypot(m[0], m[1], m[2]), 1e-3) << edge;
      }
    }
}

TEST_F(ExtendTest, StartExtensionRunsLikeTheInputAndTinyBridgesMoveTheEnd) {
  BsplineKeeper keep;
  Bspline* c = keep(BuildRandomCurve(4, 3, 6));
  Bspline* orig = keep(CopyBsplineStruct(c));
  Bspline* e = keep(ExtendObject(c, nullptr, nullptr, 0.5, 0, 0, 1, 1.0));
  ASSERT_NE(e, nullptr);
  const double shift = e->umax - 1.0;
  double a[3], b[3], s[3];
  RefEvalCurve(orig, 0.0, a);
  RefEvalCurve(orig, 1.0, b);
  RefEvalCurve(e, e->umax, s);
  EXPECT_LT(Dist(b, s), 1e-9);  // runs like the input: its end is the input's end
  RefEvalCurve(e, shift, s);
  EXPECT_LT(Dist(a, s), 1e-9);
  // A bridge shorter than 0.001 moves the end control point instead: same knots.
  Bspline* t = keep(CopyBsplineStruct(orig));
  double target[3] = {t->X[0][5] + 1e-4, t->Y[0][5], t->Z[0][5]};
  Bspline* moved = keep(ExtendObject(t, nullptr, target, 0.0, 0, 2, 1, 1.0));
  ASSERT_NE(moved, nullptr);
  ASSERT_EQ(NumKnotsU(moved), NumKnotsU(orig));
  for (int i = 0; i < NumKnotsU(orig); ++i) EXPECT_EQ(moved->knotsU[i], orig->knotsU[i]);
  EXPECT_EQ(moved->X[0][5], target[0]);
  // Length 0 without target: a copy, for every continuity.
  for (int cont = 0; cont <= 2; ++cont) {
    Bspline* same = keep(ExtendObject(t, nullptr, nullptr, 0.0, 0, 2, cont, 1.0));
    ASSERT_NE(same, nullptr);
    EXPECT_TRUE(SameRecord(same, t));
  }
}

TEST_F(ExtendTest, CurveOnSurfaceEndsExactlyOnTheBoundary) {
  BsplineKeeper keep;
  Bspline* s = keep(Wavy(3, 3, 5, 5));
  // A line from inside to near the u-maximum edge; extended, it is cut where it leaves.
  for (const int cont : {1, 2}) {
    Bspline* c = BuildCurveOnSurface(s, 3, {0.2, 0.3, 0.45, 0.4, 0.7, 0.5, 0.98, 0.6});
    Bspline* e = ExtendObject(c, nullptr, nullptr, 0.5, 0, 2, cont, 1.0);
    ASSERT_NE(e, nullptr) << cont;
    keep(e);
    const int n = NumCtrlU(e);
    EXPECT_EQ(e->X[0][n - 1], 1.0) << cont;
    EXPECT_GT(e->umax, c->umax);
    // Short of the boundary: no crossing past the join, the extension stays whole.
    Bspline* d = BuildCurveOnSurface(s, 3, {0.2, 0.3, 0.3, 0.35, 0.4, 0.4, 0.5, 0.45});
    Bspline* f = keep(ExtendObject(d, nullptr, nullptr, 0.05, 0, 2, cont, 1.0));
    ASSERT_NE(f, nullptr);
    EXPECT_LT(f->X[0][NumCtrlU(f) - 1], 1.0);
    Bspline* g = keep(SnipCrvOnSrfAtSrfEdge(f, d, 0));
    ASSERT_NE(g, nullptr);
    EXPECT_NE(g, f);
    EXPECT_TRUE(SameRecord(g, f));
  }
}

TEST_F(ExtendTest, BridgesToTargetsAndRefusals) {
  BsplineKeeper keep;
  Bspline* s = keep(Wavy(3, 3, 6, 5));
  // Straight lines from each boundary control point to its target, in d equal steps.
  Bspline* target = keep(CopyBsplineStruct(s));
  Bspline* line = keep(BuildCurve(3, 3, {1.5, 0, 0.2, 1.5, 0.3, 0.1, 1.5, 0.7, 0.0, 1.5, 1.0, 0.2}));
  (void)target;
  Bspline* bridge = keep(MakeBridgeObject(s, line, nullptr, 0.0, 0, 2, 1));
  ASSERT_NE(bridge, nullptr);
  ASSERT_EQ(NumCtrlV(bridge), NumCtrlV(s));
  for (int k = 0; k < NumCtrlV(bridge); ++k) {
    const double S[3] = {s->X[k][NumCtrlU(s) - 1], s->Y[k][NumCtrlU(s) - 1], s->Z[k][NumCtrlU(s) - 1]};
    const double T[3] = {line->X[0][k], line->Y[0][k], line->Z[0][k]};
    for (int i = 0; i <= 3; ++i) {
      const double want[3] = {S[0] + i * (T[0] - S[0]) / 3, S[1] + i * (T[1] - S[1]) / 3,
                              S[2] + i * (T[2] - S[2]) / 3};
      const double got[3] = {bridge->X[k][i], bridge->Y[k][i], bridge->Z[k][i]};
      ExpectNear3(got, want, 1e-12);
    }
  }
  // Blended on: the result reaches the target curve.
  Bspline* joined = keep(ExtendObject(s, line, nullptr, 0.0, 0, 2, 1, 1.0));
  ASSERT_NE(joined, nullptr);
  double end[3], want[3];
  RefEvalSurface(joined, joined->umax, 0.5 * (joined->vmin + joined->vmax), end);
  RefEvalCurve(line, 0.5, want);
  EXPECT_LT(Dist(end, want), 1e-6);
  // Refused: a surface with only a target point; a continuity outside 0..2; a short bridge.
  double point[3] = {2, 0, 0};
  EXPECT_EQ(MakeBridgeObject(s, nullptr, point, 0.0, 0, 2, 1), nullptr);
  ClearKernelError();
  EXPECT_EQ(ExtendObject(s, nullptr, nullptr, 0.3, 0, 2, 3, 1.0), nullptr);
  ClearKernelError();
  EXPECT_EQ(ExtendObject(s, nullptr, nullptr, 0.0005, 0, 2, 1, 1.0), nullptr);
  ClearKernelError();
}

TEST_F(ExtendTest, EdgeReflectionMirrorsTheThirdRowAndLeavesTheObjectAlone) {
  BsplineKeeper keep;
  Bspline* s = keep(Wavy(3, 3, 7, 6, false, 5));
  Bspline* before = keep(CopyBsplineStruct(s));
  for (int edge = 0; edge < 4; ++edge) {
    double unused[3];
    Bspline* r = keep(MakeG2ReflecBspline(s, edge, unused));
    ASSERT_NE(r, nullptr);
    EXPECT_TRUE(SameRecord(s, before));
    // Against the rows of a copy whose end span was made Bezier by knot insertion.
    Bspline* b = keep(CopyBsplineStruct(s));
    const bool inV = edge == 1 || edge == 3;
    EXPECT_EQ(PutEndSpanOfObjToBpatch(b, inV ? 1 : 0, edge), 2);
    const int nu = NumCtrlU(b), nv = NumCtrlV(b);
    for (int k = 0; k < NumCtrlU(r); ++k) {
      auto P = [&](int row, double out[3]) {
        const int i = inV ? k : (edge == 0 ? row : nu - 1 - row);
        const int j = inV ? (edge == 3 ? row : nv - 1 - row) : k;
        out[0] = b->X[j][i], out[1] = b->Y[j][i], out[2] = b->Z[j][i];
      };
      double p0[3], p1[3], p2[3];
      P(0, p0), P(1, p1), P(2, p2);
      const double v[3] = {r->X[0][k], r->Y[0][k], r->Z[0][k]};
      // The mirror keeps the distance from the edge point and flips the part along the first leg.
      double e[3], w[3];
      for (int q = 0; q < 3; ++q) e[q] = p0[q] - p1[q], w[q] = p2[q] - p0[q];
      const double le = std::hypot(e[0], e[1], e[2]);
      EXPECT_NEAR(std::hypot(v[0], v[1], v[2]), std::hypot(w[0], w[1], w[2]), 1e-9);
      EXPECT_NEAR((v[0] * e[0] + v[1] * e[1] + v[2] * e[2]) / le,
                  -(w[0] * e[0] + w[1] * e[1] + w[2] * e[2]) / le, 1e-9);
    }
  }
  // A curve: the single vector, no record.
  Bspline* c = keep(BuildCurve(3, 3, {0, 0, 0, 1, 0, 0, 2, 1, 0, 3, 3, 0}));
  double out[3] = {9, 9, 9};
  EXPECT_EQ(MakeG2ReflecBspline(c, 2, out), nullptr);
  // Edge (3,3,0), legs back to (2,1,0) and (1,0,0): the mirror of (1,0,0) in the plane through
  // (3,3,0) normal to (1,2,0)/sqrt(5).
  const double s5 = std::sqrt(5.0), d = ((1 - 3) * 1 + (0 - 3) * 2) / s5;
  const double want[3] = {1 - 2 * d / s5 - 3, 0 - 4 * d / s5 - 3, 0};
  ExpectNear3(out, want, 1e-12);
}

TEST_F(ExtendTest, FailedAllocationsOnEveryPathLeaveNothing) {
  BsplineKeeper keep;
  Bspline* s = keep(Wavy(3, 3, 5, 4));
  Bspline* line = keep(BuildCurve(3, 3, {1.5, 0, 0.2, 1.5, 0.3, 0.1, 1.5, 0.7, 0.0, 1.5, 1.0, 0.2}));
  Bspline* onS = BuildCurveOnSurface(s, 3, {0.2, 0.3, 0.45, 0.4, 0.7, 0.5, 0.98, 0.6});
  struct Case {
    Bspline* obj;
    Bspline* target;
    double length;
    int edge, cont;
  };
  const Case cases[] = {{s, nullptr, 0.3, 1, 2}, {s, nullptr, 0.3, 3, 1}, {s, line, 0.0, 2, 1},
                        {onS, nullptr, 0.5, 2, 1}, {onS, nullptr, 0.5, 2, 2}, {s, nullptr, 0.0, 0, 1}};
  for (const Case& k : cases) {
    const int failures = RunMakerWithInjectedFailures(400, 3, [&](Bspline** out) {
      Bspline* work = CopyBsplineStruct(k.obj);
      if (!work) return -1;
      work->owner = k.obj->owner;
      Bspline* tgt = k.target ? CopyBsplineStruct(k.target) : nullptr;
      if (k.target && !tgt) {
        FreeBspline(work);
        return -1;
      }
      *out = ExtendObject(work, tgt, nullptr, k.length, 0, k.edge, k.cont, 1.0);
      FreeBspline(work);
      FreeBspline(tgt);
      return *out && !KernelFailed() ? 0 : -1;
    });
    EXPECT_GT(failures, 0);
  }
}

}  // namespace

namespace {

class BridgeHelpers : public KernelTest {};

TEST_F(BridgeHelpers, ReflectionsScalingsAndLineLengths) {
  double a[3] = {1, 2, 3}, b[3] = {2, 2, 5}, c[3] = {0, 7, -1}, o[3], back[3];
  double ox, oy, oz;
  Reflect3DVector1(&a[0], &a[1], &a[2], &b[0], &b[1], &b[2], 1, 1, 1, &ox, &oy, &oz);
  EXPECT_EQ(ox, 3.0);
  EXPECT_EQ(oz, 7.0);
  // The mirror is an involution and keeps the distance from the plane's point.
  Reflect3DVector2(&a[0], &a[1], &a[2], &b[0], &b[1], &b[2], &c[0], &c[1], &c[2], 1, 1, &o[0], &o[1], &o[2]);
  Reflect3DVector2(&a[0], &a[1], &a[2], &b[0], &b[1], &b[2], &o[0], &o[1], &o[2], 1, 1, &back[0], &back[1], &back[2]);
  ExpectNear3(back, c, 1e-12);
  EXPECT_NEAR(Dist(o, b), Dist(c, b), 1e-12);
  // Lines of a 3 x 2 grid (points along x, lines along y): lengths 2 and 4.
  double gx[6] = {0, 1, 2, 0, 0, 0}, gy[6] = {0, 0, 0, 2, 4, 2}, out[2];
  for (int i = 0; i < 3; ++i) gx[3 + i] = gx[i];
  FindExtremeLinesInGrid(gx, gy, nullptr, 3, 1, 2, 3, out);
  EXPECT_EQ(out[0], 2.0);
  EXPECT_EQ(out[1], 4.0);
  FindExtremeLinesInGrid(gx, gy, nullptr, 3, 1, 2, 0, out);
  EXPECT_EQ(out[0], 1.797693e308);
  EXPECT_EQ(out[1], 0.0);
  // Scaling about a reference and back.
  double m[6] = {1, 2, 3, 4, 5, 6}, ref[3] = {1, 1, 1};
  ScaleMatWithRespectToVec(m, ref, 4.0, 6, 3);
  EXPECT_EQ(m[4], 1 + 4.0 * 4);
  ScaleMatWithRespectToVec(m, ref, 0.25, 6, 3);
  EXPECT_DOUBLE_EQ(m[4], 5.0);
  // Chained knot vectors: each object starts where the one before ends.
  BsplineKeeper keep;
  Bspline* c0 = keep(BuildRandomCurve(1, 3, 5));
  Bspline* c1 = keep(BuildRandomCurve(2, 3, 6));
  Bspline* chain[2] = {c0, c1};
  CascadeKnotVecOfObjSet(chain, 2, nullptr);
  EXPECT_EQ(c1->umin, 1.0);
  EXPECT_EQ(c1->umax, 2.0);
  // Uniform lines: every control column of a surface reaches the length.
  PatchOptions po;
  Bspline* s = keep(BuildFunctionPatch([](double x, double y) { return 0.2 * x * y; }, po));
  MakeCntrlMatUniformLength(s, 2.0, 1);
  for (int i = 0; i < NumCtrlU(s); ++i) {
    double len = 0;
    for (int j = 1; j < NumCtrlV(s); ++j) {
      const double p[3] = {s->X[j - 1][i], s->Y[j - 1][i], s->Z[j - 1][i]};
      const double q[3] = {s->X[j][i], s->Y[j][i], s->Z[j][i]};
      len += Dist(p, q);
    }
    EXPECT_NEAR(len, 2.0, 1e-12);
  }
  // A curve's end bridged to a point: straight, in degree-many equal steps.
  Bspline* patch = nullptr;
  double x = 5, y = 0, z = 0;
  MakeBPatchFromObjEdgeToCurve3(c0, 2, &x, &y, &z, nullptr, &patch);
  ASSERT_NE(patch, nullptr);
  keep(patch);
  EXPECT_EQ(patch->X[0][3], 5.0);
  EXPECT_NEAR(patch->X[0][1], c0->X[0][4] + (5 - c0->X[0][4]) / 3, 1e-12);
}

}  // namespace

namespace {

class CurvaturePatch : public KernelTest {};

double Curvature(const Bspline* c, double t) {
  double d1[3], d2[3];
  RefEvalDeriv(c, t, 0, 1, 0, d1);
  RefEvalDeriv(c, t, 0, 2, 0, d2);
  const double x[3] = {d1[1] * d2[2] - d1[2] * d2[1], d1[2] * d2[0] - d1[0] * d2[2], d1[0] * d2[1] - d1[1] * d2[0]};
  const double l = std::hypot(d1[0], d1[1], d1[2]);
  return std::hypot(x[0], x[1], x[2]) / (l * l * l);
}

// With the length of the end span's Bezier polygon the patch is that span's mirror image:
// tangent and curvature go on across the join, and the first derivative too (tangent patches).
TEST_F(CurvaturePatch, MirroredEndSpanContinuesTangentAndCurvature) {
  BsplineKeeper keep;
  Bspline* c = keep(BuildRandomCurve(9, 3, 7));
  Bspline* before = keep(CopyBsplineStruct(c));
  Bspline* bez = keep(CopyBsplineStruct(c));
  ASSERT_EQ(PutEndSpanOfObjToBpatch(bez, 0, 2), 2);
  const int n = NumCtrlU(bez);
  double L = 0;
  for (int i = n - 3; i < n; ++i) {
    const double a[3] = {bez->X[0][i - 1], bez->Y[0][i - 1], bez->Z[0][i - 1]};
    const double b[3] = {bez->X[0][i], bez->Y[0][i], bez->Z[0][i]};
    L += Dist(a, b);
  }
  for (const int cont : {1, 2}) {
    Bspline* patch = nullptr;
    ASSERT_EQ(MakeBPatchOfCnToObj(c, 2, cont == 2 ? L : 0.3, 0, cont, &patch), 1);
    keep(patch);
    double d0[3], d1[3];
    RefEvalDeriv(c, 1.0, 0, 1, 0, d0);
    RefEvalDeriv(patch, patch->umin, 0, 1, 0, d1);
    ExpectNear3(d0, d1, 1e-9 * (1 + std::hypot(d0[0], d0[1], d0[2])), "first derivative");
    if (cont == 2) {
      EXPECT_NEAR(Curvature(c, 1.0), Curvature(patch, patch->umin), 1e-9);
    }
  }
  EXPECT_TRUE(SameRecord(c, before));  // the end span was read from a copy
}

}  // namespace

namespace {

// Arc length by a polyline of 4000 chords (relative error about 1e-8 on these smooth arcs).
template <typename Eval>
double ArcLength(Eval eval, double t1, double t2) {
  double prev[3], len = 0.0;
  eval(t1, prev);
  for (int i = 1; i <= 4000; ++i) {
    double p[3];
    eval(t1 + (t2 - t1) * i / 4000, p);
    len += Dist(prev, p);
    std::copy(p, p + 3, prev);
  }
  return len;
}

}  // namespace

// With curvature continuity the added part is as long as asked: a bent space cubic at either
// end, and surfaces that are the same along every line across (z depends on the coordinate
// across only), at every size; continuity 0 and 1 extend small parts as large ones, and a
// length under a thousandth of the part is refused at every size.
TEST_F(ExtendTest, CurvatureContinuousExtensionsAreAsLongAsAskedAtEverySize) {
  for (const double sc : {1e-6, 1e-3, 1.0, 1e3, 1e6}) {
    BsplineKeeper keep;
    std::vector<double> pts = {0, 0, 0, 1, 1, 0, 2, 0.5, 0.3, 3, 0, 0.6, 4, 0.5, 0.2};
    for (double& v : pts) v *= sc;
    const double length = 0.3 * sc;
    for (const int edge : {0, 2}) {
      Bspline* c = keep(BuildCurve(3, 3, pts));
      Bspline* e = keep(ExtendObject(c, nullptr, nullptr, length, 0, edge, 2, 1.0));
      ASSERT_NE(e, nullptr) << sc;
      auto at = [&](double t, double p[3]) { RefEvalCurve(e, t, p); };
      const double added = edge == 0 ? ArcLength(at, e->umin, 0.0) : ArcLength(at, 1.0, e->umax);
      EXPECT_NEAR(added, length, 1e-5 * length) << sc << " edge " << edge;
    }
    for (const int edge : {0, 1, 2, 3}) {
      const bool inV = edge == 1 || edge == 3;
      PatchOptions o;
      o.x1 = o.y1 = sc;
      Bspline* s = keep(BuildFunctionPatch(
          [&](double x, double y) { return 0.3 * sc * std::sin(3 * (inV ? y : x) / sc); }, o));
      Bspline* e = keep(ExtendObject(s, nullptr, nullptr, length, 0, edge, 2, 1.0));
      ASSERT_NE(e, nullptr) << sc << " edge " << edge;
      const double lo = inV ? e->vmin : e->umin, hi = inV ? e->vmax : e->umax;
      for (const double along : {0.0, 0.37, 1.0}) {
        auto at = [&](double t, double p[3]) { RefEvalSurface(e, inV ? along : t, inV ? t : along, p); };
        const double added = edge == 0 || edge == 3 ? ArcLength(at, lo, 0.0) : ArcLength(at, 1.0, hi);
        EXPECT_NEAR(added, length, 1e-5 * length) << sc << " edge " << edge << " at " << along;
      }
    }
    for (const int cont : {0, 1}) {
      Bspline* c = keep(BuildCurve(3, 3, pts));
      EXPECT_NE(keep(ExtendObject(c, nullptr, nullptr, length, 0, 2, cont, 1.0)), nullptr) << sc;
      EXPECT_EQ(ExtendObject(c, nullptr, nullptr, 1e-4 * length, 0, 2, cont, 1.0), nullptr) << sc;
    }
  }
}

namespace {

// A v edge is extended on a transposed copy: whatever fails on the way (an allocation, an
// extension the knots cannot take), the caller's surface is as it came, bit for bit.
TEST_F(ExtendTest, VEdgeExtensionThatFailsLeavesTheSurfaceAsItCame) {
  BsplineKeeper keep;
  Bspline* s = keep(Wavy(3, 2, 5, 4));
  const Bspline* before = keep(CopyBsplineStruct(s));
  int failures = 0;
  for (const int edge : {1, 3})
    for (long skip = 0; skip < 60; skip += 3) {
      ClearKernelError();
      MallocFailAfter(skip, -1);
      Bspline* e = ExtendObjectByLengthG2(s, 0.2, 0, edge);
      MallocFailClear();
      failures += e == nullptr;
      if (e) FreeBspline(e);
      EXPECT_TRUE(SameRecord(s, before)) << edge << " " << skip;
      EXPECT_EQ(s->degreeU, before->degreeU);
      EXPECT_EQ(s->interiorV, before->interiorV);
    }
  // A length that runs the knots backwards is refused the same way.
  ClearKernelError();
  EXPECT_EQ(ExtendObjectByLengthG2(s, -1e300, 0, 1), nullptr);
  EXPECT_TRUE(SameRecord(s, before));
  ClearKernelError();
  EXPECT_GT(failures, 0);
}

}  // namespace
