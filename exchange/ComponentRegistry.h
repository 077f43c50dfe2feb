#pragma once
// Finding and creating the terminal-link component. The registry is the file
// components.ini in the program folder:
//
//     [KXC.ParlinkX2]
//     library=libparlink.so        ; relative to the program folder, or absolute
//
// No file, section or key: the component is not registered (result code 1).
// A library that is damaged or cannot be loaded, has no KxCreateParlinkX2 or
// whose factory returns nothing: the object cannot be created (result code 2).
// Tests install an in-process provider instead (CScopedParlinkProvider).
//
// A library may also export KxParlinkOpenPortProblem (ParlinkComponent.h),
// which tells why its last OpenPort failed; the holder offers it as
// OpenPortProblem. And KxParlinkPair, through which the program pairs with a
// network terminal (PairThroughComponent). And KxParlinkReceiveWindows1251
// with KxParlinkSendDataWindows1251, through which records go as the files
// keep them (CParlinkHolder::ReceiveWindows1251); without them the holder
// converts. The pairing is the component's
// business, as the link itself is, so the program carries none of it.

#include "exchange/ParlinkComponent.h"
#include "platform/ProcessWide.h"

#include <QString>

#include <functional>

inline constexpr const char* kComponentRegistryFile = "components.ini";
inline constexpr const char* kComponentLibraryKey = "library";

// Why a port did not open: the device the port name stands for (empty when
// the component does not say) and the system's reason.
struct PortOpenProblem {
    QString device;
    QString reason;
};

// A component's entry points for records in Windows-1251; null where it
// exports none.
struct ParlinkRecordPath {
    KxParlinkReceiveWindows1251Fn receive = nullptr;
    KxParlinkSendDataWindows1251Fn send = nullptr;
};

// Owns one component object and gives it back with Release() when it goes.
class CParlinkHolder {
public:
    using ProblemSource = std::function<PortOpenProblem(IParlinkX2& object, const QString& port)>;
    using StateSource = std::function<unsigned(IParlinkX2& object)>;

    CParlinkHolder() = default;
    explicit CParlinkHolder(IParlinkX2* object, ProblemSource problems = {}, StateSource states = {},
                            ParlinkRecordPath records = {})
        : m_object(object), m_problems(std::move(problems)), m_states(std::move(states)), m_records(records) {}
    ~CParlinkHolder() { Reset(); }
    CParlinkHolder(CParlinkHolder&& other) noexcept
        : m_object(other.m_object), m_problems(std::move(other.m_problems)), m_states(std::move(other.m_states)),
          m_records(other.m_records) {
        other.m_object = nullptr;
    }
    CParlinkHolder& operator=(CParlinkHolder&& other) noexcept;
    CParlinkHolder(const CParlinkHolder&) = delete;
    CParlinkHolder& operator=(const CParlinkHolder&) = delete;

    IParlinkX2* Get() const { return m_object; }
    IParlinkX2* operator->() const { return m_object; }
    IParlinkX2& operator*() const { return *m_object; }
    explicit operator bool() const { return m_object != nullptr; }
    void Reset();  // releases the object now

    // Why the last OpenPort of the object failed, as far as its component
    // can tell (empty fields when it cannot).
    PortOpenProblem OpenPortProblem(const QString& port) const;
    // What the object's open session agreed with the terminal
    // (kParlinkSession... bits); 0 when its component does not tell.
    unsigned SessionState() const;
    // The next answer as Receive gives it, in Windows-1251 where every
    // character of it is one of the page's (`*bytes`, valid until the next
    // call; `*text` empty), else as text (`*bytes` empty): the component's
    // own where it has one, else Receive and a conversion.
    int ReceiveWindows1251(QByteArrayView* bytes, QString* text);
    // SendData of the text Windows-1251 `bytes` stand for.
    int SendDataWindows1251(QByteArrayView bytes);

private:
    IParlinkX2* m_object = nullptr;
    ProblemSource m_problems;
    StateSource m_states;
    ParlinkRecordPath m_records;
    QByteArray m_answerPage;  // a converted answer, for a component without the entry points
};

// Where component objects come from: the registry file and plugin libraries,
// or a test's in-process provider.
class IParlinkProvider {
public:
    virtual ~IParlinkProvider() = default;
    // Looks the component up; false when it is not registered.
    virtual bool FindComponent() = 0;
    // Makes a new object; null when it cannot be made.
    virtual IParlinkX2* CreateObject() = 0;
    // After a failed FindComponent or CreateObject: what went wrong, for a
    // person to act on (the file to edit or to replace). Empty when unknown.
    virtual QString FailureReason() const { return QString(); }
    // Why the last OpenPort of `object` (made by this provider) failed.
    virtual PortOpenProblem OpenPortProblem(IParlinkX2& /*object*/, const QString& /*port*/) {
        return {};
    }
    // What the open session of `object` agreed (kParlinkSession... bits).
    virtual unsigned SessionState(IParlinkX2& /*object*/) { return 0; }
    // The entry points for records in Windows-1251 of the library that made
    // the last object, where it has them.
    virtual ParlinkRecordPath RecordPath() { return {}; }
    // Pairs with the network terminal at `port` by `code` (after a
    // successful FindComponent).
    virtual CPairOutcome Pair(const QString& /*port*/, const QString& /*code*/) {
        return {EPairResult::ComponentCannotPair, QStringLiteral("the link component does not pair"), {}};
    }
};

// The library named in components.ini of `programFolder` (resolved to an
// absolute path); empty when the file, the section or the key is missing.
QString RegisteredComponentLibrary(const QString& programFolder);

// The provider over components.ini in ComponentFolder(): the program folder,
// or <prefix>/lib/kxconfig in an installed tree.
class CRegistryParlinkProvider : public IParlinkProvider {
public:
    bool FindComponent() override;
    IParlinkX2* CreateObject() override;
    QString FailureReason() const override { return m_failure; }
    PortOpenProblem OpenPortProblem(IParlinkX2& object, const QString& port) override;
    unsigned SessionState(IParlinkX2& object) override;
    ParlinkRecordPath RecordPath() override { return m_records; }
    CPairOutcome Pair(const QString& port, const QString& code) override;

private:
    QString m_library;
    QString m_failure;
    KxParlinkOpenPortProblemFn m_problemFunction = nullptr;
    KxParlinkSessionStateFn m_stateFunction = nullptr;
    ParlinkRecordPath m_records;
};

// The provider the exchange routines use: an installed test provider, else a
// registry provider.
// Returns ExchangeCode::kOk with the object in `holder`, kComponentNotRegistered
// or kComponentNotCreated; on failure `why` (when given) says what to fix.
int CreateParlinkComponent(CParlinkHolder* holder, QString* why = nullptr);

// Pairs with the network terminal at `port` through the provider the
// exchange routines use. A component that is not registered gives
// ComponentNotRegistered, one that cannot be loaded or has no KxParlinkPair
// ComponentCannotPair, each with what to fix.
CPairOutcome PairThroughComponent(const QString& port, const QString& code);

// Installs `provider` for this process (nullptr: back to the registry file).
void SetParlinkProvider(IParlinkProvider* provider);

CProcessWide<IParlinkProvider>& ParlinkProviderSlot();
using CScopedParlinkProvider = CScopedInstall<IParlinkProvider, ParlinkProviderSlot>;
