#pragma once
// Shared by the libFuzzer targets in this folder (header only: every .cpp
// here is one target).

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

// A failed property is a crash for libFuzzer, which then keeps the input.
#define FUZZ_CHECK(cond)                                                                   \
    do {                                                                                   \
        if (!(cond)) {                                                                     \
            std::fprintf(stderr, "property failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
            std::abort();                                                                  \
        }                                                                                  \
    } while (0)

namespace fuzz {

// Damaged input is reported through qWarning by design; keep the last
// messages for the checks instead of flooding the terminal.
inline QStringList &messages()
{
    static QStringList list;
    return list;
}

inline void captureMessages()
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &text) {
        QStringList &list = messages();
        list.append(text);
        if (list.size() > 256)
            list.removeFirst();
    });
}

// Every iteration writes files; tmpfs keeps that fast and spares the disk.
inline QString scratch()
{
    static QTemporaryDir dir(QDir(QStringLiteral("/dev/shm")).exists()
                                 ? QStringLiteral("/dev/shm/orvexfuzz-XXXXXX")
                                 : QDir::tempPath() + QStringLiteral("/orvexfuzz-XXXXXX"));
    return dir.path();
}

// A fresh, empty configuration folder for one iteration.
inline QString freshConfig()
{
    const QString path = scratch() + QStringLiteral("/config");
    QDir(path).removeRecursively();
    QDir().mkpath(path + QStringLiteral("/orvexbrowser"));
    return path;
}

inline void writeRaw(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    FUZZ_CHECK(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    FUZZ_CHECK(f.write(bytes) == bytes.size());
}

inline QByteArray readRaw(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace fuzz
