#include "construct/srfmerge.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "bspline/bsvalid.h"
#include "bspline/helper.h"
#include "bspline/kinsert.h"
#include "bspline/knots.h"
#include "bspline/kremove.h"
#include "bspline/nubs.h"
#include "bspline/objset.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "bspline/subobj.h"
#include "cloud/pgauss.h"
#include "construct/srfloft.h"
#include "curve/cintsct.h"
#include "curve/crvutil.h"
#include "curve/pntintrp.h"
#include "foundation/coreglob.h"
#include "foundation/makemat.h"
#include "foundation/mathmat.h"
#include "foundation/sort.h"
#include "foundation/umalloc.h"
#include "foundation/unitfrm.h"
#include "foundation/vec3.h"
#include "quadric/quadrics.h"
#include "splinefit/gspline.h"
#include "stitch/crossder.h"
#include "stitch/srfcont.h"
#include "stitch/vcnobj.h"
#include "surface/bnd2crv.h"

namespace {

// Patches whose edges miss their surfaces by more than these are split.
constexpr double kGapTol = 0.001;   // GlobalPositionContinuityTol
constexpr double kAngleTol = 0.5;   // GlobalTangentContinuityTol, degrees
constexpr int kMaxPasses = 6;
// A split closer than this to a span end would make a sliver span: it is not made.
constexpr double kSplitMargin = 1e-5;
// A bridge direction shorter than this share of the lengths it is made of has no direction.
constexpr double kDirectionFloor = 1e-10;

bool OnSurface(const Bspline* c) {
  return BsplineShapeSound(c) && c->kind == 1 && c->dimension == 2 && c->owner;
}

}  // namespace

// ---- Matrices ---------------------------------------------------------------------------------

void FindHermiteFunctions(double**** H) {
  *H = allocate_3dim_matrix_ff(2, 4, 4);
  if (!*H) return;
  static const double h[4][4] = {{2, -2, 1, 1}, {-3, 3, -2, -1}, {0, 0, 1, 0}, {1, 0, 0, 0}};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) (*H)[0][i][j] = h[i][j], (*H)[1][j][i] = h[i][j];
}

void FindBsplineFunctions(double**** B, int flag) {
  *B = allocate_3dim_matrix_ff(2, 4, 4);
  if (!*B) return;
  static const double b[4][4] = {{0, 0, 0, 1}, {0, 0, 1.0 / 3, 1}, {0, 1.0 / 3, 2.0 / 3, 1}, {1, 1, 1, 1}};
  static const double f0[4][4] = {{0, 2.0 / 3, -1, 1}, {0, -1.0 / 3, 0, 1}, {0, 2.0 / 3, 1, 1}, {6, 11.0 / 3, 2, 1}};
  static const double f1[4][4] = {{0, 0, 0, 6}, {2.0 / 3, -1.0 / 3, 2.0 / 3, 11.0 / 3}, {-1, 0, 1, 2}, {1, 1, 1, 1}};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      (*B)[0][i][j] = flag ? b[i][j] : f0[i][j];
      (*B)[1][i][j] = flag ? b[i][j] : f1[i][j];
    }
}

// ---- Bridge directions and patches ------------------------------------------------------------

void FindBridgeDirection(Bspline* srf, const double uv[2], const double p[3], const double q[3],
                         const double Su[3], const double Sv[3], const double T[3], int perp,
                         double D[3]) {
  // Su x Sv goes with the square of the unit of length: it is made unit first, so that D has
  // the units of W (and of W times T with perp) and vanishes against them, at every size.
  double N[3];
  ComputeSurfaceNormal(srf, uv[0], uv[1], Su, Sv, N);
  const double nn = VecSize3(N);
  for (double& c : N) c /= nn;
  const double W[3] = {q[0] - p[0], q[1] - p[1], q[2] - p[2]};
  const double WN = VecDotProd3(W, N);
  for (int k = 0; k < 3; ++k) D[k] = W[k] - N[k] * WN;
  double reach = VecSize3(W);
  if (perp == 1) {
    double C[3];
    VecCrossProd3(N, T, C);
    for (double& c : C) c *= WN;
    const double s = VecDotProd3(C, D) >= 0.0 ? 1.0 : -1.0;
    for (int k = 0; k < 3; ++k) D[k] = s * C[k];
    reach *= VecSize3(T);
  }
  if (!(reach > 0.0) || NormalizeVector(D, 3, kDirectionFloor * reach) != 0) D[0] = D[1] = D[2] = 0.0;
}

void FindBridgeMagnitude(const double p[3], const double q[3], double D[3], double scale) {
  // The tangent length of the circular arc from p along D through q (zero when none exists).
  const double m = scale * TangentMagnitude(p, q, D, 1);
  for (int k = 0; k < 3; ++k) D[k] *= m;
}

void FindCoonsInfoFrom2Curve2s(Bspline* c1, Bspline* c2, const double span1[2],
                               const double span2[2], int, int, double*** G, int flip1, int flip2,
                               double scale1, double scale2, int perp1, int perp2) {
  Bspline* crv[2] = {c1, c2};
  const double* span[2] = {span1, span2};
  double P[2][2][3], T[2][2][3], Su[2][2][3], Sv[2][2][3], uv[2][2][2];
  for (int c = 0; c < 2; ++c) {
    const double h = span[c][1] - span[c][0];
    for (int e = 0; e < 2; ++e) {
      double d[2];
      Eval2DPointOnCurve2Array(nullptr, crv[c], span[c][e], 0, uv[c][e]);
      Eval2DPointOnCurve2Array(nullptr, crv[c], span[c][e], 1, d);
      const int want[3] = {1, 1, 1};
      double S[3][3];
      Eval3DPointOnSurfArrayM(crv[c]->owner, uv[c][e][0], uv[c][e][1], want, S);
      for (int k = 0; k < 3; ++k) {
        P[c][e][k] = S[0][k], Su[c][e][k] = S[1][k], Sv[c][e][k] = S[2][k];
        T[c][e][k] = (S[1][k] * d[0] + S[2][k] * d[1]) * h;
      }
    }
  }
  double D[2][2][3];
  const int perp[2] = {perp1, perp2};
  const double scale[2] = {scale1, scale2};
  for (int c = 0; c < 2; ++c)
    for (int e = 0; e < 2; ++e) {
      const double* other = P[1 - c][e];
      FindBridgeDirection(crv[c]->owner, uv[c][e], P[c][e], other, Su[c][e], Sv[c][e], T[c][e],
                          perp[c], D[c][e]);
      FindBridgeMagnitude(P[c][e], other, D[c][e], scale[c]);
    }
  for (int e = 0; e < 2; ++e)
    for (int k = 0; k < 3; ++k) {
      if (flip1 == -1) D[0][e][k] = -D[0][e][k];
      if (flip2 == 1) D[1][e][k] = -D[1][e][k];
    }
  for (int k = 0; k < 3; ++k) {
    double** g = G[k];
    for (int c = 0; c < 2; ++c) {
      g[c][0] = P[c][0][k], g[c][1] = P[c][1][k], g[c][2] = T[c][0][k], g[c][3] = T[c][1][k];
      g[2 + c][0] = D[c][0][k], g[2 + c][1] = D[c][1][k], g[2 + c][2] = g[2 + c][3] = 0.0;
    }
  }
}

void Find3DCoonsPatchFrom2Curve2s(Bspline* c1, Bspline* c2, double*** H, double*** C, double*** G,
                                  double*** scratch, const double span1[2], const double span2[2],
                                  int opt1, int opt2, int flip1, int flip2, double scale1,
                                  double scale2, int perp1, int perp2) {
  FindCoonsInfoFrom2Curve2s(c1, c2, span1, span2, opt1, opt2, G, flip1, flip2, scale1, scale2, perp1,
                            perp2);
  for (int k = 0; k < 3; ++k) {
    multiply_matrices_ff_ff_ff(H[0], G[k], scratch[0], 4, 4, 4, 4);
    multiply_matrices_ff_ff_ff(scratch[0], H[1], C[k], 4, 4, 4, 4);
  }
}

void PutCoonsInfoToSplineCoefi(double** C, double*** B, double*** scratch, double** coef) {
  multiply_matrices_ff_ff_ff(B[0], C, scratch[0], 4, 4, 4, 4);
  multiply_matrices_ff_ff_ff(scratch[0], B[1], scratch[1], 4, 4, 4, 4);
  // Rows of the product run across the bridge (u); the record's rows run in v.
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) coef[j][i] = scratch[1][i][j];
}

namespace {

// A new bicubic surface of 4 x 4n control points on [u0, u1] x [t0, tn] with n Bezier rows of
// patches (interior v knots four times), outside every scope.
Bspline* NewPatchSurface(int n, double u0, double u1, const double* t) {
  TrackingScope scope;
  Owned<Bspline, FreeBspline> s(MallocInitSurfaceBspline());
  if (!s) return nullptr;
  s->interiorU = 0;
  s->interiorV = 4 * n - 4;
  if (n == 1)
    assign_gcar_knots(s.get(), u0, t[0], u1, t[1]);
  else
    InitFillBsplineStruct(s.get(), u0, t[0], u1, t[n]);
  if (KernelFailed()) return nullptr;
  for (int j = 1; j < n; ++j)
    for (int r = 0; r < 4; ++r) s->knotsV[3 + 4 * (j - 1) + r + 1] = t[j];
  SetDomainFromKnots(s.get(), 0);
  SetDomainFromKnots(s.get(), 1);
  scope.keep();
  return s.release();
}

// The Bezier rows of patch C into rows row0 .. row0 + 3 of s.
bool FillPatchRows(Bspline* s, double*** C, double*** B, double*** scratch, int row0) {
  double** coef = allocate_matrix_ff(4, 4);
  if (!coef) return false;
  double** M[3] = {s->X, s->Y, s->Z};
  for (int k = 0; k < 3; ++k) {
    PutCoonsInfoToSplineCoefi(C[k], B, scratch, coef);
    for (int j = 0; j < 4; ++j)
      for (int i = 0; i < 4; ++i) M[k][row0 + j][i] = coef[j][i];
  }
  matrix_free_ff(coef);
  return true;
}

}  // namespace

Bspline* PutCoonsPatchToBsplinePatch(double*** C, double*** B, double*** scratch, double umin,
                                     double umax, double vmin, double vmax) {
  const double t[2] = {vmin, vmax};
  Owned<Bspline, FreeBspline> s(NewPatchSurface(1, umin, umax, t));
  if (!s || !FillPatchRows(s.get(), C, B, scratch, 0)) return nullptr;
  return s.release();
}

Bspline** PutNCoonsPatchesToNBsplineSurfs(double**** C, int n, double*** B, const double* spans,
                                          double u0, double u1) {
  TrackingScope scope;
  double*** scratch = allocate_3dim_matrix_ff(2, 4, 4);
  if (!scratch) return nullptr;
  Bspline** out;
  {
    UntrackedScope kept;
    out = CallocArray<Bspline*>(std::max(n, 1));
  }
  if (!out) return nullptr;
  OwnedArray<Bspline, FreeBspline> made(out, n);
  for (int j = 0; j < n; ++j)
    if (!(made[j] = PutCoonsPatchToBsplinePatch(C[j], B, scratch, u0, u1, spans[2 * j], spans[2 * j + 1])))
      return nullptr;
  return made.release();
}

Bspline* PutNCoonsPatchesToABsplinePatch(double**** C, int n, double*** B, const double* t,
                                         double u0, double u1) {
  TrackingScope scope;
  double*** scratch = allocate_3dim_matrix_ff(2, 4, 4);
  if (!scratch) return nullptr;
  if (n == 1) return PutCoonsPatchToBsplinePatch(C[0], B, scratch, u0, u1, t[0], t[1]);
  Owned<Bspline, FreeBspline> s(NewPatchSurface(n, u0, u1, t));
  if (!s) return nullptr;
  for (int j = 0; j < n; ++j)
    if (!FillPatchRows(s.get(), C[j], B, scratch, 4 * j)) return nullptr;
  double** M[3] = {s->X, s->Y, s->Z};
  for (int j = 1; j < n; ++j)
    for (int k = 0; k < 3; ++k)
      for (int i = 0; i < 4; ++i) {
        const double mean = 0.5 * (M[k][4 * j - 1][i] + M[k][4 * j][i]);
        M[k][4 * j - 1][i] = M[k][4 * j][i] = mean;
      }
  double* joints = MallocArray<double>(2 * (n - 1));
  if (!joints) return nullptr;
  for (int j = 1; j < n; ++j) joints[2 * j - 2] = joints[2 * j - 1] = t[j];
  double dev = 0.0;
  Bspline* p = s.get();
  if (RemoveKnotsOfObjSet(&p, 1, 1, 2, joints, 2 * (n - 1), 0, 0.0, &dev) != 2 * (n - 1) ||
      KernelFailed())
    return nullptr;
  return s.release();
}

Bspline* PutNCoonsPatchesToABsplineSurf(double**** C, int n, double*** B, const double* t,
                                        double u0, double u1) {
  Bspline* s = PutNCoonsPatchesToABsplinePatch(C, n, B, t, u0, u1);
  if (s && KernelFailed()) {
    FreeBspline(s);
    return nullptr;
  }
  return s;
}

int SmoothControlLine(Bspline* obj, int alongV, int index, int halfWidth) {
  if (!BsplineShapeSound(obj)) return -2;
  const bool surface = obj->kind == 2;
  if (!surface && (alongV || index)) return -2;
  const int nU = NumCtrlU(obj);
  const int count = surface && alongV ? NumCtrlV(obj) : nU;
  const int stride = surface && alongV ? nU : 1;
  const int start = surface ? (alongV ? index : index * nU) : 0;
  if (index < 0 || (surface && index >= (alongV ? nU : NumCtrlV(obj)))) return -2;
  const int h = std::min({(count - 1) / 2, halfWidth, 10});
  TrackingScope scope;
  double* line = MallocArray<double>(count);
  if (!line) return -2;
  double** M[3] = {obj->X, obj->Y, obj->dimension == 3 ? obj->Z : nullptr};
  for (double** m : M) {
    if (!m) continue;
    for (int i = 0; i < count; ++i) line[i] = m[0][start + i * stride];
    gauss_filter_array_d(line, count, h);
    for (int i = 0; i < count; ++i) m[0][start + i * stride] = line[i];
  }
  return 0;
}

// ---- The bridge -------------------------------------------------------------------------------

namespace {

// Patch storage for up to `room` spans with its Hermite and Bezier matrices.
struct BridgeWork {
  double*** H = nullptr;
  double*** B = nullptr;
  double*** G = nullptr;
  double*** scratch = nullptr;
  bool Make() {
    FindHermiteFunctions(&H);
    FindBsplineFunctions(&B, 1);
    G = allocate_3dim_matrix_ff(3, 4, 4);
    scratch = allocate_3dim_matrix_ff(2, 4, 4);
    return H && B && G && scratch && !KernelFailed();
  }
};

// The patches of the n spans [t[j], t[j + 1]] (pairs in `spans`) into C (n x 3 x 4 x 4).
double**** SpanPatches(Bspline* c1, Bspline* c2, BridgeWork& w, const double* spans, int n,
                       int flip1, int flip2, double s1, double s2, int p1, int p2) {
  double**** C = allocate_4dim_matrix_ff(std::max(n, 1), 3, 4, 4);
  if (!C) return nullptr;
  for (int j = 0; j < n; ++j) {
    const double span[2] = {spans[2 * j], spans[2 * j + 1]};
    Find3DCoonsPatchFrom2Curve2s(c1, c2, w.H, C[j], w.G, w.scratch, span, span, 0, 0, flip1, flip2,
                                 s1, s2, p1, p2);
  }
  return C;
}


// The bridge of FindMergeSurfFrom2Curve2s on curves already checked.
Bspline* BridgeCurves(Bspline* c1, Bspline* c2, int flip1, int flip2, double scale1, double scale2,
                      int perp1, int perp2) {
  TrackingScope scope;
  int* mult = nullptr;
  double* knots = nullptr;
  const int nd = DistinctInteriorKnots(c1, 0, &mult, &knots, 1e-5);
  if (nd < 0) return nullptr;
  // Six passes split at most every span of the pass before: 63 times the first count in all.
  const int n0 = nd + 1, capT = n0 + 1 + 63 * n0, capPairs = 128 * n0;
  double* t = MallocArray<double>(capT);
  double* check = MallocArray<double>(capPairs);
  double* next = MallocArray<double>(capPairs);
  if (!t || !check || !next) return nullptr;
  int nt = 0;
  t[nt++] = c1->umin;
  for (int i = 0; i < nd; ++i) t[nt++] = knots[i];
  t[nt++] = c1->umax;
  Free(mult);
  Free(knots);
  BridgeWork w;
  if (!w.Make()) return nullptr;
  Bspline* owners[2] = {c1->owner, c2->owner};

  // Refinement: every span in the first pass, afterwards only the halves of split spans.
  int nCheck = 0;
  for (int j = 0; j + 1 < nt; ++j) check[nCheck++] = t[j], check[nCheck++] = t[j + 1];
  for (int pass = 0; pass < kMaxPasses && nCheck > 0; ++pass) {
    const int n = nCheck / 2;
    double**** C = SpanPatches(c1, c2, w, check, n, flip1, flip2, scale1, scale2, perp1, perp2);
    if (!C) return nullptr;
    OwnedArray<Bspline, FreeBspline> spans(PutNCoonsPatchesToNBsplineSurfs(C, n, w.B, check, 0.0, 1.0), n);
    matrix_free_4dim_ff(n, 3, C);
    if (!spans) return nullptr;
    int nNext = 0;
    for (int j = 0; j < n; ++j) {
      const double a = check[2 * j], b = check[2 * j + 1];
      double split = 0.0;
      bool failed = false;
      for (int side = 0; side < 2 && !failed; ++side) {
        Bspline* srfs[2] = {spans[j], owners[side]};
        Bspline* curves[2] = {nullptr, side == 0 ? c1 : c2};
        int bndry[2] = {side == 0 ? 0 : 2, 0};
        ObjContInfo info{};
        double where[2] = {a, a};
        if (ComputeObjContTrimSurfs2(srfs, curves, bndry, 1, &info, where) != 0) return nullptr;
        if (info.maxGap > kGapTol || info.maxAngle > kAngleTol) {
          failed = true;
          split = info.maxGap <= kGapTol ? where[1] : where[0];
        }
      }
      if (!failed) continue;
      const double margin = kSplitMargin * (b - a);
      if (!(split > a + margin && split < b - margin)) continue;
      next[nNext++] = a, next[nNext++] = split, next[nNext++] = split, next[nNext++] = b;
      t[nt++] = split;
    }
    std::swap(check, next);
    nCheck = nNext;
  }
  HeapSort(nt, t);
  const int n = nt - 1;
  double* pairs = MallocArray<double>(2 * n);
  if (!pairs) return nullptr;
  for (int j = 0; j < n; ++j) pairs[2 * j] = t[j], pairs[2 * j + 1] = t[j + 1];
  double**** C = SpanPatches(c1, c2, w, pairs, n, flip1, flip2, scale1, scale2, perp1, perp2);
  if (!C) return nullptr;
  Owned<Bspline, FreeBspline> s(PutNCoonsPatchesToABsplineSurf(C, n, w.B, t, 0.0, 1.0));
  if (!s) return nullptr;
  // The bridge faces the way the first surface does at the first curve's start.
  double uv[2], N1[3], N2[3], d[3][3];
  const int want[3] = {0, 1, 1};
  Eval2DPointOnCurve2Array(nullptr, c1, c1->knotsU[0], 0, uv);
  Eval3DPointOnSurfArrayM(c1->owner, uv[0], uv[1], want, d);
  ComputeSurfaceNormal(c1->owner, uv[0], uv[1], d[1], d[2], N1);
  Eval3DPointOnSurfArrayM(s.get(), s->umin, s->vmin, want, d);
  ComputeSurfaceNormal(s.get(), s->umin, s->vmin, d[1], d[2], N2);
  if (N1[0] * N2[0] + N1[1] * N2[1] + N1[2] * N2[2] < 0.0) ReverseDirection(s.get(), 1);
  if (KernelFailed()) return nullptr;
  return s.release();
}

}  // namespace

// The refinement's position and angle tests are set for curves of unit size: the bridge is made
// on copies of the curves (and their surfaces) in the unit frame of the curves and mapped back,
// so that it splits alike and has the same shape at every size and anywhere in space.
Bspline* FindMergeSurfFrom2Curve2s(Bspline* c1, Bspline* c2, int, int, int flip1, int flip2,
                                   double scale1, double scale2, int perp1, int perp2) {
  if (!OnSurface(c1) || !OnSurface(c2)) {
    SetKernelError(-2);
    return nullptr;
  }
  Bspline* curves[2] = {c1, c2};
  UnitFrame frame;
  if (!CurvesUnitFrame(curves, 2, &frame))
    return BridgeCurves(c1, c2, flip1, flip2, scale1, scale2, perp1, perp2);
  Bspline* work[2] = {};
  Bspline* owners[2] = {};
  Bspline* loose[2] = {};
  Bspline* made = nullptr;
  if (CurvesInUnitFrame(curves, 2, frame, work, owners, loose)) {
    made = BridgeCurves(work[0], work[1], flip1, flip2, scale1, scale2, perp1, perp2);
    if (made) ObjectFromUnitFrame(made, frame);
  }
  // Loose copies point at the owner copies: they go first.
  for (Bspline* b : loose) FreeBspline(b);
  for (Bspline* b : owners) FreeBspline(b);
  return made;
}

// ---- Merge and fillet front ends --------------------------------------------------------------

int CreateMergeSurface(Bspline* s1, int side1, Bspline* c1, Bspline* s2, int side2, Bspline* c2,
                       Bspline** out) {
  *out = nullptr;
  if (!c1 && !c2 && s1 == s2 && side1 == side2) return 0;
  Owned<Bspline, FreeBspline> made1(c1 ? nullptr : MakeIsoparCurve2(s1, side1, -1.0));
  if (!c1 && !made1) return 0;
  Owned<Bspline, FreeBspline> made2(c2 ? nullptr : MakeIsoparCurve2(s2, side2, -1.0));
  if (!c2 && !made2) return 0;
  Bspline* a = c1 ? c1 : made1.get();
  Bspline* b = c2 ? c2 : made2.get();
  // A made boundary follows a given curve; two made ones follow the first.
  if (made1 || made2) {
    Bspline* set[2] = {made1 && !made2 ? b : a, made1 && !made2 ? a : b};
    if (MatchBoundaryDirections(set, nullptr, 2) < 0) return 1;
  }
  Bspline* curves[2] = {a, b};
  int ends[2] = {0, 0};
  double spans[2] = {1.0, 1.0};
  int modes[2] = {0, 0};
  *out = NonFeatureMatchedLoft(2, curves, 0.0, 3, ends, spans, nullptr, 0.0, 0.0, -1, modes, 0, 0);
  return 1;
}

namespace {

// u given the control-net speed of v: the proportional parametrisation of a bridge or fillet.
Bspline* Proportioned(Bspline* s) {
  if (!s) return nullptr;
  Bspline* pair[2] = {s, s};
  int dirs[2] = {1, 0};
  MakeParOfTwoObjProptnl(pair, dirs, 0, 0);
  return s;
}

}  // namespace

Bspline* FindFilletSurfFrom2Curve2s(Bspline* c1, Bspline* c2, int, int, int, int, double scale1,
                                    double scale2) {
  if (!OnSurface(c1) || !OnSurface(c2)) return nullptr;
  Bspline* curves[2] = {c1, c2};
  int ends[2] = {1, 1};
  double spans[2] = {scale1, scale2};
  int modes[2] = {0, 0};
  return Proportioned(NonFeatureMatchedLoft(2, curves, 0.0, c1->degreeU, ends, spans, nullptr, 0.001,
                                            0.5, 2, modes, 0, 0));
}

namespace {

// Knots of a curve on a surface where it crosses the surface's knot lines and lacks a knot.
bool AddKnotLineCrossings(Bspline* m) {
  TrackingScope scope;
  int count = 0;
  double *params = nullptr, *us = nullptr, *vs = nullptr;
  if (GetCurve2DSurfParamSect(m, &count, &params, &us, &vs) != 0) {
    SetKernelError(-2);
    return false;
  }
  Owned<double, Free> hp(params), hu(us), hv(vs);
  double* add = nullptr;
  int nAdd = 0;
  if (KnotsOfBNotInA(m->knotsU, NumKnotsU(m), params, count, &add, &nAdd, nullptr) < 0) return false;
  Owned<double, Free> ha(add);
  // Crossings at the curve's own ends are no interior knots.
  int k = 0;
  const double tol = 1e-6 * (m->umax - m->umin);
  for (int i = 0; i < nAdd; ++i)
    if (add[i] > m->umin + tol && add[i] < m->umax - tol) add[k++] = add[i];
  if (k > 0) InsertNKnotsToObject(1, k, 0, m, 2, add);
  return !KernelFailed();
}

// Knots of b missing from a, inserted into a (the list computed beforehand by the caller).
bool InsertMissing(Bspline* a, double* add, int n) {
  if (n > 0) InsertNKnotsToObject(1, n, 0, a, 2, add);
  return !KernelFailed();
}

// The interior knots of b that a lacks.
int MissingKnots(Bspline* a, Bspline* b, double** add) {
  *add = nullptr;
  int n = 0;
  if (KnotsOfBNotInA(a->knotsU, NumKnotsU(a), b->knotsU, NumKnotsU(b), add, &n, nullptr) < 0) return -1;
  int k = 0;
  const double tol = 1e-6 * (a->umax - a->umin);
  for (int i = 0; i < n; ++i)
    if ((*add)[i] > a->umin + tol && (*add)[i] < a->umax - tol) (*add)[k++] = (*add)[i];
  return k;
}

void DropListed(Bspline** m) {
  if (!*m) return;
  RemoveCurveFromBsplineList(*m);
  FreeBspline(*m);
  *m = nullptr;
}

}  // namespace

void GetMergeCurve2s(Bspline* s1, Bspline* c1, Bspline* s2, Bspline* c2, Bspline** m1,
                     Bspline** m2) {
  *m1 = *m2 = nullptr;
  if (!OnSurface(c1) || !OnSurface(c2) || !s1 || !s2) {
    SetKernelError(-2);
    return;
  }
  *m1 = CopyBsplineStruct(c1);
  if (*m1) PutBsplToSurfCrvList(*m1, s1);
  *m2 = CopyBsplineStruct(c2);
  if (*m2) PutBsplToSurfCrvList(*m2, s2);
  bool ok = *m1 && *m2 && !KernelFailed();
  if (ok) {
    Bspline* m[2] = {*m1, *m2};
    const double tol = 1e-6;
    const bool agree = std::fabs(m[0]->knotsU[0] - m[1]->knotsU[0]) <= tol &&
                       std::fabs(m[0]->knotsU[NumKnotsU(m[0]) - 1] - m[1]->knotsU[NumKnotsU(m[1]) - 1]) <= tol;
    for (int i = 0; i < 2 && !agree; ++i) {
      const int nk = NumKnotsU(m[i]);
      if (std::fabs(m[i]->knotsU[0]) <= tol && std::fabs(m[i]->knotsU[nk - 1] - 1.0) <= tol) continue;
      NormalizeKnots(m[i]->knotsU, nk);
      SpreadOverfullKnotRuns(m[i], 0);
      m[i]->umin = 0.0, m[i]->umax = 1.0;
    }
    ok = AddKnotLineCrossings(m[0]) && AddKnotLineCrossings(m[1]);
    if (ok) {
      TrackingScope scope;
      double *add1 = nullptr, *add2 = nullptr;
      const int n1 = MissingKnots(m[0], m[1], &add1);
      const int n2 = MissingKnots(m[1], m[0], &add2);
      Owned<double, Free> h1(add1), h2(add2);
      ok = n1 >= 0 && n2 >= 0 && InsertMissing(m[0], add1, n1) && InsertMissing(m[1], add2, n2);
    }
  }
  if (!ok) {
    DropListed(m1);
    DropListed(m2);
  }
}

Bspline* CreateMergeSurfaceGivenCurve2s(Bspline* c1, Bspline* c2) {
  if (!OnSurface(c1) || !OnSurface(c2)) return nullptr;
  Owned<Bspline, FreeBspline> a(CopyBsplineStruct(c1)), b(CopyBsplineStruct(c2));
  if (!a || !b) return nullptr;
  Bspline* pair[2] = {a.get(), b.get()};
  if (MatchBoundaryDirections(pair, nullptr, 2) < 0) return nullptr;
  Bspline *m1 = nullptr, *m2 = nullptr;
  GetMergeCurve2s(a->owner, a.get(), b->owner, b.get(), &m1, &m2);
  if (!m1 || !m2) return nullptr;
  return Proportioned(FindMergeSurfFrom2Curve2s(m1, m2, 1, 1, 1, 1, 1.0, 1.0, 0, 0));
}

void GetFilletCurve2s(Bspline* s1, const double* uA, const double* vA, Bspline* s2,
                      const double* uB, const double* vB, int n, Bspline** c1, Bspline** c2) {
  *c1 = *c2 = nullptr;
  if (!s1 || !s2 || !uA || !vA || !uB || !vB || n < 1) {
    SetKernelError(-2);
    return;
  }
  TrackingScope scope;
  double* work = MallocArray<double>(4 * n);
  if (!work) return;
  double *ua = work, *va = work + n, *ub = work + 2 * n, *vb = work + 3 * n;
  std::memcpy(ua, uA, sizeof(double) * n);
  std::memcpy(va, vA, sizeof(double) * n);
  std::memcpy(ub, uB, sizeof(double) * n);
  std::memcpy(vb, vB, sizeof(double) * n);
  // Each interpolation is checked before anything is linked: a null curve never enters a list.
  Owned<Bspline, FreeBspline> a(InterpolatePoints(ua, va, nullptr, n - 1, nullptr, 3, 0));
  if (!a || KernelFailed()) return;
  Owned<Bspline, FreeBspline> b(InterpolatePoints(ub, vb, nullptr, n - 1, nullptr, 3, 0));
  if (!b || KernelFailed()) return;
  Bspline* list[2] = {s1, s2};
  Bspline* made[2] = {a.get(), b.get()};
  for (int i = 0; i < 2; ++i) {
    made[i]->owner = list[i];
    UntrackedScope kept;
    BsplineList* node = MallocNullBsplineList();
    if (!node) {
      if (i == 1) DropListed(&made[0]), a.release();
      return;
    }
    node->item = made[i];
    BsplineList** tail = &list[i]->curves;
    while (*tail) tail = &(*tail)->next;
    *tail = node;
  }
  *c1 = a.release();
  *c2 = b.release();
}
