// What the entry functions share: a reader that takes the choices of an input from its first
// bytes, the check that stops a run on a broken round trip, and the scratch folder for inputs
// that only arrive as files.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace nv::fuzz {

// Takes choices from the front of an input; past its end every choice is zero, so any input,
// however short, is a valid one.
class ByteReader {
public:
    ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    bool Bool() { return (Byte() & 1) != 0; }
    template <class T>
    T Value() {
        T value{};
        const std::size_t n = std::min(sizeof(T), Remaining());
        if (n > 0)
            std::memcpy(&value, data_ + pos_, n);
        pos_ += n;
        return value;
    }
    // 0 .. count - 1.
    std::size_t Pick(std::size_t count) { return count == 0 ? 0 : Value<std::uint16_t>() % count; }
    // Up to `limit` bytes: their count comes first.
    std::string_view Bytes(std::size_t limit) {
        const std::size_t n = std::min<std::size_t>(Byte() % (limit + 1), Remaining());
        std::string_view bytes(reinterpret_cast<const char*>(data_ + pos_), n);
        pos_ += n;
        return bytes;
    }
    std::string_view Rest() {
        std::string_view rest(reinterpret_cast<const char*>(data_ + pos_), Remaining());
        pos_ = size_;
        return rest;
    }
    std::size_t Remaining() const { return size_ - pos_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// Aborts with the reason when a property that must hold for every input does not.
void Check(bool condition, const char* what);

// A private folder for this process, removed when it exits. XDG_CONFIG_HOME points into it, so
// that the registry and configuration files of the user running the fuzzer never take part.
const std::string& ScratchFolder();
// Replaces the file with exactly these bytes.
void WriteFile(const std::string& path, std::string_view bytes);

}  // namespace nv::fuzz
