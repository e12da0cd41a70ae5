#include "pipeline/pagefetch.h"

#include "net/zipmodule.h"
#include "pattern/pattern.h"
#include "pattern/replaceall.h"
#include "pipeline/downloadjob.h"
#include "pipeline/hiddenbrowser.h"
#include "pipeline/jobview.h"
#include "pipeline/renderpage.h"
#include "text/charset.h"

#include <QLocale>
#include <QTime>
#include <QUrl>

#include <cmath>
#include <limits>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

// The page bar is full at 1440 twips; a response without a usable length is drawn against
// 102400 bytes.
constexpr double kPageBarTwips = 1440.0;
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
    HttpResult result = m_http.get(url, m_job.savedCookie, this);
    if (!result.ok) {
        m_view.noteFailure(u"%1：%2"_s.arg(url, result.error));
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
    m_view.setPageBarWidth(0);
    m_job.startTime = secondsSinceMidnight();
}

void PageFetcher::dataArrived(QByteArrayView piece) {
    m_job.receivedLength += qint32(piece.size());
    m_view.processEvents();
    m_view.setPageBarWidth(m_job.expectedLength > 0
                               ? m_job.receivedLength * kPageBarTwips / m_job.expectedLength
                               : kPageBarTwips);
    const double elapsed = secondsSinceMidnight() - m_job.startTime;
    if (elapsed > 0) {
        // Two decimals, a half going to the even neighbour, shown in its shortest form.
        const double speed = std::nearbyint(m_job.receivedLength / 1024.0 / elapsed * 100) / 100;
        m_view.setStatus(u"传输速度："_s +
                         QString::number(speed, 'f', QLocale::FloatingPointShortest) + u" KB/秒"_s);
    }
}

void PageFetcher::responseFinished(QByteArray body) {
    m_view.setPageBarWidth(kPageBarTwips);
    const int kind = qBound(0, m_job.pageKind, 2);
    if (body.isEmpty()) {
        m_job.pageText.clear();
    } else {
        if (m_job.gzipBody && !zipModule::gunzipBody(body)) {
            m_view.noteFailure(u"无法解压网页"_s);
            m_job.endState = EndState::Failure;
            return;
        }
        // The first page of a kind names the character set for every later page of that kind.
        QString &name = m_job.rules.tagCharset[kind];
        if (name.isEmpty())
            name = charset::detectCharset(body);
        m_job.pageText = charset::decodeBytes(body, name);
    }
    m_job.pageText.remove(QChar(0));
    if (kind == PageKind::Contents && !m_job.rules.tagHtml.isEmpty())
        m_job.pageText =
            renderPage(m_job.pageText, m_job.host, m_view.contentsUrl(), m_renderer, m_http);
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
