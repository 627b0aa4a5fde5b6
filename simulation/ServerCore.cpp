#include <algorithm>
#include <cstring>
#include <cwctype>

#include "simulation/Server.h"

#include "platform/NvWide.h"
#include "simulation/Values.h"

namespace nv::sim {

namespace {

bool EqualsIgnoreCase(WStringView a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        auto fold = [](uint32_t c) { return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c; };
        if (fold(static_cast<uint16_t>(a[i])) != fold(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

// "IOPCSyncIO.Read" is matched by "IOPCSyncIO.Read" and by plain "Read".
bool MethodMatches(WStringView wanted, const char* qualified) {
    std::string_view full(qualified);
    if (EqualsIgnoreCase(wanted, full)) {
        return true;
    }
    size_t dot = full.find('.');
    return dot != std::string_view::npos && EqualsIgnoreCase(wanted, full.substr(dot + 1));
}

// A result code as written to Control.FailHResult: any 32-bit integer, signed or not, or text
// in decimal or 0x-hexadecimal.
bool ResultFromVariant(const VARIANT& v, HRESULT* out) {
    switch (v.vt) {
        case VT_I4:
        case VT_INT:
            *out = v.lVal;
            return true;
        case VT_UI4:
        case VT_UINT:
            *out = static_cast<HRESULT>(v.ulVal);
            return true;
        case VT_I8:
            if (v.llVal < -2147483648LL || v.llVal > 0xFFFFFFFFLL) {
                return false;
            }
            *out = static_cast<HRESULT>(static_cast<uint32_t>(v.llVal));
            return true;
        case VT_UI8:
            if (v.ullVal > 0xFFFFFFFFull) {
                return false;
            }
            *out = static_cast<HRESULT>(static_cast<uint32_t>(v.ullVal));
            return true;
        case VT_R8: {
            double d = v.dblVal;
            if (d < -2147483648.0 || d > 4294967295.0 || d != static_cast<double>(static_cast<int64_t>(d))) {
                return false;
            }
            *out = static_cast<HRESULT>(static_cast<uint32_t>(static_cast<int64_t>(d)));
            return true;
        }
        case VT_BSTR: {
            std::string text = nv::ToUtf8(v.bstrVal);
            while (!text.empty() && text.back() == ' ') {
                text.pop_back();
            }
            size_t start = text.find_first_not_of(' ');
            if (start == std::string::npos) {
                return false;
            }
            text = text.substr(start);
            int base = 10;
            if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
                base = 16;
                text = text.substr(2);
            } else if (text.size() > 1 && text[0] == '$') {
                base = 16;
                text = text.substr(1);
            }
            try {
                size_t used = 0;
                long long value = std::stoll(text, &used, base);
                if (used != text.size() || value < -2147483648LL || value > 0xFFFFFFFFLL) {
                    return false;
                }
                *out = static_cast<HRESULT>(static_cast<uint32_t>(value));
                return true;
            } catch (...) {
                return false;
            }
        }
        default:
            return false;
    }
}

struct ShutdownDelivery final : Delivery {
    ComPtr<IOPCShutdown> sink;
    WString reason;
    void Deliver() override { sink->ShutdownRequest(reason.c_str()); }
};

}  // namespace

AsyncTask::~AsyncTask() {
    for (auto& v : values) {
        VariantClear(&v);
    }
}

ServerCore::ServerCore(ServerFlavor flavor_, std::shared_ptr<const AddressSpace> space_, Fault fault_,
                       DWORD faultDelayMs_)
    : flavor(flavor_),
      space(std::move(space_)),
      fault(fault_),
      faultDelayMs(faultDelayMs_),
      started_(std::chrono::steady_clock::now()) {
    startTime = NowFileTime();
    lastUpdateTime = FILETIME{};
    const auto& items = space->Items();
    states.resize(items.size());
    sampleTime_ = startTime;
    sampleDate_ = FileTimeToDate(startTime);
    DATE now = FileTimeToDate(startTime);
    for (size_t i = 0; i < items.size(); ++i) {
        ItemState& s = states[i];
        if (IsDynamic(items[i].kind)) {
            ComputeValue(items[i], 0.0, 0, now, &s.value);
        } else {
            InitialValue(items[i], &s.value);
        }
        s.timeStamp = startTime;
    }
}

ServerCore::~ServerCore() {
    // The last reference may go on the worker itself, which then cannot be joined.
    if (worker_.joinable()) {
        worker_.detach();
    }
    for (auto& s : states) {
        VariantClear(&s.value);
    }
}

void ServerCore::Start(const std::shared_ptr<ServerCore>& self) {
    std::lock_guard<std::mutex> lock(mutex);
    workerRef_ = self;
    running_ = true;
    worker_ = std::thread([this] { Run(); });
}

void ServerCore::Stop() {
    std::vector<ComPtr<Group>> groupsToDrop;
    std::deque<std::unique_ptr<AsyncTask>> tasksToDrop;
    std::vector<ShutdownSink> sinksToDrop;
    std::vector<LingeringSink> lingeringToDrop;
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopped_ = true;
        for (auto& g : groups) {
            g->MarkRemoved();
        }
        groupsToDrop.swap(groups);
        tasksToDrop.swap(tasks_);
        sinksToDrop.swap(shutdownSinks);
        lingeringToDrop.swap(lingeringSinks);
    }
    wake_.notify_all();
    if (worker_.joinable()) {
        if (worker_.get_id() == std::this_thread::get_id()) {
            worker_.detach();  // a client released the server from inside a callback
        } else {
            worker_.join();
        }
    }
    // Released here, outside the lock: a group's destructor may run now.
}

HRESULT ServerCore::Enter(const char* name) {
    LONG delay = 0;
    HRESULT result = S_OK;
    std::vector<ComPtr<IOPCShutdown>> shutdownNow;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (fault == Fault::FailAfterRestart && restarted) {
            return E_FAIL;
        }
        delay = delayMs;
        if (fault == Fault::SlowAddItems && std::strcmp(name, "IOPCItemMgt.AddItems") == 0) {
            delay = static_cast<LONG>(faultDelayMs);
        }
        if (fault == Fault::ShutdownMidCall && std::strcmp(name, "IOPCSyncIO.Read") == 0) {
            for (const auto& s : shutdownSinks) {
                shutdownNow.push_back(s.sink);
            }
        }
        if (failCount > 0 && MethodMatches(failMethod, name)) {
            result = failResult;
            --failCount;
            if (const ItemDef* item = space->FindControl(ControlKind::FailCount)) {
                VARIANT& v = states[item->index].value;
                VariantClear(&v);
                v.vt = VT_I4;
                v.lVal = failCount;
                states[item->index].changes++;
                states[item->index].timeStamp = NowFileTime();
            }
        }
    }
    if (!shutdownNow.empty()) {
        // As a server's own thread would: the request arrives while the client waits for this call.
        std::thread([&shutdownNow] {
            for (auto& sink : shutdownNow) {
                sink->ShutdownRequest(OLESTR("Restarting in the middle of a call"));
            }
        }).join();
    }
    if (delay > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    }
    return result;
}

double ServerCore::Seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
}

void ServerCore::NextSample() {
    // One clock reading per sample, shared by every item it touches.
    ++sample_;
    sampleSeconds_ = Seconds();
    sampleTime_ = NowFileTime();
    sampleDate_ = FileTimeToDate(sampleTime_);
}

DWORD ServerCore::NextTransactionId() {
    DWORD id = nextTransactionId_++;
    if (nextTransactionId_ == 0) {
        nextTransactionId_ = 1;  // 0 marks a subscription update in the streams
    }
    return id;
}

void ServerCore::Sample(uint32_t index) {
    const ItemDef& item = space->Items()[index];
    if (!IsDynamic(item.kind)) {
        return;
    }
    ItemState& s = states[index];
    VARIANT v;
    ComputeValue(item, sampleSeconds_, sample_, sampleDate_, &v);
    bool same = v.vt == s.value.vt;
    if (same) {
        if (v.vt == VT_BSTR) {
            same = WStringView(v.bstrVal ? v.bstrVal : OLESTR("")) ==
                   WStringView(s.value.bstrVal ? s.value.bstrVal : OLESTR(""));
        } else if (v.vt & VT_ARRAY) {
            same = false;  // arrays of moving values: treat every sample as a change
        } else {
            same = std::memcmp(&v.cVal, &s.value.cVal, 8) == 0;
        }
    }
    if (same) {
        VariantClear(&v);
        return;
    }
    VariantClear(&s.value);
    s.value = v;
    s.timeStamp = sampleTime_;
    s.changes++;
}

HRESULT ServerCore::ReadValue(uint32_t index, bool device, VARTYPE requested, VARIANT* value, WORD* quality,
                              FILETIME* timeStamp) {
    if (device) {
        Sample(index);
    }
    const ItemState& s = states[index];
    *timeStamp = s.timeStamp;
    *quality = s.quality;
    if (state == OPC_STATUS_FAILED && space->Items()[index].kind != ItemKind::Control) {
        *quality = OPC_QUALITY_BAD | OPC_QUALITY_DEVICE_FAILURE;
    } else if (state == OPC_STATUS_NOCONFIG && space->Items()[index].kind != ItemKind::Control) {
        *quality = OPC_QUALITY_BAD | OPC_QUALITY_CONFIG_ERROR;
    }
    HRESULT hr = ConvertValue(s.value, requested, value);
    if (FAILED(hr)) {
        VariantClear(value);
        *quality = OPC_QUALITY_BAD;
    }
    return hr;
}

HRESULT ServerCore::WriteValue(uint32_t index, const VARIANT& value) {
    const ItemDef& item = space->Items()[index];
    if (!(item.access & kAccessWrite)) {
        return OPC_E_BADRIGHTS;
    }
    if (value.vt == VT_EMPTY || value.vt == VT_NULL || !CanConvertType(value.vt, item.type)) {
        return OPC_E_BADTYPE;
    }
    VARIANT converted;
    VariantInit(&converted);
    HRESULT hr;
    if (item.control == ControlKind::FailHResult) {
        HRESULT code = S_OK;
        if (!ResultFromVariant(value, &code)) {
            return OPC_E_BADTYPE;
        }
        converted.vt = VT_I4;
        converted.lVal = code;
        hr = S_OK;
    } else {
        hr = ConvertValue(value, item.type, &converted);
    }
    if (FAILED(hr)) {
        VariantClear(&converted);
        return hr == DISP_E_OVERFLOW ? OPC_E_RANGE : OPC_E_BADTYPE;
    }
    double x = 0;
    if (item.rangeChecked && NumericValue(converted, &x) && (x < item.low || x > item.high)) {
        VariantClear(&converted);
        return OPC_E_RANGE;
    }
    if (item.control != ControlKind::None) {
        bool valid = true;
        switch (item.control) {
            case ControlKind::ServerState:
                valid = converted.lVal >= OPC_STATUS_RUNNING && converted.lVal <= OPC_STATUS_TEST;
                break;
            case ControlKind::FailHResult:
                valid = FAILED(converted.lVal);  // a success code would return unset results
                break;
            case ControlKind::FailCount:
                valid = converted.lVal >= 0;
                break;
            case ControlKind::DelayMs:
                valid = converted.lVal >= 0 && converted.lVal <= 60000;
                break;
            default:
                break;
        }
        if (!valid) {
            VariantClear(&converted);
            return OPC_E_RANGE;
        }
        SetControlState(item.control, converted);
    }
    ItemState& s = states[index];
    VariantClear(&s.value);
    s.value = converted;
    s.quality = OPC_QUALITY_GOOD;
    s.timeStamp = NowFileTime();
    s.changes++;
    return S_OK;
}

void ServerCore::SetControlState(ControlKind kind, const VARIANT& v) {
    switch (kind) {
        case ControlKind::ServerState:
            state = static_cast<OPCSERVERSTATE>(v.lVal);
            break;
        case ControlKind::ShutdownRequest:
            if (fault == Fault::FailAfterRestart) {
                restarted = true;  // without a word to the client
                break;
            }
            pendingShutdowns.emplace_back(v.bstrVal ? v.bstrVal : OLESTR(""));
            Wake();
            break;
        case ControlKind::FailMethod:
            failMethod = v.bstrVal ? v.bstrVal : OLESTR("");
            break;
        case ControlKind::FailHResult:
            failResult = v.lVal;
            break;
        case ControlKind::FailCount:
            failCount = v.lVal;
            break;
        case ControlKind::DelayMs:
            delayMs = v.lVal;
            break;
        case ControlKind::RefuseCallbacks:
            refuseCallbacks = v.boolVal != VARIANT_FALSE;
            break;
        case ControlKind::DropCallbacks:
            dropCallbacks = v.boolVal != VARIANT_FALSE;
            break;
        case ControlKind::RefuseItems:
            refuseItems = v.bstrVal ? v.bstrVal : OLESTR("");
            break;
        case ControlKind::None:
            break;
    }
}

void ServerCore::Queue(std::unique_ptr<AsyncTask> task) {
    if (stopped_) {
        return;  // nobody would run it, and it would keep its group (and so this core) alive
    }
    tasks_.push_back(std::move(task));
    Wake();
}

bool ServerCore::CancelQueued(const Group* group, DWORD cancelId, bool da1,
                              std::unique_ptr<AsyncTask>* removed) {
    for (auto it = tasks_.begin(); it != tasks_.end(); ++it) {
        AsyncTask& t = **it;
        if (t.group.Get() == group && t.da1 == da1 && t.kind != AsyncTask::Kind::CancelComplete &&
            (da1 ? t.transactionId : t.cancelId) == cancelId) {
            *removed = std::move(*it);
            tasks_.erase(it);
            return true;
        }
    }
    return false;
}

WString ServerCore::UniqueGroupName() {
    for (OPCHANDLE n = nextGroupHandle;; ++n) {
        WString name = Widen("Group" + std::to_string(n));
        if (!FindGroup(name)) {
            return name;
        }
    }
}

Group* ServerCore::FindGroup(WStringView name) const {
    for (const auto& g : groups) {
        if (g->Name() == name) {
            return g.Get();
        }
    }
    return nullptr;
}

Group* ServerCore::FindGroup(OPCHANDLE hServer) const {
    for (const auto& g : groups) {
        if (g->ServerHandle() == hServer) {
            return g.Get();
        }
    }
    return nullptr;
}

void ServerCore::Run() {
    using Clock = std::chrono::steady_clock;
    std::shared_ptr<ServerCore> keep;
    std::unique_lock<std::mutex> lock(mutex);
    keep.swap(workerRef_);
    while (!stopped_) {
        poked_ = false;
        std::vector<std::unique_ptr<Delivery>> deliveries;
        auto now = Clock::now();
        auto nextWake = now + std::chrono::seconds(1);
        bool dataSent = false;

        // Asynchronous requests first, in the order they came.
        while (!tasks_.empty() && !stopped_) {
            std::unique_ptr<AsyncTask> task = std::move(tasks_.front());
            tasks_.pop_front();
            size_t before = deliveries.size();
            if (task->kind == AsyncTask::Kind::CancelComplete) {
                task->group->CancelComplete(*task, &deliveries);
            } else {
                task->group->RunTask(*task, &deliveries);
            }
            dataSent = dataSent || deliveries.size() > before;
            // Tasks own values and a group reference: let them go without the lock.
            lock.unlock();
            task.reset();
            lock.lock();
        }

        if (state != OPC_STATUS_SUSPENDED) {
            NextSample();
            for (size_t i = 0; i < groups.size(); ++i) {
                size_t before = deliveries.size();
                auto due = groups[i]->Tick(now, &deliveries);
                dataSent = dataSent || deliveries.size() > before;
                nextWake = std::min(nextWake, due);
            }
        }
        if (dataSent) {
            lastUpdateTime = NowFileTime();
        }

        std::vector<WString> reasons;
        reasons.swap(pendingShutdowns);
        if (!dropCallbacks) {
            for (const auto& reason : reasons) {
                for (const auto& s : shutdownSinks) {
                    auto d = std::make_unique<ShutdownDelivery>();
                    d->sink = s.sink;
                    d->reason = reason;
                    deliveries.push_back(std::move(d));
                }
            }
        }

        if (!deliveries.empty()) {
            lock.unlock();
            for (auto& d : deliveries) {
                d->Deliver();
            }
            deliveries.clear();
            lock.lock();
            continue;  // requests may have arrived meanwhile
        }
        wake_.wait_until(lock, nextWake, [this] {
            return stopped_ || poked_ || !tasks_.empty() || !pendingShutdowns.empty();
        });
    }
    lock.unlock();
    // `keep` goes last; if it is the final reference the core is destroyed on this thread.
}

}  // namespace nv::sim
