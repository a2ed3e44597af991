#include "ServiceEndpoints.h"
#include "SidePanel.h"
#include "TestHttpServer.h"

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

    // The question holds markup too: both are shown as text.
    void answerShown_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("delayMs");
        QTest::addColumn<QString>("shown");
        const QString empty = SidePanel::emptyAnswerText(), down = SidePanel::unreachableText().simplified();
        const QString html = u"<b>x</b> & <script>y</script>"_s;
        QTest::newRow("html answer literal") << ollamaAnswer(html) << 200 << 0 << html;
        QTest::newRow("not json") << QByteArray("<html>oops</html>") << 200 << 0 << empty;
        // Over the byte cap: dropped unread.
        QTest::newRow("flood") << ollamaAnswer(QString(SidePanel::MaxReplyBytes + 10, u'b')) << 200 << 0 << empty;
        QTest::newRow("redirect not followed") << QByteArray() << 302 << 0 << down;
        QTest::newRow("stalled") << ollamaAnswer(u"too late"_s) << 200 << 5000 << down;
    }
    void answerShown()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(int, delayMs);
        server->route("/api/generate", [=, this](const TestHttpServer::Request &) {
            return TestHttpServer::Response{status, "application/json", body,
                                            {{"Location", server->url(u"/elsewhere"_s).toEncoded()}}, delayMs};
        });
        server->setPage("/elsewhere", ollamaAnswer(u"followed"_s), "application/json");
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

    // The question is sent trimmed as one non-streaming generate (blank input sends nothing);
    // clearing keeps requests in flight and answers arrive in finishing order.
    void twoRequestsInFlightAndClearing()
    {
        server->route("/api/generate", [](const TestHttpServer::Request &req) {
            const QString prompt = QJsonDocument::fromJson(req.body).object().value(u"prompt"_s).toString();
            return TestHttpServer::Response{200, "application/json", ollamaAnswer(u"re: "_s + prompt), {},
                                            prompt.startsWith("slow"_L1) ? 900 : 400};
        });
        SidePanel panel(nullptr);
        ask(panel, u"  \t "_s);
        ask(panel, u"  slow \"one\"\t"_s);
        ask(panel, u"fast"_s);
        QTRY_COMPARE(server->requests().size(), 2);
        const QList<TestHttpServer::Request> sent = server->requests();
        const TestHttpServer::Request req = sent.first().body.contains("slow") ? sent.first() : sent.last();
        QCOMPARE(req.method + ' ' + req.path + ' ' + req.header("content-type"), "POST /api/generate application/json");
        QCOMPARE(req.body, QByteArray("{\n    \"model\": \"llama3\",\n    \"prompt\": \"slow \\\"one\\\"\",\n    \"stream\": false\n}\n"));
        panel.clearControl()->click();
        QCOMPARE(bubbles(panel), QStringList{SidePanel::clearedText()});
        QTRY_COMPARE(bubbles(panel).size(), 3);
        QCOMPARE(bubbles(panel), (QStringList{SidePanel::clearedText(), "re: fast", "re: slow \"one\""}));
    }
};

QTEST_MAIN(TestSidePanel)
#include "tst_sidepanel.moc"
