#include "support/host_test.h"

namespace quillmoor_test {

void OnHostStarted() {}
void OnHostStopping() {}

}  // namespace quillmoor_test
