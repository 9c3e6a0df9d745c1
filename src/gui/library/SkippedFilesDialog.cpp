#include "gui/library/SkippedFilesDialog.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>

namespace korvel {

SkippedFilesDialog::SkippedFilesDialog(const std::vector<ImportResult> &skipped, QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("dlgSkipped"));
    setWindowTitle(QStringLiteral("Skipped Files"));
    auto *table = new QTableWidget(int(skipped.size()), 2, this);
    table->setObjectName(QStringLiteral("tblSkipped"));
    table->setHorizontalHeaderLabels({QStringLiteral("File"), QStringLiteral("Reason")});
    table->verticalHeader()->setVisible(false);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setWordWrap(false);
    table->setTextElideMode(Qt::ElideLeft);
    for (size_t k = 0; k < skipped.size(); ++k) {
        auto *file = new QTableWidgetItem(QDir::toNativeSeparators(skipped[k].file));
        file->setToolTip(file->text());
        auto *reason = new QTableWidgetItem(skipped[k].reason);
        reason->setToolTip(skipped[k].reason);
        table->setItem(int(k), 0, file);
        table->setItem(int(k), 1, reason);
    }
    table->resizeColumnsToContents();
    table->setColumnWidth(0, std::min(table->columnWidth(0), 380));
    table->horizontalHeader()->setStretchLastSection(true);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("The last import left out these files:"), this));
    layout->addWidget(table);
    layout->addWidget(buttons);
    resize(760, 320);
}

} // namespace korvel
