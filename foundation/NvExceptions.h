// The exception hierarchy of the whole program. Every error the user can see is an `Exception`
// whose message is the text shown in the error box, so the message is fixed at construction and
// `what()` returns it unchanged.
#pragma once

#include <exception>
#include <string>

#include "platform/win32.h"

namespace nv {

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    ~Exception() override = default;

    const std::string& Message() const noexcept { return message_; }
    void SetMessage(std::string message) { message_ = std::move(message); }
    const char* what() const noexcept override { return message_.c_str(); }
    // The class name as the user sees it in diagnostics ("EConvertError", ...).
    virtual std::string ClassName() const { return "Exception"; }

private:
    std::string message_;
};

#define NV_DECLARE_EXCEPTION(Name, Base)                         \
    class Name : public Base {                                   \
    public:                                                      \
        using Base::Base;                                        \
        std::string ClassName() const override { return #Name; } \
    }

// Text that cannot be read as the value asked for, and the "Cannot assign a %s to a %s" refusal.
NV_DECLARE_EXCEPTION(EConvertError, Exception);
// Bad index, duplicates in a list that refuses them, operations not allowed on a sorted list.
NV_DECLARE_EXCEPTION(EListError, Exception);
// An interface a server must offer is missing.
NV_DECLARE_EXCEPTION(EIntfCastError, Exception);
NV_DECLARE_EXCEPTION(EOutOfMemory, Exception);
// A broken internal invariant that is reported rather than ignored.
NV_DECLARE_EXCEPTION(EAssertionFailed, Exception);
NV_DECLARE_EXCEPTION(EArgumentException, Exception);
// File access of string lists and other text files.
NV_DECLARE_EXCEPTION(EStreamError, Exception);
NV_DECLARE_EXCEPTION(EFOpenError, EStreamError);
NV_DECLARE_EXCEPTION(EFCreateError, EStreamError);
NV_DECLARE_EXCEPTION(EOleError, Exception);

// A failed component-object call: the message plus the HRESULT. The OPC library derives its own
// error with interface and method from this class.
class EOleSysError : public EOleError {
public:
    EOleSysError(std::string message, HRESULT errorCode)
        : EOleError(std::move(message)), errorCode_(errorCode) {}
    HRESULT ErrorCode() const noexcept { return errorCode_; }
    void SetErrorCode(HRESULT code) noexcept { errorCode_ = code; }
    std::string ClassName() const override { return "EOleSysError"; }

private:
    HRESULT errorCode_;
};

#undef NV_DECLARE_EXCEPTION

}  // namespace nv
