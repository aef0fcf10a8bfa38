// The shortest window align takes. Its coarse stage compares 161 blocks of
// 5 ms (0.805 s) from where activity begins, and the correlation needs
// activity inside the window to mean anything: a window holds at least a
// second, whatever the rate. 0 stands for no window (all of both signals).
#pragma once

// A macro, so that help texts can say it at compile time (in seconds).
#define AUDIOMEAS_MIN_WINDOW_S 1
#define AUDIOMEAS_WINDOW_TEXT_(x) #x
#define AUDIOMEAS_WINDOW_TEXT(x) AUDIOMEAS_WINDOW_TEXT_(x)
#define AUDIOMEAS_MIN_WINDOW_TEXT AUDIOMEAS_WINDOW_TEXT(AUDIOMEAS_MIN_WINDOW_S)

namespace audiomeas::host {

inline constexpr double kMinWindowSeconds = AUDIOMEAS_MIN_WINDOW_S;  // s

// 0 (no window), or at least kMinWindowSeconds; NaN is neither.
inline bool windowAccepted(double seconds) { return seconds == 0.0 || seconds >= kMinWindowSeconds; }

}  // namespace audiomeas::host
