// Closed objects: whether a curve or surface closes on itself, recorded in its closed flags.
#pragma once

#include "bspline/smake.h"

// Writes the closed flags from the control points: a 3D curve gets 3 when its end points agree
// within 1e-6 per coordinate, else 0; a 2D curve gets 3 when its ends, clamped into the owner's
// domain, agree within 1e-6 of the domain in u and v or map onto one 3D point of the owner
// (ends on the two sides of a closed surface's seam), else 0 (without owner its ends are
// compared like a 3D curve's); a surface gets 1 or 0 per direction: closed in u when the first
// and last point of every row agree, in v when the first and last row agree (rational:
// weighted coordinates and the weights). Null objects and other curves are left alone.
void SetObjClosed(Bspline* obj);

// The closed flags as a code: 1 when closed in u (a curve's flag), plus 2 when a surface is
// closed in v; 0 for an open object.
int ObjectClosed(Bspline* obj);

// ---- Start points of closed objects ---------------------------------------------------------
// A new object that starts at parameter t of the closed object (t = v for dir nonzero, else
// u): the object cut at t and its two pieces joined in the other order, position continuous
// with the seam row averaged, flagged closed again. The pieces keep their parameter speed, so
// the new object runs from t to t + range (a surface's snipped pieces take their own speed
// first) and a 3D curve loses the old seam's join knots again (removal within 1e-4 of its
// size). A surface hands its curves to the result; its trim loops are dropped. An object with
// an exact form is rotated instead (ChangeQuadricsStartPoint). The input is never changed.
// Null, error state untouched, for an object not closed in the chosen direction; null with
// error state -6 for a 2D curve whose two ends lie on its owner's seam; null on failure.
Bspline* ChangeObjectStartPnt(Bspline* obj, double u, double v, int dir);

// A copy of a circle, sphere, cylinder or cone rotated about its axis so that its start (a
// surface: the start of the middle line in the chosen direction) moves to the point at u (a
// curve) or (u, v); knots and weights are unchanged. The axis comes from control points 0, 2,
// 4 and 6 of that line, so the line needs at least 7; the origin from the exact form (a
// circle's or arc's centre, a sphere's centre, a cylinder's axis point, a cone's apex). Null
// for a short line, another exact form, a degenerate axis or on failure.
Bspline* ChangeQuadricsStartPoint(Bspline* obj, double u, double v, int dir);
