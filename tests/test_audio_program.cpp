// The whole program on the simulated sound device: what it plays, heard by
// an independent demodulator and decoder, against the machine's UTC clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "audio_demodulator.h"
#include "program_run.h"
#include "station_decoder.h"

const std::string kDcf77At48k = "sim at 48000 Hz: 15500 Hz, the fifth subharmonic of 77500 Hz (audible)\n";

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
        {"--audio sim --rate 96000", "", 1, "",
         "dcf77tx: cannot play on sim at 96000 Hz: Invalid argument\n"
         "Try 'dcf77tx --audio list', or --wav FILE, --dry-run, or a serial port (--device PATH).\n"},
        // No device that plays: a script sees status 1, and what else to do.
        {"--audio list", "audio_open_fails 1\n", 1, "sim  (cannot open: No such file or directory)\n",
         "dcf77tx: no sound device can play here\nTry --wav FILE, --dry-run, or a serial port (--device PATH).\n"},
        {"-a sim -s wwvb", "audio_gone_after_ms 1500\n", 1,
         "sim at 48000 Hz: 20000 Hz, the third subharmonic of 60000 Hz\n",
         "dcf77tx: the sound device sim went away: No such device\n"},
        // The device's own name and mode on the start line, why it plays
        // in a lesser mode said once.
        {"-a SIM -s wwvb", "audio_gone_after_ms 1500\naudio_named 1\n", 1,
         "Sim Output at 48000 Hz (shared at the mix rate): 20000 Hz, the third subharmonic of 60000 Hz\n",
         "dcf77tx: sim refused exclusive mode at 192000 Hz: not allowed; playing shared at the mix rate, 48000 Hz\n"
         "dcf77tx: the sound device SIM went away: No such device\n"},
        // A name for several devices is the command line's fault.
        {"--audio sim", "audio_open_fails 2\n", 2, "",
         "dcf77tx: --audio sim matches several playback devices: sim 1, sim 2\nTry 'dcf77tx --help'.\n"},
        {"--audio sim --port 2", "", 2, "",
         "dcf77tx: --audio and the serial port (--port, --device) exclude each other\nTry 'dcf77tx --help'.\n"},
        // A device that keeps no time, or not at its rate, ends the run.
        {"--audio sim --zone cet --minutes 2", "audio_keeps_no_time 1\n", 1, kDcf77At48k,
         "dcf77tx: the sound device sim reports no playback timing: its delay stays 0\n"},
        {"--audio sim", "audio_ppm 60000\n", 1, kDcf77At48k,
         "dcf77tx: the sound device sim reports no playback timing: its frames leave at 1.06 times its rate of "
         "48000 Hz\n"},
        {"--audio sim", "audio_delay_lost_after_ms 600\n", 1, kDcf77At48k,
         "dcf77tx: the sound device sim reports no playback timing: its delay fell to 0\n"},
        // As PulseAudio under Wine: 10 ms packets, two thirds of the rate for
        // 3 s after each start, running dry once in it; then steady: played
        // on (status 0: the run's 30 s of virtual time ran out).
        {"--audio sim", "audio_granule 480\naudio_slow_ms 3000\naudio_slow_rate 0.64\naudio_stall_after_ms 1500\n"
         "audio_stall_ms 300\n", 0, kDcf77At48k,
         "dcf77tx: the sound output ran dry (an underrun or a suspend) and restarted: the frame in progress ends; "
         "whole frames again from the next minute\n"},
        // A device 0.5 % off is followed; one 2 % off is refused.
        {"--audio sim", "audio_ppm -5000\n", 0, kDcf77At48k, ""},
        {"--audio sim", "audio_ppm 20000\n", 1, kDcf77At48k,
         "dcf77tx: the sound device sim plays +20000 ppm off 48000 Hz by the computer's oscillator, beyond the "
         "10000 ppm followed\n"},
        // The UTC clock's rate beyond what is followed is said once.
        {"--audio sim", "utc_rate_ppm 1500\n", 0, kDcf77At48k,
         "dcf77tx: the UTC clock runs +1500 ppm off the computer's oscillator, beyond the 1000 ppm followed: the "
         "carrier's frequency is off by the rest\n"},
    };
    for (const AudioEndsCase& c : cases) {
        RunSettings settings{"", 1260534896000, 30};
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
        // Every edge of the frame within 0.3 ms of its instant (what the
        // fit guarantees for a position that moves in 0.25 ms steps):
        // reductions on the second, their ends 100 or 200 ms after.
        for (const Edge& e : edges) {
            if (e.time < minuteStart - kSecond / 2 || e.time > minuteStart + 60 * kSecond) continue;
            const std::int64_t grid = e.asserted ? kSecond : 100 * kMs;
            const std::int64_t off = (e.time % grid + grid + grid / 2) % grid - grid / 2;
            EXPECT_LT(std::llabs(off), 300'000) << "edge at " << e.time << " ns is " << off << " ns off";
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

TEST(AudioProgram, SilentStartSmallStepLatencyJumpAndSlew) {
    // 12:34:59.3 UTC: the minute begins before the fit is ready, so the
    // first whole frame is 12:36's, the carrier silent until its second
    // 58. The card as above, the computer's oscillator 40 ppm fast; the
    // UTC clock steps +10 ms at 100 s, the card's latency grows by 5 ms at
    // 160 s, and the UTC clock is slewed 500 ppm from 200 s for 60 s.
    const std::int64_t startUtcMs = 1260534899300, latencyUs = 3000, stepAfterMs = 100'000, stepMs = 10;
    const std::int64_t jumpAfterMs = 160'000, jumpUs = 5000, slewAfterMs = 200'000, slewMs = 60'000;
    const double slewPpm = 500;
    RunSettings settings{"", startUtcMs, 330};
    settings.arguments = "--audio sim";
    settings.utcStepAfterMs = stepAfterMs;
    settings.utcStepMs = stepMs;
    settings.simConf = "audio_ppm 200\naudio_latency_us " + std::to_string(latencyUs) +
                       "\naudio_granule 12\naudio_jitter_us 50\nraw_ppm 40\naudio_jump_after_ms " +
                       std::to_string(jumpAfterMs) + "\naudio_jump_us " + std::to_string(jumpUs) +
                       "\nutc_slew_after_ms " + std::to_string(slewAfterMs) + "\nutc_slew_ms " +
                       std::to_string(slewMs) + "\nutc_slew_ppm 500\n";
    const ProgramRun run = RunProgram(settings);
    ASSERT_EQ(run.status, 0) << run.err;
    // A step under 20 ms moves the edges and is not said.
    EXPECT_EQ(run.err, "");
    const std::vector<Played> played = ReadPlayed();
    ASSERT_EQ(played.size(), 1u);
    const Played& p = played[0];
    // The UTC clock at monotonic instant `t`, as the simulation runs it.
    const std::int64_t utcAtZero = startUtcMs * kMs - kSimStart;
    const std::int64_t stepAt = kSimStart + stepAfterMs * kMs, jumpAt = kSimStart + jumpAfterMs * kMs;
    const std::int64_t slewAt = kSimStart + slewAfterMs * kMs;
    auto utcAt = [&](std::int64_t t) {
        const std::int64_t slewed = std::clamp<std::int64_t>(t - slewAt, 0, slewMs * kMs);
        return t + utcAtZero + (t >= stepAt ? stepMs * kMs : 0) + static_cast<std::int64_t>(slewed * slewPpm * 1e-6);
    };
    // When sample k is heard, monotonic ns.
    auto heard = [&](double k) {
        const std::int64_t left = p.start + static_cast<std::int64_t>(k * p.period);
        return left + latencyUs * 1000 + (left >= jumpAt ? jumpUs * 1000 : 0);
    };
    const Demodulation d = Demodulate(p.samples.data(), p.samples.size(), 1e9 / p.period, 15500, 0);
    std::vector<Edge> edges;
    for (const Edge& e : d.edges) edges.push_back({utcAt(heard(static_cast<double>(e.time) / p.period)), e.asserted});

    // Silence, then one ramp up at 12:35:58 and the first frame at 12:36.
    const std::int64_t rampAt = 1260534958 * kSecond;
    std::size_t sounding = 0;
    for (std::size_t k = 0; utcAt(heard(static_cast<double>(k))) < rampAt - kMs; ++k) sounding += p.samples[k] != 0;
    EXPECT_EQ(sounding, 0u);
    ASSERT_FALSE(edges.empty());
    EXPECT_FALSE(edges[0].asserted);
    EXPECT_LT(std::llabs(edges[0].time - rampAt), kMs / 10);
    EXPECT_GT(edges[1].time, rampAt + kSecond);
    std::vector<DecodedMinute> whole;
    for (const DecodedMinute& m : DecodeMinutes(PulsesFromEdges(edges), true))
        if (m.valid) whole.push_back(m);
    ASSERT_EQ(whole.size(), 4u);
    EXPECT_EQ(Utc(whole[0].start + kSecond / 2).tm_min, 36);
    for (DecodedMinute& m : whole) m.start = (m.start + kSecond / 2) / kSecond * kSecond;
    ExpectFramesFollowTheClock(whole);

    // Every edge within 0.3 ms of its UTC instant (what the fit guarantees
    // for a position that moves in 0.25 ms steps), but in the 2 s after
    // the step and the jump.
    std::int64_t worst = 0;
    for (const Edge& e : edges) {
        const std::int64_t grid = e.asserted ? kSecond : 100 * kMs;
        const std::int64_t off = (e.time % grid + grid + grid / 2) % grid - grid / 2;
        const std::int64_t step = utcAt(stepAt), jump = utcAt(jumpAt);
        if ((e.time >= step && e.time < step + 2 * kSecond) || (e.time >= jump && e.time < jump + 2 * kSecond)) continue;
        worst = std::max<std::int64_t>(worst, std::llabs(off));
        EXPECT_LT(std::llabs(off), 300'000) << "edge at " << e.time << " ns is " << off << " ns off";
    }
    std::printf("edges within %.3f ms\n", static_cast<double>(worst) / kMs);
    // The carrier's fifth harmonic within 1 Hz of 77.5 kHz in every 10 s
    // from the ramp up, through the step, the jump and the slew.
    const std::size_t slice = static_cast<std::size_t>(10 * 1e9 / p.period);
    std::size_t up = 0;
    while (utcAt(heard(static_cast<double>(up))) < rampAt + kMs) ++up;
    double worstHz = 0;
    for (std::size_t from = up; from + slice <= p.samples.size(); from += slice) {
        const Demodulation c = Demodulate(p.samples.data() + from, slice, 1e9 / p.period, 15500, 0);
        worstHz = std::max(worstHz, std::abs(5 * c.carrierHz - 77500));
        EXPECT_NEAR(5 * c.carrierHz, 77500, 1.0) << "from " << static_cast<double>(from) * p.period / 1e9 << " s";
    }
    std::printf("carrier within %.3f Hz\n", worstHz);
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
    EXPECT_EQ(field(4), 36 + 2 * count);  // RIFF: the rest of the file
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

TEST(AudioProgram, NtpTime) {
    // 12:34:56.5 on the system clock, 2.5 s slow of the NTP server; the
    // computer's oscillator 40 ppm fast, the card as above.
    const std::int64_t startUtcMs = 1260534896500, latencyUs = 3000;
    RunSettings settings{"", startUtcMs, 200};
    settings.arguments = "--audio sim --ntp 192.0.2.1 -v --minutes 2";
    settings.simConf = "ntp_offset_ms 2500\nraw_ppm 40\naudio_ppm 200\naudio_latency_us 3000\naudio_granule 12\n";
    const ProgramRun run = RunProgram(settings);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.substr(0, run.out.find('\n') + 1),
              "system clock 2.500 s slow of 192.0.2.1 (delay 0.001 s, stratum 2)\n");
    EXPECT_NE(run.out.find("UTC  NTP +2500 ms\n"), std::string::npos) << run.out;
    const std::vector<Played> played = ReadPlayed();
    ASSERT_EQ(played.size(), 1u);
    const Played& p = played[0];
    // The edges on NTP time: 2.5 s ahead of the true time.
    const std::int64_t ntpAtZero = startUtcMs * kMs - kSimStart + 2500 * kMs;
    const Demodulation d = Demodulate(p.samples.data(), p.samples.size(), 1e9 / p.period, 15500, 0);
    std::vector<Edge> edges;
    for (const Edge& e : d.edges) edges.push_back({p.start + latencyUs * 1000 + e.time + ntpAtZero, e.asserted});
    std::vector<DecodedMinute> whole;
    for (const DecodedMinute& m : DecodeMinutes(PulsesFromEdges(edges), true))
        if (m.valid) whole.push_back(m);
    ASSERT_EQ(whole.size(), 2u);
    for (DecodedMinute& m : whole) m.start = (m.start + kSecond / 2) / kSecond * kSecond;
    EXPECT_EQ(Utc(whole[0].start).tm_min, 36);
    ExpectFramesFollowTheClock(whole);
    for (const Edge& e : edges) {
        const std::int64_t grid = e.asserted ? kSecond : 100 * kMs;
        EXPECT_LT(std::llabs((e.time % grid + grid + grid / 2) % grid - grid / 2), kMs / 10) << e.time;
    }
}

// A WAV file's samples; its header's sizes must describe the file.
static std::vector<std::int16_t> ReadWav(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (bytes.size() < 44) {
        ADD_FAILURE() << path << " holds " << bytes.size() << " bytes";
        return {};
    }
    auto field = [&](std::size_t at) {
        return static_cast<std::uint32_t>(bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | bytes[at + 3] << 24);
    };
    EXPECT_EQ(field(4), bytes.size() - 8) << path;
    EXPECT_EQ(field(40), bytes.size() - 44) << path;
    std::vector<std::int16_t> samples((bytes.size() - 44) / 2);
    for (std::size_t k = 0; k < samples.size(); ++k)
        samples[k] = static_cast<std::int16_t>(bytes[44 + 2 * k] | bytes[45 + 2 * k] << 8);
    return samples;
}

// Each stretch of a DCF77 file at 8000 Hz, its second 59 and then each
// minute's seconds 0 to 58 (its second 59 leads into the next), away from
// their ends: F keyed (edges within), C a steady carrier, S silence.
static std::string Stretches(const std::vector<std::int16_t>& samples) {
    const std::int64_t rate = 8000, seconds = static_cast<std::int64_t>(samples.size()) / rate;
    const Demodulation d = Demodulate(samples.data(), samples.size(), rate, 77500.0 / 23, 0);
    std::string kinds;
    for (std::int64_t from = 0, to = 1; to <= seconds; from = to + (from == 0 ? 0 : 1), to = from + 59) {
        const std::int64_t begin = from * kSecond + 10 * kMs, end = to * kSecond - 10 * kMs;
        bool silent = true;
        for (std::int64_t k = begin * rate / kSecond; k < end * rate / kSecond; ++k) silent = silent && samples[k] == 0;
        bool keyed = false;
        for (const Edge& e : d.edges) keyed = keyed || (e.time > begin && e.time < end);
        kinds += silent ? 'S' : keyed ? 'F' : 'C';
    }
    return kinds;
}

// What the file named is before the run.
enum WavBefore {
    NOTHING,
    A_LINK,          // a symbolic link to kept/target.wav, an existing file
    A_FILE_0640,     // a file with permissions rw-r-----
};

struct WavCase {
    const char* what;
    const char* arguments;  // rendering DCF77 at 8000 Hz into `into`
    std::int64_t startUtcMs;
    std::string conf;       // more for the simulated machine
    int fileBlocks;         // the file size limit, 512-byte blocks; 0: none
    int status;
    std::string out, err;
    const char* stretches;  // see Stretches; "": no file at all; "device": nothing to read back
    std::string into = "out.wav";
    WavBefore before = NOTHING;
};

#ifdef _WIN32
const std::string kNullDevice = "NUL";
#else
const std::string kNullDevice = "/dev/null";
#endif

// A name in UTF-8 as a path, on Windows too.
static std::filesystem::path Utf8(const std::string& name) {
    return std::u8string(reinterpret_cast<const char8_t*>(name.data()), name.size());
}

TEST(AudioProgram, WavFiles) {
    UseZone("UTC0");
    const std::int64_t dec11 = 1260534896000;  // 2009-12-11 12:34:56 UTC
    auto toneOf = [](const std::string& name) {
        return name + " at 8000 Hz: 3369.57 Hz, the 23rd subharmonic of 77500 Hz (audible)\n";
    };
    const std::string tone = toneOf("out.wav"), carrier = "steady full carrier, no time code\n";
    const std::string oneFrame = "Starts at 2009-12-11 12:35:59 UTC: play it from that second; 1 whole frame follows.\n";
    const WavCase cases[] = {
        {"a steady carrier", "--carrier --minutes 2", dec11, "", 0, 0,
         tone + carrier + "Play it at any time: 2 minutes and 1 second of it.\n", "", "CCC"},
        {"silence outside the windows", "--minutes 2 --window 12:36-12:37,12:38-12:39", dec11, "", 0, 0,
         tone + "Starts at 2009-12-11 12:35:59 UTC: play it from that second; 2 whole frames follow within 3 "
                "minutes, silent outside the windows.\n",
         "", "CFSF"},
        {"started within second 59: the next minute's", "--minutes 1", dec11 + 3'500, "", 0, 0, tone + oneFrame, "",
         "CF"},
        {"a render that ends too late is done again for a later minute", "--minutes 1", dec11,
         "held_read_at_utc_ms " + std::to_string(dec11) + "\nheld_read_us 40000000\n", 0, 0,
         tone + "Starts at 2009-12-11 12:36:59 UTC: play it from that second; 1 whole frame follows.\n", "", "CF"},
        {"--time: played from any second 59", "--minutes 1 --time \"2024-12-31 23:59\"", dec11, "", 0, 0,
         tone + "Starts with a second 59: play it from second 59 of any minute; 1 whole frame follows.\n", "", "CF"},
        // 975872 bytes of 976044: only the last, buffered write fails.
        {"a file size limit", "--minutes 1", dec11, "", 1906, 1, "",
         "dcf77tx: cannot write out.wav: " + std::string(std::strerror(EFBIG)) + "\n", ""},
        {"a device is written in place", "--carrier --minutes 1", dec11, "", 0, 0,
         toneOf(kNullDevice) + carrier + "Play it at any time: 1 minute and 1 second of it.\n", "", "device",
         kNullDevice},
        {"a name in any script", "--minutes 1", dec11 + 3'500, "", 0, 0, toneOf("Ωmega 時報.wav") + oneFrame, "", "CF",
         "Ωmega 時報.wav"},
        {"a link: the file it names is replaced, the link stays", "--minutes 1", dec11 + 3'500, "", 0, 0,
         tone + oneFrame, "", "CF", "out.wav", A_LINK},
        {"an existing file keeps its permissions", "--minutes 1", dec11 + 3'500, "", 0, 0, tone + oneFrame, "", "CF",
         "out.wav", A_FILE_0640},
    };
    for (const WavCase& c : cases) {
#ifdef _WIN32
        if (c.fileBlocks > 0 || c.before == A_LINK) continue;  // no ulimit in cmd.exe, no links for users
#endif
        SCOPED_TRACE(c.what);
        const std::filesystem::path file = c.into == kNullDevice ? Utf8(c.into) : Utf8(RunDirectory() + "/" + c.into);
        std::filesystem::remove_all(RunDirectory());
        std::filesystem::create_directories(RunDirectory() + "/kept");
        std::filesystem::perms before{};
        if (c.before != NOTHING) {
            const std::string kept = RunDirectory() + (c.before == A_LINK ? "/kept/target.wav" : "/out.wav");
            std::ofstream(kept) << "an older file";
            std::filesystem::permissions(kept, static_cast<std::filesystem::perms>(0640));
            before = std::filesystem::status(kept).permissions();
            if (c.before == A_LINK) std::filesystem::create_symlink("kept/target.wav", file);
        }
        RunSettings settings{"", c.startUtcMs, 100};
        settings.arguments = "--wav \"" + c.into + "\" --rate 8000 " + c.arguments;
        settings.simConf = c.conf;
        settings.fileBlocks = c.fileBlocks;
        const ProgramRun run = RunProgram(settings);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.err, c.err);
        // Nothing half-written is left anywhere, nor next to the device.
        for (const auto& entry : std::filesystem::recursive_directory_iterator(RunDirectory()))
            EXPECT_NE(entry.path().extension(), ".partial") << entry.path();
        EXPECT_FALSE(std::filesystem::exists(Utf8(c.into + ".partial")));
        EXPECT_EQ(std::filesystem::is_symlink(file), c.before == A_LINK);
        if (c.before != NOTHING) {
            EXPECT_EQ(static_cast<int>(std::filesystem::status(file).permissions()), static_cast<int>(before));
        }
        if (*c.stretches == '\0') {
            EXPECT_FALSE(std::filesystem::exists(file));
        } else if (std::string(c.stretches) != "device") {
            EXPECT_EQ(Stretches(ReadWav(file)), c.stretches);
        }
    }
}
