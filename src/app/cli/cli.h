#pragma once
// parlivo-engine, the program behind parlivo-cli: the engine without a
// window. Log lines go to standard error as they are appended, results to
// standard output.

#include <QStringList>
#include <QTextStream>

#include <functional>

#include <qcoro/qcorotask.h>

#include "app/front/look_commands.h"

class Transcriber;

namespace cli {

struct Context {
    Transcriber &engine;
    QStringList args; // the arguments after the command name
    QTextStream &out;
    QTextStream &err;
    // Where log lines go; `run` routes them around its progress bar.
    std::function<void(const QString &)> printLog;
};

using Command = QCoro::Task<int> (*)(Context &);

// Prints the usage on standard error; returns badUsage.
int usage(QTextStream &err);

QCoro::Task<int> scan(Context &ctx);
QCoro::Task<int> voiceMemos(Context &ctx);
QCoro::Task<int> status(Context &ctx);
QCoro::Task<int> settings(Context &ctx);
QCoro::Task<int> run(Context &ctx);
QCoro::Task<int> watch(Context &ctx);
QCoro::Task<int> retry(Context &ctx);
QCoro::Task<int> force(Context &ctx);
QCoro::Task<int> models(Context &ctx);
QCoro::Task<int> correct(Context &ctx);
QCoro::Task<int> installOllama(Context &ctx);
QCoro::Task<int> organize(Context &ctx);
// One line per hit, best first; 1 when nothing matches.
QCoro::Task<int> search(Context &ctx);

// Ctrl-C's action: cancels the batch and the stages it chains.
std::function<void()> cancelWork(Transcriber &engine);

// Chooses FOLDER as the source, rescanning when it already is. False (and a
// message) when it is not a folder.
bool chooseFolder(Context &ctx, const QString &folder);

} // namespace cli
