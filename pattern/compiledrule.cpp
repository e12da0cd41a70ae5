#include "pattern/compiledrule.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

namespace norModule {

namespace {

// The interpreter's heap (used where there is no JIT) and the JIT's stack, per thread.
constexpr uint32_t kHeapLimitKiB = 262144;
constexpr size_t kJitStackStart = 32 * 1024;
constexpr size_t kJitStackMax = 1024 * 1024;

struct MatchResources {
    pcre2_match_context *context = pcre2_match_context_create(nullptr);
    pcre2_jit_stack *stack = pcre2_jit_stack_create(kJitStackStart, kJitStackMax, nullptr);

    MatchResources() {
        if (context) {
            pcre2_set_heap_limit(context, kHeapLimitKiB);
            if (stack)
                pcre2_jit_stack_assign(context, nullptr, stack);
        }
    }
    ~MatchResources() {
        pcre2_jit_stack_free(stack);
        pcre2_match_context_free(context);
    }
    MatchResources(const MatchResources &) = delete;
    MatchResources &operator=(const MatchResources &) = delete;
};

MatchResources &resources() {
    thread_local MatchResources perThread;
    return perThread;
}

QString engineMessage(int error) {
    PCRE2_UCHAR message[256];
    if (pcre2_get_error_message(error, message, sizeof message / sizeof *message) <= 0)
        return QStringLiteral("PCRE2 error %1").arg(error);
    return QString::fromUtf16(reinterpret_cast<const char16_t *>(message));
}

void setFailure(MatchFailure *failure, int error) {
    if (!failure)
        return;
    failure->limit = error == PCRE2_ERROR_MATCHLIMIT || error == PCRE2_ERROR_DEPTHLIMIT ||
                     error == PCRE2_ERROR_HEAPLIMIT;
    failure->message = engineMessage(error);
}

// The last text searched on this thread, and its repaired form when it had lone surrogates. The
// copy of the text keeps its buffer alive, so a text with the same buffer is that text.
struct SearchedText {
    QString text;
    QString repaired; // null when the text was valid UTF-16
};

SearchedText &lastSearched() {
    thread_local SearchedText searched;
    return searched;
}

// text with every surrogate that is not part of a pair replaced by U+FFFD; null when it has none.
QString repairedText(const QString &text) {
    const qsizetype n = text.size();
    const QChar *data = text.constData();
    QString repaired;
    for (qsizetype i = 0; i < n; ++i) {
        if (!data[i].isSurrogate())
            continue;
        if (data[i].isHighSurrogate() && i + 1 < n && data[i + 1].isLowSurrogate()) {
            ++i;
            continue;
        }
        if (repaired.isNull())
            repaired = text;
        repaired[i] = QChar::ReplacementCharacter;
    }
    return repaired;
}

// The text the engine is given for text: text itself, or its repaired form.
const QString &validSubject(const QString &text, bool checkText) {
    if (text.isEmpty())
        return text;
    SearchedText &searched = lastSearched();
    const bool same =
        searched.text.constData() == text.constData() && searched.text.size() == text.size();
    if (checkText || !same) {
        searched.text = text;
        searched.repaired = repairedText(text);
    }
    return searched.repaired.isNull() ? text : searched.repaired;
}

} // namespace

struct CompiledRule::Code {
    pcre2_code *code = nullptr;
    ~Code() { pcre2_code_free(code); }
};

qsizetype RuleHit::capturedStart(int group) const {
    return group >= 0 && 2 * group < m_spans.size() ? m_spans.at(2 * group) : -1;
}

qsizetype RuleHit::capturedEnd(int group) const {
    return group >= 0 && 2 * group + 1 < m_spans.size() ? m_spans.at(2 * group + 1) : -1;
}

qsizetype RuleHit::capturedLength(int group) const {
    const qsizetype start = capturedStart(group);
    return start < 0 ? 0 : capturedEnd(group) - start;
}

QString RuleHit::captured(int group) const {
    const qsizetype start = capturedStart(group);
    if (start < 0)
        return {};
    return m_subject.mid(start, capturedEnd(group) - start);
}

CompiledRule::CompiledRule(const QString &pattern) {
    int error = 0;
    PCRE2_SIZE errorOffset = 0;
    pcre2_code *code =
        pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.utf16()), PCRE2_SIZE(pattern.size()),
                      PCRE2_UTF | PCRE2_CASELESS | PCRE2_MULTILINE, &error, &errorOffset, nullptr);
    if (!code) {
        // Rule writers see this message when they check a section.
        m_error = engineMessage(error);
        m_errorOffset = qsizetype(errorOffset);
        return;
    }
    // Without the JIT the interpreter still matches, only slower.
    pcre2_jit_compile(code, PCRE2_JIT_COMPLETE);
    uint32_t captures = 0;
    pcre2_pattern_info(code, PCRE2_INFO_CAPTURECOUNT, &captures);
    m_code = std::make_shared<Code>();
    m_code->code = code;
    m_captures = int(captures);
}

std::optional<RuleHit> CompiledRule::match(const QString &text, qsizetype offset, quint32 stepLimit,
                                           bool checkText, MatchFailure *failure) const {
    if (!m_code) {
        if (failure)
            *failure = MatchFailure{.limit = false, .message = m_error};
        return std::nullopt;
    }
    if (offset < 0 || offset > text.size()) {
        setFailure(failure, PCRE2_ERROR_BADOFFSET);
        return std::nullopt;
    }
    MatchResources &shared = resources();
    const std::unique_ptr<pcre2_match_data, decltype(&pcre2_match_data_free)> data(
        shared.context ? pcre2_match_data_create_from_pattern(m_code->code, nullptr) : nullptr,
        &pcre2_match_data_free);
    if (!data) {
        setFailure(failure, PCRE2_ERROR_NOMEMORY);
        return std::nullopt;
    }
    pcre2_set_match_limit(shared.context, stepLimit);
    // The engine rejects a text that is not valid UTF-16 as a whole: one broken character
    // would fail every rule on the page. Once repaired the text is valid, so the engine's own
    // check is left out; only a start inside a surrogate pair is still refused.
    const QString &valid = validSubject(text, checkText);
    if (offset > 0 && offset < valid.size() && valid.at(offset).isLowSurrogate() &&
        valid.at(offset - 1).isHighSurrogate()) {
        setFailure(failure, PCRE2_ERROR_BADUTFOFFSET);
        return std::nullopt;
    }
    // An empty QString may have no buffer at all; PCRE2 wants a pointer either way.
    static const char16_t empty = 0;
    const auto *subject = valid.isEmpty() ? reinterpret_cast<PCRE2_SPTR>(&empty)
                                          : reinterpret_cast<PCRE2_SPTR>(valid.utf16());
    const int result =
        pcre2_match(m_code->code, subject, PCRE2_SIZE(valid.size()), PCRE2_SIZE(offset),
                    PCRE2_NO_UTF_CHECK, data.get(), shared.context);
    RuleHit hit;
    if (result == PCRE2_ERROR_NOMATCH)
        return hit;
    if (result < 0) {
        setFailure(failure, result);
        return std::nullopt;
    }
    hit.m_subject = valid;
    const PCRE2_SIZE *ovector = pcre2_get_ovector_pointer(data.get());
    const int groups = m_captures + 1;
    hit.m_spans.reserve(2 * groups);
    for (int g = 0; g < groups; ++g) {
        // Groups past the highest one set, and groups that took no part, are unset.
        const bool set = g < result && ovector[2 * g] != PCRE2_UNSET;
        hit.m_spans.append(set ? qsizetype(ovector[2 * g]) : -1);
        hit.m_spans.append(set ? qsizetype(ovector[2 * g + 1]) : -1);
    }
    return hit;
}

} // namespace norModule
