// A library whose component factory never makes an object.

#ifdef _WIN32
#define KX_TEST_EXPORT __declspec(dllexport)
#else
#define KX_TEST_EXPORT __attribute__((visibility("default")))
#endif

#include "exchange/ParlinkComponent.h"

extern "C" KX_TEST_EXPORT IParlinkX2* KxCreateParlinkX2(int) { return nullptr; }
