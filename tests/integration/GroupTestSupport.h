// The set-up of the group tests: one server component connected to a simulation server through
// COM object creation, as the program connects, with its transaction log on and unbounded, and
// helpers that pump the event loop until the server's callbacks have been handled.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ConnTestSupport.h"
#include "foundation/NvEventLoop.h"
#include "foundation/NvSysUtils.h"
#include "opc/NvOPCGroup.h"
#include "opc/NvOPCServer.h"

namespace grouptest {

inline constexpr char kDA2[] = "Norvane.Simulation.1";
inline constexpr char kDA1[] = "Norvane.Simulation.DA1.1";

// The length of the time stamp a log line starts with ("yyyy/mm/dd hh:nn:ss.zzz ").
inline constexpr std::size_t kStampLength = 24;

class GroupTest : public conntest::ConnTest {
protected:
    void SetUp() override {
        ConnTest::SetUp();
        server_ = std::make_unique<nv::TNvOPCServer>();
        server_->Log()->SetActive(true);
        server_->Log()->SetMaxLines(0);
        // Polls come only when a test asks for them.
        server_->SetStatusInterval(0);
    }

    void TearDown() override {
        groups_.clear();
        server_.reset();
        ConnTest::TearDown();
    }

    void ConnectServer(const char* progID) {
        server_->SetServerName(progID);
        server_->SetConnected(true);
        ASSERT_TRUE(server_->Connected());
    }

    // A group of the test's own, attached to the server (which connects it when the server is
    // connected).
    nv::TNvOPCGroup* NewGroup(const std::string& name = "Group", bool attach = true) {
        groups_.push_back(std::make_unique<nv::TNvOPCGroup>());
        nv::TNvOPCGroup* group = groups_.back().get();
        group->SetGroupName(name);
        if (attach)
            group->SetServer(server_.get());
        return group;
    }

    static bool Pump(const std::function<bool()>& done, int timeoutMs = 10000) {
        return nv::ProcessMessagesUntil(done, timeoutMs);
    }

    // The log's entries without their time stamps.
    std::vector<std::string> LogEntries() const {
        std::vector<std::string> entries;
        const nv::TNvOPCLog* log = server_->Log();
        for (int i = 0; i < log->Count(); ++i)
            entries.push_back(log->Lines(i).substr(kStampLength));
        return entries;
    }

    int CountLog(const std::string& entry) const {
        int n = 0;
        for (const std::string& e : LogEntries())
            n += e == entry ? 1 : 0;
        return n;
    }

    int CountLogStartingWith(const std::string& prefix) const {
        int n = 0;
        for (const std::string& e : LogEntries())
            n += e.rfind(prefix, 0) == 0 ? 1 : 0;
        return n;
    }

    std::string LastLog() const {
        auto entries = LogEntries();
        return entries.empty() ? std::string() : entries.back();
    }

    // Writes a control item of the simulation server through a group of its own.
    void WriteControl(const std::string& name, const VARIANT& value) {
        nv::TNvOPCGroup control;
        control.SetGroupName("Control");
        control.SetServer(server_.get());
        nv::TNvOPCItem* item = control.AddItem("Control." + name);
        ASSERT_TRUE(item->GetConnected()) << name;
        control.WriteItem(item, value, false, false);
    }

    static VARIANT Int(LONG value) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_I4;
        v.lVal = value;
        return v;
    }

    static VARIANT Real(double value) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_R8;
        v.dblVal = value;
        return v;
    }

    static VARIANT Bool(bool value) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_BOOL;
        v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
        return v;
    }

    // A BSTR variant the test clears itself.
    static VARIANT Text(const std::string& text) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocString(nv::ToWide(text).c_str());
        return v;
    }

    std::unique_ptr<nv::TNvOPCServer> server_;
    std::vector<std::unique_ptr<nv::TNvOPCGroup>> groups_;
};

}  // namespace grouptest
