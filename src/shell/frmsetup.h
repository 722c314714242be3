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
    // The check box of an option, from its row; null for an option without one.
    QCheckBox* box(Option option) const { return boxes_[static_cast<std::size_t>(option)]; }
    // "Logging"
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
    void FormCreate();
    void buildPages();

    OptionsStore& options_;
    std::array<QCheckBox*, optionCount> boxes_{};
};

// The single instance, created at start-up.
extern TfrmSetup* frmSetup;

} // namespace corvane
