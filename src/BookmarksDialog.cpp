#include "BookmarksDialog.h"

#include "DataManager.h"
#include "ImportFile.h"
#include "NetscapeBookmarks.h"
#include "StoreFile.h"
#include "Theme.h"

#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QInputDialog>
#include <QJsonArray>
#include <QJsonObject>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QThread>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <memory>

namespace {
const QString kHtmlFilter = QStringLiteral("Bookmark files (*.html *.htm);;All files (*)");

void tell(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &text)
{
    // Plain text: reasons can quote a file name or the system's error text.
    QMessageBox box(icon, title, text, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}
}

BookmarksDialog::BookmarksDialog(DataManager *dataManager, QWidget *parent)
    : QDialog(parent)
    , m_data(dataManager)
    , m_chooseFile(&BookmarksDialog::chooseWithFileDialog)
{
    setWindowTitle(QStringLiteral("Bookmarks"));
    setStyleSheet(Theme::dialogStyleSheet());
    setMinimumSize(600, 500);
    setupUI();
    loadBookmarks();
}

BookmarksDialog::~BookmarksDialog()
{
    // The worker reads a file of bounded size: waiting for it is short.
    if (m_importThread)
        m_importThread->wait();
}

void BookmarksDialog::setFileChooser(FileChooser chooser)
{
    m_chooseFile = chooser ? std::move(chooser) : FileChooser(&BookmarksDialog::chooseWithFileDialog);
}

QString BookmarksDialog::chooseWithFileDialog(QWidget *parent, const QString &caption, const QString &dir,
                                              const QString &filter, bool save)
{
    return save ? QFileDialog::getSaveFileName(parent, caption, dir, filter)
                : QFileDialog::getOpenFileName(parent, caption, dir, filter);
}

void BookmarksDialog::setupUI()
{
    auto *layout = new QVBoxLayout(this);

    m_search = new QLineEdit(this);
    m_search->setPlaceholderText(QStringLiteral("Search bookmarks..."));
    m_search->setStyleSheet(Theme::filterFieldStyleSheet());
    connect(m_search, &QLineEdit::textChanged, this, &BookmarksDialog::onSearchBookmarks);
    layout->addWidget(m_search);

    m_tree = new QTreeWidget(this);
    m_tree->setColumnCount(2);
    m_tree->setHeaderLabels({QStringLiteral("Name"), QStringLiteral("URL")});
    m_tree->header()->setStretchLastSection(true);
    // Imported titles carry their folders in front: give the names room.
    m_tree->setColumnWidth(0, 280);
    m_tree->setSelectionMode(QAbstractItemView::SingleSelection);
    m_tree->setStyleSheet(Theme::treeStyleSheet());
    connect(m_tree, &QTreeWidget::itemDoubleClicked, this, &BookmarksDialog::onItemDoubleClicked);
    connect(m_tree, &QTreeWidget::itemSelectionChanged, this, [this] {
        const bool selected = !m_tree->selectedItems().isEmpty();
        m_editButton->setEnabled(selected);
        m_deleteButton->setEnabled(selected);
    });
    layout->addWidget(m_tree);

    auto *buttons = new QHBoxLayout;
    m_addButton = new QPushButton(QStringLiteral("➕ Add"), this);
    m_editButton = new QPushButton(QStringLiteral("✏️ Edit"), this);
    m_deleteButton = new QPushButton(QStringLiteral("🗑️ Delete"), this);
    m_addFolderButton = new QPushButton(QStringLiteral("📁 Add Folder"), this);
    m_importButton = new QPushButton(QStringLiteral("📥 Import"), this);
    m_importButton->setToolTip(QStringLiteral("Import an HTML bookmark file exported by another browser"));
    m_exportButton = new QPushButton(QStringLiteral("📤 Export"), this);
    m_exportButton->setToolTip(QStringLiteral("Export as an HTML bookmark file other browsers import"));
    auto *close = new QPushButton(QStringLiteral("Close"), this);
    m_editButton->setEnabled(false);
    m_deleteButton->setEnabled(false);
    buttons->addWidget(m_addButton);
    buttons->addWidget(m_editButton);
    buttons->addWidget(m_deleteButton);
    buttons->addWidget(m_addFolderButton);
    buttons->addStretch();
    buttons->addWidget(m_exportButton);
    buttons->addWidget(m_importButton);
    buttons->addWidget(close);
    layout->addLayout(buttons);

    connect(m_addButton, &QPushButton::clicked, this, &BookmarksDialog::onAddBookmark);
    connect(m_editButton, &QPushButton::clicked, this, &BookmarksDialog::onEditBookmark);
    connect(m_deleteButton, &QPushButton::clicked, this, &BookmarksDialog::onDeleteBookmark);
    connect(m_addFolderButton, &QPushButton::clicked, this, &BookmarksDialog::onAddFolder);
    connect(m_importButton, &QPushButton::clicked, this, &BookmarksDialog::onImportBookmarks);
    connect(m_exportButton, &QPushButton::clicked, this, &BookmarksDialog::onExportBookmarks);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
}

void BookmarksDialog::loadBookmarks()
{
    updateTree();
}

void BookmarksDialog::updateTree()
{
    m_tree->clear();
    if (!m_data)
        return;
    const QJsonArray bookmarks = m_data->getBookmarks();
    for (const QJsonValue &value : bookmarks) {
        const QJsonObject bookmark = value.toObject();
        const QString url = bookmark.value(QStringLiteral("url")).toString();
        auto *item = new QTreeWidgetItem(m_tree);
        item->setText(0, bookmark.value(QStringLiteral("title")).toString());
        item->setText(1, url);
        item->setData(0, Qt::UserRole, url);
    }
    // A rebuilt list keeps the filter the user typed.
    onSearchBookmarks(m_search->text());
}

bool BookmarksDialog::matchesFilter(const QString &title, const QString &url, const QString &filter)
{
    return filter.isEmpty() || title.contains(filter, Qt::CaseInsensitive)
        || url.contains(filter, Qt::CaseInsensitive);
}

void BookmarksDialog::onSearchBookmarks(const QString &text)
{
    for (int i = 0; i < m_tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem *item = m_tree->topLevelItem(i);
        const bool isFolder = item->data(0, Qt::UserRole).toString().isEmpty();
        const bool shown = isFolder ? text.isEmpty() : matchesFilter(item->text(0), item->text(1), text);
        item->setHidden(!shown);
    }
}

void BookmarksDialog::onAddBookmark()
{
    const QString url = QInputDialog::getText(this, QStringLiteral("Add Bookmark"), QStringLiteral("URL:"));
    const QString title = QInputDialog::getText(this, QStringLiteral("Add Bookmark"), QStringLiteral("Title:"));
    if (url.isEmpty() || !m_data)
        return;
    m_data->addBookmark(url, title.isEmpty() ? url : title);
    updateTree();
}

void BookmarksDialog::onEditBookmark()
{
    QTreeWidgetItem *item = m_tree->currentItem();
    if (!item || !m_data)
        return;
    const QString oldUrl = item->data(0, Qt::UserRole).toString();
    const QString oldTitle = item->text(0);
    const QString url = QInputDialog::getText(this, QStringLiteral("Edit Bookmark"), QStringLiteral("URL:"),
                                              QLineEdit::Normal, oldUrl);
    const QString title = QInputDialog::getText(this, QStringLiteral("Edit Bookmark"), QStringLiteral("Title:"),
                                                QLineEdit::Normal, oldTitle);
    if (url.isEmpty())
        return;
    m_data->removeBookmark(oldUrl);
    m_data->addBookmark(url, title.isEmpty() ? url : title);
    updateTree();
}

void BookmarksDialog::onDeleteBookmark()
{
    QTreeWidgetItem *item = m_tree->currentItem();
    if (!item || !m_data)
        return;
    const QString url = item->data(0, Qt::UserRole).toString();
    const auto answer = QMessageBox::question(this, QStringLiteral("Delete Bookmark"),
                                              QStringLiteral("Are you sure you want to delete this bookmark?"),
                                              QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    m_data->removeBookmark(url);
    updateTree();
}

void BookmarksDialog::onAddFolder()
{
    const QString name = QInputDialog::getText(this, QStringLiteral("Add Folder"), QStringLiteral("Folder Name:"));
    if (name.isEmpty())
        return;
    auto *item = new QTreeWidgetItem(m_tree);
    item->setText(0, name);
    item->setIcon(0, QIcon::fromTheme(QStringLiteral("folder")));
    item->setHidden(!m_search->text().isEmpty());
}

void BookmarksDialog::onItemDoubleClicked(QTreeWidgetItem *item, int)
{
    if (!item)
        return;
    const QString url = item->data(0, Qt::UserRole).toString();
    if (url.isEmpty())
        return;
    emit urlSelected(QUrl(url));
    accept();
}

QString BookmarksDialog::importSummary(int imported, int skipped)
{
    return QStringLiteral("Imported %1 bookmarks (%2 skipped)").arg(imported).arg(skipped);
}

void BookmarksDialog::onImportBookmarks()
{
    if (!m_data || m_importThread)
        return;
    const QString title = QStringLiteral("Import Bookmarks");
    const QString path = m_chooseFile(this, title, QStandardPaths::writableLocation(QStandardPaths::DownloadLocation),
                                      kHtmlFilter, false);
    if (path.isEmpty())
        return;
    struct Outcome {
        QString error;
        NetscapeBookmarks::ParseResult parsed;
    };
    // Reading and parsing a large export takes a while: not on the GUI thread.
    auto outcome = std::make_shared<Outcome>();
    m_importThread = QThread::create([path, outcome] {
        QByteArray bytes;
        if (!ImportFile::read(path, NetscapeBookmarks::maxFileBytes, &bytes, &outcome->error))
            return;
        outcome->parsed = NetscapeBookmarks::parse(bytes);
        if (!outcome->parsed.ok)
            outcome->error = outcome->parsed.error;
    });
    m_importThread->setParent(this);
    m_importButton->setEnabled(false);
    setCursor(Qt::BusyCursor);
    connect(m_importThread, &QThread::finished, this, [this, title, outcome] {
        m_importThread->deleteLater();
        m_importThread = nullptr;
        m_importButton->setEnabled(true);
        unsetCursor();
        if (!outcome->error.isEmpty()) {
            tell(this, QMessageBox::Warning, title, QStringLiteral("Import failed: %1").arg(outcome->error));
            emit importFinished();
            return;
        }
        QList<DataManager::Bookmark> records;
        records.reserve(outcome->parsed.bookmarks.size());
        for (const NetscapeBookmarks::Bookmark &bookmark : std::as_const(outcome->parsed.bookmarks))
            records.append({bookmark.url, bookmark.title, bookmark.added});
        // One write for the whole file; addresses already stored are skipped.
        const int added = m_data->addBookmarks(records);
        const int skipped = outcome->parsed.refused + int(records.size()) - added;
        updateTree();
        tell(this, QMessageBox::Information, title, importSummary(added, skipped));
        emit importFinished();
    });
    m_importThread->start();
}

void BookmarksDialog::onExportBookmarks()
{
    if (!m_data)
        return;
    const QString title = QStringLiteral("Export Bookmarks");
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    const QString path = m_chooseFile(this, title, dir + QStringLiteral("/bookmarks.html"), kHtmlFilter, true);
    if (path.isEmpty())
        return;
    int written = 0;
    if (!StoreFile::write(path, NetscapeBookmarks::write(m_data->getBookmarks(), &written))) {
        tell(this, QMessageBox::Warning, title,
             QStringLiteral("Export failed: could not write %1").arg(QDir::toNativeSeparators(path)));
        return;
    }
    tell(this, QMessageBox::Information, title,
         QStringLiteral("Exported %1 bookmarks to %2").arg(written).arg(QDir::toNativeSeparators(path)));
}
