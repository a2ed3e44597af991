#pragma once

#include <QDialog>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>

class DataManager;
class PrivacyEngine;
class QCheckBox;
class QComboBox;
class QPushButton;
class QTabWidget;
class SearchManager;

// Preferences: the ten privacy switches, the search engines and the theme.
// Only "Save" writes settings; engine add/edit/remove act at once.
class SettingsDialog : public QDialog
{
    Q_OBJECT
public:
    SettingsDialog(DataManager *dataManager, PrivacyEngine *privacy, SearchManager *searchManager,
                   QWidget *parent = nullptr);

    // Settings key and caption of each privacy switch, in display order.
    static const QList<QPair<QString, QString>> &privacySwitches();
    // "dark" -> 0, "light" -> 1, anything else -> 2 ("System"); missing is "dark".
    static int themeIndex(const QJsonObject &settings);

    QCheckBox *privacyCheckBox(const QString &key) const;
    QComboBox *engineBox() const { return m_engineBox; }
    QComboBox *themeBox() const { return m_themeBox; }
    QPushButton *addEngineButton() const { return m_addEngineButton; }
    QPushButton *editEngineButton() const { return m_editEngineButton; }
    QPushButton *removeEngineButton() const { return m_removeEngineButton; }
    QPushButton *saveButton() const { return m_saveButton; }
    QPushButton *cancelButton() const { return m_cancelButton; }

public Q_SLOTS:
    void onSave();
    void onCancel();

private:
    void setupUI();
    void loadSettings();
    void saveSettings();
    void onAddEngine();
    void onEditEngine();
    void onRemoveEngine();

    DataManager *m_data = nullptr;
    PrivacyEngine *m_privacy = nullptr;
    SearchManager *m_search = nullptr;
    QTabWidget *m_tabs = nullptr;
    QList<QCheckBox *> m_privacyBoxes; // in privacySwitches() order
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
};
