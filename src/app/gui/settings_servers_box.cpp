#include "app/gui/settings_servers_box.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/gui/settings_support.h"
#include "engine/transcriber.h"
#include "remote/server_check.h"

ServerRow::ServerRow(const RecognitionServer &server, QWidget *parent) : QWidget(parent) {
    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    m_address = new QLineEdit(server.address, this);
    m_address->setObjectName(QStringLiteral("serverAddress"));
    m_address->setPlaceholderText(QStringLiteral("http://192.168.1.20:8080"));
    m_accessKey = new QLineEdit(server.accessKey, this);
    m_accessKey->setObjectName(QStringLiteral("serverAccessKey"));
    m_accessKey->setEchoMode(QLineEdit::PasswordEchoOnEdit);
    m_accessKey->setPlaceholderText(QStringLiteral("Clé d'accès (facultative)"));
    m_accessKey->setToolTip(QStringLiteral("Envoyée en en-tête « Authorization: Bearer », pour un serveur derrière "
                                           "un proxy."));
    m_test = new QPushButton(QStringLiteral("Tester"), this);
    m_remove = new QPushButton(QStringLiteral("Retirer"), this);
    m_result = new QLabel(this);
    m_result->setObjectName(QStringLiteral("serverTestResult"));
    m_result->setWordWrap(true);
    m_result->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_result->hide();
    grid->addWidget(m_address, 0, 0);
    grid->addWidget(m_accessKey, 0, 1);
    grid->addWidget(m_test, 0, 2);
    grid->addWidget(m_remove, 0, 3);
    grid->addWidget(m_result, 1, 0, 1, 4);
    grid->setColumnStretch(0, 3);
    grid->setColumnStretch(1, 2);

    connect(m_address, &QLineEdit::textEdited, this, [this] {
        showAddressProblem();
        emit edited();
    });
    connect(m_accessKey, &QLineEdit::textEdited, this, &ServerRow::edited);
    connect(m_remove, &QPushButton::clicked, this, &ServerRow::removeRequested);
    showAddressProblem();
}

RecognitionServer ServerRow::server() const { return {m_address->text().trimmed(), m_accessKey->text().trimmed()}; }

void ServerRow::showAddressProblem() {
    // An empty row is one being filled in: nothing to say yet.
    const RecognitionServer typed = server();
    const auto problem = typed.address.isEmpty() ? std::nullopt : addressProblem(typed.address);
    m_result->setText(problem.value_or(QString()));
    m_result->setVisible(problem.has_value());
}

void ServerRow::startTest(const QString &language) {
    m_test->setEnabled(false);
    m_result->setText(QStringLiteral("Test en cours…"));
    m_result->show();
    [](QPointer<ServerRow> self, RecognitionServer server, QString language) -> QCoro::Task<> {
        QCoro::Task<QString> checking = checkServer(std::move(server), std::move(language));
        const QString text = co_await std::move(checking);
        if (!self) co_return;
        self->m_result->setText(text);
        self->m_test->setEnabled(true);
    }(this, server(), language);
}

ServersBox::ServersBox(Transcriber &engine, QWidget *parent)
    : QGroupBox(QStringLiteral("Serveurs de reconnaissance"), parent), m_engine(engine) {
    auto *column = new QVBoxLayout(this);
    auto *about = new QLabel(QStringLiteral("Des machines qui font tourner whisper-server prennent chacune un "
                                            "fichier à la fois, à côté de cet ordinateur."),
                             this);
    about->setWordWrap(true);
    column->addWidget(about);
    auto *privacy = new QLabel(QStringLiteral("L'audio des vocaux qu'elles transcrivent est envoyé à ces machines."),
                               this);
    privacy->setObjectName(QStringLiteral("serversPrivacy"));
    privacy->setWordWrap(true);
    column->addWidget(privacy);
    m_list = new QVBoxLayout;
    column->addLayout(m_list);
    m_add = new QPushButton(QStringLiteral("Ajouter un serveur"), this);
    m_add->setObjectName(QStringLiteral("addServer"));
    column->addWidget(buttonRow({m_add}, this));

    // A new row starts empty: the setting changes once its address is usable.
    connect(m_add, &QPushButton::clicked, this, [this] { addRow({})->address()->setFocus(); });
    refresh();
}

ServerRow *ServersBox::addRow(const RecognitionServer &server) {
    auto *row = new ServerRow(server, this);
    m_list->addWidget(row);
    m_rows.append(row);
    connect(row, &ServerRow::edited, this, &ServersBox::write);
    connect(row, &ServerRow::removeRequested, this, [this, row] { removeRow(row); });
    connect(row->test(), &QPushButton::clicked, this,
            [this, row] { row->startTest(m_engine.settings().language); });
    return row;
}

void ServersBox::removeRow(ServerRow *row) {
    m_rows.removeOne(row);
    dropRow(row);
    write();
}

void ServersBox::dropRow(ServerRow *row) {
    // Later: the row may be the one whose signal led here.
    row->hide();
    row->deleteLater();
}

QList<RecognitionServer> ServersBox::typedServers() const {
    QList<RecognitionServer> servers;
    for (const ServerRow *row : m_rows)
        if (const RecognitionServer server = row->server(); acceptableServerAddress(server.address))
            servers.append(server);
    return servers;
}

void ServersBox::write() {
    const QList<RecognitionServer> servers = typedServers();
    editSettings(m_engine, [&](ParlivoSettings &s) {
        s.recognitionServers = servers;
        // Without a server, no local worker would leave nothing to recognise the files.
        if (servers.isEmpty() && s.parallelism < 1) s.parallelism = 1;
    });
}

void ServersBox::refresh() {
    // Rows being typed stay as they are while they say what the setting holds.
    const QList<RecognitionServer> &stored = m_engine.settings().recognitionServers;
    if (typedServers() == stored) return;
    for (ServerRow *row : std::exchange(m_rows, {})) dropRow(row);
    for (const RecognitionServer &server : stored) addRow(server);
}
