// One OPC item of a group: its definition (kept in the very record layout that
// IOPCItemMgt::AddItems takes, so the definition is handed over without copying), what the server
// answered when it was added, and the latest value, quality and time stamp that reached it.
#pragma once

#include <string>

#include "foundation/NvObject.h"
#include "foundation/NvSysUtils.h"
#include "opc/include/opc.h"
#include "platform/win32.h"

namespace nv {

class TNvOPCGroup;

// The definition and the server's answer, without any tie to a group. Changes of the
// definition pass through the virtual hooks, which do nothing here.
class TNvOPCCustomItem : public TPersistent {
public:
    static constexpr OPCHANDLE NotConnectedHandle = 0xFFFFFFFF;

    TNvOPCCustomItem();
    ~TNvOPCCustomItem() override;
    TNvOPCCustomItem(const TNvOPCCustomItem&) = delete;
    TNvOPCCustomItem& operator=(const TNvOPCCustomItem&) = delete;

    std::string GetItemID() const;
    virtual void SetItemID(const std::string& value);
    std::string GetAccessPath() const;
    void SetAccessPath(const std::string& value);
    bool GetActive() const { return itemDef_.bActive != 0; }
    void SetActive(bool value);
    OPCHANDLE GetClientHandle() const { return itemDef_.hClient; }
    void SetClientHandle(OPCHANDLE value);
    VARTYPE GetRequestedDataType() const { return itemDef_.vtRequestedDataType; }
    void SetRequestedDataType(VARTYPE value);
    virtual VARTYPE GetCanonicalDataType() const { return canonicalDataType_; }
    // The requested type, or the server's canonical one when none is requested.
    VARTYPE GetDataType() const;
    void SetDataType(VARTYPE value);

    DWORD AccessRights() const { return accessRights_; }
    HRESULT Error() const { return error_; }
    void SetError(HRESULT value) { error_ = value; }
    OPCHANDLE ServerHandle() const { return serverHandle_; }
    void SetServerHandle(OPCHANDLE value) { serverHandle_ = value; }

    DWORD BlobSize() const { return itemDef_.dwBlobSize; }
    const BYTE* Blob() const { return itemDef_.pBlob; }
    // Resizes the blob; the new contents are undefined until written.
    void SetBlobSize(DWORD size);

    // The definition record as the server receives it.
    const OPCITEMDEF& ItemDef() const { return itemDef_; }
    OPCITEMDEF* ItemDefPtr() { return &itemDef_; }

protected:
    virtual void Config() {}
    virtual void SetItemActive(bool value) {}
    virtual void SetItemClientHandle(OPCHANDLE value) {}
    virtual void SetItemDataType(VARTYPE value) {}
    // Stores the server's answer to adding the item (AddItems' result record and per-item code).
    void StoreItemResult(const OPCITEMRESULT& result, HRESULT error);

private:
    static void ReplaceWide(LPWSTR& field, const std::string& value);

    DWORD accessRights_ = 0;
    VARTYPE canonicalDataType_ = VT_EMPTY;
    HRESULT error_ = S_OK;
    OPCITEMDEF itemDef_{};
    OPCHANDLE serverHandle_ = NotConnectedHandle;
};

// The item a group owns: connects itself through the group's item management, passes every
// definition change on to the server while connected, and holds the latest value.
class TNvOPCItem : public TNvOPCCustomItem {
public:
    TNvOPCItem();
    ~TNvOPCItem() override;

    TNvOPCGroup* Group() const { return FGroup; }
    // Only the owning group ties an item to itself.
    void SetGroup(TNvOPCGroup* group) { FGroup = group; }

    bool GetConnected() const { return ServerHandle() != NotConnectedHandle; }
    void Connect();
    void Disconnect();

    void SetItemID(const std::string& value) override;
    // What the server returned for the item when it was added; a failure leaves the item
    // unconnected and inactive.
    void SetItemResult(const OPCITEMRESULT& result, HRESULT error);

    const VARIANT& Value() const { return value_; }
    WORD Quality() const { return quality_; }
    TDateTime Timestamp() const { return timestamp_; }
    // Written by the group when a read or data change reaches the item.
    void SetValue(const VARIANT& value);
    void SetQuality(WORD value) { quality_ = value; }
    void SetTimestamp(TDateTime value) { timestamp_ = value; }

protected:
    void Config() override;
    void SetItemActive(bool value) override;
    void SetItemClientHandle(OPCHANDLE value) override;
    void SetItemDataType(VARTYPE value) override;

private:
    IOPCItemMgt* ConnectedItemMgt() const;
    // One item-management call for this item while it is connected; its per-item result array
    // is freed in every case, and with a method name the call and the item's result are checked.
    template <class Call>
    void ChangeOnServer(const char* method, Call call);

    TNvOPCGroup* FGroup = nullptr;
    WORD quality_ = 0;
    TDateTime timestamp_ = 0;
    VARIANT value_;
};

}  // namespace nv
