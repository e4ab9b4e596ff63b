// Registration points from feature pairs: a list of corresponding features (points, lines,
// planes, directions, point sets) of a moving part and its target turned into two equally long
// point lists that correspond by index, for the closed-form registration of point sets. Points
// come from single features, from every two and every three pairs, and from the lines where two
// plane pairs meet. Also the small angle and line measures the feature code shares.
#pragma once

#include "cloud/putil.h"
#include "registration/regpair.h"

// The acute angle between two lines whose directions make the angle a (degrees): |a| when
// |a| <= 90, else 180 - |a|.
float AbsAngle(float a);
// out = base + d unit(p2 - p1), the line given as {p1, p2}; a line of no length gives base.
// Returns 0.
int PointOnLine(const double line[6], const double base[3], float d, double out[3]);

// The corresponding points of the list, in the order they were made: every pair's single
// features, then for each pair P1 (both features present and of one type) and each later such
// pair P2 the points of (P1, P2) and of each (P1, P2, P3) with P3 after P2, then each pair whose
// A is no plane with each auxiliary line pair. A combination counts only when both sides give the
// same number of points. *A and *B are new lists (FreePointList) of equal count. -2, both null,
// for a null list, no point at all, or no memory. tolerance (degrees) is the least angle of two
// planes or of three features that may meet in a point.
int MMRCreateRegPointsFromRegPairList(const RegPair* list, PointList** A, PointList** B, double tolerance);
// The line pairs where two plane pairs meet, when the A planes and the B planes both make more
// than tolerance degrees, pushed at the head of *aux (a new list, FreeFeaturePairList; null when
// none). 0 (also for a null list); -2, *aux null, for a null aux or no memory.
int MMRCreateAuxFeaturePairList(const RegPair* list, RegPair** aux, double tolerance);
// Appends the first min(count, m) points of the list, widened to double. -2 for a null queue or
// list, m < 0, or no memory (the points appended so far stay).
int InsertPointListToCoordQueue(CoordQueue* queue, const PointList* list, int m);
// 1 when some three points of the list make an angle (at the middle one) more than 2 degrees
// from 0 and 180; 0 otherwise, for null and for fewer than 3 points.
int Contains3NonColinear(const PointList* list);
// The angle in degrees (0..180) at v between p - v and r - v; 0 when either is shorter than
// 1e-3 (squared length below 1e-6).
double Angle3Pts(const double p[3], const double v[3], const double r[3]);
