#pragma once
// Hands a notification to the desktop's notification service over D-Bus.
// Kept apart from the log so that what only reads the state links no D-Bus.

#include <QString>

void sendDesktopNotification(const QString &title, const QString &body);
