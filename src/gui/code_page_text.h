// Conversions between the engine's code-page bytes and the Qt strings a person reads and
// types.
#pragma once

#include <QString>
#include <string>
#include <string_view>

#include "console/code_page.h"

namespace orv {

inline QString FromCodePage(std::string_view bytes) {
  return QString::fromStdString(Cp1251ToUtf8(bytes));
}

// Menu and button texts treat "&" as a mnemonic marker; user names and language strings
// must show it as it is.
inline QString EscapeMnemonics(QString text) {
  return text.replace(QLatin1Char('&'), "&&");
}

}  // namespace orv
