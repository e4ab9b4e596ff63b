// What the knot removal (kremove.cpp) lends the rest of bspline/ besides its public calls: the
// measures of a merge of close knots and of knots moved onto another object's, which the
// compatible sets (objset.cpp) take before they merge.
// Internal to bspline/.
#pragma once

struct Bspline;

// How far PutCloseKnotsToMultKnots with tol would move obj in direction dir, into *move: the
// largest distance at samples of every span (a rational object's points divided by their
// weights; a huge value when it is not finite), 0 when no knots merge; obj is not changed. 0;
// 1 with nothing measured when the merge would delete a control line (the move of a line cut
// is not bounded by samples); -2 on allocation failure, and with the error state set for a
// record that is not sound (bsvalid) or a null move.
int KnotMergeMove(const Bspline* obj, int dir, double tol, double* move);

// How far giving direction dir of obj the knot vector `knots` (as many values as its own, each
// moved a little: onto another object's knot) would move it, into *move: the largest distance at
// samples of every span of either vector (a huge value when it is not finite); obj is not
// changed. 0; -2 with the error state set for a record that is not sound (bsvalid), knots that
// are not a sound vector for it, or a null argument.
int KnotVectorChangeMove(const Bspline* obj, int dir, const double* knots, double* move);
