// The bound USB driver library: the six entry points Quorvex calls, looked up by
// name at run time so that the program starts (and can say why not) without it.
#pragma once

#include "ftd2xx.h"

#include <DriverLibrary.h>

#include <string>
#include <vector>

namespace capture {

class DriverTable {
  public:
    using OpenFn = FT_STATUS (*)(int, FT_HANDLE*);
    using CloseFn = FT_STATUS (*)(FT_HANDLE);
    using ListDevicesFn = FT_STATUS (*)(PVOID, PVOID, DWORD);
    using GetQueueStatusFn = FT_STATUS (*)(FT_HANDLE, DWORD*);
    using WriteFn = FT_STATUS (*)(FT_HANDLE, LPVOID, DWORD, LPDWORD);
    using ReadFn = FT_STATUS (*)(FT_HANDLE, LPVOID, DWORD, LPDWORD);

    // File name the program binds, and where it looks before the system path.
    static const char* const kLibraryFileName;
    static std::vector<std::string> ProgramSearchDirs();

    // The one table of the running program; never released.
    static DriverTable& Process();

    // 1 when the library is loaded and all six entries are resolved, 0 otherwise.
    // Each failure writes its one-line diagnostic to stderr.
    int BindDriverLibrary(const std::string& fileName, const std::vector<std::string>& searchDirs);

    bool IsLoaded() const { return m_library.IsLoaded(); }

    OpenFn m_open = nullptr;
    CloseFn m_close = nullptr;
    ListDevicesFn m_listDevices = nullptr;
    GetQueueStatusFn m_getQueueStatus = nullptr;
    WriteFn m_write = nullptr;
    ReadFn m_read = nullptr;

  private:
    usbdriver::DriverLibrary m_library;
};

} // namespace capture
