#include "exchange/ComponentRegistry.h"

#include "exchange/ExchangeCodes.h"
#include "exchange/LibraryImage.h"
#include "platform/CodePage.h"
#include "platform/ProfileFile.h"
#include "platform/InstallLayout.h"

#include <QDir>
#include <QFileInfo>
#include <QLibrary>

#include <atomic>
#include <memory>
#include <mutex>

CParlinkHolder& CParlinkHolder::operator=(CParlinkHolder&& other) noexcept {
    if (this != &other) {
        Reset();
        m_object = other.m_object;
        m_problems = std::move(other.m_problems);
        m_states = std::move(other.m_states);
        m_records = other.m_records;
        other.m_object = nullptr;
    }
    return *this;
}

unsigned CParlinkHolder::SessionState() const {
    if (!m_object || !m_states) return 0;
    return m_states(*m_object);
}

PortOpenProblem CParlinkHolder::OpenPortProblem(const QString& port) const {
    if (!m_object || !m_problems) return {};
    return m_problems(*m_object, port);
}

int CParlinkHolder::ReceiveWindows1251(QByteArrayView* bytes, QString* text) {
    if (!m_object || !bytes || !text) return 0;
    if (m_records.receive) return m_records.receive(m_object, bytes, text);
    const int status = m_object->Receive(text);
    *bytes = QByteArrayView();
    if (!ParlinkSucceeded(status) || text->isEmpty()) return status;
    m_answerPage.clear();
    if (CodePage::AppendWindows1251Exactly(*text, m_answerPage)) {
        *bytes = m_answerPage;
        text->clear();
    }
    return status;
}

int CParlinkHolder::SendDataWindows1251(QByteArrayView bytes) {
    if (!m_object) return 0;
    if (m_records.send) return m_records.send(m_object, bytes);
    return m_object->SendData(CodePage::FromWindows1251(bytes.data(), bytes.size()));
}

void CParlinkHolder::Reset() {
    IParlinkX2* object = m_object;
    m_object = nullptr;
    if (object) object->Release();
}

QString RegisteredComponentLibrary(const QString& programFolder) {
    const QString iniPath = QDir(programFolder).filePath(QString::fromLatin1(kComponentRegistryFile));
    if (!QFileInfo::exists(iniPath)) return QString();
    const QString library = Profile::ReadString(iniPath, QString::fromLatin1(kParlinkProgId),
                                                QString::fromLatin1(kComponentLibraryKey))
                                .trimmed();
    if (library.isEmpty()) return QString();
    if (QDir::isAbsolutePath(library)) return QDir::cleanPath(library);
    return QDir::cleanPath(QDir(programFolder).absoluteFilePath(library));
}

bool CRegistryParlinkProvider::FindComponent() {
    m_failure.clear();
    m_library = RegisteredComponentLibrary(ComponentFolder());
    if (m_library.isEmpty()) {
        m_failure = QStringLiteral("no [%1] entry with %2= in %3")
                        .arg(QLatin1String(kParlinkProgId), QLatin1String(kComponentLibraryKey),
                             QDir(ComponentFolder()).filePath(QString::fromLatin1(kComponentRegistryFile)));
        return false;
    }
    return true;
}

namespace {

// Plugin libraries stay loaded for the rest of the process: an object may
// outlive the call that made it only until its Release(), but unloading code
// that another thread might still be running is never worth the risk, and a
// process loads one or two libraries at most.
std::mutex g_libraryLock;

struct LibraryEntryPoints {
    bool loaded = false;
    KxCreateParlinkX2Fn factory = nullptr;
    KxParlinkOpenPortProblemFn openPortProblem = nullptr;
    KxParlinkSessionStateFn sessionState = nullptr;
    KxParlinkPairFn pair = nullptr;
    ParlinkRecordPath records;
};

LibraryEntryPoints ResolveEntryPoints(const QString& libraryPath, QString* why) {
    std::lock_guard guard(g_libraryLock);
    if (!IsWholeLibraryImage(libraryPath, why)) return {};
    QLibrary library(libraryPath);
    if (!library.load()) {
        *why = library.errorString();
        return {};
    }
    LibraryEntryPoints entryPoints;
    entryPoints.loaded = true;
    entryPoints.factory = reinterpret_cast<KxCreateParlinkX2Fn>(library.resolve(kParlinkFactorySymbol));
    entryPoints.openPortProblem =
        reinterpret_cast<KxParlinkOpenPortProblemFn>(library.resolve(kParlinkOpenPortProblemSymbol));
    entryPoints.sessionState =
        reinterpret_cast<KxParlinkSessionStateFn>(library.resolve(kParlinkSessionStateSymbol));
    entryPoints.pair = reinterpret_cast<KxParlinkPairFn>(library.resolve(kParlinkPairSymbol));
    entryPoints.records.receive =
        reinterpret_cast<KxParlinkReceiveWindows1251Fn>(library.resolve(kParlinkReceiveWindows1251Symbol));
    entryPoints.records.send =
        reinterpret_cast<KxParlinkSendDataWindows1251Fn>(library.resolve(kParlinkSendDataWindows1251Symbol));
    // Both or neither: a library with one of them is served by conversions.
    if (!entryPoints.records.receive || !entryPoints.records.send) entryPoints.records = {};
    return entryPoints;
}

QString MissingSymbol(const char* symbol) { return QStringLiteral("it has no %1").arg(QLatin1String(symbol)); }

}  // namespace

IParlinkX2* CRegistryParlinkProvider::CreateObject() {
    if (m_library.isEmpty() && !FindComponent()) return nullptr;
    QString why;
    const LibraryEntryPoints entryPoints = ResolveEntryPoints(m_library, &why);
    if (entryPoints.loaded && !entryPoints.factory) why = MissingSymbol(kParlinkFactorySymbol);
    m_problemFunction = entryPoints.openPortProblem;
    m_stateFunction = entryPoints.sessionState;
    m_records = entryPoints.records;
    IParlinkX2* object = entryPoints.factory ? entryPoints.factory(kParlinkInterfaceVersion) : nullptr;
    if (entryPoints.factory && !object) why = QStringLiteral("its factory made no object");
    if (!object) m_failure = QStringLiteral("%1: %2").arg(m_library, why);
    return object;
}

PortOpenProblem CRegistryParlinkProvider::OpenPortProblem(IParlinkX2& object, const QString& port) {
    PortOpenProblem problem;
    if (m_problemFunction) m_problemFunction(&object, port, &problem.device, &problem.reason);
    return problem;
}

unsigned CRegistryParlinkProvider::SessionState(IParlinkX2& object) {
    return m_stateFunction ? m_stateFunction(&object) : 0;
}

CPairOutcome CRegistryParlinkProvider::Pair(const QString& port, const QString& code) {
    if (m_library.isEmpty() && !FindComponent()) return {EPairResult::ComponentNotRegistered, m_failure, {}};
    QString why;
    const LibraryEntryPoints entryPoints = ResolveEntryPoints(m_library, &why);
    if (entryPoints.loaded) {  // else `why` tells why the library did not load
        CPairOutcome outcome;
        if (!entryPoints.pair)
            why = MissingSymbol(kParlinkPairSymbol);
        else if (entryPoints.pair(kParlinkInterfaceVersion, port, code, &outcome))
            return outcome;
        else
            why = QStringLiteral("its %1 made no result").arg(QLatin1String(kParlinkPairSymbol));
    }
    m_failure = QStringLiteral("%1: %2").arg(m_library, why);
    return {EPairResult::ComponentCannotPair, m_failure, {}};
}

namespace {
constinit CProcessWide<IParlinkProvider> g_provider;
}

CProcessWide<IParlinkProvider>& ParlinkProviderSlot() { return g_provider; }

void SetParlinkProvider(IParlinkProvider* provider) { g_provider.Install(provider); }

namespace {
std::shared_ptr<IParlinkProvider> CurrentProvider() {
    // An installed provider belongs to whoever installed it.
    if (IParlinkProvider* installed = g_provider.Installed())
        return std::shared_ptr<IParlinkProvider>(installed, [](IParlinkProvider*) {});
    return std::make_shared<CRegistryParlinkProvider>();
}
}  // namespace

CPairOutcome PairThroughComponent(const QString& port, const QString& code) {
    const std::shared_ptr<IParlinkProvider> provider = CurrentProvider();
    if (!provider->FindComponent()) return {EPairResult::ComponentNotRegistered, provider->FailureReason(), {}};
    return provider->Pair(port, code);
}

int CreateParlinkComponent(CParlinkHolder* holder, QString* why) {
    holder->Reset();
    // The provider stays with the holder: the library that made the object is
    // the one to ask why a port did not open.
    const std::shared_ptr<IParlinkProvider> provider = CurrentProvider();
    const auto fail = [&](int code) {
        if (why) *why = provider->FailureReason();
        return code;
    };
    if (!provider->FindComponent()) return fail(ExchangeCode::kComponentNotRegistered);
    IParlinkX2* object = provider->CreateObject();
    if (!object) return fail(ExchangeCode::kComponentNotCreated);
    *holder = CParlinkHolder(
        object, [provider](IParlinkX2& o, const QString& port) { return provider->OpenPortProblem(o, port); },
        [provider](IParlinkX2& o) { return provider->SessionState(o); }, provider->RecordPath());
    return ExchangeCode::kOk;
}
