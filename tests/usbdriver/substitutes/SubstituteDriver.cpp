// A stand-in for the driver library that talks to no device: every entry counts the call and
// reports that no device is there. Each variant leaves out one entry a program cannot do without
// (SUBSTITUTE_WITHOUT_<entry>), so a test can bind a library that lacks it and prove through
// substitute_call_count() that the program called none of the others.
#include "ftd2xx.h"

#include <atomic>

#define SUBSTITUTE_EXPORT extern "C" __attribute__((visibility("default")))
#define COUNTED_ENTRY(name, ...)                                                                             \
    SUBSTITUTE_EXPORT FT_STATUS name(__VA_ARGS__) {                                                          \
        return Counted();                                                                                    \
    }

static std::atomic<unsigned> g_calls{0};

static FT_STATUS Counted() {
    return ++g_calls, FT_DEVICE_NOT_FOUND;
}

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
