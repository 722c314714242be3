// The entry of the window library, looked up by name by the program.
#pragma once

inline constexpr const char* windowLibraryName = "libcorvane-window.so";
inline constexpr const char* windowEntryName = "corvane_window_main";

extern "C" int corvane_window_main(int argc, char* argv[]) noexcept;
