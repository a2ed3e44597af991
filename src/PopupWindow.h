#pragma once

#include <QJsonObject>
#include <QWidget>

class PrivacyEngine;
class QLineEdit;
class QWebEngineProfile;
class QWebEngineView;
class WebPage;

// A small window for a page's popup (window.open with a size, a sign-in
// dialog). Its page belongs to the opener's profile and is handed back to the
// engine, so the opener keeps its window.opener link and sign-in flows can
// complete; the read-only address line shows where the popup really is.
// window.close() closes it. Its navigations pass the VPN gate and its
// requests the privacy engine like a tab's.
class PopupWindow : public QWidget
{
    Q_OBJECT
public:
    PopupWindow(QWebEngineProfile *profile, const QJsonObject &privacySettings, QWidget *parent = nullptr);

    WebPage *page() const { return m_page; }
    QWebEngineView *view() const { return m_view; }
    QLineEdit *addressLine() const { return m_address; }

    static QSize clampedSize(const QSize &requested, const QSize &available);

private:
    QWebEngineView *m_view = nullptr;
    WebPage *m_page = nullptr;
    PrivacyEngine *m_privacy = nullptr;
    QLineEdit *m_address = nullptr;
};
