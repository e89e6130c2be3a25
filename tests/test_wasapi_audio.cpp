// The WASAPI sound output against stand-in endpoints (Windows build, run
// under Wine): which mode and format it opens at which rate, what it
// writes, how it reads the endpoint's clock and what it makes of faults.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/audio_transmit.h"
#include "audio_demodulator.h"
#include "platform/audio.h"
#include "wasapi_stand_in.h"

namespace {

wasapi::Endpoint Speakers() {
    wasapi::Endpoint e;
    e.id = L"{0.0.0.00000000}.{usb}";
    e.name = L"Speakers (USB Audio)";
    e.exclusiveRates = {192000, 96000, 48000, 44100};
    e.exclusiveFormats = {"16/1"};
    return e;
}

wasapi::Endpoint Hdmi() {
    wasapi::Endpoint e;
    e.id = L"{0.0.0.00000000}.{hdmi}";
    e.name = L"HDMI Speakers (Display)";
    e.mixChannels = 8;
    return e;
}

wasapi::Endpoint Fault(void (*change)(wasapi::Endpoint*)) {
    wasapi::Endpoint e = Speakers();
    change(&e);
    return e;
}

struct OpenCase {
    const char* what;
    wasapi::Endpoint device;
    const char* name;
    unsigned asked;
    unsigned opened;           // 0: refused
    const char* stream;        // as the endpoint was initialized; or the refusal's start
    const char* described = "";  // name|mode|note, as the start line is told
};

wasapi::Endpoint With(wasapi::Endpoint e, std::vector<unsigned> rates, std::vector<std::string> formats,
                      HRESULT events = S_OK, HRESULT timer = S_OK, unsigned mixRate = 48000) {
    e.exclusiveRates = rates;
    e.exclusiveFormats = formats;
    e.eventsRefusal = events;
    e.timerRefusal = timer;
    e.mixRate = mixRate;
    return e;
}

TEST(WasapiAudio, OpensExactRatesOnlyInTheBestModeOffered) {
    const OpenCase cases[] = {
        {"the best rate, event-driven exclusive", Speakers(), "usb", 0, 192000,
         "exclusive events 16/1 192000 flags 40000", "Speakers (USB Audio)|exclusive, event-driven|"},
        {"24-in-32 stereo only", With(Speakers(), {48000}, {"24/2"}), "default", 48000, 48000,
         "exclusive events 24/2 48000 flags 40000", "Speakers (USB Audio)|exclusive, event-driven|"},
        {"float on the mix's eight channels only", With(Hdmi(), {96000}, {"float/8"}), "hdmi", 0, 96000,
         "exclusive events float/8 96000 flags 40000", "HDMI Speakers (Display)|exclusive, event-driven|"},
        {"events refused, as by Wine: timer-driven", With(Speakers(), {96000}, {"16/1"}, AUDCLNT_E_DEVICE_IN_USE),
         "{0.0.0.00000000}.{usb}", 0, 96000, "exclusive timer 16/1 96000 flags 0",
         "Speakers (USB Audio)|exclusive, timer-driven|"},
        {"no exclusive mode: shared at the mix's rate", With(Hdmi(), {}, {}), "HDMI", 0, 48000,
         "shared float/8 48000 flags 0", "HDMI Speakers (Display)|shared at the mix rate|"},
        {"exclusive not allowed: shared at the mix's rate",
         With(Speakers(), {48000}, {"16/1"}, AUDCLNT_E_EXCLUSIVE_MODE_NOT_ALLOWED,
              AUDCLNT_E_EXCLUSIVE_MODE_NOT_ALLOWED, 48000),
         "usb", 48000, 48000, "shared float/2 48000 flags 0",
         "Speakers (USB Audio)|shared at the mix rate|usb (Speakers (USB Audio)) refused exclusive mode at 48000 Hz: "
         "exclusive mode is not allowed (see the device's properties) (0x8889000e); playing shared at the mix rate"},
        {"exclusive not allowed, no rate asked: shared at the mix's lower rate",
         With(Speakers(), {192000, 48000}, {"16/1"}, AUDCLNT_E_EXCLUSIVE_MODE_NOT_ALLOWED,
              AUDCLNT_E_EXCLUSIVE_MODE_NOT_ALLOWED, 48000),
         "usb", 0, 48000, "shared float/2 48000 flags 0",
         "Speakers (USB Audio)|shared at the mix rate|usb (Speakers (USB Audio)) refused exclusive mode at 192000 "
         "Hz: exclusive mode is not allowed (see the device's properties) (0x8889000e); playing shared at the mix "
         "rate, 48000 Hz"},
        {"a buffer the driver aligns to 128 frames: asked again",
         Fault([](wasapi::Endpoint* e) { e->alignFrames = 128; }), "usb", 48000, 48000,
         "exclusive events 16/1 48000 flags 40000", "Speakers (USB Audio)|exclusive, event-driven|"},
        {"the aligned size not told: timer-driven",
         Fault([](wasapi::Endpoint* e) { e->alignFrames = 128, e->alignedSizeRefusal = E_FAIL; }), "usb", 48000,
         48000, "exclusive timer 16/1 48000 flags 0", "Speakers (USB Audio)|exclusive, timer-driven|"},
        {"COM set up single-threaded by the host",
         Fault([](wasapi::Endpoint* e) { e->comAnswer = RPC_E_CHANGED_MODE; }), "usb", 0, 192000,
         "exclusive events 16/1 192000 flags 40000", "Speakers (USB Audio)|exclusive, event-driven|"},
        {"exclusive not allowed, the mix at another rate",
         With(Speakers(), {48000}, {"16/1"}, AUDCLNT_E_EXCLUSIVE_MODE_NOT_ALLOWED,
              AUDCLNT_E_EXCLUSIVE_MODE_NOT_ALLOWED, 44100),
         "usb", 48000, 0, "usb (Speakers (USB Audio)): cannot play exactly at 48000 Hz: "},
        {"a rate neither mode plays", With(Hdmi(), {}, {}), "hdmi", 96000, 0,
         "hdmi (HDMI Speakers (Display)): cannot play exactly at 96000 Hz (shared mode runs at 48000 Hz): "},
        {"no standard rate at all", With(Hdmi(), {}, {}, S_OK, S_OK, 88200), "hdmi", 0, 0,
         "hdmi (HDMI Speakers (Display)): plays none of 192000, 96000, 48000 and 44100 Hz exactly (shared mode "
         "runs at 88200 Hz): "},
        {"a rate outside the four", Speakers(), "usb", 22050, 0,
         "usb (Speakers (USB Audio)): cannot play exactly at 22050 Hz: "},
        {"a name no device has", Speakers(), "Line Out", 0, 0,
         "Line Out: no active playback device has this name or ID (see --audio list)"},
    };
    for (const OpenCase& c : cases) {
        SCOPED_TRACE(c.what);
        wasapi::Reset();
        wasapi::endpoints = {c.device};
        unsigned opened = 0;
        char problem[300] = "";
        EXPECT_EQ(OpenAudio(c.name, c.asked, &opened, problem, sizeof problem), c.opened != 0) << problem;
        EXPECT_FALSE(AudioNameAmbiguous());
        if (c.opened != 0) {
            EXPECT_EQ(opened, c.opened);
            EXPECT_EQ(wasapi::initialized, c.stream);
            EXPECT_EQ(wasapi::rawOptions, unsigned{AUDCLNT_STREAMOPTIONS_RAW});
            const OpenedAudio d = DescribeOpenedAudio();
            EXPECT_EQ(std::string(d.name) + "|" + d.mode + "|" + d.note, c.described);
            DrainAudio();
        } else {
            EXPECT_EQ(std::string(problem).substr(0, std::strlen(c.stream)), c.stream);
            EXPECT_EQ(wasapi::initialized, "");
        }
        EXPECT_EQ(wasapi::alive, 0) << "interfaces not released";
    }
}

TEST(WasapiAudio, ANameMatchingSeveralDevicesIsTheCommandLinesFault) {
    wasapi::Reset();
    wasapi::endpoints = {Speakers(), Hdmi()};
    unsigned opened = 0;
    char problem[300] = "";
    EXPECT_FALSE(OpenAudio("SPEAKERS", 0, &opened, problem, sizeof problem));
    EXPECT_TRUE(AudioNameAmbiguous());
    EXPECT_STREQ(problem,
                 "--audio SPEAKERS matches several playback devices: Speakers (USB Audio) {0.0.0.00000000}.{usb}, "
                 "HDMI Speakers (Display) {0.0.0.00000000}.{hdmi}");
    // Its ID names one alone; "default" the default one.
    EXPECT_TRUE(OpenAudio("{0.0.0.00000000}.{hdmi}", 0, &opened, problem, sizeof problem)) << problem;
    EXPECT_FALSE(AudioNameAmbiguous());
    EXPECT_EQ(wasapi::initialized, "shared float/8 48000 flags 0");
    DrainAudio();
    wasapi::defaultEndpoint = 1;
    EXPECT_TRUE(OpenAudio("default", 0, &opened, problem, sizeof problem)) << problem;
    EXPECT_EQ(wasapi::initialized, "shared float/8 48000 flags 0");
    DrainAudio();
    EXPECT_TRUE(OpenAudio("DEFAULT", 0, &opened, problem, sizeof problem)) << problem;  // in any case
    DrainAudio();
}

TEST(WasapiAudio, ListsEndpointsWithTheirExactRates) {
    wasapi::Reset();
    wasapi::endpoints = {With(Speakers(), {96000, 48000}, {"24/2"}, S_OK, S_OK, 44100), Hdmi()};
    char listing[1000] = "";
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(ListAudioDevices(out), 2);
    std::rewind(out);
    listing[std::fread(listing, 1, sizeof listing - 1, out)] = '\0';
    std::fclose(out);
    EXPECT_STREQ(listing,
                 "Speakers (USB Audio)  {0.0.0.00000000}.{usb}  96000 48000 44100 Hz; shared mode 44100 Hz\n"
                 "HDMI Speakers (Display)  {0.0.0.00000000}.{hdmi}  48000 Hz; shared mode 48000 Hz\n");
}

// The samples as the endpoint got them, back to 16-bit mono; every channel
// past the second must be silent.
std::vector<std::int16_t> Heard(bool* othersSilent) {
    std::vector<std::int16_t> mono;
    const std::size_t frame = wasapi::channels * wasapi::bytesPerSample;
    *othersSilent = true;
    for (std::size_t at = 0; at + frame <= wasapi::bytes.size(); at += frame) {
        std::int32_t first = 0;
        for (unsigned ch = 0; ch < wasapi::channels; ++ch) {
            const std::uint8_t* p = &wasapi::bytes[at + ch * wasapi::bytesPerSample];
            std::int32_t v = 0;
            if (wasapi::bytesPerSample == 2) {
                std::int16_t s;
                std::memcpy(&s, p, 2);
                v = s;
            } else if (wasapi::isFloat) {
                float f;
                std::memcpy(&f, p, 4);
                v = static_cast<std::int32_t>(std::lround(f * 32768.0f));
            } else {
                std::int32_t s;
                std::memcpy(&s, p, 4);
                v = s / 65536;
            }
            if (ch == 0) first = v;
            else if (ch == 1 && v != first) *othersSilent = false;  // both carry the tone
            else if (ch >= 2 && v != 0) *othersSilent = false;
        }
        mono.push_back(static_cast<std::int16_t>(first));
    }
    return mono;
}

TEST(WasapiAudio, WritesEverySampleAtTheSameLevelInTheEndpointsFormat) {
    const wasapi::Endpoint devices[] = {Speakers(), With(Speakers(), {48000}, {"24/2"}),
                                        With(Hdmi(), {48000}, {"float/8"}), With(Hdmi(), {}, {}),
                                        With(Speakers(), {48000}, {"16/1"}, AUDCLNT_E_DEVICE_IN_USE)};
    for (const wasapi::Endpoint& device : devices) {
        wasapi::Reset();
        wasapi::endpoints = {device};
        unsigned opened = 0;
        char problem[300] = "";
        ASSERT_TRUE(OpenAudio("default", 48000, &opened, problem, sizeof problem)) << problem;
        SCOPED_TRACE(wasapi::initialized);
        std::vector<std::int16_t> samples(30000);
        for (std::size_t i = 0; i < samples.size(); ++i)
            samples[i] = static_cast<std::int16_t>(i % 3 == 0 ? -32767 + i : 32767 - i);
        for (int round = 0; round < 3; ++round) ASSERT_EQ(WriteAudio(samples.data(), samples.size()), AUDIO_PLAYING);
        // Kept awake while a signal plays, and no longer after.
        EXPECT_EQ(wasapi::executionStates, std::vector<unsigned>{ES_CONTINUOUS | ES_SYSTEM_REQUIRED});
        DrainAudio();
        EXPECT_EQ(wasapi::executionStates, (std::vector<unsigned>{ES_CONTINUOUS | ES_SYSTEM_REQUIRED, ES_CONTINUOUS}));
        bool othersSilent = false;
        const std::vector<std::int16_t> heard = Heard(&othersSilent);
        EXPECT_TRUE(othersSilent);
        ASSERT_GE(heard.size(), 3 * samples.size());
        for (std::size_t i = 0; i < 3 * samples.size(); ++i) ASSERT_EQ(heard[i], samples[i % samples.size()]) << i;
        // Only silence after.
        for (std::size_t i = 3 * samples.size(); i < heard.size(); ++i) ASSERT_EQ(heard[i], 0) << i;
    }
}

struct ClockCase {
    const char* what;
    wasapi::Endpoint device;
    int restarts;              // AUDIO_RESTARTED seen
    bool gone;
    const char* problem;       // AudioProblem()'s start when gone
};

// Three seconds of 10 ms blocks, a report after each: the reports map the
// frames the endpoint plays onto the counter within a frame, whatever its
// rate, and each fault shows as the platform layer promises.
TEST(WasapiAudio, ReadsTheEndpointsOwnClockAndItsFaults) {
    const ClockCase cases[] = {
        {"200 ppm fast", Fault([](wasapi::Endpoint* e) { e->ppm = 200; }), 0, false, ""},
        {"position counted in frames, 300 ppm slow",
         Fault([](wasapi::Endpoint* e) { e->ppm = -300, e->unitsPerFrame = 1; }), 0, false, ""},
        {"inaccurate readings (S_FALSE) dropped", Fault([](wasapi::Endpoint* e) { e->inaccurateEvery = 2; }), 0,
         false, ""},
        {"held-up readings dropped", Fault([](wasapi::Endpoint* e) { e->lateEvery = 3; }), 0, false, ""},
        {"a stall of 100 ms", Fault([](wasapi::Endpoint* e) { e->stallAt = 1'500'000'000, e->stallFor = 100'000'000; }),
         1, false, ""},
        {"one reading 30 ms off: jitter, no stall", Fault([](wasapi::Endpoint* e) { e->oddReading = 150; }), 0, false,
         ""},
        {"Wine's position: 10 ms packets, held up 400 ms and caught up: no stall",
         Fault([](wasapi::Endpoint* e) { e->packet = 10'000'000, e->heldAt = 1'000'000'000, e->heldFor = 400'000'000; }),
         0, false, ""},
        {"a jump of 50 ms", Fault([](wasapi::Endpoint* e) { e->jumpAt = 1'500'000'000, e->jumpFrames = 9600; }), 1,
         false, ""},
        {"pulled out", Fault([](wasapi::Endpoint* e) { e->goneAt = 1'000'000'000; }), 0, true,
         "usb (Speakers (USB Audio)): "},
        {"no buffer event from 1 s", Fault([](wasapi::Endpoint* e) { e->silentAt = 1'000'000'000; }), 0, true,
         "usb (Speakers (USB Audio)): gave no buffer event for 2 s"},
    };
    for (const ClockCase& c : cases) {
        SCOPED_TRACE(c.what);
        wasapi::Reset();
        wasapi::endpoints = {c.device};
        unsigned opened = 0;
        char problem[300] = "";
        ASSERT_TRUE(OpenAudio("usb", 0, &opened, problem, sizeof problem)) << problem;
        ASSERT_EQ(opened, 192000u);
        const std::vector<std::int16_t> block(opened / 100, 1000);
        int restarts = 0, mapped = 0;
        bool gone = false;
        std::int64_t written = 0;
        while (!gone && wasapi::now - 1'000'000'000'000 < 3'000'000'000) {
            AudioOutcome outcome = WriteAudio(block.data(), block.size());
            written += static_cast<std::int64_t>(block.size());
            AudioReport report{};
            if (outcome == AUDIO_PLAYING) outcome = ReportAudio(&report);
            if (outcome == AUDIO_RESTARTED) {
                ++restarts;
                written = 0;
                continue;
            }
            if (outcome == AUDIO_GONE) {
                gone = true;
                break;
            }
            EXPECT_EQ(report.written, written);
            if (wasapi::startedAt < 0 || report.delay <= 0) continue;
            // The frame leaving at the report's instant, against the truth.
            const double played = static_cast<double>(report.written - report.delay);
            if (restarts == 0 && c.device.oddReading == 0 && c.device.packet == 0) {
                EXPECT_NEAR(played, wasapi::HeardAt(report.monotonic), 1.0) << "at " << report.monotonic;
            }
            ++mapped;
        }
        EXPECT_GT(mapped, 0);
        EXPECT_EQ(restarts, c.restarts);
        EXPECT_EQ(gone, c.gone);
        if (c.gone) {
            const std::string said = AudioProblem();
            EXPECT_EQ(said.substr(0, std::strlen(c.problem)), c.problem) << said;
            EXPECT_EQ(said.find("(0x88890004)") != std::string::npos, c.device.goneAt != 0) << said;
        }
        DrainAudio();
    }
}

// When frame `k` is heard on the virtual monotonic clock: the stand-in's
// own mapping, inverted.
std::int64_t HeardWhen(double k) {
    std::int64_t early = wasapi::startedAt, late = wasapi::now;
    while (late - early > 1) {
        const std::int64_t middle = early + (late - early) / 2;
        (wasapi::HeardAt(middle) < k ? early : late) = middle;
    }
    return late;
}

struct LoopCase {
    const char* what;
    wasapi::Endpoint device;
    int status;
    const char* said;  // standard error, or its start where Windows' message follows
};

// The shared sound loop through this file, two frames from 05:00:40.3 UTC
// on the virtual clock, the UTC clock a fixed offset from it: what the
// endpoint heard, demodulated and decoded on its own notion of when each
// frame is heard, keys every second within 1 ms of the UTC second from the
// first whole frame, with the carrier within 1 Hz from 30 s after the
// start; a device pulled out ends the run with status 1, named.
TEST(WasapiAudio, TheSoundLoopKeysUtcSecondsOnTheEndpointsClock) {
    constexpr std::int64_t kSecond = 1'000'000'000, kMs = 1'000'000;
    const std::int64_t startUtc = 1796706040 * kSecond + 300 * kMs;
    const LoopCase cases[] = {
        {"200 ppm fast, heard 30 ms after Start",
         Fault([](wasapi::Endpoint* e) { e->ppm = 200, e->latency = 30'000'000; }), 0, ""},
        {"pulled out after 25 s", Fault([](wasapi::Endpoint* e) { e->goneAt = 25'000'000'000; }), 1,
         "dcf77tx: the sound device usb went away: usb (Speakers (USB Audio)): "},
    };
    for (const LoopCase& c : cases) {
        SCOPED_TRACE(c.what);
        wasapi::Reset();
        wasapi::endpoints = {c.device};
        wasapi::utcMinusMonotonic = startUtc - wasapi::now;
        TransmitSettings settings{true, false, ZONE_UTC, STATION_DCF77};
        settings.minutes = 2;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const int status = TransmitAudio("usb", 0, settings, -1);
        const std::string said = testing::internal::GetCapturedStderr();
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(out.substr(0, out.find('\n')),
                  "Speakers (USB Audio) at 192000 Hz (exclusive, event-driven): 77500 Hz carrier");
        if (c.status != 0) {
            EXPECT_EQ(said.substr(0, std::strlen(c.said)), c.said) << said;
            EXPECT_NE(said.find("(0x88890004)\n"), std::string::npos) << said;
            EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
            std::printf("%s", said.c_str());
            continue;
        }
        EXPECT_EQ(said, c.said);
        ASSERT_EQ(wasapi::initialized, "exclusive events 16/1 192000 flags 40000");
        bool othersSilent = false;
        const std::vector<std::int16_t> heard = Heard(&othersSilent);
        const double period = 1e9 / 192000;  // ns a frame at the nominal rate
        auto utcOfFrame = [&](double k) { return HeardWhen(k) + wasapi::utcMinusMonotonic; };
        auto frameAtUtc = [&](std::int64_t utc) {
            return static_cast<std::size_t>(wasapi::HeardAt(utc - wasapi::utcMinusMonotonic));
        };

        // Edges on the UTC clock as the endpoint made them heard.
        const Demodulation d = Demodulate(heard.data(), heard.size(), 192000, 77500, 0);
        std::vector<Edge> edges;
        for (const Edge& e : d.edges) edges.push_back({utcOfFrame(static_cast<double>(e.time) / period), e.asserted});
        std::vector<DecodedMinute> whole;
        for (const DecodedMinute& m : DecodeMinutes(PulsesFromEdges(edges), true))
            if (m.valid) whole.push_back(m);
        ASSERT_EQ(whole.size(), 2u);
        // Keyed from 05:01 and 05:02 UTC: each carries the next minute.
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(whole[i].year * 10000 + whole[i].month * 100 + whole[i].day, 261208);
            EXPECT_EQ(whole[i].hour * 100 + whole[i].minute, 502 + i);
        }
        const std::int64_t firstWhole = (startUtc / (60 * kSecond) + 1) * 60 * kSecond;
        EXPECT_LT(std::llabs(whole[0].start - firstWhole), kMs);
        // Each second's first edge from the first whole frame on.
        std::vector<double> offsets;
        std::int64_t second = -1;
        for (const Edge& e : edges) {
            const std::int64_t nearest = (e.time + kSecond / 2) / kSecond;
            if (e.time < firstWhole - kSecond / 2 || nearest == second) continue;
            second = nearest;
            offsets.push_back(static_cast<double>(e.time - nearest * kSecond) / 1e6);
            EXPECT_LT(std::fabs(offsets.back()), 1.0) << "the second from " << nearest << " s UTC";
        }
        // 59 edges a frame, and the fall to silence as the run ends.
        EXPECT_EQ(offsets.size(), 2u * 59 + 1);
        EXPECT_TRUE(edges.back().asserted);
        EXPECT_EQ((edges.back().time + kSecond / 2) / kSecond, firstWhole / kSecond + 120);
        double mean = 0, worst = 0;
        for (double o : offsets) mean += o / static_cast<double>(offsets.size()), worst = std::max(worst, std::fabs(o));
        // The carrier from 30 s after the start to the last frame's second
        // 59, its frequency scaled from the nominal rate to the rate at
        // which the endpoint's frames are heard on the UTC clock.
        const std::size_t from = frameAtUtc(startUtc + 30 * kSecond);
        const std::size_t to = frameAtUtc(firstWhole + 119 * kSecond);
        ASSERT_LT(to, heard.size());
        const Demodulation tail = Demodulate(heard.data() + from, to - from, 192000, 77500, 0);
        const double heardRate = static_cast<double>(to - from) * 1e9 /
                                 static_cast<double>(utcOfFrame(static_cast<double>(to)) -
                                                     utcOfFrame(static_cast<double>(from)));
        const double carrierHz = tail.carrierHz * heardRate / 192000;
        EXPECT_NEAR(carrierHz, 77500, 1.0);
        std::printf("%zu edges from the first whole frame: mean %+.3f ms, the worst %.3f ms off the UTC second; "
                    "carrier %.3f Hz\n",
                    offsets.size(), mean, worst, carrierHz);
    }
}

}  // namespace
