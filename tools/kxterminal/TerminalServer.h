#pragma once
#include "components/parlink/protocol/LinkHello.h"
// The emulator's main loop: one line, the link protocol's responder end and
// the device, driven by poll() until a stop signal arrives.

#include "tools/kxterminal/TerminalDevice.h"
#include "tools/kxterminal/TerminalLine.h"

#include <memory>

class CTerminalServer {
public:
    // `capabilities`: the highest link protocol version it speaks (1 or 2)
    // and the capabilities it announces (version 2).
    CTerminalServer(CTerminalLine& line, CTerminalState& state, int baud,
                    const Link::LinkCapabilities& capabilities = Link::LinkCapabilities());
    // Serves session after session; returns when `stopFd` becomes readable.
    int Run(int stopFd);

private:
    CTerminalLine& m_line;
    CTerminalState& m_state;
    int m_baud;
    Link::LinkCapabilities m_capabilities;
};
