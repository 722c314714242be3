// The Report page: block history, the clearing and copying keys, the popup's enabling rules
// and saving through the file dialog.
#include "gui_fixture.h"
#include "report/reportpage.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTabWidget>

using namespace corvane;
using namespace corvane::test;

namespace {

const QString mark = QStringLiteral(">>>> Next Report Block <<<<");

class ReportPage : public MainWindowFixture {
protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        make();
        // The edit takes the text only while it can be seen.
        showAndSettle();
        window->pcMain->setCurrentWidget(window->tsReport);
        clearPage();
        window->tsHost->lblHostName->setText(QStringLiteral("testhost"));
    }
    void clearPage() {
        preparePopup();
        window->item(QStringLiteral("pmReportMenuSelectAll"))->trigger();
        ctrl(Qt::Key_X);
        ASSERT_TRUE(text().isEmpty());
    }
    void overwrite(bool on) { setOption(Option::OverwriteReport, on); }
    QString text() const { return window->tsReport->reportText(); }
    void ctrl(Qt::Key key) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::ControlModifier);
        QCoreApplication::sendEvent(window->tsReport->redtReport, &press);
    }
    // Opens the popup's enabling step without showing the menu.
    void preparePopup() { emit window->tsReport->pmReportMenu->aboutToShow(); }
};

TEST_F(ReportPage, OverwriteKeepsOneBlockAppendAddsSeparatedBlocks) {
    overwrite(true);
    window->BuildReport();
    window->BuildReport();
    EXPECT_TRUE(text().startsWith(QStringLiteral("IP Information for host testhost\n")));
    EXPECT_EQ(text().count(QStringLiteral("IP Information for host")), 1);

    clearPage();
    overwrite(false);
    window->BuildReport();
    EXPECT_FALSE(text().contains(mark));
    const QString first = text();
    window->BuildReport();
    const QString both = text();
    ASSERT_TRUE(both.startsWith(first + QStringLiteral("\n\n") + mark + QStringLiteral("\n\n")));
    EXPECT_TRUE(
        both.mid(first.size()).contains(QStringLiteral("\nIP Information for host testhost\n")));
}

TEST_F(ReportPage, AHiddenPageShowsItsTextWhenOpened) {
    window->pcMain->setCurrentWidget(window->tsHost);
    overwrite(true);
    window->BuildReport();
    EXPECT_TRUE(window->tsReport->redtReport->toPlainText().isEmpty());
    window->pcMain->setCurrentWidget(window->tsReport);
    EXPECT_EQ(window->tsReport->redtReport->toPlainText(), text());
    EXPECT_FALSE(text().isEmpty());
}

TEST_F(ReportPage, CtrlXClearsOnlyAWholeSelection) {
    overwrite(true);
    window->BuildReport();
    const QString before = text();
    QPlainTextEdit* edit = window->tsReport->redtReport;

    QTextCursor part = edit->textCursor();
    part.setPosition(0);
    part.setPosition(10, QTextCursor::KeepAnchor);
    edit->setTextCursor(part);
    ctrl(Qt::Key_X);
    EXPECT_EQ(text(), before);
    ctrl(Qt::Key_C);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), before.left(10));

    preparePopup();
    window->item(QStringLiteral("pmReportMenuSelectAll"))->trigger();
    ctrl(Qt::Key_X);
    EXPECT_TRUE(text().isEmpty());
    EXPECT_TRUE(window->tsReport->redtReport->toPlainText().isEmpty());
    EXPECT_EQ(QGuiApplication::clipboard()->text(), before);
}

TEST_F(ReportPage, PopupEnablesByContentAndSelection) {
    QAction* selectAll = window->item(QStringLiteral("pmReportMenuSelectAll"));
    QAction* copy = window->item(QStringLiteral("pmReportMenuCopy"));
    preparePopup();
    EXPECT_FALSE(selectAll->isEnabled());
    EXPECT_FALSE(copy->isEnabled());

    window->BuildReport();
    preparePopup();
    EXPECT_TRUE(selectAll->isEnabled());
    EXPECT_FALSE(copy->isEnabled());
    selectAll->trigger();
    preparePopup();
    EXPECT_TRUE(copy->isEnabled());
    QGuiApplication::clipboard()->clear();
    copy->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), text());
}

TEST_F(ReportPage, SaveWritesCrLfAndProposesTheLastPath) {
    window->BuildReport();
    const QString path = dir.filePath(QStringLiteral("status.txt"));
    prompts.answerFile(path);
    window->acSaveReport->trigger();
    ASSERT_EQ(prompts.fileRequests.size(), 1u);
    const FileRequest& first = prompts.fileRequests[0];
    EXPECT_EQ(first.caption, QStringLiteral("Save IP Report"));
    EXPECT_EQ(first.proposedName, QStringLiteral("ip_report"));
    EXPECT_EQ(first.filters, QStringList({"Text files (*.txt)", "All files (*.*)"}));
    EXPECT_EQ(first.defaultSuffix, QStringLiteral("txt"));

    QFile saved(path);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const QByteArray bytes = saved.readAll();
    EXPECT_EQ(bytes, text().toLocal8Bit().replace("\n", "\r\n"));
    EXPECT_FALSE(bytes.contains("\r\r"));

    // Cancelling the second dialog changes nothing; it proposed the first path.
    prompts.answerFile(std::nullopt);
    window->acSaveReport->trigger();
    ASSERT_EQ(prompts.fileRequests.size(), 2u);
    EXPECT_EQ(prompts.fileRequests[1].proposedName, path);
    EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(ReportPage, UnwritableFileIsNamedAndThePageKept) {
    window->BuildReport();
    const QString before = text();
    const QString path = dir.filePath(QStringLiteral("no/such/folder/r.txt"));
    prompts.answerFile(path);
    window->acSaveReport->trigger();
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_TRUE(prompts.messages[0].text.contains(path));
    EXPECT_FALSE(prompts.messages[0].text.contains(QStringLiteral(".tmp")))
        << "the temporary file is no business of the user's";
    EXPECT_EQ(prompts.messages[0].icon, MsgIcon::Error);
    EXPECT_EQ(text(), before);
    EXPECT_EQ(window->tsReport->reportSaveName(), path);
}

TEST_F(ReportPage, SaveReplacesALinkNotWhatItLeadsTo) {
    window->BuildReport();
    const QString victim = dir.filePath(QStringLiteral("victim"));
    const QString link = dir.filePath(QStringLiteral("link.txt"));
    QFile file(victim);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("keep");
    file.close();
    ASSERT_TRUE(QFile::link(victim, link));
    prompts.answerFile(link);
    window->acSaveReport->trigger();
    EXPECT_TRUE(prompts.messages.empty());
    EXPECT_FALSE(QFileInfo(link).isSymLink());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("keep"));
    QFile saved(link);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_TRUE(saved.readAll().startsWith(text().left(20).toLocal8Bit()));
}

TEST_F(ReportPage, EmptyPageSavesAnEmptyFile) {
    const QString path = dir.filePath(QStringLiteral("empty.txt"));
    prompts.answerFile(path);
    window->acSaveReport->trigger();
    QFile saved(path);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.size(), 0);
}

} // namespace
