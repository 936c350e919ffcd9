// A stand-in for the driver library that talks to no device: every entry only
// counts the call and reports that no device is there. Compiled once per
// variant, each variant leaving out one entry (SUBSTITUTE_WITHOUT_<entry name>), so
// that tests can check how a program binds a library that lacks one entry, and
// prove through substitute_call_count() that it called none of them.
#include "ftd2xx.h"

#include <atomic>

#define SUBSTITUTE_EXPORT extern "C" __attribute__((visibility("default")))

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

#if !defined(SUBSTITUTE_WITHOUT_FT_Open)
SUBSTITUTE_EXPORT FT_STATUS FT_Open(int, FT_HANDLE*) {
    return Counted();
}
#endif
#if !defined(SUBSTITUTE_WITHOUT_FT_Close)
SUBSTITUTE_EXPORT FT_STATUS FT_Close(FT_HANDLE) {
    return Counted();
}
#endif
#if !defined(SUBSTITUTE_WITHOUT_FT_ListDevices)
SUBSTITUTE_EXPORT FT_STATUS FT_ListDevices(PVOID pArg1, PVOID, DWORD flags) {
    if (pArg1 && (flags & FT_LIST_NUMBER_ONLY))
        *static_cast<DWORD*>(pArg1) = 0;
    return Counted();
}
#endif
#if !defined(SUBSTITUTE_WITHOUT_FT_GetQueueStatus)
SUBSTITUTE_EXPORT FT_STATUS FT_GetQueueStatus(FT_HANDLE, DWORD*) {
    return Counted();
}
#endif
#if !defined(SUBSTITUTE_WITHOUT_FT_Write)
SUBSTITUTE_EXPORT FT_STATUS FT_Write(FT_HANDLE, LPVOID, DWORD, LPDWORD) {
    return Counted();
}
#endif
#if !defined(SUBSTITUTE_WITHOUT_FT_Read)
SUBSTITUTE_EXPORT FT_STATUS FT_Read(FT_HANDLE, LPVOID, DWORD, LPDWORD) {
    return Counted();
}
#endif
#if !defined(SUBSTITUTE_WITHOUT_FT_ResetDevice)
SUBSTITUTE_EXPORT FT_STATUS FT_ResetDevice(FT_HANDLE) {
    return Counted();
}
#endif
#if !defined(SUBSTITUTE_WITHOUT_FT_Purge)
SUBSTITUTE_EXPORT FT_STATUS FT_Purge(FT_HANDLE, ULONG) {
    return Counted();
}
#endif
#if !defined(SUBSTITUTE_WITHOUT_FT_SetTimeouts)
SUBSTITUTE_EXPORT FT_STATUS FT_SetTimeouts(FT_HANDLE, ULONG, ULONG) {
    return Counted();
}
#endif
#if !defined(SUBSTITUTE_WITHOUT_FT_SetUSBParameters)
SUBSTITUTE_EXPORT FT_STATUS FT_SetUSBParameters(FT_HANDLE, ULONG, ULONG) {
    return Counted();
}
#endif
