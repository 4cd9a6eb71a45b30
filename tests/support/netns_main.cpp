// Test entry point for suites that bind the protocol's fixed ports or build
// their own network: every test process gets a private network namespace, so
// parallel CTest runs never collide and nothing reaches the real interfaces.
#include <gtest/gtest.h>

#include <cstdio>

#include "support/NetNamespace.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    bool listing = testing::GTEST_FLAG(list_tests);
    if (!listing) {
        std::string error = zelto::test::enterPrivateNetwork();
        if (!error.empty()) {
            std::fprintf(stderr, "cannot isolate the network for this test: %s\n", error.c_str());
            return 1;
        }
    }
    return RUN_ALL_TESTS();
}
