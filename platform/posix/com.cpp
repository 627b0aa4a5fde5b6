// The COM runtime of the stand-in. Calls are direct (every object lives in this process), so the
// runtime's work is bookkeeping: which threads joined which apartment, which classes were
// registered in-process, which modules are loaded, and the host an object is being created for.
#include "platform/posix/com.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <string>

#include "platform/NvWide.h"
#include "platform/posix/registry.h"
#include "platform/posix/winerror.h"

namespace {

using U16 = std::u16string;
using U16View = std::u16string_view;

// ---- Apartments ------------------------------------------------------------------------------

struct ThreadApartment {
    int count = 0;
    bool multithreaded = false;
};
thread_local ThreadApartment t_apartment;
// Threads that hold the multithreaded apartment. While there is one, a thread that never joined
// an apartment is in it implicitly, as Windows treats worker threads of such a process.
std::atomic<int> g_mtaThreads{0};
std::atomic<bool> g_securityInitialized{false};

bool ThreadMayUseCom() {
    return t_apartment.count > 0 || g_mtaThreads.load() > 0;
}

// ---- Creation host ---------------------------------------------------------------------------

thread_local U16 t_creationHost;

// Sets the creation host for the duration of a factory call and restores the previous one, so a
// server that creates further objects while being created sees its own host again afterwards.
class CreationHostScope {
public:
    explicit CreationHostScope(U16View host) : saved_(t_creationHost) { t_creationHost.assign(host); }
    ~CreationHostScope() { t_creationHost = saved_; }
    CreationHostScope(const CreationHostScope&) = delete;
    CreationHostScope& operator=(const CreationHostScope&) = delete;

private:
    U16 saved_;
};

// ---- Registered class objects ----------------------------------------------------------------

struct Registration {
    CLSID clsid;
    IUnknown* object;
};
// Never destroyed, like the module table below: objects may be released while the process exits.
struct RegistrationTable {
    std::mutex mutex;
    std::map<DWORD, Registration> entries;
    DWORD nextCookie = 1;
};
RegistrationTable& Registrations() {
    static RegistrationTable* table = new RegistrationTable;
    return *table;
}

// AddRef'ed class object registered for the class, or nullptr.
IUnknown* FindRegisteredClassObject(REFCLSID clsid) {
    std::lock_guard lock(Registrations().mutex);
    for (auto& [cookie, reg] : Registrations().entries) {
        if (IsEqualGUID(reg.clsid, clsid)) {
            reg.object->AddRef();
            return reg.object;
        }
    }
    return nullptr;
}

// ---- GUID text -------------------------------------------------------------------------------

bool HexDigit(char16_t c, unsigned& v) {
    if (c >= u'0' && c <= u'9') {
        v = c - u'0';
    } else if (c >= u'a' && c <= u'f') {
        v = c - u'a' + 10;
    } else if (c >= u'A' && c <= u'F') {
        v = c - u'A' + 10;
    } else {
        return false;
    }
    return true;
}

bool ParseHex(U16View s, std::size_t pos, std::size_t digits, std::uint64_t& out) {
    out = 0;
    for (std::size_t i = 0; i < digits; ++i) {
        unsigned v;
        if (!HexDigit(s[pos + i], v))
            return false;
        out = (out << 4) | v;
    }
    return true;
}

// Exactly "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", hex digits of either case.
bool ParseGuid(U16View s, GUID& guid) {
    if (s.size() != 38 || s[0] != u'{' || s[9] != u'-' || s[14] != u'-' || s[19] != u'-' || s[24] != u'-' ||
        s[37] != u'}')
        return false;
    std::uint64_t v;
    GUID g{};
    if (!ParseHex(s, 1, 8, v))
        return false;
    g.Data1 = static_cast<DWORD>(v);
    if (!ParseHex(s, 10, 4, v))
        return false;
    g.Data2 = static_cast<WORD>(v);
    if (!ParseHex(s, 15, 4, v))
        return false;
    g.Data3 = static_cast<WORD>(v);
    static constexpr std::size_t bytePos[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (int i = 0; i < 8; ++i) {
        if (!ParseHex(s, bytePos[i], 2, v))
            return false;
        g.Data4[i] = static_cast<BYTE>(v);
    }
    guid = g;
    return true;
}

U16 GuidText(REFGUID g) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1,
                  g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5],
                  g.Data4[6], g.Data4[7]);
    return U16(buffer, buffer + 38);
}

std::size_t Length(LPCOLESTR s) {
    std::size_t n = 0;
    while (s[n] != 0)
        ++n;
    return n;
}

LPOLESTR TaskMemString(U16View text) {
    auto* out = static_cast<LPOLESTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(OLECHAR)));
    if (out == nullptr)
        return nullptr;
    std::copy(text.begin(), text.end(), out);
    out[text.size()] = 0;
    return out;
}

// ---- Registry access -------------------------------------------------------------------------

class RegKey {
public:
    RegKey() = default;
    ~RegKey() {
        if (key_ != nullptr)
            RegCloseKey(key_);
    }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    HKEY* Out() { return &key_; }
    HKEY Get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

// HKEY_CLASSES_ROOT of a host; fails with the HRESULT of an unreachable machine.
HRESULT OpenClassesRoot(U16View host, RegKey& root) {
    LONG rc = nvplatform::OpenHostClassesRoot(host, root.Out());
    if (rc == ERROR_SUCCESS)
        return S_OK;
    if (rc == ERROR_BAD_NETPATH)
        return HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);
    return HRESULT_FROM_WIN32(static_cast<DWORD>(rc));
}

// Reads a string value (REG_SZ or REG_EXPAND_SZ) of the key at `path` below `root`.
bool ReadString(HKEY root, U16View path, LPCWSTR valueName, U16& out, DWORD* typeOut = nullptr) {
    RegKey key;
    U16 p(path);
    if (RegOpenKeyExW(root, p.c_str(), 0, KEY_READ, key.Out()) != ERROR_SUCCESS)
        return false;
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key.Get(), valueName, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return false;
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return false;
    std::u16string buffer(size / sizeof(WCHAR) + 1, u'\0');
    if (RegQueryValueExW(key.Get(), valueName, nullptr, &type, reinterpret_cast<LPBYTE>(buffer.data()),
                         &size) != ERROR_SUCCESS)
        return false;
    buffer.resize(size / sizeof(WCHAR));
    auto nul = buffer.find(u'\0');
    if (nul != U16::npos)
        buffer.resize(nul);
    out = std::move(buffer);
    if (typeOut != nullptr)
        *typeOut = type;
    return true;
}

bool KeyExists(HKEY root, U16View path) {
    RegKey key;
    U16 p(path);
    return RegOpenKeyExW(root, p.c_str(), 0, KEY_READ, key.Out()) == ERROR_SUCCESS;
}

// ---- Modules ---------------------------------------------------------------------------------

// Modules are never unloaded: objects of a module may live to the end of the process.
struct ModuleTable {
    std::mutex mutex;
    std::map<std::string, void*> handles;
};
ModuleTable& Modules() {
    static ModuleTable* table = new ModuleTable;
    return *table;
}

std::string ExpandEnvironment(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%') {
            auto end = text.find('%', i + 1);
            if (end != std::string::npos && end > i + 1) {
                std::string name = text.substr(i + 1, end - i - 1);
                if (const char* value = std::getenv(name.c_str())) {
                    out += value;
                    i = end;
                    continue;
                }
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::string ResolveModulePath(const std::string& path) {
    if (!path.empty() && path.front() == '/')
        return path;
    std::string libFolder = nvplatform::PlatformLibraryFolder();
    if (!libFolder.empty()) {
        std::string candidate = libFolder + "/" + path;
        if (FileExists(candidate))
            return candidate;
    }
    return path;
}

HRESULT LoadClassObjectEntry(const std::string& path, LPFNGETCLASSOBJECT& entry) {
    std::lock_guard lock(Modules().mutex);
    void* handle = nullptr;
    auto it = Modules().handles.find(path);
    if (it != Modules().handles.end()) {
        handle = it->second;
    } else {
        handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            const char* why = ::dlerror();
            std::fprintf(stderr, "nvplatform: cannot load COM module %s: %s\n", path.c_str(),
                         why != nullptr ? why : "unknown reason");
            return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
        }
        Modules().handles.emplace(path, handle);
    }
    entry = reinterpret_cast<LPFNGETCLASSOBJECT>(::dlsym(handle, "DllGetClassObject"));
    if (entry == nullptr) {
        std::fprintf(stderr, "nvplatform: COM module %s exports no DllGetClassObject\n", path.c_str());
        return CO_E_ERRORINDLL;
    }
    return S_OK;
}

// ---- Class objects ---------------------------------------------------------------------------

bool ContextIsValid(DWORD ctx) {
    return (ctx &
            (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)) != 0;
}

// The host named by a COSERVERINFO, "" for this computer.
U16 HostOf(const COSERVERINFO* info) {
    if (info == nullptr || info->pwszName == nullptr)
        return {};
    U16View name(info->pwszName);
    while (!name.empty() && name.front() == u'\\')
        name.remove_prefix(1);
    if (nvplatform::IsLocalHostName(name))
        return {};
    return U16(name);
}

// The class object for `clsid` on `host` ("" = this computer), asked for `riid`.
HRESULT GetClassObjectOnHost(U16View host, REFCLSID clsid, REFIID riid, void** ppv) {
    *ppv = nullptr;
    if (host.empty()) {
        if (IUnknown* registered = FindRegisteredClassObject(clsid)) {
            HRESULT hr = registered->QueryInterface(riid, ppv);
            registered->Release();
            return hr;
        }
    }
    RegKey root;
    HRESULT hr = OpenClassesRoot(host, root);
    if (FAILED(hr))
        return hr;
    U16 path = u"CLSID\\" + GuidText(clsid) + u"\\InprocServer32";
    U16 module;
    DWORD type = REG_SZ;
    if (!ReadString(root.Get(), path, nullptr, module, &type) || module.empty())
        return REGDB_E_CLASSNOTREG;
    std::string modulePath = nv::ToUtf8(module);
    if (type == REG_EXPAND_SZ)
        modulePath = ExpandEnvironment(modulePath);
    LPFNGETCLASSOBJECT entry = nullptr;
    hr = LoadClassObjectEntry(ResolveModulePath(modulePath), entry);
    if (FAILED(hr))
        return hr;
    CreationHostScope scope(host);
    hr = entry(clsid, riid, ppv);
    if (FAILED(hr))
        *ppv = nullptr;
    return hr;
}

HRESULT CreateOnHost(U16View host, REFCLSID clsid, IUnknown* outer, REFIID riid, void** ppv) {
    IClassFactory* factory = nullptr;
    HRESULT hr = GetClassObjectOnHost(host, clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr))
        return hr;
    {
        CreationHostScope scope(host);
        hr = factory->CreateInstance(outer, riid, ppv);
    }
    factory->Release();
    if (FAILED(hr))
        *ppv = nullptr;
    return hr;
}

}  // namespace

// ---- Apartments and security -----------------------------------------------------------------

extern "C" HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit) {
    if (pvReserved != nullptr)
        return E_INVALIDARG;
    bool multithreaded = (dwCoInit & COINIT_APARTMENTTHREADED) == 0;
    if (t_apartment.count > 0) {
        if (t_apartment.multithreaded != multithreaded)
            return RPC_E_CHANGED_MODE;
        ++t_apartment.count;
        return S_FALSE;
    }
    t_apartment.count = 1;
    t_apartment.multithreaded = multithreaded;
    if (multithreaded)
        ++g_mtaThreads;
    return S_OK;
}

extern "C" HRESULT CoInitialize(LPVOID pvReserved) {
    return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED);
}

extern "C" void CoUninitialize() {
    if (t_apartment.count == 0)
        return;
    if (--t_apartment.count == 0 && t_apartment.multithreaded)
        --g_mtaThreads;
}

extern "C" HRESULT CoInitializeSecurity(PSECURITY_DESCRIPTOR pSecDesc, LONG cAuthSvc,
                                        SOLE_AUTHENTICATION_SERVICE* asAuthSvc, void* pReserved1,
                                        DWORD dwAuthnLevel, DWORD dwImpLevel, void* pAuthList,
                                        DWORD dwCapabilities, void* pReserved3) {
    // Calls are direct, so there is nothing to secure; what remains is that the process-wide
    // set-up happens once, which callers rely on to tell their own call from an earlier one.
    bool expected = false;
    if (!g_securityInitialized.compare_exchange_strong(expected, true))
        return RPC_E_TOO_LATE;
    return S_OK;
}

// ---- Object creation -------------------------------------------------------------------------

extern "C" HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, LPVOID pvReserved, REFIID riid,
                                    LPVOID* ppv) {
    if (ppv == nullptr)
        return E_INVALIDARG;
    *ppv = nullptr;
    if (!ThreadMayUseCom())
        return CO_E_NOTINITIALIZED;
    if (!ContextIsValid(dwClsContext))
        return E_INVALIDARG;
    auto* info = static_cast<COSERVERINFO*>(pvReserved);
    U16 host = HostOf(info);
    if (!host.empty() && !nvplatform::IsSimulatedHost(host))
        return HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);
    return GetClassObjectOnHost(host, rclsid, riid, ppv);
}

extern "C" HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid,
                                    LPVOID* ppv) {
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    if (!ThreadMayUseCom())
        return CO_E_NOTINITIALIZED;
    if (!ContextIsValid(dwClsContext))
        return E_INVALIDARG;
    return CreateOnHost(U16View(), rclsid, pUnkOuter, riid, ppv);
}

extern "C" HRESULT CoCreateInstanceEx(REFCLSID rclsid, IUnknown* punkOuter, DWORD dwClsCtx,
                                      COSERVERINFO* pServerInfo, DWORD dwCount, MULTI_QI* pResults) {
    if (dwCount == 0 || pResults == nullptr)
        return E_INVALIDARG;
    for (DWORD i = 0; i < dwCount; ++i) {
        if (pResults[i].pIID == nullptr)
            return E_INVALIDARG;
        pResults[i].pItf = nullptr;
        pResults[i].hr = E_NOINTERFACE;
    }
    auto failAll = [&](HRESULT hr) {
        for (DWORD i = 0; i < dwCount; ++i)
            pResults[i].hr = hr;
        return hr;
    };
    if (!ThreadMayUseCom())
        return failAll(CO_E_NOTINITIALIZED);
    if (!ContextIsValid(dwClsCtx))
        return failAll(E_INVALIDARG);
    U16 host = HostOf(pServerInfo);
    if (!host.empty() && !nvplatform::IsSimulatedHost(host))
        return failAll(HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE));

    // The object is created once through IUnknown and then asked for each interface, so one
    // missing interface does not cost the others.
    IUnknown* object = nullptr;
    HRESULT hr = CreateOnHost(host, rclsid, punkOuter, IID_IUnknown, reinterpret_cast<void**>(&object));
    if (FAILED(hr))
        return failAll(hr);
    DWORD succeeded = 0;
    for (DWORD i = 0; i < dwCount; ++i) {
        void* itf = nullptr;
        pResults[i].hr = object->QueryInterface(*pResults[i].pIID, &itf);
        if (SUCCEEDED(pResults[i].hr) && itf != nullptr) {
            pResults[i].pItf = static_cast<IUnknown*>(itf);
            ++succeeded;
        } else {
            if (SUCCEEDED(pResults[i].hr))
                pResults[i].hr = E_NOINTERFACE;
            pResults[i].pItf = nullptr;
        }
    }
    object->Release();
    if (succeeded == dwCount)
        return S_OK;
    return succeeded > 0 ? CO_S_NOTALLINTERFACES : E_NOINTERFACE;
}

extern "C" HRESULT CoRegisterClassObject(REFCLSID rclsid, LPUNKNOWN pUnk, DWORD dwClsContext, DWORD flags,
                                         LPDWORD lpdwRegister) {
    if (pUnk == nullptr || lpdwRegister == nullptr)
        return E_INVALIDARG;
    *lpdwRegister = 0;
    if (!ThreadMayUseCom())
        return CO_E_NOTINITIALIZED;
    pUnk->AddRef();
    std::lock_guard lock(Registrations().mutex);
    DWORD cookie = Registrations().nextCookie++;
    Registrations().entries.emplace(cookie, Registration{rclsid, pUnk});
    *lpdwRegister = cookie;
    return S_OK;
}

extern "C" HRESULT CoRevokeClassObject(DWORD dwRegister) {
    IUnknown* object = nullptr;
    {
        std::lock_guard lock(Registrations().mutex);
        auto it = Registrations().entries.find(dwRegister);
        if (it == Registrations().entries.end())
            return E_INVALIDARG;
        object = it->second.object;
        Registrations().entries.erase(it);
    }
    object->Release();
    return S_OK;
}

// ---- GUID text and ProgIDs -------------------------------------------------------------------

extern "C" int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) {
    if (lpsz == nullptr || cchMax < 39)
        return 0;
    U16 text = GuidText(rguid);
    std::copy(text.begin(), text.end(), lpsz);
    lpsz[38] = 0;
    return 39;
}

extern "C" HRESULT StringFromCLSID(REFCLSID rclsid, LPOLESTR* lplpsz) {
    if (lplpsz == nullptr)
        return E_INVALIDARG;
    *lplpsz = TaskMemString(GuidText(rclsid));
    return *lplpsz != nullptr ? S_OK : E_OUTOFMEMORY;
}

extern "C" HRESULT StringFromIID(REFIID rclsid, LPOLESTR* lplpsz) {
    return StringFromCLSID(rclsid, lplpsz);
}

extern "C" HRESULT IIDFromString(LPCOLESTR lpsz, LPIID lpiid) {
    if (lpiid == nullptr)
        return E_INVALIDARG;
    if (lpsz == nullptr) {
        *lpiid = GUID_NULL;
        return S_OK;
    }
    // Text of the wrong length is an invalid argument; text of the right length that does not
    // parse is a bad interface string, as the system runtime tells the two apart.
    U16View text(lpsz, Length(lpsz));
    if (text.size() != 38)
        return E_INVALIDARG;
    GUID g;
    if (!ParseGuid(text, g))
        return CO_E_IIDSTRING;
    *lpiid = g;
    return S_OK;
}

extern "C" HRESULT CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid) {
    if (pclsid == nullptr)
        return E_INVALIDARG;
    *pclsid = GUID_NULL;
    if (lpsz == nullptr)
        return S_OK;
    U16View text(lpsz, Length(lpsz));
    if (!text.empty() && text.front() == u'{') {
        GUID g;
        if (!ParseGuid(text, g))
            return CO_E_CLASSSTRING;
        *pclsid = g;
        return S_OK;
    }
    // As on Windows, text that is not in braces is taken for a ProgID.
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(lpsz, &clsid)))
        return CO_E_CLASSSTRING;
    *pclsid = clsid;
    return S_OK;
}

extern "C" HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid) {
    return nvplatform::CLSIDFromProgIDOnHost(U16View(), lpszProgID, lpclsid);
}

extern "C" HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* lplpszProgID) {
    return nvplatform::ProgIDFromCLSIDOnHost(U16View(), clsid, lplpszProgID);
}

extern "C" HRESULT OleRegGetUserType(REFCLSID clsid, DWORD dwFormOfType, LPOLESTR* pszUserType) {
    if (pszUserType == nullptr)
        return E_INVALIDARG;
    *pszUserType = nullptr;
    RegKey root;
    HRESULT hr = OpenClassesRoot(U16View(), root);
    if (FAILED(hr))
        return hr;
    U16 classKey = u"CLSID\\" + GuidText(clsid);
    if (!KeyExists(root.Get(), classKey))
        return REGDB_E_CLASSNOTREG;
    U16 text;
    bool found = false;
    if (dwFormOfType == USERCLASSTYPE_SHORT || dwFormOfType == USERCLASSTYPE_APPNAME) {
        U16 aux = classKey + u"\\AuxUserType\\" + (dwFormOfType == USERCLASSTYPE_SHORT ? u"2" : u"3");
        found = ReadString(root.Get(), aux, nullptr, text) && !text.empty();
    }
    // The short and application names fall back to the full name when they are not registered.
    if (!found)
        found = ReadString(root.Get(), classKey, nullptr, text) && !text.empty();
    if (!found)
        return REGDB_E_READREGDB;
    *pszUserType = TaskMemString(text);
    return *pszUserType != nullptr ? S_OK : E_OUTOFMEMORY;
}

namespace nvplatform {

HRESULT CLSIDFromProgIDOnHost(std::u16string_view host, LPCOLESTR progId, LPCLSID clsid) {
    if (progId == nullptr || clsid == nullptr)
        return E_INVALIDARG;
    *clsid = GUID_NULL;
    U16View name(progId, Length(progId));
    if (name.empty())
        return CO_E_CLASSSTRING;
    RegKey root;
    HRESULT hr = OpenClassesRoot(host, root);
    if (FAILED(hr))
        return hr;
    U16 text;
    if (!ReadString(root.Get(), U16(name) + u"\\CLSID", nullptr, text))
        return CO_E_CLASSSTRING;
    GUID g;
    if (!ParseGuid(text, g))
        return CO_E_CLASSSTRING;
    *clsid = g;
    return S_OK;
}

HRESULT ProgIDFromCLSIDOnHost(std::u16string_view host, REFCLSID clsid, LPOLESTR* progId) {
    if (progId == nullptr)
        return E_INVALIDARG;
    *progId = nullptr;
    RegKey root;
    HRESULT hr = OpenClassesRoot(host, root);
    if (FAILED(hr))
        return hr;
    U16 text;
    if (!ReadString(root.Get(), u"CLSID\\" + GuidText(clsid) + u"\\ProgID", nullptr, text) || text.empty())
        return REGDB_E_CLASSNOTREG;
    *progId = TaskMemString(text);
    return *progId != nullptr ? S_OK : E_OUTOFMEMORY;
}

}  // namespace nvplatform

// ---- Task memory and time --------------------------------------------------------------------

extern "C" LPVOID CoTaskMemAlloc(SIZE_T cb) {
    // A zero-byte request still yields a distinct block, as the COM allocator promises.
    return std::malloc(cb == 0 ? 1 : cb);
}

extern "C" LPVOID CoTaskMemRealloc(LPVOID pv, SIZE_T cb) {
    if (pv == nullptr)
        return CoTaskMemAlloc(cb);
    if (cb == 0) {
        std::free(pv);
        return nullptr;
    }
    return std::realloc(pv, cb);
}

extern "C" void CoTaskMemFree(LPVOID pv) {
    std::free(pv);
}

extern "C" HRESULT CoFileTimeNow(FILETIME* lpFileTime) {
    if (lpFileTime == nullptr)
        return E_INVALIDARG;
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    // 100-ns intervals since 1601-01-01; the Unix epoch is 11644473600 s later.
    std::uint64_t t = (static_cast<std::uint64_t>(ts.tv_sec) + 11644473600ULL) * 10000000ULL +
                      static_cast<std::uint64_t>(ts.tv_nsec) / 100;
    lpFileTime->dwLowDateTime = static_cast<DWORD>(t);
    lpFileTime->dwHighDateTime = static_cast<DWORD>(t >> 32);
    return S_OK;
}

extern "C" const char16_t* nvplatform_CurrentCreationHost() {
    return t_creationHost.c_str();
}
