// One JSON object on one line, built field by field, for scripts that read
// scopectl's --json output.
#pragma once

#include <cstdint>
#include <string>

namespace scopectl {

class JsonLine {
  public:
    JsonLine& Text(const char* key, const std::string& value);
    JsonLine& Number(const char* key, std::int64_t value);
    JsonLine& Real(const char* key, double value);
    JsonLine& Boolean(const char* key, bool value);
    // The object, without a line end.
    std::string Str() const { return "{" + m_fields + "}"; }

  private:
    void Key(const char* key);
    std::string m_fields;
};

} // namespace scopectl
