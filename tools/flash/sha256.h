#pragma once
// SHA-256 of a block of bytes, for the fleet report: the hash proves later
// which image a controller was given.

#include <cstddef>
#include <cstdint>
#include <string>

namespace tools {

// The 64 lowercase hex digits of the SHA-256 of `length` bytes at `data`.
std::string Sha256Hex(const std::uint8_t* data, std::size_t length);

}  // namespace tools
