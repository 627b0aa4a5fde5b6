// The configuration's INI file held in memory: read in one pass, looked up and changed key by
// key, and written back whole, in one replacement of the file.
//
// The lines follow the rules of the system's profile-file functions, so that a file either of
// them writes reads the same through the other:
//   blank                      nothing
//   ";..."                     comment, never a key
//   "[name]..."                section header (text after the last "]" is ignored)
//   "name = value"             key; name and value trimmed of blanks, a value in matching single
//                              or double quotes read without them
//   anything else              kept as it is, never a key
// Names match without regard to case; the first of two sections or keys of one name is the one
// read and written. A write changes only the line of its key (a new key goes after the last key
// of its section, a new section at the end), so every other line of a file comes back as it was.
//
// Why not the profile functions themselves: each of their calls reads (and each write rewrites)
// the whole file, so a configuration of a hundred thousand items would take hours to load and
// save; a save would be as many separate replacements of the file as it has keys, not one; and
// on Windows a new file would be written in the ANSI code page, losing every item ID that it
// cannot spell.
//
// Encodings: UTF-8 with or without a byte-order mark, and UTF-16LE with its mark (what Windows
// editors write); a file keeps its encoding and its line endings when written back. A new file is
// UTF-8 with CR LF line endings, which the profile functions of both systems read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/NvTextFile.h"

namespace nv {

class TConfigurationFile {
public:
    TConfigurationFile() = default;

    // Reads the file. A missing file is an empty one; a file that exists but cannot be read (no
    // permission, a folder, a read error) raises EFOpenError naming the file and the reason.
    static TConfigurationFile Read(const std::string& path);
    // The same, to be changed and written back: a file that cannot be read raises EFCreateError.
    static TConfigurationFile ReadToUpdate(const std::string& path);

    // The file as a new one would be written, or as its bytes decode.
    static TConfigurationFile FromBytes(std::string_view bytes);
    std::string ToBytes() const;

    // Replaces the file by these contents in one step: they are written to a new file beside it,
    // which then takes the old file's place, so a failure at any point leaves the old file as
    // it was. A read-only file is not replaced. Raises EFCreateError naming the file and the
    // reason.
    void Write(const std::string& path) const;

    bool SectionExists(std::string_view section) const;
    // False when the section or the key is missing.
    bool ReadString(std::string_view section, std::string_view key, std::string& value) const;
    std::string ReadString(std::string_view section, std::string_view key, const std::string& fallback) const;
    // Decimal, or hexadecimal after "$" or "0x"; a missing value, or one that is not a 32-bit
    // integer as a whole, gives the fallback.
    std::int32_t ReadInteger(std::string_view section, std::string_view key, std::int32_t fallback) const;
    // True when the value reads as a non-zero integer.
    bool ReadBool(std::string_view section, std::string_view key, bool fallback) const;

    // Section names of the form prefix + decimal number (no leading zeros), number below `limit`:
    // their numbers, ascending. What a count in the file may claim is bounded by this.
    std::vector<std::uint32_t> NumberedSections(std::string_view prefix, std::uint32_t limit) const;

    // A value with a line break cannot be one line of the file: EArgumentException.
    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void WriteInteger(std::string_view section, std::string_view key, std::int64_t value);
    void WriteBool(std::string_view section, std::string_view key, bool value);

private:
    using Encoding = nv::TextEncoding;
    using Line = nv::TextLine;
    struct Section {
        std::string name;  // trimmed
        Line header;
        std::vector<Line> lines;
    };

    // The file's bytes (none for a missing file), or false with the reason it cannot be read.
    static bool ReadBytes(const std::string& path, std::string& bytes, std::string& reason);
    const Section* FindSection(std::string_view name) const;
    const std::string& Ending() const;

    Encoding encoding_ = Encoding::Utf8;
    // Lines before the first section header.
    std::vector<Line> preamble_;
    std::vector<Section> sections_;
    // Case-folded name -> the first section of that name.
    std::unordered_map<std::string, std::size_t> index_;
    // The section found last.
    mutable std::size_t lastFound_ = static_cast<std::size_t>(-1);
    std::string ending_ = "\r\n";
    // Case-folded prefix -> the numbers of its numbered sections, ascending; built on first use.
    mutable bool numberedValid_ = false;
    mutable std::unordered_map<std::string, std::vector<std::uint32_t>> numbered_;
};

}  // namespace nv
