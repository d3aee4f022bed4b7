// The key lookup: reads DigitalProductId and turns its key bytes into the product key text.
// Platform-free: no Windows header is needed to use this unit.
#pragma once

#include <array>
#include <cstdint>
#include <exception>
#include <string>

namespace Module1 {

// The 15 key bytes of DigitalProductId (value offsets 52..66): one little-endian 120-bit number.
using KeyBytes = std::array<std::uint8_t, 15>;

// Either the 29-character grouped key ("XXXXX-XXXXX-XXXXX-XXXXX-XXXXX") or empty for "could not read".
using ProductKeyText = std::wstring;

// The 24 key symbols, indexed by base-24 digit value.
inline constexpr std::array<char, 24> KeyAlphabet = {
    'B', 'C', 'D', 'F', 'G', 'H', 'J', 'K', 'M', 'P', 'Q', 'R',
    'T', 'V', 'W', 'X', 'Y', '2', '3', '4', '6', '7', '8', '9'};

// Raised when the registry functions themselves cannot be reached (library or entry point missing).
// Carries a fixed message, so raising it needs no allocation.
class RegistryUnavailable : public std::exception {
public:
    explicit RegistryUnavailable(const char* message) noexcept : message_(message) {}
    const char* what() const noexcept override { return message_; }

private:
    const char* message_;
};

// Decodes the key bytes; always returns 29 characters and leaves the caller's bytes untouched.
ProductKeyText DecodeProductKey(const KeyBytes& keyBytes);

// The product key of the running Windows system, or empty text if the key or value cannot be read.
// Throws RegistryUnavailable if advapi32 or one of its functions cannot be loaded.
ProductKeyText ReadProductKey();

} // namespace Module1
