#pragma once
// The emulator's main loop: one line, the link protocol's responder end and
// the device, driven by poll() until a stop signal arrives.

#include "tools/kxterminal/TerminalDevice.h"
#include "tools/kxterminal/TerminalLine.h"

#include <memory>

class CTerminalServer {
public:
    CTerminalServer(CTerminalLine& line, CTerminalState& state, int baud);
    // Serves session after session; returns when `stopFd` becomes readable.
    int Run(int stopFd);

private:
    CTerminalLine& m_line;
    CTerminalState& m_state;
    int m_baud;
};
