// Internal to platform/ and the tests: the control surface of the stand-in stub library, for
// tests and the demo host (capture messages, count thermometer calls, schedule a user break,
// answer prompts). Not installed: users of the kernel call only platform/tstubs.h.
#pragma once

#include "platform/tstubs.h"

enum StubMessageKind { kStubInfo = 0, kStubStatus = 1, kStubDebug = 2, kStubClearStatus = 3 };

// Receives every formatted message; a null sink restores the default (standard error).
using StubMessageSink = void (*)(StubMessageKind kind, const char* text, void* user);
void StubSetMessageSink(StubMessageSink sink, void* user);

struct StubThermometer {
  int displays;    // DisplayThermoMeter calls
  int undisplays;  // UnDisplayThermoMeter calls
  int sets;        // SetThermoMeterValue calls
  int value;       // last value set
  int open;        // 1 while displayed
  int outOfRange;  // values set outside 0..100
};
// The thermometer's calls and state so far.
StubThermometer StubGetThermometer();

// user_break answers `on` from now on.
void StubSetUserBreak(int on);
// user_break answers 0 for the next n - 1 polls and 1 from the n-th poll on (n < 1: never).
void StubBreakAfterPolls(long n);
// user_break calls so far.
long StubUserBreakPolls();

// YesNoPrompt answers `answer` from now on (1 until set).
void StubSetYesNoAnswer(int answer);
// EmptyTrash calls so far.
long StubEmptyTrashCount();

struct StubRegAnimation {
  int enables;      // EnableRegAnimation calls
  int disables;     // DisableRegAnimation calls
  int frames;       // RegAnimation calls
  double last[4][4];  // the last matrix shown
};
// The registration display's calls so far and the last motion shown.
StubRegAnimation StubGetRegAnimation();
// Every frame RegAnimation shows is also handed to sink (null: none), for tests that check each
// one.
using StubRegAnimationSink = void (*)(const double m[4][4], void* user);
void StubSetRegAnimationSink(StubRegAnimationSink sink, void* user);

// Back to the initial state: default sink, no break, prompt answers yes, counters at 0, no
// registration frames recorded.
void StubReset();
