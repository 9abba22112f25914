#include "app/gui/window_preferences.h"

#include "core/folders.h"

namespace {
const QString showFileListKey = QStringLiteral("showFileList");
const QString expandedHeightKey = QStringLiteral("expandedWindowHeight");
} // namespace

WindowPreferences WindowPreferences::load() {
    WindowPreferences prefs;
    auto store = folders::preferences();
    prefs.showFileList = store->value(showFileListKey, prefs.showFileList).toBool();
    bool ok = false;
    const double height = store->value(expandedHeightKey, prefs.expandedWindowHeight).toDouble(&ok);
    // A hand-edited or foreign value must not open a window of no height.
    if (ok && height >= 200 && height <= 10000) prefs.expandedWindowHeight = height;
    return prefs;
}

void WindowPreferences::save() const {
    auto store = folders::preferences();
    store->setValue(showFileListKey, showFileList);
    store->setValue(expandedHeightKey, expandedWindowHeight);
    store->sync();
}
