#include "PopupWindow.h"

#include "BrowserWindow.h"
#include "PrivacyEngine.h"
#include "WebPage.h"

#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>
#include <QVBoxLayout>
#include <QWebEngineFullScreenRequest>
#include <QWebEngineSettings>
#include <QWebEngineView>

PopupWindow::PopupWindow(QWebEngineProfile *profile, const QJsonObject &privacySettings, QWidget *parent)
    : QWidget(parent, Qt::Window)
{
    setAttribute(Qt::WA_DeleteOnClose);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_address = new QLineEdit(this);
    m_address->setReadOnly(true);
    m_address->setFocusPolicy(Qt::ClickFocus);
    layout->addWidget(m_address);
    m_view = new QWebEngineView(this);
    m_page = new WebPage(profile, m_view);
    m_view->setPage(m_page);
    m_view->settings()->setAttribute(QWebEngineSettings::AutoLoadIconsForPage, false);
    m_privacy = new PrivacyEngine(this);
    m_privacy->applySettings(privacySettings);
    m_privacy->applyPrivacySettings(m_view);
    layout->addWidget(m_view, 1);
    resize(600, 500);

    connect(m_page, &QWebEnginePage::urlChanged, this,
            [this](const QUrl &url) { m_address->setText(url.toDisplayString()); });
    connect(m_page, &QWebEnginePage::titleChanged, this, &QWidget::setWindowTitle);
    connect(m_page, &QWebEnginePage::windowCloseRequested, this, &QWidget::close);
    connect(m_page, &QWebEnginePage::geometryChangeRequested, this, [this](const QRect &geometry) {
        const QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
        const QSize available = screen ? screen->availableSize() : QSize(1280, 800);
        resize(clampedSize(geometry.size(), available) + QSize(0, m_address->sizeHint().height()));
    });
    connect(m_page, &WebPage::navigationRefused, this, [this](const QUrl &url) {
        m_page->setHtml(BrowserWindow::vpnWarningHtml(), QUrl(BrowserWindow::vpnWarningAddress()));
        m_address->setText(url.toDisplayString());
    });
    // A popup has no room for the error page: a broken certificate simply fails.
    connect(m_page, &WebPage::certificateErrorRaised, this,
            [](const QWebEngineCertificateError &error) { QWebEngineCertificateError(error).rejectCertificate(); });
    connect(m_page, &QWebEnginePage::fullScreenRequested, this,
            [](QWebEngineFullScreenRequest request) { request.reject(); });
}

QSize PopupWindow::clampedSize(const QSize &requested, const QSize &available)
{
    const int width = qBound(200, requested.width() > 0 ? requested.width() : 600, qMax(200, available.width()));
    const int height = qBound(150, requested.height() > 0 ? requested.height() : 500, qMax(150, available.height()));
    return {width, height};
}
