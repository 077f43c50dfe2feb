#include "exchange/ComponentRegistry.h"

#include "exchange/ExchangeCodes.h"
#include "platform/ProfileFile.h"
#include "platform/InstallLayout.h"

#include <QDir>
#include <QFileInfo>
#include <QLibrary>

#include <atomic>
#include <mutex>

CParlinkHolder& CParlinkHolder::operator=(CParlinkHolder&& other) noexcept {
    if (this != &other) {
        Reset();
        m_object = other.m_object;
        other.m_object = nullptr;
    }
    return *this;
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
    m_library = RegisteredComponentLibrary(ComponentFolder());
    return !m_library.isEmpty();
}

namespace {

// Plugin libraries stay loaded for the rest of the process: an object may
// outlive the call that made it only until its Release(), but unloading code
// that another thread might still be running is never worth the risk, and a
// process loads one or two libraries at most.
std::mutex g_libraryLock;

KxCreateParlinkX2Fn ResolveFactory(const QString& libraryPath) {
    std::lock_guard guard(g_libraryLock);
    QLibrary library(libraryPath);
    if (!library.load()) return nullptr;
    return reinterpret_cast<KxCreateParlinkX2Fn>(library.resolve(kParlinkFactorySymbol));
}

}  // namespace

IParlinkX2* CRegistryParlinkProvider::CreateObject() {
    if (m_library.isEmpty() && !FindComponent()) return nullptr;
    const KxCreateParlinkX2Fn factory = ResolveFactory(m_library);
    if (!factory) return nullptr;
    return factory(kParlinkInterfaceVersion);
}

namespace {
std::atomic<IParlinkProvider*> g_provider{nullptr};
}

void SetParlinkProvider(IParlinkProvider* provider) { g_provider.store(provider); }

CScopedParlinkProvider::CScopedParlinkProvider(IParlinkProvider& provider)
    : m_previous(g_provider.load()) {
    SetParlinkProvider(&provider);
}

CScopedParlinkProvider::~CScopedParlinkProvider() { SetParlinkProvider(m_previous); }

int CreateParlinkComponent(CParlinkHolder* holder) {
    holder->Reset();
    CRegistryParlinkProvider registry;
    IParlinkProvider* installed = g_provider.load();
    IParlinkProvider& provider = installed ? *installed : registry;
    if (!provider.FindComponent()) return ExchangeCode::kComponentNotRegistered;
    *holder = CParlinkHolder(provider.CreateObject());
    return *holder ? ExchangeCode::kOk : ExchangeCode::kComponentNotCreated;
}
