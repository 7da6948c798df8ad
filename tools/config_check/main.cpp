// quillmoor-config: checks a PluginConfig.json before the server restarts,
// by the plugin's own reading rules; writes the defaults; explains settings.
#include <csignal>
#include <cstring>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "config_check/commands.h"

int main(int argc, char** argv) {
#if defined(SIGXFSZ)
  // Past a file-size limit a write then fails with an error that init
  // reports, instead of the signal ending the program half-way.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  bool as_json = false;
  for (int i = 1; i < argc; ++i) {
    as_json = as_json || std::strcmp(argv[i], "--json") == 0;
  }
  try {
    CLI::App app{
        "quillmoor-config: checks a Quillmoor PluginConfig.json as the plugin will read it.\n"
        "Exit codes of check: 0 the plugin runs the file as written; 1 warnings (values it "
        "corrects or ignores); 2 errors (settings lost, the file replaced, a command that cannot "
        "work). 3 for any command: bad command line, unreadable input, refused write."};
    app.set_version_flag("--version", std::string("quillmoor-config ") + QUILLMOOR_VERSION);
    app.require_subcommand(1);
    std::vector<std::string> check_paths;
    std::string init_dir, key;
    config_tool::CheckOptions options;
    bool force = false;
    auto* check = app.add_subcommand(
        "check",
        "Check a PluginConfig.json, a plugin folder or a server directory; with several, "
        "one line each (a fleet) and the highest exit code");
    check->add_option("paths", check_paths, "Files or folders (default: the current folder)");
    check->add_flag("--json", options.as_json, "Print the report as one JSON document");
    check->add_flag("--effective", options.effective,
                    "List every setting the plugin will run, not only where it differs from "
                    "the file");
    auto* init =
        app.add_subcommand("init", "Write the defaults and the guide into a plugin folder");
    init->add_option("dir", init_dir,
                     "A server directory (the file goes into its plugin folder) or the plugin "
                     "folder")
        ->required();
    init->add_flag("--force", force, "Replace an existing PluginConfig.json");
    std::string migrate_path;
    bool dry_run = false, migrate_force = false;
    auto* migrate = app.add_subcommand(
        "migrate",
        "Carry the values of an outdated PluginConfig.json (or of its newest outdated .bak) into "
        "a current one; keeps a copy of what it replaces");
    migrate->add_option("path", migrate_path, "File or folder, as for check")->required();
    migrate->add_flag("--dry-run", dry_run, "Print what would be carried and the new document");
    migrate->add_flag("--force", migrate_force,
                      "Replace a current file holding settings of its own with the backup's");
    auto* explain = app.add_subcommand("explain", "Show a setting's guide text, range and default");
    explain->add_option("key", key, "Section.Key or Key (default: every setting)");
    try {
      app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
      if (as_json && e.get_exit_code() != 0) {
        return config_tool::ReportTrouble(e.what(), true, std::cout, std::cerr);
      }
      return app.exit(e) == 0 ? config_tool::kExitClean : config_tool::kExitTrouble;
    }
    if (check->parsed()) {
      if (check_paths.size() > 1) {
        return config_tool::RunFleetCheck({check_paths.begin(), check_paths.end()}, options,
                                          std::cout);
      }
      return config_tool::RunCheck(check_paths.empty() ? "." : check_paths.front(), options,
                                   std::cout, std::cerr);
    }
    if (init->parsed()) {
      return config_tool::RunInit(init_dir, force, std::cout, std::cerr);
    }
    if (migrate->parsed()) {
      return config_tool::RunMigrate(migrate_path, dry_run, migrate_force, std::cout, std::cerr);
    }
    return config_tool::RunExplain(key, std::cout, std::cerr);
  } catch (const std::exception& e) {
    return config_tool::ReportTrouble(e.what(), as_json, std::cout, std::cerr);
  } catch (...) {
    return config_tool::ReportTrouble("unknown error", as_json, std::cout, std::cerr);
  }
}
