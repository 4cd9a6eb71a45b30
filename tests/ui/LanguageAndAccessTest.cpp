// The application's texts in German and their completeness, and what it
// offers to users of assistive technology and of either palette: names and
// descriptions of the views, and readable secondary texts and headings.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenuBar>
#include <QProcess>
#include <QStyle>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QToolBar>
#include <QToolButton>
#include <QXmlStreamReader>
#include <asio/ip/address_v4.hpp>
#include <cmath>

#include "app/AppSettings.h"
#include "app/AppTestSupport.h"
#include "app/MainController.h"
#include "device/ZeltoDevice.h"
#include "device/ZeltoDeviceError.h"
#include "sync/StatusText.h"
#include "sync/TempFolder.h"
#include "ui/DeviceInfoSheet.h"
#include "ui/ItemViews.h"
#include "ui/MainWindow.h"
#include "ui/SettingsDialog.h"
#include "ui/StatusSheet.h"
#include "ui/SubduedLabel.h"
#include "ui/TextColors.h"
#include "ui/Translations.h"

namespace zelto {
namespace {

using test::waitUntil;

// --- completeness ------------------------------------------------------------

// The messages of a translation file that are not done once lupdate has
// brought it up to date with the sources: new texts and texts now gone.
struct Gaps {
    QStringList untranslated;
    QStringList gone;
};

Gaps gapsOf(const QString& fileName, bool pluralsOnly) {
    const QString source = QStringLiteral(ZELTO_SOURCE_ROOT);
    QTemporaryDir scratch;
    const QString copy = scratch.filePath(fileName);
    EXPECT_TRUE(QFile::copy(source + QStringLiteral("/translations/") + fileName, copy))
        << fileName.toStdString();

    QStringList arguments{QStringLiteral("-locations"), QStringLiteral("none"),
                          QStringLiteral("-no-ui-lines"), QStringLiteral("-I"), QStringLiteral("src")};
    if (pluralsOnly) arguments << QStringLiteral("-pluralonly");
    arguments << QStringLiteral(ZELTO_TRANSLATED_DIRS).split(QLatin1Char(' ')) << QStringLiteral("-ts")
              << copy;
    QProcess lupdate;
    lupdate.setWorkingDirectory(source);
    lupdate.start(QStringLiteral(ZELTO_LUPDATE), arguments);
    EXPECT_TRUE(lupdate.waitForFinished(120'000) && lupdate.exitCode() == 0)
        << lupdate.readAllStandardError().toStdString();

    Gaps gaps;
    QFile file(copy);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&file);
    QString context, text, type;
    bool empty = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            if (xml.name() == QLatin1String("name")) context = xml.readElementText();
            if (xml.name() == QLatin1String("source")) text = xml.readElementText();
            if (xml.name() == QLatin1String("translation")) {
                type = xml.attributes().value(QLatin1String("type")).toString();
                empty = false;
            }
            if (xml.name() == QLatin1String("numerusform") && xml.readElementText().isEmpty()) empty = true;
        } else if (xml.isEndElement() && xml.name() == QLatin1String("message")) {
            const QString entry = QStringLiteral("  %1: \"%2\"").arg(context, text);
            if (type == QLatin1String("vanished") || type == QLatin1String("obsolete"))
                gaps.gone << entry;
            else if (type == QLatin1String("unfinished") || empty)
                gaps.untranslated << entry;
        }
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    return gaps;
}

const char* const kHowToUpdate =
    "Run `cmake --build build --target update_translations`, translate the texts marked "
    "unfinished in translations/zelto-presets_de.ts (and give the English singular of counted texts "
    "in zelto-presets_en.ts), and commit both files.\n";

TEST(Translations, EveryTextTheApplicationShowsHasAGermanTranslationAndNoneIsLeftOver) {
    const Gaps gaps = gapsOf(QStringLiteral("zelto-presets_de.ts"), false);
    EXPECT_TRUE(gaps.untranslated.isEmpty()) << "Texts without a German translation:\n"
                                             << gaps.untranslated.join('\n').toStdString() << "\n"
                                             << kHowToUpdate;
    EXPECT_TRUE(gaps.gone.isEmpty()) << "Translations of texts no longer in the sources:\n"
                                     << gaps.gone.join('\n').toStdString() << "\n"
                                     << kHowToUpdate;
}

TEST(Translations, EveryCountedTextHasItsEnglishSingularAndGermanIsShipped) {
    const Gaps gaps = gapsOf(QStringLiteral("zelto-presets_en.ts"), true);
    EXPECT_TRUE(gaps.untranslated.isEmpty() && gaps.gone.isEmpty())
        << "Counted texts without English forms, or forms of texts now gone:\n"
        << (gaps.untranslated + gaps.gone).join('\n').toStdString() << "\n"
        << kHowToUpdate;
    EXPECT_TRUE(ui::Translations::shipped().contains(QStringLiteral("de")));
}

// --- the window in German, and for assistive technology ------------------------

std::vector<RemoteZeltoPreset> presets(int count) {
    std::vector<RemoteZeltoPreset> list;
    for (int i = 0; i < count; ++i) list.emplace_back("Band-" + std::to_string(i));
    return list;
}

class Window : public ::testing::Test {
  protected:
    void open() {
        settings.setSyncDirectoryPath(folder.path());
        ControllerOptions options;
        options.noBroadcast = true;
        options.monitorNetworkPath = false;
        controller = std::make_unique<MainController>(pool, store, settings, ui, options);
        window = std::make_unique<ui::MainWindow>(*controller, ui);
        window->show();
        stage = std::make_shared<ZeltoDevice>(pool.context(), asio::ip::make_address_v4("127.0.0.2"), 9112,
                                              std::nullopt);
        store.addSource(std::make_shared<PresetSource>(DataStore::localSourceName, nullptr, presets(1)));
        store.addSource(std::make_shared<PresetSource>("Stage", stage, presets(300)));
        ASSERT_TRUE(waitUntil([&] { return window->sourceModel().rowCount() == 2; }));
        window->sourceView()->selectAll();
        QCoreApplication::sendPostedEvents();
    }
    void TearDown() override {
        window.reset();
        if (controller) {
            EXPECT_TRUE(controller->shutDown());
        }
        ui::Translations::install(*QCoreApplication::instance(), QLocale(QLocale::English));
    }
    QModelIndex sourceRow(int row) { return window->sourceModel().index(row); }

    test::TempFolder folder, config;
    AppSettings settings{QString::fromStdString(config.path() + "settings.ini")};
    IoPool pool{2};
    DataStore store;
    test::FakeUi ui;
    std::unique_ptr<MainController> controller;
    std::unique_ptr<ui::MainWindow> window;
    DevicePtr stage;
};

// Labels and buttons narrower than their text show it cut off.
QStringList cutOffTexts(QWidget* top) {
    QStringList cut;
    for (auto* label : top->findChildren<QLabel*>()) {
        if (!label->isVisible() || label->wordWrap() || label->text().isEmpty()) continue;
        if (label->width() < label->sizeHint().width()) cut << label->text();
    }
    for (auto* button : top->findChildren<QAbstractButton*>()) {
        if (!button->isVisible() || button->text().isEmpty()) continue;
        if (button->width() < button->sizeHint().width()) cut << button->text();
    }
    return cut;
}

TEST_F(Window, InGermanEveryTextIsGermanAndFitsWhereItIsShown) {
    ASSERT_EQ(ui::Translations::install(*QCoreApplication::instance(), QLocale(QLocale::German)), "de");
    open();
    EXPECT_EQ(window->menuBar()->actions().front()->text(), "&Datei");
    EXPECT_EQ(sourceRow(0).data().toString(), "Zelto App (lokal)");
    EXPECT_EQ(sourceRow(0).data(Qt::AccessibleDescriptionRole).toString(), "Sync-Ordner  ·  1 Preset");
    EXPECT_EQ(sourceRow(1).data(Qt::AccessibleDescriptionRole).toString(), "Mischpult  ·  300 Presets");
    EXPECT_EQ(statustext::text(statustext::startingSync), "Abgleich beginnt");
    EXPECT_EQ(statustext::receivedPresets(1, nullptr), "1 Preset von lokal empfangen");
    EXPECT_EQ(statustext::failed(ZeltoDeviceError(ZeltoDeviceError::Case::deviceIsOffline)),
              "Fehlgeschlagen! Mischpult ist offline");

    // The window at its first size, and each dialog as it opens.
    auto* toolbar = window->findChild<QToolBar*>();
    ASSERT_NE(toolbar, nullptr);
    auto* more = toolbar->findChild<QToolButton*>(QStringLiteral("qt_toolbar_ext_button"));
    EXPECT_TRUE(!more || !more->isVisible()) << "the toolbar hides some of its commands";
    EXPECT_TRUE(cutOffTexts(window.get()).isEmpty()) << cutOffTexts(window.get()).join('\n').toStdString();
    for (QDialog* dialog : std::initializer_list<QDialog*>{window->settingsDialog(), window->statusSheet(),
                                                           window->deviceInfoSheet()}) {
        if (dialog == window->deviceInfoSheet()) window->deviceInfoSheet()->setDevice(stage);
        dialog->show();
        QCoreApplication::sendPostedEvents();
        const QStringList cut = cutOffTexts(dialog);
        EXPECT_TRUE(cut.isEmpty()) << dialog->windowTitle().toStdString() << ": "
                                   << cut.join('\n').toStdString();
        dialog->hide();
    }
    // A source's second line, painted beside the icon, fits the list at its first width.
    QFont small = window->sourceView()->font();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    const int needed =
        QFontMetrics(small).horizontalAdvance(sourceRow(1).data(Qt::AccessibleDescriptionRole).toString());
    EXPECT_LT(needed + 60, window->sourceView()->viewport()->width());
}

TEST_F(Window, BothViewsAreNamedAndDescribedAndARowReadsAsItIsPainted) {
    open();
    for (QAbstractItemView* view :
         std::initializer_list<QAbstractItemView*>{window->sourceView(), window->presetView()}) {
        QAccessibleInterface* access = QAccessible::queryAccessibleInterface(view);
        ASSERT_NE(access, nullptr);
        EXPECT_FALSE(access->text(QAccessible::Name).isEmpty());
        EXPECT_GT(access->text(QAccessible::Description).size(), 30)
            << access->text(QAccessible::Name).toStdString();
    }
    EXPECT_EQ(QAccessible::queryAccessibleInterface(window->sourceView())->text(QAccessible::Name),
              "Sources");

    // The row's second line, in English with its singular.
    EXPECT_EQ(sourceRow(0).data(Qt::AccessibleDescriptionRole).toString(), "Sync folder  ·  1 preset");
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(window->sourceView());
    QStringList read;
    for (int i = 0; i < list->childCount(); ++i) {
        QAccessibleInterface* cell = list->child(i);
        if (cell && cell->role() == QAccessible::ListItem)
            read << cell->text(QAccessible::Name) + " / " + cell->text(QAccessible::Description);
    }
    EXPECT_TRUE(read.contains("Stage / Mixer  ·  300 presets")) << read.join(", ").toStdString();
}

// --- contrast ------------------------------------------------------------------

// WCAG 2's relative luminance and contrast ratio, written out here once more.
double luminance(const QColor& c) {
    auto channel = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}
double contrast(const QColor& a, const QColor& b) {
    const double x = luminance(a) + 0.05, y = luminance(b) + 0.05;
    return std::max(x, y) / std::min(x, y);
}

QPalette darkPalette() {
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(0x2b, 0x2b, 0x2b));
    dark.setColor(QPalette::WindowText, QColor(0xe8, 0xe8, 0xe8));
    dark.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
    dark.setColor(QPalette::Text, QColor(0xdd, 0xdd, 0xdd));
    dark.setColor(QPalette::Button, QColor(0x35, 0x35, 0x35));
    dark.setColor(QPalette::ButtonText, QColor(0xe8, 0xe8, 0xe8));
    dark.setColor(QPalette::Highlight, QColor(0x2a, 0x82, 0xda));
    dark.setColor(QPalette::HighlightedText, Qt::white);
    return dark;
}

TEST(Contrast, HeadingsAndSecondaryTextsReachLevelAAInTheLightAndTheDarkPalette) {
    std::unique_ptr<QStyle> fusion(QStyleFactory::create(QStringLiteral("Fusion")));
    const std::vector<std::pair<const char*, QPalette>> palettes{{"light", fusion->standardPalette()},
                                                                 {"dark", darkPalette()}};
    for (const auto& [name, palette] : palettes) {
        SCOPED_TRACE(name);
        const QColor window = palette.color(QPalette::Window), base = palette.color(QPalette::Base);
        const QColor band = ui::groupHeadingBand(palette);
        EXPECT_GE(contrast(ui::subduedWindowText(palette), window), 4.5) << "pane headings, hints";
        EXPECT_GE(contrast(palette.color(QPalette::Text), band), 4.5) << "group heading";
        EXPECT_GE(contrast(ui::secondaryViewText(palette, band), band), 4.5) << "group count";
        EXPECT_GE(contrast(ui::secondaryViewText(palette, base), base), 4.5) << "a source's second line";
        // Still set apart from the main text.
        EXPECT_NE(ui::subduedWindowText(palette).rgb(), palette.color(QPalette::WindowText).rgb());

        // A heading follows a change of palette by itself.
        QWidget pane;
        auto* heading = new ui::SubduedLabel(QStringLiteral("PRESETS"), &pane);
        pane.setPalette(palette);
        EXPECT_GE(contrast(heading->palette().color(QPalette::WindowText), window), 4.5);
    }
}

}  // namespace
}  // namespace zelto
