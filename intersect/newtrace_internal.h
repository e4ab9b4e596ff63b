// What the surface/surface marches (newtrace.cpp) and the fit of their traces (newintr.cpp)
// share besides the public tracing calls: the points of the pair they evaluate, remembered for
// the length of one intersection. Internal to intersect/.
#pragma once

struct Bspline;

// Point and first partials of s at (u, v) into jet (P, Su, Sv), with EvalPointOnGeometryM's
// status and values: the tangent planes of the pulls and marches. A point of a surface a
// RememberedSurfaceJets scope holds, asked again (the same record at the same bits of u and v),
// is handed back as it was evaluated.
int SurfaceJet(const Bspline* s, double u, double v, double jet[3][3]);
// True when (u, v) lies on a crease of s across its parameter dir (0 u, 1 v): on an interior knot
// of multiplicity at least the degree (every knot of a degree-1 tessellation) that the normals
// turn across by more than round-off of their partials beside a pole. A branch over the surface
// turns there, and its curves have a corner.
bool OnSurfaceCrease(Bspline* s, double u, double v, int dir);
// While one lives, SurfaceJet on its thread remembers the points it evaluates of s1 and s2 (when
// both are sound, bsvalid, surfaces; else of none). The intersection's marches and its fit
// evaluate the same points over and over (the fit an interval's nodes at every pull and check of
// it). The surfaces must stay as they are while it lives. A scope opened inside another holds
// until it ends, and the outer one then holds again, having forgotten what it kept.
class RememberedSurfaceJets {
 public:
  RememberedSurfaceJets(const Bspline* s1, const Bspline* s2);
  ~RememberedSurfaceJets();
  RememberedSurfaceJets(const RememberedSurfaceJets&) = delete;
  RememberedSurfaceJets& operator=(const RememberedSurfaceJets&) = delete;

 private:
  const Bspline* outer_[2];
};
