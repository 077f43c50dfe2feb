#include "exchange/ParlinkSession.h"

#include "exchange/ExchangeCodes.h"
#include "exchange/LinkReasonText.h"
#include "exchange/TerminalAnswer.h"
#include "platform/Clock.h"
#include "platform/Prompt.h"
#include "platform/StopSignal.h"

#include <QFileInfo>

#include <algorithm>
#include <chrono>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

OpeningMessages StandardOpeningMessages() {
    return {QStringLiteral("Ошибка! Не могу найти компоненту Parlink"),
            QStringLiteral("Ошибка! Не могу создать Parlink обьект!"),
            QStringLiteral("Ошибка! Не могу открыть порт!"),
            QStringLiteral("Ошибка! Терминал не отвечает!")};
}

namespace {
const QString kSerialGroup = QStringLiteral("dialout");

// A member who was added but has not logged in again does not hold the group
// yet: the hint's "then log in again" is the cure then too.
bool NeedsSerialGroupHint(const DeviceAccess& access) {
    return access.exists && !access.openable && access.group == kSerialGroup && !access.processInGroup;
}

}  // namespace

DeviceAccess DeviceAccessOf(const QString& device) {
    DeviceAccess access;
    const QFileInfo info(device);
    access.exists = device.startsWith(QLatin1Char('/')) && info.exists();
    if (!access.exists) return access;
    access.openable = info.isReadable() && info.isWritable();
    access.group = info.group();
#ifndef _WIN32
    const gid_t gid = static_cast<gid_t>(info.groupId());
    access.processInGroup = ::getegid() == gid;
    const int count = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(static_cast<size_t>(std::max(count, 0)));
    if (count > 0 && ::getgroups(count, groups.data()) == count)
        access.processInGroup = access.processInGroup || std::find(groups.begin(), groups.end(), gid) != groups.end();
#endif
    return access;
}

QString PortOpenFailureDetail(const QString& port, const PortOpenProblem& problem) {
    return PortOpenFailureDetail(port, problem, DeviceAccessOf(problem.device));
}

QString PortOpenFailureDetail(const QString& port, const PortOpenProblem& problem, const DeviceAccess& access) {
    QString detail = QStringLiteral("cannot open the port %1").arg(port);
    if (!problem.device.isEmpty() && problem.device != port) detail += QStringLiteral(" (%1)").arg(problem.device);
    if (!problem.reason.isEmpty()) detail += QStringLiteral(": ") + problem.reason;
    if (NeedsSerialGroupHint(access))
        detail += QStringLiteral(" - serial ports belong to the group \"dialout\": "
                                 "sudo usermod -aG dialout $USER, then log in again");
    return detail;
}

QString PortOpenFailureText(const QString& port, const PortOpenProblem& problem) {
    QString text = QStringLiteral("Порт: %1").arg(port);
    if (!problem.device.isEmpty() && problem.device != port) text += QStringLiteral(" (%1)").arg(problem.device);
    if (!problem.reason.isEmpty()) text += QStringLiteral("\nПричина: %1").arg(LinkReasonInRussian(problem.reason));
    if (NeedsSerialGroupHint(DeviceAccessOf(problem.device)))
        text += QStringLiteral("\nПоследовательные порты доступны группе dialout: выполните "
                               "sudo usermod -aG dialout $USER и войдите в систему заново.");
    return text;
}

int CParlinkSession::CStoppableLink::SendCommand(const QString& command) {
    return StopRequested() ? 0 : m_object->SendCommand(command);
}
int CParlinkSession::CStoppableLink::SendData(const QString& data) {
    return StopRequested() ? 0 : m_object->SendData(data);
}
int CParlinkSession::CStoppableLink::Receive(QString* answer) {
    return StopRequested() ? 0 : m_object->Receive(answer);
}
int CParlinkSession::ReceiveWindows1251(QByteArrayView* bytes, QString* text) {
    return StopRequested() ? 0 : m_object.ReceiveWindows1251(bytes, text);
}
int CParlinkSession::SendDataWindows1251(QByteArrayView bytes) {
    return StopRequested() ? 0 : m_object.SendDataWindows1251(bytes);
}
int CParlinkSession::CStoppableLink::EndData() { return StopRequested() ? 0 : m_object->EndData(); }
int CParlinkSession::CStoppableLink::WaitLink(int timeoutMs) {
    // A wait already begun runs to its end (bounded by its time-out): a
    // responsive terminal answers at once, a hung one within it.
    return StopRequested() ? 0 : m_object->WaitLink(timeoutMs);
}

int CParlinkSession::Open(const QString& port, const OpeningMessages& messages) {
    Close();
    m_endConfirmed = false;
    m_port = port;
    QString why;
    const int created = CreateParlinkComponent(&m_object, &why);
    const QString component = QString::fromLatin1(kParlinkProgId);
    if (created == ExchangeCode::kComponentNotRegistered)
        return Fail(created, messages.notRegistered,
                    QStringLiteral("the link component %1 is not registered: %2").arg(component, why));
    if (created != ExchangeCode::kOk)
        return Fail(created, messages.notCreated,
                    QStringLiteral("the link component %1 cannot be created: %2").arg(component, why));

    const QString componentPort = ComponentPortName(port);
    const auto start = std::chrono::steady_clock::now();
    const auto spentMs = [&] {
        return static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
    };
    const auto busy = [&] {
        return Fail(ExchangeCode::kTerminalBusy, QStringLiteral("Ошибка! Терминал занят другой программой!"),
                    QStringLiteral("the terminal on the port %1 is in a session with another program; "
                                   "waited %2 s for it to end")
                        .arg(port)
                        .arg(spentMs() / 1000));
    };
    // A port another program holds (a serial port's lock) is a terminal busy
    // with it: tried again until it is free, a bounded time.
    bool opened = ParlinkSucceeded(m_object->OpenPort(componentPort));
    while (!opened && (m_object.SessionState() & kParlinkTerminalBusy) && !StopRequested()) {
        if (spentMs() >= m_busyWaitMs) return busy();
        Clock().SleepMs(250);
        opened = ParlinkSucceeded(m_object->OpenPort(componentPort));
    }
    if (!opened) {
        // The box names the port and the system's reason too: "cannot open
        // the port" alone leaves the user guessing which port and why.
        const PortOpenProblem problem = m_object.OpenPortProblem(componentPort);
        return Fail(ExchangeCode::kPortNotOpened,
                    messages.portNotOpened + QStringLiteral("\n\n") + PortOpenFailureText(port, problem),
                    PortOpenFailureDetail(port, problem));
    }
    m_portOpen = true;
    // A terminal that does not answer still leaves an open port behind: it is
    // closed like on every later failure.
    if (ParlinkSucceeded(m_object->WaitLink(kOpenWaitLinkMs))) return ExchangeCode::kOk;
    // A terminal in another program's session says so and takes ours once
    // that one ends: wait for it, a bounded time, never in between.
    while ((m_object.SessionState() & kParlinkTerminalBusy) && !StopRequested()) {
        const int left = m_busyWaitMs - spentMs();
        if (left <= 0) return busy();
        if (ParlinkSucceeded(m_object->WaitLink(std::min(left, 1000)))) return ExchangeCode::kOk;
    }
    {
        return Fail(ExchangeCode::kNoAnswer, messages.noAnswer,
                    QStringLiteral("no terminal answers on the port %1 (is it switched on, "
                                   "in its cradle, and is this its port?)")
                        .arg(port));
    }
}

void CParlinkSession::SetFailureDetail(const QString& detail) {
    if (m_failureDetail) *m_failureDetail = detail;
}

void CParlinkSession::ShowError(const QString& message) const {
    if (m_showMessages) Prompt().Error(message, m_caption);
}

void CParlinkSession::ShowWarning(const QString& message) const {
    if (m_showMessages) Prompt().Warning(message, m_caption);
}

int CParlinkSession::Fail(int code, const QString& message, const QString& detail) {
    SetFailureDetail(!detail.isEmpty() ? detail
                                       : QStringLiteral("%1 (port %2)").arg(message.trimmed(), m_port));
    // Close first: a message box may stay up for a long time, and the port
    // should not be held while the user reads it.
    Close();
    ShowError(message);
    return code;
}

int CParlinkSession::End(int code) {
    if (Close() || code != ExchangeCode::kOk) return code;
    SetFailureDetail(QStringLiteral("the terminal on the port %1 did not confirm the end of the exchange; "
                                    "what was sent last may not have been carried out")
                         .arg(m_port));
    ShowError(QStringLiteral("Ошибка обмена! Терминал не отвечает!"));
    return ExchangeCode::kNoAnswer;
}

bool CParlinkSession::Close() {
    if (m_portOpen && m_object) m_endConfirmed = ParlinkSucceeded(m_object->ClosePort());
    m_portOpen = false;
    m_object.Reset();
    return m_endConfirmed;
}

int SendTerminalClock(CParlinkSession& session, const QString& commandFailed) {
    IParlinkX2& link = session.Link();
    if (!ParlinkSucceeded(link.SendCommand(QStringLiteral("303"))))
        return session.Fail(ExchangeCode::kNoAnswer, commandFailed);
    if (!ParlinkSucceeded(link.SendData(TerminalTimeStamp())))
        return session.Fail(ExchangeCode::kNoAnswer,
                            QStringLiteral("Ошибка обмена! Терминал не отвечает на команду 303(2)!"));
    return ExchangeCode::kOk;
}
