// What the knot removal (kremove.cpp) lends the rest of bspline/ besides its public calls: the
// measure of a merge of close knots, which the compatible sets (objset.cpp) take before they merge.
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
