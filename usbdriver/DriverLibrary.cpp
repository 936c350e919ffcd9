#include "DriverLibrary.h"

#include <cerrno>
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

namespace usbdriver {

namespace {

struct Attempt {
    void* handle = nullptr;
    int errorNumber = 0;
    std::string errorText;
};

Attempt TryOpen(const std::string& path) {
    Attempt attempt;
    dlerror();
    errno = 0;
    attempt.handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!attempt.handle) {
        int savedErrno = errno;
        const char* text = dlerror();
        // glibc keeps the failure's errno with the message and sets it when
        // the message is fetched.
        if (savedErrno == 0)
            savedErrno = errno;
        attempt.errorNumber = savedErrno != 0 ? savedErrno : DriverLibrary::kLoadFailed;
        attempt.errorText = text ? text : "cannot load " + path;
    }
    return attempt;
}

bool Exists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

} // namespace

bool DriverLibrary::Load(const std::string& fileName, const std::vector<std::string>& searchDirs) {
    if (m_handle)
        return true;
    std::vector<std::string> candidates;
    for (const std::string& dir : searchDirs)
        if (!dir.empty())
            candidates.push_back(dir + "/" + fileName);
    candidates.push_back(fileName);

    // A library that exists but does not load (wrong architecture, missing
    // dependency) says more than "not found" from the later candidates; among
    // candidates that do not exist, one with an errno says more than one without.
    Attempt reported;
    bool haveExistingFailure = false;
    bool haveErrno = false;
    for (const std::string& candidate : candidates) {
        Attempt attempt = TryOpen(candidate);
        if (attempt.handle) {
            m_handle = attempt.handle;
            m_loadedPath = candidate;
            return true;
        }
        if (haveExistingFailure)
            continue;
        const bool existing = candidate.find('/') != std::string::npos && Exists(candidate);
        const bool withErrno = attempt.errorNumber != kLoadFailed;
        if (existing || withErrno || !haveErrno) {
            reported = attempt;
            haveExistingFailure = existing;
            haveErrno = haveErrno || withErrno;
        }
    }
    m_errorNumber = reported.errorNumber;
    m_errorText = reported.errorText;
    return false;
}

void* DriverLibrary::Resolve(const char* name) {
    if (!m_handle) {
        m_errorNumber = kEntryMissing;
        m_errorText = std::string("no library loaded to look up ") + (name ? name : "(null)");
        return nullptr;
    }
    if (!name) {
        m_errorNumber = kEntryMissing;
        m_errorText = "no entry name given";
        return nullptr;
    }
    dlerror();
    errno = 0;
    void* entry = dlsym(m_handle, name);
    if (!entry) {
        int savedErrno = errno;
        const char* text = dlerror();
        if (savedErrno == 0)
            savedErrno = errno;
        m_errorNumber = savedErrno != 0 ? savedErrno : kEntryMissing;
        m_errorText = text ? text : std::string("undefined symbol: ") + name;
    }
    return entry;
}

std::string ProgramDirectory() {
    std::string path(4096, '\0');
    const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0 || static_cast<size_t>(length) >= path.size())
        return {};
    path.resize(static_cast<size_t>(length));
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return {};
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

} // namespace usbdriver
