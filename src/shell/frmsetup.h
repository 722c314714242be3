// The Options dialog: shows the options value when it opens, edits its own copy in the check
// boxes, and commits that copy on "Ok". Nobody else reads the boxes.
#pragma once

#include "session/options.h"

#include <QDialog>

class QCheckBox;
class QLabel;
class QPushButton;
class QTabWidget;

namespace corvane {

class TfrmSetup : public QDialog {
    Q_OBJECT
public:
    explicit TfrmSetup(OptionsStore& options, QWidget* parent = nullptr);

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
    QLabel* lblLogPath = nullptr; // where the address log is written

    QLabel* imgPicture = nullptr;
    QPushButton* Button1 = nullptr; // "Ok"
    QPushButton* Button2 = nullptr; // "Cancel"
    QPushButton* btnHelp = nullptr;

    bool autoRunChanged = false;

    // The boxes' copy of the value, and the boxes set from a value.
    Options edited() const;
    void showOptions(const Options& options);

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
    QCheckBox* box(Option option) const;
    void FormCreate();
    void buildPages();

    OptionsStore& options_;
};

// The single instance, created at start-up.
extern TfrmSetup* frmSetup;

} // namespace corvane
