// The plugin's only export: the factory the component registry looks up.

#include "components/parlink/ParlinkX2.h"

#ifdef _WIN32
#define KX_PLUGIN_EXPORT __declspec(dllexport)
#else
#define KX_PLUGIN_EXPORT __attribute__((visibility("default")))
#endif

extern "C" KX_PLUGIN_EXPORT IParlinkX2* KxCreateParlinkX2(int interfaceVersion) {
    if (interfaceVersion != kParlinkInterfaceVersion) return nullptr;
    const QString folder = ParlinkLibraryFolder();
    return new CParlinkX2(folder.isEmpty() ? QString() : folder + QStringLiteral("parlink.ini"));
}
