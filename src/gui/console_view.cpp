#include "gui/console_view.h"

#include <QPainter>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

namespace orv {

namespace {

// Marks the blocks drawn as a rule.
constexpr int kSeparatorState = 1;

// The separator's own text is kept tiny and invisible; the rule is painted over it.
QTextCharFormat SeparatorFormat() {
  QTextCharFormat format;
  QFont font;
  font.setPixelSize(4);
  format.setFont(font, QTextCharFormat::FontPropertiesSpecifiedOnly);
  format.setForeground(Qt::transparent);
  return format;
}

}  // namespace

ConsoleView::ConsoleView(QWidget* parent) : QPlainTextEdit(parent) {
  setReadOnly(true);
  setLineWrapMode(QPlainTextEdit::NoWrap);
}

bool ConsoleView::IsSeparator(const QString& text) {
  if (text.size() < 3) return false;
  for (const QChar ch : text) {
    if (ch != QLatin1Char('-')) return false;
  }
  return true;
}

bool ConsoleView::IsSeparatorLine(int blockNumber) const {
  return document()->findBlockByNumber(blockNumber).userState() == kSeparatorState;
}

void ConsoleView::AppendLine(const QString& text) {
  const bool separator = IsSeparator(text);
  QTextCursor cursor(document());
  cursor.movePosition(QTextCursor::End);
  cursor.beginEditBlock();
  if (empty_) {
    // The empty document's one block takes the first line.
    cursor.setBlockCharFormat(separator ? SeparatorFormat() : QTextCharFormat());
  } else {
    cursor.insertBlock(QTextBlockFormat(), separator ? SeparatorFormat() : QTextCharFormat());
  }
  cursor.insertText(text, separator ? SeparatorFormat() : QTextCharFormat());
  cursor.block().setUserState(separator ? kSeparatorState : -1);
  cursor.endEditBlock();
  empty_ = false;

  QScrollBar* bar = verticalScrollBar();
  bar->setValue(bar->maximum());
}

void ConsoleView::ClearLines() {
  clear();
  empty_ = true;
}

void ConsoleView::paintEvent(QPaintEvent* event) {
  QPlainTextEdit::paintEvent(event);
  QPainter painter(viewport());
  painter.setPen(QPen(palette().color(QPalette::Mid), 0));
  const QPointF offset = contentOffset();
  const qreal margin = document()->documentMargin();
  const int bottom = viewport()->height();
  for (QTextBlock block = firstVisibleBlock(); block.isValid(); block = block.next()) {
    const QRectF box = blockBoundingGeometry(block).translated(offset);
    if (box.top() > bottom) break;
    if (block.userState() != kSeparatorState || !block.isVisible()) continue;
    const qreal y = qRound(box.center().y()) + 0.5;
    painter.drawLine(QPointF(margin, y), QPointF(viewport()->width() - margin, y));
  }
}

}  // namespace orv
