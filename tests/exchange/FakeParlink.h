#pragma once
// A scripted, in-process terminal-link component for the exchange tests. It is
// its own provider (install it with CScopedParlinkProvider), logs every call
// with its arguments, answers Receive from a script, can make any single call
// fail, and counts creations, releases, opens and closes.
//
// Log entries: "Find", "Create", "OpenPort(<port>)", "ClosePort",
// "SendCommand(<text>)", "SendData(<text>)", "Receive", "EndData",
// "GetComponentVersion", "GetProtocolVersion", "WaitLink(<ms>)", "Release".

#include "exchange/ComponentRegistry.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

class CFakeParlink : public IParlinkX2, public IParlinkProvider {
public:
    // --- script ---
    // Answers Receive gives after `command` was sent, in order (they replace
    // whatever was still pending).
    void AnswerAfter(const QString& command, const QStringList& answers) { m_scripts[command] = answers; }
    // A terminal that is ready ("998"), new enough for journal filters
    // ("--s"), tells its identity ("--h") and confirms uploads ("003").
    void AnswerAsReadyTerminal();
    // Answers given next, before any command script takes over.
    void QueueAnswers(const QStringList& answers) { m_pending += answers; }
    // What Receive gives when nothing is pending.
    QString defaultAnswer;
    // Makes the `occurrence`-th call (1-based) whose log entry matches `entry`
    // fail (status 0, or no component / no object for "Find" / "Create"). An
    // entry ending in '*' matches every log entry with that prefix.
    void FailCall(const QString& entry, int occurrence = 1);
    // Called with every log entry as the call is made (before it answers):
    // a test looks at the disk there as a kill at that call would leave it.
    std::function<void(const QString& entry)> onCall;
    QString componentVersion = QStringLiteral("2.1");
    QString protocolVersion = QStringLiteral("7");

    // --- IParlinkProvider ---
    bool FindComponent() override;
    IParlinkX2* CreateObject() override;

    // --- IParlinkX2 ---
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

    // --- what happened ---
    QStringList log;
    QList<std::int64_t> logTimes;  // Clock().NowMs() at each log entry
    int creations = 0;
    int releases = 0;
    int opens = 0;   // successful OpenPort calls
    int closes = 0;  // ClosePort calls
    bool portOpen = false;
    // The log without the "Find"/"Create"/"Release" bookkeeping: what went
    // over the link.
    QStringList Wire() const;
    int Count(const QString& entry) const { return static_cast<int>(log.count(entry)); }
    // True when every object was released and every opened port closed.
    bool Balanced() const { return creations == releases && opens == closes && !portOpen; }
    void Reset();

private:
    // Logs the call and tells whether it should succeed.
    bool Call(const QString& entry);

    QHash<QString, QStringList> m_scripts;
    QStringList m_pending;
    struct Failure {
        QString entry;
        int occurrence;
        int seen = 0;
    };
    QList<Failure> m_failures;
};
