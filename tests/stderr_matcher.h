// Matchers for what a death test wrote to standard error, the same on
// every platform (Windows text output ends lines with \r\n, and
// GoogleTest's regular expressions are reduced there).
#pragma once

#include <gmock/gmock.h>

#include <cctype>
#include <string>

inline std::string WithoutCarriageReturns(const std::string& text) {
    std::string lines;
    for (char c : text)
        if (c != '\r') lines += c;
    return lines;
}

// Exactly `expected`.
inline ::testing::Matcher<const std::string&> StderrIs(const std::string& expected) {
    return ::testing::Truly(
        [expected](const std::string& text) { return WithoutCarriageReturns(text) == expected; });
}

// "File line.cpp Line <n> Function <function> failed (<code>)\n", any n.
inline ::testing::Matcher<const std::string&> FailureLineIs(const std::string& function, const std::string& code) {
    return ::testing::Truly([function, code](const std::string& text) {
        const std::string line = WithoutCarriageReturns(text);
        const std::string head = "File line.cpp Line ";
        const std::string tail = " Function " + function + " failed (" + code + ")\n";
        if (line.size() <= head.size() + tail.size() || line.compare(0, head.size(), head) != 0 ||
            line.compare(line.size() - tail.size(), tail.size(), tail) != 0)
            return false;
        for (std::size_t i = head.size(); i < line.size() - tail.size(); ++i)
            if (!std::isdigit(static_cast<unsigned char>(line[i]))) return false;
        return true;
    });
}
