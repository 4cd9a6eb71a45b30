// Entry point of the application-layer tests: one Qt application object for
// the whole run and, for the suites that talk to simulated mixers (built with
// ZELTO_TEST_PRIVATE_NETWORK), a private network namespace, since the mixers
// bind the protocol's fixed ports.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <cstdio>

#include "support/NetNamespace.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
#ifdef ZELTO_TEST_PRIVATE_NETWORK
    if (!testing::GTEST_FLAG(list_tests)) {
        std::string error = zelto::test::enterPrivateNetwork();
        if (!error.empty()) {
            std::fprintf(stderr, "cannot isolate the network for this test: %s\n", error.c_str());
            return 1;
        }
    }
#endif
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Caches (the fingerprints of mixer presets) stay out of the user's own.
    QTemporaryDir cache;
    qputenv("XDG_CACHE_HOME", cache.path().toLocal8Bit());
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
