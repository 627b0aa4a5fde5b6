// Class and interface identifiers as text: typed by a user, read from a configuration file or a
// registry key. Text that parses names a GUID that prints and parses back to itself.
#include <memory>

#include "fuzz/entries/NvFuzzEntries.h"
#include "fuzz/entries/NvFuzzSupport.h"
#include "opc/NvOPCError.h"
#include "platform/NvWide.h"
#include "platform/win32.h"

namespace nv::fuzz {

void ClsidText(const std::uint8_t* data, std::size_t size) {
    ScratchFolder();
    ByteReader in(data, size);
    const bool utf16 = in.Bool();
    const int shortSize = in.Byte() % 39;
    const std::string_view rest = in.Rest();
    WideString text;
    if (utf16) {
        for (std::size_t i = 0; i + 1 < rest.size(); i += 2)
            text.push_back(static_cast<WCHAR>(static_cast<std::uint8_t>(rest[i]) |
                                              (static_cast<std::uint8_t>(rest[i + 1]) << 8)));
    } else {
        text = ToWide(rest);
    }
    CLSID clsid{};
    const bool parsed = SUCCEEDED(CLSIDFromString(text.c_str(), &clsid));
    IID iid{};
    IIDFromString(text.c_str(), &iid);
    if (!parsed)
        return;
    WCHAR printed[39];
    Check(StringFromGUID2(clsid, printed, 39) == 39, "a GUID prints in 38 characters and a null");
    CLSID again{};
    Check(SUCCEEDED(CLSIDFromString(printed, &again)) && IsEqualGUID(again, clsid),
          "a printed GUID parses back");
    // Too small a buffer is refused without a write past it.
    std::unique_ptr<WCHAR[]> small(new WCHAR[shortSize]);
    Check(StringFromGUID2(clsid, small.get(), shortSize) == 0, "a GUID does not print into a short buffer");
    GuidToRegistryString(clsid);
}

}  // namespace nv::fuzz
