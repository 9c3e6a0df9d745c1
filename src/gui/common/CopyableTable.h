#pragma once
// A read-only table of labels and figures whose Copy (Ctrl+C or its context menu) takes the whole
// selection, tab-separated, as spreadsheets paste it; "Copy Table" takes every row.

#include <QTableWidget>

namespace korvel {

class CopyableTable : public QTableWidget {
public:
    CopyableTable(const char *name, const QStringList &columns, QWidget *parent);

    // The rows of labels and values; numbers stand to the right.
    void setRows(const QList<QStringList> &rows, const QStringList &rowLabels = {});

    // Every row, with the column headings first (and the row labels, when shown, in front).
    QString asText() const;

    // The selected cells' bounding rows and columns; cells outside the selection stay empty.
    QString selectionAsText() const;

    // As wide as its columns and as high as its rows. A long table shows `rows` of them, keeps room
    // for its scroll bar, and gives up height down to a few rows when the screen is small.
    void scrollAfter(int rows);

    QSize sizeHint() const override { return sizeFor(m_visibleRows); }
    QSize minimumSizeHint() const override { return sizeFor(std::min(m_visibleRows, 4)); }

private:
    QSize sizeFor(int rows) const;

    static constexpr int kAllRows = 1 << 20;
    int m_visibleRows = kAllRows;
};

} // namespace korvel
