// Where the file dialogs open: the documents folder of the XDG user folders, and for route
// lists the folder of the list loaded last.
#include "gui_fixture.h"
#include "routing/frmroutelist.h"
#include "widgets/folders.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QTableView>

using namespace corvane;
using namespace corvane::test;

namespace {

class Folders : public MainWindowFixture {
protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        home = dir.filePath(QStringLiteral("home"));
        ASSERT_TRUE(QDir().mkpath(home));
        savedHome = qgetenv("HOME");
        qputenv("HOME", home.toLocal8Bit());
        ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("xdg"))));
    }
    void TearDown() override {
        qputenv("HOME", savedHome);
        MainWindowFixture::TearDown();
    }
    // user-dirs.dirs as xdg-user-dirs-update writes it.
    void documentsDir(const QString& line) {
        QFile f(dir.filePath(QStringLiteral("xdg/user-dirs.dirs")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(("XDG_DOCUMENTS_DIR=\"" + line + "\"\n").toUtf8());
    }
    QString writeList(const QString& folder) {
        EXPECT_TRUE(QDir().mkpath(folder));
        QString path = QDir(folder).filePath(QStringLiteral("nets.cfg"));
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("10.0.0.0 255.0.0.0\r\n");
        return path;
    }

    QString home;
    QByteArray savedHome;
};

TEST_F(Folders, DocumentsFolderFromUserDirsElseDocumentsElseHome) {
    EXPECT_EQ(documentsFolder(), home); // no ~/Documents yet
    ASSERT_TRUE(QDir().mkpath(home + QStringLiteral("/Documents")));
    EXPECT_EQ(documentsFolder(), home + QStringLiteral("/Documents"));
    ASSERT_TRUE(QDir().mkpath(home + QStringLiteral("/Papiers")));
    documentsDir(QStringLiteral("$HOME/Papiers"));
    EXPECT_EQ(documentsFolder(), home + QStringLiteral("/Papiers"));
    // A folder named but gone: the dialog would fall back to the working folder, often "/".
    documentsDir(QStringLiteral("$HOME/Gone"));
    EXPECT_EQ(documentsFolder(), home);
}

TEST_F(Folders, SaveReportProposesTheDocumentsFolder) {
    ASSERT_TRUE(QDir().mkpath(home + QStringLiteral("/Papiers")));
    documentsDir(QStringLiteral("$HOME/Papiers"));
    make();
    prompts.answerFile(std::nullopt);
    window->acSaveReport->trigger();
    ASSERT_EQ(prompts.fileRequests.size(), 1u);
    EXPECT_EQ(prompts.fileRequests[0].directory, home + QStringLiteral("/Papiers"));
    EXPECT_EQ(prompts.fileRequests[0].proposedName, QStringLiteral("ip_report"));
}

TEST_F(Folders, RouteListDialogsStartWhereTheLastListWasLoaded) {
    TfrmAddRouteList add;
    TfrmDelRouteList del;
    prompts.answerFile(std::nullopt);
    add.btnOpenListClick();
    ASSERT_EQ(prompts.fileRequests.size(), 1u);
    const QString start = prompts.fileRequests[0].directory;
    EXPECT_FALSE(start.isEmpty());
    EXPECT_TRUE(QDir(start).exists());

    const QString lists = dir.filePath(QStringLiteral("lists"));
    prompts.answerFile(writeList(lists));
    add.btnOpenListClick();
    EXPECT_EQ(add.routeList->rowCount(), 1);
    // The other list dialog starts there too.
    prompts.answerFile(std::nullopt);
    del.btnOpenListClick();
    ASSERT_EQ(prompts.fileRequests.size(), 3u);
    EXPECT_EQ(QDir(prompts.fileRequests[2].directory), QDir(lists));
    // A folder removed since is not offered.
    ASSERT_TRUE(QDir(lists).removeRecursively());
    prompts.answerFile(std::nullopt);
    del.btnOpenListClick();
    EXPECT_EQ(prompts.fileRequests[3].directory, documentsFolder());
}

} // namespace
