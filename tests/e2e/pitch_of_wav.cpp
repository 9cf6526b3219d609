// Prints the loudness (RMS) and fundamental frequency of a 16-bit PCM WAV file's loudest quarter
// second, and the loudness of its last half second (what still sounds once the notes were released).
#include "pitch.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s file.wav\n", argv[0]);
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0) {
        std::fprintf(stderr, "not a WAV file\n");
        return 1;
    }
    auto u16 = [&](std::size_t at) { return std::uint16_t(std::uint8_t(bytes[at]) | std::uint8_t(bytes[at + 1]) << 8); };
    auto u32 = [&](std::size_t at) { return std::uint32_t(u16(at) | std::uint32_t(u16(at + 2)) << 16); };
    int channels = 1, bits = 16;
    double rate = 44100;
    std::vector<float> mono;
    for (std::size_t at = 12; at + 8 <= bytes.size();) {
        const std::uint32_t size = u32(at + 4);
        const std::size_t body = at + 8;
        if (std::memcmp(&bytes[at], "fmt ", 4) == 0 && body + 16 <= bytes.size()) {
            channels = u16(body + 2);
            rate = u32(body + 4);
            bits = u16(body + 14);
        } else if (std::memcmp(&bytes[at], "data", 4) == 0) {
            if (bits != 16 || channels < 1) return 1;
            // parecord leaves the size open (0 or 0xFFFFFFFF) while recording: read to the end.
            std::size_t end = (size == 0 || size == 0xFFFFFFFFu || body + size > bytes.size()) ? bytes.size() : body + size;
            for (std::size_t i = body; i + 2 * channels <= end; i += 2 * channels) {
                float sum = 0;
                for (int c = 0; c < channels; ++c) sum += std::int16_t(u16(i + 2 * c)) / 32768.0f;
                mono.push_back(sum / channels);
            }
            break;
        }
        at = body + size + (size & 1);
    }
    // The loudest second holds the note.
    const std::size_t window = static_cast<std::size_t>(rate / 4);
    std::size_t bestStart = 0;
    double bestRms = 0;
    for (std::size_t start = 0; start + window <= mono.size(); start += window / 2) {
        std::vector<float> part(mono.begin() + start, mono.begin() + start + window);
        const double rms = kivra::test::Rms(part);
        if (rms > bestRms) bestRms = rms, bestStart = start;
    }
    std::vector<float> part(mono.begin() + std::min(bestStart, mono.size()),
                            mono.begin() + std::min(bestStart + window, mono.size()));
    const std::size_t tail = std::min(mono.size(), static_cast<std::size_t>(rate / 2));
    const std::vector<float> last(mono.end() - static_cast<std::ptrdiff_t>(tail), mono.end());
    std::printf("rms %.5f pitch %.1f tail %.5f\n", bestRms, kivra::test::EstimatePitch(part, rate),
                kivra::test::Rms(last));
    return 0;
}
