#include "DataManager.h"
#include "DownloadManager.h"
#include "SearchManager.h"
#include "StoreFile.h"
#include "StoreKillShapes.h"
#include "TempDataDir.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QtTest>

#include <chrono>
#include <csignal>
#include <sys/types.h>
#include <thread>

using namespace StoreKillShapes;

namespace {
QJsonArray seedEngines()
{
    QJsonArray engines;
    for (int i = 0; i < Records; ++i)
        engines.append(QJsonObject{{QStringLiteral("name"), QStringLiteral("Engine %1 ").arg(i) + filler()},
                                   {QStringLiteral("keyword"), QStringLiteral("k%1").arg(i)},
                                   {QStringLiteral("url"), QStringLiteral("https://engine.test/%1?q=%s").arg(i)},
                                   {QStringLiteral("default"), false}});
    return engines;
}

// The first complete version of a store, and the generation its helper goes on from.
QJsonDocument seed(const QString &store, qint64 *next)
{
    *next = Records;
    if (store == QLatin1String("bookmarks")) {
        QJsonArray a;
        for (qint64 g = Records - 1; g >= 0; --g)
            a.append(QJsonObject{{QStringLiteral("url"), url(g)}, {QStringLiteral("title"), title(g)},
                                 {QStringLiteral("added"), QStringLiteral("2025-03-01T14:05:09")}});
        return QJsonDocument(a);
    }
    if (store == QLatin1String("passwords")) {
        QJsonArray a;
        for (qint64 g = 0; g < Records; ++g)
            a.append(QJsonObject{{QStringLiteral("url"), site()}, {QStringLiteral("username"), user(g)},
                                 {QStringLiteral("password"), DataManager::encryptPasswordStatic(secret(g))},
                                 {QStringLiteral("added"), QStringLiteral("2025-03-01T14:05:09")}});
        return QJsonDocument(a);
    }
    if (store == QLatin1String("downloads")) {
        QJsonArray a;
        for (qint64 g = DownloadManager::maxHistory - 1; g >= 0; --g)
            a.append(download(g));
        *next = DownloadManager::maxHistory;
        return QJsonDocument(a);
    }
    *next = 1;
    if (store == QLatin1String("settings"))
        return QJsonDocument(settings(0));
    if (store == QLatin1String("session"))
        return QJsonDocument(session(0));
    return QJsonDocument(QJsonObject{{QStringLiteral("default"), defaultKeyword(0)}, {QStringLiteral("engines"), seedEngines()}});
}

// Empty when doc is one complete version; *generation tells which.
QString versionProblem(const QString &store, const QJsonDocument &doc, qint64 *generation)
{
    if (store == QLatin1String("bookmarks")) {
        const QJsonArray a = doc.array();
        // Between the add and the remove of one step the list is one longer.
        if (a.size() != Records && a.size() != Records + 1)
            return QStringLiteral("holds %1 bookmarks").arg(a.size());
        *generation = a.at(0)[QLatin1String("url")].toString().section(QLatin1Char('/'), -1).toLongLong();
        for (int i = 0; i < a.size(); ++i) {
            if (a.at(i)[QLatin1String("url")].toString() != url(*generation - i)
                || a.at(i)[QLatin1String("title")].toString() != title(*generation - i))
                return QStringLiteral("bookmark %1 is not number %2").arg(i).arg(*generation - i);
        }
        return QString();
    }
    if (store == QLatin1String("passwords")) {
        const QJsonArray a = doc.array();
        if (a.size() != Records)
            return QStringLiteral("holds %1 logins").arg(a.size());
        QList<qint64> seen;
        for (const QJsonValue &v : a) {
            const QString plain = DataManager::decryptPasswordStatic(v[QLatin1String("password")].toString());
            const qint64 g = plain.section(QLatin1Char('-'), 1, 1).toLongLong();
            if (plain != secret(g) || v[QLatin1String("username")].toString() != user(g) || v[QLatin1String("url")].toString() != site())
                return QStringLiteral("a login is damaged");
            seen << g;
        }
        std::sort(seen.begin(), seen.end());
        for (int i = 1; i < seen.size(); ++i) {
            if (seen.at(i) != seen.at(i - 1) + 1)
                return QStringLiteral("logins are not one window of generations");
        }
        *generation = seen.last();
        return QString();
    }
    if (store == QLatin1String("downloads")) {
        const QJsonArray a = doc.array();
        if (a.size() != DownloadManager::maxHistory)
            return QStringLiteral("holds %1 downloads").arg(a.size());
        *generation = a.at(0)[QLatin1String("url")].toString().section(QLatin1Char('/'), -1).toLongLong();
        for (int i = 0; i < a.size(); ++i) {
            if (a.at(i).toObject() != download(*generation - i))
                return QStringLiteral("download %1 is not number %2").arg(i).arg(*generation - i);
        }
        return QString();
    }
    if (store == QLatin1String("settings")) {
        *generation = doc.object().value(QLatin1String("generation")).toString().toLongLong();
        return doc.object() == settings(*generation) ? QString() : QStringLiteral("settings are mixed or damaged");
    }
    if (store == QLatin1String("session")) {
        const QString first = doc.array().at(0)[QLatin1String("title")].toString();
        *generation = first.section(QLatin1Char(' '), 3, 3).toLongLong();
        return doc.array() == session(*generation) ? QString() : QStringLiteral("session is mixed or damaged");
    }
    const QJsonObject root = doc.object();
    *generation = root.value(QLatin1String("default")).toString().mid(4).toLongLong();
    if (root.value(QLatin1String("default")).toString() != defaultKeyword(*generation))
        return QStringLiteral("default keyword is damaged");
    return root.value(QLatin1String("engines")).toArray() == seedEngines() ? QString() : QStringLiteral("engines are damaged");
}

QString fileOf(const QString &store) { return store + QStringLiteral(".json"); }

QStringList leftoversIn(const QString &folder, const QString &store)
{
    return QDir(folder).entryList({fileOf(store) + QStringLiteral(".*")}, QDir::Files | QDir::Hidden);
}
}

class TestStoreKill : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void killedWriterLeavesOldOrNewVersion_data()
    {
        QTest::addColumn<QString>("store");
        for (const char *store : {"bookmarks", "passwords", "settings", "session", "search_engines", "downloads"})
            QTest::newRow(store) << QString::fromLatin1(store);
    }

    void killedWriterLeavesOldOrNewVersion()
    {
        QFETCH(QString, store);
        TempDataDir dir;
        const QString path = dir.filePath(fileOf(store));
        qint64 next = 0;
        const QJsonDocument first = seed(store, &next);
        QVERIFY(StoreFile::writeJson(path, first, store == QLatin1String("passwords") ? StoreFile::Access::Secret
                                                                                     : StoreFile::Access::Normal));
        qint64 last = 0;
        QCOMPARE(versionProblem(store, first, &last), QString());

        const int iterations = qEnvironmentVariableIsSet("ORVEX_KILL_ITERATIONS")
            ? qEnvironmentVariableIntValue("ORVEX_KILL_ITERATIONS") : 200;
        int progressed = 0;
        int killedMidWrite = 0;
        for (int i = 0; i < iterations; ++i) {
            QProcess writer;
            writer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            writer.start(QStringLiteral(ORVEX_STOREKILLER), {dir.configDir(), store, QString::number(next)});
            QVERIFY(writer.waitForStarted());
            QVERIFY(writer.waitForReadyRead(20000));
            const QByteArray ready = writer.readLine().trimmed();
            QVERIFY2(ready.startsWith("ready "), ready.constData());
            const qint64 microsPerWrite = qMax<qint64>(1, ready.mid(6).toLongLong());
            // A random moment within the next few writes; the point of the test, not a wait.
            std::this_thread::sleep_for(std::chrono::microseconds(QRandomGenerator::global()->bounded(3 * microsPerWrite)));
            QCOMPARE(::kill(pid_t(writer.processId()), SIGKILL), 0);
            QVERIFY(writer.waitForFinished(10000));
            QCOMPARE(writer.exitStatus(), QProcess::CrashExit);

            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QJsonParseError error{};
            const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
            QVERIFY2(error.error == QJsonParseError::NoError,
                     qPrintable(QStringLiteral("kill %1: %2 does not parse").arg(i).arg(fileOf(store))));
            qint64 generation = -1;
            const QString problem = versionProblem(store, doc, &generation);
            QVERIFY2(problem.isEmpty(), qPrintable(QStringLiteral("kill %1: %2").arg(i).arg(problem)));
            QVERIFY(generation >= last + 2); // the two timed writes are complete
            progressed += generation > last + 2;
            last = generation;
            next = generation + 1;
            killedMidWrite += !leftoversIn(dir.dataFolder(), store).isEmpty();
        }
        qInfo("%s: %d kills, %d after further progress, %d mid-write (temporary file left behind)",
              qPrintable(store), iterations, progressed, killedMidWrite);
        QVERIFY(progressed >= iterations / 10);
        QVERIFY(killedMidWrite > 0);

        // The product loads the survivor, and its next save sweeps the leftovers.
        if (store == QLatin1String("downloads")) {
            DownloadManager downloads(nullptr, dir.dataFolder());
            QCOMPARE(downloads.getDownloadHistory().size(), DownloadManager::maxHistory);
            downloads.clearHistory();
        } else if (store == QLatin1String("search_engines")) {
            SearchManager search(dir.configDir());
            QCOMPARE(search.searchEngines().size(), Records);
            search.setDefaultEngine(QStringLiteral("k1"));
        } else {
            DataManager data(dir.configDir());
            if (store == QLatin1String("bookmarks"))
                data.saveBookmarks();
            else if (store == QLatin1String("passwords"))
                data.savePasswords();
            else if (store == QLatin1String("settings"))
                data.saveSettings();
            else
                data.saveSession();
        }
        QCOMPARE(leftoversIn(dir.dataFolder(), store), QStringList());
        QCOMPARE(QDir(dir.dataFolder()).entryList(QDir::Files | QDir::Hidden), QStringList{fileOf(store)});
    }
};

QTEST_GUILESS_MAIN(TestStoreKill)
#include "tst_storekill.moc"
