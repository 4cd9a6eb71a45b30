#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

namespace zelto {
class MainController;
}

namespace zelto::ui {

class MainWindow;

// The --screenshots run: once the mixers have appeared, saves the main
// window, runs Compare Contents and saves the Compare window and the diff of
// the first preset that differs; then Sync all, saving its preview and the
// status sheet when the run has ended, the main window again with the synced
// lists, a mixer's information and the settings, prints the files' paths and
// quits the application.
class ScreenshotTour : public QObject {
    Q_OBJECT
  public:
    ScreenshotTour(MainWindow& window, MainController& controller, QString folder, int mixersExpected);
    void start();
    // False when a picture could not be written.
    bool succeeded() const { return failures_ == 0; }

  private:
    void waitForMixers();
    void mixersShown();
    void compareFinished();
    void showDiff();
    void startSync();
    void syncFinished();
    void finish();
    void save(QWidget* widget, const QString& name);
    int mixersShownCount() const;

    MainWindow& window_;
    MainController& controller_;
    QString folder_;
    int mixersExpected_;
    int failures_ = 0;
    bool waiting_ = true;
    QStringList saved_;
};

}  // namespace zelto::ui
