#include "app/gui/playback_bar.h"

#include <QAudioDevice>
#include <QAudioOutput>
#include <QComboBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

#include "core/records.h"

std::optional<QString> playbackProblem(const QString &audioPath, bool soundOutputExists) {
    if (audioPath.isEmpty()) return QStringLiteral("Enregistrement inconnu : lecture impossible.");
    if (!QFileInfo(audioPath).isFile())
        return QStringLiteral("Enregistrement introuvable : « %1 ».").arg(QFileInfo(audioPath).fileName());
    if (!soundOutputExists) return QStringLiteral("Aucune sortie audio : la lecture est impossible sur cette machine.");
    return std::nullopt;
}

PlaybackBar::PlaybackBar(QWidget *parent) : QWidget(parent) {
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    auto *row = new QHBoxLayout;
    m_play = new QPushButton(QStringLiteral("Lecture"), this);
    m_play->setObjectName(QStringLiteral("playPause"));
    m_slider = new QSlider(Qt::Horizontal, this);
    m_slider->setObjectName(QStringLiteral("playPosition"));
    m_time = new QLabel(this);
    m_speed = new QComboBox(this);
    m_speed->setObjectName(QStringLiteral("playSpeed"));
    m_speed->addItem(QStringLiteral("1×"), 1.0);
    m_speed->addItem(QStringLiteral("1,5×"), 1.5);
    m_speed->addItem(QStringLiteral("2×"), 2.0);
    row->addWidget(m_play);
    row->addWidget(m_slider, 1);
    row->addWidget(m_time);
    row->addWidget(new QLabel(QStringLiteral("Vitesse"), this));
    row->addWidget(m_speed);
    column->addLayout(row);
    m_message = new QLabel(this);
    m_message->setObjectName(QStringLiteral("playMessage"));
    m_message->setWordWrap(true);
    m_message->hide();
    column->addWidget(m_message);

    connect(m_play, &QPushButton::clicked, this, &PlaybackBar::togglePlay);
    connect(m_slider, &QSlider::sliderMoved, this, [this](int ms) { seek(ms, playing()); });
    connect(m_speed, &QComboBox::currentIndexChanged, this, [this] {
        if (m_player) m_player->setPlaybackRate(speed());
    });
    m_play->setEnabled(false);
    showPosition(0);
}

bool PlaybackBar::ensurePlayer() {
    if (m_player) return true;
    m_player = new QMediaPlayer(this);
    m_output = new QAudioOutput(this);
    m_player->setAudioOutput(m_output);
    m_player->setPlaybackRate(speed());
    connect(m_player, &QMediaPlayer::positionChanged, this, [this](qint64 ms) {
        showPosition(ms);
        if (playing()) emit positionChanged(ms);
    });
    connect(m_player, &QMediaPlayer::durationChanged, this, &PlaybackBar::showDuration);
    connect(m_player, &QMediaPlayer::playbackStateChanged, this, &PlaybackBar::refreshButton);
    connect(m_player, &QMediaPlayer::mediaStatusChanged, this, [this](QMediaPlayer::MediaStatus status) {
        if (status != QMediaPlayer::LoadedMedia) return;
        // A position asked for before the recording was open applies now.
        applyRequestedPosition();
        if (std::exchange(m_playWhenLoaded, false)) m_player->play();
    });
    connect(m_player, &QMediaPlayer::errorOccurred, this, [this](QMediaPlayer::Error, const QString &why) {
        fail(QStringLiteral("Lecture impossible : ") + why);
    });
    return true;
}

void PlaybackBar::load(const QString &audioPath, qint64 positionMs, qint64 lengthMs, bool play) {
    m_requestedMs = positionMs;
    m_durationMs = std::max(lengthMs, positionMs);
    m_slider->setRange(0, int(m_durationMs));
    m_playWhenLoaded = false;
    if (m_player) {
        m_player->stop();
        m_player->setSource({});
    }
    showPosition(positionMs);
    if (const auto problem = playbackProblem(audioPath, !QMediaDevices::audioOutputs().isEmpty())) {
        fail(*problem);
        return;
    }
    m_message->hide();
    m_message->clear();
    ensurePlayer();
    m_playWhenLoaded = play;
    m_player->setSource(QUrl::fromLocalFile(audioPath));
    refreshButton();
}

void PlaybackBar::seek(qint64 positionMs, bool play) {
    m_requestedMs = positionMs;
    showPosition(positionMs);
    if (!m_player || m_player->source().isEmpty()) return;
    applyRequestedPosition();
    if (play) m_player->play();
}

void PlaybackBar::applyRequestedPosition() {
    if (m_player->mediaStatus() != QMediaPlayer::LoadingMedia) m_player->setPosition(m_requestedMs);
}

void PlaybackBar::setSpeed(double speed) {
    const int index = m_speed->findData(speed);
    if (index >= 0) m_speed->setCurrentIndex(index);
}

double PlaybackBar::speed() const { return m_speed->currentData().toDouble(); }

bool PlaybackBar::playing() const {
    return m_player && m_player->playbackState() == QMediaPlayer::PlayingState;
}

QString PlaybackBar::message() const { return m_message->text(); }

void PlaybackBar::togglePlay() {
    if (!m_player) return;
    if (playing()) {
        m_player->pause();
    } else {
        m_player->play();
    }
}

void PlaybackBar::showPosition(qint64 positionMs) {
    if (!m_slider->isSliderDown()) m_slider->setValue(int(positionMs));
    m_time->setText(formatClock(positionMs / 1000) + QStringLiteral(" / ") +
                    (m_durationMs > 0 ? formatClock(m_durationMs / 1000) : QStringLiteral("–")));
}

void PlaybackBar::showDuration(qint64 durationMs) {
    if (durationMs <= 0) return;
    m_durationMs = durationMs;
    m_slider->setRange(0, int(durationMs));
    showPosition(m_player->position());
}

void PlaybackBar::refreshButton() {
    m_play->setText(playing() ? QStringLiteral("Pause") : QStringLiteral("Lecture"));
    m_play->setEnabled(m_player && !m_player->source().isEmpty() && m_message->isHidden());
}

void PlaybackBar::fail(const QString &why) {
    // Quietly: one line in the reader, the text stays readable.
    m_playWhenLoaded = false;
    m_message->setText(why);
    m_message->show();
    refreshButton();
}
