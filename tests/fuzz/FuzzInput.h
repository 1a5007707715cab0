#pragma once

// What the fuzz targets share: the input read as choices, the check that ends a run, helpers.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "device/DriveCommands.h"

// The input front to back; used up, every read gives its fallback (0 unless told).
class FuzzInput {
  public:
    FuzzInput(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}
    uint8_t Byte(uint8_t fallback = 0) { return p_ < end_ ? *p_++ : fallback; }
    bool Bit() { return Byte() & 1; }
    // A length byte, then up to that many bytes (and no more than most).
    std::string Bytes(size_t most) {
        const size_t length = std::min<size_t>({Byte(), most, size_t(end_ - p_)});
        p_ += length;
        return std::string(reinterpret_cast<const char*>(p_ - length), length);
    }

  private:
    const uint8_t* p_;
    const uint8_t* end_;
};

[[noreturn]] inline void FuzzFailed(const char* what, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
    std::abort();
}
// Holds in every build, NDEBUG or not.
#define FUZZ_CHECK(condition) ((condition) ? void() : FuzzFailed(#condition, __FILE__, __LINE__))

// Whether text holds nothing a terminal could obey: printable ASCII and the given line controls.
inline bool ShownSafely(const std::string& text, const char* controls = "\n") {
    return std::all_of(text.begin(), text.end(), [&](char c) {
        return (c >= ' ' && c <= '~') || (c != 0 && std::strchr(controls, c) != nullptr);
    });
}

// Whether text is pattern, a '*' in it standing for any one character.
inline bool Matches(const char* pattern, const std::string& text) {
    return std::strlen(pattern) == text.size() &&
           std::equal(text.begin(), text.end(), pattern,
                      [](char t, char p) { return p == '*' || p == t; });
}

// The words from the one at first on, with between between each two.
inline std::string Joined(const std::vector<std::string>& words, const char* between,
                          size_t first = 0) {
    std::string joined;
    for (size_t i = first; i < words.size(); ++i) joined += (i > first ? between : "") + words[i];
    return joined;
}

// A whole file's bytes (none when it cannot be read).
inline std::string FileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A drive's record as its inquiry gives it, of these 28 bytes of texts (zeros after fewer).
inline DeviceRecord RecordOf(std::string texts) {
    DeviceRecord record = ZeroDeviceRecord();
    texts.insert(0, std::string("\5\0\0\0\0\0\0\0", 8)).resize(36);
    JudgeInquiry(reinterpret_cast<const uint8_t*>(texts.data()), record);
    return record;
}
