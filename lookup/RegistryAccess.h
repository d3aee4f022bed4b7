// The three registry operations the lookup needs, so tests can hand it a fake registry.
#pragma once

#include "Module1.h"

#include <cstdint>
#include <string>

namespace Module1 {

using RegistryStatus = std::int32_t;  // 0 is success; every other value is a failure
using RegistryKey = std::uintptr_t;   // an opened key, opaque to the lookup

enum class RegistryRoot { LocalMachine };

// Access rights, with the values Windows gives them (checked against <windows.h> in the binding).
inline constexpr std::uint32_t kKeyQueryValue = 0x0001;
inline constexpr std::uint32_t kKeyWow64_64Key = 0x0100;

class RegistryAccess {
public:
    virtual ~RegistryAccess() = default;

    // Fills key on success.
    virtual RegistryStatus OpenKey(RegistryRoot root, const std::wstring& subKey, std::uint32_t access,
                                   RegistryKey& key) = 0;
    // size holds the buffer's capacity on entry; type and size are set by the registry.
    virtual RegistryStatus QueryValue(RegistryKey key, const std::wstring& valueName, std::uint32_t& type,
                                      std::uint8_t* data, std::uint32_t& size) = 0;
    virtual RegistryStatus CloseKey(RegistryKey key) = 0;
};

// The lookup logic on any registry; ReadProductKey() runs it on the Windows registry.
ProductKeyText ReadProductKey(RegistryAccess& registry);

} // namespace Module1
