// Written by scripts/entry-table from the kernel's headers; do not edit.
// Every public function taking a B-spline record whose parameters the driver can give:
// {name, header, parameter count, call}, the call written against the driver's argument
// source Args.
#pragma once

#include "bspline/bsvalid.h"
#include "bspline/cclone.h"
#include "bspline/creverse.h"
#include "bspline/crvlist.h"
#include "bspline/ctrlnubs.h"
#include "bspline/cutcurves.h"
#include "bspline/degelev.h"
#include "bspline/helper.h"
#include "bspline/isocurve.h"
#include "bspline/keepshape.h"
#include "bspline/kinsert.h"
#include "bspline/knots.h"
#include "bspline/kremove.h"
#include "bspline/measure.h"
#include "bspline/nubs.h"
#include "bspline/nubutil.h"
#include "bspline/objjoin.h"
#include "bspline/objset.h"
#include "bspline/refines.h"
#include "bspline/refines2.h"
#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "bspline/srfclone.h"
#include "bspline/srfgrid.h"
#include "bspline/subobj.h"
#include "construct/crv2srf.h"
#include "construct/extend.h"
#include "construct/extrude.h"
#include "construct/quadrics.h"
#include "construct/srfblend.h"
#include "construct/srfloft.h"
#include "construct/srfmerge.h"
#include "construct/srfoffst.h"
#include "construct/srfr2nr.h"
#include "construct/srfrevol.h"
#include "curve/cintsct.h"
#include "curve/cpoint.h"
#include "curve/crvbrk.h"
#include "curve/crvclpt.h"
#include "curve/crverr.h"
#include "curve/crvfoot.h"
#include "curve/crvintr.h"
#include "curve/crvoffst.h"
#include "curve/crvproj.h"
#include "curve/crvutil.h"
#include "curve/endspan.h"
#include "curve/fitcurve.h"
#include "curve/mkline3.h"
#include "curve/planefit.h"
#include "curve/pntintrp.h"
#include "curve/quadrics.h"
#include "curve/trimpoly.h"
#include "healing/gstitch.h"
#include "healing/mshrink.h"
#include "healing/srfbndr.h"
#include "healing/srfbndrc.h"
#include "intersect/cntrlpt.h"
#include "intersect/curvatur.h"
#include "intersect/filutil.h"
#include "intersect/newtrace.h"
#include "quadric/cpoint.h"
#include "quadric/planefit.h"
#include "quadric/qnurbs.h"
#include "quadric/qrevolve.h"
#include "quadric/quadrics.h"
#include "shrinkwrap/crvfair.h"
#include "shrinkwrap/crvnet.h"
#include "shrinkwrap/cshrink.h"
#include "shrinkwrap/csmooth.h"
#include "shrinkwrap/gridintp.h"
#include "shrinkwrap/platefit.h"
#include "shrinkwrap/shrink.h"
#include "shrinkwrap/smooth.h"
#include "splinefit/acyleng.h"
#include "splinefit/aspline.h"
#include "splinefit/gspline.h"
#include "splinefit/intrplt.h"
#include "splinefit/sconvert.h"
#include "splinefit/skin.h"
#include "splinefit/splutil.h"
#include "splinefit/splzero.h"
#include "splinefit/wrapfit.h"
#include "stitch/crossder.h"
#include "stitch/loftrows.h"
#include "stitch/srfcont.h"
#include "stitch/srferr.h"
#include "stitch/srfsample.h"
#include "stitch/srfstitc.h"
#include "stitch/userdef.h"
#include "stitch/vcnobj.h"
#include "surface/bnd2crv.h"
#include "surface/cpoint.h"
#include "surface/planefit.h"
#include "surface/quadrics.h"
#include "surface/railsweep.h"
#include "surface/srfdup.h"
#include "surface/srfextend.h"
#include "surface/srfline.h"
#include "surface/srfnorm.h"
#include "surface/srfpick.h"
#include "surface/srfsnip.h"
#include "surface/srfutils.h"
#include "surface/startpnt.h"
#include "surface/trimutils.h"

template <class Args>
struct EntryTableOf {
  struct Row {
    const char* name;
    const char* header;
    int params;
    void (*call)(Args&);
  };
  static constexpr Row rows[] = {
      {"BsplineSound", "bspline/bsvalid.h", 1, [](Args& a) { a.Value(BsplineSound(a.Rec(0))); }},
      {"RecordArraySound", "bspline/bsvalid.h", 2, [](Args& a) { a.Value(RecordArraySound(a.Recs(0), a.Int(1))); }},
      {"SoundRecordOrFailed", "bspline/bsvalid.h", 1, [](Args& a) { a.Made(SoundRecordOrFailed(a.Rec(0))); }},
      {"CopyCurveBspline", "bspline/cclone.h", 1, [](Args& a) { a.Made(CopyCurveBspline(a.Rec(0))); }},
      {"CopyCurveGivenBspline", "bspline/cclone.h", 2, [](Args& a) { a.Value(CopyCurveGivenBspline(a.Rec(0), a.Rec(1))); }},
      {"CopyCurveQuadrics", "bspline/cclone.h", 2, [](Args& a) { a.Value(CopyCurveQuadrics(a.Rec(0), a.Rec(1))); }},
      {"reverseBspline", "bspline/creverse.h", 1, [](Args& a) { reverseBspline(a.Rec(0)); a.Done(); }},
      {"PutBsplToSurfCrvList", "bspline/crvlist.h", 2, [](Args& a) { PutBsplToSurfCrvList(a.Rec(0), a.Rec(1)); a.Done(); }},
      {"AppendBsplToSurfCrvList", "bspline/crvlist.h", 2, [](Args& a) { AppendBsplToSurfCrvList(a.Rec(0), a.Rec(1)); a.Done(); }},
      {"DeleteTrimInfoOfBsplSet", "bspline/crvlist.h", 2, [](Args& a) { DeleteTrimInfoOfBsplSet(a.Recs(0), a.Int(1)); a.Done(); }},
      {"IsInTrimLoop", "bspline/crvlist.h", 1, [](Args& a) { a.Value(IsInTrimLoop(a.Rec(0))); }},
      {"ReplaceInTrimLoop", "bspline/crvlist.h", 3, [](Args& a) { a.Value(ReplaceInTrimLoop(a.Rec(0), a.Int(1), a.Recs(2))); }},
      {"EvalGridOnGeometryM", "bspline/ctrlnubs.h", 10, [](Args& a) { a.Value(EvalGridOnGeometryM(a.Rec(0), a.Reals(1), a.Reals(2), a.Int(3), a.Int(4), a.Ints(5), a.Ints(6), a.Int(7), a.Int(8), a.Matrix(9))); }},
      {"EvalUniformGridOnGeometryM", "bspline/ctrlnubs.h", 8, [](Args& a) { a.Value(EvalUniformGridOnGeometryM(a.Rec(0), a.Int(1), a.Int(2), a.Ints(3), a.Ints(4), a.Int(5), a.Int(6), a.Matrix(7))); }},
      {"EvalGridOnGeometryGivenNubValsM", "bspline/ctrlnubs.h", 12, [](Args& a) { a.Value(EvalGridOnGeometryGivenNubValsM(a.Rec(0), a.Int(1), a.Int(2), a.Ints(3), a.Ints(4), a.Int(5), a.Reals(6), a.Reals(7), a.Ints(8), a.Ints(9), a.Int(10), a.Matrix(11))); }},
      {"EvalPointOnBspline", "bspline/ctrlnubs.h", 6, [](Args& a) { a.Value(EvalPointOnBspline(a.Rec(0), a.Reals(1), a.Reals(2), a.Int(3), a.Int(4), a.Reals(5))); }},
      {"EvalPointOnBspline4D", "bspline/ctrlnubs.h", 6, [](Args& a) { a.Value(EvalPointOnBspline4D(a.Rec(0), a.Reals(1), a.Reals(2), a.Int(3), a.Int(4), a.Reals(5))); }},
      {"EvalPointOnRBspline", "bspline/ctrlnubs.h", 8, [](Args& a) { a.Value(EvalPointOnRBspline(a.Rec(0), a.Reals(1), a.Reals(2), a.Int(3), a.Int(4), a.Int(5), a.Int(6), a.Reals(7))); }},
      {"EvalPointCrossDiffOnRBspline", "bspline/ctrlnubs.h", 8, [](Args& a) { a.Value(EvalPointCrossDiffOnRBspline(a.Rec(0), a.Reals(1), a.Reals(2), a.Int(3), a.Int(4), a.Int(5), a.Int(6), a.Reals(7))); }},
      {"EvalPointDirectDiffOnRBspline", "bspline/ctrlnubs.h", 8, [](Args& a) { a.Value(EvalPointDirectDiffOnRBspline(a.Rec(0), a.Reals(1), a.Reals(2), a.Int(3), a.Int(4), a.Int(5), a.Int(6), a.Reals(7))); }},
      {"EvalPointOn2DBspline", "bspline/ctrlnubs.h", 6, [](Args& a) { a.Value(EvalPointOn2DBspline(a.Rec(0), a.Reals(1), a.Int(2), a.Int(3), a.Int(4), a.Reals(5))); }},
      {"DomainBoundaryCrossings", "bspline/cutcurves.h", 3, [](Args& a) { a.Value(DomainBoundaryCrossings(a.Rec(0), a.Reals(1), a.Ints(2))); }},
      {"CutCurveAtDomain", "bspline/cutcurves.h", 1, [](Args& a) { a.Value(CutCurveAtDomain(a.Rec(0))); }},
      {"CutCurvesAtDomain", "bspline/cutcurves.h", 1, [](Args& a) { a.Value(CutCurvesAtDomain(a.Rec(0))); }},
      {"ElevateDegreeOfObjSet", "bspline/degelev.h", 4, [](Args& a) { ElevateDegreeOfObjSet(a.Int(0), a.Ints(1), a.Recs(2), a.Int(3)); a.Done(); }},
      {"IncrementDegreeOfObject", "bspline/degelev.h", 2, [](Args& a) { IncrementDegreeOfObject(a.Int(0), a.Rec(1)); a.Done(); }},
      {"ComputeSurfaceNormal", "bspline/helper.h", 6, [](Args& a) { ComputeSurfaceNormal(a.Rec(0), a.Real(1), a.Real(2), a.Reals(3), a.Reals(4), a.Reals(5)); a.Done(); }},
      {"FindTangentPlane", "bspline/helper.h", 7, [](Args& a) { a.Value(FindTangentPlane(a.Rec(0), a.Real(1), a.Real(2), a.Reals(3), a.Reals(4), a.Reals(5), a.Reals(6))); }},
      {"SurfaceTangentPlane", "bspline/helper.h", 4, [](Args& a) { a.Value(SurfaceTangentPlane(a.Rec(0), a.Real(1), a.Real(2), a.Reals(3))); }},
      {"GetSurfNorm", "bspline/helper.h", 3, [](Args& a) { a.Value(GetSurfNorm(a.Rec(0), a.Floats(1), a.Floats(2))); }},
      {"BsplCurveTangentDir", "bspline/helper.h", 3, [](Args& a) { a.Pointer(BsplCurveTangentDir(a.Rec(0), a.Real(1), a.Reals(2))); }},
      {"SurfaceCurvature", "bspline/helper.h", 3, [](Args& a) { a.Value(SurfaceCurvature(a.Rec(0), a.Real(1), a.Real(2))); }},
      {"LargerPrincipalCurvature", "bspline/helper.h", 3, [](Args& a) { a.Value(LargerPrincipalCurvature(a.Rec(0), a.Real(1), a.Real(2))); }},
      {"LargerPrincipalCurvatureGrid", "bspline/helper.h", 6, [](Args& a) { LargerPrincipalCurvatureGrid(a.Rec(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Int(4), a.Int(5)); a.Done(); }},
      {"BsplCurveCurvature", "bspline/helper.h", 2, [](Args& a) { a.Value(BsplCurveCurvature(a.Rec(0), a.Real(1))); }},
      {"IsCompleteSurface3", "bspline/isocurve.h", 1, [](Args& a) { a.Value(IsCompleteSurface3(a.Rec(0))); }},
      {"ControlLineCurve", "bspline/isocurve.h", 3, [](Args& a) { a.Made(ControlLineCurve(a.Rec(0), a.Int(1), a.Int(2))); }},
      {"IsoCurve3", "bspline/isocurve.h", 4, [](Args& a) { a.Made(IsoCurve3(a.Rec(0), a.Real(1), a.Real(2), a.Int(3))); }},
      {"MarkClosedFromControlPoints", "bspline/isocurve.h", 1, [](Args& a) { MarkClosedFromControlPoints(a.Rec(0)); a.Done(); }},
      {"IsoParameterKind", "bspline/isocurve.h", 2, [](Args& a) { a.Value(IsoParameterKind(a.Rec(0), a.Int(1))); }},
      {"RestoreBsplineShape", "bspline/keepshape.h", 2, [](Args& a) { RestoreBsplineShape(a.Rec(0), a.Rec(1)); a.Done(); }},
      {"InsertNKnotsToObject", "bspline/kinsert.h", 6, [](Args& a) { InsertNKnotsToObject(a.Int(0), a.Int(1), a.Int(2), a.Rec(3), a.Int(4), a.Reals(5)); a.Done(); }},
      {"InsertOneKnotToObject", "bspline/kinsert.h", 6, [](Args& a) { a.Value(InsertOneKnotToObject(a.Int(0), a.Int(1), a.Rec(2), a.Int(3), a.Real(4), a.Int(5))); }},
      {"SetDomainFromKnots", "bspline/knots.h", 2, [](Args& a) { SetDomainFromKnots(a.Rec(0), a.Int(1)); a.Done(); }},
      {"ObjectGrevilleParams", "bspline/knots.h", 2, [](Args& a) { a.Pointer(ObjectGrevilleParams(a.Rec(0), a.Int(1))); }},
      {"BoundaryParam", "bspline/knots.h", 2, [](Args& a) { a.Value(BoundaryParam(a.Rec(0), a.Int(1))); }},
      {"RemoveKnotsOfObjSet", "bspline/kremove.h", 9, [](Args& a) { a.Value(RemoveKnotsOfObjSet(a.Recs(0), a.Int(1), a.Int(2), a.Int(3), a.Reals(4), a.Int(5), a.Int(6), a.Real(7), a.Reals(8))); }},
      {"RemoveNKnotsOfObj", "bspline/kremove.h", 5, [](Args& a) { a.Value(RemoveNKnotsOfObj(a.Rec(0), a.Int(1), a.Reals(2), a.Int(3), a.Reals(4))); }},
      {"RemoveAMaximalKnotSetOfObjSet", "bspline/kremove.h", 9, [](Args& a) { a.Value(RemoveAMaximalKnotSetOfObjSet(a.Recs(0), a.Int(1), a.Int(2), a.Reals(3), a.Int(4), a.Int(5), a.Int(6), a.Real(7), a.Reals(8))); }},
      {"RemoveSpecifiedKnotOfObject", "bspline/kremove.h", 4, [](Args& a) { a.Value(RemoveSpecifiedKnotOfObject(a.Rec(0), a.Real(1), a.Int(2), a.Reals(3))); }},
      {"PutCloseKnotsToMultKnots", "bspline/kremove.h", 5, [](Args& a) { a.Value(PutCloseKnotsToMultKnots(a.Rec(0), a.Int(1), a.Real(2), a.Ints(3), a.Ints(4))); }},
      {"CurveOnSurfParamBox", "bspline/measure.h", 5, [](Args& a) { CurveOnSurfParamBox(a.Rec(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Reals(4)); a.Done(); }},
      {"ControlPointBox", "bspline/measure.h", 3, [](Args& a) { ControlPointBox(a.Rec(0), a.Reals(1), a.Reals(2)); a.Done(); }},
      {"ControlPointDiagonal", "bspline/measure.h", 1, [](Args& a) { a.Value(ControlPointDiagonal(a.Rec(0))); }},
      {"ControlPointSetDiagonal", "bspline/measure.h", 2, [](Args& a) { a.Value(ControlPointSetDiagonal(a.Recs(0), a.Int(1))); }},
      {"ShortestCtrlPair", "bspline/measure.h", 4, [](Args& a) { a.Value(ShortestCtrlPair(a.Rec(0), a.Rec(1), a.Ints(2), a.Reals(3))); }},
      {"BoundaryDeviation", "bspline/measure.h", 3, [](Args& a) { a.Value(BoundaryDeviation(a.Rec(0), a.Rec(1), a.Real(2))); }},
      {"Eval3DPointOnSurfArray", "bspline/nubs.h", 6, [](Args& a) { Eval3DPointOnSurfArray(a.Rec(0), a.Real(1), a.Real(2), a.Int(3), a.Int(4), a.Reals(5)); a.Done(); }},
      {"Eval3DPointOnSurfCoord", "bspline/nubs.h", 6, [](Args& a) { a.Pointer(Eval3DPointOnSurfCoord(a.Rec(0), a.Real(1), a.Real(2), a.Int(3), a.Int(4), a.Reals(5))); }},
      {"Eval3DPointOnSurfCoord_f", "bspline/nubs.h", 6, [](Args& a) { a.Pointer(Eval3DPointOnSurfCoord_f(a.Rec(0), a.Real(1), a.Real(2), a.Int(3), a.Int(4), a.Reals(5))); }},
      {"Eval4DPointOnRSurfArray", "bspline/nubs.h", 7, [](Args& a) { Eval4DPointOnRSurfArray(a.Rec(0), a.Real(1), a.Real(2), a.Int(3), a.Int(4), a.Int(5), a.Reals(6)); a.Done(); }},
      {"Eval3DPointOnCurve3Array", "bspline/nubs.h", 4, [](Args& a) { Eval3DPointOnCurve3Array(a.Rec(0), a.Real(1), a.Int(2), a.Reals(3)); a.Done(); }},
      {"Eval3DPointOnCurve3Coord", "bspline/nubs.h", 4, [](Args& a) { a.Pointer(Eval3DPointOnCurve3Coord(a.Rec(0), a.Real(1), a.Int(2), a.Reals(3))); }},
      {"Eval4DPointOnRCurve3Array", "bspline/nubs.h", 5, [](Args& a) { Eval4DPointOnRCurve3Array(a.Rec(0), a.Real(1), a.Int(2), a.Int(3), a.Reals(4)); a.Done(); }},
      {"Eval2DPointOnCurve2Array", "bspline/nubs.h", 5, [](Args& a) { Eval2DPointOnCurve2Array(a.Rec(0), a.Rec(1), a.Real(2), a.Int(3), a.Reals(4)); a.Done(); }},
      {"Eval3DPointOnRCurve2Array", "bspline/nubs.h", 5, [](Args& a) { Eval3DPointOnRCurve2Array(a.Rec(0), a.Real(1), a.Int(2), a.Int(3), a.Reals(4)); a.Done(); }},
      {"Eval3DPointOnBsplOnSurfArray", "bspline/nubs.h", 6, [](Args& a) { Eval3DPointOnBsplOnSurfArray(a.Rec(0), a.Rec(1), a.Real(2), a.Int(3), a.Int(4), a.Reals(5)); a.Done(); }},
      {"Eval3DPointOnBsplOnSurfCoord", "bspline/nubs.h", 6, [](Args& a) { a.Pointer(Eval3DPointOnBsplOnSurfCoord(a.Rec(0), a.Rec(1), a.Real(2), a.Int(3), a.Int(4), a.Reals(5))); }},
      {"EvalCrvOnSrfArray", "bspline/nubs.h", 5, [](Args& a) { EvalCrvOnSrfArray(a.Rec(0), a.Rec(1), a.Real(2), a.Int(3), a.Reals(4)); a.Done(); }},
      {"EvalCrvOnSrfCoord", "bspline/nubs.h", 5, [](Args& a) { a.Pointer(EvalCrvOnSrfCoord(a.Rec(0), a.Rec(1), a.Real(2), a.Int(3), a.Reals(4))); }},
      {"Eval4DNpntsOnRCurve3Array", "bspline/nubs.h", 8, [](Args& a) { a.Value(Eval4DNpntsOnRCurve3Array(a.Rec(0), a.Int(1), a.Int(2), a.Int(3), a.Reals(4), a.Reals(5), a.Reals(6), a.Reals(7))); }},
      {"Eval4DNpntsOnRCurve3Array_f", "bspline/nubs.h", 8, [](Args& a) { a.Value(Eval4DNpntsOnRCurve3Array_f(a.Rec(0), a.Int(1), a.Int(2), a.Int(3), a.Floats(4), a.Floats(5), a.Floats(6), a.Floats(7))); }},
      {"Eval3DNpntsOnCurve3Array_f", "bspline/nubs.h", 7, [](Args& a) { a.Value(Eval3DNpntsOnCurve3Array_f(a.Rec(0), a.Int(1), a.Int(2), a.Int(3), a.Floats(4), a.Floats(5), a.Floats(6))); }},
      {"Eval3DNpntsOnRCurve2Array", "bspline/nubs.h", 7, [](Args& a) { a.Value(Eval3DNpntsOnRCurve2Array(a.Rec(0), a.Int(1), a.Int(2), a.Int(3), a.Reals(4), a.Reals(5), a.Reals(6))); }},
      {"Eval3DNpntsOnRCurve2Array_f", "bspline/nubs.h", 7, [](Args& a) { a.Value(Eval3DNpntsOnRCurve2Array_f(a.Rec(0), a.Int(1), a.Int(2), a.Int(3), a.Floats(4), a.Floats(5), a.Floats(6))); }},
      {"Eval2DNpntsOnCurve2Array_f", "bspline/nubs.h", 7, [](Args& a) { a.Value(Eval2DNpntsOnCurve2Array_f(a.Rec(0), a.Rec(1), a.Int(2), a.Int(3), a.Int(4), a.Floats(5), a.Floats(6))); }},
      {"Eval3DNpntsOnBsplOnSurfArray_f", "bspline/nubs.h", 8, [](Args& a) { a.Value(Eval3DNpntsOnBsplOnSurfArray_f(a.Rec(0), a.Rec(1), a.Int(2), a.Int(3), a.Int(4), a.Floats(5), a.Floats(6), a.Floats(7))); }},
      {"Eval3DGridOnBsplArray", "bspline/nubs.h", 8, [](Args& a) { a.Value(Eval3DGridOnBsplArray(a.Rec(0), a.Reals(1), a.Int(2), a.Reals(3), a.Int(4), a.Reals(5), a.Reals(6), a.Reals(7))); }},
      {"Eval3DGridOnBsplArray_f", "bspline/nubs.h", 8, [](Args& a) { a.Value(Eval3DGridOnBsplArray_f(a.Rec(0), a.Reals(1), a.Int(2), a.Reals(3), a.Int(4), a.Floats(5), a.Floats(6), a.Floats(7))); }},
      {"Eval4DGridOnRBsplArray", "bspline/nubs.h", 9, [](Args& a) { a.Value(Eval4DGridOnRBsplArray(a.Rec(0), a.Reals(1), a.Int(2), a.Reals(3), a.Int(4), a.Reals(5), a.Reals(6), a.Reals(7), a.Reals(8))); }},
      {"Eval4DGridOnRBsplArray_f", "bspline/nubs.h", 9, [](Args& a) { a.Value(Eval4DGridOnRBsplArray_f(a.Rec(0), a.Reals(1), a.Int(2), a.Reals(3), a.Int(4), a.Floats(5), a.Floats(6), a.Floats(7), a.Floats(8))); }},
      {"Eval4DGridOnRSurfArray", "bspline/nubs.h", 12, [](Args& a) { a.Value(Eval4DGridOnRSurfArray(a.Rec(0), a.Reals(1), a.Int(2), a.Reals(3), a.Int(4), a.Int(5), a.Int(6), a.Int(7), a.Reals(8), a.Reals(9), a.Reals(10), a.Reals(11))); }},
      {"EvalPointDiffOfRObj", "bspline/nubutil.h", 8, [](Args& a) { EvalPointDiffOfRObj(a.Rec(0), a.Rec(1), a.Rec(2), a.Real(3), a.Real(4), a.Int(5), a.Int(6), a.Reals(7)); a.Done(); }},
      {"EvalPointDirectDiffOfRObj", "bspline/nubutil.h", 8, [](Args& a) { EvalPointDirectDiffOfRObj(a.Rec(0), a.Rec(1), a.Rec(2), a.Real(3), a.Real(4), a.Int(5), a.Int(6), a.Reals(7)); a.Done(); }},
      {"EvalPointCrossDiffOfRObj", "bspline/nubutil.h", 8, [](Args& a) { EvalPointCrossDiffOfRObj(a.Rec(0), a.Rec(1), a.Rec(2), a.Real(3), a.Real(4), a.Int(5), a.Int(6), a.Reals(7)); a.Done(); }},
      {"EvalNpntsDiffOfRObj_f", "bspline/nubutil.h", 11, [](Args& a) { a.Value(EvalNpntsDiffOfRObj_f(a.Rec(0), a.Rec(1), a.Rec(2), a.Reals(3), a.Reals(4), a.Int(5), a.Int(6), a.Int(7), a.Floats(8), a.Floats(9), a.Floats(10))); }},
      {"EvalNpntsDirectDiffOfRObj_f", "bspline/nubutil.h", 11, [](Args& a) { a.Value(EvalNpntsDirectDiffOfRObj_f(a.Rec(0), a.Rec(1), a.Rec(2), a.Reals(3), a.Reals(4), a.Int(5), a.Int(6), a.Int(7), a.Floats(8), a.Floats(9), a.Floats(10))); }},
      {"EvalNpntsCrossDiffOfRObj_f", "bspline/nubutil.h", 11, [](Args& a) { a.Value(EvalNpntsCrossDiffOfRObj_f(a.Rec(0), a.Rec(1), a.Rec(2), a.Reals(3), a.Reals(4), a.Int(5), a.Int(6), a.Int(7), a.Floats(8), a.Floats(9), a.Floats(10))); }},
      {"EvalNpntsOnObj", "bspline/nubutil.h", 9, [](Args& a) { EvalNpntsOnObj(a.Rec(0), a.Int(1), a.Int(2), a.Reals(3), a.Reals(4), a.Int(5), a.Reals(6), a.Reals(7), a.Reals(8)); a.Done(); }},
      {"EvalNpntsOnObj_f", "bspline/nubutil.h", 9, [](Args& a) { EvalNpntsOnObj_f(a.Rec(0), a.Int(1), a.Int(2), a.Reals(3), a.Reals(4), a.Int(5), a.Floats(6), a.Floats(7), a.Floats(8)); a.Done(); }},
      {"ObjectInKnots", "bspline/nubutil.h", 1, [](Args& a) { a.Value(ObjectInKnots(a.Rec(0))); }},
      {"GetClosestKnotPoint", "bspline/nubutil.h", 5, [](Args& a) { a.Value(GetClosestKnotPoint(a.Rec(0), a.Real(1), a.Int(2), a.Int(3), a.Ints(4))); }},
      {"CheckBspline", "bspline/nubutil.h", 2, [](Args& a) { a.Value(CheckBspline(a.Rec(0), a.Real(1))); }},
      {"TestCorrectParamSpan", "bspline/nubutil.h", 2, [](Args& a) { a.Value(TestCorrectParamSpan(a.Rec(0), a.Real(1))); }},
      {"CleanBsplineKnots", "bspline/nubutil.h", 2, [](Args& a) { a.Value(CleanBsplineKnots(a.Rec(0), a.Real(1))); }},
      {"SpanBezierPoints", "bspline/nubutil.h", 3, [](Args& a) { SpanBezierPoints(a.Rec(0), a.Int(1), a.Reals(2)); a.Done(); }},
      {"LinesAcross", "bspline/objjoin.h", 2, [](Args& a) { a.Value(LinesAcross(a.Rec(0), a.Int(1))); }},
      {"OrientPairEndToStart", "bspline/objjoin.h", 2, [](Args& a) { OrientPairEndToStart(a.Ints(0), a.Recs(1)); a.Done(); }},
      {"JoinObjectPair", "bspline/objjoin.h", 5, [](Args& a) { a.Made(JoinObjectPair(a.Recs(0), a.Reals(1), a.Ints(2), a.Reals(3), a.Int(4))); }},
      {"ScaleDerivativeAtKnot", "bspline/objjoin.h", 6, [](Args& a) { ScaleDerivativeAtKnot(a.Rec(0), a.Real(1), a.Int(2), a.Real(3), a.Int(4), a.Int(5)); a.Done(); }},
      {"CopyControlLineOfSurf", "bspline/objjoin.h", 6, [](Args& a) { CopyControlLineOfSurf(a.Rec(0), a.Rec(1), a.Int(2), a.Int(3), a.Int(4), a.Int(5)); a.Done(); }},
      {"ObjectBoundaryEnds", "bspline/objset.h", 5, [](Args& a) { ObjectBoundaryEnds(a.Rec(0), a.Int(1), a.Reals(2), a.Reals(3), a.Int(4)); a.Done(); }},
      {"ObjectBoundaryVector", "bspline/objset.h", 3, [](Args& a) { ObjectBoundaryVector(a.Rec(0), a.Int(1), a.Reals(2)); a.Done(); }},
      {"MapDirectionOntoUnitRange", "bspline/objset.h", 3, [](Args& a) { MapDirectionOntoUnitRange(a.Rec(0), a.Int(1), a.Int(2)); a.Done(); }},
      {"MakeKnotVectorsCompatible", "bspline/objset.h", 4, [](Args& a) { MakeKnotVectorsCompatible(a.Recs(0), a.Ints(1), a.Int(2), a.Int(3)); a.Done(); }},
      {"MatchBoundaryDirections", "bspline/objset.h", 3, [](Args& a) { a.Value(MatchBoundaryDirections(a.Recs(0), a.Ints(1), a.Int(2))); }},
      {"RaiseToCommonDegree", "bspline/objset.h", 3, [](Args& a) { RaiseToCommonDegree(a.Recs(0), a.Ints(1), a.Int(2)); a.Done(); }},
      {"MakeObjectsRational", "bspline/objset.h", 2, [](Args& a) { MakeObjectsRational(a.Recs(0), a.Int(1)); a.Done(); }},
      {"MatchRationality", "bspline/objset.h", 2, [](Args& a) { MatchRationality(a.Recs(0), a.Int(1)); a.Done(); }},
      {"ControlNetSpan", "bspline/objset.h", 2, [](Args& a) { a.Value(ControlNetSpan(a.Rec(0), a.Int(1))); }},
      {"ProportionPairParams", "bspline/objset.h", 5, [](Args& a) { a.Value(ProportionPairParams(a.Recs(0), a.Ints(1), a.Int(2), a.Int(3), a.Int(4))); }},
      {"FindProjectionUVPointGuess", "bspline/refines.h", 6, [](Args& a) { a.Value(FindProjectionUVPointGuess(a.Rec(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Int(5))); }},
      {"FindClosestUVPointGuess", "bspline/refines.h", 8, [](Args& a) { a.Value(FindClosestUVPointGuess(a.Rec(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Reals(5), a.Reals(6), a.Int(7))); }},
      {"FindXorYIntersectCurve2", "bspline/refines.h", 7, [](Args& a) { a.Value(FindXorYIntersectCurve2(a.Rec(0), a.Real(1), a.Int(2), a.Reals(3), a.Reals(4), a.Reals(5), a.Int(6))); }},
      {"RefineCurve2Intersect", "bspline/refines.h", 6, [](Args& a) { a.Value(RefineCurve2Intersect(a.Rec(0), a.Rec(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Int(5))); }},
      {"RefinePlaneCurvesCrossing", "bspline/refines.h", 7, [](Args& a) { a.Value(RefinePlaneCurvesCrossing(a.Rec(0), a.Rec(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Int(5), a.Int(6))); }},
      {"NewRefineSrfSrfIntrPoint", "bspline/refines.h", 10, [](Args& a) { a.Value(NewRefineSrfSrfIntrPoint(a.Rec(0), a.Rec(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Reals(5), a.Reals(6), a.Int(7), a.Ints(8), a.Real(9))); }},
      {"FindClosestPointCurve3", "bspline/refines2.h", 9, [](Args& a) { a.Value(FindClosestPointCurve3(a.Rec(0), a.Reals(1), a.Reals(2), a.Real(3), a.Real(4), a.Reals(5), a.Reals(6), a.Reals(7), a.Int(8))); }},
      {"FindClosestPointCurve3OfSize", "bspline/refines2.h", 10, [](Args& a) { a.Value(FindClosestPointCurve3OfSize(a.Rec(0), a.Real(1), a.Reals(2), a.Reals(3), a.Real(4), a.Real(5), a.Reals(6), a.Reals(7), a.Reals(8), a.Int(9))); }},
      {"FindClosestPointCurveOnSurf", "bspline/refines2.h", 9, [](Args& a) { a.Value(FindClosestPointCurveOnSurf(a.Rec(0), a.Reals(1), a.Reals(2), a.Real(3), a.Real(4), a.Reals(5), a.Reals(6), a.Reals(7), a.Int(8))); }},
      {"FindClosestUVPointGuessDist", "bspline/refines2.h", 8, [](Args& a) { a.Value(FindClosestUVPointGuessDist(a.Rec(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Reals(5), a.Reals(6), a.Int(7))); }},
      {"FindClosestUVPointWithin", "bspline/refines2.h", 9, [](Args& a) { a.Value(FindClosestUVPointWithin(a.Rec(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Reals(5), a.Reals(6), a.Reals(7), a.Int(8))); }},
      {"FindClosestUVPointGuessNorm", "bspline/refines2.h", 9, [](Args& a) { a.Value(FindClosestUVPointGuessNorm(a.Rec(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Reals(5), a.Reals(6), a.Int(7), a.Reals(8))); }},
      {"RefineCurve3sClosestPoint", "bspline/refines2.h", 6, [](Args& a) { a.Value(RefineCurve3sClosestPoint(a.Rec(0), a.Rec(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Int(5))); }},
      {"RefineCurvesClosestPoint", "bspline/refines2.h", 6, [](Args& a) { a.Value(RefineCurvesClosestPoint(a.Rec(0), a.Rec(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Int(5))); }},
      {"FreeBspline", "bspline/sfree.h", 1, [](Args& a) { FreeBspline(a.Rec(0)); a.Done(); }},
      {"FreeBsplineStruct", "bspline/sfree.h", 1, [](Args& a) { a.Value(FreeBsplineStruct(a.Rec(0))); }},
      {"FindTrimCurve", "bspline/sfree.h", 2, [](Args& a) { a.Pointer(FindTrimCurve(a.Rec(0), a.Rec(1))); }},
      {"DeleteTrimSegment", "bspline/sfree.h", 1, [](Args& a) { a.Value(DeleteTrimSegment(a.Rec(0))); }},
      {"RemoveCurveFromBsplineList", "bspline/sfree.h", 1, [](Args& a) { a.Made(RemoveCurveFromBsplineList(a.Rec(0))); }},
      {"FreeBsplineProperties", "bspline/sfree.h", 1, [](Args& a) { FreeBsplineProperties(a.Rec(0)); a.Done(); }},
      {"FreeQuadricInfo", "bspline/sfree.h", 1, [](Args& a) { FreeQuadricInfo(a.Rec(0)); a.Done(); }},
      {"FreeBsplineArray", "bspline/sfree.h", 2, [](Args& a) { FreeBsplineArray(a.Recs(0), a.Int(1)); a.Done(); }},
      {"FreeBsplineArrayContents", "bspline/sfree.h", 2, [](Args& a) { FreeBsplineArrayContents(a.Recs(0), a.Int(1)); a.Done(); }},
      {"AllocateBsplineArrays", "bspline/smake.h", 1, [](Args& a) { a.Value(AllocateBsplineArrays(a.Rec(0))); }},
      {"InstallBsplineArrays", "bspline/smake.h", 7, [](Args& a) { InstallBsplineArrays(a.Rec(0), a.Reals(1), a.Reals(2), a.Matrix(3), a.Matrix(4), a.Matrix(5), a.Matrix(6)); a.Done(); }},
      {"CopyBsplineStruct", "bspline/srfclone.h", 1, [](Args& a) { a.Made(CopyBsplineStruct(a.Rec(0))); }},
      {"CopyBsplineSurface", "bspline/srfclone.h", 1, [](Args& a) { a.Made(CopyBsplineSurface(a.Rec(0))); }},
      {"CopyBsplineSurfaceGivenBspline", "bspline/srfclone.h", 2, [](Args& a) { a.Value(CopyBsplineSurfaceGivenBspline(a.Rec(0), a.Rec(1))); }},
      {"CopyQuadricStruct", "bspline/srfclone.h", 2, [](Args& a) { a.Value(CopyQuadricStruct(a.Rec(0), a.Rec(1))); }},
      {"CopyBsplineStructAndChildren", "bspline/srfclone.h", 1, [](Args& a) { a.Made(CopyBsplineStructAndChildren(a.Rec(0))); }},
      {"CopySurfaceAndBreakCurves", "bspline/srfclone.h", 1, [](Args& a) { a.Made(CopySurfaceAndBreakCurves(a.Rec(0))); }},
      {"ReplaceSrfBsplineGeometry", "bspline/srfclone.h", 2, [](Args& a) { a.Value(ReplaceSrfBsplineGeometry(a.Rec(0), a.Rec(1))); }},
      {"SurfaceGridClosest", "bspline/srfgrid.h", 9, [](Args& a) { a.Value(SurfaceGridClosest(a.Rec(0), a.Reals(1), a.Matrix(2), a.Matrix(3), a.Matrix(4), a.Reals(5), a.Reals(6), a.Reals(7), a.Int(8))); }},
      {"SurfaceClosestFromGrid", "bspline/srfgrid.h", 11, [](Args& a) { a.Value(SurfaceClosestFromGrid(a.Rec(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Reals(5), a.Matrix(6), a.Matrix(7), a.Matrix(8), a.Reals(9), a.Int(10))); }},
      {"SurfaceClosestPoint", "bspline/srfgrid.h", 10, [](Args& a) { a.Value(SurfaceClosestPoint(a.Rec(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Reals(5), a.Matrix(6), a.Matrix(7), a.Matrix(8), a.Reals(9))); }},
      {"DirectionOf", "bspline/subobj.h", 2, [](Args& a) { a.Value(DirectionOf(a.Rec(0), a.Int(1))); }},
      {"HasPieceableForm", "bspline/subobj.h", 1, [](Args& a) { a.Value(HasPieceableForm(a.Rec(0))); }},
      {"ExtractKnotRange", "bspline/subobj.h", 4, [](Args& a) { a.Made(ExtractKnotRange(a.Rec(0), a.Int(1), a.Int(2), a.Int(3))); }},
      {"ExtractParamRange", "bspline/subobj.h", 4, [](Args& a) { a.Made(ExtractParamRange(a.Rec(0), a.Int(1), a.Real(2), a.Real(3))); }},
      {"ExtractParamRangeUnlessShort", "bspline/subobj.h", 5, [](Args& a) { a.Value(ExtractParamRangeUnlessShort(a.Rec(0), a.Int(1), a.Real(2), a.Real(3), a.Recs(4))); }},
      {"ReverseDirection", "bspline/subobj.h", 2, [](Args& a) { ReverseDirection(a.Rec(0), a.Int(1)); a.Done(); }},
      {"ClampWrappedDirection", "bspline/subobj.h", 3, [](Args& a) { a.Value(ClampWrappedDirection(a.Rec(0), a.Int(1), a.Int(2))); }},
      {"FindQuadricCenter", "quadric/cpoint.h", 2, [](Args& a) { a.Value(FindQuadricCenter(a.Rec(0), a.Reals(1))); }},
      {"FindQuadricBaseCenter", "quadric/cpoint.h", 4, [](Args& a) { a.Value(FindQuadricBaseCenter(a.Rec(0), a.Real(1), a.Real(2), a.Reals(3))); }},
      {"CreateLineFromCylinderOrCone", "quadric/cpoint.h", 1, [](Args& a) { a.Made(CreateLineFromCylinderOrCone(a.Rec(0))); }},
      {"FindInitXYCoefi", "quadric/planefit.h", 3, [](Args& a) { FindInitXYCoefi(a.Rec(0), a.Matrix(1), a.Matrix(2)); a.Done(); }},
      {"OrderCurves", "quadric/planefit.h", 2, [](Args& a) { OrderCurves(a.Recs(0), a.Int(1)); a.Done(); }},
      {"SphereNurbs", "quadric/qnurbs.h", 5, [](Args& a) { a.Value(SphereNurbs(a.Real(0), a.Real(1), a.Real(2), a.Real(3), a.Rec(4))); }},
      {"RationalProfileInAxisFrame", "quadric/qrevolve.h", 4, [](Args& a) { a.Made(RationalProfileInAxisFrame(a.Rec(0), a.Reals(1), a.Reals(2), a.Reals(3))); }},
      {"RevolveProfile", "quadric/qrevolve.h", 6, [](Args& a) { a.Made(RevolveProfile(a.Rec(0), a.Reals(1), a.Reals(2), a.Real(3), a.Real(4), a.Int(5))); }},
      {"GetSphereFromPts", "quadric/quadrics.h", 5, [](Args& a) { a.Value(GetSphereFromPts(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Rec(4))); }},
      {"AttachQuadricOf", "quadric/quadrics.h", 2, [](Args& a) { a.Value(AttachQuadricOf(a.Rec(0), a.Rec(1))); }},
      {"Intersect2Curve3", "curve/cintsct.h", 4, [](Args& a) { a.Value(Intersect2Curve3(a.Rec(0), a.Rec(1), a.Reals(2), a.Reals(3))); }},
      {"Intersect2Curve2", "curve/cintsct.h", 4, [](Args& a) { a.Value(Intersect2Curve2(a.Rec(0), a.Rec(1), a.Reals(2), a.Reals(3))); }},
      {"Intersect2Curves", "curve/cintsct.h", 4, [](Args& a) { a.Value(Intersect2Curves(a.Rec(0), a.Rec(1), a.Reals(2), a.Reals(3))); }},
      {"SubCurveBspline", "curve/cintsct.h", 4, [](Args& a) { SubCurveBspline(a.Rec(0), a.Real(1), a.Real(2), a.Recs(3)); a.Done(); }},
      {"GetCurve2DSurfParamSect", "curve/cintsct.h", 5, [](Args& a) { a.Value(GetCurve2DSurfParamSect(a.Rec(0), a.Ints(1), a.Matrix(2), a.Matrix(3), a.Matrix(4))); }},
      {"ExtractIsoparCurve2", "curve/cintsct.h", 3, [](Args& a) { a.Made(ExtractIsoparCurve2(a.Rec(0), a.Rec(1), a.Rec(2))); }},
      {"ExtractIsoparCurve3", "curve/cintsct.h", 3, [](Args& a) { a.Made(ExtractIsoparCurve3(a.Rec(0), a.Rec(1), a.Rec(2))); }},
      {"FindPntsOn2CurvesClosest", "curve/cpoint.h", 4, [](Args& a) { a.Value(FindPntsOn2CurvesClosest(a.Rec(0), a.Rec(1), a.Reals(2), a.Reals(3))); }},
      {"FindBoundaryCrossings", "curve/crvbrk.h", 3, [](Args& a) { a.Value(FindBoundaryCrossings(a.Rec(0), a.Reals(1), a.Ints(2))); }},
      {"BreakCurveOnSurface", "curve/crvbrk.h", 1, [](Args& a) { a.Value(BreakCurveOnSurface(a.Rec(0))); }},
      {"BreakAllCurvesOnSurface", "curve/crvbrk.h", 1, [](Args& a) { a.Value(BreakAllCurvesOnSurface(a.Rec(0))); }},
      {"GetUVFactor", "curve/crvclpt.h", 2, [](Args& a) { a.Value(GetUVFactor(a.Rec(0), a.Int(1))); }},
      {"FindBsplOnSurf3dControlPoint", "curve/crvclpt.h", 6, [](Args& a) { FindBsplOnSurf3dControlPoint(a.Rec(0), a.Real(1), a.Real(2), a.Reals(3), a.Reals(4), a.Reals(5)); a.Done(); }},
      {"FindNextCurveInTrim", "curve/crvclpt.h", 2, [](Args& a) { a.Made(FindNextCurveInTrim(a.Rec(0), a.Recs(1))); }},
      {"FindPrevCurveInTrim", "curve/crvclpt.h", 2, [](Args& a) { a.Made(FindPrevCurveInTrim(a.Rec(0), a.Recs(1))); }},
      {"TwoCurve3MaxDiff", "curve/crverr.h", 4, [](Args& a) { a.Value(TwoCurve3MaxDiff(a.Rec(0), a.Rec(1), a.Int(2), a.Reals(3))); }},
      {"curve_curve_min_dist", "curve/crverr.h", 4, [](Args& a) { a.Value(curve_curve_min_dist(a.Rec(0), a.Rec(1), a.Reals(2), a.Reals(3))); }},
      {"GlobalClosestOnCurve", "curve/crvfoot.h", 4, [](Args& a) { a.Value(GlobalClosestOnCurve(a.Rec(0), a.Reals(1), a.Reals(2), a.Reals(3))); }},
      {"FindIfTwoCurvesOverlap", "curve/crvintr.h", 3, [](Args& a) { a.Value(FindIfTwoCurvesOverlap(a.Rec(0), a.Rec(1), a.Real(2))); }},
      {"FindCurve3DLength", "curve/crvintr.h", 1, [](Args& a) { a.Value(FindCurve3DLength(a.Rec(0))); }},
      {"RefineCurve2IntersectionPoint", "curve/crvintr.h", 6, [](Args& a) { a.Value(RefineCurve2IntersectionPoint(a.Rec(0), a.Rec(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Int(5))); }},
      {"IsPlanarCurve3", "curve/crvoffst.h", 5, [](Args& a) { a.Value(IsPlanarCurve3(a.Rec(0), a.Real(1), a.Reals(2), a.Reals(3), a.Reals(4))); }},
      {"ComputeCrvBsplineCentroid", "curve/crvoffst.h", 2, [](Args& a) { a.Value(ComputeCrvBsplineCentroid(a.Rec(0), a.Reals(1))); }},
      {"CreateCircleOffset", "curve/crvoffst.h", 4, [](Args& a) { a.Made(CreateCircleOffset(a.Rec(0), a.Real(1), a.Int(2), a.Ints(3))); }},
      {"CreateArcOffset", "curve/crvoffst.h", 4, [](Args& a) { a.Made(CreateArcOffset(a.Rec(0), a.Real(1), a.Int(2), a.Ints(3))); }},
      {"CreateLineOffset", "curve/crvoffst.h", 2, [](Args& a) { a.Made(CreateLineOffset(a.Rec(0), a.Real(1))); }},
      {"FindOffsetDirectionAndRadiusAtPoint", "curve/crvoffst.h", 4, [](Args& a) { a.Value(FindOffsetDirectionAndRadiusAtPoint(a.Rec(0), a.Real(1), a.Reals(2), a.Reals(3))); }},
      {"FindCrvOffsetDirection", "curve/crvoffst.h", 3, [](Args& a) { a.Value(FindCrvOffsetDirection(a.Rec(0), a.Real(1), a.Reals(2))); }},
      {"Curve3RadiusOfCurvatureNpts", "curve/crvoffst.h", 4, [](Args& a) { a.Value(Curve3RadiusOfCurvatureNpts(a.Rec(0), a.Reals(1), a.Int(2), a.Matrix(3))); }},
      {"SurfCurveProjectClosestGeometry", "curve/crvproj.h", 6, [](Args& a) { a.Pointer(SurfCurveProjectClosestGeometry(a.Rec(0), a.Rec(1), a.Int(2), a.Real(3), a.Int(4), a.Int(5))); }},
      {"LocateEdgeForSurfCurveProjNorm", "curve/crvproj.h", 12, [](Args& a) { a.Value(LocateEdgeForSurfCurveProjNorm(a.Rec(0), a.Rec(1), a.Real(2), a.Real(3), a.Reals(4), a.Reals(5), a.Reals(6), a.Int(7), a.Int(8), a.Matrix(9), a.Matrix(10), a.Matrix(11))); }},
      {"CreateProjectedCurve", "curve/crvproj.h", 7, [](Args& a) { a.Made(CreateProjectedCurve(a.Rec(0), a.Rec(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Int(5), a.Real(6))); }},
      {"CreateCurveToTol", "curve/crvproj.h", 10, [](Args& a) { a.Made(CreateCurveToTol(a.Rec(0), a.Rec(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Reals(5), a.Reals(6), a.Reals(7), a.Int(8), a.Real(9))); }},
      {"Blend2Curve2s", "curve/crvproj.h", 2, [](Args& a) { a.Made(Blend2Curve2s(a.Rec(0), a.Rec(1))); }},
      {"IsChangedBoundary", "curve/crvproj.h", 4, [](Args& a) { a.Value(IsChangedBoundary(a.Rec(0), a.Real(1), a.Real(2), a.Int(3))); }},
      {"SampleCurvePlateProper", "curve/crvutil.h", 3, [](Args& a) { a.Pointer(SampleCurvePlateProper(a.Rec(0), a.Int(1), a.Ints(2))); }},
      {"ComputeCrvParamArraysForEval", "curve/crvutil.h", 5, [](Args& a) { ComputeCrvParamArraysForEval(a.Rec(0), a.Int(1), a.Int(2), a.Reals(3), a.Int(4)); a.Done(); }},
      {"EstimateClosestPntCurve", "curve/crvutil.h", 10, [](Args& a) { a.Value(EstimateClosestPntCurve(a.Rec(0), a.Reals(1), a.Matrix(2), a.Ints(3), a.Matrix(4), a.Matrix(5), a.Matrix(6), a.Reals(7), a.Reals(8), a.Int(9))); }},
      {"FindClosestCPT3paramValue", "curve/crvutil.h", 4, [](Args& a) { a.Value(FindClosestCPT3paramValue(a.Rec(0), a.Rec(1), a.Reals(2), a.Reals(3))); }},
      {"FindClosestCPTparamValue", "curve/crvutil.h", 4, [](Args& a) { a.Value(FindClosestCPTparamValue(a.Rec(0), a.Rec(1), a.Reals(2), a.Reals(3))); }},
      {"FindClosestCPTparamValueCurve2", "curve/crvutil.h", 4, [](Args& a) { a.Value(FindClosestCPTparamValueCurve2(a.Rec(0), a.Rec(1), a.Reals(2), a.Reals(3))); }},
      {"FindClosestCPTparamValueCurves", "curve/crvutil.h", 4, [](Args& a) { a.Value(FindClosestCPTparamValueCurves(a.Rec(0), a.Rec(1), a.Reals(2), a.Reals(3))); }},
      {"FindClosestEstParamValueCurveOnSurf", "curve/crvutil.h", 4, [](Args& a) { a.Value(FindClosestEstParamValueCurveOnSurf(a.Rec(0), a.Rec(1), a.Reals(2), a.Reals(3))); }},
      {"GetPointParOnCurve3", "curve/crvutil.h", 5, [](Args& a) { a.Value(GetPointParOnCurve3(a.Rec(0), a.Real(1), a.Real(2), a.Real(3), a.Reals(4))); }},
      {"GetClosestPointOnCrvToCrvPar", "curve/crvutil.h", 7, [](Args& a) { a.Value(GetClosestPointOnCrvToCrvPar(a.Rec(0), a.Rec(1), a.Reals(2), a.Reals(3), a.Real(4), a.Reals(5), a.Reals(6))); }},
      {"GetClosestSurfaceIsoPar", "curve/crvutil.h", 6, [](Args& a) { a.Made(GetClosestSurfaceIsoPar(a.Reals(0), a.Rec(1), a.Int(2), a.Int(3), a.Reals(4), a.Reals(5))); }},
      {"GetPartCurveLength", "curve/crvutil.h", 4, [](Args& a) { a.Value(GetPartCurveLength(a.Rec(0), a.Real(1), a.Real(2), a.Int(3))); }},
      {"GetPartCurveLengthAndParams", "curve/crvutil.h", 9, [](Args& a) { a.Value(GetPartCurveLengthAndParams(a.Rec(0), a.Real(1), a.Real(2), a.Int(3), a.Reals(4), a.Reals(5), a.Reals(6), a.Reals(7), a.Reals(8))); }},
      {"UnifArcSampleCurve", "curve/crvutil.h", 10, [](Args& a) { a.Value(UnifArcSampleCurve(a.Rec(0), a.Real(1), a.Real(2), a.Real(3), a.Int(4), a.Int(5), a.Matrix(6), a.Matrix(7), a.Matrix(8), a.Ints(9))); }},
      {"CurveOnSurfaceLength", "curve/crvutil.h", 1, [](Args& a) { a.Value(CurveOnSurfaceLength(a.Rec(0))); }},
      {"ControlPolygonSpan", "curve/crvutil.h", 3, [](Args& a) { a.Value(ControlPolygonSpan(a.Rec(0), a.Int(1), a.Int(2))); }},
      {"GetBndryForBndryCrv", "curve/crvutil.h", 2, [](Args& a) { a.Value(GetBndryForBndryCrv(a.Rec(0), a.Rec(1))); }},
      {"ReplaceCurveWithCurveInTrimList", "curve/crvutil.h", 2, [](Args& a) { a.Value(ReplaceCurveWithCurveInTrimList(a.Rec(0), a.Rec(1))); }},
      {"ReplaceCurvesInTrimList", "curve/crvutil.h", 3, [](Args& a) { a.Value(ReplaceCurvesInTrimList(a.Rec(0), a.Int(1), a.Rec(2))); }},
      {"CheckIfPickedCurvesTrimNeighbors", "curve/crvutil.h", 2, [](Args& a) { a.Value(CheckIfPickedCurvesTrimNeighbors(a.Rec(0), a.Rec(1))); }},
      {"SnipCurveAtIntersectionCore", "curve/crvutil.h", 3, [](Args& a) { a.Value(SnipCurveAtIntersectionCore(a.Recs(0), a.Int(1), a.Recs(2))); }},
      {"ReparametrizeRationalCurve", "curve/crvutil.h", 1, [](Args& a) { a.Value(ReparametrizeRationalCurve(a.Rec(0))); }},
      {"MakeCurve3BsplineFromCurve2", "curve/crvutil.h", 3, [](Args& a) { a.Made(MakeCurve3BsplineFromCurve2(a.Rec(0), a.Real(1), a.Real(2))); }},
      {"Rational2NonRationalCurve3Bspline", "curve/crvutil.h", 1, [](Args& a) { a.Made(Rational2NonRationalCurve3Bspline(a.Rec(0))); }},
      {"GetTolForCurveOnSurf", "curve/crvutil.h", 1, [](Args& a) { a.Value(GetTolForCurveOnSurf(a.Rec(0))); }},
      {"SimpleRemoveCurveTorsion", "curve/crvutil.h", 2, [](Args& a) { a.Made(SimpleRemoveCurveTorsion(a.Rec(0), a.Reals(1))); }},
      {"FindCurve2IsoParamIntersections", "curve/crvutil.h", 5, [](Args& a) { a.Value(FindCurve2IsoParamIntersections(a.Rec(0), a.Int(1), a.Real(2), a.Reals(3), a.Ints(4))); }},
      {"DirectionAcrossEdge", "curve/endspan.h", 2, [](Args& a) { a.Value(DirectionAcrossEdge(a.Rec(0), a.Int(1))); }},
      {"InsertEndSpanKnots", "curve/endspan.h", 3, [](Args& a) { a.Value(InsertEndSpanKnots(a.Rec(0), a.Int(1), a.Int(2))); }},
      {"EdgeReflectionCurve", "curve/endspan.h", 3, [](Args& a) { a.Made(EdgeReflectionCurve(a.Rec(0), a.Int(1), a.Reals(2))); }},
      {"assign_uniform_curve_knots3", "curve/fitcurve.h", 4, [](Args& a) { assign_uniform_curve_knots3(a.Rec(0), a.Int(1), a.Reals(2), a.Reals(3)); a.Done(); }},
      {"FindAllCurveCoefi3", "curve/fitcurve.h", 12, [](Args& a) { a.Value(FindAllCurveCoefi3(a.Rec(0), a.Reals(1), a.Floats(2), a.Floats(3), a.Floats(4), a.Int(5), a.Triples(6), a.Ints(7), a.Int(8), a.Real(9), a.Real(10), a.Real(11))); }},
      {"Curve3LeastSqFit", "curve/fitcurve.h", 9, [](Args& a) { a.Value(Curve3LeastSqFit(a.Rec(0), a.Reals(1), a.Floats(2), a.Floats(3), a.Floats(4), a.Int(5), a.Triples(6), a.Ints(7), a.Int(8))); }},
      {"PointCurve3Diff", "curve/fitcurve.h", 7, [](Args& a) { a.Value(PointCurve3Diff(a.Rec(0), a.Reals(1), a.Floats(2), a.Floats(3), a.Floats(4), a.Int(5), a.Reals(6))); }},
      {"CloseCurve", "curve/fitcurve.h", 2, [](Args& a) { a.Value(CloseCurve(a.Rec(0), a.Int(1))); }},
      {"Get2SpanCurve3ForCurve2", "curve/fitcurve.h", 2, [](Args& a) { a.Made(Get2SpanCurve3ForCurve2(a.Rec(0), a.Int(1))); }},
      {"MkLine3", "curve/mkline3.h", 3, [](Args& a) { a.Made(MkLine3(a.Reals(0), a.Reals(1), a.Recs(2))); }},
      {"MkLine2", "curve/mkline3.h", 3, [](Args& a) { MkLine2(a.Reals(0), a.Reals(1), a.Rec(2)); a.Done(); }},
      {"IsoLineCurve2", "curve/mkline3.h", 3, [](Args& a) { a.Made(IsoLineCurve2(a.Rec(0), a.Int(1), a.Real(2))); }},
      {"BsplinePlaneFrom3DLines", "curve/planefit.h", 2, [](Args& a) { a.Made(BsplinePlaneFrom3DLines(a.Recs(0), a.Int(1))); }},
      {"SolveBandCoordinates", "curve/pntintrp.h", 6, [](Args& a) { a.Value(SolveBandCoordinates(a.Matrix(0), a.Int(1), a.Int(2), a.Ints(3), a.Matrix(4), a.Rec(5))); }},
      {"UnwrapClosedFit", "curve/pntintrp.h", 3, [](Args& a) { a.Value(UnwrapClosedFit(a.Rec(0), a.Int(1), a.Int(2))); }},
      {"IdentifyCurveQuadric", "curve/quadrics.h", 4, [](Args& a) { a.Value(IdentifyCurveQuadric(a.Recs(0), a.Int(1), a.Int(2), a.Ints(3))); }},
      {"GetLineFromPts", "curve/quadrics.h", 5, [](Args& a) { a.Value(GetLineFromPts(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3), a.Rec(4))); }},
      {"GetCircleFromPts", "curve/quadrics.h", 5, [](Args& a) { a.Value(GetCircleFromPts(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3), a.Rec(4))); }},
      {"GetArcFromPts", "curve/quadrics.h", 5, [](Args& a) { a.Value(GetArcFromPts(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3), a.Rec(4))); }},
      {"CheckBsplineTol", "curve/quadrics.h", 5, [](Args& a) { a.Value(CheckBsplineTol(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3), a.Rec(4))); }},
      {"CheckTopBottomCircle", "curve/quadrics.h", 3, [](Args& a) { a.Value(CheckTopBottomCircle(a.Rec(0), a.Int(1), a.Reals(2))); }},
      {"GetCylFromPts", "curve/quadrics.h", 5, [](Args& a) { a.Value(GetCylFromPts(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Rec(4))); }},
      {"GetConeFromPts", "curve/quadrics.h", 5, [](Args& a) { a.Value(GetConeFromPts(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Rec(4))); }},
      {"TrimCurvePolylineCount", "curve/trimpoly.h", 1, [](Args& a) { a.Value(TrimCurvePolylineCount(a.Rec(0))); }},
      {"SampleTrimCurvePolyline", "curve/trimpoly.h", 4, [](Args& a) { SampleTrimCurvePolyline(a.Rec(0), a.Reals(1), a.Reals(2), a.Reals(3)); a.Done(); }},
      {"CountTrimLoops", "curve/trimpoly.h", 1, [](Args& a) { a.Value(CountTrimLoops(a.Rec(0))); }},
      {"CurvePolylineRayCrossings", "curve/trimpoly.h", 5, [](Args& a) { a.Value(CurvePolylineRayCrossings(a.Rec(0), a.Real(1), a.Real(2), a.Reals(3), a.Reals(4))); }},
      {"MakeIsoparCurve3", "surface/bnd2crv.h", 4, [](Args& a) { a.Made(MakeIsoparCurve3(a.Rec(0), a.Real(1), a.Real(2), a.Int(3))); }},
      {"MakeIsoparCurve2", "surface/bnd2crv.h", 3, [](Args& a) { a.Made(MakeIsoparCurve2(a.Rec(0), a.Int(1), a.Real(2))); }},
      {"GetSurfBoundary", "surface/bnd2crv.h", 3, [](Args& a) { a.Made(GetSurfBoundary(a.Rec(0), a.Int(1), a.Rec(2))); }},
      {"ExtractCrvFromSrfCntrlLine", "surface/bnd2crv.h", 3, [](Args& a) { a.Made(ExtractCrvFromSrfCntrlLine(a.Rec(0), a.Int(1), a.Int(2))); }},
      {"FindSymmetricPointFromBspline", "surface/cpoint.h", 3, [](Args& a) { a.Value(FindSymmetricPointFromBspline(a.Rec(0), a.Reals(1), a.Reals(2))); }},
      {"CreatePlaneBsplineTrimmedToCurves", "surface/planefit.h", 3, [](Args& a) { a.Value(CreatePlaneBsplineTrimmedToCurves(a.Recs(0), a.Int(1), a.Recs(2))); }},
      {"MyFunc", "surface/quadrics.h", 1, [](Args& a) { a.Value(MyFunc(a.Rec(0))); }},
      {"EndControlPointsTouch", "surface/railsweep.h", 3, [](Args& a) { a.Value(EndControlPointsTouch(a.Rec(0), a.Rec(1), a.Real(2))); }},
      {"OrientRailsToCurve", "surface/railsweep.h", 3, [](Args& a) { OrientRailsToCurve(a.Recs(0), a.Rec(1), a.Real(2)); a.Done(); }},
      {"MakeRailsCompatible", "surface/railsweep.h", 2, [](Args& a) { a.Value(MakeRailsCompatible(a.Recs(0), a.Rec(1))); }},
      {"NormalisedGrevilleParams", "surface/railsweep.h", 1, [](Args& a) { a.Pointer(NormalisedGrevilleParams(a.Rec(0))); }},
      {"SweepProfileAlongRails", "surface/railsweep.h", 4, [](Args& a) { a.Made(SweepProfileAlongRails(a.Rec(0), a.Rec(1), a.Rec(2), a.Real(3))); }},
      {"ClosestPointInTrim", "surface/srfdup.h", 4, [](Args& a) { a.Value(ClosestPointInTrim(a.Real(0), a.Real(1), a.Rec(2), a.Reals(3))); }},
      {"SurfaceLiesOnSurface", "surface/srfdup.h", 6, [](Args& a) { a.Value(SurfaceLiesOnSurface(a.Rec(0), a.Rec(1), a.Matrix(2), a.Matrix(3), a.Matrix(4), a.Real(5))); }},
      {"BridgeObject", "surface/srfextend.h", 7, [](Args& a) { a.Made(BridgeObject(a.Rec(0), a.Rec(1), a.Reals(2), a.Real(3), a.Int(4), a.Int(5), a.Int(6))); }},
      {"BridgePatchToTargets", "surface/srfextend.h", 7, [](Args& a) { a.Value(BridgePatchToTargets(a.Rec(0), a.Int(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Reals(5), a.Recs(6))); }},
      {"BridgePatchByLength", "surface/srfextend.h", 6, [](Args& a) { a.Value(BridgePatchByLength(a.Rec(0), a.Int(1), a.Real(2), a.Int(3), a.Int(4), a.Recs(5))); }},
      {"StretchLinesToLength", "surface/srfextend.h", 3, [](Args& a) { StretchLinesToLength(a.Rec(0), a.Real(1), a.Int(2)); a.Done(); }},
      {"SnipExtensionAtDomainEdge", "surface/srfextend.h", 3, [](Args& a) { a.Made(SnipExtensionAtDomainEdge(a.Rec(0), a.Rec(1), a.Int(2))); }},
      {"CascadeKnotVectors", "surface/srfextend.h", 3, [](Args& a) { CascadeKnotVectors(a.Recs(0), a.Int(1), a.Ints(2)); a.Done(); }},
      {"PrepareExtension", "surface/srfextend.h", 3, [](Args& a) { a.Value(PrepareExtension(a.Rec(0), a.Int(1), a.Int(2))); }},
      {"HandCurvesOver", "surface/srfextend.h", 2, [](Args& a) { HandCurvesOver(a.Rec(0), a.Rec(1)); a.Done(); }},
      {"ExtendObjectByBridge", "surface/srfextend.h", 6, [](Args& a) { a.Made(ExtendObjectByBridge(a.Rec(0), a.Real(1), a.Int(2), a.Int(3), a.Int(4), a.Real(5))); }},
      {"FindAllSurfLineIntersections", "surface/srfline.h", 6, [](Args& a) { a.Value(FindAllSurfLineIntersections(a.Rec(0), a.Reals(1), a.Reals(2), a.Matrix(3), a.Matrix(4), a.Ints(5))); }},
      {"GetInitialUVArrays", "surface/srfline.h", 8, [](Args& a) { a.Value(GetInitialUVArrays(a.Rec(0), a.Int(1), a.Int(2), a.Int(3), a.Matrix(4), a.Matrix(5), a.Ints(6), a.Ints(7))); }},
      {"CheckCrvCoincidence", "surface/srfline.h", 6, [](Args& a) { a.Value(CheckCrvCoincidence(a.Reals(0), a.Real(1), a.Int(2), a.Reals(3), a.Ints(4), a.Rec(5))); }},
      {"GetSampledUVVectors", "surface/srfline.h", 10, [](Args& a) { a.Value(GetSampledUVVectors(a.Rec(0), a.Matrix(1), a.Matrix(2), a.Ints(3), a.Ints(4), a.Int(5), a.Reals(6), a.Reals(7), a.Int(8), a.Int(9))); }},
      {"GetSurfBndryVector", "surface/srfnorm.h", 5, [](Args& a) { a.Pointer(GetSurfBndryVector(a.Reals(0), a.Rec(1), a.Rec(2), a.Real(3), a.Int(4))); }},
      {"CheckIfVectorGoesIn", "surface/srfnorm.h", 7, [](Args& a) { a.Value(CheckIfVectorGoesIn(a.Rec(0), a.Real(1), a.Real(2), a.Reals(3), a.Reals(4), a.Reals(5), a.Reals(6))); }},
      {"GetTrimCurveOfTrimBspline", "surface/srfnorm.h", 1, [](Args& a) { a.Pointer(GetTrimCurveOfTrimBspline(a.Rec(0))); }},
      {"FindPointsInTrim", "surface/srfnorm.h", 4, [](Args& a) { a.Value(FindPointsInTrim(a.Rec(0), a.Reals(1), a.Reals(2), a.Int(3))); }},
      {"FindPointsAndRadiusInTrim", "surface/srfnorm.h", 5, [](Args& a) { a.Value(FindPointsAndRadiusInTrim(a.Rec(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Int(4))); }},
      {"CalculateRadiusOfCurvatureGrid", "surface/srfnorm.h", 6, [](Args& a) { a.Value(CalculateRadiusOfCurvatureGrid(a.Rec(0), a.Matrix(1), a.Matrix(2), a.Matrix(3), a.Ints(4), a.Ints(5))); }},
      {"SelectRadiusPointsBasedOnRequest", "surface/srfnorm.h", 7, [](Args& a) { a.Value(SelectRadiusPointsBasedOnRequest(a.Rec(0), a.Matrix(1), a.Matrix(2), a.Matrix(3), a.Ints(4), a.Real(5), a.Int(6))); }},
      {"EstimateClosestPntSurf", "surface/srfpick.h", 9, [](Args& a) { a.Value(EstimateClosestPntSurf(a.Rec(0), a.Reals(1), a.Matrix(2), a.Matrix(3), a.Matrix(4), a.Reals(5), a.Reals(6), a.Reals(7), a.Int(8))); }},
      {"GetClosestPointOnSurfaceResult", "surface/srfpick.h", 10, [](Args& a) { a.Value(GetClosestPointOnSurfaceResult(a.Rec(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Reals(5), a.Matrix(6), a.Matrix(7), a.Matrix(8), a.Reals(9))); }},
      {"FindClosestPointOnBspline", "surface/srfpick.h", 5, [](Args& a) { a.Value(FindClosestPointOnBspline(a.Rec(0), a.Real(1), a.Real(2), a.Real(3), a.Reals(4))); }},
      {"CheckIfParIsInternal", "surface/srfsnip.h", 3, [](Args& a) { a.Value(CheckIfParIsInternal(a.Rec(0), a.Int(1), a.Real(2))); }},
      {"ExtractObjFromObj", "surface/srfsnip.h", 4, [](Args& a) { a.Made(ExtractObjFromObj(a.Rec(0), a.Int(1), a.Int(2), a.Int(3))); }},
      {"ExtractObjFromObjGivenPar", "surface/srfsnip.h", 4, [](Args& a) { a.Made(ExtractObjFromObjGivenPar(a.Rec(0), a.Int(1), a.Real(2), a.Real(3))); }},
      {"SplitObjectToNObjects", "surface/srfsnip.h", 5, [](Args& a) { a.Value(SplitObjectToNObjects(a.Rec(0), a.Int(1), a.Reals(2), a.Int(3), a.Recs(4))); }},
      {"GetTanDiscontKnots", "surface/srfsnip.h", 4, [](Args& a) { a.Value(GetTanDiscontKnots(a.Rec(0), a.Real(1), a.Ints(2), a.Matrix(3))); }},
      {"ReplaceTrimCurveWithNSubs", "surface/srfsnip.h", 3, [](Args& a) { a.Value(ReplaceTrimCurveWithNSubs(a.Rec(0), a.Int(1), a.Recs(2))); }},
      {"ReplaceCrvBsplWithG1ContSubs", "surface/srfsnip.h", 2, [](Args& a) { a.Value(ReplaceCrvBsplWithG1ContSubs(a.Rec(0), a.Real(1))); }},
      {"ReplaceSrfCrvBsplWithG1ContSubs", "surface/srfsnip.h", 2, [](Args& a) { a.Value(ReplaceSrfCrvBsplWithG1ContSubs(a.Rec(0), a.Real(1))); }},
      {"ReplaceGroupSrfCrvBsplWithG1ContSubs", "surface/srfsnip.h", 3, [](Args& a) { a.Value(ReplaceGroupSrfCrvBsplWithG1ContSubs(a.Recs(0), a.Int(1), a.Real(2))); }},
      {"CheckAndSnipCurvesToSurfs", "surface/srfsnip.h", 7, [](Args& a) { a.Value(CheckAndSnipCurvesToSurfs(a.Rec(0), a.Real(1), a.Int(2), a.Rec(3), a.Rec(4), a.Int(5), a.Ints(6))); }},
      {"CheckCurveBoundsUV", "surface/srfsnip.h", 6, [](Args& a) { a.Value(CheckCurveBoundsUV(a.Rec(0), a.Real(1), a.Real(2), a.Real(3), a.Real(4), a.Int(5))); }},
      {"RemoveOuterBoundaryTrimCurve", "surface/srfsnip.h", 1, [](Args& a) { a.Value(RemoveOuterBoundaryTrimCurve(a.Rec(0))); }},
      {"GetCurveOnSurfMinMaxSurfParams", "surface/srfutils.h", 5, [](Args& a) { a.Value(GetCurveOnSurfMinMaxSurfParams(a.Rec(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Reals(4))); }},
      {"GetCPTValueExtent", "surface/srfutils.h", 7, [](Args& a) { GetCPTValueExtent(a.Rec(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Reals(5), a.Reals(6)); a.Done(); }},
      {"GetGeometricDiagonalSizeOfObj", "surface/srfutils.h", 1, [](Args& a) { a.Value(GetGeometricDiagonalSizeOfObj(a.Rec(0))); }},
      {"FindParamValuesOfCoefi", "surface/srfutils.h", 2, [](Args& a) { a.Pointer(FindParamValuesOfCoefi(a.Rec(0), a.Int(1))); }},
      {"GetParametricExtent", "surface/srfutils.h", 5, [](Args& a) { GetParametricExtent(a.Rec(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Reals(4)); a.Done(); }},
      {"GetSrfParExtentOfCrvOnSrf", "surface/srfutils.h", 5, [](Args& a) { GetSrfParExtentOfCrvOnSrf(a.Rec(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Reals(4)); a.Done(); }},
      {"FindNearestKnot", "surface/srfutils.h", 3, [](Args& a) { a.Value(FindNearestKnot(a.Rec(0), a.Int(1), a.Real(2))); }},
      {"FindNextKnot", "surface/srfutils.h", 4, [](Args& a) { a.Value(FindNextKnot(a.Rec(0), a.Int(1), a.Real(2), a.Real(3))); }},
      {"FindRedundantSurfacesCore", "surface/srfutils.h", 4, [](Args& a) { a.Value(FindRedundantSurfacesCore(a.Recs(0), a.Int(1), a.Ints(2), a.Real(3))); }},
      {"SampleSurfaceBndry", "surface/srfutils.h", 5, [](Args& a) { a.Value(SampleSurfaceBndry(a.Rec(0), a.Int(1), a.Matrix(2), a.Matrix(3), a.Ints(4))); }},
      {"ComputeParamArraysForEval", "surface/srfutils.h", 8, [](Args& a) { ComputeParamArraysForEval(a.Rec(0), a.Int(1), a.Int(2), a.Int(3), a.Reals(4), a.Reals(5), a.Int(6), a.Int(7)); a.Done(); }},
      {"GetSurfArbitraryParamVal", "surface/srfutils.h", 3, [](Args& a) { a.Value(GetSurfArbitraryParamVal(a.Rec(0), a.Reals(1), a.Reals(2))); }},
      {"GetSurfBoundaryMidPoints", "surface/srfutils.h", 5, [](Args& a) { GetSurfBoundaryMidPoints(a.Rec(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Reals(4)); a.Done(); }},
      {"EstLenSurfEdge", "surface/srfutils.h", 2, [](Args& a) { a.Value(EstLenSurfEdge(a.Rec(0), a.Int(1))); }},
      {"CheckBsplDirRelToBspl", "surface/srfutils.h", 2, [](Args& a) { a.Value(CheckBsplDirRelToBspl(a.Recs(0), a.Ints(1))); }},
      {"CreateImpliedTangentBndryCrv", "surface/srfutils.h", 4, [](Args& a) { a.Made(CreateImpliedTangentBndryCrv(a.Rec(0), a.Real(1), a.Real(2), a.Real(3))); }},
      {"ScaleControlPointsInTanDir", "surface/srfutils.h", 3, [](Args& a) { ScaleControlPointsInTanDir(a.Rec(0), a.Real(1), a.Int(2)); a.Done(); }},
      {"SetObjClosed", "surface/startpnt.h", 1, [](Args& a) { SetObjClosed(a.Rec(0)); a.Done(); }},
      {"ObjectClosed", "surface/startpnt.h", 1, [](Args& a) { a.Value(ObjectClosed(a.Rec(0))); }},
      {"ChangeObjectStartPnt", "surface/startpnt.h", 4, [](Args& a) { a.Made(ChangeObjectStartPnt(a.Rec(0), a.Real(1), a.Real(2), a.Int(3))); }},
      {"ChangeQuadricsStartPoint", "surface/startpnt.h", 4, [](Args& a) { a.Made(ChangeQuadricsStartPoint(a.Rec(0), a.Real(1), a.Real(2), a.Int(3))); }},
      {"CreateSurfBoundaryAsTrimCurveBspline", "surface/trimutils.h", 1, [](Args& a) { a.Pointer(CreateSurfBoundaryAsTrimCurveBspline(a.Rec(0))); }},
      {"IsOuterTrim", "surface/trimutils.h", 1, [](Args& a) { a.Value(IsOuterTrim(a.Rec(0))); }},
      {"IsTrimPiece", "surface/trimutils.h", 1, [](Args& a) { a.Value(IsTrimPiece(a.Rec(0))); }},
      {"CountTrimCurves", "surface/trimutils.h", 1, [](Args& a) { a.Value(CountTrimCurves(a.Rec(0))); }},
      {"ReverseInnerRelToOuter", "surface/trimutils.h", 1, [](Args& a) { ReverseInnerRelToOuter(a.Rec(0)); a.Done(); }},
      {"SetInOutTrim", "surface/trimutils.h", 4, [](Args& a) { SetInOutTrim(a.Rec(0), a.Ints(1), a.Int(2), a.Int(3)); a.Done(); }},
      {"TrimCurveSampleCount", "surface/trimutils.h", 1, [](Args& a) { a.Value(TrimCurveSampleCount(a.Rec(0))); }},
      {"IsPointInTrim", "surface/trimutils.h", 3, [](Args& a) { a.Value(IsPointInTrim(a.Rec(0), a.Real(1), a.Real(2))); }},
      {"Curve2VertIntersectArraysCount", "surface/trimutils.h", 6, [](Args& a) { a.Value(Curve2VertIntersectArraysCount(a.Rec(0), a.Int(1), a.Real(2), a.Real(3), a.Reals(4), a.Reals(5))); }},
      {"Curve2IntersectCount", "surface/trimutils.h", 4, [](Args& a) { a.Value(Curve2IntersectCount(a.Rec(0), a.Int(1), a.Reals(2), a.Reals(3))); }},
      {"Curve2IntersectArraysCount", "surface/trimutils.h", 6, [](Args& a) { a.Value(Curve2IntersectArraysCount(a.Rec(0), a.Int(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Reals(5))); }},
      {"AdjustSnipParameter", "surface/trimutils.h", 2, [](Args& a) { a.Value(AdjustSnipParameter(a.Rec(0), a.Reals(1))); }},
      {"TrimGapTolerance", "surface/trimutils.h", 1, [](Args& a) { a.Value(TrimGapTolerance(a.Rec(0))); }},
      {"IsTwoCurvePiecesMerged", "surface/trimutils.h", 6, [](Args& a) { a.Value(IsTwoCurvePiecesMerged(a.Rec(0), a.Rec(1), a.Rec(2), a.Reals(3), a.Reals(4), a.Real(5))); }},
      {"CheckObjSpanAndBlend", "surface/trimutils.h", 4, [](Args& a) { a.Value(CheckObjSpanAndBlend(a.Rec(0), a.Rec(1), a.Rec(2), a.Real(3))); }},
      {"GetSiblingTrimCurveList", "surface/trimutils.h", 6, [](Args& a) { a.Pointer(GetSiblingTrimCurveList(a.Recs(0), a.Int(1), a.Int(2), a.Reals(3), a.Reals(4), a.Ints(5))); }},
      {"FindIfInOutSurfPortion", "surface/trimutils.h", 7, [](Args& a) { a.Value(FindIfInOutSurfPortion(a.Rec(0), a.Real(1), a.Reals(2), a.Reals(3), a.Int(4), a.Reals(5), a.Int(6))); }},
      {"IsCurveSelfIntersecting", "surface/trimutils.h", 1, [](Args& a) { a.Value(IsCurveSelfIntersecting(a.Rec(0))); }},
      {"SmoothCurve", "shrinkwrap/crvfair.h", 3, [](Args& a) { a.Value(SmoothCurve(a.Rec(0), a.Int(1), a.Int(2))); }},
      {"FindIndxCptsInParRange", "shrinkwrap/crvfair.h", 5, [](Args& a) { a.Value(FindIndxCptsInParRange(a.Rec(0), a.Real(1), a.Real(2), a.Ints(3), a.Ints(4))); }},
      {"SmoothCurveRegion", "shrinkwrap/crvfair.h", 3, [](Args& a) { a.Value(SmoothCurveRegion(a.Rec(0), a.Real(1), a.Real(2))); }},
      {"SmoothCurveRegionSetUp", "shrinkwrap/crvfair.h", 2, [](Args& a) { a.Value(SmoothCurveRegionSetUp(a.Rec(0), a.Real(1))); }},
      {"SetUpIntegralRange", "shrinkwrap/crvfair.h", 6, [](Args& a) { a.Value(SetUpIntegralRange(a.Rec(0), a.Ints(1), a.Int(2), a.Matrix(3), a.Matrix(4), a.Ints(5))); }},
      {"MaxCurve3Change", "shrinkwrap/crvfair.h", 7, [](Args& a) { a.Value(MaxCurve3Change(a.Rec(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Int(5), a.Reals(6))); }},
      {"BsplCurve3DiffCurvature", "shrinkwrap/crvfair.h", 3, [](Args& a) { a.Value(BsplCurve3DiffCurvature(a.Rec(0), a.Real(1), a.Reals(2))); }},
      {"UpdateCurveBsplineCntrlPts", "shrinkwrap/crvnet.h", 2, [](Args& a) { a.Value(UpdateCurveBsplineCntrlPts(a.Rec(0), a.Rec(1))); }},
      {"ComputeCrvNetSnapPoints", "shrinkwrap/crvnet.h", 8, [](Args& a) { a.Value(ComputeCrvNetSnapPoints(a.Recs(0), a.Int(1), a.Recs(2), a.Int(3), a.Matrix(4), a.Matrix(5), a.Reals(6), a.Reals(7))); }},
      {"ComputeReshapeCrv3PointConstraint", "shrinkwrap/cshrink.h", 7, [](Args& a) { a.Value(ComputeReshapeCrv3PointConstraint(a.Rec(0), a.Real(1), a.Real(2), a.Real(3), a.Real(4), a.Reals(5), a.Reals(6))); }},
      {"ComputeReshapeCrv3NormConstraint", "shrinkwrap/cshrink.h", 5, [](Args& a) { a.Value(ComputeReshapeCrv3NormConstraint(a.Rec(0), a.Reals(1), a.Real(2), a.Reals(3), a.Reals(4))); }},
      {"GetCrvThinPlateWeights", "shrinkwrap/cshrink.h", 5, [](Args& a) { a.Value(GetCrvThinPlateWeights(a.Rec(0), a.Real(1), a.Real(2), a.Reals(3), a.Reals(4))); }},
      {"GetCrvThinPlateWeightsBelowUnitSize", "shrinkwrap/cshrink.h", 5, [](Args& a) { a.Value(GetCrvThinPlateWeightsBelowUnitSize(a.Rec(0), a.Real(1), a.Real(2), a.Reals(3), a.Reals(4))); }},
      {"NewInsertReshapeCrv3KnotsDistribute", "shrinkwrap/cshrink.h", 3, [](Args& a) { a.Value(NewInsertReshapeCrv3KnotsDistribute(a.Rec(0), a.Reals(1), a.Int(2))); }},
      {"InsertOneKnotInCrv3Span", "shrinkwrap/cshrink.h", 4, [](Args& a) { a.Value(InsertOneKnotInCrv3Span(a.Rec(0), a.Real(1), a.Int(2), a.Ints(3))); }},
      {"InsertOneKnotInCrv3Clst", "shrinkwrap/cshrink.h", 3, [](Args& a) { a.Value(InsertOneKnotInCrv3Clst(a.Rec(0), a.Real(1), a.Ints(2))); }},
      {"NonShrinkSmoothCurveSegment", "shrinkwrap/csmooth.h", 6, [](Args& a) { a.Value(NonShrinkSmoothCurveSegment(a.Rec(0), a.Real(1), a.Real(2), a.Real(3), a.Real(4), a.Int(5))); }},
      {"FindCrvSegmentFreeCntrlPnts", "shrinkwrap/csmooth.h", 6, [](Args& a) { a.Value(FindCrvSegmentFreeCntrlPnts(a.Rec(0), a.Real(1), a.Real(2), a.Ints(3), a.Ints(4), a.Ints(5))); }},
      {"CheckCrvSegmentFreeCntrlPnts", "shrinkwrap/csmooth.h", 5, [](Args& a) { a.Value(CheckCrvSegmentFreeCntrlPnts(a.Rec(0), a.Real(1), a.Real(2), a.Ints(3), a.Ints(4))); }},
      {"SimpleSmoothCrvSegment", "shrinkwrap/csmooth.h", 7, [](Args& a) { a.Value(SimpleSmoothCrvSegment(a.Rec(0), a.Real(1), a.Real(2), a.Ints(3), a.Int(4), a.Real(5), a.Recs(6))); }},
      {"SkinAtParams", "shrinkwrap/gridintp.h", 5, [](Args& a) { a.Made(SkinAtParams(a.Int(0), a.Recs(1), a.Reals(2), a.Reals(3), a.Int(4))); }},
      {"ThinPlateGriddedSolve", "shrinkwrap/platefit.h", 15, [](Args& a) { a.Value(ThinPlateGriddedSolve(a.Rec(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Int(4), a.Int(5), a.Real(6), a.Real(7), a.Reals(8), a.Real(9), a.Real(10), a.Reals(11), a.Reals(12), a.Ints(13), a.Int(14))); }},
      {"ThinPlateStiffness", "shrinkwrap/platefit.h", 2, [](Args& a) { a.Pointer(ThinPlateStiffness(a.Rec(0), a.Reals(1))); }},
      {"SnapInsertOneKnotToObject", "shrinkwrap/shrink.h", 4, [](Args& a) { a.Value(SnapInsertOneKnotToObject(a.Rec(0), a.Int(1), a.Reals(2), a.Ints(3))); }},
      {"InsertKnotsUniformlyWithinInterval", "shrinkwrap/shrink.h", 5, [](Args& a) { a.Value(InsertKnotsUniformlyWithinInterval(a.Rec(0), a.Int(1), a.Real(2), a.Real(3), a.Int(4))); }},
      {"LocalUnfrmInsertSrfKnots", "shrinkwrap/shrink.h", 8, [](Args& a) { a.Value(LocalUnfrmInsertSrfKnots(a.Rec(0), a.Real(1), a.Real(2), a.Real(3), a.Real(4), a.Int(5), a.Int(6), a.Recs(7))); }},
      {"ComputeNumSrfShrinkWrapNeededKnots", "shrinkwrap/shrink.h", 4, [](Args& a) { a.Value(ComputeNumSrfShrinkWrapNeededKnots(a.Rec(0), a.Ints(1), a.Ints(2), a.Ints(3))); }},
      {"InsertSurfShrinkWrapKnots", "shrinkwrap/shrink.h", 2, [](Args& a) { a.Value(InsertSurfShrinkWrapKnots(a.Rec(0), a.Ints(1))); }},
      {"GetFreeCntrlPntsInParamBox", "shrinkwrap/shrink.h", 10, [](Args& a) { a.Value(GetFreeCntrlPntsInParamBox(a.Rec(0), a.Real(1), a.Real(2), a.Real(3), a.Real(4), a.Ints(5), a.Ints(6), a.Ints(7), a.Ints(8), a.Ints(9))); }},
      {"DropShrinkWrapForms", "shrinkwrap/shrink.h", 1, [](Args& a) { DropShrinkWrapForms(a.Rec(0)); a.Done(); }},
      {"MakeShrinkWrapSurf", "shrinkwrap/shrink.h", 6, [](Args& a) { a.Made(MakeShrinkWrapSurf(a.Rec(0), a.Rec(1), a.Real(2), a.Real(3), a.Real(4), a.Ints(5))); }},
      {"ShrinkWrapSurfCoefi", "shrinkwrap/shrink.h", 3, [](Args& a) { a.Made(ShrinkWrapSurfCoefi(a.Rec(0), a.Matrix(1), a.Ints(2))); }},
      {"SmoothSrfCntrlPntsLambdaGamma", "shrinkwrap/smooth.h", 5, [](Args& a) { a.Value(SmoothSrfCntrlPntsLambdaGamma(a.Rec(0), a.Int(1), a.Real(2), a.Real(3), a.Int(4))); }},
      {"SimpleSmoothSrfLambdaGamma", "shrinkwrap/smooth.h", 3, [](Args& a) { a.Value(SimpleSmoothSrfLambdaGamma(a.Rec(0), a.Real(1), a.Recs(2))); }},
      {"IsEnoughSrfCntrlPntsForSmoothing", "shrinkwrap/smooth.h", 5, [](Args& a) { a.Value(IsEnoughSrfCntrlPntsForSmoothing(a.Rec(0), a.Ints(1), a.Ints(2), a.Ints(3), a.Ints(4))); }},
      {"SimpleSmoothSurface", "shrinkwrap/smooth.h", 5, [](Args& a) { a.Value(SimpleSmoothSurface(a.Rec(0), a.Ints(1), a.Real(2), a.Int(3), a.Recs(4))); }},
      {"SimpleSmoothSrfIsoCrvU", "shrinkwrap/smooth.h", 4, [](Args& a) { a.Value(SimpleSmoothSrfIsoCrvU(a.Rec(0), a.Real(1), a.Real(2), a.Int(3))); }},
      {"SimpleSmoothSrfIsoCrvV", "shrinkwrap/smooth.h", 4, [](Args& a) { a.Value(SimpleSmoothSrfIsoCrvV(a.Rec(0), a.Real(1), a.Real(2), a.Int(3))); }},
      {"SimpleSmoothSrfIsoCrv", "shrinkwrap/smooth.h", 7, [](Args& a) { a.Value(SimpleSmoothSrfIsoCrv(a.Rec(0), a.Real(1), a.Real(2), a.Int(3), a.Real(4), a.Int(5), a.Recs(6))); }},
      {"FlipBspline", "shrinkwrap/smooth.h", 1, [](Args& a) { a.Value(FlipBspline(a.Rec(0))); }},
      {"GetSrfBsplineTranspose", "shrinkwrap/smooth.h", 1, [](Args& a) { a.Made(GetSrfBsplineTranspose(a.Rec(0))); }},
      {"IsoDerivativeCurve", "stitch/crossder.h", 14, [](Args& a) { a.Made(IsoDerivativeCurve(a.Rec(0), a.Rec(1), a.Matrix(2), a.Int(3), a.Int(4), a.Int(5), a.Real(6), a.Real(7), a.Real(8), a.Int(9), a.Int(10), a.Int(11), a.Int(12), a.Int(13))); }},
      {"NonIsoDerivativeCurve", "stitch/crossder.h", 11, [](Args& a) { a.Made(NonIsoDerivativeCurve(a.Rec(0), a.Rec(1), a.Matrix(2), a.Int(3), a.Int(4), a.Int(5), a.Int(6), a.Int(7), a.Reals(8), a.Int(9), a.Int(10))); }},
      {"NonIsoDirections", "stitch/crossder.h", 11, [](Args& a) { a.Value(NonIsoDirections(a.Rec(0), a.Rec(1), a.Matrix(2), a.Int(3), a.Int(4), a.Int(5), a.Reals(6), a.Reals(7), a.Reals(8), a.Reals(9), a.Int(10))); }},
      {"NormalizeControlPoints", "stitch/crossder.h", 1, [](Args& a) { NormalizeControlPoints(a.Rec(0)); a.Done(); }},
      {"ScaledDerivativeRow", "stitch/crossder.h", 5, [](Args& a) { a.Value(ScaledDerivativeRow(a.Rec(0), a.Rec(1), a.Reals(2), a.Real(3), a.Int(4))); }},
      {"CleanCurveRowKnots", "stitch/loftrows.h", 7, [](Args& a) { a.Value(CleanCurveRowKnots(a.Recs(0), a.Reals(1), a.Int(2), a.Int(3), a.Ints(4), a.Real(5), a.Real(6))); }},
      {"RefitCurveUniform", "stitch/loftrows.h", 2, [](Args& a) { a.Made(RefitCurveUniform(a.Rec(0), a.Int(1))); }},
      {"GetParValOfBndry", "stitch/srfcont.h", 2, [](Args& a) { a.Value(GetParValOfBndry(a.Rec(0), a.Int(1))); }},
      {"GetParValsOnIsoPar", "stitch/srfcont.h", 6, [](Args& a) { GetParValsOnIsoPar(a.Rec(0), a.Int(1), a.Reals(2), a.Reals(3), a.Real(4), a.Int(5)); a.Done(); }},
      {"GetParValsOnIsoPar2", "stitch/srfcont.h", 7, [](Args& a) { a.Value(GetParValsOnIsoPar2(a.Rec(0), a.Int(1), a.Reals(2), a.Reals(3), a.Real(4), a.Int(5), a.Real(6))); }},
      {"GetAvgLengthOfBspline", "stitch/srfcont.h", 1, [](Args& a) { a.Value(GetAvgLengthOfBspline(a.Rec(0))); }},
      {"GetCurveOnSurfaceNorm", "stitch/srfcont.h", 3, [](Args& a) { a.Pointer(GetCurveOnSurfaceNorm(a.Reals(0), a.Rec(1), a.Real(2))); }},
      {"MakeCrvOnSrfsPlateProper", "stitch/srfcont.h", 2, [](Args& a) { MakeCrvOnSrfsPlateProper(a.Recs(0), a.Int(1)); a.Done(); }},
      {"GetMatchingBsplineOnSrf", "stitch/srfcont.h", 3, [](Args& a) { a.Made(GetMatchingBsplineOnSrf(a.Rec(0), a.Rec(1), a.Rec(2))); }},
      {"SimpleSrfToSrfMaxDifference", "stitch/srferr.h", 3, [](Args& a) { a.Value(SimpleSrfToSrfMaxDifference(a.Rec(0), a.Rec(1), a.Reals(2))); }},
      {"KnotSpanSampleCloud", "stitch/srfsample.h", 4, [](Args& a) { a.Pointer(KnotSpanSampleCloud(a.Rec(0), a.Int(1), a.Int(2), a.Reals(3))); }},
      {"DampChangeAlongCntrlLine", "stitch/srfstitc.h", 7, [](Args& a) { DampChangeAlongCntrlLine(a.Rec(0), a.Reals(1), a.Reals(2), a.Int(3), a.Int(4), a.Int(5), a.Int(6)); a.Done(); }},
      {"ScaleObjectDerivative", "stitch/srfstitc.h", 6, [](Args& a) { ScaleObjectDerivative(a.Rec(0), a.Real(1), a.Int(2), a.Real(3), a.Int(4), a.Int(5)); a.Done(); }},
      {"MakeStartAndEndObj", "stitch/srfstitc.h", 2, [](Args& a) { MakeStartAndEndObj(a.Ints(0), a.Recs(1)); a.Done(); }},
      {"MakeObjFromTwoObj", "stitch/srfstitc.h", 5, [](Args& a) { a.Made(MakeObjFromTwoObj(a.Recs(0), a.Reals(1), a.Ints(2), a.Reals(3), a.Int(4))); }},
      {"GetSurfPairBndries", "stitch/srfstitc.h", 6, [](Args& a) { GetSurfPairBndries(a.Rec(0), a.Ints(1), a.Int(2), a.Rec(3), a.Ints(4), a.Int(5)); a.Done(); }},
      {"PropotionSurfKnots", "stitch/srfstitc.h", 2, [](Args& a) { PropotionSurfKnots(a.Recs(0), a.Ints(1)); a.Done(); }},
      {"StitchThreeSurfs", "stitch/srfstitc.h", 4, [](Args& a) { a.Value(StitchThreeSurfs(a.Ints(0), a.Recs(1), a.Int(2), a.Recs(3))); }},
      {"StitchFourSurfs", "stitch/srfstitc.h", 4, [](Args& a) { a.Value(StitchFourSurfs(a.Ints(0), a.Recs(1), a.Int(2), a.Recs(3))); }},
      {"BlendThreeSurfs", "stitch/srfstitc.h", 3, [](Args& a) { a.Made(BlendThreeSurfs(a.Ints(0), a.Recs(1), a.Int(2))); }},
      {"BlendFourSurfs", "stitch/srfstitc.h", 3, [](Args& a) { a.Made(BlendFourSurfs(a.Ints(0), a.Recs(1), a.Int(2))); }},
      {"CreateDerivativeCurves", "stitch/userdef.h", 13, [](Args& a) { a.Pointer(CreateDerivativeCurves(a.Recs(0), a.Recs(1), a.Matrix(2), a.Ints(3), a.Int(4), a.Real(5), a.Int(6), a.Int(7), a.Int(8), a.Int(9), a.Reals(10), a.Int(11), a.Int(12))); }},
      {"GetCrossDegreeOfCurveOnSurf", "stitch/userdef.h", 1, [](Args& a) { a.Value(GetCrossDegreeOfCurveOnSurf(a.Rec(0))); }},
      {"GetClosestCurveEnds", "stitch/userdef.h", 4, [](Args& a) { GetClosestCurveEnds(a.Rec(0), a.Rec(1), a.Ints(2), a.Ints(3)); a.Done(); }},
      {"GetDirCurve", "stitch/userdef.h", 3, [](Args& a) { a.Made(GetDirCurve(a.Rec(0), a.Rec(1), a.Rec(2))); }},
      {"GetAllClockWiseSnippedPosCrvLoop", "stitch/userdef.h", 7, [](Args& a) { a.Pointer(GetAllClockWiseSnippedPosCrvLoop(a.Recs(0), a.Int(1), a.Ints(2), a.Real(3), a.Int(4), a.Matrix(5), a.Matrix(6))); }},
      {"GetAllClockWiseSnippedCrvOnSrf", "stitch/userdef.h", 5, [](Args& a) { a.Pointer(GetAllClockWiseSnippedCrvOnSrf(a.Recs(0), a.Int(1), a.Ints(2), a.Reals(3), a.Reals(4))); }},
      {"GetAllSnippedDerivativeCurves", "stitch/userdef.h", 5, [](Args& a) { a.Pointer(GetAllSnippedDerivativeCurves(a.Recs(0), a.Ints(1), a.Ints(2), a.Real(3), a.Int(4))); }},
      {"MakePosCurvesTouch", "stitch/userdef.h", 3, [](Args& a) { MakePosCurvesTouch(a.Recs(0), a.Recs(1), a.Int(2)); a.Done(); }},
      {"FreeDerivBsplineArrays", "stitch/userdef.h", 4, [](Args& a) { FreeDerivBsplineArrays(a.Recs(0), a.Recs(1), a.Recs(2), a.Int(3)); a.Done(); }},
      {"LinearBlendSurface", "stitch/userdef.h", 4, [](Args& a) { a.Made(LinearBlendSurface(a.Recs(0), a.Recs(1), a.Recs(2), a.Int(3))); }},
      {"BlendSurface", "stitch/userdef.h", 5, [](Args& a) { BlendSurface(a.Recs(0), a.Recs(1), a.Recs(2), a.Rec(3), a.Int(4)); a.Done(); }},
      {"MakeSurfBndry", "stitch/userdef.h", 5, [](Args& a) { MakeSurfBndry(a.Rec(0), a.Recs(1), a.Recs(2), a.Recs(3), a.Int(4)); a.Done(); }},
      {"MakeCurvesCompatibleByPrecedence", "stitch/userdef.h", 4, [](Args& a) { a.Value(MakeCurvesCompatibleByPrecedence(a.Recs(0), a.Recs(1), a.Recs(2), a.Int(3))); }},
      {"MakeCurvesTwistCompatible", "stitch/userdef.h", 4, [](Args& a) { a.Value(MakeCurvesTwistCompatible(a.Recs(0), a.Recs(1), a.Recs(2), a.Int(3))); }},
      {"MakeCurvesTwistCompatibleCorner", "stitch/userdef.h", 4, [](Args& a) { a.Value(MakeCurvesTwistCompatibleCorner(a.Recs(0), a.Recs(1), a.Recs(2), a.Ints(3))); }},
      {"EquateRationalityOfAllCurves", "stitch/userdef.h", 3, [](Args& a) { a.Value(EquateRationalityOfAllCurves(a.Recs(0), a.Recs(1), a.Recs(2))); }},
      {"MakeDegreeOfAllCurvesCompatible", "stitch/userdef.h", 3, [](Args& a) { a.Value(MakeDegreeOfAllCurvesCompatible(a.Recs(0), a.Recs(1), a.Recs(2))); }},
      {"MakeParOfAllCurvesCompatible", "stitch/userdef.h", 3, [](Args& a) { a.Value(MakeParOfAllCurvesCompatible(a.Recs(0), a.Recs(1), a.Recs(2))); }},
      {"InsertAdditionalKnotsIfNeeded", "stitch/userdef.h", 4, [](Args& a) { a.Value(InsertAdditionalKnotsIfNeeded(a.Recs(0), a.Recs(1), a.Recs(2), a.Ints(3))); }},
      {"CleanBlendCurves", "stitch/userdef.h", 6, [](Args& a) { a.Value(CleanBlendCurves(a.Recs(0), a.Recs(1), a.Recs(2), a.Ints(3), a.Real(4), a.Real(5))); }},
      {"FindInitU", "stitch/userdef.h", 7, [](Args& a) { FindInitU(a.Rec(0), a.Real(1), a.Real(2), a.Reals(3), a.Reals(4), a.Reals(5), a.Reals(6)); a.Done(); }},
      {"SolveForUV", "stitch/userdef.h", 5, [](Args& a) { a.Value(SolveForUV(a.Rec(0), a.Real(1), a.Real(2), a.Reals(3), a.Reals(4))); }},
      {"ResetBsplineParamInfo", "stitch/vcnobj.h", 2, [](Args& a) { ResetBsplineParamInfo(a.Rec(0), a.Int(1)); a.Done(); }},
      {"GetKnotInfo", "stitch/vcnobj.h", 4, [](Args& a) { GetKnotInfo(a.Rec(0), a.Int(1), a.Reals(2), a.Reals(3)); a.Done(); }},
      {"GetObjBndryPnts", "stitch/vcnobj.h", 5, [](Args& a) { GetObjBndryPnts(a.Rec(0), a.Int(1), a.Reals(2), a.Reals(3), a.Int(4)); a.Done(); }},
      {"GetObjBndryVector", "stitch/vcnobj.h", 3, [](Args& a) { GetObjBndryVector(a.Rec(0), a.Int(1), a.Reals(2)); a.Done(); }},
      {"EquateParDirOfObjSet", "stitch/vcnobj.h", 3, [](Args& a) { a.Value(EquateParDirOfObjSet(a.Recs(0), a.Ints(1), a.Int(2))); }},
      {"GetObjSpanInParDir", "stitch/vcnobj.h", 3, [](Args& a) { a.Value(GetObjSpanInParDir(a.Rec(0), a.Int(1), a.Int(2))); }},
      {"GetCurveOnSurf3DLength", "stitch/vcnobj.h", 1, [](Args& a) { a.Value(GetCurveOnSurf3DLength(a.Rec(0))); }},
      {"ReverseObj", "stitch/vcnobj.h", 2, [](Args& a) { ReverseObj(a.Rec(0), a.Int(1)); a.Done(); }},
      {"MakeObjSetCompatible", "stitch/vcnobj.h", 4, [](Args& a) { MakeObjSetCompatible(a.Recs(0), a.Ints(1), a.Int(2), a.Int(3)); a.Done(); }},
      {"EquateDegOfObjSet", "stitch/vcnobj.h", 3, [](Args& a) { EquateDegOfObjSet(a.Recs(0), a.Ints(1), a.Int(2)); a.Done(); }},
      {"EquateRationOfObjSet", "stitch/vcnobj.h", 2, [](Args& a) { EquateRationOfObjSet(a.Recs(0), a.Int(1)); a.Done(); }},
      {"MakeObjSetRational", "stitch/vcnobj.h", 2, [](Args& a) { MakeObjSetRational(a.Recs(0), a.Int(1)); a.Done(); }},
      {"MakeParOfTwoObjProptnl", "stitch/vcnobj.h", 4, [](Args& a) { a.Value(MakeParOfTwoObjProptnl(a.Recs(0), a.Ints(1), a.Int(2), a.Int(3))); }},
      {"SetCntrlLineFromSurf", "stitch/vcnobj.h", 6, [](Args& a) { SetCntrlLineFromSurf(a.Rec(0), a.Rec(1), a.Int(2), a.Int(3), a.Int(4), a.Int(5)); a.Done(); }},
      {"assign_acyl_knots", "splinefit/acyleng.h", 6, [](Args& a) { assign_acyl_knots(a.Rec(0), a.Real(1), a.Real(2), a.Real(3), a.Real(4), a.Reals(5)); a.Done(); }},
      {"FitGriddedDataThinPlateBspline", "splinefit/aspline.h", 15, [](Args& a) { a.Value(FitGriddedDataThinPlateBspline(a.Rec(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Int(4), a.Int(5), a.Real(6), a.Real(7), a.Reals(8), a.Real(9), a.Real(10), a.Reals(11), a.Reals(12), a.Ints(13), a.Int(14))); }},
      {"SurfStiffMatrix", "splinefit/aspline.h", 2, [](Args& a) { a.Pointer(SurfStiffMatrix(a.Rec(0), a.Reals(1))); }},
      {"interpolate_coefi", "splinefit/aspline.h", 5, [](Args& a) { interpolate_coefi(a.Int(0), a.Int(1), a.Reals(2), a.Reals(3), a.Rec(4)); a.Done(); }},
      {"InitFillBsplineStruct", "splinefit/gspline.h", 5, [](Args& a) { InitFillBsplineStruct(a.Rec(0), a.Real(1), a.Real(2), a.Real(3), a.Real(4)); a.Done(); }},
      {"auto_gcar_knot_select", "splinefit/gspline.h", 5, [](Args& a) { auto_gcar_knot_select(a.Rec(0), a.Real(1), a.Real(2), a.Real(3), a.Real(4)); a.Done(); }},
      {"assign_gcar_knots", "splinefit/gspline.h", 5, [](Args& a) { assign_gcar_knots(a.Rec(0), a.Real(1), a.Real(2), a.Real(3), a.Real(4)); a.Done(); }},
      {"Curve3ToSurfShrink", "splinefit/intrplt.h", 5, [](Args& a) { a.Made(Curve3ToSurfShrink(a.Int(0), a.Recs(1), a.Reals(2), a.Reals(3), a.Int(4))); }},
      {"SampleCurvePlate", "splinefit/sconvert.h", 3, [](Args& a) { a.Value(SampleCurvePlate(a.Rec(0), a.Int(1), a.Matrix(2))); }},
      {"GetCurveKnotsRanking", "splinefit/sconvert.h", 1, [](Args& a) { a.Pointer(GetCurveKnotsRanking(a.Rec(0))); }},
      {"GetReducedInternalKnots", "splinefit/sconvert.h", 5, [](Args& a) { a.Pointer(GetReducedInternalKnots(a.Rec(0), a.Int(1), a.Int(2), a.Real(3), a.Ints(4))); }},
      {"SetWeightsToDataPoints", "splinefit/sconvert.h", 8, [](Args& a) { SetWeightsToDataPoints(a.Rec(0), a.Reals(1), a.Int(2), a.Reals(3), a.Int(4), a.Real(5), a.Real(6), a.Reals(7)); a.Done(); }},
      {"FitSurfaceWithDerivatives", "splinefit/sconvert.h", 13, [](Args& a) { a.Value(FitSurfaceWithDerivatives(a.Rec(0), a.Rec(1), a.Reals(2), a.Reals(3), a.Int(4), a.Int(5), a.Real(6), a.Matrix(7), a.Int(8), a.Int(9), a.Reals(10), a.Reals(11), a.Reals(12))); }},
      {"GetDerivativeStiffMatFromBsplineBasis", "splinefit/sconvert.h", 11, [](Args& a) { a.Value(GetDerivativeStiffMatFromBsplineBasis(a.Rec(0), a.Rec(1), a.Reals(2), a.Reals(3), a.Int(4), a.Int(5), a.Reals(6), a.Matrix(7), a.Reals(8), a.Reals(9), a.Reals(10))); }},
      {"GetDerivativeArrayOfGridPoints", "splinefit/sconvert.h", 11, [](Args& a) { a.Value(GetDerivativeArrayOfGridPoints(a.Rec(0), a.Reals(1), a.Reals(2), a.Int(3), a.Int(4), a.Int(5), a.Int(6), a.Int(7), a.Reals(8), a.Reals(9), a.Reals(10))); }},
      {"FitSurfaceByFixingBoundaries", "splinefit/sconvert.h", 16, [](Args& a) { a.Value(FitSurfaceByFixingBoundaries(a.Rec(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Int(4), a.Int(5), a.Int(6), a.Int(7), a.Int(8), a.Int(9), a.Matrix(10), a.Int(11), a.Int(12), a.Reals(13), a.Reals(14), a.Reals(15))); }},
      {"CreateBoundaryCurves", "splinefit/sconvert.h", 7, [](Args& a) { a.Value(CreateBoundaryCurves(a.Rec(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Int(4), a.Int(5), a.Recs(6))); }},
      {"CreateBsplineBoundaryCurve", "splinefit/sconvert.h", 8, [](Args& a) { a.Made(CreateBsplineBoundaryCurve(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Rec(4), a.Int(5), a.Int(6), a.Int(7))); }},
      {"CurvatureOnParameterGrid", "splinefit/sconvert.h", 7, [](Args& a) { CurvatureOnParameterGrid(a.Rec(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Int(4), a.Int(5), a.Int(6)); a.Done(); }},
      {"CurvatureOnGrid", "splinefit/sconvert.h", 9, [](Args& a) { CurvatureOnGrid(a.Rec(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Int(4), a.Int(5), a.Int(6), a.Int(7), a.Real(8)); a.Done(); }},
      {"CurvatureUnitScale", "splinefit/sconvert.h", 1, [](Args& a) { a.Value(CurvatureUnitScale(a.Rec(0))); }},
      {"CurvatureAtFreePoint", "splinefit/sconvert.h", 5, [](Args& a) { a.Value(CurvatureAtFreePoint(a.Rec(0), a.Real(1), a.Real(2), a.Int(3), a.Real(4))); }},
      {"GetUniformKnotsInRealSpace", "splinefit/sconvert.h", 3, [](Args& a) { a.Pointer(GetUniformKnotsInRealSpace(a.Rec(0), a.Real(1), a.Ints(2))); }},
      {"GetNKnotsInRealSpace", "splinefit/sconvert.h", 3, [](Args& a) { a.Value(GetNKnotsInRealSpace(a.Rec(0), a.Real(1), a.Int(2))); }},
      {"GetAverageSpanInRealSpace", "splinefit/sconvert.h", 2, [](Args& a) { a.Value(GetAverageSpanInRealSpace(a.Rec(0), a.Int(1))); }},
      {"VDABsplineSurfaceApproximation", "splinefit/sconvert.h", 7, [](Args& a) { a.Value(VDABsplineSurfaceApproximation(a.Rec(0), a.Int(1), a.Int(2), a.Real(3), a.Int(4), a.Int(5), a.Recs(6))); }},
      {"ReparametrizeSurface", "splinefit/sconvert.h", 10, [](Args& a) { a.Value(ReparametrizeSurface(a.Rec(0), a.Rec(1), a.Real(2), a.Int(3), a.Int(4), a.Int(5), a.Real(6), a.Int(7), a.Real(8), a.Recs(9))); }},
      {"ReparametrizeCurveBspline_Host", "splinefit/sconvert.h", 8, [](Args& a) { a.Made(ReparametrizeCurveBspline_Host(a.Rec(0), a.Rec(1), a.Real(2), a.Int(3), a.Int(4), a.Int(5), a.Real(6), a.Int(7))); }},
      {"EvalBsplineLength", "splinefit/sconvert.h", 2, [](Args& a) { a.Value(EvalBsplineLength(a.Rec(0), a.Reals(1))); }},
      {"ProjectCurvesAndLoopsOnSurf", "splinefit/sconvert.h", 2, [](Args& a) { a.Value(ProjectCurvesAndLoopsOnSurf(a.Rec(0), a.Rec(1))); }},
      {"SkinnableCurves", "splinefit/skin.h", 2, [](Args& a) { a.Value(SkinnableCurves(a.Recs(0), a.Int(1))); }},
      {"NewSkinSurface", "splinefit/skin.h", 3, [](Args& a) { a.Made(NewSkinSurface(a.Rec(0), a.Int(1), a.Int(2))); }},
      {"SkinParamsAcrossCurves", "splinefit/skin.h", 4, [](Args& a) { a.Value(SkinParamsAcrossCurves(a.Recs(0), a.Int(1), a.Reals(2), a.Int(3))); }},
      {"SkinCurveRows", "splinefit/skin.h", 5, [](Args& a) { a.Made(SkinCurveRows(a.Int(0), a.Recs(1), a.Reals(2), a.Int(3), a.Ints(4))); }},
      {"SkinCurvesToOrder", "splinefit/skin.h", 3, [](Args& a) { a.Pointer(SkinCurvesToOrder(a.Recs(0), a.Ints(1), a.Int(2))); }},
      {"SkinCurveRowsBanded", "splinefit/skin.h", 4, [](Args& a) { a.Made(SkinCurveRowsBanded(a.Int(0), a.Recs(1), a.Reals(2), a.Int(3))); }},
      {"RemoveKnotFromCurve", "splinefit/splutil.h", 3, [](Args& a) { a.Value(RemoveKnotFromCurve(a.Rec(0), a.Int(1), a.Real(2))); }},
      {"RemoveCurveKnot", "splinefit/splutil.h", 3, [](Args& a) { a.Value(RemoveCurveKnot(a.Rec(0), a.Int(1), a.Real(2))); }},
      {"RemoveAllCurveKnots", "splinefit/splutil.h", 2, [](Args& a) { a.Value(RemoveAllCurveKnots(a.Rec(0), a.Real(1))); }},
      {"RemoveKnot", "splinefit/splutil.h", 3, [](Args& a) { a.Value(RemoveKnot(a.Rec(0), a.Int(1), a.Real(2))); }},
      {"RemoveSurfKnot", "splinefit/splutil.h", 4, [](Args& a) { a.Value(RemoveSurfKnot(a.Rec(0), a.Int(1), a.Int(2), a.Real(3))); }},
      {"RemoveAllSurfKnots", "splinefit/splutil.h", 2, [](Args& a) { a.Value(RemoveAllSurfKnots(a.Rec(0), a.Real(1))); }},
      {"GetMaxCurveDeviation", "splinefit/splutil.h", 4, [](Args& a) { GetMaxCurveDeviation(a.Rec(0), a.Int(1), a.Real(2), a.Reals(3)); a.Done(); }},
      {"IsKnotVectorUniform", "splinefit/splutil.h", 3, [](Args& a) { a.Value(IsKnotVectorUniform(a.Rec(0), a.Int(1), a.Real(2))); }},
      {"FindAllBsplFuncRoots", "splinefit/splzero.h", 3, [](Args& a) { a.Value(FindAllBsplFuncRoots(a.Rec(0), a.Matrix(1), a.Ints(2))); }},
      {"Crv3PlaneIntersect", "splinefit/splzero.h", 7, [](Args& a) { a.Value(Crv3PlaneIntersect(a.Rec(0), a.Real(1), a.Real(2), a.Real(3), a.Real(4), a.Matrix(5), a.Ints(6))); }},
      {"CopyBsplineFunc", "splinefit/splzero.h", 1, [](Args& a) { a.Made(CopyBsplineFunc(a.Rec(0))); }},
      {"IsBsplFuncConvexHullSameSign", "splinefit/splzero.h", 2, [](Args& a) { a.Value(IsBsplFuncConvexHullSameSign(a.Rec(0), a.Real(1))); }},
      {"FindBsplFuncInitXYCoefi", "splinefit/splzero.h", 1, [](Args& a) { a.Value(FindBsplFuncInitXYCoefi(a.Rec(0))); }},
      {"PutWrapedObjToNonWraped", "splinefit/wrapfit.h", 3, [](Args& a) { a.Value(PutWrapedObjToNonWraped(a.Rec(0), a.Int(1), a.Int(2))); }},
      {"EndClosedCurve", "splinefit/wrapfit.h", 3, [](Args& a) { a.Value(EndClosedCurve(a.Rec(0), a.Int(1), a.Int(2))); }},
      {"GetBndryDeviation", "construct/crv2srf.h", 4, [](Args& a) { a.Value(GetBndryDeviation(a.Rec(0), a.Rec(1), a.Real(2), a.Reals(3))); }},
      {"GetShortestCntrlPair", "construct/crv2srf.h", 4, [](Args& a) { a.Value(GetShortestCntrlPair(a.Rec(0), a.Rec(1), a.Ints(2), a.Reals(3))); }},
      {"Curve3ToSurf", "construct/crv2srf.h", 5, [](Args& a) { a.Made(Curve3ToSurf(a.Int(0), a.Recs(1), a.Reals(2), a.Int(3), a.Ints(4))); }},
      {"NewCurve3ToSurf", "construct/crv2srf.h", 4, [](Args& a) { a.Made(NewCurve3ToSurf(a.Int(0), a.Recs(1), a.Reals(2), a.Int(3))); }},
      {"ComputeKnotVecAcrossNCurves", "construct/crv2srf.h", 4, [](Args& a) { a.Value(ComputeKnotVecAcrossNCurves(a.Recs(0), a.Int(1), a.Reals(2), a.Int(3))); }},
      {"AddCurvesIfLessThanOrder", "construct/crv2srf.h", 3, [](Args& a) { a.Pointer(AddCurvesIfLessThanOrder(a.Recs(0), a.Ints(1), a.Int(2))); }},
      {"RuledSurface", "construct/crv2srf.h", 2, [](Args& a) { a.Made(RuledSurface(a.Rec(0), a.Rec(1))); }},
      {"IsCurveAnIsoPar", "construct/crv2srf.h", 2, [](Args& a) { a.Value(IsCurveAnIsoPar(a.Rec(0), a.Int(1))); }},
      {"MakeG2ReflecBspline", "construct/crv2srf.h", 3, [](Args& a) { a.Made(MakeG2ReflecBspline(a.Rec(0), a.Int(1), a.Reals(2))); }},
      {"GetIsoDerivOfSurf", "construct/crv2srf.h", 16, [](Args& a) { a.Made(GetIsoDerivOfSurf(a.Rec(0), a.Rec(1), a.Matrix(2), a.Int(3), a.Int(4), a.Int(5), a.Real(6), a.Int(7), a.Real(8), a.Real(9), a.Real(10), a.Int(11), a.Int(12), a.Int(13), a.Int(14), a.Int(15))); }},
      {"GetNonIsoDerivOfSurf", "construct/crv2srf.h", 12, [](Args& a) { a.Made(GetNonIsoDerivOfSurf(a.Rec(0), a.Rec(1), a.Matrix(2), a.Int(3), a.Int(4), a.Int(5), a.Real(6), a.Int(7), a.Int(8), a.Reals(9), a.Int(10), a.Int(11))); }},
      {"GetNonIsoG1PointsOfSurf", "construct/crv2srf.h", 11, [](Args& a) { a.Value(GetNonIsoG1PointsOfSurf(a.Rec(0), a.Rec(1), a.Matrix(2), a.Int(3), a.Int(4), a.Int(5), a.Reals(6), a.Reals(7), a.Reals(8), a.Reals(9), a.Int(10))); }},
      {"NormalizeBspline", "construct/crv2srf.h", 1, [](Args& a) { NormalizeBspline(a.Rec(0)); a.Done(); }},
      {"GetScaledDerivCntrl", "construct/crv2srf.h", 5, [](Args& a) { a.Value(GetScaledDerivCntrl(a.Rec(0), a.Rec(1), a.Reals(2), a.Real(3), a.Int(4))); }},
      {"ComputeDerivCntrlPts", "construct/crv2srf.h", 5, [](Args& a) { ComputeDerivCntrlPts(a.Recs(0), a.Int(1), a.Ints(2), a.Matrix(3), a.Reals(4)); a.Done(); }},
      {"ExtendObject", "construct/extend.h", 8, [](Args& a) { a.Made(ExtendObject(a.Rec(0), a.Rec(1), a.Reals(2), a.Real(3), a.Int(4), a.Int(5), a.Int(6), a.Real(7))); }},
      {"ExtendObjectByLengthG2", "construct/extend.h", 4, [](Args& a) { a.Made(ExtendObjectByLengthG2(a.Rec(0), a.Real(1), a.Int(2), a.Int(3))); }},
      {"MakeExtendBspline", "construct/extend.h", 3, [](Args& a) { a.Made(MakeExtendBspline(a.Rec(0), a.Int(1), a.Real(2))); }},
      {"FillExtendCoefi", "construct/extend.h", 2, [](Args& a) { FillExtendCoefi(a.Rec(0), a.Int(1)); a.Done(); }},
      {"SnipCrvOnSrfAtSrfEdge", "construct/extend.h", 3, [](Args& a) { a.Made(SnipCrvOnSrfAtSrfEdge(a.Rec(0), a.Rec(1), a.Int(2))); }},
      {"CascadeKnotVecOfObjSet", "construct/extend.h", 3, [](Args& a) { CascadeKnotVecOfObjSet(a.Recs(0), a.Int(1), a.Ints(2)); a.Done(); }},
      {"MakeBridgeObject", "construct/extend.h", 7, [](Args& a) { a.Made(MakeBridgeObject(a.Rec(0), a.Rec(1), a.Reals(2), a.Real(3), a.Int(4), a.Int(5), a.Int(6))); }},
      {"MakeBPatchFromObjEdgeToCurve3", "construct/extend.h", 7, [](Args& a) { MakeBPatchFromObjEdgeToCurve3(a.Rec(0), a.Int(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Reals(5), a.Recs(6)); a.Done(); }},
      {"MakeBPatchOfCnToObj", "construct/extend.h", 6, [](Args& a) { a.Value(MakeBPatchOfCnToObj(a.Rec(0), a.Int(1), a.Real(2), a.Int(3), a.Int(4), a.Recs(5))); }},
      {"PutEndSpanOfObjToBpatch", "construct/extend.h", 3, [](Args& a) { a.Value(PutEndSpanOfObjToBpatch(a.Rec(0), a.Int(1), a.Int(2))); }},
      {"MakeCntrlMatUniformLength", "construct/extend.h", 3, [](Args& a) { MakeCntrlMatUniformLength(a.Rec(0), a.Real(1), a.Int(2)); a.Done(); }},
      {"CheckIntersection", "construct/extrude.h", 3, [](Args& a) { a.Value(CheckIntersection(a.Rec(0), a.Rec(1), a.Real(2))); }},
      {"CheckIfCurvesInSameDir", "construct/extrude.h", 3, [](Args& a) { CheckIfCurvesInSameDir(a.Recs(0), a.Rec(1), a.Real(2)); a.Done(); }},
      {"ExtrudeW2PathCurves", "construct/extrude.h", 4, [](Args& a) { a.Made(ExtrudeW2PathCurves(a.Rec(0), a.Rec(1), a.Rec(2), a.Real(3))); }},
      {"ExtrudeSurface", "construct/extrude.h", 3, [](Args& a) { a.Made(ExtrudeSurface(a.Rec(0), a.Rec(1), a.Int(2))); }},
      {"CreateExtrudeSurface", "construct/extrude.h", 4, [](Args& a) { a.Made(CreateExtrudeSurface(a.Rec(0), a.Int(1), a.Reals(2), a.Real(3))); }},
      {"ExtrudeW2Generators", "construct/extrude.h", 3, [](Args& a) { a.Made(ExtrudeW2Generators(a.Rec(0), a.Rec(1), a.Rec(2))); }},
      {"NormalToCurve3", "construct/extrude.h", 3, [](Args& a) { NormalToCurve3(a.Rec(0), a.Real(1), a.Reals(2)); a.Done(); }},
      {"ExtrudeWRotation", "construct/extrude.h", 3, [](Args& a) { a.Made(ExtrudeWRotation(a.Rec(0), a.Rec(1), a.Int(2))); }},
      {"NewExtrudeWRotation", "construct/extrude.h", 3, [](Args& a) { a.Made(NewExtrudeWRotation(a.Rec(0), a.Rec(1), a.Int(2))); }},
      {"RefineKnotVector", "construct/extrude.h", 3, [](Args& a) { a.Value(RefineKnotVector(a.Rec(0), a.Matrix(1), a.Ints(2))); }},
      {"TensorNewExtrudeWRotation", "construct/extrude.h", 3, [](Args& a) { a.Made(TensorNewExtrudeWRotation(a.Rec(0), a.Rec(1), a.Int(2))); }},
      {"getPolynomialCoefi", "construct/extrude.h", 3, [](Args& a) { a.Value(getPolynomialCoefi(a.Int(0), a.Rec(1), a.Matrix(2))); }},
      {"IdentifySurfQuadric", "construct/quadrics.h", 4, [](Args& a) { a.Value(IdentifySurfQuadric(a.Recs(0), a.Int(1), a.Int(2), a.Ints(3))); }},
      {"GetHoleCenterNew", "construct/srfblend.h", 4, [](Args& a) { GetHoleCenterNew(a.Recs(0), a.Int(1), a.Reals(2), a.Reals(3)); a.Done(); }},
      {"MakeMidCurvesNew", "construct/srfblend.h", 5, [](Args& a) { a.Pointer(MakeMidCurvesNew(a.Recs(0), a.Int(1), a.Real(2), a.Reals(3), a.Reals(4))); }},
      {"GetAllMidCurves", "construct/srfblend.h", 5, [](Args& a) { a.Value(GetAllMidCurves(a.Recs(0), a.Int(1), a.Reals(2), a.Reals(3), a.Recs(4))); }},
      {"GetTanDirFromMidPnt", "construct/srfblend.h", 5, [](Args& a) { GetTanDirFromMidPnt(a.Rec(0), a.Reals(1), a.Reals(2), a.Real(3), a.Reals(4)); a.Done(); }},
      {"GetSidePosAndTanCurves", "construct/srfblend.h", 9, [](Args& a) { GetSidePosAndTanCurves(a.Recs(0), a.Recs(1), a.Recs(2), a.Ints(3), a.Real(4), a.Ints(5), a.Int(6), a.Recs(7), a.Recs(8)); a.Done(); }},
      {"ReverseNI1Curves", "construct/srfblend.h", 3, [](Args& a) { ReverseNI1Curves(a.Recs(0), a.Recs(1), a.Int(2)); a.Done(); }},
      {"MakeSideCrvsDegreeCompatible", "construct/srfblend.h", 3, [](Args& a) { MakeSideCrvsDegreeCompatible(a.Recs(0), a.Recs(1), a.Int(2)); a.Done(); }},
      {"MakeSideCrvsKnotCompatible", "construct/srfblend.h", 3, [](Args& a) { MakeSideCrvsKnotCompatible(a.Recs(0), a.Recs(1), a.Int(2)); a.Done(); }},
      {"PutSideTanVecToTanCurves", "construct/srfblend.h", 4, [](Args& a) { PutSideTanVecToTanCurves(a.Recs(0), a.Recs(1), a.Int(2), a.Reals(3)); a.Done(); }},
      {"GetSideScaledDerivCntrl", "construct/srfblend.h", 7, [](Args& a) { GetSideScaledDerivCntrl(a.Rec(0), a.Rec(1), a.Rec(2), a.Rec(3), a.Reals(4), a.Real(5), a.Int(6)); a.Done(); }},
      {"CleanSideCrvs", "construct/srfblend.h", 5, [](Args& a) { CleanSideCrvs(a.Recs(0), a.Recs(1), a.Int(2), a.Real(3), a.Real(4)); a.Done(); }},
      {"RescaleSideTanCurves", "construct/srfblend.h", 3, [](Args& a) { RescaleSideTanCurves(a.Recs(0), a.Recs(1), a.Int(2)); a.Done(); }},
      {"TwistCompatibleAtCornerJoints", "construct/srfblend.h", 2, [](Args& a) { TwistCompatibleAtCornerJoints(a.Recs(0), a.Int(1)); a.Done(); }},
      {"MidCurveCurvatureCorrection", "construct/srfblend.h", 4, [](Args& a) { MidCurveCurvatureCorrection(a.Recs(0), a.Recs(1), a.Recs(2), a.Int(3)); a.Done(); }},
      {"GetMidTanCurves", "construct/srfblend.h", 5, [](Args& a) { GetMidTanCurves(a.Recs(0), a.Recs(1), a.Ints(2), a.Int(3), a.Recs(4)); a.Done(); }},
      {"GetDesignParams", "construct/srfblend.h", 8, [](Args& a) { GetDesignParams(a.Recs(0), a.Recs(1), a.Int(2), a.Reals(3), a.Reals(4), a.Reals(5), a.Reals(6), a.Matrix(7)); a.Done(); }},
      {"FillMidTanCurves", "construct/srfblend.h", 8, [](Args& a) { FillMidTanCurves(a.Recs(0), a.Int(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Reals(5), a.Reals(6), a.Recs(7)); a.Done(); }},
      {"GetCenterTwistPoints", "construct/srfblend.h", 7, [](Args& a) { GetCenterTwistPoints(a.Recs(0), a.Int(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Reals(5), a.Recs(6)); a.Done(); }},
      {"ForceTangnetPlaneCondition", "construct/srfblend.h", 7, [](Args& a) { ForceTangnetPlaneCondition(a.Recs(0), a.Int(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Reals(5), a.Recs(6)); a.Done(); }},
      {"ScaleMidTanCurves", "construct/srfblend.h", 4, [](Args& a) { ScaleMidTanCurves(a.Recs(0), a.Recs(1), a.Int(2), a.Recs(3)); a.Done(); }},
      {"MakeMidAndSideDegreeCompatible", "construct/srfblend.h", 5, [](Args& a) { MakeMidAndSideDegreeCompatible(a.Recs(0), a.Recs(1), a.Recs(2), a.Recs(3), a.Int(4)); a.Done(); }},
      {"MakeMidAndSideKnotCompatible", "construct/srfblend.h", 4, [](Args& a) { MakeMidAndSideKnotCompatible(a.Recs(0), a.Recs(1), a.Recs(2), a.Int(3)); a.Done(); }},
      {"TwistCompatibleAtCenterJoints", "construct/srfblend.h", 2, [](Args& a) { TwistCompatibleAtCenterJoints(a.Recs(0), a.Int(1)); a.Done(); }},
      {"TwistCompatibleAtMiddleJoints", "construct/srfblend.h", 3, [](Args& a) { TwistCompatibleAtMiddleJoints(a.Recs(0), a.Recs(1), a.Int(2)); a.Done(); }},
      {"FillNSidedHole", "construct/srfblend.h", 7, [](Args& a) { a.Pointer(FillNSidedHole(a.Recs(0), a.Int(1), a.Ints(2), a.Ints(3), a.Real(4), a.Real(5), a.Int(6))); }},
      {"FillNSidedHoleWCenter", "construct/srfblend.h", 11, [](Args& a) { a.Pointer(FillNSidedHoleWCenter(a.Recs(0), a.Recs(1), a.Int(2), a.Reals(3), a.Reals(4), a.Ints(5), a.Ints(6), a.Ints(7), a.Real(8), a.Real(9), a.Int(10))); }},
      {"BlendNHole", "construct/srfblend.h", 3, [](Args& a) { a.Pointer(BlendNHole(a.Recs(0), a.Recs(1), a.Int(2))); }},
      {"CreateBlendSurface1Proptnl", "construct/srfblend.h", 10, [](Args& a) { a.Made(CreateBlendSurface1Proptnl(a.Recs(0), a.Int(1), a.Ints(2), a.Reals(3), a.Real(4), a.Real(5), a.Int(6), a.Int(7), a.Int(8), a.Int(9))); }},
      {"GetMidPosCurves", "construct/srfblend.h", 3, [](Args& a) { GetMidPosCurves(a.Recs(0), a.Int(1), a.Recs(2)); a.Done(); }},
      {"ReverseUCurves", "construct/srfblend.h", 3, [](Args& a) { ReverseUCurves(a.Recs(0), a.Recs(1), a.Int(2)); a.Done(); }},
      {"EquateRationalityOfBlendCurves", "construct/srfblend.h", 3, [](Args& a) { EquateRationalityOfBlendCurves(a.Recs(0), a.Recs(1), a.Int(2)); a.Done(); }},
      {"GetKnotsOutOfTanTol", "construct/srfblend.h", 6, [](Args& a) { GetKnotsOutOfTanTol(a.Rec(0), a.Int(1), a.Real(2), a.Real(3), a.Matrix(4), a.Ints(5)); a.Done(); }},
      {"Get3DDerivativeVectors", "construct/srfblend.h", 5, [](Args& a) { a.Pointer(Get3DDerivativeVectors(a.Recs(0), a.Recs(1), a.Int(2), a.Ints(3), a.Ints(4))); }},
      {"Get3DDerivativeCurves", "construct/srfblend.h", 3, [](Args& a) { Get3DDerivativeCurves(a.Recs(0), a.Recs(1), a.Int(2)); a.Done(); }},
      {"GetCrossCurves", "construct/srfblend.h", 5, [](Args& a) { GetCrossCurves(a.Rec(0), a.Recs(1), a.Recs(2), a.Rec(3), a.Rec(4)); a.Done(); }},
      {"GetUnitCrossBoundaryBspl", "construct/srfblend.h", 4, [](Args& a) { a.Made(GetUnitCrossBoundaryBspl(a.Rec(0), a.Real(1), a.Rec(2), a.Real(3))); }},
      {"GetUnitCrossBoundaryDeriv", "construct/srfblend.h", 3, [](Args& a) { GetUnitCrossBoundaryDeriv(a.Rec(0), a.Real(1), a.Reals(2)); a.Done(); }},
      {"GetBndryDivisionPoints", "construct/srfblend.h", 4, [](Args& a) { a.Value(GetBndryDivisionPoints(a.Recs(0), a.Int(1), a.Ints(2), a.Reals(3))); }},
      {"GetBndryDivisionCurves", "construct/srfblend.h", 4, [](Args& a) { a.Pointer(GetBndryDivisionCurves(a.Recs(0), a.Int(1), a.Ints(2), a.Reals(3))); }},
      {"FillNBoundaryCap", "construct/srfblend.h", 6, [](Args& a) { a.Pointer(FillNBoundaryCap(a.Recs(0), a.Int(1), a.Ints(2), a.Ints(3), a.Real(4), a.Real(5))); }},
      {"FillNBoundaryCapNew", "construct/srfblend.h", 6, [](Args& a) { a.Pointer(FillNBoundaryCapNew(a.Recs(0), a.Int(1), a.Ints(2), a.Ints(3), a.Real(4), a.Real(5))); }},
      {"GetMidTanCurvesCap", "construct/srfblend.h", 3, [](Args& a) { a.Pointer(GetMidTanCurvesCap(a.Recs(0), a.Recs(1), a.Ints(2))); }},
      {"ShiftBsplInArray", "construct/srfblend.h", 3, [](Args& a) { ShiftBsplInArray(a.Recs(0), a.Int(1), a.Int(2)); a.Done(); }},
      {"FillCapHoleNew", "construct/srfblend.h", 9, [](Args& a) { a.Pointer(FillCapHoleNew(a.Recs(0), a.Recs(1), a.Recs(2), a.Int(3), a.Reals(4), a.Reals(5), a.Int(6), a.Real(7), a.Real(8))); }},
      {"CleanLoftCurvesOneSide", "construct/srfblend.h", 7, [](Args& a) { a.Value(CleanLoftCurvesOneSide(a.Recs(0), a.Reals(1), a.Int(2), a.Int(3), a.Int(4), a.Real(5), a.Real(6))); }},
      {"FillCapHole", "construct/srfblend.h", 6, [](Args& a) { a.Pointer(FillCapHole(a.Recs(0), a.Recs(1), a.Int(2), a.Int(3), a.Real(4), a.Real(5))); }},
      {"GetSnippedDerivativeCurves", "construct/srfloft.h", 13, [](Args& a) { a.Pointer(GetSnippedDerivativeCurves(a.Recs(0), a.Ints(1), a.Int(2), a.Ints(3), a.Ints(4), a.Ints(5), a.Int(6), a.Int(7), a.Ints(8), a.Real(9), a.Int(10), a.Matrix(11), a.Ints(12))); }},
      {"MakeParameterAdjustment", "construct/srfloft.h", 3, [](Args& a) { MakeParameterAdjustment(a.Rec(0), a.Rec(1), a.Reals(2)); a.Done(); }},
      {"ComputeVKnotVecOfSurf", "construct/srfloft.h", 7, [](Args& a) { a.Value(ComputeVKnotVecOfSurf(a.Recs(0), a.Int(1), a.Int(2), a.Reals(3), a.Int(4), a.Int(5), a.Int(6))); }},
      {"CleanLoftCurves", "construct/srfloft.h", 7, [](Args& a) { a.Value(CleanLoftCurves(a.Recs(0), a.Reals(1), a.Int(2), a.Int(3), a.Ints(4), a.Real(5), a.Real(6))); }},
      {"FreeCrvArray", "construct/srfloft.h", 4, [](Args& a) { FreeCrvArray(a.Recs(0), a.Int(1), a.Int(2), a.Int(3)); a.Done(); }},
      {"ReparametrizeCurveUniform", "construct/srfloft.h", 2, [](Args& a) { a.Made(ReparametrizeCurveUniform(a.Rec(0), a.Int(1))); }},
      {"SamplePosCurveChordalDev", "construct/srfloft.h", 4, [](Args& a) { a.Value(SamplePosCurveChordalDev(a.Rec(0), a.Real(1), a.Matrix(2), a.Ints(3))); }},
      {"FindMergeSurfFrom2Curve2s", "construct/srfmerge.h", 10, [](Args& a) { a.Made(FindMergeSurfFrom2Curve2s(a.Rec(0), a.Rec(1), a.Int(2), a.Int(3), a.Int(4), a.Int(5), a.Real(6), a.Real(7), a.Int(8), a.Int(9))); }},
      {"FindBridgeDirection", "construct/srfmerge.h", 9, [](Args& a) { FindBridgeDirection(a.Rec(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Reals(5), a.Reals(6), a.Int(7), a.Reals(8)); a.Done(); }},
      {"SmoothControlLine", "construct/srfmerge.h", 4, [](Args& a) { a.Value(SmoothControlLine(a.Rec(0), a.Int(1), a.Int(2), a.Int(3))); }},
      {"CreateMergeSurface", "construct/srfmerge.h", 7, [](Args& a) { a.Value(CreateMergeSurface(a.Rec(0), a.Int(1), a.Rec(2), a.Rec(3), a.Int(4), a.Rec(5), a.Recs(6))); }},
      {"FindFilletSurfFrom2Curve2s", "construct/srfmerge.h", 8, [](Args& a) { a.Made(FindFilletSurfFrom2Curve2s(a.Rec(0), a.Rec(1), a.Int(2), a.Int(3), a.Int(4), a.Int(5), a.Real(6), a.Real(7))); }},
      {"CreateMergeSurfaceGivenCurve2s", "construct/srfmerge.h", 2, [](Args& a) { a.Made(CreateMergeSurfaceGivenCurve2s(a.Rec(0), a.Rec(1))); }},
      {"GetMergeCurve2s", "construct/srfmerge.h", 6, [](Args& a) { GetMergeCurve2s(a.Rec(0), a.Rec(1), a.Rec(2), a.Rec(3), a.Recs(4), a.Recs(5)); a.Done(); }},
      {"GetFilletCurve2s", "construct/srfmerge.h", 9, [](Args& a) { GetFilletCurve2s(a.Rec(0), a.Reals(1), a.Reals(2), a.Rec(3), a.Reals(4), a.Reals(5), a.Int(6), a.Recs(7), a.Recs(8)); a.Done(); }},
      {"FindCurvatureOfSurface", "construct/srfoffst.h", 3, [](Args& a) { a.Value(FindCurvatureOfSurface(a.Rec(0), a.Real(1), a.Real(2))); }},
      {"ComputeMaxCurvaNPnts", "construct/srfoffst.h", 6, [](Args& a) { a.Value(ComputeMaxCurvaNPnts(a.Rec(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Int(4), a.Int(5))); }},
      {"CreateOffsetSurfaceBspline", "construct/srfoffst.h", 9, [](Args& a) { a.Made(CreateOffsetSurfaceBspline(a.Rec(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Int(5), a.Int(6), a.Real(7), a.Real(8))); }},
      {"OffsetQuadricSurface", "construct/srfoffst.h", 3, [](Args& a) { a.Made(OffsetQuadricSurface(a.Rec(0), a.Real(1), a.Reals(2))); }},
      {"CheckForQuadricSurface", "construct/srfoffst.h", 3, [](Args& a) { a.Value(CheckForQuadricSurface(a.Rec(0), a.Real(1), a.Reals(2))); }},
      {"OffsetTrimCurves", "construct/srfoffst.h", 3, [](Args& a) { a.Value(OffsetTrimCurves(a.Recs(0), a.Rec(1), a.Real(2))); }},
      {"OffsetOtherCurvesOnSurf", "construct/srfoffst.h", 3, [](Args& a) { a.Value(OffsetOtherCurvesOnSurf(a.Rec(0), a.Rec(1), a.Real(2))); }},
      {"ProjectCurve2ToOffsetSurf", "construct/srfoffst.h", 3, [](Args& a) { a.Made(ProjectCurve2ToOffsetSurf(a.Rec(0), a.Rec(1), a.Real(2))); }},
      {"SurfaceRationalToNonRationalBspline", "construct/srfr2nr.h", 1, [](Args& a) { a.Made(SurfaceRationalToNonRationalBspline(a.Rec(0))); }},
      {"SampleSurfaceBspline", "construct/srfr2nr.h", 5, [](Args& a) { a.Pointer(SampleSurfaceBspline(a.Rec(0), a.Int(1), a.Int(2), a.Int(3), a.Reals(4))); }},
      {"SampleSurfacePlateBspline", "construct/srfr2nr.h", 4, [](Args& a) { a.Pointer(SampleSurfacePlateBspline(a.Rec(0), a.Int(1), a.Int(2), a.Reals(3))); }},
      {"ProjectAllCONSToSurf", "construct/srfr2nr.h", 2, [](Args& a) { ProjectAllCONSToSurf(a.Rec(0), a.Rec(1)); a.Done(); }},
      {"RevolveCurveGeometry", "construct/srfrevol.h", 5, [](Args& a) { a.Made(RevolveCurveGeometry(a.Rec(0), a.Reals(1), a.Reals(2), a.Real(3), a.Real(4))); }},
      {"SrfRevolArbitAxCurveGeometry", "construct/srfrevol.h", 4, [](Args& a) { a.Made(SrfRevolArbitAxCurveGeometry(a.Rec(0), a.Reals(1), a.Reals(2), a.Reals(3))); }},
      {"SetupDirectEditing", "intersect/cntrlpt.h", 7, [](Args& a) { a.Value(SetupDirectEditing(a.Rec(0), a.Real(1), a.Real(2), a.Reals(3), a.Reals(4), a.Ints(5), a.Ints(6))); }},
      {"SetupDirectEditingLine", "intersect/cntrlpt.h", 5, [](Args& a) { a.Value(SetupDirectEditingLine(a.Rec(0), a.Real(1), a.Reals(2), a.Ints(3), a.Int(4))); }},
      {"GetControlPointEffectExtent", "intersect/cntrlpt.h", 3, [](Args& a) { a.Value(GetControlPointEffectExtent(a.Rec(0), a.Int(1), a.Reals(2))); }},
      {"FindCntPntsEffectExtentParamVals", "intersect/cntrlpt.h", 7, [](Args& a) { a.Value(FindCntPntsEffectExtentParamVals(a.Rec(0), a.Ints(1), a.Int(2), a.Reals(3), a.Reals(4), a.Reals(5), a.Reals(6))); }},
      {"FindAffectedCntPntsGivenParVal", "intersect/cntrlpt.h", 5, [](Args& a) { a.Value(FindAffectedCntPntsGivenParVal(a.Rec(0), a.Real(1), a.Real(2), a.Ints(3), a.Ints(4))); }},
      {"FindAffectedCntPntsSrfGivenParVal", "intersect/cntrlpt.h", 5, [](Args& a) { a.Value(FindAffectedCntPntsSrfGivenParVal(a.Rec(0), a.Real(1), a.Real(2), a.Ints(3), a.Ints(4))); }},
      {"FindAffectedCntrlPtIndicesPoint", "intersect/cntrlpt.h", 5, [](Args& a) { a.Value(FindAffectedCntrlPtIndicesPoint(a.Rec(0), a.Real(1), a.Real(2), a.Ints(3), a.Ints(4))); }},
      {"FindAffectedCntrlPtIndicesSrf", "intersect/cntrlpt.h", 5, [](Args& a) { a.Value(FindAffectedCntrlPtIndicesSrf(a.Rec(0), a.Real(1), a.Real(2), a.Ints(3), a.Ints(4))); }},
      {"FindAffectedCntrlPtIndicesLineEdit", "intersect/cntrlpt.h", 5, [](Args& a) { a.Value(FindAffectedCntrlPtIndicesLineEdit(a.Rec(0), a.Real(1), a.Ints(2), a.Ints(3), a.Int(4))); }},
      {"GetNewCntrlPtVals", "intersect/cntrlpt.h", 13, [](Args& a) { a.Value(GetNewCntrlPtVals(a.Rec(0), a.Real(1), a.Real(2), a.Ints(3), a.Ints(4), a.Real(5), a.Real(6), a.Real(7), a.Reals(8), a.Reals(9), a.Int(10), a.Int(11), a.Ints(12))); }},
      {"GetNewCntrlPtValsSrf", "intersect/cntrlpt.h", 13, [](Args& a) { a.Value(GetNewCntrlPtValsSrf(a.Rec(0), a.Real(1), a.Real(2), a.Ints(3), a.Ints(4), a.Real(5), a.Real(6), a.Real(7), a.Reals(8), a.Reals(9), a.Int(10), a.Int(11), a.Ints(12))); }},
      {"GetNewCntrlPtValsLineEdit", "intersect/cntrlpt.h", 11, [](Args& a) { a.Value(GetNewCntrlPtValsLineEdit(a.Rec(0), a.Real(1), a.Ints(2), a.Ints(3), a.Ints(4), a.Real(5), a.Real(6), a.Real(7), a.Reals(8), a.Int(9), a.Int(10))); }},
      {"GetNewCntrlPtValsClusterEdit", "intersect/cntrlpt.h", 9, [](Args& a) { a.Value(GetNewCntrlPtValsClusterEdit(a.Rec(0), a.Reals(1), a.Int(2), a.Ints(3), a.Ints(4), a.Ints(5), a.Real(6), a.Real(7), a.Real(8))); }},
      {"FindEditableCntPntsBspline", "intersect/cntrlpt.h", 4, [](Args& a) { a.Pointer(FindEditableCntPntsBspline(a.Rec(0), a.Ints(1), a.Ints(2), a.Ints(3))); }},
      {"GetFixCntrlPtIndicesNonTrim", "intersect/cntrlpt.h", 3, [](Args& a) { a.Pointer(GetFixCntrlPtIndicesNonTrim(a.Rec(0), a.Ints(1), a.Ints(2))); }},
      {"FindEditableRegionsOfBspline", "intersect/cntrlpt.h", 3, [](Args& a) { a.Pointer(FindEditableRegionsOfBspline(a.Rec(0), a.Ints(1), a.Ints(2))); }},
      {"GetFixKnotIndicesNonTrim", "intersect/cntrlpt.h", 3, [](Args& a) { a.Pointer(GetFixKnotIndicesNonTrim(a.Rec(0), a.Ints(1), a.Ints(2))); }},
      {"ComputeCurvature", "intersect/curvatur.h", 5, [](Args& a) { ComputeCurvature(a.Rec(0), a.Reals(1), a.Int(2), a.Int(3), a.Int(4)); a.Done(); }},
      {"ComputeCurvatureGivenArrays", "intersect/curvatur.h", 7, [](Args& a) { ComputeCurvatureGivenArrays(a.Rec(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Int(4), a.Int(5), a.Int(6)); a.Done(); }},
      {"ComputeCurvatureNpntsSurf", "intersect/curvatur.h", 6, [](Args& a) { ComputeCurvatureNpntsSurf(a.Rec(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Int(4), a.Int(5)); a.Done(); }},
      {"ComputePrincipCurvaNPnts", "intersect/curvatur.h", 6, [](Args& a) { a.Value(ComputePrincipCurvaNPnts(a.Rec(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Int(4), a.Int(5))); }},
      {"NewestRefineToFilletPoint", "intersect/filutil.h", 12, [](Args& a) { a.Value(NewestRefineToFilletPoint(a.Rec(0), a.Rec(1), a.Real(2), a.Reals(3), a.Reals(4), a.Reals(5), a.Reals(6), a.Real(7), a.Real(8), a.Real(9), a.Real(10), a.Real(11))); }},
      {"NewRefineToFilletPoint", "intersect/filutil.h", 12, [](Args& a) { a.Value(NewRefineToFilletPoint(a.Rec(0), a.Rec(1), a.Real(2), a.Reals(3), a.Reals(4), a.Reals(5), a.Reals(6), a.Real(7), a.Real(8), a.Real(9), a.Real(10), a.Real(11))); }},
      {"GetRadiusOfCurvatureOfSurfaces", "intersect/filutil.h", 8, [](Args& a) { a.Value(GetRadiusOfCurvatureOfSurfaces(a.Rec(0), a.Rec(1), a.Real(2), a.Real(3), a.Real(4), a.Real(5), a.Reals(6), a.Reals(7))); }},
      {"RefineToExactPoint", "intersect/filutil.h", 8, [](Args& a) { a.Value(RefineToExactPoint(a.Rec(0), a.Rec(1), a.Reals(2), a.Reals(3), a.Real(4), a.Real(5), a.Real(6), a.Int(7))); }},
      {"FindIfInOut", "intersect/filutil.h", 6, [](Args& a) { a.Value(FindIfInOut(a.Rec(0), a.Real(1), a.Rec(2), a.Real(3), a.Rec(4), a.Int(5))); }},
      {"FindShortestDistanceFromTrimCurves", "intersect/filutil.h", 3, [](Args& a) { a.Value(FindShortestDistanceFromTrimCurves(a.Rec(0), a.Real(1), a.Real(2))); }},
      {"IsPointInTrimOrBndry", "intersect/filutil.h", 3, [](Args& a) { a.Value(IsPointInTrimOrBndry(a.Rec(0), a.Real(1), a.Real(2))); }},
      {"ExtendObjectsInAllDir", "intersect/filutil.h", 3, [](Args& a) { a.Value(ExtendObjectsInAllDir(a.Recs(0), a.Real(1), a.Ints(2))); }},
      {"SetOrigNewMinMax", "intersect/filutil.h", 7, [](Args& a) { SetOrigNewMinMax(a.Rec(0), a.Rec(1), a.Rec(2), a.Rec(3), a.Int(4), a.Int(5), a.Reals(6)); a.Done(); }},
      {"PutIfOutToBndry", "intersect/filutil.h", 3, [](Args& a) { PutIfOutToBndry(a.Rec(0), a.Reals(1), a.Reals(2)); a.Done(); }},
      {"PutIfOutToOrigSurfBndry", "intersect/filutil.h", 4, [](Args& a) { PutIfOutToOrigSurfBndry(a.Rec(0), a.Reals(1), a.Reals(2), a.Int(3)); a.Done(); }},
      {"ExtendFilletToBndry", "intersect/filutil.h", 6, [](Args& a) { a.Value(ExtendFilletToBndry(a.Recs(0), a.Ints(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Reals(5))); }},
      {"SplitCurveAtParam", "intersect/filutil.h", 5, [](Args& a) { a.Value(SplitCurveAtParam(a.Rec(0), a.Real(1), a.Real(2), a.Recs(3), a.Recs(4))); }},
      {"GetFilletParamOtherCurve", "intersect/filutil.h", 4, [](Args& a) { GetFilletParamOtherCurve(a.Rec(0), a.Real(1), a.Rec(2), a.Reals(3)); a.Done(); }},
      {"CheckIfFilletCurveSegmentInBounds", "intersect/filutil.h", 1, [](Args& a) { a.Value(CheckIfFilletCurveSegmentInBounds(a.Rec(0))); }},
      {"BoxArrayCount", "intersect/newtrace.h", 2, [](Args& a) { a.Value(BoxArrayCount(a.Rec(0), a.Int(1))); }},
      {"ModifyParamSpaceBasedOnSpans", "intersect/newtrace.h", 1, [](Args& a) { a.Value(ModifyParamSpaceBasedOnSpans(a.Rec(0))); }},
      {"SubDivisionArray", "intersect/newtrace.h", 6, [](Args& a) { a.Value(SubDivisionArray(a.Rec(0), a.Rec(1), a.Matrix(2), a.Matrix(3), a.Matrix(4), a.Matrix(5))); }},
      {"NewSrfSrfStepSize", "intersect/newtrace.h", 17, [](Args& a) { a.Value(NewSrfSrfStepSize(a.Rec(0), a.Rec(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Reals(5), a.Reals(6), a.Reals(7), a.Reals(8), a.Reals(9), a.Int(10), a.Int(11), a.Int(12), a.Int(13), a.Int(14), a.Real(15), a.Real(16))); }},
      {"PullWithParamHeld", "intersect/newtrace.h", 6, [](Args& a) { a.Value(PullWithParamHeld(a.Rec(0), a.Rec(1), a.Reals(2), a.Int(3), a.Reals(4), a.Real(5))); }},
      {"CheckIfBndryReached", "intersect/newtrace.h", 6, [](Args& a) { a.Value(CheckIfBndryReached(a.Rec(0), a.Rec(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Reals(5))); }},
      {"LocateContactInPlane", "intersect/newtrace.h", 7, [](Args& a) { a.Value(LocateContactInPlane(a.Rec(0), a.Rec(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Real(5), a.Reals(6))); }},
      {"MakeTopologyZK", "healing/gstitch.h", 4, [](Args& a) { a.Value(MakeTopologyZK(a.Recs(0), a.Int(1), a.Real(2), a.Real(3))); }},
      {"IsRationalBspline", "healing/gstitch.h", 1, [](Args& a) { a.Value(IsRationalBspline(a.Rec(0))); }},
      {"GlobalStitchSrfTopology", "healing/gstitch.h", 11, [](Args& a) { a.Value(GlobalStitchSrfTopology(a.Int(0), a.Recs(1), a.Int(2), a.Ints(3), a.Int(4), a.Int(5), a.Int(6), a.Real(7), a.Real(8), a.Int(9), a.Int(10))); }},
      {"UpdateSrfBndryCrvGeom", "healing/mshrink.h", 3, [](Args& a) { a.Value(UpdateSrfBndryCrvGeom(a.Rec(0), a.Int(1), a.Rec(2))); }},
      {"CarrySecondRows", "healing/mshrink.h", 4, [](Args& a) { a.Value(CarrySecondRows(a.Rec(0), a.Int(1), a.Int(2), a.Reals(3))); }},
      {"ComputeReshapeCrsBsplConstraint", "healing/mshrink.h", 5, [](Args& a) { a.Value(ComputeReshapeCrsBsplConstraint(a.Rec(0), a.Reals(1), a.Real(2), a.Reals(3), a.Reals(4))); }},
      {"ConvertCrsBspline2CorBspline", "healing/mshrink.h", 4, [](Args& a) { a.Value(ConvertCrsBspline2CorBspline(a.Int(0), a.Rec(1), a.Rec(2), a.Recs(3))); }},
      {"UpdateTwoHealNormalCorBspls", "healing/mshrink.h", 4, [](Args& a) { a.Value(UpdateTwoHealNormalCorBspls(a.Rec(0), a.Rec(1), a.Int(2), a.Int(3))); }},
      {"UpdateSrfWithCorBspl", "healing/mshrink.h", 3, [](Args& a) { a.Value(UpdateSrfWithCorBspl(a.Rec(0), a.Int(1), a.Rec(2))); }},
      {"NormalizeBndrSrfDomain", "healing/srfbndr.h", 1, [](Args& a) { a.Value(NormalizeBndrSrfDomain(a.Rec(0))); }},
      {"IsCrv3Degenerate", "healing/srfbndr.h", 1, [](Args& a) { a.Value(IsCrv3Degenerate(a.Rec(0))); }},
      {"IsCrv3DegenerateAtSize", "healing/srfbndr.h", 2, [](Args& a) { a.Value(IsCrv3DegenerateAtSize(a.Rec(0), a.Real(1))); }},
      {"MakeGSrfBndrStructCore", "healing/srfbndrc.h", 5, [](Args& a) { a.Pointer(MakeGSrfBndrStructCore(a.Recs(0), a.Int(1), a.Real(2), a.Real(3), a.Ints(4))); }},
      {"DuplicateSurfaces", "healing/srfbndrc.h", 6, [](Args& a) { a.Value(DuplicateSurfaces(a.Rec(0), a.Rec(1), a.Matrix(2), a.Matrix(3), a.Matrix(4), a.Real(5))); }},
      {"GetClosestPntInTrim", "healing/srfbndrc.h", 4, [](Args& a) { a.Value(GetClosestPntInTrim(a.Real(0), a.Real(1), a.Rec(2), a.Reals(3))); }},
  };
};
// Not driven (the first parameter type the driver has no argument for):
//   RecordsSound (bspline/bsvalid.h): std::initializer_list<const Bspline*>
//   RecordShapesSound (bspline/bsvalid.h): std::initializer_list<const Bspline*>
//   AppendBsplToList (bspline/crvlist.h): BsplineList**
//   PutCurveListToTwoBspl (bspline/crvlist.h): BsplineList*
//   PutTwoCurveListsToBspl (bspline/crvlist.h): BsplineList*
//   EvalNubValsOnGridM (bspline/ctrlnubs.h): int**
//   EvalPartialBsplineGridIndices (bspline/ctrlnubs.h): SurfEditStruct*
//   EvalPartialBsplineGridIndices_d (bspline/ctrlnubs.h): SurfEditStruct*
//   EvalPartialPlotIndices (bspline/ctrlnubs.h): PlotEditStruct*
//   SpliceIntoTrimLoop (bspline/cutcurves.h): BsplineList*
//   StepOffDegeneratePartials (bspline/helper.h): double d[5]
//   InitKnotInsertion (bspline/kinsert.h): KnotInsertWork**
//   InitKnotInsertionOfSound (bspline/kinsert.h): KnotInsertWork**
//   EndKnotInsertion (bspline/kinsert.h): KnotInsertWork*
//   DistinctInteriorKnots (bspline/knots.h): int**
//   UpdateRemoveInfo (bspline/kremove.h): RemoveInfo*
//   CleanSurfaceToTangentPlaneTol (bspline/kremove.h): void*
//   Eval3DPointOnSurfArrayM (bspline/nubs.h): double out[3]
//   Eval4DPointOnRSurfArrayM (bspline/nubs.h): double out[3]
//   FreeTrimList (bspline/sfree.h): TrimList*
//   FreeTrimCurve (bspline/sfree.h): TrimList*
//   CurveCrossSection (quadric/cpoint.h): const PlaneEq
//   FindIntersectionPoint (quadric/cpoint.h): const PlaneEq
//   CylinderNurbs (quadric/qnurbs.h): const QuadricInfo*
//   ConeNurbs (quadric/qnurbs.h): const QuadricInfo*
//   GetPlaneFromPts (quadric/quadrics.h): const Bbox
//   UnitSizeCopy (quadric/quadrics.h): UnitFrame*
//   QuadricFormFromUnitFrame (quadric/quadrics.h): const UnitFrame&
//   ObjectFromUnitFrame (quadric/quadrics.h): const UnitFrame&
//   FindAllCurve3Intersections (curve/cintsct.h): int**
//   ReplaceCurvesOnSurfaceMultiple (curve/crvbrk.h): BsplineList*
//   RecordCurveBsplineCloudDiff (curve/crverr.h): Cloud*
//   FindCurveBsplineCloudMaxDiff (curve/crverr.h): Cloud*
//   CheckCurveBsplineCloudMaxDiff (curve/crverr.h): Cloud*
//   CurveToCloudDifference (curve/crverr.h): const Xform*
//   CrvIntersect (curve/crvintr.h): CrvIntrList**
//   CheckForSelfIntersectionGivenRadii (curve/crvoffst.h): int**
//   CheckErrorAndRefitCurve (curve/crvproj.h): Cloud*
//   SurfCloudProjectClosestGeometry (curve/crvproj.h): Cloud*
//   SampleTrimCurvePlate (curve/crvutil.h): float**
//   SampleCurveWithAngTol (curve/crvutil.h): float**
//   XformCurve3Bspline (curve/crvutil.h): const Xform
//   ScaleCurveQuadricInfo (curve/crvutil.h): const Xform
//   BsplCrvBestFitPlane (curve/crvutil.h): double axes[3]
//   FindObjectPrincAxis (curve/crvutil.h): double axes[3]
//   CreateIsoPlineArrays (curve/crvutil.h): float**
//   CreateIsoPlineArraysGivenPar (curve/crvutil.h): float**
//   BezierEndSpan (curve/endspan.h): bool*
//   FitCurveWContinuity (curve/fitcurve.h): Cloud**
//   Curve3Approximate (curve/fitcurve.h): double tangent[2]
//   CalculateControlPtsToBeFixed (curve/fitcurve.h): int**
//   InsertContinuityPoints (curve/fitcurve.h): Cloud*
//   RefitCurve3 (curve/fittotol.h): Cloud*
//   OptimalKnotVect (curve/fittotol.h): Cloud*
//   FitToTolerance (curve/fittotol.h): Cloud*
//   FitToToleranceMeasured (curve/fittotol.h): Cloud*
//   CurveBasedFitCurvesToTolerance (curve/fittotol.h): Cloud**
//   TrimLoopPolylines (curve/trimpoly.h): double***
//   PointInTrimPolylines (curve/trimpoly.h): double***
//   SampleTrimPolylines (curve/trimpoly.h): TrimPolylines*
//   ExtensionByTinyBridge (surface/srfextend.h): bool*
//   FindAllTrimBsplIsoIntersects (surface/srfline.h): IsoHit**
//   UpdatePartialToolradValues (surface/srfnorm.h): const PlotEditStruct*
//   UpdatePartialPrincipCurvaValues (surface/srfnorm.h): const PlotEditStruct*
//   UpdatePartialSurfaceNormals (surface/srfnorm.h): const PlotEditStruct*
//   GetLowKnotIndexArray (surface/srfsnip.h): int**
//   BreakCurveAtTanDiscont (surface/srfsnip.h): Bspline***
//   SnipSurfaceBspline (surface/srfsnip.h): SnipSide**
//   SnipNoTrimSurfaceBspline (surface/srfsnip.h): SnipSide**
//   DivideCurveIntoPortions (surface/srfsnip.h): BsplineList**
//   SnipSurfaceIntoTwoParts (surface/srfsnip.h): SnipSide**
//   SplitSurfaceBspline (surface/srfsnip.h): BsplineList**
//   RemoveBsplFromBsplList (surface/srfsnip.h): BsplineList**
//   SnipTrimSurfaceBspline (surface/srfsnip.h): SnipSide**
//   FindCurveIntersectionParams (surface/srfsnip.h): int**
//   GetInOutListForTrimCurves (surface/srfsnip.h): SnipCrossingList*
//   DivideTrimCurvesIntoPortions (surface/srfsnip.h): SnipCrossingList*
//   PlaceOtherCurvesOnSurfaces (surface/srfsnip.h): SnipSide*
//   PlaceOtherTrimCurves (surface/srfsnip.h): SnipSide*
//   GetSurfaceForTheCurve (surface/srfsnip.h): SnipSide*
//   GetCleanKnots (surface/srfutils.h): int**
//   AddOrderedTrimCurve (surface/trimutils.h): TrimList*
//   CreateTrimList (surface/trimutils.h): TrimList*
//   AddCurve2CurveList (surface/trimutils.h): BsplineList*
//   IsPrevOutTrimInvalid (surface/trimutils.h): TrimList**
//   FindTrimCurveDirection (surface/trimutils.h): TrimList*
//   IsPointInTrimArrays (surface/trimutils.h): double***
//   GetAllTrimArrays (surface/trimutils.h): double***
//   ModifyBndryTrimCurveForClosedSurfs (surface/trimutils.h): TrimList*
//   TrimCurveMerge (surface/trimutils.h): TrimList*
//   MakeTrimCurveContinuous (surface/trimutils.h): TrimList*
//   RemoveTrimPiecesToTol (surface/trimutils.h): TrimList*
//   RemoveSelfIntersectionToTol (surface/trimutils.h): TrimList*
//   ConstructTrimCurveList (surface/trimutils.h): BsplineList*
//   ConstructTrimCurveListWithin (surface/trimutils.h): BsplineList*
//   GetAllTrimXYZArrays (surface/trimutils.h): double***
//   MakeBoxSideCurve (surface/trimutils.h): BsplineList**
//   ConstructTrimmedSurfBndryPortionTrim (surface/trimutils.h): BsplineList**
//   GetCrvIntrList (surface/trimutils.h): TArrayList*
//   ShoveIntoTArrayList (surface/trimutils.h): CrvIntrList*
//   ShoveIntoOrderedTArrayList (surface/trimutils.h): BsplineList*
//   CreateSurfPortionWithTrim (surface/trimutils.h): TArrayList*
//   FindIfAnyPortionCurve (surface/trimutils.h): BsplineList*
//   FindAllTrimLoops (surface/trimutils.h): BsplineList**
//   SnipSurfCurvesAtIntersects (surface/trimutils.h): BsplineList**
//   ReplaceCurveWSubs (surface/trimutils.h): BsplineList**
//   IsRemovePiece (surface/trimutils.h): const BsplineList*
//   SurfCloudDeviations (shrinkwrap/clouddev.h): const Cloud*
//   SurfsCloudDeviations (shrinkwrap/clouddev.h): const Xform*
//   SurfsCloudNormals (shrinkwrap/clouddev.h): const Xform*
//   FindCurveSegmentCntrlPnts (shrinkwrap/crvfair.h): int**
//   PreNormalizeSmoothingCurve3 (shrinkwrap/crvfair.h): const Xform
//   UnNormalizeSmoothingCurve3 (shrinkwrap/crvfair.h): const Xform
//   ComputeCurveThinPlateWTensionMatrix (shrinkwrap/crvnet.h): double***
//   SnapTwoCrv3Array (shrinkwrap/crvnet.h): Bspline***
//   CopyCrvBsplArray (shrinkwrap/crvnet.h): Bspline***
//   NewConstrainedShrinkWrapCrv3 (shrinkwrap/cshrink.h): const ShrnkWrapParams*
//   ShrinkWrapCrv3 (shrinkwrap/cshrink.h): const ShrnkWrapParams*
//   SetupShrinkWrapCrv3FunctionalMat (shrinkwrap/cshrink.h): double***
//   ComputeCrv3DiffGramMatrix (shrinkwrap/cshrink.h): double***
//   IsEnoughCrv3KnotForWrapConstraint (shrinkwrap/cshrink.h): const LinearConstraint*
//   InsertWrapConstraintKnotCrv3 (shrinkwrap/cshrink.h): const LinearConstraint*
//   ConstrainedShrinkWrapCrv3NubVals (shrinkwrap/cshrink.h): const ShrnkWrapParams*
//   NewConstrainedShrinkWrapCrv3NubVals (shrinkwrap/cshrink.h): const ShrnkWrapParams*
//   ShrinkWrapCrv3NubVals (shrinkwrap/cshrink.h): int**
//   SetupShrinkWrapCrv3FunctionalMatNubVals (shrinkwrap/cshrink.h): int**
//   ComputeReshapeCrv3ConstraintMat (shrinkwrap/cshrink.h): const LinearConstraint*
//   ComputeReshapeCrv3PosConstraintMat (shrinkwrap/cshrink.h): const LinearConstraint*
//   ComputeReshapeCrv3NormConstraintMat (shrinkwrap/cshrink.h): const LinearConstraint*
//   ThinPlateFitHeights (shrinkwrap/platefit.h): Cloud*
//   ThinPlateScatteredSolve (shrinkwrap/platefit.h): Cloud*
//   BoundaryCurvePointsToHold (shrinkwrap/shrink.h): int**
//   MakeNormalDiffCloud (shrinkwrap/shrink.h): Cloud*
//   MakeNormalDiffCloudNew (shrinkwrap/shrink.h): Cloud*
//   MakeSrfsNormalDiffClouds (shrinkwrap/shrink.h): Cloud*
//   FitWCoefiToCloud (shrinkwrap/shrink.h): Cloud*
//   ShrinkWrapFit (shrinkwrap/shrink.h): Cloud*
//   LocalSrfShrinkWrapFit (shrinkwrap/shrink.h): Cloud*
//   FindSrfFreeCntrlPntsGivenBndry (shrinkwrap/smooth.h): int***
//   ComputeObjCont (stitch/srfcont.h): ObjContInfo*
//   ComputeObjContTrimSurfs (stitch/srfcont.h): ObjContInfo*
//   ComputeObjContTrimSurfs2 (stitch/srfcont.h): ObjContInfo*
//   CurvesUnitFrame (stitch/srfcont.h): UnitFrame*
//   CurvesInUnitFrame (stitch/srfcont.h): const UnitFrame&
//   SurfToCloudDifference (stitch/srferr.h): Cloud*
//   SurfToCloudDifferenceLow (stitch/srferr.h): Cloud*
//   SurfsToCloudDifference (stitch/srferr.h): const Xform*
//   SurfsGetCloudNorms (stitch/srferr.h): const Xform*
//   ReparametrizeSurf (stitch/srfstitc.h): const StitchInfo*
//   KnotInsertForRangeAdjust (stitch/srfstitc.h): const StitchInfo*
//   GetSpreadVals (stitch/srfstitc.h): const StitchInfo*
//   RefineObjStitch (stitch/srfstitc.h): StitchInfo*
//   ExtendEffectOfStitch (stitch/srfstitc.h): const StitchInfo*
//   StitchTwoSurfsPartial (stitch/srfstitc.h): StitchInfo*
//   StitchTwoSurfsBothPartial (stitch/srfstitc.h): StitchInfo*
//   GetClosestCrvAndDirection (stitch/srfstitc.h): double xform[4]
//   RotateCurveByAngle (stitch/srfstitc.h): const double xform[4]
//   BlendTwoObjects (stitch/srfstitc.h): StitchInfo*
//   StitchTwoObjects (stitch/srfstitc.h): StitchInfo*
//   GetCntrlPtsToFix (stitch/userdef.h): int**
//   GetControlPtsForAllCurves (stitch/userdef.h): double corners[]
//   RescaleDerivativeCurves (stitch/userdef.h): double corners[]
//   CreateBlendSurface1 (stitch/userdef.h): Bspline***
//   xy2uv (stitch/userdef.h): Cloud*
//   GetDistinctKnots (stitch/vcnobj.h): int**
//   RefineObjVCn (stitch/vcnobj.h): StitchInfo*
//   acar_spline_fit (splinefit/acareng.h): Cloud*
//   acyl_spline_fit (splinefit/acyleng.h): Cloud*
//   wrap_in_theta_sparse (splinefit/acyleng.h): Cloud*
//   make_arrays_acyl (splinefit/acyleng.h): Cloud*
//   asph_spline_fit (splinefit/aspheng.h): Cloud*
//   equalize_sparse_pole (splinefit/aspheng.h): Cloud*
//   FindThinPlateCoefi (splinefit/aspline.h): Cloud*
//   find_plate_coefi (splinefit/aspline.h): Cloud*
//   EliminInitValofCoefi (splinefit/aspline.h): Cloud*
//   elimin_init_valof_coefi (splinefit/aspline.h): Cloud*
//   SetUpCurveParallelFrame (splinefit/crvframe.h): CurveParallelFrame*
//   MapControlPoints (splinefit/cylfit.h): const Xform
//   CylFitBsplSrfWCurve (splinefit/cylfit.h): Cloud*
//   ConvertToCylCldWithCurve (splinefit/cylfit.h): Cloud*
//   ScaleCylCloudWithCurve (splinefit/cylfit.h): Cloud*
//   ConvertNonCarSplineToCarSpline (splinefit/fitsplin.h): Cloud*
//   gcar_spline_fit (splinefit/gcareng.h): Cloud*
//   bspline2ppolyCurve (splinefit/sconvert.h): PpolyCurve*
//   bsurf2ppoly (splinefit/sconvert.h): PpolySurface*
//   FitSurface3DGridData (splinefit/sconvert.h): const GridFitParams*
//   CurvatureAtGridPoint (splinefit/sconvert.h): CurvatureNeighbourFn
//   ConvertBspline (splinefit/sconvert.h): const GridFitParams*
//   ConvertBsplineWUniformKnots (splinefit/sconvert.h): const GridFitParams*
//   ConvertBsplineSurfaceBased (splinefit/sconvert.h): const GridFitParams*
//   ConvertBsplineWUniformKnotsInRealSpace (splinefit/sconvert.h): const GridFitParams*
//   ApproximateBspline (splinefit/sconvert.h): const GridFitParams*
//   ApproximateBsplineSurf (splinefit/sconvert.h): const GridFitParams*
//   ProjectNonTrimCurvesOnSurfClosest (splinefit/sconvert.h): const BsplineList*
//   ProjectTrimCurvesOnSurfClosest (splinefit/sconvert.h): const TrimList*
//   ReparametrizeBspline (splinefit/sconvert.h): const GridFitParams*
//   BenchBsplEval (splinefit/splutil.h): double***
//   FillNSidedHoleInit (construct/srfblend.h): Bspline***
//   GetAllBlendCurves (construct/srfblend.h): Bspline***
//   CreateVirtualSurfs (construct/srfblend.h): Bspline***
//   GetNewBndryArrays (construct/srfblend.h): Bspline***
//   Get3LoftSurfAroundCap (construct/srfblend.h): Bspline***
//   GetMidLoftSurf (construct/srfblend.h): Bspline***
//   NonFeatureMatchedLoft (construct/srfloft.h): void*
//   FeatureMatchedLoft (construct/srfloft.h): void*
//   Find3DCoonsPatchFrom2Curve2s (construct/srfmerge.h): double***
//   FindCoonsInfoFrom2Curve2s (construct/srfmerge.h): double***
//   ConeOffset (construct/srfoffst.h): QuadricInfo*
//   SetupUpdateEditStructCPT (intersect/cntrlpt.h): UpdateEditStruct**
//   ComputeDeviationOfBsplineCPT (intersect/cntrlpt.h): const UpdateEditStruct*
//   SetupEvalPartialGridCntPnt (intersect/cntrlpt.h): SurfEditStruct**
//   Eval3DGridNubVals (intersect/cntrlpt.h): int**
//   GetFixCntrlPtIndicesTrimCurve (intersect/cntrlpt.h): BsplineList*
//   GetFixKnotIndicesTrimCurve (intersect/cntrlpt.h): BsplineList*
//   UpdatePartialCurvatureValues (intersect/curvatur.h): const PlotEditStruct*
//   UpdatePartialCurvatureNeedles (intersect/curvatur.h): const PlotEditStruct*
//   SetRadiusArray (intersect/filutil.h): IntersectionTrace*
//   NewFilletTrace (intersect/filutil.h): IntersectionTrace*
//   CloseFilletIfClosed (intersect/filutil.h): IntersectionTrace*
//   SnipIntersectionForVarRadius (intersect/filutil.h): IntersectionTrace*
//   ExtrapolateIntersectionPt (intersect/filutil.h): IntersectionTraceNode*
//   CreateIntersectionCurves (intersect/filutil.h): IntersectionTrace*
//   CreateBndryCurve (intersect/filutil.h): BsplineList**
//   GetFilletCrvIntrList (intersect/filutil.h): TArrayList**
//   InsertIntoTArrayList (intersect/filutil.h): CrvIntrList*
//   IsPointInTrimOrBndryArrays (intersect/filutil.h): double***
//   ScaleCurveToOrigSurf (intersect/filutil.h): IntersectionTrace*
//   SnipCurveToBnd (intersect/filutil.h): IntersectionTrace*
//   CheckCrvDir (intersect/filutil.h): IntersectionTraceNode*
//   TrimOrigSurfaces (intersect/filutil.h): BsplineList*
//   GetFilletSurfaces (intersect/filutil.h): TArrayList*
//   FindIfAnyFilletCurve (intersect/filutil.h): TArrayList*
//   CreateFilletsWithTrim (intersect/filutil.h): TArrayList*
//   SubDivideBasedOnArray (intersect/newintr.h): PatchBoxNode*
//   NewIntersect (intersect/newintr.h): IntersectionTraceList*
//   CreateSrfSrfIntersectionCurves (intersect/newintr.h): BsplineList**
//   NewRefineIntrPoint (intersect/newtrace.h): const IntersectionTraceNode*
//   ChkCrvTouchAnotherCrv (intersect/newtrace.h): const IntersectionTraceList*
//   NewIntersectTrace (intersect/newtrace.h): int**
//   TraceTangentialContact (intersect/newtrace.h): IntersectionTraceList*
//   ContinueAcrossSeams (intersect/newtrace.h): int**
//   GetIntersectionsOfTrimmedSurface (intersect/newtrace.h): BsplineList**
//   GetInterCrvIntrList (intersect/newtrace.h): TArrayList**
//   InsertIntoInterArrayList (intersect/newtrace.h): CrvIntrList*
//   GetInterCurves (intersect/newtrace.h): TArrayList*
//   HealTopologyZK (healing/gstitch.h): int**
//   MeasureGroupAsHeldZK (healing/gstitch.h): int**
//   SetupStitchSrfsTopology (healing/gstitch.h): BndrStruct**
//   StitchSrfsWithGivenTopology (healing/gstitch.h): BndrStruct*
//   MultiSrfsShrinkWrapGeom (healing/gstitch.h): Cloud*
//   ShrinkWrapFitSkinSrfs (healing/gstitch.h): BndrStruct*
//   ReduceWrapConstraint (healing/mshrink.h): LinearConstraint*
//   KeepCreaseSideNormals (healing/mshrink.h): BndrStruct*
//   KeepCreaseSideNormalsNearCorners (healing/mshrink.h): BndrStruct*
//   KeepSharedRowCreaseAngle (healing/mshrink.h): BndrStruct*
//   KeepSplitRowCreaseAngle (healing/mshrink.h): BndrStruct*
//   KeepClosedSplitRowCreaseAngle (healing/mshrink.h): BndrStruct*
//   KeepJitterCreaseFromRising (healing/mshrink.h): BndrStruct*
//   KeepCornerSharedFolds (healing/mshrink.h): BndrStruct*
//   GetBndrCrvHealedNormalsCorBspl (healing/mshrink.h): BndrStruct*
//   GetBndrCrvCrsDerivBspline (healing/mshrink.h): const CrvInfoStruct*
//   ConstrainedWrapCrossDerivBspline (healing/mshrink.h): const ShrnkWrapParams*
//   MakeGSrfSurfsCore (healing/srfbndrc.h): Gsrf*
//   FindRedundantSurfaces (healing/srfbndrc.h): const double boxes[]
//   HarmonizeSrfNormals (healing/srfnorm.h): Bspline***
//   GetFlippedSurfaces (healing/srfnorm.h): Gsrf*
//   TrimCloudWithCurve (mesh/cldtrim.h): Cloud*
//   SubdivideLoopPolys (mesh/cldtrim.h): Cloud*
//   GetClosestCurvePoint (mesh/cldtrim.h): CurveSampleCache*
