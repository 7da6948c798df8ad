// Writing the two documents to their files in the plugin folder:
// PluginConfig.json when it is created or replaced, and the guide on every
// load. Runs inside LoadConfig, on the thread that loads the plugin.
#pragma once

#include <nlohmann/json_fwd.hpp>
#include <string>

namespace Quillmoor {

// Both writers replace the whole file through a temporary one
// (WriteWholeFile, whole_file.h): a full disk or any other failure leaves
// `path` as it was; a link at `path` is replaced, never written through. The
// folder is never created.

// Writes `document` to `path` and logs the outcome with `reason` ("not
// found", "outdated, replaced"): the success line, or the warning that it
// could not be created.
void WriteDefaultConfig(const std::string& path, const nlohmann::json& document,
                        const std::string& reason);

// Writes the guide to `folder` + "/PluginConfig.guide.json" (no trailing
// separator on `folder`), with these differences: a guide that the server
// may not write, or that is read-only even to a privileged server (no write
// permission for anyone, the Windows read-only attribute), or locked by
// another program, is left as it is;
// one that already holds the text is not touched; and one in a folder where
// no file can be created is rewritten in place, its new blocks taken before
// any old byte is overwritten, so that a full disk leaves the old guide
// whole. Anything at the name but a regular file, a link or nothing (a
// folder, a FIFO) is left alone. Every failure is silent. Throws only when
// memory runs out.
void WriteConfigGuide(const std::string& folder);

}  // namespace Quillmoor
