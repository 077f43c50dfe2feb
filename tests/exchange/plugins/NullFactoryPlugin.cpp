// A library whose component factory never makes an object.
#include "exchange/ParlinkComponent.h"

extern "C" __attribute__((visibility("default"))) IParlinkX2* KxCreateParlinkX2(int) { return nullptr; }
