#pragma once

namespace korrin {

// Waits for one key press on the controlling terminal, read in non-canonical mode without echo.
// Returns at once when the process has no controlling terminal.
void WaitForKeyPress();

}  // namespace korrin
