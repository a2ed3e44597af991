#include "WireGuardConfig.h"

#include <QtTest>

class TestWireGuardConfig : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void keys_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<bool>("valid");
        const QString good = QString::fromLatin1(QByteArray(32, 'k').toBase64());
        QTest::newRow("32 bytes") << good << true;
        QTest::newRow("real wg key") << QStringLiteral("yAnz5TF+lXXJte14tji3zlMNq+hd2rYUIgJBgB3fBmk=") << true;
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("one short") << good.mid(1) << false;
        QTest::newRow("no padding") << good.left(43) + QLatin1Char('A') << false;
        QTest::newRow("stray low bits") << QStringLiteral("yAnz5TF+lXXJte14tji3zlMNq+hd2rYUIgJBgB3fBmn=") << false;
        QTest::newRow("url-safe alphabet") << QString(good).replace(0, 1, QLatin1Char('-')) << false;
        QTest::newRow("newline inside") << good.left(20) + QLatin1Char('\n') + good.mid(21) << false;
        QTest::newRow("trailing line") << good + QStringLiteral("\nPostUp = id") << false;
    }
    void keys()
    {
        QFETCH(QString, key);
        QFETCH(bool, valid);
        QCOMPARE(WireGuardConfig::isValidKey(key), valid);
    }

    void addresses_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("clientPlain");   // client address, no prefix
        QTest::addColumn<bool>("clientPrefixed"); // client address as sent
        QTest::addColumn<bool>("host");
        QTest::newRow("ipv4") << "10.66.0.7" << true << true << true;
        QTest::newRow("ipv4 /32") << "10.66.0.7/32" << false << true << false;
        QTest::newRow("ipv4 /33") << "10.66.0.7/33" << false << false << false;
        QTest::newRow("ipv6") << "fd00::7" << true << true << true;
        QTest::newRow("ipv6 /128") << "fd00::7/128" << false << true << false;
        QTest::newRow("short ipv4") << "10.1" << false << false << false;
        QTest::newRow("octet 256") << "10.0.0.256" << false << false << false;
        QTest::newRow("leading zero") << "10.0.0.07" << false << false << false;
        QTest::newRow("host name") << "de1.vpn.example" << false << false << true;
        QTest::newRow("single label") << "localhost" << false << false << true;
        QTest::newRow("hyphen at start") << "-x.example" << false << false << false;
        QTest::newRow("underscore") << "a_b.example" << false << false << false;
        QTest::newRow("empty") << "" << false << false << false;
        QTest::newRow("blank") << " 10.0.0.1" << false << false << false;
        QTest::newRow("newline") << "10.0.0.1\nPostUp = id" << false << false << false;
        QTest::newRow("tab") << "vpn\texample" << false << false << false;
        QTest::newRow("path") << "../etc" << false << false << false;
        QTest::newRow("comment") << "10.0.0.1#x" << false << false << false;
    }
    void addresses()
    {
        QFETCH(QString, value);
        QFETCH(bool, clientPlain);
        QFETCH(bool, clientPrefixed);
        QFETCH(bool, host);
        QCOMPARE(WireGuardConfig::isValidClientAddress(value, false), clientPlain);
        QCOMPARE(WireGuardConfig::isValidClientAddress(value, true), clientPrefixed);
        QCOMPARE(WireGuardConfig::isValidHost(value), host);
    }

    void endpoints_data()
    {
        QTest::addColumn<QString>("endpoint");
        QTest::addColumn<bool>("valid");
        QTest::newRow("ipv4") << "203.0.113.5:51820" << true;
        QTest::newRow("host") << "de1.vpn.example:443" << true;
        QTest::newRow("ipv6 bracketed") << "[2001:db8::1]:51820" << true;
        QTest::newRow("ipv6 bare") << "2001:db8::1:51820" << false;
        QTest::newRow("port 0") << "203.0.113.5:0" << false;
        QTest::newRow("port 65535") << "203.0.113.5:65535" << true;
        QTest::newRow("port 65536") << "203.0.113.5:65536" << false;
        QTest::newRow("no port") << "203.0.113.5" << false;
        QTest::newRow("empty port") << "203.0.113.5:" << false;
        QTest::newRow("no host") << ":51820" << false;
        QTest::newRow("signed port") << "203.0.113.5:+80" << false;
        QTest::newRow("injected line") << "203.0.113.5:51820\nPostUp = touch /tmp/x" << false;
        QTest::newRow("carriage return") << "203.0.113.5:51820\r" << false;
    }
    void endpoints()
    {
        QFETCH(QString, endpoint);
        QFETCH(bool, valid);
        QCOMPARE(WireGuardConfig::isValidEndpoint(endpoint), valid);
    }

    void serverIds_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<bool>("valid");
        QTest::newRow("plain") << "de1" << true;
        QTest::newRow("dash and underscore") << "us-e_2" << true;
        QTest::newRow("nine chars: interface name of 15") << "abcdefghi" << true;
        QTest::newRow("ten chars: interface name of 16") << "abcdefghij" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("traversal") << "../../evil" << false;
        QTest::newRow("slash") << "a/b" << false;
        QTest::newRow("dot") << "a.b" << false;
        QTest::newRow("blank") << "a b" << false;
        QTest::newRow("non-ascii letter") << "dé1" << false;
        QTest::newRow("newline") << "a\nb" << false;
    }
    void serverIds()
    {
        QFETCH(QString, id);
        QFETCH(bool, valid);
        QCOMPARE(WireGuardConfig::isValidServerId(id), valid);
    }

    void serverTemplate_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("endpointLine");
        QTest::newRow("host name") << "is1.vpn.example" << "Endpoint = is1.vpn.example:51820\n";
        QTest::newRow("ipv4") << "198.51.100.20" << "Endpoint = 198.51.100.20:51820\n";
        QTest::newRow("ipv6 gets brackets") << "2001:db8::20" << "Endpoint = [2001:db8::20]:51820\n";
    }
    void serverTemplate()
    {
        QFETCH(QString, address);
        QFETCH(QString, endpointLine);
        const QString priv = QString::fromLatin1(QByteArray(32, 'p').toBase64());
        const QString pub = QString::fromLatin1(QByteArray(32, 's').toBase64());
        const std::optional<QString> text = WireGuardConfig::forServer(priv, QStringLiteral("10.66.0.7"), pub, address);
        QVERIFY(text);
        QCOMPARE(*text, QStringLiteral("[Interface]\nPrivateKey = ") + priv
                     + QStringLiteral("\nAddress = 10.66.0.7/32\nDNS = 1.1.1.1\n\n[Peer]\nPublicKey = ") + pub
                     + QStringLiteral("\n") + endpointLine
                     + QStringLiteral("AllowedIPs = 0.0.0.0/0\nPersistentKeepalive = 25\n"));
    }

    void accountTemplate()
    {
        const QString priv = QString::fromLatin1(QByteArray(32, 'p').toBase64());
        const QString pub = QString::fromLatin1(QByteArray(32, 's').toBase64());
        const std::optional<QString> text = WireGuardConfig::fromAccount(priv, QStringLiteral("10.66.0.7/24"), pub,
                                                                         QStringLiteral("de1.vpn.example:443"));
        QVERIFY(text);
        QCOMPARE(*text, QStringLiteral("[Interface]\nPrivateKey = ") + priv
                     + QStringLiteral("\nAddress = 10.66.0.7/24\nDNS = 1.1.1.1\n\n[Peer]\nPublicKey = ") + pub
                     + QStringLiteral("\nEndpoint = de1.vpn.example:443\nAllowedIPs = 0.0.0.0/0\nPersistentKeepalive = 25\n"));
    }

    // Any single unsafe value refuses the whole configuration.
    void unsafeValuesRefused_data()
    {
        QTest::addColumn<int>("field");
        QTest::addColumn<QString>("value");
        const char *fields[] = {"private key", "client address", "public key", "server"};
        const QStringList bad = {QString(), QStringLiteral("x\nPostUp = id"), QStringLiteral("%1"),
                                 QStringLiteral("10.0.0.1 #")};
        for (int f = 0; f < 4; ++f)
            for (const QString &v : bad)
                QTest::addRow("%s = %s", fields[f], qPrintable(QString(v).replace(QLatin1Char('\n'), QStringLiteral("\\n"))))
                    << f << v;
    }
    void unsafeValuesRefused()
    {
        QFETCH(int, field);
        QFETCH(QString, value);
        QStringList v = {QString::fromLatin1(QByteArray(32, 'p').toBase64()), QStringLiteral("10.66.0.7"),
                         QString::fromLatin1(QByteArray(32, 's').toBase64()), QStringLiteral("198.51.100.20")};
        v[field] = value;
        QVERIFY(!WireGuardConfig::forServer(v[0], v[1], v[2], v[3]));
        v[3] += QStringLiteral(":51820");
        QVERIFY(!WireGuardConfig::fromAccount(v[0], v[1], v[2], v[3]));
    }
};

QTEST_GUILESS_MAIN(TestWireGuardConfig)
#include "tst_wireguardconfig.moc"
