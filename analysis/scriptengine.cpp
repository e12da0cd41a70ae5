#include "analysis/scriptengine.h"

#include "pattern/pattern.h"

#include <QJSValueList>

#include <condition_variable>
#include <mutex>
#include <thread>

using namespace Qt::StringLiterals;

namespace {

// Pages wrap their scripts in "<!--" and "//-->" lines for very old browsers. Browser script
// engines read such a line marker as the start of a comment; this engine does not, so the marker
// is turned into one.
QString withoutHtmlCommentMarkers(const QString &code) {
    QStringList lines = code.split(u'\n');
    for (QString &line : lines) {
        qsizetype first = 0;
        while (first < line.size() && line.at(first).isSpace())
            ++first;
        const QStringView rest = QStringView(line).mid(first);
        if (rest.startsWith(u"<!--"))
            line.replace(first, 4, u"//"_s);
        else if (rest.startsWith(u"-->"))
            line.replace(first, 3, u"//"_s);
    }
    return lines.join(u'\n');
}

} // namespace

ScriptEngine::ScriptEngine(std::chrono::milliseconds callLimit)
    : m_callLimit(callLimit) {}

template <typename Work>
QJSValue ScriptEngine::guarded(Work work) {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::thread watchdog([&] {
        std::unique_lock lock(mutex);
        if (!finished.wait_for(lock, m_callLimit, [&] { return done; }))
            m_engine.setInterrupted(true);
    });
    QJSValue value = work();
    {
        std::lock_guard lock(mutex);
        done = true;
    }
    finished.notify_one();
    watchdog.join();
    if (m_engine.isInterrupted()) {
        m_engine.setInterrupted(false);
        return m_engine.newErrorObject(QJSValue::GenericError, u"interrupted"_s);
    }
    return value;
}

bool ScriptEngine::addCode(const QString &code) {
    const QJSValue result = guarded([&] { return m_engine.evaluate(code); });
    return !result.isError();
}

std::optional<QString> ScriptEngine::run(const QString &name, const QStringList &arguments) {
    QJSValue function = m_engine.globalObject().property(name);
    if (!function.isCallable())
        return std::nullopt;
    QJSValueList values;
    for (const QString &argument : arguments)
        values.append(QJSValue(argument));
    const QJSValue result = guarded([&] { return function.call(values); });
    if (result.isError())
        return std::nullopt;
    if (result.isUndefined() || result.isNull())
        return QString();
    return result.toString();
}

void ScriptEngine::loadPageScripts(const QString &page) {
    QString code;
    const auto scripts = norModule::allMatches(page, u"<script.*?>((.|\\n)*?)</script>"_s);
    if (scripts) {
        for (const norModule::RuleMatch &script : *scripts)
            code += u"\r\n"_s + script.subMatch(0);
    }
    code = norModule::regReplace(code, u"document.location.*?="_s, u"return "_s);
    code = norModule::regReplace(code, u"<!--.*?-->"_s, QString());
    addCode(withoutHtmlCommentMarkers(code));
}

std::optional<QString> ScriptEngine::runScriptLink(const QString &link) {
    const QString pattern = u"javascript:(.*?)\\((.*?)\\)"_s;
    const auto calls = norModule::allMatches(link, pattern);
    if (!calls || calls->isEmpty())
        return QString();
    const int nameIndex = norModule::placeholderIndex(pattern, 0);
    const int argumentIndex = norModule::placeholderIndex(pattern, 1);
    if (nameIndex < 0 || argumentIndex < 0)
        return QString();
    const norModule::RuleMatch &call = calls->first();
    const QString argumentText = call.subMatch(argumentIndex);
    QStringList pieces;
    if (!argumentText.isEmpty())
        pieces = argumentText.split(u',');
    if (pieces.size() > 4)
        return QString();
    for (QString &piece : pieces) {
        // Only the spaces around an argument go; its quotation marks are part of it.
        while (piece.startsWith(u' '))
            piece.remove(0, 1);
        while (piece.endsWith(u' '))
            piece.chop(1);
    }
    return run(call.subMatch(nameIndex), pieces);
}
