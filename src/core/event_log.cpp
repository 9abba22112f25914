#include "core/event_log.h"

#include "core/text.h"

#include <QLocale>
#include <QTime>

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

void EventLog::notify(const QString &title, const QString &body) { emit notificationPosted(title, body); }
