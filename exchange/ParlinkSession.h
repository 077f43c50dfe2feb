#pragma once
// The opening sequence every exchange routine shares, and the guarantee that
// goes with it: once the component object exists it is released on every
// path, and once the port is open it is closed before that.

#include "exchange/ComponentRegistry.h"

#include <QString>

// The routine's own texts for the four opening failures (codes 1-4).
struct OpeningMessages {
    QString notRegistered;
    QString notCreated;
    QString portNotOpened;
    QString noAnswer;
};

// The texts of the journal, filter and info-table routines.
OpeningMessages StandardOpeningMessages();

inline constexpr int kOpenWaitLinkMs = 3000;
// How long an opening waits for a terminal busy with another program.
inline constexpr int kDefaultBusyTerminalWaitMs = 30000;

class CParlinkSession {
public:
    // `failureDetail` (optional) receives, on failure, one line a person can
    // act on: the port and the system's reason, the file, the terminal's own
    // words. It is shown on the command line, where no message box appears.
    CParlinkSession(bool showMessages, const QString& caption, QString* failureDetail = nullptr)
        : m_showMessages(showMessages), m_caption(caption), m_failureDetail(failureDetail) {
        if (m_failureDetail) m_failureDetail->clear();
    }
    ~CParlinkSession() { Close(); }
    CParlinkSession(const CParlinkSession&) = delete;
    CParlinkSession& operator=(const CParlinkSession&) = delete;

    // Creates the component, opens `port` ("USB" mapped) and checks that the
    // terminal answers. Returns 0 or 1-4 after showing the matching message;
    // on failure nothing is left open or unreleased.
    int Open(const QString& port, const OpeningMessages& messages);

    // The open link. Once a stop signal came (platform/StopSignal.h) it sends
    // no new command or data and waits for nothing more: every such call
    // fails, so the routine under way takes its failure path and closes the
    // session (the goodbye still goes).
    IParlinkX2& Link() { return m_guard; }
    // Records as the program's files keep them, in Windows-1251
    // (CParlinkHolder::ReceiveWindows1251); stopped as Link() is.
    int ReceiveWindows1251(QByteArrayView* bytes, QString* text);
    int SendDataWindows1251(QByteArrayView bytes);
    // What the open session agreed with the terminal (kParlinkSession... bits).
    unsigned State() const { return m_object.SessionState(); }
    bool JournalSequence() const { return (State() & kParlinkJournalSequence) != 0; }
    // How long Open waits while the terminal answers that it is busy.
    void SetBusyWait(int ms) { m_busyWaitMs = ms; }

    // Shows `message` as an error (when messages are on), closes the session
    // and returns `code`. The failure detail is `detail`, or the message with
    // the port when no detail is given.
    int Fail(int code, const QString& message, const QString& detail = QString());
    // Closes the session and returns `code` without a message; but a session
    // that was to end with 0 and whose end the terminal did not confirm ends
    // with 4 and "Ошибка обмена! Терминал не отвечает!": what was sent last
    // may not have been carried out.
    int End(int code);
    // Sets the failure detail of a failure that ends with End or a warning.
    void SetFailureDetail(const QString& detail);
    const QString& Port() const { return m_port; }
    void ShowError(const QString& message) const;
    void ShowWarning(const QString& message) const;
    bool ShowsMessages() const { return m_showMessages; }

    // Closes the port if it is open and releases the object; safe to repeat.
    // True when the terminal confirmed the end of the session (every command
    // carried out, the end heard); false when it did not or no port was open.
    bool Close();

private:
    class CStoppableLink final : public IParlinkX2 {
    public:
        explicit CStoppableLink(const CParlinkHolder& object) : m_object(object) {}
        int OpenPort(const QString& port) override { return m_object->OpenPort(port); }
        int ClosePort() override { return m_object->ClosePort(); }
        int SendCommand(const QString& command) override;
        int SendData(const QString& data) override;
        int Receive(QString* answer) override;
        int EndData() override;
        QString GetComponentVersion() override { return m_object->GetComponentVersion(); }
        QString GetProtocolVersion() override { return m_object->GetProtocolVersion(); }
        int WaitLink(int timeoutMs) override;
        void Release() override {}

    private:
        const CParlinkHolder& m_object;
    };

    bool m_showMessages;
    QString m_caption;
    QString* m_failureDetail;
    QString m_port;
    CParlinkHolder m_object;
    CStoppableLink m_guard{m_object};
    bool m_portOpen = false;
    bool m_endConfirmed = false;
    int m_busyWaitMs = kDefaultBusyTerminalWaitMs;
};

// What this process may do with a device file, as far as the "dialout" hint
// needs to know.
struct DeviceAccess {
    bool exists = false;
    bool openable = false;         // readable and writable by this process
    QString group;                 // the device's owning group
    bool processInGroup = false;   // this process already holds that group
};
DeviceAccess DeviceAccessOf(const QString& device);

// "cannot open the port COM1 (/dev/ttyS0): Permission denied - ..." from what
// the component could tell. The hint of the serial ports' group ("dialout")
// comes only where joining it is the cure: a device of that group this
// process may not open and is not a member of. A pseudo-terminal of another
// user, or a device of another group, gets none.
QString PortOpenFailureDetail(const QString& port, const PortOpenProblem& problem);
QString PortOpenFailureDetail(const QString& port, const PortOpenProblem& problem, const DeviceAccess& access);
// The same for the message box, in the program's language: "Порт: COM1
// (/dev/ttyS0)\nПричина: нет доступа" (and the group hint); the link's reason in Russian.
QString PortOpenFailureText(const QString& port, const PortOpenProblem& problem);

// Sets the terminal's clock as a load begins: "303", then the time stamp.
// 0, or 4 after `commandFailed` (the command unanswered) or the stamp's own
// message.
int SendTerminalClock(CParlinkSession& session, const QString& commandFailed);
