#pragma once

#include <QDialog>
#include <functional>

class DataManager;
class QLineEdit;
class QThread;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class QUrl;

// Manages the bookmark list of the DataManager: add, edit, delete, filter,
// open a bookmark by double-clicking it (urlSelected), and import or export
// the HTML bookmark file of other browsers.
class BookmarksDialog : public QDialog
{
    Q_OBJECT
public:
    // Asks for a file name; save selects a save dialog. Empty: cancelled.
    using FileChooser = std::function<QString(QWidget *parent, const QString &caption, const QString &dir,
                                              const QString &filter, bool save)>;

    explicit BookmarksDialog(DataManager *dataManager, QWidget *parent = nullptr);
    ~BookmarksDialog() override;

    // Replaces the file dialogs (tests); an empty chooser restores them.
    void setFileChooser(FileChooser chooser);

    QTreeWidget *tree() const { return m_tree; }
    QLineEdit *searchField() const { return m_search; }
    QPushButton *addButton() const { return m_addButton; }
    QPushButton *editButton() const { return m_editButton; }
    QPushButton *deleteButton() const { return m_deleteButton; }
    QPushButton *addFolderButton() const { return m_addFolderButton; }
    QPushButton *importButton() const { return m_importButton; }
    QPushButton *exportButton() const { return m_exportButton; }

    // "Imported N bookmarks (M skipped)".
    static QString importSummary(int imported, int skipped);
    // The file is read and parsed on a worker thread; the store is changed
    // and the result shown when it is done (importFinished follows).
    bool isImporting() const { return m_importThread != nullptr; }

    // Case-insensitive substring of title or URL; an empty filter matches all.
    static bool matchesFilter(const QString &title, const QString &url, const QString &filter);

Q_SIGNALS:
    void urlSelected(const QUrl &url);
    void importFinished();

public Q_SLOTS:
    void onAddBookmark();
    void onEditBookmark();
    void onDeleteBookmark();
    void onAddFolder();
    void onSearchBookmarks(const QString &text);
    void onItemDoubleClicked(QTreeWidgetItem *item, int column);
    void onImportBookmarks();
    void onExportBookmarks();

private:
    void setupUI();
    void loadBookmarks();
    void updateTree();
    static QString chooseWithFileDialog(QWidget *parent, const QString &caption, const QString &dir,
                                        const QString &filter, bool save);

    DataManager *m_data = nullptr;
    QTreeWidget *m_tree = nullptr;
    QLineEdit *m_search = nullptr;
    QPushButton *m_addButton = nullptr;
    QPushButton *m_editButton = nullptr;
    QPushButton *m_deleteButton = nullptr;
    QPushButton *m_addFolderButton = nullptr;
    QPushButton *m_importButton = nullptr;
    QPushButton *m_exportButton = nullptr;
    FileChooser m_chooseFile;
    QThread *m_importThread = nullptr;
};
