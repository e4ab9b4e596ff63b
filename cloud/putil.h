// Point-set utilities, and the progress display that the long point-cloud and quadric
// operations share.
#pragma once

struct Cloud;

// A copy of the cloud that ends where it starts: when its first and last points lie 1e-4 or
// more apart, the first point is appended (every per-point array of the copy grows by that
// point's entry, so none is shorter than the point count; nptsBuilt stays). Null for a null or
// empty cloud, or when memory ran out (nothing left allocated).
Cloud* GetClosedCloud(const Cloud* cloud);

// Splits the cloud into the components of the graph joining points at most dist apart, each a new
// cloud with all its points' data, the one holding the smallest index first. 1 (a connected
// cloud: *count 0, *clouds null), 0 for a null cloud, fewer than 2 points, no memory or a user
// break (nothing handed out), or for a point that is not finite or a dist that is negative or
// whose square is not finite. The array of clouds is the caller's (Free), each cloud too.
int CloudConnectivityBreak(const Cloud* cloud, double dist, Cloud*** clouds, int* count);
// Unites the sets of the m indices in list under their smallest index (list needs room for as
// many entries as there are points; mark one cleared byte per point, cleared again on return).
void UniteIndices(int* list, int* parent, char* mark, int m);
// 1 when the n points agree within 1e-10 per coordinate (also for n < 2 or a null array).
int IsAllPointsTheSame(const float* x, const float* y, const float* z, int n);
// The cloud's box {xmin, ymin, zmin, xmax, ymax, zmax}: 0, or -2 for a null argument or no points.
int ComputeCloudBbox(const Cloud* cloud, double* bbox);
// 1 when box a lies inside box b and differs from it; 0 for a null box.
int BboxInBbox(const double* a, const double* b);
// The projection of the query point on the tangent plane of its nearest cloud point. 0, or -2
// when that point has no normal (foot is then the point itself).
int GetClosestPointOnCloud(const Cloud* cloud, double x, double y, double z, double foot[3]);
// The normal of the plane fitted to the points within charLength of (x, y, z). 0, or -2 for a
// null cloud, no memory, fewer than 3 such points or a failed fit.
int FindCloudPointNormal(const Cloud* cloud, double x, double y, double z, double normal[3]);

// Point lists and queues that survive the caller's scopes; freed only by their own freers.
struct CoordList {
  double x, y, z;
  CoordList* next;
};
struct CoordQueue {
  CoordList* head;
  CoordList* tail;
};
// Appends a node; returns the first node. On no memory the list comes back unchanged.
CoordList* AppendCoordList(CoordList* list, double x, double y, double z);
int FreeCoordList(CoordList* list);
int CountCoordList(const CoordList* list);
CoordQueue* AllocateNullCoordQueue();
// 0, or -2 for a null queue or no memory.
int InsertCoordQueue(CoordQueue* queue, double x, double y, double z);
// 0, or -2 for null.
int FreeCoordQueue(CoordQueue* queue);
int CountCoordQueue(const CoordQueue* queue);

// The host thermometer of one long operation: opened with the operation's title on the status
// line, fed percentages held to 0..100, and closed on every way out, a user break or a failure
// included (the guard's end closes it when finish() was not reached).
// The progress marks of a pass over n items, about one per percent: Due(i) tells whether item i
// (visited in increasing order) reaches the next mark, the first at item 0, and gives the
// percentage to show there.
class PercentMarks {
 public:
  explicit PercentMarks(int n) : n_(n), step_(static_cast<int>(0.01 * n + 0.5)) {
    if (step_ < 1) step_ = 1;
  }
  bool Due(int i, int* percent) {
    if (i < next_) return false;
    *percent = static_cast<int>(100.0 * i / n_ + 0.5);
    next_ = (*percent + 1) * step_;
    return true;
  }

 private:
  int n_;
  int step_;
  int next_ = 0;
};

class Thermometer {
 public:
  explicit Thermometer(const char* title);  // title may be null: no status line
  ~Thermometer();
  Thermometer(const Thermometer&) = delete;
  Thermometer& operator=(const Thermometer&) = delete;

  void set(int percent);
  // The share done of total steps, as a percentage.
  void set(long done, long total);
  // Normal completion: 100, closed, the status line cleared.
  void finish();

 private:
  bool open_;
  bool titled_;
};
