#include "BookmarksDialog.h"
#include "DataManager.h"
#include "HistoryDialog.h"
#include "ModalAnswerer.h"
#include "PasswordDialog.h"
#include "PrivacyDashboard.h"
#include "PrivacyEngine.h"
#include "RequestInterceptor.h"
#include "SearchManager.h"
#include "SettingsDialog.h"
#include "TempDataDir.h"

#include <QtTest>
#include <QtWidgets>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

// Column `column` of each table row (of the rows not hidden).
static QStringList cells(const QTableWidget *table, int column)
{
    QStringList out;
    for (int row = 0; row < table->rowCount(); ++row) {
        if (!table->isRowHidden(row))
            out << table->item(row, column)->text();
    }
    return out;
}

// "title|url" of each bookmark row not hidden.
static QStringList bookmarkRows(const BookmarksDialog &dialog)
{
    QStringList out;
    for (int i = 0; i < dialog.tree()->topLevelItemCount(); ++i) {
        if (const QTreeWidgetItem *item = dialog.tree()->topLevelItem(i); !item->isHidden())
            out << item->text(0) + u'|' + item->text(1);
    }
    return out;
}

// Every stored login as "url|user|clear password", sorted.
static QStringList logins(const DataManager &data)
{
    QStringList out;
    for (const QJsonValue &v : data.getPasswords()) {
        const QJsonObject o = v.toObject();
        out << o.value(u"url"_s).toString() + u'|' + o.value(u"username"_s).toString() + u'|'
                + DataManager::decryptPasswordStatic(o.value(u"password"_s).toString());
    }
    out.sort();
    return out;
}

// The values of the dashboard's statistics grid: ads, trackers, cookies, requests, domains.
static QStringList dashboardStats(const QWidget &dialog)
{
    QStringList out;
    for (const QGroupBox *box : dialog.findChildren<QGroupBox *>()) {
        auto *grid = qobject_cast<QGridLayout *>(box->layout());
        for (int row = 0; box->title() == "Privacy Statistics"_L1 && row < grid->rowCount(); ++row)
            out << qobject_cast<QLabel *>(grid->itemAtPosition(row, 1)->widget())->text();
    }
    return out;
}

// History, bookmarks, passwords, settings and the privacy dashboard, each with a fresh data folder.
class TestLibraryDialogs : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // The offscreen platform notes each modal box it shows.
    void init() { QTest::failOnWarning(QRegularExpression(u"^(?!This plugin does not support )"_s)); }

    // Text and date range narrow together, and a month is one of the picked year.
    // Deleting selected rows is stored.
    void historyFilterAndDelete()
    {
        TempDataDir dir;
        const QStringList urls{"https://docs.example/now", "https://mail.example/old", "https://docs.example/old",
                               "https://docs.example/last-year"};
        const QDateTime now = QDateTime::currentDateTime(), old = now.addDays(-40);
        QJsonArray history;
        for (const QDateTime &when : {now, old, old, old.addYears(-1)})
            history.append(QJsonObject{{u"url"_s, urls.at(history.size())}, {u"timestamp"_s, when.toString(Qt::ISODate)}});
        dir.writeFile(u"history.json"_s, QJsonDocument(history).toJson());
        DataManager data;
        HistoryDialog dialog(&data);
        dialog.datePicker()->setDate(old.date());
        dialog.rangeBox()->setCurrentIndex(HistoryDialog::ThisMonth);
        QTest::keyClicks(dialog.searchField(), u"DOCS"_s);
        QCOMPARE(cells(dialog.table(), 1), QStringList{urls.at(2)});

        dialog.searchField()->clear();
        dialog.rangeBox()->setCurrentIndex(HistoryDialog::All);
        for (int row : {1, 3})
            dialog.table()->selectionModel()->select(dialog.table()->model()->index(row, 0),
                                                     QItemSelectionModel::Select | QItemSelectionModel::Rows);
        ModalAnswerer question({u"Yes"_s});
        QTest::mouseClick(dialog.deleteButton(), Qt::LeftButton);
        QCOMPARE(question.seen().size(), 1);
        DataManager reloaded;
        QCOMPARE(cells(HistoryDialog(&reloaded).table(), 1), (QStringList{urls.at(0), urls.at(2)}));
    }

    // Each change is stored at once; the search matches title or URL in any case; a
    // double-click opens the address.
    void bookmarksChangeFilterAndOpen()
    {
        TempDataDir dir;
        DataManager data;
        data.addBookmark(u"https://a.example/"_s, u"A"_s);
        BookmarksDialog dialog(&data);
        ModalAnswerer prompts({u"https://docs.qt.io/"_s, u"Qt Documentation"_s, u"https://b.example/qt"_s, u"B"_s});
        QTest::mouseClick(dialog.addButton(), Qt::LeftButton);
        QTest::mouseClick(dialog.addButton(), Qt::LeftButton);
        // Edit offers the old values; the edited bookmark moves to the top.
        dialog.tree()->setCurrentItem(dialog.tree()->topLevelItem(2));
        prompts.enqueue({u"https://a2.example/"_s, u"A2"_s});
        QTest::mouseClick(dialog.editButton(), Qt::LeftButton);
        QCOMPARE(prompts.seen().at(4).initialText + prompts.seen().at(5).initialText, u"https://a.example/A"_s);
        dialog.tree()->setCurrentItem(dialog.tree()->topLevelItem(1));
        prompts.enqueue({u"Yes"_s});
        QTest::mouseClick(dialog.deleteButton(), Qt::LeftButton);
        const QStringList expected{"A2|https://a2.example/", "Qt Documentation|https://docs.qt.io/"};
        DataManager reloaded;
        BookmarksDialog reopened(&reloaded);
        QCOMPARE(bookmarkRows(reopened), expected);

        QTest::keyClicks(reopened.searchField(), u"QT"_s);
        QCOMPARE(bookmarkRows(reopened), QStringList{expected.at(1)});
        reopened.searchField()->setText(u"a2.EXAMPLE"_s);
        QCOMPARE(bookmarkRows(reopened), QStringList{expected.at(0)});
        QSignalSpy selected(&reopened, &BookmarksDialog::urlSelected);
        reopened.onItemDoubleClicked(reopened.tree()->topLevelItem(0), 1);
        QCOMPARE(selected.value(0).value(0).toUrl(), QUrl(u"https://a2.example/"_s));
    }

    // Two logins of one site: show and delete act on the selected login only.
    void passwordShowAndDeleteActOnTheirOwnLogin()
    {
        TempDataDir dir;
        DataManager data;
        PasswordDialog dialog(&data);
        ModalAnswerer prompts({"https://site.example", "alice", "pw-alice", "https://site.example", "bob", "pw-bob"});
        QTest::mouseClick(dialog.addButton(), Qt::LeftButton);
        QTest::mouseClick(dialog.addButton(), Qt::LeftButton);
        QCOMPARE(prompts.seen().at(2).echo, QLineEdit::Password);
        dialog.table()->selectRow(1);
        QTest::mouseClick(dialog.showButton(), Qt::LeftButton);
        QCOMPARE(cells(dialog.table(), 2), (QStringList{QString(8, QChar(0x2022)), u"pw-bob"_s}));
        dialog.table()->selectRow(0);
        prompts.enqueue({u"Yes"_s});
        QTest::mouseClick(dialog.deleteButton(), Qt::LeftButton);
        QCOMPARE(logins(DataManager()), QStringList{"https://site.example|bob|pw-bob"});
    }

    // Export is private and obfuscated; import skips and counts malformed entries, replaces
    // the same site and user, keeps the others; a file that is not JSON changes nothing.
    void passwordExportImportRoundTrip()
    {
        TempDataDir dir;
        DataManager data;
        data.addPassword(u"https://a.example"_s, u"ann"_s, u"Secret-A-1234"_s);
        data.addPassword(u"https://b.example"_s, u"ben"_s, u"Secret-B-5678"_s);
        const QJsonArray before = data.getPasswords();
        PasswordDialog dialog(&data);
        QFile file(dir.downloadDir() + u"/logins.json"_s);
        dialog.setFileChooser([&](QWidget *, const QString &, const QString &, const QString &, bool) { return file.fileName(); });
        ModalAnswerer told({u"OK"_s});
        ModalAnswerer::triggerMenuAction(u"OrvexBrowser file (JSON, passwords obfuscated)..."_s);
        QTest::mouseClick(dialog.exportButton(), Qt::LeftButton);
        QTRY_VERIFY(told.allAnswered());
        QCOMPARE(told.seen().last().label, u"Passwords exported successfully!"_s);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray exported = file.readAll();
        file.close();
        QVERIFY(!exported.contains("Secret-"));
        QCOMPARE(QJsonDocument::fromJson(exported).array(), before);
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(file.fileName()).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 0777), 0600);

        QJsonArray withBroken = before;
        withBroken << QJsonObject{{u"url"_s, u"https://bad.example"_s}}
                   << QJsonObject{{u"url"_s, u"c"_s}, {u"username"_s, 5}, {u"password"_s, u"x"_s}} << 7;
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(QJsonDocument(withBroken).toJson()) > 0);
        file.close();
        data.addPassword(u"https://a.example"_s, u"ann"_s, u"changed"_s);
        data.addPassword(u"https://c.example"_s, u"cy"_s, u"Secret-C"_s);
        told.enqueue({u"OK"_s});
        QTest::mouseClick(dialog.importButton(), Qt::LeftButton);
        QVERIFY2(told.seen().last().label.startsWith(u"Passwords imported successfully!"_s)
                     && told.seen().last().label.contains(u"3 of 5 entries were skipped"_s),
                 qPrintable(told.seen().last().label));
        QCOMPARE(logins(data), (QStringList{"https://a.example|ann|Secret-A-1234", "https://b.example|ben|Secret-B-5678",
                                            "https://c.example|cy|Secret-C"}));
        QCOMPARE(dialog.table()->rowCount(), 3);

        const QByteArray store = dir.readFile(u"passwords.json"_s);
        QVERIFY(!store.contains("Secret"));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write("just some notes\n") > 0);
        file.close();
        told.enqueue({u"OK"_s});
        QTest::mouseClick(dialog.importButton(), Qt::LeftButton);
        QVERIFY2(told.seen().last().label.startsWith(u"Import failed: "_s), qPrintable(told.seen().last().label));
        QCOMPARE(dir.readFile(u"passwords.json"_s), store);
    }

    // Engines change at once (name, keyword, URL prompts); saving stores the switches, pushes
    // them into the page's privacy engine and makes the chosen engine the default.
    void settingsEnginesAndSave()
    {
        TempDataDir dir;
        DataManager data;
        SearchManager search;
        PrivacyEngine privacy;
        search.setDefaultEngine(u"ddg"_s);
        SettingsDialog dialog(&data, &privacy, &search);
        QCOMPARE(dialog.engineBox()->currentData().toString(), u"ddg"_s);
        ModalAnswerer prompts({u"Mine"_s, u"mine"_s, u"https://mine.example/?q=%s"_s});
        QTest::mouseClick(dialog.addEngineButton(), Qt::LeftButton);
        QCOMPARE(SearchManager().searchUrl(u"x"_s, u"mine"_s), QUrl(u"https://mine.example/?q=x"_s));
        // Edit offers the old values and moves the default along with a changed keyword.
        const SearchEngine old = search.defaultEngine();
        prompts.enqueue({u"Duck"_s, u"duck"_s, u"https://duck.example/?q=%s"_s});
        QTest::mouseClick(dialog.editEngineButton(), Qt::LeftButton);
        QCOMPARE(prompts.seen().at(3).initialText + prompts.seen().at(5).initialText, old.name + old.url);
        QCOMPARE(SearchManager().defaultEngine().url, u"https://duck.example/?q=%s"_s);
        dialog.engineBox()->setCurrentIndex(dialog.engineBox()->findData(u"yahoo"_s));
        QTest::mouseClick(dialog.removeEngineButton(), Qt::LeftButton);
        QCOMPARE(SearchManager().searchUrl(u"x"_s, u"yahoo"_s).host(), u"duck.example"_s); // unknown: the default

        dialog.engineBox()->setCurrentIndex(dialog.engineBox()->findData(u"mine"_s));
        dialog.privacyCheckBox(u"adBlocking"_s)->setChecked(false);
        QTest::mouseClick(dialog.saveButton(), Qt::LeftButton);
        QCOMPARE(privacy.getPrivacySettings().value(u"adBlocking"_s), QJsonValue(false));
        QCOMPARE(DataManager().getSettings().value(u"adBlocking"_s), QJsonValue(false));
        QCOMPARE(SearchManager().defaultKeyword(), u"mine"_s);
    }

    // The tab's counts, followed while the dialog is open; a confirmed reset clears them.
    void dashboardFollowsAndResets()
    {
        PrivacyEngine engine;
        engine.interceptor()->countBlocked(RequestInterceptor::Verdict::BlockAd, QUrl(u"https://ad.doubleclick.net/x"_s));
        engine.interceptor()->countBlocked(RequestInterceptor::Verdict::BlockAd, QUrl(u"https://ad.doubleclick.net/y"_s));
        PrivacyDashboard dialog(&engine);
        dialog.show();
        QCOMPARE(dashboardStats(dialog), QStringList({"2", "0", "0", "2", "1"}));
        engine.interceptor()->countBlocked(RequestInterceptor::Verdict::BlockTracker, QUrl(u"https://cdn.segment.io/a.js"_s));
        QTRY_COMPARE_WITH_TIMEOUT(dashboardStats(dialog), QStringList({"2", "1", "0", "3", "2"}),
                                  PrivacyDashboard::RefreshIntervalMs + 500);
        // Each blocked host, how often, and what blocked it.
        QCOMPARE(cells(dialog.domains(), 0), QStringList({"ad.doubleclick.net", "cdn.segment.io"}));
        QCOMPARE(cells(dialog.domains(), 1), QStringList({"2", "1"}));
        QCOMPARE(cells(dialog.domains(), 2), QStringList({"Built-in ad list", "Built-in tracker list"}));
        QVERIFY(dialog.siteProtectionBox()->isHidden()); // no site, no switch
        ModalAnswerer question({u"Yes"_s});
        dialog.findChild<QPushButton *>(u"resetStatsButton"_s)->click();
        QCOMPARE(question.seen().size(), 1);
        QCOMPARE(dashboardStats(dialog), QStringList({"0", "0", "0", "0", "0"}));
        QCOMPARE(engine.getPrivacyStats().value("adsBlocked").toInt(), 0);
    }
};

QTEST_MAIN(TestLibraryDialogs)
#include "tst_librarydialogs.moc"
