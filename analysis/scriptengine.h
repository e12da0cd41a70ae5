#pragma once
// The script engine a window keeps for its whole life: the inline scripts of contents pages are
// added to it (never removed), and "javascript:" chapter links are evaluated by calling the page's
// own functions. Every run is bounded by a watchdog, so a page script cannot hang the program.

#include <QJSEngine>
#include <QSet>
#include <QString>
#include <QStringList>

#include <chrono>
#include <memory>
#include <optional>

class ScriptEngine {
public:
    explicit ScriptEngine(std::chrono::milliseconds callLimit = std::chrono::seconds(5),
                          std::chrono::milliseconds jobBudget = std::chrono::seconds(30));
    ~ScriptEngine();
    ScriptEngine(const ScriptEngine &) = delete;
    ScriptEngine &operator=(const ScriptEngine &) = delete;

    // A job begins: its scripts get the whole budget again. Over one job, runs together take at
    // most the budget; once it is spent every run fails at once.
    void startJob();

    // Adds the inline scripts of page to the engine; a navigation ("document.location = x")
    // becomes "return x", so a function that would navigate returns the address instead.
    // Failures are ignored: what did evaluate stays defined.
    void loadPageScripts(const QString &page);

    // Evaluates "javascript:name(arg1, ...)" by calling the global function name with up to four
    // string arguments (quotation marks kept). "" when link holds no such call or has more than
    // four arguments; nullopt when the script fails, the function is missing or the call runs
    // past the limit. A function once interrupted fails at once from then on.
    std::optional<QString> runScriptLink(const QString &link);

private:
    class Watchdog;

    // Adds code to the engine; false when it raised an error.
    bool addCode(const QString &code);
    // Calls a global function by name; nullopt on any failure.
    std::optional<QString> run(const QString &name, const QStringList &arguments);

    // Runs work with the watchdog armed (for the call limit or what is left of the job's budget);
    // the value, or an error value when interrupted (then *interrupted is set) or out of budget.
    template <typename Work>
    QJSValue guarded(Work work, bool *interrupted = nullptr);

    QJSEngine m_engine;
    std::chrono::milliseconds m_callLimit;
    std::chrono::milliseconds m_jobBudget;
    std::chrono::steady_clock::duration m_spent{};
    QSet<QString> m_runaways; // functions that were interrupted
    std::unique_ptr<Watchdog> m_watchdog;
};
