#include "async/Executor.h"

namespace zelto {

IoPool::IoPool(unsigned threads) {
    guard_.emplace(context_.get_executor());
    if (threads == 0) threads = 1;
    threads_.reserve(threads);
    running_ = threads;
    for (unsigned i = 0; i < threads; ++i) {
        threads_.emplace_back([this] {
            context_.run();
            std::lock_guard lock(mutex_);
            --running_;
            finished_.notify_all();
        });
    }
}

IoPool::~IoPool() { stop(); }

IoPool& IoPool::shared() {
    static IoPool pool(2);
    return pool;
}

void IoPool::stop() {
    guard_.reset();
    context_.stop();
    join();
}

bool IoPool::drain(std::chrono::steady_clock::duration deadline) {
    guard_.reset();
    bool ranOut;
    {
        std::unique_lock lock(mutex_);
        ranOut = finished_.wait_for(lock, deadline, [this] { return running_ == 0; });
    }
    if (!ranOut) context_.stop();
    join();
    return ranOut;
}

void IoPool::join() {
    for (auto& thread : threads_)
        if (thread.joinable()) thread.join();
    threads_.clear();
}

}  // namespace zelto
