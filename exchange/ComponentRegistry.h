#pragma once
// Finding and creating the terminal-link component. The registry is the file
// components.ini in the program folder:
//
//     [KXC.ParlinkX2]
//     library=libparlink.so        ; relative to the program folder, or absolute
//
// No file, section or key: the component is not registered (result code 1).
// A library that cannot be loaded, has no KxCreateParlinkX2 or whose factory
// returns nothing: the object cannot be created (result code 2).
// Tests install an in-process provider instead (CScopedParlinkProvider).

#include "exchange/ParlinkComponent.h"

#include <QString>

inline constexpr const char* kComponentRegistryFile = "components.ini";
inline constexpr const char* kComponentLibraryKey = "library";

// Owns one component object and gives it back with Release() when it goes.
class CParlinkHolder {
public:
    CParlinkHolder() = default;
    explicit CParlinkHolder(IParlinkX2* object) : m_object(object) {}
    ~CParlinkHolder() { Reset(); }
    CParlinkHolder(CParlinkHolder&& other) noexcept : m_object(other.m_object) { other.m_object = nullptr; }
    CParlinkHolder& operator=(CParlinkHolder&& other) noexcept;
    CParlinkHolder(const CParlinkHolder&) = delete;
    CParlinkHolder& operator=(const CParlinkHolder&) = delete;

    IParlinkX2* Get() const { return m_object; }
    IParlinkX2* operator->() const { return m_object; }
    IParlinkX2& operator*() const { return *m_object; }
    explicit operator bool() const { return m_object != nullptr; }
    void Reset();  // releases the object now

private:
    IParlinkX2* m_object = nullptr;
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

private:
    QString m_library;
};

// The provider the exchange routines use: an installed test provider, else a
// registry provider.
// Returns ExchangeCode::kOk with the object in `holder`, kComponentNotRegistered
// or kComponentNotCreated.
int CreateParlinkComponent(CParlinkHolder* holder);

// Installs `provider` for this process (nullptr: back to the registry file).
void SetParlinkProvider(IParlinkProvider* provider);

class CScopedParlinkProvider {
public:
    explicit CScopedParlinkProvider(IParlinkProvider& provider);
    ~CScopedParlinkProvider();
    CScopedParlinkProvider(const CScopedParlinkProvider&) = delete;
    CScopedParlinkProvider& operator=(const CScopedParlinkProvider&) = delete;

private:
    IParlinkProvider* m_previous;
};
