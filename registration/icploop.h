// The iterative closest point loop inside the icp module, shared by the free registration
// (ICPPntSet) and the constrained ones (NewICPPntSet, CICPPntSet): the closed-form step is a
// parameter, everything else (pairing through the kd-tree, the table of accepted motions, the
// extrapolated step, the stopping tests, the display and the user break) is the same for all of
// them, but for the few rules of the simple constrained loop. Internal to registration/.
#pragma once

#include "registration/icp.h"

// One closed-form step: the motion taking the unmoved points (x, y, z) onto their paired target
// points (qx, qy, qz), and its mean squared residual. A non-zero result is a refusal (too few
// pairs, a constraint it cannot solve) and ends the loop with the best motion so far.
using ICPSolve = int (*)(const float* x, const float* y, const float* z, int n, const float* qx, const float* qy,
                         const float* qz, const void* context, RegVec* motion, double* residual);

struct ICPStep {
  ICPSolve solve;
  const void* context;  // handed to solve (a constraint, for example)
  int extrapolate;      // 1: try extrapolated steps along straight runs of accepted motions
  // 1: the simple constrained loop: three stalls end it (not four), no extrapolated step, the
  // last motion is handed back when its error beats the start's (not the best one met on the
  // way) with its error and largest distance measured anew, and a start without any pair within
  // maxDistance does not end it.
  int simple;
};

// The free step: register_point_sets under the current registration mode, extrapolating only in
// mode 0 as the free loop always has.
ICPStep FreeICPStep();
// The step of ConstrainedRegCorPntSet under c (null: free), extrapolating only for a free
// constraint; `simple` as in ICPStep.
ICPStep ConstrainedICPStep(const RegConstraint* c, int simple);

// Why a loop ended.
enum class ICPStop {
  Tolerance,       // error at or below params.tolerance
  RelTolerance,    // three iterations in a row changed the error by less than params.relTolerance
  NoChange,        // the error stopped changing (below 1e-22) or reached 1e-22
  IterationLimit,  // params.maxIterations iterations
  Stalled,         // four (the simple loop: three) iterations in a row without a lower error
  Break,           // user_break
  Refused,         // the step refused its pairs
  TooFewPairs,     // only one or two pairs were within params.maxDistance
  NoPairs,         // no pair of the start motion within params.maxDistance
};

struct ICPLoopReport {
  int iterations;  // completed iterations
  double error;    // error of the motion handed back (the start's when nothing improved)
  ICPStop stop;
  int converged;  // 1 when a tolerance test (Tolerance, RelTolerance, NoChange) ended the loop
};

// One loop from *motion with the outputs of ICPPntSet; report (may be null) tells how it ended.
// -2 as ICPPntSet (null argument, n < 1, a tree without points or arrays, no memory).
int RunICPLoop(const float* x, const float* y, const float* z, int n, const RegParams& params, KDTree* tree,
               const ICPStep& step, RegVec* motion, double* error, double* largest, int* brk,
               ICPLoopReport* report);
