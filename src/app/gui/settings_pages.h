#pragma once
// The pages of the settings window, one per area. Every control writes its
// field at once; refresh() brings the controls back in step with the engine.

#include <QWidget>

#include "provisioning/downloader.h"

class FolderField;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTreeWidget;
class QVBoxLayout;
class ServersBox;
class Transcriber;

class TranscriptionPage : public QWidget {
    Q_OBJECT

public:
    explicit TranscriptionPage(Transcriber &engine, QWidget *parent = nullptr);
    void refresh();

    QComboBox *model() const { return m_model; }
    QComboBox *language() const { return m_language; }
    QSpinBox *parallelism() const { return m_parallelism; }
    QCheckBox *timestamps() const { return m_timestamps; }
    QCheckBox *autoResume() const { return m_autoResume; }
    QCheckBox *watchFolder() const { return m_watchFolder; }
    ServersBox *servers() const { return m_servers; }

signals:
    void manageModelsRequested();

private:
    void refreshModels();

    Transcriber &m_engine;
    QComboBox *m_model;
    QComboBox *m_language;
    QSpinBox *m_parallelism;
    QCheckBox *m_timestamps;
    QCheckBox *m_autoResume;
    QCheckBox *m_watchFolder;
    ServersBox *m_servers;
};

class DestinationPage : public QWidget {
    Q_OBJECT

public:
    explicit DestinationPage(Transcriber &engine, QWidget *parent = nullptr);
    void refresh();

    QComboBox *format() const { return m_format; }
    QComboBox *subtitles() const { return m_subtitles; }
    QButtonGroup *mode() const { return m_mode; }
    FolderField *folder() const { return m_folder; }

private:
    Transcriber &m_engine;
    QComboBox *m_format;
    QComboBox *m_subtitles;
    QButtonGroup *m_mode;
    FolderField *m_folder;
    QLabel *m_summary;
};

class CorrectionPage : public QWidget {
    Q_OBJECT

public:
    explicit CorrectionPage(Transcriber &engine, QWidget *parent = nullptr);
    void refresh();

    QCheckBox *enabled() const { return m_enabled; }
    QComboBox *backend() const { return m_backend; }
    QLineEdit *ollamaEndpoint() const { return m_ollamaEndpoint; }
    QLineEdit *ollamaModel() const { return m_ollamaModel; }
    QLineEdit *anthropicModel() const { return m_anthropicModel; }
    QLineEdit *anthropicKey() const { return m_anthropicKey; }
    QCheckBox *keepRaw() const { return m_keepRaw; }
    QPlainTextEdit *prompt() const { return m_prompt; }
    QPushButton *resetPrompt() const { return m_resetPrompt; }
    // Room under the Ollama fields for the server's install controls.
    QVBoxLayout *ollamaExtras() const { return m_ollamaExtras; }

private:
    Transcriber &m_engine;
    QCheckBox *m_enabled;
    QComboBox *m_backend;
    QLineEdit *m_ollamaEndpoint;
    QLineEdit *m_ollamaModel;
    QLineEdit *m_anthropicModel;
    QLineEdit *m_anthropicKey;
    QCheckBox *m_keepRaw;
    QPlainTextEdit *m_prompt;
    QPushButton *m_resetPrompt;
    QVBoxLayout *m_ollamaExtras;
};

class OrganizationPage : public QWidget {
    Q_OBJECT

public:
    explicit OrganizationPage(Transcriber &engine, QWidget *parent = nullptr);
    void refresh();

    QCheckBox *enabled() const { return m_enabled; }
    FolderField *root() const { return m_root; }
    QCheckBox *copyAudio() const { return m_copyAudio; }
    QLineEdit *model() const { return m_model; }
    // Room for the run's own controls (start now, its progress).
    QVBoxLayout *runControls() const { return m_runControls; }

private:
    Transcriber &m_engine;
    QCheckBox *m_enabled;
    FolderField *m_root;
    QCheckBox *m_copyAudio;
    QLineEdit *m_model;
    QVBoxLayout *m_runControls;
};

// The whisper models on disk, the catalogue and a download of the page's own.
class ModelsPage : public QWidget {
    Q_OBJECT

public:
    explicit ModelsPage(Transcriber &engine, QWidget *parent = nullptr);
    void refresh();

    QTreeWidget *localModels() const { return m_local; }
    QPushButton *useSelected() const { return m_use; }
    QComboBox *catalogue() const { return m_catalogue; }
    QPushButton *download() const { return m_download; }
    QProgressBar *downloadProgress() const { return m_progress; }
    QLabel *downloadStatus() const { return m_status; }
    Downloader &downloader() { return m_downloader; }

private:
    void refreshLocal();
    void refreshCatalogue();
    void refreshDownload();
    void startDownload();
    void chooseFile();

    Transcriber &m_engine;
    Downloader m_downloader;
    QTreeWidget *m_local;
    QPushButton *m_use;
    QComboBox *m_catalogue;
    QPushButton *m_download;
    QProgressBar *m_progress;
    QLabel *m_status;
};
