#include "app/gui/organization_banner.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/gui/ai_stage_texts.h"
#include "app/gui/status_text.h"
#include "engine/transcriber.h"

namespace {
constexpr int typingPauseMs = 800;

// What decides which transcripts the organization takes and where it puts them.
QString countingKey(const ParlivoSettings &s) {
    return QStringList{s.organizeEnabled ? "1" : "0", s.organizeRoot.value_or(QString()), rawValue(s.destinationMode),
                       s.customDestination.value_or(QString())}
        .join(QChar(0));
}
} // namespace

OrganizationBanner::OrganizationBanner(Transcriber &engine, QWidget *parent)
    : Banner(QStringLiteral("Organisation des vocaux"), parent), m_engine(engine) {
    setObjectName(QStringLiteral("organizationBanner"));
    m_state = new StatusText(this);
    m_state->setObjectName(QStringLiteral("organizationState"));
    body()->addWidget(m_state);
    m_current = new StatusText(this);
    m_current->setObjectName(QStringLiteral("organizationCurrent"));
    m_bar = addProgressRow(QStringLiteral("organizationProgress"), m_current);

    m_start = addButton(QStringLiteral("Organiser maintenant"), QStringLiteral("startOrganization"));
    m_cancel = addButton(QStringLiteral("Annuler l'organisation"), QStringLiteral("cancelOrganization"));
    m_open = addButton(QStringLiteral("Ouvrir l'archive"), QStringLiteral("openArchive"));
    connect(m_start, &QPushButton::clicked, &engine, &Transcriber::startOrganization);
    connect(m_cancel, &QPushButton::clicked, this, &OrganizationBanner::cancel);
    connect(m_open, &QPushButton::clicked, &engine, &Transcriber::revealOrganizedArchive);

    m_recount.setSingleShot(true); // several endings in a row make one walk
    connect(&m_recount, &QTimer::timeout, this, &OrganizationBanner::recountNow);
    for (auto signal : {&Transcriber::runFinished, &Transcriber::correctionPassFinished,
                        &Transcriber::organizationFinished, &Transcriber::sourceFolderChanged})
        connect(&engine, signal, this, [this] { scheduleRecount(); });
    connect(&engine, &Transcriber::settingsChanged, this, &OrganizationBanner::settingsChanged);
    for (auto signal :
         {&Transcriber::organizationChanged, &Transcriber::runStateChanged, &Transcriber::correctionChanged})
        connect(&engine, signal, this, &OrganizationBanner::refresh);
    recountNow();
}

void OrganizationBanner::scheduleRecount(int delayMs) {
    // A sooner request is not put off by a later one.
    if (m_recount.isActive() && m_recount.remainingTime() <= delayMs) return;
    m_recount.start(delayMs);
}

void OrganizationBanner::recountNow() {
    m_recount.stop();
    const ParlivoSettings &settings = m_engine.settings();
    m_countedFor = countingKey(settings);
    const quint64 request = ++m_countRequest;
    if (!settings.organizeEnabled) {
        m_pending = 0;
        refresh();
        return;
    }
    // The count walks the whole transcript tree: on a worker, the window goes on.
    [](QPointer<OrganizationBanner> self, QCoro::Task<int> counting, quint64 request) -> QCoro::Task<> {
        const int pending = co_await std::move(counting);
        if (!self || request != self->m_countRequest) co_return;
        self->m_pending = pending;
        self->refresh();
    }(this, m_engine.pendingOrganizationCountOffThread(), request);
}

void OrganizationBanner::settingsChanged() {
    // Most settings do not change what waits for the archive: no walk for
    // those, and a folder being typed is walked once the typing pauses.
    if (countingKey(m_engine.settings()) != m_countedFor) scheduleRecount(typingPauseMs);
    refresh();
}

void OrganizationBanner::refresh() {
    const bool active = m_engine.orgActive();
    if (!active) m_cancelling = false;
    const bool otherWork = m_engine.isRunning() || m_engine.correctionPassActive();
    setVisible(organizationBannerRelevant(active, m_engine.settings().organizeEnabled, m_pending, otherWork));
    if (isHidden()) return;

    m_start->setVisible(!active);
    m_cancel->setVisible(active);
    m_cancel->setEnabled(!m_cancelling);
    const auto root = m_engine.organizeRootFolder();
    m_open->setEnabled(root && QFileInfo(*root).isDir());
    m_bar->setVisible(active);
    m_current->setVisible(active);
    if (!active) {
        m_state->setText(pendingMemosText(m_pending));
        return;
    }
    m_state->setText(m_cancelling
                         ? QStringLiteral("Annulation : le vocal en cours se termine d'abord…")
                         : organizationProgressText(m_engine.orgPhase(), m_engine.orgDone(), m_engine.orgTotal()));
    m_current->setText(showOrganizationProgress(m_engine, m_bar));
}

QString showOrganizationProgress(const Transcriber &engine, QProgressBar *bar) {
    if (engine.orgTotal() > 0)
        setFraction(bar, double(engine.orgDone()) / engine.orgTotal());
    else
        setBusy(bar);
    const auto &memo = engine.orgCurrent();
    return memo ? QStringLiteral("Vocal : ") + *memo : QString();
}

void OrganizationBanner::cancel() {
    m_cancelling = true;
    m_engine.cancelOrganization();
    refresh();
}
