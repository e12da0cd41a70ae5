#pragma once
// The program's only window: the job's inputs and options, the three command buttons, the help
// page, the progress display and the tray control. It is the pipeline's view; the state the
// pipeline asks for lives in the controls (the bookshelf folder in the folder button's tooltip,
// a stop request as the disabled download button).

#include "pipeline/jobview.h"
#include "window/tray/trayplatform.h"

#include <QWidget>

#include <array>
#include <memory>

class HelpSearch;
class Pipeline;
class ProgressBox;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWebEngineView;
class Tray32;

class frmMain : public QWidget, public JobView {
    Q_OBJECT
public:
    // platform is the notification area the tray control uses; null for the desktop's own.
    explicit frmMain(std::unique_ptr<TrayPlatform> platform = nullptr, QWidget *parent = nullptr);
    ~frmMain() override;

    // The controls, by the names the program's design gives them.
    QPushButton *btnCmd(int index) const { return m_btnCmd.at(size_t(index)); }
    QLineEdit *txtNum(int index) const { return m_txtNum.at(size_t(index)); }
    QCheckBox *checkBox(int index) const { return m_checkBox.at(size_t(index)); }
    QLabel *label(int index) const { return m_label.at(size_t(index)); }
    ProgressBox *barBox(int index) const { return m_barBox.at(size_t(index)); }
    QComboBox *cmbCode() const { return m_cmbCode; }
    QGroupBox *frmBox() const { return m_frmBox; }
    Tray32 *tray() const { return m_tray; }

    // JobView
    JobInputs jobInputs() const override;
    void setStatus(const QString &text) override;
    void showSpeed(double bytesPerSecond) override;
    void setPageProgress(double fraction) override;
    void setBookProgress(double fraction) override;
    bool stopRequested() const override;
    bool confirmReplace(const QString &path) override;
    void processEvents() override;
    void showRunning(bool running) override;
    void showReport(const JobReport &report) override;

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void buildControls();
    void startUp();
    void setFonts();
    void loadBookshelf();
    void loadOptions();
    void saveOptions();
    void onCommand(int index);
    void chooseBookshelf();
    void openSettingsFile();
    void onTrayMouseUp(int button);
    void setContentsAddress(const QString &address);

    std::array<QPushButton *, 3> m_btnCmd{};
    std::array<QLineEdit *, 3> m_txtNum{};
    std::array<QCheckBox *, 3> m_checkBox{};
    std::array<QLabel *, 5> m_label{};
    std::array<ProgressBox *, 2> m_barBox{};
    QComboBox *m_cmbCode = nullptr;
    QGroupBox *m_frmBox = nullptr;
    QWebEngineView *m_webBrowser = nullptr;
    Tray32 *m_tray = nullptr;
    Pipeline *m_pipeline = nullptr;
    HelpSearch *m_helpSearch = nullptr;
};
