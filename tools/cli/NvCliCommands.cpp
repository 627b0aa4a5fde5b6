#include "tools/cli/NvCliCommands.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <unordered_map>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "discovery/NvOPCAddressSpace.h"
#include "discovery/NvOPCServerList.h"
#include "foundation/NvConvert.h"
#include "foundation/NvEventLoop.h"
#include "foundation/NvExceptions.h"
#include "foundation/NvStringList.h"
#include "foundation/NvSysUtils.h"
#include "opc/NvOPCError.h"
#include "opc/NvOPCGroup.h"
#include "opc/NvOPCTransaction.h"
#include "platform/NvWide.h"

namespace nv::cli {

namespace {

using json = nlohmann::json;

// The group every command makes for itself on the server.
constexpr char kGroupName[] = "norvane-opc";

bool StderrIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(fileno(stderr)) != 0;
#endif
}

std::string CategoriesText(TNvOPCServerCategories categories) {
    const bool da1 = categories.Contains(opcscDataAccess10);
    const bool da2 = categories.Contains(opcscDataAccess20);
    if (da1 && da2)
        return "DA 1.0, 2.0";
    if (da2)
        return "DA 2.0";
    if (da1)
        return "DA 1.0";
    return "";
}

json CategoriesJson(TNvOPCServerCategories categories) {
    json list = json::array();
    if (categories.Contains(opcscDataAccess10))
        list.push_back("DA1.0");
    if (categories.Contains(opcscDataAccess20))
        list.push_back("DA2.0");
    return list;
}

VARIANT TextVariant(const std::string& text) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(ToWide(text).c_str());
    return v;
}

// Clears the variant when it goes out of scope.
struct VariantHolder {
    VARIANT value;
    explicit VariantHolder(VARIANT v) : value(v) {}
    ~VariantHolder() { VariantClear(&value); }
    VariantHolder(const VariantHolder&) = delete;
    VariantHolder& operator=(const VariantHolder&) = delete;
};

// Adds the items in one batch. Items the server refuses are reported in the core's words and
// stay in the group unconnected; the result tells whether every item was accepted.
bool AddItemsReporting(TNvOPCGroup& group, const std::vector<std::string>& ids) {
    group.SetAcceptInvalidItems(false);
    try {
        group.AddItems(ids);
    } catch (const ENvOPCException& e) {
        ReportError(e.what());
        return false;
    }
    return true;
}

// One group of the command, set up before it is attached so that AddGroup carries the settings.
std::unique_ptr<TNvOPCGroup> NewGroup(TNvOPCServer& server, bool active, DWORD rate) {
    auto group = std::make_unique<TNvOPCGroup>();
    group->SetGroupName(kGroupName);
    group->SetSyncTimerEnabled(false);
    group->SetUpdateRate(rate);
    group->SetActive(active);
    group->SetServer(&server);
    return group;
}

std::string StampText(const TNvOPCServer& server, const FILETIME& stamp) {
    return FormatDateTime(server.Log()->DateTimeFormat(), FileTimeToDateTime(stamp));
}

// One entry of a finished transaction as a JSON object.
json EntryJson(const TNvOPCServer& server, const TNvOPCTransaction& t, int i) {
    json entry;
    entry["item"] = t.ItemIDOf(i);
    entry["clientHandle"] = static_cast<std::int64_t>(static_cast<LONG>(t.ClientHandles(i)));
    entry["serverHandle"] = static_cast<std::int64_t>(static_cast<LONG>(t.ServerHandles(i)));
    const VARIANT& value = t.Values(i);
    entry["value"] = VariantToStr(value);
    entry["type"] = VarTypeToStr(value.vt);
    if (const auto* read = dynamic_cast<const TNvOPCReadTransaction*>(&t)) {
        entry["time"] = StampText(server, read->Timestamps(i));
        entry["quality"] = QualityToStr(read->Qualities(i));
        entry["qualityCode"] = read->Qualities(i);
    }
    const HRESULT error = t.GetErrors(i);
    entry["error"] = HexCode(error);
    entry["errorName"] = GetOPCErrorName(error);
    return entry;
}

// What a finished transaction leaves for the output: its text as the log writes it, and the
// same as a JSON object. Taken inside the completion event, before the transaction is reused.
struct TransactionRecord {
    std::string Text;
    json Object;
    bool AnyEntryFailed = false;
};

TransactionRecord Record(const TNvOPCServer& server, const TNvOPCTransaction& t) {
    TransactionRecord record;
    record.Text = t.AsString(server.Log()->DateTimeFormat(), true);
    record.Object["transaction"] = static_cast<std::int64_t>(t.ID());
    record.Object["group"] = t.Group() != nullptr ? t.Group()->GetGroupName() : std::string();
    record.Object["kind"] = TransactionKindName(t.Kind());
    record.Object["itemCount"] = t.Count();
    record.Object["result"] = HexCode(t.ResultCode());
    record.Object["resultName"] = GetOPCErrorName(t.ResultCode());
    json items = json::array();
    for (int i = 0; i < t.Count(); ++i) {
        items.push_back(EntryJson(server, t, i));
        record.AnyEntryFailed = record.AnyEntryFailed || FAILED(t.GetErrors(i));
    }
    record.Object["items"] = std::move(items);
    record.Object["text"] = record.Text;
    return record;
}

void Print(TNvCliOutput& out, const TransactionRecord& record) {
    if (out.Json()) {
        out.Object(record.Object);
        return;
    }
    for (const std::string& line : SplitLines(record.Text))
        out.Text(line);
}

}  // namespace

VARTYPE ParseTypeName(const std::string& name) {
    static const std::pair<const char*, VARTYPE> kVtNames[] = {
        {"VT_EMPTY", VT_EMPTY}, {"VT_I2", VT_I2},      {"VT_I4", VT_I4},     {"VT_R4", VT_R4},
        {"VT_R8", VT_R8},       {"VT_CY", VT_CY},      {"VT_DATE", VT_DATE}, {"VT_BSTR", VT_BSTR},
        {"VT_BOOL", VT_BOOL},   {"VT_I1", VT_I1},      {"VT_UI1", VT_UI1},   {"VT_UI2", VT_UI2},
        {"VT_UI4", VT_UI4},     {"VT_I8", VT_I8},      {"VT_UI8", VT_UI8},   {"VT_INT", VT_INT},
        {"VT_UINT", VT_UINT},   {"VT_ERROR", VT_ERROR}};
    for (int t = vdtDefault; t < vdtUnsupported; ++t) {
        const auto type = static_cast<TNvVarDataType>(t);
        if (SameText(name, NvVarDataTypeName(type)) || SameText(name, NvVarDataTypeIdent(type)))
            return NvVarDataTypeToVarType(type);
    }
    for (const auto& [text, vt] : kVtNames)
        if (SameText(name, text))
            return vt;
    if (!name.empty() && std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
        name.size() < 6) {
        const int number = std::stoi(name);
        if (number <= 0xFFFF)
            return static_cast<VARTYPE>(number);
    }
    std::string words;
    for (int t = vdtDefault; t < vdtUnsupported; ++t)
        words += (words.empty() ? "" : ", ") + NvVarDataTypeName(static_cast<TNvVarDataType>(t));
    throw EConvertError("Unknown data type '" + name + "'; use one of " + words + ", or a VT_ name");
}

// ---- servers

int RunServers(const TNvCliServersOptions& options, TNvCliOutput& out) {
    TNvOPCServerList list;
    TNvOPCServerCategories categories;
    if (options.DA1)
        categories.Include(opcscDataAccess10);
    if (options.DA2)
        categories.Include(opcscDataAccess20);
    if (!options.DA1 && !options.DA2)
        categories = {opcscDataAccess10, opcscDataAccess20};
    list.SetCategories(categories);
    list.SetUseRegistry(options.Registry);
    list.Connect(options.Host);
    for (int i = 0; i < list.Count(); ++i) {
        const TNvOPCServerDetails* details = list.GetDetails(i);
        if (out.Json()) {
            out.Object({{"progID", details->ProgID},
                        {"clsid", list.Strings(i)},
                        {"description", details->Description},
                        {"categories", CategoriesJson(details->Categories)},
                        {"vendor", details->Vendor},
                        {"host", details->Host}});
        } else {
            out.Text(details->ProgID + "\t" + list.Strings(i) + "\t" + details->Description + "\t" +
                     CategoriesText(details->Categories));
        }
    }
    if (list.Count() == 0)
        ReportError("No OPC DA servers found on '" + list.Host() + "'");
    return kExitOk;
}

// ---- status

int RunStatus(const TNvCliServerOptions& options, TNvCliOutput& out) {
    auto server = std::make_unique<TNvOPCServer>();
    std::vector<std::string> errors;
    server->SetStatusInterval(0);
    if (!options.Host.empty())
        server->SetHost(options.Host);
    server->SetServerName(options.Server);
    server->SetConnected(true);
    // The first poll ran while connecting; its failure is swallowed there, so this one, with a
    // handler that records the server's answer, tells why there is no status.
    if (server->Status().dwServerState == 0) {
        server->OnError = [&](TObject*, ENvOPCError& error) { errors.push_back(error.what()); };
        server->StatusRefresh();
        server->OnError = nullptr;
    }
    const OPCSERVERSTATUS status = server->Status();
    if (status.dwServerState == 0) {
        for (const std::string& e : errors)
            ReportError(e);
        if (errors.empty())
            ReportError("The server gave no status.");
        return kExitFailed;
    }
    TNvStringList lines;
    ServerStatusToStrings(status, lines);
    if (out.Json()) {
        json object;
        for (int i = 0; i < lines.Count(); ++i)
            object[lines.Names(i)] = lines.ValueFromIndex(i);
        object["ServerStateCode"] = static_cast<std::int64_t>(status.dwServerState);
        out.Object(object);
    } else {
        for (int i = 0; i < lines.Count(); ++i)
            out.Text(lines.Strings(i));
    }
    server->SetConnected(false);
    return kExitOk;
}

// ---- browse

int RunBrowse(const TNvCliBrowseOptions& options, TNvCliOutput& out) {
    auto server = ConnectServer(options.Server);
    server->SetAutoUpdateAddressSpace(false);
    TNvOPCAddressSpace* space = server->AddressSpace();

    // Progress for a person watching: the branch being browsed and the nodes so far, at most a
    // few times a second, and only on a terminal (a log file gets no carriage-return noise).
    const bool progress = StderrIsTerminal();
    auto lastShown = std::chrono::steady_clock::now();
    bool shown = false;
    server->OnBrowseAddressSpace = [&](TObject*, int, const std::string& path, const std::string& branch,
                                       TNvOPCAddressSpaceBrowseAction& action) {
        if (Interrupted()) {
            action = baCancel;
            return;
        }
        if (!progress)
            return;
        auto now = std::chrono::steady_clock::now();
        if (now - lastShown < std::chrono::milliseconds(200))
            return;
        lastShown = now;
        shown = true;
        std::string where = path.empty() ? branch : path + "/" + branch;
        if (where.size() > 50)
            where = "..." + where.substr(where.size() - 47);
        std::fprintf(stderr, "\rBrowsing %d nodes, at %-50s", space->Count(), where.c_str());
        std::fflush(stderr);
    };
    auto endProgress = [&] {
        if (shown)
            std::fprintf(stderr, "\r%*s\r", 70, "");
    };
    try {
        if (options.Flat && space->Mode() != amFlat)
            space->SetMode(amFlat);
        else
            space->Update();
    } catch (...) {
        endProgress();
        throw;
    }
    endProgress();

    if (!options.ExportFile.empty()) {
        space->SaveToFile(options.ExportFile);
        if (out.Json())
            out.Object({{"exported", options.ExportFile}, {"nodes", space->Count()}});
        else
            out.Text(Format("%d nodes exported to %s", space->Count(), options.ExportFile));
    } else {
        for (int i = 0; i < space->Count(); ++i) {
            if (out.Json()) {
                out.Object({{"path", space->PathOfIndex(i)},
                            {"name", space->Strings(i)},
                            {"level", space->Levels(i)},
                            {"leaf", space->SpaceNodes(i)->IsLeaf()}});
            } else {
                out.Text(space->PathOfIndex(i));
            }
        }
    }
    server->SetConnected(false);
    return kExitOk;
}

// ---- read

int RunRead(const TNvCliReadOptions& options, TNvCliOutput& out) {
    auto server = ConnectServer(options.Server);
    auto group = NewGroup(*server, true, 1000);
    if (options.Device)
        group->SetDataSource(opcdsDevice);
    bool allAccepted = AddItemsReporting(*group, options.Items);

    std::optional<TransactionRecord> record;
    std::string failure;
    group->OnReadCompleted = [&](TObject*, TNvOPCTransaction* t) { record = Record(*server, *t); };
    group->OnTransactionError = [&](TObject*, TNvOPCTransaction* t) {
        failure = t != nullptr ? "The server reported a failed read: " + ResultText(t->ResultCode())
                               : std::string("The server reported a failed read.");
    };

    TNvOPCTransaction* t = group->StartTransaction(tkRead);
    for (int i = 0; i < group->ItemCount(); ++i)
        if (group->Items(i)->GetConnected())
            t->Add(group->Items(i));
    if (t->Count() == 0) {
        t->Rollback();
        ReportError("No item to read.");
        return kExitFailed;
    }
    if (options.Async)
        group->RegisterDataChange();
    try {
        t->Commit(options.Async);
    } catch (...) {
        t->Rollback();
        throw;
    }
    if (options.Async &&
        !PumpUntil([&] { return record.has_value() || !failure.empty(); }, options.TimeoutMs)) {
        t->Rollback();
        ReportError(Interrupted() ? std::string("Interrupted.")
                                  : Format("No answer to the read within %d ms.", options.TimeoutMs));
        return kExitFailed;
    }
    if (!failure.empty()) {
        ReportError(failure);
        return kExitFailed;
    }
    Print(out, *record);
    group.reset();
    server->SetConnected(false);
    return allAccepted && !record->AnyEntryFailed ? kExitOk : kExitFailed;
}

// ---- write

int RunWrite(const TNvCliWriteOptions& options, TNvCliOutput& out) {
    // The type is checked before anything is connected: bad usage costs no server round trip.
    const VARTYPE type = options.Type.empty() ? VARTYPE(VT_EMPTY) : ParseTypeName(options.Type);
    auto server = ConnectServer(options.Server);
    auto group = NewGroup(*server, true, 1000);
    // The type is the item's requested data type: the value goes out in it, and the server
    // converts from it (or refuses the item when it cannot give it in that type).
    group->SetAcceptInvalidItems(false);
    group->SetAutoConnectItems(false);
    TNvOPCItem* item = group->AddItem(options.Item);
    if (type != VT_EMPTY)
        item->SetRequestedDataType(type);
    try {
        group->SetAutoConnectItems(true);
    } catch (const ENvOPCException& e) {
        ReportError(e.what());
        return kExitFailed;
    }

    std::optional<TransactionRecord> record;
    std::string failure;
    group->OnWriteCompleted = [&](TObject*, TNvOPCTransaction* t) { record = Record(*server, *t); };
    group->OnTransactionError = [&](TObject*, TNvOPCTransaction* t) {
        failure = t != nullptr ? "The server reported a failed write: " + ResultText(t->ResultCode())
                               : std::string("The server reported a failed write.");
    };

    VariantHolder text(TextVariant(options.Value));
    std::string refused;
    try {
        group->WriteItem(item, text.value, true, options.Async);
    } catch (const ENvOPCError& e) {
        // Refused by the server: the transaction has been recorded; its text comes first.
        if (!record)
            throw;
        refused = e.what();
    }
    if (refused.empty() && options.Async &&
        !PumpUntil([&] { return record.has_value() || !failure.empty(); }, options.TimeoutMs)) {
        ReportError(Interrupted() ? std::string("Interrupted.")
                                  : Format("No answer to the write within %d ms.", options.TimeoutMs));
        return kExitFailed;
    }
    if (!failure.empty()) {
        ReportError(failure);
        return kExitFailed;
    }
    Print(out, *record);
    if (!refused.empty()) {
        ReportError(refused);
        return kExitFailed;
    }
    group.reset();
    server->SetConnected(false);
    return record->AnyEntryFailed ? kExitFailed : kExitOk;
}

// ---- watch

namespace {

// Turns finished transactions into one line per changed entry. A synchronous group reads every
// item at every tick; an entry that reads exactly as the item's last one is no change and is
// not printed. A subscription only reports changes, and each is printed.
class TWatchPrinter {
public:
    TWatchPrinter(const TNvOPCServer& server, TNvCliOutput& out, bool onlyChanges)
        : format_(server.Log()->DateTimeFormat()), out_(out), onlyChanges_(onlyChanges) {}

    void Print(const TNvOPCTransaction& t) {
        const auto* read = dynamic_cast<const TNvOPCReadTransaction*>(&t);
        if (read == nullptr)
            return;
        for (int i = 0; i < read->Count(); ++i) {
            const FILETIME stamp = read->Timestamps(i);
            const WORD quality = read->Qualities(i);
            const HRESULT error = read->GetErrors(i);
            const VARIANT& value = read->Values(i);
            std::string valueText = VariantToStr(value);
            if (onlyChanges_) {
                Last& last = last_[read->ClientHandles(i)];
                const std::uint64_t ticks =
                    (static_cast<std::uint64_t>(stamp.dwHighDateTime) << 32) | stamp.dwLowDateTime;
                if (last.seen && last.stamp == ticks && last.quality == quality && last.error == error &&
                    last.value == valueText)
                    continue;
                last = Last{true, ticks, quality, error, valueText};
            }
            const std::string time = FormatDateTime(format_, FileTimeToDateTime(stamp));
            const std::string id = read->ItemIDOf(i);
            const std::string qualityText = FAILED(error)
                                                ? Format("ErrorCode=%x (%s)", error, GetOPCErrorName(error))
                                                : QualityToStr(quality);
            if (out_.Json()) {
                json line = {{"time", time},           {"item", id},
                             {"value", valueText},     {"type", VarTypeToStr(value.vt)},
                             {"quality", qualityText}, {"qualityCode", quality}};
                if (FAILED(error))
                    line["error"] = HexCode(error);
                out_.Object(line);
            } else {
                line_.clear();
                line_.append(time).append(1, '\t').append(id).append(1, '\t').append(valueText);
                line_.append(1, '\t').append(qualityText);
                out_.Text(line_);
            }
            ++lines_;
        }
    }
    long long Lines() const { return lines_; }

private:
    struct Last {
        bool seen = false;
        std::uint64_t stamp = 0;
        WORD quality = 0;
        HRESULT error = S_OK;
        std::string value;
    };
    std::string format_;
    TNvCliOutput& out_;
    bool onlyChanges_;
    std::unordered_map<OPCHANDLE, Last> last_;
    std::string line_;
    long long lines_ = 0;
};

}  // namespace

int RunWatch(const TNvCliWatchOptions& options, TNvCliOutput& out) {
    // The status poll notices a server that stops running while the watch goes on.
    auto server = ConnectServer(options.Server, 10000);
    auto group = std::make_unique<TNvOPCGroup>();
    group->SetGroupName(kGroupName);
    group->SetUpdateRate(options.Rate);
    group->SetPercentDeadband(options.Deadband);
    group->SetActive(true);
    group->SetAsync(options.Async);
    TWatchPrinter printer(*server, out, !options.Async);
    std::string failure;
    if (options.Async)
        group->OnDataChange = [&](TObject*, TNvOPCTransaction* t) { printer.Print(*t); };
    else
        group->OnReadCompleted = [&](TObject*, TNvOPCTransaction* t) { printer.Print(*t); };
    group->OnTransactionError = [&](TObject*, TNvOPCTransaction* t) {
        failure = "The server reported a failed data change" +
                  (t != nullptr ? ": " + ResultText(t->ResultCode()) : std::string("."));
    };
    server->OnShutDown = [&](TObject*, const std::string& reason) {
        failure = Format("Shutdown from %s.  Reason=%s", server->ServerName(), reason);
    };
    group->SetServer(server.get());
    const bool allAccepted = AddItemsReporting(*group, options.Items);
    bool anyConnected = false;
    for (int i = 0; i < group->ItemCount(); ++i)
        anyConnected = anyConnected || group->Items(i)->GetConnected();
    if (!anyConnected) {
        ReportError("No item to watch.");
        return kExitFailed;
    }

    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::milliseconds(static_cast<long long>(options.Seconds * 1000));
    while (!Interrupted() && !out.Failed() && failure.empty()) {
        int wait = 100;
        if (options.Seconds > 0) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
            if (left <= 0)
                break;
            wait = static_cast<int>(std::min<long long>(left, wait));
        }
        WaitAndProcess(wait);
        // Lines reach a pipe while the watch runs, not only when the buffer is full.
        out.Flush();
    }
    // Clean end: the group is removed from the server, then the server released.
    group.reset();
    server->SetConnected(false);
    out.Flush();
    if (!failure.empty()) {
        ReportError(failure);
        return kExitFailed;
    }
    return allAccepted ? kExitOk : kExitFailed;
}

}  // namespace nv::cli
