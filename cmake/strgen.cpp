// Compiles a string table (id, tab, text with C escapes) into a C++ source
// file with the texts as UTF-16 literals. Refuses malformed lines and
// duplicate ids so that a typo breaks the build instead of a message box.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <string>

static std::string Literal(const std::string& text, bool* ok) {
    std::string out;
    bool escaped = false;
    for (char c : text) {
        if (escaped) {
            out += c;
            escaped = false;
        } else if (c == '\\') {
            out += c;
            escaped = true;
        } else if (c == '"') {
            out += "\\\"";
        } else {
            out += c;
        }
    }
    if (escaped)
        *ok = false;
    return out;
}

int main(int argc, char** argv) {
    if (argc != 5) {
        std::cerr << "usage: strgen NAME TABLE.tsv OUT.cpp OUT.h\n";
        return 2;
    }
    std::string name = argv[1];
    std::ifstream in(argv[2]);
    if (!in) {
        std::cerr << argv[2] << ": cannot read\n";
        return 1;
    }
    std::ostringstream entries;
    std::set<unsigned long> seen;
    std::string line;
    int lineno = 0;
    while (std::getline(in, line)) {
        ++lineno;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        size_t tab = line.find('\t');
        std::string id = line.substr(0, tab);
        bool ok = tab != std::string::npos && !id.empty() &&
                  id.find_first_not_of("0123456789") == std::string::npos && id.size() < 7;
        std::string text = ok ? Literal(line.substr(tab + 1), &ok) : "";
        if (!ok) {
            std::cerr << argv[2] << ":" << lineno << ": malformed line\n";
            return 1;
        }
        unsigned long n = std::stoul(id);
        if (!seen.insert(n).second) {
            std::cerr << argv[2] << ":" << lineno << ": duplicate id " << n << "\n";
            return 1;
        }
        entries << "    {" << n << "u, u\"" << text << "\"},\n";
    }
    std::ofstream cpp(argv[3]);
    cpp << "// Generated from " << name << "/strings.tsv. Do not edit.\n"
        << "#include \"" << name << "_strings.h\"\n#include <iterator>\n\n"
        << "namespace {\nconst platform::StringEntry kEntries[] = {\n"
        << entries.str() << "};\n}  // namespace\n\n"
        << "namespace strings {\nconst platform::StringTable& " << name << "() {\n"
        << "    static const platform::StringTable table(kEntries, std::size(kEntries));\n"
        << "    return table;\n}\n}  // namespace strings\n";
    std::ofstream h(argv[4]);
    h << "// Generated. Do not edit.\n#pragma once\n#include \"platform/strings.h\"\n\n"
      << "namespace strings {\nconst platform::StringTable& " << name << "();\n}\n";
    return cpp && h ? 0 : 1;
}
