#pragma once
// The local LLM server's banner: shown while correction or organization needs
// Ollama and it is missing, stopped or without its model, or while the
// one-click install runs. It says which of the three is missing and offers
// the way out: install, launch, or fetch the model.

#include "app/gui/banner_area.h"

class QPushButton;
class Transcriber;

class OllamaBanner : public Banner {
    Q_OBJECT

public:
    explicit OllamaBanner(Transcriber &engine, QWidget *parent = nullptr);

    void refresh();

    QLabel *facts() const { return m_facts; }
    QLabel *advice() const { return m_advice; }
    QLabel *installStatus() const { return m_installStatus; }
    QProgressBar *installProgress() const { return m_installBar; }
    QPushButton *installButton() const { return m_install; }
    QPushButton *launchButton() const { return m_launch; }
    QPushButton *modelButton() const { return m_model; }

private:
    void fetchModel();
    void refreshInstall();

    Transcriber &m_engine;
    QLabel *m_facts;
    QLabel *m_advice;
    QLabel *m_installStatus;
    QProgressBar *m_installBar;
    QPushButton *m_install;
    QPushButton *m_launch;
    QPushButton *m_model;
    bool m_fetchingModel = false;
};
