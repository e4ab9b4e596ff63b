#include "healing/plugin/seamweld5.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "bspline/sfree.h"
#include "bspline/bsvalid.h"
#include "bspline/nubs.h"
#include "bspline/smake.h"
#include "bspline/srfclone.h"
#include "foundation/coreglob.h"
#include "foundation/makemat.h"
#include "foundation/umalloc.h"
#include "healing/gstitch.h"
#include "healing/srfbndr.h"

namespace {

constexpr const char* kSdkVersion = "SDKv1.70.3";
constexpr int kHostConstant = 2;  // first of the constant pair (2, 0) of every knot and vertex call

int HostError(int status, const char* operation) {
  fprintf(stderr, "SAAPHIRE ERROR : %s\n", operation);
  return status;
}

// Our refusal of a surface's data: one line naming the surface (when the caller knows it) and
// the fault, in the style of the plug-in's other messages. Returns 95.
__attribute__((format(printf, 2, 3))) int RefuseSurface(const char* name, const char* format, ...) {
  char fault[256];
  va_list args;
  va_start(args, format);
  vsnprintf(fault, sizeof fault, format, args);
  va_end(args);
  if (name)
    fprintf(stderr, "ERROR : Cannot heal surface %s: %s\n", name, fault);
  else
    fprintf(stderr, "ERROR : Cannot heal the surface: %s\n", fault);
  return kSeamWeldFailure;
}

// A call on a context whose instance is gone (never made, or released by cleanup).
int NoInstance() {
  fprintf(stderr, "ERROR : No SeamWeld instance for this effect: init has not run, or cleanup has\n");
  return kSeamWeldFailure;
}

// An instance or a run without picks: there is no group to build or heal.
int NothingPicked() {
  fprintf(stderr, "ERROR : No surface picked\n");
  return kSeamWeldFailure;
}

// The four continuity states are applied in this order, so the last one set wins; with none
// set the field keeps its value.
void ApplyContinuity(SeamWeldInstance* inst, const short states[4]) {
  static const short kValues[4] = {kContPosition, kContTangency, kContCurvature, kContNone};
  for (int i = 0; i < 4; ++i)
    if (states[i]) inst->continuity = kValues[i];
}

int BuildTopology(SeamWeldInstance* inst) {
  return DupNurbs(&inst->scene, inst->picks, kHostConstant, 1, inst->report, inst->nPicks, inst->maxGap,
                  inst->maxAngle, inst->healGap, inst->healAngle, inst->continuity);
}

// Index of the first decrease (or NaN) in v, -1 when none.
int FirstDecrease(const double* v, int n) {
  for (int i = 1; i < n; ++i)
    if (!(v[i] >= v[i - 1])) return i;  // also catches NaN
  return -1;
}

// The host stores single precision: a value is usable when it is finite and a float can hold
// it. NaN fails the comparison.
bool InHostRange(double x) { return std::fabs(x) <= FLT_MAX; }

// Index of the first value a float cannot hold, -1 when none.
long long FirstOutOfHostRange(const double* v, long long n) {
  for (long long i = 0; i < n; ++i)
    if (!InHostRange(v[i])) return i;
  return -1;
}

bool MatrixInHostRange(const float m[16]) {
  for (int i = 0; i < 16; ++i)
    if (!InHostRange(m[i])) return false;
  return true;
}

// Row-vector transform in single precision, as the host computes it.
void TransformPoint(const float m[16], double x, double y, double z, float out[3]) {
  float fx = static_cast<float>(x), fy = static_cast<float>(y), fz = static_cast<float>(z);
  out[0] = m[0] * fx + m[4] * fy + m[8] * fz + m[12];
  out[1] = m[1] * fx + m[5] * fy + m[9] * fz + m[13];
  out[2] = m[2] * fx + m[6] * fy + m[10] * fz + m[14];
}

// The host's vertices {x, y, z, 1} (w is not read), u fastest, as kernel control points of `out`
// (whose counts they match): moved by the deformation matrix in single precision, as the host hands
// them over. False, with the point's column and row, for a point a float cannot hold.
bool PointsFromHost(const double* vertices, const float matrix[16], Bspline* out, int* badU, int* badV) {
  const int cu = NumCtrlU(out), cv = NumCtrlV(out);
  for (int j = 0; j < cv; ++j) {
    for (int i = 0; i < cu; ++i) {
      const double* vtx = vertices + 4 * (static_cast<long long>(j) * cu + i);
      float p[3];
      TransformPoint(matrix, vtx[0], vtx[1], vtx[2], p);
      if (!InHostRange(p[0]) || !InHostRange(p[1]) || !InHostRange(p[2])) {
        *badU = i, *badV = j;
        return false;
      }
      out->X[j][i] = p[0];
      out->Y[j][i] = p[1];
      out->Z[j][i] = p[2];
    }
  }
  return true;
}

// Everything one run of DupNurbs owns, each with its owner: released on every path. The arrays
// hold one record per surface (n).
struct RunRecords {
  int n = 0;
  OwnedArray<Bspline, FreeBspline> srfs;
  OwnedArray<char, Free> names;
  OwnedArray<double, Free> saved;     // host vertex arrays as read, to put back a refused write-back
  OwnedArray<double, Free> vertices;  // host vertex arrays of the write-back
  Owned<float[16], Free> matrices, inverses;
  Owned<int, Free> fixed;
  Owned<int*, matrix_free_ih> result;
  Owned<int*, matrix_free_ih> reasons;  // per side, why it is open (kBndrOpen...; 0: none told)
};

// The kernel record's control points as host vertices {x, y, z, 1}, u fastest, moved by the
// inverse deformation in single precision as the host computes it; null when out of memory,
// and when a point is not finite in single precision before or after the inverse (the host
// must never receive a NaN or an infinity). Given the vertices as read and the matrix they were
// read with, a point the heal left where single precision cannot tell it from where it was read
// goes back as the host gave it: the round trip through single precision would move every point
// of a group that needs nothing by the rounding of its coordinates.
double* HostVertices(const Bspline* srf, const float inverse[16], const float matrix[16] = nullptr,
                     const double* read = nullptr) {
  if (!srf || !srf->X || !srf->Y || !srf->Z) return nullptr;
  const int cu = NumCtrlU(srf), cv = NumCtrlV(srf);
  const long long count = static_cast<long long>(cu) * cv;
  auto* vertices = MallocArray<double>(4, count);
  if (!vertices) return nullptr;
  for (int j = 0; j < cv; ++j) {
    for (int i = 0; i < cu; ++i) {
      double* vtx = vertices + 4 * (static_cast<long long>(j) * cu + i);
      float p[3];
      TransformPoint(inverse, srf->X[j][i], srf->Y[j][i], srf->Z[j][i], p);
      if (read && matrix) {
        // Where it was read, taken back the same way: the same host value, nothing to write.
        const double* was = read + 4 * (static_cast<long long>(j) * cu + i);
        float q[3], back[3];
        TransformPoint(matrix, was[0], was[1], was[2], q);
        TransformPoint(inverse, q[0], q[1], q[2], back);
        if (back[0] == p[0] && back[1] == p[1] && back[2] == p[2]) {
          std::copy(was, was + 4, vtx);
          continue;
        }
      }
      if (!InHostRange(srf->X[j][i]) || !InHostRange(srf->Y[j][i]) || !InHostRange(srf->Z[j][i]) ||
          !InHostRange(p[0]) || !InHostRange(p[1]) || !InHostRange(p[2])) {
        Free(vertices);
        return nullptr;
      }
      vtx[0] = p[0];
      vtx[1] = p[1];
      vtx[2] = p[2];
      vtx[3] = 1.0;
    }
  }
  return vertices;
}

int SetHostVertices(const SAA_Scene* scene, const Bspline* srf, const SAA_Elem* element, int hostConstant,
                    const double* vertices) {
  const int count = NumCtrlU(srf) * NumCtrlV(srf);
  int s = SAA_modelSetVertices(scene, element, hostConstant, 0, count, vertices);
  if (s) return HostError(s, "SAA_modelSetVertices");
  return 0;
}

// Codes that say a side was healed (fully or to one target) are withdrawn when the run writes
// nothing, or not all, of the heal: the report must not call a seam healed that the host does
// not hold. Codes that say why a side was not healed, or that it is a held outer side, stay.
void WithdrawHealedCodes(RunRecords& run, int code) {
  if (!run.result) return;
  for (int i = 0; i < run.n; ++i)
    for (int c = 0; c < 4; ++c)
      if (run.result[i][c] == 0 || run.result[i][c] == -5 || run.result[i][c] == -6) run.result[i][c] = code;
}

// The plug-in's own side codes, beyond the kernel's 0 .. -6, each with a line of its own in the
// report: they say why a side the heal reached is not held healed by the host.
constexpr int kCodeWriteRefused = -101;

// Why a side is open, in the report's words: a side left open (its gap target not met) whose
// seam the structure can say why of has its reason beside its code, in a field of its own. The
// report prints the code's text and then the reason.
const char* OpenReasonText(int reason) {
  switch (reason) {
    case kBndrOpenCoarseSide:
      return "its control net is too coarse to follow the shape of the side beside it";
    case kBndrOpenCoarseOther:
      return "the control net of the side beside it is too coarse to follow its shape";
    case kBndrOpenHeldEnd:
      return "an end of it lies on the held outer boundary, where the two surfaces' corners differ";
    case kBndrOpenKeptStart:
      return "healing a surface of it made a seam wider or steeper than it came, so that surface kept its place";
    case kBndrOpenKeptFold:
      return "closing it turned a surface's normals over more sharply than the surface came, "
             "so that surface kept its place";
    case kBndrOpenKeptAlone:
      return "the surface beside it kept its place, and a surface of it closes none of its seams without it, "
             "so it kept its place too";
    case kBndrOpenMovedEnd:
      return "an end of it lies partway along the side beside it, and healing moved that end onto that side "
             "at the place along it where the end met it, a place that moves with that side when the heal moves it: "
             "the seam is closed up to where that end now lies, which may differ from where it lay before the "
             "surfaces moved";
    case kBndrOpenCornersApart:
      return "it runs beside another surface's side, but their corners lie farther apart than the largest gap, "
             "so the two were not paired as a seam";
    case kBndrOpenStalled:
      return "the heal's positional passes stopped narrowing it before it reached the gap target";
    case kBndrOpenPassesEnded:
      return "the heal's positional passes ended before it reached the gap target";
    case kBndrOpenReopened:
      return "the heal's positional passes closed it, but the passes after them, which shape the surfaces across "
             "their seams and keep each within its move bound, opened it again beyond the gap target";
    case kBndrOpenCornersSplit:
      return "it runs beside another surface's side, but the surfaces' corners at an end of them spread wider "
             "than the largest gap, so their corners did not meet and the two were not paired as a seam";
    case kBndrOpenEndsApart:
      return "its two surfaces' corners at an end of it lie apart along it by more than the gap target: "
             "one surface ends short of the other";
    default:
      return nullptr;
  }
}

// A held outer side whose ends the heal moved, to close the seams ending at its corners: its code
// still says the side is held, and the report adds that its ends are not. Not a reason for an
// open side: the report prints it after the code's text with a connector of its own.
constexpr int kHeldEndsMoved = 100;
constexpr const char* kHeldEndsMovedText = "its ends moved to close the seams that end there, the rest of it is held";

// Gives every side left open the first reason any of its seams gives (the stored topology holds
// the surfaces as the heal left them, and which of them it put back). Sides the heal met, or whose
// seams give no reason the structure can tell, get none.
int AddOpenReasons(int* const* result, int** reasons, int n, double healGap) {
  const BndrStruct* bs = srfsTopology;
  if (!bs || !result || !reasons) return 0;
  // Why each side in no seam is in none, found for all sides at once: asked side by side, the
  // report would sample every side again for each.
  TrackingScope scope;
  int* unpaired = MallocArray<int>(std::max(bs->nCrv, 1));
  if (!unpaired || FindBndrCrvUnpairedReasons(bs, 0.0, unpaired) != 0) return -2;
  for (int c = 0; c < bs->nCrv; ++c) {
    const CrvInfoStruct* crv = &bs->crvs[c];
    if (crv->side < 1 || crv->side > 4 || !crv->srfInfo || !crv->edgeIds) continue;
    const int s = crv->srfInfo->index;
    if (s < 0 || s >= n) continue;
    const int code = result[s][crv->side - 1];
    int& why = reasons[s][crv->side - 1];
    if (why != 0) continue;
    // A stitch that stalled or ended short says least of all: an end of the seam, below, says more
    // where it can.
    int stalled = 0;
    if (code == -4 || code == -6) {
      for (int k = 0; k < crv->nEdge && why == 0; ++k) {
        const int id = crv->edgeIds[k];
        if (id < 0 || id >= bs->nEdge || bs->edges[id].maxGap <= healGap) continue;
        const EdgeInfoStruct* e = &bs->edges[id];
        const int reason = FindBndrEdgeOpenReason(bs, id, e->infoA == crv ? 0 : 1, healGap);
        if (reason < 0) return -2;
        if (reason == kBndrOpenStalled || reason == kBndrOpenPassesEnded || reason == kBndrOpenReopened)
          stalled = stalled ? stalled : reason;
        else
          why = reason;
      }
      if (why != 0) continue;
    }
    // A side in no seam may run beside another whose corners lie too far from its own to pair.
    if (code == -3 || code == 0) {
      int reason = unpaired[c];
      // The pairing looked at the sides as they came: where the heal has since moved them nearer,
      // the reason they gave then still holds.
      if (reason == 0) reason = crv->unpairedReason;
      if (reason > 0) {
        why = reason;
        continue;
      }
    }
    if (code == -3) {
      if (crv->outer && crv->outerCont >= 0 && crv->endMove > healGap) why = kHeldEndsMoved;
      continue;
    }
    // A seam the heal closed, or left open for no reason above, may still be open where one of its
    // ends lay along the other side before the surfaces moved.
    if (code != 0 && code != -4 && code != -5 && code != -6) continue;
    for (int k = 0; k < crv->nEdge; ++k) {
      const int id = crv->edgeIds[k];
      if (id < 0 || id >= bs->nEdge) continue;
      const int reason = FindBndrEdgeEndReason(bs, id, bs->edges[id].infoA == crv ? 0 : 1, healGap);
      if (reason < 0) return -2;
      // Corners apart along a seam the heal closed are those of a side running on a little past
      // the other (ends within a hundredth of the side), as the model may have them.
      if (reason == 0 || (reason == kBndrOpenEndsApart && (code == 0 || code == -5))) continue;
      why = reason;
      break;
    }
    if (why == 0 && stalled) why = stalled;
  }
  return 0;
}

// The host keeps control points in single precision: about the group's farthest coordinate from
// the origin (`reach`, in either the host's space or the kernel's) floats lie `spacing` apart, and
// a rounded point moves up to half that along each axis, sqrt(3)/2 of it in all. Two sides rounded
// apart can so open by sqrt(3) spacings: a target below that cannot be promised there.
struct HostPrecision {
  double reach = 0.0;
  double spacing = 0.0;
  bool Limits(double target) const { return std::sqrt(3.0) * spacing > target; }
};

// The plug-in's own reasons for a side left open, beyond the structure's: the host's single
// precision, too coarse for the targets (kOpenSinglePrecision) or to tell whether a side in no seam
// meets the side beside it within the largest gap (kUnpairedSinglePrecision).
constexpr int kOpenSinglePrecision = 101;
constexpr int kUnpairedSinglePrecision = 102;

// Where rounding moves no control point by this share of HEALGAP, the host holds the seams as the
// heal measured them (its gap target is half of HEALGAP): no second measure is needed.
constexpr double kHeldMeasureShare = 0.1;

bool GapMet(int code) { return code == 0 || code == -5; }
bool AngleMet(int code) { return code == 0 || code == -6; }
bool MeasuredCode(int code) { return code <= 0 && code >= -6 && code != -1 && code != -2 && code != -3; }
int CodeOf(bool gap, bool angle) { return gap ? (angle ? 0 : -5) : (angle ? -6 : -4); }

HostPrecision GroupPrecision(const RunRecords& run) {
  HostPrecision hp;
  for (int i = 0; i < run.n; ++i) {
    const Bspline* srf = run.srfs[i];
    const long long count = static_cast<long long>(NumCtrlU(srf)) * NumCtrlV(srf);
    for (int j = 0; j < NumCtrlV(srf); ++j)
      for (int k = 0; k < NumCtrlU(srf); ++k)
        hp.reach = std::max({hp.reach, std::fabs(srf->X[j][k]), std::fabs(srf->Y[j][k]), std::fabs(srf->Z[j][k])});
    for (long long k = 0; run.vertices && run.vertices[i] && k < count; ++k)
      for (int c = 0; c < 3; ++c) hp.reach = std::max(hp.reach, std::fabs(run.vertices[i][4 * k + c]));
  }
  const float at = static_cast<float>(hp.reach);
  hp.spacing = static_cast<double>(std::nextafter(at, FLT_MAX)) - static_cast<double>(at);
  return hp;
}

// Measures the heal as the host will hold it: the vertices about to be written (a point the heal
// left where single precision cannot tell it from where it was read goes back as the host gave it,
// the rest rounded through the inverse), placed by the deformation matrix. A side that met a target
// as the heal computed it and misses it so is coded open, with the single-precision reason; the
// topology is left holding the group as the host will. -2 when out of memory.
int MeasureAsHostHolds(RunRecords& run, double healGap, double healAngle) {
  const int n = run.n;
  auto held = OwnedArray<Bspline, FreeBspline>::Zeroed(n);
  if (!held) return -2;
  double rounding = 0.0;
  for (int i = 0; i < n; ++i) {
    if (!(held[i] = CopyBsplineStructAndChildren(run.srfs[i]))) return -2;
    Bspline *a = held[i], *b = run.srfs[i];
    const float* m = run.matrices[i];
    const int cu = NumCtrlU(a);
    for (int j = 0; j < NumCtrlV(a); ++j)
      for (int k = 0; k < cu; ++k) {
        const double* v = run.vertices[i] + 4 * (static_cast<long long>(j) * cu + k);
        double p[3];
        for (int c = 0; c < 3; ++c) p[c] = m[c] * v[0] + m[4 + c] * v[1] + m[8 + c] * v[2] + m[12 + c];
        a->X[j][k] = p[0], a->Y[j][k] = p[1], a->Z[j][k] = p[2];
        const double d[3] = {p[0] - b->X[j][k], p[1] - b->Y[j][k], p[2] - b->Z[j][k]};
        rounding = std::max(rounding, std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]));
      }
  }
  if (rounding <= kHeldMeasureShare * healGap) return 0;
  // Both measured alike, so that only the rounding tells them apart.
  Owned<int*, matrix_free_ih> computed(allocate_matrix_ih(n, 4)), asHeld(allocate_matrix_ih(n, 4));
  if (!computed || !asHeld) return -2;
  for (int i = 0; i < n; ++i)
    for (int c = 0; c < 4; ++c) computed[i][c] = asHeld[i][c] = run.result[i][c];
  if (MeasureGroupAsHeldZK(run.srfs.get(), n, healGap, healAngle, computed.get()) != 0 ||
      MeasureGroupAsHeldZK(held.get(), n, healGap, healAngle, asHeld.get()) != 0)
    return -2;
  for (int i = 0; i < n; ++i)
    for (int c = 0; c < 4; ++c) {
      int& code = run.result[i][c];
      const int was = computed[i][c], now = asHeld[i][c];
      if (!MeasuredCode(code) || !MeasuredCode(was) || !MeasuredCode(now)) continue;
      const bool gap = GapMet(code) && !(GapMet(was) && !GapMet(now));
      const bool angle = AngleMet(code) && !(AngleMet(was) && !AngleMet(now));
      if (CodeOf(gap, angle) == code) continue;
      code = CodeOf(gap, angle);
      run.reasons[i][c] = kOpenSinglePrecision;
    }
  return 0;
}

// Sides the host's single precision leaves open without another reason: a seam short of the gap
// target where the spacing cannot promise it, and a side in no seam that lies beside another
// within the largest gap widened by the rounding of both. -2 when out of memory.
int AddPrecisionReasons(RunRecords& run, const HostPrecision& hp, double maxGap, double healGap) {
  const BndrStruct* bs = srfsTopology;
  if (!bs || !hp.Limits(healGap)) return 0;
  // Sides in no seam are searched again only where the rounding can part them beyond MAXGAP.
  TrackingScope scope;
  int* beside = nullptr;
  if (hp.Limits(maxGap)) {
    beside = MallocArray<int>(std::max(bs->nCrv, 1));
    const double widened = maxGap + 2.0 * std::sqrt(3.0) * hp.spacing;
    if (!beside || FindBndrCrvUnpairedReasons(bs, widened, beside) != 0) return -2;
  }
  for (int c = 0; c < bs->nCrv; ++c) {
    const CrvInfoStruct* crv = &bs->crvs[c];
    if (crv->side < 1 || crv->side > 4 || !crv->srfInfo) continue;
    const int s = crv->srfInfo->index;
    if (s < 0 || s >= run.n) continue;
    const int code = run.result[s][crv->side - 1];
    int& why = run.reasons[s][crv->side - 1];
    if (why != 0 && why != kHeldEndsMoved) continue;
    if (code == -4 || code == -6)
      why = kOpenSinglePrecision;
    else if ((code == -3 || code == 0) && beside && beside[c] > 0)
      why = kUnpairedSinglePrecision;
  }
  return 0;
}

// A run that writes nothing back: the report (when asked for) says no side was healed.
int ReportUnwritten(RunRecords& run, int doReport, int status) {
  if (doReport && run.result) {
    for (int i = 0; i < run.n; ++i)
      for (int c = 0; c < 4; ++c) run.result[i][c] = status == kSeamWeldFailure ? -1 : -2;
    PrintHealingResult(run.names.get(), run.n, run.result.get());
  }
  return status;
}

// Writes every surface back. When the host refuses one, the surfaces already written are put
// back as they were read, so the host never holds half a heal; a surface the host refuses to
// take back is named on the message channel and marked in leftHealed. Returns the first
// refusal's status, 0 when all were written.
int WriteBack(RunRecords& run, const SAA_Scene* scene, const SAA_Elem* picks, int hostConstant, int* leftHealed) {
  for (int i = 0; i < run.n; ++i) {
    const int s = SetHostVertices(scene, run.srfs[i], &picks[i], hostConstant, run.vertices[i]);
    if (!s) continue;
    for (int k = 0; k < i; ++k)
      if ((leftHealed[k] = SetHostVertices(scene, run.srfs[k], &picks[k], hostConstant, run.saved[k]) != 0))
        fprintf(stderr, "ERROR : Surface %s is left healed: the host refused to write it back as it was\n",
                run.names[k]);
    return s;
  }
  return 0;
}

const char* DirectionName(int dir) { return dir == 0 ? "u" : "v"; }

// Sampled length of side `side` (1 u-min, 2 v-min, 3 u-max, 4 v-max) of a surface: 16 chords
// per knot span, at least 32, which is within a fraction of a percent of the arc length of
// any boundary a heal can work with.
double BoundaryCurveLength(const Bspline* srf, int side) {
  const bool alongU = side == 2 || side == 4;
  const int spans = (alongU ? srf->interiorU : srf->interiorV) + 1;
  const int samples = std::max(32, 16 * spans);
  const double t0 = alongU ? srf->umin : srf->vmin, t1 = alongU ? srf->umax : srf->vmax;
  const double fixed = side == 1 ? srf->umin : side == 3 ? srf->umax : side == 2 ? srf->vmin : srf->vmax;
  double length = 0.0, prev[3] = {0, 0, 0};
  for (int k = 0; k <= samples; ++k) {
    const double t = k == samples ? t1 : t0 + (t1 - t0) * k / samples;
    double p[3];
    Eval3DPointOnSurfArray(srf, alongU ? t : fixed, alongU ? fixed : t, 0, 0, p);
    if (k) length += std::sqrt((p[0] - prev[0]) * (p[0] - prev[0]) + (p[1] - prev[1]) * (p[1] - prev[1]) +
                               (p[2] - prev[2]) * (p[2] - prev[2]));
    std::copy(p, p + 3, prev);
  }
  return length;
}

// The boundary graph pairs boundary samples that lie within MAXGAP (times sqrt 2 along a
// diagonal) of each other. Once MAXGAP reaches the distance across a patch, a surface's own
// boundary curves pair with each other, its corners merge, the graph pairs nothing and every
// side counts as a free outer side, reported healed with its seam open. MAXGAP is therefore
// kept to a quarter of the group's shortest boundary curve: a square patch merges its own
// sides at about 0.7 of a side, a rhombus of 20 degrees at about 0.24. Collapsed sides (a
// pole, shorter than 1e-9 of the group's size) are points, not curves, and do not count.
constexpr double kMaxGapShare = 0.25;

int CheckMaxGapAgainstGroup(Bspline** srfs, const char* const* names, int n, double maxGap) {
  double lo[3] = {HUGE_VAL, HUGE_VAL, HUGE_VAL}, hi[3] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < NumCtrlV(srfs[i]); ++j)
      for (int k = 0; k < NumCtrlU(srfs[i]); ++k) {
        const double p[3] = {srfs[i]->X[j][k], srfs[i]->Y[j][k], srfs[i]->Z[j][k]};
        for (int c = 0; c < 3; ++c) lo[c] = std::min(lo[c], p[c]), hi[c] = std::max(hi[c], p[c]);
      }
  const double size = n > 0 ? std::sqrt((hi[0] - lo[0]) * (hi[0] - lo[0]) + (hi[1] - lo[1]) * (hi[1] - lo[1]) +
                                        (hi[2] - lo[2]) * (hi[2] - lo[2]))
                            : 0.0;
  double shortest = HUGE_VAL;
  int where = -1, whichSide = 0;
  for (int i = 0; i < n; ++i)
    for (int side = 1; side <= 4; ++side) {
      const double length = BoundaryCurveLength(srfs[i], side);
      if (length > 1e-9 * size && length < shortest) shortest = length, where = i, whichSide = side;
    }
  if (where < 0 || maxGap <= kMaxGapShare * shortest) return 0;
  static const char* const kSides[5] = {"", "Min_U", "Min_V", "Max_U", "Max_V"};
  fprintf(stderr,
          "ERROR : MAXGAP %g is too large: it must not exceed %g, a quarter of the shortest boundary curve "
          "(%s boundary of surface %s, length %g), or a surface's own boundaries would be taken for seams\n",
          maxGap, kMaxGapShare * shortest, kSides[whichSide], names[where] ? names[where] : "", shortest);
  return kSeamWeldFailure;
}

// Tolerances and targets that cannot work are refused before anything is read or built: a
// gap tolerance or target must be above 0 (a zero gap is never reached in floating point and
// a zero MAXGAP pairs nothing), HEALANGLE likewise, MAXANGLE may be 0 (every seam a crease,
// healed in position only); none may be negative or not finite.
int CheckValues(double maxGap, double maxAngle, double healGap, double healAngle) {
  const struct {
    const char* name;
    double value;
    bool zeroWorks;
  } values[4] = {{"MAXGAP", maxGap, false}, {"MAXANGLE", maxAngle, true}, {"HEALGAP", healGap, false},
                 {"HEALANGLE", healAngle, false}};
  for (const auto& v : values) {
    const bool ok = std::isfinite(v.value) && (v.zeroWorks ? v.value >= 0.0 : v.value > 0.0);
    if (ok) continue;
    fprintf(stderr, "ERROR : %s %g cannot be used: it must be a finite number %s\n", v.name, v.value,
            v.zeroWorks ? "of at least 0" : "above 0");
    return kSeamWeldFailure;
  }
  return 0;
}

// Host surface into a kernel record in world space; SAA2ZK without the name. Every refusal of
// the host's data names the fault (and the surface, when `name` is given). With `kept`, the
// host's vertex array as read is handed to the caller on success, to restore the surface.
int ConvertHostSurface(const SAA_Scene* scene, Bspline* out, const SAA_Elem* element, int hostConstant,
                       const float matrix[16], const char* name, double** kept) {
  if (!out || !element || !matrix) return kSeamWeldFailure;
  if (!MatrixInHostRange(matrix))
    return RefuseSurface(name, "its deformation matrix holds a value that is not finite in single precision");
  int s = 0;
  short closedU = 0, closedV = 0;
  if ((s = SAA_nurbsSurfaceGetClosed(scene, element, &closedU, &closedV))) return HostError(s, "SAA_nurbsSurfaceGetClosed");
  if (closedU || closedV) {
    fprintf(stderr, "ERROR: Cannot manage closed surfaces\n");
    return kSeamWeldFailure;
  }
  int pu = 0, pv = 0;
  if ((s = SAA_nurbsSurfaceGetDegree(scene, element, &pu, &pv))) return HostError(s, "SAA_nurbsSurfaceGetDegree");
  int ku = 0, kv = 0;
  if ((s = SAA_nurbsSurfaceGetNbKnots(scene, element, &ku, &kv))) return HostError(s, "SAA_nurbsSurfaceGetNbKnots");
  if (ku < 1 || kv < 1) return RefuseSurface(name, "the host gives %d x %d knots", ku, kv);

  TrackingScope scope;  // scratch knots and vertices, whatever path we leave by
  auto* hostU = MallocArray<double>(ku);
  auto* hostV = MallocArray<double>(kv);
  if (!hostU || !hostV) return kSeamWeldFailure;
  if ((s = SAA_nurbsSurfaceGetKnots(scene, element, hostConstant, 0, ku, kv, hostU, hostV)))
    return HostError(s, "SAA_nurbsSurfaceGetKnots");
  int cu = 0, cv = 0;
  if ((s = SAA_nurbsSurfaceGetNbVertices(scene, element, &cu, &cv))) return HostError(s, "SAA_nurbsSurfaceGetNbVertices");

  // The host's data is checked before anything is indexed with it.
  if (pu < 1 || pv < 1) return RefuseSurface(name, "degree %d x %d (each must be at least 1)", pu, pv);
  if (pu > kMaxSplineDegree || pv > kMaxSplineDegree)
    return RefuseSurface(name, "degree %d x %d is above %d, the highest the heal works with", pu, pv, kMaxSplineDegree);
  if (cu < pu + 1 || cv < pv + 1)
    return RefuseSurface(name, "%d x %d control points for degree %d x %d (at least degree + 1 each way)", cu, cv,
                         pu, pv);
  const int counts[2] = {ku, kv}, expected[2] = {cu + pu - 1, cv + pv - 1};
  const double* knots[2] = {hostU, hostV};
  for (int d = 0; d < 2; ++d) {
    if (counts[d] != expected[d])
      return RefuseSurface(name, "%d knots in %s where its control points and degree need %d", counts[d],
                           DirectionName(d), expected[d]);
    const int bad = FirstDecrease(knots[d], counts[d]);
    if (bad >= 0) return RefuseSurface(name, "knot %d in %s is below the one before it or not a number", bad, DirectionName(d));
    // Host vectors hold the clamped ends degree times; a knot repeated more often than the
    // degree breaks the surface apart (or leaves a span of nothing at an end).
    const int p = d == 0 ? pu : pv;
    for (int i = 0; i + p < counts[d]; ++i)
      if (!(knots[d][i + p] > knots[d][i]))
        return RefuseSurface(name, "knot %d in %s is repeated more than degree %d times", i, DirectionName(d), p);
    const long long huge = FirstOutOfHostRange(knots[d], counts[d]);
    if (huge >= 0) return RefuseSurface(name, "knot %lld in %s is not finite in single precision", huge, DirectionName(d));
  }
  // An empty domain (knots that differ by less than double precision can tell, as 1e30 + t
  // does) leaves nothing to evaluate or heal.
  if (!(hostU[pu - 1] < hostU[ku - pu]) || !(hostV[pv - 1] < hostV[kv - pv]))
    return RefuseSurface(name, "its parameter domain is empty");
  const long long count = static_cast<long long>(cu) * cv;
  if (count > (1 << 24)) return RefuseSurface(name, "%d x %d control points are more than the plug-in takes", cu, cv);

  auto* vertices = MallocArray<double>(4, count);
  if (!vertices) return kSeamWeldFailure;
  if ((s = SAA_modelGetVertices(scene, element, hostConstant, 0, static_cast<int>(count), vertices)))
    return HostError(s, "SAA_modelGetVertices");
  const long long bad = FirstOutOfHostRange(vertices, 4 * count);
  if (bad >= 0)
    return RefuseSurface(name, "control point %lld holds a value that is not finite in single precision", bad / 4);
  // The heal moves x, y and z only and the host takes back w = 1: a weighted surface would
  // come back as another shape, so it is refused before anything is built from it.
  for (long long k = 0; k < count; ++k)
    if (vertices[4 * k + 3] != 1.0) {
      if (name)
        fprintf(stderr, "ERROR: Cannot manage rational surfaces (surface %s has a weight other than 1)\n", name);
      else
        fprintf(stderr, "ERROR: Cannot manage rational surfaces\n");
      return kSeamWeldFailure;
    }

  out->kind = 2;
  out->dimension = 3;
  out->rational = 0;
  out->closedU = out->closedV = 0;
  out->degreeU = pu;
  out->degreeV = pv;
  out->interiorU = ku - 2 * pu;
  out->interiorV = kv - 2 * pv;
  AllocateBsplineArrays(out);
  if (KernelFailed() || !out->knotsU || !out->knotsV || !out->X) return kSeamWeldFailure;

  // The kernel's clamped vectors repeat the host's first and last knot once more.
  auto widen = [](const double* host, int k, double* kernel) {
    kernel[0] = host[0];
    for (int i = 0; i < k; ++i) kernel[i + 1] = host[i];
    kernel[k + 1] = host[k - 1];
  };
  widen(hostU, ku, out->knotsU);
  widen(hostV, kv, out->knotsV);
  out->umin = hostU[pu - 1];
  out->umax = hostU[ku - pu];
  out->vmin = hostV[pv - 1];
  out->vmax = hostV[kv - pv];

  int badU = 0, badV = 0;
  if (!PointsFromHost(vertices, matrix, out, &badU, &badV))
    return RefuseSurface(name, "control point %d, %d leaves single precision under its deformation matrix", badU, badV);
  if (kept) {
    RemoveMallocFromTrack(vertices);  // the caller's from here
    *kept = vertices;
  }
  return 0;
}

}  // namespace

int CheckArgs(int n, const SAA_Elem* picks) {
  for (int i = 0; i < n; ++i)
    for (int j = i + 1; j < n; ++j)
      if (std::memcmp(picks[i].words, picks[j].words, 3 * sizeof(int)) == 0) return kSeamWeldFailure;
  return 0;
}

int Getvalues(SAA_CustomContext ctx, SeamWeldInstance* inst) {
  SAA_CustomValueList list = nullptr;
  int s = SAA_customContextGetCustomValueList(ctx, &list);
  if (s) return HostError(s, "SAA_customContextGetCustomValueList");

  // A switch the effect does not define is off, as an unticked box would be; a tolerance has no
  // value that could stand for it, so one the effect does not define refuses the run.
  short report = 0;
  if ((s = SAA_cusvalGetStateValue(list, "DUMP", &report)) && s != SAA_ERR_NOT_FOUND)
    return HostError(s, "SAA_cusvalGetStateValue");
  inst->report = s ? 0 : report;
  const char* floatNames[4] = {"MAXGAP", "MAXANGLE", "HEALGAP", "HEALANGLE"};
  double* floatFields[4] = {&inst->maxGap, &inst->maxAngle, &inst->healGap, &inst->healAngle};
  for (int i = 0; i < 4; ++i) {
    float value = 0.0f;
    if ((s = SAA_cusvalGetFloatValue(list, floatNames[i], &value))) {
      if (s != SAA_ERR_NOT_FOUND) return HostError(s, "SAA_cusvalGetFloatValue");
      fprintf(stderr, "ERROR : The effect defines no custom value \"%s\"; it needs MAXGAP, MAXANGLE, HEALGAP and HEALANGLE\n",
              floatNames[i]);
      return kSeamWeldFailure;
    }
    *floatFields[i] = value;
  }
  const char* stateNames[4] = {"POSITION", "TANGENCY", "CURVATURE", "NONE"};
  short states[4] = {0, 0, 0, 0};
  for (int i = 0; i < 4; ++i)
    if ((s = SAA_cusvalGetStateValue(list, stateNames[i], &states[i]))) {
      if (s != SAA_ERR_NOT_FOUND) return HostError(s, "SAA_cusvalGetStateValue");
      states[i] = 0;
    }
  ApplyContinuity(inst, states);
  return 0;
}

extern "C" int initSeamWeld(SAA_CustomContext ctx) {
  int s = SAA_sceneInitInternal(kSdkVersion);
  if (s) return HostError(s, "SAA_sceneInit");

  auto* inst = CallocArray<SeamWeldInstance>(1);
  if (!inst) return kSeamWeldFailure;
  if ((s = SAA_customContextSetInstanceData(ctx, inst))) {
    Free(inst);  // never registered, so nobody else can release it
    return HostError(s, "SAA_customContextSetInstanceData");
  }
  // From here the instance is registered and cleanupSeamWeld releases it on every path.
  if ((s = SAA_sceneGetCurrent(&inst->scene))) return HostError(s, "SAA_sceneGetCurrent");
  int n = 0;
  if ((s = SAA_customContextGetNbResults(ctx, &n))) return HostError(s, "SAA_customContextGetNbResults");
  if (n < 1) return NothingPicked();
  inst->picks = CallocArray<SAA_Elem>(n);
  if (!inst->picks) return kSeamWeldFailure;
  inst->nPicks = n;
  if ((s = SAA_customContextGetResults(ctx, n, inst->picks))) return HostError(s, "SAA_customContextGetResults");

  if (CheckArgs(n, inst->picks)) {
    fprintf(stderr, "ERROR : Cannot pick twice the same surface\n");
    return kSeamWeldFailure;
  }
  // A failed read has been reported; the values not read would be zeros, which cannot heal,
  // so initialisation ends with the host's status.
  if ((s = Getvalues(ctx, inst))) return s;
  inst->updateCount = 0;
  return BuildTopology(inst);
}

extern "C" int editSeamWeld(SAA_CustomContext ctx) {
  void* inst = nullptr;
  int s = SAA_customContextGetInstanceData(ctx, &inst);
  if (s) return HostError(s, "SAA_customContextGetInstanceData");
  if (!inst) return NoInstance();  // the callback would have nothing to fill
  return SAA_dialogitemAddCallback(ctx, kItemOk, OkCallback, inst);
}

int OkCallback(SAA_Dialog dialog, int, void* data) {
  auto* inst = static_cast<SeamWeldInstance*>(data);
  if (!inst) return NoInstance();
  int s = 0;
  short report = 0;
  if ((s = SAA_dialogitemGetStateValue(dialog, kItemReport, &report))) return HostError(s, "SAA_dialogitemGetStateValue");
  inst->report = report;
  const int floatItems[4] = {kItemMaxGap, kItemMaxAngle, kItemHealGap, kItemHealAngle};
  double* floatFields[4] = {&inst->maxGap, &inst->maxAngle, &inst->healGap, &inst->healAngle};
  for (int i = 0; i < 4; ++i) {
    float value = 0.0f;
    if ((s = SAA_dialogitemGetFloatValue(dialog, floatItems[i], &value)))
      return HostError(s, "SAA_dialogitemGetFloatValue");
    *floatFields[i] = value;
  }
  const int stateItems[4] = {kItemPosition, kItemTangency, kItemCurvature, kItemNone};
  short states[4] = {0, 0, 0, 0};
  for (int i = 0; i < 4; ++i)
    if ((s = SAA_dialogitemGetStateValue(dialog, stateItems[i], &states[i])))
      return HostError(s, "SAA_dialogitemGetStateValue");
  ApplyContinuity(inst, states);

  inst->updateCount = 0;
  CleanupTopology();
  return BuildTopology(inst);
}

extern "C" int updateSeamWeld(SAA_CustomContext ctx) {
  void* data = nullptr;
  int s = SAA_customContextGetInstanceData(ctx, &data);
  if (s) return HostError(s, "SAA_customContextGetInstanceData");
  auto* inst = static_cast<SeamWeldInstance*>(data);
  if (!inst) return NoInstance();

  float frame = 0.0f;
  if ((s = SAA_sceneGetPlayCtrlCurrentFrame(&inst->scene, &frame)))
    return HostError(s, "SAA_sceneGetPlayCtrlCurrentFrame");
  int k = 0;
  if ((s = SAA_customContextGetCurrentResultIndex(ctx, &k)))
    return HostError(s, "SAA_customContextGetCurrentResultIndex");

  const int n = inst->nPicks;
  if (n < 1) return NothingPicked();  // init refused this instance for it
  SAA_Elem* scratch = CallocArray<SAA_Elem>(n);
  if (!scratch) return kSeamWeldFailure;
  if ((s = SAA_customContextGetResults(ctx, n, scratch))) {
    Free(scratch);
    return HostError(s, "SAA_customContextGetResults");
  }
  if (k < 0 || k >= n) {  // the host's index is not trusted with our array
    Free(scratch);
    fprintf(stderr, "ERROR : The host's changed pick %d is not one of the %d picks\n", k, n);
    return kSeamWeldFailure;
  }
  inst->updateCount += 1;
  inst->picks[k] = scratch[k];
  Free(scratch);
  if (inst->updateCount < n) return 0;

  inst->updateCount = 0;
  const int status = DupNurbs(&inst->scene, inst->picks, kHostConstant, 0, inst->report, n, inst->maxGap,
                              inst->maxAngle, inst->healGap, inst->healAngle, inst->continuity);
  // The host knows 0, 95 and its own statuses: the kernel's failure of the heal (a topology
  // that a failed init never built among them) is the plug-in's own, already reported.
  return status < 0 ? kSeamWeldFailure : status;
}

extern "C" int cleanupSeamWeld(SAA_CustomContext ctx) {
  void* data = nullptr;
  int s = SAA_customContextGetInstanceData(ctx, &data);
  if (s) return HostError(s, "SAA_customContextGetInstanceData");
  if (data) {
    // Unregister first, so that a later call on this context finds no freed instance.
    if ((s = SAA_customContextSetInstanceData(ctx, nullptr))) return HostError(s, "SAA_customContextSetInstanceData");
    auto* inst = static_cast<SeamWeldInstance*>(data);
    Free(inst->picks);
    Free(inst);
  }
  CleanupTopology();
  return 0;
}

int DupNurbs(const SAA_Scene* scene, const SAA_Elem* picks, int hostConstant, short buildMode, short report, int n,
             double maxGap, double maxAngle, double healGap, double healAngle, short continuity) {
  // Every run starts with a clean kernel error state: a failure of an earlier run must not
  // make this one fail.
  ClearKernelError();
  if (CheckValues(maxGap, maxAngle, healGap, healAngle)) return kSeamWeldFailure;
  if (n < 1) return NothingPicked();
  RunRecords run;
  run.srfs = OwnedArray<Bspline, FreeBspline>::Zeroed(std::max(n, 0));
  run.names = OwnedArray<char, Free>::Zeroed(std::max(n, 0));
  run.saved = OwnedArray<double, Free>::Zeroed(std::max(n, 0));
  run.matrices.reset(CallocArray<float[16]>(std::max(n, 0)));
  run.inverses.reset(CallocArray<float[16]>(std::max(n, 0)));
  if (n > 0 && (!run.srfs || !run.names || !run.saved || !run.matrices || !run.inverses)) return kSeamWeldFailure;
  run.n = n;

  int s = 0;
  for (int i = 0; i < n; ++i) {
    if (!(run.srfs[i] = MallocNullBspline())) return kSeamWeldFailure;
    int length = 0;
    if ((s = SAA_elementGetNameLength(scene, &picks[i], &length))) return HostError(s, "SAA_elementGetNameLength");
    if (length < 0) {
      fprintf(stderr, "ERROR : The host gives pick %d a name of length %d\n", i + 1, length);
      return kSeamWeldFailure;
    }
    if (!(run.names[i] = CallocArray<char>(std::max(length + 1, 0)))) return kSeamWeldFailure;
    if ((s = SAA_elementGetName(scene, &picks[i], length + 1, run.names[i]))) return HostError(s, "SAA_elementGetName");
    if ((s = SAA_modelGetDeformationMatrix(scene, &picks[i], run.matrices[i])))
      return HostError(s, "SAA_modelGetDeformationMatrix");
    // The host's vertices as read are kept in heal mode: they put a surface back when the host
    // refuses a later surface's write-back.
    if ((s = ConvertHostSurface(scene, run.srfs[i], &picks[i], hostConstant, run.matrices[i], run.names[i],
                                buildMode ? nullptr : &run.saved[i])))
      return s;
    // The inverse that writes the heal back is asked for now, so that a matrix without one
    // stops the run before the heal has moved anything rather than half-way through the
    // write-back.
    if ((s = SAA_matrixInvert(run.matrices[i], run.inverses[i]))) {
      if (s == SAA_ERR_SINGULAR) return RefuseSurface(run.names[i], "its deformation matrix has no inverse");
      return HostError(s, "SAA_matrixInvert");
    }
    if (!MatrixInHostRange(run.inverses[i]))
      return RefuseSurface(run.names[i], "the inverse of its deformation matrix is not finite in single precision");
  }
  if (CheckMaxGapAgainstGroup(run.srfs.get(), run.names.get(), n, maxGap)) return kSeamWeldFailure;

  // The kernel's failure is the plug-in's own to the host, which knows 0, 95 and its statuses.
  if (buildMode) {
    const int status = MakeTopologyZK(run.srfs.get(), n, maxGap, maxAngle);
    if (status && !MemoryErrorSet())
      fprintf(stderr, "ERROR : The boundary topology of the %d surfaces could not be built (status %d)\n", n, status);
    return status ? kSeamWeldFailure : 0;
  }

  run.fixed.reset(CallocArray<int>(std::max(n, 0)));  // the plug-in holds no surface fixed
  const int doReport = report ? 1 : 0;
  run.result.reset(allocate_matrix_ih(n > 0 ? n : 1, 4));
  if ((n > 0 && !run.fixed) || !run.result) return kSeamWeldFailure;
  // A heal that fails before it fills the matrix must not leave codes for the report to invent.
  for (int i = 0; i < (n > 0 ? n : 1); ++i)
    for (int j = 0; j < 4; ++j) run.result[i][j] = -2;

  const int status = HealTopologyZK(run.srfs.get(), n, run.fixed.get(), continuity, 1, healGap, healAngle, doReport,
                                    run.result.get());
  // A failed heal has changed no record, and writing the records back would still move the
  // host's surfaces by the single-precision round trip through the matrix and its inverse
  // (far beyond float rounding under a large scale): nothing is written.
  if (status) {
    if (!MemoryErrorSet()) fprintf(stderr, "ERROR : The heal failed (status %d); no surface was changed\n", status);
    WithdrawHealedCodes(run, MemoryErrorSet() ? -1 : -2);
    if (doReport) PrintHealingResult(run.names.get(), n, run.result.get());
    return status;
  }

  // Everything the write-back needs is made before anything is written or reported, so that a
  // failure here writes nothing and the report says so, instead of leaving some surfaces
  // unwritten under a report of every side healed. A surface whose healed points a float
  // cannot hold is such a failure: the host never receives a NaN or an infinity.
  run.vertices = OwnedArray<double, Free>::Zeroed(std::max(n, 0));
  if (n > 0 && !run.vertices) return ReportUnwritten(run, doReport, kSeamWeldFailure);
  for (int i = 0; i < n; ++i) {
    if (!(run.vertices[i] = HostVertices(run.srfs[i], run.inverses[i], run.matrices[i], run.saved[i]))) {
      if (!MemoryErrorSet())
        RefuseSurface(run.names[i], "its healed control points are not finite in single precision; nothing was written");
      return ReportUnwritten(run, doReport, kSeamWeldFailure);
    }
  }

  // A write-back the host refuses part-way is undone, and no side is reported healed: the
  // host holds the group as it was.
  Owned<int, Free> leftHealed(CallocArray<int>(std::max(n, 1)));
  if (!leftHealed) return ReportUnwritten(run, doReport, kSeamWeldFailure);
  const int writeFailure = WriteBack(run, scene, picks, hostConstant, leftHealed.get());
  if (writeFailure) WithdrawHealedCodes(run, kCodeWriteRefused);
  const HostPrecision precision = GroupPrecision(run);
  // The reasons are the report's own: running out of memory while finding them only leaves them out.
  if (doReport && !writeFailure) {
    run.reasons.reset(allocate_matrix_ih(n > 0 ? n : 1, 4));
    if (run.reasons)
      for (int i = 0; i < (n > 0 ? n : 1); ++i)
        for (int j = 0; j < 4; ++j) run.reasons[i][j] = 0;
    // The report speaks of what the host will hold: the heal rounded to single precision.
    if (!run.reasons || MeasureAsHostHolds(run, healGap, healAngle) != 0 ||
        AddOpenReasons(run.result.get(), run.reasons.get(), n, healGap) != 0 ||
        AddPrecisionReasons(run, precision, maxGap, healGap) != 0)
      ClearKernelError();
  }
  if (doReport) {
    const double figures[2] = {precision.reach, precision.spacing};
    PrintHealingReport(run.names.get(), n, run.result.get(), run.reasons.get(), figures);
    // The report ends with the surfaces the host holds healed while their neighbours are not.
    for (int i = 0; i < n; ++i)
      if (leftHealed[i]) printf("Surface %s is left healed: the host refused to write it back as it was\n", run.names[i]);
  }
  return writeFailure;
}

int SAA2ZK(const SAA_Scene* scene, Bspline* out, const SAA_Elem* element, int hostConstant, int, short,
           const float matrix[16]) {
  return ConvertHostSurface(scene, out, element, hostConstant, matrix, nullptr, nullptr);
}

int ZK2SAA(const SAA_Scene* scene, const Bspline* srf, const SAA_Elem* element, int hostConstant, short,
           const float inverse[16]) {
  if (!srf || !srf->X || !srf->Y || !srf->Z || !inverse) return kSeamWeldFailure;
  TrackingScope scope;
  const double* vertices = HostVertices(srf, inverse);
  if (!vertices) return kSeamWeldFailure;
  return SetHostVertices(scene, srf, element, hostConstant, vertices);
}

int GetHealingCodeString(int code, char* text) {
  static const char kTexts[7][256] = {
      "Successful healing",
      "Not healed because of memory error",
      "Not healed because of topology errors",
      "Fixed outer boundary with at least positional continuity",
      "Not healed to both positional and tangential tolerance",
      "Healed to positional tolerance, but not tangential tolerance",
      "Healed to tangential tolerance, but not posiional tolerance",  // the host's users know this text
  };
  text[0] = '\0';
  if (code < -6 || code > 0) return kSeamWeldFailure;
  std::strcpy(text, kTexts[-code]);
  return 0;
}

int PrintHealingResult(char** names, int n, int** result) { return PrintHealingReport(names, n, result, nullptr); }

int PrintHealingReport(char** names, int n, int** result, int** reasons, const double precision[2]) {
  if (!names || !result || n < 1) return kSeamWeldFailure;
  // Sides in the order Min_U, Max_U, Min_V, Max_V: result columns 0, 2, 1, 3.
  static const struct {
    const char* label;
    int column;
  } kSides[4] = {{"Min_U", 0}, {"Max_U", 2}, {"Min_V", 1}, {"Max_V", 3}};
  char text[256], precise[2][320];
  const double reach = precision ? precision[0] : 0.0, spacing = precision ? precision[1] : 0.0;
  std::snprintf(precise[0], sizeof precise[0],
                "the host holds control points in single precision, which %.3g from the origin spaces them "
                "%.3g apart: too coarse for the heal's targets there",
                reach, spacing);
  std::snprintf(precise[1], sizeof precise[1],
                "the host holds control points in single precision, which %.3g from the origin spaces them "
                "%.3g apart: too coarse to tell whether it meets the side beside it within the largest gap",
                reach, spacing);
  for (int i = 0; i < n; ++i) {
    printf("Surface %s\n", names[i] ? names[i] : "");
    for (const auto& side : kSides) {
      const int code = result[i][side.column];
      const int reason = reasons ? reasons[i][side.column] : 0;
      const char* why = reason == kOpenSinglePrecision       ? precise[0]
                        : reason == kUnpairedSinglePrecision ? precise[1]
                                                             : OpenReasonText(reason);
      if (GetHealingCodeString(code, text) != 0 && code == kCodeWriteRefused)
        std::snprintf(text, sizeof text, "Not healed: the host refused to write the heal back");
      if (reasons && reasons[i][side.column] == kHeldEndsMoved)
        printf("  %s boundary: %s; %s \n", side.label, text, kHeldEndsMovedText);
      else if (why)
        printf("  %s boundary: %s; open because %s \n", side.label, text, why);
      else
        printf("  %s boundary: %s \n", side.label, text);
    }
    printf("_______________________________________________________\n");
    printf("\n");
  }
  return 0;
}
