// The few services the program needs from the host system. Each platform has
// its own implementation file; the build picks the one that fits.
#pragma once

#include <cstdint>

namespace platform {

/// Names the console window; writes nothing when standard output is not a console
/// that understands it. The user's own title comes back when the program ends.
void setTitle(const char* title);

/// From now until the key wait, keys typed at a terminal are neither echoed nor
/// kept, so that the report starts on a line of its own.
void muteKeys();

/// Prompts "Press any key to continue . . . ", waits for one key (or takes one
/// character of redirected input, or returns at its end), then ends the line.
/// Waits for nothing if the prompt could not be written.
void waitForKey();

/// The program's exit status, `status`, returned once, where it failed (status 1) in a console
/// window of its own that closes as it ends, a key has been pressed at a prompt that says so.
/// Returns at once everywhere else.
int finish(int status);

/// While `prompt` awaits an answer typed at a terminal (nullptr once it has one), a run that
/// is stopped and brought back to the foreground shows it again, on a line of its own.
void awaitAnswer(const char* prompt);

/// After input has ended at a prompt: moves to a new line if the prompt is
/// still waiting on the screen for the rest of its line.
void leavePromptLine();

/// Wall-clock milliseconds from an arbitrary origin, as a 32-bit count that wraps.
std::int32_t tickCount();

}  // namespace platform
