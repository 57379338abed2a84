#pragma once
// "Database Utilities": export of the local directory to three comma-separated files, and import from them.
#include "console/console.h"
#include "ui/server_admin.h"

#include <QDialog>
#include <QLineEdit>
#include <array>

namespace brimlow {

struct CsvCounts;
struct CsvPaths;

class CDatabaseDlg final : public QDialog {
    Q_OBJECT
public:
    // With a server, an import tells the connected clients to read the directory again.
    CDatabaseDlg(Console& console, lan::NetServer* server, QWidget* parent = nullptr);

private:
    void ExportDirectory();
    void ImportDirectory();
    enum File { Company, Subscriber, Group };
    void Browse(File file);
    CsvPaths Paths() const;
    static void ShowCounts(const std::array<QLineEdit*, 3>& fields, const CsvCounts& counts);

    Console& m_console;
    lan::NetServer* m_server;
    std::array<QLineEdit*, 3> m_paths;
    std::array<QLineEdit*, 3> m_exported;
    std::array<QLineEdit*, 3> m_imported;
};

} // namespace brimlow
