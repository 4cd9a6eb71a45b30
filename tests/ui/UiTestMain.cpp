// Entry point of the widget tests: one QApplication on the offscreen platform
// for the whole run, settings kept out of the user's own, and (end-to-end
// tests) a private network namespace for the simulated mixers.
#include <gtest/gtest.h>

#include <QApplication>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cstdio>

#include "ui/Translations.h"

#ifdef ZELTO_UI_TEST_NETNS
#include "support/NetNamespace.h"
#endif

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
#ifdef ZELTO_UI_TEST_NETNS
    if (!testing::GTEST_FLAG(list_tests)) {
        const std::string error = zelto::test::enterPrivateNetwork();
        if (!error.empty()) {
            std::fprintf(stderr, "cannot isolate the network for this test: %s\n", error.c_str());
            return 1;
        }
    }
#endif
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QStandardPaths::setTestModeEnabled(true);
    // Caches (the fingerprints of mixer presets) stay out of the user's own.
    QTemporaryDir cache;
    qputenv("XDG_CACHE_HOME", cache.path().toLocal8Bit());
    QApplication::setOrganizationName(QStringLiteral("Zelto"));
    QApplication::setApplicationName(QStringLiteral("zelto-presets-test"));
    QApplication app(argc, argv);
    // English whatever the machine's locale, with its singular forms ("1 preset").
    zelto::ui::Translations::install(app, QLocale(QLocale::English));
    return RUN_ALL_TESTS();
}
