#pragma once

// Help texts of talvik and talvik pack.
extern const char* const talvik_usage;
extern const char* const pack_usage;
