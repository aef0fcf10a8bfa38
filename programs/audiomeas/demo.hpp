// `audiomeas demo`: the three measurements on built-in signals, each beside
// its known truth.
#pragma once

#include <string>

namespace audiomeas::cli {

// Prints the results (text, or one JSON object when json is set) and, when
// signalsDir is not empty, saves the signals there as 16-bit WAV files with
// a batch manifest, replacing none that exists unless force. Returns kExitOk when every result agrees with
// its truth, kExitFlagged otherwise.
int runDemo(bool json, const std::string& signalsDir, bool force = false);

}  // namespace audiomeas::cli
