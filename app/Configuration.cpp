#include "app/Configuration.h"

#include <cstdint>
#include <vector>

#include "app/ConfigurationFile.h"
#include "foundation/NvExceptions.h"
#include "foundation/NvSysUtils.h"
#include "opc/NvOPCError.h"

namespace nv {

namespace {

constexpr char kGrid[] = "Grid";
constexpr char kServer[] = "Server";
constexpr char kGroupPrefix[] = "Group";
constexpr char kItemPrefix[] = ".Item";

// The type a stored item asks for when its file names none (or none that is a type): none, so
// the server gives its canonical type. Asking for VT_UNKNOWN (13) instead would make every server
// refuse the item as of a bad type.
constexpr VARTYPE kDefaultDataType = VT_EMPTY;
// The group's locale then follows the server's (the system default locale).
constexpr DWORD kSystemDefaultLCID = 2048;

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Only the registry text form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" is a stored class: the
// system's own parser would also take a ProgID for one.
bool ParseRegistryGuid(const std::string& text, GUID& guid) {
    if (text.size() != 38 || text.front() != '{' || text.back() != '}')
        return false;
    std::uint8_t bytes[16];
    std::size_t n = 0;
    for (std::size_t i = 1; i < 37;) {
        if (i == 9 || i == 14 || i == 19 || i == 24) {
            if (text[i] != '-')
                return false;
            ++i;
            continue;
        }
        int hi = HexDigit(text[i]);
        int lo = HexDigit(text[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        bytes[n++] = static_cast<std::uint8_t>(hi * 16 + lo);
        i += 2;
    }
    guid.Data1 = (static_cast<std::uint32_t>(bytes[0]) << 24) | (static_cast<std::uint32_t>(bytes[1]) << 16) |
                 (static_cast<std::uint32_t>(bytes[2]) << 8) | bytes[3];
    guid.Data2 = static_cast<std::uint16_t>((bytes[4] << 8) | bytes[5]);
    guid.Data3 = static_cast<std::uint16_t>((bytes[6] << 8) | bytes[7]);
    for (int i = 0; i < 8; ++i)
        guid.Data4[i] = bytes[8 + i];
    return true;
}

// Rates and intervals are unsigned: a negative number in the file is as unreadable as a word.
DWORD ReadUnsigned(const TConfigurationFile& file, const std::string& section, const char* key,
                   DWORD fallback) {
    std::int32_t value = file.ReadInteger(section, key, -1);
    return value < 0 ? fallback : static_cast<DWORD>(value);
}

std::string ColumnKey(int column) {
    return Format("Col%d.Width", column);
}

std::string Numbered(const std::string& prefix, std::uint32_t number) {
    return prefix + std::to_string(number);
}

}  // namespace

TConfiguration::TConfiguration() : server_(std::make_unique<TNvOPCServer>(nullptr)) {
    server_->OnChange = [this](TObject* sender) { ServerChange(sender); };
    server_->SetOwnsGroups(true);
    server_->Log()->SetActive(true);
    ResetGridWidths(100);
    Reset();
}

TConfiguration::~TConfiguration() {
    // Tearing the server down changes it and its groups; nobody is to hear of that any more.
    OnServerChange = nullptr;
    server_->OnChange = nullptr;
    for (int i = 0; i < server_->GroupCount(); ++i)
        if (auto* group = dynamic_cast<TNvOPCGroup*>(server_->Groups(i)))
            group->OnConfigChange = nullptr;
    server_.reset();
}

int TConfiguration::GetGridColWidths(int index) const {
    if (index < 0 || index >= GridColCount)
        throw EListError(Format("List index out of bounds (%d)", index));
    return gridColWidths_[static_cast<std::size_t>(index)];
}

void TConfiguration::SetGridColWidths(int index, int width) {
    if (index < 0 || index >= GridColCount)
        throw EListError(Format("List index out of bounds (%d)", index));
    int& stored = gridColWidths_[static_cast<std::size_t>(index)];
    if (stored == width)
        return;
    stored = width;
    modified_ = true;
}

void TConfiguration::ResetGridWidths(int width) {
    for (int i = 0; i < GridColCount; ++i)
        SetGridColWidths(i, width);
}

void TConfiguration::ServerChange(TObject* sender) {
    modified_ = true;
    CallEvent(OnServerChange, this);
}

// ---- the document ---------------------------------------------------------------------------

void TConfiguration::Reset() {
    server_->Disconnect();
    // The server owns its groups: clearing it destroys them, last first.
    server_->Clear();
    server_->SetServerName("");
    modified_ = false;
}

void TConfiguration::New() {
    Reset();
    fileName_.clear();
}

void TConfiguration::Load() {
    // The file is read whole before anything is emptied, so that a file that cannot be read
    // leaves the configuration as it was.
    TConfigurationFile file = TConfigurationFile::Read(fileName_);
    Reset();
    ReadGridWidths(file);
    ReadServerParams(file);
    ReadGroups(file);
    modified_ = false;
}

void TConfiguration::Save() {
    if (fileName_.empty())
        throw EFCreateError("Cannot save the configuration: it has no file name");
    // The file's other lines and sections stay as they are; only the keys are written.
    TConfigurationFile file = TConfigurationFile::ReadToUpdate(fileName_);
    WriteGridWidths(file);
    WriteServerParams(file);
    WriteGroups(file);
    file.Write(fileName_);
    modified_ = false;
}

// ---- reading --------------------------------------------------------------------------------

void TConfiguration::ReadGridWidths(const TConfigurationFile& file) {
    for (int i = 0; i < GridColCount; ++i) {
        int held = GetGridColWidths(i);
        int width = file.ReadInteger(kGrid, ColumnKey(i), held);
        SetGridColWidths(i, width < 0 ? held : width);
    }
}

void TConfiguration::ReadServerParams(const TConfigurationFile& file) {
    // The host first, so that the name is resolved on that host.
    server_->SetHost(file.ReadString(kServer, "Host", ""));
    server_->SetServerName(file.ReadString(kServer, "ServerName", ""));
    // A stored class wins over the one the name gave; one that does not parse is ignored.
    CLSID clsid{};
    if (ParseRegistryGuid(file.ReadString(kServer, "ClassID", ""), clsid))
        server_->SetClassID(clsid);
    server_->Log()->SetActive(file.ReadBool(kServer, "Log", false));
}

void TConfiguration::ReadGroups(const TConfigurationFile& file) {
    std::int32_t count = file.ReadInteger(kServer, "GroupCount", 0);
    if (count <= 0)
        return;
    // The count is a claim of the file; the sections it actually holds bound what is read, and
    // sections beyond the count are never looked at.
    for (std::uint32_t i : file.NumberedSections(kGroupPrefix, static_cast<std::uint32_t>(count)))
        ReadGroup(file, Numbered(kGroupPrefix, i));
}

void TConfiguration::ReadGroup(const TConfigurationFile& file, const std::string& section) {
    auto group = std::make_unique<TNvOPCGroup>(nullptr);
    group->SetAcceptInvalidItems(acceptInvalidItems_);
    group->SetGroupName(file.ReadString(section, "Name", ""));
    group->SetActive(file.ReadBool(section, "Active", false));
    group->SetAsync(file.ReadBool(section, "Async", false));
    group->SetLocalTimeBias(file.ReadBool(section, "LocalTimeBias", false));
    // The stored time bias is the user's and stays.
    group->SetTimeBias(file.ReadInteger(section, "TimeBias", 0));
    group->SetUpdateRate(ReadUnsigned(file, section, "UpdateRate", 1000));
    group->SetAsyncRefreshInterval(ReadUnsigned(file, section, "AsyncRefreshInterval", 0));
    switch (file.ReadInteger(section, "DataSource", 1)) {
        case 1:
            group->SetDataSource(opcdsCache);
            break;
        case 2:
            group->SetDataSource(opcdsDevice);
            break;
        default:
            break;
    }
    // Not stored: these are always the defaults.
    group->SetPercentDeadband(0.0f);
    group->SetLCID(kSystemDefaultLCID);

    std::int32_t count = file.ReadInteger(section, "ItemCount", 0);
    if (count > 0) {
        const std::string prefix = section + kItemPrefix;
        for (std::uint32_t j : file.NumberedSections(prefix, static_cast<std::uint32_t>(count)))
            ReadItem(file, Numbered(prefix, j), group.get());
    }

    // Attaching makes the name unique among the server's groups. Once listed, the server owns
    // the group; until then it is destroyed here if anything fails.
    group->SetServer(server_.get());
    TNvOPCGroup* attached = group.release();
    attached->OnConfigChange = [this](TObject* sender) { ServerChange(sender); };
}

void TConfiguration::ReadItem(const TConfigurationFile& file, const std::string& section,
                              TNvOPCGroup* group) {
    TNvOPCItem* item = group->AddItem(file.ReadString(section, "ItemID", ""));
    std::int32_t type = file.ReadInteger(section, "DataType", kDefaultDataType);
    if (type < 0 || type > 0xFFFF)
        type = kDefaultDataType;
    item->SetDataType(static_cast<VARTYPE>(type));
    item->SetActive(file.ReadBool(section, "Active", false));
}

// ---- writing --------------------------------------------------------------------------------

void TConfiguration::WriteGridWidths(TConfigurationFile& file) const {
    for (int i = 0; i < GridColCount; ++i)
        file.WriteInteger(kGrid, ColumnKey(i), GetGridColWidths(i));
}

void TConfiguration::WriteServerParams(TConfigurationFile& file) const {
    file.WriteString(kServer, "Host", server_->Host());
    file.WriteString(kServer, "ClassID", GuidToRegistryString(server_->ClassID()));
    file.WriteString(kServer, "ServerName", server_->ServerName());
    file.WriteBool(kServer, "Log", server_->Log()->Active());
}

void TConfiguration::WriteGroups(TConfigurationFile& file) const {
    std::vector<const TNvOPCGroup*> groups;
    for (int i = 0; i < server_->GroupCount(); ++i)
        if (const auto* group = dynamic_cast<const TNvOPCGroup*>(server_->Groups(i)))
            groups.push_back(group);
    file.WriteInteger(kServer, "GroupCount", static_cast<std::int64_t>(groups.size()));
    for (std::size_t i = 0; i < groups.size(); ++i)
        WriteGroup(file, Numbered(kGroupPrefix, static_cast<std::uint32_t>(i)), groups[i]);
}

void TConfiguration::WriteGroup(TConfigurationFile& file, const std::string& section,
                                const TNvOPCGroup* group) const {
    file.WriteString(section, "Name", group->GetGroupName());
    file.WriteBool(section, "Active", group->Active());
    file.WriteBool(section, "Async", group->Async());
    file.WriteBool(section, "LocalTimeBias", group->LocalTimeBias());
    file.WriteInteger(section, "TimeBias", group->TimeBias());
    file.WriteInteger(section, "UpdateRate", group->UpdateRate());
    file.WriteInteger(section, "AsyncRefreshInterval", group->AsyncRefreshInterval());
    file.WriteInteger(section, "DataSource", ToOPCDataSource(group->DataSource()));
    file.WriteInteger(section, "ItemCount", group->ItemCount());
    const std::string prefix = section + kItemPrefix;
    for (int j = 0; j < group->ItemCount(); ++j)
        WriteItem(file, Numbered(prefix, static_cast<std::uint32_t>(j)), group->Items(j));
}

void TConfiguration::WriteItem(TConfigurationFile& file, const std::string& section,
                               const TNvOPCItem* item) const {
    file.WriteString(section, "ItemID", item->GetItemID());
    file.WriteInteger(section, "DataType", item->GetDataType());
    file.WriteBool(section, "Active", item->GetActive());
}

}  // namespace nv
