// Contents analysis of a page with the demo site's rules, script links included.
#include "analysis/contents.h"
#include "analysis/scriptengine.h"
#include "tests/fuzz/fuzzinput.h"

#include <QCoreApplication>

namespace {

SiteRules demoRules() {
    SiteRules rules;
    rules.tagTitle = {QStringLiteral("<h1>(.*?)</h1>")};
    rules.tagAuthor = {QStringLiteral("作者：(.*?)<")};
    rules.tagVolume = {QStringLiteral("<h2 class=\"volume\">(.*?)</h2>")};
    rules.tagChapter = {QStringLiteral("<li><a href=\"(.*?)\">(.*?)</a></li>")};
    rules.tagSort = QStringLiteral("1");
    return rules;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const SiteRules rules = demoRules();
    static ScriptEngine scripts(std::chrono::milliseconds(200), std::chrono::seconds(1));
    const ContentsRequest request{QStringLiteral("http://book.example.com/1/"),
                                  QStringLiteral("http://book.example.com/1/2.html"), QString(),
                                  size % 2 == 0};
    BookContents book;
    scripts.startJob();
    ContentsAnalysis(rules, request, scripts, book).analyseContents(fuzz::text(data, size));
    const auto &list = book.chapters;
    if (list.chapterNames.size() != list.chapterUrls.size() ||
        list.volumeNames.size() != list.chapterUrls.size())
        __builtin_trap();
    return 0;
}
