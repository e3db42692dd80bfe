// Language texts and user rows the window tests show.
#pragma once

#include <QAbstractItemView>
#include <QApplication>
#include <QMenu>
#include <QString>
#include <QTimer>
#include <functional>
#include <ostream>
#include <string>

#include "server/operator_values.h"

// Failures show texts as texts.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace orv {

// "Привет" in Windows-1251 and as UTF-8.
inline const std::string kCyrillicBytes = "\xCF\xF0\xE8\xE2\xE5\xF2";
inline const QString kCyrillic =
    QString::fromUtf8("\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82");

// Language string n reads "Sn", except the name column's title, which is Cyrillic.
inline ViewTexts Texts(int floodStopper = 15) {
  ViewTexts texts;
  for (int n = 0; n <= 40; ++n)
    texts.strings.push_back("S" + std::to_string(n));
  texts.strings[22] = kCyrillicBytes;
  texts.floodStopper = floodStopper;
  texts.serverName = "Srv";
  return texts;
}

inline UserRow User(std::string mac, std::string name, std::string ip,
                    std::string peer = "127.0.0.1", int afs = -1) {
  UserRow row;
  row.mac = std::move(mac);
  row.name = std::move(name);
  row.reportedIp = std::move(ip);
  row.peerAddress = std::move(peer);
  row.afs = afs;
  return row;
}

// The width the widest cell of column needs (public in the base class only).
inline int ContentWidth(const QAbstractItemView& view, int column) {
  return view.sizeHintForColumn(column);
}

// Runs pick on the popup menu that the next call opens, then closes it, so a test can go
// through a menu shown with exec().
inline void OnNextPopup(std::function<void(QMenu&)> pick) {
  QTimer::singleShot(0, [pick = std::move(pick)] {
    if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
      pick(*menu);
      menu->close();
    }
  });
}

}  // namespace orv
