// Decoding allocates nothing on the heap but the result text.
#include "Module1.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

namespace {
bool counting = false;
int allocations = 0;
} // namespace

void* operator new(std::size_t size)
{
    if (counting) ++allocations;
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

TEST(DecodeProductKeyAllocation, OnlyTheResultText)
{
    const Module1::KeyBytes bytes = {0xEC, 0x0C, 0x00, 0x00, 0x00, 0x00, 0xA8, 0xD2,
                                     0x7B, 0x6E, 0x89, 0x81, 0x4F, 0x6D, 0x09};
    counting = true;
    const Module1::ProductKeyText text = Module1::DecodeProductKey(bytes);
    counting = false;
    EXPECT_EQ(text.size(), 29u);
    EXPECT_EQ(allocations, 1);
}
