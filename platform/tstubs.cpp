#include "platform/tstubs.h"
#include "platform/tstubs_control.h"

#include <cstdarg>
#include <cstdio>

namespace {

StubMessageSink gSink = nullptr;
void* gSinkUser = nullptr;
StubThermometer gThermo = {};
int gBreakOn = 0;
long gBreakAfter = 0;  // 0: no scheduled break
long gPolls = 0;
int gYesNo = 1;
long gTrash = 0;
StubRegAnimation gRegAnimation = {};
StubRegAnimationSink gFrameSink = nullptr;
void* gFrameSinkUser = nullptr;

// The host's formats know %S, a text made by ScribedZKDistanceText; the C library reads %S as a
// wide string, so the stand-in turns it into %s before formatting (%% stays as it is).
void HostFormatToC(const char* format, char* out, size_t size) {
  size_t k = 0;
  for (const char* f = format ? format : ""; *f && k + 1 < size; ++f) {
    out[k++] = *f;
    if (*f != '%' || !f[1] || k + 1 >= size) continue;
    ++f;
    out[k++] = *f == 'S' ? 's' : *f;
  }
  out[k] = '\0';
}

int Emit(StubMessageKind kind, const char* format, va_list args) {
  char cformat[1024];
  HostFormatToC(format, cformat, sizeof cformat);
  char text[4096];
  vsnprintf(text, sizeof text, cformat, args);
  if (gSink) {
    gSink(kind, text, gSinkUser);
  } else {
    static const char* const kTags[] = {"", "status: ", "debug: ", ""};
    fprintf(stderr, "%s%s", kTags[kind], text);
  }
  return 0;
}

}  // namespace

const char* MSGstr(const char* text) { return text ? text : ""; }

const char* ScribedZKDistanceText(double distance) {
  // A few texts in turn, so that one message can show several distances.
  static char texts[4][32];
  static int next = 0;
  char* text = texts[next];
  next = (next + 1) % 4;
  snprintf(text, sizeof texts[0], "%.4g", distance);
  return text;
}

int InfoMessageFormat(const char* format, ...) {
  va_list args;
  va_start(args, format);
  int r = Emit(kStubInfo, format, args);
  va_end(args);
  return r;
}

int StatusMessageFormat(const char* format, ...) {
  va_list args;
  va_start(args, format);
  int r = Emit(kStubStatus, format, args);
  va_end(args);
  return r;
}

int DebugMessageFormat(const char* format, ...) {
  va_list args;
  va_start(args, format);
  int r = Emit(kStubDebug, format, args);
  va_end(args);
  return r;
}

int ClearStatusMessage() {
  if (gSink) gSink(kStubClearStatus, "", gSinkUser);
  return 0;
}

int DisplayThermoMeter() {
  ++gThermo.displays;
  gThermo.open = 1;
  gThermo.value = 0;
  return 0;
}

int SetThermoMeterValue(int percent) {
  ++gThermo.sets;
  if (percent < 0 || percent > 100) ++gThermo.outOfRange;
  gThermo.value = percent;
  return 0;
}

int UnDisplayThermoMeter() {
  ++gThermo.undisplays;
  gThermo.open = 0;
  return 0;
}

int user_break() {
  ++gPolls;
  if (gBreakOn) return 1;
  return (gBreakAfter > 0 && gPolls >= gBreakAfter) ? 1 : 0;
}

int YesNoPrompt(const char*, const char*) { return gYesNo; }

int EmptyTrash() {
  ++gTrash;
  return 0;
}

int EnableRegAnimation() {
  ++gRegAnimation.enables;
  return 0;
}

int DisableRegAnimation() {
  ++gRegAnimation.disables;
  return 0;
}

int RegAnimation(double m[4][4]) {
  ++gRegAnimation.frames;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) gRegAnimation.last[i][j] = m[i][j];
  if (gFrameSink) gFrameSink(m, gFrameSinkUser);
  return 0;
}

void StubSetRegAnimationSink(StubRegAnimationSink sink, void* user) {
  gFrameSink = sink;
  gFrameSinkUser = user;
}

void StubSetMessageSink(StubMessageSink sink, void* user) {
  gSink = sink;
  gSinkUser = user;
}

StubThermometer StubGetThermometer() { return gThermo; }

void StubSetUserBreak(int on) { gBreakOn = on; }

void StubBreakAfterPolls(long n) {
  gPolls = 0;
  gBreakAfter = n > 0 ? n : 0;
}

long StubUserBreakPolls() { return gPolls; }

void StubSetYesNoAnswer(int answer) { gYesNo = answer; }

long StubEmptyTrashCount() { return gTrash; }

StubRegAnimation StubGetRegAnimation() { return gRegAnimation; }

void StubReset() {
  gSink = nullptr;
  gSinkUser = nullptr;
  gFrameSink = nullptr;
  gFrameSinkUser = nullptr;
  gThermo = {};
  gBreakOn = 0;
  gBreakAfter = 0;
  gPolls = 0;
  gYesNo = 1;
  gTrash = 0;
  gRegAnimation = {};
}
