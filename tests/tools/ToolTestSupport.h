// Runs the built norvane-opc as a process, as a script would, and hands back its exit status and
// what it wrote to standard output and standard error, each as lines. On Linux every test has a
// configuration folder of its own (the shipped simulation servers, nothing of the user's); under
// Windows and Wine the program meets the simulation module registered in the system registry.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#ifdef _WIN32
#include <windows.h>

#include "tests/windows/NvStartProcess.h"
#else
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>

#include "tests/windows/NvTempConfig.h"
#endif

namespace tooltest {

namespace fs = std::filesystem;

inline constexpr char kDA2[] = "Norvane.Simulation.1";
inline constexpr char kDA1[] = "Norvane.Simulation.DA1.1";
inline constexpr char kFlat[] = "Norvane.Simulation.Flat.1";

struct ToolRun {
    int status = -1;
    std::vector<std::string> out;
    std::vector<std::string> err;
    std::string rawOut;
    std::string errText() const {
        std::string text;
        for (const auto& l : err)
            text += l + "\n";
        return text;
    }
};

inline std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

inline std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline fs::path ToolPath() {
#ifdef _WIN32
    return fs::path(NV_BUILD_DIR) / "bin" / "norvane-opc.exe";
#else
    return fs::path(NV_BUILD_DIR) / "bin" / "norvane-opc";
#endif
}

class ToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fs::exists(ToolPath())) << ToolPath() << " was not built";
#ifndef _WIN32
        config_.emplace();
        scratch_ = config_->Root() / "scratch";
#else
        scratch_ = fs::temp_directory_path() / ("norvane-opc-test-" + std::to_string(GetCurrentProcessId()) +
                                                "-" + std::to_string(counter_++));
#endif
        fs::create_directories(scratch_);
    }

    void TearDown() override {
#ifdef _WIN32
        std::error_code ec;
        fs::remove_all(scratch_, ec);
#else
        config_.reset();
#endif
    }

    // Runs the program with the arguments; with interruptAfterMs, sends it Ctrl+C (SIGINT) that
    // long after the start.
    ToolRun Run(const std::vector<std::string>& args, std::optional<int> interruptAfterMs = std::nullopt) {
        const fs::path outFile = scratch_ / "stdout.txt";
        const fs::path errFile = scratch_ / "stderr.txt";
        ToolRun run;
#ifdef _WIN32
        std::wstring command = L"\"" + ToolPath().wstring() + L"\"";
        for (const auto& a : args)
            command += L" \"" + fs::path(a).wstring() + L"\"";
        SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        HANDLE out = CreateFileW(outFile.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        HANDLE err = CreateFileW(errFile.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = out;
        startup.hStdError = err;
        PROCESS_INFORMATION process{};
        BOOL started = nv::test::StartProcess(command, 0, startup, process);
        CloseHandle(out);
        CloseHandle(err);
        if (!started) {
            ADD_FAILURE() << "cannot start " << ToolPath() << ": error " << GetLastError();
            return run;
        }
        WaitForSingleObject(process.hProcess, 180000);
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        run.status = static_cast<int>(code);
        (void)interruptAfterMs;
#else
        std::vector<std::string> all{ToolPath().string()};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        std::fflush(nullptr);
        pid_t child = fork();
        if (child == 0) {
            int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(out, 1);
            ::dup2(err, 2);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        if (child < 0) {
            ADD_FAILURE() << "cannot fork";
            return run;
        }
        if (interruptAfterMs) {
            std::this_thread::sleep_for(std::chrono::milliseconds(*interruptAfterMs));
            ::kill(child, SIGINT);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
#endif
        run.rawOut = ReadAll(outFile);
        run.out = SplitLines(run.rawOut);
        run.err = SplitLines(ReadAll(errFile));
        return run;
    }

    static std::vector<nlohmann::json> Objects(const ToolRun& run) {
        std::vector<nlohmann::json> objects;
        for (const auto& line : run.out) {
            auto object = nlohmann::json::parse(line, nullptr, false);
            EXPECT_FALSE(object.is_discarded()) << "not JSON: " << line;
            objects.push_back(object);
        }
        return objects;
    }

    fs::path scratch_;
#ifndef _WIN32
    std::optional<nv::test::TempConfig> config_;
#else
    static inline int counter_ = 0;
#endif
};

// A local date-time as the log writes time stamps: "yyyy/mm/dd hh:nn:ss.zzz".
inline constexpr char kStamp[] = R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d\.\d{3})";

}  // namespace tooltest
