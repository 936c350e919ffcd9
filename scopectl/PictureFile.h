// Where capture writes its pictures: the file names, and a write that never
// leaves a partial file and never replaces one unless asked to.
#pragma once

#include <QByteArray>

#include <ctime>
#include <string>

namespace scopectl {

class PictureFile {
  public:
    enum class Written { Done, Exists, Failed };

    // extension: "bmp" or "png". Without a chosen path, names are automatic.
    PictureFile(std::string chosenPath, std::string extension, int count);

    // The path chosen with its extension made right: unchanged when it ends in
    // ".<extension>" in any case, else with it added.
    static std::string WithExtension(const std::string& path, const std::string& extension);
    // "scope-YYYYMMDD-HHMMSS-NNN.<extension>" in local time.
    static std::string AutomaticName(std::time_t when, int number, const std::string& extension);

    // The path of picture number (1, 2, ...) of a chosen path.
    std::string ChosenName(int number) const;
    bool Automatic() const { return m_chosen.empty(); }

    // Writes picture number; an automatic name counts on past names that exist.
    // *path is the file written (or the one that exists, or that failed).
    Written Write(int number, const QByteArray& bytes, bool replace, std::string* path, std::string* reason);

    // The whole file at path, complete or not at all.
    static Written WriteFile(const std::string& path, const QByteArray& bytes, bool replace,
                             std::string* reason);

  private:
    std::string m_chosen;
    std::string m_extension;
    int m_count;
    int m_nextAutomatic = 1;
};

} // namespace scopectl
