#include "DataManager.h"
#include "DownloadManager.h"
#include "SearchManager.h"
#include "StoreFile.h"
#include "StoreKillShapes.h"
#include "TempDataDir.h"

#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QtTest>

#include <chrono>
#include <csignal>
#include <thread>

using namespace StoreKillShapes;

namespace {
QJsonArray engines()
{
    QJsonArray a;
    for (int i = 0; i < Records; ++i)
        a.append(QJsonObject{{QStringLiteral("name"), QStringLiteral("Engine %1 ").arg(i) + filler()},
                             {QStringLiteral("keyword"), QStringLiteral("k%1").arg(i)},
                             {QStringLiteral("url"), QStringLiteral("https://engine.test/%1?q=%s").arg(i)},
                             {QStringLiteral("default"), false}});
    return a;
}

QJsonObject bookmark(qint64 g)
{
    return QJsonObject{{QStringLiteral("url"), url(g)}, {QStringLiteral("title"), title(g)}};
}

qint64 frontGeneration(const QJsonArray &a)
{
    return a.at(0)[QLatin1String("url")].toString().section(QLatin1Char('/'), -1).toLongLong();
}

// Generation g of a store as its helper writes it.
QJsonDocument version(const QString &store, qint64 g)
{
    QJsonArray a;
    if (store == QLatin1String("bookmarks") || store == QLatin1String("downloads")) {
        const bool marks = store == QLatin1String("bookmarks");
        for (qint64 i = g; i > g - (marks ? Records : DownloadManager::maxHistory); --i)
            a.append(marks ? bookmark(i) : download(i));
        return QJsonDocument(a);
    }
    if (store == QLatin1String("passwords")) {
        for (qint64 i = g - Records + 1; i <= g; ++i)
            a.append(QJsonObject{{QStringLiteral("url"), site()}, {QStringLiteral("username"), user(i)},
                                 {QStringLiteral("password"), DataManager::encryptPasswordStatic(secret(i))}});
        return QJsonDocument(a);
    }
    if (store == QLatin1String("settings"))
        return QJsonDocument(settings(g));
    if (store == QLatin1String("session"))
        return QJsonDocument(session(g));
    return QJsonDocument(QJsonObject{{QStringLiteral("default"), defaultKeyword(g)}, {QStringLiteral("engines"), engines()}});
}

// Empty when doc is one complete version; *generation tells which.
QString versionProblem(const QString &store, const QJsonDocument &doc, qint64 *generation)
{
    QJsonArray a = doc.array();
    if (store == QLatin1String("bookmarks") || store == QLatin1String("downloads")) {
        *generation = frontGeneration(a);
        // Between the add and the remove of one step the bookmark list is one longer.
        if (store == QLatin1String("bookmarks") && a.size() == Records + 1)
            a.removeLast();
        for (int i = 0; i < a.size(); ++i) {
            QJsonObject record = a.at(i).toObject();
            record.remove(QStringLiteral("added"));
            a[i] = record;
        }
    } else if (store == QLatin1String("passwords")) {
        QList<QJsonObject> logins;
        for (const QJsonValue &v : a) {
            QJsonObject o = v.toObject();
            o.remove(QStringLiteral("added"));
            logins << o;
            const QString plain = DataManager::decryptPasswordStatic(o.value(QLatin1String("password")).toString());
            *generation = qMax(*generation, plain.section(QLatin1Char('-'), 1, 1).toLongLong());
        }
        // Replacing a login moves it to the end: compare as a set.
        const auto byUser = [](const QJsonObject &l, const QJsonObject &r) {
            return l.value(QLatin1String("password")).toString() < r.value(QLatin1String("password")).toString();
        };
        std::sort(logins.begin(), logins.end(), byUser);
        QList<QJsonObject> expected;
        for (const QJsonValue &v : version(store, *generation).array())
            expected << v.toObject();
        std::sort(expected.begin(), expected.end(), byUser);
        return logins == expected ? QString() : QStringLiteral("logins are not one window of generations");
    } else if (store == QLatin1String("settings")) {
        *generation = doc.object().value(QLatin1String("generation")).toString().toLongLong();
    } else if (store == QLatin1String("session")) {
        *generation = a.at(0)[QLatin1String("title")].toString().section(QLatin1Char(' '), 3, 3).toLongLong();
    } else {
        *generation = doc.object().value(QLatin1String("default")).toString().mid(4).toLongLong();
    }
    const QJsonDocument expected = version(store, *generation);
    if (doc.isArray() ? a == expected.array() : doc.object() == expected.object())
        return QString();
    return QStringLiteral("not generation %1 but a mix or damage").arg(*generation);
}

QStringList leftoversIn(const QString &folder, const QString &store)
{
    return QDir(folder).entryList({store + QStringLiteral(".json.*")}, QDir::Files | QDir::Hidden);
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
        const QString path = dir.filePath(store + QStringLiteral(".json"));
        qint64 last = store == QLatin1String("downloads") ? DownloadManager::maxHistory - 1
            : store == QLatin1String("bookmarks") || store == QLatin1String("passwords") ? Records - 1 : 0;
        QVERIFY(StoreFile::writeJson(path, version(store, last), store == QLatin1String("passwords") ? StoreFile::Access::Secret
                                                                                                    : StoreFile::Access::Normal));
        const int iterations = qEnvironmentVariableIsSet("ORVEX_KILL_ITERATIONS")
            ? qEnvironmentVariableIntValue("ORVEX_KILL_ITERATIONS") : 200;
        int progressed = 0;
        int killedMidWrite = 0;
        for (int i = 0; i < iterations; ++i) {
            QProcess writer;
            writer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            writer.start(QStringLiteral(ORVEX_STOREKILLER), {dir.configDir(), store, QString::number(last + 1)});
            QVERIFY(writer.waitForStarted());
            QVERIFY(writer.waitForReadyRead(20000));
            const QByteArray ready = writer.readLine().trimmed();
            QVERIFY2(ready.startsWith("ready "), ready.constData());
            const qint64 microsPerWrite = qMax<qint64>(1, ready.mid(6).toLongLong());
            // A random moment within the next few writes; the point of the test, not a wait.
            std::this_thread::sleep_for(std::chrono::microseconds(QRandomGenerator::global()->bounded(3 * microsPerWrite)));
            QCOMPARE(::kill(pid_t(writer.processId()), SIGKILL), 0);
            QVERIFY(writer.waitForFinished(10000));

            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QJsonParseError error{};
            const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
            QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(QStringLiteral("kill %1: does not parse").arg(i)));
            qint64 generation = -1;
            const QString problem = versionProblem(store, doc, &generation);
            QVERIFY2(problem.isEmpty(), qPrintable(QStringLiteral("kill %1: %2").arg(i).arg(problem)));
            QVERIFY(generation >= last + 2); // the two timed writes are complete
            progressed += generation > last + 2;
            last = generation;
            killedMidWrite += !leftoversIn(dir.dataFolder(), store).isEmpty();
        }
        qInfo("%s: %d kills, %d after further progress, %d mid-write", qPrintable(store), iterations, progressed, killedMidWrite);
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
            store == QLatin1String("bookmarks")   ? data.saveBookmarks()
                : store == QLatin1String("passwords") ? data.savePasswords()
                : store == QLatin1String("settings")  ? data.saveSettings()
                                                      : data.saveSession();
        }
        QCOMPARE(QDir(dir.dataFolder()).entryList(QDir::Files | QDir::Hidden), QStringList{store + QStringLiteral(".json")});
    }
};

QTEST_GUILESS_MAIN(TestStoreKill)
#include "tst_storekill.moc"
