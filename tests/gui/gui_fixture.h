// A main window on the offscreen platform with its dialogs, a private settings store, a
// recording prompter and an answering modal runner.
#pragma once

#include "connections/connpage.h"
#include "hostinfo/adaptertree.h"
#include "hostinfo/hostinfo_page.h"
#include "interfaces/interfacepage.h"
#include "pageprobe.h"
#include "platform/iphelper.h"
#include "recording_prompter.h"
#include "report/reportpage.h"
#include "routing/routespage.h"
#include "session/machinestore.h"
#include "session/options.h"
#include "shell/forms.h"
#include "shell/frmabout.h"
#include "shell/frmexit.h"
#include "shell/frmmain.h"
#include "shell/frmsetup.h"
#include "widgets/modal.h"

#include <QApplication>
#include <QDialog>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

namespace corvane::test {

inline QApplication& guiApp() {
    static int argc = 1;
    static char name[] = "corvane_gui_test";
    static char* argv[] = {name, nullptr};
    // Never destroyed: Qt's input devices, made by the first key event, would otherwise be
    // torn down after the registry that holds them at exit.
    static auto* app = new QApplication(argc, argv);
    return *app;
}

// A notification area that can be present or missing.
class FakeTray : public TrayIconService {
public:
    explicit FakeTray(bool available) : available_(available) {}
    void attach(const TrayWiring& w) override { wiring = w; }
    bool available() const override { return available_; }
    void setHint(const QString& text) override { hint = text; }
    bool addIcon() override {
        ++adds;
        shown = available_;
        return available_;
    }
    void removeIcon() override {
        ++removes;
        shown = false;
    }
    bool available_;
    bool shown = false;
    QString hint;
    int adds = 0;
    int removes = 0;
    TrayWiring wiring;
};

class MainWindowFixture : public ::testing::Test {
protected:
    void SetUp() override {
        guiApp();
        ASSERT_TRUE(dir.isValid());
        qputenv("CORVANE_CONFIG_DIR", dir.filePath(QStringLiteral("store")).toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("xdg")).toLocal8Bit());
        resetMachineStore();
        options = std::make_unique<OptionsStore>();
        frmSetup = new TfrmSetup(*options);
        frmAbout = new TfrmAbout;
        frmExit = new TfrmExit(nullptr, [this] { return clockMs; });
        setModalRunner([this](QDialog& d) {
            modals.push_back(d.objectName());
            if (beforeModalAnswer)
                beforeModalAnswer(d);
            return modalAnswer;
        });
    }
    void TearDown() override {
        window.reset();
        frmMain = nullptr;
        delete frmAbout;
        frmAbout = nullptr;
        delete frmSetup;
        frmSetup = nullptr;
        delete frmExit;
        frmExit = nullptr;
        options.reset();
        setModalRunner({});
        iphlp().unload();
        for (const char* v : {"CORVANE_CONFIG_DIR", "XDG_CONFIG_HOME", "CORVANE_PLATFORM_VERSION",
                              "CORVANE_IPHLPAPI_LIB", "CORVANE_HELP_FILE"})
            qunsetenv(v);
        for (const char* v : connectionNameFolders)
            qunsetenv(v);
        resetMachineStore();
    }

    TfrmMain& make(const QStringList& args = {}, TrayIconService* tray = nullptr) {
        window = std::make_unique<TfrmMain>(*options, args, tray);
        frmMain = window.get();
        return *window;
    }
    // Shows the window and lets the show handler run.
    void showAndSettle() {
        window->show();
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }
    // Counts the refreshes through the first fill step.
    int* countRefreshes() {
        window->refresh->setFill(FillStep::InterfaceTable, [this] { ++refreshes; });
        return &refreshes;
    }
    static constexpr const char* connectionNameFolders[] = {
        "CORVANE_NM_CONNECTIONS_DIR", "CORVANE_NETWORKD_DIRS", "CORVANE_NM_DEVICES_DIR",
        "CORVANE_NETWORKD_LINKS_DIR"};
    // Connection names come from the interface names alone: no profile folder is read.
    void nameConnectionsAfterInterfaces() {
        for (const char* v : connectionNameFolders)
            qputenv(v, dir.filePath(QStringLiteral("none")).toLocal8Bit());
    }
    // Stores options as an accepted Options dialog would, without touching the autostart entry.
    void storeOptions() { options->save(false); }
    // An option changed in the value, as the program's own change (not a click).
    void setOption(Option o, bool on) {
        options->change([o, on](Options& v) { v.set(o, on); });
    }
    void setRuntime(const RuntimeOptions& run) {
        options->change([&run](Options& v) { v.run = run; });
    }
    const Options& currentOptions() const { return options->value(); }

    QTemporaryDir dir;
    RecordingPrompter prompts;
    std::unique_ptr<OptionsStore> options;
    std::unique_ptr<TfrmMain> window;
    std::vector<QString> modals;
    int modalAnswer = QDialog::Rejected;
    std::function<void(QDialog&)> beforeModalAnswer;
    int refreshes = 0;
    qint64 clockMs = 0; // the exit dialog's clock
};

} // namespace corvane::test
