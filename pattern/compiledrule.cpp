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
        PCRE2_UCHAR message[256];
        if (pcre2_get_error_message(error, message, sizeof message / sizeof *message) > 0)
            m_error = QString::fromUtf16(reinterpret_cast<const char16_t *>(message));
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
                                           bool checkText) const {
    if (!m_code || offset < 0 || offset > text.size())
        return std::nullopt;
    MatchResources &shared = resources();
    if (!shared.context)
        return std::nullopt;
    const std::unique_ptr<pcre2_match_data, decltype(&pcre2_match_data_free)> data(
        pcre2_match_data_create_from_pattern(m_code->code, nullptr), &pcre2_match_data_free);
    if (!data)
        return std::nullopt;
    pcre2_set_match_limit(shared.context, stepLimit);
    // An empty QString may have no buffer at all; PCRE2 wants a pointer either way.
    static const char16_t empty = 0;
    const auto *subject = text.isEmpty() ? reinterpret_cast<PCRE2_SPTR>(&empty)
                                         : reinterpret_cast<PCRE2_SPTR>(text.utf16());
    const int result =
        pcre2_match(m_code->code, subject, PCRE2_SIZE(text.size()), PCRE2_SIZE(offset),
                    checkText ? 0 : PCRE2_NO_UTF_CHECK, data.get(), shared.context);
    RuleHit hit;
    if (result == PCRE2_ERROR_NOMATCH)
        return hit;
    if (result < 0)
        return std::nullopt;
    hit.m_subject = text;
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
