#pragma once
// Short jobs of the windows that would freeze them (a connection test, say) run off the
// interface thread, and their result comes back to it.
#include <QObject>

#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>

namespace ts::ui {

namespace detail {
void runOffThread(QObject* context, std::function<void()> work, std::function<void()> callback);
}  // namespace detail

// Runs work() on a pooled thread, then callback(result) on the interface thread, but only if
// context (an object of the interface thread) still lives by then; a context freed earlier
// only drops the callback, it neither waits for the work nor stops it. Nobody waits for or
// frees the thread: the pool keeps it, and the program's end waits for work still under
// way. So work holds only what it shares (never what context owns alone), must not throw,
// and should be cut short by context's destructor when it can take long.
template <typename Work, typename Callback>
void runThenCallback(QObject* context, Work work, Callback callback) {
    using Result = std::invoke_result_t<Work&>;
    if constexpr (std::is_void_v<Result>) {
        detail::runOffThread(context, std::move(work), std::move(callback));
    } else {
        auto result = std::make_shared<std::optional<Result>>();
        detail::runOffThread(
            context, [result, work = std::move(work)]() mutable { result->emplace(work()); },
            [result, callback = std::move(callback)]() mutable { callback(std::move(**result)); });
    }
}

}  // namespace ts::ui
