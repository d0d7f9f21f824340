#include "kestrix/documents/label_replacements.h"

#include "kestrix/documents/publication_errors.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/i18n.h"
#include "platform/base/strings.h"

namespace kestrix {

Dictionary LabelReplacements::GetAllReplacementsFromTableForASP(const std::string& i_sTable,
                                                                int32_t i_lErrorID) {
    try {
        Dictionary entries;
        ReadReplacements(entries, i_sTable, i_lErrorID);
        return entries;
    } catch (...) {
        Dictionary info;
        info.Add("[%TABLE%]", i_sTable);
        info.Add("[%ERRORID%]", std::to_string(i_lErrorID));
        Reraise("Kestrix.LabelReplacements.GetAllReplacementsFromTableForASP",
                LabelOrCode("SLBSH4350", 0, info));
    }
}

std::string LabelReplacements::I18NCollByReplacementsForASP(const std::string& i_sKey,
                                                            int32_t i_lLanguageID,
                                                            const Dictionary& i_oReplDict) {
    try {
        return TranslateLabel(i_sKey, i_lLanguageID, i_oReplDict);
    } catch (...) {
        // "[%LABELKEY%]" begins like a label placeholder, so it is filled here directly:
        // through the dictionary it would be taken for a label code and lost.
        Dictionary info;
        info.Add("[%LANGUAGEID%]", std::to_string(i_lLanguageID));
        std::string text = ReplaceAll(LabelOrCode("SLBSH4351", 0, info), "[%LABELKEY%]", i_sKey);
        Reraise("Kestrix.LabelReplacements.I18NCollByReplacementsForASP", text);
    }
}

}  // namespace kestrix
