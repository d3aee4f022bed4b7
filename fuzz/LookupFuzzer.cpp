// ReadProductKey against a registry that answers as the fuzzer's bytes say: any status or
// thrown error from each operation, values of any length and type. The lookup must never
// crash, return exactly what the registry gave it (or empty text), close what it opened once,
// use nothing after closing it, and ask for read access only.
#include "FuzzRegistry.h"
#include "RegistryAccess.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

[[noreturn]] void Fail(const char* what)
{
    std::fprintf(stderr, "ReadProductKey: %s\n", what);
    std::abort();
}

void Check(bool holds, const char* what)
{
    if (!holds) Fail(what);
}

bool WellFormed(const Module1::ProductKeyText& text)
{
    if (text.size() != 29) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        const bool symbol = c == L'N' || std::memchr(Module1::KeyAlphabet.data(), static_cast<int>(c),
                                                     Module1::KeyAlphabet.size()) != nullptr;
        if (i % 6 == 5 ? c != L'-' : !(c < 0x80 && symbol)) return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz_registry::FuzzRegistry registry(data, size);

    Module1::ProductKeyText text;
    bool raised = false;
    try {
        text = Module1::ReadProductKey(registry);
    } catch (const Module1::RegistryUnavailable& error) {
        raised = true;
        Check(registry.Thrown() != nullptr && std::strcmp(error.what(), registry.Thrown()) == 0,
              "an error the registry did not raise, or not passed on unchanged");
    }

    for (const auto& problem : registry.Misuse()) Fail(problem.c_str());
    Check(registry.OpenCalls() == 1, "the key was not opened exactly once");
    Check(registry.QueryCalls() <= 1, "the value was queried more than once");
    Check(registry.EveryOpenedKeyClosedOnce(), "an opened key was not closed exactly once");
    Check(raised == (registry.Thrown() != nullptr), "an error of the registry was swallowed");
    if (!raised) {
        Check(text.empty() || WellFormed(text), "neither empty nor a well-formed key");
        Check(text == registry.ExpectedText(), "not the key of the value read (or not empty on failure)");
    }
    return 0;
}
