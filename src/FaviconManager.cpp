#include "FaviconManager.h"

#include "VpnGate.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

// The resources live in a static library: registering them here pulls them
// into every binary that uses the manager.
static void ensureResources()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(orvexbrowser);
        return true;
    }();
    Q_UNUSED(done);
}

FaviconManager::FaviconManager(QObject *parent)
    : FaviconManager(nullptr, parent)
{
}

FaviconManager::FaviconManager(QNetworkAccessManager *network, QObject *parent)
    : QObject(parent)
    , network(network ? network : new QNetworkAccessManager(this))
    , cache(kCacheHosts)
{
    ensureResources();
    this->network->setParent(this);
    connect(this->network, &QNetworkAccessManager::finished, this, &FaviconManager::onFaviconLoaded);
}

bool FaviconManager::isFetchable(const QUrl &pageUrl)
{
    const QString scheme = pageUrl.scheme();
    return pageUrl.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
        && !pageUrl.host().isEmpty();
}

QString FaviconManager::cacheKey(const QUrl &pageUrl)
{
    return pageUrl.host(QUrl::FullyDecoded);
}

QUrl FaviconManager::faviconUrl(const QUrl &pageUrl)
{
    // Built with setters rather than by joining text, so IPv6 hosts keep their brackets.
    QUrl url;
    url.setScheme(pageUrl.scheme());
    url.setHost(pageUrl.host(QUrl::FullyDecoded), QUrl::TolerantMode);
    // The icon lives on the page's own origin: a site on port 8080 serves it there.
    url.setPort(pageUrl.port());
    url.setPath(QStringLiteral("/favicon.ico"));
    return url;
}

QPixmap FaviconManager::decodeIcon(const QByteArray &data)
{
    if (data.isEmpty() || data.size() > kMaxIconBytes)
        return {};
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    // A small file can declare a huge canvas; refuse before allocating it.
    const QSize declared = reader.size();
    if (declared.width() > kMaxDeclaredSide || declared.height() > kMaxDeclaredSide)
        return {};
    QImage image = reader.read();
    if (image.isNull())
        return {};
    if (image.width() > kMaxIconSide || image.height() > kMaxIconSide)
        image = image.scaled(kMaxIconSide, kMaxIconSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return QPixmap::fromImage(image);
}

void FaviconManager::loadFavicon(const QUrl &pageUrl)
{
    // Our own fetch leaves outside the engine: it asks the kill switch too.
    if (!isFetchable(pageUrl) || !VpnGate::allows(faviconUrl(pageUrl)))
        return;
    const QString key = cacheKey(pageUrl);
    if (const QPixmap *cached = cache.object(key)) {
        emit faviconLoaded(pageUrl, *cached);
        return;
    }
    // Every page of the host gets the icon when the fetch under way ends.
    if (inFlight.contains(key))
        return;
    inFlight.insert(key);
    QNetworkRequest request(faviconUrl(pageUrl));
    request.setAttribute(QNetworkRequest::User, pageUrl);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setMaximumRedirectsAllowed(kMaxRedirects);
    request.setTransferTimeout(transferTimeoutMs);
    watchReply(network->get(request));
}

void FaviconManager::watchReply(QNetworkReply *reply)
{
    // Stop oversized bodies early instead of buffering them.
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64 total) {
        if (received > kMaxIconBytes || total > kMaxIconBytes)
            reply->abort();
    });
    // Follow only to http(s), and never from https down to http.
    connect(reply, &QNetworkReply::redirected, reply, [reply](const QUrl &target) {
        const QString from = reply->url().scheme();
        const QString to = target.scheme();
        const bool allowed = !target.host().isEmpty()
            && (to == QLatin1String("https") || (to == QLatin1String("http") && from == QLatin1String("http")));
        if (allowed)
            emit reply->redirectAllowed();
        else
            reply->abort();
    });
}

QPixmap FaviconManager::favicon(const QUrl &pageUrl) const
{
    if (const QPixmap *cached = cache.object(cacheKey(pageUrl)))
        return *cached;
    return QPixmap(QStringLiteral(":/icons/default-favicon.png"));
}

void FaviconManager::onFaviconLoaded(QNetworkReply *reply)
{
    reply->deleteLater();
    const QUrl pageUrl = reply->request().attribute(QNetworkRequest::User).toUrl();
    inFlight.remove(cacheKey(pageUrl));
    if (reply->error() != QNetworkReply::NoError || !isFetchable(pageUrl))
        return;
    const QByteArray body = reply->read(kMaxIconBytes + 1);
    const QPixmap icon = decodeIcon(body);
    if (icon.isNull())
        return;
    cache.insert(cacheKey(pageUrl), new QPixmap(icon), 1);
    emit faviconLoaded(pageUrl, icon);
}
