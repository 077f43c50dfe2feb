#include "tests/exchange/FakeParlink.h"

#include "platform/Clock.h"

void CFakeParlink::FailCall(const QString& entry, int occurrence) {
    m_failures.append({entry, occurrence, 0});
}

bool CFakeParlink::Call(const QString& entry) {
    log << entry;
    logTimes << Clock().NowMs();
    if (onCall) onCall(entry);
    bool ok = true;
    for (Failure& failure : m_failures) {
        const bool matches = failure.entry.endsWith(QLatin1Char('*'))
                                 ? entry.startsWith(failure.entry.chopped(1))
                                 : entry == failure.entry;
        if (matches && ++failure.seen == failure.occurrence) ok = false;
    }
    return ok;
}

bool CFakeParlink::FindComponent() { return Call(QStringLiteral("Find")); }

IParlinkX2* CFakeParlink::CreateObject() {
    if (!Call(QStringLiteral("Create"))) return nullptr;
    ++creations;
    return this;
}

int CFakeParlink::OpenPort(const QString& port) {
    if (!Call(QStringLiteral("OpenPort(%1)").arg(port))) return 0;
    ++opens;
    portOpen = true;
    return 1;
}

int CFakeParlink::ClosePort() {
    // The port is closed whatever the status says; a failure means the
    // terminal did not confirm the end of the session.
    const bool ok = Call(QStringLiteral("ClosePort"));
    ++closes;
    portOpen = false;
    return ok ? 1 : 0;
}

int CFakeParlink::SendCommand(const QString& command) {
    if (!Call(QStringLiteral("SendCommand(%1)").arg(command))) return 0;
    if (m_scripts.contains(command)) m_pending = m_scripts.value(command);
    return 1;
}

int CFakeParlink::SendData(const QString& data) {
    return Call(QStringLiteral("SendData(%1)").arg(data)) ? 1 : 0;
}

int CFakeParlink::Receive(QString* answer) {
    const bool ok = Call(QStringLiteral("Receive"));
    const QString next = m_pending.isEmpty() ? defaultAnswer : m_pending.takeFirst();
    if (!ok) return 0;
    *answer = next;
    return 1;
}

int CFakeParlink::EndData() { return Call(QStringLiteral("EndData")) ? 1 : 0; }

QString CFakeParlink::GetComponentVersion() {
    Call(QStringLiteral("GetComponentVersion"));
    return componentVersion;
}

QString CFakeParlink::GetProtocolVersion() {
    Call(QStringLiteral("GetProtocolVersion"));
    return protocolVersion;
}

int CFakeParlink::WaitLink(int timeoutMs) {
    return Call(QStringLiteral("WaitLink(%1)").arg(timeoutMs)) ? 1 : 0;
}

void CFakeParlink::Release() {
    Call(QStringLiteral("Release"));
    ++releases;
}

QStringList CFakeParlink::Wire() const {
    QStringList wire;
    for (const QString& entry : log)
        if (entry != QLatin1String("Find") && entry != QLatin1String("Create") &&
            entry != QLatin1String("Release"))
            wire << entry;
    return wire;
}

void CFakeParlink::Reset() {
    *this = CFakeParlink();
}

void CFakeParlink::AnswerAsReadyTerminal() {
    AnswerAfter("998", {"1;Готов"});
    AnswerAfter("--s", {"Orvane;4.4.0"});
    AnswerAfter("--h", {"X;T1;123;"});
    AnswerAfter("003", {"SYNC"});
}
