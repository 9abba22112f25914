#pragma once
// The main window's own preferences, kept in the per-user preference store
// rather than in the settings record.

struct WindowPreferences {
    bool showFileList = true;
    double expandedWindowHeight = 760.0; // height with the file list shown

    static WindowPreferences load();
    void save() const;
};
