// A registry for fuzzing: the fuzzer's bytes decide how each of the three operations answers.
// It behaves as Windows does (on success at most the capacity is written; a value larger than
// the capacity gives ERROR_MORE_DATA and may leave anything in the buffer; a failed open hands
// out no handle) and records every way the lookup could misuse it.
//
// Input layout (missing bytes read as zero):
//   0      open:  mode & 3: 0 opens, 1 fails, 2 fails and zeroes the handle, 3 throws
//   1..4   open failure status (int32 LE; 0 is replaced by ERROR_FILE_NOT_FOUND)
//   5      query: mode & 3: 0 and 3 answer with the value, 1 fails, 2 throws
//   6..9   query failure status (int32 LE; 0 is replaced by ERROR_ACCESS_DENIED)
//   10..13 value type
//   14     close: mode & 3: 0 and 3 return 0, 1 returns the status below, 2 throws
//   15..18 close status
//   19..   the value's bytes (any length)
#pragma once

#include "RegistryAccess.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace fuzz_registry {

inline constexpr Module1::RegistryStatus kFileNotFound = 2;
inline constexpr Module1::RegistryStatus kAccessDenied = 5;
inline constexpr Module1::RegistryStatus kMoreData = 234;
inline constexpr std::size_t kHeaderSize = 19;

class FuzzRegistry final : public Module1::RegistryAccess {
public:
    FuzzRegistry(const std::uint8_t* data, std::size_t size)
    {
        std::uint8_t header[kHeaderSize] = {};
        std::copy_n(data, std::min(size, kHeaderSize), header);
        openMode_ = header[0] & 3u;
        openStatus_ = NonZero(Int32(header + 1), kFileNotFound);
        queryMode_ = header[5] & 3u;
        queryStatus_ = NonZero(Int32(header + 6), kAccessDenied);
        valueType_ = static_cast<std::uint32_t>(Int32(header + 10));
        closeMode_ = header[14] & 3u;
        closeStatus_ = Int32(header + 15);
        if (size > kHeaderSize) value_.assign(data + kHeaderSize, data + size);
    }

    Module1::RegistryStatus OpenKey(Module1::RegistryRoot root, const std::wstring& subKey, std::uint32_t access,
                                    Module1::RegistryKey& key) override
    {
        ++openCalls_;
        if (root != Module1::RegistryRoot::LocalMachine) misuse_.push_back("open: not HKEY_LOCAL_MACHINE");
        if (subKey != L"SOFTWARE\\MICROSOFT\\Windows NT\\CurrentVersion") misuse_.push_back("open: wrong subkey");
        if (access != (Module1::kKeyQueryValue | Module1::kKeyWow64_64Key)) {
            misuse_.push_back("open: access other than KEY_QUERY_VALUE | KEY_WOW64_64KEY");
        }
        switch (openMode_) {
        case 0:
            key = nextKey_++;
            closes_[key] = 0;
            return 0;
        case 1:
            return openStatus_; // the handle is left as it was
        case 2:
            key = 0;
            return openStatus_;
        default:
            return Raise("RegOpenKeyExA cannot be loaded");
        }
    }

    Module1::RegistryStatus QueryValue(Module1::RegistryKey key, const std::wstring& valueName, std::uint32_t& type,
                                       std::uint8_t* data, std::uint32_t& size) override
    {
        ++queryCalls_;
        RequireOpen(key, "query");
        if (valueName != L"DigitalProductId") misuse_.push_back("query: wrong value name");
        if (size != 164) misuse_.push_back("query: size word on entry is not 164");
        if (data == nullptr) misuse_.push_back("query: no buffer");
        if (queryMode_ == 2) return Raise("RegQueryValueExA cannot be loaded");
        const std::uint32_t capacity = size;
        if (queryMode_ == 1) {
            // A failed query may have written part of the value already; the lookup must not use it.
            Scribble(data, capacity);
            return queryStatus_;
        }
        type = valueType_;
        size = static_cast<std::uint32_t>(value_.size());
        if (value_.size() > capacity) {
            Scribble(data, capacity);
            return kMoreData;
        }
        std::copy(value_.begin(), value_.end(), data);
        read_ = true;
        return 0;
    }

    Module1::RegistryStatus CloseKey(Module1::RegistryKey key) override
    {
        RequireOpen(key, "close");
        const auto found = closes_.find(key);
        if (found != closes_.end()) ++found->second;
        if (closeMode_ == 2) return Raise("RegCloseKey cannot be loaded");
        return closeMode_ == 1 ? closeStatus_ : 0;
    }

    // What the lookup must return, unless an error was raised: the decoded bytes 52..66 of the
    // value (zero where it is shorter) when it was read, empty text otherwise.
    Module1::ProductKeyText ExpectedText() const
    {
        if (!read_) return {};
        Module1::KeyBytes keyBytes{};
        for (std::size_t k = 0; k < keyBytes.size() && 52 + k < value_.size(); ++k) keyBytes[k] = value_[52 + k];
        return Module1::DecodeProductKey(keyBytes);
    }

    bool EveryOpenedKeyClosedOnce() const
    {
        return std::all_of(closes_.begin(), closes_.end(), [](const auto& entry) { return entry.second == 1; });
    }
    int OpenCalls() const { return openCalls_; }
    int QueryCalls() const { return queryCalls_; }
    const char* Thrown() const { return thrown_; }
    const std::vector<std::string>& Misuse() const { return misuse_; }

private:
    static std::int32_t Int32(const std::uint8_t* p)
    {
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                                         static_cast<std::uint32_t>(p[2]) << 16 |
                                         static_cast<std::uint32_t>(p[3]) << 24);
    }
    static Module1::RegistryStatus NonZero(Module1::RegistryStatus status, Module1::RegistryStatus otherwise)
    {
        return status != 0 ? status : otherwise;
    }

    Module1::RegistryStatus Raise(const char* message)
    {
        // Only the first error counts: a second one (from closing while unwinding) must be dropped.
        if (thrown_ == nullptr) thrown_ = message;
        throw Module1::RegistryUnavailable(message);
    }

    void RequireOpen(Module1::RegistryKey key, const char* operation)
    {
        const auto found = closes_.find(key);
        if (found == closes_.end()) misuse_.push_back(std::string(operation) + " on a key never opened");
        else if (found->second != 0) misuse_.push_back(std::string(operation) + " on a key already closed");
    }

    // Windows leaves the buffer undefined on failure; fill it with the value's own bytes (and
    // noise past them), up to the capacity it was given and no further.
    void Scribble(std::uint8_t* data, std::uint32_t capacity) const
    {
        for (std::uint32_t i = 0; i < capacity; ++i) {
            data[i] = i < value_.size() ? value_[i] : static_cast<std::uint8_t>(0xA5 ^ i);
        }
    }

    unsigned openMode_, queryMode_, closeMode_;
    Module1::RegistryStatus openStatus_, queryStatus_, closeStatus_;
    std::uint32_t valueType_;
    std::vector<std::uint8_t> value_;

    int openCalls_ = 0, queryCalls_ = 0;
    bool read_ = false;
    const char* thrown_ = nullptr;
    std::map<Module1::RegistryKey, int> closes_; // every handle handed out, with its close count
    std::vector<std::string> misuse_;
    Module1::RegistryKey nextKey_ = 0x1000;
};

} // namespace fuzz_registry
