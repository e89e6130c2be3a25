// Every command example in the texts (the README, docs/, the manual
// pages' sources, the Windows guide) read by the program's own option
// parser: each one parses, and no value is quoted with single quotes,
// which cmd.exe passes on as part of it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "app/options.h"

namespace fs = std::filesystem;

enum TextKind { MARKDOWN, MANUAL, GUIDE };

// A line of a text that shows commands, with its line number.
struct ShownLine {
    int number;
    std::string text;
};

static std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

static void ReplaceAll(std::string* text, const std::string& from, const std::string& to) {
    for (std::size_t at = text->find(from); at != std::string::npos; at = text->find(from, at + to.size()))
        text->replace(at, from.size(), to);
}

// A manual page's line as man prints it: its escapes undone.
static std::string Unescape(std::string line) {
    ReplaceAll(&line, "\\-", "-");
    ReplaceAll(&line, "\\(aq", "'");
    ReplaceAll(&line, "\\(dq", "\"");
    ReplaceAll(&line, "\\e", "\\");
    return line;
}

// The lines that show commands: in Markdown those indented by four spaces
// or fenced; in a manual page those between .EX and .EE, continued lines
// joined; in the Windows guide those indented.
static std::vector<ShownLine> CommandLines(const std::string& content, TextKind kind) {
    std::vector<ShownLine> lines;
    std::istringstream in(content);
    std::string line, joined;
    bool inside = false;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (kind == MANUAL) {
            const bool continued = line.size() > 1 && line.substr(line.size() - 2) == "\\e";
            if (line == ".EX" || line == ".EE") {
                inside = line == ".EX";
            } else if (inside && continued) {
                joined += line.substr(0, line.size() - 2);
            } else if (inside) {
                lines.push_back({number, Unescape(joined + line)});
                joined.clear();
            }
            continue;
        }
        if (kind == MARKDOWN && line.rfind("```", 0) == 0) inside = !inside;
        else if (inside || line.rfind(kind == MARKDOWN ? "    " : "  ", 0) == 0) lines.push_back({number, line});
    }
    return lines;
}

// The line's text outside double quotes and before a comment, where a
// shell sees its operators.
static std::string Unquoted(const std::string& line) {
    std::string outside;
    bool quoted = false;
    for (char c : line) {
        if (c == '"') quoted = !quoted;
        else if (!quoted && c == '#' && (outside.empty() || outside.back() == ' ')) break;
        else if (!quoted) outside += c;
    }
    return outside;
}

// The commands on a line (split at && ; | ( ), outside double quotes,
// before a comment), each as the words a shell passes on: split at
// spaces, double quotes grouping and removed.
static std::vector<std::vector<std::string>> Commands(const std::string& line) {
    std::vector<std::vector<std::string>> commands(1);
    std::string word;
    bool quoted = false, inWord = false;
    auto endWord = [&] {
        if (inWord) commands.back().push_back(word);
        word.clear();
        inWord = false;
    };
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if (quoted) {
            word += c;
        } else if (c == '#' && !inWord) {
            break;
        } else if (c == ' ' || c == '\t') {
            endWord();
        } else if (c == '&' || c == ';' || c == '|' || c == '(' || c == ')') {
            endWord();
            commands.emplace_back();
        } else {
            word += c;
            inWord = true;
        }
    }
    endWord();
    return commands;
}

// Whether the words run this program: dcf77tx or dcf77tx.exe by any path.
static bool RunsProgram(const std::vector<std::string>& words) {
    if (words.empty()) return false;
    const std::string& first = words[0];
    const std::size_t slash = first.find_last_of("/\\");
    const std::string name = slash == std::string::npos ? first : first.substr(slash + 1);
    return name == "dcf77tx" || name == "dcf77tx.exe";
}

struct Text {
    std::string path;  // from the source folder
    TextKind kind;
    int fewestExamples;  // what the text shows at least; fewer means the reading broke
};

// The texts with commands: those named here, and every Markdown page in docs/.
static std::vector<Text> Texts() {
    std::vector<Text> texts = {
        {"README.md", MARKDOWN, 7},
        {"docs/sound.md", MARKDOWN, 6},
        {"packaging/dcf77tx-linux.man", MANUAL, 7},
        {"packaging/dcf77tx-windows.man", MANUAL, 7},
        {"packaging/dcf77tx.1.in", MANUAL, 1},
        {"packaging/quaver.1.in", MANUAL, 0},
        {"packaging/windows/README-windows.txt", GUIDE, 8},
    };
    for (const fs::directory_entry& e : fs::directory_iterator(fs::path(SOURCE_DIR) / "docs")) {
        const std::string path = "docs/" + e.path().filename().string();
        if (e.path().extension() == ".md" && path != "docs/sound.md") texts.push_back({path, MARKDOWN, 0});
    }
    return texts;
}

TEST(DocExamples, EveryCommandParses) {
    int total = 0;
    for (const Text& t : Texts()) {
        const std::string content = ReadFile(fs::path(SOURCE_DIR) / t.path);
        ASSERT_FALSE(content.empty()) << t.path;
        int examples = 0;
        for (const ShownLine& line : CommandLines(content, t.kind)) {
            const std::string where = t.path + ":" + std::to_string(line.number) + ": " + line.text;
            bool shown = false;
            for (std::vector<std::string> words : Commands(line.text)) {
                if (!words.empty() && words[0] == "sudo") words.erase(words.begin());
                bool variable = false;  // a shell variable: no value to parse
                for (const std::string& w : words) variable = variable || w.find('$') != std::string::npos;
                if (!RunsProgram(words) || variable) continue;
                shown = true;
                std::vector<const char*> argv;
                for (const std::string& w : words) argv.push_back(w.c_str());
                Options options;
                std::string problem;
                const CommandLine outcome = ParseCommandLine(static_cast<int>(argv.size()), argv.data(), &options, &problem);
                EXPECT_NE(outcome, BAD) << where << "\n" << problem;
                ++examples;
            }
            if (shown) {
                EXPECT_EQ(Unquoted(line.text).find('\''), std::string::npos) << where << ": a single quote";
            }
        }
        EXPECT_GE(examples, t.fewestExamples) << t.path;
        total += examples;
    }
    std::printf("%d command examples parsed\n", total);
}

// No option's value is single-quoted anywhere, in prose either.
TEST(DocExamples, NoSingleQuotedValue) {
    const std::regex singleQuoted("--[a-z][a-z-]*[ =]'");
    for (const Text& t : Texts()) {
        std::istringstream in(ReadFile(fs::path(SOURCE_DIR) / t.path));
        std::string line;
        for (int number = 1; std::getline(in, line); ++number)
            EXPECT_FALSE(std::regex_search(Unescape(line), singleQuoted)) << t.path << ":" << number << ": " << line;
    }
}

// The Windows guide opens in any Notepad: every line ends with CR LF.
TEST(DocExamples, WindowsGuideHasWindowsLineEnds) {
    const std::string guide = ReadFile(fs::path(SOURCE_DIR) / "packaging/windows/README-windows.txt");
    ASSERT_GT(guide.size(), 1000u);
    int lines = 0;
    for (std::size_t i = 0; i < guide.size(); ++i)
        if (guide[i] == '\n') {
            EXPECT_TRUE(i > 0 && guide[i - 1] == '\r') << "a bare LF at byte " << i;
            ++lines;
        }
    EXPECT_EQ(guide.back(), '\n');
    EXPECT_GT(lines, 100);
}
