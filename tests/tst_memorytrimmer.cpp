#include "MemoryTrimmer.h"

#include <QFile>
#include <QtTest>

#include <cstdlib>
#include <cstring>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define ORVEX_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORVEX_SANITIZED 1
#endif
#endif

namespace {
qint64 residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields.at(1).toLongLong() * 4096 : -1;
}
} // namespace

// When the trimmer gives memory back, and that it waits for a quiet moment.
class TestMemoryTrimmer : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    // Freed blocks below a live one stay resident until the trim.
    void releasesFreedPages()
    {
#ifdef ORVEX_SANITIZED
        QSKIP("the sanitizer's allocator keeps its own pages");
#endif
        std::vector<char *> blocks;
        for (int i = 0; i < 24000; ++i) {
            blocks.push_back(static_cast<char *>(std::malloc(2000)));
            std::memset(blocks.back(), i, 2000);
        }
        char *live = static_cast<char *>(std::malloc(2000));
        std::memset(live, 1, 2000);
        for (char *block : blocks)
            std::free(block);
        const qint64 before = residentBytes();
        QVERIFY(before > 0);

        MemoryTrimmer trimmer(10, 0);
        QSignalSpy trimmed(&trimmer, &MemoryTrimmer::trimmed);
        trimmer.schedule();
        QVERIFY(trimmed.wait(5000));
        QCOMPARE(trimmed.first().first().toBool(), true);
        const qint64 after = residentBytes();
        std::free(live);
        QVERIFY2(before - after > 30 * 1024 * 1024,
                 qPrintable(QStringLiteral("%1 MB before, %2 MB after").arg(before >> 20).arg(after >> 20)));
    }

    // A burst of calls gives one trim, after the last call's quiet time.
    void waitsForQuiet()
    {
        MemoryTrimmer trimmer(200, 0);
        QSignalSpy trimmed(&trimmer, &MemoryTrimmer::trimmed);
        for (int i = 0; i < 5; ++i) {
            trimmer.schedule();
            QVERIFY(!trimmed.wait(100));
        }
        QVERIFY(trimmed.wait(5000));
        QVERIFY(!trimmed.wait(300));
        QCOMPARE(trimmer.trimCount(), 1);
    }

    // A call soon after a trim waits for the interval to pass.
    void keepsTheInterval()
    {
        MemoryTrimmer trimmer(10, 1500);
        QSignalSpy trimmed(&trimmer, &MemoryTrimmer::trimmed);
        trimmer.schedule();
        QVERIFY(trimmed.wait(5000));
        QElapsedTimer clock;
        clock.start();
        trimmer.schedule();
        QVERIFY(trimmed.wait(5000));
        QVERIFY2(clock.elapsed() > 1000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(trimmer.trimCount(), 2);
    }
};

QTEST_GUILESS_MAIN(TestMemoryTrimmer)
#include "tst_memorytrimmer.moc"
