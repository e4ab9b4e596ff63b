// What the parts of the boundary-curve wraps and the tangential heal (mshrink*.cpp) share, and
// the side and seam tests the group heal above them (gstitch*.cpp) takes from here.
// Internal to healing/.
//
// Index conventions used throughout:
// - control matrices are indexed [v][u]: the u-min side (1) is column 0, the u-max side (3)
//   column nu - 1, the v-min side (2) row 0 and the v-max side (4) row nv - 1;
// - "along" a side means the direction the boundary curve runs in (v for sides 1 and 3, u for
//   sides 2 and 4), "across" the other one; row a across is the a-th control row counted from
//   the side (0 the boundary row itself, 1 the second row);
// - a curve's own side of an edge is 0 (A) or 1 (B), giving its end slot BndrSlot(side, end).
#pragma once

#include "bspline/bsvalid.h"
#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "foundation/umalloc.h"
#include "healing/srfbndr.h"
#include "shrinkwrap/shrink.h"

namespace mshrink_internal {

// Length below which a normal, tangent or direction counts as vanishing.
constexpr double kTiny = 1e-6;
// Parameters closer than this (absolute, as the edge parameters are stored) count as one.
constexpr double kParTol = 1e-6;

using BsplinePtr = Owned<Bspline, FreeBspline>;
using ConstraintPtr = Owned<LinearConstraint, FreeWrapConstraint>;
// Sample arrays handed out by a collector outside every scope, freed on every path.
using Samples = Owned<double, Free>;

// Whether the curve index is one of the structure's.
bool ValidCurve(const BndrStruct* bs, int curve);
// Edge `id` of the structure, or null when there is none.
const EdgeInfoStruct* EdgeAt(const BndrStruct* bs, int id);
// The curve's own side of the edge: 0 A, 1 B, -1 when the edge does not touch it.
int OwnSide(const EdgeInfoStruct* e, int curve);

// fn(edge, own side) for every edge of the curve's list that touches it, in list order.
template <class Fn>
void ForEachOwnEdge(const BndrStruct* bs, int curve, Fn fn) {
  const CrvInfoStruct* crv = &bs->crvs[curve];
  for (int k = 0; k < crv->nEdge && crv->edgeIds; ++k) {
    const EdgeInfoStruct* e = EdgeAt(bs, crv->edgeIds[k]);
    const int side = OwnSide(e, curve);
    if (side >= 0) fn(e, side);
  }
}

// Whether the edge is healed smooth (G1).
bool IsG1Edge(const EdgeInfoStruct* e);
// The topology's surface of a curve (the record the heal writes into).
Bspline* SurfaceOf(const CrvInfoStruct* crv);
// A side the stitch may move: a natural side, neither held nor on a held outer boundary.
bool MovableSide(const CrvInfoStruct* c);
// The share of its side's curve that a side of a paired edge covers.
double CoveredFraction(const EdgeInfoStruct* e, int side);
// Whether a paired edge's two sides are of one degree and control-point count on knots that map
// onto one another (reversed where side B runs the other way).
bool SidesOnOneKnotVector(const EdgeInfoStruct* e);
// Whether the edge's sides are whole sides of one degree on knots that map onto each other, with
// nothing but free sides at its ends: a seam whose rows can be shared.
bool SharedRowSeam(const BndrStruct* bs, const EdgeInfoStruct* e);

// ---- rows of a surface relative to one of its sides -------------------------------------------
struct SideFrame {
  Bspline* s = nullptr;
  int side = 0;
  int p = 0;                    // degree across
  const double* k = nullptr;    // knots across
  int L = 0;                    // last control index across
  int nAlong = 0;               // control points along
  int degAlong = 0;

  bool Init(Bspline* srf, int sd) {
    if (!HasSurface3Arrays(srf) || sd < 1 || sd > 4) return false;
    s = srf;
    side = sd;
    const bool runsInV = (sd == 1 || sd == 3);
    p = runsInV ? srf->degreeU : srf->degreeV;
    k = runsInV ? srf->knotsU : srf->knotsV;
    L = (runsInV ? NumCtrlU(srf) : NumCtrlV(srf)) - 1;
    nAlong = runsInV ? NumCtrlV(srf) : NumCtrlU(srf);
    degAlong = runsInV ? srf->degreeV : srf->degreeU;
    return p >= 1;
  }
  // Row a counted from the side's own boundary (0 boundary, 1 second row).
  int Across(int a) const { return (side == 1 || side == 2) ? a : L - a; }
  double* At(double** M, int a, int j) const {
    const int c = Across(a);
    return (side == 1 || side == 3) ? &M[j][c] : &M[c][j];
  }
  void Get(int a, int j, double out[3]) const {
    out[0] = *At(s->X, a, j);
    out[1] = *At(s->Y, a, j);
    out[2] = *At(s->Z, a, j);
  }
  void Set(int a, int j, const double v[3]) const {
    *At(s->X, a, j) = v[0];
    *At(s->Y, a, j) = v[1];
    *At(s->Z, a, j) = v[2];
  }
  // The step f of the first derivative across, in increasing parameter, at the side:
  // (P[1] - P[0]) / f at a minimum side, (P[L] - P[L-1]) / f at a maximum side.
  double Step() const {
    if (side == 1 || side == 2) return (k[p + 1] - k[1]) / p;
    return (k[L + p] - k[L]) / p;
  }
};

// Frees the constraint's position and normal entries and sets their counts to 0.
void ClearConstraint(LinearConstraint* c);
// Replaces the record's position (pos != 0) or normal entries by copies of the n given ones.
int InstallEntries(LinearConstraint* c, bool pos, int n, const double* par, const double* x,
                   const double* y, const double* z);

// The correction's options: smoothing weights of the tangential heal.
ShrnkWrapParams CrossDerivOptions();
// The sample parameters of one side of an edge, or null.
const double* SideSamples(const EdgeInfoStruct* e, int side);
// A power of two bringing the curve to at most unit size (1 for a curve no larger); see mshrink.cpp.
double BelowUnitSize(const Bspline* curve);
// Multiplies the curve's control points by f.
void ScaleCurvePoints(Bspline* curve, double f);

// A side whose second row is a real interior row: at least three control rows across it.
bool HasSecondRow(const CrvInfoStruct* crv);
// The frame of the curve's side on its surface; false when the curve's 3D form does not match it.
bool FrameForCurve(const CrvInfoStruct* crv, SideFrame* f);

// ---- creases (mshrink_crease.cpp, mshrink_fold.cpp) -------------------------------------------
// Degrees a real crease may end off its start at any sample.
constexpr double kCreaseAngleHeld = 1.0;
// Degrees the crease's largest angle may rise from its start: below the fall-backs' degree, and
// the ceiling the solve aims below.
constexpr double kCreaseRiseMargin = 0.9;
constexpr double kCreaseCeilRise = 0.8;
// 180 / pi: angles from acos and atan2 into degrees.
constexpr double kRadToDeg = 57.29577951308232;

// A side's point (d[0]), first and second derivatives along it (d[1], d[2]) and a vector along
// its first derivative across (d[3], from the step to its second row) at parameter t, from the
// rows of frame f on knots k (n points, degree p). False when the basis cannot be made.
bool SideRowsAt(const SideFrame& f, const double* k, int n, int p, double t, double* table, double d[4][3]);
// The parameter of the point of the side closest to P, by Newton's method from t (clamped to
// [lo, hi]), d as SideRowsAt gives it there. A step below 1e-9 of the range is not taken: the
// angle and the gap do not see it.
double ClosestRowParam(const SideFrame& f, const double* k, int n, int p, double t, double lo, double hi,
                       const double P[3], double* table, double d[4][3]);

// A sample of a seam whose fold can be read again after second-row points move (mshrink_fold.cpp).
struct FoldSample;

// The seam beside a jitter crease's end that the crease's second-row point diagonal to the corner
// reaches too (it is that seam's own, a row in), and its folds there (kWatchSamples, from the
// corner on): as they began, as the stages left them, and after the jitter solve moved the point.
constexpr int kWatchSamples = 40;
struct SeamBeside {
  const EdgeInfoStruct* seam = nullptr;
  FoldSample* now = nullptr;
  double start[kWatchSamples] = {}, was[kWatchSamples] = {};
  bool real = false;  // beyond the angle limit at every sample inside its length at the start
  // Its largest fold between a tenth and nine tenths at the start, and beyond the window now (the
  // point does not reach there); how far its largest there was off the start's before the solve.
  double startLargest = 0.0, restLargest = 0.0, off = 0.0;
};
// Sets w up for the seam beside crease e at corner c on the surface of its side crv: 1 when that
// seam is a crease inside the group to be watched, 0 when the point is to stay, -2 on a memory
// failure (the samples are allocated in the caller's scope).
int WatchSeamBeside(const BndrStruct* bs, Bspline* const* start, const EdgeInfoStruct* e, int c,
                    const CrvInfoStruct* crv, SeamBeside* w);
// Whether the watched seam holds with the point where it is now: nowhere in the window above its
// start by more than the ceiling's rise (or than it was), a real crease nowhere flatter than its
// start by more than the angle held (or than it was), and its largest angle inside within a
// degree of its start's (or as close as it was) unless it may get flatter.
bool SeamBesideHolds(const SeamBeside& w, bool flatter);

}  // namespace mshrink_internal
