#include "SettingsDialog.h"

#include "Theme.h"

#include "DataManager.h"
#include "FilterListsPanel.h"
#include "PrivacyEngine.h"
#include "SearchManager.h"
#include "WebSettingsApplier.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QTabWidget>
#include <QUrl>
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

// settings.json keys of the appearance and engine switches (see WebSettingsApplier).
const QString kFontSize = QStringLiteral("fontSize");
const QString kJavaScript = QStringLiteral("enableJavaScript");
const QString kPlugins = QStringLiteral("enablePlugins");
const QString kHardwareAcceleration = QStringLiteral("hardwareAcceleration");
const char *const kFontSizes[] = {"small", "medium", "large"};

QLabel *noteLabel(const QString &text)
{
    auto *label = new QLabel(text);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    return label;
}
}

SettingsDialog::SettingsDialog(DataManager *dataManager, PrivacyEngine *privacy, SearchManager *searchManager,
                               QWidget *parent)
    : QDialog(parent)
    , m_data(dataManager)
    , m_privacy(privacy)
    , m_search(searchManager)
{
    setStyleSheet(Theme::dialogStyleSheet());
    setWindowTitle(QStringLiteral("Settings"));
    setMinimumSize(600, 500);
    resize(660, 640);
    m_defaultBrowser = new DefaultBrowser(this);
    connect(m_defaultBrowser, &DefaultBrowser::finished, this, &SettingsDialog::onDefaultBrowserAnswer);
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

int SettingsDialog::fontSizeIndex(const QJsonObject &settings)
{
    const QString size = settings.value(kFontSize).toString();
    if (size == QLatin1String("small"))
        return 0;
    if (size == QLatin1String("large"))
        return 2;
    return 1;
}

QString SettingsDialog::engineUrlProblem(const QString &url)
{
    const QString trimmed = url.trimmed();
    if (!trimmed.contains(QLatin1String("%s")))
        return QStringLiteral("The address must hold %s where the search terms go, "
                              "for example https://duckduckgo.com/?q=%s");
    // The placeholder as a query would fill it: the address must be a web
    // address with a host, and the terms must not become part of the host.
    QString sample = trimmed;
    sample.replace(QLatin1String("%s"), QLatin1String("orvexsearchterms"));
    const QUrl parsed(sample, QUrl::TolerantMode);
    const QString scheme = parsed.scheme().toLower();
    if (!parsed.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return QStringLiteral("The address must be a web address beginning with http:// or https://.");
    if (parsed.host().isEmpty() || parsed.host().contains(QLatin1String("orvexsearchterms"), Qt::CaseInsensitive))
        return QStringLiteral("The address must name the search site's host, with %s after it.");
    return QString();
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

    // General
    auto *generalPage = new QWidget;
    auto *generalLayout = new QVBoxLayout(generalPage);
    auto *defaultGroup = new QGroupBox(QStringLiteral("Default Browser"));
    auto *defaultLayout = new QVBoxLayout(defaultGroup);
    // Plain text: the status may quote the tool's own error output.
    m_defaultStatus = new QLabel(QStringLiteral("Checking whether OrvexBrowser is your default web browser…"));
    m_defaultStatus->setTextFormat(Qt::PlainText);
    m_defaultStatus->setWordWrap(true);
    m_defaultStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_makeDefaultButton = new QPushButton(QStringLiteral("Make default"));
    m_makeDefaultButton->setEnabled(false);
    auto *defaultRow = new QHBoxLayout;
    defaultRow->addWidget(m_makeDefaultButton);
    defaultRow->addStretch();
    defaultLayout->addWidget(m_defaultStatus);
    defaultLayout->addLayout(defaultRow);
    generalLayout->addWidget(defaultGroup);
    generalLayout->addStretch();
    m_tabs->addTab(generalPage, QStringLiteral("General"));
    connect(m_makeDefaultButton, &QPushButton::clicked, this, &SettingsDialog::onMakeDefault);

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
    const QString cookieHelp = QStringLiteral("Blocks cookies of other sites than the page's (third-party cookies) "
                                              "in every request and response, and hides tracking cookies from scripts");
    privacyCheckBox(QStringLiteral("cookieBlocking"))->setToolTip(cookieHelp);
    privacyCheckBox(QStringLiteral("blockAllCookies"))->setToolTip(QStringLiteral("Blocks every cookie of every request and response (the "
                                                    "OrvexVPN account's excepted); sites may not keep you signed in"));
    privacyLayout->addWidget(content);
    privacyLayout->addWidget(permissions);
    m_filterLists = new FilterListsPanel(privacyPage);
    privacyLayout->addWidget(m_filterLists);
    privacyLayout->addStretch();
    // Taller than the dialog: the page scrolls.
    auto *privacyScroll = new QScrollArea;
    privacyScroll->setWidgetResizable(true);
    privacyScroll->setFrameShape(QFrame::NoFrame);
    privacyScroll->setWidget(privacyPage);
    m_tabs->addTab(privacyScroll, QStringLiteral("Privacy"));

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
    appearanceLayout->addWidget(noteLabel(QStringLiteral(
        "The theme changes the browser's colours at once; web pages are asked for the matching "
        "light or dark style from the next start of OrvexBrowser.")));
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
    m_plugins->setToolTip(QStringLiteral("The built-in PDF viewer"));
    performanceLayout->addWidget(m_hardwareAcceleration);
    performanceLayout->addWidget(noteLabel(QStringLiteral(
        "Hardware acceleration changes apply the next time OrvexBrowser starts.")));
    performanceLayout->addWidget(m_javaScript);
    performanceLayout->addWidget(m_plugins);
    performanceLayout->addWidget(noteLabel(QStringLiteral(
        "JavaScript and plugins (the built-in PDF viewer) change in every tab at once; "
        "pages already open follow when they load again.")));
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
    m_fontSizeBox->setCurrentIndex(fontSizeIndex(settings));
    const WebSettingsApplier::Values web = WebSettingsApplier::fromSettings(settings);
    m_hardwareAcceleration->setChecked(web.hardwareAcceleration);
    m_javaScript->setChecked(web.javaScript);
    m_plugins->setChecked(web.plugins);

    // Show the engine in use, so "Save" keeps it.
    if (m_search) {
        const int index = m_engineBox->findData(m_search->defaultEngine().keyword);
        if (index >= 0)
            m_engineBox->setCurrentIndex(index);
    }
}

void SettingsDialog::saveSettings()
{
    // Other features keep their own keys in the same object.
    QJsonObject settings = m_data ? m_data->getSettings() : QJsonObject();
    const auto &switches = privacySwitches();
    for (int i = 0; i < switches.size(); ++i)
        settings.insert(switches.at(i).first, m_privacyBoxes.at(i)->isChecked());
    settings.insert(QStringLiteral("theme"), m_themeBox->currentText().toLower());
    settings.insert(kFontSize, QString::fromLatin1(kFontSizes[qBound(0, m_fontSizeBox->currentIndex(), 2)]));
    settings.insert(kHardwareAcceleration, m_hardwareAcceleration->isChecked());
    settings.insert(kJavaScript, m_javaScript->isChecked());
    settings.insert(kPlugins, m_plugins->isChecked());
    if (m_data)
        m_data->setSettings(settings);
    m_filterLists->save();
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

void SettingsDialog::setContentBlocker(ContentBlocker *blocker)
{
    m_filterLists->setContentBlocker(blocker);
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
    const QString url = QInputDialog::getText(this, title, QStringLiteral("URL (use %s for query):")).trimmed();
    if (name.isEmpty() || keyword.isEmpty() || url.isEmpty() || !m_search)
        return;
    if (!acceptEngineUrl(title, url))
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
                                              QLineEdit::Normal, engine.url).trimmed();
    if (name.isEmpty() || keyword.isEmpty() || url.isEmpty())
        return;
    if (!acceptEngineUrl(title, url))
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

bool SettingsDialog::acceptEngineUrl(const QString &title, const QString &url)
{
    const QString problem = engineUrlProblem(url);
    if (problem.isEmpty())
        return true;
    QMessageBox box(QMessageBox::Warning, title, problem, QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
    return false;
}

void SettingsDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (m_checkedDefault)
        return;
    m_checkedDefault = true;
    m_defaultBrowser->check();
}

void SettingsDialog::onMakeDefault()
{
    m_makeDefaultButton->setEnabled(false);
    m_defaultStatus->setText(QStringLiteral("Making OrvexBrowser your default web browser…"));
    m_defaultBrowser->makeDefault();
}

void SettingsDialog::onDefaultBrowserAnswer(const DefaultBrowser::Outcome &outcome)
{
    m_defaultStatus->setText(outcome.message);
    // Offered again after a failure: the cause (a missing tool) may be gone.
    m_makeDefaultButton->setEnabled(outcome.state != DefaultBrowser::State::IsDefault);
}
