// BSTR: the memory layout servers and the DA 1.0 data streams rely on, and the allocation calls.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/win32.h"

namespace {

using Text = std::basic_string<OLECHAR>;

DWORD PrefixOf(BSTR s) {
    DWORD count;
    std::memcpy(&count, reinterpret_cast<const BYTE*>(s) - sizeof(DWORD), sizeof count);
    return count;
}

TEST(Bstr, LayoutIsByteCountCharactersAndTerminator) {
    BSTR s = SysAllocString(OLESTR("OPC"));
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(PrefixOf(s), 6u);  // bytes, not characters, and without the terminator
    EXPECT_EQ(SysStringLen(s), 3u);
    EXPECT_EQ(SysStringByteLen(s), 6u);
    EXPECT_EQ(s[3], 0);
    EXPECT_EQ(Text(s), Text(OLESTR("OPC")));
    SysFreeString(s);
}

TEST(Bstr, LengthsCountEmbeddedNulsAndOddBytes) {
    const OLECHAR withNul[] = {'a', 0, 'b'};
    BSTR s = SysAllocStringLen(withNul, 3);
    EXPECT_EQ(SysStringLen(s), 3u);
    EXPECT_EQ(s[2], 'b');
    EXPECT_EQ(s[3], 0);
    SysFreeString(s);

    BSTR bytes = SysAllocStringByteLen("xyz", 3);
    EXPECT_EQ(SysStringByteLen(bytes), 3u);
    EXPECT_EQ(SysStringLen(bytes), 1u);
    EXPECT_EQ(std::memcmp(bytes, "xyz", 4), 0);  // followed by a NUL byte
    SysFreeString(bytes);
}

TEST(Bstr, NullSourcesAndNullStrings) {
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    BSTR zeroed = SysAllocStringLen(nullptr, 5);
    ASSERT_NE(zeroed, nullptr);
    EXPECT_EQ(SysStringLen(zeroed), 5u);
    for (int i = 0; i <= 5; ++i)
        EXPECT_EQ(zeroed[i], 0);
    SysFreeString(zeroed);
    BSTR empty = SysAllocStringLen(OLESTR(""), 0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(SysStringLen(empty), 0u);
    SysFreeString(empty);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysStringByteLen(nullptr), 0u);
    SysFreeString(nullptr);
}

TEST(Bstr, ReallocationMayReadTheOldString) {
    BSTR s = SysAllocString(OLESTR("abcdef"));
    ASSERT_TRUE(SysReAllocStringLen(&s, s + 2, 3));  // source inside the string being replaced
    EXPECT_EQ(Text(s), Text(OLESTR("cde")));
    ASSERT_TRUE(SysReAllocString(&s, OLESTR("longer than before")));
    EXPECT_EQ(SysStringLen(s), 18u);
    ASSERT_TRUE(SysReAllocStringLen(&s, nullptr, 4));  // no source: resized, prefix kept
    EXPECT_EQ(Text(s, 4), Text(OLESTR("long")));
    ASSERT_TRUE(SysReAllocString(&s, nullptr));
    EXPECT_EQ(s, nullptr);
}

}  // namespace
