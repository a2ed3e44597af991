#pragma once

#include <QString>
#include <QUrl>

// The outside services the browser talks to. Defaults are the product's own;
// tests and local demos point them at loopback.
class ServiceEndpoints
{
public:
    // Account service base URL, without a trailing slash (compile-time default).
    static QString accountUrl();
    static void setAccountUrl(const QString &url);

    // Ollama generate endpoint (http://localhost:11434/api/generate by default).
    static QUrl ollamaGenerateUrl();
    static void setOllamaGenerateUrl(const QUrl &url);

    // Restores the compiled-in defaults.
    static void reset();
};
