// Internal to the engine: DeleteTempFile that also tells whether the user
// cancelled it through the progress handler.
#pragma once

#include <string>

// DeleteTempFile; *Cancelled (when given) receives whether the progress
// handler cancelled.
bool WipeAndDelete(const std::string& FileName, bool* Cancelled);
