#include "gui/blocks_dialog.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/operator_model.h"

namespace orv {

BlocksDialog::BlocksDialog(EngineCommands& engine, QWidget* parent)
    : QDialog(parent), engine_(engine) {
  setObjectName(QStringLiteral("blocksDialog"));
  setWindowTitle(QString::fromLatin1(BlocksModel::kTitle));
  list_ = new QTreeWidget(this);
  list_->setObjectName(QStringLiteral("blocksList"));
  list_->setColumnCount(kBlockColumnCount);
  QStringList titles;
  for (const std::string& title : BlocksModel::ColumnTitles())
    titles << QString::fromStdString(title);
  list_->setHeaderLabels(titles);
  list_->setRootIsDecorated(false);
  list_->setItemsExpandable(false);
  list_->setUniformRowHeights(true);
  list_->setAllColumnsShowFocus(true);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->header()->setSectionsMovable(false);
  empty_ = new QLabel(QString::fromLatin1(BlocksModel::kEmptyText), this);
  empty_->setObjectName(QStringLiteral("blocksEmpty"));
  unblock_ = new QPushButton(QString::fromLatin1(BlocksModel::kUnblockButton), this);
  unblock_->setObjectName(QStringLiteral("unblockButton"));
  unblock_->setAutoDefault(false);
  auto* close = new QPushButton(QString::fromLatin1(BlocksModel::kCloseButton), this);
  close->setObjectName(QStringLiteral("closeBlocksButton"));
  close->setDefault(true);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(empty_);
  buttons->addStretch(1);
  buttons->addWidget(unblock_);
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(list_, 1);
  layout->addLayout(buttons);
  resize(520, 280);

  connect(list_, &QTreeWidget::itemSelectionChanged, this, [this] {
    const QList<QTreeWidgetItem*> selected = list_->selectedItems();
    model_.Select(selected.isEmpty() ? -1 : list_->indexOfTopLevelItem(selected.front()));
    unblock_->setEnabled(model_.CanUnblock());
  });
  connect(unblock_, &QPushButton::clicked, this, &BlocksDialog::Unblock);
  connect(close, &QPushButton::clicked, this, &QDialog::reject);
  // Until the engine's answer: nothing selected, and no word on the list yet.
  empty_->hide();
  unblock_->setEnabled(false);
}

void BlocksDialog::Open() {
  show();
  raise();
  activateWindow();
  Execute(BlocksModel::ListCommand());
}

void BlocksDialog::Execute(const OperatorCommand& command) {
  const bool list = std::holds_alternative<command::Blocks>(command);
  engine_.Execute(command, [dialog = this, list](Outcome outcome) {
    // Arrives on the engine thread; shown on the dialog's.
    QMetaObject::invokeMethod(
        dialog,
        [dialog, list, outcome = std::move(outcome)] {
          if (list) {
            dialog->ShowBlocks(outcome.blocks);
          } else if (!outcome.done) {
            dialog->ShowRefusal(QString::fromStdString(OperatorModel::RefusalText(outcome)));
          }
        },
        Qt::QueuedConnection);
  });
}

void BlocksDialog::ShowBlocks(const std::vector<StoredBlock>& blocks) {
  model_.SetBlocks(blocks);
  const QSignalBlocker quiet(list_);
  list_->clear();
  QList<QTreeWidgetItem*> items;
  for (const BlockListRow& row : model_.Rows()) {
    QStringList cells;
    for (const std::string& cell : row.cells)
      cells << QString::fromStdString(cell);
    items.append(new QTreeWidgetItem(cells));
  }
  list_->addTopLevelItems(items);
  for (int c = 0; c + 1 < kBlockColumnCount; ++c)
    list_->resizeColumnToContents(c);
  if (model_.Selected() >= 0) list_->setCurrentItem(items[model_.Selected()]);
  empty_->setVisible(model_.Rows().empty());
  unblock_->setEnabled(model_.CanUnblock());
}

void BlocksDialog::ShowRefusal(const QString& reason) {
  auto* box =
      new QMessageBox(QMessageBox::Information, windowTitle(), reason, QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

void BlocksDialog::Unblock() {
  for (const OperatorCommand& command : model_.UnblockCommands())
    Execute(command);
}

}  // namespace orv
