// The server connection against the simulation servers, created through COM as the program
// creates them, with the portable event loop pumped for real and the servers calling back from
// their own threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "foundation/NvConvert.h"
#include "foundation/NvHostNames.h"
#include "foundation/NvSignals.h"
#include "foundation/NvStringList.h"
#include "foundation/NvSysUtils.h"
#include "integration/ConnTestSupport.h"
#include "opc/NvOPCServer.h"

namespace {

using conntest::ConnTest;
using conntest::Text;
using namespace nv;

constexpr int kPumpCap = 20000;  // a generous bound, never a measure

const std::string kSimText = Text(nv::sim::CLSID_Simulation);

bool SameGuid(const GUID& a, const GUID& b) {
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}

std::uint64_t Ticks(const FILETIME& t) {
    return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

// Writes a control item of the simulation server through a group of its own, as any client
// would, and removes the group again.
HRESULT WriteControl(IOPCServer* server, const std::string& item, VARIANT value) {
    OPCHANDLE hGroup = 0;
    DWORD revised = 0;
    IOPCItemMgt* items = nullptr;
    HRESULT hr = server->AddGroup(OLESTR("test control writer"), FALSE, 1000, 1, nullptr, nullptr, 1024,
                                  &hGroup, &revised, IID_IOPCItemMgt, reinterpret_cast<LPUNKNOWN*>(&items));
    if (FAILED(hr))
        return hr;
    WideString id = ToWide("Control." + item);
    OPCITEMDEF def{};
    def.szItemID = id.data();
    def.bActive = TRUE;
    def.hClient = 1;
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    hr = items->AddItems(1, &def, &results, &errors);
    if (SUCCEEDED(hr) && FAILED(errors[0]))
        hr = errors[0];
    if (SUCCEEDED(hr)) {
        IOPCSyncIO* sync = nullptr;
        hr = items->QueryInterface(IID_IOPCSyncIO, reinterpret_cast<void**>(&sync));
        if (SUCCEEDED(hr)) {
            HRESULT* writeErrors = nullptr;
            OPCHANDLE handle = results[0].hServer;
            hr = sync->Write(1, &handle, &value, &writeErrors);
            if (hr == S_FALSE && writeErrors != nullptr)
                hr = writeErrors[0];
            CoTaskMemFree(writeErrors);
            sync->Release();
        }
    }
    if (results != nullptr)
        TNvOPCAlloc::FreeItemResultList(results, 1);
    CoTaskMemFree(errors);
    items->Release();
    server->RemoveGroup(hGroup, TRUE);
    return hr;
}

VARIANT I4(LONG v) {
    VARIANT out;
    VariantInit(&out);
    out.vt = VT_I4;
    out.lVal = v;
    return out;
}

// The caller clears it (WriteControl does not).
VARIANT Str(const std::string& text) {
    VARIANT out;
    VariantInit(&out);
    out.vt = VT_BSTR;
    out.bstrVal = SysAllocString(ToWide(text).c_str());
    return out;
}

HRESULT WriteText(IOPCServer* server, const std::string& item, const std::string& text) {
    VARIANT v = Str(text);
    HRESULT hr = WriteControl(server, item, v);
    VariantClear(&v);
    return hr;
}

class ServerTest : public ConnTest {
protected:
    void SetUp() override {
        ConnTest::SetUp();
        server_ = std::make_unique<TNvOPCServer>();
        server_->Log()->SetActive(true);
        server_->Log()->OnChange = [this](TObject*, const std::string& line) { log_.push_back(line); };
        server_->OnConnect = [this](TObject*) { events_.push_back("OnConnect"); };
        server_->OnDisconnect = [this](TObject*) {
            events_.push_back("OnDisconnect");
            if (std::this_thread::get_id() != uiThread_)
                events_.push_back("OnDisconnect off the user-interface thread");
        };
        server_->OnStateChange = [this](TObject*, DWORD from, DWORD to) {
            events_.push_back("OnStateChange " + std::to_string(from) + "->" + std::to_string(to));
        };
        server_->OnStatusChange = [this](TObject*) { events_.push_back("OnStatusChange"); };
        connectSlot_.OnSignal = [this](TComponent*) {
            events_.push_back("connect signal");
            if (failNextGroupConnect_) {
                failNextGroupConnect_ = false;
                throw Exception("group could not connect");
            }
        };
        disconnectSlot_.OnSignal = [this](TComponent*) {
            events_.push_back(server_->ServerIntf() == nullptr ? "disconnect signal"
                                                               : "disconnect signal before release");
        };
        connectSlot_.Connect(server_->ConnectSignal());
        disconnectSlot_.Connect(server_->DisconnectSignal());
    }

    void TearDown() override {
        // Destroying a connected server disconnects it; the handlers must not look at server_,
        // which reset() has already cleared by then.
        disconnectSlot_.OnSignal = [this](TComponent*) { events_.push_back("disconnect signal"); };
        server_.reset();
        ConnTest::TearDown();
    }

    std::vector<std::string> StatusLines() const {
        std::vector<std::string> out;
        for (const auto& line : log_) {
            if (line.rfind("Status changed", 0) == 0)
                out.push_back(line);
        }
        return out;
    }

    std::string Raised(const std::function<void()>& action) {
        try {
            action();
        } catch (const Exception& e) {
            return e.Message();
        }
        return "(nothing raised)";
    }

    // Counts the calls of the installed server-list lookup.
    void CountLookups() {
        TNvOPCServerLookup inner = SetOPCServerLookup(nullptr);
        SetOPCServerLookup([this, inner](const std::string& host, const std::string& name,
                                         TNvOPCServerCategory category, CLSID& clsid) {
            ++lookups_;
            return inner(host, name, category, clsid);
        });
    }

    std::unique_ptr<TNvOPCServer> server_;
    std::vector<std::string> log_;
    std::vector<std::string> events_;
    TNvSlot connectSlot_;
    TNvSlot disconnectSlot_;
    bool failNextGroupConnect_ = false;
    int lookups_ = 0;
    std::thread::id uiThread_ = std::this_thread::get_id();
};

const std::string kConnected = "Connected to Server 'Norvane.Simulation.1' " + kSimText;
const std::string kDisconnected = "Disconnected from Server 'Norvane.Simulation.1' " + kSimText;

TEST_F(ServerTest, ConnectByProgIDRunsTheAttachStepsAndDisconnectReversesThem) {
    CountLookups();
    server_->SetServerName("Norvane.Simulation.1");
    EXPECT_TRUE(SameGuid(server_->ClassID(), nv::sim::CLSID_Simulation));
    EXPECT_EQ(lookups_, 0) << "a locally registered ProgID needs no server list";
    events_.clear();

    server_->SetConnected(true);
    ASSERT_TRUE(server_->Connected());
    EXPECT_EQ(server_->Category(), opcscDataAccess20);
    EXPECT_EQ(server_->Status().dwServerState, OPC_STATUS_RUNNING);
    ASSERT_NE(server_->VendorInfo(), nullptr);
    EXPECT_EQ(server_->Status().szVendorInfo, server_->VendorInfo());
    EXPECT_EQ(log_, (std::vector<std::string>{
                        kConnected,
                        "IConnectionPointContainer.FindConnectionPoint: Result=$0 (OK)",
                        "IConnectionPoint.Advise: Result=$0 (OK)",
                        "IOPCServer.GetStatus: Result=$0 (OK)",
                        "Status changed from 'No connection!' to 'Running'",
                    }));
    EXPECT_EQ(events_, (std::vector<std::string>{"connect signal", "OnConnect", "OnStateChange 0->1",
                                                 "OnStatusChange"}));
    EXPECT_TRUE(server_->StatusTimer()->Enabled());

    log_.clear();
    events_.clear();
    server_->SetConnected(false);
    EXPECT_FALSE(server_->Connected());
    EXPECT_FALSE(server_->StatusTimer()->Enabled());
    EXPECT_EQ(log_,
              (std::vector<std::string>{kDisconnected, "Status changed from 'Running' to 'No connection!'"}));
    // Groups let go only after the server object has been released.
    EXPECT_EQ(events_, (std::vector<std::string>{"disconnect signal", "OnDisconnect", "OnStateChange 1->0",
                                                 "OnStatusChange"}));
    EXPECT_EQ(server_->Status().dwServerState, 0);
    EXPECT_EQ(server_->Category(), opcscDataAccess20) << "the category found stays after disconnecting";
}

TEST_F(ServerTest, CategoryDetectionAndClsidText) {
    CountLookups();
    server_->SetServerName(Text(nv::sim::CLSID_SimulationDA1));
    EXPECT_TRUE(SameGuid(server_->ClassID(), nv::sim::CLSID_SimulationDA1));
    server_->SetConnected(true);
    EXPECT_EQ(server_->Category(), opcscDataAccess10);
    EXPECT_EQ(server_->Status().dwServerState, OPC_STATUS_RUNNING);
    // No connection points: no shutdown registration is even tried.
    EXPECT_EQ(log_, (std::vector<std::string>{"Connected to Server '" + Text(nv::sim::CLSID_SimulationDA1) +
                                                  "' " + Text(nv::sim::CLSID_SimulationDA1),
                                              "IOPCServer.GetStatus: Result=$0 (OK)",
                                              "Status changed from 'No connection!' to 'Running'"}));
    server_->SetConnected(false);

    // A DA 1.0a server forced to DA 2.0 still ends as DA 1.0a.
    server_->SetCategory(opcscDataAccess20);
    server_->SetConnected(true);
    EXPECT_EQ(server_->Category(), opcscDataAccess10);
    server_->SetConnected(false);

    // Forcing DA 1.0a keeps a DA 2.0 server on DA 1.0a, without the shutdown callback.
    server_->SetServerName("Norvane.Simulation.1");
    server_->SetCategory(opcscDataAccess10);
    log_.clear();
    server_->SetConnected(true);
    EXPECT_EQ(server_->Category(), opcscDataAccess10);
    EXPECT_EQ(log_, (std::vector<std::string>{kConnected, "IOPCServer.GetStatus: Result=$0 (OK)",
                                              "Status changed from 'No connection!' to 'Running'"}));
    server_->SetConnected(false);
    EXPECT_EQ(lookups_, 0) << "neither a CLSID text nor a local ProgID goes to the server list";
}

TEST_F(ServerTest, ClassIDSetterNamesTheServerByItsProgIDOrItsText) {
    server_->SetClassID(nv::sim::CLSID_SimulationDA1);
    EXPECT_EQ(server_->ServerName(), "Norvane.Simulation.DA1.1");
    EXPECT_TRUE(SameGuid(server_->ClassID(), nv::sim::CLSID_SimulationDA1));
    server_->SetClassID(conntest::kBare);
    EXPECT_EQ(server_->ServerName(), Text(conntest::kBare));
    EXPECT_TRUE(SameGuid(server_->ClassID(), conntest::kBare));
}

TEST_F(ServerTest, ProgIDKnownOnlyToTheRemoteHostsServerList) {
    NV_REQUIRE_SIMULATED_HOSTS();
    server_->SetHost(conntest::kHost);
    server_->SetServerName("Plant.Simulation.1");
    EXPECT_TRUE(SameGuid(server_->ClassID(), nv::sim::CLSID_Simulation));
    server_->SetConnected(true);
    ASSERT_TRUE(server_->Connected());
    EXPECT_EQ(server_->Status().dwServerState, OPC_STATUS_RUNNING);
    EXPECT_EQ(log_.front(), "Connected to Server 'Plant.Simulation.1' " + kSimText);
    server_->SetConnected(false);
    EXPECT_EQ(log_[log_.size() - 2], "Disconnected from Server 'Plant.Simulation.1' " + kSimText);
}

TEST_F(ServerTest, NamesThatAnotherHostCannotResolve) {
    NV_REQUIRE_SIMULATED_HOSTS();
    const std::string unavailable = GetOPCErrorName(HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE));
    {
        TNvOPCServer server;
        server.SetHost(conntest::kHost);
        EXPECT_EQ(Raised([&] { server.SetServerName("Nope.1"); }),
                  "Cannot identify server 'Nope.1' at 'plant7': Server 'Nope.1' not found from 'plant7'");
        EXPECT_EQ(server.ServerName(), "Nope.1");
        EXPECT_TRUE(SameGuid(server.ClassID(), GUID{}));
        EXPECT_EQ(Raised([&] { server.Connect(); }),
                  "Cannot identify server 'Nope.1' at 'plant7': Server 'Nope.1' not found from 'plant7'");
    }
    {
        TNvOPCServer server;
        server.SetHost(conntest::kNoHost);
        EXPECT_EQ(Raised([&] { server.SetServerName("Nope.1"); }),
                  "Cannot identify server 'Nope.1' at 'nohost9': Could not connect to OPCEnum service at "
                  "'nohost9': " +
                      unavailable);
    }
}

TEST_F(ServerTest, NamesThatCannotBeResolvedOrCreatedHere) {
    {
        TNvOPCServer server;
        EXPECT_EQ(
            Raised([&] { server.SetServerName("Nope.1"); }),
            "Cannot identify server 'Nope.1' at 'localhost': Server 'Nope.1' not found from 'localhost'");
    }
    {
        TNvOPCServer server;
        EXPECT_EQ(Raised([&] { server.Connect(); }),
                  "Cannot connect to server \\\\localhost\\. No valid ClassID!");
    }
    // A class known by its text but registered nowhere: the platform's error, still disconnected.
    server_->SetServerName(Text(conntest::kBare));
    try {
        server_->Connect();
        ADD_FAILURE() << "creating an unregistered class raised nothing";
    } catch (const EOleSysError& e) {
        EXPECT_EQ(e.ErrorCode(), REGDB_E_CLASSNOTREG);
        EXPECT_EQ(e.Message(), GetOPCErrorName(REGDB_E_CLASSNOTREG));
    }
    EXPECT_FALSE(server_->Connected());
    EXPECT_TRUE(log_.empty());
}

TEST_F(ServerTest, StatusPollingFollowsTheServerStateThroughControlItems) {
    server_->SetServerName("Norvane.Simulation.1");
    server_->SetConnected(true);
    ASSERT_EQ(server_->Status().dwServerState, OPC_STATUS_RUNNING);
    server_->SetStatusInterval(5);
    EXPECT_EQ(server_->StatusInterval(), 5u);
    events_.clear();

    ASSERT_EQ(WriteControl(server_->ServerIntf(), "ServerState", I4(OPC_STATUS_SUSPENDED)), S_OK);
    ASSERT_TRUE(ProcessMessagesUntil([&] { return server_->Status().dwServerState == OPC_STATUS_SUSPENDED; },
                                     kPumpCap));
    EXPECT_TRUE(server_->Connected()) << "a suspended server stays connected";
    ASSERT_EQ(WriteControl(server_->ServerIntf(), "ServerState", I4(OPC_STATUS_RUNNING)), S_OK);
    ASSERT_TRUE(ProcessMessagesUntil([&] { return server_->Status().dwServerState == OPC_STATUS_RUNNING; },
                                     kPumpCap));

    EXPECT_EQ(StatusLines(), (std::vector<std::string>{"Status changed from 'No connection!' to 'Running'",
                                                       "Status changed from 'Running' to 'Suspended'",
                                                       "Status changed from 'Suspended' to 'Running'"}));
    std::vector<std::string> changes;
    for (const auto& e : events_) {
        if (e != "OnStatusChange")
            changes.push_back(e);
    }
    EXPECT_EQ(changes, (std::vector<std::string>{"disconnect signal before release", "OnDisconnect",
                                                 "OnStateChange 1->4", "connect signal", "OnConnect",
                                                 "OnStateChange 4->1"}));
}

TEST_F(ServerTest, ShutdownRequestDisconnectsAtTheNextTickOnTheUserInterfaceThread) {
    server_->SetServerName("Norvane.Simulation.1");
    // Polling off: the request must still come through.
    server_->SetStatusInterval(0);
    server_->SetConnected(true);
    ASSERT_TRUE(server_->Connected());
    events_.clear();
    log_.clear();

    ASSERT_EQ(WriteText(server_->ServerIntf(), "ShutdownRequest", "maintenance"), S_OK);
    ASSERT_TRUE(ProcessMessagesUntil([&] { return !server_->Connected(); }, kPumpCap));
    EXPECT_EQ(messages_,
              (std::vector<std::string>{"Shutdown from Norvane.Simulation.1.  Reason=maintenance"}));
    EXPECT_EQ(log_,
              (std::vector<std::string>{kDisconnected, "Status changed from 'Running' to 'No connection!'"}));
    EXPECT_EQ(events_, (std::vector<std::string>{"disconnect signal", "OnDisconnect", "OnStateChange 1->0",
                                                 "OnStatusChange"}));
    EXPECT_EQ(server_->StatusInterval(), 0u);

    // With a handler, the handler hears the reason instead of the user, after the disconnect.
    std::vector<std::string> reasons;
    server_->OnShutDown = [&](TObject* sender, const std::string& reason) {
        EXPECT_EQ(sender, server_.get());
        EXPECT_FALSE(server_->Connected());
        EXPECT_EQ(std::this_thread::get_id(), uiThread_);
        reasons.push_back(reason);
    };
    server_->SetStatusInterval(30000);
    server_->SetConnected(true);
    ASSERT_EQ(WriteText(server_->ServerIntf(), "ShutdownRequest", "second"), S_OK);
    ASSERT_TRUE(ProcessMessagesUntil([&] { return !reasons.empty(); }, kPumpCap));
    EXPECT_EQ(reasons, (std::vector<std::string>{"second"}));
    EXPECT_EQ(messages_.size(), 1u);
    EXPECT_EQ(server_->StatusInterval(), 30000u);

    // A fresh connection after a shutdown registers and polls as before.
    server_->SetConnected(true);
    EXPECT_EQ(server_->Status().dwServerState, OPC_STATUS_RUNNING);
    server_->SetConnected(false);
}

TEST_F(ServerTest, FailedGetStatusRecordsStateZeroAndKeepsTheOtherFields) {
    server_->SetServerName("Norvane.Simulation.1");
    server_->SetConnected(true);
    const OPCSERVERSTATUS before = server_->Status();
    const std::string vendor = ToUtf8(server_->VendorInfo());
    std::vector<HRESULT> codes;
    server_->OnError = [&](TObject* sender, ENvOPCError& error) {
        EXPECT_EQ(sender, server_.get());
        EXPECT_EQ(error.Method(), "GetStatus");
        EXPECT_TRUE(SameGuid(error.IID(), IID_IOPCServer));
        codes.push_back(error.ErrorCode());
    };
    ASSERT_EQ(WriteText(server_->ServerIntf(), "FailMethod", "GetStatus"), S_OK);
    ASSERT_EQ(WriteControl(server_->ServerIntf(), "FailHResult", I4(static_cast<LONG>(E_FAIL))), S_OK);
    ASSERT_EQ(WriteControl(server_->ServerIntf(), "FailCount", I4(1)), S_OK);
    log_.clear();
    events_.clear();

    FILETIME earliest;
    GetSystemTimeAsFileTime(&earliest);
    server_->StatusRefresh();
    FILETIME latest;
    GetSystemTimeAsFileTime(&latest);

    EXPECT_EQ(codes, (std::vector<HRESULT>{E_FAIL}));
    EXPECT_EQ(log_, (std::vector<std::string>{
                        "IOPCServer.GetStatus: Result=$80004005 (" + GetOPCErrorName(E_FAIL) + ")",
                        "Status changed from 'Running' to 'No connection!'"}));
    EXPECT_EQ(events_, (std::vector<std::string>{"disconnect signal before release", "OnDisconnect",
                                                 "OnStateChange 1->0", "OnStatusChange"}));
    const OPCSERVERSTATUS& after = server_->Status();
    EXPECT_EQ(after.dwServerState, 0);
    EXPECT_GE(Ticks(after.ftCurrentTime), Ticks(earliest));
    EXPECT_LE(Ticks(after.ftCurrentTime), Ticks(latest));
    EXPECT_EQ(Ticks(after.ftStartTime), Ticks(before.ftStartTime));
    EXPECT_EQ(Ticks(after.ftLastUpdateTime), Ticks(before.ftLastUpdateTime));
    EXPECT_EQ(after.wMajorVersion, before.wMajorVersion);
    EXPECT_EQ(after.dwGroupCount, before.dwGroupCount);
    EXPECT_EQ(ToUtf8(server_->VendorInfo()), vendor);
    EXPECT_TRUE(server_->Connected()) << "a failed poll is not a disconnection";

    // The next poll finds the server running and connects the groups again.
    server_->StatusRefresh();
    EXPECT_EQ(server_->Status().dwServerState, OPC_STATUS_RUNNING);

    // Without a handler the raised error is swallowed by the poll.
    server_->OnError = nullptr;
    ASSERT_EQ(WriteControl(server_->ServerIntf(), "FailCount", I4(1)), S_OK);
    EXPECT_NO_THROW(server_->StatusTimerNotify());
    EXPECT_EQ(server_->Status().dwServerState, 0);
    // A failed call outside the poll raises the error with the server's own text.
    try {
        server_->CheckResult(IID_IOPCServer, "GetStatus", E_FAIL);
        ADD_FAILURE() << "a failed checked call raised nothing";
    } catch (const ENvOPCError& e) {
        EXPECT_EQ(e.ErrorCode(), E_FAIL);
        LPWSTR text = nullptr;
        ASSERT_EQ(server_->ServerIntf()->GetErrorString(E_FAIL, server_->LCID(), &text), S_OK);
        EXPECT_EQ(e.ReasonText(), ToUtf8(text));
        CoTaskMemFree(text);
    }
}

TEST_F(ServerTest, AGroupThatFailsToConnectIsRetriedAtTheNextPoll) {
    server_->SetServerName("Norvane.Simulation.1");
    failNextGroupConnect_ = true;
    events_.clear();
    EXPECT_NO_THROW(server_->SetConnected(true));
    EXPECT_TRUE(server_->Connected());
    EXPECT_EQ(server_->Status().dwServerState, 0);
    EXPECT_EQ(StatusLines(), (std::vector<std::string>{"Status changed from 'Running' to 'No connection!'"}));
    server_->StatusRefresh();
    EXPECT_EQ(server_->Status().dwServerState, OPC_STATUS_RUNNING);
    EXPECT_EQ(StatusLines().back(), "Status changed from 'No connection!' to 'Running'");
    EXPECT_EQ(std::count(events_.begin(), events_.end(), std::string("connect signal")), 2);
}

TEST_F(ServerTest, SettersAndCommandsAreRefusedWhileConnected) {
    server_->SetServerName("Norvane.Simulation.1");
    server_->SetConnected(true);
    TNvOPCServer other;
    EXPECT_EQ(Raised([&] { server_->SetHost("elsewhere"); }), "Cannot change Host while connected.");
    EXPECT_EQ(Raised([&] { server_->SetServerName("Norvane.Simulation.DA1.1"); }),
              "Cannot change ProgID while connected.");
    EXPECT_EQ(Raised([&] { server_->SetCategory(opcscDataAccess10); }),
              "Category cannot be changed when the Server is connected!");
    EXPECT_EQ(Raised([&] { server_->SetCategory(server_->Category()); }),
              "Category cannot be changed when the Server is connected!");
    EXPECT_EQ(Raised([&] { server_->Clear(); }), "Cannot clear when Connected");
    EXPECT_EQ(Raised([&] { server_->Assign(&other); }), "Cannot Assign to a Server that is connected.");
    // Unchanged values are no change at all.
    EXPECT_EQ(Raised([&] { server_->SetHost("localhost"); }), "(nothing raised)");
    EXPECT_EQ(Raised([&] { server_->SetServerName("Norvane.Simulation.1"); }), "(nothing raised)");
    EXPECT_EQ(server_->Host(), "localhost");
    EXPECT_EQ(server_->ServerName(), "Norvane.Simulation.1");
    EXPECT_TRUE(server_->Connected());
}

TEST_F(ServerTest, AssignCopiesTheConnectionSettings) {
    // This computer by its own name, so the copied host differs from a new server's "localhost".
    const std::string self = LocalComputerName();
    TNvOPCServer source;
    source.SetHost(self);
    source.SetServerName("Norvane.Simulation.1");
    source.SetCategory(opcscDataAccess10);
    server_->Assign(&source);
    EXPECT_EQ(server_->Host(), self);
    EXPECT_EQ(server_->ServerName(), "Norvane.Simulation.1");
    EXPECT_TRUE(SameGuid(server_->ClassID(), nv::sim::CLSID_Simulation));
    EXPECT_EQ(server_->Category(), opcscDataAccess10);
    TNvStringList list;
    EXPECT_EQ(Raised([&] { server_->Assign(&list); }), "Cannot assign a TNvStringList to a TNvOPCServer");
    // An empty host means this machine.
    server_->SetHost("");
    EXPECT_EQ(server_->Host(), "localhost");
}

}  // namespace
