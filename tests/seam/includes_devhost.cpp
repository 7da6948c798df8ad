// Must not compile: plugin code that reaches past the seam into the devhost.
#include "devhost/host.h"
