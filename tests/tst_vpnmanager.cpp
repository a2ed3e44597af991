#include "AccountServiceStub.h"
#include "FakeTools.h"
#include "TempDataDir.h"
#include "TunnelState.h"
#include "VPNConfigReview.h"
#include "VPNManager.h"
#include "WireGuardConfig.h"

#include <QtTest>

#include <csignal>
#include <memory>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {
int modeOf(const QString &path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
}

bool put(const QString &path, const QByteArray &bytes, mode_t mode = 0600)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return false;
    f.close();
    return ::chmod(QFile::encodeName(path).constData(), mode) == 0;
}

QByteArray contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Runs the event loop for ms and returns the longest gap between 10 ms ticks.
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

// The recorded calls of every tool but the probe's `ip`.
QStringList toolCalls(const FakeTools &tools)
{
    return tools.calls().filter(QRegularExpression(u"^(?!ip )"_s));
}

// The good keys with one piece of their compact JSON text replaced.
QJsonObject keysWith(const QString &from, const QString &to)
{
    return QJsonDocument::fromJson(QJsonDocument(AccountServiceStub::goodKeys()).toJson(QJsonDocument::Compact)
                                       .replace(from.toUtf8(), to.toUtf8())).object();
}

bool processRuns(qint64 pid)
{
    return TunnelState::isAlive(pid_t(pid));
}

// An OpenVPN daemon of someone else's (the fake's, with its own pid file).
void startOtherOpenVpn(const FakeTools &tools, const QString &pidFile)
{
    QProcess p;
    p.setStandardOutputFile(QProcess::nullDevice());
    p.setStandardErrorFile(QProcess::nullDevice());
    p.start(tools.binDir() + u"/openvpn"_s, {u"--daemon"_s, u"--writepid"_s, pidFile});
    p.waitForFinished();
}

// One interface of `ip -details -json link show`.
QString link(const char *name, const char *kind, const char *flags, const char *state)
{
    return QStringLiteral(R"([{"ifindex":5,"ifname":"%1","flags":[%2],"operstate":"%3","linkinfo":{"info_kind":"%4"}}])")
        .arg(QLatin1String(name), QLatin1String(flags), QLatin1String(state), QLatin1String(kind));
}
}

class TestVpnManager : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(u".*"_s)); }

    // Rows named "sample: x" read the capture x.json (real ones made in
    // network namespaces by tests/data/ip-link/capture.sh; ppp, wwan and the
    // kernel's WireGuard written by hand).
    void parseIpLink_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<bool>("up");
        QTest::addColumn<QString>("name");
        QTest::newRow("sample: OpenVPN's tun0, state UNKNOWN") << "openvpn-tun-up" << true << "tun0";
        QTest::newRow("sample: unattached tun beside a live one") << "openvpn-up-plus-unattached-tun" << true << "tun0";
        QTest::newRow("sample: wireguard-go, a tun device") << "wireguard-up" << true << "orvex_de1";
        QTest::newRow("sample: kernel WireGuard") << "wireguard-kernel-up" << true << "wg0";
        QTest::newRow("sample: ethernet-like links only") << "host-no-tunnel" << false << "";
        QTest::newRow("sample: after wg-quick down") << "wireguard-after-down" << false << "";
        QTest::newRow("sample: tun0 up without a process") << "tun-without-carrier" << false << "";
        QTest::newRow("sample: OpenVPN's tap0") << "openvpn-tap-up" << false << "";
        QTest::newRow("sample: veth, bridge, vxlan, macvlan named tun*, up") << "other-kinds-up" << false << "";
        QTest::newRow("sample: dial-up ppp0") << "ppp-up" << false << "";
        QTest::newRow("sample: LTE modem wwan0") << "wwan-up" << false << "";
        QTest::newRow("sample: LTE modem wwan0 on qmi_wwan") << "wwan-qmi-up" << false << "";
        QTest::newRow("tun named tun*, state UP, no point-to-point flag")
            << link("tun3", "tun", R"("BROADCAST","UP","LOWER_UP")", "UP") << true << "tun3";
        QTest::newRow("ppp named tun0, state UP") << link("tun0", "ppp", R"("POINTOPOINT","UP","LOWER_UP")", "UP") << false << "";
        QTest::newRow("WireGuard without LOWER_UP") << link("wg0", "wireguard", R"("POINTOPOINT","NOARP","UP")", "UNKNOWN") << false << "";
        QTest::newRow("blank inside the name") << link("wg0\\u000bjunk", "wireguard", R"("POINTOPOINT","UP","LOWER_UP")", "UNKNOWN") << false << "";
        QTest::newRow("name longer than Linux allows") << link("wg0123456789abcd", "wireguard", R"("POINTOPOINT","UP","LOWER_UP")", "UNKNOWN") << false << "";
        QTest::newRow("plain text of ip link show") << QString::fromUtf8(FakeTools::sample(u"openvpn-tun-up"_s, u"txt"_s)) << false << "";
        QTest::newRow("an object, not a list") << R"({"ifname":"tun0","flags":["POINTOPOINT","UP","LOWER_UP"],"linkinfo":{"info_kind":"tun"}})" << false << "";
    }
    void parseIpLink()
    {
        QFETCH(QString, output);
        if (QByteArray(QTest::currentDataTag()).startsWith("sample: ")) {
            output = QString::fromUtf8(FakeTools::sample(output));
            QVERIFY(!output.isEmpty());
        }
        const VPNManager::ProbeResult r = VPNManager::parseIpLink(output.toUtf8());
        QTEST(r.up, "up");
        QTEST(r.interfaceName, "name");
    }

    // Requests stop with the first probe that finds no tunnel; the drop counts
    // only when a second probe about a second later confirms it, and a tunnel
    // back by then changes nothing else. A probe that finds one turns both on.
    void dropNeedsASecondProbe_data()
    {
        QTest::addColumn<QString>("second");
        QTest::addColumn<bool>("connected");
        QTest::newRow("tunnel back in time") << "openvpn-tun-up" << true;
        QTest::newRow("tunnel gone") << "host-no-tunnel" << false;
    }
    void dropNeedsASecondProbe()
    {
        QFETCH(QString, second);
        QFETCH(bool, connected);
        FakeTools tools;
        VPNManager vpn;
        QVERIFY(!vpn.isConnected() && !vpn.isTrafficAllowed());
        QSignalSpy status(&vpn, &VPNManager::statusChanged), traffic(&vpn, &VPNManager::trafficAllowedChanged),
            probes(&vpn, &VPNManager::probeFinished);
        tools.setIpOutputFromSample(u"openvpn-tun-up"_s);
        vpn.checkVPNStatus();
        QTRY_COMPARE(probes.size(), 1);
        QCOMPARE(status.size(), 1);
        QCOMPARE(traffic.size(), 1);
        QVERIFY(vpn.isConnected() && vpn.isTrafficAllowed());

        tools.setIpOutputFromSample(u"host-no-tunnel"_s);
        vpn.checkVPNStatus();
        QTRY_COMPARE(probes.size(), 2);
        QVERIFY(!vpn.isTrafficAllowed());
        QVERIFY(vpn.isConnected());
        QCOMPARE(traffic.last().at(0).toBool(), false);
        QCOMPARE(status.size(), 1);
        tools.setIpOutputFromSample(second);
        QElapsedTimer clock;
        clock.start();
        QTRY_COMPARE_WITH_TIMEOUT(probes.size(), 3, 3000);
        QVERIFY2(clock.elapsed() > 600, "the confirming probe came too early");
        QCOMPARE(vpn.isConnected(), connected);
        QCOMPARE(vpn.isTrafficAllowed(), connected);
        QCOMPARE(status.size(), connected ? 1 : 2);
        QCOMPARE(traffic.size(), connected ? 3 : 2);
    }

    // Failures end in one message, nothing recorded as ours, nothing left.
    void failuresAreReported_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("root");
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("message");
        QTest::newRow("wg-quick missing") << "de1.conf" << true << "missing wg-quick"
                                          << "Could not connect: wg-quick was not found. Install wireguard-tools.";
        QTest::newRow("openvpn missing") << "office.ovpn" << false << "missing openvpn"
                                         << "Could not connect: openvpn was not found. Install openvpn.";
        QTest::newRow("pkexec missing") << "de1.conf" << false << "missing pkexec"
                                        << "Could not connect: pkexec was not found; it is needed to run wg-quick as "
                                           "administrator. Install pkexec.";
        QTest::newRow("wg-quick exit 1, last three lines")
            << "de1.conf" << true << "wg-quick fails"
            << "Could not connect: RTNETLINK answers: Operation not supported\nUnable to access interface: Protocol not "
               "supported\n[#] ip link delete dev de1";
        QTest::newRow("wg-quick exit 1, no text") << "de1.conf" << true << "wg-quick fails silently"
                                                  << "Could not connect: wg-quick failed with exit status 1.";
        QTest::newRow("openvpn options error") << "office.ovpn" << true << "openvpn fails"
                                               << "Could not connect: Options error: Unrecognized option or missing "
                                                  "parameter(s) in office.ovpn:3: bogus (2.6.3)\nUse --help for more "
                                                  "information.";
        QTest::newRow("openvpn daemon dies") << "office.ovpn" << true << "openvpn daemon dies"
                                             << "Could not connect: RESOLVE: Cannot resolve host address: vpn.invalid:1194 "
                                                "(Name or service not known)\nExiting due to fatal error";
        QTest::newRow("pkexec cancelled") << "de1.conf" << false << "pkexec cancel"
                                          << "Could not connect: the administrator password prompt was cancelled.";
        QTest::newRow("pkexec refused") << "de1.conf" << false << "pkexec deny"
                                        << "Could not connect: not authorised to run wg-quick as administrator.\nError "
                                           "executing command as another user: Not authorized\nThis incident has been "
                                           "reported.";
        QTest::newRow("bad file name, file unreadable")
            << "missing/orvexvpn-germany.conf" << true << ""
            << "Could not connect: could not read %1/missing/orvexvpn-germany.conf: No such file or directory";
    }
    void failuresAreReported()
    {
        QFETCH(QString, file);
        QFETCH(bool, root);
        QFETCH(QString, setup);
        QFETCH(QString, message);
        FakeTools tools;
        QTemporaryDir configs;
        const QString path = configs.filePath(file);
        if (!file.startsWith(u"missing/"))
            QVERIFY(put(path, "[Interface]\n"));
        VPNManager::Tools names;
        if (setup.startsWith(u"missing "))
            (setup.endsWith(u"wg-quick") ? names.wgQuick : setup.endsWith(u"openvpn") ? names.openvpn : names.pkexec) =
                u"/nonexistent/"_s + setup.mid(8);
        if (setup == u"wg-quick fails")
            tools.setResult(u"wg-quick"_s, 1, "[#] ip link add de1 type wireguard\nRTNETLINK answers: Operation not supported\n"
                                              "Unable to access interface: Protocol not supported\n[#] ip link delete dev de1\n\n");
        if (setup == u"wg-quick fails silently")
            tools.setResult(u"wg-quick"_s, 1);
        if (setup == u"openvpn fails")
            tools.setResult(u"openvpn"_s, 1, "Options error: Unrecognized option or missing parameter(s) in office.ovpn:3: "
                                             "bogus (2.6.3)\nUse --help for more information.\n");
        if (setup == u"openvpn daemon dies")
            tools.setOpenVpnDaemonFailure("RESOLVE: Cannot resolve host address: vpn.invalid:1194 (Name or service not "
                                          "known)\nExiting due to fatal error\n");
        if (setup == u"pkexec cancel")
            tools.setPkexecAnswer(FakeTools::PkexecAnswer::Cancel);
        if (setup == u"pkexec deny")
            tools.setPkexecAnswer(FakeTools::PkexecAnswer::Deny);
        VPNManager vpn(names);
        vpn.setRunsAsRoot(root);
        QSignalSpy errors(&vpn, &VPNManager::connectionError);
        vpn.connectVPN(path, file.endsWith(u".ovpn") ? u"openvpn"_s : u"wireguard"_s);
        QTRY_COMPARE_WITH_TIMEOUT(errors.size(), 1, 8000);
        QCOMPARE(errors.at(0).at(0).toString(), message.contains(u"%1") ? message.arg(configs.path()) : message);
        QTRY_VERIFY(!vpn.isBusy());
        QTest::qWait(300);
        QCOMPARE(errors.size(), 1);
        QVERIFY(!vpn.hasOwnTunnel());
        QVERIFY(QDir(vpn.runtimeFolder()).entryList({u"*.conf"_s}).isEmpty());
        for (const qint64 pid : tools.daemons())
            QTRY_VERIFY(!processRuns(pid));
    }

    // Through pkexec unless root; OpenVPN as a daemon with a private pid file
    // in the runtime folder, ended by exactly that pid after a restart of the
    // browser; WireGuard taken down by the configuration it came up with.
    // Another OpenVPN of the machine is never touched, and the daemon's
    // inherited output neither blocks nor kills it.
    void restartedBrowserEndsOnlyItsOwnTunnel_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("root");
        QTest::newRow("openvpn as root") << "office.ovpn" << true;
        QTest::newRow("openvpn through pkexec") << "office.ovpn" << false;
        QTest::newRow("wireguard as root") << "de1.conf" << true;
        QTest::newRow("wireguard through pkexec") << "de1.conf" << false;
    }
    void restartedBrowserEndsOnlyItsOwnTunnel()
    {
        QFETCH(QString, file);
        QFETCH(bool, root);
        FakeTools tools;
        QTemporaryDir configs;
        const QString path = configs.filePath(file), bin = tools.binDir();
        QVERIFY(put(path, "client\n"));
        const bool openvpn = file.endsWith(u".ovpn");
        // Someone else's OpenVPN.
        startOtherOpenVpn(tools, configs.filePath(u"other.pid"_s));
        QTRY_COMPARE(tools.daemons().size(), 1);
        const qint64 other = tools.daemons().first();
        tools.clearCalls();

        auto vpn = std::make_unique<VPNManager>();
        vpn->setRunsAsRoot(root);
        vpn->connectVPN(path, openvpn ? u"openvpn"_s : u"wireguard"_s);
        QTRY_VERIFY_WITH_TIMEOUT(vpn->hasOwnTunnel(), 8000);
        const QString folder = tools.runtimeDir() + u"/orvexbrowser"_s, pidFile = folder + u"/openvpn.pid"_s;
        QCOMPARE(vpn->runtimeFolder(), folder);
        QCOMPARE(modeOf(folder), 0700);
        QCOMPARE(modeOf(folder + u"/tunnels.json"_s), 0600);
        const QString up = openvpn ? u"openvpn --config %1 --daemon --writepid %2 --log %3"_s.arg(path, pidFile, folder + u"/openvpn.log"_s)
                                   : u"wg-quick up "_s + path;
        QCOMPARE(toolCalls(tools), (root ? QStringList{up} : QStringList{u"pkexec "_s + bin + u'/' + up, up}));
        qint64 ours = 0;
        if (openvpn) {
            QCOMPARE(modeOf(pidFile), 0600);
            QCOMPARE(tools.daemons().size(), 2);
            ours = tools.daemons().last();
            QCOMPARE(TunnelState::readPid(pidFile), pid_t(ours));
            QTest::qWait(1000); // it writes into its inherited output all along
            QVERIFY(processRuns(ours));
        }

        vpn.reset(); // the browser quits; the tunnel stays
        tools.setIpOutputFromSample(openvpn ? u"openvpn-tun-up"_s : u"wireguard-up"_s);
        tools.clearCalls();
        vpn = std::make_unique<VPNManager>();
        vpn->setRunsAsRoot(root);
        QVERIFY(vpn->isConnected() && vpn->hasOwnTunnel());
        QSignalSpy errors(vpn.get(), &VPNManager::connectionError);
        vpn->disconnectVPN();
        QVERIFY(!vpn->isConnected() && !vpn->isTrafficAllowed());
        tools.setIpOutputFromSample(u"host-no-tunnel"_s);
        QTRY_VERIFY_WITH_TIMEOUT(!vpn->isBusy(), 8000);
        const QString down = openvpn ? u"kill -TERM %1"_s.arg(ours) : u"wg-quick down "_s + path;
        const QString downTool = openvpn ? bin + u"/kill"_s : bin + u"/wg-quick"_s;
        QCOMPARE(toolCalls(tools),
                 (root ? QStringList{down} : QStringList{u"pkexec "_s + downTool + down.mid(down.indexOf(u' ')), down}));
        QCOMPARE(errors.size(), 0);
        QVERIFY(!vpn->hasOwnTunnel());
        if (openvpn)
            QVERIFY(!processRuns(ours));
        QVERIFY(processRuns(other));
    }

    // A tunnel the browser did not start is never touched; the user is told.
    // planted: a pid file of ours naming a process that is not our OpenVPN.
    void foreignTunnelIsLeftAlone_data()
    {
        QTest::addColumn<QString>("planted");
        QTest::newRow("nothing of ours recorded") << "";
        QTest::newRow("our record names another OpenVPN") << "other";
        QTest::newRow("our record names a pid that has ended") << "ended";
    }
    void foreignTunnelIsLeftAlone()
    {
        QFETCH(QString, planted);
        FakeTools tools;
        QTemporaryDir scratch;
        startOtherOpenVpn(tools, scratch.filePath(u"other.pid"_s));
        QTRY_COMPARE(tools.daemons().size(), 1);
        const qint64 other = tools.daemons().first();
        TunnelState state;
        if (!planted.isEmpty()) {
            QVERIFY(state.ensureFolder());
            QVERIFY(put(state.pidFilePath(), QByteArray::number(planted == u"other" ? other : 999999) + '\n'));
            state.openVpnStarted = true;
            QVERIFY(state.save());
        }
        tools.setIpOutputFromSample(u"openvpn-tun-up"_s);
        tools.clearCalls();
        VPNManager vpn;
        QVERIFY(vpn.isConnected());
        QSignalSpy errors(&vpn, &VPNManager::connectionError);
        vpn.disconnectVPN();
        QTRY_COMPARE_WITH_TIMEOUT(errors.size(), 1, 5000);
        QCOMPARE(errors.at(0).at(0).toString(), u"This tunnel was not started by OrvexBrowser"_s);
        QTRY_VERIFY(!vpn.isBusy());
        QTRY_VERIFY(vpn.isConnected());
        QCOMPARE(toolCalls(tools), QStringList());
        QVERIFY(processRuns(other));
        QVERIFY(!vpn.hasOwnTunnel());
    }

    // Never two of ours at once: Germany goes down before USA comes up,
    // also when USA is asked for while Germany is still coming up; when
    // Germany cannot be taken down, USA is not brought up at all.
    void switchingCountryTakesTheFirstDownFirst_data()
    {
        QTest::addColumn<double>("delay");
        QTest::addColumn<bool>("cancelDown");
        QTest::newRow("after the first is up") << 0.0 << false;
        QTest::newRow("while the first comes up") << 1.0 << false;
        QTest::newRow("take-down cancelled") << 0.0 << true;
    }
    void switchingCountryTakesTheFirstDownFirst()
    {
        QFETCH(double, delay);
        QFETCH(bool, cancelDown);
        FakeTools tools;
        TempDataDir dir;
        VPNManager vpn;
        vpn.setRunsAsRoot(!cancelDown);
        vpn.setStoredKeys(AccountServiceStub::goodKeys());
        tools.setDelay(u"wg-quick"_s, delay);
        tools.clearCalls();
        QSignalSpy errors(&vpn, &VPNManager::connectionError);
        const QString germany = dir.tempDir() + u"/orvex_de1.conf"_s, usa = dir.tempDir() + u"/orvex_us1.conf"_s;
        vpn.connectToCountry(u"Germany"_s);
        if (delay > 0)
            QTRY_COMPARE(tools.callsOf(u"wg-quick"_s).size(), 1);
        else
            QTRY_VERIFY(vpn.hasOwnTunnel());
        if (cancelDown)
            tools.setPkexecAnswer(FakeTools::PkexecAnswer::Cancel);
        vpn.connectToCountry(u"USA"_s);
        QTRY_VERIFY_WITH_TIMEOUT(!vpn.isBusy(), 8000);
        const QStringList calls = tools.callsOf(u"wg-quick"_s);
        if (cancelDown) {
            QCOMPARE(calls, (QStringList{u"wg-quick up "_s + germany}));
            QCOMPARE(errors.size(), 1);
            QCOMPARE(errors.at(0).at(0).toString(), u"Could not connect: the current tunnel could not be taken down: the "
                                                     "administrator password prompt was cancelled."_s);
            return;
        }
        QCOMPARE(calls, (QStringList{u"wg-quick up "_s + germany, u"wg-quick down "_s + germany, u"wg-quick up "_s + usa}));
        QCOMPARE(errors.size(), 0);
    }

    // wg-quick names the interface after the file: 1 to 15 of
    // [a-zA-Z0-9_=+.-] and ".conf". Other names get a usable one.
    void interfaceNameFromFile_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("usable");
        QTest::newRow("plain") << "/home/ann/de1.conf" << "de1" << "de1";
        QTest::newRow("15 characters") << "/x/abcdefghijklmno.conf" << "abcdefghijklmno" << "abcdefghijklmno";
        QTest::newRow("16 characters") << "/x/orvexvpn-germany.conf" << "" << "orvexvpn-german";
        QTest::newRow("every allowed sign") << "/x/a_b=c+d.e-f.conf" << "a_b=c+d.e-f" << "a_b=c+d.e-f";
        QTest::newRow("blank in the name") << "/x/my vpn.conf" << "" << "my_vpn";
        QTest::newRow("blank in the folder only") << "/my folder/wg0.conf" << "wg0" << "wg0";
        QTest::newRow("capital extension") << "/x/wg0.CONF" << "" << "wg0";
        QTest::newRow("no extension") << "/x/wg0" << "" << "wg0";
        QTest::newRow("non-ASCII letter") << "/x/Zürich.conf" << "" << "Z_rich";
        QTest::newRow("emoji") << "/x/\U0001F1E9\U0001F1EA.conf" << "" << "__";
        QTest::newRow("just the extension") << "/x/.conf" << "" << "orvexwg";
        QTest::newRow("dot") << "/x/..conf" << "" << "orvexwg";
        QTest::newRow("final line break") << "/x/wg0.conf\n" << "" << "wg0.conf_";
    }
    void interfaceNameFromFile()
    {
        QFETCH(QString, path);
        QTEST(WireGuardConfig::interfaceNameForFile(path), "name");
        const QString usable = WireGuardConfig::usableInterfaceName(path.section(u'/', -1));
        QTEST(usable, "usable");
        QCOMPARE(WireGuardConfig::interfaceNameForFile(u"/x/"_s + usable + u".conf"_s), usable);
    }

    // A name wg-quick refuses comes up as a private copy under a name it
    // takes, and the user is told which; the copy goes with the tunnel. A
    // link planted at the copy's name is not followed.
    void refusedNameComesUpAsACopy_data()
    {
        QTest::addColumn<bool>("planted");
        QTest::newRow("copy") << false;
        QTest::newRow("link planted at the copy's name") << true;
    }
    void refusedNameComesUpAsACopy()
    {
        QFETCH(bool, planted);
        FakeTools tools;
        QTemporaryDir configs;
        const QString path = configs.filePath(u"orvexvpn-germany.conf"_s), victim = configs.filePath(u"victim"_s);
        QVERIFY(put(path, "[Interface]\nPrivateKey = x\n", 0644));
        QVERIFY(put(victim, "precious"));
        VPNManager vpn;
        const QString copy = vpn.runtimeFolder() + u"/orvexvpn-german.conf"_s;
        if (planted) {
            QVERIFY(QDir().mkpath(vpn.runtimeFolder()));
            QVERIFY(QFile::link(victim, copy));
        }
        QSignalSpy notices(&vpn, &VPNManager::tunnelNotice), errors(&vpn, &VPNManager::connectionError);
        tools.clearCalls();
        vpn.connectVPN(path, u"wireguard"_s);
        QTRY_VERIFY(!vpn.isBusy());
        QCOMPARE(contents(victim), QByteArray("precious"));
        if (planted) {
            QCOMPARE(errors.size(), 1);
            QCOMPARE(errors.at(0).at(0).toString(), u"Could not connect: could not copy %1 to %2."_s.arg(path, copy));
            QCOMPARE(toolCalls(tools), QStringList());
            return;
        }
        QCOMPARE(notices.size(), 1);
        QCOMPARE(notices.at(0).at(0).toString(), u"wg-quick cannot name an interface after \"orvexvpn-germany.conf\": the "
                                                  "tunnel comes up as interface \"orvexvpn-german\"."_s);
        QCOMPARE(toolCalls(tools), QStringList{u"wg-quick up "_s + copy});
        QCOMPARE(contents(copy), contents(path));
        QCOMPARE(modeOf(copy), 0600);
        tools.setIpOutputFromSample(u"wireguard-up"_s);
        QTRY_VERIFY(vpn.isConnected());
        vpn.disconnectVPN();
        QTRY_VERIFY(!vpn.isBusy());
        QCOMPARE(tools.callsOf(u"wg-quick"_s).last(), u"wg-quick down "_s + copy);
        QVERIFY(!QFile::exists(copy));
        QCOMPARE(errors.size(), 0);
    }

    // Our OpenVPN: alive, named openvpn, started with our pid file.
    void recognisesOurOpenVpn_data()
    {
        QTest::addColumn<QByteArray>("stat");
        QTest::addColumn<QByteArray>("cmdline");
        QTest::addColumn<bool>("ours");
        const QByteArray args = QByteArrayList{"openvpn", "--config", "/x.ovpn", "--daemon", "--writepid", "/run/o/openvpn.pid", ""}.join('\0');
        QTest::newRow("ours") << QByteArray("4242 (openvpn) S 1 4242") << args << true;
        QTest::newRow("a zombie") << QByteArray("4242 (openvpn) Z 1 4242") << args << false;
        QTest::newRow("another program") << QByteArray("4242 (bash) S 1 4242") << args << false;
        QTest::newRow("a name made to look like it") << QByteArray("4242 (openvpn) S) S 1 4242") << args << false;
        QTest::newRow("another pid file") << QByteArray("4242 (openvpn) S 1 4242")
                                          << QByteArrayList{"openvpn", "--writepid", "/run/o/openvpn.pid.x", ""}.join('\0') << false;
        QTest::newRow("pid file only in the config") << QByteArray("4242 (openvpn) S 1 4242")
                                                     << QByteArrayList{"openvpn", "--config", "/run/o/openvpn.pid", ""}.join('\0') << false;
        QTest::newRow("gone") << QByteArray() << QByteArray() << false;
    }
    void recognisesOurOpenVpn()
    {
        QFETCH(QByteArray, stat);
        QFETCH(QByteArray, cmdline);
        QTEST(TunnelState::looksLikeOurOpenVpn(stat, cmdline, u"/run/o/openvpn.pid"_s), "ours");
    }

    // The commands a downloaded configuration would run as root, read the
    // way the tools read them.
    void commandLines_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("none") << "wireguard" << "[Interface]\nPrivateKey = k\nAddress = 10.0.0.2/32\n" << QStringList();
        QTest::newRow("all four, in order") << "wireguard"
                                            << "[Interface]\nPreUp = a\nPostUp = b\n[Peer]\nPreDown = c\nPostDown=d\n"
                                            << QStringList{"PreUp = a", "PostUp = b", "PreDown = c", "PostDown = d"};
        QTest::newRow("any letter case, blanks around") << "wireguard" << "  postup\t=  curl x | sh \r\n"
                                                        << QStringList{"postup = curl x | sh"};
        QTest::newRow("comment cuts the command") << "wireguard" << "PostUp = id # PostDown = rm -rf /\n# PreUp = y\n"
                                                  << QStringList{"PostUp = id"};
        QTest::newRow("equals sign inside the command") << "wireguard" << "PostUp = a=b sh\n" << QStringList{"PostUp = a=b sh"};
        QTest::newRow("key without equals sign") << "wireguard" << "PostUp\n" << QStringList{"PostUp = PostUp"};
        QTest::newRow("look-alike keys") << "wireguard" << "PostUpX = a\nPost Up = b\n" << QStringList();
        QTest::newRow("openvpn scripts") << "openvpn"
                                         << "client\nscript-security 2\n  up /tmp/x.sh\n# down /y\n;down /z\n--route-up \"/bin/sh -c id\"\nupdate 1\n"
                                         << QStringList{"script-security 2", "up /tmp/x.sh", "route-up \"/bin/sh -c id\""};
    }
    void commandLines()
    {
        QFETCH(QString, type);
        QFETCH(QString, text);
        QTEST(VPNConfigReview::commandLines(text, type), "lines");
    }

    // A file is recognised as downloaded by its recorded path, also through
    // a link; the warning lists the commands as text, cut where long.
    void downloadedConfigurationIsRecognised()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(u"de1.conf"_s), other = dir.filePath(u"other.conf"_s), alias = dir.filePath(u"alias.conf"_s);
        QVERIFY(put(file, "x") && put(other, "x") && QFile::link(file, alias));
        const QJsonArray history{QJsonObject{{u"path"_s, file}, {u"filename"_s, u"de1.conf"_s}}};
        QVERIFY(VPNConfigReview::isDownloaded(file, history));
        QVERIFY(VPNConfigReview::isDownloaded(alias, history));
        QVERIFY(VPNConfigReview::isDownloaded(dir.path() + u"/./de1.conf"_s, history));
        QVERIFY(!VPNConfigReview::isDownloaded(other, history));
        QVERIFY(!VPNConfigReview::isDownloaded(file, {}));

        QString text;
        for (int i = 0; i < 25; ++i)
            text += u"PostUp = <b>step %1</b>\u202Eevil\n"_s.arg(i);
        const QString warning = VPNConfigReview::downloadWarning(file, text, u"wireguard"_s);
        QVERIFY(warning.contains(u"\"de1.conf\" was downloaded by this browser."_s));
        QVERIFY(warning.contains(u"    PostUp = <b>step 19</b>\uFFFDevil\n    ... and 5 more\n"_s));
        QVERIFY(!warning.contains(u"step 20"_s));
        QVERIFY(VPNConfigReview::downloadWarning(file, std::nullopt, u"wireguard"_s).contains(u"could not be read"_s));
    }

    // Hung tools leave the event loop running, don't pile up, and are killed
    // at their bounds; only the first probe blocks, and briefly. The periodic
    // probe waits for a slow `ip` off the GUI thread. A manager destroyed
    // while a tool runs goes at once.
    void hungToolsNeverBlockTheWindow()
    {
        FakeTools tools;
        tools.setIpDelay(1.5);
        QElapsedTimer clock;
        clock.start();
        auto vpn = std::make_unique<VPNManager>();
        QVERIFY(clock.elapsed() < 2500);
        QSignalSpy probes(vpn.get(), &VPNManager::probeFinished);
        // The 2 s timer fires within the window; its probe takes 1.5 s.
        QVERIFY(longestStall(2000) < 300);
        QTRY_COMPARE_WITH_TIMEOUT(probes.size(), 1, 4000);

        vpn->setProbeTimeout(1500);
        vpn->setCommandTimeout(1500);
        tools.setIpDelay(30);
        QTRY_VERIFY(!vpn->isProbeRunning());
        tools.clearCalls();
        probes.clear();
        QSignalSpy status(vpn.get(), &VPNManager::statusChanged), errors(vpn.get(), &VPNManager::connectionError);
        for (int i = 0; i < 5; ++i)
            vpn->checkVPNStatus();
        QVERIFY(longestStall(700) < 300);
        QCOMPARE(tools.callsOf(u"ip"_s).size(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(probes.size(), 1, 4000);
        QCOMPARE(status.size(), 0); // a killed probe changes nothing

        tools.setDelay(u"wg-quick"_s, 5);
        tools.setIpDelay(0);
        vpn->connectVPN(u"/cfg/de1.conf"_s, u"wireguard"_s);
        QVERIFY(longestStall(700) < 300);
        QTRY_COMPARE_WITH_TIMEOUT(errors.size(), 1, 4000);
        QCOMPARE(errors.at(0).at(0).toString(), u"Could not connect: wg-quick did not finish in time and was stopped."_s);
        QVERIFY(!vpn->hasOwnTunnel());

        vpn->connectVPN(u"/cfg/de1.conf"_s, u"wireguard"_s);
        QTRY_VERIFY(!tools.callsOf(u"wg-quick"_s).isEmpty());
        clock.restart();
        vpn.reset();
        QVERIFY(clock.elapsed() < 1500);
    }

    // The server's configuration is written 0600 whatever the umask and then
    // brought up, and taken down at disconnect; or "Failed to generate
    // configuration." is given and nothing is written or started.
    // planted: what sits at the first server's path.
    void connectToCountry_data()
    {
        QTest::addColumn<QJsonObject>("keys");
        QTest::addColumn<QString>("planted");
        QTest::addColumn<bool>("accepted");
        const QJsonObject good = AccountServiceStub::goodKeys();
        QTest::newRow("own old file, world-readable") << good << "own" << true;
        QTest::newRow("symlink to a victim file") << good << "symlink" << false;
        QTest::newRow("malformed private key") << keysWith(AccountServiceStub::key('p'), u"abc"_s) << "" << false;
        QTest::newRow("address with a PostUp line")
            << keysWith(u"\"is1.vpn.example\""_s, u"\"1.2.3.4\\nPostUp = touch /tmp/x\""_s) << "" << false;
        QTest::newRow("path traversal id") << keysWith(u"\"id\":\"is1\""_s, u"\"id\":\"../../evil\""_s) << "" << false;
        QTest::newRow("id too long for an interface") << keysWith(u"\"id\":\"is1\""_s, u"\"id\":\"abcdefghij\""_s) << "" << false;
    }
    void connectToCountry()
    {
        QFETCH(QJsonObject, keys);
        QFETCH(QString, planted);
        QFETCH(bool, accepted);
        FakeTools tools; // first: its folder must not land in the test's temporary folder
        TempDataDir dir;
        const QString path = dir.tempDir() + u"/orvex_is1.conf"_s, victim = dir.path() + u"/victim"_s;
        QVERIFY(put(victim, "precious", 0644));
        if (planted == u"own")
            QVERIFY(put(path, "old", 0644));
        if (planted == u"symlink")
            QVERIFY(QFile::link(victim, path));
        VPNManager vpn;
        vpn.setStoredKeys(keys);
        tools.clearCalls();
        QSignalSpy errors(&vpn, &VPNManager::connectionError);
        const mode_t oldMask = ::umask(0);
        vpn.connectToCountry(u"icEL"_s);
        ::umask(oldMask);
        QCOMPARE(errors.value(0).value(0).toString(), accepted ? QString() : u"Failed to generate configuration."_s);
        if (!accepted)
            QTest::qWait(100);
        QTRY_COMPARE(toolCalls(tools), accepted ? QStringList{u"wg-quick up "_s + path} : QStringList());
        QCOMPARE(QDir(dir.tempDir()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System),
                 accepted || !planted.isEmpty() ? QStringList{u"orvex_is1.conf"_s} : QStringList());
        QVERIFY(!QFileInfo::exists(dir.path() + u"/evil.conf"_s));
        QCOMPARE(contents(victim), QByteArray("precious"));
        if (accepted) {
            QVERIFY(contents(path).contains("\nEndpoint = is1.vpn.example:51820\n"));
            QCOMPARE(modeOf(path), 0600);
            QTRY_VERIFY(vpn.hasOwnTunnel());
            tools.clearCalls();
            vpn.disconnectVPN();
            QTRY_VERIFY(!vpn.isBusy());
            QCOMPARE(toolCalls(tools), QStringList{u"wg-quick down "_s + path});
        }
    }
};

QTEST_GUILESS_MAIN(TestVpnManager)
#include "tst_vpnmanager.moc"
