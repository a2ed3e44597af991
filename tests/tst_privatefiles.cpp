#include "PrivateConfigFile.h"
#include "PrivateFolder.h"
#include "StoreFile.h"

#include <QtTest>

#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

// Secret files in shared folders, the private folder of the printed page, and
// the order of the calls behind an atomic write.
//
// This program defines fsync, rename, renameat and the lstat/fstatat family
// itself: every call in the process reaches these first (as an LD_PRELOAD
// shim would), and they pass it on to the C library. They record which files
// were flushed and which were renamed into place, and can plant a link right
// after a file name was checked, as a local attacker racing the browser would.
namespace shim {
struct Inode {
    dev_t dev;
    ino_t ino;
    bool operator==(const Inode &o) const { return dev == o.dev && ino == o.ino; }
};
struct Renamed {
    Inode inode;
    bool flushed;
};
bool recording = false;
QList<Inode> flushed;
QList<Renamed> renamed;
// The next check of a path whose last part is plantName makes a link
// plantLink -> plantTarget.
QByteArray plantName, plantLink, plantTarget;

template <typename F>
F next(const char *name)
{
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

int realFstatat(int dir, const char *path, struct stat *st, int flags)
{
    static const auto f = next<int (*)(int, const char *, struct stat *, int)>("fstatat");
    return f(dir, path, st, flags);
}

void noteRename(int dir, const char *from)
{
    struct stat st {};
    if (recording && realFstatat(dir, from, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        const Inode inode{st.st_dev, st.st_ino};
        renamed.append({inode, flushed.contains(inode)});
    }
}

void afterCheck(const char *path)
{
    if (plantName.isEmpty() || !path)
        return;
    const char *slash = std::strrchr(path, '/');
    if (plantName != QByteArray(slash ? slash + 1 : path))
        return;
    plantName.clear();
    ::symlink(plantTarget.constData(), plantLink.constData());
}
}

extern "C" {
int fsync(int fd)
{
    static const auto f = shim::next<int (*)(int)>("fsync");
    struct stat st {};
    if (shim::recording && ::fstat(fd, &st) == 0)
        shim::flushed.append({st.st_dev, st.st_ino});
    return f(fd);
}

int rename(const char *from, const char *to) noexcept
{
    static const auto f = shim::next<int (*)(const char *, const char *)>("rename");
    shim::noteRename(AT_FDCWD, from);
    return f(from, to);
}

int renameat(int fromDir, const char *from, int toDir, const char *to) noexcept
{
    static const auto f = shim::next<int (*)(int, const char *, int, const char *)>("renameat");
    shim::noteRename(fromDir, from);
    return f(fromDir, from, toDir, to);
}

int fstatat(int dir, const char *path, struct stat *st, int flags) noexcept
{
    const int result = shim::realFstatat(dir, path, st, flags);
    shim::afterCheck(path);
    return result;
}

int fstatat64(int dir, const char *path, struct stat64 *st, int flags) noexcept
{
    static const auto f = shim::next<int (*)(int, const char *, struct stat64 *, int)>("fstatat64");
    const int result = f(dir, path, st, flags);
    shim::afterCheck(path);
    return result;
}

int lstat(const char *path, struct stat *st) noexcept
{
    static const auto f = shim::next<int (*)(const char *, struct stat *)>("lstat");
    const int result = f(path, st);
    shim::afterCheck(path);
    return result;
}

int lstat64(const char *path, struct stat64 *st) noexcept
{
    static const auto f = shim::next<int (*)(const char *, struct stat64 *)>("lstat64");
    const int result = f(path, st);
    shim::afterCheck(path);
    return result;
}
}

namespace {
struct stat lstatOf(const QString &path)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        st.st_mode = 0;
    return st;
}

QByteArray contentOf(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool put(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

uid_t otherUser()
{
    const passwd *nobody = ::getpwnam("nobody");
    return nobody ? nobody->pw_uid : 65534;
}

bool makeFolder(const QString &path, mode_t mode)
{
    return QDir().mkpath(path) && ::chmod(QFile::encodeName(path).constData(), mode) == 0;
}
}

class TestPrivateFiles : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }
    void cleanup()
    {
        shim::recording = false;
        shim::plantName.clear();
    }

    // Only a regular file of ours is replaced, by a new 0600 file; whatever
    // else sits at the name stays, and the file a link points to is never
    // written. "link after the check" is the race of a check by path followed
    // by a write by path: the link appears between the two.
    void secretFileNeverFollowsALink_data()
    {
        QTest::addColumn<QString>("folder");  // where the file goes
        QTest::addColumn<QString>("planted"); // what sits at its name
        QTest::addColumn<bool>("written");
        QTest::newRow("nothing there, shared folder") << "shared" << "" << true;
        QTest::newRow("own old file, world-readable") << "shared" << "own file" << true;
        QTest::newRow("link to a victim file") << "shared" << "link" << false;
        QTest::newRow("another user's file") << "shared" << "other user's file" << false;
        QTest::newRow("a folder") << "shared" << "folder" << false;
        QTest::newRow("link after the check") << "shared" << "link after the check" << true;
        QTest::newRow("shared folder reached through a link") << "link to shared" << "" << false;
        QTest::newRow("own folder reached through a link") << "link to own" << "" << true;
        QTest::newRow("missing folders are made") << "own/new/sub" << "" << true;
    }
    void secretFileNeverFollowsALink()
    {
        QFETCH(QString, folder);
        QFETCH(QString, planted);
        QFETCH(bool, written);
        if (planted == u"other user's file" && ::geteuid() != 0)
            QSKIP("needs root to make another user's file");
        QTemporaryDir base;
        const QString victim = base.filePath("victim"), dir = base.filePath(folder), path = dir + "/orvex_is1.conf";
        QVERIFY(put(victim, "precious") && makeFolder(base.filePath("shared"), 01777) && makeFolder(base.filePath("own"), 0700));
        QVERIFY(QFile::link(base.filePath("shared"), base.filePath("link to shared")));
        QVERIFY(QFile::link(base.filePath("own"), base.filePath("link to own")));
        if (planted == u"own file" || planted == u"other user's file")
            QVERIFY(put(path, "old") && ::chmod(QFile::encodeName(path).constData(), 0644) == 0);
        if (planted == u"other user's file")
            QCOMPARE(::chown(QFile::encodeName(path).constData(), otherUser(), otherUser()), 0);
        if (planted == u"link")
            QVERIFY(QFile::link(victim, path));
        if (planted == u"folder")
            QVERIFY(QDir().mkdir(path));
        const struct stat before = lstatOf(path);
        if (planted == u"link after the check") {
            shim::plantName = "orvex_is1.conf";
            shim::plantLink = QFile::encodeName(path);
            shim::plantTarget = QFile::encodeName(victim);
        }
        const mode_t oldMask = ::umask(0);
        const bool ok = PrivateConfigFile::write(path, "[Interface]\n");
        ::umask(oldMask);

        QCOMPARE(ok, written);
        QVERIFY(shim::plantName.isEmpty()); // the check the race needs did happen
        QCOMPARE(contentOf(victim), QByteArray("precious"));
        const struct stat after = lstatOf(path);
        if (written) {
            QVERIFY(S_ISREG(after.st_mode));
            QCOMPARE(after.st_mode & 07777, mode_t(0600));
            QCOMPARE(after.st_uid, ::geteuid());
            QCOMPARE(contentOf(path), QByteArray("[Interface]\n"));
        } else {
            QCOMPARE(after.st_mode, before.st_mode);
            QCOMPARE(after.st_ino, before.st_ino);
        }
        // No temporary is left behind, whatever happened.
        const QStringList left = QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
        QCOMPARE(left, QFileInfo::exists(path) || QFileInfo(path).isSymLink() ? QStringList{"orvex_is1.conf"} : QStringList());
    }

    // Fresh folders fall back to one mkdtemp folder per run in the
    // temporary folder; "none" when not even that can be made.
    void privateFolderIsOursAlone_data()
    {
        QTest::addColumn<QString>("runtime"); // how $XDG_RUNTIME_DIR is set up
        QTest::addColumn<QString>("expected");
        QTest::newRow("runtime folder") << "run" << "runtime";
        QTest::newRow("own folder in it left open to others") << "run, ours open" << "runtime";
        QTest::newRow("no runtime folder set") << "" << "temp";
        QTest::newRow("relative runtime folder") << "relative" << "temp";
        QTest::newRow("runtime folder open to others") << "open" << "temp";
        QTest::newRow("runtime folder is a link") << "link" << "temp";
        QTest::newRow("runtime folder of another user") << "other user's" << "temp";
        QTest::newRow("our folder in it is a link") << "run, ours a link" << "temp";
        QTest::newRow("our folder in it is another user's") << "run, ours another user's" << "temp";
        QTest::newRow("nothing usable") << "" << "none";
    }
    void privateFolderIsOursAlone()
    {
        QFETCH(QString, runtime);
        QFETCH(QString, expected);
        if (runtime.contains(u"other user's") || runtime.contains(u"another user's")) {
            if (::geteuid() != 0)
                QSKIP("needs root to make another user's folder");
        }
        QTemporaryDir base;
        const QString run = base.filePath("run"), own = run + "/orvexbrowser", elsewhere = base.filePath("elsewhere");
        QString temp = base.filePath("tmp"), runtimeDir = run;
        QVERIFY(makeFolder(temp, 01777) && makeFolder(run, 0700) && makeFolder(elsewhere, 0700));
        if (runtime.isEmpty())
            runtimeDir.clear();
        if (runtime == u"relative")
            runtimeDir = QDir(QDir::currentPath()).relativeFilePath(run);
        if (runtime == u"open")
            QCOMPARE(::chmod(QFile::encodeName(run).constData(), 0755), 0);
        if (runtime == u"link") {
            runtimeDir = base.filePath("runlink");
            QVERIFY(QFile::link(run, runtimeDir));
        }
        if (runtime == u"other user's")
            QCOMPARE(::chown(QFile::encodeName(run).constData(), otherUser(), otherUser()), 0);
        if (runtime == u"run, ours open")
            QVERIFY(makeFolder(own, 0755));
        if (runtime == u"run, ours a link")
            QVERIFY(QFile::link(elsewhere, own));
        if (runtime == u"run, ours another user's") {
            QVERIFY(makeFolder(own, 0700));
            QCOMPARE(::chown(QFile::encodeName(own).constData(), otherUser(), otherUser()), 0);
        }
        if (expected == u"none") {
            temp = base.filePath("a file");
            QVERIFY(put(temp, "x"));
        }

        const QString found = PrivateFolder::locate(runtimeDir, temp);
        if (expected == u"none") {
            QCOMPARE(found, QString());
            return;
        }
        const struct stat st = lstatOf(found);
        QVERIFY2(S_ISDIR(st.st_mode), qPrintable(found));
        QCOMPARE(st.st_mode & 07777, mode_t(0700));
        QCOMPARE(st.st_uid, ::geteuid());
        if (expected == u"runtime") {
            QCOMPARE(found, own);
            return;
        }
        QVERIFY2(found.startsWith(temp + "/orvexbrowser-"), qPrintable(found));
        // The same folder for the rest of the run, until it is no longer private.
        QCOMPARE(PrivateFolder::locate(runtimeDir, temp), found);
        QCOMPARE(::chmod(QFile::encodeName(found).constData(), 0755), 0);
        const QString fresh = PrivateFolder::locate(runtimeDir, temp);
        QVERIFY(fresh != found && fresh.startsWith(temp + "/orvexbrowser-"));
    }

    // The temporary file is flushed to disk before it is renamed over the old
    // one: otherwise a power cut can leave an empty file in its place.
    void atomicWritesFlushBeforeRenaming_data()
    {
        QTest::addColumn<QString>("writer");
        QTest::newRow("store file") << "store";
        QTest::newRow("secret store file") << "secret";
        QTest::newRow("store file through the user's link") << "link";
        QTest::newRow("secret file in a shared folder") << "private";
    }
    void atomicWritesFlushBeforeRenaming()
    {
        QFETCH(QString, writer);
        QTemporaryDir base;
        const QString path = base.filePath("data.json"), real = base.filePath("dotfiles/data.json");
        QVERIFY(put(path, "[]"));
        if (writer == u"link")
            QVERIFY(QFile::remove(path) && QDir().mkpath(base.filePath("dotfiles")) && put(real, "[]") && QFile::link(real, path));
        shim::flushed.clear();
        shim::renamed.clear();
        shim::recording = true;
        const QByteArray data = "[1]";
        const bool ok = writer == u"private" ? PrivateConfigFile::write(path, data)
                                             : StoreFile::write(path, data, writer == u"secret" ? StoreFile::Access::Secret
                                                                                                 : StoreFile::Access::Normal);
        shim::recording = false;
        QVERIFY(ok);
        QCOMPARE(contentOf(path), data);
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0); // the link's target for "link"
        const shim::Inode placed{st.st_dev, st.st_ino};
        QCOMPARE(shim::renamed.size(), 1);
        QVERIFY(shim::renamed.first().inode == placed);
        QVERIFY2(shim::renamed.first().flushed, "renamed into place before fsync");
    }
};

QTEST_GUILESS_MAIN(TestPrivateFiles)
#include "tst_privatefiles.moc"
