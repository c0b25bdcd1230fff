#include "common/guard.h"

#include <cstdio>
#include <exception>
#include <new>

Q_LOGGING_CATEGORY(lcQuelvard, "quelvard")

void Guard::LogCurrentException(const char *handler) noexcept
{
    const char *what = "no exception";
    try {
        const std::exception_ptr current = std::current_exception();
        if (current)
            std::rethrow_exception(current);
    } catch (const std::exception &error) {
        what = error.what();
    } catch (...) {
        what = "an exception that is not a std::exception";
    }
    try {
        qCWarning(lcQuelvard, "%s failed: %s", handler, what);
    } catch (...) {
        // Logging itself failed (out of memory): standard error is all that is left.
        std::fputs("quelvard: a handler failed and the failure could not be logged\n", stderr);
    }
}
