// The window's console: the engine's console lines, newest at the bottom. A separator line
// (nothing but hyphens) keeps its text, for copying, but shows as one thin rule, so the
// blocks of the user-count reports do not eat half of the view.
#pragma once

#include <QPlainTextEdit>
#include <QString>

namespace orv {

class ConsoleView : public QPlainTextEdit {
  Q_OBJECT

 public:
  explicit ConsoleView(QWidget* parent = nullptr);

  // Appends one line (without its line end) and follows it, even when the operator had
  // scrolled up.
  void AppendLine(const QString& text);
  // Empties the view.
  void ClearLines();

  // Whether text is a separator line, drawn as a rule.
  static bool IsSeparator(const QString& text);
  // Whether the line at blockNumber is drawn as a rule.
  bool IsSeparatorLine(int blockNumber) const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  bool empty_ = true;
};

}  // namespace orv
