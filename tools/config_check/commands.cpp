#include "config_check/commands.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <type_traits>
#include <vector>

#include <fmt/format.h>
#include <fmt/ostream.h>
#include <nlohmann/json.hpp>

#include "config/backup_name.h"
#include "config/config.h"
#include "config/config_file.h"
#include "config/default_document.h"
#include "config/guide.h"
#include "config/reading.h"
#include "config/settings.h"
#include "config/whole_file.h"
#include "config_check/check.h"
#include "config_check/closest_name.h"
#include "config_check/migrate.h"
#include "formats/log_text.h"
#include "formats/plugin_files.h"
#include "formats/replies.h"

namespace config_tool {

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using State = Quillmoor::ConfigFileText::State;

struct Located {
  fs::path file;
  bool in_folder = false;  // the operator named a folder, not the file
};

// The plugin folder of a server directory, with the system's separators, as
// the path was always shown.
fs::path PluginFolderOf(const fs::path& server) {
  return server / fs::path(formats::kPluginFolder).relative_path().make_preferred();
}

// A folder is a server directory when it holds the plugin folder, or the
// framework's folder (the first part of kPluginFolder) that the plugin
// folder goes into; otherwise it is taken as the plugin folder itself.
bool IsServerDirectory(const fs::path& dir) {
  std::error_code ec;
  const fs::path framework = dir / *fs::path(formats::kPluginFolder).relative_path().begin();
  return fs::is_directory(PluginFolderOf(dir), ec) || fs::is_directory(framework, ec);
}

Located Locate(const fs::path& path) {
  std::error_code ec;
  if (!fs::is_directory(path, ec)) {
    return {path, false};
  }
  if (IsServerDirectory(path)) {
    return {PluginFolderOf(path) / formats::kConfigFile, true};
  }
  return {path / formats::kConfigFile, true};
}

// A path as UTF-8 bytes for a JSON document; on POSIX the name's own bytes,
// which the document's writer replaces where they are not UTF-8.
std::string Utf8Name(const fs::path& path) {
  try {
    const std::u8string name = path.u8string();
    return std::string(name.begin(), name.end());
  } catch (const std::exception&) {
    return "(a name that cannot be shown)";
  }
}

// A path as the terminal shows it: the console's code page on Windows, as the
// operator typed it.
std::string ShownName(const fs::path& path) {
#if defined(_WIN32)
  try {
    return formats::TerminalSafe(path.string());
  } catch (const std::exception&) {
  }
#endif
  return formats::TerminalSafe(Utf8Name(path));
}

// A key of the file for a terminal: every setting's name is ASCII, so any
// other letter in a key (a Cyrillic "а" in "IntervаlMinutes") is the mistake
// and is shown as \u0430, beside the invisible ones TerminalSafe escapes.
std::string KeyShown(std::string_view key) {
  const std::string safe = formats::TerminalSafe(key);
  std::string out;
  for (std::size_t i = 0; i < safe.size();) {
    const auto lead = static_cast<unsigned char>(safe[i]);
    if (lead < 0x80) {
      out += safe[i++];
      continue;
    }
    // Well-formed after TerminalSafe: a lead byte and its continuations.
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    char32_t code = lead & (length == 4 ? 0x07u : length == 3 ? 0x0Fu : 0x1Fu);
    for (std::size_t k = 1; k < length && i + k < safe.size(); ++k) {
      code = (code << 6) | (static_cast<unsigned char>(safe[i + k]) & 0x3Fu);
    }
    out += code > 0xFFFF ? fmt::format("\\U{:08x}", static_cast<std::uint32_t>(code))
                         : fmt::format("\\u{:04x}", static_cast<std::uint32_t>(code));
    i += length;
  }
  return out;
}

std::string Dump(const json& doc) {
  return doc.dump(2, ' ', false, json::error_handler_t::replace);
}

json Report(const CheckResult& r, const std::string& file) {
  json findings = json::array();
  for (const auto& f : r.findings) {
    findings.push_back({{"severity", SeverityName(f.severity)},
                        {"key", f.key_path},
                        {"line", f.line ? json(*f.line) : json(nullptr)},
                        {"column", f.column ? json(*f.column) : json(nullptr)},
                        {"message", formats::TerminalSafe(f.message)},
                        {"fix", formats::TerminalSafe(f.fix)},
                        {"value", f.value},
                        {"detail", f.detail}});
  }
  json differences = json::array();
  for (const auto& o : r.settings) {
    if (!o.as_written) {
      differences.push_back({{"key", o.key_path},
                             {"runs", json::parse(o.runs, nullptr, false)},
                             {"file", o.written ? json(*o.written) : json(nullptr)}});
    }
  }
  return {{"file", file},
          {"exit_code", r.ExitCode()},
          {"defaults_document", r.defaults_document},
          {"values_read", r.values_read},
          {"findings", findings},
          {"effective", Quillmoor::BuildDefaultDocument(r.effective)},
          {"differences", r.values_read ? differences : json::array()}};
}

// One "  Key.Path: value" line per setting the plugin runs otherwise than the
// file writes it (every setting with `all`), with what the file writes.
std::string SettingsText(const CheckResult& r, bool all) {
  std::string text;
  for (const auto& o : r.settings) {
    const bool differs = r.values_read && !o.as_written;
    if (!all && !differs) {
      continue;
    }
    std::string line = fmt::format("  {}: {}", o.key_path, o.runs);
    if (differs) {
      line += o.written ? fmt::format("    (the file: {})", *o.written) : "    (not in the file)";
    }
    text += formats::TerminalSafe(line) + '\n';
  }
  return text;
}

void PrintText(const CheckResult& r, const std::string& file, bool all, std::ostream& out) {
  if (r.defaults_document && !all) {
    fmt::print(out, "{}: the defaults document; the plugin runs it as written.\n", file);
    return;
  }
  for (const auto& f : r.findings) {
    const std::string place =
        f.line ? fmt::format(":{}:{}", *f.line, f.column.value_or(1)) : std::string();
    fmt::print(
        out, "{}{}: {}: {}\n", file, place, SeverityName(f.severity),
        (f.key_path.empty() ? "" : KeyShown(f.key_path) + ": ") + formats::TerminalSafe(f.message));
    if (!f.fix.empty()) {
      fmt::print(out, "    fix: {}\n", formats::TerminalSafe(f.fix));
    }
  }
  if (r.findings.empty()) {
    fmt::print(out, "{}: no problems; the plugin runs it as written.\n", file);
  }
  if (all) {
    fmt::print(out, "\nThe configuration the plugin will run:\n{}", SettingsText(r, true));
  } else if (!r.values_read) {
    fmt::print(out, "\nThe plugin runs on the defaults (--effective lists them).\n");
  } else if (const std::string differences = SettingsText(r, false); !differences.empty()) {
    fmt::print(out,
               "\nWhere the plugin runs something else than the file writes (all of it: "
               "--effective):\n{}",
               differences);
  } else if (!r.findings.empty()) {
    fmt::print(out, "\nThe plugin runs every setting as the file writes it.\n");
  }
}

// What the plugin accepts for `s`, by its row and its field's type.
template <typename S>
std::string RangeText(const S& s) {
  using T = typename S::Value;
  if constexpr (S::kHasRange) {
    return fmt::format("{} to {}", s.range.low, s.range.high);
  } else if constexpr (std::is_same_v<T, bool>) {
    return "true or false";
  } else if constexpr (std::is_same_v<T, std::string>) {
    return fmt::format(
        "any text; advice: one word of letters, digits, '.' or '_', other than {} and the "
        "framework's own commands",
        formats::kStatsCommand);
  } else if constexpr (std::is_integral_v<T>) {
    return fmt::format("any whole number from {} to {}", std::numeric_limits<T>::min(),
                       std::numeric_limits<T>::max());
  } else {
    return "any number";
  }
}

}  // namespace

int RunCheck(const fs::path& path, const CheckOptions& options, std::ostream& out,
             std::ostream& err) {
  const Located where = Locate(path);
  const Quillmoor::ConfigFileText file = Quillmoor::ReadConfigFile(where.file.string());
  const CheckResult r = file.state == State::kRead ? CheckConfigText(file.text)
                                                   : CheckUnreadFile(file, where.in_folder);
  if (options.as_json) {
    out << Dump(Report(r, Utf8Name(where.file))) << '\n';
  }
  if (r.unreadable) {
    const Finding& f = r.findings.front();
    fmt::print(err, "quillmoor-config: {}: {}\n", ShownName(where.file),
               formats::TerminalSafe(f.message));
    fmt::print(err, "    fix: {}\n", formats::TerminalSafe(f.fix));
  } else if (!options.as_json) {
    PrintText(r, ShownName(where.file), options.effective, out);
  }
  return r.ExitCode();
}

int RunFleetCheck(const std::vector<fs::path>& paths, const CheckOptions& options,
                  std::ostream& out) {
  int worst = kExitClean;
  json servers = json::array();
  std::vector<int> counts(4, 0);
  for (const fs::path& path : paths) {
    const Located where = Locate(path);
    const Quillmoor::ConfigFileText file = Quillmoor::ReadConfigFile(where.file.string());
    const CheckResult r = file.state == State::kRead ? CheckConfigText(file.text)
                                                     : CheckUnreadFile(file, where.in_folder);
    const int code = r.ExitCode();
    worst = std::max(worst, code);
    ++counts[static_cast<std::size_t>(code)];
    if (options.as_json) {
      servers.push_back(Report(r, Utf8Name(where.file)));
      continue;
    }
    std::size_t errors = 0, warnings = 0;
    const Finding* first = nullptr;
    for (const Finding& f : r.findings) {
      errors += f.severity == Severity::kError ? 1 : 0;
      warnings += f.severity == Severity::kWarning ? 1 : 0;
      if (f.severity != Severity::kNote && (first == nullptr || f.severity > first->severity)) {
        first = &f;  // the first of the worst
      }
    }
    const std::string verdict =
        code == kExitClean ? "ok, the plugin runs it as written"
        : r.unreadable     ? "cannot be read"
                           : fmt::format("{} error{}, {} warning{}", errors, errors == 1 ? "" : "s",
                                         warnings, warnings == 1 ? "" : "s");
    std::string line = fmt::format("{}: exit {}: {}", ShownName(path), code, verdict);
    if (first != nullptr) {
      line += ": " + (first->key_path.empty() ? std::string() : KeyShown(first->key_path) + ": ") +
              formats::TerminalSafe(first->message);
    }
    fmt::print(out, "{}\n", line);
  }
  if (options.as_json) {
    out << Dump({{"exit_code", worst}, {"servers", servers}}) << '\n';
  } else {
    fmt::print(out,
               "{} servers: {} clean, {} with warnings, {} with errors, {} unreadable "
               "(quillmoor-config check PATH for the details)\n",
               paths.size(), counts[kExitClean], counts[kExitWarnings], counts[kExitErrors],
               counts[kExitTrouble]);
  }
  return worst;
}

int ReportTrouble(std::string_view message, bool as_json, std::ostream& out, std::ostream& err) {
  fmt::print(err, "quillmoor-config: {}\n", formats::TerminalSafe(message));
  if (as_json) {
    CheckResult r;
    r.unreadable = true;
    r.findings.push_back(
        {Severity::kError, "", std::nullopt, std::nullopt, std::string(message), {}, {}, {}});
    json report = Report(r, "");
    report["file"] = nullptr;
    out << Dump(report) << '\n';
  }
  return kExitTrouble;
}

int RunInit(const fs::path& named, bool force, std::ostream& out, std::ostream& err) {
  std::error_code ec;
  const fs::file_status status = fs::status(named, ec);
  if (!fs::exists(status)) {
    fmt::print(err,
               "quillmoor-config: {} does not exist{}; name a server directory or its plugin "
               "folder\n",
               ShownName(named),
               ec && ec != std::errc::no_such_file_or_directory
                   ? fmt::format(" or cannot be reached ({})", formats::TerminalSafe(ec.message()))
                   : "");
    return kExitTrouble;
  }
  if (!fs::is_directory(status)) {
    fmt::print(err,
               "quillmoor-config: {} is not a folder; name a server directory or its plugin "
               "folder\n",
               ShownName(named));
    return kExitTrouble;
  }
  // A server directory gets the file where the plugin reads it. Its plugin
  // folder is created when the framework's folder is there but not yet
  // the plugin's: the operator named this server.
  const fs::path dir = IsServerDirectory(named) ? PluginFolderOf(named) : named;
  if (dir != named && !fs::is_directory(dir, ec)) {
    fs::create_directories(dir, ec);
    if (ec) {
      fmt::print(err, "quillmoor-config: cannot create {}: {}; nothing was changed\n",
                 ShownName(dir), formats::TerminalSafe(ec.message()));
      return kExitTrouble;
    }
    fmt::print(out, "Created {}\n", ShownName(dir));
  }
  const std::string config = (dir / formats::kConfigFile).string();
  const std::string guide = (dir / formats::kGuideFile).string();
  const fs::file_status existing = fs::symlink_status(config, ec);
  if (fs::exists(existing) && !force) {
    fmt::print(
        err, "quillmoor-config: {} exists{}; --force replaces it\n", ShownName(config),
        fs::is_symlink(existing) ? " (a link: --force replaces the link, not its target)" : "");
    return kExitTrouble;
  }
  const auto fail = [&](const std::string& what, const std::error_code& why, const char* left) {
    fmt::print(err, "quillmoor-config: cannot write {}: {}; {}\n", ShownName(what),
               formats::TerminalSafe(why.message()), left);
    return kExitTrouble;
  };
  const char* unchanged = "nothing was changed";
  // Both complete before either is renamed: a full disk or a size limit
  // fails here, with the old pair in place.
  if (const auto e = Quillmoor::WriteTemporary(
          config, Quillmoor::BuildDefaultDocument(Quillmoor::Config{}).dump(2))) {
    return fail(config, e, unchanged);
  }
  if (const auto e = Quillmoor::WriteTemporary(guide, Quillmoor::BuildGuideDocument().dump(2))) {
    fs::remove(Quillmoor::TemporaryOf(config), ec);
    return fail(guide, e, unchanged);
  }
  // The guide first: alone, it only explains the defaults, which it does
  // whatever the config holds.
  if (const auto e = Quillmoor::MoveTemporaryOver(guide)) {
    fs::remove(Quillmoor::TemporaryOf(config), ec);
    return fail(guide, e, unchanged);
  }
  if (const auto e = Quillmoor::MoveTemporaryOver(config)) {
    return fail(config, e, "the guide was written, PluginConfig.json is as it was");
  }
  fmt::print(out, "Wrote {} and {} into {}\n", formats::kConfigFile, formats::kGuideFile,
             ShownName(dir));
  return kExitClean;
}

namespace {

// The newest backup of `config` whose version is older than this plugin's,
// or empty: a later number is a later backup.
fs::path NewestOutdatedBackup(const fs::path& config) {
  std::vector<std::pair<unsigned, fs::path>> backups;
  std::error_code ec;
  const std::string name = Utf8Name(config.filename());
  const fs::path folder = config.parent_path().empty() ? fs::path(".") : config.parent_path();
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    // UTF-8 on every system: a name the console's code page cannot hold
    // is passed over, not an error.
    if (const auto n = Quillmoor::BackupNumber(name, Utf8Name(it->path().filename()))) {
      backups.emplace_back(*n, it->path());
    }
  }
  std::sort(backups.begin(), backups.end());
  for (auto it = backups.rbegin(); it != backups.rend(); ++it) {
    const Quillmoor::ConfigFileText file = Quillmoor::ReadConfigFile(it->second.string());
    if (file.state != State::kRead) {
      continue;
    }
    const Quillmoor::ConfigReading reading = Quillmoor::ReadConfig(file.text);
    if (reading.version && reading.version->found < Quillmoor::kConfigVersion) {
      return it->second;
    }
  }
  return {};
}

}  // namespace

int RunMigrate(const fs::path& path, bool dry_run, bool force, std::ostream& out,
               std::ostream& err) {
  const auto refuse = [&](const std::string& why) {
    fmt::print(err, "quillmoor-config: {}; nothing was changed\n", why);
    return kExitTrouble;
  };
  const Located where = Locate(path);
  const std::string target = where.file.string();
  const Quillmoor::ConfigFileText current = Quillmoor::ReadConfigFile(target);
  if (current.state != State::kRead && current.state != State::kAbsent) {
    return refuse(fmt::format("{} cannot be read: {}", ShownName(where.file),
                              formats::TerminalSafe(current.error)));
  }
  fs::path source = where.file;
  std::string source_text = current.text;
  if (current.state == State::kRead) {
    const Quillmoor::ConfigReading reading = Quillmoor::ReadConfig(current.text);
    const bool outdated = reading.version && reading.version->found < Quillmoor::kConfigVersion;
    if (!outdated) {
      if (reading.version && reading.version->found > Quillmoor::kConfigVersion) {
        return refuse(fmt::format("{} is version {}, newer than this tool's {}",
                                  ShownName(where.file), reading.version->found,
                                  Quillmoor::kConfigVersion));
      }
      if (!reading.version || reading.error) {
        return refuse(
            fmt::format("{} is not read by the plugin as it is (quillmoor-config check "
                        "shows why), so it is left alone",
                        ShownName(where.file)));
      }
      source.clear();
    }
  } else {
    source.clear();
  }
  if (source.empty()) {
    source = NewestOutdatedBackup(where.file);
    if (source.empty()) {
      fmt::print(out, "{} {}, and no outdated backup is beside it: nothing to migrate.\n",
                 ShownName(where.file),
                 current.state == State::kAbsent
                     ? std::string("does not exist")
                     : fmt::format("is already version {}", Quillmoor::kConfigVersion));
      return current.state == State::kAbsent ? kExitTrouble : kExitClean;
    }
    const Quillmoor::ConfigFileText backup = Quillmoor::ReadConfigFile(source.string());
    source_text = backup.text;
    // The file the plugin wrote in its place holds only defaults; anything
    // else is the operator's own work since.
    if (current.state == State::kRead && !force &&
        !CheckConfigText(current.text).defaults_document) {
      return refuse(
          fmt::format("{} holds settings other than the defaults; --force replaces it "
                      "with the values of {} (a copy of it is kept)",
                      ShownName(where.file), ShownName(source)));
    }
  }
  const Migration m = MigrateText(source_text);
  if (!m.error.empty()) {
    return refuse(fmt::format("{}: {}", ShownName(source), formats::TerminalSafe(m.error)));
  }
  fmt::print(out, "From {} (version {}) to version {}:\n", ShownName(source), m.old_version,
             Quillmoor::kConfigVersion);
  bool all_as_written = true;
  for (const CarriedValue& v : m.values) {
    all_as_written = all_as_written && (v.outcome == CarriedValue::Outcome::kCarried ||
                                        v.outcome == CarriedValue::Outcome::kMoved);
    std::string line = fmt::format("  {:8} {}: {}", OutcomeName(v.outcome), KeyShown(v.key_path),
                                   formats::TerminalSafe(v.written));
    if (v.outcome == CarriedValue::Outcome::kChanged) {
      line += " -> " + formats::TerminalSafe(v.result);
    }
    if (!v.why.empty()) {
      line += " (" + formats::TerminalSafe(v.why) + ")";
    }
    fmt::print(out, "{}\n", line);
  }
  fmt::print(out, "  {} setting{} not in the old file keep{} the default.\n", m.defaults_kept,
             m.defaults_kept == 1 ? "" : "s", m.defaults_kept == 1 ? "s" : "");
  const int code = all_as_written ? kExitClean : kExitWarnings;
  if (dry_run) {
    fmt::print(out, "Dry run: {} is unchanged. The new document would be:\n{}\n",
               ShownName(where.file), m.document);
    return code;
  }
  // The new text complete before anything moves; then a copy of what it
  // replaces; then the one rename. A failure at any step leaves the file.
  if (const auto e = Quillmoor::WriteTemporary(target, m.document)) {
    return refuse(fmt::format("cannot write {}: {}", ShownName(where.file),
                              formats::TerminalSafe(e.message())));
  }
  std::string kept;
  std::error_code ec;
  if (current.state == State::kRead) {
    kept = Quillmoor::FreeBackupName(target);
    // copy_file refuses a name that appeared since: no backup is replaced.
    fs::copy_file(where.file, kept, fs::copy_options::none, ec);
    if (ec) {
      fs::remove(Quillmoor::TemporaryOf(target), ec);
      return refuse(fmt::format("cannot keep {} as {}: {}", ShownName(where.file), ShownName(kept),
                                formats::TerminalSafe(ec.message())));
    }
  }
  if (const auto e = Quillmoor::MoveTemporaryOver(target)) {
    return refuse(fmt::format("cannot replace {}: {} (its copy {} stays)", ShownName(where.file),
                              formats::TerminalSafe(e.message()), ShownName(kept)));
  }
  fmt::print(
      out, "Wrote {} (version {}){}.\n", ShownName(where.file), Quillmoor::kConfigVersion,
      kept.empty() ? std::string() : fmt::format("; what it held is kept as {}", ShownName(kept)));
  return code;
}

int RunExplain(const std::string& key, std::ostream& out, std::ostream& err) {
  const Quillmoor::Config defaults;
  std::vector<std::string> names;
  bool any = false;
  Quillmoor::ForEachSetting([&](const auto& s) {
    const std::string path = s.KeyPath();
    names.push_back(path);
    names.emplace_back(s.key);
    if (!key.empty() && !EqualsIgnoringCase(key, path) && !EqualsIgnoringCase(key, s.key)) {
      return;
    }
    any = true;
    const std::string range = RangeText(s);
    fmt::print(out, "{}\n  default: {}    range: {}\n  {}\n\n", path, ValueText(s.field(defaults)),
               range, Quillmoor::InfoText(s));
  });
  if (!any) {
    const std::string near = ClosestName(key, names);
    fmt::print(err, "quillmoor-config: no setting '{}'{}\n", formats::TerminalSafe(key),
               near.empty() ? "" : fmt::format("; did you mean {}?", near));
    return kExitTrouble;
  }
  return kExitClean;
}

}  // namespace config_tool
