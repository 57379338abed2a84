#pragma once
// The console's main window: the page being composed, the directory tabs and their list with its editors, the
// counters, the Result list, and the single-shot timer that drives the queue scan. It watches the engine and
// calls its operations; whatever can wait on a socket runs off the user-interface thread behind RunModalJob.
#include "console/console.h"

#include <QDialog>
#include <QIcon>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class QCheckBox;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QTabBar;
class QToolButton;

namespace brimlow {

class NetClient;
class QtOperator;
class TrackingPanel;
namespace lan {
class NetServer;
}
class CNetworkMonitorDlg;

constexpr int kResultLineLimit = 1000;
constexpr int kLocalTabs = 3;

class CMainDlg : public QDialog {
    Q_OBJECT
public:
    // Runs the main window initialisation: worker threads, the server role, icons, timer, tabs, connect job.
    CMainDlg(Console& console, QtOperator& op, QWidget* parent = nullptr);
    ~CMainDlg() override;

    void Send();
    void QueuePages();
    void AddEntry();
    void EditEntry();
    void DeleteEntry();
    void ToggleSendMode();
    void EditSignature();
    void SelectTab(int tab);
    void RefreshLists();
    void AddResultLine(const QString& text);
    // Escape and the Exit command: asks "Do you wish to exit?"; Yes ends the window.
    void RequestExit();
    // Configure button: the settings dialogs, then RebuildTabs.
    void Configure();
    // After the Configure dialog: the tabs from the settings (the selected one kept), the Queue button and the
    // send-via settings as networking now says, then the lists.
    void RebuildTabs();
    // A second console asked this one to come to the front.
    void BringToFront();

    lan::NetServer* Server() const { return m_server.get(); }
    // Hands the LAN server over to outlive the window and the saves: ending it waits for its page jobs.
    std::unique_ptr<lan::NetServer> TakeServer();
    // The page as the controls hold it now.
    ComposedPage ComposedPageNow() const;

protected:
    void reject() override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The network requests of the Network tab's editors and the window's polls take turns; a poll that finds
    // an editor's request running is skipped. Shared with the workers, which may outlive the window.
    struct NetworkTurns {
        std::mutex turn;
        std::atomic<bool> polling{false};
    };

    void BuildControls();
    void InitialiseConsole();
    void InsertTabs();
    void StartNetworkClient();
    void StartPoll();
    void OnScanTimer();
    void UpdateLength();
    void ShowCounters(int sent, int rejected, int queued);
    void SetQueueButton();
    bool OnNetworkTab() const { return m_console.currentTab == kNetworkTab; }
    std::vector<int> SelectedRows() const;
    int FirstSelectedRow() const;
    // Runs one or more requests on the LAN client off the user-interface thread, in turn with the polls.
    int NetworkJob(const QString& step, const std::function<int(NetClient&)>& request);
    // The Network tab's refusals: busy while the connect job runs, and the operator's security level.
    bool NetworkEditAllowed(int level, const char* tooLowText);

    void AddLocalEntryFlow();
    void AddNetworkEntry();
    void EditLocalEntry(int row);
    void EditNetworkEntry(int slot);
    void DeleteNetworkEntry(int slot);

    Console& m_console;
    QtOperator& m_op;
    std::unique_ptr<lan::NetServer> m_server;
    std::unique_ptr<CNetworkMonitorDlg> m_monitor; // the server role's, shown from start-up to the exit
    std::shared_ptr<NetworkTurns> m_turns = std::make_shared<NetworkTurns>();
    QTimer m_scanTimer;
    QIcon m_subscriberIcon;
    QIcon m_groupIcon;

    QLineEdit* m_subject = nullptr;
    QPlainTextEdit* m_message = nullptr;
    QPushButton* m_send = nullptr;
    QPushButton* m_queue = nullptr;
    QPushButton* m_sendQueue = nullptr;
    QPushButton* m_purge = nullptr;
    QLineEdit* m_length = nullptr;
    QLineEdit* m_sent = nullptr;
    QLineEdit* m_rejected = nullptr;
    QLineEdit* m_queueCount = nullptr;
    QCheckBox* m_attachSignature = nullptr;
    QPushButton* m_sendMode = nullptr;
    QPushButton* m_clear = nullptr;
    QTabBar* m_tabs = nullptr;
    QListWidget* m_list = nullptr;
    QPushButton* m_add = nullptr;
    QPushButton* m_delete = nullptr;
    QPushButton* m_log = nullptr;
    QPushButton* m_configure = nullptr;
    QPushButton* m_help = nullptr;
    QToolButton* m_logo = nullptr;
    QPushButton* m_editSignature = nullptr;
    TrackingPanel* m_tracking = nullptr;
    QListWidget* m_result = nullptr;
};

} // namespace brimlow
