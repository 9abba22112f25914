#pragma once
// The engine's rolling log, newest line kept in view, with its clear button.

#include <QWidget>

class AppActions;
class QPlainTextEdit;
class Transcriber;

class LogPanel : public QWidget {
    Q_OBJECT

public:
    LogPanel(Transcriber &engine, AppActions &actions, QWidget *parent = nullptr);

    QPlainTextEdit *view() const { return m_view; }

private:
    void append(const QString &line);

    QPlainTextEdit *m_view;
};
