// A stand-in for the driver library that talks to no device: every entry only
// counts the call and reports that no device is there. Compiled once per
// variant, each variant leaving out one of the entries a program cannot do
// without (SUBSTITUTE_WITHOUT_<entry name>), so that tests can check how a
// program binds a library that lacks one entry, and prove through
// substitute_call_count() that it called none of them.
#include "ftd2xx.h"

#include <atomic>

#define SUBSTITUTE_EXPORT extern "C" __attribute__((visibility("default")))
#define COUNTED_ENTRY(name, ...)                                                                             \
    SUBSTITUTE_EXPORT FT_STATUS name(__VA_ARGS__) {                                                          \
        return Counted();                                                                                    \
    }

namespace {
std::atomic<unsigned> g_calls{0};

FT_STATUS Counted() {
    ++g_calls;
    return FT_DEVICE_NOT_FOUND;
}
} // namespace

SUBSTITUTE_EXPORT unsigned substitute_call_count(void) {
    return g_calls.load();
}

SUBSTITUTE_EXPORT FT_STATUS FT_ListDevices(PVOID pArg1, PVOID, DWORD flags) {
    if (pArg1 && (flags & FT_LIST_NUMBER_ONLY))
        *static_cast<DWORD*>(pArg1) = 0;
    return Counted();
}
#if !defined(SUBSTITUTE_WITHOUT_FT_Open)
COUNTED_ENTRY(FT_Open, int, FT_HANDLE*)
#endif
#if !defined(SUBSTITUTE_WITHOUT_FT_GetQueueStatus)
COUNTED_ENTRY(FT_GetQueueStatus, FT_HANDLE, DWORD*)
#endif
#if !defined(SUBSTITUTE_WITHOUT_FT_Read)
COUNTED_ENTRY(FT_Read, FT_HANDLE, LPVOID, DWORD, LPDWORD)
#endif
COUNTED_ENTRY(FT_Close, FT_HANDLE)
COUNTED_ENTRY(FT_Write, FT_HANDLE, LPVOID, DWORD, LPDWORD)
COUNTED_ENTRY(FT_ResetDevice, FT_HANDLE)
COUNTED_ENTRY(FT_Purge, FT_HANDLE, ULONG)
COUNTED_ENTRY(FT_SetTimeouts, FT_HANDLE, ULONG, ULONG)
COUNTED_ENTRY(FT_SetUSBParameters, FT_HANDLE, ULONG, ULONG)
