#include "async/Executor.h"

namespace zelto {

IoPool::IoPool(unsigned threads) {
    guard_.emplace(context_.get_executor());
    if (threads == 0) threads = 1;
    threads_.reserve(threads);
    for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([this] { context_.run(); });
}

IoPool::~IoPool() { stop(); }

IoPool& IoPool::shared() {
    static IoPool pool(2);
    return pool;
}

void IoPool::stop() {
    guard_.reset();
    context_.stop();
    for (auto& thread : threads_)
        if (thread.joinable()) thread.join();
    threads_.clear();
}

}  // namespace zelto
