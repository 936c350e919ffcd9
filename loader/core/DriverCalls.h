// The bridge driver operations Haldrin uses, as a table of entry points, so that
// every port goes through one seam: the linked library by default, or a table
// that forwards to it while recording what was asked (tests).
#pragma once

#include "ftd2xx.h"

struct DriverCalls {
    FT_STATUS (*Open)(int deviceNumber, FT_HANDLE* handle);
    FT_STATUS (*Close)(FT_HANDLE handle);
    FT_STATUS (*ListDevices)(PVOID arg1, PVOID arg2, DWORD flags);
    FT_STATUS (*Write)(FT_HANDLE handle, LPVOID buffer, DWORD count, LPDWORD written);
    FT_STATUS (*Read)(FT_HANDLE handle, LPVOID buffer, DWORD count, LPDWORD received);
    FT_STATUS (*ResetDevice)(FT_HANDLE handle);
    FT_STATUS (*Purge)(FT_HANDLE handle, ULONG mask);
    FT_STATUS (*SetTimeouts)(FT_HANDLE handle, ULONG readTimeout, ULONG writeTimeout);
    FT_STATUS (*SetUSBParameters)(FT_HANDLE handle, ULONG inSize, ULONG outSize);

    // The entry points of the driver library that Haldrin is linked against.
    static const DriverCalls& Linked();
};
