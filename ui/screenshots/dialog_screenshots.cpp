// Pictures of the main window and the configuration dialogs for the README and the operator's manual: each is
// filled with sample data, shown and grabbed to docs/screenshots/<name>.png. Run through scripts/make_screenshots.sh.
#include "directory/data_files.h"
#include "directory/directory.h"
#include "network/net_client.h"
#include "network/server.h"
#include "tracking/ticket.h"
#include "ui/clients_dlg.h"
#include "ui/configure_dlg.h"
#include "ui/database_dlg.h"
#include "ui/edit_client_dlg.h"
#include "ui/edit_company_dlg.h"
#include "ui/email_settings_dlg.h"
#include "ui/main_dlg.h"
#include "ui/modem_settings_dlg.h"
#include "ui/network_dlg.h"
#include "ui/network_monitor_dlg.h"
#include "ui/providers_dlg.h"
#include "ui/qt_operator.h"
#include "ui/tabs_dlg.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <memory>

namespace brimlow {
namespace {

CompanyRecord Company(const char* name, const char* address, const char* phone, int twoWay) {
    CompanyRecord c{};
    SetText(c.Name, name);
    SetText(c.Address, address);
    SetText(c.Phone, phone);
    c.Socket = kDefaultSocket;
    c.Baud = 9600;
    c.MaxChars = kDefaultMaxChars;
    c.TwoWay = static_cast<uint8_t>(twoWay);
    return c;
}

// A console over a data directory of its own, whose message boxes are recorded instead of shown.
struct SampleConsole {
    SampleConsole() {
        op.SetScripted(true);
        console.dataDir = data.path().toStdString();
        console.op = &op;
    }
    QTemporaryDir data;
    QtOperator op;
    Console console;
};

SubscriberRecord Subscriber(const char* name, int company, int tab) {
    SubscriberRecord r{};
    SetText(r.Name, name);
    SetText(r.PIN, "5550100");
    r.Company = company;
    r.Tab = static_cast<int8_t>(tab);
    return r;
}

bool Shoot(QWidget& widget, const QString& folder, const QString& name) {
    widget.show();
    widget.adjustSize();
    for (int k = 0; k < 10; ++k) {
        QApplication::processEvents();
        QThread::msleep(20);
    }
    QImage picture = widget.grab().toImage().convertToFormat(QImage::Format_RGB888);
    widget.hide();
    bool saved = picture.save(QDir(folder).filePath(name + ".png"));
    printf("%s %s\n", saved ? "wrote" : "FAILED", qPrintable(name));
    return saved;
}

} // namespace
} // namespace brimlow

int main(int argc, char** argv) {
    using namespace brimlow;
    qputenv("HOME", "/home/dispatch"); // the Database Utilities' default paths, as an operator's would read
    QApplication app(argc, argv);
    if (argc != 2) {
        fprintf(stderr, "usage: dialog_screenshots OUTPUT_FOLDER\n");
        return 2;
    }
    const QString folder = argv[1];
    SampleConsole sample;
    Console& console = sample.console;
    SetText(console.modem.InitString, kDefaultInitString);
    SetText(console.modem.DialPrefix, kDefaultDialPrefix);
    console.local->companies[0] = Company("Metro Paging", "snpp.metropaging.example", "5551234", 1);
    console.local->companies[1] = Company("County Alert", "", "5559876", 0);
    console.local->companies[2] = Company("Harbor Wireless", "192.168.10.20", "", 0);
    console.settings.Update([](Settings& s) {
        s.OutboundMailServer = "mail.example.org";
        s.UserName = "Dispatch Desk";
        s.ReturnAddress = "dispatch@example.org";
        s.Tab1 = "Day Shift";
        s.Tab2 = "Night Shift";
        s.Tab3 = "Managers";
        s.NetworkEnabled = 1;
        s.Server = "192.168.1.10";
        s.Username = "desk2";
        s.Password = "secret";
        s.SendViaServer = 1;
    });

    // A server with two real clients logged in, for the accounts and the monitor.
    lan::NetServer server(console);
    server.Operators().Set(0, "desk1", "one", kReadWriteDelete);
    server.Operators().Set(1, "desk2", "two", kReadWrite);
    server.Operators().Set(2, "supervisor", "three", kReadOnly);
    server.Start(0);
    std::vector<std::unique_ptr<Console>> clients;
    std::vector<std::unique_ptr<NetClient>> links;
    for (const char* user : {"desk1", "desk2"}) {
        auto client = std::make_unique<Console>();
        client->dataDir = console.dataDir;
        client->settings.Update([user](Settings& s) {
            s.Server = "127.0.0.1";
            s.Username = user;
            s.Password = std::string(user) == "desk1" ? "one" : "two";
        });
        auto link = std::make_unique<NetClient>(*client);
        link->SetPort(server.Port());
        link->SyncWithServer();
        clients.push_back(std::move(client));
        links.push_back(std::move(link));
    }

    bool ok = true;
    {
        // A desk console of its own (no LAN), with a page being written to a group and a subscriber.
        SampleConsole deskSample;
        Console& desk = deskSample.console;
        desk.settings.Update([](Settings& s) {
            s.Tab1 = "Day Shift";
            s.Tab2 = "Night Shift";
            s.Tab3 = "Managers";
        });
        desk.local->companies[0] = console.local->companies[0];
        desk.local->companies[1] = console.local->companies[1];
        for (const char* name : {"Ana Ortiz", "Ben Carter", "Chloe Park", "Dev Patel", "Eli Brooks", "Fay Moreno"})
            AddSubscriber(*desk.local, Subscriber(name, name[0] < 'D' ? 0 : 1, 0));
        int group = AllocateGroupNumber(*desk.local);
        SetText(desk.local->groups[group].Members[0], "Ana Ortiz");
        SetText(desk.local->groups[group].Members[1], "Dev Patel");
        AddSubscriber(*desk.local, Subscriber("Fire Crew", -group, 0));
        SortSubscribers(*desk.local);
        // A two-way page to Ana Ortiz, not yet read.
        CreateTicket(desk, TicketFileName("Ana Ortiz", {4242, 77}, {}), "960 4242 77 Message queued", "Ana Ortiz",
                     "5550100", "Gas leak reported at 12 Elm St. Confirm.");
        CMainDlg window(desk, deskSample.op); // goes before the desk console: its workers use it
        desk.sentPages = 1;                   // the counters start at 0 with the window
        window.show();                        // fills the lists
        QApplication::processEvents();
        window.findChild<QPlainTextEdit*>()->setPlainText("Water main break at 5th and Pine. Report to the yard.");
        for (QListWidget* list : window.findChildren<QListWidget*>())
            if (list->accessibleName() == "Subscribers")
                for (int row = 0; row < list->count(); ++row)
                    list->item(row)->setSelected(list->item(row)->text() == "Fire Crew" ||
                                                 list->item(row)->text() == "Eli Brooks");
        for (const char* line : {"Connecting to snpp.metropaging.example...", "220 SNPP server ready",
                                 "250 Pager ID Accepted", "250 Message OK", "960 4242 77 Message queued"})
            window.AddResultLine(line);
        ok &= Shoot(window, folder, "console");
    }
    {
        CConfigureDlg d(console, {});
        ok &= Shoot(d, folder, "configure");
    }
    {
        CProvidersDlg d(console);
        ok &= Shoot(d, folder, "providers");
    }
    {
        CEditCompanyDlg d(console, console.local->companies[0], 0);
        ok &= Shoot(d, folder, "edit_company");
    }
    {
        CModemSettingsDlg d(console);
        ok &= Shoot(d, folder, "modem_settings");
    }
    {
        CEmailSettingsDlg d(console);
        ok &= Shoot(d, folder, "email_settings");
    }
    {
        CTabsDlg d(console);
        ok &= Shoot(d, folder, "tabs");
    }
    {
        CDatabaseDlg d(console, nullptr);
        ok &= Shoot(d, folder, "database_utilities");
    }
    {
        CNetworkDlg d(console, {});
        ok &= Shoot(d, folder, "network");
    }
    {
        CClientsDlg d(console, server.Operators());
        ok &= Shoot(d, folder, "clients");
    }
    {
        CEditClientDlg d(console, server.Operators(), 1);
        ok &= Shoot(d, folder, "edit_client");
    }
    {
        CNetworkMonitorDlg d(console, server);
        ok &= Shoot(d, folder, "network_monitor");
    }
    links.clear();
    server.Stop();
    return ok ? 0 : 1;
}
