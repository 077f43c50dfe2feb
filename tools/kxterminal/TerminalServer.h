#pragma once
// The emulator's main loop: one line, the link protocol's responder end and
// the device, driven by poll() until a stop signal arrives.

#include "tools/kxterminal/TerminalDevice.h"
#include "tools/kxterminal/TerminalLine.h"

#include <memory>

class CTerminalServer {
public:
    // `protocolVersion`: the highest link protocol version it speaks (1 or 2);
    // `journalSequence`, `oneProgram`: the capabilities it announces (version 2).
    CTerminalServer(CTerminalLine& line, CTerminalState& state, int baud, int protocolVersion = 2,
                    bool journalSequence = true, bool oneProgram = true, bool recordBlocks = true);
    // Serves session after session; returns when `stopFd` becomes readable.
    int Run(int stopFd);

private:
    CTerminalLine& m_line;
    CTerminalState& m_state;
    int m_baud;
    int m_protocolVersion;
    bool m_journalSequence;
    bool m_oneProgram;
    bool m_recordBlocks;
};
