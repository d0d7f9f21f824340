#pragma once

#include <cstdint>
#include <string>

#include "platform/base/dictionary.h"
#include "platform/base/object.h"

namespace kestrix {

/// "Kestrix.LabelReplacements": lets the web pages rebuild a stored error message in the
/// reader's language from its label and the replacements stored with it.
class LabelReplacements : public Object {
public:
    /// The replacements stored with error `i_lErrorID` of table `i_sTable` (name -> text).
    Dictionary GetAllReplacementsFromTableForASP(const std::string& i_sTable, int32_t i_lErrorID);
    /// The label `i_sKey` in language `i_lLanguageID` with the replacements filled in.
    std::string I18NCollByReplacementsForASP(const std::string& i_sKey, int32_t i_lLanguageID,
                                             const Dictionary& i_oReplDict);
};

}  // namespace kestrix
