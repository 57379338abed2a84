#include "ui/database_dlg.h"

#include "directory/csv.h"
#include "network/server.h"
#include "ui/dialog_controls.h"
#include "ui/help.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QVBoxLayout>
#include <memory>

namespace brimlow {
namespace {

QLineEdit* Counter(const QString& name) {
    auto* field = new QLineEdit("0");
    field->setReadOnly(true);
    field->setAccessibleName(name);
    field->setAlignment(Qt::AlignRight);
    field->setMaximumWidth(field->fontMetrics().averageCharWidth() * 10);
    return field;
}

} // namespace

CDatabaseDlg::CDatabaseDlg(Console& console, lan::NetServer* server, QWidget* parent)
    : QDialog(parent), m_console(console), m_server(server) {
    setWindowTitle("Database Utilities");
    const std::array<QString, 3> captions{"&Company", "&Subscriber", "&Group"};
    const std::array<const char*, 3> defaults{kDefaultCompanyCsv, kDefaultSubscriberCsv, kDefaultGroupCsv};
    const std::array<QString, 3> counted{"companies", "subscribers", "groups"};

    auto* files = new QGridLayout;
    auto* counters = new QGridLayout;
    counters->addWidget(new QLabel("Exported"), 0, 1);
    counters->addWidget(new QLabel("Imported"), 0, 2);
    for (int f = Company; f <= Group; ++f) {
        m_paths[f] = new QLineEdit(QDir(QDir::homePath()).filePath(defaults[f]));
        auto* label = new QLabel(captions[f]);
        label->setBuddy(m_paths[f]);
        m_paths[f]->setAccessibleName(PlainCaption(captions[f]) + " file");
        QPushButton* browse = MakeButton("Browse...");
        browse->setAccessibleName("Browse for the " + PlainCaption(captions[f]).toLower() + " file");
        connect(browse, &QPushButton::clicked, this, [this, f] { Browse(static_cast<File>(f)); });
        files->addWidget(label, f, 0);
        files->addWidget(m_paths[f], f, 1);
        files->addWidget(browse, f, 2);

        QString plural = counted[f];
        plural[0] = plural[0].toUpper();
        m_exported[f] = Counter("Exported " + counted[f]);
        m_imported[f] = Counter("Imported " + counted[f]);
        counters->addWidget(new QLabel(plural), f + 1, 0);
        counters->addWidget(m_exported[f], f + 1, 1);
        counters->addWidget(m_imported[f], f + 1, 2);
    }
    files->setColumnStretch(1, 1);
    m_paths[Company]->setMinimumWidth(fontMetrics().averageCharWidth() * 45);
    auto* filesBox = new QGroupBox("Files");
    filesBox->setLayout(files);
    auto* countersBox = new QGroupBox("Records");
    countersBox->setLayout(counters);

    auto* buttons = new QDialogButtonBox;
    QPushButton* exportButton = MakeButton("&Export");
    QPushButton* importButton = MakeButton("&Import");
    QPushButton* close = MakeButton("Close");
    buttons->addButton(exportButton, QDialogButtonBox::ActionRole);
    buttons->addButton(importButton, QDialogButtonBox::ActionRole);
    buttons->addButton(close, QDialogButtonBox::RejectRole);
    connect(exportButton, &QPushButton::clicked, this, &CDatabaseDlg::ExportDirectory);
    connect(importButton, &QPushButton::clicked, this, &CDatabaseDlg::ImportDirectory);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(filesBox);
    layout->addWidget(countersBox);
    layout->addWidget(buttons);
    AddHelpKey(this, console);
}

void CDatabaseDlg::Browse(File file) {
    QFileDialog chooser(this, "Browse", QFileInfo(m_paths[file]->text()).path());
    chooser.setFileMode(QFileDialog::AnyFile); // an export may name a file that does not exist yet
    chooser.setDefaultSuffix("brw");
    chooser.setNameFilters({"Brimlow Files (*.brw *.BRW)", "Text Files (*.txt *.TXT)", "All Files (*)"});
    chooser.selectFile(QFileInfo(m_paths[file]->text()).fileName());
    if (chooser.exec() == QDialog::Accepted && !chooser.selectedFiles().isEmpty())
        m_paths[file]->setText(chooser.selectedFiles().first());
}

CsvPaths CDatabaseDlg::Paths() const {
    auto path = [this](File f) { return QFile::encodeName(m_paths[f]->text()).toStdString(); };
    return CsvPaths{path(Company), path(Subscriber), path(Group)};
}

void CDatabaseDlg::ShowCounts(const std::array<QLineEdit*, 3>& fields, const CsvCounts& counts) {
    fields[Company]->setText(QString::number(counts.companies));
    fields[Subscriber]->setText(QString::number(counts.subscribers));
    fields[Group]->setText(QString::number(counts.groups));
}

void CDatabaseDlg::ExportDirectory() {
    CsvPaths paths = Paths();
    if (ExportTargetsExist(paths) &&
        !m_console.op->AskYesNo(MessageIcon::Warning, kDatabaseExportCaption, kExportOverwriteQuestion))
        return;
    // The files are written from a copy, so the LAN's sessions never wait for the disk.
    auto copy = std::make_unique<Directory>();
    {
        std::lock_guard lock(m_console.databaseLock);
        *copy = *m_console.local;
    }
    CsvResult result = brimlow::ExportDirectory(*copy, paths);
    ShowCounts(m_exported, result.counts);
    if (!result.error.empty())
        m_console.op->ShowMessage(MessageIcon::Error, kDatabaseExportCaption, result.error);
}

void CDatabaseDlg::ImportDirectory() {
    CsvPaths paths = Paths();
    CsvResult result;
    {
        std::lock_guard lock(m_console.databaseLock);
        result = brimlow::ImportDirectory(*m_console.local, paths);
    }
    ShowCounts(m_imported, result.counts);
    if (m_server) {
        m_server->MarkAllGroupsChanged();
        m_server->MarkAllSubscribersChanged(kSubscriberSlots);
    }
    if (!result.error.empty())
        m_console.op->ShowMessage(MessageIcon::Error, kDatabaseExportCaption, result.error);
}

} // namespace brimlow
