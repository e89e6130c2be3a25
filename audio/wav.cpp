#include "wav.h"

static unsigned char* Put(unsigned char* at, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) *at++ = static_cast<unsigned char>(value >> (8 * i));
    return at;
}

static unsigned char* Put(unsigned char* at, const char* text) {
    for (int i = 0; i < 4; ++i) *at++ = static_cast<unsigned char>(text[i]);
    return at;
}

bool WriteWavHeader(std::FILE* out, unsigned rate, std::uint64_t samples) {
    const auto data = static_cast<std::uint32_t>(2 * samples);
    unsigned char header[44];
    unsigned char* p = Put(header, "RIFF");
    p = Put(p, 36 + data, 4);
    p = Put(p, "WAVE");
    p = Put(p, "fmt ");
    p = Put(p, 16, 4);        // the format chunk's size
    p = Put(p, 1, 2);         // PCM
    p = Put(p, 1, 2);         // mono
    p = Put(p, rate, 4);
    p = Put(p, 2 * rate, 4);  // bytes a second
    p = Put(p, 2, 2);         // bytes a frame
    p = Put(p, 16, 2);        // bits a sample
    p = Put(p, "data");
    Put(p, data, 4);
    return std::fwrite(header, 1, sizeof header, out) == sizeof header;
}
