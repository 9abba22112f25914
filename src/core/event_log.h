#pragma once
// The rolling log the window shows (one event, one line) and the desktop
// notifications. Every area writes here; the engine republishes the signals
// and sends the notifications on to the desktop.

#include <QObject>
#include <QString>
#include <QStringList>

class EventLog : public QObject {
    Q_OBJECT

public:
    static constexpr int maxLines = 500;

    using QObject::QObject;

    void log(const QString &message);
    void clear();
    const QStringList &lines() const { return m_lines; }
    // Published as notificationPosted.
    void notify(const QString &title, const QString &body);

signals:
    void lineAdded(const QString &line);
    void cleared();
    void notificationPosted(const QString &title, const QString &body);

private:
    QStringList m_lines;
};
