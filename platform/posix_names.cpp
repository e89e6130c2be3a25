// Names on POSIX systems: files written through symbolic links and
// devices, and the local zone's name as the C library gives it.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform.h"

// The terminal shows what the locale says; the program only passes bytes on.
void UseUtf8Console() {}

// As the kernel does, at most this many links in a row.
constexpr int kMostLinks = 40;

void FindOutputPath(const char* path, OutputPath* out) {
    std::string at = path;
    struct stat status{};
    for (int links = 0; links < kMostLinks && lstat(at.c_str(), &status) == 0 && S_ISLNK(status.st_mode); ++links) {
        char target[sizeof out->file];
        const ssize_t n = readlink(at.c_str(), target, sizeof target - 1);
        if (n <= 0) break;
        target[n] = '\0';
        // A relative target counts from the link's own directory.
        const std::size_t slash = at.rfind('/');
        at = target[0] == '/' || slash == std::string::npos ? std::string(target) : at.substr(0, slash + 1) + target;
    }
    // A link to nothing yet names the file to create.
    const bool exists = stat(at.c_str(), &status) == 0;
    out->device = exists && !S_ISREG(status.st_mode);
    std::snprintf(out->file, sizeof out->file, "%s", out->device ? path : at.c_str());
}

std::FILE* OpenOutputFile(const char* path) { return std::fopen(path, "wb"); }

const char* ReplaceOutputFile(const char* written, const char* file) {
    struct stat before{};
    if (stat(file, &before) == 0) {
        // The owner and group it had, as far as this user may give them
        // (only root gives a file away); its permissions in any case.
        const bool owned = chown(written, before.st_uid, before.st_gid) == 0 ||
                           chown(written, static_cast<uid_t>(-1), before.st_gid) == 0;
        static_cast<void>(owned);
        if (chmod(written, before.st_mode & 07777) != 0) return std::strerror(errno);
    }
    return std::rename(written, file) == 0 ? nullptr : std::strerror(errno);
}

void RemoveOutputFile(const char* path) { std::remove(path); }

// The zone data's own names run to six letters (POSIX's minimum for TZ
// names); a TZ rule may name its zone at any length, and a status line
// keeps to 100 columns.
constexpr std::size_t kZoneNameColumns = 6;

void LocalZoneText(char* text, std::size_t size, std::int64_t utc, std::int32_t, bool) {
    const std::time_t t = static_cast<std::time_t>(utc);
    const std::tm* local = std::localtime(&t);
    if (local == nullptr || std::strftime(text, size, "%Z", local) == 0) std::snprintf(text, size, "local");
    if (size > kZoneNameColumns) text[kZoneNameColumns] = '\0';
}
