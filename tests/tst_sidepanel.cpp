#include "ServiceEndpoints.h"
#include "SidePanel.h"
#include "TestHttpServer.h"

#include <QTcpServer>
#include <QtTest>
#include <QtWidgets>

using namespace Qt::StringLiterals;

// One entry per bubble, white space collapsed as the view renders it.
static QStringList bubbles(const SidePanel &panel)
{
    QStringList out;
    for (QTextBlock b = panel.conversationView()->document()->begin(); b.isValid(); b = b.next()) {
        if (!b.text().simplified().isEmpty())
            out << b.text().simplified();
    }
    return out;
}

static QByteArray ollamaAnswer(const QString &text)
{
    return QJsonDocument(QJsonObject{{u"model"_s, u"llama3"_s}, {u"response"_s, text}, {u"done"_s, true}})
        .toJson(QJsonDocument::Compact);
}

static void ask(SidePanel &panel, const QString &question)
{
    panel.questionInput()->setText(question);
    QTest::keyClick(panel.questionInput(), Qt::Key_Return);
}

// A fake Ollama on loopback.
class TestSidePanel : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestHttpServer> server;

    // Every generate request gets `body` with `status` after `delayMs`; a 302 points elsewhere.
    void reply(const QByteArray &body, int status = 200, int delayMs = 0)
    {
        server->route("/api/generate", [=, this](const TestHttpServer::Request &) {
            TestHttpServer::Response r{status, "application/json", body, {}, delayMs};
            if (status == 302)
                r.headers.append({"Location", server->url(u"/elsewhere"_s).toEncoded()});
            return r;
        });
    }

private Q_SLOTS:
    void init()
    {
        QTest::failOnWarning(QRegularExpression(u".*"_s));
        server = std::make_unique<TestHttpServer>();
        QVERIFY(server->listen());
        ServiceEndpoints::setOllamaGenerateUrl(server->url(u"/api/generate"_s));
    }
    void cleanup()
    {
        server.reset();
        ServiceEndpoints::reset();
    }

    // Blank input sends nothing; a question is sent trimmed as one non-streaming generate.
    void requestIsOneNonStreamingGenerate()
    {
        reply(ollamaAnswer(u"Paris."_s));
        SidePanel panel(nullptr);
        for (const QString &blank : {QString(), u"  \t "_s})
            ask(panel, blank);
        panel.questionInput()->setText(u"   "_s);
        panel.sendControl()->click();
        QCOMPARE(panel.questionInput()->text(), u"   "_s);
        panel.questionInput()->setText(u"  Capital of \"France\"?\t"_s);
        panel.sendControl()->click();
        QVERIFY(panel.questionInput()->text().isEmpty());
        QTRY_COMPARE(bubbles(panel).size(), 3);
        QCOMPARE(bubbles(panel), (QStringList{SidePanel::greetingText(), "Capital of \"France\"?", "Paris."}));
        QCOMPARE(server->requests().size(), 1);
        const TestHttpServer::Request req = server->requests().first();
        QCOMPARE(req.method + ' ' + req.path + ' ' + req.header("content-type"), "POST /api/generate application/json");
        QCOMPARE(req.body, QByteArray("{\n    \"model\": \"llama3\",\n    \"prompt\": \"Capital of \\\"France\\\"?\",\n"
                                      "    \"stream\": false\n}\n"));
    }

    // Status 0: nothing listens. The question holds markup, shown as text.
    void answerShown_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("delayMs");
        const QString empty = SidePanel::emptyAnswerText(), down = SidePanel::unreachableText().simplified();
        const QString html = u"<b>x</b> & <script>y</script>"_s;
        QTest::newRow("answer") << ollamaAnswer(u"**Hi** there"_s) << 200 << u"**Hi** there"_s << 0;
        QTest::newRow("html answer literal") << ollamaAnswer(html) << 200 << html << 0;
        QTest::newRow("empty response") << ollamaAnswer(QString()) << 200 << empty << 0;
        QTest::newRow("number response") << QByteArray("{\"response\": 42}") << 200 << empty << 0;
        QTest::newRow("not json") << QByteArray("<html>oops</html>") << 200 << empty << 0;
        // Over the byte cap: dropped unread.
        QTest::newRow("flood") << ollamaAnswer(QString(SidePanel::MaxReplyBytes + 10, u'b')) << 200 << empty << 0;
        QTest::newRow("server error 500") << ollamaAnswer(u"ignored"_s) << 500 << down << 0;
        QTest::newRow("redirect not followed") << QByteArray("") << 302 << down << 0;
        QTest::newRow("server down") << QByteArray() << 0 << down << 0;
        QTest::newRow("stalled") << ollamaAnswer(u"too late"_s) << 200 << down << 5000;
    }
    void answerShown()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(int, delayMs);
        reply(body, status, delayMs);
        server->setPage("/elsewhere", ollamaAnswer(u"followed"_s), "application/json");
        if (status == 0) { // a port that was just free
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
            ServiceEndpoints::setOllamaGenerateUrl(QUrl(u"http://127.0.0.1:%1/api/generate"_s.arg(probe.serverPort())));
        }
        SidePanel panel(nullptr);
        panel.setTransferTimeout(1500);
        const QString question = u"<img src=x onerror=alert(1)> & <i>\"hi\"</i>"_s;
        ask(panel, question);
        QCOMPARE(bubbles(panel).value(1), question);
        QVERIFY(!panel.conversationView()->toHtml().contains(u"<img"_s));
        QTRY_COMPARE_WITH_TIMEOUT(bubbles(panel).size(), 3, 4000);
        QTEST(bubbles(panel).last(), "shown");
        QCOMPARE(server->requestCount("/elsewhere"), 0);
    }

    void longAnswerIsCut()
    {
        const QString huge(SidePanel::MaxShownChars * 4, u'a');
        QCOMPARE(SidePanel::answerFromBody(ollamaAnswer(huge)).size(), SidePanel::MaxShownChars + 1);
    }

    // Clearing keeps requests in flight; answers arrive in finishing order.
    void clearingWhileTwoAnswersAreDue()
    {
        server->route("/api/generate", [](const TestHttpServer::Request &req) {
            const QString prompt = QJsonDocument::fromJson(req.body).object().value(u"prompt"_s).toString();
            return TestHttpServer::Response{200, "application/json", ollamaAnswer(u"re: "_s + prompt), {},
                                            prompt == "slow"_L1 ? 900 : 400};
        });
        SidePanel panel(nullptr);
        ask(panel, u"slow"_s);
        ask(panel, u"fast"_s);
        QCOMPARE(bubbles(panel), (QStringList{SidePanel::greetingText(), "slow", "fast"}));
        QTRY_COMPARE(server->requests().size(), 2);
        panel.clearControl()->click();
        QCOMPARE(bubbles(panel), QStringList{SidePanel::clearedText()});
        QTRY_COMPARE(bubbles(panel).size(), 3);
        QCOMPARE(bubbles(panel), (QStringList{SidePanel::clearedText(), "re: fast", "re: slow"}));
    }

    void panelDestroyedWhileWaiting()
    {
        reply(ollamaAnswer(u"nobody listens"_s), 200, 200);
        auto *panel = new SidePanel(nullptr);
        ask(*panel, u"bye"_s);
        QTRY_COMPARE(server->requests().size(), 1);
        delete panel;
        QTest::qWait(400); // the late answer must find nothing to crash into
    }
};

QTEST_MAIN(TestSidePanel)
#include "tst_sidepanel.moc"
