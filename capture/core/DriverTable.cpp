#include "DriverTable.h"

#include <cstdio>

namespace capture {

const char* const DriverTable::kLibraryFileName = "libftd2xx.so";

std::vector<std::string> DriverTable::ProgramSearchDirs() {
    // Beside the program in the build tree, then the driver folder of an installed
    // tree (<prefix>/lib/automotive-scope/libftd2xx.so, a link that the package's
    // alternative points at our library or the bridge maker's). The bare name that
    // the binder tries last goes through the program's run path, which names that
    // folder under any libdir, and then the system's library path.
    const std::string programDir = usbdriver::ProgramDirectory();
    return {programDir, programDir + "/../lib/automotive-scope"};
}

DriverTable& DriverTable::Process() {
    static DriverTable* table = new DriverTable; // the library is never unloaded
    return *table;
}

namespace {
using usbdriver::DriverOperations;
using usbdriver::StoreEntry;

struct Entry {
    const char* name;
    const char* missing; // the diagnostic, with the error number for %d
    void (*store)(DriverOperations&, void*);
};

// Looked up in this order, stopping at the first that is missing; slots already
// filled keep their values.
const Entry kEntries[] = {
    {"FT_Open", "FT_Open load error : %d", StoreEntry<&DriverOperations::m_open>},
    {"FT_Close", "FT_Close load error : %d", StoreEntry<&DriverOperations::m_close>},
    {"FT_ListDevices", "FT_ListDevices load error : %d", StoreEntry<&DriverOperations::m_listDevices>},
    {"FT_GetQueueStatus", "FT_GetQueueStatus load error : %d",
     StoreEntry<&DriverOperations::m_getQueueStatus>},
    {"FT_Write", "FT_Write load error : %d", StoreEntry<&DriverOperations::m_write>},
    {"FT_Read", "FT_ReadAny load error : %d", StoreEntry<&DriverOperations::m_read>},
};

void WriteDiagnostic(const char* format, int errorNumber) {
    std::fprintf(stderr, format, errorNumber);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}
} // namespace

int DriverTable::BindDriverLibrary(const std::string& fileName, const std::vector<std::string>& searchDirs) {
    if (!m_library.IsLoaded() && !m_library.Load(fileName, searchDirs)) {
        WriteDiagnostic("FTD2XX.dll Load Error : %d", m_library.ErrorNumber());
        return 0;
    }
    for (const Entry& entry : kEntries) {
        void* found = m_library.Resolve(entry.name);
        entry.store(*this, found);
        if (!found) {
            WriteDiagnostic(entry.missing, m_library.ErrorNumber());
            return 0;
        }
    }
    return 1;
}

} // namespace capture
