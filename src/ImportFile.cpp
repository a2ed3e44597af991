#include "ImportFile.h"

#include <QFile>
#include <QFileInfo>

QString ImportFile::sizeText(qint64 bytes)
{
    if (bytes >= 1024 * 1024)
        return QStringLiteral("%1 MB").arg(bytes / (1024 * 1024));
    return QStringLiteral("%1 KB").arg(qMax<qint64>(1, bytes / 1024));
}

bool ImportFile::read(const QString &path, qint64 cap, QByteArray *bytes, QString *error)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        *error = QStringLiteral("the file does not exist");
        return false;
    }
    // A pipe or a device would never end, or block the window while it is read.
    if (!info.isFile()) {
        *error = QStringLiteral("it is not a regular file");
        return false;
    }
    const QString tooLarge = QStringLiteral("the file is larger than %1").arg(sizeText(cap));
    if (info.size() > cap) {
        *error = tooLarge;
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    *bytes = file.read(cap + 1);
    if (bytes->size() > cap) {
        bytes->clear();
        *error = tooLarge;
        return false;
    }
    return true;
}
