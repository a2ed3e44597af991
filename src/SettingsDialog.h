#pragma once

#include <QDialog>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>

#include "DefaultBrowser.h"

class ContentBlocker;
class DataManager;
class FilterListsPanel;
class PrivacyEngine;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTabWidget;
class SearchManager;

// Preferences: default browser, the ten privacy switches, the search engines,
// theme and font size, and the engine switches. Only "Save" writes settings
// (keeping keys other features store in settings.json); engine add, edit and
// remove act at once. The caller applies the saved settings to the window and
// its tabs.
class SettingsDialog : public QDialog
{
    Q_OBJECT
public:
    SettingsDialog(DataManager *dataManager, PrivacyEngine *privacy, SearchManager *searchManager,
                   QWidget *parent = nullptr);

    // The filter lists, My filters and the sites without protection on the
    // Privacy tab (disabled without one).
    void setContentBlocker(ContentBlocker *blocker);
    FilterListsPanel *filterListsPanel() const { return m_filterLists; }

    // Settings key and caption of each privacy switch, in display order.
    static const QList<QPair<QString, QString>> &privacySwitches();
    // "dark" -> 0, "light" -> 1, anything else -> 2 ("System"); missing is "dark".
    static int themeIndex(const QJsonObject &settings);
    // "small" -> 0, "large" -> 2, anything else (missing too) -> 1 ("Medium").
    static int fontSizeIndex(const QJsonObject &settings);
    // Why a search address template is refused, or an empty string when it
    // is fine: an http(s) address with a host and "%s" outside the host.
    static QString engineUrlProblem(const QString &url);

    QTabWidget *tabs() const { return m_tabs; }
    QCheckBox *privacyCheckBox(const QString &key) const;
    QComboBox *engineBox() const { return m_engineBox; }
    QComboBox *themeBox() const { return m_themeBox; }
    QComboBox *fontSizeBox() const { return m_fontSizeBox; }
    QCheckBox *hardwareAccelerationBox() const { return m_hardwareAcceleration; }
    QCheckBox *javaScriptBox() const { return m_javaScript; }
    QCheckBox *pluginsBox() const { return m_plugins; }
    QPushButton *addEngineButton() const { return m_addEngineButton; }
    QPushButton *editEngineButton() const { return m_editEngineButton; }
    QPushButton *removeEngineButton() const { return m_removeEngineButton; }
    QPushButton *saveButton() const { return m_saveButton; }
    QPushButton *cancelButton() const { return m_cancelButton; }
    QLabel *defaultBrowserLabel() const { return m_defaultStatus; }
    QPushButton *makeDefaultButton() const { return m_makeDefaultButton; }
    // Its program can be replaced before the dialog is first shown (tests).
    DefaultBrowser *defaultBrowser() const { return m_defaultBrowser; }

public Q_SLOTS:
    void onSave();
    void onCancel();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void setupUI();
    void loadSettings();
    void saveSettings();
    void onAddEngine();
    void onEditEngine();
    void onRemoveEngine();
    bool acceptEngineUrl(const QString &title, const QString &url);
    void onMakeDefault();
    void onDefaultBrowserAnswer(const DefaultBrowser::Outcome &outcome);

    DataManager *m_data = nullptr;
    PrivacyEngine *m_privacy = nullptr;
    SearchManager *m_search = nullptr;
    QTabWidget *m_tabs = nullptr;
    QList<QCheckBox *> m_privacyBoxes; // in privacySwitches() order
    FilterListsPanel *m_filterLists = nullptr;
    QComboBox *m_engineBox = nullptr;
    QPushButton *m_addEngineButton = nullptr;
    QPushButton *m_editEngineButton = nullptr;
    QPushButton *m_removeEngineButton = nullptr;
    QComboBox *m_themeBox = nullptr;
    QComboBox *m_fontSizeBox = nullptr;
    QCheckBox *m_hardwareAcceleration = nullptr;
    QCheckBox *m_javaScript = nullptr;
    QCheckBox *m_plugins = nullptr;
    QPushButton *m_saveButton = nullptr;
    QPushButton *m_cancelButton = nullptr;
    QLabel *m_defaultStatus = nullptr;
    QPushButton *m_makeDefaultButton = nullptr;
    DefaultBrowser *m_defaultBrowser = nullptr;
    bool m_checkedDefault = false;
};
