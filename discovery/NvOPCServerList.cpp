#include "discovery/NvOPCServerList.h"

#include "opc/NvOPCObject.h"

#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <vector>

#include "foundation/NvExceptions.h"
#include "foundation/NvHostNames.h"
#include "foundation/NvSysUtils.h"
#include "opc/NvOPCError.h"

namespace nv {

namespace {

const GUID& CategoryID(TNvOPCServerCategory category) {
    return category == opcscDataAccess20 ? CATID_OPCDAServer20 : CATID_OPCDAServer10;
}

// Frees task memory handed out by a server when the scope ends.
struct TaskString {
    LPOLESTR text = nullptr;
    ~TaskString() { CoTaskMemFree(text); }
    std::string Utf8() const { return text ? ToUtf8(text) : std::string(); }
};

class RegKey {
public:
    RegKey() = default;
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    ~RegKey() {
        if (key_ != nullptr)
            RegCloseKey(key_);
    }
    bool Open(HKEY root, const WideString& path) {
        return RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key_) == ERROR_SUCCESS;
    }
    HKEY Get() const { return key_; }

    // The named value ("" for the default one) as text: "" when the key has no such value; a
    // value of another type is an error of this key.
    std::string ReadString(const WCHAR* name) const {
        DWORD type = 0;
        DWORD size = 0;
        LONG rc = RegQueryValueExW(key_, name, nullptr, &type, nullptr, &size);
        if (rc == ERROR_FILE_NOT_FOUND)
            return std::string();
        if (rc != ERROR_SUCCESS)
            throw ERegistryException(
                Format("Registry value could not be read (error %d)", static_cast<int>(rc)));
        if (type != REG_SZ && type != REG_EXPAND_SZ)
            throw ERegistryException("Invalid data type for registry value");
        std::vector<WCHAR> data(size / sizeof(WCHAR) + 1, 0);
        DWORD bytes = static_cast<DWORD>(data.size() * sizeof(WCHAR));
        rc = RegQueryValueExW(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &bytes);
        if (rc != ERROR_SUCCESS)
            throw ERegistryException(
                Format("Registry value could not be read (error %d)", static_cast<int>(rc)));
        data.back() = 0;
        return ToUtf8(data.data());
    }

    class ERegistryException : public Exception {
    public:
        using Exception::Exception;
    };

private:
    HKEY key_ = nullptr;
};

}  // namespace

TNvOPCServerList::TNvOPCServerList() {
    SetOwnsObjects(true);
    SetCaseSensitive(false);
    SetDuplicates(dupIgnore);
    SetSorted(true);
}

TNvOPCServerList::~TNvOPCServerList() {
    Clear();
    Release();
    CloseRegistry();
}

void TNvOPCServerList::Connect(const std::string& host) {
    std::string name = host.empty() ? std::string("localhost") : host;
    if (name != host_ || serverList_ == nullptr) {
        host_ = name;
        Refresh();
    }
}

void TNvOPCServerList::Release() {
    if (serverList_ != nullptr) {
        serverList_->Release();
        serverList_ = nullptr;
    }
}

void TNvOPCServerList::Refresh() {
    Release();
    Clear();
    // A remote registry that cannot be read must not stand in for the host's: the search is
    // refused, and the refusal is reported unless the enumeration service still found servers.
    std::optional<ENvOPCException> registryFailure;
    SetRegistryConnected(useRegistry_);
    if (useRegistry_) {
        try {
            SearchRegistry();
        } catch (const ENvOPCException& e) {
            registryFailure = e;
        }
    }
    try {
        UpdateCategories();
    } catch (...) {
        if (Count() == 0)
            throw;
    }
    if (registryFailure && Count() == 0)
        throw *registryFailure;
}

void TNvOPCServerList::UpdateCategories() {
    if (serverList_ == nullptr) {
        try {
            IUnknown* object = CreateOPCObject(CLSID_OPCServerList, host_);
            IOPCServerList* list = nullptr;
            try {
                QueryInterfaceOrRaise(list, object, IID_IOPCServerList);
            } catch (...) {
                object->Release();
                throw;
            }
            object->Release();
            serverList_ = list;
        } catch (const std::exception& e) {
            Release();
            throw ENvOPCException(
                Format("Could not connect to OPCEnum service at '%s': %s", host_, e.what()));
        }
    }
    for (TNvOPCServerCategory category : {opcscDataAccess10, opcscDataAccess20}) {
        if (!categories_.Contains(category))
            continue;
        try {
            SearchByCategory(category);
        } catch (const std::exception& e) {
            Release();
            throw ENvOPCException(
                Format("Could not retrieve OPC Server List from '%s': %s", host_, e.what()));
        }
    }
}

void TNvOPCServerList::SearchByCategory(TNvOPCServerCategory category) {
    if (serverList_ == nullptr)
        return;
    CATID catid = CategoryID(category);
    IEnumGUID* classes = nullptr;
    HRESULT hr = serverList_->EnumClassesOfCategories(1, &catid, 0, nullptr, &classes);
    if (FAILED(hr) || classes == nullptr) {
        if (classes != nullptr)
            classes->Release();
        return;
    }
    struct Releaser {
        IEnumGUID* e;
        ~Releaser() { e->Release(); }
    } releaser{classes};
    for (;;) {
        CLSID clsid{};
        ULONG fetched = 0;
        hr = classes->Next(1, &clsid, &fetched);
        if (FAILED(hr) || fetched == 0)
            break;
        TaskString progID;
        TaskString userType;
        if (FAILED(serverList_->GetClassDetails(clsid, &progID.text, &userType.text)))
            continue;
        TNvOPCServerDetails* details = AddServer(clsid, progID.Utf8());
        details->Description = userType.Utf8();
        details->Categories.Include(category);
    }
}

void TNvOPCServerList::SetRegistryConnected(bool value) {
    if (value == registryConnected_)
        return;
    bool local = IsLocalHost(host_);
    if (local)
        CloseRegistry();
    if (registryRoot_ == nullptr) {
        registryRoot_ = HKEY_CLASSES_ROOT;
        registryRootOwned_ = false;
    }
    registryError_.clear();
    if (value && !local) {
        HKEY remote = nullptr;
        LONG rc = RegConnectRegistryW(ToWide("\\\\" + host_).c_str(), HKEY_CLASSES_ROOT, &remote);
        if (rc == ERROR_SUCCESS) {
            CloseRegistry();
            registryRoot_ = remote;
            registryRootOwned_ = true;
        } else {
            registryError_ = GetOPCErrorName(HRESULT_FROM_WIN32(static_cast<DWORD>(rc)));
        }
    }
    registryConnected_ = value;
}

void TNvOPCServerList::CloseRegistry() {
    if (registryRootOwned_ && registryRoot_ != nullptr)
        RegCloseKey(registryRoot_);
    registryRoot_ = nullptr;
    registryRootOwned_ = false;
}

void TNvOPCServerList::SearchRegistry() {
    SetRegistryConnected(true);
    // The accessor is this machine's registry when the remote one could not be reached.
    if (!IsLocalHost(host_) && !registryRootOwned_) {
        throw ENvOPCException(Format("Could not connect to the registry of '%s': %s", host_,
                                     registryError_.empty() ? std::string("not connected") : registryError_));
    }
    RegKey root;
    if (!root.Open(registryRoot_, WideString()))
        return;
    std::vector<WideString> names;
    for (DWORD index = 0;; ++index) {
        WCHAR name[256];
        DWORD length = 256;
        LONG rc = RegEnumKeyExW(root.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS)
            break;
        if (rc == ERROR_SUCCESS)
            names.emplace_back(name, length);
        else if (rc != ERROR_MORE_DATA)
            break;
    }
    for (const WideString& name : names) {
        if (name.empty() || name.front() == static_cast<WCHAR>('.'))
            continue;
        try {
            AddFromRegistryKey(name);
        } catch (const std::exception&) {
            // One badly registered server must not hide the others.
        }
    }
}

void TNvOPCServerList::AddFromRegistryKey(const WideString& name) {
    RegKey opc;
    if (!opc.Open(registryRoot_, name + OLESTR("\\OPC")))
        return;
    RegKey clsidKey;
    if (!clsidKey.Open(registryRoot_, name + OLESTR("\\CLSID")))
        return;
    std::string text = clsidKey.ReadString(nullptr);
    CLSID clsid{};
    if (text.empty() || text.front() != '{' || FAILED(CLSIDFromString(ToWide(text).c_str(), &clsid)))
        throw EConvertError(Format("'%s' is not a valid class identifier", text));
    TNvOPCServerDetails* details = AddServer(clsid, ToUtf8(name));
    RegKey progIDKey;
    details->Description =
        progIDKey.Open(registryRoot_, name) ? progIDKey.ReadString(nullptr) : std::string();
    RegKey vendorKey;
    if (vendorKey.Open(registryRoot_, name + OLESTR("\\OPC\\Vendor")))
        details->Vendor = vendorKey.ReadString(nullptr);
    else
        details->Vendor = opc.ReadString(OLESTR("Vendor"));
    details->Categories.Include(opcscDataAccess10);
}

TNvOPCServerDetails* TNvOPCServerList::GetDetails(int index) const {
    TObject* object = Objects(index);
    auto* details = dynamic_cast<TNvOPCServerDetails*>(object);
    if (details == nullptr)
        throw EConvertError("Invalid class typecast");
    return details;
}

TNvOPCServerDetails* TNvOPCServerList::DetailsByCLSID(REFCLSID clsid) const {
    for (int i = 0; i < Count(); ++i) {
        auto* details = dynamic_cast<TNvOPCServerDetails*>(Objects(i));
        if (details != nullptr && std::memcmp(&details->CLSID, &clsid, sizeof(CLSID)) == 0)
            return details;
    }
    return nullptr;
}

TNvOPCServerDetails* TNvOPCServerList::AddServer(REFCLSID clsid, const std::string& progID) {
    if (TNvOPCServerDetails* existing = DetailsByCLSID(clsid))
        return existing;
    auto details = std::make_unique<TNvOPCServerDetails>();
    details->Host = host_;
    details->CLSID = clsid;
    details->ProgID = progID;
    int index = AddObject(GuidToRegistryString(clsid), details.get());
    // Ignored as a duplicate text: the list keeps the entry it has, and this one goes.
    if (Objects(index) != details.get())
        return GetDetails(index);
    return details.release();
}

bool TNvOPCServerList::FindCLSID(const std::string& progID, CLSID& clsid) const {
    for (int i = 0; i < Count(); ++i) {
        auto* details = dynamic_cast<TNvOPCServerDetails*>(Objects(i));
        if (details != nullptr && details->ProgID == progID) {
            clsid = details->CLSID;
            return true;
        }
    }
    if (serverList_ == nullptr)
        return false;
    CLSID found{};
    if (FAILED(serverList_->CLSIDFromProgID(ToWide(progID).c_str(), &found)))
        return false;
    clsid = found;
    return true;
}

void TNvOPCServerList::AssignTo(TPersistent* dest) {
    auto* target = dynamic_cast<TNvStringList*>(dest);
    // A list that owns its objects would destroy entries that stay this list's.
    if (target == nullptr || target->OwnsObjects()) {
        TPersistent::AssignTo(dest);
        return;
    }
    target->BeginUpdate();
    try {
        target->Clear();
        for (int i = 0; i < Count(); ++i)
            target->AddObject(GetDetails(i)->ProgID, GetDetails(i));
    } catch (...) {
        target->EndUpdate();
        throw;
    }
    target->EndUpdate();
}

void InstallOPCServerListLookup() {
    SetOPCServerLookup([](const std::string& host, const std::string& serverName,
                          TNvOPCServerCategory category, CLSID& clsid) {
        TNvOPCServerList list;
        list.SetCategories(category == opcscDataAccess10
                               ? TNvOPCServerCategories{opcscDataAccess10}
                               : TNvOPCServerCategories{opcscDataAccess10, opcscDataAccess20});
        list.SetUseRegistry(IsLocalHost(host));
        list.Connect(host);
        if (list.FindCLSID(serverName, clsid))
            return true;
        list.SearchRegistry();
        return list.FindCLSID(serverName, clsid);
    });
}

}  // namespace nv
