#include "SidePanel.h"

#include "MainWindow.h"
#include "ServiceEndpoints.h"

#include <QHBoxLayout>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPushButton>
#include <QScrollBar>
#include <QTextEdit>
#include <QVBoxLayout>

#include <memory>

namespace {
const char userTemplate[] =
    "<div style='margin-bottom: 10px; text-align: right;'><span style='background: #0078d4; color: white; "
    "padding: 8px 12px; border-radius: 15px 15px 0 15px; display: inline-block;'>%1</span></div>";
const char aiTemplate[] =
    "<div style='margin-bottom: 10px; text-align: left;'><span style='background: #333; color: #e0e0e0; "
    "padding: 8px 12px; border-radius: 15px 15px 15px 0; display: inline-block;'>%1</span></div>";
}

SidePanel::SidePanel(MainWindow *parent)
    : QWidget(parent)
    , mainWindow(parent)
{
    setupUI();
}

QString SidePanel::greetingText()
{
    return QStringLiteral("Hello! I am Orvex AI. How can I assist you today?");
}

QString SidePanel::clearedText()
{
    return QStringLiteral("Chat cleared. Ready for new questions!");
}

QString SidePanel::emptyAnswerText()
{
    return QStringLiteral("I received an empty response from Ollama.");
}

QString SidePanel::unreachableText()
{
    return QStringLiteral("I couldn't reach the local AI engine (Ollama). Make sure it's running on port 11434.\n\n"
                          "Fallback: I am a prototype AI. Once connected, I will be smarter!");
}

void SidePanel::setupUI()
{
    setFixedWidth(350);
    setStyleSheet(QStringLiteral("background: #1a1a1a; border-left: 1px solid #333;"));
    mainLayout = new QVBoxLayout(this);
    mainLayout->setContentsMargins(0, 0, 0, 0);
    mainLayout->setSpacing(0);

    auto *header = new QWidget(this);
    header->setFixedHeight(50);
    header->setStyleSheet(QStringLiteral("background: #252525; border-bottom: 1px solid #333;"));
    auto *headerLayout = new QHBoxLayout(header);
    auto *title = new QLabel(QStringLiteral("\U0001F916 Orvex AI"), header);
    title->setStyleSheet(QStringLiteral("color: #00e5ff; font-weight: bold; font-size: 14px; border: none;"));
    headerLayout->addWidget(title);
    clearButton = new QPushButton(QStringLiteral("\U0001F5D1\uFE0F"), header);
    clearButton->setFixedSize(30, 30);
    clearButton->setToolTip(QStringLiteral("Clear Chat"));
    clearButton->setStyleSheet(QStringLiteral("QPushButton { background: transparent; border: none; } "
                                              "QPushButton:hover { background: #333; border-radius: 4px; }"));
    connect(clearButton, &QPushButton::clicked, this, &SidePanel::onClearChat);
    headerLayout->addWidget(clearButton);
    mainLayout->addWidget(header);

    setupAIChat();
}

void SidePanel::setupAIChat()
{
    chatContainer = new QWidget(this);
    auto *layout = new QVBoxLayout(chatContainer);
    layout->setContentsMargins(10, 10, 10, 10);

    chatDisplay = new QTextEdit(chatContainer);
    chatDisplay->setReadOnly(true);
    chatDisplay->setStyleSheet(QStringLiteral(
        "QTextEdit { background: transparent; border: none; color: #e0e0e0; "
        "font-family: 'Segoe UI', sans-serif; font-size: 13px; }"));
    layout->addWidget(chatDisplay);
    appendAIMessage(greetingText());

    auto *inputRow = new QHBoxLayout;
    chatInput = new QLineEdit(chatContainer);
    chatInput->setPlaceholderText(QStringLiteral("Ask Orvex AI..."));
    chatInput->setStyleSheet(QStringLiteral(
        "QLineEdit { background: #2d2d2d; color: white; border: 1px solid #3d3d3d; border-radius: 15px; "
        "padding: 8px 12px; } QLineEdit:focus { border-color: #00e5ff; }"));
    inputRow->addWidget(chatInput);
    sendButton = new QPushButton(QStringLiteral("\u27A4"), chatContainer);
    sendButton->setFixedSize(32, 32);
    sendButton->setStyleSheet(QStringLiteral(
        "QPushButton { background: #0078d4; color: white; border-radius: 16px; border: none; } "
        "QPushButton:hover { background: #008be6; }"));
    inputRow->addWidget(sendButton);
    layout->addLayout(inputRow);
    mainLayout->addWidget(chatContainer);

    connect(chatInput, &QLineEdit::returnPressed, this, &SidePanel::onAIChatSubmit);
    connect(sendButton, &QPushButton::clicked, this, &SidePanel::onAIChatSubmit);
}

void SidePanel::appendBubble(const QString &tmpl, const QString &text)
{
    chatDisplay->append(tmpl.arg(text.toHtmlEscaped()));
    QScrollBar *bar = chatDisplay->verticalScrollBar();
    bar->setValue(bar->maximum());
}

void SidePanel::appendUserMessage(const QString &text)
{
    appendBubble(QString::fromLatin1(userTemplate), text);
}

void SidePanel::appendAIMessage(const QString &text)
{
    appendBubble(QString::fromLatin1(aiTemplate), text);
}

QByteArray SidePanel::requestBody(const QString &prompt)
{
    QJsonObject body;
    body.insert(QStringLiteral("model"), QStringLiteral("llama3"));
    body.insert(QStringLiteral("prompt"), prompt);
    body.insert(QStringLiteral("stream"), false);
    return QJsonDocument(body).toJson();
}

QString SidePanel::answerFromBody(const QByteArray &body)
{
    QString answer;
    if (body.size() <= MaxReplyBytes)
        answer = QJsonDocument::fromJson(body).object().value(QStringLiteral("response")).toString();
    if (answer.isEmpty())
        return emptyAnswerText();
    if (answer.size() > MaxShownChars) {
        int cut = MaxShownChars;
        if (answer.at(cut - 1).isHighSurrogate())
            --cut;
        answer = answer.left(cut) + QChar(0x2026);
    }
    return answer;
}

void SidePanel::onAIChatSubmit()
{
    const QString question = chatInput->text().trimmed();
    if (question.isEmpty())
        return;
    appendUserMessage(question);
    chatInput->clear();

    auto *manager = new QNetworkAccessManager(this);
    QNetworkRequest request(ServiceEndpoints::ollamaGenerateUrl());
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    // A redirect could lead the question off this machine.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(m_timeoutMs);
    QNetworkReply *reply = manager->post(request, requestBody(question));

    // Read as it arrives so an oversized reply is cut off instead of buffered whole.
    auto body = std::make_shared<QByteArray>();
    auto oversized = std::make_shared<bool>(false);
    connect(reply, &QNetworkReply::readyRead, this, [reply, body, oversized] {
        if (*oversized)
            return;
        *body += reply->readAll();
        if (body->size() > MaxReplyBytes) {
            *oversized = true;
            body->clear();
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, manager, body, oversized] {
        if (*oversized) {
            appendAIMessage(emptyAnswerText());
        } else {
            const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            if (reply->error() != QNetworkReply::NoError || status < 200 || status > 299) {
                appendAIMessage(unreachableText());
            } else {
                *body += reply->readAll();
                appendAIMessage(answerFromBody(*body));
            }
        }
        reply->deleteLater();
        manager->deleteLater();
    });
}

void SidePanel::onClearChat()
{
    chatDisplay->clear();
    appendAIMessage(clearedText());
}
