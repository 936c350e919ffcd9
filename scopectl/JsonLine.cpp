#include "JsonLine.h"

#include <cstdio>

namespace scopectl {

namespace {
std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (const unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}
} // namespace

void JsonLine::Key(const char* key) {
    if (!m_fields.empty())
        m_fields += ',';
    m_fields += Quoted(key) + ':';
}

JsonLine& JsonLine::Text(const char* key, const std::string& value) {
    Key(key);
    m_fields += Quoted(value);
    return *this;
}

JsonLine& JsonLine::Number(const char* key, std::int64_t value) {
    Key(key);
    m_fields += std::to_string(value);
    return *this;
}

JsonLine& JsonLine::Real(const char* key, double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    Key(key);
    m_fields += text;
    return *this;
}

JsonLine& JsonLine::Boolean(const char* key, bool value) {
    Key(key);
    m_fields += value ? "true" : "false";
    return *this;
}

} // namespace scopectl
