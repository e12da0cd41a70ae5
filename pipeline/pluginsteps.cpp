#include "pipeline/pluginsteps.h"

#include "pattern/combineurl.h"
#include "pipeline/downloadjob.h"
#include "pipeline/jobview.h"

#include <QVariant>

#include <optional>

using namespace Qt::StringLiterals;

namespace {

// Far more pages than any book a plug-in builds; a plug-in that asks for more never ends.
constexpr int kMaxPages = 10000;

// The plug-in's members are reached by name only, so a plug-in built on its own works as long as
// it keeps the names and signatures of plugins/README.md. nullopt when the call is not possible.
std::optional<QString> infoFromWeb(QObject &plugin, QString &page, int kind) {
    QString next;
    if (!QMetaObject::invokeMethod(&plugin, "infoFromWeb", Qt::DirectConnection,
                                   Q_RETURN_ARG(QString, next), Q_ARG(QString *, &page),
                                   Q_ARG(int, kind)))
        return std::nullopt;
    return next;
}

std::optional<QString> titleOf(const QObject &plugin) {
    const QVariant title = plugin.property("title");
    if (!title.canConvert<QString>())
        return std::nullopt;
    return title.toString();
}

} // namespace

PluginSteps::PluginSteps(DownloadJob &job, JobView &view, PageFetcher &fetcher)
    : m_job(job)
    , m_view(view)
    , m_fetcher(fetcher) {}

void PluginSteps::pageStep(const FetchedPage &page) {
    if (!m_job.plugin) {
        m_fetcher.fail(u"站点的插件没有载入"_s);
        return;
    }
    // The plug-in sees 0 for the job's first page and 1 for every later one; whatever it leaves
    // in its copy is of no concern here.
    const int kind = page.kind == PageKind::Contents ? 0 : 1;
    m_pages = kind == 0 ? 1 : m_pages + 1;
    m_text = page.text;
    const auto next = infoFromWeb(*m_job.plugin, m_text, kind);
    if (!next) {
        m_fetcher.fail(u"插件无法处理网页"_s);
        return;
    }
    if (next->isEmpty()) {
        finishBook();
        return;
    }
    // The stop request is looked at only now: a page the plug-in has finished the book with is
    // written even when the stop came while it was handled.
    if (m_view.stopRequested()) {
        m_fetcher.stop();
        return;
    }
    if (m_pages >= kMaxPages) {
        m_fetcher.fail(u"插件要求的网页超过 %1 页"_s.arg(kMaxPages));
        return;
    }
    // Resolved against the contents page, not against the page just handled.
    m_fetcher.handleWeb(norModule::combineUrl(m_job.inputs.contentsUrl, *next), PageKind::Chapter);
}

void PluginSteps::finishBook() {
    const auto title = titleOf(*m_job.plugin);
    if (!title) {
        m_fetcher.fail(u"插件没有书名"_s);
        return;
    }
    m_job.book.bookTitle = *title;
    // By now the plug-in has replaced the page with the whole book.
    m_fetcher.writeBook(m_text, *title);
}
