#include "surface/startpnt.h"

#include <cmath>
#include <initializer_list>

#include "bspline/crvlist.h"
#include "bspline/isocurve.h"
#include "bspline/kremove.h"
#include "bspline/nubs.h"
#include "bspline/objset.h"
#include "bspline/objjoin.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "foundation/coreglob.h"
#include "foundation/solvmat.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "surface/srfsnip.h"
#include "surface/srfutils.h"

void SetObjClosed(Bspline* obj) { MarkClosedFromControlPoints(obj); }

int ObjectClosed(Bspline* obj) {
  return (obj->closedU ? 1 : 0) + (obj->kind == 2 && obj->closedV ? 2 : 0);
}

namespace {

// Both ends of a 2D curve on the seam of its owner closed in u (or in v): cutting such a curve
// and joining it the other way round would join it across the seam.
bool EndsOnOwnersSeam(const Bspline* c) {
  const Bspline* s = c->owner;
  if (c->dimension != 2 || !s) return false;
  const int n = NumCtrlU(c) - 1;
  auto onSeam = [](double a, double b, double lo, double hi) {
    const double tol = 1e-6 * (hi - lo);
    auto at = [&](double x) { return std::fabs(x - lo) <= tol || std::fabs(x - hi) <= tol; };
    return at(a) && at(b);
  };
  if (s->closedU && onSeam(c->X[0][0], c->X[0][n], s->umin, s->umax)) return true;
  return s->kind == 2 && s->closedV && onSeam(c->Y[0][0], c->Y[0][n], s->vmin, s->vmax);
}

// The two pieces of obj either side of t: [0] before, [1] after. A surface is snipped (a copy,
// so the caller's surface keeps its curves and loops), its pieces taking its curves. 0 or -2.
int CutAt(Bspline* obj, double t, int dir, Bspline* pieces[2]) {
  pieces[0] = pieces[1] = nullptr;
  if (obj->kind == 1) {
    double cut = t;
    return SplitObjectToNObjects(obj, 1, &cut, 0, pieces) == 0 && pieces[0] && pieces[1] ? 0 : -2;
  }
  Owned<Bspline, FreeBspline> copy(CopyBsplineStructAndChildren(obj));
  if (!copy) return -2;
  SnipPiece lowNode = {}, highNode = {};
  SnipSide lowSide = {&lowNode, 1}, highSide = {&highNode, 1};
  SnipSide *low = &lowSide, *high = &highSide;
  const int r = SnipSurfaceBspline(copy.get(), t, dir ? 0 : 1, &low, &high);
  if (r != 1 || lowNode.next || highNode.next || !lowNode.piece || !highNode.piece) {
    // A trimmed surface whose trimmed area the cut divides into several regions has no two
    // pieces to join.
    if (r == 1) {
      for (SnipSide* side : {low, high})
        for (SnipPiece* n = side->first; n;) {
          SnipPiece* next = n->next;
          FreeBspline(n->piece);
          if (n != side->first) Free(n);
          n = next;
        }
    }
    if (lowNode.piece == copy.get()) lowNode.piece = nullptr;
    return -2;
  }
  pieces[0] = lowNode.piece;
  pieces[1] = highNode.piece;
  return 0;
}

// Scales v to unit length; false for a vector not longer than least (no direction).
bool Unit(double v[3], double least = 0.0) {
  const double m = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  if (!(m > least) || !std::isfinite(m)) return false;
  for (int k = 0; k < 3; ++k) v[k] /= m;
  return true;
}

}  // namespace

Bspline* ChangeObjectStartPnt(Bspline* obj, double u, double v, int dir) {
  if (!obj || (obj->kind != 1 && obj->kind != 2)) return nullptr;
  const int code = ObjectClosed(obj);
  if (obj->kind == 1 ? code == 0 : (dir ? (code & 2) == 0 : (code & 1) == 0)) return nullptr;
  if (obj->quadricType != 0) return ChangeQuadricsStartPoint(obj, u, v, dir);
  const double t = dir ? v : u;
  if (obj->kind == 1 && EndsOnOwnersSeam(obj)) {
    SetKernelError(-6);
    return nullptr;
  }
  TrackingScope scope;
  Bspline* cut[2];
  if (CutAt(obj, t, dir, cut) != 0) return nullptr;
  // The piece after t comes first; the second then starts where the first ends.
  Owned<Bspline, FreeBspline> first(cut[1]), second(cut[0]);
  const int joinDir = obj->kind == 2 && dir ? 1 : 0;
  Bspline* pair[3] = {first.get(), second.get(), nullptr};  // no given seam row
  if (obj->kind == 2) DeleteTrimInfoOfBsplSet(pair, 2);
  const int dirs[2] = {joinDir, joinDir};
  ProportionPairParams(pair, dirs, 1, 1, 1);
  const int along[2] = {1 - joinDir, 1 - joinDir};
  double seam = 0.0;
  Owned<Bspline, FreeBspline> joined(KernelFailed() ? nullptr
                                                    : JoinObjectPair(pair, nullptr, along, &seam, 2));
  if (!joined || KernelFailed()) return nullptr;
  Bspline* J = joined.get();
  if (J->kind == 2) {
    PutTwoCurveListsToBspl(first->curves, second->curves, J);
    first->curves = second->curves = nullptr;
    if (joinDir) J->closedV = 1; else J->closedU = 1;
  } else {
    J->closedU = 3;
  }
  if (J->kind == 1 && J->dimension == 3 && J->degreeU <= 16) {
    // The old seam joined two ends of one smooth object: its knots go again where they can.
    double knots[16];
    for (int i = 0; i < J->degreeU; ++i) knots[i] = seam;
    double dev = 0.0;
    RemoveKnotsOfObjSet(&J, 1, 0, 3, knots, J->degreeU, 0, 1e-4 * GetGeometricDiagonalSizeOfObj(J), &dev);
    J->closedU = 3;
    if (KernelFailed()) return nullptr;
  }
  joined.release();
  scope.keep();
  return J;
}

Bspline* ChangeQuadricsStartPoint(Bspline* obj, double u, double v, int dir) {
  if (!obj || !obj->quadric || !obj->X) return nullptr;
  const int type = obj->quadricType;
  const QuadricInfo& q = *obj->quadric;
  double c[3];
  if (obj->kind == 1 && (type == 2 || type == 3)) {
    c[0] = q.v[0], c[1] = q.v[1], c[2] = q.v[2];
  } else if (obj->kind == 2 && type == 21) {
    c[0] = q.v[1], c[1] = q.v[2], c[2] = q.v[3];
  } else if (obj->kind == 2 && (type == 22 || type == 23)) {
    c[0] = q.v[0], c[1] = q.v[1], c[2] = q.v[2];
  } else {
    return nullptr;
  }
  if (obj->dimension != 3) return nullptr;
  // The middle line in the chosen direction: point i at offset + i * stride of the flat net.
  const int nu = NumCtrlU(obj), nv = obj->kind == 2 ? NumCtrlV(obj) : 1;
  const bool alongU = obj->kind == 1 || !dir;
  const int length = alongU ? nu : nv;
  if (length < 7) return nullptr;
  const int offset = alongU ? (nv / 2) * nu : nu / 2;
  const int stride = alongU ? 1 : nu;
  auto refPoint = [&](int i, double out[3]) {
    const int k = offset + i * stride;
    out[0] = obj->X[0][k], out[1] = obj->Y[0][k], out[2] = obj->Z[0][k];
  };
  double P[4][3];
  for (int i = 0; i < 4; ++i) refPoint(2 * i, P[i]);
  double a[3], b[3], axis[3];
  for (int k = 0; k < 3; ++k) a[k] = P[0][k] - P[2][k], b[k] = P[1][k] - P[3][k];
  if (!Unit(a) || !Unit(b)) return nullptr;
  VectorCrossProduct(a, b, axis);
  if (!Unit(axis, 1e-9)) return nullptr;  // the two chords of unit length are parallel

  Owned<Bspline, FreeBspline> copy(CopyBsplineStruct(obj));
  if (!copy) return nullptr;
  double Q[3], F[3];
  if (obj->kind == 1)
    Eval3DPointOnCurve3Array(obj, u, 0, Q);
  else
    Eval3DPointOnSurfArray(obj, u, v, 0, 0, Q);
  refPoint(0, F);
  const double tip[3] = {c[0] + axis[0], c[1] + axis[1], c[2] + axis[2]};
  Xform M, R, Minv;
  TransformToZAxis(c, tip, M);
  if (mat_inverse4(M, Minv) != 0) return nullptr;
  vector_xform(&Q[0], &Q[1], &Q[2], M);
  vector_xform(&F[0], &F[1], &F[2], M);
  const double degrees = std::atan2(Q[1], Q[0]) * 57.29577951308232 -
                         std::atan2(F[1], F[0]) * 57.29577951308232;
  const double angle = degrees * 0.017453292519943295;
  Get_imat(R);
  R[0] = std::cos(angle), R[1] = std::sin(angle);
  R[4] = -std::sin(angle), R[5] = std::cos(angle);
  Bspline* C = copy.get();
  for (int k = 0; k < nu * nv; ++k) {
    double* x = &C->X[0][k];
    double* y = &C->Y[0][k];
    double* z = &C->Z[0][k];
    vector_xform(x, y, z, M);
    vector_xform(x, y, z, R);
    vector_xform(x, y, z, Minv);
  }
  return copy.release();
}
