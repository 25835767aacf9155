// The DLL is linked without the C runtime's start files, so that it imports
// nothing but the Universal CRT; this is its entry point. Nothing is set up
// or torn down per process or thread.
extern "C" int __stdcall DllMainCRTStartup(void* /*instance*/, unsigned long /*reason*/,
                                           void* /*reserved*/) {
    return 1;
}
