#include "ui/network_monitor_dlg.h"

#include "network/server.h"
#include "queue/logs.h"
#include "ui/dialog_controls.h"
#include "ui/help.h"
#include "ui/icons.h"
#include "ui/text_fields.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QStyle>
#include <algorithm>

namespace brimlow {
namespace {

constexpr int kRefreshMs = 1000;
enum Column { User, Ip, Time, Sent, Received, kColumns };
constexpr int kSortRole = Qt::UserRole; // the number behind a column's text
constexpr int kTotalRole = Qt::UserRole + 1;

// Sorts numbers as numbers and keeps the Total row last, whichever way the list is sorted.
class SessionRow final : public QTreeWidgetItem {
public:
    bool operator<(const QTreeWidgetItem& other) const override {
        bool total = data(User, kTotalRole).toBool();
        bool otherTotal = other.data(User, kTotalRole).toBool();
        if (total != otherTotal) {
            bool ascending = treeWidget()->header()->sortIndicatorOrder() == Qt::AscendingOrder;
            return ascending ? otherTotal : total;
        }
        int column = treeWidget()->sortColumn();
        QVariant mine = data(column, kSortRole);
        if (mine.isValid())
            return mine.toULongLong() < other.data(column, kSortRole).toULongLong();
        return text(column).compare(other.text(column), Qt::CaseInsensitive) < 0;
    }
};

QString Elapsed(int64_t seconds) {
    seconds = std::max<int64_t>(seconds, 0);
    // Hours go on past 24: a session of 26 hours reads 26:00:00.
    return QString::asprintf("%02lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                             static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
}

void SetNumber(QTreeWidgetItem* row, int column, uint64_t value) {
    row->setText(column, QString::fromStdString(FormatGrouped(value)));
    row->setData(column, kSortRole, QVariant::fromValue<qulonglong>(value));
    row->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
}

QLineEdit* ReadOnlyField(const QString& name) {
    auto* field = new QLineEdit;
    field->setReadOnly(true);
    field->setAccessibleName(name);
    return field;
}

} // namespace

CNetworkMonitorDlg::CNetworkMonitorDlg(Console& console, lan::NetServer& server)
    : QDialog(nullptr), m_console(console), m_server(server), m_sessions(new QTreeWidget),
      m_command(ReadOnlyField("Command")) {
    setWindowTitle("Network Monitor");
    setWindowIcon(Icon(AppIcon::Product));
    m_timer.setSingleShot(true); // started again after each refresh, so refreshes never queue up
    m_timer.setInterval(kRefreshMs);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        Refresh();
        m_timer.start();
    });

    m_sessions->setHeaderLabels({"User", "IP", "Time", "Sent", "Received"});
    m_sessions->setAccessibleName("Connected clients");
    m_sessions->setRootIsDecorated(false);
    m_sessions->setSortingEnabled(true);
    m_sessions->sortByColumn(-1, Qt::AscendingOrder); // slot order until the operator picks a column
    const int widths[kColumns] = {71, 140, 71, 71, 71};
    int listWidth = 0;
    for (int column = 0; column < kColumns; ++column) {
        m_sessions->setColumnWidth(column, widths[column]);
        listWidth += widths[column];
    }
    m_sessions->setMinimumWidth(listWidth + style()->pixelMetric(QStyle::PM_ScrollBarExtent) +
                                2 * m_sessions->frameWidth() + 4);

    auto* command = new QHBoxLayout;
    auto* commandLabel = new QLabel("Comma&nd");
    commandLabel->setBuddy(m_command);
    command->addWidget(commandLabel);
    command->addWidget(m_command, 1);

    auto* counts = new QGridLayout;
    counts->addWidget(new QLabel("Subscriber"), 0, 1);
    counts->addWidget(new QLabel("Group"), 0, 2);
    const QString rows[] = {"Reads", "Writes", "Adds", "Checks"};
    for (int r = 0; r < 4; ++r) {
        counts->addWidget(new QLabel(rows[r] + ":"), r + 1, 0);
        m_counters[r] = ReadOnlyField("Subscriber " + rows[r].toLower());
        m_counters[4 + r] = ReadOnlyField("Group " + rows[r].toLower());
        counts->addWidget(m_counters[r], r + 1, 1);
        counts->addWidget(m_counters[4 + r], r + 1, 2);
    }
    counts->addWidget(new QLabel("Locks:"), 5, 0);
    m_counters[8] = ReadOnlyField("Locks");
    counts->addWidget(m_counters[8], 5, 1);
    counts->addWidget(new QLabel("Deletes:"), 6, 0);
    m_counters[9] = ReadOnlyField("Deletes");
    counts->addWidget(m_counters[9], 6, 1);
    for (QLineEdit* counter : m_counters)
        counter->setAlignment(Qt::AlignRight);
    auto* countsBox = new QGroupBox("Requests");
    countsBox->setLayout(counts);

    auto* buttons = new QDialogButtonBox;
    buttons->addButton(MakeButton("Close"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::hide);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_sessions, 1);
    layout->addLayout(command);
    layout->addWidget(countsBox);
    layout->addWidget(buttons);
    AddHelpKey(this, console);
}

void CNetworkMonitorDlg::ShowAndRefresh() {
    show();
    raise();
    activateWindow();
}

void CNetworkMonitorDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    Refresh();
    m_timer.start();
}

void CNetworkMonitorDlg::hideEvent(QHideEvent* event) {
    m_timer.stop();
    QDialog::hideEvent(event);
}

void CNetworkMonitorDlg::Refresh() {
    const std::vector<lan::SessionView> sessions = m_server.Sessions();
    const time_t now = m_console.clock->Now();

    // Rows are updated in place, so the row a screen reader or the keyboard is on stays where it is.
    m_sessions->setSortingEnabled(false);
    const int rows = static_cast<int>(sessions.size()) + 1;
    while (m_sessions->topLevelItemCount() > rows)
        delete m_sessions->takeTopLevelItem(m_sessions->topLevelItemCount() - 1);
    while (m_sessions->topLevelItemCount() < rows)
        m_sessions->addTopLevelItem(new SessionRow);

    uint64_t sent = 0;
    uint64_t received = 0;
    for (size_t k = 0; k < sessions.size(); ++k) {
        const lan::SessionView& session = sessions[k];
        QTreeWidgetItem* row = m_sessions->topLevelItem(static_cast<int>(k));
        row->setIcon(User, Icon(AppIcon::Subscriber));
        row->setText(User, FromLatin1(session.userName));
        row->setData(User, kTotalRole, false);
        row->setText(Ip, FromLatin1(session.host));
        int64_t elapsed = static_cast<int64_t>(now - session.connectTime);
        row->setText(Time, Elapsed(elapsed));
        row->setData(Time, kSortRole, QVariant::fromValue<qulonglong>(std::max<int64_t>(elapsed, 0)));
        SetNumber(row, Sent, session.bytesSent);
        SetNumber(row, Received, session.bytesReceived);
        sent += session.bytesSent;
        received += session.bytesReceived;
    }
    QTreeWidgetItem* total = m_sessions->topLevelItem(rows - 1);
    total->setIcon(User, QIcon());
    total->setText(User, "Total");
    total->setData(User, kTotalRole, true);
    total->setText(Ip, {});
    total->setText(Time, {});
    total->setData(Time, kSortRole, {});
    SetNumber(total, Sent, sent);
    SetNumber(total, Received, received);
    m_sessions->setSortingEnabled(true);

    m_command->setText(FromLatin1(m_server.MonitorCommand()));
    const lan::ServerCounters& c = m_server.Counters();
    const std::atomic<int64_t>* values[] = {
        &c.subscriberReads, &c.subscriberWrites, &c.subscriberAdds, &c.subscriberChecks, &c.groupReads,
        &c.groupWrites,     &c.groupAdds,        &c.groupChecks,    &c.locksHeld,        &c.deletes};
    for (size_t k = 0; k < m_counters.size(); ++k)
        m_counters[k]->setText(QString::fromStdString(FormatGrouped(std::max<int64_t>(values[k]->load(), 0))));
}

} // namespace brimlow
