#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QIcon>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

class QTabWidget;
class QWidget;

// Applies tab texts and icons to a tab widget at most once per interval.
// Without a GPU every tab-bar repaint composes the whole window in software
// GL; ten tabs loading at once change their texts some thirty times, which
// cost a quarter of a second. A change after a quiet interval shows on the
// next turn of the event loop; changes that follow within the interval are
// gathered into one repaint.
class TabStripUpdater : public QObject
{
    Q_OBJECT
public:
    explicit TabStripUpdater(QTabWidget *tabs, int intervalMs = 250);

    // `page` is the tab's widget; a page no longer in the tab widget is skipped.
    void setText(QWidget *page, const QString &text);
    void setIcon(QWidget *page, const QIcon &icon);
    // The text the tab shows, or will show at the next flush.
    QString text(QWidget *page) const;
    bool hasPending() const { return !pendingTexts.isEmpty() || !pendingIcons.isEmpty(); }

    void flush();

private:
    void schedule();
    void watch(QWidget *page);

    QTabWidget *tabs;
    int interval;
    QTimer timer;
    QElapsedTimer sinceFlush;
    QHash<QWidget *, QString> pendingTexts;
    QHash<QWidget *, QIcon> pendingIcons;
    QSet<QWidget *> watched;
};
