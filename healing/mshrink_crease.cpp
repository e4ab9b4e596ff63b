// Creases keep their angles: the angle solve of shared and split rows and of jitter creases.
#include "healing/mshrink.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <iterator>
#include <new>

#include "bspline/ctrlnubs.h"
#include "bspline/helper.h"
#include "bspline/refines2.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "foundation/bandsolve.h"
#include "foundation/coreglob.h"
#include "foundation/geometry.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "healing/mshrink_internal.h"
#include "healing/srfbndr.h"
#include "splinefit/fitsplin.h"

using namespace mshrink_internal;

// ---- a crease of one shared row keeps its angle -----------------------------------------------

namespace {

// Samples per knot span along the seam: between samples the solve does not see the angle, and at
// 4 a span a steep crease on noisy rows can end more than a degree off its start there.
constexpr int kCreaseSamples = 8;
// The same for a crease of two rows: its angles on rough grids are a few degrees, which 5 samples
// a span hold as well as 8 and 4 do not.
constexpr int kSplitCreaseSamples = 5;
// How far a control point of the seam's rows may end from where the heal found it, in start gaps
// of the seam: a surface is to move at most 3 x the largest gap closed on its sides, and the gap
// here, at 8 samples a span, can be a tenth above the one a coarser measure finds (so a cap of
// 2.5 lets a long net move beyond 3 x).
constexpr double kCreaseMoveCap = 2.0;
// Degrees off its start beyond which a sample of a shared row weighs more in a last round, where
// the least-squares solve left one more than that off (SolveCreaseRows).
constexpr double kCreaseOffAim = 0.9;
// Degrees of fold from which split rows keep the sense they fold in.
constexpr double kFoldSenseKept = 0.5;
// Unknowns per control index: each second row along its side's normal, the shared row along the
// mean of the two sides' normals and across the seam square to it (neither side leads: the heal
// is to be the same whichever side the seam lists first). Never along the seam: sliding the
// shared row along itself made cusps.
constexpr int kCreaseVars = 4;
// The first and last two control indices of the rows stay: the ends lie on the neighbouring
// sides' boundary rows, the next ones on their second rows, and freed they folded the strips' ends.
constexpr int kCreaseHeld = 2;
// Penalty weights of the movement cap, tightened in turn, and the damped steps at each: for a
// shared row until two steps running each lower the cost by less than kCreaseStall of it, at
// most kCreaseSteps (its first weight takes 20 to 50 steps on noisy rows, and cut off sooner a
// steep crease's sample can stay more than a degree off its start; the shared row's two
// unknowns damped alike take more steps than each by its own curvature did, and stopped at a
// thousandth a clean crease ended 0.12 degree off where it converges to 0.08); for split rows
// kSplitCreaseSteps, all taken.
constexpr double kCreaseCapWeights[] = {10.0, 100.0, 1000.0};
constexpr int kCreaseSteps = 60;
constexpr double kCreaseStall = 1e-4;
constexpr int kSplitCreaseSteps = 4;
// The same for a jitter crease's second solve: 3 steps lower the largest rises as far as 4 do,
// in less time.
constexpr int kJitterRiseSteps = 3;

// The seam's rows at unit size and its samples. Control index i is side A's; x holds per index the
// shared row's point, A's second row's and B's second row's (9 doubles).
struct CreaseRows {
  int n = 0, p = 0, m = 0;
  int splitSteps = kSplitCreaseSteps;  // the damped steps of split rows
  int* span = nullptr;       // per sample: control indices span - p .. span
  double* basis = nullptr;   // per sample 2 (p + 1): the basis values, then their first derivatives
  double* target = nullptr;  // per sample: the folded start angle, degrees
  double* frac = nullptr;    // per sample: its fraction of the seam's length
  double* ceil = nullptr;    // per sample: the angle it may not exceed, degrees
  double* dir = nullptr;     // per index 12: the directions of its four unknowns
  double* capC = nullptr;    // per index 4 caps (the shared row from A's and B's start, the second rows):
  double* capR = nullptr;    // centre (3) and radius
  char* atStart = nullptr;   // per sample: 1 aimed at the start, 0 at what the rows have now
  double* basisB = nullptr;  // with rowHeld, per sample p + 1: side B's basis values where its
                             // boundary comes closest to A's sample, on the sample's indices
  bool rowHeld = false;      // the boundary rows stay (each side has its own): second rows only
  // With rowHeld, the rows before the solve: each side's new second row is held below the
  // ceilings against the other side's old one too (mix: scratch for the two mixed rows, 18 n).
  const double* was = nullptr;
  double* mix = nullptr;
  bool Movable(int i) const { return i >= kCreaseHeld && i < n - kCreaseHeld; }
  // A jitter crease's second-row points diagonal to its corners, per end (first, last) and side
  // (A, B): freed where the seam beside them there is a crease too (see WatchSeamBeside).
  bool freed[2][2] = {{false, false}, {false, false}};
  // Whether unknown q of index i moves (q < 2: a second row).
  bool Free(int i, int q) const {
    return Movable(i) || (q < 2 && ((i == kCreaseHeld - 1 && freed[0][q]) || (i == n - kCreaseHeld && freed[1][q])));
  }
  // Whether cap c of index i (CapPoint) holds a moving point.
  bool CapFree(int i, int c) const { return c < 2 ? Movable(i) : Free(i, c - 2); }
};

// Offset within a control index's 9 doubles of the point unknown q moves, and of the point cap c
// holds.
int VarPoint(int q) { return q == 0 ? 3 : q == 1 ? 6 : 0; }
int CapPoint(int c) { return c < 2 ? 0 : c == 2 ? 3 : 6; }

// The fold (degrees) between normals na and nb (of one side and the other, both from the same
// tangent du): signed by the way it turns about du, so that a fold that changes its sense along
// the seam passes through none instead of bouncing off it (the folded angle's least-squares
// solve stuck at a zero the start crossed, a degree and more below the start on each side).
double SignedFoldOf(const double du[3], const double na[3], const double nb[3]) {
  double u[3], c[3];
  if (VecPseudoNormalize3(du, u) <= 0.0) return 0.0;
  VecCrossProd3(na, nb, c);
  return std::atan2(-VecDotProd3(c, u), -VecDotProd3(na, nb)) * kRadToDeg;
}

// SignedFoldOf at a sample of split rows (only the second rows move), with J its derivatives.
double SignedFold(const CreaseRows& r, const double* N, const double* NB, int i0, const double du[3],
                  const double na[3], const double nb[3], double* J) {
  const int p = r.p;
  if (!J) return SignedFoldOf(du, na, nb);
  double u[3], c[3];
  if (VecPseudoNormalize3(du, u) <= 0.0) return 0.0;
  VecCrossProd3(na, nb, c);
  const double X = -VecDotProd3(na, nb), Y = -VecDotProd3(c, u), R = X * X + Y * Y;
  if (!(R > 0.0)) return 0.0;
  for (int k = 0; k <= p; ++k) {
    const double* d = r.dir + 12 * (i0 + k);
    for (int q = 0; q < 2; ++q) {
      if (!r.Free(i0 + k, q)) continue;
      double t[3], dn[3], dc[3];
      for (int a = 0; a < 3; ++a) t[a] = (q == 0 ? N[k] : NB[k]) * d[3 * q + a];
      VecCrossProd3(du, t, dn);
      if (q == 0) VecCrossProd3(dn, nb, dc);
      else VecCrossProd3(na, dn, dc);
      const double dX = -(q == 0 ? VecDotProd3(dn, nb) : VecDotProd3(na, dn)), dY = -VecDotProd3(dc, u);
      J[kCreaseVars * k + q] = (X * dY - Y * dX) / R * kRadToDeg;
    }
  }
  return std::atan2(Y, X) * kRadToDeg;
}

// Folded angle (degrees) between the two sides' normals at sample s of rows x, each normal the
// cross product of the shared row's tangent and the step to its second row (the surfaces'
// orientations drop out of the folded angle). With J: its derivatives along the sample's 4 (p + 1)
// unknowns (d theta / d cos times d cos along each direction, from the cross products' derivatives).
// With nA / nB: the two normals.
// The samples' basis values (N, then their derivatives) and span are passed in: the check of the
// edge's own samples reads the rows at other parameters.
double RowsAngle(const CreaseRows& r, int span, const double* N, const double* x, double* J, double* nA, double* nB,
                 const double* NB = nullptr) {
  const int p = r.p, i0 = span - p;
  const double* D = N + p + 1;
  if (!NB) NB = N;
  double du[3] = {0, 0, 0}, c0[3] = {0, 0, 0}, ca[3] = {0, 0, 0}, cb[3] = {0, 0, 0}, cb0[3] = {0, 0, 0};
  for (int k = 0; k <= p; ++k) {
    const double* q = x + 9 * (i0 + k);
    for (int c = 0; c < 3; ++c) {
      du[c] += D[k] * q[c];
      c0[c] += N[k] * q[c];
      ca[c] += N[k] * q[3 + c];
      cb[c] += NB[k] * q[6 + c];
      cb0[c] += NB[k] * q[c];
    }
  }
  double va[3], vb[3], na[3], nb[3];
  for (int c = 0; c < 3; ++c) va[c] = ca[c] - c0[c], vb[c] = cb[c] - cb0[c];
  VecCrossProd3(du, va, na);
  VecCrossProd3(du, vb, nb);
  if (nA)
    for (int c = 0; c < 3; ++c) nA[c] = na[c], nB[c] = nb[c];
  const double la = VecSize3(na), lb = VecSize3(nb);
  if (J)
    for (int a = 0; a < kCreaseVars * (p + 1); ++a) J[a] = 0.0;
  if (!(la > 0.0) || !(lb > 0.0)) return 90.0;
  if (r.rowHeld) return SignedFold(r, N, NB, i0, du, na, nb, J);
  const double cs = VecDotProd3(na, nb) / (la * lb), cc = std::clamp(cs, -1.0, 1.0);
  const double raw = std::acos(cc) * kRadToDeg, folded = raw > 90.0 ? 180.0 - raw : raw;
  if (!J) return folded;
  const double dthdc = -kRadToDeg / std::sqrt(std::max(1e-300, 1.0 - cc * cc)) * (raw > 90.0 ? -1.0 : 1.0);
  auto dcos = [&](const double dna[3], const double dnb[3]) {
    return (VecDotProd3(dna, nb) + VecDotProd3(na, dnb)) / (la * lb) -
           cs * (VecDotProd3(dna, na) / (la * la) + VecDotProd3(dnb, nb) / (lb * lb));
  };
  const double zero[3] = {0, 0, 0};
  for (int k = 0; k <= p; ++k) {
    if (!r.Movable(i0 + k)) continue;
    const double* d = r.dir + 12 * (i0 + k);
    double t[3], u2[3], dna[3], dnb[3];
    for (int c = 0; c < 3; ++c) t[c] = N[k] * d[c];
    VecCrossProd3(du, t, dna);
    J[kCreaseVars * k] = dthdc * dcos(dna, zero);
    for (int c = 0; c < 3; ++c) t[c] = NB[k] * d[3 + c];
    VecCrossProd3(du, t, dnb);
    J[kCreaseVars * k + 1] = dthdc * dcos(zero, dnb);
    // The shared row moves both the tangent (D e) and the start of both steps (-N e).
    for (int q = 2; q < kCreaseVars && !r.rowHeld; ++q) {
      const double* e = d + 3 * q;
      double de[3];
      for (int c = 0; c < 3; ++c) de[c] = D[k] * e[c], t[c] = -N[k] * e[c];
      VecCrossProd3(de, va, dna);
      VecCrossProd3(du, t, u2);
      for (int c = 0; c < 3; ++c) dna[c] += u2[c];
      VecCrossProd3(de, vb, dnb);
      for (int c = 0; c < 3; ++c) dnb[c] += u2[c];
      J[kCreaseVars * k + q] = dthdc * dcos(dna, dnb);
    }
  }
  return folded;
}

double CreaseAngle(const CreaseRows& r, int s, const double* x, double* J, double* nA = nullptr, double* nB = nullptr) {
  return RowsAngle(r, r.span[s], r.basis + 2 * (r.p + 1) * s, x, J, nA, nB,
                   r.basisB ? r.basisB + (r.p + 1) * s : nullptr);
}

// Weight of a sample's angle beyond its ceiling (degrees per degree).
constexpr double kCeilWeight = 10.0;
// Weight of a sample's angle off its start beyond kCreaseOffAim in that last round (degrees per
// degree).
constexpr double kOffWeight = 10.0;

// Penalty of cap c of index i beyond its radius, weight w per radius; with grad, its gradient in
// the point.
double CapExcess(const CreaseRows& r, const double* x, int i, int c, double w, double grad[3]) {
  const double* q = x + 9 * i + CapPoint(c);
  const double* o = r.capC + 12 * i + 3 * c;
  const double d[3] = {q[0] - o[0], q[1] - o[1], q[2] - o[2]}, len = VecSize3(d), rad = r.capR[4 * i + c];
  if (len <= rad) return 0.0;
  if (grad)
    for (int k = 0; k < 3; ++k) grad[k] = w / rad * d[k] / len;
  return w * (len - rad) / rad;
}

// The mixed rows of r.was and x: side A's new second row with B's old one, then the reverse.
void MixRows(const CreaseRows& r, const double* x) {
  const long size = 9L * r.n;
  std::copy(x, x + size, r.mix);
  std::copy(x, x + size, r.mix + size);
  for (int i = 0; i < r.n; ++i)
    for (int c = 0; c < 3; ++c) {
      r.mix[9 * i + 6 + c] = r.was[9 * i + 6 + c];
      r.mix[size + 9 * i + 3 + c] = r.was[9 * i + 3 + c];
    }
}

// The angle at sample s of mixed rows `side` (0: A's new row, 1: B's), with J its derivatives
// along the new row's unknowns only.
double MixedAngle(const CreaseRows& r, int s, int side, double* J) {
  const double a = CreaseAngle(r, s, r.mix + 9L * r.n * side, J);
  for (int k = 0; J && k <= r.p; ++k) J[kCreaseVars * k + 1 - side] = 0.0;
  return a;
}

// Degrees by which sample s, off its start by e, is beyond `held` (0: none held); only samples
// aimed at the start between a tenth and nine tenths count.
double OffBeyond(const CreaseRows& r, int s, double e, double held) {
  if (!(held > 0.0) || !r.atStart[s] || r.frac[s] < 0.1 || r.frac[s] > 0.9) return 0.0;
  return std::max(0.0, std::fabs(e) - held);
}

double CreaseCost(const CreaseRows& r, const double* x, double w, double held = 0.0) {
  double cost = 0.0;
  if (r.was) MixRows(r, x);
  for (int s = 0; s < r.m; ++s) {
    const double a = CreaseAngle(r, s, x, nullptr), e = a - r.target[s],
                 over = kCeilWeight * std::max(0.0, std::fabs(a) - r.ceil[s]),
                 off = kOffWeight * OffBeyond(r, s, e, held);
    cost += e * e + over * over + off * off;
    for (int side = 0; r.was && side < 2; ++side) {
      const double mixed = kCeilWeight * std::max(0.0, std::fabs(MixedAngle(r, s, side, nullptr)) - r.ceil[s]);
      cost += mixed * mixed;
    }
  }
  for (int i = 0; i < r.n; ++i)
    for (int c = 0; c < 4; ++c) {
      if (!r.CapFree(i, c)) continue;
      const double e = CapExcess(r, x, i, c, w, nullptr);
      cost += e * e;
    }
  return cost;
}

// Largest |angle - start| between a tenth and nine tenths of the seam; with over, the number of
// samples there more than kCreaseAngleHeld off.
double CreaseWorst(const CreaseRows& r, const double* x, int* over = nullptr) {
  double worst = 0.0;
  if (over) *over = 0;
  for (int s = 0; s < r.m; ++s)
    if (r.atStart[s] && r.frac[s] >= 0.1 && r.frac[s] <= 0.9) {
      const double off = std::fabs(CreaseAngle(r, s, x, nullptr) - r.target[s]);
      worst = std::max(worst, off);
      if (over) *over += off > kCreaseAngleHeld;
    }
  return worst;
}

// Levenberg-Marquardt on the squared angle errors plus the caps' penalty, at each cap weight in
// turn (shared rows with a sample still more than kCreaseOffAim off: once more at the tightest,
// what lies beyond it weighed more, kept unless more samples end a degree off); the normal
// equations are banded (a sample reads p + 1 consecutive control indices, four unknowns each) and
// solved by the kernel's band solver. Then every point goes back inside its caps (alternating
// projections onto the balls). x is updated in place; -2 on a memory failure.
int SolveCreaseRows(const CreaseRows& r, double* x) {
  const int nvar = kCreaseVars * r.n, W = kCreaseVars * (r.p + 1);
  TrackingScope scope;
  double* H = MallocArray<double>(static_cast<long>(nvar) * W);
  double* Hl = MallocArray<double>(static_cast<long>(nvar) * W);
  double** rows = MallocArray<double*>(nvar);
  double* g = MallocArray<double>(nvar);
  double* d = MallocArray<double>(nvar);
  double* xn = MallocArray<double>(9 * r.n);
  double* xb = MallocArray<double>(9 * r.n);
  double* J = MallocArray<double>(W);
  if (KernelFailed() || !H || !Hl || !rows || !g || !d || !xn || !xb || !J) return -2;
  for (int v = 0; v < nvar; ++v) rows[v] = Hl + static_cast<long>(v) * W;
  auto descend = [&](double w, double held) {
    double lambda = 1e-2, cost = CreaseCost(r, x, w, held);
    for (int it = 0, stalled = 0; it < (r.rowHeld ? r.splitSteps : kCreaseSteps) && stalled < 2; ++it) {
      const double was = cost;
      std::fill(H, H + static_cast<long>(nvar) * W, 0.0);
      std::fill(g, g + nvar, 0.0);
      if (r.was) MixRows(r, x);
      for (int s = 0; s < r.m; ++s) {
        const int v0 = kCreaseVars * (r.span[s] - r.p);
        for (int side = 0; r.was && side < 2; ++side) {
          const double ang = MixedAngle(r, s, side, J), k2 = kCeilWeight * kCeilWeight;
          const double over = std::max(0.0, std::fabs(ang) - r.ceil[s]);
          if (over == 0.0) continue;
          for (int a = 0; a < W; ++a) {
            if (J[a] == 0.0) continue;
            g[v0 + a] += J[a] * k2 * (ang < 0.0 ? -over : over);
            for (int b = a; b < W; ++b) H[static_cast<long>(v0 + a) * W + (b - a)] += k2 * J[a] * J[b];
          }
        }
        const double ang = CreaseAngle(r, s, x, J), res = ang - r.target[s];
        // Beyond its ceiling the sample's angle is a second residual with the same derivatives.
        // (A signed fold's size is its angle.)
        const double over = std::max(0.0, std::fabs(ang) - r.ceil[s]), k2 = kCeilWeight * kCeilWeight;
        const double off = OffBeyond(r, s, res, held), o2 = kOffWeight * kOffWeight;
        const double gw = res + k2 * (ang < 0.0 ? -over : over) + o2 * (res < 0.0 ? -off : off),
                     hw = 1.0 + (over > 0.0 ? k2 : 0.0) + (off > 0.0 ? o2 : 0.0);
        for (int a = 0; a < W; ++a) {
          if (J[a] == 0.0) continue;
          g[v0 + a] += J[a] * gw;
          for (int b = a; b < W; ++b) H[static_cast<long>(v0 + a) * W + (b - a)] += hw * J[a] * J[b];
        }
      }
      for (int i = 0; i < r.n; ++i)
        for (int c = 0; c < 4; ++c) {
          if (!r.CapFree(i, c)) continue;
          double grad[3];
          const double e = CapExcess(r, x, i, c, w, grad);
          if (e == 0.0) continue;
          // The shared row's caps act through its two unknowns, a second row's through its one.
          const int vs[2] = {kCreaseVars * i + (c < 2 ? 2 : c - 2), kCreaseVars * i + 3}, nv = c < 2 ? 2 : 1;
          double jj[2];
          for (int q = 0; q < nv; ++q) {
            jj[q] = VecDotProd3(grad, r.dir + 12 * i + 3 * (vs[q] % kCreaseVars));
            g[vs[q]] += jj[q] * e;
          }
          for (int q = 0; q < nv; ++q)
            for (int q2 = q; q2 < nv; ++q2) H[static_cast<long>(vs[q]) * W + (vs[q2] - vs[q])] += jj[q] * jj[q2];
        }
      bool stepped = false;
      for (int tries = 0; tries < 6 && !stepped; ++tries) {
        std::copy(H, H + static_cast<long>(nvar) * W, Hl);
        // Held unknowns have an empty row: the tiny diagonal gives them a zero step. The shared
        // row's two unknowns are damped alike (by their mean): the step then does not depend on
        // which two directions square to the seam they are given.
        for (int v = 0; v < nvar; ++v) {
          const long i = static_cast<long>(v - v % kCreaseVars);
          const double diag = v % kCreaseVars < 2 ? H[static_cast<long>(v) * W]
                                                  : 0.5 * (H[(i + 2) * W] + H[(i + 3) * W]);
          rows[v][0] += lambda * std::max(diag, 1e-9) + 1e-9, d[v] = -g[v];
        }
        if (SolveSymBandSystem(rows, nvar, W, &d, 1) != 0) {
          lambda *= 10.0;
          continue;
        }
        std::copy(x, x + 9 * r.n, xn);
        for (int i = 0; i < r.n; ++i)
          for (int q = 0; q < kCreaseVars; ++q)
            for (int c = 0; c < 3 && r.Free(i, q); ++c)
              xn[9 * i + VarPoint(q) + c] += d[kCreaseVars * i + q] * r.dir[12 * i + 3 * q + c];
        const double next = CreaseCost(r, xn, w, held);
        if (next < cost) {
          std::copy(xn, xn + 9 * r.n, x);
          cost = next;
          lambda = std::max(0.3 * lambda, 1e-6);
          stepped = true;
        } else {
          lambda *= 10.0;
        }
      }
      if (!stepped) break;
      if (!r.rowHeld) stalled = cost > (1.0 - kCreaseStall) * was ? stalled + 1 : 0;
    }
  };
  for (double w : kCreaseCapWeights) {
    // Split rows start close (the rows were fitted to the start normals) and move little: the
    // tightest cap at once, a few steps (on rough grids as good as the full ladder, in less
    // time).
    if (r.rowHeld && w < kCreaseCapWeights[std::size(kCreaseCapWeights) - 1]) continue;
    descend(w, 0.0);
  }
  // Least squares trades a sample where the start's angle jumps (the boundary rows' noise can
  // put degrees between two samples) against its neighbours, and can leave one or two samples of
  // a noisy crease nearly two degrees off. Where one ends more than kCreaseOffAim off, a last
  // round weighs what lies beyond it more, which brings most within a degree. Where the caps bind
  // (holding such samples within a degree would move a surface beyond 3 x the gap closed) it
  // spreads the error over more samples beyond a degree, and is undone.
  int over = 0;
  const double worst = r.rowHeld ? 0.0 : CreaseWorst(r, x, &over);
  if (worst > kCreaseOffAim) {
    std::copy(x, x + 9 * r.n, xb);
    descend(kCreaseCapWeights[std::size(kCreaseCapWeights) - 1], kCreaseOffAim);
    int now = 0;
    if (!(CreaseWorst(r, x, &now) < worst) || now > over) std::copy(xb, xb + 9 * r.n, x);
  }
  for (int pass = 0; pass < 50; ++pass) {
    bool moved = false;
    for (int i = 0; i < r.n; ++i)
      for (int c = 0; c < 4; ++c) {
        if (!r.CapFree(i, c)) continue;
        double* q = x + 9 * i + CapPoint(c);
        const double* o = r.capC + 12 * i + 3 * c;
        const double dv[3] = {q[0] - o[0], q[1] - o[1], q[2] - o[2]}, len = VecSize3(dv), rad = r.capR[4 * i + c];
        if (len <= rad) continue;
        for (int k = 0; k < 3; ++k) q[k] = o[k] + dv[k] * (rad * (1.0 - 1e-9)) / len;
        moved = true;
      }
    if (!moved) break;
  }
  return 0;
}

// Whether the end of crease e at corner c is left to what its neighbours allow: at a corner
// inside the group where every other seam is healed smooth, or one other crease meets it at a
// right angle (a side of one of its surfaces), the normals the smooth seams share there fix the
// crease's own. Their second rows' points diagonal to the corner then give, a row in, the folds
// of the two halves of one grid line the sum of the other two's: a lone crease's fold there is
// the smooth seams' (about none), and through its end span it keeps what they allow, not its
// start. Two halves of one line both creases (or more creases) share an angle the other line's
// kink carries.
bool CreaseEndHeldByNeighbours(const BndrStruct* bs, const EdgeInfoStruct* e, int c) {
  if (c < 0 || c >= bs->nCorner || !bs->corners[c].edgeIds) return false;
  const CornerInfoStruct* corner = &bs->corners[c];
  const EdgeInfoStruct* other = nullptr;
  int creases = 0;
  for (int k = 0; k < corner->nEdge; ++k) {
    const int id = corner->edgeIds[k];
    if (id < 0 || id >= bs->nEdge) return false;
    const EdgeInfoStruct* o = &bs->edges[id];
    if (!o->paired || !o->infoA || !o->infoB) return false;  // on the group's outer boundary
    if (o == e || IsG1Edge(o)) continue;
    other = o;
    ++creases;
  }
  if (creases == 0) return true;
  if (creases > 1) return false;
  auto surface = [](const CrvInfoStruct* crv) { return crv->srfInfo ? crv->srfInfo->index : -1; };
  for (const CrvInfoStruct* a : {e->infoA, e->infoB})
    for (const CrvInfoStruct* b : {other->infoA, other->infoB})
      if (surface(a) >= 0 && surface(a) == surface(b)) return true;
  return false;
}

// How a jitter crease's points diagonal to its corners are solved: held; freed where the seams
// beside them keep their largest angles as they were; freed where those may get flatter. The
// solve's code for rows rejected with points freed, to be solved again with them held.
constexpr int kEndsHeld = 0, kEndsFreed = 1, kEndsFlatter = 2;
constexpr int kRetryHeld = 2;

// A crease's seam as the angle solve reads it before it allocates anything: its sides' frames
// on the heal's surfaces, the knots along side A and both sides' parameter ranges.
struct CreaseSides {
  CreaseSides(BndrStruct* b, Bspline* const* s, bool sh, bool ri, int en, double* le)
      : bs(b), start(s), shared(sh), rise(ri), ends(en), left(le) {}

  BndrStruct* bs = nullptr;
  Bspline* const* start = nullptr;
  bool shared = false, rise = false;
  int ends = kEndsHeld;
  double* left = nullptr;
  const EdgeInfoStruct* e = nullptr;
  const CrvInfoStruct *ca = nullptr, *cb = nullptr;
  SideFrame fa, fb;
  int n = 0, p = 0;
  Bspline *A = nullptr, *B = nullptr;
  bool aInV = false, bInV = false;
  const double* ka = nullptr;
  double a0 = 0.0, a1 = 0.0, b0 = 0.0, b1 = 0.0;

  // The seam of `edge` when it is one the solve works on; any other code is the solve's answer.
  int Read(int edge);
  // Side B's control index matching side A's index k.
  int IndexB(int k) const { return e->orient ? k : n - 1 - k; }
};

// What a step of the angle solve answers when nothing stopped it: the next step runs.
constexpr int kSolveGoesOn = -1;

// The angle solve's state from one step to the next (the rows at unit size, the samples and
// their start, the caps), held in the caller's tracking scope.
struct CreaseSolve : CreaseSides {
  explicit CreaseSolve(const CreaseSides& sides) : CreaseSides(sides) {}

  CreaseRows r;
  double *t = nullptr, *x = nullptr, *x0 = nullptr;
  double* gapAt = nullptr;       // per index: B's boundary point less A's, unit size
  double* startSize = nullptr;   // split rows: per sample the start's angle
  double* startFloor = nullptr;
  double* table = nullptr;       // one basis-derivative table
  const int orders[2] = {0, 1};
  int span = 0;
  BsplinePtr wasA, wasB;         // the start's surfaces on the heal's knots
  double startGap = 0.0;
  SideFrame sa, sb;
  const double* kb = nullptr;
  double offset = 0.0, offsetB = 0.0;
  int spaced = 0, firstSpan = 0, lastSpan = 0;
  double inside = 0.0;
  double origin[3] = {0.0, 0.0, 0.0};
  double scale = 1.0;
  int worstSpan = -1;
  double before = 0.0, after = 0.0;
  SeamBeside beside[2][2];
  bool freedAny = false;
  int rejected = 0;

  // The samples along side A and the crease's start at them.
  int SampleStart();
  // The seam's rows at unit size; split rows get side B's basis values at A's samples.
  int UnitRows();
  // The samples' aims and ceilings, the unknowns' directions and the movement caps.
  int AimAndCap();
  // The solve and the checks its rows must pass.
  int SolveAndCheck();
  // The solved rows into the surfaces; 1 when they went in.
  int Place();

  // One more sample at parameter tq; false where its basis cannot be made.
  bool AddSample(double tq);
  // The crease's start at sample s into r.target; false where it cannot be measured or is no crease.
  bool StartAt(int s);
  // Point q at unit size: less the origin, times the scale.
  void ToUnit(const double q[3], double* out) const;
  // The largest rise of the rows' samples inside above their start; with at, the knot span of
  // the sample that rose most.
  double RiseOf(const double* rows, int* at = nullptr) const;
  // The rows x into the surfaces; with ends only, just the freed points diagonal to the corners.
  void PlaceRows(bool endsOnly);
};

int CreaseSides::Read(int edge) {
  e = EdgeAt(bs, edge);
  if (!e || !start) return -2;
  if (!e->paired || e->continuity != 0 || IsG1Edge(e) || !e->infoA || !e->infoB || !(bs->angleTol > 0.0)) return 0;
  ca = e->infoA, cb = e->infoB;
  for (const CrvInfoStruct* crv : {ca, cb}) {
    const SrfInfoStruct* si = crv->srfInfo;
    if (!si || si->fixed || crv->fixed || si->index < 0 || si->index >= bs->nSrf || !HasSurface3Arrays(start[si->index]))
      return 0;
    if (!HasSecondRow(crv)) return 0;
  }
  if (!FrameForCurve(ca, &fa) || !FrameForCurve(cb, &fb) || fa.s == fb.s) return 0;
  n = fa.nAlong, p = fa.degAlong;
  if (fb.nAlong != n || n < 2 * kCreaseHeld + 1 || p < 1 || p > kMaxSplineDegree) return 0;
  A = fa.s, B = fb.s;
  aInV = fa.side == 1 || fa.side == 3, bInV = fb.side == 1 || fb.side == 3;
  ka = aInV ? A->knotsV : A->knotsU;
  a0 = ka[p], a1 = ka[n];
  b0 = bInV ? B->vmin : B->umin, b1 = bInV ? B->vmax : B->umax;
  if (!(a1 > a0) || !(b1 > b0)) return 0;
  if (!shared) {
    // B's rows are read through A's basis: the two sides' knots along the seam must match.
    const double* kbNow = bInV ? B->knotsV : B->knotsU;
    for (int i = 0; i <= n + p; ++i) {
      const double fa0 = (ka[i] - ka[0]) / (ka[n + p] - ka[0]);
      const double fb0 = e->orient ? (kbNow[i] - kbNow[0]) / (kbNow[n + p] - kbNow[0])
                                   : (kbNow[n + p] - kbNow[n + p - i]) / (kbNow[n + p] - kbNow[0]);
      if (!(std::fabs(fa0 - fb0) <= 1e-9)) return 0;
    }
  }
  return kSolveGoesOn;
}

int CreaseSolve::SampleStart() {
  r.n = n;
  r.p = p;
  r.rowHeld = !shared;
  if (rise) r.splitSteps = kJitterRiseSteps;
  int spans = 0;
  for (int s = p; s < n; ++s) spans += ka[s + 1] > ka[s];
  // A jitter crease's rise is judged at 8 samples a span from each knot on, so that a tenth and
  // nine tenths of the length are samples on these grids' knots (from each span's middle, or at
  // 5 a span, a rise a tenth in can lie between samples unseen).
  const int perSpan = rise ? kCreaseSamples : shared ? kCreaseSamples : kSplitCreaseSamples;
  // Room for a sample between each two where the start's fold changes its sense (below).
  const int room = perSpan * spans * (rise ? 2 : 1);
  r.span = MallocArray<int>(room);
  r.basis = MallocArray<double>(2L * (p + 1) * room);
  r.target = MallocArray<double>(room);
  r.frac = MallocArray<double>(room);
  r.ceil = MallocArray<double>(room);
  r.atStart = MallocArray<char>(room);
  r.dir = MallocArray<double>(12L * n);
  r.capC = MallocArray<double>(12L * n);
  r.capR = MallocArray<double>(4L * n);
  t = MallocArray<double>(room);
  x = MallocArray<double>(9L * n);
  x0 = MallocArray<double>(9L * n);
  gapAt = MallocArray<double>(3L * n);
  startSize = MallocArray<double>(room);
  startFloor = MallocArray<double>(room);
  table = MallocArray<double>(3L * (p + 1));
  if (KernelFailed() || !r.span || !r.basis || !r.target || !r.frac || !r.ceil || !r.dir || !r.capC || !r.capR || !r.atStart ||
      !t || !x || !x0 || !gapAt || !table || !startSize || !startFloor)
    return -2;

  // The samples on side A's knots, with their basis values and derivatives.
  span = p;
  for (int s = p; s < n; ++s) {
    if (!(ka[s + 1] > ka[s])) continue;
    for (int q = 0; q < perSpan; ++q)
      if (!AddSample(ka[s] + (q + (rise ? 0.0 : 0.5)) / perSpan * (ka[s + 1] - ka[s]))) return 0;
  }
  // The start on the heal's knots: each sample's point on side A, side B's closest point, the
  // folded angle between their normals there; the seam's largest start gap.
  wasA.reset(CopyBsplineSurface(A));
  wasB.reset(CopyBsplineSurface(B));
  if (!wasA || !wasB || KernelFailed() || ReplaceSrfBsplineGeometry(wasA.get(), start[ca->srfInfo->index]) != 0 ||
      ReplaceSrfBsplineGeometry(wasB.get(), start[cb->srfInfo->index]) != 0)
    return -2;
  startGap = 0.0;
  if (!sa.Init(wasA.get(), fa.side) || !sb.Init(wasB.get(), fb.side)) return 0;
  kb = bInV ? wasB->knotsV : wasB->knotsU;
  // Side A's samples read the start through their own basis values: the start must have the
  // heal's knots along the seam (a stitch that inserted knots leaves the seam as it is).
  const double* kwa = aInV ? wasA->knotsV : wasA->knotsU;
  if (sa.nAlong != n || sa.degAlong != p || sb.nAlong != n || sb.degAlong != p || sa.L < 1 || sb.L < 1) return 0;
  for (int i = 0; i < n + p + 1; ++i)
    if (std::fabs(kwa[i] - ka[i]) > 1e-12 * (a1 - a0)) return 0;
  offset = offsetB = 0.0;
  // A real crease of one row is beyond the angle limit at every sample between a tenth and nine
  // tenths: the middle sample of each span first, which turns the seams only the noise kinked
  // away cheaply. One of two rows (the edge's own test classified it) somewhere there.
  const int mid = perSpan / 2;
  for (int s = mid; s < r.m; s += perSpan)
    if (!StartAt(s)) return KernelFailed() ? -2 : 0;
  for (int s = 0; s < r.m; ++s)
    if (s % perSpan != mid && !StartAt(s)) return KernelFailed() ? -2 : 0;
  if (KernelFailed()) return -2;
  // A jitter crease's start passes through no fold between two samples where its fold changes
  // its sense: a sample there too (its least start about it none), or a rise in the dip between
  // them goes unseen.
  spaced = r.m;
  for (int s = 0; rise && s + 1 < spaced; ++s) {
    if (!(r.target[s] * r.target[s + 1] < 0.0)) continue;
    if (!AddSample(0.5 * (t[s] + t[s + 1]))) return 0;
    if (!StartAt(r.m - 1)) return KernelFailed() ? -2 : 0;
  }
  // A jitter crease (within the limit somewhere between a tenth and nine tenths at its start:
  // beyond it over only part of its length, a smooth seam's jitter) is judged by its rise, the
  // largest of its samples' angles there less their start's; getting flatter is no fault.
  bool jitter = false;
  for (int s = 0; s < r.m && !shared; ++s) {
    startSize[s] = std::fabs(r.target[s]);
    jitter = jitter || (r.frac[s] >= 0.1 && r.frac[s] <= 0.9 && !(startSize[s] > bs->angleTol));
  }
  if (rise && !jitter) return 0;
  // The end spans of a split-row crease whose corner its neighbours hold are not aimed at the
  // start but at what the stages before left there (the corner rules' share of the angle; left
  // free, the solve trades it for the middle, and the crease's largest angle inside can end
  // degrees below its start).
  const bool endHeld[2] = {!shared && CreaseEndHeldByNeighbours(bs, e, e->corner0),
                           !shared && CreaseEndHeldByNeighbours(bs, e, e->corner1)};
  lastSpan = n - 1;
  while (lastSpan > p && !(ka[lastSpan + 1] > ka[lastSpan])) --lastSpan;
  firstSpan = p;
  while (firstSpan < lastSpan && !(ka[firstSpan + 1] > ka[firstSpan])) ++firstSpan;
  inside = 0.0;
  for (int s = 0; s < r.m; ++s) {
    r.atStart[s] = !((endHeld[0] && r.span[s] == firstSpan) || (endHeld[1] && r.span[s] == lastSpan));
    if (r.frac[s] >= 0.1 && r.frac[s] <= 0.9) inside = std::max(inside, std::fabs(r.target[s]));
  }
  if (!(inside > bs->angleTol)) return 0;
  return kSolveGoesOn;
}

bool CreaseSolve::AddSample(double tq) {
  span = p;
  if (ComputeNubValDerivativesM(ka, tq, n + p + 1, p, orders, 2, &span, table) != 0) return false;
  double* bv = r.basis + 2 * (p + 1) * r.m;
  for (int k = 0; k <= p; ++k) bv[k] = table[k], bv[p + 1 + k] = table[p + 1 + k];
  r.span[r.m] = span;
  r.frac[r.m] = (tq - a0) / (a1 - a0);
  t[r.m++] = tq;
  return true;
}

// The start at sample s, from the start's rows: side A's at the sample's basis values, side B's
// at the closest point, its search started from the offset the last match had from the knots'
// mapping. False where a normal vanishes or the angle is within the limit inside.
bool CreaseSolve::StartAt(int s) {
  const double* N = r.basis + 2 * (p + 1) * s;
  double a[3][3] = {}, b[4][3], na[3], nb[3];
  for (int j = 0; j <= p; ++j) {
    double q0[3], q1[3];
    sa.Get(0, r.span[s] - p + j, q0);
    sa.Get(1, r.span[s] - p + j, q1);
    for (int c = 0; c < 3; ++c) {
      a[0][c] += N[j] * q0[c];
      a[1][c] += N[p + 1 + j] * q0[c];
      a[2][c] += N[j] * (q1[c] - q0[c]);
    }
  }
  const double f = r.frac[s], mapped = e->orient ? b0 + f * (b1 - b0) : b1 - f * (b1 - b0);
  const double tb = ClosestRowParam(sb, kb, n, p, std::clamp(mapped + offset, b0, b1), b0, b1, a[0], table, b);
  offset = tb - mapped;
  startGap = std::max(startGap, VecDist3(a[0], b[0]));
  // Normals as the cross products of the partials along and the steps across: the folded
  // angle sees only their lines.
  auto folded = [](const double* na, const double* nb) {
    const double la = VecSize3(na), lb = VecSize3(nb);
    if (!(la > 0.0) || !(lb > 0.0)) return -1.0;
    const double raw = std::acos(std::clamp(VecDotProd3(na, nb) / (la * lb), -1.0, 1.0)) * kRadToDeg;
    return raw > 90.0 ? 180.0 - raw : raw;
  };
  VecCrossProd3(a[1], a[2], na);
  VecCrossProd3(b[1], b[3], nb);
  r.target[s] = folded(na, nb);
  if (!(r.target[s] >= 0.0)) return false;
  if (shared) {
    // One row is solved for the mean of the start read from each side: B's point at the
    // sample's matching parameter against A's closest to it too. On noisy rows the two reads
    // differ by degrees (the noise slides the points along the seam), and read from A alone the
    // heal depended on which side the seam lists first.
    double bb[4][3], aa[4][3];
    if (!SideRowsAt(sb, kb, n, p, mapped, table, bb)) return false;
    const double ta = ClosestRowParam(sa, ka, n, p, std::clamp(t[s] + offsetB, a0, a1), a0, a1, bb[0], table, aa);
    offsetB = ta - t[s];
    startGap = std::max(startGap, VecDist3(aa[0], bb[0]));
    VecCrossProd3(aa[1], aa[3], na);
    VecCrossProd3(bb[1], bb[3], nb);
    const double fromB = folded(na, nb);
    if (!(fromB >= 0.0)) return false;
    r.target[s] = 0.5 * (r.target[s] + fromB);
  }
  if (!shared) {
    // Split rows are solved for the signed fold: the sense from both normals on A's tangent
    // (the start's jittered rows cross at up to a degree or so, which the angle between the
    // sides' own normals holds).
    VecCrossProd3(a[1], b[3], nb);
    if (SignedFoldOf(a[1], na, nb) < 0.0) r.target[s] = -r.target[s];
  }
  return !shared || !(r.frac[s] >= 0.1 && r.frac[s] <= 0.9 && !(r.target[s] > bs->angleTol));
}

int CreaseSolve::UnitRows() {
  // The rows at unit size: a power of two keeps the scaled group's figures the same.
  fa.Get(0, 0, origin);
  double extent = 0.0;
  for (int i = 0; i < n; ++i)
    for (int a = 0; a < 2; ++a) {
      double q[3];
      fa.Get(a, i, q);
      for (int c = 0; c < 3; ++c) extent = std::max(extent, std::fabs(q[c] - origin[c]));
    }
  if (!(extent > 0.0) || !std::isfinite(extent)) return 0;
  int expo = 0;
  std::frexp(extent, &expo);
  scale = std::ldexp(1.0, -expo);
  for (int i = 0; i < n; ++i) {
    double q[3];
    fa.Get(0, i, q);
    ToUnit(q, x + 9 * i);
    fa.Get(1, i, q);
    ToUnit(q, x + 9 * i + 3);
    fb.Get(1, IndexB(i), q);
    ToUnit(q, x + 9 * i + 6);
    // Split rows: B's second row is held as its step from B's boundary row laid on A's, so that
    // the angle reads A's boundary row only; the gap between the rows stays as the heal left it.
    double* g = gapAt + 3 * i;
    fb.Get(0, IndexB(i), q);
    ToUnit(q, g);
    // One row solved for two that meet starts half way between them: neither side leads.
    for (int c = 0; c < 3 && shared; ++c) x[9 * i + c] = 0.5 * (x[9 * i + c] + g[c]);
    for (int c = 0; c < 3; ++c) g[c] = shared ? 0.0 : g[c] - x[9 * i + c], x[9 * i + 6 + c] -= g[c];
  }
  // Split rows: side B's boundary is matched to A's samples once (the solve does not move either
  // row); read at the same parameter instead, the rows' jitter along the seam left the angle a
  // quarter of a degree off the one measured between closest points.
  if (!shared) {
    r.basisB = MallocArray<double>((p + 1L) * r.m);
    if (KernelFailed() || !r.basisB) return -2;
    const double* kbNow = bInV ? B->knotsV : B->knotsU;
    const double c0 = kbNow[p], c1 = kbNow[n];
    double shift = 0.0;
    for (int s = 0; s < r.m; ++s) {
      const double* N = r.basis + 2 * (p + 1) * s;
      double P[3] = {0, 0, 0}, d[4][3];
      for (int j = 0; j <= p; ++j) {
        double q[3];
        fa.Get(0, r.span[s] - p + j, q);
        for (int c = 0; c < 3; ++c) P[c] += N[j] * q[c];
      }
      const double f = r.frac[s], mapped = e->orient ? c0 + f * (c1 - c0) : c1 - f * (c1 - c0);
      const double tb = ClosestRowParam(fb, kbNow, n, p, std::clamp(mapped + shift, c0, c1), c0, c1, P, table, d);
      shift = tb - mapped;
      // B's basis function of its index m at tb is A's of index IndexB(m) at the matching
      // parameter: the knots match.
      const double g = (tb - c0) / (c1 - c0), ta = e->orient ? a0 + g * (a1 - a0) : a1 - g * (a1 - a0);
      int at = p;
      if (ComputeNubValDerivativesM(ka, std::clamp(ta, a0, a1), n + p + 1, p, orders, 1, &at, table) != 0) return 0;
      double* NB = r.basisB + (p + 1) * s;
      for (int k = 0; k <= p; ++k) {
        const int j = r.span[s] - at + k;
        NB[k] = j >= 0 && j <= p ? table[j] : 0.0;
      }
    }
  }
  return kSolveGoesOn;
}

void CreaseSolve::ToUnit(const double q[3], double* out) const {
  for (int c = 0; c < 3; ++c) out[c] = (q[c] - origin[c]) * scale;
}

int CreaseSolve::AimAndCap() {
  // The least start about each sample, none where the start's fold changes its sense next to it:
  // it passes through no fold between the samples, where a finer measure finds the rise.
  for (int s = 0; s < r.m && rise; ++s) {
    startFloor[s] = s < spaced ? startSize[s] : 0.0;
    for (int nb : {s - 1, s + 1})
      if (s < spaced && nb >= 0 && nb < spaced)
        startFloor[s] = r.target[s] * r.target[nb] < 0.0 ? 0.0 : std::min(startFloor[s], startSize[nb]);
  }
  // Where split rows already fold by half a degree or more, they keep the sense they fold in:
  // next to where the start's fold changes its sense, its sense is the jittered rows' crossing
  // tangents' more than the seam's, and aimed at it the rows were turned through no fold, a
  // degree and more off the angle on either side. A jitter crease's rise is solved down to its
  // start's size, in the sense it folds, and what is flatter stays (aimed at the start there
  // too, the samples the stages before had left flatter pulled the rise back up).
  for (int s = 0; s < r.m && !shared; ++s) {
    const double now = CreaseAngle(r, s, x, nullptr);
    if (rise) r.target[s] = std::fabs(now) > startSize[s] ? std::copysign(startSize[s], now) : now;
    else if (!r.atStart[s]) r.target[s] = now;
    else if (std::fabs(now) >= kFoldSenseKept) r.target[s] = std::copysign(r.target[s], now);
  }
  worstSpan = -1;
  before = rise ? RiseOf(x, &worstSpan) : CreaseWorst(r, x);
  if (left) *left = before;
  if (before <= (rise ? kCreaseRiseMargin : kCreaseAngleHeld)) return 0;
  // The fall-backs judge a crease by its largest angle at the edge's own samples against the
  // largest they found at the start, which can miss the start's sharpest point by more than a
  // degree. Solved back to that point, the crease would be judged worse and go back open; held
  // just below the rise they allow, its samples stay within a degree.
  for (int s = 0; s < r.m; ++s) {
    r.ceil[s] = e->startSet ? e->startMaxAngle + kCreaseCeilRise : 180.0;
    // Split rows: no sample is to get steeper than it began by the fall-backs' degree, nor
    // steeper than the stages before left it (aimed at the start only, a sample traded against
    // its neighbours can rise by a degree).
    if (!shared)
      r.ceil[s] = std::min(r.ceil[s], std::max(std::fabs(r.target[s]) + kCreaseCeilRise, std::fabs(CreaseAngle(r, s, x, nullptr))));
    // A jitter crease's samples inside: none above its start by the ceiling's rise, nor above
    // what they have now next to where the start passes through no fold.
    if (rise && r.frac[s] >= 0.1 && r.frac[s] <= 0.9)
      r.ceil[s] = std::min({r.ceil[s], startSize[s] + kCreaseCeilRise,
                            std::max(startFloor[s] + kCreaseCeilRise, std::fabs(CreaseAngle(r, s, x, nullptr)))});
  }
  // Directions from the rows as the stitch left them; caps around the start's points.
  for (int i = 0; i < n; ++i) {
    const double* q = x + 9 * i;
    const double* lo = x + 9 * std::max(0, i - 1);
    const double* hi = x + 9 * std::min(n - 1, i + 1);
    double du[3], va[3], vb[3], na[3], nb[3], mean[3], w[3];
    for (int c = 0; c < 3; ++c) du[c] = hi[c] - lo[c], va[c] = q[3 + c] - q[c], vb[c] = q[6 + c] - q[c];
    VecCrossProd3(du, va, na);
    VecCrossProd3(du, vb, nb);
    double* d = r.dir + 12 * i;
    if (VecPseudoNormalize3(na, d) <= 0.0 || VecPseudoNormalize3(nb, d + 3) <= 0.0) return 0;
    // The sides' steps leave the row to opposite sides: their normals point away from each
    // other, and the mean normal is the one less the other.
    for (int c = 0; c < 3; ++c) mean[c] = d[c] - d[3 + c];
    if (VecPseudoNormalize3(mean, d + 6) <= 0.0) return 0;
    VecCrossProd3(du, d + 6, w);
    if (VecPseudoNormalize3(w, d + 9) <= 0.0) return 0;
    for (int c = 0; c < 4; ++c) {
      double o[3];
      (c == 0 || c == 2 ? sa : sb).Get(c < 2 ? 0 : 1, c == 0 || c == 2 ? i : IndexB(i), o);
      ToUnit(o, r.capC + 12 * i + 3 * c);
      if (c == 3)
        for (int k = 0; k < 3; ++k) r.capC[12 * i + 3 * c + k] -= gapAt[3 * i + k];
      const double* at = x + 9 * i + CapPoint(c);
      const double* ctr = r.capC + 12 * i + 3 * c;
      // A point the stitch already took further keeps its distance as its bound.
      r.capR[4 * i + c] = std::max(kCreaseMoveCap * startGap * scale, VecDist3(at, ctr) * (1.0 + 1e-12));
    }
  }
  std::copy(x, x + 9 * n, x0);
  return kSolveGoesOn;
}

double CreaseSolve::RiseOf(const double* rows, int* at) const {
  double largest = -HUGE_VAL;
  for (int s = 0; s < r.m; ++s)
    if (r.frac[s] >= 0.1 && r.frac[s] <= 0.9) {
      const double rose = std::fabs(CreaseAngle(r, s, rows, nullptr)) - startSize[s];
      if (rose > largest && at) *at = r.span[s];
      largest = std::max(largest, rose);
    }
  return largest;
}

int CreaseSolve::SolveAndCheck() {
  // A jitter crease's rise next to a corner where other creases meet it can lie in the end span,
  // where the second-row points diagonal to the corner weigh most and are held (and the corners'
  // shared folds cannot lower it without making a partner crease more than a degree flatter).
  // Where the largest rise lies in an end span, such a point is solved too where the seam beside
  // it there (the other side of its surface at the corner) is a crease, and kept only where that
  // seam holds (SeamBesideHolds). Beside a smooth seam the point stays: the smooth seams there
  // fix the crease's fold a row in.
  freedAny = false;
  for (int end = 0; end < 2 && rise && ends != kEndsHeld; ++end)
    for (int side = 0; side < 2 && worstSpan == (end ? lastSpan : firstSpan); ++side) {
      const int watched = WatchSeamBeside(bs, start, e, end ? e->corner1 : e->corner0, side ? cb : ca,
                                          &beside[end][side]);
      if (watched < 0) return -2;
      r.freed[end][side] = watched == 1;
      freedAny = freedAny || watched == 1;
    }
  rejected = freedAny && ends == kEndsFreed ? kRetryHeld : 0;
  if (!shared) {
    // Each side may fall back to its positional stitch alone: neither new row may leave the
    // crease steeper against the other's old one (a side solved against a neighbour that then
    // goes back can fold degrees steeper against it and send more surfaces back, their sides
    // open).
    r.was = x0;
    r.mix = MallocArray<double>(18L * n);
    if (KernelFailed() || !r.mix) return -2;
  }
  if (SolveCreaseRows(r, x) != 0) return -2;
  after = rise ? RiseOf(x) : CreaseWorst(r, x);
  if (!(after < before)) return rejected;
  // Nor may split rows lose the crease's largest angle inside: with the end spans held at what
  // they kept, a crease whose start peaked there can still end more than a degree below it.
  if (!shared) {
    double was = 0.0, now = 0.0;
    for (int s = 0; s < r.m; ++s)
      if (r.frac[s] >= 0.1 && r.frac[s] <= 0.9) {
        was = std::max(was, std::fabs(CreaseAngle(r, s, x0, nullptr)));
        now = std::max(now, std::fabs(CreaseAngle(r, s, x, nullptr)));
      }
    // A jitter crease may lose it by getting flatter: where no sample inside ends above its start
    // by more than the ceiling's rise.
    if (now < was && now < inside - kCreaseAngleHeld && !(rise && after <= kCreaseCeilRise)) return rejected;
  }
  // The fall-backs step back a crease whose largest angle (at the edge's own samples, ends and
  // all) rose by a degree from its start, unless its largest between a tenth and nine tenths did
  // not: the angle kept inside must not cost that near the ends and inside both.
  if (e->startSet && e->sampleA) {
    const double lo = std::min(e->par[0], e->par[2]), hi = std::max(e->par[0], e->par[2]);
    double largest = 0.0, largestInside = 0.0;
    for (int i = 0; i < e->nSample; ++i) {
      span = p;
      if (ComputeNubValDerivativesM(ka, std::clamp(e->sampleA[i], a0, a1), n + p + 1, p, orders, 2, &span, table) != 0)
        return rejected;
      const double angle = std::fabs(RowsAngle(r, span, table, x, nullptr, nullptr, nullptr));
      largest = std::max(largest, angle);
      const double f = hi > lo ? (e->sampleA[i] - lo) / (hi - lo) : 0.0;
      if (f >= 0.1 && f <= 0.9) largestInside = std::max(largestInside, angle);
    }
    if (largest > e->startMaxAngle + kCreaseRiseMargin && largestInside > inside + kCreaseRiseMargin) return rejected;
  }
  // No side's normal may turn over at any sample.
  for (int s = 0; s < r.m; ++s) {
    double na[3], nb[3], wa[3], wb[3];
    CreaseAngle(r, s, x, nullptr, na, nb);
    CreaseAngle(r, s, x0, nullptr, wa, wb);
    if (!(VecDotProd3(na, wa) > 0.0) || !(VecDotProd3(nb, wb) > 0.0)) return rejected;
  }
  return kSolveGoesOn;
}

int CreaseSolve::Place() {
  // The seams beside freed points read them where they are to go: where one does not hold, the
  // points go back (and the crease is solved again with them held).
  if (freedAny) {
    double kept[2][2][3];
    for (int end = 0; end < 2; ++end) {
      const int i = end ? n - kCreaseHeld : kCreaseHeld - 1;
      fa.Get(1, i, kept[end][0]);
      fb.Get(1, IndexB(i), kept[end][1]);
    }
    PlaceRows(true);
    bool hold = true;
    for (int end = 0; end < 2; ++end)
      for (int side = 0; side < 2; ++side)
        hold = hold && !(r.freed[end][side] && !SeamBesideHolds(beside[end][side], ends == kEndsFlatter));
    if (!hold) {
      for (int end = 0; end < 2; ++end) {
        const int i = end ? n - kCreaseHeld : kCreaseHeld - 1;
        fa.Set(1, i, kept[end][0]);
        fb.Set(1, IndexB(i), kept[end][1]);
      }
      FreeBsplineProperties(A);
      FreeBsplineProperties(B);
      return rejected;
    }
  }
  if (left) *left = after;
  PlaceRows(false);
  FreeBsplineProperties(A);
  FreeBsplineProperties(B);
  return KernelFailed() ? -2 : 1;
}

void CreaseSolve::PlaceRows(bool endsOnly) {
  for (int i = 0; i < n; ++i) {
    if (endsOnly && r.Movable(i)) continue;
    double q[3][3];
    for (int a = 0; a < 3; ++a)
      for (int c = 0; c < 3; ++c) q[a][c] = (x[9 * i + 3 * a + c] + (a == 2 ? gapAt[3 * i + c] : 0.0)) / scale + origin[c];
    // Both sides get the same values: the seam stays one row.
    if (shared && r.Movable(i)) {
      fa.Set(0, i, q[0]);
      fb.Set(0, IndexB(i), q[0]);
    }
    if (r.Free(i, 0)) fa.Set(1, i, q[1]);
    if (r.Free(i, 1)) fb.Set(1, IndexB(i), q[2]);
  }
}

// How far apart, as a share of the mean step along the row, a crease's two boundary rows may lie
// point for point and be solved as one row: rows the stitch closed on one knot vector trace one
// curve, each point slid along it by the noise the sides came with (up to half a step on dense
// nets at 1e-3 of the size), and laid onto one another they only slide along it.
constexpr double kRowsMeet = 0.5;

// Whether a crease whose sides keep their own rows has rows on matching knots within kRowsMeet
// of a step of each other point for point.
bool SplitRowsMeet(BndrStruct* bs, Bspline* const* start, int edge) {
  CreaseSides sides(bs, start, false, false, kEndsHeld, nullptr);
  if (sides.Read(edge) != kSolveGoesOn) return false;
  double apart = 0.0, length = 0.0, last[3] = {0.0, 0.0, 0.0};
  for (int i = 0; i < sides.n; ++i) {
    double a[3], b[3];
    sides.fa.Get(0, i, a);
    sides.fb.Get(0, sides.IndexB(i), b);
    apart = std::max(apart, VecDist3(a, b));
    if (i > 0) length += VecDist3(a, last);
    std::copy(a, a + 3, last);
  }
  return apart <= kRowsMeet * length / (sides.n - 1);
}

// The angle solve of KeepSharedRowCreaseAngle; with shared false, that of KeepSplitRowCreaseAngle;
// with rise too, that of KeepJitterCreaseFromRising.
int KeepCreaseAngleOf(BndrStruct* bs, Bspline* const* start, int edge, bool shared, bool rise, int ends = kEndsHeld,
                      double* left = nullptr) {
  if (left) *left = 0.0;
  CreaseSides sides(bs, start, shared, rise, ends, left);
  const int read = sides.Read(edge);
  if (read != kSolveGoesOn) return read;

  TrackingScope scope;
  CreaseSolve c(sides);
  int code = c.SampleStart();
  if (code == kSolveGoesOn) code = c.UnitRows();
  if (code == kSolveGoesOn) code = c.AimAndCap();
  if (code == kSolveGoesOn) code = c.SolveAndCheck();
  return code == kSolveGoesOn ? c.Place() : code;
}

}  // namespace

int KeepSharedRowCreaseAngle(BndrStruct* bs, Bspline* const* start, int edge) {
  return KeepCreaseAngleOf(bs, start, edge, true, false);
}

int KeepSplitRowCreaseAngle(BndrStruct* bs, Bspline* const* start, int edge) {
  return KeepCreaseAngleOf(bs, start, edge, false, false);
}

int KeepClosedSplitRowCreaseAngle(BndrStruct* bs, Bspline* const* start, int edge) {
  // Rows that meet are one row, whatever the corners: the shared row's solve moves it too, square
  // to the seam, and holds the crease's samples in the middle where second rows alone
  // leave them degrees off (a dense net's noisy boundary row turns the seam's tangent, and with
  // it the angle, between neighbouring samples).
  if (SplitRowsMeet(bs, start, edge)) {
    const int got = KeepCreaseAngleOf(bs, start, edge, true, false);
    if (got != 0) return got;
  }
  return KeepSplitRowCreaseAngle(bs, start, edge);
}

int KeepJitterCreaseFromRising(BndrStruct* bs, Bspline* const* start, int edge) {
  double left = 0.0;
  int got = KeepCreaseAngleOf(bs, start, edge, false, true, kEndsFreed, &left);
  if (got == kRetryHeld) got = KeepCreaseAngleOf(bs, start, edge, false, true, kEndsHeld, &left);
  if (got < 0 || !(left > kCreaseAngleHeld)) return got;
  // Still more than a degree steeper: the seams beside the points diagonal to its corners may
  // give up their largest angles by getting flatter.
  const int more = KeepCreaseAngleOf(bs, start, edge, false, true, kEndsFlatter, &left);
  return more < 0 ? -2 : std::max(got, more);
}
