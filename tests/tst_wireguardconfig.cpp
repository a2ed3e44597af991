#include "WireGuardConfig.h"

#include <QtTest>

class TestWireGuardConfig : public QObject
{
    Q_OBJECT
    enum Kind { Key, Endpoint, ServerId };

private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void validators_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("valid");
        auto row = [](int kind, const char *name, const QString &value, bool valid) {
            QTest::addRow("%s: %s", kind == Key ? "key" : kind == Endpoint ? "endpoint" : "server id", name)
                << kind << value << valid;
        };
        const QString good = QString::fromLatin1(QByteArray(32, 'k').toBase64());
        row(Key, "32 bytes", good, true);
        row(Key, "one short", good.mid(1), false);
        row(Key, "no padding", good.left(43) + QLatin1Char('A'), false);
        row(Key, "stray low bits", QStringLiteral("yAnz5TF+lXXJte14tji3zlMNq+hd2rYUIgJBgB3fBmn="), false);
        row(Key, "trailing line", good + QStringLiteral("\nPostUp = id"), false);
        row(Endpoint, "ipv4", QStringLiteral("203.0.113.5:51820"), true);
        row(Endpoint, "ipv6 bracketed", QStringLiteral("[2001:db8::1]:51820"), true);
        row(Endpoint, "ipv6 bare", QStringLiteral("2001:db8::1:51820"), false);
        row(Endpoint, "port 0", QStringLiteral("203.0.113.5:0"), false);
        row(Endpoint, "port 65536", QStringLiteral("203.0.113.5:65536"), false);
        row(Endpoint, "no port", QStringLiteral("203.0.113.5"), false);
        row(Endpoint, "signed port", QStringLiteral("203.0.113.5:+80"), false);
        row(Endpoint, "injected line", QStringLiteral("203.0.113.5:51820\nPostUp = touch /tmp/x"), false);
        row(ServerId, "plain", QStringLiteral("de1"), true);
        row(ServerId, "nine chars: interface name of 15", QStringLiteral("abcdefghi"), true);
        row(ServerId, "ten chars: interface name of 16", QStringLiteral("abcdefghij"), false);
        row(ServerId, "traversal", QStringLiteral("../../evil"), false);
        row(ServerId, "non-ascii letter", QStringLiteral("dé1"), false);
    }
    void validators()
    {
        QFETCH(int, kind);
        QFETCH(QString, value);
        const bool valid = kind == Key ? WireGuardConfig::isValidKey(value)
                         : kind == Endpoint ? WireGuardConfig::isValidEndpoint(value)
                                            : WireGuardConfig::isValidServerId(value);
        QTEST(valid, "valid");
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
        QTest::newRow("octet 256") << "10.0.0.256" << false << false << false;
        QTest::newRow("leading zero") << "10.0.0.07" << false << false << false;
        QTest::newRow("host name") << "de1.vpn.example" << false << false << true;
        QTest::newRow("underscore") << "a_b.example" << false << false << false;
        QTest::newRow("blank") << " 10.0.0.1" << false << false << false;
        QTest::newRow("newline") << "10.0.0.1\nPostUp = id" << false << false << false;
        QTest::newRow("comment") << "10.0.0.1#x" << false << false << false;
    }
    void addresses()
    {
        QFETCH(QString, value);
        QTEST(WireGuardConfig::isValidClientAddress(value, false), "clientPlain");
        QTEST(WireGuardConfig::isValidClientAddress(value, true), "clientPrefixed");
        QTEST(WireGuardConfig::isValidHost(value), "host");
    }

    // Both templates, byte for byte.
    void templates_data()
    {
        QTest::addColumn<bool>("fromAccount");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("expected"); // Address and Endpoint values
        QTest::newRow("server, host name") << false << "10.66.0.7" << "is1.vpn.example" << "10.66.0.7/32|is1.vpn.example:51820";
        QTest::newRow("server, ipv6 gets brackets") << false << "10.66.0.7" << "2001:db8::20" << "10.66.0.7/32|[2001:db8::20]:51820";
        QTest::newRow("account") << true << "10.66.0.7/24" << "de1.vpn.example:443" << "10.66.0.7/24|de1.vpn.example:443";
    }
    void templates()
    {
        QFETCH(bool, fromAccount);
        QFETCH(QString, address);
        QFETCH(QString, server);
        QFETCH(QString, expected);
        const QString priv = QString::fromLatin1(QByteArray(32, 'p').toBase64());
        const QString pub = QString::fromLatin1(QByteArray(32, 's').toBase64());
        const std::optional<QString> text = fromAccount ? WireGuardConfig::fromAccount(priv, address, pub, server)
                                                        : WireGuardConfig::forServer(priv, address, pub, server);
        QVERIFY(text);
        QCOMPARE(*text, QStringLiteral("[Interface]\nPrivateKey = ") + priv + QStringLiteral("\nAddress = ")
                     + expected.section(QLatin1Char('|'), 0, 0) + QStringLiteral("\nDNS = 1.1.1.1\n\n[Peer]\nPublicKey = ")
                     + pub + QStringLiteral("\nEndpoint = ") + expected.section(QLatin1Char('|'), 1)
                     + QStringLiteral("\nAllowedIPs = 0.0.0.0/0\nPersistentKeepalive = 25\n"));
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
