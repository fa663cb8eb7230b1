// Texts between the core and Qt: the core's are UTF-8 bytes with "\r\n"
// line ends, Qt's widgets hold QStrings with '\n'.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace torvane::gui {

inline QString qt_text(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A core text for a box that shows lines: "\r\n" becomes '\n'.
inline QString for_display(std::string_view text) {
  return qt_text(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

// A box's text for the core: every line end becomes "\r\n".
inline std::string with_crlf(QString text) {
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return text.replace(QLatin1Char('\n'), QStringLiteral("\r\n")).toStdString();
}

}  // namespace torvane::gui
