#pragma once

#include <QLoggingCategory>
#include <utility>

// The program's log: every failure a handler keeps from the user is written here, so a broken
// handler and a refused command no longer look the same to someone reading the log (or to the
// tests, which fail on any line of this category they did not expect).
Q_DECLARE_LOGGING_CATEGORY(lcQuelvard)

namespace Guard {

// Writes one warning naming the handler and the exception being handled; call it only inside
// a catch block.
void LogCurrentException(const char *handler) noexcept;

// Runs a handler whose failures the design keeps silent toward the user: an exception ends the
// handler, is logged with its name, and goes no further. True when the handler ran to its end.
template <typename Handler> bool Run(const char *handler, Handler &&body) noexcept
{
    try {
        std::forward<Handler>(body)();
        return true;
    } catch (...) {
        LogCurrentException(handler);
        return false;
    }
}

} // namespace Guard
