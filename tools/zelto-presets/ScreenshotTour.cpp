#include "ScreenshotTour.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QItemSelectionModel>
#include <QPixmap>
#include <QTimer>
#include <cstdio>
#include <functional>

#include "app/MainController.h"
#include "ui/CompareWindow.h"
#include "ui/DeviceInfoSheet.h"
#include "ui/PresetDiffWindow.h"
#include "ui/SyncPreviewDialog.h"
#include "ui/ItemViews.h"
#include "ui/MainWindow.h"
#include "ui/SettingsDialog.h"
#include "ui/StatusSheet.h"

namespace zelto::ui {

namespace {

// Mixers that do not answer within this time are left out of the pictures.
constexpr int kMixerWaitMs = 30'000;
// Pictures are taken on a later turn of the event loop, once the views have
// handled what the last step posted (deferred model updates, layouts).
void later(QObject* context, std::function<void()> step) {
    QTimer::singleShot(0, context, [step = std::move(step)] {
        QApplication::sendPostedEvents();
        step();
    });
}

}  // namespace

ScreenshotTour::ScreenshotTour(MainWindow& window, MainController& controller, QString folder,
                               int mixersExpected)
    : window_(window),
      controller_(controller),
      folder_(std::move(folder)),
      mixersExpected_(std::max(1, mixersExpected)) {}

int ScreenshotTour::mixersShownCount() const {
    int mixers = 0;
    for (const auto& source : window_.sourceModel().sources())
        if (source->device()) ++mixers;
    return mixers;
}

void ScreenshotTour::start() {
    QDir().mkpath(folder_);
    connect(&window_.sourceModel(), &QAbstractItemModel::rowsInserted, this, &ScreenshotTour::waitForMixers);
    QTimer::singleShot(kMixerWaitMs, this, [this] {
        if (!waiting_) return;
        std::fprintf(stderr, "zelto-presets: only %d of %d mixers appeared; taking the pictures anyway\n",
                     mixersShownCount(), mixersExpected_);
        waiting_ = false;
        mixersShown();
    });
    waitForMixers();
}

void ScreenshotTour::waitForMixers() {
    if (!waiting_ || mixersShownCount() < mixersExpected_) return;
    waiting_ = false;
    // A mixer's source comes with its preset list.
    later(this, [this] { mixersShown(); });
}

void ScreenshotTour::mixersShown() {
    window_.sourceView()->selectAll();
    later(this, [this] {
        save(&window_, QStringLiteral("main-window.png"));
        window_.compareAction()->trigger();
        connect(&controller_, &MainController::runFinished, this, &ScreenshotTour::compareFinished,
                Qt::QueuedConnection);
        controller_.compareContents();
    });
}

void ScreenshotTour::compareFinished() {
    disconnect(&controller_, &MainController::runFinished, this, &ScreenshotTour::compareFinished);
    window_.statusSheet()->accept();
    auto* compare = window_.compareWindow();
    connect(compare, &CompareWindow::reloaded, this, [this] { later(this, [this] { showDiff(); }); },
            Qt::SingleShotConnection);
    compare->reload();
}

void ScreenshotTour::showDiff() {
    auto* compare = window_.compareWindow();
    save(compare, QStringLiteral("compare-grid.png"));
    // The first mixer cell that differs, beside the folder's cell of its row.
    const auto& grid = compare->model().grid();
    for (const auto& row : grid.rows) {
        for (std::size_t column = 1; column < row.cells.size(); ++column) {
            if (row.cells[column].state != CellState::differs) continue;
            connect(window_.diffWindow(), &PresetDiffWindow::shown, this, [this] {
                later(this, [this] {
                    save(window_.diffWindow(), QStringLiteral("preset-diff.png"));
                    startSync();
                });
            }, Qt::SingleShotConnection);
            window_.diffWindow()->comparePresets({nullptr, row.cells[0].listed->preset},
                                                 {grid.columns[column], row.cells[column].listed->preset});
            return;
        }
    }
    std::fprintf(stderr, "zelto-presets: no preset differs; no diff picture\n");
    startSync();
}

void ScreenshotTour::startSync() {
    window_.compareWindow()->hide();
    window_.diffWindow()->hide();
    auto* preview = window_.syncPreviewDialog();
    connect(&controller_, &MainController::runFinished, this, &ScreenshotTour::syncFinished, Qt::QueuedConnection);
    QTimer* poll = new QTimer(this);
    connect(poll, &QTimer::timeout, this, [this, poll, preview] {
        if (!preview->isVisible()) return;
        poll->deleteLater();
        later(this, [this, preview] {
            save(preview, QStringLiteral("sync-preview.png"));
            preview->accept();
        });
    });
    poll->start(20);
    window_.syncAllAction()->trigger();
}

void ScreenshotTour::syncFinished() {
    later(this, [this] {
        save(window_.statusSheet(), QStringLiteral("status-sheet.png"));
        window_.statusSheet()->accept();
        later(this, [this] { finish(); });
    });
}

void ScreenshotTour::finish() {
    save(&window_, QStringLiteral("main-window-synced.png"));
    for (const auto& source : window_.sourceModel().sources()) {
        if (!source->device()) continue;
        window_.deviceInfoSheet()->setDevice(source->device());
        window_.deviceInfoSheet()->show();
        QApplication::sendPostedEvents();
        save(window_.deviceInfoSheet(), QStringLiteral("mixer-information.png"));
        window_.deviceInfoSheet()->hide();
        break;
    }
    window_.settingsDialog()->show();
    QApplication::sendPostedEvents();
    save(window_.settingsDialog(), QStringLiteral("settings.png"));
    window_.settingsDialog()->hide();
    for (const auto& path : saved_) std::printf("%s\n", qPrintable(path));
    std::fflush(stdout);
    QApplication::quit();
}

void ScreenshotTour::save(QWidget* widget, const QString& name) {
    const QString path = QDir(folder_).absoluteFilePath(name);
    if (widget->grab().save(path)) {
        saved_ << path;
    } else {
        ++failures_;
        std::fprintf(stderr, "zelto-presets: could not write %s\n", qPrintable(path));
    }
}

}  // namespace zelto::ui
