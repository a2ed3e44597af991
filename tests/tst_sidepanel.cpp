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

using namespace Qt::StringLiterals;

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
    return QJsonDocument(QJsonObject{{u"model"_s, u"llama3"_s},
                                     {u"response"_s, text},
                                     {u"done"_s, true}}).toJson(QJsonDocument::Compact);
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
        QTest::failOnWarning(QRegularExpression(u".*"_s));
        server = new TestHttpServer(this);
        QVERIFY(server->listen());
        ServiceEndpoints::setOllamaGenerateUrl(server->url(u"/api/generate"_s));
    }
    void cleanup()
    {
        delete server;
        ServiceEndpoints::reset();
    }

    void requestIsOneNonStreamingGenerate()
    {
        answerWith(u"Paris."_s);
        SidePanel panel(nullptr);
        panel.questionInput()->setText(u"  Capital of \"France\"?\t"_s);
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

    // Status 0: nothing listens. The question holds markup, shown as text.
    void answerShown_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("delayMs");
        const QString empty = SidePanel::emptyAnswerText();
        const QString html = u"<b>x</b> & <script>y</script>"_s;
        QTest::newRow("answer") << ollamaAnswer(u"**Hi** there"_s) << 200 << u"**Hi** there"_s << 0;
        QTest::newRow("html answer literal") << ollamaAnswer(html) << 200 << html << 0;
        QTest::newRow("empty object") << QByteArray("{}") << 200 << empty << 0;
        QTest::newRow("empty response") << ollamaAnswer(QString()) << 200 << empty << 0;
        QTest::newRow("number response") << QByteArray("{\"response\": 42}") << 200 << empty << 0;
        QTest::newRow("array body") << QByteArray("[\"response\"]") << 200 << empty << 0;
        QTest::newRow("not json") << QByteArray("<html>oops</html>") << 200 << empty << 0;
        QTest::newRow("empty body") << QByteArray("") << 200 << empty << 0;
        // Over the byte cap: dropped unread.
        QTest::newRow("flood") << ollamaAnswer(QString(SidePanel::MaxReplyBytes + 10, QLatin1Char('b'))) << 200 << empty << 0;
        QTest::newRow("model missing 404") << QByteArray("{\"error\":\"model 'llama3' not found\"}") << 404 << unreachable << 0;
        QTest::newRow("server error 500") << ollamaAnswer(u"ignored"_s) << 500 << unreachable << 0;
        QTest::newRow("redirect not followed") << QByteArray("") << 302 << unreachable << 0;
        QTest::newRow("server down") << QByteArray() << 0 << unreachable << 0;
        QTest::newRow("stalled") << ollamaAnswer(u"too late"_s) << 200 << unreachable << 5000;
    }
    void answerShown()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(int, delayMs);
        server->route("/api/generate", [=](const TestHttpServer::Request &) {
            TestHttpServer::Response r = jsonResponse(body, status, delayMs);
            if (status == 302)
                r.headers.append({"Location", server->url(u"/elsewhere"_s).toEncoded()});
            return r;
        });
        server->setPage("/elsewhere", ollamaAnswer(u"followed"_s), "application/json");
        if (status == 0) { // a port that was just free
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
            ServiceEndpoints::setOllamaGenerateUrl(QUrl(u"http://127.0.0.1:%1/api/generate"_s.arg(probe.serverPort())));
        } // closed here
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
        const QString huge(SidePanel::MaxShownChars * 4, QLatin1Char('a'));
        QCOMPARE(SidePanel::answerFromBody(ollamaAnswer(huge)).size(), SidePanel::MaxShownChars + 1);
    }

    void blankInputSendsNothing_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("viaButton");
        QTest::newRow("empty, Return") << QString() << false;
        QTest::newRow("blanks, Return") << u"  \t "_s << false;
        QTest::newRow("blanks, button") << u"   "_s << true;
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
        ask(panel, u"real"_s);
        QTRY_COMPARE(bubbles(panel).size(), 3);
        QCOMPARE(server->requests().size(), 1);
    }

    // Clearing keeps requests in flight; answers arrive in finishing order.
    void clearingWhileTwoAnswersAreDue()
    {
        server->route("/api/generate", [](const TestHttpServer::Request &req) {
            const QString prompt = QJsonDocument::fromJson(req.body).object().value(u"prompt"_s).toString();
            return jsonResponse(ollamaAnswer(u"re: "_s + prompt), 200, prompt == QLatin1String("slow") ? 900 : 400);
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
        answerWith(u"nobody listens"_s, 200);
        auto *panel = new SidePanel(nullptr);
        ask(*panel, u"bye"_s);
        QTRY_COMPARE(server->requests().size(), 1);
        delete panel;
        QTest::qWait(400); // the late answer must find nothing to crash into
    }
};

QTEST_MAIN(TestSidePanel)
#include "tst_sidepanel.moc"
