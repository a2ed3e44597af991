#pragma once

#include <QCache>
#include <QObject>
#include <QPixmap>
#include <QSet>
#include <QString>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

// Fetches "/favicon.ico" of a page's host outside the web engine and keeps the
// decoded icons in memory, keyed by host (so http and https pages share one).
class FaviconManager : public QObject
{
    Q_OBJECT
public:
    static constexpr int kCacheHosts = 100;
    static constexpr qint64 kMaxIconBytes = 1024 * 1024;
    static constexpr int kMaxIconSide = 256;      // larger icons are scaled down
    static constexpr int kMaxDeclaredSide = 4096; // larger images are not decoded
    static constexpr int kMaxRedirects = 5;
    static constexpr int kDefaultTransferTimeoutMs = 15000;

    explicit FaviconManager(QObject *parent = nullptr);
    // Uses `network` (adopted as a child) instead of a manager of its own.
    FaviconManager(QNetworkAccessManager *network, QObject *parent);

    void loadFavicon(const QUrl &pageUrl);
    // The cached icon of the page's host, else the built-in fallback image.
    QPixmap favicon(const QUrl &pageUrl) const;

    // Inactivity limit of one fetch; 0 disables it.
    void setTransferTimeout(int ms) { transferTimeoutMs = ms; }
    int transferTimeout() const { return transferTimeoutMs; }

    // Only http and https pages with a host have an icon to fetch.
    static bool isFetchable(const QUrl &pageUrl);
    // The page's host, fully decoded: no scheme, no port.
    static QString cacheKey(const QUrl &pageUrl);
    // scheme://host/favicon.ico: port, user, path, query and fragment dropped.
    static QUrl faviconUrl(const QUrl &pageUrl);
    // Decodes an icon body; null for non-images and oversized images, and
    // scales anything beyond kMaxIconSide down keeping the aspect ratio.
    static QPixmap decodeIcon(const QByteArray &data);

Q_SIGNALS:
    void faviconLoaded(const QUrl &pageUrl, const QPixmap &icon);

private Q_SLOTS:
    void onFaviconLoaded(QNetworkReply *reply);

private:
    void watchReply(QNetworkReply *reply);

    QNetworkAccessManager *network = nullptr;
    QCache<QString, QPixmap> cache;
    QSet<QString> inFlight; // hosts whose icon is being fetched
    int transferTimeoutMs = kDefaultTransferTimeoutMs;
};
