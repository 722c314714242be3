// The Options dialog. Its check boxes are the program's option record: other windows read
// them directly.
#pragma once

#include <QDialog>
#include <QSize>
#include <functional>

class QCheckBox;
class QLabel;
class QPushButton;
class QTabWidget;

namespace corvane {

class TfrmSetup : public QDialog {
    Q_OBJECT
public:
    explicit TfrmSetup(QWidget* parent = nullptr);

    QTabWidget* pcOptions = nullptr;
    // "Appearance"
    QCheckBox* cbxAutoUpdate = nullptr;
    QCheckBox* cbxAutoExpand = nullptr;
    QCheckBox* cbxToolbar = nullptr;
    QCheckBox* cbxColoredFwTable = nullptr;
    QCheckBox* cbxNoErrMsg = nullptr;
    // "Options"
    QCheckBox* cbxIgnoreLocalhost = nullptr;
    QCheckBox* cbxIgnoreBCasts = nullptr;
    QCheckBox* cbxResolvePortNumbers = nullptr;
    QCheckBox* cbxResolveIPAddresses = nullptr;
    QCheckBox* cbxEstablishedOnly = nullptr;
    QCheckBox* cbxAutoIPRemove = nullptr;
    QCheckBox* cbxShowInactivePRoutes = nullptr;
    // "Start & Close"
    QCheckBox* cbxAutoSaveSize = nullptr;
    QCheckBox* cbxAutoRun = nullptr;
    QCheckBox* cbxMinimized = nullptr;
    QCheckBox* cbxCloseMode = nullptr;
    // "Logging"
    QCheckBox* cbxOverwriteReport = nullptr;
    QCheckBox* cbxIPLogging = nullptr;

    QLabel* imgPicture = nullptr;
    QPushButton* Button1 = nullptr; // "Ok"
    QPushButton* Button2 = nullptr; // "Cancel"
    QPushButton* btnHelp = nullptr;

    bool autoRunChanged = false;
    int storedWidth = 0; // the main window size to save or restore
    int storedHeight = 0;
    bool IgnoreOperStatus = false;

    // The main window's current size, written as "Width" and "Height" with the defaults. The
    // main window sets it; until then the size it is designed with.
    std::function<QSize()> mainWindowSize = [] { return QSize(731, 460); };

    // The help context of the focused control, else of the first box of the active page.
    int currentHelpContext() const;

    void Button1Click();
    void Button2Click();
    void cbxAutoRunClick();
    void cbxResolveIPAddressesClick(bool checked);
    void FormHelp();

    // Escape and the close box cancel like "Cancel": the boxes show the stored values again.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormCreate();
    void buildPages();
};

// The single instance, created at start-up.
extern TfrmSetup* frmSetup;

} // namespace corvane
