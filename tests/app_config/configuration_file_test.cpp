// The configuration file's own line rules, where they decide what a hand-edited file means.
#include <gtest/gtest.h>

#include "app/ConfigurationFile.h"

namespace {

using nv::TConfigurationFile;

TEST(ConfigurationFile, TheFirstOfTwoSectionsOrKeysIsTheOneReadAndWritten) {
    TConfigurationFile file =
        TConfigurationFile::FromBytes("[S]\rK=first\rK=second\r[s]\rK=third\rOther=x\r");
    EXPECT_EQ(file.ReadString("S", "k", ""), "first");
    EXPECT_EQ(file.ReadString("S", "Other", "none"), "none");
    file.WriteString("s", "K", "new");
    file.WriteString("S", "Added", "1");
    EXPECT_EQ(file.ToBytes(), "[S]\rK=new\rK=second\rAdded=1\r[s]\rK=third\rOther=x\r");
}

TEST(ConfigurationFile, NewKeysGoAfterTheLastKeyAndALastLineGetsItsEnding) {
    TConfigurationFile file = TConfigurationFile::FromBytes("[A]\nX=1\n\n; about B\n[B]\nY=2");
    file.WriteString("A", "Z", "3");
    file.WriteString("B", "W", "4");
    file.WriteString("C", "V", "5");
    EXPECT_EQ(file.ToBytes(), "[A]\nX=1\nZ=3\n\n; about B\n[B]\nY=2\nW=4\n[C]\nV=5\n");
}

TEST(ConfigurationFile, ValuesTheReaderWouldTrimAreQuoted) {
    TConfigurationFile file;
    file.WriteString("S", "Blanks", " a ");
    file.WriteString("S", "Quotes", "'a'");
    file.WriteString("S", "Inner", "a \"b\" c");
    EXPECT_EQ(file.ToBytes(), "[S]\r\nBlanks=\" a \"\r\nQuotes=\"'a'\"\r\nInner=a \"b\" c\r\n");
    TConfigurationFile again = TConfigurationFile::FromBytes(file.ToBytes());
    EXPECT_EQ(again.ReadString("S", "Blanks", ""), " a ");
    EXPECT_EQ(again.ReadString("S", "Quotes", ""), "'a'");
    EXPECT_EQ(again.ReadString("S", "Inner", ""), "a \"b\" c");
}

}  // namespace
