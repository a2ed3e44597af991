#pragma once

#include <QDialog>

class DataManager;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class QUrl;

// Manages the bookmark list of the DataManager: add, edit, delete, filter,
// and open a bookmark by double-clicking it (urlSelected).
class BookmarksDialog : public QDialog
{
    Q_OBJECT
public:
    explicit BookmarksDialog(DataManager *dataManager, QWidget *parent = nullptr);

    QTreeWidget *tree() const { return m_tree; }
    QLineEdit *searchField() const { return m_search; }
    QPushButton *addButton() const { return m_addButton; }
    QPushButton *editButton() const { return m_editButton; }
    QPushButton *deleteButton() const { return m_deleteButton; }
    QPushButton *addFolderButton() const { return m_addFolderButton; }

    // Case-insensitive substring of title or URL; an empty filter matches all.
    static bool matchesFilter(const QString &title, const QString &url, const QString &filter);

Q_SIGNALS:
    void urlSelected(const QUrl &url);

public Q_SLOTS:
    void onAddBookmark();
    void onEditBookmark();
    void onDeleteBookmark();
    void onAddFolder();
    void onSearchBookmarks(const QString &text);
    void onItemDoubleClicked(QTreeWidgetItem *item, int column);

private:
    void setupUI();
    void loadBookmarks();
    void updateTree();

    DataManager *m_data = nullptr;
    QTreeWidget *m_tree = nullptr;
    QLineEdit *m_search = nullptr;
    QPushButton *m_addButton = nullptr;
    QPushButton *m_editButton = nullptr;
    QPushButton *m_deleteButton = nullptr;
    QPushButton *m_addFolderButton = nullptr;
};
