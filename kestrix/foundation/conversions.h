#pragma once

#include <cstdint>
#include <string>

#include "platform/base/variant.h"
#include "platform/db/recordset.h"

/// Conversions of values, long texts and the server parameters.
namespace kestrix::conversions {

/// Writes a long text into the column `iFieldName` of the row being edited, in chunks of
/// 1,000,000 characters; empty content sets the empty text. On failure the column is
/// set to the empty text and the error raised on.
void SetLongDBTextField(std::string& iFieldContent, std::string& iFieldName, db::EditRow& oRS);
/// Null reads as 0; any other value as a 32-bit integer (halves to even); Overflow
/// outside the 32-bit range.
int32_t CheckLong(Variant& iVar);
/// Null reads as ""; any other value as its text.
std::string CheckString(Variant& iVar);
/// The server parameter of that name; a failure is passed on unchanged.
std::string GetQelServerParameter(std::string& i_sParamName);
/// The value formatted with the format expression (see FormatExpression).
Variant Formats(const Variant& i_vSource, const Variant& i_vFormat);

}  // namespace kestrix::conversions
