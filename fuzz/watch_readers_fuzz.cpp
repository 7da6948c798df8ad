// Arbitrary bytes through quillmoor-watch's two readers of untrusted text: a
// server's reply to GetServerStats and a CSV file. Nothing may crash; a
// reply yields a count that is never negative or the reader's error; every
// row read from the CSV text is written back as CsvWriter writes it and read
// again as the same row.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string_view>

#include "watch/csv.h"
#include "watch/stats_reply.h"

namespace {

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "watch_readers_fuzz: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    Check(watch::ParseObjectCount(text) >= 0, "a negative object count");
  } catch (const std::runtime_error&) {
  }
  const watch::CsvContents read = watch::ParseCsv(text);
  Check((read.skipped == 0) == read.first_skipped.empty(), "skipped lines without a reason");
  for (const auto& row : read.rows) {
    const watch::CsvContents again = watch::ParseCsv(watch::FormatCsvRow(row));
    Check(again.rows.size() == 1 && again.skipped == 0, "a row written back does not read");
    const auto& r = again.rows[0];
    Check(r.time == row.time && r.server == row.server && r.objects == row.objects &&
              r.status == row.status,
          "a row written back reads as another");
  }
  return 0;
}
