#include "ntp_schedule.h"

#include <algorithm>

void StartNtpAsking(NtpAsking* a, std::int64_t now) {
    *a = NtpAsking{};
    a->due = a->burstStart = now;
    a->burstSize = kNtpStartRequests;
    a->interval = kNtpBurstInterval;
}

static void NextBurst(NtpAsking* a, std::int64_t start, int size) {
    a->burstStart = a->due = start;
    a->burstSize = size;
    a->asked = a->good = 0;
}

NtpNews NoteNtpOutcome(NtpAsking* a, NtpOutcome outcome, const NtpSample& sample, std::int64_t now) {
    NtpNews news{false, false};
    const bool starting = a->burstSize == kNtpStartRequests;
    ++a->asked;
    if (outcome == NTP_KISS_STOP) {
        a->stopped = true;
        news.say = true;
        return news;
    }
    if (outcome == NTP_SAMPLE) {
        if (a->good == 0 || sample.delay < a->best.delay) a->best = sample;
        ++a->good;
        a->faultSaid = false;
    }
    bool over = a->asked >= a->burstSize || (starting && a->good >= kNtpStartEnough);
    if (outcome == NTP_KISS_RATE) {
        a->interval = std::min(2 * a->interval, kNtpLongestInterval);
        news.say = !a->rateSaid;
        a->rateSaid = true;
        over = true;
    }
    if (!over) {
        a->due = now + (starting ? kNtpStartSpacing : kNtpBurstSpacing);
        return news;
    }
    if (a->good > 0) {
        a->hasWinner = news.winner = true;
        a->winner = a->best;
        a->backOff = 0;
        NextBurst(a, std::max(a->burstStart + a->interval, now + kNtpBurstSpacing), kNtpBurstRequests);
    } else if (outcome == NTP_KISS_RATE) {
        NextBurst(a, now + a->interval, 1);
    } else {
        news.say = !a->faultSaid;
        a->faultSaid = true;
        a->backOff = a->backOff == 0 ? kNtpFirstBackOff : std::min(2 * a->backOff, kNtpLongestBackOff);
        NextBurst(a, now + a->backOff, 1);
    }
    return news;
}

bool CombineNtpWinners(const NtpAsking* servers, int count, std::int64_t nowRaw, NtpSample* combined) {
    NtpSample fresh[kNtpMaxServers];
    int n = 0;
    std::int64_t newest = 0;
    for (int i = 0; i < count && i < kNtpMaxServers; ++i) {
        if (!servers[i].hasWinner || nowRaw - servers[i].winner.raw > kNtpFreshNanoseconds) continue;
        fresh[n++] = servers[i].winner;
        newest = n == 1 ? servers[i].winner.raw : std::max(newest, servers[i].winner.raw);
    }
    if (n == 0) return false;
    // In order of NTP time minus raw (a handful: insertion).
    for (int i = 1; i < n; ++i)
        for (int k = i; k > 0 && fresh[k].ntp - fresh[k].raw < fresh[k - 1].ntp - fresh[k - 1].raw; --k)
            std::swap(fresh[k], fresh[k - 1]);
    const NtpSample& low = fresh[(n - 1) / 2];
    const NtpSample& high = fresh[n / 2];
    *combined = NtpSample{newest, newest + ((low.ntp - low.raw) + (high.ntp - high.raw)) / 2,
                          (low.systemOffset + high.systemOffset) / 2, std::max(low.delay, high.delay),
                          std::min(low.stratum, high.stratum)};
    return true;
}
