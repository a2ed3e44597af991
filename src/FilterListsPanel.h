#pragma once

#include <QWidget>

class ContentBlocker;
class QDateTime;
class QLabel;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;
class QTimer;

// The "Filter lists" part of Settings → Privacy: the subscribed lists (rule
// count, last update, last error) with Add (by URL), Remove and Update now,
// which act at once; "My filters", the user's own rules, checked line by
// line as they are typed and stored by save(); and the sites where
// protection is off, each removable.
class FilterListsPanel : public QWidget
{
    Q_OBJECT
public:
    explicit FilterListsPanel(QWidget *parent = nullptr);

    // Without one the panel stays disabled.
    void setContentBlocker(ContentBlocker *blocker);
    // Stores My filters (the dialog's "Save").
    void save();

    // "Last update" text of a list: its date, or where its rules come from
    // until it is downloaded.
    static QString lastUpdateText(const QDateTime &lastUpdate, bool fromSnapshot);
    // One line per rule the engine will not use: "Line 3: <why>".
    static QString errorText(const QString &rules);

    QTableWidget *listTable() const { return m_table; }
    QPushButton *addButton() const { return m_add; }
    QPushButton *removeButton() const { return m_remove; }
    QPushButton *updateButton() const { return m_update; }
    QPlainTextEdit *myFilters() const { return m_myFilters; }
    QLabel *myFiltersErrors() const { return m_errors; }
    QListWidget *unprotectedSites() const { return m_sites; }
    QPushButton *removeSiteButton() const { return m_removeSite; }

private:
    void refreshLists();
    void refreshSites();
    void onAdd();
    void onRemove();
    void checkMyFilters();

    ContentBlocker *m_blocker = nullptr;
    QTableWidget *m_table = nullptr;
    QPushButton *m_add = nullptr;
    QPushButton *m_remove = nullptr;
    QPushButton *m_update = nullptr;
    QLabel *m_tunnelNote = nullptr;
    QPlainTextEdit *m_myFilters = nullptr;
    QLabel *m_errors = nullptr;
    QTimer *m_checkTimer = nullptr;
    QListWidget *m_sites = nullptr;
    QPushButton *m_removeSite = nullptr;
};
