#pragma once
// Downloads one file (a whisper model, gigabytes) with published progress.
// The body streams into a temporary file beside the destination, which only
// a complete, successful transfer replaces.

#include <QNetworkReply>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>



class Downloader : public QObject {
    Q_OBJECT
    Q_PROPERTY(double progress READ progress NOTIFY progressChanged)
    Q_PROPERTY(bool isDownloading READ isDownloading NOTIFY isDownloadingChanged)
    Q_PROPERTY(QString statusText READ statusText NOTIFY statusTextChanged)

public:
    // Nothing on success (the file is at the destination), else a French description.
    using Completion = std::function<void(std::optional<QString> error)>;

    // Silence between two pieces of data after which a transfer is given up.
    static constexpr int stallTimeoutMs = 60000;

    explicit Downloader(QObject *parent = nullptr);
    // A transfer still running is dropped with its temporary file; its
    // completion is not called (its owner is going away).
    ~Downloader() override;

    // Downloads `url` to `destination`, creating its folder and replacing any
    // file there. A transfer already running is aborted and its completion
    // called once with a failure; the new one takes its place. The completion
    // is always called later, from the event loop, never from inside start().
    void start(const QUrl &url, const QString &destination, Completion completion);

    double progress() const { return m_progress; }
    bool isDownloading() const { return m_isDownloading; }
    QString statusText() const { return m_statusText; }

signals:
    void progressChanged(double progress);
    void isDownloadingChanged(bool isDownloading);
    void statusTextChanged(const QString &statusText);

private:
    struct Transfer;

    bool receive(Transfer *transfer); // false when the data could not be written
    void finish(Transfer *transfer);
    void succeed();
    void fail(const QString &statusText, const QString &error);
    std::unique_ptr<Transfer> takeTransfer();
    void setProgress(double progress);
    void setDownloading(bool downloading);
    void setStatusText(const QString &text);

    std::unique_ptr<Transfer> m_transfer;
    double m_progress = 0;
    bool m_isDownloading = false;
    QString m_statusText;
};

// A French description of a failed transfer; `fallback` is Qt's own text.
QString networkErrorDescription(QNetworkReply::NetworkError error, const QString &fallback);
