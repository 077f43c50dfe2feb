// A library that loads but does not export the component factory.

#ifdef _WIN32
#define KX_TEST_EXPORT __declspec(dllexport)
#else
#define KX_TEST_EXPORT __attribute__((visibility("default")))
#endif

extern "C" KX_TEST_EXPORT int KxSomethingElse() { return 42; }
