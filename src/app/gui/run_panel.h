#pragma once
// Start, pause or resume, cancel; the model and language in use; the message
// shown while the recogniser is missing.

#include <QWidget>

class AppActions;
class QLabel;
class Transcriber;

class RunPanel : public QWidget {
    Q_OBJECT

public:
    RunPanel(Transcriber &engine, AppActions &actions, QWidget *parent = nullptr);

private:
    void refresh();

    Transcriber &m_engine;
    QLabel *m_model;
    QLabel *m_language;
    QLabel *m_missingTools;
};
