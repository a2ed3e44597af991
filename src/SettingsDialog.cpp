#include "SettingsDialog.h"

#include "DataManager.h"
#include "PrivacyEngine.h"
#include "SearchManager.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {
// Setter of each switch, in privacySwitches() order.
using Setter = void (PrivacyEngine::*)(bool);
const Setter kSetters[] = {
    &PrivacyEngine::setAdBlocking,     &PrivacyEngine::setTrackingProtection,
    &PrivacyEngine::setFingerprintProtection, &PrivacyEngine::setCookieBlocking,
    &PrivacyEngine::setBlockAllCookies, &PrivacyEngine::setBlockFonts,
    &PrivacyEngine::setBlockCamera,    &PrivacyEngine::setBlockMicrophone,
    &PrivacyEngine::setBlockGeolocation, &PrivacyEngine::setBlockNotifications,
};
constexpr int kContentSwitches = 6; // the rest are permissions
}

SettingsDialog::SettingsDialog(DataManager *dataManager, PrivacyEngine *privacy, SearchManager *searchManager,
                               QWidget *parent)
    : QDialog(parent)
    , m_data(dataManager)
    , m_privacy(privacy)
    , m_search(searchManager)
{
    setWindowTitle(QStringLiteral("Settings"));
    setMinimumSize(600, 500);
    setupUI();
    loadSettings();
}

const QList<QPair<QString, QString>> &SettingsDialog::privacySwitches()
{
    static const QList<QPair<QString, QString>> switches{
        {QStringLiteral("adBlocking"), QStringLiteral("Ad Blocking")},
        {QStringLiteral("trackingProtection"), QStringLiteral("Tracking Protection")},
        {QStringLiteral("fingerprintProtection"), QStringLiteral("Fingerprint Protection")},
        {QStringLiteral("cookieBlocking"), QStringLiteral("Cookie Blocking")},
        {QStringLiteral("blockAllCookies"), QStringLiteral("Block ALL Cookies (Ghost Mode)")},
        {QStringLiteral("blockFonts"), QStringLiteral("Block Font Loading (Prevent Font Fingerprinting)")},
        {QStringLiteral("blockCamera"), QStringLiteral("Block Camera Access")},
        {QStringLiteral("blockMicrophone"), QStringLiteral("Block Microphone Access")},
        {QStringLiteral("blockGeolocation"), QStringLiteral("Block Geolocation")},
        {QStringLiteral("blockNotifications"), QStringLiteral("Block Notifications")},
    };
    return switches;
}

int SettingsDialog::themeIndex(const QJsonObject &settings)
{
    const QString theme = settings.value(QStringLiteral("theme")).toString(QStringLiteral("dark"));
    if (theme == QLatin1String("dark"))
        return 0;
    if (theme == QLatin1String("light"))
        return 1;
    return 2;
}

QCheckBox *SettingsDialog::privacyCheckBox(const QString &key) const
{
    const auto &switches = privacySwitches();
    for (int i = 0; i < switches.size(); ++i) {
        if (switches.at(i).first == key)
            return m_privacyBoxes.at(i);
    }
    return nullptr;
}

void SettingsDialog::setupUI()
{
    auto *layout = new QVBoxLayout(this);
    m_tabs = new QTabWidget(this);
    layout->addWidget(m_tabs);

    // Privacy
    auto *privacyPage = new QWidget;
    auto *privacyLayout = new QVBoxLayout(privacyPage);
    auto *content = new QGroupBox(QStringLiteral("Content Blocking"));
    auto *contentLayout = new QVBoxLayout(content);
    auto *permissions = new QGroupBox(QStringLiteral("Permissions"));
    auto *permissionsLayout = new QVBoxLayout(permissions);
    const auto &switches = privacySwitches();
    for (int i = 0; i < switches.size(); ++i) {
        auto *box = new QCheckBox(switches.at(i).second);
        (i < kContentSwitches ? contentLayout : permissionsLayout)->addWidget(box);
        m_privacyBoxes.append(box);
    }
    privacyLayout->addWidget(content);
    privacyLayout->addWidget(permissions);
    privacyLayout->addStretch();
    m_tabs->addTab(privacyPage, QStringLiteral("Privacy"));

    // Search
    auto *searchPage = new QWidget;
    auto *searchLayout = new QVBoxLayout(searchPage);
    auto *form = new QFormLayout;
    m_engineBox = new QComboBox;
    if (m_search) {
        const QList<SearchEngine> engines = m_search->searchEngines();
        for (const SearchEngine &engine : engines)
            m_engineBox->addItem(engine.name, engine.keyword);
    }
    form->addRow(QStringLiteral("Default Search Engine:"), m_engineBox);
    searchLayout->addLayout(form);
    auto *engineButtons = new QHBoxLayout;
    m_addEngineButton = new QPushButton(QStringLiteral("Add Search Engine"));
    m_editEngineButton = new QPushButton(QStringLiteral("Edit"));
    m_removeEngineButton = new QPushButton(QStringLiteral("Remove"));
    engineButtons->addWidget(m_addEngineButton);
    engineButtons->addWidget(m_editEngineButton);
    engineButtons->addWidget(m_removeEngineButton);
    searchLayout->addLayout(engineButtons);
    searchLayout->addStretch();
    m_tabs->addTab(searchPage, QStringLiteral("Search"));
    connect(m_addEngineButton, &QPushButton::clicked, this, &SettingsDialog::onAddEngine);
    connect(m_editEngineButton, &QPushButton::clicked, this, &SettingsDialog::onEditEngine);
    connect(m_removeEngineButton, &QPushButton::clicked, this, &SettingsDialog::onRemoveEngine);

    // Appearance
    auto *appearancePage = new QWidget;
    auto *appearanceLayout = new QVBoxLayout(appearancePage);
    auto *appearanceForm = new QFormLayout;
    m_themeBox = new QComboBox;
    m_themeBox->addItems({QStringLiteral("Dark"), QStringLiteral("Light"), QStringLiteral("System")});
    m_fontSizeBox = new QComboBox;
    m_fontSizeBox->addItems({QStringLiteral("Small"), QStringLiteral("Medium"), QStringLiteral("Large")});
    appearanceForm->addRow(QStringLiteral("Theme:"), m_themeBox);
    appearanceForm->addRow(QStringLiteral("Font Size:"), m_fontSizeBox);
    appearanceLayout->addLayout(appearanceForm);
    appearanceLayout->addStretch();
    m_tabs->addTab(appearancePage, QStringLiteral("Appearance"));

    // Advanced
    auto *advancedPage = new QWidget;
    auto *advancedLayout = new QVBoxLayout(advancedPage);
    auto *performance = new QGroupBox(QStringLiteral("Performance"));
    auto *performanceLayout = new QVBoxLayout(performance);
    m_hardwareAcceleration = new QCheckBox(QStringLiteral("Hardware Acceleration"));
    m_javaScript = new QCheckBox(QStringLiteral("Enable JavaScript"));
    m_plugins = new QCheckBox(QStringLiteral("Enable Plugins"));
    performanceLayout->addWidget(m_hardwareAcceleration);
    performanceLayout->addWidget(m_javaScript);
    performanceLayout->addWidget(m_plugins);
    advancedLayout->addWidget(performance);
    advancedLayout->addStretch();
    m_tabs->addTab(advancedPage, QStringLiteral("Advanced"));

    auto *buttons = new QHBoxLayout;
    m_saveButton = new QPushButton(QStringLiteral("Save"), this);
    m_cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    buttons->addStretch();
    buttons->addWidget(m_saveButton);
    buttons->addWidget(m_cancelButton);
    layout->addLayout(buttons);
    connect(m_saveButton, &QPushButton::clicked, this, &SettingsDialog::onSave);
    connect(m_cancelButton, &QPushButton::clicked, this, &SettingsDialog::onCancel);
}

void SettingsDialog::loadSettings()
{
    const QJsonObject settings = m_data ? m_data->getSettings() : QJsonObject();
    const auto &switches = privacySwitches();
    for (int i = 0; i < switches.size(); ++i) {
        const QJsonValue value = settings.value(switches.at(i).first);
        m_privacyBoxes.at(i)->setChecked(value.isBool() ? value.toBool() : true);
    }
    m_themeBox->setCurrentIndex(themeIndex(settings));

    // Show the engine in use, so "Save" keeps it.
    if (m_search) {
        const int index = m_engineBox->findData(m_search->defaultEngine().keyword);
        if (index >= 0)
            m_engineBox->setCurrentIndex(index);
    }
}

void SettingsDialog::saveSettings()
{
    QJsonObject settings;
    const auto &switches = privacySwitches();
    for (int i = 0; i < switches.size(); ++i)
        settings.insert(switches.at(i).first, m_privacyBoxes.at(i)->isChecked());
    settings.insert(QStringLiteral("theme"), m_themeBox->currentText().toLower());
    if (m_data)
        m_data->setSettings(settings);
    if (m_privacy) {
        for (int i = 0; i < switches.size(); ++i)
            (m_privacy->*kSetters[i])(m_privacyBoxes.at(i)->isChecked());
    }
    if (m_search) {
        const QString keyword = m_engineBox->currentData().toString();
        if (!keyword.isEmpty())
            m_search->setDefaultEngine(keyword);
    }
}

void SettingsDialog::onSave()
{
    saveSettings();
    accept();
}

void SettingsDialog::onCancel()
{
    reject();
}

void SettingsDialog::onAddEngine()
{
    const QString title = QStringLiteral("Add Search Engine");
    const QString name = QInputDialog::getText(this, title, QStringLiteral("Name:"));
    const QString keyword = QInputDialog::getText(this, title, QStringLiteral("Keyword:"));
    const QString url = QInputDialog::getText(this, title, QStringLiteral("URL (use %s for query):"));
    if (name.isEmpty() || keyword.isEmpty() || url.isEmpty() || !m_search)
        return;
    m_search->addEngine(SearchEngine(name, keyword, url, false));
    m_engineBox->addItem(name, keyword);
}

void SettingsDialog::onEditEngine()
{
    const int index = m_engineBox->currentIndex();
    const QString oldKeyword = m_engineBox->currentData().toString();
    if (index < 0 || oldKeyword.isEmpty() || !m_search)
        return;
    SearchEngine engine;
    bool found = false;
    const QList<SearchEngine> engines = m_search->searchEngines();
    for (const SearchEngine &candidate : engines) {
        if (candidate.keyword == oldKeyword) {
            engine = candidate;
            found = true;
            break;
        }
    }
    if (!found)
        return;
    const QString title = QStringLiteral("Edit Search Engine");
    const QString name = QInputDialog::getText(this, title, QStringLiteral("Name:"), QLineEdit::Normal, engine.name);
    const QString keyword = QInputDialog::getText(this, title, QStringLiteral("Keyword:"), QLineEdit::Normal, engine.keyword);
    const QString url = QInputDialog::getText(this, title, QStringLiteral("URL (use %s for query):"),
                                              QLineEdit::Normal, engine.url);
    if (name.isEmpty() || keyword.isEmpty() || url.isEmpty())
        return;
    const bool wasDefault = m_search->defaultKeyword() == oldKeyword;
    m_search->updateEngine(oldKeyword, SearchEngine(name, keyword, url, engine.isDefault));
    // A renamed keyword must not leave the default pointing at nothing.
    if (wasDefault && keyword != oldKeyword)
        m_search->setDefaultEngine(keyword);
    m_engineBox->setItemText(index, name);
    m_engineBox->setItemData(index, keyword);
}

void SettingsDialog::onRemoveEngine()
{
    const int index = m_engineBox->currentIndex();
    const QString keyword = m_engineBox->currentData().toString();
    if (index < 0 || keyword.isEmpty() || !m_search)
        return;
    m_search->removeEngine(keyword);
    m_engineBox->removeItem(index);
}
