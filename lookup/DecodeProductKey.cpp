// Decoding of the product key bytes: base 24 over KeyAlphabet, five groups of five.
#include "Module1.h"

#include <cstddef>

namespace Module1 {
namespace {

constexpr std::size_t kSymbolCount = 25;
constexpr std::size_t kGroupSize = 5;
constexpr std::size_t kKeyTextLength = kSymbolCount + kSymbolCount / kGroupSize - 1; // 29
constexpr std::size_t kMostSignificant = std::tuple_size<KeyBytes>::value - 1;       // byte 14

// Since Windows 8 this bit of byte 14 marks the layout whose key contains one letter N.
constexpr std::uint8_t kNLayoutBit = 0x08;
constexpr wchar_t kNSymbol = L'N';

// Divides the working number by 24 in place and returns the remainder (its lowest base-24 digit).
unsigned DivideBy24(KeyBytes& number)
{
    unsigned remainder = 0;
    for (std::size_t i = number.size(); i-- > 0;) {
        // remainder < 24, so value <= 23 * 256 + 255 = 6143 and the quotient fits a byte.
        const unsigned value = remainder * 256u + number[i];
        number[i] = static_cast<std::uint8_t>(value / 24u);
        remainder = value % 24u;
    }
    return remainder;
}

} // namespace

ProductKeyText DecodeProductKey(const KeyBytes& keyBytes)
{
    KeyBytes working = keyBytes;
    const bool nLayout = (working[kMostSignificant] & kNLayoutBit) != 0;
    if (nLayout) {
        working[kMostSignificant] = static_cast<std::uint8_t>(working[kMostSignificant] & ~kNLayoutBit);
    }

    // Digits from the least significant (position 24) to the most significant (position 0).
    std::array<wchar_t, kSymbolCount> symbols{};
    unsigned firstDigit = 0;
    for (std::size_t position = kSymbolCount; position-- > 0;) {
        firstDigit = DivideBy24(working);
        symbols[position] = static_cast<wchar_t>(KeyAlphabet[firstDigit]);
    }

    if (nLayout) {
        // The first digit gives where N stands among the other 24 symbols.
        const std::size_t insertAt = firstDigit; // 0..23
        for (std::size_t i = 0; i < insertAt; ++i) {
            symbols[i] = symbols[i + 1];
        }
        symbols[insertAt] = kNSymbol;
    }

    std::array<wchar_t, kKeyTextLength> text{};
    std::size_t out = 0;
    for (std::size_t i = 0; i < kSymbolCount; ++i) {
        if (i != 0 && i % kGroupSize == 0) {
            text[out++] = L'-';
        }
        text[out++] = symbols[i];
    }
    return ProductKeyText(text.data(), text.size());
}

} // namespace Module1
