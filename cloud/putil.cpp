#include "cloud/putil.h"

#include <cstdint>
#include <cstring>

#include "cloud/makecld.h"
#include "cloud/pcopy.h"
#include "foundation/cloudrec.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "platform/tstubs.h"

Thermometer::Thermometer(const char* title) : open_(true), titled_(title != nullptr) {
  DisplayThermoMeter();
  if (titled_) StatusMessageFormat("%s", MSGstr(title));
}

Thermometer::~Thermometer() {
  if (open_) UnDisplayThermoMeter();
}

void Thermometer::set(int percent) {
  if (!open_) return;
  SetThermoMeterValue(percent < 0 ? 0 : percent > 100 ? 100 : percent);
}

void Thermometer::set(long done, long total) {
  const double share = total > 0 ? static_cast<double>(done) / static_cast<double>(total) : 1.0;
  set(share <= 0.0 ? 0 : share >= 1.0 ? 100 : static_cast<int>(100.0 * share));
}

void Thermometer::finish() {
  if (!open_) return;
  SetThermoMeterValue(100);
  UnDisplayThermoMeter();
  open_ = false;
  if (titled_) ClearStatusMessage();
}

namespace {

// Grows a per-point array of n entries by one holding entry 0. Null arrays stay null.
template <typename T>
bool AppendFirst(T*& a, int n) {
  if (!a) return true;
  T* grown = ReallocArray(a, n + 1);
  if (!grown) return false;
  a = grown;
  a[n] = a[0];
  return true;
}

// A bit array of n points grown to n + 1, bit n set as bit 0.
bool AppendFirstBit(uint8_t*& bits, int n) {
  if (!bits) return true;
  const int had = CloudBitArrayBytes(n), need = CloudBitArrayBytes(n + 1);
  if (need > had) {
    uint8_t* grown = ReallocArray(bits, need);
    if (!grown) return false;
    bits = grown;
    for (int b = had; b < need; ++b) bits[b] = 0;
  }
  const uint8_t mask = static_cast<uint8_t>(1u << (n & 7));
  if (bits[0] & 1u)
    bits[n >> 3] |= mask;
  else
    bits[n >> 3] &= static_cast<uint8_t>(~mask);
  return true;
}

bool AppendFirstLabel(char**& labels, int n) {
  if (!labels) return true;
  char* first = nullptr;
  if (labels[0]) {
    const int len = static_cast<int>(std::strlen(labels[0])) + 1;
    first = MallocArray<char>(len);
    if (!first) return false;
    std::memcpy(first, labels[0], len);
  }
  char** grown = ReallocArray(labels, n + 1);
  if (!grown) {
    Free(first);
    return false;
  }
  labels = grown;
  labels[n] = first;
  return true;
}

}  // namespace

Cloud* GetClosedCloud(const Cloud* cloud) {
  if (!cloud || cloud->npts < 1 || !cloud->x || !cloud->y || !cloud->z) return nullptr;
  Owned<Cloud, FreeCloud> copy(CopyCloud(cloud));
  if (!copy || KernelFailed()) return nullptr;
  Cloud* c = copy.get();
  const int n = c->npts;
  const double dx = static_cast<double>(c->x[n - 1]) - c->x[0];
  const double dy = static_cast<double>(c->y[n - 1]) - c->y[0];
  const double dz = static_cast<double>(c->z[n - 1]) - c->z[0];
  if (dx * dx + dy * dy + dz * dz < 1e-8) return copy.release();
  // Grown one array at a time: a failure part-way frees the copy, whose arrays are each still
  // consistent with themselves.
  bool ok = AppendFirst(c->x, n) && AppendFirst(c->y, n) && AppendFirst(c->z, n) &&
            AppendFirst(c->nx, n) && AppendFirst(c->ny, n) && AppendFirst(c->nz, n) &&
            AppendFirst(c->colour[0], n) && AppendFirst(c->colour[1], n) &&
            AppendFirst(c->colour[2], n) && AppendFirst(c->reliability, n) &&
            AppendFirst(c->rowNumber, n) && AppendFirstBit(c->isVert, n) &&
            AppendFirstBit(c->isShow, n) && AppendFirstBit(c->labelIsShow, n) &&
            AppendFirstLabel(c->labels, n);
  for (int k = 0; ok && k < c->farrays.count; ++k) ok = AppendFirst(c->farrays.arrays[k], n);
  if (!ok || KernelFailed()) return nullptr;
  c->npts = n + 1;
  return copy.release();
}
