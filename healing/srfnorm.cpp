#include "healing/srfnorm.h"

#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "bspline/srfclone.h"
#include "bspline/srfgrid.h"
#include "bspline/subobj.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "healing/srfbndrc.h"
#include "stitch/srfcont.h"
#include "surface/srfnorm.h"
#include "surface/srfpick.h"

namespace {

enum WalkState { kDone = 0, kWaiting = 1, kUnreached = 2 };

// The trim curve a boundary curve of the graph stands for; null for a natural side.
Bspline* TrimCurveOf(const GsrfCrv* c) { return c->kind == 0 && c->node ? c->node->item : nullptr; }

// The 3D point of boundary curve c at t: through the trim curve, or on its side of the surface.
void BoundaryPoint(const GsrfCrv* c, double t, double p[3]) {
  if (Bspline* trim = TrimCurveOf(c)) {
    EvalCrvOnSrfArray(c->srf, trim, t, 0, p);
    return;
  }
  const Bspline* s = c->srf;
  const double u = c->kind == 1 ? s->umin : c->kind == 3 ? s->umax : t;
  const double v = c->kind == 2 ? s->vmin : c->kind == 4 ? s->vmax : t;
  Eval3DPointOnSurfArray(s, u, v, 0, 0, p);
}

// The parameter of boundary curve c nearest to p; fallback when the projection fails (the error
// state is then cleared, unless memory ran out, which the walk reports).
double BoundaryParameter(const GsrfCrv* c, const double p[3], double fallback) {
  double t = fallback;
  if (Bspline* trim = TrimCurveOf(c)) {
    const double pts[1][3] = {{p[0], p[1], p[2]}};
    GetClosestPointsOnCrvOnSrf(pts, 1, trim, 0.0, 0, &t, nullptr);
    if (!MemoryErrorSet()) ClearKernelError();  // a projection that did not settle: the fallback
    return t;
  }
  double u, v, q[3], d, e;
  double *gx = nullptr, *gy = nullptr, *gz = nullptr;
  if (GetClosestPointOnSurfaceResult(c->srf, p, &u, &v, q, &d, &gx, &gy, &gz, &e) == 0)
    t = c->kind == 1 || c->kind == 3 ? v : u;
  else if (!MemoryErrorSet())
    ClearKernelError();
  FreeSurfaceGrid(&gx, &gy, &gz);
  return t;
}

}  // namespace

int AddIdsToStack(Gsrf* g, int srf, int* stack, int top, int* state) {
  const GsrfSrf& s = g->srfs[srf];
  int pushed = 0;
  for (int k = 0; k < s.nEl; ++k) {
    const GsrfBndrEl* partner = s.els[k].partner;
    if (!partner || state[partner->srfId] != kUnreached) continue;
    state[partner->srfId] = kWaiting;
    stack[top + pushed++] = partner->srfId;
  }
  return pushed;
}

int IsTwoSurfsHarmonized(Gsrf* g, int i, int j) {
  const GsrfSrf& s = g->srfs[i];
  const GsrfBndrEl* el = nullptr;
  for (int k = 0; k < s.nEl && !el; ++k)
    if (s.els[k].partner && s.els[k].partner->srfId == j) el = &s.els[k];
  if (!el) return 0;
  const double t = 0.5 * (el->t0 + el->t1);
  double p[3];
  BoundaryPoint(el->crv, t, p);
  const GsrfBndrEl* other = el->partner;
  const double tj = BoundaryParameter(other->crv, p, 0.5 * (other->t0 + other->t1));
  double ri[3], rj[3];
  GetSurfBndryVector(ri, el->crv->srf, TrimCurveOf(el->crv), t, el->crv->kind);
  GetSurfBndryVector(rj, other->crv->srf, TrimCurveOf(other->crv), tj, other->crv->kind);
  return VecDotProd3(ri, rj) < 0.0 ? 1 : 0;
}

// Depth-first walk from the reference. Each stack level remembers the surface whose neighbours
// it holds, whether that surface turns, and how many of them are still waiting; a surface turns
// when exactly one of "its parent turns" and "it disagrees with its parent" holds.
int GetFlippedSurfaces(Gsrf* g, Bspline* ref, Bspline** out) {
  const int n = g->nSrf;
  TrackingScope scope;
  int* state = MallocArray<int>(n);
  int* stack = MallocArray<int>(n);
  int* parent = MallocArray<int>(n);
  int* waiting = MallocArray<int>(n);
  int* turns = MallocArray<int>(n);
  if (!state || !stack || !parent || !waiting || !turns) return -2;
  for (int k = 0; k < n; ++k) state[k] = kUnreached;
  int r = 0;
  for (int k = 0; k < n; ++k)
    if (g->srfs[k].srf == ref) {
      r = k;
      break;
    }
  state[r] = kDone;
  int top = AddIdsToStack(g, r, stack, 0, state), levels = 0;
  if (top > 0) {
    parent[0] = r;
    turns[0] = 0;
    waiting[0] = top;
    levels = 1;
  }
  if (n < 2) return 0;
  int count = 0, taken = 1;
  while (top > 0 && taken < n) {
    const int c = stack[--top];
    const int level = levels - 1;
    const int agree = IsTwoSurfsHarmonized(g, c, parent[level]);
    if (MemoryErrorSet()) return -2;  // a decision made without its projection is no decision
    const int turn = turns[level] ^ (agree ? 0 : 1);
    if (turn) out[count++] = g->srfs[c].srf;
    state[c] = kDone;
    ++taken;
    const int pushed = AddIdsToStack(g, c, stack, top, state);
    top += pushed;
    if (--waiting[level] == 0) --levels;
    if (pushed > 0) {
      parent[levels] = c;
      turns[levels] = turn;
      waiting[levels] = pushed;
      ++levels;
    }
  }
  return count;
}

namespace {

// The decisions on the copies: the copies to reverse into a new list, their count; 0 with no
// list when none turns, -2 on failure.
int FlippedCopies(Bspline** copies, int n, Bspline* ref, double tol, double gapTol, Bspline*** list) {
  int status = 0;
  Owned<Gsrf, FreeGsrfBndr> g(MakeGSrfBndrStructCore(copies, n, tol, gapTol, &status));
  if (!g || g->nSrf < 2) return -2;
  Owned<Bspline*, Free> flipped(MallocArray<Bspline*>(g->nSrf));
  if (!flipped) return -2;
  const int count = GetFlippedSurfaces(g.get(), ref, flipped.get());
  if (count > 0) *list = flipped.release();
  return count;
}

}  // namespace

int HarmonizeSrfNormals(Bspline** objs, int n, Bspline* ref, double tol, double gapTol,
                        Bspline*** out) {
  *out = nullptr;
  if (!objs || !ref || n < 1 || tol < 0.0 || gapTol < 0.0 || ref->kind != 2) return -2;
  int refAt = -1;
  for (int k = 0; k < n && refAt < 0; ++k)
    if (objs[k] == ref) refAt = k;
  if (refAt < 0) return -2;

  // The graph splits trim curves at tangent breaks, so it is built on copies; the objects are
  // reversed only after every decision, so a failure leaves all of them as they were.
  auto copies = OwnedArray<Bspline, FreeBspline>::Zeroed(n);
  if (!copies) return -2;
  for (int k = 0; k < n; ++k) {
    Bspline* o = objs[k];
    copies[k] = o->kind == 2 ? CopyBsplineStructAndChildren(o) : CopyBsplineStruct(o);
    if (!copies[k]) return -2;
  }
  Bspline** list = nullptr;
  const int count = FlippedCopies(copies.get(), n, copies[refAt], tol, gapTol, &list);
  if (count <= 0) return count < 0 ? -2 : 0;
  for (int k = 0; k < count; ++k) {
    int m = 0;
    while (copies[m] != list[k]) ++m;
    list[k] = objs[m];
    ReverseDirection(list[k], 1);
  }
  *out = list;
  return count;
}
