#pragma once
// A service the whole process shares behind an interface (the clock, the
// prompt, the link provider): the one installed, else the caller's default.
// Tests install their own for a scope, and the scope puts back what was there,
// so no test leaves its double behind for the next.

#include <atomic>

template <class Interface>
class CProcessWide {
public:
    Interface* Installed() const { return m_installed.load(); }
    void Install(Interface* service) { m_installed.store(service); }
    Interface& InstalledOr(Interface& fallback) const {
        Interface* service = Installed();
        return service ? *service : fallback;
    }

private:
    std::atomic<Interface*> m_installed{nullptr};
};

// Installs `service` into the slot `Slot()` returns while the object lives.
template <class Interface, CProcessWide<Interface>& (*Slot)()>
class CScopedInstall {
public:
    explicit CScopedInstall(Interface& service) : m_previous(Slot().Installed()) { Slot().Install(&service); }
    ~CScopedInstall() { Slot().Install(m_previous); }
    CScopedInstall(const CScopedInstall&) = delete;
    CScopedInstall& operator=(const CScopedInstall&) = delete;

private:
    Interface* m_previous;
};
