#include "gui/console_view.h"

#include <gtest/gtest.h>

#include <QAbstractTextDocumentLayout>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>

namespace orv {
namespace {

qreal LineHeight(const ConsoleView& console, int line) {
  const QTextDocument* document = console.document();
  return document->documentLayout()->blockBoundingRect(document->findBlockByNumber(line)).height();
}

TEST(ConsoleView, SeparatorLinesKeepTheirTextButTakeOneThinLine) {
  ConsoleView console;
  const QString dashes(26, QLatin1Char('-'));
  console.AppendLine(dashes);
  console.AppendLine("[12:00:00] Users online: 2");
  console.AppendLine(dashes);
  console.AppendLine("");
  console.AppendLine("- not a separator");
  console.AppendLine("--");

  // Copied out, the console reads as the log does.
  EXPECT_EQ(console.toPlainText(),
            dashes + "\n[12:00:00] Users online: 2\n" + dashes + "\n\n- not a separator\n--");
  const std::vector<bool> separators{true, false, true, false, false, false};
  for (int line = 0; line < 6; ++line)
    EXPECT_EQ(console.IsSeparatorLine(line), separators[static_cast<std::size_t>(line)]) << line;
  // A separator is well under half a text line high.
  EXPECT_GT(LineHeight(console, 0), 0);
  EXPECT_LT(LineHeight(console, 0) * 2, LineHeight(console, 1));
  EXPECT_LT(LineHeight(console, 2) * 2, LineHeight(console, 1));
  // Text after a separator is written as usual.
  EXPECT_EQ(LineHeight(console, 4), LineHeight(console, 1));
}

TEST(ConsoleView, ClearingStartsAfreshAndNewLinesAreFollowed) {
  ConsoleView console;
  console.resize(300, 100);
  console.AppendLine("old");
  console.ClearLines();
  console.AppendLine("");
  console.AppendLine("first");
  EXPECT_EQ(console.toPlainText(), "\nfirst");
  for (int i = 0; i < 100; ++i)
    console.AppendLine(QString("line %1").arg(i));
  console.verticalScrollBar()->setValue(0);
  console.AppendLine(QString(26, QLatin1Char('-')));
  EXPECT_EQ(console.verticalScrollBar()->value(), console.verticalScrollBar()->maximum());
}

}  // namespace
}  // namespace orv
