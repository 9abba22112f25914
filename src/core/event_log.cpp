#include "core/event_log.h"

#include "core/text.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QLocale>
#include <QTime>
#include <QVariantMap>

void EventLog::log(const QString &message) {
    // The French medium time style: 14:07:05. Never the process locale.
    static const QLocale french(QLocale::French, QLocale::France);
    const QString line =
        QStringLiteral("[") + french.toString(QTime::currentTime(), QStringLiteral("HH:mm:ss")) +
        QStringLiteral("] ") + singleLine(message); // one event, one line, whatever a file is called
    m_lines.append(line);
    if (m_lines.size() > maxLines) m_lines.remove(0, m_lines.size() - maxLines);
    emit lineAdded(line);
}

void EventLog::clear() {
    m_lines.clear();
    emit cleared();
}

void EventLog::notify(const QString &title, const QString &body) {
    // The freedesktop service gives every call a new id when replaces_id is 0,
    // so notifications never replace one another. No reply is awaited: a
    // desktop without a notification service simply shows nothing.
    emit notificationPosted(title, body);
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
