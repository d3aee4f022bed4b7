// An in-memory stand-in for the three registry operations, recording how they were used.
#pragma once

#include "RegistryAccess.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace testing_registry {

// Windows' status codes for the failures the fake imitates.
inline constexpr Module1::RegistryStatus kFileNotFound = 2;
inline constexpr Module1::RegistryStatus kAccessDenied = 5;
inline constexpr Module1::RegistryStatus kMoreData = 234;

inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegBinary = 3;

class FakeRegistry : public Module1::RegistryAccess {
public:
    // What the registry holds and how it answers.
    Module1::RegistryStatus openStatus = 0;
    bool valuePresent = true;
    std::vector<std::uint8_t> value;
    std::uint32_t valueType = kRegBinary;
    Module1::RegistryStatus queryStatusOverride = 0; // non-zero: the query fails with it
    bool throwOnOpen = false, throwOnQuery = false, throwOnClose = false;

    // What the lookup did.
    int openCalls = 0, queryCalls = 0, closeCalls = 0;
    Module1::RegistryRoot openedRoot{};
    std::wstring openedSubKey, queriedValueName;
    std::uint32_t requestedAccess = 0;
    std::uint32_t sizeOnEntry = 0;
    std::map<Module1::RegistryKey, int> closesPerKey; // every handle handed out, with its close count
    std::vector<std::string> misuse;                  // calls on handles that were not open

    Module1::RegistryStatus OpenKey(Module1::RegistryRoot root, const std::wstring& subKey, std::uint32_t access,
                                    Module1::RegistryKey& key) override
    {
        ++openCalls;
        if (throwOnOpen) throw Module1::RegistryUnavailable("RegOpenKeyExA missing");
        openedRoot = root;
        openedSubKey = subKey;
        requestedAccess = access;
        if (openStatus != 0) return openStatus;
        key = nextKey_++;
        closesPerKey[key] = 0;
        return 0;
    }

    Module1::RegistryStatus QueryValue(Module1::RegistryKey key, const std::wstring& valueName, std::uint32_t& type,
                                       std::uint8_t* data, std::uint32_t& size) override
    {
        ++queryCalls;
        if (throwOnQuery) throw Module1::RegistryUnavailable("RegQueryValueExA missing");
        CheckOpen(key, "query");
        queriedValueName = valueName;
        sizeOnEntry = size;
        if (queryStatusOverride != 0) return queryStatusOverride;
        if (!valuePresent) return kFileNotFound;
        type = valueType;
        const std::uint32_t capacity = size;
        size = static_cast<std::uint32_t>(value.size());
        if (value.size() > capacity) {
            // Windows leaves the buffer's contents undefined here; make that visible.
            std::fill_n(data, capacity, std::uint8_t{0xA5});
            return kMoreData;
        }
        std::copy(value.begin(), value.end(), data);
        return 0;
    }

    Module1::RegistryStatus CloseKey(Module1::RegistryKey key) override
    {
        ++closeCalls;
        CheckOpen(key, "close");
        if (closesPerKey.count(key) != 0) ++closesPerKey[key];
        if (throwOnClose) throw Module1::RegistryUnavailable("RegCloseKey missing");
        return 0;
    }

    bool EveryOpenedKeyClosedOnce() const
    {
        return std::all_of(closesPerKey.begin(), closesPerKey.end(), [](const auto& k) { return k.second == 1; });
    }

private:
    void CheckOpen(Module1::RegistryKey key, const char* what)
    {
        const auto found = closesPerKey.find(key);
        if (found == closesPerKey.end() || found->second != 0) misuse.push_back(std::string(what) + " on a key not open");
    }

    Module1::RegistryKey nextKey_ = 0x1000;
};

} // namespace testing_registry
