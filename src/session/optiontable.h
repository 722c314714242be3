// Every option in one row: its stored value, its default, what a missing value means, and
// its check box in the Options dialog. The settings logic and the dialog derive from the rows;
// a new option is a new row, its box's page when the layout needs it, and its reader.
#pragma once

#include <array>
#include <cstddef>
#include <span>

namespace corvane {

// The saver writes the options in this order, so a new one goes last, before Count.
enum class Option {
    AutoUpdate,
    AutoSaveSize,
    AutoExpand,
    ColoredTables,
    IgnoreLocalhost,
    IgnoreBroadcasts,
    OverwriteReport,
    Toolbar,
    NoErrorMessages,
    AutoRun,
    Minimized,
    ResolvePorts,
    ResolveAddresses,
    EstablishedOnly,
    RemoveDeadAddresses,
    IpLogging,
    ShowInactiveRoutes,
    CloseMode,
    IgnoreOperStatus,
    ShowIpv6,
    AllRoutingTables,
    Count // not an option
};

inline constexpr std::size_t optionCount = static_cast<std::size_t>(Option::Count);

// Copied from the stored options at the first show and after "Ok"; the popups toggle them.
struct RuntimeOptions {
    bool optResolvePorts = false;
    bool optResolveAddresses = false;
    bool optEstablishedOnly = false;
    bool optIgnoreLocalhost = false;
    bool optIgnoreBroadcasts = false;
    bool optNoErrorMessages = false;
    bool optShowIpv6 = true;
    bool optAllRoutingTables = false;
    bool operator==(const RuntimeOptions&) const = default;
};

// The Options dialog's pages, in tab order.
enum class OptionPage { None, Appearance, Options, StartClose, Logging };

struct OptionPageRow {
    OptionPage page;
    const char* objectName;
    const char* caption;
};

inline constexpr std::array<OptionPageRow, 4> kOptionPages = {{
    {OptionPage::Appearance, "tsAppearance", "Appearance"},
    {OptionPage::Options, "tsOptions", "Options"},
    {OptionPage::StartClose, "tsStart", "Start && Close"}, // the doubled ampersand shows as one
    {OptionPage::Logging, "tsLogging", "Logging"},
}};

enum class Saved {
    WithOthers, // by "Ok", and on a first run with the defaults when it resets
    Alone,      // its own load and save around the dialog; a missing one is written at once
    Never,      // set by hand in the store only
};

// Stores written before an option existed lack its value. Only the options every store has held
// since its first run may send a missing value back to all defaults; their reading order is
// fixed by the stores in use. Frozen: a larger number would reset every existing install.
inline constexpr int kResettingOptions = 15;
inline constexpr int kFixedWhenMissing = -1;

struct OptionRow {
    Option option;
    const char* valueName; // in the settings key, matched without regard to case
    bool defaultOn;
    // The position in the reading order of a value whose absence returns every option to its
    // default (written at once); kFixedWhenMissing: a missing value means defaultOn, unwritten.
    int resetStep = kFixedWhenMissing;
    Saved saved = Saved::WithOthers;
    bool RuntimeOptions::*runtime = nullptr; // the run-time copy, if any

    // The check box; rows of a page in tab order. No page: no box.
    OptionPage page = OptionPage::None;
    const char* box = nullptr;
    const char* caption = nullptr;
    const char* hint = nullptr; // also the status tip; none when null
    int helpContext = 0;
    int column = 0; // the page's second column when 1
};

// In the dialog's order, page by page.
inline constexpr std::array kOptionRows = std::to_array<OptionRow>({
    {.option = Option::AutoUpdate,
     .valueName = "Auto update",
     .defaultOn = true,
     .resetStep = 0,
     .page = OptionPage::Appearance,
     .box = "cbxAutoUpdate",
     .caption = "Auto update",
     .hint = "Toggle automatic information update behaviour",
     .helpContext = 9010},
    {.option = Option::AutoExpand,
     .valueName = "Auto expand tree",
     .defaultOn = false,
     .resetStep = 2,
     .page = OptionPage::Appearance,
     .box = "cbxAutoExpand",
     .caption = "Auto expand IP info tree",
     .hint = "Force IP info tree to expanded mode",
     .helpContext = 9025},
    {.option = Option::Toolbar,
     .valueName = "Toolbar",
     .defaultOn = true,
     .resetStep = 7,
     .page = OptionPage::Appearance,
     .box = "cbxToolbar",
     .caption = "Show Toolbar",
     .hint = "Toggle tool bar appearance",
     .helpContext = 9070},
    {.option = Option::ColoredTables,
     .valueName = "Colored routing table",
     .defaultOn = true,
     .resetStep = 3,
     .page = OptionPage::Appearance,
     .box = "cbxColoredFwTable",
     .caption = "Colored tables",
     .hint = "Highlight items in Routes and NetStat tables",
     .helpContext = 9030},
    {.option = Option::NoErrorMessages,
     .valueName = "Disable Error Messages",
     .defaultOn = false,
     .resetStep = 9,
     .runtime = &RuntimeOptions::optNoErrorMessages,
     .page = OptionPage::Appearance,
     .box = "cbxNoErrMsg",
     .caption = "Disable Error Messages",
     .hint = "Disable error messages",
     .helpContext = 9065},

    {.option = Option::IgnoreLocalhost,
     .valueName = "Ignore localhost",
     .defaultOn = true,
     .resetStep = 4,
     .runtime = &RuntimeOptions::optIgnoreLocalhost,
     .page = OptionPage::Options,
     .box = "cbxIgnoreLocalhost",
     .caption = "Ignore localhost",
     .hint = "Toggle localhost reporting",
     .helpContext = 9040},
    {.option = Option::IgnoreBroadcasts,
     .valueName = "Ignore broadcast addr",
     .defaultOn = false,
     .resetStep = 5,
     .runtime = &RuntimeOptions::optIgnoreBroadcasts,
     .page = OptionPage::Options,
     .box = "cbxIgnoreBCasts",
     .caption = "Ignore broadcast addresses",
     .hint = "Toggle broadcast reporting",
     .helpContext = 9050},
    {.option = Option::ResolvePorts,
     .valueName = "Resolve Port Names",
     .defaultOn = false,
     .resetStep = 11,
     .runtime = &RuntimeOptions::optResolvePorts,
     .page = OptionPage::Options,
     .box = "cbxResolvePortNumbers",
     .caption = "Resolve Port Numbers",
     .hint = "Resolve port numbers into names",
     .helpContext = 9100},
    {.option = Option::ResolveAddresses,
     .valueName = "Resolve IP Addresses",
     .defaultOn = false,
     .resetStep = 13,
     .runtime = &RuntimeOptions::optResolveAddresses,
     .page = OptionPage::Options,
     .box = "cbxResolveIPAddresses",
     .caption = "Resolve IP Addresses",
     .hint = "Resolve IP addresses into names",
     .helpContext = 9110},
    {.option = Option::EstablishedOnly,
     .valueName = "Only established TCP connections",
     .defaultOn = false,
     .resetStep = 14,
     .runtime = &RuntimeOptions::optEstablishedOnly,
     .page = OptionPage::Options,
     .box = "cbxEstablishedOnly",
     .caption = "Established TCP conns.",
     .hint = "Show only established TCP connections",
     .helpContext = 9120},
    {.option = Option::RemoveDeadAddresses,
     .valueName = "Remove Dead IP Addresses",
     .defaultOn = true,
     .resetStep = 12,
     .page = OptionPage::Options,
     .box = "cbxAutoIPRemove",
     .caption = "Remove dead IP",
     .hint = "Automatically remove dead secondary IP addresses",
     .helpContext = 9140},
    {.option = Option::ShowInactiveRoutes,
     .valueName = "Show incactive persistent routes",
     .defaultOn = true,
     .page = OptionPage::Options,
     .box = "cbxShowInactivePRoutes",
     .caption = "Inactive persistent routes",
     .hint = "Show inactive persistent routes",
     .helpContext = 9170,
     .column = 1},
    {.option = Option::ShowIpv6,
     .valueName = "Show IPv6",
     .defaultOn = true,
     .runtime = &RuntimeOptions::optShowIpv6,
     .page = OptionPage::Options,
     .box = "cbxShowIPv6",
     .caption = "Show IPv6",
     .hint = "Show IPv6 addresses, routes and connections",
     .helpContext = 9180,
     .column = 1},
    {.option = Option::AllRoutingTables,
     .valueName = "Show all routing tables",
     .defaultOn = false,
     .runtime = &RuntimeOptions::optAllRoutingTables,
     .page = OptionPage::Options,
     .box = "cbxAllRoutingTables",
     .caption = "All routing tables",
     .hint = "Show the routes of every routing table and the policy rules",
     .helpContext = 9190,
     .column = 1},

    {.option = Option::AutoSaveSize,
     .valueName = "Auto save size",
     .defaultOn = false,
     .resetStep = 1,
     .page = OptionPage::StartClose,
     .box = "cbxAutoSaveSize",
     .caption = "Auto save size",
     .hint = "Auto save main window size",
     .helpContext = 9020},
    {.option = Option::AutoRun,
     .valueName = "Auto run",
     .defaultOn = false,
     .resetStep = 8,
     .page = OptionPage::StartClose,
     .box = "cbxAutoRun",
     .caption = "Auto Run",
     .hint = "Starts the program upon system boot",
     .helpContext = 9080},
    {.option = Option::Minimized,
     .valueName = "Minimize",
     .defaultOn = false,
     .resetStep = 10,
     .page = OptionPage::StartClose,
     .box = "cbxMinimized",
     .caption = "Minimize upon Auto Run",
     .hint = "Minimize program into system tray",
     .helpContext = 9090},
    {.option = Option::CloseMode,
     .valueName = "Close immediately",
     .defaultOn = false,
     .saved = Saved::Alone,
     .page = OptionPage::StartClose,
     .box = "cbxCloseMode",
     .caption = "Close immediately",
     .hint = "Forces Corvane to close immediately when running in TNA",
     .helpContext = 9130},

    {.option = Option::OverwriteReport,
     .valueName = "Overwrite report",
     .defaultOn = true,
     .resetStep = 6,
     .page = OptionPage::Logging,
     .box = "cbxOverwriteReport",
     .caption = "Overwrite report",
     .hint = "Overwrite or append report text",
     .helpContext = 9060},
    {.option = Option::IpLogging,
     .valueName = "Log IP Addresses",
     .defaultOn = false,
     .page = OptionPage::Logging,
     .box = "cbxIPLogging",
     .caption = "IP Address Logging",
     .helpContext = 9320},

    {.option = Option::IgnoreOperStatus,
     .valueName = "Ignore Oper Status",
     .defaultOn = false,
     .saved = Saved::Never},
});

constexpr const OptionRow& optionRow(Option option) {
    for (const OptionRow& row : kOptionRows) {
        if (row.option == option)
            return row;
    }
    return kOptionRows[0]; // unreachable: every option has a row, checked below
}

namespace optiontable {

using Rows = std::span<const OptionRow>;

constexpr bool everyOptionHasOneRow(Rows table) {
    std::array<int, optionCount> rows{};
    for (const OptionRow& row : table) {
        const auto i = static_cast<std::size_t>(row.option);
        if (i >= optionCount)
            return false;
        ++rows[i];
    }
    for (const int n : rows) {
        if (n != 1)
            return false;
    }
    return table.size() == optionCount;
}

// The resetting options take each step once, only the options saved with the others do, and
// no more of them exist than the stores in use have always held.
constexpr bool resetStepsAreTheFrozenOnes(Rows table) {
    std::array<int, kResettingOptions> steps{};
    for (const OptionRow& row : table) {
        if (row.resetStep == kFixedWhenMissing)
            continue;
        if (row.resetStep < 0 || row.resetStep >= kResettingOptions ||
            row.saved != Saved::WithOthers)
            return false;
        ++steps[static_cast<std::size_t>(row.resetStep)];
    }
    for (const int n : steps) {
        if (n != 1)
            return false;
    }
    return true;
}

constexpr bool boxesArePaged(Rows table) {
    for (const OptionRow& row : table) {
        if ((row.page == OptionPage::None) != (row.box == nullptr))
            return false;
        if (row.box && (!row.caption || row.helpContext == 0))
            return false;
    }
    return true;
}

} // namespace optiontable

static_assert(optiontable::everyOptionHasOneRow(kOptionRows), "every option needs exactly one row");
static_assert(optiontable::resetStepsAreTheFrozenOnes(kOptionRows),
              "a new option's missing value must keep a fixed meaning");
static_assert(optiontable::boxesArePaged(kOptionRows),
              "a box needs a page, a caption and a help topic");

// The values that return every option to its default when missing, in their reading order.
inline constexpr std::array<Option, kResettingOptions> kResetOrder = [] {
    std::array<Option, kResettingOptions> order{};
    for (const OptionRow& row : kOptionRows) {
        if (row.resetStep != kFixedWhenMissing)
            order[static_cast<std::size_t>(row.resetStep)] = row.option;
    }
    return order;
}();

} // namespace corvane
