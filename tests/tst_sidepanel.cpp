#include "ServiceEndpoints.h"
#include "SidePanel.h"
#include "TestHttpServer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QTextBlock>
#include <QTextEdit>
#include <QtTest>

namespace {
// One entry per bubble, white space collapsed as the view renders it.
QStringList bubbles(const SidePanel &panel)
{
    QStringList out;
    for (QTextBlock b = panel.conversationView()->document()->begin(); b.isValid(); b = b.next()) {
        const QString t = b.text().simplified();
        if (!t.isEmpty())
            out << t;
    }
    return out;
}

QByteArray ollamaAnswer(const QString &text)
{
    return QJsonDocument(QJsonObject{{QStringLiteral("model"), QStringLiteral("llama3")},
                                     {QStringLiteral("response"), text},
                                     {QStringLiteral("done"), true}})
        .toJson(QJsonDocument::Compact);
}

TestHttpServer::Response jsonResponse(const QByteArray &body, int status = 200, int delayMs = 0)
{
    TestHttpServer::Response r;
    r.status = status;
    r.contentType = "application/json";
    r.body = body;
    r.delayMs = delayMs;
    return r;
}

const QString unreachable = SidePanel::unreachableText().simplified();
}

class TestSidePanel : public QObject
{
    Q_OBJECT

    TestHttpServer *server = nullptr;

    void ask(SidePanel &panel, const QString &question)
    {
        panel.questionInput()->setText(question);
        QTest::keyClick(panel.questionInput(), Qt::Key_Return);
    }

private Q_SLOTS:
    void init()
    {
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
        server = new TestHttpServer(this);
        QVERIFY(server->listen());
        ServiceEndpoints::setOllamaGenerateUrl(server->url(QStringLiteral("/api/generate")));
    }
    void cleanup()
    {
        delete server;
        server = nullptr;
        ServiceEndpoints::reset();
    }

    void startsWithGreetingOnly()
    {
        SidePanel panel(nullptr);
        QCOMPARE(bubbles(panel), QStringList{SidePanel::greetingText()});
        QCOMPARE(panel.width(), 350);
    }

    void requestIsOneNonStreamingGenerate()
    {
        server->route("/api/generate", [](const TestHttpServer::Request &) {
            return jsonResponse(ollamaAnswer(QStringLiteral("Paris.")));
        });
        SidePanel panel(nullptr);
        panel.questionInput()->setText(QStringLiteral("  Capital of \"France\"?\t"));
        panel.sendControl()->click();
        QVERIFY(panel.questionInput()->text().isEmpty());
        QTRY_COMPARE(bubbles(panel).size(), 3);

        QCOMPARE(server->requests().size(), 1);
        const TestHttpServer::Request req = server->requests().first();
        QCOMPARE(req.method, QByteArray("POST"));
        QCOMPARE(req.path, QByteArray("/api/generate"));
        QCOMPARE(req.header("content-type"), QByteArray("application/json"));
        QCOMPARE(req.body, QByteArray("{\n"
                                      "    \"model\": \"llama3\",\n"
                                      "    \"prompt\": \"Capital of \\\"France\\\"?\",\n"
                                      "    \"stream\": false\n"
                                      "}\n"));
        QCOMPARE(bubbles(panel), (QStringList{SidePanel::greetingText(), QStringLiteral("Capital of \"France\"?"),
                                              QStringLiteral("Paris.")}));
    }

    void answerShown_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("shown");
        const QString empty = SidePanel::emptyAnswerText();
        QTest::newRow("answer") << ollamaAnswer(QStringLiteral("**Hi** there")) << 200 << QStringLiteral("**Hi** there");
        QTest::newRow("html answer literal") << ollamaAnswer(QStringLiteral("<b>x</b> & <script>y</script>"))
                                             << 200 << QStringLiteral("<b>x</b> & <script>y</script>");
        QTest::newRow("empty object") << QByteArray("{}") << 200 << empty;
        QTest::newRow("empty response") << ollamaAnswer(QString()) << 200 << empty;
        QTest::newRow("number response") << QByteArray("{\"response\": 42}") << 200 << empty;
        QTest::newRow("array body") << QByteArray("[\"response\"]") << 200 << empty;
        QTest::newRow("not json") << QByteArray("<html>oops</html>") << 200 << empty;
        QTest::newRow("empty body") << QByteArray() << 200 << empty;
        QTest::newRow("model missing 404") << QByteArray("{\"error\":\"model 'llama3' not found\"}") << 404 << unreachable;
        QTest::newRow("server error 500") << ollamaAnswer(QStringLiteral("ignored")) << 500 << unreachable;
        QTest::newRow("redirect not followed") << QByteArray() << 302 << unreachable;
    }
    void answerShown()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(QString, shown);
        server->route("/api/generate", [=](const TestHttpServer::Request &) {
            TestHttpServer::Response r = jsonResponse(body, status);
            if (status == 302)
                r.headers.append({"Location", server->url(QStringLiteral("/elsewhere")).toEncoded()});
            return r;
        });
        server->setPage("/elsewhere", ollamaAnswer(QStringLiteral("followed")), "application/json");
        SidePanel panel(nullptr);
        ask(panel, QStringLiteral("q"));
        QTRY_COMPARE(bubbles(panel).size(), 3);
        QCOMPARE(bubbles(panel).last(), shown);
        QCOMPARE(server->requestCount("/elsewhere"), 0);
    }

    void questionHtmlShownLiterally()
    {
        server->route("/api/generate", [](const TestHttpServer::Request &) { return jsonResponse("{}"); });
        SidePanel panel(nullptr);
        const QString q = QStringLiteral("<img src=x onerror=alert(1)> & <i>\"hi\"</i>");
        ask(panel, q);
        QCOMPARE(bubbles(panel).value(1), q);
        QVERIFY(!panel.conversationView()->toHtml().contains(QStringLiteral("<img")));
        QTRY_COMPARE(bubbles(panel).size(), 3);
    }

    void oversizedAnswerIsCut()
    {
        // Far more than the view should ever hold, but under the byte cap.
        const QString huge(SidePanel::MaxShownChars * 4, QLatin1Char('a'));
        QCOMPARE(SidePanel::answerFromBody(ollamaAnswer(huge)).size(), SidePanel::MaxShownChars + 1);
        // Over the byte cap: dropped unread, the transfer is aborted.
        server->route("/api/generate", [](const TestHttpServer::Request &) {
            return jsonResponse(ollamaAnswer(QString(SidePanel::MaxReplyBytes + 10, QLatin1Char('b'))));
        });
        SidePanel panel(nullptr);
        ask(panel, QStringLiteral("flood me"));
        QTRY_COMPARE(bubbles(panel).size(), 3);
        QCOMPARE(bubbles(panel).last(), SidePanel::emptyAnswerText());
    }

    void serverDown()
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        const quint16 closedPort = probe.serverPort();
        probe.close();
        ServiceEndpoints::setOllamaGenerateUrl(QUrl(QStringLiteral("http://127.0.0.1:%1/api/generate").arg(closedPort)));
        SidePanel panel(nullptr);
        ask(panel, QStringLiteral("anyone?"));
        QTRY_COMPARE(bubbles(panel).size(), 3);
        QCOMPARE(bubbles(panel).mid(1), (QStringList{QStringLiteral("anyone?"), unreachable}));
    }

    void stalledServerTimesOut()
    {
        server->route("/api/generate", [](const TestHttpServer::Request &) {
            return jsonResponse(ollamaAnswer(QStringLiteral("too late")), 200, 3000);
        });
        SidePanel panel(nullptr);
        QCOMPARE(panel.transferTimeout(), 120 * 1000);
        panel.setTransferTimeout(200);
        ask(panel, QStringLiteral("slow?"));
        QTRY_COMPARE_WITH_TIMEOUT(bubbles(panel).size(), 3, 2500);
        QCOMPARE(bubbles(panel).last(), unreachable);
    }

    void blankInputSendsNothing_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("viaButton");
        QTest::newRow("empty, Return") << QString() << false;
        QTest::newRow("blanks, Return") << QStringLiteral("  \t ") << false;
        QTest::newRow("blanks, button") << QStringLiteral("   ") << true;
    }
    void blankInputSendsNothing()
    {
        QFETCH(QString, text);
        QFETCH(bool, viaButton);
        server->route("/api/generate", [](const TestHttpServer::Request &) { return jsonResponse("{}"); });
        SidePanel panel(nullptr);
        panel.questionInput()->setText(text);
        if (viaButton)
            panel.sendControl()->click();
        else
            QTest::keyClick(panel.questionInput(), Qt::Key_Return);
        QCOMPARE(panel.questionInput()->text(), text);
        // A real question afterwards proves nothing earlier was queued.
        ask(panel, QStringLiteral("real"));
        QTRY_COMPARE(server->requests().size(), 1);
        QTRY_COMPARE(bubbles(panel).size(), 3);
        QCOMPARE(server->requests().size(), 1);
    }

    void clearingKeepsRequestsInFlight()
    {
        server->route("/api/generate", [](const TestHttpServer::Request &) {
            return jsonResponse(ollamaAnswer(QStringLiteral("late answer")), 200, 300);
        });
        SidePanel panel(nullptr);
        ask(panel, QStringLiteral("first"));
        QTRY_COMPARE(server->requests().size(), 1);
        panel.clearControl()->click();
        QCOMPARE(bubbles(panel), QStringList{SidePanel::clearedText()});
        QTRY_COMPARE(bubbles(panel), (QStringList{SidePanel::clearedText(), QStringLiteral("late answer")}));
        panel.onClearChat();
        QCOMPARE(bubbles(panel), QStringList{SidePanel::clearedText()});
    }

    void answersArriveInFinishingOrder()
    {
        server->route("/api/generate", [](const TestHttpServer::Request &req) {
            const QString prompt = QJsonDocument::fromJson(req.body).object().value(QStringLiteral("prompt")).toString();
            const bool slow = prompt == QLatin1String("slow");
            return jsonResponse(ollamaAnswer(QStringLiteral("re: ") + prompt), 200, slow ? 600 : 50);
        });
        SidePanel panel(nullptr);
        ask(panel, QStringLiteral("slow"));
        ask(panel, QStringLiteral("fast"));
        QTRY_COMPARE(bubbles(panel).size(), 5);
        QCOMPARE(bubbles(panel), (QStringList{SidePanel::greetingText(), QStringLiteral("slow"), QStringLiteral("fast"),
                                              QStringLiteral("re: fast"), QStringLiteral("re: slow")}));
        QCOMPARE(server->requests().size(), 2);
    }

    void panelDestroyedWhileWaiting()
    {
        server->route("/api/generate", [](const TestHttpServer::Request &) {
            return jsonResponse(ollamaAnswer(QStringLiteral("nobody listens")), 200, 200);
        });
        auto *panel = new SidePanel(nullptr);
        ask(*panel, QStringLiteral("bye"));
        QTRY_COMPARE(server->requests().size(), 1);
        delete panel;
        QTest::qWait(400); // the late answer must find nothing to crash into
    }
};

QTEST_MAIN(TestSidePanel)
#include "tst_sidepanel.moc"
