#include "SimTestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace simtest {

namespace fs = std::filesystem;

std::string Utf8(const OLECHAR* s) {
    return s ? nv::ToUtf8(s) : std::string();
}

namespace {

std::vector<Value> CopyValues(DWORD n, const VARIANT* v) {
    std::vector<Value> out;
    for (DWORD i = 0; i < n; ++i)
        out.emplace_back(v[i]);
    return out;
}

std::string GuidText(const GUID& g) {
    OLECHAR buffer[40] = {};
    StringFromGUID2(g, buffer, 40);
    return Utf8(buffer);
}

}  // namespace

// ---- DataSink ------------------------------------------------------------------------------------

void DataSink::Record(Callback c) {
    c.thread = std::this_thread::get_id();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(std::move(c));
    }
    cv_.notify_all();
}

HRESULT STDMETHODCALLTYPE DataSink::OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                                                 HRESULT hrMastererror, DWORD dwCount,
                                                 OPCHANDLE* phClientItems, VARIANT* pvValues,
                                                 WORD* pwQualities, FILETIME* pftTimeStamps,
                                                 HRESULT* pErrors) {
    Callback c{Callback::Kind::DataChange,
               dwTransid,
               hGroup,
               hrMasterquality,
               hrMastererror,
               std::vector<OPCHANDLE>(phClientItems, phClientItems + dwCount),
               CopyValues(dwCount, pvValues),
               std::vector<WORD>(pwQualities, pwQualities + dwCount),
               std::vector<FILETIME>(pftTimeStamps, pftTimeStamps + dwCount),
               std::vector<HRESULT>(pErrors, pErrors + dwCount)};
    if (onDataChange)
        onDataChange(c);
    Record(std::move(c));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DataSink::OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                                                   HRESULT hrMastererror, DWORD dwCount,
                                                   OPCHANDLE* phClientItems, VARIANT* pvValues,
                                                   WORD* pwQualities, FILETIME* pftTimeStamps,
                                                   HRESULT* pErrors) {
    Record({Callback::Kind::ReadComplete, dwTransid, hGroup, hrMasterquality, hrMastererror,
            std::vector<OPCHANDLE>(phClientItems, phClientItems + dwCount), CopyValues(dwCount, pvValues),
            std::vector<WORD>(pwQualities, pwQualities + dwCount),
            std::vector<FILETIME>(pftTimeStamps, pftTimeStamps + dwCount),
            std::vector<HRESULT>(pErrors, pErrors + dwCount)});
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DataSink::OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMastererr,
                                                    DWORD dwCount, OPCHANDLE* pClienthandles,
                                                    HRESULT* pErrors) {
    Callback c;
    c.kind = Callback::Kind::WriteComplete;
    c.transactionId = dwTransid;
    c.hGroup = hGroup;
    c.masterError = hrMastererr;
    c.handles.assign(pClienthandles, pClienthandles + dwCount);
    c.errors.assign(pErrors, pErrors + dwCount);
    Record(std::move(c));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DataSink::OnCancelComplete(DWORD dwTransid, OPCHANDLE hGroup) {
    Callback c;
    c.kind = Callback::Kind::CancelComplete;
    c.transactionId = dwTransid;
    c.hGroup = hGroup;
    Record(std::move(c));
    return S_OK;
}

std::vector<Callback> DataSink::Calls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

std::optional<Callback> DataSink::WaitForCall(Callback::Kind kind, DWORD transactionId, double seconds) {
    std::optional<Callback> found;
    WaitFor(
        [&](const std::vector<Callback>& calls) {
            for (const auto& c : calls) {
                if (c.kind == kind && c.transactionId == transactionId) {
                    found = c;
                    return true;
                }
            }
            return false;
        },
        seconds);
    return found;
}

// ---- ShutdownSink --------------------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE ShutdownSink::ShutdownRequest(LPCWSTR szReason) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        reasons_.emplace_back(Utf8(szReason), std::this_thread::get_id());
    }
    cv_.notify_all();
    return S_OK;
}

bool ShutdownSink::WaitForReason(std::string* reason, std::thread::id* thread, double seconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!cv_.wait_for(lock, std::chrono::duration<double>(seconds), [&] { return !reasons_.empty(); }))
        return false;
    *reason = reasons_.front().first;
    *thread = reasons_.front().second;
    return true;
}

// ---- StreamSink ----------------------------------------------------------------------------------

void STDMETHODCALLTYPE StreamSink::OnDataChange(FORMATETC* pFormatetc, STGMEDIUM* pStgmed) {
    Stream s;
    s.thread = std::this_thread::get_id();
    s.format = pFormatetc ? pFormatetc->cfFormat : 0;
    if (pStgmed && pStgmed->tymed == TYMED_HGLOBAL && pStgmed->hGlobal) {
        SIZE_T size = GlobalSize(pStgmed->hGlobal);
        auto* p = static_cast<const BYTE*>(GlobalLock(pStgmed->hGlobal));
        if (p) {
            s.bytes.assign(p, p + size);
            GlobalUnlock(pStgmed->hGlobal);
        }
    }
    if (s.format == FormatWriteComplete())
        ParseWriteCompleteStream(s);
    else
        ParseDataStream(s, s.format == FormatDataTime());
    {
        std::lock_guard<std::mutex> lock(mutex_);
        streams_.push_back(std::move(s));
    }
    cv_.notify_all();
}

std::optional<Stream> StreamSink::WaitForTransaction(DWORD transactionId, double seconds) {
    std::optional<Stream> found;
    WaitFor(
        [&](const std::vector<Stream>& streams) {
            for (const auto& s : streams) {
                if (s.valid && s.transactionId == transactionId) {
                    found = s;
                    return true;
                }
            }
            return false;
        },
        seconds);
    return found;
}

std::vector<Stream> StreamSink::Streams() {
    std::lock_guard<std::mutex> lock(mutex_);
    return streams_;
}

void ParseDataStream(Stream& s, bool withTime) {
    const std::vector<BYTE>& b = s.bytes;
    OPCGROUPHEADER gh;
    if (b.size() < sizeof gh) {
        s.problem = "shorter than its header";
        return;
    }
    std::memcpy(&gh, b.data(), sizeof gh);
    if (gh.dwSize != b.size()) {
        s.problem =
            "dwSize " + std::to_string(gh.dwSize) + " but the block holds " + std::to_string(b.size());
        return;
    }
    s.transactionId = gh.dwTransactionID;
    s.hClientGroup = gh.hClientGroup;
    s.status = gh.hrStatus;
    size_t headerSize = withTime ? sizeof(OPCITEMHEADER1) : sizeof(OPCITEMHEADER2);
    if (uint64_t(gh.dwItemCount) * headerSize + sizeof gh > b.size()) {
        s.problem = "item headers run past the block";
        return;
    }
    size_t expectedOffset = sizeof gh + gh.dwItemCount * headerSize;
    for (DWORD i = 0; i < gh.dwItemCount; ++i) {
        StreamItem item;
        DWORD offset = 0;
        const BYTE* h = b.data() + sizeof gh + i * headerSize;
        if (withTime) {
            OPCITEMHEADER1 ih;
            std::memcpy(&ih, h, sizeof ih);
            item.hClient = ih.hClient;
            item.quality = ih.wQuality;
            item.timeStamp = ih.ftTimeStampItem;
            offset = ih.dwValueOffset;
        } else {
            OPCITEMHEADER2 ih;
            std::memcpy(&ih, h, sizeof ih);
            item.hClient = ih.hClient;
            item.quality = ih.wQuality;
            offset = ih.dwValueOffset;
        }
        // Records follow the headers back to back, in header order.
        if (offset != expectedOffset || offset + sizeof(VARIANT) > b.size()) {
            s.problem = "value offset " + std::to_string(offset) + " of item " + std::to_string(i);
            return;
        }
        VARIANT raw;
        std::memcpy(&raw, b.data() + offset, sizeof raw);
        size_t next = offset + sizeof(VARIANT);
        if (raw.vt == VT_BSTR) {
            DWORD bytes = 0;
            if (next + 4 > b.size()) {
                s.problem = "string length past the block";
                return;
            }
            std::memcpy(&bytes, b.data() + next, 4);
            if (bytes % 2 || next + 4 + bytes + 2 > b.size()) {
                s.problem = "string past the block";
                return;
            }
            std::u16string text(bytes / 2, u'\0');
            std::memcpy(text.data(), b.data() + next + 4, bytes);
            item.value.v.vt = VT_BSTR;
            item.value.v.bstrVal =
                SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), bytes / 2);
            next += 4 + bytes + 2;
        } else if (raw.vt & VT_ARRAY) {
            SAFEARRAY descriptor;
            constexpr size_t kDescriptor = offsetof(SAFEARRAY, rgsabound) + sizeof(SAFEARRAYBOUND);
            if (next + kDescriptor > b.size()) {
                s.problem = "array descriptor past the block";
                return;
            }
            std::memcpy(&descriptor, b.data() + next, kDescriptor);
            next += kDescriptor;
            if ((raw.vt & VT_TYPEMASK) == VT_BSTR) {
                for (ULONG e = 0; e < descriptor.rgsabound[0].cElements; ++e) {
                    DWORD bytes = 0;
                    if (next + 4 > b.size()) {
                        s.problem = "array string past the block";
                        return;
                    }
                    std::memcpy(&bytes, b.data() + next, 4);
                    next += 4 + bytes + 2;
                }
            } else {
                next += size_t(descriptor.cbElements) * descriptor.rgsabound[0].cElements;
            }
            if (next > b.size()) {
                s.problem = "array data past the block";
                return;
            }
            item.value.v.vt = VT_EMPTY;  // the tests check arrays by their record size only
        } else {
            item.value.v = raw;
        }
        expectedOffset = next;
        s.items.push_back(std::move(item));
    }
    if (expectedOffset != b.size()) {
        s.problem = "records end at " + std::to_string(expectedOffset) + " of " + std::to_string(b.size());
        return;
    }
    s.valid = true;
}

void ParseWriteCompleteStream(Stream& s) {
    const std::vector<BYTE>& b = s.bytes;
    OPCGROUPHEADERWRITE gh;
    if (b.size() < sizeof gh) {
        s.problem = "shorter than its header";
        return;
    }
    std::memcpy(&gh, b.data(), sizeof gh);
    if (sizeof gh + uint64_t(gh.dwItemCount) * sizeof(OPCITEMHEADERWRITE) != b.size()) {
        s.problem = "size does not match the item count";
        return;
    }
    s.transactionId = gh.dwTransactionID;
    s.hClientGroup = gh.hClientGroup;
    s.status = gh.hrStatus;
    for (DWORD i = 0; i < gh.dwItemCount; ++i) {
        OPCITEMHEADERWRITE ih;
        std::memcpy(&ih, b.data() + sizeof gh + i * sizeof ih, sizeof ih);
        StreamItem item;
        item.hClient = ih.hClient;
        item.error = ih.dwError;
        s.items.push_back(std::move(item));
    }
    s.valid = true;
}

CLIPFORMAT FormatData() {
    return static_cast<CLIPFORMAT>(RegisterClipboardFormatW(OPCSTMFORMATDATA));
}
CLIPFORMAT FormatDataTime() {
    return static_cast<CLIPFORMAT>(RegisterClipboardFormatW(OPCSTMFORMATDATATIME));
}
CLIPFORMAT FormatWriteComplete() {
    return static_cast<CLIPFORMAT>(RegisterClipboardFormatW(OPCSTMFORMATWRITECOMPLETE));
}

// ---- Fixture -------------------------------------------------------------------------------------

void SimTest::SetUp() {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    registration_.emplace("Windows Registry Editor Version 5.00\n\n[HKEY_CLASSES_ROOT\\CLSID\\" +
                          GuidText(nv::sim::CLSID_SimulationDA1) +
                          "]\n\"BulkItems\"=dword:00000007\n\n[HKEY_CLASSES_ROOT\\CLSID\\" +
                          GuidText(nv::sim::CLSID_SimulationFlat) + "]\n\"BulkItems\"=dword:000186a0\n");
#ifndef _WIN32
    config_ = std::getenv("XDG_CONFIG_HOME");
#endif
}

void SimTest::TearDown() {
    registration_.reset();
    CoUninitialize();
}

Ptr<IOPCServer> SimTest::Create(const CLSID& clsid) {
    Ptr<IOPCServer> server;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IOPCServer, server.PutVoid());
    EXPECT_EQ(hr, S_OK);
    return server;
}

Ptr<IOPCItemMgt> SimTest::AddGroup(IOPCServer* server, const std::string& name, DWORD rate, bool active,
                                   OPCHANDLE hClient, OPCHANDLE* hServer, float deadband) {
    Ptr<IOPCItemMgt> group;
    OPCHANDLE h = 0;
    DWORD revised = 0;
    nv::WideString wname = nv::ToWide(name);
    HRESULT hr =
        server->AddGroup(wname.c_str(), active ? TRUE : FALSE, rate, hClient, nullptr, &deadband, 0x400, &h,
                         &revised, IID_IOPCItemMgt, reinterpret_cast<LPUNKNOWN*>(group.Put()));
    EXPECT_TRUE(SUCCEEDED(hr)) << std::hex << hr;
    if (hServer)
        *hServer = h;
    return group;
}

std::vector<SimTest::Added> SimTest::AddItems(IOPCItemMgt* group, const std::vector<std::string>& ids,
                                              VARTYPE requested, bool active, HRESULT* result) {
    std::vector<nv::WideString> wide;
    for (const auto& id : ids)
        wide.push_back(nv::ToWide(id));
    std::vector<OPCITEMDEF> defs(ids.size());
    for (size_t i = 0; i < ids.size(); ++i) {
        defs[i] = {};
        defs[i].szAccessPath = const_cast<LPWSTR>(OLESTR(""));
        defs[i].szItemID = const_cast<LPWSTR>(wide[i].c_str());
        defs[i].bActive = active ? TRUE : FALSE;
        defs[i].hClient = static_cast<OPCHANDLE>(i + 1);
        defs[i].vtRequestedDataType = requested;
    }
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    HRESULT hr = group->AddItems(static_cast<DWORD>(defs.size()), defs.data(), &results, &errors);
    if (result)
        *result = hr;
    std::vector<Added> out;
    if (SUCCEEDED(hr) && results && errors) {
        for (size_t i = 0; i < ids.size(); ++i) {
            out.push_back(
                {results[i].hServer, errors[i], results[i].vtCanonicalDataType, results[i].dwAccessRights});
            CoTaskMemFree(results[i].pBlob);
        }
    }
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
    return out;
}

HRESULT SimTest::WriteSync(IOPCItemMgt* group, OPCHANDLE h, const Value& v) {
    Ptr<IOPCSyncIO> io;
    group->QueryInterface(IID_IOPCSyncIO, io.PutVoid());
    HRESULT* errors = nullptr;
    VARIANT value = v.v;
    HRESULT hr = io->Write(1, &h, &value, &errors);
    HRESULT item = errors ? errors[0] : hr;
    CoTaskMemFree(errors);
    return FAILED(hr) ? hr : item;
}

HRESULT SimTest::ReadSync(IOPCItemMgt* group, OPCHANDLE h, OPCDATASOURCE source, Value* value,
                          WORD* quality) {
    Ptr<IOPCSyncIO> io;
    group->QueryInterface(IID_IOPCSyncIO, io.PutVoid());
    OPCITEMSTATE* states = nullptr;
    HRESULT* errors = nullptr;
    HRESULT hr = io->Read(source, 1, &h, &states, &errors);
    if (FAILED(hr))
        return hr;
    HRESULT item = errors[0];
    if (value)
        *value = Value(states[0].vDataValue);
    if (quality)
        *quality = states[0].wQuality;
    VariantClear(&states[0].vDataValue);
    CoTaskMemFree(states);
    CoTaskMemFree(errors);
    return item;
}

HRESULT SimTest::WriteControl(IOPCServer* server, const std::string& item, const Value& v) {
    Ptr<IOPCItemMgt> group = AddGroup(server, "control writer " + item, 1000, false, 1);
    auto added = AddItems(group.Get(), {"Control." + item});
    if (added.size() != 1 || FAILED(added[0].error))
        return E_FAIL;
    HRESULT hr = WriteSync(group.Get(), added[0].hServer, v);
    Ptr<IOPCGroupStateMgt> state;
    group->QueryInterface(IID_IOPCGroupStateMgt, state.PutVoid());
    OPCHANDLE hServer = 0;
    DWORD rate;
    BOOL active;
    LPWSTR name = nullptr;
    LONG bias;
    FLOAT deadband;
    DWORD lcid;
    OPCHANDLE hClient;
    if (SUCCEEDED(state->GetState(&rate, &active, &name, &bias, &deadband, &lcid, &hClient, &hServer))) {
        CoTaskMemFree(name);
        state.Reset();
        group.Reset();
        server->RemoveGroup(hServer, TRUE);
    }
    return hr;
}

DWORD SimTest::AdviseData(IOPCItemMgt* group, DataSink* sink) {
    Ptr<IConnectionPointContainer> cpc;
    EXPECT_EQ(group->QueryInterface(IID_IConnectionPointContainer, cpc.PutVoid()), S_OK);
    if (!cpc)
        return 0;
    Ptr<IConnectionPoint> cp;
    EXPECT_EQ(cpc->FindConnectionPoint(IID_IOPCDataCallback, cp.Put()), S_OK);
    DWORD cookie = 0;
    EXPECT_EQ(cp->Advise(sink, &cookie), S_OK);
    return cookie;
}

}  // namespace simtest
