#pragma once
// The tracking list of the main window and its buttons: V views the selected tickets, C checks them with their
// servers, D shreds them, A acknowledges them. Double-click views, the Delete key deletes.
#include "console/console.h"

#include <QIcon>
#include <QWidget>
#include <array>
#include <string>
#include <vector>

class QListWidget;

namespace brimlow {

class TrackingPanel : public QWidget {
    Q_OBJECT
public:
    explicit TrackingPanel(Console& console, QWidget* parent = nullptr);

    // Rebuilds the list from the Tracking folder (shredding tickets past their two days), keeping the selection.
    void RefreshTracking();

private:
    std::vector<std::string> SelectedNames() const;
    void ViewTickets();
    void CheckSelectedTickets();
    void DeleteTickets();
    void AcknowledgeTickets();

    Console& m_console;
    QListWidget* m_list;
    // By TicketState. Shared by the rows, so each icon is rendered once rather than once per row.
    std::array<QIcon, 3> m_stateIcons;
};

} // namespace brimlow
