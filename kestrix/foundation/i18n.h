#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/base/dictionary.h"

namespace kestrix {

/// The text of a label code in language 1033.
std::string TranslateLabel(std::string_view code);
/// The text of a label code in a language (0 = the default language 1033).
std::string TranslateLabel(std::string_view code, int32_t language);
/// The text of a label code in a language with its placeholders filled, in the dictionary's
/// order: a key beginning with "[%LABEL" holds "[%" code "%]" of another label, whose text
/// (same language) replaces the first occurrence of the key, ignoring case; every other key
/// is replaced wherever it occurs, exactly. A code without a row in that language gives
/// "<font color='red'>Error " code "</font>", unfilled.
std::string TranslateLabel(std::string_view code, int32_t language, const Dictionary& replacements);

/// As TranslateLabel, for catch blocks and clean-up paths, where a label that cannot be read
/// (the database that just failed, a lost connection) must not replace the error being
/// handled: on any failure the text is the code itself. Only running out of memory raises.
std::string LabelOrCode(std::string_view code, int32_t language,
                        const Dictionary& replacements = Dictionary());

/// Fills placeholders as TranslateLabel does, in a text already translated.
std::string ApplyReplacements(std::string text, int32_t language, const Dictionary& replacements);

}  // namespace kestrix
