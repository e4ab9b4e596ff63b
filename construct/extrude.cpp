#include "construct/extrude.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "bspline/bsvalid.h"
#include "bspline/kinsert.h"
#include "bspline/knots.h"
#include "bspline/measure.h"
#include "bspline/nubs.h"
#include "bspline/objset.h"
#include "bspline/refines2.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "bspline/subobj.h"
#include "cloud/makecld.h"
#include "construct/srfrevol.h"
#include "curve/crvintr.h"
#include "curve/crvutil.h"
#include "curve/fittotol.h"
#include "curve/mkline3.h"
#include "foundation/coreglob.h"
#include "foundation/makemat.h"
#include "foundation/mathmat.h"
#include "foundation/solvmat.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "splinefit/sconvert.h"
#include "surface/railsweep.h"

namespace {

bool IsCurve3(const Bspline* c) { return c && c->kind == 1 && c->dimension == 3 && BsplineSound(c); }

double Weight(const Bspline* c, int i) { return c->rational ? c->W[0][i] : 1.0; }

// Gives s the rational flag, u degree, knots and range of curve a and the v ones of curve b, and
// allocates its arrays. 0, or -2 with the error state set.
int ShapeSurfaceFromCurves(Bspline* s, const Bspline* a, const Bspline* b, int rational) {
  s->rational = rational;
  s->degreeU = a->degreeU;
  s->interiorU = a->interiorU;
  s->degreeV = b->degreeU;
  s->interiorV = b->interiorU;
  if (AllocateBsplineArrays(s) < 0 || KernelFailed()) return -2;
  std::memcpy(s->knotsU, a->knotsU, sizeof(double) * NumKnotsU(a));
  std::memcpy(s->knotsV, b->knotsU, sizeof(double) * NumKnotsU(b));
  s->umin = a->umin;
  s->umax = a->umax;
  s->vmin = b->umin;
  s->vmax = b->umax;
  return 0;
}

// Moves the whole net by target - point (0, 0) and, when rational, scales every weight so that
// weight (0, 0) becomes targetWeight (a common factor leaves the shape alone).
void PlaceCorner(Bspline* s, const double target[3], double targetWeight) {
  const double d[3] = {target[0] - s->X[0][0], target[1] - s->Y[0][0], target[2] - s->Z[0][0]};
  const double f = s->rational ? targetWeight / s->W[0][0] : 1.0;
  for (int j = 0; j < NumCtrlV(s); ++j)
    for (int i = 0; i < NumCtrlU(s); ++i) {
      s->X[j][i] += d[0];
      s->Y[j][i] += d[1];
      s->Z[j][i] += d[2];
      if (s->rational) s->W[j][i] *= f;
    }
}

}  // namespace

int CheckIntersection(Bspline* a, Bspline* b, double tol) { return EndControlPointsTouch(a, b, tol); }

void CheckIfCurvesInSameDir(Bspline* rails[2], Bspline* curve, double tol) {
  OrientRailsToCurve(rails, curve, tol);
}

Bspline* ExtrudeW2PathCurves(Bspline* profile, Bspline* path1, Bspline* path2, double tol) {
  return SweepProfileAlongRails(profile, path1, path2, tol);
}

// ---- Extrusion --------------------------------------------------------------------------------

Bspline* ExtrudeSurface(Bspline* profile, Bspline* path, int keepPlace) {
  if (!IsCurve3(profile) || !IsCurve3(path)) {
    SetKernelError(-2);
    return nullptr;
  }
  TrackingScope scope;
  Owned<Bspline, FreeBspline> s(MallocInitSurfaceBspline());
  if (!s) return nullptr;
  Bspline* pair[2] = {path, profile};
  MatchRationality(pair, 2);
  if (KernelFailed()) return nullptr;
  if (ShapeSurfaceFromCurves(s.get(), profile, path, profile->rational) < 0) return nullptr;
  const int nU = NumCtrlU(profile), nV = NumCtrlU(path);
  const double w0 = Weight(path, 0);
  for (int j = 0; j < nV; ++j) {  // rows are v (path), columns u (profile)
    const double d[3] = {path->X[0][j] - path->X[0][0], path->Y[0][j] - path->Y[0][0],
                         path->Z[0][j] - path->Z[0][0]};
    for (int i = 0; i < nU; ++i) {
      s->X[j][i] = profile->X[0][i] + d[0];
      s->Y[j][i] = profile->Y[0][i] + d[1];
      s->Z[j][i] = profile->Z[0][i] + d[2];
      if (s->rational) s->W[j][i] = profile->W[0][i] * (path->W[0][j] / w0);
    }
  }
  if (!keepPlace) {
    const double start[3] = {path->X[0][0], path->Y[0][0], path->Z[0][0]};
    PlaceCorner(s.get(), start, w0);
  }
  scope.keep();
  return s.release();
}

// CreateExtrudeSurface's work; the caller's door and result checks are around it.
static Bspline* ExtrudeAlongLine(Bspline* curve, int end, double dir[3], double length) {
  if (!IsCurve3(curve) || (end != 0 && end != 1) || !dir) {
    SetKernelError(-2);
    return nullptr;
  }
  double P[3];
  Eval3DPointOnCurve3Coord(curve, end ? curve->umax : curve->umin, 0, P);
  if (KernelFailed()) return nullptr;
  const double Q[3] = {P[0] + length * dir[0], P[1] + length * dir[1], P[2] + length * dir[2]};
  Owned<Bspline, FreeBspline> path(MkLine3(P, Q, nullptr));
  if (!path) return nullptr;
  return ExtrudeSurface(curve, path.get(), end);
}

Bspline* CreateExtrudeSurface(Bspline* curve, int end, double dir[3], double length) {
  if (!BsplineSound(curve) || !dir || !AllFinite(dir, 3) || !std::isfinite(length)) return MadeOrFailed<Bspline>(nullptr);
  return SoundRecordOrFailed(ExtrudeAlongLine(curve, end, dir, length));
}

// ---- Sweeps with moving frames ------------------------------------------------------------------

namespace {

// A unit normal whose components all lie below this is taken as vanished (straight stretch).
constexpr double kVanished = 1e-5;

bool Vanished(const double n[3]) {
  return std::fabs(n[0]) < kVanished && std::fabs(n[1]) < kVanished && std::fabs(n[2]) < kVanished;
}

void Unit(double v[3]) { VecNormalize3(v, v); }

void CtrlPoint(const Bspline* c, int i, double p[3]) {
  p[0] = c->X[0][i];
  p[1] = c->Y[0][i];
  p[2] = c->Z[0][i];
}

// The first principal normal of F at g[from], g[from + 1], ... that has not vanished; false when
// every one has.
bool FirstNormalFrom(Bspline* F, const double* g, int from, int n, double N[3]) {
  for (int j = from; j < n; ++j) {
    NormalToCurve3(F, g[j], N);
    if (!Vanished(N)) return true;
  }
  return false;
}

// Frame i as a transform to the canonical frame: origin to 0, normal to +z, tangent into the +y
// half of the yz plane.
void FrameToCanonical(const double O[3], const double N[3], const double T[3], Xform A) {
  const double tipN[3] = {O[0] + N[0], O[1] + N[1], O[2] + N[2]};
  double tipT[3] = {O[0] + T[0], O[1] + T[1], O[2] + T[2]};
  Xform Z, R;
  TransformToZAxis(O, tipN, Z);
  Vec1Trans3(tipT, Z);
  RotToPosY(tipT, R);
  Get_catmat(Z, R, A);
}

// The frame a path is refitted in (and a curve's curvature read), read from its samples alone so
// that the same path moved, turned or scaled gets the same frame on it: the centroid, the
// diameter as the unit of length, and axes e[0] along the chord from the first to the last
// sample (for a closed path, toward the sample farthest from the first), e[1] toward the sample
// farthest from that line, e[2] their cross product. The single-precision samples of the fit
// then round alike, and the fit's knot choices, made on nearly the same points, do not flip
// with the path's turn.
struct PathFrame {
  double centre[3];
  double size;
  double e[3][3];
};

// Two samples whose distances agree to this share of the largest are a tie, broken by the
// samples' order along the path (a symmetric S-curve has two farthest points; round-off alone
// would choose between them).
constexpr double kFarthestTie = 1e-9;
// A path that strays from its chord line by less than this share of its diameter is straight:
// any axis across it will do.
constexpr double kStraightShare = 1e-9;

// The offset across the line through a along the unit d (from a itself when d is null) of
// sample i in out, and its length returned.
double OffsetFromLine(const double* pts, int i, const double a[3], const double* d, double out[3]) {
  VecDiff3(pts + 3 * i, a, out);
  if (d) {
    const double along = VecDotProd3(out, d);
    for (int k = 0; k < 3; ++k) out[k] -= along * d[k];
  }
  return VecSize3(out);
}

// The offset of the first sample whose distance from that line is within the tie of the
// largest, in out; its distance returned.
double FarthestSample(const double* pts, int n, const double a[3], const double* d, double out[3]) {
  double best = 0.0;
  for (int i = 0; i < n; ++i) best = std::max(best, OffsetFromLine(pts, i, a, d, out));
  for (int i = 0; i < n; ++i) {
    const double dist = OffsetFromLine(pts, i, a, d, out);
    if (dist >= (1.0 - kFarthestTie) * best) return dist;
  }
  return 0.0;
}

PathFrame FrameOfSamples(const double* pts, int n) {
  PathFrame f{};
  for (int i = 0; i < n; ++i)
    for (int k = 0; k < 3; ++k) f.centre[k] += pts[3 * i + k] / n;
  for (int i = 0; i < n; ++i)
    for (int j = i + 1; j < n; ++j) f.size = std::max(f.size, VecDist3(pts + 3 * i, pts + 3 * j));
  if (!(f.size > 0.0)) f.size = 1.0;
  const double* first = pts;
  VecDiff3(pts + 3 * (n - 1), first, f.e[0]);
  if (!(VecSize3(f.e[0]) > kStraightShare * f.size)) FarthestSample(pts, n, first, nullptr, f.e[0]);
  if (!(VecSize3(f.e[0]) > 0.0)) f.e[0][0] = 1.0;
  Unit(f.e[0]);
  if (!(FarthestSample(pts, n, first, f.e[0], f.e[1]) > kStraightShare * f.size)) {
    // Straight: across the chord, away from its smallest component.
    const double* a = f.e[0];
    const int k = std::fabs(a[0]) <= std::fabs(a[1]) && std::fabs(a[0]) <= std::fabs(a[2]) ? 0
                  : std::fabs(a[1]) <= std::fabs(a[2])                                     ? 1
                                                                                            : 2;
    const double axis[3] = {k == 0 ? 1.0 : 0.0, k == 1 ? 1.0 : 0.0, k == 2 ? 1.0 : 0.0};
    VecCrossProd3(a, axis, f.e[1]);
  }
  Unit(f.e[1]);
  VecCrossProd3(f.e[0], f.e[1], f.e[2]);
  return f;
}

// out may be p.
void PointToPathFrame(const PathFrame& f, const double p[3], double out[3]) {
  double v[3];
  VecDiff3(p, f.centre, v);
  for (int k = 0; k < 3; ++k) out[k] = VecDotProd3(f.e[k], v) / f.size;
}

// out may be q.
void PointFromPathFrame(const PathFrame& f, const double q[3], double out[3]) {
  const double c[3] = {q[0], q[1], q[2]};
  for (int k = 0; k < 3; ++k) out[k] = f.centre[k] + f.size * (c[0] * f.e[0][k] + c[1] * f.e[1][k] + c[2] * f.e[2][k]);
}

// Control points j = row (0 for a curve), i < n, of b into the frame or out of it; the weights
// stay (the map is a similarity).
void RowToPathFrame(const PathFrame& f, Bspline* b, int j, int n, bool into) {
  for (int i = 0; i < n; ++i) {
    double p[3] = {b->X[j][i], b->Y[j][i], b->Z[j][i]};
    if (into)
      PointToPathFrame(f, p, p);
    else
      PointFromPathFrame(f, p, p);
    b->X[j][i] = p[0], b->Y[j][i] = p[1], b->Z[j][i] = p[2];
  }
}

// The profile's working copy in the frame, moved so far, back into the caller's profile: a frame
// sweep leaves the profile where its last move took it.
void ProfileFromPathFrame(const PathFrame& f, Bspline* work, Bspline* profile) {
  const int n = NumCtrlU(profile);
  RowToPathFrame(f, work, 0, n, false);
  for (int i = 0; i < n; ++i) {
    profile->X[0][i] = work->X[0][i];
    profile->Y[0][i] = work->Y[0][i];
    profile->Z[0][i] = work->Z[0][i];
  }
}

// The refitted path of a frame sweep, in the path's own frame (*frame): the path sampled
// degree + 1 times per knot span and fitted within a thousandth of its size (1 in that frame),
// with the polyline length of the samples as the curvature spacing's base. Working in the
// path's frame, at unit size, the fit neither loses the digits of the shape to the
// single-precision samples far from the origin nor depends on the path's size or turn. Null on
// failure.
Bspline* RefitPath(Bspline* path, PathFrame* frame) {
  TrackingScope scope;
  double* raw = nullptr;
  const int n = SampleCurvePlate(path, path->degreeU + 1, &raw);
  Owned<double, Free> params(raw);
  if (n < 2) {
    if (!KernelFailed()) SetKernelError(-2);
    return nullptr;
  }
  float* xyz[3] = {MallocArray<float>(n), MallocArray<float>(n), MallocArray<float>(n)};
  double* pts = MallocArray<double>(3 * n);
  if (!xyz[0] || !xyz[1] || !xyz[2] || !pts) return nullptr;
  for (int i = 0; i < n; ++i) Eval3DPointOnCurve3Array(path, params[i], 0, pts + 3 * i);
  if (KernelFailed()) return nullptr;
  *frame = FrameOfSamples(pts, n);
  double length = 0.0;
  for (int i = 0; i < n; ++i) {
    double* p = pts + 3 * i;
    PointToPathFrame(*frame, p, p);
    if (i > 0) length += VecDist3(p, p - 3);
    for (int k = 0; k < 3; ++k) xyz[k][i] = static_cast<float>(p[k]);
  }
  Owned<Cloud, FreeCloud> cloud(MakeCld(xyz[0], xyz[1], xyz[2], n, nullptr));
  if (!cloud) return nullptr;
  int status = 0;
  Bspline* F = FitToTolerance(cloud.get(), nullptr, 0.001, 0.1 * length, path->closedU != 0, path->degreeU,
                              Global_Roughness, Global_Tension, Global_Sigma, &status, 0, 0.8);
  if (!F && !KernelFailed()) SetKernelError(-2);
  return F;
}

// The rows are blended by F's basis in v: where neighbouring frames turn far apart, the blend
// of turned copies of the profile is smaller than the profile (by about a tenth of the profile's
// size times the turn squared, in radians: below 1e-3 of it at 4 degrees). F gains knots evenly
// in every stretch between neighbouring frame parameters over which its tangent (or, for the
// principal normal rule, its principal normal) turns by more than kMaxFrameTurn; the shape of F
// is unchanged, only its rows get closer.
constexpr double kMaxFrameTurn = 4.0 * M_PI / 180.0;
// Rounds of refinement (the frame parameters move as knots go in).
constexpr int kFrameRefineRounds = 8;

double TurnAngle(const double a[3], const double b[3]) {
  double c[3];
  VecCrossProd3(a, b, c);
  return std::atan2(VecSize3(c), VecDotProd3(a, b));
}

// false on failure (error state set).
bool RefineForFrames(Bspline* F, bool principal) {
  for (int round = 0; round < kFrameRefineRounds; ++round) {
    TrackingScope scope;
    const int nF = NumCtrlU(F);
    double* g = MallocArray<double>(nF);
    double* turn = MallocArray<double>(nF);
    if (!g || !turn) return false;
    GrevilleParams(F->knotsU, nF, F->degreeU, g);
    int n = 0;
    double Tp[3], Np[3];
    for (int j = 0; j < nF; ++j) {
      double T[3], N[3];
      Eval3DPointOnCurve3Array(F, g[j], 1, T);
      Unit(T);
      NormalToCurve3(F, g[j], N);
      turn[j] = 0.0;
      if (j > 0 && g[j] > g[j - 1]) {
        turn[j] = TurnAngle(Tp, T);
        // The principal normal's sign is set by the binormal rule afterwards: a flip is no turn.
        if (principal && !Vanished(N) && !Vanished(Np)) {
          const double a = TurnAngle(Np, N);
          turn[j] = std::max(turn[j], std::min(a, M_PI - a));
        }
        // Enough knots at once that each part turns by about the most allowed.
        if (turn[j] > kMaxFrameTurn) n += static_cast<int>(std::min(std::ceil(turn[j] / kMaxFrameTurn), 64.0)) - 1;
      }
      std::memcpy(Tp, T, sizeof(T));
      std::memcpy(Np, N, sizeof(N));
    }
    if (n == 0) return !KernelFailed();
    double* split = MallocArray<double>(n);
    if (!split) return false;
    n = 0;
    for (int j = 1; j < nF; ++j) {
      if (!(turn[j] > kMaxFrameTurn)) continue;
      const int parts = static_cast<int>(std::min(std::ceil(turn[j] / kMaxFrameTurn), 64.0));
      for (int m = 1; m < parts; ++m) split[n++] = g[j - 1] + (g[j] - g[j - 1]) * m / parts;
    }
    InsertNKnotsToObject(1, n, 0, F, 2, split);
    if (KernelFailed()) return false;
  }
  return true;
}

enum class NormalRule { Principal, Carried };

// Method: the path is refitted (F); frame j sits at the parameter of F nearest F's control point
// j, its origin moves by F's control-point steps, its tangent is F's, and its normal is either
// F's principal normal (Principal; the previous one where the path is straight) or the previous
// normal carried along the step onto the new normal plane (Carried). The binormal keeps its side
// (both flip otherwise). The profile moves rigidly from frame to frame, and each placement is
// one row.
Bspline* SweepWithFrames(Bspline* profile, Bspline* path, NormalRule rule) {
  if (!IsCurve3(profile) || !IsCurve3(path)) {
    SetKernelError(-2);
    return nullptr;
  }
  TrackingScope scope;
  // The path's knots, its frames and the rows are all made in the path's own frame and the
  // rows mapped back: where the path lies, how it is turned and its size then decide neither
  // the number of rows nor the normals' cut-offs.
  PathFrame frame;
  Owned<Bspline, FreeBspline> F(RefitPath(path, &frame));
  if (!F || !RefineForFrames(F.get(), rule == NormalRule::Principal)) return nullptr;
  Owned<Bspline, FreeBspline> s(MallocInitSurfaceBspline());
  if (!s) return nullptr;
  Bspline* pair[2] = {F.get(), profile};
  MatchRationality(pair, 2);
  if (KernelFailed()) return nullptr;
  Owned<Bspline, FreeBspline> work(CopyBsplineStruct(profile));
  if (!work) return nullptr;
  RowToPathFrame(frame, work.get(), 0, NumCtrlU(profile), true);
  if (ShapeSurfaceFromCurves(s.get(), work.get(), F.get(), profile->rational) < 0) return nullptr;

  const int nU = NumCtrlU(profile), nF = NumCtrlU(F.get());
  double* g = MallocArray<double>(nF);
  if (!g) return nullptr;
  GrevilleParams(F->knotsU, nF, F->degreeU, g);
  for (int j = 1; j < nF - 1; ++j) {
    double P[3], C[3], t = g[j], d2 = 0.0, step = 0.0;
    CtrlPoint(F.get(), j, P);
    FindClosestPointCurve3(F.get(), P, C, g[0], g[nF - 1], &t, &d2, &step, 20);
    g[j] = t;
  }
  double O[3], N[3], T[3], B[3];
  CtrlPoint(work.get(), 0, O);
  if (!FirstNormalFrom(F.get(), g, 0, nF, N)) {
    double p1[3];
    CtrlPoint(work.get(), nU > 1 ? 1 : 0, p1);
    VecDiff3(p1, O, N);
  }
  Unit(N);
  Eval3DPointOnCurve3Array(F.get(), g[0], 1, T);
  Unit(T);
  VecCrossProd3(N, T, B);
  for (int j = 1; j < nF; ++j) {
    const double Op[3] = {O[0], O[1], O[2]}, Np[3] = {N[0], N[1], N[2]}, Tp[3] = {T[0], T[1], T[2]};
    const double Bp[3] = {B[0], B[1], B[2]};
    Eval3DPointOnCurve3Array(F.get(), g[j], 1, T);
    Unit(T);
    double Fj[3], Fi[3];
    CtrlPoint(F.get(), j, Fj);
    CtrlPoint(F.get(), j - 1, Fi);
    for (int k = 0; k < 3; ++k) O[k] = Op[k] + (Fj[k] - Fi[k]);
    double D[3];
    VecDiff3(O, Op, D);
    Unit(D);
    if (rule == NormalRule::Principal) {
      if (!FirstNormalFrom(F.get(), g, j, nF, N)) std::memcpy(N, Np, sizeof(N));
    } else {
      const double P[3] = {Op[0] + Np[0], Op[1] + Np[1], Op[2] + Np[2]};
      const double dt = VecDotProd3(D, T);
      if (std::fabs(dt) <= 1e-5) {
        std::memcpy(N, Np, sizeof(N));
      } else {
        double OP[3];
        VecDiff3(O, P, OP);
        const double t = VecDotProd3(OP, T) / dt;
        for (int k = 0; k < 3; ++k) N[k] = P[k] + t * D[k] - O[k];
      }
    }
    Unit(N);
    VecCrossProd3(N, T, B);
    if (VecDotProd3(B, Bp) < 0.0)
      for (int k = 0; k < 3; ++k) {
        N[k] = -N[k];
        B[k] = -B[k];
      }
    // The move from frame to frame is rigid: a stretch along the normal (by the ratio of the
    // sines of the step to the two normals) would build up from row to row, and the rows are to
    // be copies of the profile.
    Xform Aprev, Acur, AcurInv, M;
    FrameToCanonical(Op, Np, Tp, Aprev);
    FrameToCanonical(O, N, T, Acur);
    if (mat_inverse4(Acur, AcurInv) < 0) {
      SetKernelError(-2);
      ProfileFromPathFrame(frame, work.get(), profile);  // the moves made so far stay
      return nullptr;
    }
    Get_catmat(Aprev, AcurInv, M);
    const double wf = F->rational ? F->W[0][j] / F->W[0][0] : 1.0;
    for (int i = 0; i < nU; ++i) {
      vector_xform(&work->X[0][i], &work->Y[0][i], &work->Z[0][i], M);
      s->X[j][i] = work->X[0][i];
      s->Y[j][i] = work->Y[0][i];
      s->Z[j][i] = work->Z[0][i];
      if (s->rational) s->W[j][i] = work->W[0][i] * wf;
    }
  }
  // Back to model space: rows 1 on and the profile in its last frame; row 0 is the profile as
  // given, exactly.
  for (int j = 1; j < nF; ++j) RowToPathFrame(frame, s.get(), j, nU, false);
  for (int i = 0; i < nU; ++i) {
    s->X[0][i] = profile->X[0][i];
    s->Y[0][i] = profile->Y[0][i];
    s->Z[0][i] = profile->Z[0][i];
    if (s->rational) s->W[0][i] = profile->W[0][i];
  }
  ProfileFromPathFrame(frame, work.get(), profile);
  RowToPathFrame(frame, F.get(), 0, nF, false);
  double start[3];
  CtrlPoint(F.get(), 0, start);
  PlaceCorner(s.get(), start, F->rational ? F->W[0][0] : 1.0);
  Free(g);
  scope.keep();
  return SoundRecordOrFailed(s.release());
}

}  // namespace

void NormalToCurve3(Bspline* curve, double t, double out[3]) {
  double D1[3], D2[3];
  Eval3DPointOnCurve3Array(curve, t, 1, D1);
  Eval3DPointOnCurve3Array(curve, t, 2, D2);
  // The cut-offs are shares of the speed |D1|, so that a curve's size does not decide what is
  // straight.
  const double speed = VecSize3(D1);
  for (int k = 0; k < 3; ++k) {
    if (std::fabs(D1[k]) < 1e-6 * speed) D1[k] = 0.0;
    if (std::fabs(D2[k]) < 1e-6 * speed) D2[k] = 0.0;
  }
  if (std::fabs(D2[0]) < 1e-5 * speed && std::fabs(D2[1]) < 1e-5 * speed && std::fabs(D2[2]) < 1e-5 * speed)
    D2[0] = D2[1] = D2[2] = 0.0;
  const double len = VecSize3(D1);
  if (len > 0.0)
    for (double& c : D1) c /= len;
  const double along = VecDotProd3(D2, D1);
  for (int k = 0; k < 3; ++k) out[k] = D2[k] - along * D1[k];
  // Straight also where the tangent would turn less than 1e-5 radians over the whole domain at
  // this curvature: a path refitted from samples is straight only to round-off, and the normal
  // of that round-off would turn the frames at random.
  const double domain = curve->umax - curve->umin;
  if (VecSize3(out) * domain < 1e-5 * speed) out[0] = out[1] = out[2] = 0.0;
  VecNormalize3(out, out);
}

Bspline* ExtrudeWRotation(Bspline* profile, Bspline* path, int) {
  return SweepWithFrames(profile, path, NormalRule::Principal);
}

Bspline* NewExtrudeWRotation(Bspline* profile, Bspline* path, int) {
  return SweepWithFrames(profile, path, NormalRule::Carried);
}

int RefineKnotVector(Bspline* curve, double** knots, int* count) {
  *knots = nullptr;
  *count = 0;
  if (!IsCurve3(curve)) {
    SetKernelError(-2);
    return 1;
  }
  TrackingScope scope;
  int n = 0;
  Owned<double, Free> params(SampleCurvePlateProper(curve, curve->degreeU + 1, &n));  // kept by its maker
  if (!params || n < 1) return 1;
  float* xyz[3] = {MallocArray<float>(n), MallocArray<float>(n), MallocArray<float>(n)};
  double* pts = MallocArray<double>(3 * n);
  int* picks = MallocArray<int>(n);
  double* chosen = MallocArray<double>(n + 2);
  if (!xyz[0] || !xyz[1] || !xyz[2] || !pts || !picks || !chosen) return 1;
  for (int i = 0; i < n; ++i) Eval3DPointOnCurve3Array(curve, params[i], 0, pts + 3 * i);
  // The curvature is read from single-precision samples in the curve's own frame (as a path's
  // refit is made): where the curve lies and how it is turned do not decide the picks.
  const PathFrame frame = FrameOfSamples(pts, n);
  for (int i = 0; i < n; ++i) {
    double p[3];
    PointToPathFrame(frame, pts + 3 * i, p);
    for (int k = 0; k < 3; ++k) xyz[k][i] = static_cast<float>(p[k]);
  }
  Owned<Cloud, FreeCloud> cloud(MakeCld(xyz[0], xyz[1], xyz[2], n, nullptr));
  if (!cloud) return 1;
  int found = 0;
  if (GetCldMaxCurv(cloud.get(), picks, &found, 0.1 * FindCurve3DLength(curve) / frame.size) < 0) found = 0;
  // The picks bracketed by the domain ends, as a clamped vector whose ends are not compared.
  const int nk = NumKnotsU(curve);
  int m = 0;
  chosen[m++] = curve->knotsU[0];
  for (int i = 0; i < found; ++i) chosen[m++] = params[picks[i]];
  chosen[m++] = curve->knotsU[nk - 1];
  std::sort(chosen + 1, chosen + m - 1);
  double* missing = nullptr;
  int nMissing = 0;
  if (PutInCKnotsOfBNotInA(curve->knotsU, nk, chosen, m, &missing, &nMissing) < 0) return 1;
  double* merged = nullptr;
  int nMerged = 0;
  {
    UntrackedScope own;  // the caller's
    if (nMissing > 0) {
      UnionKnotArrays(curve->knotsU, nk, missing, nMissing, &merged, &nMerged);
    } else if ((merged = MallocArray<double>(nk)) != nullptr) {
      std::memcpy(merged, curve->knotsU, sizeof(double) * nk);
      nMerged = nk;
    }
  }
  if (!merged) return 1;
  *knots = merged;
  *count = nMerged;
  return 1;
}

// ---- Sweep along two generators -----------------------------------------------------------------

namespace {

// Generators touch the path where their end control points lie within this fraction of the
// curves' size of its ends.
constexpr double kTouch = 0.01;

}  // namespace

// Method: two frame sweeps of the path, one along gen2 anchored at the path's start and one along
// gen1 anchored at its end (swept reversed, then turned back), blended row by row with the
// Hermite weights of the path's normalised Greville parameters. The inner sweeps refit their
// generators, so their rows need not match in number or knots: both are brought (with a copy of
// gen1) to one v degree and knot vector by degree raising and knot insertion, which keeps every
// shape, and the result takes that layout.
Bspline* ExtrudeW2Generators(Bspline* gen1, Bspline* gen2, Bspline* path) {
  if (!IsCurve3(gen1) || !IsCurve3(gen2) || !IsCurve3(path)) {
    SetKernelError(-2);
    return nullptr;
  }
  // Ends touch within a hundredth of the three curves' size (the longest side of their
  // control-point box): the same curves of any size meet, and are turned to meet, alike.
  double size = 0.0;
  {
    double lo[3], hi[3], all[2][3] = {{0, 0, 0}, {0, 0, 0}};
    bool first = true;
    for (const Bspline* c : {gen1, gen2, path}) {
      ControlPointBox(c, lo, hi);
      for (int k = 0; k < 3; ++k) {
        all[0][k] = first ? lo[k] : std::min(all[0][k], lo[k]);
        all[1][k] = first ? hi[k] : std::max(all[1][k], hi[k]);
      }
      first = false;
    }
    for (int k = 0; k < 3; ++k) size = std::max(size, all[1][k] - all[0][k]);
  }
  const double tol = kTouch * size;
  TrackingScope scope;
  if (!EndControlPointsTouch(path, gen1, tol) || !EndControlPointsTouch(path, gen2, tol)) {
    SetKernelError(-10);
    return nullptr;
  }
  Owned<Bspline, FreeBspline> s(MallocInitSurfaceBspline());
  if (!s) return nullptr;
  Bspline* rails[2] = {gen1, gen2};
  OrientRailsToCurve(rails, path, tol);  // gen1 now starts at the path's end, gen2 at its start
  if (MakeRailsCompatible(rails, path) < 0) return nullptr;

  const int nU = NumCtrlU(path);
  double* g = NormalisedGrevilleParams(path);
  if (!g) return nullptr;

  // Each inner sweep gets copies, so that only this operation's own in-place changes reach the
  // caller's curves.
  auto sweep = [](Bspline* profile, Bspline* along) -> Bspline* {
    Owned<Bspline, FreeBspline> p(CopyBsplineStruct(profile)), a(CopyBsplineStruct(along));
    if (!p || !a) return nullptr;
    return ExtrudeWRotation(p.get(), a.get(), 1);
  };
  Owned<Bspline, FreeBspline> R1(sweep(path, gen2));
  if (!R1) return nullptr;
  ReverseDirection(path, 0);
  Owned<Bspline, FreeBspline> R2(sweep(path, gen1));
  ReverseDirection(path, 0);
  if (!R2) return nullptr;
  ReverseDirection(R2.get(), 0);

  Owned<Bspline, FreeBspline> layout(CopyBsplineStruct(gen1));
  if (!layout) return nullptr;
  Bspline* set[3] = {R1.get(), R2.get(), layout.get()};
  int dirs[3] = {1, 1, 0};
  RaiseToCommonDegree(set, dirs, 3);
  if (KernelFailed()) return nullptr;
  MakeKnotVectorsCompatible(set, dirs, 3, 0);
  if (KernelFailed()) return nullptr;
  const int nV = NumCtrlU(layout.get());
  if (NumCtrlV(R1.get()) != nV || NumCtrlV(R2.get()) != nV || NumCtrlU(R1.get()) != nU ||
      NumCtrlU(R2.get()) != nU || R1->rational != path->rational || R2->rational != path->rational) {
    SetKernelError(-2);
    return nullptr;
  }
  if (ShapeSurfaceFromCurves(s.get(), path, layout.get(), path->rational) < 0) return nullptr;
  double** out[3] = {s->X, s->Y, s->Z};
  double** r1[3] = {R1->X, R1->Y, R1->Z};
  double** r2[3] = {R2->X, R2->Y, R2->Z};
  double** pc[3] = {path->X, path->Y, path->Z};
  for (int i = 0; i < nU; ++i) {
    for (int k = 0; k < 3; ++k) out[k][0][i] = pc[k][0][i];
    if (s->rational) s->W[0][i] = path->W[0][i];
  }
  // Rows j >= 1 in homogeneous form when rational: coordinates times weight blended with the
  // weights, then divided.
  for (int j = 1; j < nV; ++j)
    for (int i = 0; i < nU; ++i) {
      const double t = g[i], h1 = 3 * t * t - 2 * t * t * t, h0 = 1.0 - h1;
      const double w1 = s->rational ? R1->W[j][i] : 1.0, w2 = s->rational ? R2->W[j][i] : 1.0;
      const double w = h0 * w1 + h1 * w2;
      for (int k = 0; k < 3; ++k) {
        const double blended = h0 * r1[k][j][i] * w1 + h1 * r2[k][j][i] * w2;
        out[k][j][i] = s->rational ? blended / w : blended;
      }
      if (s->rational) s->W[j][i] = w;
    }
  Free(g);
  scope.keep();
  return s.release();
}

// ---- Tensor-product sweep from per-span polynomials ---------------------------------------------

int getPolynomialCoefi(int span, Bspline* curve, double** out) {
  if (!RecordsSound({curve}) || curve->kind != 1 || span < 0 || span > curve->interiorU) return -2;
  const int d = curve->degreeU;
  const double* knots = curve->knotsU;
  const double t0 = knots[span + d], t1 = knots[span + d + 1];
  if (!(t1 > t0)) return -2;
  TrackingScope scope;
  const int n = d + 1;
  double** V = allocate_matrix_ff(n, n);
  double** Vinv = allocate_matrix_ff(n, n);
  double** samples = allocate_matrix_ff(n, 4);
  if (!V || !Vinv || !samples) return -2;
  for (int k = 0; k < n; ++k) {
    // Local parameter s in [0, 1) over the span; the span's end is not sampled.
    const double sk = static_cast<double>(k) / n;
    double p[3];
    Eval3DPointOnCurve3Array(curve, t0 + sk * (t1 - t0), 0, p);
    samples[k][0] = p[0];
    samples[k][1] = p[1];
    samples[k][2] = p[2];
    samples[k][3] = 1.0;
    double power = 1.0;
    for (int m = 0; m < n; ++m, power *= sk) V[k][m] = power;
  }
  if (KernelFailed() || inverse_matrix_ff(V, Vinv, n) < 0) {
    if (!KernelFailed()) SetKernelError(-2);
    return -2;
  }
  multiply_matrices_ff_ff_ff(Vinv, samples, out, n, n, n, 4);
  return 0;
}

int TensorProductSurf(double** ca, double** cb, double** x, double** y, double** z, double** w, int nb,
                      int na) {
  double** blocks[3] = {x, y, z};
  for (int k = 0; k < na; ++k)
    for (int l = 0; l < nb; ++l) {
      for (int c = 0; c < 3; ++c)
        blocks[c][k][l] = (l == 0 ? ca[k][c] : 0.0) + (k == 0 ? cb[l][c] : 0.0);
      w[k][l] = 1.0;
    }
  return 0;
}

namespace {

// E[i][k] = e_k(s_1 .. s_d) / C(d, k): the blossom of the monomial s^k at the local parameters
// of the d knots after control point first + i, so that sum_k c_k E[i][k] is control point
// first + i of the polynomial sum_k c_k s^k on span `span` (d the degree).
void MonomialBlossoms(const double* knots, int d, int span, double** E) {
  const double t0 = knots[span + d], h = knots[span + d + 1] - t0;
  for (int i = 0; i <= d; ++i) {
    double e[kMaxSplineDegree + 2] = {1.0};  // elementary symmetric functions e_0 .. e_m
    for (int m = 1; m <= d; ++m) {
      const double s = (knots[span + i + m] - t0) / h;
      e[m] = 0.0;
      for (int k = m; k >= 1; --k) e[k] += s * e[k - 1];
    }
    double binom = 1.0;  // C(d, k)
    for (int k = 0; k <= d; ++k) {
      E[i][k] = e[k] / binom;
      binom = binom * (d - k) / (k + 1);
    }
  }
}

}  // namespace

namespace {

// Adds every span pair's control points into s's net and counts them in its weights, then
// divides by the counts (weights end 1.0). Scratch in a scope of its own. 0, or -2 when memory
// ran out or a span could not be sampled.
int AccumulateSpanPairs(Bspline* a, Bspline* b, Bspline* s) {
  TrackingScope scope;
  const int da = a->degreeU, db = b->degreeU, nU = NumCtrlU(a), nV = NumCtrlU(b);
  double** ca = allocate_matrix_ff(da + 1, 4);
  double** cb = allocate_matrix_ff(db + 1, 4);
  double** blk[4] = {allocate_matrix_ff(da + 1, db + 1), allocate_matrix_ff(da + 1, db + 1),
                     allocate_matrix_ff(da + 1, db + 1), allocate_matrix_ff(da + 1, db + 1)};
  double** Ea = allocate_matrix_ff(da + 1, da + 1);
  double** Eb = allocate_matrix_ff(db + 1, db + 1);
  if (!ca || !cb || !blk[0] || !blk[1] || !blk[2] || !blk[3] || !Ea || !Eb) return -2;
  const double b0[3] = {b->X[0][0], b->Y[0][0], b->Z[0][0]};
  double** net[3] = {s->X, s->Y, s->Z};
  for (int sb = 0; sb <= b->interiorU; ++sb) {
    if (getPolynomialCoefi(sb, b, cb) < 0) {
      if (KernelFailed()) return -2;
      continue;  // an empty span governs nothing
    }
    for (int c = 0; c < 3; ++c) cb[0][c] -= b0[c];  // a stays in place at b's start
    MonomialBlossoms(b->knotsU, db, sb, Eb);
    for (int sa = 0; sa <= a->interiorU; ++sa) {
      if (getPolynomialCoefi(sa, a, ca) < 0) {
        if (KernelFailed()) return -2;
        continue;
      }
      MonomialBlossoms(a->knotsU, da, sa, Ea);
      TensorProductSurf(ca, cb, blk[0], blk[1], blk[2], blk[3], db + 1, da + 1);
      for (int ii = 0; ii <= da; ++ii)
        for (int jj = 0; jj <= db; ++jj) {
          for (int c = 0; c < 3; ++c) {
            double v = 0.0;
            for (int k = 0; k <= da; ++k)
              for (int l = 0; l <= db; ++l) v += blk[c][k][l] * Ea[ii][k] * Eb[jj][l];
            net[c][sb + jj][sa + ii] += v;
          }
          s->W[sb + jj][sa + ii] += blk[3][0][0];
        }
    }
  }
  for (int j = 0; j < nV; ++j)
    for (int i = 0; i < nU; ++i) {
      const double w = s->W[j][i];
      if (w > 0.0)
        for (int c = 0; c < 3; ++c) net[c][j][i] /= w;
      s->W[j][i] = 1.0;
    }
  return 0;
}

}  // namespace

// Method: for every pair of non-empty spans the two span polynomials (power basis in the local
// parameters) are summed into one bivariate polynomial, whose blossoms at the spans' knots give
// the (da + 1) x (db + 1) control points that span pair governs; each control point averages the
// values of all span pairs that govern it (all agree where the spans are polynomial).
Bspline* TensorNewExtrudeWRotation(Bspline* a, Bspline* b, int) {
  if (!IsCurve3(a) || !IsCurve3(b) || a->degreeU > kMaxSplineDegree || b->degreeU > kMaxSplineDegree) {
    SetKernelError(-2);
    return nullptr;
  }
  TrackingScope scope;
  Bspline* pair[2] = {b, a};
  MatchRationality(pair, 2);
  if (KernelFailed()) return nullptr;
  if (!b->rational) {  // the weights count the span pairs: without a weight array, nowhere to
    SetKernelError(-2);
    return nullptr;
  }
  Owned<Bspline, FreeBspline> s(MallocInitSurfaceBspline());
  if (!s) return nullptr;
  if (ShapeSurfaceFromCurves(s.get(), a, b, b->rational) < 0) return nullptr;
  const int nU = NumCtrlU(a), nV = NumCtrlU(b);
  for (int j = 0; j < nV; ++j)
    for (int i = 0; i < nU; ++i) s->X[j][i] = s->Y[j][i] = s->Z[j][i] = s->W[j][i] = 0.0;
  if (AccumulateSpanPairs(a, b, s.get()) < 0) return nullptr;
  scope.keep();
  return s.release();
}
