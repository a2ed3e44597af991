#include "BookmarksDialog.h"

#include "DataManager.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QInputDialog>
#include <QJsonArray>
#include <QJsonObject>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

BookmarksDialog::BookmarksDialog(DataManager *dataManager, QWidget *parent)
    : QDialog(parent)
    , m_data(dataManager)
{
    setWindowTitle(QStringLiteral("Bookmarks"));
    setMinimumSize(600, 500);
    setupUI();
    loadBookmarks();
}

void BookmarksDialog::setupUI()
{
    auto *layout = new QVBoxLayout(this);

    m_search = new QLineEdit(this);
    m_search->setPlaceholderText(QStringLiteral("Search bookmarks..."));
    m_search->setStyleSheet(QStringLiteral(
        "padding: 6px 12px; background: #3d3d3d; border: 1px solid #404040; border-radius: 4px;"));
    connect(m_search, &QLineEdit::textChanged, this, &BookmarksDialog::onSearchBookmarks);
    layout->addWidget(m_search);

    m_tree = new QTreeWidget(this);
    m_tree->setColumnCount(2);
    m_tree->setHeaderLabels({QStringLiteral("Name"), QStringLiteral("URL")});
    m_tree->header()->setStretchLastSection(true);
    m_tree->setSelectionMode(QAbstractItemView::SingleSelection);
    m_tree->setStyleSheet(QStringLiteral(
        "QTreeWidget { background: #1e1e1e; color: white; }"
        "QTreeWidget::item { padding: 4px; }"
        "QTreeWidget::item:selected { background: #0078d4; }"
        "QHeaderView::section { background: #2d2d2d; color: white; padding: 8px; }"));
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
    auto *close = new QPushButton(QStringLiteral("Close"), this);
    m_editButton->setEnabled(false);
    m_deleteButton->setEnabled(false);
    buttons->addWidget(m_addButton);
    buttons->addWidget(m_editButton);
    buttons->addWidget(m_deleteButton);
    buttons->addWidget(m_addFolderButton);
    buttons->addStretch();
    buttons->addWidget(close);
    layout->addLayout(buttons);

    connect(m_addButton, &QPushButton::clicked, this, &BookmarksDialog::onAddBookmark);
    connect(m_editButton, &QPushButton::clicked, this, &BookmarksDialog::onEditBookmark);
    connect(m_deleteButton, &QPushButton::clicked, this, &BookmarksDialog::onDeleteBookmark);
    connect(m_addFolderButton, &QPushButton::clicked, this, &BookmarksDialog::onAddFolder);
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
