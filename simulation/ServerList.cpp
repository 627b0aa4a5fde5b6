#include "simulation/ServerList.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "opc/include/opcda.h"
#include "opc/include/opcenum.h"
#include "platform/NvWide.h"
#include "simulation/ComSupport.h"

namespace nv::sim {
namespace {

// ---- Registry reading -------------------------------------------------------------------------

class RegKey {
public:
    RegKey() = default;
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    ~RegKey() { Close(); }

    bool Open(HKEY parent, const WideString& path) {
        Close();
        HKEY key = nullptr;
        if (RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            return false;
        key_ = key;
        return true;
    }
    void Close() {
        if (key_ != nullptr)
            RegCloseKey(key_);
        key_ = nullptr;
    }
    HKEY Get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

// The default value of `parent\path` as a string; nothing when the key or the value is missing
// or the value is not a string. Data need not be NUL-terminated in the registry, so the length
// comes from the byte count, never from a terminator.
std::optional<WideString> ReadDefaultString(HKEY parent, const WideString& path) {
    RegKey key;
    if (!key.Open(parent, path))
        return std::nullopt;
    std::vector<BYTE> data(256);
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD type = 0;
        DWORD size = static_cast<DWORD>(data.size());
        LONG rc = RegQueryValueExW(key.Get(), nullptr, nullptr, &type, data.data(), &size);
        if (rc == ERROR_MORE_DATA) {
            data.resize(static_cast<std::size_t>(size) + sizeof(WCHAR));
            continue;
        }
        if (rc != ERROR_SUCCESS)
            return std::nullopt;
        if (type != REG_SZ && type != REG_EXPAND_SZ)
            return std::nullopt;
        std::size_t chars = std::min<std::size_t>(size, data.size()) / sizeof(WCHAR);
        WideString text(chars, 0);
        std::memcpy(text.data(), data.data(), chars * sizeof(WCHAR));
        while (!text.empty() && text.back() == 0)
            text.pop_back();
        return text;
    }
    return std::nullopt;
}

std::vector<WideString> SubkeyNames(HKEY parent, const WideString& path) {
    std::vector<WideString> names;
    RegKey key;
    if (!key.Open(parent, path))
        return names;
    std::vector<WCHAR> name(256);
    for (DWORD index = 0;;) {
        DWORD length = static_cast<DWORD>(name.size());
        LONG rc = RegEnumKeyExW(key.Get(), index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_MORE_DATA) {
            name.resize(name.size() * 2);
            if (name.size() > 65536)
                break;
            continue;
        }
        if (rc != ERROR_SUCCESS)
            break;
        names.emplace_back(name.data(), std::min<std::size_t>(length, name.size()));
        ++index;
    }
    return names;
}

bool KeyExists(HKEY parent, const WideString& path) {
    RegKey key;
    return key.Open(parent, path);
}

// ---- GUID text --------------------------------------------------------------------------------

int HexDigit(WCHAR c) {
    if (c >= OLESTR('0') && c <= OLESTR('9'))
        return c - OLESTR('0');
    if (c >= OLESTR('a') && c <= OLESTR('f'))
        return c - OLESTR('a') + 10;
    if (c >= OLESTR('A') && c <= OLESTR('F'))
        return c - OLESTR('A') + 10;
    return -1;
}

// Only the braced registry form counts: key names such as category and class IDs are stored
// that way, and anything looser would let an arbitrary key name pass for an ID.
std::optional<GUID> ParseGuid(WideStringView text) {
    if (text.size() != 38 || text[0] != OLESTR('{') || text[37] != OLESTR('}'))
        return std::nullopt;
    static constexpr int kGroups[] = {8, 4, 4, 4, 12};
    unsigned char bytes[16] = {};
    std::size_t pos = 1;
    int byte = 0;
    for (int g = 0; g < 5; ++g) {
        if (g > 0) {
            if (text[pos] != OLESTR('-'))
                return std::nullopt;
            ++pos;
        }
        for (int i = 0; i < kGroups[g]; i += 2) {
            int hi = HexDigit(text[pos]);
            int lo = HexDigit(text[pos + 1]);
            if (hi < 0 || lo < 0)
                return std::nullopt;
            bytes[byte++] = static_cast<unsigned char>(hi * 16 + lo);
            pos += 2;
        }
    }
    GUID guid{};
    guid.Data1 = (DWORD(bytes[0]) << 24) | (DWORD(bytes[1]) << 16) | (DWORD(bytes[2]) << 8) | DWORD(bytes[3]);
    guid.Data2 = static_cast<WORD>((bytes[4] << 8) | bytes[5]);
    guid.Data3 = static_cast<WORD>((bytes[6] << 8) | bytes[7]);
    std::memcpy(guid.Data4, bytes + 8, 8);
    return guid;
}

WideString GuidText(const GUID& guid) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    unsigned char bytes[16];
    bytes[0] = static_cast<unsigned char>(guid.Data1 >> 24);
    bytes[1] = static_cast<unsigned char>(guid.Data1 >> 16);
    bytes[2] = static_cast<unsigned char>(guid.Data1 >> 8);
    bytes[3] = static_cast<unsigned char>(guid.Data1);
    bytes[4] = static_cast<unsigned char>(guid.Data2 >> 8);
    bytes[5] = static_cast<unsigned char>(guid.Data2);
    bytes[6] = static_cast<unsigned char>(guid.Data3 >> 8);
    bytes[7] = static_cast<unsigned char>(guid.Data3);
    std::memcpy(bytes + 8, guid.Data4, 8);
    WideString text = OLESTR("{");
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            text.push_back(OLESTR('-'));
        text.push_back(static_cast<WCHAR>(kHex[bytes[i] >> 4]));
        text.push_back(static_cast<WCHAR>(kHex[bytes[i] & 15]));
    }
    text.push_back(OLESTR('}'));
    return text;
}

WideString ClassKey(const CLSID& clsid) {
    return OLESTR("CLSID\\") + GuidText(clsid);
}

bool Contains(const std::vector<GUID>& list, const GUID& guid) {
    return std::find(list.begin(), list.end(), guid) != list.end();
}

std::vector<GUID> CategoriesOf(HKEY root, const CLSID& clsid, const OLECHAR* which) {
    std::vector<GUID> result;
    for (const WideString& name : SubkeyNames(root, ClassKey(clsid) + OLESTR("\\") + which)) {
        if (auto catid = ParseGuid(name))
            result.push_back(*catid);
    }
    return result;
}

WCHAR* CopyToTaskMemory(const WideString& text) {
    auto* out = static_cast<WCHAR*>(CoTaskMemAlloc((text.size() + 1) * sizeof(WCHAR)));
    if (out == nullptr)
        return nullptr;
    std::memcpy(out, text.data(), text.size() * sizeof(WCHAR));
    out[text.size()] = 0;
    return out;
}

// ---- What the service answers, from one host's HKEY_CLASSES_ROOT ------------------------------

// A category filter: `any` when the caller does not care (a count of 0 or -1).
struct CategoryFilter {
    bool any = true;
    std::vector<GUID> ids;
};

bool ClassPasses(HKEY root, const CLSID& clsid, const CategoryFilter& implemented,
                 const CategoryFilter& required) {
    if (!implemented.any) {
        std::vector<GUID> implementedByClass = CategoriesOf(root, clsid, OLESTR("Implemented Categories"));
        bool found = std::any_of(implemented.ids.begin(), implemented.ids.end(),
                                 [&](const GUID& id) { return Contains(implementedByClass, id); });
        if (!found)
            return false;
    }
    // The caller's required list names what it can host; a class that needs anything more is left out.
    if (!required.any) {
        for (const GUID& need : CategoriesOf(root, clsid, OLESTR("Required Categories"))) {
            if (!Contains(required.ids, need))
                return false;
        }
    }
    return true;
}

std::optional<CLSID> ClassOfProgID(HKEY root, const WideString& progID) {
    if (progID.empty())
        return std::nullopt;
    auto text = ReadDefaultString(root, progID + OLESTR("\\CLSID"));
    if (!text)
        return std::nullopt;
    return ParseGuid(*text);
}

std::vector<CLSID> FindClasses(HKEY root, const CategoryFilter& implemented, const CategoryFilter& required) {
    std::vector<CLSID> found;
    for (const WideString& name : SubkeyNames(root, OLESTR("CLSID"))) {
        auto clsid = ParseGuid(name);
        if (!clsid || Contains(found, *clsid))
            continue;
        if (ClassPasses(root, *clsid, implemented, required))
            found.push_back(*clsid);
    }
    // DA 1.0 servers older than component categories mark themselves only with an OPC subkey
    // under their ProgID. A name that does not lead to a valid CLSID adds nothing.
    if (!implemented.any && Contains(implemented.ids, CATID_OPCDAServer10)) {
        for (const WideString& name : SubkeyNames(root, OLESTR(""))) {
            if (name.empty() || name[0] == OLESTR('.'))
                continue;
            if (!KeyExists(root, name + OLESTR("\\OPC")))
                continue;
            auto clsid = ClassOfProgID(root, name);
            if (!clsid || Contains(found, *clsid))
                continue;
            if (ClassPasses(root, *clsid, CategoryFilter{}, required))
                found.push_back(*clsid);
        }
    }
    return found;
}

// ---- Enumerators ------------------------------------------------------------------------------

// One enumerator type for IEnumGUID and IOPCEnumGUID, which have the same shape. Clones share
// the (immutable) list and copy the position.
template <typename Interface>
class GuidEnumerator final : public SingleInterfaceObject<Interface> {
public:
    GuidEnumerator(std::shared_ptr<const std::vector<GUID>> guids, std::size_t position)
        : guids_(std::move(guids)), position_(position) {}

    HRESULT STDMETHODCALLTYPE Next(ULONG celt, GUID* rgelt, ULONG* pceltFetched) override {
        if (pceltFetched != nullptr)
            *pceltFetched = 0;
        if (celt == 0)
            return S_OK;
        // Without a count to report, only a request for exactly one element is unambiguous.
        if (rgelt == nullptr || (pceltFetched == nullptr && celt != 1))
            return E_POINTER;
        std::lock_guard lock(mutex_);
        ULONG fetched = 0;
        while (fetched < celt && position_ < guids_->size())
            rgelt[fetched++] = (*guids_)[position_++];
        if (pceltFetched != nullptr)
            *pceltFetched = fetched;
        return fetched == celt ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG celt) override {
        std::lock_guard lock(mutex_);
        std::size_t left = guids_->size() - position_;
        if (celt > left) {
            position_ = guids_->size();
            return S_FALSE;
        }
        position_ += celt;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        std::lock_guard lock(mutex_);
        position_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(Interface** ppenum) override {
        if (ppenum == nullptr)
            return E_POINTER;
        std::size_t position;
        {
            std::lock_guard lock(mutex_);
            position = position_;
        }
        auto* copy = new (std::nothrow) GuidEnumerator(guids_, position);
        if (copy == nullptr) {
            *ppenum = nullptr;
            return E_OUTOFMEMORY;
        }
        copy->AddRef();
        *ppenum = copy;
        return S_OK;
    }

private:
    std::mutex mutex_;
    std::shared_ptr<const std::vector<GUID>> guids_;
    std::size_t position_;
};

// ---- The service object ----------------------------------------------------------------------

class ServerList final : public IOPCServerList, public IOPCServerList2, private ModuleObject {
public:
    // `root` is the host's HKEY_CLASSES_ROOT; `ownsRoot` when it came from a registry connection.
    ServerList(HKEY root, bool ownsRoot) : root_(root), ownsRoot_(ownsRoot) {}
    ~ServerList() {
        if (ownsRoot_)
            RegCloseKey(root_);
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IOPCServerList) {
            *ppv = static_cast<IOPCServerList*>(this);
        } else if (riid == IID_IOPCServerList2) {
            *ppv = static_cast<IOPCServerList2*>(this);
        } else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --refs_;
        if (left == 0)
            delete this;
        return left;
    }

    // IOPCServerList
    HRESULT STDMETHODCALLTYPE EnumClassesOfCategories(ULONG cImplemented, CATID rgcatidImpl[],
                                                      ULONG cRequired, CATID rgcatidReq[],
                                                      IEnumGUID** ppenumClsid) override {
        return Enumerate(cImplemented, rgcatidImpl, cRequired, rgcatidReq, ppenumClsid);
    }
    HRESULT STDMETHODCALLTYPE GetClassDetails(REFCLSID clsid, LPOLESTR* ppszProgID,
                                              LPOLESTR* ppszUserType) override {
        return Details(clsid, ppszProgID, ppszUserType, nullptr);
    }
    HRESULT STDMETHODCALLTYPE CLSIDFromProgID(LPCOLESTR szProgId, LPCLSID clsid) override {
        if (clsid == nullptr)
            return E_POINTER;
        *clsid = GUID_NULL;
        if (szProgId == nullptr)
            return E_INVALIDARG;
        auto found = ClassOfProgID(root_, WideString(szProgId));
        if (!found)
            return CO_E_CLASSSTRING;
        *clsid = *found;
        return S_OK;
    }

    // IOPCServerList2
    HRESULT STDMETHODCALLTYPE EnumClassesOfCategories(ULONG cImplemented, CATID rgcatidImpl[],
                                                      ULONG cRequired, CATID rgcatidReq[],
                                                      IOPCEnumGUID** ppenumClsid) override {
        return Enumerate(cImplemented, rgcatidImpl, cRequired, rgcatidReq, ppenumClsid);
    }
    HRESULT STDMETHODCALLTYPE GetClassDetails(REFCLSID clsid, LPOLESTR* ppszProgID, LPOLESTR* ppszUserType,
                                              LPOLESTR* ppszVerIndProgID) override {
        if (ppszVerIndProgID == nullptr)
            return E_POINTER;
        return Details(clsid, ppszProgID, ppszUserType, ppszVerIndProgID);
    }

private:
    template <typename Interface>
    HRESULT Enumerate(ULONG cImplemented, const CATID* rgcatidImpl, ULONG cRequired, const CATID* rgcatidReq,
                      Interface** ppenum) {
        if (ppenum == nullptr)
            return E_POINTER;
        *ppenum = nullptr;
        CategoryFilter implemented;
        CategoryFilter required;
        // A count of 0 is taken as "don't care", like -1: a client that lists no category means
        // every class, not none.
        if (cImplemented != 0 && cImplemented != ULONG(-1)) {
            if (rgcatidImpl == nullptr)
                return E_INVALIDARG;
            implemented.any = false;
            implemented.ids.assign(rgcatidImpl, rgcatidImpl + cImplemented);
        }
        if (cRequired != 0 && cRequired != ULONG(-1)) {
            if (rgcatidReq == nullptr)
                return E_INVALIDARG;
            required.any = false;
            required.ids.assign(rgcatidReq, rgcatidReq + cRequired);
        }
        auto classes = std::make_shared<const std::vector<GUID>>(FindClasses(root_, implemented, required));
        auto* enumerator = new (std::nothrow) GuidEnumerator<Interface>(std::move(classes), 0);
        if (enumerator == nullptr)
            return E_OUTOFMEMORY;
        enumerator->AddRef();
        *ppenum = enumerator;
        return S_OK;
    }

    // The user type is the class key's default value and the ProgID its ProgID subkey, as the
    // system's own lookups do; the first failure is the answer, and no string leaks or dangles
    // on a failure.
    HRESULT Details(REFCLSID clsid, LPOLESTR* ppszProgID, LPOLESTR* ppszUserType,
                    LPOLESTR* ppszVerIndProgID) {
        if (ppszProgID == nullptr || ppszUserType == nullptr)
            return E_POINTER;
        *ppszProgID = nullptr;
        *ppszUserType = nullptr;
        if (ppszVerIndProgID != nullptr)
            *ppszVerIndProgID = nullptr;

        const WideString classKey = ClassKey(clsid);
        if (!KeyExists(root_, classKey))
            return REGDB_E_CLASSNOTREG;
        auto userType = ReadDefaultString(root_, classKey);
        if (!userType)
            return REGDB_E_READREGDB;
        auto progID = ReadDefaultString(root_, classKey + OLESTR("\\ProgID"));
        if (!progID || progID->empty())
            return REGDB_E_CLASSNOTREG;
        WideString versionIndependent;
        if (ppszVerIndProgID != nullptr) {
            auto text = ReadDefaultString(root_, classKey + OLESTR("\\VersionIndependentProgID"));
            versionIndependent = text && !text->empty() ? *text : *progID;
        }

        WCHAR* progCopy = CopyToTaskMemory(*progID);
        WCHAR* typeCopy = CopyToTaskMemory(*userType);
        WCHAR* indCopy = ppszVerIndProgID != nullptr ? CopyToTaskMemory(versionIndependent) : nullptr;
        if (progCopy == nullptr || typeCopy == nullptr ||
            (ppszVerIndProgID != nullptr && indCopy == nullptr)) {
            CoTaskMemFree(progCopy);
            CoTaskMemFree(typeCopy);
            CoTaskMemFree(indCopy);
            return E_OUTOFMEMORY;
        }
        *ppszProgID = progCopy;
        *ppszUserType = typeCopy;
        if (ppszVerIndProgID != nullptr)
            *ppszVerIndProgID = indCopy;
        return S_OK;
    }

    std::atomic<ULONG> refs_{1};
    HKEY root_;
    bool ownsRoot_;
};

// ---- Class object -----------------------------------------------------------------------------

// The registry the new object serves. On Windows the system's own service owns this class, so
// this one only ever runs for its own machine; the stand-in tells which simulated host a
// creation is for.
HRESULT OpenHostRegistry(HKEY* root, bool* owns) {
#ifdef _WIN32
    *root = HKEY_CLASSES_ROOT;
    *owns = false;
    return S_OK;
#else
    const char16_t* host = nvplatform_CurrentCreationHost();
    if (host == nullptr || host[0] == 0) {
        *root = HKEY_CLASSES_ROOT;
        *owns = false;
        return S_OK;
    }
    WideString machine = OLESTR("\\\\");
    machine += host;
    HKEY key = nullptr;
    LONG rc = RegConnectRegistryW(machine.c_str(), HKEY_CLASSES_ROOT, &key);
    if (rc != ERROR_SUCCESS)
        return rc == ERROR_BAD_NETPATH ? HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE)
                                       : HRESULT_FROM_WIN32(rc);
    *root = key;
    *owns = true;
    return S_OK;
#endif
}

class ServerListFactory final : public StaticClassFactory {
public:
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (ppv == nullptr)
            return E_POINTER;
        *ppv = nullptr;
        if (outer != nullptr)
            return CLASS_E_NOAGGREGATION;
        HKEY root = nullptr;
        bool owns = false;
        HRESULT hr = OpenHostRegistry(&root, &owns);
        if (FAILED(hr))
            return hr;
        auto* object = new (std::nothrow) ServerList(root, owns);
        if (object == nullptr) {
            if (owns)
                RegCloseKey(root);
            return E_OUTOFMEMORY;
        }
        hr = object->QueryInterface(riid, ppv);
        object->Release();
        return hr;
    }
};

ServerListFactory g_factory;

}  // namespace

HRESULT CreateServerListClassObject(REFIID riid, void** ppv) {
    return g_factory.QueryInterface(riid, ppv);
}

}  // namespace nv::sim
