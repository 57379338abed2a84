#include "ui/tracking_panel.h"

#include "tracking/ticket.h"
#include "tracking/ticket_view.h"
#include "tracking/tracking_list.h"
#include "ui/icons.h"
#include "ui/text_fields.h"
#include "ui/tracking_dlg.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QSet>
#include <QShortcut>
#include <QVBoxLayout>

namespace brimlow {
namespace {

// The icon shows the state; the description says it to a screen reader.
QString StateText(TicketState state) {
    switch (state) {
    case TicketState::NewReplies:
        return "New replies";
    case TicketState::Recent:
        return "Recent";
    case TicketState::Older:
        return "Older";
    }
    return {};
}

} // namespace

TrackingPanel::TrackingPanel(Console& console, QWidget* parent)
    : QWidget(parent), m_console(console), m_list(new QListWidget),
      m_stateIcons{Icon(AppIcon::TrackingNew), Icon(AppIcon::TrackingRecent), Icon(AppIcon::TrackingOld)} {
    m_list->setObjectName("trackingList");
    m_list->setAccessibleName("Tracking");
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setIconSize(QSize(16, 16));
    m_list->setUniformItemSizes(true);
    connect(m_list, &QListWidget::itemDoubleClicked, this, &TrackingPanel::ViewTickets);
    auto* deleteKey = new QShortcut(QKeySequence::Delete, m_list);
    deleteKey->setContext(Qt::WidgetShortcut);
    connect(deleteKey, &QShortcut::activated, this, &TrackingPanel::DeleteTickets);

    auto* buttons = new QHBoxLayout;
    auto addButton = [&](const QString& caption, const QString& action, void (TrackingPanel::*slot)()) {
        auto* button = new QPushButton(caption);
        button->setObjectName(action.toLower() + "Button");
        button->setAccessibleName(action);
        button->setToolTip(action);
        button->setAutoDefault(false);
        connect(button, &QPushButton::clicked, this, slot);
        buttons->addWidget(button);
    };
    addButton("V", "View", &TrackingPanel::ViewTickets);
    addButton("C", "Check", &TrackingPanel::CheckSelectedTickets);
    addButton("D", "Delete", &TrackingPanel::DeleteTickets);
    addButton("A", "Acknowledge", &TrackingPanel::AcknowledgeTickets);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_list, 1);
    layout->addLayout(buttons);
}

void TrackingPanel::RefreshTracking() {
    QSet<QString> selected;
    for (const QListWidgetItem* item : m_list->selectedItems())
        selected.insert(item->text());
    QString current = m_list->currentItem() ? m_list->currentItem()->text() : QString();

    std::vector<TrackingEntry> entries = RebuildTrackingList(m_console);
    m_list->setUpdatesEnabled(false);
    m_list->clear();
    for (const TrackingEntry& entry : entries) {
        auto* item =
            new QListWidgetItem(m_stateIcons[static_cast<size_t>(entry.state)], FromLatin1(entry.name), m_list);
        item->setData(Qt::AccessibleDescriptionRole, StateText(entry.state));
        if (item->text() == current)
            m_list->setCurrentItem(item, QItemSelectionModel::NoUpdate);
        item->setSelected(selected.contains(item->text()));
    }
    m_list->setUpdatesEnabled(true);
}

std::vector<std::string> TrackingPanel::SelectedNames() const {
    std::vector<std::string> names;
    for (int row = 0; row < m_list->count(); ++row)
        if (m_list->item(row)->isSelected())
            names.push_back(ToLatin1(m_list->item(row)->text()));
    return names;
}

void TrackingPanel::ViewTickets() {
    for (const std::string& name : SelectedNames()) {
        // A ticket shredded since the list was built has nothing to show; the rebuild below drops it.
        std::optional<TicketView> ticket = ReadTicketView(TicketPath(m_console, name));
        if (!ticket)
            continue;
        CTrackingDlg dialog(*ticket, m_console, window());
        dialog.exec();
        MarkTicketRead(m_console, name);
    }
    RefreshTracking();
}

void TrackingPanel::CheckSelectedTickets() { CheckTickets(m_console, SelectedNames()); }

void TrackingPanel::DeleteTickets() {
    for (const std::string& name : SelectedNames())
        DeleteTicket(m_console, name);
    RefreshTracking();
}

void TrackingPanel::AcknowledgeTickets() {
    for (const std::string& name : SelectedNames())
        AcknowledgeTicket(m_console, name);
    RefreshTracking();
}

} // namespace brimlow
