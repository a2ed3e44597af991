#pragma once

#include <QDialog>
#include <QMap>
#include <functional>

class DownloadItem;
class DownloadManager;
class QPushButton;
class QTableWidget;
class QUrl;

// Lists the downloads of this run with live progress and speed; pause,
// resume, cancel, open a finished file or the download folder.
class DownloadDialog : public QDialog
{
    Q_OBJECT
public:
    using UrlOpener = std::function<bool(const QUrl &)>;

    explicit DownloadDialog(DownloadManager *manager, QWidget *parent = nullptr);

    // How files and folders are handed to the desktop; defaults to
    // QDesktopServices::openUrl.
    void setUrlOpener(UrlOpener opener) { m_openUrl = std::move(opener); }

    QTableWidget *table() const { return m_table; }
    QPushButton *pauseButton() const { return m_pauseButton; }
    QPushButton *cancelButton() const { return m_cancelButton; }
    QPushButton *openFolderButton() const { return m_openFolderButton; }
    QPushButton *clearHistoryButton() const { return m_clearHistoryButton; }

    // "—" for no speed, then B/s, KB/s, MB/s (one decimal from 1024 up).
    static QString speedText(qint64 bytesPerSecond);
    // Status column text for an item's flags and end state.
    static QString statusText(const DownloadItem *item);

public Q_SLOTS:
    void onDownloadAdded(DownloadItem *item);
    void onDownloadFinished(DownloadItem *item);
    void onDownloadProgress();
    void onPauseResume();
    void onCancel();
    void onOpenFolder();
    void onClearHistory();
    void onActionClick(int row, int column);

private:
    void setupUI();
    void updateDownloadRow(int row, DownloadItem *item);
    int findDownloadRow(DownloadItem *item) const;
    DownloadItem *itemAtRow(int row) const;
    DownloadItem *selectedItem() const;
    void updateButtons();

    DownloadManager *m_manager = nullptr;
    QTableWidget *m_table = nullptr;
    QPushButton *m_pauseButton = nullptr;
    QPushButton *m_cancelButton = nullptr;
    QPushButton *m_openFolderButton = nullptr;
    QPushButton *m_clearHistoryButton = nullptr;
    QPushButton *m_closeButton = nullptr;
    QMap<DownloadItem *, int> m_rows;
    UrlOpener m_openUrl;
};
