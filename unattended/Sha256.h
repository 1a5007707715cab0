#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// SHA-256 (FIPS 180-4) of the bytes of a backup, for its record.
using Sha256Digest = std::array<uint8_t, 32>;

// The digest as the build computes it: through the system's crypto library
// where the build has one (libcrypto on Linux), PortableSha256 otherwise
// (the Windows program, which must run on Windows 95: its CryptoAPI knows
// no SHA-256).
Sha256Digest Sha256(const uint8_t* data, size_t length);

// This program's own implementation, built everywhere, so that the Linux
// tests hold it against the library.
Sha256Digest PortableSha256(const uint8_t* data, size_t length);

// 64 lower-case hex digits, as sha256sum writes them.
std::string Sha256Hex(const Sha256Digest& digest);
