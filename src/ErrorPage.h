#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

// What a tab shows in place of its page when the page cannot be shown: a
// certificate error waiting for the user's decision, or a crashed renderer.
// A widget of our own rather than HTML, so no page can script or imitate
// its buttons. Texts from the network (host, error) are plain text.
class ErrorPage : public QWidget
{
    Q_OBJECT
public:
    enum class Kind { None, CertificateError, Crashed };

    explicit ErrorPage(QWidget *parent = nullptr);

    // "Back to safety" is the default; "Continue anyway" only when the engine
    // allows overriding the error.
    void showCertificateError(const QString &host, const QString &error, bool overridable);
    void showCrashed();
    Kind kind() const { return m_kind; }

    QPushButton *primaryButton() const { return m_primary; }
    QPushButton *secondaryButton() const { return m_secondary; }
    QString titleText() const;
    QString bodyText() const;

Q_SIGNALS:
    void backToSafetyClicked();
    void continueClicked();
    void reloadClicked();

private:
    void show(Kind kind, const QString &title, const QString &body, const QString &primary,
              const QString &secondary);

    Kind m_kind = Kind::None;
    QLabel *m_title = nullptr;
    QLabel *m_body = nullptr;
    QPushButton *m_primary = nullptr;
    QPushButton *m_secondary = nullptr;
};
