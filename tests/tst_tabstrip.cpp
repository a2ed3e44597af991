#include "TabStripUpdater.h"

#include <QtTest>
#include <QtWidgets>
#include <memory>

using namespace Qt::StringLiterals;

class TestTabStrip : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTabWidget> tabs;
    QList<QWidget *> pages;
    int paints = 0; // of the tab bar

    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }

private Q_SLOTS:
    void init()
    {
        tabs = std::make_unique<QTabWidget>();
        pages.clear();
        for (int i = 0; i < 10; ++i) {
            pages.append(new QWidget);
            tabs->addTab(pages.last(), u"Tab %1"_s.arg(i));
        }
        tabs->resize(1200, 300);
        tabs->show();
        QVERIFY(QTest::qWaitForWindowExposed(tabs.get()));
        QTest::failOnWarning(QRegularExpression(u".*"_s));
    }
    void cleanup() { tabs.reset(); }

    // Ten loading tabs change their texts and icons three times each: the bar
    // shows the first change at once and the rest in one repaint.
    void loadingTabsRepaintTheBarOnce()
    {
        auto *strip = new TabStripUpdater(tabs.get(), 1000);
        tabs->tabBar()->installEventFilter(this);
        strip->setText(pages[0], u"Loading"_s);
        QTRY_COMPARE_WITH_TIMEOUT(tabs->tabText(0), u"Loading"_s, 500);
        QTRY_VERIFY(paints > 0);
        const int paintsBefore = paints;

        QPixmap red(16, 16);
        red.fill(Qt::red);
        for (const QString &stage : {u"127.0.0.1/page"_s, u"Page"_s, u"Page (759)"_s}) {
            for (int i = 0; i < pages.size(); ++i) {
                strip->setText(pages[i], stage + QString::number(i));
                strip->setIcon(pages[i], QIcon(red));
            }
            QTest::qWait(20);
        }
        QCOMPARE(tabs->tabText(3), u"Tab 3"_s);
        QCOMPARE(strip->text(pages[3]), u"Page (759)3"_s);
        QCOMPARE(paints, paintsBefore);

        QTRY_COMPARE(tabs->tabText(9), u"Page (759)9"_s);
        QVERIFY(!tabs->tabIcon(9).isNull());
        QTest::qWait(50);
        QCOMPARE(paints, paintsBefore + 1);
        QVERIFY(!strip->hasPending());
    }
};

QTEST_MAIN(TestTabStrip)
#include "tst_tabstrip.moc"
