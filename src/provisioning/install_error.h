#pragma once
// Failures of the Ollama installation and of model downloads. The description
// is the French text shown to the user.

#include <QString>

#include <exception>
#include <string>

class InstallError : public std::exception {
public:
    enum class Kind { download, unzip, pull, notReachable };

    static InstallError download(const QString &detail) { return {Kind::download, detail}; }
    static InstallError unzip(const QString &detail) { return {Kind::unzip, detail}; }
    static InstallError pull(const QString &detail) { return {Kind::pull, detail}; }
    static InstallError notReachable() { return {Kind::notReachable, {}}; }

    Kind kind() const { return m_kind; }
    const QString &detail() const { return m_detail; }

    QString errorDescription() const {
        switch (m_kind) {
        case Kind::download: return QStringLiteral("Téléchargement impossible : ") + m_detail;
        case Kind::unzip: return QStringLiteral("Installation impossible : ") + m_detail;
        case Kind::pull: return QStringLiteral("Téléchargement du modèle impossible : ") + m_detail;
        case Kind::notReachable: return QStringLiteral("Ollama ne répond pas après son lancement.");
        }
        return {};
    }

    const char *what() const noexcept override { return m_what.c_str(); }

private:
    InstallError(Kind kind, QString detail)
        : m_kind(kind), m_detail(std::move(detail)), m_what(errorDescription().toStdString()) {}

    Kind m_kind;
    QString m_detail;
    std::string m_what;
};
