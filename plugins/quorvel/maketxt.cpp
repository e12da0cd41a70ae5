#include "plugins/quorvel/maketxt.h"

#include "pattern/pattern.h"
#include "plugins/quorvel/pagetext.h"
#include "settings/inimodule.h"
#include "settings/sitekeys.h"
#include "text/typeset.h"

#include <QCryptographicHash>
#include <QLocale>

#include <atomic>
#include <cmath>
#include <limits>

using namespace Qt::StringLiterals;

namespace quorvel {

namespace {

// Held once for the library, not per object: the last Initialize sets them, and a minimum that
// cannot be read as a 32-bit number keeps the value before it.
struct LibraryValues {
    QString settingsPath;
    qint32 minimumLength = 0;
};

LibraryValues &library() {
    static LibraryValues values;
    return values;
}

std::atomic<int> g_liveObjects{0};

const QString kIndent = u"\u3000\u3000"_s;
const QString kLineEnd = u"\r\n"_s;
// In a text rule, the word that stands for the author's name.
const QString kAuthorWord = u"替换"_s;

QStringList alternatives(const QString &value) {
    return value.isEmpty() ? QStringList() : value.split(u"||"_s);
}

// The minimum block length the host hands over as text: a number rounds to a whole one (a half
// to the even neighbour); not a number gives 512; a number beyond 32 bits leaves the old value.
void setMinimumLength(const QString &text) {
    bool isNumber = false;
    const double number = QLocale::c().toDouble(text.trimmed(), &isNumber);
    // The locale reads "nan" and "inf" as numbers too, though no decimal text names them.
    if (!isNumber || !std::isfinite(number)) {
        library().minimumLength = 512;
        return;
    }
    const double whole = std::nearbyint(number);
    if (whole >= std::numeric_limits<qint32>::min() && whole <= std::numeric_limits<qint32>::max())
        library().minimumLength = qint32(whole);
}

} // namespace

makeTxt::makeTxt() {
    ++g_liveObjects;
}

makeTxt::~makeTxt() {
    --g_liveObjects;
}

int makeTxt::liveObjects() {
    return g_liveObjects.load();
}

void makeTxt::Initialize(const QString &m_iniFile, const QString &m_hostName,
                         const QString &Param_1, const QString &Param_2) {
    library().settingsPath = m_iniFile;
    m_author = Param_1;
    setMinimumLength(Param_2);
    // Read from the file the host named; a missing key is written back empty, as the program's
    // own reads do.
    auto read = [&](siteKeys::Key key) {
        const iniModule::Key &entry = siteKeys::entry(key);
        return alternatives(iniModule::readSettingIn(library().settingsPath, m_hostName, entry.name,
                                                     entry.defaultValue));
    };
    using siteKeys::Key;
    m_tagTitle = read(Key::TagTitle);
    m_tagAuthor = read(Key::TagAuthor);
    m_tagText = read(Key::TagText);
    m_tagNext = read(Key::TagNext);
}

void makeTxt::readFirstPage(const QString &html) {
    m_title =
        pluginCleanText(collectMatches(html, m_tagTitle, false, library().minimumLength), true);
    const bool anyAuthor = m_author == u"*"_s;
    // A name typed by the user is a pattern of its own; one read from the page is just a name,
    // and a "(" or "|" in it must not change what the rule picks.
    QString authorRule = m_author;
    if (m_author.isEmpty() || anyAuthor) {
        m_author = collectMatches(html, m_tagAuthor, false, library().minimumLength);
        authorRule = anyAuthor ? u".*?"_s : norModule::literalRule(m_author);
    }
    for (QString &rule : m_tagText)
        rule.replace(kAuthorWord, authorRule);
    m_author = u"作者："_s + pluginCleanText(m_author, true);
}

QString makeTxt::infoFromWeb(QString *html, int hID) {
    if (!html)
        return {};
    if (hID == 0)
        readFirstPage(*html);

    // The page's line ends become two marks, so that a rule's "." crosses them.
    QString text = *html;
    text.replace(u'\r', u'\u000E');
    text.replace(u'\n', u'\u000F');
    text = collectMatches(text, m_tagText, true, library().minimumLength);
    QString next = collectMatches(*html, m_tagNext, false, library().minimumLength);
    // A page handled before comes again when a link leads back to it: a first page whose next
    // link names itself (its address this object never sees), or a last page linking back to the
    // first. It adds nothing, and its link, asked for already, ends the thread below. Pages are
    // known by a digest: a long thread's pages kept whole would double its memory.
    QCryptographicHash digest(QCryptographicHash::Sha256);
    digest.addData(QByteArrayView(reinterpret_cast<const char *>(next.utf16()), next.size() * 2));
    digest.addData(QByteArrayView("\0\0", 2));
    digest.addData(QByteArrayView(reinterpret_cast<const char *>(text.utf16()), text.size() * 2));
    const QByteArray page = digest.result();
    const bool repeated = m_pagesSeen.contains(page);
    m_pagesSeen.insert(page);
    if (!repeated && !typeset::cleanText(text, false).isEmpty()) {
        typeset::typesetText(text);
        // Nothing between pages: the next page's indent follows this page's last character.
        m_body += text;
    }

    // A link to a page already asked for ends the thread: many forums' last page links to itself,
    // and following it would add that page again and again until the host gives up on the job.
    if (m_requested.contains(next))
        next.clear();
    m_requested.insert(next);
    if (next.isEmpty()) {
        m_body.replace(u"<BR>"_s, kLineEnd);
        *html = kIndent + m_title + kLineEnd + kIndent + m_author + kLineEnd + kLineEnd + m_body;
    }
    return next;
}

} // namespace quorvel
