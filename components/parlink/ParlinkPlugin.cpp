// The plugin's exports: the factory the component registry looks up, the
// reason of a failed OpenPort for the person who has to fix it, and the
// pairing with a network terminal.

#include "components/parlink/session/Pairing.h"
#include "components/parlink/session/ParlinkSettingsFiles.h"
#include "components/parlink/session/ParlinkX2.h"
#include "components/parlink/security/PortNames.h"

#ifdef _WIN32
#define KX_PLUGIN_EXPORT __declspec(dllexport)
#else
#define KX_PLUGIN_EXPORT __attribute__((visibility("default")))
#endif

namespace {
QStringList SettingsFiles() {
    return ParlinkSettingsFiles(ParlinkLibraryFolder(), QProcessEnvironment::systemEnvironment());
}
}  // namespace

extern "C" KX_PLUGIN_EXPORT IParlinkX2* KxCreateParlinkX2(int interfaceVersion) {
    if (interfaceVersion != kParlinkInterfaceVersion) return nullptr;
    return new CParlinkX2(SettingsFiles());
}

// `object` was made by KxCreateParlinkX2 above (the registry only asks the
// library that made it).
extern "C" KX_PLUGIN_EXPORT void KxParlinkOpenPortProblem(IParlinkX2* object, const QString& port,
                                                          QString* device, QString* reason) {
    const CPortTarget target = ResolvePortName(port, SettingsFiles());
    if (device) *device = target.address;
    if (reason && object) *reason = static_cast<CParlinkX2*>(object)->LastError();
}

extern "C" KX_PLUGIN_EXPORT unsigned KxParlinkSessionState(IParlinkX2* object) {
    return object ? static_cast<CParlinkX2*>(object)->SessionState() : 0;
}

extern "C" KX_PLUGIN_EXPORT int KxParlinkReceiveWindows1251(IParlinkX2* object, QByteArrayView* bytes, QString* text) {
    return object ? static_cast<CParlinkX2*>(object)->ReceiveWindows1251(bytes, text) : 0;
}

extern "C" KX_PLUGIN_EXPORT int KxParlinkSendDataWindows1251(IParlinkX2* object, QByteArrayView bytes) {
    return object ? static_cast<CParlinkX2*>(object)->SendDataWindows1251(bytes) : 0;
}

// The key and pins go where this library's own settings are, so the sessions
// it opens later find them.
extern "C" KX_PLUGIN_EXPORT bool KxParlinkPair(int interfaceVersion, const QString& port, const QString& code,
                                               CPairOutcome* outcome) {
    if (interfaceVersion != kParlinkInterfaceVersion || !outcome) return false;
    *outcome = PairWithTerminal(port, code, SettingsFiles());
    return true;
}
