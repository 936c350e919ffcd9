#include "PictureFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace scopectl {

namespace {

bool EndsWithNoCase(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           std::equal(end.rbegin(), end.rend(), text.rbegin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// The finished temporary file takes the name: in place of an existing file
// only when asked to.
bool Publish(const std::string& temp, const std::string& path, bool replace) {
    if (replace)
        return std::rename(temp.c_str(), path.c_str()) == 0;
    if (renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return false;
    // A file system without the no-replace rename: a second link fails just as
    // surely on an existing name.
    if (link(temp.c_str(), path.c_str()) != 0)
        return false;
    unlink(temp.c_str());
    return true;
}

mode_t CurrentUmask() {
    const mode_t mask = umask(0);
    umask(mask);
    return mask;
}

} // namespace

PictureFile::PictureFile(std::string chosenPath, std::string extension, int count)
    : m_chosen(std::move(chosenPath)), m_extension(std::move(extension)), m_count(count) {}

std::string PictureFile::WithExtension(const std::string& path, const std::string& extension) {
    return EndsWithNoCase(path, "." + extension) ? path : path + "." + extension;
}

std::string PictureFile::AutomaticName(std::time_t when, int number, const std::string& extension) {
    std::tm local{};
    localtime_r(&when, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    char counter[16];
    std::snprintf(counter, sizeof counter, "%03d", number);
    return std::string("scope-") + stamp + "-" + counter + "." + extension;
}

std::string PictureFile::ChosenName(int number) const {
    const std::string path = WithExtension(m_chosen, m_extension);
    if (m_count <= 1)
        return path;
    char counter[16];
    std::snprintf(counter, sizeof counter, "-%03d", number);
    const std::size_t dot = path.size() - m_extension.size() - 1;
    return path.substr(0, dot) + counter + path.substr(dot);
}

PictureFile::Written PictureFile::Write(int number, const QByteArray& bytes, bool replace, std::string* path,
                                        std::string* reason) {
    if (!Automatic()) {
        *path = ChosenName(number);
        return WriteFile(*path, bytes, replace, reason);
    }
    const std::time_t now = std::time(nullptr);
    for (;;) {
        *path = AutomaticName(now, m_nextAutomatic++, m_extension);
        const Written written = WriteFile(*path, bytes, false, reason);
        if (written != Written::Exists)
            return written;
    }
}

PictureFile::Written PictureFile::WriteFile(const std::string& path, const QByteArray& bytes, bool replace,
                                            std::string* reason) {
    if (!replace && std::filesystem::symlink_status(path).type() != std::filesystem::file_type::not_found)
        return Written::Exists;
    std::filesystem::path target(path);
    const std::string folder = target.has_parent_path() ? target.parent_path().string() : ".";
    std::string temp = folder + "/." + target.filename().string() + ".XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0) {
        *reason = std::strerror(errno);
        return Written::Failed;
    }
    // mkstemp makes the file private; a picture gets the usual rights.
    fchmod(fd, 0666 & ~CurrentUmask());
    bool ok = WriteAll(fd, bytes.constData(), static_cast<std::size_t>(bytes.size())) && fsync(fd) == 0;
    int error = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && !Publish(temp, path, replace)) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        unlink(temp.c_str());
        *reason = std::strerror(error);
        return error == EEXIST ? Written::Exists : Written::Failed;
    }
    return Written::Done;
}

} // namespace scopectl
