#include "windows_zone.h"

#include <cstdio>
#include <cstring>

struct KnownZone {
    const char* keyName;     // the zone's key in the registry, the same in every language
    int standardMinutes;     // east of UTC in winter
    const char* standard;
    const char* summer;      // "": the zone keeps no summer time
};

static const KnownZone kKnownZones[] = {
    {"W. Europe Standard Time", 60, "CET", "CEST"},
    {"Central Europe Standard Time", 60, "CET", "CEST"},
    {"Central European Standard Time", 60, "CET", "CEST"},
    {"Romance Standard Time", 60, "CET", "CEST"},
    {"GMT Standard Time", 0, "GMT", "BST"},
    {"Greenwich Standard Time", 0, "GMT", ""},
    {"UTC", 0, "UTC", ""},
    {"GTB Standard Time", 120, "EET", "EEST"},
    {"FLE Standard Time", 120, "EET", "EEST"},
    {"E. Europe Standard Time", 120, "EET", "EEST"},
    {"Russian Standard Time", 180, "MSK", ""},
    {"Newfoundland Standard Time", -210, "NST", "NDT"},
    {"Atlantic Standard Time", -240, "AST", "ADT"},
    {"Eastern Standard Time", -300, "EST", "EDT"},
    {"Central Standard Time", -360, "CST", "CDT"},
    {"Mountain Standard Time", -420, "MST", "MDT"},
    {"US Mountain Standard Time", -420, "MST", ""},
    {"Pacific Standard Time", -480, "PST", "PDT"},
    {"Alaskan Standard Time", -540, "AKST", "AKDT"},
    {"Hawaiian Standard Time", -600, "HST", ""},
    {"Tokyo Standard Time", 540, "JST", ""},
    {"Korea Standard Time", 540, "KST", ""},
    {"AUS Eastern Standard Time", 600, "AEST", "AEDT"},
    {"New Zealand Standard Time", 720, "NZST", "NZDT"},
};

void WindowsZoneText(char* text, std::size_t size, const char* keyName, std::int32_t offset, bool summer) {
    for (const KnownZone& z : kKnownZones) {
        if (std::strcmp(z.keyName, keyName) != 0) continue;
        // A zone whose rules have moved away from its name's is shown by its offset.
        const char* name = summer ? z.summer : z.standard;
        if (*name != '\0' && offset == (z.standardMinutes + (summer ? 60 : 0)) * 60) {
            std::snprintf(text, size, "%s", name);
            return;
        }
    }
    const std::int32_t east = offset < 0 ? -offset : offset;
    const int hours = east / 3600, minutes = east / 60 % 60;
    if (minutes != 0) std::snprintf(text, size, "UTC%c%d:%02d", offset < 0 ? '-' : '+', hours, minutes);
    else std::snprintf(text, size, "UTC%c%d", offset < 0 ? '-' : '+', hours);
}
