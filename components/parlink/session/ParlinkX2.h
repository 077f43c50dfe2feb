#pragma once
// Our terminal-link component: IParlinkX2 over the link protocol of
// docs/link-protocol.md. One object serves one session at a time, from the
// thread that uses it; statuses are 1 (success) or 0 (failure).

#include "components/parlink/session/LinkSession.h"
#include "exchange/ParlinkComponent.h"

#include <memory>

inline constexpr const char* kParlinkComponentVersion = "1.0.0";

class CParlinkX2 final : public IParlinkX2 {
public:
    // `settingsFiles`: the component's parlink.ini files, lowest first
    // (port names, link time-outs; ParlinkSettingsFiles.h).
    explicit CParlinkX2(const QStringList& settingsFiles);
    ~CParlinkX2() override;

    int OpenPort(const QString& port) override;
    int ClosePort() override;
    int SendCommand(const QString& command) override;
    int SendData(const QString& data) override;
    int Receive(QString* answer) override;
    int EndData() override;
    QString GetComponentVersion() override;
    QString GetProtocolVersion() override;
    int WaitLink(int timeoutMs) override;
    void Release() override;

    // Records as the program's files keep them (KxParlinkReceiveWindows1251,
    // KxParlinkSendDataWindows1251 of ParlinkComponent.h).
    int ReceiveWindows1251(QByteArrayView* bytes, QString* text);
    int SendDataWindows1251(QByteArrayView bytes);

    // For diagnostics and the benchmark: the current session (null when closed).
    const CLinkSession* Session() const { return m_session.get(); }
    QString LastError() const { return m_lastError; }
    // What the open session agreed, and whether the terminal is busy
    // (kParlinkSession... bits of ParlinkComponent.h); 0 without a session.
    unsigned SessionState() const;

private:
    QStringList m_settingsFiles;
    std::unique_ptr<CLinkSession> m_session;
    QString m_lastError;
    bool m_portInUse = false;  // the last OpenPort found the port another program's
};

// The folder of the library holding this code (with a trailing '/'), where
// its parlink.ini lives; empty when the system cannot tell.
QString ParlinkLibraryFolder();
