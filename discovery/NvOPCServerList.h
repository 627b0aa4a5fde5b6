// The OPC Data Access servers of one host, found through the host's server-enumeration service
// (by component category), through a search of the host's registry for ProgIDs that carry an
// "OPC" subkey, or both. One entry per server, kept in the order of the CLSID text.
#pragma once

#include <string>

#include "foundation/NvStringList.h"
#include "opc/NvOPCServer.h"
#include "opc/include/opc.h"
#include "platform/NvWide.h"
#include "platform/win32.h"

namespace nv {

class TNvOPCServerDetails : public TObject {
public:
    // Where the server was found; the registry search adds opcscDataAccess10.
    TNvOPCServerCategories Categories;
    ::GUID CLSID{};
    std::string Host;
    // The user-type name, from the enumeration service or the ProgID key's default value.
    std::string Description;
    std::string ProgID;
    // From the registry only.
    std::string Vendor;
};

// The strings are the CLSIDs in registry text form; the attached objects are the entries, owned
// by the list. Made for one host and one refresh: create, set Categories and UseRegistry,
// Connect(host), read.
class TNvOPCServerList : public TNvStringList {
public:
    TNvOPCServerList();
    ~TNvOPCServerList() override;

    TNvOPCServerCategories Categories() const { return categories_; }
    void SetCategories(TNvOPCServerCategories value) { categories_ = value; }
    bool UseRegistry() const { return useRegistry_; }
    void SetUseRegistry(bool value) { useRegistry_ = value; }
    const std::string& Host() const { return host_; }
    bool RegistryConnected() const { return registryConnected_; }
    // The enumeration service while connected to it (no reference added).
    IOPCServerList* ServerList() const { return serverList_; }

    // An empty host means "localhost". Refreshes unless the host is the same text and the
    // enumeration service is still held.
    void Connect(const std::string& host);
    void Refresh();
    void Release();

    // EListError outside the list; EConvertError if the entry is not a server's.
    TNvOPCServerDetails* GetDetails(int index) const;
    TNvOPCServerDetails* DetailsByCLSID(REFCLSID clsid) const;
    // The existing entry for the class, unchanged, or a new one.
    TNvOPCServerDetails* AddServer(REFCLSID clsid, const std::string& progID);
    // Exact ProgID among the entries first, then the enumeration service if held.
    bool FindCLSID(const std::string& progID, CLSID& clsid) const;

    void SearchByCategory(TNvOPCServerCategory category);
    void SearchRegistry();
    void UpdateCategories();
    void SetRegistryConnected(bool value);

protected:
    // A string list receives the ProgIDs, with the entries attached (still owned here).
    void AssignTo(TPersistent* dest) override;

private:
    void CloseRegistry();
    void AddFromRegistryKey(const WideString& name);

    TNvOPCServerCategories categories_{opcscDataAccess10, opcscDataAccess20};
    std::string host_;
    bool useRegistry_ = false;
    bool registryConnected_ = false;
    IOPCServerList* serverList_ = nullptr;
    // HKEY_CLASSES_ROOT of the host; null when there is no accessor.
    HKEY registryRoot_ = nullptr;
    bool registryRootOwned_ = false;
    // Why the remote registry could not be connected ("" when it is, or for a local host).
    std::string registryError_;
};

// Lets server connections find servers that only the host's server list knows (see
// SetOPCServerLookup). Called once at start-up by every program that connects to servers by a
// name that may not be registered locally.
void InstallOPCServerListLookup();

}  // namespace nv
