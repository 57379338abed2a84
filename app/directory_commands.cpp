#include "app/commands.h"
#include "app/startup.h"
#include "directory/csv.h"
#include "directory/data_files.h"
#include "network/net_client_scan.h"
#include "queue/purge.h"
#include "queue/queue_count.h"

#include <cstdio>

namespace brimlow {
namespace {

CsvPaths PathsFrom(const CommandContext& context) {
    return CsvPaths{context.FileArgument("--companies", kDefaultCompanyCsv),
                    context.FileArgument("--subscribers", kDefaultSubscriberCsv),
                    context.FileArgument("--groups", kDefaultGroupCsv)};
}

} // namespace

int CommandQueue(CommandContext& context) {
    QueueCounts counts = CountQueue(context.console.dataDir);
    printf("Queue: %d\nPending modem: %d\n", counts.queueCount, counts.pendingModem);
    return 0;
}

int CommandPurge(CommandContext& context) {
    int failed = 0;
    printf("Deleted: %d\n", PurgeAll(context.console, &failed));
    int status = CommandQueue(context);
    if (failed > 0)
        return context.Fail(std::to_string(failed) + " queued pages could not be deleted from " + context.console.dataDir);
    return status;
}

int CommandExport(CommandContext& context) {
    CsvPaths paths = PathsFrom(context);
    if (ExportTargetsExist(paths) &&
        !context.op.AskYesNo(MessageIcon::Warning, kDatabaseExportCaption, kExportOverwriteQuestion))
        return 1;
    // --network: the server's directory, as this console's client downloads it.
    bool network = context.Flag("--network");
    if (network && ConnectNetworkClientNow(context.console) != 1)
        return context.Fail("cannot download the directory of the server \"" + context.console.settings.Get().Server +
                    "\" (is networking enabled, and are the user name and password right?)");
    CsvResult result = ExportDirectory(network ? *context.console.network : *context.console.local, paths);
    printf("Exported companies: %d\nExported subscribers: %d\nExported groups: %d\n", result.counts.companies,
           result.counts.subscribers, result.counts.groups);
    if (!result.error.empty())
        return context.Fail(result.error);
    return 0;
}

int CommandImport(CommandContext& context) {
    Console& console = context.console;
    DataDirectoryLock lock;
    if (!lock.Acquire(console.dataDir))
        return context.Fail("A console is using the data directory " + console.dataDir + "; close it before importing.");
    CsvResult result = ImportDirectory(*console.local, PathsFrom(context));
    printf("Imported companies: %d\nImported subscribers: %d\nImported groups: %d\n", result.counts.companies,
           result.counts.subscribers, result.counts.groups);
    // What was imported before a failing file is kept, as the console keeps it until its exit.
    std::vector<std::string> unsaved = SaveConsoleFiles(console);
    if (!result.error.empty())
        return context.Fail(result.error);
    if (!unsaved.empty())
        return context.Fail(UnsavedFilesText(console, unsaved));
    return 0;
}

} // namespace brimlow
