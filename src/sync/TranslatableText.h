#pragma once

// Texts that the desktop application shows in the user's language while the
// command-line tool prints them in English, from code that does not use Qt.
// Each text is marked where it is written, so that lupdate finds it:
//   QT_TRANSLATE_NOOP("StatusText", "copying %1 from %2 to %3")
//   QT_TRANSLATE_N_NOOP("StatusText", "%n presets")   (a count: plural forms)
// and filled in with `text(...)`. The macros match Qt's own, so this header
// and Qt's may be included in either order.
//
// Threading: a program sets its translator once at start-up, before any text
// is made; `text` may then be called from any thread (the translator must be
// thread-safe, as QCoreApplication::translate is). Errors: none; a text
// without a translation stays English.
#include <initializer_list>
#include <string>

#ifndef QT_TRANSLATE_NOOP
#define QT_TRANSLATE_NOOP(scope, x) x
#endif
#ifndef QT_TRANSLATE_N_NOOP
#define QT_TRANSLATE_N_NOOP(scope, x) x
#endif

namespace zelto::statustext {

// The context under which the marked texts are translated.
inline constexpr const char* translationContext = "StatusText";

// Gives the translation of `source` (a marked text; `n` the count for a
// plural text, else -1), in UTF-8, with %n already replaced by `n`.
using Translator = std::string (*)(const char* source, int n);
// Null restores English.
void setTranslator(Translator translator);

// `source` translated, with %1, %2, ... replaced by `args` in one pass (an
// argument's own "%1" stays as it is) and %n by `n`.
std::string text(const char* source, std::initializer_list<std::string> args = {}, int n = -1);

}  // namespace zelto::statustext
