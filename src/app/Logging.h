#pragma once

// The application's logging categories, and the routing of the Qt-free
// layers' lines into Qt's logging.
//
// Threads: the categories may be used from any thread. installLogRouting()
// may be called from any thread; lines logged meanwhile go wholly to the old
// or to the new sink. Routed lines reach Qt's message handler on the thread
// that logged them.
//
// Levels map one to one (debug, info, warning, critical), and Qt's rules
// (QT_LOGGING_RULES, QLoggingCategory::setFilterRules) decide which lines of
// the Qt-free layers are written, with debug off by default as there.
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(zeltoApp)     // "zelto.app"
Q_DECLARE_LOGGING_CATEGORY(zeltoUi)      // "zelto.ui"
Q_DECLARE_LOGGING_CATEGORY(zeltoOsc)     // "zelto.osc"
Q_DECLARE_LOGGING_CATEGORY(zeltoDevice)  // "zelto.device"
Q_DECLARE_LOGGING_CATEGORY(zeltoPreset)  // "zelto.preset"
Q_DECLARE_LOGGING_CATEGORY(zeltoSync)    // "zelto.sync"
Q_DECLARE_LOGGING_CATEGORY(zeltoAsync)   // "zelto.async"

namespace zelto {

// Installs the sink that sends every line of src/osc, src/device,
// src/preset, src/sync and src/async to the mirrored category above.
void installLogRouting();

}  // namespace zelto
