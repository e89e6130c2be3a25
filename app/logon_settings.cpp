#include "logon_settings.h"

#include <algorithm>

constexpr int kFirstRetrySeconds = 10, kLastRetrySeconds = 600;

static std::string_view Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

static std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

static std::vector<std::string> Words(std::string_view text) {
    std::vector<std::string> words;
    std::size_t at = 0;
    while ((at = text.find_first_not_of(" \t", at)) != std::string_view::npos) {
        const std::size_t end = std::min(text.find_first_of(" \t", at), text.size());
        words.emplace_back(text.substr(at, end - at));
        at = end;
    }
    return words;
}

// A factor as people write one: digits with at most one decimal point.
static bool IsDecimal(std::string_view text) {
    int digits = 0, points = 0;
    for (char c : text) {
        if (c >= '0' && c <= '9') ++digits;
        else if (c == '.') ++points;
        else return false;
    }
    return digits > 0 && points <= 1;
}

// Stores `value` under `written` (the key in any case); the reason when it
// cannot be.
static std::string Store(std::string_view written, std::string_view value, LogonSettings* s) {
    const std::string key = Lower(written);
    const std::string quoted = " ('" + std::string(value) + "')";
    if (value.find('"') != std::string_view::npos) return "the value goes without quotes" + quoted;
    if (key == "output") {
        s->output = Lower(value);
        if (s->output != "--audio" && s->output != "--device") return "OUTPUT is --audio or --device" + quoted;
    } else if (key == "device") {
        if (value.empty()) return "DEVICE is empty";
        // Windows' default device, however written.
        s->device = Lower(value) == "default" ? "default" : std::string(value);
    } else if (key == "factor") {
        if (!IsDecimal(value)) return "FACTOR is a number such as 100 or 98.7" + quoted;
        s->factor = value;
    } else if (key == "ntp") {
        s->ntp = Words(value);
    } else if (key == "options") {
        s->options = Words(value);
    } else {
        return "unknown setting '" + std::string(written) + "' (OUTPUT, DEVICE, FACTOR, NTP or OPTIONS)";
    }
    return "";
}

bool ReadLogonSettings(std::string_view text, LogonSettings* settings, std::string* problem) {
    int number = 0;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = Trimmed(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
        ++number;
        if (line.empty() || line[0] == '#') continue;
        const std::size_t equals = line.find('=');
        std::string why;
        if (equals == std::string_view::npos) why = "'" + std::string(line) + "' is no KEY=VALUE setting";
        else why = Store(Trimmed(line.substr(0, equals)), Trimmed(line.substr(equals + 1)), settings);
        if (!why.empty()) {
            *problem = "line " + std::to_string(number) + ": " + why;
            return false;
        }
    }
    return true;
}

std::vector<std::string> LogonArguments(const LogonSettings& s) {
    std::vector<std::string> arguments{s.output, s.device, "--factor", s.factor, "--follow", "--verbose"};
    for (const std::string& server : s.ntp) arguments.insert(arguments.end(), {"--ntp", server});
    arguments.insert(arguments.end(), s.options.begin(), s.options.end());
    return arguments;
}

// The C runtime's rules: inside quotes, backslashes count only before a
// quote, where 2n of them stand for n and 2n+1 for n and the quote.
static void AppendQuoted(std::string* line, const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) {
        *line += argument;
        return;
    }
    *line += '"';
    std::size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        line->append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        *line += c;
    }
    line->append(2 * backslashes, '\\');
    *line += '"';
}

std::string QuotedCommandLine(const std::string& program, const std::vector<std::string>& arguments) {
    // A path holds no quote, and the program's name is read up to the next one.
    std::string line = '"' + program + '"';
    for (const std::string& argument : arguments) {
        line += ' ';
        AppendQuoted(&line, argument);
    }
    return line;
}

int NextRetrySeconds(int previous, std::int64_t ranSeconds) {
    if (previous == 0 || ranSeconds > kLastRetrySeconds) return kFirstRetrySeconds;
    return std::min(2 * previous, kLastRetrySeconds);
}
