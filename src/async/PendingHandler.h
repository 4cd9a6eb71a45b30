#pragma once

#include <asio/associated_executor.hpp>
#include <asio/post.hpp>
#include <asio/system_executor.hpp>
#include <memory>
#include <tuple>
#include <utility>

namespace zelto::detail {

// A parked, type-erased completion handler of signature void(Args...).
// Completing it never runs the handler inline: it is posted to the handler's
// own executor, so a producer holding a lock, or running on a server's strand,
// never resumes a reader's coroutine in place.
template <class... Args>
class PendingHandler {
  public:
    PendingHandler() = default;

    template <class Handler>
    explicit PendingHandler(Handler&& handler)
        : impl_(std::make_unique<Impl<std::decay_t<Handler>>>(std::forward<Handler>(handler))) {}

    explicit operator bool() const noexcept { return impl_ != nullptr; }

    // Posts the handler with `args`. `keepAlive` is released only after the
    // handler returned; for a coroutine that is after it reached its next
    // suspension point.
    void complete(std::shared_ptr<void> keepAlive, Args... args) {
        auto impl = std::move(impl_);
        impl->post(std::move(keepAlive), std::move(args)...);
    }

  private:
    struct Base {
        virtual ~Base() = default;
        virtual void post(std::shared_ptr<void> keepAlive, Args... args) = 0;
    };

    template <class Handler>
    struct Impl final : Base {
        explicit Impl(Handler h) : handler(std::move(h)) {}
        void post(std::shared_ptr<void> keepAlive, Args... args) override {
            auto executor = asio::get_associated_executor(handler, asio::system_executor());
            asio::post(executor, [h = std::move(handler), keep = std::move(keepAlive),
                                  values = std::make_tuple(std::move(args)...)]() mutable {
                std::apply([&h](auto&&... a) { std::move(h)(std::move(a)...); }, std::move(values));
                keep.reset();
            });
        }
        Handler handler;
    };

    std::unique_ptr<Base> impl_;
};

}  // namespace zelto::detail
