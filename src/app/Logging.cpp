#include "app/Logging.h"

#include <QString>

#include "async/Log.h"

Q_LOGGING_CATEGORY(zeltoApp, "zelto.app", QtInfoMsg)
Q_LOGGING_CATEGORY(zeltoUi, "zelto.ui", QtInfoMsg)
Q_LOGGING_CATEGORY(zeltoOsc, "zelto.osc", QtInfoMsg)
Q_LOGGING_CATEGORY(zeltoDevice, "zelto.device", QtInfoMsg)
Q_LOGGING_CATEGORY(zeltoPreset, "zelto.preset", QtInfoMsg)
Q_LOGGING_CATEGORY(zeltoSync, "zelto.sync", QtInfoMsg)
Q_LOGGING_CATEGORY(zeltoAsync, "zelto.async", QtInfoMsg)

namespace zelto {

namespace {

using CategoryFunction = const QLoggingCategory& (*)();

// A function, as the qC* macros call their category.
CategoryFunction mirrored(LogCategory category) {
    switch (category) {
        case LogCategory::osc:
            return zeltoOsc;
        case LogCategory::device:
            return zeltoDevice;
        case LogCategory::preset:
            return zeltoPreset;
        case LogCategory::sync:
            return zeltoSync;
        case LogCategory::async:
            return zeltoAsync;
    }
    return zeltoApp;
}

QtMsgType messageType(LogLevel level) {
    switch (level) {
        case LogLevel::debug:
            return QtDebugMsg;
        case LogLevel::info:
            return QtInfoMsg;
        case LogLevel::warning:
            return QtWarningMsg;
        case LogLevel::critical:
            return QtCriticalMsg;
    }
    return QtWarningMsg;
}

class QtLogSink final : public LogSink {
  public:
    bool enabled(LogCategory category, LogLevel level) const noexcept override {
        return mirrored(category)().isEnabled(messageType(level));
    }
    void write(LogCategory category, LogLevel level, std::string_view message) noexcept override {
        const QString text = QString::fromUtf8(message.data(), static_cast<qsizetype>(message.size()));
        const CategoryFunction to = mirrored(category);
        switch (level) {
            case LogLevel::debug:
                qCDebug(to).noquote() << text;
                break;
            case LogLevel::info:
                qCInfo(to).noquote() << text;
                break;
            case LogLevel::warning:
                qCWarning(to).noquote() << text;
                break;
            case LogLevel::critical:
                qCCritical(to).noquote() << text;
                break;
        }
    }
};

}  // namespace

void installLogRouting() {
    setLogSink(std::make_shared<QtLogSink>());
}

}  // namespace zelto
