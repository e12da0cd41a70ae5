#include "pipeline/pagefetch.h"

#include "browser/hiddenbrowser.h"
#include "browser/plaincookie.h"
#include "browser/renderpage.h"
#include "browser/webengine.h"
#include "net/zipmodule.h"
#include "pattern/replaceall.h"
#include "pipeline/bookwrite.h"
#include "pipeline/fetchscheduler.h"
#include "pipeline/jobview.h"
#include "text/charset.h"

#include <QUrl>

#include <limits>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

// A response without a usable length is drawn against 102400 bytes.
constexpr qint32 kAssumedLength = 102400;

std::optional<qint32> parseLength(const QByteArray &value) {
    bool ok = false;
    const qint64 whole = value.trimmed().toLongLong(&ok);
    if (ok && whole >= 0 && whole <= std::numeric_limits<qint32>::max())
        return qint32(whole);
    return std::nullopt;
}

bool gzipped(const ResponseHead &head) {
    return head.header("Content-Encoding").value_or(QByteArray()).toLower().contains("gzip");
}

// What the rules' "\s" matches: the ASCII blanks (tab, line feed, vertical tab, form feed,
// carriage return and space), as PCRE2 reads it without Unicode properties.
bool ruleBlank(char16_t c) {
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}

// The text of a decoded page as the steps see it: white space between tags goes, and so does a
// space before a tag's closing bracket. The first is the rule ">(\s)+<" replaced by "><",
// walked by hand: it runs over every page of a book.
QString tidyTags(QString text) {
    const qsizetype n = text.size();
    qsizetype out = 0;
    char16_t *data = reinterpret_cast<char16_t *>(text.data());
    for (qsizetype i = 0; i < n;) {
        const char16_t c = data[i];
        data[out++] = c;
        ++i;
        if (c != u'>')
            continue;
        qsizetype end = i;
        while (end < n && ruleBlank(data[end]))
            ++end;
        // The blanks go and the "<" is copied next; blanks before anything else are copied as
        // they come.
        if (end > i && end < n && data[end] == u'<')
            i = end;
    }
    text.truncate(out);
    norModule::replaceAll(text, u" >", u">");
    return text;
}

// A body as page text: inflated when gzipped, decoded by name (detected into name when it is
// empty), NULs removed. nullopt when it cannot be inflated.
std::optional<QString> decodedBody(QByteArray body, bool gzip, QString &name) {
    if (gzip && !zipModule::gunzipBody(body))
        return std::nullopt;
    if (name.isEmpty())
        name = charset::detectCharset(body);
    QString text = charset::decodeBytes(body, name);
    text.remove(QChar(0));
    return text;
}

} // namespace

PageFetcher::PageFetcher(DownloadJob &job, JobView &view, HttpClient &http, HiddenBrowser &browser,
                         HiddenBrowser &renderer)
    : m_job(job)
    , m_view(view)
    , m_http(http)
    , m_browser(browser)
    , m_renderer(renderer) {}

PageFetcher::~PageFetcher() = default;

void PageFetcher::handleWeb(const QString &url, PageKind kind) {
    if (m_running) {
        m_queued = std::pair(url, kind);
        return;
    }
    m_running = true;
    m_job.endState = EndState::Success;
    m_rejected.clear();
    // Pages of a public site may not lead the job's requests to this machine or its network.
    m_http.setOrigin(m_job.inputs.contentsUrl);
    if (m_policy.active()) {
        m_scheduler = std::make_unique<FetchScheduler>(m_view, m_policy, m_job.inputs.contentsUrl,
                                                       m_http.limits());
        m_scheduler->onArrival = [this](int chapter, int page, ScheduledPage &fetched) {
            pageArrived(chapter, page, fetched);
        };
    }
    std::optional<std::pair<QString, PageKind>> next = std::pair(url, kind);
    while (next) {
        fetchPage(next->first, next->second);
        next = std::exchange(m_queued, std::nullopt);
    }
    if (m_scheduler) {
        m_scheduler->endJob(m_job.endState == EndState::Success);
        m_scheduler.reset();
    }
    m_running = false;
}

void PageFetcher::planChapters(const QStringList &urls, int first, int last) {
    if (m_scheduler)
        m_scheduler->planChapters(urls, first, last);
}

void PageFetcher::beginChapter(int chapter) {
    if (m_scheduler)
        m_scheduler->beginChapter(chapter);
}

namespace {

// The request that reads a contents page's cookie from the page itself. It shows nothing of its
// own. It is given up as soon as the page turns out to hold a script, as most sites' pages do, so
// that such a site sends little more than the page's head twice; and a page slow to come is left
// to the browser after three seconds.
class PlainCookieRequest : public HttpEvents {
public:
    explicit PlainCookieRequest(JobView &view)
        : m_view(view) {
        m_clock.start();
    }

    void responseStarted(const ResponseHead &) override { m_tail.clear(); }
    void dataArrived(QByteArrayView piece) override {
        // The word may span two pieces.
        const QByteArray seen = m_tail + piece.toByteArray().toLower();
        m_scripted = m_scripted || seen.contains("script");
        m_tail = seen.right(5);
    }
    bool keepWaiting() override {
        m_view.processEvents();
        return !m_scripted && !m_view.stopRequested() && m_clock.elapsed() < 3000;
    }

private:
    JobView &m_view;
    QElapsedTimer m_clock;
    QByteArray m_tail; // the end of what arrived, lowered
    bool m_scripted = false;
};

} // namespace

QString PageFetcher::fetchCookie(const QString &url) {
    if (const auto cookie = plainPageCookie(url))
        return *cookie;
    // A page that fails or does not finish loading still gives the cookie it has so far.
    m_browser.load(QUrl(url));
    return m_browser.documentCookie().value_or(QString());
}

std::optional<QString> PageFetcher::plainPageCookie(const QString &url) {
    PlainCookieRequest events(m_view);
    HttpResult result = m_http.get(url, QString(), &events, browser::navigationHeaders());
    if (m_view.stopRequested())
        return QString(); // the job's next request ends it
    // (The body comes decoded from the encodings the browser accepts.)
    if (!result.ok || result.url != url)
        return std::nullopt;
    return browser::plainPageCookie(QUrl(url), result.head, result.body);
}

void PageFetcher::fail(const QString &reason) {
    m_view.noteFailure(reason);
    m_job.endState = EndState::Failure;
}

namespace {

// The view a book is written through: the writer's failure is kept instead of shown, so that it
// fails the job as its reason; everything else goes to the job's view.
class WriteView : public ForwardingView {
public:
    using ForwardingView::ForwardingView;
    void noteFailure(const QString &reason) override { failure = reason; }

    std::optional<QString> failure;
};

} // namespace

void PageFetcher::writeBook(const QString &text, const book::BookOutline &outline) {
    WriteView view(m_view);
    if (!pipeline::writeBook(text, outline, m_job.inputs, view, &m_job.report.unencodable))
        fail(view.failure.value_or(QString()));
}

void PageFetcher::writeBook(const QString &text, const QString &title) {
    WriteView view(m_view);
    if (!pipeline::writeBook(text, title, m_job.inputs, view, &m_job.report.unencodable))
        fail(view.failure.value_or(QString()));
}

void PageFetcher::fetchPage(const QString &url, PageKind kind) {
    const QUrl address(url, QUrl::StrictMode);
    const QString scheme = address.scheme().toLower();
    if (!address.isValid() || (scheme != u"http"_s && scheme != u"https"_s)) {
        fail(u"不是网页地址：%1"_s.arg(url));
        return;
    }
    m_page = FetchedPage();
    m_page.url = url;
    m_page.kind = kind;
    if (kind == PageKind::Contents) {
        if (m_scheduler)
            m_scheduler->noteStart(url);
        m_job.savedCookie = fetchCookie(url);
    }
    m_pageRejected = false;
    if (m_scheduler) {
        fetchScheduled(url);
        return;
    }
    const bool withCookie = pipeline::cookieGoesTo(m_job.inputs.contentsUrl, url);
    m_http.start(url, withCookie ? m_job.savedCookie : QString(), this);
    whileWaiting();
    HttpResult result = m_http.finish();
    if (result.abandoned) {
        // The user stopped the job while the page was on its way.
        stop();
        return;
    }
    if (accepted(url, result))
        responseFinished(std::move(result.body));
}

bool PageFetcher::accepted(const QString &url, const HttpResult &result) {
    if (!result.ok) {
        fail(u"%1：%2"_s.arg(url, result.error));
        return false;
    }
    // An error page is not the page asked for: taking it would put the site's error text into
    // the book, or leave a chapter out while the job reports success.
    if (result.status >= 400) {
        fail(u"%1：HTTP %2"_s.arg(url).arg(result.status));
        return false;
    }
    return true;
}

void PageFetcher::fetchScheduled(const QString &url) {
    m_scheduler->setCookie(m_job.savedCookie, m_job.inputs.contentsUrl);
    // A contents page kept by a failed run would hold every rerun to the chapters the site
    // listed then: one it has since removed would fail the job again and again.
    const bool contents = m_page.kind == PageKind::Contents;
    if (contents)
        m_scheduler->fetchFresh(url);
    auto page = m_scheduler->take(url, [this] { whileWaiting(); });
    if (!page) {
        stop();
        return;
    }
    HttpResult &result = page->result;
    if (!accepted(url, result))
        return;
    // Kept for a rerun only once its step has taken it: a page the rules find nothing in (a
    // site's "too many requests" answered with 200) would otherwise stand in for the chapter
    // in every later run.
    std::optional<HttpResult> toKeep;
    if (!page->fromCache && !contents && m_scheduler->keepsPages())
        toKeep = result;
    // The page arrived whole, maybe long ago: its progress is drawn at once, and the speed is
    // the scheduler's, over all its requests.
    responseStarted(result.head);
    m_page.receivedLength = qint32(result.body.size()); // at most HttpClient::kMaxBody
    std::optional<EarlyText> early;
    if (page->text)
        early = EarlyText{std::move(*page->text), page->charset};
    responseFinished(std::move(result.body), std::move(early));
    if (toKeep && !m_pageRejected && m_job.endState == EndState::Success)
        m_scheduler->keep(url, *toKeep);
}

bool PageFetcher::rejectPage(const QString &reason) {
    m_pageRejected = true;
    // Only a job that may retry fetches through the scheduler.
    if (!m_scheduler || m_page.url.isEmpty())
        return false;
    int &tries = m_rejected[m_page.url];
    if (tries >= m_policy.retries)
        return false;
    ++tries;
    m_scheduler->retryLater(m_page.url, tries, reason);
    handleWeb(m_page.url, m_page.kind);
    return true;
}

void PageFetcher::whileWaiting() {
    // A job's first request, its contents page, finds nothing of its own left to do: whatever a
    // step kept then belongs to a job that has ended.
    if (m_steps && m_page.kind != PageKind::Contents)
        m_steps->whileWaiting();
}

void PageFetcher::pageArrived(int chapter, int page, ScheduledPage &fetched) {
    // Decoded now, as responseFinished would decode it as a chapter page, so that its follow-on
    // page is known at once; the step takes the text when the character set turns out the same.
    const HttpResult &result = fetched.result;
    if (!m_steps || result.body.isEmpty())
        return;
    fetched.charset = m_job.rules.tagCharset[size_t(PageKind::Chapter)];
    auto text = decodedBody(result.body, gzipped(result.head), fetched.charset);
    if (!text)
        return;
    // What waits for its turn is held to a bound in bytes: a small page may inflate to a huge
    // text. One that does not fit is kept as it came and decoded when its turn comes.
    if (!m_scheduler->roomAhead(text->size() * qsizetype(sizeof(QChar)))) {
        fetched.charset.clear();
        return;
    }
    fetched.text = tidyTags(std::move(*text));
    if (const auto next = m_steps->followOnOf(chapter, *fetched.text))
        m_scheduler->want(*next, chapter, page + 1);
}

void PageFetcher::responseStarted(const ResponseHead &head) {
    m_page.gzip = gzipped(head);
    const auto length = head.header("Content-Length");
    m_page.expectedLength = length ? parseLength(*length).value_or(kAssumedLength) : kAssumedLength;
    m_page.receivedLength = 0;
    m_view.setPageProgress(0);
    m_responseClock.start();
}

void PageFetcher::dataArrived(QByteArrayView piece) {
    m_page.receivedLength += qint32(piece.size());
    m_view.processEvents();
    m_view.setPageProgress(
        m_page.expectedLength > 0 ? double(m_page.receivedLength) / m_page.expectedLength : 1.0);
    // Measured on a steady clock: the time of day jumps at midnight and when the clock is set.
    const double elapsed = m_responseClock.nsecsElapsed() / 1e9;
    if (elapsed > 0)
        m_view.showSpeed(m_page.receivedLength / elapsed);
}

bool PageFetcher::keepWaiting() {
    m_view.processEvents();
    // A page may trickle in for minutes: a stop gives it up wherever it has got to.
    return !m_view.stopRequested();
}

void PageFetcher::responseFinished(QByteArray body, std::optional<EarlyText> early) {
    m_view.setPageProgress(1.0);
    const PageKind kind = m_page.kind;
    // The first page of a kind names the character set for every later page of that kind.
    QString &name = m_job.rules.tagCharset[size_t(kind)];
    // A page decoded on arrival is taken as it is when it was decoded as the same kind in the
    // same character set. (While the set is unknown, the early decoding detected it in this very
    // body, as the lines below would.)
    if (early && kind == PageKind::Chapter && (name.isEmpty() || name == early->charset)) {
        name = early->charset;
        m_page.text = std::move(early->text);
    } else {
        if (body.isEmpty()) {
            m_page.text.clear();
        } else {
            auto text = decodedBody(std::move(body), m_page.gzip, name);
            if (!text) {
                fail(u"无法解压网页：%1"_s.arg(m_page.url));
                return;
            }
            m_page.text = std::move(*text);
        }
        if (kind == PageKind::Contents && !m_job.rules.tagHtml.isEmpty())
            m_page.text = browser::renderPage(m_page.text, m_job.host, m_job.inputs.contentsUrl,
                                              m_renderer, m_http);
        m_page.text = tidyTags(std::move(m_page.text));
    }

    if (!m_steps)
        return;
    if (kind == PageKind::Contents)
        m_steps->contentsStep(m_page);
    else
        m_steps->chapterStep(m_page);
}
