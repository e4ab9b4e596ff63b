#include "intersect/newintr.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>

#include "bspline/bsvalid.h"
#include "bspline/crvlist.h"
#include "bspline/ctrlnubs.h"
#include "bspline/knots.h"
#include "bspline/nubs.h"
#include "bspline/objset.h"
#include "bspline/refines2.h"
#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "bspline/srfclone.h"
#include "foundation/coreglob.h"
#include "foundation/geometry.h"
#include "foundation/makemat.h"
#include "foundation/minmax.h"
#include "foundation/umalloc.h"
#include "intersect/filutil.h"
#include "intersect/newtrace_internal.h"
#include "splinefit/intrplt.h"
#include "stitch/vcnobj.h"

void NewAddBboxMargins(double box[6], double size) { GrowBoxForOverlap(box, size); }

void New1TransformBbox(const double box[6], double corners[24]) {
  for (int c = 0; c < 8; ++c) {
    corners[3 * c] = c & 4 ? box[3] : box[0];
    corners[3 * c + 1] = c & 2 ? box[4] : box[1];
    corners[3 * c + 2] = c & 1 ? box[5] : box[2];
  }
}

void NewTransformBbox(const double box[6], const Xform M, double corners[24]) {
  New1TransformBbox(box, corners);
  for (int c = 0; c < 8; ++c) vector_xform(&corners[3 * c], &corners[3 * c + 1], &corners[3 * c + 2], M);
}

void GetBboxMinMax(const float* x, const float* y, const float* z, int n, double box[6]) {
  if (n > 0 && (!x || !y || !z)) return;
  box[0] = box[1] = box[2] = kEmptyBoxBound;
  box[3] = box[4] = box[5] = -kEmptyBoxBound;
  for (int i = 0; i < n; ++i) {
    const double p[3] = {x[i], y[i], z[i]};
    for (int q = 0; q < 3; ++q) {
      if (p[q] < box[q]) box[q] = p[q];
      if (p[q] > box[q + 3]) box[q + 3] = p[q];
    }
  }
}

int FitPlaneAndGetXform(const float* x, const float* y, const float* z, int n, Xform M) {
  PlaneEq plane;
  if (PlaneFit(x, y, z, n, plane) != 1) {
    ClearKernelError();
    return -2;
  }
  const double normal[3] = {plane[0], plane[1], plane[2]};
  if (Vec3ToAxisMatrix(normal, 2, M) != 0) {
    ClearKernelError();
    return -2;
  }
  // The translation places the plane's point on the axis of the normal's largest component
  // (coordinate -d / that component) at the origin of the frame.
  int c = 0;
  for (int q = 1; q < 3; ++q)
    if (std::fabs(normal[q]) > std::fabs(normal[c])) c = q;
  double p[3] = {0.0, 0.0, 0.0};
  p[c] = -plane[3] / normal[c];
  double r[3];
  VecRot3(p, M, r);
  for (int q = 0; q < 3; ++q) M[12 + q] = -r[q];
  return 0;
}

// ---- Subdivision tree ------------------------------------------------------------------------

PatchBoxNode* MallocPatchBoxNode(int firstU, int firstV, int countU, int countV, double umin,
                                 double umax, double vmin, double vmax) {
  PatchBoxNode* n = MallocArray<PatchBoxNode>(1);
  if (!n) return nullptr;
  n->child[0] = n->child[1] = nullptr;
  Get_imat(n->xform);
  for (int q = 0; q < 6; ++q) n->box[q] = 0.0;
  n->firstU = firstU;
  n->firstV = firstV;
  n->countU = countU;
  n->countV = countV;
  n->split = -99;
  n->visited = 0;
  n->boxReady = 0;
  n->umin = umin;
  n->umax = umax;
  n->vmin = vmin;
  n->vmax = vmax;
  return n;
}

void FreePatchBoxTree(PatchBoxNode* node) {
  if (!node) return;
  FreePatchBoxTree(node->child[0]);
  FreePatchBoxTree(node->child[1]);
  Free(node);
}

int newCheckSubdivTree(PatchBoxNode* node, const double* us, const double* vs) {
  if (node->countU == 2 && node->countV == 2) {
    node->split = -1;
    return 0;
  }
  if (node->child[0]) return 0;
  PatchBoxNode* a;
  PatchBoxNode* b;
  if (node->countU < node->countV) {
    const int m = (node->countV - 1) / 2, mid = node->firstV + m;
    a = MallocPatchBoxNode(node->firstU, node->firstV, node->countU, m + 1, node->umin, node->umax,
                           node->vmin, vs[mid]);
    b = MallocPatchBoxNode(node->firstU, mid, node->countU, node->countV - m, node->umin,
                           node->umax, vs[mid], node->vmax);
    node->split = 2;
  } else {
    const int m = (node->countU - 1) / 2, mid = node->firstU + m;
    a = MallocPatchBoxNode(node->firstU, node->firstV, m + 1, node->countV, node->umin, us[mid],
                           node->vmin, node->vmax);
    b = MallocPatchBoxNode(mid, node->firstV, node->countU - m, node->countV, us[mid], node->umax,
                           node->vmin, node->vmax);
    node->split = 1;
  }
  if (!a || !b) {
    FreeAndNull(a);
    FreeAndNull(b);
    node->split = -99;
    return -2;
  }
  node->child[0] = a;
  node->child[1] = b;
  return 0;
}

void GetBboxExtremes(PatchBoxNode* node, double*** grid) {
  double* b = node->box;
  b[0] = b[1] = b[2] = kEmptyBoxBound;
  b[3] = b[4] = b[5] = -kEmptyBoxBound;
  for (int r = 3 * node->firstU; r <= 3 * (node->firstU + node->countU - 1); ++r)
    for (int c = 3 * node->firstV; c <= 3 * (node->firstV + node->countV - 1); ++c) {
      const double* p = grid[r][c];
      for (int q = 0; q < 3; ++q) {
        if (p[q] < b[q]) b[q] = p[q];
        if (p[q] > b[q + 3]) b[q + 3] = p[q];
      }
    }
  NewAddBboxMargins(b);
  Get_imat(node->xform);
}

int NewGetBboxExtremes(PatchBoxNode* node, double*** grid) {
  const int nr = 3 * (node->countU - 1) + 1, nc = 3 * (node->countV - 1) + 1, n = nr * nc;
  Owned<float, Free> x(MallocArray<float>(n)), y(MallocArray<float>(n)), z(MallocArray<float>(n));
  if (!x || !y || !z) return -2;
  for (int r = 0; r < nr; ++r)
    for (int c = 0; c < nc; ++c) {
      const double* p = grid[3 * node->firstU + r][3 * node->firstV + c];
      x[r * nc + c] = static_cast<float>(p[0]);
      y[r * nc + c] = static_cast<float>(p[1]);
      z[r * nc + c] = static_cast<float>(p[2]);
    }
  Xform M;
  if (FitPlaneAndGetXform(x.get(), y.get(), z.get(), n, M) != 0) return -2;
  Transform3DArrays_F(x.get(), y.get(), z.get(), n, M);
  GetBboxMinMax(x.get(), y.get(), z.get(), n, node->box);
  NewAddBboxMargins(node->box);
  Copymat(M, node->xform);
  node->boxReady = 1;
  return 0;
}

int NewIntersectBoxes(double*** grid1, double*** grid2, PatchBoxNode* node1, PatchBoxNode* node2) {
  if (node1->boxReady != 1) {
    GetBboxExtremes(node1, grid1);
    node1->boxReady = 1;
  }
  if (node2->boxReady != 1) {
    GetBboxExtremes(node2, grid2);
    node2->boxReady = 1;
  }
  const double* A = node1->box;
  const double* B = node2->box;
  auto meets = [](const double* box, const double* c, int i, int j) {
    return IntersectsLineSegBbox(box[0], box[1], box[2], box[3], box[4], box[5], c[3 * i],
                                 c[3 * i + 1], c[3 * i + 2], c[3 * j], c[3 * j + 1],
                                 c[3 * j + 2]) != 0;
  };
  double cb[24], ca[24];
  New1TransformBbox(B, cb);
  static const int edges[12][2] = {{0, 1}, {2, 3}, {4, 5}, {6, 7}, {0, 4}, {1, 5},
                                   {2, 6}, {3, 7}, {0, 2}, {1, 3}, {4, 6}, {5, 7}};
  for (const auto& e : edges)
    if (meets(A, cb, e[0], e[1])) return 1;
  // No edge of B meets A: A may still lie inside B, which its diagonals find.
  New1TransformBbox(A, ca);
  static const int diagonals[3][2] = {{0, 7}, {1, 6}, {2, 5}};
  for (const auto& d : diagonals)
    if (meets(B, ca, d[0], d[1])) return 1;
  return 0;
}

namespace {

// Where the surfaces touch at one point and curve apart every way from it (two spheres touching,
// a plane on a sphere), their gap along the common normal grows as d^T H d / 2 for a step d in
// the tangent plane, H the difference of their second fundamental forms there. Over the ellipse
// where that stays within the point tolerance the surfaces meet, and the seeds falling in it give
// stubs (about sqrt(2 tolB R) long for spheres of relative radius R), as many as happen to fall
// there, differing with the surfaces' order: all of them stand for the one point.
struct Touching {
  double P[3];     // the point on surface 1
  double q[4];     // its parameters (u1, v1, u2, v2)
  double e[2][3];  // orthonormal basis of the common tangent plane
  double H[2][2];  // the gap's second derivatives in that basis
};

// H definite with the smaller eigenvalue's magnitude at least this share of the larger: the
// surfaces touch at an isolated point. A contact along a curve has an eigenvalue of round-off, a
// crossing at a touching (Viviani's curve) eigenvalues of both signs; a direction nearly flat
// would stretch the ellipse past where the quadratic model of the gap holds.
constexpr double kIsolatedShare = 1e-3;
// Where the surfaces meet within tolB about a touching, their normals part by up to
// sqrt(2 tolB k) for the gap's larger curvature k: below this sine for a sphere down to 2e-5 of
// the pair's size. A crossing at an angle is turned away by the test of H; this only spares it
// the search for a touching.
constexpr double kTouchSine = 0.3;
// A node of a stub lies within the point tolerance of both surfaces: within the ellipse where
// the model's gap is this many point tolerances (slack for the nodes' own tolerance and the
// model's cubic terms).
constexpr double kStubGap = 4.0;
// H's smaller eigenvalue must also bend the gap past kStubGap point tolerances within the pair's
// size (1 in the copies' units), the ellipse's half-axis: so it is at least this many point
// tolerances. Two faces of one smooth surface meeting along the edges they share (the halves of
// a tube) have an H of round-off only, whose eigenvalues may pass the share above by chance, and
// an ellipse wider than the pair holds their whole contact.
constexpr double kFlattestTouching = 2.0 * kStubGap;
// Where the normals part by more than kTouchSine inside that ellipse, the gap's curvature k
// exceeds kTouchSine^2 / (2 kStubGap tolB), so the ellipse's radius, sqrt(2 kStubGap tolB / k),
// is below this many point tolerances: about a small sphere on a large surface, whose nodes
// within tolB part by a sine up to 1 over a disc a few tolerances across. A trace within the
// ellipse's width of its middle node is worth the search for a touching whatever its normals.
constexpr double kShortStub = 2.0 * kStubGap / kTouchSine;
// A trace round a located touching is that point only while the loop the surfaces cross in there
// (CrossingLoopReach) reaches at most this many point tolerances from it: half the distance
// within which the branches must pass every point of the intersection (kAcrossShare's ten). A
// smaller loop is left to the point: the tolerance lets its nodes wander across it (a loop
// reaching 4.2 tolerances came out 1.5 % long); a larger one comes back traced.
constexpr double kLoopReach = 5.0;

// The gap the touching's model gives at X (measured in its tangent plane).
double ModelGap(const Touching& T, const double X[3]) {
  double d[3], x[2];
  VecDiff3(X, T.P, d);
  for (int i = 0; i < 2; ++i) x[i] = VecDotProd3(d, T.e[i]);
  return 0.5 * std::fabs(T.H[0][0] * x[0] * x[0] + 2.0 * T.H[0][1] * x[0] * x[1] + T.H[1][1] * x[1] * x[1]);
}

// Rounds of alternate feet (each surface's foot of the other's point) toward the closest pair of
// points. Where the surfaces touch, the gap shrinks only as one over the rounds (their tangent
// planes agree there): the feet bring a start from across the boxes, or from beside a pole or a
// seam, next to the touching, and LocateTouchingPoint, which also asks for parallel normals, goes
// on from there. The count only bounds the approach.
constexpr int kPairRounds = 8;
// A round that takes less than this share off the gap is no longer worth its feet.
constexpr double kPairStall = 0.25;

// Moves q (u1, v1, u2, v2) toward the closest pair of points of the surfaces near it by alternate
// feet (FindClosestUVPointGuessDist, which goes on across seams and round poles); false where a
// foot has no normal.
bool TowardClosestPair(Bspline* s1, Bspline* s2, double q[4]) {
  double P[3], S[3], dist = HUGE_VAL, step;
  Eval3DPointOnSurfCoord(s1, q[0], q[1], 0, 0, P);
  for (int round = 0; round < kPairRounds; ++round) {
    const double last = dist;
    if (FindClosestUVPointGuessDist(s2, P, S, &q[2], &q[3], &dist, &step, 10) != 0 ||
        FindClosestUVPointGuessDist(s1, S, P, &q[0], &q[1], &dist, &step, 10) != 0)
      return false;
    dist = std::fabs(dist);
    if (!(dist < (1.0 - kPairStall) * last)) break;
  }
  return true;
}

// The isolated touching located from q (moved onto it; with approach, also from the closest pair
// of points near q where q itself leads nowhere): true when the surfaces touch there and H is
// definite (kIsolatedShare, kFlattestTouching). rounding is the round-off the copies'
// coordinates carry from the caller's (LocateTouchingPoint).
bool IsolatedTouching(Bspline* s1, Bspline* s2, double q[4], double tolB, Touching* T, bool approach,
                      double rounding = 0.0) {
  double w[4] = {q[0], q[1], q[2], q[3]};
  if (!LocateTouchingPoint(s1, s2, w, tolB, T->P, rounding)) {
    for (int k = 0; k < 4; ++k) w[k] = q[k];
    if (!approach || !TowardClosestPair(s1, s2, w) || !LocateTouchingPoint(s1, s2, w, tolB, T->P, rounding))
      return false;
  }
  if (!GapSecondForm(s1, s2, w, T->e, T->H)) return false;
  for (int k = 0; k < 4; ++k) q[k] = T->q[k] = w[k];
  // Eigenvalues m -+ r; definite when r < |m|.
  const double m = 0.5 * (T->H[0][0] + T->H[1][1]), r = std::hypot(0.5 * (T->H[0][0] - T->H[1][1]), T->H[0][1]);
  return std::isfinite(m) && std::isfinite(r) && std::fabs(m) > 0.0 &&
         std::fabs(m) - r >= kIsolatedShare * (std::fabs(m) + r) && std::fabs(m) - r >= kFlattestTouching * tolB;
}

// Where the surfaces' tangent planes coincide at T but the surfaces lie apart there by d along
// the normal, to the side the gap's model curves away from, they do not touch but cross in the
// loop where d + x^T H x / 2 vanishes: an ellipse about T whose larger half-axis,
// sqrt(2 |d| / |k|) for the gap's smaller curvature k, is returned (0 where they do not cross).
// A plane a fraction of the point tolerance inside a small sphere's cap meets it in a circle
// tens of tolerances across, whose nodes all lie in T's ellipse: T stands for none of it. Where
// the surfaces truly touch, d is the coordinates' round-off, and so is the loop.
double CrossingLoopReach(Bspline* s2, const Touching& T) {
  double B[3], d[3], n[3];
  Eval3DPointOnSurfCoord(s2, T.q[2], T.q[3], 0, 0, B);
  VecDiff3(B, T.P, d);
  VecCrossProd3(T.e[0], T.e[1], n);
  const double gap = VecDotProd3(d, n);
  const double m = 0.5 * (T.H[0][0] + T.H[1][1]), r = std::hypot(0.5 * (T.H[0][0] - T.H[1][1]), T.H[0][1]);
  const double k = std::fabs(m) - r;
  if (!(gap * m < 0.0) || !(k > 0.0)) return 0.0;
  return std::sqrt(2.0 * std::fabs(gap) / k);
}

// Where a leaf pair's seed does not refine onto both surfaces, they may still touch at an
// isolated point inside it: a small sphere on a large surface meets it within tolB only over a
// disc about sqrt(2 tolB r) across, far smaller than the boxes, and the common line of the
// tangent planes that the refinement follows is ill-defined there. From the refinement's best
// iterate q0 moved toward the closest pair of points, an isolated touching (IsolatedTouching)
// not given yet is added as a trace of its point alone, which CollapseTouchings treats as any
// touching traced. 0, or -2 on no memory.
int SeedAtTouching(Bspline* s1, Bspline* s2, const double q0[4], IntersectionTraceList* list, double tolB) {
  double q[4] = {q0[0], q0[1], q0[2], q0[3]};
  Touching T;
  if (!TowardClosestPair(s1, s2, q)) return 0;
  // A pair whose gap a touching already given accounts for (its model's gap there within twice
  // the pair's own) leads back to it: many leaf pairs about one touching, beside a pole above
  // all, would locate it again.
  double A[3], B[3];
  Eval3DPointOnSurfCoord(s1, q[0], q[1], 0, 0, A);
  Eval3DPointOnSurfCoord(s2, q[2], q[3], 0, 0, B);
  const double gap = VecDist3(A, B);
  for (const IntersectionTrace* t = list->count > 0 ? list->head : nullptr; t; t = t->next) {
    if (t->nodeCount != 1) continue;
    const IntersectionTraceNode* x = t->head;
    const double g[4] = {x->u1, x->v1, x->u2, x->v2};
    Touching G = {{x->x, x->y, x->z}, {g[0], g[1], g[2], g[3]}, {}, {}};
    if (GapSecondForm(s1, s2, g, G.e, G.H) && ModelGap(G, A) <= 2.0 * gap + kStubGap * tolB) return 0;
  }
  if (!IsolatedTouching(s1, s2, q, tolB, &T, false)) return 0;
  for (const IntersectionTrace* t = list->count > 0 ? list->head : nullptr; t; t = t->next) {
    if (t->nodeCount != 1) continue;
    const double X[3] = {t->head->x, t->head->y, t->head->z};
    if (VecDist3(T.P, X) <= kStubGap * tolB) return 0;
  }
  IntersectionTrace* trace = list->count == 0 ? list->head : MallocIntersectionTrace();
  if (!trace) return -2;
  if (list->count > 0) {
    trace->prev = list->tail;
    list->tail->next = trace;
    list->tail = trace;
  }
  ++list->count;
  if (!AppendTraceNode(trace, T.P, q[0], q[1], q[2], q[3])) return -2;
  trace->open = 1;
  return 0;
}

// Where a leaf pair's seed does not refine onto both surfaces and no touching is there, the
// surfaces may still cross in a loop far smaller than the boxes: a small sphere sunk a few point
// tolerances into a large surface meets it in a circle a few tolerances across, round which the
// refinement from the boxes' middles, far off in the small sphere's parameters, wanders. The
// closest pair of points near q0, where it lies inside the pair's patches, is next to that loop:
// the alternate feet take only about s^2 off the gap a round on a crossing at a sine s, so
// they stop some tens of tolerances from it, where the refinement holds. The loop is seeded
// where the refinement lands (q and P written), in these patches or beside them: the pair whose
// patches hold that point may have its own closest pair elsewhere on the loop, and a seed on a
// branch traced already is dropped by the marks. A pair that left the patches belongs to other
// pairs' seeds. False where the pair is outside, the refinement fails (the surfaces are apart
// there), or the surfaces touch there (SeedAtTouching's case).
bool SeedAtClosestPair(Bspline* s1, Bspline* s2, const PatchBoxNode* node1, const PatchBoxNode* node2,
                       const double q0[4], double q[4], double P[3], double tolB) {
  for (int k = 0; k < 4; ++k) q[k] = q0[k];
  if (!TowardClosestPair(s1, s2, q)) return false;
  const auto inside = [](const PatchBoxNode* n, double u, double v) {
    return n->umin <= u && u <= n->umax && n->vmin <= v && v <= n->vmax;
  };
  if (!inside(node1, q[0], q[1]) || !inside(node2, q[2], q[3])) return false;
  double w[4] = {q[0], q[1], q[2], q[3]};
  int flag = 0;
  if (NewRefineIntrPoint(s1, s2, &q[0], &q[1], &q[2], &q[3], P, 30, &flag, nullptr, tolB) != 0) return false;
  Touching T;
  return !IsolatedTouching(s1, s2, w, tolB, &T, false);
}

int AlongPole(const Bspline* s, double u, double v);
int OnDomainSide(const Bspline* s1, const Bspline* s2, const double q[4]);

// A branch's end on a seam lies there to this share of the parameter's range: the march holds
// the ends it stops on a domain's edge to it.
constexpr double kSeamEndShare = 1e-6;

// A march passes a pole within round-off of its refinement rather than onto it, its parameter
// round the pole turning fast there (the tracer's kPolePassTolBs): a node within this many point
// tolerances of a pole passed it.
constexpr double kPassedPoleTolBs = 4.0;

// The point of the side of s where parameter d (0 u, 1 v) is at its end e (0 low, 1 high) in P.
void SidePoint(const Bspline* s, int d, int e, double P[3]) {
  double w[2] = {s->knotsU[s->degreeU], s->knotsV[s->degreeV]};
  if (e) w[d] = d ? s->knotsV[NumCtrlV(s)] : s->knotsU[NumCtrlU(s)];
  Eval3DPointOnSurfCoord(s, w[0], w[1], 0, 0, P);
}

// The point of the side of s where parameter d (0 u, 1 v) is at its end e (0 low, 1 high) in P:
// true where that side is collapsed to a pole.
bool PolePoint(const Bspline* s, int d, int e, double P[3]) {
  if (!SurfaceSideCollapsed(s, d, e)) return false;
  SidePoint(s, d, e, P);
  return true;
}

// The sides of the pair s[0], s[1] collapsed to a pole (SurfaceSideCollapsed; bit 2 d + e of
// sides[k]), asked once for the subdivision of the pair: its seeds ask at every leaf, and each
// SurfaceSideCollapsed measures the whole control net.
struct PairPoles {
  const Bspline* s[2];
  int sides[2];  // -1 until asked
};

// PolePoint of surface k of the pair.
bool PolePoint(PairPoles& poles, int k, int d, int e, double P[3]) {
  int& sides = poles.sides[k];
  if (sides < 0) {
    sides = 0;
    for (int dd = 0; dd < 2; ++dd)
      for (int ee = 0; ee < 2; ++ee)
        if (SurfaceSideCollapsed(poles.s[k], dd, ee)) sides |= 1 << (2 * dd + ee);
  }
  if (!(sides >> (2 * d + e) & 1)) return false;
  SidePoint(poles.s[k], d, e, P);
  return true;
}

// A seed refined onto a pole of either surface that meets the other surface only within the
// tolerance, by more than this share of it: the pole need not lie on the branch. Where the
// surfaces cross at a small angle beside it, a pole within tolB of the other surface lies tolB
// over the normals' sine from the branch (tens of tolerances for a plane a few degrees off a small
// sphere's axis), and the march from it runs through the pole, or crawls round it and stops. A
// pole within this share lies within ten tolerances of the branch (as near as the branches must
// pass every point of it) wherever the surfaces cross at more than 3 degrees, and a loop through a
// pole has it within a fifth or less: the seed stays there.
constexpr double kPoleSeedShare = 0.5;
// The seed moved off the pole is refined to this share of the tolerance, well inside the share a
// pole left as the seed meets the other surface by.
constexpr double kOffPoleSeedShare = 0.01;
// The refinement starts again off the pole, where the surface has a normal: this share of the
// parameter's range across the pole's side first, ten times farther each time the steps come back
// onto the pole (they do from a start much nearer the pole than the branch), up to kOffPoleMost.
constexpr double kOffPoleLeast = 1e-3;
constexpr double kOffPoleMost = 0.1;

// True when the seed q meets the other surface by more than kPoleSeedShare of the tolerance.
bool SeedMeetsLoosely(Bspline* s1, Bspline* s2, const double q[4], double tolB) {
  double A[3], B[3];
  Eval3DPointOnSurfCoord(s1, q[0], q[1], 0, 0, A);
  Eval3DPointOnSurfCoord(s2, q[2], q[3], 0, 0, B);
  return VecDist3(A, B) > kPoleSeedShare * tolB;
}

// The seed (q, P) refined from r onto the branch (kOffPoleSeedShare). True (q and P written) when
// the refinement converges, and lands within `most` of P where that is finite.
bool RefineSeedOntoBranch(Bspline* s1, Bspline* s2, double r[4], double q[4], double P[3], double tolB,
                          double most = HUGE_VAL) {
  double X[3];
  int flag = 0;
  if (NewRefineIntrPoint(s1, s2, &r[0], &r[1], &r[2], &r[3], X, 30, &flag, nullptr, kOffPoleSeedShare * tolB) != 0 ||
      (most < HUGE_VAL && !(VecDist3(P, X) <= most)))
    return false;
  for (int i = 0; i < 4; ++i) q[i] = r[i];
  for (int i = 0; i < 3; ++i) P[i] = X[i];
  return true;
}

// The seed (q, P) moved off a pole it does not lie on (kPoleSeedShare) onto the branch beside it
// (kOffPoleSeedShare). True (q and P written) when moved; false, q and P as they were, where the
// seed is on no pole, meets the other surface there closely, or no refinement from beside the
// pole converges.
bool SeedOffAPole(Bspline* s1, Bspline* s2, double q[4], double P[3], double tolB) {
  if (!SeedMeetsLoosely(s1, s2, q, tolB)) return false;
  for (int k = 0; k < 2; ++k) {
    const Bspline* s = k ? s2 : s1;
    const int along = AlongPole(s, q[2 * k], q[2 * k + 1]);
    if (along < 0) continue;
    const int across = 1 - along;
    const double lo = across ? s->knotsV[s->degreeV] : s->knotsU[s->degreeU];
    const double hi = across ? s->knotsV[NumCtrlV(s)] : s->knotsU[NumCtrlU(s)];
    const double at = q[2 * k + across], into = at - lo < hi - at ? 1.0 : -1.0;
    // The parameter along the pole's side is any there. On a seam of that parameter the
    // refinement, held in the domain, cannot reach a branch just across the seam: it starts
    // from the seam's other end as well.
    const double alo = along ? s->knotsV[s->degreeV] : s->knotsU[s->degreeU];
    const double ahi = along ? s->knotsV[NumCtrlV(s)] : s->knotsU[NumCtrlU(s)];
    const double w = q[2 * k + along];
    const bool seam = (along ? s->closedV : s->closedU) && std::fmin(w - alo, ahi - w) <= kSeamEndShare * (ahi - alo);
    const double from[2] = {w, w - alo < ahi - w ? ahi : alo};
    for (int f = 0; f < (seam ? 2 : 1); ++f)
      for (double share = kOffPoleLeast; share <= kOffPoleMost; share *= 10.0) {
        double r[4] = {q[0], q[1], q[2], q[3]};
        r[2 * k + across] = at + into * share * (hi - lo);
        r[2 * k + along] = from[f];
        if (RefineSeedOntoBranch(s1, s2, r, q, P, tolB)) return true;
      }
    return false;
  }
  return false;
}

// A seed within this many point tolerances of a pole lies beside it.
constexpr double kBesidePoleSeedTolBs = 100.0;
// A refinement onto the branch from a seed beside a pole moving farther than this many point
// tolerances has found another place, not the seed's.
constexpr double kBesidePoleSeedMoveTolBs = 10.0;

// The seed (q, P) beside a pole (kBesidePoleSeedTolBs), meeting the other surface there by more
// than kPoleSeedShare of the tolerance, refined onto the branch (kOffPoleSeedShare). Beside a pole
// the surfaces may cross at a shallow angle (a plane through a small sphere's pole at 16 degrees
// to its axis), and a seed meeting within the tolerance lies up to 3 tolerances aside from the
// branch: its march runs along beside it, drifting to where the gap reaches the tolerance, and
// stays as a stretch of its own beside the loop another march traced (5 tolerances long, 1
// tolerance off the sphere). True (q and P written) when refined.
bool SeedBesideAPoleOntoTheBranch(Bspline* s1, Bspline* s2, PairPoles& poles, double q[4], double P[3],
                                  double tolB) {
  if (!SeedMeetsLoosely(s1, s2, q, tolB)) return false;
  bool beside = false;
  for (int k = 0; k < 2; ++k)
    for (int d = 0; d < 2; ++d)
      for (int e = 0; e < 2; ++e) {
        double pole[3];
        beside = beside || (PolePoint(poles, k, d, e, pole) && VecDist3(pole, P) <= kBesidePoleSeedTolBs * tolB);
      }
  double r[4] = {q[0], q[1], q[2], q[3]};
  return beside && RefineSeedOntoBranch(s1, s2, r, q, P, tolB, kBesidePoleSeedMoveTolBs * tolB);
}

// True when every node of t lies within kPassedPoleTolBs point tolerances tol of one pole of s1
// or s2: a march beside the pole crawls round it on ever shorter steps (its parameter round the
// pole turning fast there) and may stop so, a few tolerances across, on the loop another march
// passed the pole along.
bool CrawledRoundAPole(const Bspline* s1, const Bspline* s2, const IntersectionTrace* t, double tol) {
  for (const Bspline* s : {s1, s2})
    for (int d = 0; d < 2; ++d)
      for (int e = 0; e < 2; ++e) {
        double P[3];
        if (!PolePoint(s, d, e, P)) continue;
        bool all = true;
        for (const IntersectionTraceNode* n = t->head; n && all; n = n->next) {
          const double X[3] = {n->x, n->y, n->z};
          all = VecDist3(X, P) <= kPassedPoleTolBs * tol;
        }
        if (all) return true;
      }
  return false;
}

// An open trace ends on a pole, arriving along the meridian of the node before its end, and its
// branch goes on beyond the pole along the meridians across from it: a seed farther from the pole
// than a march passes it (kPassedPoleTolBs), whose parameter round the pole lies more than this
// share of its range from that node's, lies on that stretch, which no trace has reached. Taken
// for one beside the trace that ended there, every seed of a loop through both poles of a small
// sphere was dropped, and the half beyond the poles lost.
constexpr double kBeyondPoleShare = 0.25;
// A trace seeded on the half of a loop beyond both poles (SeedBeyondPoles) runs along the branch
// with chords bowing off it by about a hundredth of its middle's distance from the poles (some
// ten chords a half turn). A trace within this share of that distance of it at every node, and
// reaching farther than that, lies on it; one on the half across the poles lies as far from it
// as from the nearer pole, and a crawl about a pole reaches no farther.
constexpr double kOnSeededShare = 0.05;

// The node beside n along the branch of the open trace t when n is an end of it, else null. A
// trace holds its seed at the head, the forward march's nodes up to the turn, then the backward
// march's, the first of them beside the seed.
const IntersectionTraceNode* BesideEnd(const IntersectionTrace* t, const IntersectionTraceNode* n) {
  if (!t->open || t->nodeCount < 2 || !t->turn) return nullptr;
  if (n == t->tail && n != t->turn) return n->prev == t->turn ? t->head : n->prev;
  if (n == t->turn && n != t->head) return n->prev;
  if (n == t->head && (t->turn == t->head || t->turn == t->tail)) return n->next;
  return nullptr;
}

// True when the node n of the trace t, on the pole of s (surface k of the pair) whose side
// parameter `along` (0 u, 1 v) runs along, is an open end of t whose other end lies on a pole of
// s too, and the seed S, with the parameter w along that side, lies beyond the pole from it
// (kBeyondPoleShare). Half a loop through both poles goes on beyond each; a seed beyond a single
// pole was marched through it, and the curves there swept off the surfaces.
bool BeyondPoleFromEnd(const Bspline* s, int k, const IntersectionTrace* t, const IntersectionTraceNode* n,
                       int along, double w, const double S[3], double tolB) {
  const IntersectionTraceNode* b = BesideEnd(t, n);
  if (!b) return false;
  const IntersectionTraceNode* o = n == t->turn ? (t->tail != t->turn ? t->tail : t->head) : t->turn;
  const double X[3] = {n->x, n->y, n->z}, qb[4] = {b->u1, b->v1, b->u2, b->v2}, qo[4] = {o->u1, o->v1, o->u2, o->v2};
  if (!(VecDist3(S, X) > kPassedPoleTolBs * tolB) || AlongPole(s, qb[2 * k], qb[2 * k + 1]) >= 0 ||
      AlongPole(s, qo[2 * k], qo[2 * k + 1]) < 0)
    return false;
  const double at = qb[2 * k + along], lo = along ? s->knotsV[s->degreeV] : s->knotsU[s->degreeU];
  const double range = (along ? s->knotsV[NumCtrlV(s)] : s->knotsU[NumCtrlU(s)]) - lo;
  double d = std::fabs(w - at);
  if (along ? s->closedV : s->closedU) d = std::fmin(d, range - d);
  return d > kBeyondPoleShare * range;
}

// True when a traced node lies on a pole of a surface in a box along the side collapsed there
// that the seed's box on that surface shares (the same row or column), and in the seed's box on
// the other surface. A branch through the pole passes every box along that side, but its march
// marks only the boxes its parameters crossed: a seed beside the pole in a box it left unmarked
// lies on that branch as much as one in a marked pair. The boxes as in SubDivideBasedOnArray.
// So does a node of a closed trace that passed the pole (kPassedPoleTolBs), for a seed S as near
// it: the loop passes every box along that side as well, a few point tolerances from the seed
// (a loop through the pole of a small sphere came out twice, the second time from a seed beside
// the pole two boxes along from where the first loop's march crossed that side). An open trace
// may have stopped beside the pole, and a seed there lead on to the rest of its branch. So may
// one beyond a pole from an end of a trace there (BeyondPoleFromEnd).
bool BesideTracedPole(const Bspline* s1, const Bspline* s2, PairPoles& poles, const IntersectionTraceList* list,
                      const double* us1, const double* vs1, const double* us2, const double* vs2,
                      const int seedBox[2][2], const double q0[4], const double S[3], double tolB) {
  const Bspline* s[2] = {s1, s2};
  const double* us[2] = {us1, us2};
  const double* vs[2] = {vs1, vs2};
  int NU[2], NV[2];
  double tu[2], tv[2];
  // Each surface's sides collapsed to a pole the seed lies beside, by the parameter across them
  // (0 u, 1 v) and end, with the pole's point.
  bool beside[2][2][2];
  double pole[2][2][2][3];
  for (int k = 0; k < 2; ++k) {
    NU[k] = BoxArrayCount(s[k], 0), NV[k] = BoxArrayCount(s[k], 1);
    tu[k] = 1e-6 * (us[k][NU[k] - 1] - us[k][0]), tv[k] = 1e-6 * (vs[k][NV[k] - 1] - vs[k][0]);
    for (int d = 0; d < 2; ++d)
      for (int e = 0; e < 2; ++e)
        beside[k][d][e] =
            PolePoint(poles, k, d, e, pole[k][d][e]) && VecDist3(S, pole[k][d][e]) <= kPassedPoleTolBs * tolB;
  }
  // The parameter along the side of a pole of s[k] beside the seed that node n passed, or -1.
  const auto passed = [&](int k, const IntersectionTraceNode* n) {
    const double X[3] = {n->x, n->y, n->z};
    for (int d = 0; d < 2; ++d)
      for (int e = 0; e < 2; ++e)
        if (beside[k][d][e] && VecDist3(X, pole[k][d][e]) <= kPassedPoleTolBs * tolB) return 1 - d;
    return -1;
  };
  // Beyond a pole from a trace's end, a seed within a pass of the pole of another traced chord
  // lies on that trace, and one on a domain's side may lie on the stretch a march from a seam's
  // far side continues.
  const bool offTraced = OnDomainSide(s1, s2, q0) < 0 && !NearTracedBranch(list, nullptr, S, kPassedPoleTolBs * tolB);
  for (const IntersectionTrace* t = list->count > 0 ? list->head : nullptr; t; t = t->next)
    for (const IntersectionTraceNode* n = t->head; n; n = n->next) {
      const double q[4] = {n->u1, n->v1, n->u2, n->v2};
      int box[2][2];
      for (int j = 0; j < 2; ++j) {
        box[j][0] = box[j][1] = 0;
        GetBoxesRange(us[j], vs[j], q[2 * j], q[2 * j + 1], NU[j], NV[j], &box[j][0], &box[j][1], tu[j], tv[j]);
      }
      for (int k = 0; k < 2; ++k) {
        const int o = 1 - k;
        if (box[o][0] != seedBox[o][0] || box[o][1] != seedBox[o][1]) continue;
        // Along the pole's side the parameter along it (index `along`) may be anything.
        int along = AlongPole(s[k], q[2 * k], q[2 * k + 1]);
        if (along >= 0 && offTraced && BeyondPoleFromEnd(s[k], k, t, n, along, q0[2 * k + along], S, tolB)) continue;
        if (along < 0 && !t->open) along = passed(k, n);
        if (along >= 0 && box[k][1 - along] == seedBox[k][1 - along]) return true;
      }
    }
  return false;
}

// Takes the trace out of the list and frees it with its nodes.
void UnlinkTrace(IntersectionTraceList* list, IntersectionTrace* t);

}  // namespace

// ---- The driver ------------------------------------------------------------------------------

// A new trace at the list's tail (the list's first trace where it holds none yet) marched from
// the seed q (NewIntersectTrace): its code.
int TraceSeed(Bspline* s1, Bspline* s2, const double q[4], const double* us1, const double* vs1, const double* us2,
              const double* vs2, int** marks, IntersectionTraceList* list, double tolA, double tolB) {
  if (list->count == 0) {
    list->count = 1;
  } else {
    IntersectionTrace* trace = MallocIntersectionTrace();
    if (!trace) return -2;
    trace->prev = list->tail;
    list->tail->next = trace;
    list->tail = trace;
    ++list->count;
  }
  return NewIntersectTrace(s1, s2, q[0], q[1], q[2], q[3], us1, vs1, us2, vs2, marks, list, tolA, tolB);
}

// Takes the trace of a dead seed (code -20) off the list's tail, but for the list's first trace.
void DropDeadSeedTrace(IntersectionTraceList* list) {
  if (list->count < 2) return;
  IntersectionTrace* t = list->tail;
  list->tail = t->prev;
  list->tail->next = nullptr;
  --list->count;
  FreeTraceNodes(t);
  Free(t);
}

// The end (0 low, 1 high) of the parameter across a side of s collapsed to a pole that node n lies
// on or passed (kPassedPoleTolBs), with the parameter round the pole in *along; -1 where n is
// beside no pole of s. A march crawling into a pole stops a few point tolerances short of it.
int PoleEndOf(const Bspline* s, const IntersectionTraceNode* n, double tolB, int* along) {
  const double X[3] = {n->x, n->y, n->z};
  for (int d = 0; d < 2; ++d)
    for (int e = 0; e < 2; ++e) {
      double P[3];
      if (PolePoint(s, d, e, P) && VecDist3(X, P) <= kPassedPoleTolBs * tolB) {
        *along = 1 - d;
        return e;
      }
    }
  return -1;
}

// A loop through both poles of a surface closed round them (a small sphere centred on a larger
// surface, turned so that its poles lie on the loop) is traced as two halves, each from pole to
// pole, as every march stops on the pole it reaches (or crawls round it, a few point tolerances
// off). Where the seeds all land on one half (its meridian within a degree of the seam, where the
// boxes' middles refine to), the other half has none. That half runs along the meridians
// opposite the traced half's: from the traced half's node farthest from both poles, the point
// half a turn round the poles is refined onto the branch and traced as a seed, unless a trace
// passes it already (the other half traced). Only open traces present on entry are looked at; 0,
// or -2 on no memory. Those lying wholly on a seeded trace go afterwards: a stretch from a pole
// along the seam's far side within a degree of it, where the seeded half runs on the near side,
// or the traced half itself where the march from the seed passed a pole instead of stopping on
// it and went on round the loop back to the seed (at size 1e6 moved 1e4 sizes off the origin,
// the small sphere first); held twice, they came out as a twelfth to a half turn more.
int SeedBeyondPoles(Bspline* s1, Bspline* s2, const double* us1, const double* vs1, const double* us2,
                    const double* vs2, int** marks, IntersectionTraceList* list, double tolA, double tolB) {
  Bspline* s[2] = {s1, s2};
  const int rows = BoxArrayCount(s1, 0) * BoxArrayCount(s1, 1), cols = BoxArrayCount(s2, 0) * BoxArrayCount(s2, 1);
  int** own = nullptr;  // the caller's tracking scope frees it
  IntersectionTrace* const entryTail = list->count > 0 ? list->tail : nullptr;
  double reach = HUGE_VAL;  // kOnSeededShare of the least middle's distance from the poles
  int left = list->count;
  for (IntersectionTrace* t = list->count > 0 ? list->head : nullptr; t && left > 0; t = t->next, --left) {
    if (!t->open || t->nodeCount < 3 || !t->turn) continue;
    const IntersectionTraceNode* ends[2] = {t->turn, t->tail != t->turn ? t->tail : t->head};
    for (int k = 0; k < 2; ++k) {
      // Only round a closed parameter does a loop come back past both poles.
      if (!s[k]->closedU && !s[k]->closedV) continue;
      int along[2] = {-1, -1};
      const int end0 = PoleEndOf(s[k], ends[0], tolB, &along[0]), end1 = PoleEndOf(s[k], ends[1], tolB, &along[1]);
      if (end0 < 0 || end1 < 0 || end0 == end1 || along[0] != along[1]) continue;
      const int round = along[0];
      if (!(round ? s[k]->closedV : s[k]->closedU)) continue;
      // The node farthest from both poles.
      const double A[3] = {ends[0]->x, ends[0]->y, ends[0]->z}, B[3] = {ends[1]->x, ends[1]->y, ends[1]->z};
      auto fromPoles = [&](const IntersectionTraceNode* n) {
        const double X[3] = {n->x, n->y, n->z};
        return std::fmin(VecDist3(X, A), VecDist3(X, B));
      };
      const IntersectionTraceNode* mid = nullptr;
      double best = 0.0;
      for (const IntersectionTraceNode* n = t->head; n; n = n->next)
        if (fromPoles(n) > best) best = fromPoles(n), mid = n;
      if (!mid || !(best > kPassedPoleTolBs * tolB)) continue;
      const double lo = round ? s[k]->knotsV[s[k]->degreeV] : s[k]->knotsU[s[k]->degreeU];
      const double range = (round ? s[k]->knotsV[NumCtrlV(s[k])] : s[k]->knotsU[NumCtrlU(s[k])]) - lo;
      // The point half a turn round the poles from node n, refined onto the branch into q and P:
      // it lies beyond the poles from the traced half, on no trace, when farther than a quarter
      // of the middle's distance from the poles from every chord (the traced half lies about
      // that whole distance away from the middle's; a chord of the other half traced bows off it
      // by a few hundredths of it, one from a pole by as much beside the pole).
      double q[4], P[3];
      auto beyond = [&](const IntersectionTraceNode* n) {
        if (!(fromPoles(n) > kPassedPoleTolBs * tolB)) return false;
        q[0] = n->u1, q[1] = n->v1, q[2] = n->u2, q[3] = n->v2;
        double& w = q[2 * k + round];
        w += 0.5 * range;
        if (w > lo + range) w -= range;
        Eval3DPointOnSurfCoord(s[k], q[2 * k], q[2 * k + 1], 0, 0, P);
        const int o = 1 - k;
        double S[3], dist, step;
        if (FindClosestUVPointGuessDist(s[o], P, S, &q[2 * o], &q[2 * o + 1], &dist, &step, 10) != 0) return false;
        double r[4] = {q[0], q[1], q[2], q[3]};
        if (!RefineSeedOntoBranch(s1, s2, r, q, P, tolB)) return false;
        double d = std::fabs(q[2 * k + round] - (round ? (k ? n->v2 : n->v1) : (k ? n->u2 : n->u1)));
        d = std::fmin(d, range - d);
        return d > kBeyondPoleShare * range && !NearTracedBranch(list, nullptr, P, kBeyondPoleShare * best);
      };
      // From the middle first; where a stretch from a pole along the seam's far side holds that
      // point, and its march stopped on the seam short of the other pole, from the other nodes
      // (the stretch beyond the seam had no trace: 0.3 of the loop left out).
      bool landed = beyond(mid);
      for (const IntersectionTraceNode* n = t->head; n && !landed; n = n->next) landed = n != mid && beyond(n);
      if (!landed) continue;
      // The traced half marked the boxes about both poles, and near a small sphere a point of the
      // half beyond lies within the chord height of its chords, running its way somewhere round
      // the loop: the march would take itself for that half traced again and be dropped. It marks
      // boxes of its own, merged into the marks afterwards, and still stops on the poles.
      if (!own) {
        own = allocate_matrix_ii(rows, cols);
        if (!own) return -2;
      }
      std::memset(own[0], 0, sizeof(int) * rows * cols);
      const int rc = TraceSeed(s1, s2, q, us1, vs1, us2, vs2, own, list, tolA, tolB);
      if (rc == -2) return -2;
      for (long long i = 0; i < 1LL * rows * cols; ++i) marks[0][i] |= own[0][i];
      if (rc == -20) DropDeadSeedTrace(list);
      else reach = std::fmin(reach, kOnSeededShare * best);
      break;
    }
  }
  if (!entryTail || !entryTail->next || !(reach < HUGE_VAL)) return 0;
  const IntersectionTraceList seeded = {1, entryTail->next, list->tail};
  for (IntersectionTrace *t = list->head, *next = nullptr; t != seeded.head; t = next) {
    next = t->next;
    // A crawl a few tolerances long about a pole is left: the loop's curves join across the pole
    // there (dropped, 2 degrees of the loop went missing beside the other pole).
    double extent = 0.0;
    for (const IntersectionTraceNode* n = t->head; n; n = n->next)
      extent = std::fmax(extent, std::hypot(n->x - t->head->x, n->y - t->head->y, n->z - t->head->z));
    bool onSeeded = t->open != 0 && extent > reach;
    for (const IntersectionTraceNode* n = t->head; n && onSeeded; n = n->next) {
      const double X[3] = {n->x, n->y, n->z};
      onSeeded = NearTracedBranch(&seeded, nullptr, X, reach);
    }
    if (onSeeded) UnlinkTrace(list, t);
  }
  return 0;
}

namespace {

// SubDivideBasedOnArray, the poles of the pair asked once for the whole subdivision.
int SubDivide(Bspline* s1, Bspline* s2, PairPoles& poles, PatchBoxNode* node1, PatchBoxNode* node2,
              double*** grid1, double*** grid2, const double* us1, const double* vs1, const double* us2,
              const double* vs2, int** marks, IntersectionTraceList* list, double tolA, double tolB) {
  if (!NewIntersectBoxes(grid1, grid2, node1, node2)) return 999;
  node1->visited = node2->visited = 1;
  if (newCheckSubdivTree(node1, us1, vs1) || newCheckSubdivTree(node2, us2, vs2)) return -2;
  const bool leaf1 = node1->split == -1, leaf2 = node2->split == -1;
  if (leaf1 && leaf2) {
    double u1 = 0.5 * (node1->umin + node1->umax), v1 = 0.5 * (node1->vmin + node1->vmax);
    double u2 = 0.5 * (node2->umin + node2->umax), v2 = 0.5 * (node2->vmin + node2->vmax);
    double P[3];
    int flag = 0;
    const double middle[4] = {u1, v1, u2, v2};
    if (NewRefineIntrPoint(s1, s2, &u1, &v1, &u2, &v2, P, 30, &flag, nullptr, tolB) == -2) {
      const double q0[4] = {u1, v1, u2, v2};
      double q[4];
      if (!SeedAtClosestPair(s1, s2, node1, node2, q0, q, P, tolB) &&
          !SeedAtClosestPair(s1, s2, node1, node2, middle, q, P, tolB))
        return SeedAtTouching(s1, s2, q0, list, tolB);
      u1 = q[0], v1 = q[1], u2 = q[2], v2 = q[3];
    }
    double on[4] = {u1, v1, u2, v2};
    if (SeedOffAPole(s1, s2, on, P, tolB) || SeedBesideAPoleOntoTheBranch(s1, s2, poles, on, P, tolB))
      u1 = on[0], v1 = on[1], u2 = on[2], v2 = on[3];
    const int NU1 = BoxArrayCount(s1, 0), NV1 = BoxArrayCount(s1, 1);
    const int NU2 = BoxArrayCount(s2, 0), NV2 = BoxArrayCount(s2, 1);
    int i1 = node1->firstU, j1 = node1->firstV, i2 = node2->firstU, j2 = node2->firstV;
    const double tu1 = 1e-6 * (us1[NU1 - 1] - us1[0]), tv1 = 1e-6 * (vs1[NV1 - 1] - vs1[0]);
    const double tu2 = 1e-6 * (us2[NU2 - 1] - us2[0]), tv2 = 1e-6 * (vs2[NV2 - 1] - vs2[0]);
    if (ChkPtNotInBox(us1, vs1, i1, j1, u1, v1, tu1, tv1))
      GetBoxesRange(us1, vs1, u1, v1, NU1, NV1, &i1, &j1, tu1, tv1);
    if (ChkPtNotInBox(us2, vs2, i2, j2, u2, v2, tu2, tv2))
      GetBoxesRange(us2, vs2, u2, v2, NU2, NV2, &i2, &j2, tu2, tv2);
    // A marked pair holds a traced branch, but may hold others: the seed is dropped only when
    // it lies on a traced one running its way (within two chord heights of one of its chords).
    const double q[4] = {u1, v1, u2, v2};
    const int seedBox[2][2] = {{i1, j1}, {i2, j2}};
    if ((marks[j1 * (NU1 - 1) + i1][j2 * (NU2 - 1) + i2] ||
         BesideTracedPole(s1, s2, poles, list, us1, vs1, us2, vs2, seedBox, q, P, tolB)) &&
        NearTracedBranchAlike(s1, s2, list, nullptr, q, P, 2.0 * tolA))
      return 0;
    const int rc = TraceSeed(s1, s2, q, us1, vs1, us2, vs2, marks, list, tolA, tolB);
    if (rc == -2) return -2;
    // A dead seed (normals parallel where it met both surfaces) is kept as a node of a tangential
    // contact to follow (FollowTangentialContacts) while it lies on a domain side away from the
    // traces so far: faces meeting tangentially, or side by side in one plane, along two edges
    // (two halves of a ring) give each edge such seeds. The first is always kept.
    const IntersectionTraceNode* dead = list->tail->head;
    if (rc == -20 && list->count >= 2 && dead && list->tail->nodeCount == 1) {
      const double at[4] = {dead->u1, dead->v1, dead->u2, dead->v2}, X[3] = {dead->x, dead->y, dead->z};
      if (OnDomainSide(s1, s2, at) >= 0 && !NearTracedBranch(list, list->tail, X, 2.0 * tolA)) return 0;
    }
    if (rc == -20) DropDeadSeedTrace(list);
    return 0;
  }
  PatchBoxNode* pairs[4][2];
  int n = 0;
  if (!leaf1 && !leaf2) {
    pairs[n][0] = node1->child[0], pairs[n++][1] = node2->child[0];
    pairs[n][0] = node1->child[1], pairs[n++][1] = node2->child[1];
    pairs[n][0] = node1->child[0], pairs[n++][1] = node2->child[1];
    pairs[n][0] = node1->child[1], pairs[n++][1] = node2->child[0];
  } else if (!leaf1) {
    pairs[n][0] = node1->child[0], pairs[n++][1] = node2;
    pairs[n][0] = node1->child[1], pairs[n++][1] = node2;
  } else {
    pairs[n][0] = node1, pairs[n++][1] = node2->child[0];
    pairs[n][0] = node1, pairs[n++][1] = node2->child[1];
  }
  for (int k = 0; k < n; ++k)
    if (SubDivide(s1, s2, poles, pairs[k][0], pairs[k][1], grid1, grid2, us1, vs1, us2, vs2, marks, list, tolA,
                  tolB) == -2)
      return -2;
  return 0;
}

}  // namespace

int SubDivideBasedOnArray(Bspline* s1, Bspline* s2, PatchBoxNode* node1, PatchBoxNode* node2,
                          double*** grid1, double*** grid2, const double* us1, const double* vs1,
                          const double* us2, const double* vs2, int** marks,
                          IntersectionTraceList* list, double tolA, double tolB) {
  PairPoles poles = {{s1, s2}, {-1, -1}};
  return SubDivide(s1, s2, poles, node1, node2, grid1, grid2, us1, vs1, us2, vs2, marks, list, tolA, tolB);
}

namespace {

// Centre and diagonal of the common box of the two surfaces' control points (a diagonal of 1
// for a pair collapsed to a point).
void PairBox(const Bspline* a, const Bspline* b, double centre[3], double* size) {
  double box[6] = {kEmptyBoxBound, kEmptyBoxBound, kEmptyBoxBound,
                   -kEmptyBoxBound, -kEmptyBoxBound, -kEmptyBoxBound};
  for (const Bspline* s : {a, b}) {
    double** c[3] = {s->X, s->Y, s->Z};
    const int n = NumCtrlU(s) * NumCtrlV(s);
    for (int q = 0; q < 3; ++q)
      for (int i = 0; i < n; ++i) {
        box[q] = std::fmin(box[q], c[q][0][i]);
        box[q + 3] = std::fmax(box[q + 3], c[q][0][i]);
      }
  }
  double d2 = 0.0;
  for (int q = 0; q < 3; ++q) {
    centre[q] = 0.5 * (box[q] + box[q + 3]);
    d2 += (box[q + 3] - box[q]) * (box[q + 3] - box[q]);
  }
  *size = std::sqrt(d2) > 0.0 ? std::sqrt(d2) : 1.0;
}

// Moves and scales the copies' control points so that their common box is centred at the
// origin with diagonal 1; centre and size are returned to map points back.
void ToUnitSize(Bspline* a, Bspline* b, double centre[3], double* size) {
  PairBox(a, b, centre, size);
  for (Bspline* s : {a, b}) {
    double** c[3] = {s->X, s->Y, s->Z};
    const int n = NumCtrlU(s) * NumCtrlV(s);
    for (int q = 0; q < 3; ++q)
      for (int i = 0; i < n; ++i) c[q][0][i] = (c[q][0][i] - centre[q]) / *size;
  }
}

// The sample grid of a surface: four samples per interval of both arrays, rows u, columns v.
double*** SampleGrid(const Bspline* s, const double* us, const double* vs, int NU, int NV) {
  const int nr = 3 * (NU - 1) + 1, nc = 3 * (NV - 1) + 1;
  double*** grid = allocate_3dim_matrix_ff(3 * NU - 1, 3 * NV - 1, 3);
  Owned<double, Free> su(MallocArray<double>(nr)), sv(MallocArray<double>(nc));
  Owned<double*, Free> out(MallocArray<double*>(nr * nc));
  if (!grid || !su || !sv || !out) return nullptr;
  for (int i = 0; i + 1 < NU; ++i)
    for (int a = 0; a < 3; ++a) su[3 * i + a] = us[i] + a * (us[i + 1] - us[i]) / 3.0;
  su[nr - 1] = us[NU - 1];
  for (int j = 0; j + 1 < NV; ++j)
    for (int b = 0; b < 3; ++b) sv[3 * j + b] = vs[j] + b * (vs[j + 1] - vs[j]) / 3.0;
  sv[nc - 1] = vs[NV - 1];
  for (int j = 0; j < nc; ++j)
    for (int i = 0; i < nr; ++i) out[j * nr + i] = grid[i][j];
  static const int du[1] = {0}, dv[1] = {0};
  if (EvalGridOnGeometryM(s, su.get(), sv.get(), nr, nc, du, dv, 1, 0, out.get()) != 0) return nullptr;
  return grid;
}

}  // namespace

namespace {

void NodeParams(const IntersectionTraceNode* n, double q[4]) {
  q[0] = n->u1;
  q[1] = n->v1;
  q[2] = n->u2;
  q[3] = n->v2;
}

// The parameters pulled onto both surfaces within tol; false when the refinement does not meet.
bool PullOnto(Bspline* s1, Bspline* s2, double q[4], double P[3], double tol) {
  int boundary = 0;
  return NewRefineIntrPoint(s1, s2, &q[0], &q[1], &q[2], &q[3], P, 30, &boundary, nullptr, tol) == 0;
}

// A node on a seam is sought with the parameter along the seam held (OnNearestBranch) only for a
// reach above this many point tolerances: a trace spanning forty or more.
constexpr double kHeldAlongSeamTolBs = 10.0;

// True when the branch through the chord of the list's traces (skip apart) nearest to the node
// passes within reach of it: that chord lies within five chord heights, and the branch between
// its nodes passes within reach (OnBranchReach).
bool OnNearestBranch(Bspline* s1, Bspline* s2, const IntersectionTraceList* list,
                     const IntersectionTrace* skip, const IntersectionTraceNode* x, double tolA,
                     double tolB, double reach) {
  const double X[3] = {x->x, x->y, x->z};
  double bestF = 0.0;
  const IntersectionTraceNode* bestNext = nullptr;
  const IntersectionTraceNode* best = NearestChord(list, skip, X, 5.0 * tolA, &bestF, &bestNext);
  if (!best) return false;
  // The branch between the chord's nodes: each fraction's parameters pulled onto both
  // surfaces; its point nearest X by golden-section search over the fraction.
  // A node just across a closed surface's seam from the chord (a shallow dip of the branch over
  // the seam that the other trace stepped past on the near side) is sought from the seam's far
  // side: the chord's parameters in that direction moved by the range toward the node's and held
  // in the domain, so that the pull starts at the seam beside the node. A node on the seam where
  // the branch only touches it from the chord's side (running along the seam within the
  // tolerance, never across) lies on no branch beyond the seam: it is sought from the chord's
  // side as well.
  double qa[4], qb[4], xq[4], from[4], to[4];
  NodeParams(best, qa);
  NodeParams(bestNext, qb);
  NodeParams(x, xq);
  bool shifted = false;
  for (int k = 0; k < 4; ++k) {
    const Bspline* s = k < 2 ? s1 : s2;
    from[k] = k & 1 ? s->knotsV[s->degreeV] : s->knotsU[s->degreeU];
    to[k] = k & 1 ? s->knotsV[NumCtrlV(s)] : s->knotsU[NumCtrlU(s)];
    if (!(k & 1 ? s->closedV : s->closedU)) continue;
    const double range = to[k] - from[k], shift = xq[k] < 0.5 * (qa[k] + qb[k]) ? -range : range;
    if (std::fabs(qa[k] - xq[k]) > 0.5 * range && std::fabs(qb[k] - xq[k]) > 0.5 * range) {
      qa[k] += shift, qb[k] += shift;
      shifted = true;
    }
  }
  const double A[3] = {best->x, best->y, best->z}, B[3] = {bestNext->x, bestNext->y, bestNext->z};
  // Whether Y lies beside the chord between its nodes, within a quarter of its length of it.
  const auto besideChord = [&](const double Y[3]) {
    double ab[3], ay[3];
    VecDiff3(B, A, ab);
    VecDiff3(Y, A, ay);
    const double l2 = VecDotProd3(ab, ab), t = VecDotProd3(ab, ay);
    if (!(t > 0.0 && t < l2)) return false;
    return VecDotProd3(ay, ay) - t * t / l2 <= 0.0625 * l2;
  };
  const auto nearest = [&](const double a[4], const double b[4], int held, bool beside = false) {
    auto away = [&](double f) {
      double q[4], Y[3];
      for (int k = 0; k < 4; ++k) q[k] = std::fmin(to[k], std::fmax(from[k], a[k] + f * (b[k] - a[k])));
      if (held >= 0) q[held] = xq[held];
      if (!(held >= 0 ? PullWithParamHeld(s1, s2, q, held, Y, tolB) : PullOnto(s1, s2, q, Y, tolB))) return HUGE_VAL;
      return !beside || besideChord(Y) ? VecDist3(X, Y) : HUGE_VAL;
    };
    const double g = 0.5 * (std::sqrt(5.0) - 1.0);
    double lo = 0.0, hi = 1.0, c = hi - g * (hi - lo), d = lo + g * (hi - lo);
    double fc = away(c), fd = away(d), least = std::fmin(away(bestF), std::fmin(fc, fd));
    for (int it = 0; it < 30 && least > reach; ++it) {
      if (fc < fd) {
        hi = d, d = c, fd = fc, c = hi - g * (hi - lo), fc = away(c);
      } else {
        lo = c, c = d, fc = fd, d = lo + g * (hi - lo), fd = away(d);
      }
      least = std::fmin(least, std::fmin(fc, fd));
    }
    return least;
  };
  if (nearest(qa, qb, -1) <= reach) return true;
  NodeParams(best, qa);
  NodeParams(bestNext, qb);
  if (shifted && nearest(qa, qb, -1) <= reach) return true;
  // Beside a pole of one surface (the node nearer it than the chord is long) the chord's
  // parameters on that surface swing round the pole: the branch comes in along one meridian and
  // leaves along the opposite one, and the pulls from their mean land on either side of the pole,
  // anywhere along the loop (a loop through a small sphere's pole, traced again as a stretch
  // beside the pole, stayed). There the other surface's parameters alone follow the branch: each
  // pull starts from the node's own parameters on the surface with the pole, and counts only
  // landing beside the chord between its nodes (a quarter of its length off at most), where the
  // branch between them runs.
  for (int k = 0; k < 2; ++k)
    for (int d = 0; d < 2; ++d)
      for (int e = 0; e < 2; ++e) {
        double pole[3], pa[4], pb[4];
        if (!PolePoint(k ? s2 : s1, d, e, pole) || !(VecDist3(X, pole) <= VecDist3(A, B))) continue;
        for (int j = 0; j < 4; ++j) pa[j] = qa[j], pb[j] = qb[j];
        pa[2 * k] = pb[2 * k] = xq[2 * k];
        pa[2 * k + 1] = pb[2 * k + 1] = xq[2 * k + 1];
        if (nearest(pa, pb, -1, true) <= reach) return true;
      }
  // A node on a seam where the branch runs along it within the tolerance (touching it at a point
  // of its own) may lie anywhere along that stretch of the seam, where a free pull from the
  // chord, its parameter across the seam held in the domain, slides off past the touching: the
  // branch's point beside it is sought on the seam, with that parameter held there.
  for (int k = 0; k < 4; ++k) {
    const Bspline* s = k < 2 ? s1 : s2;
    if ((k & 1 ? s->closedV : s->closedU) && (xq[k] == from[k] || xq[k] == to[k]) && nearest(qa, qb, k) <= reach)
      return true;
  }
  // Held on the seam, the pull stops wherever along that stretch the gap first falls within the
  // tolerance, as far from the node as the stretch is long; and a node a round-off off the seam's
  // end (refined there from beyond the touching) is not held at all. The branch's point beside
  // such a node is where it passes the node's parameter along the seam, held instead where the
  // chord spans it (elsewhere the point found lies on the branch beyond the chord's stretch). Not
  // for a trace a few tolerances long (reach held to a quarter of its span, OnBranchReach): a
  // loop's piece across a seam beside a pole, which stands on no other.
  if (!(reach > kHeldAlongSeamTolBs * tolB)) return false;
  for (int k = 0; k < 4; ++k) {
    const Bspline* s = k < 2 ? s1 : s2;
    const int j = k ^ 1;
    const bool onSeam = std::fmin(xq[k] - from[k], to[k] - xq[k]) <= kSeamEndShare * (to[k] - from[k]);
    const bool spans = std::fmin(qa[j], qb[j]) <= xq[j] && xq[j] <= std::fmax(qa[j], qb[j]);
    if ((k & 1 ? s->closedV : s->closedU) && onSeam && spans && nearest(qa, qb, j) <= reach) return true;
  }
  return false;
}

// True when the node lies on a branch of the list other than skip (OnNearestBranch). Where two
// branches run side by side closer than a chord's height (circles across a narrow band), the
// nearest chord may be the neighbour's, whose branch passes the node by the band's width, while a
// chord of its own branch bows farther off: each trace's nearest chord is then tried in turn.
bool OnTracedBranch(Bspline* s1, Bspline* s2, const IntersectionTraceList* list,
                    const IntersectionTrace* skip, const IntersectionTraceNode* x, double tolA,
                    double tolB, double reach) {
  if (OnNearestBranch(s1, s2, list, skip, x, tolA, tolB, reach)) return true;
  for (const IntersectionTrace* t = list->head; t; t = t->next) {
    if (t == skip) continue;
    IntersectionTrace one = *t;  // the trace alone, its nodes shared
    one.prev = one.next = nullptr;
    const IntersectionTraceList alone = {1, &one, &one};
    if (OnNearestBranch(s1, s2, &alone, nullptr, x, tolA, tolB, reach)) return true;
  }
  return false;
}

// OnTracedBranch for the middle of the chord from n to the node after it along t's branch (the
// backward nodes run on from the head, not from the turn node): a trace whose nodes all lie on
// other traces can still run where none does, as a stretch between two seams crossed in one
// step does between the ends of the traces beyond them. True where there is no such chord or
// its middle does not meet both surfaces: only a middle that meets them elsewhere tells.
bool MiddleOnTracedBranch(Bspline* s1, Bspline* s2, const IntersectionTraceList* list,
                          const IntersectionTrace* t, const IntersectionTraceNode* n, double tolA,
                          double tolB, double reach) {
  const IntersectionTraceNode* a = n == t->turn ? t->head : n;
  const IntersectionTraceNode* b = n->next;
  if (!b || a == b) return true;
  double qa[4], qb[4];
  NodeParams(a, qa);
  NodeParams(b, qb);
  IntersectionTraceNode mid = *a;
  double q[4], Y[3];
  for (int k = 0; k < 4; ++k) q[k] = 0.5 * (qa[k] + qb[k]);
  if (!PullOnto(s1, s2, q, Y, tolB)) return true;
  mid.x = Y[0], mid.y = Y[1], mid.z = Y[2];
  mid.u1 = q[0], mid.v1 = q[1], mid.u2 = q[2], mid.v2 = q[3];
  return OnTracedBranch(s1, s2, list, t, &mid, tolA, tolB, reach);
}

// Normals within this sine of parallel at every node of a trace: it runs along a tangential
// contact. Its nodes lie within the square root of the point tolerance of the contact, where
// the normals turn by that over the surfaces' curvature radius; a crossing at an angle has
// larger sines at all but the nodes next to a singular point.
constexpr double kTangentialSine = 0.02;
bool AlongTangentialContact(Bspline* s1, Bspline* s2, const IntersectionTrace* t, double sine);

// Takes the trace out of the list and frees it with its nodes.
void UnlinkTrace(IntersectionTraceList* list, IntersectionTrace* t) {
  if (t->prev) t->prev->next = t->next;
  else list->head = t->next;
  if (t->next) t->next->prev = t->prev;
  else list->tail = t->prev;
  FreeTraceNodes(t);
  Free(t);
  --list->count;
}

// The largest distance between two nodes of t.
double TraceSpan(const IntersectionTrace* t) {
  double span = 0.0;
  for (const IntersectionTraceNode* a = t->head; a; a = a->next)
    for (const IntersectionTraceNode* b = a->next; b; b = b->next)
      span = std::fmax(span, std::hypot(a->x - b->x, a->y - b->y, a->z - b->z));
  return span;
}

// A node lies on another branch when the branch passes within 100 point tolerances of it: room
// for the march's chords and the search along them. A trace spanning less than four times that
// is held to a quarter of its span: a loop a few tolerances across that crosses a seam is traced
// as two halves from the seam, each well within 100 tolerances of the other, and neither stands
// on the other. A trace within a few tolerances of one point (nodes piled on a pole) is that
// point, and keeps the full reach.
double OnBranchReach(const IntersectionTrace* t, double tolB) {
  const double span = TraceSpan(t);
  return span > 4.0 * tolB ? std::fmin(100.0 * tolB, 0.25 * span) : 100.0 * tolB;
}

bool AtAPole(const Bspline* s, const double jet[3][3]);

// True when the middle of a chord of t lies beyond the ends of the other traces: the nearest
// point of them all to it is an open trace's end node on a closed surface's seam, or on a pole
// (a piece from a seam's far side to a pole where another contact ends has its one chord's
// middle as near that end as the one on the seam). A contact that crosses the seams of both
// surfaces less than a step apart is traced between them in one chord whose nodes are the ends
// of the traces beyond the seams: each node lies on another branch, the stretch between on none.
// Along a contact the chord's middle pulled onto both surfaces lands anywhere across the band and
// cannot tell (MiddleOnTracedBranch); the ends can. A stretch traced twice has the other trace's
// chord nearer the middle than any end.
bool ChordBetweenSeamEnds(const Bspline* s1, const Bspline* s2, const IntersectionTraceList* list,
                          const IntersectionTrace* t) {
  auto openEnd = [&](const IntersectionTraceNode* n) {
    for (const IntersectionTrace* o = list->head; o; o = o->next)
      if (o != t && o->open && (n == o->tail || n == o->turn || (n == o->head && (!o->turn || o->turn == o->tail))))
        return true;
    return false;
  };
  auto onSeam = [&](const IntersectionTraceNode* n) {
    double q[4];
    NodeParams(n, q);
    for (int k = 0; k < 4; ++k) {
      const Bspline* s = k < 2 ? s1 : s2;
      if (!(k & 1 ? s->closedV : s->closedU)) continue;
      const double lo = k & 1 ? s->knotsV[s->degreeV] : s->knotsU[s->degreeU];
      const double hi = k & 1 ? s->knotsV[NumCtrlV(s)] : s->knotsU[NumCtrlU(s)];
      if (std::fmin(q[k] - lo, hi - q[k]) <= kSeamEndShare * (hi - lo)) return true;
    }
    return false;
  };
  auto onPole = [&](const IntersectionTraceNode* n) {
    static const int du[3] = {0, 1, 0}, dv[3] = {0, 0, 1};
    double a[3][3], b[3][3];
    return (EvalPointOnGeometryM(s1, n->u1, n->v1, du, dv, 3, 0, a) == 0 && AtAPole(s1, a)) ||
           (EvalPointOnGeometryM(s2, n->u2, n->v2, du, dv, 3, 0, b) == 0 && AtAPole(s2, b));
  };
  for (const IntersectionTraceNode* n = t->head; n; n = n->next) {
    const IntersectionTraceNode* a = n == t->turn ? t->head : n;
    const IntersectionTraceNode* b = n->next;
    if (!b || a == b) continue;
    const double M[3] = {0.5 * (a->x + b->x), 0.5 * (a->y + b->y), 0.5 * (a->z + b->z)};
    double f = 0.5;
    const IntersectionTraceNode* partner = nullptr;
    const IntersectionTraceNode* c = NearestChord(list, t, M, HUGE_VAL, &f, &partner);
    const IntersectionTraceNode* foot = !c ? nullptr : f == 0.0 ? c : f == 1.0 ? partner : nullptr;
    if (foot && openEnd(foot) && (onSeam(foot) || onPole(foot))) return true;
  }
  return false;
}

// True when every node of t lies on one end of a closed direction (within kSeamEndShare), none on
// a pole: t runs along that seam (a piece from a seam into a pole has its parameter round the
// pole on the seam at both nodes, and is a stretch of its own).
bool AlongOneSeam(const Bspline* s1, const Bspline* s2, const IntersectionTrace* t) {
  for (const IntersectionTraceNode* n = t->head; n; n = n->next)
    if (AlongPole(s1, n->u1, n->v1) >= 0 || AlongPole(s2, n->u2, n->v2) >= 0) return false;
  for (int k = 0; k < 4; ++k) {
    const Bspline* s = k < 2 ? s1 : s2;
    if (!(k & 1 ? s->closedV : s->closedU)) continue;
    const double lo = k & 1 ? s->knotsV[s->degreeV] : s->knotsU[s->degreeU];
    const double hi = k & 1 ? s->knotsV[NumCtrlV(s)] : s->knotsU[NumCtrlU(s)], off = kSeamEndShare * (hi - lo);
    for (const double end : {lo, hi}) {
      bool all = t->head != nullptr;
      for (const IntersectionTraceNode* n = t->head; n && all; n = n->next) {
        double q[4];
        NodeParams(n, q);
        all = std::fabs(q[k] - end) <= off;
      }
      if (all) return true;
    }
  }
  return false;
}

// Point and unit normal of the surface at (u, v); false without a tangent plane.
bool PointAndNormal(const Bspline* srf, double u, double v, double P[3], double n[3]) {
  double jet[3][3];
  if (SurfaceJet(srf, u, v, jet) != 0) return false;
  for (int q = 0; q < 3; ++q) P[q] = jet[0][q];
  VecCrossProd3(jet[1], jet[2], n);
  const double len = std::sqrt(VecDotProd3(n, n));
  if (!(len > 0.0)) return false;
  for (int q = 0; q < 3; ++q) n[q] /= len;
  return true;
}

// Where the surfaces meet at a shallow angle (normals a sine s apart), every point within tolB of
// both lies in a band up to tolB / s either side of the branch, and a seed at its edge (on a seam
// beside a small sphere's pole, the pole 0.01 rad off the loop: s about 0.15, the band 13
// tolerances wide) is traced as a branch of its own, a few tolerances beside the loop traced whole
// from another seed, the way the loop runs: about 15 degrees of it traced twice. Two branches
// that close run opposite ways (NearTracedBranchAlike: the gap between the surfaces changes sign
// across each), so a trace within the band's width of a closed trace everywhere, running its way,
// lies on that loop. Only beside a closed trace: on a loop a few band widths across, the stretch
// leaving an open trace's end on a pole the other way lies within the band of that end, whose
// tangent is undefined and passes for running either way. Not below kTangentialSine, where the
// band is wider than OnBranchReach's 100 tolerances and the trace may run along a tangential
// contact.
bool InBandOfClosedTrace(Bspline* s1, Bspline* s2, const IntersectionTraceList* list, const IntersectionTrace* t,
                         double tolB) {
  for (const IntersectionTrace* o = list->head; o; o = o->next) {
    if (o == t || o->open) continue;
    IntersectionTrace one = *o;  // the trace alone, its nodes shared
    one.prev = one.next = nullptr;
    const IntersectionTraceList alone = {1, &one, &one};
    bool within = true;
    for (const IntersectionTraceNode* n = t->head; n && within; n = n->next) {
      double q[4], P1[3], P2[3], n1[3], n2[3], c[3];
      NodeParams(n, q);
      if (!PointAndNormal(s1, q[0], q[1], P1, n1) || !PointAndNormal(s2, q[2], q[3], P2, n2)) return false;
      const double sine = VecSize3(VecCrossProd3(n1, n2, c));
      if (!(sine >= kTangentialSine)) return false;
      const double X[3] = {n->x, n->y, n->z};
      within = NearTracedBranchAlike(s1, s2, &alone, nullptr, q, X, 2.0 * tolB / sine);
    }
    if (within) return true;
  }
  return false;
}

// Removes the traces whose every node lies on another branch (OnTracedBranch): a seed on a
// corner of two seams or on a pole that marched nowhere, or a branch traced twice from seeds
// whose box pairs the first trace did not mark. Their points are part of the other branch, not
// a branch of their own. A point apart from every branch (a touch) stays. From `first` on only
// the traces running along a seam (AlongOneSeam) when alongSeam.
void DropTracesOnOtherBranches(Bspline* s1, Bspline* s2, IntersectionTraceList* list, double tolA,
                               double tolB, IntersectionTrace* first = nullptr, bool alongSeam = false) {
  IntersectionTrace* t = first ? first : list->head;
  for (int k = 0; k < list->count && t;) {
    IntersectionTrace* next = t->next;
    bool covered = t->head != nullptr && list->count > 1 && (!alongSeam || AlongOneSeam(s1, s2, t));
    const double reach = covered ? OnBranchReach(t, tolB) : 0.0;
    for (const IntersectionTraceNode* n = t->head; n && covered; n = n->next)
      covered = OnTracedBranch(s1, s2, list, t, n, tolA, tolB, reach);
    // Along a tangential contact the surfaces meet within tolB across a band, so a chord's middle
    // pulled onto both lands anywhere in it and tells nothing. Nodes piled within a few tolB of one
    // point (a pole where traces end) are that point, not a stretch between seams.
    if (covered && !AlongTangentialContact(s1, s2, t, kTangentialSine))
      for (const IntersectionTraceNode* n = t->head; n && covered; n = n->next)
        covered = MiddleOnTracedBranch(s1, s2, list, t, n, tolA, tolB, reach);
    else if (covered && TraceSpan(t) > 4.0 * tolB)
      covered = !ChordBetweenSeamEnds(s1, s2, list, t);
    if (!covered && !alongSeam && t->open && list->count > 1 && TraceSpan(t) > 4.0 * tolB)
      covered = InBandOfClosedTrace(s1, s2, list, t, tolB) && !ChordBetweenSeamEnds(s1, s2, list, t);
    if (!covered) {
      t = next;
      ++k;
      continue;
    }
    UnlinkTrace(list, t);
    t = next;
  }
}

// A partial this share of the other vanishes: the point is a pole of the surface.
constexpr double kPoleShare = 1e-9;
// A surface far from the origin for its size has its pole's control points equal only to the
// round-off of their coordinates, and the partial round the pole keeps that round-off over the
// surface's size against the other (a sphere a thousandth of the scene 1e4 scenes out: a few
// 1e-9). A partial within this many times that share vanishes too.
constexpr double kPoleRoundOff = 64.0;

// The share of the other below which a partial of s at P vanishes (kPoleShare, or the round-off
// of s's coordinates at P over its size, kPoleRoundOff times, where that is larger).
double PoleShare(const Bspline* s, const double P[3]) {
  const double far = std::fmax(std::fabs(P[0]), std::fmax(std::fabs(P[1]), std::fabs(P[2])));
  // The round-off term exceeds kPoleShare only on a surface whose box is shorter than `least`.
  // The box's diagonal is at least the distance between any two control points, so two corners
  // of the net that far apart settle it: the whole box, asked for at every node and pull, took
  // most of a trace's time.
  const double least = kPoleRoundOff * DBL_EPSILON * far / kPoleShare;
  const int nu = NumCtrlU(s), nv = NumCtrlV(s);
  const auto corner = [&](int j, int i) { return std::array<double, 3>{s->X[j][i], s->Y[j][i], s->Z[j][i]}; };
  const std::array<double, 3> c[4] = {corner(0, 0), corner(nv - 1, nu - 1), corner(0, nu - 1), corner(nv - 1, 0)};
  if (VecDist3(c[0].data(), c[1].data()) >= least || VecDist3(c[2].data(), c[3].data()) >= least) return kPoleShare;
  double centre[3], size;
  PairBox(s, s, centre, &size);
  return std::fmax(kPoleShare, kPoleRoundOff * DBL_EPSILON * far / size);
}

// True when the partials of jet (point, u, v of s) make it a pole of s.
bool AtAPole(const Bspline* s, const double jet[3][3]) {
  const double lu = VecSize3(jet[1]), lv = VecSize3(jet[2]), share = PoleShare(s, jet[0]);
  return lu <= share * lv || lv <= share * lu;
}

bool AlongTangentialContact(Bspline* s1, Bspline* s2, const IntersectionTrace* t, double sine = kTangentialSine) {
  static const int du[3] = {0, 1, 0}, dv[3] = {0, 0, 1};
  for (const IntersectionTraceNode* n = t->head; n; n = n->next) {
    double a[3][3], b[3][3], n1[3], n2[3], c[3];
    if (EvalPointOnGeometryM(s1, n->u1, n->v1, du, dv, 3, 0, a) != 0 ||
        EvalPointOnGeometryM(s2, n->u2, n->v2, du, dv, 3, 0, b) != 0)
      return false;
    // On a pole (a partial vanishing against the other, as ComeStraightIntoPoles tells it) a
    // surface has no normal from its partials: such a node tells nothing either way.
    if (AtAPole(s1, a) || AtAPole(s2, b)) continue;
    VecCrossProd3(a[1], a[2], n1);
    VecCrossProd3(b[1], b[2], n2);
    const double l = VecSize3(n1) * VecSize3(n2);
    if (!(l > 0.0) || !(VecSize3(VecCrossProd3(n1, n2, c)) < sine * l)) return false;
  }
  return true;
}

// True when every node of t lies within reach of a chord of the traces from `first` to the
// list's tail, skip apart; every chord's middle too within middleReach when that is not 0.
bool CoveredByTracesFrom(const IntersectionTraceList* list, IntersectionTrace* first,
                         const IntersectionTrace* t, double reach, const IntersectionTrace* skip = nullptr,
                         double middleReach = 0.0) {
  const IntersectionTraceList from = {1, first, list->tail};
  for (const IntersectionTraceNode* n = t->head; n; n = n->next) {
    const double X[3] = {n->x, n->y, n->z};
    if (!NearTracedBranch(&from, skip, X, reach)) return false;
    if (!(middleReach > 0.0) || !n->next) continue;
    const double M[3] = {0.5 * (n->x + n->next->x), 0.5 * (n->y + n->next->y), 0.5 * (n->z + n->next->z)};
    if (!NearTracedBranch(&from, skip, M, middleReach)) return false;
  }
  return true;
}

// The way along a contact through q, for a trace of one node: the direction in which the gap's
// second form vanishes (see kIsolatedShare). The first search may stop on the seed where the
// contact runs along an edge both faces share. Where the form vanishes every way (its curvatures
// keep the gap within tolB across the unit-size pair: two faces in one plane) the surfaces meet
// only where both have points, so a contact there runs along the domain edge q lies on (the edge
// two faces side by side in one plane share). False where the surfaces touch at an isolated
// point or a crossing.
bool ContactWay(Bspline* s1, Bspline* s2, const double q[4], double dir[3], double tolB) {
  double e[2][3], H[2][2];
  if (!GapSecondForm(s1, s2, q, e, H)) return false;
  const double mean = 0.5 * (H[0][0] + H[1][1]), root = std::hypot(0.5 * (H[0][0] - H[1][1]), H[0][1]);
  const double flat = mean < 0.0 ? mean + root : mean - root, bent = mean < 0.0 ? mean - root : mean + root;
  const int side = OnDomainSide(s1, s2, q);
  if (std::fabs(bent) <= tolB && side >= 0) {
    static const int du[2] = {1, 0}, dv[2] = {0, 1};
    double d[2][3];
    // Along the side: the partial in the surface's other parameter.
    const Bspline* s = side < 2 ? s1 : s2;
    if (EvalPointOnGeometryM(s, q[side & 2], q[(side & 2) + 1], du, dv, 2, 0, d) != 0) return false;
    for (int c = 0; c < 3; ++c) dir[c] = d[side & 1 ? 0 : 1][c];
    return VecSize3(dir) > 0.0;
  }
  if (!(std::fabs(flat) <= kIsolatedShare * std::fabs(bent))) return false;
  // An eigenvector of flat, from whichever row of H - flat I is the longer.
  double a = H[0][1], b = flat - H[0][0];
  if (std::hypot(a, b) < std::hypot(flat - H[1][1], H[0][1])) a = flat - H[1][1], b = H[0][1];
  if (!(std::hypot(a, b) > 0.0)) a = 1.0, b = 0.0;  // H vanishes: any way will do
  for (int c = 0; c < 3; ++c) dir[c] = a * e[0][c] + b * e[1][c];
  return true;
}

// Where the surfaces touch along a curve, the march gives its pieces (each ended by the
// singular-point test a few steps on, some overlapping, with gaps between): the contact is
// traced whole from a node of such a piece (TraceTangentialContact), and the pieces it passes
// within two chord heights of every node are dropped. 0, or -2 on no memory.
int FollowTangentialContacts(Bspline* s1, Bspline* s2, IntersectionTraceList* list, double tolA,
                             double tolB) {
  IntersectionTrace* made = nullptr;  // the first contact traced; the others follow it
  const int traced = list->count;
  IntersectionTrace* t = list->head;
  for (int k = 0; k < traced && t; ++k, t = t->next) {
    if (t->nodeCount < 1 || !AlongTangentialContact(s1, s2, t)) continue;
    if (made && CoveredByTracesFrom(list, made, t, 2.0 * tolA)) continue;
    const IntersectionTraceNode* n = t->head;
    for (int i = 0; i < t->nodeCount / 2 && n->next; ++i) n = n->next;
    const IntersectionTraceNode* o = n->next ? n->next : n->prev;
    const double q[4] = {n->u1, n->v1, n->u2, n->v2};
    double dir[3] = {0.0, 0.0, 0.0};
    if (o) {
      dir[0] = o->x - n->x, dir[1] = o->y - n->y, dir[2] = o->z - n->z;
    } else if (!ContactWay(s1, s2, q, dir, tolB)) {
      continue;
    }
    IntersectionTrace* tail = list->tail;
    const int rc = TraceTangentialContact(s1, s2, q, dir, list, tolA, tolB);
    if (rc == -2) return -2;
    if (rc == 1 && !made) {
      made = tail->next;
    } else if (rc == 1) {
      // A trace of the march reaching past a stretch traced before has its middle node there, or
      // the contact traced from it runs on across a seam into one: traced from seam or pole to
      // seam or pole, the new traces lying wholly on those stretches are them again, and go. A
      // piece from a seam to a pole may have both ends on traced stretches (a contact's end on
      // the seam, another's on the pole) and its chord on neither: the chords' middles count
      // too, within one chord height (the chords of one stretch traced twice bow the same way
      // off it, each by at most that).
      for (IntersectionTrace* nt = tail->next; nt;) {
        IntersectionTrace* next = nt->next;
        if (CoveredByTracesFrom(list, made, nt, 2.0 * tolA, nt, tolA)) UnlinkTrace(list, nt);
        nt = next;
      }
    }
  }
  if (!made) return 0;
  t = list->head;
  while (t && t != made) {
    IntersectionTrace* next = t->next;
    if (t->nodeCount >= 1 && AlongTangentialContact(s1, s2, t) && CoveredByTracesFrom(list, made, t, 2.0 * tolA))
      UnlinkTrace(list, t);
    t = next;
  }
  return 0;
}

// True when every node of t lies within reach of its middle node.
bool ShortTrace(const IntersectionTrace* t, double reach) {
  const IntersectionTraceNode* mid = t->head;
  for (int i = 0; i < t->nodeCount / 2 && mid && mid->next; ++i) mid = mid->next;
  if (!mid) return false;
  const double M[3] = {mid->x, mid->y, mid->z};
  for (const IntersectionTraceNode* x = t->head; x; x = x->next) {
    const double X[3] = {x->x, x->y, x->z};
    if (!(VecDist3(X, M) <= reach)) return false;
  }
  return true;
}

// True when every node of t lies inside the ellipse of the touching (kStubGap).
bool InsideTouching(const Touching& T, const IntersectionTrace* t, double tolB) {
  for (const IntersectionTraceNode* x = t->head; x; x = x->next) {
    const double X[3] = {x->x, x->y, x->z};
    if (!(ModelGap(T, X) <= kStubGap * tolB)) return false;
  }
  return true;
}

// The traces with their normals nearly parallel at every node (AlongTangentialContact), or short
// enough to lie in a small touching's ellipse (kShortStub), stand for isolated touchings where
// one, located from a trace's middle node, holds all its nodes in its ellipse. Each such trace
// is replaced by the touching point alone, as one node; a later trace of a touching already
// given is dropped. A trace from which no touching is located (its nodes beside a pole or across
// a seam from it) goes with a touching located from another trace whose ellipse holds it.
// rounding is the round-off the copies' coordinates carry from the caller's (IsolatedTouching).
// 0, or -2 on no memory.
int CollapseTouchings(Bspline* s1, Bspline* s2, IntersectionTraceList* list, double tolB, double rounding) {
  const int n = list->count;
  Owned<Touching, Free> found(MallocArray<Touching>(n > 0 ? n : 1));
  Owned<bool, Free> along(MallocArray<bool>(n > 0 ? n : 1)), given(MallocArray<bool>(n > 0 ? n : 1));
  if (!found || !along || !given || KernelFailed()) return -2;
  int made = 0;
  IntersectionTrace* t = list->head;
  for (int k = 0; k < n && t; ++k, t = t->next) {
    along[k] = t->nodeCount >= 1 &&
               (AlongTangentialContact(s1, s2, t, kTouchSine) || ShortTrace(t, 2.0 * kShortStub * tolB));
    if (!along[k]) continue;
    const IntersectionTraceNode* mid = t->head;
    for (int i = 0; i < t->nodeCount / 2 && mid->next; ++i) mid = mid->next;
    double q[4];
    NodeParams(mid, q);
    Touching T;
    if (!IsolatedTouching(s1, s2, q, tolB, &T, true, rounding) || !InsideTouching(T, t, tolB)) continue;
    if (CrossingLoopReach(s2, T) > kLoopReach * tolB) continue;
    bool again = false;
    for (int i = 0; i < made && !again; ++i) again = ModelGap(found[i], T.P) <= kStubGap * tolB;
    if (!again) given[made] = false, found[made++] = T;
  }
  t = list->head;
  for (int k = 0; k < n && t; ++k) {
    IntersectionTrace* next = t->next;
    int i = 0;
    while (along[k] && i < made && !InsideTouching(found[i], t, tolB)) ++i;
    if (!along[k] || i == made) {
      t = next;
      continue;
    }
    if (given[i]) {
      UnlinkTrace(list, t);
    } else {
      given[i] = true;
      FreeTraceNodes(t);
      if (!AppendTraceNode(t, found[i].P, found[i].q[0], found[i].q[1], found[i].q[2], found[i].q[3])) return -2;
      t->open = 1;
    }
    t = next;
  }
  return 0;
}

// ---- Touchings at a vertex of a tessellation ------------------------------------------------
//
// A net of faces touching the other surface only at one of its vertices (a cylinder laid on a
// convex corner of a faceted torus) parts from it linearly across the faces round the vertex, and
// only quadratically along a crease the other surface curves away from square to it: within tolB
// they meet along stretches of the creases about sqrt(2 tolB R) long for the other surface's
// radius R, which the marches trace as branches or spurs, differing with the surfaces' order. The
// gap has no second form at the vertex for IsolatedTouching to judge by. The vertex is the
// touching point where the faces round it lie on one side of the other surface: the gap, sampled
// along rays from the vertex over each face, keeps its sign there and grows past kStubGap point
// tolerances within the faces.

// The rays over a face from its corner at the vertex, as shares of the face's sides along u and
// v: its two edges (the creases, where the gap grows slowest) and three between.
constexpr double kVertexRays[5][2] = {{1.0, 0.0}, {1.0, 0.5}, {1.0, 1.0}, {0.5, 1.0}, {0.0, 1.0}};
// A ray's farthest sample lies at this share of the face, its nearer ones at halves of it down to
// kLoopReach point tolerances from the vertex (a smaller loop is left to the point, as about an
// isolated touching). A gap still within kStubGap point tolerances that far out is a contact
// along the ray (a crease lying on the other surface), no point.
constexpr double kVertexRayShare = 0.5;
// The faces meet at the vertex at an angle: some two of their normals there part by more than
// this sine (as the marches take a crease). Faces continuing one smooth surface are
// IsolatedTouching's.
constexpr double kVertexCreaseSine = 1e-3;
// A gap of the other side smaller than this many units of the coordinates' round-off (DBL_EPSILON
// of the unit copies plus what they carry from the caller's) is the touching's own round-off.
constexpr double kVertexRoundoffs = 64.0;

// The faces of s round a vertex: its parameters at[dir], and for each parameter dir and side
// (0 below, 1 above) where the span beside it starts (across a closed seam, from the domain's
// other end) and its signed length.
struct NetVertex {
  double at[2];
  double from[2][2], step[2][2];
};

// The knot of s's parameter dir nearest x at which the surface may have a crease: an interior
// knot, or an end of a closed direction, the seam.
double NearestKnot(const Bspline* s, int dir, double x) {
  const int deg = dir ? s->degreeV : s->degreeU, n = dir ? NumCtrlV(s) : NumCtrlU(s);
  const double* kn = dir ? s->knotsV : s->knotsU;
  const bool closed = dir ? s->closedV : s->closedU;
  double best = HUGE_VAL;
  for (int i = closed ? deg : deg + 1; i <= (closed ? n : n - 1); ++i)
    if (std::fabs(kn[i] - x) < std::fabs(best - x)) best = kn[i];
  return best;
}

// The span of s's parameter dir beside the knot x on side (0 below, 1 above) as its start and
// signed length in v; false where an open domain ends there.
bool SpanBeside(const Bspline* s, int dir, double x, int side, NetVertex* v) {
  const int deg = dir ? s->degreeV : s->degreeU, n = dir ? NumCtrlV(s) : NumCtrlU(s);
  const double* kn = dir ? s->knotsV : s->knotsU;
  const double lo = kn[deg], hi = kn[n];
  double from = x;
  if (side == 1 && x >= hi) from = lo;
  if (side == 0 && x <= lo) from = hi;
  if (from != x && !(dir ? s->closedV : s->closedU)) return false;
  double end = side ? HUGE_VAL : -HUGE_VAL;
  for (int i = deg; i <= n; ++i)
    if (side ? kn[i] > from && kn[i] < end : kn[i] < from && kn[i] > end) end = kn[i];
  if (!std::isfinite(end)) return false;
  v->from[dir][side] = from;
  v->step[dir][side] = end - from;
  return true;
}

// The parameters of the point of face (su, sv) of v at shares (a, b) of its sides.
void FaceParams(const NetVertex& v, int su, int sv, double a, double b, double w[2]) {
  w[0] = a > 0.0 ? v.from[0][su] + a * v.step[0][su] : v.at[0];
  w[1] = b > 0.0 ? v.from[1][sv] + b * v.step[1][sv] : v.at[1];
}

// True when the faces of s round v meet at an angle (kVertexCreaseSine): their normals at the
// vertex, each taken a round-off inside its face.
bool FacesMeetAtAngle(const Bspline* s, const NetVertex& v) {
  constexpr double kInside = 1e-9;
  double n[4][3], P[3], w[2], c[3];
  for (int f = 0; f < 4; ++f) {
    FaceParams(v, f & 1, f >> 1, kInside, kInside, w);
    if (!PointAndNormal(s, w[0], w[1], P, n[f])) return false;
  }
  for (int f = 0; f < 4; ++f)
    for (int g = f + 1; g < 4; ++g)
      if (VecSize3(VecCrossProd3(n[f], n[g], c)) > kVertexCreaseSine) return true;
  return false;
}

// The gap of X from surface o along o's normal at the foot, found from the parameters foot and
// left there; false where no foot with a normal is found.
bool SignedGap(Bspline* o, const double X[3], double foot[2], double* gap) {
  double S[3], n[3], d[3], dist, step;
  if (FindClosestUVPointGuessNorm(o, X, S, &foot[0], &foot[1], &dist, &step, 10, n) != 0) return false;
  const double len = VecSize3(n);
  if (!(len > 0.0)) return false;
  VecDiff3(X, S, d);
  *gap = VecDotProd3(d, n) / len;
  return std::isfinite(*gap);
}

// The touching point a net's vertex makes with the other surface: its point on s1 and its
// parameters on both.
struct VertexTouch {
  double P[3];
  double q[4];
};

// The sampled gaps round a vertex, measured from the other surface's side the faces lie on.
struct VertexGaps {
  Bspline* net;
  Bspline* other;
  double V[3];      // the vertex
  double foot[2];   // its foot on the other surface
  double gap;    // and its gap there
  double sign;   // the side the faces lie on (+1, -1)
  double floor;  // the least gap a sample may have: the vertex's or none, less round-off
  double reach;  // how far from the vertex the gap stays within kStubGap point tolerances
};

// The gap of the net's point at w from the other surface (its side's sign applied) and its
// distance d from the vertex; false where no foot is found.
bool GapAt(VertexGaps& g, const double w[2], double* h, double* d) {
  double X[3], f[2] = {g.foot[0], g.foot[1]};
  Eval3DPointOnSurfCoord(g.net, w[0], w[1], 0, 0, X);
  *d = VecDist3(X, g.V);
  if (!SignedGap(g.other, X, f, h)) return false;
  *h *= g.sign;
  return true;
}

// Takes the side of the other surface the faces lie on from the far end of the first ray over
// the first face; the vertex's gap is measured from it, and the least a sample may have set:
// none below the vertex's or below the other surface, but for round-off (kVertexRoundoffs).
bool SideOfFaces(VertexGaps& g, const NetVertex& v, double rounding) {
  double w[2], h, d;
  FaceParams(v, 0, 0, kVertexRayShare * kVertexRays[0][0], kVertexRayShare * kVertexRays[0][1], w);
  g.sign = 1.0;
  if (!GapAt(g, w, &h, &d) || h == 0.0) return false;
  g.sign = h < 0.0 ? -1.0 : 1.0;
  g.gap *= g.sign;
  g.floor = std::fmax(0.0, g.gap) - kVertexRoundoffs * (DBL_EPSILON + rounding);
  return true;
}

// True when the face (su, sv) round the vertex lies on the faces' side of the other surface along
// every ray, each leaving kStubGap point tolerances behind within the face; the reach grows to
// the farthest sample beyond which a ray's gap had not yet done so.
bool FaceOnOneSide(VertexGaps& g, const NetVertex& v, int su, int sv, double tolB) {
  for (const auto& ray : kVertexRays) {
    double outer = 0.0;
    for (double f = kVertexRayShare;; f *= 0.5) {
      double w[2], h, d;
      FaceParams(v, su, sv, f * ray[0], f * ray[1], w);
      if (!GapAt(g, w, &h, &d)) return false;
      if (f == kVertexRayShare && !(h > g.gap + kStubGap * tolB)) return false;
      if (d < kLoopReach * tolB) break;
      if (!(h >= g.floor)) return false;
      if (h <= g.gap + kStubGap * tolB) g.reach = std::fmax(g.reach, outer);
      outer = d;
    }
  }
  return true;
}

// The touching at the vertex of net (s1 for side 0, else s2) nearest t's middle node, where the
// faces round it meet at an angle, the vertex lies within tolB of the other surface, the faces
// lie on one side of it (FaceOnOneSide), and every node of t lies within the reach of the
// contact and on that side. rounding as for IsolatedTouching.
bool VertexTouching(Bspline* s1, Bspline* s2, int side, const IntersectionTrace* t, double tolB, double rounding,
                    VertexTouch* out) {
  const IntersectionTraceNode* mid = t->head;
  for (int i = 0; i < t->nodeCount / 2 && mid->next; ++i) mid = mid->next;
  double q[4];
  NodeParams(mid, q);
  VertexGaps g{side ? s2 : s1, side ? s1 : s2, {}, {q[2 - 2 * side], q[3 - 2 * side]}, 0.0, 1.0, 0.0, 0.0};
  NetVertex v;
  for (int dir = 0; dir < 2; ++dir) {
    v.at[dir] = NearestKnot(g.net, dir, q[2 * side + dir]);
    if (!std::isfinite(v.at[dir]) || !SpanBeside(g.net, dir, v.at[dir], 0, &v) ||
        !SpanBeside(g.net, dir, v.at[dir], 1, &v))
      return false;
  }
  Eval3DPointOnSurfCoord(g.net, v.at[0], v.at[1], 0, 0, g.V);
  if (!SignedGap(g.other, g.V, g.foot, &g.gap) || !(std::fabs(g.gap) <= tolB) || !FacesMeetAtAngle(g.net, v))
    return false;
  if (!SideOfFaces(g, v, rounding)) return false;
  g.reach = kLoopReach * tolB;
  for (int f = 0; f < 4; ++f)
    if (!FaceOnOneSide(g, v, f & 1, f >> 1, tolB)) return false;
  for (const IntersectionTraceNode* n = t->head; n; n = n->next) {
    const double w[2] = {side ? n->u2 : n->u1, side ? n->v2 : n->v1};
    double h, d;
    if (!GapAt(g, w, &h, &d) || !(d <= g.reach) || (d >= kLoopReach * tolB && !(h >= g.floor))) return false;
  }
  double S[3];
  Eval3DPointOnSurfCoord(g.other, g.foot[0], g.foot[1], 0, 0, S);
  for (int c = 0; c < 3; ++c) out->P[c] = side ? S[c] : g.V[c];
  out->q[2 * side] = v.at[0], out->q[2 * side + 1] = v.at[1];
  out->q[2 - 2 * side] = g.foot[0], out->q[3 - 2 * side] = g.foot[1];
  return true;
}

// Each trace standing for a touching at a vertex of either surface (VertexTouching) is replaced
// by the vertex alone, as one node; a later trace of a vertex already given is dropped. 0, or -2
// on no memory.
int CollapseVertexTouchings(Bspline* s1, Bspline* s2, IntersectionTraceList* list, double tolB, double rounding) {
  const int n = list->count;
  Owned<VertexTouch, Free> found(MallocArray<VertexTouch>(n > 0 ? n : 1));
  if (!found || KernelFailed()) return -2;
  int made = 0;
  IntersectionTrace* t = list->head;
  for (int k = 0; k < n && t; ++k) {
    IntersectionTrace* next = t->next;
    VertexTouch T;
    if (t->nodeCount < 1 || !(VertexTouching(s1, s2, 0, t, tolB, rounding, &T) ||
                              VertexTouching(s1, s2, 1, t, tolB, rounding, &T))) {
      t = next;
      continue;
    }
    bool again = false;
    for (int i = 0; i < made && !again; ++i) again = VecDist3(found[i].P, T.P) <= kStubGap * tolB;
    if (again) {
      UnlinkTrace(list, t);
    } else {
      found[made++] = T;
      FreeTraceNodes(t);
      if (!AppendTraceNode(t, T.P, T.q[0], T.q[1], T.q[2], T.q[3])) return -2;
      t->open = 1;
    }
    t = next;
  }
  return 0;
}

}  // namespace

int NewIntersect(Bspline* s1, Bspline* s2, IntersectionTraceList* list, double tolA, double tolB) {
  // A NaN share passes no comparison and every point met, an infinite or whole-size point
  // tolerance makes any two points meet: neither is a tolerance to trace by.
  if (!list || !(tolA > 0.0 && tolA < HUGE_VAL) || !(tolB > 0.0 && tolB < 1.0)) {
    SetKernelError(-2);
    return -2;
  }
  TrackingScope scope;  // arrays, grids, marks and trees; the traces belong to the list
  Owned<Bspline, FreeBspline> c1(CopyBsplineStruct(s1)), c2(CopyBsplineStruct(s2));
  if (!c1 || !c2 || KernelFailed()) return -2;
  ModifyParamSpaceBasedOnSpans(c1.get());
  ModifyParamSpaceBasedOnSpans(c2.get());
  if (KernelFailed()) return -2;
  double centre[3], size;
  ToUnitSize(c1.get(), c2.get(), centre, &size);
  // The copies keep the round-off of the caller's coordinates, far off the origin larger than
  // their own: that of the caller's largest coordinate (at most the box centre's largest plus
  // half the diagonal), in the copies' units. No point is placed closer than that: a point
  // tolerance below it is raised to it, as the marches cannot refine to less and would leave
  // branches cut short or untraced.
  const double far = std::fmax(std::fabs(centre[0]), std::fmax(std::fabs(centre[1]), std::fabs(centre[2])));
  const double rounding = DBL_EPSILON * (far / size + 0.5);
  tolB = std::fmax(tolB, rounding);
  // The marches join, close and drop traces whose ends come within twice the chord height of a
  // traced branch; below the point tolerance no two traces of one branch reach each other, and
  // each seed traced its own copy of the branch. A chord height below it is raised to it.
  tolA = std::fmax(tolA, tolB);
  // The marches evaluate the same points of the copies again and again: nearly half their
  // evaluations on the benchmark's closed loop.
  RememberedSurfaceJets jets(c1.get(), c2.get());
  const int NU1 = BoxArrayCount(c1.get(), 0), NV1 = BoxArrayCount(c1.get(), 1);
  const int NU2 = BoxArrayCount(c2.get(), 0), NV2 = BoxArrayCount(c2.get(), 1);
  double *us1 = nullptr, *vs1 = nullptr, *us2 = nullptr, *vs2 = nullptr;
  if (SubDivisionArray(c1.get(), c2.get(), &us1, &vs1, &us2, &vs2) != 0) return -2;
  Owned<PatchBoxNode, FreePatchBoxTree> root1(
      MallocPatchBoxNode(0, 0, NU1, NV1, us1[0], us1[NU1 - 1], vs1[0], vs1[NV1 - 1]));
  Owned<PatchBoxNode, FreePatchBoxTree> root2(
      MallocPatchBoxNode(0, 0, NU2, NV2, us2[0], us2[NU2 - 1], vs2[0], vs2[NV2 - 1]));
  if (!root1 || !root2) return -2;
  double*** grid1 = SampleGrid(c1.get(), us1, vs1, NU1, NV1);
  double*** grid2 = SampleGrid(c2.get(), us2, vs2, NU2, NV2);
  if (!grid1 || !grid2) return -2;
  // One int per pair of box numbers: the product of four counts, refused as no memory when it
  // does not fit an int.
  const long long rows = 1LL * NU1 * NV1, cols = 1LL * NU2 * NV2;
  if (rows * cols > INT_MAX / static_cast<long long>(sizeof(int))) {
    SetOutOfMemory();
    return -2;
  }
  int** marks = allocate_matrix_ii(static_cast<int>(rows), static_cast<int>(cols));
  if (!marks) return -2;
  std::memset(marks[0], 0, sizeof(int) * rows * cols);
  list->count = 0;
  const int rc = SubDivideBasedOnArray(c1.get(), c2.get(), root1.get(), root2.get(), grid1, grid2,
                                       us1, vs1, us2, vs2, marks, list, tolA, tolB);
  if (rc != -2 && FollowTangentialContacts(c1.get(), c2.get(), list, tolA, tolB) == -2) return -2;
  DropTracesOnOtherBranches(c1.get(), c2.get(), list, tolA, tolB);
  if (rc != -2 && CollapseTouchings(c1.get(), c2.get(), list, tolB, rounding) == -2) return -2;
  if (rc != -2 && CollapseVertexTouchings(c1.get(), c2.get(), list, tolB, rounding) == -2) return -2;
  // The seams are crossed where no other trace goes on from a branch's end: after the traces
  // lying on other branches are gone, whose ends would stand for a continuation that is not there.
  // A continuation short enough to run between the ends of two traces lies on neither.
  IntersectionTrace* before = list->count > 0 ? list->tail : nullptr;
  if (rc != -2 && ContinueAcrossSeams(c1.get(), c2.get(), us1, vs1, us2, vs2, marks, list, tolA, tolB) == -2)
    return -2;
  // A branch that only touches a seam, running along it within the tolerance, ends there as at a
  // crossing, and is continued from the seam's far side along the seam over a stretch another
  // trace reached from the other way: such a continuation lies wholly on that trace.
  if (before && before->next) DropTracesOnOtherBranches(c1.get(), c2.get(), list, tolA, tolB, before->next, true);
  // Half a loop through both poles with no trace on it is seeded last: a stretch from a pole to a
  // seam is continued across the seam along that half first, and a seed there would have stopped
  // beside the stretch's end and had it taken for lying on the seed's trace.
  if (rc != -2 && SeedBeyondPoles(c1.get(), c2.get(), us1, vs1, us2, vs2, marks, list, tolA, tolB) == -2) return -2;
  // The points go back to the caller's units; parameters do not change with the scale.
  for (IntersectionTrace* t = list->head; t; t = t->next)
    for (IntersectionTraceNode* n = t->head; n; n = n->next) {
      n->x = n->x * size + centre[0];
      n->y = n->y * size + centre[1];
      n->z = n->z * size + centre[2];
    }
  return rc == -2 ? -2 : 0;
}

namespace {

// The returned curves lie within this share of the pair's size of both surfaces: the point
// tolerance the traced nodes are refined to.
const double kCurveTol = 1e-6;
// Rounds of node insertion: each cuts the intervals that miss into the parts the fourth-power law
// of a cubic's error asks for, so a few suffice from the tracer's chord heights; the count only
// guards the loop.
const int kFitRounds = 16;
// Nodes a branch may grow to: a bound against a surface pair no node placement can satisfy.
const int kMaxFitNodes = 20000;

// Nodes are pulled onto both surfaces to this share of the tolerance: their own gap then takes
// nothing worth counting from what the curves between them may miss by.
const double kPullShare = 1e-3;
// An interval whose middle misses by more than this share of the tolerance is cut: the middle's
// departure, measured against the other surface's tangent plane at the middle pulled onto both,
// can fall short of the largest miss over the interval by a factor of about four, so the middle
// is held well below the tolerance the whole interval must keep.
const double kMiddleShare = 0.1;
// A node off the surfaces by more than this share of the tolerance (weighted by AcrossWeight) is
// pulled onto them before the intervals are measured: half of what an interval's middle may miss.
// A node left looser lies its gap over the normals' sine beside the branch, and the curves run out
// to it and back: where the surfaces cross at a shallow angle round a loop some hundred
// tolerances long (a plane beside a small sphere's pole, a seed left as refined from the middle
// of its boxes, or a node marched beside the pole) that spike made the loop 1-2 % too long.
const double kNodeShare = 0.5 * kMiddleShare;
// An interval whose middle holds is cut where a quarter misses by more than this share of the
// tolerance: the largest miss between points a quarter of the interval apart, on a cubic's error,
// exceeds theirs by far less than it may exceed the middle's alone.
const double kQuarterShare = 0.5;
// A node lies on its branch closely enough for a curve to be placed across the branch by its
// weighted distance (Departure) where its gap over the normals' sine is within this many times
// kMiddleShare of the tolerance (the branches must pass every point of the intersection within ten
// times the tolerance).
const double kAcrossShare = 10.0;

int AcrossPole(const Bspline* s1, const Bspline* s2, const double q[4]);

// Neighbours of a node on a pole whose parameters round it lie more than this share of the range
// apart arrive and leave along meridians the interpolants cannot join through the node.
const double kPoleTurnShare = 0.25;

// The parameter (0..3 as in q) round a pole that node a or b lies on, the branch passing through
// it (the node on both surfaces within reach), or -1. The branch comes into such a pole at any
// value of it, and an interval from a node beside the pole into it turns round the pole by as much
// as the branch turns over it, however short the interval: a small loop through a sphere's pole,
// its last interval 2.8e-3 long on a circle of radius 0.01, runs round the pole by 0.1 rad between
// its nodes, 30 times the interval's extent in that plane. A branch passing beside the pole turns
// round it by half a turn where it passes closest, and the pole tells nothing of where.
int RoundPoleParam(const Bspline* s1, const Bspline* s2, const IntersectionTraceNode* a, const IntersectionTraceNode* b,
                   double reach) {
  for (const IntersectionTraceNode* n : {a, b}) {
    double q[4], P1[3], P2[3];
    NodeParams(n, q);
    const int across = AcrossPole(s1, s2, q);
    if (across < 0) continue;
    Eval3DPointOnSurfCoord(s1, q[0], q[1], 0, 0, P1);
    Eval3DPointOnSurfCoord(s2, q[2], q[3], 0, 0, P2);
    return VecDist3(P1, P2) <= reach ? across ^ 1 : -1;
  }
  return -1;
}

// A pole end whose surfaces' points lie farther apart than this share of its interval's chord is
// one the branch passes beside (a loop 1e-5 of the size beside a sphere's pole, its end there half
// a tolerance off the plane): a cut swung round that pole turned the curves 1e-3 of the size off.
const double kPoleGapShare = 1e-3;

// The mean speed of s along each parameter (its control net's span over its range); 1 for both
// where either cannot be measured.
void MeanParamSpeeds(const Bspline* s, double speed[2]) {
  for (int d = 0; d < 2; ++d) speed[d] = ControlNetSpan(s, d) / (d ? s->vmax - s->vmin : s->umax - s->umin);
  if (!(speed[0] > 0.0 && speed[1] > 0.0 && std::isfinite(speed[0]) && std::isfinite(speed[1])))
    speed[0] = speed[1] = 1.0;
}

// True when the parameters r lie within the box of the interval between nodes a and b, grown on
// every side by its extent in that plane: a surface's box grows by the interval's larger extent in
// its plane, as a branch may bulge in one parameter between nodes where it barely changes. The
// parameter round a pole the branch passes through at an end (RoundPoleParam: the end's gap
// within kPoleGapShare of the interval's chord) is grown by the turn the meridians there may take,
// kPoleTurnShare of its range: held to the extent, every pull of a cut of a shallow loop's last
// interval into a pole was refused or slid onto a node, and the curves kept their swing, within
// tol of both surfaces but 2-3.5e-5 of the size off the loop.
// The extents are compared as lengths on the surface too (each parameter's change times the
// surface's mean speed along it), the larger one growing each parameter by what it is in it:
// compared as bare parameters, a sphere's u round the poles widened to ten times its v range
// grew the box of an interval down a meridian into a pole by its v extent only, a tenth of the
// u the branch turns through there, every pull onto it was refused, and the curves went into
// the pole straight down the meridian, 6e-3 of the size off.
bool WithinInterval(const Bspline* s1, const Bspline* s2, const double r[4], const IntersectionTraceNode* a,
                    const IntersectionTraceNode* b) {
  double qa[4], qb[4], grow[4];
  NodeParams(a, qa);
  NodeParams(b, qb);
  const auto within = [&] {
    for (int k = 0; k < 4; ++k) {
      const Bspline* s = k < 2 ? s1 : s2;
      const double range = k & 1 ? s->vmax - s->vmin : s->umax - s->umin;
      const double lo = std::fmin(qa[k], qb[k]), hi = std::fmax(qa[k], qb[k]), g = grow[k] + 1e-9 * range;
      if (r[k] < lo - g || r[k] > hi + g) return false;
    }
    return true;
  };
  for (int k = 0; k < 4; ++k) {
    const int u = k & ~1;
    grow[k] = std::fmax(std::fabs(qa[u] - qb[u]), std::fabs(qa[u + 1] - qb[u + 1]));
  }
  // Most pulls land in the box grown by bare parameters; the growths below only widen it, and
  // measuring the nets' speeds for every pull cost a quarter of a crossing's time.
  if (within()) return true;
  double speed[2][2];
  MeanParamSpeeds(s1, speed[0]);
  MeanParamSpeeds(s2, speed[1]);
  const double chord = std::hypot(a->x - b->x, a->y - b->y, a->z - b->z);
  const int round = RoundPoleParam(s1, s2, a, b, kPoleGapShare * chord);
  for (int k = 0; k < 4; ++k) {
    const Bspline* s = k < 2 ? s1 : s2;
    const int u = k & ~1;
    const double* w = speed[k >> 1];
    const double extent = std::fmax(std::fabs(qa[u] - qb[u]) * w[0], std::fabs(qa[u + 1] - qb[u + 1]) * w[1]);
    grow[k] = std::fmax(grow[k], extent / w[k & 1]);
    if (k == round) grow[k] = std::fmax(grow[k], kPoleTurnShare * (k & 1 ? s->vmax - s->vmin : s->umax - s->umin));
  }
  return within();
}

// The parameter (0..3 as in q) that changes most (or least) across the interval between nodes a
// and b, for its range.
int ChangingParam(const Bspline* s1, const Bspline* s2, const IntersectionTraceNode* a, const IntersectionTraceNode* b,
                  bool most) {
  double qa[4], qb[4], range[4];
  NodeParams(a, qa);
  NodeParams(b, qb);
  for (int k = 0; k < 4; ++k) {
    const Bspline* s = k < 2 ? s1 : s2;
    range[k] = k & 1 ? s->vmax - s->vmin : s->umax - s->umin;
  }
  int best = 0;
  for (int k = 1; k < 4; ++k) {
    const double x = std::fabs(qa[k] - qb[k]) * range[best], y = std::fabs(qa[best] - qb[best]) * range[k];
    if (most ? x > y : x < y) best = k;
  }
  return best;
}

// A point of the interval between nodes a and b pulled onto both surfaces within tol, its
// parameters kept within the interval's box grown on every side by its extent in that plane. A free pull that
// leaves it (near a pole a step in the tangent planes swings the parameter round the pole onto
// the far side of the branch) is done again with the parameter that changes least across the
// interval, for its range, held, and then with the one that changes most. False (q as given)
// when none stays.
bool PullInto(Bspline* s1, Bspline* s2, double q[4], double P[3], double tol,
              const IntersectionTraceNode* a, const IntersectionTraceNode* b) {
  double qa[4], qb[4];
  NodeParams(a, qa);
  NodeParams(b, qb);
  auto within = [&](const double r[4]) { return WithinInterval(s1, s2, r, a, b); };
  // Where two branches run side by side (nearly tangent surfaces), a pull may land on the
  // neighbour, which runs the other way: the tangent n1 x n2 there turns against the one at the
  // interval's ends. Ends without a tangent (normals parallel to 1e-3, or an end on a pole, where
  // a partial vanishes and, far from the origin, leaves a normal of its round-off) or disagreeing
  // leave it.
  auto tangent = [&](const double r[4], double t[3]) {
    double X[3], n1[3], n2[3];
    if (AcrossPole(s1, s2, r) >= 0) return false;
    if (!PointAndNormal(s1, r[0], r[1], X, n1) || !PointAndNormal(s2, r[2], r[3], X, n2)) return false;
    VecCrossProd3(n1, n2, t);
    return VecDotProd3(t, t) > 1e-6;
  };
  // An end on a crease has the partials of the face after the knot (as every point on a knot has),
  // while the interval runs over the face toward the other end: where the branch turns back on the
  // crease (a loop along it) that face's tangent points against the branch's over the interval,
  // and every pull was refused (the curves left 170 tolerances off a tessellated torus). Its tangent is
  // taken a round-off toward the other end.
  auto towardOther = [&](const double from[4], const double to[4], double r[4]) {
    for (int k = 0; k < 4; ++k) {
      Bspline* s = k < 2 ? s1 : s2;
      r[k] = from[k];
      if (to[k] < from[k] && OnSurfaceCrease(s, from[k & 2], from[(k & 2) + 1], k & 1))
        r[k] = std::nextafter(from[k], -HUGE_VAL);
    }
  };
  double ta[3], tb[3], ea[4], eb[4];
  towardOther(qa, qb, ea);
  towardOther(qb, qa, eb);
  const bool guided = tangent(ea, ta) && tangent(eb, tb) && VecDotProd3(ta, tb) > 0.0;
  auto sameWay = [&](const double r[4]) {
    double t[3];
    return !guided || !tangent(r, t) || VecDotProd3(t, ta) > 0.0;
  };
  double r[4] = {q[0], q[1], q[2], q[3]};
  if (PullOnto(s1, s2, r, P, tol) && within(r) && sameWay(r)) {
    for (int k = 0; k < 4; ++k) q[k] = r[k];
    return true;
  }
  const int held = ChangingParam(s1, s2, a, b, false);
  for (int k = 0; k < 4; ++k) r[k] = q[k];
  if (PullWithParamHeld(s1, s2, r, held, P, tol) && within(r) && sameWay(r)) {
    for (int k = 0; k < 4; ++k) q[k] = r[k];
    return true;
  }
  // Where two branches run side by side, the free pull can land on the neighbour, and the
  // parameter changing least may be the one that tells the two apart (a circle of constant v
  // beside another): held where q lies between them it meets neither. The parameter changing
  // most crosses the branch instead.
  const int most = ChangingParam(s1, s2, a, b, true);
  for (int k = 0; k < 4; ++k) r[k] = q[k];
  if (most != held && PullWithParamHeld(s1, s2, r, most, P, tol) && within(r) && sameWay(r)) {
    for (int k = 0; k < 4; ++k) q[k] = r[k];
    return true;
  }
  return false;
}

// A new node after `after` (before the head when null) with the point and parameters; false on
// no memory.
bool InsertNodeAfter(IntersectionTrace* t, IntersectionTraceNode* after, const double P[3],
                     const double q[4]) {
  IntersectionTraceNode* n = AppendTraceNode(t, P, q[0], q[1], q[2], q[3]);
  if (!n) return false;
  if (n->prev == after) return true;  // appended where it belongs
  t->tail = n->prev;
  t->tail->next = nullptr;
  n->prev = after;
  n->next = after ? after->next : t->head;
  if (after)
    after->next = n;
  else
    t->head = n;
  n->next->prev = n;
  return true;
}

// True when P lies between the points of nodes from and to along the chord from a to b: a new
// node put in order. A pull may slide along the branch past the interval's end (PullInto keeps
// it only within the interval's box grown by its extent), and a node put there makes the curves
// run out and back. A chord of no length (both ends on a pole) orders nothing.
bool InOrder(const IntersectionTraceNode* a, const IntersectionTraceNode* b, const IntersectionTraceNode* from,
             const IntersectionTraceNode* to, const double P[3]) {
  const double d[3] = {b->x - a->x, b->y - a->y, b->z - a->z};
  const double l2 = VecDotProd3(d, d);
  if (!(l2 > 0.0)) return true;
  const double F[3] = {from->x, from->y, from->z}, T[3] = {to->x, to->y, to->z};
  double ahead[3], left[3];
  VecDiff3(P, F, ahead);
  VecDiff3(T, P, left);
  return VecDotProd3(ahead, d) > 0.0 && VecDotProd3(left, d) > 0.0;
}

// The point (u, v) of the parameter-plane interpolant c at t: the window sum over its basis row
// there, the point evaluation's own steps without the checks it runs on a record it has not seen
// (the fit made c, and measures its intervals at thousands of points).
void InterpolantAt(const Bspline* c, double t, double uv[3]) {
  static const int d0[1] = {0};
  double row[kMaxSplineDegree + 1];
  int span = c->degreeU;
  ComputeNubValDerivativesM(c->knotsU, t, NumKnotsU(c), c->degreeU, d0, 1, &span, row);
  EvalPointOnBspline(c, row, nullptr, span, 0, uv);
}

// The parameters of the interpolants c1 and c2 at the fraction f of interval i (knots k1, k2
// from the first node's), into q (u1, v1, u2, v2).
void CurvesAt(const Bspline* c1, const Bspline* c2, const double* k1, const double* k2, int i,
              double f, double q[4]) {
  double pa[3], pb[3];
  InterpolantAt(c1, k1[i] + f * (k1[i + 1] - k1[i]), pa);
  InterpolantAt(c2, k2[i] + f * (k2[i + 1] - k2[i]), pb);
  q[0] = pa[0], q[1] = pa[1], q[2] = pb[0], q[3] = pb[1];
}

// Where the normals of the surfaces are within a sine s of parallel, the surfaces part only by
// about s times a slide across the branch, so a point within e of the other surface may lie e / s
// off the branch, and two branches running side by side (nearly tangent surfaces) may be that
// close. Below kAcrossSine a distance from the other surface is counted as kAcrossSine / s times
// itself: a curve held within kMiddleShare of the tolerance so counted lies within the tolerance
// of the branch. Below kLeastAcrossSine the surfaces part too slowly to place a branch across by
// their distance: they touch within the tolerance there (a tangential contact, a crossing of two
// branches, two branches closer than the tolerance allows to tell apart), and the distance counts
// as it is; a touching is placed along the branch, not across it. Above it the round-off of a
// distance, weighted, stays far below the tolerance.
const double kAcrossSine = 0.1;
const double kLeastAcrossSine = 1e-3;

// The weight of a distance from the other surface where the unit normals are n1 and n2.
double AcrossWeight(const double n1[3], const double n2[3]) {
  double c[3];
  const double sine = VecSize3(VecCrossProd3(n1, n2, c));
  return sine < kLeastAcrossSine ? 1.0 : kAcrossSine / std::fmin(kAcrossSine, sine);
}

// True when node n's gap between the surfaces, over the sine of their normals' angle there (how
// far across the branch the node may lie), is within reach.
bool ResolvedAcross(Bspline* s1, Bspline* s2, const IntersectionTraceNode* n, double reach) {
  double q[4], P1[3], P2[3], n1[3], n2[3], t[3];
  NodeParams(n, q);
  if (!PointAndNormal(s1, q[0], q[1], P1, n1) || !PointAndNormal(s2, q[2], q[3], P2, n2)) return false;
  VecCrossProd3(n1, n2, t);
  return VecDist3(P1, P2) <= reach * VecSize3(t);
}

// How far the curves' points at q (u1, v1 on s1; u2, v2 on s2) lie from the other surface: the
// pair pulled onto both surfaces at X (its parameters into r), each point measured against the
// other surface's tangent plane at X. The two points lie a little apart along the branch (the
// curves' chord lengths differ), and the plane stands for the surface to the square of that
// slide times the curvature: far below the tolerance where the nodes are close enough for the
// distance to matter. Where both of the interval's nodes lie on the branch to within kAcrossShare
// of kMiddleShare of tol across it, the distance is weighted by AcrossWeight, so that it stands
// for the distance from the branch. HUGE_VAL when the pair cannot be pulled on.
double Departure(Bspline* s1, Bspline* s2, const double q[4], double tol, double r[4], double X[3],
                 const IntersectionTraceNode* a, const IntersectionTraceNode* b) {
  double P1[3], P2[3], Y[3], n1[3], n2[3], d1[3], d2[3];
  for (int k = 0; k < 4; ++k) r[k] = q[k];
  Eval3DPointOnSurfCoord(s1, q[0], q[1], 0, 0, P1);
  Eval3DPointOnSurfCoord(s2, q[2], q[3], 0, 0, P2);
  if (!PullInto(s1, s2, r, X, kPullShare * tol, a, b) || !PointAndNormal(s1, r[0], r[1], X, n1) ||
      !PointAndNormal(s2, r[2], r[3], Y, n2))
    return HUGE_VAL;
  VecDiff3(P1, Y, d1);
  VecDiff3(P2, X, d2);
  const double gap = std::fmax(std::fabs(VecDotProd3(n2, d1)), std::fabs(VecDotProd3(n1, d2)));
  // Nodes that only meet both surfaces within tol (arcs ending where the surfaces miss crossing by
  // less than tol) lie loosely across the branch, and a weighted gap would pull the curve toward a
  // branch they do not follow.
  const double reach = kAcrossShare * kMiddleShare * tol;
  if (!ResolvedAcross(s1, s2, a, reach) || !ResolvedAcross(s1, s2, b, reach)) return gap;
  return gap * AcrossWeight(n1, n2);
}

// Where the surfaces cross twice across a band narrower than the nodes' spacing, a cubic through
// nodes on one crossing may bow across the band to its middle, where the normals are parallel:
// no contact within tol is located there (the surfaces miss by more) and a pull from there
// swings anywhere. The nodes' own parameters at the fraction f of the interval lie beside the
// crossing they follow: pulled from there into the interval (PullInto), into q and P.
bool CutFromNodes(Bspline* s1, Bspline* s2, const IntersectionTraceNode* a, const IntersectionTraceNode* b,
                  double f, double tol, double q[4], double P[3]) {
  double qa[4], qb[4], r[4];
  NodeParams(a, qa);
  NodeParams(b, qb);
  for (int k = 0; k < 4; ++k) r[k] = qa[k] + f * (qb[k] - qa[k]);
  if (!PullInto(s1, s2, r, P, kPullShare * tol, a, b)) return false;
  for (int k = 0; k < 4; ++k) q[k] = r[k];
  return true;
}

// A near miss located within tol (LocateContactInPlane) has the gap between the surfaces' points
// within tol, and only that: one surface's point may lie anywhere across the contact where that
// gap holds, tol beside the other's. Located again from there with the gap held to the miss along
// the normal and kPullShare of tol beyond it, the points part along the tangent plane by the square
// root of twice that share times the miss at most, far within the tolerance. r (the parameters),
// X and Y (the points on s1 and s2) and their unit normals n1 and n2 are moved there; false (all
// as given) when that location is not found, moves a point by more than twice tol, or leaves the
// box of the interval between nodes a and b (WithinInterval).
bool TightenNearMiss(Bspline* s1, Bspline* s2, const double P1[3], const double t[3], double tol, double r[4],
                     double X[3], double Y[3], double n1[3], double n2[3], const IntersectionTraceNode* a,
                     const IntersectionTraceNode* b) {
  double g[3], q[4] = {r[0], r[1], r[2], r[3]}, X2[3], Y2[3], m1[3], m2[3];
  VecDiff3(Y, X, g);
  const double miss = std::fabs(VecDotProd3(g, n1));
  if (!LocateContactInPlane(s1, s2, q, P1, t, miss + kPullShare * tol, X2) ||
      !PointAndNormal(s1, q[0], q[1], X2, m1) || !PointAndNormal(s2, q[2], q[3], Y2, m2) ||
      VecDist3(X2, X) > 2.0 * tol || VecDist3(Y2, Y) > 2.0 * tol || !WithinInterval(s1, s2, q, a, b))
    return false;
  for (int k = 0; k < 4; ++k) r[k] = q[k];
  for (int k = 0; k < 3; ++k) X[k] = X2[k], Y[k] = Y2[k], n1[k] = m1[k], n2[k] = m2[k];
  return true;
}

// Along a tangential contact the surfaces part only with the square of a slide across it, so a
// point's distance from the other surface tells little of how far it lies from the contact, and
// a pull onto both surfaces may slide along the contact past the interval's ends. There the
// curves' point at q (u1, v1 on s1) is located on the contact in the plane through it normal to
// the chord of nodes a and b (its parameters into r, its point into X), and measured from it.
// HUGE_VAL when no contact is found there.
double ContactDeparture(Bspline* s1, Bspline* s2, const double q[4], double tol, double r[4], double X[3],
                        const IntersectionTraceNode* a, const IntersectionTraceNode* b) {
  double t[3] = {b->x - a->x, b->y - a->y, b->z - a->z}, P1[3], P2[3];
  const double len = VecSize3(t);
  if (!(len > 0.0)) return HUGE_VAL;
  for (double& x : t) x /= len;
  for (int k = 0; k < 4; ++k) r[k] = q[k];
  Eval3DPointOnSurfCoord(s1, q[0], q[1], 0, 0, P1);
  Eval3DPointOnSurfCoord(s2, q[2], q[3], 0, 0, P2);
  if (LocateContactInPlane(s1, s2, r, P1, t, kPullShare * tol, X)) return std::fmax(VecDist3(P1, X), VecDist3(P2, X));
  // Surfaces that pass within tol of each other without meeting (a near miss) are located on
  // the contact only within tol, loosely across it, where they part with the square of the
  // slide: each curve's point is measured from the other surface's tangent plane there instead,
  // less the surfaces' own miss at the contact, which no node placement changes.
  double Y[3], n1[3], n2[3], d1[3], d2[3], m[3];
  if (!LocateContactInPlane(s1, s2, r, P1, t, tol, X) || !PointAndNormal(s1, r[0], r[1], X, n1) ||
      !PointAndNormal(s2, r[2], r[3], Y, n2))
    return HUGE_VAL;
  // Beside a pole the location may swing round it, outside the interval: no cut is put there.
  if (!WithinInterval(s1, s2, r, a, b)) return HUGE_VAL;
  const bool tight = TightenNearMiss(s1, s2, P1, t, tol, r, X, Y, n1, n2, a, b);
  VecDiff3(P1, Y, d1);
  VecDiff3(P2, X, d2);
  VecDiff3(X, Y, m);
  double e = std::fmax(0.0, std::fmax(std::fabs(VecDotProd3(n2, d1)), std::fabs(VecDotProd3(n1, d2))) - VecSize3(m));
  // Located tightly, the contact also places the curves across it: each curve's point is measured
  // from its surface's point of the contact across the chord, in its own tangent plane.
  double c[3];
  VecCrossProd3(n1, t, c);
  const double lc = VecSize3(c);
  if (tight && lc > 0.0) {
    double e1[3], e2[3];
    VecDiff3(P1, X, e1);
    VecDiff3(P2, Y, e2);
    e = std::fmax(e, std::fmax(std::fabs(VecDotProd3(e1, c)), std::fabs(VecDotProd3(e2, c))) / lc);
  }
  return e;
}

// The parameter of s at (u, v) along a side it collapses to a pole (0 u, 1 v: the one whose
// partial vanishes against the other by PoleShare), or -1 off any pole.
int AlongPole(const Bspline* s, double u, double v) {
  double jet[3][3];
  if (SurfaceJet(s, u, v, jet) != 0) return -1;
  const double lu = VecSize3(jet[1]), lv = VecSize3(jet[2]), share = PoleShare(s, jet[0]);
  return lu <= share * lv ? 0 : lv <= share * lu ? 1 : -1;
}

// The parameter across the side a node lies on where either surface collapses it to a pole (the
// one whose partial does not vanish; 0..3 as in q), or -1. A free pull from a pole swings along
// it, anywhere (to the other pole of a sphere); one with that parameter held stays on the pole.
int AcrossPole(const Bspline* s1, const Bspline* s2, const double q[4]) {
  for (int k = 0; k < 2; ++k) {
    const int along = AlongPole(k ? s2 : s1, q[2 * k], q[2 * k + 1]);
    if (along >= 0) return 2 * k + 1 - along;
  }
  return -1;
}

// An end of a branch on an edge that the surface collapses to a point (a pole) has any value of
// the parameter along that edge; the tracer leaves the one it met there (a pull onto the pole
// swings it anywhere), and the curves would then run along the pole in the parameter plane and
// swing off the surfaces. Each end node's parameter along such an edge (the surface's partial
// in it vanishing against the other by PoleShare) takes the value of its neighbour: the curve comes
// straight into the pole. True when a value changed.
bool ComeStraightIntoPoles(const Bspline* s1, const Bspline* s2, IntersectionTrace* t) {
  if (t->nodeCount < 2) return false;
  bool changed = false;
  IntersectionTraceNode* ends[2][2] = {{t->head, t->head->next}, {t->tail, t->tail->prev}};
  for (auto& e : ends) {
    IntersectionTraceNode* n = e[0];
    const IntersectionTraceNode* m = e[1];
    double* q[2][2] = {{&n->u1, &n->v1}, {&n->u2, &n->v2}};
    const double r[2][2] = {{m->u1, m->v1}, {m->u2, m->v2}};
    for (int k = 0; k < 2; ++k) {
      const int along = AlongPole(k ? s2 : s1, *q[k][0], *q[k][1]);
      if (along >= 0 && *q[k][along] != r[k][along]) {
        *q[k][along] = r[k][along];
        changed = true;
      }
    }
  }
  return changed;
}

// An end of a branch that stopped within tol of a pole, its parameter across the collapsed edge
// short of the edge by round-off of the march (a pole in the placement's round-off), is no pole
// to ComeStraightIntoPoles: its partials do not vanish there. Such an end node is put on the
// edge (the point moves by tol at most) where the pole lies on the other surface within
// kNodeShare of tol (PoleOffOther), so that its parameter along the edge comes from its
// neighbour too. So is a loop's end (the loop closed on a seam beside the pole) within
// kPoleEndReach of tol of a pole that lies on the branch: the march crawls round the pole within
// its slack, each node on a meridian of its own, and the loop's two ends, their meridians swung
// apart (one pulled round the pole), made its curves swing round the pole off the surfaces. It is
// pulled onto both surfaces with the parameter across the side held on the pole, and moved only
// where that lands on the pole: the point on the other surface moves with it, as the fit's pull of
// the node would refuse a move longer than half its interval. An open trace's end keeps to tol:
// one put on a pole the march stopped short of, beside the branch, moves the branch's end.
const double kPoleEndReach = 4.0;

// How far the pole E of surface k (0 s1, 1 s2) lies from the other surface's tangent plane at
// node n: the gap node n would keep put on the pole, which no pull with its parameter held there
// closes. A plane passing a small sphere's pole about a tolerance off crosses its seam beside the
// pole, where a march ends within tol of it: put on the pole, that end and the curves into it
// lie as far off the plane. 0 (nothing to tell) where the other surface has no tangent plane.
double PoleOffOther(const Bspline* s1, const Bspline* s2, const IntersectionTraceNode* n, int k, const double E[3]) {
  double P[3], m[3], d[3];
  if (!(k ? PointAndNormal(s1, n->u1, n->v1, P, m) : PointAndNormal(s2, n->u2, n->v2, P, m))) return 0.0;
  VecDiff3(E, P, d);
  return std::fabs(VecDotProd3(d, m));
}

void OntoNearbyPoles(Bspline* s1, Bspline* s2, IntersectionTrace* t, double tol) {
  if (t->nodeCount < 2) return;
  static const int du[3] = {0, 1, 0}, dv[3] = {0, 0, 1};
  for (IntersectionTraceNode* n : {t->head, t->tail}) {
    double* q[2][2] = {{&n->u1, &n->v1}, {&n->u2, &n->v2}};
    for (int k = 0; k < 2; ++k) {
      const Bspline* s = k ? s2 : s1;
      double at[3][3];
      if (EvalPointOnGeometryM(s, *q[k][0], *q[k][1], du, dv, 3, 0, at) != 0) continue;
      for (int d = 0; d < 2; ++d) {
        const double ends[2] = {d ? s->knotsV[s->degreeV] : s->knotsU[s->degreeU],
                                d ? s->knotsV[NumCtrlV(s)] : s->knotsU[NumCtrlU(s)]};
        for (double e : ends) {
          double p[2] = {*q[k][0], *q[k][1]}, jet[3][3];
          if (p[d] == e) continue;
          p[d] = e;
          if (EvalPointOnGeometryM(s, p[0], p[1], du, dv, 3, 0, jet) != 0 || !AtAPole(s, jet)) continue;
          const double move = VecDist3(jet[0], at[0]);
          if (move <= tol) {
            if (PoleOffOther(s1, s2, n, k, jet[0]) <= kNodeShare * tol) *q[k][d] = e;
            continue;
          }
          double r[4], P[3];
          NodeParams(n, r);
          r[2 * k + d] = e;
          if (t->open || move > kPoleEndReach * tol || !PullWithParamHeld(s1, s2, r, 2 * k + d, P, kPullShare * tol) ||
              VecDist3(P, jet[0]) > kNodeShare * tol)
            continue;
          n->u1 = r[0], n->v1 = r[1], n->u2 = r[2], n->v2 = r[3];
          n->x = P[0], n->y = P[1], n->z = P[2];
        }
      }
    }
  }
}

// A march into a pole crawls into it in ever shorter steps, and its last nodes, within the
// tolerance of the pole on the surface that has it, take any parameter along the collapsed side
// (a node tol from a sphere's pole and tol off the branch may lie in any direction round it): the
// parameter round the pole swings over much of its range across them, and the curves through them
// bulge off the surfaces between them by far more than the nodes lie off. Nodes beside an end on a
// pole of either surface whose points on that surface lie within reach of the pole are dropped:
// the end stands for them, and its parameter along the side comes from the first node off it
// (ComeStraightIntoPoles). The other end stays.
void DropNodesPiledOnPoles(const Bspline* s1, const Bspline* s2, IntersectionTrace* t, double reach) {
  for (int end = 0; end < 2 && t->nodeCount > 2; ++end) {
    IntersectionTraceNode* e = end ? t->tail : t->head;
    int k = 0;
    while (k < 2 && AlongPole(k ? s2 : s1, k ? e->u2 : e->u1, k ? e->v2 : e->v1) < 0) ++k;
    if (k == 2) continue;
    const Bspline* s = k ? s2 : s1;
    double E[3], X[3];
    Eval3DPointOnSurfCoord(s, k ? e->u2 : e->u1, k ? e->v2 : e->v1, 0, 0, E);
    for (IntersectionTraceNode* n = end ? e->prev : e->next; n && t->nodeCount > 2;) {
      IntersectionTraceNode* beyond = end ? n->prev : n->next;
      Eval3DPointOnSurfCoord(s, k ? n->u2 : n->u1, k ? n->v2 : n->v1, 0, 0, X);
      if (!beyond || VecDist3(X, E) > reach) break;
      n->prev->next = n->next;
      n->next->prev = n->prev;
      if (t->turn == n) t->turn = nullptr;
      Free(n);
      --t->nodeCount;
      n = beyond;
    }
  }
}

// The interpolation merges points of a parameter plane closer than 1e-5 of the points' size (the
// longest side of their box) in either coordinate: nodes that close to the node before them in
// either plane (a march converging on a singular point or a pole in ever shorter steps, cuts
// pulled onto the same pole) are dropped first, so that the interpolants keep a node for each
// point they are given. The end nodes stay (the one before the last goes instead). Relative to
// the plane's own extent, as the interpolation's: a loop a few tolerances across on a large
// surface spans a few millionths of its parameters, all of it within any fixed distance.
const double kCrowded = 2e-5;

// The box of a trace's nodes' parameters (u1, v1, u2, v2), grown node by node: the fit grows it
// by each cut it puts in instead of going over the whole trace again.
struct ParamBox {
  double lo[4] = {HUGE_VAL, HUGE_VAL, HUGE_VAL, HUGE_VAL}, hi[4] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
  void Grow(const double q[4]) {
    for (int k = 0; k < 4; ++k) lo[k] = std::fmin(lo[k], q[k]), hi[k] = std::fmax(hi[k], q[k]);
  }
  // The longest side in each parameter plane (of a box grown by at least one node).
  void Sizes(double size[2]) const {
    for (int p = 0; p < 2; ++p) size[p] = std::fmax(hi[2 * p] - lo[2 * p], hi[2 * p + 1] - lo[2 * p + 1]);
  }
};

ParamBox BoxOfNodes(const IntersectionTrace* t) {
  ParamBox box;
  for (const IntersectionTraceNode* n = t->head; n; n = n->next) {
    double q[4];
    NodeParams(n, q);
    box.Grow(q);
  }
  return box;
}

// The longest side of the box of the trace's nodes in each parameter plane.
void PlaneSizes(const IntersectionTrace* t, double size[2]) {
  if (t->head)
    BoxOfNodes(t).Sizes(size);
  else
    size[0] = size[1] = 0.0;
}

// True when parameter sets qa and qb (u1, v1, u2, v2) lie within kCrowded of each other in
// either plane, relative to the plane's size.
bool Crowded(const double qa[4], const double qb[4], const double size[2]) {
  return std::hypot(qa[0] - qb[0], qa[1] - qb[1]) <= kCrowded * size[0] ||
         std::hypot(qa[2] - qb[2], qa[3] - qb[3]) <= kCrowded * size[1];
}

void DropCrowdedNodes(IntersectionTrace* t) {
  double size[2];
  PlaneSizes(t, size);
  auto crowded = [&size](const IntersectionTraceNode* a, const IntersectionTraceNode* b) {
    double qa[4], qb[4];
    NodeParams(a, qa);
    NodeParams(b, qb);
    return Crowded(qa, qb, size);
  };
  IntersectionTraceNode* keep = t->head;
  for (IntersectionTraceNode* n = keep ? keep->next : nullptr; n && t->nodeCount > 2;) {
    IntersectionTraceNode* next = n->next;
    IntersectionTraceNode* drop = nullptr;
    if (crowded(keep, n)) drop = next || keep == t->head ? (next ? n : nullptr) : keep;
    if (!drop) {
      keep = n;
      n = next;
      continue;
    }
    if (drop == keep) keep = keep->prev;
    drop->prev->next = drop->next;
    if (drop->next) drop->next->prev = drop->prev;
    else t->tail = drop->prev;
    if (t->turn == drop) t->turn = nullptr;
    Free(drop);
    --t->nodeCount;
    if (drop == n) n = next;
  }
}

// A parameter of a closed direction that changes by more than this share of its range between
// two nodes has crossed the seam there: the march never steps that far in one go.
const double kSeamJump = 0.5;

// The parameter (0..3 as in q) whose closed direction the interval from a to b crosses the seam
// of, or -1.
int SeamCrossed(const Bspline* s1, const Bspline* s2, const IntersectionTraceNode* a, const IntersectionTraceNode* b) {
  double qa[4], qb[4];
  NodeParams(a, qa);
  NodeParams(b, qb);
  for (int k = 0; k < 4; ++k) {
    const Bspline* s = k < 2 ? s1 : s2;
    if (!(k & 1 ? s->closedV : s->closedU)) continue;
    const double range = k & 1 ? s->knotsV[NumCtrlV(s)] - s->knotsV[s->degreeV] : s->knotsU[NumCtrlU(s)] - s->knotsU[s->degreeU];
    if (std::fabs(qa[k] - qb[k]) <= kSeamJump * range) continue;
    // A node on a pole that k runs round has any value of k there: its jump crosses no seam.
    const int c = k & 2;
    if (AlongPole(s, qa[c], qa[c + 1]) == (k & 1) || AlongPole(s, qb[c], qb[c + 1]) == (k & 1)) continue;
    return k;
  }
  return -1;
}

// The point where the branch crosses the seam of parameter k between nodes a and b, as a pair
// of parameter sets: ea at the seam's end on a's side, eb the same point at the other end. The
// crossing is guessed along the chord with k run on across the seam, then pulled onto both
// surfaces with k held on the seam. False when the pull does not meet.
bool SeamCrossing(Bspline* s1, Bspline* s2, const IntersectionTraceNode* a, const IntersectionTraceNode* b,
                  int k, double tol, double ea[4], double eb[4], double P[3]) {
  const Bspline* s = k < 2 ? s1 : s2;
  const double lo = k & 1 ? s->knotsV[s->degreeV] : s->knotsU[s->degreeU];
  const double hi = k & 1 ? s->knotsV[NumCtrlV(s)] : s->knotsU[NumCtrlU(s)];
  double qa[4], qb[4];
  NodeParams(a, qa);
  NodeParams(b, qb);
  const bool aLow = qa[k] - lo <= hi - qa[k];
  const double da = aLow ? qa[k] - lo : hi - qa[k], db = aLow ? hi - qb[k] : qb[k] - lo;
  const double f = da + db > 0.0 ? da / (da + db) : 0.5;
  for (int c = 0; c < 4; ++c) ea[c] = qa[c] + f * (qb[c] - qa[c]);
  ea[k] = aLow ? lo : hi;
  if (!PullWithParamHeld(s1, s2, ea, k, P, tol)) return false;
  for (int c = 0; c < 4; ++c) eb[c] = ea[c];
  eb[k] = aLow ? hi : lo;
  return true;
}

// The two points where the branch between nodes a and b, on the same side of the seam of the
// closed parameter k, dips across it and back, or leaves the domain across a side of an open
// parameter k and comes back (both nodes off the seam or side, nearer it than half the interval's
// extent in their plane): x[0] and x[1] in order from a, with k on the seam or side at a's end,
// their points in X. Each is a pull with k held on the seam from points of the chord (down
// to a 32nd of it from either node: a crossing may lie that close to one), kept when it lies
// between a and b (apart from both) and within their box grown by that extent. False when two
// distinct such points are not found (the branch stays on its side, or only touches the seam).
bool DipAcrossSeam(Bspline* s1, Bspline* s2, const IntersectionTraceNode* a, const IntersectionTraceNode* b,
                   int k, double tol, double x[2][4], double X[2][3]) {
  const Bspline* s = k < 2 ? s1 : s2;
  const double lo = k & 1 ? s->knotsV[s->degreeV] : s->knotsU[s->degreeU];
  const double hi = k & 1 ? s->knotsV[NumCtrlV(s)] : s->knotsU[NumCtrlU(s)];
  double qa[4], qb[4];
  NodeParams(a, qa);
  NodeParams(b, qb);
  const int plane = k & 2;
  const double extent = std::fmax(std::fabs(qa[plane] - qb[plane]), std::fabs(qa[plane + 1] - qb[plane + 1]));
  const bool low = qa[k] - lo <= hi - qa[k];
  if (low != (qb[k] - lo <= hi - qb[k])) return false;
  const double seam = low ? lo : hi;
  // A node on the seam crosses it there (or the branch ends there) already.
  const double da = std::fabs(qa[k] - seam), db = std::fabs(qb[k] - seam), off = 1e-9 * (hi - lo);
  if (!(da < 0.5 * extent && db < 0.5 * extent && da > off && db > off)) return false;
  const double d[3] = {b->x - a->x, b->y - a->y, b->z - a->z};
  int found = 0;
  double along[2] = {0.0, 0.0};
  for (double f : {0.5, 0.25, 0.75, 0.125, 0.875, 0.03125, 0.96875}) {
    double q[4], P[3];
    for (int c = 0; c < 4; ++c) q[c] = qa[c] + f * (qb[c] - qa[c]);
    q[k] = seam;
    if (!PullWithParamHeld(s1, s2, q, k, P, tol) || !InOrder(a, b, a, b, P)) continue;
    bool within = true;
    for (int c = 0; c < 4; ++c) {
      const double g = (c & 2) == plane ? extent : std::fmax(std::fabs(qa[c ^ 1] - qb[c ^ 1]), std::fabs(qa[c] - qb[c]));
      within = within && q[c] >= std::fmin(qa[c], qb[c]) - g && q[c] <= std::fmax(qa[c], qb[c]) + g;
    }
    if (!within) continue;
    const double A[3] = {a->x, a->y, a->z}, B[3] = {b->x, b->y, b->z};
    if (VecDist3(P, A) <= 100.0 * tol || VecDist3(P, B) <= 100.0 * tol) continue;  // a node on the seam
    double r[3];
    VecDiff3(P, A, r);
    const double t = VecDotProd3(r, d);
    int i = found;
    if (found > 0 && VecDist3(P, X[0]) <= 100.0 * tol) continue;  // the one already found
    if (found == 2) {
      if (VecDist3(P, X[1]) <= 100.0 * tol) continue;
      return false;  // three crossings: more than a dip
    }
    for (int c = 0; c < 4; ++c) x[i][c] = q[c];
    for (int c = 0; c < 3; ++c) X[i][c] = P[c];
    along[i] = t;
    ++found;
  }
  if (found != 2) return false;
  if (along[1] < along[0]) {
    for (int c = 0; c < 4; ++c) std::swap(x[0][c], x[1][c]);
    for (int c = 0; c < 3; ++c) std::swap(X[0][c], X[1][c]);
  }
  return true;
}

// True when another open trace of the list runs the dip of trace t across the seam of the closed
// parameter k between its crossings X (from DipAcrossSeam, k on the seam at the branch's side
// there): its ends lie on those two points and its inner nodes beyond the seam. Such a dip is
// traced from its own seed, ending on the seam at both crossings; the stretch the march of t
// stepped over is then that trace's, and cut out of t too it would be returned twice.
bool DipTracedApart(const Bspline* s1, const Bspline* s2, const IntersectionTraceList* list,
                    const IntersectionTrace* t, int k, const double x[2][4], const double X[2][3], double tol) {
  const Bspline* s = k < 2 ? s1 : s2;
  const double lo = k & 1 ? s->knotsV[s->degreeV] : s->knotsU[s->degreeU];
  const double hi = k & 1 ? s->knotsV[NumCtrlV(s)] : s->knotsU[NumCtrlU(s)];
  const double near = x[0][k], far = near == lo ? hi : lo;
  for (const IntersectionTrace* u = list->head; u; u = u->next) {
    if (u == t || !u->open || u->nodeCount < 3 || !u->head || !u->tail) continue;
    const double H[3] = {u->head->x, u->head->y, u->head->z}, T[3] = {u->tail->x, u->tail->y, u->tail->z};
    // The tracer refines its ends onto the seam to tol: they lie within a few of it of the crossings.
    if (!(std::fmax(VecDist3(H, X[0]), VecDist3(T, X[1])) <= 100.0 * tol ||
          std::fmax(VecDist3(H, X[1]), VecDist3(T, X[0])) <= 100.0 * tol))
      continue;
    bool beyond = true;
    for (const IntersectionTraceNode* n = u->head->next; n != u->tail && beyond; n = n->next) {
      double q[4];
      NodeParams(n, q);
      beyond = std::fabs(q[k] - far) < std::fabs(q[k] - near);
    }
    if (beyond) return true;
  }
  return false;
}

// A branch leaving a seam at a smaller sine than this of its angle with the seam is taken to run
// along it: its tangent's rate across the seam is then of the order of the normals' round-off.
const double kSeamSideSine = 1e-6;
// A node whose parameter lies within this share of the range of one end of a closed direction's
// seam lies beside that end (the march never steps round a quarter turn but beside a pole).
const double kSeamSideShare = 0.25;

// The end of the seam of closed parameter k (0 u1, 1 v1, 2 u2, 3 v2) that the branch lies beside
// as it runs from node n on that seam toward the point W: 0 the domain's low end, 1 its high end,
// -1 when that is not told (no tangent plane, or the branch runs along the seam). The branch's
// tangent at n (the normals' cross product, turned toward W) resolved into the parameters of k's
// surface: its rate in k points into the domain from that end.
int SeamSideToward(const Bspline* s1, const Bspline* s2, const IntersectionTraceNode* n, int k,
                   const double W[3]) {
  const Bspline* s = k < 2 ? s1 : s2;
  double q[4], P1[3], P2[3], n1[3], n2[3], t[3], jet[3][3], d[3], du = 0.0, dv = 0.0;
  NodeParams(n, q);
  if (!PointAndNormal(s1, q[0], q[1], P1, n1) || !PointAndNormal(s2, q[2], q[3], P2, n2) ||
      SurfaceJet(s, q[k & 2], q[(k & 2) + 1], jet) != 0)
    return -1;
  VecCrossProd3(n1, n2, t);
  const double X[3] = {n->x, n->y, n->z};
  VecDiff3(W, X, d);
  if (VecDotProd3(t, d) < 0.0)
    for (double& x : t) x = -x;
  if (!ResolveInTangentPlane(t, jet[1], jet[2], &du, &dv)) return -1;
  // The rate times the partial along k, against the tangent's length: the sine of the branch's
  // angle with the seam.
  const double rate = k & 1 ? dv : du;
  if (!(std::fabs(rate) * VecSize3(jet[1 + (k & 1)]) > kSeamSideSine * VecSize3(t))) return -1;
  return rate > 0.0 ? 0 : 1;
}

// A loop closed on a node on the seam of a closed parameter (the march came back to where it
// crossed the seam) keeps at both ends the value that node was traced with, and the branch may
// leave it on one side of the seam and come back to it on the other. The interval beside the
// node on the wrong side then runs round the whole domain, and its nodes tell no crossing
// (SeamCrossed) where the neighbour lies on a pole (it has any value there) or half way round
// beside one (the march swings round a pole it passes close by). Where one end's neighbour tells
// its side and the other's does not, and the branch crosses the seam at the node, each end takes
// the end of the seam its branch lies beside and the loop is opened there. The parameter whose
// seam opened it, or -1. tol is the point tolerance.
int OpenLoopOnSeamNode(const Bspline* s1, const Bspline* s2, IntersectionTrace* t, double tol) {
  IntersectionTraceNode *head = t->head, *tail = t->tail;
  if (t->open || t->nodeCount < 4 || !head || !tail || head->u1 != tail->u1 || head->v1 != tail->v1 ||
      head->u2 != tail->u2 || head->v2 != tail->v2)
    return -1;
  double q[4];
  NodeParams(head, q);
  for (int k = 0; k < 4; ++k) {
    const Bspline* s = k < 2 ? s1 : s2;
    if (!(k & 1 ? s->closedV : s->closedU)) continue;
    const double lo = k & 1 ? s->knotsV[s->degreeV] : s->knotsU[s->degreeU];
    const double hi = k & 1 ? s->knotsV[NumCtrlV(s)] : s->knotsU[NumCtrlU(s)];
    if (q[k] != lo && q[k] != hi) continue;
    // A node on a pole that k runs round lies on every meridian, the seam among them; one within
    // kPoleEndReach of tol of such a pole on the branch is put on it (OntoNearbyPoles), each end
    // then coming straight into it from its neighbour.
    if (AlongPole(s, q[k & 2], q[(k & 2) + 1]) == (k & 1)) continue;
    bool besidePole = false;
    for (const double end : {k & 1 ? s->knotsU[s->degreeU] : s->knotsV[s->degreeV],
                             k & 1 ? s->knotsU[NumCtrlU(s)] : s->knotsV[NumCtrlV(s)]}) {
      double p[2] = {q[k & 2], q[(k & 2) + 1]}, E[3], X[3];
      p[(k & 1) ^ 1] = end;
      if (AlongPole(s, p[0], p[1]) != (k & 1)) continue;
      Eval3DPointOnSurfCoord(s, p[0], p[1], 0, 0, E);
      Eval3DPointOnSurfCoord(s, q[k & 2], q[(k & 2) + 1], 0, 0, X);
      besidePole = besidePole || (VecDist3(E, X) <= kPoleEndReach * tol &&
                                   PoleOffOther(s1, s2, head, k >> 1, E) <= kNodeShare * tol);
    }
    if (besidePole) continue;
    // A neighbour off the pole within kSeamSideShare of the range of an end of the seam lies
    // beside that end; one on the pole or farther round (the march swings round a pole it passes
    // close by) tells nothing. Where one end's neighbour tells and the other's does not, the
    // branch's tangent at the node, turned toward the neighbour that tells, must lead to that
    // neighbour's end of the seam (a branch that only touches the seam runs along it there, and
    // its rate across it tells nothing): it crosses the seam at the node, and the other end lies
    // beside the seam's other end.
    auto told = [&](const IntersectionTraceNode* by) {
      double r[4];
      NodeParams(by, r);
      const double f = (r[k] - lo) / (hi - lo);
      const bool far = f >= kSeamSideShare && f <= 1.0 - kSeamSideShare;
      if (far || AlongPole(s, r[k & 2], r[(k & 2) + 1]) == (k & 1)) return -1;
      return f < 0.5 ? 0 : 1;
    };
    const IntersectionTraceNode* by[2] = {head->next, tail->prev};
    const int sides[2] = {told(by[0]), told(by[1])};
    if ((sides[0] < 0) == (sides[1] < 0)) continue;
    const int c = sides[0] < 0 ? 1 : 0;
    const double W[3] = {by[c]->x, by[c]->y, by[c]->z};
    if (SeamSideToward(s1, s2, c ? tail : head, k, W) != sides[c]) continue;
    const int out = c ? 1 - sides[1] : sides[0], back = c ? sides[1] : 1 - sides[0];
    double* v[2][4] = {{&head->u1, &head->v1, &head->u2, &head->v2},
                       {&tail->u1, &tail->v1, &tail->u2, &tail->v2}};
    *v[0][k] = out ? hi : lo;
    *v[1][k] = back ? hi : lo;
    t->open = 1;
    t->directionStart = t->nodeCount;
    return k;
  }
  return -1;
}

// Splits open trace t after node a (not its tail): the nodes after a become a new open trace put
// after t in the list, which the caller's walk then reaches. The new trace, or null on no memory
// (t unchanged).
IntersectionTrace* SplitTraceAfter(IntersectionTraceList* list, IntersectionTrace* t, IntersectionTraceNode* a) {
  IntersectionTrace* rest = MallocIntersectionTrace();
  if (!rest) return nullptr;
  IntersectionTraceNode* b = a->next;
  rest->head = b;
  rest->tail = t->tail;
  rest->open = 1;
  int moved = 0;
  for (IntersectionTraceNode* n = b; n; n = n->next) {
    ++moved;
    if (n == t->turn) t->turn = nullptr;
  }
  rest->nodeCount = moved;
  b->prev = nullptr;
  a->next = nullptr;
  t->tail = a;
  t->nodeCount -= moved;
  rest->next = t->next;
  rest->prev = t;
  if (t->next) t->next->prev = rest;
  else list->tail = rest;
  t->next = rest;
  ++list->count;
  return rest;
}

// The curves are interpolants of the nodes' parameters: between two nodes on either side of a
// closed surface's seam they would run back across the whole domain, off both surfaces. A
// branch (in running order) is cut at each such seam crossing, each side ending on the seam: a
// loop closed on itself is opened there, and an open branch goes on as a new trace put after it
// in the list (which the caller's walk then reaches). A branch that leaves the domain across a
// side between two nodes and comes back is cut so too, each part ending where it meets the side:
// the curves would otherwise run outside the domain, where the surfaces do not meet. A crossing
// whose point cannot be pulled onto both surfaces is left. 0, or -2 on no memory.
int CutAtSeamCrossings(Bspline* s1, Bspline* s2, IntersectionTraceList* list, IntersectionTrace* t, double tol) {
  if (t->nodeCount < 2 || !t->head) return 0;
  if (t->directionStart > 0 && t->directionStart < t->nodeCount) RearrangeIntersectList(t);
  const int opened = OpenLoopOnSeamNode(s1, s2, t, tol);
  const IntersectionTraceNode *head = t->head, *tail = t->tail;
  const bool loop = !t->open && t->nodeCount > 2 && head->u1 == tail->u1 && head->v1 == tail->v1 &&
                    head->u2 == tail->u2 && head->v2 == tail->v2;
  for (IntersectionTraceNode* a = t->head; a && a->next; a = a->next) {
    IntersectionTraceNode* b = a->next;
    int k = SeamCrossed(s1, s2, a, b);
    // An end just put beside the end of the seam its branch lies beside is on that side: its
    // interval's jump in that parameter is the branch passing a pole (half a turn round it).
    if (k >= 0 && k == opened && (a == t->head || b == t->tail)) k = -1;
    // The ends of the two parts: a's at ea (point Pa), b's at eb (point Pb).
    double ea[4], eb[4], Pa[3], Pb[3];
    if (k < 0) {
      // A branch that dips across a seam and back between two nodes gets the four nodes of the
      // two crossings (each on both ends of the seam): the intervals between those jump across
      // it and are cut next. One that leaves the domain across a side and comes back (the march
      // stepped over the stretch outside) is cut between the two crossings, each part ending on
      // the side; so is a dip another trace runs from the seam's far side.
      bool out = false;
      for (int c = 0; c < 4 && !out; ++c) {
        double x[2][4], X[2][3];
        const Bspline* s = c < 2 ? s1 : s2;
        const bool closed = c & 1 ? s->closedV : s->closedU;
        if (!DipAcrossSeam(s1, s2, a, b, c, kPullShare * tol, x, X)) continue;
        if (!closed || DipTracedApart(s1, s2, list, t, c, x, X, tol)) {
          for (int m = 0; m < 4; ++m) ea[m] = x[0][m], eb[m] = x[1][m];
          for (int m = 0; m < 3; ++m) Pa[m] = X[0][m], Pb[m] = X[1][m];
          out = true;
          break;
        }
        const double lo = c & 1 ? s->knotsV[s->degreeV] : s->knotsU[s->degreeU];
        const double hi = c & 1 ? s->knotsV[NumCtrlV(s)] : s->knotsU[NumCtrlU(s)];
        IntersectionTraceNode* after = a;
        for (int j = 0; j < 4; ++j) {
          double q[4];
          for (int m = 0; m < 4; ++m) q[m] = x[j < 2 ? 0 : 1][m];
          if (j == 1 || j == 2) q[c] = q[c] == lo ? hi : lo;
          if (!InsertNodeAfter(t, after, X[j < 2 ? 0 : 1], q)) return -2;
          after = after->next;
        }
        break;
      }
      if (!out) continue;
    } else {
      if (!SeamCrossing(s1, s2, a, b, k, kPullShare * tol, ea, eb, Pa)) continue;
      for (int m = 0; m < 3; ++m) Pb[m] = Pa[m];
    }
    if (loop && !t->open) {
      // The loop's last node repeats its first: that one goes, and the ring is opened between a
      // and b, starting from the seam or side.
      IntersectionTraceNode* first = t->head;
      t->head = first->next;
      t->head->prev = nullptr;
      if (t->turn == first) t->turn = nullptr;
      if (a == first) a = t->tail;
      Free(first);
      --t->nodeCount;
      if (a != t->tail) {
        t->tail->next = t->head;
        t->head->prev = t->tail;
        t->head = b;
        t->tail = a;
        b->prev = nullptr;
        a->next = nullptr;
      }
      t->open = 1;
      if (!InsertNodeAfter(t, nullptr, Pb, eb) || !AppendTraceNode(t, Pa, ea[0], ea[1], ea[2], ea[3])) return -2;
      t->directionStart = t->nodeCount;
      a = t->head;  // the rest of the branch is searched again in its new order
      continue;
    }
    t->open = 1;
    IntersectionTrace* rest = SplitTraceAfter(list, t, a);
    if (!rest) return -2;
    if (!AppendTraceNode(t, Pa, ea[0], ea[1], ea[2], ea[3]) || !InsertNodeAfter(rest, nullptr, Pb, eb)) return -2;
    t->directionStart = t->nodeCount;
    rest->directionStart = rest->nodeCount;
    break;  // the new trace is cut in its own turn
  }
  return 0;
}

// Intervals this many nodes beside a new node are measured again: a node moves a cubic
// interpolant less than a third as much one interval further on.
const int kFitReach = 2;

// An end pulled along its domain's side farther than this many times its gap over the sine of
// the normals' angle (what crossing the branch takes) has slid along the branch: held on a side
// meeting the branch at an angle a, the pull crosses it in 1 / sin a times that, and one moving it
// farther runs along a side meeting the branch at under 24 degrees, the surfaces within the
// tolerance along it (a sphere's seam beside the pole a small loop runs through: an end slid back
// over the loop 2.9 times that).
const double kEndSlide = 2.5;

// The parameter (0 u1, 1 v1, 2 u2, 3 v2) at an end of its surface's domain at q, or -1. An open
// branch ending there leaves the domain (or is cut at a seam) there, and its end is pulled onto
// both surfaces with that parameter held: where the surfaces miss crossing by less than the
// tolerance the normals are parallel, and a free pull slides the end along the branch, away from
// the side it reaches.
int OnDomainSide(const Bspline* s1, const Bspline* s2, const double q[4]) {
  for (int k = 0; k < 4; ++k) {
    const Bspline* s = k < 2 ? s1 : s2;
    const double lo = k & 1 ? s->knotsV[s->degreeV] : s->knotsU[s->degreeU];
    const double hi = k & 1 ? s->knotsV[NumCtrlV(s)] : s->knotsU[NumCtrlU(s)];
    if (q[k] == lo || q[k] == hi) return k;
  }
  return -1;
}

// A branch running beside a closed direction's seam, a fraction of the tolerance off it on the side
// of one end, may be traced on the seam at the other end: the refinement puts a parameter that
// close to an end on it, and every node keeps that end's value. No pull from there reaches the
// branch (the domain holds it on the seam), so the fit can neither measure nor cut an interval and
// the curves keep the tracer's few nodes, off the surfaces between them by far more than the
// tolerance. When the middle node cannot be pulled on from its end, with the other parameter of
// its plane held, but can from the other end, within tol of where it lies, every node takes the
// other end's value: the same points, seen from the side of the seam the branch lies on.
void OntoBranchSideOfSeam(Bspline* s1, Bspline* s2, IntersectionTrace* t, double tol) {
  if (t->nodeCount < 2) return;
  const IntersectionTraceNode* mid = t->head;
  for (int i = 0; i < t->nodeCount / 2; ++i) mid = mid->next;
  double q[4], X[3] = {mid->x, mid->y, mid->z};
  NodeParams(mid, q);
  // A trace of two nodes has no middle node: the middle of its interval stands for one. One from a
  // pole to the seam takes the seam end's value round the pole (ComeStraightIntoPoles) and is no
  // less on the wrong side of the seam: its cuts, pulled onto the branch, land across the seam.
  if (t->nodeCount == 2) {
    double h[4];
    NodeParams(t->head, h);
    for (int c = 0; c < 4; ++c) q[c] = 0.5 * (q[c] + h[c]);
    Eval3DPointOnSurfCoord(s1, q[0], q[1], 0, 0, X);
  }
  if (AcrossPole(s1, s2, q) >= 0) return;
  for (int k = 0; k < 4; ++k) {
    const Bspline* s = k < 2 ? s1 : s2;
    if (!(k & 1 ? s->closedV : s->closedU)) continue;
    const double lo = k & 1 ? s->knotsV[s->degreeV] : s->knotsU[s->degreeU];
    const double hi = k & 1 ? s->knotsV[NumCtrlV(s)] : s->knotsU[NumCtrlU(s)];
    // The tracer's copies of the surfaces may end their domains a round-off apart from these.
    const double end = q[k] - lo <= hi - q[k] ? lo : hi, off = 1e-9 * (hi - lo);
    bool all = true;
    for (const IntersectionTraceNode* n = t->head; n && all; n = n->next) {
      double r[4];
      NodeParams(n, r);
      all = std::fabs(r[k] - end) <= off;
    }
    double r[4] = {q[0], q[1], q[2], q[3]}, P[3];
    r[k] = end;
    if (!all || PullWithParamHeld(s1, s2, r, k ^ 1, P, kPullShare * tol)) continue;
    for (int c = 0; c < 4; ++c) r[c] = q[c];
    const double other = end == lo ? hi : lo;
    r[k] = other;
    if (!PullWithParamHeld(s1, s2, r, k ^ 1, P, kPullShare * tol) || VecDist3(P, X) > tol) continue;
    for (IntersectionTraceNode* n = t->head; n; n = n->next) {
      NodeParams(n, r);
      r[k] = other;
      n->u1 = r[0], n->v1 = r[1], n->u2 = r[2], n->v2 = r[3];
    }
    return;
  }
}

// True when node n lies where the normals part enough to place it across the branch by its gap
// (a sine of at least kLeastAcrossSine) but that gap leaves it too loose across for Departure to
// weigh its intervals (ResolvedAcross). Where a loop turns beside a near crossing, a node ending
// an arc at a seam may be refined only to the tracer's tolerance there: an interval from it across
// the turn, measured unweighted, held while its curves cut the turn by several times tol. Pulled to
// kPullShare of tol such a node lies on the branch closely enough. Where surfaces cross at a
// shallow angle the same holds of any node: intervals beside it measured by the bare distance let
// the curves slide across the branch by that distance over the sine.
bool LooseAcross(Bspline* s1, Bspline* s2, const IntersectionTraceNode* n, double tol) {
  double q[4], P1[3], P2[3], n1[3], n2[3], c[3];
  NodeParams(n, q);
  if (!PointAndNormal(s1, q[0], q[1], P1, n1) || !PointAndNormal(s2, q[2], q[3], P2, n2)) return false;
  return VecSize3(VecCrossProd3(n1, n2, c)) >= kLeastAcrossSine &&
         !ResolvedAcross(s1, s2, n, kAcrossShare * kMiddleShare * tol);
}

// A traced node is refined only to the tracer's tolerance, and one whose pull onto both surfaces
// moved it too far is left as traced (FitTraceToSurfaces), lying about as far beside the branch.
// Beside a pole that slack swings its parameter round the pole off the branch's by the slack over the
// distance from the pole: the curves through it kink and miss the surfaces by more than the node
// does, and each cut of its intervals, pulled onto the branch, lands outside the interval's box
// (PullInto) and is refused. Such a node, between two others, is pulled onto both surfaces within
// the box of the interval between its neighbours, and kept where it stays between them, off any
// pole, and moves less than it lies from either (farther, it has slid along the branch past
// them). Only where the surfaces cross at a steep angle (kStraySine): at a shallow one every
// traced node lies several times its gap beside the branch, its neighbours alike, and one pulled
// on alone leaves the curves zigzagging between it and them. True when the node moved.
const double kStraySine = 0.5;

bool PullStrayNode(Bspline* s1, Bspline* s2, IntersectionTraceNode* n, double tol) {
  if (!n->prev || !n->next) return false;
  double q[4], P1[3], P2[3], n1[3], n2[3], c[3], P[3];
  NodeParams(n, q);
  if (AcrossPole(s1, s2, q) >= 0 || OnDomainSide(s1, s2, q) >= 0) return false;
  if (!PointAndNormal(s1, q[0], q[1], P1, n1) || !PointAndNormal(s2, q[2], q[3], P2, n2) ||
      VecDist3(P1, P2) <= 2.0 * kPullShare * tol || VecSize3(VecCrossProd3(n1, n2, c)) < kStraySine)
    return false;
  if (!PullInto(s1, s2, q, P, kPullShare * tol, n->prev, n->next) || !InOrder(n->prev, n->next, n->prev, n->next, P) ||
      AcrossPole(s1, s2, q) >= 0)
    return false;
  const double X[3] = {n->x, n->y, n->z};
  for (const IntersectionTraceNode* o : {n->prev, n->next}) {
    const double Y[3] = {o->x, o->y, o->z};
    if (VecDist3(P, X) > VecDist3(X, Y)) return false;
  }
  n->u1 = q[0], n->v1 = q[1], n->u2 = q[2], n->v2 = q[3];
  n->x = P[0], n->y = P[1], n->z = P[2];
  return true;
}

// A node pulled on moving farther than half the way to a neighbour is kept where the surfaces cross
// at a sine of at least this and the move is what crossing the branch takes. At a shallower
// crossing every traced node lies several times its gap beside the branch, its neighbours alike,
// and one pulled on alone leaves the curves zigzagging between it and them: a sphere of radius
// 1e-3 of the size sunk 8 tolerances into a torus crosses it at a sine of about 0.24.
const double kAcrossPullSine = 0.3;

// True when node n is an end of the open trace t on a side of the domain with its points more
// than kNodeShare of tol apart.
bool LooseEndOnSide(const Bspline* s1, const Bspline* s2, const IntersectionTrace* t, const IntersectionTraceNode* n,
                    double tol) {
  if (!n || !t->open || (n != t->head && n != t->tail)) return false;
  double q[4], P1[3], P2[3];
  NodeParams(n, q);
  if (OnDomainSide(s1, s2, q) < 0) return false;
  Eval3DPointOnSurfCoord(s1, q[0], q[1], 0, 0, P1);
  Eval3DPointOnSurfCoord(s2, q[2], q[3], 0, 0, P2);
  return VecDist3(P1, P2) > kNodeShare * tol;
}

// True when node n lies more than half of tol off the other surface. Along a tangential contact
// that is the middle of a band where the surfaces cross twice within tol of each other (a sphere a
// few tolerances larger than the cylinder it sits in): a point pulled onto both surfaces from
// there lands on either crossing, as far across the band as its width.
bool MiddleOfBand(Bspline* s1, Bspline* s2, const IntersectionTraceNode* n, double tol) {
  double P1[3], P2[3];
  Eval3DPointOnSurfCoord(s1, n->u1, n->v1, 0, 0, P1);
  Eval3DPointOnSurfCoord(s2, n->u2, n->v2, 0, 0, P2);
  return VecDist3(P1, P2) > 0.5 * tol;
}

// Loose nodes in a row that DropLooseBetweenTight drops: more in a row are a branch the surfaces
// cross at a shallow angle all along, traced loosely throughout.
const int kLooseRun = 2;

// A traced node the pull leaves where it was (it would move farther than half the way to a
// neighbour, at a crossing too shallow for that to be taken for crossing the branch,
// kAcrossPullSine) lies its gap over the normals' sine beside the branch. One or two such nodes in
// a row (kLooseRun) between nodes on both surfaces (within kNodeShare of tol, weighted by
// AcrossWeight) make the curves run out to them and back: beside a small sphere's pole, where the
// march crawls in steps about as long as that slack, the zigzags made a loop some hundred
// tolerances long 2 % too long. They are dropped, and the interval their neighbours then bound is
// measured and cut as any other. Not on a pole or a side of the domain, whose nodes are held
// there.
void DropLooseBetweenTight(Bspline* s1, Bspline* s2, IntersectionTrace* t, double tol) {
  // -1 without normals, 1 when the node lies off the surfaces by more than kNodeShare of tol
  // (weighted) where their normals part, 0 when it lies on them.
  auto loose = [&](const IntersectionTraceNode* n) {
    double q[4], P1[3], P2[3], n1[3], n2[3], c[3];
    NodeParams(n, q);
    if (!PointAndNormal(s1, q[0], q[1], P1, n1) || !PointAndNormal(s2, q[2], q[3], P2, n2)) return -1;
    if (VecDist3(P1, P2) * AcrossWeight(n1, n2) <= kNodeShare * tol) return 0;
    const bool held = AcrossPole(s1, s2, q) >= 0 || OnDomainSide(s1, s2, q) >= 0;
    return held || VecSize3(VecCrossProd3(n1, n2, c)) < kLeastAcrossSine ? -1 : 1;
  };
  for (IntersectionTraceNode* n = t->head ? t->head->next : nullptr; n && n->next;) {
    if (loose(n) != 1 || loose(n->prev) != 0) {
      n = n->next;
      continue;
    }
    IntersectionTraceNode* last = n;
    int run = 1;
    while (run <= kLooseRun && last->next->next && loose(last->next) == 1) last = last->next, ++run;
    IntersectionTraceNode* after = last->next;
    if (run > kLooseRun || loose(after) != 0 || t->nodeCount - run < 2) {
      n = after;
      continue;
    }
    for (IntersectionTraceNode* m = n; m != after;) {
      IntersectionTraceNode* next = m->next;
      m->prev->next = next;
      next->prev = m->prev;
      if (t->turn == m) t->turn = nullptr;
      Free(m);
      --t->nodeCount;
      m = next;
    }
    n = after;
  }
}

// The parameter (0..3 as in q) of node n that lies on a crease of its surface (OnSurfaceCrease),
// or -1: the branch turns there by the angle the faces meet at.
int CreaseParam(Bspline* s1, Bspline* s2, const IntersectionTraceNode* n) {
  double q[4];
  NodeParams(n, q);
  for (int k = 0; k < 4; ++k)
    if (OnSurfaceCrease(k < 2 ? s1 : s2, q[k & 2], q[(k & 2) + 1], k & 1)) return k;
  return -1;
}

// The cubic interpolant of the points (x, y) 0..m by chord length, as CurveIntrplt makes it, with
// a corner at every interior point marked in corner: each run between corners is interpolated
// on its own (Bessel ends, the whole curve's parameters) and the runs are joined there by a knot
// of multiplicity three. A curve of one smooth piece rounds a corner over a few intervals either
// side, off by about a tenth of the spacing of the points times the turn, and the spacing cannot
// shrink below where the interpolation merges points (1e-5 of their size): across the creases of
// a tessellation the curves lay 3e-6 of the size off. Every point is a knot, the corners three
// times. Null where the interpolation fails or merges points of a run, the points then as the
// interpolation left them.
Bspline* InterpolantWithCorners(double* x, double* y, int m, const char* corner) {
  int corners = 0;
  for (int i = 1; i < m; ++i) corners += corner[i] != 0;
  if (corners == 0) {
    Bspline* c = CurveIntrplt(x, y, nullptr, m, nullptr, 3, 0);
    if (c && NumCtrlU(c) != m + 3) {
      FreeBspline(c);
      c = nullptr;
    }
    return c;
  }
  TrackingScope scope;
  double* K = MallocArray<double>(2 * (m + 7));
  if (!K || KernelFailed()) return nullptr;
  double* run = K + m + 7;  // one run's padded parameters
  AssignKnots(x, y, nullptr, m, K);
  const double* t = K + 3;  // the points' parameters
  Owned<Bspline, FreeBspline> c(MallocCurveBspline(2, 3, m + 3 + 2 * corners));
  if (!c) return nullptr;
  double* knots = c->knotsU;
  for (int j = 0; j < 4; ++j) *knots++ = t[0];
  int at = 0;  // the run's first control point in c
  for (int a = 0; a < m;) {
    int b = a + 1;
    while (b < m && !corner[b]) ++b;
    if (!(t[b] > t[a])) return nullptr;
    for (int j = 0; j < 3; ++j) run[j] = t[a], run[b - a + 4 + j] = t[b];
    for (int i = a; i <= b; ++i) run[3 + i - a] = t[i];
    Owned<Bspline, FreeBspline> piece(CurveIntrplt(x + a, y + a, nullptr, b - a, run, 3, 0));
    if (!piece || NumCtrlU(piece.get()) != b - a + 3) return nullptr;
    // The runs share their corner point, the first control point of the later one.
    for (int i = at ? 1 : 0; i < b - a + 3; ++i, ++at) {
      c->X[0][at] = piece->X[0][i];
      c->Y[0][at] = piece->Y[0][i];
    }
    for (int i = a + 1; i < b; ++i) *knots++ = t[i];
    for (int j = 0; j < (b < m ? 3 : 4); ++j) *knots++ = t[b];
    a = b;
  }
  SetDomainFromKnots(c.get(), 0);
  return c.release();
}

// The parameters of c's knots without repeats, into out (count values at most): the points of an
// InterpolantWithCorners. False when c has another count.
bool PointParams(const Bspline* c, double* out, int count) {
  int k = 0;
  for (int i = c->degreeU; i <= NumCtrlU(c); ++i)
    if (i == c->degreeU || c->knotsU[i] != c->knotsU[i - 1]) {
      if (k == count) return false;
      out[k++] = c->knotsU[i];
    }
  return k == count;
}

// Places nodes so that the cubic interpolants TraceCurves makes of the trace (its nodes'
// parameters, interpolated on chord lengths in each parameter plane, with a corner at a node on a
// crease; every node's parameter a knot) lie within tol of both surfaces between the nodes too. Each round
// measures, at the middle of every interval not yet known to hold (and, where that holds, at its
// quarters), the distance of each curve's point from the other surface (Departure; along a
// tangential contact from the contact, ContactDeparture, which also places the cuts). An
// interval missing by e more than kMiddleShare of tol is cut into k = (e / (kMiddleShare tol))^(1/4) equal parts
// (the error of a cubic falls with the fourth power of the spacing), the cuts pulled onto both
// surfaces as new nodes; the next round measures the new intervals and their neighbours. Nodes
// off the surfaces by more than kNodeShare of tol (weighted by AcrossWeight), too loosely across the
// branch for their intervals to be weighed (LooseAcross), or between two others on a side of the
// domain, are pulled on first; along a tangential contact, of the nodes off the surfaces only
// those off by more than tol: the contact may be a band where the surfaces stay within tol of
// each other and cross twice, and a pull would take each node onto whichever crossing lies
// nearer, the curves zigzagging between the two. A branch marched both ways from its seed is put
// in one running order first. 0, or -2 on no memory.
int FitTraceToSurfaces(Bspline* s1, Bspline* s2, IntersectionTrace* t, double tol) {
  if (t->nodeCount < 2 || !t->head) return 0;
  // The fit evaluates the same points of the pair over and over: an interval's nodes at every pull
  // and check of it, a pulled point again for its normal and its pole test.
  RememberedSurfaceJets jets(s1, s2);
  const bool contact = AlongTangentialContact(s1, s2, t);
  if (t->directionStart > 0 && t->directionStart < t->nodeCount) RearrangeIntersectList(t);
  OntoNearbyPoles(s1, s2, t, tol);
  // Nodes refined to tol lie anywhere round a pole within it, and a march limping into a pole
  // beside the branch (its nodes tol off it) swings round the pole over a few times that: a
  // trace from a pole left its first nodes there, up to 4 tol from it, on meridians 0.2 of the
  // range apart, its curves 3e-6 of the size off.
  DropNodesPiledOnPoles(s1, s2, t, kPoleEndReach * tol);
  ComeStraightIntoPoles(s1, s2, t);
  OntoBranchSideOfSeam(s1, s2, t, tol);
  auto pullNode = [&](IntersectionTraceNode* n) {
    double q[4], P1[3], P2[3], P[3];
    NodeParams(n, q);
    // A node between two others that lies on a side of the domain (a seam) marks where the
    // branch touches that side without crossing it (a loop's ends may lie where it crosses one).
    // Refined only to the tracer's tolerance, it may lie anywhere along the stretch where the
    // branch runs within tol of the side, and the curves through it run out past the side and
    // back, their points held on the side, off the branch. A free pull from there is kept on the
    // side by the domain and slides along it toward the touching, where the two part only with
    // the square of the slide: too slowly to meet, so the node stayed loose. It is pulled with
    // its parameter along the side held instead, onto the branch (inside the domain, or on the
    // side at the touching itself). Along a tangential contact the branch may run along the
    // side, and a pull across the contact goes astray.
    const int side =
        !n->prev || !n->next || contact || AcrossPole(s1, s2, q) >= 0 ? -1 : OnDomainSide(s1, s2, q);
    double n1[3], n2[3];
    const bool normals = PointAndNormal(s1, q[0], q[1], P1, n1) && PointAndNormal(s2, q[2], q[3], P2, n2);
    if (VecDist3(P1, P2) * (normals ? AcrossWeight(n1, n2) : 1.0) <= (contact ? 1.0 : kNodeShare) * tol &&
        !LooseAcross(s1, s2, n, tol) && side < 0)
      return;
    int held = side >= 0 ? side ^ 1 : AcrossPole(s1, s2, q);
    // An end on a side of the domain is held there, a closed trace's too: a loop closed across a
    // seam has its two ends on the seam's two ends, and one pulled freely left the seam, its curve
    // stopping short of where the other end's starts (2 degrees of a small sphere's loop left out).
    const bool endOnSide = held < 0 && (n == t->head || n == t->tail);
    if (endOnSide) held = OnDomainSide(s1, s2, q);
    // A node on a crease is where the curves have a corner (InterpolantWithCorners): it stays on it.
    if (held < 0) held = CreaseParam(s1, s2, n);
    if (held >= 0 ? !PullWithParamHeld(s1, s2, q, held, P, kPullShare * tol) : !PullOnto(s1, s2, q, P, kPullShare * tol))
      return;
    // Where the normals are parallel (a branch ending where the surfaces miss crossing by
    // less than tol) the pull's steps are unbounded and may land on another branch: a node
    // carried half way to a neighbour or beyond has left its place and is kept as traced.
    const double X[3] = {n->x, n->y, n->z};
    double room = HUGE_VAL;
    for (const IntersectionTraceNode* m : {n->prev, n->next})
      if (m) {
        const double Y[3] = {m->x, m->y, m->z};
        room = std::fmin(room, 0.5 * VecDist3(X, Y));
      }
    double sine = 0.0;
    if (normals) {
      double c[3];
      sine = VecSize3(VecCrossProd3(n1, n2, c));
    }
    // Crossing the branch moves a node by its gap over the normals' sine. Where the surfaces cross
    // steeply (kAcrossPullSine) a pull that moves it no farther (within kEndSlide) has not left its
    // place however close its neighbours lie: beside a small sphere's pole the march crawls in
    // steps of a fraction of the tolerance, its nodes up to tol beside the branch, and such a node
    // kept as traced between neighbours on the branch made the curves zigzag out to it and back.
    // Not onto a pole, where the pull leaves the parameter round it anywhere; nor beside an open
    // trace's end on a side of the domain that is still off the surfaces: that end may have to
    // stay loose (below), and the curves would bend from the node to it.
    const bool across = sine >= kAcrossPullSine && VecDist3(P, X) * sine <= kEndSlide * VecDist3(P1, P2) &&
                        AcrossPole(s1, s2, q) < 0 && !LooseEndOnSide(s1, s2, t, n->prev, tol) &&
                        !LooseEndOnSide(s1, s2, t, n->next, tol);
    if (VecDist3(P, X) > room && !across) return;
    // An end held on a side the branch runs along (a seam a small loop leaves at a shallow angle,
    // the surfaces within the tolerance all along it) slides along the side to wherever they meet
    // closest, as far as the next place the branch meets the side: the curve then runs back over
    // the branch beyond the end. Crossing the branch moves it by its gap over the normals' sine.
    if (endOnSide && held >= 0 && sine >= kLeastAcrossSine && VecDist3(P, X) * sine > kEndSlide * VecDist3(P1, P2))
      return;
    n->u1 = q[0], n->v1 = q[1], n->u2 = q[2], n->v2 = q[3];
    n->x = P[0], n->y = P[1], n->z = P[2];
  };
  // Whether the node before the tail may be pulled across the branch depends on whether the tail
  // holds (LooseEndOnSide), and the tail comes after it: where the tail was loose and is held
  // now, that node is pulled again.
  const bool tailLoose = LooseEndOnSide(s1, s2, t, t->tail, tol);
  for (IntersectionTraceNode* n = t->head; n; n = n->next) pullNode(n);
  if (tailLoose && t->tail->prev && !LooseEndOnSide(s1, s2, t, t->tail, tol)) pullNode(t->tail->prev);
  if (!contact) DropLooseBetweenTight(s1, s2, t, tol);
  ComeStraightIntoPoles(s1, s2, t);
  TrackingScope scope;  // every round's interpolants and arrays
  Owned<int, Free> measure;  // per interval: 1 to be measured this round; none: all
  for (int round = 0; round < kFitRounds && t->nodeCount < kMaxFitNodes; ++round) {
    const int before = t->nodeCount;
    DropCrowdedNodes(t);
    if (t->nodeCount != before) measure.reset();  // the intervals are numbered anew
    const int n = t->nodeCount;
    // A node put beside a pole end, or the one there dropped, gives the end a new neighbour to
    // come straight from; the end intervals then change and are measured again.
    if (ComeStraightIntoPoles(s1, s2, t) && measure && n > 1) measure[0] = measure[n - 2] = 1;
    Owned<double, Free> a(MallocArray<double>(6, n));
    Owned<int, Free> parts(MallocArray<int>(n - 1));  // pieces each interval is cut into
    Owned<int, Free> stray(CallocArray<int>(n - 1));  // 1 where a node of the interval was pulled on
    Owned<char, Free> corner(CallocArray<char>(n));   // 1 where the branch turns on a crease
    if (!a || !parts || !stray || !corner || KernelFailed()) return -2;
    int i = 0;
    for (IntersectionTraceNode* m = t->head; m && i < n; m = m->next, ++i) {
      a[i] = m->u1;
      a[n + i] = m->v1;
      a[2 * n + i] = m->u2;
      a[3 * n + i] = m->v2;
      corner[i] = CreaseParam(s1, s2, m) >= 0;
    }
    Owned<Bspline, FreeBspline> c1(InterpolantWithCorners(a.get(), a.get() + n, n - 1, corner.get()));
    Owned<Bspline, FreeBspline> c2(InterpolantWithCorners(a.get() + 2 * n, a.get() + 3 * n, n - 1, corner.get()));
    if (KernelFailed()) return -2;
    // Nodes that coincide in a parameter plane are merged by the interpolation: its knots then
    // no longer name the nodes, and the trace is left as it is.
    double* k1 = a.get() + 4 * n;  // the nodes' parameters on the interpolants
    double* k2 = a.get() + 5 * n;
    if (!c1 || !c2 || !PointParams(c1.get(), k1, n) || !PointParams(c2.get(), k2, n)) return 0;
    int added = 0;
    ParamBox box = BoxOfNodes(t);  // grown by each cut put in
    IntersectionTraceNode* m = t->head;
    for (i = 0; i + 1 < n; ++i) {
      IntersectionTraceNode* next = m->next;
      parts[i] = 1;
      double middle[4], X[3], e = 0.0;  // the middle pulled on, used when the interval is halved
      if (!measure || measure[i]) {
        // The curves' distance from the other surface at the fraction f of the interval, the
        // pair pulled on into r and Y.
        auto departure = [&](double f, double r[4], double Y[3]) {
          double q[4];
          CurvesAt(c1.get(), c2.get(), k1, k2, i, f, q);
          const double d = contact ? ContactDeparture(s1, s2, q, tol, r, Y, m, next) : HUGE_VAL;
          return d < HUGE_VAL ? d : Departure(s1, s2, q, tol, r, Y, m, next);
        };
        e = departure(0.5, middle, X);
        // A cubic's error over an interval may change sign near its middle and peak about the
        // quarters, well over what the middle shows: an interval whose middle holds is measured
        // there too. A pull costs several times a look at the curves' points against each
        // other's tangent planes (weighted as Departure weighs it), so only a quarter that look
        // does not clear is measured in full; one that cannot be pulled on is left to the middle.
        const double reach = kAcrossShare * kMiddleShare * tol;
        int across = -1;  // whether both nodes lie on the branch across it, once asked
        for (double f : {0.25, 0.75}) {
          double q[4], P1[3], P2[3], n1[3], n2[3], d[3], r[4], Y[3];
          if (e > kMiddleShare * tol) break;
          CurvesAt(c1.get(), c2.get(), k1, k2, i, f, q);
          if (PointAndNormal(s1, q[0], q[1], P1, n1) && PointAndNormal(s2, q[2], q[3], P2, n2)) {
            VecDiff3(P1, P2, d);
            const double look = std::fmax(std::fabs(VecDotProd3(n1, d)), std::fabs(VecDotProd3(n2, d)));
            if (across < 0) across = ResolvedAcross(s1, s2, m, reach) && ResolvedAcross(s1, s2, next, reach);
            if (look * (across ? AcrossWeight(n1, n2) : 1.0) <= kQuarterShare * tol) continue;
          }
          const double g = departure(f, r, Y);
          if (g > kQuarterShare * tol && g < HUGE_VAL) e = std::fmax(e, g);
        }
        if (e > kMiddleShare * tol) {
          const int k = e < HUGE_VAL ? static_cast<int>(std::ceil(std::sqrt(std::sqrt(e / (kMiddleShare * tol))))) : 2;
          parts[i] = std::min(std::max(k, 2), 16);
        }
      }
      IntersectionTraceNode* after = m;
      int made = 0;
      for (int j = 1; j < parts[i]; ++j) {
        double q[4], P[3];
        if (parts[i] == 2 && e < HUGE_VAL) {
          for (int c = 0; c < 4; ++c) q[c] = middle[c];
          for (int c = 0; c < 3; ++c) P[c] = X[c];
        } else {
          CurvesAt(c1.get(), c2.get(), k1, k2, i, double(j) / parts[i], q);
          double r[4];
          if (contact && ContactDeparture(s1, s2, q, tol, r, P, m, next) < HUGE_VAL) {
            for (int c = 0; c < 4; ++c) q[c] = r[c];
          } else if (contact && MiddleOfBand(s1, s2, m, tol) && MiddleOfBand(s1, s2, next, tol)) {
            // Not located on the contact (a long interval's curves far off it), a cut between
            // nodes held in the band's middle would be pulled onto a crossing: the curves then
            // zigzag across the band (a quarter circle came out 1.7 % long). The interval takes
            // only the cuts located on the contact.
            continue;
          } else if (!PullInto(s1, s2, q, P, kPullShare * tol, m, next)) {
            if (!contact || !CutFromNodes(s1, s2, m, next, double(j) / parts[i], tol, q, P)) continue;
          }
        }
        // A cut crowding a node of the interval would be dropped again at the next round's
        // start, and put back by the round after: the fit would alternate between the two
        // until its rounds ran out, the last cut never measured with the curves it makes.
        double qAfter[4], qNext[4], size[2];
        NodeParams(after, qAfter);
        NodeParams(next, qNext);
        box.Sizes(size);
        auto placed = [&]() {
          return InOrder(m, next, after, next, P) && !Crowded(q, qAfter, size) && !Crowded(q, qNext, size);
        };
        if (!placed()) {
          // Where the branch runs along a seam it touches, the surfaces part only with the square
          // of a slide along it, and a free pull slides toward the touching, past or onto the
          // interval's nodes: the curves' point is pulled again with the parameter that changes
          // most across the interval held. Not on a contact: there the surfaces part with the
          // square of a step across it too, and the held pull lands anywhere in the band. There
          // the cut is taken from the nodes' own parameters instead (CutFromNodes), which lie
          // along the interval: beside a pole, where a surface's parameter round it turns fast,
          // nodes crowding before a long interval into the pole made the interpolants swing out
          // of the interval and back, every cut pulled from them landed behind its first node and
          // was refused round after round, and the curves kept the swing (3.5e-5 of the size off
          // on a shallow loop through a sphere's pole).
          if (contact) {
            if (!CutFromNodes(s1, s2, m, next, double(j) / parts[i], tol, q, P) || !placed()) continue;
          } else {
            const int most = ChangingParam(s1, s2, m, next, true);
            CurvesAt(c1.get(), c2.get(), k1, k2, i, double(j) / parts[i], q);
            if (!PullWithParamHeld(s1, s2, q, most, P, kPullShare * tol) || !WithinInterval(s1, s2, q, m, next) ||
                !placed())
              continue;
          }
        }
        if (!InsertNodeAfter(t, after, P, q)) return -2;
        box.Grow(q);
        after = after->next;
        ++made;
      }
      // An interval that misses but takes no cut has a node to blame: pulled on, it is measured
      // again with its neighbours next round.
      bool pulled = false;
      if (parts[i] > 1 && made == 0 && !contact)
        for (IntersectionTraceNode* end : {m, next}) pulled = PullStrayNode(s1, s2, end, tol) || pulled;
      parts[i] = 1 + made;
      added += made;
      if (pulled) stray[i] = 1, ++added;
      m = next;
    }
    if (added == 0) break;
    // The next round measures the new intervals and those within kFitReach of a new or pulled node.
    const int intervals = t->nodeCount - 1;
    Owned<int, Free> flags(CallocArray<int>(intervals));
    if (!flags || KernelFailed()) return -2;
    int at = 0;
    for (i = 0; i + 1 < n; ++i) {
      if (parts[i] > 1 || stray[i])
        for (int j = std::max(0, at - kFitReach); j < std::min(intervals, at + parts[i] + kFitReach); ++j) flags[j] = 1;
      at += parts[i];
    }
    measure.reset(flags.release());
  }
  return 0;
}

// A trace spanning no more than this many point tolerances about a point other branches pass is
// nodes piled there (on a pole or a corner of seams), no branch of its own.
const double kPiledReach = 4.0;

// A node the fit put on a pole inside an open branch (a cut of an interval that stepped through
// the pole, pulled onto it) has one parameter round the pole, and the branch arrives along one
// meridian and leaves along another, half a turn round: the interpolants, smooth through the node,
// swing round the pole on one side of it or both, off the surfaces by far more than the tolerance
// however close the next nodes come. The branch is cut there (kPoleTurnShare): each part ends on
// the pole, where its end takes its neighbour's meridian (ComeStraightIntoPoles), the second put
// after the first in the list (which the caller's walk then reaches). tol is the point tolerance.
// 1 when cut, 0 when not, -2 on no memory.
// True when the middle of a chord of trace t lies farther than tol from every other trace's
// chords: t runs over a stretch no branch covers, however short (from a seam a few tolerances
// beside a pole into the pole, where the loop's two ends lie on either side of the seam and the
// pole, the stretch's end), and is no pile of nodes on a point of theirs.
bool BridgesUntracedStretch(const Bspline* s1, const Bspline* s2, const IntersectionTraceList* list,
                            const IntersectionTrace* t, double tol) {
  const IntersectionTraceNode* e = t->tail;
  if (!e || (AlongPole(s1, e->u1, e->v1) < 0 && AlongPole(s2, e->u2, e->v2) < 0)) return false;
  for (const IntersectionTraceNode* a = t->head; a && a->next; a = a->next) {
    const IntersectionTraceNode* b = a->next;
    const double M[3] = {0.5 * (a->x + b->x), 0.5 * (a->y + b->y), 0.5 * (a->z + b->z)};
    if (!NearTracedBranch(list, t, M, tol)) return true;
  }
  return false;
}

int CutAtInnerPole(const Bspline* s1, const Bspline* s2, IntersectionTraceList* list, IntersectionTrace* t,
                   double tol) {
  if (!t->open || t->nodeCount < 3 || !t->head) return 0;
  for (IntersectionTraceNode* n = t->head->next; n && n->next; n = n->next) {
    double q[4], qa[4], qb[4];
    NodeParams(n, q);
    const int across = AcrossPole(s1, s2, q);
    if (across < 0) continue;
    // A part within kPiledReach of the pole would be taken for nodes piled on it and dropped
    // (CreateSrfSrfIntersectionCurves): the branch is left whole.
    const double X[3] = {n->x, n->y, n->z};
    double reach[2] = {0.0, 0.0};
    for (int e = 0; e < 2; ++e)
      for (const IntersectionTraceNode* m = e ? n->next : n->prev; m; m = e ? m->next : m->prev) {
        const double Y[3] = {m->x, m->y, m->z};
        reach[e] = std::fmax(reach[e], VecDist3(X, Y));
      }
    if (!(std::fmin(reach[0], reach[1]) > kPiledReach * tol)) continue;
    const int along = across ^ 1;
    const Bspline* s = along < 2 ? s1 : s2;
    const double range = along & 1 ? s->vmax - s->vmin : s->umax - s->umin;
    NodeParams(n->prev, qa);
    NodeParams(n->next, qb);
    double turn = std::fabs(qa[along] - qb[along]);
    if (along & 1 ? s->closedV : s->closedU) turn = std::fmin(turn, range - turn);
    if (!(turn > kPoleTurnShare * range)) continue;
    IntersectionTrace* rest = SplitTraceAfter(list, t, n);
    if (!rest) return -2;
    const double P[3] = {n->x, n->y, n->z};
    if (!InsertNodeAfter(rest, nullptr, P, q)) return -2;
    t->directionStart = t->nodeCount;
    rest->directionStart = rest->nodeCount;
    return 1;
  }
  return 0;
}

// The curve pair of a fitted trace, as CreateIntersectionCurves makes it (each curve put on its
// surface's curve list), with a corner where the branch turns on a crease (InterpolantWithCorners).
// 0, or -2 on failure with no curve made.
int TraceCurves(Bspline* s1, Bspline* s2, const IntersectionTrace* t, Bspline* c[2]) {
  c[0] = c[1] = nullptr;
  const int n = t->nodeCount;
  if (n < 1 || !t->head) return -2;
  TrackingScope scope;
  double* a = MallocArray<double>(4, n);
  char* corner = CallocArray<char>(n);
  if (!a || !corner || KernelFailed()) return -2;
  auto nodes = [&]() {  // again after a failed run, whose nodes the interpolation may have moved
    int i = 0;
    for (const IntersectionTraceNode* m = t->head; m && i < n; m = m->next, ++i)
      a[i] = m->u1, a[n + i] = m->v1, a[2 * n + i] = m->u2, a[3 * n + i] = m->v2;
  };
  nodes();
  int i = 0;
  for (const IntersectionTraceNode* m = t->head; m && i < n; m = m->next, ++i) corner[i] = CreaseParam(s1, s2, m) >= 0;
  Owned<Bspline, FreeBspline> c1, c2;
  if (n > 2) {
    c1.reset(InterpolantWithCorners(a, a + n, n - 1, corner));
    c2.reset(InterpolantWithCorners(a + 2 * n, a + 3 * n, n - 1, corner));
  }
  if (KernelFailed()) return -2;
  // Without a corner, or where merged nodes leave the runs short of one, the curves are as the
  // interpolation of all nodes makes them.
  if (!c1 || !c2) {
    nodes();
    c1.reset(CurveIntrplt(a, a + n, nullptr, n - 1, nullptr, 3, 0));
    c2.reset(CurveIntrplt(a + 2 * n, a + 3 * n, nullptr, n - 1, nullptr, 3, 0));
    if (!c1 || !c2 || KernelFailed()) return -2;
  }
  PutBsplToSurfCrvList(c1.get(), s1);
  if (KernelFailed()) return -2;
  PutBsplToSurfCrvList(c2.get(), s2);
  if (KernelFailed()) return -2;  // c1 leaves s1's list as it is freed
  c[0] = c1.release();
  c[1] = c2.release();
  return 0;
}

// Coordinates beyond this in magnitude square past the double range: the pair's box, the
// subdivision's sizes and its stopping test stop being numbers.
constexpr double kLargestCoordinate = 1e150;

bool CoordinatesMeasurable(const Bspline* s) {
  const int n = NumCtrlU(s) * NumCtrlV(s);
  for (double** m : {s->X, s->Y, s->Z})
    for (int i = 0; i < n; ++i)
      if (!(std::fabs(m[0][i]) <= kLargestCoordinate)) return false;
  return true;
}

}  // namespace

int CreateSrfSrfIntersectionCurves(Bspline* s1, Bspline* s2, BsplineList** out) {
  if (!out) return 0;
  *out = nullptr;
  if (!BsplineSound(s1) || !BsplineSound(s2) || s1->kind != 2 || s2->kind != 2 || s1 == s2) return 0;
  if (!CoordinatesMeasurable(s1) || !CoordinatesMeasurable(s2)) return 0;
  Bspline* pair[2] = {s1, s2};
  int dirs[2] = {0, 0};
  MakeParOfTwoObjProptnl(pair, dirs, 0, 0);
  if (KernelFailed()) return 0;
  Owned<IntersectionTraceList, FreeIntersectionTraceList> list(MallocIntersectionTraceList());
  if (!list) return 0;
  if (NewIntersect(s1, s2, list.get(), 0.01, kCurveTol) == -2) return 0;
  double centre[3], size;
  PairBox(s1, s2, centre, &size);
  BsplineList* result = nullptr;
  IntersectionTrace* t = list->head;
  for (int k = 0; k < list->count && t; ++k, t = t->next) {
    if (t->nodeCount < 1) continue;  // a duplicate left as the sole trace has no point
    if (CutAtSeamCrossings(s1, s2, list.get(), t, kCurveTol * size) != 0) {
      FreeCurvesAndNodes(result);
      return 0;
    }
    // Nodes piled on one point that other branches pass (a pole or a corner of seams where
    // traces end, or what a cut left there) are that point of those branches, no branch; so are
    // nodes a march left round a pole (CrawledRoundAPole).
    if (t->nodeCount > 1 &&
        (TraceSpan(t) <= kPiledReach * kCurveTol * size || CrawledRoundAPole(s1, s2, t, kCurveTol * size))) {
      const double X[3] = {t->head->x, t->head->y, t->head->z};
      if (NearTracedBranch(list.get(), t, X, kPiledReach * kCurveTol * size) &&
          !BridgesUntracedStretch(s1, s2, list.get(), t, kCurveTol * size))
        continue;
    }
    if (FitTraceToSurfaces(s1, s2, t, kCurveTol * size) != 0) {
      FreeCurvesAndNodes(result);
      return 0;
    }
    const int cut = CutAtInnerPole(s1, s2, list.get(), t, kCurveTol * size);
    if (cut < 0 || (cut > 0 && FitTraceToSurfaces(s1, s2, t, kCurveTol * size) != 0)) {
      FreeCurvesAndNodes(result);
      return 0;
    }
    Bspline* c[2] = {nullptr, nullptr};
    if (TraceCurves(s1, s2, t, c) != 0) {
      FreeCurvesAndNodes(result);
      return 0;
    }
    BsplineList *a, *b;
    {
      UntrackedScope own;  // the nodes are the caller's
      a = MallocNullBsplineList();
      b = MallocNullBsplineList();
    }
    if (!a || !b || KernelFailed()) {
      FreeAndNull(a);
      FreeAndNull(b);
      FreeBspline(c[0]);
      FreeBspline(c[1]);
      FreeCurvesAndNodes(result);
      return 0;
    }
    a->item = c[0];
    a->next = b;
    b->item = c[1];
    b->next = result;
    result = a;
  }
  *out = result;
  return 1;
}
