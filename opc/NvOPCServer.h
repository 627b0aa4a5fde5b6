// One connection to one OPC Data Access server: class identifier resolution, creation on this
// machine or on a named host, DA version detection, status polling, the server's shutdown
// request, the error path of every checked OPC call, and the list of groups that follow the
// connection through the connect and disconnect signals.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "foundation/NvComponent.h"
#include "foundation/NvEventLoop.h"
#include "foundation/NvEvents.h"
#include "foundation/NvSignals.h"
#include "opc/NvOPCError.h"
#include "opc/NvOPCLog.h"
#include "opc/include/opc.h"
#include "platform/win32.h"

namespace nv {

enum TNvOPCServerCategory : std::uint8_t { opcscAutomatic, opcscDataAccess10, opcscDataAccess20 };

// A set of categories in one byte, bit n standing for the category of ordinal n.
class TNvOPCServerCategories {
public:
    constexpr TNvOPCServerCategories() = default;
    constexpr TNvOPCServerCategories(std::initializer_list<TNvOPCServerCategory> categories) {
        for (TNvOPCServerCategory c : categories)
            Include(c);
    }
    static constexpr TNvOPCServerCategories FromBits(std::uint8_t bits) {
        TNvOPCServerCategories set;
        set.bits_ = bits;
        return set;
    }
    constexpr std::uint8_t Bits() const { return bits_; }
    constexpr bool Contains(TNvOPCServerCategory c) const { return (bits_ >> c) & 1u; }
    constexpr void Include(TNvOPCServerCategory c) { bits_ = static_cast<std::uint8_t>(bits_ | (1u << c)); }
    constexpr void Exclude(TNvOPCServerCategory c) { bits_ = static_cast<std::uint8_t>(bits_ & ~(1u << c)); }
    constexpr bool Empty() const { return bits_ == 0; }
    friend constexpr bool operator==(TNvOPCServerCategories a, TNvOPCServerCategories b) = default;

private:
    std::uint8_t bits_ = 0;
};

class TNvOPCServer;

// What a server needs of the groups attached to it. The group class implements it; the server
// never sees more of a group than this, so the group side can grow without the server knowing.
class INvOPCServerGroup {
public:
    virtual ~INvOPCServerGroup() = default;
    virtual std::string GetGroupName() const = 0;
    // Stores the name the server made unique. Only the stored name changes: no rename on the
    // OPC server, no events, no call back into the server.
    virtual void SetUniqueGroupName(const std::string& name) = 0;
    // The group is now listed by `server` and carries this client handle.
    virtual void AttachedToServer(TNvOPCServer* server, OPCHANDLE clientHandle) = 0;
};

// Finds the class of a server that is neither a CLSID text nor a ProgID registered on this
// machine, through the server list of the host. Returns false when the host's list does not know
// the name; raises with the list's own message when the list cannot be read.
//
// The server list lives above the connection (it belongs with the address space), and the
// connection must not reach up to it. The server list installs this lookup instead
// (InstallOPCServerListLookup, called at start-up), so the dependency stays pointing downwards.
using TNvOPCServerLookup = std::function<bool(const std::string& host, const std::string& serverName,
                                              TNvOPCServerCategory category, CLSID& clsid)>;
// Returns the previous lookup; an empty one removes it.
TNvOPCServerLookup SetOPCServerLookup(TNvOPCServerLookup lookup);

// ---- the server's address space

enum TNvOPCAddressSpaceBrowseAction : std::uint8_t { baBrowse, baSkip, baCancel };
// A browse step of the address space: the branch about to be browsed, its level (-1 for the
// starting point) and the path of its parent as the server sees it. The handler may answer
// baSkip (leave the branch unbrowsed) or baCancel (end the walk).
using TNvOPCAddressSpaceBrowseEvent =
    std::function<void(TObject* sender, int level, const std::string& path, const std::string& branchName,
                       TNvOPCAddressSpaceBrowseAction& action)>;

class TNvOPCAddressSpace;

// What a server needs of its cached address space. The address space is built on the string
// tree and lives above the connection (with the server list), and the connection must not
// reach up to it; so the server holds it through this interface and creates it through a
// factory that the address space installs (InstallOPCAddressSpace, called at start-up, as the
// server list installs its lookup). AsAddressSpace hands callers the full class, so the
// server's AddressSpace getter returns it without the server ever seeing its definition.
class INvOPCServerAddressSpace {
public:
    virtual ~INvOPCServerAddressSpace() = default;
    virtual TNvOPCAddressSpace* AsAddressSpace() = 0;
    virtual bool Updated() const = 0;
    // Reads the whole space from the connected server.
    virtual void Update() = 0;
    // Gives up everything it holds of the connected server (browse position, interface).
    virtual void Release() = 0;
    // Release, then forget the nodes and how the space is organised, for another server.
    virtual void Reset() = 0;
    virtual void SetOnBrowse(TNvOPCAddressSpaceBrowseEvent handler) = 0;
};

using TNvOPCAddressSpaceFactory =
    std::function<std::unique_ptr<INvOPCServerAddressSpace>(TNvOPCServer* server)>;
// Returns the previous factory; an empty one removes it.
TNvOPCAddressSpaceFactory SetOPCAddressSpaceFactory(TNvOPCAddressSpaceFactory factory);

// The name this program gives itself to servers (IOPCCommon::SetClientName): the application's
// title, which the application sets at start-up. Until then, the program file's name.
std::string ApplicationTitle();
void SetApplicationTitle(const std::string& title);

using TNvOPCErrorEvent = std::function<void(TObject* sender, ENvOPCError& error)>;
using TNvOPCShutDownEvent = std::function<void(TObject* sender, const std::string& reason)>;
using TNvOPCServerStateChange = std::function<void(TObject* sender, DWORD oldState, DWORD newState)>;

class TNvOPCServer : public TComponent, public IOPCShutdown {
public:
    explicit TNvOPCServer(TComponent* owner = nullptr);
    ~TNvOPCServer() override;

    // ---- connection
    bool Connected() const { return serverIntf_ != nullptr; }
    void SetConnected(bool value);
    virtual void Connect();
    virtual void Disconnect();
    // Attaches a server object created elsewhere (the caller keeps its own reference).
    void ConnectIntf(IOPCServer* server);
    // The server object while connected, else null (no reference added).
    IOPCServer* ServerIntf() const { return serverIntf_; }

    const std::string& Host() const { return host_; }
    void SetHost(const std::string& value);
    const std::string& ServerName() const { return serverName_; }
    void SetServerName(const std::string& value);
    const CLSID& ClassID() const { return classID_; }
    void SetClassID(const CLSID& value);
    TNvOPCServerCategory Category() const { return category_; }
    void SetCategory(TNvOPCServerCategory value);
    DWORD LCID() const { return lcid_; }
    void SetLCID(DWORD value) { lcid_ = value; }
    unsigned StatusInterval() const;
    void SetStatusInterval(unsigned value);

    TNvOPCLog* Log() const { return log_.get(); }
    void SetLog(TNvOPCLog* source);

    // ---- status
    const OPCSERVERSTATUS& Status() const { return status_; }
    void GetStatus(OPCSERVERSTATUS& status) const { status = status_; }
    // The server's vendor text from the last status read (null before any).
    const WCHAR* VendorInfo() const { return vendorInfo_; }
    void StatusRefresh();
    // A timer tick: carries out a pending shutdown, else reads the status.
    void StatusTimerNotify();
    TNvTimer* StatusTimer() const { return statusTimer_.get(); }
    // The server asked to be let go; the next status tick carries it out. Groups then leave the
    // server's objects alone.
    bool ShutdownPending() const { return shutdownPending_; }

    // ---- error path
    // Logs the call's result; on failure reports it through DoError. True for success.
    bool CheckResult(REFIID iid, const std::string& method, HRESULT code);
    void DoError(TObject* sender, REFIID iid, HRESULT code, const std::string& method);

    // ---- groups
    bool OwnsGroups() const { return ownsGroups_; }
    void SetOwnsGroups(bool value) { ownsGroups_ = value; }
    int GroupCount() const { return static_cast<int>(groups_.size()); }
    // EListError "List index out of bounds (%d)" outside 0 .. GroupCount() - 1.
    INvOPCServerGroup* Groups(int index) const;
    int IndexOfGroup(const INvOPCServerGroup* group) const;
    int ConnectGroup(INvOPCServerGroup* group);
    void DisconnectGroup(INvOPCServerGroup* group);
    void GroupChange(INvOPCServerGroup* group);
    bool MakeUniqueGroupName(std::string& name) const;
    OPCHANDLE NextClientHandle();
    // Groups link their slots here: the first is raised when the server becomes running, the
    // second when it stops being so.
    TNvSignal* ConnectSignal() const { return connectSignal_.get(); }
    TNvSignal* DisconnectSignal() const { return disconnectSignal_.get(); }

    void Clear();
    void Assign(TPersistent* source) override;

    // ---- address space
    // Created on first use and owned by the server. While connected, an address space that does
    // not hold a complete result is filled first, if AutoUpdateAddressSpace. ENvOPCException
    // when no address space factory is installed.
    TNvOPCAddressSpace* AddressSpace() { return GetAddressSpace(); }
    bool AutoUpdateAddressSpace() const { return autoUpdateAddressSpace_; }
    void SetAutoUpdateAddressSpace(bool value) { autoUpdateAddressSpace_ = value; }
    // Relays a browse step of the address space to OnBrowseAddressSpace.
    void DoBrowseAddressSpace(int level, const std::string& path, const std::string& branchName,
                              TNvOPCAddressSpaceBrowseAction& action);

    // ---- events
    TNvOPCAddressSpaceBrowseEvent OnBrowseAddressSpace;
    TNotifyEvent OnChange;
    TNotifyEvent OnConnect;
    TNotifyEvent OnDisconnect;
    TNvOPCErrorEvent OnError;
    TNvOPCShutDownEvent OnShutDown;
    TNvOPCServerStateChange OnStateChange;
    TNotifyEvent OnStatusChange;

    // ---- IOPCShutdown, called by the server on one of its own threads. The object's lifetime
    // belongs to its owner, so reference counting does nothing.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE ShutdownRequest(LPCWSTR szReason) override;

protected:
    virtual void Changed();
    virtual TNvOPCAddressSpace* GetAddressSpace();
    void AssignTo(TPersistent* dest) override;
    void UpdateServerStatus(const OPCSERVERSTATUS* status);
    void DoConnect();
    void DoDisconnect();
    void DoShutdown();

private:
    void InitClassID();
    IUnknown* CreateServerObject();
    void RegisterShutdown();
    void UnregisterShutdown();
    void FreeVendorInfo();
    void ResetAddressSpace();

    IOPCServer* serverIntf_ = nullptr;
    std::string host_ = "localhost";
    std::string serverName_;
    CLSID classID_{};
    TNvOPCServerCategory category_ = opcscAutomatic;
    DWORD lcid_ = 1024;
    bool ownsGroups_ = false;
    bool beingDestroyed_ = false;

    OPCSERVERSTATUS status_{};
    WCHAR* vendorInfo_ = nullptr;

    std::vector<std::pair<std::string, INvOPCServerGroup*>> groups_;
    OPCHANDLE clientHandleCounter_ = 0;

    DWORD shutdownConnection_ = 0;
    // Written by the server's thread, read on the user-interface thread.
    std::atomic<bool> shutdownPending_{false};
    mutable std::mutex shutdownMutex_;
    std::string shutdownReason_;

    std::unique_ptr<INvOPCServerAddressSpace> addressSpace_;
    bool autoUpdateAddressSpace_ = true;

    std::unique_ptr<TNvOPCLog> log_;
    std::unique_ptr<TNvSignal> connectSignal_;
    std::unique_ptr<TNvSignal> disconnectSignal_;
    std::unique_ptr<TNvTimer> statusTimer_;
    // The shutdown callback's way onto the user-interface thread: a posted notice that runs the
    // status tick there at once, whatever the timer's interval (also when polling is off).
    std::unique_ptr<TNvNotifyWindow> wakeWindow_;
    std::shared_ptr<TNvNotifyHandle> wakeTarget_;
};

}  // namespace nv
