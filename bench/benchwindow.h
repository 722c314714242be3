// The real main window for a bench program: a private settings store, nobody to answer
// questions (each one counted), and the first refresh waited for.
#pragma once

#include "quiet.h"
#include "session/options.h"
#include "shell/forms.h"
#include "shell/frmabout.h"
#include "shell/frmmain.h"
#include "shell/frmsetup.h"
#include "widgets/modal.h"

#include <QDialog>
#include <QTemporaryDir>
#include <string>

namespace corvane::bench {

// Needs the application. Shows the window and waits for its first refresh; nothing when it
// did not finish (said on standard error).
class BenchWindow {
public:
    bool open() {
        if (!store_.isValid())
            return false;
        qputenv("CORVANE_CONFIG_DIR", store_.filePath(QStringLiteral("store")).toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", store_.filePath(QStringLiteral("xdg")).toLocal8Bit());
        setPrompter(&prompts);
        window = new TfrmMain(options, {});
        frmMain = window;
        frmAbout = new TfrmAbout(window);
        frmSetup = new TfrmSetup(options, window);
        window->show();
        if (!waitFor([this] { return !window->firstShowPending() && !window->refresh->busy(); },
                     120000)) {
            std::fprintf(stderr, "the window did not finish its first refresh\n");
            return false;
        }
        return true;
    }
    ~BenchWindow() {
        setPrompter(nullptr);
        frmAbout = nullptr;
        frmSetup = nullptr;
        frmMain = nullptr;
        delete window;
    }

    // A file of that name in the window's private folder, gone with it.
    std::string scratch(const char* name) const {
        return store_.filePath(QString::fromLatin1(name)).toStdString();
    }

    CountingPrompter prompts;
    OptionsStore options;
    TfrmMain* window = nullptr;

private:
    QTemporaryDir store_;
};

} // namespace corvane::bench
