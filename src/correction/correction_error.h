#pragma once
// The one error type of the language-model clients. Its description is the
// French text shown to the user; isBackendDown tells a dead service (stop
// sending for the rest of the batch) from one text that failed.

#include <QString>

#include <exception>
#include <string>

class CorrectionError : public std::exception {
public:
    // `unreadable`: an answer that is not the service's reply format;
    // `implausible`: an answer that cannot be a correction of the text sent.
    enum class Kind { unreachable, http, empty, missingKey, cancelled, unreadable, implausible };

    static CorrectionError unreachable(const QString &reason) { return {Kind::unreachable, 0, reason}; }
    static CorrectionError http(int status, const QString &excerpt) { return {Kind::http, status, excerpt}; }
    static CorrectionError empty() { return {Kind::empty, 0, {}}; }
    static CorrectionError missingKey() { return {Kind::missingKey, 0, {}}; }
    // The user cancelled while the request was in flight: not a failure of the service.
    static CorrectionError cancelled() { return {Kind::cancelled, 0, {}}; }
    static CorrectionError unreadable() { return {Kind::unreadable, 0, {}}; }
    static CorrectionError implausible() { return {Kind::implausible, 0, {}}; }

    Kind kind() const { return m_kind; }
    int status() const { return m_status; }
    const QString &detail() const { return m_detail; }

    QString errorDescription() const {
        switch (m_kind) {
        case Kind::unreachable: return QStringLiteral("Service injoignable : ") + m_detail;
        case Kind::http: return QStringLiteral("Réponse HTTP %1 : %2").arg(m_status).arg(m_detail);
        case Kind::empty: return QStringLiteral("Réponse vide du modèle");
        case Kind::missingKey: return QStringLiteral("Clé API Anthropic manquante");
        case Kind::cancelled: return QStringLiteral("Correction annulée");
        case Kind::unreadable: return QStringLiteral("Réponse illisible du modèle");
        case Kind::implausible: return QStringLiteral("Réponse du modèle sans rapport avec le texte");
        }
        return {};
    }

    bool isBackendDown() const {
        return m_kind == Kind::unreachable || m_kind == Kind::missingKey ||
               (m_kind == Kind::http && (m_status == 401 || m_status == 403 || m_status == 404));
    }

    const char *what() const noexcept override { return m_what.c_str(); }

private:
    CorrectionError(Kind kind, int status, QString detail)
        : m_kind(kind), m_status(status), m_detail(std::move(detail)),
          m_what(errorDescription().toStdString()) {}

    Kind m_kind;
    int m_status;
    QString m_detail;
    std::string m_what;
};
