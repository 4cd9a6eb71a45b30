#include "app/MainThreadExecutor.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <asio/any_io_executor.hpp>
#include <QTimer>

namespace zelto {

static_assert(asio::execution::is_executor<MainThreadExecutor>::value);
static_assert(std::is_constructible_v<asio::any_io_executor, MainThreadExecutor>);

MainThreadContext::MainThreadContext(QObject* parent) : QObject(parent) {}

MainThreadContext::~MainThreadContext() {
    // Posted functions still queued are destroyed with this object, before
    // the execution context's services go.
    QCoreApplication::removePostedEvents(this);
    shutdown();
    destroy();
}

void MainThreadContext::workFinished(std::atomic<std::size_t>& counter) {
    if (--counter == 0 && outstanding() == 0) emit idle();
}

void MainThreadContext::post(QObject* owner, std::function<void()> function) {
    // Decrements when the function ran, or when Qt drops it with its owner.
    struct Posted {
        MainThreadContext* context;
        std::function<void()> function;
        Posted(MainThreadContext* c, std::function<void()> f) : context(c), function(std::move(f)) {
            context->workStarted(context->posted_);
        }
        Posted(const Posted&) = delete;
        ~Posted() {
            function = nullptr;
            context->workFinished(context->posted_);
        }
    };
    auto posted = std::make_shared<Posted>(this, std::move(function));
    QMetaObject::invokeMethod(owner, [posted]() mutable {
        auto run = std::move(posted->function);
        posted.reset();
        run();
    }, Qt::QueuedConnection);
}

bool MainThreadContext::runUntilIdle(std::chrono::milliseconds deadline) {
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(this, &MainThreadContext::idle, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    timer.start(deadline);
    while (outstanding() > 0 && timer.isActive()) loop.exec();
    return outstanding() == 0;
}

}  // namespace zelto
