#include "app/QuitSignals.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <system_error>
#include <utility>
#include <vector>

#include "app/Logging.h"

namespace zelto {

namespace {

// The writing end, for the handler; -1 while no object exists.
volatile std::sig_atomic_t writeEnd = -1;

void onSignal(int signal) {
    const int savedErrno = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    // A full socket already holds enough wake-ups: the byte may be dropped.
    [[maybe_unused]] const auto written = ::write(writeEnd, &number, 1);
    errno = savedErrno;
}

[[noreturn]] void throwErrno(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

struct QuitSignals::Handlers {
    int fds[2] = {-1, -1};  // [0] read by the notifier, [1] written by the handler
    std::vector<std::pair<int, struct sigaction>> previous;

    ~Handlers() {
        for (const auto& [signal, action] : previous) ::sigaction(signal, &action, nullptr);
        writeEnd = -1;
        for (int fd : fds)
            if (fd >= 0) ::close(fd);
    }
};

QuitSignals::QuitSignals(std::initializer_list<int> numbers, QObject* parent)
    : QObject(parent), handlers_(std::make_unique<Handlers>()) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, handlers_->fds) != 0)
        throwErrno("socketpair");
    writeEnd = handlers_->fds[1];
    for (int signal : numbers) {
        struct sigaction action = {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        struct sigaction old = {};
        if (::sigaction(signal, &action, &old) != 0) throwErrno("sigaction");
        handlers_->previous.emplace_back(signal, old);
    }
    notifier_ = new QSocketNotifier(handlers_->fds[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &QuitSignals::readPending);
}

QuitSignals::~QuitSignals() {
    delete notifier_;  // before its socket closes
}

void QuitSignals::readPending() {
    unsigned char numbers[16];
    for (;;) {
        const auto count = ::read(handlers_->fds[0], numbers, sizeof numbers);
        if (count <= 0) break;
        for (ssize_t i = 0; i < count; ++i) {
            qCInfo(zeltoApp) << "signal" << numbers[i] << "received: quitting";
            Q_EMIT received(numbers[i]);
        }
    }
}

}  // namespace zelto
