// The bytes of an INI-style text file as the profile functions and the configuration file keep
// them: the encoding its byte-order mark gives, and its lines each with its own ending, so that
// writing the lines back gives the same bytes and an edit changes only the lines it touches.
// Header-only and identical on both systems.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/NvWide.h"

namespace nv {

enum class TextEncoding { Utf8, Utf8Bom, Utf16Le };

struct TextLine {
    std::string text;    // without its ending; UTF-8
    std::string ending;  // "\r\n", "\n", "\r" or "" (a last line without one)
};

// The file's text as UTF-8 and the encoding it was found in: UTF-16LE after FF FE (an odd last
// byte is dropped), UTF-8 after EF BB BF, and UTF-8 (the bytes as they are) otherwise.
inline std::string DecodeText(std::string_view bytes, TextEncoding& encoding) {
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        encoding = TextEncoding::Utf16Le;
        WideString wide;
        wide.reserve((bytes.size() - 2) / 2);
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
            wide.push_back(static_cast<WCHAR>(static_cast<unsigned char>(bytes[i]) |
                                              (static_cast<unsigned char>(bytes[i + 1]) << 8)));
        return ToUtf8(wide);
    }
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        encoding = TextEncoding::Utf8Bom;
        return std::string(bytes.substr(3));
    }
    encoding = TextEncoding::Utf8;
    return std::string(bytes);
}

// The bytes of UTF-8 text in the encoding, with its byte-order mark.
inline std::string EncodeText(const std::string& utf8, TextEncoding encoding) {
    switch (encoding) {
        case TextEncoding::Utf8:
            return utf8;
        case TextEncoding::Utf8Bom:
            return "\xEF\xBB\xBF" + utf8;
        case TextEncoding::Utf16Le: {
            WideString wide = ToWide(utf8);
            std::string out("\xFF\xFE", 2);
            out.reserve(2 + wide.size() * 2);
            for (WCHAR c : wide) {
                out.push_back(static_cast<char>(c & 0xFF));
                out.push_back(static_cast<char>((static_cast<unsigned>(c) >> 8) & 0xFF));
            }
            return out;
        }
    }
    return utf8;
}

// "\r\n", "\n" and a lone "\r" each end a line.
inline std::vector<TextLine> SplitTextLines(std::string_view text) {
    std::vector<TextLine> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find_first_of("\r\n", pos);
        TextLine line;
        if (end == std::string_view::npos) {
            line.text = std::string(text.substr(pos));
            pos = text.size();
        } else {
            line.text = std::string(text.substr(pos, end - pos));
            if (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') {
                line.ending = "\r\n";
                pos = end + 2;
            } else {
                line.ending = std::string(1, text[end]);
                pos = end + 1;
            }
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

inline void AppendTextLine(std::string& utf8, const TextLine& line) {
    utf8 += line.text;
    utf8 += line.ending;
}

}  // namespace nv
