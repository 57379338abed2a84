#include "ui/main_dlg.h"

#include "app/directory_edits.h"
#include "app/queue_scan.h"
#include "app/send_page.h"
#include "app/send_queue_worker.h"
#include "console/play_sound.h"
#include "network/net_client.h"
#include "network/net_client_scan.h"
#include "network/server.h"
#include "queue/logs.h"
#include "queue/purge.h"
#include "queue/queue_writer.h"
#include "tracking/tracking_check_thread.h"
#include "ui/about_dlg.h"
#include "ui/configure_dlg.h"
#include "ui/dialog_controls.h"
#include "ui/edit_signature_dlg.h"
#include "ui/edit_subscriber_dlg.h"
#include "ui/group_dlg.h"
#include "ui/help.h"
#include "ui/icons.h"
#include "ui/modal_job.h"
#include "ui/network_monitor_dlg.h"
#include "ui/qt_operator.h"
#include "ui/text_fields.h"
#include "ui/tracking_panel.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QSignalBlocker>
#include <QTabBar>
#include <QToolButton>
#include <QUrl>
#include <algorithm>

namespace brimlow {
namespace {

constexpr const char* kWindowTitle = "Brimlow - Quillfen Labs";
constexpr const char* kServerWindowTitle = "Brimlow Server - Quillfen Labs";
constexpr const char* kNetworkTabCaption = "Network";
constexpr const char* kExitQuestion = "Do you wish to exit?";
constexpr const char* kGroupQuestion = "Should this be a group?";
constexpr const char* kNetworkBusyText = "Network busy, please wait...";
constexpr const char* kAddLevelText = "Your network security level is too low to add a record.";
constexpr const char* kEditLevelText = "Your network security level is too low to edit a record.";
constexpr const char* kDeleteLevelText = "Your network security level is too low to delete a record.";
constexpr const char* kNetworkAddFailed = "Network add failed!";
constexpr const char* kLockedText = "This record is locked by %1 and cannot be edited!";
constexpr const char* kOneDeleteText = "Only one subscriber can be deleted at a time!";
constexpr const char* kNoGroupSlotText = "Every group slot is in use: delete a group before adding one.";
constexpr int kReadWriteLevel = 1;
constexpr int kDeleteLevel = 2;
constexpr int kResultTopFromEnd = 4; // the newest lines stay in view

const char* ModeCaption(SendMode mode) {
    switch (mode) {
    case SendMode::NetPage:
        return "Net Page";
    case SendMode::Page:
        return "Page";
    case SendMode::Email:
        return "Email";
    }
    return "Net Page";
}

// A counter the screen reader reads as a value: a read-only field named after its label.
QLineEdit* MakeCounter(const QString& name, QWidget* parent) {
    auto* field = new QLineEdit("0", parent);
    field->setReadOnly(true);
    field->setAccessibleName(name);
    field->setAlignment(Qt::AlignRight);
    field->setMaximumWidth(field->fontMetrics().horizontalAdvance("0000000") + 16);
    return field;
}

QLabel* MakeLabel(const QString& caption, QWidget* buddy, QWidget* parent) {
    auto* label = new QLabel(caption, parent);
    label->setBuddy(buddy);
    return label;
}

} // namespace

CMainDlg::CMainDlg(Console& console, QtOperator& op, QWidget* parent)
    : QDialog(parent), m_console(console), m_op(op), m_subscriberIcon(Icon(AppIcon::Subscriber)),
      m_groupIcon(Icon(AppIcon::Group)) {
    setWindowTitle(kWindowTitle);
    setWindowFlags(Qt::Window | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    BuildControls();
    m_op.SetParentWindow(this);
    m_op.SetResultSink([this](const QString& line) { AddResultLine(line); });
    InitialiseConsole();
}

CMainDlg::~CMainDlg() {
    if (m_monitor)
        m_monitor->hide();
    m_scanTimer.stop();
    m_op.SetResultSink({});
    if (m_console.netClient)
        m_console.networkScanStep = {}; // it starts the window's polls
    // The window is the console's run: its end is the console's exit, which the threads watch for.
    m_console.BeginExit();
    if (m_server)
        m_server->Stop(); // every session ends and releases its locks before the tables are saved
}

std::unique_ptr<lan::NetServer> CMainDlg::TakeServer() { return std::move(m_server); }

void CMainDlg::BuildControls() {
    auto* root = new QVBoxLayout(this);

    auto* menuBar = new QMenuBar(this);
    QMenu* menu = menuBar->addMenu("&Brimlow");
    menu->addAction("&About Brimlow", this, [this] { CAboutDlg(m_console, this).exec(); });
    menu->addSeparator();
    menu->addAction("E&xit", this, &CMainDlg::RequestExit);
    root->setMenuBar(menuBar);

    // The page.
    auto* compose = new QGridLayout;
    m_subject = new QLineEdit(this);
    m_subject->setMaxLength(100);
    m_subject->setAccessibleName("Subject");
    m_message = new QPlainTextEdit(this);
    m_message->setAccessibleName("Message");
    m_message->setTabChangesFocus(true);
    m_message->setMinimumHeight(m_message->fontMetrics().lineSpacing() * 6);
    compose->addWidget(MakeLabel("Sub&ject:", m_subject, this), 0, 0);
    compose->addWidget(m_subject, 0, 1, 1, 7);
    compose->addWidget(MakeLabel("&Message:", m_message, this), 1, 0, Qt::AlignTop);
    compose->addWidget(m_message, 1, 1, 1, 7);
    compose->setRowStretch(1, 1);

    m_send = MakeButton("&Send", this);
    m_queue = MakeButton("&Queue", this);
    m_sendQueue = MakeButton("Se&nd Q", this);
    m_purge = MakeButton("&Purge", this);
    m_length = MakeCounter("Length", this);
    compose->addWidget(m_send, 2, 1);
    compose->addWidget(m_queue, 2, 2);
    compose->addWidget(m_sendQueue, 2, 3);
    compose->addWidget(m_purge, 2, 4);
    compose->addWidget(MakeLabel("Len&gth:", m_length, this), 2, 6, Qt::AlignRight);
    compose->addWidget(m_length, 2, 7);

    m_attachSignature = new QCheckBox("A&ttach Signature", this);
    m_attachSignature->setAccessibleName("Attach Signature");
    m_editSignature = MakeButton("&Edit", this);
    m_sendMode = MakeButton(ModeCaption(SendMode::NetPage), this);
    m_clear = MakeButton("&Clear", this);
    compose->addWidget(m_attachSignature, 3, 1, 1, 2);
    compose->addWidget(m_editSignature, 3, 3);
    compose->addWidget(MakeLabel("M&ode:", m_sendMode, this), 3, 4, Qt::AlignRight);
    compose->addWidget(m_sendMode, 3, 5);
    compose->addWidget(m_clear, 3, 7);

    m_sent = MakeCounter("Sent", this);
    m_rejected = MakeCounter("Rejected", this);
    m_queueCount = MakeCounter("Queue", this);
    auto* counters = new QHBoxLayout;
    counters->addWidget(MakeLabel("Sent:", m_sent, this));
    counters->addWidget(m_sent);
    counters->addSpacing(12);
    counters->addWidget(MakeLabel("Rejected:", m_rejected, this));
    counters->addWidget(m_rejected);
    counters->addSpacing(12);
    counters->addWidget(MakeLabel("Queue:", m_queueCount, this));
    counters->addWidget(m_queueCount);
    counters->addStretch(1);
    m_logo = new QToolButton(this);
    m_logo->setIcon(Icon(AppIcon::Product));
    m_logo->setIconSize(QSize(48, 48));
    m_logo->setAutoRaise(true);
    m_logo->setToolTip(kProductWebPage);
    m_logo->setAccessibleName("Brimlow web page");
    counters->addWidget(m_logo);
    compose->addLayout(counters, 4, 0, 1, 8);

    // The directory.
    auto* directory = new QVBoxLayout;
    m_tabs = new QTabBar(this);
    m_tabs->setAccessibleName("Directory tabs");
    m_tabs->setExpanding(false);
    m_list = new QListWidget(this);
    m_list->setAccessibleName("Subscribers");
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setUniformItemSizes(true);
    m_list->setIconSize(QSize(16, 16));
    m_list->installEventFilter(this);
    m_add = MakeButton("&Add", this);
    m_delete = MakeButton("&Delete", this);
    m_log = MakeButton("&Log", this);
    m_configure = MakeButton("Con&figure", this);
    m_help = MakeButton("&Help", this);
    auto* directoryButtons = new QHBoxLayout;
    for (QPushButton* button : {m_add, m_delete, m_log, m_configure, m_help})
        directoryButtons->addWidget(button);
    auto* tabRow = new QHBoxLayout;
    tabRow->addWidget(MakeLabel("S&ubscribers:", m_list, this));
    tabRow->addWidget(m_tabs, 1);
    directory->addLayout(tabRow);
    directory->addWidget(m_list, 1);
    directory->addLayout(directoryButtons);

    auto* top = new QHBoxLayout;
    top->addLayout(compose, 3);
    top->addLayout(directory, 2);
    root->addLayout(top, 3);

    // What happened: the two-way tickets and the status lines.
    m_tracking = new TrackingPanel(m_console, this);
    m_result = new QListWidget(this);
    m_result->setAccessibleName("Result");
    m_result->setSelectionMode(QAbstractItemView::NoSelection);
    m_result->setUniformItemSizes(true);
    auto* bottom = new QGridLayout;
    bottom->addWidget(new QLabel("Tracking:", this), 0, 0);
    bottom->addWidget(m_tracking, 1, 0);
    bottom->addWidget(MakeLabel("&Result:", m_result, this), 0, 1);
    bottom->addWidget(m_result, 1, 1);
    bottom->setColumnStretch(0, 2);
    bottom->setColumnStretch(1, 3);
    bottom->setRowStretch(1, 1);
    root->addLayout(bottom, 2);

    connect(m_send, &QPushButton::clicked, this, &CMainDlg::Send);
    connect(m_queue, &QPushButton::clicked, this, &CMainDlg::QueuePages);
    connect(m_sendQueue, &QPushButton::clicked, this, [this] { StartSendQueueWorker(m_console); });
    connect(m_purge, &QPushButton::clicked, this, [this] { PurgeAll(m_console); });
    connect(m_message, &QPlainTextEdit::textChanged, this, &CMainDlg::UpdateLength);
    connect(m_attachSignature, &QCheckBox::toggled, this, [this](bool on) {
        m_console.signature.Attach = on ? 1 : 0;
        UpdateLength();
    });
    connect(m_editSignature, &QPushButton::clicked, this, &CMainDlg::EditSignature);
    connect(m_sendMode, &QPushButton::clicked, this, &CMainDlg::ToggleSendMode);
    connect(m_clear, &QPushButton::clicked, m_message, &QPlainTextEdit::clear);
    connect(m_tabs, &QTabBar::currentChanged, this, &CMainDlg::SelectTab);
    connect(m_list, &QListWidget::itemDoubleClicked, this, &CMainDlg::EditEntry);
    connect(m_add, &QPushButton::clicked, this, &CMainDlg::AddEntry);
    connect(m_delete, &QPushButton::clicked, this, &CMainDlg::DeleteEntry);
    connect(m_log, &QPushButton::clicked, this, [this] { OpenDataFile(m_console, kMessageLog); });
    connect(m_configure, &QPushButton::clicked, this, &CMainDlg::Configure);
    connect(m_help, &QPushButton::clicked, this, [this] { ShowHelp(m_console); });
    connect(m_logo, &QToolButton::clicked, this, [] { QDesktopServices::openUrl(QUrl(kProductWebPage)); });
    // Compose, then pick the recipients: Tab leads from the message to the list.
    setTabOrder(m_message, m_list);
    AddHelpKey(this, m_console);
    for (QKeySequence keys : {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)}) {
        auto* shortcut = new QShortcut(keys, this);
        connect(shortcut, &QShortcut::activated, this, &CMainDlg::Send);
    }
    m_scanTimer.setSingleShot(true);
    connect(&m_scanTimer, &QTimer::timeout, this, &CMainDlg::OnScanTimer);
    resize(980, 680);
}

// The main window initialisation, in its fixed order.
void CMainDlg::InitialiseConsole() {
    StartTrackingCheckThread(m_console);
    if (m_console.serverRole) {
        setWindowTitle(kServerWindowTitle);
        m_console.settings.Update(ApplyServerRole);
        m_server = lan::StartServerRole(m_console);
        if (m_server) {
            m_monitor = std::make_unique<CNetworkMonitorDlg>(m_console, *m_server);
            m_monitor->show();
        }
    }
    setWindowIcon(Icon(AppIcon::Product));
    m_attachSignature->setChecked(m_console.signature.Attach != 0);
    m_console.sentPages = 0;
    m_console.failedPages = 0;
    m_console.trackingRefresh = 1;
    m_tracking->RefreshTracking();
    m_scanTimer.start(kFirstScanMs);
    m_subject->setEnabled(false);
    m_console.sendMode = static_cast<int>(SendMode::NetPage);
    m_sendMode->setText(ModeCaption(SendMode::NetPage));
    InsertTabs();
    if (m_console.settings.Get().NetworkEnabled)
        StartNetworkClient();
    else
        m_console.settings.Update(ApplyNetworkEnabled);
    SetQueueButton();
    UpdateLength();
}

void CMainDlg::InsertTabs() {
    QSignalBlocker block(m_tabs);
    Settings settings = m_console.settings.Get();
    for (int tab = 0; tab < kLocalTabs; ++tab)
        m_tabs->addTab(FromLatin1(settings.TabName(tab)));
    if (settings.NetworkEnabled)
        m_tabs->addTab(kNetworkTabCaption);
}

void CMainDlg::Configure() {
    CConfigureDlg dialog(m_console, {m_server.get(), m_monitor.get()}, this);
    dialog.exec();
    RebuildTabs();
}

void CMainDlg::RebuildTabs() {
    int selected = m_tabs->currentIndex();
    {
        QSignalBlocker block(m_tabs);
        while (m_tabs->count() > 0)
            m_tabs->removeTab(0);
    }
    if (!m_console.settings.Get().NetworkEnabled)
        m_console.settings.Update(ApplyNetworkEnabled);
    InsertTabs();
    // Without networking the Network tab is gone: its list goes with it.
    if (selected < 0 || selected >= m_tabs->count())
        selected = 0;
    {
        QSignalBlocker block(m_tabs);
        m_tabs->setCurrentIndex(selected);
    }
    m_console.currentTab = selected;
    SetQueueButton();
    RefreshLists();
}

// The client's start-up connect job, and its polls off the user-interface thread: a server that stops
// answering holds a poll for up to a minute, which the window must not spend frozen.
void CMainDlg::StartNetworkClient() {
    brimlow::StartNetworkClient(m_console);
    if (m_console.netClient)
        m_console.networkScanStep = [this] { StartPoll(); };
}

void CMainDlg::StartPoll() {
    std::shared_ptr<NetClient> client = m_console.netClient;
    if (client->TakeClickWanted())
        PlaySoundFile(m_console, kClickSound);
    std::shared_ptr<NetworkTurns> turns = m_turns;
    if (turns->polling.exchange(true))
        return;
    Console& console = m_console;
    bool started = console.StartWorker([&console, client, turns] {
        std::unique_lock turn(turns->turn, std::try_to_lock);
        if (turn)
            PollServer(console, *client);
        turns->polling = false;
    });
    if (!started)
        turns->polling = false; // the next scan tries again
}

int CMainDlg::NetworkJob(const QString& step, const std::function<int(NetClient&)>& request) {
    std::shared_ptr<NetClient> client = m_console.netClient;
    if (!client)
        return 0;
    int result = 0;
    std::shared_ptr<NetworkTurns> turns = m_turns;
    RunModalJob(this, "Network", [&](JobProgress& progress) {
        progress.Report(step, 0, 0);
        std::lock_guard turn(turns->turn);
        result = request(*client);
    });
    return result;
}

void CMainDlg::OnScanTimer() {
    ScanOutcome outcome = QueueScan(m_console);
    if (!outcome.statusShown)
        ShowCounters(outcome.sentPages, outcome.failedPages, outcome.counts.queueCount);
    if (outcome.refreshLists)
        RefreshLists();
    m_scanTimer.start(outcome.nextPeriodMs);
}

void CMainDlg::ShowCounters(int sent, int rejected, int queued) {
    m_sent->setText(QString::number(sent));
    m_rejected->setText(QString::number(rejected));
    m_queueCount->setText(QString::number(queued));
}

void CMainDlg::SetQueueButton() {
    m_queue->setEnabled(!OnNetworkTab() && !m_console.settings.Get().SendAllViaServer);
}

ComposedPage CMainDlg::ComposedPageNow() const {
    ComposedPage page;
    page.message = ToLatin1(m_message->toPlainText().left(static_cast<int>(kMessageFieldLimit)));
    page.subject = ToLatin1(m_subject->text());
    page.attachSignature = m_attachSignature->isChecked();
    page.mode = static_cast<SendMode>(m_console.sendMode.load());
    page.currentTab = m_console.currentTab;
    return page;
}

void CMainDlg::UpdateLength() {
    QString text = m_message->toPlainText();
    if (text.size() > static_cast<int>(kMessageFieldLimit)) {
        // A paste past the limit keeps the first 999 characters, as typing stops there.
        QSignalBlocker block(m_message);
        m_message->setPlainText(text.left(static_cast<int>(kMessageFieldLimit)));
        m_message->moveCursor(QTextCursor::End);
        text = m_message->toPlainText();
    }
    qsizetype length = text.size();
    if (length > 0 && m_attachSignature->isChecked())
        length += static_cast<qsizetype>(strnlen(m_console.signature.Text, sizeof m_console.signature.Text));
    m_length->setText(QString::number(length));
}

void CMainDlg::ToggleSendMode() {
    SendMode next = SendMode::NetPage;
    switch (static_cast<SendMode>(m_console.sendMode.load())) {
    case SendMode::NetPage:
        next = SendMode::Page;
        break;
    case SendMode::Page:
        next = SendMode::Email;
        break;
    case SendMode::Email:
        next = SendMode::NetPage;
        break;
    }
    m_console.sendMode = static_cast<int>(next);
    m_sendMode->setText(ModeCaption(next));
    m_sendMode->setAccessibleName(ModeCaption(next));
    m_subject->setEnabled(next == SendMode::Email);
}

void CMainDlg::EditSignature() {
    CEditSignatureDlg dialog(FromLatin1(GetText(m_console.signature.Text)), m_console, this);
    dialog.exec();
    SetText(m_console.signature.Text, ToLatin1(dialog.Text()));
    UpdateLength();
}

std::vector<int> CMainDlg::SelectedRows() const {
    std::vector<int> rows;
    for (int row = 0; row < m_list->count(); ++row)
        if (m_list->item(row)->isSelected())
            rows.push_back(row);
    return rows;
}

int CMainDlg::FirstSelectedRow() const {
    std::vector<int> rows = SelectedRows();
    return rows.empty() ? -1 : rows.front();
}

void CMainDlg::Send() {
    ComposedPage page = ComposedPageNow();
    std::vector<int> entrySlots;
    {
        std::lock_guard lock(m_console.databaseLock);
        for (int row : SelectedRows())
            if (int slot = ResolveListItem(m_console, page.currentTab, row); slot >= 0)
                entrySlots.push_back(slot);
    }
    // The list stays as it is until Send has walked it, whatever the scans meanwhile ask for.
    m_console.sending = 1;
    RunModalJob(this, "Send", [&](JobProgress& progress) {
        SendOutcome outcome = SendPage(m_console, page, entrySlots, [&](const std::string& name, int done, int total) {
            progress.Report(QString("Sending to %1 (%2 of %3)").arg(FromLatin1(name)).arg(done + 1).arg(total), done,
                            total);
        });
        if (outcome.queued)
            StartSendQueueWorker(m_console);
    });
    m_console.sending = 0;
    RefreshLists();
}

void CMainDlg::QueuePages() {
    Queue(m_console, ComposedPageNow(), SelectedRows());
    RefreshLists();
}

void CMainDlg::SelectTab(int tab) {
    m_list->clear();
    m_console.currentTab = tab;
    if (tab == kNetworkTab && !m_console.networkBusy)
        NetworkJob("Fetching the server's directory...", [](NetClient& client) { return client.SyncWithServer(); });
    RefreshLists();
    SetQueueButton();
    PlaySoundFile(m_console, kClickSound);
}

void CMainDlg::RefreshLists() {
    if (!m_console.sending) {
        int remembered = FirstSelectedRow();
        SortLocalDirectory(m_console, m_server.get());
        struct Entry {
            QString name;
            bool group;
        };
        std::vector<Entry> entries;
        const int tab = m_console.currentTab;
        {
            std::lock_guard lock(m_console.databaseLock);
            const Directory& dir = m_console.DirectoryForTab(tab);
            for (const SubscriberRecord& record : dir.subscribers) {
                if (IsEmptyText(record.Name))
                    break;
                if (tab == kNetworkTab || record.Tab == tab)
                    entries.push_back({FieldText(record.Name), record.IsGroup()});
            }
        }
        m_list->setUpdatesEnabled(false);
        m_list->clear();
        for (const Entry& entry : entries)
            new QListWidgetItem(entry.group ? m_groupIcon : m_subscriberIcon, entry.name, m_list);
        if (remembered >= 0 && remembered < m_list->count())
            m_list->setCurrentRow(remembered, QItemSelectionModel::ClearAndSelect);
        m_list->setUpdatesEnabled(true);
    }
    m_tracking->RefreshTracking();
}

void CMainDlg::AddResultLine(const QString& text) {
    m_result->addItem(text);
    if (m_result->count() > kResultLineLimit)
        delete m_result->takeItem(0);
    int top = std::max(0, m_result->count() - kResultTopFromEnd);
    m_result->scrollToItem(m_result->item(top), QAbstractItemView::PositionAtTop);
    m_result->repaint();
}

bool CMainDlg::NetworkEditAllowed(int level, const char* tooLowText) {
    if (m_console.networkBusy) {
        m_console.op->ShowMessage(MessageIcon::Information, kAppCaption, kNetworkBusyText);
        return false;
    }
    if (NetworkJob("Asking the server...", [](NetClient& client) { return client.GetSecurityLevel(); }) < level) {
        m_console.op->ShowError(tooLowText);
        return false;
    }
    return true;
}

void CMainDlg::AddEntry() {
    if (OnNetworkTab())
        AddNetworkEntry();
    else
        AddLocalEntryFlow();
    RefreshLists();
}

void CMainDlg::AddLocalEntryFlow() {
    const int tab = m_console.currentTab;
    if (m_console.op->AskYesNo(MessageIcon::Question, kAppCaption, kGroupQuestion)) {
        int group;
        {
            std::lock_guard lock(m_console.databaseLock);
            group = AllocateGroupNumber(*m_console.local);
        }
        if (group == 0) {
            m_console.op->ShowError(kNoGroupSlotText);
            return;
        }
        CGroupDlg dialog(m_console, QString(), group, tab, this);
        dialog.exec();
        if (dialog.Name().isEmpty()) {
            // No entry will name these members: a slot left filled would be lost to every later group.
            std::lock_guard lock(m_console.databaseLock);
            m_console.local->groups[group] = GroupRecord{};
            return;
        }
        SubscriberRecord entry{};
        StoreField(entry.Name, dialog.Name());
        entry.Company = -group;
        entry.Tab = static_cast<int8_t>(dialog.Tab());
        AddLocalEntry(m_console, m_server.get(), entry);
        return;
    }
    SubscriberRecord blank{};
    blank.Tab = static_cast<int8_t>(tab);
    CEditSubscriberDlg dialog(m_console, blank, this);
    dialog.exec();
    SubscriberRecord record = dialog.Record();
    if (!IsEmptyText(record.Name))
        AddLocalEntry(m_console, m_server.get(), record);
}

void CMainDlg::AddNetworkEntry() {
    if (!NetworkEditAllowed(kReadWriteLevel, kAddLevelText))
        return;
    if (m_console.op->AskYesNo(MessageIcon::Question, kAppCaption, kGroupQuestion)) {
        constexpr int kScratchGroup = 0; // the server never gives out group 0
        CGroupDlg dialog(m_console, QString(), kScratchGroup, kNetworkTab, this);
        dialog.exec();
        if (dialog.Name().isEmpty())
            return;
        std::string name = ToLatin1(dialog.Name());
        int added = NetworkJob("Adding the group...",
                               [&](NetClient& client) { return client.AddNetGroup(name, kScratchGroup); });
        if (added != 1)
            m_console.op->ShowError(kNetworkAddFailed);
        return;
    }
    SubscriberRecord blank{};
    blank.Tab = kNetworkTab;
    CEditSubscriberDlg dialog(m_console, blank, this);
    dialog.exec();
    SubscriberRecord record = dialog.Record();
    if (IsEmptyText(record.Name))
        return;
    if (NetworkJob("Adding the subscriber...", [&](NetClient& client) { return client.AddNetSubscriber(record); }) != 1)
        m_console.op->ShowError(kNetworkAddFailed);
}

void CMainDlg::EditEntry() {
    if (OnNetworkTab() && !NetworkEditAllowed(kReadWriteLevel, kEditLevelText))
        return;
    int row = FirstSelectedRow();
    if (row < 0)
        return;
    if (OnNetworkTab())
        EditNetworkEntry(row);
    else
        EditLocalEntry(row);
    RefreshLists();
}

void CMainDlg::EditLocalEntry(int row) {
    SubscriberRecord entry;
    if (!OpenLocalEntry(m_console, m_console.currentTab, row, entry))
        return;
    if (!entry.IsGroup()) {
        CEditSubscriberDlg dialog(m_console, entry, this);
        dialog.exec();
        SubscriberRecord edited = dialog.Record();
        if (IsEmptyText(edited.Name))
            CloseLocalEntry(m_console, m_server.get(), EditEnd::Keep);
        else
            CloseLocalEntry(m_console, m_server.get(), EditEnd::Store, edited);
        return;
    }
    const int group = GroupNumberOf(entry);
    CGroupDlg dialog(m_console, FieldText(entry.Name), group, entry.Tab, this);
    dialog.exec();
    if (!dialog.Name().isEmpty()) {
        StoreField(entry.Name, dialog.Name());
        entry.Tab = static_cast<int8_t>(dialog.Tab());
        CloseLocalEntry(m_console, m_server.get(), EditEnd::Store, entry);
        return;
    }
    bool emptied;
    {
        std::lock_guard lock(m_console.databaseLock);
        emptied = group == 0 || IsEmptyText(m_console.local->groups[group].Members[0]);
    }
    CloseLocalEntry(m_console, m_server.get(), emptied ? EditEnd::Delete : EditEnd::Keep);
}

void CMainDlg::EditNetworkEntry(int slot) {
    std::string owner;
    int granted = NetworkJob("Locking the record...", [&](NetClient& client) {
        int locked = client.LockNetRecord(slot);
        if (locked == 0)
            client.GetLockOwner(slot, owner);
        return locked;
    });
    if (granted != 1) {
        m_console.op->ShowError(ToLatin1(QString(kLockedText).arg(FromLatin1(owner))));
        return;
    }
    SubscriberRecord entry;
    {
        std::lock_guard lock(m_console.databaseLock);
        entry = m_console.network->subscribers[slot];
    }
    if (!entry.IsGroup()) {
        CEditSubscriberDlg dialog(m_console, entry, this);
        dialog.exec();
        SubscriberRecord edited = dialog.Record();
        bool store = !IsEmptyText(edited.Name);
        if (store) {
            std::lock_guard lock(m_console.databaseLock);
            m_console.network->subscribers[slot] = edited;
        }
        NetworkJob("Saving the record...", [&](NetClient& client) {
            if (store)
                client.WriteNetSubscriber(slot);
            return client.UnlockNetRecord(slot);
        });
        return;
    }
    const int group = GroupNumberOf(entry);
    CGroupDlg dialog(m_console, FieldText(entry.Name), group, entry.Tab, this);
    dialog.exec();
    bool store = !dialog.Name().isEmpty();
    bool emptied = false;
    {
        std::lock_guard lock(m_console.databaseLock);
        if (store)
            StoreField(m_console.network->subscribers[slot].Name, dialog.Name());
        else
            emptied = group == 0 || IsEmptyText(m_console.network->groups[group].Members[0]);
    }
    if (emptied)
        DeleteNetworkEntry(slot);
    NetworkJob("Saving the group...", [&](NetClient& client) {
        // The entry carries the group's name: a renamed group reaches the server with its members.
        if (store && group != 0) {
            client.WriteNetGroup(group);
            client.WriteNetSubscriber(slot);
        }
        return client.UnlockNetRecord(slot);
    });
}

void CMainDlg::DeleteEntry() {
    if (OnNetworkTab() && !NetworkEditAllowed(kDeleteLevel, kDeleteLevelText))
        return;
    std::vector<int> rows = SelectedRows();
    if (rows.size() > 1) {
        m_console.op->ShowError(kOneDeleteText);
        return;
    }
    if (m_list->count() == 0)
        return;
    if (!rows.empty()) {
        const int tab = m_console.currentTab;
        int slot;
        SubscriberRecord entry{};
        {
            std::lock_guard lock(m_console.databaseLock);
            slot = ResolveListItem(m_console, tab, rows.front());
            if (slot >= 0)
                entry = m_console.DirectoryForTab(tab).subscribers[slot];
        }
        const char* question =
            tab == kNetworkTab
                ? (entry.IsGroup() ? "Delete this network group?\n%1" : "Delete this network subscriber?\n%1")
                : (entry.IsGroup() ? "Delete this group?\n%1" : "Delete this subscriber?\n%1");
        if (slot >= 0 && m_console.op->AskYesNo(MessageIcon::Question, kAppCaption,
                                                ToLatin1(QString(question).arg(FieldText(entry.Name))))) {
            if (tab == kNetworkTab)
                DeleteNetworkEntry(slot);
            else
                DeleteLocalEntry(m_console, m_server.get(), slot);
        }
    }
    RefreshLists();
}

void CMainDlg::DeleteNetworkEntry(int slot) {
    {
        std::lock_guard lock(m_console.databaseLock);
        DeleteSubscriberEntry(*m_console.network, slot);
    }
    NetworkJob("Deleting the record...", [slot](NetClient& client) { return client.DeleteNetSubscriber(slot); });
}

void CMainDlg::RequestExit() {
    if (m_console.op->AskYesNo(MessageIcon::Question, kAppCaption, kExitQuestion))
        done(QDialog::Accepted);
}

void CMainDlg::reject() {
    RequestExit();
}

// The title-bar close ends the console at once, without the question.
void CMainDlg::closeEvent(QCloseEvent* event) {
    event->accept();
    done(QDialog::Accepted);
}

void CMainDlg::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && event->modifiers() == Qt::NoModifier) {
        event->accept(); // Enter outside the message does nothing
        return;
    }
    QDialog::keyPressEvent(event);
}

void CMainDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous())
        return; // a window restored by the desktop, not shown by the program
    m_console.trackingRefresh = 1;
    m_console.sending = 0;
    PlaySoundFile(m_console, kClickSound);
    RefreshLists();
}

bool CMainDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_list && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Insert) {
            AddEntry();
            return true;
        }
        if (key->key() == Qt::Key_Delete) {
            DeleteEntry();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void CMainDlg::BringToFront() {
    if (isMinimized())
        showNormal();
    raise();
    activateWindow();
}

} // namespace brimlow
