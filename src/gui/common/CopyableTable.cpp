#include "gui/common/CopyableTable.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QScrollBar>

#include <algorithm>

namespace korvel {

CopyableTable::CopyableTable(const char *name, const QStringList &columns, QWidget *parent) : QTableWidget(parent)
{
    setObjectName(QLatin1String(name));
    setColumnCount(int(columns.size()));
    setHorizontalHeaderLabels(columns);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setAlternatingRowColors(true);
    setWordWrap(false);
    setCornerButtonEnabled(true);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setHighlightSections(false);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 8);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Maximum);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);

    auto *copy = new QAction(QStringLiteral("Copy"), this);
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetShortcut);
    connect(copy, &QAction::triggered, this, [this] { QGuiApplication::clipboard()->setText(selectionAsText()); });
    auto *copyAll = new QAction(QStringLiteral("Copy Table"), this);
    connect(copyAll, &QAction::triggered, this, [this] { QGuiApplication::clipboard()->setText(asText()); });
    addAction(copy);
    addAction(copyAll);
    setContextMenuPolicy(Qt::ActionsContextMenu);
}

void CopyableTable::setRows(const QList<QStringList> &rows, const QStringList &rowLabels)
{
    setRowCount(int(rows.size()));
    verticalHeader()->setVisible(!rowLabels.isEmpty());
    if (!rowLabels.isEmpty())
        setVerticalHeaderLabels(rowLabels);
    for (int r = 0; r < rows.size(); ++r) {
        for (int c = 0; c < rows[r].size() && c < columnCount(); ++c) {
            auto *item = new QTableWidgetItem(rows[r][c]);
            if (c > 0 || rowLabels.size() > 0)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            setItem(r, c, item);
        }
    }
    resizeColumnsToContents();
    for (int c = 0; c < columnCount(); ++c)
        setColumnWidth(c, columnWidth(c) + 12);
}

QString CopyableTable::asText() const
{
    const bool labelled = !verticalHeader()->isHidden();
    QStringList lines;
    if (!horizontalHeader()->isHidden()) {
        QStringList heading;
        if (labelled)
            heading << QString();
        for (int c = 0; c < columnCount(); ++c)
            heading << horizontalHeaderItem(c)->text();
        lines << heading.join(QLatin1Char('\t'));
    }
    for (int r = 0; r < rowCount(); ++r) {
        QStringList cells;
        if (labelled)
            cells << verticalHeaderItem(r)->text();
        for (int c = 0; c < columnCount(); ++c)
            cells << (item(r, c) ? item(r, c)->text() : QString());
        lines << cells.join(QLatin1Char('\t'));
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QString CopyableTable::selectionAsText() const
{
    const QModelIndexList selected = selectedIndexes();
    if (selected.isEmpty())
        return {};
    int top = rowCount(), bottom = -1, left = columnCount(), right = -1;
    for (const QModelIndex &i : selected) {
        top = std::min(top, i.row());
        bottom = std::max(bottom, i.row());
        left = std::min(left, i.column());
        right = std::max(right, i.column());
    }
    QStringList lines;
    for (int r = top; r <= bottom; ++r) {
        QStringList cells;
        for (int c = left; c <= right; ++c)
            cells << (item(r, c) && item(r, c)->isSelected() ? item(r, c)->text() : QString());
        lines << cells.join(QLatin1Char('\t'));
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

void CopyableTable::scrollAfter(int rows)
{
    m_visibleRows = rows;
    horizontalHeader()->setStretchLastSection(true);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}

QSize CopyableTable::sizeFor(int rows) const
{
    int width = 2 * frameWidth();
    if (!verticalHeader()->isHidden())
        width += verticalHeader()->sizeHint().width();
    for (int c = 0; c < columnCount(); ++c)
        width += columnWidth(c);
    if (m_visibleRows < kAllRows)
        width += verticalScrollBar()->sizeHint().width();
    int height = 2 * frameWidth();
    if (!horizontalHeader()->isHidden())
        height += horizontalHeader()->sizeHint().height();
    const int shown = std::min(rowCount(), rows);
    for (int r = 0; r < shown; ++r)
        height += rowHeight(r);
    return {width, height};
}

} // namespace korvel
