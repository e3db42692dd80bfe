// The stored blocks in a small dialog (app/blocks_model.h says what it holds): the list,
// Unblock and Close. It asks the engine for the list each time it opens and after each
// unblock. GUI thread only; it lives as long as the window that made it, which outlives
// the engine, so the engine's answers always find it.
#pragma once

#include <QDialog>
#include <vector>

#include "app/blocks_model.h"
#include "app/engine_commands.h"

class QLabel;
class QPushButton;
class QTreeWidget;

namespace orv {

class BlocksDialog : public QDialog {
  Q_OBJECT

 public:
  BlocksDialog(EngineCommands& engine, QWidget* parent);

  // Shows the dialog (or brings it to the front) and asks for the list anew.
  void Open();
  const BlocksModel& Model() const { return model_; }

 private:
  void Execute(const OperatorCommand& command);
  void ShowBlocks(const std::vector<StoredBlock>& blocks);
  void ShowRefusal(const QString& reason);
  void Unblock();

  EngineCommands& engine_;
  BlocksModel model_;
  QTreeWidget* list_ = nullptr;
  QLabel* empty_ = nullptr;
  QPushButton* unblock_ = nullptr;
};

}  // namespace orv
