#include "pipeline/pagefetch.h"

#include "net/zipmodule.h"
#include "pattern/pattern.h"
#include "pattern/replaceall.h"
#include "pipeline/downloadjob.h"
#include "pipeline/hiddenbrowser.h"
#include "pipeline/jobview.h"
#include "pipeline/renderpage.h"
#include "text/charset.h"

#include <QTime>
#include <QUrl>

#include <limits>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

// A response without a usable length is drawn against 102400 bytes.
constexpr qint32 kAssumedLength = 102400;

double secondsSinceMidnight() {
    return QTime::currentTime().msecsSinceStartOfDay() / 1000.0;
}

std::optional<qint32> parseLength(const QByteArray &value) {
    bool ok = false;
    const qint64 whole = value.trimmed().toLongLong(&ok);
    if (ok && whole >= 0 && whole <= std::numeric_limits<qint32>::max())
        return qint32(whole);
    return std::nullopt;
}

} // namespace

PageFetcher::PageFetcher(DownloadJob &job, JobView &view, HttpClient &http, HiddenBrowser &browser,
                         HiddenBrowser &renderer)
    : m_job(job)
    , m_view(view)
    , m_http(http)
    , m_browser(browser)
    , m_renderer(renderer) {}

void PageFetcher::handleWeb(const QString &url) {
    if (m_running) {
        m_queued = url;
        return;
    }
    m_running = true;
    std::optional<QString> next = url;
    while (next) {
        fetchPage(*next);
        next = std::exchange(m_queued, std::nullopt);
    }
    m_running = false;
}

QString PageFetcher::fetchCookie(const QString &url) {
    // A page that fails or does not finish loading still gives the cookie it has so far.
    m_browser.load(QUrl(url));
    return m_browser.documentCookie().value_or(QString());
}

void PageFetcher::fetchPage(const QString &url) {
    const QUrl address(url, QUrl::StrictMode);
    const QString scheme = address.scheme().toLower();
    if (!address.isValid() || (scheme != u"http"_s && scheme != u"https"_s)) {
        m_view.noteFailure(u"不是网页地址：%1"_s.arg(url));
        m_job.endState = EndState::Failure;
        return;
    }
    if (m_job.pageKind == PageKind::Contents)
        m_job.savedCookie = fetchCookie(url);
    m_responseStarted = false;
    HttpResult result = m_http.get(url, m_job.savedCookie, this);
    if (result.abandoned) {
        // The user stopped the job while the site had not begun to answer.
        m_job.endState = EndState::Stopped;
        return;
    }
    if (!result.ok) {
        m_view.noteFailure(u"%1：%2"_s.arg(url, result.error));
        m_job.endState = EndState::Failure;
        return;
    }
    // An error page is not the page asked for: taking it would put the site's error text into
    // the book, or leave a chapter out while the job reports success.
    if (result.status >= 400) {
        m_view.noteFailure(u"%1：HTTP %2"_s.arg(url).arg(result.status));
        m_job.endState = EndState::Failure;
        return;
    }
    responseFinished(std::move(result.body));
}

void PageFetcher::responseStarted(const ResponseHead &head) {
    m_job.gzipBody =
        head.header("Content-Encoding").value_or(QByteArray()).toLower().contains("gzip");
    const auto length = head.header("Content-Length");
    m_job.expectedLength = length ? parseLength(*length).value_or(kAssumedLength) : kAssumedLength;
    m_job.receivedLength = 0;
    m_responseStarted = true;
    m_view.setPageProgress(0);
    m_job.startTime = secondsSinceMidnight();
    m_responseClock.start();
}

void PageFetcher::dataArrived(QByteArrayView piece) {
    m_job.receivedLength += qint32(piece.size());
    m_view.processEvents();
    m_view.setPageProgress(
        m_job.expectedLength > 0 ? double(m_job.receivedLength) / m_job.expectedLength : 1.0);
    // Measured on a steady clock: the time of day jumps at midnight and when the clock is set.
    const double elapsed = m_responseClock.nsecsElapsed() / 1e9;
    if (elapsed > 0)
        m_view.showSpeed(m_job.receivedLength / elapsed);
}

bool PageFetcher::keepWaiting() {
    m_view.processEvents();
    // Once the site answers, the page is finished as the stop button promises; only a request
    // still waiting for its first byte is given up.
    return m_responseStarted || !m_view.stopRequested();
}

void PageFetcher::responseFinished(QByteArray body) {
    m_view.setPageProgress(1.0);
    const PageKind kind = m_job.pageKind;
    if (body.isEmpty()) {
        m_job.pageText.clear();
    } else {
        if (m_job.gzipBody && !zipModule::gunzipBody(body)) {
            m_view.noteFailure(u"无法解压网页"_s);
            m_job.endState = EndState::Failure;
            return;
        }
        // The first page of a kind names the character set for every later page of that kind.
        QString &name = m_job.rules.tagCharset[size_t(kind)];
        if (name.isEmpty())
            name = charset::detectCharset(body);
        m_job.pageText = charset::decodeBytes(body, name);
    }
    m_job.pageText.remove(QChar(0));
    if (kind == PageKind::Contents && !m_job.rules.tagHtml.isEmpty())
        m_job.pageText = pipeline::renderPage(m_job.pageText, m_job.host, m_job.inputs.contentsUrl,
                                              m_renderer, m_http);
    // White space between tags goes, and so does a space before a tag's closing bracket. Tags
    // that already touch would only be replaced by themselves, so the pattern asks for at least
    // one blank between them: the same result without a match at every tag of the page.
    m_job.pageText = norModule::regReplace(m_job.pageText, u">(\\s)+<"_s, u"><"_s);
    norModule::replaceAll(m_job.pageText, u" >", u">");

    if (!m_steps)
        return;
    if (kind == PageKind::Contents)
        m_steps->contentsStep();
    else
        m_steps->chapterStep(m_job.pageText);
}
