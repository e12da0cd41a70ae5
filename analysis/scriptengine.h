#pragma once
// The script engine a window keeps for its whole life: the inline scripts of contents pages are
// added to it (never removed), and "javascript:" chapter links are evaluated by calling the page's
// own functions. Every run is bounded by a watchdog, so a page script cannot hang the program.

#include <QJSEngine>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

class ScriptEngine {
public:
    explicit ScriptEngine(std::chrono::milliseconds callLimit = std::chrono::seconds(5));

    // Adds the inline scripts of page to the engine; a navigation ("document.location = x")
    // becomes "return x", so a function that would navigate returns the address instead.
    // Failures are ignored: what did evaluate stays defined.
    void loadPageScripts(const QString &page);

    // Evaluates "javascript:name(arg1, ...)" by calling the global function name with up to four
    // string arguments (quotation marks kept). "" when link holds no such call or has more than
    // four arguments; nullopt when the script fails, the function is missing or the call runs
    // past the limit.
    std::optional<QString> runScriptLink(const QString &link);

private:
    // Adds code to the engine (the engine's AddCode); false when it raised an error.
    bool addCode(const QString &code);
    // Calls a global function by name (the engine's Run); nullopt on any failure.
    std::optional<QString> run(const QString &name, const QStringList &arguments);

    // Runs work with the watchdog armed; the value, or an error value when interrupted.
    template <typename Work>
    QJSValue guarded(Work work);

    QJSEngine m_engine;
    std::chrono::milliseconds m_callLimit;
};
