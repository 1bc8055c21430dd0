#pragma once

// Help texts of talvik and of its commands.
extern const char* const talvik_usage;
extern const char* const pack_usage;
extern const char* const list_usage;
