#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <QWidget>

class MainWindow;
class QLineEdit;
class QPushButton;
class QTextEdit;
class QVBoxLayout;

// The assistant column: a chat with a language model on the local Ollama
// server. Each question is sent alone (no conversation memory) as one
// non-streaming generate request; answers appear in the order they finish.
class SidePanel : public QWidget
{
    Q_OBJECT
public:
    // Replies larger than this are dropped unread; answers longer than
    // MaxShownChars are cut, so a runaway server cannot freeze the view.
    static constexpr qint64 MaxReplyBytes = 1024 * 1024;
    static constexpr int MaxShownChars = 64 * 1024;
    // A local model may think for a while, but not forever.
    static constexpr int DefaultTimeoutMs = 120 * 1000;

    explicit SidePanel(MainWindow *parent);

    void appendUserMessage(const QString &text);
    void appendAIMessage(const QString &text);

    // The exact body of a generate request for one question.
    static QByteArray requestBody(const QString &prompt);
    // The text to show for a successfully received reply body.
    static QString answerFromBody(const QByteArray &body);

    static QString greetingText();
    static QString clearedText();
    static QString emptyAnswerText();
    static QString unreachableText();

    // Without an inactivity limit a stalled server would keep a request open for ever.
    void setTransferTimeout(int ms) { m_timeoutMs = ms; }
    int transferTimeout() const { return m_timeoutMs; }

    QTextEdit *conversationView() const { return chatDisplay; }
    QLineEdit *questionInput() const { return chatInput; }
    QPushButton *sendControl() const { return sendButton; }
    QPushButton *clearControl() const { return clearButton; }

public Q_SLOTS:
    void onAIChatSubmit();
    void onClearChat();

private:
    void setupUI();
    void setupAIChat();
    void appendBubble(const QString &tmpl, const QString &text);

    MainWindow *mainWindow = nullptr;
    QVBoxLayout *mainLayout = nullptr;
    QWidget *chatContainer = nullptr;
    QTextEdit *chatDisplay = nullptr;
    QLineEdit *chatInput = nullptr;
    QPushButton *sendButton = nullptr;
    QPushButton *clearButton = nullptr;
    int m_timeoutMs = DefaultTimeoutMs;
};
