#pragma once
// Small pieces the memo library's statements share.

#include <QDateTime>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <initializer_list>
#include <optional>

// Binds `values` to the statement's placeholders, in order. A null text is
// an empty one: the driver would bind it as NULL.
inline void bind(QSqlQuery &query, std::initializer_list<QVariant> values) {
    int position = 0;
    for (const QVariant &value : values) {
        const bool nullText = value.typeId() == QMetaType::QString && value.toString().isNull();
        query.bindValue(position++, nullText ? QVariant(QStringLiteral("")) : value);
    }
}

// Runs the prepared statement with `values`; the failure, if any.
inline std::optional<QSqlError> run(QSqlQuery &query, std::initializer_list<QVariant> values) {
    bind(query, values);
    if (query.exec()) return std::nullopt;
    return query.lastError();
}

// Prepares `sql`, then runs it. A statement that does not prepare (damage
// to the file shows there first) reports why, not the parameter count
// mismatch Qt's exec gives in its place.
inline std::optional<QSqlError> run(QSqlQuery &query, const QString &sql, std::initializer_list<QVariant> values) {
    if (!query.prepare(sql)) return query.lastError();
    return run(query, values);
}

// Dates are stored as milliseconds since 1970, NULL when unknown.
inline std::optional<QDateTime> dateOf(const QVariant &value) {
    if (value.isNull()) return std::nullopt;
    return QDateTime::fromMSecsSinceEpoch(value.toLongLong()).toLocalTime();
}
