// A ".noc" file as a user keeps it, edits it by hand or gets it from a colleague: loaded, saved
// over itself (which changes only its keys) and loaded again, which must give the same set-up.
#include <string>
#include <vector>

#include "app/Configuration.h"
#include "fuzz/entries/NvFuzzEntries.h"
#include "fuzz/entries/NvFuzzSupport.h"
#include "opc/NvOPCItem.h"

namespace nv::fuzz {

namespace {

// What a save must keep of a loaded set-up.
struct SetUp {
    std::vector<int> widths;
    std::string host;
    std::vector<std::string> groups;
    std::vector<std::vector<std::string>> items;
    std::vector<DWORD> rates;
    bool operator==(const SetUp&) const = default;
};

SetUp Describe(const TConfiguration& configuration) {
    SetUp setUp;
    for (int i = 0; i < TConfiguration::GridColCount; ++i)
        setUp.widths.push_back(configuration.GetGridColWidths(i));
    TNvOPCServer* server = configuration.Server();
    setUp.host = server->Host();
    for (int g = 0; g < server->GroupCount(); ++g) {
        auto* group = dynamic_cast<TNvOPCGroup*>(server->Groups(g));
        if (group == nullptr)
            continue;
        setUp.groups.push_back(group->GetGroupName());
        setUp.rates.push_back(group->UpdateRate());
        std::vector<std::string> ids;
        for (int i = 0; i < group->ItemCount(); ++i)
            ids.push_back(group->Items(i)->GetItemID() + "/" +
                          std::to_string(group->Items(i)->GetDataType()));
        setUp.items.push_back(std::move(ids));
    }
    return setUp;
}

}  // namespace

void NocFile(const std::uint8_t* data, std::size_t size) {
    const std::string path = ScratchFolder() + "/input.noc";
    WriteFile(path, std::string_view(reinterpret_cast<const char*>(data), size));
    SetUp loaded;
    {
        TConfiguration configuration;
        configuration.SetFileName(path);
        try {
            configuration.Load();
        } catch (const Exception&) {
            // A component refused what the file holds (a host or server it cannot find); what
            // was read so far stays, and the file is not saved over.
            return;
        }
        loaded = Describe(configuration);
        try {
            configuration.Save();
        } catch (const EArgumentException&) {
            return;
        }
    }
    TConfiguration again;
    again.SetFileName(path);
    again.Load();
    Check(Describe(again) == loaded, "a saved configuration loads as it was");
}

}  // namespace nv::fuzz
