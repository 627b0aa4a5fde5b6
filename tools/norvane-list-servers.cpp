// norvane-list-servers [host]: lists the OPC DA servers that the OPC server-enumeration service
// of a host knows (this computer when no host is given), one line per server:
//
//   {CLSID}<TAB>ProgID<TAB>description<TAB>DA versions
//
// A smoke test of the COM runtime, the registry and the enumeration service together. Exit
// code 0 on success (also when the host has no servers), 1 on failure, 2 on bad usage.
#include <algorithm>
#include <cstdio>
#include <map>
#include <string>

#include "opc/include/opcda.h"
#include "opc/include/opcenum.h"
#include "platform/NvWide.h"
#include "platform/win32.h"

namespace {

// The system's own text for the code, without its line end; empty when it has none.
std::string ResultText(HRESULT hr) {
    WCHAR text[512] = {};
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                  static_cast<DWORD>(hr), 0, text, 512, nullptr);
    std::string out = nv::ToUtf8(nv::WideStringView(text, std::min<DWORD>(length, 511)));
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' '))
        out.pop_back();
    return out;
}

int Fail(const std::string& what, HRESULT hr) {
    std::string text = ResultText(hr);
    std::fprintf(stderr, "norvane-list-servers: %s: 0x%08X%s%s%s\n", what.c_str(), static_cast<unsigned>(hr),
                 text.empty() ? "" : " (", text.c_str(), text.empty() ? "" : ")");
    return 1;
}

std::string GuidText(const GUID& guid) {
    OLECHAR text[40] = {};
    if (StringFromGUID2(guid, text, 40) == 0)
        return "{?}";
    return nv::ToUtf8(text);
}

struct Server {
    CLSID clsid{};
    bool da10 = false;
    bool da20 = false;
};

// Asks the service for the classes of one category and merges them into `servers`.
HRESULT Collect(IOPCServerList* list, const CATID& category, bool Server::*flag,
                std::map<std::string, Server>& servers) {
    CATID implemented[1] = {category};
    IEnumGUID* classes = nullptr;
    HRESULT hr = list->EnumClassesOfCategories(1, implemented, 0, nullptr, &classes);
    if (FAILED(hr))
        return hr;
    if (classes == nullptr)
        return E_POINTER;
    CLSID clsid;
    ULONG fetched = 0;
    while (SUCCEEDED(classes->Next(1, &clsid, &fetched)) && fetched == 1) {
        Server& server = servers[GuidText(clsid)];
        server.clsid = clsid;
        server.*flag = true;
    }
    classes->Release();
    return S_OK;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2 || (argc == 2 && (std::string(argv[1]) == "-h" || std::string(argv[1]) == "--help"))) {
        std::fprintf(stderr, "usage: norvane-list-servers [host]\n");
        return 2;
    }
    const std::string host = argc == 2 ? argv[1] : "";
    const std::string where = host.empty() ? "this computer" : "host '" + host + "'";

    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(hr))
        return Fail("cannot join the multithreaded apartment", hr);
    hr = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_NONE, RPC_C_IMP_LEVEL_IDENTIFY,
                              nullptr, EOAC_NONE, nullptr);
    if (FAILED(hr) && hr != RPC_E_TOO_LATE) {
        CoUninitialize();
        return Fail("cannot set up process security", hr);
    }

    IOPCServerList* list = nullptr;
    if (host.empty()) {
        hr = CoCreateInstance(CLSID_OPCServerList, nullptr, CLSCTX_ALL, IID_IOPCServerList,
                              reinterpret_cast<void**>(&list));
    } else {
        nv::WideString name = nv::ToWide(host);
        COSERVERINFO server{};
        server.pwszName = name.data();
        MULTI_QI query{&IID_IOPCServerList, nullptr, S_OK};
        hr = CoCreateInstanceEx(CLSID_OPCServerList, nullptr, CLSCTX_ALL, &server, 1, &query);
        if (SUCCEEDED(hr))
            hr = query.hr;
        if (SUCCEEDED(hr))
            list = static_cast<IOPCServerList*>(query.pItf);
    }
    if (FAILED(hr) || list == nullptr) {
        CoUninitialize();
        return Fail("cannot create the OPC server enumeration service of " + where,
                    FAILED(hr) ? hr : E_POINTER);
    }

    std::map<std::string, Server> servers;  // ordered by CLSID text
    hr = Collect(list, CATID_OPCDAServer10, &Server::da10, servers);
    if (SUCCEEDED(hr))
        hr = Collect(list, CATID_OPCDAServer20, &Server::da20, servers);
    if (FAILED(hr)) {
        list->Release();
        CoUninitialize();
        return Fail("cannot list the OPC DA servers of " + where, hr);
    }

    for (const auto& [clsidText, server] : servers) {
        LPOLESTR progID = nullptr;
        LPOLESTR userType = nullptr;
        HRESULT details = list->GetClassDetails(server.clsid, &progID, &userType);
        std::string versions = server.da10 && server.da20 ? "DA 1.0, 2.0" : server.da20 ? "DA 2.0" : "DA 1.0";
        if (SUCCEEDED(details)) {
            std::printf("%s\t%s\t%s\t%s\n", clsidText.c_str(), nv::ToUtf8(progID).c_str(),
                        nv::ToUtf8(userType).c_str(), versions.c_str());
        } else {
            std::printf("%s\t?\t(no class details: 0x%08X)\t%s\n", clsidText.c_str(),
                        static_cast<unsigned>(details), versions.c_str());
        }
        CoTaskMemFree(progID);
        CoTaskMemFree(userType);
    }
    if (servers.empty())
        std::fprintf(stderr, "norvane-list-servers: no OPC DA servers on %s\n", where.c_str());
    std::fflush(stdout);

    list->Release();
    CoUninitialize();
    return 0;
}
