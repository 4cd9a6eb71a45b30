#include "app/NetworkPathMonitor.h"

namespace zelto {

struct NetworkPathMonitor::State {};

NetworkPathMonitor::NetworkPathMonitor(asio::io_context&, Executor) : state_(std::make_shared<State>()) {}
NetworkPathMonitor::~NetworkPathMonitor() = default;
void NetworkPathMonitor::start(Handler) {}
void NetworkPathMonitor::cancel() {}

}  // namespace zelto
