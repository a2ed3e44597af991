#pragma once
// The contents tst_storekill and its helper agree on: generation g of each
// store, and the check that a file holds one complete generation.

#include "DataManager.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

namespace StoreKillShapes {

constexpr int Records = 200;
inline QString filler() { return QString(300, QLatin1Char('~')); }

inline QString url(qint64 g) { return QStringLiteral("https://mark.test/%1").arg(g); }
inline QString title(qint64 g) { return QStringLiteral("Mark %1 ").arg(g) + filler(); }
inline QString site() { return QStringLiteral("https://login.test/"); }
inline QString user(qint64 g) { return QStringLiteral("user%1").arg(g % Records); }
inline QString secret(qint64 g) { return QStringLiteral("secret-%1-").arg(g) + filler(); }
inline QString defaultKeyword(qint64 g) { return QStringLiteral("gen-%1").arg(g); }
inline QJsonObject download(qint64 g)
{
    return QJsonObject{{QStringLiteral("url"), QStringLiteral("https://files.test/%1").arg(g)},
                       {QStringLiteral("filename"), QStringLiteral("file-%1.bin").arg(g)},
                       {QStringLiteral("path"), QStringLiteral("/downloads/file-%1.bin ").arg(g) + filler()},
                       {QStringLiteral("finished"), QStringLiteral("2025-03-01T14:05:09")},
                       {QStringLiteral("size"), double(g)}};
}

inline QJsonObject settings(qint64 g)
{
    QJsonObject o{{QStringLiteral("generation"), QString::number(g)}};
    for (int i = 0; i < Records; ++i)
        o.insert(QStringLiteral("key%1").arg(i), QStringLiteral("value %1 ").arg(g) + filler());
    return o;
}

inline QJsonArray session(qint64 g)
{
    QJsonArray a;
    for (int i = 0; i < Records; ++i)
        a.append(QJsonObject{{QStringLiteral("url"), QStringLiteral("https://tab.test/%1").arg(i)},
                             {QStringLiteral("title"), QStringLiteral("Tab %1 of %2 ").arg(i).arg(g) + filler()},
                             {QStringLiteral("pinned"), false}});
    return a;
}

} // namespace StoreKillShapes
