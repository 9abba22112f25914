#include "core/desktop_notifications.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

void sendDesktopNotification(const QString &title, const QString &body) {
    // The freedesktop service gives every call a new id when replaces_id is 0,
    // so notifications never replace one another. No reply is awaited: a
    // desktop without a notification service simply shows nothing.
    auto bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("sound-name"), QStringLiteral("message-new-instant"));
    call << QStringLiteral("Parlivo") << uint(0) << QStringLiteral("parlivo") << title << body
         << QStringList() << hints << int(-1);
    call.setAutoStartService(false);
    bus.send(call);
}
