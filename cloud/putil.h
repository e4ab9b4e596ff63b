// Point-set utilities, and the progress display that the long point-cloud and quadric
// operations share.
#pragma once

struct Cloud;

// A copy of the cloud that ends where it starts: when its first and last points lie 1e-4 or
// more apart, the first point is appended (every per-point array of the copy grows by that
// point's entry, so none is shorter than the point count; nptsBuilt stays). Null for a null or
// empty cloud, or when memory ran out (nothing left allocated).
Cloud* GetClosedCloud(const Cloud* cloud);

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
