#include "app/gui/settings_support.h"

#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

#include "engine/transcriber.h"

void editSettings(Transcriber &engine, const std::function<void(ParlivoSettings &)> &change) {
    ParlivoSettings settings = engine.settings();
    change(settings);
    engine.setSettings(settings);
}

void syncText(QLineEdit *edit, const QString &text) {
    if (edit->text() != text) edit->setText(text);
}

std::optional<QString> optionalPath(const QString &text) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) return std::nullopt;
    return trimmed;
}

FolderField::FolderField(const QString &chooserTitle, QWidget *parent)
    : QWidget(parent), m_chooserTitle(chooserTitle), m_edit(new QLineEdit(this)) {
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    m_edit->setClearButtonEnabled(true);
    auto *choose = new QPushButton(QStringLiteral("Choisir…"), this);
    row->addWidget(m_edit, 1);
    row->addWidget(choose);
    connect(m_edit, &QLineEdit::textEdited, this, [this](const QString &text) { emit pathEdited(optionalPath(text)); });
    connect(choose, &QPushButton::clicked, this, &FolderField::choose);
}

void FolderField::setPath(const std::optional<QString> &path) {
    // Keep what is being typed ("  " is no path, yet still what the user sees).
    if (optionalPath(m_edit->text()) != path) m_edit->setText(path.value_or(QString()));
}

void FolderField::choose() {
    auto *dialog = new QFileDialog(window(), m_chooserTitle);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setLabelText(QFileDialog::Accept, QStringLiteral("Choisir ce dossier"));
    const QString current = m_edit->text().trimmed();
    dialog->setDirectory(current.isEmpty() ? QDir::homePath() : current);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString &folder) {
        m_edit->setText(folder);
        emit pathEdited(optionalPath(folder));
    });
    dialog->open();
}

QFormLayout *makeForm(QWidget *parent) {
    auto *form = new QFormLayout(parent);
    form->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
    form->setLabelAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return form;
}

void alignFormLabels(std::initializer_list<QFormLayout *> forms) {
    QList<QWidget *> labels;
    int width = 0;
    for (QFormLayout *form : forms)
        for (int row = 0; row < form->rowCount(); ++row)
            if (QLayoutItem *item = form->itemAt(row, QFormLayout::LabelRole); item && item->widget()) {
                labels << item->widget();
                width = std::max(width, item->widget()->sizeHint().width());
            }
    for (QWidget *label : labels) label->setMinimumWidth(width);
}

QWidget *buttonRow(std::initializer_list<QWidget *> buttons, QWidget *parent) {
    auto *holder = new QWidget(parent);
    auto *row = new QHBoxLayout(holder);
    row->setContentsMargins(0, 0, 0, 0);
    for (QWidget *button : buttons) row->addWidget(button);
    row->addStretch(1);
    return holder;
}
