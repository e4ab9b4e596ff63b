// Parallel-transport frames along a 3D curve: a frame (T, N, B = T x N) carried along the curve
// by the minimal rotation that takes each tangent onto the next, sampled once densely and
// continued from the nearest sample below any parameter, so it does not twist about the curve as
// the Frenet frame does. A kd-tree over the samples finds the foot of a point quickly. Curve
// coordinates of a point: the parameter t of its foot, the distance r from the curve and the
// angle theta (radians in [0, 2 pi)) from N towards B.
#pragma once

struct Bspline;
struct KDTree;

struct CurveParallelFrame {
  Bspline* curve;      // the spine, a 3D curve; not owned
  int samplesPerSpan;  // set by the caller; below 3 counts as 2
  int numSamples;
  int useGivenFrame;      // set by the caller: 1 = givenTangent and givenNormal everywhere
  double givenTangent[3];
  double givenNormal[3];
  double* params;   // the sample parameters
  double* tangents;  // unit tangent per sample, 3 doubles each
  double* normals;   // transported unit normal per sample, 3 doubles each
  KDTree* tree;      // over the sampled curve points; its three float arrays are the record's
};

// Samples the curve (samplesPerSpan per knot interval), builds the tree and transports the
// frame; with useGivenFrame the given vectors are used at every sample. The caller sets
// samplesPerSpan, useGivenFrame and the given vectors first. 0; -2 (record untouched) for a
// curve that is not a sound 3D curve, no samples, a given frame that is not one, or memory.
int SetUpCurveParallelFrame(Bspline* curve, CurveParallelFrame* f);
// Frees the tree with its coordinate arrays, params, tangents and normals (any may be absent)
// and clears them. Returns 0.
int CleanUpCurveParallelFrame(CurveParallelFrame* f);
// outN = prevN turned by the rotation that carries prevT onto T (none when they are within
// 1e-6 of parallel), made perpendicular to T again and of unit length. 0; -2 when a vector has
// no length or the result falls along T.
int GetNextParallelTransport(double prevT[3], double prevN[3], double T[3], double outN[3]);
// The frame at t in [umin, umax]: transported from the last sample at or below t. 0; -2 for an
// incomplete record or t outside the curve's range (by more than 1e-6 past the last sample).
int GetCrvLocalParallelFrame(const CurveParallelFrame* f, double t, double T[3], double N[3], double B[3]);
// Curve coordinates of p with the frame's T and N at its foot. 0; -2 when no foot is found
// (with a given frame: the plane through p normal to the given tangent misses the curve) or p
// lies off the foot's normal plane by more than a tenth of its distance from the foot.
int CartisianToCurveFrameCoord(double p[3], const CurveParallelFrame* f, double* t, double* theta, double* r,
                               double T[3], double N[3]);
// The point at curve coordinates (t, theta, r): C(t) + r (cos theta N + sin theta B). 0; -2 for t
// outside the curve's range or a failed frame.
int CrvFrameCrdnateToXYZ(const CurveParallelFrame* f, double t, double theta, double r, double* x, double* y,
                         double* z);
// n (theta, t, r) triples to (x, y, z) in place (x into theta, y into t, z into r), each t first
// clamped into the curve's range. 0; -2 for null arrays, n < 1, or at the first failure.
int TransformCylPntsToXYZSpaceWCurve(double* theta, double* t, double* r, int n, const CurveParallelFrame* f);
