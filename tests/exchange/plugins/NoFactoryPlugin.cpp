// A library that loads but does not export the component factory.
extern "C" __attribute__((visibility("default"))) int KxSomethingElse() { return 42; }
