#include "TabStripUpdater.h"

#include <QTabWidget>

TabStripUpdater::TabStripUpdater(QTabWidget *tabs, int intervalMs)
    : QObject(tabs)
    , tabs(tabs)
    , interval(intervalMs)
{
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, this, &TabStripUpdater::flush);
}

void TabStripUpdater::setText(QWidget *page, const QString &text)
{
    if (!page)
        return;
    if (tabs->indexOf(page) >= 0 && tabs->tabText(tabs->indexOf(page)) == text) {
        pendingTexts.remove(page); // back to what it shows: nothing to repaint
        return;
    }
    watch(page);
    pendingTexts.insert(page, text);
    schedule();
}

void TabStripUpdater::setIcon(QWidget *page, const QIcon &icon)
{
    if (!page)
        return;
    watch(page);
    pendingIcons.insert(page, icon);
    schedule();
}

QString TabStripUpdater::text(QWidget *page) const
{
    const auto pending = pendingTexts.constFind(page);
    if (pending != pendingTexts.cend())
        return *pending;
    const int index = tabs->indexOf(page);
    return index >= 0 ? tabs->tabText(index) : QString();
}

void TabStripUpdater::flush()
{
    timer.stop();
    sinceFlush.start();
    if (!hasPending())
        return;
    const auto texts = std::exchange(pendingTexts, {});
    const auto icons = std::exchange(pendingIcons, {});
    for (auto it = texts.cbegin(); it != texts.cend(); ++it) {
        const int index = tabs->indexOf(it.key());
        if (index >= 0 && tabs->tabText(index) != it.value())
            tabs->setTabText(index, it.value());
    }
    for (auto it = icons.cbegin(); it != icons.cend(); ++it) {
        const int index = tabs->indexOf(it.key());
        if (index >= 0)
            tabs->setTabIcon(index, it.value());
    }
}

void TabStripUpdater::schedule()
{
    if (timer.isActive())
        return;
    const qint64 quiet = sinceFlush.isValid() ? sinceFlush.elapsed() : interval;
    timer.start(int(qMax<qint64>(0, interval - quiet)));
}

// A page deleted before the flush must not leave its address behind: a new
// tab could be allocated there and inherit the text.
void TabStripUpdater::watch(QWidget *page)
{
    if (watched.contains(page))
        return;
    watched.insert(page);
    connect(page, &QObject::destroyed, this, [this, page] {
        watched.remove(page);
        pendingTexts.remove(page);
        pendingIcons.remove(page);
    });
}
