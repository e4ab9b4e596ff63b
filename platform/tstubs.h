// Stand-in for the host's stub library: message display and distance texts, the progress
// thermometer, the user-break poll, a yes/no prompt, the host's memory release and the
// registration display. The control surface that tests and the demo host use is in
// platform/tstubs_control.h, which is not installed.
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
