#pragma once
// The one-line progress bar of `parlivo-cli run` and `correct` on a terminal: redrawn in
// place, cleared before each log line so the two never mix.

#include <QString>
#include <QTextStream>
#include <QTimer>

class Transcriber;

namespace cli {

class ProgressLine {
public:
    ProgressLine(Transcriber &engine, QTextStream &err, bool terminal);
    // Prints a log line, above the bar when there is one.
    void logLine(const QString &line);
    void clear();

private:
    void redraw();
    QString render() const;
    QString renderOrganization() const;
    static int terminalColumns();     // the batch
    QString renderPass() const; // the correction pass

    Transcriber &m_engine;
    QTextStream &m_err;
    bool m_terminal;
    bool m_shown = false;
    QTimer m_timer;
};

} // namespace cli
