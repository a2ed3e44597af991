#include "RecordTable.h"

#include <QHeaderView>
#include <QTableWidget>

QTableWidget *RecordTable::create(const QStringList &headers, QAbstractItemView::SelectionMode mode, QWidget *parent)
{
    auto *table = new QTableWidget(0, int(headers.size()), parent);
    table->setHorizontalHeaderLabels(headers);
    table->horizontalHeader()->setStretchLastSection(true);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(mode);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setStyleSheet(QStringLiteral(
        "QTableWidget { background: #1e1e1e; color: white; gridline-color: #404040; }"
        "QTableWidget::item { padding: 8px; }"
        "QHeaderView::section { background: #2d2d2d; color: white; padding: 8px; }"));
    return table;
}
