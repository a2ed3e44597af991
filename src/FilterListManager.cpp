#include "FilterListManager.h"

#include "FilterRule.h"
#include "StoreFile.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QRegularExpression>
#include <QStandardPaths>

#include <optional>

namespace {

constexpr int MaxLists = 64;
constexpr int MaxUserRulesBytes = 4 * 1024 * 1024;

QString isoDate(const QDateTime &t)
{
    return t.isValid() ? t.toString(Qt::ISODate) : QString();
}

QDateTime fromIso(const QString &text)
{
    return text.isEmpty() ? QDateTime() : QDateTime::fromString(text, Qt::ISODate);
}

QString fileNameOf(const QUrl &url)
{
    const QString name = url.fileName();
    return name.isEmpty() ? url.host() : name;
}

bool isListUrl(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("https") || scheme == QLatin1String("http"))
        && !url.host().isEmpty();
}

} // namespace

FilterListManager::FilterListManager(const QString &dataFolder, QObject *parent, Counting counting)
    : QObject(parent)
    , m_dataFolder(dataFolder.isEmpty()
                       ? QStandardPaths::writableLocation(QStandardPaths::ConfigLocation) + QStringLiteral("/orvexbrowser")
                       : dataFolder)
    , m_counting(counting)
{
    m_pool.setMaxThreadCount(1);
    const QStringList folders = snapshotFolders();
    m_snapshotFolder = folders.isEmpty() ? QString() : folders.first();
    load();
    m_timer.setInterval(CheckIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &FilterListManager::checkForUpdates);
    m_timer.start();
}

FilterListManager::~FilterListManager()
{
    for (QNetworkReply *reply : std::as_const(m_replies)) {
        reply->disconnect(this);
        reply->abort();
    }
    m_pool.waitForDone();
}

namespace {
std::optional<QList<QUrl>> &overriddenDefaults()
{
    static std::optional<QList<QUrl>> lists;
    return lists;
}
}

void FilterListManager::setDefaultLists(const QList<QUrl> &urls)
{
    overriddenDefaults() = urls;
}

void FilterListManager::resetDefaultLists()
{
    overriddenDefaults().reset();
}

QList<QUrl> FilterListManager::defaultLists()
{
    if (overriddenDefaults())
        return *overriddenDefaults();
    QList<QUrl> urls;
    const QString configured = QStringLiteral(ORVEX_FILTER_LISTS);
    for (const QString &part : configured.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QUrl url(part);
        if (isListUrl(url))
            urls.append(url);
    }
    return urls;
}

QStringList FilterListManager::snapshotFolders()
{
    QStringList candidates;
    if (QCoreApplication::instance()) {
        const QString app = QCoreApplication::applicationDirPath();
        candidates << app + QStringLiteral("/filterlists")
                   << QDir::cleanPath(app + QStringLiteral("/../share/orvexbrowser/filterlists"));
    }
    candidates << QStringLiteral(ORVEX_FILTERLIST_INSTALL_DIR);
    QStringList found;
    for (const QString &c : std::as_const(candidates)) {
        if (QFileInfo::exists(c + QStringLiteral("/easylist.txt")) && !found.contains(c))
            found.append(c);
    }
    return found;
}

QString FilterListManager::copyPath(const Entry &e) const
{
    return m_dataFolder + QStringLiteral("/filterlists/") + e.file;
}

// The snapshot stands in for a list of the same file name (easylist.txt...).
QString FilterListManager::snapshotPath(const QUrl &url) const
{
    if (m_snapshotFolder.isEmpty())
        return {};
    const QString name = url.fileName();
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name.startsWith(QLatin1Char('.')))
        return {};
    const QString path = m_snapshotFolder + QLatin1Char('/') + name;
    return QFileInfo(path).isFile() ? path : QString();
}

FilterListManager::Entry *FilterListManager::find(const QUrl &url)
{
    for (Entry &e : m_entries) {
        if (e.url == url)
            return &e;
    }
    return nullptr;
}

void FilterListManager::load()
{
    const QString statePath = m_dataFolder + QStringLiteral("/filterlists.json");
    StoreFile::LoadResult result{};
    const QJsonObject state = StoreFile::readJson(statePath, StoreFile::JsonType::Object, &result).object();
    if (result == StoreFile::LoadResult::Missing) {
        for (const QUrl &url : defaultLists()) {
            Entry e;
            e.url = url;
            e.title = fileNameOf(url);
            e.file = QString::fromLatin1(QCryptographicHash::hash(url.toEncoded(), QCryptographicHash::Sha1).toHex().left(16))
                + QStringLiteral(".txt");
            m_entries.append(e);
        }
    } else {
        for (const QJsonValue &v : state.value(QStringLiteral("lists")).toArray()) {
            const QJsonObject o = v.toObject();
            Entry e;
            e.url = QUrl(o.value(QStringLiteral("url")).toString());
            if (!isListUrl(e.url) || find(e.url) || m_entries.size() >= MaxLists)
                continue;
            e.title = o.value(QStringLiteral("title")).toString(fileNameOf(e.url));
            e.file = QString::fromLatin1(QCryptographicHash::hash(e.url.toEncoded(), QCryptographicHash::Sha1).toHex().left(16))
                + QStringLiteral(".txt");
            e.etag = o.value(QStringLiteral("etag")).toString().toLatin1();
            e.lastModified = o.value(QStringLiteral("lastModified")).toString().toLatin1();
            e.lastUpdate = fromIso(o.value(QStringLiteral("lastUpdate")).toString());
            e.lastAttempt = fromIso(o.value(QStringLiteral("lastAttempt")).toString());
            e.expiryHours = qBound(1, o.value(QStringLiteral("expiryHours")).toInt(DefaultExpiryHours), 24 * 30);
            e.ruleCount = o.value(QStringLiteral("rules")).toInt(-1);
            e.lastError = o.value(QStringLiteral("error")).toString();
            // A copy that went missing (or a snapshot-only list) is due now.
            if (!QFileInfo::exists(copyPath(e))) {
                e.lastUpdate = QDateTime();
                e.etag.clear();
                e.lastModified.clear();
            }
            m_entries.append(e);
        }
    }
    // Titles name the lists in the engine (and its cache key): read them now,
    // from the header, so they don't change once the counts come in.
    for (Entry &e : m_entries) {
        QString path = copyPath(e);
        if (!QFileInfo::exists(path))
            path = snapshotPath(e.url);
        QFile f(path);
        if (!path.isEmpty() && f.open(QIODevice::ReadOnly)) {
            const QString title = listTitle(f.read(8192));
            if (!title.isEmpty())
                e.title = title;
        }
    }
    QFile user(m_dataFolder + QStringLiteral("/myfilters.txt"));
    if (user.open(QIODevice::ReadOnly))
        m_userRules = QString::fromUtf8(user.read(MaxUserRulesBytes));
    for (const Entry &e : std::as_const(m_entries)) {
        if (m_counting == Counting::InBackground && (e.ruleCount < 0 || !QFileInfo::exists(copyPath(e))))
            countInBackground(e.url);
    }
}

void FilterListManager::save()
{
    QJsonArray lists;
    for (const Entry &e : std::as_const(m_entries)) {
        QJsonObject o;
        o.insert(QStringLiteral("url"), QString::fromUtf8(e.url.toEncoded()));
        o.insert(QStringLiteral("title"), e.title);
        o.insert(QStringLiteral("etag"), QString::fromLatin1(e.etag));
        o.insert(QStringLiteral("lastModified"), QString::fromLatin1(e.lastModified));
        o.insert(QStringLiteral("lastUpdate"), isoDate(e.lastUpdate));
        o.insert(QStringLiteral("lastAttempt"), isoDate(e.lastAttempt));
        o.insert(QStringLiteral("expiryHours"), e.expiryHours);
        o.insert(QStringLiteral("rules"), e.ruleCount);
        o.insert(QStringLiteral("error"), e.lastError);
        lists.append(o);
    }
    QJsonObject state;
    state.insert(QStringLiteral("lists"), lists);
    if (!StoreFile::writeJson(m_dataFolder + QStringLiteral("/filterlists.json"), QJsonDocument(state)))
        qWarning() << "FilterListManager: could not save the list state in" << m_dataFolder;
}

QList<FilterListManager::List> FilterListManager::lists() const
{
    QList<List> out;
    for (const Entry &e : m_entries) {
        List l;
        l.url = e.url;
        l.title = e.title;
        l.ruleCount = qMax(0, e.ruleCount);
        l.lastUpdate = e.lastUpdate;
        l.lastError = e.lastError;
        l.updating = m_replies.contains(e.url);
        l.fromSnapshot = !QFileInfo::exists(copyPath(e)) && !snapshotPath(e.url).isEmpty();
        out.append(l);
    }
    return out;
}

bool FilterListManager::addList(const QUrl &url, QString *error)
{
    const auto refuse = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (!isListUrl(url))
        return refuse(tr("Only http and https addresses can be subscribed"));
    if (find(url))
        return refuse(tr("This list is already subscribed"));
    if (m_entries.size() >= MaxLists)
        return refuse(tr("Too many lists"));
    Entry e;
    e.url = url;
    e.title = fileNameOf(url);
    e.file = QString::fromLatin1(QCryptographicHash::hash(url.toEncoded(), QCryptographicHash::Sha1).toHex().left(16))
        + QStringLiteral(".txt");
    QFile::remove(copyPath(e)); // a leftover of an earlier subscription
    m_entries.append(e);
    save();
    Q_EMIT listsChanged();
    if (!snapshotPath(url).isEmpty())
        Q_EMIT sourcesChanged();
    if (m_tunnelUp)
        start(m_entries.last());
    return true;
}

bool FilterListManager::removeList(const QUrl &url)
{
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i].url != url)
            continue;
        if (QNetworkReply *reply = m_replies.take(url)) {
            reply->disconnect(this);
            reply->abort();
            reply->deleteLater();
        }
        QFile::remove(copyPath(m_entries[i]));
        m_entries.removeAt(i);
        save();
        Q_EMIT listsChanged();
        Q_EMIT sourcesChanged();
        return true;
    }
    return false;
}

QList<FilterListManager::LineError> FilterListManager::checkRules(const QString &text)
{
    QList<LineError> errors;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        const FilterRule rule = FilterRule::parse(lines[i]);
        if (rule.kind == FilterRule::Kind::Skipped || rule.kind == FilterRule::Kind::Invalid)
            errors.append({i + 1, rule.reason});
    }
    return errors;
}

QList<FilterListManager::LineError> FilterListManager::setUserRules(const QString &text)
{
    const QList<LineError> errors = checkRules(text);
    if (text == m_userRules)
        return errors;
    m_userRules = text;
    if (!StoreFile::write(m_dataFolder + QStringLiteral("/myfilters.txt"), text.toUtf8()))
        qWarning() << "FilterListManager: could not save My filters in" << m_dataFolder;
    Q_EMIT sourcesChanged();
    return errors;
}

QList<FilterEngineLoader::Input> FilterListManager::inputs() const
{
    QList<FilterEngineLoader::Input> out;
    for (const Entry &e : m_entries) {
        QString path = copyPath(e);
        if (!QFileInfo::exists(path))
            path = snapshotPath(e.url);
        if (!path.isEmpty())
            out.append({e.title, path, {}});
    }
    if (!m_userRules.trimmed().isEmpty())
        out.append({tr("My filters"), QString(), m_userRules.toUtf8()});
    return out;
}

void FilterListManager::noteRuleCounts(const QList<FilterEngine::ListStats> &stats)
{
    bool changed = false;
    for (const FilterEngine::ListStats &list : stats) {
        for (Entry &e : m_entries) {
            const int rules = list.networkRules + list.hidingRules;
            if (e.title == list.name && e.ruleCount != rules) {
                e.ruleCount = rules;
                changed = true;
            }
        }
    }
    if (!changed)
        return;
    save();
    Q_EMIT listsChanged();
}

void FilterListManager::waitForIdle()
{
    m_pool.waitForDone();
    QCoreApplication::sendPostedEvents(this);
}

// ---- updates ----------------------------------------------------------------

void FilterListManager::setTunnelUp(bool up)
{
    if (up == m_tunnelUp)
        return;
    m_tunnelUp = up;
    if (up) {
        checkForUpdates();
        return;
    }
    // Nothing of ours may go on outside the tunnel.
    const QList<QUrl> urls = m_replies.keys();
    for (const QUrl &url : urls) {
        QNetworkReply *reply = m_replies.take(url);
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
        fail(url, tr("The VPN tunnel went down during the download"));
    }
}

void FilterListManager::checkForUpdates()
{
    if (!m_tunnelUp)
        return;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (Entry &e : m_entries) {
        if (m_replies.contains(e.url))
            continue;
        const bool expired = !e.lastUpdate.isValid() || e.lastUpdate.addSecs(qint64(e.expiryHours) * 3600) <= now;
        const bool resting = !e.lastError.isEmpty() && e.lastAttempt.isValid()
            && e.lastAttempt.addSecs(RetryAfterMinutes * 60) > now;
        if (expired && !resting)
            start(e);
    }
}

void FilterListManager::updateNow()
{
    if (!m_tunnelUp) {
        for (Entry &e : m_entries)
            e.lastError = tr("Not updated: no VPN tunnel is up");
        save();
        Q_EMIT listsChanged();
        return;
    }
    for (Entry &e : m_entries) {
        if (!m_replies.contains(e.url))
            start(e);
    }
}

void FilterListManager::start(Entry &e)
{
    if (!m_tunnelUp)
        return;
    if (!m_network) {
        m_network = new QNetworkAccessManager(this);
        m_network->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
    }
    QNetworkRequest request(e.url);
    request.setTransferTimeout(m_timeoutMs);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    // Conditional only while our copy is there to fall back on.
    if (QFileInfo::exists(copyPath(e))) {
        if (!e.etag.isEmpty())
            request.setRawHeader("If-None-Match", e.etag);
        if (!e.lastModified.isEmpty())
            request.setRawHeader("If-Modified-Since", e.lastModified);
    }
    e.lastAttempt = QDateTime::currentDateTimeUtc();
    QNetworkReply *reply = m_network->get(request);
    const QUrl url = e.url;
    m_replies.insert(url, reply);
    const qint64 cap = m_maxBytes;
    // The cap holds whatever the server announces: stop as soon as it is passed.
    const auto checkSize = [this, reply, url, cap](qint64 received) {
        const qint64 announced = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
        if (received > cap || announced > cap) {
            reply->disconnect(this);
            m_replies.remove(url);
            reply->abort();
            reply->deleteLater();
            fail(url, tr("The list is larger than %1 MiB").arg(cap / (1024 * 1024)));
        }
    };
    connect(reply, &QNetworkReply::metaDataChanged, this, [checkSize] { checkSize(0); });
    connect(reply, &QNetworkReply::downloadProgress, this, [checkSize](qint64 received, qint64) { checkSize(received); });
    connect(reply, &QNetworkReply::finished, this, [this, reply, url] { onFinished(reply, url); });
    Q_EMIT listsChanged();
}

void FilterListManager::onFinished(QNetworkReply *reply, const QUrl &url)
{
    reply->deleteLater();
    if (m_replies.value(url) != reply)
        return;
    m_replies.remove(url);
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() != QNetworkReply::NoError) {
        fail(url, reply->error() == QNetworkReply::OperationCanceledError ? tr("The download timed out")
                                                                          : reply->errorString());
        return;
    }
    Entry *e = find(url);
    if (!e)
        return;
    if (status == 304) {
        e->lastUpdate = QDateTime::currentDateTimeUtc();
        e->lastError.clear();
        save();
        Q_EMIT listsChanged();
        return;
    }
    if (status != 200) {
        fail(url, tr("The server answered %1").arg(status));
        return;
    }
    const QByteArray body = reply->readAll();
    if (body.size() > m_maxBytes) {
        fail(url, tr("The list is larger than %1 MiB").arg(m_maxBytes / (1024 * 1024)));
        return;
    }
    if (!looksLikeFilterList(body)) {
        fail(url, tr("The download is not an Adblock Plus filter list"));
        return;
    }
    const QByteArray etag = reply->rawHeader("ETag");
    const QByteArray lastModified = reply->rawHeader("Last-Modified");
    // Counting parses the whole list: not on this thread.
    m_pool.start([this, url, body, etag, lastModified] {
        const int rules = countRules(body);
        QMetaObject::invokeMethod(this, [this, url, body, etag, lastModified, rules] {
            accept(url, body, etag, lastModified, rules);
        }, Qt::QueuedConnection);
    });
}

void FilterListManager::accept(const QUrl &url, const QByteArray &body, const QByteArray &etag,
                               const QByteArray &lastModified, int rules)
{
    Entry *e = find(url);
    if (!e)
        return; // removed meanwhile
    // A list that lost more than half its rules is a broken download
    // (truncated, or a placeholder), not an update.
    const int before = QFileInfo::exists(copyPath(*e)) ? e->ruleCount : 0;
    if (rules < 1 || rules < before / 2) {
        fail(url, tr("The download holds too few rules (%1)").arg(rules));
        return;
    }
    if (!StoreFile::write(copyPath(*e), body)) {
        fail(url, tr("The list could not be saved"));
        return;
    }
    e->etag = etag;
    e->lastModified = lastModified;
    e->lastUpdate = QDateTime::currentDateTimeUtc();
    e->expiryHours = expiryHours(body);
    e->ruleCount = rules;
    e->lastError.clear();
    const QString title = listTitle(body);
    if (!title.isEmpty())
        e->title = title;
    save();
    Q_EMIT listsChanged();
    Q_EMIT sourcesChanged();
}

void FilterListManager::fail(const QUrl &url, const QString &error)
{
    Entry *e = find(url);
    if (!e)
        return;
    qWarning().noquote() << "FilterListManager:" << url.toDisplayString() << "not updated:" << error;
    e->lastError = error;
    save();
    Q_EMIT listsChanged();
}

void FilterListManager::countInBackground(const QUrl &url)
{
    Entry *e = find(url);
    if (!e)
        return;
    QString path = copyPath(*e);
    if (!QFileInfo::exists(path))
        path = snapshotPath(url);
    if (path.isEmpty())
        return;
    m_pool.start([this, url, path] {
        QFile f(path);
        const QByteArray text = f.open(QIODevice::ReadOnly) ? f.read(256 * 1024 * 1024) : QByteArray();
        const int rules = countRules(text);
        const QString title = listTitle(text);
        QMetaObject::invokeMethod(this, [this, url, rules, title] {
            Entry *e = find(url);
            if (!e)
                return;
            e->ruleCount = rules;
            if (!title.isEmpty())
                e->title = title;
            Q_EMIT listsChanged();
        }, Qt::QueuedConnection);
    });
}

// ---- list text ----------------------------------------------------------------

bool FilterListManager::looksLikeFilterList(const QByteArray &text)
{
    QByteArrayView head(text);
    if (head.startsWith("\xEF\xBB\xBF"))
        head = head.sliced(3);
    return head.startsWith("[Adblock Plus");
}

namespace {
// The first lines of a list, where its header is (each trimmed, capped).
QStringList headerLines(const QByteArray &text)
{
    QStringList lines;
    qsizetype pos = 0;
    for (int line = 0; line < 64 && pos < text.size(); ++line) {
        qsizetype end = text.indexOf('\n', pos);
        if (end < 0)
            end = text.size();
        lines.append(QString::fromUtf8(text.constData() + pos, qMin<qsizetype>(end - pos, 256)).trimmed());
        pos = end + 1;
    }
    return lines;
}
}

int FilterListManager::expiryHours(const QByteArray &text)
{
    static const QRegularExpression expires(
        QStringLiteral("^!\\s*Expires\\s*:\\s*(\\d+)\\s*(d|day|days|h|hour|hours)\\b"),
        QRegularExpression::CaseInsensitiveOption);
    // The header is at the top; a list with none keeps the default.
    for (const QString &l : headerLines(text)) {
        if (!l.startsWith(QLatin1Char('!')) && !l.startsWith(QLatin1Char('[')))
            break;
        const QRegularExpressionMatch m = expires.match(l);
        if (!m.hasMatch())
            continue;
        const int n = qBound(0, m.captured(1).left(4).toInt(), 9999);
        const int hours = m.captured(2).startsWith(QLatin1Char('h'), Qt::CaseInsensitive) ? n : n * 24;
        return qBound(1, hours, 24 * 30);
    }
    return DefaultExpiryHours;
}

QString FilterListManager::listTitle(const QByteArray &text)
{
    for (const QString &l : headerLines(text)) {
        if (l.startsWith(QLatin1String("! Title:")))
            return l.mid(8).trimmed().left(80);
    }
    return {};
}

int FilterListManager::countRules(const QByteArray &text)
{
    int rules = 0;
    qsizetype pos = 0;
    while (pos < text.size()) {
        qsizetype end = pos;
        while (end < text.size() && text[end] != '\n' && text[end] != '\r')
            ++end;
        if (end > pos && end - pos <= FilterRule::MaxLineLength) {
            const FilterRule rule = FilterRule::parse(QString::fromUtf8(text.constData() + pos, end - pos));
            if (rule.kind == FilterRule::Kind::Network || rule.kind == FilterRule::Kind::ElementHide)
                ++rules;
        }
        pos = end + 1;
    }
    return rules;
}
