// The ALSA sound output against the library's own software devices: the
// null device, a plug device whose slave runs at 48 kHz only, and a file
// device that keeps what was played. No sound card is needed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "audio/playback_check.h"
#include "platform/audio.h"

namespace {

const std::filesystem::path kWork = std::filesystem::temp_directory_path() / "dcf77tx-alsa-test";

// Points the library at a configuration of the test devices alone; called
// before the process's first ALSA call. The system's own (alsa.conf and
// what it pulls in: /etc/alsa/conf.d, ~/.asoundrc) is left out: its hooks
// load plug-ins such as PulseAudio's, which an emulated arm64 build cannot
// load from an amd64 system.
void UseTestDevices() {
    std::filesystem::create_directories(kWork);
    std::ofstream(kWork / "asound.conf")
        << "defaults.namehint.showall on\n"
           "pcm.null { type null }\n"
           "pcm.only48 { type plug; slave { pcm \"null\"; rate 48000 } }\n"
           "pcm.kept { type file; slave.pcm \"null\"; file \""
        << (kWork / "kept.raw").string() << "\"; format raw }\n";
    setenv("ALSA_CONFIG_PATH", (kWork / "asound.conf").c_str(), 1);
}

struct OpenCase {
    const char* device;
    unsigned asked;
    unsigned opened;       // 0: refused
    const char* problem;   // the refusal's text, in part
};

TEST(AlsaAudio, OpensAtExactRatesOnly) {
    UseTestDevices();
    const OpenCase cases[] = {
        // Any rate: the best standard one.
        {"null", 0, 192000, ""},
        {"null", 44100, 44100, ""},
        // A plug device would resample 192 kHz down to its slave's 48 kHz.
        {"only48", 0, 48000, ""},
        {"only48", 192000, 0, "only48: cannot play exactly at 192000 Hz: Invalid argument"},
        {"only48", 44100, 0, "only48: cannot play exactly at 44100 Hz: Invalid argument"},
        {"hw:CARD=NoSuchCard", 48000, 0, "hw:CARD=NoSuchCard: cannot open for playback: "},
    };
    for (const OpenCase& c : cases) {
        SCOPED_TRACE(std::string(c.device) + " at " + std::to_string(c.asked));
        unsigned opened = 0;
        char problem[200] = "";
        // The refusal is the program's one line: the library prints nothing.
        testing::internal::CaptureStderr();
        EXPECT_EQ(OpenAudio(c.device, c.asked, &opened, problem, sizeof problem), c.opened != 0) << problem;
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        if (c.opened != 0) {
            EXPECT_EQ(opened, c.opened);
            DrainAudio();
        } else {
            EXPECT_NE(std::string(problem).find(c.problem), std::string::npos) << problem;
        }
    }
}

// Every sample reaches the device, in order, over writes larger than the
// buffer; the reports count them and stamp them on the monotonic clock.
TEST(AlsaAudio, PlaysEverySampleAndCountsThem) {
    UseTestDevices();
    std::filesystem::remove(kWork / "kept.raw");
    ASSERT_TRUE(AudioAvailable());
    unsigned opened = 0;
    char problem[200] = "";
    ASSERT_TRUE(OpenAudio("kept", 48000, &opened, problem, sizeof problem)) << problem;
    // Named as opened; ALSA plays one way only.
    const OpenedAudio named = DescribeOpenedAudio();
    EXPECT_EQ(std::string(named.name) + "|" + named.mode + "|" + named.note, "kept||");
    std::vector<std::int16_t> samples(30000);
    for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<std::int16_t>(i * 7);
    timespec before{};
    clock_gettime(CLOCK_MONOTONIC, &before);
    AudioReport report{};
    for (int round = 1; round <= 3; ++round) {
        ASSERT_EQ(WriteAudio(samples.data(), samples.size()), AUDIO_PLAYING);
        ASSERT_EQ(ReportAudio(&report), AUDIO_PLAYING);
        EXPECT_EQ(report.written, round * 30000);
    }
    EXPECT_GE(report.monotonic, before.tv_sec * 1'000'000'000LL + before.tv_nsec);
    EXPECT_GE(report.delay, 0);
    DrainAudio();

    std::ifstream kept(kWork / "kept.raw", std::ios::binary);
    std::vector<std::int16_t> played(3 * samples.size() + 1);
    kept.read(reinterpret_cast<char*>(played.data()), static_cast<std::streamsize>(played.size() * 2));
    ASSERT_EQ(kept.gcount(), static_cast<std::streamsize>(3 * samples.size() * 2));
    for (std::size_t i = 0; i < 3 * samples.size(); ++i)
        ASSERT_EQ(played[i], samples[i % samples.size()]) << "sample " << i;
}

static double ProcessorSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

// The null device and a file device on it take any amount of sound at once
// and report a delay of 0: written as the sound loop writes (paced, 10 ms
// blocks), they are found out after 2 s, asleep all the while.
TEST(AlsaAudio, NullAndFileDevicesReportNoPlaybackTiming) {
    UseTestDevices();
    for (const char* device : {"null", "kept"}) {
        SCOPED_TRACE(device);
        unsigned opened = 0;
        char problem[200] = "";
        ASSERT_TRUE(OpenAudio(device, 48000, &opened, problem, sizeof problem)) << problem;
        static PlaybackCheck check;
        StartPlaybackCheck(&check, opened);
        std::vector<std::int16_t> block(opened / 100, 1000);
        timespec start{};
        clock_gettime(CLOCK_MONOTONIC, &start);
        const double processor = ProcessorSeconds();
        std::int64_t written = 0, now = 0;
        PlaybackTiming verdict = TIMING_UNKNOWN;
        while (verdict == TIMING_UNKNOWN && now - (start.tv_sec * 1'000'000'000LL + start.tv_nsec) < 10'000'000'000) {
            AudioReport report{};
            ASSERT_EQ(ReportAudio(&report), AUDIO_PLAYING);
            EXPECT_EQ(report.delay, 0);
            verdict = CheckPlayback(&check, report);
            timespec t{};
            clock_gettime(CLOCK_MONOTONIC, &t);
            now = t.tv_sec * 1'000'000'000LL + t.tv_nsec;
            const std::int64_t allowed = WriteAllowedAt(check, written);
            if (allowed > now) {
                const timespec until{static_cast<time_t>(allowed / 1'000'000'000), static_cast<long>(allowed % 1'000'000'000)};
                clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr);
            }
            ASSERT_EQ(WriteAudio(block.data(), block.size()), AUDIO_PLAYING);
            written += static_cast<std::int64_t>(block.size());
        }
        DrainAudio();
        EXPECT_EQ(verdict, TIMING_NONE);
        EXPECT_STREQ(check.why, "its delay stays 0");
        // About 3 s of sound (2 s and the 1 s allowed ahead), not
        // hundreds, in a fraction of the processor's time.
        EXPECT_LT(written, 4 * 48000);
        EXPECT_LT(ProcessorSeconds() - processor, 0.5);
    }
}

TEST(AlsaAudio, ListsDevicesWithTheirExactRates) {
    UseTestDevices();
    const std::filesystem::path listing = kWork / "list.txt";
    std::FILE* out = std::fopen(listing.c_str(), "w");
    ASSERT_NE(out, nullptr);
    const int count = ListAudioDevices(out);
    std::fclose(out);
    std::ifstream in(listing);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    // The count is of the devices that can play: those with rates.
    const auto playable = std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
        return line.size() > 3 && line.compare(line.size() - 3, 3, " Hz") == 0;
    });
    EXPECT_EQ(count, static_cast<int>(playable));
    EXPECT_NE(std::find(lines.begin(), lines.end(), "only48  48000 Hz"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "kept  192000 96000 48000 44100 Hz"), lines.end());
}

}  // namespace
