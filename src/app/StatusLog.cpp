#include "app/StatusLog.h"

#include <QThread>

namespace zelto {

StatusLog::StatusLog(QObject* parent) : QAbstractListModel(parent) {}

template <class F>
void StatusLog::onOwnThread(F&& f) {
    if (QThread::currentThread() == thread()) {
        f();
    } else {
        QMetaObject::invokeMethod(this, std::forward<F>(f), Qt::QueuedConnection);
    }
}

void StatusLog::append(const std::string& text, bool isError) {
    onOwnThread([this, text, isError] {
        int row = static_cast<int>(lines_.size());
        beginInsertRows(QModelIndex(), row, row);
        lines_.push_back({text, isError});
        endInsertRows();
        emit lineAppended(QString::fromStdString(text), isError);
    });
}

void StatusLog::clear() {
    onOwnThread([this] {
        beginResetModel();
        lines_.clear();
        endResetModel();
        transfersDone_ = 0;
        transfersPlanned_ = 0;
        emit cleared();
        emit transfersChanged(0, 0);
        setCancelState(false, false);
    });
}

void StatusLog::finish() {
    onOwnThread([this] { setCancelState(true, cancelRequested_); });
}

void StatusLog::cancel() {
    onOwnThread([this] {
        if (!canCancel()) return;
        setCancelState(finished_, true);
        emit cancelRequested();
    });
}

void StatusLog::setCancelState(bool finished, bool cancelRequested) {
    bool couldCancel = canCancel();
    bool wasFinished = finished_;
    finished_ = finished;
    cancelRequested_ = cancelRequested;
    if (wasFinished != finished_) emit finishedChanged(finished_);
    if (couldCancel != canCancel()) emit canCancelChanged(canCancel());
}

std::string StatusLog::text() const {
    std::string all;
    for (const auto& line : lines_) all += line.text + "\n";
    return all;
}

void StatusLog::setTransfersPlanned(int planned) {
    onOwnThread([this, planned] {
        transfersPlanned_ = planned;
        emit transfersChanged(transfersDone_, transfersPlanned_);
    });
}

void StatusLog::addTransfersPlanned(int more) {
    onOwnThread([this, more] {
        transfersPlanned_ += more;
        emit transfersChanged(transfersDone_, transfersPlanned_);
    });
}

void StatusLog::addTransferDone() {
    onOwnThread([this] {
        ++transfersDone_;
        emit transfersChanged(transfersDone_, transfersPlanned_);
    });
}

int StatusLog::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(lines_.size());
}

QVariant StatusLog::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() < 0 || index.row() >= static_cast<int>(lines_.size())) return {};
    const Line& line = lines_[static_cast<std::size_t>(index.row())];
    if (role == Qt::DisplayRole) return QString::fromStdString(line.text);
    if (role == IsErrorRole) return line.isError;
    return {};
}

QHash<int, QByteArray> StatusLog::roleNames() const {
    auto names = QAbstractListModel::roleNames();
    names.insert(IsErrorRole, "isError");
    return names;
}

}  // namespace zelto
