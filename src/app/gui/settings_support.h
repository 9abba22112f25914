#pragma once
// Small pieces shared by the settings pages: applying one change to the
// engine's settings, keeping a field in step with them without fighting the
// user's typing, and a folder field.

#include <QWidget>

#include <functional>
#include <optional>

#include "core/settings.h"

class QFormLayout;
class QLineEdit;
class Transcriber;

// Changes the engine's settings; the engine saves them shortly after.
void editSettings(Transcriber &engine, const std::function<void(ParlivoSettings &)> &change);

// Sets the text only when it differs, so a field being typed in keeps its cursor.
void syncText(QLineEdit *edit, const QString &text);

// An optional path: empty text means none.
std::optional<QString> optionalPath(const QString &text);

// A folder path typed or chosen with "Choisir…"; empty means none.
class FolderField : public QWidget {
    Q_OBJECT

public:
    FolderField(const QString &chooserTitle, QWidget *parent = nullptr);

    QLineEdit *edit() const { return m_edit; }
    void setPath(const std::optional<QString> &path);

signals:
    // Typed or chosen by the user, not set through setPath.
    void pathEdited(const std::optional<QString> &path);

private:
    void choose();

    QString m_chooserTitle;
    QLineEdit *m_edit;
};

// A form whose text fields widen with the window while lists and numbers
// keep their natural width.
QFormLayout *makeForm(QWidget *parent);
// Gives the label columns of several forms one width, so fields line up
// from one group to the next.
void alignFormLabels(std::initializer_list<QFormLayout *> forms);

// Buttons grouped at the end of a form row.
QWidget *buttonRow(std::initializer_list<QWidget *> buttons, QWidget *parent);
