// Stand-in for the host's stub library: message display and distance texts, the progress
// thermometer, the user-break poll, a yes/no prompt, the host's memory release and the registration display. The kernel calls only the
// first block; the second block is the control surface that tests and the demo host use.
#pragma once

// ---- Host services called by the kernel -------------------------------------------------
const char* MSGstr(const char* text);
int InfoMessageFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
int StatusMessageFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
int DebugMessageFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
int ClearStatusMessage();
// The display text of a distance (four significant digits), shown through %S in the formats of
// the message calls. The text lives until four more texts were made.
const char* ScribedZKDistanceText(double distance);
int DisplayThermoMeter();
int SetThermoMeterValue(int percent);
int UnDisplayThermoMeter();
int user_break();
int YesNoPrompt(const char* question, const char* answer);
int EmptyTrash();
int EnableRegAnimation();
int DisableRegAnimation();
// Shows the motion reached so far: a row-vector transform, translation in the last row.
int RegAnimation(double m[4][4]);

// ---- Controls of the stand-in -------------------------------------------------------------
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
StubThermometer StubGetThermometer();

// user_break answers `on` from now on.
void StubSetUserBreak(int on);
// user_break answers 0 for the next n - 1 polls and 1 from the n-th poll on (n < 1: never).
void StubBreakAfterPolls(long n);
long StubUserBreakPolls();

void StubSetYesNoAnswer(int answer);
long StubEmptyTrashCount();

struct StubRegAnimation {
  int enables;      // EnableRegAnimation calls
  int disables;     // DisableRegAnimation calls
  int frames;       // RegAnimation calls
  double last[4][4];  // the last matrix shown
};
StubRegAnimation StubGetRegAnimation();
// Every frame RegAnimation shows is also handed to sink (null: none), for tests that check each
// one.
using StubRegAnimationSink = void (*)(const double m[4][4], void* user);
void StubSetRegAnimationSink(StubRegAnimationSink sink, void* user);

// Back to the initial state: default sink, no break, prompt answers yes, counters at 0, no
// registration frames recorded.
void StubReset();
