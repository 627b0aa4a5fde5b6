// Registry-export texts (.reg) made part of the registry for a test's lifetime, each system
// reading them by its own means, so that one check of what the registry API gives back holds on
// both:
//
//     nv::test::RegImport reg({"NvTest.Kinds"});
//     reg.Import("Windows Registry Editor Version 5.00\n\n[HKEY_CLASSES_ROOT\\NvTest.Kinds]\n@=\"x\"\n");
//
// On Linux every imported text becomes the next file of the user registry in a temporary
// configuration folder that XDG_CONFIG_HOME points to while the object lives; the stand-in loads
// the files in that order, so a later text replaces what an earlier one set. On Windows every text
// goes to a temporary file that the system's own importer (reg.exe import) writes into the system
// registry, one after the other. There the keys named at construction (below HKEY_CLASSES_ROOT,
// with everything under them) are deleted before the first import and on the way out: name keys
// that belong to the test alone.
//
// A text is the bytes a file holds: UTF-8, or UTF-16LE after a byte-order mark (Windows reads a
// file without one in its ANSI code page, so keep such texts ASCII). A text the system refuses
// throws std::runtime_error on both systems, so that no check ever runs against entries that
// were never written.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/NvWide.h"
#include "platform/win32.h"

#include "tests/windows/NvStartProcess.h"
#include "tests/windows/NvTempConfig.h"

namespace nv::test {

// UTF-16LE bytes with a byte-order mark, as a version-5 file is saved on Windows.
inline std::string Utf16LeFile(std::string_view utf8) {
    WideString wide = nv::ToWide(utf8);
    std::string bytes = "\xFF\xFE";
    for (WCHAR c : wide) {
        auto unit = static_cast<std::uint16_t>(c);
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    return bytes;
}

#ifdef _WIN32

class RegImport {
public:
    explicit RegImport(std::vector<std::string> topKeys) {
        for (const std::string& key : topKeys)
            keys_.push_back(nv::ToWide(key));
        DeleteKeys();
    }
    ~RegImport() { DeleteKeys(); }
    RegImport(const RegImport&) = delete;
    RegImport& operator=(const RegImport&) = delete;

    void Import(const std::string& bytes) {
        // Unique in the process: a file of an earlier import may not be gone yet.
        static std::atomic<int> count{0};
        std::filesystem::path file =
            std::filesystem::temp_directory_path() /
            ("nvtest-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++count) + ".reg");
        {
            std::ofstream out(file, std::ios::binary | std::ios::trunc);
            out << bytes;
            if (!out)
                throw std::runtime_error("cannot write " + file.string());
        }
        DWORD exitCode = 0;
        std::string output;
        DWORD error = RunImporter(file, exitCode, output);
        std::error_code ec;
        std::filesystem::remove(file, ec);
        if (error != ERROR_SUCCESS)
            throw std::runtime_error("cannot run reg.exe: Win32 error " + std::to_string(error));
        if (exitCode != 0)
            throw std::runtime_error("reg.exe import refused the text (exit code " +
                                     std::to_string(exitCode) + "): " + output);
    }

private:
    // Runs "reg.exe import <file>" and waits for it; its messages explain a refusal.
    static DWORD RunImporter(const std::filesystem::path& file, DWORD& exitCode, std::string& output) {
        WCHAR system[MAX_PATH];
        UINT n = GetSystemDirectoryW(system, MAX_PATH);
        if (n == 0 || n >= MAX_PATH)
            return GetLastError();
        WideString command = L"\"" + WideString(system) + L"\\reg.exe\" import \"" + file.wstring() + L"\"";

        // Only the pipe's write end goes to the importer. The pipe holds far more than the few
        // lines it writes, so it never waits for a reader.
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE readEnd = nullptr;
        HANDLE writeEnd = nullptr;
        if (!CreatePipe(&readEnd, &writeEnd, &inherit, 1 << 16))
            return GetLastError();
        SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = nullptr;
        startup.hStdOutput = writeEnd;
        startup.hStdError = writeEnd;
        PROCESS_INFORMATION process{};
        BOOL started = StartProcess(command, CREATE_NO_WINDOW, startup, process);
        DWORD error = started ? ERROR_SUCCESS : GetLastError();
        CloseHandle(writeEnd);
        if (started) {
            // A generous limit only so that a hung importer fails the test instead of the whole run.
            if (WaitForSingleObject(process.hProcess, 120000) != WAIT_OBJECT_0) {
                TerminateProcess(process.hProcess, 1);
                WaitForSingleObject(process.hProcess, INFINITE);
            }
            if (!GetExitCodeProcess(process.hProcess, &exitCode))
                error = GetLastError();
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
            // Whatever is in the pipe now; never waits for more.
            char chunk[4096];
            DWORD available = 0;
            DWORD got = 0;
            while (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr) && available > 0 &&
                   ReadFile(readEnd, chunk, sizeof chunk, &got, nullptr) && got > 0)
                output.append(chunk, got);
        }
        CloseHandle(readEnd);
        return error;
    }

    void DeleteKeys() {
        // Deletes each key itself with everything below it; a key that is not there is fine.
        for (const WideString& key : keys_)
            RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    }

    std::vector<WideString> keys_;
};

#else

class RegImport {
public:
    // The keys are the test's own on Windows; here the whole temporary folder goes at the end.
    explicit RegImport(std::vector<std::string> /*topKeys*/) {}

    void Import(const std::string& bytes) {
        // Files load in the order of their names: a fixed-width number keeps it the import order.
        std::string name = std::to_string(++count_);
        name = std::string(name.size() < 4 ? 4 - name.size() : 0, '0') + name + "-import.reg";
        std::filesystem::path file = config_.WriteUser(name, bytes);
        nvplatform::ReloadRegistry();
        for (const std::string& error : nvplatform::RegistryLoadErrors()) {
            if (error.rfind(file.string(), 0) == 0) {
                std::filesystem::remove(file);
                nvplatform::ReloadRegistry();
                throw std::runtime_error("the registry refused the text: " + error);
            }
        }
    }

private:
    TempConfig config_;
    int count_ = 0;
};

#endif

}  // namespace nv::test
