// The bound USB driver library: the six operations Quorvex calls, looked up by
// name at run time so that the program starts (and can say why not) without it.
#pragma once

#include "DriverLibrary.h"
#include "DriverOperations.h"

#include <string>
#include <vector>

namespace capture {

class DriverTable : public usbdriver::DriverOperations {
  public:
    // File name the program binds, and where it looks before the system path.
    static const char* const kLibraryFileName;
    static std::vector<std::string> ProgramSearchDirs();

    // The one table of the running program; never released.
    static DriverTable& Process();

    // 1 when the library is loaded and all six entries are resolved, 0 otherwise.
    // Each failure writes its one-line diagnostic to stderr.
    int BindDriverLibrary(const std::string& fileName, const std::vector<std::string>& searchDirs);

    bool IsLoaded() const { return m_library.IsLoaded(); }

  private:
    usbdriver::DriverLibrary m_library;
};

} // namespace capture
