#include "components/parlink/session/ParlinkX2.h"

#include <QFileInfo>

#ifndef _WIN32
#include <dlfcn.h>
#endif

CParlinkX2::CParlinkX2(const QStringList& settingsFiles) : m_settingsFiles(settingsFiles) {}

CParlinkX2::~CParlinkX2() = default;

int CParlinkX2::OpenPort(const QString& port) {
    m_session.reset();
    const CPortTarget target = ResolvePortName(port, m_settingsFiles);
    auto session = std::make_unique<CLinkSession>(CLinkSettings::Load(m_settingsFiles));
    QString error;
    m_portInUse = false;
    if (!session->Open(target, &error)) {
        m_lastError = error;
        m_portInUse = session->PortInUse();
        return 0;
    }
    m_session = std::move(session);
    return 1;
}

int CParlinkX2::ClosePort() {
    if (!m_session) return 0;
    const bool confirmed = m_session->Close();
    if (!confirmed) m_lastError = m_session->Failed() ? m_session->FailureText()
                                                      : QStringLiteral("the terminal did not confirm the end of the session");
    m_session.reset();
    return confirmed ? 1 : 0;
}

int CParlinkX2::SendCommand(const QString& command) {
    return m_session && m_session->SendCommand(command) ? 1 : 0;
}

int CParlinkX2::SendData(const QString& data) {
    return m_session && m_session->SendData(data) ? 1 : 0;
}

int CParlinkX2::Receive(QString* answer) {
    if (!m_session || !answer) return 0;
    return m_session->Receive(answer) ? 1 : 0;
}

int CParlinkX2::ReceiveWindows1251(QByteArrayView* bytes, QString* text) {
    return m_session && m_session->ReceiveWindows1251(bytes, text) ? 1 : 0;
}

int CParlinkX2::SendDataWindows1251(QByteArrayView bytes) {
    return m_session && m_session->SendDataWindows1251(bytes) ? 1 : 0;
}

int CParlinkX2::EndData() { return m_session && m_session->EndData() ? 1 : 0; }

QString CParlinkX2::GetComponentVersion() { return QString::fromLatin1(kParlinkComponentVersion); }

QString CParlinkX2::GetProtocolVersion() {
    // The version agreed with the terminal once it answered (an older
    // terminal keeps a session to version 1); before that the highest offered.
    const int agreed = m_session ? m_session->Features().version : 0;
    if (agreed > 0) return QString::number(agreed);
    return QString::number(CLinkSettings::Load(m_settingsFiles).endpoint.capabilities.maxVersion);
}

int CParlinkX2::WaitLink(int timeoutMs) {
    return m_session && m_session->WaitLink(timeoutMs) ? 1 : 0;
}

void CParlinkX2::Release() { delete this; }

unsigned CParlinkX2::SessionState() const {
    if (!m_session) return m_portInUse ? kParlinkTerminalBusy : 0;
    const Link::SessionFeatures features = m_session->Features();
    unsigned state = 0;
    if (features.journalSequence) state |= kParlinkJournalSequence;
    if (features.oneProgram) state |= kParlinkOneProgram;
    if (m_session->PeerBusy() && !m_session->Failed()) state |= kParlinkTerminalBusy;
    return state;
}

QString ParlinkLibraryFolder() {
#ifndef _WIN32
    Dl_info info{};
    if (dladdr(reinterpret_cast<const void*>(&ParlinkLibraryFolder), &info) && info.dli_fname) {
        const QFileInfo file(QString::fromLocal8Bit(info.dli_fname));
        return file.absolutePath() + QLatin1Char('/');
    }
#endif
    return QString();
}
