// Joining two objects along a boundary: the B-spline work behind MakeStartAndEndObj,
// MakeObjFromTwoObj, ScaleObjectDerivative (stitch/srfstitc) and SetCntrlLineFromSurf
// (stitch/vcnobj), documented there, here so that the extension of curves and surfaces on the
// surface floor joins its bridge patches too.
#pragma once

#include "bspline/smake.h"

// The control points of one direction of an object as lines across it: line l, point i is the
// value at coord[c][start(l) + i * stride] for coordinate c (x, y, z when 3D, w when rational).
struct ControlLines {
  double* coord[4];
  int nCoord;    // 2 or 3 Cartesian coordinates, plus w when withW
  bool withW;
  int nLines;    // lines across the direction
  int nPoints;   // points on each line
  int stride;
  int lineStep;  // start(l) = l * lineStep
};
ControlLines LinesAcross(const Bspline* obj, int dir);
// A divisor this small against the terms it is made of has no reliable quotient.
bool Vanishes(double divisor, double scale);

// MakeStartAndEndObj: objs[0] reversed to end at the seam, objs[1] to start there.
void OrientPairEndToStart(int* bndry, Bspline** objs);
// MakeObjFromTwoObj. objs holds three entries for surfaces (the third the optional seam row).
// Null (error state -2) for a record that is not sound (bsvalid), and for a joined record that
// would not be: objs[1]'s knots must continue objs[0]'s in the joined direction.
Bspline* JoinObjectPair(Bspline** objs, const double* seamPoint, const int* along,
                        double* seamPar, int positionSide);
// ScaleObjectDerivative.
void ScaleDerivativeAtKnot(Bspline* obj, double t, int dir, double factor, int before, int order);
// SetCntrlLineFromSurf.
void CopyControlLineOfSurf(Bspline* dst, const Bspline* src, int dstIsColumn, int srcIsColumn,
                           int dstIndex, int srcIndex);
