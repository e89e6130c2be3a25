// The whole program on the simulated sound device: what it plays, heard by
// an independent demodulator and decoder, against the machine's UTC clock.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "audio_demodulator.h"
#include "program_run.h"
#include "station_decoder.h"

struct AudioEndsCase {
    const char* arguments;
    const char* conf;
    int status;
    std::string out, err;
};

TEST(AudioProgram, SoundDeviceRefusedOrGone) {
    const AudioEndsCase cases[] = {
        {"--audio list", "", 0, "sim 48000\n", ""},
        // The device's own words, and no serial output at all.
        {"--audio sim --rate 96000", "", 1, "", "dcf77tx: cannot play on sim at 96000 Hz: Invalid argument\n"},
        {"-a sim -s wwvb", "audio_gone_after_ms 1500\n", 1,
         "sim at 48000 Hz: 20000 Hz, the third subharmonic of 60000 Hz\n",
         "dcf77tx: the sound device sim went away: No such device\n"},
        // A name for several devices is the command line's fault.
        {"--audio sim", "audio_open_fails 2\n", 2, "",
         "dcf77tx: --audio sim matches several playback devices: sim 1, sim 2\nTry 'dcf77tx --help'.\n"},
        {"--audio sim --port 2", "", 2, "",
         "dcf77tx: --audio and the serial port (--port, --device) exclude each other\nTry 'dcf77tx --help'.\n"},
    };
    for (const AudioEndsCase& c : cases) {
        RunSettings settings{"", 1260534896000, 10};
        settings.arguments = c.arguments;
        settings.simConf = c.conf;
        const ProgramRun run = RunProgram(settings);
        EXPECT_EQ(run.status, c.status) << c.arguments;
        EXPECT_EQ(run.out, c.out) << c.arguments;
        EXPECT_EQ(run.err, c.err) << c.arguments;
        EXPECT_TRUE(run.changes.empty()) << c.arguments;
    }
}

// One run of the simulated stream as the device recorded it.
struct Played {
    std::int64_t start;  // monotonic ns at which its frame 0 left the buffer
    double period;       // ns a frame, by the monotonic clock
    std::vector<std::int16_t> samples;
};

static std::vector<Played> ReadPlayed() {
    std::vector<Played> played;
    std::ifstream segments(RunDirectory() + "/dcf_record.audio.segments");
    std::ifstream samples(RunDirectory() + "/dcf_record.audio", std::ios::binary);
    long long start = 0;
    double period = 0;
    std::size_t count = 0;
    while (segments >> start >> period >> count) {
        Played p{start, period, std::vector<std::int16_t>(count)};
        samples.read(reinterpret_cast<char*>(p.samples.data()), static_cast<std::streamsize>(count * 2));
        played.push_back(std::move(p));
    }
    return played;
}

TEST(AudioProgram, EdgesOnTheUtcSecondThroughLatencyDriftStepAndUnderrun) {
    // Friday 11 December 2009, 12:34:56.5 UTC. The card runs 200 ppm fast,
    // plays 3 ms after its buffer, reports in 0.25 ms steps with ±50 us of
    // jitter; the UTC clock steps +2.5 s inside the 12:36 frame, and a
    // 300 ms hold-up runs the buffer dry inside the 12:38 frame.
    const std::int64_t startUtcMs = 1260534896500, latencyUs = 3000, stepAfterMs = 95'300, stepMs = 2'500;
    RunSettings settings{"", startUtcMs, 400};
    settings.arguments = "--audio sim --verbose";
    settings.utcStepAfterMs = stepAfterMs;
    settings.utcStepMs = stepMs;
    settings.simConf = "audio_rate 48000\naudio_ppm 200\naudio_latency_us " + std::to_string(latencyUs) +
                       "\naudio_granule 12\naudio_jitter_us 50\naudio_stall_after_ms 215200\naudio_stall_ms 300\n";
    const ProgramRun run = RunProgram(settings);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.substr(0, run.out.find('\n')), "sim at 48000 Hz: 15500 Hz, the fifth subharmonic of 77500 Hz (audible)");
    // Each interruption said once.
    EXPECT_EQ(run.err,
              "dcf77tx: the UTC clock stepped: the frame in progress ends; whole frames again from the next minute\n"
              "dcf77tx: the sound output ran dry (an underrun or a suspend) and restarted: the frame in progress "
              "ends; whole frames again from the next minute\n");

    // The edges as played, on the machine's UTC clock of their instant.
    const std::vector<Played> played = ReadPlayed();
    ASSERT_EQ(played.size(), 2u);
    const std::int64_t utcAtZero = startUtcMs * kMs - kSimStart, stepAt = kSimStart + stepAfterMs * kMs;
    std::vector<Edge> edges;
    std::vector<DecodedMinute> whole;
    for (const Played& p : played) {
        const Demodulation d = Demodulate(p.samples.data(), p.samples.size(), 1e9 / p.period, 15500, 0);
        std::vector<Edge> stream;
        for (const Edge& e : d.edges) {
            const std::int64_t monotonic = p.start + latencyUs * 1000 + e.time;
            stream.push_back({monotonic + utcAtZero + (monotonic >= stepAt ? stepMs * kMs : 0), e.asserted});
        }
        // Each stream begins with the full carrier until its first frame.
        for (const DecodedMinute& m : DecodeMinutes(PulsesFromEdges(stream), true))
            if (m.valid) whole.push_back(m);
        edges.insert(edges.end(), stream.begin(), stream.end());
    }
    // 12:35 and 12:37 before the hold-up, 12:39 and 12:40 after; the 12:36
    // and 12:38 frames are cut.
    ASSERT_EQ(whole.size(), 4u);
    const int expectedMinutes[] = {35, 37, 39, 40};
    for (std::size_t i = 0; i < whole.size(); ++i) {
        const std::int64_t minuteStart = (whole[i].start + kSecond / 2) / kSecond * kSecond;
        EXPECT_EQ(Utc(minuteStart).tm_min, expectedMinutes[i]);
        DecodedMinute m = whole[i];
        m.start = minuteStart;
        ExpectFramesFollowTheClock({m});
        // Every edge of the frame within 1 ms of its instant: reductions on
        // the second, their ends 100 or 200 ms after.
        for (const Edge& e : edges) {
            if (e.time < minuteStart - kSecond / 2 || e.time > minuteStart + 60 * kSecond) continue;
            const std::int64_t grid = e.asserted ? kSecond : 100 * kMs;
            const std::int64_t off = (e.time % grid + grid + grid / 2) % grid - grid / 2;
            EXPECT_LT(std::llabs(off), 1 * kMs) << "edge at " << e.time << " ns is " << off << " ns off";
        }
    }

    // The carrier as played, 30 s after the restart (the fit's settling
    // time) to the end: its fifth harmonic within 1 Hz of 77.5 kHz.
    const Played& last = played.back();
    const std::size_t settled = static_cast<std::size_t>(30 * 1e9 / last.period);
    ASSERT_GT(last.samples.size(), settled + 48000 * 60);
    const Demodulation d = Demodulate(last.samples.data() + settled, last.samples.size() - settled, 1e9 / last.period,
                                      15500, 0);
    EXPECT_NEAR(5 * d.carrierHz, 77500, 1.0);
    EXPECT_LT(d.maxPhaseJumpRad, 0.05);
}

TEST(AudioProgram, WavFileStartsAtSecond59AndHoldsTenFrames) {
    // Wednesday 28 February 2024, 15:14:30 UTC: 00:14:30 JST, before a
    // call-sign minute.
    RunSettings settings{"", 1709133270000, 10};
    settings.arguments = "--wav out.wav --rate 48000 -s jjy";
    const ProgramRun run = RunProgram(settings);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "out.wav at 48000 Hz: 13333.3 Hz, the third subharmonic of 40000 Hz (audible)\n"
              "Starts at 2024-02-28 15:14:59 UTC: play it from that second; 10 whole frames follow.\n");
    std::ifstream file(RunDirectory() + "/out.wav", std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const std::size_t count = 48000 * 601;
    ASSERT_EQ(bytes.size(), 44 + 2 * count);
    auto field = [&](std::size_t at) {
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
        return v;
    };
    EXPECT_EQ(std::string(bytes.data(), 4) + std::string(bytes.data() + 8, 8), "RIFFWAVEfmt ");
    EXPECT_EQ(field(20), 0x00010001u);  // PCM, mono
    EXPECT_EQ(field(24), 48000u);
    EXPECT_EQ(field(34) & 0xffff, 16u);
    EXPECT_EQ(field(40), 2 * count);
    std::vector<std::int16_t> samples(count);
    for (std::size_t k = 0; k < count; ++k)
        samples[k] = static_cast<std::int16_t>(static_cast<unsigned char>(bytes[44 + 2 * k]) |
                                               static_cast<unsigned char>(bytes[45 + 2 * k]) << 8);
    // Sample 48000 k is second k of the file, which starts at 15:14:59.
    const std::int64_t start = 1709133299 * kSecond;
    const Demodulation d = Demodulate(samples.data(), count, 48000, 40000.0 / 3, start);
    EXPECT_NEAR(d.carrierHz, 40000.0 / 3, 0.01);
    // Played from silence, as a receiver hears it.
    std::vector<Edge> edges{{start - kMs, true}, {start, false}};
    edges.insert(edges.end(), d.edges.begin(), d.edges.end());
    const std::map<std::int64_t, char> seconds = ReadSeconds("jjy", edges);
    const std::vector<StationFrame> frames = DecodeStationFrames("jjy", seconds, edges);
    // A JJY second is read up to the next reduction: the last frame's
    // marker at 59 has none after it, so nine frames decode whole and the
    // tenth up to its second 58.
    ASSERT_EQ(frames.size(), 9u);
    EXPECT_EQ(seconds.rbegin()->first, 1709133300 + 10 * 60 - 2);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].error, "") << i;
        EXPECT_EQ(frames[i].start, 1709133300 + 60 * static_cast<std::int64_t>(i)) << i;
        EXPECT_EQ(frames[i].minute, 15 + static_cast<int>(i)) << i;
        EXPECT_EQ(frames[i].callSign, i == 0) << i;
    }
}

TEST(AudioProgram, ChosenTimeAndRunLimit) {
    // 12:34:56.5 UTC; the first whole frame carries 2024-12-31 23:59 UTC.
    const std::int64_t startUtcMs = 1260534896500;
    RunSettings settings{"", startUtcMs, 300};
    settings.arguments = "--audio sim -s wwvb --time \"2024-12-31 23:59\" --minutes 2";
    settings.simConf = "audio_ppm -150\naudio_latency_us 2000\n";
    const ProgramRun run = RunProgram(settings);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<Played> played = ReadPlayed();
    ASSERT_EQ(played.size(), 1u);
    const Played& p = played[0];
    const std::int64_t utcAtZero = startUtcMs * kMs - kSimStart;
    const Demodulation d = Demodulate(p.samples.data(), p.samples.size(), 1e9 / p.period, 20000, 0);
    std::vector<Edge> edges;
    for (const Edge& e : d.edges) edges.push_back({p.start + 2'000'000 + e.time + utcAtZero, e.asserted});
    const std::vector<StationFrame> frames = DecodeStationFrames("wwvb", ReadSeconds("wwvb", edges), edges);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].start, 1260534900);  // 12:35 UTC, the first minute after the start
    EXPECT_EQ(frames[0].year * 1000 + frames[0].dayOfYear, 24366);
    EXPECT_EQ(frames[0].hour * 100 + frames[0].minute, 2359);
    EXPECT_EQ(frames[1].year * 1000 + frames[1].dayOfYear, 25001);
    EXPECT_EQ(frames[1].hour * 100 + frames[1].minute, 0);
    // Played out to the end of the second frame, then silence.
    const double end = static_cast<double>(p.start + utcAtZero) + p.period * static_cast<double>(p.samples.size());
    EXPECT_GT(end, 1260535020.0 * kSecond);
    EXPECT_LT(end, 1260535020.5 * kSecond);
    for (std::size_t k = p.samples.size() - 48; k < p.samples.size(); ++k) ASSERT_EQ(p.samples[k], 0) << k;
}
