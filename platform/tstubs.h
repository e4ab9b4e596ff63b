// Stand-in for the host's stub library: message display and distance texts, the progress
// thermometer, the user-break poll, a yes/no prompt, the host's memory release and the
// registration display. The control surface that tests and the demo host use is in
// platform/tstubs_control.h, which is not installed.
#pragma once

// ---- Host services called by the kernel -------------------------------------------------
// The host's translation of a message text; the stand-in gives the text itself ("" for null).
const char* MSGstr(const char* text);
// Messages in the host's printf formats (%S shows a ScribedZKDistanceText): information, the
// status line and debugging output. Each returns 0.
int InfoMessageFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
int StatusMessageFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
int DebugMessageFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Empties the status line; 0.
int ClearStatusMessage();
// The display text of a distance (four significant digits), shown through %S in the formats of
// the message calls. The text lives until four more texts were made.
const char* ScribedZKDistanceText(double distance);
// The progress thermometer: shown at 0, set to a percentage, taken down; each returns 0.
int DisplayThermoMeter();
int SetThermoMeterValue(int percent);
int UnDisplayThermoMeter();
// 1 when the user asked a long operation to stop, else 0; polled by the kernel's long loops.
int user_break();
// The user's answer to a yes/no question: 1 yes, 0 no.
int YesNoPrompt(const char* question, const char* answer);
// Lets the host release memory it keeps for undo; 0.
int EmptyTrash();
// Begin and end showing a registration's motions as they are found; each returns 0.
int EnableRegAnimation();
int DisableRegAnimation();
// Shows the motion reached so far: a row-vector transform, translation in the last row; 0.
int RegAnimation(double m[4][4]);
