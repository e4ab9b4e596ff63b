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
#include "bspline/kremove_internal.h"
#include "bspline/measure.h"
#include "bspline/nubinner.h"
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
#include "cloud/cldpoly.h"
#include "cloud/makecld.h"
#include "cloud/pchord.h"
#include "cloud/pcopy.h"
#include "cloud/pgauss.h"
#include "cloud/pmedian.h"
#include "cloud/pnterr.h"
#include "cloud/poffset.h"
#include "cloud/premove.h"
#include "cloud/princip.h"
#include "cloud/psample.h"
#include "cloud/psort.h"
#include "cloud/psubdiv.h"
#include "cloud/putil.h"
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
#include "curve/cintrplt.h"
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
#include "curve/fittotol.h"
#include "curve/mkline3.h"
#include "curve/planefit.h"
#include "curve/pntintrp.h"
#include "curve/premove.h"
#include "curve/psort.h"
#include "curve/quadrics.h"
#include "curve/trimpoly.h"
#include "foundation/algebra.h"
#include "foundation/angle.h"
#include "foundation/bandsolve.h"
#include "foundation/convert.h"
#include "foundation/dispmat.h"
#include "foundation/eigen.h"
#include "foundation/geo2.h"
#include "foundation/geometry.h"
#include "foundation/integral.h"
#include "foundation/makemat.h"
#include "foundation/mathmat.h"
#include "foundation/mathutil.h"
#include "foundation/minmax.h"
#include "foundation/solvmat.h"
#include "foundation/sort.h"
#include "foundation/unitfrm.h"
#include "foundation/vec3.h"
#include "healing/gstitch.h"
#include "healing/mshrink.h"
#include "healing/srfbndr.h"
#include "healing/srfbndrc.h"
#include "intersect/cntrlpt.h"
#include "intersect/curvatur.h"
#include "intersect/filutil.h"
#include "intersect/newintr.h"
#include "intersect/newtrace.h"
#include "intersect/newtrace_internal.h"
#include "mesh/cldpoly.h"
#include "mesh/cldtrim.h"
#include "mesh/pgr2cld.h"
#include "mesh/pharm.h"
#include "mesh/poffset.h"
#include "mesh/putil.h"
#include "mesh/rpmclose.h"
#include "mesh/trianum.h"
#include "quadric/cone.h"
#include "quadric/cpoint.h"
#include "quadric/cylinder.h"
#include "quadric/mrqmin.h"
#include "quadric/pinspect.h"
#include "quadric/planefit.h"
#include "quadric/premove.h"
#include "quadric/qarc.h"
#include "quadric/qcircle.h"
#include "quadric/qnlfit.h"
#include "quadric/qnurbs.h"
#include "quadric/qrevolve.h"
#include "quadric/quadrics.h"
#include "quadric/sphere.h"
#include "registration/confreg.h"
#include "registration/cpsr.h"
#include "registration/icp.h"
#include "registration/kdtree.h"
#include "registration/mmcalc.h"
#include "registration/qternion.h"
#include "registration/register.h"
#include "registration/stepreg.h"
#include "shrinkwrap/clouddev.h"
#include "shrinkwrap/crvfair.h"
#include "shrinkwrap/crvnet.h"
#include "shrinkwrap/cshrink.h"
#include "shrinkwrap/csmooth.h"
#include "shrinkwrap/gridintp.h"
#include "shrinkwrap/platefit.h"
#include "shrinkwrap/shrink.h"
#include "shrinkwrap/smooth.h"
#include "splinefit/acareng.h"
#include "splinefit/acyleng.h"
#include "splinefit/aspheng.h"
#include "splinefit/aspline.h"
#include "splinefit/crvframe.h"
#include "splinefit/curve.h"
#include "splinefit/cylfit.h"
#include "splinefit/fitsplin.h"
#include "splinefit/gcareng.h"
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
      {"StepOffDegeneratePartials", "bspline/helper.h", 4, [](Args& a) { a.Value(StepOffDegeneratePartials(a.Rec(0), a.Reals(1), a.Reals(2), a.Triples(3))); }},
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
      {"SpreadOverfullKnotRuns", "bspline/knots.h", 2, [](Args& a) { SpreadOverfullKnotRuns(a.Rec(0), a.Int(1)); a.Done(); }},
      {"ObjectGrevilleParams", "bspline/knots.h", 2, [](Args& a) { a.Pointer(ObjectGrevilleParams(a.Rec(0), a.Int(1))); }},
      {"BoundaryParam", "bspline/knots.h", 2, [](Args& a) { a.Value(BoundaryParam(a.Rec(0), a.Int(1))); }},
      {"RemoveKnotsOfObjSet", "bspline/kremove.h", 9, [](Args& a) { a.Value(RemoveKnotsOfObjSet(a.Recs(0), a.Int(1), a.Int(2), a.Int(3), a.Reals(4), a.Int(5), a.Int(6), a.Real(7), a.Reals(8))); }},
      {"RemoveNKnotsOfObj", "bspline/kremove.h", 5, [](Args& a) { a.Value(RemoveNKnotsOfObj(a.Rec(0), a.Int(1), a.Reals(2), a.Int(3), a.Reals(4))); }},
      {"RemoveAMaximalKnotSetOfObjSet", "bspline/kremove.h", 9, [](Args& a) { a.Value(RemoveAMaximalKnotSetOfObjSet(a.Recs(0), a.Int(1), a.Int(2), a.Reals(3), a.Int(4), a.Int(5), a.Int(6), a.Real(7), a.Reals(8))); }},
      {"RemoveSpecifiedKnotOfObject", "bspline/kremove.h", 4, [](Args& a) { a.Value(RemoveSpecifiedKnotOfObject(a.Rec(0), a.Real(1), a.Int(2), a.Reals(3))); }},
      {"PutCloseKnotsToMultKnots", "bspline/kremove.h", 5, [](Args& a) { a.Value(PutCloseKnotsToMultKnots(a.Rec(0), a.Int(1), a.Real(2), a.Ints(3), a.Ints(4))); }},
      {"KnotMergeMove", "bspline/kremove_internal.h", 4, [](Args& a) { a.Value(KnotMergeMove(a.Rec(0), a.Int(1), a.Real(2), a.Reals(3))); }},
      {"KnotVectorChangeMove", "bspline/kremove_internal.h", 4, [](Args& a) { a.Value(KnotVectorChangeMove(a.Rec(0), a.Int(1), a.Reals(2), a.Reals(3))); }},
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
      {"Eval3DPointOnSurfArrayM", "bspline/nubs.h", 5, [](Args& a) { Eval3DPointOnSurfArrayM(a.Rec(0), a.Real(1), a.Real(2), a.Ints(3), a.Triples(4)); a.Done(); }},
      {"Eval4DPointOnRSurfArrayM", "bspline/nubs.h", 6, [](Args& a) { Eval4DPointOnRSurfArrayM(a.Rec(0), a.Real(1), a.Real(2), a.Ints(3), a.Int(4), a.Triples(5)); a.Done(); }},
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
      {"SurfaceSideCollapsed", "bspline/refines2.h", 3, [](Args& a) { a.Value(SurfaceSideCollapsed(a.Rec(0), a.Int(1), a.Int(2))); }},
      {"SurfaceBesidePole", "bspline/refines2.h", 3, [](Args& a) { a.Value(SurfaceBesidePole(a.Rec(0), a.Real(1), a.Real(2))); }},
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
      {"SwapKnotsAndNet", "bspline/srfclone.h", 2, [](Args& a) { SwapKnotsAndNet(a.Rec(0), a.Rec(1)); a.Done(); }},
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
      {"CurvesMeetAt", "curve/cintsct.h", 4, [](Args& a) { a.Value(CurvesMeetAt(a.Rec(0), a.Real(1), a.Rec(2), a.Real(3))); }},
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
      {"RecordCurveBsplineCloudDiff", "curve/crverr.h", 4, [](Args& a) { a.Value(RecordCurveBsplineCloudDiff(a.Rec(0), a.Cld(1), a.Reals(2), a.Reals(3))); }},
      {"FindCurveBsplineCloudMaxDiff", "curve/crverr.h", 5, [](Args& a) { a.Value(FindCurveBsplineCloudMaxDiff(a.Rec(0), a.Cld(1), a.Reals(2), a.Reals(3), a.Ints(4))); }},
      {"CheckCurveBsplineCloudMaxDiff", "curve/crverr.h", 8, [](Args& a) { a.Value(CheckCurveBsplineCloudMaxDiff(a.Rec(0), a.Cld(1), a.Int(2), a.Real(3), a.Real(4), a.Reals(5), a.Reals(6), a.Ints(7))); }},
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
      {"CheckErrorAndRefitCurve", "curve/crvproj.h", 10, [](Args& a) { a.Made(CheckErrorAndRefitCurve(a.Rec(0), a.Cld(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Reals(5), a.Reals(6), a.Reals(7), a.Int(8), a.Real(9))); }},
      {"Blend2Curve2s", "curve/crvproj.h", 2, [](Args& a) { a.Made(Blend2Curve2s(a.Rec(0), a.Rec(1))); }},
      {"IsChangedBoundary", "curve/crvproj.h", 4, [](Args& a) { a.Value(IsChangedBoundary(a.Rec(0), a.Real(1), a.Real(2), a.Int(3))); }},
      {"SurfCloudProjectClosestGeometry", "curve/crvproj.h", 4, [](Args& a) { a.Pointer(SurfCloudProjectClosestGeometry(a.Rec(0), a.Cld(1), a.Int(2), a.Int(3))); }},
      {"SampleCurvePlateProper", "curve/crvutil.h", 3, [](Args& a) { a.Pointer(SampleCurvePlateProper(a.Rec(0), a.Int(1), a.Ints(2))); }},
      {"ComputeCrvParamArraysForEval", "curve/crvutil.h", 5, [](Args& a) { ComputeCrvParamArraysForEval(a.Rec(0), a.Int(1), a.Int(2), a.Reals(3), a.Int(4)); a.Done(); }},
      {"SampleTrimCurvePlate", "curve/crvutil.h", 5, [](Args& a) { a.Value(SampleTrimCurvePlate(a.Rec(0), a.Int(1), a.FloatMatrix(2), a.FloatMatrix(3), a.FloatMatrix(4))); }},
      {"SampleCurveWithAngTol", "curve/crvutil.h", 5, [](Args& a) { a.Value(SampleCurveWithAngTol(a.Rec(0), a.Real(1), a.FloatMatrix(2), a.FloatMatrix(3), a.FloatMatrix(4))); }},
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
      {"BsplCrvBestFitPlane", "curve/crvutil.h", 4, [](Args& a) { a.Value(BsplCrvBestFitPlane(a.Rec(0), a.Triples(1), a.Reals(2), a.Reals(3))); }},
      {"FindObjectPrincAxis", "curve/crvutil.h", 8, [](Args& a) { a.Value(FindObjectPrincAxis(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3), a.Rec(4), a.Triples(5), a.Reals(6), a.Reals(7))); }},
      {"FindCurve2IsoParamIntersections", "curve/crvutil.h", 5, [](Args& a) { a.Value(FindCurve2IsoParamIntersections(a.Rec(0), a.Int(1), a.Real(2), a.Reals(3), a.Ints(4))); }},
      {"CreateIsoPlineArrays", "curve/crvutil.h", 6, [](Args& a) { a.Value(CreateIsoPlineArrays(a.Rec(0), a.Real(1), a.Int(2), a.FloatMatrix(3), a.FloatMatrix(4), a.FloatMatrix(5))); }},
      {"CreateIsoPlineArraysGivenPar", "curve/crvutil.h", 8, [](Args& a) { a.Value(CreateIsoPlineArraysGivenPar(a.Rec(0), a.Real(1), a.Int(2), a.Real(3), a.Real(4), a.FloatMatrix(5), a.FloatMatrix(6), a.FloatMatrix(7))); }},
      {"DirectionAcrossEdge", "curve/endspan.h", 2, [](Args& a) { a.Value(DirectionAcrossEdge(a.Rec(0), a.Int(1))); }},
      {"InsertEndSpanKnots", "curve/endspan.h", 3, [](Args& a) { a.Value(InsertEndSpanKnots(a.Rec(0), a.Int(1), a.Int(2))); }},
      {"EdgeReflectionCurve", "curve/endspan.h", 3, [](Args& a) { a.Made(EdgeReflectionCurve(a.Rec(0), a.Int(1), a.Reals(2))); }},
      {"assign_uniform_curve_knots3", "curve/fitcurve.h", 4, [](Args& a) { assign_uniform_curve_knots3(a.Rec(0), a.Int(1), a.Reals(2), a.Reals(3)); a.Done(); }},
      {"FindAllCurveCoefi3", "curve/fitcurve.h", 12, [](Args& a) { a.Value(FindAllCurveCoefi3(a.Rec(0), a.Reals(1), a.Floats(2), a.Floats(3), a.Floats(4), a.Int(5), a.Triples(6), a.Ints(7), a.Int(8), a.Real(9), a.Real(10), a.Real(11))); }},
      {"Curve3LeastSqFit", "curve/fitcurve.h", 9, [](Args& a) { a.Value(Curve3LeastSqFit(a.Rec(0), a.Reals(1), a.Floats(2), a.Floats(3), a.Floats(4), a.Int(5), a.Triples(6), a.Ints(7), a.Int(8))); }},
      {"PointCurve3Diff", "curve/fitcurve.h", 7, [](Args& a) { a.Value(PointCurve3Diff(a.Rec(0), a.Reals(1), a.Floats(2), a.Floats(3), a.Floats(4), a.Int(5), a.Reals(6))); }},
      {"CloseCurve", "curve/fitcurve.h", 2, [](Args& a) { a.Value(CloseCurve(a.Rec(0), a.Int(1))); }},
      {"Curve3Approximate", "curve/fitcurve.h", 16, [](Args& a) { a.Value(Curve3Approximate(a.Floats(0), a.Floats(1), a.Floats(2), a.Reals(3), a.Int(4), a.Rec(5), a.Int(6), a.Ints(7), a.Recs(8), a.Reals(9), a.Reals(10), a.Triples(11), a.Real(12), a.Real(13), a.Real(14), a.Real(15))); }},
      {"InsertContinuityPoints", "curve/fitcurve.h", 4, [](Args& a) { a.Pointer(InsertContinuityPoints(a.Cld(0), a.Ints(1), a.Reals(2), a.Recs(3))); }},
      {"Get2SpanCurve3ForCurve2", "curve/fitcurve.h", 2, [](Args& a) { a.Made(Get2SpanCurve3ForCurve2(a.Rec(0), a.Int(1))); }},
      {"RefitCurve3", "curve/fittotol.h", 13, [](Args& a) { a.Value(RefitCurve3(a.Cld(0), a.Rec(1), a.Reals(2), a.Int(3), a.Real(4), a.Int(5), a.Reals(6), a.Reals(7), a.Int(8), a.Int(9), a.Real(10), a.Real(11), a.Real(12))); }},
      {"OptimalKnotVect", "curve/fittotol.h", 16, [](Args& a) { a.Made(OptimalKnotVect(a.Cld(0), a.Rec(1), a.Real(2), a.Reals(3), a.Int(4), a.Int(5), a.Real(6), a.Real(7), a.Int(8), a.Int(9), a.Real(10), a.Real(11), a.Real(12), a.Int(13), a.Real(14), a.Real(15))); }},
      {"FitToTolerance", "curve/fittotol.h", 12, [](Args& a) { a.Made(FitToTolerance(a.Cld(0), a.Rec(1), a.Real(2), a.Real(3), a.Int(4), a.Int(5), a.Real(6), a.Real(7), a.Real(8), a.Ints(9), a.Int(10), a.Real(11))); }},
      {"FitToToleranceMeasured", "curve/fittotol.h", 11, [](Args& a) { a.Made(FitToToleranceMeasured(a.Cld(0), a.Rec(1), a.Real(2), a.Real(3), a.Int(4), a.Int(5), a.Ints(6), a.Int(7), a.Real(8), a.Reals(9), a.Int(10))); }},
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
      {"ThinPlateFitHeights", "shrinkwrap/platefit.h", 5, [](Args& a) { a.Value(ThinPlateFitHeights(a.Rec(0), a.Cld(1), a.Reals(2), a.Ints(3), a.Int(4))); }},
      {"ThinPlateScatteredSolve", "shrinkwrap/platefit.h", 13, [](Args& a) { a.Value(ThinPlateScatteredSolve(a.Rec(0), a.Cld(1), a.Int(2), a.Int(3), a.Reals(4), a.Real(5), a.Real(6), a.Real(7), a.Real(8), a.Reals(9), a.Reals(10), a.Ints(11), a.Int(12))); }},
      {"ThinPlateGriddedSolve", "shrinkwrap/platefit.h", 15, [](Args& a) { a.Value(ThinPlateGriddedSolve(a.Rec(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Int(4), a.Int(5), a.Real(6), a.Real(7), a.Reals(8), a.Real(9), a.Real(10), a.Reals(11), a.Reals(12), a.Ints(13), a.Int(14))); }},
      {"ThinPlateStiffness", "shrinkwrap/platefit.h", 2, [](Args& a) { a.Pointer(ThinPlateStiffness(a.Rec(0), a.Reals(1))); }},
      {"SnapInsertOneKnotToObject", "shrinkwrap/shrink.h", 4, [](Args& a) { a.Value(SnapInsertOneKnotToObject(a.Rec(0), a.Int(1), a.Reals(2), a.Ints(3))); }},
      {"InsertKnotsUniformlyWithinInterval", "shrinkwrap/shrink.h", 5, [](Args& a) { a.Value(InsertKnotsUniformlyWithinInterval(a.Rec(0), a.Int(1), a.Real(2), a.Real(3), a.Int(4))); }},
      {"LocalUnfrmInsertSrfKnots", "shrinkwrap/shrink.h", 8, [](Args& a) { a.Value(LocalUnfrmInsertSrfKnots(a.Rec(0), a.Real(1), a.Real(2), a.Real(3), a.Real(4), a.Int(5), a.Int(6), a.Recs(7))); }},
      {"ComputeNumSrfShrinkWrapNeededKnots", "shrinkwrap/shrink.h", 4, [](Args& a) { a.Value(ComputeNumSrfShrinkWrapNeededKnots(a.Rec(0), a.Ints(1), a.Ints(2), a.Ints(3))); }},
      {"InsertSurfShrinkWrapKnots", "shrinkwrap/shrink.h", 2, [](Args& a) { a.Value(InsertSurfShrinkWrapKnots(a.Rec(0), a.Ints(1))); }},
      {"GetFreeCntrlPntsInParamBox", "shrinkwrap/shrink.h", 10, [](Args& a) { a.Value(GetFreeCntrlPntsInParamBox(a.Rec(0), a.Real(1), a.Real(2), a.Real(3), a.Real(4), a.Ints(5), a.Ints(6), a.Ints(7), a.Ints(8), a.Ints(9))); }},
      {"DropShrinkWrapForms", "shrinkwrap/shrink.h", 1, [](Args& a) { DropShrinkWrapForms(a.Rec(0)); a.Done(); }},
      {"MakeNormalDiffCloud", "shrinkwrap/shrink.h", 5, [](Args& a) { a.Pointer(MakeNormalDiffCloud(a.Rec(0), a.Cld(1), a.Matrix(2), a.Matrix(3), a.Matrix(4))); }},
      {"MakeNormalDiffCloudNew", "shrinkwrap/shrink.h", 2, [](Args& a) { a.Pointer(MakeNormalDiffCloudNew(a.Rec(0), a.Cld(1))); }},
      {"FitWCoefiToCloud", "shrinkwrap/shrink.h", 3, [](Args& a) { a.Value(FitWCoefiToCloud(a.Rec(0), a.Cld(1), a.Ints(2))); }},
      {"MakeShrinkWrapSurf", "shrinkwrap/shrink.h", 6, [](Args& a) { a.Made(MakeShrinkWrapSurf(a.Rec(0), a.Rec(1), a.Real(2), a.Real(3), a.Real(4), a.Ints(5))); }},
      {"ShrinkWrapSurfCoefi", "shrinkwrap/shrink.h", 3, [](Args& a) { a.Made(ShrinkWrapSurfCoefi(a.Rec(0), a.Matrix(1), a.Ints(2))); }},
      {"ShrinkWrapFit", "shrinkwrap/shrink.h", 8, [](Args& a) { a.Value(ShrinkWrapFit(a.Rec(0), a.Cld(1), a.Ints(2), a.Int(3), a.Real(4), a.Real(5), a.Real(6), a.Recs(7))); }},
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
      {"SurfToCloudDifference", "stitch/srferr.h", 20, [](Args& a) { a.Value(SurfToCloudDifference(a.Rec(0), a.Cld(1), a.Int(2), a.Real(3), a.Real(4), a.Real(5), a.Ints(6), a.Floats(7), a.Floats(8), a.Floats(9), a.Ints(10), a.Floats(11), a.Floats(12), a.Floats(13), a.Floats(14), a.Floats(15), a.Floats(16), a.Floats(17), a.Floats(18), a.Floats(19))); }},
      {"SurfToCloudDifferenceLow", "stitch/srferr.h", 21, [](Args& a) { a.Value(SurfToCloudDifferenceLow(a.Rec(0), a.Cld(1), a.Int(2), a.Real(3), a.Real(4), a.Real(5), a.Int(6), a.Ints(7), a.Floats(8), a.Floats(9), a.Floats(10), a.Ints(11), a.Floats(12), a.Floats(13), a.Floats(14), a.Floats(15), a.Floats(16), a.Floats(17), a.Floats(18), a.Floats(19), a.Floats(20))); }},
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
      {"xy2uv", "stitch/userdef.h", 3, [](Args& a) { a.Value(xy2uv(a.Rec(0), a.Cld(1), a.Reals(2))); }},
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
      {"acar_spline_fit", "splinefit/acareng.h", 8, [](Args& a) { acar_spline_fit(a.Rec(0), a.Reals(1), a.Ints(2), a.Int(3), a.Cld(4), a.Real(5), a.Real(6), a.Real(7)); a.Done(); }},
      {"acyl_spline_fit", "splinefit/acyleng.h", 5, [](Args& a) { acyl_spline_fit(a.Rec(0), a.Cld(1), a.Real(2), a.Real(3), a.Real(4)); a.Done(); }},
      {"wrap_in_theta_sparse", "splinefit/acyleng.h", 5, [](Args& a) { wrap_in_theta_sparse(a.Rec(0), a.Cld(1), a.Real(2), a.Real(3), a.Real(4)); a.Done(); }},
      {"make_arrays_acyl", "splinefit/acyleng.h", 7, [](Args& a) { make_arrays_acyl(a.Floats(0), a.Floats(1), a.Floats(2), a.Ints(3), a.Rec(4), a.Cld(5), a.Reals(6)); a.Done(); }},
      {"assign_acyl_knots", "splinefit/acyleng.h", 6, [](Args& a) { assign_acyl_knots(a.Rec(0), a.Real(1), a.Real(2), a.Real(3), a.Real(4), a.Reals(5)); a.Done(); }},
      {"asph_spline_fit", "splinefit/aspheng.h", 5, [](Args& a) { asph_spline_fit(a.Rec(0), a.Cld(1), a.Real(2), a.Real(3), a.Real(4)); a.Done(); }},
      {"equalize_sparse_pole", "splinefit/aspheng.h", 4, [](Args& a) { equalize_sparse_pole(a.Int(0), a.Int(1), a.Rec(2), a.Cld(3)); a.Done(); }},
      {"FindThinPlateCoefi", "splinefit/aspline.h", 5, [](Args& a) { a.Value(FindThinPlateCoefi(a.Rec(0), a.Cld(1), a.Reals(2), a.Ints(3), a.Int(4))); }},
      {"find_plate_coefi", "splinefit/aspline.h", 6, [](Args& a) { a.Value(find_plate_coefi(a.Rec(0), a.Cld(1), a.Reals(2), a.Ints(3), a.Int(4), a.Int(5))); }},
      {"EliminInitValofCoefi", "splinefit/aspline.h", 13, [](Args& a) { a.Value(EliminInitValofCoefi(a.Rec(0), a.Cld(1), a.Int(2), a.Int(3), a.Reals(4), a.Real(5), a.Real(6), a.Real(7), a.Real(8), a.Reals(9), a.Reals(10), a.Ints(11), a.Int(12))); }},
      {"elimin_init_valof_coefi", "splinefit/aspline.h", 13, [](Args& a) { a.Value(elimin_init_valof_coefi(a.Rec(0), a.Cld(1), a.Int(2), a.Int(3), a.Reals(4), a.Real(5), a.Real(6), a.Real(7), a.Real(8), a.Reals(9), a.Reals(10), a.Ints(11), a.Int(12))); }},
      {"FitGriddedDataThinPlateBspline", "splinefit/aspline.h", 15, [](Args& a) { a.Value(FitGriddedDataThinPlateBspline(a.Rec(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Int(4), a.Int(5), a.Real(6), a.Real(7), a.Reals(8), a.Real(9), a.Real(10), a.Reals(11), a.Reals(12), a.Ints(13), a.Int(14))); }},
      {"SurfStiffMatrix", "splinefit/aspline.h", 2, [](Args& a) { a.Pointer(SurfStiffMatrix(a.Rec(0), a.Reals(1))); }},
      {"interpolate_coefi", "splinefit/aspline.h", 5, [](Args& a) { interpolate_coefi(a.Int(0), a.Int(1), a.Reals(2), a.Reals(3), a.Rec(4)); a.Done(); }},
      {"ScaleCylCloudWithCurve", "splinefit/cylfit.h", 6, [](Args& a) { a.Value(ScaleCylCloudWithCurve(a.Cld(0), a.Rec(1), a.Real(2), a.Reals(3), a.Reals(4), a.Reals(5))); }},
      {"ConvertNonCarSplineToCarSpline", "splinefit/fitsplin.h", 3, [](Args& a) { a.Made(ConvertNonCarSplineToCarSpline(a.Rec(0), a.Cld(1), a.Int(2))); }},
      {"gcar_spline_fit", "splinefit/gcareng.h", 2, [](Args& a) { gcar_spline_fit(a.Rec(0), a.Cld(1)); a.Done(); }},
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
      {"LocateTouchingPoint", "intersect/newtrace.h", 6, [](Args& a) { a.Value(LocateTouchingPoint(a.Rec(0), a.Rec(1), a.Reals(2), a.Real(3), a.Reals(4), a.Real(5))); }},
      {"SurfaceJet", "intersect/newtrace_internal.h", 4, [](Args& a) { a.Value(SurfaceJet(a.Rec(0), a.Real(1), a.Real(2), a.Triples(3))); }},
      {"OnSurfaceCrease", "intersect/newtrace_internal.h", 4, [](Args& a) { a.Value(OnSurfaceCrease(a.Rec(0), a.Real(1), a.Real(2), a.Int(3))); }},
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

// Every public function taking no B-spline record but a cloud, a mesh or an array of numbers,
// the same way, with a bit set in inputs for each parameter that is a cloud or an array the
// function only reads (declared const), and in counted for those of them whose length the
// caller gives (a cloud, a pointer, an array without its extent; not `const double a[3]`).
template <class Args>
struct PointEntryTableOf {
  struct Row {
    const char* name;
    const char* header;
    int params;
    unsigned inputs;
    unsigned counted;
    void (*call)(Args&);
  };
  static constexpr Row rows[] = {
      {"SolveLin2", "foundation/algebra.h", 8, 0x0, 0x0, [](Args& a) { a.Value(SolveLin2(a.Real(0), a.Real(1), a.Real(2), a.Real(3), a.Real(4), a.Real(5), a.Reals(6), a.Reals(7))); }},
      {"SolveLin3", "foundation/algebra.h", 15, 0x0, 0x0, [](Args& a) { a.Value(SolveLin3(a.Real(0), a.Real(1), a.Real(2), a.Real(3), a.Real(4), a.Real(5), a.Real(6), a.Real(7), a.Real(8), a.Real(9), a.Real(10), a.Real(11), a.Reals(12), a.Reals(13), a.Reals(14))); }},
      {"Poly1Interpolate", "foundation/algebra.h", 6, 0x0, 0x0, [](Args& a) { a.Value(Poly1Interpolate(a.Real(0), a.Real(1), a.Real(2), a.Real(3), a.Real(4), a.Reals(5))); }},
      {"Poly2Interpolate", "foundation/algebra.h", 8, 0x0, 0x0, [](Args& a) { a.Value(Poly2Interpolate(a.Real(0), a.Real(1), a.Real(2), a.Real(3), a.Real(4), a.Real(5), a.Real(6), a.Reals(7))); }},
      {"LineLineAngle", "foundation/angle.h", 4, 0xf, 0x0, [](Args& a) { a.Value(LineLineAngle(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3))); }},
      {"SolveSymBandSystem", "foundation/bandsolve.h", 5, 0x0, 0x0, [](Args& a) { a.Value(SolveSymBandSystem(a.Matrix(0), a.Int(1), a.Int(2), a.Matrix(3), a.Int(4))); }},
      {"theta_h_to_xyz", "foundation/convert.h", 6, 0x0, 0x0, [](Args& a) { theta_h_to_xyz(a.Real(0), a.Real(1), a.Real(2), a.Reals(3), a.Reals(4), a.Reals(5)); a.Done(); }},
      {"xyz_to_theta_h", "foundation/convert.h", 6, 0x0, 0x0, [](Args& a) { xyz_to_theta_h(a.Real(0), a.Real(1), a.Real(2), a.Reals(3), a.Reals(4), a.Reals(5)); a.Done(); }},
      {"theta_phi_to_xyz", "foundation/convert.h", 6, 0x0, 0x0, [](Args& a) { theta_phi_to_xyz(a.Real(0), a.Real(1), a.Real(2), a.Reals(3), a.Reals(4), a.Reals(5)); a.Done(); }},
      {"xyz_to_theta_phi", "foundation/convert.h", 6, 0x0, 0x0, [](Args& a) { xyz_to_theta_phi(a.Real(0), a.Real(1), a.Real(2), a.Reals(3), a.Reals(4), a.Reals(5)); a.Done(); }},
      {"put_object_to_world", "foundation/convert.h", 6, 0x0, 0x0, [](Args& a) { put_object_to_world(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3), a.Int(4), a.Int(5)); a.Done(); }},
      {"TransformArraysToXYZSpace", "foundation/convert.h", 6, 0x20, 0x20, [](Args& a) { TransformArraysToXYZSpace(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3), a.Int(4), a.Cld(5)); a.Done(); }},
      {"CopyMatrixToArray", "foundation/dispmat.h", 6, 0x0, 0x0, [](Args& a) { CopyMatrixToArray(a.Matrix(0), a.Int(1), a.Int(2), a.Int(3), a.Int(4), a.Reals(5)); a.Done(); }},
      {"cp_vec_to_matrix_fh_fh", "foundation/dispmat.h", 4, 0x1, 0x1, [](Args& a) { cp_vec_to_matrix_fh_fh(a.Reals(0), a.Matrix(1), a.Int(2), a.Int(3)); a.Done(); }},
      {"IsLastColZeros_f", "foundation/dispmat.h", 3, 0x0, 0x0, [](Args& a) { a.Value(IsLastColZeros_f(a.Matrix(0), a.Int(1), a.Int(2))); }},
      {"IsLastColZeros_h", "foundation/dispmat.h", 3, 0x0, 0x0, [](Args& a) { a.Value(IsLastColZeros_h(a.Matrix(0), a.Int(1), a.Int(2))); }},
      {"FlipMatrix", "foundation/dispmat.h", 4, 0x0, 0x0, [](Args& a) { FlipMatrix(a.Reals(0), a.Int(1), a.Int(2), a.Int(3)); a.Done(); }},
      {"FillMatFromSubMat", "foundation/dispmat.h", 6, 0x2, 0x2, [](Args& a) { FillMatFromSubMat(a.Reals(0), a.Reals(1), a.Int(2), a.Int(3), a.Int(4), a.Int(5)); a.Done(); }},
      {"FillSubMatFromMat", "foundation/dispmat.h", 7, 0x1, 0x1, [](Args& a) { FillSubMatFromMat(a.Reals(0), a.Reals(1), a.Int(2), a.Int(3), a.Int(4), a.Int(5), a.Int(6)); a.Done(); }},
      {"SetValsOfMatCol", "foundation/dispmat.h", 12, 0xd, 0xd, [](Args& a) { SetValsOfMatCol(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Int(4), a.Int(5), a.Int(6), a.Int(7), a.Int(8), a.Int(9), a.Int(10), a.Int(11)); a.Done(); }},
      {"Copy3DPointsToPolylineGrid", "foundation/dispmat.h", 8, 0x7, 0x7, [](Args& a) { Copy3DPointsToPolylineGrid(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Reals(5), a.Int(6), a.Int(7)); a.Done(); }},
      {"Compute3DArrayMinsMaxs_f", "foundation/dispmat.h", 10, 0x1c0, 0x1c0, [](Args& a) { Compute3DArrayMinsMaxs_f(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Reals(5), a.Floats(6), a.Floats(7), a.Floats(8), a.Int(9)); a.Done(); }},
      {"eigensystem", "foundation/eigen.h", 3, 0x0, 0x0, [](Args& a) { a.Value(eigensystem(a.Matrix(0), a.Int(1), a.Reals(2))); }},
      {"eigensystem3", "foundation/eigen.h", 2, 0x0, 0x0, [](Args& a) { eigensystem3(a.Triples(0), a.Reals(1)); a.Done(); }},
      {"tred2", "foundation/eigen.h", 4, 0x0, 0x0, [](Args& a) { tred2(a.Matrix(0), a.Int(1), a.Reals(2), a.Reals(3)); a.Done(); }},
      {"tqli", "foundation/eigen.h", 4, 0x0, 0x0, [](Args& a) { tqli(a.Reals(0), a.Reals(1), a.Int(2), a.Matrix(3)); a.Done(); }},
      {"eigsrt", "foundation/eigen.h", 3, 0x0, 0x0, [](Args& a) { eigsrt(a.Reals(0), a.Matrix(1), a.Int(2)); a.Done(); }},
      {"SymEigen3Smallest", "foundation/eigen.h", 3, 0x1, 0x0, [](Args& a) { a.Value(SymEigen3Smallest(a.Triples(0), a.Reals(1), a.Reals(2))); }},
      {"LineSegPntMinDistSq", "foundation/geo2.h", 6, 0x7, 0x0, [](Args& a) { a.Value(LineSegPntMinDistSq(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Reals(5))); }},
      {"LineSegPnt2DMinDistSq", "foundation/geo2.h", 6, 0x7, 0x0, [](Args& a) { a.Value(LineSegPnt2DMinDistSq(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Reals(5))); }},
      {"TriangPntMinDistSq", "foundation/geo2.h", 8, 0xf, 0x0, [](Args& a) { a.Value(TriangPntMinDistSq(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Reals(5), a.Reals(6), a.Reals(7))); }},
      {"PlaneMinDistSq", "foundation/geo2.h", 7, 0x1, 0x0, [](Args& a) { PlaneMinDistSq(a.Reals(0), a.Real(1), a.Real(2), a.Real(3), a.Real(4), a.Reals(5), a.Reals(6)); a.Done(); }},
      {"LinePointMinDistSq", "foundation/geo2.h", 4, 0x7, 0x0, [](Args& a) { a.Value(LinePointMinDistSq(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3))); }},
      {"LineSegsMinDistsq", "foundation/geo2.h", 7, 0xf, 0x0, [](Args& a) { a.Value(LineSegsMinDistsq(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Reals(5), a.Reals(6))); }},
      {"LinesMinDist", "foundation/geo2.h", 7, 0xf, 0x0, [](Args& a) { a.Value(LinesMinDist(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Reals(5), a.Reals(6))); }},
      {"DistanceBetweenPoints", "foundation/geo2.h", 3, 0x3, 0x0, [](Args& a) { a.Pointer(DistanceBetweenPoints(a.Reals(0), a.Reals(1), a.Reals(2))); }},
      {"AreaOfTriangle", "foundation/geo2.h", 3, 0x7, 0x0, [](Args& a) { a.Value(AreaOfTriangle(a.Reals(0), a.Reals(1), a.Reals(2))); }},
      {"SameSide2D", "foundation/geo2.h", 4, 0xf, 0x0, [](Args& a) { a.Value(SameSide2D(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3))); }},
      {"IsPointInTriangle2D", "foundation/geo2.h", 4, 0xf, 0x0, [](Args& a) { a.Value(IsPointInTriangle2D(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3))); }},
      {"IsPointInTriangle2Dw", "foundation/geo2.h", 6, 0xf, 0x0, [](Args& a) { a.Value(IsPointInTriangle2Dw(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Reals(5))); }},
      {"IsPointInLine", "foundation/geo2.h", 4, 0xf, 0x0, [](Args& a) { a.Value(IsPointInLine(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3))); }},
      {"IsLinear", "foundation/geo2.h", 4, 0x7, 0x7, [](Args& a) { a.Value(IsLinear(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3))); }},
      {"GrahamConvexHull", "foundation/geo2.h", 3, 0x3, 0x3, [](Args& a) { a.Pointer(GrahamConvexHull(a.Floats(0), a.Floats(1), a.Int(2))); }},
      {"ThetaOrder", "foundation/geo2.h", 2, 0x3, 0x0, [](Args& a) { a.Value(ThetaOrder(a.Reals(0), a.Reals(1))); }},
      {"FindCircle3Pts", "foundation/geo2.h", 4, 0x7, 0x0, [](Args& a) { a.Value(FindCircle3Pts(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3))); }},
      {"Get2DCircle", "foundation/geo2.h", 9, 0x0, 0x0, [](Args& a) { a.Value(Get2DCircle(a.Real(0), a.Real(1), a.Real(2), a.Real(3), a.Real(4), a.Real(5), a.Reals(6), a.Reals(7), a.Reals(8))); }},
      {"FitSphereFourPts", "foundation/geo2.h", 6, 0xf, 0x0, [](Args& a) { a.Value(FitSphereFourPts(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Reals(5))); }},
      {"FitSphere3PtsAndRadius", "foundation/geo2.h", 6, 0x7, 0x0, [](Args& a) { a.Value(FitSphere3PtsAndRadius(a.Reals(0), a.Reals(1), a.Reals(2), a.Real(3), a.Reals(4), a.Reals(5))); }},
      {"CircleFitThroughPnt", "foundation/geo2.h", 10, 0x1d, 0x1c, [](Args& a) { a.Value(CircleFitThroughPnt(a.Reals(0), a.Int(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Reals(5), a.Reals(6), a.Reals(7), a.Reals(8), a.Reals(9))); }},
      {"GetSymetryDir", "foundation/geo2.h", 3, 0x3, 0x0, [](Args& a) { a.Pointer(GetSymetryDir(a.Reals(0), a.Reals(1), a.Reals(2))); }},
      {"SolveQuadratic", "foundation/geo2.h", 5, 0x0, 0x0, [](Args& a) { SolveQuadratic(a.Real(0), a.Real(1), a.Real(2), a.Reals(3), a.Reals(4)); a.Done(); }},
      {"LineSegPntMinDist", "foundation/geometry.h", 5, 0x7, 0x0, [](Args& a) { a.Value(LineSegPntMinDist(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Reals(4))); }},
      {"LinePntMinDist", "foundation/geometry.h", 5, 0x7, 0x0, [](Args& a) { LinePntMinDist(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Reals(4)); a.Done(); }},
      {"LinePntMinDistSq", "foundation/geometry.h", 5, 0x7, 0x0, [](Args& a) { LinePntMinDistSq(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Reals(4)); a.Done(); }},
      {"LineSegPntMinSqDistParam", "foundation/geometry.h", 6, 0x7, 0x0, [](Args& a) { a.Value(LineSegPntMinSqDistParam(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Reals(5))); }},
      {"ScreenLineSeg2DPntMinSqDist", "foundation/geometry.h", 7, 0x0, 0x0, [](Args& a) { a.Value(ScreenLineSeg2DPntMinSqDist(a.Int(0), a.Int(1), a.Int(2), a.Int(3), a.Int(4), a.Int(5), a.Reals(6))); }},
      {"TriangPntMinDist", "foundation/geometry.h", 6, 0xf, 0x0, [](Args& a) { a.Value(TriangPntMinDist(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Reals(5))); }},
      {"PlaneMinDist", "foundation/geometry.h", 7, 0x1, 0x0, [](Args& a) { PlaneMinDist(a.Reals(0), a.Real(1), a.Real(2), a.Real(3), a.Real(4), a.Reals(5), a.Reals(6)); a.Done(); }},
      {"Plane3PntsMinDist", "foundation/geometry.h", 6, 0xf, 0x0, [](Args& a) { a.Value(Plane3PntsMinDist(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Reals(5))); }},
      {"PlaneFitClearNormal", "foundation/geometry.h", 5, 0x7, 0x7, [](Args& a) { a.Value(PlaneFitClearNormal(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Reals(4))); }},
      {"IntersectRange", "foundation/geometry.h", 8, 0x0, 0x0, [](Args& a) { a.Value(IntersectRange(a.Real(0), a.Real(1), a.Real(2), a.Real(3), a.Ints(4), a.Ints(5), a.Reals(6), a.Reals(7))); }},
      {"IntersectLineTriangle", "foundation/geometry.h", 7, 0x1f, 0x0, [](Args& a) { a.Value(IntersectLineTriangle(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Reals(5), a.Reals(6))); }},
      {"IntersectLineTriangleTol", "foundation/geometry.h", 8, 0x1f, 0x0, [](Args& a) { a.Value(IntersectLineTriangleTol(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Reals(5), a.Reals(6), a.Real(7))); }},
      {"Intersect2DSegments", "foundation/geometry.h", 10, 0x0, 0x0, [](Args& a) { a.Value(Intersect2DSegments(a.Real(0), a.Real(1), a.Real(2), a.Real(3), a.Real(4), a.Real(5), a.Real(6), a.Real(7), a.Reals(8), a.Reals(9))); }},
      {"IsClosedPoints2DIntersect", "foundation/geometry.h", 5, 0x0, 0x0, [](Args& a) { a.Value(IsClosedPoints2DIntersect(a.Reals(0), a.Reals(1), a.Int(2), a.Ints(3), a.Ints(4))); }},
      {"FindAngleVectors3", "foundation/geometry.h", 2, 0x3, 0x0, [](Args& a) { a.Value(FindAngleVectors3(a.Reals(0), a.Reals(1))); }},
      {"LinePlaneNormalAngle", "foundation/geometry.h", 2, 0x3, 0x0, [](Args& a) { a.Value(LinePlaneNormalAngle(a.Reals(0), a.Reals(1))); }},
      {"LineLineMinDist", "foundation/geometry.h", 5, 0x3, 0x0, [](Args& a) { a.Value(LineLineMinDist(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Reals(4))); }},
      {"ComputeGaussLegendreCoefi", "foundation/integral.h", 5, 0x0, 0x0, [](Args& a) { a.Value(ComputeGaussLegendreCoefi(a.Real(0), a.Real(1), a.Int(2), a.Reals(3), a.Reals(4))); }},
      {"matrix_free_ff", "foundation/makemat.h", 1, 0x0, 0x0, [](Args& a) { a.Value(matrix_free_ff(a.Matrix(0))); }},
      {"matrix_free_fh", "foundation/makemat.h", 1, 0x0, 0x0, [](Args& a) { a.Value(matrix_free_fh(a.Matrix(0))); }},
      {"NormalizeVector", "foundation/mathmat.h", 3, 0x0, 0x0, [](Args& a) { a.Value(NormalizeVector(a.Reals(0), a.Int(1), a.Real(2))); }},
      {"VectorMagnitude", "foundation/mathmat.h", 2, 0x1, 0x1, [](Args& a) { a.Value(VectorMagnitude(a.Reals(0), a.Int(1))); }},
      {"VectorDotProduct", "foundation/mathmat.h", 3, 0x3, 0x3, [](Args& a) { a.Value(VectorDotProduct(a.Reals(0), a.Reals(1), a.Int(2))); }},
      {"VectorScalerProduct", "foundation/mathmat.h", 3, 0x0, 0x0, [](Args& a) { VectorScalerProduct(a.Reals(0), a.Real(1), a.Int(2)); a.Done(); }},
      {"VectorVectorProduct", "foundation/mathmat.h", 3, 0x2, 0x2, [](Args& a) { VectorVectorProduct(a.Reals(0), a.Reals(1), a.Int(2)); a.Done(); }},
      {"VectorVectorProduct2", "foundation/mathmat.h", 4, 0x3, 0x3, [](Args& a) { VectorVectorProduct2(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3)); a.Done(); }},
      {"VectorVectorDivision", "foundation/mathmat.h", 3, 0x2, 0x2, [](Args& a) { VectorVectorDivision(a.Reals(0), a.Reals(1), a.Int(2)); a.Done(); }},
      {"VectorVectorDivision_f", "foundation/mathmat.h", 3, 0x2, 0x2, [](Args& a) { VectorVectorDivision_f(a.Floats(0), a.Floats(1), a.Int(2)); a.Done(); }},
      {"VectorVectorSubtrct", "foundation/mathmat.h", 3, 0x2, 0x2, [](Args& a) { VectorVectorSubtrct(a.Reals(0), a.Reals(1), a.Int(2)); a.Done(); }},
      {"VectorVectorAdd", "foundation/mathmat.h", 3, 0x2, 0x2, [](Args& a) { VectorVectorAdd(a.Reals(0), a.Reals(1), a.Int(2)); a.Done(); }},
      {"VectorSubtraction", "foundation/mathmat.h", 4, 0x3, 0x3, [](Args& a) { VectorSubtraction(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3)); a.Done(); }},
      {"NegateVector", "foundation/mathmat.h", 3, 0x1, 0x1, [](Args& a) { NegateVector(a.Reals(0), a.Reals(1), a.Int(2)); a.Done(); }},
      {"IsEqualVectors", "foundation/mathmat.h", 4, 0x3, 0x3, [](Args& a) { a.Value(IsEqualVectors(a.Reals(0), a.Reals(1), a.Int(2), a.Real(3))); }},
      {"VectorScalerSubtraction", "foundation/mathmat.h", 4, 0x0, 0x0, [](Args& a) { VectorScalerSubtraction(a.Reals(0), a.Real(1), a.Int(2), a.Int(3)); a.Done(); }},
      {"ScaleAndTransVector", "foundation/mathmat.h", 4, 0x0, 0x0, [](Args& a) { ScaleAndTransVector(a.Reals(0), a.Int(1), a.Real(2), a.Real(3)); a.Done(); }},
      {"TransVector", "foundation/mathmat.h", 3, 0x0, 0x0, [](Args& a) { TransVector(a.Reals(0), a.Int(1), a.Real(2)); a.Done(); }},
      {"Fill1DArray_fh", "foundation/mathmat.h", 3, 0x0, 0x0, [](Args& a) { Fill1DArray_fh(a.Reals(0), a.Int(1), a.Real(2)); a.Done(); }},
      {"PutVectorToZero", "foundation/mathmat.h", 2, 0x0, 0x0, [](Args& a) { a.Value(PutVectorToZero(a.Reals(0), a.Int(1))); }},
      {"FindMultOfValInArray", "foundation/mathmat.h", 7, 0x1, 0x1, [](Args& a) { a.Value(FindMultOfValInArray(a.Reals(0), a.Int(1), a.Real(2), a.Int(3), a.Int(4), a.Int(5), a.Real(6))); }},
      {"transpose_matrix_ff", "foundation/mathmat.h", 4, 0x0, 0x0, [](Args& a) { transpose_matrix_ff(a.Matrix(0), a.Matrix(1), a.Int(2), a.Int(3)); a.Done(); }},
      {"transpose_matrix_fh", "foundation/mathmat.h", 6, 0x0, 0x0, [](Args& a) { transpose_matrix_fh(a.Matrix(0), a.Matrix(1), a.Int(2), a.Int(3), a.Int(4), a.Int(5)); a.Done(); }},
      {"multiply_matrices_ff_ff_ff", "foundation/mathmat.h", 7, 0x0, 0x0, [](Args& a) { multiply_matrices_ff_ff_ff(a.Matrix(0), a.Matrix(1), a.Matrix(2), a.Int(3), a.Int(4), a.Int(5), a.Int(6)); a.Done(); }},
      {"multiply_matrices_fh_fh_ff", "foundation/mathmat.h", 9, 0x0, 0x0, [](Args& a) { multiply_matrices_fh_fh_ff(a.Matrix(0), a.Matrix(1), a.Matrix(2), a.Int(3), a.Int(4), a.Int(5), a.Int(6), a.Int(7), a.Int(8)); a.Done(); }},
      {"multiply_matrix_vector_ff_ff_ff", "foundation/mathmat.h", 6, 0x2, 0x2, [](Args& a) { multiply_matrix_vector_ff_ff_ff(a.Matrix(0), a.Reals(1), a.Reals(2), a.Int(3), a.Int(4), a.Int(5)); a.Done(); }},
      {"multiply_matrix_vector_fh_fh_ff", "foundation/mathmat.h", 6, 0x2, 0x2, [](Args& a) { multiply_matrix_vector_fh_fh_ff(a.Matrix(0), a.Reals(1), a.Reals(2), a.Int(3), a.Int(4), a.Int(5)); a.Done(); }},
      {"MatrixMatrixDotProduct", "foundation/mathmat.h", 4, 0x0, 0x0, [](Args& a) { MatrixMatrixDotProduct(a.Matrix(0), a.Matrix(1), a.Int(2), a.Int(3)); a.Done(); }},
      {"ConvertMatToFixPts_h", "foundation/mathmat.h", 7, 0x8, 0x8, [](Args& a) { a.Value(ConvertMatToFixPts_h(a.Matrix(0), a.Int(1), a.Ints(2), a.Reals(3), a.Int(4), a.Int(5), a.Reals(6))); }},
      {"ConvertMatToFixPtsCurve", "foundation/mathmat.h", 9, 0x4, 0x4, [](Args& a) { a.Value(ConvertMatToFixPtsCurve(a.Matrix(0), a.Ints(1), a.Reals(2), a.Int(3), a.Int(4), a.Int(5), a.Reals(6), a.Reals(7), a.Reals(8))); }},
      {"GetBinomialCoeficient", "foundation/mathutil.h", 3, 0x0, 0x0, [](Args& a) { a.Value(GetBinomialCoeficient(a.Int(0), a.Int(1), a.Reals(2))); }},
      {"PntToPntDist", "foundation/mathutil.h", 2, 0x3, 0x0, [](Args& a) { a.Value(PntToPntDist(a.Reals(0), a.Reals(1))); }},
      {"ComputeVarianceSum", "foundation/mathutil.h", 2, 0x1, 0x1, [](Args& a) { a.Value(ComputeVarianceSum(a.Floats(0), a.Int(1))); }},
      {"GetMinMaxF", "foundation/minmax.h", 4, 0x1, 0x1, [](Args& a) { GetMinMaxF(a.Floats(0), a.Int(1), a.Reals(2), a.Reals(3)); a.Done(); }},
      {"GetMinMaxD", "foundation/minmax.h", 4, 0x1, 0x1, [](Args& a) { GetMinMaxD(a.Reals(0), a.Int(1), a.Reals(2), a.Reals(3)); a.Done(); }},
      {"GetCloudMinMax", "foundation/minmax.h", 7, 0x1, 0x1, [](Args& a) { GetCloudMinMax(a.Cld(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Reals(5), a.Reals(6)); a.Done(); }},
      {"GrowBoxForOverlap", "foundation/minmax.h", 2, 0x0, 0x0, [](Args& a) { GrowBoxForOverlap(a.Reals(0), a.Real(1)); a.Done(); }},
      {"ludcmp_ff", "foundation/solvmat.h", 4, 0x0, 0x0, [](Args& a) { a.Value(ludcmp_ff(a.Matrix(0), a.Int(1), a.Ints(2), a.Reals(3))); }},
      {"lubksb_ff", "foundation/solvmat.h", 4, 0x4, 0x4, [](Args& a) { lubksb_ff(a.Matrix(0), a.Int(1), a.Ints(2), a.Reals(3)); a.Done(); }},
      {"inverse_matrix_ff", "foundation/solvmat.h", 3, 0x0, 0x0, [](Args& a) { a.Value(inverse_matrix_ff(a.Matrix(0), a.Matrix(1), a.Int(2))); }},
      {"inverse_matrix3", "foundation/solvmat.h", 2, 0x0, 0x0, [](Args& a) { a.Value(inverse_matrix3(a.Triples(0), a.Triples(1))); }},
      {"SolveLinearSystem_ff", "foundation/solvmat.h", 4, 0x4, 0x4, [](Args& a) { a.Value(SolveLinearSystem_ff(a.Matrix(0), a.Int(1), a.Reals(2), a.Reals(3))); }},
      {"ludcmp4", "foundation/solvmat.h", 4, 0x0, 0x0, [](Args& a) { a.Value(ludcmp4(a.Reals(0), a.Int(1), a.Ints(2), a.Reals(3))); }},
      {"lubksb4", "foundation/solvmat.h", 4, 0x5, 0x5, [](Args& a) { lubksb4(a.Reals(0), a.Int(1), a.Ints(2), a.Reals(3)); a.Done(); }},
      {"mat_inverse4", "foundation/solvmat.h", 2, 0x1, 0x1, [](Args& a) { a.Value(mat_inverse4(a.Reals(0), a.Reals(1))); }},
      {"HeapSort", "foundation/sort.h", 2, 0x0, 0x0, [](Args& a) { HeapSort(a.Int(0), a.Reals(1)); a.Done(); }},
      {"HeapSort3", "foundation/sort.h", 4, 0x0, 0x0, [](Args& a) { HeapSort3(a.Int(0), a.Reals(1), a.Reals(2), a.Reals(3)); a.Done(); }},
      {"HeapSort2FloatInt4", "foundation/sort.h", 3, 0x0, 0x0, [](Args& a) { HeapSort2FloatInt4(a.Int(0), a.Reals(1), a.Ints(2)); a.Done(); }},
      {"HeapSortFloatInt", "foundation/sort.h", 3, 0x0, 0x0, [](Args& a) { HeapSortFloatInt(a.Int(0), a.Floats(1), a.Ints(2)); a.Done(); }},
      {"HeapSortInt3F", "foundation/sort.h", 5, 0x0, 0x0, [](Args& a) { HeapSortInt3F(a.Int(0), a.Ints(1), a.Floats(2), a.Floats(3), a.Floats(4)); a.Done(); }},
      {"HeapSortByDirectionIndices_Float", "foundation/sort.h", 6, 0x20, 0x0, [](Args& a) { HeapSortByDirectionIndices_Float(a.Int(0), a.Floats(1), a.Floats(2), a.Floats(3), a.Ints(4), a.Reals(5)); a.Done(); }},
      {"SortXYZIndex_f", "foundation/sort.h", 5, 0x0, 0x0, [](Args& a) { SortXYZIndex_f(a.Floats(0), a.Floats(1), a.Floats(2), a.Ints(3), a.Int(4)); a.Done(); }},
      {"HeapSortWithIndexing", "foundation/sort.h", 3, 0x2, 0x2, [](Args& a) { HeapSortWithIndexing(a.Int(0), a.Reals(1), a.Ints(2)); a.Done(); }},
      {"quicksort", "foundation/sort.h", 3, 0x0, 0x0, [](Args& a) { quicksort(a.Reals(0), a.Int(1), a.Int(2)); a.Done(); }},
      {"FindClosestInTwoArraysRestrict", "foundation/sort.h", 12, 0x1bf, 0x1bf, [](Args& a) { FindClosestInTwoArraysRestrict(a.Floats(0), a.Floats(1), a.Floats(2), a.Floats(3), a.Floats(4), a.Floats(5), a.Int(6), a.Ints(7), a.Ints(8), a.Int(9), a.Ints(10), a.Ints(11)); a.Done(); }},
      {"GetMinDistBetweenPointsIn2Arrays", "foundation/sort.h", 8, 0x3f, 0x3f, [](Args& a) { a.Value(GetMinDistBetweenPointsIn2Arrays(a.Floats(0), a.Floats(1), a.Floats(2), a.Floats(3), a.Floats(4), a.Floats(5), a.Int(6), a.Int(7))); }},
      {"UnitFrameOfPoints", "foundation/unitfrm.h", 5, 0x7, 0x7, [](Args& a) { a.Value(UnitFrameOfPoints(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3), a.Int(4))); }},
      {"UnitFrameOfPointsF", "foundation/unitfrm.h", 5, 0x7, 0x7, [](Args& a) { a.Value(UnitFrameOfPointsF(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Int(4))); }},
      {"VecCrossProd3", "foundation/vec3.h", 3, 0x3, 0x0, [](Args& a) { a.Pointer(VecCrossProd3(a.Reals(0), a.Reals(1), a.Reals(2))); }},
      {"cross_product", "foundation/vec3.h", 3, 0x3, 0x0, [](Args& a) { cross_product(a.Reals(0), a.Reals(1), a.Reals(2)); a.Done(); }},
      {"VectorCrossProduct", "foundation/vec3.h", 3, 0x3, 0x0, [](Args& a) { VectorCrossProduct(a.Reals(0), a.Reals(1), a.Reals(2)); a.Done(); }},
      {"VecSize3", "foundation/vec3.h", 1, 0x1, 0x0, [](Args& a) { a.Value(VecSize3(a.Reals(0))); }},
      {"VecDist3", "foundation/vec3.h", 2, 0x3, 0x0, [](Args& a) { a.Value(VecDist3(a.Reals(0), a.Reals(1))); }},
      {"VecDiff3", "foundation/vec3.h", 3, 0x3, 0x0, [](Args& a) { a.Pointer(VecDiff3(a.Reals(0), a.Reals(1), a.Reals(2))); }},
      {"VecNormalize3", "foundation/vec3.h", 2, 0x1, 0x0, [](Args& a) { a.Pointer(VecNormalize3(a.Reals(0), a.Reals(1))); }},
      {"VecPseudoNormalize3", "foundation/vec3.h", 2, 0x1, 0x0, [](Args& a) { a.Value(VecPseudoNormalize3(a.Reals(0), a.Reals(1))); }},
      {"VecReduceSmallToZero3", "foundation/vec3.h", 1, 0x0, 0x0, [](Args& a) { VecReduceSmallToZero3(a.Reals(0)); a.Done(); }},
      {"UnitDirReduceSmallToZero3", "foundation/vec3.h", 1, 0x0, 0x0, [](Args& a) { a.Value(UnitDirReduceSmallToZero3(a.Reals(0))); }},
      {"isZeroVector3d", "foundation/vec3.h", 2, 0x1, 0x0, [](Args& a) { a.Value(isZeroVector3d(a.Reals(0), a.Real(1))); }},
      {"CoordToDCoord", "foundation/vec3.h", 2, 0x1, 0x0, [](Args& a) { CoordToDCoord(a.Floats(0), a.Reals(1)); a.Done(); }},
      {"DCoordToCoord", "foundation/vec3.h", 2, 0x1, 0x0, [](Args& a) { DCoordToCoord(a.Reals(0), a.Floats(1)); a.Done(); }},
      {"CopyFloatToDoubleMatrix", "foundation/vec3.h", 2, 0x1, 0x0, [](Args& a) { CopyFloatToDoubleMatrix(a.Floats(0), a.Reals(1)); a.Done(); }},
      {"CopyDoubleToFloatMatrix", "foundation/vec3.h", 2, 0x1, 0x0, [](Args& a) { CopyDoubleToFloatMatrix(a.Reals(0), a.Floats(1)); a.Done(); }},
      {"LinInterpolate3", "foundation/vec3.h", 5, 0x3, 0x0, [](Args& a) { a.Pointer(LinInterpolate3(a.Reals(0), a.Reals(1), a.Real(2), a.Int(3), a.Reals(4))); }},
      {"VecPlaneProject3", "foundation/vec3.h", 3, 0x3, 0x0, [](Args& a) { a.Value(VecPlaneProject3(a.Reals(0), a.Reals(1), a.Reals(2))); }},
      {"ArraysNormalize3_f", "foundation/vec3.h", 4, 0x0, 0x0, [](Args& a) { ArraysNormalize3_f(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3)); a.Done(); }},
      {"AxisMirror3Darrays", "foundation/vec3.h", 6, 0x30, 0x0, [](Args& a) { AxisMirror3Darrays(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3), a.Reals(4), a.Reals(5)); a.Done(); }},
      {"AxisMirror3Darrays_F", "foundation/vec3.h", 6, 0x30, 0x0, [](Args& a) { AxisMirror3Darrays_F(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Reals(4), a.Reals(5)); a.Done(); }},
      {"VecAxisMirror3", "foundation/vec3.h", 4, 0x7, 0x0, [](Args& a) { a.Pointer(VecAxisMirror3(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3))); }},
      {"PerpVecs", "foundation/vec3.h", 3, 0x1, 0x0, [](Args& a) { a.Value(PerpVecs(a.Reals(0), a.Reals(1), a.Reals(2))); }},
      {"Vec3To3Vecs", "foundation/vec3.h", 4, 0x1, 0x0, [](Args& a) { a.Value(Vec3To3Vecs(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3))); }},
      {"KnotVectorSound", "bspline/bsvalid.h", 3, 0x1, 0x1, [](Args& a) { a.Value(KnotVectorSound(a.Reals(0), a.Int(1), a.Int(2))); }},
      {"copy_array2polyline", "bspline/cclone.h", 7, 0x7, 0x7, [](Args& a) { copy_array2polyline(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Floats(4), a.Floats(5), a.Floats(6)); a.Done(); }},
      {"reverse_array", "bspline/creverse.h", 2, 0x0, 0x0, [](Args& a) { reverse_array(a.Floats(0), a.Int(1)); a.Done(); }},
      {"ComputeNubValDerivativesM", "bspline/ctrlnubs.h", 8, 0x11, 0x11, [](Args& a) { a.Value(ComputeNubValDerivativesM(a.Reals(0), a.Real(1), a.Int(2), a.Int(3), a.Ints(4), a.Int(5), a.Ints(6), a.Reals(7))); }},
      {"DomainEdgePiece", "bspline/cutcurves.h", 6, 0x20, 0x0, [](Args& a) { a.Made(DomainEdgePiece(a.Real(0), a.Real(1), a.Real(2), a.Real(3), a.Int(4), a.Reals(5))); }},
      {"AddUniqueKnotsToArray", "bspline/degelev.h", 3, 0x1, 0x1, [](Args& a) { a.Value(AddUniqueKnotsToArray(a.Reals(0), a.Reals(1), a.Int(2))); }},
      {"FindCoefiOfDegRaisedNCurves", "bspline/degelev.h", 8, 0xd, 0xd, [](Args& a) { FindCoefiOfDegRaisedNCurves(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Int(4), a.Int(5), a.Int(6), a.Int(7)); a.Done(); }},
      {"Find1CoefiOf1DegRaisedCurve", "bspline/degelev.h", 7, 0x7, 0x7, [](Args& a) { a.Value(Find1CoefiOf1DegRaisedCurve(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3), a.Int(4), a.Int(5), a.Ints(6))); }},
      {"PrincipalCurvatureRoots", "bspline/helper.h", 4, 0x3, 0x0, [](Args& a) { PrincipalCurvatureRoots(a.Triples(0), a.Reals(1), a.Reals(2), a.Reals(3)); a.Done(); }},
      {"FindNLargestSpanIndices", "bspline/kinsert.h", 4, 0x8, 0x8, [](Args& a) { a.Pointer(FindNLargestSpanIndices(a.Int(0), a.Int(1), a.Int(2), a.Reals(3))); }},
      {"BubbleValueAndIndex", "bspline/kinsert.h", 5, 0x0, 0x0, [](Args& a) { BubbleValueAndIndex(a.Int(0), a.Real(1), a.Int(2), a.Reals(3), a.Ints(4)); a.Done(); }},
      {"FindFixedWeightedPoints", "bspline/kinsert.h", 5, 0x5, 0x5, [](Args& a) { a.Pointer(FindFixedWeightedPoints(a.Reals(0), a.Int(1), a.Ints(2), a.Real(3), a.Real(4))); }},
      {"InsertNColsInVectorByIndex", "bspline/kinsert.h", 5, 0x1a, 0x1a, [](Args& a) { a.Pointer(InsertNColsInVectorByIndex(a.Int(0), a.Reals(1), a.Int(2), a.Reals(3), a.Ints(4))); }},
      {"FindInsertCoefiWeights", "bspline/kinsert.h", 6, 0x5, 0x5, [](Args& a) { a.Pointer(FindInsertCoefiWeights(a.Reals(0), a.Int(1), a.Ints(2), a.Int(3), a.Real(4), a.Real(5))); }},
      {"FindNewCoefiValues", "bspline/kinsert.h", 8, 0x14, 0x14, [](Args& a) { FindNewCoefiValues(a.Int(0), a.Int(1), a.Reals(2), a.Reals(3), a.Ints(4), a.Matrix(5), a.Int(6), a.Int(7)); a.Done(); }},
      {"NormalizeKnots", "bspline/knots.h", 2, 0x0, 0x0, [](Args& a) { a.Value(NormalizeKnots(a.Reals(0), a.Int(1))); }},
      {"KnotsOfBNotInA", "bspline/knots.h", 7, 0x5, 0x5, [](Args& a) { a.Value(KnotsOfBNotInA(a.Reals(0), a.Int(1), a.Reals(2), a.Int(3), a.Matrix(4), a.Ints(5), a.Reals(6))); }},
      {"SnapKnotsToValue", "bspline/knots.h", 5, 0x0, 0x0, [](Args& a) { a.Value(SnapKnotsToValue(a.Reals(0), a.Int(1), a.Int(2), a.Real(3), a.Real(4))); }},
      {"MergeKnotVectors", "bspline/knots.h", 6, 0x5, 0x5, [](Args& a) { MergeKnotVectors(a.Reals(0), a.Int(1), a.Reals(2), a.Int(3), a.Matrix(4), a.Ints(5)); a.Done(); }},
      {"GrevilleAbscissa", "bspline/knots.h", 3, 0x1, 0x1, [](Args& a) { a.Value(GrevilleAbscissa(a.Reals(0), a.Int(1), a.Int(2))); }},
      {"GrevilleParams", "bspline/knots.h", 4, 0x1, 0x1, [](Args& a) { GrevilleParams(a.Reals(0), a.Int(1), a.Int(2), a.Reals(3)); a.Done(); }},
      {"DistinctKnotValues", "bspline/knots.h", 4, 0x2, 0x2, [](Args& a) { DistinctKnotValues(a.Int(0), a.Reals(1), a.Ints(2), a.Matrix(3)); a.Done(); }},
      {"SamplesPerSpan", "bspline/knots.h", 4, 0x1, 0x1, [](Args& a) { SamplesPerSpan(a.Reals(0), a.Int(1), a.Reals(2), a.Int(3)); a.Done(); }},
      {"PutCloseValToSameVal", "bspline/kremove.h", 4, 0x0, 0x0, [](Args& a) { a.Value(PutCloseValToSameVal(a.Reals(0), a.Int(1), a.Int(2), a.Real(3))); }},
      {"GrevilleDeviation", "bspline/measure.h", 5, 0x1, 0x1, [](Args& a) { a.Value(GrevilleDeviation(a.Reals(0), a.Int(1), a.Int(2), a.Int(3), a.Real(4))); }},
      {"NewComputeGramMatrixGQ", "bspline/nubinner.h", 5, 0x1, 0x1, [](Args& a) { a.Value(NewComputeGramMatrixGQ(a.Reals(0), a.Int(1), a.Int(2), a.Int(3), a.Matrix(4))); }},
      {"NewComputeDiffGramMatrixGQ", "bspline/nubinner.h", 6, 0x1, 0x1, [](Args& a) { a.Value(NewComputeDiffGramMatrixGQ(a.Reals(0), a.Int(1), a.Int(2), a.Int(3), a.Int(4), a.Matrix(5))); }},
      {"ComputeGramBandGQ", "bspline/nubinner.h", 7, 0x1, 0x1, [](Args& a) { a.Value(ComputeGramBandGQ(a.Reals(0), a.Int(1), a.Int(2), a.Int(3), a.Int(4), a.Real(5), a.Matrix(6))); }},
      {"SingleBsplineDerivCoefs", "bspline/nubinner.h", 6, 0x1, 0x1, [](Args& a) { a.Value(SingleBsplineDerivCoefs(a.Reals(0), a.Int(1), a.Int(2), a.Int(3), a.Int(4), a.Reals(5))); }},
      {"NBsplineDerivative", "bspline/nubinner.h", 6, 0x11, 0x11, [](Args& a) { a.Value(NBsplineDerivative(a.Reals(0), a.Int(1), a.Int(2), a.Int(3), a.Reals(4), a.Reals(5))); }},
      {"ComputeNubVals", "bspline/nubutil.h", 5, 0x1, 0x1, [](Args& a) { ComputeNubVals(a.Reals(0), a.Int(1), a.Real(2), a.Int(3), a.Reals(4)); a.Done(); }},
      {"ComputeNubValsM", "bspline/nubutil.h", 5, 0x1, 0x1, [](Args& a) { ComputeNubValsM(a.Reals(0), a.Int(1), a.Real(2), a.Int(3), a.Reals(4)); a.Done(); }},
      {"ComputeNubDerivs", "bspline/nubutil.h", 6, 0x1, 0x1, [](Args& a) { ComputeNubDerivs(a.Reals(0), a.Int(1), a.Real(2), a.Int(3), a.Int(4), a.Reals(5)); a.Done(); }},
      {"EvalPointOnObjInit", "bspline/nubutil.h", 7, 0x4, 0x4, [](Args& a) { a.Value(EvalPointOnObjInit(a.Real(0), a.Int(1), a.Reals(2), a.Reals(3), a.Ints(4), a.Int(5), a.Int(6))); }},
      {"EvalPointOnObjInitM", "bspline/nubutil.h", 6, 0x4, 0x4, [](Args& a) { a.Value(EvalPointOnObjInitM(a.Real(0), a.Int(1), a.Reals(2), a.Reals(3), a.Ints(4), a.Int(5))); }},
      {"ApplyQuotientRule", "bspline/nubutil.h", 5, 0x1, 0x1, [](Args& a) { a.Value(ApplyQuotientRule(a.Reals(0), a.Int(1), a.Int(2), a.Int(3), a.Reals(4))); }},
      {"DParamfromDisplacement", "bspline/refines.h", 6, 0xf, 0x0, [](Args& a) { a.Value(DParamfromDisplacement(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Reals(5))); }},
      {"PointCurve", "bspline/smake.h", 4, 0x7, 0x7, [](Args& a) { a.Made(PointCurve(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3))); }},
      {"FreeSurfaceGrid", "bspline/srfgrid.h", 3, 0x0, 0x0, [](Args& a) { FreeSurfaceGrid(a.Matrix(0), a.Matrix(1), a.Matrix(2)); a.Done(); }},
      {"MeshCornersNamePoints", "cloud/cldpoly.h", 2, 0x3, 0x3, [](Args& a) { a.Value(MeshCornersNamePoints(a.Cld(0), a.Ints(1))); }},
      {"CloudPointsFinite", "cloud/cldpoly.h", 1, 0x1, 0x1, [](Args& a) { a.Value(CloudPointsFinite(a.Cld(0))); }},
      {"CloudScansNamePoints", "cloud/cldpoly.h", 1, 0x1, 0x1, [](Args& a) { a.Value(CloudScansNamePoints(a.Cld(0))); }},
      {"NewPolyPointers", "cloud/cldpoly.h", 1, 0x1, 0x1, [](Args& a) { a.Pointer(NewPolyPointers(a.Cld(0))); }},
      {"FindPolyVertsAndNorms", "cloud/cldpoly.h", 5, 0x1, 0x1, [](Args& a) { FindPolyVertsAndNorms(a.Cld(0), a.Int(1), a.Ints(2), a.Triples(3), a.Triples(4)); a.Done(); }},
      {"MakeCld", "cloud/makecld.h", 5, 0x7, 0x7, [](Args& a) { a.Pointer(MakeCld(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Reals(4))); }},
      {"MakeCldNoAlloc", "cloud/makecld.h", 5, 0x0, 0x0, [](Args& a) { a.Pointer(MakeCldNoAlloc(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Reals(4))); }},
      {"InsertNPtsCld", "cloud/makecld.h", 7, 0xf, 0xf, [](Args& a) { a.Pointer(InsertNPtsCld(a.Cld(0), a.Floats(1), a.Floats(2), a.Floats(3), a.Int(4), a.Int(5), a.Reals(6))); }},
      {"CopyCloudNormals", "cloud/makecld.h", 5, 0xf, 0xf, [](Args& a) { a.Value(CopyCloudNormals(a.Cld(0), a.Floats(1), a.Floats(2), a.Floats(3), a.Int(4))); }},
      {"AllocateIsShowLabels", "cloud/makecld.h", 1, 0x1, 0x1, [](Args& a) { a.Value(AllocateIsShowLabels(a.Cld(0))); }},
      {"MakeCloudArbitrary", "cloud/makecld.h", 1, 0x1, 0x1, [](Args& a) { MakeCloudArbitrary(a.Cld(0)); a.Done(); }},
      {"ResetRowIndex", "cloud/makecld.h", 1, 0x1, 0x1, [](Args& a) { a.Value(ResetRowIndex(a.Cld(0))); }},
      {"MakeGridCld", "cloud/makecld.h", 10, 0x100, 0x100, [](Args& a) { a.Pointer(MakeGridCld(a.Real(0), a.Real(1), a.Real(2), a.Real(3), a.Int(4), a.Int(5), a.Int(6), a.Int(7), a.Floats(8), a.Reals(9))); }},
      {"MakeCylCld", "cloud/makecld.h", 10, 0x180, 0x100, [](Args& a) { a.Pointer(MakeCylCld(a.Real(0), a.Real(1), a.Real(2), a.Real(3), a.Int(4), a.Int(5), a.Int(6), a.Reals(7), a.Floats(8), a.Reals(9))); }},
      {"MakeScanCld", "cloud/makecld.h", 8, 0x37, 0x37, [](Args& a) { a.Pointer(MakeScanCld(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Ints(4), a.Ints(5), a.Int(6), a.Reals(7))); }},
      {"MakeScanCldNew", "cloud/makecld.h", 9, 0x37, 0x37, [](Args& a) { a.Pointer(MakeScanCldNew(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Ints(4), a.Ints(5), a.Int(6), a.Reals(7), a.Int(8))); }},
      {"MakeScanCldNoAlloc", "cloud/makecld.h", 8, 0x30, 0x30, [](Args& a) { a.Pointer(MakeScanCldNoAlloc(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Ints(4), a.Ints(5), a.Int(6), a.Reals(7))); }},
      {"MakeScanCldNoAllocNew", "cloud/makecld.h", 9, 0x30, 0x30, [](Args& a) { a.Pointer(MakeScanCldNoAllocNew(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Ints(4), a.Ints(5), a.Int(6), a.Reals(7), a.Int(8))); }},
      {"GetGridArray", "cloud/makecld.h", 1, 0x1, 0x1, [](Args& a) { a.Pointer(GetGridArray(a.Cld(0))); }},
      {"FreeCloud", "cloud/makecld.h", 1, 0x1, 0x1, [](Args& a) { FreeCloud(a.Cld(0)); a.Done(); }},
      {"FreeCloudPolygons", "cloud/makecld.h", 1, 0x1, 0x1, [](Args& a) { FreeCloudPolygons(a.Cld(0)); a.Done(); }},
      {"FreeCloudSlice", "cloud/makecld.h", 1, 0x1, 0x1, [](Args& a) { FreeCloudSlice(a.Cld(0)); a.Done(); }},
      {"FreeCloudFarrays", "cloud/makecld.h", 1, 0x1, 0x1, [](Args& a) { FreeCloudFarrays(a.Cld(0)); a.Done(); }},
      {"FreeCloudLabels", "cloud/makecld.h", 1, 0x1, 0x1, [](Args& a) { FreeCloudLabels(a.Cld(0)); a.Done(); }},
      {"FindPolyNormal", "cloud/makecld.h", 3, 0x3, 0x1, [](Args& a) { FindPolyNormal(a.Floats(0), a.Ints(1), a.Reals(2)); a.Done(); }},
      {"MakePolyCld", "cloud/makecld.h", 6, 0xa, 0xa, [](Args& a) { a.Pointer(MakePolyCld(a.Int(0), a.Ints(1), a.Int(2), a.Floats(3), a.Int(4), a.Reals(5))); }},
      {"MakePolyCldWithNorms", "cloud/makecld.h", 7, 0x1a, 0x1a, [](Args& a) { a.Pointer(MakePolyCldWithNorms(a.Int(0), a.Ints(1), a.Int(2), a.Floats(3), a.Floats(4), a.Int(5), a.Reals(6))); }},
      {"MakePolyCldXYZ", "cloud/makecld.h", 5, 0x7, 0x7, [](Args& a) { a.Pointer(MakePolyCldXYZ(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Reals(4))); }},
      {"MakeSinglePolyCld", "cloud/makecld.h", 4, 0x7, 0x0, [](Args& a) { a.Pointer(MakeSinglePolyCld(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3))); }},
      {"MakePartPolyCld", "cloud/makecld.h", 4, 0x3, 0x3, [](Args& a) { a.Pointer(MakePartPolyCld(a.Cld(0), a.Ints(1), a.Int(2), a.Reals(3))); }},
      {"AddoptPartialCloudPoly", "cloud/makecld.h", 3, 0x7, 0x7, [](Args& a) { AddoptPartialCloudPoly(a.Cld(0), a.Ints(1), a.Cld(2)); a.Done(); }},
      {"RefreshCloudPolys", "cloud/makecld.h", 1, 0x1, 0x1, [](Args& a) { a.Value(RefreshCloudPolys(a.Cld(0))); }},
      {"CloudSetNormVerts", "cloud/makecld.h", 1, 0x1, 0x1, [](Args& a) { a.Value(CloudSetNormVerts(a.Cld(0))); }},
      {"CloudSetSomeNormVerts", "cloud/makecld.h", 1, 0x1, 0x1, [](Args& a) { a.Value(CloudSetSomeNormVerts(a.Cld(0))); }},
      {"CloudResetZeroNormsIsVerts", "cloud/makecld.h", 1, 0x1, 0x1, [](Args& a) { a.Value(CloudResetZeroNormsIsVerts(a.Cld(0))); }},
      {"CloudSetOnlyNormVertsAfterIndx", "cloud/makecld.h", 2, 0x1, 0x1, [](Args& a) { a.Value(CloudSetOnlyNormVertsAfterIndx(a.Cld(0), a.Int(1))); }},
      {"CloudSetNormsSpec", "cloud/makecld.h", 2, 0x1, 0x1, [](Args& a) { a.Value(CloudSetNormsSpec(a.Cld(0), a.Real(1))); }},
      {"CloudSetIsVerts", "cloud/makecld.h", 1, 0x1, 0x1, [](Args& a) { a.Value(CloudSetIsVerts(a.Cld(0))); }},
      {"GetVertexNormal", "cloud/makecld.h", 3, 0x1, 0x1, [](Args& a) { a.Value(GetVertexNormal(a.Cld(0), a.Int(1), a.Reals(2))); }},
      {"FindTriangleAngles", "cloud/makecld.h", 3, 0x1, 0x1, [](Args& a) { a.Value(FindTriangleAngles(a.Cld(0), a.Int(1), a.Reals(2))); }},
      {"FindTriangleAngleAtVert", "cloud/makecld.h", 4, 0x1, 0x1, [](Args& a) { a.Value(FindTriangleAngleAtVert(a.Cld(0), a.Int(1), a.Int(2), a.Reals(3))); }},
      {"FindCldTriangleArea", "cloud/makecld.h", 2, 0x1, 0x1, [](Args& a) { a.Value(FindCldTriangleArea(a.Cld(0), a.Int(1))); }},
      {"ChordDevOptArrays", "cloud/pchord.h", 7, 0x7, 0x7, [](Args& a) { a.Value(ChordDevOptArrays(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Real(4), a.Real(5), a.Ints(6))); }},
      {"ChordDevAngOptArrays", "cloud/pchord.h", 8, 0x7, 0x7, [](Args& a) { a.Value(ChordDevAngOptArrays(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Real(4), a.Real(5), a.Real(6), a.Ints(7))); }},
      {"FindPointOfEndSpanArrays", "cloud/pchord.h", 9, 0x27, 0x7, [](Args& a) { FindPointOfEndSpanArrays(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Int(4), a.Reals(5), a.Ints(6), a.Reals(7), a.Real(8)); a.Done(); }},
      {"FindPointOfEndSpanArraysAng", "cloud/pchord.h", 10, 0x27, 0x7, [](Args& a) { FindPointOfEndSpanArraysAng(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Int(4), a.Reals(5), a.Ints(6), a.Reals(7), a.Real(8), a.Real(9)); a.Done(); }},
      {"FindPointOfMaxDevArrays", "cloud/pchord.h", 10, 0x57, 0x7, [](Args& a) { FindPointOfMaxDevArrays(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Reals(4), a.Int(5), a.Reals(6), a.Ints(7), a.Reals(8), a.Reals(9)); a.Done(); }},
      {"FindPointOfEndSpan", "cloud/pchord.h", 6, 0x5, 0x1, [](Args& a) { FindPointOfEndSpan(a.Cld(0), a.Int(1), a.Reals(2), a.Ints(3), a.Reals(4), a.Real(5)); a.Done(); }},
      {"FindPointOfMaxDev", "cloud/pchord.h", 8, 0x15, 0x1, [](Args& a) { FindPointOfMaxDev(a.Cld(0), a.Int(1), a.Reals(2), a.Int(3), a.Reals(4), a.Ints(5), a.Reals(6), a.Reals(7)); a.Done(); }},
      {"ChordDevOptCloud", "cloud/pchord.h", 3, 0x1, 0x1, [](Args& a) { a.Pointer(ChordDevOptCloud(a.Cld(0), a.Real(1), a.Real(2))); }},
      {"MatrixChordalSample", "cloud/pchord.h", 3, 0x1, 0x1, [](Args& a) { a.Value(MatrixChordalSample(a.Cld(0), a.Real(1), a.Real(2))); }},
      {"DoControlledSampling", "cloud/pchord.h", 4, 0x1, 0x1, [](Args& a) { DoControlledSampling(a.Cld(0), a.Real(1), a.Real(2), a.Ints(3)); a.Done(); }},
      {"CopyCloud", "cloud/pcopy.h", 1, 0x1, 0x1, [](Args& a) { a.Pointer(CopyCloud(a.Cld(0))); }},
      {"CloneCloudPolygons", "cloud/pcopy.h", 2, 0x3, 0x3, [](Args& a) { a.Value(CloneCloudPolygons(a.Cld(0), a.Cld(1))); }},
      {"GatherCloudPoints", "cloud/pcopy.h", 6, 0x23, 0x23, [](Args& a) { a.Value(GatherCloudPoints(a.Cld(0), a.Ints(1), a.Int(2), a.Int(3), a.Int(4), a.Cld(5))); }},
      {"ReplaceCloudPoints", "cloud/pcopy.h", 2, 0x3, 0x3, [](Args& a) { ReplaceCloudPoints(a.Cld(0), a.Cld(1)); a.Done(); }},
      {"CloudFitSize", "cloud/pcopy.h", 2, 0x1, 0x1, [](Args& a) { a.Value(CloudFitSize(a.Cld(0), a.Int(1))); }},
      {"BoxFitSize", "cloud/pcopy.h", 2, 0x1, 0x0, [](Args& a) { a.Value(BoxFitSize(a.Reals(0), a.Int(1))); }},
      {"ScaledCloudCopy", "cloud/pcopy.h", 2, 0x1, 0x1, [](Args& a) { a.Pointer(ScaledCloudCopy(a.Cld(0), a.Real(1))); }},
      {"gauss_filter_array", "cloud/pgauss.h", 3, 0x0, 0x0, [](Args& a) { gauss_filter_array(a.Floats(0), a.Int(1), a.Int(2)); a.Done(); }},
      {"gauss_filter_array_d", "cloud/pgauss.h", 3, 0x0, 0x0, [](Args& a) { gauss_filter_array_d(a.Reals(0), a.Int(1), a.Int(2)); a.Done(); }},
      {"apply_gauss_filter", "cloud/pgauss.h", 4, 0x0, 0x0, [](Args& a) { apply_gauss_filter(a.FloatMatrix(0), a.Int(1), a.Int(2), a.Int(3)); a.Done(); }},
      {"apply_gauss_filter_d", "cloud/pgauss.h", 4, 0x0, 0x0, [](Args& a) { apply_gauss_filter_d(a.Matrix(0), a.Int(1), a.Int(2), a.Int(3)); a.Done(); }},
      {"gauss_filter_gridded_cloud", "cloud/pgauss.h", 2, 0x1, 0x1, [](Args& a) { gauss_filter_gridded_cloud(a.Cld(0), a.Int(1)); a.Done(); }},
      {"gauss_filter_on_scan_line", "cloud/pgauss.h", 2, 0x1, 0x1, [](Args& a) { gauss_filter_on_scan_line(a.Cld(0), a.Int(1)); a.Done(); }},
      {"GaussFilterArraysKeepCorners", "cloud/pgauss.h", 8, 0x0, 0x0, [](Args& a) { GaussFilterArraysKeepCorners(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Int(4), a.Real(5), a.Real(6), a.Real(7)); a.Done(); }},
      {"GaussFilterScanKeepCorners", "cloud/pgauss.h", 4, 0x1, 0x1, [](Args& a) { GaussFilterScanKeepCorners(a.Cld(0), a.Int(1), a.Real(2), a.Real(3)); a.Done(); }},
      {"gauss_filter_gridded_cloud_w_mask", "cloud/pgauss.h", 3, 0x5, 0x5, [](Args& a) { a.Value(gauss_filter_gridded_cloud_w_mask(a.Cld(0), a.Int(1), a.Bytes(2))); }},
      {"gauss_filter_on_scan_line_w_mask", "cloud/pgauss.h", 3, 0x5, 0x5, [](Args& a) { a.Value(gauss_filter_on_scan_line_w_mask(a.Cld(0), a.Int(1), a.Bytes(2))); }},
      {"GaussFilterScanKeepCornersWithMask", "cloud/pgauss.h", 5, 0x11, 0x11, [](Args& a) { a.Value(GaussFilterScanKeepCornersWithMask(a.Cld(0), a.Int(1), a.Real(2), a.Real(3), a.Bytes(4))); }},
      {"GridCloudRows", "cloud/pgauss.h", 3, 0x1, 0x1, [](Args& a) { a.Pointer(GridCloudRows(a.Cld(0), a.Ints(1), a.Ints(2))); }},
      {"SetGridCloudHeightRange", "cloud/pgauss.h", 4, 0x3, 0x3, [](Args& a) { SetGridCloudHeightRange(a.Cld(0), a.FloatMatrix(1), a.Int(2), a.Int(3)); a.Done(); }},
      {"getmedian", "cloud/pmedian.h", 2, 0x0, 0x0, [](Args& a) { a.Value(getmedian(a.Reals(0), a.Int(1))); }},
      {"median3", "cloud/pmedian.h", 1, 0x1, 0x1, [](Args& a) { a.Value(median3(a.Floats(0))); }},
      {"median3x3", "cloud/pmedian.h", 3, 0x7, 0x7, [](Args& a) { a.Value(median3x3(a.Reals(0), a.Reals(1), a.Reals(2))); }},
      {"MedianFilterArray", "cloud/pmedian.h", 3, 0x0, 0x0, [](Args& a) { MedianFilterArray(a.Floats(0), a.Int(1), a.Int(2)); a.Done(); }},
      {"MedianFilterGriddedArray", "cloud/pmedian.h", 4, 0x0, 0x0, [](Args& a) { MedianFilterGriddedArray(a.FloatMatrix(0), a.Int(1), a.Int(2), a.Int(3)); a.Done(); }},
      {"MedianFilterGriddedArray_d", "cloud/pmedian.h", 4, 0x0, 0x0, [](Args& a) { MedianFilterGriddedArray_d(a.Matrix(0), a.Int(1), a.Int(2), a.Int(3)); a.Done(); }},
      {"MedianFilterGridded", "cloud/pmedian.h", 2, 0x1, 0x1, [](Args& a) { MedianFilterGridded(a.Cld(0), a.Int(1)); a.Done(); }},
      {"MedianFilterNonGridded", "cloud/pmedian.h", 2, 0x1, 0x1, [](Args& a) { MedianFilterNonGridded(a.Cld(0), a.Int(1)); a.Done(); }},
      {"MedianFilterArraysKeepCorners", "cloud/pmedian.h", 8, 0x0, 0x0, [](Args& a) { MedianFilterArraysKeepCorners(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Int(4), a.Real(5), a.Real(6), a.Real(7)); a.Done(); }},
      {"MedianFilterScanKeepCorners", "cloud/pmedian.h", 4, 0x1, 0x1, [](Args& a) { MedianFilterScanKeepCorners(a.Cld(0), a.Int(1), a.Real(2), a.Real(3)); a.Done(); }},
      {"MedianFilterGriddedWithMask", "cloud/pmedian.h", 3, 0x5, 0x5, [](Args& a) { a.Value(MedianFilterGriddedWithMask(a.Cld(0), a.Int(1), a.Bytes(2))); }},
      {"MedianFilterNonGriddedWithMask", "cloud/pmedian.h", 3, 0x5, 0x5, [](Args& a) { a.Value(MedianFilterNonGriddedWithMask(a.Cld(0), a.Int(1), a.Bytes(2))); }},
      {"CldArrayTypeExists", "cloud/pnterr.h", 2, 0x1, 0x1, [](Args& a) { a.Value(CldArrayTypeExists(a.Cld(0), a.Int(1))); }},
      {"RemoveCldArrayType", "cloud/pnterr.h", 2, 0x1, 0x1, [](Args& a) { a.Value(RemoveCldArrayType(a.Cld(0), a.Int(1))); }},
      {"AdoptDifferenceGroup", "cloud/pnterr.h", 2, 0x1, 0x1, [](Args& a) { a.Value(AdoptDifferenceGroup(a.Cld(0), a.FloatMatrix(1))); }},
      {"Compare2Clouds", "cloud/pnterr.h", 2, 0x3, 0x3, [](Args& a) { a.Value(Compare2Clouds(a.Cld(0), a.Cld(1))); }},
      {"PolycldToCldDiff", "cloud/pnterr.h", 6, 0x3, 0x3, [](Args& a) { a.Value(PolycldToCldDiff(a.Cld(0), a.Cld(1), a.Real(2), a.Ints(3), a.Ints(4), a.Reals(5))); }},
      {"ComputeCorrelationMatrix", "cloud/poffset.h", 5, 0x7, 0x7, [](Args& a) { ComputeCorrelationMatrix(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Matrix(4)); a.Done(); }},
      {"AssureCloudNormals", "cloud/poffset.h", 1, 0x1, 0x1, [](Args& a) { a.Value(AssureCloudNormals(a.Cld(0))); }},
      {"FreeCloudNormals", "cloud/poffset.h", 1, 0x1, 0x1, [](Args& a) { FreeCloudNormals(a.Cld(0)); a.Done(); }},
      {"RmOffsetSelfXsec", "cloud/poffset.h", 5, 0x1, 0x1, [](Args& a) { a.Value(RmOffsetSelfXsec(a.Cld(0), a.Floats(1), a.Floats(2), a.Floats(3), a.Real(4))); }},
      {"ProjectCloudOnCloudNorms", "cloud/poffset.h", 5, 0x3, 0x3, [](Args& a) { a.Value(ProjectCloudOnCloudNorms(a.Cld(0), a.Cld(1), a.Real(2), a.Floats(3), a.Ints(4))); }},
      {"ReliabilitySample", "cloud/premove.h", 2, 0x1, 0x1, [](Args& a) { a.Value(ReliabilitySample(a.Cld(0), a.Int(1))); }},
      {"GetMinMaxReliability", "cloud/premove.h", 3, 0x1, 0x1, [](Args& a) { a.Value(GetMinMaxReliability(a.Cld(0), a.Ints(1), a.Ints(2))); }},
      {"RemoveScatteredPoints", "cloud/premove.h", 2, 0x1, 0x1, [](Args& a) { a.Value(RemoveScatteredPoints(a.Cld(0), a.Real(1))); }},
      {"RemoveDuplicates", "cloud/premove.h", 5, 0x0, 0x0, [](Args& a) { a.Value(RemoveDuplicates(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Real(4))); }},
      {"RemoveDuplicates_d", "cloud/premove.h", 5, 0x0, 0x0, [](Args& a) { a.Value(RemoveDuplicates_d(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3), a.Real(4))); }},
      {"RemoveDuplicatePoints", "cloud/premove.h", 6, 0x0, 0x0, [](Args& a) { a.Value(RemoveDuplicatePoints(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Ints(4), a.Real(5))); }},
      {"JoinPointSetsToTol", "cloud/premove.h", 13, 0x77, 0x77, [](Args& a) { a.Value(JoinPointSetsToTol(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Floats(4), a.Floats(5), a.Floats(6), a.Int(7), a.Floats(8), a.Floats(9), a.Floats(10), a.Ints(11), a.Real(12))); }},
      {"JoinCloudSetsToTol", "cloud/premove.h", 7, 0x3, 0x3, [](Args& a) { a.Value(JoinCloudSetsToTol(a.Cld(0), a.Cld(1), a.Floats(2), a.Floats(3), a.Floats(4), a.Ints(5), a.Real(6))); }},
      {"ComputeCenterOfMass", "cloud/princip.h", 5, 0x7, 0x7, [](Args& a) { ComputeCenterOfMass(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Reals(4)); a.Done(); }},
      {"ComputeCenterOfMass_d", "cloud/princip.h", 5, 0x7, 0x7, [](Args& a) { a.Value(ComputeCenterOfMass_d(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3), a.Reals(4))); }},
      {"ComputeCenterOfMassCoord", "cloud/princip.h", 5, 0x7, 0x7, [](Args& a) { a.Value(ComputeCenterOfMassCoord(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Reals(4))); }},
      {"ComputeCenterOfMass2D_f", "cloud/princip.h", 4, 0x3, 0x3, [](Args& a) { a.Value(ComputeCenterOfMass2D_f(a.Floats(0), a.Floats(1), a.Int(2), a.Reals(3))); }},
      {"PntsetCovMatrix", "cloud/princip.h", 6, 0x7, 0x7, [](Args& a) { a.Value(PntsetCovMatrix(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Reals(4), a.Matrix(5))); }},
      {"ComputeCorrelationMat_d", "cloud/princip.h", 5, 0x7, 0x7, [](Args& a) { a.Value(ComputeCorrelationMat_d(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3), a.Matrix(4))); }},
      {"PrincipleComponentAnalysis", "cloud/princip.h", 6, 0x7, 0x7, [](Args& a) { a.Value(PrincipleComponentAnalysis(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Reals(4), a.Triples(5))); }},
      {"PntSetPrincipleAxis_d", "cloud/princip.h", 7, 0x7, 0x7, [](Args& a) { a.Value(PntSetPrincipleAxis_d(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3), a.Triples(4), a.Reals(5), a.Reals(6))); }},
      {"FitALine", "cloud/princip.h", 3, 0x1, 0x1, [](Args& a) { a.Value(FitALine(a.Cld(0), a.Reals(1), a.Reals(2))); }},
      {"FitALineOfPoints", "cloud/princip.h", 6, 0x7, 0x7, [](Args& a) { a.Value(FitALineOfPoints(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3), a.Reals(4), a.Reals(5))); }},
      {"CreateCloudBasedOnArray", "cloud/psample.h", 3, 0x3, 0x3, [](Args& a) { a.Pointer(CreateCloudBasedOnArray(a.Cld(0), a.Bytes(1), a.Reals(2))); }},
      {"CreateCloudBasedOnIndices", "cloud/psample.h", 5, 0x7, 0x7, [](Args& a) { a.Pointer(CreateCloudBasedOnIndices(a.Cld(0), a.Bytes(1), a.Ints(2), a.Int(3), a.Reals(4))); }},
      {"UpdateCloudIsShow", "cloud/psample.h", 1, 0x1, 0x1, [](Args& a) { a.Value(UpdateCloudIsShow(a.Cld(0))); }},
      {"sample_scattered_cloud", "cloud/psample.h", 2, 0x1, 0x1, [](Args& a) { a.Value(sample_scattered_cloud(a.Cld(0), a.Int(1))); }},
      {"sample_spheres_cloud", "cloud/psample.h", 2, 0x1, 0x1, [](Args& a) { a.Value(sample_spheres_cloud(a.Cld(0), a.Real(1))); }},
      {"sample_scan_cloud", "cloud/psample.h", 3, 0x1, 0x1, [](Args& a) { a.Value(sample_scan_cloud(a.Cld(0), a.Int(1), a.Int(2))); }},
      {"ReorderPointsbyIndices", "cloud/psort.h", 2, 0x3, 0x3, [](Args& a) { a.Value(ReorderPointsbyIndices(a.Cld(0), a.Ints(1))); }},
      {"SortCldFarraysByIndices", "cloud/psort.h", 2, 0x3, 0x3, [](Args& a) { a.Value(SortCldFarraysByIndices(a.Cld(0), a.Ints(1))); }},
      {"RearrangeCloudByStart", "cloud/psort.h", 2, 0x1, 0x1, [](Args& a) { RearrangeCloudByStart(a.Cld(0), a.Int(1)); a.Done(); }},
      {"TransposeCloud", "cloud/psort.h", 2, 0x1, 0x1, [](Args& a) { a.Value(TransposeCloud(a.Cld(0), a.Ints(1))); }},
      {"FindClosestScanAndDistsq", "cloud/psort.h", 12, 0x33f, 0x33f, [](Args& a) { FindClosestScanAndDistsq(a.Floats(0), a.Floats(1), a.Floats(2), a.Floats(3), a.Floats(4), a.Floats(5), a.Int(6), a.Int(7), a.Ints(8), a.Ints(9), a.Ints(10), a.Reals(11)); a.Done(); }},
      {"SortByNearestNbor", "cloud/psort.h", 1, 0x1, 0x1, [](Args& a) { a.Value(SortByNearestNbor(a.Cld(0))); }},
      {"SortArraysByNearestNborAndDir", "cloud/psort.h", 7, 0x0, 0x0, [](Args& a) { a.Value(SortArraysByNearestNborAndDir(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Real(4), a.Int(5), a.Ints(6))); }},
      {"SortByNearestNborAndDir", "cloud/psort.h", 3, 0x1, 0x1, [](Args& a) { a.Value(SortByNearestNborAndDir(a.Cld(0), a.Real(1), a.Int(2))); }},
      {"CloudTypeAfterSort", "cloud/psort.h", 1, 0x1, 0x1, [](Args& a) { a.Value(CloudTypeAfterSort(a.Cld(0))); }},
      {"PerturbeCloud", "cloud/psort.h", 3, 0x1, 0x1, [](Args& a) { a.Value(PerturbeCloud(a.Cld(0), a.Real(1), a.Real(2))); }},
      {"SortCloudByNearest", "cloud/psort.h", 1, 0x1, 0x1, [](Args& a) { SortCloudByNearest(a.Cld(0)); a.Done(); }},
      {"SortCloudByNearestNoDle", "cloud/psort.h", 1, 0x1, 0x1, [](Args& a) { SortCloudByNearestNoDle(a.Cld(0)); a.Done(); }},
      {"ChangeStartCloudToLargestOpening", "cloud/psort.h", 1, 0x1, 0x1, [](Args& a) { ChangeStartCloudToLargestOpening(a.Cld(0)); a.Done(); }},
      {"ChangeStartCloudToLargestOpeningNoDle", "cloud/psort.h", 1, 0x1, 0x1, [](Args& a) { ChangeStartCloudToLargestOpeningNoDle(a.Cld(0)); a.Done(); }},
      {"ReverseCloud", "cloud/psort.h", 1, 0x1, 0x1, [](Args& a) { ReverseCloud(a.Cld(0)); a.Done(); }},
      {"ReverseCloudKeepFirst", "cloud/psort.h", 1, 0x1, 0x1, [](Args& a) { ReverseCloudKeepFirst(a.Cld(0)); a.Done(); }},
      {"ReverseCloudArrays", "cloud/psort.h", 1, 0x1, 0x1, [](Args& a) { ReverseCloudArrays(a.Cld(0)); a.Done(); }},
      {"FindClosestSpanToPline", "cloud/psort.h", 16, 0x38e, 0x38e, [](Args& a) { a.Value(FindClosestSpanToPline(a.Int(0), a.Floats(1), a.Floats(2), a.Floats(3), a.Ints(4), a.Floats(5), a.Int(6), a.Reals(7), a.Reals(8), a.Reals(9), a.Ints(10), a.Floats(11), a.Ints(12), a.Ints(13), a.Reals(14), a.Reals(15))); }},
      {"NrNbrFullConsistency", "cloud/psort.h", 1, 0x1, 0x1, [](Args& a) { a.Value(NrNbrFullConsistency(a.Cld(0))); }},
      {"IsNextDistLessThanCurrent", "cloud/psort.h", 9, 0xe0, 0xe0, [](Args& a) { a.Value(IsNextDistLessThanCurrent(a.Int(0), a.Int(1), a.Int(2), a.Int(3), a.Int(4), a.Floats(5), a.Floats(6), a.Floats(7), a.Int(8))); }},
      {"SubdivideArrays", "cloud/psubdiv.h", 12, 0x7, 0x7, [](Args& a) { a.Pointer(SubdivideArrays(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Real(4), a.Real(5), a.Real(6), a.Real(7), a.Real(8), a.Real(9), a.Real(10), a.Int(11))); }},
      {"SubdivDivisionsFor", "cloud/psubdiv.h", 2, 0x2, 0x0, [](Args& a) { a.Value(SubdivDivisionsFor(a.Int(0), a.Reals(1))); }},
      {"SubdivideArraysMax", "cloud/psubdiv.h", 14, 0x7, 0x7, [](Args& a) { a.Pointer(SubdivideArraysMax(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Real(4), a.Real(5), a.Real(6), a.Real(7), a.Real(8), a.Real(9), a.Real(10), a.Real(11), a.Real(12), a.Int(13))); }},
      {"BuildNearTree", "cloud/psubdiv.h", 4, 0x7, 0x7, [](Args& a) { a.Pointer(BuildNearTree(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3))); }},
      {"BuildBoxTree", "cloud/psubdiv.h", 2, 0x1, 0x1, [](Args& a) { a.Pointer(BuildBoxTree(a.Reals(0), a.Int(1))); }},
      {"FindCloudScans", "cloud/psubdiv.h", 3, 0x1, 0x1, [](Args& a) { a.Value(FindCloudScans(a.Cld(0), a.Ints(1), a.Ints(2))); }},
      {"ExtractTheScan", "cloud/psubdiv.h", 4, 0x1, 0x1, [](Args& a) { ExtractTheScan(a.Cld(0), a.Int(1), a.Ints(2), a.Ints(3)); a.Done(); }},
      {"GetClosedCloud", "cloud/putil.h", 1, 0x1, 0x1, [](Args& a) { a.Pointer(GetClosedCloud(a.Cld(0))); }},
      {"IsAllPointsTheSame", "cloud/putil.h", 4, 0x7, 0x7, [](Args& a) { a.Value(IsAllPointsTheSame(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3))); }},
      {"ComputeCloudBbox", "cloud/putil.h", 2, 0x1, 0x1, [](Args& a) { a.Value(ComputeCloudBbox(a.Cld(0), a.Reals(1))); }},
      {"BboxInBbox", "cloud/putil.h", 2, 0x3, 0x3, [](Args& a) { a.Value(BboxInBbox(a.Reals(0), a.Reals(1))); }},
      {"GetClosestPointOnCloud", "cloud/putil.h", 5, 0x1, 0x1, [](Args& a) { a.Value(GetClosestPointOnCloud(a.Cld(0), a.Real(1), a.Real(2), a.Real(3), a.Reals(4))); }},
      {"FindCloudPointNormal", "cloud/putil.h", 5, 0x1, 0x1, [](Args& a) { a.Value(FindCloudPointNormal(a.Cld(0), a.Real(1), a.Real(2), a.Real(3), a.Reals(4))); }},
      {"AreTwoVecsPerpendicular", "registration/confreg.h", 2, 0x3, 0x0, [](Args& a) { a.Value(AreTwoVecsPerpendicular(a.Reals(0), a.Reals(1))); }},
      {"AreTwoVecsParallel", "registration/confreg.h", 2, 0x3, 0x0, [](Args& a) { a.Value(AreTwoVecsParallel(a.Reals(0), a.Reals(1))); }},
      {"CPSRHornMatrix", "registration/cpsr.h", 2, 0x1, 0x0, [](Args& a) { a.Value(CPSRHornMatrix(a.Triples(0), a.Matrix(1))); }},
      {"CPSRQternionMatrix", "registration/cpsr.h", 10, 0x77, 0x77, [](Args& a) { a.Value(CPSRQternionMatrix(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Floats(4), a.Floats(5), a.Floats(6), a.Matrix(7), a.Reals(8), a.Reals(9))); }},
      {"Get321CovMatrix", "registration/cpsr.h", 11, 0xf7, 0xf7, [](Args& a) { a.Value(Get321CovMatrix(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Floats(4), a.Floats(5), a.Floats(6), a.Ints(7), a.Matrix(8), a.Reals(9), a.Reals(10))); }},
      {"SimpleSampleCloud", "registration/icp.h", 6, 0x1, 0x1, [](Args& a) { a.Value(SimpleSampleCloud(a.Cld(0), a.Int(1), a.FloatMatrix(2), a.FloatMatrix(3), a.FloatMatrix(4), a.Ints(5))); }},
      {"pntset_covariance_matrix", "registration/icp.h", 5, 0x7, 0x7, [](Args& a) { a.Value(pntset_covariance_matrix(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Matrix(4))); }},
      {"Func3ValExtrapolate", "registration/icp.h", 4, 0x3, 0x0, [](Args& a) { a.Value(Func3ValExtrapolate(a.Reals(0), a.Reals(1), a.Real(2), a.Reals(3))); }},
      {"Create3DTree", "registration/kdtree.h", 5, 0x7, 0x7, [](Args& a) { a.Pointer(Create3DTree(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Int(4))); }},
      {"NewBuildKDTree", "registration/kdtree.h", 4, 0x1, 0x1, [](Args& a) { a.Pointer(NewBuildKDTree(const_cast<const float**>(a.FloatMatrix(0)), a.Int(1), a.Int(2), a.Int(3))); }},
      {"BuildKDTree", "registration/kdtree.h", 4, 0x1, 0x1, [](Args& a) { a.Pointer(BuildKDTree(const_cast<const float**>(a.FloatMatrix(0)), a.Int(1), a.Int(2), a.Int(3))); }},
      {"PointOnLine", "registration/mmcalc.h", 4, 0x3, 0x0, [](Args& a) { a.Value(PointOnLine(a.Reals(0), a.Reals(1), a.Real(2), a.Reals(3))); }},
      {"Angle3Pts", "registration/mmcalc.h", 3, 0x7, 0x0, [](Args& a) { a.Value(Angle3Pts(a.Reals(0), a.Reals(1), a.Reals(2))); }},
      {"NormalizeQternion", "registration/qternion.h", 1, 0x0, 0x0, [](Args& a) { a.Value(NormalizeQternion(a.Reals(0))); }},
      {"IsIdentityQuaternion", "registration/qternion.h", 1, 0x0, 0x0, [](Args& a) { a.Value(IsIdentityQuaternion(a.Reals(0))); }},
      {"quaternion_rotation_matrix", "registration/qternion.h", 2, 0x0, 0x0, [](Args& a) { a.Value(quaternion_rotation_matrix(a.Reals(0), a.Matrix(1))); }},
      {"Qternion2AxisRotAngle", "registration/qternion.h", 3, 0x0, 0x0, [](Args& a) { a.Value(Qternion2AxisRotAngle(a.Reals(0), a.Reals(1), a.Reals(2))); }},
      {"XYZAxisRotFromQternion", "registration/qternion.h", 4, 0x0, 0x0, [](Args& a) { a.Value(XYZAxisRotFromQternion(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3))); }},
      {"MultiplyQternion", "registration/qternion.h", 3, 0x3, 0x0, [](Args& a) { a.Value(MultiplyQternion(a.Reals(0), a.Reals(1), a.Reals(2))); }},
      {"GetQternionAlignTwoPointSet", "registration/register.h", 10, 0x77, 0x77, [](Args& a) { a.Value(GetQternionAlignTwoPointSet(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Floats(4), a.Floats(5), a.Floats(6), a.Int(7), a.Matrix(8), a.Ints(9))); }},
      {"MultiplyQuaternion", "registration/stepreg.h", 3, 0x3, 0x0, [](Args& a) { a.Value(MultiplyQuaternion(a.Reals(0), a.Reals(1), a.Reals(2))); }},
      {"AreTwoVecsOnSameHemisphere", "registration/stepreg.h", 3, 0x7, 0x0, [](Args& a) { a.Value(AreTwoVecsOnSameHemisphere(a.Reals(0), a.Reals(1), a.Reals(2))); }},
      {"LineDirection", "registration/stepreg.h", 3, 0x3, 0x0, [](Args& a) { a.Value(LineDirection(a.Reals(0), a.Reals(1), a.Reals(2))); }},
      {"LineMidPoint", "registration/stepreg.h", 3, 0x3, 0x0, [](Args& a) { a.Value(LineMidPoint(a.Reals(0), a.Reals(1), a.Reals(2))); }},
      {"DoTwoLinesCoincide", "registration/stepreg.h", 2, 0x3, 0x0, [](Args& a) { a.Value(DoTwoLinesCoincide(a.Reals(0), a.Reals(1))); }},
      {"IsLineOnPlane", "registration/stepreg.h", 2, 0x3, 0x0, [](Args& a) { a.Value(IsLineOnPlane(a.Reals(0), a.Reals(1))); }},
      {"VecProject3", "registration/stepreg.h", 3, 0x3, 0x0, [](Args& a) { a.Value(VecProject3(a.Reals(0), a.Reals(1), a.Reals(2))); }},
      {"FitConeBspline", "quadric/cone.h", 5, 0x7, 0x7, [](Args& a) { a.Made(FitConeBspline(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Reals(4))); }},
      {"EstimateCone", "quadric/cone.h", 9, 0x7, 0x7, [](Args& a) { a.Value(EstimateCone(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Reals(4), a.Reals(5), a.Reals(6), a.Reals(7), a.Reals(8))); }},
      {"ConeParamsFromQuadrics", "quadric/cone.h", 4, 0x1, 0x0, [](Args& a) { a.Value(ConeParamsFromQuadrics(a.Reals(0), a.Matrix(1), a.Reals(2), a.Reals(3))); }},
      {"ConeSlopeGivenCenterAndAxis", "quadric/cone.h", 7, 0x37, 0x7, [](Args& a) { a.Value(ConeSlopeGivenCenterAndAxis(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Reals(4), a.Reals(5), a.Reals(6))); }},
      {"GuessConeCenter", "quadric/cone.h", 8, 0x37, 0x7, [](Args& a) { a.Value(GuessConeCenter(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Reals(4), a.Reals(5), a.Real(6), a.Reals(7))); }},
      {"IsPointsCoplanar_f", "quadric/cpoint.h", 4, 0x7, 0x7, [](Args& a) { a.Value(IsPointsCoplanar_f(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3))); }},
      {"IsPointsCollinear_f", "quadric/cpoint.h", 4, 0x7, 0x7, [](Args& a) { a.Value(IsPointsCollinear_f(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3))); }},
      {"IsPointsCollinear", "quadric/cpoint.h", 4, 0x7, 0x7, [](Args& a) { a.Value(IsPointsCollinear(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3))); }},
      {"CreateLineWith2Points", "quadric/cpoint.h", 2, 0x3, 0x0, [](Args& a) { a.Made(CreateLineWith2Points(a.Reals(0), a.Reals(1))); }},
      {"FitPlaneWith3Points", "quadric/cpoint.h", 3, 0x7, 0x0, [](Args& a) { a.Made(FitPlaneWith3Points(a.Reals(0), a.Reals(1), a.Reals(2))); }},
      {"CreateCircleW3Points", "quadric/cpoint.h", 4, 0x7, 0x0, [](Args& a) { a.Made(CreateCircleW3Points(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3))); }},
      {"CreateQuadricWCenAnd2Points", "quadric/cpoint.h", 4, 0x7, 0x0, [](Args& a) { a.Made(CreateQuadricWCenAnd2Points(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3))); }},
      {"CreateSphereFrom4Points", "quadric/cpoint.h", 4, 0xf, 0x0, [](Args& a) { a.Made(CreateSphereFrom4Points(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3))); }},
      {"CreateSphereWithCenterAndPoint", "quadric/cpoint.h", 2, 0x3, 0x0, [](Args& a) { a.Made(CreateSphereWithCenterAndPoint(a.Reals(0), a.Reals(1))); }},
      {"CreateCylinderWithCensAndPoint", "quadric/cpoint.h", 3, 0x7, 0x0, [](Args& a) { a.Made(CreateCylinderWithCensAndPoint(a.Reals(0), a.Reals(1), a.Reals(2))); }},
      {"CreateConeWithCensAnd2Points", "quadric/cpoint.h", 4, 0xf, 0x0, [](Args& a) { a.Made(CreateConeWithCensAnd2Points(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3))); }},
      {"LineLineMinDist2", "quadric/cpoint.h", 7, 0xf, 0x0, [](Args& a) { LineLineMinDist2(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Reals(5), a.Reals(6)); a.Done(); }},
      {"FitCylinder", "quadric/cylinder.h", 8, 0x7, 0x7, [](Args& a) { a.Value(FitCylinder(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Reals(4), a.Reals(5), a.Reals(6), a.Reals(7))); }},
      {"FitCylinderWithGivenRadius", "quadric/cylinder.h", 8, 0x7, 0x7, [](Args& a) { a.Value(FitCylinderWithGivenRadius(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Real(4), a.Reals(5), a.Reals(6), a.Reals(7))); }},
      {"FitCylinderBspline", "quadric/cylinder.h", 5, 0x7, 0x7, [](Args& a) { a.Made(FitCylinderBspline(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Reals(4))); }},
      {"FitCylinderBsplineGivenRadius", "quadric/cylinder.h", 5, 0x7, 0x7, [](Args& a) { a.Made(FitCylinderBsplineGivenRadius(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Real(4))); }},
      {"CylinderRadius", "quadric/cylinder.h", 7, 0x17, 0x7, [](Args& a) { CylinderRadius(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Reals(4), a.Reals(5), a.Reals(6)); a.Done(); }},
      {"FindCylinderExtent", "quadric/cylinder.h", 8, 0x37, 0x7, [](Args& a) { a.Value(FindCylinderExtent(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Reals(4), a.Reals(5), a.Reals(6), a.Reals(7))); }},
      {"covsrt", "quadric/mrqmin.h", 4, 0x4, 0x4, [](Args& a) { covsrt(a.Matrix(0), a.Int(1), a.Ints(2), a.Int(3)); a.Done(); }},
      {"PointRadCurva", "quadric/pinspect.h", 4, 0x1, 0x1, [](Args& a) { a.Value(PointRadCurva(a.Cld(0), a.Int(1), a.Real(2), a.Reals(3))); }},
      {"OutlierRemove", "quadric/premove.h", 4, 0x1, 0x1, [](Args& a) { a.Value(OutlierRemove(a.Cld(0), a.Real(1), a.Real(2), a.Int(3))); }},
      {"MakeArcZBspline", "quadric/qarc.h", 4, 0x4, 0x0, [](Args& a) { a.Made(MakeArcZBspline(a.Real(0), a.Real(1), a.Reals(2), a.Real(3))); }},
      {"FitArcBspline", "quadric/qarc.h", 5, 0x7, 0x7, [](Args& a) { a.Made(FitArcBspline(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Ints(4))); }},
      {"ComputeFitArcAngle", "quadric/qarc.h", 7, 0xb, 0x3, [](Args& a) { a.Value(ComputeFitArcAngle(a.Floats(0), a.Floats(1), a.Int(2), a.Reals(3), a.Real(4), a.Reals(5), a.Reals(6))); }},
      {"estimate_arc_para", "quadric/qarc.h", 6, 0x3, 0x3, [](Args& a) { a.Value(estimate_arc_para(a.Floats(0), a.Floats(1), a.Int(2), a.Reals(3), a.Reals(4), a.Reals(5))); }},
      {"NewCircleBspline", "quadric/qcircle.h", 2, 0x1, 0x0, [](Args& a) { a.Made(NewCircleBspline(a.Reals(0), a.Real(1))); }},
      {"MakeCircleWGivenAxis", "quadric/qcircle.h", 3, 0x5, 0x0, [](Args& a) { a.Made(MakeCircleWGivenAxis(a.Reals(0), a.Real(1), a.Reals(2))); }},
      {"NewFitCircle", "quadric/qcircle.h", 6, 0x3, 0x3, [](Args& a) { a.Value(NewFitCircle(a.Floats(0), a.Floats(1), a.Int(2), a.Reals(3), a.Reals(4), a.Reals(5))); }},
      {"estimate_circle_para", "quadric/qcircle.h", 6, 0x3, 0x3, [](Args& a) { a.Value(estimate_circle_para(a.Floats(0), a.Floats(1), a.Int(2), a.Reals(3), a.Reals(4), a.Reals(5))); }},
      {"circle_fit_error", "quadric/qcircle.h", 7, 0xb, 0x3, [](Args& a) { circle_fit_error(a.Floats(0), a.Floats(1), a.Int(2), a.Reals(3), a.Real(4), a.Reals(5), a.Reals(6)); a.Done(); }},
      {"CircleNonlinearFit", "quadric/qcircle.h", 9, 0x3, 0x3, [](Args& a) { a.Value(CircleNonlinearFit(a.Floats(0), a.Floats(1), a.Int(2), a.Reals(3), a.Reals(4), a.Real(5), a.Int(6), a.Reals(7), a.Reals(8))); }},
      {"CircleChiSq", "quadric/qcircle.h", 6, 0x4, 0x4, [](Args& a) { CircleChiSq(a.Real(0), a.Real(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Int(5)); a.Done(); }},
      {"MakeExtremeCircles", "quadric/qcircle.h", 7, 0x3, 0x3, [](Args& a) { a.Value(MakeExtremeCircles(a.Floats(0), a.Floats(1), a.Int(2), a.Reals(3), a.Reals(4), a.Reals(5), a.Reals(6))); }},
      {"MakeInnerCircle", "quadric/qcircle.h", 5, 0x3, 0x3, [](Args& a) { a.Value(MakeInnerCircle(a.Floats(0), a.Floats(1), a.Int(2), a.Reals(3), a.Reals(4))); }},
      {"MakeOuterCircle", "quadric/qcircle.h", 5, 0x3, 0x3, [](Args& a) { a.Value(MakeOuterCircle(a.Floats(0), a.Floats(1), a.Int(2), a.Reals(3), a.Reals(4))); }},
      {"MakeOuterCircle2", "quadric/qcircle.h", 5, 0x3, 0x3, [](Args& a) { a.Value(MakeOuterCircle2(a.Floats(0), a.Floats(1), a.Int(2), a.Reals(3), a.Reals(4))); }},
      {"FitFakeOuterCircle", "quadric/qcircle.h", 5, 0x3, 0x3, [](Args& a) { a.Value(FitFakeOuterCircle(a.Floats(0), a.Floats(1), a.Int(2), a.Reals(3), a.Reals(4))); }},
      {"CircleHoughTransWithRadius", "quadric/qcircle.h", 7, 0x3, 0x3, [](Args& a) { a.Value(CircleHoughTransWithRadius(a.Floats(0), a.Floats(1), a.Int(2), a.Real(3), a.Int(4), a.Int(5), a.Reals(6))); }},
      {"FitCircleWithGivenRadius", "quadric/qcircle.h", 6, 0x3, 0x3, [](Args& a) { a.Value(FitCircleWithGivenRadius(a.Floats(0), a.Floats(1), a.Int(2), a.Real(3), a.Reals(4), a.Reals(5))); }},
      {"FitCircleBsplineWithKnownRadius", "quadric/qcircle.h", 3, 0x1, 0x1, [](Args& a) { a.Made(FitCircleBsplineWithKnownRadius(a.Cld(0), a.Real(1), a.Reals(2))); }},
      {"CircleNonllsqrFitMinpack", "quadric/qnlfit.h", 9, 0x3, 0x3, [](Args& a) { a.Value(CircleNonllsqrFitMinpack(a.Floats(0), a.Floats(1), a.Int(2), a.Reals(3), a.Reals(4), a.Real(5), a.Int(6), a.Reals(7), a.Reals(8))); }},
      {"CircleNonllsqrFitWithRadiusMinpack", "quadric/qnlfit.h", 9, 0x3, 0x3, [](Args& a) { a.Value(CircleNonllsqrFitWithRadiusMinpack(a.Floats(0), a.Floats(1), a.Int(2), a.Reals(3), a.Real(4), a.Real(5), a.Int(6), a.Reals(7), a.Reals(8))); }},
      {"SphereNonllsqrFitMinpack", "quadric/qnlfit.h", 10, 0x7, 0x7, [](Args& a) { a.Value(SphereNonllsqrFitMinpack(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Reals(4), a.Reals(5), a.Real(6), a.Int(7), a.Reals(8), a.Reals(9))); }},
      {"SphereNonllsqrFitWradiusMinpack", "quadric/qnlfit.h", 10, 0x7, 0x7, [](Args& a) { a.Value(SphereNonllsqrFitWradiusMinpack(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Reals(4), a.Real(5), a.Real(6), a.Int(7), a.Reals(8), a.Reals(9))); }},
      {"CylinderNonllsqrFitMinpack", "quadric/qnlfit.h", 11, 0x7, 0x7, [](Args& a) { a.Value(CylinderNonllsqrFitMinpack(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Real(4), a.Int(5), a.Reals(6), a.Reals(7), a.Reals(8), a.Reals(9), a.Reals(10))); }},
      {"CylNonllsqrFitWradiusMinpack", "quadric/qnlfit.h", 11, 0x7, 0x7, [](Args& a) { a.Value(CylNonllsqrFitWradiusMinpack(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Real(4), a.Int(5), a.Reals(6), a.Reals(7), a.Real(8), a.Reals(9), a.Reals(10))); }},
      {"ConeNonllsqrFitMinpack", "quadric/qnlfit.h", 11, 0x7, 0x7, [](Args& a) { a.Value(ConeNonllsqrFitMinpack(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Real(4), a.Int(5), a.Reals(6), a.Reals(7), a.Reals(8), a.Reals(9), a.Reals(10))); }},
      {"AxialNonllsqrFitMinpack", "quadric/qnlfit.h", 12, 0x7, 0x7, [](Args& a) { a.Value(AxialNonllsqrFitMinpack(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Int(4), a.Int(5), a.Reals(6), a.Reals(7), a.Reals(8), a.Reals(9), a.Reals(10), a.Reals(11))); }},
      {"CircleChiSqMinPack", "quadric/qnlfit.h", 7, 0x0, 0x0, [](Args& a) { a.Value(CircleChiSqMinPack(a.Ints(0), a.Ints(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Ints(5), a.Ints(6))); }},
      {"CircleWradiusChiSq", "quadric/qnlfit.h", 7, 0x0, 0x0, [](Args& a) { a.Value(CircleWradiusChiSq(a.Ints(0), a.Ints(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Ints(5), a.Ints(6))); }},
      {"SphereChiSqMinPack", "quadric/qnlfit.h", 7, 0x0, 0x0, [](Args& a) { a.Value(SphereChiSqMinPack(a.Ints(0), a.Ints(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Ints(5), a.Ints(6))); }},
      {"SphereChiSqWradiusMinPack", "quadric/qnlfit.h", 7, 0x0, 0x0, [](Args& a) { a.Value(SphereChiSqWradiusMinPack(a.Ints(0), a.Ints(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Ints(5), a.Ints(6))); }},
      {"CylinderChiSq2Minpack", "quadric/qnlfit.h", 7, 0x0, 0x0, [](Args& a) { a.Value(CylinderChiSq2Minpack(a.Ints(0), a.Ints(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Ints(5), a.Ints(6))); }},
      {"CylinderChiSq2WradiusMinpack", "quadric/qnlfit.h", 7, 0x0, 0x0, [](Args& a) { a.Value(CylinderChiSq2WradiusMinpack(a.Ints(0), a.Ints(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Ints(5), a.Ints(6))); }},
      {"CylinderChiSqWradiusMinpack", "quadric/qnlfit.h", 7, 0x0, 0x0, [](Args& a) { a.Value(CylinderChiSqWradiusMinpack(a.Ints(0), a.Ints(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Ints(5), a.Ints(6))); }},
      {"ConeChiSqMinpack", "quadric/qnlfit.h", 7, 0x0, 0x0, [](Args& a) { a.Value(ConeChiSqMinpack(a.Ints(0), a.Ints(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Ints(5), a.Ints(6))); }},
      {"AxialChiSqMinpack", "quadric/qnlfit.h", 7, 0x0, 0x0, [](Args& a) { a.Value(AxialChiSqMinpack(a.Ints(0), a.Ints(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Ints(5), a.Ints(6))); }},
      {"SetAxialReference", "quadric/qnlfit.h", 2, 0x3, 0x0, [](Args& a) { SetAxialReference(a.Reals(0), a.Reals(1)); a.Done(); }},
      {"ConeChiSq2Minpack", "quadric/qnlfit.h", 7, 0x0, 0x0, [](Args& a) { a.Value(ConeChiSq2Minpack(a.Ints(0), a.Ints(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Ints(5), a.Ints(6))); }},
      {"PointsSpread", "quadric/qnlfit.h", 4, 0x7, 0x7, [](Args& a) { a.Value(PointsSpread(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3))); }},
      {"SphereFitError", "quadric/qnlfit.h", 8, 0x17, 0x7, [](Args& a) { a.Value(SphereFitError(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Reals(4), a.Real(5), a.Reals(6), a.Reals(7))); }},
      {"CylinderFitError", "quadric/qnlfit.h", 9, 0x37, 0x7, [](Args& a) { CylinderFitError(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Reals(4), a.Reals(5), a.Real(6), a.Reals(7), a.Reals(8)); a.Done(); }},
      {"ConeFitError", "quadric/qnlfit.h", 9, 0x37, 0x7, [](Args& a) { a.Value(ConeFitError(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Reals(4), a.Reals(5), a.Real(6), a.Reals(7), a.Reals(8))); }},
      {"TangentMeetPoint", "quadric/qrevolve.h", 4, 0x6, 0x0, [](Args& a) { a.Value(TangentMeetPoint(a.Real(0), a.Reals(1), a.Reals(2), a.Reals(3))); }},
      {"QuadricsFit", "quadric/quadrics.h", 6, 0x7, 0x7, [](Args& a) { a.Value(QuadricsFit(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Reals(4), a.Reals(5))); }},
      {"QuadricsFitError", "quadric/quadrics.h", 7, 0xf, 0xe, [](Args& a) { QuadricsFitError(a.Reals(0), a.Floats(1), a.Floats(2), a.Floats(3), a.Int(4), a.Reals(5), a.Reals(6)); a.Done(); }},
      {"QuadricsOrientation", "quadric/quadrics.h", 3, 0x1, 0x0, [](Args& a) { QuadricsOrientation(a.Reals(0), a.Matrix(1), a.Reals(2)); a.Done(); }},
      {"QuadricsGeneralCenter", "quadric/quadrics.h", 2, 0x1, 0x0, [](Args& a) { a.Value(QuadricsGeneralCenter(a.Reals(0), a.Reals(1))); }},
      {"QuadricsCenter", "quadric/quadrics.h", 3, 0x1, 0x0, [](Args& a) { a.Value(QuadricsCenter(a.Reals(0), a.Reals(1), a.Reals(2))); }},
      {"QuadricsPrincAxis", "quadric/quadrics.h", 4, 0x1, 0x0, [](Args& a) { a.Value(QuadricsPrincAxis(a.Reals(0), a.Matrix(1), a.Reals(2), a.Ints(3))); }},
      {"FitSphereBspline", "quadric/quadrics.h", 4, 0x7, 0x7, [](Args& a) { a.Made(FitSphereBspline(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3))); }},
      {"FitSphereBsplineGivenRadius", "quadric/quadrics.h", 5, 0x7, 0x7, [](Args& a) { a.Made(FitSphereBsplineGivenRadius(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Real(4))); }},
      {"MakeBsplParabolicSrf", "quadric/quadrics.h", 5, 0x18, 0x0, [](Args& a) { a.Made(MakeBsplParabolicSrf(a.Real(0), a.Real(1), a.Real(2), a.Reals(3), a.Reals(4))); }},
      {"FitALinePts", "quadric/quadrics.h", 6, 0x7, 0x7, [](Args& a) { FitALinePts(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3), a.Reals(4), a.Reals(5)); a.Done(); }},
      {"FitCirclePts", "quadric/quadrics.h", 4, 0x7, 0x7, [](Args& a) { a.Made(FitCirclePts(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3))); }},
      {"CopyDcoord", "quadric/quadrics.h", 4, 0x0, 0x0, [](Args& a) { a.Value(CopyDcoord(a.Reals(0), a.Real(1), a.Real(2), a.Real(3))); }},
      {"FitSphere", "quadric/sphere.h", 7, 0x7, 0x7, [](Args& a) { a.Value(FitSphere(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Reals(4), a.Reals(5), a.Reals(6))); }},
      {"FitSphereNewton", "quadric/sphere.h", 7, 0x7, 0x7, [](Args& a) { a.Value(FitSphereNewton(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Reals(4), a.Reals(5), a.Reals(6))); }},
      {"FitSphereWithGivenRadius", "quadric/sphere.h", 7, 0x7, 0x7, [](Args& a) { a.Value(FitSphereWithGivenRadius(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Real(4), a.Reals(5), a.Reals(6))); }},
      {"FitSphereImplicit", "quadric/sphere.h", 8, 0x7, 0x7, [](Args& a) { a.Value(FitSphereImplicit(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Reals(4), a.Reals(5), a.Reals(6), a.Reals(7))); }},
      {"SphereNonlinearFit", "quadric/sphere.h", 10, 0x7, 0x7, [](Args& a) { a.Value(SphereNonlinearFit(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Reals(4), a.Reals(5), a.Real(6), a.Int(7), a.Reals(8), a.Reals(9))); }},
      {"SphereNonlinearFitWithKnownRadius", "quadric/sphere.h", 10, 0x7, 0x7, [](Args& a) { a.Value(SphereNonlinearFitWithKnownRadius(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Reals(4), a.Real(5), a.Real(6), a.Int(7), a.Reals(8), a.Reals(9))); }},
      {"SphereChiSqr", "quadric/sphere.h", 7, 0x8, 0x8, [](Args& a) { SphereChiSqr(a.Real(0), a.Real(1), a.Real(2), a.Reals(3), a.Reals(4), a.Reals(5), a.Int(6)); a.Done(); }},
      {"InterpCurve3", "curve/cintrplt.h", 3, 0x1, 0x1, [](Args& a) { a.Made(InterpCurve3(a.Cld(0), a.Int(1), a.Int(2))); }},
      {"InterpolateLineCurve3", "curve/cintrplt.h", 2, 0x0, 0x0, [](Args& a) { a.Made(InterpolateLineCurve3(a.Reals(0), a.Reals(1))); }},
      {"GetUVKnotIndices", "curve/cintsct.h", 8, 0x3, 0x3, [](Args& a) { GetUVKnotIndices(a.Reals(0), a.Reals(1), a.Int(2), a.Int(3), a.Real(4), a.Real(5), a.Ints(6), a.Ints(7)); a.Done(); }},
      {"GetEditPoint", "curve/crvclpt.h", 3, 0x1, 0x1, [](Args& a) { a.Value(GetEditPoint(a.Reals(0), a.Int(1), a.Int(2))); }},
      {"GetNParValsPerSpan", "curve/crvoffst.h", 5, 0x1, 0x1, [](Args& a) { a.Value(GetNParValsPerSpan(a.Reals(0), a.Int(1), a.Int(2), a.Matrix(3), a.Ints(4))); }},
      {"NormalizeKnotArray", "curve/crvutil.h", 2, 0x0, 0x0, [](Args& a) { a.Value(NormalizeKnotArray(a.Reals(0), a.Int(1))); }},
      {"PutInCKnotsOfBNotInA", "curve/crvutil.h", 6, 0x5, 0x5, [](Args& a) { a.Value(PutInCKnotsOfBNotInA(a.Reals(0), a.Int(1), a.Reals(2), a.Int(3), a.Matrix(4), a.Ints(5))); }},
      {"PutInCKnotsOfBNotInA_changeA", "curve/crvutil.h", 6, 0x4, 0x4, [](Args& a) { a.Value(PutInCKnotsOfBNotInA_changeA(a.Reals(0), a.Int(1), a.Reals(2), a.Int(3), a.Matrix(4), a.Ints(5))); }},
      {"PutAllKnotsWithinTolOfValToVal", "curve/crvutil.h", 5, 0x0, 0x0, [](Args& a) { a.Value(PutAllKnotsWithinTolOfValToVal(a.Reals(0), a.Int(1), a.Int(2), a.Real(3), a.Real(4))); }},
      {"UnionKnotArrays", "curve/crvutil.h", 6, 0x5, 0x5, [](Args& a) { UnionKnotArrays(a.Reals(0), a.Int(1), a.Reals(2), a.Int(3), a.Matrix(4), a.Ints(5)); a.Done(); }},
      {"ReflectPointsThrough", "curve/endspan.h", 12, 0x3f, 0x3f, [](Args& a) { ReflectPointsThrough(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Reals(5), a.Int(6), a.Int(7), a.Int(8), a.Reals(9), a.Reals(10), a.Reals(11)); a.Done(); }},
      {"MirrorInNormalPlanes", "curve/endspan.h", 14, 0x1ff, 0x1ff, [](Args& a) { MirrorInNormalPlanes(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Reals(5), a.Reals(6), a.Reals(7), a.Reals(8), a.Int(9), a.Int(10), a.Reals(11), a.Reals(12), a.Reals(13)); a.Done(); }},
      {"normalize_tarray3", "curve/fitcurve.h", 5, 0x7, 0x7, [](Args& a) { a.Value(normalize_tarray3(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Reals(4))); }},
      {"ComputeCurvePanaltyMat", "curve/fitcurve.h", 4, 0x0, 0x0, [](Args& a) { a.Value(ComputeCurvePanaltyMat(a.Matrix(0), a.Int(1), a.Real(2), a.Reals(3))); }},
      {"FitCurveBsplineWithGivenKnots", "curve/fitcurve.h", 6, 0x1, 0x1, [](Args& a) { a.Made(FitCurveBsplineWithGivenKnots(a.Cld(0), a.Reals(1), a.Int(2), a.Reals(3), a.Int(4), a.Int(5))); }},
      {"FitCurveBsplineGivenKnots_Host", "curve/fitcurve.h", 7, 0x1, 0x1, [](Args& a) { a.Made(FitCurveBsplineGivenKnots_Host(a.Cld(0), a.Reals(1), a.Int(2), a.Reals(3), a.Int(4), a.Int(5), a.Int(6))); }},
      {"GetCloudCurvature", "curve/fittotol.h", 6, 0x1, 0x1, [](Args& a) { a.Value(GetCloudCurvature(a.Cld(0), a.Reals(1), a.Real(2), a.Triples(3), a.Reals(4), a.Reals(5))); }},
      {"GetCldMaxCurv", "curve/fittotol.h", 4, 0x1, 0x1, [](Args& a) { a.Value(GetCldMaxCurv(a.Cld(0), a.Ints(1), a.Ints(2), a.Real(3))); }},
      {"GetCloudParameters", "curve/fittotol.h", 4, 0x1, 0x1, [](Args& a) { GetCloudParameters(a.Cld(0), a.Int(1), a.Reals(2), a.Reals(3)); a.Done(); }},
      {"CreateLineBsplineDegree1", "curve/mkline3.h", 2, 0x3, 0x0, [](Args& a) { a.Made(CreateLineBsplineDegree1(a.Reals(0), a.Reals(1))); }},
      {"InterpolatePoints", "curve/pntintrp.h", 7, 0x0, 0x0, [](Args& a) { a.Made(InterpolatePoints(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3), a.Reals(4), a.Int(5), a.Int(6))); }},
      {"InterpolatePoints_f", "curve/pntintrp.h", 7, 0x7, 0x7, [](Args& a) { a.Made(InterpolatePoints_f(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Reals(4), a.Int(5), a.Int(6))); }},
      {"InterpolatePointsAnyDegree", "curve/pntintrp.h", 6, 0x0, 0x0, [](Args& a) { a.Made(InterpolatePointsAnyDegree(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3), a.Reals(4), a.Int(5))); }},
      {"InterpolateDegree1", "curve/pntintrp.h", 5, 0x0, 0x0, [](Args& a) { a.Made(InterpolateDegree1(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3), a.Reals(4))); }},
      {"SeparateDuplicates", "curve/pntintrp.h", 5, 0x0, 0x0, [](Args& a) { a.Value(SeparateDuplicates(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3), a.Real(4))); }},
      {"PaddedChordParams", "curve/pntintrp.h", 6, 0x7, 0x7, [](Args& a) { PaddedChordParams(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3), a.Int(4), a.Reals(5)); a.Done(); }},
      {"TridiagCollocation", "curve/pntintrp.h", 8, 0x1, 0x1, [](Args& a) { TridiagCollocation(a.Reals(0), a.Int(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Int(5), a.Int(6), a.Int(7)); a.Done(); }},
      {"BesselEnds", "curve/pntintrp.h", 5, 0x3, 0x3, [](Args& a) { BesselEnds(a.Reals(0), a.Reals(1), a.Int(2), a.Reals(3), a.Reals(4)); a.Done(); }},
      {"FactorTridiag", "curve/pntintrp.h", 6, 0x7, 0x7, [](Args& a) { FactorTridiag(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Int(5)); a.Done(); }},
      {"SolveTridiag", "curve/pntintrp.h", 6, 0x17, 0x17, [](Args& a) { SolveTridiag(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3), a.Reals(4), a.Reals(5)); a.Done(); }},
      {"BandCollocation", "curve/pntintrp.h", 7, 0x3, 0x3, [](Args& a) { BandCollocation(a.Reals(0), a.Reals(1), a.Int(2), a.Matrix(3), a.Ints(4), a.Int(5), a.Int(6)); a.Done(); }},
      {"FactorBandRows", "curve/pntintrp.h", 5, 0x0, 0x0, [](Args& a) { a.Value(FactorBandRows(a.Matrix(0), a.Int(1), a.Int(2), a.Int(3), a.Ints(4))); }},
      {"SolveBandRows", "curve/pntintrp.h", 6, 0x24, 0x24, [](Args& a) { a.Value(SolveBandRows(a.Matrix(0), a.Int(1), a.Reals(2), a.Reals(3), a.Int(4), a.Ints(5))); }},
      {"AveragedKnotVector", "curve/pntintrp.h", 3, 0x1, 0x1, [](Args& a) { a.Pointer(AveragedKnotVector(a.Reals(0), a.Int(1), a.Int(2))); }},
      {"AddPointsToOrder", "curve/pntintrp.h", 5, 0x0, 0x0, [](Args& a) { a.Value(AddPointsToOrder(a.Matrix(0), a.Matrix(1), a.Matrix(2), a.Ints(3), a.Int(4))); }},
      {"InsertMidpointsSymmetric", "curve/pntintrp.h", 4, 0x1, 0x1, [](Args& a) { a.Pointer(InsertMidpointsSymmetric(a.Reals(0), a.Int(1), a.Int(2), a.Int(3))); }},
      {"InsertParamsSymmetric", "curve/pntintrp.h", 4, 0x1, 0x1, [](Args& a) { a.Pointer(InsertParamsSymmetric(a.Reals(0), a.Int(1), a.Int(2), a.Ints(3))); }},
      {"InsertInLargestSpans", "curve/pntintrp.h", 4, 0x0, 0x0, [](Args& a) { a.Pointer(InsertInLargestSpans(a.Reals(0), a.Int(1), a.Int(2), a.Int(3))); }},
      {"SortedFiniteArray", "curve/pntintrp.h", 2, 0x1, 0x1, [](Args& a) { a.Value(SortedFiniteArray(a.Reals(0), a.Int(1))); }},
      {"WrapCloudForClosedFit", "curve/pntintrp.h", 4, 0x1, 0x1, [](Args& a) { a.Value(WrapCloudForClosedFit(a.Cld(0), a.Int(1), a.Int(2), a.Matrix(3))); }},
      {"WrapCloudArrays", "curve/pntintrp.h", 8, 0x1, 0x1, [](Args& a) { WrapCloudArrays(a.Cld(0), a.Floats(1), a.Floats(2), a.Floats(3), a.Int(4), a.Int(5), a.Int(6), a.Ints(7)); a.Done(); }},
      {"RemoveSpikesFromClds", "curve/premove.h", 4, 0x1, 0x1, [](Args& a) { a.Value(RemoveSpikesFromClds(a.Cld(0), a.Real(1), a.Int(2), a.Int(3))); }},
      {"RemoveSpikesFromCldStrs", "curve/premove.h", 7, 0x61, 0x61, [](Args& a) { a.Value(RemoveSpikesFromCldStrs(a.Cld(0), a.Int(1), a.Int(2), a.Real(3), a.Int(4), a.Ints(5), a.Ints(6))); }},
      {"RemoveSpikesArbitCloud", "curve/premove.h", 4, 0x1, 0x1, [](Args& a) { a.Value(RemoveSpikesArbitCloud(a.Cld(0), a.Int(1), a.Int(2), a.Real(3))); }},
      {"FindBestClosestPt", "curve/psort.h", 8, 0x4e, 0xe, [](Args& a) { FindBestClosestPt(a.Int(0), a.Floats(1), a.Floats(2), a.Floats(3), a.Int(4), a.Int(5), a.Reals(6), a.Reals(7)); a.Done(); }},
      {"RearrangeCloudStartsByPline", "curve/psort.h", 5, 0x1d, 0x1d, [](Args& a) { a.Pointer(RearrangeCloudStartsByPline(a.Cld(0), a.Int(1), a.Reals(2), a.Reals(3), a.Reals(4))); }},
      {"BoxesNest", "surface/srfdup.h", 3, 0x3, 0x0, [](Args& a) { a.Value(BoxesNest(a.Reals(0), a.Reals(1), a.Real(2))); }},
      {"GridLineLengthExtremes", "surface/srfextend.h", 8, 0x7, 0x7, [](Args& a) { GridLineLengthExtremes(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3), a.Int(4), a.Int(5), a.Int(6), a.Reals(7)); a.Done(); }},
      {"ScaleAboutReference", "surface/srfextend.h", 5, 0x2, 0x2, [](Args& a) { ScaleAboutReference(a.Reals(0), a.Reals(1), a.Real(2), a.Int(3), a.Int(4)); a.Done(); }},
      {"CheckTrimCurveBBoxIntersect", "surface/srfline.h", 3, 0x1, 0x0, [](Args& a) { a.Value(CheckTrimCurveBBoxIntersect(a.Reals(0), a.Real(1), a.Int(2))); }},
      {"IsBoundaryPoint", "surface/srfline.h", 2, 0x2, 0x0, [](Args& a) { a.Value(IsBoundaryPoint(a.Real(0), a.Reals(1))); }},
      {"AngleBetweenVectors", "surface/srfsnip.h", 2, 0x3, 0x0, [](Args& a) { a.Value(AngleBetweenVectors(a.Reals(0), a.Reals(1))); }},
      {"GetParSamplesInIntervals", "surface/srfsnip.h", 7, 0x1, 0x1, [](Args& a) { a.Value(GetParSamplesInIntervals(a.Reals(0), a.Int(1), a.Int(2), a.Real(3), a.Real(4), a.Matrix(5), a.Ints(6))); }},
      {"FindParamValuesOfCoefiFromKnots", "surface/srfutils.h", 4, 0x1, 0x1, [](Args& a) { FindParamValuesOfCoefiFromKnots(a.Reals(0), a.Int(1), a.Int(2), a.Reals(3)); a.Done(); }},
      {"GetCleanKnotsFromKnots", "surface/srfutils.h", 6, 0x1, 0x1, [](Args& a) { a.Value(GetCleanKnotsFromKnots(a.Reals(0), a.Int(1), a.Int(2), a.Ints(3), a.Reals(4), a.Real(5))); }},
      {"PointInPolygonByFarPoint", "surface/trimutils.h", 7, 0x30, 0x30, [](Args& a) { a.Value(PointInPolygonByFarPoint(a.Real(0), a.Real(1), a.Real(2), a.Real(3), a.Reals(4), a.Reals(5), a.Int(6))); }},
      {"WeedOutDistSq", "shrinkwrap/clouddev.h", 6, 0x38, 0x38, [](Args& a) { a.Value(WeedOutDistSq(a.Real(0), a.Int(1), a.Int(2), a.Floats(3), a.Floats(4), a.Floats(5))); }},
      {"LminCrvMVCFunctional", "shrinkwrap/crvfair.h", 3, 0x1, 0x1, [](Args& a) { a.Value(LminCrvMVCFunctional(a.Reals(0), a.Int(1), a.Reals(2))); }},
      {"LminCrvMVCFuncGrad", "shrinkwrap/crvfair.h", 3, 0x1, 0x1, [](Args& a) { a.Value(LminCrvMVCFuncGrad(a.Reals(0), a.Int(1), a.Reals(2))); }},
      {"lminCrvMVCStop", "shrinkwrap/crvfair.h", 2, 0x1, 0x1, [](Args& a) { a.Value(lminCrvMVCStop(a.Reals(0), a.Int(1))); }},
      {"GetNSamplePerSpan", "shrinkwrap/crvfair.h", 5, 0x1, 0x1, [](Args& a) { a.Value(GetNSamplePerSpan(a.Reals(0), a.Int(1), a.Int(2), a.Matrix(3), a.Ints(4))); }},
      {"GetNSampleInterval", "shrinkwrap/crvfair.h", 4, 0x0, 0x0, [](Args& a) { GetNSampleInterval(a.Real(0), a.Real(1), a.Int(2), a.Reals(3)); a.Done(); }},
      {"SetupKnotIntegralSample", "shrinkwrap/crvfair.h", 8, 0x1, 0x1, [](Args& a) { a.Value(SetupKnotIntegralSample(a.Reals(0), a.Int(1), a.Int(2), a.Real(3), a.Real(4), a.Matrix(5), a.Matrix(6), a.Ints(7))); }},
      {"GetGaussQuadSampleWeight", "shrinkwrap/crvfair.h", 5, 0x0, 0x0, [](Args& a) { a.Value(GetGaussQuadSampleWeight(a.Real(0), a.Real(1), a.Matrix(2), a.Matrix(3), a.Ints(4))); }},
      {"ComputeCenterOfMassD", "shrinkwrap/crvfair.h", 5, 0x7, 0x7, [](Args& a) { ComputeCenterOfMassD(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3), a.Reals(4)); a.Done(); }},
      {"NormalizePointSetD", "shrinkwrap/crvfair.h", 7, 0x0, 0x0, [](Args& a) { a.Value(NormalizePointSetD(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3), a.Real(4), a.Reals(5), a.Reals(6))); }},
      {"TranslateScalePointSet", "shrinkwrap/crvfair.h", 6, 0x10, 0x0, [](Args& a) { TranslateScalePointSet(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3), a.Reals(4), a.Real(5)); a.Done(); }},
      {"ScaleTranslatePointSet", "shrinkwrap/crvfair.h", 6, 0x10, 0x0, [](Args& a) { ScaleTranslatePointSet(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3), a.Reals(4), a.Real(5)); a.Done(); }},
      {"NubValRecursive", "shrinkwrap/crvnet.h", 5, 0x1, 0x1, [](Args& a) { a.Value(NubValRecursive(a.Reals(0), a.Int(1), a.Int(2), a.Real(3), a.Real(4))); }},
      {"ComputeGramMatrixGQ", "shrinkwrap/crvnet.h", 4, 0x1, 0x1, [](Args& a) { a.Value(ComputeGramMatrixGQ(a.Reals(0), a.Int(1), a.Int(2), a.Matrix(3))); }},
      {"ComputeDiffGramMatrix", "shrinkwrap/crvnet.h", 5, 0x1, 0x1, [](Args& a) { a.Value(ComputeDiffGramMatrix(a.Reals(0), a.Int(1), a.Int(2), a.Int(3), a.Matrix(4))); }},
      {"NSplineDerivative", "shrinkwrap/crvnet.h", 6, 0x11, 0x11, [](Args& a) { a.Value(NSplineDerivative(a.Reals(0), a.Int(1), a.Int(2), a.Int(3), a.Reals(4), a.Reals(5))); }},
      {"SingleSplineDerivative", "shrinkwrap/crvnet.h", 6, 0x1, 0x1, [](Args& a) { a.Value(SingleSplineDerivative(a.Reals(0), a.Int(1), a.Int(2), a.Int(3), a.Int(4), a.Reals(5))); }},
      {"SelectCntrlPntChanged", "shrinkwrap/crvnet.h", 5, 0x0, 0x0, [](Args& a) { a.Value(SelectCntrlPntChanged(a.Matrix(0), a.Int(1), a.Int(2), a.Ints(3), a.Ints(4))); }},
      {"SelectThinPlateConstraintMatrix", "shrinkwrap/crvnet.h", 7, 0x10, 0x10, [](Args& a) { a.Value(SelectThinPlateConstraintMatrix(a.Matrix(0), a.Matrix(1), a.Int(2), a.Int(3), a.Ints(4), a.Int(5), a.Matrix(6))); }},
      {"SolveLEQP", "shrinkwrap/cshrink.h", 6, 0x0, 0x0, [](Args& a) { a.Value(SolveLEQP(a.Matrix(0), a.Reals(1), a.Int(2), a.Matrix(3), a.Reals(4), a.Int(5))); }},
      {"SolveLEQP3", "shrinkwrap/cshrink.h", 10, 0x0, 0x0, [](Args& a) { a.Value(SolveLEQP3(a.Matrix(0), a.Int(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Matrix(5), a.Int(6), a.Reals(7), a.Reals(8), a.Reals(9))); }},
      {"FindMidKnotInLongInfluenceSpan", "shrinkwrap/cshrink.h", 5, 0x1, 0x1, [](Args& a) { a.Value(FindMidKnotInLongInfluenceSpan(a.Reals(0), a.Int(1), a.Int(2), a.Int(3), a.Reals(4))); }},
      {"FairPolylineLambdaGamma", "shrinkwrap/csmooth.h", 12, 0x10, 0x10, [](Args& a) { a.Value(FairPolylineLambdaGamma(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3), a.Ints(4), a.Int(5), a.Int(6), a.Int(7), a.Real(8), a.Real(9), a.Int(10), a.Real(11))); }},
      {"PolylineLength", "shrinkwrap/csmooth.h", 4, 0x7, 0x7, [](Args& a) { a.Value(PolylineLength(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3))); }},
      {"GetNeighborSmoothingWeight", "shrinkwrap/csmooth.h", 8, 0xf, 0xe, [](Args& a) { a.Value(GetNeighborSmoothingWeight(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Int(4), a.Int(5), a.Real(6), a.Reals(7))); }},
      {"MaxShrinkFactorlambda", "shrinkwrap/csmooth.h", 2, 0x0, 0x0, [](Args& a) { a.Value(MaxShrinkFactorlambda(a.Real(0), a.Reals(1))); }},
      {"ComputeLambdaGammaFromPassbandFqncy", "shrinkwrap/csmooth.h", 3, 0x0, 0x0, [](Args& a) { a.Value(ComputeLambdaGammaFromPassbandFqncy(a.Real(0), a.Real(1), a.Reals(2))); }},
      {"CollocationRowsAtParams", "shrinkwrap/gridintp.h", 7, 0x3, 0x3, [](Args& a) { CollocationRowsAtParams(a.Reals(0), a.Reals(1), a.Int(2), a.Matrix(3), a.Ints(4), a.Int(5), a.Int(6)); a.Done(); }},
      {"CurveAtParams", "shrinkwrap/gridintp.h", 7, 0x28, 0x28, [](Args& a) { a.Made(CurveAtParams(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Int(4), a.Reals(5), a.Int(6))); }},
      {"GridAtParams", "shrinkwrap/gridintp.h", 11, 0x1e0, 0x1e0, [](Args& a) { a.Made(GridAtParams(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3), a.Int(4), a.Reals(5), a.Reals(6), a.Reals(7), a.Reals(8), a.Int(9), a.Int(10))); }},
      {"ControlNetPenaltyBand", "shrinkwrap/platefit.h", 5, 0x10, 0x10, [](Args& a) { a.Value(ControlNetPenaltyBand(a.Matrix(0), a.Int(1), a.Int(2), a.Int(3), a.Reals(4))); }},
      {"HeightRangeOfPoints", "shrinkwrap/platefit.h", 5, 0x7, 0x7, [](Args& a) { HeightRangeOfPoints(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Reals(4)); a.Done(); }},
      {"FindUniformKnotLocInInterval", "shrinkwrap/shrink.h", 8, 0x1, 0x1, [](Args& a) { a.Value(FindUniformKnotLocInInterval(a.Reals(0), a.Int(1), a.Int(2), a.Real(3), a.Real(4), a.Int(5), a.Matrix(6), a.Ints(7))); }},
      {"SelectDiffCloudInParamBox", "shrinkwrap/shrink.h", 5, 0x1, 0x1, [](Args& a) { a.Value(SelectDiffCloudInParamBox(a.Cld(0), a.Real(1), a.Real(2), a.Real(3), a.Real(4))); }},
      {"Sort3DPointsUsing1DPoints", "shrinkwrap/shrink.h", 7, 0x0, 0x0, [](Args& a) { Sort3DPointsUsing1DPoints(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Int(4), a.Int(5), a.Int(6)); a.Done(); }},
      {"Sort3DPointsUsing2DPoints", "shrinkwrap/shrink.h", 7, 0x0, 0x0, [](Args& a) { Sort3DPointsUsing2DPoints(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Int(5), a.Int(6)); a.Done(); }},
      {"SearchVector", "shrinkwrap/smooth.h", 3, 0x1, 0x1, [](Args& a) { a.Value(SearchVector(a.Reals(0), a.Real(1), a.Int(2))); }},
      {"SearchVectorSeeded", "shrinkwrap/smooth.h", 4, 0x1, 0x1, [](Args& a) { a.Value(SearchVectorSeeded(a.Reals(0), a.Real(1), a.Int(2), a.Int(3))); }},
      {"TangentMagnitude", "stitch/crossder.h", 4, 0x7, 0x0, [](Args& a) { a.Value(TangentMagnitude(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3))); }},
      {"DerivativeMagnitudeNear", "stitch/crossder.h", 5, 0x0, 0x0, [](Args& a) { a.Value(DerivativeMagnitudeNear(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3), a.Int(4))); }},
      {"GetNpntsPSpan", "stitch/srfcont.h", 4, 0x1, 0x1, [](Args& a) { GetNpntsPSpan(a.Reals(0), a.Int(1), a.Reals(2), a.Int(3)); a.Done(); }},
      {"EstimateWeedOutDistSq", "stitch/srferr.h", 6, 0x38, 0x38, [](Args& a) { a.Value(EstimateWeedOutDistSq(a.Real(0), a.Int(1), a.Int(2), a.Floats(3), a.Floats(4), a.Floats(5))); }},
      {"GetCurrentSoftHardTols", "stitch/srferr.h", 4, 0x0, 0x0, [](Args& a) { a.Value(GetCurrentSoftHardTols(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3))); }},
      {"ScaleLineToGivenLen", "stitch/userdef.h", 4, 0x1, 0x0, [](Args& a) { ScaleLineToGivenLen(a.Reals(0), a.Reals(1), a.Real(2), a.Real(3)); a.Done(); }},
      {"CopyVecWOffsetToVec", "stitch/vcnobj.h", 4, 0x1, 0x1, [](Args& a) { CopyVecWOffsetToVec(a.Reals(0), a.Int(1), a.Reals(2), a.Int(3)); a.Done(); }},
      {"copy_back_coefi_acyl", "splinefit/acyleng.h", 6, 0x0, 0x0, [](Args& a) { copy_back_coefi_acyl(a.Matrix(0), a.Matrix(1), a.Int(2), a.Int(3), a.Int(4), a.Int(5)); a.Done(); }},
      {"equalize_coeficents_cyl", "splinefit/acyleng.h", 5, 0x0, 0x0, [](Args& a) { equalize_coeficents_cyl(a.Matrix(0), a.Int(1), a.Int(2), a.Int(3), a.Int(4)); a.Done(); }},
      {"solve_linear_eq_h", "splinefit/aspline.h", 4, 0x0, 0x0, [](Args& a) { a.Value(solve_linear_eq_h(a.Matrix(0), a.Int(1), a.Int(2), a.Reals(3))); }},
      {"ComputeCntrlPntsPanaltyMat", "splinefit/aspline.h", 5, 0x10, 0x10, [](Args& a) { a.Value(ComputeCntrlPntsPanaltyMat(a.Matrix(0), a.Int(1), a.Int(2), a.Int(3), a.Reals(4))); }},
      {"FindUObs", "splinefit/aspline.h", 5, 0x7, 0x7, [](Args& a) { FindUObs(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Reals(4)); a.Done(); }},
      {"cmp_wraped_bspl", "splinefit/aspline.h", 4, 0x0, 0x0, [](Args& a) { cmp_wraped_bspl(a.Real(0), a.Real(1), a.Int(2), a.Reals(3)); a.Done(); }},
      {"cmp_unwraped_bspl", "splinefit/aspline.h", 6, 0x0, 0x0, [](Args& a) { cmp_unwraped_bspl(a.Real(0), a.Real(1), a.Int(2), a.Reals(3), a.Int(4), a.Int(5)); a.Done(); }},
      {"cmp_multipleknot_bspl", "splinefit/aspline.h", 6, 0x0, 0x0, [](Args& a) { cmp_multipleknot_bspl(a.Real(0), a.Real(1), a.Int(2), a.Reals(3), a.Int(4), a.Int(5)); a.Done(); }},
      {"shift_integral", "splinefit/aspline.h", 2, 0x0, 0x0, [](Args& a) { shift_integral(a.Int(0), a.Reals(1)); a.Done(); }},
      {"itera_improve_coefi", "splinefit/aspline.h", 5, 0x8, 0x8, [](Args& a) { itera_improve_coefi(a.Int(0), a.Int(1), a.Reals(2), a.Reals(3), a.Int(4)); a.Done(); }},
      {"GetNextParallelTransport", "splinefit/crvframe.h", 4, 0x0, 0x0, [](Args& a) { a.Value(GetNextParallelTransport(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3))); }},
      {"solve_linear_eq_curve", "splinefit/curve.h", 6, 0x0, 0x0, [](Args& a) { a.Value(solve_linear_eq_curve(a.Matrix(0), a.Int(1), a.Int(2), a.Reals(3), a.Reals(4), a.Reals(5))); }},
      {"SetCanonicalBox", "splinefit/cylfit.h", 1, 0x1, 0x1, [](Args& a) { SetCanonicalBox(a.Cld(0)); a.Done(); }},
      {"PlaceCanonicalSeam", "splinefit/cylfit.h", 2, 0x3, 0x3, [](Args& a) { a.Value(PlaceCanonicalSeam(a.Cld(0), a.Ints(1))); }},
      {"RadialRoughness", "splinefit/cylfit.h", 2, 0x1, 0x1, [](Args& a) { a.Value(RadialRoughness(a.Cld(0), a.Real(1))); }},
      {"SmoothnessToRoughness", "splinefit/fitsplin.h", 1, 0x0, 0x0, [](Args& a) { SmoothnessToRoughness(a.Reals(0)); a.Done(); }},
      {"RoughnessToSmoothness", "splinefit/fitsplin.h", 1, 0x0, 0x0, [](Args& a) { a.Pointer(RoughnessToSmoothness(a.Reals(0))); }},
      {"FitSplineSurfaceGeometry", "splinefit/fitsplin.h", 10, 0x1, 0x1, [](Args& a) { a.Made(FitSplineSurfaceGeometry(a.Cld(0), a.Int(1), a.Int(2), a.Int(3), a.Int(4), a.Int(5), a.Int(6), a.Real(7), a.Real(8), a.Real(9))); }},
      {"SimpleFitSplineSurface", "splinefit/fitsplin.h", 6, 0x1, 0x1, [](Args& a) { a.Made(SimpleFitSplineSurface(a.Cld(0), a.Int(1), a.Int(2), a.Int(3), a.Int(4), a.Int(5))); }},
      {"SimpleFitSplineSurfaceZAlignFree", "splinefit/fitsplin.h", 6, 0x1, 0x1, [](Args& a) { a.Made(SimpleFitSplineSurfaceZAlignFree(a.Cld(0), a.Int(1), a.Int(2), a.Int(3), a.Int(4), a.Int(5))); }},
      {"FitSplineSurfaceZAlignFree", "splinefit/fitsplin.h", 10, 0x1, 0x1, [](Args& a) { a.Made(FitSplineSurfaceZAlignFree(a.Cld(0), a.Int(1), a.Int(2), a.Int(3), a.Int(4), a.Int(5), a.Int(6), a.Real(7), a.Real(8), a.Real(9))); }},
      {"FitCartisianSpline", "splinefit/fitsplin.h", 10, 0x1, 0x1, [](Args& a) { a.Made(FitCartisianSpline(a.Cld(0), a.Reals(1), a.Int(2), a.Int(3), a.Int(4), a.Int(5), a.Int(6), a.Real(7), a.Real(8), a.Real(9))); }},
      {"find_gcar_coefi", "splinefit/gcareng.h", 15, 0x195, 0x195, [](Args& a) { find_gcar_coefi(a.Floats(0), a.Int(1), a.Floats(2), a.Int(3), a.Floats(4), a.Int(5), a.Int(6), a.Reals(7), a.Reals(8), a.Reals(9), a.Real(10), a.Real(11), a.Real(12), a.Real(13), a.Int(14)); a.Done(); }},
      {"CurveIntrplt", "splinefit/intrplt.h", 7, 0x0, 0x0, [](Args& a) { a.Made(CurveIntrplt(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3), a.Reals(4), a.Int(5), a.Int(6))); }},
      {"CurveIntrplt_f", "splinefit/intrplt.h", 7, 0x7, 0x7, [](Args& a) { a.Made(CurveIntrplt_f(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Reals(4), a.Int(5), a.Int(6))); }},
      {"MakeCurveZero", "splinefit/intrplt.h", 4, 0x7, 0x7, [](Args& a) { a.Made(MakeCurveZero(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3))); }},
      {"IntrpltWithDegree1", "splinefit/intrplt.h", 5, 0x0, 0x0, [](Args& a) { a.Made(IntrpltWithDegree1(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3), a.Reals(4))); }},
      {"FixDuplicates", "splinefit/intrplt.h", 5, 0x0, 0x0, [](Args& a) { a.Value(FixDuplicates(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3), a.Real(4))); }},
      {"AssignKnots", "splinefit/intrplt.h", 5, 0x7, 0x7, [](Args& a) { AssignKnots(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3), a.Reals(4)); a.Done(); }},
      {"AssignKnotsForDegree1", "splinefit/intrplt.h", 5, 0x7, 0x7, [](Args& a) { AssignKnotsForDegree1(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3), a.Reals(4)); a.Done(); }},
      {"NewAssignKnots", "splinefit/intrplt.h", 6, 0x7, 0x7, [](Args& a) { NewAssignKnots(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3), a.Int(4), a.Reals(5)); a.Done(); }},
      {"setup_system", "splinefit/intrplt.h", 8, 0x1, 0x1, [](Args& a) { setup_system(a.Reals(0), a.Int(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Int(5), a.Int(6), a.Int(7)); a.Done(); }},
      {"bessel_ends", "splinefit/intrplt.h", 5, 0x3, 0x3, [](Args& a) { bessel_ends(a.Reals(0), a.Reals(1), a.Int(2), a.Reals(3), a.Reals(4)); a.Done(); }},
      {"LUD_tridiag", "splinefit/intrplt.h", 6, 0x7, 0x7, [](Args& a) { LUD_tridiag(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Int(5)); a.Done(); }},
      {"solve_tridiag", "splinefit/intrplt.h", 6, 0x17, 0x17, [](Args& a) { solve_tridiag(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3), a.Reals(4), a.Reals(5)); a.Done(); }},
      {"NewCurveIntrplt", "splinefit/intrplt.h", 6, 0x0, 0x0, [](Args& a) { a.Made(NewCurveIntrplt(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3), a.Reals(4), a.Int(5))); }},
      {"Newsetup_system", "splinefit/intrplt.h", 7, 0x3, 0x3, [](Args& a) { Newsetup_system(a.Reals(0), a.Reals(1), a.Int(2), a.Matrix(3), a.Ints(4), a.Int(5), a.Int(6)); a.Done(); }},
      {"LUD_BandMatrix", "splinefit/intrplt.h", 5, 0x0, 0x0, [](Args& a) { a.Value(LUD_BandMatrix(a.Matrix(0), a.Int(1), a.Int(2), a.Int(3), a.Ints(4))); }},
      {"solve_BandMatrix", "splinefit/intrplt.h", 6, 0x24, 0x24, [](Args& a) { a.Value(solve_BandMatrix(a.Matrix(0), a.Int(1), a.Reals(2), a.Reals(3), a.Int(4), a.Ints(5))); }},
      {"RemoveByAveKnotsForInterpolate", "splinefit/intrplt.h", 3, 0x1, 0x1, [](Args& a) { a.Pointer(RemoveByAveKnotsForInterpolate(a.Reals(0), a.Int(1), a.Int(2))); }},
      {"AddPointsIfLessThanOrder", "splinefit/intrplt.h", 5, 0x0, 0x0, [](Args& a) { a.Value(AddPointsIfLessThanOrder(a.Matrix(0), a.Matrix(1), a.Matrix(2), a.Ints(3), a.Int(4))); }},
      {"GetNewKnotsAfterInsert", "splinefit/intrplt.h", 4, 0x1, 0x1, [](Args& a) { a.Pointer(GetNewKnotsAfterInsert(a.Reals(0), a.Int(1), a.Int(2), a.Ints(3))); }},
      {"InsertSymmetricKnots", "splinefit/intrplt.h", 4, 0x1, 0x1, [](Args& a) { a.Pointer(InsertSymmetricKnots(a.Reals(0), a.Int(1), a.Int(2), a.Int(3))); }},
      {"GetLargestSpanAndInsert", "splinefit/intrplt.h", 4, 0x0, 0x0, [](Args& a) { a.Pointer(GetLargestSpanAndInsert(a.Reals(0), a.Int(1), a.Int(2), a.Int(3))); }},
      {"RemoveKnotsForInterpolate", "splinefit/intrplt.h", 3, 0x1, 0x1, [](Args& a) { a.Pointer(RemoveKnotsForInterpolate(a.Reals(0), a.Int(1), a.Int(2))); }},
      {"TestRemoveKnotsForInterpolate", "splinefit/intrplt.h", 3, 0x1, 0x1, [](Args& a) { a.Pointer(TestRemoveKnotsForInterpolate(a.Reals(0), a.Int(1), a.Int(2))); }},
      {"SurfaceInterpolate", "splinefit/intrplt.h", 9, 0x0, 0x0, [](Args& a) { a.Made(SurfaceInterpolate(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3), a.Int(4), a.Reals(5), a.Reals(6), a.Int(7), a.Int(8))); }},
      {"SurfaceInterpolate_f", "splinefit/intrplt.h", 9, 0x7, 0x7, [](Args& a) { a.Made(SurfaceInterpolate_f(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Int(4), a.Reals(5), a.Reals(6), a.Int(7), a.Int(8))); }},
      {"NewSurfaceInterpolate", "splinefit/intrplt.h", 9, 0x0, 0x0, [](Args& a) { a.Made(NewSurfaceInterpolate(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3), a.Int(4), a.Reals(5), a.Reals(6), a.Int(7), a.Int(8))); }},
      {"NewSurfaceInterpolate_f", "splinefit/intrplt.h", 9, 0x7, 0x7, [](Args& a) { a.Made(NewSurfaceInterpolate_f(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Int(4), a.Reals(5), a.Reals(6), a.Int(7), a.Int(8))); }},
      {"CreateKnotVectorForNVectors", "splinefit/intrplt.h", 6, 0x7, 0x7, [](Args& a) { a.Pointer(CreateKnotVectorForNVectors(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3), a.Int(4), a.Int(5))); }},
      {"AddPointsInGridIfLessThanOrder", "splinefit/intrplt.h", 7, 0x0, 0x0, [](Args& a) { a.Value(AddPointsInGridIfLessThanOrder(a.Matrix(0), a.Matrix(1), a.Matrix(2), a.Ints(3), a.Ints(4), a.Int(5), a.Int(6))); }},
      {"CurveIntrpltShrink", "splinefit/intrplt.h", 7, 0x28, 0x28, [](Args& a) { a.Made(CurveIntrpltShrink(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Int(4), a.Reals(5), a.Int(6))); }},
      {"SurfaceInterpolateShrink", "splinefit/intrplt.h", 11, 0x1e0, 0x1e0, [](Args& a) { a.Made(SurfaceInterpolateShrink(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3), a.Int(4), a.Reals(5), a.Reals(6), a.Reals(7), a.Reals(8), a.Int(9), a.Int(10))); }},
      {"SetupSystemShrink", "splinefit/intrplt.h", 7, 0x3, 0x3, [](Args& a) { SetupSystemShrink(a.Reals(0), a.Reals(1), a.Int(2), a.Matrix(3), a.Ints(4), a.Int(5), a.Int(6)); a.Done(); }},
      {"FindDistinctKnots", "splinefit/sconvert.h", 4, 0x2, 0x2, [](Args& a) { FindDistinctKnots(a.Int(0), a.Reals(1), a.Ints(2), a.Matrix(3)); a.Done(); }},
      {"CleanKnotsToSpecMult", "splinefit/sconvert.h", 5, 0x0, 0x0, [](Args& a) { a.Value(CleanKnotsToSpecMult(a.Reals(0), a.Int(1), a.Real(2), a.Int(3), a.Matrix(4))); }},
      {"InsertNewKnotsInLargeSpan", "splinefit/sconvert.h", 4, 0x0, 0x0, [](Args& a) { a.Pointer(InsertNewKnotsInLargeSpan(a.Reals(0), a.Int(1), a.Int(2), a.Ints(3))); }},
      {"FindUObs_d", "splinefit/sconvert.h", 5, 0x7, 0x7, [](Args& a) { FindUObs_d(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3), a.Reals(4)); a.Done(); }},
      {"FixBoundaryDerivativesAndSolve", "splinefit/sconvert.h", 11, 0x38, 0x38, [](Args& a) { a.Value(FixBoundaryDerivativesAndSolve(a.Matrix(0), a.Int(1), a.Ints(2), a.Reals(3), a.Reals(4), a.Reals(5), a.Int(6), a.Int(7), a.Reals(8), a.Reals(9), a.Reals(10))); }},
      {"solve_linear_eq_h3D", "splinefit/sconvert.h", 6, 0x0, 0x0, [](Args& a) { a.Value(solve_linear_eq_h3D(a.Matrix(0), a.Int(1), a.Int(2), a.Reals(3), a.Reals(4), a.Reals(5))); }},
      {"CurvatureFromPartials", "splinefit/sconvert.h", 5, 0x1, 0x1, [](Args& a) { a.Value(CurvatureFromPartials(a.Reals(0), a.Int(1), a.Real(2), a.Real(3), a.Reals(4))); }},
      {"Dist", "splinefit/splutil.h", 3, 0x3, 0x3, [](Args& a) { a.Value(Dist(a.Reals(0), a.Reals(1), a.Int(2))); }},
      {"FindBezierMatrix", "splinefit/splutil.h", 2, 0x0, 0x0, [](Args& a) { a.Value(FindBezierMatrix(a.Int(0), a.Matrix(1))); }},
      {"FindInvBezierMatrix", "splinefit/splutil.h", 2, 0x0, 0x0, [](Args& a) { a.Value(FindInvBezierMatrix(a.Int(0), a.Matrix(1))); }},
      {"RaiseBezierCurveDegreeBy1", "splinefit/splutil.h", 4, 0x0, 0x0, [](Args& a) { RaiseBezierCurveDegreeBy1(a.Int(0), a.Int(1), a.Matrix(2), a.Matrix(3)); a.Done(); }},
      {"RaiseBezierDegree", "splinefit/splutil.h", 5, 0x0, 0x0, [](Args& a) { a.Value(RaiseBezierDegree(a.Int(0), a.Int(1), a.Int(2), a.Matrix(3), a.Matrix(4))); }},
      {"RaiseBezierSurfDegree", "splinefit/splutil.h", 11, 0x0, 0x0, [](Args& a) { a.Value(RaiseBezierSurfDegree(a.Int(0), a.Int(1), a.Int(2), a.Int(3), a.Int(4), a.Matrix(5), a.Matrix(6), a.Matrix(7), a.Matrix(8), a.Matrix(9), a.Matrix(10))); }},
      {"IsAllValsSameSign", "splinefit/splzero.h", 3, 0x1, 0x1, [](Args& a) { a.Value(IsAllValsSameSign(a.Reals(0), a.Int(1), a.Real(2))); }},
      {"InitClosedCurve", "splinefit/wrapfit.h", 4, 0x1, 0x1, [](Args& a) { a.Value(InitClosedCurve(a.Cld(0), a.Int(1), a.Int(2), a.Matrix(3))); }},
      {"MakeWrapedArrays", "splinefit/wrapfit.h", 8, 0x1, 0x1, [](Args& a) { MakeWrapedArrays(a.Cld(0), a.Floats(1), a.Floats(2), a.Floats(3), a.Int(4), a.Int(5), a.Int(6), a.Ints(7)); a.Done(); }},
      {"ComputeTangentMagnitude", "construct/crv2srf.h", 4, 0x0, 0x0, [](Args& a) { a.Value(ComputeTangentMagnitude(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3))); }},
      {"GetDerivVecMagNearPrefIndx", "construct/crv2srf.h", 5, 0x0, 0x0, [](Args& a) { a.Value(GetDerivVecMagNearPrefIndx(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3), a.Int(4))); }},
      {"Reflect3DVector1", "construct/extend.h", 12, 0x0, 0x0, [](Args& a) { Reflect3DVector1(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Reals(5), a.Int(6), a.Int(7), a.Int(8), a.Reals(9), a.Reals(10), a.Reals(11)); a.Done(); }},
      {"Reflect3DVector2", "construct/extend.h", 14, 0x0, 0x0, [](Args& a) { Reflect3DVector2(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Reals(5), a.Reals(6), a.Reals(7), a.Reals(8), a.Int(9), a.Int(10), a.Reals(11), a.Reals(12), a.Reals(13)); a.Done(); }},
      {"FindExtremeLinesInGrid", "construct/extend.h", 8, 0x0, 0x0, [](Args& a) { FindExtremeLinesInGrid(a.Reals(0), a.Reals(1), a.Reals(2), a.Int(3), a.Int(4), a.Int(5), a.Int(6), a.Reals(7)); a.Done(); }},
      {"ScaleMatWithRespectToVec", "construct/extend.h", 5, 0x0, 0x0, [](Args& a) { ScaleMatWithRespectToVec(a.Reals(0), a.Reals(1), a.Real(2), a.Int(3), a.Int(4)); a.Done(); }},
      {"TensorProductSurf", "construct/extrude.h", 8, 0x0, 0x0, [](Args& a) { a.Value(TensorProductSurf(a.Matrix(0), a.Matrix(1), a.Matrix(2), a.Matrix(3), a.Matrix(4), a.Matrix(5), a.Int(6), a.Int(7))); }},
      {"GetClosestPntOnPlane", "construct/srfblend.h", 3, 0x3, 0x0, [](Args& a) { GetClosestPntOnPlane(a.Reals(0), a.Reals(1), a.Reals(2)); a.Done(); }},
      {"GetTanDirFromCenter", "construct/srfblend.h", 4, 0x7, 0x0, [](Args& a) { GetTanDirFromCenter(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3)); a.Done(); }},
      {"ConstructCubicBezeir", "construct/srfblend.h", 4, 0xf, 0x0, [](Args& a) { a.Made(ConstructCubicBezeir(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3))); }},
      {"FindBridgeMagnitude", "construct/srfmerge.h", 4, 0x3, 0x0, [](Args& a) { FindBridgeMagnitude(a.Reals(0), a.Reals(1), a.Reals(2), a.Real(3)); a.Done(); }},
      {"FindPtAtIntrscnOf2Tan", "construct/srfrevol.h", 4, 0x0, 0x0, [](Args& a) { a.Value(FindPtAtIntrscnOf2Tan(a.Real(0), a.Reals(1), a.Reals(2), a.Reals(3))); }},
      {"RotToPosY", "construct/srfrevol.h", 2, 0x0, 0x0, [](Args& a) { RotToPosY(a.Reals(0), a.Reals(1)); a.Done(); }},
      {"CopyCoord", "intersect/filutil.h", 4, 0x0, 0x0, [](Args& a) { CopyCoord(a.Real(0), a.Real(1), a.Real(2), a.Reals(3)); a.Done(); }},
      {"ExtrapolatePt", "intersect/filutil.h", 9, 0x100, 0x100, [](Args& a) { a.Value(ExtrapolatePt(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Real(4), a.Real(5), a.Real(6), a.Real(7), a.Reals(8))); }},
      {"NewAddBboxMargins", "intersect/newintr.h", 2, 0x0, 0x0, [](Args& a) { NewAddBboxMargins(a.Reals(0), a.Real(1)); a.Done(); }},
      {"New1TransformBbox", "intersect/newintr.h", 2, 0x1, 0x0, [](Args& a) { New1TransformBbox(a.Reals(0), a.Reals(1)); a.Done(); }},
      {"GetBboxMinMax", "intersect/newintr.h", 5, 0x7, 0x7, [](Args& a) { GetBboxMinMax(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Reals(4)); a.Done(); }},
      {"AddParamValuesPSpanToArray", "intersect/newtrace.h", 3, 0x0, 0x0, [](Args& a) { a.Value(AddParamValuesPSpanToArray(a.Matrix(0), a.Int(1), a.Int(2))); }},
      {"ChkPtNotInBox", "intersect/newtrace.h", 8, 0x3, 0x3, [](Args& a) { a.Value(ChkPtNotInBox(a.Reals(0), a.Reals(1), a.Int(2), a.Int(3), a.Real(4), a.Real(5), a.Real(6), a.Real(7))); }},
      {"GetBoxesRange", "intersect/newtrace.h", 10, 0x3, 0x3, [](Args& a) { GetBoxesRange(a.Reals(0), a.Reals(1), a.Real(2), a.Real(3), a.Int(4), a.Int(5), a.Ints(6), a.Ints(7), a.Real(8), a.Real(9)); a.Done(); }},
      {"FindMinimumStep", "intersect/newtrace.h", 2, 0x2, 0x2, [](Args& a) { a.Value(FindMinimumStep(a.Int(0), a.Reals(1))); }},
      {"GetAllBoxesBetweenPoints", "intersect/newtrace.h", 14, 0x3, 0x3, [](Args& a) { GetAllBoxesBetweenPoints(a.Reals(0), a.Reals(1), a.Real(2), a.Real(3), a.Real(4), a.Real(5), a.Int(6), a.Int(7), a.Int(8), a.Int(9), a.Ints(10), a.Ints(11), a.Reals(12), a.Ints(13)); a.Done(); }},
      {"ResolveInTangentPlane", "intersect/newtrace.h", 5, 0x7, 0x0, [](Args& a) { a.Value(ResolveInTangentPlane(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Reals(4))); }},
      {"ReduceSmallComponents", "intersect/newtrace.h", 1, 0x0, 0x0, [](Args& a) { ReduceSmallComponents(a.Reals(0)); a.Done(); }},
      {"RemoveDuplicatesFromBothArrays", "intersect/newtrace.h", 6, 0x0, 0x0, [](Args& a) { a.Value(RemoveDuplicatesFromBothArrays(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Int(4), a.Real(5))); }},
      {"AddOneNormalizedVecToSumVec", "healing/srfbndr.h", 4, 0x3, 0x0, [](Args& a) { a.Value(AddOneNormalizedVecToSumVec(a.Reals(0), a.Reals(1), a.Reals(2), a.Ints(3))); }},
      {"SetUnitVecOnSameSide", "healing/srfbndr.h", 2, 0x2, 0x0, [](Args& a) { a.Value(SetUnitVecOnSameSide(a.Reals(0), a.Reals(1))); }},
      {"VecProjectReverse3", "healing/srfbndr.h", 2, 0x1, 0x0, [](Args& a) { a.Value(VecProjectReverse3(a.Reals(0), a.Reals(1))); }},
      {"FindEdgeCommonTangent", "healing/srfbndr.h", 4, 0x0, 0x0, [](Args& a) { a.Value(FindEdgeCommonTangent(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3))); }},
      {"GetChordalDev3Pts", "healing/srfbndrc.h", 4, 0x7, 0x0, [](Args& a) { a.Value(GetChordalDev3Pts(a.Floats(0), a.Floats(1), a.Floats(2), a.Real(3))); }},
      {"BboxesOverlap", "healing/srfbndrc.h", 3, 0x3, 0x0, [](Args& a) { a.Value(BboxesOverlap(a.Reals(0), a.Reals(1), a.Real(2))); }},
      {"PolygonHasVertex", "mesh/cldpoly.h", 3, 0x1, 0x1, [](Args& a) { a.Value(PolygonHasVertex(a.Cld(0), a.Int(1), a.Int(2))); }},
      {"PolysOverlap", "mesh/cldpoly.h", 4, 0x1, 0x1, [](Args& a) { a.Value(PolysOverlap(a.Cld(0), a.Int(1), a.Int(2), a.Int(3))); }},
      {"FindQuadAndSin", "mesh/cldpoly.h", 2, 0x1, 0x0, [](Args& a) { FindQuadAndSin(a.Reals(0), a.Reals(1)); a.Done(); }},
      {"ArrangeCCW", "mesh/cldpoly.h", 1, 0x0, 0x0, [](Args& a) { ArrangeCCW(a.Reals(0)); a.Done(); }},
      {"PolyOverlapExists", "mesh/cldpoly.h", 2, 0x3, 0x0, [](Args& a) { a.Value(PolyOverlapExists(a.Reals(0), a.Reals(1))); }},
      {"RemoveMultCloudPoly", "mesh/cldpoly.h", 2, 0x3, 0x3, [](Args& a) { a.Value(RemoveMultCloudPoly(a.Cld(0), a.Bytes(1))); }},
      {"RemoveCldPolys", "mesh/cldpoly.h", 2, 0x3, 0x3, [](Args& a) { a.Value(RemoveCldPolys(a.Cld(0), a.Bytes(1))); }},
      {"IsOverlapTouchTriangles", "mesh/cldpoly.h", 5, 0x1f, 0x0, [](Args& a) { a.Value(IsOverlapTouchTriangles(a.Reals(0), a.Reals(1), a.Reals(2), a.Reals(3), a.Reals(4))); }},
      {"FindMaxCloudEdgeDims", "mesh/cldpoly.h", 6, 0x3, 0x3, [](Args& a) { a.Value(FindMaxCloudEdgeDims(a.Cld(0), a.Ints(1), a.Int(2), a.Reals(3), a.Reals(4), a.Reals(5))); }},
      {"MakePolyCenterCloud", "mesh/cldpoly.h", 2, 0x1, 0x1, [](Args& a) { a.Pointer(MakePolyCenterCloud(a.Cld(0), a.Reals(1))); }},
      {"ReallocCldXYZArrays", "mesh/cldtrim.h", 2, 0x1, 0x1, [](Args& a) { a.Value(ReallocCldXYZArrays(a.Cld(0), a.Int(1))); }},
      {"ReallocCldPolyList", "mesh/cldtrim.h", 2, 0x1, 0x1, [](Args& a) { a.Value(ReallocCldPolyList(a.Cld(0), a.Int(1))); }},
      {"GetLoopVerticesInOrder", "mesh/cldtrim.h", 5, 0x7, 0x7, [](Args& a) { a.Value(GetLoopVerticesInOrder(a.Cld(0), a.Ints(1), a.Ints(2), a.Int(3), a.Ints(4))); }},
      {"IsPointInPoly2D", "mesh/cldtrim.h", 5, 0x18, 0x18, [](Args& a) { a.Value(IsPointInPoly2D(a.Real(0), a.Real(1), a.Int(2), a.Reals(3), a.Reals(4))); }},
      {"FindEdgePoints", "mesh/cldtrim.h", 5, 0x3, 0x3, [](Args& a) { FindEdgePoints(a.Cld(0), a.Ints(1), a.Int(2), a.Reals(3), a.Reals(4)); a.Done(); }},
      {"PolysHaveCommonVertex", "mesh/cldtrim.h", 3, 0x1, 0x1, [](Args& a) { a.Value(PolysHaveCommonVertex(a.Cld(0), a.Int(1), a.Int(2))); }},
      {"SubdivideCldPolys", "mesh/cldtrim.h", 4, 0xd, 0xd, [](Args& a) { a.Value(SubdivideCldPolys(a.Cld(0), a.Int(1), a.Bytes(2), a.Bytes(3))); }},
      {"SubdividePolysInto3Polys", "mesh/cldtrim.h", 3, 0x7, 0x7, [](Args& a) { a.Value(SubdividePolysInto3Polys(a.Cld(0), a.Bytes(1), a.Bytes(2))); }},
      {"SubdividePolysInto4Polys", "mesh/cldtrim.h", 3, 0x7, 0x7, [](Args& a) { a.Value(SubdividePolysInto4Polys(a.Cld(0), a.Bytes(1), a.Bytes(2))); }},
      {"DividePolyAtPickedPoint", "mesh/cldtrim.h", 5, 0xf, 0xf, [](Args& a) { a.Value(DividePolyAtPickedPoint(a.Cld(0), a.Ints(1), a.Reals(2), a.Reals(3), a.Int(4))); }},
      {"RemoveLongCldPolys", "mesh/cldtrim.h", 3, 0x5, 0x5, [](Args& a) { a.Value(RemoveLongCldPolys(a.Cld(0), a.Real(1), a.Bytes(2))); }},
      {"CapAllLoops", "mesh/cldtrim.h", 1, 0x1, 0x1, [](Args& a) { a.Value(CapAllLoops(a.Cld(0))); }},
      {"DeleteCldVertsAndPolys", "mesh/pgr2cld.h", 3, 0x7, 0x7, [](Args& a) { a.Value(DeleteCldVertsAndPolys(a.Cld(0), a.Ints(1), a.Ints(2))); }},
      {"MapVertexEyeToPolyline", "mesh/pgr2cld.h", 10, 0x77, 0x77, [](Args& a) { a.Value(MapVertexEyeToPolyline(a.Floats(0), a.Floats(1), a.Floats(2), a.Int(3), a.Floats(4), a.Floats(5), a.Floats(6), a.Int(7), a.Ints(8), a.Ints(9))); }},
      {"CloseVertexEye", "mesh/pgr2cld.h", 13, 0xc3, 0xc3, [](Args& a) { a.Value(CloseVertexEye(a.Cld(0), a.Cld(1), a.Ints(2), a.Ints(3), a.Int(4), a.Int(5), a.Ints(6), a.Ints(7), a.Ints(8), a.Ints(9), a.Ints(10), a.Ints(11), a.Real(12))); }},
      {"CloseOneVertexBndr", "mesh/pgr2cld.h", 11, 0x77, 0x77, [](Args& a) { a.Value(CloseOneVertexBndr(a.Cld(0), a.Ints(1), a.Ints(2), a.Int(3), a.Cld(4), a.Ints(5), a.Ints(6), a.Int(7), a.Real(8), a.Ints(9), a.Ints(10))); }},
      {"ReverseDoubleArray", "mesh/pgr2cld.h", 2, 0x0, 0x0, [](Args& a) { ReverseDoubleArray(a.Reals(0), a.Int(1)); a.Done(); }},
      {"RemoveCldIdenticalPtsWIndices", "mesh/pgr2cld.h", 2, 0x1, 0x1, [](Args& a) { a.Value(RemoveCldIdenticalPtsWIndices(a.Cld(0), a.Ints(1))); }},
      {"RemoveCldIdenticalPts", "mesh/pgr2cld.h", 1, 0x1, 0x1, [](Args& a) { a.Value(RemoveCldIdenticalPts(a.Cld(0))); }},
      {"IdentifySeparateObjects", "mesh/pgr2cld.h", 2, 0x1, 0x1, [](Args& a) { a.Value(IdentifySeparateObjects(a.Cld(0), a.Ints(1))); }},
      {"FindSideOfPlane", "mesh/pgr2cld.h", 6, 0x1, 0x1, [](Args& a) { FindSideOfPlane(a.Cld(0), a.Ints(1), a.Real(2), a.Real(3), a.Real(4), a.Real(5)); a.Done(); }},
      {"SepHarmonizedRegionsCore", "mesh/pharm.h", 3, 0x3, 0x3, [](Args& a) { a.Value(SepHarmonizedRegionsCore(a.Cld(0), a.Ints(1), a.Int(2))); }},
      {"FindPolyEdges", "mesh/pharm.h", 4, 0x9, 0x9, [](Args& a) { FindPolyEdges(a.Cld(0), a.Int(1), a.Ints(2), a.Ints(3)); a.Done(); }},
      {"PolyConnected", "mesh/pharm.h", 5, 0x15, 0x15, [](Args& a) { a.Value(PolyConnected(a.Cld(0), a.Int(1), a.Ints(2), a.Int(3), a.Ints(4))); }},
      {"PolyDisconnected", "mesh/pharm.h", 10, 0x2b5, 0x2b5, [](Args& a) { a.Value(PolyDisconnected(a.Cld(0), a.Int(1), a.Ints(2), a.Int(3), a.Ints(4), a.Ints(5), a.Int(6), a.Ints(7), a.Int(8), a.Ints(9))); }},
      {"BuildOffsetPolyCloud", "mesh/poffset.h", 3, 0x1, 0x1, [](Args& a) { a.Pointer(BuildOffsetPolyCloud(a.Cld(0), a.Real(1), a.Reals(2))); }},
      {"CreateOffsetPolyCloud", "mesh/poffset.h", 7, 0x11, 0x1, [](Args& a) { a.Pointer(CreateOffsetPolyCloud(a.Cld(0), a.Real(1), a.Real(2), a.Int(3), a.Reals(4), a.Int(5), a.Int(6))); }},
      {"SubdivideCloudEdgesToTol", "mesh/poffset.h", 2, 0x1, 0x1, [](Args& a) { a.Value(SubdivideCloudEdgesToTol(a.Cld(0), a.Real(1))); }},
      {"IsConcaveEdge", "mesh/poffset.h", 5, 0x1, 0x1, [](Args& a) { a.Value(IsConcaveEdge(a.Cld(0), a.Int(1), a.Int(2), a.Real(3), a.Ints(4))); }},
      {"VertNotInPoly2", "mesh/poffset.h", 3, 0x1, 0x1, [](Args& a) { a.Value(VertNotInPoly2(a.Cld(0), a.Int(1), a.Int(2))); }},
      {"CloudOffsetOppositeNorms", "mesh/poffset.h", 3, 0x1, 0x1, [](Args& a) { a.Pointer(CloudOffsetOppositeNorms(a.Cld(0), a.Real(1), a.Reals(2))); }},
      {"RemoveDegenCldPolys", "mesh/putil.h", 3, 0x1, 0x1, [](Args& a) { a.Value(RemoveDegenCldPolys(a.Cld(0), a.Real(1), a.Bytes(2))); }},
      {"RemoveMultiEdgePolys", "mesh/putil.h", 3, 0x5, 0x5, [](Args& a) { a.Value(RemoveMultiEdgePolys(a.Cld(0), a.Int(1), a.Bytes(2))); }},
      {"IsPolyType3Degen", "mesh/putil.h", 3, 0x3, 0x1, [](Args& a) { a.Value(IsPolyType3Degen(a.Cld(0), a.Ints(1), a.Real(2))); }},
      {"ReduceCloudPolygons", "mesh/putil.h", 4, 0x1, 0x1, [](Args& a) { a.Value(ReduceCloudPolygons(a.Cld(0), a.Real(1), a.Real(2), a.Bytes(3))); }},
      {"ReducePolygonsByCount", "mesh/putil.h", 7, 0x21, 0x1, [](Args& a) { a.Value(ReducePolygonsByCount(a.Cld(0), a.Int(1), a.Real(2), a.Real(3), a.Real(4), a.Reals(5), a.Reals(6))); }},
      {"CanVertexBeRemoved", "mesh/putil.h", 5, 0x5, 0x5, [](Args& a) { a.Value(CanVertexBeRemoved(a.Cld(0), a.Int(1), a.Ints(2), a.Int(3), a.Real(4))); }},
      {"IdentifySharedEdges", "mesh/putil.h", 6, 0x5, 0x5, [](Args& a) { a.Value(IdentifySharedEdges(a.Cld(0), a.Int(1), a.Ints(2), a.Int(3), a.Ints(4), a.Ints(5))); }},
      {"JoinCldPolys", "mesh/rpmclose.h", 6, 0x1, 0x1, [](Args& a) { a.Value(JoinCldPolys(a.Cld(0), a.Real(1), a.Real(2), a.Ints(3), a.Bytes(4), a.Int(5))); }},
      {"JoinVerticesByBridging", "mesh/rpmclose.h", 6, 0x1, 0x1, [](Args& a) { a.Value(JoinVerticesByBridging(a.Cld(0), a.Ints(1), a.Int(2), a.Ints(3), a.Int(4), a.Ints(5))); }},
      {"JoinEqualVerticesByBridging", "mesh/rpmclose.h", 5, 0x7, 0x7, [](Args& a) { a.Value(JoinEqualVerticesByBridging(a.Cld(0), a.Ints(1), a.Ints(2), a.Int(3), a.Ints(4))); }},
      {"SetCldPointsEqual", "mesh/rpmclose.h", 3, 0x1, 0x1, [](Args& a) { SetCldPointsEqual(a.Cld(0), a.Int(1), a.Int(2)); a.Done(); }},
      {"NewJoinCldPolys", "mesh/rpmclose.h", 4, 0x1, 0x1, [](Args& a) { a.Value(NewJoinCldPolys(a.Cld(0), a.Real(1), a.Real(2), a.Real(3))); }},
      {"EdgesWithinTol", "mesh/rpmclose.h", 6, 0x3, 0x3, [](Args& a) { a.Value(EdgesWithinTol(a.Cld(0), a.Ints(1), a.Real(2), a.Int(3), a.Int(4), a.Int(5))); }},
      {"CloseEdgeLoops", "mesh/rpmclose.h", 8, 0x17, 0x17, [](Args& a) { a.Value(CloseEdgeLoops(a.Cld(0), a.Ints(1), a.Ints(2), a.Int(3), a.Ints(4), a.Int(5), a.Int(6), a.Ints(7))); }},
      {"BreakPolyToTriangle", "mesh/trianum.h", 6, 0xe, 0xe, [](Args& a) { a.Value(BreakPolyToTriangle(a.Int(0), a.Ints(1), a.Reals(2), a.Reals(3), a.Ints(4), a.Ints(5))); }},
      {"SetCounterClock2DPoly", "mesh/trianum.h", 5, 0x0, 0x0, [](Args& a) { SetCounterClock2DPoly(a.Int(0), a.Ints(1), a.Reals(2), a.Reals(3), a.Ints(4)); a.Done(); }},
      {"IsPoint2DInList", "mesh/trianum.h", 7, 0x30, 0x30, [](Args& a) { a.Value(IsPoint2DInList(a.Real(0), a.Real(1), a.Real(2), a.Real(3), a.Reals(4), a.Reals(5), a.Int(6))); }},
      {"IsList2DInList", "mesh/trianum.h", 8, 0x63, 0x63, [](Args& a) { a.Value(IsList2DInList(a.Reals(0), a.Reals(1), a.Int(2), a.Real(3), a.Real(4), a.Reals(5), a.Reals(6), a.Int(7))); }},
      {"RemoveDuplicateVertices", "mesh/trianum.h", 5, 0x0, 0x0, [](Args& a) { RemoveDuplicateVertices(a.Ints(0), a.Ints(1), a.Reals(2), a.Reals(3), a.Reals(4)); a.Done(); }},
      {"BreakPoly3DToTriangle", "mesh/trianum.h", 7, 0x1e, 0x1e, [](Args& a) { a.Value(BreakPoly3DToTriangle(a.Int(0), a.Ints(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Ints(5), a.Ints(6))); }},
      {"BreakPoly3DToTriangleToo", "mesh/trianum.h", 7, 0x1e, 0x1e, [](Args& a) { a.Value(BreakPoly3DToTriangleToo(a.Int(0), a.Ints(1), a.Reals(2), a.Reals(3), a.Reals(4), a.Ints(5), a.Ints(6))); }},
      {"MakeAnOuterPoly2D", "mesh/trianum.h", 5, 0x0, 0x0, [](Args& a) { a.Value(MakeAnOuterPoly2D(a.Int(0), a.Ints(1), a.Ints(2), a.Reals(3), a.Reals(4))); }},
      {"CapModelBySplitting", "mesh/trianum.h", 5, 0x3, 0x3, [](Args& a) { a.Value(CapModelBySplitting(a.Cld(0), a.Ints(1), a.Int(2), a.Ints(3), a.Ints(4))); }},
      {"GetDowellCoords", "mesh/trianum.h", 5, 0x0, 0x0, [](Args& a) { GetDowellCoords(a.Real(0), a.Real(1), a.Real(2), a.Reals(3), a.Reals(4)); a.Done(); }},
  };
};
// Not driven (the first parameter type the driver has no argument for):
//   LinePlaneAngle (foundation/angle.h): const PlaneEq
//   PlaneNormalDirection (foundation/angle.h): const PlaneEq
//   Distance2DBetPtAndBbox (foundation/geo2.h): const Bbox
//   PlaneFitThroughLine (foundation/geo2.h): PlaneEq
//   PlaneFitThroughPoint (foundation/geo2.h): PlaneEq
//   GetPlnFromPtAndNorm (foundation/geo2.h): PlaneEq
//   GetPointOnPlane (foundation/geo2.h): const PlaneEq
//   GetPointOnPlaneCoord (foundation/geo2.h): const PlaneEq
//   FindPlaneEq (foundation/geometry.h): PlaneEq
//   PlaneFit (foundation/geometry.h): PlaneEq
//   PlanesIntersect (foundation/geometry.h): const PlaneEq
//   PlaneLineIntersect (foundation/geometry.h): const PlaneEq
//   FrprMin (foundation/lsrchopt.h): LsrchFunc
//   LineMin (foundation/lsrchopt.h): LsrchFunc
//   matrix_free_3dim_ff (foundation/makemat.h): double***
//   matrix_free_3dim_fh (foundation/makemat.h): double***
//   matrix_free_4dim_ff (foundation/makemat.h): double****
//   matrix_free_4dim_fh (foundation/makemat.h): double****
//   PointsToUnitFrame (foundation/unitfrm.h): const UnitFrame&
//   PointsFromUnitFrame (foundation/unitfrm.h): const UnitFrame&
//   PointToUnitFrame (foundation/unitfrm.h): const UnitFrame&
//   PointFromUnitFrame (foundation/unitfrm.h): const UnitFrame&
//   VecTrans3 (foundation/vec3.h): const Xform
//   VecRot3 (foundation/vec3.h): const Xform
//   Vec1Trans3 (foundation/vec3.h): const Xform
//   Vec1Rot3 (foundation/vec3.h): const Xform
//   vector_xform (foundation/vec3.h): const Xform
//   vector_xform_f (foundation/vec3.h): const Xform
//   vector_rotate (foundation/vec3.h): const Xform
//   vector_object_to_world_xform (foundation/vec3.h): const Xform
//   vector_object_to_eye_xform (foundation/vec3.h): const Xform
//   Transform3DArrays (foundation/vec3.h): const Xform
//   Transform3DArrays_F (foundation/vec3.h): const Xform
//   Rot3DArrays (foundation/vec3.h): const Xform
//   Rot3DArrays_F (foundation/vec3.h): const Xform
//   Mirror3DArrays (foundation/vec3.h): const PlaneEq
//   Mirror3DArrays_F (foundation/vec3.h): const PlaneEq
//   MirrorDir3DArrays (foundation/vec3.h): const PlaneEq
//   MirrorDir3DArrays_F (foundation/vec3.h): const PlaneEq
//   VecMirror3 (foundation/vec3.h): const PlaneEq
//   DirMirror3 (foundation/vec3.h): const PlaneEq
//   PlaneMirror3 (foundation/vec3.h): const PlaneEq
//   bbox_xform (foundation/vec3.h): const Xform
//   TransformToZAxis (foundation/vec3.h): Xform
//   RotationAboutAxisXform (foundation/vec3.h): Xform
//   TransformMinMax (foundation/vec3.h): Xform
//   Vec3ToAxisMatrix (foundation/vec3.h): Xform
//   RecordsSound (bspline/bsvalid.h): std::initializer_list<const Bspline*>
//   RecordShapesSound (bspline/bsvalid.h): std::initializer_list<const Bspline*>
//   AppendBsplToList (bspline/crvlist.h): BsplineList**
//   PutCurveListToTwoBspl (bspline/crvlist.h): BsplineList*
//   PutTwoCurveListsToBspl (bspline/crvlist.h): BsplineList*
//   GetCurveListExtremes (bspline/crvlist.h): BsplineList*
//   EvalNubValsOnGridM (bspline/ctrlnubs.h): int**
//   EvalPartialBsplineGridIndices (bspline/ctrlnubs.h): SurfEditStruct*
//   EvalPartialBsplineGridIndices_d (bspline/ctrlnubs.h): SurfEditStruct*
//   EvalPartialPlotIndices (bspline/ctrlnubs.h): PlotEditStruct*
//   SpliceIntoTrimLoop (bspline/cutcurves.h): BsplineList*
//   InitKnotInsertion (bspline/kinsert.h): KnotInsertWork**
//   InitKnotInsertionOfSound (bspline/kinsert.h): KnotInsertWork**
//   EndKnotInsertion (bspline/kinsert.h): KnotInsertWork*
//   SortIndicesAndValues (bspline/kinsert.h): int**
//   DistinctInteriorKnots (bspline/knots.h): int**
//   UpdateRemoveInfo (bspline/kremove.h): RemoveInfo*
//   CleanSurfaceToTangentPlaneTol (bspline/kremove.h): void*
//   SpanBezierFromDeBoor (bspline/nubutil.h): double d[]
//   BezierSubPiece (bspline/nubutil.h): double d[]
//   FreeTrimList (bspline/sfree.h): TrimList*
//   FreeTrimCurve (bspline/sfree.h): TrimList*
//   MakePolyPointers (cloud/cldpoly.h): IndexNode**
//   MakeCldPolyPlane (cloud/makecld.h): CloudTriangle*
//   DoChordalIndex (cloud/pchord.h): char*
//   UnitFrameCloudCopy (cloud/pcopy.h): const UnitFrame&
//   FilterRuns (cloud/pgauss.h): const CornerTest*
//   FilterCloudRuns (cloud/pgauss.h): const CornerTest*
//   CloudToPolylinesDiff (cloud/pnterr.h): SegmentSet**
//   GetOutOfTolCldPts (cloud/pnterr.h): Cloud**
//   SplitDifferenceResults (cloud/pnterr.h): Cloud**
//   InitPolycldStructs (cloud/pnterr.h): IndexNode**
//   MinDistPtPolyCld (cloud/pnterr.h): const Subdiv*
//   SubdivideArrays2DOnXYWithOverlap (cloud/poffset.h): XYOverlapGrid*
//   ComputeCloud3DNormals (cloud/poffset.h): const Xform
//   ComputeCloud2DNormals (cloud/poffset.h): const Xform
//   CloudOffset (cloud/poffset.h): const Xform
//   ComputeCloud3DOffsetNormals (cloud/poffset.h): const Xform
//   ComputeOffsetNormals (cloud/poffset.h): const Xform
//   ComputeCloud2DOffsetNormals (cloud/poffset.h): const Xform
//   CutCloudByPlane (cloud/premove.h): Cloud**
//   SubtractCloudsIndex (cloud/premove.h): char*
//   ProjectPointsToBestFitPlane_f (cloud/princip.h): Xform
//   SampleCloudBasedOnArray (cloud/psample.h): const char*
//   DuplicatePointsIndices (cloud/psample.h): char*
//   SampleCloudSlice (cloud/psample.h): const char*
//   OrderCloudScans (cloud/psort.h): char*
//   GetBestOption (cloud/psort.h): const ChainLink*
//   GetAllOptDists (cloud/psort.h): NearRef* const*
//   FindClosest2AvailInCell (cloud/psort.h): const ChainLink*
//   FindClosest2AvailInChains (cloud/psort.h): const ChainLink*
//   UpdateAllLinks (cloud/psort.h): const ChainLink*
//   UpdateAllChains (cloud/psort.h): const ChainLink*
//   FindClosest2AvailInLink2 (cloud/psort.h): const ChainLink*
//   UpdateAllLinksLink2 (cloud/psort.h): const ChainLink*
//   WidenNearTree (cloud/psubdiv.h): NearTree*
//   BreakCloud (cloud/psubdiv.h): Cloud***
//   CloudSubdivide3DCore (cloud/psubdiv.h): const Bbox
//   CloudSubdivide3DTooCore (cloud/psubdiv.h): const Bbox
//   CloudSubdivideRequestCore (cloud/psubdiv.h): const Bbox
//   CloudConnectivityBreak (cloud/putil.h): Cloud***
//   ConstrainedRegCorPntSet (registration/concpsr.h): const RegConstraint*
//   CPSRTransOnly (registration/concpsr.h): const RegConstraint*
//   CPSRRotAxis (registration/concpsr.h): const RegConstraint*
//   CPSRRotAxisFlip (registration/concpsr.h): const RegConstraint*
//   CPSRRot3D (registration/concpsr.h): const RegConstraint*
//   CPSRRotFixedLine (registration/concpsr.h): const RegConstraint*
//   CPSRRotVector (registration/concpsr.h): const RegConstraint*
//   RegCorPntSetRotZaxisOnly (registration/concpsr.h): RegVec*
//   RegCorPntSetRotZDirection (registration/concpsr.h): RegVec*
//   AddConstrainedTranslation (registration/confreg.h): const RegConstraint*
//   register_point_sets (registration/cpsr.h): RegVec*
//   RegisterCorPntSets (registration/cpsr.h): RegVec*
//   CorPntSetRegistrationError (registration/cpsr.h): const RegVec*
//   Reg321CorPntSets (registration/cpsr.h): RegVec*
//   ICPtwoClouds (registration/icp.h): RegParams
//   ICPtwoPntSetsGlobalSearch (registration/icp.h): RegParams
//   ICPPntSet (registration/icp.h): RegParams
//   PntSetRegError (registration/icp.h): const RegVec*
//   registr_transform_matrix (registration/icp.h): const RegVec*
//   TransformPntSet (registration/icp.h): const RegVec*
//   Insert_registr_table (registration/icp.h): const RegVec*
//   UpdateICPRegistration (registration/icp.h): RegVec*
//   NewICPPntSet (registration/icp.h): RegParams
//   CICPPntSet (registration/icp.h): RegParams*
//   CICPPntSetsGlobalSearch (registration/icp.h): RegParams*
//   CICPtwoClouds (registration/icp.h): RegParams*
//   RunICPLoop (registration/icploop.h): const RegParams&
//   SearchKDTreeNearest (registration/kdtree.h): KDTree*
//   ClosestPntSet3DTree (registration/kdtree.h): KDTree*
//   VecTrans3WithQternion (registration/qternion.h): RegVec*
//   AlignTwoVectorQternion (registration/qternion.h): RegVec*
//   FlipAlignTwoVecs (registration/qternion.h): RegVec*
//   ConstrainedMatchDirections (registration/regdir.h): RegConstraint
//   CRFreeMatchDirections (registration/regdir.h): RegConstraint
//   CRRotPointMatchDirections (registration/regdir.h): RegConstraint
//   CRArC3T3MatchDirections (registration/regdir.h): RegConstraint
//   CRArC1T1MatchDirections (registration/regdir.h): RegConstraint
//   CRArFixedMatchDirections (registration/regdir.h): RegConstraint
//   CRFarC2T2MatchDirections (registration/regdir.h): RegConstraint
//   CRFarC1T1MatchDirections (registration/regdir.h): RegConstraint
//   CRFarFixedMatchDirections (registration/regdir.h): RegConstraint
//   CRRotLine180FixedMatchDirections (registration/regdir.h): RegConstraint
//   CRRotLine180C1T1MatchDirections (registration/regdir.h): RegConstraint
//   GetInitialQuaternion (registration/register.h): double***
//   GetConstrainedInitQternion (registration/register.h): const RegConstraint*
//   GetInitQternionRot3D (registration/register.h): const RegConstraint*
//   GetInitQternionRotAxis (registration/register.h): const RegConstraint*
//   GetInitQternionTransOnly (registration/register.h): const RegConstraint*
//   Get3DQternionSample (registration/register.h): double***
//   GetRotAxisQternionSample (registration/register.h): double***
//   GetEstRotCenterForRotAxis (registration/register.h): const RegConstraint*
//   GetPerturbedQuaternion (registration/register.h): RegVec*
//   ConstrainedMatchLines (registration/regline.h): RegConstraint
//   CRTransLineMatchLines (registration/regline.h): RegConstraint
//   CRTrans2DMatchLines (registration/regline.h): RegConstraint
//   CRTrans3DMatchLines (registration/regline.h): RegConstraint
//   CRRotLine180FixedMatchLines (registration/regline.h): RegConstraint
//   CRRotLine180C1T1MatchLines (registration/regline.h): RegConstraint
//   CRArFixedMatchLines (registration/regline.h): RegConstraint
//   CRArC1T1MatchLines (registration/regline.h): RegConstraint
//   CRArC3T3MatchLines (registration/regline.h): RegConstraint
//   CRFarFixedMatchLines (registration/regline.h): RegConstraint
//   CRFarC1T1MatchLines (registration/regline.h): RegConstraint
//   CRFarC2T2MatchLines (registration/regline.h): RegConstraint
//   CRRotPointMatchLines (registration/regline.h): RegConstraint
//   CRFreeMatchLines (registration/regline.h): RegConstraint
//   IsPntOnSameSideOfPlane (registration/regline.h): const PlaneEq
//   AddPointFeaturePair (registration/regpair.h): RegPair**
//   AddLineFeaturePair (registration/regpair.h): RegPair**
//   AddDLineFeaturePair (registration/regpair.h): RegPair**
//   AddDirectionFeaturePair (registration/regpair.h): RegPair**
//   AddPlaneFeaturePair (registration/regpair.h): RegPair**
//   GetRegFeatureClstPoint (registration/regpair.h): const RegFeature*
//   NewGenRegPntsWLineAndFeature (registration/regpair.h): const RegFeature*
//   NewGenRegPntsWithDLineAndFeature (registration/regpair.h): const RegFeature*
//   GenRegPntsWPlaneAndFeature (registration/regpair.h): const RegFeature*
//   ConstrainedMatchPlanes (registration/regplane.h): RegConstraint
//   CRTransLineMatchPlanes (registration/regplane.h): RegConstraint
//   CRRotLine180FixedMatchPlanes (registration/regplane.h): RegConstraint
//   CRRotLine180C1T1MatchPlanes (registration/regplane.h): RegConstraint
//   CRArFixedMatchPlanes (registration/regplane.h): RegConstraint
//   CRArC1T1MatchPlanes (registration/regplane.h): RegConstraint
//   CRArC3T3MatchPlanes (registration/regplane.h): RegConstraint
//   CRFarFixedMatchPlanes (registration/regplane.h): RegConstraint
//   CRFarC1T1MatchPlanes (registration/regplane.h): RegConstraint
//   CRFarC2T2MatchPlanes (registration/regplane.h): RegConstraint
//   CRRotPointMatchPlanes (registration/regplane.h): RegConstraint
//   CRFreeMatchPlanes (registration/regplane.h): RegConstraint
//   GetDefaultPointOnPlane (registration/regplane.h): const PlaneEq
//   ConstrainedMatchPoints (registration/regpoint.h): RegConstraint
//   CRTransLineMatchPoints (registration/regpoint.h): RegConstraint
//   CRTrans2DMatchPoints (registration/regpoint.h): RegConstraint
//   CRTrans3DMatchPoints (registration/regpoint.h): RegConstraint
//   CRRotLine180FixedMatchPoints (registration/regpoint.h): RegConstraint
//   CRRotLine180C1T1MatchPoints (registration/regpoint.h): RegConstraint
//   CRArFixedMatchPoints (registration/regpoint.h): RegConstraint
//   CRArC1T1MatchPoints (registration/regpoint.h): RegConstraint
//   CRArC3T3MatchPoints (registration/regpoint.h): RegConstraint
//   CRFarFixedMatchPoints (registration/regpoint.h): RegConstraint
//   CRFarC1T1MatchPoints (registration/regpoint.h): RegConstraint
//   CRFarC2T2MatchPoints (registration/regpoint.h): RegConstraint
//   CRRotPointMatchPoints (registration/regpoint.h): RegConstraint
//   CRFreeMatchPoints (registration/regpoint.h): RegConstraint
//   VecRotWquaternion (registration/stepreg.h): const RegVec*
//   VecQterTrans3 (registration/stepreg.h): const RegVec*
//   AlignTwoVectorXform (registration/stepreg.h): RegVec*
//   AlignTwoVecsClosestByAxisRot (registration/stepreg.h): RegVec*
//   Rot180Qternion (registration/stepreg.h): RegVec*
//   Do321Registration (registration/stepreg.h): RegVec*
//   Do321RegistrationAlignPlane (registration/stepreg.h): RegVec*
//   Do321RegistrationAlignLine (registration/stepreg.h): RegVec*
//   Do321RegistrationAlignPnt (registration/stepreg.h): RegVec*
//   New321PntSetReg (registration/stepreg.h): RegVec*
//   Do321PntSetReg (registration/stepreg.h): RegVec*
//   Do321PntSetRegFirstStep (registration/stepreg.h): RegVec*
//   Do321PntSetRegSndStep (registration/stepreg.h): RegVec*
//   FitCone (quadric/cone.h): QuadricInfo*
//   FindConeSize (quadric/cone.h): QuadricInfo*
//   CurveCrossSection (quadric/cpoint.h): const PlaneEq
//   FindIntersectionPoint (quadric/cpoint.h): const PlaneEq
//   mrqmin3D (quadric/mrqmin.h): MrqModel3D
//   mrqmin2D (quadric/mrqmin.h): MrqModel2D
//   mrqcof (quadric/mrqmin.h): MrqModel3D
//   mrqcof2D (quadric/mrqmin.h): MrqModel2D
//   StraightnessRadius (quadric/pinspect.h): Xform
//   FlatnessDist (quadric/pinspect.h): Xform
//   CircularityDist (quadric/pinspect.h): Xform
//   CylindricityDist (quadric/pinspect.h): Xform
//   ConcentricityDist2 (quadric/pinspect.h): Xform
//   CoaxialityDist2 (quadric/pinspect.h): Xform
//   CloudCloudDiffIndex (quadric/pinspect.h): const Bbox
//   GetArbitPointOnPlane (quadric/pinspect.h): const PlaneEq
//   CreatePlaneBsplineFromCloud (quadric/planefit.h): const Bbox
//   CldToCldDiff (quadric/pnterr.h): int**
//   CircleFromPlaneFrame (quadric/qcircle.h): const Xform
//   PointsInUnitFrame (quadric/qnlfit.h): const UnitFrame&
//   AxisToModelFrame (quadric/qnlfit.h): const UnitFrame&
//   CylinderNurbs (quadric/qnurbs.h): const QuadricInfo*
//   ConeNurbs (quadric/qnurbs.h): const QuadricInfo*
//   GetPlaneFromPts (quadric/quadrics.h): const Bbox
//   UnitSizeCopy (quadric/quadrics.h): UnitFrame*
//   QuadricFormFromUnitFrame (quadric/quadrics.h): const UnitFrame&
//   ObjectFromUnitFrame (quadric/quadrics.h): const UnitFrame&
//   FindAllCurve3Intersections (curve/cintsct.h): int**
//   ReplaceCurvesOnSurfaceMultiple (curve/crvbrk.h): BsplineList*
//   CurveToCloudDifference (curve/crverr.h): const Xform*
//   CrvIntersect (curve/crvintr.h): CrvIntrList**
//   CheckForSelfIntersectionGivenRadii (curve/crvoffst.h): int**
//   SampleTrimCurveUniformChordLength (curve/crvutil.h): TrimList*
//   XformCurve3Bspline (curve/crvutil.h): const Xform
//   ScaleCurveQuadricInfo (curve/crvutil.h): const Xform
//   BezierEndSpan (curve/endspan.h): bool*
//   FitCurveWContinuity (curve/fitcurve.h): Cloud**
//   CalculateControlPtsToBeFixed (curve/fitcurve.h): int**
//   CurveBasedFitCurvesToTolerance (curve/fittotol.h): Cloud**
//   Do2ndOrderSmoothing (curve/premove.h): char*
//   TrimLoopPolylines (curve/trimpoly.h): double***
//   PointInTrimPolylines (curve/trimpoly.h): double***
//   LoopPolylineParity (curve/trimpoly.h): const TrimList*
//   SampleTrimPolylines (curve/trimpoly.h): TrimPolylines*
//   ExtensionByTinyBridge (surface/srfextend.h): bool*
//   FindMinMaxofTrimCurve (surface/srfline.h): TrimList*
//   FindAllTrimBsplIsoIntersects (surface/srfline.h): IsoHit**
//   CutIntersectLine (surface/srfline.h): IsoHit**
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
//   InsertIntoIn_Outlist (surface/srfsnip.h): BsplineList*
//   DivideTrimCurvesIntoPortions (surface/srfsnip.h): SnipCrossingList*
//   FindNextParam (surface/srfsnip.h): BsplineList*
//   FindNextInParam (surface/srfsnip.h): SnipCrossingList*
//   FindNextMaxFromTop (surface/srfsnip.h): SnipCrossingList*
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
//   IsInTrimcurveArrays (surface/trimutils.h): const TrimList*
//   GetAllTrimArrays (surface/trimutils.h): double***
//   IsTrimCurveLinearSelfIntersectPoints (surface/trimutils.h): TrimList*
//   ModifyBndryTrimCurveForClosedSurfs (surface/trimutils.h): TrimList*
//   TrimCurveMerge (surface/trimutils.h): TrimList*
//   MakeTrimCurveContinuous (surface/trimutils.h): TrimList*
//   RemoveTrimPiecesToTol (surface/trimutils.h): TrimList*
//   RemoveSelfIntersectionToTol (surface/trimutils.h): TrimList*
//   ConstructTrimCurveList (surface/trimutils.h): BsplineList*
//   ConstructTrimCurveListWithin (surface/trimutils.h): BsplineList*
//   GetAllTrimXYZArrays (surface/trimutils.h): double***
//   NextTrimCrossing (surface/trimutils.h): const BsplineList*
//   NeighbourCrossing (surface/trimutils.h): const TArrayList*
//   MakeBoxSideCurve (surface/trimutils.h): BsplineList**
//   ConstructSurfBndryPortionTrim (surface/trimutils.h): BsplineList*
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
//   SurfCloudDeviations (shrinkwrap/clouddev.h): const CloudDiffArrays&
//   SurfsCloudDeviations (shrinkwrap/clouddev.h): const Xform*
//   SurfsCloudNormals (shrinkwrap/clouddev.h): const Xform*
//   NearestSampleEstimate (shrinkwrap/clouddev.h): const Subdiv*
//   NearestTrimBoundaryPoint (shrinkwrap/clouddev.h): float***
//   NearestSamplePerRange (shrinkwrap/clouddev.h): const Subdiv*
//   FindCurveSegmentCntrlPnts (shrinkwrap/crvfair.h): int**
//   PreNormalizeSmoothingCurve3 (shrinkwrap/crvfair.h): const Xform
//   UnNormalizeSmoothingCurve3 (shrinkwrap/crvfair.h): const Xform
//   ComputeCurveThinPlateWTensionMatrix (shrinkwrap/crvnet.h): double***
//   SnapTwoCrv3Array (shrinkwrap/crvnet.h): Bspline***
//   CopyCrvBsplArray (shrinkwrap/crvnet.h): Bspline***
//   GetWrapConstraintParVals (shrinkwrap/cshrink.h): const LinearConstraint*
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
//   FairGridPntsLambdaGamma (shrinkwrap/csmooth.h): int**
//   BoundaryCurvePointsToHold (shrinkwrap/shrink.h): int**
//   MakeSrfsNormalDiffClouds (shrinkwrap/shrink.h): Cloud**
//   LocalSrfShrinkWrapFit (shrinkwrap/shrink.h): ShrnkWrapParams
//   FindSrfFreeCntrlPntsGivenBndry (shrinkwrap/smooth.h): int***
//   ComputeObjCont (stitch/srfcont.h): ObjContInfo*
//   ComputeObjContTrimSurfs (stitch/srfcont.h): ObjContInfo*
//   ComputeObjContTrimSurfs2 (stitch/srfcont.h): ObjContInfo*
//   CurvesUnitFrame (stitch/srfcont.h): UnitFrame*
//   CurvesInUnitFrame (stitch/srfcont.h): const UnitFrame&
//   FindClosestPointEstimate (stitch/srferr.h): const Subdiv*
//   FindClosestPointOnBndr (stitch/srferr.h): float***
//   FindNClosestPointEstimates (stitch/srferr.h): const Subdiv*
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
//   GetDistinctKnots (stitch/vcnobj.h): int**
//   RefineObjVCn (stitch/vcnobj.h): StitchInfo*
//   SetUpCurveParallelFrame (splinefit/crvframe.h): CurveParallelFrame*
//   GetCrvLocalParallelFrame (splinefit/crvframe.h): const CurveParallelFrame*
//   CartisianToCurveFrameCoord (splinefit/crvframe.h): const CurveParallelFrame*
//   CrvFrameCrdnateToXYZ (splinefit/crvframe.h): const CurveParallelFrame*
//   TransformCylPntsToXYZSpaceWCurve (splinefit/crvframe.h): const CurveParallelFrame*
//   CylFitBsplSrf (splinefit/cylfit.h): BsplFitParams
//   ConvertToCylindricalCloud (splinefit/cylfit.h): Xform
//   FitCanonicalCylCldSrfBspline (splinefit/cylfit.h): BsplFitParams
//   MapControlPoints (splinefit/cylfit.h): const Xform
//   CylFitBsplSrfWCurve (splinefit/cylfit.h): BsplFitParams
//   ConvertToCylCldWithCurve (splinefit/cylfit.h): CurveParallelFrame*
//   NewFitSplineSurfaceGeometry (splinefit/fitsplin.h): BsplFitParams
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
//   SphFitBsplSrf (splinefit/sphfit.h): BsplFitParams
//   ConvertToSphericalCloud (splinefit/sphfit.h): Xform
//   FitCanonicalSphCldSrfBspl (splinefit/sphfit.h): BsplFitParams
//   BenchBsplEval (splinefit/splutil.h): double***
//   FindBezierCoeffs (splinefit/splutil.h): const PpolyCurve*
//   FindBezierSurfCoeffs (splinefit/splutil.h): const PpolySurface*
//   FindKnots (splinefit/splutil.h): const PpolyCurve*
//   FindSurfKnots (splinefit/splutil.h): const PpolySurface*
//   FillNSidedHoleInit (construct/srfblend.h): Bspline***
//   GetAllBlendCurves (construct/srfblend.h): Bspline***
//   CreateVirtualSurfs (construct/srfblend.h): Bspline***
//   GetNewBndryArrays (construct/srfblend.h): Bspline***
//   Get3LoftSurfAroundCap (construct/srfblend.h): Bspline***
//   GetMidLoftSurf (construct/srfblend.h): Bspline***
//   NonFeatureMatchedLoft (construct/srfloft.h): void*
//   FeatureMatchedLoft (construct/srfloft.h): void*
//   FindHermiteFunctions (construct/srfmerge.h): double****
//   FindBsplineFunctions (construct/srfmerge.h): double****
//   Find3DCoonsPatchFrom2Curve2s (construct/srfmerge.h): double***
//   FindCoonsInfoFrom2Curve2s (construct/srfmerge.h): double***
//   PutCoonsInfoToSplineCoefi (construct/srfmerge.h): double***
//   PutCoonsPatchToBsplinePatch (construct/srfmerge.h): double***
//   PutNCoonsPatchesToNBsplineSurfs (construct/srfmerge.h): double****
//   PutNCoonsPatchesToABsplinePatch (construct/srfmerge.h): double****
//   PutNCoonsPatchesToABsplineSurf (construct/srfmerge.h): double****
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
//   FindNextSnipParam (intersect/filutil.h): BsplineList*
//   FindNextFilParam (intersect/filutil.h): TArrayList*
//   CreateBndryCurve (intersect/filutil.h): BsplineList**
//   GetFilletCrvIntrList (intersect/filutil.h): TArrayList**
//   InsertIntoTArrayList (intersect/filutil.h): CrvIntrList*
//   InsertIntoOrderedTArrayList (intersect/filutil.h): BsplineList*
//   IsPointInTrimOrBndryArrays (intersect/filutil.h): double***
//   ScaleCurveToOrigSurf (intersect/filutil.h): IntersectionTrace*
//   SnipCurveToBnd (intersect/filutil.h): IntersectionTrace*
//   CheckCrvDir (intersect/filutil.h): IntersectionTraceNode*
//   TrimOrigSurfaces (intersect/filutil.h): BsplineList*
//   GetFilletSurfaces (intersect/filutil.h): TArrayList*
//   FindIfAnyFilletCurve (intersect/filutil.h): TArrayList*
//   CreateFilletsWithTrim (intersect/filutil.h): TArrayList*
//   NewTransformBbox (intersect/newintr.h): const Xform
//   FitPlaneAndGetXform (intersect/newintr.h): Xform
//   newCheckSubdivTree (intersect/newintr.h): PatchBoxNode*
//   GetBboxExtremes (intersect/newintr.h): PatchBoxNode*
//   NewGetBboxExtremes (intersect/newintr.h): PatchBoxNode*
//   NewIntersectBoxes (intersect/newintr.h): double***
//   SubDivideBasedOnArray (intersect/newintr.h): PatchBoxNode*
//   NewIntersect (intersect/newintr.h): IntersectionTraceList*
//   CreateSrfSrfIntersectionCurves (intersect/newintr.h): BsplineList**
//   AppendTraceNode (intersect/newtrace.h): IntersectionTrace*
//   MarkAllBoxesBetweenPoints (intersect/newtrace.h): int**
//   NewRefineIntrPoint (intersect/newtrace.h): const IntersectionTraceNode*
//   ChkCrvTouchAnotherCrv (intersect/newtrace.h): const IntersectionTraceList*
//   NearestChord (intersect/newtrace.h): const IntersectionTraceList*
//   NearTracedBranch (intersect/newtrace.h): const IntersectionTraceList*
//   NearTracedBranchAlike (intersect/newtrace.h): const IntersectionTraceList*
//   NewIntersectTrace (intersect/newtrace.h): int**
//   TraceTangentialContact (intersect/newtrace.h): IntersectionTraceList*
//   GapSecondForm (intersect/newtrace.h): double H[2]
//   ContinueAcrossSeams (intersect/newtrace.h): int**
//   GetIntersectionsOfTrimmedSurface (intersect/newtrace.h): BsplineList**
//   GetInterCrvIntrList (intersect/newtrace.h): TArrayList**
//   InsertIntoInterArrayList (intersect/newtrace.h): CrvIntrList*
//   InsertIntoOrderedInterArrayList (intersect/newtrace.h): BsplineList*
//   GetInterCurves (intersect/newtrace.h): TArrayList*
//   HealTopologyZK (healing/gstitch.h): int**
//   MeasureGroupAsHeldZK (healing/gstitch.h): int**
//   SetupStitchSrfsTopology (healing/gstitch.h): BndrStruct**
//   StitchSrfsWithGivenTopology (healing/gstitch.h): BndrStruct*
//   G0GlobalStitchSrfGrp (healing/gstitch.h): BndrStruct*
//   MultiSrfsShrinkWrapGeom (healing/gstitch.h): ShrnkWrapParams
//   HealSrfGrpEdgeG0Continuity (healing/gstitch.h): BndrStruct*
//   ShrinkWrapFitSkinSrfs (healing/gstitch.h): BndrStruct*
//   ReduceWrapConstraint (healing/mshrink.h): LinearConstraint*
//   SetBndrCrvWrapPointSamplesAndNubVals (healing/mshrink.h): BndrStruct*
//   SetBndrCrvWrapPointSample (healing/mshrink.h): BndrStruct*
//   RefineBndrCrvWrapPointParams (healing/mshrink.h): CrvInfoStruct*
//   KeepCreaseSideNormals (healing/mshrink.h): BndrStruct*
//   KeepCreaseSideNormalsNearCorners (healing/mshrink.h): BndrStruct*
//   KeepSharedRowCreaseAngle (healing/mshrink.h): BndrStruct*
//   KeepSplitRowCreaseAngle (healing/mshrink.h): BndrStruct*
//   KeepClosedSplitRowCreaseAngle (healing/mshrink.h): BndrStruct*
//   KeepJitterCreaseFromRising (healing/mshrink.h): BndrStruct*
//   KeepCornerSharedFolds (healing/mshrink.h): BndrStruct*
//   GetBndrCrvHealedNormalsCorBspl (healing/mshrink.h): BndrStruct*
//   GetBndrCrvCrsDerivBspline (healing/mshrink.h): const CrvInfoStruct*
//   SetBndrCrvWrapNormalSamples (healing/mshrink.h): BndrStruct*
//   ConstrainedWrapCrossDerivBspline (healing/mshrink.h): const ShrnkWrapParams*
//   GetBndrCrvParamMinMax (healing/srfbndr.h): const CrvInfoStruct*
//   GetBndrCrvUniformSamplesInIntervals (healing/srfbndr.h): const CrvInfoStruct*
//   EvalSamplePntsOnBndryCrvInterval (healing/srfbndr.h): const CrvInfoStruct*
//   FindBndrCrvClosestPntSearch (healing/srfbndr.h): CrvInfoStruct*
//   EvalPntOnBndryCrv (healing/srfbndr.h): const CrvInfoStruct*
//   EvalNormalOnBndryCrv (healing/srfbndr.h): const CrvInfoStruct*
//   EvalTangentOnBndryCrv (healing/srfbndr.h): const CrvInfoStruct*
//   EvalBndrEdgeAvgSampleNormalsAndMaxDiff (healing/srfbndr.h): EdgeInfoStruct*
//   ComputeMaxBndrEdgeGap (healing/srfbndr.h): EdgeInfoStruct*
//   ComputeMaxBndrEdgeGapNubVals (healing/srfbndr.h): EdgeInfoStruct*
//   ComputeBndrInfoMaxEdgeGap (healing/srfbndr.h): BndrStruct*
//   BndrEdgeMaxNormalDiff (healing/srfbndr.h): EdgeInfoStruct*
//   BndrEdgeInsideNormalDiff (healing/srfbndr.h): const EdgeInfoStruct*
//   BndrEdgeInsideSlopeDiff (healing/srfbndr.h): const EdgeInfoStruct*
//   ComputeBndrInfoMaxNormalDiff (healing/srfbndr.h): BndrStruct*
//   ComputeSrfsGrpContinuity (healing/srfbndr.h): BndrStruct*
//   ComputeMaxBndrCrvToEdgeSampleDiff (healing/srfbndr.h): const CrvInfoStruct*
//   GetBndrEdgeNormalAtCorner (healing/srfbndr.h): const BndrStruct*
//   GetHalfEdgeNormalAtVertex (healing/srfbndr.h): const BndrStruct*
//   SetHalfEdgeNormal (healing/srfbndr.h): BndrStruct*
//   MakeGSrfSurfsCore (healing/srfbndrc.h): Gsrf*
//   SampleCrvBndr (healing/srfbndrc.h): GsrfCrv*
//   ClosestPointOnBndrCrv (healing/srfbndrc.h): GsrfCrv*
//   ClosestDistOnBndrCrv (healing/srfbndrc.h): GsrfCrv*
//   FindCrvParamValueTjunct (healing/srfbndrc.h): Gsrf*
//   FindRedundantSurfaces (healing/srfbndrc.h): const double boxes[]
//   HarmonizeSrfNormals (healing/srfnorm.h): Bspline***
//   GetFlippedSurfaces (healing/srfnorm.h): Gsrf*
//   MakeMarkedPolyPointers (mesh/cldpoly.h): IndexNode**
//   MakeEdgePointers (mesh/cldpoly.h): IndexNode**
//   MakeMarkedEdgePointers (mesh/cldpoly.h): IndexNode**
//   CreatePolyEdges (mesh/cldpoly.h): int32_t**
//   EdgeToPolyPointers (mesh/cldpoly.h): IndexNode**
//   MakeOuterEdgeList (mesh/cldpoly.h): int32_t* const*
//   MakeBoundaryLoops (mesh/cldpoly.h): int32_t**
//   FindAllPolysWithVert (mesh/cldpoly.h): IndexNode* const*
//   FindPolygonEdges (mesh/cldpoly.h): IndexNode* const*
//   UpdatePolyPointers (mesh/cldpoly.h): IndexNode**
//   FindMultCloudPoly (mesh/cldpoly.h): int32_t**
//   FindMultCloudPolyFromPolyArray (mesh/cldpoly.h): int32_t**
//   FindDegenerateCloudPoly (mesh/cldpoly.h): int32_t**
//   FindOverlapCloudPoly (mesh/cldpoly.h): int32_t**
//   FindOverlapCloudPolyFromPolyArray (mesh/cldpoly.h): IndexNode* const*
//   Compare (mesh/cldpoly.h): const CloudSortPoint*
//   TrimCloudWithCurve (mesh/cldtrim.h): IndexNode* const*
//   SubdivideLoopPolys (mesh/cldtrim.h): CurveSampleCache*
//   GetClosestCurvePoint (mesh/cldtrim.h): CurveSampleCache*
//   FindPolyWithOutsideVerts (mesh/cldtrim.h): IndexNode* const*
//   GetPolyWithOutsideEdge (mesh/cldtrim.h): IndexNode* const*
//   GetNumPolyEdgesInLoop (mesh/cldtrim.h): IndexNode* const*
//   CreateNewPolys (mesh/cldtrim.h): IndexNode**
//   BeginHoleCaps (mesh/cldtrim.h): IndexNode* const*
//   SplitCloudPoly (mesh/pgr2cld.h): IndexNode**
//   CloseCloudGroup (mesh/pgr2cld.h): Gsrf*
//   MapOuterVertsToBndrEl (mesh/pgr2cld.h): Gsrf*
//   CloseAllLoops (mesh/pgr2cld.h): Gsrf*
//   JoinStartAndEndOfBndrEl (mesh/pgr2cld.h): Gsrf*
//   EvalPointOnBndrEl (mesh/pgr2cld.h): Gsrf*
//   GetClosestPointOnBndrEl (mesh/pgr2cld.h): Gsrf*
//   GetClosestBndryElInLoop (mesh/pgr2cld.h): Gsrf*
//   GetDistToNextBndrEl (mesh/pgr2cld.h): Gsrf*
//   ArrangeVertsInOrder (mesh/pgr2cld.h): Gsrf*
//   IdentifySeparateObjectsWithEdges (mesh/pgr2cld.h): int**
//   BreakDistinctClouds (mesh/pgr2cld.h): Cloud***
//   AddPolyClds (mesh/pgr2cld.h): Cloud**
//   FindCloudPolySub (mesh/pgr2cld.h): int**
//   CloudScanOffset (mesh/poffset.h): const Xform
//   CreateOffsetCloud (mesh/poffset.h): Cloud**
//   CanCollapseEdge (mesh/putil.h): IndexNode* const*
//   CollapseEdgeToVert (mesh/putil.h): IndexNode**
//   RemoveCldVertexLow2 (mesh/putil.h): CloudTriangle*
//   MultipleEdgeFormed (mesh/putil.h): IndexNode* const*
//   MakeLeftAndRightClouds (mesh/putil.h): const PlaneEq
//   IntersectPolyEdge (mesh/putil.h): const CloudTriangle*
//   JustVerifyClosedPolyCloud (mesh/rpmclose.h): PolyEdgeCounts*
//   FindOuterPolyEdges (mesh/rpmclose.h): int32_t* const*
//   MarkCornerVertices (mesh/rpmclose.h): IndexNode* const*
//   PolygonsEdgesOverlap (mesh/rpmclose.h): IndexNode* const*
//   PolyVertEdgesOverlap (mesh/rpmclose.h): IndexNode* const*
//   CloseCloudByBridging (mesh/rpmclose.h): JoinPolysState*
//   CloseCloudEdgeRings (mesh/rpmclose.h): IndexNode* const*
//   FindNeighborEdge (mesh/rpmclose.h): IndexNode* const*
//   CreateCapPolysRecursive (mesh/trianum.h): const int* const*
//   MakeInnerOuterPoly2D (mesh/trianum.h): const int* const*
//   CapModel (mesh/trianum.h): IndexNode* const*
//   SpecCapPolys (mesh/trianum.h): IndexNode* const*
//   STLPolygonCap (mesh/trianum.h): const void*
//   CreatePlugForHole (mesh/trianum.h): int**
