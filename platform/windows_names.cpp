// Names on Windows: the program's text is UTF-8 (its manifest makes the
// command line and the C library's file names so), files are reached
// through the wide-character calls, devices such as NUL and CON are
// written in place, and the system zone is named by what it is now.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "platform.h"
#include "windows_zone.h"

static std::wstring Wide(const char* text) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring out(n > 0 ? n : 1, L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text, -1, out.data(), n);
    out.resize(n > 0 ? n - 1 : 0);
    return out;
}

static std::string Narrow(const wchar_t* text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n : 1, '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    out.resize(n > 0 ? n - 1 : 0);
    return out;
}

// The console shows bytes in its own code page, which is not UTF-8 unless set.
void UseUtf8Console() { SetConsoleOutputCP(CP_UTF8); }

void FindOutputPath(const char* path, OutputPath* out) {
    // NUL, CON, COM1 (and NUL.wav, before Windows 11) name devices in any
    // folder; in full they are in the device namespace, as pipes are.
    const std::wstring name = Wide(path);
    std::wstring full(32768, L'\0');
    const DWORD n = GetFullPathNameW(name.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    full.resize(n > 0 && n < full.size() ? n : 0);
    if (full.empty()) full = name;
    out->device = full.rfind(L"\\\\.\\", 0) == 0;
    // ReplaceFile wants the full path under Wine.
    std::snprintf(out->file, sizeof out->file, "%s", out->device ? path : Narrow(full.c_str()).c_str());
}

std::FILE* OpenOutputFile(const char* path) { return _wfopen(Wide(path).c_str(), L"wb"); }

// The system's words for the last failure, without the line end and full stop.
static const char* LastErrorText() {
    static char text[512];
    const DWORD code = GetLastError();
    wchar_t message[256];
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, message,
                             256, nullptr);
    while (n > 0 && (message[n - 1] == L'\r' || message[n - 1] == L'\n' || message[n - 1] == L'.')) --n;
    message[n] = L'\0';
    if (n == 0) std::snprintf(text, sizeof text, "error %lu", static_cast<unsigned long>(code));
    else std::snprintf(text, sizeof text, "%s", Narrow(message).c_str());
    return text;
}

const char* ReplaceOutputFile(const char* written, const char* file) {
    const std::wstring from = Wide(written), to = Wide(file);
    // ReplaceFile keeps the file's permissions and attributes; a new name is moved into place.
    const bool replaced =
        GetFileAttributesW(to.c_str()) != INVALID_FILE_ATTRIBUTES
            ? ReplaceFileW(to.c_str(), from.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)
            : MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING);
    return replaced ? nullptr : LastErrorText();
}

void RemoveOutputFile(const char* path) { DeleteFileW(Wide(path).c_str()); }

// A TZ rule's names, cut as on POSIX systems: a rule may name its zone at any length.
constexpr std::size_t kZoneNameColumns = 6;

void LocalZoneText(char* text, std::size_t size, std::int64_t utc, std::int32_t offset, bool summer) {
    // A rule in TZ (CET-1CEST) names its zones, as the C library gives them.
    if (std::getenv("TZ") != nullptr) {
        const std::time_t t = static_cast<std::time_t>(utc);
        const std::tm* local = std::localtime(&t);
        if (local == nullptr || std::strftime(text, size, "%Z", local) == 0) std::snprintf(text, size, "local");
        if (size > kZoneNameColumns) text[kZoneNameColumns] = '\0';
        return;
    }
    DYNAMIC_TIME_ZONE_INFORMATION zone{};
    const bool known = GetDynamicTimeZoneInformation(&zone) != TIME_ZONE_ID_INVALID;
    WindowsZoneText(text, size, known ? Narrow(zone.TimeZoneKeyName).c_str() : "", offset, summer);
}
