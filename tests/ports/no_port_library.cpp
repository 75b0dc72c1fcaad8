// A DLL that exports neither port interface, for the message that says so.
#ifdef _WIN32
extern "C" __declspec(dllexport) int px_nothing_here() { return 0; }
#else
extern "C" __attribute__((visibility("default"))) int px_nothing_here() { return 0; }
#endif
