#pragma once
// The network transport of a session: TLS 1.3 to a paired terminal
// ("tcp:HOST:PORT", or "tcp:HOST:PORT#HEX"). Open succeeds only when the
// terminal presents the certificate the name expects (the one pinned at
// HOST:PORT, or the pinned one whose fingerprint begins with HEX, LinkPins.h)
// and accepts this program's certificate;
// then the link protocol runs inside TLS exactly as on a serial line (its
// acknowledgements, time-outs and errors unchanged). Anything else fails the
// open, the port error, before a single link byte is sent: an unknown
// terminal, another certificate at the address (a replaced device or someone
// in between), a terminal that does not know this program.

#include "components/parlink/session/LinkTransport.h"

#include <memory>

std::unique_ptr<ILinkTransport> MakeTcpTransport(const CPortTarget& target, const CTransportOptions& options);
