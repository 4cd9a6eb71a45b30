#include "app/MainThreadExecutor.h"

#include <QCoreApplication>
#include <QTimer>
#include <asio/any_io_executor.hpp>

namespace zelto {

static_assert(asio::execution::is_executor<MainThreadExecutor>::value);
static_assert(std::is_constructible_v<asio::any_io_executor, MainThreadExecutor>);

MainThreadContext::MainThreadContext(QObject* parent)
    : QObject(parent), core_(std::make_shared<detail::MainThreadCore>()) {
    core_->context = this;
}

asio::execution_context& MainThreadExecutor::query(asio::execution::context_t) const noexcept {
    static asio::execution_context gone;
    std::lock_guard lock(core_->mutex);
    if (core_->context) return *core_->context;
    return gone;
}

MainThreadContext::~MainThreadContext() {
    {
        std::lock_guard lock(core_->mutex);
        core_->context = nullptr;
    }
    // Posted functions still queued are destroyed with this object, before
    // the execution context's services go.
    QCoreApplication::removePostedEvents(this);
    shutdown();
    destroy();
}

namespace detail {

void MainThreadCore::finished(std::atomic<std::size_t>& counter) {
    if (--counter != 0 || posted + tracked != 0) return;
    std::lock_guard lock(mutex);
    if (context) emit context->idle();
}

void MainThreadCore::post(std::function<void()> function) {
    // Counted until the function ran, or was dropped with the context.
    struct Posted {
        std::shared_ptr<MainThreadCore> core;
        std::function<void()> function;
        Posted(std::shared_ptr<MainThreadCore> c, std::function<void()> f)
            : core(std::move(c)), function(std::move(f)) {
            core->started(core->posted);
        }
        Posted(const Posted&) = delete;
        ~Posted() {
            function = nullptr;
            core->finished(core->posted);
        }
    };
    std::lock_guard lock(mutex);
    if (!context) return;
    auto posted = std::make_shared<Posted>(context->core_, std::move(function));
    QMetaObject::invokeMethod(
        context,
        [posted]() mutable {
            auto run = std::move(posted->function);
            run();
            posted.reset();
        },
        Qt::QueuedConnection);
}

}  // namespace detail

// Plain processEvents rather than a nested QEventLoop: this also runs after
// the application's own loop has been told to quit.
bool MainThreadContext::runUntilIdle(std::chrono::milliseconds deadline) {
    QTimer timer;
    timer.setSingleShot(true);
    timer.start(deadline);
    // Work that ends on a pool thread posts this wake-up to the loop.
    auto wake = connect(
        this, &MainThreadContext::idle, &timer, [] {}, Qt::QueuedConnection);
    while (outstanding() > 0 && timer.isActive())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    disconnect(wake);
    return outstanding() == 0;
}

}  // namespace zelto
