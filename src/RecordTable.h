#pragma once

#include <QAbstractItemView>
#include <QStringList>

class QTableWidget;
class QWidget;

// The read-only record table shared by the downloads, history and password
// windows: whole rows selected, last column stretched, the dark table look.
class RecordTable
{
public:
    static QTableWidget *create(const QStringList &headers, QAbstractItemView::SelectionMode mode, QWidget *parent);
};
