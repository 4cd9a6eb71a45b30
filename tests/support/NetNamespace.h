#pragma once

#include <string>

namespace zelto::test {

// Moves the calling process into a fresh network namespace with only a
// loopback interface, brought up. Must run before any thread is started.
// Returns an empty string on success, else what failed.
std::string enterPrivateNetwork();

// Runs a shell command (for `ip link ...` inside the private namespace);
// returns its exit status.
int runCommand(const std::string& command);

}  // namespace zelto::test
