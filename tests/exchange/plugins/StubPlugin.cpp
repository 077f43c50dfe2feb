// A minimal working component: answers the identity questions and counts its
// objects, so the registry can be tested end to end through a real library.

#ifdef _WIN32
#define KX_TEST_EXPORT __declspec(dllexport)
#else
#define KX_TEST_EXPORT __attribute__((visibility("default")))
#endif

#include "exchange/ParlinkComponent.h"

#include <atomic>

namespace {

std::atomic<int> g_created{0};
std::atomic<int> g_released{0};
std::atomic<int> g_lastVersion{-1};

class CStubParlink : public IParlinkX2 {
public:
    int OpenPort(const QString&) override { return 1; }
    int ClosePort() override { return 1; }
    int SendCommand(const QString& command) override {
        m_last = command;
        return 1;
    }
    int SendData(const QString&) override { return 1; }
    int Receive(QString* answer) override {
        *answer = m_last == QLatin1String("--s") ? QStringLiteral("Stub;9.9") : QStringLiteral("H;T;42");
        return 1;
    }
    int EndData() override { return 1; }
    QString GetComponentVersion() override { return QStringLiteral("stub"); }
    QString GetProtocolVersion() override { return QStringLiteral("1"); }
    int WaitLink(int) override { return 1; }
    void Release() override {
        ++g_released;
        delete this;
    }

private:
    QString m_last;
};

}  // namespace

extern "C" KX_TEST_EXPORT IParlinkX2* KxCreateParlinkX2(int interfaceVersion) {
    g_lastVersion = interfaceVersion;
    if (interfaceVersion != kParlinkInterfaceVersion) return nullptr;
    ++g_created;
    return new CStubParlink;
}

extern "C" KX_TEST_EXPORT int KxStubCreated() { return g_created; }
extern "C" KX_TEST_EXPORT int KxStubReleased() { return g_released; }
