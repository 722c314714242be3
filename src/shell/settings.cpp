// The settings algorithms applied to the Options dialog, with the store's troubles reported.
#include "shell/settings.h"

#include "shell/frmsetup.h"
#include "shell/machinestore.h"
#include "shell/settingslogic.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <filesystem>

namespace corvane {
namespace {

class DialogOptions : public OptionRecord {
public:
    explicit DialogOptions(TfrmSetup& dialog) : d_(dialog) {}

    bool option(Option o) const override {
        if (o == Option::IgnoreOperStatus)
            return d_.IgnoreOperStatus;
        return box(o)->isChecked();
    }
    void setOption(Option o, bool on) override {
        if (o == Option::IgnoreOperStatus)
            d_.IgnoreOperStatus = on;
        else
            box(o)->setChecked(on); // a change fires toggled, hence cbxAutoRunClick
    }
    void setMinimizedEnabled(bool enabled) override { d_.cbxMinimized->setEnabled(enabled); }
    int storedWidth() const override { return d_.storedWidth; }
    int storedHeight() const override { return d_.storedHeight; }
    void setStoredSize(int width, int height) override {
        d_.storedWidth = width;
        d_.storedHeight = height;
    }
    bool autoRunChanged() const override { return d_.autoRunChanged; }
    int mainWindowWidth() const override { return size().width(); }
    int mainWindowHeight() const override { return size().height(); }

private:
    QSize size() const { return d_.mainWindowSize ? d_.mainWindowSize() : QSize(731, 460); }

    QCheckBox* box(Option o) const {
        switch (o) {
        case Option::AutoUpdate:
            return d_.cbxAutoUpdate;
        case Option::AutoSaveSize:
            return d_.cbxAutoSaveSize;
        case Option::AutoExpand:
            return d_.cbxAutoExpand;
        case Option::ColoredTables:
            return d_.cbxColoredFwTable;
        case Option::IgnoreLocalhost:
            return d_.cbxIgnoreLocalhost;
        case Option::IgnoreBroadcasts:
            return d_.cbxIgnoreBCasts;
        case Option::OverwriteReport:
            return d_.cbxOverwriteReport;
        case Option::Toolbar:
            return d_.cbxToolbar;
        case Option::NoErrorMessages:
            return d_.cbxNoErrMsg;
        case Option::AutoRun:
            return d_.cbxAutoRun;
        case Option::Minimized:
            return d_.cbxMinimized;
        case Option::ResolvePorts:
            return d_.cbxResolvePortNumbers;
        case Option::ResolveAddresses:
            return d_.cbxResolveIPAddresses;
        case Option::EstablishedOnly:
            return d_.cbxEstablishedOnly;
        case Option::RemoveDeadAddresses:
            return d_.cbxAutoIPRemove;
        case Option::IpLogging:
            return d_.cbxIPLogging;
        case Option::ShowInactiveRoutes:
            return d_.cbxShowInactivePRoutes;
        case Option::CloseMode:
            return d_.cbxCloseMode;
        case Option::IgnoreOperStatus:
            break;
        }
        return nullptr;
    }

    TfrmSetup& d_;
};

std::string executablePath() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec)
        return exe.string();
    return QCoreApplication::applicationFilePath().toStdString();
}

// Runs one algorithm; a failed store write is shown and ends it. Either way, what the store
// noticed on the way (a file set aside, the per-user fallback) is told afterwards, outside
// its lock.
template <typename F> void guarded(F&& algorithm) {
    std::optional<reg::StoreError> failure;
    try {
        algorithm();
    } catch (const reg::StoreError& e) {
        failure = e;
    }
    reportStoreEvents();
    if (failure)
        reportStoreError(*failure);
}

} // namespace

bool LoadSettings(TfrmSetup& dialog) {
    DialogOptions record(dialog);
    bool complete = true;
    // When the defaults could not be written, loading again would only fail again.
    guarded([&] { complete = loadSettings(record, machineStore()); });
    return complete;
}

void SaveSettings(TfrmSetup& dialog, bool sizeOnly) {
    DialogOptions record(dialog);
    guarded([&] { saveSettings(record, machineStore(), sizeOnly, executablePath()); });
}

void WriteDefaultSettings(TfrmSetup& dialog) {
    DialogOptions record(dialog);
    guarded([&] { writeDefaultSettings(record, machineStore()); });
}

void LoadCloseMode(TfrmSetup& dialog) {
    DialogOptions record(dialog);
    guarded([&] { loadCloseMode(record, machineStore()); });
}

void SaveCloseMode(TfrmSetup& dialog) {
    DialogOptions record(dialog);
    guarded([&] { saveCloseMode(record, machineStore()); });
}

std::optional<bool> storedStartMinimised() {
    std::optional<bool> minimised;
    guarded([&] { minimised = storedStartMinimised(machineStore()); });
    return minimised;
}

} // namespace corvane
