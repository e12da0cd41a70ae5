#include "window/frmmain.h"

#include "pipeline/pipeline.h"
#include "settings/globaloptions.h"
#include "settings/inimodule.h"
#include "window/helppage.h"
#include "window/helpsearch.h"
#include "window/progressbox.h"
#include "window/shellopen.h"
#include "window/tray/systemtray.h"
#include "window/tray/tray32.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QUrl>
#include <QWebEngineView>

#include <functional>

using namespace Qt::StringLiterals;

namespace {

// The page bar is full at 1440 twips, the book bar at 4440.
constexpr double kPageBarTwips = 1440.0;
constexpr double kBookBarTwips = 4440.0;

const QString kDownloadCaption = u"下载(&D)"_s;
const QString kStopCaption = u"停止(&D)"_s;

// A label that reports a click; only the address field's caption listens.
class ClickLabel : public QLabel {
public:
    using QLabel::QLabel;
    std::function<void()> onClick;

protected:
    void mouseReleaseEvent(QMouseEvent *event) override {
        QLabel::mouseReleaseEvent(event);
        // A click as a button takes it: the left button let go over the label. A right click, or
        // a press taken off the label before the release, opens nothing.
        if (onClick && event->button() == Qt::LeftButton &&
            rect().contains(event->position().toPoint()))
            onClick();
    }
};

// One of the two lines of the etched separator above the progress area.
QWidget *separatorLine(QWidget *parent, int top, QPalette::ColorRole role) {
    auto *line = new QWidget(parent);
    line->setGeometry(4, top, 304, 1);
    line->setAutoFillBackground(true);
    QPalette palette = line->palette();
    palette.setColor(QPalette::Window, palette.color(role));
    line->setPalette(palette);
    return line;
}

} // namespace

frmMain::frmMain(std::unique_ptr<TrayPlatform> platform, QWidget *parent)
    : QWidget(parent) {
    setWindowTitle(u"Kestrelon"_s);
    buildControls();
    if (!platform)
        platform = std::make_unique<SystemTray>();
    Tray32::Design design;
    design.tip = u"腹有诗书气自华"_s;
    design.enabled = false;
    m_tray = new Tray32(this, std::move(platform), design);
    connect(m_tray, &Tray32::MouseUp, this, &frmMain::onTrayMouseUp);
    startUp();
}

frmMain::~frmMain() = default;

void frmMain::buildControls() {
    setFixedSize(312, 426);

    m_frmBox = new QGroupBox(this);
    m_frmBox->setObjectName(u"frmBox"_s);
    m_frmBox->setGeometry(6, 2, 299, 86);

    auto *contentsLabel = new ClickLabel(u"目录"_s, m_frmBox);
    contentsLabel->onClick = [this] { openSettingsFile(); };
    m_label[0] = contentsLabel;
    m_label[1] = new QLabel(u"起始"_s, m_frmBox);
    m_label[2] = new QLabel(u"结束"_s, m_frmBox);
    m_label[3] = new QLabel(u"传输速度：准备就绪！"_s, this);
    m_label[4] = new QLabel(u"下载进度："_s, this);
    const std::array<QRect, 5> labelPlaces{QRect(10, 18, 24, 12), QRect(10, 40, 24, 12),
                                           QRect(128, 40, 24, 12), QRect(6, 408, 120, 12),
                                           QRect(146, 408, 60, 12)};
    for (size_t i = 0; i < m_label.size(); ++i) {
        m_label[i]->setObjectName(u"Label(%1)"_s.arg(i));
        m_label[i]->setGeometry(labelPlaces[i]);
    }

    const std::array<QRect, 3> fieldPlaces{QRect(40, 14, 253, 19), QRect(40, 36, 77, 19),
                                           QRect(160, 36, 77, 19)};
    for (size_t i = 0; i < m_txtNum.size(); ++i) {
        m_txtNum[i] = new QLineEdit(m_frmBox);
        m_txtNum[i]->setObjectName(u"txtNum(%1)"_s.arg(i));
        m_txtNum[i]->setGeometry(fieldPlaces[i]);
    }
    // A new contents address makes the old range meaningless.
    connect(m_txtNum[0], &QLineEdit::textChanged, this, [this] {
        m_txtNum[1]->clear();
        m_txtNum[2]->clear();
    });

    m_cmbCode = new QComboBox(m_frmBox);
    m_cmbCode->setObjectName(u"cmbCode"_s);
    m_cmbCode->setGeometry(240, 36, 51, 20);
    m_cmbCode->addItems(globalOptions::bookEncodings());
    m_cmbCode->setToolTip(u"文章保存的编码模式。"_s);

    const std::array<QString, 3> checkCaptions{u"删除相同标题行"_s, u"小章节识别"_s, u"转换模式"_s};
    const std::array<QString, 3> checkTips{
        u"删除正文第一行里和标题相同的字符，可能会造成正文第一行文字缺失，勾选为删除。"_s,
        u"小章节自动识别可能会造成章节名称消失，勾选为自动识别。"_s, u"HTML代码转换选择。"_s};
    const std::array<QRect, 3> checkPlaces{QRect(10, 63, 105, 13), QRect(124, 63, 81, 13),
                                           QRect(214, 63, 73, 13)};
    for (size_t i = 0; i < m_checkBox.size(); ++i) {
        m_checkBox[i] = new QCheckBox(checkCaptions[i], m_frmBox);
        m_checkBox[i]->setObjectName(u"CheckBox(%1)"_s.arg(i));
        m_checkBox[i]->setGeometry(checkPlaces[i]);
        m_checkBox[i]->setToolTip(checkTips[i]);
    }

    m_webBrowser = new QWebEngineView(this);
    m_webBrowser->setObjectName(u"WebBrowser"_s);
    m_webBrowser->setGeometry(6, 92, 300, 222);

    const std::array<QString, 3> captions{u"目录(&F)"_s, kDownloadCaption, u"退出(&X)"_s};
    const std::array<int, 3> buttonLefts{84, 160, 236};
    for (size_t i = 0; i < m_btnCmd.size(); ++i) {
        m_btnCmd[i] = new QPushButton(captions[i], this);
        m_btnCmd[i]->setObjectName(u"btnCmd(%1)"_s.arg(i));
        m_btnCmd[i]->setGeometry(buttonLefts[i], 327, 71, 41);
        // The job runs inside the download button's click, so focus must not linger on a
        // button that the job disables.
        m_btnCmd[i]->setAutoDefault(false);
        connect(m_btnCmd[i], &QPushButton::clicked, this, [this, i] { onCommand(int(i)); });
    }

    separatorLine(this, 376, QPalette::Dark)->setObjectName(u"Line(0)"_s);
    separatorLine(this, 377, QPalette::Light)->setObjectName(u"Line(1)"_s);

    const std::array<QRect, 2> barPlaces{QRect(6, 378, 301, 21), QRect(206, 400, 101, 21)};
    for (size_t i = 0; i < m_barBox.size(); ++i) {
        m_barBox[i] = new ProgressBox(this);
        m_barBox[i]->setObjectName(u"BarBox(%1)"_s.arg(i));
        m_barBox[i]->setGeometry(barPlaces[i]);
        m_barBox[i]->setBarTwips(0);
    }
}

void frmMain::startUp() {
    m_pipeline = new Pipeline(*this, this);
    m_helpSearch = new HelpSearch(m_webBrowser, this);
    connect(m_helpSearch, &HelpSearch::picked, this, &frmMain::setContentsAddress);
    connect(m_helpSearch, &HelpSearch::statusChanged, this, &frmMain::setStatus);
    // The file was chosen at start-up (pipeline::bootstrap); a user's own copy of the shipped
    // one is made before the first read.
    iniModule::prepareSettingsFile();
    // Without a help page the area stays blank; the program works as well.
    if (const auto page = helpPage::preparedHelpPage())
        m_helpSearch->showHelp(QUrl::fromLocalFile(*page));
    m_tray->setIcon(windowIcon());
    setFonts();
    loadBookshelf();
    loadOptions();
}

void frmMain::setFonts() {
    const QFont song(u"宋体"_s, 9);
    setFont(song);
    const auto children = findChildren<QWidget *>();
    for (QWidget *child : children)
        child->setFont(song);
}

void frmMain::loadBookshelf() {
    m_btnCmd[0]->setToolTip(globalOptions::startupBookshelfFolder());
}

void frmMain::loadOptions() {
    using globalOptions::Key;
    using globalOptions::read;
    // An encoding the box does not offer would fail the book's write; the box keeps "gbk".
    const int code = m_cmbCode->findText(read(Key::Encoding), Qt::MatchFixedString);
    m_cmbCode->setCurrentIndex(code >= 0 ? code : 0);
    m_checkBox[0]->setChecked(read(Key::DeleteTitle) == u"1"_s);
    m_checkBox[1]->setChecked(read(Key::SmallChapter) == u"1"_s);
    m_checkBox[2]->setChecked(read(Key::BrowserText) == u"1"_s);
    // The address first: setting it empties the range fields.
    m_txtNum[0]->setText(read(Key::ContentsPage));
    m_txtNum[1]->setText(read(Key::RangeStart));
    m_txtNum[2]->setText(read(Key::RangeEnd));
}

void frmMain::saveOptions() {
    using globalOptions::Key;
    using globalOptions::write;
    const auto state = [](const QCheckBox *box) { return box->isChecked() ? u"1"_s : u"0"_s; };
    write(Key::Bookshelf, m_btnCmd[0]->toolTip());
    write(Key::Encoding, m_cmbCode->currentText());
    write(Key::DeleteTitle, state(m_checkBox[0]));
    write(Key::SmallChapter, state(m_checkBox[1]));
    write(Key::BrowserText, state(m_checkBox[2]));
    write(Key::ContentsPage, m_txtNum[0]->text());
    write(Key::RangeStart, m_txtNum[1]->text());
    write(Key::RangeEnd, m_txtNum[2]->text());
}

void frmMain::onCommand(int index) {
    switch (index) {
    case 0:
        chooseBookshelf();
        break;
    case 1:
        if (m_btnCmd[1]->text().compare(kDownloadCaption, Qt::CaseInsensitive) != 0) {
            m_btnCmd[1]->setEnabled(false); // the job sees this before its next request
            break;
        }
        // The last book's report goes with its result line, which this press replaces even when
        // no job follows (a site without rules, a search still running).
        m_label[3]->setToolTip(QString());
        if (m_helpSearch->searching())
            // The reader may be waiting for the address to download; the search is kept.
            setStatus(u"取书进度：正在搜索，搜索结束后才能下载！"_s);
        else
            m_pipeline->download();
        break;
    case 2:
        close();
        break;
    default:
        break;
    }
}

void frmMain::setContentsAddress(const QString &address) {
    // As if typed over the box's text: the range empties with the change, and an undo brings the
    // old address back.
    m_txtNum[0]->selectAll();
    m_txtNum[0]->insert(address);
}

void frmMain::chooseBookshelf() {
    const QString chosen = QFileDialog::getExistingDirectory(
        this, u"选择书籍的存储目录..."_s, m_btnCmd[0]->toolTip(), QFileDialog::ShowDirsOnly);
    if (chosen.isEmpty() || !QFileInfo(chosen).isDir())
        return;
    m_btnCmd[0]->setToolTip(iniModule::withTrailingSeparator(chosen));
}

void frmMain::openSettingsFile() {
    norModule::shellOpen(iniModule::settingsFilePath());
}

void frmMain::onTrayMouseUp(int button) {
    if (button != 1)
        return;
    m_tray->setInTaskBar(true);
    m_tray->setEnabled(false);
    m_tray->activate();
}

JobInputs frmMain::jobInputs() const {
    JobInputs inputs;
    inputs.contentsUrl = m_txtNum[0]->text();
    inputs.firstChapterUrl = m_txtNum[1]->text();
    inputs.lastChapterUrl = m_txtNum[2]->text();
    inputs.deleteTitle = m_checkBox[0]->isChecked();
    inputs.smallChapters = m_checkBox[1]->isChecked();
    inputs.browserText = m_checkBox[2]->isChecked();
    inputs.encoding = m_cmbCode->currentText();
    inputs.bookshelfFolder = m_btnCmd[0]->toolTip();
    return inputs;
}

void frmMain::setStatus(const QString &text) {
    m_label[3]->setText(text);
}

void frmMain::showSpeed(double bytesPerSecond) {
    m_label[3]->setText(pipeline::speedStatus(bytesPerSecond));
}

void frmMain::setPageProgress(double fraction) {
    m_barBox[1]->setBarTwips(fraction * kPageBarTwips);
}

void frmMain::setBookProgress(double fraction) {
    m_barBox[0]->setBarTwips(fraction * kBookBarTwips);
}

bool frmMain::stopRequested() const {
    return !m_btnCmd[1]->isEnabled();
}

bool frmMain::confirmReplace(const QString &) {
    return QMessageBox::question(this, windowTitle(), u"文件已经存在,要替换吗？"_s,
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void frmMain::processEvents() {
    QCoreApplication::processEvents();
}

void frmMain::showReport(const JobReport &report) {
    // The status line keeps its result; what the book lacks is there when the pointer rests on it.
    m_label[3]->setToolTip(pipeline::reportLines(report).join(u'\n'));
}

void frmMain::showRunning(bool running) {
    if (running) {
        m_btnCmd[1]->setText(kStopCaption);
    } else {
        m_btnCmd[1]->setEnabled(true);
        m_btnCmd[1]->setText(kDownloadCaption);
    }
    m_btnCmd[0]->setEnabled(!running);
    m_btnCmd[2]->setEnabled(!running);
    m_helpSearch->setDownloading(running);
    m_frmBox->setEnabled(!running);
}

void frmMain::closeEvent(QCloseEvent *event) {
    // The exit button is disabled exactly while a job runs.
    if (!m_btnCmd[2]->isEnabled()) {
        event->ignore();
        return;
    }
    saveOptions();
    event->accept();
}

void frmMain::changeEvent(QEvent *event) {
    QWidget::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange || !m_tray->isIcon() || m_tray->enabled())
        return;
    // Without a notification area there would be no way back: the window minimises as usual.
    if (!m_tray->trayAvailable())
        return;
    // Hiding from within the state change confuses some window managers; it follows at once.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!m_tray->isIcon())
                return;
            m_tray->setEnabled(true);
            m_tray->setInTaskBar(false);
        },
        Qt::QueuedConnection);
}
