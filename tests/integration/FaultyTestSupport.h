// The set-up of the misbehaving-server tests: the group tests' server component, connected to
// one of the simulation module's faulty classes, which the test registers for itself (they are
// in no shipped registration), and a record of the errors the client reports.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "GroupTestSupport.h"
#include "foundation/NvConvert.h"
#include "simulation/Faults.h"

namespace faultytest {

using nv::sim::Fault;

class FaultyTest : public grouptest::GroupTest {
protected:
    void TearDown() override {
        groups_.clear();
        server_.reset();
#ifdef _WIN32
        registration_faulty_.reset();
#endif
        GroupTest::TearDown();
    }

    // Registers the class of `fault` (with the delay of its slow calls, when given) beside the
    // shipped simulation servers.
    void Register(Fault fault, std::optional<DWORD> delayMs = std::nullopt) {
        const std::string progID = nv::sim::FaultyProgID(fault);
        const std::string clsid = conntest::Text(nv::sim::FaultyClassId(fault));
        const std::string classKey = "[HKEY_CLASSES_ROOT\\CLSID\\" + clsid;
        std::string text = conntest::kRegistryHeader;
        text += "[HKEY_CLASSES_ROOT\\" + progID + "]\n@=\"Faulty server\"\n\n";
        text += "[HKEY_CLASSES_ROOT\\" + progID + "\\CLSID]\n@=\"" + clsid + "\"\n\n";
        text += "[HKEY_CLASSES_ROOT\\" + progID + "\\OPC]\n\n";
        text += classKey + "]\n@=\"Faulty server\"\n";
        if (delayMs) {
            char dword[16];
            std::snprintf(dword, sizeof dword, "%08x", static_cast<unsigned>(*delayMs));
            text += "\"FaultDelayMs\"=dword:" + std::string(dword) + "\n";
        }
        text += "\n" + classKey + "\\ProgID]\n@=\"" + progID + "\"\n\n";
        text += classKey + "\\InprocServer32]\n@=\"" + modulePath_ + "\"\n\"ThreadingModel\"=\"Free\"\n\n";
        text += classKey + "\\Implemented Categories\\" + conntest::Text(CATID_OPCDAServer20) + "]\n\n";
#ifdef _WIN32
        registration_faulty_.emplace(text);
#else
        config_->WriteUser("faulty.reg", text);
        nvplatform::ReloadRegistry();
#endif
    }

    void ConnectFaulty(Fault fault, std::optional<DWORD> delayMs = std::nullopt) {
        Register(fault, delayMs);
        ConnectServer(nv::sim::FaultyProgID(fault).c_str());
    }

    // Errors go to the record instead of being raised: "Method $code (server text)".
    void RecordErrors() {
        server_->OnError = [this](nv::TObject*, nv::ENvOPCError& error) {
            reported_.push_back(nv::Format("%s $%x", error.Method(), error.ErrorCode()));
            reportedMessages_.push_back(error.what());
        };
    }

    bool Logged(const std::string& entry) const {
        return CountLog(entry) > 0;
    }

    // A subscribed group on the connected server, items added, first answer awaited or not.
    nv::TNvOPCGroup* AsyncGroup(const std::string& name, const std::vector<std::string>& ids,
                                DWORD rate = 50) {
        nv::TNvOPCGroup* group = NewGroup(name);
        group->SetUpdateRate(rate);
        group->SetActive(true);
        // Items first: the server's first answer to the new subscription then carries them all.
        group->AddItems(ids);
        group->SetAsync(true);
        return group;
    }

    std::vector<std::string> reported_;
    std::vector<std::string> reportedMessages_;

private:
#ifdef _WIN32
    std::optional<nv::test::TestRegistration> registration_faulty_;
#endif
};

}  // namespace faultytest
