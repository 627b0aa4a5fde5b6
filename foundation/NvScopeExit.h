// Runs an action when the scope ends, also during unwinding: the "in every case" steps of an
// operation. An action that raises while an exception is already on its way is silenced, so the
// caller sees the first failure.
#pragma once

#include <exception>
#include <utility>

namespace nv {

template <class F>
class ScopeExit {
public:
    explicit ScopeExit(F action) : action_(std::move(action)) {}
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;
    ~ScopeExit() noexcept(false) {
        if (std::uncaught_exceptions() > uncaught_) {
            try {
                action_();
            } catch (...) {
            }
        } else {
            action_();
        }
    }

private:
    F action_;
    int uncaught_ = std::uncaught_exceptions();
};

}  // namespace nv
