// The udev rules, line by line: KEY[{attribute}] operator "value" pairs joined by commas, keys that udev
// knows with the operators it allows them, jumps to labels further down; and the files' order and contents.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

namespace {

enum Use { Match = 1, Assign = 2, Both = 3 };
enum Attribute { None, Required, Optional };
const std::map<std::string, std::pair<Use, Attribute>> kKeys = {
    {"ACTION", {Match, None}},   {"DEVPATH", {Match, None}},       {"KERNEL", {Match, None}},
    {"KERNELS", {Match, None}},  {"SUBSYSTEM", {Match, None}},     {"SUBSYSTEMS", {Match, None}},
    {"DRIVER", {Match, None}},   {"DRIVERS", {Match, None}},       {"ATTRS", {Match, Required}},
    {"TAGS", {Match, None}},     {"TEST", {Match, Optional}},      {"PROGRAM", {Match, None}},
    {"RESULT", {Match, None}},   {"CONST", {Match, Required}},     {"IMPORT", {Match, Required}},
    {"ATTR", {Both, Required}},  {"SYSCTL", {Both, Required}},     {"ENV", {Both, Required}},
    {"TAG", {Both, None}},       {"NAME", {Both, None}},           {"SYMLINK", {Both, None}},
    {"OWNER", {Assign, None}},   {"GROUP", {Assign, None}},        {"MODE", {Assign, None}},
    {"RUN", {Assign, Optional}}, {"SECLABEL", {Assign, Required}}, {"OPTIONS", {Assign, None}},
    {"LABEL", {Assign, None}},   {"GOTO", {Assign, None}},
};

// One rule line into pairs, written KEY{attribute}op"value"; an error text if it is not well
// formed. Jumps wait in gotos until their label comes.
std::string ParseLine(const std::string& line, std::set<std::string>& pairs,
                      std::vector<std::string>& gotos) {
    // KEY, {attribute}, operator, "value", then a comma or the end of the line.
    static const std::regex kPair(R"re(\s*([A-Z_]+)(?:\{([^}]+)\})?\s*(==|!=|\+=|-=|:=|=)\s*)re"
                                  R"re("((?:[^"\\]|\\.)*)"\s*(,|$))re");
    std::smatch m;
    bool assigns = false;
    for (auto at = line.cbegin(); m.empty() || m[5].length() > 0; at = m[0].second) {
        if (!std::regex_search(at, line.cend(), m, kPair, std::regex_constants::match_continuous))
            return "no KEY{attribute} operator \"value\" at column " + std::to_string(at - line.cbegin() + 1);
        const std::string key = m[1], attribute = m[2], op = m[3], value = m[4];
        const auto known = kKeys.find(key);
        if (known == kKeys.end())
            return "unknown key " + key;
        const auto [use, takes] = known->second;
        if ((takes == Required && attribute.empty()) || (takes == None && !attribute.empty()))
            return key + (takes == None ? " takes no {attribute}" : " needs an {attribute}");
        const bool assign = op != "==" && op != "!=";
        if (!(use & (assign ? Assign : Match)) || ((key == "LABEL" || key == "GOTO") && op != "="))
            return key + " cannot be used with " + op;
        assigns |= assign;
        if (key == "GOTO")
            gotos.push_back(value);
        if (key == "LABEL")
            std::erase(gotos, value);
        pairs.insert(key + (attribute.empty() ? "" : "{" + attribute + "}") + op + "\"" + value + "\"");
    }
    return assigns ? "" : "a rule without an assignment does nothing";
}

// A whole file: continued lines joined, blank lines and comments skipped, jumps checked.
std::vector<std::string> ParseRules(const std::string& text, std::set<std::string>& pairs) {
    static const std::regex kNothing(R"(\s*(#.*)?)");
    std::vector<std::string> errors, gotos;
    std::istringstream in(text);
    for (std::string piece, line; std::getline(in, piece);) {
        line += piece;
        if (line.ends_with('\\')) {
            line.pop_back();
            continue;
        }
        const std::string error = std::regex_match(line, kNothing) ? "" : ParseLine(line, pairs, gotos);
        if (!error.empty())
            errors.push_back(line + ": " + error);
        line.clear();
    }
    for (const std::string& label : gotos)
        errors.push_back("GOTO \"" + label + "\" has no LABEL after it");
    return errors;
}

} // namespace

TEST(UdevRules, TheParserRefusesWhatUdevWouldNot) {
    const char* bad[] = {
        "KERNEL=\"ttyUSB*\"",                               // match-only key assigned
        "SUBSYSTEM==\"tty\" TAG+=\"uaccess\"",              // no comma
        "SUBSYSTEM==\"tty, TAG+=\"uaccess\"",               // quoting
        "SUBSYSTEM==\"tty\", TAG+=\"uaccess",               // quote not closed
        "ENV==\"1\", TAG+=\"uaccess\"",                     // no attribute
        "SUBSYSTEM{x}==\"tty\", TAG+=\"uaccess\"",          // attribute where none goes
        "FOO==\"bar\", TAG+=\"uaccess\"",                   // unknown key
        "SUBSYSTEM=>\"tty\", TAG+=\"uaccess\"",             // operator
        "SUBSYSTEM==tty, TAG+=\"uaccess\"",                 // unquoted
        "SUBSYSTEM==\"tty\", ATTRS{idVendor}==\"0403\"",    // nothing assigned
        "ACTION==\"remove\", GOTO+=\"end\"\nLABEL=\"end\"", // GOTO with +=
        "ACTION==\"remove\", GOTO=\"nowhere\"",             // no such label
        "LABEL=\"end\"\nACTION==\"remove\", GOTO=\"end\"",  // label before the jump
    };
    std::set<std::string> pairs;
    for (const char* text : bad)
        EXPECT_FALSE(ParseRules(text, pairs).empty()) << text;
    pairs.clear();
    EXPECT_TRUE(ParseRules("# c\nSUBSYSTEM==\"tty\", \\\n  ENV{A}=\"1\"\n\nGOTO=\"e\"\nLABEL=\"e\"\n", pairs)
                    .empty());
    EXPECT_EQ(pairs,
              (std::set<std::string>{R"(SUBSYSTEM=="tty")", R"(ENV{A}="1")", R"(GOTO="e")", R"(LABEL="e")"}));
}

// 73-seat-late.rules turns the uaccess tag into an access list, so ours sort before it. The first
// marks the FTDI bridges' ttys and USB serial ports; the second acts on that mark only.
TEST(UdevRules, OurFilesAreWellFormedAndSortBeforeSeatLate) {
    const std::map<std::string, std::vector<std::string>> files = {
        {"60-automotive-scope.rules",
         {R"(SUBSYSTEM=="tty")", R"(SUBSYSTEM=="usb-serial")", R"(ATTRS{idVendor}=="0403")",
          R"(ENV{ID_AUTOMOTIVE_SCOPE_BRIDGE}="1")"}},
        {"61-automotive-scope-uaccess.rules",
         {R"(ENV{ID_AUTOMOTIVE_SCOPE_BRIDGE}!="1")", R"(TAG+="uaccess")", R"(ENV{ID_MM_DEVICE_IGNORE}="1")",
          R"(ATTR{latency_timer}="1")"}}};
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(SCOPE_UDEV_RULES_DIR), {}), 2);
    EXPECT_LT(files.rbegin()->first, "73-seat-late.rules");
    for (const auto& [name, wanted] : files) {
        std::ifstream in(SCOPE_UDEV_RULES_DIR "/" + name);
        ASSERT_TRUE(in) << name;
        std::set<std::string> pairs;
        for (const std::string& error : ParseRules({std::istreambuf_iterator<char>(in), {}}, pairs))
            ADD_FAILURE() << name << ": " << error;
        for (const std::string& pair : wanted)
            EXPECT_TRUE(pairs.contains(pair)) << name << " lacks " << pair;
    }
}
