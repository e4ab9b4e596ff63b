// Checks shared by the knot insertion, removal and degree elevation tests: shape comparison
// against the reference evaluator, exact record comparison, random surfaces, and a driver that
// makes every allocation of an operation fail in turn.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "bspline/srfclone.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "tests/support/builders.h"

// Largest distance between a and b at a grid of parameters over a's domain.
inline double MaxShapeGap(const Bspline* a, const Bspline* b, int samples = 41) {
  double gap = 0.0;
  const int nv = a->kind == 2 ? samples : 1;
  for (int j = 0; j < nv; ++j) {
    for (int i = 0; i < samples; ++i) {
      const double u = a->umin + (a->umax - a->umin) * i / (samples - 1);
      const double v = a->kind == 2 ? a->vmin + (a->vmax - a->vmin) * j / (nv - 1) : 0.0;
      double pa[3], pb[3];
      if (a->kind == 2) {
        RefEvalSurface(a, u, v, pa);
        RefEvalSurface(b, u, v, pb);
      } else {
        RefEvalCurve(a, u, pa);
        RefEvalCurve(b, u, pb);
      }
      gap = std::max(gap, std::hypot(pa[0] - pb[0], pa[1] - pb[1], pa[2] - pb[2]));
    }
  }
  return gap;
}

inline bool SameArray(const double* a, const double* b, int n) {
  return a && b && std::memcmp(a, b, sizeof(double) * n) == 0;
}

// Same counts, knots and coefficients, bit for bit.
inline bool SameObject(const Bspline* a, const Bspline* b) {
  if (a->kind != b->kind || a->rational != b->rational || a->dimension != b->dimension ||
      a->degreeU != b->degreeU || a->degreeV != b->degreeV || a->interiorU != b->interiorU ||
      a->interiorV != b->interiorV)
    return false;
  if (!SameArray(a->knotsU, b->knotsU, NumKnotsU(a))) return false;
  if (a->kind == 2 && !SameArray(a->knotsV, b->knotsV, NumKnotsV(a))) return false;
  const int n = NumCtrlU(a) * NumCtrlV(a);
  if (!SameArray(a->X[0], b->X[0], n) || !SameArray(a->Y[0], b->Y[0], n)) return false;
  if (a->Z && !SameArray(a->Z[0], b->Z[0], n)) return false;
  if (a->W && !SameArray(a->W[0], b->W[0], n)) return false;
  return true;
}

// A surface with random control points in [-1, 1]^3, random interior knots on [0, 1]^2 and,
// when rational, random weights in [0.5, 2].
inline Bspline* BuildRandomSurface(unsigned seed, int pu, int pv, int nu, int nv, bool rational) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> pd(-1.0, 1.0), wd(0.5, 2.0);
  std::vector<double> pts(3 * nu * nv), w;
  for (double& x : pts) x = pd(rng);
  if (rational)
    for (int i = 0; i < nu * nv; ++i) w.push_back(wd(rng));
  return BuildSurface(pu, pv, nu, nv, pts,
                      ClampedKnots(pu, nu, 0.0, 1.0, KnotLayout::Random, seed + 1u),
                      ClampedKnots(pv, nv, 0.0, 1.0, KnotLayout::Random, seed + 2u), w);
}

// Runs op with the k-th allocation failing and every later one too, for k = 0, 1, ... until op
// succeeds. Each failed run must report failure and leave obj bit for bit as it was; leaks are
// left to the sanitizer. Returns the number of failing runs.
template <class Op>
int ExpectCleanFailures(Bspline* obj, Op op) {
  int failures = 0;
  for (long k = 0; k < 400; ++k) {
    Bspline* before = CopyBsplineStruct(obj);
    if (!before) {
      ADD_FAILURE() << "copy failed";
      return failures;
    }
    ClearKernelError();
    MallocFailAfter(k, -1);
    op(obj);
    MallocFailClear();
    const bool failed = KernelFailed();
    ClearKernelError();
    if (!failed) {
      FreeBspline(before);
      EXPECT_EQ(MallocTrackLevel(), 0);
      return failures;
    }
    ++failures;
    EXPECT_TRUE(SameObject(obj, before)) << "object changed by the run failing at allocation " << k;
    EXPECT_EQ(MallocTrackLevel(), 0);
    FreeBspline(before);
  }
  ADD_FAILURE() << "the operation never succeeded";
  return failures;
}
