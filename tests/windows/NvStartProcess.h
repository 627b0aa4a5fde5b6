// Starting a program from a Windows test: CreateProcessW, tried again when the new process died
// before it had started.
//
// Wine reports a child that ends during its own start-up, without an exit code, as
// ERROR_INTERNAL_ERROR. On a loaded machine that happens now and then with a program that starts
// fine a moment later (the test's reg.exe import, the command-line tool). Windows does not fail a
// start that way, so there the first answer stands. Any other error, and a process that started
// and then failed, are the test's to report.
#pragma once

#ifdef _WIN32

#include <iostream>

#include "platform/NvWide.h"
#include "platform/win32.h"

namespace nv::test {

inline BOOL StartProcess(WideString command, DWORD flags, STARTUPINFOW& startup, PROCESS_INFORMATION& process) {
    constexpr int attempts = 4;
    for (int attempt = 1;; ++attempt) {
        // CreateProcessW may write into its command line, so every attempt gets a fresh copy.
        WideString line = command;
        if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr, &startup,
                           &process))
            return TRUE;
        DWORD error = GetLastError();
        if (error != ERROR_INTERNAL_ERROR || attempt == attempts) {
            SetLastError(error);
            return FALSE;
        }
        // Left in the output, so that a start that needed another try is never hidden.
        std::cout << "[ RESTART  ] the program died while starting (ERROR_INTERNAL_ERROR); attempt "
                  << attempt + 1 << " of " << attempts << std::endl;
        Sleep(200 * attempt);
    }
}

}  // namespace nv::test

#endif
