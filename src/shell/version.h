// The program's version text, shown by the banner and the configuration display.
#pragma once
inline constexpr const char* program_version = "Version 2.2";
