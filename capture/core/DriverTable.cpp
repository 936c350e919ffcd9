#include "DriverTable.h"

#include <cstdio>

namespace capture {

const char* const DriverTable::kLibraryFileName = "libftd2xx.so";

std::vector<std::string> DriverTable::ProgramSearchDirs() {
    // Beside the program in the build tree, then the installed layout's lib folder.
    const std::string programDir = usbdriver::ProgramDirectory();
    return {programDir, programDir + "/../lib"};
}

DriverTable& DriverTable::Process() {
    static DriverTable* table = new DriverTable; // the library is never unloaded
    return *table;
}

namespace {
void WriteDiagnostic(const char* format, int errorNumber) {
    std::fprintf(stderr, format, errorNumber);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

template <typename Fn> bool ResolveInto(usbdriver::DriverLibrary& library, const char* name, Fn& slot) {
    slot = reinterpret_cast<Fn>(library.Resolve(name));
    return slot != nullptr;
}
} // namespace

int DriverTable::BindDriverLibrary(const std::string& fileName, const std::vector<std::string>& searchDirs) {
    if (!m_library.IsLoaded() && !m_library.Load(fileName, searchDirs)) {
        WriteDiagnostic("FTD2XX.dll Load Error : %d", m_library.ErrorNumber());
        return 0;
    }
    // In this order, stopping at the first missing name; filled slots keep their values.
    if (!ResolveInto(m_library, "FT_Open", m_open)) {
        WriteDiagnostic("FT_Open load error : %d", m_library.ErrorNumber());
        return 0;
    }
    if (!ResolveInto(m_library, "FT_Close", m_close)) {
        WriteDiagnostic("FT_Close load error : %d", m_library.ErrorNumber());
        return 0;
    }
    if (!ResolveInto(m_library, "FT_ListDevices", m_listDevices)) {
        WriteDiagnostic("FT_ListDevices load error : %d", m_library.ErrorNumber());
        return 0;
    }
    if (!ResolveInto(m_library, "FT_GetQueueStatus", m_getQueueStatus)) {
        WriteDiagnostic("FT_GetQueueStatus load error : %d", m_library.ErrorNumber());
        return 0;
    }
    if (!ResolveInto(m_library, "FT_Write", m_write)) {
        WriteDiagnostic("FT_Write load error : %d", m_library.ErrorNumber());
        return 0;
    }
    if (!ResolveInto(m_library, "FT_Read", m_read)) {
        WriteDiagnostic("FT_ReadAny load error : %d", m_library.ErrorNumber());
        return 0;
    }
    return 1;
}

} // namespace capture
