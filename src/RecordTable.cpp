#include "RecordTable.h"

#include "Theme.h"

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
    table->setStyleSheet(Theme::recordTableStyleSheet());
    return table;
}
