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

// One thread for the engine's whole life, asleep unless a run is armed: it interrupts the engine
// when a run outlasts its limit.
class ScriptEngine::Watchdog {
public:
    explicit Watchdog(QJSEngine &engine)
        : m_engine(engine)
        , m_thread([this] { watch(); }) {}

    ~Watchdog() {
        {
            std::lock_guard lock(m_mutex);
            m_quit = true;
        }
        m_changed.notify_one();
        m_thread.join();
    }

    void arm(std::chrono::milliseconds limit) {
        {
            std::lock_guard lock(m_mutex);
            m_deadline = std::chrono::steady_clock::now() + limit;
        }
        m_changed.notify_one();
    }

    void disarm() {
        std::lock_guard lock(m_mutex);
        m_deadline.reset();
    }

private:
    void watch() {
        std::unique_lock lock(m_mutex);
        while (!m_quit) {
            if (!m_deadline) {
                m_changed.wait(lock);
            } else if (m_changed.wait_until(lock, *m_deadline) == std::cv_status::timeout &&
                       m_deadline && std::chrono::steady_clock::now() >= *m_deadline) {
                m_engine.setInterrupted(true);
                m_deadline.reset();
            }
        }
    }

    QJSEngine &m_engine;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::optional<std::chrono::steady_clock::time_point> m_deadline;
    bool m_quit = false;
    std::thread m_thread; // last: it starts once the rest is ready
};

ScriptEngine::ScriptEngine(std::chrono::milliseconds callLimit, std::chrono::milliseconds jobBudget)
    : m_callLimit(callLimit)
    , m_jobBudget(jobBudget)
    , m_watchdog(std::make_unique<Watchdog>(m_engine)) {}

ScriptEngine::~ScriptEngine() = default;

void ScriptEngine::startJob() {
    m_spent = {};
    m_runaways.clear();
}

template <typename Work>
QJSValue ScriptEngine::guarded(Work work, bool *interrupted) {
    const auto left = m_jobBudget - m_spent;
    if (left <= std::chrono::steady_clock::duration::zero())
        return m_engine.newErrorObject(QJSValue::GenericError, u"budget spent"_s);
    const auto started = std::chrono::steady_clock::now();
    m_watchdog->arm(
        std::min(m_callLimit, std::chrono::duration_cast<std::chrono::milliseconds>(left)));
    QJSValue value = work();
    m_watchdog->disarm();
    m_spent += std::chrono::steady_clock::now() - started;
    if (m_engine.isInterrupted()) {
        if (interrupted)
            *interrupted = true;
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
    if (!function.isCallable() || m_runaways.contains(name))
        return std::nullopt;
    QJSValueList values;
    for (const QString &argument : arguments)
        values.append(QJSValue(argument));
    bool interrupted = false;
    const QJSValue result = guarded([&] { return function.call(values); }, &interrupted);
    if (interrupted)
        m_runaways.insert(name);
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
