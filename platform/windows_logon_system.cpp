// The logon launcher's Win32 side: the program runs hidden, in a job that
// ends it when the launcher ends, its output through a pipe into the log.
#include <windows.h>

#include <vector>

#include "logon_system.h"

static std::wstring Widen(std::string_view text, UINT codePage = CP_UTF8) {
    const int length = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

static std::string Narrow(std::wstring_view wide) {
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), length, nullptr, nullptr);
    return text;
}

static std::string SystemWords(DWORD error) {
    wchar_t* words = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   error, 0, reinterpret_cast<wchar_t*>(&words), 0, nullptr);
    std::wstring text = words ? words : L"error " + std::to_wstring(error);
    LocalFree(words);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) text.pop_back();
    return Narrow(text);
}

std::string LogonFolder() {
    wchar_t folder[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"ProgramData", folder, MAX_PATH);
    return (length > 0 && length < MAX_PATH ? Narrow(folder) : std::string("C:\\ProgramData")) + "\\dcf77tx";
}

std::string PathBesideThisProgram(const char* name) {
    std::vector<wchar_t> path(32768);
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    std::wstring own(path.data(), length);
    return Narrow(own.substr(0, own.rfind(L'\\') + 1)) + name;
}

bool ReadTextFile(const std::string& path, std::string* text, std::string* error) {
    HANDLE file = CreateFileW(Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = SystemWords(GetLastError());
        return false;
    }
    std::string bytes;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
    CloseHandle(file);
    if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) {
        *text = bytes.substr(3);
    } else if (bytes.rfind("\xFF\xFE", 0) == 0) {
        *text = Narrow(std::wstring_view(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2));
    } else if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()), nullptr,
                                   0) > 0 || bytes.empty()) {
        *text = bytes;
    } else {
        *text = Narrow(Widen(bytes, CP_ACP));
    }
    return true;
}

void AppendToLog(const std::string& log, std::string_view text, std::int64_t limit) {
    const std::wstring path = Widen(log);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        const std::int64_t size = (static_cast<std::int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        if (size > 0 && size + static_cast<std::int64_t>(text.size()) > limit)
            MoveFileExW(path.c_str(), (path + L".old").c_str(), MOVEFILE_REPLACE_EXISTING);
    }
    // Opened for each write, so that the log can be moved and read between.
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

// Ends the program with the launcher (the task's end, a logoff): closing
// the launcher's last handle to the job ends the processes in it.
static HANDLE JobEndingWithUs() {
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job) SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    return job;
}

std::int64_t RunIntoLog(const std::string& commandLine, const std::string& log, std::int64_t limit,
                        std::string* error) {
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    HANDLE pipeOut = nullptr, pipeIn = nullptr;
    if (!CreatePipe(&pipeOut, &pipeIn, &inherited, 0)) {
        *error = "cannot make a pipe: " + SystemWords(GetLastError());
        return -1;
    }
    SetHandleInformation(pipeOut, HANDLE_FLAG_INHERIT, 0);
    HANDLE nothing = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    STARTUPINFOW start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdInput = nothing;
    start.hStdOutput = pipeIn;
    start.hStdError = pipeIn;
    PROCESS_INFORMATION process{};
    std::wstring line = Widen(commandLine);
    const BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW | CREATE_SUSPENDED,
                                        nullptr, nullptr, &start, &process);
    if (!started) *error = SystemWords(GetLastError());
    CloseHandle(pipeIn);
    if (nothing != INVALID_HANDLE_VALUE) CloseHandle(nothing);
    if (!started) {
        CloseHandle(pipeOut);
        return -1;
    }
    HANDLE job = JobEndingWithUs();
    if (job) AssignProcessToJobObject(job, process.hProcess);
    ResumeThread(process.hThread);
    CloseHandle(process.hThread);
    // Whole lines go into the log, so that it is moved aside between lines.
    std::string pending;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(pipeOut, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        pending.append(buffer, got);
        const std::size_t end = pending.rfind('\n');
        if (end == std::string::npos) continue;
        AppendToLog(log, std::string_view(pending).substr(0, end + 1), limit);
        pending.erase(0, end + 1);
    }
    if (!pending.empty()) AppendToLog(log, pending + "\r\n", limit);
    CloseHandle(pipeOut);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hProcess);
    if (job) CloseHandle(job);
    return status;
}

std::string LocalTimeText() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    char text[32];
    snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
             t.wSecond);
    return text;
}

std::int64_t SecondsSinceBoot() { return static_cast<std::int64_t>(GetTickCount64() / 1000); }

void SleepSeconds(int seconds) { Sleep(static_cast<DWORD>(seconds) * 1000); }
