#pragma once
// The terminal-link component as the exchange code uses it. One object serves
// one session: open the port, talk, close the port, release. Every operation
// returns a status that counts as success when it is 1 or more. Texts are
// UTF-16 (QString) and may hold any character, including ';', CR, LF and
// U+0004; the end of a stream of lines is an answer whose first character is
// U+0004.
//
// Implementations live in plugin libraries named in components.ini beside the
// program (see ComponentRegistry.h). A plugin exports
//     extern "C" IParlinkX2* KxCreateParlinkX2(int interfaceVersion);
// which returns a new object (or null when it cannot make one, or when
// `interfaceVersion` is not kParlinkInterfaceVersion). The object is given
// back with Release(), never with delete, so that it is freed by the library
// that made it. A plugin may also export
//     extern "C" void KxParlinkOpenPortProblem(IParlinkX2* object, const QString& port,
//                                              QString* device, QString* reason);
// which tells, for an object of its own whose OpenPort(port) just failed,
// the device the name stood for and the system's reason, so that a person
// can be told what to fix. And it may export
//     extern "C" unsigned KxParlinkSessionState(IParlinkX2* object);
// which tells, for an object of its own with a session open, what the
// session agreed with the terminal (the kParlinkSession... bits below), and
// whether the terminal answered that it is busy with another program.
// And it may carry records as the program's files keep them, in Windows-1251,
// without a conversion to UTF-16 and back for every record, by exporting
//     extern "C" int KxParlinkReceiveWindows1251(IParlinkX2* object, QByteArrayView* bytes,
//                                                QString* text);
// which takes the next answer as Receive does (same status): when every
// character of it is one of Windows-1251's, `*bytes` refers to it in that
// page (valid until the next call on the object) and `*text` is empty;
// otherwise `*bytes` is empty and `*text` holds it. And
//     extern "C" int KxParlinkSendDataWindows1251(IParlinkX2* object, QByteArrayView bytes);
// which is SendData of the text those Windows-1251 bytes stand for.
// And a component that pairs the program with network terminals exports
//     extern "C" bool KxParlinkPair(int interfaceVersion, const QString& port, const QString& code,
//                                   CPairOutcome* outcome);
// which pairs with the terminal at `port` by the code it shows, keeping the
// key and pins where the component's own settings say, and fills `outcome`
// (PairingResult.h); false, with `outcome` untouched, when `interfaceVersion`
// is not kParlinkInterfaceVersion.

#include "exchange/PairingResult.h"

#include <QByteArrayView>
#include <QString>

inline constexpr int kParlinkInterfaceVersion = 1;
inline constexpr const char* kParlinkFactorySymbol = "KxCreateParlinkX2";
inline constexpr const char* kParlinkProgId = "KXC.ParlinkX2";

class IParlinkX2 {
public:
    // Opens the link on a port name: "COM1".."COM8", "\\.\WCEUSBSH001",
    // "ActiveSync", a device path, or a transport form of the component's own.
    virtual int OpenPort(const QString& port) = 0;
    // Ends the session and closes the port (always, whatever the status).
    // Success only when the terminal confirmed that it carried out every
    // command sent and heard the end of the session.
    virtual int ClosePort() = 0;
    // A command: three-character codes such as "998", "111", "40R", or "--s".
    virtual int SendCommand(const QString& command) = 0;
    // The data that belongs to the preceding command (time stamp, value, record piece).
    virtual int SendData(const QString& data) = 0;
    // One answer per call.
    virtual int Receive(QString* answer) = 0;
    // Closes a block of records.
    virtual int EndData() = 0;
    virtual QString GetComponentVersion() = 0;
    virtual QString GetProtocolVersion() = 0;
    // Succeeds when the terminal answers on the open link within the
    // time-out, having carried out every command sent before.
    virtual int WaitLink(int timeoutMs) = 0;
    // Frees the object (the session's port should be closed first).
    virtual void Release() = 0;

protected:
    virtual ~IParlinkX2() = default;
};

inline constexpr const char* kParlinkOpenPortProblemSymbol = "KxParlinkOpenPortProblem";
inline constexpr const char* kParlinkSessionStateSymbol = "KxParlinkSessionState";
inline constexpr const char* kParlinkPairSymbol = "KxParlinkPair";
inline constexpr const char* kParlinkReceiveWindows1251Symbol = "KxParlinkReceiveWindows1251";
inline constexpr const char* kParlinkSendDataWindows1251Symbol = "KxParlinkSendDataWindows1251";

// Bits of KxParlinkSessionState.
inline constexpr unsigned kParlinkJournalSequence = 0x1;  // scans numbered; window, clear-through, session filters
inline constexpr unsigned kParlinkOneProgram = 0x2;       // the terminal serves one program at a time
inline constexpr unsigned kParlinkTerminalBusy = 0x100;   // it answered that another program's session is open

extern "C" {
using KxCreateParlinkX2Fn = IParlinkX2* (*)(int interfaceVersion);
using KxParlinkOpenPortProblemFn = void (*)(IParlinkX2* object, const QString& port, QString* device,
                                            QString* reason);
using KxParlinkSessionStateFn = unsigned (*)(IParlinkX2* object);
using KxParlinkReceiveWindows1251Fn = int (*)(IParlinkX2* object, QByteArrayView* bytes, QString* text);
using KxParlinkSendDataWindows1251Fn = int (*)(IParlinkX2* object, QByteArrayView bytes);
using KxParlinkPairFn = bool (*)(int interfaceVersion, const QString& port, const QString& code,
                                 CPairOutcome* outcome);
}

inline bool ParlinkSucceeded(int status) { return status >= 1; }
