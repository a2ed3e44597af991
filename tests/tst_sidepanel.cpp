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

    static void ask(SidePanel &panel, const QString &question)
    {
        panel.questionInput()->setText(question);
        QTest::keyClick(panel.questionInput(), Qt::Key_Return);
    }
    void answerWith(const QString &text, int delayMs = 0)
    {
        server->route("/api/generate", [=](const TestHttpServer::Request &) {
            return jsonResponse(ollamaAnswer(text), 200, delayMs);
        });
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
        ServiceEndpoints::reset();
    }

    void requestIsOneNonStreamingGenerate()
    {
        answerWith(QStringLiteral("Paris."));
        SidePanel panel(nullptr);
        panel.questionInput()->setText(QStringLiteral("  Capital of \"France\"?\t"));
        panel.sendControl()->click();
        QVERIFY(panel.questionInput()->text().isEmpty());
        QTRY_COMPARE(bubbles(panel).size(), 3);
        QCOMPARE(bubbles(panel), (QStringList{SidePanel::greetingText(), "Capital of \"France\"?", "Paris."}));
        QCOMPARE(server->requests().size(), 1);
        const TestHttpServer::Request req = server->requests().first();
        QCOMPARE(req.method, QByteArray("POST"));
        QCOMPARE(req.path, QByteArray("/api/generate"));
        QCOMPARE(req.header("content-type"), QByteArray("application/json"));
        QCOMPARE(req.body, QByteArray("{\n    \"model\": \"llama3\",\n    \"prompt\": \"Capital of \\\"France\\\"?\",\n"
                                      "    \"stream\": false\n}\n"));
    }

    // A null body with status 0: nothing listens.
    void answerShown_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("shown");
        const QString empty = SidePanel::emptyAnswerText();
        const QString html = QStringLiteral("<b>x</b> & <script>y</script>");
        QTest::newRow("answer") << ollamaAnswer(QStringLiteral("**Hi** there")) << 200 << QStringLiteral("**Hi** there");
        QTest::newRow("html answer literal") << ollamaAnswer(html) << 200 << html;
        QTest::newRow("empty object") << QByteArray("{}") << 200 << empty;
        QTest::newRow("empty response") << ollamaAnswer(QString()) << 200 << empty;
        QTest::newRow("number response") << QByteArray("{\"response\": 42}") << 200 << empty;
        QTest::newRow("array body") << QByteArray("[\"response\"]") << 200 << empty;
        QTest::newRow("not json") << QByteArray("<html>oops</html>") << 200 << empty;
        QTest::newRow("empty body") << QByteArray("") << 200 << empty;
        // Over the byte cap: dropped unread.
        QTest::newRow("flood") << ollamaAnswer(QString(SidePanel::MaxReplyBytes + 10, QLatin1Char('b'))) << 200 << empty;
        QTest::newRow("model missing 404") << QByteArray("{\"error\":\"model 'llama3' not found\"}") << 404 << unreachable;
        QTest::newRow("server error 500") << ollamaAnswer(QStringLiteral("ignored")) << 500 << unreachable;
        QTest::newRow("redirect not followed") << QByteArray("") << 302 << unreachable;
        QTest::newRow("server down") << QByteArray() << 0 << unreachable;
    }
    void answerShown()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        server->route("/api/generate", [=](const TestHttpServer::Request &) {
            TestHttpServer::Response r = jsonResponse(body, status);
            if (status == 302)
                r.headers.append({"Location", server->url(QStringLiteral("/elsewhere")).toEncoded()});
            return r;
        });
        server->setPage("/elsewhere", ollamaAnswer(QStringLiteral("followed")), "application/json");
        if (status == 0) { // a port that was just free
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
            ServiceEndpoints::setOllamaGenerateUrl(QUrl(QStringLiteral("http://127.0.0.1:%1/api/generate").arg(probe.serverPort())));
        } // closed here
        SidePanel panel(nullptr);
        ask(panel, QStringLiteral("q"));
        QTRY_COMPARE(bubbles(panel).size(), 3);
        QCOMPARE(bubbles(panel).value(1), QStringLiteral("q"));
        QTEST(bubbles(panel).last(), "shown");
        QCOMPARE(server->requestCount("/elsewhere"), 0);
    }

    void questionHtmlShownLiterally()
    {
        answerWith(QString());
        SidePanel panel(nullptr);
        const QString q = QStringLiteral("<img src=x onerror=alert(1)> & <i>\"hi\"</i>");
        ask(panel, q);
        QCOMPARE(bubbles(panel).value(1), q);
        QVERIFY(!panel.conversationView()->toHtml().contains(QStringLiteral("<img")));
        QTRY_COMPARE(bubbles(panel).size(), 3);
    }

    void longAnswerIsCut()
    {
        const QString huge(SidePanel::MaxShownChars * 4, QLatin1Char('a'));
        QCOMPARE(SidePanel::answerFromBody(ollamaAnswer(huge)).size(), SidePanel::MaxShownChars + 1);
    }

    void stalledServerTimesOut()
    {
        answerWith(QStringLiteral("too late"), 3000);
        SidePanel panel(nullptr);
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
        answerWith(QString());
        SidePanel panel(nullptr);
        panel.questionInput()->setText(text);
        if (viaButton)
            panel.sendControl()->click();
        else
            QTest::keyClick(panel.questionInput(), Qt::Key_Return);
        QCOMPARE(panel.questionInput()->text(), text);
        // A real question afterwards proves nothing earlier was queued.
        ask(panel, QStringLiteral("real"));
        QTRY_COMPARE(bubbles(panel).size(), 3);
        QCOMPARE(server->requests().size(), 1);
    }

    void clearingKeepsRequestsInFlight()
    {
        answerWith(QStringLiteral("late answer"), 300);
        SidePanel panel(nullptr);
        ask(panel, QStringLiteral("first"));
        QTRY_COMPARE(server->requests().size(), 1);
        panel.clearControl()->click();
        QCOMPARE(bubbles(panel), QStringList{SidePanel::clearedText()});
        QTRY_COMPARE(bubbles(panel), (QStringList{SidePanel::clearedText(), "late answer"}));
    }

    void answersArriveInFinishingOrder()
    {
        server->route("/api/generate", [](const TestHttpServer::Request &req) {
            const QString prompt = QJsonDocument::fromJson(req.body).object().value(QStringLiteral("prompt")).toString();
            return jsonResponse(ollamaAnswer(QStringLiteral("re: ") + prompt), 200, prompt == QLatin1String("slow") ? 600 : 50);
        });
        SidePanel panel(nullptr);
        ask(panel, QStringLiteral("slow"));
        ask(panel, QStringLiteral("fast"));
        QTRY_COMPARE(bubbles(panel).size(), 5);
        QCOMPARE(bubbles(panel), (QStringList{SidePanel::greetingText(), "slow", "fast", "re: fast", "re: slow"}));
        QCOMPARE(server->requests().size(), 2);
    }

    void panelDestroyedWhileWaiting()
    {
        answerWith(QStringLiteral("nobody listens"), 200);
        auto *panel = new SidePanel(nullptr);
        ask(*panel, QStringLiteral("bye"));
        QTRY_COMPARE(server->requests().size(), 1);
        delete panel;
        QTest::qWait(400); // the late answer must find nothing to crash into
    }
};

QTEST_MAIN(TestSidePanel)
#include "tst_sidepanel.moc"
