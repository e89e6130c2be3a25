// Matches what a death test wrote to standard error against a full
// ECMAScript regular expression, the same on every platform (GoogleTest's
// own expressions are reduced on Windows, where text output also ends
// lines with \r\n).
#pragma once

#include <gmock/gmock.h>

#include <regex>
#include <string>

inline ::testing::Matcher<const std::string&> StderrIs(const std::string& pattern) {
    return ::testing::Truly([pattern](const std::string& text) {
        std::string lines;
        for (char c : text)
            if (c != '\r') lines += c;
        return std::regex_match(lines, std::regex(pattern));
    });
}
