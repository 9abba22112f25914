// parlivo-cli settings: print all, print one, set one, or reset the prompt.
#include "app/cli/cli.h"
#include "core/settings.h"
#include "engine/transcriber.h"

namespace cli {

namespace {
// The record with one key replaced; nothing when the value does not fit the key.
std::optional<ParlivoSettings> withValue(const ParlivoSettings &current, const QString &key, const Json &value) {
    Json json = toJson(current);
    json[key.toStdString()] = value;
    try {
        return settingsFromJson(json);
    } catch (const std::exception &) {
        return std::nullopt;
    }
}
} // namespace

QCoro::Task<int> settings(Context &ctx) {
    Transcriber &engine = ctx.engine;

    if (ctx.args.size() == 1 && ctx.args.first() == QLatin1String("--reset-prompt")) {
        ParlivoSettings s = engine.settings();
        s.correctionPrompt = ParlivoSettings::defaultCorrectionPrompt;
        engine.setSettings(s);
        engine.saveNow();
        ctx.err << "Instruction de correction rétablie." << Qt::endl;
        co_return success;
    }
    if (ctx.args.size() <= 1) co_return printSettings(engine.settings(), ctx.args, ctx.out, ctx.err);
    if (!checkSettingKey(ctx.args, ctx.err)) co_return badUsage;
    const QString key = ctx.args.first();

    // The value is read as JSON when it fits the key (2, true, null), else as text.
    const QString text = ctx.args.at(1);
    std::optional<ParlivoSettings> updated;
    try {
        updated = withValue(engine.settings(), key, Json::parse(text.toStdString()));
    } catch (const std::exception &) {
    }
    if (!updated) updated = withValue(engine.settings(), key, Json(text.toStdString()));
    if (!updated) {
        const QString rule = settingRule(key);
        ctx.err << "Valeur refusée pour " << key << " : " << text
                << (rule.isEmpty() ? QString() : QStringLiteral(" (attendu : %1)").arg(rule)) << Qt::endl;
        co_return badUsage;
    }
    engine.setSettings(*updated);
    engine.saveNow();
    printSettingValue(toJson(engine.settings())[key.toStdString()], ctx.out);
    co_return success;
}

} // namespace cli
