// A server's DA 1.0a streams, read by a group that needs no connection for it. The first bytes
// of an input set up what the group is waiting for; the rest is the block as the server hands it
// over, copied into memory of exactly its size so that a read past its end is seen.
#include <string>
#include <vector>

#include "foundation/NvConvert.h"
#include "fuzz/entries/NvFuzzEntries.h"
#include "fuzz/entries/NvFuzzSupport.h"
#include "opc/NvOPCGroup.h"
#include "opc/NvOPCTransaction.h"

namespace nv::fuzz {

namespace {

// A waiting transaction of the kind, under the stand-by ID a DA 1.0a call waits with until the
// server's call returns, holding the client handles 1 .. count.
void StartWaiting(TNvOPCGroup& group, TNvOPCTransactionKind kind, int count) {
    TNvOPCTransaction* waiting = group.StartTransaction(kind);
    for (int i = 1; i <= count; ++i)
        waiting->AddHandle(static_cast<OPCHANDLE>(i), static_cast<OPCHANDLE>(100 + i));
    waiting->SetID(PendingTransactionID);
}

// What the log and the item grid make of every entry.
void Show(const TNvOPCTransaction* transaction) {
    if (transaction == nullptr)
        return;
    transaction->AsString("yyyy/mm/dd hh:nn:ss.zzz", true);
    for (int i = 0; i < transaction->Count(); ++i) {
        try {
            transaction->ItemAsString(i, "yyyy/mm/dd hh:nn:ss.zzz");
        } catch (const EConvertError&) {
            // A value without a text: the log writes the reason in the entry's place.
        }
        transaction->GetErrors(i);
    }
    if (transaction->Kind() != tkRead && transaction->Kind() != tkDataChange)
        return;
    const auto* read = static_cast<const TNvOPCReadTransaction*>(transaction);
    for (int i = 0; i < read->Count(); ++i) {
        try {
            VariantToStr(read->Values(i), true);
        } catch (const EConvertError&) {
            // A value that has no text is shown as its error, as the grid does.
        }
        QualityToStr(read->Qualities(i));
        FileTimeToStr(read->Timestamps(i));
    }
}

}  // namespace

void DA1DataChange(const std::uint8_t* data, std::size_t size) {
    ScratchFolder();
    ByteReader in(data, size);
    const std::uint8_t setup = in.Byte();
    const std::string_view rest = in.Rest();
    const std::vector<BYTE> block(rest.begin(), rest.end());
    TNvOPCGroup group;
    // An answer to a read, or to a refresh (which arrives as a data change of its own ID).
    if ((setup & 2) != 0)
        StartWaiting(group, tkRead, (setup >> 4) & 7);
    if ((setup & 4) != 0)
        StartWaiting(group, tkDataChange, (setup >> 4) & 7);
    try {
        Show(group.HandleDA1DataChange(block.data(), block.size(), (setup & 1) != 0));
    } catch (const ENvOPCException&) {
        // The stream was refused: the documented answer to a malformed one.
    }
}

void DA1WriteComplete(const std::uint8_t* data, std::size_t size) {
    ScratchFolder();
    ByteReader in(data, size);
    const std::uint8_t setup = in.Byte();
    const std::string_view rest = in.Rest();
    const std::vector<BYTE> block(rest.begin(), rest.end());
    TNvOPCGroup group;
    if ((setup & 1) != 0)
        StartWaiting(group, tkWrite, (setup >> 4) & 7);
    try {
        Show(group.HandleDA1WriteComplete(block.data(), block.size()));
    } catch (const ENvOPCException&) {
    }
}

}  // namespace nv::fuzz
