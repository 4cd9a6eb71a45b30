#pragma once

#include <QObject>
#include <initializer_list>
#include <memory>

class QSocketNotifier;

namespace zelto {

// Turns the signals that ask a program to end (SIGTERM at logout, SIGINT
// from a terminal) into a Qt signal on the main thread, so that the program
// quits as its user would, not by being killed.
//
// The handler only writes the signal's number into one end of a socket pair
// (async-signal-safe); a QSocketNotifier on the other end reads it in the
// event loop and emits received().
//
// Threads: construct, use and destroy on the main thread; at most one object
// at a time in a process. Errors: the constructor throws std::system_error
// when the socket pair or a handler cannot be set up. The destructor puts
// the signals' previous handlers back.
class QuitSignals : public QObject {
    Q_OBJECT

  public:
    explicit QuitSignals(std::initializer_list<int> numbers, QObject* parent = nullptr);
    ~QuitSignals() override;
    QuitSignals(const QuitSignals&) = delete;
    QuitSignals& operator=(const QuitSignals&) = delete;

  Q_SIGNALS:
    // One of the signals arrived (the number of each, in order of arrival).
    void received(int signal);

  private:
    void readPending();

    struct Handlers;
    std::unique_ptr<Handlers> handlers_;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace zelto
