#pragma once
// Points where a test stops the program to kill it there: with the
// environment variable KX_TEST_PAUSE_AT naming a point (several separated by
// commas), a build with tests stops itself (SIGSTOP) on reaching it, and the
// test, which sees the process stopped, kills it by its id at exactly that
// moment. A build without tests (a package) has no such points.

// The point is named in KX_TEST_PAUSE_AT (always false without tests).
bool TestPointArmed(const char* point);
// Stops the process here when the point is armed.
void PauseAtTestPoint(const char* point);
