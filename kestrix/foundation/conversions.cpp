#include "kestrix/foundation/conversions.h"

#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/formats.h"
#include "platform/base/strings.h"

namespace kestrix {

namespace {
constexpr size_t kChunkCharacters = 1'000'000;
}  // namespace

void conversions::SetLongDBTextField(std::string& iFieldContent, std::string& iFieldName,
                                 db::EditRow& oRS) {
    try {
        if (iFieldContent.empty()) {
            oRS.Set(iFieldName, std::string());
            return;
        }
        bool first = true;
        for (size_t pos = 0; pos < iFieldContent.size();) {
            size_t n = Utf8Bytes(iFieldContent, pos, kChunkCharacters);
            std::string_view chunk(iFieldContent.data() + pos, n);
            if (first) oRS.Set(iFieldName, std::string(chunk));
            else oRS.AppendChunk(iFieldName, chunk);
            first = false;
            pos += n;
        }
    } catch (...) {
        try {
            oRS.Set(iFieldName, std::string());
        } catch (...) {
        }
        Reraise("Kestrix.Utility.SetLongDBTextField");
    }
}

int32_t conversions::CheckLong(Variant& iVar) {
    try {
        if (iVar.IsNull()) return 0;
        return iVar.ToLong();
    } catch (...) {
        Reraise("Kestrix.Utility.CheckLong");
    }
}

std::string conversions::CheckString(Variant& iVar) {
    try {
        if (iVar.IsNull()) return {};
        return iVar.ToString();
    } catch (...) {
        Reraise("Kestrix.Utility.CheckString");
    }
}

std::string conversions::GetQelServerParameter(std::string& i_sParamName) {
    return GetParameter(i_sParamName);
}

Variant conversions::Formats(const Variant& i_vSource, const Variant& i_vFormat) {
    try {
        return FormatExpression(i_vSource, i_vFormat.IsNull() ? std::string() : i_vFormat.ToString());
    } catch (...) {
        Reraise("Kestrix.Utility.Formats");
    }
}

}  // namespace kestrix
