#include "RuntimeCalloc.h"

#include <atomic>
#include <cstdint>
#include <cstring>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#include <link.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {

using Calloc = void* (*)(std::size_t, std::size_t);

Calloc runtimeCalloc = nullptr;
std::atomic<std::size_t> requests{0};
std::atomic<std::size_t> failFrom{0};

extern "C" void* countingCalloc(std::size_t count, std::size_t size) {
    const std::size_t request = ++requests;
    const std::size_t first = failFrom.load();
    if (first != 0 && request >= first) {
        return nullptr;
    }
    return runtimeCalloc(count, size);
}

// Writes a pointer into an import slot of the loaded image, which the loader
// may have left read-only.
bool writeSlot(void** slot, void* value) {
#ifdef _WIN32
    DWORD old = 0;
    if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old)) {
        return false;
    }
    *slot = value;
    VirtualProtect(slot, sizeof *slot, old, &old);
    return true;
#else
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto address = reinterpret_cast<std::uintptr_t>(slot);
    void* const start = reinterpret_cast<void*>(address & ~(page - 1));
    // An aligned slot lies within one page; the page after it may be
    // unmapped, and then a wider change fails as a whole.
    if (mprotect(start, page, PROT_READ | PROT_WRITE) != 0) {
        return false;
    }
    *slot = value;
    return true;
#endif
}

// Remembers the runtime's calloc from the first slot and points the slot at
// the counting function.
bool rebind(void** slot) {
    if (*slot == reinterpret_cast<void*>(&countingCalloc)) {
        return true;
    }
    if (runtimeCalloc == nullptr) {
        std::memcpy(&runtimeCalloc, slot, sizeof runtimeCalloc);
    }
    void* counting = nullptr;
    const Calloc function = countingCalloc;
    std::memcpy(&counting, &function, sizeof counting);
    return writeSlot(slot, counting);
}

#ifdef _WIN32

int rebindImports(void* handle) {
    auto* const base = static_cast<unsigned char*>(handle);
    const auto* const dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* const nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    int rebound = 0;
    for (auto* descriptor =
             reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
         descriptor->Name != 0; ++descriptor) {
        const auto* names =
            reinterpret_cast<const IMAGE_THUNK_DATA*>(base + descriptor->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + descriptor->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) {
                continue;
            }
            const auto* byName =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), "calloc") == 0 &&
                rebind(reinterpret_cast<void**>(&slots->u1.Function))) {
                ++rebound;
            }
        }
    }
    return rebound;
}

#else

// The symbol index of a relocation, for both ELF classes.
inline std::size_t symbolIndexOf(ElfW(Xword) info) {
#if __SIZEOF_POINTER__ == 8
    return static_cast<std::size_t>(ELF64_R_SYM(info));
#else
    return static_cast<std::size_t>(ELF32_R_SYM(info));
#endif
}

template <typename Relocation>
int rebindRelocations(const link_map& map, const Relocation* relocations, std::size_t bytes,
                      const ElfW(Sym) * symbols, const char* names) {
    int rebound = 0;
    for (std::size_t i = 0; i < bytes / sizeof(Relocation); ++i) {
        const Relocation& relocation = relocations[i];
        const std::size_t index = symbolIndexOf(relocation.r_info);
        if (index != 0 && std::strcmp(names + symbols[index].st_name, "calloc") == 0 &&
            rebind(reinterpret_cast<void**>(map.l_addr + relocation.r_offset))) {
            ++rebound;
        }
    }
    return rebound;
}

int rebindImports(void* handle) {
    link_map* map = nullptr;
    if (dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr) {
        return 0;
    }
    // The loader has turned the addresses in the dynamic section into
    // absolute ones on this processor; an offset below the base is not yet.
    const auto address = [&](ElfW(Addr) value) {
        return value < map->l_addr ? map->l_addr + value : value;
    };
    const ElfW(Sym)* symbols = nullptr;
    const char* names = nullptr;
    ElfW(Addr) plt = 0;
    std::size_t pltBytes = 0;
    ElfW(Sxword) pltKind = 0;
    ElfW(Addr) rela = 0;
    std::size_t relaBytes = 0;
    ElfW(Addr) rel = 0;
    std::size_t relBytes = 0;
    for (const ElfW(Dyn)* entry = map->l_ld; entry->d_tag != DT_NULL; ++entry) {
        switch (entry->d_tag) {
            case DT_SYMTAB:
                symbols = reinterpret_cast<const ElfW(Sym)*>(address(entry->d_un.d_ptr));
                break;
            case DT_STRTAB:
                names = reinterpret_cast<const char*>(address(entry->d_un.d_ptr));
                break;
            case DT_JMPREL:
                plt = address(entry->d_un.d_ptr);
                break;
            case DT_PLTRELSZ:
                pltBytes = entry->d_un.d_val;
                break;
            case DT_PLTREL:
                pltKind = static_cast<ElfW(Sxword)>(entry->d_un.d_val);
                break;
            case DT_RELA:
                rela = address(entry->d_un.d_ptr);
                break;
            case DT_RELASZ:
                relaBytes = entry->d_un.d_val;
                break;
            case DT_REL:
                rel = address(entry->d_un.d_ptr);
                break;
            case DT_RELSZ:
                relBytes = entry->d_un.d_val;
                break;
            default:
                break;
        }
    }
    if (symbols == nullptr || names == nullptr) {
        return 0;
    }
    int rebound = 0;
    if (plt != 0 && pltKind == DT_RELA) {
        rebound += rebindRelocations(*map, reinterpret_cast<const ElfW(Rela)*>(plt), pltBytes,
                                     symbols, names);
    } else if (plt != 0) {
        rebound += rebindRelocations(*map, reinterpret_cast<const ElfW(Rel)*>(plt), pltBytes,
                                     symbols, names);
    }
    if (rela != 0) {
        rebound += rebindRelocations(*map, reinterpret_cast<const ElfW(Rela)*>(rela), relaBytes,
                                     symbols, names);
    }
    if (rel != 0) {
        rebound += rebindRelocations(*map, reinterpret_cast<const ElfW(Rel)*>(rel), relBytes,
                                     symbols, names);
    }
    return rebound;
}

#endif

}  // namespace

bool rebindRuntimeCalloc(const SlaveLibrary& library, std::string& error) {
    if (library.nativeHandle() == nullptr) {
        error = "no library loaded";
        return false;
    }
    if (rebindImports(library.nativeHandle()) == 0) {
        error = "'" + library.path() + "' imports no calloc that could be rebound";
        return false;
    }
    return true;
}

std::size_t runtimeCallocRequests() {
    return requests.load();
}

void failRuntimeCallocFrom(std::size_t k) {
    failFrom.store(k);
}

void resetRuntimeCalloc() {
    requests.store(0);
    failFrom.store(0);
}
