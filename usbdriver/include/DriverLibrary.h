// Run-time binding of a shared library by file name, for programs that must
// start (and say what is missing) even when the driver library is absent.
#ifndef USBDRIVER_DRIVERLIBRARY_H
#define USBDRIVER_DRIVERLIBRARY_H

#include <string>
#include <vector>

namespace usbdriver {

// A library loaded by file name at run time. Once loaded it is never unloaded:
// entry points handed out stay valid for the life of the process.
//
// Error numbers: errno when the dynamic loader left one set (errno is cleared
// before each call, so a stale value is never reported), otherwise 126 for a
// library that could not be loaded and 127 for an entry that is not there
// (the shell's numbers for "cannot execute" and "not found").
class DriverLibrary {
  public:
    static constexpr int kLoadFailed = 126;
    static constexpr int kEntryMissing = 127;

    // Tries dir + "/" + fileName for each dir in order, then the system search
    // path with the bare name. When every attempt fails, the error reported is
    // that of the first candidate that exists but could not be loaded, or else
    // that of the last attempt that set errno (ENOENT for a library that is
    // nowhere). Loading again once loaded does nothing.
    bool Load(const std::string& fileName, const std::vector<std::string>& searchDirs);
    bool IsLoaded() const { return m_handle != nullptr; }
    // Null when the entry is missing (or nothing is loaded).
    void* Resolve(const char* name);
    // Of the last failed Load or Resolve.
    int ErrorNumber() const { return m_errorNumber; }
    // dlerror() text of the last failure.
    const std::string& ErrorText() const { return m_errorText; }
    // Path that was loaded, empty until then.
    const std::string& LoadedPath() const { return m_loadedPath; }

  private:
    void* m_handle = nullptr;
    int m_errorNumber = 0;
    std::string m_errorText;
    std::string m_loadedPath;
};

// Folder of the running executable (from /proc/self/exe); empty if unknown.
std::string ProgramDirectory();

} // namespace usbdriver

#endif
