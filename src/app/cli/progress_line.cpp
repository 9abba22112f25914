#include "app/cli/progress_line.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include "core/live_stats.h"
#include "engine/transcriber.h"

namespace cli {

ProgressLine::ProgressLine(Transcriber &engine, QTextStream &err, bool terminal)
    : m_engine(engine), m_err(err), m_terminal(terminal) {
    if (!m_terminal) return;
    m_timer.setInterval(250);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { redraw(); });
    m_timer.start();
}

void ProgressLine::clear() {
    if (!m_shown) return;
    m_err << "\r\x1b[2K";
    m_err.flush();
    m_shown = false;
}

void ProgressLine::logLine(const QString &line) {
    clear();
    m_err << line << '\n';
    m_err.flush();
    redraw();
}

QString ProgressLine::renderPass() const {
    const Transcriber &e = m_engine;
    QString line = QStringLiteral("Correction %1/%2").arg(e.correctionPassDone()).arg(e.correctionPassTotal());
    if (const auto &current = e.correctionPassCurrent()) line += QStringLiteral("  ") + *current;
    const RateEstimate stats = e.correctionLiveStats();
    if (stats.ratePerMin > 0) line += QStringLiteral("  %1/min").arg(stats.ratePerMin, 0, 'f', 1);
    if (stats.eta) line += QStringLiteral("  reste %1").arg(formatDurationHuman(*stats.eta));
    return line;
}

QString ProgressLine::renderOrganization() const {
    const Transcriber &e = m_engine;
    QString line = QStringLiteral("%1 %2/%3").arg(e.orgPhase()).arg(e.orgDone()).arg(e.orgTotal());
    if (const auto &current = e.orgCurrent()) line += QStringLiteral("  ") + *current;
    return line;
}

QString ProgressLine::render() const {
    const Transcriber &e = m_engine;
    const int width = 24;
    const int filled = int(e.overallProgress() * width + 0.5);
    QString bar = QString(filled, QChar(u'█')) + QString(width - filled, QChar(u'░'));
    QString line = QStringLiteral("%1 %2/%3").arg(bar).arg(e.processedCount()).arg(e.total());
    if (auto current = e.primaryRunningFile())
        line += QStringLiteral("  %1 %2 %").arg(e.runningLabel(*current)).arg(int(current->progress * 100));
    const LiveStats stats = e.liveStats();
    if (stats.ratePerMin > 0) line += QStringLiteral("  %1/min").arg(stats.ratePerMin, 0, 'f', 1);
    if (stats.eta) line += QStringLiteral("  reste %1").arg(formatDurationHuman(*stats.eta));
    if (e.isPaused()) line += QStringLiteral("  (en pause)");
    return line;
}

void ProgressLine::redraw() {
    if (!m_terminal) return;
    QString line;
    if (m_engine.isRunning())
        line = render();
    else if (m_engine.correctionPassActive())
        line = renderPass();
    else if (m_engine.orgActive())
        line = renderOrganization();
    else
        return;
    // Wider than the terminal, the line would wrap and \r could no longer redraw it.
    m_err << "\r\x1b[2K" << line.left(terminalColumns() - 1);
    m_err.flush();
    m_shown = true;
}

int ProgressLine::terminalColumns() {
    winsize size {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 10) return size.ws_col;
    return 80;
}

} // namespace cli
