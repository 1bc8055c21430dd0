#pragma once

#include "resources/version_block.hpp"

// The version texts of the reference build: Orrin Deck 1.20 by Fernwick Studio. Inline, so
// that GCC sees the texts' lengths where a test changes them (else -Wrestrict misfires).
inline VersionTexts orrin_deck_texts() {
    VersionTexts texts;
    texts.version = {1, 20, 0, 0};
    texts.company_name = u"Fernwick Studio";
    texts.product_name = u"Orrin Deck";
    texts.file_description = u"Orrin Deck";
    texts.legal_copyright = u"Copyright (C) Fernwick Studio";
    texts.product_version = u"1.20.0.0";
    texts.file_version = u"1.20.0.0";
    texts.original_filename = u"Orrin-Deck.exe";
    texts.internal_name = u"Orrin-Deck";
    return texts;
}
