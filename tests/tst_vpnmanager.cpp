#include "AccountServiceStub.h"
#include "FakeTools.h"
#include "TempDataDir.h"
#include "VPNManager.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {
int modeOf(const QString &path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
}

bool put(const QString &path, const QByteArray &bytes, mode_t mode)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return false;
    f.close();
    return ::chmod(QFile::encodeName(path).constData(), mode) == 0;
}

QByteArray contentOf(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

QString writeScript(const QTemporaryDir &dir, const QString &name, const QByteArray &body)
{
    const QString path = dir.path() + QLatin1Char('/') + name;
    put(path, "#!/bin/sh\n" + body, 0700);
    return path;
}

// Longest gap between 10 ms ticks while the event loop runs for ms.
qint64 longestStall(int ms)
{
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0, worst = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        worst = qMax(worst, clock.elapsed() - last);
        last = clock.elapsed();
    });
    tick.start(10);
    QTest::qWait(ms);
    return qMax(worst, clock.elapsed() - last);
}
}

class TestVpnManager : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void firstProbeIsBounded()
    {
        FakeTools tools;
        tools.setIpOutputFromSample(QStringLiteral("wireguard-up"));
        tools.setIpDelay(20);
        QElapsedTimer clock;
        clock.start();
        VPNManager vpn;
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!vpn.isConnected());
    }

    void disconnectTakesDownWhatWasBroughtUp()
    {
        FakeTools tools;
        tools.setIpOutputFromSample(QStringLiteral("wireguard-up"));
        VPNManager vpn;
        vpn.connectVPN(QStringLiteral("/cfg/one.conf"), QStringLiteral("wireguard"));
        QTRY_VERIFY(!tools.callsOf(QStringLiteral("wg-quick")).isEmpty());
        tools.clearCalls();
        tools.setIpOutputFromSample(QStringLiteral("wireguard-after-down"));
        QSignalSpy status(&vpn, &VPNManager::statusChanged);
        vpn.disconnectVPN();
        QCOMPARE(status.size(), 1); // at once, before the tools have run
        QTRY_COMPARE(tools.calls().mid(0, 2),
                     (QStringList{QStringLiteral("pkill -x openvpn"), QStringLiteral("wg-quick down /cfg/one.conf")}));
        QTRY_VERIFY(!vpn.isDisconnecting());
        tools.clearCalls();
        vpn.disconnectVPN();
        QTRY_VERIFY(!vpn.isDisconnecting());
        QCOMPARE(tools.callsOf(QStringLiteral("wg-quick")), QStringList());
    }

    void reconnectWaitsForTheTakeDown()
    {
        FakeTools tools;
        QTemporaryDir bin;
        const QByteArray log = " >> '" + tools.binDir().toLocal8Bit() + "/calls.log'; sleep 1\n";
        VPNManager::Tools names;
        names.pkill = writeScript(bin, QStringLiteral("pkill"), "echo pkill" + log);
        names.wgQuick = writeScript(bin, QStringLiteral("wg-quick"), "echo \"wg-quick $*\"" + log);
        VPNManager vpn(names);
        auto toolCalls = [&tools] {
            QStringList out = tools.calls();
            out.removeIf([](const QString &c) { return c.startsWith(QLatin1String("ip ")); });
            return out;
        };
        vpn.connectVPN(QStringLiteral("/cfg/a.conf"), QStringLiteral("wireguard"));
        QTRY_VERIFY(!toolCalls().isEmpty());
        vpn.connectVPN(QStringLiteral("/cfg/b.conf"), QStringLiteral("wireguard"));
        QTRY_COMPARE_WITH_TIMEOUT(toolCalls(),
                                  (QStringList{QStringLiteral("wg-quick up /cfg/a.conf"), QStringLiteral("pkill"),
                                               QStringLiteral("wg-quick down /cfg/a.conf"),
                                               QStringLiteral("wg-quick up /cfg/b.conf")}),
                                  8000);
    }

    void hungToolNeverBlocksAndIsKilled()
    {
        FakeTools tools;
        QTemporaryDir bin;
        VPNManager::Tools names;
        names.pkill = writeScript(bin, QStringLiteral("pkill"), "sleep 30\n");
        VPNManager vpn(names);
        vpn.setCommandTimeout(1500);
        vpn.disconnectVPN();
        QVERIFY(longestStall(800) < 300);
        QVERIFY(vpn.isDisconnecting());
        QTRY_VERIFY_WITH_TIMEOUT(!vpn.isDisconnecting(), 5000);
    }

    void hungIpNeitherBlocksNorStacks()
    {
        FakeTools tools;
        VPNManager vpn;
        vpn.setProbeTimeout(1500);
        tools.clearCalls();
        tools.setIpDelay(30);
        QSignalSpy probes(&vpn, &VPNManager::probeFinished);
        QSignalSpy status(&vpn, &VPNManager::statusChanged);
        vpn.checkVPNStatus();
        QVERIFY(longestStall(700) < 300);
        for (int i = 0; i < 5; ++i)
            vpn.checkVPNStatus();
        QTest::qWait(200);
        QCOMPARE(tools.callsOf(QStringLiteral("ip")).size(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(probes.size(), 1, 4000);
        QCOMPARE(status.size(), 0); // a killed probe changes nothing
        tools.setIpDelay(0);
        tools.setIpOutputFromSample(QStringLiteral("openvpn-tun-up"));
        vpn.checkVPNStatus();
        QTRY_COMPARE(status.size(), 1);
    }

    void destructionKillsRunningTool()
    {
        FakeTools tools;
        QTemporaryDir bin;
        VPNManager::Tools names;
        names.openvpn = writeScript(bin, QStringLiteral("openvpn"), "exec sleep 30\n");
        auto *vpn = new VPNManager(names);
        vpn->connectVPN(QStringLiteral("/cfg/x.ovpn"), QStringLiteral("openvpn"));
        QTest::qWait(200);
        QElapsedTimer clock;
        clock.start();
        delete vpn;
        QVERIFY(clock.elapsed() < 1500);
    }

    void connectToCountry_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("serverIndex");
        QTest::newRow("part of a country, any case") << "gERM" << 1;
        QTest::newRow("server name") << "new york" << 2;
        QTest::newRow("no match: first server") << "Narnia" << 0;
    }
    void connectToCountry()
    {
        QFETCH(QString, text);
        QFETCH(int, serverIndex);
        FakeTools tools; // first: its folder must not land in the test's temporary folder
        TempDataDir dir;
        VPNManager vpn;
        const QJsonObject keys = AccountServiceStub::goodKeys();
        vpn.setStoredKeys(keys);
        tools.clearCalls();
        vpn.connectToCountry(text);
        const QJsonObject server = keys.value(QStringLiteral("available_servers")).toArray().at(serverIndex).toObject();
        const QString path = dir.tempDir() + QStringLiteral("/orvex_") + server.value(QStringLiteral("id")).toString()
                             + QStringLiteral(".conf");
        QTRY_COMPARE(tools.callsOf(QStringLiteral("wg-quick")), QStringList{QStringLiteral("wg-quick up ") + path});
        QVERIFY(contentOf(path).contains("PublicKey = " + server.value(QStringLiteral("public_key")).toString().toLatin1()));
        QCOMPARE(modeOf(path), 0600);
        QCOMPARE(QDir(dir.tempDir()).entryList(QDir::Files | QDir::Hidden), QStringList{QFileInfo(path).fileName()});
    }

    // Every refusal: the error text, no file, no tool started.
    void connectToCountryRefusals_data()
    {
        QTest::addColumn<QJsonObject>("keys");
        QTest::addColumn<QString>("message");
        auto with = [](const char *field, const QString &value) {
            QJsonObject keys = AccountServiceStub::goodKeys();
            QJsonArray servers = keys.value(QStringLiteral("available_servers")).toArray();
            QJsonObject first = servers.at(0).toObject();
            first.insert(QLatin1String(field), value);
            servers.replace(0, first);
            keys.insert(QStringLiteral("available_servers"), servers);
            return keys;
        };
        const QString failed = QStringLiteral("Failed to generate configuration.");
        QJsonObject noWg = AccountServiceStub::goodKeys();
        noWg.remove(QStringLiteral("wireguard"));
        QTest::newRow("no servers") << QJsonObject{{QStringLiteral("wireguard"), AccountServiceStub::goodWireGuard()}}
                                    << QStringLiteral("No servers available. Please sync keys.");
        QTest::newRow("no wireguard keys") << noWg << failed;
        QTest::newRow("path traversal id") << with("id", QStringLiteral("../../evil")) << failed;
        QTest::newRow("id too long for an interface") << with("id", QStringLiteral("abcdefghij")) << failed;
        QTest::newRow("address with a PostUp line")
            << with("address", QStringLiteral("1.2.3.4\nPostUp = touch /tmp/orvex-pwned")) << failed;
    }
    void connectToCountryRefusals()
    {
        QFETCH(QJsonObject, keys);
        QFETCH(QString, message);
        FakeTools tools;
        TempDataDir dir;
        VPNManager vpn;
        vpn.setStoredKeys(keys);
        tools.clearCalls();
        QSignalSpy errors(&vpn, &VPNManager::connectionError);
        vpn.connectToCountry(QStringLiteral("Iceland"));
        QCOMPARE(errors.size(), 1);
        QCOMPARE(errors.at(0).at(0).toString(), message);
        QTest::qWait(100);
        QCOMPARE(tools.calls(), QStringList());
        QCOMPARE(QDir(dir.tempDir()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
        QVERIFY(!QFileInfo::exists(dir.path() + QStringLiteral("/evil.conf")));
    }

    // Whatever sits at the predictable name in a shared folder.
    void existingFileAtConfigPath_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("written");
        QTest::newRow("own old file, world-readable") << "own" << true;
        QTest::newRow("symlink to a victim file") << "symlink" << false;
    }
    void existingFileAtConfigPath()
    {
        QFETCH(QString, kind);
        QFETCH(bool, written);
        FakeTools tools;
        TempDataDir dir;
        const QString path = dir.tempDir() + QStringLiteral("/orvex_is1.conf");
        const QString victim = dir.path() + QStringLiteral("/victim");
        QVERIFY(put(victim, "precious", 0644));
        if (kind == QLatin1String("own")) {
            QVERIFY(put(path, "old", 0644));
        } else {
            QVERIFY(QFile::link(victim, path));
        }
        const mode_t oldMask = ::umask(0);
        VPNManager vpn;
        vpn.setStoredKeys(AccountServiceStub::goodKeys());
        QString configPath;
        const bool ok = vpn.generateConfigForServer(vpn.serverList().at(0), configPath);
        ::umask(oldMask);
        QCOMPARE(ok, written);
        QCOMPARE(contentOf(victim), QByteArray("precious"));
        if (written)
            QCOMPARE(modeOf(path), 0600);
    }
};

QTEST_GUILESS_MAIN(TestVpnManager)
#include "tst_vpnmanager.moc"
