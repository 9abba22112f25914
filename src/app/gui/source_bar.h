#pragma once
// The source folder and where the transcripts go, with the buttons that
// change them.

#include <QWidget>

class AppActions;
class ElidedLabel;
class QLabel;
class Transcriber;

class SourceBar : public QWidget {
    Q_OBJECT

public:
    SourceBar(Transcriber &engine, AppActions &actions, QWidget *parent = nullptr);

    QString folderText() const;
    // "Surveillance du dossier active" while the folder is watched.
    QLabel *watchState() const { return m_watch; }

private:
    void refresh();

    Transcriber &m_engine;
    ElidedLabel *m_folder;
    ElidedLabel *m_output;
    QLabel *m_watch;
};
