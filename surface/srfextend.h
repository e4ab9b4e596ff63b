// Bridge patches at a boundary and the extension of curves and surfaces by a bridge: the work
// behind MakeBridgeObject, MakeBPatchFromObjEdgeToCurve3, MakeBPatchOfCnToObj,
// FindExtremeLinesInGrid, ScaleMatWithRespectToVec, MakeCntrlMatUniformLength,
// SnipCrvOnSrfAtSrfEdge, CascadeKnotVecOfObjSet and the length form of ExtendObject
// (construct/extend documents them all), here because the trim-loop tools of this floor extend
// the open ends of curves on surfaces.
//
// Boundary index edge: 0 u-minimum, 1 v-maximum, 2 u-maximum, 3 v-minimum; for a curve 0 is the
// start and 1 or 2 the end. Rows are counted from the boundary inward. Continuity: 0 position,
// 1 tangent, 2 curvature.
#pragma once

#include "bspline/smake.h"

// MakeBridgeObject: a patch from the edge to a target (a target curve for a surface, a target
// point for a curve) or, without one, by length. Null for a continuity outside 0..2, a surface
// given only a target point, and on failure; with the error state -2 for an obj or target curve
// that is not sound (bsvalid), a target point that is not finite, or a patch that is not sound.
Bspline* BridgeObject(Bspline* obj, Bspline* targetCurve, double* targetPoint, double length,
                      int uniform, int edge, int cont);
// MakeBPatchFromObjEdgeToCurve3: 1, or 0 on failure (*patch null).
int BridgePatchToTargets(Bspline* obj, int edge, const double* x, const double* y,
                         const double* z, const double* w, Bspline** patch);
// MakeBPatchOfCnToObj: 1, or 0 (*patch null) for |length| below 0.001 of obj's size and on
// failure.
int BridgePatchByLength(Bspline* obj, int edge, double length, int uniform, int cont,
                        Bspline** patch);
// FindExtremeLinesInGrid.
void GridLineLengthExtremes(const double* x, const double* y, const double* z, int pointStride,
                            int lineStride, int pointsPerLine, int lines, double out[2]);
// ScaleMatWithRespectToVec.
void ScaleAboutReference(double* m, const double* ref, double s, int n, int stride);
// MakeCntrlMatUniformLength (a surface whose structure is not sound, bsvalid, is left alone).
void StretchLinesToLength(Bspline* srf, double length, int dir);

// SnipCrvOnSrfAtSrfEdge: ext itself unless it is a 2D curve; else a new curve, null on failure.
Bspline* SnipExtensionAtDomainEdge(Bspline* ext, Bspline* orig, int atStart);
// CascadeKnotVecOfObjSet.
void CascadeKnotVectors(Bspline** objs, int n, const int* dirs);

// The start every extension shares: a surface loses its trim loops; the continuity is lowered
// to the degree d across the edge when d < 2 and d < cont.
int PrepareExtension(Bspline* obj, int edge, int cont);
// Hands a surface's curve list to the result (each curve gets it as owner; obj's list empties).
void HandCurvesOver(Bspline* obj, Bspline* result);
// When the bridge's average control-polygon length across is below 0.001 of obj's size (its
// control points' box diagonal in its own coordinates), the result of an
// extension is a copy of obj whose boundary line is the bridge's far line: that copy (*tiny
// true, null on failure). Otherwise null and *tiny false.
Bspline* ExtensionByTinyBridge(Bspline* obj, Bspline* bridge, int edge, bool toTarget,
                               bool* tiny);

// ExtendObject without a target: a copy for length 0.0, else the by-length bridge joined on
// with the continuity and the cross-join derivative of the added part scaled by scale. The
// curvature extension (cont 2 on an object of degree 2 or more across) is ExtendObject's own
// and is refused here (null, error state -2), as is a continuity outside 0..2. obj's side
// effects are ExtendObject's.
Bspline* ExtendObjectByBridge(Bspline* obj, double length, int uniform, int edge, int cont,
                              double scale);
