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

// Programs shorten or lengthen a string in place by passing the string itself as the source.
// The characters it offers end at its terminator: what the new length asks beyond that is not
// read (Windows leaves it unspecified; the stand-in zero-fills it).
TEST(Bstr, ReallocationFromItsOwnCharacters) {
    BSTR s = SysAllocString(OLESTR("abcdef"));
    ASSERT_TRUE(SysReAllocStringLen(&s, s, 3));
    EXPECT_EQ(SysStringLen(s), 3u);
    EXPECT_EQ(Text(s), Text(OLESTR("abc")));
    ASSERT_TRUE(SysReAllocStringLen(&s, s, 3));  // the same length: nothing changes
    EXPECT_EQ(Text(s), Text(OLESTR("abc")));
    ASSERT_TRUE(SysReAllocStringLen(&s, s + 1, 2));
    EXPECT_EQ(Text(s), Text(OLESTR("bc")));

    ASSERT_TRUE(SysReAllocStringLen(&s, s, 40));  // longer than the string: reads only "bc"
    EXPECT_EQ(SysStringLen(s), 40u);
    EXPECT_EQ(Text(s, 2), Text(OLESTR("bc")));
    EXPECT_EQ(s[40], 0);
#ifndef _WIN32
    for (int i = 2; i < 40; ++i)
        EXPECT_EQ(s[i], 0) << i;
    // From its terminator: no characters on offer, all zeros.
    BSTR end = SysAllocString(OLESTR("ab"));
    ASSERT_TRUE(SysReAllocStringLen(&end, end + 2, 3));
    EXPECT_EQ(SysStringLen(end), 3u);
    EXPECT_EQ(end[0], 0);
    EXPECT_EQ(end[2], 0);
    SysFreeString(end);
#endif

    ASSERT_TRUE(SysReAllocStringLen(&s, s + 1, 40));  // from inside, past the end
    EXPECT_EQ(SysStringLen(s), 40u);
    EXPECT_EQ(s[0], 'c');
    EXPECT_EQ(s[40], 0);

    ASSERT_TRUE(SysReAllocString(&s, s));
    EXPECT_EQ(SysStringLen(s), 1u);  // up to the first NUL
    EXPECT_EQ(Text(s), Text(OLESTR("c")));
    ASSERT_TRUE(SysReAllocStringLen(&s, s, 0));
    ASSERT_NE(s, nullptr);  // an empty string, not none
    EXPECT_EQ(SysStringLen(s), 0u);
    EXPECT_EQ(s[0], 0);
    SysFreeString(s);

    // An odd byte length (a byte string) offers its last odd byte too.
    BSTR bytes = SysAllocStringByteLen("xyz", 3);
    ASSERT_TRUE(SysReAllocStringLen(&bytes, bytes, 1));
    EXPECT_EQ(SysStringByteLen(bytes), 2u);
    EXPECT_EQ(std::memcmp(bytes, "xy", 2), 0);
    SysFreeString(bytes);
}

#ifndef _WIN32
// A string freed twice, or a pointer the allocator never handed out, is ignored: on Windows only
// the string cache makes this harmless in practice (nothing documents it), so this runs on the
// stand-in alone. Today's programs that do it must neither abort nor lose a live string.
TEST(Bstr, FreeingTwiceOrForeignPointersIsHarmless) {
    BSTR keep = SysAllocString(OLESTR("still here"));
    BSTR twice = SysAllocString(OLESTR("freed twice"));
    SysFreeString(twice);
    SysFreeString(twice);

    // Laid out like a BSTR, but never allocated as one.
    struct {
        DWORD bytes = 6;
        OLECHAR chars[4] = {'a', 'b', 'c', 0};
    } foreign;
    SysFreeString(foreign.chars);
    EXPECT_EQ(foreign.chars[0], 'a');
    SysFreeString(keep + 1);  // inside a live string: not a string start
    SysFreeString(keep + 5);

    EXPECT_EQ(Text(keep), Text(OLESTR("still here")));
    // A reallocation of a foreign pointer leaves it to its owner and gives a new string.
    BSTR replaced = foreign.chars;
    ASSERT_TRUE(SysReAllocString(&replaced, OLESTR("mine")));
    EXPECT_NE(replaced, foreign.chars);
    EXPECT_EQ(Text(foreign.chars), Text(OLESTR("abc")));
    EXPECT_EQ(Text(replaced), Text(OLESTR("mine")));
    SysFreeString(replaced);
    SysFreeString(keep);  // the leak check of the sanitizer build proves it is freed
}
#endif

}  // namespace
