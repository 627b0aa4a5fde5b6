#include "opc/NvOPCLog.h"

#include "foundation/NvExceptions.h"
#include "foundation/NvSysUtils.h"
#include "opc/NvOPCError.h"
#include "opc/NvOPCTransaction.h"

namespace nv {

TNvOPCLog::TNvOPCLog(TNvOPCServer* server) : FServer(server) {
    if (server == nullptr)
        throw EAssertionFailed("A transaction log needs the server that owns it");
}

void TNvOPCLog::AddResult(REFIID iid, const std::string& method, HRESULT code) {
    if (!Active())
        return;
    AddLine(Format("%s.%s: Result=$%x (%s)", GetInterfaceName(iid), method, code, GetOPCErrorName(code)));
}

void TNvOPCLog::AddTransaction(const TNvOPCTransaction* transaction) {
    if (!Active())
        return;
    AddLine(transaction != nullptr ? transaction->AsString(DateTimeFormat(), true) : "Invalid transaction");
}

}  // namespace nv
