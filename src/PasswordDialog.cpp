#include "PasswordDialog.h"

#include "Theme.h"

#include "DataManager.h"
#include "ImportFile.h"
#include "PasswordCsv.h"
#include "PlainMessageBox.h"
#include "RecordTable.h"
#include "StoreFile.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {
const QString kMask = QStringLiteral("\u2022\u2022\u2022\u2022\u2022\u2022\u2022\u2022");
const QString kFilter = QStringLiteral("JSON Files (*.json)");
const QString kCsvFilter = QStringLiteral("CSV Files (*.csv)");
const QString kImportFilter = QStringLiteral("Password files (*.json *.csv);;All files (*)");
}

QString PasswordDialog::storageNote()
{
    return QStringLiteral("🔒 Saved passwords are kept on this computer, obfuscated, not encrypted: "
                          "anyone with access to your files can read them.");
}

QString PasswordDialog::csvImportSummary(int imported, int skipped)
{
    return QStringLiteral("Imported %1 passwords (%2 skipped)").arg(imported).arg(skipped);
}

PasswordDialog::PasswordDialog(DataManager *dataManager, QWidget *parent)
    : QDialog(parent)
    , m_data(dataManager)
    , m_chooseFile(&PasswordDialog::chooseWithFileDialog)
{
    setWindowTitle(QStringLiteral("Password Manager"));
    setStyleSheet(Theme::dialogStyleSheet());
    setMinimumSize(700, 500);
    setupUI();
    loadPasswords();
}

void PasswordDialog::setFileChooser(FileChooser chooser)
{
    m_chooseFile = chooser ? std::move(chooser) : FileChooser(&PasswordDialog::chooseWithFileDialog);
}

QString PasswordDialog::chooseWithFileDialog(QWidget *parent, const QString &caption, const QString &dir,
                                             const QString &filter, bool save)
{
    return save ? QFileDialog::getSaveFileName(parent, caption, dir, filter)
                : QFileDialog::getOpenFileName(parent, caption, dir, filter);
}

void PasswordDialog::setupUI()
{
    auto *layout = new QVBoxLayout(this);
    auto *note = new QLabel(storageNote(), this);
    note->setTextFormat(Qt::PlainText);
    note->setWordWrap(true);
    note->setStyleSheet(QStringLiteral("color: #0078d4; padding: 8px;"));
    layout->addWidget(note);

    m_table = RecordTable::create({QStringLiteral("Website"), QStringLiteral("Username"), QStringLiteral("Password")},
                                  QAbstractItemView::SingleSelection, this);
    layout->addWidget(m_table);

    auto *buttons = new QHBoxLayout;
    m_addButton = new QPushButton(QStringLiteral("➕ Add"), this);
    m_editButton = new QPushButton(QStringLiteral("✏️ Edit"), this);
    m_deleteButton = new QPushButton(QStringLiteral("🗑️ Delete"), this);
    m_showButton = new QPushButton(QStringLiteral("👁️ Show"), this);
    m_exportButton = new QPushButton(QStringLiteral("📤 Export"), this);
    m_importButton = new QPushButton(QStringLiteral("📥 Import"), this);
    auto *close = new QPushButton(QStringLiteral("Close"), this);
    m_editButton->setEnabled(false);
    m_deleteButton->setEnabled(false);
    m_showButton->setEnabled(false);
    buttons->addWidget(m_addButton);
    buttons->addWidget(m_editButton);
    buttons->addWidget(m_deleteButton);
    buttons->addWidget(m_showButton);
    buttons->addStretch();
    buttons->addWidget(m_exportButton);
    buttons->addWidget(m_importButton);
    buttons->addWidget(close);
    layout->addLayout(buttons);

    connect(m_addButton, &QPushButton::clicked, this, &PasswordDialog::onAddPassword);
    connect(m_editButton, &QPushButton::clicked, this, &PasswordDialog::onEditPassword);
    connect(m_deleteButton, &QPushButton::clicked, this, &PasswordDialog::onDeletePassword);
    connect(m_showButton, &QPushButton::clicked, this, &PasswordDialog::onShowPassword);
    auto *exportMenu = new QMenu(m_exportButton);
    connect(exportMenu->addAction(QStringLiteral("OrvexBrowser file (JSON, passwords obfuscated)...")),
            &QAction::triggered, this, &PasswordDialog::onExportPasswords);
    connect(exportMenu->addAction(QStringLiteral("For other browsers (CSV, passwords in plain text)...")),
            &QAction::triggered, this, &PasswordDialog::onExportPasswordsCsv);
    m_exportButton->setMenu(exportMenu);
    connect(m_importButton, &QPushButton::clicked, this, &PasswordDialog::onImportPasswords);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_table, &QTableWidget::itemSelectionChanged, this, [this] {
        const bool selected = !m_table->selectedItems().isEmpty();
        m_editButton->setEnabled(selected);
        m_deleteButton->setEnabled(selected);
        m_showButton->setEnabled(selected);
    });
}

void PasswordDialog::loadPasswords()
{
    updateTable();
}

void PasswordDialog::updateTable()
{
    m_table->setRowCount(0);
    if (!m_data)
        return;
    const QJsonArray entries = m_data->getPasswords();
    for (const QJsonValue &value : entries) {
        const QJsonObject entry = value.toObject();
        const int row = m_table->rowCount();
        m_table->insertRow(row);
        m_table->setItem(row, 0, new QTableWidgetItem(entry.value(QStringLiteral("url")).toString()));
        m_table->setItem(row, 1, new QTableWidgetItem(entry.value(QStringLiteral("username")).toString()));
        m_table->setItem(row, 2, new QTableWidgetItem(kMask));
    }
}

void PasswordDialog::onAddPassword()
{
    const QString title = QStringLiteral("Add Password");
    const QString url = QInputDialog::getText(this, title, QStringLiteral("Website URL:"));
    const QString username = QInputDialog::getText(this, title, QStringLiteral("Username:"));
    const QString password = QInputDialog::getText(this, title, QStringLiteral("Password:"), QLineEdit::Password);
    if (url.isEmpty() || username.isEmpty() || password.isEmpty() || !m_data)
        return;
    m_data->addPassword(url, username, password);
    updateTable();
}

void PasswordDialog::onEditPassword()
{
    const int row = m_table->currentRow();
    if (row < 0 || !m_data)
        return;
    const QString url = m_table->item(row, 0)->text();
    const QString username = m_table->item(row, 1)->text();
    const QString password = QInputDialog::getText(this, QStringLiteral("Edit Password"), QStringLiteral("Password:"),
                                                   QLineEdit::Password);
    if (password.isEmpty())
        return;
    m_data->addPassword(url, username, password);
    updateTable();
}

void PasswordDialog::onDeletePassword()
{
    const int row = m_table->currentRow();
    if (row < 0 || !m_data)
        return;
    const QString url = m_table->item(row, 0)->text();
    const QString username = m_table->item(row, 1)->text();
    const auto answer = QMessageBox::question(this, QStringLiteral("Delete Password"),
                                              QStringLiteral("Are you sure you want to delete this password?"),
                                              QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    // Only this row's login: other user names of the same site stay.
    m_data->removePassword(url, username);
    updateTable();
}

void PasswordDialog::onShowPassword()
{
    const int row = m_table->currentRow();
    if (row < 0 || !m_data)
        return;
    const QString url = m_table->item(row, 0)->text();
    const QString username = m_table->item(row, 1)->text();
    const QJsonArray entries = m_data->getPasswords();
    for (const QJsonValue &value : entries) {
        const QJsonObject entry = value.toObject();
        if (entry.value(QStringLiteral("url")).toString() == url
            && entry.value(QStringLiteral("username")).toString() == username) {
            m_table->item(row, 2)->setText(
                DataManager::decryptPasswordStatic(entry.value(QStringLiteral("password")).toString()));
            return;
        }
    }
}

void PasswordDialog::onExportPasswords()
{
    if (!m_data)
        return;
    const QString path = m_chooseFile(this, QStringLiteral("Export Passwords"),
                                      QStandardPaths::writableLocation(QStandardPaths::DownloadLocation), kFilter, true);
    if (path.isEmpty())
        return;
    // The file holds the obfuscated form only, and is private to the user.
    if (!StoreFile::writeJson(path, QJsonDocument(m_data->getPasswords()), StoreFile::Access::Secret)) {
        PlainMessageBox::warning(this, QStringLiteral("Export"),
                             QStringLiteral("Export failed: could not write %1").arg(QDir::toNativeSeparators(path)));
        return;
    }
    PlainMessageBox::information(this, QStringLiteral("Export"), QStringLiteral("Passwords exported successfully!"));
}

PasswordDialog::ImportResult PasswordDialog::parseImport(const QByteArray &bytes)
{
    ImportResult result;
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError) {
        result.error = QStringLiteral("the file is not valid JSON (%1)").arg(error.errorString());
        return result;
    }
    if (!doc.isArray()) {
        result.error = QStringLiteral("the file does not hold a list of passwords");
        return result;
    }
    const QJsonArray array = doc.array();
    for (const QJsonValue &value : array) {
        const QJsonObject object = value.toObject();
        const QJsonValue url = object.value(QStringLiteral("url"));
        const QJsonValue username = object.value(QStringLiteral("username"));
        const QJsonValue password = object.value(QStringLiteral("password"));
        if (!url.isString() || !username.isString() || !password.isString() || url.toString().isEmpty()) {
            ++result.skipped;
            continue;
        }
        result.entries.append({url.toString(), username.toString(), password.toString()});
    }
    result.ok = true;
    return result;
}

void PasswordDialog::onImportPasswords()
{
    if (!m_data)
        return;
    const QString path = m_chooseFile(this, QStringLiteral("Import Passwords"),
                                      QStandardPaths::writableLocation(QStandardPaths::DownloadLocation),
                                      kImportFilter, false);
    if (path.isEmpty())
        return;
    auto fail = [this](const QString &reason) {
        PlainMessageBox::warning(this, QStringLiteral("Import"), QStringLiteral("Import failed: %1").arg(reason));
    };
    QByteArray bytes;
    QString error;
    if (!ImportFile::read(path, maxImportBytes, &bytes, &error)) {
        fail(error);
        return;
    }
    if (!PasswordCsv::looksLikeJson(bytes)) {
        if (bytes.size() > PasswordCsv::maxFileBytes) {
            fail(QStringLiteral("the file is larger than %1").arg(ImportFile::sizeText(PasswordCsv::maxFileBytes)));
            return;
        }
        importCsv(bytes);
        return;
    }
    const ImportResult result = parseImport(bytes);
    if (!result.ok) {
        fail(result.error);
        return;
    }
    // Same website and user name: the imported login replaces the stored one.
    QList<DataManager::Login> logins;
    logins.reserve(result.entries.size());
    for (const ImportEntry &entry : result.entries)
        logins.append({entry.url, entry.username, DataManager::decryptPasswordStatic(entry.storedPassword)});
    m_data->addPasswords(logins); // one write for the whole file
    updateTable();
    QString message = QStringLiteral("Passwords imported successfully!");
    if (result.skipped > 0)
        message += QStringLiteral("\n%1 of %2 entries were skipped (missing website, user name or password).")
                       .arg(result.skipped)
                       .arg(result.skipped + result.entries.size());
    PlainMessageBox::information(this, QStringLiteral("Import"), message);
}

void PasswordDialog::importCsv(const QByteArray &bytes)
{
    const PasswordCsv::ParseResult result = PasswordCsv::parse(bytes);
    if (!result.ok) {
        PlainMessageBox::warning(this, QStringLiteral("Import"), QStringLiteral("Import failed: %1").arg(result.error));
        return;
    }
    // As the JSON import: the same website and user name replaces the stored login.
    m_data->addPasswords(result.logins);
    updateTable();
    PlainMessageBox::information(this, QStringLiteral("Import"),
         csvImportSummary(int(result.logins.size()), result.skipped));
}

void PasswordDialog::onExportPasswordsCsv()
{
    if (!m_data)
        return;
    const QString title = QStringLiteral("Export Passwords");
    QMessageBox confirm(QMessageBox::Warning, title,
                        QStringLiteral("The CSV file holds your passwords in plain text: anyone who can read the "
                                       "file can use them. Delete it once the other browser has imported it.\n\n"
                                       "Export anyway?"),
                        QMessageBox::Yes | QMessageBox::No, this);
    confirm.setDefaultButton(QMessageBox::No);
    if (confirm.exec() != QMessageBox::Yes)
        return;
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    const QString path = m_chooseFile(this, title, dir + QStringLiteral("/passwords.csv"), kCsvFilter, true);
    if (path.isEmpty())
        return;
    int written = 0;
    // Private to the user from the first byte, written whole or not at all.
    if (!StoreFile::write(path, PasswordCsv::write(m_data->getPasswords(), &written), StoreFile::Access::Secret)) {
        PlainMessageBox::warning(this, QStringLiteral("Export"),
             QStringLiteral("Export failed: could not write %1").arg(QDir::toNativeSeparators(path)));
        return;
    }
    PlainMessageBox::information(this, QStringLiteral("Export"),
         QStringLiteral("Exported %1 passwords to %2").arg(written).arg(QDir::toNativeSeparators(path)));
}
