// Iterative closest point registration of a moving point set A onto a target B whose points do
// not correspond: move A by the current motion, pair each moved point with its nearest target
// point (kd-tree over B), solve the closed form of A onto those points, repeat. On top of the
// plain loop: an error that ignores pairs beyond a maximum distance, extrapolated steps along a
// straight run of motions, a coarse pass on a sample, a search over many start motions and a
// retry from perturbed motions when the result ends just above the tolerance.
//
// Point sets are three float arrays and a count; arithmetic is in double. Errors are RMS
// distances in the clouds' units; `largest` is the largest pair distance within maxDistance.
// Loops poll user_break once per iteration; a break stops the work with success, the best
// motion accepted so far and the break flag 1. Improving motions are shown through RegAnimation
// when `animate` is 1. One registration at a time: the tree keeps its last query, and the
// registration mode and lastXform are process-wide.
#pragma once

#include "cloud/makecld.h"
#include "registration/confreg.h"
#include "registration/kdtree.h"
#include "registration/qternion.h"

struct RegParams {
  RegConstraint* constraint;  // null: free motion (read by the constrained drivers only)
  int sampleCount;            // size of the coarse passes' sample of A; below 1 keeps all points
  int startCount;             // rows of startPoses
  double** startPoses;        // start motions of the global search (7 columns); null: made here
  int globalSearch;           // 1: ICPtwoClouds searches start motions instead of a coarse pass
  int animate;                // 1: improving motions are shown
  int maxIterations;          // iteration limit of one loop
  double bestError;           // an improving motion is shown only below this error
  double maxDistance;         // pairs farther apart are left out of the error
  double tolerance;           // absolute: a loop stops at or below this error
  double relTolerance;        // a loop stops after three iterations changing less than this
};

// The defaults: no constraint, sample 100, no start table, no global search, no display,
// 40 iterations, bestError and maxDistance 3.37e38, tolerance 0.001, relTolerance 0.0005.
// -2 for null.
int SetDefaultRegParams(RegParams* params);

// Registers cloud A onto cloud B from the start motion in *motion; on success *motion is the
// result and error, largest its RMS and largest pair distance. -2 (motion at most normalised,
// nothing else written but the break flag 0) for a null argument, fewer than 3 points in either
// cloud, no pair within maxDistance at the start, fewer than three when the main pass begins
// (nothing registered), or no memory. Under a finite maxDistance, motions are ranked by their
// squared pair distances over all of A with far pairs counted at maxDistance, and the result
// (unless a break stopped the work) is checked for being determined by its near pairs: 1, with
// motion, error and largest written as for success, when it is not: five more plain iterations
// move A's box corners by more than 1e-3 maxDistance (the motion has not stopped changing: an
// error that changes little can hide a motion still sliding along a flat-ish surface), or the
// pairs' point-to-plane information (target normals from plane fits over B's neighbours, turns
// weighed by the pairs' RMS radius about their centroid) holds its weakest direction by less
// than 1e-3 of its strongest (sliding on a plane, turning about its normal), or B's normals
// cannot be fitted (their fit shows its thermometer). Then the motion is a guess, not a registration; 0 means it is determined.
// The start errors that call for the coarse pass (above 0.1) and the retry (above 0.001) are
// measured in units of B's box diagonal, so that the same registration scaled or moved decides
// alike.
int ICPtwoClouds(Cloud* A, Cloud* B, RegParams params, RegVec* motion, double* error, double* largest, int* brk);
// The best motion over many start motions (params.startPoses, or those of GetInitialQuaternion),
// each refined first on a sample, the best few on all of A. -2 for a null argument, n < 3, a tree
// without arrays, or no memory.
int ICPtwoPntSetsGlobalSearch(const float* x, const float* y, const float* z, int n, RegParams params,
                              KDTree* tree, RegVec* motion, double* error, double* largest, int* brk);
// One loop from *motion. Writes the start's error and largest distance (unless no pair is within
// maxDistance), then the improved motion and its error. Each step solves the pairs within
// maxDistance (all pairs when none is) and ends the loop when only one or two are; progress is
// measured with far pairs counted at maxDistance. The loop runs until the error is at or
// below tolerance, three iterations in a row change it by less than relTolerance (relative, above
// an error of 0.001 of the target's box diagonal), it stops changing, maxIterations are done, four
// iterations bring no lower error, or user_break; a refused extrapolated step does not end it. The
// extrapolation weighs shifts in units of that diagonal, so a registration scaled or moved is
// the same registration. The caller sees whether it
// met its tolerance by comparing the error with params.tolerance. -2 for a null argument, n < 1, a
// tree without points or arrays, or no memory.
int ICPPntSet(const float* x, const float* y, const float* z, int n, RegParams params, KDTree* tree,
              RegVec* motion, double* error, double* largest, int* brk);
// RMS and largest distance of A moved by the motion to its nearest target points, pairs beyond
// maxDistance left out. -2 (outputs untouched) when no pair is within maxDistance.
int PntSetRegError(const float* x, const float* y, const float* z, int n, const RegVec* motion, KDTree* tree,
                   double maxDistance, double* error, double* largest);
// The motion as a row-vector 4 x 4 matrix (translation in row 3). -2, with a pure translation,
// for a quaternion that cannot be normalised.
int registr_transform_matrix(const RegVec* motion, double m[4][4]);
// A moved by the motion into ox, oy, oz (a point that is not a number stays one). -2 for a null
// pointer or a motion that is not finite (nothing written), and for a finite point moved past the
// float range (every point written); n < 1 writes nothing.
int TransformPntSet(const float* x, const float* y, const float* z, int n, const RegVec* motion, float* ox,
                    float* oy, float* oz);
// Every s-th point of the cloud (s = N div target, at least 1), into three new arrays owned by the
// caller (released with Free, outside every tracking scope). -2 for a null cloud or no memory.
int SimpleSampleCloud(Cloud* cloud, int target, float** x, float** y, float** z, int* count);
// Covariance of the points about their centroid into the 3 x 3 row-pointer M (products / n); an
// empty set gives zeros.
int pntset_covariance_matrix(const float* x, const float* y, const float* z, int n, double** M);
// Shifts rows 0..rows-2 down by one and copies the motion into row 0.
int Insert_registr_table(double** table, int rows, const RegVec* motion);
// A motion extrapolated along the run of the table's last four motions (newest in row 0) with
// their errors h[0..3]; done = 1. -2 (done 0) when the steps are too short (a squared step of
// the seven values below 1e-6) or not straight enough (cosines below c). Translations and errors
// are read in units of the data's size, as the ICP loop keeps its table: turns and shifts then
// weigh alike, and the thresholds are relative to the size.
int UpdateICPRegistration(double** table, const double h[4], double c, double factor, RegVec* out, int* done);
// Step length along the last direction from three errors at positions x (x[0] = 0 the newest),
// at most smax; 0 when the newest error or the last step is below 1e-6 (in units of the data's
// size, as UpdateICPRegistration passes them). Returns 0.
int Func3ValExtrapolate(const double x[3], const double e[3], double smax, double* step);

// Under the registration constraint in params->constraint (null, or kind 4 with transFreedom 3,
// is free; all of it in B's frame): each iteration solves the pairs with
// ConstrainedRegCorPntSet, so the constraint limits the whole motion measured from A's own
// position. A constraint the solver does not serve (kind 1 or 3 in a search, kind 1 anywhere,
// a degenerate axis) gives -2 with the motion normalised and nothing registered.

// ICPPntSet with the constrained solve, extrapolating only for a free constraint. Error and
// largest are 3.37e38 while no pair of the start is within maxDistance. -2 as ICPPntSet.
int NewICPPntSet(const float* x, const float* y, const float* z, int n, RegParams params, KDTree* tree,
                 RegVec* motion, double* error, double* largest, int* brk);
// A simpler loop: no table, no extrapolation, three iterations without a lower error end it, and
// the last motion (not the best one met) is handed back when its error is below the start's,
// with its error and largest distance; otherwise the normalised start and its error (3.37e38
// when no pair is within maxDistance). A free constraint returns what ICPPntSet returns. -2 as
// ICPPntSet, for a null params, and for a constraint the solver refuses.
int CICPPntSet(const float* x, const float* y, const float* z, int n, RegParams* params, KDTree* tree,
               RegVec* motion, double* error, double* largest, int* brk);
// ICPtwoPntSetsGlobalSearch with start motions that respect the constraint
// (GetConstrainedInitQternion; params->startPoses is not read) and CICPPntSet loops on the
// caller's record, which keeps what the stages set: bestError the start's error and then each
// stage's, maxIterations 20 or 10 on the sample, half the caller's on all points, 2 or 5 at the
// end. A free constraint returns what ICPtwoPntSetsGlobalSearch returns. -2 as that, for a null
// params, and for a constraint without start motions (kinds 1 and 3).
int CICPPntSetsGlobalSearch(const float* x, const float* y, const float* z, int n, RegParams* params,
                            KDTree* tree, RegVec* motion, double* error, double* largest, int* brk);
// Two clouds under the constraint: the global search or, from a start error above 0.1 of the
// target's box diagonal and 20 tolerances, three CICPPntSet iterations on a sample (the caller's
// animate put back after them), then the main CICPPntSet pass with the caller's maxIterations. No centroid shift and no
// retry. The caller's record is working state: bestError ends as the best error found, and after
// a break in the first stage maxIterations keeps that stage's value. A break stops with the best
// motion so far and flag 1 (error and largest those of the start when it came before the main
// pass). A null constraint returns what ICPtwoClouds returns and leaves the record unchanged.
// -2 for a null argument, fewer than 3 points in either cloud, no pair within maxDistance at the
// start, a failed search, a refused constraint or no memory.
int CICPtwoClouds(Cloud* A, Cloud* B, RegParams* params, RegVec* motion, double* error, double* largest,
                  int* brk);
