// Where this build tree put the plugin library, and where the hand-written
// golden files are. The build writes them into a source of its own rather
// than into compile definitions, so that no test's object depends on where
// the checkout lies and clones on one machine share the compiler cache.
#pragma once

namespace quillmoor_test {

extern const char* const kPluginPath;
extern const char* const kGoldenDir;

}  // namespace quillmoor_test

#define QUILLMOOR_PLUGIN_PATH (::quillmoor_test::kPluginPath)
#define QUILLMOOR_GOLDEN_DIR (::quillmoor_test::kGoldenDir)
