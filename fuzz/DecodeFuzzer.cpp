// DecodeProductKey on any 15 bytes: the layout always holds, the input is left alone, and the
// text reads back as the number it was made from.
#include "Module1.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

__extension__ typedef unsigned __int128 Number; // 120 bits of key and 24^25 both fit

constexpr std::uint8_t kNLayoutBit = 0x08;

[[noreturn]] void Fail(const char* what)
{
    std::fprintf(stderr, "DecodeProductKey: %s\n", what);
    std::abort();
}

void Check(bool holds, const char* what)
{
    if (!holds) Fail(what);
}

int DigitOf(wchar_t symbol)
{
    const auto found = std::find(Module1::KeyAlphabet.begin(), Module1::KeyAlphabet.end(), symbol);
    return found == Module1::KeyAlphabet.end() ? -1 : static_cast<int>(found - Module1::KeyAlphabet.begin());
}

Number Power24(int exponent)
{
    Number result = 1;
    for (int i = 0; i < exponent; ++i) result *= 24;
    return result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Shorter inputs are padded with zeros, so every input is some key.
    Module1::KeyBytes bytes{};
    std::copy_n(data, std::min(size, bytes.size()), bytes.begin());
    const Module1::KeyBytes original = bytes;

    const Module1::ProductKeyText text = Module1::DecodeProductKey(bytes);
    Check(bytes == original, "the caller's bytes changed");
    Check(Module1::DecodeProductKey(bytes) == text, "a second decoding differs");
    Check(text.size() == 29, "the text is not 29 characters");

    // Five groups of five; collect the symbols, remembering where an N stands.
    int symbols[25];
    int count = 0, nCount = 0, nIndex = -1;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool separator = i % 6 == 5;
        if (separator) {
            Check(text[i] == L'-', "no '-' at 5, 11, 17 or 23");
            continue;
        }
        if (text[i] == L'N') {
            ++nCount;
            nIndex = count++;
            continue;
        }
        const int digit = DigitOf(text[i]);
        Check(digit >= 0, "a character outside KeyAlphabet");
        symbols[count++] = digit;
    }
    const bool nLayout = (original[14] & kNLayoutBit) != 0;
    Check(nCount == (nLayout ? 1 : 0), "one N exactly when the layout bit is set, none otherwise");

    // Read the text back as base 24. In the N layout the N's index is the leading digit and the
    // other 24 symbols follow it in order.
    Number fromText = 0;
    if (nLayout) {
        fromText = static_cast<Number>(nIndex);
        for (int i = 0; i < 25; ++i) {
            if (i != nIndex) fromText = fromText * 24 + static_cast<Number>(symbols[i]);
        }
    } else {
        for (int i = 0; i < 25; ++i) fromText = fromText * 24 + static_cast<Number>(symbols[i]);
    }
    Number fromBytes = 0;
    for (std::size_t i = original.size(); i-- > 0;) {
        const std::uint8_t byte = i == 14 && nLayout ? static_cast<std::uint8_t>(original[i] & ~kNLayoutBit) : original[i];
        fromBytes = (fromBytes << 8) | byte;
    }
    Check(fromText == fromBytes % Power24(25), "the text does not read back as the key number mod 24^25");
    return 0;
}
