#include "ServiceEndpoints.h"

namespace {
QString g_accountUrl = QStringLiteral(ORVEX_ACCOUNT_URL);
QUrl g_ollamaUrl = QUrl(QStringLiteral("http://localhost:11434/api/generate"));

QString withoutTrailingSlash(QString url)
{
    while (url.endsWith(QLatin1Char('/')))
        url.chop(1);
    return url;
}
}

QString ServiceEndpoints::accountUrl()
{
    return withoutTrailingSlash(g_accountUrl);
}

void ServiceEndpoints::setAccountUrl(const QString &url)
{
    g_accountUrl = url;
}

QUrl ServiceEndpoints::ollamaGenerateUrl()
{
    return g_ollamaUrl;
}

void ServiceEndpoints::setOllamaGenerateUrl(const QUrl &url)
{
    g_ollamaUrl = url;
}

void ServiceEndpoints::reset()
{
    g_accountUrl = QStringLiteral(ORVEX_ACCOUNT_URL);
    g_ollamaUrl = QUrl(QStringLiteral("http://localhost:11434/api/generate"));
}
