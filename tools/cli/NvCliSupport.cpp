#include "tools/cli/NvCliSupport.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <mutex>

#include "discovery/NvOPCAddressSpace.h"
#include "discovery/NvOPCServerList.h"
#include "foundation/NvEventLoop.h"
#include "foundation/NvSysUtils.h"
#include "opc/NvOPCError.h"

namespace nv::cli {

namespace {

std::atomic<bool> gInterrupted{false};

std::mutex gEscapedMutex;
std::vector<std::string> gEscaped;

extern "C" void OnInterrupt(int) {
    gInterrupted.store(true);
}

}  // namespace

TNvCliProcess::TNvCliProcess() {
    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(hr))
        throw ENvOPCException("Cannot join the multithreaded apartment: " + ResultText(hr));
    comInitialized_ = true;
    hr = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_NONE, RPC_C_IMP_LEVEL_IDENTIFY,
                              nullptr, EOAC_NONE, nullptr);
    if (FAILED(hr) && hr != RPC_E_TOO_LATE) {
        CoUninitialize();
        comInitialized_ = false;
        throw ENvOPCException("Cannot set up process security: " + ResultText(hr));
    }
    SetApplicationTitle("Norvane OPC Client (norvane-opc)");
    InstallOPCServerListLookup();
    InstallOPCAddressSpace();
    SetShowMessageHandler([](const std::string& text) { ReportError(text); });
    SetExceptionHandler([](const std::exception& error) {
        ReportError(error.what());
        std::lock_guard<std::mutex> lock(gEscapedMutex);
        gEscaped.push_back(error.what());
    });
}

TNvCliProcess::~TNvCliProcess() {
    SetExceptionHandler(nullptr);
    SetShowMessageHandler(nullptr);
    if (comInitialized_)
        CoUninitialize();
}

std::vector<std::string> TNvCliProcess::TakeEscapedErrors() {
    std::lock_guard<std::mutex> lock(gEscapedMutex);
    std::vector<std::string> taken;
    taken.swap(gEscaped);
    return taken;
}

void InstallInterruptHandler() {
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
#ifdef SIGPIPE
    // A reader that went away is seen as a failed write, which ends the command cleanly.
    std::signal(SIGPIPE, SIG_IGN);
#endif
}

bool Interrupted() {
    return gInterrupted.load();
}

void RequestInterrupt() {
    gInterrupted.store(true);
}

TNvCliOutput::TNvCliOutput(bool json, std::FILE* stream) : json_(json), stream_(stream) {
    static char buffer[1 << 20];
    if (stream_ == stdout)
        std::setvbuf(stream_, buffer, _IOFBF, sizeof buffer);
}

TNvCliOutput::~TNvCliOutput() {
    Flush();
}

void TNvCliOutput::Write(const std::string& line) {
    if (failed_)
        return;
    if (std::fwrite(line.data(), 1, line.size(), stream_) != line.size() || std::fputc('\n', stream_) == EOF)
        failed_ = true;
}

void TNvCliOutput::Text(const std::string& line) {
    Write(line);
}

void TNvCliOutput::Object(const nlohmann::json& object) {
    // Texts from servers are not always valid UTF-8; they are passed on, not refused.
    Write(object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

void TNvCliOutput::Flush() {
    if (std::fflush(stream_) != 0)
        failed_ = true;
}

void ReportError(const std::string& message) {
    // Messages of the core may span lines (CR LF, or a lone CR); standard error gets plain lines.
    std::string text;
    for (std::size_t i = 0; i < message.size(); ++i) {
        if (message[i] != '\r') {
            text += message[i];
        } else {
            text += '\n';
            if (i + 1 < message.size() && message[i + 1] == '\n')
                ++i;
        }
    }
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    std::fflush(stdout);
    std::fprintf(stderr, "norvane-opc: %s\n", text.c_str());
    std::fflush(stderr);
}

std::unique_ptr<TNvOPCServer> ConnectServer(const TNvCliServerOptions& options, unsigned statusInterval) {
    auto server = std::make_unique<TNvOPCServer>();
    server->SetOwnsGroups(false);
    server->SetStatusInterval(statusInterval);
    if (!options.Host.empty())
        server->SetHost(options.Host);
    server->SetServerName(options.Server);
    server->SetConnected(true);
    return server;
}

bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    while (!done()) {
        if (Interrupted())
            return false;
        int wait = 100;
        if (timeoutMs >= 0) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
            if (left <= 0)
                return false;
            wait = static_cast<int>(std::min<long long>(left, wait));
        }
        WaitAndProcess(wait);
    }
    return true;
}

std::string ResultText(HRESULT code) {
    return Format("$%x (%s)", code, GetOPCErrorName(code));
}

std::string HexCode(HRESULT code) {
    return Format("0x%.8x", code);
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        std::size_t next = end == std::string::npos ? text.size() : end + 1;
        std::size_t stop = end == std::string::npos ? text.size() : end;
        if (stop > start && text[stop - 1] == '\r')
            --stop;
        lines.push_back(text.substr(start, stop - start));
        start = next;
    }
    return lines;
}

}  // namespace nv::cli
