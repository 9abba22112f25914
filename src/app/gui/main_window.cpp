#include "app/gui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QSplitter>
#include <QVBoxLayout>

#include <cmath>

#include "app/gui/app_actions.h"
#include "app/gui/app_icon.h"
#include "app/gui/banner_area.h"
#include "app/gui/correction_banner.h"
#include "app/gui/library_search.h"
#include "app/gui/library_window.h"
#include "app/gui/log_panel.h"
#include "app/gui/ollama_banner.h"
#include "app/gui/organization_banner.h"
#include "app/gui/progress_panel.h"
#include "app/gui/queue_view.h"
#include "app/gui/run_panel.h"
#include "app/gui/settings_window.h"
#include "app/gui/source_bar.h"
#include "engine/transcriber.h"

namespace {
QFrame *separator(QWidget *parent) {
    auto *line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}
} // namespace

MainWindow::MainWindow(Transcriber &engine, QWidget *parent)
    : QMainWindow(parent), m_engine(engine), m_actions(new AppActions(engine, this)),
      m_prefs(WindowPreferences::load()) {
    setWindowTitle(QStringLiteral("Parlivo"));
    setWindowIcon(appIcon());
    buildMenus();
    setCentralWidget(buildCentral());
    connect(m_actions, &AppActions::settingsRequested, this, &MainWindow::showSettings);
    connect(m_actions, &AppActions::aboutRequested, this, &MainWindow::showAbout);
    connect(m_actions, &AppActions::libraryRequested, this, [this] { showLibrary(); });
    connect(m_queue, &QueueView::readerRequested, this, &MainWindow::openReader);

    m_actions->toggleFileList->setChecked(m_prefs.showFileList);
    m_queue->setListVisible(m_prefs.showFileList);
    connect(m_actions->toggleFileList, &QAction::toggled, this, &MainWindow::setFileListShown);
    setMinimumWidth(760);
    resize(980, m_prefs.showFileList ? int(std::lround(m_prefs.expandedWindowHeight)) : 520);
}

MainWindow::~MainWindow() = default;

void MainWindow::buildMenus() {
    QMenu *file = menuBar()->addMenu(QStringLiteral("&Fichier"));
    file->addAction(m_actions->chooseFolder);
    file->addAction(m_actions->voiceMemos);
    file->addAction(m_actions->rescan);
    file->addSeparator();
    file->addAction(m_actions->revealOutput);
    file->addAction(m_actions->showLibrary);
    file->addSeparator();
    file->addAction(m_actions->showSettings);
    file->addSeparator();
    file->addAction(m_actions->quit);

    QMenu *batch = menuBar()->addMenu(QStringLiteral("&Lot"));
    batch->addAction(m_actions->start);
    batch->addAction(m_actions->pauseResume);
    batch->addAction(m_actions->cancel);
    batch->addSeparator();
    batch->addAction(m_actions->retryErrors);

    QMenu *view = menuBar()->addMenu(QStringLiteral("&Affichage"));
    view->addAction(m_actions->toggleFileList);
    view->addAction(m_actions->clearLog);

    QMenu *help = menuBar()->addMenu(QStringLiteral("Ai&de"));
    help->addAction(m_actions->about);

    // In a box: the menu bar places its corner at the size hint, which a box gives whole.
    auto *corner = new QWidget(menuBar());
    auto *box = new QHBoxLayout(corner);
    box->setContentsMargins(0, 2, 6, 2);
    m_librarySearch = new QLineEdit(corner);
    m_librarySearch->setObjectName(QStringLiteral("mainLibrarySearch"));
    m_librarySearch->setPlaceholderText(QStringLiteral("Rechercher dans les vocaux"));
    m_librarySearch->setClearButtonEnabled(true);
    m_librarySearch->setMinimumWidth(260);
    // Reached by a click or Ctrl+F: the window opens with the run's buttons in hand, as before.
    m_librarySearch->setFocusPolicy(Qt::ClickFocus);
    box->addWidget(m_librarySearch);
    menuBar()->setCornerWidget(corner, Qt::TopRightCorner);
    connect(m_librarySearch, &QLineEdit::returnPressed, this, [this] { showLibrary(m_librarySearch->text()); });
}

QWidget *MainWindow::buildCentral() {
    auto *central = new QWidget(this);
    auto *column = new QVBoxLayout(central);
    column->setContentsMargins(12, 10, 12, 12);
    column->setSpacing(10);

    m_sourceBar = new SourceBar(m_engine, *m_actions, central);
    m_runPanel = new RunPanel(m_engine, *m_actions, central);
    m_progress = new ProgressPanel(m_engine, central);
    m_banners = new BannerArea(central);
    // In the order the stages follow one another.
    m_banners->addBanner(new OllamaBanner(m_engine, m_banners));
    m_banners->addBanner(new CorrectionBanner(m_engine, m_banners));
    m_banners->addBanner(new OrganizationBanner(m_engine, m_banners));
    m_queue = new QueueView(m_engine, *m_actions, central);
    m_log = new LogPanel(m_engine, *m_actions, central);

    column->addWidget(m_sourceBar);
    column->addWidget(separator(central));
    column->addWidget(m_runPanel);
    column->addWidget(m_progress);
    column->addWidget(m_banners);

    auto *split = new QSplitter(Qt::Vertical, central);
    split->setObjectName(QStringLiteral("listAndLog"));
    split->setChildrenCollapsible(false);
    split->addWidget(m_queue);
    split->addWidget(m_log);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);
    column->addWidget(split, 1);
    return central;
}

SettingsWindow *MainWindow::settingsWindow() {
    if (!m_settings) m_settings = new SettingsWindow(m_engine, this);
    return m_settings;
}

LibraryWindow *MainWindow::libraryWindow() {
    if (!m_library) m_library = new LibraryWindow(m_engine, this);
    return m_library;
}

void MainWindow::showLibrary(const QString &words) {
    LibraryWindow *window = libraryWindow();
    if (!words.trimmed().isEmpty()) window->searchPanel()->search(words);
    window->show();
    window->raise();
    window->activateWindow();
    window->searchPanel()->field()->setFocus();
}

void MainWindow::openReader(const QString &transcriptPath) {
    libraryWindow()->openTranscript(transcriptPath);
    showLibrary();
}

void MainWindow::showSettings() {
    SettingsWindow *window = settingsWindow();
    window->show();
    window->raise();
    window->activateWindow();
}

void MainWindow::bringToFront() {
    if (isMinimized()) showNormal();
    show();
    raise();
    activateWindow();
}

void MainWindow::setFileListShown(bool shown) {
    if (shown == m_prefs.showFileList) return;
    if (!shown && isVisible() && !isMaximized()) m_prefs.expandedWindowHeight = height();
    m_prefs.showFileList = shown;
    m_queue->setListVisible(shown);
    if (!isMaximized() && !isFullScreen()) {
        m_applyingHeight = true;
        // Without the list the window shrinks to what it needs; with it, the remembered height.
        const int target = shown ? int(std::lround(m_prefs.expandedWindowHeight))
                                 : std::max(minimumSizeHint().height(), 480);
        resize(width(), target);
        m_applyingHeight = false;
    }
    savePreferences();
}

void MainWindow::resizeEvent(QResizeEvent *event) {
    QMainWindow::resizeEvent(event);
    if (!m_applyingHeight && isVisible() && m_prefs.showFileList && !isMaximized() && !isFullScreen())
        m_prefs.expandedWindowHeight = height();
}

void MainWindow::savePreferences() { m_prefs.save(); }

void MainWindow::closeEvent(QCloseEvent *event) {
    savePreferences();
    QMainWindow::closeEvent(event);
}

void MainWindow::showAbout() {
    auto *box = new QMessageBox(QMessageBox::NoIcon, QStringLiteral("À propos de Parlivo"),
                                QStringLiteral("<b>Parlivo %1</b><p>Transcrit tes mémos vocaux sur ta machine.</p>")
                                    .arg(QApplication::applicationVersion()),
                                QMessageBox::Ok, this);
    box->setIconPixmap(appIcon().pixmap(64, 64));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}
