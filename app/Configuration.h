// The test client's document: the one server component with its groups and items, the widths of
// the item grid's columns, the file the set-up was loaded from or saved to, and whether anything
// changed since. It reads and writes the whole set-up as a ".noc" file (INI text):
//
//   [Grid]     Col0.Width .. Col7.Width
//   [Server]   Host, ClassID, ServerName, Log, GroupCount
//   [Group<i>]           Name, Active, Async, LocalTimeBias, TimeBias, UpdateRate,
//                        AsyncRefreshInterval, DataSource (1 cache, 2 device), ItemCount
//   [Group<i>.Item<j>]   ItemID, DataType, Active
//
// in that order, each group's items right after the group. Integers are written in decimal and
// read also in hexadecimal ("$3E8", "0x3E8"); Booleans are "1" and "0". Saving changes the keys in
// place and leaves every other line of an existing file as it was, including the sections of
// groups and items beyond the counts, which loading never reads.
//
// No GUI toolkit here: the main window and the command-line tool share it.
#pragma once

#include <array>
#include <memory>
#include <string>

#include "foundation/NvEvents.h"
#include "foundation/NvObject.h"
#include "opc/NvOPCGroup.h"
#include "opc/NvOPCServer.h"

namespace nv {

class TConfigurationFile;

class TConfiguration : public TObject {
public:
    static constexpr int GridColCount = 8;

    // The server gets no owner, owns its groups and records its transaction log; all grid widths
    // are 100.
    TConfiguration();
    ~TConfiguration() override;

    // Copied into every group read from a file.
    bool AcceptInvalidItems() const { return acceptInvalidItems_; }
    void SetAcceptInvalidItems(bool value) { acceptInvalidItems_ = value; }

    // Columns 0 to 7 of the item grid, in pixels; EListError outside them. A changed width marks
    // the configuration modified.
    int GetGridColWidths(int index) const;
    void SetGridColWidths(int index, int width);
    void ResetGridWidths(int width);

    // Empty for a configuration never saved or loaded.
    const std::string& FileName() const { return fileName_; }
    void SetFileName(const std::string& value) { fileName_ = value; }

    bool Modified() const { return modified_; }
    void SetModified(bool value) { modified_ = value; }

    // Created with the configuration and never replaced; Load, New and Reset empty and refill it.
    TNvOPCServer* Server() const { return server_.get(); }

    // Disconnects the server, destroys its groups (last first) and empties its server name;
    // host, category and log state stay. Clears Modified.
    void Reset();
    // Reset, and the file name becomes empty.
    void New();
    // Reset, then reads FileName: grid widths, server, groups. A missing file gives an empty
    // configuration. A file that cannot be read raises EFOpenError; an exception of a component
    // (a server name that cannot be identified, for one) passes on with what was read so far
    // kept and Modified not cleared.
    void Load();
    // Writes FileName in one replacement of the file (a failure leaves the previous file as it
    // was) and clears Modified; raises EFCreateError or EArgumentException when it cannot.
    void Save();

    // Bound to the server's OnChange and to every loaded group's OnConfigChange: marks the
    // configuration modified and raises OnServerChange.
    void ServerChange(TObject* sender);

    // Sender: the configuration.
    TNotifyEvent OnServerChange;

private:
    void ReadGridWidths(const TConfigurationFile& file);
    void ReadServerParams(const TConfigurationFile& file);
    void ReadGroups(const TConfigurationFile& file);
    void ReadGroup(const TConfigurationFile& file, const std::string& section);
    void ReadItem(const TConfigurationFile& file, const std::string& section, TNvOPCGroup* group);
    void WriteGridWidths(TConfigurationFile& file) const;
    void WriteServerParams(TConfigurationFile& file) const;
    void WriteGroups(TConfigurationFile& file) const;
    void WriteGroup(TConfigurationFile& file, const std::string& section, const TNvOPCGroup* group) const;
    void WriteItem(TConfigurationFile& file, const std::string& section, const TNvOPCItem* item) const;

    bool acceptInvalidItems_ = false;
    std::array<int, GridColCount> gridColWidths_{};
    std::string fileName_;
    bool modified_ = false;
    std::unique_ptr<TNvOPCServer> server_;
};

}  // namespace nv
