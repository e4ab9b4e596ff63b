#include "stitch/vcnobj.h"

#include <algorithm>
#include <cmath>

#include "bspline/bsvalid.h"
#include "bspline/crvlist.h"
#include "bspline/degelev.h"
#include "bspline/keepshape.h"
#include "bspline/kinsert.h"
#include "bspline/kremove.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "bspline/knots.h"
#include "bspline/nubs.h"
#include "bspline/nubutil.h"
#include "bspline/objjoin.h"
#include "bspline/objset.h"
#include "bspline/subobj.h"
#include "curve/crvutil.h"
#include "foundation/coreglob.h"
#include "foundation/geometry.h"
#include "foundation/makemat.h"
#include "foundation/mathmat.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "stitch/srfstitc.h"

void ResetBsplineParamInfo(Bspline* obj, int dir) { SetDomainFromKnots(obj, dir); }

int GetDistinctKnots(Bspline* obj, int dir, int** mults, double** knots, double tol) {
  return DistinctInteriorKnots(obj, dir, mults, knots, tol);
}

void ReverseObj(Bspline* obj, int dir) { ReverseDirection(obj, dir); }

void GetKnotInfo(Bspline* obj, int dir, double* min, double* max) {
  if (!RecordShapesSound({obj})) return;
  if (!min || !max) {
    SetKernelError(-2);
    return;
  }
  const KnotDirection d = DirectionOf(obj, dir);
  *min = d.lo;
  *max = d.hi;
}

void GetObjBndryPnts(Bspline* obj, int bndry, double start[3], double end[3], int avoidDegenerate) {
  ObjectBoundaryEnds(obj, bndry, start, end, avoidDegenerate);
}

void GetObjBndryVector(Bspline* obj, int bndry, double vec[3]) {
  ObjectBoundaryVector(obj, bndry, vec);
}

int EquateParDirOfObjSet(Bspline** objs, int* bndry, int n) {
  return MatchBoundaryDirections(objs, bndry, n);
}

double GetCurveOnSurf3DLength(Bspline* crv) { return CurveOnSurfaceLength(crv); }

double GetObjSpanInParDir(Bspline* obj, int dir, int curveOnSurf3D) {
  return ControlPolygonSpan(obj, dir, curveOnSurf3D);
}

void CopyVecWOffsetToVec(const double* src, int stride, double* dst, int n) {
  if (!src || !dst || stride < 0) return;
  for (int i = 0; i < n; ++i) dst[i] = src[i * stride];
}

void MakeObjSetCompatible(Bspline** objs, int* dirs, int n, int scaleOther) {
  MakeKnotVectorsCompatible(objs, dirs, n, scaleOther);
}

// ---- Degrees, rationality and parameter speed of object sets ------------------------------

int isJustCombine = 0;

void EquateDegOfObjSet(Bspline** objs, int* dirs, int n) { RaiseToCommonDegree(objs, dirs, n); }

void MakeObjSetRational(Bspline** objs, int n) { MakeObjectsRational(objs, n); }

void EquateRationOfObjSet(Bspline** objs, int n) { MatchRationality(objs, n); }

int MakeParOfTwoObjProptnl(Bspline** pair, int* dirs, int join, int keepOther) {
  return ProportionPairParams(pair, dirs, join, keepOther, isJustCombine);
}

// ---- Tangent-plane refinement of a joined surface -------------------------------------------

void SetCntrlLineFromSurf(Bspline* dst, const Bspline* src, int dstIsColumn, int srcIsColumn,
                          int dstIndex, int srcIndex) {
  CopyControlLineOfSurf(dst, src, dstIsColumn, srcIsColumn, dstIndex, srcIndex);
}

namespace {

// Copies of v among the first n knots, within the knot grain.
int KnotMultiplicity(const double* knots, int n, double v) {
  int m = 0;
  for (int i = 0; i < n; ++i) m += std::fabs(knots[i] - v) <= 1e-6;
  return m;
}

// Angle of two legs of a cross-seam polygon, folded so that a leg running back counts as straight.
double FoldedLegAngle(const double* before, const double* mid, const double* after) {
  double l0[3], l1[3];
  for (int c = 0; c < 3; ++c) l0[c] = before[c] - mid[c], l1[c] = mid[c] - after[c];
  const double a = FindAngleVectors3(l0, l1);
  return a > 90.0 ? 180.0 - a : a;
}

}  // namespace

namespace {

// The piece's control net seen across and along the seam: cross indexes the joining
// direction, seam the direction along the seam.
struct SeamNet {
  double** M[3];
  int jd;  // 0 when the joining direction is u
  double& P(int c, int cross, int seam) const { return jd == 0 ? M[c][seam][cross] : M[c][cross][seam]; }
  void Point(int cross, int seam, double out[3]) const {
    for (int c = 0; c < 3; ++c) out[c] = P(c, cross, seam);
  }
};

// The seam itself must be C1 along its length for its tangent to carry the condition: the
// seam row's points either side of each inner patch joint are set on one line through it.
void MakeSeamC1(const SeamNet& net, int p, int q, const double* s, int nKept) {
  for (int i = 1; i <= nKept; ++i) {
    const double r = (s[i + 1] - s[i]) / (s[i] - s[i - 1]);
    const int j0 = i * (q + 1);
    for (int c = 0; c < 3; ++c) {
      const double jp = net.P(c, p, j0), pb = net.P(c, p, j0 - 2), pa = net.P(c, p, j0 + 1);
      net.P(c, p, j0 + 1) = ((1.0 + r) * jp - r * pb + pa) / 2.0;
      net.P(c, p, j0 - 2) = (((1.0 + r) * jp - pa) / r + pb) / 2.0;
    }
  }
}

// A seam corner whose cross polygon bends keeps the bend; its neighbour along the seam moves
// into the corner's cross plane so the end of the seam does not twist. ends: 0 both, 1 the
// start, 2 the end.
void KeepBentCorners(const SeamNet& net, int p, int nS, int ends) {
  for (int e = 0; e < 2; ++e) {
    if (e == 0 ? !(ends == 0 || ends == 1) : !(ends == 0 || ends == 2)) continue;
    const int j = e == 0 ? 0 : nS - 1, nb = e == 0 ? 1 : nS - 2;
    double pm[3], p0[3], pp[3], pn[3], foot[3], dist = 0.0;
    net.Point(p - 1, j, pm), net.Point(p, j, p0), net.Point(p + 1, j, pp), net.Point(p, nb, pn);
    bool marked = FoldedLegAngle(pm, p0, pp) >= 5.0;
    if (!marked) {
      Plane3PntsMinDist(p0, pm, pn, pp, foot, &dist);
      marked = FoldedLegAngle(pm, foot, pp) >= 0.5;
    }
    if (marked && Plane3PntsMinDist(pn, pm, p0, pp, foot, &dist) == 0)
      for (int c = 0; c < 3; ++c) net.P(c, p, nb) = foot[c];
  }
}

// Per Bezier patch along the seam, the rows either side of the seam row are moved so that the
// cross derivative on one side is a multiple of the other's plus g times the seam tangent (g
// linear along the seam): derSide 0 moves the row before, 1 the row after, 2 both halfway.
void MatchCrossDerivatives(const SeamNet& net, int p, int q, const double* s, const double* g, int nKept,
                           double lm, double lp, int derSide) {
  const double rho = lm / lp;
  for (int i = 0; i <= nKept; ++i) {
    const double mu = q / (s[i + 1] - s[i]);
    const int base = i * (q + 1);
    for (int j = 0; j <= q; ++j) {
      for (int c = 0; c < 3; ++c) {
        const double p0 = net.P(c, p, base + j);
        double tj = 0.0;
        if (j < q) tj += double(q - j) / q * g[i] * (p0 - net.P(c, p, base + j + 1));
        if (j > 0) tj += double(j) / q * g[i + 1] * (net.P(c, p, base + j - 1) - p0);
        const double R = (p0 * (lm + lp) + mu * tj) / lp;
        double& pm = net.P(c, p - 1, base + j);
        double& pp = net.P(c, p + 1, base + j);
        const double newM = (R - pp) / rho, newP = R - rho * pm;
        if (derSide == 0) {
          pm = newM;
        } else if (derSide == 1) {
          pp = newP;
        } else {
          pm = (pm + newM) / 2.0;
          pp = (pp + newP) / 2.0;
        }
      }
    }
  }
}

// Coincident joint points of a moved row agree again, so the split can be undone.
void ReuniteJoints(const SeamNet& net, int p, int q, int nKept, int derSide) {
  for (int i = 1; i <= nKept; ++i) {
    const int j0 = i * (q + 1);
    for (int row = p - 1; row <= p + 1; row += 2) {
      if ((row == p - 1 && derSide == 1) || (row == p + 1 && derSide == 0)) continue;
      for (int c = 0; c < 3; ++c) {
        const double m = (net.P(c, row, j0 - 1) + net.P(c, row, j0)) / 2.0;
        net.P(c, row, j0 - 1) = net.P(c, row, j0) = m;
      }
    }
  }
}

// The work of RefineObjVCn on a surface it may leave changed on failure (knots inserted around
// the seam are removed only at the end).
int RefineAcrossSeam(Bspline* srf, double t, int along, StitchInfo* info) {
  const int posSide = info->positionSide, derSide = info->derivativeSide, ends = info->vcnEnds;
  double w = std::fabs(info->vcnWeight);
  w = std::isnan(w) ? 0.001 : std::clamp(w, 0.001, 1000.0);
  const int jd = along ? 0 : 1, sd = 1 - jd;
  KnotDirection J = DirectionOf(srf, jd);
  const int p = J.p;
  if (p < 2 && p < info->continuity) {
    info->continuity = p;
    if (p == 0) return 0;
  }
  int k = 0;
  FindLowKnotIndex(J.knots, p, t, &k, J.nCtrl);

  TrackingScope scope;
  // The spans either side of the seam become a surface of their own: close them with knots
  // of full multiplicity, recorded so that srf gets its knot vector back at the end.
  const double a = J.knots[k - p], b = J.knots[k + 1];
  const int nKnots = J.nCtrl + p + 1;
  const int insA = std::max(0, p + 1 - KnotMultiplicity(J.knots, nKnots, a));
  const int insB = std::max(0, p + 1 - KnotMultiplicity(J.knots, nKnots, b));
  double* added = MallocArray<double>(insA + insB + 1);
  if (!added) return -2;
  for (int i = 0; i < insA; ++i) added[i] = a;
  for (int i = 0; i < insB; ++i) added[insA + i] = b;
  if (insA > 0) InsertNKnotsToObject(insA, 1, jd, srf, 2, added);
  if (!KernelFailed() && insB > 0) InsertNKnotsToObject(insB, 1, jd, srf, 2, added + insA);
  if (KernelFailed()) return -2;
  const int kk = k + insA;
  J = DirectionOf(srf, jd);
  if (kk - 2 * p < 0 || kk + p + 1 > J.nCtrl + p) return -2;
  Owned<Bspline, FreeBspline> piece(ExtractKnotRange(srf, jd, kk - 2 * p, kk + p + 1));
  if (!piece || KernelFailed()) return -2;
  Bspline* pc = piece.get();

  // Along the seam: drop knots that would make sliver patches, split the rest into Bezier patches.
  KnotDirection S = DirectionOf(pc, sd);
  const int q = S.p;
  const double lo = S.lo, hi = S.hi, tol = 0.001 * (hi - lo);
  int* mults = nullptr;
  double* distinct = nullptr;
  const int nd = GetDistinctKnots(pc, sd, &mults, &distinct, 0.001);
  const int nInterior = S.interior;
  double* dropped = MallocArray<double>(nInterior + 1);
  double* kept = MallocArray<double>(nd + 1);
  if (nd < 0 || !dropped || !kept) return -2;
  int nDrop = 0, nKept = 0;
  bool* keep = MallocArray<bool>(nd + 1);
  if (!keep) return -2;
  for (int i = 0; i < nd; ++i) {
    keep[i] = !((i == 0 && (std::fabs(distinct[i] - lo) <= tol || std::fabs(distinct[i] - hi) <= tol)) ||
                (i == nd - 1 && std::fabs(distinct[i] - hi) <= tol));
    if (keep[i]) kept[nKept++] = distinct[i];
  }
  for (int j = 0; j < nInterior; ++j) {
    const double x = S.knots[q + 1 + j];
    int near = 0;
    if (nd == 0) {
      dropped[nDrop++] = x;
      continue;
    }
    for (int i = 1; i < nd; ++i)
      if (std::fabs(x - distinct[i]) < std::fabs(x - distinct[near])) near = i;
    if (!keep[near] || std::fabs(x - distinct[near]) > 1e-6) dropped[nDrop++] = x;
  }
  double dev = 0.0;
  if (nDrop > 0) RemoveKnotsOfObjSet(&pc, 1, sd, 2, dropped, nDrop, 0, 0.0, &dev);
  if (KernelFailed()) return -2;
  double* split = MallocArray<double>(nKept * (q + 1) + 1);
  if (!split) return -2;
  int nSplit = 0;
  for (int i = 0; i < nKept; ++i) {
    S = DirectionOf(pc, sd);
    const int add = q + 1 - KnotMultiplicity(S.knots, S.nCtrl + q + 1, kept[i]);
    if (add <= 0) continue;
    InsertNKnotsToObject(add, 1, sd, pc, 2, &kept[i]);
    if (KernelFailed()) return -2;
    for (int r = 0; r < add; ++r) split[nSplit++] = kept[i];
  }
  S = DirectionOf(pc, sd);
  const int nS = S.nCtrl;
  if (nS != (nKept + 1) * (q + 1)) return -2;

  // Patch ends and the seam tangent's factor there.
  double* s = MallocArray<double>(nKept + 2);
  double* g = MallocArray<double>(nKept + 2);
  if (!s || !g) return -2;
  s[0] = lo;
  for (int i = 0; i < nKept; ++i) s[i + 1] = kept[i];
  s[nKept + 1] = hi;
  for (int i = 0; i < nKept + 2; ++i) g[i] = (s[i] - (hi - lo) / 2.0) / w;

  SeamNet net{{pc->X, pc->Y, pc->Z}, jd};
  MakeSeamC1(net, p, q, s, nKept);
  const KnotDirection Jp = DirectionOf(pc, jd);
  const double lm = p / (Jp.knots[p + 1] - Jp.knots[p]);
  const double lp = p / (Jp.knots[2 * p + 1] - Jp.knots[p + 1]);
  if (posSide == 2) KeepBentCorners(net, p, nS, ends);
  MatchCrossDerivatives(net, p, q, s, g, nKept, lm, lp, derSide);
  ReuniteJoints(net, p, q, nKept, derSide);

  if (nDrop > 0) InsertNKnotsToObject(1, nDrop, sd, pc, 2, dropped);
  if (!KernelFailed() && nSplit > 0) RemoveKnotsOfObjSet(&pc, 1, sd, 2, split, nSplit, 0, 0.0, &dev);
  if (KernelFailed() || DirectionOf(pc, sd).nCtrl != DirectionOf(srf, sd).nCtrl) return -2;

  for (int l = -1; l <= 1; ++l)
    CopyControlLineOfSurf(srf, pc, along ? 1 : 0, along ? 1 : 0, kk - p + l, p + l);
  piece.reset();
  if (insA + insB > 0) RemoveKnotsOfObjSet(&srf, 1, jd, 2, added, insA + insB, 0, 0.0, &dev);
  return KernelFailed() ? -2 : 0;
}

}  // namespace

int RefineObjVCn(Bspline* srf, double t, int along, StitchInfo* info, const SpreadRecord*) {
  if (info->continuity == 0) return 0;
  if (srf->kind != 2 || !srf->Z) return -2;
  // A failure on the way leaves the surface as it came: the work runs on srf itself, so a copy
  // taken first is put back.
  Owned<Bspline, FreeBspline> saved(CopyBsplineSurface(srf));
  if (!saved) return -2;
  const int status = RefineAcrossSeam(srf, t, along, info);
  if (status != 0) RestoreBsplineShape(srf, saved.get());
  return status;
}
