// Reads DigitalProductId through the registry seam and decodes its key bytes.
#include "RegistryAccess.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace Module1 {
namespace {

const wchar_t* const kSubKey = L"SOFTWARE\\MICROSOFT\\Windows NT\\CurrentVersion";
const wchar_t* const kValueName = L"DigitalProductId";

// Read-only, and the 64-bit view: a 32-bit process would otherwise be redirected to the
// 32-bit view, which has no DigitalProductId.
constexpr std::uint32_t kAccess = kKeyQueryValue | kKeyWow64_64Key;

constexpr std::size_t kValueCapacity = 164;
constexpr std::size_t kKeyBytesOffset = 52;

// Closes the opened key exactly once: explicitly on the normal paths (where a failure to
// reach RegCloseKey may propagate) or, while an error unwinds, quietly in the destructor.
class OpenedKey {
public:
    OpenedKey(RegistryAccess& registry, RegistryKey key) : registry_(registry), key_(key) {}
    OpenedKey(const OpenedKey&) = delete;
    OpenedKey& operator=(const OpenedKey&) = delete;
    ~OpenedKey()
    {
        if (open_) {
            try {
                Close();
            } catch (...) {
                // Already unwinding with the first error; that one is what the caller sees.
            }
        }
    }

    RegistryKey Get() const { return key_; }

    void Close()
    {
        open_ = false;
        registry_.CloseKey(key_); // the status of closing tells nothing the caller can act on
    }

private:
    RegistryAccess& registry_;
    RegistryKey key_;
    bool open_ = true;
};

} // namespace

ProductKeyText ReadProductKey(RegistryAccess& registry)
{
    RegistryKey handle{};
    if (registry.OpenKey(RegistryRoot::LocalMachine, kSubKey, kAccess, handle) != 0) {
        return {};
    }
    OpenedKey key(registry, handle);

    // Zeroed, so a value shorter than the key field decodes with its missing bytes as zero.
    std::array<std::uint8_t, kValueCapacity> value{};
    std::uint32_t type = 0;
    std::uint32_t size = static_cast<std::uint32_t>(value.size());
    if (registry.QueryValue(key.Get(), kValueName, type, value.data(), size) != 0) {
        key.Close();
        return {};
    }

    KeyBytes keyBytes{};
    std::copy_n(value.begin() + kKeyBytesOffset, keyBytes.size(), keyBytes.begin());
    key.Close();
    return DecodeProductKey(keyBytes);
}

} // namespace Module1
