#include "opc/NvOPCItem.h"

#include <cstring>

#include "foundation/NvScopeExit.h"
#include "foundation/NvSysUtils.h"
#include "opc/NvOPCError.h"
#include "opc/NvOPCGroup.h"
#include "platform/NvWide.h"

namespace nv {

// ---- TNvOPCCustomItem ----------------------------------------------------------------------

TNvOPCCustomItem::TNvOPCCustomItem() {
    itemDef_.bActive = 1;
}

TNvOPCCustomItem::~TNvOPCCustomItem() {
    TNvOPCAlloc::FreeBlob(itemDef_.pBlob);
    itemDef_.dwBlobSize = 0;
    TNvOPCAlloc::FreeMem(itemDef_.szAccessPath);
    TNvOPCAlloc::FreeMem(itemDef_.szItemID);
}

void TNvOPCCustomItem::ReplaceWide(LPWSTR& field, const std::string& value) {
    LPWSTR copy = nullptr;
    if (!value.empty()) {
        WideString wide = ToWide(value);
        const std::size_t bytes = (wide.size() + 1) * sizeof(WCHAR);
        TNvOPCAlloc::AllocMem(copy, bytes);
        std::memcpy(copy, wide.c_str(), bytes);
    }
    TNvOPCAlloc::FreeMem(field);
    field = copy;
}

std::string TNvOPCCustomItem::GetItemID() const {
    return itemDef_.szItemID ? ToUtf8(itemDef_.szItemID) : std::string();
}

void TNvOPCCustomItem::SetItemID(const std::string& value) {
    if (value == GetItemID())
        return;
    ReplaceWide(itemDef_.szItemID, value);
    Config();
}

std::string TNvOPCCustomItem::GetAccessPath() const {
    return itemDef_.szAccessPath ? ToUtf8(itemDef_.szAccessPath) : std::string();
}

void TNvOPCCustomItem::SetAccessPath(const std::string& value) {
    if (value == GetAccessPath())
        return;
    ReplaceWide(itemDef_.szAccessPath, value);
    Config();
}

void TNvOPCCustomItem::SetActive(bool value) {
    if (value == GetActive())
        return;
    itemDef_.bActive = value ? 1 : 0;
    SetItemActive(value);
}

void TNvOPCCustomItem::SetClientHandle(OPCHANDLE value) {
    if (value == itemDef_.hClient)
        return;
    itemDef_.hClient = value;
    SetItemClientHandle(value);
}

void TNvOPCCustomItem::SetRequestedDataType(VARTYPE value) {
    if (value == itemDef_.vtRequestedDataType)
        return;
    // The server is asked first: a refused type must not be remembered as requested.
    SetItemDataType(value);
    itemDef_.vtRequestedDataType = value;
}

VARTYPE TNvOPCCustomItem::GetDataType() const {
    return itemDef_.vtRequestedDataType != VT_EMPTY ? itemDef_.vtRequestedDataType : GetCanonicalDataType();
}

void TNvOPCCustomItem::SetDataType(VARTYPE value) {
    if (value != GetDataType())
        SetRequestedDataType(value);
}

void TNvOPCCustomItem::SetBlobSize(DWORD size) {
    if (size == itemDef_.dwBlobSize)
        return;
    TNvOPCAlloc::FreeBlob(itemDef_.pBlob);
    itemDef_.dwBlobSize = 0;
    if (size > 0)
        TNvOPCAlloc::AllocMem(itemDef_.pBlob, size);
    itemDef_.dwBlobSize = size;
}

void TNvOPCCustomItem::StoreItemResult(const OPCITEMRESULT& result, HRESULT error) {
    if (result.pBlob != nullptr) {
        SetBlobSize(result.dwBlobSize);
        if (result.dwBlobSize > 0)
            std::memcpy(itemDef_.pBlob, result.pBlob, result.dwBlobSize);
    } else {
        SetBlobSize(0);
    }
    canonicalDataType_ = result.vtCanonicalDataType;
    accessRights_ = result.dwAccessRights;
    serverHandle_ = result.hServer;
    error_ = error;
    if (FAILED(error)) {
        serverHandle_ = NotConnectedHandle;
        itemDef_.bActive = 0;
    }
}

// ---- TNvOPCItem ----------------------------------------------------------------------------

TNvOPCItem::TNvOPCItem() {
    VariantInit(&value_);
}

TNvOPCItem::~TNvOPCItem() {
    try {
        Disconnect();
    } catch (...) {
        // Going away regardless; the server forgets the item with its group.
    }
    SetBlobSize(0);
    VariantClear(&value_);
}

IOPCItemMgt* TNvOPCItem::ConnectedItemMgt() const {
    if (!GetConnected() || FGroup == nullptr)
        return nullptr;
    return FGroup->ItemMgtIntf();
}

void TNvOPCItem::SetValue(const VARIANT& value) {
    VariantClear(&value_);
    if (FAILED(VariantCopy(&value_, &value)))
        VariantInit(&value_);
}

void TNvOPCItem::Connect() {
    if (GetConnected() || FGroup == nullptr || !FGroup->Connected() || GetItemID().empty())
        return;
    IOPCItemMgt* itemMgt = FGroup->ItemMgtIntf();
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    try {
        HRESULT hr = itemMgt->AddItems(1, ItemDefPtr(), &results, &errors);
        bool succeeded = FGroup->CheckResult(IID_IOPCItemMgt, "AddItems", hr);
        HRESULT itemError = S_OK;
        if (succeeded && results != nullptr && errors != nullptr) {
            itemError = errors[0];
            SetItemResult(results[0], itemError);
        } else if (succeeded) {
            // A success without its arrays has not added the item for the client to use.
            itemError = E_POINTER;
        }
        if (!FGroup->AcceptInvalidItems())
            FGroup->CheckResult(IID_IOPCItemMgt, Format("AddItems(%s)", GetItemID()), itemError);
    } catch (...) {
        SetServerHandle(NotConnectedHandle);
        TNvOPCAlloc::FreeResultList(errors);
        TNvOPCAlloc::FreeItemResultList(results, 1);
        throw;
    }
    TNvOPCAlloc::FreeResultList(errors);
    TNvOPCAlloc::FreeItemResultList(results, 1);
}

void TNvOPCItem::Disconnect() {
    IOPCItemMgt* itemMgt = ConnectedItemMgt();
    if (itemMgt == nullptr) {
        SetServerHandle(NotConnectedHandle);
        return;
    }
    OPCHANDLE handle = ServerHandle();
    HRESULT* errors = nullptr;
    try {
        HRESULT hr = itemMgt->RemoveItems(1, &handle, &errors);
        FGroup->CheckResult(IID_IOPCItemMgt, "RemoveItems", hr);
    } catch (...) {
        SetServerHandle(NotConnectedHandle);
        TNvOPCAlloc::FreeResultList(errors);
        throw;
    }
    SetServerHandle(NotConnectedHandle);
    TNvOPCAlloc::FreeResultList(errors);
}

void TNvOPCItem::Config() {
    if (GetConnected()) {
        Disconnect();
        Connect();
    }
}

void TNvOPCItem::SetItemID(const std::string& value) {
    const bool becomesDefined = GetItemID().empty() && !value.empty();
    TNvOPCCustomItem::SetItemID(value);
    if (becomesDefined && FGroup != nullptr && FGroup->AutoConnectItems())
        Connect();
}

void TNvOPCItem::SetItemResult(const OPCITEMRESULT& result, HRESULT error) {
    StoreItemResult(result, error);
}

template <class Call>
void TNvOPCItem::ChangeOnServer(const char* method, Call call) {
    IOPCItemMgt* itemMgt = ConnectedItemMgt();
    if (itemMgt == nullptr)
        return;
    OPCHANDLE handle = ServerHandle();
    HRESULT* errors = nullptr;
    ScopeExit freeErrors([&errors] { TNvOPCAlloc::FreeResultList(errors); });
    HRESULT hr = call(itemMgt, &handle, &errors);
    // Without a method name the answer is not examined.
    if (method == nullptr)
        return;
    if (FGroup->CheckResult(IID_IOPCItemMgt, method, hr) && errors != nullptr)
        FGroup->CheckResult(IID_IOPCItemMgt, method, errors[0]);
}

void TNvOPCItem::SetItemActive(bool value) {
    // The item's own flag is what the user set, whatever the server answers.
    ChangeOnServer(nullptr, [value](IOPCItemMgt* itemMgt, OPCHANDLE* handle, HRESULT** errors) {
        return itemMgt->SetActiveState(1, handle, value ? 1 : 0, errors);
    });
}

void TNvOPCItem::SetItemClientHandle(OPCHANDLE value) {
    if (FGroup != nullptr)
        FGroup->ItemClientHandleChanged();
    ChangeOnServer("SetClientHandles", [&value](IOPCItemMgt* itemMgt, OPCHANDLE* handle, HRESULT** errors) {
        return itemMgt->SetClientHandles(1, handle, &value, errors);
    });
}

void TNvOPCItem::SetItemDataType(VARTYPE value) {
    ChangeOnServer("SetDataTypes", [&value](IOPCItemMgt* itemMgt, OPCHANDLE* handle, HRESULT** errors) {
        return itemMgt->SetDatatypes(1, handle, &value, errors);
    });
}

}  // namespace nv
