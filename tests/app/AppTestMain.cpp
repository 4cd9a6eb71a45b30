// Entry point of the application-layer tests: a private network namespace
// (simulated mixers bind the protocol's fixed ports) and one Qt application
// object for the whole run.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <cstdio>

#include "support/NetNamespace.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (!testing::GTEST_FLAG(list_tests)) {
        std::string error = zelto::test::enterPrivateNetwork();
        if (!error.empty()) {
            std::fprintf(stderr, "cannot isolate the network for this test: %s\n", error.c_str());
            return 1;
        }
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
