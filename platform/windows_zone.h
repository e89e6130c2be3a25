// The name a status line gives the Windows system zone, whose own names
// ("W. Europe Standard Time") are long and the same in summer and winter.
#pragma once

#include <cstddef>
#include <cstdint>

// The usual abbreviation of the zone Windows keys as `keyName` (CET,
// CEST) where the zone is at the offset that abbreviation stands for,
// else the offset as UTC+1 or UTC-3:30; at most 9 columns. `offset` is in
// seconds east of UTC, `summer` whether summer time is in force.
void WindowsZoneText(char* text, std::size_t size, const char* keyName, std::int32_t offset, bool summer);
