#pragma once
// Plays a memo's recording under the reader: play and pause, a position
// slider and the speed. Without a sound output, or without the recording,
// it says so in one line and keeps the position asked for, playing nothing.

#include <QString>
#include <QWidget>

#include <optional>

class QAudioOutput;
class QComboBox;
class QLabel;
class QMediaPlayer;
class QPushButton;
class QSlider;

// Why `audioPath` cannot be played, in French; nothing when it can.
std::optional<QString> playbackProblem(const QString &audioPath, bool soundOutputExists);

class PlaybackBar : public QWidget {
    Q_OBJECT

public:
    explicit PlaybackBar(QWidget *parent = nullptr);

    // The recording, positioned at `positionMs`, played at once when `play`;
    // `lengthMs` stands for its length until the recording gives it.
    void load(const QString &audioPath, qint64 positionMs, qint64 lengthMs, bool play);
    void seek(qint64 positionMs, bool play);
    void setSpeed(double speed);

    qint64 requestedPosition() const { return m_requestedMs; }
    double speed() const;
    bool playing() const;
    // Why nothing plays, empty when it can.
    QString message() const;

    QPushButton *playButton() const { return m_play; }
    QComboBox *speedBox() const { return m_speed; }
    QSlider *slider() const { return m_slider; }

signals:
    // The position while playing, to follow the words being said.
    void positionChanged(qint64 positionMs);

private:
    bool ensurePlayer();
    void togglePlay();
    void showPosition(qint64 positionMs);
    void showDuration(qint64 durationMs);
    void applyRequestedPosition();
    void refreshButton();
    void fail(const QString &why);

    QPushButton *m_play;
    QSlider *m_slider;
    QLabel *m_time;
    QComboBox *m_speed;
    QLabel *m_message;
    QMediaPlayer *m_player = nullptr; // made once a recording can be played
    QAudioOutput *m_output = nullptr;
    qint64 m_requestedMs = 0;
    qint64 m_durationMs = 0;
    bool m_playWhenLoaded = false;
};
