// The About box: the program's picture with its version, maker and web address.
#pragma once

#include <QDialog>
#include <QImage>
#include <QUrl>
#include <functional>

class QLabel;
class QPushButton;

namespace corvane {

class TfrmAbout : public QDialog {
    Q_OBJECT
public:
    explicit TfrmAbout(QWidget* parent = nullptr);

    QLabel* VerLabel = nullptr;
    QLabel* lblCopyright = nullptr;
    QLabel* lblCredit = nullptr;
    QLabel* lblUpdates = nullptr;
    QLabel* lblVisit = nullptr;
    QLabel* LinkLabel = nullptr;
    QPushButton* btnOK = nullptr;

    // Opens the maker's page in the desktop's browser.
    void LinkLabelClick();

    const QImage& picture() const { return picture_; }

    static const QUrl homePage;
    // Opens a web address; true when the desktop accepted it. Tests replace it.
    static std::function<bool(const QUrl&)> urlOpener;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QImage picture_;
};

} // namespace corvane
