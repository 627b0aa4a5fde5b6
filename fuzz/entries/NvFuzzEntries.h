// The entry functions of the fuzz targets. Each takes one input as raw bytes and hands it to one
// reader of outside data the way that data reaches the program: a server's DA 1.0a stream, a file
// a user or another system wrote, a text or value a server sent. A fuzzer calls one of them per
// input; the regression test replays every kept input through the same function, so a fault
// once found stays found by the ordinary test suite.
//
// An entry returns normally for any input. A fault shows as a sanitizer report, an exception that
// is not the reader's documented refusal, or an abort from a broken round trip (NvFuzzCheck).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace nv::fuzz {

using EntryFunction = void (*)(const std::uint8_t* data, std::size_t size);

struct Target {
    // The folder of its inputs under fuzz/corpus/ and fuzz/regressions/, and the fuzzer's name
    // (fuzz_<name>).
    std::string_view name;
    EntryFunction run;
};

// Every target.
std::span<const Target> Targets();

// The group's DA 1.0a data stream (with or without time stamps), then the values as the item
// grid shows them.
void DA1DataChange(const std::uint8_t* data, std::size_t size);
// The group's DA 1.0a write-complete stream.
void DA1WriteComplete(const std::uint8_t* data, std::size_t size);
// A registry-export file as a simulated host's registry, walked key by key and value by value.
void RegFile(const std::uint8_t* data, std::size_t size);
// A profile (INI) file read through the profile functions, with exact and too-small buffers.
void Profile(const std::uint8_t* data, std::size_t size);
// A ".noc" configuration file loaded, saved over itself and loaded again.
void NocFile(const std::uint8_t* data, std::size_t size);
// String-tree text loaded, walked, saved and loaded again.
void StringTree(const std::uint8_t* data, std::size_t size);
// An address-space export file loaded, walked, saved and loaded again.
void AddressSpace(const std::uint8_t* data, std::size_t size);
// Delimited, comma, path and line text of a string list, with the delimiter and quote character
// taken from the input.
void DelimitedText(const std::uint8_t* data, std::size_t size);
// An item-file table (a spreadsheet export) read cell by cell.
void StringTable(const std::uint8_t* data, std::size_t size);
// CLSID and IID text.
void ClsidText(const std::uint8_t* data, std::size_t size);
// Text converted to every scalar type under several locales and flags, and back to text.
void VariantChangeTypeFromText(const std::uint8_t* data, std::size_t size);
// A VARIANT built from the input (every type code, by-reference values, nested and
// multi-dimensional arrays with any bounds) shown as text, copied and converted.
void VariantText(const std::uint8_t* data, std::size_t size);

}  // namespace nv::fuzz
