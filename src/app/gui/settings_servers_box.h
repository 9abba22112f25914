#pragma once
// The recognition servers in the settings: one row per machine running
// whisper-server (address, optional access key, a test of the server, its
// removal), and what it means for the memos' audio.

#include <QGroupBox>
#include <QList>

#include "core/settings.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QVBoxLayout;
class Transcriber;

class ServerRow : public QWidget {
    Q_OBJECT

public:
    explicit ServerRow(const RecognitionServer &server, QWidget *parent = nullptr);

    QLineEdit *address() const { return m_address; }
    QLineEdit *accessKey() const { return m_accessKey; }
    QPushButton *test() const { return m_test; }
    QPushButton *remove() const { return m_remove; }
    QLabel *result() const { return m_result; }
    // As typed, trimmed.
    RecognitionServer server() const;
    // Sends a short test to the server; the result shows under the row.
    void startTest(const QString &language);

signals:
    void edited();
    void removeRequested();

private:
    void showAddressProblem();

    QLineEdit *m_address;
    QLineEdit *m_accessKey;
    QPushButton *m_test;
    QPushButton *m_remove;
    QLabel *m_result;
};

class ServersBox : public QGroupBox {
    Q_OBJECT

public:
    explicit ServersBox(Transcriber &engine, QWidget *parent = nullptr);
    void refresh();

    const QList<ServerRow *> &rows() const { return m_rows; }
    QPushButton *add() const { return m_add; }

private:
    ServerRow *addRow(const RecognitionServer &server);
    void removeRow(ServerRow *row);
    void dropRow(ServerRow *row);
    // The rows with a usable address, as the setting holds them.
    QList<RecognitionServer> typedServers() const;
    void write();

    Transcriber &m_engine;
    QVBoxLayout *m_list;
    QList<ServerRow *> m_rows;
    QPushButton *m_add;
};
