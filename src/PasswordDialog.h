#pragma once

#include <QDialog>
#include <QList>
#include <functional>

class DataManager;
class QPushButton;
class QTableWidget;

// The saved website logins: add, change the password, delete, reveal one,
// export to and import from a JSON file (passwords stay obfuscated there),
// import the CSV exports of other browsers and export a CSV they import.
class PasswordDialog : public QDialog
{
    Q_OBJECT
public:
    // Asks for a file name; save selects a save dialog. Empty: cancelled.
    using FileChooser = std::function<QString(QWidget *parent, const QString &caption, const QString &dir,
                                              const QString &filter, bool save)>;

    struct ImportEntry {
        QString url;
        QString username;
        QString storedPassword; // obfuscated, as in the store and the export file
    };
    struct ImportResult {
        bool ok = false;
        QString error; // why the file as a whole was refused
        QList<ImportEntry> entries;
        int skipped = 0; // elements without a string url, username or password
    };

    static constexpr qint64 maxImportBytes = 16 * 1024 * 1024;

    static QString storageNote();
    // "Imported N passwords (M skipped)".
    static QString csvImportSummary(int imported, int skipped);

    explicit PasswordDialog(DataManager *dataManager, QWidget *parent = nullptr);

    // Replaces the file dialogs (tests); an empty chooser restores them.
    void setFileChooser(FileChooser chooser);

    QTableWidget *table() const { return m_table; }
    QPushButton *addButton() const { return m_addButton; }
    QPushButton *editButton() const { return m_editButton; }
    QPushButton *deleteButton() const { return m_deleteButton; }
    QPushButton *showButton() const { return m_showButton; }
    QPushButton *exportButton() const { return m_exportButton; }
    QPushButton *importButton() const { return m_importButton; }

    // Reads an export file's content; never trusts its shape.
    static ImportResult parseImport(const QByteArray &bytes);

public Q_SLOTS:
    void onAddPassword();
    void onEditPassword();
    void onDeletePassword();
    void onShowPassword();
    void onExportPasswords(); // the store's JSON form
    void onExportPasswordsCsv(); // the Chromium CSV form, after a warning
    void onImportPasswords(); // JSON or CSV, told apart by the content

private:
    void setupUI();
    void loadPasswords();
    void updateTable();
    void importCsv(const QByteArray &bytes);
    static QString chooseWithFileDialog(QWidget *parent, const QString &caption, const QString &dir,
                                        const QString &filter, bool save);

    DataManager *m_data = nullptr;
    QTableWidget *m_table = nullptr;
    QPushButton *m_addButton = nullptr;
    QPushButton *m_editButton = nullptr;
    QPushButton *m_deleteButton = nullptr;
    QPushButton *m_showButton = nullptr;
    QPushButton *m_exportButton = nullptr;
    QPushButton *m_importButton = nullptr;
    FileChooser m_chooseFile;
};
