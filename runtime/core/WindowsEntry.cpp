// The DLL is linked without the C runtime's start files, so that it imports
// nothing but the Universal CRT; this is its entry point. Those start files
// would also have run the image's load-time constructors, so the entry runs
// them itself, once, when the DLL is attached to a process: a model may rely
// on a constructor running in the loading thread before any export is called.
// Nothing is torn down: no constructor here registers anything to undo.
#include <cstddef>

namespace {

using Constructor = void (*)();

constexpr unsigned long kProcessAttach = 1;

}  // namespace

// The linker's default script frames the image's .ctors entries with this
// list: a leading -1 (no count), the constructors, and a terminating null.
extern "C" Constructor __CTOR_LIST__[];

extern "C" int __stdcall DllMainCRTStartup(void* /*instance*/, unsigned long reason,
                                           void* /*reserved*/) {
    if (reason == kProcessAttach) {
        std::size_t count = 0;
        while (__CTOR_LIST__[count + 1] != nullptr) {
            ++count;
        }
        // Last entry first, as GCC's own start files do: entries with an
        // explicit priority are sorted behind the plain ones, the most
        // urgent last.
        for (std::size_t i = count; i >= 1; --i) {
            __CTOR_LIST__[i]();
        }
    }
    return 1;
}
