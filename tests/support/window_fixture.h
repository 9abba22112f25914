#pragma once
// The main window over a real engine (real ffmpeg, the stand-in recogniser,
// real files, offscreen), with the helpers the window tests share.

#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>

#include <memory>

#include "app/gui/app_actions.h"
#include "app/gui/main_window.h"
#include "app/gui/queue_model.h"
#include "app/gui/queue_view.h"
#include "support/engine_fixture.h"

namespace testing_support {

class Window : public EngineFixture {
protected:
    std::unique_ptr<MainWindow> window;
    QList<QUrl> opened;

    void SetUp() override {
        EngineFixture::SetUp();
        openWindow();
    }
    void openWindow() {
        window.reset();
        engine->setUrlOpener([this](const QUrl &url) { opened << url; });
        window = std::make_unique<MainWindow>(*engine);
        window->show();
    }
    AppActions &actions() const { return window->actions(); }
    QueueModel &model() const { return *window->queueView()->model(); }
    void chooseSource() { engine->setSourceFolder(QUrl::fromLocalFile(src)); }
    void makeMemos(int count, double seconds = 1.5) {
        for (int i = 1; i <= count; ++i) makeAudio(src + QStringLiteral("/memo %1.m4a").arg(i, 2, 10, QChar('0')), seconds);
    }
    QString cell(int row, int column, int role = Qt::DisplayRole) const {
        return model().index(row, column).data(role).toString();
    }
    bool logHas(const QString &text) const { return !engine->logLines().filter(text).isEmpty(); }
    QPushButton *button(const QString &text) const {
        for (QPushButton *b : window->findChildren<QPushButton *>())
            if (b->text() == text) return b;
        ADD_FAILURE() << "no button " << text.toStdString();
        return nullptr;
    }
    // Typed into the field as a user does, over what it held.
    static void type(QLineEdit *edit, const QString &text) {
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, text);
    }
    void selectRows(std::initializer_list<int> rows) {
        QItemSelectionModel *selection = window->queueView()->table()->selectionModel();
        selection->clearSelection();
        selection->setCurrentIndex(model().index(*rows.begin(), 0), QItemSelectionModel::NoUpdate);
        for (int row : rows) selection->select(model().index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        window->queueView()->updateSelectionActions();
    }
};

} // namespace testing_support
