#include "cloud/putil.h"

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
