// amirun: a command-line IBIS-AMI host. Loads any model library, builds its parameter string
// from its .ami file, and runs AMI_Init on a channel, AMI_GetWave on a PRBS waveform, a sweep of
// one List parameter, or a whole link through both IBIS-AMI flows; and checks IBIS and AMI
// files. Each command lives in its own
// file; the numbers come from the core library beside them.
#include <CLI/CLI.hpp>
#include <iostream>
#include <new>
#include <vector>

#include "tools/amirun/cli/Commands.h"
#include "tools/amirun/cli/ExitStatus.h"
#include "tools/amirun/host/Session.h"
#include "tools/amirun/io/Output.h"
#include "tools/amirun/io/Text.h"

int main(int argc, char** argv) {
    using namespace amirun;
    CLI::App app{"amirun: run an IBIS-AMI model library without a channel simulator"};
    app.require_subcommand(1);
    app.footer(
        "Loading a model library runs its code inside amirun: load only libraries you trust.\n"
        "Every number option is checked: finite and within the range its help shows.\n"
        "Output files are written to a temporary file and renamed into place when complete;\n"
        "an output that is a link, a device or one of the run's inputs is refused.\n" +
        ExitStatusTable());
    const std::vector<Command> commands{
        AddInitCommand(app),  AddGetWaveCommand(app),  AddSweepCommand(app),
        AddLinkCommand(app),  AddOptimizeCommand(app), AddDatasheetCommand(app),
        AddCheckCommand(app), AddBatchCommand(app),    AddReportCommand(app)};
    app.set_version_flag("--version", std::string("amirun ") + kAmirunVersion);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        // --help and --version end parsing too, with status 0.
        return app.exit(error) == 0 ? kExitDone : kExitUsage;
    }
    InstallCleanup();
    try {
        for (const Command& command : commands)
            if (command.app->parsed()) return command.run();
        return kExitUsage;
    } catch (const StrictFailure& error) {
        std::cerr << "amirun: error: " << Printable(error.what()) << '\n';
        return kExitStrict;
    } catch (const std::bad_alloc&) {
        std::cerr << "amirun: error: out of memory\n";
        return kExitError;
    } catch (const std::exception& error) {
        std::cerr << "amirun: error: " << Printable(error.what()) << '\n';
        return kExitError;
    }
}
