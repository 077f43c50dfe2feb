#pragma once
// What both ends of the network link share: TLS 1.3 settings, the short
// exchange that opens every TLS session before the link protocol, and where
// each side keeps its identity and pins.
//
// After the TLS handshake (each side presents its own self-signed
// certificate, TlsIdentity.h) the program checks the terminal's certificate
// against its pin before it sends a byte, then sends a greeting:
//
//   'K' 'X' 'T' mode      mode 'L': a link session, 'P': pairing
//
// Link: the terminal answers one byte, 'K' (the program's certificate is
// pinned: the link protocol's frames follow in both directions) or 'U' (not
// paired: it closes). Pairing: see Pairing.h.

#include "components/parlink/security/TlsIdentity.h"

#include <QSslConfiguration>
#include <QString>

class QSslSocket;

namespace LinkTls {

inline constexpr char kGreeting[] = {'K', 'X', 'T'};
inline constexpr char kModeLink = 'L';
inline constexpr char kModePair = 'P';
inline constexpr char kAccepted = 'K';      // link: go on; pairing: paired
inline constexpr char kUnknownPeer = 'U';   // link: this program is not paired
inline constexpr char kNoCode = 'N';        // pairing: no valid code (expired, used up)
inline constexpr char kPairShare = 'S';     // pairing: the terminal's share and confirmation follow
inline constexpr char kPairFailed = 'F';    // pairing: the program's confirmation is wrong

// The program's files, in the folder of the user's parlink.ini.
inline constexpr const char* kProgramIdentityFile = "link-identity.pem";
inline constexpr const char* kProgramPinsFile = "link-pins.txt";

// TLS 1.3 only, this side's certificate and key, and the peer's
// certificate asked for but not checked against any authority: the caller
// compares its fingerprint with the pin.
QSslConfiguration Configuration(const CTlsIdentity& identity);

// The program's side up to the greeting: connects to host:port, completes
// the TLS handshake within `timeoutMs`, and returns the peer certificate's
// fingerprint in `peerFingerprint`. Nothing is sent on the TLS session yet.
bool ConnectClient(QSslSocket& socket, const QString& host, quint16 port, const CTlsIdentity& identity,
                   int timeoutMs, QByteArray* peerFingerprint, QString* error);

// Reads exactly `size` bytes within `timeoutMs` (the socket in blocking use).
bool ReadExactly(QSslSocket& socket, qsizetype size, int timeoutMs, QByteArray* out);
// Writes and waits until the bytes have left, within `timeoutMs`.
bool WriteAll(QSslSocket& socket, const QByteArray& bytes, int timeoutMs);

// The program's identity and pin files for the given settings files (the
// folder of the last one, the user's own); empty when there are none.
QString ProgramIdentityFolder(const QStringList& settingsFiles);
// A name for this program's certificate: "kxconfig-USER@HOST".
QString ProgramCommonName();
// This program's identity, kept in `folder` (ProgramIdentityFolder), made
// on first use (LoadOrCreateTlsIdentity): what it opens every TLS session
// with, to pair or to run the link.
bool LoadProgramIdentity(const QString& folder, CTlsIdentity* identity, QString* error);

}  // namespace LinkTls
