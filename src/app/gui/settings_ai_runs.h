#pragma once
// The AI stages' own controls in the settings window: the local server's
// install (under the Ollama fields) and "Organiser maintenant" with its
// progress (on the organization page). Both follow the engine's sequences.

#include <QGroupBox>
#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;
class Transcriber;

// Installs Ollama and the correction model through the engine's one-action
// install, showing its steps in the words of the settings window.
class OllamaInstallBox : public QWidget {
    Q_OBJECT

public:
    explicit OllamaInstallBox(Transcriber &engine, QWidget *parent = nullptr);
    void refresh();

    QLabel *facts() const { return m_facts; }
    QPushButton *installButton() const { return m_install; }
    QProgressBar *progress() const { return m_bar; }
    QLabel *steps() const { return m_steps; }

private:
    Transcriber &m_engine;
    QLabel *m_facts;
    QPushButton *m_install;
    QProgressBar *m_bar;
    QLabel *m_steps;
};

// Starts the organization by hand and follows it.
class OrganizationRunBox : public QGroupBox {
    Q_OBJECT

public:
    explicit OrganizationRunBox(Transcriber &engine, QWidget *parent = nullptr);
    void refresh();

    QLabel *state() const { return m_state; }
    QProgressBar *progress() const { return m_bar; }
    QPushButton *startButton() const { return m_start; }
    QPushButton *cancelButton() const { return m_cancel; }
    QPushButton *openArchiveButton() const { return m_open; }

private:
    Transcriber &m_engine;
    QLabel *m_state;
    QLabel *m_current;
    QLabel *m_hint;
    QProgressBar *m_bar;
    QPushButton *m_start;
    QPushButton *m_cancel;
    QPushButton *m_open;
};
