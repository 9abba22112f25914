#pragma once
// The place for the AI stages' banners (the local LLM server, the correction
// pass, the organization), between the progress and the file list. Each
// banner is a widget that shows or hides itself when it is relevant; the area
// takes no room while none is shown.

#include <QList>
#include <QWidget>

class QHBoxLayout;
class QLabel;
class QProgressBar;
class QPushButton;
class QVBoxLayout;

class BannerArea : public QWidget {
    Q_OBJECT

public:
    explicit BannerArea(QWidget *parent = nullptr);

    // Banners stack in the order they are added.
    void addBanner(QWidget *banner);
    const QList<QWidget *> &banners() const { return m_banners; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void updateVisibility();

    QVBoxLayout *m_layout;
    QList<QWidget *> m_banners;
};

// A framed, tinted strip for one banner: a title and a body, with a row for
// its buttons at the right. The stages fill it in.
class Banner : public QWidget {
    Q_OBJECT

public:
    explicit Banner(const QString &title, QWidget *parent = nullptr);

    QLabel *titleLabel() const { return m_title; }
    QVBoxLayout *body() const { return m_body; }
    QHBoxLayout *buttons() const { return m_buttons; }

    // A button added at the right end.
    QPushButton *addButton(const QString &text, const QString &objectName);
    // A progress bar with `beside` (the stage's current step) on its right,
    // the same in every banner; returns the bar.
    QProgressBar *addProgressRow(const QString &barName, QWidget *beside);

private:
    QLabel *m_title;
    QVBoxLayout *m_body;
    QHBoxLayout *m_buttons;
};

// A progress bar showing a 0..1 fraction as a French percentage, for the
// banners and the settings pages; setBusy() while nothing is counted yet.
QProgressBar *makeFractionBar(const QString &objectName, QWidget *parent);
void setFraction(QProgressBar *bar, double fraction);
void setBusy(QProgressBar *bar);
