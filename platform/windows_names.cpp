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
    // Opened as the program would write it, without changing it: NUL, CON
    // and a pipe are no files on a disk, whatever their names.
    const HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    out->device = h != INVALID_HANDLE_VALUE && GetFileType(h) != FILE_TYPE_DISK;
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    std::snprintf(out->file, sizeof out->file, "%s", path);
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

// TZ names the C library's names itself.
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
