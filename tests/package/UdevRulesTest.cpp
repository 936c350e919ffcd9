// The udev rules, line by line: KEY[{attribute}] operator "value" pairs joined
// by commas, keys that udev knows with the operators it allows them, jumps to
// labels further down; and the files' order and contents.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Pair {
    std::string key, attribute, op, value;
};

enum Use { Match = 1, Assign = 2, Both = 3 };
enum Attribute { None, Required, Optional };
struct Key {
    Use use;
    Attribute attribute;
};
const std::map<std::string, Key> kKeys = {
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

// One rule line into its pairs; an error text if it is not well formed.
std::string ParseLine(const std::string& line, std::vector<Pair>& pairs) {
    // KEY, {attribute}, operator, "value", then a comma or the end of the line.
    static const std::regex kPair(R"re(\s*([A-Z_]+)(?:\{([^}]+)\})?\s*(==|!=|\+=|-=|:=|=)\s*)re"
                                  R"re("((?:[^"\\]|\\.)*)"\s*(,|$))re");
    std::smatch m;
    for (auto at = line.cbegin();; at = m[0].second) {
        if (!std::regex_search(at, line.cend(), m, kPair, std::regex_constants::match_continuous))
            return "no KEY{attribute} operator \"value\" at column " + std::to_string(at - line.cbegin() + 1);
        const Pair pair{m[1], m[2], m[3], m[4]};
        const auto known = kKeys.find(pair.key);
        if (known == kKeys.end())
            return "unknown key " + pair.key;
        const Attribute attribute = known->second.attribute;
        if ((attribute == Required && pair.attribute.empty()) ||
            (attribute == None && !pair.attribute.empty()))
            return pair.key + (attribute == None ? " takes no {attribute}" : " needs an {attribute}");
        if (!(known->second.use & (pair.op == "==" || pair.op == "!=" ? Match : Assign)))
            return pair.key + " cannot be used with " + pair.op;
        if ((pair.key == "LABEL" || pair.key == "GOTO") && pair.op != "=")
            return pair.key + " takes only =";
        pairs.push_back(pair);
        if (m[5].length() == 0)
            break;
    }
    const bool assigns =
        std::any_of(pairs.begin(), pairs.end(), [](const Pair& p) { return p.op != "==" && p.op != "!="; });
    return assigns ? "" : "a rule without an assignment does nothing";
}

// A whole file: continued lines joined, comments skipped, jumps checked.
std::vector<std::string> ParseRules(const std::string& text, std::vector<Pair>& all) {
    std::vector<std::string> errors, pendingGotos;
    std::istringstream in(text);
    std::string physical, line;
    int number = 0, first = 0;
    while (std::getline(in, physical)) {
        ++number;
        if (line.empty())
            first = number;
        if (!physical.empty() && physical.back() == '\\') {
            line += physical.substr(0, physical.size() - 1);
            continue;
        }
        line += physical;
        const size_t start = line.find_first_not_of(" \t");
        if (start != std::string::npos && line[start] != '#') {
            std::vector<Pair> pairs;
            if (std::string error = ParseLine(line, pairs); !error.empty())
                errors.push_back("line " + std::to_string(first) + ": " + error);
            for (const Pair& p : pairs) {
                if (p.key == "GOTO")
                    pendingGotos.push_back(p.value);
                if (p.key == "LABEL")
                    std::erase(pendingGotos, p.value);
            }
            all.insert(all.end(), pairs.begin(), pairs.end());
        }
        line.clear();
    }
    for (const std::string& label : pendingGotos)
        errors.push_back("GOTO \"" + label + "\" has no LABEL after it");
    return errors;
}

bool Has(const std::vector<Pair>& pairs, const std::string& key, const std::string& attribute,
         const std::string& op, const std::string& value) {
    return std::any_of(pairs.begin(), pairs.end(), [&](const Pair& p) {
        return p.key == key && p.attribute == attribute && p.op == op && p.value == value;
    });
}

} // namespace

TEST(UdevRules, TheParserRefusesWhatUdevWouldNot) {
    const char* bad[] = {
        "KERNEL=\"ttyUSB*\"",                               // match-only key assigned
        "SUBSYSTEM==\"tty\", ATTRS{idVendor}=\"0403\"",     // likewise
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
    for (const char* text : bad) {
        std::vector<Pair> pairs;
        EXPECT_FALSE(ParseRules(text, pairs).empty()) << text;
    }
    std::vector<Pair> pairs;
    EXPECT_TRUE(ParseRules("# c\nSUBSYSTEM==\"tty\", \\\n  ENV{A}=\"1\"\n\nGOTO=\"e\"\nLABEL=\"e\"\n", pairs)
                    .empty());
    EXPECT_TRUE(Has(pairs, "ENV", "A", "=", "1"));
}

TEST(UdevRules, OurFilesAreWellFormedAndSortBeforeSeatLate) {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(SCOPE_UDEV_RULES_DIR))
        files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].filename(), "60-automotive-scope.rules");
    EXPECT_EQ(files[1].filename(), "61-automotive-scope-uaccess.rules");
    // 73-seat-late.rules turns the uaccess tag into an access list.
    EXPECT_LT(files[1].filename().string(), "73-seat-late.rules");

    std::vector<Pair> pairs[2];
    for (int i = 0; i < 2; ++i) {
        std::ifstream in(files[i]);
        for (const std::string& error : ParseRules({std::istreambuf_iterator<char>(in), {}}, pairs[i]))
            ADD_FAILURE() << files[i] << ": " << error;
    }
    const std::vector<Pair>& tags = pairs[0];
    const std::vector<Pair>& access = pairs[1];

    // The first marks the FTDI bridges' ttys and USB serial ports; the second
    // acts on that mark only.
    EXPECT_TRUE(Has(tags, "SUBSYSTEM", "", "==", "tty"));
    EXPECT_TRUE(Has(tags, "SUBSYSTEM", "", "==", "usb-serial"));
    EXPECT_TRUE(Has(tags, "ATTRS", "idVendor", "==", "0403"));
    EXPECT_TRUE(Has(tags, "ENV", "ID_AUTOMOTIVE_SCOPE_BRIDGE", "=", "1"));
    EXPECT_TRUE(Has(access, "ENV", "ID_AUTOMOTIVE_SCOPE_BRIDGE", "!=", "1"));
    EXPECT_TRUE(Has(access, "TAG", "", "+=", "uaccess"));
    EXPECT_TRUE(Has(access, "ENV", "ID_MM_DEVICE_IGNORE", "=", "1"));
    EXPECT_TRUE(Has(access, "ATTR", "latency_timer", "=", "1"));
}
