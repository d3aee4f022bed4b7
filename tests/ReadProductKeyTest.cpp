// ReadProductKey against a fake registry: what it asks for, what it returns, what it closes.
#include "FakeRegistry.h"
#include "RegistryAccess.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using Module1::ReadProductKey;
using testing_registry::FakeRegistry;

constexpr std::uint8_t kRealKeyBytes[15] = {0xEC, 0x0C, 0x00, 0x00, 0x00, 0x00, 0xA8, 0xD2,
                                            0x7B, 0x6E, 0x89, 0x81, 0x4F, 0x6D, 0x09};
const std::wstring kRealKey = L"VK7JG-NPHTM-C97JM-9MPGT-3V66T";

// A value of the given length whose bytes 52..66 (as far as they exist) are the real key bytes
// and whose other bytes are noise the lookup must ignore.
std::vector<std::uint8_t> ValueWithRealKey(std::size_t length)
{
    std::vector<std::uint8_t> value(length, 0x5A);
    for (std::size_t k = 0; k < 15 && 52 + k < length; ++k) value[52 + k] = kRealKeyBytes[k];
    return value;
}

class ReadProductKeyTest : public testing::Test {
protected:
    void TearDown() override
    {
        // Every run: the right key, read-only in the 64-bit view, and nothing left open.
        if (registry.openCalls > 0) {
            EXPECT_EQ(registry.openedRoot, Module1::RegistryRoot::LocalMachine);
            EXPECT_EQ(registry.openedSubKey, L"SOFTWARE\\MICROSOFT\\Windows NT\\CurrentVersion");
            EXPECT_EQ(registry.requestedAccess, Module1::kKeyQueryValue | Module1::kKeyWow64_64Key);
        }
        if (registry.queryCalls > 0 && !registry.throwOnQuery) {
            EXPECT_EQ(registry.queriedValueName, L"DigitalProductId");
            EXPECT_EQ(registry.sizeOnEntry, 164u);
        }
        EXPECT_LE(registry.openCalls, 1);
        EXPECT_TRUE(registry.EveryOpenedKeyClosedOnce());
        EXPECT_TRUE(registry.misuse.empty()) << registry.misuse.front();
    }

    FakeRegistry registry;
};

struct LengthCase {
    const char* name;
    std::size_t length;
    std::uint32_t type;
    std::wstring expected;
};

class ReadProductKeyLengthTest : public ReadProductKeyTest, public testing::WithParamInterface<LengthCase> {};

TEST_P(ReadProductKeyLengthTest, DecodesBytes52To66OfWhatWasRead)
{
    registry.value = ValueWithRealKey(GetParam().length);
    registry.valueType = GetParam().type;
    EXPECT_EQ(ReadProductKey(registry), GetParam().expected);
    EXPECT_EQ(registry.closeCalls, 1);
}

const LengthCase kLengthCases[] = {
    {"Exactly164", 164, testing_registry::kRegBinary, kRealKey},
    {"Exactly67", 67, testing_registry::kRegBinary, kRealKey},
    // Key bytes 8..14 are missing and read as zero: the decoding of EC 0C 00 00 00 00 A8 D2 0...
    {"Sixty", 60, testing_registry::kRegBinary, L"BBBBB-BBBBB-B2KXP-YDGYG-23726"},
    {"Empty", 0, testing_registry::kRegBinary, L"BBBBB-BBBBB-BBBBB-BBBBB-BBBBB"},
    {"StoredAsText", 164, testing_registry::kRegSz, kRealKey},
    {"TooLong165", 165, testing_registry::kRegBinary, L""},
    {"TooLong4096", 4096, testing_registry::kRegBinary, L""},
};

INSTANTIATE_TEST_SUITE_P(Values, ReadProductKeyLengthTest, testing::ValuesIn(kLengthCases),
                         [](const testing::TestParamInfo<LengthCase>& param) { return param.param.name; });

TEST_F(ReadProductKeyTest, KeyThatCannotBeOpenedGivesEmptyTextAndNoClose)
{
    registry.openStatus = testing_registry::kAccessDenied;
    EXPECT_EQ(ReadProductKey(registry), L"");
    EXPECT_EQ(registry.queryCalls, 0);
    EXPECT_EQ(registry.closeCalls, 0);
}

TEST_F(ReadProductKeyTest, FailedQueryGivesEmptyTextAndClosesTheKey)
{
    for (const auto status : {testing_registry::kFileNotFound, testing_registry::kAccessDenied, -1}) {
        FakeRegistry fresh;
        fresh.value = ValueWithRealKey(164);
        fresh.queryStatusOverride = status;
        EXPECT_EQ(ReadProductKey(fresh), L"") << "status " << status;
        EXPECT_EQ(fresh.closeCalls, 1);
        EXPECT_TRUE(fresh.EveryOpenedKeyClosedOnce());
    }
    registry.valuePresent = false;
    EXPECT_EQ(ReadProductKey(registry), L"");
    EXPECT_EQ(registry.closeCalls, 1);
}

TEST_F(ReadProductKeyTest, UnreachableRegistryFunctionRaisesAndStillClosesWhatWasOpened)
{
    registry.throwOnQuery = true;
    EXPECT_THROW(ReadProductKey(registry), Module1::RegistryUnavailable);
    EXPECT_EQ(registry.closeCalls, 1);

    FakeRegistry noOpen;
    noOpen.throwOnOpen = true;
    EXPECT_THROW(ReadProductKey(noOpen), Module1::RegistryUnavailable);
    EXPECT_EQ(noOpen.closeCalls, 0);

    FakeRegistry noClose;
    noClose.value = ValueWithRealKey(164);
    noClose.throwOnClose = true;
    EXPECT_THROW(ReadProductKey(noClose), Module1::RegistryUnavailable);
    EXPECT_EQ(noClose.closeCalls, 1) << "a failed close must not be retried";
}

} // namespace
