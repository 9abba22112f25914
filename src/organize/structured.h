#pragma once
// The structured document the model returns for one memo: parsed from its
// reply, then written beside the transcript as "<stem>.structure.md".

#include <QString>
#include <QStringList>

struct Structured {
    QString title;
    QString type = QStringLiteral("autre");
    QString category = QStringLiteral("incertain");
    QStringList themes;
    double confidence = 0.3;
    QString summary;
    QString body;

    bool operator==(const Structured &) const = default;
};

// Never fails: a reply without the expected front matter keeps the defaults
// and becomes the body as a whole.
Structured parseStructured(const QString &reply, const QString &fallbackTitle);

// The "confiance" value: a comma is a decimal point, clamped to 0…1, 0.3 when unreadable.
double parseConfidence(const QString &value);

// At most three non-empty keywords from a comma-separated list.
QStringList parseKeywords(const QString &value);

// `date` is the transcript's date field, `sourceName` the recording's file name.
QString structureFileContent(const Structured &document, const QString &date, const QString &sourceName);
