#include "support/open_handles.h"

#include "support/process_resources.h"

namespace support {

int CountOpenHandles() { return CountOpenDescriptors(); }

bool RunningUnderWine() { return false; }

}  // namespace support
