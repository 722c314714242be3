// Writes pictures of the main window's pages and the About box, to look at the layout:
//   corvane_shots OUTPUT_FOLDER   (with a display, e.g. under Xvfb, or QT_QPA_PLATFORM=offscreen)
#include "addresses/address_dialogs.h"
#include "connections/connpage.h"
#include "hostinfo/adaptertree.h"
#include "interfaces/frmifdetails.h"
#include "interfaces/frmipdetails.h"
#include "interfaces/interfacepage.h"
#include "routing/frmip.h"
#include "routing/frmmodifyroutes.h"
#include "routing/frmroutelist.h"
#include "routing/routespage.h"
#include "session/options.h"
#include "shell/forms.h"
#include "shell/frmabout.h"
#include "shell/frmexit.h"
#include "shell/frmmain.h"
#include "shell/frmsetup.h"
#include "widgets/help.h"
#include "widgets/helpviewer.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPalette>
#include <QScreen>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QTreeView>
#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

void beforeStats(corvane::TfrmMain& window) {
    corvane::TfrmIfDetails& d = *corvane::frmIfDetails;
    d.show();
    d.SetStatisticsActive(true);
    for (int i = 0; i < 5; ++i)
        window.tsInterface->acIfStatsExecuteUpdate();
    d.grab().save(QStringLiteral("%1/frmIfDetails.png").arg(qEnvironmentVariable("SHOTS_DIR")));
    d.hide();
    corvane::frmIPDetails->show();
    window.tmrIpStatTimer();
    corvane::frmIPDetails->grab().save(
        QStringLiteral("%1/frmIPDetails.png").arg(qEnvironmentVariable("SHOTS_DIR")));
    corvane::frmIPDetails->hide();
}

// The address dialogs as their commands fill them, and the renewal's wait window.
template <typename Save> void addressShots(const Save& save) {
    const QString adapter = QStringLiteral("eth0 - Ethernet (e1000)");
    corvane::frmRenewIP->cbxInterfaces->addItem(adapter);
    corvane::frmRenewIP->show();
    save(corvane::frmRenewIP, QStringLiteral("renew_ip.png"));
    corvane::frmRenewIP->hide();
    corvane::DHCPWaitForm->show();
    save(corvane::DHCPWaitForm, QStringLiteral("dhcp_wait.png"));
    corvane::DHCPWaitForm->close();
    corvane::TfrmAddIP& add = *corvane::frmAddIP;
    add.cbxInterfaces->addItem(adapter);
    add.edtIP->setText(QStringLiteral("10.0.0.6"));
    add.show();
    save(&add, QStringLiteral("add_ip.png"));
    add.hide();
    corvane::TfrmDelIP& del = *corvane::frmDelIP;
    del.cbxInterfaces->addItem(adapter + QStringLiteral(" (0x2)"));
    del.addressEntries = {QStringLiteral("192.168.1.20 255.255.255.0 (1):2"),
                          QStringLiteral("10.0.0.6 255.0.0.0 (3):2")};
    del.show();
    save(&del, QStringLiteral("delete_ip.png"));
    del.hide();
}

// Every shared picture in a row of its index, at 16 and 32 pixels and at 16 on a screen of
// twice the density, on a light and a dark ground.
QImage imageSheet(const corvane::ImageList& images) {
    const int cell = 40;
    QImage sheet(cell * 6, cell * images.count(), QImage::Format_ARGB32);
    sheet.fill(Qt::white);
    QPainter p(&sheet);
    p.fillRect(cell * 3, 0, cell * 3, sheet.height(), QColor(60, 60, 60));
    for (int i = 0; i < images.count(); ++i) {
        const QIcon icon = images.icon(i);
        for (int ground = 0; ground < 2; ++ground) {
            const int x = ground * cell * 3;
            p.drawPixmap(x + 4, i * cell + 12, icon.pixmap(16));
            p.drawPixmap(x + cell + 4, i * cell + 4, icon.pixmap(32));
            QPixmap dense = icon.pixmap(QSize(16, 16), 2.0);
            dense.setDevicePixelRatio(1.0); // its own pixels, to see the detail a 2x screen gets
            p.drawPixmap(x + 2 * cell + 4, i * cell + 4, dense);
        }
    }
    return sheet;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // SHOTS_DARK=1: the Fusion style with a dark palette, as dark desktops set it.
    if (qEnvironmentVariableIntValue("SHOTS_DARK")) {
        QApplication::setStyle(QStringLiteral("Fusion"));
        QPalette dark;
        dark.setColor(QPalette::Window, QColor(53, 53, 53));
        dark.setColor(QPalette::WindowText, Qt::white);
        dark.setColor(QPalette::Base, QColor(42, 42, 42));
        dark.setColor(QPalette::AlternateBase, QColor(66, 66, 66));
        dark.setColor(QPalette::Text, Qt::white);
        dark.setColor(QPalette::Button, QColor(53, 53, 53));
        dark.setColor(QPalette::ButtonText, Qt::white);
        dark.setColor(QPalette::Highlight, QColor(42, 130, 218));
        dark.setColor(QPalette::HighlightedText, Qt::white);
        dark.setColor(QPalette::ToolTipBase, QColor(53, 53, 53));
        dark.setColor(QPalette::ToolTipText, Qt::white);
        // Greyed, without the light etching a light palette gives disabled texts.
        for (const QPalette::ColorRole role :
             {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
            dark.setColor(QPalette::Disabled, role, QColor(127, 127, 127));
        dark.setColor(QPalette::Disabled, QPalette::Light, QColor(53, 53, 53));
        QApplication::setPalette(dark);
    }
    if (argc != 2) {
        std::fprintf(stderr, "usage: corvane_shots OUTPUT_FOLDER\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    qputenv("SHOTS_DIR", argv[1]);
    corvane::OptionsStore options;
    corvane::TfrmMain window(options, {});
    corvane::frmMain = &window;
    corvane::frmAbout = new corvane::TfrmAbout(&window);
    corvane::frmSetup = new corvane::TfrmSetup(options, &window);
    window.show();
    int failures = 0;
    const auto save = [&](QWidget* w, const QString& name) {
        QCoreApplication::processEvents();
        if (!w->grab().save(out.filePath(name)))
            ++failures;
    };
    // Under a window manager the title bar is the manager's: the screen around the window shows
    // which buttons it drew.
    const auto saveFramed = [&](QWidget* w, const QString& name) {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            return;
        QElapsedTimer settle;
        settle.start();
        while (settle.elapsed() < 2000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        const QRect frame = w->frameGeometry();
        const QPixmap shot =
            w->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
        if (!shot.save(out.filePath(QStringLiteral("framed_") + name)))
            ++failures;
    };
    QTimer::singleShot(1500, &window, [&] {
        if (!imageSheet(window.ilTreeImages).save(out.filePath(QStringLiteral("images.png"))))
            ++failures;
        for (int i = 0; i < window.pcMain->count(); ++i) {
            window.pcMain->setCurrentIndex(i);
            window.tmrUptimeTimer();
            save(&window, QStringLiteral("main_%1_%2.png")
                              .arg(i)
                              .arg(window.pcMain->widget(i)->objectName()));
        }
        // The tree opened at the last adapter's IPv6 part, where there is one.
        window.pcMain->setCurrentWidget(window.tsIP);
        QTreeView& tree = *window.tsIP->tvInfo;
        tree.expandAll();
        const QModelIndexList v6 = tree.model()->match(tree.model()->index(0, 0), Qt::DisplayRole,
                                                       QStringLiteral("IPv6 Addresses"), -1,
                                                       Qt::MatchExactly | Qt::MatchRecursive);
        if (!v6.isEmpty())
            tree.scrollTo(v6.last(), QAbstractItemView::PositionAtTop);
        save(&window, QStringLiteral("main_tsIP_ipv6.png"));
        // The filter fields with a text typed: the lists narrowed, the tabs say so. Two
        // loopback listeners and a UDP socket give Netstat rows to narrow.
        window.pcMain->setCurrentWidget(window.tsRoutes);
        window.tsRoutes->edtFilter->setText(QStringLiteral("192.0.2.2"));
        save(&window, QStringLiteral("main_tsRoutes_filtered.png"));
        window.tsRoutes->edtFilter->clear();
        std::vector<int> sockets;
        for (const int type : {SOCK_STREAM, SOCK_STREAM, SOCK_DGRAM}) {
            const int fd = ::socket(AF_INET, type, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
                (type == SOCK_DGRAM || ::listen(fd, 1) == 0))
                sockets.push_back(fd);
        }
        options.change([](corvane::Options& o) { o.run.optIgnoreLocalhost = false; });
        window.tsConnections->FillConnectionTable();
        window.pcMain->setCurrentWidget(window.tsConnections);
        window.tsConnections->edtFilter->setText(QStringLiteral("listen"));
        save(&window, QStringLiteral("main_tsConnections_filtered.png"));
        for (const int fd : sockets)
            ::close(fd);
        window.tsConnections->edtFilter->clear();
        corvane::frmAbout->VerLabel->setText(window.versionText);
        corvane::frmAbout->show();
        save(corvane::frmAbout, QStringLiteral("about.png"));
        corvane::frmAbout->hide();
        window.tsRoutes->pmRouteMenu->popup(window.mapToGlobal(QPoint(200, 150)));
        save(window.tsRoutes->pmRouteMenu, QStringLiteral("menu_routes.png"));
        window.tsRoutes->pmRouteMenu->hide();
        // The route dialog in both modes and the address prompt, as the actions fill them.
        for (const bool modify : {false, true}) {
            corvane::TfrmModifyRoutes& d = *corvane::frmModifyRoutes;
            d.modify = modify;
            d.cbxInterfaces->addItem(QStringLiteral("Intel(R) PRO/1000 MT Network Connection"));
            d.nextHopProposals = {QStringLiteral("10.50.0.254")};
            d.edtNetwork->setText(modify ? QStringLiteral("10.60.0.0") : QString());
            d.show();
            save(&d, modify ? QStringLiteral("route_modify.png") : QStringLiteral("route_add.png"));
            d.hide();
            d.cbxInterfaces->clear();
        }
        for (corvane::RouteListDialog* d : std::initializer_list<corvane::RouteListDialog*>{
                 corvane::frmAddRouteList, corvane::frmDelRouteList}) {
            d->show();
            d->routeList->setRoutes(
                {{QStringLiteral("10.0.0.0"), QStringLiteral("255.0.0.0")},
                 {QStringLiteral("172.16.0.0"), QStringLiteral("255.240.0.0")}});
            save(d, d->objectName() + QStringLiteral(".png"));
            saveFramed(d, d->objectName() + QStringLiteral(".png"));
            d->hide();
        }
        // The two statistics windows as an update leaves them.
        window.tsInterface->lvIfTable->selectRow(0);
        beforeStats(window);
        corvane::frmIP->show();
        save(corvane::frmIP, QStringLiteral("find_interface.png"));
        saveFramed(corvane::frmIP, QStringLiteral("find_interface.png"));
        corvane::frmIP->hide();
        addressShots(save);
        // The exit question a second into its countdown, and the log's place in the options.
        qint64 clock = 0;
        corvane::TfrmExit exitDialog(&window, [&clock] { return clock; });
        exitDialog.setWindowIcon(window.ilTreeImages.icon(corvane::img::Exit));
        exitDialog.show();
        clock = 1000;
        exitDialog.tmrTimeoutTimer();
        save(&exitDialog, QStringLiteral("frmExit.png"));
        exitDialog.hide();
        corvane::frmSetup->pcOptions->setCurrentIndex(corvane::frmSetup->pcOptions->count() - 1);
        corvane::frmSetup->show();
        save(corvane::frmSetup, QStringLiteral("options_logging.png"));
        corvane::frmSetup->hide();
        // The help at a topic reached by a link, with a search under way.
        corvane::showHelp(1000, &window);
        corvane::HelpViewer& help = *corvane::helpViewer();
        help.showTopic(1400);
        help.findField()->setText(QStringLiteral("route"));
        help.findNext();
        help.findNext();
        save(&help, QStringLiteral("help.png"));
        saveFramed(&help, QStringLiteral("help.png"));
        help.hide();
        window.pmTrayMenu->popup(window.mapToGlobal(QPoint(300, 100)));
        save(window.pmTrayMenu, QStringLiteral("menu_tray.png"));
        window.pmTrayMenu->hide();
        QCoreApplication::exit(failures ? 1 : 0);
    });
    const int rc = QApplication::exec();
    corvane::frmAbout = nullptr;
    corvane::frmSetup = nullptr;
    return rc;
}
