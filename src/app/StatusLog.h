#pragma once

#include <QAbstractListModel>
#include <string>
#include <vector>

namespace zelto {

// The log of the current long run (sync, copy batch, reload), shown by the
// status sheet: ordered lines, each normal or an error, cleared when a run
// starts and marked finished when it ends. Also a transfer count (presets
// moved so far / planned) for a progress bar, and the run's cancel.
//
// append, clear and finish may be called from any thread: on the log's own
// thread they take effect at once, from others they are posted to it, so the
// lines of one thread keep their order.
class StatusLog : public QAbstractListModel {
    Q_OBJECT
  public:
    struct Line {
        std::string text;
        bool isError = false;
        friend bool operator==(const Line&, const Line&) = default;
    };
    enum Role { IsErrorRole = Qt::UserRole + 1 };

    explicit StatusLog(QObject* parent = nullptr);

    void append(const std::string& text, bool isError = false);
    // Empties the log and starts a run: not finished, no transfers, cancellable.
    void clear();
    void finish();

    const std::vector<Line>& lines() const { return lines_; }
    // The whole log as text, one line feed after each line.
    std::string text() const;
    bool isFinished() const { return finished_; }

    int transfersDone() const { return transfersDone_; }
    // 0 while the number is not known yet.
    int transfersPlanned() const { return transfersPlanned_; }
    void setTransfersPlanned(int planned);
    void addTransfersPlanned(int more);
    void addTransferDone();

    // True while a run is going on and has not been asked to stop.
    bool canCancel() const { return !finished_ && !cancelRequested_; }
    // Asks the run to stop (the status sheet's Cancel); the run then logs its
    // end and finishes as usual.
    void cancel();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

  signals:
    void lineAppended(const QString& text, bool isError);
    void cleared();
    void finishedChanged(bool finished);
    void transfersChanged(int done, int planned);
    void cancelRequested();
    void canCancelChanged(bool canCancel);

  private:
    template <class F>
    void onOwnThread(F&& f);
    void setCancelState(bool finished, bool cancelRequested);

    std::vector<Line> lines_;
    bool finished_ = true;
    bool cancelRequested_ = false;
    int transfersDone_ = 0;
    int transfersPlanned_ = 0;
};

}  // namespace zelto
