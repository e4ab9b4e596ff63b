#include "curve/crvintr.h"

#include <cmath>

#include "bspline/ctrlnubs.h"
#include "bspline/nubutil.h"
#include "bspline/refines2.h"
#include "curve/crvutil.h"
#include "foundation/geometry.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "intersect/newintr.h"
#include "surface/srfutils.h"

namespace {

// A node of one curve's subdivision tree: Greville parameters first .. first + count - 1.
struct CrvSubdivNode {
  CrvSubdivNode* child[2];
  double box[6];
  int first;
  int count;
  int state;  // -99 not split yet, -1 leaf (one Greville interval)
  int boxReady;
  double t0, t1;
};

// One curve of a CrvIntersect call: Greville parameters and the sample polygon, three points
// per Greville interval (row 3 i + j at g[i] + j (g[i+1] - g[i]) / 3).
struct CurveSide {
  Bspline* curve;
  int n;
  double* g;
  double* px;
  double* py;
  double* pz;
};

void NodeBox(const CurveSide& c, CrvSubdivNode* node) {
  double* b = node->box;
  b[0] = b[1] = b[2] = kEmptyBoxBound;
  b[3] = b[4] = b[5] = -kEmptyBoxBound;
  for (int r = 3 * node->first; r <= 3 * (node->first + node->count - 1); ++r) {
    const double p[3] = {c.px[r], c.py[r], c.pz[r]};
    for (int k = 0; k < 3; ++k) {
      b[k] = std::fmin(b[k], p[k]);
      b[k + 3] = std::fmax(b[k + 3], p[k]);
    }
  }
  NewAddBboxMargins(b);
  node->boxReady = 1;
}

CrvSubdivNode* NewNode(int first, int count, double t0, double t1) {
  CrvSubdivNode* n = CallocArray<CrvSubdivNode>(1);
  if (!n) return nullptr;
  n->first = first;
  n->count = count;
  n->state = -99;
  n->t0 = t0;
  n->t1 = t1;
  return n;
}

// Splits a node once; the children share the middle Greville parameter, and each keeps the
// parent's outer corner, so the children's boxes never leave a gap at the parent's ends.
int SplitNode(const CurveSide& c, CrvSubdivNode* node) {
  if (node->count == 2) {
    node->state = -1;
    return 0;
  }
  if (node->child[0]) return 0;
  const int half = (node->count - 1) / 2, mid = node->first + half;
  node->child[0] = NewNode(node->first, half + 1, node->t0, c.g[mid]);
  node->child[1] = NewNode(mid, node->count - half, c.g[mid], node->t1);
  if (!node->child[0] || !node->child[1]) return -2;
  NodeBox(c, node->child[0]);
  NodeBox(c, node->child[1]);
  for (int k = 0; k < 3; ++k) {
    node->child[0]->box[k] = node->box[k];
    node->child[1]->box[k + 3] = node->box[k + 3];
  }
  return 0;
}

// Corner k of a box: x from the maximum when bit 4 is set, y bit 2, z bit 1.
void Corner(const double* b, int k, double p[3]) {
  p[0] = (k & 4) ? b[3] : b[0];
  p[1] = (k & 2) ? b[4] : b[1];
  p[2] = (k & 1) ? b[5] : b[2];
}

bool SegmentMeetsBox(const double* box, const double* other, int a, int b) {
  double p[3], q[3];
  Corner(other, a, p);
  Corner(other, b, q);
  return IntersectsLineSegBbox(box[0], box[1], box[2], box[3], box[4], box[5], p[0], p[1], p[2], q[0], q[1], q[2]) != 0;
}

// Boxes meet when one of B's twelve edges meets A, or one of three diagonals of A meets B.
bool CrvIntersectBoxes(const CrvSubdivNode* A, const CrvSubdivNode* B) {
  static const int edges[12][2] = {{0, 1}, {2, 3}, {4, 5}, {6, 7}, {0, 4}, {1, 5},
                                   {2, 6}, {3, 7}, {0, 2}, {1, 3}, {4, 6}, {5, 7}};
  for (const auto& e : edges)
    if (SegmentMeetsBox(A->box, B->box, e[0], e[1])) return true;
  static const int diagonals[3][2] = {{0, 7}, {1, 6}, {2, 5}};
  for (const auto& d : diagonals)
    if (SegmentMeetsBox(B->box, A->box, d[0], d[1])) return true;
  return false;
}

// The Greville interval of s, kept when s lies in interval i already.
int GrevilleInterval(const CurveSide& c, double s, int i) {
  if (s >= c.g[i] && s <= c.g[i + 1]) return i;
  if (s < c.g[0]) return 0;
  if (s > c.g[c.n - 1]) return c.n - 2;
  int j = c.n - 2;
  while (j > 0 && c.g[j] > s) --j;
  return j;
}

struct Search {
  CurveSide a, b;
  int** marks;
  CrvIntrList* list;
};

bool AlreadyListed(const CrvIntrList* list, double sA, double sB) {
  if (list->count == 0) return false;
  for (const CrvIntrNode* n = list->first; n; n = n->next)
    if (std::fabs(sA - n->t1) < 0.01 && std::fabs(sB - n->t2) < 0.01) return true;
  return false;
}

int Candidate(Search& s, const CrvSubdivNode* A, const CrvSubdivNode* B) {
  int iA = A->first, iB = B->first;
  if (s.marks[iA][iB]) return 0;
  double sA = 0.5 * (A->t0 + A->t1), sB = 0.5 * (B->t0 + B->t1);
  iA = GrevilleInterval(s.a, sA, iA);
  iB = GrevilleInterval(s.b, sB, iB);
  if (s.marks[iA][iB]) return 0;
  double gapSq = 0.0;
  int r;
  if (s.a.curve->dimension == 2) {
    r = RefineCurve2IntersectionPoint(s.a.curve, s.b.curve, &sA, &sB, &gapSq, 30);
  } else {
    r = RefineCurve3sClosestPoint(s.a.curve, s.b.curve, &sA, &sB, &gapSq, 30);
    // Polylines converge slowly from the middle of a piece: one more round.
    if ((s.a.curve->degreeU == 1 || s.b.curve->degreeU == 1) && gapSq > 1e-14)
      r = RefineCurve3sClosestPoint(s.a.curve, s.b.curve, &sA, &sB, &gapSq, 30);
  }
  if (r == -2 || gapSq > 1e-14) return 0;
  iA = GrevilleInterval(s.a, sA, iA);
  iB = GrevilleInterval(s.b, sB, iB);
  if (AlreadyListed(s.list, sA, sB)) return 0;
  CrvIntrNode* node = s.list->first;
  if (s.list->count > 0) {
    UntrackedScope untracked;  // the list's nodes are the caller's
    node = CallocArray<CrvIntrNode>(1);
    if (!node) return -2;
    node->prev = s.list->last;
    s.list->last->next = node;
    s.list->last = node;
  }
  node->t1 = sA;
  node->t2 = sB;
  ++s.list->count;
  s.marks[iA][iB] = 1;
  return 0;
}

int Subdivide(Search& s, CrvSubdivNode* A, CrvSubdivNode* B) {
  if (!CrvIntersectBoxes(A, B)) return 999;
  if (SplitNode(s.a, A) != 0 || SplitNode(s.b, B) != 0) return -2;
  const bool leafA = A->state == -1, leafB = B->state == -1;
  if (leafA && leafB) return Candidate(s, A, B);
  if (!leafA && !leafB) {
    CrvSubdivNode* pairs[4][2] = {{A->child[0], B->child[0]}, {A->child[1], B->child[1]},
                                  {A->child[0], B->child[1]}, {A->child[1], B->child[0]}};
    for (auto& p : pairs)
      if (Subdivide(s, p[0], p[1]) == -2) return -2;
  } else if (!leafA) {
    for (CrvSubdivNode* c : A->child)
      if (Subdivide(s, c, B) == -2) return -2;
  } else {
    for (CrvSubdivNode* c : B->child)
      if (Subdivide(s, A, c) == -2) return -2;
  }
  return 0;
}

bool MakeSide(Bspline* curve, CurveSide* side) {
  side->curve = curve;
  side->n = NumCtrlU(curve);
  side->g = FindParamValuesOfCoefi(curve, 0);
  const int rows = 3 * side->n - 1;
  double* t = MallocArray<double>(rows);
  side->px = MallocArray<double>(3, rows);
  if (!side->g || !t || !side->px || KernelFailed()) return false;
  side->py = side->px + rows;
  side->pz = side->py + rows;
  for (int i = 0; i + 1 < side->n; ++i)
    for (int j = 0; j < 4; ++j) t[3 * i + j] = side->g[i] + (side->g[i + 1] - side->g[i]) * (1.0 / 3.0) * j;
  EvalNpntsOnObj(curve, 0, 0, t, nullptr, 3 * (side->n - 1) + 1, side->px, side->py, side->pz);
  return true;
}

}  // namespace

int CrvIntersect(Bspline* curve1, Bspline* curve2, CrvIntrList** list, double tol, int checkOverlap) {
  if (checkOverlap && FindIfTwoCurvesOverlap(curve1, curve2, tol) == 1) return 99;
  Search s;
  CrvSubdivNode* roots[2];
  {
    // Scratch of this call: trees, polygons, parameters and marks.
    TrackingScope scope;
    if (!MakeSide(curve1, &s.a) || !MakeSide(curve2, &s.b)) return -2;
    int* marks = CallocArray<int>(s.a.n - 1, s.b.n - 1);
    int** rows = MallocArray<int*>(s.a.n - 1);
    roots[0] = NewNode(0, s.a.n, s.a.g[0], s.a.g[s.a.n - 1]);
    roots[1] = NewNode(0, s.b.n, s.b.g[0], s.b.g[s.b.n - 1]);
    if (!marks || !rows || !roots[0] || !roots[1] || KernelFailed()) return -2;
    for (int i = 0; i + 1 < s.a.n; ++i) rows[i] = marks + i * (s.b.n - 1);
    s.marks = rows;
    {
      // The list outlives the call: the caller's.
      UntrackedScope untracked;
      const bool madeHead = !*list;
      if (madeHead) *list = CallocArray<CrvIntrList>(1);
      CrvIntrNode* node = *list ? CallocArray<CrvIntrNode>(1) : nullptr;
      if (!node) {
        if (madeHead) {
          Free(*list);
          *list = nullptr;
        }
        return -2;
      }
      (*list)->first = (*list)->last = node;
      (*list)->count = 0;
    }
    s.list = *list;
    NodeBox(s.a, roots[0]);
    NodeBox(s.b, roots[1]);
    return Subdivide(s, roots[0], roots[1]) == -2 ? -2 : 0;
  }
}

int FindIfTwoCurvesOverlap(Bspline* curve1, Bspline* curve2, double tol) {
  if (curve1->dimension != curve2->dimension) return 1;
  const double L1 = FindCurve3DLength(curve1), L2 = FindCurve3DLength(curve2);
  const double tolL = tol * std::fmin(L1, L2);
  Bspline* shorter = L2 < L1 ? curve2 : curve1;
  Bspline* longer = L2 < L1 ? curve1 : curve2;
  TrackingScope scope;
  int count = 0;
  Owned<double, Free> t(SampleCurvePlateProper(shorter, 4, &count));
  double* pts = t ? MallocArray<double>(3, count) : nullptr;
  if (!pts || KernelFailed()) return 0;
  for (int i = 0; i < count; ++i) {
    double* q = pts + 3 * i;
    q[0] = q[1] = q[2] = 0.0;
    EvalNpntsOnObj(shorter, 0, 0, t.get() + i, nullptr, 1, q, q + 1, q + 2);
  }
  CurveSampleCache cache;  // kept across the points of this call
  double sum = 0.0;
  for (int i = 0; i < count; ++i) {
    double par, C[3], gap = kEmptyBoxBound, stepSq;  // unmeasured counts as apart
    if (cache.Estimate(longer, pts + 3 * i, &par) != 0) return 0;
    if (longer->dimension == 2)
      FindClosestPointCurveOnSurf(longer, pts + 3 * i, C, longer->umin, longer->umax, &par, &gap, &stepSq, 7);
    else
      FindClosestPointCurve3(longer, pts + 3 * i, C, longer->umin, longer->umax, &par, &gap, &stepSq, 7);
    // The squared distance is the gap compared, as callers' tolerances expect.
    if (gap > 5.0 * tolL) return 0;
    sum += gap;
  }
  return count > 0 && sum / count < tolL ? 1 : 0;
}

double FindCurve3DLength(Bspline* curve) {
  const int p = curve->degreeU, spans = curve->interiorU + 1;
  const double* k = curve->knotsU;
  double prev[3] = {0.0, 0.0, 0.0}, length = 0.0;
  for (int i = 0; i <= 5 * spans; ++i) {
    const int span = i / 5 < spans ? i / 5 : spans - 1;
    const int j = i - 5 * span;
    const double t = k[p + span] + j * 0.2 * (k[p + span + 1] - k[p + span]);
    double P[3] = {0.0, 0.0, 0.0};
    EvalNpntsOnObj(curve, 0, 0, &t, nullptr, 1, P, P + 1, P + 2);
    if (i > 0) length += VecDist3(prev, P);
    prev[0] = P[0];
    prev[1] = P[1];
    prev[2] = P[2];
  }
  return length;
}

int RefineCurve2IntersectionPoint(Bspline* curve1, Bspline* curve2, double* t1, double* t2,
                                  double* gapSq, int maxIter) {
  double f1 = 1.0, f2 = 1.0;
  auto clampStart = [](double& t, const Bspline* c, double& f) {
    if (t > c->umax || t < c->umin) {
      t = t > c->umax ? c->umax : c->umin;
      f = 0.8;
    }
  };
  clampStart(*t1, curve1, f1);
  clampStart(*t2, curve2, f2);
  if (maxIter < 1) return -2;
  const int du[2] = {0, 1}, dv[2] = {0, 0};
  for (int it = 0; it < maxIter; ++it) {
    double A[2][3], B[2][3];
    EvalPointOnGeometryM(curve1, *t1, 0.0, du, dv, 2, 0, A);
    EvalPointOnGeometryM(curve2, *t2, 0.0, du, dv, 2, 0, B);
    const double dx = B[0][0] - A[0][0], dy = B[0][1] - A[0][1];
    const double det = B[1][0] * A[1][1] - B[1][1] * A[1][0];
    *gapSq = dx * dx + dy * dy;
    if (*gapSq < 1e-14) return 0;
    if (std::fabs(det) < 1e-10) return -2;
    *t1 += f1 * (dy * B[1][0] - dx * B[1][1]) / det;
    *t2 += f2 * (dy * A[1][0] - dx * A[1][1]) / det;
    auto clamp = [](double& t, const Bspline* c, double& f) {
      if (t > c->umax || t < c->umin) {
        t = t > c->umax ? c->umax : c->umin;
        f *= 0.8;
      }
    };
    clamp(*t1, curve1, f1);
    clamp(*t2, curve2, f2);
  }
  return -2;
}
