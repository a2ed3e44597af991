#pragma once

#include <QString>

// A folder only this user can enter (0700, ours, not a link), for files other
// local users must neither read nor replace, such as the printed page.
class PrivateFolder
{
public:
    // "<runtimeDir>/orvexbrowser" when runtimeDir is a folder of ours that is
    // closed to others (as $XDG_RUNTIME_DIR is meant to be); otherwise a fresh
    // "orvexbrowser-XXXXXX" folder made with mkdtemp in tempDir, kept for the
    // rest of the run while it stays private. Empty when neither can be had.
    static QString locate(const QString &runtimeDir, const QString &tempDir);
    // locate() with $XDG_RUNTIME_DIR and the temporary folder.
    static QString path();
};
